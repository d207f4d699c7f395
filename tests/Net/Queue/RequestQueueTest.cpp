// The request queue: nothing before go(), a failure cancelling the rest,
// the queue-finished call once, byte sums with the HEAD requests that learn
// sizes first, the refusal of anything that is not a request, and when a
// batch whose requests gave up their places says it waits elsewhere.
#include "Net/NRRequestQueue.h"
#include "Net/NetTestSupport.h"
#include "Platform/VNOperation.h"
#include "support/TestSupport.h"

#include <QObject>
#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

// The fake counts requests by path for as long as it runs, across test
// processes: this process's pages (and the paths its count queries name)
// get a folder of their own.
QString ownPages(QString pathAndQuery) {
    return pathAndQuery.replace(QStringLiteral("/page/"),
                                QStringLiteral("/page/%1/").arg(QCoreApplication::applicationPid()));
}

QString fake(const QString &pathAndQuery) {
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(VNTest::peerState(QStringLiteral("cachefake"))[QStringLiteral("port")].toInt())
        .arg(ownPages(pathAndQuery));
}

QString ask(const QString &what) {
    auto request = NRHTTPRequest::requestWithURL(QUrl(fake(what)));
    NetTest::run(request);
    return request->responseString();
}

// The fetchers' fake, whose answer to /hold waits for a /release of its key.
QString holdingFake(const QString &pathAndQuery) {
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(VNTest::peerState(QStringLiteral("hffetch"))[QStringLiteral("port")].toInt())
        .arg(pathAndQuery);
}

QUrl held(const QString &key) { return QUrl(holdingFake(QStringLiteral("/hold?key=") + key)); }

bool holdSeen(const QString &key) {
    auto log = NRHTTPRequest::requestWithURL(QUrl(holdingFake(QStringLiteral("/log"))));
    NetTest::run(log);
    return log->responseString().contains(QStringLiteral("/hold?key=") + key);
}

void release(const QString &key) {
    NetTest::run(NRHTTPRequest::requestWithURL(QUrl(holdingFake(QStringLiteral("/release?key=") + key))));
}

}  // namespace

class QueueWatcher : public QObject {
    Q_OBJECT
public:
    int started = 0, finished = 0, failed = 0, queuesFinished = 0;
    QList<int> failureCodes;
public slots:
    void requestStarted(NRHTTPRequest *) { ++started; }
    void requestFinished(NRHTTPRequest *) { ++finished; }
    void requestFailed(NRHTTPRequest *r) { ++failed; failureCodes.append(r->error() ? int(r->error()->code()) : 0); }
    void queueFinished(NRRequestQueue *) { ++queuesFinished; }
};

namespace {

class RequestQueue : public ::testing::Test {
protected:
    void SetUp() override {
        queue = NRRequestQueue::queue();
        queue->setDelegate(&watcher);
        queue->setRequestDidStartSelector("requestStarted");
        queue->setRequestDidFinishSelector("requestFinished");
        queue->setRequestDidFailSelector("requestFailed");
        queue->setQueueDidFinishSelector("queueFinished");
    }
    QueueWatcher watcher;
    std::shared_ptr<NRRequestQueue> queue;
};

}  // namespace

TEST_F(RequestQueue, NothingStartsBeforeGoAndTheQueueFinishesOnce) {
    for (int i = 0; i < 6; ++i)
        queue->addRequest(NRHTTPRequest::requestWithURL(QUrl(fake(QStringLiteral("/page/go%1").arg(i)))));
    EXPECT_EQ(queue->requestsCount(), 6);
    VNTest::spin(300);
    EXPECT_EQ(watcher.started, 0);
    EXPECT_EQ(ask("/count?path=/page/go0"), "0");
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return watcher.queuesFinished > 0; }));
    VNTest::spin(100);
    EXPECT_EQ(watcher.started, 6);
    EXPECT_EQ(watcher.finished, 6);
    EXPECT_EQ(watcher.queuesFinished, 1);
    EXPECT_EQ(queue->requestsCount(), 0);
    EXPECT_EQ(queue->totalBytesToDownload(), 6u);  // one unit each without accurate progress
    EXPECT_EQ(queue->bytesDownloadedSoFar(), 6u);
}

TEST_F(RequestQueue, AFailureCancelsTheRestAndTheCountsGoBackToNothing) {
    queue->setShowAccurateProgress(true);
    queue->go();
    queue->addRequest(NRHTTPRequest::requestWithURL(QUrl("http://127.0.0.1:1/refused")));
    for (int i = 0; i < 5; ++i)  // two start beside the failing one, three wait
        queue->addRequest(NRHTTPRequest::requestWithURL(QUrl(fake(QStringLiteral("/page/slow%1?wait=5").arg(i)))));
    ASSERT_TRUE(VNTest::waitUntil([&] { return watcher.queuesFinished > 0; }));
    VNTest::spin(200);
    EXPECT_EQ(watcher.finished, 0);
    EXPECT_EQ(watcher.failed, 6);
    EXPECT_EQ(watcher.queuesFinished, 1);
    EXPECT_EQ(watcher.failureCodes.count(NRHTTPRequest::RequestCancelledErrorType), 5);
    EXPECT_EQ(queue->requestsCount(), 0);
    EXPECT_EQ(queue->operationCount(), 0);
    for (quint64 count : {queue->bytesDownloadedSoFar(), queue->totalBytesToDownload(), queue->bytesUploadedSoFar(),
                          queue->totalBytesToUpload()})
        EXPECT_EQ(count, 0u);
    EXPECT_EQ(ask("/count?path=/page/slow4"), "0") << "a waiting request was sent after the failure";
}

