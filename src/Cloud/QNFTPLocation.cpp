#include "Cloud/QNFTPLocation.h"

#include "Cloud/QNStringEncoding.h"
#include "Core/QNDriveConfig.h"

#include <QUrl>

namespace {

bool isUnreserved(uchar c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

QString cannotEncode(const QString &name, quint32 encoding)
{
    return QStringLiteral("\u201c%1\u201d cannot be written in the drive's character encoding (%2).")
        .arg(name, QNStringEncoding::displayName(encoding));
}

QString controlBreaks(const QString &name)
{
    QString shown = name;
    shown.replace(QLatin1Char('\r'), QLatin1String("\\r")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    shown.replace(QChar(0), QLatin1String("\\0"));
    return QStringLiteral("\u201c%1\u201d holds a line break or NUL character, which file servers cannot take.")
        .arg(shown);
}

}  // namespace

QNFTPLocation::QNFTPLocation(const QString &driveUrl, bool sftpDrive)
{
    // Typed without a scheme: the drive's kind says which.
    const QString url = QNDriveConfig::withFileServerScheme(driveUrl, sftpDrive);
    const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
    const QString scheme = url.left(schemeEnd).toLower();
    m_sftp = scheme == QLatin1String("sftp");
    if (!m_sftp && scheme != QLatin1String("ftp") && scheme != QLatin1String("ftps"))
        m_schemeError = QStringLiteral("The drive's address \u201c%1\u201d must begin with ftp://, ftps:// or sftp://.")
                            .arg(url.left(schemeEnd + 3));
    const qsizetype pathStart = url.indexOf(QLatin1Char('/'), schemeEnd + 3);
    if (pathStart < 0) {
        m_prefix = url.toUtf8();
    } else {
        m_prefix = url.left(pathStart).toUtf8();
        m_path = url.mid(pathStart);
    }
    while (m_path.endsWith(QLatin1Char('/')))
        m_path.chop(1);
}

bool QNFTPLocation::holdsControlBreaks(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

QByteArray QNFTPLocation::percentEncoded(const QByteArray &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        const uchar c = uchar(ch);
        if (isUnreserved(c)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

QByteArray QNFTPLocation::sftpQuoted(const QByteArray &path)
{
    QByteArray out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

QStringList QNFTPLocation::segments(const QString &path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QString QNFTPLocation::join(const QString &folder, const QString &name)
{
    QString out = folder.isEmpty() ? QStringLiteral("/") : folder;
    if (!out.endsWith(QLatin1Char('/')))
        out += QLatin1Char('/');
    return out + name;
}

QString QNFTPLocation::parentPath(const QString &path)
{
    const QStringList parts = segments(path);
    if (parts.size() <= 1)
        return QStringLiteral("/");
    return QLatin1Char('/') + parts.mid(0, parts.size() - 1).join(QLatin1Char('/')) + QLatin1Char('/');
}

QString QNFTPLocation::lastComponent(const QString &path)
{
    const QStringList parts = segments(path);
    return parts.isEmpty() ? QString() : parts.last();
}

QNFTPLocation::Result QNFTPLocation::nameBytes(const QString &name, QNStringEncoding &encoding)
{
    if (holdsControlBreaks(name))
        return {{}, controlBreaks(name)};
    auto bytes = encoding.encode(name);
    if (!bytes)
        return {{}, cannotEncode(name, encoding.encoding())};
    return {*bytes, {}};
}

QNFTPLocation::Result QNFTPLocation::encodedSegments(const QString &path, QNStringEncoding &encoding,
                                                     bool percent) const
{
    QByteArray out;
    bool first = true;
    for (const QString &segment : segments(path)) {
        if (segment == QLatin1String(".") || segment == QLatin1String(".."))
            return {{}, QStringLiteral("\u201c%1\u201d is not a valid path on the server.").arg(path)};
        Result bytes = nameBytes(segment, encoding);
        if (!bytes.ok())
            return bytes;
        if (!first)
            out += '/';
        out += percent ? percentEncoded(bytes.bytes) : bytes.bytes;
        first = false;
    }
    return {out, {}};
}

QNFTPLocation::Result QNFTPLocation::basePath(QNStringEncoding &encoding) const
{
    if (!m_schemeError.isNull())
        return {{}, m_schemeError};
    // The drive URL's own path as typed: keep what is already escaped, escape
    // the rest in the drive's encoding.
    if (holdsControlBreaks(m_path))
        return {{}, controlBreaks(m_path)};
    auto raw = encoding.encode(m_path);
    if (!raw)
        return {{}, cannotEncode(m_path, encoding.encoding())};
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    const QByteArray &bytes = *raw;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar c = uchar(bytes[i]);
        if (c == '%' && i + 2 < bytes.size() && isHex(bytes[i + 1]) && isHex(bytes[i + 2])) {
            out += char(c);
        } else if (isUnreserved(c) || c == '/' || QByteArrayView("!$&'()*+,;=:@").contains(char(c))) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return {out, {}};
}

QNFTPLocation::Result QNFTPLocation::baseUrl(QNStringEncoding &encoding) const
{
    return folderUrl(QStringLiteral("/"), encoding);
}

QNFTPLocation::Result QNFTPLocation::folderUrl(const QString &path, QNStringEncoding &encoding) const
{
    Result base = basePath(encoding);
    if (!base.ok())
        return base;
    Result rest = encodedSegments(path, encoding, true);
    if (!rest.ok())
        return rest;
    QByteArray url = m_prefix + base.bytes + '/';
    if (!rest.bytes.isEmpty())
        url += rest.bytes + '/';
    return {url, {}};
}

QNFTPLocation::Result QNFTPLocation::fileUrl(const QString &path, QNStringEncoding &encoding) const
{
    // The URL of the path as a folder, without the final "/".
    Result url = folderUrl(path, encoding);
    if (!url.ok())
        return url;
    if (segments(path).isEmpty())
        return {{}, QStringLiteral("\u201c%1\u201d is not a file on the server.").arg(path)};
    url.bytes.chop(1);
    return url;
}

QNFTPLocation::Result QNFTPLocation::serverPath(const QString &path, QNStringEncoding &encoding) const
{
    Result base = basePath(encoding);
    if (!base.ok())
        return base;
    Result rest = encodedSegments(path, encoding, false);
    if (!rest.ok())
        return rest;
    const QByteArray root = QByteArray::fromPercentEncoding(base.bytes);
    if (holdsControlBreaks(QString::fromLatin1(root)))
        return {{}, controlBreaks(QString::fromLatin1(root))};
    QByteArray out = root + '/' + rest.bytes;
    return {out, {}};
}

QString QNFTPLocation::drivePathOf(const QString &target) const
{
    if (!target.startsWith(QLatin1Char('/')) || m_path.isEmpty() || m_path == QLatin1String("/"))
        return target;
    if (target == m_path)
        return QStringLiteral("/");
    if (target.startsWith(m_path + QLatin1Char('/')))
        return target.mid(m_path.size());
    return target;
}
