#include "Core/QNListingPages.h"

#include "Core/QNCloudInterface.h"

#include <algorithm>

QString QNListingPages::addPage(qint64 replyBytes, qsizetype entries) {
    // Even an empty page costs a round trip: it weighs at least this much,
    // so that pages of nothing cannot go on forever either.
    m_bytes += std::max<qint64>(replyBytes, minimumPageBytes);
    m_entries += entries;
    ++m_pages;
    // Each bound says itself which one it is.
    if (m_bytes > QNCloudInterface::maximumListingBytes)
        return QStringLiteral("The folder's listing is larger than %1 MiB in its %2 pages (each counted as at least "
                              "%3 KiB), more than a listing may hold; it was not read on.")
            .arg(QNCloudInterface::maximumListingBytes >> 20)
            .arg(m_pages)
            .arg(minimumPageBytes >> 10);
    if (m_entries > maximumEntries)
        return QStringLiteral("The folder's listing has more than %1 entries, more than a listing may hold; it was "
                              "not read on.")
            .arg(maximumEntries);
    return {};
}

QString QNListingPages::follow(const QString &token) {
    if (token.isEmpty())
        return {};
    if (m_followed.contains(token))
        return QStringLiteral("The service named a page of the listing it had given before; the listing was stopped "
                              "so as not to read the same pages forever.");
    m_followed.insert(token);
    return {};
}
