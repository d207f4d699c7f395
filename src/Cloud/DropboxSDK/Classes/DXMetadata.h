#pragma once

#include "Formats/DXJsonValue.h"

#include <QDateTime>
#include <QList>
#include <QString>

// What the service says of a file or folder (a metadata reply, or one entry
// of a folder's "contents").
class DXMetadata {
public:
    DXMetadata() = default;
    // Reads a metadata object; isValid() is false when it names no path.
    explicit DXMetadata(const DXJsonValue &json);

    bool isValid() const { return !m_path.isEmpty(); }
    const QString &path() const { return m_path; }
    // The last component of the path.
    QString filename() const;
    bool isDirectory() const { return m_isDirectory; }
    bool isDeleted() const { return m_isDeleted; }
    qint64 totalBytes() const { return m_totalBytes; }
    const QDateTime &lastModifiedDate() const { return m_lastModified; }
    const QString &rev() const { return m_rev; }
    // Whether the reply carried the folder's "contents" (a listing).
    bool hasContents() const { return m_hasContents; }
    const QList<DXMetadata> &contents() const { return m_contents; }

    // The service's dates: "Tue, 19 Jul 2011 21:55:38 +0000".
    static QDateTime dateFromString(const QString &text);

private:
    QString m_path;
    bool m_isDirectory = false;
    bool m_isDeleted = false;
    qint64 m_totalBytes = 0;
    QDateTime m_lastModified;
    QString m_rev;
    bool m_hasContents = false;
    QList<DXMetadata> m_contents;
};