TEST_F(RequestQueue, AccurateProgressLearnsTheSizesOfRequestsAddedBeforeGoWithHEADRequests) {
    queue->setShowAccurateProgress(true);
    const QString body(1000, QLatin1Char('b'));
    queue->addRequest(NRHTTPRequest::requestWithURL(QUrl(fake("/page/before?body=" + body))));
    queue->go();
    queue->addRequest(NRHTTPRequest::requestWithURL(QUrl(fake("/page/after?body=" + body.left(500)))));
    ASSERT_TRUE(VNTest::waitUntil([&] { return watcher.queuesFinished > 0; }));
    VNTest::spin(100);
    EXPECT_EQ(watcher.finished, 2);
    EXPECT_EQ(watcher.started, 2) << "the HEAD requests are the queue's own";
    EXPECT_EQ(ask("/log?path=/page/before"), "HEAD,GET");
    EXPECT_EQ(ask("/log?path=/page/after"), "GET");
    EXPECT_EQ(queue->totalBytesToDownload(), 1500u);
    EXPECT_EQ(queue->bytesDownloadedSoFar(), 1500u);
}

TEST_F(RequestQueue, OnlyRequestsJoinAndACopyKeepsTheSettingsNotTheRequests) {
    auto refused = queue->addOperation(std::make_shared<VNBlockOperation>([] {}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->userInfo().value("name").toString(), "AttemptToAddInvalidRequest");
    EXPECT_EQ(refused->localizedDescription(),
              "Attempted to add an object that was not an NRHTTPRequest to an NRRequestQueue");
    EXPECT_EQ(queue->operationCount(), 0);
    EXPECT_EQ(queue->requestsCount(), 0);
    EXPECT_FALSE(queue->addOperation(NRHTTPRequest::requestWithURL(QUrl(fake("/page/copy")))));
    queue->setShouldCancelAllRequestsOnFailure(false);
    auto other = queue->copy();
    EXPECT_TRUE(other->isSuspended());
    EXPECT_EQ(other->maxConcurrentOperationCount(), 4);
    EXPECT_EQ(other->delegate(), &watcher);
    EXPECT_EQ(other->queueDidFinishSelector(), "queueFinished");
    EXPECT_FALSE(other->shouldCancelAllRequestsOnFailure());
    EXPECT_EQ(other->operationCount(), 0);
    queue->reset();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queue->operationCount() == 0; }));
    EXPECT_TRUE(queue->isSuspended());
    EXPECT_EQ(queue->delegate(), nullptr);
    EXPECT_EQ(watcher.failed, 0) << "reset forgets the delegate before the cancel is reported";
}

// A request may give up its place while it waits for something outside
// the batch (a web page's resource waiting for another request of its
// page's tree); it stays in the batch. The batch says it waits only for
// something outside it once nothing in it is sending or left to send:
// before that, whoever holds the batch (a page in its own page's queue)
// keeps its place, or another request would take it while this batch
// still sends.
TEST_F(RequestQueue, TheBatchWaitsElsewhereOnlyOnceNothingInItIsLeftToSend) {
    enum Other { None, Sending, ToSend };
    const struct {
        const char *name;
        Other other;  // a second request of the batch, as the first gives up its place
    } rows[] = {
        {"the only request gives up its place", None},
        {"one gives up its place while another is sending", Sending},
        {"one gives up its place while another waits its turn", ToSend},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = QStringLiteral("batch-%1-%2").arg(QCoreApplication::applicationPid()).arg(++n);
        const QString first = key + QStringLiteral("-first"), second = key + QStringLiteral("-second");
        auto batch = NRRequestQueue::queue();
        int waitsElsewhere = 0;
        batch->setQueueWaitsElsewhereBlock([&waitsElsewhere] { ++waitsElsewhere; });
        if (row.other == ToSend)
            batch->setMaxConcurrentOperationCount(1);
        auto giving = NRHTTPRequest::requestWithURL(held(first));
        batch->addRequest(giving);
        if (row.other != None)
            batch->addRequest(NRHTTPRequest::requestWithURL(held(second)));
        batch->go();
        EXPECT_TRUE(VNTest::waitUntil([&] { return holdSeen(first) && (row.other != Sending || holdSeen(second)); },
                                      10000));
        if (row.other == ToSend)
            batch->setSuspended(true);  // its turn comes later
        batch->requestGivesUpItsPlace(giving.get());
        EXPECT_TRUE(VNTest::runMainQueue());  // where the batch takes it up
        EXPECT_EQ(waitsElsewhere, row.other == None ? 1 : 0);
        if (row.other != None) {
            batch->setSuspended(false);
            EXPECT_TRUE(VNTest::waitUntil([&] { return holdSeen(second); }, 10000));
            release(second);
            EXPECT_TRUE(VNTest::waitUntil([&] { return waitsElsewhere == 1; }, 10000))
                << "the batch never said it waits elsewhere once the other request ended";
        }
        release(first);
        EXPECT_TRUE(VNTest::waitUntil([&] { return batch->requestsCount() == 0; }, 10000));
        EXPECT_EQ(waitsElsewhere, 1);
    }
}

#include "RequestQueueTest.moc"
