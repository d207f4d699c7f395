#include "Net/NRWebPageDelegateRelay.h"

#include "Net/NRWebPageRequest.h"

#include <QMetaObject>

NRWebPageDelegateRelay *NRWebPageDelegateRelay::shared() {
    // Made on the main thread (where pages start their resources), and never
    // destroyed: a resource may hold it to its very end.
    static NRWebPageDelegateRelay *relay = new NRWebPageDelegateRelay();
    return relay;
}

QObject *NRWebPageDelegateRelay::pageDelegate(NRHTTPRequest *request) const {
    auto *resource = dynamic_cast<NRWebPageRequest *>(request);
    if (!resource)
        return nullptr;
    std::shared_ptr<NRWebPageRequest> top = resource->parentRequest();
    if (!top)
        return nullptr;  // no page to speak for (a copy of a resource)
    while (auto parent = top->parentRequest())
        top = std::move(parent);
    QObject *delegate = top->delegate();
    return delegate == this ? nullptr : delegate;
}

bool NRWebPageDelegateRelay::answers(QObject *delegate, const char *method, const char *arguments) {
    if (!delegate)
        return false;
    const QByteArray signature = QMetaObject::normalizedSignature((QByteArray(method) + '(' + arguments + ')').constData());
    return delegate->metaObject()->indexOfMethod(signature.constData()) >= 0;
}

bool NRWebPageDelegateRelay::pass(NRHTTPRequest *request, const char *method) {
    QObject *delegate = pageDelegate(request);
    if (!answers(delegate, method, "NRHTTPRequest*"))
        return false;
    QMetaObject::invokeMethod(delegate, method, Qt::DirectConnection, Q_ARG(NRHTTPRequest *, request));
    return true;
}

void NRWebPageDelegateRelay::requestStarted(NRHTTPRequest *request) { pass(request, "requestStarted"); }
void NRWebPageDelegateRelay::requestFinished(NRHTTPRequest *request) { pass(request, "requestFinished"); }
void NRWebPageDelegateRelay::requestFailed(NRHTTPRequest *request) { pass(request, "requestFailed"); }

void NRWebPageDelegateRelay::requestDidReceiveResponseHeaders(NRHTTPRequest *request,
                                                              const QMap<QString, QString> &headers) {
    using HeaderMap = QMap<QString, QString>;
    QObject *delegate = pageDelegate(request);
    if (answers(delegate, "requestDidReceiveResponseHeaders", "NRHTTPRequest*,QMap<QString,QString>"))
        QMetaObject::invokeMethod(delegate, "requestDidReceiveResponseHeaders", Qt::DirectConnection,
                                  Q_ARG(NRHTTPRequest *, request), QArgument<HeaderMap>("QMap<QString,QString>", headers));
    else
        pass(request, "requestDidReceiveResponseHeaders");
}

void NRWebPageDelegateRelay::requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &url) {
    QObject *delegate = pageDelegate(request);
    if (answers(delegate, "requestWillRedirectToURL", "NRHTTPRequest*,QUrl"))
        QMetaObject::invokeMethod(delegate, "requestWillRedirectToURL", Qt::DirectConnection, Q_ARG(NRHTTPRequest *, request),
                                  Q_ARG(QUrl, url));
    else
        request->redirectToURL(url);
}

void NRWebPageDelegateRelay::authenticationNeededForRequest(NRHTTPRequest *request) {
    if (!pass(request, "authenticationNeededForRequest"))
        request->cancelAuthentication();
}

void NRWebPageDelegateRelay::proxyAuthenticationNeededForRequest(NRHTTPRequest *request) {
    if (!pass(request, "proxyAuthenticationNeededForRequest"))
        request->cancelAuthentication();
}
