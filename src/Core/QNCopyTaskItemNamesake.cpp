// QNCopyTaskItem: what the destination holds of the document's name, looked
// at before the drive's own copy or move and before a namesake is replaced.
#include "Core/QNAliasCheck.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNLocalNamesake.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

namespace {

QString nameOf(const QNDocumentPtr &document) {
    return document->path().isEmpty() ? document->displayName()
                                      : QNUtils::withoutTrailingSlashes(document->path()).section(QLatin1Char('/'), -1);
}

// Where an item of the document's name lies in the folder, as the drive names it.
QString pathIn(const QNDocumentPtr &folder, const QString &name) {
    QString path = QNUtils::withoutTrailingSlashes(folder->path());
    if (path.isEmpty())
        return folder->displayName().isEmpty() ? name : folder->displayName() + QLatin1Char('/') + name;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}

// "The folder “proj” was not copied and nothing was written or removed: ",
// or, where folders the copy made could not be removed again, "… and no file
// was written or removed: ".
QString refusedHead(const QNDocumentPtr &document, const QString &notDone, bool nothingLeft = true) {
    return QStringLiteral("%1\u201c%2\u201d %3 and %4 was written or removed: ")
        .arg(document->isDirectory() ? QStringLiteral("The folder ") : QStringLiteral("The file "), nameOf(document),
             notDone, nothingLeft ? QStringLiteral("nothing") : QStringLiteral("no file"));
}

// A refusal of a tree's copy: its head, told once the folders the copy made
// have gone again (or not), then why.
std::function<QString(bool nothingLeft)> treeRefusal(const QNDocumentPtr &top, const QString &notDone,
                                                     const QString &why) {
    return [top, notDone, why](bool nothingLeft) { return (refusedHead(top, notDone, nothingLeft) + why).trimmed(); };
}

QString itselfText(const QNDocumentPtr &document, const QString &there, const QString &notDone,
                   bool nothingLeft = true) {
    return refusedHead(document, notDone, nothingLeft) +
           QStringLiteral("\u201c%1\u201d is that %2 itself, reached by another path.")
               .arg(there, document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"));
}

// Why an item was not copied when it could not be told whether its
// namesake is the item itself; and adds to it.
QString untoldText(const QNDocumentPtr &document, const QString &there, const QString &notDone,
                   const QString &addition) {
    return refusedHead(document, notDone) +
           QStringLiteral("it could not be told whether \u201c%1\u201d is that %2 itself, reached by another path%3.")
               .arg(there, document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"), addition);
}

// A reason as a sentence of its own: a one-line text gets its full stop.
QString sentence(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('\n')) || trimmed.endsWith(QLatin1Char('.')) ||
        trimmed.endsWith(QLatin1Char('!')) || trimmed.endsWith(QLatin1Char('?')))
        return trimmed;
    return trimmed + QLatin1Char('.');
}

QString unlistedText(const QNDocumentPtr &document, const QNDocumentPtr &folder, const VNErrorPtr &error) {
    const QString path = QNUtils::withoutTrailingSlashes(folder->path());
    return QStringLiteral("%1“%2” was not copied and nothing was written or removed: “%3” could not be listed "
                          "(%4).")
        .arg(document->isDirectory() ? QStringLiteral("The folder ") : QStringLiteral("The file "), nameOf(document),
             path.isEmpty() ? (folder->displayName().isEmpty() ? QStringLiteral("/") : folder->displayName()) : path,
             QNErrorWrapper(error).localizedDescription());
}

}  // namespace

bool QNCopyTaskItem::arrivesAtItsOwnName(const QNDriveConfigPtr &fromDrive, const QNDocumentPtr &document,
                                         const QNDriveConfigPtr &toDrive, const QNDocumentPtr &destination) {
    if (!fromDrive || !toDrive || !document || !destination || document->path().isNull() ||
        destination->path().isNull())
        return false;
    const QString source = QNUtils::withoutTrailingSlashes(document->path());
    const QString target = pathIn(destination, nameOf(document));
    if (fromDrive->isMyFiles() && toDrive->isMyFiles())
        return source == target || QNLocalNamesake::of(source, target) == QNLocalNamesake::Kind::OwnEntry;
    return fromDrive->driveConfigId() == toDrive->driveConfigId() && source == target;
}

