#include "DA/HTTPFetcher/HFCookieStorage.h"

#include "DA/HTTPFetcher/HFRunLoop.h"
#include "DA/HTTPFetcher/HFURLResponse.h"
#include "Platform/VNLog.h"

#include <QHostAddress>

namespace {
const QString kLoopback = QStringLiteral("localhost");

QString describe(const QNetworkCookie &c) {
    // Names only: cookie values are secrets.
    return QStringLiteral("(name:%1 domain:%2 path:%3)").arg(QString::fromUtf8(c.name()), c.domain(), c.path());
}
}  // namespace

bool HFCookieStorage::domainMatches(const QString &host, const QString &domain) {
    QString d = domain.toLower();
    if (d.startsWith(QLatin1Char('.')))
        d = d.mid(1);
    const QString h = host.toLower();
    if (d.isEmpty() || h.isEmpty())
        return false;
    if (h == d)
        return true;
    // Below the domain: only names, never addresses.
    if (!QHostAddress(h).isNull())
        return false;
    return h.endsWith(QLatin1Char('.') + d);
}

void HFCookieStorage::setCookies(const QList<QNetworkCookie> &cookies) {
    std::lock_guard lock(m_mutex);
    removeExpiredCookiesLocked();
    const QDateTime now = HFRunLoop::now();
    for (const QNetworkCookie &cookie : cookies) {
        if (cookie.name().isEmpty() || cookie.domain().isEmpty() || cookie.path().isEmpty()) {
            VNLog::log(QStringLiteral("HFCookieStorage Cookie incomplete: %1").arg(describe(cookie)));
            continue;
        }
        const int old = indexOfMatchingLocked(cookie);
        if (old >= 0)
            m_cookies.removeAt(old);
        if (cookie.expirationDate().isValid() && cookie.expirationDate() <= now)
            continue;  // an expired cookie only deletes its stored twin
        m_cookies.append(cookie);
    }
}

void HFCookieStorage::deleteCookie(const QNetworkCookie &cookie) {
    std::lock_guard lock(m_mutex);
    const int i = indexOfMatchingLocked(cookie);
    if (i >= 0)
        m_cookies.removeAt(i);
}

QList<QNetworkCookie> HFCookieStorage::cookiesForURL(const QUrl &url) {
    std::lock_guard lock(m_mutex);
    removeExpiredCookiesLocked();
    const QString host = url.host().toLower();
    const bool loopback = host == kLoopback;
    const QString path = url.path().isEmpty() ? QStringLiteral("/") : url.path();
    const bool https = url.scheme() == QLatin1String("https");
    QList<QNetworkCookie> out;
    for (const QNetworkCookie &cookie : m_cookies) {
        const QString domain = cookie.domain().toLower();
        const bool domainOK = loopback ? (domain == kLoopback || domain == kLoopback + QStringLiteral(".local"))
                                       : domainMatches(host, domain);
        const bool pathOK = cookie.path() == QLatin1String("/") || path.startsWith(cookie.path());
        const bool secureOK = !cookie.isSecure() || https;
        if (domainOK && pathOK && secureOK)
            out.append(cookie);
    }
    return out;
}

QNetworkCookie HFCookieStorage::cookieMatchingCookie(const QNetworkCookie &cookie) const {
    std::lock_guard lock(m_mutex);
    const int i = indexOfMatchingLocked(cookie);
    return i >= 0 ? m_cookies.at(i) : QNetworkCookie();
}

int HFCookieStorage::indexOfMatchingLocked(const QNetworkCookie &cookie) const {
    if (cookie.name().isEmpty() || cookie.domain().isEmpty() || cookie.path().isEmpty())
        VNLog::log(QStringLiteral("HFCookieStorage Invalid cookie %1").arg(describe(cookie)));
    for (int i = 0; i < m_cookies.size(); ++i) {
        const QNetworkCookie &c = m_cookies.at(i);
        if (c.name() == cookie.name() && c.domain() == cookie.domain() && c.path() == cookie.path())
            return i;
    }
    return -1;
}

void HFCookieStorage::removeExpiredCookies() {
    std::lock_guard lock(m_mutex);
    removeExpiredCookiesLocked();
}

void HFCookieStorage::removeExpiredCookiesLocked() {
    const QDateTime now = HFRunLoop::now();
    for (qsizetype i = m_cookies.size() - 1; i >= 0; --i) {
        const QDateTime expiry = m_cookies.at(i).expirationDate();
        if (expiry.isValid() && expiry < now)
            m_cookies.removeAt(i);
    }
}

void HFCookieStorage::removeAllCookies() {
    std::lock_guard lock(m_mutex);
    m_cookies.clear();
}

QList<QNetworkCookie> HFCookieStorage::cookies() const {
    std::lock_guard lock(m_mutex);
    return m_cookies;
}

// The cookies a response sets, completed the way a browser would: without a
// Domain attribute a cookie belongs to the host alone; a Domain attribute
// that does not cover the host is refused (one site cannot set cookies for
// another); a missing path is the URL's folder.
QList<QNetworkCookie> HFCookieStorage::cookiesOfResponse(const HFURLResponse &response) {
    QList<QNetworkCookie> out;
    const QUrl url = response.url();
    const QString host = url.host().toLower();
    for (const QByteArray &line : response.setCookieLines()) {
        for (QNetworkCookie cookie : QNetworkCookie::parseCookies(line)) {
            if (cookie.domain().isEmpty()) {
                cookie.setDomain(host);
            } else {
                if (!HFCookieStorage::domainMatches(host, cookie.domain()))
                    continue;
                if (!cookie.domain().startsWith(QLatin1Char('.')))
                    cookie.setDomain(QLatin1Char('.') + cookie.domain());
            }
            if (cookie.path().isEmpty()) {
                QString path = url.path();
                const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
                cookie.setPath(slash > 0 ? path.left(slash) : QStringLiteral("/"));
            }
            out.append(cookie);
        }
    }
    return out;
}
