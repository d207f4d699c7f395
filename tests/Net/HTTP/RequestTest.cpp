// Requests against the fake server and Apache: methods, headers, bodies,
// statuses, character sets, cookies, failures, cancelling and the queue.
#include "Net/NetTestSupport.h"

#include "Formats/NRDataDecompressor.h"
#include "Net/NRNetworkThread.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QObject>

using namespace NetTest;

TEST(Request, ExactBytesChunkedAndCloseDelimited) {
    for (const QString route : {QStringLiteral("/bytes"), QStringLiteral("/chunked"), QStringLiteral("/nolength")}) {
        auto r = NRHTTPRequest::requestWithURL(fake(route + QStringLiteral("?n=123457")));
        auto out = run(r);
        EXPECT_EQ(out->finished, 1) << route.toStdString();
        EXPECT_EQ(out->failed, 0);
        EXPECT_EQ(r->responseStatusCode(), 200);
        EXPECT_TRUE(r->responseStatusMessage().startsWith(QLatin1String("HTTP/1.1 200")));
        EXPECT_EQ(r->responseData(), pattern(123457)) << route.toStdString();
        // Without a length the size is what was read.
        EXPECT_EQ(r->contentLength(), 123457u);
    }
}

TEST(Request, HTTPErrorStatusesFinish) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/status?code=500")));
    auto out = run(r);
    EXPECT_EQ(out->finished, 1);
    EXPECT_EQ(out->failed, 0);
    EXPECT_EQ(r->responseStatusCode(), 500);
    EXPECT_EQ(r->responseString(), QStringLiteral("status body"));
    auto missing = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/nothing-here")));
    EXPECT_EQ(run(missing)->finished, 1);
    EXPECT_EQ(missing->responseStatusCode(), 404);
}

