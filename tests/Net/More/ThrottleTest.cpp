// The bandwidth budget: its arithmetic on a clock of our own, and a real
// download under it.
#include "Net/NetTestSupport.h"

#include "Net/NRBandwidthThrottle.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>

using namespace NetTest;

TEST(Throttle, BudgetArithmetic) {
    double now = 100.0;
    NRBandwidthThrottle t([&] { return now; });
    EXPECT_FALSE(t.isThrottled());
    EXPECT_EQ(t.maxReadLength(5000), 5000u);

    t.setMaxBandwidthPerSecond(1000);
    t.measureBandwidthUsage();  // opens the period [100, 101)
    t.incrementBandwidthUsedInLastSecond(900);
    EXPECT_EQ(t.maxUploadReadLength(), 100u);  // a quarter (250) would pass the budget
    t.incrementBandwidthUsedInLastSecond(100);
    EXPECT_EQ(t.maxUploadReadLength(), 0u);
    ASSERT_TRUE(t.wakeUpTime());
    EXPECT_DOUBLE_EQ(*t.wakeUpTime(), 101.0);  // the end of the period
    EXPECT_EQ(t.maxReadLength(5000), 1u);

    t.incrementBandwidthUsedInLastSecond(500);  // 1500 of 1000
    t.measureBandwidthUsage();
    EXPECT_DOUBLE_EQ(*t.wakeUpTime(), 101.5);
    EXPECT_TRUE(t.mustWait());
    now = 101.6;
    EXPECT_FALSE(t.mustWait());  // a new period began
    EXPECT_EQ(t.averageBandwidthUsedPerSecond(), 1500u);  // the idle first period was dropped as time passed

    // An idle period empties the tracker.
    now = 103.0;
    t.measureBandwidthUsage();
    EXPECT_EQ(t.averageBandwidthUsedPerSecond(), 0u);
}

TEST(Throttle, AMebibyteAt200KBPerSecondTakesAboutFiveSeconds) {
    // The bandwidth used is measured all the time, in periods of a second;
    // a budget set part-way through one allows that period's whole budget
    // in what is left of it. Each transfer here starts a period of its own.
    const auto freshPeriod = [] { NRBandwidthThrottle::shared().setClock({}); };
    freshPeriod();
    NRHTTPRequest::setMaxBandwidthPerSecond(200 * 1024);
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=1048576")));
    QElapsedTimer clock;
    clock.start();
    const auto out = run(r, 30000);
    const double seconds = clock.elapsed() / 1000.0;
    NRHTTPRequest::setMaxBandwidthPerSecond(0);
    EXPECT_EQ(out->finished, 1);
    EXPECT_EQ(r->responseData(), pattern(1048576));
    EXPECT_GT(seconds, 3.5);
    EXPECT_LT(seconds, 9.0);

    // Uploads: the body counts once.
    freshPeriod();
    NRHTTPRequest::setMaxBandwidthPerSecond(200 * 1024);
    auto up = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    up->setPostBody(QByteArray(600 * 1024, 'u'));
    clock.restart();
    run(up, 30000);
    const double upSeconds = clock.elapsed() / 1000.0;
    NRHTTPRequest::setMaxBandwidthPerSecond(0);
    EXPECT_EQ(echoOf(up)[QStringLiteral("length")].toInt(), 600 * 1024);
    EXPECT_GT(upSeconds, 1.8);
    EXPECT_LT(upSeconds, 6.0);
}

TEST(Throttle, WithNoMaximumTheBandwidthUsedIsStillMeasured) {
    NRHTTPRequest::setMaxBandwidthPerSecond(0);
    ASSERT_FALSE(NRHTTPRequest::isBandwidthThrottled());
    auto big = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=1048576")));
    EXPECT_EQ(run(big)->finished, 1);
    // Its second is measured once it is over, at the next transfer's bytes.
    EXPECT_TRUE(VNTest::waitUntil([] {
        run(NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=10"))));
        return NRHTTPRequest::averageBandwidthUsedPerSecond() >= 100000;
    }, 10000)) << NRHTTPRequest::averageBandwidthUsedPerSecond();
}

TEST(Throttle, NoReplyReadTakesMoreThanAQuarterOfTheBudget) {
    // On a clock of our own that moves a second every 50 ms, the budget
    // renews quickly; each read of the reply takes at most a quarter of
    // what is left of the second's budget.
    std::atomic<double> now{1000.0};
    NRBandwidthThrottle::shared().setClock([&now] { return now.load(); });
    const quint64 budget = 40000;
    NRHTTPRequest::setMaxBandwidthPerSecond(budget);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&now] { now = now + 1.0; });
    tick.start(50);
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=150000")));
    QList<qsizetype> reads;
    QByteArray body;
    r->setDataReceivedBlock([&](const QByteArray &piece) {
        reads << piece.size();
        body += piece;
    });
    const auto out = run(r, 60000);
    tick.stop();
    NRHTTPRequest::setMaxBandwidthPerSecond(0);
    NRBandwidthThrottle::shared().setClock({});
    EXPECT_EQ(out->finished, 1);
    EXPECT_EQ(body, pattern(150000));
    ASSERT_FALSE(reads.isEmpty());
    EXPECT_LE(*std::max_element(reads.begin(), reads.end()), qsizetype(budget / 4));
}
