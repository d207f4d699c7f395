#include "Core/QNCleanUpOperation.h"

QNCleanUpOperation::QNCleanUpOperation(std::function<void(Done done)> work) : m_work(std::move(work)) {}

void QNCleanUpOperation::start() {
    if (isExecuting() || isFinished())
        return;
    setExecuting(true);
    // A cancel does not skip it: that is when it is needed most.
    auto work = std::move(m_work);
    m_work = nullptr;
    auto self = shared_from_this();
    if (!work) {
        setFinished(true);
        return;
    }
    work([self] { static_cast<QNCleanUpOperation *>(self.get())->setFinished(true); });
}
