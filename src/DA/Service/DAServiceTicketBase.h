#pragma once

#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/BaseClasses/DAObject.h"
#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "Platform/VNError.h"

#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>

class DAServiceBase;
class DAServiceTicketBase;
using DAServiceTicketPtr = std::shared_ptr<DAServiceTicketBase>;
// A fetcher's "_ticket" property: the ticket it fetches for, held weakly
// (the ticket holds the fetcher).
Q_DECLARE_METATYPE(std::weak_ptr<DAServiceTicketBase>)

// One fetch of a data-API service: its settings, its fetcher, the object
// sent and the one delivered (or the error), and the way to cancel it.
// Used from the thread that started the fetch.
class DAServiceTicketBase : public std::enable_shared_from_this<DAServiceTicketBase> {
public:
    using Completion = std::function<void(const DAServiceTicketPtr &ticket, const DAObjectPtr &object, const VNErrorPtr &error)>;
    using UploadProgress = std::function<void(const DAServiceTicketPtr &ticket, quint64 delivered, quint64 total)>;
    // Asked before the fetcher retries; answers the decision.
    using RetryHandler = std::function<bool(const DAServiceTicketPtr &ticket, bool suggestedWillRetry, const VNErrorPtr &error)>;
    using Surrogates = QHash<DAClass, DAClass>;

    explicit DAServiceTicketBase(const std::shared_ptr<DAServiceBase> &service);
    virtual ~DAServiceTicketBase() = default;
    // "DAServiceTicketBase 0x…: {service:… currentFetcher:… userData:…}"
    virtual QString description() const;

    // Stops the fetch or the parse; no callback follows.
    virtual void cancelTicket();
    void pauseUpload();
    void resumeUpload();
    bool isUploadPaused() const;
    int statusCode() const;
    void accumulateFeed(const DAFeedBasePtr &feed);

    std::shared_ptr<DAServiceBase> service() const { return m_service; }
    QVariant userData() const { return m_userData; }
    void setUserData(const QVariant &data) { m_userData = data; }
    QVariantMap properties() const { return m_properties; }
    void setProperty(const QString &key, const QVariant &value);
    QVariant property(const QString &key) const { return m_properties.value(key); }
    UploadProgress uploadProgressHandler() const { return m_uploadProgress; }
    // Reaches a fetch already under way too.
    void setUploadProgressHandler(UploadProgress handler);
    // Makes the fetcher's sent-data reports reach this ticket's handler.
    void reportUploadProgressOf(const std::shared_ptr<HFHTTPFetcher> &fetcher);
    bool shouldFollowNextLinks() const { return m_shouldFollowNextLinks; }
    void setShouldFollowNextLinks(bool on) { m_shouldFollowNextLinks = on; }
    Surrogates surrogates() const { return m_surrogates; }
    void setSurrogates(const Surrogates &s) { m_surrogates = s; }
    bool shouldFeedsIgnoreUnknowns() const { return m_shouldFeedsIgnoreUnknowns; }
    void setShouldFeedsIgnoreUnknowns(bool on) { m_shouldFeedsIgnoreUnknowns = on; }
    RetryHandler retryHandler() const { return m_retryHandler; }
    void setRetryHandler(RetryHandler handler) { m_retryHandler = std::move(handler); }
    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer() const { return m_authorizer; }
    void setAuthorizer(std::shared_ptr<HFFetcherAuthorizationProtocol> a) { m_authorizer = std::move(a); }
    bool isRetryEnabled() const { return m_isRetryEnabled; }
    void setRetryEnabled(bool on) { m_isRetryEnabled = on; }
    double maxRetryInterval() const { return m_maxRetryInterval; }
    void setMaxRetryInterval(double seconds) { m_maxRetryInterval = seconds; }
    std::shared_ptr<HFHTTPFetcher> currentFetcher() const { return m_currentFetcher; }
    void setCurrentFetcher(std::shared_ptr<HFHTTPFetcher> f) { m_currentFetcher = std::move(f); }
    std::shared_ptr<HFHTTPFetcher> objectFetcher() const { return m_objectFetcher; }
    void setObjectFetcher(std::shared_ptr<HFHTTPFetcher> f) { m_objectFetcher = std::move(f); }
    bool hasCalledCallback() const { return m_hasCalledCallback; }
    void setHasCalledCallback(bool on) { m_hasCalledCallback = on; }
    DAObjectPtr postedObject() const { return m_postedObject; }
    void setPostedObject(DAObjectPtr o) { m_postedObject = std::move(o); }
    DAObjectPtr fetchedObject() const { return m_fetchedObject; }
    void setFetchedObject(DAObjectPtr o) { m_fetchedObject = std::move(o); }
    VNErrorPtr fetchError() const { return m_fetchError; }
    void setFetchError(VNErrorPtr e) { m_fetchError = std::move(e); }
    DAFeedBasePtr accumulatedFeed() const { return m_accumulatedFeed; }
    void setAccumulatedFeed(DAFeedBasePtr f) { m_accumulatedFeed = std::move(f); }
    quint64 nextLinksFollowedCounter() const { return m_nextLinksFollowedCounter; }
    void setNextLinksFollowedCounter(quint64 n) { m_nextLinksFollowedCounter = n; }
    // The pending parse: set while a reply is parsed; cancelling sets it.
    std::shared_ptr<std::atomic<bool>> parseOperation() const { return m_parseCancelled; }
    void setParseOperation(std::shared_ptr<std::atomic<bool>> op) { m_parseCancelled = std::move(op); }
    bool isCancelled() const { return m_isCancelled; }

private:
    std::shared_ptr<DAServiceBase> m_service;
    QVariant m_userData;
    QVariantMap m_properties;
    UploadProgress m_uploadProgress;
    Surrogates m_surrogates;
    bool m_shouldFollowNextLinks = false;
    bool m_shouldFeedsIgnoreUnknowns = false;
    RetryHandler m_retryHandler;
    std::shared_ptr<HFFetcherAuthorizationProtocol> m_authorizer;
    bool m_isRetryEnabled = false;
    double m_maxRetryInterval = 0;
    std::shared_ptr<HFHTTPFetcher> m_currentFetcher;
    std::shared_ptr<HFHTTPFetcher> m_objectFetcher;
    DAObjectPtr m_postedObject;
    DAObjectPtr m_fetchedObject;
    DAFeedBasePtr m_accumulatedFeed;
    VNErrorPtr m_fetchError;
    bool m_hasCalledCallback = false;
    bool m_isCancelled = false;
    quint64 m_nextLinksFollowedCounter = 0;
    std::shared_ptr<std::atomic<bool>> m_parseCancelled;
};

// The ticket the fetcher works for (its "_ticket" property), or null.
DAServiceTicketPtr DATicket(const std::shared_ptr<HFHTTPFetcher> &fetcher);
// Makes the fetcher answer that ticket through DATicket().
void DASetTicket(const std::shared_ptr<HFHTTPFetcher> &fetcher, const DAServiceTicketPtr &ticket);
