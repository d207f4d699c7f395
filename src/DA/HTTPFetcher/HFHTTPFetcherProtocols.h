#pragma once

#include "DA/HTTPFetcher/HFURLRequest.h"
#include "DA/HTTPFetcher/HFURLResponse.h"
#include "Platform/VNError.h"

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <functional>
#include <memory>

class HFHTTPFetcher;
class VNOperationQueue;

// The receiver of a fetcher's callbacks. A fetcher calls the methods it was
// given as "selectors" (pointers to these members; null = not wanted).
class HFHTTPFetcherDelegate {
public:
    virtual ~HFHTTPFetcherDelegate() = default;
    virtual void fetcherFinished(HFHTTPFetcher *fetcher, const QByteArray &data, const VNErrorPtr &error) {}
    virtual void fetcherSentData(HFHTTPFetcher *fetcher, qint64 bytesSent, qint64 totalBytesSent,
                                 qint64 totalBytesExpectedToSend) {}
    virtual void fetcherReceivedData(HFHTTPFetcher *fetcher, const QByteArray &dataReceivedSoFar) {}
    virtual bool fetcherWillRetry(HFHTTPFetcher *fetcher, bool suggestedWillRetry, const VNErrorPtr &error) {
        return suggestedWillRetry;
    }
};

using HFFinishedSelector = void (HFHTTPFetcherDelegate::*)(HFHTTPFetcher *, const QByteArray &, const VNErrorPtr &);
using HFSentDataSelector = void (HFHTTPFetcherDelegate::*)(HFHTTPFetcher *, qint64, qint64, qint64);
using HFReceivedDataSelector = void (HFHTTPFetcherDelegate::*)(HFHTTPFetcher *, const QByteArray &);
using HFRetrySelector = bool (HFHTTPFetcherDelegate::*)(HFHTTPFetcher *, bool, const VNErrorPtr &);

// What a fetcher asks of the service that made it.
class HFHTTPFetcherServiceProtocol {
public:
    virtual ~HFHTTPFetcherServiceProtocol() = default;
    virtual bool fetcherShouldBeginFetching(const std::shared_ptr<HFHTTPFetcher> &fetcher) = 0;
    virtual void fetcherDidStop(const std::shared_ptr<HFHTTPFetcher> &fetcher) = 0;
    virtual std::shared_ptr<HFHTTPFetcher> fetcherWithRequest(const HFURLRequest &request) = 0;
    virtual bool isDelayingFetcher(const HFHTTPFetcher *fetcher) = 0;
    virtual VNOperationQueue *delegateQueue() const = 0;
    virtual void setDelegateQueue(VNOperationQueue *queue) = 0;
};

// A cookie jar a fetcher sends cookies from and stores them in
// (HFCookieStorage).
class HFCookieStorageProtocol {
public:
    virtual ~HFCookieStorageProtocol() = default;
    virtual QList<QNetworkCookie> cookiesForURL(const QUrl &url) = 0;
    virtual void setCookies(const QList<QNetworkCookie> &cookies) = 0;
};

// The ETag history and response cache a fetcher consults (HFHTTPFetchHistory).
class HFHTTPFetchHistoryProtocol {
public:
    virtual ~HFHTTPFetchHistoryProtocol() = default;
    // May add "If-None-Match" to a GET.
    virtual void updateRequest(HFURLRequest &request, bool isHTTPGet) = 0;
    virtual bool shouldCacheETaggedData() const = 0;
    virtual QByteArray cachedDataForRequest(const HFURLRequest &request) = 0;
    virtual std::shared_ptr<HFCookieStorageProtocol> cookieStorage() const = 0;
    virtual void updateFetchHistoryWithRequest(const HFURLRequest &request, const HFURLResponsePtr &response,
                                               const QByteArray &downloadedData) = 0;
    virtual void removeCachedDataForRequest(const HFURLRequest &request) = 0;
};

// An object that authorizes requests before they go out (none exists in the
// application; the seam is kept for one).
class HFFetcherAuthorizationProtocol {
public:
    using Completion = std::function<void(const VNErrorPtr &error)>;
    virtual ~HFFetcherAuthorizationProtocol() = default;
    virtual bool isAuthorizedRequest(const HFURLRequest &request) = 0;
    // Authorizes the fetcher's request in place, then calls the completion.
    virtual void authorizeRequest(HFURLRequest *request, Completion completion) = 0;
    virtual bool isAuthorizingRequest(const HFURLRequest &request) = 0;
    virtual void stopAuthorization() = 0;
    // Whether a refresh after a 401 may help (once per fetch).
    virtual bool primeForRefresh() { return false; }
    // The fetcher service the authorizer makes its own fetches with (a
    // token refresh), held weakly; an authorizer without fetches of its own
    // keeps none.
    virtual std::shared_ptr<HFHTTPFetcherServiceProtocol> fetcherService() const { return nullptr; }
    virtual void setFetcherService(std::weak_ptr<HFHTTPFetcherServiceProtocol>) {}
};
