// A web page's resources on its own origin and on another one (the engine's
// fake and the fetchers' fake, two loopback ports): the page's credentials
// go only to its own origin, the resources report to the page's delegates,
// and a cancel while they load is the page's answer.
#include "Net/NRDownloadCache.h"
#include "Net/NRProgressDelegate.h"
#include "Net/NRRequestQueue.h"
#include "Net/NRWebPageRequest.h"
#include "Net/NetTestSupport.h"
#include "WebPageTestSupport.h"
#include "Platform/VNDispatch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QUuid>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

using namespace WebPageTest;

namespace {

// The echoes inlined as data URLs into a rewritten page, by the path asked.
QMap<QString, QJsonObject> inlinedEchoes(const QString &page) {
    QMap<QString, QJsonObject> echoes;
    static const QRegularExpression data(QStringLiteral("src=\"data:[^;]*;base64,([^\"]*)\""));
    for (auto it = data.globalMatch(page); it.hasNext();) {
        const QJsonObject echo = QJsonDocument::fromJson(QByteArray::fromBase64(it.next().captured(1).toLatin1())).object();
        echoes.insert(echo[QStringLiteral("path")].toString(), echo);
    }
    return echoes;
}

QString header(const QJsonObject &echo, const QString &name) {
    const QJsonObject headers = echo[QStringLiteral("headers")].toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toString();
    return QString();
}

class Recorder : public QObject {
    Q_OBJECT
public slots:
    void requestStarted(NRHTTPRequest *request) { started << request->url().toString(); }
    void requestFinished(NRHTTPRequest *request) { finished << request->url().toString(); }
    void requestFailed(NRHTTPRequest *request) { failed << request->url().toString(); }
    void pageDone(NRHTTPRequest *request) { pageEnds << request->url().toString(); }
    void pageFailed(NRHTTPRequest *request) { pageEnds << request->url().toString(); }
    void requestRedirected(NRHTTPRequest *request) { redirected << request->originalURL().toString(); }

public:
    QStringList started, finished, failed, pageEnds, redirected;
};

struct Progress : NRProgressDelegate {
    void didReceiveBytes(NRHTTPRequest *request, qint64 bytes) override {
        if (bytes > 0)
            from << request->url().toString();
    }
    void setDoubleValue(double value) override { values << value; }
    QStringList from;
    QList<double> values;
};

}  // namespace

TEST(WebPageResources, CredentialsOfThePageGoOnlyToItsOwnOrigin) {
    const QString other = otherOrigin() + QStringLiteral("/echo?other");
    auto page = NRWebPageRequest::requestWithURL(pageWith({QStringLiteral("/echo?same"), other}));
    page->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Basic c2VjcmV0"));
    page->addRequestHeader(QStringLiteral("Cookie"), QStringLiteral("sid=s3cret"));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    auto outcome = NetTest::run(page);
    ASSERT_EQ(outcome->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    const auto echoes = inlinedEchoes(page->responseString());
    ASSERT_TRUE(echoes.contains("/echo?same") && echoes.contains("/echo?other")) << page->responseString().toStdString();
    EXPECT_EQ(header(echoes["/echo?same"], "Authorization"), "Basic c2VjcmV0");
    EXPECT_TRUE(header(echoes["/echo?same"], "Cookie").contains("sid=s3cret"));
    EXPECT_TRUE(header(echoes["/echo?other"], "Authorization").isNull());
    EXPECT_FALSE(header(echoes["/echo?other"], "Cookie").contains("s3cret"));
}

// Every resource of the page's tree reports to the page's delegates, those
// of its style sheets too.
TEST(WebPageResources, ResourcesReportToThePagesDelegates) {
    const QString image = NetTest::fake(QStringLiteral("/bytes?n=5000")).toString();
    const struct {
        const char *name;
        QUrl url;
    } rows[] = {{"the page's own image", pageWith({image})},
                {"an image of its style sheet", pageWith({}, {sheetWith({image}).toString(QUrl::FullyEncoded)})}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto page = NRWebPageRequest::requestWithURL(row.url);
        Recorder recorder;
        auto progress = std::make_shared<Progress>();
        page->setDelegate(&recorder);
        page->setDownloadProgressDelegate(progress);
        auto outcome = NetTest::run(page);
        EXPECT_EQ(outcome->finished, 1) << errorText(page);
        EXPECT_TRUE(recorder.started.contains(image)) << recorder.started.join(' ').toStdString();
        EXPECT_EQ(recorder.finished.count(image), 1);
        EXPECT_EQ(recorder.finished.count(page->url().toString()), 1);
        EXPECT_TRUE(progress->from.contains(image));
    }
}

TEST(WebPageResources, CancelWhileResourcesLoadReportsCancelled) {
    const QString key = QStringLiteral("page-") + QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString held = otherOrigin() + QStringLiteral("/hold?key=") + key;
    auto page = NRWebPageRequest::requestWithURL(pageWith({held}));
    NetTest::Outcome outcome;
    page->setCompletionBlock([&] { ++outcome.finished; });
    page->setFailedBlock([&] { ++outcome.failed; });
    page->startAsynchronous();
    // The other origin has the resource's request and holds its answer.
    const bool resourceStarted = VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });
    page->cancel();
    const bool ended = VNTest::waitUntil([&] { return outcome.done(); }, 10000);
    NetTest::run(NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/release?key=") + key)));
    ASSERT_TRUE(resourceStarted);
    ASSERT_TRUE(ended) << "the page went on waiting for its resource";
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.finished, 0);
    EXPECT_EQ(NetTest::errorCode(page), NRHTTPRequest::RequestCancelledErrorType);
}

