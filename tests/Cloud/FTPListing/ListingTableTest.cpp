// Listing lines as real servers send them, one table: the ls-style families
// (English and localized month names, ISO and numeric dates, day before
// month, missing columns, a leading blank) and the formats the line parser
// keeps (EPLF, VMS, MS-DOS), each with the entry it must give, or none.
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNStringEncoding.h"

#include <gtest/gtest.h>

namespace {

using Kind = QNFTPResourceListing::Kind;

// 2026-12-06 12:00 UTC, a fixed "now" for the year rule.
const int64_t kNow = QNFTPListingParser::daySeconds(2026, 11, 6) + 12 * 3600;

enum Expect { File, Folder, Link, NoEntry, Unread };

struct Row {
    const char *line;
    Expect expect;
    const char *name = "";
    qint64 size = 0;
    const char *date = "";  // UTC, "yyyy-MM-ddTHH:mm:ss"; "" for none
};

const Row kRows[] = {
    // English
    {"-rw-r--r--   1 owner    staff        1200 Mar  3 14:05 notes.txt", File, "notes.txt", 1200, "2026-03-03T14:05:00"},
    {"drwxr-xr-x   4 owner    staff         512 Nov 11  2009 photos", Folder, "photos", 512, "2009-11-11T00:00:00"},
    {"lrwxrwxrwx   1 owner    staff           9 Jul  2 08:30 latest -> photos/new", Link, "latest", 9, "2026-07-02T08:30:00"},
    {"-rw-r--r--    1 1000     1000            5 Jan 02  2020  two  spaces ", File, " two  spaces ", 5, "2020-01-02T00:00:00"},
    {"-rw-r--r--   1 owner 77 Feb 28  2021 no group.bin", File, "no group.bin", 77, "2021-02-28T00:00:00"},
    {"-rw-r--r-- 1 78 Feb 28 2021 no owner.bin", File, "no owner.bin", 78, "2021-02-28T00:00:00"},
    {"-rw-r--r-- owner group 79 Feb 28 2021 no links.bin", File, "no links.bin", 79, "2021-02-28T00:00:00"},
    {" -rw-r--r--   1 owner staff 10 Dec  1 09:00 leading blank.txt", File, "leading blank.txt", 10, "2026-12-01T09:00:00"},
    {"drwxr-xr-x+  2 u g 4096 Oct 10  2024 acl", Folder, "acl", 4096, "2024-10-10T00:00:00"},
    {"drwxrwxr-x               folder        2 May 10  1996 network", Folder, "network", 2, "1996-05-10T00:00:00"},
    // Localized month names
    {"-rw-r--r-- 1 u g 100 Mär  3 14:05 de.txt", File, "de.txt", 100, "2026-03-03T14:05:00"},
    {"-rw-r--r-- 1 u g 101 Dez 24  2019 de2.txt", File, "de2.txt", 101, "2019-12-24T00:00:00"},
    {"-rw-r--r-- 1 u g 102 févr. 14  2022 fr.txt", File, "fr.txt", 102, "2022-02-14T00:00:00"},
    {"-rw-r--r-- 1 u g 103 juil.  4 10:30 fr2.txt", File, "fr2.txt", 103, "2026-07-04T10:30:00"},
    {"-rw-r--r-- 1 u g 104 ene 15  2021 es.txt", File, "es.txt", 104, "2021-01-15T00:00:00"},
    {"-rw-r--r-- 1 u g 105 dic  5 08:00 es2.txt", File, "es2.txt", 105, "2026-12-05T08:00:00"},
    {"-rw-r--r-- 1 u g 106 gen 15  2021 it.txt", File, "it.txt", 106, "2021-01-15T00:00:00"},
    {"drwxr-xr-x 2 u g 107 ott  5 08:00 it2", Folder, "it2", 107, "2026-10-05T08:00:00"},
    {"-rw-r--r-- 1 u g 108 mrt  3  2020 nl.txt", File, "nl.txt", 108, "2020-03-03T00:00:00"},
    {"-rw-r--r-- 1 u g 109 mei 15 12:00 nl2.txt", File, "nl2.txt", 109, "2026-05-15T12:00:00"},
    {"-rw-r--r-- 1 u g 110 maj 15  2020 sv.txt", File, "sv.txt", 110, "2020-05-15T00:00:00"},
    {"-rw-r--r-- 1 u g 111 мар  3 14:05 ru.txt", File, "ru.txt", 111, "2026-03-03T14:05:00"},
    {"-rw-r--r-- 1 u g 112 мая  9  2020 ru2.txt", File, "ru2.txt", 112, "2020-05-09T00:00:00"},
    {"-rw-r--r-- 1 u g 113  3月  3 14:05 ja.txt", File, "ja.txt", 113, "2026-03-03T14:05:00"},
    {"-rw-r--r-- 1 u g 114 12月 24日  2019 ja2.txt", File, "ja2.txt", 114, "2019-12-24T00:00:00"},
    {"drwxr-xr-x 2 u g 4096 11月 11  2009 zh目录", Folder, "zh目录", 4096, "2009-11-11T00:00:00"},
    {"-rw-r--r-- 1 u g 115  3월  3 14:05 ko.txt", File, "ko.txt", 115, "2026-03-03T14:05:00"},
    // ISO and numeric dates
    {"-rw-r--r-- 1 u g 1200 2020-03-03 14:05 iso.txt", File, "iso.txt", 1200, "2020-03-03T14:05:00"},
    {"-rw-r--r-- 1 u g 1201 2020-03-03 14:05:07.123456789 +0900 full iso.txt", File, "full iso.txt", 1201,
     "2020-03-03T05:05:07"},
    {"-rw-r--r-- 1 u g 1202 2020-03-03 date only.txt", File, "date only.txt", 1202, "2020-03-03T00:00:00"},
    {"-rw-r--r-- 1 u g 1203 03/04/2020 us.txt", File, "us.txt", 1203, "2020-03-04T00:00:00"},
    {"-rw-r--r-- 1 u g 1204 25/12/2020 14:05 eu.txt", File, "eu.txt", 1204, "2020-12-25T14:05:00"},
    {"-rw-r--r-- 1 u g 1205 24.12.2020 dotted.txt", File, "dotted.txt", 1205, "2020-12-24T00:00:00"},
    // Day before month
    {"-rw-r--r-- 1 u g 100 29 Jul 02:27 dm.txt", File, "dm.txt", 100, "2026-07-29T02:27:00"},
    {"-rw-r--r-- 1 u g 101 29. Jul 2020 dm2.txt", File, "dm2.txt", 101, "2020-07-29T00:00:00"},
    {"-rw-r--r-- 1 u g 102 3 janv. 2021 dm3.txt", File, "dm3.txt", 102, "2021-01-03T00:00:00"},
    // What the line parser keeps
    {"d [R----F--] supervisor            512       Jan 16 18:53    login", Folder, "login", 512, "2026-01-16T18:53:00"},
    {"+i1.2,m1000000000,/,\tarchive", Folder, "archive", 0, "2001-09-09T01:46:40"},
    {"+r,s4096,\tdata.bin", File, "data.bin", 4096, ""},
    {"DATA.DIR;1  2  14-FEB-2003 09:41 [OWNER] (RWE,RWE,RE,RE)", Folder, "DATA", 0, "2003-02-14T09:41:00"},
    {"README.TXT;3   7  1-JAN-1999 23:59:10 [SYS] (RWED)", File, "README.TXT", 3584, "1999-01-01T23:59:10"},
    {"11-05-12  07:15AM       <DIR>          backup", Folder, "backup", 0, "2012-11-05T07:15:00"},
    {"11-05-12  12:30AM                 2048 list.csv", File, "list.csv", 2048, "2012-11-05T00:30:00"},
    {"01-31-99  01:05PM                 1 late.txt", File, "late.txt", 1, "1999-01-31T13:05:00"},
    {"11-05-2012  19:15       <DIR>          evening", Folder, "evening", 0, "2012-11-05T19:15:00"},
    {"2012-11-05  07:15 PM      1024 year first.txt", File, "year first.txt", 1024, "2012-11-05T19:15:00"},
    // Month and day as numbers
    {"-rw-r--r--   1 user     group        4567 3 29 03:26 numeric.txt", File, "numeric.txt", 4567, "2026-03-29T03:26:00"},
    {"-rw-r--r--   1 user     group        4568 3 29  2004 numeric old.txt", File, "numeric old.txt", 4568,
     "2004-03-29T00:00:00"},
    {"-rw-r--r--   1 user     group        4569 09-26 13:45 recent.txt", File, "recent.txt", 4569, "2026-09-26T13:45:00"},
    {"drwxr-xr-x   2 user     group        4096 09-26  2000 old", Folder, "old", 4096, "2000-09-26T00:00:00"},
    // Other date forms
    {"-rw-r--r--   1 owner    group       1024 Oct 08, 2002 09:47 comma.txt", File, "comma.txt", 1024,
     "2002-10-08T09:47:00"},
    {"-rw-r--r--   1 owner    group       1025 2004.07.15 dotted.txt", File, "dotted.txt", 1025, "2004-07-15T00:00:00"},
    {"-rw-r--r--   1 owner    group       1026 14:05 today.txt", File, "today.txt", 1026, "2026-12-06T14:05:00"},
    {"-rw-r--r-- 1 u g 10 2020-03-03 24:00 midnight.txt", File, "midnight.txt", 10, "2020-03-04T00:00:00"},
    {"-rw-r--r-- 1 u g 129 30. Jan., 12:40 dm4.txt", File, "dm4.txt", 129, "2026-01-30T12:40:00"},
    {"-rw-r--r-- 1 u g 130 01-jun-99 dmy.txt", File, "dmy.txt", 130, "1999-06-01T00:00:00"},
    {"-rw-r--r-- 1 u g 131 01-Jun-2021 10:00 dmy2.txt", File, "dmy2.txt", 131, "2021-06-01T10:00:00"},
    {"-rw-r--r-- 1 u g 116 3月 29日 03:26 ja3.txt", File, "ja3.txt", 116, "2026-03-29T03:26:00"},
    {"-rw-r--r-- 1 u g 117 2004年3月29日 ja4.txt", File, "ja4.txt", 117, "2004-03-29T00:00:00"},
    {"drwxr-xr-x 2 u g 4096 2004年 3月 29日 zh年", Folder, "zh年", 4096, "2004-03-29T00:00:00"},
    {"-rw-r--r-- 1 u g 118 2004년 3월 29일 ko2.txt", File, "ko2.txt", 118, "2004-03-29T00:00:00"},
    {"-rw-r--r-- 1 u g 119 3월 29일 03:26 ko3.txt", File, "ko3.txt", 119, "2026-03-29T03:26:00"},
    {"-rw-r--r-- 1 u g 120 márc  3 14:05 hu.txt", File, "hu.txt", 120, "2026-03-03T14:05:00"},
    {"-rw-r--r-- 1 u g 121 szept 15  2019 hu2.txt", File, "hu2.txt", 121, "2019-09-15T00:00:00"},
    {"-rw-r--r-- 1 u g 122 paź 10 12:00 pl.txt", File, "pl.txt", 122, "2026-10-10T12:00:00"},
    {"-rw-r--r-- 1 u g 123 říj 10  2018 cs.txt", File, "cs.txt", 123, "2018-10-10T00:00:00"},
    {"-rw-r--r-- 1 u g 124 out 10  2018 pt.txt", File, "pt.txt", 124, "2018-10-10T00:00:00"},
    {"-rw-r--r-- 1 u g 125 Ağu 10  2018 tr.txt", File, "tr.txt", 125, "2018-08-10T00:00:00"},
    {"-rw-r--r-- 1 u g 126 touko 10  2018 fi.txt", File, "fi.txt", 126, "2018-05-10T00:00:00"},
    {"-rw-r--r-- 1 u g 127 лис 10  2018 uk.txt", File, "uk.txt", 127, "2018-11-10T00:00:00"},
    {"-rw-r--r-- 1 u g 128 Δεκ 10  2018 el.txt", File, "el.txt", 128, "2018-12-10T00:00:00"},
    // Sizes: as ls -h writes them, run into the group column, missing date
    {"-rw-r--r-- 1 u g 33.5k Mar  3 14:05 named.txt", File, "named.txt", 34304, "2026-03-03T14:05:00"},
    {"-rw-r--r--   1 owner    staff2147483648 Mar  3 14:05 huge.iso", File, "huge.iso", 2147483648,
     "2026-03-03T14:05:00"},
    {"-rw-r--r--   1 owner    group        1234 no date.bin", File, "no date.bin", 1234, ""},
    // MS-DOS
    {"09-26-00  01:45PM                9,730 report.doc", File, "report.doc", 9730, "2000-09-26T13:45:00"},
    {"2012-11-05  19:15        1,234,567 big.iso", File, "big.iso", 1234567, "2012-11-05T19:15:00"},
    {"11-05-12  07:15AM                33.5k named dos.txt", File, "named dos.txt", 34304, "2012-11-05T07:15:00"},
    {"12-31-99  24:00       <DIR>          midnight", Folder, "midnight", 0, "2000-01-01T00:00:00"},
    {"Oct 08, 2002 09:47         <DIR>   comma dir", Folder, "comma dir", 0, "2002-10-08T09:47:00"},
    {"Oct 08, 2002 09:47          2048   comma file.txt", File, "comma file.txt", 2048, "2002-10-08T09:47:00"},
    // OS/2
    {"     2947      A          03-12-97   13:16  CONFIG.SYS", File, "CONFIG.SYS", 2947, "1997-03-12T13:16:00"},
    {"        0           DIR   08-20-98   12:27  BACKUP", Folder, "BACKUP", 0, "1998-08-20T12:27:00"},
    // VMS: blocks, blocks/allocated, KB; owner first; a name on a line of its own
    {"REPORT.TXT;12   4/6  14-FEB-2003 09:41:10.55  [GROUP,OWNER]  (RWED,RWED,RE,)", File, "REPORT.TXT", 2048,
     "2003-02-14T09:41:10"},
    {"NOTES.TXT;1   2KB  15-MAR-2004 10:00:00  [OWNER]  (RWED,RWED,RE,)", File, "NOTES.TXT", 2048,
     "2004-03-15T10:00:00"},
    {"LOG.DAT;3  [SYSTEM]  17  1-JAN-2005 00:00:01  (RWED,RWED,RE,)", File, "LOG.DAT", 8704, "2005-01-01T00:00:01"},
    {"A_VERY_LONG_FILE_NAME_FOR_ITS_COLUMN.TXT;1\r\n        9/12  15-MAR-2004 10:00:00  [OWNER]  (RWED,RWED,RE,)",
     File, "A_VERY_LONG_FILE_NAME_FOR_ITS_COLUMN.TXT", 4608, "2004-03-15T10:00:00"},
    {"Directory DISK$USER:[USER]", NoEntry},
    {"Total of 3 files, 12/18 blocks.", NoEntry},
    // AS/400: day first, dotted; members belong to their file's listing
    {"QSYS            77824 02/23/00 15:09:55 *DIR       QSYS/", Folder, "QSYS", 0, "2000-02-23T15:09:55"},
    {"QPGMR           36864 23/02/00 15:09:55 *FILE      QCLSRC", Folder, "QCLSRC", 0, "2000-02-23T15:09:55"},
    {"QPGMR          131072 23.02.00 15:09:55 *STMF      report.txt", File, "report.txt", 131072,
     "2000-02-23T15:09:55"},
    {"QPGMR                                   *MEM       QCLSRC.FILE/MBR1.MBR", NoEntry},
    // MVS: data sets, a pseudo directory, members of a partitioned data set
    {"Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname", NoEntry},
    {"WYNKD1 3390   2004/06/23  1   15  FB      80  3120  PO  ISPF.ISPPROF", Folder, "ISPF.ISPPROF", 0,
     "2004-06-23T00:00:00"},
    {"WYNKD2 3390   2004/06/23  1    1  VB     259 27998  PS  LOG.MISC", File, "LOG.MISC", 0, "2004-06-23T00:00:00"},
    {"Pseudo Directory                                        MYDIR", Folder, "MYDIR"},
    {" Name     VV.MM   Created       Changed      Size  Init   Mod   Id", NoEntry},
    {"MEMBER1   01.03 2004/06/21 2004/06/23 10:15    20    20     0 USER1", File, "MEMBER1", 0, "2004-06-23T10:15:00"},
    // No entry
    {"total 120", NoEntry},
    {"insgesamt 12K", NoEntry},
    {"итого 8", NoEntry},
    {"   ", NoEntry},
    // Unreadable: dropped, never read into a wrong entry
    {"-rw-r--r-- 1 u g 12x4 Mar 3 14:05 bad size", Unread},
    {"-rw-r--r-- 1 u g 12 Mar 3x 14:05 bad day", Unread},
    {"-rw-r--r-- 1 u g 12 Mar 3 1a:05 bad time", Unread},
    {"-rw-r--r-- 1 u g 12 Mar 3 14:05", Unread},
    {"+s12a,\tbad eplf", Unread},
    {"11-05-12  07:15AM  12q  bad dos", Unread},
    {"11-05-12  27:15  12  bad hour", Unread},
    {"DATA.DIR;1  2  1x-FEB-2003 09:41 [OWNER]", Unread},
    {"Permission denied", Unread},
    {"-rw-r--r--   1 owner    group        1234 Xyz  3 14:05 unknown month", Unread},
    {"-rw-r--r--   1 owner    group        1234 2019-03-03T10:00 unknown date", Unread},
    {"Migrated                                                OLD.DATA", Unread},
    {"-rw-r--r-- 1 u g 1,234 Mar  3 14:05 separators in ls", Unread},
    {"11-05-12  07:15AM  9,73  bad separators", Unread},
};

TEST(FTPListingTable, EachFamilyGivesItsEntryOrNone)
{
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.line);
        QByteArray buffer = QByteArray(row.line) + "\r\n";
        QNStringEncoding utf8(QNStringEncoding::UTF8);
        const auto r = QNFTPListingParser::parseListing(buffer, true, utf8, kNow);
        EXPECT_TRUE(r.droppedNames.isEmpty());
        if (row.expect == NoEntry || row.expect == Unread) {
            EXPECT_TRUE(r.items.isEmpty()) << r.items.value(0).name.toStdString();
            EXPECT_EQ(r.unreadLines.size(), row.expect == Unread ? 1 : 0);
            continue;
        }
        EXPECT_EQ(r.items.size(), 1);
        if (r.items.size() != 1)
            continue;
        const auto &item = r.items[0];
        EXPECT_EQ(item.name.toStdString(), row.name);
        const Kind kind = row.expect == Folder ? Kind::Folder : (row.expect == Link ? Kind::Link : Kind::File);
        EXPECT_EQ(int(item.kind), int(kind));
        EXPECT_EQ(item.isDirectory, row.expect == Folder);
        EXPECT_EQ(item.size, row.size);
        EXPECT_EQ(item.date.isValid() ? item.date.toUTC().toString(Qt::ISODate).chopped(1).toStdString() : "",
                  std::string(row.date));
    }
}

