// Single fetches against the fake: redirects, cookies across hosts, ETags,
// retry, downloads into files, stopping, time-outs and refused headers.
#include "FetchTestSupport.h"

#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/HTTPFetcher/HFHTTPFetcherService.h"
#include "DA/HTTPFetcher/HFRunLoop.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNTempDirectory.h"

#include <atomic>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

using namespace FetchTest;

TEST(Fetcher, BodiesMethodsAndStatuses) {
    auto get = run(HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/bytes?n=300000"))));
    EXPECT_EQ(get->calls, 1);
    EXPECT_EQ(get->data.size(), 300000);
    EXPECT_FALSE(get->error);

    // A body on a GET (or a GET override) makes a POST.
    auto post = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/echo")));
    post->updateRequest([](HFURLRequest &r) { r.setValue(QStringLiteral("GET"), QStringLiteral("X-HTTP-Method-Override")); });
    post->setPostData("hello");
    auto echoed = json(run(post)->data);
    EXPECT_EQ(echoed[QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_EQ(echoed[QStringLiteral("body")].toString(), QStringLiteral("hello"));

    // Statuses of 300 and more are errors carrying the body; header names
    // come in the canonical case.
    auto failing = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/status?code=404&body=gone")));
    auto result = run(failing);
    ASSERT_TRUE(result->error);
    EXPECT_EQ(result->error->domain(), HFErrors::statusDomain());
    EXPECT_EQ(result->error->code(), 404);
    EXPECT_EQ(result->error->userInfo().value(QStringLiteral("data")).toByteArray(), QByteArray("gone"));
    EXPECT_EQ(result->data, QByteArray("gone"));
    EXPECT_TRUE(failing->responseHeaders().contains(QStringLiteral("Content-Type")));

    // A connection that cannot be made fails with a URL-loading error.
    auto refused = run(HFHTTPFetcher::fetcherWithURL(QUrl(QStringLiteral("http://127.0.0.1:1/"))));
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->domain(), HFErrors::urlDomain());
}

TEST(Fetcher, RedirectRules) {
    // Same origin: the request's headers go along.
    auto same = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/redirect?to=/echo")));
    same->updateRequest([](HFURLRequest &r) { r.setValue(QStringLiteral("Bearer t0ken"), QStringLiteral("Authorization")); });
    auto echoed = json(run(same)->data);
    EXPECT_EQ(echoed[QStringLiteral("headers")].toObject()[QStringLiteral("Authorization")].toString(), QStringLiteral("Bearer t0ken"));

    // Another origin: the authorization stays behind.
    const QString elsewhere = fake(QStringLiteral("/echo"), QStringLiteral("localhost")).toString();
    auto cross = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/redirect?to=") + QString::fromLatin1(QUrl::toPercentEncoding(elsewhere))));
    cross->updateRequest([](HFURLRequest &r) { r.setValue(QStringLiteral("Bearer t0ken"), QStringLiteral("Authorization")); });
    echoed = json(run(cross)->data);
    EXPECT_EQ(echoed[QStringLiteral("method")].toString(), QStringLiteral("GET"));
    EXPECT_FALSE(echoed[QStringLiteral("headers")].toObject().contains(QStringLiteral("Authorization")));
    EXPECT_EQ(cross->mutableRequest().url().host(), QStringLiteral("localhost"));

    // Only http and https targets.
    auto ftp = run(HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/redirect?to=ftp://127.0.0.1/x"))));
    ASSERT_TRUE(ftp->error);
    EXPECT_EQ(ftp->error->code(), HFErrors::URLUnsupportedURL);

    // A redirect loop ends.
    auto loop = run(HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/redirect?to=self"))));
    ASSERT_TRUE(loop->error);
    EXPECT_EQ(loop->error->code(), HFErrors::URLHTTPTooManyRedirects);
}

TEST(Fetcher, CookiesStayWithTheirHost) {
    auto service = HFHTTPFetcherService::make();
    const QString t = tag();
    // 127.0.0.1 sets a host cookie and a cookie for another domain (refused).
    run(service->fetcherWithURL(fake(QStringLiteral("/setcookie?name=site&value=") + t)));
    run(service->fetcherWithURL(fake(QStringLiteral("/setcookie?name=foreign&value=x&domain=example.com"))));
    auto back = json(run(service->fetcherWithURL(fake(QStringLiteral("/echo"))))->data);
    EXPECT_EQ(back[QStringLiteral("cookie")].toString(), QStringLiteral("site=") + t);
    // The other host name gets none of them.
    auto other = json(run(service->fetcherWithURL(fake(QStringLiteral("/echo"), QStringLiteral("localhost"))))->data);
    EXPECT_EQ(other[QStringLiteral("cookie")].toString(), QString());
    // A redirect to the other host drops the first host's cookies.
    const QString target = fake(QStringLiteral("/echo"), QStringLiteral("localhost")).toString();
    auto redirected = json(run(service->fetcherWithURL(
        fake(QStringLiteral("/redirect?to=") + QString::fromLatin1(QUrl::toPercentEncoding(target)))))->data);
    EXPECT_EQ(redirected[QStringLiteral("cookie")].toString(), QString());
    // Method 3: neither sent nor stored.
    auto none = service->fetcherWithURL(fake(QStringLiteral("/setcookie?name=nostore&value=1")));
    none->setCookieStorageMethod(HFHTTPFetcher::NoCookieStorage);
    EXPECT_EQ(json(run(none)->data)[QStringLiteral("cookie")].toString(), QString());
    EXPECT_EQ(service->fetchHistory()->cookieJar()->cookies().size(), 1);
}

TEST(Fetcher, ETagAnswersWithAndWithoutCachedBody) {
    for (bool cacheBodies : {false, true}) {
        auto service = HFHTTPFetcherService::make();
        service->setShouldRememberETags(true);
        service->setShouldCacheETaggedData(cacheBodies);
        const QUrl url = fake(QStringLiteral("/etag?tag=") + tag());
        auto first = run(service->fetcherWithURL(url));
        EXPECT_FALSE(first->error);
        auto second = service->fetcherWithURL(url);
        auto result = run(second);
        EXPECT_FALSE(second->mutableRequest().valueForHTTPHeaderField(QStringLiteral("If-None-Match")).isEmpty());
        if (cacheBodies) {
            EXPECT_FALSE(result->error);
            EXPECT_EQ(result->data, first->data);
        } else {
            EXPECT_EQ(code(result->error), 304);
        }
    }
}

TEST(Fetcher, RetriesUnavailableWithBackOff) {
    HFRunLoop::setTimerScaleForTesting(0.01);
    QStringList notifications;
    HFHTTPFetcher::setNotificationObserver([&](const QString &name, HFHTTPFetcher *) { notifications << name; });
    auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/script?statuses=503,503,200&key=") + tag()));
    fetcher->setRetryEnabled(true);
    QList<double> waits;
    fetcher->setRetryBlock([&](bool suggested, const VNErrorPtr &error) {
        waits << fetcher->nextRetryInterval();
        EXPECT_EQ(error->code(), 503);
        return suggested;
    });
    auto result = run(fetcher);
    HFHTTPFetcher::setNotificationObserver(nullptr);
    HFRunLoop::setTimerScaleForTesting(1.0);
    EXPECT_EQ(result->calls, 1);
    EXPECT_FALSE(result->error);
    EXPECT_EQ(result->data, QByteArray("call 3 status 200"));
    EXPECT_EQ(fetcher->retryCount(), 2u);
    ASSERT_EQ(waits.size(), 2);
    EXPECT_GE(waits[0], 1.0);
    EXPECT_LE(waits[0], 2.0);
    EXPECT_DOUBLE_EQ(waits[1], waits[0] * 2);
    EXPECT_EQ(notifications.count(QStringLiteral("kHFHTTPFetcherRetryDelayStartedNotification")), 2);
    EXPECT_EQ(notifications.count(QStringLiteral("kHFHTTPFetcherStartedNotification")),
              notifications.count(QStringLiteral("kHFHTTPFetcherStoppedNotification")));

    // 500 is not worth a retry.
    auto hard = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/script?statuses=500,200&key=") + tag()));
    hard->setRetryEnabled(true);
    EXPECT_EQ(code(run(hard)->error), 500);
    EXPECT_EQ(hard->retryCount(), 0u);
}

TEST(Fetcher, DownloadReplacesFileOnlyOnSuccess) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/photo.jpg");
    VNTest::writeFile(path, "old contents");

    auto failing = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/status?code=500")));
    failing->setDownloadPath(path);
    auto failed = run(failing);
    EXPECT_EQ(code(failed->error), 500);
    EXPECT_EQ(VNTest::readFile(path), QByteArray("old contents"));
    EXPECT_TRUE(failing->temporaryDownloadPath().isEmpty());

    auto good = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/bytes?n=700000")));
    good->setDownloadPath(path);
    qint64 progress = 0;
    good->setReceivedDataBlock([&](const QByteArray &soFar) {
        EXPECT_TRUE(soFar.isEmpty());  // the body goes to the file, not to memory
        progress = good->downloadedLength();
    });
    auto ok = run(good);
    EXPECT_FALSE(ok->error);
    EXPECT_TRUE(ok->data.isEmpty());
    EXPECT_EQ(QFileInfo(path).size(), 700000);
    EXPECT_EQ(progress, 700000);
}

// A file the caller gives takes the body in place of memory: each reply
// starts it afresh, and the in-memory bound does not apply.
TEST(Fetcher, AFileGivenTakesTheBodyInsteadOfMemory) {
    struct Row {
        const char *name;
        bool fileGiven;
        qint64 bytes;  // of the reply
        bool retried;  // a 503 first, then "call 2 status 200"
    };
    const Row rows[] = {
        {"a file given", true, 300000, false},
        {"no file", false, 300000, false},
        {"a body past the in-memory bound", true, HFHTTPFetcher::maximumDownloadedDataSize + 1, false},
        {"a reply retried", true, 0, true},
    };
    auto dir = VNTest::makeTempDir();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray second("call 2 status 200");
        const QString path = row.retried ? QStringLiteral("/script?statuses=503,200&key=") + tag()
                                         : QStringLiteral("/bytes?n=%1").arg(row.bytes);
        auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(path));
        auto file = std::make_shared<QFile>(dir->filePath(QString::fromLatin1(row.name)));
        ASSERT_TRUE(file->open(QIODevice::WriteOnly));
        if (row.fileGiven)
            fetcher->setDownloadFileHandle(file);
        if (row.retried) {
            fetcher->setRetryEnabled(true);
            fetcher->setMinRetryInterval(0.01);
        }
        QByteArray soFar("none yet");
        fetcher->setReceivedDataBlock([&](const QByteArray &data) { soFar = data; });
        auto result = run(fetcher, 60000);
        EXPECT_FALSE(result->error) << (result->error ? result->error->localizedDescription().toStdString() : "");
        const qint64 body = row.retried ? second.size() : row.bytes;
        EXPECT_EQ(result->data.size(), row.fileGiven ? 0 : body);
        EXPECT_EQ(soFar.size(), row.fileGiven ? 0 : body);
        EXPECT_EQ(fetcher->downloadedLength(), body);
        file->flush();
        const QByteArray written = VNTest::readFile(file->fileName());
        EXPECT_EQ(written.size(), row.fileGiven ? body : 0);
        if (row.retried)
            EXPECT_EQ(written, second);
        // The caller's file stays set and open.
        EXPECT_EQ(fetcher->downloadFileHandle(), row.fileGiven ? file : nullptr);
        EXPECT_TRUE(file->isOpen());
    }
}

// A download finished on another file system is copied beside its target
// under a name of its own, then renamed: a file the user keeps there under
// any name stays as it was.
TEST(Fetcher, ADownloadPutInPlaceLeavesTheFilesBesideItAlone) {
    struct Row {
        const char *name;
        bool otherFileSystem;  // the temporary folder on another file system than the target
    };
    const Row rows[] = {{"same file system", false}, {"across file systems", true}};
    const QString previous = VNTempDirectory::path();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto target = VNTest::makeTempDir();
        std::unique_ptr<QTemporaryDir> temporary =
            row.otherFileSystem ? std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/varnello-test-XXXXXX"))
                                : VNTest::makeTempDir();
        ASSERT_TRUE(temporary->isValid());
        struct stat a {}, b {};
        ASSERT_EQ(::stat(QFile::encodeName(target->path()).constData(), &a), 0);
        ASSERT_EQ(::stat(QFile::encodeName(temporary->path()).constData(), &b), 0);
        if ((a.st_dev != b.st_dev) != row.otherFileSystem)
            GTEST_SKIP() << "this machine has no second file system at /dev/shm";
        VNTempDirectory::setPath(temporary->path());

        const QString path = target->filePath(QStringLiteral("photo.jpg"));
        const QStringList beside = {path + QStringLiteral(".hfpart"), path + QStringLiteral(".hfpart-000000")};
        for (const QString &name : beside)
            VNTest::writeFile(name, "the user's own");
        auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/bytes?n=300000")));
        fetcher->setDownloadPath(path);
        auto result = run(fetcher);
        VNTempDirectory::setPath(previous);
        EXPECT_FALSE(result->error) << (result->error ? result->error->localizedDescription().toStdString() : "");
        EXPECT_EQ(QFileInfo(path).size(), 300000);
        for (const QString &name : beside)
            EXPECT_EQ(VNTest::readFile(name), QByteArray("the user's own")) << name.toStdString();
        // Nothing else is left beside it, nor in the temporary folder.
        EXPECT_EQ(QDir(target->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
        EXPECT_TRUE(QDir(temporary->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

TEST(Fetcher, NoCallbackAfterStop) {
    const QString key = tag();
    auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/hold?key=") + key));
    int calls = 0;
    fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &) { ++calls; });
    EXPECT_TRUE(fetcher->isFetching());
    VNTest::spin(100);
    fetcher->stopFetching();
    EXPECT_FALSE(fetcher->isFetching());
    run(HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/release?key=") + key)));
    VNTest::spin(200);
    EXPECT_EQ(calls, 0);

    // Also when stopped from inside a progress callback.
    auto trickle = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/trickle?n=50&delay=0.01")));
    trickle->setReceivedDataBlock([&](const QByteArray &) { trickle->stopFetching(); });
    trickle->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &) { ++calls; });
    VNTest::spin(400);
    EXPECT_EQ(calls, 0);
}

// A block that stops its own fetch runs to its end with what it holds (the
// stop lets go of the fetcher's blocks, the running one among them). One row
// per block; each holds the only reference to a value it reads after the stop.
TEST(Fetcher, ABlockThatStopsItsFetchKeepsWhatItHoldsToItsEnd) {
    enum class Kind { ReceivedData, SentData, Retry };
    struct Row {
        const char *name;
        Kind kind;
        const char *path;
    };
    const Row rows[] = {
        {"received data", Kind::ReceivedData, "/trickle?n=50&delay=0.01"},
        {"sent data", Kind::SentData, "/echo"},
        {"retry", Kind::Retry, "/status?code=503"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QLatin1String(row.path)));
        auto held = std::make_shared<int>(7);
        std::weak_ptr<int> heldWatch = held;
        int seenAfterStop = 0;
        int runs = 0;
        // What the block does: stop, then read what it holds.
        std::function<void()> stopThenRead = [&fetcher, &seenAfterStop, &runs, &heldWatch, held = std::move(held)] {
            ++runs;
            fetcher->stopFetching();
            seenAfterStop = heldWatch.expired() ? -1 : *held;
        };
        switch (row.kind) {
        case Kind::ReceivedData:
            fetcher->setReceivedDataBlock([stopThenRead](const QByteArray &) { stopThenRead(); });
            break;
        case Kind::SentData:
            fetcher->setPostData(QByteArray(300000, 'x'));
            fetcher->setSentDataBlock([stopThenRead](qint64, qint64, qint64) { stopThenRead(); });
            break;
        case Kind::Retry:
            fetcher->setRetryEnabled(true);
            fetcher->setRetryBlock([stopThenRead](bool, const VNErrorPtr &) {
                stopThenRead();
                return false;
            });
            break;
        }
        stopThenRead = nullptr;  // the block's copy is now the only one
        int calls = 0;
        fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &) { ++calls; });
        EXPECT_TRUE(VNTest::waitUntil([&] { return runs > 0; }, 15000));
        VNTest::spin(100);
        EXPECT_EQ(runs, 1);
        EXPECT_EQ(seenAfterStop, 7);
        EXPECT_EQ(calls, 0);
    }
}