// Once the page's delegates are cleared, nothing of the page or of its
// resources in flight reaches them (each resource still ends, cancelled).
TEST(WebPageResources, NothingReachesTheDelegatesOnceCleared) {
    const QString key = uniqueKey(QStringLiteral("cleared"));
    auto page = NRWebPageRequest::requestWithURL(pageWith({heldURL(key), heldURL(key + QStringLiteral("-2"))}));
    auto recorder = std::make_unique<Recorder>();
    auto progress = std::make_shared<Progress>();
    page->setDelegate(recorder.get());
    page->setDownloadProgressDelegate(progress);
    page->startAsynchronous();
    const bool resourcesStarted = VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });
    const auto queue = page->externalResourceQueue();
    const auto resources = queue ? queue->operations() : std::vector<std::shared_ptr<NRHTTPRequest>>{};
    recorder->started.clear();
    progress->values.clear();
    progress->from.clear();
    page->clearDelegatesAndCancel();
    // Whatever a message would reach from here on is recorded (the
    // delegate goes only once every resource has ended).
    const bool ended = VNTest::waitUntil([&] {
        return page->isFinished() &&
               std::all_of(resources.begin(), resources.end(), [](const auto &r) { return r->isFinished(); });
    }, 10000);
    NRNetworkThread::serveEventsUntil([] { return true; });
    release(key);
    release(key + QStringLiteral("-2"));
    EXPECT_TRUE(resourcesStarted);
    EXPECT_FALSE(resources.empty());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(recorder->started.isEmpty()) << recorder->started.join(' ').toStdString();
    EXPECT_TRUE(recorder->finished.isEmpty()) << recorder->finished.join(' ').toStdString();
    EXPECT_TRUE(recorder->failed.isEmpty()) << recorder->failed.join(' ').toStdString();
    EXPECT_TRUE(progress->from.isEmpty() && progress->values.isEmpty());
    EXPECT_EQ(NetTest::errorCode(page), NRHTTPRequest::RequestCancelledErrorType);
    recorder.reset();
    NRNetworkThread::serveEventsUntil([] { return true; });
}

