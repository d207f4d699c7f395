// The fetch history's stores on their own: cookie matching, the ETag cache
// and its budget, with a clock the tests set.
#include "DA/HTTPFetcher/HFHTTPFetchHistory.h"
#include "DA/HTTPFetcher/HFRunLoop.h"
#include "DA/HTTPFetcher/HFUserAgent.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

QNetworkCookie cookie(const char *name, const QString &domain, const QString &path = QStringLiteral("/"), bool secure = false) {
    QNetworkCookie c(name, "v");
    c.setDomain(domain);
    c.setPath(path);
    c.setSecure(secure);
    return c;
}

QStringList names(const QList<QNetworkCookie> &cookies) {
    QStringList out;
    for (const auto &c : cookies)
        out << QString::fromUtf8(c.name());
    return out;
}

HFURLResponsePtr responseWithETag(const QUrl &url, int status, const QString &etag) {
    QMap<QString, QString> headers;
    if (!etag.isEmpty())
        headers.insert(QStringLiteral("Etag"), etag);
    return std::make_shared<HFURLResponse>(url, status, headers);
}

struct Clock {
    QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc());
    Clock() { HFRunLoop::setNowForTesting([this] { return now; }); }
    ~Clock() { HFRunLoop::setNowForTesting(nullptr); }
};

}  // namespace