TEST(Request, MethodsAndBodies) {
    // A GET with a body goes out as POST with its length.
    auto get = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    get->setPostBody("hello");
    run(get);
    EXPECT_EQ(echoOf(get)[QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_EQ(echoHeader(get, QStringLiteral("Content-Length")), QStringLiteral("5"));
    EXPECT_EQ(echoOf(get)[QStringLiteral("body")].toString(), QStringLiteral("hello"));
    // No form type of libcurl's own.
    EXPECT_FALSE(echoHeaders(get).contains(QStringLiteral("Content-Type")));

    for (const QString method : {QStringLiteral("PUT"), QStringLiteral("DELETE"), QStringLiteral("PROPFIND")}) {
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
        r->setRequestMethod(method);
        r->appendPostData("abc");
        r->appendPostData("def");
        run(r);
        auto e = echoOf(r);
        EXPECT_EQ(e[QStringLiteral("method")].toString(), method);
        EXPECT_EQ(e[QStringLiteral("body")].toString(), QStringLiteral("abcdef"));
    }

    // A plain GET sends no length; an empty PUT says its length is 0.
    auto plain = ranOnFake(QStringLiteral("/echo"));
    EXPECT_EQ(echoOf(plain)[QStringLiteral("method")].toString(), QStringLiteral("GET"));
    EXPECT_FALSE(echoHeaders(plain).contains(QStringLiteral("Content-Length")));
    auto emptyPut = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    emptyPut->setRequestMethod(QStringLiteral("PUT"));
    run(emptyPut);
    EXPECT_EQ(echoHeader(emptyPut, QStringLiteral("Content-Length")), QStringLiteral("0"));
}

// A copy of a request with a compressed body sends what the source would:
// the gzip of the body, its length and "Content-Encoding: gzip", whether
// the source had built its body before it was copied or not, from memory
// or from a file.
TEST(Request, ACopySendsACompressedBodyAsItsSourceWould) {
    const QByteArray body = QByteArray("a body that compresses well. ").repeated(200);
    auto dir = VNTest::makeTempDir();
    const QString file = dir->path() + QStringLiteral("/body.txt");
    VNTest::writeFile(file, body);
    struct Row {
        const char *name;
        bool fromFile;
        bool builtBeforeCopy;
    };
    const Row rows[] = {
        {"in memory, built before the copy", false, true},
        {"in memory, not built yet", false, false},
        {"from a file, built before the copy", true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto source = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
        source->setRequestMethod(QStringLiteral("PUT"));
        source->setShouldCompressRequestBody(true);
        if (row.fromFile) {
            source->setPostBodyFilePath(file);
            source->setShouldStreamPostDataFromDisk(true);
        } else {
            source->appendPostData(body);
        }
        if (row.builtBeforeCopy)
            source->buildPostBodyNow();
        auto copy = source->copy();
        EXPECT_EQ(run(copy)->finished, 1);
        const QJsonObject echo = echoOf(copy);
        const QByteArray received = echo[QStringLiteral("body")].toString().toLatin1();
        EXPECT_EQ(echo[QStringLiteral("headers")].toObject()[QStringLiteral("Content-Encoding")].toString(), QStringLiteral("gzip"));
        EXPECT_LT(received.size(), body.size());
        EXPECT_EQ(NRDataDecompressor::uncompressData(received, nullptr, 1 << 20), body);
    }
}

TEST(Request, PersistentConnectionSwitchFollowsMethod) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    EXPECT_TRUE(r->shouldAttemptPersistentConnection());
    r->setRequestMethod(QStringLiteral("PUT"));
    EXPECT_FALSE(r->shouldAttemptPersistentConnection());
    auto d = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    d->setRequestMethod(QStringLiteral("DELETE"));
    d->setPostBody("x");
    EXPECT_TRUE(d->shouldAttemptPersistentConnection());
}

TEST(Request, HeadersSentAndReceived) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->addRequestHeader(QStringLiteral("X-Test"), QStringLiteral("first"));
    r->addRequestHeader(QStringLiteral("X-Test"), QStringLiteral("second"));
    r->addRequestHeader(QStringLiteral("User-Agent"), QStringLiteral("Mine/1.0"));
    r->addRequestHeader(QStringLiteral("Accept-Encoding"), QStringLiteral("br"));
    r->addRequestHeader(QStringLiteral("X-Evil"), QStringLiteral("a\r\nX-Injected: 1"));
    run(r);
    const QJsonObject h = echoHeaders(r);
    EXPECT_EQ(h[QStringLiteral("X-Test")].toString(), QStringLiteral("second"));
    EXPECT_EQ(h[QStringLiteral("User-Agent")].toString(), QStringLiteral("Mine/1.0"));
    EXPECT_EQ(h[QStringLiteral("Accept-Encoding")].toString(), QStringLiteral("gzip"));
    EXPECT_FALSE(h.contains(QStringLiteral("X-Injected")));

    auto multi = ranOnFake(QStringLiteral("/multi"));
    EXPECT_EQ(multi->responseHeaders().value(QStringLiteral("X-Multi")), QStringLiteral("one, two"));
    EXPECT_EQ(multi->responseHeader(QStringLiteral("x-multi")), QStringLiteral("one, two"));
}

TEST(Request, UserAgent) {
    const QString ua = echoHeader(ranOnFake(QStringLiteral("/echo")), QStringLiteral("User-Agent"));
    EXPECT_TRUE(ua.startsWith(QCoreApplication::applicationName() + QLatin1Char(' '))) << ua.toStdString();
    EXPECT_EQ(ua, NRHTTPRequest::defaultUserAgentString());

    auto own = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    own->setUserAgentString(QStringLiteral("Varnello-Test/2"));
    run(own);
    EXPECT_EQ(echoHeader(own, QStringLiteral("User-Agent")), QStringLiteral("Varnello-Test/2"));
}

TEST(Request, ContentLengthIsDecimal) {
    auto r = ranOnFake(QStringLiteral("/octal-length"));
    EXPECT_EQ(r->contentLength(), 10u);
    EXPECT_EQ(r->responseData(), QByteArray("0123456789"));
}

TEST(Request, CharacterSets) {
    const QString text = QString::fromUtf8("café ünï");
    // Other text without a charset is ISO Latin 1.
    for (const auto &[contentType, expected] :
         {std::pair{"application/json", text}, {"text/xml", text}, {"application/atom+xml", text},
          {"text/plain; charset=\"utf-8\"", text}, {"text/plain;charset=UTF-8", text},
          {"text/plain", QString::fromLatin1("café ünï")}}) {
        const auto r = ranOnFake(QStringLiteral("/text?ct=") + QString::fromLatin1(QUrl::toPercentEncoding(contentType)));
        EXPECT_EQ(r->responseString(), expected) << contentType;
    }
}

TEST(Request, ContentTypeParsing) {
    QString mime = QStringLiteral("unchanged");
    QByteArray charset = "keep";
    NRHTTPRequest::parseContentType(QStringLiteral("text/html; charset=UTF-8"), &mime, &charset);
    EXPECT_EQ(mime, QStringLiteral("text/html"));
    EXPECT_EQ(charset, QByteArray("UTF-8"));
    charset = "keep";
    NRHTTPRequest::parseContentType(QStringLiteral("text/html"), &mime, &charset);
    EXPECT_EQ(charset, QByteArray("keep"));
    NRHTTPRequest::parseContentType(QStringLiteral("text/html; boundary=x; charset=\"iso-8859-2\""), &mime, &charset);
    EXPECT_EQ(charset, QByteArray("iso-8859-2"));
}

TEST(Request, Cookies) {
    auto set = ranOnFake(QStringLiteral("/setcookie?name=flavour&value=oat"));
    ASSERT_EQ(set->responseCookies().size(), 1);
    EXPECT_EQ(set->responseCookies().first().name(), QByteArray("flavour"));

    EXPECT_EQ(echoHeader(ranOnFake(QStringLiteral("/echo")), QStringLiteral("Cookie")), QStringLiteral("flavour=oat"));

    auto own = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    own->setUseCookiePersistence(false);
    own->setRequestCookies({QNetworkCookie("x", "1"), QNetworkCookie("y", "2")});
    run(own);
    EXPECT_EQ(echoHeader(own, QStringLiteral("Cookie")), QStringLiteral("x=1; y=2"));

    NRHTTPRequest::clearSession();
    EXPECT_FALSE(echoHeaders(ranOnFake(QStringLiteral("/echo"))).contains(QStringLiteral("Cookie")));
}

TEST(Request, BadURLsFailWithCode5) {
    for (const QUrl url : {QUrl(), QUrl(QStringLiteral("ftp://127.0.0.1/x")), QUrl(QStringLiteral("file:///etc/passwd"))}) {
        auto r = NRHTTPRequest::requestWithURL(url);
        auto out = run(r);
        EXPECT_EQ(out->failed, 1);
        EXPECT_EQ(errorCode(r), 5);
        EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("Unable to create request (bad url?)"));
        EXPECT_EQ(r->error()->domain(), QStringLiteral("NRHTTPRequestErrorDomain"));
    }
}