bool QNCopyTaskItem::failsOntoItselfByAnotherPath(const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                                                  const QNTaskItemCompletedBlock &completed) {
    // Another name of the same file (a hard link) is the file in place, not
    // the file itself reached by another path.
    if (!arrivesAtItsOwnName(m_fromDriveConfig, document, m_toDriveConfig, toDocument))
        return false;
    const QString there = pathIn(toDocument, nameOf(document));
    const bool bothLocal = m_fromDriveConfig->isMyFiles() && m_toDriveConfig->isMyFiles();
    if ((sameDrive() || bothLocal) && QNUtils::withoutTrailingSlashes(document->path()) == there)
        return false;  // dropped on the folder holding it: nothing to do
    const VNErrorPtr error = makeError(itselfText(document, there, notCopied()));
    logFailure(QStringLiteral("copyDocument error2"), error);
    failCopy(completed, error);
    return true;
}

QString QNCopyTaskItem::namesakeInTheWay(const QString &name, bool isFolder, const QNDocumentPtr &existing,
                                         const QNDocumentPtr &destination) const {
    // Named as the replace question names it: the drive's top folder by the
    // kind of drive.
    QString where = destination ? QNUtils::nameOf(*destination) : QString();
    if (where.isEmpty() && m_toDriveConfig)
        where = m_toDriveConfig->serviceName();
    if (where.isEmpty())
        where = QStringLiteral("/");
    const QString kind = existing->isLink()        ? QStringLiteral("a link")
                         : existing->isDirectory() ? QStringLiteral("a folder")
                                                   : QStringLiteral("a file");
    return QStringLiteral("%1\u201c%2\u201d was not copied: \u201c%3\u201d holds %4 of that name, which %5 does not "
                          "replace.")
        .arg(isFolder ? QStringLiteral("The folder ") : QStringLiteral("The file "), name, where, kind,
             isFolder ? QStringLiteral("a folder") : QStringLiteral("a file"));
}

bool QNCopyTaskItem::checkDestinationFirst(const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                                           VNOperationQueue *fromQueue, VNOperationQueue *toQueue,
                                           VNOperationQueue *metadataQueue, const QNTaskItemCompletedBlock &completed,
                                           const QNTaskItemUpdateBlock &update, const QNTaskPtr &task,
                                           const QNTaskItemPtr &primary) {
    if (m_destinationChecked.load())
        return false;
    const bool dropped = primary.get() == this;
    // A folder inside a tree is always made and listed (see copyDocument).
    const bool driveWay = sameDrive() && (dropped || !document->isDirectory()) &&
                          ((m_fromDriveConfig->supportsLocalCopy(document) &&
                            m_toDriveConfig->supportsLocalCopy(toDocument)) ||
                           (m_fromDriveConfig->supportsLocalMove(document) &&
                            m_toDriveConfig->supportsLocalMove(toDocument)));
    // On the local disk the start has already compared the items themselves.
    const bool bothLocal = m_fromDriveConfig->isMyFiles() && m_toDriveConfig->isMyFiles();
    const bool mayBeItself = dropped && !bothLocal && QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig);
    if (!driveWay && !mayBeItself)
        return false;
    m_destinationChecked.store(true);

    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = task;
    std::weak_ptr<QNTaskItem> weakPrimary = primary;
    QNDestinationListingBlock decide = [=](std::shared_ptr<const QNDocumentList> listing, VNErrorPtr error,
                                           bool cancelled) {
        if (cancelled) {
            self->endCancelled(completed, nullptr);
            return;
        }
        auto task = weakTask.lock();
        auto primary = weakPrimary.lock();
        if (!task || !primary)
            return;
        // Unlisted, neither the drive's own copy (which may put the item
        // inside a folder of its name) nor a namesake that may be the item
        // itself can be ruled out: nothing goes ahead blind.
        if (error) {
            const VNErrorPtr failure = self->makeError(unlistedText(document, toDocument, error));
            self->logFailure(QStringLiteral("copyDocument error2"), failure);
            self->failCopy(completed, failure);
            return;
        }
        auto namesake = listing ? namesakeIn(*listing, nameOf(document)) : nullptr;
        if (!namesake) {
            self->copyDocument(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task,
                               primary);
            return;
        }
        VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: %1 exists; replacing it by a transfer")
                       .arg(nameOf(document)));
        auto replace = [=] {
            auto task = weakTask.lock();
            auto primary = weakPrimary.lock();
            if (task && primary)
                self->copyByTransfer(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task,
                                     primary);
        };
        // A namesake of another kind is named by the way itself.
        const bool sameKind = namesake->isDirectory() == document->isDirectory() &&
                              !(namesake->isDirectory() && namesake->isLink());
        if (sameKind && mayBeItself)
            self->unlessItself(document, namesake, true, metadataQueue, completed, replace);
        else
            replace();
    };
    if (auto known = destinationListing()) {
        decide(known, nullptr, false);
        return true;
    }
    if (!task) {
        listDestination(toDocument, metadataQueue, decide);
        return true;
    }
    const QString key = QNTask::folderKey(m_toDriveConfig->driveConfigId(), toDocument);
    if (task->destinationListings().await(key, decide))
        listDestination(toDocument, metadataQueue,
                        [weakTask, key](std::shared_ptr<const QNDocumentList> listing, VNErrorPtr error, bool cancelled) {
                            if (auto owner = weakTask.lock())
                                owner->destinationListings().finish(key, listing, error, cancelled);
                        });
    return true;
}

