// The rest of the request's interface: synchronous start, HEAD copies,
// header delegates, client certificates, activity hooks, text services.
#include "Net/NetTestSupport.h"

#include "Net/NRFormDataRequest.h"
#include "Net/NRS3ObjectRequest.h"
#include "Net/NRS3ServiceRequest.h"
#include "Net/NRWebPageRequest.h"
#include "Net/NRNetworkThread.h"
#include "Platform/VNDispatch.h"

#include <QObject>
#include <QTimeZone>

#include <thread>

using namespace NetTest;

namespace {
class HeaderListener : public QObject {
    Q_OBJECT
public:
    QMap<QString, QString> headers;
public slots:
    void requestDidReceiveResponseHeaders(NRHTTPRequest *, const QMap<QString, QString> &h) { headers = h; }
};
}  // namespace

TEST(RequestAPI, TextServices) {
    EXPECT_EQ(NRHTTPRequest::base64forData(""), QString());
    EXPECT_EQ(NRHTTPRequest::base64forData("f"), QStringLiteral("Zg=="));
    EXPECT_EQ(NRHTTPRequest::base64forData("foobar"), QStringLiteral("Zm9vYmFy"));
    const QDateTime when(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    EXPECT_EQ(NRHTTPRequest::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT")), when);
    EXPECT_EQ(NRHTTPRequest::dateFromRFC1123String(QStringLiteral("06 Nov 1994 08:49:37 GMT")), when);
    EXPECT_EQ(NRHTTPRequest::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 08:49 GMT")), when.addSecs(-37));
    EXPECT_FALSE(NRHTTPRequest::dateFromRFC1123String(QStringLiteral("yesterday")).isValid());
}

TEST(RequestAPI, SynchronousStartReturnsWhenDone) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=100")));
    bool finished = false;
    r->setCompletionBlock([&] { finished = true; });
    r->startSynchronous();
    EXPECT_TRUE(r->isSynchronous());
    EXPECT_TRUE(finished);  // its callback ran before the call returned
    EXPECT_EQ(r->responseData(), pattern(100));

    auto bad = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:1/")));
    bad->startSynchronous();
    EXPECT_EQ(errorCode(bad), 1);
}

TEST(RequestAPI, HEADRequestSendsTheMainRequestsHeaders) {
    auto main = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=5000")));
    main->addRequestHeader(QStringLiteral("X-From-Main"), QStringLiteral("yes"));
    main->setRequestCookies({QNetworkCookie("chosen", "1")});
    main->setAllowCompressedResponse(false);
    main->setTimeOutSeconds(7);
    auto head = main->HEADRequest();
    EXPECT_EQ(head->requestMethod(), QStringLiteral("HEAD"));
    EXPECT_EQ(head->mainRequest(), main);
    EXPECT_EQ(head->timeOutSeconds(), 7);
    head->startAsynchronous();  // it ends without a word of its own
    ASSERT_TRUE(VNTest::waitUntil([&] { return head->isFinished(); }));
    EXPECT_FALSE(head->error());
    EXPECT_EQ(head->responseHeader(QStringLiteral("Content-Length")), QStringLiteral("5000"));
    // The headers the main request will send, made for it now: its cookies
    // too, and no "Accept-Encoding" since it takes no compressed reply.
    const QMap<QString, QString> sent = head->requestHeaders();
    EXPECT_EQ(sent.value(QStringLiteral("X-From-Main")), QStringLiteral("yes"));
    EXPECT_EQ(sent.value(QStringLiteral("Cookie")), QStringLiteral("chosen=1"));
    EXPECT_FALSE(sent.contains(QStringLiteral("Accept-Encoding")));
    EXPECT_EQ(main->requestHeaders(), sent);
}

TEST(RequestAPI, ABodyFileThatCannotBeWrittenWholeFailsBeforeSending) {
    // The body goes through a file on a full disk (/dev/full): the request
    // fails with a file error instead of sending what little was written.
    const QByteArray piece(100000, 'b');
    auto plain = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?fullbody=1")));
    plain->setShouldStreamPostDataFromDisk(true);
    plain->setPostBodyFilePath(QStringLiteral("/dev/full"));
    plain->appendPostData("a small start");  // kept in a buffer at first: its loss shows only when flushed
    auto large = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?fullbody=2")));
    large->setShouldStreamPostDataFromDisk(true);
    large->setPostBodyFilePath(QStringLiteral("/dev/full"));
    large->appendPostData(piece);
    auto form = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form?fullbody=3")));
    form->setPostBodyFilePath(QStringLiteral("/dev/full"));
    form->addPostValue(QStringLiteral("v"), QStringLiteral("k"));
    form->addData(piece, QStringLiteral("file"));
    for (const auto &r : {plain, large, std::static_pointer_cast<NRHTTPRequest>(form)}) {
        EXPECT_EQ(run(r)->failed, 1) << r->url().toString().toStdString();
        EXPECT_EQ(errorCode(r), NRHTTPRequest::FileManagementError);
        EXPECT_EQ(r->responseStatusCode(), 0) << "sent anyway";
    }
}

TEST(RequestAPI, HeaderDelegateGetsTheHeaders) {
    HeaderListener listener;
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/text")));
    r->setDelegate(&listener);
    run(r);
    EXPECT_EQ(listener.headers.value(QStringLiteral("Content-Type")), QStringLiteral("text/plain"));
}

TEST(RequestAPI, ClientCertificateIsPresented) {
    // An identity that cannot be loaded ends the TLS set-up: the SSL error;
    // a copy of the request presents the same identity.
    auto dir = VNTest::makeTempDir();
    const QString broken = dir->path() + QStringLiteral("/me.pem");
    VNTest::writeFile(broken, "not a certificate");
    const int httpsPort = apache()[QStringLiteral("https_port")].toInt();
    auto original = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("https://127.0.0.1:%1/files/1k.bin").arg(httpsPort)));
    original->setValidatesSecureCertificate(false);
    original->setClientCertificateIdentity(broken);
    for (const auto &r : {original->copy(), original}) {
        EXPECT_EQ(run(r)->failed, 1);
        EXPECT_EQ(errorCode(r), 1);
        ASSERT_TRUE(r->error());
        EXPECT_TRUE(r->error()->localizedDescription().contains(QLatin1String("SSL problem")));
    }
}

