#pragma once

#include "Formats/DXJsonValue.h"

#include <QString>

// The linked user's account: id, name and quota in bytes.
class DXAccountInfo {
public:
    DXAccountInfo() = default;
    explicit DXAccountInfo(const DXJsonValue &json);

    bool isValid() const { return m_valid; }
    const QString &userId() const { return m_userId; }
    const QString &displayName() const { return m_displayName; }
    const QString &email() const { return m_email; }
    // Bytes of the user's own files, of files shared with the user, and the whole quota.
    qint64 normalConsumedBytes() const { return m_normal; }
    qint64 sharedConsumedBytes() const { return m_shared; }
    qint64 totalBytes() const { return m_total; }

private:
    bool m_valid = false;
    QString m_userId;
    QString m_displayName;
    QString m_email;
    qint64 m_normal = 0;
    qint64 m_shared = 0;
    qint64 m_total = 0;
};
