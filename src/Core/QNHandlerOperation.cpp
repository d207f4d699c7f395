#include "Core/QNHandlerOperation.h"

#include "Platform/VNLog.h"

namespace QNOperationAnswers {

VNErrorPtr noHandlerError(const QNDriveConfigPtr &config) {
    const QString service = config ? config->serviceName() : QStringLiteral("(Unknown Service)");
    VNLog::log(QStringLiteral("QNHandlerOperation no handler for a %1 drive").arg(service));
    return QNCloudInterface::makeError(
        QStringLiteral("QNCloudInterface"),
        QStringLiteral("Drives of the kind \"%1\" are not supported by this version.").arg(service));
}

}  // namespace QNOperationAnswers

void QNHandlerCallWatch::called() {
    std::lock_guard lock(m_mutex);
    m_pending = true;
    m_answer = {};
}

void QNHandlerCallWatch::answered(Answer answer) {
    {
        std::lock_guard lock(m_mutex);
        // The first answer stands: a handler letting go of its callback
        // after answering adds nothing.
        if (!m_answer.given)
            m_answer = std::move(answer);
        m_pending = false;
    }
    m_condition.notify_all();
}

QNHandlerCallWatch::Answer QNHandlerCallWatch::answer() {
    std::lock_guard lock(m_mutex);
    return m_answer;
}

bool QNHandlerCallWatch::waitUntilAnswered(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    return m_condition.wait_until(lock, deadline, [this] { return !m_pending; });
}