TEST(Request, RefusedConnectionIsCode1) {
    auto r = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:1/x")));
    auto out = run(r);
    EXPECT_EQ(out->failed, 1);
    EXPECT_EQ(errorCode(r), 1);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("A connection failure occurred"));
    EXPECT_FALSE(r->error()->userInfo().value(QStringLiteral("NSUnderlyingError")).toString().isEmpty());
}

TEST(Request, DroppedConnectionMidBodyFails) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/drop?n=100000&after=5000")));
    auto out = run(r);
    EXPECT_EQ(out->failed, 1);
    EXPECT_EQ(out->finished, 0);
    EXPECT_EQ(errorCode(r), 1);
}

// The bytes of a reply that never arrived whole are not handed out as its
// body; a refusal read to its end keeps its page.
TEST(Request, AReplyCutShortLeavesNoBody) {
    enum class End { Cancelled, TimedOut, Dropped, ReadWhole };
    struct Row {
        const char *name;
        const char *path;
        End end;
        int code;
        QByteArray body;
    };
    const Row rows[] = {
        // The server stalls far longer than the cancel or the time-out takes
        // to come, so that they, not the server, end the reply.
        {"cancelled part-way", "/stall?n=100000&wait=60", End::Cancelled, 4, {}},
        {"timed out part-way", "/stall?n=100000&wait=60", End::TimedOut, 2, {}},
        {"connection dropped part-way", "/drop?n=100000&after=50000", End::Dropped, 1, {}},
        {"a refusal read to its end", "/loop401", End::ReadWhole, 3, QByteArrayLiteral("no")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto r = NRHTTPRequest::requestWithURL(fake(QString::fromLatin1(row.path)));
        r->setTimeOutSeconds(row.end == End::TimedOut ? 1 : 10);
        auto outcome = std::make_shared<Outcome>();
        r->setCompletionBlock([outcome] { ++outcome->finished; });
        r->setFailedBlock([outcome] { ++outcome->failed; });
        r->startAsynchronous();
        if (row.end == End::Cancelled) {
            EXPECT_TRUE(VNTest::waitUntil([&] { return r->totalBytesRead() > 0; }, networkWaitMs))
                << row.name << ": nothing arrived";
            r->cancel();
        }
        const bool ended = VNTest::waitUntil([&] { return outcome->done(); }, networkWaitMs);
        EXPECT_TRUE(ended) << row.name << ": never ended";
        if (!ended)
            r->clearDelegatesAndCancel();  // the next rows go on without it
        EXPECT_EQ(outcome->failed, 1);
        EXPECT_EQ(errorCode(r), row.code);
        if (row.end != End::ReadWhole)
            EXPECT_GT(r->totalBytesRead(), 0u) << "nothing had arrived: the row shows nothing";
        EXPECT_EQ(r->responseData(), row.body);
        EXPECT_EQ(r->rawResponseData(), row.body);
    }
}

TEST(Request, SilentServerTimesOut) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/silent?wait=20")));
    r->setTimeOutSeconds(1);
    auto out = run(r, networkWaitMs);
    EXPECT_EQ(out->failed, 1);
    EXPECT_EQ(errorCode(r), 2);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("The request timed out"));

    auto retried = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/silent?wait=20")));
    retried->setTimeOutSeconds(0.5);
    retried->setNumberOfTimesToRetryOnTimeout(2);
    run(retried, networkWaitMs);
    EXPECT_EQ(errorCode(retried), 2);
    EXPECT_EQ(retried->retryCount(), 2);
}

