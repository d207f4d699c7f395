#pragma once

#include "DA/HTTPFetcher/HFCookieStorage.h"
#include "DA/HTTPFetcher/HFHTTPFetchHistory.h"
#include "DA/HTTPFetcher/HFHTTPFetcherLogging.h"
#include "DA/HTTPFetcher/HFHTTPFetcherProtocols.h"
#include "DA/HTTPFetcher/HFURLConnection.h"

#include <QFile>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class VNOperationQueue;

// One HTTP fetch and its retries: prepares the request (body, cookies,
// ETag history), runs it over an HFURLConnection, follows redirects by its
// own rule, answers challenges with its credentials, collects the body in
// memory or in a temporary file that replaces the download path only on
// success, turns statuses outside 0..299 into errors, retries with back-off
// when asked, and calls back on the thread that began it (or its delegate
// queue, which must run one operation at a time). A fetcher serves one
// fetch; beginning it again while its connection exists fails.
class HFHTTPFetcher : public HFURLConnectionDelegate, public std::enable_shared_from_this<HFHTTPFetcher> {
public:
    using CompletionBlock = std::function<void(const QByteArray &data, const VNErrorPtr &error)>;
    using SentDataBlock = std::function<void(qint64 bytesSent, qint64 totalBytesSent, qint64 totalBytesExpected)>;
    using ReceivedDataBlock = std::function<void(const QByteArray &dataReceivedSoFar)>;
    using RetryBlock = std::function<bool(bool suggestedWillRetry, const VNErrorPtr &error)>;

    enum CookieStorageMethod { StaticCookieStorage = 0, FetchHistoryCookieStorage = 1, SystemCookieStorage = 2, NoCookieStorage = 3 };

    static std::shared_ptr<HFHTTPFetcher> fetcherWithRequest(const HFURLRequest &request);
    static std::shared_ptr<HFHTTPFetcher> fetcherWithURL(const QUrl &url);
    static std::shared_ptr<HFHTTPFetcher> fetcherWithURLString(const QString &url);
    explicit HFHTTPFetcher(const HFURLRequest &request = {});
    ~HFHTTPFetcher() override;
    QString description() const;

    // --- Starting and stopping ------------------------------------------
    // True: under way (running, waiting in the service, or authorizing).
    // False: it failed to begin, and the callbacks have had the error.
    virtual bool beginFetchWithDelegate(std::shared_ptr<HFHTTPFetcherDelegate> delegate,
                                        HFFinishedSelector finishedSelector = &HFHTTPFetcherDelegate::fetcherFinished);
    virtual bool beginFetchWithCompletionHandler(CompletionBlock handler);
    // No callback follows.
    virtual void stopFetching();
    bool isFetching() const;
    void waitForCompletionWithTimeout(double seconds);
    // Used by the service (restart of a waiting fetcher) and by retries.
    bool beginFetchMayDelay(bool mayDelay, bool mayAuthorize);

    // --- Results --------------------------------------------------------
    virtual int statusCode() const;
    virtual QMap<QString, QString> responseHeaders() const;
    HFURLResponsePtr response() const;
    QByteArray downloadedData() const;
    // The most bytes of a reply kept in memory (a feed, a listing); past it
    // the fetch fails with fetcher error -6.
    static constexpr qsizetype maximumDownloadedDataSize = 32 << 20;
    static constexpr qsizetype keptErrorBodySize = 1 << 20;
    qint64 downloadedLength() const;
    quint64 retryCount() const;
    double nextRetryInterval() const;

