#include "DA/HTTPFetcher/HFHTTPFetcherService.h"

#include "Platform/VNDispatch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#define LOCKED std::lock_guard<std::recursive_mutex> lock_(m_mutex)

std::shared_ptr<HFHTTPFetcherService> HFHTTPFetcherService::make() { return std::make_shared<HFHTTPFetcherService>(); }

HFHTTPFetcherService::HFHTTPFetcherService() : m_fetchHistory(std::make_shared<HFHTTPFetchHistory>()) {}

HFHTTPFetcherService::~HFHTTPFetcherService() {
    // Our own link has expired by now: one that answers nothing is ours.
    if (m_authorizer && !m_authorizer->fetcherService())
        m_authorizer->setFetcherService({});
}

std::shared_ptr<HFHTTPFetcher> HFHTTPFetcherService::fetcherWithRequest(const HFURLRequest &request, const FetcherMaker &maker) {
    auto fetcher = maker ? maker(request) : HFHTTPFetcher::fetcherWithRequest(request);
    // The settings are read under our lock and given outside it: a
    // fetcher's lock always comes first.
    VNOperationQueue *queue;
    int cookieMethod;
    std::optional<HFCredential> credential, proxyCredential;
    bool background;
    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer;
    QString agent;
    double timeout;
    {
        LOCKED;
        queue = m_delegateQueue;
        cookieMethod = m_cookieStorageMethod;
        credential = m_credential;
        proxyCredential = m_proxyCredential;
        background = m_shouldFetchInBackground;
        authorizer = m_authorizer;
        agent = m_userAgent;
        timeout = m_timeout;
    }
    fetcher->setFetchHistory(m_fetchHistory);
    fetcher->setDelegateQueue(queue);
    fetcher->setCookieStorageMethod(cookieMethod);
    fetcher->setCredential(credential);
    fetcher->setProxyCredential(proxyCredential);
    fetcher->setShouldFetchInBackground(background);
    fetcher->setAuthorizer(authorizer);
    fetcher->setService(shared_from_this());
    if (!agent.isEmpty() && request.valueForHTTPHeaderField(QStringLiteral("User-Agent")).isEmpty())
        fetcher->updateRequest([&](HFURLRequest &r) { r.setValue(agent, QStringLiteral("User-Agent")); });
    if (timeout > 0)
        fetcher->updateRequest([&](HFURLRequest &r) { r.setTimeoutInterval(timeout); });
    return fetcher;
}

std::shared_ptr<HFHTTPFetcher> HFHTTPFetcherService::fetcherWithRequest(const HFURLRequest &request) {
    return fetcherWithRequest(request, FetcherMaker());
}

std::shared_ptr<HFHTTPFetcher> HFHTTPFetcherService::fetcherWithURL(const QUrl &url) { return fetcherWithRequest(HFURLRequest(url)); }
std::shared_ptr<HFHTTPFetcher> HFHTTPFetcherService::fetcherWithURLString(const QString &url) { return fetcherWithURL(QUrl(url)); }

// Lock order: a fetcher's lock comes before the service's. Everything read
// from or written to a fetcher happens outside the service's lock.
bool HFHTTPFetcherService::fetcherShouldBeginFetching(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    const QString host = fetcher->mutableRequest().url().host();
    if (host.isEmpty())
        return true;
    {
        LOCKED;
        if (m_runningHosts.value(host).contains(fetcher))
            return true;
    }
    fetcher->setServiceHost(host);
    fetcher->setThread(fetcher->delegateQueue() ? HFRunLoop::onQueue(fetcher->delegateQueue()) : HFRunLoop::current());
    LOCKED;
    auto &running = m_runningHosts[host];
    if (m_maxRunningFetchersPerHost != 0 && quint64(running.size()) >= m_maxRunningFetchersPerHost) {
        m_delayedHosts[host].append(fetcher);
        return false;
    }
    running.append(fetcher);
    return true;
}

