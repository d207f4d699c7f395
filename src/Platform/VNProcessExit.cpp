#include "Platform/VNProcessExit.h"

#include "Platform/VNOperationQueue.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace VNProcessExit {

namespace {

struct Steps {
    std::mutex mutex;
    std::vector<std::function<void()>> steps;
};

// Never destroyed: registered from anywhere, read at the very end.
Steps &steps() {
    static auto *s = new Steps;
    return *s;
}

}  // namespace

void beforeExit(std::function<void()> step) {
    std::lock_guard lock(steps().mutex);
    steps().steps.push_back(std::move(step));
}

int finish(int exitCode, int settleMs) {
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(steps().mutex);
        due.swap(steps().steps);
    }
    for (const auto &step : due)
        step();
    if (VNOperationQueue::settleAllQueues(settleMs))
        return exitCode;
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace VNProcessExit
