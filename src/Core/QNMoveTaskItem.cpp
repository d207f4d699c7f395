#include "Core/QNMoveTaskItem.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNMoveOperation.h"
#include "Core/QNMoveRemovalOperation.h"
#include "Core/QNTask.h"
#include "Core/QNThrottleOperation.h"
#include "Platform/VNLog.h"

#include <QFileInfo>

namespace {
// Whether the source is a link. A local one is asked of the disk: a path
// dropped from another application carries no mark of it.
bool isLink(const QNDriveConfigPtr &drive, const QNDocumentPtr &document) {
    if (document->isLink())
        return true;
    if (!drive || !drive->isMyFiles())
        return false;
    QString path = document->path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return QFileInfo(path).isSymLink();
}
}  // namespace

void QNMoveTaskItem::copyDocument(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                                  VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                                  QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update,
                                  const QNTaskPtr &task, const QNTaskItemPtr &primary) {
    if (failsOntoItselfByAnotherPath(document, toDocument, completed))
        return;
    if (isOntoItself(fromDriveConfig(), document, toDriveConfig(), toDocument)) {
        if (arrivesAtItsOwnName(fromDriveConfig(), document, toDriveConfig(), toDocument)) {
            // Already in place: no move, and above all no removal of the source.
            if (claimPostCopy())
                postCopyFinished(completed, nullptr, document, false);
        } else if (claimPostCopy()) {
            // Already there under another name of the same file (a hard
            // link): nothing to write, and the source's own name goes.
            postCopy(completed, nullptr, document, fromQueue, false);
        }
        return;
    }
    const bool driveMoves = document && toDocument && sameDrive() && fromDriveConfig()->supportsLocalMove(document) &&
                            toDriveConfig()->supportsLocalMove(toDocument);
    if (!driveMoves || isFolderIntoItself(fromDriveConfig(), document, toDriveConfig(), toDocument)) {
        // The copy way (which also refuses a folder into itself).
        QNCopyTaskItem::copyDocument(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task,
                                     primary);
        return;
    }
    if (!claimName(document, toDocument, completed))
        return;
    if (checkDestinationFirst(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task, primary))
        return;
    auto self = std::static_pointer_cast<QNMoveTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = task;
    std::weak_ptr<QNTaskItem> weakPrimary = primary;
    auto move = std::make_shared<QNMoveOperation>(
        fromDriveConfig(), document, toDocument,
        [=](QNDocumentPtr moved, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                if (self->claimPostCopy())
                    self->postCopy(completed, error, moved, fromQueue, true);
            } else if (error) {
                VNLog::log(QStringLiteral("QNMoveTaskItem copyDocument error2 %1").arg(QNErrorWrapper::textOf(error)));
                // A drive never moves onto an item inside itself: a copy
                // replaces it, and the source goes once that is whole.
                self->replaceAfterRefusal(error, document, toDocument, fromQueue, toQueue, metadataQueue, completed,
                                          update, weakTask, weakPrimary);
            } else {
                // The drive moved it: nothing is left to remove.
                self->postCopyFinished(completed, nullptr, moved, false);
            }
        });
    observeRunning(move);
    addOperation(fromQueue, move);
    addOperation(fromQueue, QNThrottleOperation::waitingFor(toQueue));
}

void QNMoveTaskItem::postCopy(QNTaskItemCompletedBlock completed, VNErrorPtr error, QNDocumentPtr document,
                              VNOperationQueue *queue, bool cancelled) {
    if (cancelled || error || treeWasBroken()) {
        // Not a whole copy: the source stays.
        postCopyFinished(completed, error, document, cancelled || (!error && treeWasBroken()));
        return;
    }
    if (wasSkipped()) {
        // Left out, not copied: the source stays.
        postCopyFinished(completed, nullptr, nullptr, false);
        return;
    }
    if (!queue)
        if (auto owner = task())
            queue = owner->fromQueue();
    auto source = fromDocument();
    if (arrivesAtItsOwnName(fromDriveConfig(), source, toDriveConfig(), toDocument())) {
        // The copy landed on the source itself: it is the only copy.
        postCopyFinished(completed, nullptr, document, false);
        return;
    }
    // The removal waits for its turn on the queue; the last look at the
    // copy, the removal and any way back are one step taken then.
    auto self = std::static_pointer_cast<QNMoveTaskItem>(shared_from_this());
    auto removal = std::make_shared<QNMoveRemovalOperation>(
        removalPlan(), task(), [self](const QString &message) { return self->makeError(message); },
        [self](const QString &note, int items) { self->addNote(note, items); },
        [self, completed](VNErrorPtr error, QNDocumentPtr removed, bool cancelled) {
            self->postCopyFinished(completed, error, removed, cancelled);
        });
    observeRunning(removal);
    addOperation(queue, removal);
}

QNMoveRemovalOperation::Plan QNMoveTaskItem::removalPlan() const {
    QNMoveRemovalOperation::Plan plan;
    plan.fromDrive = fromDriveConfig();
    plan.source = fromDocument();
    plan.toDrive = toDriveConfig();
    plan.destination = toDocument();
    // Asked now, while the source has its name: a local link is known by
    // its path.
    plan.tree = plan.source->isDirectory() && !isLink(plan.fromDrive, plan.source);
    if (!plan.tree)
        return plan;
    if (auto tree = copiedTree())
        plan.treeAnswer = tree->aliasAnswer();
    for (const auto &sub : subitems()) {
        auto item = std::dynamic_pointer_cast<QNCopyTaskItem>(sub);
        if (item && item->fromDocument())
            (item->wasSkipped() ? plan.leftOut : plan.copied).append({item->fromDocument(), item->sourceFolder()});
    }
    return plan;
}
