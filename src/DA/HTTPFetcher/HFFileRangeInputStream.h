#pragma once

#include "DA/HTTPFetcher/HFInputStream.h"

#include <QFile>
#include <memory>

// A stretch of a file read as a request body, so that an upload chunk never
// sits in memory. Opens its own handle (it is read on the network thread).
// A file that ends before the stretch does is an error, never a short body.
class HFFileRangeInputStream : public HFInputStream {
public:
    HFFileRangeInputStream(QString path, qint64 offset, qint64 length);
    void open() override;
    void close() override;
    qint64 read(char *buffer, qint64 maxLength) override;
    Status streamStatus() const override { return m_status; }
    QString streamError() const override { return m_error; }
    qint64 length() const override { return m_length; }

private:
    void fail(const QString &why);

    QString m_path;
    qint64 m_offset;
    qint64 m_length;
    qint64 m_done = 0;
    std::unique_ptr<QFile> m_file;
    Status m_status = NotOpen;
    QString m_error;
};
