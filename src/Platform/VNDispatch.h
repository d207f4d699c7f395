#pragma once

#include <functional>

// The main queue (the Qt main event loop) and the global background queue.
namespace VNDispatch {

bool isMainThread();

// Runs the block later on the main thread.
void mainAsync(std::function<void()> block);

// While one lives on a thread, the blocks that thread gives mainAsync() wait
// and go to the main thread together, in their order, when it ends: one
// wake-up of the main loop instead of one per block, and none while the
// thread still holds locks the blocks take. A thread loop holds one for a
// turn of its work. A batch inside a batch adds nothing.
class MainBatch {
public:
    MainBatch();
    ~MainBatch();
    MainBatch(const MainBatch &) = delete;
    MainBatch &operator=(const MainBatch &) = delete;

    // Hands what this thread's batch holds so far to the main thread now
    // (the batch stays open): before a thread lets others see that some work
    // has ended, the work's last blocks must already be on their way.
    static void handOver();
    // Whether this thread's batch holds blocks for the main thread.
    static bool holdsBlocks();

private:
    bool m_outermost;
};

// Runs the block on the main thread and waits for it; runs it inline when
// called on the main thread (a batch of the calling thread goes first).
void mainSync(const std::function<void()> &block);

// Runs the block on the main thread after the given delay.
void mainAfter(int milliseconds, std::function<void()> block);

// Whether blocks for the main thread are likely within moments (work in
// flight on another thread that answers there): after running its queue the
// main thread then watches for them a moment before it sleeps. One test, set
// by the layer whose thread does such work.
void setAnswerExpected(bool (*expected)());

// For tests: called on the main thread each time it starts running its
// queue, as it lets go of the queue's lock once it has taken the wake-up
// that brought it there (null: none). A block another thread hands over
// from the hook comes after that wake-up, and must bring its own.
void setDrainStartedHook(void (*hook)());

// Runs the block on the global background queue.
void globalAsync(std::function<void()> block);

}  // namespace VNDispatch
