#pragma once

#include "DA/HTTPFetcher/HFHTTPFetcherService.h"
#include "DA/Query/DAQuery.h"
#include "DA/Service/DAServiceTicketBase.h"

#include <QUrl>
#include <memory>

class VNOperationQueue;

// The base of the data-API services: builds requests with the data-API
// headers, runs them through fetchers of its fetcher service (uploads of
// media through the resumable upload fetcher), parses replies into Atom
// objects on its operation queue and delivers them on the thread that
// started the fetch, following "next" links when asked. Errors carry the
// server's error document in their user info.
class DAServiceBase : public std::enable_shared_from_this<DAServiceBase> {
public:
    using Completion = DAServiceTicketBase::Completion;
    using UploadProgress = DAServiceTicketBase::UploadProgress;
    using RetryHandler = DAServiceTicketBase::RetryHandler;
    using Surrogates = DAServiceTicketBase::Surrogates;
    static constexpr quint64 standardUploadChunkSize = 26214400;
    static constexpr quint64 minimumUploadChunkSize = 50000;
    static constexpr quint64 maximumNextLinks = 26;  // pages after the first

    DAServiceBase();
    virtual ~DAServiceBase();
    // The class name and the address.
    QString description() const;
    virtual QString className() const { return QStringLiteral("DAServiceBase"); }

    // The service layer's error domain; codes -100 (a reply gave no object),
    // -101 (wait ran out), -102 (no URL to fetch), -103 (a feed with more
    // pages than are followed, or a next page that could not be asked for),
    // -104 (a request refused before it was sent: it would lose data on the
    // server, or lacks what it needs).
    static constexpr qint64 refusedRequestCode = -104;
    static const QString &errorDomain();
    // Notifications around each parse, with the ticket.
    using NotificationObserver = std::function<void(const QString &name, const DAServiceTicketPtr &ticket)>;
    static void setNotificationObserver(NotificationObserver observer);