void QNCopyTaskItem::unlessItself(const QNDocumentPtr &document, const QNDocumentPtr &namesake, bool dropped,
                                  VNOperationQueue *metadataQueue, const QNTaskItemCompletedBlock &completed,
                                  std::function<void()> next) {
    // The dropped item; the folders merged below it are asked of the whole
    // tree once it is listed (treeListed()).
    if (!dropped || m_namesakeChecked.load() || !QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig)) {
        next();
        return;
    }
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    const QString there = namesake->path().isEmpty() ? nameOf(namesake)
                                                     : QNUtils::withoutTrailingSlashes(namesake->path());
    auto check = std::make_shared<QNAliasCheck>(m_fromDriveConfig, document, m_toDriveConfig, namesake);
    {
        std::lock_guard lock(m_blockMutex);
        m_aliasCheck = check;
    }
    startCheck(check, metadataQueue, [self, document, there, completed, next](const QNAliasCheck::Outcome &outcome) {
        self->aliasCheckEnded(outcome, document, there, completed, next);
    });
}

void QNCopyTaskItem::startCheck(const std::shared_ptr<QNAliasCheck> &check, VNOperationQueue *metadataQueue,
                                QNAliasCheck::Finished finished, std::function<void()> standing) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    check->start([self, metadataQueue](const std::shared_ptr<VNOperation> &operation) {
                     self->addOperation(metadataQueue, operation);
                 },
                 std::move(finished),
                 [self]() -> std::shared_ptr<void> {
                     auto task = self->task();
                     return task ? task->holdLifeCycle() : nullptr;
                 },
                 std::move(standing));
    if (auto owner = task(); owner && owner->canceled())
        check->taskWasCancelled();  // cancelled as it started
}

void QNCopyTaskItem::aliasCheckEnded(const QNAliasCheck::Outcome &outcome, const QNDocumentPtr &document,
                                     const QString &there, const QNTaskItemCompletedBlock &completed,
                                     const std::function<void()> &next) {
    {
        std::lock_guard lock(m_blockMutex);
        m_aliasCheck = nullptr;
    }
    using Answer = QNAliasCheck::Answer;
    QString message;
    if (outcome.cancelled) {
        // A check folder the cancel left behind is named: the user must
        // know to remove it.
        if (outcome.leftOver.isEmpty()) {
            endCancelled(completed, nullptr);
            return;
        }
        message = outcome.leftOver;
    } else if (outcome.answer == Answer::Same) {
        message = itselfText(document, there, notCopied());
    } else if (outcome.answer == Answer::Unknown) {
        message = untoldText(document, there, notCopied(), QString()) + QLatin1Char(' ') + sentence(outcome.why);
    } else if (outcome.answer == Answer::NotMade) {
        message = unmadeCheckRefusal(document, there);
        if (!message.isEmpty())
            message += QLatin1Char(' ') + sentence(outcome.why);
        if (message.isEmpty() && outcome.leftOver.isEmpty()) {
            // Safe whatever the namesake is: every file goes up under a
            // temporary name and takes its own only when whole; a move's
            // last look before it removes its source sees a copy that is
            // the source itself.
            VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: %1; copying into \u201c%2\u201d all the same")
                           .arg(outcome.why, there));
            m_uploadsUnderTemporaryName.store(true);
            m_namesakeChecked.store(true);
            next();
            return;
        }
        if (message.isEmpty())
            message = sentence(outcome.why);
    } else if (outcome.leftOver.isEmpty()) {
        m_namesakeChecked.store(true);
        next();
        return;
    }
    if (!outcome.cancelled && !outcome.leftOver.isEmpty())
        message = message.isEmpty() ? outcome.leftOver : message + QLatin1Char(' ') + outcome.leftOver;
    const VNErrorPtr failure = makeError(message);
    logFailure(QStringLiteral("copyDocument error2"), failure);
    failCopy(completed, failure);
}