TEST(RequestAPI, NetworkActivityHooks) {
    int shown = 0, hidden = 0;
    NRHTTPRequest::setNetworkActivityHooks([&] { ++shown; }, [&] { ++hidden; });
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stall?n=100&wait=0.3")));
    r->startAsynchronous();
    EXPECT_TRUE(VNTest::waitUntil([&] { return NRHTTPRequest::isNetworkInUse(); }, 2000));
    EXPECT_TRUE(VNTest::waitUntil([&] { return hidden == 1; }, 5000));
    EXPECT_EQ(shown, 1);
    NRHTTPRequest::setNetworkActivityHooks({}, {});
}

TEST(RequestAPI, ACopyIsOfTheReceiversOwnClass) {
    const QUrl url = fake(QStringLiteral("/echo"));
    const auto same = [](const std::shared_ptr<NRHTTPRequest> &original, const std::shared_ptr<NRHTTPRequest> &copy) {
        return copy && typeid(*copy) == typeid(*original) && copy->url() == original->url();
    };
    const std::vector<std::shared_ptr<NRHTTPRequest>> originals = {
        NRHTTPRequest::requestWithURL(url), NRWebPageRequest::requestWithURL(url),
        std::make_shared<NRFormDataRequest>(url), std::make_shared<NRS3ServiceRequest>(url),
        std::make_shared<NRS3ObjectRequest>(url)};
    for (const auto &original : originals)
        EXPECT_TRUE(same(original, original->copy())) << typeid(*original).name();
}

TEST(RequestAPI, AHEADRequestAnswersChallengesWithItsMainRequestsCredentials) {
    // Credentials given to the main request after its HEAD request was made
    // still answer the HEAD request's challenge, a server's or a proxy's.
    const QJsonObject tinyproxy = VNTest::peerState(QStringLiteral("tinyproxy"));
    for (const bool proxy : {false, true}) {
        forgetProxySettings();
        auto main = NRHTTPRequest::requestWithURL(proxy ? fake(QStringLiteral("/echo?head=1"))
                                                        : apacheURL(QStringLiteral("/basic/hello.txt")));
        if (proxy) {
            main->setProxyHost(QStringLiteral("127.0.0.1"));
            main->setProxyPort(tinyproxy[QStringLiteral("auth_port")].toInt());
        }
        auto head = main->HEADRequest();
        if (proxy) {
            main->setProxyUsername(tinyproxy[QStringLiteral("user")].toString());
            main->setProxyPassword(tinyproxy[QStringLiteral("password")].toString());
        } else {
            main->setUsername(apache()[QStringLiteral("basic_user")].toString());
            main->setPassword(apache()[QStringLiteral("basic_password")].toString());
        }
        ASSERT_TRUE(runForMainRequest(head)) << (proxy ? "proxy" : "server");
        EXPECT_EQ(errorCode(head), 0) << (proxy ? "proxy" : "server");
        EXPECT_EQ(head->responseStatusCode(), 200) << (proxy ? "proxy" : "server");
        EXPECT_EQ(errorCode(main), 0) << (proxy ? "proxy" : "server");
    }
    forgetProxySettings();
}

#include "RequestAPITest.moc"

// Waiting for a request's end on the main thread: its callbacks were handed
// over before it was marked finished, and the wait's last pass runs them.
// (done() first answers once the request has ended, so no pass before it
// could have run them.)
TEST(RequestAPI, WaitingForTheEndRunsTheCallbacksHandedOverBeforeIt) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=100")));
    bool finished = false;
    r->setCompletionBlock([&] { finished = true; });
    r->startAsynchronous();
    NRNetworkThread::serveEventsUntil([&] {
        r->waitUntilFinished();
        return true;
    });
    EXPECT_TRUE(finished);
}

// Whoever hears of a request's end (a queue of operations, a waiting
// thread) and then tells the main thread finds the request's own callbacks
// already there before its word.
TEST(RequestAPI, WhoeverHearsOfTheEndComesAfterTheRequestsCallbacks) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=100")));
    auto events = std::make_shared<QStringList>();
    NRHTTPRequest *raw = r.get();
    // Told on the network thread when the request starts, then when it ends;
    // the word goes from a thread of its own, straight to the main thread.
    r->observeExecutingOnce([raw, events](bool) {
        raw->observeExecutingOnce([events](bool) {
            std::thread([events] { VNDispatch::mainAsync([events] { *events << QStringLiteral("end heard"); }); }).join();
        });
    });
    r->setCompletionBlock([events] { *events << QStringLiteral("finished"); });
    r->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return events->size() == 2; }));
    EXPECT_EQ(*events, QStringList({QStringLiteral("finished"), QStringLiteral("end heard")}));
}
