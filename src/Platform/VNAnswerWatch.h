#pragma once

#include <chrono>
#include <thread>

// A thread that has handed work to another and expects the answer within
// moments watches for it (yielding meanwhile) before it sleeps, as being
// woken through the kernel costs more than a short wait. A watch that ends
// without the answer (a distant server, a long transfer, an event that
// answers nothing) is CPU spent for nothing: after a few such watches in a
// row the thread sleeps at once, and only now and then watches again to
// learn whether answers come quickly once more. One thread uses each.
class VNAnswerWatch {
public:
    explicit VNAnswerWatch(std::chrono::microseconds longest) : m_longest(longest) {}

    // Watches until answered() holds or the watch is over: whether it held.
    template <typename Answered>
    bool watch(Answered &&answered) {
        const auto length = nextWatch();
        if (length.count() == 0)
            return answered();
        const auto until = std::chrono::steady_clock::now() + length;
        for (;;) {
            if (answered()) {
                record(true);
                return true;
            }
            if (std::chrono::steady_clock::now() >= until) {
                record(false);
                return false;
            }
            std::this_thread::yield();
        }
    }

    // The rule alone: how long the next watch lasts (zero: none), and how it
    // ended.
    std::chrono::microseconds nextWatch();
    void record(bool answered);

    // Watches in a row that may end without the answer before the thread
    // stops watching; then every this many chances one watch tries again.
    static constexpr int missesBeforeResting = 3;
    static constexpr int chancesPerTrial = 16;

private:
    std::chrono::microseconds m_longest;
    int m_misses = 0;   // the last watches that ended without the answer
    int m_skipped = 0;  // chances passed up since resting began or the last trial
};