    // --- Settings -------------------------------------------------------
    HFURLRequest mutableRequest() const;
    void setMutableRequest(const HFURLRequest &request);
    // Applies a change to the request in place.
    void updateRequest(const std::function<void(HFURLRequest &)> &change);
    std::optional<HFCredential> credential() const;
    void setCredential(std::optional<HFCredential> credential);
    std::optional<HFCredential> proxyCredential() const;
    void setProxyCredential(std::optional<HFCredential> credential);
    QByteArray postData() const;
    void setPostData(const QByteArray &data);
    std::shared_ptr<HFInputStream> postStream() const;
    void setPostStream(std::shared_ptr<HFInputStream> stream);
    std::shared_ptr<HFHTTPFetcherDelegate> delegate() const;
    void setDelegate(std::shared_ptr<HFHTTPFetcherDelegate> delegate);
    std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer() const;
    void setAuthorizer(std::shared_ptr<HFFetcherAuthorizationProtocol> authorizer);
    std::shared_ptr<HFHTTPFetcherServiceProtocol> service() const;
    void setService(const std::shared_ptr<HFHTTPFetcherServiceProtocol> &service);
    QString serviceHost() const;
    void setServiceHost(const QString &host);
    qint64 servicePriority() const;
    void setServicePriority(qint64 priority);
    HFRunLoop thread() const;
    void setThread(const HFRunLoop &thread);
    virtual HFSentDataSelector sentDataSelector() const;
    virtual void setSentDataSelector(HFSentDataSelector selector);
    HFReceivedDataSelector receivedDataSelector() const;
    void setReceivedDataSelector(HFReceivedDataSelector selector);
    HFRetrySelector retrySelector() const;
    void setRetrySelector(HFRetrySelector selector);
    QString downloadPath() const;
    void setDownloadPath(const QString &path);
    // The temporary file the body goes into; a beginning with a download
    // path makes its own. Whatever path is remembered here is deleted when
    // the fetch stops.
    QString temporaryDownloadPath() const;
    void setTemporaryDownloadPath(const QString &path);
    // The open file the body is written into instead of memory (each reply
    // starts it afresh at 0). A beginning with a download path replaces it
    // by the temporary file's; a file of the caller's stays open and set.
    std::shared_ptr<QFile> downloadFileHandle() const;
    void setDownloadFileHandle(std::shared_ptr<QFile> file);
    VNOperationQueue *delegateQueue() const;
    void setDelegateQueue(VNOperationQueue *queue);
    QString comment() const;
    void setComment(const QString &comment);
    // The format with each argument put in its place ("%1", "%2" ...); an
    // empty format clears the comment.
    template <typename... Args>
    void setCommentWithFormat(const QString &format, const Args &...args) {
        if (format.isEmpty()) {
            setComment(QString());
            return;
        }
        // One argument at a time: arg(a, b) of two numbers would read b as a width.
        QString text = format;
        ((text = text.arg(args)), ...);
        setComment(text);
    }
    QString log() const;
    void setLog(const QString &log);
    std::shared_ptr<HFCookieStorageProtocol> cookieStorage() const;
    int cookieStorageMethod() const;
    void setCookieStorageMethod(int method);
    std::shared_ptr<HFHTTPFetchHistoryProtocol> fetchHistory() const;
    void setFetchHistory(std::shared_ptr<HFHTTPFetchHistoryProtocol> history);
    CompletionBlock completionBlock() const;
    void setCompletionBlock(CompletionBlock block);
    void setSentDataBlock(SentDataBlock block);
    SentDataBlock sentDataBlock() const;
    void setReceivedDataBlock(ReceivedDataBlock block);
    void setRetryBlock(RetryBlock block);
    RetryBlock retryBlock() const;
    bool shouldFetchInBackground() const;
    void setShouldFetchInBackground(bool on);
    QVariant userData() const;
    void setUserData(const QVariant &data);
    QVariantMap properties() const;
    void setProperties(const QVariantMap &properties);
    void setProperty(const QString &key, const QVariant &value);
    QVariant property(const QString &key) const;
    void addPropertiesFromDictionary(const QVariantMap &dictionary);
    bool isRetryEnabled() const;
    void setRetryEnabled(bool on);
    double maxRetryInterval() const;
    void setMaxRetryInterval(double seconds);
    double minRetryInterval() const;
    void setMinRetryInterval(double seconds);
    double retryFactor() const;
    void setRetryFactor(double factor);

    // --- Class-wide -----------------------------------------------------
    static std::shared_ptr<HFCookieStorage> staticCookieStorage();
    // What runs a fetcher's request: HFURLConnection::start unless a stand-in
    // (a test double) is put in; null puts the real transfer back.
    using ConnectionClass = std::function<std::shared_ptr<HFURLConnection>(
        const HFURLRequest &request, std::shared_ptr<HFURLConnectionDelegate> delegate, HFRunLoop loop, qint64 maximumBodyBytes)>;
    static ConnectionClass connectionClass();
    static void setConnectionClass(ConnectionClass maker);
    // Our transport reports upload progress.
    static bool doesSupportSentDataCallback() { return true; }
    // Notifications: "kHFHTTPFetcherStartedNotification", "...Stopped...",
    // "kHFHTTPFetcherRetryDelayStartedNotification", "...Stopped...".
    using NotificationObserver = std::function<void(const QString &name, HFHTTPFetcher *fetcher)>;
    static void setNotificationObserver(NotificationObserver observer);

    // --- Connection events (the hooks a subclass may extend) ------------
    std::optional<HFURLRequest> connectionWillSendRequest(HFURLConnection *connection, const HFURLRequest &proposed,
                                                          const HFURLResponsePtr &redirectResponse) override;
    std::optional<HFCredential> connectionDidReceiveChallenge(HFURLConnection *connection,
                                                              const HFAuthenticationChallenge &challenge) override;
    void connectionDidReceiveResponse(HFURLConnection *connection, const HFURLResponsePtr &response) override;
    void connectionDidReceiveData(HFURLConnection *connection, const QByteArray &data) override;
    void connectionDidSendBodyData(HFURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                   qint64 totalBytesExpectedToWrite) override;
    void connectionDidFinishLoading(HFURLConnection *connection) override;
    void connectionDidFail(HFURLConnection *connection, const VNErrorPtr &error) override;