    // --- Requests -------------------------------------------------------
    virtual HFURLRequest requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod,
                                       const DAServiceTicketPtr &ticket);
    HFURLRequest requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod) {
        return requestForURL(url, etag, httpMethod, nullptr);
    }
    HFURLRequest objectRequestForURL(const QUrl &url, const DAObjectPtr &object, const QString &etag,
                                     const QString &httpMethod, const DAServiceTicketPtr &ticket);
    QString requestUserAgent() const;
    // The system and program parts of the user agent, computed once.
    static QString systemVersionString();
    static QString defaultApplicationIdentifier();

    // --- The core fetch -------------------------------------------------
    // The ticket of the fetch under way; null when none could start (the
    // completion has then had the error).
    DAServiceTicketPtr fetchObjectWithURL(const QUrl &url, DAClass objectClass, const DAObjectPtr &objectToPost,
                                          const QString &etag, const QString &httpMethod, Completion completion,
                                          DAServiceTicketPtr ticket = nullptr);
    // Unauthenticated reads of a feed or an entry of the given class (null:
    // chosen from the reply).
    DAServiceTicketPtr fetchPublicFeedWithURL(const QUrl &url, DAClass feedClass, Completion completion) {
        return fetchObjectWithURL(url, feedClass, nullptr, QString(), QString(), std::move(completion));
    }
    DAServiceTicketPtr fetchPublicFeedWithQuery(const DAQueryPtr &query, DAClass feedClass, Completion completion) {
        return fetchPublicFeedWithURL(query ? query->URL() : QUrl(), feedClass, std::move(completion));
    }
    DAServiceTicketPtr fetchPublicEntryWithURL(const QUrl &url, DAClass entryClass, Completion completion) {
        return fetchObjectWithURL(url, entryClass, nullptr, QString(), QString(), std::move(completion));
    }
    // Posts a batch feed to the feed's batch URL, with the namespaces its
    // operations need; the answer is a feed of per-entry results.
    DAServiceTicketPtr fetchPublicFeedWithBatchFeed(const DAFeedBasePtr &batchFeed, const QUrl &feedURL, Completion completion);
    // Waits (running the loop) until the ticket's callback ran or the time is up.
    bool waitForTicket(const DAServiceTicketPtr &ticket, double seconds, DAObjectPtr *object, VNErrorPtr *error);
    static QVariantMap userInfoForErrorResponseData(const QByteArray &data, const QString &contentType,
                                                    const QVariantMap &previousUserInfo);
    // The caller's callbacks: the ticket's progress handler with the bytes
    // delivered so far; the completion with (ticket, object, error); the
    // ticket's retry handler's decision (the suggestion without one).
    static void invokeProgressCallbackForTicket(const DAServiceTicketPtr &ticket, quint64 deliveredBytes, quint64 totalBytes);
    static void invokeCallback(const Completion &completion, const DAServiceTicketPtr &ticket, const DAObjectPtr &object,
                               const VNErrorPtr &error);
    static bool invokeRetrySelector(const DAServiceTicketPtr &ticket, bool willRetry, const VNErrorPtr &error);

    // --- Settings -------------------------------------------------------
    virtual DAServiceTicketPtr makeTicket();
    QString serviceVersion() const { return m_serviceVersion.isEmpty() ? defaultServiceVersion() : m_serviceVersion; }
    void setServiceVersion(const QString &v) { m_serviceVersion = v; }
    virtual QString defaultServiceVersion() const { return {}; }
    // The class's chunk size for uploads (none here: uploads go whole).
    static quint64 defaultServiceUploadChunkSize() { return 0; }
    QString userAgent() const { return m_userAgent; }
    void setUserAgent(const QString &agent);
    void setExactUserAgent(const QString &agent) { m_userAgent = agent; }
    std::shared_ptr<HFHTTPFetcherService> fetcherService() const { return m_fetcherService; }
    // A fetcher service of the caller's (a test double's); null is refused.
    void setFetcherService(std::shared_ptr<HFHTTPFetcherService> service) {
        if (service)
            m_fetcherService = std::move(service);
    }
    VNOperationQueue *operationQueue() const { return m_operationQueue; }
    // Null: replies are parsed on the callback thread.
    void setOperationQueue(VNOperationQueue *queue) { m_operationQueue = queue; }
    QVariant serviceUserData() const { return m_serviceUserData; }
    void setServiceUserData(const QVariant &d) { m_serviceUserData = d; }
    QVariantMap serviceProperties() const { return m_serviceProperties; }
    void setServiceProperties(const QVariantMap &properties) { m_serviceProperties = properties; }
    void setServiceProperty(const QString &key, const QVariant &value);
    QVariant servicePropertyForKey(const QString &key) const { return m_serviceProperties.value(key); }
    UploadProgress serviceUploadProgressHandler() const { return m_uploadProgress; }
    void setServiceUploadProgressHandler(UploadProgress h) { m_uploadProgress = std::move(h); }
    quint64 serviceUploadChunkSize() const { return m_uploadChunkSize; }
    // The all-ones value means the standard 25 MiB; 0 turns chunking off.
    void setServiceUploadChunkSize(quint64 size);
    // Classes made in place of the parsed ones (a caller's own entry class).
    Surrogates serviceSurrogates() const { return m_surrogates; }
    void setServiceSurrogates(const Surrogates &s) { m_surrogates = s; }
    bool shouldServiceFeedsIgnoreUnknowns() const { return m_feedsIgnoreUnknowns; }
    void setShouldServiceFeedsIgnoreUnknowns(bool on) { m_feedsIgnoreUnknowns = on; }
    RetryHandler serviceRetryHandler() const { return m_retryHandler; }
    void setServiceRetryHandler(RetryHandler h) { m_retryHandler = std::move(h); }
    bool isServiceRetryEnabled() const { return m_retryEnabled; }
    void setServiceRetryEnabled(bool on) { m_retryEnabled = on; }
    double serviceMaxRetryInterval() const { return m_maxRetryInterval; }
    void setServiceMaxRetryInterval(double s) { m_maxRetryInterval = s; }
    int cookieStorageMethod() const { return m_cookieStorageMethod; }
    void setCookieStorageMethod(int m) { m_cookieStorageMethod = m; }
    bool serviceShouldFollowNextLinks() const { return m_followNextLinks; }
    void setServiceShouldFollowNextLinks(bool on) { m_followNextLinks = on; }
    virtual void setUserCredentials(const QString &username, const QString &password);
    // Kept by the fetcher service. Setting one drops the credentials, and a
    // new one empties the response cache (its replies were for the old).
    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer() const { return m_fetcherService->authorizer(); }
    void setAuthorizer(const std::shared_ptr<HFFetcherAuthorizationProtocol> &authorizer);
    bool shouldCacheResponseData() const { return m_fetcherService->shouldCacheETaggedData(); }
    void setShouldCacheResponseData(bool on) { m_fetcherService->setShouldCacheETaggedData(on); }
    void clearResponseDataCache() { m_fetcherService->clearETaggedDataCache(); }
    // The byte budget of the response cache.
    quint64 responseDataCacheCapacity() const { return m_fetcherService->ETaggedDataCacheCapacity(); }
    void setResponseDataCacheCapacity(quint64 bytes) { m_fetcherService->setETaggedDataCacheCapacity(bytes); }
    bool shouldFetchInBackground() const { return m_fetcherService->shouldFetchInBackground(); }
    void setShouldFetchInBackground(bool on) { m_fetcherService->setShouldFetchInBackground(on); }
    QString username() const { return m_username; }
    QString password() const;
    // Whether the service's token and the account's password may go to this
    // URL; a link the server supplies (next, self, edit) to anywhere else is
    // fetched without them. A service that knows its hosts says so; this one
    // takes every URL.
    virtual bool isServiceURL(const QUrl &) const { return true; }

