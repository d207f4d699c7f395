#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

// One service announced on the local network, as the discovery reports it:
// found (name, type, domain, on one interface and protocol), then resolved
// (host name, port and socket addresses).
struct QNNetService {
    QString name;
    QString type;
    QString domain;
    int interfaceIndex = -1;
    int protocol = -1;  // the announcing protocol (IPv4 or IPv6 link), -1 when unknown

    QString hostName;
    quint16 port = 0;
    // Raw sockaddr_in / sockaddr_in6 bytes, port included, in resolution order.
    QList<QByteArray> socketAddresses;

    // The same announcement: name, type, domain, interface and protocol.
    bool isSameAnnouncement(const QNNetService &other) const {
        return name == other.name && type == other.type && domain == other.domain &&
               interfaceIndex == other.interfaceIndex && protocol == other.protocol;
    }

    // Socket address bytes for an address in text form ("192.168.1.5",
    // "fe80::1") with a port and, for IPv6, an interface index as scope.
    static QByteArray socketAddress(const QString &address, quint16 port, int scopeInterface = 0);
};

Q_DECLARE_METATYPE(QNNetService)