TEST(Request, UploadToServerThatReadsNothingTimesOut) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/uploadstall?wait=20")));
    r->setRequestMethod(QStringLiteral("PUT"));
    r->setPostBody(QByteArray(8 * 1024 * 1024, 'u'));
    r->setTimeOutSeconds(1);
    auto out = run(r, networkWaitMs);
    EXPECT_EQ(out->failed, 1);
    EXPECT_EQ(errorCode(r), 2);
}

TEST(Request, CancelRunsTheFailureOnce) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/silent?wait=60")));
    auto outcome = std::make_shared<Outcome>();
    auto started = std::make_shared<bool>(false);
    r->setStartedBlock([started] { *started = true; });
    r->setCompletionBlock([outcome] { ++outcome->finished; });
    r->setFailedBlock([outcome] { ++outcome->failed; });
    r->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return *started; }, networkWaitMs));
    r->cancel();
    r->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return outcome->done(); }, networkWaitMs));
    // Finished: its last callbacks were on their way before, so a second
    // one would have run by now.
    EXPECT_TRUE(VNTest::waitUntil([&] { return r->isFinished(); }, networkWaitMs));
    settleNetworkThread();
    EXPECT_EQ(outcome->failed, 1);
    EXPECT_EQ(outcome->finished, 0);
    EXPECT_EQ(errorCode(r), 4);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("The request was cancelled"));
    EXPECT_TRUE(r->isCancelled());

    // The failure callback of a cancelled request always sees it cancelled
    // (an upload whose body file the request made: deleting it widens the
    // window between queuing the callback and the end of the cancel). The
    // server never reads the body and waits far longer than the test: the
    // cancel, not the server, ends each upload. What the callbacks count is
    // shared with them, so that a late one after a failed wait finds it, and
    // counted per upload, so that one that fails shows itself alone.
    struct Counts {
        int failures[3] = {};
        int seenCancelled = 0;
    };
    auto counts = std::make_shared<Counts>();
    const QByteArray mebibyte(1 << 20, 'b');
    for (int i = 0; i < 3; ++i) {
        auto c = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/uploadstall?wait=60")));
        c->setShouldStreamPostDataFromDisk(true);
        for (int m = 0; m < 64; ++m)
            c->appendPostData(mebibyte);
        NRHTTPRequest *raw = c.get();
        c->setFailedBlock([counts, raw, i] {
            ++counts->failures[i];
            counts->seenCancelled += raw->isCancelled();
        });
        c->startAsynchronous();
        const bool sending = VNTest::waitUntil([&] { return c->totalBytesSent() > 0; }, networkWaitMs);
        EXPECT_TRUE(sending) << "upload " << i << " never began";
        c->cancel();
        EXPECT_TRUE(VNTest::waitUntil([&] { return counts->failures[i] > 0; }, networkWaitMs))
            << "upload " << i << " never failed";
    }
    settleNetworkThread();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(counts->failures[i], 1) << "upload " << i;
    EXPECT_EQ(counts->seenCancelled, 3);

    // Cancelling after the end does nothing.
    auto done = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10")));
    auto doneOut = run(done, networkWaitMs);
    done->cancel();
    settleNetworkThread();
    EXPECT_EQ(doneOut->finished, 1);
    EXPECT_EQ(doneOut->failed, 0);
    EXPECT_FALSE(done->error());
}