TEST(CookieStorage, DomainPathAndSecureMatching) {
    HFCookieStorage jar;
    jar.setCookies({cookie("host", QStringLiteral("example.com")), cookie("dot", QStringLiteral(".example.com")),
                    cookie("path", QStringLiteral("example.com"), QStringLiteral("/a")),
                    cookie("secure", QStringLiteral("example.com"), QStringLiteral("/"), true)});
    struct Case {
        const char *url;
        QStringList expected;
    } cases[] = {
        {"http://example.com/", {"host", "dot"}},
        {"https://example.com/a/b", {"host", "dot", "path", "secure"}},
        {"http://example.com/abc", {"host", "dot", "path"}},
        {"http://www.Example.com/x", {"host", "dot"}},
        // A site whose name merely ends the same way gets nothing.
        {"http://badexample.com/", {}},
        {"http://example.com.evil.org/", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(names(jar.cookiesForURL(QUrl(QString::fromLatin1(c.url)))), c.expected) << c.url;
}

TEST(CookieStorage, LoopbackAndReplacementAndExpiry) {
    Clock clock;
    HFCookieStorage jar;
    jar.setCookies({cookie("lo", QStringLiteral("localhost")), cookie("local", QStringLiteral("localhost.local")),
                    cookie("other", QStringLiteral("example.com"))});
    EXPECT_EQ(names(jar.cookiesForURL(QUrl(QStringLiteral("http://LocalHost/")))), QStringList({"lo", "local"}));

    // Same name, domain and path: replaced, never two.
    QNetworkCookie again = cookie("lo", QStringLiteral("localhost"));
    again.setValue("w");
    jar.setCookies({again});
    EXPECT_EQ(jar.cookies().size(), 3);
    EXPECT_EQ(jar.cookieMatchingCookie(again).value(), QByteArray("w"));

    // An expired twin deletes the stored one; a cookie past its date goes.
    QNetworkCookie expired = cookie("other", QStringLiteral("example.com"));
    expired.setExpirationDate(clock.now.addSecs(-1));
    QNetworkCookie shortLived = cookie("brief", QStringLiteral("example.com"));
    shortLived.setExpirationDate(clock.now.addSecs(10));
    jar.setCookies({expired, shortLived});
    EXPECT_EQ(names(jar.cookiesForURL(QUrl(QStringLiteral("http://example.com/")))), QStringList({"brief"}));
    clock.now = clock.now.addSecs(11);
    EXPECT_TRUE(jar.cookiesForURL(QUrl(QStringLiteral("http://example.com/"))).isEmpty());

    // Incomplete cookies are skipped.
    jar.setCookies({cookie("nodomain", QString())});
    EXPECT_EQ(jar.cookies().size(), 2);
}

TEST(FetchHistory, ETagsGoOnGetsAndLeaveOnErrors) {
    HFHTTPFetchHistory history;
    history.setShouldRememberETags(true);
    const QUrl url(QStringLiteral("http://example.com/feed"));
    HFURLRequest first(url);
    history.updateRequest(first, true);
    EXPECT_FALSE(first.hasHeader(QStringLiteral("If-None-Match")));
    EXPECT_EQ(first.cachePolicy(), HFURLRequest::ReloadIgnoringLocalCacheData);
    history.updateFetchHistoryWithRequest(first, responseWithETag(url, 200, QStringLiteral("\"e1\"")), "body");

    HFURLRequest get(url), post(url);
    history.updateRequest(get, true);
    history.updateRequest(post, false);
    EXPECT_EQ(get.valueForHTTPHeaderField(QStringLiteral("If-None-Match")), QStringLiteral("\"e1\""));
    EXPECT_FALSE(post.hasHeader(QStringLiteral("If-None-Match")));
    // Bodies are not kept unless asked.
    EXPECT_TRUE(history.cachedDataForRequest(get).isEmpty());

    // A 304 changes nothing; an error status removes the entry.
    history.updateFetchHistoryWithRequest(get, responseWithETag(url, 304, {}), {});
    EXPECT_EQ(history.cachedETagForRequest(get), QStringLiteral("\"e1\""));
    history.updateFetchHistoryWithRequest(get, responseWithETag(url, 500, QStringLiteral("\"e2\"")), {});
    EXPECT_TRUE(history.cachedETagForRequest(get).isEmpty());

    // The caller's own condition wins and drops our entry.
    history.updateFetchHistoryWithRequest(first, responseWithETag(url, 200, QStringLiteral("\"e3\"")), {});
    HFURLRequest own(url);
    own.setValue(QStringLiteral("\"mine\""), QStringLiteral("If-None-Match"));
    history.updateRequest(own, true);
    EXPECT_EQ(own.valueForHTTPHeaderField(QStringLiteral("If-None-Match")), QStringLiteral("\"mine\""));
    EXPECT_TRUE(history.cache().responses().isEmpty());
}

TEST(FetchHistory, BudgetEvictsLeastRecentlyUsedUnreserved) {
    Clock clock;
    HFHTTPFetchHistory history(100, true);
    auto store = [&](const char *path, int size) {
        const QUrl url(QStringLiteral("http://example.com/") + QLatin1String(path));
        history.updateFetchHistoryWithRequest(HFURLRequest(url), responseWithETag(url, 200, QStringLiteral("\"x\"")),
                                              QByteArray(size, 'a'));
        clock.now = clock.now.addSecs(1);
    };
    store("a", 40);
    store("b", 40);
    // Handing out a's ETag reserves it for 60 s.
    HFURLRequest a(QUrl(QStringLiteral("http://example.com/a")));
    history.updateRequest(a, true);
    store("c", 40);  // over budget: b (oldest unreserved) goes
    QStringList left;
    for (const QUrl &u : history.cache().responses().keys())
        left << u.path();
    EXPECT_EQ(left, QStringList({"/a", "/c"}));
    EXPECT_EQ(history.cache().totalDataSize(), 80u);
    // Too big for the budget: not stored, and the URL's old entry is gone.
    store("c", 100);
    EXPECT_EQ(history.cache().responses().size(), 1);
    // The body of a reserved entry completes a 304 and ends the reservation.
    EXPECT_EQ(history.cachedDataForRequest(a).size(), 40);
    EXPECT_FALSE(history.cache().responses().value(a.url())->reservationDate().isValid());
}

TEST(UserAgent, SafeStringDropsSeparators) {
    EXPECT_EQ(HFUserAgent::HFUserAgentSafeString(QStringLiteral("My App (beta) 1.0/x\t{y}")), QStringLiteral("My_App_beta_1.0xy"));
    EXPECT_TRUE(HFUserAgent::HFUserAgentSafeString(QString()).isEmpty());
    EXPECT_FALSE(HFUserAgent::HFApplicationToken().contains(QLatin1Char(' ')));
}
