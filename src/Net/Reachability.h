#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <netinet/in.h>

class VNRouteWatcher;

// The target a Reachability object watches; answers the current flags.
class NRReachabilityRef {
public:
    virtual ~NRReachabilityRef() = default;
    // False when the flags cannot be read.
    virtual bool getFlags(quint32 *flags) const = 0;
};

// Whether a host name, an IPv4 address, the Internet (a default route) or
// the link-local network can be reached from this machine, from the
// routing table; and, once startNotifier() has run, a notice on that
// thread's event loop whenever the answer changes.
class Reachability : public QObject {
    Q_OBJECT
public:
    enum NetworkStatus { NotReachable = 0, ReachableViaWWAN = 1, ReachableViaWiFi = 2 };
    enum Flags : quint32 {
        kReachable = 2,
        kConnectionRequired = 4,
        kConnectionOnTraffic = 8,
        kInterventionRequired = 16,
        kIsDirect = 0x20000,
        kIsWWAN = 0x40000,  // reached over a wide-area (modem) link
    };

    static std::shared_ptr<Reachability> reachabilityWithHostName(const QString &hostName);
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr_in &address);
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();
    // The address (network byte order) as "a.b.c.d", most significant byte first.
    static QString makeAddressKey(in_addr_t address);

    explicit Reachability(std::unique_ptr<NRReachabilityRef> reachabilityRef, const QString &key = QString());
    ~Reachability() override;

    QString key() const;
    void setKey(const QString &key);

    bool startNotifier();
    void stopNotifier();

    NetworkStatus currentReachabilityStatus() const;
    bool isReachable() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    quint32 reachabilityFlags() const;
    NetworkStatus networkStatusForFlags(quint32 flags) const;
    bool isEqual(const Reachability &other) const;

    static const char *const kNetworkReachabilityChangedNotification;  // "NetworkReachabilityChangedNotification"
    static const char *const kInternetConnectionKey;                   // "InternetConnection"
    static const char *const kLocalWiFiConnectionKey;                  // "LocalWiFiConnection"

signals:
    // The notification, with this object; on the thread that started the notifier.
    void networkReachabilityChanged(Reachability *reachability);

private:
    bool readFlags(quint32 *flags, const char *method) const;
    void lookAgain();

    std::unique_ptr<NRReachabilityRef> m_reachabilityRef;
    mutable std::mutex m_keyMutex;
    QString m_key;
    std::unique_ptr<VNRouteWatcher> m_watcher;
    quint32 m_lastFlags = 0;
};
