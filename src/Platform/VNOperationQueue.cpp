#include "VNOperationQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {
constexpr auto kIdleWorkerLifetime = std::chrono::seconds(10);
// An unlimited queue still stops somewhere; far above what the program uses.
constexpr int kUnlimitedCap = 512;
}  // namespace

// Shared between the queue object and its worker threads, so that a queue
// may be destroyed from anywhere (even from one of its own workers) without
// joining threads.
struct VNOperationQueue::State : std::enable_shared_from_this<VNOperationQueue::State> {
    QString name;
    mutable std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable allFinished;
    std::vector<std::shared_ptr<VNOperation>> operations;  // unfinished, in order added
    std::deque<std::shared_ptr<VNOperation>> pending;      // not yet started
    std::deque<std::shared_ptr<VNOperation>> ready;        // started, waiting for a worker
    int maxConcurrent = DefaultMaxConcurrentOperationCount;
    int running = 0;  // slots taken: handed to a worker and not finished
    int workers = 0;
    int idleWorkers = 0;
    bool suspended = false;
    bool closed = false;

    int limit() const { return maxConcurrent < 0 ? kUnlimitedCap : std::max(maxConcurrent, 0); }

    // Moves pending operations into free slots. Called with the mutex held.
    void schedule() {
        while (!suspended && !closed && !pending.empty() && running < limit()) {
            auto op = pending.front();
            pending.pop_front();
            op->m_startedByQueue = true;
            ++running;
            ready.push_back(std::move(op));
            if (idleWorkers < static_cast<int>(ready.size()))
                spawnWorker();
            workAvailable.notify_one();
        }
    }

    void spawnWorker() {
        ++workers;
        ++idleWorkers;
        std::thread([self = shared_from_this()] { self->workerLoop(); }).detach();
    }

    void workerLoop() {
        std::unique_lock lock(mutex);
        for (;;) {
            if (ready.empty()) {
                if (closed)
                    break;
                workAvailable.wait_for(lock, kIdleWorkerLifetime);
                if (ready.empty() && !closed)
                    break;  // idle too long
                continue;
            }
            auto op = std::move(ready.front());
            ready.pop_front();
            --idleWorkers;
            lock.unlock();
            op->start();
            op.reset();
            lock.lock();
            ++idleWorkers;
        }
        --idleWorkers;
        --workers;
    }

    void operationFinished(VNOperation *op) {
        std::lock_guard lock(mutex);
        auto it = std::find_if(operations.begin(), operations.end(),
                               [op](const auto &o) { return o.get() == op; });
        if (it != operations.end())
            operations.erase(it);
        if (op->m_startedByQueue)
            --running;
        schedule();
        allFinished.notify_all();
    }
};

VNOperationQueue::VNOperationQueue(QString name) : m_state(std::make_shared<State>()) {
    m_state->name = std::move(name);
}

VNOperationQueue::~VNOperationQueue() {
    std::lock_guard lock(m_state->mutex);
    m_state->closed = true;
    m_state->pending.clear();
    m_state->workAvailable.notify_all();
}

const QString &VNOperationQueue::name() const { return m_state->name; }

void VNOperationQueue::setMaxConcurrentOperationCount(int count) {
    std::lock_guard lock(m_state->mutex);
    m_state->maxConcurrent = count;
    m_state->schedule();
}

int VNOperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->maxConcurrent;
}

void VNOperationQueue::setSuspended(bool suspended) {
    std::lock_guard lock(m_state->mutex);
    m_state->suspended = suspended;
    m_state->schedule();
}

bool VNOperationQueue::isSuspended() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->suspended;
}

void VNOperationQueue::addOperation(std::shared_ptr<VNOperation> operation) {
    if (!operation)
        return;
    std::weak_ptr<State> weakState = m_state;
    const bool attached = operation->attachToQueue([weakState](VNOperation *op) {
        if (auto state = weakState.lock())
            state->operationFinished(op);
    });
    if (!attached)
        return;  // already in a queue, or already finished
    std::lock_guard lock(m_state->mutex);
    m_state->operations.push_back(operation);
    m_state->pending.push_back(std::move(operation));
    m_state->schedule();
}

std::shared_ptr<VNBlockOperation> VNOperationQueue::addOperation(std::function<void()> block) {
    auto op = std::make_shared<VNBlockOperation>(std::move(block));
    addOperation(op);
    return op;
}

std::vector<std::shared_ptr<VNOperation>> VNOperationQueue::operations() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->operations;
}

int VNOperationQueue::operationCount() const {
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->operations.size());
}

void VNOperationQueue::cancelAllOperations() {
    for (auto &op : operations())
        op->cancel();
}

void VNOperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(m_state->mutex);
    m_state->allFinished.wait(lock, [this] { return m_state->operations.empty(); });
}

VNOperationQueue &VNOperationQueue::global() {
    static VNOperationQueue *queue = new VNOperationQueue(QStringLiteral("global"));  // lives to the end
    return *queue;
}
