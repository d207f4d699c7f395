// The fetcher service's per-host limit, priorities and stopping.
#include "FetchTestSupport.h"

#include "DA/HTTPFetcher/HFHTTPFetcherService.h"

using namespace FetchTest;

namespace {

struct Held {
    std::shared_ptr<HFHTTPFetcher> fetcher;
    std::shared_ptr<Result> result = std::make_shared<Result>();
};

Held begin(const std::shared_ptr<HFHTTPFetcherService> &service, const QString &key, qint64 priority = 0,
           QStringList *order = nullptr) {
    Held h;
    h.fetcher = service->fetcherWithURL(fake(QStringLiteral("/hold?key=") + key));
    h.fetcher->setServicePriority(priority);
    auto result = h.result;
    EXPECT_TRUE(h.fetcher->beginFetchWithCompletionHandler([result, key, order](const QByteArray &data, const VNErrorPtr &error) {
        ++result->calls;
        result->data = data;
        result->error = error;
        if (order)
            order->append(key);
    }));
    return h;
}

void release(const QString &key) { run(HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/release?key=") + key))); }

}  // namespace

TEST(FetcherService, EleventhFetcherToOneHostWaitsThenStarts) {
    auto service = HFHTTPFetcherService::make();
    const QString t = tag();
    QList<Held> running;
    for (int i = 0; i < 10; ++i)
        running.append(begin(service, t + QStringLiteral("r%1").arg(i)));
    QStringList order;
    Held later = begin(service, t + QStringLiteral("later"), 0, &order);
    Held early = begin(service, t + QStringLiteral("early"), 0, &order);
    Held urgent = begin(service, t + QStringLiteral("urgent"), -1, &order);
    EXPECT_EQ(service->numberOfRunningFetchers(), 10u);
    EXPECT_EQ(service->numberOfDelayedFetchers(), 3u);
    EXPECT_TRUE(later.fetcher->isFetching());
    EXPECT_TRUE(service->isDelayingFetcher(later.fetcher.get()));

    // Another host is not held up.
    auto other = run(service->fetcherWithURL(fake(QStringLiteral("/bytes?n=5"), QStringLiteral("localhost"))));
    EXPECT_EQ(other->calls, 1);

    // The waiting ones are released at once on the server, so each ends as
    // soon as it starts; they start lowest priority first, then in order.
    release(t + QStringLiteral("later"));
    release(t + QStringLiteral("early"));
    release(t + QStringLiteral("urgent"));
    VNTest::spin(200);
    EXPECT_TRUE(order.isEmpty());
    // One running fetcher ends: the waiting ones follow one after another.
    release(t + QStringLiteral("r0"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, QStringList({t + "urgent", t + "later", t + "early"}));
    EXPECT_EQ(urgent.result->data, QByteArray("held ") + (t + "urgent").toUtf8());

    // Stopping all: the waiting ones never start, nobody is called back.
    Held a = begin(service, t + QStringLiteral("a"));
    Held b = begin(service, t + QStringLiteral("b"));
    EXPECT_EQ(service->numberOfDelayedFetchers(), 1u);
    service->stopAllFetchers();
    EXPECT_EQ(service->numberOfFetchers(), 0u);
    for (int i = 1; i < 10; ++i)
        release(t + QStringLiteral("r%1").arg(i));
    release(t + QStringLiteral("a"));
    release(t + QStringLiteral("b"));
    VNTest::spin(200);
    EXPECT_EQ(a.result->calls + b.result->calls, 0);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(running[i].result->calls, 0);
}

TEST(FetcherService, StoppingAWaitingFetcherAndNoLimit) {
    auto service = HFHTTPFetcherService::make();
    service->setMaxRunningFetchersPerHost(1);
    service->setUserAgent(QStringLiteral("Varnello-Test/1"));
    const QString t = tag();
    Held first = begin(service, t + QStringLiteral("1"));
    Held waiting = begin(service, t + QStringLiteral("2"));
    EXPECT_TRUE(service->isDelayingFetcher(waiting.fetcher.get()));
    waiting.fetcher->stopFetching();
    EXPECT_FALSE(service->isDelayingFetcher(waiting.fetcher.get()));
    EXPECT_EQ(service->numberOfFetchers(), 1u);
    release(t + QStringLiteral("1"));
    release(t + QStringLiteral("2"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return first.result->calls == 1; }));
    VNTest::spin(100);
    EXPECT_EQ(waiting.result->calls, 0);
    auto hits = requestsMatching(QStringLiteral("/hold?key=") + t);
    ASSERT_EQ(hits.size(), 1);
    EXPECT_EQ(hits[0].toObject()[QStringLiteral("headers")].toObject()[QStringLiteral("User-Agent")].toString(),
              QStringLiteral("Varnello-Test/1"));

    // A limit of 0 never delays.
    service->setMaxRunningFetchersPerHost(0);
    QList<Held> many;
    for (int i = 0; i < 12; ++i)
        many.append(begin(service, t + QStringLiteral("n%1").arg(i)));
    EXPECT_EQ(service->numberOfDelayedFetchers(), 0u);
    service->stopAllFetchers();
    for (int i = 0; i < 12; ++i)
        release(t + QStringLiteral("n%1").arg(i));
}

namespace {

// An authorizer that keeps the link its fetcher service gives it.
struct LinkedAuthorizer : HFFetcherAuthorizationProtocol {
    bool isAuthorizedRequest(const HFURLRequest &) override { return true; }
    void authorizeRequest(HFURLRequest *, Completion completion) override { completion(nullptr); }
    bool isAuthorizingRequest(const HFURLRequest &) override { return false; }
    void stopAuthorization() override {}
    std::shared_ptr<HFHTTPFetcherServiceProtocol> fetcherService() const override { return link.lock(); }
    void setFetcherService(std::weak_ptr<HFHTTPFetcherServiceProtocol> service) override { link = std::move(service); }
    std::weak_ptr<HFHTTPFetcherServiceProtocol> link;
};

}  // namespace

TEST(FetcherService, AnAuthorizerIsLinkedToItsServiceAndLetGoOnlyByIt) {
    struct Row {
        const char *name;
        bool takenByAnother;  // another service took the authorizer since
        bool replaced;        // the first service replaces its authorizer
        int linkedTo;         // 0 none, 1 the first service, 2 the other
    } rows[] = {
        {"kept", false, false, 1},
        {"replaced", false, true, 0},
        {"replaced after another service took it", true, true, 2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto first = HFHTTPFetcherService::make();
        auto other = HFHTTPFetcherService::make();
        auto authorizer = std::make_shared<LinkedAuthorizer>();
        first->setAuthorizer(authorizer);
        if (row.takenByAnother)
            other->setAuthorizer(authorizer);
        if (row.replaced)
            first->setAuthorizer(std::make_shared<LinkedAuthorizer>());
        const auto link = authorizer->fetcherService();
        EXPECT_EQ(link.get(), row.linkedTo == 1 ? first.get() : row.linkedTo == 2 ? other.get() : nullptr);
    }
}