TEST(Request, ClearDelegatesAndCancelIsSilent) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/silent?wait=20")));
    int calls = 0;
    bool started = false;
    r->setStartedBlock([&started] { started = true; });
    r->setCompletionBlock([&] { ++calls; });
    r->setFailedBlock([&] { ++calls; });
    r->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return started; }));
    r->clearDelegatesAndCancel();
    EXPECT_TRUE(VNTest::waitUntil([&] { return r->isFinished(); }));
    VNTest::spin(100);
    EXPECT_EQ(calls, 0);
}

TEST(Request, AtMostFourAtOnce) {
    std::vector<std::shared_ptr<NRHTTPRequest>> requests;
    auto ended = std::make_shared<int>(0);
    for (int i = 0; i < 10; ++i) {
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stall?n=1000&wait=0.3")));
        r->setTimeOutSeconds(0.2);
        r->setCompletionBlock([ended] { ++*ended; });
        r->setFailedBlock([ended] { ++*ended; });
        requests.push_back(r);
    }
    for (auto &r : requests)
        r->startAsynchronous();
    int most = 0;
    VNTest::waitUntil([&] {
        most = std::max({most, NRNetworkThread::shared().transferCount(), NRNetworkThread::shared().runningRequests()});
        return *ended == 10;
    }, 30000);
    EXPECT_EQ(*ended, 10);
    EXPECT_LE(most, 4);
    EXPECT_GE(most, 2);
}

namespace {
// Asked to confirm a redirect, never answers; remembers who asked.
class SilentConfirmer : public QObject {
    Q_OBJECT
public:
    QList<QUrl> askedBy;
public slots:
    void requestWillRedirectToURL(NRHTTPRequest *r, const QUrl &) { askedBy << r->url(); }
};
}  // namespace

