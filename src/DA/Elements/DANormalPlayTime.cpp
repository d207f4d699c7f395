#include "DA/Elements/DANormalPlayTime.h"

#include <algorithm>

namespace {

constexpr qint64 maximumSeconds = Q_INT64_C(1000000000000);

// A scanner's integer at i (blanks skipped); false when none.
bool readInteger(const QString &s, qsizetype &i, qint64 &out) {
    while (i < s.size() && s[i].isSpace())
        ++i;
    qsizetype j = i;
    bool negative = false;
    if (j < s.size() && (s[j] == QLatin1Char('+') || s[j] == QLatin1Char('-')))
        negative = s[j++] == QLatin1Char('-');
    const qsizetype start = j;
    qint64 v = 0;
    while (j < s.size() && s[j].unicode() >= '0' && s[j].unicode() <= '9') {
        if (v < Q_INT64_C(1000000000000))
            v = v * 10 + (s[j].unicode() - '0');
        ++j;
    }
    if (j == start)
        return false;
    out = negative ? -v : v;
    i = j;
    return true;
}

bool readRun(const QString &s, qsizetype &i, QChar c) {
    while (i < s.size() && s[i].isSpace())
        ++i;
    const qsizetype start = i;
    while (i < s.size() && s[i] == c)
        ++i;
    return i > start;
}

}  // namespace

void DANormalPlayTime::setFromString(const QString &text) {
    if (text.trimmed().compare(QLatin1String("now"), Qt::CaseInsensitive) == 0) {
        m_offset = -1;
        return;
    }
    qsizetype i = 0;
    qint64 seconds = 0, n = 0;
    // A text that does not start with a number is no time at all: 0, even
    // when a fraction such as ".5" follows.
    if (!readInteger(text, i, n)) {
        m_offset = 0;
        return;
    }
    seconds = std::clamp<qint64>(n, -maximumSeconds, maximumSeconds);
    for (int k = 0; k < 2; ++k) {
        qsizetype j = i;
        if (!readRun(text, j, QLatin1Char(':')) || !readInteger(text, j, n))
            break;
        // Held below a bound (about 30,000 years) so that the offset in
        // milliseconds never overflows, whatever a reply writes.
        seconds = std::clamp<qint64>(seconds * 60 + n, -maximumSeconds, maximumSeconds);
        i = j;
    }
    qint64 ms = 0;
    qsizetype j = i;
    if (readRun(text, j, QLatin1Char('.'))) {
        QString digits;
        while (j < text.size() && text[j].unicode() >= '0' && text[j].unicode() <= '9' && digits.size() < 3)
            digits += text[j++];
        if (!digits.isEmpty())
            ms = (digits + QString(3 - digits.size(), QLatin1Char('0'))).toLongLong();
    }
    m_offset = seconds * 1000 + ms;
}

QString DANormalPlayTime::HHMMSSString() const {
    if (isNow())
        return QStringLiteral("now");
    const qint64 h = m_offset / 3600000, m = (m_offset / 60000) % 60, s = (m_offset / 1000) % 60, ms = m_offset % 1000;
    if (ms <= 0)
        return QString::asprintf("%lld:%02lld:%02lld", (long long)h, (long long)m, (long long)s);
    return QString::asprintf("%lld:%02lld:%02lld.%03lld", (long long)h, (long long)m, (long long)s, (long long)ms);
}

QString DANormalPlayTime::secondsString() const {
    if (isNow())
        return QStringLiteral("now");
    const qint64 ms = m_offset % 1000;
    if (ms == 0)
        return QString::number(m_offset / 1000);
    return QString::asprintf("%lld.%03lld", (long long)(m_offset / 1000), (long long)ms);
}

QString DANormalPlayTime::description() const {
    return QStringLiteral("DANormalPlayTime %1: {%2}").arg(quintptr(this), 0, 16).arg(HHMMSSString());
}
