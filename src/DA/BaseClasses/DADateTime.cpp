#include "DA/BaseClasses/DADateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Reads tokens one after the other, skipping blanks before each; the first
// failure stops the reading.
class Scanner {
public:
    explicit Scanner(const QString &text) : m_text(text) {}

    bool integer(qint64 &out) {
        if (!m_ok)
            return false;
        skip();
        qsizetype i = m_pos;
        bool negative = false;
        if (i < m_text.size() && (m_text[i] == QLatin1Char('+') || m_text[i] == QLatin1Char('-')))
            negative = m_text[i++] == QLatin1Char('-');
        const qsizetype digitsStart = i;
        qint64 value = 0;
        while (i < m_text.size() && m_text[i].isDigit() && m_text[i].unicode() < 128) {
            // Clamped, as a lenient reader does on overflow.
            value = value > (std::numeric_limits<qint64>::max() - 9) / 10 ? std::numeric_limits<qint64>::max()
                                                                           : value * 10 + (m_text[i].unicode() - '0');
            ++i;
        }
        if (i == digitsStart)
            return m_ok = false;
        out = negative ? -value : value;
        m_pos = i;
        return true;
    }

    bool decimal(float &out) {
        if (!m_ok)
            return false;
        skip();
        qsizetype i = m_pos;
        if (i < m_text.size() && (m_text[i] == QLatin1Char('+') || m_text[i] == QLatin1Char('-')))
            ++i;
        bool any = false;
        while (i < m_text.size() && m_text[i].unicode() >= '0' && m_text[i].unicode() <= '9')
            ++i, any = true;
        if (i < m_text.size() && m_text[i] == QLatin1Char('.')) {
            ++i;
            while (i < m_text.size() && m_text[i].unicode() >= '0' && m_text[i].unicode() <= '9')
                ++i, any = true;
        }
        if (!any)
            return m_ok = false;
        out = std::strtof(m_text.mid(m_pos, i - m_pos).toLatin1().constData(), nullptr);
        m_pos = i;
        return true;
    }

    bool run(const char *set, QString *out = nullptr) {
        if (!m_ok)
            return false;
        // Blanks that the run itself may hold are its own (a blank between
        // date and time is the separator, not something to skip).
        skip(set);
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && inSet(m_text[m_pos], set))
            ++m_pos;
        if (m_pos == start)
            return m_ok = false;
        if (out)
            *out = m_text.mid(start, m_pos - start);
        return true;
    }

private:
    void skip(const char *keep = "") {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace() && !inSet(m_text[m_pos], keep))
            ++m_pos;
    }

    static bool inSet(QChar c, const char *set) {
        return c.unicode() != 0 && c.unicode() < 128 && std::strchr(set, char(c.unicode()));
    }

    const QString &m_text;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

bool isUniversalZone(const QTimeZone &zone) {
    return zone.id() == "UTC" || zone.id() == "Universal" || zone.id() == "Etc/UTC" || zone.id() == "Etc/Universal";
}

bool fitsInt(qint64 v) { return v != DADateTime::undefined && v >= -100000 && v <= 100000; }

}  // namespace

DADateTimePtr DADateTime::dateTimeWithRFC3339String(const QString &text) {
    auto value = std::make_shared<DADateTime>();
    value->setFromRFC3339String(text);
    return value;
}

DADateTimePtr DADateTime::dateTimeWithDate(const QDateTime &date, const std::optional<QTimeZone> &zone) {
    auto value = std::make_shared<DADateTime>();
    value->setFromDate(date, zone);
    return value;
}

void DADateTime::setFromRFC3339String(const QString &text) {
    qint64 year = undefined, month = undefined, day = undefined, hour = undefined, minute = undefined;
    float seconds = -1.0f;
    qint64 offsetHours = 0, offsetMinutes = 0;
    QString designator;
    Scanner s(text);
    s.integer(year) && s.run("-") && s.integer(month) && s.run("-") && s.integer(day) && s.run("Tt ") &&
        s.integer(hour) && s.run(":") && s.integer(minute) && s.run(":") && s.decimal(seconds) &&
        s.run("+-zZ", &designator) && s.integer(offsetHours) && s.run(":") && s.integer(offsetMinutes);

    Components c;
    c.year = year;
    c.month = month;
    c.day = day;
    c.hour = hour;
    c.minute = minute;
    // Seconds beyond any integer (an overlong digit run reads as infinity)
    // are held at a bound, far outside every real date, instead of being
    // converted with undefined results.
    c.second = seconds == -1.0f ? undefined : qint64(std::clamp(std::trunc(double(seconds)), -1e15, 1e15));
    m_components = c;
    m_timeZone.reset();
    m_isUniversalTime = false;
    if (designator.isNull() || designator.compare(QLatin1String("Z"), Qt::CaseInsensitive) == 0) {
        m_isUniversalTime = true;
        m_offsetSeconds = 0;
        return;
    }
    // Clamp before multiplying: the fields are read from untrusted text.
    offsetHours = std::clamp<qint64>(offsetHours, -1000000, 1000000);
    offsetMinutes = std::clamp<qint64>(offsetMinutes, -1000000, 1000000);
    m_offsetSeconds = offsetHours * 3600 + offsetMinutes * 60;
    if (designator == QLatin1String("-")) {
        m_offsetSeconds = -m_offsetSeconds;
        if (m_offsetSeconds == 0)
            m_offsetSeconds = undefined;  // "-00:00": the local offset is unknown
    }
}

