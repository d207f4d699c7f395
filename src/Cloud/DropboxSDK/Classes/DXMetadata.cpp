#include "DXMetadata.h"

DXMetadata::DXMetadata(const DXJsonValue &json) {
    if (!json.isObject())
        return;
    m_path = json[QStringLiteral("path")].toString();
    m_isDirectory = json[QStringLiteral("is_dir")].toBool();
    m_isDeleted = json[QStringLiteral("is_deleted")].toBool();
    m_totalBytes = json[QStringLiteral("bytes")].toInt64();
    m_lastModified = dateFromString(json[QStringLiteral("modified")].toString());
    m_rev = json[QStringLiteral("rev")].toString();
    const DXJsonValue &contents = json[QStringLiteral("contents")];
    m_hasContents = contents.isArray();
    for (const DXJsonValue &entry : contents.toArray())
        m_contents.append(DXMetadata(entry));
}

QString DXMetadata::filename() const {
    QString path = m_path;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QDateTime DXMetadata::dateFromString(const QString &text) {
    if (text.isEmpty())
        return {};
    return QDateTime::fromString(text.trimmed(), Qt::RFC2822Date);
}
