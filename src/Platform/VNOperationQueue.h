#pragma once

#include "VNOperation.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// A queue that starts its operations in the order added, at most
// maxConcurrentOperationCount() at a time, on worker threads it owns.
//
// The rest of the program blocks queue workers on purpose (a task's life
// cycle waits on its own queues for minutes), so every queue has threads of
// its own and never borrows from a shared pool: a shared pool with as many
// threads as cores deadlocks on a small machine. Workers that stay idle for a
// while go away; a queue that is destroyed lets running operations finish
// and drops the ones that never started.
class VNOperationQueue {
public:
    static constexpr int DefaultMaxConcurrentOperationCount = -1;  // no limit

    explicit VNOperationQueue(QString name = {});
    ~VNOperationQueue();

    VNOperationQueue(const VNOperationQueue &) = delete;
    VNOperationQueue &operator=(const VNOperationQueue &) = delete;

    const QString &name() const;

    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // A suspended queue starts nothing new; running operations go on.
    void setSuspended(bool suspended);
    bool isSuspended() const;

    // An operation joins one queue once: one already in a queue, or already
    // finished, is not added again.
    void addOperation(std::shared_ptr<VNOperation> operation);
    // Wraps the block in a VNBlockOperation, adds it and returns it.
    std::shared_ptr<VNBlockOperation> addOperation(std::function<void()> block);

    // The operations added and not yet finished, in the order added.
    std::vector<std::shared_ptr<VNOperation>> operations() const;
    int operationCount() const;

    // Sends cancel() to every operation not yet finished.
    void cancelAllOperations();

    // True on one of this queue's workers while it runs an operation.
    bool isCurrentQueue() const;

    // Blocks until the queue holds no unfinished operation, including those
    // added while waiting (from one of its own workers, forever).
    void waitUntilAllOperationsAreFinished();

    // The process-wide queue for background blocks (in place of the global
    // dispatch queues): no practical limit on concurrency.
    static VNOperationQueue &global();

    // At the end of main: waits, running the main queue, up to the time given
    // for every queue's workers to be idle; true when they are. Workers are
    // detached threads, so a process must not run its static destructors
    // while one is still busy (VNProcessExit does the rest).
    static bool settleAllQueues(int timeoutMs);

    struct State;

private:
    std::shared_ptr<State> m_state;
};
