// The web sign-in sheet as the application gets it: from its module, which
// the first sheet a drive asks for loads. Like the application, this
// program links neither the module nor the web engine; each case runs in a
// process of its own (a loaded module stays).
#include "App/Drives/LocalWebServer.h"
#include "App/QNDialogService.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "App/QNWebLoginModule.h"
#include "App/WebLogin/QNAuthWindowController.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNLoginSheetProvider.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// The sheet's type information lives in the module, which this program does
// not link (as the application does not): the undefined-behaviour
// sanitizer's type check of a member call cannot see it, so the calls go
// through these, without that check.
[[gnu::no_sanitize("vptr")]] QWidget *sheetWindow(QNAuthWindowController &sheet) {
    return sheet.window();
}

[[gnu::no_sanitize("vptr")]] void closeSheet(QNAuthWindowController &sheet) {
    sheet.closePanel();
}

// Signs in the way the service handlers do: a sheet from the provider, its
// authorize page loaded into it; records what the sheet hands over.
class ModuleLoginHandler : public QNCloudInterface {
public:
    ModuleLoginHandler(QNDriveConfigPtr config, QUrl authorizePage)
        : QNCloudInterface(std::move(config)), m_authorizePage(std::move(authorizePage)) {}
    QString className() const override { return QStringLiteral("ModuleLoginHandler"); }
    bool providesOAuthLogin() const override { return true; }

    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback) override {
        auto sheet = QNLoginSheetProvider::makeSheet(shared_from_this());
        QNLoginSheetProvider::loadPage(sheet, m_authorizePage);
        return sheet;
    }
    void processOAuthLogin(const QString &callbackUrl) override { handedOver << callbackUrl; }

    QStringList handedOver;

private:
    QUrl m_authorizePage;
};

bool webEngineMapped() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

class WebLoginModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNDialogService::shared().setAutomated(true);
        QNOAuthCallbackMatcher::setConfig({QStringLiteral("127.0.0.1:%1").arg(trap.port()),
                                           QStringLiteral("www.varnello.app"), QStringLiteral("varnello")});
        QNWebLoginModule::installLoginSheet();
    }

    std::shared_ptr<ModuleLoginHandler> makeHandler(const QString &authorizePath) {
        auto drive = QNDriveConfig::create();
        return std::make_shared<ModuleLoginHandler>(drive, provider.url(authorizePath));
    }

    LocalWebServer provider;
    LocalWebServer trap;
};

TEST_F(WebLoginModuleTest, TheFirstSheetLoadsTheModuleAndItsSignInReachesTheHandler) {
    ASSERT_FALSE(webEngineMapped()) << "this program must not link the web engine";
    EXPECT_FALSE(QNWebLoginModule::isLoaded());
    const QString target = trap.base() + QStringLiteral("/?code=module-code-17&state=s1");
    provider.setRedirect(QStringLiteral("/authorize"), target);
    auto handler = makeHandler(QStringLiteral("/authorize"));

    const std::shared_ptr<QNAuthWindowController> sheet = handler->oAuthLoginWithCompletedBlock({});
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(QNWebLoginModule::isLoaded());
    EXPECT_TRUE(webEngineMapped());
    // What the application does with a sheet, through the module.
    QWidget *window = sheetWindow(*sheet);
    ASSERT_NE(window, nullptr);
    window->show();
    ASSERT_TRUE(VNTest::waitUntil([&] { return !handler->handedOver.isEmpty(); }, 30000));
    EXPECT_EQ(handler->handedOver, QStringList{target});
    EXPECT_TRUE(trap.received().isEmpty()) << trap.received().constData();
    closeSheet(*sheet);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(WebLoginModuleTest, AMissingModuleEndsTheSignInAndSaysWhy) {
    const QString missing = QDir::temp().filePath(QStringLiteral("no-such-folder/libvarnello-weblogin.so"));
    QNWebLoginModule::setCandidatePaths({missing});
    provider.setPage(QStringLiteral("/authorize"), "<html><body>never loaded</body></html>");
    auto handler = makeHandler(QStringLiteral("/authorize"));

    EXPECT_EQ(handler->oAuthLoginWithCompletedBlock({}), nullptr);
    EXPECT_FALSE(QNWebLoginModule::isLoaded());
    // As a cancelled sign-in ends: the handler hears a null URL, once.
    ASSERT_TRUE(VNTest::waitUntil([&] { return !handler->handedOver.isEmpty(); }));
    EXPECT_EQ(handler->handedOver.size(), 1);
    EXPECT_TRUE(handler->handedOver[0].isNull());
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().history().isEmpty(); }));
    const auto alert = QNDialogService::shared().history().constFirst().alert;
    EXPECT_EQ(alert.messageText, QStringLiteral("The sign-in window could not be opened"));
    EXPECT_TRUE(alert.informativeText.contains(missing)) << qPrintable(alert.informativeText);
    EXPECT_TRUE(provider.received().isEmpty());
    EXPECT_FALSE(webEngineMapped());
}

}  // namespace
