#pragma once

#include "DA/HTTPFetcher/HFInputStream.h"

// Wraps a stream and shows every successful read to an observer (the
// fetcher's request log). Reads pass through unchanged.
class HFReadMonitorInputStream : public HFInputStream {
public:
    explicit HFReadMonitorInputStream(std::shared_ptr<HFInputStream> inner) : m_inner(std::move(inner)) {}

    // The observer sees the caller's buffer right after each read, on the
    // reading thread; it must be thread-safe (the fetcher's is).
    void setReadObserver(HFStreamMonitor::ReadObserver observer) { m_observer = std::move(observer); }

    void open() override;
    void close() override;
    qint64 read(char *buffer, qint64 maxLength) override;
    Status streamStatus() const override;
    QString streamError() const override;
    qint64 length() const override;

    // Makes the fetcher's logging wrap posted streams with this monitor.
    static void registerForFetcherLogging();

private:
    std::shared_ptr<HFInputStream> m_inner;
    HFStreamMonitor::ReadObserver m_observer;
};
