#pragma once

#include "DA/HTTPFetcher/HFInputStream.h"
#include "DA/HTTPFetcher/HFRunLoop.h"

// Wraps a stream and reports every successful read to an observer (the
// fetcher's request log). Reads pass through unchanged. Reports reach the
// observer on the thread that made the monitor: at once when that thread
// reads, otherwise as a copy of the bytes queued there without waiting.
class HFReadMonitorInputStream : public HFInputStream,
                                 public std::enable_shared_from_this<HFReadMonitorInputStream> {
public:
    // The observer call: the monitor, the bytes read and their count. The
    // bytes are valid during the call only.
    using ReadSelector = std::function<void(HFReadMonitorInputStream &stream, const char *buffer, qint64 length)>;

    // Made on the thread the reports are for. A monitor read on another
    // thread reports only when it is held by a shared pointer, which the
    // queued report keeps alive.
    static std::shared_ptr<HFReadMonitorInputStream> inputStreamWithStream(std::shared_ptr<HFInputStream> inner) {
        return std::make_shared<HFReadMonitorInputStream>(std::move(inner));
    }
    explicit HFReadMonitorInputStream(std::shared_ptr<HFInputStream> inner = nullptr);

    // Reports go out while the delegate lives and a selector is set; the
    // delegate is not owned (a report queued after it died is dropped).
    std::shared_ptr<void> readDelegate() const { return m_readDelegate.lock(); }
    void setReadDelegate(const std::shared_ptr<void> &delegate) { m_readDelegate = delegate; }
    const ReadSelector &readSelector() const { return m_readSelector; }
    void setReadSelector(ReadSelector selector) { m_readSelector = std::move(selector); }

    void open() override;
    void close() override;
    qint64 read(char *buffer, qint64 maxLength) override;
    Status streamStatus() const override;
    QString streamError() const override;
    qint64 length() const override;

    // Makes the fetcher's logging wrap posted streams with this monitor.
    static void registerForFetcherLogging();

private:
    void invokeReadSelectorWithBuffer(const char *buffer, qint64 length);

    std::shared_ptr<HFInputStream> m_inner;
    HFRunLoop m_thread;
    std::weak_ptr<void> m_readDelegate;
    ReadSelector m_readSelector;
};
