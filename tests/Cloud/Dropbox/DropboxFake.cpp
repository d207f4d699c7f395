#include "DropboxFake.h"

#include "Cloud/DropboxSDK/Classes/DXRestClient.h"
#include "support/PeerRequest.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QUrlQuery>

namespace DropboxFake {

namespace {

QJsonObject fake() {
    return VNTest::peerState(QStringLiteral("dropbox"));
}

}  // namespace

QString unavailableReason() {
    if (fake().isEmpty())
        return QStringLiteral("the dropbox peer did not start");
    const QJsonObject keyring = VNTest::peerState(QStringLiteral("keyring"));
    if (!keyring.value(QStringLiteral("available")).toBool())
        return QStringLiteral("the keyring peer did not start: ") +
               keyring.value(QStringLiteral("reason")).toString(QStringLiteral("no state"));
    return QString();
}

QString appKey() {
    return fake().value(QStringLiteral("app_key")).toString();
}

QString userId() {
    return fake().value(QStringLiteral("uid")).toString();
}

QString webBase() {
    return QStringLiteral("http://127.0.0.1:%1").arg(fake().value(QStringLiteral("http_port")).toInt());
}

std::shared_ptr<DXSession> newSession() {
    return std::make_shared<DXSession>(appKey(), fake().value(QStringLiteral("app_secret")).toString(),
                                       QStringLiteral("dropbox"));
}

void setUp() {
    // GLib connects to the first bus it is given and keeps it.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            VNTest::peerState(QStringLiteral("keyring")).value(QStringLiteral("bus")).toString().toUtf8());
    NRHTTPRequest::setTestCertificateAuthorityFile(fake().value(QStringLiteral("ca_file")).toString());
    const QString api = QStringLiteral("https://127.0.0.1:%1").arg(fake().value(QStringLiteral("https_port")).toInt());
    DXRestClient::setHosts({api, api, webBase()});
    control(QStringLiteral("reset"));
    DXSession::setSharedSession(newSession());
}

QByteArray control(const QString &what, const QJsonObject &arguments) {
    return VNTest::peerRequest(QUrl(webBase() + QStringLiteral("/__control/") + what),
                               QJsonDocument(arguments).toJson(QJsonDocument::Compact), QStringLiteral("POST"))
        .body;
}

QJsonArray requestLog() {
    return QJsonDocument::fromJson(control(QStringLiteral("log"))).array();
}

void fault(const QString &prefix, int status, int times, bool dropBody) {
    control(QStringLiteral("fault"),
            {{"prefix", prefix}, {"status", status}, {"times", times}, {"drop_body", dropBody}});
}

void putFile(const QString &path, const QByteArray &data, bool isDirectory) {
    control(QStringLiteral("file"),
            {{"path", path}, {"data", QString::fromLatin1(data.toBase64())}, {"is_dir", isDirectory}});
}

QJsonObject tree() {
    return QJsonDocument::fromJson(control(QStringLiteral("tree"))).object();
}

bool linkUser(const std::shared_ptr<DXSession> &session) {
    auto client = std::make_shared<DXRestClient>(session, QString());
    QString token, secret, uid;
    bool done = false;
    client->loadRequestToken([&](QString t, QString s, QString, VNErrorPtr error, bool) {
        token = t;
        secret = s;
        done = true;
    });
    if (!VNTest::waitUntil([&] { return done; }, 20000) || token.isEmpty())
        return false;
    const QString location =
        VNTest::peerRequest(DXRestClient::authorizationURL(token, QStringLiteral("http://localhost/"))).location;
    if (QUrlQuery(QUrl(location)).queryItemValue(QStringLiteral("oauth_token")) != token)
        return false;
    done = false;
    client->loadAccessToken(token, secret, [&](QString, QString, QString u, VNErrorPtr, bool) {
        uid = u;
        done = true;
    });
    return VNTest::waitUntil([&] { return done; }, 20000) && uid == userId();
}

}  // namespace DropboxFake
