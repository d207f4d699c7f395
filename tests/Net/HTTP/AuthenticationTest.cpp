// Server authentication against Apache (Basic, Digest) and the fake server
// (NTLM, endless 401s, challenges we cannot answer).
#include "Net/NetTestSupport.h"

#include "Net/NRSessionCredentialStore.h"

#include <QFile>
#include <QTimer>

using namespace NetTest;

namespace {
std::shared_ptr<NRHTTPRequest> withCredentials(const QUrl &url, const QString &user, const QString &password) {
    auto request = NRHTTPRequest::requestWithURL(url);
    request->setUsername(user);
    request->setPassword(password);
    return request;
}

class Authentication : public ::testing::Test {
protected:
    void SetUp() override { NRHTTPRequest::clearSession(); }
    QJsonObject a = apache();
    QString basicUser = a[QStringLiteral("basic_user")].toString();
    QString basicPassword = a[QStringLiteral("basic_password")].toString();
    QString digestUser = a[QStringLiteral("digest_user")].toString();
    QString digestPassword = a[QStringLiteral("digest_password")].toString();
};
}  // namespace

TEST_F(Authentication, BasicAfterChallengeThenFromTheSession) {
    auto r = withCredentials(apacheURL(QStringLiteral("/basic/hello.txt")), basicUser, basicPassword);
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(r->responseString().toStdString(), "hello, world\n");
    EXPECT_EQ(r->authenticationScheme(), QStringLiteral("Basic"));
    EXPECT_EQ(r->authenticationRetryCount(), 1);

    // The next request to the same server sends them at once.
    auto again = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/1k.bin")));
    EXPECT_EQ(run(again)->finished, 1);
    EXPECT_EQ(again->responseStatusCode(), 200);
    EXPECT_EQ(again->authenticationRetryCount(), 0);
}

// One account on a Basic share with a Digest share inside it, on one server:
// the session's credentials of one share go to the other first and are
// refused there; the request answers the new challenge with its own.
TEST_F(Authentication, OneAccountOnABasicShareAndADigestShareInsideIt) {
    const QString user = a[QStringLiteral("shares_user")].toString();
    const QString password = a[QStringLiteral("shares_password")].toString();
    // Realms of their own, then one realm name for both schemes.
    for (const QString share : {QStringLiteral("/twinrealm"), QStringLiteral("/onerealm")}) {
        // Both orders: the share met first is the one whose credentials the session offers.
        for (const bool basicFirst : {true, false}) {
            NRHTTPRequest::clearSession();
            const QString basic = share + QStringLiteral("/hello.txt");
            const QString digest = share + QStringLiteral("/dav/hello.txt");
            const QStringList paths = basicFirst ? QStringList{basic, digest, basic, digest, basic}
                                                 : QStringList{digest, basic, digest, basic, digest};
            for (int i = 0; i < paths.size(); ++i) {
                auto r = withCredentials(apacheURL(paths[i]), user, password);
                EXPECT_EQ(run(r)->finished, 1) << paths[i].toStdString() << " step " << i;
                EXPECT_EQ(r->responseStatusCode(), 200) << paths[i].toStdString() << " step " << i;
                EXPECT_EQ(r->responseString().toStdString(), "hello, world\n");
                EXPECT_LE(r->authenticationRetryCount(), 2) << paths[i].toStdString();
            }
            // The session now holds both shares: a request without credentials
            // of its own is answered from it in either share.
            for (const QString &path : {basic, digest}) {
                auto r = NRHTTPRequest::requestWithURL(apacheURL(path));
                run(r);
                EXPECT_EQ(r->responseStatusCode(), 200) << path.toStdString();
            }
            // WebDAV calls in the Digest share, after the Basic one.
            auto propfind = NRHTTPRequest::requestWithURL(apacheURL(share + QStringLiteral("/dav/")));
            propfind->setRequestMethod(QStringLiteral("PROPFIND"));
            propfind->addRequestHeader(QStringLiteral("Depth"), QStringLiteral("1"));
            propfind->setUsername(user);
            propfind->setPassword(password);
            run(propfind);
            EXPECT_EQ(propfind->responseStatusCode(), 207);
        }
    }
    // A wrong password is still refused in each share, however the session stands.
    for (const QString path : {QStringLiteral("/twinrealm/hello.txt"), QStringLiteral("/twinrealm/dav/hello.txt")}) {
        auto wrong = withCredentials(apacheURL(path), user, QStringLiteral("not it"));
        EXPECT_EQ(run(wrong)->failed, 1) << path.toStdString();
        EXPECT_EQ(errorCode(wrong), 3);
        EXPECT_LE(wrong->authenticationRetryCount(), 2);
    }
}

