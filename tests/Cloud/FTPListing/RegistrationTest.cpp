// The handler factory makes the FTP handler for FTP drives once registered.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNOperationQueue.h"

#include <gtest/gtest.h>

TEST(FTPHandlerRegistration, FactoryMakesTheFtpHandlerForFtpDrives)
{
    QNFTPHandler::registerHandler();
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    config->setUrl(QStringLiteral("sftp://127.0.0.1/"));
    auto handler = config->createCloudInterface();
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->className(), QStringLiteral("QNFTPHandler"));
    auto first = config->createCloudInterface();
    EXPECT_NE(first, handler);  // a new handler for every call
}

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

TEST(FTPHandlerRegistration, QuotaAnswersCancelledAtOnce)
{
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    auto handler = QNFTPHandler::make(config);
    bool answered = false;
    handler->quota(nullptr, [&](VNErrorPtr error, bool cancelled) {
        answered = !error && cancelled;
    });
    EXPECT_TRUE(answered);
}

TEST(FTPHandlerRegistration, CallsWithoutACompletionCallbackDoNotCrash)
{
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    config->setUrl(QStringLiteral("ftp://127.0.0.1:1/"));
    auto handler = std::static_pointer_cast<QNFTPHandler>(QNFTPHandler::make(config));
    handler->createFolder(QStringLiteral("a/b"), QNDocument::withPath(QStringLiteral("/"), true), nullptr);
    handler->remove(QNDocument::withPath(QStringLiteral("/")), nullptr);
    handler->cancel();
    handler->download(QNDocument::withPath(QStringLiteral("/x")), QNDocument::withPath(QStringLiteral("/nonexistent/x")),
                      nullptr, nullptr);
    QNFTPHandler::transferQueue().waitUntilAllOperationsAreFinished();
    SUCCEED();
}
