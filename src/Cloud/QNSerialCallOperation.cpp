#include "Cloud/QNSerialCallOperation.h"

#include "Platform/VNDispatch.h"

QNSerialCallOperation::QNSerialCallOperation(Body body) : m_body(std::move(body)) {}

void QNSerialCallOperation::start() {
    auto self = std::static_pointer_cast<QNSerialCallOperation>(shared_from_this());
    if (!VNDispatch::isMainThread()) {
        VNDispatch::mainAsync([self] { self->start(); });
        return;
    }
    Body body;
    {
        std::lock_guard lock(m_mutex);
        if (m_started)
            return;
        m_started = true;
        body = m_body;
    }
    setExecuting(true);
    body([self] { self->finish(); });
}

void QNSerialCallOperation::finish() {
    Body body;
    {
        std::lock_guard lock(m_mutex);
        body = std::exchange(m_body, nullptr);
    }
    if (!body)
        return;  // done once already
    setExecuting(false);
    setFinished(true);
    // The call's captures (the handler among them) go away on a later turn,
    // never inside the queue's own bookkeeping.
    VNDispatch::mainAsync([body = std::move(body)] {});
}