// A delegate set on the page while its resources load hears the rest of
// them, as the page's own end.
TEST(WebPageResources, ADelegateSetWhileResourcesLoadHearsTheRest) {
    const QString key = uniqueKey(QStringLiteral("mid-page"));
    const QString held = heldURL(key);
    auto page = NRWebPageRequest::requestWithURL(pageWith({held}));
    NetTest::Outcome outcome;
    page->setCompletionBlock([&] { ++outcome.finished; });
    page->setFailedBlock([&] { ++outcome.failed; });
    page->startAsynchronous();
    const bool resourceStarted = VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });
    Recorder recorder;
    page->setDelegate(&recorder);
    release(key);
    EXPECT_TRUE(resourceStarted);
    EXPECT_TRUE(VNTest::waitUntil([&] { return outcome.done(); }, 15000));
    EXPECT_EQ(outcome.finished, 1) << errorText(page);
    EXPECT_EQ(recorder.finished, (QStringList{held, page->url().toString()})) << recorder.finished.join(' ').toStdString();
}

// The page ends without holding its lock: the network thread's status tick
// takes it (every transfer would wait for the rewrite), and the caller's
// progress delegate and the download cache are called without it.
TEST(WebPageResources, ThePageEndsWithoutHoldingItsLock) {
    // Tells whether another thread takes the page's lock (through any
    // locked accessor) within a few seconds; the threads are joined once
    // the page has ended.
    struct LockProbe {
        std::vector<std::thread> threads;
        QStringList held;
        void probe(const std::shared_ptr<NRHTTPRequest> &request, const QString &where) {
            auto taken = std::make_shared<std::promise<void>>();
            auto future = taken->get_future();
            threads.emplace_back([request, taken] {
                request->responseStatusCode();
                taken->set_value();
            });
            if (future.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
                held << where;
        }
        ~LockProbe() {
            for (auto &thread : threads)
                thread.join();
        }
    };
    struct ProbingProgress : NRProgressDelegate {
        LockProbe *probe = nullptr;
        std::weak_ptr<NRHTTPRequest> page;
        void setDoubleValue(double value) override {
            if (auto p = page.lock())
                probe->probe(p, QStringLiteral("progress %1").arg(value));
        }
    };
    struct ProbingCache : NRDownloadCache {
        LockProbe *probe = nullptr;
        std::weak_ptr<NRHTTPRequest> page;
        void storeResponseForRequest(const NRHTTPRequest &request, double maxAge) override {
            // On the main thread only: the network thread stores a reply
            // as it arrives, under the lock that is its own.
            if (auto p = page.lock(); p && p.get() == &request && VNDispatch::isMainThread())
                probe->probe(p, QStringLiteral("cache"));
            NRDownloadCache::storeResponseForRequest(request, maxAge);
        }
    };
    LockProbe probe;
    auto dir = VNTest::makeTempDir();
    auto page = NRWebPageRequest::requestWithURL(pageWith({QStringLiteral("/bytes?n=3000")}));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    auto progress = std::make_shared<ProbingProgress>();
    progress->probe = &probe;
    progress->page = page;
    auto cache = std::make_shared<ProbingCache>();
    EXPECT_FALSE(cache->setStoragePath(dir->path() + QStringLiteral("/cache")));
    cache->probe = &probe;
    cache->page = page;
    page->setDownloadProgressDelegate(progress);
    page->setDownloadCache(cache);
    const auto outcome = NetTest::run(page);
    EXPECT_EQ(outcome->finished, 1) << errorText(page);
    EXPECT_TRUE(page->responseString().contains(QStringLiteral("data:"))) << "not rewritten";
    EXPECT_TRUE(probe.held.isEmpty()) << "the lock was held at: " << probe.held.join(QStringLiteral(", ")).toStdString();
    EXPECT_FALSE(probe.threads.empty()) << "nothing was called at the page's end";
}

// A page whose cache falls back to its copy when a load fails, cancelled
// (by its caller, silenced, or by its page's queue) just as its end stores
// it in that cache on the main thread, while the network thread, cancelling
// it, asks the cache under the page's lock; many times over. Each page
// ends: a deadlock ends the process instead (the main thread is stuck).
TEST(WebPageResources, APageCancelledAsItIsCachedEnds) {
    enum Cancel { ByCaller, Silenced, ByItsPagesQueue };
    struct CancellingCache : NRDownloadCache {
        Cancel how = ByCaller;
        int cancels = 0;
        void storeResponseForRequest(const NRHTTPRequest &request, double maxAge) override {
            auto page = std::dynamic_pointer_cast<NRWebPageRequest>(const_cast<NRHTTPRequest &>(request).shared_from_this());
            const auto parent = page ? page->parentRequest() : nullptr;
            // The network thread stores each reply as it arrives: only a
            // page's end (on the main thread) is cancelled.
            if (page && VNDispatch::isMainThread() && (how == ByItsPagesQueue) == bool(parent)) {
                ++cancels;
                if (how == ByItsPagesQueue)
                    parent->externalResourceQueue()->cancelAllOperations();
                else if (how == Silenced)
                    page->clearDelegatesAndCancel();
                else
                    page->cancel();
            }
            NRDownloadCache::storeResponseForRequest(request, maxAge);
        }
    };
    std::promise<void> done;
    std::thread watchdog([ended = done.get_future()] {
        if (ended.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            std::fputs("APageCancelledAsItIsCachedEnds: stuck (the cache and a page wait for each other)\n", stderr);
            std::_Exit(1);
        }
    });
    const QString image = QStringLiteral("/bytes?n=300");
    const struct {
        const char *name;
        Cancel how;
        QUrl url;
    } rows[] = {{"cancelled by its caller", ByCaller, pageWith({image})},
                {"silenced", Silenced, pageWith({image})},
                {"a sheet cancelled by its page's queue", ByItsPagesQueue,
                 pageWith({}, {sheetWith({image}).toString(QUrl::FullyEncoded)})}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto dir = VNTest::makeTempDir();
        auto cache = std::make_shared<CancellingCache>();
        cache->how = row.how;
        EXPECT_FALSE(cache->setStoragePath(dir->path()));
        int ended = 0;
        for (int i = 0; i < 20; ++i) {
            auto page = NRWebPageRequest::requestWithURL(row.url);
            page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
            page->setDownloadCache(cache);
            page->setCachePolicy(NRFallbackToCacheIfLoadFailsCachePolicy);
            page->startAsynchronous();
            ended += VNTest::waitUntil([&] { return page->isFinished(); }, 20000);
        }
        EXPECT_EQ(ended, 20);
        EXPECT_EQ(cache->cancels, 20);
    }
    done.set_value();
    watchdog.join();
}

TEST(WebPageResources, ARewrittenPageThatCannotBeWrittenFailsThePage) {
    // The page's folder goes away while its resource loads: the rewritten
    // page cannot be saved, and the page fails instead of finishing.
    const QString key = QStringLiteral("unsaved-") + QString::number(QDateTime::currentMSecsSinceEpoch());
    auto dir = VNTest::makeTempDir();
    auto cache = std::make_shared<NRDownloadCache>();
    ASSERT_FALSE(cache->setStoragePath(dir->path() + QStringLiteral("/cache")));
    const QString folder = dir->path() + QStringLiteral("/page");
    QDir().mkpath(folder);
    auto page = NRWebPageRequest::requestWithURL(pageWith({otherOrigin() + QStringLiteral("/hold?key=") + key}));
    page->setDownloadCache(cache);
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithLocalPaths);
    page->setDownloadDestinationPath(folder + QStringLiteral("/index.html"));
    NetTest::Outcome outcome;
    page->setCompletionBlock([&] { ++outcome.finished; });
    page->setFailedBlock([&] { ++outcome.failed; });
    page->startAsynchronous();
    const bool resourceStarted = VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });
    const bool removed = QDir(folder).removeRecursively();
    NetTest::run(NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/release?key=") + key)));
    ASSERT_TRUE(resourceStarted && removed);
    ASSERT_TRUE(VNTest::waitUntil([&] { return outcome.done(); }, 15000));
    EXPECT_EQ(outcome.finished, 0);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(NetTest::errorCode(page), NRWebPageRequest::ParseOrWriteError);
}

