// Progress, cancelling, failure and the callbacks delivered on the main thread.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Net/NRNetworkThread.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QFile>
#include <QMetaMethod>

using namespace NRHTTPRequestInternal;

void NRHTTPRequest::cancel() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] { self->cancelOnRequestThread(); });
}

void NRHTTPRequest::clearDelegatesAndCancel() {
    std::shared_ptr<NRRequestQueueListener> queue;
    {
        LOCKED;
        queue = m_queue.lock();
        m_queue.reset();
        m_queueHeld.reset();
    }
    m_delegate = nullptr;
    m_uploadProgressDelegate.reset();
    m_downloadProgressDelegate.reset();
    releaseBlocks();
    if (queue)
        queue->requestWasSilenced(this);
    cancel();
}

void NRHTTPRequest::cancelOnRequestThread() {
    LOCKED;
    // A request waiting for credentials, for its turn to look for them or for
    // a redirect decision has read its reply (complete) but has not ended.
    // A request waiting for its deferred finish (a page for its resources)
    // has read its reply too, and can still be cancelled.
    const bool finishing = m_finishDeferred && !m_error;
    if (m_cancelled || (m_complete && !isWaiting() && !finishing))
        return;
    // Marked before the failure is queued: its callback sees isCancelled().
    markCancelled();
    failWithError(makeError(RequestCancelledErrorType, QStringLiteral("The request was cancelled")));
    m_cancelled = true;
    m_finishDeferred = false;
    if (finishing)
        deferredFinishCancelled();
}

void NRHTTPRequest::cancelLoad() {
    if (m_PACFileRequest) {
        auto fetch = std::move(m_PACFileRequest);
        fetch->cancel();
    }
    destroyTransfer();
    m_bodyFile.reset();
    // A reply cut short is no reply: only a whole one stays readable (a
    // refusal read to its end, with its status and page).
    if (!m_downloadComplete)
        m_rawResponseData = QByteArray();
    closeDownloadStreams();
    // The request has failed already; a file left behind is only logged.
    if (VNErrorPtr error = deleteTemporaryDownloadFiles())
        VNLog::log(QStringLiteral("NRHTTPRequest: %1").arg(error->localizedDescription()));
}

void NRHTTPRequest::failWithError(const VNErrorPtr &error) {
    LOCKED;
    m_complete = true;
    m_waitingForCredentials = m_waitingForCredentialTurn = m_waitingForRedirect = m_waitingForProxyCredentials = false;
    const bool first = !m_cancelled && !m_error;  // a second failure is ignored
    if (auto cache = m_downloadCache.lock(); first && cache &&
                                             (m_cachePolicy & NRFallbackToCacheIfLoadFailsCachePolicy) &&
                                             cache->canUseCachedDataForRequest(*this)) {
        cancelLoad();
        releaseCredentialTurn();
        useDataFromCache();
        return;
    }
    if (first) {
        m_error = error;
        m_failed.store(true);
    }
    cancelLoad();
    releaseCredentialTurn();
    if (!first)
        return;
    VNLog::log(QStringLiteral("NRHTTPRequest failed: %1 (%2)").arg(error->localizedDescription(), description()));
    if (isHEADForMainRequest())
        passFailureToMainRequest(error);
    else
        onMain([](NRHTTPRequest &r) { r.reportFailure(); });
    if (m_networkThreadDone) {
        auto done = std::move(m_networkThreadDone);
        auto self = sharedSelf();
        NRNetworkThread::shared().post([done, self] { done(*self); });
    }
    if (m_inProgress)
        markAsFinished();
}

void NRHTTPRequest::markAsFinished() {
    // Finished for good (no retry, no credentials to wait for): a body file
    // the request made itself goes.
    if (VNErrorPtr error = deleteTemporaryBodyFiles())
        VNLog::log(QStringLiteral("NRHTTPRequest: %1").arg(error->localizedDescription()));
    m_requestAuthentication.reset();
    m_proxyAuthentication.reset();
    NRNetworkThread::shared().removeTicking(this);
    const bool wasInProgress = m_inProgress;
    m_inProgress = false;
    if (m_holdsPlace) {
        m_holdsPlace = false;
        NRNetworkThread::shared().releasePlace();
    }
    if (!wasInProgress && !isExecuting())
        return;
    // Whoever waits for the end (a synchronous start, the queue) finds the
    // request's last callbacks already on their way to the main thread. On
    // the network thread they go when its turn ends, and the request is
    // marked finished then.
    NRNetworkThread &thread = NRNetworkThread::shared();
    if (auto self = std::static_pointer_cast<NRHTTPRequest>(weak_from_this().lock()); self && thread.isCurrentThread()) {
        thread.afterHandOver([self = std::move(self)] { self->setFinished(true); });
        return;
    }
    VNDispatch::MainBatch::handOver();
    setFinished(true);
}

