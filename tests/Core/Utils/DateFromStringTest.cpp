// Service date texts: each accepted shape, its zone handling, and texts that
// must be refused rather than misread.
#include "Core/QNUtils.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <ctime>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

// Runs in a fixed local zone, three hours east of UTC with no daylight
// saving, so local-time readings have one right answer.
class DateFromString : public ::testing::Test {
protected:
    void SetUp() override {
        m_hadZone = qEnvironmentVariableIsSet("TZ");
        m_oldZone = qgetenv("TZ");
        qputenv("TZ", "XYZ-3");
        tzset();
    }
    void TearDown() override {
        m_hadZone ? qputenv("TZ", m_oldZone) : qunsetenv("TZ");
        tzset();
    }

private:
    bool m_hadZone = false;
    QByteArray m_oldZone;
};

}  // namespace

TEST_F(DateFromString, AcceptedShapesAndTheirZones) {
    const std::vector<std::pair<const char *, QDateTime>> cases{
        {"2013-05-01T10:20:30Z", utc(2013, 5, 1, 10, 20, 30)},
        {"2013-05-01T10:20:30.123+01:00", utc(2013, 5, 1, 9, 20, 30, 123)},
        {"2013-05-01T10:20:30.000-07:00", utc(2013, 5, 1, 17, 20, 30)},
        // Not 29 characters long: these must not fall back to zone-less local time.
        {"2013-05-01T10:20:30.123+0100", utc(2013, 5, 1, 9, 20, 30, 123)},
        {"2013-05-01T10:20:30.1234567+00:00", utc(2013, 5, 1, 10, 20, 30, 123)},
        {"2013-05-01T10:20:30+0200", utc(2013, 5, 1, 8, 20, 30)},
        {"2013-05-01T10:20:30-07:00", utc(2013, 5, 1, 17, 20, 30)},
        {"2013-05-01T10:20:30+05", utc(2013, 5, 1, 5, 20, 30)},
        {"2013-05-01T10:20:30GMT+05:30", utc(2013, 5, 1, 4, 50, 30)},
        {"2013-01-01T00:30:00+01:00", utc(2012, 12, 31, 23, 30, 0)},  // across midnight and the year
        {"2013-05-01T10:20:30.123Z", utc(2013, 5, 1, 10, 20, 30, 123)},
        {"2013-05-01T10:20:30.5Z", utc(2013, 5, 1, 10, 20, 30, 500)},
        {"2013-05-01T10:20:30.1239999Z", utc(2013, 5, 1, 10, 20, 30, 123)},
        {"2012-02-29T12:00:00Z", utc(2012, 2, 29, 12, 0, 0)},
        // Local time without a zone; trailing text, a bare fraction or a
        // damaged zone is cut to the first nineteen characters.
        {"2013-05-01T10:20:30", utc(2013, 5, 1, 7, 20, 30)},
        {"2013-05-01T10:20:30 extra", utc(2013, 5, 1, 7, 20, 30)},
        {"2013-05-01T10:20:30.123", utc(2013, 5, 1, 7, 20, 30)},
        {"2013-05-01T10:20:30+1", utc(2013, 5, 1, 7, 20, 30)},
        {"2013-05-01T10:20:30+25:00", utc(2013, 5, 1, 7, 20, 30)},
        {"2013-05-01T10:20:30.Z", utc(2013, 5, 1, 7, 20, 30)},
        // Mail-style dates (the first is 29 characters, like the fraction shape).
        {"Wed, 01 May 2013 10:20:30 GMT", utc(2013, 5, 1, 10, 20, 30)},
        {"Wed, 1 May 2013 10:20:30 GMT", utc(2013, 5, 1, 10, 20, 30)},
        {"Wednesday, 01 May 2013 10:20:30 UTC", utc(2013, 5, 1, 10, 20, 30)},
        {"wed, 01 may 2013 10:20:30 gmt", utc(2013, 5, 1, 10, 20, 30)},
        {"Wed, 01 May 2013 10:20:30 PDT", utc(2013, 5, 1, 17, 20, 30)},
        {"Wed, 01 May 2013 10:20:30 EST", utc(2013, 5, 1, 15, 20, 30)},
        {"Wed, 01 May 2013 10:20:30 +0200", utc(2013, 5, 1, 8, 20, 30)},
        {"Wed, 01 May 2013 10:20:30 GMT-03:00", utc(2013, 5, 1, 13, 20, 30)},
        {"Wed, 01 May 2013 10:20:30 UT", utc(2013, 5, 1, 10, 20, 30)},
        {"01 May 2013 10:20:30 GMT", utc(2013, 5, 1, 10, 20, 30)},
        {"31 December 2013 23:59:59 GMT", utc(2013, 12, 31, 23, 59, 59)},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(QNUtils::dateFromString(QString::fromLatin1(text)), expected) << text;
}

TEST_F(DateFromString, RefusesMalformedTexts) {
    const QStringList bad{
        QString(), "", "garbage",
        "2013-05-01",                        // no time
        "2013-05-01 10:20:30Z",              // blank instead of T
        "2013-13-01T10:20:30Z",              // month 13
        "2013-04-31T10:20:30Z",              // 31 April
        "2013-02-29T12:00:00Z",              // no leap year
        "Fri, 29 Feb 2013 12:00:00 GMT",
        "2013-05-01T24:00:00Z",              // hour 24
        "2013-05-01T10:60:00Z",              // minute 60
        "2013-05-01T10:20:60Z",              // second 60
        "2013-5-01T10:20:30Z",               // short month
        "13-05-01T10:20:30Z",                // short year
        "2013-05-01T10:20:3",                // cut short
        "Wed, 01 Foo 2013 10:20:30 GMT",     // unknown month
        "Wed 01 May 2013 10:20:30 GMT",      // no comma
        "Xyz, 01 May 2013 10:20:30 GMT",     // unknown weekday
        "Wed, 01 May 2013 10:20:30",         // no zone
        "Wed, 01 May 2013 10:20:30 XYZ",     // unknown zone
        "Wed, 01 May 2013 10:20:30 GMT junk",  // trailing text
        QString::fromUtf8("٢٠١٣-05-01T10:20:30Z"),  // digits to Unicode, but no service sends them
    };
    for (const QString &text : bad) {
        const QDateTime date = QNUtils::dateFromString(text);
        EXPECT_TRUE(date.isNull()) << text.toStdString() << " read as " << date.toString(Qt::ISODate).toStdString();
    }
}