    // The request as sent and the body as logged (for the fetch log).
    QByteArray loggedStreamData() const;

protected:
    void failToBeginFetchWithError(VNErrorPtr error);
    void invokeFetchCallbacksWithData(const QByteArray &data, const VNErrorPtr &error);
    void invokeFetchCallbacksOnDelegateQueueWithData(const QByteArray &data, const VNErrorPtr &error);
    virtual bool shouldReleaseCallbacksUponCompletion() const { return true; }
    void stopFetchReleasingCallbacks(bool release);
    bool shouldRetryNowForStatus(int status, VNErrorPtr error);
    void invokeSentDataCallback(HFSentDataSelector selector, HFHTTPFetcherDelegate *target, qint64 bytesSent,
                                qint64 totalBytesSent, qint64 totalBytesExpected);
    bool invokeRetryCallback(HFRetrySelector selector, HFHTTPFetcherDelegate *target, bool willRetry, const VNErrorPtr &error);
    bool isOwnConnection(HFURLConnection *connection) const;
    HFFinishedSelector finishedSelector() const;
    void setFinishedSelector(HFFinishedSelector selector);
    bool hasConnection() const;
    void post(const QString &notification);
    void releaseCallbacks();
    void setDownloadedData(const QByteArray &data);
    bool isWaitingForRetry() const;

    mutable std::recursive_mutex m_mutex;

private:
    void addCookiesToRequest(HFURLRequest &request);
    void handleCookiesForResponse(const HFURLResponsePtr &response);
    int statusAfterHandlingNotModifiedError();
    void beginRetryTimer();
    void retryTimerFired(quint64 generation);
    void destroyRetryTimer();
    void authorizeRequest();
    void authorizerFinished(const VNErrorPtr &error);
    void failAfterConnectionError(const VNErrorPtr &error);
    void removeTemporaryDownloadFile();
    bool moveDownloadIntoPlace(VNErrorPtr *error);
    bool copyDownloadIntoPlace(QString *failure);
    void dropOwnDownloadFile();
    // Keeps a piece of a body read into memory: an error page keeps its
    // first MiB, any other body fails the fetch past the bound.
    bool keepDownloadedPiece(const QByteArray &data);

    HFURLRequest m_request;
    std::shared_ptr<HFURLConnection> m_connection;
    QByteArray m_downloadedData;
    QString m_downloadPath;
    QString m_temporaryDownloadPath;
    std::shared_ptr<QFile> m_downloadFile;
    bool m_ownsDownloadFile = false;  // made for the download path
    qint64 m_downloadedLength = 0;
    std::optional<HFCredential> m_credential;
    std::optional<HFCredential> m_proxyCredential;
    QByteArray m_postData;
    std::shared_ptr<HFInputStream> m_postStream;
    std::shared_ptr<HFLoggedStreamData> m_loggedStreamData;
    HFURLResponsePtr m_response;
    std::shared_ptr<HFHTTPFetcherDelegate> m_delegate;
    HFFinishedSelector m_finishedSel = nullptr;
    HFSentDataSelector m_sentDataSel = nullptr;
    HFReceivedDataSelector m_receivedDataSel = nullptr;
    CompletionBlock m_completionBlock;
    ReceivedDataBlock m_receivedDataBlock;
    SentDataBlock m_sentDataBlock;
    RetryBlock m_retryBlock;
    bool m_hasConnectionEnded = false;
    bool m_isCancellingChallenge = false;
    bool m_isStopNotificationNeeded = false;
    bool m_shouldFetchInBackground = false;
    QVariant m_userData;
    QVariantMap m_properties;
    VNOperationQueue *m_delegateQueue = nullptr;
    std::shared_ptr<HFHTTPFetchHistoryProtocol> m_fetchHistory;
    int m_cookieStorageMethod = StaticCookieStorage;
    std::shared_ptr<HFCookieStorageProtocol> m_cookieStorage;
    std::shared_ptr<HFFetcherAuthorizationProtocol> m_authorizer;
    bool m_isAuthorizing = false;
    std::weak_ptr<HFHTTPFetcherServiceProtocol> m_service;
    QString m_serviceHost;
    std::atomic<qint64> m_servicePriority{0};  // read by the service under its own lock
    HFRunLoop m_thread;
    bool m_isRetryEnabled = false;
    HFRetrySelector m_retrySel = nullptr;
    bool m_hasRetryTimer = false;
    quint64 m_retryGeneration = 0;
    quint64 m_retryCount = 0;
    double m_maxRetryInterval = -1;
    double m_minRetryInterval = 0;
    double m_retryFactor = 2.0;
    double m_lastRetryInterval = 0;
    bool m_hasAttemptedAuthRefresh = false;
    QString m_comment;
    QString m_log;
};
