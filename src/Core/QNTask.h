#pragma once

#include "Core/QNAliasCheck.h"
#include "Core/QNAnswerOnce.h"
#include "Core/QNDestinationListings.h"
#include "Core/QNListenerMap.h"
#include "Core/QNTaskItem.h"
#include "Platform/VNError.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QNHandlerCallWatch;
class VNOperation;
class VNOperationQueue;

// Task events without arguments: task completed, metadata completed, update.
using QNTaskEventBlock = std::function<void()>;
// The manager's view of the items of a task.
using QNTaskItemAddedBlock = std::function<void(QNTaskPtr task, QNTaskItemPtr item)>;
using QNTaskItemCompletedInTaskBlock = std::function<void(VNErrorPtr error, QNTaskItemPtr item, bool cancelled)>;
using QNTaskItemUpdateInTaskBlock = std::function<void(QNTaskItemPtr item)>;

// One piece of user work (copy, move, remove, links, save-back): its items,
// a temporary folder of its own inside the application's temporary folder,
// and three queues on which the items put their work, all created suspended:
//   metadata queue (1 at a time): folder creation and listings;
//   from queue (2 at a time): downloads and work on the source drive;
//   to queue (1 at a time): uploads and removals.
// The task manager runs the life cycle: metadata phase, transfer phase,
// clean-up, completion. A task is run once.
//
// Tasks are always held in a std::shared_ptr (make them with std::make_shared).
class QNTask : public std::enable_shared_from_this<QNTask> {
public:
    enum State { NotStarted = 0, MetadataPhase = 1, TransferPhase = 2 };

    QNTask();
    virtual ~QNTask();

    QNTask(const QNTask &) = delete;
    QNTask &operator=(const QNTask &) = delete;

    // Every item, sub-items included, and the top-level items, in the order added.
    QList<QNTaskItemPtr> taskItems() const;
    QList<QNTaskItemPtr> primaryTaskItems() const;

    // Adds a top-level item (before the task goes to the manager), or a
    // sub-item of the given primary item (copy items do so while the task
    // runs). The item queues its work now; nothing runs before the life
    // cycle opens the queues.
    void addTaskItem(const QNTaskItemPtr &item);
    void addTaskItem(const QNTaskItemPtr &item, const QNTaskItemPtr &primaryItem);

    // Called by the task manager only, once: keeps the item callbacks and
    // adds the life cycle to the queue as one operation.
    void enqueue(VNOperationQueue *queue, QNTaskEventBlock taskCompleted, QNTaskEventBlock taskMetadataCompleted,
                 QNTaskItemAddedBlock taskItemAdded, QNTaskItemCompletedInTaskBlock taskItemCompleted,
                 QNTaskItemUpdateInTaskBlock taskItemUpdate);

    // The row title of the task list.
    virtual QString description() const;
    // 0 to 1.
    virtual float progress() const;

    // Cancels every operation of the three queues; the life cycle still runs
    // to its end (folder deleted, listeners called). A paused task's queues
    // are opened again so that the cancelled work can drain.
    void cancel();
    bool canceled() const { return m_canceled.load(); }

    // How long a cancelled task waits at most for the drive calls it
    // cancelled to answer, and for the work holding it to move on
    // (holdLifeCycle()), before it ends without them (10 s). The tests set
    // it beyond their own time-outs, so a task that waits it out fails them.
    static void setCancelledCallsWaitLimit(std::chrono::milliseconds limit);
    static std::chrono::milliseconds cancelledCallsWaitLimit();

    // A line of the task's end report. The items it says were not copied
    // (or moved) stay where they were; a note of none is of something the
    // task left on a drive (a check folder, an upload's temporary file). A
    // note without text only counts items another note speaks of (the
    // sources a move kept, one note for each pair of folders).
    struct EndNote {
        QString text;
        int items = 0;
    };
    // What the task's items left out and why (links to nothing or not
    // followed, names that cannot be read, names the task wrote already),
    // and what the task left behind, for the task's end report: every
    // item's notes, in the order the items were added, then the task's
    // own. None of it is an error: the rest of the task went on.
    QList<EndNote> endNotes() const;
    // A note of the task's own, after the items' notes.
    void addEndNote(const EndNote &note);
    // The texts of endNotes() (none empty).
    QStringList leftOut() const;
    // How many items those notes say were not copied (a note may speak of a
    // folder's many entries, or of no item at all: a file left on a drive).
    int leftOutItemCount() const;
    // The texts of notes that have one, and the items the notes count.
    static QStringList textsOf(const QList<EndNote> &notes);
    static int itemsOf(const QList<EndNote> &notes);

