#include "DA/HTTPFetcher/HFURLResponse.h"

HFURLResponse::HFURLResponse(QUrl url, int statusCode, QMap<QString, QString> headers, QByteArrayList setCookieLines)
    : m_url(std::move(url)), m_statusCode(statusCode), m_headers(std::move(headers)),
      m_setCookieLines(std::move(setCookieLines)) {}

QString HFURLResponse::valueForHeaderField(const QString &name) const {
    auto it = m_headers.constFind(canonicalHeaderName(name.toLatin1()));
    return it == m_headers.constEnd() ? QString() : it.value();
}

qint64 HFURLResponse::expectedContentLength() const {
    bool ok = false;
    const qint64 n = valueForHeaderField(QStringLiteral("Content-Length")).toLongLong(&ok);
    return ok ? n : -1;
}

QString HFURLResponse::canonicalHeaderName(QByteArrayView name) {
    QString out;
    out.reserve(name.size());
    bool wordStart = true;
    for (char c : name) {
        const QChar ch = QLatin1Char(c);
        out.append(wordStart ? ch.toUpper() : ch.toLower());
        wordStart = c == '-';
    }
    return out;
}

std::shared_ptr<const HFURLResponse> HFURLResponse::fromHeaderLines(const QUrl &url, int statusCode, const QByteArrayList &lines) {
    QMap<QString, QString> headers;
    QByteArrayList cookies;
    for (const QByteArray &raw : lines) {
        const qsizetype colon = raw.indexOf(':');
        if (colon <= 0)
            continue;
        const QString name = canonicalHeaderName(raw.first(colon).trimmed());
        const QString value = QString::fromUtf8(raw.sliced(colon + 1).trimmed());
        if (name == QLatin1String("Set-Cookie"))
            cookies.append(raw.sliced(colon + 1).trimmed());
        auto it = headers.find(name);
        if (it == headers.end())
            headers.insert(name, value);
        else
            it.value() += QStringLiteral(", ") + value;
    }
    return std::make_shared<HFURLResponse>(url, statusCode, headers, cookies);
}
