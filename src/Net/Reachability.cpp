#include "Net/Reachability.h"

#include "Platform/VNLog.h"
#include "Platform/VNNetworkRoutes.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>

const char *const Reachability::kNetworkReachabilityChangedNotification = "NetworkReachabilityChangedNotification";
const char *const Reachability::kInternetConnectionKey = "InternetConnection";
const char *const Reachability::kLocalWiFiConnectionKey = "LocalWiFiConnection";

namespace {

quint32 flagsForRoute(const VNRoute &route) {
    if (!route.reachable)
        return 0;
    quint32 flags = Reachability::kReachable;
    if (route.direct)
        flags |= Reachability::kIsDirect;
    // Modem and mobile-broadband links by their usual interface names.
    const QString name = route.interfaceName;
    if (name.startsWith(QLatin1String("ppp")) || name.startsWith(QLatin1String("wwan")) ||
        name.startsWith(QLatin1String("wwp")))
        flags |= Reachability::kIsWWAN;
    return flags;
}

class AddressRef : public NRReachabilityRef {
public:
    explicit AddressRef(const sockaddr_in &address) : m_address(address) {}
    bool getFlags(quint32 *flags) const override {
        *flags = flagsForRoute(VNNetworkRoutes::routeTo(reinterpret_cast<const sockaddr *>(&m_address)));
        return true;
    }

private:
    sockaddr_in m_address;
};

// A host by name: its addresses as the resolver gives them now, the first
// one with a route decides.
class HostNameRef : public NRReachabilityRef {
public:
    explicit HostNameRef(QByteArray name) : m_name(std::move(name)) {}
    bool getFlags(quint32 *flags) const override {
        *flags = 0;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (::getaddrinfo(m_name.constData(), nullptr, &hints, &found) != 0)
            return true;  // no address: not reachable
        for (addrinfo *a = found; a; a = a->ai_next) {
            const quint32 f = flagsForRoute(VNNetworkRoutes::routeTo(a->ai_addr));
            if (f & Reachability::kReachable) {
                *flags = f;
                break;
            }
        }
        ::freeaddrinfo(found);
        return true;
    }

private:
    QByteArray m_name;
};

sockaddr_in ipv4(in_addr_t networkOrder) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = networkOrder;
    return address;
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostName(const QString &hostName) {
    if (hostName.isEmpty())
        return nullptr;
    return std::make_shared<Reachability>(std::make_unique<HostNameRef>(hostName.toUtf8()), hostName);
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr_in &address) {
    if (address.sin_family != AF_INET)
        return nullptr;
    return std::make_shared<Reachability>(std::make_unique<AddressRef>(address),
                                          makeAddressKey(address.sin_addr.s_addr));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    // 0.0.0.0 is matched by the default route only.
    return std::make_shared<Reachability>(std::make_unique<AddressRef>(ipv4(htonl(INADDR_ANY))),
                                          QString::fromLatin1(kInternetConnectionKey));
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    return std::make_shared<Reachability>(std::make_unique<AddressRef>(ipv4(htonl(0xA9FE0000))),  // 169.254.0.0
                                          QString::fromLatin1(kLocalWiFiConnectionKey));
}

QString Reachability::makeAddressKey(in_addr_t address) {
    const quint32 host = ntohl(address);
    return QStringLiteral("%1.%2.%3.%4")
        .arg((host >> 24) & 0xff)
        .arg((host >> 16) & 0xff)
        .arg((host >> 8) & 0xff)
        .arg(host & 0xff);
}

Reachability::Reachability(std::unique_ptr<NRReachabilityRef> reachabilityRef, const QString &key)
    : m_reachabilityRef(std::move(reachabilityRef)), m_key(key) {}

Reachability::~Reachability() {
    stopNotifier();
    m_reachabilityRef.reset();
    setKey(QString());
}

QString Reachability::key() const {
    std::lock_guard lock(m_keyMutex);
    return m_key;
}

void Reachability::setKey(const QString &key) {
    std::lock_guard lock(m_keyMutex);
    m_key = key;
}

bool Reachability::startNotifier() {
    if (!m_reachabilityRef)
        return false;
    if (m_watcher)
        return true;
    m_watcher = std::make_unique<VNRouteWatcher>();
    connect(m_watcher.get(), &VNRouteWatcher::changed, this, [this] { lookAgain(); });
    m_lastFlags = reachabilityFlags();
    if (!m_watcher->start()) {
        m_watcher.reset();
        return false;
    }
    return true;
}

void Reachability::stopNotifier() {
    m_watcher.reset();
}

void Reachability::lookAgain() {
    const quint32 flags = reachabilityFlags();
    if (flags == m_lastFlags)
        return;
    m_lastFlags = flags;
    emit networkReachabilityChanged(this);
}

bool Reachability::readFlags(quint32 *flags, const char *method) const {
    *flags = 0;
    if (!m_reachabilityRef) {
        VNLog::log(QStringLiteral("%1 called with NULL reachabilityRef").arg(QLatin1String(method)));
        Q_ASSERT_X(false, method, "called with NULL reachabilityRef");
        return false;
    }
    return m_reachabilityRef->getFlags(flags);
}

Reachability::NetworkStatus Reachability::currentReachabilityStatus() const {
    quint32 flags;
    return readFlags(&flags, "currentReachabilityStatus") ? networkStatusForFlags(flags) : NotReachable;
}

bool Reachability::isReachable() const {
    quint32 flags;
    return readFlags(&flags, "isReachable") && networkStatusForFlags(flags) != NotReachable;
}

bool Reachability::isReachableViaWWAN() const {
    quint32 flags;
    return readFlags(&flags, "isReachableViaWWAN") && networkStatusForFlags(flags) == ReachableViaWWAN;
}

bool Reachability::isReachableViaWiFi() const {
    quint32 flags;
    return readFlags(&flags, "isReachableViaWiFi") && networkStatusForFlags(flags) == ReachableViaWiFi;
}

bool Reachability::isConnectionRequired() const {
    quint32 flags;
    return readFlags(&flags, "isConnectionRequired") && (flags & kConnectionRequired);
}

bool Reachability::isConnectionOnDemand() const {
    quint32 flags;
    return readFlags(&flags, "isConnectionIsOnDemand") && (flags & kConnectionRequired) &&
           (flags & kConnectionOnTraffic);
}

bool Reachability::isInterventionRequired() const {
    quint32 flags;
    return readFlags(&flags, "isInterventionRequired") && (flags & kConnectionRequired) &&
           (flags & kInterventionRequired);
}

quint32 Reachability::reachabilityFlags() const {
    quint32 flags;
    return readFlags(&flags, "reachabilityFlags") ? flags : 0;
}

Reachability::NetworkStatus Reachability::networkStatusForFlags(quint32 flags) const {
    if (!(flags & kReachable))
        return NotReachable;
    // The link-local object is told by its key's value.
    if (key() == QLatin1String(kLocalWiFiConnectionKey))
        return (flags & kIsDirect) ? ReachableViaWiFi : NotReachable;
    // Everything else: a wide-area link, or the local network.
    return (flags & kIsWWAN) ? ReachableViaWWAN : ReachableViaWiFi;
}

bool Reachability::isEqual(const Reachability &other) const {
    return key() == other.key();
}
