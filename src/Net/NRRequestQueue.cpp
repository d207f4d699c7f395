#include "Net/NRRequestQueue.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QMetaObject>
#include <algorithm>

std::shared_ptr<NRRequestQueue> NRRequestQueue::queue() {
    return std::make_shared<NRRequestQueue>();
}

NRRequestQueue::NRRequestQueue() {
    static const int registered = qRegisterMetaType<NRRequestQueue *>("NRRequestQueue*");
    Q_UNUSED(registered);
}

NRRequestQueue::~NRRequestQueue() {
    // The requests still here no longer have a queue to tell.
    for (const auto &entry : m_pending)
        entry.request->setQueue(nullptr);
    for (const auto &entry : m_running)
        entry.request->setQueue(nullptr);
    for (const auto &entry : m_waitingElsewhere)
        entry.request->setQueue(nullptr);
}

void NRRequestQueue::go() {
    setSuspended(false);
}

void NRRequestQueue::setSuspended(bool suspended) {
    m_suspended = suspended;
    if (!suspended)
        scheduleStartMore();
}

void NRRequestQueue::setMaxConcurrentOperationCount(int count) {
    m_maxConcurrent = std::max(1, count);
    scheduleStartMore();
}

std::vector<std::shared_ptr<NRHTTPRequest>> NRRequestQueue::operations() const {
    std::vector<std::shared_ptr<NRHTTPRequest>> all;
    for (const auto &entry : m_running)
        all.push_back(entry.request);
    for (const auto &entry : m_waitingElsewhere)
        all.push_back(entry.request);
    for (const auto &entry : m_pending)
        all.push_back(entry.request);
    return all;
}

int NRRequestQueue::operationCount() const {
    return static_cast<int>(m_pending.size() + m_running.size() + m_waitingElsewhere.size());
}

void NRRequestQueue::cancelAllOperations() {
    const auto all = operations();
    if (all.empty()) {
        m_bytesUploadedSoFar = m_totalBytesToUpload = m_bytesDownloadedSoFar = m_totalBytesToDownload = 0;
        return;
    }
    // The counts go back to 0 once every cancelled request has reported: a
    // late report would otherwise count against an empty total.
    m_resetCountsWhenQuiet = true;
    for (const auto &request : all)
        request->cancel();
}

void NRRequestQueue::reset() {
    cancelAllOperations();
    m_delegate = nullptr;
    m_uploadProgressDelegate.reset();
    m_downloadProgressDelegate.reset();
    m_requestDidStartSelector.clear();
    m_requestDidReceiveResponseHeadersSelector.clear();
    m_requestWillRedirectSelector.clear();
    m_requestDidFinishSelector.clear();
    m_requestDidFailSelector.clear();
    m_queueDidFinishSelector.clear();
    m_requestFinishedBlock = m_requestFailedBlock = nullptr;
    m_queueFinishedBlock = nullptr;
    m_queueWaitsElsewhereBlock = nullptr;
    setSuspended(true);
}

void NRRequestQueue::resetProgressDelegate(const std::weak_ptr<NRProgressDelegate> &delegate) {
    if (auto d = delegate.lock()) {
        d->setMaxValue(1.0);
        d->setDoubleValue(0.0);
    }
}

void NRRequestQueue::setUploadProgressDelegate(std::weak_ptr<NRProgressDelegate> delegate) {
    m_uploadProgressDelegate = std::move(delegate);
    resetProgressDelegate(m_uploadProgressDelegate);
}

void NRRequestQueue::setDownloadProgressDelegate(std::weak_ptr<NRProgressDelegate> delegate) {
    m_downloadProgressDelegate = std::move(delegate);
    resetProgressDelegate(m_downloadProgressDelegate);
}

VNErrorPtr NRRequestQueue::addOperation(const std::shared_ptr<VNOperation> &operation) {
    auto request = std::dynamic_pointer_cast<NRHTTPRequest>(operation);
    if (!request) {
        const QString reason =
            QStringLiteral("Attempted to add an object that was not an NRHTTPRequest to an NRRequestQueue");
        VNLog::log(QStringLiteral("NRRequestQueue AttemptToAddInvalidRequest: %1").arg(reason));
        return std::make_shared<VNError>(QStringLiteral("AttemptToAddInvalidRequest"), 0,
                                         QVariantMap{{VNError::localizedDescriptionKey(), reason},
                                                     {"name", QStringLiteral("AttemptToAddInvalidRequest")}});
    }
    addRequest(request);
    return nullptr;
}

