#include "DA/Upload/HFMIMEDocument.h"

#include <QRandomGenerator>
#include <algorithm>

HFMIMEPart::HFMIMEPart(const QList<QPair<QString, QString>> &headers, QByteArray body) : m_body(std::move(body)) {
    QList<QPair<QString, QString>> sorted = headers;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) {
        return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
    });
    QString block;
    for (const auto &h : sorted)
        block += QStringLiteral("%1: %2\r\n").arg(h.first, h.second);
    block += QStringLiteral("\r\n");
    m_header = block.toUtf8();
}

bool HFMIMEDocument::addPartWithHeaders(const QList<QPair<QString, QString>> &headers, const QByteArray &body) {
    auto breaks = [](const QString &text) { return text.contains(u'\r') || text.contains(u'\n'); };
    for (const auto &[name, value] : headers) {
        if (breaks(name) || breaks(value))
            return false;
    }
    m_parts.append(HFMIMEPart(headers, body));
    return true;
}

quint32 HFMIMEDocument::random() {
    if (m_randomSeed == 0)
        return QRandomGenerator::system()->generate();
    return m_randomSeed++;
}

bool HFMIMEDocument::collides(const QString &candidate) const {
    const QByteArray bytes = candidate.toUtf8();
    return std::any_of(m_parts.begin(), m_parts.end(), [&](const HFMIMEPart &p) { return p.containsBytes(bytes); });
}

QString HFMIMEDocument::uniqueBoundary() {
    const QString base = QStringLiteral("END_OF_PART");
    QString candidate = base;
    for (int tries = 0; tries < 10; ++tries) {
        if (!collides(candidate))
            return candidate;
        candidate = QStringLiteral("%1_%2").arg(base).arg(random(), 8, 16, QLatin1Char('0'));
    }
    // Ten collisions: a fresh form, tested as well, so the boundary never
    // occurs in a part (a boundary inside a part would cut it short).
    for (;;) {
        candidate = QStringLiteral("%1_marlune_%2").arg(random(), 8, 16, QLatin1Char('0')).arg(random(), 8, 16, QLatin1Char('0'));
        if (!collides(candidate))
            return candidate;
    }
}

HFMIMEDocument::Body HFMIMEDocument::generateInputStream() {
    Body body;
    body.boundary = uniqueBoundary();
    const QByteArray separator = QStringLiteral("\r\n--%1\r\n").arg(body.boundary).toUtf8();
    const QByteArray end = QStringLiteral("\r\n--%1--\r\n").arg(body.boundary).toUtf8();
    QList<QByteArray> buffers;
    for (const HFMIMEPart &p : m_parts) {
        buffers << separator << p.header() << p.body();
        body.length += separator.size() + p.length();
    }
    buffers << end;
    body.length += end.size();
    body.stream = HFGatherInputStream::streamWithArray(std::move(buffers));
    return body;
}
