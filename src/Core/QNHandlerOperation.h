#pragma once

#include "Core/QNCloudInterface.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperation.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// The answers an operation gives on its own: cancelled (every result null,
// the cancelled flag set) and "no handler" (the error, not cancelled).
namespace QNOperationAnswers {
inline void cancelled(const QNLoginCallback &cb) {
    if (cb)
        cb(false, nullptr, true);
}
inline void cancelled(const QNListCallback &cb) {
    if (cb)
        cb({}, QString(), nullptr, true);
}
inline void cancelled(const QNDocumentCallback &cb) {
    if (cb)
        cb(nullptr, nullptr, true);
}
inline void failed(const QNLoginCallback &cb, const VNErrorPtr &e, const QString &) {
    if (cb)
        cb(false, e, false);
}
inline void failed(const QNListCallback &cb, const VNErrorPtr &e, const QString &keyword) {
    if (cb)
        cb({}, keyword, e, false);
}
inline void failed(const QNDocumentCallback &cb, const VNErrorPtr &e, const QString &) {
    if (cb)
        cb(nullptr, e, false);
}
// The error of a drive whose kind has no handler.
VNErrorPtr noHandlerError(const QNDriveConfigPtr &config);
// The error and the cancelled flag of an answer, whatever its callback kind.
inline std::pair<VNErrorPtr, bool> outcomeOf(bool, const VNErrorPtr &e, bool c) {
    return {e, c};
}
inline std::pair<VNErrorPtr, bool> outcomeOf(const QNDocumentList &, const QString &, const VNErrorPtr &e, bool c) {
    return {e, c};
}
inline std::pair<VNErrorPtr, bool> outcomeOf(const QNDocumentPtr &, const VNErrorPtr &e, bool c) {
    return {e, c};
}
}  // namespace QNOperationAnswers

// Whether a handler, once called, has given its own answer, and what it
// answered. A cancel answers for the handler at once, while the handler may
// still be putting its drive right (removing an unfinished upload) or
// running a request to the drive's answer (a rename once sent); whoever must
// see the drive after that waits here for the handler's own, later answer.
class QNHandlerCallWatch {
public:
    // The handler's own answer, as far as a caller past its cancel needs it.
    struct Answer {
        bool given = false;      // false: none yet, or the handler let go without one
        VNErrorPtr error;
        bool cancelled = false;
        bool succeeded() const { return given && !error && !cancelled; }
    };

    void called();
    // The handler answered, or let go of its callback without a word.
    void answered(Answer answer);
    void answered() { answered(Answer()); }
    // False when the bound passed with the handler still silent.
    bool waitUntilAnswered(std::chrono::steady_clock::time_point deadline);
    Answer answer();

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_pending = false;
    Answer m_answer;
};

// What every handler operation offers whatever its callback type.
class QNHandlerCall : public VNOperation {
public:
    const std::shared_ptr<QNHandlerCallWatch> &handlerCallWatch() const { return m_watch; }

private:
    std::shared_ptr<QNHandlerCallWatch> m_watch = std::make_shared<QNHandlerCallWatch>();
};

// One handler call as an asynchronous operation: the constructor asks the
// drive configuration for a fresh handler; start() (always on the main
// thread; from elsewhere it hops there and returns) calls the handler; the
// first answer, the handler's own or the cancelled one that cancel() gives
// for an executing operation, reaches the completion callback, exactly once,
// on the thread it comes from, and the operation then finishes. Later answers
// reach only the handler call watch. The operation holds its queue slot from
// start to finish.
//
// An operation cancelled before it started answers as cancelled when its
// queue reaches it, every kind alike: whoever queued it (a move waiting to
// remove its source, a check waiting to remove its check folder) hears of
// the cancel once and can put things right, instead of waiting for an answer
// that never comes.
//
// A drive that yields no handler answers at once with a "not supported"
// error instead of leaving its caller waiting.
template <typename Callback>
class QNHandlerOperation : public QNHandlerCall {
public:
    using CompletedBlock = Callback;

    bool isAsynchronous() const override { return true; }
    bool startsOnMainThread() const override { return true; }