TEST(FTPListingTable, LinkTargetAndLocalMonthNamesInTheListingsEncoding)
{
    // "мар" in CP1251, as an older Russian server lists it.
    QByteArray listing = "lrwxrwxrwx 1 u g 11 " + QByteArray::fromHex("ece0f0") + " 3 14:05 to folder -> real folder\n";
    QNStringEncoding cp1251(QNStringEncoding::WindowsCP1251);
    const auto r = QNFTPListingParser::parseListing(listing, true, cp1251, kNow);
    ASSERT_EQ(r.items.size(), 1);
    EXPECT_EQ(r.items[0].name, QStringLiteral("to folder"));
    EXPECT_EQ(r.items[0].linkTarget, QByteArray("real folder"));
    EXPECT_EQ(r.items[0].date.toSecsSinceEpoch(), QNFTPListingParser::daySeconds(2026, 2, 3) + 14 * 3600 + 5 * 60);
}

TEST(FTPListingTable, EastAsianDatesInTheirLegacyEncodings)
{
    struct EncodedRow {
        quint32 encoding;
        const char *line;  // UTF-8 here, sent in the encoding
        const char *name;
        const char *date;
    };
    const EncodedRow rows[] = {
        {QNStringEncoding::ShiftJIS, "-rw-r--r-- 1 u g 10  3月 29日 03:26 日本語.txt", "日本語.txt", "2026-03-29T03:26:00"},
        {QNStringEncoding::JapaneseEUC, "-rw-r--r-- 1 u g 10 2004年 3月 29日 資料.txt", "資料.txt", "2004-03-29T00:00:00"},
        {0x80000940 /* EUC-KR */, "-rw-r--r-- 1 u g 10  3월 29일 03:26 문서.txt", "문서.txt", "2026-03-29T03:26:00"},
        {0x80000632 /* GB18030 */, "-rw-r--r-- 1 u g 10  3月 29  2004 文件.txt", "文件.txt", "2004-03-29T00:00:00"},
        {0x80000A03 /* Big5 */, "-rw-r--r-- 1 u g 10 2004年3月29日 檔案.txt", "檔案.txt", "2004-03-29T00:00:00"},
    };
    for (const EncodedRow &row : rows) {
        SCOPED_TRACE(row.line);
        QNStringEncoding encoding(row.encoding);
        const auto bytes = encoding.encode(QString::fromUtf8(row.line));
        ASSERT_TRUE(bytes.has_value());
        QByteArray listing = *bytes + "\r\n";
        const auto r = QNFTPListingParser::parseListing(listing, true, encoding, kNow);
        ASSERT_EQ(r.items.size(), 1);
        EXPECT_EQ(r.items[0].name.toStdString(), row.name);
        EXPECT_EQ(r.items[0].size, 10);
        EXPECT_EQ(r.items[0].date.toString(Qt::ISODate).chopped(1).toStdString(), row.date);
    }
}

}  // namespace
