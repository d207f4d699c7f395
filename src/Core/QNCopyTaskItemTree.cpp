// QNCopyTaskItem: what a folder's copy asks of its tree before any file of
// it goes. The folder it is dropped onto may be a folder of that very tree
// reached by another path (a server's share mounted in the home folder):
// the copy would copy itself again, level after level. A folder merged
// below the top may be any folder of the tree. A move asks, once the tree
// is listed, whether every folder its copy lands in is apart from every
// folder of the tree: its removal takes that answer. A tree whose copy is
// refused stops being made and listed, and the folders it made go again.
#include "Core/QNAliasCheckOperation.h"
#include "Core/QNCleanUpOperation.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMadeFoldersRemoval.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperation.h"

namespace {

QString nameOf(const QNDocumentPtr &document) {
    return QNUtils::nameOf(*document);
}

// A refusal of a tree's copy: its head, told once the folders the copy made
// have gone again (or not), then why.
std::function<QString(bool nothingLeft)> treeRefusal(const QNDocumentPtr &top, const QString &notDone,
                                                     const QString &why) {
    return [top, notDone, why](bool nothingLeft) {
        return (QNCopyTaskItem::refusalHead(top, notDone, nothingLeft) + why).trimmed();
    };
}

}  // namespace

void QNCopyTaskItem::taskWasCancelled() {
    std::shared_ptr<QNAliasCheck> dropTargetCheck;
    std::shared_ptr<QNCopiedTree> tree;
    {
        std::lock_guard lock(m_blockMutex);
        dropTargetCheck = m_dropTargetCheck;
        tree = m_tree;
    }
    // The other checks are operations of the task's queues: the cancel
    // reaches them there.
    if (dropTargetCheck)
        dropTargetCheck->cancel();
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

bool QNCopyTaskItem::checksDropTarget(const QNDocumentPtr &destPath, VNOperationQueue *metadataQueue,
                                      const QNTaskItemCompletedBlock &completed, std::function<void()> next) {
    if (m_dropTargetAsked.exchange(true) || !QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig))
        return false;
    auto check = QNAliasCheck::standing(m_fromDriveConfig, m_toDriveConfig, destPath, fromDocument());
    {
        std::lock_guard lock(m_blockMutex);
        m_dropTargetCheck = check;
        m_dropTarget = destPath;
    }
    // It stands outside the queues while the copy lists the tree: the task
    // waits for it until its check folder has gone again, as long as it
    // moves on.
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto owner = task();
    std::shared_ptr<void> hold = owner ? owner->holdLifeCycle(self) : nullptr;
    std::weak_ptr<QNCopyTaskItem> weakSelf = self;
    check->setProgress([weakSelf] {
        if (auto item = weakSelf.lock())
            item->touchTask();
    });
    auto ended = [self, completed, next, hold](const QNAliasCheck::Outcome &outcome) {
        self->dropTargetCheckEnded(outcome, completed, next);
    };
    auto stands = [self, next] {
        // Until it has ended, the tree is not whole: the copy ends no sooner.
        ++self->m_unfinishedSubTaskItems;
        self->m_dropTargetStood.store(true);
        next();
    };
    // Its check folder is made as a step of the metadata queue: nothing of
    // the tree is made before it stands.
    addOperation(metadataQueue, std::make_shared<QNAliasCheckOperation>(check, ended, stands));
    return true;
}

bool QNCopyTaskItem::dropTargetShownIn(const QNDocumentPtr &folder, const QNDocumentList &listing) {
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    if (!top)
        return false;
    std::shared_ptr<QNAliasCheck> check;
    {
        std::lock_guard lock(top->m_blockMutex);
        check = top->m_dropTargetCheck;
    }
    if (!check || !check->sightedIn(folder, listing))
        return false;
    top->endDropTargetCheck(check);  // nothing more is listed: it ends now
    {
        std::lock_guard lock(top->m_blockMutex);
        if (!top->m_dropTargetSeenIn)
            top->m_dropTargetSeenIn = folder;
    }
    VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: the folder it is dropped onto is %1")
                   .arg(QNUtils::shownFolderPath(*folder)));
    if (auto tree = top->copiedTree())
        tree->refuse();
    return true;
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
    // Not seen in any listing of the tree: it ends, and the tree's own
    // check follows (dropTargetCheckEnded()).
    if (dropTargetCheck && m_dropTargetStood.load())
        endDropTargetCheck(dropTargetCheck);
    else
        checkTree();
}

void QNCopyTaskItem::endDropTargetCheck(const std::shared_ptr<QNAliasCheck> &check) {
    // A step of the metadata queue until its check folder has gone and it
    // has answered: what its answer starts (the tree's check, or the
    // refusal) comes before the transfers.
    auto owner = task();
    addOperation(owner ? owner->metadataQueue() : nullptr,
                 std::make_shared<QNCleanUpOperation>(
                     [check](const QNCleanUpOperation::Done &done) { check->treeListed(done); }));
}