    void start() override {
        if (!VNDispatch::isMainThread()) {
            auto self = shared_from_this();
            VNDispatch::mainAsync([self] { self->start(); });
            return;
        }
        if (m_started || isFinished())
            return;
        m_started = true;
        if (isCancelled()) {
            // Answered before the slot goes, as any answer is: what the
            // answer queues is there before the task sees its queues empty.
            QNOperationAnswers::cancelled(takeCompleted());
            setFinished(true);
            return;
        }
        setExecuting(true);
        auto claim = std::make_shared<Claim>();
        claim->operation = std::static_pointer_cast<QNHandlerOperation>(shared_from_this());
        {
            std::lock_guard lock(m_mutex);
            m_claim = claim;
        }
        if (!m_cloudInterface) {
            if (auto op = claimAnswer(claim)) {
                QNOperationAnswers::failed(op->takeCompleted(), QNOperationAnswers::noHandlerError(m_driveConfig),
                                           keywordForErrors());
                op->setFinished(true);
            }
            return;
        }
        // The inner callback keeps the operation alive until the first
        // answer. Every answer, a late one too, tells the watch, and so does
        // a handler that lets go of the callback without answering.
        auto watch = handlerCallWatch();
        watch->called();
        std::shared_ptr<void> letGo(nullptr, [watch](void *) { watch->answered(); });
        Callback inner = [claim, watch, letGo](auto... args) {
            const auto [error, cancelled] = QNOperationAnswers::outcomeOf(args...);
            if (auto op = claimAnswer(claim)) {
                if (auto cb = op->takeCompleted())
                    cb(args...);
                op->setFinished(true);
            }
            watch->answered({true, error, cancelled});
        };
        letGo.reset();
        callHandler(*m_cloudInterface, std::move(inner));
    }

    void cancel() override {
        markCancelled();
        if (!VNDispatch::isMainThread()) {
            auto self = shared_from_this();
            VNDispatch::mainAsync([self] { self->cancel(); });
            return;
        }
        if (!isExecuting())
            return;
        std::shared_ptr<Claim> claim;
        {
            std::lock_guard lock(m_mutex);
            claim = m_claim;
        }
        if (!claim)
            return;
        // A handler running a request to the drive's answer (a rename once
        // sent) is left to it: cut off, the request might still be carried
        // out, unknown to all. The caller has its cancelled answer below.
        if (m_cloudInterface && !m_cloudInterface->runsToItsAnswer())
            m_cloudInterface->cancel();
        if (auto op = claimAnswer(claim)) {
            QNOperationAnswers::cancelled(op->takeCompleted());
            op->setFinished(true);
        }
    }

    // The handler this operation calls (null for a drive of no supported kind).
    QNCloudInterfacePtr cloudInterface() const { return m_cloudInterface; }
    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }

protected:
    QNHandlerOperation(const QNDriveConfigPtr &config, Callback completed)
        : m_driveConfig(config), m_completed(std::move(completed)) {
        if (config)
            m_cloudInterface = config->createCloudInterface();
    }

    // Calls the handler's operation with the inner callback.
    virtual void callHandler(QNCloudInterface &handler, Callback inner) = 0;
    // The keyword handed back with a "no handler" error (list operation).
    virtual QString keywordForErrors() const { return {}; }

private:
    struct Claim {
        std::mutex mutex;
        std::shared_ptr<QNHandlerOperation> operation;
    };
    // The first caller gets the operation; everyone after gets null.
    static std::shared_ptr<QNHandlerOperation> claimAnswer(const std::shared_ptr<Claim> &claim) {
        std::lock_guard lock(claim->mutex);
        return std::move(claim->operation);
    }
    Callback takeCompleted() {
        std::lock_guard lock(m_mutex);
        Callback out = std::move(m_completed);
        m_completed = nullptr;
        return out;
    }

    QNDriveConfigPtr m_driveConfig;
    QNCloudInterfacePtr m_cloudInterface;
    std::mutex m_mutex;
    Callback m_completed;
    std::shared_ptr<Claim> m_claim;
    bool m_started = false;  // main thread only
};
