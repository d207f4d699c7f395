// Kept-alive connections, seen from the server: the fake server reports the
// client port of each request, so two requests on one connection show the
// same port.
#include "Net/NetTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUuid>

using namespace NetTest;

namespace {
int clientPort(const std::shared_ptr<NRHTTPRequest> &r) { return echoOf(r)[QStringLiteral("client_port")].toInt(); }

std::shared_ptr<NRHTTPRequest> get(const QString &path) {
    auto r = NRHTTPRequest::requestWithURL(fake(path));
    EXPECT_EQ(run(r)->finished, 1) << path.toStdString();
    return r;
}
}  // namespace

TEST(Connections, KeptAliveByTheServersTerms) {
    struct Case {
        const char *keepAlive;  // the first reply's Keep-Alive header
        bool reused;
        bool secondCloses = false;  // the second reply closes the connection after it
    };
    for (const Case c : {Case{nullptr, true}, Case{"timeout=15, max=100", true}, Case{"timeout=5, max=6", true},
                         Case{"timeout=5, max=5", false}, Case{"timeout=5", false},
                         Case{"timeout=15, max=100", true, true}}) {
        SCOPED_TRACE(c.secondCloses ? "second reply closes" : "");
        QString first = QStringLiteral("/echo?c=1");
        if (c.keepAlive)
            first += QStringLiteral("&ka=") + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(c.keepAlive)));
        auto a = get(first);
        auto b = get(c.secondCloses ? QStringLiteral("/echo?c=2&close=1") : QStringLiteral("/echo?c=2"));
        EXPECT_EQ(clientPort(a) == clientPort(b), c.reused) << (c.keepAlive ? c.keepAlive : "no Keep-Alive");
        EXPECT_EQ(b->newConnectionCount() == 0, c.reused);
        // The connection's number says the same as the server's ports.
        EXPECT_GT(a->connectionID(), 0);
        EXPECT_EQ(a->connectionID() == b->connectionID(), c.reused) << a->connectionID() << " " << b->connectionID();
    }
}

// A kept connection's time counts from the end of the reply that used it:
// a reply slower than the connection's time-out leaves it reusable.
TEST(Connections, AConnectionsTimeCountsFromTheEndOfItsReply) {
    auto slow = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/slow?n=2000&wait=2.5&ka=timeout%3D2%2C%20max%3D100")));
    ASSERT_EQ(run(slow)->finished, 1);
    auto next = get(QStringLiteral("/echo?after=slow"));
    EXPECT_EQ(next->newConnectionCount(), 0);
    EXPECT_EQ(next->connectionID(), slow->connectionID());
}

// A URL naming its scheme's port and one naming none are one server: the
// terms the first reply gave (a time-out of a second, run out) hold for
// both. The requests go through the fake server as a proxy, where any
// host name reaches it.
TEST(Connections, AURLWithItsSchemesPortIsTheSameServer) {
    const QString port = QString::number(fake(QStringLiteral("/")).port());
    for (const char *suffix : {"", ":80"}) {
        SCOPED_TRACE(suffix);
        const QString host = QStringLiteral("pool%1.varnello.test").arg(QUuid::createUuid().toString(QUuid::Id128));
        auto viaFake = [&](const QString &url) {
            auto r = NRHTTPRequest::requestWithURL(QUrl(url));
            r->setProxyHost(QStringLiteral("127.0.0.1"));
            r->setProxyPort(port.toInt());
            EXPECT_EQ(run(r)->finished, 1) << url.toStdString();
            return r;
        };
        auto first = viaFake(QStringLiteral("http://%1/echo?ka=timeout%3D1%2C%20max%3D100").arg(host));
        QElapsedTimer idle;
        idle.start();
        VNTest::waitUntil([&] { return idle.elapsed() > 1300; }, 3000);  // the connection's time runs out
        auto second = viaFake(QStringLiteral("http://%1%2/echo?second=1").arg(host, QLatin1String(suffix)));
        EXPECT_EQ(second->newConnectionCount(), 1);
        EXPECT_NE(second->connectionID(), first->connectionID());
    }
}

