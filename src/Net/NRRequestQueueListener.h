#pragma once

#include <QMap>
#include <QString>
#include <QUrl>
#include <QtGlobal>

class NRHTTPRequest;

// What a request tells the queue it was added to (besides its delegate and
// blocks). Called on the main thread.
class NRRequestQueueListener {
public:
    virtual ~NRRequestQueueListener() = default;
    virtual void requestStarted(NRHTTPRequest *request) = 0;
    virtual void requestDidReceiveResponseHeaders(NRHTTPRequest *request, const QMap<QString, QString> &headers) = 0;
    virtual void requestFinished(NRHTTPRequest *request) = 0;
    virtual void requestFailed(NRHTTPRequest *request) = 0;
    virtual void requestDidReceiveBytes(NRHTTPRequest *request, qint64 bytes) = 0;
    virtual void requestDidSendBytes(NRHTTPRequest *request, qint64 bytes) = 0;
    virtual void requestIncrementDownloadSizeBy(NRHTTPRequest *request, qint64 amount) = 0;
    virtual void requestIncrementUploadSizeBy(NRHTTPRequest *request, qint64 amount) = 0;

    // Questions a request asks the queue when its own delegate cannot answer
    // them; the queue says beforehand (when the request starts) whether it
    // can. The answer comes back through the request (redirectToURL(),
    // retryUsingSuppliedCredentials(), cancelAuthentication()).
    virtual bool respondsToWillRedirect() const = 0;
    virtual void requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &url) = 0;
    virtual bool respondsToAuthenticationNeeded() const = 0;
    virtual void authenticationNeededForRequest(NRHTTPRequest *request) = 0;
    virtual bool respondsToProxyAuthenticationNeeded() const = 0;
    virtual void proxyAuthenticationNeededForRequest(NRHTTPRequest *request) = 0;

    // The request leaves the queue without reporting its end to it: it was
    // silenced (clearDelegatesAndCancel), or it is a HEAD request made for
    // another request, whose end is its main request's business.
    virtual void requestWasSilenced(NRHTTPRequest *request) = 0;
};
