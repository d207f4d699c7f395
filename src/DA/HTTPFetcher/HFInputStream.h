#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// A request body read in pieces (the fetchers' "post stream"). Read on the
// network thread, one reader at a time; open() comes first, close() last.
class HFInputStream {
public:
    enum Status { NotOpen, Open, Reading, AtEnd, Closed, Error };
    virtual ~HFInputStream() = default;
    virtual void open() = 0;
    virtual void close() = 0;
    // Up to maxLength bytes; 0 at the end, -1 on an error (streamError()).
    virtual qint64 read(char *buffer, qint64 maxLength) = 0;
    virtual Status streamStatus() const = 0;
    virtual QString streamError() const { return {}; }
    // Total length when known in advance, else -1 (the body is then sent
    // chunked).
    virtual qint64 length() const { return -1; }
};

// A stream over bytes held in memory.
class HFDataInputStream : public HFInputStream {
public:
    explicit HFDataInputStream(QByteArray data) : m_data(std::move(data)) {}
    void open() override { m_status = Open; }
    void close() override { m_status = Closed; }
    qint64 read(char *buffer, qint64 maxLength) override;
    Status streamStatus() const override { return m_status; }
    qint64 length() const override { return m_data.size(); }

private:
    QByteArray m_data;
    qint64 m_offset = 0;
    Status m_status = NotOpen;
};

// Wraps a stream to see each piece read (the request log copies a streamed
// body this way). Another part of the library may register a richer monitor;
// without one, logging reports the streamed body as unavailable.
namespace HFStreamMonitor {
using ReadObserver = std::function<void(const char *bytes, qint64 length)>;
using Factory = std::function<std::shared_ptr<HFInputStream>(std::shared_ptr<HFInputStream> inner, ReadObserver observer)>;
void setFactory(Factory factory);
Factory factory();
}  // namespace HFStreamMonitor
