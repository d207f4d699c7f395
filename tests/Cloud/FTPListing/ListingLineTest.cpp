// The line parser's date rules, and lines it must refuse (the formats
// themselves are in the listing table).
#include "Cloud/QNFTPListingParser.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <cstring>
#include <string>

namespace {

using Line = QNFTPListingParser::Line;

// 2026-12-06 12:00 UTC, a fixed "now" for the year rule.
const int64_t kNow = QNFTPListingParser::daySeconds(2026, 11, 6) + 12 * 3600;

// The entry points into the parsed text, so the text of the last parse is kept here.
std::string lastText;

bool parse(Line &entry, const std::string &text, int64_t now = kNow)
{
    lastText = text;
    return QNFTPListingParser::parseLine(entry, lastText.data(), int32_t(lastText.size()), now);
}

TEST(FTPListingDates, DaySecondsCountsFrom1970)
{
    EXPECT_EQ(QNFTPListingParser::daySeconds(1970, 0, 1), 0);
    EXPECT_EQ(QNFTPListingParser::daySeconds(1970, 0, 2), 86400);
    EXPECT_EQ(QNFTPListingParser::daySeconds(2000, 2, 1), 11017LL * 86400);
    EXPECT_EQ(QNFTPListingParser::daySeconds(2000, 1, 29), (11017LL - 1) * 86400);  // leap day
    EXPECT_EQ(QNFTPListingParser::daySeconds(2001, 0, 1), 978307200);
    EXPECT_EQ(QNFTPListingParser::daySeconds(2024, 1, 29), 1709164800);
    EXPECT_EQ(QNFTPListingParser::daySeconds(2100, 2, 1), 4107542400);  // 2100 is no leap year
    EXPECT_EQ(QNFTPListingParser::daySeconds(1969, 11, 31), -86400);
}

TEST(FTPListingDates, MonthNamesInAnyCase)
{
    EXPECT_EQ(QNFTPListingParser::base(), 0);
    const std::vector<std::pair<const char *, int>> cases{{"JAN", 0}, {"jAn", 0}, {"Dec", 11},
                                                          {"janu", -1}, {"ja", -1}, {"jbn", -1}};
    for (const auto &[name, month] : cases)
        EXPECT_EQ(QNFTPListingParser::month(name, int(strlen(name))), month) << name;
}

TEST(FTPListingDates, YearRulePutsDatesAtMost350DaysInThePast)
{
    // March 3rd seen in December 2026: this year.
    EXPECT_EQ(QNFTPListingParser::guessYear(2, 3, kNow), QNFTPListingParser::daySeconds(2026, 2, 3));
    // December 20th seen on December 6th: a year earlier is 351 days ago,
    // too old, so it is taken as this year's (in the future).
    EXPECT_EQ(QNFTPListingParser::guessYear(11, 20, kNow), QNFTPListingParser::daySeconds(2026, 11, 20));
    // December 25th seen in January 2027: last year.
    const int64_t january = QNFTPListingParser::daySeconds(2027, 0, 10);
    EXPECT_EQ(QNFTPListingParser::guessYear(11, 25, january), QNFTPListingParser::daySeconds(2026, 11, 25));
    // 349 days back is still the past.
    const int64_t t = QNFTPListingParser::daySeconds(2026, 0, 1);
    const int64_t justInside = t + 349 * 86400;
    EXPECT_EQ(QNFTPListingParser::guessYear(0, 1, justInside), t);
}

TEST(FTPListingLine, RefusesCutAndMalformedLines)
{
    const char *const lines[] = {
        "-rw-r--r--   1 owner    staff        1200 Mar  3 1:5 x",  // short time field
        "-rw-r--r--   1 owner    staff        1200 Mar  3 14:05",  // no name field
        "-rw-r--r--",
        "+r,s4096,data.bin",  // EPLF without a tab
        "README.TXT;3   7  1-JANUARY-1999 23:59 [SYS]",
        "CUT.TXT;1  2  14-FEB",
        "11-05-12  07:15AM       <DIR>",
        "11-05-12  07:15",
        "11-05",
        "total 120",
        "x",
        "",
    };
    for (const char *line : lines) {
        Line e;
        EXPECT_FALSE(parse(e, line)) << line;
    }
}

TEST(FTPListingLine, HugeNumbersSaturateInsteadOfOverflowing)
{
    Line e;
    ASSERT_TRUE(parse(e, "-rw-r--r-- 1 o g 99999999999999999999999999999 Mar 3 99999999999999999999 big"));
    EXPECT_EQ(e.size, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(e.mtimetype, 3);
    ASSERT_TRUE(parse(e, "+m99999999999999999999999999,\tx"));
    EXPECT_EQ(e.mtime, std::numeric_limits<int64_t>::max());
    EXPECT_FALSE(QNFTPListingParser::dateOf(e).isValid());
    EXPECT_FALSE(parse(e, "99999999999-9999999999-99999999999 99999999999:9999999999PM 1 y"));
}

}  // namespace