void QNCopyTaskItem::checkTree() {
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
    // Where the copy lands: the folders it merged into, each of which may be
    // any folder of the tree, and for a move the folder it is dropped onto
    // as well (a copy has asked of that one already, while it listed).
    QList<QNDocumentPtr> places;
    QList<int> mergeOf;  // per place: its merge, or -1 for the folder dropped onto
    QSet<QString> seen;
    const QString drive = m_toDriveConfig->driveConfigId();
    if (inMove() && m_toDocument) {
        places << m_toDocument;
        mergeOf << -1;
        seen.insert(QNTask::folderKey(drive, m_toDocument));
    }
    for (int i = 0; i < merges.size(); ++i) {
        const QString key = QNTask::folderKey(drive, merges.at(i).namesake);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        places << merges.at(i).namesake;
        mergeOf << i;
    }
    // A copy that made every folder it writes into has nothing to ask: a
    // folder it made holds only what it writes.
    if (!QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig) || places.isEmpty()) {
        tree->checksAnswered(true);
        return;
    }
    // Shown apart, a move may remove its source, and a file whose temporary
    // name cannot take its own (an account that renames nothing) may be
    // written straight onto the namesake it replaces; else each file goes
    // up under a temporary name (a WebDAV upload then costs one request
    // more) and a move keeps its source.
    // Until it answers, the tree is not whole: the copy ends no sooner.
    ++m_unfinishedSubTaskItems;
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto check = std::make_shared<QNAliasCheck>(QNAliasCheck::Side{m_fromDriveConfig, folders},
                                                QNAliasCheck::Side{m_toDriveConfig, places});
    addOperation(owner->metadataQueue(),
                 std::make_shared<QNAliasCheckOperation>(
                     check, [self, merges, folders, places, mergeOf](const QNAliasCheck::Outcome &outcome) {
                         self->treeCheckEnded(outcome, merges, folders, places, mergeOf);
                     }));
}

void QNCopyTaskItem::treeCheckEnded(const QNAliasCheck::Outcome &outcome, const QList<QNCopiedTree::Merge> &merges,
                                    const QList<QNDocumentPtr> &folders, const QList<QNDocumentPtr> &places,
                                    const QList<int> &mergeOf) {
    using Answer = QNAliasCheck::Answer;
    if (!outcome.leftOver.isEmpty())
        addNote(outcome.leftOver.join(QLatin1Char(' ')), 0);
    const auto top = fromDocument();
    const QString notDone = notCopied();
    std::function<QString(bool nothingLeft)> refusal;
    if (outcome.cancelled) {
        // The task's queues run nothing more.
    } else if (outcome.answer == Answer::OneStorage && outcome.there >= 0 && outcome.there < places.size() &&
               outcome.here >= 0 && outcome.here < folders.size()) {
        const QString shown = QNUtils::withoutTrailingSlashes(folders.at(outcome.here)->path());
        const QString there = QNUtils::shownFolderPath(*places.at(outcome.there));
        const int merge = mergeOf.at(outcome.there);
        if (merge < 0) {
            const bool itself = shown == QNUtils::withoutTrailingSlashes(top->path());
            refusal = treeRefusal(top, notDone,
                                  QStringLiteral("\u201c%1\u201d is %2, reached by another path.")
                                      .arg(there, itself ? QStringLiteral("that folder itself")
                                                         : QStringLiteral("a folder of it")));
        } else if (shown == QNUtils::withoutTrailingSlashes(merges.at(merge).folder->path())) {
            const auto folder = merges.at(merge).folder;
            refusal = treeRefusal(folder, notDone,
                                  QStringLiteral("\u201c%1\u201d is that folder itself, reached by another path.")
                                      .arg(there));
        } else {
            refusal = treeRefusal(top, notDone,
                                  QStringLiteral("\u201c%1\u201d at the destination, into which \u201c%2\u201d would "
                                                 "be written, is its own folder \u201c%3\u201d, reached by another "
                                                 "path.")
                                      .arg(there, nameOf(merges.at(merge).folder), shown));
        }
    } else if (outcome.answer == Answer::OneStorage) {
        refusal = treeRefusal(top, notDone, QStringLiteral("a folder it is written into is a folder of it, reached "
                                                           "by another path."));
    } else if (outcome.answer == Answer::CannotTell) {
        const QString refused = cannotTellRefusal(top, QNUtils::shownFolderPath(*places.front()));
        if (!refused.isEmpty()) {
            const QString why = outcome.why;
            refusal = [refused, why](bool) { return (refused + QLatin1Char(' ') + why).trimmed(); };
        } else {
            // A copy removes nothing: it goes on, every file of the tree up
            // under a temporary name. A move keeps its source (its removal
            // hears this answer).
            VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: the tree's folders could not be told apart (%1); "
                                      "copying all the same")
                           .arg(outcome.why));
            m_uploadsUnderTemporaryName.store(true);
        }
    }
    if (auto tree = copiedTree(); tree && !outcome.cancelled)
        tree->setAliasAnswer(outcome);
    if (refusesTree(refusal))
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
    if (!outcome.leftOver.isEmpty())
        addNote(outcome.leftOver.join(QLatin1Char(' ')), 0);
    using Answer = QNAliasCheck::Answer;
    if (!m_dropTargetStood.load()) {
        // It never stood, and nothing was made: the copy goes on (an account
        // that makes no folders will not make the copy's either).
        if (outcome.cancelled) {
            endCancelled(completed, nullptr);
            return;
        }
        if (!outcome.why.isEmpty())
            VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: %1 Copying all the same.").arg(outcome.why));
        next();
        return;
    }
    const auto top = fromDocument();
    std::function<QString(bool nothingLeft)> refusal;
    if (!outcome.cancelled && outcome.answer == Answer::OneStorage) {
        const QString there = target ? QNUtils::shownFolderPath(*target) : QString();
        const bool itself = !seenIn || QNUtils::shownFolderPath(*seenIn) == QNUtils::shownFolderPath(*top);
        refusal = treeRefusal(top, notCopied(),
                              QStringLiteral("\u201c%1\u201d is %2, reached by another path.")
                                  .arg(there, itself ? QStringLiteral("that folder itself")
                                                     : QStringLiteral("a folder of it")));
    }
    if (refusesTree(refusal))
        return;
    // Not seen: the tree's own check comes next, before the tree's files go.
    if (!outcome.cancelled)
        checkTree();
    treeCheckAnswered(outcome);
}

