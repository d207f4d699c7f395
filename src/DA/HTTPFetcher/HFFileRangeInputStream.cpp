#include "DA/HTTPFetcher/HFFileRangeInputStream.h"

HFFileRangeInputStream::HFFileRangeInputStream(QString path, qint64 offset, qint64 length)
    : m_path(std::move(path)), m_offset(offset), m_length(length) {}

void HFFileRangeInputStream::fail(const QString &why) {
    m_status = Error;
    m_error = why;
}

void HFFileRangeInputStream::open() {
    m_file = std::make_unique<QFile>(m_path);
    if (!m_file->open(QIODevice::ReadOnly) || !m_file->seek(m_offset)) {
        fail(m_file->errorString());
        return;
    }
    m_status = Open;
}

void HFFileRangeInputStream::close() {
    if (m_file)
        m_file->close();
    if (m_status != Error)
        m_status = Closed;
}

qint64 HFFileRangeInputStream::read(char *buffer, qint64 maxLength) {
    if (m_status == Error || !m_file)
        return -1;
    const qint64 want = std::min(maxLength, m_length - m_done);
    if (want <= 0) {
        m_status = AtEnd;
        return 0;
    }
    const qint64 n = m_file->read(buffer, want);
    if (n <= 0) {
        fail(n < 0 ? m_file->errorString() : QStringLiteral("the file ended before the upload did"));
        return -1;
    }
    m_done += n;
    m_status = Reading;
    return n;
}
