#pragma once

#include "Net/NRHTTPRequest.h"
#include "Net/NRProgressDelegate.h"
#include "Net/NRRequestQueueListener.h"
#include "Platform/VNError.h"

#include <QByteArray>
#include <QPointer>
#include <QVariantMap>
#include <deque>
#include <functional>
#include <memory>
#include <set>

// A batch of requests: suspended until go(), at most four at a time (a
// request waiting for something outside the batch gives up its place), one
// upload and one download progress for the whole batch, each request's
// events passed to one delegate by method name, and (by default) the rest
// of the batch cancelled when one request fails.
//
// Main thread only. Delegate methods take the request
// (`requestFinished(NRHTTPRequest*)`, headers also a QVariantMap, the
// will-redirect method also the new QUrl) or, for the queue-finished
// method, the queue (`queueFinished(NRRequestQueue*)`).
//
// The queue starts its requests itself, outside the shared queue of
// NRHTTPRequest::startAsynchronous(): a batch whose requests wait on
// requests of their own (a web page's style sheets) never holds places
// that other transfers of the application need.
class NRRequestQueue : public NRRequestQueueListener, public std::enable_shared_from_this<NRRequestQueue> {
public:
    static std::shared_ptr<NRRequestQueue> queue();
    NRRequestQueue();
    ~NRRequestQueue() override;

    // --- The operation queue ------------------------------------------------
    void go();
    void setSuspended(bool suspended);
    bool isSuspended() const { return m_suspended; }
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const { return m_maxConcurrent; }
    // Cancels every request (each reports its failure), then the byte counts
    // go back to 0 once the cancelled requests have reported.
    void cancelAllOperations();
    // Cancels everything, forgets the delegates and methods, suspends again.
    void reset();
    // Only requests can join: anything else is refused with the error
    // "AttemptToAddInvalidRequest" (and nothing is added).
    VNErrorPtr addOperation(const std::shared_ptr<VNOperation> &operation);
    void addRequest(const std::shared_ptr<NRHTTPRequest> &request);
    // A HEAD request run before the others, learning a download's size.
    void addHEADOperation(const std::shared_ptr<VNOperation> &operation);
    // The running request waits for something outside the batch (a web
    // page's resource for a request of its page's tree that another batch
    // fetches) and sends nothing meanwhile: its place goes to the next
    // request, so nothing it waits for is kept waiting behind it. It stays
    // in the batch and ends as any other.
    void requestGivesUpItsPlace(NRHTTPRequest *request);
    std::vector<std::shared_ptr<NRHTTPRequest>> operations() const;
    int operationCount() const;
    // A new suspended queue with the same delegates, methods and flags.
    std::shared_ptr<NRRequestQueue> copy() const;

    // --- Delegates --------------------------------------------------------
    void setDelegate(QObject *delegate) { m_delegate = delegate; }
    QObject *delegate() const { return m_delegate.data(); }
    void setRequestDidStartSelector(const QByteArray &m) { m_requestDidStartSelector = m; }
    void setRequestDidReceiveResponseHeadersSelector(const QByteArray &m) { m_requestDidReceiveResponseHeadersSelector = m; }
    void setRequestWillRedirectSelector(const QByteArray &m) { m_requestWillRedirectSelector = m; }
    void setRequestDidFinishSelector(const QByteArray &m) { m_requestDidFinishSelector = m; }
    void setRequestDidFailSelector(const QByteArray &m) { m_requestDidFailSelector = m; }
    void setQueueDidFinishSelector(const QByteArray &m) { m_queueDidFinishSelector = m; }
    QByteArray requestDidStartSelector() const { return m_requestDidStartSelector; }
    QByteArray requestDidReceiveResponseHeadersSelector() const { return m_requestDidReceiveResponseHeadersSelector; }
    QByteArray requestWillRedirectSelector() const { return m_requestWillRedirectSelector; }
    QByteArray requestDidFinishSelector() const { return m_requestDidFinishSelector; }
    QByteArray requestDidFailSelector() const { return m_requestDidFailSelector; }
    QByteArray queueDidFinishSelector() const { return m_queueDidFinishSelector; }
    // The same events as blocks (after the delegate's methods).
    using RequestBlock = std::function<void(NRHTTPRequest *request)>;
    void setRequestFinishedBlock(RequestBlock block) { m_requestFinishedBlock = std::move(block); }
    void setRequestFailedBlock(RequestBlock block) { m_requestFailedBlock = std::move(block); }
    void setQueueFinishedBlock(std::function<void()> block) { m_queueFinishedBlock = std::move(block); }
    // Called (later, on the main thread) when every request left in the
    // batch has given up its place: the batch only waits for something
    // outside it.
    void setQueueWaitsElsewhereBlock(std::function<void()> block) { m_queueWaitsElsewhereBlock = std::move(block); }
    void setUploadProgressDelegate(std::weak_ptr<NRProgressDelegate> delegate);
    void setDownloadProgressDelegate(std::weak_ptr<NRProgressDelegate> delegate);
    std::shared_ptr<NRProgressDelegate> uploadProgressDelegate() const { return m_uploadProgressDelegate.lock(); }
    std::shared_ptr<NRProgressDelegate> downloadProgressDelegate() const { return m_downloadProgressDelegate.lock(); }