void HFHTTPFetcherService::fetcherDidStop(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    const QString host = fetcher->serviceHost();
    if (host.isEmpty())
        return;
    FetcherList toStart;
    {
        LOCKED;
        auto running = m_runningHosts.find(host);
        auto delayed = m_delayedHosts.find(host);
        if (running != m_runningHosts.end())
            running->removeAll(fetcher);
        if (delayed != m_delayedHosts.end()) {
            delayed->removeAll(fetcher);
            while (!delayed->isEmpty() &&
                   (m_maxRunningFetchersPerHost == 0 || quint64(m_runningHosts[host].size()) < m_maxRunningFetchersPerHost)) {
                qsizetype best = 0;
                for (qsizetype i = 1; i < delayed->size(); ++i)
                    if (delayed->at(i)->servicePriority() < delayed->at(best)->servicePriority())
                        best = i;
                auto next = delayed->takeAt(best);
                m_runningHosts[host].append(next);
                toStart.append(next);
            }
            if (delayed->isEmpty())
                m_delayedHosts.remove(host);
        }
        if (m_runningHosts.value(host).isEmpty())
            m_runningHosts.remove(host);
    }
    fetcher->setServiceHost({});
    fetcher->setThread({});
    for (const auto &next : toStart)
        startFetcher(next);
}

bool HFHTTPFetcherService::isDelayingFetcher(const HFHTTPFetcher *fetcher) {
    const QString host = fetcher->mutableRequest().url().host();
    LOCKED;
    for (const auto &f : m_delayedHosts.value(host))
        if (f.get() == fetcher)
            return true;
    return false;
}

// A start is always posted to the fetcher's start thread (or queue), even
// when that is this one: it comes from another fetcher's stop, which holds
// that fetcher's lock, and one fetcher never begins another under its lock.
void HFHTTPFetcherService::startFetcher(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    performSelector(&HFHTTPFetcherService::startFetcherOnCurrentThread, fetcher, false);
}

void HFHTTPFetcherService::stopFetcher(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    performSelector(&HFHTTPFetcherService::stopFetcherOnCurrentThread, fetcher, true);
}

void HFHTTPFetcherService::startFetcherOnCurrentThread(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    fetcher->beginFetchMayDelay(false, true);
}

void HFHTTPFetcherService::stopFetcherOnCurrentThread(const std::shared_ptr<HFHTTPFetcher> &fetcher) { fetcher->stopFetching(); }

void HFHTTPFetcherService::performSelector(FetcherSelector selector, const std::shared_ptr<HFHTTPFetcher> &fetcher, bool mayRunHere) {
    HFRunLoop loop = fetcher->thread();
    if (mayRunHere && (!loop.isValid() || loop.isCurrent() || loop.queue())) {
        (this->*selector)(fetcher);
        return;
    }
    if (!loop.isValid())
        loop = HFRunLoop::main();
    loop.post([self = shared_from_this(), selector, fetcher] { ((*self).*selector)(fetcher); });
}

quint64 HFHTTPFetcherService::numberOfFetchers() const { return numberOfRunningFetchers() + numberOfDelayedFetchers(); }

quint64 HFHTTPFetcherService::numberOfRunningFetchers() const {
    LOCKED;
    quint64 n = 0;
    for (const auto &list : m_runningHosts)
        n += quint64(list.size());
    return n;
}

quint64 HFHTTPFetcherService::numberOfDelayedFetchers() const {
    LOCKED;
    quint64 n = 0;
    for (const auto &list : m_delayedHosts)
        n += quint64(list.size());
    return n;
}

HFHTTPFetcherService::FetcherList HFHTTPFetcherService::issuedFetchersWithRequestURL(const QUrl &url) const {
    const QString host = url.host();
    if (host.isEmpty())
        return {};
    FetcherList candidates;
    {
        LOCKED;
        candidates = m_runningHosts.value(host) + m_delayedHosts.value(host);
    }
    FetcherList out;
    for (const auto &f : candidates)
        if (f->mutableRequest().url().adjusted(QUrl::NormalizePathSegments) == url.adjusted(QUrl::NormalizePathSegments))
            out.append(f);
    return out;
}

void HFHTTPFetcherService::stopAllFetchers() {
    QMap<QString, FetcherList> delayed, running;
    {
        LOCKED;
        delayed.swap(m_delayedHosts);
        running.swap(m_runningHosts);
    }
    // The maps are empty now, so these stops start no waiting fetcher.
    for (const auto &list : delayed)
        for (const auto &f : list)
            stopFetcher(f);
    for (const auto &list : running)
        for (const auto &f : list)
            stopFetcher(f);
}

