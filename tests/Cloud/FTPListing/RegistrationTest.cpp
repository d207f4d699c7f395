// The FTP handler's encoding choice.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNDriveConfig.h"

#include <gtest/gtest.h>

TEST(FTPHandlerRegistration, EncodingZeroMeansDetectWithUtf8FirstAnyOtherIsFixed)
{
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    QNFTPHandler detect(config);
    EXPECT_TRUE(detect.shouldDetectStringEncoding());
    EXPECT_EQ(detect.stringEncoding(), quint32(QNStringEncoding::UTF8));
    config->setStringEncoding(QNStringEncoding::ShiftJIS);
    QNFTPHandler fixed(config);
    EXPECT_FALSE(fixed.shouldDetectStringEncoding());
    EXPECT_EQ(fixed.stringEncoding(), quint32(QNStringEncoding::ShiftJIS));
    config->setStringEncoding(QNStringEncoding::UTF16LittleEndian);
    EXPECT_EQ(QNFTPHandler(config).stringEncoding(), 0x94000100u);
}
