// Challenge parsing, scheme choice and the session store's matching rules.
#include "Net/NRHTTPAuthentication.h"
#include "Net/NRSessionCredentialStore.h"

#include <gtest/gtest.h>

TEST(Challenge, SeveralChallengesInOneHeader) {
    const auto list = NRHTTPAuthentication::parseChallenges(
        R"(Basic realm="simple, with comma", Digest realm="d", nonce="abc", qop="auth,auth-int", NTLM)");
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].scheme, QStringLiteral("Basic"));
    EXPECT_EQ(list[0].params.value(QStringLiteral("realm")), QStringLiteral("simple, with comma"));
    EXPECT_EQ(list[1].params.value(QStringLiteral("qop")), QStringLiteral("auth,auth-int"));
    EXPECT_EQ(list[2].scheme, QStringLiteral("NTLM"));
}

TEST(Challenge, TokenAndEscapes) {
    const auto list = NRHTTPAuthentication::parseChallenges(R"(NTLM TlRMTVNTUAACAAAA==)");
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].token68, QByteArray("TlRMTVNTUAACAAAA=="));
    const auto quoted = NRHTTPAuthentication::parseChallenges(R"(Basic realm="a \"quoted\" realm")");
    EXPECT_EQ(quoted[0].params.value(QStringLiteral("realm")), QStringLiteral("a \"quoted\" realm"));
    // Garbage gives nothing usable, and no crash.
    EXPECT_FALSE(NRHTTPAuthentication::fromChallenges({QByteArray("\"\",,,=;;")}));
    EXPECT_FALSE(NRHTTPAuthentication::fromChallenges({QByteArray("Bearer realm=\"x\"")}));
}

TEST(Challenge, StrongestSchemeWins) {
    auto a = NRHTTPAuthentication::fromChallenges({"Basic realm=\"b\"", "Digest realm=\"d\", nonce=\"n\""});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->scheme(), QStringLiteral("Digest"));
    auto b = NRHTTPAuthentication::fromChallenges({"Basic realm=\"b\", NTLM"});
    EXPECT_EQ(b->scheme(), QStringLiteral("NTLM"));
    EXPECT_TRUE(b->realm().isNull());
    // A Digest we cannot compute (auth-int only) falls back to Basic.
    auto c = NRHTTPAuthentication::fromChallenges({"Digest realm=\"d\", nonce=\"n\", qop=\"auth-int\", Basic realm=\"b\""});
    EXPECT_EQ(c->scheme(), QStringLiteral("Basic"));
}

