// Adding a OneDrive account through the add-drive sheet: the Live Connect
// client loads the fake's authorization page into the login sheet and
// watches its view for the service's redirect, which no marker of the sheet
// knows; the code becomes the stored drive's tokens, a refusal stores nothing.
#include "../../Cloud/WebDrives/WebDriveTestSupport.h"
#include "App/Drives/DrivesTestSupport.h"

#include "Cloud/QNServiceHosts.h"
#include "Cloud/QNSkyDriveHandler.h"

namespace {

TEST_F(DrivesTest, OneDriveIsAddedThroughTheLoginSheetOrRefused) {
    const WebDriveTest::Fake fake("onedrive");
    if (!fake.isRunning())
        FAIL() << "the onedrive peer did not start";
    fake.trustItsCertificate();
    QNAuthWindowController::installAsLoginSheet();
    QNServiceHosts::setUrl("live.login", fake.httpBase());
    QNServiceHosts::setUrl("live.api", fake.httpsBase() + "/v5.0");
    QNSkyDriveHandler::registerWithFactory();
    const int oneDriveRow = 2;
    ASSERT_TRUE(QNAddDriveWindowController::makeTemplates().at(oneDriveRow)->isSkyDrive());

    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused" : "signed in");
        fake.control("reset");
        if (refuse)
            fake.control("refuse");
        VNUserDefaults::standard().removeObject(QNDriveConfig::storedDrivesKey());
        QNAddDriveWindowController *s = openSheet();
        s->tableViewSelectionDidChange(oneDriveRow);
        ASSERT_NE(s->authWindowController(), nullptr) << "no login sheet for OneDrive";
        ASSERT_TRUE(VNTest::waitUntil([&] { return s->isClosed() || !s->authWindowController(); }, 60000))
            << "the login never ended";
        VNTest::spin(300);
        EXPECT_TRUE(QNDialogService::shared().history().isEmpty()) << "no alert either way";
        const auto stored = QNDriveConfig::readStoredDrives();
        ASSERT_TRUE(stored);
        EXPECT_EQ(s->isClosed(), !refuse);
        ASSERT_EQ(stored->size(), refuse ? 0 : 1);
        if (!refuse) {
            EXPECT_TRUE(stored->at(0)->isSkyDrive());
            EXPECT_TRUE(stored->at(0)->password().startsWith("refresh-"));
            EXPECT_EQ(stored->at(0)->description(), "SHOW DOCUMENTS ON THIS SKYDRIVE ACCOUNT");
        }
    }
    QNCloudInterfaceFactory::unregisterHandler(QNCloudInterfaceFactory::Kind::SkyDrive);
}

}  // namespace
