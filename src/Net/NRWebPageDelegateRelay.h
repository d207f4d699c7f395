#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

class NRHTTPRequest;

// The delegate of every resource request of a web page: it passes each
// message of a resource on to the delegate its page has at the moment the
// message comes (the delegate of the top page of the tree), under the
// message's own name, when that delegate answers to it. So a delegate set
// on the page while its resources load hears the rest of them, and once the
// page's delegates are cleared no message of a resource reaches anybody.
//
// A question nobody is there to answer gets the answer a request without a
// delegate would give: a redirect is followed, credentials are not given.
// A resource's body always stays with the resource (the page needs it):
// pieces of it are not passed on.
//
// One object for all pages, on the main thread, kept for the process.
class NRWebPageDelegateRelay : public QObject {
    Q_OBJECT
public:
    static NRWebPageDelegateRelay *shared();

public slots:
    void requestStarted(NRHTTPRequest *request);
    void requestDidReceiveResponseHeaders(NRHTTPRequest *request, const QMap<QString, QString> &headers);
    void requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &url);
    void requestFinished(NRHTTPRequest *request);
    void requestFailed(NRHTTPRequest *request);
    void authenticationNeededForRequest(NRHTTPRequest *request);
    void proxyAuthenticationNeededForRequest(NRHTTPRequest *request);

private:
    NRWebPageDelegateRelay() = default;
    // The delegate of the resource's top page now; null when there is none.
    QObject *pageDelegate(NRHTTPRequest *request) const;
    static bool answers(QObject *delegate, const char *method, const char *arguments);
    // Passes a message that takes the request alone; false when the page's
    // delegate does not answer to it.
    bool pass(NRHTTPRequest *request, const char *method);
};
