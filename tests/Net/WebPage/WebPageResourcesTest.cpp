// A web page's resources on its own origin and on another one (the engine's
// fake and the fetchers' fake, two loopback ports): the page's credentials
// go only to its own origin, the resources report to the page's delegates,
// and a cancel while they load is the page's answer.
#include "Net/NRDownloadCache.h"
#include "Net/NRProgressDelegate.h"
#include "Net/NRWebPageRequest.h"
#include "Net/NetTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

QString otherOrigin() {
    return QStringLiteral("http://127.0.0.1:%1").arg(VNTest::peerState(QStringLiteral("hffetch"))[QStringLiteral("port")].toInt());
}

// A page of the engine's fake with an image for each reference.
QUrl pageWith(const QStringList &refs) {
    QUrlQuery query;
    for (const QString &ref : refs)
        query.addQueryItem(QStringLiteral("ref"), QString::fromLatin1(QUrl::toPercentEncoding(ref)));
    QUrl url = NetTest::fake(QStringLiteral("/page"));
    url.setQuery(query);
    return url;
}

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

// Whether the other origin has been asked for the path (it logs every request).
bool otherOriginSaw(const QString &path) {
    auto log = NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/log")));
    NetTest::run(log);
    return log->responseString().contains(path);
}

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

TEST(WebPageResources, ResourcesReportToThePagesDelegates) {
    const QString image = NetTest::fake(QStringLiteral("/bytes?n=5000")).toString();
    auto page = NRWebPageRequest::requestWithURL(pageWith({image}));
    Recorder recorder;
    auto progress = std::make_shared<Progress>();
    page->setDelegate(&recorder);
    page->setDownloadProgressDelegate(progress);
    auto outcome = NetTest::run(page);
    ASSERT_EQ(outcome->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    EXPECT_TRUE(recorder.started.contains(image)) << recorder.started.join(' ').toStdString();
    EXPECT_EQ(recorder.finished.count(image), 1);
    EXPECT_EQ(recorder.finished.count(page->url().toString()), 1);
    EXPECT_TRUE(progress->from.contains(image));
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
        ASSERT_EQ(NetTest::run(page)->finished, 1);
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
        ASSERT_EQ(NetTest::run(page)->finished, 1);
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
        ASSERT_EQ(NetTest::run(page)->finished, 1);
        const QString html = page->responseString();
        EXPECT_EQ(html.contains(QStringLiteral("<a href=\"%1\"").arg(copy)), row.linkReplaced) << html.toStdString();
        EXPECT_EQ(html.contains(QStringLiteral("<a href=\"%1\"").arg(image)), !row.linkReplaced) << html.toStdString();
        EXPECT_TRUE(html.contains(QStringLiteral("<a href=\"%1\"").arg(otherLink))) << "never fetched: " << html.toStdString();
    }
}

// The page's range and conditions stay the page's: a resumed page, or one
// asked again against its cached copy, still gets its resources whole.
TEST(WebPageResources, ResourcesAreFetchedWholeForAResumedOrRevalidatedPage) {
    const QString resource = NetTest::fake(QStringLiteral("/range?n=1000")).toString();
    const struct {
        const char *name;
        bool resumed;              // the page continues a partial download ("Range")
        const char *revalidation;  // the page is asked for against its cached copy by its
                                   // "lm" (If-Modified-Since) or "etag" (If-None-Match); null: not
    } rows[] = {{"fresh page", false, nullptr},
                {"resumed page", true, nullptr},
                {"page revalidated by its date", false, "lm"},
                {"page revalidated by its entity tag", false, "etag"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto dir = VNTest::makeTempDir();
        auto cache = std::make_shared<NRDownloadCache>();
        ASSERT_FALSE(cache->setStoragePath(dir->path() + QStringLiteral("/cache")));
        QUrl url = pageWith({resource});
        QUrlQuery query(url);
        query.addQueryItem(QLatin1String(row.revalidation ? row.revalidation : "lm"),
                           QUuid::createUuid().toString(QUuid::WithoutBraces));
        url.setQuery(query);
        if (row.revalidation) {
            auto earlier = NRHTTPRequest::requestWithURL(url, cache);
            ASSERT_EQ(NetTest::run(earlier)->finished, 1);
        }
        auto page = NRWebPageRequest::requestWithURL(url);
        page->setDownloadCache(cache);
        if (row.revalidation)
            page->setCachePolicy(NRAskServerIfModifiedCachePolicy);
        page->setDownloadDestinationPath(dir->path() + QStringLiteral("/index.html"));
        if (row.resumed) {
            const QString part = dir->path() + QStringLiteral("/index.part");
            VNTest::writeFile(part, "<html><bo");
            page->setAllowResumeForFileDownloads(true);
            page->setTemporaryFileDownloadPath(part);
        }
        ASSERT_EQ(NetTest::run(page)->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
        EXPECT_FALSE(page->didUseCachedResponse());
        const QVariantMap entry = page->resourceList().value(resource);
        ASSERT_TRUE(entry.contains(QStringLiteral("DataPath"))) << "no copy of the resource";
        EXPECT_TRUE(VNTest::readFile(entry.value(QStringLiteral("DataPath")).toString()) == NetTest::pattern(1000));
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
        ASSERT_EQ(NetTest::run(page)->finished, 1);
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
        auto page = NRWebPageRequest::requestWithURL(pageWith({dead, live}));
        page->setShouldIgnoreExternalResourceErrors(row.failOnResourceError);
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        auto outcome = NetTest::run(page);
        if (row.pageFails) {
            EXPECT_EQ(outcome->failed, 1);
            EXPECT_EQ(NetTest::errorCode(page), NRHTTPRequest::ConnectionFailureErrorType);
            continue;
        }
        ASSERT_EQ(outcome->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
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
