// A request in a request queue: the order in which its callbacks reach the
// delegate, the block and the queue; a silenced request; the questions the
// queue answers for it (redirects, server and proxy credentials); and the
// upload size of a form counted before it starts.
#include "Net/NetTestSupport.h"

#include "Net/NRFormDataRequest.h"
#include "Net/NRRequestQueue.h"

#include <QFile>
#include <QObject>

using namespace NetTest;

namespace {

QJsonObject proxyPeer() { return VNTest::peerState(QStringLiteral("tinyproxy")); }

// Records what reaches it, in order, into a shared list.
class Recorder : public QObject {
    Q_OBJECT
public:
    explicit Recorder(QString name, QStringList *events) : m_name(std::move(name)), m_events(events) {}
public slots:
    void requestStarted(NRHTTPRequest *) { *m_events << m_name + QStringLiteral(" started"); }
    void requestFinished(NRHTTPRequest *) { *m_events << m_name + QStringLiteral(" finished"); }
    void requestFailed(NRHTTPRequest *) { *m_events << m_name + QStringLiteral(" failed"); }
    void queueFinished(NRRequestQueue *) { *m_events << QStringLiteral("queue done"); }

private:
    QString m_name;
    QStringList *m_events;
};

// The queue's delegate also answers the questions of its requests.
class Answerer : public Recorder {
    Q_OBJECT
public:
    using Recorder::Recorder;
    QUrl redirectTo;  // where a redirect question is answered to go
    int redirectQuestions = 0, credentialQuestions = 0, proxyCredentialQuestions = 0;
public slots:
    void requestWillRedirect(NRHTTPRequest *request, QUrl url) {
        ++redirectQuestions;
        request->redirectToURL(redirectTo.isValid() ? redirectTo : url);
    }
    void authenticationNeededForRequest(NRHTTPRequest *request) {
        ++credentialQuestions;
        const QJsonObject a = apache();
        request->setUsername(a[QStringLiteral("basic_user")].toString());
        request->setPassword(a[QStringLiteral("basic_password")].toString());
        request->retryUsingSuppliedCredentials();
    }
    void proxyAuthenticationNeededForRequest(NRHTTPRequest *request) {
        ++proxyCredentialQuestions;
        request->setProxyUsername(proxyPeer()[QStringLiteral("user")].toString());
        request->setProxyPassword(proxyPeer()[QStringLiteral("password")].toString());
        request->retryUsingSuppliedCredentials();
    }
};

class QueueCallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        forgetProxySettings();
        queue = NRRequestQueue::queue();
        queue->setDelegate(&queueDelegate);
        queue->setRequestDidStartSelector("requestStarted");
        queue->setRequestDidFinishSelector("requestFinished");
        queue->setRequestDidFailSelector("requestFailed");
        queue->setQueueDidFinishSelector("queueFinished");
    }
    void TearDown() override { forgetProxySettings(); }
    bool queueDone() const { return events.contains(QStringLiteral("queue done")); }
    // Adds the request, with its own delegate and blocks recording too.
    void add(const std::shared_ptr<NRHTTPRequest> &request) {
        request->setDelegate(&requestDelegate);
        request->setStartedBlock([this] { events << QStringLiteral("block started"); });
        request->setCompletionBlock([this] { events << QStringLiteral("block finished"); });
        request->setFailedBlock([this] { events << QStringLiteral("block failed"); });
        queue->addRequest(request);
    }
    QStringList events;
    Recorder requestDelegate{QStringLiteral("delegate"), &events};
    Answerer queueDelegate{QStringLiteral("queue"), &events};
    std::shared_ptr<NRRequestQueue> queue;
};

}  // namespace

TEST_F(QueueCallbacks, DelegateThenBlockThenQueue) {
    add(NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10"))));
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
    EXPECT_EQ(events, QStringList({"delegate started", "block started", "queue started", "delegate finished",
                                   "block finished", "queue finished", "queue done"}));

    events.clear();
    add(NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:1/refused"))));
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
    EXPECT_EQ(events.mid(events.indexOf(QStringLiteral("delegate failed"))),
              QStringList({"delegate failed", "block failed", "queue failed", "queue done"}));
}

TEST_F(QueueCallbacks, ASilencedRequestLeavesTheQueueWithoutAWord) {
    auto silenced = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stall?n=1000&wait=20")));
    auto other = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10")));
    add(silenced);
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return events.contains(QStringLiteral("queue started")); }));
    silenced->clearDelegatesAndCancel();
    add(other);
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
    VNTest::spin(100);  // a late word of the silenced request would show here
    EXPECT_FALSE(events.contains(QStringLiteral("queue failed"))) << events.join(", ").toStdString();
    EXPECT_FALSE(events.contains(QStringLiteral("delegate failed")));
    EXPECT_EQ(events.count(QStringLiteral("queue finished")), 1);
    EXPECT_EQ(events.count(QStringLiteral("queue done")), 1);
    EXPECT_EQ(queue->requestsCount(), 0);
    EXPECT_EQ(queue->operationCount(), 0);
}

