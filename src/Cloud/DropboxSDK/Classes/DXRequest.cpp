#include "DXRequest.h"

#include "DXSession.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRHTTPRequest.h"

#include <mutex>

namespace {

std::mutex g_delegateMutex;
std::weak_ptr<DXNetworkRequestDelegate> g_delegate;

std::shared_ptr<DXNetworkRequestDelegate> networkDelegate() {
    std::lock_guard lock(g_delegateMutex);
    return g_delegate.lock();
}

}  // namespace

DXRequest::DXRequest(std::shared_ptr<NRHTTPRequest> request, std::shared_ptr<DXSession> session, QString userId,
                     Completion completion)
    : m_request(std::move(request)), m_session(std::move(session)), m_userId(std::move(userId)),
      m_completion(std::move(completion)) {}

DXRequest::~DXRequest() {
    if (m_request && m_started && !m_finished)
        m_request->clearDelegatesAndCancel();
}

QString DXRequest::errorDomain() {
    return QStringLiteral("dropbox.com");
}

void DXRequest::setNetworkRequestDelegate(std::weak_ptr<DXNetworkRequestDelegate> delegate) {
    std::lock_guard lock(g_delegateMutex);
    g_delegate = std::move(delegate);
}

void DXRequest::start() {
    if (m_started)
        return;
    m_started = true;
    // The request holds us until it has answered.
    auto self = shared_from_this();
    m_request->setCompletionBlock([self] { self->finish(); });
    m_request->setFailedBlock([self] { self->finish(); });
    if (auto delegate = networkDelegate())
        delegate->networkRequestStarted();
    m_request->startAsynchronous();
}

void DXRequest::cancel() {
    if (!m_started || m_finished)
        return;
    m_cancelled = true;
    m_request->cancel();
}

int DXRequest::statusCode() const {
    return m_request->responseStatusCode();
}

QByteArray DXRequest::responseData() const {
    return m_request->responseData();
}

DXJsonValue DXRequest::resultJSON() const {
    return JSONValue(m_request->responseData());
}

void DXRequest::finish() {
    if (m_finished)
        return;
    m_finished = true;
    if (m_request->isCancelled())
        m_cancelled = true;
    const int status = m_request->responseStatusCode();
    if (!m_cancelled) {
        if (status >= 300) {
            // The service explains itself in {"error": "..."}; a body that
            // says nothing gives the status line.
            const QByteArray body = m_request->responseData().trimmed();
            QString message;
            if (body.startsWith('{'))
                message = JSONValue(body)[QStringLiteral("error")].toString();
            if (message.isEmpty())
                message = m_request->responseStatusMessage();
            if (message.isEmpty())
                message = QStringLiteral("The Dropbox server answered with status %1.").arg(status);
            m_error = VNError::make(errorDomain(), status, QStringLiteral("error"), message);
        } else if (m_request->error()) {
            m_error = m_request->error();
        } else if (status == 0) {
            m_error = VNError::make(errorDomain(), 0, QStringLiteral("error"),
                                    QStringLiteral("The Dropbox server sent no reply."));
        }
    }
    if (auto delegate = networkDelegate())
        delegate->networkRequestStopped();
    // Once per request: a refused token is reported here and nowhere else.
    if (!m_cancelled && status == 401 && m_session)
        m_session->handleAuthorizationFailure(m_userId);
    if (auto completion = std::exchange(m_completion, nullptr))
        completion(*this);
}
