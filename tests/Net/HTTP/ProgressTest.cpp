// Progress: every download unit announced is delivered, and each report
// reaches the queue, then the progress delegate, then the block.
#include "Net/NetTestSupport.h"

#include "Net/NRProgressDelegate.h"
#include "Net/NRRequestQueueListener.h"

using namespace NetTest;

namespace {

// A progress delegate and a queue that write what reaches them, in order,
// into one list.
struct LoggingIndicator : NRProgressDelegate {
    explicit LoggingIndicator(QStringList *log) : log(log) {}
    QStringList *log;
    qint64 received = 0, downloadSize = 0;
    double value = 0;
    void setDoubleValue(double v) override {
        value = v;
        *log << QStringLiteral("delegate value");
    }
    void didReceiveBytes(NRHTTPRequest *, qint64 n) override {
        received += n;
        *log << QStringLiteral("delegate received");
    }
    void didSendBytes(NRHTTPRequest *, qint64) override { *log << QStringLiteral("delegate sent"); }
    void incrementDownloadSizeBy(NRHTTPRequest *, qint64 n) override {
        downloadSize += n;
        *log << QStringLiteral("delegate download size");
    }
    void incrementUploadSizeBy(NRHTTPRequest *, qint64) override { *log << QStringLiteral("delegate upload size"); }
};

struct LoggingQueue : NRRequestQueueListener {
    explicit LoggingQueue(QStringList *log) : log(log) {}
    QStringList *log;
    void requestStarted(NRHTTPRequest *) override {}
    void requestDidReceiveResponseHeaders(NRHTTPRequest *, const QMap<QString, QString> &) override {}
    void requestFinished(NRHTTPRequest *) override {}
    void requestFailed(NRHTTPRequest *) override {}
    void requestDidReceiveBytes(NRHTTPRequest *, qint64) override { *log << QStringLiteral("queue received"); }
    void requestDidSendBytes(NRHTTPRequest *, qint64) override { *log << QStringLiteral("queue sent"); }
    void requestIncrementDownloadSizeBy(NRHTTPRequest *, qint64) override { *log << QStringLiteral("queue download size"); }
    void requestIncrementUploadSizeBy(NRHTTPRequest *, qint64) override { *log << QStringLiteral("queue upload size"); }
    bool respondsToWillRedirect() const override { return false; }
    void requestWillRedirectToURL(NRHTTPRequest *, const QUrl &) override {}
    bool respondsToAuthenticationNeeded() const override { return false; }
    void authenticationNeededForRequest(NRHTTPRequest *) override {}
    bool respondsToProxyAuthenticationNeeded() const override { return false; }
    void proxyAuthenticationNeededForRequest(NRHTTPRequest *) override {}
    void requestWasSilenced(NRHTTPRequest *) override {}
};

}  // namespace

TEST(Progress, EveryDownloadUnitAnnouncedIsDelivered) {
    // A reply of unknown length counts as one unit, sent when it ends; a
    // request with a body sends its upload's unit first, which must not
    // take the download's place.
    struct Row {
        const char *path;
        bool withBody;
    } rows[] = {
        {"/chunked?n=5000", false},
        {"/chunked?n=5000", true},
        {"/bytes?n=5000", true},
    };
    for (const Row &row : rows) {
        QStringList log;
        auto down = std::make_shared<LoggingIndicator>(&log);
        auto r = NRHTTPRequest::requestWithURL(fake(QString::fromLatin1(row.path)));
        if (row.withBody)
            r->setPostBody(QByteArray(3000, 'b'));
        r->setDownloadProgressDelegate(down);
        EXPECT_EQ(run(r)->finished, 1) << row.path;
        EXPECT_GT(down->downloadSize, 0) << row.path << " " << row.withBody;
        EXPECT_EQ(down->received, down->downloadSize) << row.path << " " << row.withBody;
        EXPECT_EQ(down->value, 1.0) << row.path << " " << row.withBody;
    }
}

