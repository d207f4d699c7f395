#include "DXAccountInfo.h"

DXAccountInfo::DXAccountInfo(const DXJsonValue &json) {
    const DXJsonValue &quota = json[QStringLiteral("quota_info")];
    if (!json.isObject() || !quota.isObject())
        return;
    m_valid = true;
    m_userId = json[QStringLiteral("uid")].toString();
    m_displayName = json[QStringLiteral("display_name")].toString();
    m_email = json[QStringLiteral("email")].toString();
    m_normal = quota[QStringLiteral("normal")].toInt64();
    m_shared = quota[QStringLiteral("shared")].toInt64();
    m_total = quota[QStringLiteral("quota")].toInt64();
}
