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

public:
    QStringList started, finished;
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
    // The one resource stops half way (its failure passed over): the page's
    // indicator, which showed it at half, ends at all done with the page.
    auto page = NRWebPageRequest::requestWithURL(pageWith({NetTest::fake(QStringLiteral("/stall?n=2000&wait=2")).toString()}));
    page->setShouldIgnoreExternalResourceErrors(false);
    auto progress = std::make_shared<Progress>();
    page->setDownloadProgressDelegate(progress);
    ASSERT_EQ(NetTest::run(page)->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    ASSERT_FALSE(progress->values.isEmpty());
    EXPECT_TRUE(progress->values.contains(0.5));
    EXPECT_EQ(progress->values.last(), 1.0);
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
