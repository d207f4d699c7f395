#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"
#include "support/TestSupport.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

namespace {

// An asynchronous operation that finishes only when told to.
class ManualOperation : public VNOperation {
public:
    bool isAsynchronous() const override { return true; }
    void start() override {
        if (isCancelled()) {
            setFinished(true);
            return;
        }
        setExecuting(true);
        started.store(true);
    }
    void complete() { setFinished(true); }
    std::atomic<bool> started{false};
};

}  // namespace

TEST(OperationQueue, AsynchronousOperationHoldsItsSlotUntilFinished) {
    VNOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<ManualOperation>();
    auto second = std::make_shared<ManualOperation>();
    queue.addOperation(first);
    queue.addOperation(second);
    ASSERT_TRUE(VNTest::waitUntil([&] { return first->started.load(); }));
    VNTest::spin(100);
    EXPECT_FALSE(second->started.load()) << "the second started while the first held the only slot";
    first->complete();
    ASSERT_TRUE(VNTest::waitUntil([&] { return second->started.load(); }));
    second->complete();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, StartsInOrderAddedAndRespectsTheLimit) {
    VNOperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    std::atomic<int> running{0}, peak{0};
    std::mutex orderMutex;
    std::vector<int> order;
    for (int i = 0; i < 20; ++i) {
        queue.addOperation([&, i] {
            {
                std::lock_guard lock(orderMutex);
                order.push_back(i);
            }
            int now = ++running;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {}
            QThread::msleep(5);
            --running;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_LE(peak.load(), 2);
    ASSERT_EQ(order.size(), 20u);
    // With two slots, operation i starts no later than the start of i+2.
    for (int i = 0; i < 20; ++i)
        EXPECT_LE(std::find(order.begin(), order.end(), i) - order.begin(), i + 1);
}

namespace {

// Finishes when told to and notes the thread its start() ran on.
class MainThreadOperation : public ManualOperation {
public:
    bool startsOnMainThread() const override { return true; }
    void start() override {
        startedOnMainThread.store(VNDispatch::isMainThread());
        ManualOperation::start();
    }
    std::atomic<bool> startedOnMainThread{false};
};

}  // namespace

TEST(OperationQueue, MainThreadOperationsStartThereAndStillWaitForTheirSlot) {
    VNOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<MainThreadOperation>();
    auto second = std::make_shared<MainThreadOperation>();
    queue.addOperation(first);
    queue.addOperation(second);
    ASSERT_TRUE(VNTest::waitUntil([&] { return first->started.load(); }));
    EXPECT_TRUE(first->startedOnMainThread.load());
    VNTest::spin(100);
    EXPECT_FALSE(second->started.load()) << "the second started while the first held the only slot";
    // Finished from another thread, as a handler's answer would.
    std::thread([&] { first->complete(); }).join();
    ASSERT_TRUE(VNTest::waitUntil([&] { return second->started.load(); }));
    EXPECT_TRUE(second->startedOnMainThread.load());
    second->complete();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queue.operationCount() == 0; }));
}

TEST(OperationQueue, OperationsFinishingOutOfOrderLeaveTheRestInOrder) {
    VNOperationQueue queue;
    std::vector<std::shared_ptr<ManualOperation>> ops;
    for (int i = 0; i < 5; ++i) {
        ops.push_back(std::make_shared<ManualOperation>());
        queue.addOperation(ops.back());
    }
    ASSERT_TRUE(VNTest::waitUntil([&] {
        return std::all_of(ops.begin(), ops.end(), [](const auto &op) { return op->started.load(); });
    }));
    ops[3]->complete();
    ops[1]->complete();
    const auto left = queue.operations();
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0], ops[0]);
    EXPECT_EQ(left[1], ops[2]);
    EXPECT_EQ(left[2], ops[4]);
    ops[0]->complete();
    ops[2]->complete();
    ops[4]->complete();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, OneAtATimeQueueKeepsUsingTheSameFewThreads) {
    // A worker whose operation has just finished takes the next one itself;
    // no thread per operation, no worker leaving because another got there
    // first.
    VNOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::mutex idsMutex;
    std::set<std::thread::id> ids;
    for (int i = 0; i < 500; ++i)
        queue.addOperation([&] {
            std::lock_guard lock(idsMutex);
            ids.insert(std::this_thread::get_id());
        });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_LE(ids.size(), 2u);
}

TEST(OperationQueue, WaitCoversOperationsAddedMeanwhile) {
    VNOperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::atomic<int> ran{0};
    // Each operation adds the next one, as folder listings add deeper listings.
    std::function<void(int)> chain = [&](int depth) {
        queue.addOperation([&, depth] {
            QThread::msleep(2);
            ++ran;
            if (depth < 10)
                chain(depth + 1);
        });
    };
    chain(0);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 11);
}

