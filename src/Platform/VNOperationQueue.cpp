#include "VNOperationQueue.h"

#include "VNDispatch.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {
constexpr auto kIdleWorkerLifetime = std::chrono::seconds(10);
// An unlimited queue still stops somewhere; far above what the program uses.
constexpr int kUnlimitedCap = 512;
// How long an idle worker watches for more work before it sleeps.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(50);
}  // namespace

namespace {
// The queue state and operation a worker thread is running, so that an
// operation finishing itself on that worker lets the worker take the next
// one instead of waking another thread for it.
struct WorkerContext {
    const void *state = nullptr;
    const VNOperation *operation = nullptr;
    bool comesBack = false;  // counted in returningWorkers of its queue
};
thread_local WorkerContext t_worker;

// Guards the list of every queue's state (settleAllQueues). Never destroyed:
// detached workers may outlive the statics.
std::mutex &registryMutex() {
    static auto *mutex = new std::mutex;
    return *mutex;
}
}  // namespace

// Shared between the queue object and its worker threads, so that a queue
// may be destroyed from anywhere (even from one of its own workers) without
// joining threads.
struct VNOperationQueue::State : std::enable_shared_from_this<VNOperationQueue::State> {
    QString name;
    mutable std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable allFinished;
    // Unfinished, keyed by the order added: finishing is a lookup, not a
    // scan of everything still queued behind.
    std::map<std::uint64_t, std::shared_ptr<VNOperation>> operations;
    std::uint64_t nextSequence = 0;
    std::deque<std::shared_ptr<VNOperation>> pending;      // not yet started
    std::deque<std::shared_ptr<VNOperation>> ready;        // started, waiting for a worker
    int maxConcurrent = DefaultMaxConcurrentOperationCount;
    int running = 0;  // slots taken: handed to a worker and not finished
    int workers = 0;
    int idleWorkers = 0;
    // Workers whose operation has finished itself and that look at ready
    // again without being woken.
    int returningWorkers = 0;
    int spinningWorkers = 0;  // idle, watching readyCount before they sleep
    std::atomic<std::size_t> readyCount{0};  // ready.size(), readable without the mutex
    bool suspended = false;
    bool closed = false;

    int limit() const { return maxConcurrent < 0 ? kUnlimitedCap : std::max(maxConcurrent, 0); }

    // Moves pending operations into free slots. Called with the mutex held.
    void schedule() {
        int handedToWorkers = 0;
        while (!suspended && !closed && !pending.empty() && running < limit()) {
            auto op = std::move(pending.front());
            pending.pop_front();
            op->m_startedByQueue = true;
            ++running;
            if (op->startsOnMainThread()) {
                // Its start() runs there anyway; no worker in between.
                VNDispatch::mainAsync([op = std::move(op)] { op->start(); });
                continue;
            }
            ready.push_back(std::move(op));
            readyCount.store(ready.size(), std::memory_order_release);
            ++handedToWorkers;
        }
        if (handedToWorkers == 0)
            return;
        // Workers on their way back or watching for work take these without
        // a wake-up.
        const int uncovered = static_cast<int>(ready.size()) - returningWorkers - spinningWorkers;
        if (uncovered <= 0)
            return;
        while (idleWorkers - spinningWorkers < uncovered)
            spawnWorker();
        for (int i = 0; i < std::min(handedToWorkers, uncovered); ++i)
            workAvailable.notify_one();
    }

    void spawnWorker() {
        ++workers;
        ++idleWorkers;
        std::thread([self = shared_from_this()] {
            self->workerLoop();
            // Passing through the registry's lock before letting go of the
            // state: settleAllQueues, finding the state gone, then knows
            // this worker's last work is done (the thread sanitizer too).
            std::lock_guard lock(registryMutex());
        }).detach();
    }

