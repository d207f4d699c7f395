// Signing Google Drive, Box, Copy, Bitcasa and Flickr accounts in through
// the web login sheet: the fake's authorization page redirects to the
// loopback callback with a code or verifier, the sheet (or, for Flickr, the
// client watching it) hands it on, and it is traded for the tokens.
#include "App/QNAddDriveWindowController.h"
#include "App/WebLogin/QNAuthWindowController.h"
#include "App/QNDialogService.h"
#include "App/QNDriveConfigWindowController.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "Cloud/QNBitcasaHandler.h"
#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNCopyHandler.h"
#include "Cloud/QNFlickrHandler.h"
#include "Cloud/QNGoogleDriveHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNUserDefaults.h"
#include "../../Cloud/WebDrives/WebDriveTestSupport.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The peer's certificate trusted, the service's hosts pointed at its plain
// and TLS addresses, and the login sheet installed; false when the peer is
// not running.
bool useFake(const QString &peer, const QStringList &plainHosts, const QStringList &tlsHosts) {
    const WebDriveTest::Fake fake(peer);
    if (!fake.isRunning())
        return false;
    fake.trustItsCertificate();
    for (const QString &key : plainHosts)
        QNServiceHosts::setUrl(key, fake.httpBase());
    for (const QString &key : tlsHosts)
        QNServiceHosts::setUrl(key, fake.httpsBase());
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

// Chooses the kind's row of a new add-drive sheet and waits until the drive
// is saved, with no alert; the one stored drive, and whether the login
// sheet's own markers handed the callback over.
QNDriveConfigPtr addThroughSheet(QNCloudInterfaceFactory::Kind kind, bool *handedOver = nullptr) {
    EXPECT_TRUE(QNDriveConfig::writeStoredDrives({}));
    QNDialogService::shared().clearHistory();
    QNAddDriveWindowController add;
    add.window()->show();
    const QNDriveConfigList kinds = add.drives();
    const auto row = std::find_if(kinds.begin(), kinds.end(),
                                  [kind](const auto &d) { return QNCloudInterfaceFactory::kindOf(*d) == kind; });
    if (row == kinds.end())
        return nullptr;
    add.tableViewSelectionDidChange(int(row - kinds.begin()));
    const auto login = add.authWindowController();
    if (!login) {
        ADD_FAILURE() << "the row opens no login sheet";
        return nullptr;
    }
    EXPECT_TRUE(VNTest::waitUntil([&] { return add.isClosed(); }, 60000)) << "the drive was never saved";
    if (handedOver)
        *handedOver = login->hasHandedOver();
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    const auto stored = QNDriveConfig::readStoredDrives();
    return stored && stored->size() == 1 ? stored->at(0) : nullptr;
}

}  // namespace

TEST(GoogleDriveLoginSheet, TheCodeFromTheRedirectBecomesTheDrivesTokens) {
    if (!useFake("gdrive", {"google.accounts"}, {"google.api"}))
        FAIL() << "the gdrive peer did not start";

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
    if (!useFake("box", {"box.account"}, {"box.api", "box.upload"}))
        FAIL() << "the box peer did not start";

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
    if (!useFake("copy", {"copy.web"}, {"copy.api"}))
        FAIL() << "the copy peer did not start";

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
    if (!useFake("bitcasa", {"bitcasa.account"}, {"bitcasa.api", "bitcasa.files"}))
        FAIL() << "the bitcasa peer did not start";
    QNBitcasaHandler::registerWithFactory();
    const QNDriveConfigPtr stored = addThroughSheet(QNCloudInterfaceFactory::Kind::Bitcasa);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(stored->token().startsWith("access-"));
    EXPECT_EQ(stored->description(), "Show documents on this Bitcasa account");
}

TEST(FlickrLoginSheet, AddDriveSignsInAndTheClientCatchesItsOwnCallback) {
    if (!useFake("flickr", {"flickr.web"}, {"flickr.api", "flickr.upload", "flickr.oauth"}))
        FAIL() << "the flickr peer did not start";
    QNFlickrHandler::registerWithFactory();
    bool handedOver = true;
    const QNDriveConfigPtr stored = addThroughSheet(QNCloudInterfaceFactory::Kind::Flickr, &handedOver);
    ASSERT_NE(stored, nullptr);
    // The client took the callback itself: the sheet's markers never saw it.
    EXPECT_FALSE(handedOver);
    EXPECT_TRUE(stored->token().startsWith("access-"));
    EXPECT_FALSE(stored->tokenSecret().isEmpty());
    EXPECT_EQ(stored->userId(), "12345678@N00");
    EXPECT_EQ(stored->description(), "SHOW DOCUMENTS ON THIS FLICKR ACCOUNT");
}
