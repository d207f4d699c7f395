#include "Core/QNAliasCheckOperation.h"

QNAliasCheckOperation::QNAliasCheckOperation(std::shared_ptr<QNAliasCheck> check, QNAliasCheck::Finished finished,
                                             std::function<void()> standing)
    : m_check(std::move(check)), m_finished(std::move(finished)), m_standing(std::move(standing)) {}

void QNAliasCheckOperation::start() {
    if (isExecuting() || isFinished())
        return;
    setExecuting(true);
    if (isCancelled())
        m_check->cancel();  // it then answers cancelled at once, having made nothing
    auto self = std::static_pointer_cast<QNAliasCheckOperation>(shared_from_this());
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    auto answered = [self, finished](const QNAliasCheck::Outcome &outcome) {
        // Answered before the slot goes: what the answer queues is there
        // before the task sees its queue empty.
        if (finished)
            finished(outcome);
        self->setFinished(true);
    };
    if (!m_standing) {
        m_check->start(answered);
        return;
    }
    auto standing = std::move(m_standing);
    m_standing = nullptr;
    m_check->start(answered, [self, standing] {
        standing();
        self->setFinished(true);
    });
}

void QNAliasCheckOperation::cancel() {
    VNOperation::cancel();
    m_check->cancel();
}
