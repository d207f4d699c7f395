#pragma once

// The hostile server of tests/peers/hostile_fake.py: its origins and the log
// of what each of them received.
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QUrl>
#include <QUuid>
#include <gtest/gtest.h>

namespace Hostile {

inline QJsonObject state() { return VNTest::peerState(QStringLiteral("hostile")); }

// A fresh path prefix, so that a test finds its own requests in the log.
inline QString tag() { return QStringLiteral("/") + QUuid::createUuid().toString(QUuid::Id128).left(12); }

// origin "a" and "b": plain http on two ports; "tls": https (the test CA's
// certificate for localhost and 127.0.0.1), reached under the host given.
inline QUrl url(const QString &origin, const QString &pathAndQuery, const QString &host = QStringLiteral("127.0.0.1")) {
    const bool tls = origin == QLatin1String("tls");
    const int port = state()[QStringLiteral("port_") + origin].toInt();
    return QUrl(QStringLiteral("%1://%2:%3%4").arg(tls ? "https" : "http", host).arg(port).arg(pathAndQuery));
}

inline QString caFile() { return state()[QStringLiteral("ca_file")].toString(); }

// The log entries whose path holds the text, in the order received.
inline QList<QJsonObject> received(const QString &text) {
    QList<QJsonObject> out;
    QFile log(state()[QStringLiteral("log")].toString());
    if (!log.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry[QStringLiteral("path")].toString().contains(text))
            out << entry;
    }
    return out;
}

inline QString header(const QJsonObject &entry, const QString &name) {
    const QJsonObject headers = entry[QStringLiteral("headers")].toObject();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toString();
    return QString();
}

// What the server had sent of an endless body when the client hung up.
inline qint64 sentBeforeHangUp(const QString &tag) {
    qint64 sent = -1;
    EXPECT_TRUE(VNTest::waitUntil([&] {
        for (const QJsonObject &e : received(tag))
            if (e.contains(QStringLiteral("sent")))
                sent = e[QStringLiteral("sent")].toInteger();
        return sent >= 0;
    })) << "the client never hung up";
    return sent;
}

}  // namespace Hostile