    // Whether an operation (other than a throttle) is executing on a queue.
    bool hasRunningOperations() const;
    int metadataQueueSize() const;

    // Pauses (suspends the three queues) or resumes (restores each queue's
    // earlier state). Running operations go on. A cancelled task is not paused.
    void setPaused(bool paused);
    bool paused() const;

    int state() const { return m_state.load(); }
    bool completed() const { return m_completed.load(); }
    bool usePriorityQueue() const { return m_usePriorityQueue.load(); }
    void setUsePriorityQueue(bool use) { m_usePriorityQueue.store(use); }

    QString tempDirectory() const { return m_tempDirectory; }
    VNOperationQueue *fromQueue() const { return m_fromQueue.get(); }
    VNOperationQueue *toQueue() const { return m_toQueue.get(); }
    VNOperationQueue *metadataQueue() const { return m_metadataQueue.get(); }

    void registerListenerForTaskCompletedBlock(const QString &key, QNTaskEventBlock block);
    void unregisterListenerForTaskCompletedBlock(const QString &key);
    void registerListenerForTaskMetadataCompletedBlock(const QString &key, QNTaskEventBlock block);
    void unregisterListenerForTaskMetadataCompletedBlock(const QString &key);
    void registerListenerForTaskUpdateBlock(const QString &key, QNTaskEventBlock block);
    void unregisterListenerForTaskUpdateBlock(const QString &key);

    // --- For the items ---

    // Adds an operation to one of the task's queues; an operation added to a
    // cancelled task is cancelled at once, so nothing new starts after a cancel.
    void addOperation(VNOperationQueue *queue, const std::shared_ptr<VNOperation> &operation);

    // The temporary file for a document at the given drive path: the
    // temporary folder followed by the path. A path with an empty last
    // component, or with a component ".", ".." or holding NUL, is refused
    // (null, with the error) so that nothing lands outside the folder. A path
    // already given to another document of this task gets a separate place
    // (the same file name in a folder of its own).
    QString reserveTempPath(const QString &drivePath, VNErrorPtr *error);

    // Claims the place a file or folder of this task is written to
    // (destination drive, folder and name). False when another item of the
    // task claimed a name there before that differs at most in letter case
    // (given in earlier): same-named siblings never write over each other,
    // nor into each other on a drive that folds case.
    bool claimDestination(const QString &driveConfigId, const QNDocumentPtr &folder, const QString &name,
                          QString *earlier = nullptr);

    // The listings of destination folders, shared by the task's copy items
    // (keyed by folderKey()).
    QNDestinationListings &destinationListings() { return m_destinationListings; }
    // Asks an alias check once per task (checks of one key() give one
    // answer: the files of one pair of folders share it, before the copy
    // and at a move's removal alike). The first asker's check is run by run
    // and its finished hears the whole outcome; the others hear it without
    // the check folders left over, which the first says. A cancelled answer
    // is not kept: the next to ask asks again.
    using RunAliasCheck =
        std::function<void(const std::shared_ptr<QNAliasCheck> &check, QNAliasCheck::Finished finished)>;
    void askAliasCheck(const std::shared_ptr<QNAliasCheck> &check, const RunAliasCheck &run,
                       QNAliasCheck::Finished finished);
    // True the first time the key is claimed in this task (a note said once
    // for many items).
    bool claimOnce(const QString &key);
    // A folder of a drive as one string: its id, or its path without a
    // trailing slash.
    static QString folderKey(const QString &driveConfigId, const QNDocumentPtr &folder);

