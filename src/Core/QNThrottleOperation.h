#pragma once

#include "Platform/VNOperation.h"

#include <memory>

class VNOperationQueue;

// The block operation that follows every download or in-drive copy on a
// task's from queue and waits until the task's to queue has finished all its
// operations, so that downloads do not run far ahead of the uploads (and the
// temporary folder does not fill up). hasRunningOperations() of the task
// leaves these out.
class QNThrottleOperation : public VNBlockOperation {
public:
    using VNBlockOperation::VNBlockOperation;

    // A throttle that waits on the given queue; the queue must outlive it
    // (a task's queues outlive the task's operations).
    static std::shared_ptr<QNThrottleOperation> waitingFor(VNOperationQueue *toQueue);

    QString description() const override { return QStringLiteral("QNThrottleOperation"); }
};
