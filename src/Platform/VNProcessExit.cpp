#include "Platform/VNProcessExit.h"

#include "Platform/VNOperationQueue.h"

#include <cstdio>
#include <cstdlib>

namespace VNProcessExit {

int finish(int exitCode, int settleMs) {
    if (VNOperationQueue::settleAllQueues(settleMs))
        return exitCode;
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace VNProcessExit
