#pragma once

#include "DA/HTTPFetcher/HFInputStream.h"

#include <QList>

// Reads a list of byte buffers one after the other, in place, without
// joining them: an upload body costs no more memory than its parts.
class HFGatherInputStream : public HFInputStream {
public:
    explicit HFGatherInputStream(QList<QByteArray> buffers);
    static std::shared_ptr<HFGatherInputStream> streamWithArray(QList<QByteArray> buffers) {
        return std::make_shared<HFGatherInputStream>(std::move(buffers));
    }

    void open() override;
    // Drops the buffers.
    void close() override;
    // Fills the caller's buffer across buffer borders; 0 once all is read
    // (the status is then AtEnd).
    qint64 read(char *buffer, qint64 maxLength) override;
    // The buffers are not one block, so there is no direct access to them;
    // a read always answers (0 at the end).
    bool getBuffer(const char **buffer, qint64 *length) const {
        Q_UNUSED(buffer);
        Q_UNUSED(length);
        return false;
    }
    bool hasBytesAvailable() const { return true; }
    Status streamStatus() const override { return m_status; }
    // The sum of the buffers' lengths.
    qint64 length() const override { return m_length; }

private:
    QList<QByteArray> m_buffers;
    qsizetype m_index = 0;
    qint64 m_offset = 0;
    qint64 m_length = 0;
    Status m_status = NotOpen;
};
