// Redirects: method rules, the limit, allowed schemes, and what must not
// travel to another origin.
#include "Net/NetTestSupport.h"

using namespace NetTest;

TEST(Redirect, ApacheRedirectsAreFollowed) {
    for (const QString path : {QStringLiteral("/r301"), QStringLiteral("/r302"), QStringLiteral("/r303")}) {
        auto r = NRHTTPRequest::requestWithURL(apacheURL(path));
        bool redirected = false;
        r->setRequestRedirectedBlock([&] { redirected = true; });
        EXPECT_EQ(run(r)->finished, 1);
        EXPECT_TRUE(redirected);
        EXPECT_EQ(r->responseString(), QStringLiteral("hello, world\n"));
        EXPECT_EQ(r->url(), apacheURL(QStringLiteral("/files/hello.txt")));
        EXPECT_EQ(r->originalURL(), apacheURL(path));
        EXPECT_EQ(r->redirectCount(), 1);
    }
}

TEST(Redirect, PostBecomesGetExcept307) {
    auto r302 = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=302&to=/echo")));
    r302->setPostBody("payload");
    run(r302);
    EXPECT_EQ(echoOf(r302)[QStringLiteral("method")].toString(), QStringLiteral("GET"));
    EXPECT_EQ(echoOf(r302)[QStringLiteral("length")].toInt(), 0);

    auto r307 = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=307&to=/echo")));
    r307->setPostBody("payload");
    r307->addRequestHeader(QStringLiteral("X-Kept"), QStringLiteral("yes"));
    run(r307);
    EXPECT_EQ(echoOf(r307)[QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_EQ(echoOf(r307)[QStringLiteral("body")].toString(), QStringLiteral("payload"));
    EXPECT_EQ(echoHeader(r307, QStringLiteral("X-Kept")), QStringLiteral("yes"));
}

TEST(Redirect, SixthRedirectFails) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/loop")));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 9);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("The request failed because it redirected too many times"));
    EXPECT_EQ(r->redirectCount(), 6);
}

TEST(Redirect, NotFollowedWhenSwitchedOff) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/r302")));
    r->setShouldRedirect(false);
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 302);
}

TEST(Redirect, OnlyHTTPAndHTTPS) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=302&to=file:///etc/passwd")));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 5);
    auto ftp = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=307&to=ftp://127.0.0.1/x")));
    EXPECT_EQ(run(ftp)->failed, 1);
    EXPECT_EQ(errorCode(ftp), 5);
}

TEST(Redirect, CredentialsAndCookiesStayWithTheirOrigin) {
    const QString elsewhere = QStringLiteral("http://localhost:%1/echo")
                                  .arg(VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("port")].toInt());
    auto r = NRHTTPRequest::requestWithURL(
        fake(QStringLiteral("/redirect?code=307&to=") + QString::fromLatin1(QUrl::toPercentEncoding(elsewhere))));
    r->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer secret-token"));
    r->addRequestHeader(QStringLiteral("X-Other"), QStringLiteral("kept"));
    r->setRequestCookies({QNetworkCookie("session", "abc")});
    r->setUsername(QStringLiteral("someone"));
    r->setPassword(QStringLiteral("pw"));
    run(r);
    const QJsonObject h = echoHeaders(r);
    EXPECT_FALSE(h.contains(QStringLiteral("Authorization")));
    EXPECT_FALSE(h.contains(QStringLiteral("Cookie")));
    EXPECT_EQ(h[QStringLiteral("X-Other")].toString(), QStringLiteral("kept"));
    EXPECT_TRUE(r->username().isEmpty());

    // Within the origin a 307 keeps the caller's authorization.
    auto same = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=307&to=/echo")));
    same->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer secret-token"));
    run(same);
    EXPECT_EQ(echoHeader(same, QStringLiteral("Authorization")), QStringLiteral("Bearer secret-token"));
}


TEST(Redirect, CookiesAreRebuiltFromTheStoreForTheNewURL) {
    struct Case {
        int code;
        bool rfc2616;
    };
    for (const Case c : {Case{307, false}, Case{302, true}, Case{302, false}, Case{303, false}}) {
        const QString tag = QString::number(c.code) + (c.rfc2616 ? QStringLiteral("rfc") : QString());
        run(NRHTTPRequest::requestWithURL(fake(QStringLiteral("/setcookie?name=stored%1&value=s").arg(tag))));
        auto r = NRHTTPRequest::requestWithURL(
            fake(QStringLiteral("/redirect?code=%1&to=/echo&cookie=byredirect%2%3Dr").arg(c.code).arg(tag)));
        r->setShouldUseRFC2616RedirectBehaviour(c.rfc2616);
        EXPECT_EQ(run(r)->finished, 1);
        const QString cookie = echoHeader(r, QStringLiteral("Cookie"));
        EXPECT_TRUE(cookie.contains(QStringLiteral("stored%1=s").arg(tag))) << tag.toStdString() << " " << cookie.toStdString();
        EXPECT_TRUE(cookie.contains(QStringLiteral("byredirect%1=r").arg(tag))) << tag.toStdString() << " " << cookie.toStdString();
    }
}

// What goes on to the new location, per status: a 301, 302 or 303 becomes
// a GET that keeps only "User-Agent" and "Accept" (a caller's
// "Authorization" stays behind too); a 307, or a 302 under RFC 2616, keeps
// method, body and headers; a 308 is no redirect.
TEST(Redirect, HeadersThatGoOnPerStatus) {
    struct Row {
        int code;
        bool rfc2616;
        bool followed;
        bool keepsEverything;
    };
    const Row rows[] = {
        {301, false, true, false}, {302, false, true, false}, {303, false, true, false},
        {307, false, true, true},  {308, false, false, false}, {302, true, true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(QStringLiteral("%1%2").arg(row.code).arg(row.rfc2616 ? " RFC 2616" : "").toStdString());
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=%1&to=/echo").arg(row.code)));
        r->setShouldUseRFC2616RedirectBehaviour(row.rfc2616);
        r->setPostBody("payload");
        r->addRequestHeader(QStringLiteral("X-Custom"), QStringLiteral("yes"));
        r->addRequestHeader(QStringLiteral("Accept"), QStringLiteral("text/plain"));
        r->addRequestHeader(QStringLiteral("User-Agent"), QStringLiteral("redirect-test"));
        r->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer caller-token"));
        EXPECT_EQ(run(r)->finished, 1);
        if (!row.followed) {
            EXPECT_EQ(r->responseStatusCode(), row.code);
            EXPECT_EQ(r->redirectCount(), 0);
            continue;
        }
        EXPECT_EQ(r->redirectCount(), 1);
        const QJsonObject echo = echoOf(r);
        const QJsonObject h = echo[QStringLiteral("headers")].toObject();
        EXPECT_EQ(h[QStringLiteral("Accept")].toString(), QStringLiteral("text/plain"));
        EXPECT_EQ(h[QStringLiteral("User-Agent")].toString(), QStringLiteral("redirect-test"));
        EXPECT_EQ(echo[QStringLiteral("method")].toString(), row.keepsEverything ? "POST" : "GET");
        EXPECT_EQ(echo[QStringLiteral("length")].toInt(), row.keepsEverything ? 7 : 0);
        EXPECT_EQ(h.contains(QStringLiteral("X-Custom")), row.keepsEverything);
        EXPECT_EQ(h.contains(QStringLiteral("Authorization")), row.keepsEverything);
    }
}
