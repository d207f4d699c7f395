#include "Cloud/QNFTPErrorTexts.h"

#include <gtest/gtest.h>

#include <string>

// Every code has a text; gaps and codes beyond the table read as unknown.
TEST(FTPErrorTexts, GapsAndCodesBeyondTheTableAreUnknown)
{
    EXPECT_STREQ(QNFTPErrorTexts::text(67), "FTP: login denied");
    int unknown = 0;
    for (uint32_t code = 0; code < QNFTPErrorTexts::count; ++code) {
        ASSERT_NE(QNFTPErrorTexts::text(code), nullptr);
        unknown += std::string(QNFTPErrorTexts::text(code)) == "unknown error";
    }
    EXPECT_EQ(unknown, 6);
    for (uint32_t code : {4u, 10u, 88u, 4294967295u})
        EXPECT_STREQ(QNFTPErrorTexts::text(code), "unknown error") << code;
}
