#pragma once

#include <QByteArrayList>
#include <QMap>
#include <QString>
#include <QUrl>
#include <memory>

// A response as the fetchers see it: URL, status and header fields. Names
// are in the canonical letter case ("Etag", "Gdata-Version", "Set-Cookie");
// fields sent several times are joined with ", ", and the raw "Set-Cookie"
// lines are also kept one by one for the cookie parser.
class HFURLResponse {
public:
    HFURLResponse(QUrl url, int statusCode, QMap<QString, QString> headers, QByteArrayList setCookieLines = {});

    QUrl url() const { return m_url; }
    // 0 for a response without HTTP status.
    int statusCode() const { return m_statusCode; }
    bool isHTTP() const { return m_statusCode > 0; }
    const QMap<QString, QString> &allHeaderFields() const { return m_headers; }
    QString valueForHeaderField(const QString &name) const;
    const QByteArrayList &setCookieLines() const { return m_setCookieLines; }
    qint64 expectedContentLength() const;

    // A response from the raw "Name: value" lines a server sent.
    static std::shared_ptr<const HFURLResponse> fromHeaderLines(const QUrl &url, int statusCode, const QByteArrayList &lines);
    // "etag" -> "Etag", "GDATA-VERSION" -> "Gdata-Version".
    static QString canonicalHeaderName(QByteArrayView name);

private:
    QUrl m_url;
    int m_statusCode;
    QMap<QString, QString> m_headers;
    QByteArrayList m_setCookieLines;
};

using HFURLResponsePtr = std::shared_ptr<const HFURLResponse>;