TEST(WebPageResources, ThePagesDownloadProgressEndsComplete) {
    // The one resource stops half way (its failure passed over): its bytes
    // reach the page's indicator, its own fraction (a half) does not, and
    // the indicator ends at all done with the page.
    const QString stalled = NetTest::fake(QStringLiteral("/stall?n=2000&wait=2")).toString();
    auto page = NRWebPageRequest::requestWithURL(pageWith({stalled}));
    page->setShouldIgnoreExternalResourceErrors(false);
    auto progress = std::make_shared<Progress>();
    page->setDownloadProgressDelegate(progress);
    ASSERT_EQ(NetTest::run(page)->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    EXPECT_TRUE(progress->from.contains(stalled));
    ASSERT_FALSE(progress->values.isEmpty());
    EXPECT_FALSE(progress->values.contains(0.5));
    EXPECT_EQ(progress->values.last(), 1.0);
}

// The page's own finish and fail methods are the page's: its resources
// report under the standard names only.
TEST(WebPageResources, ThePagesOwnMethodsHearOnlyThePage) {
    const QString live = NetTest::fake(QStringLiteral("/bytes?n=300")).toString();
    const QString dead = QStringLiteral("http://127.0.0.1:1/dead.png");
    const struct {
        const char *name;
        bool customFinish;
        bool customFail;
        QStringList pageEnds;  // what the page's own methods heard
    } rows[] = {
        {"standard methods", false, false, {}},
        {"own finish method", true, false, {QStringLiteral("page")}},
        {"own fail method", false, true, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto page = NRWebPageRequest::requestWithURL(pageWith({live, dead}));
        page->setShouldIgnoreExternalResourceErrors(false);
        Recorder recorder;
        page->setDelegate(&recorder);
        if (row.customFinish)
            page->setDidFinishSelector("pageDone");
        if (row.customFail)
            page->setDidFailSelector("pageFailed");
        EXPECT_EQ(NetTest::run(page)->finished, 1) << errorText(page);
        QStringList expected;
        for (const QString &end : row.pageEnds)
            expected << (end == QLatin1String("page") ? page->url().toString() : end);
        EXPECT_EQ(recorder.pageEnds, expected) << recorder.pageEnds.join(' ').toStdString();
        EXPECT_EQ(recorder.finished.count(live), 1);
        EXPECT_EQ(recorder.failed.count(dead), 1);
        EXPECT_EQ(recorder.finished.count(page->url().toString()), row.customFinish ? 0 : 1);
    }
}

// A redirect found is no message a page passes on: its delegate hears of
// the page's own, not of a resource's.
TEST(WebPageResources, AResourcesRedirectIsNotPassedOn) {
    const QString image = NetTest::fake(QStringLiteral("/bytes?n=300")).toString();
    const QString movedImage = NetTest::fake(QStringLiteral("/redirect?to=%2Fbytes%3Fn%3D300")).toString();
    const struct {
        const char *name;
        bool pageMoved;
        bool imageMoved;
    } rows[] = {{"nothing moved", false, false}, {"page moved", true, false}, {"image moved", false, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QUrl direct = pageWith({row.imageMoved ? movedImage : image});
        QUrl url = direct;
        if (row.pageMoved) {
            url = NetTest::fake(QStringLiteral("/redirect"));
            url.setQuery(QStringLiteral("to=") + QString::fromLatin1(QUrl::toPercentEncoding(direct.toString())));
        }
        auto page = NRWebPageRequest::requestWithURL(url);
        Recorder recorder;
        page->setDelegate(&recorder);
        EXPECT_EQ(NetTest::run(page)->finished, 1) << errorText(page);
        EXPECT_EQ(recorder.redirected, row.pageMoved ? QStringList{url.toString()} : QStringList{});
        EXPECT_EQ(recorder.finished.count(image), 1) << recorder.finished.join(' ').toStdString();  // where it ended
    }
}

// A link is never fetched, but outside local copies a link to a URL that
// was fetched for another element takes its copy too.
TEST(WebPageResources, ALinkToAFetchedURLTakesItsCopy) {
    const QString image = QStringLiteral("/bytes?n=300");
    const QString otherLink = QStringLiteral("/bytes?n=400");
    const QString copy = QStringLiteral("data:application/octet-stream;base64,") +
                         QString::fromLatin1(NetTest::pattern(300).toBase64());
    const struct {
        int mode;
        bool linkReplaced;
    } rows[] = {{NRWebPageRequest::DontReplaceURLs, false}, {NRWebPageRequest::ReplaceWithData, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.mode);
        QUrl url = pageWith({image});
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("link"), QString::fromLatin1(QUrl::toPercentEncoding(image)));
        query.addQueryItem(QStringLiteral("link"), QString::fromLatin1(QUrl::toPercentEncoding(otherLink)));
        url.setQuery(query);
        auto page = NRWebPageRequest::requestWithURL(url);
        page->setUrlReplacementMode(row.mode);
        EXPECT_EQ(NetTest::run(page)->finished, 1) << errorText(page);
        const QString html = page->responseString();
        EXPECT_EQ(html.contains(QStringLiteral("<a href=\"%1\"").arg(copy)), row.linkReplaced) << html.toStdString();
        EXPECT_EQ(html.contains(QStringLiteral("<a href=\"%1\"").arg(image)), !row.linkReplaced) << html.toStdString();
        EXPECT_TRUE(html.contains(QStringLiteral("<a href=\"%1\"").arg(otherLink))) << "never fetched: " << html.toStdString();
    }
}

// The page's range and conditions stay the page's: a resumed page, one
// asked again against its cached copy, or one sent with a condition of its
// own, still gets its resources whole, and they are asked without any.
TEST(WebPageResources, ResourcesAreFetchedWholeForAResumedOrRevalidatedPage) {
    const QString resource = NetTest::fake(QStringLiteral("/range?n=1000")).toString();
    const QString echo = NetTest::fake(QStringLiteral("/echo?resource")).toString();
    const QStringList pageOnly{"Range", "If-Range", "If-None-Match", "If-Modified-Since", "If-Match", "If-Unmodified-Since"};
    const struct {
        const char *name;
        bool resumed;              // the page continues a partial download ("Range")
        const char *revalidation;  // the page is asked for against its cached copy by its
                                   // "lm" (If-Modified-Since) or "etag" (If-None-Match); null: not
        const char *header;        // a condition the caller gives the page itself; null: none
        const char *value;
    } rows[] = {{"fresh page", false, nullptr, nullptr, nullptr},
                {"resumed page", true, nullptr, nullptr, nullptr},
                {"page revalidated by its date", false, "lm", nullptr, nullptr},
                {"page revalidated by its entity tag", false, "etag", nullptr, nullptr},
                {"page sent with If-Match", false, nullptr, "If-Match", "\"p1\""},
                {"page sent with If-Range", false, nullptr, "If-Range", "\"p1\""},
                {"page sent with If-Unmodified-Since", false, nullptr, "If-Unmodified-Since",
                 "Mon, 07 Dec 2026 10:00:00 GMT"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto dir = VNTest::makeTempDir();
        auto cache = std::make_shared<NRDownloadCache>();
        if (cache->setStoragePath(dir->path() + QStringLiteral("/cache"))) {
            ADD_FAILURE() << "no cache";
            continue;
        }
        QUrl url = pageWith({resource, echo});
        QUrlQuery query(url);
        query.addQueryItem(QLatin1String(row.revalidation ? row.revalidation : "lm"),
                           QUuid::createUuid().toString(QUuid::WithoutBraces));
        url.setQuery(query);
        if (row.revalidation) {
            auto earlier = NRHTTPRequest::requestWithURL(url, cache);
            if (NetTest::run(earlier)->finished != 1) {
                ADD_FAILURE() << "the page could not be cached";
                continue;
            }
        }
        auto page = NRWebPageRequest::requestWithURL(url);
        page->setDownloadCache(cache);
        if (row.revalidation)
            page->setCachePolicy(NRAskServerIfModifiedCachePolicy);
        if (row.header)
            page->addRequestHeader(QLatin1String(row.header), QLatin1String(row.value));
        page->setDownloadDestinationPath(dir->path() + QStringLiteral("/index.html"));
        if (row.resumed) {
            const QString part = dir->path() + QStringLiteral("/index.part");
            VNTest::writeFile(part, "<html><bo");
            page->setAllowResumeForFileDownloads(true);
            page->setTemporaryFileDownloadPath(part);
        }
        if (NetTest::run(page)->finished != 1) {
            ADD_FAILURE() << "the page failed: " << errorText(page);
            continue;
        }
        EXPECT_FALSE(page->didUseCachedResponse());
        const QString whole = page->resourceList().value(resource).value(QStringLiteral("DataPath")).toString();
        EXPECT_FALSE(whole.isEmpty()) << "no copy of the resource";
        EXPECT_TRUE(!whole.isEmpty() && VNTest::readFile(whole) == NetTest::pattern(1000));
        const QString echoed = page->resourceList().value(echo).value(QStringLiteral("DataPath")).toString();
        EXPECT_FALSE(echoed.isEmpty()) << "no copy of the echo";
        const QJsonObject seen = QJsonDocument::fromJson(echoed.isEmpty() ? QByteArray() : VNTest::readFile(echoed)).object();
        for (const QString &name : pageOnly)
            EXPECT_TRUE(header(seen, name).isNull()) << name.toStdString() << " sent with a resource: "
                                                     << header(seen, name).toStdString();
    }
}

// A page served without a charset is read as it declares itself, and the
// rewritten page is labelled as what its bytes are.
TEST(WebPageResources, ARewrittenPageKeepsItsOwnCharset) {
    const struct {
        const char *contentType;
    } rows[] = {{"text/html; charset=utf-8"}, {"text/html"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.contentType);
        QUrl url = pageWith({QStringLiteral("/bytes?n=300")});
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("meta"), QStringLiteral("utf-8"));
        query.addQueryItem(QStringLiteral("text"), QStringLiteral("1"));
        query.addQueryItem(QStringLiteral("ct"), QString::fromLatin1(QUrl::toPercentEncoding(QLatin1String(row.contentType))));
        url.setQuery(query);
        auto page = NRWebPageRequest::requestWithURL(url);
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        EXPECT_EQ(NetTest::run(page)->finished, 1) << errorText(page);
        const QByteArray html = page->responseData();
        EXPECT_TRUE(html.contains(QStringLiteral("café ünï").toUtf8())) << html.constData();
        EXPECT_TRUE(html.toLower().contains("utf-8")) << html.constData();
        EXPECT_FALSE(html.toLower().contains("iso-8859-1")) << html.constData();
        EXPECT_TRUE(html.contains("data:application/octet-stream;base64,")) << "not rewritten: " << html.constData();
    }
}

TEST(WebPageResources, AFailedResourceFailsThePageUnlessItsErrorsAreIgnored) {
    // One resource on a port nobody listens on, one that loads.
    const QString dead = QStringLiteral("http://127.0.0.1:1/dead.png");
    const QString live = QStringLiteral("/echo?live");
    const struct {
        bool failOnResourceError;
        bool pageFails;
    } rows[] = {{true, true}, {false, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.failOnResourceError ? "resource errors fail the page" : "resource errors ignored");
        auto page = NRWebPageRequest::requestWithURL(pageWith({dead, live}));
        page->setShouldIgnoreExternalResourceErrors(row.failOnResourceError);
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        auto outcome = NetTest::run(page);
        if (row.pageFails) {
            EXPECT_EQ(outcome->failed, 1);
            EXPECT_EQ(NetTest::errorCode(page), NRHTTPRequest::ConnectionFailureErrorType);
            continue;
        }
        EXPECT_EQ(outcome->finished, 1) << errorText(page);
        const QString html = page->responseString();
        EXPECT_TRUE(html.contains(QStringLiteral("src=\"%1\"").arg(dead))) << "left as it was: " << html.toStdString();
        EXPECT_TRUE(inlinedEchoes(html).contains(live)) << html.toStdString();
    }
}

TEST(WebPageResources, AReplyThatIsNoPageOrStyleSheetFinishesAsItCame) {
    auto request = NRWebPageRequest::requestWithURL(NetTest::fake(QStringLiteral("/bytes?n=300")));
    request->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    ASSERT_EQ(NetTest::run(request)->finished, 1);
    EXPECT_EQ(request->webContentType(), NRWebPageRequest::OtherContent);
    EXPECT_EQ(request->responseData().size(), 300);
    EXPECT_FALSE(request->externalResourceQueue());
}

#include "WebPageResourcesTest.moc"
