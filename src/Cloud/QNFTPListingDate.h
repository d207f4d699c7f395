#pragma once

#include <QString>
#include <cstdint>
#include <optional>

class QNFTPListingWords;

// A date as listings write it, read from the words of a line. The forms:
//   - month name, day, time of day or year: "Mar  3 14:05", "Mar 3 2009",
//     "Oct 08, 2002 09:47", with month names in many languages ("Mär",
//     "márc.", "paź", "мар") and "3月"/"3월";
//   - day, month name, time or year: "29 Jul 02:27", "30. Jan., 12:40";
//   - one numeric word, then a time and a zone when given: "2020-03-03",
//     "03/03/2020", "24.12.2020", "2004.07.15", "01-jun-99";
//   - month and day as numbers: "09-26 13:45", "09-26 2000", and, where the
//     columns before leave no doubt, "3 29 03:26";
//   - Japanese, Chinese and Korean dates: "3月 29日 03:26", "2004年3月29日",
//     "2004년 3월 29일";
//   - where the columns leave no doubt, a time of day alone for today.
// Times carry no zone unless given; they are read as UTC, which is what
// servers list in unless set up otherwise. "24:00" is the midnight that ends
// the day.
class QNFTPListingDate {
public:
    // What a numeric date puts first when its first part is not a year.
    enum class Order { MonthFirst, DayFirst };

    int64_t year = -1;  // -1: not shown (a time of day stands for a recent year)
    int month = -1;     // 0-11
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int64_t offset = 0;  // the zone's offset from UTC, when the line gave one
    bool today = false;  // only a time of day was shown

    // Reads the date that begins at word k; last is set to its last word.
    // plainNumbers allows the forms made of bare numbers ("3 29 03:26", a
    // lone time), which only the columns before can tell from a size.
    bool read(const QNFTPListingWords &words, int k, int &last, bool plainNumbers);

    // Seconds since 1970-01-01 00:00 UTC; none when a year cannot be chosen.
    std::optional<int64_t> seconds(int64_t now) const;

    // The parts, each of one word:
    // 0 to 11 for a month name or abbreviation in one of the listed
    // languages (any case, final "." or "," ignored), or "3月"/"3월"; else -1.
    static int monthOf(const QString &word);
    // 1 to 31 for "3", "03", "3.", "3,", "3日", "3일"; else -1.
    static int dayOf(const QString &word);
    // "14:05", "9:07", "14:05:33", "14:05:33.123", "24:00".
    bool readTime(QStringView word);
    // Three numbers joined by one of "-", "/", "." ("2020-03-03",
    // "03/04/2020", "24.12.2020"): year first when the first part has four
    // digits; else a dotted date puts the day first, the others follow order
    // unless the first part cannot be a month.
    bool readNumericDate(QStringView word, Order order);

private:
    bool readMonthDayYear(const QNFTPListingWords &words, int k, int &last);
    bool readDayMonthYear(const QNFTPListingWords &words, int k, int &last);
    bool readEastAsian(const QNFTPListingWords &words, int k, int &last);
    bool readNumeric(const QNFTPListingWords &words, int k, int &last, bool plainNumbers);
    bool readTimeOrYear(QStringView word);
    bool readZone(QStringView word);
};