// A HEAD request made for a main request reports nothing itself: its reply
// only tells the main request's size.
bool NRHTTPRequest::reportsProgressNow() const {
    if (m_madeForMainRequest)
        return false;  // its main request reports the progress
    if (!m_showAccurateProgress && !(m_complete && !m_updatedProgress))
        return false;
    return m_mainRequest.expired();
}

void NRHTTPRequest::updateProgressIndicators() {
    if (!reportsProgressNow())
        return;
    updateUploadProgress();
    updateDownloadProgress();
}

void NRHTTPRequest::takeBytesSent(quint64 uploaded) {
    const quint64 before = m_totalBytesSent;
    m_totalBytesSent = uploaded;
    if (m_totalBytesSent > before)
        m_lastActivity.start();
    // A measurement that is not reported (the request counts one unit until
    // its end) leaves the last report's count, so that what it sent is in
    // the next report instead of being lost.
    if (!reportsProgressNow()) {
        m_bytesSentUnreported = true;
        return;
    }
    if (!m_bytesSentUnreported)
        m_lastBytesSent = before;
    m_bytesSentUnreported = false;
}

void NRHTTPRequest::updateUploadProgress() {
    if (m_cancelled || m_totalBytesSent == 0)
        return;
    if (m_uploadBufferSize == 0 && m_totalBytesSent != quint64(m_postLength)) {
        m_uploadBufferSize = m_totalBytesSent;
        incrementUploadSizeBy(-qint64(m_uploadBufferSize));
    }
    qint64 amount;
    if (m_showAccurateProgress || m_uploadCountedByTheByte) {
        if (m_totalBytesSent != quint64(m_postLength) && m_lastBytesSent == 0)
            return;
        amount = qint64(m_totalBytesSent) - qint64(m_lastBytesSent);
    } else {
        amount = 1;
        m_updatedProgress = true;
    }
    if (amount == 0)
        return;
    const qint64 postLength = m_postLength;
    const double denominator = double(postLength) - double(m_uploadBufferSize);
    const double fraction = denominator > 0 ? (double(m_totalBytesSent) - double(m_uploadBufferSize)) / denominator : 1.0;
    m_lastBytesSent = m_totalBytesSent;
    if (!m_wantsUploadProgress)
        return;
    reportBytesSent(amount, postLength, fraction);
}

// Reported after the upload, which may have taken the request's one unit
// (inaccurate progress) already: the download's unit is sent all the same,
// or a queue's download fraction would never reach 1.
void NRHTTPRequest::updateDownloadProgress() {
    if (!m_headersRead || m_needsRedirect || m_authenticationNeeded)
        return;
    // A reply of unknown length counts once it has ended (its length is then
    // the bytes read).
    if (!m_contentLength && !m_complete)
        return;
    const quint64 soFar = m_totalBytesRead + m_partialDownloadSize;
    qint64 amount;
    if (m_showAccurateProgress && m_contentLength) {
        amount = qint64(soFar) - qint64(m_lastBytesRead);
        if (amount == 0)
            return;
    } else {
        amount = 1;
        m_updatedProgress = true;
    }
    const qint64 total = qint64(m_contentLength + m_partialDownloadSize);
    const double fraction = total > 0 ? double(soFar) / double(total) : 1.0;
    m_lastBytesRead = soFar;
    if (!m_wantsDownloadProgress)
        return;
    onMain([amount, total, fraction](NRHTTPRequest &r) {
        if (auto q = r.m_queue.lock())
            q->requestDidReceiveBytes(&r, amount);
        if (auto d = r.m_downloadProgressDelegate.lock()) {
            d->didReceiveBytes(&r, amount);
            d->setDoubleValue(fraction);
        }
        if (r.m_bytesReceivedBlock)
            r.m_bytesReceivedBlock(amount, total);
    });
}

void NRHTTPRequest::reportDownloadComplete() {
    if (auto d = m_downloadProgressDelegate.lock())
        d->setDoubleValue(1.0);
}

void NRHTTPRequest::incrementDownloadSizeBy(qint64 amount) {
    if (!m_wantsDownloadProgress)
        return;
    onMain([amount](NRHTTPRequest &r) {
        if (auto q = r.m_queue.lock())
            q->requestIncrementDownloadSizeBy(&r, amount);
        if (auto d = r.m_downloadProgressDelegate.lock())
            d->incrementDownloadSizeBy(&r, amount);
        if (r.m_downloadSizeIncrementedBlock)
            r.m_downloadSizeIncrementedBlock(amount);
    });
}