void HFHTTPFetcherService::waitForCompletionOfAllFetchersWithTimeout(double seconds) {
    QElapsedTimer timer;
    timer.start();
    const bool sleeps = delegateQueue() && !VNDispatch::isMainThread();
    while (numberOfFetchers() > 0 && timer.elapsed() < qint64(seconds * 1000)) {
        if (sleeps)
            QThread::msleep(1);
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

void HFHTTPFetcherService::clearHistory() {
    clearETaggedDataCache();
    m_fetchHistory->removeAllCookies();
}

QMap<QString, HFHTTPFetcherService::FetcherList> HFHTTPFetcherService::runningHosts() const { LOCKED; return m_runningHosts; }
QMap<QString, HFHTTPFetcherService::FetcherList> HFHTTPFetcherService::delayedHosts() const { LOCKED; return m_delayedHosts; }
void HFHTTPFetcherService::setRunningHosts(const QMap<QString, FetcherList> &hosts) { LOCKED; m_runningHosts = hosts; }
void HFHTTPFetcherService::setDelayedHosts(const QMap<QString, FetcherList> &hosts) { LOCKED; m_delayedHosts = hosts; }
std::shared_ptr<HFFetcherAuthorizationProtocol> HFHTTPFetcherService::authorizer() const { LOCKED; return m_authorizer; }

void HFHTTPFetcherService::setAuthorizer(std::shared_ptr<HFFetcherAuthorizationProtocol> a) {
    {
        LOCKED;
        if (a == m_authorizer)
            return;
    }
    detachAuthorizer();
    {
        LOCKED;
        m_authorizer = a;
    }
    if (a)
        a->setFetcherService(weak_from_this());
}

void HFHTTPFetcherService::detachAuthorizer() {
    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer;
    {
        LOCKED;
        authorizer = m_authorizer;
    }
    // Only a link to this service is cut: the authorizer may serve another.
    if (authorizer && authorizer->fetcherService().get() == this)
        authorizer->setFetcherService({});
}
quint64 HFHTTPFetcherService::maxRunningFetchersPerHost() const { LOCKED; return m_maxRunningFetchersPerHost; }
void HFHTTPFetcherService::setMaxRunningFetchersPerHost(quint64 limit) { LOCKED; m_maxRunningFetchersPerHost = limit; }
QString HFHTTPFetcherService::userAgent() const { LOCKED; return m_userAgent; }
void HFHTTPFetcherService::setUserAgent(const QString &agent) { LOCKED; m_userAgent = agent; }
double HFHTTPFetcherService::timeout() const { LOCKED; return m_timeout; }
void HFHTTPFetcherService::setTimeout(double seconds) { LOCKED; m_timeout = seconds; }
VNOperationQueue *HFHTTPFetcherService::delegateQueue() const { LOCKED; return m_delegateQueue; }
void HFHTTPFetcherService::setDelegateQueue(VNOperationQueue *queue) { LOCKED; m_delegateQueue = queue; }
std::optional<HFCredential> HFHTTPFetcherService::credential() const { LOCKED; return m_credential; }
void HFHTTPFetcherService::setCredential(std::optional<HFCredential> c) { LOCKED; m_credential = std::move(c); }
std::optional<HFCredential> HFHTTPFetcherService::proxyCredential() const { LOCKED; return m_proxyCredential; }
void HFHTTPFetcherService::setProxyCredential(std::optional<HFCredential> c) { LOCKED; m_proxyCredential = std::move(c); }
int HFHTTPFetcherService::cookieStorageMethod() const { LOCKED; return m_cookieStorageMethod; }
void HFHTTPFetcherService::setCookieStorageMethod(int method) { LOCKED; m_cookieStorageMethod = method; }
bool HFHTTPFetcherService::shouldFetchInBackground() const { LOCKED; return m_shouldFetchInBackground; }
void HFHTTPFetcherService::setShouldFetchInBackground(bool on) { LOCKED; m_shouldFetchInBackground = on; }