TEST(Challenge, DigestAnswerShape) {
    auto a = NRHTTPAuthentication::fromChallenges(
        {R"(Digest realm="testrealm@host.com", qop="auth", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41")"});
    const QByteArray first = a->authorizationHeader({QStringLiteral("Mufasa"), QStringLiteral("Circle Of Life"), {}},
                                                    QStringLiteral("GET"), "/dir/index.html");
    EXPECT_TRUE(first.startsWith("Digest username=\"Mufasa\""));
    EXPECT_TRUE(first.contains("uri=\"/dir/index.html\""));
    EXPECT_TRUE(first.contains("nc=00000001"));
    EXPECT_TRUE(first.contains("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""));
    const QByteArray second = a->authorizationHeader({QStringLiteral("Mufasa"), QStringLiteral("Circle Of Life"), {}},
                                                     QStringLiteral("GET"), "/dir/index.html");
    EXPECT_TRUE(second.contains("nc=00000002"));
    EXPECT_FALSE(a->isStale());
    EXPECT_TRUE(NRHTTPAuthentication::fromChallenges({R"(Digest realm="r", nonce="n", stale=TRUE)"})->isStale());
}

TEST(Challenge, BasicAnswer) {
    EXPECT_EQ(NRHTTPAuthentication::basicAuthorization(QStringLiteral("Aladdin"), QStringLiteral("open sesame")),
              QByteArray("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="));
}

TEST(SessionStore, ExactBeatsCloseAndSchemesAndPortsDiffer) {
    NRSessionCredentialStore store;
    auto close = std::make_shared<NRCredentials>(NRCredentials{QStringLiteral("close"), QStringLiteral("p"), {}});
    auto exact = std::make_shared<NRCredentials>(NRCredentials{QStringLiteral("exact"), QStringLiteral("p"), {}});
    store.store({nullptr, close, QUrl(QStringLiteral("http://h/a")), QStringLiteral("Basic"), {}});
    store.store({nullptr, exact, QUrl(QStringLiteral("http://h/b")), QStringLiteral("Basic"), {}});
    NRSessionCredentialEntry found;
    ASSERT_TRUE(store.find(QUrl(QStringLiteral("http://h/b")), {}, {}, {}, &found));
    EXPECT_EQ(found.credentials, exact);
    ASSERT_TRUE(store.find(QUrl(QStringLiteral("http://h/c")), {}, {}, {}, &found));
    EXPECT_EQ(found.credentials, close);
    EXPECT_FALSE(store.find(QUrl(QStringLiteral("https://h/b")), {}, {}, {}, &found));
    EXPECT_FALSE(store.find(QUrl(QStringLiteral("http://h:8080/b")), {}, {}, {}, &found));
    // A request with its own credentials never gets another user's.
    EXPECT_FALSE(store.find(QUrl(QStringLiteral("http://h/b")), {}, QStringLiteral("third"), QStringLiteral("x"), &found));
    store.remove(exact);
    ASSERT_TRUE(store.find(QUrl(QStringLiteral("http://h/b")), {}, {}, {}, &found));
    EXPECT_EQ(found.credentials, close);
}

TEST(SessionStore, OneEntryPerRealmSchemeAndUserTheFirstCloseMatchWins) {
    NRSessionCredentialStore store;
    auto make = [](const char *user, const char *password) {
        return std::make_shared<NRCredentials>(NRCredentials{QString::fromLatin1(user), QString::fromLatin1(password), {}});
    };
    auto basic = make("carol", "pw");
    auto digest = make("carol", "pw");
    store.store({nullptr, digest, QUrl(QStringLiteral("http://h/share/dav/a")), QStringLiteral("Digest"), QStringLiteral("r")});
    store.store({nullptr, basic, QUrl(QStringLiteral("http://h/share/files/b")), QStringLiteral("Basic"), QStringLiteral("r")});
    NRSessionCredentialEntry found;
    // Same realm name, two schemes: the first stored of the origin, however
    // near the other's path is (the challenge then names its scheme).
    ASSERT_TRUE(store.find(QUrl(QStringLiteral("http://h/share/dav/c/d")), {}, {}, {}, &found));
    EXPECT_EQ(found.credentials, digest);
    ASSERT_TRUE(store.find(QUrl(QStringLiteral("http://h/share/files/e")), {}, {}, {}, &found));
    EXPECT_EQ(found.credentials, digest);
    // A challenge's scheme picks its own entry wherever the path points.
    ASSERT_TRUE(store.find(QUrl(QStringLiteral("http://h/share/dav/c")), QStringLiteral("r"), {}, {}, &found,
                           QStringLiteral("Basic")));
    EXPECT_EQ(found.credentials, basic);
    EXPECT_FALSE(store.find(QUrl(QStringLiteral("http://h/x")), QStringLiteral("r"), {}, {}, &found, QStringLiteral("NTLM")));
    // A new password for the same user and space replaces the old entry.
    auto changed = make("carol", "new");
    store.store({nullptr, changed, QUrl(QStringLiteral("http://h/share/dav/z")), QStringLiteral("Digest"), QStringLiteral("r")});
    EXPECT_EQ(store.count(), 2u);
    EXPECT_FALSE(store.find(QUrl(QStringLiteral("http://h/share/dav/z")), {}, QStringLiteral("carol"), QStringLiteral("pw"),
                            &found, QStringLiteral("Digest")));
    // Another user of the same space is kept beside it.
    store.store({nullptr, make("dave", "pw"), QUrl(QStringLiteral("http://h/share/dav/z")), QStringLiteral("Digest"),
                 QStringLiteral("r")});
    EXPECT_EQ(store.count(), 3u);
}

TEST(SessionStore, TheFirstCloseMatchThatFitsNotTheNearestPath) {
    NRSessionCredentialStore store;
    const auto make = [](const char *user) {
        return std::make_shared<NRCredentials>(NRCredentials{QString::fromLatin1(user), QStringLiteral("pw"), {}});
    };
    const auto alice = make("alice"), bob = make("bob"), carol = make("carol");
    store.store({nullptr, alice, QUrl(QStringLiteral("http://h/a/b/c")), QStringLiteral("Basic"), QStringLiteral("one")});
    store.store({nullptr, bob, QUrl(QStringLiteral("http://h/x/y/z")), QStringLiteral("Basic"), QStringLiteral("two")});
    store.store({nullptr, carol, QUrl(QStringLiteral("http://h/x/y")), QStringLiteral("Basic"), QString()});
    struct Row {
        const char *url, *realm, *user;
        NRCredentialsPtr expected;
    } rows[] = {
        {"http://h/x/y/q", nullptr, nullptr, alice},  // first of the origin, though bob's path is nearer
        {"http://h/x/y/q", "two", nullptr, bob},      // alice's realm differs
        {"http://h/x/y/q", nullptr, "carol", carol},  // the request's own user
        {"http://h/x/y", nullptr, nullptr, carol},    // an exact URL beats the close match before it
    };
    for (const Row &row : rows) {
        NRSessionCredentialEntry found;
        const QString user = row.user ? QString::fromLatin1(row.user) : QString();
        ASSERT_TRUE(store.find(QUrl(QString::fromLatin1(row.url)), row.realm ? QString::fromLatin1(row.realm) : QString(),
                               user, row.user ? QStringLiteral("pw") : QString(), &found))
            << row.url << " " << (row.realm ? row.realm : "");
        EXPECT_EQ(found.credentials, row.expected) << row.url << " " << (row.realm ? row.realm : "");
    }
}
