#pragma once

#include "Core/QNListenerMap.h"
#include "Core/QNTask.h"

#include <QList>
#include <memory>
#include <mutex>

using QNTaskManagerTaskBlock = std::function<void(QNTaskPtr task)>;
using QNTaskManagerPausedBlock = std::function<void(bool paused)>;

// The one task engine of the application. Keeps the tasks added and not yet
// completed, in the order added, runs the life cycle of each as one
// operation on one of two queues that run one task at a time (the normal
// queue, and the priority queue for tasks that ask for it), and relays the
// engine's events to its listeners. The first item of a task that reports an
// error cancels the task; there is no retry.
//
// Hold the manager in a std::shared_ptr: running tasks keep it alive.
class QNTaskManager : public std::enable_shared_from_this<QNTaskManager> {
public:
    QNTaskManager();
    ~QNTaskManager();

    QNTaskManager(const QNTaskManager &) = delete;
    QNTaskManager &operator=(const QNTaskManager &) = delete;

    // Appends the task and queues its life cycle. Add the task's items and
    // register listeners on the task and its items first. Main thread.
    void addTask(const QNTaskPtr &task);

    // A copy of the list of tasks added and not yet completed.
    QList<QNTaskPtr> tasks() const;

    // Pauses or resumes every task in the list (their own queues).
    void setPaused(bool paused);
    bool paused() const;

    // Whether some task has an operation executing.
    bool hasRunningTaskItems() const;

    VNOperationQueue *queue() const { return m_queue.get(); }
    VNOperationQueue *priorityQueue() const { return m_priorityQueue.get(); }

    void registerListenerForTaskAddedBlock(const QString &key, QNTaskManagerTaskBlock block);
    void unregisterListenerForTaskAddedBlock(const QString &key);
    void registerListenerForTaskCompletedBlock(const QString &key, QNTaskManagerTaskBlock block);
    void unregisterListenerForTaskCompletedBlock(const QString &key);
    void registerListenerForTaskMetadataCompletedBlock(const QString &key, QNTaskManagerTaskBlock block);
    void unregisterListenerForMetadataCompletedBlock(const QString &key);
    void registerListenerForTaskItemAddedBlock(const QString &key, QNTaskItemAddedBlock block);
    void unregisterListenerForTaskItemAddedBlock(const QString &key);
    void registerListenerForTaskItemCompletedBlock(const QString &key, QNTaskItemCompletedInTaskBlock block);
    void unregisterListenerForTaskItemCompletedBlock(const QString &key);
    void registerListenerForTaskItemUpdateBlock(const QString &key, QNTaskItemUpdateInTaskBlock block);
    void unregisterListenerForTaskItemUpdateBlock(const QString &key);
    void registerListenerForPausedBlock(const QString &key, QNTaskManagerPausedBlock block);
    void unregisterListenerForPausedBlock(const QString &key);

private:
    void removeTask(const QNTaskPtr &task);

    mutable std::mutex m_mutex;
    QList<QNTaskPtr> m_tasks;
    bool m_paused = false;
    std::unique_ptr<VNOperationQueue> m_queue;
    std::unique_ptr<VNOperationQueue> m_priorityQueue;

    QNListenerMap<QNTaskManagerTaskBlock> m_taskAddedListeners;
    QNListenerMap<QNTaskManagerTaskBlock> m_taskCompletedListeners;
    QNListenerMap<QNTaskManagerTaskBlock> m_taskMetadataCompletedListeners;
    QNListenerMap<QNTaskItemAddedBlock> m_taskItemAddedListeners;
    QNListenerMap<QNTaskItemCompletedInTaskBlock> m_taskItemCompletedListeners;
    QNListenerMap<QNTaskItemUpdateInTaskBlock> m_taskItemUpdateListeners;
    QNListenerMap<QNTaskManagerPausedBlock> m_pausedListeners;
};