void NRRequestQueue::addRequest(const std::shared_ptr<NRHTTPRequest> &request) {
    if (!request)
        return;
    ++m_requestsCount;
    Entry entry{request, {}, false};
    qint64 uploadAmount = 1;
    if (m_showAccurateProgress) {
        // Built now (a form's body is made from its fields and files), so its
        // length counts; the request does not build it again.
        request->buildPostBodyNow();
        if (request->requestMethod() == QLatin1String("GET") && m_suspended) {
            // Its size is learnt before any body arrives.
            auto head = request->HEADRequest();
            addHEADOperation(head);
            entry.waitsFor = head;
            if (request->shouldResetDownloadProgress()) {
                resetProgressDelegate(m_downloadProgressDelegate);
                request->setShouldResetDownloadProgress(false);
            }
        }
        uploadAmount = request->postLength();
    } else {
        m_totalBytesToDownload += 1;
    }
    m_totalBytesToUpload += quint64(std::max<qint64>(0, uploadAmount));
    if (request->shouldResetUploadProgress()) {
        resetProgressDelegate(m_uploadProgressDelegate);
        request->setShouldResetUploadProgress(false);
    }
    request->setShowAccurateProgress(m_showAccurateProgress);
    request->setQueue(shared_from_this());
    m_pending.push_back(entry);
    scheduleStartMore();
}

void NRRequestQueue::addHEADOperation(const std::shared_ptr<VNOperation> &operation) {
    auto request = std::dynamic_pointer_cast<NRHTTPRequest>(operation);
    if (!request)
        return;
    request->setRequestMethod(QStringLiteral("HEAD"));
    request->setDelegate(nullptr);  // its events are the queue's alone
    request->setShowAccurateProgress(true);
    request->setShouldResetDownloadProgress(true);
    request->setQueue(shared_from_this());
    m_headRequests.insert(request.get());
    // Priority: before every request that is not a HEAD request.
    auto firstOther = std::find_if(m_pending.begin(), m_pending.end(), [](const Entry &e) { return !e.isHEAD; });
    m_pending.insert(firstOther, Entry{request, {}, true});
    scheduleStartMore();
}

void NRRequestQueue::requestGivesUpItsPlace(NRHTTPRequest *request) {
    const auto running = std::find_if(m_running.begin(), m_running.end(),
                                      [request](const Entry &e) { return e.request.get() == request; });
    if (running == m_running.end())
        return;
    m_waitingElsewhere.push_back(*running);
    m_running.erase(running);
    scheduleStartMore();
}

std::shared_ptr<NRRequestQueue> NRRequestQueue::copy() const {
    auto other = std::make_shared<NRRequestQueue>();
    other->m_delegate = m_delegate;
    other->m_requestDidStartSelector = m_requestDidStartSelector;
    other->m_requestDidReceiveResponseHeadersSelector = m_requestDidReceiveResponseHeadersSelector;
    other->m_requestWillRedirectSelector = m_requestWillRedirectSelector;
    other->m_requestDidFinishSelector = m_requestDidFinishSelector;
    other->m_requestDidFailSelector = m_requestDidFailSelector;
    other->m_queueDidFinishSelector = m_queueDidFinishSelector;
    other->m_uploadProgressDelegate = m_uploadProgressDelegate;
    other->m_downloadProgressDelegate = m_downloadProgressDelegate;
    other->m_shouldCancelAllRequestsOnFailure = m_shouldCancelAllRequestsOnFailure;
    other->m_showAccurateProgress = m_showAccurateProgress;
    other->m_userInfo = m_userInfo;
    return other;
}

bool NRRequestQueue::isHEADRequest(const NRHTTPRequest *request) const {
    return m_headRequests.count(request) > 0;
}

void NRRequestQueue::scheduleStartMore() {
    if (m_startScheduled)
        return;
    m_startScheduled = true;
    std::weak_ptr<NRRequestQueue> weak = weak_from_this();
    VNDispatch::mainAsync([weak] {
        if (auto self = weak.lock()) {
            self->m_startScheduled = false;
            self->startMore();
        }
    });
}