    // --- Counts and settings ------------------------------------------------
    quint64 bytesUploadedSoFar() const { return m_bytesUploadedSoFar; }
    quint64 totalBytesToUpload() const { return m_totalBytesToUpload; }
    quint64 bytesDownloadedSoFar() const { return m_bytesDownloadedSoFar; }
    quint64 totalBytesToDownload() const { return m_totalBytesToDownload; }
    bool shouldCancelAllRequestsOnFailure() const { return m_shouldCancelAllRequestsOnFailure; }
    void setShouldCancelAllRequestsOnFailure(bool on) { m_shouldCancelAllRequestsOnFailure = on; }
    int requestsCount() const { return m_requestsCount; }
    bool showAccurateProgress() const { return m_showAccurateProgress; }
    void setShowAccurateProgress(bool on) { m_showAccurateProgress = on; }
    QVariantMap userInfo() const { return m_userInfo; }
    void setUserInfo(const QVariantMap &info) { m_userInfo = info; }

    // --- What the requests tell the queue ---------------------------------------
    void requestStarted(NRHTTPRequest *request) override;
    void requestDidReceiveResponseHeaders(NRHTTPRequest *request, const QMap<QString, QString> &headers) override;
    void requestFinished(NRHTTPRequest *request) override;
    void requestFailed(NRHTTPRequest *request) override;
    void requestDidReceiveBytes(NRHTTPRequest *request, qint64 bytes) override;
    void requestDidSendBytes(NRHTTPRequest *request, qint64 bytes) override;
    void requestIncrementDownloadSizeBy(NRHTTPRequest *request, qint64 amount) override;
    void requestIncrementUploadSizeBy(NRHTTPRequest *request, qint64 amount) override;
    // Only what the delegate can answer: the will-redirect method (with the
    // request and the new URL), authenticationNeededForRequest and
    // proxyAuthenticationNeededForRequest (with the request).
    bool respondsToWillRedirect() const override;
    void requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &url) override;
    bool respondsToAuthenticationNeeded() const override;
    void authenticationNeededForRequest(NRHTTPRequest *request) override;
    bool respondsToProxyAuthenticationNeeded() const override;
    void proxyAuthenticationNeededForRequest(NRHTTPRequest *request) override;
    void requestWasSilenced(NRHTTPRequest *request) override;

private:
    struct Entry {
        std::shared_ptr<NRHTTPRequest> request;
        std::weak_ptr<NRHTTPRequest> waitsFor;  // its HEAD request
        bool isHEAD = false;
    };
    void requestEnded(NRHTTPRequest *request, bool failed);
    // Takes the request out of the batch; false when it was not in it.
    bool removeRequest(NRHTTPRequest *request);
    void reportQueueFinished();
    bool delegateResponds(const QByteArray &method, const char *arguments) const;
    void startMore();
    void scheduleStartMore();
    void callDelegate(const QByteArray &method, NRHTTPRequest *request);
    static void resetProgressDelegate(const std::weak_ptr<NRProgressDelegate> &delegate);
    static void addClamped(quint64 &value, qint64 amount);
    bool isHEADRequest(const NRHTTPRequest *request) const;

    std::deque<Entry> m_pending;
    std::vector<Entry> m_running;
    std::vector<Entry> m_waitingElsewhere;  // started, and gave up their places
    std::set<const NRHTTPRequest *> m_headRequests;
    bool m_suspended = true;
    int m_maxConcurrent = 4;
    bool m_startScheduled = false;
    bool m_resetCountsWhenQuiet = false;

    QPointer<QObject> m_delegate;
    QByteArray m_requestDidStartSelector, m_requestDidReceiveResponseHeadersSelector, m_requestWillRedirectSelector,
        m_requestDidFinishSelector, m_requestDidFailSelector, m_queueDidFinishSelector;
    std::weak_ptr<NRProgressDelegate> m_uploadProgressDelegate, m_downloadProgressDelegate;
    RequestBlock m_requestFinishedBlock, m_requestFailedBlock;
    std::function<void()> m_queueFinishedBlock;
    std::function<void()> m_queueWaitsElsewhereBlock;

    quint64 m_bytesUploadedSoFar = 0, m_totalBytesToUpload = 0, m_bytesDownloadedSoFar = 0, m_totalBytesToDownload = 0;
    bool m_shouldCancelAllRequestsOnFailure = true;
    int m_requestsCount = 0;
    bool m_showAccurateProgress = false;
    QVariantMap m_userInfo;
};

Q_DECLARE_METATYPE(NRRequestQueue *)