bool QNCopyTaskItem::stopsForRefusedTree(const QNTaskItemCompletedBlock &completed) {
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    auto tree = top ? top->copiedTree() : nullptr;
    if (!tree || !tree->isRefused())
        return false;
    if (top.get() == this)
        closeFolder();  // the refusal ends it
    else
        endCancelled(completed, nullptr);
    return true;
}

bool QNCopyTaskItem::refusesTree(std::function<QString(bool nothingLeft)> refusal) {
    // A copy that has ended by then (another part of it failed) has nothing
    // left to refuse.
    if (!refusal || hasConcluded())
        return false;
    refuseTree(refusal);
    return true;
}

void QNCopyTaskItem::treeCheckAnswered(const QNAliasCheck::Outcome &outcome) {
    auto owner = task();
    subitemEnded(nullptr, outcome.cancelled, owner ? owner->toQueue() : nullptr);
}

void QNCopyTaskItem::refuseTree(const std::function<QString(bool nothingLeft)> &refusal) {
    auto tree = copiedTree();
    auto owner = task();
    tree->refuse();
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    // Queued behind every step of the tree already queued: the folders
    // those make are known by the time it runs. It runs whatever comes (a
    // cancel does not skip it), and the task waits for it.
    addOperation(owner ? owner->metadataQueue() : nullptr,
                 std::make_shared<QNCleanUpOperation>([self, tree, refusal](const QNCleanUpOperation::Done &done) {
                     auto removal = std::make_shared<QNMadeFoldersRemoval>(
                         self->m_toDriveConfig, tree->madeFolders(), QNMadeFoldersRemoval::Kind::CopiedFolders);
                     removal->start([self, refusal, done](const QStringList &left) {
                         self->treeRefused(refusal, left);
                         done();
                     });
                 }));
}

void QNCopyTaskItem::treeRefused(const std::function<QString(bool nothingLeft)> &refusal, const QStringList &left) {
    QString message = refusal(left.isEmpty());
    if (!left.isEmpty())
        message += QLatin1Char(' ') + left.join(QLatin1Char(' '));
    const VNErrorPtr error = stoppedMoveError(makeError(message));
    logFailure(QStringLiteral("copyDocument error2"), error);
    auto owner = task();
    const bool ended = subitemEnded(error, false, owner ? owner->toQueue() : nullptr);
    if (!ended && !left.isEmpty())
        addNote(left.join(QLatin1Char(' ')), 0);
    if (auto tree = copiedTree())
        tree->checksAnswered(false);
}

bool QNCopyTaskItem::waitsForTreeChecks(std::function<void()> start, const QNTaskItemCompletedBlock &completed,
                                        VNOperationQueue *queue) {
    if (m_treeChecksPassed.load())
        return false;
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    auto tree = top ? top->copiedTree() : nullptr;
    if (!tree)
        return false;  // no tree: a dropped file's own check has answered before
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    tree->afterChecks([self, start = std::move(start), completed, queue](bool go) {
        if (!go) {
            self->endCancelled(completed, queue);
            return;
        }
        self->m_treeChecksPassed.store(true);
        start();
    });
    return true;
}
