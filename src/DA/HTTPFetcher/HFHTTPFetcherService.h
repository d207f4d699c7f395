#pragma once

#include "DA/HTTPFetcher/HFHTTPFetcher.h"

#include <QList>
#include <QMap>
#include <functional>
#include <memory>
#include <mutex>

// Makes fetchers with shared settings and lets at most
// maxRunningFetchersPerHost of them run against one host at a time; the
// others wait in a per-host list and start, lowest priority value first
// (first come among equals), on the thread that began them as running ones
// stop. Owns the fetch history its fetchers share.
class HFHTTPFetcherService : public HFHTTPFetcherServiceProtocol, public std::enable_shared_from_this<HFHTTPFetcherService> {
public:
    using FetcherList = QList<std::shared_ptr<HFHTTPFetcher>>;
    using FetcherMaker = std::function<std::shared_ptr<HFHTTPFetcher>(const HFURLRequest &)>;

    static std::shared_ptr<HFHTTPFetcherService> make();
    HFHTTPFetcherService();
    ~HFHTTPFetcherService() override;

    // A fetcher of the maker's class (plain HFHTTPFetcher by default) with
    // this service's settings.
    std::shared_ptr<HFHTTPFetcher> fetcherWithRequest(const HFURLRequest &request, const FetcherMaker &maker);
    std::shared_ptr<HFHTTPFetcher> fetcherWithRequest(const HFURLRequest &request) override;
    std::shared_ptr<HFHTTPFetcher> fetcherWithURL(const QUrl &url);
    std::shared_ptr<HFHTTPFetcher> fetcherWithURLString(const QString &url);

    bool fetcherShouldBeginFetching(const std::shared_ptr<HFHTTPFetcher> &fetcher) override;
    void fetcherDidStop(const std::shared_ptr<HFHTTPFetcher> &fetcher) override;
    bool isDelayingFetcher(const HFHTTPFetcher *fetcher) override;
    // Begin (no delay, authorization allowed) or stop a fetcher on the thread
    // it first asked to begin on.
    void startFetcher(const std::shared_ptr<HFHTTPFetcher> &fetcher);
    void stopFetcher(const std::shared_ptr<HFHTTPFetcher> &fetcher);
    void startFetcherOnCurrentThread(const std::shared_ptr<HFHTTPFetcher> &fetcher);
    void stopFetcherOnCurrentThread(const std::shared_ptr<HFHTTPFetcher> &fetcher);

    quint64 numberOfFetchers() const;
    quint64 numberOfRunningFetchers() const;
    quint64 numberOfDelayedFetchers() const;
    FetcherList issuedFetchersWithRequestURL(const QUrl &url) const;
    void stopAllFetchers();
    void waitForCompletionOfAllFetchersWithTimeout(double seconds);

    bool shouldCacheETaggedData() const { return m_fetchHistory->shouldCacheETaggedData(); }
    void setShouldCacheETaggedData(bool on) { m_fetchHistory->setShouldCacheETaggedData(on); }
    quint64 ETaggedDataCacheCapacity() const { return m_fetchHistory->memoryCapacity(); }
    void setETaggedDataCacheCapacity(quint64 bytes) { m_fetchHistory->setMemoryCapacity(bytes); }
    bool shouldRememberETags() const { return m_fetchHistory->shouldRememberETags(); }
    void setShouldRememberETags(bool on) { m_fetchHistory->setShouldRememberETags(on); }
    void clearETaggedDataCache() { m_fetchHistory->clearETaggedDataCache(); }
    void clearHistory();

    QMap<QString, FetcherList> runningHosts() const;
    void setRunningHosts(const QMap<QString, FetcherList> &hosts);
    QMap<QString, FetcherList> delayedHosts() const;
    void setDelayedHosts(const QMap<QString, FetcherList> &hosts);

    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer() const;
    // A new authorizer is linked to this service, and the one it replaces
    // let go of it (when still linked here).
    void setAuthorizer(std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer);
    void detachAuthorizer();
    quint64 maxRunningFetchersPerHost() const;
    void setMaxRunningFetchersPerHost(quint64 limit);
    QString userAgent() const;
    void setUserAgent(const QString &agent);
    double timeout() const;
    void setTimeout(double seconds);
    VNOperationQueue *delegateQueue() const override;
    void setDelegateQueue(VNOperationQueue *queue) override;
    std::optional<HFCredential> credential() const;
    void setCredential(std::optional<HFCredential> credential);
    std::optional<HFCredential> proxyCredential() const;
    void setProxyCredential(std::optional<HFCredential> credential);
    int cookieStorageMethod() const;
    void setCookieStorageMethod(int method);
    bool shouldFetchInBackground() const;
    void setShouldFetchInBackground(bool on);
    std::shared_ptr<HFHTTPFetchHistory> fetchHistory() const { return m_fetchHistory; }

private:
    using FetcherSelector = void (HFHTTPFetcherService::*)(const std::shared_ptr<HFHTTPFetcher> &);
    // Runs the step on the fetcher's start thread: posted there without
    // waiting, or run at once when allowed and that thread is this one (or
    // the fetcher answers on a delegate queue, or has no start thread).
    void performSelector(FetcherSelector selector, const std::shared_ptr<HFHTTPFetcher> &fetcher, bool mayRunHere);

    mutable std::recursive_mutex m_mutex;
    QMap<QString, FetcherList> m_delayedHosts;
    QMap<QString, FetcherList> m_runningHosts;
    quint64 m_maxRunningFetchersPerHost = 10;
    std::shared_ptr<HFHTTPFetchHistory> m_fetchHistory;
    VNOperationQueue *m_delegateQueue = nullptr;
    QString m_userAgent;
    double m_timeout = 0;
    std::optional<HFCredential> m_credential;
    std::optional<HFCredential> m_proxyCredential;
    int m_cookieStorageMethod = HFHTTPFetcher::FetchHistoryCookieStorage;
    bool m_shouldFetchInBackground = false;
    std::shared_ptr<HFFetcherAuthorizationProtocol> m_authorizer;
};
