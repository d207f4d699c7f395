#include "DA/HTTPFetcher/HFURLCache.h"

#include "DA/HTTPFetcher/HFRunLoop.h"

#include <algorithm>
#include <vector>

HFCachedURLResponse::HFCachedURLResponse(HFURLResponsePtr response, QByteArray data)
    : m_response(std::move(response)), m_data(std::move(data)), m_useDate(HFRunLoop::now()) {}

QString HFCachedURLResponse::description() const {
    return QStringLiteral("HFCachedURLResponse %1: {bytes:%2 useDate:%3%4}")
        .arg(quintptr(this), 0, 16)
        .arg(m_data.size())
        .arg(m_useDate.toString(Qt::ISODate),
             m_reservationDate.isValid() ? QStringLiteral(" resDate:") + m_reservationDate.toString(Qt::ISODate) : QString());
}

HFURLCache::HFURLCache(quint64 memoryCapacity) : m_memoryCapacity(memoryCapacity) {}

void HFURLCache::storeCachedResponse(const HFCachedURLResponsePtr &response, const QUrl &requestURL) {
    std::lock_guard lock(m_mutex);
    removeCachedResponseForRequest(requestURL);
    const quint64 length = quint64(response->data().size());
    if (length >= m_memoryCapacity)
        return;
    m_responses.insert(requestURL, response);
    m_totalDataSize += length;
    pruneCacheResponses();
}

HFCachedURLResponsePtr HFURLCache::cachedResponseForRequest(const QUrl &requestURL) {
    std::lock_guard lock(m_mutex);
    auto entry = m_responses.value(requestURL);
    if (entry)
        entry->setUseDate(HFRunLoop::now());
    return entry;
}

void HFURLCache::removeCachedResponseForRequest(const QUrl &requestURL) {
    std::lock_guard lock(m_mutex);
    auto it = m_responses.find(requestURL);
    if (it == m_responses.end())
        return;
    m_totalDataSize -= quint64(it.value()->data().size());
    m_responses.erase(it);
}

void HFURLCache::removeAllCachedResponses() {
    std::lock_guard lock(m_mutex);
    m_responses.clear();
    m_totalDataSize = 0;
}

quint64 HFURLCache::memoryCapacity() const {
    std::lock_guard lock(m_mutex);
    return m_memoryCapacity;
}

void HFURLCache::setMemoryCapacity(quint64 bytes) {
    std::lock_guard lock(m_mutex);
    const bool smaller = bytes < m_memoryCapacity;
    m_memoryCapacity = bytes;
    if (smaller)
        pruneCacheResponses();
}

void HFURLCache::setReservationInterval(double seconds) {
    std::lock_guard lock(m_mutex);
    m_reservationInterval = seconds;
}

QMap<QUrl, HFCachedURLResponsePtr> HFURLCache::responses() const {
    std::lock_guard lock(m_mutex);
    return m_responses;
}

quint64 HFURLCache::totalDataSize() const {
    std::lock_guard lock(m_mutex);
    return m_totalDataSize;
}

QString HFURLCache::description() const {
    std::lock_guard lock(m_mutex);
    QStringList entries;
    for (const auto &entry : m_responses)
        entries.append(entry->description());
    return QStringLiteral("HFURLCache %1: {responses:(%2)}").arg(quintptr(this), 0, 16).arg(entries.join(QStringLiteral(", ")));
}

void HFURLCache::pruneCacheResponses() {
    if (m_totalDataSize <= m_memoryCapacity)
        return;
    std::vector<std::pair<QUrl, HFCachedURLResponsePtr>> byUse(m_responses.keyValueBegin(), m_responses.keyValueEnd());
    std::stable_sort(byUse.begin(), byUse.end(),
                     [](const auto &a, const auto &b) { return a.second->compareUseDate(*b.second); });
    const QDateTime now = HFRunLoop::now();
    for (const auto &[url, entry] : byUse) {
        const QDateTime reserved = entry->reservationDate();
        const bool isReserved = reserved.isValid() && reserved.msecsTo(now) < qint64(m_reservationInterval * 1000);
        if (!isReserved) {
            m_totalDataSize -= quint64(entry->data().size());
            m_responses.remove(url);
        }
        if (m_totalDataSize <= m_memoryCapacity)
            break;
    }
}
