#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <sys/socket.h>

class QSocketNotifier;
class QTimer;

// What the kernel's routing table says about one destination.
struct VNRoute {
    bool reachable = false;  // some route leads there
    bool direct = false;     // on a link of this machine (no gateway), or this machine itself
    QString interfaceName;   // the outgoing interface, when known
};

namespace VNNetworkRoutes {

// Asks the routing table (a netlink route query, nothing is sent on the
// network) for the route to an IPv4 or IPv6 address; for 0.0.0.0, the
// default route.
VNRoute routeTo(const sockaddr *address);

}  // namespace VNNetworkRoutes

// Tells when links, addresses or routes of this machine change: a netlink
// socket subscribed to those groups, read on the thread that made the
// watcher. Where the socket cannot be had, a timer asks the caller to look
// again every pollIntervalMs instead.
class VNRouteWatcher : public QObject {
    Q_OBJECT
public:
    explicit VNRouteWatcher(int pollIntervalMs = 2000, QObject *parent = nullptr);
    ~VNRouteWatcher() override;

    bool start();
    void stop();
    bool isRunning() const;
    bool usesPolling() const { return m_polling; }

    // Test seam: every watcher started afterwards polls, at this interval
    // (0: back to the route socket).
    static void setForcePolling(int intervalMs);

signals:
    // Something may have changed: look again.
    void changed();

private:
    void readMessages();

    int m_fd = -1;
    int m_pollIntervalMs;
    bool m_polling = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<QTimer> m_timer;
};
