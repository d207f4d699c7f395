#pragma once

// Shared by the web-page tests on the engine's fake (its pages and style
// sheets) and the fetchers' fake (the other origin, with answers held back
// until released).
#include "Net/NRWebPageRequest.h"
#include "Net/NetTestSupport.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QUrlQuery>

namespace WebPageTest {

inline QString otherOrigin() {
    return QStringLiteral("http://127.0.0.1:%1").arg(VNTest::peerState(QStringLiteral("hffetch"))[QStringLiteral("port")].toInt());
}

// A query item for a URL of a page of the fake (its text kept as it is).
inline void addURLItem(QUrlQuery &query, const QString &name, const QString &url) {
    query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(url)));
}

// A page of the engine's fake with an image for each reference and a style
// sheet for each sheet.
inline QUrl pageWith(const QStringList &refs, const QStringList &sheets = {}) {
    QUrlQuery query;
    for (const QString &ref : refs)
        addURLItem(query, QStringLiteral("ref"), ref);
    for (const QString &sheet : sheets)
        addURLItem(query, QStringLiteral("sheet"), sheet);
    QUrl url = NetTest::fake(QStringLiteral("/page"));
    url.setQuery(query);
    return url;
}

// A style sheet of the engine's fake naming each reference in a url(...).
inline QUrl sheetWith(const QStringList &refs) {
    QUrlQuery query;
    for (const QString &ref : refs)
        addURLItem(query, QStringLiteral("ref"), ref);
    QUrl url = NetTest::fake(QStringLiteral("/sheet"));
    url.setQuery(query);
    return url;
}

// A URL of the other origin whose answer ("held KEY", text/plain) waits
// until release(key); a key is held once.
inline QString heldURL(const QString &key) { return otherOrigin() + QStringLiteral("/hold?key=") + key; }

inline QString uniqueKey(const QString &tag) {
    static int count = 0;
    return tag + QLatin1Char('-') + QString::number(QDateTime::currentMSecsSinceEpoch()) + QLatin1Char('-') +
           QString::number(++count);
}

// Whether the other origin has been asked for the path (it logs every request).
inline bool otherOriginSaw(const QString &path) {
    auto log = NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/log")));
    NetTest::run(log);
    return log->responseString().contains(path);
}

inline void release(const QString &key) {
    NetTest::run(NRHTTPRequest::requestWithURL(QUrl(otherOrigin() + QStringLiteral("/release?key=") + key)));
}

// The values of every src, href and url(...) reference of a page or sheet.
inline QStringList references(const QString &text) {
    QStringList found;
    static const QRegularExpression pattern(QStringLiteral("(?:src|href)=\"([^\"]*)\"|url\\(['\"]?([^'\")]*)"));
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        found << (match.captured(1).isEmpty() ? match.captured(2) : match.captured(1));
    }
    return found;
}

// The bytes a data URL holds.
inline QByteArray dataOf(const QString &dataURL) {
    return QByteArray::fromBase64(dataURL.section(QLatin1Char(','), 1).toLatin1());
}

inline std::string errorText(const std::shared_ptr<NRHTTPRequest> &request) {
    return request->error() ? request->error()->localizedDescription().toStdString() : std::string();
}

}  // namespace WebPageTest
