#include "Cloud/QNLiveConnectClient.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNLoginSheetProvider.h"
#include "Platform/VNDispatch.h"

#include <QStringList>
#include <QUrlQuery>

namespace {

QString encodedForm(const QList<std::pair<QString, QString>> &form) {
    QStringList pairs;
    for (const auto &[name, value] : form)
        pairs << OA1URLRequestParameter::encode(name) + QLatin1Char('=') + OA1URLRequestParameter::encode(value);
    return pairs.join(QLatin1Char('&'));
}

}  // namespace

QString QNLiveConnectClient::clientId() {
    return QStringLiteral("000000004C0E7A6B");
}

QString QNLiveConnectClient::scopes() {
    return QStringLiteral("wl.signin wl.offline_access wl.skydrive_update");
}

QString QNLiveConnectClient::redirectUri() {
    return QNServiceHosts::url(QStringLiteral("live.login")) + QStringLiteral("/oauth20_desktop.srf");
}

QUrl QNLiveConnectClient::authorizationURL() {
    return QUrl::fromEncoded((QNServiceHosts::url(QStringLiteral("live.login")) +
                              QStringLiteral("/oauth20_authorize.srf?") +
                              encodedForm({{QStringLiteral("client_id"), clientId()},
                                           {QStringLiteral("scope"), scopes()},
                                           {QStringLiteral("response_type"), QStringLiteral("code")},
                                           {QStringLiteral("redirect_uri"), redirectUri()}}))
                                 .toUtf8());
}

QUrl QNLiveConnectClient::tokenURL() {
    return QUrl(QNServiceHosts::url(QStringLiteral("live.login")) + QStringLiteral("/oauth20_token.srf"));
}

QUrl QNLiveConnectClient::api(const QString &path, const QList<std::pair<QString, QString>> &query) {
    QString text = QNServiceHosts::url(QStringLiteral("live.api")) + QLatin1Char('/') + path;
    if (!query.isEmpty())
        text += QLatin1Char('?') + encodedForm(query);
    return QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
}

bool QNLiveConnectClient::isRedirect(const QUrl &url) {
    const QUrl redirect(redirectUri());
    if (url.scheme() != redirect.scheme() || url.host() != redirect.host() || url.port() != redirect.port() ||
        url.path() != redirect.path())
        return false;
    const QUrlQuery query(url);
    return query.hasQueryItem(QStringLiteral("code")) || query.hasQueryItem(QStringLiteral("error"));
}

void QNLiveConnectClient::signIn(const std::shared_ptr<QNAuthWindowController> &sheet,
                                 const std::weak_ptr<QNCloudInterface> &handler) {
    if (!sheet)
        return;
    auto handedOver = std::make_shared<bool>(false);
    QNLoginSheetProvider::watchRequests(sheet, [handler, handedOver](const QUrl &url) {
        if (!isRedirect(url))
            return false;
        // Stopped either way: the code must not travel on. Only the first one counts.
        if (std::exchange(*handedOver, true))
            return true;
        const QString callback = QUrlQuery(url).hasQueryItem(QStringLiteral("code"))
                                     ? url.toString(QUrl::FullyEncoded)
                                     : QString();
        VNDispatch::mainAsync([handler, callback] {
            if (auto h = handler.lock())
                h->processOAuthLogin(callback);
        });
        return true;
    });
    QNLoginSheetProvider::loadPage(sheet, authorizationURL());
}
