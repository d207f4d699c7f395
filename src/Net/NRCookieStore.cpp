#include "Net/NRCookieStore.h"

#include <QNetworkCookieJar>

namespace {
// QNetworkCookieJar keeps its list protected; this opens it for clear().
class OpenJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::allCookies;
    using QNetworkCookieJar::setAllCookies;
};
}  // namespace

NRCookieStore &NRCookieStore::shared() {
    static NRCookieStore *store = new NRCookieStore();
    return *store;
}

NRCookieStore::NRCookieStore() : m_jar(std::make_unique<OpenJar>()) {}

QList<QNetworkCookie> NRCookieStore::cookiesForUrl(const QUrl &url) const {
    std::lock_guard lock(m_mutex);
    return m_jar->cookiesForUrl(url);
}

QList<QNetworkCookie> NRCookieStore::setCookiesFromUrl(const QList<QNetworkCookie> &cookies, const QUrl &url) {
    std::lock_guard lock(m_mutex);
    QList<QNetworkCookie> accepted;
    for (const QNetworkCookie &c : cookies) {
        if (m_jar->setCookiesFromUrl({c}, url))
            accepted.append(c);
    }
    return accepted;
}

void NRCookieStore::deleteCookie(const QNetworkCookie &cookie) {
    std::lock_guard lock(m_mutex);
    m_jar->deleteCookie(cookie);
}

QList<QNetworkCookie> NRCookieStore::allCookies() const {
    std::lock_guard lock(m_mutex);
    return static_cast<OpenJar *>(m_jar.get())->allCookies();
}

void NRCookieStore::clear() {
    std::lock_guard lock(m_mutex);
    static_cast<OpenJar *>(m_jar.get())->setAllCookies({});
}