TEST(Request, WaitingRequestsGiveBackTheirQueuePlace) {
    // Four requests wait (for credentials, for a redirect decision) and are
    // released by their owners, or cancelled: the queue must not stall.
    SilentConfirmer confirmer;
    // Whether the request was asked, by its own block or, for the shared
    // confirmer, at its own URL: one never asked shows itself alone.
    const auto startWaiting = [&confirmer](const std::shared_ptr<NRHTTPRequest> &r, bool forCredentials) {
        auto asked = std::make_shared<int>(0);
        const QUrl url = r->url();
        if (forCredentials)
            r->setAuthenticationNeededBlock([asked] { ++*asked; });
        else
            r->setDelegate(&confirmer);
        r->startAsynchronous();
        return VNTest::waitUntil(
            [&] { return forCredentials ? *asked > 0 : confirmer.askedBy.contains(url); }, networkWaitMs);
    };
    int made = 0;
    const auto waitingURL = [&made](bool forCredentials) {
        return fake((forCredentials ? QStringLiteral("/loop401?n=%1") : QStringLiteral("/redirect?code=302&to=/bytes&n=%1"))
                        .arg(++made));
    };
    for (int i = 0; i < 4; ++i) {
        const bool forCredentials = i % 2;
        auto r = NRHTTPRequest::requestWithURL(waitingURL(forCredentials));
        EXPECT_TRUE(startWaiting(r, forCredentials))
            << "request " << i << " (" << (forCredentials ? "for credentials" : "for a redirect") << ") was never asked";
    }  // released while waiting
    for (bool forCredentials : {true, false}) {
        SCOPED_TRACE(forCredentials ? "cancelled waiting for credentials" : "cancelled waiting for a redirect");
        auto waiting = NRHTTPRequest::requestWithURL(waitingURL(forCredentials));
        auto out = std::make_shared<Outcome>();
        waiting->setFailedBlock([out] { ++out->failed; });
        EXPECT_TRUE(startWaiting(waiting, forCredentials)) << "never asked";
        waiting->cancel();
        EXPECT_TRUE(VNTest::waitUntil([&] { return out->done(); }, networkWaitMs)) << "the cancel never ended it";
        EXPECT_EQ(errorCode(waiting), 4);
        EXPECT_TRUE(waiting->isCancelled());
    }
    auto next = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10")));
    EXPECT_EQ(run(next, networkWaitMs)->finished, 1);
    EXPECT_TRUE(VNTest::waitUntil([] { return NRNetworkThread::shared().runningRequests() == 0; }, networkWaitMs));
}

namespace {
// A request whose preparation throws.
class ThrowingRequest : public NRHTTPRequest {
public:
    using NRHTTPRequest::NRHTTPRequest;

protected:
    void buildPostBody() override { throw std::runtime_error("no body today"); }
};
}  // namespace

TEST(Request, ExceptionWhilePreparingIsCode10WithItsNameAndReason) {
    auto r = std::make_shared<ThrowingRequest>(fake(QStringLiteral("/echo")));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 10);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("std::runtime_error"));
    EXPECT_EQ(r->error()->userInfo()[QStringLiteral("NSLocalizedFailureReason")].toString(), QStringLiteral("no body today"));
}

namespace {
class Listener : public QObject {
    Q_OBJECT
public:
    QStringList calls;
public slots:
    void requestStarted(NRHTTPRequest *) { calls << QStringLiteral("started"); }
    void requestDidReceiveResponseHeaders(NRHTTPRequest *) { calls << QStringLiteral("headers"); }
    void allDone(NRHTTPRequest *r) { calls << QStringLiteral("finished %1").arg(r->responseStatusCode()); }
    void requestFailed(NRHTTPRequest *) { calls << QStringLiteral("failed"); }
};

// Asked before each redirect; sends the request somewhere else instead.
class RedirectConfirmer : public QObject {
    Q_OBJECT
public:
    QList<QUrl> asked;
    QUrl instead;
public slots:
    void requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &url) {
        asked << url;
        request->redirectToURL(instead.isValid() ? instead : url);
    }
};
}  // namespace

TEST(Request, DelegateBeforeBlocks) {
    Listener listener;
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10")));
    r->setDelegate(&listener);
    r->setDidFinishSelector("allDone");
    r->setStartedBlock([&] { listener.calls << QStringLiteral("started block"); });
    auto out = std::make_shared<Outcome>();
    r->setCompletionBlock([&listener, out] {
        listener.calls << QStringLiteral("finished block");
        ++out->finished;
    });
    r->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return out->done(); }, networkWaitMs));
    EXPECT_EQ(listener.calls, (QStringList{QStringLiteral("started"), QStringLiteral("started block"),
                                           QStringLiteral("headers"), QStringLiteral("finished 200"),
                                           QStringLiteral("finished block")}));
}