TEST_F(Authentication, WrongBasicPasswordIsCode3) {
    auto r = withCredentials(apacheURL(QStringLiteral("/basic/hello.txt")), basicUser, QStringLiteral("not-it"));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 3);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("Authentication needed"));
    EXPECT_EQ(r->responseStatusCode(), 401);
    EXPECT_FALSE(r->responseData().isEmpty());
    EXPECT_EQ(NRSessionCredentialStore::shared().count(), 0u);
}

TEST_F(Authentication, HeadRequest) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/1k.bin")));
    r->setRequestMethod(QStringLiteral("HEAD"));
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(r->contentLength(), 1024u);
    EXPECT_TRUE(r->responseData().isEmpty());
}

TEST_F(Authentication, NoCredentialsIsCode3) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 3);
    EXPECT_EQ(r->responseStatusCode(), 401);
}

TEST_F(Authentication, DigestAndItsReuse) {
    auto r = withCredentials(apacheURL(QStringLiteral("/digest/hello.txt")), digestUser, digestPassword);
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(r->authenticationScheme(), QStringLiteral("Digest"));
    EXPECT_EQ(r->authenticationRealm(), QStringLiteral("digest-realm"));

    // Pre-emptive: the session's Digest answers the next request at once,
    // for another path (the answer is made for each request's own URI).
    auto again = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/digest/1k.bin?x=1")));
    EXPECT_EQ(run(again)->finished, 1);
    EXPECT_EQ(again->responseStatusCode(), 200);
    EXPECT_EQ(again->authenticationRetryCount(), 0);
    EXPECT_EQ(again->responseData().size(), 1024);

    auto wrong = withCredentials(apacheURL(QStringLiteral("/digest/hello.txt")), digestUser, QStringLiteral("nope"));
    EXPECT_EQ(run(wrong)->failed, 1);
    EXPECT_EQ(errorCode(wrong), 3);
}

TEST_F(Authentication, DigestOverWebDAV) {
    // The calls a WebDAV drive makes, through a Digest-protected collection.
    const QString base = QStringLiteral("/davdigest/");
    auto make = [&](const QString &method, const QString &path) {
        auto r = withCredentials(apacheURL(base + path), digestUser, digestPassword);
        r->setRequestMethod(method);
        return r;
    };
    auto mkcol = make(QStringLiteral("MKCOL"), QStringLiteral("folder/"));
    run(mkcol);
    EXPECT_EQ(mkcol->responseStatusCode(), 201);

    auto dir = VNTest::makeTempDir();
    const QString local = dir->path() + QStringLiteral("/up.bin");
    VNTest::writeFile(local, pattern(1500000));
    auto put = make(QStringLiteral("PUT"), QStringLiteral("folder/up.bin"));
    put->setShouldStreamPostDataFromDisk(true);
    put->setPostBodyFilePath(local);
    run(put);
    EXPECT_EQ(put->responseStatusCode(), 201);

    auto propfind = make(QStringLiteral("PROPFIND"), QStringLiteral("folder/"));
    propfind->addRequestHeader(QStringLiteral("Depth"), QStringLiteral("1"));
    propfind->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("text/xml"));
    propfind->setPostBody("<?xml version=\"1.0\"?><propfind xmlns=\"DAV:\"><allprop/></propfind>");
    run(propfind);
    EXPECT_EQ(propfind->responseStatusCode(), 207);
    EXPECT_TRUE(propfind->responseString().contains(QStringLiteral("up.bin")));

    auto copy = make(QStringLiteral("COPY"), QStringLiteral("folder/up.bin"));
    copy->addRequestHeader(QStringLiteral("Destination"), apacheURL(base + QStringLiteral("folder/copy.bin")).toString());
    run(copy);
    EXPECT_EQ(copy->responseStatusCode(), 201);
    auto move = make(QStringLiteral("MOVE"), QStringLiteral("folder/copy.bin"));
    move->addRequestHeader(QStringLiteral("Destination"), apacheURL(base + QStringLiteral("folder/moved.bin")).toString());
    run(move);
    EXPECT_EQ(move->responseStatusCode(), 201);

    auto get = make(QStringLiteral("GET"), QStringLiteral("folder/moved.bin"));
    const QString dest = dir->path() + QStringLiteral("/down.bin");
    get->setDownloadDestinationPath(dest);
    run(get);
    EXPECT_EQ(VNTest::readFile(dest), pattern(1500000));

    auto del = make(QStringLiteral("DELETE"), QStringLiteral("folder/"));
    run(del);
    EXPECT_EQ(del->responseStatusCode(), 204);
}

