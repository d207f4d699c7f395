// One LIST line at a time: the four formats, their date rules, and lines
// that must be refused.
#include "Cloud/QNFTPListingParser.h"

#include <gtest/gtest.h>

#include <QByteArray>
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

std::string nameOf(const Line &entry)
{
    return std::string(entry.name, size_t(entry.namelen));
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

TEST(FTPListingDates, BaseIsZeroOnAUnixClock)
{
    EXPECT_EQ(QNFTPListingParser::base(), 0);
}

TEST(FTPListingDates, MonthNamesInAnyCase)
{
    EXPECT_EQ(QNFTPListingParser::month("JAN", 3), 0);
    EXPECT_EQ(QNFTPListingParser::month("jAn", 3), 0);
    EXPECT_EQ(QNFTPListingParser::month("jan", 3), 0);
    EXPECT_EQ(QNFTPListingParser::month("Dec", 3), 11);
    EXPECT_EQ(QNFTPListingParser::month("janu", 4), -1);
    EXPECT_EQ(QNFTPListingParser::month("ja", 2), -1);
    EXPECT_EQ(QNFTPListingParser::month("jbn", 3), -1);
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

TEST(FTPListingUnix, FileWithTimeOfDay)
{
    Line e;
    ASSERT_TRUE(parse(e, "-rw-r--r--   1 owner    staff        1200 Mar  3 14:05 notes.txt"));
    EXPECT_EQ(nameOf(e), "notes.txt");
    EXPECT_EQ(e.flagtryretr, 1);
    EXPECT_EQ(e.flagtrycwd, 0);
    EXPECT_EQ(e.sizetype, 1);
    EXPECT_EQ(e.size, 1200);
    EXPECT_EQ(e.mtimetype, 2);
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(2026, 2, 3) + 14 * 3600 + 5 * 60);
}

TEST(FTPListingUnix, DirectoryWithYear)
{
    Line e;
    ASSERT_TRUE(parse(e, "drwxr-xr-x   4 owner    staff         512 Nov 11  2009 photos"));
    EXPECT_EQ(nameOf(e), "photos");
    EXPECT_EQ(e.flagtrycwd, 1);
    EXPECT_EQ(e.mtimetype, 3);
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(2009, 10, 11));
    EXPECT_EQ(e.size, 512);
}

TEST(FTPListingUnix, LinkNameStopsAtArrow)
{
    Line e;
    ASSERT_TRUE(parse(e, "lrwxrwxrwx   1 owner    staff           9 Jul  2 08:30 latest -> photos/new"));
    EXPECT_EQ(nameOf(e), "latest");
    EXPECT_EQ(e.flagtrycwd, 1);
    EXPECT_EQ(e.flagtryretr, 1);
}

TEST(FTPListingUnix, NameKeepsInnerAndLeadingBlanks)
{
    Line e;
    ASSERT_TRUE(parse(e, "-rw-r--r--    1 1000     1000            5 Jan 02  2020  two  spaces "));
    EXPECT_EQ(nameOf(e), " two  spaces ");
}

TEST(FTPListingUnix, WithoutGroupColumn)
{
    Line e;
    ASSERT_TRUE(parse(e, "-rw-r--r--   1 owner 77 Feb 28  2021 a.bin"));
    EXPECT_EQ(nameOf(e), "a.bin");
    EXPECT_EQ(e.size, 77);
}

TEST(FTPListingUnix, NetPresenzFolderColumn)
{
    Line e;
    ASSERT_TRUE(parse(e, "drwxrwxr-x               folder        2 May 10  1996 network"));
    EXPECT_EQ(nameOf(e), "network");
    EXPECT_EQ(e.flagtrycwd, 1);
}

TEST(FTPListingUnix, NetWareSkipsThreeBlanks)
{
    Line e;
    ASSERT_TRUE(parse(e, "d [R----F--] supervisor            512       Jan 16 18:53    login"));
    EXPECT_EQ(nameOf(e), "login");
    EXPECT_EQ(e.flagtrycwd, 1);
}

TEST(FTPListingUnix, ShortTimeFieldIsRefused)
{
    Line e;
    EXPECT_FALSE(parse(e, "-rw-r--r--   1 owner    staff        1200 Mar  3 1:5 x"));
    EXPECT_FALSE(parse(e, "-rw-r--r--   1 owner    staff        1200 Mar  3 14:05"));  // no name field
    EXPECT_FALSE(parse(e, "-rw-r--r--"));
}

TEST(FTPListingUnix, OneDigitHour)
{
    Line e;
    ASSERT_TRUE(parse(e, "-rw-r--r--   1 owner    staff        1 Mar  3 9:07 early"));
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(2026, 2, 3) + 9 * 3600 + 7 * 60);
}

