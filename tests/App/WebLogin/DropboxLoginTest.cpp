// Linking a Dropbox account through the web login sheet: the fake's
// authorization page redirects to the loopback callback, the sheet hands it
// to the handler, and the token ends in the keyring.
#include "Cloud/Dropbox/DropboxFake.h"

#include "App/WebLogin/QNAuthWindowController.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "Cloud/QNDropboxHandler.h"
#include "Platform/VNKeychain.h"
#include "support/TestSupport.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct Answer {
    int count = 0;
    bool ok = false;
    VNErrorPtr error;
    bool cancelled = false;
};

class DropboxLoginSheet : public ::testing::Test {
protected:
    void SetUp() override {
        const QString reason = DropboxFake::unavailableReason();
        if (!reason.isEmpty())
            FAIL() << reason.toStdString();
        DropboxFake::setUp();
        QNAuthWindowController::installAsLoginSheet();
        QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());
        drive = QNDriveConfig::create();
        drive->setIsDropbox(true);
        handler = std::make_shared<QNDropboxHandler>(drive);
        sheet = handler->oAuthLoginWithCompletedBlock([this](bool ok, VNErrorPtr error, bool cancelled) {
            ++answer.count;
            answer.ok = ok;
            answer.error = error;
            answer.cancelled = cancelled;
        });
        ASSERT_NE(sheet, nullptr);
        sheet->window()->show();
    }

    void TearDown() override {
        if (sheet)
            sheet->closePanel();
        // As the Add Drive sheet does when it closes: the sign-in's requests
        // still under way (the request token, after a cancel) are stopped,
        // and their answers, which hold the handler, are let in.
        if (handler) {
            handler->cancel();
            EXPECT_TRUE(VNTest::waitUntil([&] { return handler.use_count() == 1; }))
                << "the handler is still held after the sign-in ended";
        }
        if (auto session = DXSession::sharedSession())
            session->unlinkAll();
        DXSession::setSharedSession(nullptr);
    }

    QNDriveConfigPtr drive;
    std::shared_ptr<QNDropboxHandler> handler;
    std::shared_ptr<QNAuthWindowController> sheet;
    Answer answer;
};

TEST_F(DropboxLoginSheet, TheAuthorizationRedirectLinksTheAccountIntoTheKeyring) {
    EXPECT_EQ(drive->description(), QStringLiteral("SHOW DOCUMENTS ON THIS DROPBOX ACCOUNT"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return answer.count > 0; }, 60000)) << "the sheet never answered";
    VNTest::spin(300);
    EXPECT_EQ(answer.count, 1);
    ASSERT_TRUE(answer.ok) << (answer.error ? answer.error->localizedDescription().toStdString() : "");
    EXPECT_TRUE(sheet->hasHandedOver());
    EXPECT_EQ(drive->userId(), DropboxFake::userId());
    // Kept for the next launch's session, under the user linked.
    EXPECT_TRUE(VNKeychain::secret(DXSession::keychainService(), DropboxFake::appKey())
                    .value_or(QString())
                    .contains(DropboxFake::userId()));
}

TEST_F(DropboxLoginSheet, CancellingTheSheetAnswersNotLinked) {
    sheet->cancelLogin();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answer.count > 0; }, 30000));
    EXPECT_FALSE(answer.ok);
    EXPECT_FALSE(answer.error);
    EXPECT_FALSE(answer.cancelled);
    EXPECT_TRUE(drive->userId().isEmpty());
}

}  // namespace