TEST(Request, DelegateConfirmsRedirects) {
    RedirectConfirmer confirmer;
    confirmer.instead = fake(QStringLiteral("/bytes?n=42"));
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/r302")));
    r->setDelegate(&confirmer);
    EXPECT_EQ(run(r)->finished, 1);
    ASSERT_EQ(confirmer.asked.size(), 1);
    EXPECT_EQ(confirmer.asked.first(), apacheURL(QStringLiteral("/files/hello.txt")));
    EXPECT_EQ(r->responseData(), pattern(42));
    EXPECT_EQ(r->url(), confirmer.instead);
}

TEST(Request, BlocksHoldingTheRequestDoNotLeakIt) {
    std::weak_ptr<NRHTTPRequest> weak;
    bool done = false;
    {
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10")));
        weak = r;
        r->setCompletionBlock([r, &done] { done = r->responseStatusCode() == 200; });
        r->setFailedBlock([r] {});
        r->startAsynchronous();
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return done; }));
    EXPECT_TRUE(VNTest::waitUntil([&] { return weak.expired(); }, 5000));
}

TEST(Request, ClearDelegatesAndCancelReleasesEveryBlock) {
    // A block holding its request must not keep it alive once the request
    // has been silenced: one row per block that no callback ran to release.
    using Setter = std::function<void(const std::shared_ptr<NRHTTPRequest> &)>;
    const std::vector<std::pair<const char *, Setter>> rows = {
        {"authentication", [](const auto &r) { r->setAuthenticationNeededBlock([r] {}); }},
        {"proxy authentication", [](const auto &r) { r->setProxyAuthenticationNeededBlock([r] {}); }},
        {"redirected", [](const auto &r) { r->setRequestRedirectedBlock([r] {}); }},
    };
    for (const auto &[name, setBlock] : rows) {
        std::weak_ptr<NRHTTPRequest> weak;
        {
            auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/silent?wait=20")));
            weak = r;
            bool started = false;
            r->setStartedBlock([&started] { started = true; });
            setBlock(r);
            r->startAsynchronous();
            EXPECT_TRUE(VNTest::waitUntil([&] { return started; })) << name << ": never started";
            r->clearDelegatesAndCancel();  // no block runs after it, the started one neither
            EXPECT_TRUE(VNTest::waitUntil([&] { return r->isFinished(); })) << name << ": never finished";
        }
        EXPECT_TRUE(VNTest::waitUntil([&] { return weak.expired(); }, 5000)) << name;
    }
}

namespace {
struct Indicator : NRProgressDelegate {
    double max = 0, value = 0;
    qint64 received = 0, sent = 0, downloadSize = 0, uploadSize = 0;
    void setMaxValue(double v) override { max = v; }
    void setDoubleValue(double v) override { value = v; }
    void didReceiveBytes(NRHTTPRequest *, qint64 n) override { received += n; }
    void didSendBytes(NRHTTPRequest *, qint64 n) override { sent += n; }
    void incrementDownloadSizeBy(NRHTTPRequest *, qint64 n) override { downloadSize += n; }
    void incrementUploadSizeBy(NRHTTPRequest *, qint64 n) override { uploadSize += n; }
};
}  // namespace

TEST(Request, ProgressDelegates) {
    auto down = std::make_shared<Indicator>();
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=1500000")));
    r->setDownloadProgressDelegate(down);
    run(r);
    EXPECT_EQ(down->max, 1.0);
    EXPECT_EQ(down->value, 1.0);
    EXPECT_EQ(down->received, 1500000);
    EXPECT_EQ(down->downloadSize, 1500000);

    auto up = std::make_shared<Indicator>();
    auto put = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    put->setRequestMethod(QStringLiteral("PUT"));
    put->setPostBody(pattern(3000000));
    put->setUploadProgressDelegate(up);
    run(put);
    EXPECT_EQ(up->value, 1.0);
    EXPECT_EQ(up->sent, up->uploadSize);
    EXPECT_GT(up->sent, 0);

    // A delegate gone before the callbacks run is simply skipped.
    auto gone = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=1000")));
    {
        auto shortLived = std::make_shared<Indicator>();
        gone->setDownloadProgressDelegate(shortLived);
    }
    EXPECT_EQ(run(gone)->finished, 1);
}

