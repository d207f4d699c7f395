// The fetch log: off by default and then creating nothing; when on, text
// and HTML entries readable by the owner only, with secrets cut out.
#include "FetchTestSupport.h"

#include "DA/HTTPFetcher/HFHTTPFetcherLogging.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

using namespace FetchTest;

TEST(FetchLogging, OffCreatesNothingOnRedactsAndGuards) {
    auto dir = VNTest::makeTempDir();
    const QString logs = dir->path() + QStringLiteral("/logs");
    HFHTTPFetcherLogging::setLoggingDirectory(logs);
    HFHTTPFetcherLogging::setLoggingProcessName(QStringLiteral("Varnello_Test"));
    HFHTTPFetcherLogging::setLoggingDateStamp(QStringLiteral("1-01_12-00-00PM"));

    auto quiet = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/echo")));
    run(quiet);
    EXPECT_FALSE(QFileInfo::exists(logs));
    EXPECT_TRUE(quiet->log().isEmpty());

    HFHTTPFetcherLogging::setLoggingEnabled(true);
    HFHTTPFetcherLogging::resetRunForTesting();
    auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/status?code=200&body=ok")));
    fetcher->updateRequest([](HFURLRequest &r) {
        r.setValue(QStringLiteral("Bearer tok-123"), QStringLiteral("Authorization"));
        r.setValue(QStringLiteral("sid=cookie-456"), QStringLiteral("Cookie"));
        r.setValue(QStringLiteral("application/x-www-form-urlencoded"), QStringLiteral("Content-Type"));
    });
    fetcher->setPostData("Email=a%40b&Passwd=pw-789&client_secret=cs-000&x=1");
    run(fetcher);
    const QString errorBody = QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral(R"({"error":{"code":400,"message":"Bad thing"}})")));
    run(HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/status?code=400&body=") + errorBody)));
    HFHTTPFetcherLogging::setLoggingEnabled(false);

    const QString text = fetcher->log();
    EXPECT_TRUE(text.contains(QStringLiteral("Request: POST ")));
    EXPECT_TRUE(text.contains(QStringLiteral("Response: status 200")));
    EXPECT_TRUE(text.contains(QStringLiteral("Bearer _snip_")));
    for (const char *secret : {"tok-123", "cookie-456", "pw-789", "cs-000"})
        EXPECT_FALSE(text.contains(QLatin1String(secret))) << secret;

    const QString run = logs + QStringLiteral("/Varnello_Test_log_1-01_12-00-00PM");
    EXPECT_TRUE(QFileInfo::exists(run + QStringLiteral("/fetch_1.txt")));
    EXPECT_TRUE(QFileInfo::exists(run + QStringLiteral("/aperçu_http_log.html")));
    EXPECT_TRUE(QFileInfo(logs + QStringLiteral("/Varnello_Test_log_newest.html")).isSymLink());
    QDirIterator files(run, QDir::Files);
    while (files.hasNext()) {
        const QFileInfo info(files.next());
        EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0)
            << info.fileName().toStdString();
        const QByteArray content = VNTest::readFile(info.filePath());
        for (const char *secret : {"tok-123", "cookie-456", "pw-789", "cs-000"})
            EXPECT_FALSE(content.contains(secret)) << secret;
    }
    EXPECT_TRUE(VNTest::readFile(run + QStringLiteral("/fetch_1.txt")).endsWith(QByteArray(59, '-') + "\n"));
    // The second entry: flagged, with the JSON error's code and message.
    const QByteArray html = VNTest::readFile(run + QStringLiteral("/aperçu_http_log.html"));
    EXPECT_TRUE(html.contains("400 Bad thing")) << html.constData();
    EXPECT_TRUE(html.contains("fetch_2.txt"));
}

TEST(FetchLogging, BodyTexts) {
    struct Case {
        QByteArray body;
        const char *type;
        const char *contains;
        const char *absent;
    } cases[] = {
        {R"({"access_token":"at-1","refresh_token":"rt-2","n":1})", "application/json", "_snip_", "at-1"},
        {"\x89PNG....", "image/png", "<<8 bytes>>", "PNG"},
        {"--B\r\nContent-Type: text/plain\r\n\r\nhello\r\n--B\r\nContent-Type: image/jpeg\r\n\r\nJPEGDATA\r\n--B--\r\n",
         "multipart/related", "<<10 bytes>>", "JPEGDATA"},
    };
    for (const auto &c : cases) {
        const QString text = HFHTTPFetcherLogging::bodyText(c.body, QString::fromLatin1(c.type));
        EXPECT_TRUE(text.contains(QLatin1String(c.contains))) << c.type << ": " << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1String(c.absent))) << c.type;
    }
    EXPECT_EQ(HFHTTPFetcherLogging::redactedHeaderValue(QStringLiteral("Authorization"), QStringLiteral("Basic dXNlcjpwYXNz")),
              QStringLiteral("Basic _snip_"));
    EXPECT_EQ(HFHTTPFetcherLogging::redactedHeaderValue(QStringLiteral("Authorization"), QStringLiteral("AuthSub token=\"abc\"")),
              QStringLiteral("AuthSub token=_snip_"));
}

namespace {

// Passes each piece read to the observer, on the thread that reads.
class ObservedStream : public HFInputStream {
public:
    ObservedStream(std::shared_ptr<HFInputStream> inner, HFStreamMonitor::ReadObserver observer)
        : m_inner(std::move(inner)), m_observer(std::move(observer)) {}
    void open() override { m_inner->open(); }
    void close() override { m_inner->close(); }
    qint64 read(char *buffer, qint64 maxLength) override {
        const qint64 n = m_inner->read(buffer, std::min<qint64>(maxLength, 4096));
        if (n > 0)
            m_observer(buffer, n);
        return n;
    }
    Status streamStatus() const override { return m_inner->streamStatus(); }
    qint64 length() const override { return m_inner->length(); }

private:
    std::shared_ptr<HFInputStream> m_inner;
    HFStreamMonitor::ReadObserver m_observer;
};

}  // namespace

// The streamed body's copy grows on the sending thread while the log (here
// the test) reads it: both go through one lock. The thread sanitizer build
// reports the race when they do not.
TEST(FetchLogging, AStreamedBodyIsCopiedWhileItIsSent) {
    auto dir = VNTest::makeTempDir();
    HFHTTPFetcherLogging::setLoggingDirectory(dir->path());
    const auto previous = HFStreamMonitor::factory();
    HFStreamMonitor::setFactory([](std::shared_ptr<HFInputStream> inner, HFStreamMonitor::ReadObserver observer) {
        return std::make_shared<ObservedStream>(std::move(inner), std::move(observer));
    });
    HFHTTPFetcherLogging::setLoggingEnabled(true);
    QByteArray body(2 << 20, '\0');
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char('a' + i % 26);
    auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/echo")));
    fetcher->setPostStream(std::make_shared<HFDataInputStream>(body));
    bool done = false;
    VNErrorPtr error;
    fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &e) { done = true, error = e; });
    qsizetype seen = 0;
    EXPECT_TRUE(VNTest::waitUntil([&] {
        seen = std::max(seen, fetcher->loggedStreamData().size());
        return done;
    }));
    HFHTTPFetcherLogging::setLoggingEnabled(false);
    HFStreamMonitor::setFactory(previous);
    EXPECT_FALSE(error);
    EXPECT_EQ(fetcher->loggedStreamData(), body);
}
