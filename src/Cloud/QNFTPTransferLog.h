#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>

// The protocol conversation of one FTP, FTPS or SFTP transfer, kept for the
// error text: the commands sent, the replies and the library's notes, never
// file or listing contents, never the password (the PASS argument and any
// occurrence of the password are masked), and bounded in size: when a
// conversation runs long, its middle is left out.
class QNFTPTransferLog {
public:
    explicit QNFTPTransferLog(QString password = {});

    enum class Kind { Text, Received, Sent, Data };
    void add(Kind kind, const char *data, size_t size);

    // The log as a sequence of "\n[line]" entries.
    QString text() const;
    int lineCount() const { return int(m_head.size() + m_tail.size()); }

    static constexpr int headLines = 60;
    static constexpr int tailLines = 140;
    static constexpr int maxLineLength = 512;

private:
    QString mask(QString line) const;

    QString m_password;
    QStringList m_head;
    QStringList m_tail;
    qint64 m_skipped = 0;
};
