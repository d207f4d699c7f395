// The transfer log: protocol text only, no password, bounded.
#include "Cloud/QNFTPTransferLog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void add(QNFTPTransferLog &log, QNFTPTransferLog::Kind kind, const std::string &text)
{
    log.add(kind, text.data(), text.size());
}

TEST(FTPTransferLog, KeepsCommandsAndRepliesAsBracketedLinesButNeverFileContents)
{
    QNFTPTransferLog log;
    add(log, QNFTPTransferLog::Kind::Data, "-rw-r--r-- 1 u g 1 Jan 1 2020 secret-listing\n");
    add(log, QNFTPTransferLog::Kind::Received, "220 ready\r\n");
    add(log, QNFTPTransferLog::Kind::Sent, "USER me\r\n");
    add(log, QNFTPTransferLog::Kind::Text, "  Trying 127.0.0.1:21...\n");
    EXPECT_EQ(log.text(), QStringLiteral("\n[220 ready]\n[USER me]\n[Trying 127.0.0.1:21...]"));
}

TEST(FTPTransferLog, MasksThePasswordEverywhere)
{
    QNFTPTransferLog log(QStringLiteral("s3cret!"));
    add(log, QNFTPTransferLog::Kind::Sent, "PASS s3cret!\r\n");
    add(log, QNFTPTransferLog::Kind::Sent, "pass s3cret!\r\n");
    add(log, QNFTPTransferLog::Kind::Text, "odd server echoing s3cret! back\n");
    // A header carries the password in base64, never plainly.
    add(log, QNFTPTransferLog::Kind::Sent, "Authorization: Basic bWU6czNjcmV0IQ==\r\n");
    add(log, QNFTPTransferLog::Kind::Sent, "proxy-authorization: Basic bWU6czNjcmV0IQ==\r\n");
    EXPECT_FALSE(log.text().contains(QStringLiteral("s3cret!")));
    EXPECT_FALSE(log.text().contains(QStringLiteral("bWU6")));
    EXPECT_TRUE(log.text().contains(QStringLiteral("[PASS ****]")));
}

TEST(FTPTransferLog, AnOverlongLineIsCutAfterMaskingSoNoPartOfThePasswordShows)
{
    QNFTPTransferLog log(QStringLiteral("s3cret!"));
    // The password straddles the cut.
    add(log, QNFTPTransferLog::Kind::Received,
        std::string(QNFTPTransferLog::maxLineLength - 4, 'x') + "s3cret!" + std::string(600, 'y') + "\n");
    const QString text = log.text();
    EXPECT_FALSE(text.contains(QStringLiteral("s3cr"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("xxxx****"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("...]")));
}

TEST(FTPTransferLog, StaysBoundedAndKeepsBothEnds)
{
    QNFTPTransferLog log;
    for (int i = 0; i < 100000; ++i)
        add(log, QNFTPTransferLog::Kind::Text, "line " + std::to_string(i) + "\n");
    add(log, QNFTPTransferLog::Kind::Text, std::string(100000, 'x'));
    EXPECT_EQ(log.lineCount(), QNFTPTransferLog::headLines + QNFTPTransferLog::tailLines);
    const QString text = log.text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("\n[line 0]")));
    EXPECT_TRUE(text.contains(QStringLiteral("lines left out")));
    EXPECT_TRUE(text.contains(QStringLiteral("[line 99999]")));
    EXPECT_LT(text.size(), 120000);
}

}  // namespace
