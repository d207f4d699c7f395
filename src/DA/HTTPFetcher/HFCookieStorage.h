#pragma once

#include "DA/HTTPFetcher/HFHTTPFetcherProtocols.h"

#include <QList>
#include <QNetworkCookie>
#include <QUrl>
#include <mutex>

// The jar the fetchers use: an in-memory list of cookies in the order
// stored, never two of the same name, domain and path. Cookies go with a
// URL by RFC 6265 domain matching (the host itself or a host below the
// domain, never a host whose name merely ends the same way), a path prefix
// and the secure flag.
class HFURLResponse;

class HFCookieStorage : public HFCookieStorageProtocol {
public:
    HFCookieStorage() = default;

    void setCookies(const QList<QNetworkCookie> &cookies) override;
    void deleteCookie(const QNetworkCookie &cookie);
    // Empty when none match.
    QList<QNetworkCookie> cookiesForURL(const QUrl &url) override;
    // The stored cookie with the same name, domain and path, or a null cookie.
    QNetworkCookie cookieMatchingCookie(const QNetworkCookie &cookie) const;
    void removeExpiredCookies();
    void removeAllCookies();
    QList<QNetworkCookie> cookies() const;

    // The cookies a response sets, completed the way a browser would:
    // without a Domain attribute a cookie belongs to the host alone; a Domain
    // that does not cover the host is refused; a missing path is the URL's
    // folder.
    static QList<QNetworkCookie> cookiesOfResponse(const HFURLResponse &response);
    // Whether the host lies in the cookie domain (a leading dot is ignored).
    static bool domainMatches(const QString &host, const QString &domain);

private:
    void removeExpiredCookiesLocked();
    int indexOfMatchingLocked(const QNetworkCookie &cookie) const;

    mutable std::recursive_mutex m_mutex;
    QList<QNetworkCookie> m_cookies;
};
