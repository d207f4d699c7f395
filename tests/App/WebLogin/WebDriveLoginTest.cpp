// Signing Google Drive, Box, Copy, Bitcasa and Flickr accounts in through
// the web login sheet: the fake's authorization page redirects to the
// loopback callback with a code or verifier, the sheet (or, for Flickr, the
// client watching it) hands it on, and it is traded for the tokens.
#include "App/QNAddDriveWindowController.h"
#include "App/QNAuthWindowController.h"
#include "App/QNDialogService.h"
#include "App/QNDriveConfigWindowController.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "Cloud/QNBitcasaHandler.h"
#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNCopyHandler.h"
#include "Cloud/QNFlickrHandler.h"
#include "Cloud/QNGoogleDriveHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The peer's plain and TLS base addresses, its certificate trusted and the
// login sheet installed; false when the peer is not running.
bool useFake(const QString &peer, QString *http, QString *https) {
    const QJsonObject fake = VNTest::peerState(peer);
    if (fake.isEmpty())
        return false;
    NRHTTPRequest::setTestCertificateAuthorityFile(fake.value("ca_file").toString());
    *http = QStringLiteral("http://127.0.0.1:%1").arg(fake.value("http_port").toInt());
    *https = QStringLiteral("https://127.0.0.1:%1").arg(fake.value("https_port").toInt());
    QNAuthWindowController::installAsLoginSheet();
    QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());
    return true;
}

// One sign-in through the sheet: the sheet and the answers it gave.
struct SheetRun {
    std::shared_ptr<QNAuthWindowController> sheet;
    int answers = 0;
    bool ok = false;
    VNErrorPtr error;
};

// Shows the handler's login sheet and waits for its answer, and a little
// longer: a second answer would be counted.
std::shared_ptr<SheetRun> signInThroughSheet(const std::shared_ptr<QNCloudInterface> &handler) {
    auto run = std::make_shared<SheetRun>();
    std::weak_ptr<SheetRun> weak = run;
    run->sheet = handler->oAuthLoginWithCompletedBlock([weak](bool success, VNErrorPtr e, bool) {
        if (auto r = weak.lock()) {
            ++r->answers;
            r->ok = success;
            r->error = e;
        }
    });
    if (!run->sheet)
        return run;
    run->sheet->window()->show();
    EXPECT_TRUE(VNTest::waitUntil([&] { return run->answers > 0; }, 60000)) << "the sheet never answered";
    VNTest::spin(300);
    EXPECT_EQ(run->answers, 1);
    return run;
}

}  // namespace

TEST(GoogleDriveLoginSheet, TheCodeFromTheRedirectBecomesTheDrivesTokens) {
    QString http, https;
    if (!useFake(QStringLiteral("gdrive"), &http, &https))
        GTEST_SKIP() << "the gdrive peer is not running";
    QNServiceHosts::setUrl("google.accounts", http);
    QNServiceHosts::setUrl("google.api", https);

    auto drive = QNDriveConfig::create();
    drive->setIsGoogleDrive(true);
    const auto run = signInThroughSheet(std::make_shared<QNGoogleDriveHandler>(drive));
    ASSERT_NE(run->sheet, nullptr);
    ASSERT_TRUE(run->ok) << (run->error ? run->error->localizedDescription().toStdString() : "");
    EXPECT_TRUE(run->sheet->hasHandedOver());
    EXPECT_FALSE(drive->password().isEmpty());
    EXPECT_EQ(drive->username(), "test@example.com");
    EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS GOOGLE DRIVE ACCOUNT");
    run->sheet->closePanel();
}

TEST(BoxLoginSheet, TheCodeFromTheRedirectBecomesTheUsersRefreshToken) {
    QString http, https;
    if (!useFake(QStringLiteral("box"), &http, &https))
        GTEST_SKIP() << "the box peer is not running";
    QNServiceHosts::setUrl("box.account", http);
    QNServiceHosts::setUrl("box.api", https);
    QNServiceHosts::setUrl("box.upload", https);

    auto drive = QNDriveConfig::create();
    drive->setIsBox(true);
    const auto run = signInThroughSheet(std::make_shared<QNBoxHandler>(drive));
    ASSERT_NE(run->sheet, nullptr);
    EXPECT_TRUE(run->ok);
    EXPECT_EQ(drive->userId(), "1234");
    EXPECT_FALSE(VNUserDefaults::standard().stringForKey("box-refresh-token:1234").isEmpty());
    EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS BOX ACCOUNT");
    run->sheet->closePanel();
}

