#include "VNDispatch.h"

#include "VNAnswerWatch.h"
#include "VNOperationQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace VNDispatch {

bool isMainThread() {
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {

// Blocks for the main thread wait in our own queue, guarded by a std::mutex,
// and a pipe wakes the main loop through a socket notifier. Many threads
// hand blocks over at once; going through Qt's own event queue instead would
// hide that hand-off from the thread sanitizer (Qt is not instrumented).
struct MainQueue {
    std::mutex mutex;
    std::deque<std::function<void()>> blocks;
    int fd = -1;       // read end of the wake-up pipe
    int wakeFd = -1;   // its write end
    bool wakePending = false;  // a byte is in the pipe (mutex)
    bool watching = false;     // the main thread watches the queue instead of sleeping (mutex)
    std::atomic<bool> hasBlocks{false};      // blocks wait, seen without the lock
    std::atomic<bool (*)()> answerExpected{nullptr};
    std::atomic<void (*)()> drainStarted{nullptr};  // see setDrainStartedHook
    // A small request's answer over loopback or a near network comes within
    // a few hundred microseconds (main thread only).
    VNAnswerWatch answerWatch{std::chrono::microseconds(300)};
    bool installed = false;
    QPointer<QSocketNotifier> notifier;  // main thread only
};

MainQueue &mainQueue() {
    static auto *queue = new MainQueue;  // lives to the end
    return *queue;
}

// A byte in the pipe makes the main loop look at the queue. A pipe rather
// than an eventfd: the kernel wakes a pipe's reader as one the writer
// hands over to, so the main thread tends to run where the writer (the
// network thread, about to sleep) runs, instead of waking a sleeping core.
// A full pipe is readable already. One byte at a time is enough: while
// one waits, the main loop is bound to look at the queue anyway.
// Whether the caller writes the byte (mutex held).
bool claimWake(MainQueue &q) {
    if (q.wakePending || q.watching)
        return false;
    q.wakePending = true;
    return true;
}

void writeWake(MainQueue &q) {
    const char one = 1;
    (void)::write(q.wakeFd, &one, 1);
}

// Mutex held.
void wakeMain(MainQueue &q) {
    if (claimWake(q))
        writeWake(q);
}

void emptyWakePipe(MainQueue &q) {
    char drained[64];
    while (::read(q.fd, drained, sizeof drained) == ssize_t(sizeof drained)) {
    }
}

// With work in flight that answers on the main thread, its answer usually
// comes within moments: the main thread watches for it a while before it
// goes to sleep. Writers hand blocks over without the pipe while it
// watches. Returns with the lock held: whether blocks came.
bool watchForBlocks(MainQueue &q, std::unique_lock<std::mutex> &lock) {
    const auto expected = q.answerExpected.load(std::memory_order_relaxed);
    if (!expected || !expected())
        return false;
    q.watching = true;
    lock.unlock();
    q.answerWatch.watch([&q] { return q.hasBlocks.load(std::memory_order_acquire); });
    lock.lock();
    q.watching = false;
    return !q.blocks.empty();
}

// The drain's hold on the queue while it takes the wake-up that brought it
// there. The test hook (setDrainStartedHook) runs as it lets go: tied to the
// unlock itself, it comes at the first moment another thread can hand a
// block over once the flag is cleared, before anything the drain does after.
class WakeTaking {
public:
    explicit WakeTaking(MainQueue &q) : m_queue(q), m_lock(q.mutex) {}
    ~WakeTaking() {
        m_lock.unlock();
        if (const auto started = m_queue.drainStarted.load(std::memory_order_relaxed))
            started();
    }
    WakeTaking(const WakeTaking &) = delete;
    WakeTaking &operator=(const WakeTaking &) = delete;

private:
    MainQueue &m_queue;
    std::unique_lock<std::mutex> m_lock;
};

// Runs the waiting blocks one at a time, in the order given, so that a
// block that spins a nested event loop still sees the others in order.
void drainMainQueue() {
    auto &q = mainQueue();
    {
        // The flag and the pipe in one step: a byte read apart from its flag
        // would leave the flag set with no byte behind it, and no block
        // handed over while this drain runs (a nested loop of one of its
        // blocks waiting for them) would write one.
        WakeTaking taking(q);
        q.wakePending = false;
        emptyWakePipe(q);
    }
    for (;;) {
        std::function<void()> block;
        {
            std::unique_lock lock(q.mutex);
            if (q.blocks.empty() && !q.watching && watchForBlocks(q, lock))
                continue;
            if (q.blocks.empty()) {
                // The byte left for a nested loop that none of the blocks
                // ran would only bring another look at an empty queue.
                if (q.wakePending) {
                    q.wakePending = false;
                    emptyWakePipe(q);
                }
                return;
            }
            block = std::move(q.blocks.front());
            q.blocks.pop_front();
            q.hasBlocks.store(!q.blocks.empty(), std::memory_order_relaxed);
            if (!q.blocks.empty()) {
                // Wakes a nested event loop that this block may run (once
                // for the rest of the queue).
                wakeMain(q);
            }
        }
        if (block)
            block();
    }
}

// Runs on the main thread when the application object is made.
void installMainQueue() {
    auto &q = mainQueue();
    auto *app = QCoreApplication::instance();
    std::lock_guard lock(q.mutex);
    if (q.installed || !app)
        return;
    if (q.fd < 0) {
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
            q.fd = ends[0];
            q.wakeFd = ends[1];
        }
    }
    if (q.fd < 0)
        return;  // Qt's own queue then carries the blocks
    q.notifier = new QSocketNotifier(q.fd, QSocketNotifier::Read, app);
    QObject::connect(q.notifier.data(), &QSocketNotifier::activated, app, [] { drainMainQueue(); });
    q.installed = true;
    if (!q.blocks.empty())
        wakeMain(q);  // mutex held
}

// This thread's batch.
struct Batch {
    bool open = false;
    std::vector<std::function<void()>> blocks;
};
thread_local Batch t_batch;

// Queues the blocks for the main thread and wakes it once.
void postToMain(std::span<std::function<void()>> blocks) {
    auto *app = QCoreApplication::instance();
    if (!app || blocks.empty())
        return;  // no event loop: the process is going away
    auto &q = mainQueue();
    bool wake;
    {
        std::lock_guard lock(q.mutex);
        if (!q.installed) {
            for (auto &block : blocks)
                QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
            return;
        }
        for (auto &block : blocks)
            q.blocks.push_back(std::move(block));
        q.hasBlocks.store(true, std::memory_order_release);
        wake = claimWake(q);
    }
    if (wake)
        writeWake(q);
}

void flushBatch() {
    if (t_batch.blocks.empty())
        return;
    postToMain(t_batch.blocks);
    t_batch.blocks.clear();  // moved from; keeps its room
}

}  // namespace

