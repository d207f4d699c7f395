#include "WebDAVPeer.h"

#include "Net/NRHTTPRequest.h"
#include "support/TestSupport.h"

#include <QDir>
#include <sys/stat.h>

namespace WebDAVPeer {

QJsonObject state() {
    static const QJsonObject s = VNTest::peerState(QStringLiteral("webdav"));
    return s;
}

QString text(const QString &key) {
    return state().value(key).toString();
}

QString url(const QString &kind) {
    return text(kind + QStringLiteral("_url"));
}

QString fakeURL() {
    return text(QStringLiteral("fake_url"));
}

QJsonObject server(const char *family) {
    return state().value(QStringLiteral("servers")).toObject().value(QLatin1String(family)).toObject();
}

QNDriveConfigPtr drive(const QString &driveUrl, bool validateCertificates) {
    auto config = QNDriveConfig::create();
    config->setIsWebDAV(true);
    config->setDisplayName(QStringLiteral("Test WebDAV"));
    config->setUrl(driveUrl);
    config->setUsername(text(QStringLiteral("user")));
    config->setPassword(text(QStringLiteral("password")));
    config->setValidateCertificates(validateCertificates);
    return config;
}

std::shared_ptr<QNWebDAVHandler> handlerFor(const QNDriveConfigPtr &config) {
    return std::dynamic_pointer_cast<QNWebDAVHandler>(config->createCloudInterface());
}

QString statusLine(int code, const char *reason) {
    return QStringLiteral("HTTP/1.1 %1 %2").arg(code).arg(QString::fromLatin1(reason));
}

void setUpOnce() {
    static bool done = false;
    if (done)
        return;
    done = true;
    ::umask(0);
    NRHTTPRequest::setTestCertificateAuthorityFile(text(QStringLiteral("ca_file")));
    QNWebDAVHandler::registerWithFactory();
    const int wifiPort = state().value(QStringLiteral("wifi_port")).toInt();
    QNWebDAVHandler::setWiFiDiskQuotaPortForTesting(wifiPort == 80 ? 0 : wifiPort);
}

QString freshFolder(const QString &shareKey, const QString &name) {
    const QString path = text(shareKey) + QLatin1Char('/') + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

}  // namespace WebDAVPeer