TEST(CopyLoginSheet, TheVerifierFromTheRedirectBecomesTheDrivesToken) {
    QString http, https;
    if (!useFake(QStringLiteral("copy"), &http, &https))
        GTEST_SKIP() << "the copy peer is not running";
    QNServiceHosts::setUrl("copy.api", https);
    QNServiceHosts::setUrl("copy.web", http);

    auto drive = QNDriveConfig::create();
    drive->setIsCopy(true);
    const auto run = signInThroughSheet(std::make_shared<QNCopyHandler>(drive));
    ASSERT_NE(run->sheet, nullptr);
    EXPECT_TRUE(run->ok);
    EXPECT_TRUE(drive->token().startsWith("access-"));
    EXPECT_FALSE(drive->tokenSecret().isEmpty());
    run->sheet->closePanel();
}

TEST(BitcasaLoginSheet, AddDriveSignsInOnTheServicesPageAndSavesTheDrive) {
    QString http, https;
    if (!useFake(QStringLiteral("bitcasa"), &http, &https))
        GTEST_SKIP() << "the bitcasa peer is not running";
    QNServiceHosts::setUrl("bitcasa.account", http);
    QNServiceHosts::setUrl("bitcasa.api", https);
    QNServiceHosts::setUrl("bitcasa.files", https);
    QNBitcasaHandler::registerWithFactory();

    QNAddDriveWindowController add;
    add.window()->show();
    const QNDriveConfigList kinds = add.drives();
    const auto row = std::find_if(kinds.begin(), kinds.end(), [](const auto &d) { return d->isBitcasa(); });
    ASSERT_NE(row, kinds.end());
    add.tableViewSelectionDidChange(int(row - kinds.begin()));
    ASSERT_NE(add.authWindowController(), nullptr) << "the Bitcasa row opens the login sheet";
    ASSERT_TRUE(VNTest::waitUntil([&] { return add.isClosed(); }, 60000)) << "the drive was never saved";
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    const auto stored = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE(stored->at(0)->isBitcasa());
    EXPECT_TRUE(stored->at(0)->token().startsWith("access-"));
    EXPECT_EQ(stored->at(0)->description(), "Show documents on this Bitcasa account");
}

TEST(FlickrLoginSheet, AddDriveSignsInAndTheClientCatchesItsOwnCallback) {
    QString http, https;
    if (!useFake(QStringLiteral("flickr"), &http, &https))
        GTEST_SKIP() << "the flickr peer is not running";
    for (const char *key : {"flickr.api", "flickr.upload", "flickr.oauth"})
        QNServiceHosts::setUrl(key, https);
    QNServiceHosts::setUrl("flickr.web", http);
    QNFlickrHandler::registerWithFactory();
    ASSERT_TRUE(QNDriveConfig::writeStoredDrives({}));
    QNDialogService::shared().clearHistory();

    QNAddDriveWindowController add;
    add.window()->show();
    const QNDriveConfigList kinds = add.drives();
    const auto row = std::find_if(kinds.begin(), kinds.end(), [](const auto &d) { return d->isFlickr(); });
    ASSERT_NE(row, kinds.end());
    add.tableViewSelectionDidChange(int(row - kinds.begin()));
    const auto sheet = add.authWindowController();
    ASSERT_NE(sheet, nullptr) << "the Flickr row opens the login sheet";
    ASSERT_TRUE(VNTest::waitUntil([&] { return add.isClosed(); }, 60000)) << "the drive was never saved";
    // The client took the callback itself: the sheet's markers never saw it.
    EXPECT_FALSE(sheet->hasHandedOver());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    const auto stored = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE(stored->at(0)->isFlickr());
    EXPECT_TRUE(stored->at(0)->token().startsWith("access-"));
    EXPECT_FALSE(stored->at(0)->tokenSecret().isEmpty());
    EXPECT_EQ(stored->at(0)->userId(), "12345678@N00");
    EXPECT_EQ(stored->at(0)->description(), "SHOW DOCUMENTS ON THIS FLICKR ACCOUNT");
}