TEST(Fetcher, IdleTimeOutAndRefusedHeaders) {
    // No byte for the time-out: a timed-out error (not a limit on the whole
    // fetch, which the trickle shows).
    HFURLRequest stalled(fake(QStringLiteral("/stall")), 1.0);
    auto result = run(HFHTTPFetcher::fetcherWithRequest(stalled), 15000);
    EXPECT_EQ(code(result->error), HFErrors::URLTimedOut);
    HFURLRequest slow(fake(QStringLiteral("/trickle?n=8&delay=0.3")), 1.0);
    auto slowResult = run(HFHTTPFetcher::fetcherWithRequest(slow), 15000);
    EXPECT_FALSE(slowResult->error);
    EXPECT_EQ(slowResult->data.size(), 8);

    // Header text that would split the request is refused.
    HFURLRequest request(fake(QStringLiteral("/echo")));
    EXPECT_FALSE(request.setValue(QStringLiteral("a\r\nX-Injected: 1"), QStringLiteral("X-Test")));
    EXPECT_FALSE(request.setValue(QStringLiteral("a"), QStringLiteral("X-Te\nst")));
    EXPECT_FALSE(request.setValue(QString(QStringLiteral("a")) + QChar(0), QStringLiteral("X-Test")));
    EXPECT_TRUE(request.setValue(QStringLiteral("fine"), QStringLiteral("X-Test")));
    auto echoed = json(run(HFHTTPFetcher::fetcherWithRequest(request))->data);
    EXPECT_EQ(echoed[QStringLiteral("headers")].toObject()[QStringLiteral("X-Test")].toString(), QStringLiteral("fine"));
    EXPECT_FALSE(echoed[QStringLiteral("headers")].toObject().contains(QStringLiteral("X-Injected")));
}

