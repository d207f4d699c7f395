#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <memory>
#include <utility>

class QNAuthWindowController;
class QNCloudInterface;

// Our small Live Connect client: the service's addresses and its sign-in.
// Live Connect sends desktop applications back to its own redirect page,
// which none of the login sheet's markers knows, so the client loads the
// authorization page into the sheet and watches the sheet's view itself:
// the redirect (with a code, or an error when the user refused) is stopped
// and handed to the handler's processOAuthLogin() once, a refusal as a null
// URL. The REST calls themselves go through the handler's OAuth 2 requests.
class QNLiveConnectClient {
public:
    static QString clientId();
    // "wl.signin wl.offline_access wl.skydrive_update".
    static QString scopes();
    // The page the service sends the browser to after the sign-in.
    static QString redirectUri();
    static QUrl authorizationURL();
    static QUrl tokenURL();
    // An address of the REST API: path relative to its base ("me/skydrive").
    static QUrl api(const QString &path, const QList<std::pair<QString, QString>> &query = {});
    // Whether the address is the redirect page, with a code or an error.
    static bool isRedirect(const QUrl &url);

    // Loads the authorization page into the sheet and watches its view for
    // the redirect, which goes to the handler (on a later turn of the main
    // loop, never inside the web engine's callback).
    static void signIn(const std::shared_ptr<QNAuthWindowController> &sheet,
                       const std::weak_ptr<QNCloudInterface> &handler);
};