void DADateTime::setFromDate(const QDateTime &date, const std::optional<QTimeZone> &zone) {
    const QDateTime local = zone ? date.toTimeZone(*zone) : date.toLocalTime();
    Components c;
    c.year = local.date().year();
    c.month = local.date().month();
    c.day = local.date().day();
    c.hour = local.time().hour();
    c.minute = local.time().minute();
    c.second = local.time().second();
    m_components = c;
    m_isUniversalTime = false;
    if (zone) {
        m_offsetSeconds = zone->offsetFromUtc(date);
        if (m_offsetSeconds == 0 && isUniversalZone(*zone))
            m_isUniversalTime = true;
    } else {
        m_offsetSeconds = undefined;
    }
    m_timeZone = zone;
}

QString DADateTime::RFC3339String() const {
    const Components &c = m_components;
    // A value without a calendar day has no text form.
    if (c.year == undefined || c.month == undefined || c.day == undefined)
        return QString();
    QString timeText;
    if (hasTime()) {
        QString zoneText;
        if (m_isUniversalTime) {
            zoneText = QStringLiteral("Z");
        } else if (m_offsetSeconds != undefined) {
            const qint64 a = m_offsetSeconds < 0 ? -m_offsetSeconds : m_offsetSeconds;
            zoneText = QString::asprintf("%s%02lld:%02lld", m_offsetSeconds < 0 ? "-" : "+", (long long)((a / 3600) % 24),
                                         (long long)((a / 60) % 60));
        } else {
            zoneText = QStringLiteral("-00:00");
        }
        const qint64 second = c.second == undefined ? 0 : c.second;
        timeText = QString::asprintf("T%02lld:%02lld:%02lld", (long long)c.hour, (long long)c.minute, (long long)second) +
                   zoneText;
    }
    return QString::asprintf("%04lld-%02lld-%02lld", (long long)c.year, (long long)c.month, (long long)c.day) + timeText;
}

QDateTime DADateTime::date() const {
    const Components &c = m_components;
    if (!fitsInt(c.year) || !fitsInt(c.month) || !fitsInt(c.day))
        return QDateTime();
    const QDate day(int(c.year), int(c.month), int(c.day), calendar());
    if (!day.isValid())
        return QDateTime();
    if (!hasTime())
        return QDateTime(day, QTime(12, 0, 0), QTimeZone::utc());
    const qint64 second = c.second == undefined ? 0 : c.second;
    if (!fitsInt(c.hour) || !fitsInt(c.minute) || !fitsInt(second))
        return QDateTime();
    const QTime time(int(c.hour), int(c.minute), int(second));
    if (!time.isValid())
        return QDateTime();
    const std::optional<QTimeZone> zone = timeZone();
    return zone ? QDateTime(day, time, *zone) : QDateTime(day, time);
}

std::optional<QTimeZone> DADateTime::timeZone() const {
    if (m_timeZone)
        return m_timeZone;
    if (m_isUniversalTime)
        return QTimeZone::utc();
    if (m_offsetSeconds != undefined && m_offsetSeconds > -86400 * 2 && m_offsetSeconds < 86400 * 2) {
        const QTimeZone zone{int(m_offsetSeconds)};
        if (zone.isValid())
            return zone;
    }
    return std::nullopt;
}

void DADateTime::setTimeZone(const std::optional<QTimeZone> &zone) {
    m_timeZone = zone;
    if (!zone) {
        m_offsetSeconds = undefined;
        return;
    }
    const QDateTime moment = date();
    m_offsetSeconds = zone->offsetFromUtc(moment.isValid() ? moment : QDateTime::currentDateTimeUtc());
}

void DADateTime::setTimeZone(const std::optional<QTimeZone> &zone, qint64 offsetSeconds) {
    m_timeZone = zone;
    m_offsetSeconds = offsetSeconds;
}

void DADateTime::setHasTime(bool on) {
    if (on == hasTime())
        return;
    if (on) {
        m_components.hour = m_components.minute = m_components.second = 0;
        m_offsetSeconds = undefined;
        m_isUniversalTime = false;
    } else {
        m_components.hour = m_components.minute = m_components.second = undefined;
        m_offsetSeconds = undefined;
        m_isUniversalTime = false;
        m_timeZone.reset();
    }
}

bool DADateTime::isEqual(const DADateTime &o) const {
    if (this == &o)
        return true;
    if (m_offsetSeconds != o.m_offsetSeconds || m_isUniversalTime != o.m_isUniversalTime)
        return false;
    // Zones compare by identifier and offset, so zones made on demand match.
    const std::optional<QTimeZone> a = timeZone(), b = o.timeZone();
    if (a.has_value() != b.has_value())
        return false;
    if (a && (a->id() != b->id()))
        return false;
    return doesDateComponents(m_components, o.m_components);
}

DADateTimePtr DADateTime::copy() const {
    auto value = std::make_shared<DADateTime>();
    value->m_isUniversalTime = m_isUniversalTime;
    value->setTimeZone(timeZone(), m_offsetSeconds);
    value->m_components = m_components;
    return value;
}

QString DADateTime::description() const {
    return QStringLiteral("DADateTime %1: {%2}").arg(quintptr(this), 0, 16).arg(RFC3339String());
}