QString QNCopyTaskItem::unmadeCheckRefusal(const QNDocumentPtr &document, const QString &there) const {
    // Elsewhere an upload writes straight onto the name.
    if (!m_toDriveConfig->supportsUploadUnderTemporaryName())
        return untoldText(document, there, notCopied(),
                          QStringLiteral(", and an upload to this server writes straight onto the name, so one cut "
                                         "short would cut that %1 short")
                              .arg(document->isDirectory() ? QStringLiteral("folder's files")
                                                           : QStringLiteral("file")));
    return {};
}

void QNCopyTaskItem::taskWasCancelled() {
    std::shared_ptr<QNAliasCheck> check, dropTargetCheck;
    std::shared_ptr<QNCopiedTree> tree;
    {
        std::lock_guard lock(m_blockMutex);
        check = m_aliasCheck;
        dropTargetCheck = m_dropTargetCheck;
        tree = m_tree;
    }
    if (check)
        check->taskWasCancelled();
    if (dropTargetCheck)
        dropTargetCheck->taskWasCancelled();
    // The files of the tree that wait for its checks will not go.
    if (tree)
        tree->checksAnswered(false);
}

void QNCopyTaskItem::startTree() {
    std::weak_ptr<QNCopyTaskItem> weakSelf = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto tree = std::make_shared<QNCopiedTree>([weakSelf] {
        if (auto self = weakSelf.lock())
            self->treeListed();
    });
    std::lock_guard lock(m_blockMutex);
    if (m_tree)
        return;  // the folder way taken again (after the drive refused its own copy)
    m_tree = tree;
    m_openFolderToken = tree->openFolder();
}

std::shared_ptr<QNCopiedTree> QNCopyTaskItem::copiedTree() const {
    std::lock_guard lock(m_blockMutex);
    return m_tree;
}

bool QNCopyTaskItem::uploadsUnderTemporaryName() const {
    if (m_uploadsUnderTemporaryName.load())
        return true;
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    return top && top.get() != this && top->m_uploadsUnderTemporaryName.load();
}

void QNCopyTaskItem::treeListed() {
    auto owner = task();
    auto tree = copiedTree();
    if (!owner || !tree || owner->canceled() || tree->isRefused())
        return;
    std::shared_ptr<QNAliasCheck> dropTargetCheck;
    {
        std::lock_guard lock(m_blockMutex);
        dropTargetCheck = m_dropTargetCheck;
    }
    // Not seen in any listing of the tree: the drop target's check folder
    // must show in its own, then it goes (dropTargetCheckEnded() goes on).
    if (dropTargetCheck)
        dropTargetCheck->lookedFor(false);
    else
        checkMergedFolders();
}

void QNCopyTaskItem::checkMergedFolders() {
    auto owner = task();
    auto tree = copiedTree();
    if (!owner || !tree || owner->canceled())
        return;
    if (hasConcluded()) {
        tree->checksAnswered(false);
        return;
    }
    const QList<QNCopiedTree::Merge> merges = tree->merges();
    const QList<QNDocumentPtr> folders = tree->sourceFolders();
    // The dropped folder alone was looked at before anything was written
    // into it; below it, a merged folder may be any folder of the tree.
    if (merges.isEmpty() || folders.size() < 2 || !QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig)) {
        tree->checksAnswered(true);
        return;
    }
    QList<QNDocumentPtr> namesakes;
    for (const auto &merge : merges)
        namesakes << merge.namesake;
    // Until it answers, the tree is not whole: the copy ends no sooner.
    ++m_unfinishedSubTaskItems;
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto check = std::make_shared<QNAliasCheck>(m_fromDriveConfig, folders, m_toDriveConfig, namesakes);
    {
        std::lock_guard lock(m_blockMutex);
        m_aliasCheck = check;
    }
    startCheck(check, owner->metadataQueue(), [self, merges, folders](const QNAliasCheck::Outcome &outcome) {
        self->treeCheckEnded(outcome, merges, folders);
    });
}