TEST(OperationQueue, CancelledBlockOperationNeverRunsItsBlock) {
    VNOperationQueue queue;
    queue.setSuspended(true);
    std::atomic<bool> ran{false};
    auto op = queue.addOperation([&] { ran = true; });
    queue.cancelAllOperations();
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->isCancelled());
    EXPECT_FALSE(ran.load());
}

TEST(OperationQueue, AnOperationHandedOverTwiceRunsOnce) {
    VNOperationQueue first, second;
    std::atomic<int> ran{0};
    auto op = std::make_shared<VNBlockOperation>([&] { ++ran; });
    first.setSuspended(true);
    first.addOperation(op);
    first.addOperation(op);
    second.addOperation(op);
    EXPECT_EQ(first.operationCount(), 1);
    EXPECT_EQ(second.operationCount(), 0);
    first.setSuspended(false);
    first.waitUntilAllOperationsAreFinished();
    second.addOperation(op);  // finished: not run again
    second.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 1);
}

TEST(OperationQueue, SuspendedQueueStartsNothing) {
    VNOperationQueue queue;
    queue.setSuspended(true);
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i)
        queue.addOperation([&] { ++ran; });
    VNTest::spin(150);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(queue.operationCount(), 5);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 5);
}

TEST(OperationQueue, NestedBlockingWaitsDoNotDeadlock) {
    // A serial queue whose operation waits on three inner queues, one of which
    // has an operation waiting on another: the shape of a task's life cycle.
    VNOperationQueue outer, inner, upload;
    outer.setMaxConcurrentOperationCount(1);
    inner.setMaxConcurrentOperationCount(2);
    upload.setMaxConcurrentOperationCount(1);
    std::atomic<int> done{0};
    for (int t = 0; t < 3; ++t) {
        outer.addOperation([&] {
            for (int i = 0; i < 4; ++i) {
                upload.addOperation([&] { QThread::msleep(2); ++done; });
                inner.addOperation([&] { upload.waitUntilAllOperationsAreFinished(); ++done; });
            }
            inner.waitUntilAllOperationsAreFinished();
            upload.waitUntilAllOperationsAreFinished();
        });
    }
    outer.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), 24);
}

TEST(OperationQueue, QueueMayBeDestroyedByItsOwnWorker) {
    auto queue = std::make_shared<VNOperationQueue>();
    std::atomic<bool> ran{false};
    auto holder = queue;
    queue->addOperation([&ran, holder]() mutable { ran = true; holder.reset(); });
    queue.reset();  // the block now holds the last reference
    EXPECT_TRUE(VNTest::waitUntil([&] { return ran.load(); }));
}

namespace {

// Joins a worker that has done its work. One still held up (its test
// failed) is left to end on its own, so that the tests after it still run:
// it shares what it touches through a shared pointer, never the test's own
// stack.
void joinOrLeave(std::thread &worker, bool done) {
    if (done)
        worker.join();
    else
        worker.detach();
}

}  // namespace

TEST(Dispatch, MainSyncFromAWorkerWaitsForTheBlock) {
    struct State {
        std::atomic<int> value{0};
        std::atomic<bool> done{false};
    };
    auto state = std::make_shared<State>();
    std::thread worker([state] {
        VNDispatch::mainSync([&state] { state->value = VNDispatch::isMainThread() ? 7 : -1; });
        state->done = true;
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return state->done.load(); }));
    joinOrLeave(worker, state->done.load());
    EXPECT_EQ(state->value.load(), 7);
}

TEST(Operation, ExecutingObserverHearsTheStartOnce) {
    VNOperationQueue queue;
    auto op = std::make_shared<ManualOperation>();
    std::atomic<int> calls{0};
    std::atomic<bool> seen{false};
    op->observeExecutingOnce([&](bool executing) {
        ++calls;
        seen.store(executing);
    });
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->started.load(); }));
    op->complete();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(seen.load());
}

TEST(Operation, ExecutingObserverOfACancelledOperationIsDropped) {
    auto op = std::make_shared<ManualOperation>();
    std::atomic<int> calls{0};
    op->observeExecutingOnce([&](bool) { ++calls; });
    op->cancel();
    op->start();
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(calls.load(), 0);
}