void NRRequestQueue::startMore() {
    const auto waiting = [this](const Entry &entry) {
        auto head = entry.waitsFor.lock();
        if (!head)
            return false;
        const auto same = [&](const Entry &e) { return e.request == head; };
        return std::any_of(m_pending.begin(), m_pending.end(), same) ||
               std::any_of(m_running.begin(), m_running.end(), same);
    };
    while (!m_suspended && int(m_running.size()) < m_maxConcurrent) {
        auto next = std::find_if(m_pending.begin(), m_pending.end(), [&](const Entry &e) { return !waiting(e); });
        if (next == m_pending.end())
            break;
        Entry entry = *next;
        m_pending.erase(next);
        m_running.push_back(entry);
        entry.request->start();
    }
    // Nothing left to send: whoever holds the batch may give up a place of
    // its own.
    if (m_running.empty() && m_pending.empty() && !m_waitingElsewhere.empty())
        if (auto block = m_queueWaitsElsewhereBlock)
            block();
}

bool NRRequestQueue::delegateResponds(const QByteArray &method, const char *arguments) const {
    QObject *d = m_delegate.data();
    if (!d || method.isEmpty())
        return false;
    const QByteArray signature = QMetaObject::normalizedSignature((method + '(' + arguments + ')').constData());
    return d->metaObject()->indexOfMethod(signature.constData()) >= 0;
}

void NRRequestQueue::callDelegate(const QByteArray &method, NRHTTPRequest *request) {
    if (delegateResponds(method, "NRHTTPRequest*"))
        QMetaObject::invokeMethod(m_delegate.data(), method.constData(), Qt::DirectConnection,
                                  Q_ARG(NRHTTPRequest *, request));
}

void NRRequestQueue::requestStarted(NRHTTPRequest *request) {
    if (!isHEADRequest(request))
        callDelegate(m_requestDidStartSelector, request);
}

void NRRequestQueue::requestDidReceiveResponseHeaders(NRHTTPRequest *request, const QMap<QString, QString> &headers) {
    if (isHEADRequest(request) ||
        !delegateResponds(m_requestDidReceiveResponseHeadersSelector, "NRHTTPRequest*,QVariantMap"))
        return;
    QVariantMap map;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        map.insert(it.key(), it.value());
    QMetaObject::invokeMethod(m_delegate.data(), m_requestDidReceiveResponseHeadersSelector.constData(),
                              Qt::DirectConnection, Q_ARG(NRHTTPRequest *, request), Q_ARG(QVariantMap, map));
}

void NRRequestQueue::requestFinished(NRHTTPRequest *request) {
    requestEnded(request, false);
}

void NRRequestQueue::requestFailed(NRHTTPRequest *request) {
    requestEnded(request, true);
}

bool NRRequestQueue::removeRequest(NRHTTPRequest *request) {
    const auto same = [request](const Entry &e) { return e.request.get() == request; };
    const bool wasHere = std::any_of(m_running.begin(), m_running.end(), same) ||
                         std::any_of(m_waitingElsewhere.begin(), m_waitingElsewhere.end(), same) ||
                         std::any_of(m_pending.begin(), m_pending.end(), same);
    m_running.erase(std::remove_if(m_running.begin(), m_running.end(), same), m_running.end());
    m_waitingElsewhere.erase(std::remove_if(m_waitingElsewhere.begin(), m_waitingElsewhere.end(), same),
                             m_waitingElsewhere.end());
    // One that ended before its turn (cancelled, or its HEAD request failed)
    // is still started: it finds its error and finishes without a word, so
    // whoever waits for it is let go. Started later than now: a request
    // silenced is cancelled right after it leaves, and its start must find
    // that.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (same(*it)) {
            VNDispatch::mainAsync([ended = it->request] { ended->start(); });
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    scheduleStartMore();
    return wasHere;
}

void NRRequestQueue::requestEnded(NRHTTPRequest *request, bool failed) {
    auto self = shared_from_this();  // a delegate may let the queue go
    const bool wasHere = removeRequest(request);
    if (isHEADRequest(request)) {
        m_headRequests.erase(request);
        return;
    }
    if (!wasHere)
        return;  // reported once already
    m_requestsCount = std::max(0, m_requestsCount - 1);
    callDelegate(failed ? m_requestDidFailSelector : m_requestDidFinishSelector, request);
    if (auto block = failed ? m_requestFailedBlock : m_requestFinishedBlock)
        block(request);
    if (m_requestsCount == 0)
        reportQueueFinished();
    else if (failed && m_shouldCancelAllRequestsOnFailure)
        cancelAllOperations();
}

