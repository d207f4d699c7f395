#include "Cloud/QNFTPTransferLog.h"

QNFTPTransferLog::QNFTPTransferLog(QString password) : m_password(std::move(password)) {}

QString QNFTPTransferLog::mask(QString line) const
{
    if (line.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive))
        return QStringLiteral("PASS ****");
    // Credentials in a header (Basic is the password in base64).
    for (const QLatin1String header : {QLatin1String("Authorization:"), QLatin1String("Proxy-Authorization:")}) {
        if (line.startsWith(header, Qt::CaseInsensitive))
            return header + QStringLiteral(" ****");
    }
    // Short passwords would mask ordinary words; the PASS line covers them.
    if (m_password.size() >= 3)
        line.replace(m_password, QStringLiteral("****"));
    return line;
}

void QNFTPTransferLog::add(Kind kind, const char *data, size_t size)
{
    if (kind == Kind::Data || size == 0)
        return;
    const QString text = QString::fromUtf8(data, qsizetype(size));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        // Masked before it is cut: a cut through the password would keep
        // the part before the cut.
        line = mask(line);
        if (line.size() > maxLineLength)
            line = line.left(maxLineLength) + QStringLiteral("...");
        if (m_head.size() < headLines) {
            m_head.append(line);
            continue;
        }
        m_tail.append(line);
        if (m_tail.size() > tailLines) {
            m_tail.removeFirst();
            ++m_skipped;
        }
    }
}

QString QNFTPTransferLog::text() const
{
    QString out;
    for (const QString &line : m_head)
        out += QStringLiteral("\n[%1]").arg(line);
    if (m_skipped > 0)
        out += QStringLiteral("\n[... %1 lines left out ...]").arg(m_skipped);
    for (const QString &line : m_tail)
        out += QStringLiteral("\n[%1]").arg(line);
    return out;
}
