#include "DA/HTTPFetcher/HFHTTPFetchHistory.h"

#include "DA/HTTPFetcher/HFRunLoop.h"

HFHTTPFetchHistory::HFHTTPFetchHistory() : HFHTTPFetchHistory(HFURLCache::defaultMemoryCapacity, false) {}

HFHTTPFetchHistory::HFHTTPFetchHistory(quint64 memoryCapacity, bool shouldCacheETaggedData)
    : m_cache(std::make_unique<HFURLCache>(memoryCapacity)), m_shouldRememberETags(shouldCacheETaggedData),
      m_shouldCacheETaggedData(shouldCacheETaggedData), m_cookieStorage(std::make_shared<HFCookieStorage>()) {}

void HFHTTPFetchHistory::updateRequest(HFURLRequest &request, bool isHTTPGet) {
    std::lock_guard lock(m_mutex);
    if (!m_shouldRememberETags)
        return;
    request.setCachePolicy(HFURLRequest::ReloadIgnoringLocalCacheData);
    if (!isHTTPGet)
        return;
    if (request.hasHeader(QStringLiteral("If-None-Match"))) {
        // The caller's own condition wins; our entry would only mislead.
        m_cache->removeCachedResponseForRequest(request.url());
        return;
    }
    const QString etag = cachedETagForRequest(request);
    if (!etag.isEmpty())
        request.setValue(etag, QStringLiteral("If-None-Match"));
}

QString HFHTTPFetchHistory::cachedETagForRequest(const HFURLRequest &request) {
    auto entry = m_cache->cachedResponseForRequest(request.url());
    if (!entry)
        return {};
    const QString etag = entry->response()->valueForHeaderField(QStringLiteral("Etag"));
    if (!etag.isEmpty())
        entry->setReservationDate(HFRunLoop::now());
    return etag;
}

void HFHTTPFetchHistory::updateFetchHistoryWithRequest(const HFURLRequest &request, const HFURLResponsePtr &response,
                                                       const QByteArray &downloadedData) {
    std::lock_guard lock(m_mutex);
    if (!m_shouldRememberETags || !response || !response->isHTTP())
        return;
    const int status = response->statusCode();
    if (status == 304)
        return;
    if (response->valueForHeaderField(QStringLiteral("Etag")).isEmpty() || status >= 300) {
        m_cache->removeCachedResponseForRequest(request.url());
        return;
    }
    auto entry = std::make_shared<HFCachedURLResponse>(response, m_shouldCacheETaggedData ? downloadedData : QByteArray());
    m_cache->storeCachedResponse(entry, request.url());
}

QByteArray HFHTTPFetchHistory::cachedDataForRequest(const HFURLRequest &request) {
    std::lock_guard lock(m_mutex);
    auto entry = m_cache->cachedResponseForRequest(request.url());
    if (!entry)
        return {};
    entry->setReservationDate({});
    return entry->data();
}

void HFHTTPFetchHistory::removeCachedDataForRequest(const HFURLRequest &request) {
    std::lock_guard lock(m_mutex);
    m_cache->removeCachedResponseForRequest(request.url());
}

void HFHTTPFetchHistory::clearETaggedDataCache() {
    std::lock_guard lock(m_mutex);
    m_cache->removeAllCachedResponses();
}

void HFHTTPFetchHistory::clearHistory() {
    std::lock_guard lock(m_mutex);
    clearETaggedDataCache();
    m_cookieStorage->removeAllCookies();
}

void HFHTTPFetchHistory::removeAllCookies() { m_cookieStorage->removeAllCookies(); }

bool HFHTTPFetchHistory::shouldRememberETags() const {
    std::lock_guard lock(m_mutex);
    return m_shouldRememberETags;
}

void HFHTTPFetchHistory::setShouldRememberETags(bool on) {
    std::lock_guard lock(m_mutex);
    m_shouldRememberETags = on;
    if (!on)
        m_cache->removeAllCachedResponses();
}

bool HFHTTPFetchHistory::shouldCacheETaggedData() const {
    std::lock_guard lock(m_mutex);
    return m_shouldCacheETaggedData;
}

void HFHTTPFetchHistory::setShouldCacheETaggedData(bool on) {
    std::lock_guard lock(m_mutex);
    m_shouldCacheETaggedData = on;
    if (on)
        m_shouldRememberETags = true;
    else
        m_cache->removeAllCachedResponses();
}

quint64 HFHTTPFetchHistory::memoryCapacity() const { return m_cache->memoryCapacity(); }
void HFHTTPFetchHistory::setMemoryCapacity(quint64 bytes) { m_cache->setMemoryCapacity(bytes); }