TEST_F(Authentication, EndlessChallengesEndInCode3) {
    auto r = withCredentials(fake(QStringLiteral("/loop401")), QStringLiteral("u"), QStringLiteral("p"));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 3);
    EXPECT_LE(r->authenticationRetryCount(), 5);

    // A delegate that keeps supplying the same wrong answer still ends.
    auto asked = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/loop401")));
    int questions = 0;
    asked->setAuthenticationNeededBlock([&] {
        ++questions;
        asked->setUsername(QStringLiteral("u"));
        asked->setPassword(QStringLiteral("p"));
        asked->retryUsingSuppliedCredentials();
    });
    EXPECT_EQ(run(asked)->failed, 1);
    EXPECT_EQ(errorCode(asked), 3);
    EXPECT_GE(questions, 1);
    EXPECT_LE(questions, 5);
}

TEST_F(Authentication, ChallengesWeCannotAnswerEndTheRequest) {
    for (const QString route : {QStringLiteral("/negotiate401"), QStringLiteral("/nochallenge401")}) {
        auto r = withCredentials(fake(route), QStringLiteral("u"), QStringLiteral("p"));
        EXPECT_EQ(run(r)->failed, 1) << route.toStdString();
        EXPECT_EQ(errorCode(r), 7);
        EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("Failed to get authentication object from response headers"));
    }
}

TEST_F(Authentication, DelegateSuppliesCredentials) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    r->setAuthenticationNeededBlock([&] {
        r->setUsername(basicUser);
        r->setPassword(basicPassword);
        r->retryUsingSuppliedCredentials();
    });
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);

    auto refused = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/digest/hello.txt")));
    refused->setAuthenticationNeededBlock([&] { refused->cancelAuthentication(); });
    EXPECT_EQ(run(refused)->failed, 1);
    EXPECT_EQ(errorCode(refused), 3);
}

// Retrying with what was supplied runs the credential step again: the
// session's credentials first, the request's own, else the question is
// asked once more; only a question nobody answers ends it.
TEST_F(Authentication, RetryingRunsTheCredentialStepAgain) {
    enum class Answer { NothingThenOwnCredentials, SessionMeanwhile, NothingThenCancel };
    struct Row {
        const char *name;
        Answer answer;
        bool proxy;  // the question is the proxy's (the fake server as a strict proxy)
        int questions;
        int status;  // 0: failed with code 3
    };
    const Row rows[] = {
        {"nothing supplied, then the request's own", Answer::NothingThenOwnCredentials, false, 2, 200},
        {"the session learnt them meanwhile", Answer::SessionMeanwhile, false, 1, 200},
        {"nothing supplied, then cancelled", Answer::NothingThenCancel, false, 2, 0},
        {"the proxy's: nothing supplied, then the request's own", Answer::NothingThenOwnCredentials, true, 2, 200},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        NRHTTPRequest::clearSession();
        NRSessionCredentialStore::sharedProxy().clear();
        const QUrl url = row.proxy ? fake(QStringLiteral("/echo?strictproxy=1")) : apacheURL(QStringLiteral("/basic/hello.txt"));
        auto r = NRHTTPRequest::requestWithURL(url);
        if (row.proxy) {
            r->setProxyHost(QStringLiteral("127.0.0.1"));
            r->setProxyPort(QUrl(fakeBase()).port());
        }
        std::weak_ptr<NRHTTPRequest> weak = r;
        int questions = 0;
        const auto ask = [&, weak] {
            auto asked = weak.lock();
            ++questions;
            if (questions == 1 && row.answer == Answer::SessionMeanwhile) {
                NRSessionCredentialEntry entry;
                entry.credentials = std::make_shared<NRCredentials>(NRCredentials{basicUser, basicPassword, {}});
                entry.url = url;
                entry.scheme = QStringLiteral("Basic");
                NRSessionCredentialStore::shared().store(entry);
            } else if (questions == 2 && row.answer == Answer::NothingThenOwnCredentials && row.proxy) {
                asked->setProxyUsername(QStringLiteral("strict"));
                asked->setProxyPassword(QStringLiteral("right"));
            } else if (questions == 2 && row.answer == Answer::NothingThenOwnCredentials) {
                asked->setUsername(basicUser);
                asked->setPassword(basicPassword);
            } else if (questions == 2) {
                asked->cancelAuthentication();
                return;
            }
            asked->retryUsingSuppliedCredentials();
        };
        if (row.proxy)
            r->setProxyAuthenticationNeededBlock(ask);
        else
            r->setAuthenticationNeededBlock(ask);
        auto outcome = run(r);
        EXPECT_EQ(questions, row.questions);
        EXPECT_EQ(outcome->finished, row.status ? 1 : 0);
        EXPECT_EQ(r->responseStatusCode(), row.status ? row.status : 401);
        EXPECT_EQ(errorCode(r), row.status ? 0 : 3);
    }
    NRSessionCredentialStore::sharedProxy().clear();
}

