#include "DA/HTTPFetcher/HFURLRequest.h"

#include "Platform/VNLog.h"

HFURLRequest::HFURLRequest(const QUrl &url, double timeoutInterval) : m_url(url), m_timeoutInterval(timeoutInterval) {}

QString HFURLRequest::httpMethod() const { return m_method.isEmpty() ? QStringLiteral("GET") : m_method; }

QString HFURLRequest::valueForHTTPHeaderField(const QString &name) const {
    for (const auto &field : m_headers)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    return {};
}

bool HFURLRequest::hasHeader(const QString &name) const {
    for (const auto &field : m_headers)
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool HFURLRequest::isSafeHeaderText(const QString &text) {
    for (QChar c : text)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            return false;
    return true;
}

bool HFURLRequest::setValue(const QString &value, const QString &name) {
    if (name.isEmpty() || !isSafeHeaderText(name) || !isSafeHeaderText(value)) {
        VNLog::log(QStringLiteral("HFURLRequest refused header field %1: control characters").arg(name.left(40)));
        return false;
    }
    if (value.isNull()) {
        removeHeader(name);
        return true;
    }
    for (auto &field : m_headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
            field.second = value;
            return true;
        }
    }
    m_headers.append({name, value});
    return true;
}

bool HFURLRequest::addValue(const QString &value, const QString &name) {
    const QString old = valueForHTTPHeaderField(name);
    if (old.isEmpty())
        return setValue(value, name);
    const QString joint = name.compare(QLatin1String("Cookie"), Qt::CaseInsensitive) == 0 ? QStringLiteral("; ")
                                                                                         : QStringLiteral(", ");
    return setValue(old + joint + value, name);
}

void HFURLRequest::removeHeader(const QString &name) {
    m_headers.removeIf([&](const QPair<QString, QString> &f) { return f.first.compare(name, Qt::CaseInsensitive) == 0; });
}
