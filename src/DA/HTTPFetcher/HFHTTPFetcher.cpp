#include "DA/HTTPFetcher/HFHTTPFetcher.h"

#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/HTTPFetcher/HFHTTPFetcherLogging.h"
#include "Net/NRCookieStore.h"
#include "Net/NRHTTPRequestInternal.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNTempDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkCookie>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdio>

#undef LOCKED  // the request engine's, from its internal header
#define LOCKED std::lock_guard<std::recursive_mutex> lock_(m_mutex)

namespace {

std::atomic<quint32> g_temporaryFileCounter{0};
std::mutex g_observerMutex;
HFHTTPFetcher::NotificationObserver g_observer;

QString cookieHeader(const QList<QNetworkCookie> &cookies) {
    QStringList parts;
    for (const QNetworkCookie &c : cookies)
        parts.append(QString::fromUtf8(c.toRawForm(QNetworkCookie::NameAndValueOnly)));
    return parts.join(QStringLiteral("; "));
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

std::shared_ptr<HFHTTPFetcher> HFHTTPFetcher::fetcherWithRequest(const HFURLRequest &request) {
    return std::make_shared<HFHTTPFetcher>(request);
}

std::shared_ptr<HFHTTPFetcher> HFHTTPFetcher::fetcherWithURL(const QUrl &url) { return fetcherWithRequest(HFURLRequest(url)); }

std::shared_ptr<HFHTTPFetcher> HFHTTPFetcher::fetcherWithURLString(const QString &url) { return fetcherWithURL(QUrl(url)); }

HFHTTPFetcher::HFHTTPFetcher(const HFURLRequest &request) : m_request(request) {
    m_cookieStorage = staticCookieStorage();
}

HFHTTPFetcher::~HFHTTPFetcher() {
    if (m_connection)
        m_connection->cancel();
    removeTemporaryDownloadFile();
}

QString HFHTTPFetcher::description() const {
    LOCKED;
    return QStringLiteral("HFHTTPFetcher %1 (%2)").arg(quintptr(this), 0, 16).arg(m_request.url().toString());
}

std::shared_ptr<HFCookieStorage> HFHTTPFetcher::staticCookieStorage() {
    static auto *jar = new std::shared_ptr<HFCookieStorage>(std::make_shared<HFCookieStorage>());
    return *jar;
}

namespace {

std::mutex g_connectionMutex;
HFHTTPFetcher::ConnectionClass g_connectionClass;

}  // namespace

HFHTTPFetcher::ConnectionClass HFHTTPFetcher::connectionClass() {
    std::lock_guard lock(g_connectionMutex);
    if (g_connectionClass)
        return g_connectionClass;
    return [](const HFURLRequest &request, std::shared_ptr<HFURLConnectionDelegate> delegate, HFRunLoop loop, qint64 maximum) {
        return HFURLConnection::start(request, std::move(delegate), loop, maximum);
    };
}

void HFHTTPFetcher::setConnectionClass(ConnectionClass maker) {
    std::lock_guard lock(g_connectionMutex);
    g_connectionClass = std::move(maker);
}

void HFHTTPFetcher::setNotificationObserver(NotificationObserver observer) {
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

void HFHTTPFetcher::post(const QString &notification) {
    NotificationObserver observer;
    {
        std::lock_guard lock(g_observerMutex);
        observer = g_observer;
    }
    if (observer)
        observer(notification, this);
}

// ---------------------------------------------------------------------------
// Beginning

bool HFHTTPFetcher::beginFetchWithDelegate(std::shared_ptr<HFHTTPFetcherDelegate> delegate, HFFinishedSelector finishedSelector) {
    {
        LOCKED;
        m_delegate = std::move(delegate);
        m_finishedSel = finishedSelector;
    }
    return beginFetchMayDelay(true, true);
}

bool HFHTTPFetcher::beginFetchWithCompletionHandler(CompletionBlock handler) {
    std::shared_ptr<HFHTTPFetcherDelegate> delegate;
    {
        LOCKED;
        m_completionBlock = std::move(handler);
        delegate = m_delegate;
    }
    return beginFetchWithDelegate(delegate, nullptr);
}

bool HFHTTPFetcher::beginFetchMayDelay(bool mayDelay, bool mayAuthorize) {
    auto self = shared_from_this();
    std::unique_lock<std::recursive_mutex> lock(m_mutex);
    if (m_connection) {
        lock.unlock();
        failToBeginFetchWithError(nullptr);
        return false;
    }
    if (m_request.url().isEmpty()) {
        VNLog::log(QStringLiteral("HFHTTPFetcher beginFetchWithDelegate requires a request"));
        lock.unlock();
        failToBeginFetchWithError(nullptr);
        return false;
    }
    m_downloadedData.clear();
    m_downloadedLength = 0;

    if (mayDelay) {
        if (auto service = m_service.lock()) {
            lock.unlock();  // the service takes its own lock, then may stop others
            if (!service->fetcherShouldBeginFetching(self))
                return true;  // the service starts it later
            lock.lock();
        }
    }

    QString effectiveMethod = m_request.valueForHTTPHeaderField(QStringLiteral("X-HTTP-Method-Override"));
    if (effectiveMethod.isEmpty())
        effectiveMethod = m_request.hasHTTPMethod() ? m_request.httpMethod() : QString();
    bool isGet = effectiveMethod.isEmpty() || effectiveMethod == QLatin1String("GET");
    if (!m_postData.isEmpty() || m_postStream) {
        if (isGet) {
            m_request.setHTTPMethod(QStringLiteral("POST"));
            isGet = false;
        }
        if (!m_postData.isEmpty()) {
            m_request.setHTTPBody(m_postData);
        } else {
            m_request.setHTTPBodyStream(HFHTTPFetcherLogging::setupStreamLogging(m_postStream, &m_loggedStreamData));
        }
    }

    if (mayAuthorize && m_authorizer && !m_authorizer->isAuthorizedRequest(m_request)) {
        lock.unlock();
        authorizeRequest();
        return true;
    }

    if (m_fetchHistory)
        m_fetchHistory->updateRequest(m_request, isGet);

    if (m_isRetryEnabled && m_maxRetryInterval <= 0)
        m_maxRetryInterval = (isGet || effectiveMethod == QLatin1String("HEAD")) ? 60.0 : 600.0;

    addCookiesToRequest(m_request);

    if (!m_downloadPath.isEmpty()) {
        const QString name = QStringLiteral("hfhttpfetcher_%1_%2").arg(++g_temporaryFileCounter).arg(QRandomGenerator::system()->generate());
        m_temporaryDownloadPath = VNTempDirectory::path() + QLatin1Char('/') + name;
        auto file = std::make_shared<QFile>(m_temporaryDownloadPath);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            auto error = std::make_shared<VNError>(HFErrors::fetcherDomain(), -1,
                                                   QVariantMap{{VNError::localizedDescriptionKey(), file->errorString()}});
            m_temporaryDownloadPath.clear();
            lock.unlock();
            failToBeginFetchWithError(error);
            return false;
        }
        m_downloadFile = std::move(file);
        m_ownsDownloadFile = true;
    }

    const HFRunLoop loop = m_delegateQueue ? HFRunLoop::onQueue(m_delegateQueue) : HFRunLoop::current();
    m_hasConnectionEnded = false;
    m_connection = connectionClass()(m_request, self, loop, m_downloadFile ? 0 : maximumDownloadedDataSize);
    if (!m_connection) {
        VNLog::log(QStringLiteral("HFHTTPFetcher beginFetchWithDelegate could not create a connection"));
        lock.unlock();
        failToBeginFetchWithError(nullptr);
        return false;
    }
    if (!m_downloadFile)
        m_downloadedData = QByteArray();
    m_isStopNotificationNeeded = true;
    post(QStringLiteral("kHFHTTPFetcherStartedNotification"));
    return true;
}

void HFHTTPFetcher::authorizeRequest() {
    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer;
    {
        LOCKED;
        authorizer = m_authorizer;
        m_isAuthorizing = true;
    }
    std::weak_ptr<HFHTTPFetcher> weak = weak_from_this();
    authorizer->authorizeRequest(&m_request, [weak](const VNErrorPtr &error) {
        if (auto self = weak.lock())
            self->authorizerFinished(error);
    });
}

void HFHTTPFetcher::authorizerFinished(const VNErrorPtr &error) {
    {
        LOCKED;
        m_isAuthorizing = false;
    }
    if (error)
        failToBeginFetchWithError(error);
    else
        beginFetchMayDelay(false, false);
}

void HFHTTPFetcher::failToBeginFetchWithError(VNErrorPtr error) {
    if (!error)
        error = HFErrors::fetcherError(-1);
    auto self = shared_from_this();
    invokeFetchCallbacksOnDelegateQueueWithData({}, error);
    std::shared_ptr<HFHTTPFetcherServiceProtocol> service;
    {
        LOCKED;
        releaseCallbacks();
        service = m_service.lock();
    }
    if (service)
        service->fetcherDidStop(self);
    LOCKED;
    m_authorizer.reset();
    removeTemporaryDownloadFile();
}

// ---------------------------------------------------------------------------
// Cookies

void HFHTTPFetcher::addCookiesToRequest(HFURLRequest &request) {
    QList<QNetworkCookie> cookies;
    if (m_cookieStorageMethod == StaticCookieStorage || m_cookieStorageMethod == FetchHistoryCookieStorage) {
        if (m_cookieStorage)
            cookies = m_cookieStorage->cookiesForURL(request.url());
    } else if (m_cookieStorageMethod == SystemCookieStorage) {
        cookies = NRCookieStore::shared().cookiesForUrl(request.url());
    }
    if (!cookies.isEmpty())
        request.addValue(cookieHeader(cookies), QStringLiteral("Cookie"));
}

void HFHTTPFetcher::handleCookiesForResponse(const HFURLResponsePtr &response) {
    if (!response || !response->isHTTP() || response->setCookieLines().isEmpty())
        return;
    if (m_cookieStorageMethod == StaticCookieStorage || m_cookieStorageMethod == FetchHistoryCookieStorage) {
        const auto cookies = HFCookieStorage::cookiesOfResponse(*response);
        if (!cookies.isEmpty() && m_cookieStorage)
            m_cookieStorage->setCookies(cookies);
    } else if (m_cookieStorageMethod == SystemCookieStorage) {
        QList<QNetworkCookie> cookies;
        for (const QByteArray &line : response->setCookieLines())
            cookies += QNetworkCookie::parseCookies(line);
        NRCookieStore::shared().setCookiesFromUrl(cookies, response->url());
    }
}

// ---------------------------------------------------------------------------
// Connection events

bool HFHTTPFetcher::isOwnConnection(HFURLConnection *connection) const { return m_connection && m_connection.get() == connection; }

std::optional<HFURLRequest> HFHTTPFetcher::connectionWillSendRequest(HFURLConnection *connection, const HFURLRequest &proposed,
                                                                     const HFURLResponsePtr &redirectResponse) {
    LOCKED;
    if (!isOwnConnection(connection))
        return std::nullopt;
    if (!redirectResponse)
        return proposed;
    handleCookiesForResponse(redirectResponse);
    HFURLRequest next = m_request;
    const QUrl current = m_request.url();
    const QUrl target = proposed.url();
    QString scheme = current.scheme();
    if (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 &&
        target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        scheme = target.scheme();
    QUrl url = target;
    url.setScheme(scheme.toLower());
    next.setURL(url);
    for (const auto &[name, value] : proposed.allHTTPHeaderFields())
        next.setValue(value, name);
    // Credentials and cookies stay with their origin: the password too, or
    // the other origin's challenge would be answered with it.
    const bool downgrade = current.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                           target.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
    if (downgrade || !NRHTTPRequestInternal::sameOrigin(current, url)) {
        next.removeHeader(QStringLiteral("Authorization"));
        next.removeHeader(QStringLiteral("Cookie"));
        m_credential.reset();
    }
    addCookiesToRequest(next);
    m_response = redirectResponse;
    HFHTTPFetcherLogging::logFetchWithError(this, nullptr);
    m_request = next;
    return next;
}

std::optional<HFCredential> HFHTTPFetcher::connectionDidReceiveChallenge(HFURLConnection *connection,
                                                                         const HFAuthenticationChallenge &challenge) {
    auto self = shared_from_this();
    LOCKED;
    if (!isOwnConnection(connection))
        return std::nullopt;
    if (challenge.previousFailureCount < 3) {
        auto credential = (challenge.isProxy && m_proxyCredential) ? m_proxyCredential : m_credential;
        if (credential)
            return credential;
    }
    m_response = challenge.failureResponse;
    auto error = std::make_shared<VNError>(
        HFErrors::fetcherDomain(), -2,
        QVariantMap{{QStringLiteral("challenge"), QStringLiteral("%1 (failures: %2)").arg(challenge.authenticationMethod).arg(challenge.previousFailureCount)}});
    m_isCancellingChallenge = true;
    m_connection->cancel();
    m_isCancellingChallenge = false;
    failAfterConnectionError(error);
    return std::nullopt;
}

void HFHTTPFetcher::connectionDidReceiveResponse(HFURLConnection *connection, const HFURLResponsePtr &response) {
    LOCKED;
    if (!isOwnConnection(connection))
        return;
    m_downloadedData.clear();
    if (m_downloadFile) {
        m_downloadFile->resize(0);
        m_downloadFile->seek(0);
    }
    m_downloadedLength = 0;
    m_response = response;
    handleCookiesForResponse(response);
}

void HFHTTPFetcher::connectionDidReceiveData(HFURLConnection *connection, const QByteArray &data) {
    auto self = shared_from_this();
    LOCKED;
    if (!isOwnConnection(connection))
        return;
    if (m_downloadFile) {
        if (m_downloadFile->write(data) != data.size()) {
            auto error = std::make_shared<VNError>(HFErrors::statusDomain(), -4,
                                                   QVariantMap{{VNError::localizedDescriptionKey(), m_downloadFile->errorString()}});
            m_connection->cancel();
            failAfterConnectionError(error);
            return;
        }
        m_downloadedLength = m_downloadFile->pos();
    } else {
        if (!keepDownloadedPiece(data))
            return;
        m_downloadedLength = m_downloadedData.size();
    }
    // A callback may stop the fetch, which lets go of the callbacks: each
    // runs from a copy, so that what it holds lives to its end.
    const auto delegate = m_delegate;
    const QByteArray downloaded = m_downloadedData;
    if (delegate && m_receivedDataSel)
        (delegate.get()->*m_receivedDataSel)(this, downloaded);
    if (const auto block = m_receivedDataBlock)
        block(downloaded);
}

bool HFHTTPFetcher::keepDownloadedPiece(const QByteArray &data) {
    if (statusCode() >= 300) {
        const qsizetype room = keptErrorBodySize - m_downloadedData.size();
        if (room > 0)
            m_downloadedData.append(data.first(std::min(room, data.size())));
        return true;
    }
    if (m_downloadedData.size() + data.size() <= maximumDownloadedDataSize) {
        m_downloadedData.append(data);
        return true;
    }
    m_downloadedData.clear();
    m_connection->cancel();
    failAfterConnectionError(HFErrors::fetcherError(
        -6, QStringLiteral("The reply was too large (more than %1 bytes)").arg(maximumDownloadedDataSize)));
    return false;
}

void HFHTTPFetcher::connectionDidSendBodyData(HFURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                              qint64 totalBytesExpectedToWrite) {
    auto self = shared_from_this();
    LOCKED;
    if (!isOwnConnection(connection))
        return;
    const auto delegate = m_delegate;  // held: a callback may stop the fetch
    invokeSentDataCallback(sentDataSelector(), delegate.get(), bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}

void HFHTTPFetcher::invokeSentDataCallback(HFSentDataSelector selector, HFHTTPFetcherDelegate *target, qint64 bytesSent,
                                           qint64 totalBytesSent, qint64 totalBytesExpected) {
    if (target && selector)
        (target->*selector)(this, bytesSent, totalBytesSent, totalBytesExpected);
    if (const auto block = m_sentDataBlock)  // a copy: the block may stop the fetch
        block(bytesSent, totalBytesSent, totalBytesExpected);
}

int HFHTTPFetcher::statusAfterHandlingNotModifiedError() {
    const int status = statusCode();
    if (status != 304 || !m_fetchHistory || !m_fetchHistory->shouldCacheETaggedData())
        return status;
    const QByteArray cached = m_fetchHistory->cachedDataForRequest(m_request);
    if (cached.isNull() && cached.isEmpty())
        return status;
    if (m_downloadFile) {
        m_downloadFile->resize(0);
        m_downloadFile->seek(0);
        if (m_downloadFile->write(cached) != cached.size())
            return -4;
        m_downloadedLength = m_downloadFile->pos();
    } else {
        m_downloadedData = cached;
        m_downloadedLength = cached.size();
    }
    return 200;
}

void HFHTTPFetcher::connectionDidFinishLoading(HFURLConnection *connection) {
    auto self = shared_from_this();
    LOCKED;
    if (!isOwnConnection(connection))
        return;
    m_hasConnectionEnded = true;
    if (m_fetchHistory) {
        if (m_downloadFile)
            m_fetchHistory->removeCachedDataForRequest(m_request);
        else
            m_fetchHistory->updateFetchHistoryWithRequest(m_request, m_response, m_downloadedData);
    }
    HFHTTPFetcherLogging::logFetchWithError(this, nullptr);
    const int status = statusAfterHandlingNotModifiedError();
    if (m_isStopNotificationNeeded) {
        m_isStopNotificationNeeded = false;
        post(QStringLiteral("kHFHTTPFetcherStoppedNotification"));
    }
    VNErrorPtr error;
    if (status < 0 || status >= 300) {
        if (shouldRetryNowForStatus(status, nullptr)) {
            beginRetryTimer();
            return;
        }
        error = HFErrors::statusError(status, m_downloadedData);
    } else if (m_ownsDownloadFile) {
        moveDownloadIntoPlace(&error);
    }
    invokeFetchCallbacksWithData(m_downloadedData, error);
    stopFetchReleasingCallbacks(shouldReleaseCallbacksUponCompletion());
}

// Puts the finished temporary file at the download path in one step: the
// old file stays until the new one takes its place.
bool HFHTTPFetcher::moveDownloadIntoPlace(VNErrorPtr *error) {
    dropOwnDownloadFile();
    const QByteArray from = QFile::encodeName(m_temporaryDownloadPath);
    const QByteArray to = QFile::encodeName(m_downloadPath);
    QString failure;
    if (::rename(from.constData(), to.constData()) == 0) {
        m_temporaryDownloadPath.clear();
        return true;
    }
    if (errno == EXDEV) {
        if (copyDownloadIntoPlace(&failure)) {
            removeTemporaryDownloadFile();
            return true;
        }
    } else {
        failure = QString::fromLocal8Bit(strerror(errno));
    }
    *error = std::make_shared<VNError>(
        HFErrors::fetcherDomain(), -1,
        QVariantMap{{VNError::localizedDescriptionKey(), QStringLiteral("could not move the download into place: %1").arg(failure)}});
    return false;
}

// Another file system: the bytes are copied into a file beside the target
// under a name made for this copy alone (created exclusively, so it is never
// a file someone else holds), which then takes the target's place.
bool HFHTTPFetcher::copyDownloadIntoPlace(QString *failure) {
    QFile source(m_temporaryDownloadPath);
    QTemporaryFile beside(m_downloadPath + QStringLiteral(".hfpart-XXXXXX"));
    // Removed by us only while it is surely ours (before the rename).
    beside.setAutoRemove(false);
    if (!source.open(QIODevice::ReadOnly)) {
        *failure = source.errorString();
        return false;
    }
    if (!beside.open()) {
        *failure = beside.errorString();
        return false;
    }
    bool copied = true;
    QByteArray chunk;
    while (copied && !source.atEnd()) {
        chunk = source.read(1 << 20);
        copied = !chunk.isEmpty() && beside.write(chunk) == chunk.size();
    }
    // The permissions the temporary file would have carried over by a rename.
    copied = copied && beside.setPermissions(source.permissions()) && beside.flush();
    *failure = copied ? QString() : (beside.error() != QFileDevice::NoError ? beside.errorString() : source.errorString());
    beside.close();
    const QString besidePath = beside.fileName();
    if (copied && ::rename(QFile::encodeName(besidePath).constData(), QFile::encodeName(m_downloadPath).constData()) == 0)
        return true;
    if (copied)
        *failure = QString::fromLocal8Bit(strerror(errno));
    QFile::remove(besidePath);
    return false;
}

void HFHTTPFetcher::connectionDidFail(HFURLConnection *connection, const VNErrorPtr &error) {
    auto self = shared_from_this();
    LOCKED;
    if (!isOwnConnection(connection) || m_isCancellingChallenge)
        return;
    failAfterConnectionError(error);
}

void HFHTTPFetcher::failAfterConnectionError(const VNErrorPtr &error) {
    m_hasConnectionEnded = true;
    HFHTTPFetcherLogging::logFetchWithError(this, error);
    if (m_isStopNotificationNeeded) {
        m_isStopNotificationNeeded = false;
        post(QStringLiteral("kHFHTTPFetcherStoppedNotification"));
    }
    if (shouldRetryNowForStatus(0, error)) {
        beginRetryTimer();
        return;
    }
    invokeFetchCallbacksWithData({}, error);
    stopFetchReleasingCallbacks(true);
}

// ---------------------------------------------------------------------------
// Callbacks

void HFHTTPFetcher::invokeFetchCallbacksWithData(const QByteArray &data, const VNErrorPtr &error) {
    auto self = shared_from_this();
    LOCKED;
    auto delegate = m_delegate;
    auto selector = m_finishedSel;
    auto block = m_completionBlock;
    if (delegate && selector)
        (delegate.get()->*selector)(this, data, error);
    if (block)
        block(data, error);
}

void HFHTTPFetcher::invokeFetchCallbacksOnDelegateQueueWithData(const QByteArray &data, const VNErrorPtr &error) {
    VNOperationQueue *queue;
    {
        LOCKED;
        queue = m_delegateQueue;
    }
    if (!queue) {
        invokeFetchCallbacksWithData(data, error);
        return;
    }
    // The callbacks are taken now: they are released right after this.
    std::shared_ptr<HFHTTPFetcherDelegate> delegate;
    HFFinishedSelector selector;
    CompletionBlock block;
    {
        LOCKED;
        delegate = m_delegate;
        selector = m_finishedSel;
        block = m_completionBlock;
    }
    auto self = shared_from_this();
    queue->addOperation([self, delegate, selector, block, data, error] {
        if (delegate && selector)
            (delegate.get()->*selector)(self.get(), data, error);
        if (block)
            block(data, error);
    });
}

void HFHTTPFetcher::releaseCallbacks() {
    m_delegate.reset();
    m_delegateQueue = nullptr;
    m_completionBlock = nullptr;
    m_sentDataBlock = nullptr;
    m_receivedDataBlock = nullptr;
    m_retryBlock = nullptr;
}

// ---------------------------------------------------------------------------
// Stopping

void HFHTTPFetcher::stopFetching() {
    LOCKED;
    stopFetchReleasingCallbacks(true);
}

void HFHTTPFetcher::stopFetchReleasingCallbacks(bool release) {
    auto self = shared_from_this();
    std::shared_ptr<HFHTTPFetcherServiceProtocol> service;
    {
        LOCKED;
        destroyRetryTimer();
        if (m_connection) {
            auto connection = std::move(m_connection);
            m_connection.reset();
            connection->cancel();  // also silences a connection that has ended
        }
        if (m_isStopNotificationNeeded) {
            m_isStopNotificationNeeded = false;
            post(QStringLiteral("kHFHTTPFetcherStoppedNotification"));
        }
        if (m_authorizer)
            m_authorizer->stopAuthorization();
        m_isAuthorizing = false;
        if (release) {
            releaseCallbacks();
            m_authorizer.reset();
        }
        service = m_service.lock();
        if (service)
            service->fetcherDidStop(self);
        dropOwnDownloadFile();
        removeTemporaryDownloadFile();
    }
}

// The file made for a download path goes with its fetch; a caller's stays.
void HFHTTPFetcher::dropOwnDownloadFile() {
    if (m_downloadFile && m_ownsDownloadFile) {
        m_downloadFile->close();
        m_downloadFile.reset();
    }
    m_ownsDownloadFile = false;
}

void HFHTTPFetcher::removeTemporaryDownloadFile() {
    if (!m_temporaryDownloadPath.isEmpty()) {
        QFile::remove(m_temporaryDownloadPath);
        m_temporaryDownloadPath.clear();
    }
}

bool HFHTTPFetcher::isFetching() const {
    std::shared_ptr<HFHTTPFetcherServiceProtocol> service;
    {
        LOCKED;
        if (m_connection || m_hasRetryTimer || m_isAuthorizing)
            return true;
        service = m_service.lock();
    }
    return service && service->isDelayingFetcher(this);
}

void HFHTTPFetcher::waitForCompletionWithTimeout(double seconds) {
    QElapsedTimer timer;
    timer.start();
    auto done = [this] {
        LOCKED;
        return (!m_connection || m_hasConnectionEnded) && !m_hasRetryTimer && !m_completionBlock && !m_delegate;
    };
    const bool sleeps = delegateQueue() && !VNDispatch::isMainThread();
    while (!done() && timer.elapsed() < qint64(seconds * 1000)) {
        if (sleeps)
            QThread::msleep(1);
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

// ---------------------------------------------------------------------------
// Retry

bool HFHTTPFetcher::shouldRetryNowForStatus(int status, VNErrorPtr error) {
    bool authRefresh = false;
    if (m_authorizer && !m_hasAttemptedAuthRefresh && status == 401 && m_authorizer->primeForRefresh()) {
        m_hasAttemptedAuthRefresh = true;
        m_request.removeHeader(QStringLiteral("Authorization"));
        authRefresh = true;
    }
    const bool backOff = m_isRetryEnabled && nextRetryInterval() < m_maxRetryInterval;
    if (!authRefresh && !backOff)
        return false;
    if (!error)
        error = HFErrors::statusError(status, m_downloadedData);
    bool decision = authRefresh;
    if (!decision) {
        const QString &domain = error->domain();
        const qint64 code = error->code();
        decision = (domain == HFErrors::statusDomain() && (code == 408 || code == 503 || code == 504)) ||
                   (domain == HFErrors::urlDomain() && (code == HFErrors::URLTimedOut || code == HFErrors::URLNetworkConnectionLost));
    }
    const auto delegate = m_delegate;  // held: a callback may stop the fetch
    decision = invokeRetryCallback(m_retrySel, delegate.get(), decision, error);
    return decision;
}

bool HFHTTPFetcher::invokeRetryCallback(HFRetrySelector selector, HFHTTPFetcherDelegate *target, bool willRetry,
                                        const VNErrorPtr &error) {
    if (target && selector)
        willRetry = (target->*selector)(this, willRetry, error);
    if (const auto block = m_retryBlock)  // a copy: the block may stop the fetch
        willRetry = block(willRetry, error);
    return willRetry;
}

double HFHTTPFetcher::nextRetryInterval() const {
    LOCKED;
    double interval = m_lastRetryInterval * m_retryFactor;
    if (m_maxRetryInterval > 0)
        interval = std::min(interval, m_maxRetryInterval);
    return std::max(m_minRetryInterval, interval);
}

void HFHTTPFetcher::beginRetryTimer() {
    // The timer lives on the fetch's own loop, or on the main one with a
    // delegate queue.
    const HFRunLoop loop = m_delegateQueue ? HFRunLoop::main() : m_thread.isValid() ? m_thread : HFRunLoop::current();
    const double wait = std::min(nextRetryInterval(), m_maxRetryInterval);
    destroyRetryTimer();
    m_lastRetryInterval = wait;
    m_hasRetryTimer = true;
    const quint64 generation = ++m_retryGeneration;
    // The fetcher stays alive while its retry waits (the timer owns it, as
    // a running connection would).
    auto self = shared_from_this();
    loop.postAfter(wait, [self, generation] { self->retryTimerFired(generation); });
    post(QStringLiteral("kHFHTTPFetcherRetryDelayStartedNotification"));
}

void HFHTTPFetcher::destroyRetryTimer() {
    if (!m_hasRetryTimer)
        return;
    m_hasRetryTimer = false;
    ++m_retryGeneration;
    post(QStringLiteral("kHFHTTPFetcherRetryDelayStoppedNotification"));
}

void HFHTTPFetcher::retryTimerFired(quint64 generation) {
    std::shared_ptr<HFHTTPFetcherDelegate> delegate;
    HFFinishedSelector selector;
    {
        LOCKED;
        if (!m_hasRetryTimer || generation != m_retryGeneration)
            return;
        destroyRetryTimer();
        ++m_retryCount;
        stopFetchReleasingCallbacks(false);
        delegate = m_delegate;
        selector = m_finishedSel;
    }
    beginFetchWithDelegate(delegate, selector);
}

// ---------------------------------------------------------------------------
// Properties

int HFHTTPFetcher::statusCode() const {
    LOCKED;
    return m_response ? m_response->statusCode() : 0;
}

QMap<QString, QString> HFHTTPFetcher::responseHeaders() const {
    LOCKED;
    return m_response ? m_response->allHeaderFields() : QMap<QString, QString>();
}

HFURLResponsePtr HFHTTPFetcher::response() const { LOCKED; return m_response; }
QByteArray HFHTTPFetcher::downloadedData() const { LOCKED; return m_downloadedData; }
qint64 HFHTTPFetcher::downloadedLength() const { LOCKED; return m_downloadedLength; }
quint64 HFHTTPFetcher::retryCount() const { LOCKED; return m_retryCount; }
HFURLRequest HFHTTPFetcher::mutableRequest() const { LOCKED; return m_request; }
void HFHTTPFetcher::setMutableRequest(const HFURLRequest &request) { LOCKED; m_request = request; }
void HFHTTPFetcher::updateRequest(const std::function<void(HFURLRequest &)> &change) { LOCKED; change(m_request); }
std::optional<HFCredential> HFHTTPFetcher::credential() const { LOCKED; return m_credential; }
void HFHTTPFetcher::setCredential(std::optional<HFCredential> c) { LOCKED; m_credential = std::move(c); }
std::optional<HFCredential> HFHTTPFetcher::proxyCredential() const { LOCKED; return m_proxyCredential; }
void HFHTTPFetcher::setProxyCredential(std::optional<HFCredential> c) { LOCKED; m_proxyCredential = std::move(c); }
QByteArray HFHTTPFetcher::postData() const { LOCKED; return m_postData; }
void HFHTTPFetcher::setPostData(const QByteArray &data) { LOCKED; m_postData = data; }
std::shared_ptr<HFInputStream> HFHTTPFetcher::postStream() const { LOCKED; return m_postStream; }
void HFHTTPFetcher::setPostStream(std::shared_ptr<HFInputStream> s) { LOCKED; m_postStream = std::move(s); }
std::shared_ptr<HFHTTPFetcherDelegate> HFHTTPFetcher::delegate() const { LOCKED; return m_delegate; }
void HFHTTPFetcher::setDelegate(std::shared_ptr<HFHTTPFetcherDelegate> d) { LOCKED; m_delegate = std::move(d); }
std::shared_ptr<HFFetcherAuthorizationProtocol> HFHTTPFetcher::authorizer() const { LOCKED; return m_authorizer; }
void HFHTTPFetcher::setAuthorizer(std::shared_ptr<HFFetcherAuthorizationProtocol> a) { LOCKED; m_authorizer = std::move(a); }
std::shared_ptr<HFHTTPFetcherServiceProtocol> HFHTTPFetcher::service() const { LOCKED; return m_service.lock(); }
void HFHTTPFetcher::setService(const std::shared_ptr<HFHTTPFetcherServiceProtocol> &s) { LOCKED; m_service = s; }
QString HFHTTPFetcher::serviceHost() const { LOCKED; return m_serviceHost; }
void HFHTTPFetcher::setServiceHost(const QString &host) { LOCKED; m_serviceHost = host; }
qint64 HFHTTPFetcher::servicePriority() const { return m_servicePriority.load(); }
void HFHTTPFetcher::setServicePriority(qint64 p) { m_servicePriority.store(p); }
HFRunLoop HFHTTPFetcher::thread() const { LOCKED; return m_thread; }
void HFHTTPFetcher::setThread(const HFRunLoop &t) { LOCKED; m_thread = t; }
HFSentDataSelector HFHTTPFetcher::sentDataSelector() const { LOCKED; return m_sentDataSel; }
void HFHTTPFetcher::setSentDataSelector(HFSentDataSelector s) { LOCKED; m_sentDataSel = s; }
HFReceivedDataSelector HFHTTPFetcher::receivedDataSelector() const { LOCKED; return m_receivedDataSel; }
void HFHTTPFetcher::setReceivedDataSelector(HFReceivedDataSelector s) { LOCKED; m_receivedDataSel = s; }
HFRetrySelector HFHTTPFetcher::retrySelector() const { LOCKED; return m_retrySel; }
void HFHTTPFetcher::setRetrySelector(HFRetrySelector s) { LOCKED; m_retrySel = s; }
HFFinishedSelector HFHTTPFetcher::finishedSelector() const { LOCKED; return m_finishedSel; }
void HFHTTPFetcher::setFinishedSelector(HFFinishedSelector s) { LOCKED; m_finishedSel = s; }
bool HFHTTPFetcher::hasConnection() const { LOCKED; return bool(m_connection); }
bool HFHTTPFetcher::isWaitingForRetry() const { LOCKED; return m_hasRetryTimer; }
void HFHTTPFetcher::setDownloadedData(const QByteArray &data) { LOCKED; m_downloadedData = data; m_downloadedLength = data.size(); }
QString HFHTTPFetcher::downloadPath() const { LOCKED; return m_downloadPath; }
void HFHTTPFetcher::setDownloadPath(const QString &p) { LOCKED; m_downloadPath = p; }
QString HFHTTPFetcher::temporaryDownloadPath() const { LOCKED; return m_temporaryDownloadPath; }
void HFHTTPFetcher::setTemporaryDownloadPath(const QString &p) { LOCKED; m_temporaryDownloadPath = p; }
std::shared_ptr<QFile> HFHTTPFetcher::downloadFileHandle() const { LOCKED; return m_downloadFile; }
void HFHTTPFetcher::setDownloadFileHandle(std::shared_ptr<QFile> file) {
    LOCKED;
    m_downloadFile = std::move(file);
    m_ownsDownloadFile = false;
}
VNOperationQueue *HFHTTPFetcher::delegateQueue() const { LOCKED; return m_delegateQueue; }
void HFHTTPFetcher::setDelegateQueue(VNOperationQueue *q) { LOCKED; m_delegateQueue = q; }
QString HFHTTPFetcher::comment() const { LOCKED; return m_comment; }
void HFHTTPFetcher::setComment(const QString &c) { LOCKED; m_comment = c; }
QString HFHTTPFetcher::log() const { LOCKED; return m_log; }
void HFHTTPFetcher::setLog(const QString &l) { LOCKED; m_log = l; }
std::shared_ptr<HFCookieStorageProtocol> HFHTTPFetcher::cookieStorage() const { LOCKED; return m_cookieStorage; }
int HFHTTPFetcher::cookieStorageMethod() const { LOCKED; return m_cookieStorageMethod; }
std::shared_ptr<HFHTTPFetchHistoryProtocol> HFHTTPFetcher::fetchHistory() const { LOCKED; return m_fetchHistory; }
HFHTTPFetcher::CompletionBlock HFHTTPFetcher::completionBlock() const { LOCKED; return m_completionBlock; }
void HFHTTPFetcher::setCompletionBlock(CompletionBlock b) { LOCKED; m_completionBlock = std::move(b); }
void HFHTTPFetcher::setSentDataBlock(SentDataBlock b) { LOCKED; m_sentDataBlock = std::move(b); }
HFHTTPFetcher::SentDataBlock HFHTTPFetcher::sentDataBlock() const { LOCKED; return m_sentDataBlock; }
void HFHTTPFetcher::setReceivedDataBlock(ReceivedDataBlock b) { LOCKED; m_receivedDataBlock = std::move(b); }
void HFHTTPFetcher::setRetryBlock(RetryBlock b) { LOCKED; m_retryBlock = std::move(b); }
HFHTTPFetcher::RetryBlock HFHTTPFetcher::retryBlock() const { LOCKED; return m_retryBlock; }
bool HFHTTPFetcher::shouldFetchInBackground() const { LOCKED; return m_shouldFetchInBackground; }
void HFHTTPFetcher::setShouldFetchInBackground(bool on) { LOCKED; m_shouldFetchInBackground = on; }
QVariant HFHTTPFetcher::userData() const { LOCKED; return m_userData; }
void HFHTTPFetcher::setUserData(const QVariant &d) { LOCKED; m_userData = d; }
QVariantMap HFHTTPFetcher::properties() const { LOCKED; return m_properties; }
void HFHTTPFetcher::setProperties(const QVariantMap &p) { LOCKED; m_properties = p; }
QVariant HFHTTPFetcher::property(const QString &key) const { LOCKED; return m_properties.value(key); }
bool HFHTTPFetcher::isRetryEnabled() const { LOCKED; return m_isRetryEnabled; }
double HFHTTPFetcher::maxRetryInterval() const { LOCKED; return m_maxRetryInterval; }
double HFHTTPFetcher::minRetryInterval() const { LOCKED; return m_minRetryInterval; }
double HFHTTPFetcher::retryFactor() const { LOCKED; return m_retryFactor; }
void HFHTTPFetcher::setRetryFactor(double f) { LOCKED; m_retryFactor = f; }
QByteArray HFHTTPFetcher::loggedStreamData() const {
    std::shared_ptr<HFLoggedStreamData> logged;
    {
        LOCKED;
        logged = m_loggedStreamData;
    }
    return logged ? logged->data() : QByteArray();
}

void HFHTTPFetcher::setProperty(const QString &key, const QVariant &value) {
    LOCKED;
    if (value.isValid())
        m_properties.insert(key, value);
    else
        m_properties.remove(key);
}

void HFHTTPFetcher::addPropertiesFromDictionary(const QVariantMap &dictionary) {
    LOCKED;
    for (auto it = dictionary.begin(); it != dictionary.end(); ++it)
        m_properties.insert(it.key(), it.value());
}

void HFHTTPFetcher::setCookieStorageMethod(int method) {
    LOCKED;
    m_cookieStorageMethod = method;
    if (method == StaticCookieStorage)
        m_cookieStorage = staticCookieStorage();
    else if (method == FetchHistoryCookieStorage)
        m_cookieStorage = m_fetchHistory ? m_fetchHistory->cookieStorage() : nullptr;
    else
        m_cookieStorage.reset();
}

void HFHTTPFetcher::setFetchHistory(std::shared_ptr<HFHTTPFetchHistoryProtocol> history) {
    LOCKED;
    m_fetchHistory = std::move(history);
    if (m_fetchHistory)
        setCookieStorageMethod(FetchHistoryCookieStorage);
    else if (m_cookieStorageMethod == FetchHistoryCookieStorage)
        setCookieStorageMethod(StaticCookieStorage);
}

void HFHTTPFetcher::setRetryEnabled(bool on) {
    LOCKED;
    if (on && !m_isRetryEnabled) {
        setMinRetryInterval(0);
        m_maxRetryInterval = -1;
        m_retryFactor = 2.0;
        m_lastRetryInterval = 0;
    }
    m_isRetryEnabled = on;
}

void HFHTTPFetcher::setMinRetryInterval(double seconds) {
    LOCKED;
    if (seconds > 0) {
        m_minRetryInterval = seconds;
    } else {
        const quint32 r = QRandomGenerator::global()->generate() & 0xFFFF;
        m_minRetryInterval = 1.0 + double(r) / 65535.0;
    }
}

void HFHTTPFetcher::setMaxRetryInterval(double seconds) {
    LOCKED;
    m_maxRetryInterval = seconds > 0 ? seconds : -1;
}
