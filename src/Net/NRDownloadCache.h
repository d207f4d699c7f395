#pragma once

#include "Net/NRCacheDelegate.h"

#include <functional>
#include <memory>
#include <mutex>

// Replies kept on disk, per URL, so that a later request can be answered
// from them or revalidated. Under the storage path: "SessionStore" and
// "PermanentStore", each holding per URL a headers file (key +
// ".cachedheaders", an XML property list) and a data file (key + the URL's
// extension, "html" for pages). Every field and file operation holds one
// recursive lock, and never takes a request's lock under it: what the cache
// needs of a request is read first (the network thread asks the cache while
// it holds the request's lock, so the two are always taken in that order).
class NRDownloadCache : public NRCacheDelegate {
public:
    NRDownloadCache();

    // "NRHTTPRequestCache" in the user's cache folder (XDG).
    static std::shared_ptr<NRDownloadCache> sharedCache();

    QString storagePath() const;
    // Clears the session replies under the old path and the new one, and
    // makes the folders (not their missing parents). Answers the error
    // "FileExistsAtCachePath" or "FailedToCreateCacheDirectory" (its name
    // under the "name" key) when a folder cannot be had.
    VNErrorPtr setStoragePath(const QString &path);
    int defaultCachePolicy() const override;
    // 0 keeps the policy at 4.
    void setDefaultCachePolicy(int policy);
    bool shouldRespectCacheControlHeaders() const;
    void setShouldRespectCacheControlHeaders(bool on);

    // The URL's key: the MD5 of its text (one trailing "/" less) in 32
    // upper-case hex digits; null for an empty URL.
    static QString keyForURL(const QUrl &url);
    // The data file's extension for a URL.
    static QString fileExtensionForURL(const QUrl &url);
    static QStringList fileExtensionsToHandleAsHTML();
    // False when the reply says "no-store" or "no-cache" among its
    // Cache-Control tokens, or Pragma says "no-cache".
    static bool serverAllowsResponseCachingForRequest(const NRHTTPRequest &request);

    QString pathToFile(const QString &fileName) const;
    QString pathToCachedResponseDataForURL(const QUrl &url) const override;
    QString pathToCachedResponseHeadersForURL(const QUrl &url) const override;
    QString pathToStoreCachedResponseHeadersForRequest(const NRHTTPRequest &request) const override;
    QString pathToStoreCachedResponseDataForRequest(const NRHTTPRequest &request) const override;
    QVariantMap cachedResponseHeadersForURL(const QUrl &url) const override;
    QByteArray cachedResponseDataForURL(const QUrl &url) const override;

    QDateTime expiryDateForRequest(const NRHTTPRequest &request, double maxAge) const override;
    void storeResponseForRequest(const NRHTTPRequest &request, double maxAge) override;
    void updateExpiryForRequest(const NRHTTPRequest &request, double maxAge) override;
    bool isCachedDataCurrentForRequest(const NRHTTPRequest &request) const;
    bool canUseCachedDataForRequest(const NRHTTPRequest &request) const override;
    void removeCachedDataForURL(const QUrl &url);
    void removeCachedDataForRequest(const NRHTTPRequest &request) override;
    VNErrorPtr clearCachedResponsesForStoragePolicy(int storagePolicy) override;

    // The reply headers' expiry: max-age from Cache-Control unless maxAge
    // is given, else the Expires date; null when neither says.
    static QDateTime expiryDate(const QVariantMap &headers, double maxAge);
    // "Sun, 06 Nov 1994 08:49:37 GMT", also without weekday or seconds.
    static QDateTime dateFromRFC1123String(const QString &text);

    // For tests: told on the thread that takes the cache's lock, each time,
    // just after it has taken it (true) and just before it lets it go
    // (false); null: nobody.
    static void setLockHookForTesting(std::function<void(const NRDownloadCache &, bool taken)> hook);

private:
    // The cache's lock, held for the object's life (the test hook told).
    class Access {
    public:
        explicit Access(const NRDownloadCache &cache);
        ~Access();
        Access(const Access &) = delete;
        Access &operator=(const Access &) = delete;

    private:
        const NRDownloadCache &m_cache;
        std::lock_guard<std::recursive_mutex> m_lock;
    };

    struct RequestFacts;
    static RequestFacts factsOf(const NRHTTPRequest &request);
    static bool serverAllowsCaching(const RequestFacts &facts);
    QString pathToStore(const RequestFacts &facts, const QString &extension) const;
    // Under the lock.
    bool isCachedDataCurrent(const RequestFacts &facts) const;
    QString storeFolder(int storagePolicy) const;
    static VNErrorPtr cacheError(const QString &name, const QString &reason);

    mutable std::recursive_mutex m_accessLock;
    QString m_storagePath;
    int m_defaultCachePolicy = NRAskServerIfModifiedWhenStaleCachePolicy;
    bool m_shouldRespectCacheControlHeaders = true;
};