TEST(Progress, TheQueueHearsFirstThenTheDelegateThenTheBlock) {
    QStringList log;
    auto indicator = std::make_shared<LoggingIndicator>(&log);
    auto queue = std::make_shared<LoggingQueue>(&log);
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->setPostBody(QByteArray(200000, 'u'));
    r->setUploadProgressDelegate(indicator);
    r->setDownloadProgressDelegate(indicator);
    r->setQueue(queue);
    r->setBytesReceivedBlock([&](qint64, qint64) { log << QStringLiteral("block received"); });
    r->setBytesSentBlock([&](qint64, qint64) { log << QStringLiteral("block sent"); });
    r->setDownloadSizeIncrementedBlock([&](qint64) { log << QStringLiteral("block download size"); });
    r->setUploadSizeIncrementedBlock([&](qint64) { log << QStringLiteral("block upload size"); });
    EXPECT_EQ(run(r)->finished, 1);
    r->setQueue(nullptr);

    const std::map<QString, QStringList> groups = {
        {QStringLiteral("received"), {QStringLiteral("delegate received"), QStringLiteral("delegate value"),
                                      QStringLiteral("block received")}},
        {QStringLiteral("sent"), {QStringLiteral("delegate sent"), QStringLiteral("delegate value"), QStringLiteral("block sent")}},
        {QStringLiteral("download size"), {QStringLiteral("delegate download size"), QStringLiteral("block download size")}},
        {QStringLiteral("upload size"), {QStringLiteral("delegate upload size"), QStringLiteral("block upload size")}},
    };
    for (const auto &[kind, rest] : groups) {
        const QString queueMessage = QStringLiteral("queue ") + kind;
        ASSERT_GT(log.count(queueMessage), 0) << kind.toStdString();
        EXPECT_EQ(log.count(queueMessage), log.count(rest.last())) << kind.toStdString();
        // Each report's other messages follow the queue's at once.
        for (qsizetype i = log.indexOf(queueMessage); i >= 0; i = log.indexOf(queueMessage, i + 1))
            EXPECT_EQ(log.mid(i + 1, rest.size()).join(QStringLiteral(", ")).toStdString(),
                      rest.join(QStringLiteral(", ")).toStdString());
    }
}

TEST(Progress, AReplyOfUnknownLengthCountsOnceItHasEnded) {
    // Accurate progress kept on (its size was learnt another way): nothing
    // is reported while the reply runs, all of it when it ends.
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/nolength?n=4000&wait=0.6")));
    r->setShouldResetDownloadProgress(false);
    QList<qint64> amounts;
    r->setBytesReceivedBlock([&](qint64 amount, qint64) { amounts << amount; });
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(amounts, QList<qint64>{4000});
}

TEST(Progress, AHEADRequestMadeForAMainRequestReportsNoProgress) {
    QStringList log;
    auto queue = std::make_shared<LoggingQueue>(&log);
    auto main = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/nolength?n=4000")));
    auto head = main->HEADRequest();
    head->setQueue(queue);
    // It ends without a word of its own: its main request speaks for it.
    int heard = 0;
    head->setCompletionBlock([&] { ++heard; });
    head->setFailedBlock([&] { ++heard; });
    ASSERT_TRUE(runForMainRequest(head));
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(errorCode(main), 0);
    head->setQueue(nullptr);
    EXPECT_FALSE(log.contains(QStringLiteral("queue received"))) << log.join(QStringLiteral(", ")).toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("queue sent"))) << log.join(QStringLiteral(", ")).toStdString();
}

// The upload counted byte by byte ends at its size, also when the reply has
// no length and switches the request to one download unit (the last row's
// reply pauses, so the status tick measures the upload while nothing is
// reported).
TEST(Progress, AnUploadCountedByTheByteEndsAtItsSize) {
    for (const char *path : {"/bytes?n=500", "/chunked?n=500", "/nolength?n=500&wait=0.6"}) {
        auto r = NRHTTPRequest::requestWithURL(fake(QString::fromLatin1(path)));
        r->setPostBody(QByteArray(300000, 'u'));
        qint64 size = 0, sent = 0;
        r->setUploadSizeIncrementedBlock([&](qint64 amount) { size += amount; });
        r->setBytesSentBlock([&](qint64 amount, qint64) { sent += amount; });
        EXPECT_EQ(run(r)->finished, 1) << path;
        EXPECT_GT(size, 0) << path;
        EXPECT_EQ(sent, size) << path;
    }
}
