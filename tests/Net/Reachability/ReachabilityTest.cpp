// Reachability: keys, the status for each set of flags, real targets from
// the routing table, and a change seen when the loopback link comes up in a
// network namespace of the test's own (through the route socket and through
// polling).
#include "Net/Reachability.h"
#include "Platform/VNNetworkRoutes.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class FixedFlags : public NRReachabilityRef {
public:
    explicit FixedFlags(quint32 flags, bool readable = true) : m_flags(flags), m_readable(readable) {}
    bool getFlags(quint32 *flags) const override {
        *flags = m_flags;
        return m_readable;
    }

private:
    quint32 m_flags;
    bool m_readable;
};

sockaddr_in address(const char *dotted) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, dotted, &a.sin_addr);
    return a;
}

using R = Reachability;

}  // namespace

TEST(Reachability, KeysAndEquality) {
    auto tenOne = R::reachabilityWithAddress(address("10.0.0.1"));
    ASSERT_TRUE(tenOne);
    EXPECT_EQ(tenOne->key(), "10.0.0.1");
    EXPECT_EQ(R::makeAddressKey(inet_addr("192.168.17.254")), "192.168.17.254");
    EXPECT_EQ(R::reachabilityForInternetConnection()->key(), "InternetConnection");
    EXPECT_EQ(R::reachabilityForLocalWiFi()->key(), "LocalWiFiConnection");
    auto a = R::reachabilityWithHostName("example.org");
    auto b = R::reachabilityWithHostName("example.org");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_FALSE(a->isEqual(*tenOne));
    EXPECT_FALSE(R::reachabilityWithHostName(QString()));
    EXPECT_EQ(std::string(R::kNetworkReachabilityChangedNotification), "NetworkReachabilityChangedNotification");
}

TEST(Reachability, StatusAndQueriesForEachSetOfFlags) {
    const quint32 reachable = R::kReachable, direct = R::kIsDirect, required = R::kConnectionRequired,
                  traffic = R::kConnectionOnTraffic, intervention = R::kInterventionRequired, wwan = R::kIsWWAN;
    struct Case {
        const char *key;
        quint32 flags;
        bool readable;
        R::NetworkStatus status;
        bool onDemand, interventionNeeded;
    };
    const std::vector<Case> cases{
        {"LocalWiFiConnection", reachable | direct, true, R::ReachableViaWiFi, false, false},
        {"LocalWiFiConnection", reachable, true, R::NotReachable, false, false},
        {"LocalWiFiConnection", direct, true, R::NotReachable, false, false},
        {"example.org", reachable, true, R::ReachableViaWiFi, false, false},  // a reachable host is reachable
        {"example.org", reachable | wwan, true, R::ReachableViaWWAN, false, false},
        {"example.org", direct, true, R::NotReachable, false, false},
        {"example.org", reachable, false, R::NotReachable, false, false},  // flags that cannot be read
        {"example.org", reachable | traffic, true, R::ReachableViaWiFi, false, false},
        {"example.org", reachable | required | traffic, true, R::ReachableViaWiFi, true, false},
        {"example.org", required | intervention, true, R::NotReachable, false, true},
        {"example.org", intervention, true, R::NotReachable, false, false},
    };
    for (const auto &c : cases) {
        R r(std::make_unique<FixedFlags>(c.flags, c.readable), QString::fromLatin1(c.key));
        const std::string what = std::string(c.key) + " " + std::to_string(c.flags);
        EXPECT_EQ(r.currentReachabilityStatus(), c.status) << what;
        EXPECT_EQ(r.isReachable(), c.status != R::NotReachable) << what;
        EXPECT_EQ(r.isReachableViaWiFi(), c.status == R::ReachableViaWiFi) << what;
        EXPECT_EQ(r.isReachableViaWWAN(), c.status == R::ReachableViaWWAN) << what;
        EXPECT_EQ(r.isConnectionOnDemand(), c.onDemand) << what;
        EXPECT_EQ(r.isInterventionRequired(), c.interventionNeeded) << what;
        EXPECT_EQ(r.connectionRequired(), c.readable && (c.flags & required)) << what;
        EXPECT_EQ(r.reachabilityFlags(), c.readable ? c.flags : 0u) << what;
    }
}

TEST(Reachability, ThisMachineIsReachedDirectly) {
    for (const auto &r : {R::reachabilityWithAddress(address("127.0.0.1")), R::reachabilityWithHostName("localhost")}) {
        EXPECT_TRUE(r->isReachable()) << r->key().toStdString();
        EXPECT_TRUE(r->reachabilityFlags() & R::kIsDirect) << r->key().toStdString();
        EXPECT_EQ(r->currentReachabilityStatus(), R::ReachableViaWiFi);
    }
}

namespace {

bool setLoopback(bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP);
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(fd);
    return ok;
}

// Moves the calling (main) thread into a network namespace of its own,
// whose loopback link starts down; back to the old one when destroyed.
class OwnNetworkNamespace {
public:
    OwnNetworkNamespace() {
        m_old = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        entered = m_old >= 0 && ::unshare(CLONE_NEWNET) == 0;
    }
    ~OwnNetworkNamespace() {
        if (entered)
            ::setns(m_old, CLONE_NEWNET);
        if (m_old >= 0)
            ::close(m_old);
    }
    bool entered = false;

private:
    int m_old = -1;
};

}  // namespace

TEST(Reachability, LoopbackComingUpIsNoticedThroughTheRouteSocketAndByPolling) {
    for (int pollingMs : {0, 100}) {
        OwnNetworkNamespace ns;
        ASSERT_TRUE(ns.entered) << "no network namespace: " << std::strerror(errno);
        VNRouteWatcher::setForcePolling(pollingMs);
        auto local = R::reachabilityWithAddress(address("127.0.0.1"));
        EXPECT_FALSE(local->isReachable()) << "the loopback link of a new namespace is down";
        int notices = 0;
        Reachability *noticed = nullptr;
        QObject::connect(local.get(), &R::networkReachabilityChanged, [&](Reachability *r) {
            ++notices;
            noticed = r;
        });
        ASSERT_TRUE(local->startNotifier());
        ASSERT_TRUE(setLoopback(true));
        EXPECT_TRUE(VNTest::waitUntil([&] { return notices > 0; }, 5000)) << "polling " << pollingMs;
        EXPECT_EQ(noticed, local.get());
        EXPECT_TRUE(local->isReachable());
        EXPECT_EQ(local->currentReachabilityStatus(), R::ReachableViaWiFi);
        // A default route (through the loopback link) makes the Internet reachable.
        auto internet = R::reachabilityForInternetConnection();
        EXPECT_FALSE(internet->isReachable());
        int internetNotices = 0;
        QObject::connect(internet.get(), &R::networkReachabilityChanged, [&](Reachability *) { ++internetNotices; });
        ASSERT_TRUE(internet->startNotifier());
        ASSERT_EQ(std::system("ip route add default dev lo"), 0);
        EXPECT_TRUE(VNTest::waitUntil([&] { return internetNotices > 0; }, 5000)) << "polling " << pollingMs;
        EXPECT_TRUE(internet->isReachable());
        // None after the notifier stops.
        internet->stopNotifier();
        local->stopNotifier();
        const int before = internetNotices + notices;
        ASSERT_EQ(std::system("ip route del default dev lo"), 0);
        ASSERT_TRUE(setLoopback(false));
        VNTest::spin(300);
        EXPECT_EQ(internetNotices + notices, before);
        EXPECT_FALSE(internet->isReachable());
        VNRouteWatcher::setForcePolling(0);
    }
}