// A POST or PUT takes a kept connection only when its caller turned
// persistence on again after setting the method.
TEST(Connections, APOSTOrPUTReusesAConnectionOnlyWhenAskedAfterItsMethod) {
    const struct {
        const char *method;
        int persistence;  // 0 not asked, 1 asked after the method, 2 asked before it
        bool reused;
    } rows[] = {{"POST", 0, false}, {"POST", 1, true}, {"POST", 2, false}, {"PUT", 0, false}, {"PUT", 1, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + std::to_string(row.persistence));
        auto kept = get(QStringLiteral("/echo?kept=1"));
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?sent=1")));
        r->setPostBody("once");
        if (row.persistence == 2)
            r->setShouldAttemptPersistentConnection(true);
        r->setRequestMethod(QString::fromLatin1(row.method));
        if (row.persistence == 1)
            r->setShouldAttemptPersistentConnection(true);
        ASSERT_EQ(run(r)->finished, 1);
        EXPECT_EQ(r->newConnectionCount() == 0, row.reused);
        EXPECT_EQ(clientPort(r) == clientPort(kept), r->connectionID() == kept->connectionID());
        EXPECT_EQ(echoOf(r)[QStringLiteral("body")].toString(), QStringLiteral("once"));
    }
}

TEST(Connections, ADeadKeptConnectionIsRetriedForGETNeverForPOST) {
    // The server drops the kept connection when the next request arrives.
    auto first = get(QStringLiteral("/echo?die_next=1"));
    auto retried = get(QStringLiteral("/echo?after=dead"));
    EXPECT_EQ(retried->responseStatusCode(), 200);
    EXPECT_NE(clientPort(retried), clientPort(first));  // on a new connection
    EXPECT_NE(retried->connectionID(), first->connectionID());

    // A POST never goes on a kept connection of its own accord: it is sent
    // once, on a connection of its own.
    auto kept = get(QStringLiteral("/echo?die_next=1"));
    auto post = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?post=1")));
    post->setPostBody("once");
    post->setRequestMethod(QStringLiteral("POST"));
    EXPECT_EQ(run(post)->finished, 1);
    EXPECT_EQ(post->retryCount(), 0);
    EXPECT_EQ(post->newConnectionCount(), 1);
    EXPECT_NE(clientPort(post), clientPort(kept));
    EXPECT_EQ(echoOf(post)[QStringLiteral("body")].toString(), QStringLiteral("once"));
}

TEST(Connections, ApacheLogShowsTwoGETsOnOneConnection) {
    // Apache writes the client port and the connection's earlier request
    // count for every request.
    const QString log = apache()[QStringLiteral("workdir")].toString() + QStringLiteral("/connections.log");
    // The log outlives this process: only its own lines count.
    const QString mark = QStringLiteral("?wire=%1-").arg(QCoreApplication::applicationPid());
    for (int i = 1; i <= 2; ++i) {
        auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/1k.bin%1%2").arg(mark).arg(i)));
        EXPECT_EQ(run(r)->finished, 1);
    }
    QStringList lines;
    ASSERT_TRUE(VNTest::waitUntil([&] {
        lines.clear();
        for (const QString &line : QString::fromUtf8(VNTest::readFile(log)).split(QLatin1Char('\n')))
            if (line.contains(mark))
                lines << line;
        return lines.size() == 2;
    }, 3000));
    const QStringList first = lines[0].split(QLatin1Char(' ')), second = lines[1].split(QLatin1Char(' '));
    EXPECT_EQ(first[0], second[0]) << lines.join(QLatin1String(" | ")).toStdString();  // one client port
    EXPECT_EQ(second[1].toInt(), first[1].toInt() + 1);                             // the next request on it
}
