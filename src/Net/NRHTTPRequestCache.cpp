// NRHTTPRequest: answering from a download cache, revalidating against it,
// and storing replies in it.
#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Formats/NRDataDecompressor.h"
#include "Platform/VNLog.h"

#include <QFile>

using namespace NRHTTPRequestInternal;

namespace {

std::mutex &defaultCacheMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<NRCacheDelegate> &defaultCacheSlot() {
    static std::shared_ptr<NRCacheDelegate> cache;
    return cache;
}

}  // namespace

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::requestWithURL(const QUrl &url,
                                                             const std::shared_ptr<NRCacheDelegate> &cache,
                                                             int cachePolicy) {
    auto request = requestWithURL(url);
    request->setDownloadCache(cache);
    request->setCachePolicy(cachePolicy);
    return request;
}

void NRHTTPRequest::setDownloadCache(const std::shared_ptr<NRCacheDelegate> &cache) { LOCKED; m_downloadCache = cache; }
std::shared_ptr<NRCacheDelegate> NRHTTPRequest::downloadCache() const { LOCKED; return m_downloadCache.lock(); }
void NRHTTPRequest::setCachePolicy(int policy) { LOCKED; m_cachePolicy = policy; }
int NRHTTPRequest::cachePolicy() const { LOCKED; return m_cachePolicy; }
void NRHTTPRequest::setCacheStoragePolicy(int policy) { LOCKED; m_cacheStoragePolicy = policy; }
int NRHTTPRequest::cacheStoragePolicy() const { LOCKED; return m_cacheStoragePolicy; }
void NRHTTPRequest::setSecondsToCache(double seconds) { LOCKED; m_secondsToCache = seconds; }
double NRHTTPRequest::secondsToCache() const { LOCKED; return m_secondsToCache; }
bool NRHTTPRequest::didUseCachedResponse() const { LOCKED; return m_didUseCachedResponse; }

std::shared_ptr<NRCacheDelegate> NRHTTPRequest::defaultCache() {
    std::lock_guard lock(defaultCacheMutex());
    return defaultCacheSlot();
}

void NRHTTPRequest::setDefaultCache(const std::shared_ptr<NRCacheDelegate> &cache) {
    std::lock_guard lock(defaultCacheMutex());
    defaultCacheSlot() = cache;
}

// Before sending: answers from the cache when it may (true), else adds the
// revalidation headers the policy asks for.
bool NRHTTPRequest::answerFromCacheBeforeSending() {
    m_didUseCachedResponse = false;
    if (m_requestMethod != QLatin1String("GET"))
        m_downloadCache.reset();
    auto cache = m_downloadCache.lock();
    if (!cache)
        return false;
    if (m_cachePolicy == NRUseDefaultCachePolicy)
        m_cachePolicy = cache->defaultCachePolicy();
    if (cache->canUseCachedDataForRequest(*this)) {
        useDataFromCache();
        return true;
    }
    if (m_cachePolicy & (NRAskServerIfModifiedWhenStaleCachePolicy | NRAskServerIfModifiedCachePolicy)) {
        const QVariantMap cached = cache->cachedResponseHeadersForURL(m_url);
        for (auto it = cached.cbegin(); it != cached.cend(); ++it) {
            if (it.key().compare(QLatin1String("Etag"), Qt::CaseInsensitive) == 0)
                m_requestHeaders.insert(QStringLiteral("If-None-Match"), it.value().toString());
            else if (it.key().compare(QLatin1String("Last-Modified"), Qt::CaseInsensitive) == 0)
                m_requestHeaders.insert(QStringLiteral("If-Modified-Since"), it.value().toString());
        }
    }
    return false;
}

// At the end of a reply, before it counts as complete: a 304 (or a reply
// showing the cached copy is current) is answered from the cache with a
// new expiry, and what arrived is dropped.
bool NRHTTPRequest::answerFromCacheAfterReply() {
    auto cache = m_downloadCache.lock();
    if (!cache || m_needsRedirect || m_authenticationNeeded || !cache->canUseCachedDataForRequest(*this))
        return false;
    cache->updateExpiryForRequest(*this, m_secondsToCache);
    destroyTransfer();
    m_dataDecompressor.reset();
    closeDownloadStreams();
    if (VNErrorPtr error = deleteTemporaryDownloadFiles())
        VNLog::log(QStringLiteral("NRHTTPRequest: %1").arg(error->localizedDescription()));
    useDataFromCache();
    return true;
}

void NRHTTPRequest::useDataFromCache() {
    auto cache = m_downloadCache.lock();
    const QVariantMap headers = cache ? cache->cachedResponseHeadersForURL(m_url) : QVariantMap();
    const QString dataPath = cache ? cache->pathToCachedResponseDataForURL(m_url) : QString();
    if (!headers.isEmpty() && !dataPath.isNull()) {
        m_responseHeaders.clear();
        for (auto it = headers.cbegin(); it != headers.cend(); ++it)
            m_responseHeaders.insert(it.key(), it.value().toString());
        m_responseStatusCode = headers.value(QStringLiteral("X-NRHTTPRequest-Response-Status-Code")).toInt();
        m_didUseCachedResponse = true;
        m_responseCompressed = false;  // stored inflated
        QString mime;
        QByteArray charset;
        parseContentType(responseHeader(QStringLiteral("Content-Type")), &mime, &charset);
        if (!charset.isEmpty() && isKnownEncoding(charset))
            m_responseEncoding = charset;
        else if (isJSONOrXML(mime))
            m_responseEncoding = "UTF-8";
        else
            m_responseEncoding = m_defaultResponseEncoding;
        if (m_redirectCount == 0 && m_originalURL.isEmpty())
            m_originalURL = m_url;
        m_headersRead = true;
        // A cached redirect is followed as a live one would be: confirmed
        // (or not) and sent on to its target, which may be cached too.
        if (willRedirect()) {
            followRedirect();
            return;
        }
        if (m_downloadDestinationPath.isEmpty()) {
            QFile file(dataPath);
            m_rawResponseData = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        } else {
            m_downloadDestinationPath = dataPath;
        }
        m_contentLength = responseHeader(QStringLiteral("Content-Length")).toULongLong();
        m_totalBytesRead = m_contentLength;
    }
    m_complete = true;
    m_downloadComplete = true;
    m_headersRead = true;
    if (m_originalURL.isEmpty())
        m_originalURL = m_url;
    updateProgressIndicators();
    onMain([](NRHTTPRequest &r) { r.reportFinished(); });
    markAsFinished();
}
