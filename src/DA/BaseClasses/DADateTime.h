#pragma once

#include <QCalendar>
#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <limits>
#include <memory>
#include <optional>

class DADateTime;
using DADateTimePtr = std::shared_ptr<DADateTime>;

// One RFC 3339 date-time as calendar fields plus what is known of its zone:
// the values of Atom's published, updated and edited elements.
class DADateTime {
public:
    // The marker of an absent field.
    static constexpr qint64 undefined = std::numeric_limits<qint64>::max();

    struct Components {
        qint64 era = undefined, year = undefined, month = undefined, day = undefined, hour = undefined,
               minute = undefined, second = undefined, week = undefined, weekday = undefined,
               weekdayOrdinal = undefined;
        friend bool operator==(const Components &, const Components &) = default;
    };

    DADateTime() = default;
    // Never fails: fields that could not be read stay undefined.
    static DADateTimePtr dateTimeWithRFC3339String(const QString &text);
    // A moment seen in a zone (none: the local zone, offset unknown).
    static DADateTimePtr dateTimeWithDate(const QDateTime &date, const std::optional<QTimeZone> &zone);

    void setFromRFC3339String(const QString &text);
    void setFromDate(const QDateTime &date, const std::optional<QTimeZone> &zone);

    // The text form; empty when year, month or day is unknown.
    QString RFC3339String() const;
    QString stringValue() const { return RFC3339String(); }
    // The absolute time; a date without time is taken at noon UTC. Invalid
    // when the fields do not make a date.
    QDateTime date() const;

    // The calendar the fields are counted in (Gregorian). A zone is applied
    // when the fields become a moment (date(), through timeZone()).
    QCalendar calendar() const { return QCalendar(QCalendar::System::Gregorian); }

    const Components &dateComponents() const { return m_components; }
    void setDateComponents(const Components &components) { m_components = components; }
    // The stored zone, else UTC when universal, else a fixed zone of the
    // known offset, else none.
    std::optional<QTimeZone> timeZone() const;
    void setTimeZone(const std::optional<QTimeZone> &zone);
    void setTimeZone(const std::optional<QTimeZone> &zone, qint64 offsetSeconds);
    qint64 offsetSeconds() const { return m_offsetSeconds; }
    void setOffsetSeconds(qint64 offset) { m_offsetSeconds = offset; }
    bool isUniversalTime() const { return m_isUniversalTime; }
    void setIsUniversalTime(bool on) { m_isUniversalTime = on; }
    bool hasTime() const { return m_components.hour != undefined && m_components.minute != undefined; }
    void setHasTime(bool on);

    bool isEqual(const DADateTime &other) const;
    DADateTimePtr copy() const;
    QString description() const;

    // Field by field: era, year, month, day, hour, minute, second, week,
    // weekday and weekday ordinal.
    static bool doesDateComponents(const Components &a, const Components &b) { return a == b; }

private:
    Components m_components;
    std::optional<QTimeZone> m_timeZone;
    qint64 m_offsetSeconds = undefined;
    bool m_isUniversalTime = false;
};
