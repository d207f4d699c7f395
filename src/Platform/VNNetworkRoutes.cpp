#include "Platform/VNNetworkRoutes.h"

#include "Platform/VNLog.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<int> g_forcePollingMs{0};

int openRouteSocket(unsigned groups) {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

namespace {

// Reads a route message into route; false for a route that leads nowhere.
bool readRoute(nlmsghdr *header, VNRoute *route) {
    auto *message = static_cast<rtmsg *>(NLMSG_DATA(header));
    if (message->rtm_type == RTN_UNREACHABLE || message->rtm_type == RTN_PROHIBIT ||
        message->rtm_type == RTN_BLACKHOLE || message->rtm_type == RTN_THROW)
        return false;
    route->reachable = true;
    route->direct = true;
    int attributesLength = static_cast<int>(RTM_PAYLOAD(header));
    for (auto *a = RTM_RTA(message); RTA_OK(a, attributesLength); a = RTA_NEXT(a, attributesLength)) {
        if (a->rta_type == RTA_GATEWAY) {
            route->direct = false;
        } else if (a->rta_type == RTA_OIF) {
            char name[IF_NAMESIZE] = {};
            if (if_indextoname(*static_cast<int *>(RTA_DATA(a)), name))
                route->interfaceName = QString::fromLatin1(name);
        }
    }
    return true;
}

// The IPv4 default route, from a dump of the routing tables. (A route
// lookup of 0.0.0.0 would answer "this machine".)
VNRoute defaultRoute() {
    VNRoute route;
    struct {
        nlmsghdr header;
        rtmsg message;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.rtm_family = AF_INET;
    const int fd = openRouteSocket(0);
    if (fd < 0)
        return route;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return route;
    }
    std::vector<char> reply(32768);
    for (bool done = false; !done;) {
        const ssize_t n = ::recv(fd, reply.data(), reply.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        int remaining = static_cast<int>(n);
        for (auto *header = reinterpret_cast<nlmsghdr *>(reply.data()); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            auto *message = static_cast<rtmsg *>(NLMSG_DATA(header));
            if (header->nlmsg_type == RTM_NEWROUTE && message->rtm_dst_len == 0 &&
                message->rtm_table != RT_TABLE_LOCAL && !route.reachable) {
                VNRoute found;
                if (readRoute(header, &found))
                    route = found;
            }
        }
    }
    ::close(fd);
    return route;
}

}  // namespace

VNRoute VNNetworkRoutes::routeTo(const sockaddr *address) {
    VNRoute route;
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
        return route;
    const bool v4 = address->sa_family == AF_INET;
    if (v4 && reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr == htonl(INADDR_ANY))
        return defaultRoute();
    const void *bytes = v4 ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in *>(address)->sin_addr)
                           : static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr);
    const int length = v4 ? 4 : 16;

    struct {
        nlmsghdr header;
        rtmsg message;
        char attributes[64];
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.message.rtm_family = address->sa_family;
    request.message.rtm_dst_len = v4 ? 32 : 128;
    auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(&request) + NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = RTA_DST;
    attribute->rta_len = RTA_LENGTH(length);
    std::memcpy(RTA_DATA(attribute), bytes, length);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);

    const int fd = openRouteSocket(0);
    if (fd < 0)
        return route;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return route;
    }
    char reply[8192];
    ssize_t n;
    do {
        n = ::recv(fd, reply, sizeof reply, 0);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return route;
    int remaining = static_cast<int>(n);
    for (auto *header = reinterpret_cast<nlmsghdr *>(reply); NLMSG_OK(header, remaining);
         header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_type == NLMSG_ERROR)
            return route;  // no route (ENETUNREACH and the like)
        if (header->nlmsg_type != RTM_NEWROUTE)
            continue;
        if (!readRoute(header, &route))
            return VNRoute();
        return route;
    }
    return route;
}

VNRouteWatcher::VNRouteWatcher(int pollIntervalMs, QObject *parent)
    : QObject(parent), m_pollIntervalMs(pollIntervalMs) {}

VNRouteWatcher::~VNRouteWatcher() {
    stop();
}

void VNRouteWatcher::setForcePolling(int intervalMs) {
    g_forcePollingMs.store(intervalMs);
}

bool VNRouteWatcher::start() {
    if (isRunning())
        return true;
    const int forcedMs = g_forcePollingMs.load();
    if (forcedMs > 0)
        m_pollIntervalMs = forcedMs;
    else
        m_fd = openRouteSocket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR |
                               RTMGRP_IPV6_ROUTE);
    if (m_fd >= 0) {
        m_polling = false;
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readMessages(); });
        return true;
    }
    // No route socket here: look again now and then.
    VNLog::log(QStringLiteral("VNRouteWatcher polls every %1 ms").arg(m_pollIntervalMs));
    m_polling = true;
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(m_pollIntervalMs);
    connect(m_timer.get(), &QTimer::timeout, this, &VNRouteWatcher::changed);
    m_timer->start();
    return true;
}

void VNRouteWatcher::stop() {
    m_notifier.reset();
    m_timer.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool VNRouteWatcher::isRunning() const {
    return m_notifier || m_timer;
}

void VNRouteWatcher::readMessages() {
    char buffer[16384];
    bool any = false;
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ENOBUFS) {
            any = true;  // messages were lost: look again anyway
            continue;
        }
        break;
    }
    if (any)
        emit changed();
}