TEST(Fetcher, BeginningTwiceFailsAndCallbacksComeOnce) {
    auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/bytes?n=10")));
    int first = 0, second = 0;
    EXPECT_TRUE(fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &) { ++first; }));
    VNErrorPtr error;
    EXPECT_FALSE(fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &e) { ++second; error = e; }));
    EXPECT_EQ(second, 1);
    EXPECT_EQ(code(error), -1);
    ASSERT_TRUE(VNTest::waitUntil([&] { return !fetcher->isFetching(); }));
    VNTest::spin(30);
    EXPECT_EQ(first, 0);  // its callbacks were replaced, then released
}

TEST(Fetcher, ChallengesAnsweredWithTheCredentialUpToThreeTimes) {
    struct Case {
        std::optional<HFCredential> credential;
        qint64 error;
        int requests;
    } cases[] = {
        {HFCredential{QStringLiteral("u"), QStringLiteral("p")}, 0, 2},
        {HFCredential{QStringLiteral("u"), QStringLiteral("wrong")}, -2, 4},
        {std::nullopt, -2, 1},
    };
    for (const auto &c : cases) {
        const QString t = tag();
        auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/auth?t=") + t));
        fetcher->setCredential(c.credential);
        auto result = run(fetcher);
        EXPECT_EQ(result->calls, 1);
        EXPECT_EQ(code(result->error), c.error);
        if (c.error)
            EXPECT_EQ(result->error->domain(), HFErrors::fetcherDomain());
        EXPECT_EQ(requestsMatching(t).size(), c.requests);
    }
}

