// Kept-alive connections, seen from the server: the fake server reports the
// client port of each request, so two requests on one connection show the
// same port.
#include "Net/NetTestSupport.h"

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
    };
    for (const Case c : {Case{nullptr, true}, Case{"timeout=15, max=100", true}, Case{"timeout=5, max=6", true},
                         Case{"timeout=5, max=5", false}, Case{"timeout=5", false}}) {
        QString first = QStringLiteral("/echo?c=1");
        if (c.keepAlive)
            first += QStringLiteral("&ka=") + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(c.keepAlive)));
        auto a = get(first);
        auto b = get(QStringLiteral("/echo?c=2"));
        EXPECT_EQ(clientPort(a) == clientPort(b), c.reused) << (c.keepAlive ? c.keepAlive : "no Keep-Alive");
        EXPECT_EQ(b->newConnectionCount() == 0, c.reused);
    }
}

TEST(Connections, ADeadKeptConnectionIsRetriedForGETNeverForPOST) {
    // The server drops the kept connection when the next request arrives.
    auto first = get(QStringLiteral("/echo?die_next=1"));
    auto retried = get(QStringLiteral("/echo?after=dead"));
    EXPECT_EQ(retried->responseStatusCode(), 200);
    EXPECT_NE(clientPort(retried), clientPort(first));  // on a new connection

    // A POST never goes on a kept connection that may be dead: it is sent
    // once, on a connection of its own, even with persistence asked for.
    auto kept = get(QStringLiteral("/echo?die_next=1"));
    auto post = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?post=1")));
    post->setPostBody("once");
    post->setRequestMethod(QStringLiteral("POST"));
    post->setShouldAttemptPersistentConnection(true);
    EXPECT_EQ(run(post)->finished, 1);
    EXPECT_EQ(post->retryCount(), 0);
    EXPECT_EQ(post->newConnectionCount(), 1);
    EXPECT_NE(clientPort(post), clientPort(kept));
    EXPECT_EQ(echoOf(post)[QStringLiteral("body")].toString(), QStringLiteral("once"));
}
