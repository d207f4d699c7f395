#pragma once

// Shared by the fetcher tests: the fake's address, its request log, and
// running a fetch to its end on the main loop.
#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <gtest/gtest.h>

namespace FetchTest {

inline int port() { return VNTest::peerState(QStringLiteral("hffetch"))[QStringLiteral("port")].toInt(); }

// host: "127.0.0.1" or "localhost" (two names for two cookie sites).
inline QUrl fake(const QString &pathAndQuery, const QString &host = QStringLiteral("127.0.0.1")) {
    return QUrl(QStringLiteral("http://%1:%2%3").arg(host).arg(port()).arg(pathAndQuery));
}

inline QString tag() { return QUuid::createUuid().toString(QUuid::Id128).left(12); }

// The fake's log entries whose path holds the text.
inline QJsonArray requestsMatching(const QString &text) {
    QJsonArray out;
    auto fetcher = HFHTTPFetcher::fetcherWithURL(fake(QStringLiteral("/log")));
    bool done = false;
    QByteArray body;
    fetcher->beginFetchWithCompletionHandler([&](const QByteArray &data, const VNErrorPtr &) { body = data; done = true; });
    VNTest::waitUntil([&] { return done; });
    for (const auto &entry : QJsonDocument::fromJson(body).array())
        if (entry.toObject()[QStringLiteral("path")].toString().contains(text))
            out.append(entry);
    return out;
}

struct Result {
    int calls = 0;
    QByteArray data;
    VNErrorPtr error;
};

// Begins the fetch with a completion block and runs the loop until it has
// been called (then a little longer: a second call would show).
inline std::shared_ptr<Result> run(const std::shared_ptr<HFHTTPFetcher> &fetcher, int timeoutMs = 20000) {
    auto result = std::make_shared<Result>();
    fetcher->beginFetchWithCompletionHandler([result](const QByteArray &data, const VNErrorPtr &error) {
        ++result->calls;
        result->data = data;
        result->error = error;
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return result->calls > 0; }, timeoutMs)) << "fetch never ended";
    VNTest::spin(30);
    return result;
}

inline QJsonObject json(const QByteArray &data) { return QJsonDocument::fromJson(data).object(); }

inline qint64 code(const VNErrorPtr &e) { return e ? e->code() : 0; }

}  // namespace FetchTest