void NRRequestQueue::reportQueueFinished() {
    if (m_resetCountsWhenQuiet) {
        m_resetCountsWhenQuiet = false;
        m_bytesUploadedSoFar = m_totalBytesToUpload = m_bytesDownloadedSoFar = m_totalBytesToDownload = 0;
    }
    if (delegateResponds(m_queueDidFinishSelector, "NRRequestQueue*"))
        QMetaObject::invokeMethod(m_delegate.data(), m_queueDidFinishSelector.constData(), Qt::DirectConnection,
                                  Q_ARG(NRRequestQueue *, this));
    if (auto block = m_queueFinishedBlock)
        block();
}

// A silenced request reports nothing, so its place and its count go now;
// the batch may be done without it (told later, never inside the caller's
// clearDelegatesAndCancel()).
void NRRequestQueue::requestWasSilenced(NRHTTPRequest *request) {
    const bool wasHere = removeRequest(request);
    if (isHEADRequest(request)) {
        m_headRequests.erase(request);
        return;
    }
    if (!wasHere)
        return;
    m_requestsCount = std::max(0, m_requestsCount - 1);
    if (m_requestsCount > 0)
        return;
    std::weak_ptr<NRRequestQueue> weak = weak_from_this();
    VNDispatch::mainAsync([weak] {
        if (auto self = weak.lock(); self && self->m_requestsCount == 0)
            self->reportQueueFinished();
    });
}

bool NRRequestQueue::respondsToWillRedirect() const {
    return delegateResponds(m_requestWillRedirectSelector, "NRHTTPRequest*,QUrl");
}

void NRRequestQueue::requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &url) {
    if (isHEADRequest(request) || !respondsToWillRedirect()) {
        request->redirectToURL(url);  // the queue's own size question follows the server
        return;
    }
    QMetaObject::invokeMethod(m_delegate.data(), m_requestWillRedirectSelector.constData(), Qt::DirectConnection,
                              Q_ARG(NRHTTPRequest *, request), Q_ARG(QUrl, url));
}

bool NRRequestQueue::respondsToAuthenticationNeeded() const {
    return delegateResponds("authenticationNeededForRequest", "NRHTTPRequest*");
}

void NRRequestQueue::authenticationNeededForRequest(NRHTTPRequest *request) {
    callDelegate("authenticationNeededForRequest", request);
}

bool NRRequestQueue::respondsToProxyAuthenticationNeeded() const {
    return delegateResponds("proxyAuthenticationNeededForRequest", "NRHTTPRequest*");
}

void NRRequestQueue::proxyAuthenticationNeededForRequest(NRHTTPRequest *request) {
    callDelegate("proxyAuthenticationNeededForRequest", request);
}

void NRRequestQueue::addClamped(quint64 &value, qint64 amount) {
    if (amount < 0 && quint64(-amount) > value)
        value = 0;  // never below nothing
    else
        value = quint64(qint64(value) + amount);
}

void NRRequestQueue::requestDidReceiveBytes(NRHTTPRequest *, qint64 bytes) {
    addClamped(m_bytesDownloadedSoFar, bytes);
    if (auto d = m_downloadProgressDelegate.lock())
        d->setDoubleValue(m_totalBytesToDownload ? double(m_bytesDownloadedSoFar) / double(m_totalBytesToDownload) : 0.0);
}

void NRRequestQueue::requestDidSendBytes(NRHTTPRequest *, qint64 bytes) {
    addClamped(m_bytesUploadedSoFar, bytes);
    if (auto d = m_uploadProgressDelegate.lock())
        d->setDoubleValue(m_totalBytesToUpload ? double(m_bytesUploadedSoFar) / double(m_totalBytesToUpload) : 0.0);
}

void NRRequestQueue::requestIncrementDownloadSizeBy(NRHTTPRequest *, qint64 amount) {
    addClamped(m_totalBytesToDownload, amount);
}

void NRRequestQueue::requestIncrementUploadSizeBy(NRHTTPRequest *, qint64 amount) {
    addClamped(m_totalBytesToUpload, amount);
}
