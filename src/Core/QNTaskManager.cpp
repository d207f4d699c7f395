#include "Core/QNTaskManager.h"

#include "Platform/VNOperationQueue.h"

QNTaskManager::QNTaskManager()
    : m_queue(std::make_unique<VNOperationQueue>(QStringLiteral("QNTaskManager"))),
      m_priorityQueue(std::make_unique<VNOperationQueue>(QStringLiteral("QNTaskManager priority"))) {
    m_queue->setMaxConcurrentOperationCount(1);
    m_priorityQueue->setMaxConcurrentOperationCount(1);
}

QNTaskManager::~QNTaskManager() = default;

void QNTaskManager::addTask(const QNTaskPtr &task) {
    if (!task)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_tasks.contains(task) || task->completed())
            return;  // a task runs once
        m_tasks.append(task);
    }
    VNOperationQueue *queue = task->usePriorityQueue() ? m_priorityQueue.get() : m_queue.get();
    auto self = shared_from_this();
    // The task keeps these until its life cycle ends; they hold the task weakly.
    std::weak_ptr<QNTask> weakTask = task;
    task->enqueue(
        queue,
        [self, weakTask] {
            if (auto task = weakTask.lock()) {
                self->removeTask(task);
                self->m_taskCompletedListeners.callAll(task);
            }
        },
        [self, weakTask] {
            if (auto task = weakTask.lock())
                self->m_taskMetadataCompletedListeners.callAll(task);
        },
        [self](QNTaskPtr task, QNTaskItemPtr item) { self->m_taskItemAddedListeners.callAll(task, item); },
        [self, weakTask](VNErrorPtr error, QNTaskItemPtr item, bool cancelled) {
            self->m_taskItemCompletedListeners.callAll(error, item, cancelled);
            auto task = weakTask.lock();
            if (error && task && !task->canceled())
                task->cancel();
        },
        [self](QNTaskItemPtr item) { self->m_taskItemUpdateListeners.callAll(item); });
    m_taskAddedListeners.callAll(task);
}

void QNTaskManager::removeTask(const QNTaskPtr &task) {
    std::lock_guard lock(m_mutex);
    m_tasks.removeAll(task);
}

QList<QNTaskPtr> QNTaskManager::tasks() const {
    std::lock_guard lock(m_mutex);
    return m_tasks;
}

void QNTaskManager::setPaused(bool paused) {
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
    }
    m_pausedListeners.callAll(paused);
    for (const auto &task : tasks())
        task->setPaused(paused);
}

bool QNTaskManager::paused() const {
    std::lock_guard lock(m_mutex);
    return m_paused;
}

bool QNTaskManager::hasRunningTaskItems() const {
    for (const auto &task : tasks())
        if (task->hasRunningOperations())
            return true;
    return false;
}

void QNTaskManager::registerListenerForTaskAddedBlock(const QString &key, QNTaskManagerTaskBlock block) {
    m_taskAddedListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForTaskAddedBlock(const QString &key) {
    m_taskAddedListeners.remove(key);
}
void QNTaskManager::registerListenerForTaskCompletedBlock(const QString &key, QNTaskManagerTaskBlock block) {
    m_taskCompletedListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForTaskCompletedBlock(const QString &key) {
    m_taskCompletedListeners.remove(key);
}
void QNTaskManager::registerListenerForTaskMetadataCompletedBlock(const QString &key, QNTaskManagerTaskBlock block) {
    m_taskMetadataCompletedListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForMetadataCompletedBlock(const QString &key) {
    m_taskMetadataCompletedListeners.remove(key);
}
void QNTaskManager::registerListenerForTaskItemAddedBlock(const QString &key, QNTaskItemAddedBlock block) {
    m_taskItemAddedListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForTaskItemAddedBlock(const QString &key) {
    m_taskItemAddedListeners.remove(key);
}
void QNTaskManager::registerListenerForTaskItemCompletedBlock(const QString &key,
                                                              QNTaskItemCompletedInTaskBlock block) {
    m_taskItemCompletedListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForTaskItemCompletedBlock(const QString &key) {
    m_taskItemCompletedListeners.remove(key);
}
void QNTaskManager::registerListenerForTaskItemUpdateBlock(const QString &key, QNTaskItemUpdateInTaskBlock block) {
    m_taskItemUpdateListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForTaskItemUpdateBlock(const QString &key) {
    m_taskItemUpdateListeners.remove(key);
}
void QNTaskManager::registerListenerForPausedBlock(const QString &key, QNTaskManagerPausedBlock block) {
    m_pausedListeners.set(key, std::move(block));
}
void QNTaskManager::unregisterListenerForPausedBlock(const QString &key) {
    m_pausedListeners.remove(key);
}
