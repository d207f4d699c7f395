#pragma once

#include "DA/HTTPFetcher/HFInputStream.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <memory>

// A request the fetchers send: URL, method, header fields (looked up in any
// letter case, kept in the spelling given), body bytes or a body stream, the
// idle time-out and the cache policy.
class HFURLRequest {
public:
    // Reload ignoring any local cache (the only policy the fetch history sets).
    static constexpr int ReloadIgnoringLocalCacheData = 1;

    HFURLRequest() = default;
    explicit HFURLRequest(const QUrl &url, double timeoutInterval = 60.0);

    QUrl url() const { return m_url; }
    void setURL(const QUrl &url) { m_url = url; }
    // "GET" when none was set.
    QString httpMethod() const;
    bool hasHTTPMethod() const { return !m_method.isEmpty(); }
    void setHTTPMethod(const QString &method) { m_method = method; }

    QString valueForHTTPHeaderField(const QString &name) const;
    bool hasHeader(const QString &name) const;
    // Sets (or, with a null value, removes) a field. Names and values holding
    // CR, LF or NUL are refused (answer false): they would split the request.
    bool setValue(const QString &value, const QString &name);
    // Adds to an existing field ("a, b"; cookies join with "; ").
    bool addValue(const QString &value, const QString &name);
    void removeHeader(const QString &name);
    const QList<QPair<QString, QString>> &allHTTPHeaderFields() const { return m_headers; }

    QByteArray httpBody() const { return m_body; }
    void setHTTPBody(const QByteArray &body) { m_body = body; }
    std::shared_ptr<HFInputStream> httpBodyStream() const { return m_bodyStream; }
    void setHTTPBodyStream(std::shared_ptr<HFInputStream> stream) { m_bodyStream = std::move(stream); }

    // Seconds without any traffic after which the fetch fails (not a limit on
    // the whole fetch).
    double timeoutInterval() const { return m_timeoutInterval; }
    void setTimeoutInterval(double seconds) { m_timeoutInterval = seconds; }
    int cachePolicy() const { return m_cachePolicy; }
    void setCachePolicy(int policy) { m_cachePolicy = policy; }

    static bool isSafeHeaderText(const QString &text);

private:
    QUrl m_url;
    QString m_method;
    QList<QPair<QString, QString>> m_headers;
    QByteArray m_body;
    std::shared_ptr<HFInputStream> m_bodyStream;
    double m_timeoutInterval = 60.0;
    int m_cachePolicy = 0;
};
