// The FTP handler's encoding choice, and calls made without a completion.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNOperationQueue.h"

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

TEST(FTPHandlerRegistration, CallsWithoutACompletionCallbackDoNotCrash)
{
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    config->setUrl(QStringLiteral("ftp://127.0.0.1:1/"));
    QNFTPHandler::registerHandler();
    auto handler = config->createCloudInterface();
    ASSERT_EQ(handler->className(), QStringLiteral("QNFTPHandler"));
    handler->createFolder(QStringLiteral("a/b"), QNDocument::withPath(QStringLiteral("/"), true), nullptr);
    handler->remove(QNDocument::withPath(QStringLiteral("/")), nullptr);
    handler->cancel();
    handler->download(QNDocument::withPath(QStringLiteral("/x")), QNDocument::withPath(QStringLiteral("/nonexistent/x")),
                      nullptr, nullptr);
    QNFTPHandler::transferQueue().waitUntilAllOperationsAreFinished();
    SUCCEED();
}
