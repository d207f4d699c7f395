#include "Core/QNThrottleOperation.h"

#include "Platform/VNOperationQueue.h"

std::shared_ptr<QNThrottleOperation> QNThrottleOperation::waitingFor(VNOperationQueue *toQueue) {
    return std::make_shared<QNThrottleOperation>([toQueue] {
        if (toQueue)
            toQueue->waitUntilAllOperationsAreFinished();
    });
}
