#include "QNFakeServiceDiscovery.h"

static QList<QPointer<QNFakeServiceDiscovery>> &allFakes() {
    static QList<QPointer<QNFakeServiceDiscovery>> fakes;
    return fakes;
}

void QNFakeServiceDiscovery::install() {
    QNServiceDiscovery::setFactory([] { return std::make_unique<QNFakeServiceDiscovery>(); });
}

QList<QNFakeServiceDiscovery *> QNFakeServiceDiscovery::instances() {
    QList<QNFakeServiceDiscovery *> list;
    for (const auto &f : allFakes())
        if (f)
            list << f.data();
    return list;
}

QNFakeServiceDiscovery::QNFakeServiceDiscovery() { allFakes() << this; }
QNFakeServiceDiscovery::~QNFakeServiceDiscovery() = default;

void QNFakeServiceDiscovery::searchForServices(const QString &type, const QString &) {
    m_searching = true;
    m_type = type;
}

void QNFakeServiceDiscovery::resolve(const QNNetService &service, int timeoutMs) {
    m_pending << ResolveRequest{service, timeoutMs};
}

QNNetService QNFakeServiceDiscovery::service(const QString &name, int protocol, int interfaceIndex) {
    QNNetService s;
    s.name = name;
    s.type = QStringLiteral("_webdav._tcp");
    s.domain = QStringLiteral("local");
    s.protocol = protocol;
    s.interfaceIndex = interfaceIndex;
    return s;
}

void QNFakeServiceDiscovery::announce(const QNNetService &service) { emit serviceFound(service, false); }
void QNFakeServiceDiscovery::withdraw(const QNNetService &service) { emit serviceRemoved(service, false); }

int QNFakeServiceDiscovery::takePending(const QNNetService &service) {
    for (int i = 0; i < m_pending.size(); ++i)
        if (m_pending[i].service.isSameAnnouncement(service))
            return i;
    return -1;
}

bool QNFakeServiceDiscovery::answerResolve(const QNNetService &service, const QString &address, quint16 port) {
    const int i = takePending(service);
    if (i < 0)
        return false;
    QNNetService resolved = m_pending.takeAt(i).service;
    resolved.hostName = resolved.name + QStringLiteral(".local");
    resolved.port = port;
    resolved.socketAddresses << QNNetService::socketAddress(address, port, resolved.interfaceIndex);
    emit serviceResolved(resolved);
    return true;
}

bool QNFakeServiceDiscovery::failResolve(const QNNetService &service) {
    const int i = takePending(service);
    if (i < 0)
        return false;
    emit serviceNotResolved(m_pending.takeAt(i).service, QStringLiteral("timed out"));
    return true;
}