void NRHTTPRequest::incrementUploadSizeBy(qint64 amount) {
    if (!m_wantsUploadProgress)
        return;
    onMain([amount](NRHTTPRequest &r) {
        if (auto q = r.m_queue.lock())
            q->requestIncrementUploadSizeBy(&r, amount);
        if (auto d = r.m_uploadProgressDelegate.lock())
            d->incrementUploadSizeBy(&r, amount);
        if (r.m_uploadSizeIncrementedBlock)
            r.m_uploadSizeIncrementedBlock(amount);
    });
}

void NRHTTPRequest::removeUploadProgressSoFar() {
    if (!m_wantsUploadProgress)
        return;
    reportBytesSent(-qint64(m_totalBytesSent), m_postLength, 0);
}

// An attempt sent again (after a time-out, a challenge) counts its reply's
// size and bytes anew, a continued file's part included: what the earlier
// attempt counted is taken back first, or a queue's download fraction would
// never reach 1.
void NRHTTPRequest::removeDownloadProgressSoFar() {
    const qint64 size = m_attemptDownloadSize;
    const qint64 received = qint64(m_lastBytesRead);
    m_attemptDownloadSize = 0;
    if ((size == 0 && received == 0) || !m_showAccurateProgress || !m_wantsDownloadProgress)
        return;
    if (size != 0)
        incrementDownloadSizeBy(-size);
    if (received == 0)
        return;
    const qint64 total = size;
    onMain([received, total](NRHTTPRequest &r) {
        if (auto q = r.m_queue.lock())
            q->requestDidReceiveBytes(&r, -received);
        if (auto d = r.m_downloadProgressDelegate.lock()) {
            d->didReceiveBytes(&r, -received);
            d->setDoubleValue(0);
        }
        if (r.m_bytesReceivedBlock)
            r.m_bytesReceivedBlock(-received, total);
    });
}

// Hands sent bytes (negative to take some back) to the queue, the upload
// progress delegate and the bytes-sent block, in that order, on the main
// thread.
void NRHTTPRequest::reportBytesSent(qint64 amount, qint64 postLength, double fraction) {
    onMain([amount, postLength, fraction](NRHTTPRequest &r) {
        if (auto q = r.m_queue.lock())
            q->requestDidSendBytes(&r, amount);
        if (auto d = r.m_uploadProgressDelegate.lock()) {
            d->didSendBytes(&r, amount);
            d->setDoubleValue(fraction);
        }
        if (r.m_bytesSentBlock)
            r.m_bytesSentBlock(amount, postLength);
    });
}

void NRHTTPRequest::onMain(std::function<void(NRHTTPRequest &)> work) {
    auto self = sharedSelf();
    VNDispatch::mainAsync([self, work = std::move(work)] { work(*self); });
}

bool NRHTTPRequest::delegateResponds(const QByteArray &method, const char *arguments) const {
    QObject *d = m_delegate.data();
    if (!d || method.isEmpty())
        return false;
    const QByteArray signature = QMetaObject::normalizedSignature((method + '(' + arguments + ')').constData());
    return d->metaObject()->indexOfMethod(signature.constData()) >= 0;
}

void NRHTTPRequest::callDelegate(const QByteArray &method) {
    if (delegateResponds(method, "NRHTTPRequest*"))
        QMetaObject::invokeMethod(m_delegate.data(), method.constData(), Qt::DirectConnection, Q_ARG(NRHTTPRequest *, this));
}

// Each group: the delegate's method, then the block, then the queue.
void NRHTTPRequest::reportStarted() {
    if (m_failed.load())
        return;
    callDelegate(m_didStartSelector);
    if (m_startedBlock)
        m_startedBlock();
    if (auto q = m_queue.lock())
        q->requestStarted(this);
}

void NRHTTPRequest::reportFinished() {
    if (m_failed.load())
        return;
    if (isHEADForMainRequest()) {
        leaveQueueSilently();
        return;
    }
    callDelegate(m_didFinishSelector);
    if (auto block = m_completionBlock)
        block();
    if (auto q = m_queue.lock())
        q->requestFinished(this);
    releaseBlocks();
}

void NRHTTPRequest::reportFailure() {
    callDelegate(m_didFailSelector);
    if (auto block = m_failureBlock)
        block();
    if (auto q = m_queue.lock())
        q->requestFailed(this);
    releaseBlocks();
}

// After the last callback the blocks go, and with them whatever they hold
// (often the request itself: no cycle outlives the request).
void NRHTTPRequest::releaseBlocks() {
    m_startedBlock = m_completionBlock = m_failureBlock = m_authenticationNeededBlock = m_requestRedirectedBlock = nullptr;
    m_proxyAuthenticationNeededBlock = nullptr;
    m_headersReceivedBlock = nullptr;
    m_dataReceivedBlock = nullptr;
    m_bytesReceivedBlock = m_bytesSentBlock = nullptr;
    m_downloadSizeIncrementedBlock = m_uploadSizeIncrementedBlock = nullptr;
    m_queueHeld.reset();
}
