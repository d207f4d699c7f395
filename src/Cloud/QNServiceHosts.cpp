#include "Cloud/QNServiceHosts.h"

#include <QMap>
#include <mutex>

namespace {

std::mutex g_mutex;
QMap<QString, QString> g_overrides;

const QMap<QString, QString> &defaults() {
    static const QMap<QString, QString> hosts = {
        {QStringLiteral("google.accounts"), QStringLiteral("https://accounts.google.com")},
        {QStringLiteral("google.api"), QStringLiteral("https://www.googleapis.com")},
        {QStringLiteral("box.account"), QStringLiteral("https://account.box.com")},
        {QStringLiteral("box.api"), QStringLiteral("https://api.box.com")},
        {QStringLiteral("box.upload"), QStringLiteral("https://upload.box.com")},
        {QStringLiteral("google.photos"), QStringLiteral("https://picasaweb.google.com")},
        {QStringLiteral("google.docs"), QStringLiteral("https://docs.google.com")},
        {QStringLiteral("copy.api"), QStringLiteral("https://api.copy.com")},
        {QStringLiteral("copy.web"), QStringLiteral("https://www.copy.com")},
        {QStringLiteral("live.login"), QStringLiteral("https://login.live.com")},
        {QStringLiteral("live.api"), QStringLiteral("https://apis.live.net/v5.0")},
        {QStringLiteral("bitcasa.account"), QStringLiteral("https://developer.api.bitcasa.com")},
        {QStringLiteral("bitcasa.api"), QStringLiteral("https://developer.api.bitcasa.com")},
        {QStringLiteral("bitcasa.files"), QStringLiteral("https://files.api.bitcasa.com")},
        {QStringLiteral("flickr.api"), QStringLiteral("https://api.flickr.com")},
        {QStringLiteral("flickr.upload"), QStringLiteral("https://up.flickr.com")},
        {QStringLiteral("flickr.oauth"), QStringLiteral("https://www.flickr.com")},
        {QStringLiteral("flickr.web"), QStringLiteral("https://www.flickr.com")},
    };
    return hosts;
}

}  // namespace

QString QNServiceHosts::url(const QString &key) {
    std::lock_guard lock(g_mutex);
    const QString overridden = g_overrides.value(key);
    return overridden.isEmpty() ? defaults().value(key) : overridden;
}

void QNServiceHosts::setUrl(const QString &key, const QString &baseUrl) {
    std::lock_guard lock(g_mutex);
    if (baseUrl.isEmpty())
        g_overrides.remove(key);
    else
        g_overrides.insert(key, baseUrl);
}