TEST(Fetcher, DelegateQueueGetsTheCallbacks) {
    VNOperationQueue queue(QStringLiteral("fetch callbacks"));
    queue.setMaxConcurrentOperationCount(1);
    for (const QUrl &url : {fake(QStringLiteral("/bytes?n=10")), QUrl()}) {
        auto fetcher = HFHTTPFetcher::fetcherWithURL(url);
        fetcher->setDelegateQueue(&queue);
        std::atomic<bool> onMain{true};
        std::atomic<int> calls{0};
        fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &) {
            onMain = VNDispatch::isMainThread();
            ++calls;
        });
        EXPECT_TRUE(VNTest::waitUntil([&] { return calls.load() == 1; })) << url.toString().toStdString();
        EXPECT_FALSE(onMain.load());
        // The fetcher holds the queue by a plain pointer: a fetch that has
        // not ended (a slow machine) stops before the queue goes.
        fetcher->stopFetching();
        queue.waitUntilAllOperationsAreFinished();
    }
}

// Apache, the second server family: TLS set up as the request engine does
// (its test CA and host names), Basic challenges, and a redirect from https
// down to http that is followed as https, so nothing goes out in clear.
TEST(Fetcher, ApacheTLSChallengesAndNoDowngrade) {
    const QJsonObject apache = VNTest::peerState(QStringLiteral("apache"));
    NRHTTPRequest::setTestCertificateAuthorityFile(apache[QStringLiteral("ca_file")].toString());
    NRHTTPRequest::setTestHostsMappedToLoopback({QStringLiteral("secure.varnello.test"), QStringLiteral("wrong.varnello.test")});
    const int https = apache[QStringLiteral("https_port")].toInt();
    auto secure = [&](const QString &host, const QString &path) {
        return QUrl(QStringLiteral("https://%1:%2%3").arg(host).arg(https).arg(path));
    };

    auto ok = run(HFHTTPFetcher::fetcherWithURL(secure(QStringLiteral("secure.varnello.test"), QStringLiteral("/files/hello.txt"))));
    EXPECT_FALSE(ok->error);
    EXPECT_FALSE(ok->data.isEmpty());
    auto wrongHost = run(HFHTTPFetcher::fetcherWithURL(secure(QStringLiteral("wrong.varnello.test"), QStringLiteral("/files/hello.txt"))));
    EXPECT_EQ(code(wrongHost->error), HFErrors::URLSecureConnectionFailed);

    auto downgrade = HFHTTPFetcher::fetcherWithURL(secure(QStringLiteral("secure.varnello.test"), QStringLiteral("/downgrade")));
    downgrade->setCredential(HFCredential{apache[QStringLiteral("basic_user")].toString(), apache[QStringLiteral("basic_password")].toString()});
    auto result = run(downgrade);
    EXPECT_EQ(downgrade->mutableRequest().url().scheme(), QStringLiteral("https"));
    EXPECT_EQ(code(result->error), HFErrors::URLSecureConnectionFailed);

    const QUrl basic(QStringLiteral("http://127.0.0.1:%1/basic/hello.txt").arg(apache[QStringLiteral("port")].toInt()));
    auto challenged = HFHTTPFetcher::fetcherWithURL(basic);
    challenged->setCredential(HFCredential{apache[QStringLiteral("basic_user")].toString(), apache[QStringLiteral("basic_password")].toString()});
    auto answered = run(challenged);
    EXPECT_FALSE(answered->error);
    EXPECT_EQ(challenged->statusCode(), 200);
    NRHTTPRequest::setTestCertificateAuthorityFile({});
    NRHTTPRequest::setTestHostsMappedToLoopback({});
}

