// Signing a OneDrive account in through the web login sheet: the Live
// Connect client loads the fake's authorization page and watches the
// sheet's view for the service's redirect, which no marker of the sheet
// knows; the code becomes the drive's tokens, a refusal a plain "no".
#include "../../Cloud/WebDrives/WebDriveTestSupport.h"

#include "App/QNAuthWindowController.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "Cloud/QNServiceHosts.h"
#include "Cloud/QNSkyDriveHandler.h"

#include <QWidget>

namespace {

TEST(OneDriveLoginSheet, TheRedirectSeenInTheViewSignsInOrRefuses) {
    const WebDriveTest::Fake fake("onedrive");
    if (!fake.isRunning())
        GTEST_SKIP() << "the onedrive peer is not running";
    fake.trustItsCertificate();
    fake.control("reset");
    QNAuthWindowController::installAsLoginSheet();
    QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());
    QNServiceHosts::setUrl("live.login", fake.httpBase());
    QNServiceHosts::setUrl("live.api", fake.httpsBase() + "/v5.0");

    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused" : "signed in");
        if (refuse)
            fake.control("refuse");
        auto drive = QNDriveConfig::create();
        drive->setIsSkyDrive(true);
        int answers = 0;
        bool ok = false;
        VNErrorPtr error;
        auto sheet = std::make_shared<QNSkyDriveHandler>(drive)->oAuthLoginWithCompletedBlock(
            [&](bool success, VNErrorPtr e, bool) {
                ++answers;
                ok = success;
                error = e;
            });
        ASSERT_NE(sheet, nullptr);
        sheet->window()->show();
        ASSERT_TRUE(VNTest::waitUntil([&] { return answers > 0; }, 60000)) << "the sheet never answered";
        VNTest::spin(300);
        EXPECT_EQ(answers, 1);
        EXPECT_EQ(ok, !refuse);
        EXPECT_FALSE(error);
        EXPECT_EQ(drive->password().startsWith("refresh-"), !refuse);
        EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS SKYDRIVE ACCOUNT");
        sheet->closePanel();
    }
}

}  // namespace