    // A worker that has just run out of work watches for more a short
    // while before it sleeps: chains of short operations (one file after
    // another) then go on without a wake-up through the kernel each time.
    // Called and returns with the mutex held; true when work came.
    bool spinForWork(std::unique_lock<std::mutex> &lock) {
        ++spinningWorkers;
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
        bool seen = false;
        while (!(seen = readyCount.load(std::memory_order_acquire) > 0) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        lock.lock();
        --spinningWorkers;
        return seen || !ready.empty();
    }

    void workerLoop() {
        std::unique_lock lock(mutex);
        for (;;) {
            if (ready.empty()) {
                if (closed)
                    break;
                if (spinForWork(lock))
                    continue;
                // Woken for work another worker took first is no reason to
                // go; only a whole idle period is.
                const auto deadline = std::chrono::steady_clock::now() + kIdleWorkerLifetime;
                if (!workAvailable.wait_until(lock, deadline, [this] { return !ready.empty() || closed; }))
                    break;  // idle too long
                continue;
            }
            auto op = std::move(ready.front());
            ready.pop_front();
            readyCount.store(ready.size(), std::memory_order_release);
            --idleWorkers;
            lock.unlock();
            t_worker = {this, op.get(), false};
            op->start();
            const bool comesBack = t_worker.comesBack;
            t_worker = {};
            op.reset();
            lock.lock();
            if (comesBack)
                --returningWorkers;
            ++idleWorkers;
        }
        --idleWorkers;
        --workers;
    }

    void operationFinished(VNOperation *op, std::uint64_t sequence) {
        std::lock_guard lock(mutex);
        operations.erase(sequence);
        if (op->m_startedByQueue)
            --running;
        if (t_worker.state == this && t_worker.operation == op && !t_worker.comesBack) {
            // Finished inside start() on our own worker, which is on its way
            // back for more.
            t_worker.comesBack = true;
            ++returningWorkers;
        }
        schedule();
        if (operations.empty())
            allFinished.notify_all();
    }
};

namespace {

// Every queue's state, for settling them at exit. Never destroyed: detached
// workers may outlive the statics.
std::vector<std::weak_ptr<VNOperationQueue::State>> &registry() {
    static auto *states = new std::vector<std::weak_ptr<VNOperationQueue::State>>;
    return *states;
}

}  // namespace

VNOperationQueue::VNOperationQueue(QString name) : m_state(std::make_shared<State>()) {
    m_state->name = std::move(name);
    std::lock_guard lock(registryMutex());
    auto &states = registry();
    states.erase(std::remove_if(states.begin(), states.end(), [](const auto &s) { return s.expired(); }), states.end());
    states.push_back(m_state);
}

bool VNOperationQueue::settleAllQueues(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool busy = false;
        {
            std::lock_guard lock(registryMutex());
            for (const auto &weak : registry()) {
                const auto state = weak.lock();
                if (!state)
                    continue;
                std::lock_guard stateLock(state->mutex);
                // A worker not idle is running an operation or letting go of it.
                busy = busy || !state->ready.empty() || state->workers > state->idleWorkers;
            }
        }
        if (!busy)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Their answers may be waiting for the main queue.
        if (QCoreApplication::instance() && VNDispatch::isMainThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(m_state->mutex);
        sequence = m_state->nextSequence++;
    }
    const bool attached = operation->attachToQueue([weakState, sequence](VNOperation *op) {
        if (auto state = weakState.lock())
            state->operationFinished(op, sequence);
    });
    if (!attached)
        return;  // already in a queue, or already finished
    std::lock_guard lock(m_state->mutex);
    m_state->operations.emplace(sequence, operation);
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
    std::vector<std::shared_ptr<VNOperation>> out;
    out.reserve(m_state->operations.size());
    for (const auto &[sequence, op] : m_state->operations)
        out.push_back(op);
    return out;
}

int VNOperationQueue::operationCount() const {
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->operations.size());
}

void VNOperationQueue::cancelAllOperations() {
    for (auto &op : operations())
        op->cancel();
}

bool VNOperationQueue::isCurrentQueue() const { return t_worker.state == m_state.get(); }

void VNOperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(m_state->mutex);
    m_state->allFinished.wait(lock, [this] { return m_state->operations.empty(); });
}

VNOperationQueue &VNOperationQueue::global() {
    static VNOperationQueue *queue = new VNOperationQueue(QStringLiteral("global"));  // lives to the end
    return *queue;
}