// A row per thread: each thread's blocks all run, in its order.
TEST(Dispatch, MainAsyncFromManyThreadsRunsEveryBlockInOrder) {
    constexpr int kThreads = 4, kBlocks = 500;
    struct State {
        std::vector<std::vector<int>> seen = std::vector<std::vector<int>>(kThreads);  // main thread only
        std::atomic<int> offMain{0};
    };
    auto state = std::make_shared<State>();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([state, t] {
            for (int i = 0; i < kBlocks; ++i)
                VNDispatch::mainAsync([state, t, i] {
                    if (!VNDispatch::isMainThread())
                        ++state->offMain;
                    state->seen[t].push_back(i);
                });
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_TRUE(VNTest::waitUntil([&] {
        for (auto &s : state->seen)
            if (static_cast<int>(s.size()) < kBlocks)
                return false;
        return true;
    }));
    EXPECT_EQ(state->offMain.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        const std::vector<int> &s = state->seen[t];
        int firstAmiss = -1;  // the first place where a block is missing or out of order
        for (int i = 0; i < kBlocks && firstAmiss < 0; ++i)
            if (i >= int(s.size()) || s[i] != i)
                firstAmiss = i;
        EXPECT_EQ(firstAmiss, -1) << "thread " << t << ": " << s.size() << " blocks ran";
    }
}

TEST(Dispatch, BlocksKeepTheirOrderAcrossANestedEventLoop) {
    auto order = std::make_shared<std::vector<int>>();
    VNDispatch::mainAsync([order] {
        order->push_back(1);
        VNTest::spin(50);  // a nested loop runs the blocks queued behind this one
        order->push_back(3);
    });
    VNDispatch::mainAsync([order] { order->push_back(2); });
    EXPECT_TRUE(VNTest::waitUntil([&] { return order->size() == 3; }));
    EXPECT_EQ(*order, (std::vector<int>{1, 2, 3}));
}

// A worker's batch: nothing reaches the main thread while the batch lives
// (the worker may still hold locks the blocks take), then all of it in order.
TEST(Dispatch, ABatchHandsItsBlocksOverWhenItEndsInTheirOrder) {
    struct State {
        std::vector<int> order;  // main thread only
        std::atomic<int> step{0};
    };
    auto state = std::make_shared<State>();
    std::thread worker([state] {
        {
            VNDispatch::MainBatch batch;
            VNDispatch::MainBatch inner;  // adds nothing
            for (int i = 0; i < 3; ++i)
                VNDispatch::mainAsync([state, i] { state->order.push_back(i); });
            state->step = 1;
            while (state->step.load() != 2)
                std::this_thread::yield();
        }
        VNDispatch::mainAsync([state] { state->order.push_back(3); });
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return state->step.load() == 1; }));
    VNTest::spin(50);  // the main loop turns; the batch still holds its blocks
    EXPECT_TRUE(state->order.empty());
    state->step = 2;  // lets the worker end, whatever came before
    worker.join();
    EXPECT_TRUE(VNTest::waitUntil([&] { return state->order.size() == 4; }));
    EXPECT_EQ(state->order, (std::vector<int>{0, 1, 2, 3}));
}

// mainSync waits for the main thread: inside a batch it must not wait in
// it (a deadlock), and what the batch held runs before it.
TEST(Dispatch, MainSyncInsideABatchRunsAfterTheBlocksBeforeIt) {
    struct State {
        std::vector<int> order;  // main thread only
        std::atomic<bool> done{false};
    };
    auto state = std::make_shared<State>();
    std::thread worker([state] {
        {
            VNDispatch::MainBatch batch;
            VNDispatch::mainAsync([state] { state->order.push_back(1); });
            VNDispatch::mainSync([&state] { state->order.push_back(2); });
            VNDispatch::mainAsync([state] { state->order.push_back(3); });
        }
        state->done = true;
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return state->done.load() && state->order.size() == 3; }));
    joinOrLeave(worker, state->done.load());
    EXPECT_EQ(state->order, (std::vector<int>{1, 2, 3}));
}

