#pragma once

#include "Platform/VNError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>

class NRHTTPRequest;

// Cache policy bits of a request.
enum NRCachePolicy : int {
    NRUseDefaultCachePolicy = 0,
    NRDoNotReadFromCacheCachePolicy = 1,
    NRDoNotWriteToCacheCachePolicy = 2,
    NRAskServerIfModifiedWhenStaleCachePolicy = 4,
    NRAskServerIfModifiedCachePolicy = 8,
    NROnlyLoadIfNotCachedCachePolicy = 16,
    NRDontLoadCachePolicy = 32,
    NRFallbackToCacheIfLoadFailsCachePolicy = 64,
};

// Where a stored reply lives: for this session, or until removed.
enum NRCacheStoragePolicy : int {
    NRCacheForSessionDurationCacheStoragePolicy = 0,
    NRCachePermanentlyCacheStoragePolicy = 1,
};

// What a request asks of its download cache. Called on the network thread
// and elsewhere: implementations lock for themselves.
class NRCacheDelegate {
public:
    virtual ~NRCacheDelegate() = default;

    virtual int defaultCachePolicy() const = 0;
    virtual void removeCachedDataForRequest(const NRHTTPRequest &request) = 0;
    virtual void updateExpiryForRequest(const NRHTTPRequest &request, double maxAge) = 0;
    virtual QDateTime expiryDateForRequest(const NRHTTPRequest &request, double maxAge) const = 0;
    virtual void storeResponseForRequest(const NRHTTPRequest &request, double maxAge) = 0;
    virtual QVariantMap cachedResponseHeadersForURL(const QUrl &url) const = 0;
    virtual QByteArray cachedResponseDataForURL(const QUrl &url) const = 0;
    virtual QString pathToCachedResponseDataForURL(const QUrl &url) const = 0;
    virtual QString pathToCachedResponseHeadersForURL(const QUrl &url) const = 0;
    virtual QString pathToStoreCachedResponseHeadersForRequest(const NRHTTPRequest &request) const = 0;
    virtual QString pathToStoreCachedResponseDataForRequest(const NRHTTPRequest &request) const = 0;
    virtual bool canUseCachedDataForRequest(const NRHTTPRequest &request) const = 0;
    // Errors come back as values; nothing here throws.
    virtual VNErrorPtr clearCachedResponsesForStoragePolicy(int storagePolicy) = 0;
};
