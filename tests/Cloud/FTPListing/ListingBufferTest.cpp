// Whole listings: line ends, the last line, names that cannot be documents,
// decoding in the drive's encoding.
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNStringEncoding.h"

#include <gtest/gtest.h>

namespace {

const int64_t kNow = QNFTPListingParser::daySeconds(2026, 11, 6) + 12 * 3600;

QStringList names(const QNFTPListingParser::Result &r)
{
    QStringList out;
    for (const auto &item : r.items)
        out << item.name;
    return out;
}

TEST(FTPListingBuffer, CrLfAndLfLinesAndTheLastLineWithoutLineEnd)
{
    QByteArray listing =
        "total 12\r\n"
        "-rw-r--r--   1 u g 10 Jan  1  2020 a.txt\r\n"
        "drwxr-xr-x   2 u g 4096 Jan  1  2020 dir\n"
        "-rw-r--r--   1 u g 20 Jan  1  2020 last.txt";
    QNStringEncoding enc(QNStringEncoding::UTF8);
    QByteArray partial = listing;
    auto first = QNFTPListingParser::parseListing(partial, false, enc, kNow);
    EXPECT_EQ(names(first), (QStringList{"a.txt", "dir"}));
    EXPECT_EQ(partial, QByteArray("-rw-r--r--   1 u g 20 Jan  1  2020 last.txt"));
    auto rest = QNFTPListingParser::parseListing(partial, true, enc, kNow);
    EXPECT_EQ(names(rest), (QStringList{"last.txt"}));
    EXPECT_TRUE(partial.isEmpty());

    QByteArray whole = listing;
    auto all = QNFTPListingParser::parseListing(whole, true, enc, kNow);
    ASSERT_EQ(all.items.size(), 3);
    EXPECT_TRUE(all.items[1].isDirectory);
    EXPECT_FALSE(all.items[0].isDirectory);
    EXPECT_EQ(all.items[0].size, 10);
    EXPECT_EQ(all.items[2].size, 20);
    EXPECT_TRUE(all.items[0].date.isValid());
}

TEST(FTPListingBuffer, DotEntriesSlashesAndNulAreDroppedAndReported)
{
    QByteArray listing =
        "drwxr-xr-x   2 u g 4096 Jan  1  2020 .\n"
        "drwxr-xr-x   2 u g 4096 Jan  1  2020 ..\n"
        "-rw-r--r--   1 u g 1 Jan  1  2020 .\n"
        "-rw-r--r--   1 u g 1 Jan  1  2020 ../../etc/passwd\n"
        "-rw-r--r--   1 u g 1 Jan  1  2020 a/b\n"
        "-rw-r--r--   1 u g 1 Jan  1  2020 \n"
        "-rw-r--r--   1 u g 1 Jan  1  2020 .hidden\n";
    listing += QByteArray("-rw-r--r--   1 u g 1 Jan  1  2020 nul", 35) + QByteArray(1, '\0') + "x\n";
    QNStringEncoding enc(QNStringEncoding::UTF8);
    auto r = QNFTPListingParser::parseListing(listing, true, enc, kNow);
    EXPECT_EQ(names(r), (QStringList{".hidden"}));
    EXPECT_EQ(r.droppedNames.size(), 7);
}

TEST(FTPListingBuffer, NamesDecodeInTheGivenEncodingAndInvalidOnesKeepTheirBytes)
{
    const struct {
        quint32 encoding;
        QByteArray raw;
        QString name;
    } cases[] = {
        {QNStringEncoding::WindowsCP1251, QByteArray::fromHex("cff0e8e2e5f2") + ".txt", QString::fromUtf8("Привет.txt")},
        {QNStringEncoding::ShiftJIS, QByteArray::fromHex("93fa967b8cea") + ".txt", QString::fromUtf8("日本語.txt")},
        {QNStringEncoding::UTF8, "caf\xe9.txt", QString()},
    };
    for (const auto &c : cases) {
        QNStringEncoding enc(c.encoding);
        QByteArray listing = "-rw-r--r--   1 u g 1 Jan  1  2020 " + c.raw + "\n";
        auto r = QNFTPListingParser::parseListing(listing, true, enc, kNow);
        ASSERT_EQ(r.items.size(), 1);
        if (!c.name.isNull())
            EXPECT_EQ(r.items[0].name, c.name);
        EXPECT_EQ(r.items[0].rawName, c.raw);
        EXPECT_EQ(enc.encode(r.items[0].name).value(), c.raw);
    }
}

TEST(FTPListingBuffer, AWrappedVMSNameWaitsForItsSecondLine)
{
    QNStringEncoding utf8(QNStringEncoding::UTF8);
    QByteArray listing = "A_LONG_NAME_FOR_ITS_COLUMN.TXT;1\r\n";
    auto first = QNFTPListingParser::parseListing(listing, false, utf8, kNow);
    EXPECT_TRUE(first.items.isEmpty());
    EXPECT_TRUE(first.unreadLines.isEmpty());
    listing += "        9/12  15-MAR-2004 10:00:00  [OWNER]  (RWED,RWED,RE,)\r\n"
               "B.TXT;1  1  1-JAN-2005 00:00 [O] (R)\r\n";
    auto rest = QNFTPListingParser::parseListing(listing, false, utf8, kNow);
    EXPECT_EQ(names(rest), (QStringList{"A_LONG_NAME_FOR_ITS_COLUMN.TXT", "B.TXT"}));
    EXPECT_TRUE(listing.isEmpty());
}

TEST(FTPListingBuffer, EmptyAndGarbageBuffers)
{
    QNStringEncoding utf8(QNStringEncoding::UTF8);
    QByteArray empty;
    EXPECT_TRUE(QNFTPListingParser::parseListing(empty, true, utf8, kNow).items.isEmpty());
    QByteArray garbage("\n\n\r\n\x01\x02\x03\n;;;;\n+\n-\n9\n", 19);
    EXPECT_TRUE(QNFTPListingParser::parseListing(garbage, true, utf8, kNow).items.isEmpty());
    EXPECT_TRUE(garbage.isEmpty());
}

}  // namespace
