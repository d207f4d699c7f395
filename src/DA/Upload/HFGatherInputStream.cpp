#include "DA/Upload/HFGatherInputStream.h"

#include <cstring>

HFGatherInputStream::HFGatherInputStream(QList<QByteArray> buffers) : m_buffers(std::move(buffers)) {
    for (const QByteArray &b : m_buffers)
        m_length += b.size();
}

void HFGatherInputStream::open() {
    if (m_status == NotOpen)
        m_status = Open;
}

void HFGatherInputStream::close() {
    m_buffers.clear();
    m_status = Closed;
}

qint64 HFGatherInputStream::read(char *buffer, qint64 maxLength) {
    if (m_status == NotOpen || m_status == Closed || m_status == Error)
        return m_status == Error ? -1 : 0;
    if (maxLength <= 0)
        return 0;
    qint64 copied = 0;
    while (m_index < m_buffers.size() && copied < maxLength) {
        const QByteArray &current = m_buffers[m_index];
        const qint64 n = std::min<qint64>(maxLength - copied, current.size() - m_offset);
        if (n > 0)
            std::memcpy(buffer + copied, current.constData() + m_offset, size_t(n));
        copied += n;
        m_offset += n;
        if (m_offset >= current.size()) {
            m_offset = 0;
            ++m_index;
        }
    }
    m_status = copied == 0 ? AtEnd : Reading;
    return copied;
}
