#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// One unit of work for a VNOperationQueue.
//
// A synchronous operation (the default) does its work in main(), on the
// queue's worker thread, and is finished when main() returns. An
// asynchronous operation (isAsynchronous() is true) only begins its work in
// start() and says when it is done by calling setFinished(true); the queue
// keeps its slot taken until then.
class VNOperation : public std::enable_shared_from_this<VNOperation> {
public:
    VNOperation();
    virtual ~VNOperation();

    VNOperation(const VNOperation &) = delete;
    VNOperation &operator=(const VNOperation &) = delete;

    // Runs the operation. The default: a cancelled operation finishes at
    // once; otherwise executing, main(), finished.
    virtual void start();
    // Marks the operation cancelled. Subclasses that are running may stop
    // their work; a queued operation finishes without doing its work.
    virtual void cancel();
    virtual bool isAsynchronous() const { return false; }
    // An operation whose start() belongs on the main thread says so here; a
    // queue then hands it straight to the main thread when its turn comes,
    // instead of waking a worker only for it to hop there.
    virtual bool startsOnMainThread() const { return false; }

    bool isCancelled() const { return m_cancelled.load(); }
    bool isExecuting() const { return m_executing.load(); }
    bool isFinished() const { return m_finished.load(); }

    // Blocks the calling thread until the operation has finished.
    void waitUntilFinished();

    // Calls the observer once, at the first change of isExecuting() after
    // this call (normally when the operation starts), with the new value.
    // Stands in for watching the executing state; one observer at a time.
    void observeExecutingOnce(std::function<void(bool executing)> observer);

    // A short text naming the operation, for logs.
    virtual QString description() const;

protected:
    virtual void main() {}
    void setExecuting(bool executing);
    // Setting true releases the queue slot and wakes waiters; it takes
    // effect once, later calls are ignored.
    void setFinished(bool finished);
    // The plain cancelled mark, without anything a subclass adds to cancel().
    void markCancelled() { m_cancelled.store(true); }

private:
    friend class VNOperationQueue;
    using FinishHook = std::function<void(VNOperation *)>;
    // Called by the queue when the operation is added; at most one queue.
    bool attachToQueue(FinishHook hook);

    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_executing{false};
    std::atomic<bool> m_finished{false};
    std::mutex m_mutex;
    std::condition_variable m_finishedCondition;
    FinishHook m_finishHook;
    std::function<void(bool)> m_executingObserver;
    bool m_attached = false;
    bool m_startedByQueue = false;  // guarded by the queue's own lock
};

// An operation that runs one or more blocks, one after another, in main().
class VNBlockOperation : public VNOperation {
public:
    VNBlockOperation() = default;
    explicit VNBlockOperation(std::function<void()> block);
    void addExecutionBlock(std::function<void()> block);
    QString description() const override;

protected:
    void main() override;

private:
    std::mutex m_blocksMutex;
    std::vector<std::function<void()>> m_blocks;
};