protected:
    static void addBatchNamespaces(const DAFeedBasePtr &batchFeed);
    // The account's password for the fetcher's challenges, when both the
    // username and the password are set and the fetch is of the service's
    // own URLs (where its token goes).
    void addAuthenticationToFetcher(const std::shared_ptr<HFHTTPFetcher> &fetcher) const;
    // Answers a request that must not go out: the error (service domain,
    // the code, "error" = the reason) reaches the completion from the
    // loop, as any answer does, and the ticket is answered.
    DAServiceTicketPtr refuseFetch(Completion completion, qint64 code, const QString &reason, DAServiceTicketPtr ticket = nullptr);
    // A failed fetch may be taken over (the Google service signs in again
    // after a rejection); true means no callback now.
    virtual bool handleRejection(const DAServiceTicketPtr &ticket, const VNErrorPtr &error) { return false; }

private:
    struct FetchContext;
    void objectFetcherFinished(const std::shared_ptr<FetchContext> &context, const QByteArray &data, const VNErrorPtr &error);
    void objectFetcherFailed(const std::shared_ptr<FetchContext> &context, const QByteArray &data, const VNErrorPtr &error);
    static void parseObject(const std::shared_ptr<FetchContext> &context, const QByteArray &data, const QString &version);
    void handleParsedObject(const std::shared_ptr<FetchContext> &context);
    bool fetchNextFeed(const QUrl &url, const std::shared_ptr<FetchContext> &context);
    void deliver(const std::shared_ptr<FetchContext> &context, const DAObjectPtr &object, const VNErrorPtr &error);
    static void post(const QString &name, const DAServiceTicketPtr &ticket);

    std::unique_ptr<VNOperationQueue> m_ownQueue;
    VNOperationQueue *m_operationQueue = nullptr;
    QString m_serviceVersion;
    QString m_userAgent;
    std::shared_ptr<HFHTTPFetcherService> m_fetcherService;
    QString m_username;
    QByteArray m_password;  // masked
    QVariant m_serviceUserData;
    QVariantMap m_serviceProperties;
    UploadProgress m_uploadProgress;
    Surrogates m_surrogates;
    bool m_feedsIgnoreUnknowns = false;
    RetryHandler m_retryHandler;
    quint64 m_uploadChunkSize = 0;
    bool m_retryEnabled = false;
    double m_maxRetryInterval = 0;
    int m_cookieStorageMethod = -1;
    bool m_followNextLinks = false;
};
