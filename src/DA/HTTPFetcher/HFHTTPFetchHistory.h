#pragma once

#include "DA/HTTPFetcher/HFCookieStorage.h"
#include "DA/HTTPFetcher/HFURLCache.h"
#include "DA/HTTPFetcher/HFURLRequest.h"

#include <memory>
#include <mutex>

// The history a fetcher service's fetchers share: the last ETagged response
// per URL (so a later GET asks "If-None-Match"), optionally its body (so a
// 304 can be completed), and a cookie jar. Lives in memory only.
class HFHTTPFetchHistory : public HFHTTPFetchHistoryProtocol {
public:
    HFHTTPFetchHistory();
    HFHTTPFetchHistory(quint64 memoryCapacity, bool shouldCacheETaggedData);

    void updateRequest(HFURLRequest &request, bool isHTTPGet) override;
    void updateFetchHistoryWithRequest(const HFURLRequest &request, const HFURLResponsePtr &response,
                                       const QByteArray &downloadedData) override;
    QString cachedETagForRequest(const HFURLRequest &request);
    QByteArray cachedDataForRequest(const HFURLRequest &request) override;
    void removeCachedDataForRequest(const HFURLRequest &request) override;
    void clearETaggedDataCache();
    void clearHistory();
    void removeAllCookies();

    bool shouldRememberETags() const;
    void setShouldRememberETags(bool on);
    bool shouldCacheETaggedData() const override;
    void setShouldCacheETaggedData(bool on);
    quint64 memoryCapacity() const;
    void setMemoryCapacity(quint64 bytes);
    std::shared_ptr<HFCookieStorageProtocol> cookieStorage() const override { return m_cookieStorage; }
    // The same jar as its own class (its list, its removals).
    std::shared_ptr<HFCookieStorage> cookieJar() const { return m_cookieStorage; }
    HFURLCache &cache() { return *m_cache; }

private:
    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<HFURLCache> m_cache;
    bool m_shouldRememberETags;
    bool m_shouldCacheETaggedData;
    std::shared_ptr<HFCookieStorage> m_cookieStorage;
};
