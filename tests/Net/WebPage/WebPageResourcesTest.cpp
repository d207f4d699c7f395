// A web page's resources on its own origin and on another one (the engine's
// fake and the fetchers' fake, two loopback ports): the page's credentials
// go only to its own origin, the resources report to the page's delegates,
// and a cancel while they load is the page's answer.
#include "Net/NRProgressDelegate.h"
#include "Net/NRWebPageRequest.h"
#include "Net/NetTestSupport.h"
#include "support/TestSupport.h"

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
    QStringList from;
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
    const bool resourceStarted = VNTest::waitUntil([&] {
        auto log = NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/log")));
        NetTest::run(log);
        return log->responseString().contains(QStringLiteral("/hold?key=") + key);
    });
    page->cancel();
    const bool ended = VNTest::waitUntil([&] { return outcome.done(); }, 10000);
    NetTest::run(NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/release?key=") + key)));
    ASSERT_TRUE(resourceStarted);
    ASSERT_TRUE(ended) << "the page went on waiting for its resource";
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.finished, 0);
    EXPECT_EQ(NetTest::errorCode(page), NRHTTPRequest::RequestCancelledErrorType);
}

#include "WebPageResourcesTest.moc"
