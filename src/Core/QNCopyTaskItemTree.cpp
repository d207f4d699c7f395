// QNCopyTaskItem: what a folder's copy asks of its tree before any file of
// it goes. The folder it is dropped onto may be a folder of that very tree
// reached by another path (a server's share mounted in the home folder):
// the copy would copy itself again, level after level. A tree whose copy is
// refused stops being made and listed, and the folders it made go again.
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMadeFoldersRemoval.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperation.h"

bool QNCopyTaskItem::checksDropTarget(const QNDocumentPtr &destPath, VNOperationQueue *metadataQueue,
                                      const QNTaskItemCompletedBlock &completed, std::function<void()> next) {
    // Two local folders are compared by their real paths before.
    const bool bothLocal = m_fromDriveConfig->isMyFiles() && m_toDriveConfig->isMyFiles();
    if (m_dropTargetAsked.exchange(true) || bothLocal ||
        !QNAliasCheck::mayBeOneStorage(m_fromDriveConfig, m_toDriveConfig))
        return false;
    auto check = QNAliasCheck::forDropTarget(m_fromDriveConfig, m_toDriveConfig, destPath);
    {
        std::lock_guard lock(m_blockMutex);
        m_dropTargetCheck = check;
        m_dropTarget = destPath;
    }
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    startCheck(
        check, metadataQueue,
        [self, completed, next](const QNAliasCheck::Outcome &outcome) {
            self->dropTargetCheckEnded(outcome, completed, next);
        },
        [self, next] {
            // Until it has ended, the tree is not whole: the copy ends no sooner.
            ++self->m_unfinishedSubTaskItems;
            self->m_dropTargetStood.store(true);
            next();
        });
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
    if (!check || !check->showsMarker(listing))
        return false;
    {
        std::lock_guard lock(top->m_blockMutex);
        top->m_dropTargetSeenIn = folder;
    }
    VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: the folder it is dropped onto is %1").arg(QNUtils::shownFolderPath(*folder)));
    if (auto tree = top->copiedTree())
        tree->refuse();
    check->lookedFor(true);
    return true;
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

bool QNCopyTaskItem::refusesTree(const QNAliasCheck::Outcome &outcome, std::function<QString(bool nothingLeft)> refusal) {
    // A check folder left behind is said with the refusal, or is one.
    if (!outcome.cancelled && !outcome.leftOver.isEmpty()) {
        const QString leftOver = outcome.leftOver;
        refusal = [refusal, leftOver](bool nothingLeft) {
            return refusal ? refusal(nothingLeft) + QLatin1Char(' ') + leftOver : leftOver;
        };
    }
    // A copy that has ended by then (another part of it failed) says only
    // what the check left behind (treeCheckAnswered()).
    if (!refusal || hasConcluded())
        return false;
    refuseTree(refusal);
    return true;
}

void QNCopyTaskItem::treeCheckAnswered(const QNAliasCheck::Outcome &outcome) {
    const VNErrorPtr error = outcome.leftOver.isEmpty() ? nullptr : makeError(outcome.leftOver);
    if (error)
        logFailure(QStringLiteral("copyDocument error2"), error);
    auto owner = task();
    // A check folder left behind is said even when the copy has ended by
    // then (another part of it failed): in the task's end report.
    const bool ended = subitemEnded(error, outcome.cancelled && !error, owner ? owner->toQueue() : nullptr);
    if (!ended && !outcome.leftOver.isEmpty() && hasConcluded())
        addNote(outcome.leftOver, 0);
}

void QNCopyTaskItem::refuseTree(const std::function<QString(bool nothingLeft)> &refusal) {
    auto tree = copiedTree();
    auto owner = task();
    tree->refuse();
    VNOperationQueue *metadataQueue = owner ? owner->metadataQueue() : nullptr;
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    // Queued behind every step of the tree already queued: the folders
    // those make are known by the time it runs.
    addOperation(metadataQueue, std::make_shared<VNBlockOperation>([self, tree, refusal, metadataQueue] {
        auto removal = std::make_shared<QNMadeFoldersRemoval>(self->m_toDriveConfig, tree->madeFolders());
        removal->start([self, metadataQueue](const std::shared_ptr<VNOperation> &operation) {
                           self->addOperation(metadataQueue, operation);
                       },
                       [self, refusal](const QStringList &left) { self->treeRefused(refusal, left); });
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
    if (!ended && !left.isEmpty() && hasConcluded())
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