TEST_F(QueueCallbacks, TheQueueConfirmsARedirect) {
    // Only the queue's delegate is asked (the request's own has no such
    // method); it sends the request elsewhere.
    queue->setRequestWillRedirectSelector("requestWillRedirect");
    queueDelegate.redirectTo = fake(QStringLiteral("/echo?chosen=1"));
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?to=/echo%3Fserver=1")));
    add(r);
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
    EXPECT_EQ(queueDelegate.redirectQuestions, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(echoOf(r)[QStringLiteral("path")].toString(), QStringLiteral("/echo?chosen=1"));
    EXPECT_EQ(r->redirectCount(), 1);
}

TEST_F(QueueCallbacks, TheQueuesDelegateIsAskedForCredentials) {
    // Server credentials (Apache, Basic) and proxy credentials (tinyproxy):
    // the request's own delegate cannot answer, the queue's can.
    auto server = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    auto proxied = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?queueproxy=1")));
    proxied->setProxyHost(QStringLiteral("127.0.0.1"));
    proxied->setProxyPort(proxyPeer()[QStringLiteral("auth_port")].toInt());
    add(server);
    add(proxied);
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }, 20000));
    EXPECT_EQ(queueDelegate.credentialQuestions, 1);
    EXPECT_EQ(queueDelegate.proxyCredentialQuestions, 1);
    EXPECT_EQ(server->responseStatusCode(), 200);
    EXPECT_EQ(proxied->responseStatusCode(), 200);
    EXPECT_EQ(events.count(QStringLiteral("queue finished")), 2) << events.join(", ").toStdString();
}

TEST_F(QueueCallbacks, AFormsUploadSizeIsCountedWhenItIsAdded) {
    queue->setShowAccurateProgress(true);
    auto fields = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
    fields->addPostValue(QStringLiteral("1 2"), QStringLiteral("a"));
    fields->addPostValue(QStringLiteral("x"), QStringLiteral("b"));
    const QByteArray part(5000, 'p');
    auto multipart = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
    multipart->addData(part, QStringLiteral("file"));
    add(fields);
    EXPECT_EQ(queue->totalBytesToUpload(), quint64(QByteArray("a=1%202&b=x").size()));
    add(multipart);
    EXPECT_EQ(queue->totalBytesToUpload(), quint64(11 + multipart->postLength()));
    EXPECT_GT(multipart->postLength(), part.size());
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
    // Built once: what was counted is what was sent.
    EXPECT_EQ(echoOf(fields)[QStringLiteral("fields")].toArray().size(), 2);
    const QJsonArray files = echoOf(multipart)[QStringLiteral("files")].toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].toObject()[QStringLiteral("length")].toInt(), part.size());
    EXPECT_EQ(queue->bytesUploadedSoFar(), queue->totalBytesToUpload());
}

// With accurate progress a GET added before go() is preceded by a HEAD
// request that knows it as its main request and carries none of its reply
// settings; when the HEAD request fails, the GET fails with its error and
// is never sent.
TEST_F(QueueCallbacks, AFailedHEADRequestFailsItsGET) {
    queue->setShowAccurateProgress(true);
    auto dir = VNTest::makeTempDir();
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/nohead?n=10")));
    r->setDownloadDestinationPath(dir->path() + QStringLiteral("/got.bin"));
    add(r);
    std::shared_ptr<NRHTTPRequest> head;
    for (const auto &operation : queue->operations())
        if (operation != r)
            head = operation;
    ASSERT_TRUE(head);
    EXPECT_EQ(head->requestMethod(), QStringLiteral("HEAD"));
    EXPECT_EQ(head->mainRequest(), r);
    EXPECT_TRUE(head->downloadDestinationPath().isEmpty());
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
    EXPECT_EQ(events, QStringList({"delegate failed", "block failed", "queue failed", "queue done"}));
    EXPECT_EQ(errorCode(r), 1);
    EXPECT_EQ(r->responseStatusCode(), 0);
    EXPECT_FALSE(QFile::exists(dir->path() + QStringLiteral("/got.bin")));
    EXPECT_EQ(queue->operationCount(), 0);
}

// A request that ends before the queue starts it still finishes, so that
// whoever waits for it (waitUntilFinished(), an observer) is let go.
TEST_F(QueueCallbacks, ARequestEndedBeforeItsTurnFinishes) {
    enum class Ending { HEADFails, QueueCancelled, RequestCancelled };
    struct Row {
        const char *name;
        Ending ending;
        int code;
    };
    const Row rows[] = {
        {"its HEAD request fails", Ending::HEADFails, 1},
        {"the queue is cancelled before it starts", Ending::QueueCancelled, 4},
        {"it is cancelled before its turn", Ending::RequestCancelled, 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        events.clear();
        queue->setShowAccurateProgress(row.ending == Ending::HEADFails);
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/nohead?n=10")));
        add(r);
        if (row.ending == Ending::HEADFails)
            queue->go();
        else if (row.ending == Ending::QueueCancelled)
            queue->cancelAllOperations();
        else
            r->cancel();
        ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); }));
        EXPECT_EQ(events.count(QStringLiteral("block failed")), 1);
        EXPECT_EQ(errorCode(r), row.code);
        EXPECT_TRUE(VNTest::waitUntil([&] { return r->isFinished(); })) << "never finished";
        EXPECT_EQ(r->responseStatusCode(), 0);
    }
}

// The requests hold their queue until they end: a queue its caller lets go
// of right after go() (one request at a time, so the others still wait)
// runs every one of them to its end and says so.
TEST_F(QueueCallbacks, AQueueLetGoOfRunsItsRequestsToTheirEnd) {
    queue->setMaxConcurrentOperationCount(1);
    for (int i = 0; i < 3; ++i)
        add(NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=%1").arg(10 + i))));
    queue->go();
    std::weak_ptr<NRRequestQueue> weak = queue;
    queue.reset();
    ASSERT_TRUE(VNTest::waitUntil([&] { return queueDone(); })) << events.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(events.count(QStringLiteral("block finished")), 3);
    EXPECT_EQ(events.count(QStringLiteral("queue finished")), 3);
    // Then nothing holds it any more.
    EXPECT_TRUE(VNTest::waitUntil([&] { return weak.expired(); }));
}

#include "QueueCallbacksTest.moc"