// While an answer is expected the main thread watches its queue for a
// moment instead of sleeping, and blocks come without a wake-up byte: a
// block handed over as the watch begins, during it, as it ends and long
// after it still runs, in order. One row per pause before the worker's
// second block.
TEST(Dispatch, BlocksHandedOverAroundTheMainThreadsWatchAllRun) {
    VNDispatch::setAnswerExpected([] { return true; });
    for (const int pauseMicroseconds : {0, 50, 150, 300, 450, 5000}) {
        SCOPED_TRACE(testing::Message() << "pause " << pauseMicroseconds << " µs");
        // Shared with the blocks and the worker: a failed row's may run late.
        struct Row {
            std::vector<int> order;  // main thread only
            std::atomic<bool> first{false};
            std::atomic<bool> over{false};  // the row has ended: the worker stops waiting
            std::thread worker;              // started and joined on the main thread
        };
        auto row = std::make_shared<Row>();
        VNDispatch::mainAsync([row, pauseMicroseconds] {
            if (row->over.load())
                return;
            row->order.push_back(0);
            row->worker = std::thread([row, pauseMicroseconds] {
                // The drain that ran block 0 watches once its queue is empty.
                VNDispatch::mainAsync([row] {
                    row->order.push_back(1);
                    row->first = true;
                });
                while (!row->first.load() && !row->over.load())
                    std::this_thread::yield();
                std::this_thread::sleep_for(std::chrono::microseconds(pauseMicroseconds));
                VNDispatch::mainAsync([row] { row->order.push_back(2); });
            });
        });
        EXPECT_TRUE(VNTest::waitUntil([&] { return row->order.size() == 3; }));
        row->over = true;
        if (row->worker.joinable())
            row->worker.join();
        EXPECT_EQ(row->order, (std::vector<int>{0, 1, 2}));
    }
    VNDispatch::setAnswerExpected(nullptr);
}

namespace {

// One round of the nested-loop test below, shared with its blocks and
// threads (a failed round's blocks may run after it).
struct NestedRound {
    int posted = 0;          // blocks handed over from another thread
    int ranInside = 0;       // of those, run inside the nested loop
    int ranOutside = 0;      // run after it, when it had long given up
    bool inNestedLoop = false;
    bool nestedBlockEnded = false;
};

// Hands a block over to the main thread from another thread, and waits
// until it is handed over (main thread only: the counts are its own).
void postFromAnotherThread(const std::shared_ptr<NestedRound> &round) {
    ++round->posted;
    std::thread([round] {
        VNDispatch::mainAsync([round] {
            if (round->inNestedLoop)
                ++round->ranInside;
            else
                ++round->ranOutside;
        });
    }).join();
}

// The round whose block goes over as the main thread starts on its queue
// (main thread only).
std::shared_ptr<NestedRound> &roundAtDrainStart() {
    static std::shared_ptr<NestedRound> round;
    return round;
}

// The hook runs as the drain lets go of its queue once it has taken its
// wake-up: the block handed over here writes a byte of its own, which must
// still be in the pipe for the nested loop.
void postAtDrainStart() {
    if (auto round = std::exchange(roundAtDrainStart(), nullptr))
        postFromAnotherThread(round);
}

}  // namespace

// A block that runs a nested event loop (a modal alert, a wait that spins
// events) must see every block handed over meanwhile run inside that loop:
// network callbacks and task updates do not wait for it to end. Rows: the
// other thread hands its block over before the main thread starts on its
// queue, just as it starts (once it has taken its wake-up), and while the
// nested loop runs. Each row many times over.
TEST(Dispatch, ABlockHandedOverAroundTheStartOfTheQueueRunsInsideANestedLoop) {
    enum class When { BeforeTheStart, AtTheStart, DuringTheNestedLoop };
    struct Row {
        const char *name;
        When when;
    };
    const Row rows[] = {
        {"handed over before the main thread starts on its queue", When::BeforeTheStart},
        {"handed over as the main thread starts on its queue", When::AtTheStart},
        {"handed over while the nested loop runs", When::DuringTheNestedLoop},
    };
    VNDispatch::setDrainStartedHook(&postAtDrainStart);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        for (int time = 0; time < 25; ++time) {
            auto round = std::make_shared<NestedRound>();
            if (row.when == When::AtTheStart)
                roundAtDrainStart() = round;
            VNDispatch::mainAsync([round, when = row.when] {
                round->inNestedLoop = true;
                if (when == When::DuringTheNestedLoop)
                    postFromAnotherThread(round);
                VNTest::waitUntil([&] { return round->ranInside == round->posted; });
                round->inNestedLoop = false;
                round->nestedBlockEnded = true;
            });
            if (row.when == When::BeforeTheStart)
                postFromAnotherThread(round);
            EXPECT_TRUE(VNTest::waitUntil([&] {
                return round->nestedBlockEnded && round->ranInside + round->ranOutside == round->posted;
            })) << "time " << time;
            roundAtDrainStart() = nullptr;
            EXPECT_EQ(round->posted, 1) << "time " << time;
            EXPECT_EQ(round->ranInside, round->posted) << "time " << time;
            if (round->ranInside != round->posted)
                break;  // once is enough: each failed time waits out the nested loop
        }
    }
    VNDispatch::setDrainStartedHook(nullptr);
}