MainBatch::MainBatch() : m_outermost(!t_batch.open) {
    t_batch.open = true;
}

MainBatch::~MainBatch() {
    if (!m_outermost)
        return;
    t_batch.open = false;
    flushBatch();
}

void MainBatch::handOver() {
    flushBatch();
}

bool MainBatch::holdsBlocks() {
    return t_batch.open && !t_batch.blocks.empty();
}

void mainAsync(std::function<void()> block) {
    if (t_batch.open) {
        t_batch.blocks.push_back(std::move(block));
        return;
    }
    postToMain({&block, 1});
}

void mainSync(const std::function<void()> &block) {
    if (isMainThread()) {
        block();
        return;
    }
    if (!QCoreApplication::instance())
        return;
    // Our own hand-off rather than a blocking queued call, so that the wait
    // is visible to the thread sanitizer (Qt itself is not instrumented).
    struct Handoff {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto handoff = std::make_shared<Handoff>();
    // Waiting on the main thread: what this thread handed over before goes
    // first, and this block cannot wait in the batch.
    flushBatch();
    std::function<void()> run = [handoff, &block] {
        block();
        std::lock_guard lock(handoff->mutex);
        handoff->finished = true;
        handoff->done.notify_all();
    };
    postToMain({&run, 1});
    std::unique_lock lock(handoff->mutex);
    handoff->done.wait(lock, [&] { return handoff->finished; });
}

void mainAfter(int milliseconds, std::function<void()> block) {
    mainAsync([milliseconds, block = std::move(block)]() mutable {
        QTimer::singleShot(milliseconds, QCoreApplication::instance(), std::move(block));
    });
}

void setAnswerExpected(bool (*expected)()) {
    mainQueue().answerExpected.store(expected);
}

void setDrainStartedHook(void (*hook)()) {
    mainQueue().drainStarted.store(hook);
}

void globalAsync(std::function<void()> block) {
    VNOperationQueue::global().addOperation(std::move(block));
}

}  // namespace VNDispatch

// The main thread's queue is set up as the application object is made.
static void installVarnelloMainQueue() {
    VNDispatch::installMainQueue();
}
Q_COREAPP_STARTUP_FUNCTION(installVarnelloMainQueue)
