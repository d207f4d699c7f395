// QNCopyTaskItem: what the destination holds of the document's name, looked
// at before the drive's own copy or move and before a namesake is replaced.
#include "Core/QNAliasCheck.h"
#include "Core/QNAliasCheckOperation.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNLocalNamesake.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

namespace {

// The folder holding a document, by its path (null for a document known
// by its id alone).
QNDocumentPtr folderOf(const QNDocumentPtr &document) {
    const QString path = QNUtils::withoutTrailingSlashes(document->path());
    if (path.isEmpty())
        return nullptr;
    const QString parent = path.section(QLatin1Char('/'), 0, -2);
    return QNDocument::withPath(parent.isEmpty() ? QStringLiteral("/") : parent, true);
}

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

QString itselfText(const QNDocumentPtr &document, const QString &there, const QString &notDone,
                   bool nothingLeft = true) {
    return QNCopyTaskItem::refusalHead(document, notDone, nothingLeft) +
           QStringLiteral("\u201c%1\u201d is that %2 itself, reached by another path.")
               .arg(there, document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"));
}

// Why an item was not copied when it could not be told whether its
// namesake is the item itself; and adds to it.
QString untoldText(const QNDocumentPtr &document, const QString &there, const QString &notDone,
                   const QString &addition) {
    return QNCopyTaskItem::refusalHead(document, notDone) +
           QStringLiteral("it could not be told whether \u201c%1\u201d is that %2 itself, reached by another path%3.")
               .arg(there, document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"), addition);
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
    // Two local folders too: a folder of this machine mounted again (FUSE,
    // a network share) is not told by the numbers the start compared.
    const bool mayBeItself = dropped && QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig);
    if (!driveWay && !mayBeItself)
        return false;
    m_destinationChecked.store(true);

    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = task;
    std::weak_ptr<QNTaskItem> weakPrimary = primary;
    QNDestinationListingBlock decide = [=](std::shared_ptr<const QNListing> listing, VNErrorPtr error,
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
        if (listing)
            self->setDestinationListing(listing);
        auto namesake = listing ? listing->namesake(nameOf(document)) : nullptr;
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
                        [weakTask, key](std::shared_ptr<const QNListing> listing, VNErrorPtr error, bool cancelled) {
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
    // Asked of the folders holding the two (a folder's own folder for a
    // folder): the files of one pair of folders share one check, and a
    // move's removal finds its answer. Two items of one web service are
    // told by their ids.
    QNAliasCheck::Side here{m_fromDriveConfig, {}}, elsewhere{m_toDriveConfig, {}};
    const bool byIds = !QNAliasCheck::reachesFilesByPath(*m_fromDriveConfig) && !document->id().isEmpty() &&
                       !namesake->id().isEmpty();
    if (byIds || document->isDirectory()) {
        here.folders << document;
        elsewhere.folders << namesake;
    } else {
        here.folders << folderOf(document);
        elsewhere.folders << m_toDocument;
    }
    askAliasCheck(std::make_shared<QNAliasCheck>(here, elsewhere), metadataQueue,
                  [self, document, there, completed, next](const QNAliasCheck::Outcome &outcome) {
                      self->aliasCheckEnded(outcome, document, there, completed, next);
                  });
}

void QNCopyTaskItem::askAliasCheck(const std::shared_ptr<QNAliasCheck> &check, VNOperationQueue *queue,
                                   QNAliasCheck::Finished finished) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    // What a check left behind is said once, in the end report, by the item
    // whose check it was.
    QNAliasCheck::Finished noted = [self, finished](const QNAliasCheck::Outcome &outcome) {
        if (!outcome.leftOver.isEmpty())
            self->topItem()->addNote(outcome.leftOver.join(QLatin1Char(' ')), 0);
        finished(outcome);
    };
    auto run = [self, queue](const std::shared_ptr<QNAliasCheck> &check, QNAliasCheck::Finished answered) {
        self->addOperation(queue, std::make_shared<QNAliasCheckOperation>(check, std::move(answered)));
    };
    if (auto owner = task())
        owner->askAliasCheck(check, run, std::move(noted));
    else
        run(check, std::move(noted));
}

void QNCopyTaskItem::aliasCheckEnded(const QNAliasCheck::Outcome &outcome, const QNDocumentPtr &document,
                                     const QString &there, const QNTaskItemCompletedBlock &completed,
                                     const std::function<void()> &next) {
    using Answer = QNAliasCheck::Answer;
    if (outcome.cancelled) {
        endCancelled(completed, nullptr);
        return;
    }
    if (outcome.answer == Answer::OneStorage) {
        const VNErrorPtr failure = makeError(itselfText(document, there, notCopied()));
        logFailure(QStringLiteral("copyDocument error2"), failure);
        failCopy(completed, failure);
        return;
    }
    if (outcome.answer == Answer::CannotTell) {
        const QString refusal = cannotTellRefusal(document, there);
        if (!refusal.isEmpty()) {
            const VNErrorPtr failure = makeError((refusal + QLatin1Char(' ') + outcome.why).trimmed());
            logFailure(QStringLiteral("copyDocument error2"), failure);
            failCopy(completed, failure);
            return;
        }
        // A copy removes nothing: it goes on, every file of it up under a
        // temporary name that it takes only when whole. A move keeps its
        // source: its removal asks the same question and hears this answer.
        VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: it cannot be told whether \u201c%1\u201d is \u201c%2\u201d "
                                  "itself (%3); copying all the same")
                       .arg(nameOf(document), there, outcome.why));
        m_uploadsUnderTemporaryName.store(true);
    } else {
        m_provenApart.store(true);
    }
    m_namesakeChecked.store(true);
    next();
}

QString QNCopyTaskItem::cannotTellRefusal(const QNDocumentPtr &document, const QString &there) const {
    // Where every upload goes whole or not at all, nothing is lost; elsewhere
    // an upload writes straight onto the name, and one cut short would cut
    // short the very item it may be.
    if (m_toDriveConfig->supportsUploadUnderTemporaryName() || m_toDriveConfig->isMyFiles())
        return {};
    return untoldText(document, there, notCopied(),
                      QStringLiteral(", and an upload to this server writes straight onto the name, so one cut "
                                     "short would cut that %1 short")
                          .arg(document->isDirectory() ? QStringLiteral("folder's files") : QStringLiteral("file")));
}

bool QNCopyTaskItem::mayWriteOntoName(const QNDocumentPtr &document) const {
    // What stands under the name at the destination is not the file being
    // copied: the drives are apart by their kinds, the folder was made by
    // this copy, the two folders were shown apart, or nothing stood there.
    if (!QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig) || m_intoMadeFolder.load() ||
        m_provenApart.load())
        return true;
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    if (top && top.get() != this) {
        auto tree = top->copiedTree();
        if (tree && tree->aliasAnswer() && tree->aliasAnswer()->answer == QNAliasCheck::Answer::Apart)
            return true;
    }
    auto listing = destinationListing();
    return listing && document && !listing->namesake(nameOf(document));
}