TEST(Request, DataBlockTakesTheBody) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=300000")));
    QByteArray received;
    r->setDataReceivedBlock([&](const QByteArray &piece) { received += piece; });
    run(r);
    EXPECT_EQ(received, pattern(300000));
    EXPECT_TRUE(r->responseData().isEmpty());
}

TEST(Request, StreamedUploadAndItsProgress) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/body.bin");
    const QByteArray body = pattern(6 * 1024 * 1024 + 3);
    ASSERT_TRUE(VNTest::writeFile(path, body));
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->setRequestMethod(QStringLiteral("PUT"));
    r->setShouldStreamPostDataFromDisk(true);
    r->setPostBodyFilePath(path);
    qint64 sizeGrowth = 0, sent = 0;
    qint64 reportedTotal = 0;
    r->setUploadSizeIncrementedBlock([&](qint64 amount) { sizeGrowth += amount; });
    r->setBytesSentBlock([&](qint64 amount, qint64 total) {
        sent += amount;
        reportedTotal = total;
    });
    run(r);
    const QJsonObject e = echoOf(r);
    EXPECT_EQ(e[QStringLiteral("method")].toString(), QStringLiteral("PUT"));
    EXPECT_EQ(e[QStringLiteral("length")].toInt(), body.size());
    EXPECT_EQ(e[QStringLiteral("sha256")].toString(),
              QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(r->postLength(), body.size());
    EXPECT_EQ(reportedTotal, body.size());
    // Whatever went out in the first buffer is taken off the expected size:
    // what is reported sent always adds up to the expected size.
    EXPECT_EQ(sent, sizeGrowth);
    EXPECT_TRUE(QFile::exists(path));  // the caller's body file stays
}

TEST(Request, DownloadProgressAddsUp) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=2000000")));
    qint64 grown = 0, received = 0;
    r->setDownloadSizeIncrementedBlock([&](qint64 a) { grown += a; });
    r->setBytesReceivedBlock([&](qint64 a, qint64) { received += a; });
    run(r);
    EXPECT_EQ(grown, 2000000);
    EXPECT_EQ(received, 2000000);

    auto unknown = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/nolength?n=5000")));
    std::vector<qint64> reports;
    unknown->setBytesReceivedBlock([&](qint64 a, qint64) { reports.push_back(a); });
    run(unknown);
    EXPECT_EQ(reports, std::vector<qint64>{1});
}

TEST(Request, WithPersistenceSwitchedOffARequestOpensItsOwnConnection) {
    // A kept connection to Apache is at hand; the request opens its own and closes it.
    run(NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/hello.txt"))));
    auto own = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/hello.txt")));
    own->setShouldAttemptPersistentConnection(false);
    run(own);
    EXPECT_EQ(own->newConnectionCount(), 1);
    auto after = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/hello.txt")));
    run(after);
    EXPECT_EQ(after->responseStatusCode(), 200);
}

TEST(Request, InaccurateProgressIsOneUnit) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=500000")));
    r->setShowAccurateProgress(false);
    std::vector<qint64> received;
    r->setBytesReceivedBlock([&](qint64 a, qint64) { received.push_back(a); });
    run(r);
    EXPECT_EQ(received, std::vector<qint64>{1});
    EXPECT_EQ(r->responseData().size(), 500000);
}

TEST(Request, DelegateFailSelector) {
    Listener listener;
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/drop?n=1000&after=10")));
    r->setDelegate(&listener);
    r->setDidFailSelector("requestFailed");
    run(r);
    EXPECT_TRUE(listener.calls.contains(QStringLiteral("failed")));
    EXPECT_FALSE(listener.calls.join(QLatin1Char(',')).contains(QLatin1String("finished")));
}

#include "RequestTest.moc"
