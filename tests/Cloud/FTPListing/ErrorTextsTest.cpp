#include "Cloud/QNFTPErrorTexts.h"

#include <gtest/gtest.h>

#include <string>

TEST(FTPErrorTexts, KnownCodes)
{
    EXPECT_STREQ(QNFTPErrorTexts::text(0), "no error");
    EXPECT_STREQ(QNFTPErrorTexts::text(3), "URL using bad/illegal format or missing URL");
    EXPECT_STREQ(QNFTPErrorTexts::text(9), "FTP: access denied");
    EXPECT_STREQ(QNFTPErrorTexts::text(42), "the operation was aborted by an application callback");
    EXPECT_STREQ(QNFTPErrorTexts::text(60), "peer certificate cannot be authenticated with known CA certificates");
    EXPECT_STREQ(QNFTPErrorTexts::text(67), "FTP: login denied");
    EXPECT_STREQ(QNFTPErrorTexts::text(78), "Remote file not found");
    EXPECT_STREQ(QNFTPErrorTexts::text(80), "Failed to shut down the SSL connection");
}

TEST(FTPErrorTexts, GapsAndCodesBeyondTheTableAreUnknown)
{
    for (uint32_t code : {4u, 10u, 24u, 44u, 46u, 50u, 81u, 88u, 4294967295u})
        EXPECT_STREQ(QNFTPErrorTexts::text(code), "unknown error") << code;
}

TEST(FTPErrorTexts, EveryOtherCodeHasItsOwnText)
{
    int unknown = 0;
    for (uint32_t code = 0; code < QNFTPErrorTexts::count; ++code) {
        ASSERT_NE(QNFTPErrorTexts::text(code), nullptr);
        if (std::string(QNFTPErrorTexts::text(code)) == "unknown error")
            ++unknown;
    }
    EXPECT_EQ(unknown, 6);
}
