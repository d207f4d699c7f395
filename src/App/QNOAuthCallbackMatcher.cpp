#include "App/QNOAuthCallbackMatcher.h"

#include <QUrl>
#include <mutex>

namespace {

std::mutex &configMutex() {
    static std::mutex m;
    return m;
}

QNOAuthCallbackMatcher::Config &currentConfig() {
    static QNOAuthCallbackMatcher::Config c = QNOAuthCallbackMatcher::defaultConfig();
    return c;
}

// "a=1&b=2" -> "a=…&b=…": names stay readable, values never reach the log.
QString redactPairs(const QString &text) {
    QStringList parts = text.split(QLatin1Char('&'));
    for (QString &part : parts) {
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq >= 0)
            part = QUrl::fromPercentEncoding(part.left(eq).toUtf8()) + QStringLiteral("=…");
        else if (!part.isEmpty())
            part = QStringLiteral("…");
    }
    return parts.join(QLatin1Char('&'));
}

}  // namespace

QNOAuthCallbackMatcher::Config QNOAuthCallbackMatcher::defaultConfig() {
    return Config{QStringLiteral("localhost"), QStringLiteral("www.varnello.app"), QStringLiteral("varnello")};
}

QNOAuthCallbackMatcher::Config QNOAuthCallbackMatcher::config() {
    std::lock_guard lock(configMutex());
    return currentConfig();
}

void QNOAuthCallbackMatcher::setConfig(const Config &config) {
    std::lock_guard lock(configMutex());
    currentConfig() = config;
}

QString QNOAuthCallbackMatcher::loopbackCallbackUrl(const QString &path) {
    return QStringLiteral("http://") + config().loopbackHost + path;
}

QString QNOAuthCallbackMatcher::productRedirectUrl() {
    return QStringLiteral("https://") + config().productSite + QStringLiteral("/redirect");
}

QStringList QNOAuthCallbackMatcher::markers(const Config &c) {
    const QString loopHttp = QStringLiteral("http://") + c.loopbackHost;
    return {
        QStringLiteral("://1/cancel"),                                           // 1
        QStringLiteral("://1/connect"),                                          // 2
        loopHttp + QStringLiteral("/?uid="),                                     // 3
        loopHttp + QStringLiteral("/?oauth_token="),                             // 4
        QStringLiteral("https://") + c.productSite + QStringLiteral("/redirect?code="),  // 5
        QStringLiteral("http://") + c.productSite + QStringLiteral("/redirect?code="),   // 6
        loopHttp + QStringLiteral("/?error="),                                   // 7
        loopHttp + QStringLiteral("/?code="),                                    // 8
        QStringLiteral("https://") + c.loopbackHost + QStringLiteral("/box"),    // 9
        QStringLiteral("/en-") + c.referralHandle,                               // 10
        QStringLiteral("/qn-copy"),                                              // 11
        loopHttp + QStringLiteral("/bitcasa?"),                                  // 12
    };
}

QNOAuthCallbackMatcher::Match QNOAuthCallbackMatcher::match(const QString &absoluteUrl, const Config &config) {
    Match result;
    if (absoluteUrl.isEmpty())
        return result;
    const QStringList list = markers(config);
    for (int i = 0; i < list.size(); ++i) {
        if (!absoluteUrl.contains(list[i], Qt::CaseSensitive))
            continue;
        const int marker = i + 1;
        result.marker = marker;
        // Markers 1 (cancel) and 7 (access refused) end the sign-in without a URL.
        if (marker == 1 || marker == 7) {
            result.outcome = Outcome::Cancelled;
        } else {
            result.outcome = Outcome::Callback;
            result.callbackUrl = absoluteUrl;
        }
        return result;
    }
    return result;
}

QString QNOAuthCallbackMatcher::redactedForLog(const QString &absoluteUrl) {
    const QUrl url(absoluteUrl, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return QStringLiteral("(unreadable address)");
    QString text = url.scheme() + QLatin1Char(':');
    if (url.authority().isEmpty() && url.host().isEmpty()) {
        // Opaque addresses (about:blank, data:) show their scheme only.
        return text + (url.scheme() == QLatin1String("about") ? url.path() : QStringLiteral("…"));
    }
    text += QStringLiteral("//") + url.host(QUrl::FullyDecoded);
    if (url.port() >= 0)
        text += QLatin1Char(':') + QString::number(url.port());
    text += url.path(QUrl::FullyDecoded);
    if (url.hasQuery())
        text += QLatin1Char('?') + redactPairs(url.query(QUrl::FullyEncoded));
    if (url.hasFragment())
        text += QLatin1Char('#') + redactPairs(url.fragment(QUrl::FullyEncoded));
    return text;
}