void QNCopyTaskItem::treeCheckEnded(const QNAliasCheck::Outcome &outcome, const QList<QNCopiedTree::Merge> &merges,
                                    const QList<QNDocumentPtr> &folders) {
    {
        std::lock_guard lock(m_blockMutex);
        m_aliasCheck = nullptr;
    }
    using Answer = QNAliasCheck::Answer;
    const auto top = fromDocument();
    const QString notDone = notCopied();
    // The refusal's text, told whether every folder the copy made went again.
    std::function<QString(bool nothingLeft)> refusal;
    if (outcome.cancelled) {
        // The task's queues run nothing more: a check folder left is said.
    } else if (outcome.answer == Answer::Same && outcome.namesake >= 0 && outcome.namesake < merges.size() &&
               outcome.source >= 0 && outcome.source < folders.size()) {
        const auto merge = merges.at(outcome.namesake);
        const QString shown = QNUtils::withoutTrailingSlashes(folders.at(outcome.source)->path());
        const QString there = QNUtils::withoutTrailingSlashes(merge.namesake->path());
        if (shown == QNUtils::withoutTrailingSlashes(merge.folder->path()))
            refusal = [merge, there, notDone](bool nothingLeft) {
                return itselfText(merge.folder, there, notDone, nothingLeft);
            };
        else
            refusal = treeRefusal(top, notDone,
                                  QStringLiteral("\u201c%1\u201d at the destination, into which \u201c%2\u201d would "
                                                 "be written, is its own folder \u201c%3\u201d, reached by another "
                                                 "path.")
                                      .arg(there, nameOf(merge.folder), shown));
    } else if (outcome.answer == Answer::Unknown || outcome.answer == Answer::Same ||
               (outcome.answer == Answer::NotMade && !m_toDriveConfig->supportsUploadUnderTemporaryName())) {
        const QString because = outcome.answer == Answer::NotMade
                                    ? QStringLiteral(", and an upload to this server writes straight onto the name")
                                    : QString();
        refusal = treeRefusal(top, notDone,
                              QStringLiteral("it could not be told whether the folders it is written into are folders "
                                             "of it, reached by another path%1. %2")
                                  .arg(because, sentence(outcome.why)));
    } else if (outcome.answer == Answer::NotMade) {
        // As for the dropped folder: every file goes up under a temporary
        // name, and takes its own only when whole.
        VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: %1; copying all the same").arg(outcome.why));
        m_uploadsUnderTemporaryName.store(true);
    }
    if (refusesTree(outcome, refusal))
        return;
    if (auto tree = copiedTree(); tree && !outcome.cancelled)
        tree->checksAnswered(!hasConcluded());
    treeCheckAnswered(outcome);
}

void QNCopyTaskItem::dropTargetCheckEnded(const QNAliasCheck::Outcome &outcome,
                                          const QNTaskItemCompletedBlock &completed,
                                          const std::function<void()> &next) {
    QNDocumentPtr target, seenIn;
    {
        std::lock_guard lock(m_blockMutex);
        m_dropTargetCheck = nullptr;
        target = m_dropTarget;
        seenIn = m_dropTargetSeenIn;
    }
    using Answer = QNAliasCheck::Answer;
    if (!m_dropTargetStood.load()) {
        // It never stood, and nothing was made: where it could not be made
        // (an account that makes no folders will not make the copy's
        // either), the copy goes on.
        if (!outcome.leftOver.isEmpty()) {
            const VNErrorPtr failure = makeError(outcome.leftOver);
            logFailure(QStringLiteral("copyDocument error2"), failure);
            failCopy(completed, failure);
        } else if (outcome.cancelled) {
            endCancelled(completed, nullptr);
        } else {
            if (outcome.answer == Answer::NotMade)
                VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: %1; copying all the same").arg(outcome.why));
            next();
        }
        return;
    }
    const auto top = fromDocument();
    const QString notDone = notCopied();
    const QString there = target ? QNUtils::shownFolderPath(*target) : QString();
    std::function<QString(bool nothingLeft)> refusal;
    if (outcome.cancelled) {
        // The task's queues run nothing more: a check folder left is said.
    } else if (outcome.answer == Answer::Same) {
        const bool itself = !seenIn || QNUtils::shownFolderPath(*seenIn) == QNUtils::shownFolderPath(*top);
        refusal = treeRefusal(top, notDone,
                              QStringLiteral("\u201c%1\u201d is %2, reached by another path.")
                                  .arg(there, itself ? QStringLiteral("that folder itself")
                                                     : QStringLiteral("a folder of it")));
    } else if (outcome.answer == Answer::Unknown) {
        refusal = treeRefusal(top, notDone,
                              QStringLiteral("it could not be told whether \u201c%1\u201d, the folder it was dropped "
                                             "onto, is a folder of it, reached by another path. %2")
                                  .arg(there, sentence(outcome.why)));
    }
    if (refusesTree(outcome, refusal))
        return;
    // Told apart: the folders merged below the dropped one are asked next,
    // before the tree's files may go.
    if (!outcome.cancelled)
        checkMergedFolders();
    treeCheckAnswered(outcome);
}
