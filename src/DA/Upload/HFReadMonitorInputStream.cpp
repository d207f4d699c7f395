#include "DA/Upload/HFReadMonitorInputStream.h"

HFReadMonitorInputStream::HFReadMonitorInputStream(std::shared_ptr<HFInputStream> inner)
    : m_inner(std::move(inner)), m_thread(HFRunLoop::current()) {}

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
    if (n <= 0 || !m_readSelector || m_readDelegate.expired())
        return n;
    if (m_thread.isCurrent()) {
        invokeReadSelectorWithBuffer(buffer, n);  // the caller's buffer, no copy
        return n;
    }
    if (auto self = weak_from_this().lock()) {
        m_thread.post([self, bytes = QByteArray(buffer, n)] { self->invokeReadSelectorWithBuffer(bytes.constData(), bytes.size()); });
    }
    return n;
}

void HFReadMonitorInputStream::invokeReadSelectorWithBuffer(const char *buffer, qint64 length) {
    // The delegate is held for the call, so it cannot go away during it.
    if (auto delegate = m_readDelegate.lock(); delegate && m_readSelector)
        m_readSelector(*this, buffer, length);
}

HFInputStream::Status HFReadMonitorInputStream::streamStatus() const { return m_inner ? m_inner->streamStatus() : NotOpen; }
QString HFReadMonitorInputStream::streamError() const { return m_inner ? m_inner->streamError() : QString(); }
qint64 HFReadMonitorInputStream::length() const { return m_inner ? m_inner->length() : 0; }

void HFReadMonitorInputStream::registerForFetcherLogging() {
    HFStreamMonitor::setFactory([](std::shared_ptr<HFInputStream> inner, HFStreamMonitor::ReadObserver observer) {
        auto monitor = inputStreamWithStream(std::move(inner));
        // The observer is its own delegate: it lives as long as the monitor.
        auto delegate = std::make_shared<HFStreamMonitor::ReadObserver>(std::move(observer));
        monitor->setReadSelector([delegate](HFReadMonitorInputStream &, const char *bytes, qint64 length) {
            (*delegate)(bytes, length);
        });
        monitor->setReadDelegate(delegate);
        return std::shared_ptr<HFInputStream>(monitor);
    });
}
