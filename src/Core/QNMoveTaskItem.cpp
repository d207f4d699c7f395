#include "Core/QNMoveTaskItem.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNMoveOperation.h"
#include "Core/QNMovedSourceRemoval.h"
#include "Core/QNSourceSetAside.h"
#include "Core/QNUtils.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNTask.h"
#include "Core/QNThrottleOperation.h"
#include "Platform/VNLog.h"

#include <QFileInfo>
#include <QHash>

namespace {
QString withoutFullStop(QString text) {
    text = text.trimmed();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString errorText(const VNErrorPtr &error) {
    return error ? QNErrorWrapper(error).localizedDescription() : QStringLiteral("(null)");
}

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
                VNLog::log(QStringLiteral("QNMoveTaskItem copyDocument error2 %1").arg(errorText(error)));
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
    removeSetAside(completed, queue);
}

QList<QNSourceSetAside::Place> QNMoveTaskItem::copyPlaces() const {
    auto source = fromDocument();
    QList<QNSourceSetAside::Place> where;
    where.append({toDocument(), {QNUtils::nameOf(*source)}});
    auto tree = copiedTree();
    if (!tree)
        return where;
    // The folders the copy merged into: a link among them that leads into
    // the source tree loses what was copied into it.
    const QString drive = toDriveConfig() ? toDriveConfig()->driveConfigId() : QString();
    QHash<QString, int> placeOf;
    for (const auto &merge : tree->merges()) {
        const QString key = QNTask::folderKey(drive, merge.namesake);
        if (placeOf.contains(key) || QNTask::folderKey(drive, toDocument()) == key)
            continue;
        placeOf.insert(key, int(where.size()));
        where.append({merge.namesake, {}});
    }
    for (const auto &sub : subitems()) {
        auto item = std::dynamic_pointer_cast<QNCopyTaskItem>(sub);
        if (!item || item->wasSkipped() || !item->fromDocument() || !item->toDocument())
            continue;
        const auto place = placeOf.constFind(QNTask::folderKey(drive, item->toDocument()));
        if (place != placeOf.constEnd())
            where[*place].names.append(QNUtils::nameOf(*item->fromDocument()));
    }
    return where;
}

void QNMoveTaskItem::removeSetAside(QNTaskItemCompletedBlock completed, VNOperationQueue *queue) {
    auto source = fromDocument();
    auto owner = task();
    // The task ends only once the source is removed or back under its name.
    auto hold = std::make_shared<std::shared_ptr<void>>(owner ? owner->holdLifeCycle() : nullptr);
    auto guard = std::make_shared<QNSourceSetAside>(fromDriveConfig(), source, toDriveConfig(), copyPlaces());
    auto self = std::static_pointer_cast<QNMoveTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = owner;
    // Asked before it is renamed: a local link is known by its path.
    const bool tree = source->isDirectory() && !isLink(fromDriveConfig(), source);
    QNSourceSetAside::Finished set = [self, guard, completed, queue, hold, tree](QNSourceSetAside::Answer answer,
                                                                              const QString &message) {
        using Answer = QNSourceSetAside::Answer;
        if (answer == Answer::Apart) {
            if (tree)
                self->removeCopiedTree(completed, queue, guard, hold);
            else
                self->removeFile(completed, queue, guard, hold);
            return;
        }
        const VNErrorPtr error = message.isEmpty() ? nullptr : self->makeError(message);
        if (error)
            VNLog::log(QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock error: %1").arg(errorText(error)));
        self->postCopyFinished(completed, error, nullptr, answer == Answer::Cancelled && !error);
        hold->reset();
    };
    // A photo service adds an upload beside whatever has its name: the
    // copy is a new item, never the source.
    if (toDriveConfig() && toDriveConfig()->isPhotoService()) {
        guard->startInPlace(set);
        return;
    }
    guard->start(
        [weakTask] {
            auto task = weakTask.lock();
            return task && task->canceled();
        },
        set);
}

void QNMoveTaskItem::removeFile(QNTaskItemCompletedBlock completed, VNOperationQueue *queue,
                                std::shared_ptr<QNSourceSetAside> guard, std::shared_ptr<std::shared_ptr<void>> hold) {
    auto self = std::static_pointer_cast<QNMoveTaskItem>(shared_from_this());
    auto source = fromDocument();
    auto remove = std::make_shared<QNRemoveOperation>(
        fromDriveConfig(), guard->aside(),
        [self, completed, guard, hold, source](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (!error && !cancelled) {
                self->postCopyFinished(completed, nullptr, source, false);
                hold->reset();
                return;
            }
            // Not removed (or not known to be): back under its name.
            guard->putBack([self, completed, hold, error, cancelled, source, guard](const QString &problem) {
                VNErrorPtr said;
                if (error || !problem.isEmpty())
                    said = self->makeError(
                        QStringLiteral("%1 was copied to \u201c%2\u201d but not removed")
                            .arg(guard->described(), QNSourceSetAside::shownPath(self->toDocument())) +
                        (error ? QStringLiteral(" (%1)").arg(withoutFullStop(guard->asOwnPath(errorText(error)))) : QString()) +
                        (problem.isEmpty() ? QStringLiteral("; it stays where it was.") : QStringLiteral("; ") + problem));
                if (said)
                    VNLog::log(QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock error: %1").arg(errorText(said)));
                self->postCopyFinished(completed, said, nullptr, cancelled && problem.isEmpty());
                hold->reset();
            });
        });
    observeRunning(remove);
    addOperation(queue, remove);
}

void QNMoveTaskItem::removeCopiedTree(QNTaskItemCompletedBlock completed, VNOperationQueue *queue,
                                      std::shared_ptr<QNSourceSetAside> guard,
                                      std::shared_ptr<std::shared_ptr<void>> hold) {
    auto source = fromDocument();
    const QString top = source->path();
    const QString aside = guard->aside()->path();
    QList<QNMovedSourceRemoval::Copied> copied, leftOut;
    for (const auto &sub : subitems()) {
        auto item = std::dynamic_pointer_cast<QNCopyTaskItem>(sub);
        if (item && item->fromDocument())
            (item->wasSkipped() ? leftOut : copied)
                .append({QNSourceSetAside::rebased(item->fromDocument(), top, aside),
                         QNSourceSetAside::rebased(item->sourceFolder(), top, aside)});
    }
    auto removal = std::make_shared<QNMovedSourceRemoval>(fromDriveConfig(), guard->aside(), copied, leftOut);
    removal->showAs(aside, top);
    auto self = std::static_pointer_cast<QNMoveTaskItem>(shared_from_this());
    removal->start(
        [self, queue](const std::shared_ptr<VNOperation> &operation) { self->addOperation(queue, operation); },
        [self](const QString &message) { return self->makeError(message); },
        [self, completed, source, removal, guard, hold](VNErrorPtr error, bool cancelled) {
            auto end = [self, completed, source, hold](VNErrorPtr error, bool cancelled) {
                // What the copy left out stays with its folders, and is
                // named in the task's end report, not here.
                if (cancelled) {
                    self->postCopyFinished(completed, error, nullptr, true);
                } else if (error) {
                    VNLog::log(
                        QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock error: %1").arg(errorText(error)));
                    self->postCopyFinished(completed, error, nullptr, false);
                } else {
                    self->postCopyFinished(completed, nullptr, source, false);
                }
                hold->reset();
            };
            if (removal->removedTop()) {
                end(error, cancelled);
                return;
            }
            // What stays of it gets its name back.
            guard->putBack([self, end, error, cancelled, source, guard](const QString &problem) mutable {
                if (problem.isEmpty()) {
                    // Said of the paths it has again.
                    end(error ? self->makeError(guard->asOwnPath(errorText(error))) : nullptr, cancelled);
                    return;
                }
                const QString said = (error ? errorText(error) + QLatin1Char(' ') : QString()) +
                                     QStringLiteral("%1 was copied to \u201c%2\u201d, but what stays of it: %3")
                                         .arg(guard->described(), QNSourceSetAside::shownPath(self->toDocument()),
                                              problem);
                end(self->makeError(said), false);
            });
        });
}