TEST_F(Authentication, NTLMHandedToLibcurl) {
    auto r = withCredentials(fake(QStringLiteral("/ntlm")), QStringLiteral("VARNELLO\\carol"), QStringLiteral("ntlm-pass"));
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(r->responseString(), QStringLiteral("welcome VARNELLO\\carol"));
    EXPECT_EQ(r->authenticationScheme(), QStringLiteral("NTLM"));

    NRHTTPRequest::clearSession();
    auto withDomain = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/ntlm")));
    withDomain->setUsername(QStringLiteral("carol"));
    withDomain->setDomain(QStringLiteral("VARNELLO"));
    withDomain->setPassword(QStringLiteral("ntlm-pass"));
    EXPECT_EQ(run(withDomain)->finished, 1);
    EXPECT_EQ(withDomain->responseStatusCode(), 200);

    NRHTTPRequest::clearSession();
    auto wrong = withCredentials(fake(QStringLiteral("/ntlm")), QStringLiteral("VARNELLO\\carol"), QStringLiteral("wrong"));
    EXPECT_EQ(run(wrong)->failed, 1);
    EXPECT_EQ(errorCode(wrong), 3);
}

TEST_F(Authentication, SessionStoreStaysBounded) {
    // Many requests with the same and with changing credentials: the store
    // keeps one entry per URL and credentials, and never more than its cap.
    std::vector<std::shared_ptr<NRHTTPRequest>> requests;
    auto ended = std::make_shared<int>(0);
    const int count = 600;
    for (int i = 0; i < count; ++i) {
        auto r = withCredentials(apacheURL(QStringLiteral("/basic/hello.txt")), basicUser, basicPassword);
        r->setCompletionBlock([ended] { ++*ended; });
        r->setFailedBlock([ended] { ++*ended; });
        requests.push_back(r);
        r->startAsynchronous();
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return *ended == count; }, 120000));
    int ok = 0;
    for (auto &r : requests)
        ok += r->responseStatusCode() == 200;
    EXPECT_EQ(ok, count);
    EXPECT_LE(NRSessionCredentialStore::shared().count(), 2u);

    for (int i = 0; i < 200; ++i) {
        NRSessionCredentialEntry e;
        e.credentials = std::make_shared<NRCredentials>(NRCredentials{QString::number(i), QStringLiteral("p"), {}});
        e.url = QUrl(QStringLiteral("http://example.invalid/%1").arg(i));
        e.scheme = QStringLiteral("Basic");
        NRSessionCredentialStore::shared().store(e);
    }
    EXPECT_LE(NRSessionCredentialStore::shared().count(), NRSessionCredentialStore::maximumEntries);
}

TEST_F(Authentication, CredentialsNotSentDownToPlainHTTP) {
    NetTest::mapTestHosts();
    const int httpsPort = a[QStringLiteral("https_port")].toInt();
    auto r = withCredentials(QUrl(QStringLiteral("https://secure.varnello.test:%1/downgrade").arg(httpsPort)),
                             basicUser, basicPassword);
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 3);
    EXPECT_EQ(r->url().scheme(), QStringLiteral("http"));
}

TEST_F(Authentication, OneRequestAtATimeAsksForCredentials) {
    // Three requests challenged at once: one is asked; the others wait their
    // turn and then take its answer from the session store.
    std::vector<std::shared_ptr<NRHTTPRequest>> requests;
    int asked = 0, ended = 0;
    for (int i = 0; i < 3; ++i) {
        auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt?%1").arg(i)));
        NRHTTPRequest *raw = r.get();
        r->setAuthenticationNeededBlock([this, raw, &asked] {
            ++asked;
            QTimer::singleShot(300, [this, raw] {
                raw->setUsername(basicUser);
                raw->setPassword(basicPassword);
                raw->retryUsingSuppliedCredentials();
            });
        });
        r->setCompletionBlock([&ended] { ++ended; });
        r->setFailedBlock([&ended] { ++ended; });
        requests.push_back(r);
    }
    for (auto &r : requests)
        r->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return ended == 3; }, 10000));
    EXPECT_EQ(asked, 1);
    for (auto &r : requests)
        EXPECT_EQ(r->responseStatusCode(), 200);
}
