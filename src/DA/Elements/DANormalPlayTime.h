#pragma once

#include <QString>

// A normal-play-time value: milliseconds from the start, or "now".
class DANormalPlayTime {
public:
    static DANormalPlayTime normalPlayTimeWithString(const QString &text) {
        DANormalPlayTime t;
        t.setFromString(text);
        return t;
    }
    // "now" in any case; else S[:N[:N]][.fraction] (unreadable text is 0).
    void setFromString(const QString &text);
    // -1 when "now".
    qint64 timeOffsetInMilliseconds() const { return m_offset; }
    void setTimeOffsetInMilliseconds(qint64 ms) { m_offset = ms; }
    bool isNow() const { return m_offset == -1; }
    void setIsNow(bool now) { m_offset = now ? -1 : (m_offset == -1 ? 0 : m_offset); }
    // "H:MM:SS" or "H:MM:SS.mmm"; "now".
    QString HHMMSSString() const;
    // "S" or "S.mmm"; "now".
    QString secondsString() const;
    // "DANormalPlayTime 0x…: {H:MM:SS}", for logs.
    QString description() const;
    friend bool operator==(const DANormalPlayTime &a, const DANormalPlayTime &b) { return a.m_offset == b.m_offset; }

private:
    qint64 m_offset = 0;
};
