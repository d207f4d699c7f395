#include "DA/BaseClasses/DADateTime.h"

#include <gtest/gtest.h>

namespace {
constexpr qint64 undefined = DADateTime::undefined;
}

TEST(DADateTime, ParseAndWriteTable) {
    struct {
        const char *in, *out;
        qint64 offset;
        bool utc;
    } cases[] = {
        {"2008-12-31T23:59:59.875Z", "2008-12-31T23:59:59Z", 0, true},
        {"2008-12-31T23:59:59-08:00", "2008-12-31T23:59:59-08:00", -28800, false},
        {"2008-12-31T23:59:59+05:30", "2008-12-31T23:59:59+05:30", 19800, false},
        {"2008-12-31T23:59:59-00:00", "2008-12-31T23:59:59-00:00", undefined, false},
        {"2008-12-31T23:59:59", "2008-12-31T23:59:59Z", 0, true},
        {"2008-12-31t23:59:59z", "2008-12-31T23:59:59Z", 0, true},
        {"2008-12-31 23:59:59-08:00", "2008-12-31T23:59:59-08:00", -28800, false},
        {"2008-12-31T23:59:59+25:00", "2008-12-31T23:59:59+01:00", 90000, false},
        {"2008-12-31", "2008-12-31", 0, true},
        {"2008-12-31T10:20", "2008-12-31T10:20:00Z", 0, true},
    };
    for (const auto &c : cases) {
        DADateTimePtr d = DADateTime::dateTimeWithRFC3339String(c.in);
        EXPECT_EQ(d->RFC3339String(), c.out) << c.in;
        EXPECT_EQ(d->offsetSeconds(), c.offset) << c.in;
        EXPECT_EQ(d->isUniversalTime(), c.utc) << c.in;
        EXPECT_TRUE(d->copy()->isEqual(*d)) << c.in;
        EXPECT_TRUE(DADateTime::dateTimeWithRFC3339String(c.in)->isEqual(*d)) << c.in;
    }
    DADateTimePtr d = DADateTime::dateTimeWithRFC3339String("2008-12-31T23:59:59.875Z");
    EXPECT_EQ(d->dateComponents().second, 59);
    EXPECT_EQ(d->date(), QDateTime(QDate(2008, 12, 31), QTime(23, 59, 59), QTimeZone::utc()));
    EXPECT_EQ(DADateTime::dateTimeWithRFC3339String("2008-12-31T23:59:59-08:00")->date(),
              QDateTime(QDate(2009, 1, 1), QTime(7, 59, 59), QTimeZone::utc()));
}

TEST(DADateTime, DateOnlyNonsenseAndHasTime) {
    DADateTimePtr day = DADateTime::dateTimeWithRFC3339String("2008-12-31");
    EXPECT_FALSE(day->hasTime());
    EXPECT_EQ(day->date(), QDateTime(QDate(2008, 12, 31), QTime(12, 0), QTimeZone::utc()));
    day->setHasTime(true);
    EXPECT_EQ(day->RFC3339String(), "2008-12-31T00:00:00-00:00");
    day->setHasTime(false);
    EXPECT_EQ(day->RFC3339String(), "2008-12-31");

    for (const char *junk : {"not a date", "", "99999999999999999999999-1-1", "2008-13-45T99:99:99Z"}) {
        DADateTimePtr bad = DADateTime::dateTimeWithRFC3339String(junk);
        if (QByteArray(junk).startsWith("not") || QByteArray(junk).isEmpty()) {
            EXPECT_EQ(bad->dateComponents().year, undefined);
            EXPECT_EQ(bad->dateComponents().day, undefined);
            EXPECT_TRUE(bad->RFC3339String().isEmpty());  // no invented text
        }
        EXPECT_FALSE(bad->date().isValid()) << junk;
    }
    // Seconds too long for any integer read as a huge count, never as a
    // negative one (nor with undefined results).
    const QString longSeconds = "2008-12-31T23:59:" + QString(60, QLatin1Char('9')) + "Z";
    DADateTimePtr overlong = DADateTime::dateTimeWithRFC3339String(longSeconds);
    EXPECT_GT(overlong->dateComponents().second, 59);
    EXPECT_NE(overlong->dateComponents().second, undefined);
    EXPECT_FALSE(overlong->date().isValid());
}

TEST(DADateTime, FromDates) {
    const QDateTime moment(QDate(2010, 6, 1), QTime(10, 0, 0), QTimeZone::utc());
    EXPECT_EQ(DADateTime::dateTimeWithDate(moment, QTimeZone::utc())->RFC3339String(), "2010-06-01T10:00:00Z");
    EXPECT_TRUE(DADateTime::dateTimeWithDate(moment, QTimeZone::utc())->isUniversalTime());
    EXPECT_EQ(DADateTime::dateTimeWithDate(moment, QTimeZone(3600))->RFC3339String(), "2010-06-01T11:00:00+01:00");
    DADateTimePtr noZone = DADateTime::dateTimeWithDate(moment, std::nullopt);
    EXPECT_TRUE(noZone->RFC3339String().endsWith("-00:00"));
    EXPECT_FALSE(noZone->timeZone().has_value());

    DADateTimePtr d = DADateTime::dateTimeWithRFC3339String("2010-06-01T10:00:00Z");
    d->setTimeZone(QTimeZone(7200));
    EXPECT_EQ(d->offsetSeconds(), 7200);
    EXPECT_FALSE(d->isEqual(*DADateTime::dateTimeWithRFC3339String("2010-06-01T10:00:00Z")));
}
