// Signing Google Drive, Box and Copy accounts in through the web login
// sheet: the fake's authorization page redirects to the loopback callback
// with a code or verifier, the sheet hands it to the handler, which trades it
// for the tokens.
#include "App/QNAuthWindowController.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNCopyHandler.h"
#include "Cloud/QNGoogleDriveHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <QWidget>
#include <gtest/gtest.h>

TEST(GoogleDriveLoginSheet, TheCodeFromTheRedirectBecomesTheDrivesTokens) {
    const QJsonObject fake = VNTest::peerState(QStringLiteral("gdrive"));
    if (fake.isEmpty())
        GTEST_SKIP() << "the gdrive peer is not running";
    NRHTTPRequest::setTestCertificateAuthorityFile(fake.value("ca_file").toString());
    QNServiceHosts::setUrl("google.accounts", QStringLiteral("http://127.0.0.1:%1").arg(fake.value("http_port").toInt()));
    QNServiceHosts::setUrl("google.api", QStringLiteral("https://127.0.0.1:%1").arg(fake.value("https_port").toInt()));
    QNAuthWindowController::installAsLoginSheet();
    QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());

    auto drive = QNDriveConfig::create();
    drive->setIsGoogleDrive(true);
    auto handler = std::make_shared<QNGoogleDriveHandler>(drive);
    int answers = 0;
    bool ok = false;
    VNErrorPtr error;
    auto sheet = handler->oAuthLoginWithCompletedBlock([&](bool success, VNErrorPtr e, bool) {
        ++answers;
        ok = success;
        error = e;
    });
    ASSERT_NE(sheet, nullptr);
    sheet->window()->show();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers > 0; }, 60000)) << "the sheet never answered";
    VNTest::spin(300);
    EXPECT_EQ(answers, 1);
    ASSERT_TRUE(ok) << (error ? error->localizedDescription().toStdString() : "");
    EXPECT_TRUE(sheet->hasHandedOver());
    EXPECT_FALSE(drive->password().isEmpty());
    EXPECT_EQ(drive->username(), "test@example.com");
    EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS GOOGLE DRIVE ACCOUNT");
    sheet->closePanel();
}

TEST(BoxLoginSheet, TheCodeFromTheRedirectBecomesTheUsersRefreshToken) {
    const QJsonObject fake = VNTest::peerState(QStringLiteral("box"));
    if (fake.isEmpty())
        GTEST_SKIP() << "the box peer is not running";
    NRHTTPRequest::setTestCertificateAuthorityFile(fake.value("ca_file").toString());
    const QString https = QStringLiteral("https://127.0.0.1:%1").arg(fake.value("https_port").toInt());
    QNServiceHosts::setUrl("box.account", QStringLiteral("http://127.0.0.1:%1").arg(fake.value("http_port").toInt()));
    QNServiceHosts::setUrl("box.api", https);
    QNServiceHosts::setUrl("box.upload", https);
    QNAuthWindowController::installAsLoginSheet();
    QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());

    auto drive = QNDriveConfig::create();
    drive->setIsBox(true);
    auto handler = std::make_shared<QNBoxHandler>(drive);
    int answers = 0;
    bool ok = false;
    auto sheet = handler->oAuthLoginWithCompletedBlock([&](bool success, VNErrorPtr, bool) {
        ++answers;
        ok = success;
    });
    ASSERT_NE(sheet, nullptr);
    sheet->window()->show();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers > 0; }, 60000)) << "the sheet never answered";
    EXPECT_TRUE(ok);
    EXPECT_EQ(drive->userId(), "1234");
    EXPECT_FALSE(VNUserDefaults::standard().stringForKey("box-refresh-token:1234").isEmpty());
    EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS BOX ACCOUNT");
    sheet->closePanel();
}

TEST(CopyLoginSheet, TheVerifierFromTheRedirectBecomesTheDrivesToken) {
    const QJsonObject fake = VNTest::peerState(QStringLiteral("copy"));
    if (fake.isEmpty())
        GTEST_SKIP() << "the copy peer is not running";
    NRHTTPRequest::setTestCertificateAuthorityFile(fake.value("ca_file").toString());
    QNServiceHosts::setUrl("copy.api", QStringLiteral("https://127.0.0.1:%1").arg(fake.value("https_port").toInt()));
    QNServiceHosts::setUrl("copy.web", QStringLiteral("http://127.0.0.1:%1").arg(fake.value("http_port").toInt()));
    QNAuthWindowController::installAsLoginSheet();
    QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());

    auto drive = QNDriveConfig::create();
    drive->setIsCopy(true);
    auto handler = std::make_shared<QNCopyHandler>(drive);
    int answers = 0;
    bool ok = false;
    auto sheet = handler->oAuthLoginWithCompletedBlock([&](bool success, VNErrorPtr, bool) {
        ++answers;
        ok = success;
    });
    ASSERT_NE(sheet, nullptr);
    sheet->window()->show();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers > 0; }, 60000)) << "the sheet never answered";
    EXPECT_TRUE(ok);
    EXPECT_TRUE(drive->token().startsWith("access-"));
    EXPECT_FALSE(drive->tokenSecret().isEmpty());
    sheet->closePanel();
}