    // Claims a real folder that a link of this task leads to: false when the
    // task has already followed a link to it.
    bool claimLinkTarget(const QString &driveConfigId, const QString &target);

    // Keeps the life cycle from ending while work that must finish (putting
    // a document back under its own name) runs outside the queues: the
    // life cycle waits until every token has been released. Once the task
    // is cancelled it waits as long as that work makes progress (touch()),
    // and no longer than cancelledCallsWaitLimit() without: a cancelled
    // task always ends. An item that still holds the task when it ends
    // (holder) is left out of the end pass: it reports its own ending
    // later, to its own listeners.
    std::shared_ptr<void> holdLifeCycle(const QNTaskItemPtr &holder = nullptr);
    // The work holding the task has moved on (one of its requests answered).
    void touch();

    // The error of a drive path refused by reserveTempPath(), or null.
    static VNErrorPtr checkDrivePath(const QString &drivePath, const QString &domain);

protected:
    // Descriptions and progress shared by the copy and move tasks.
    QString transferDescription(const QString &preparing, const QString &preparingFolders,
                                const QString &counting) const;
    float transferProgress() const;

private:
    void runLifeCycle(const QNTaskEventBlock &taskCompleted, const QNTaskEventBlock &taskMetadataCompleted);
    // Opens a queue for the life cycle; a paused task only remembers to.
    void resumeQueue(int index);
    void waitForHolds();
    void waitForCancelledHandlers();

    mutable std::mutex m_itemsMutex;
    QList<QNTaskItemPtr> m_taskItems;
    QList<QNTaskItemPtr> m_primaryTaskItems;
    QSet<QString> m_reservedTempPaths;    // temporary files given out, as the disk holds them
    QSet<QString> m_reservedTempFolders;  // the folders holding them, likewise
    QHash<QString, QString> m_claimedDestinations;  // place, name folded -> name written by this task
    QSet<QString> m_followedLinkTargets;  // real folders reached through links
    QNDestinationListings m_destinationListings;
    QNAnswerOnce<QNAliasCheck::Outcome> m_aliasAnswers;
    QSet<QString> m_claimedOnce;
    bool m_enqueued = false;
    int m_duplicateCounter = 0;

    std::atomic<int> m_state{NotStarted};
    std::atomic<bool> m_canceled{false};
    std::atomic<bool> m_completed{false};
    std::atomic<bool> m_usePriorityQueue{false};
    QString m_tempDirectory;

    std::unique_ptr<VNOperationQueue> m_fromQueue;
    std::unique_ptr<VNOperationQueue> m_toQueue;
    std::unique_ptr<VNOperationQueue> m_metadataQueue;

    // Guards pausing, cancelling, the life cycle's opening of the queues and
    // the adding of operations against each other.
    mutable std::mutex m_queueMutex;
    bool m_paused = false;
    bool m_rememberedSuspended[3] = {true, true, true};  // from, to, metadata

    // The handler calls that were under way when the task was cancelled:
    // the cancel answered for them, and their handlers may still be
    // removing what they left on the drive.
    mutable std::mutex m_cancelledCallsMutex;
    QList<std::shared_ptr<QNHandlerCallWatch>> m_cancelledCalls;
    // The task's own end notes: what the late answers of those calls say
    // they left on the drive, and those given by addEndNote().
    QList<EndNote> m_ownNotes;

    std::mutex m_holdMutex;
    std::condition_variable m_holdCondition;
    int m_holds = 0;
    quint64 m_holdProgress = 0;              // touches and releases so far
    QHash<const QNTaskItem *, int> m_holders;  // items holding the task, with their holds

    std::mutex m_blocksMutex;
    QNTaskItemAddedBlock m_taskItemAddedBlock;
    QNTaskItemCompletedInTaskBlock m_taskItemCompletedBlock;
    QNTaskItemUpdateInTaskBlock m_taskItemUpdateBlock;

    QNListenerMap<QNTaskEventBlock> m_taskCompletedListeners;
    QNListenerMap<QNTaskEventBlock> m_taskMetadataCompletedListeners;
    QNListenerMap<QNTaskEventBlock> m_taskUpdateListeners;
};