namespace {

// A transfer that never touches the network: it answers 200 with a fixed
// body from the fetch's loop.
class StandInConnection : public HFURLConnection {
public:
    StandInConnection(const HFURLRequest &request, std::shared_ptr<HFURLConnectionDelegate> delegate, HFRunLoop loop)
        : HFURLConnection(request, delegate, loop, 0), m_delegate(delegate) {}
    void begin(HFRunLoop loop) {
        auto self = std::static_pointer_cast<StandInConnection>(shared_from_this());
        loop.post([self] {
            auto delegate = self->m_delegate.lock();
            if (!delegate || self->m_stopped)
                return;
            const QUrl url = self->currentRequest().url();
            delegate->connectionDidReceiveResponse(self.get(), std::make_shared<HFURLResponse>(url, 200, QMap<QString, QString>()));
            delegate->connectionDidReceiveData(self.get(), "from the stand-in");
            delegate->connectionDidFinishLoading(self.get());
        });
    }
    void cancel() override { m_stopped = true; }

private:
    std::weak_ptr<HFURLConnectionDelegate> m_delegate;
    bool m_stopped = false;
};

}  // namespace

TEST(Fetcher, AStandInTransferRunsTheRequest) {
    struct Row {
        const char *name;
        bool makes;  // the stand-in makes a connection
        const char *body;
        qint64 code;
    } rows[] = {{"a stand-in answering", true, "from the stand-in", 0}, {"no connection made", false, "", -1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        HFHTTPFetcher::setConnectionClass([&row](const HFURLRequest &request, std::shared_ptr<HFURLConnectionDelegate> delegate,
                                                 HFRunLoop loop, qint64) -> std::shared_ptr<HFURLConnection> {
            if (!row.makes)
                return nullptr;
            auto connection = std::make_shared<StandInConnection>(request, delegate, loop);
            connection->begin(loop);
            return connection;
        });
        auto fetcher = HFHTTPFetcher::fetcherWithURL(QUrl(QStringLiteral("http://stand-in.invalid/x")));
        fetcher->setCommentWithFormat(QStringLiteral("page %1 of %2"), 1, 2);
        EXPECT_EQ(fetcher->comment(), QStringLiteral("page 1 of 2"));
        const auto result = run(fetcher);
        HFHTTPFetcher::setConnectionClass(nullptr);
        EXPECT_EQ(result->calls, 1);
        EXPECT_EQ(result->data, QByteArray(row.body));
        EXPECT_EQ(code(result->error), row.code);
    }
}
