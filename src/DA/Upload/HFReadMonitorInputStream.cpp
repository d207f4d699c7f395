#include "DA/Upload/HFReadMonitorInputStream.h"

void HFReadMonitorInputStream::open() {
    if (m_inner)
        m_inner->open();
}

void HFReadMonitorInputStream::close() {
    if (m_inner)
        m_inner->close();
}

qint64 HFReadMonitorInputStream::read(char *buffer, qint64 maxLength) {
    if (!m_inner)
        return 0;
    const qint64 n = m_inner->read(buffer, maxLength);
    if (n > 0 && m_observer)
        m_observer(buffer, n);
    return n;
}

HFInputStream::Status HFReadMonitorInputStream::streamStatus() const { return m_inner ? m_inner->streamStatus() : NotOpen; }
QString HFReadMonitorInputStream::streamError() const { return m_inner ? m_inner->streamError() : QString(); }
qint64 HFReadMonitorInputStream::length() const { return m_inner ? m_inner->length() : 0; }

void HFReadMonitorInputStream::registerForFetcherLogging() {
    HFStreamMonitor::setFactory([](std::shared_ptr<HFInputStream> inner, HFStreamMonitor::ReadObserver observer) {
        auto monitor = std::make_shared<HFReadMonitorInputStream>(std::move(inner));
        monitor->setReadObserver(std::move(observer));
        return std::shared_ptr<HFInputStream>(monitor);
    });
}