TEST(FTPListingEPLF, DirectoryWithFacts)
{
    Line e;
    ASSERT_TRUE(parse(e, "+i1.2,m1000000000,/,\tarchive"));
    EXPECT_EQ(nameOf(e), "archive");
    EXPECT_EQ(e.flagtrycwd, 1);
    EXPECT_EQ(e.mtimetype, 1);
    EXPECT_EQ(e.mtime, 1000000000);
    EXPECT_EQ(e.idtype, 1);
    EXPECT_EQ(std::string(e.id, size_t(e.idlen)), "1.2");
}

TEST(FTPListingEPLF, FileWithSize)
{
    Line e;
    ASSERT_TRUE(parse(e, "+r,s4096,\tdata.bin"));
    EXPECT_EQ(e.flagtryretr, 1);
    EXPECT_EQ(e.sizetype, 1);
    EXPECT_EQ(e.size, 4096);
}

TEST(FTPListingEPLF, WithoutTabIsRefused)
{
    Line e;
    EXPECT_FALSE(parse(e, "+r,s4096,data.bin"));
}

TEST(FTPListingVMS, DirectoryWithDate)
{
    Line e;
    ASSERT_TRUE(parse(e, "DATA.DIR;1  2  14-FEB-2003 09:41 [OWNER] (RWE,RWE,RE,RE)"));
    EXPECT_EQ(nameOf(e), "DATA");
    EXPECT_EQ(e.flagtrycwd, 1);
    EXPECT_EQ(e.mtimetype, 2);
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(2003, 1, 14) + 9 * 3600 + 41 * 60);
}

TEST(FTPListingVMS, FileAndBadMonth)
{
    Line e;
    ASSERT_TRUE(parse(e, "README.TXT;3   7  1-JAN-1999 23:59:10 [SYS] (RWED)"));
    EXPECT_EQ(nameOf(e), "README.TXT");
    EXPECT_EQ(e.flagtryretr, 1);
    EXPECT_FALSE(parse(e, "README.TXT;3   7  1-JANUARY-1999 23:59 [SYS]"));
    EXPECT_FALSE(parse(e, "CUT.TXT;1  2  14-FEB"));
}

TEST(FTPListingDOS, DirectoryMorning)
{
    Line e;
    ASSERT_TRUE(parse(e, "11-05-12  07:15AM       <DIR>          backup"));
    EXPECT_EQ(nameOf(e), "backup");
    EXPECT_EQ(e.flagtrycwd, 1);
    EXPECT_EQ(e.sizetype, 0);
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(2012, 10, 5) + 7 * 3600 + 15 * 60);
}

TEST(FTPListingDOS, FileAtHalfPastMidnightAndAfternoon)
{
    Line e;
    ASSERT_TRUE(parse(e, "11-05-12  12:30AM                 2048 list.csv"));
    EXPECT_EQ(nameOf(e), "list.csv");
    EXPECT_EQ(e.size, 2048);
    EXPECT_EQ(e.flagtryretr, 1);
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(2012, 10, 5) + 30 * 60);
    ASSERT_TRUE(parse(e, "01-31-99  01:05PM                 1 late.txt"));
    EXPECT_EQ(e.mtime, QNFTPListingParser::daySeconds(1999, 0, 31) + 13 * 3600 + 5 * 60);
}

TEST(FTPListingDOS, TruncatedLinesAreRefused)
{
    Line e;
    EXPECT_FALSE(parse(e, "11-05-12  07:15AM       <DIR>"));
    EXPECT_FALSE(parse(e, "11-05-12  07:15"));
    EXPECT_FALSE(parse(e, "11-05"));
}

TEST(FTPListingOther, TotalLineAndShortLinesGiveNothing)
{
    Line e;
    EXPECT_FALSE(parse(e, "total 120"));
    EXPECT_FALSE(parse(e, "x"));
    EXPECT_FALSE(parse(e, ""));
}

TEST(FTPListingOther, HugeNumbersSaturateInsteadOfOverflowing)
{
    Line e;
    ASSERT_TRUE(parse(e, "-rw-r--r-- 1 o g 99999999999999999999999999999 Mar 3 99999999999999999999 big"));
    EXPECT_EQ(e.size, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(e.mtimetype, 3);
    ASSERT_TRUE(parse(e, "+m99999999999999999999999999,\tx"));
    EXPECT_EQ(e.mtime, std::numeric_limits<int64_t>::max());
    EXPECT_FALSE(QNFTPListingParser::dateOf(e).isValid());
    ASSERT_TRUE(parse(e, "99999999999-9999999999-99999999999 99999999999:9999999999PM 1 y"));
}

}  // namespace
