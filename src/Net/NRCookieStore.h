#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QUrl>
#include <memory>
#include <mutex>

class QNetworkCookieJar;

// The process's shared cookie store (domain and path matching, expiry),
// safe to use from the network thread and the main thread.
class NRCookieStore {
public:
    static NRCookieStore &shared();

    QList<QNetworkCookie> cookiesForUrl(const QUrl &url) const;
    // Stores the cookies a reply for this URL set; returns those accepted.
    QList<QNetworkCookie> setCookiesFromUrl(const QList<QNetworkCookie> &cookies, const QUrl &url);
    void deleteCookie(const QNetworkCookie &cookie);
    QList<QNetworkCookie> allCookies() const;
    void clear();

private:
    NRCookieStore();
    mutable std::mutex m_mutex;
    std::unique_ptr<QNetworkCookieJar> m_jar;
};
