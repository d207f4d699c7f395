// Network discovery through a real Avahi daemon: a WebDAV service published
// with avahi-publish on the loopback interface is found, resolved and listed
// by a main window. The peer runs the daemon on a bus of its own; where the
// machine cannot run one, the test says why it skipped.
#include "App/QNDialogService.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMainWindowController.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct AvahiPeer : ::testing::Test {
    void SetUp() override {
        state = VNTest::peerState(QStringLiteral("avahi"));
        const std::string reason =
            state.value(QStringLiteral("reason")).toString(QStringLiteral("no state")).toStdString();
        if (state.value(QStringLiteral("machine")).toBool())
            GTEST_SKIP() << "this machine cannot run the Avahi peer: " << reason;
        if (!state.value(QStringLiteral("available")).toBool())
            FAIL() << "the Avahi peer did not start: " << reason;
        // The daemon listens on the peer's own bus, in place of the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", state.value(QStringLiteral("bus")).toString().toUtf8());
    }
    QJsonObject state;
};

}  // namespace

TEST_F(AvahiPeer, TheMainWindowListsAndResolvesThePublishedServer) {
    QNDialogService::shared().setAutomated(true);
    VNUserDefaults::standard().removeObject(QNDriveConfig::storedDrivesKey());
    QNMacAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QNMainWindowController *window = delegate.windowControllers().value(0);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(VNTest::waitUntil([&] { return window->numberOfRows() == 2; }, 25000));
    EXPECT_EQ(window->rowContent(0).title, QStringLiteral("diskCAST WiFi Drive (diskCAST)"));
    EXPECT_EQ(window->rowContent(0).iconName, QStringLiteral("drive-diskcast"));
    EXPECT_EQ(window->rowContent(1).title, QStringLiteral("Add Drive"));
    // Resolved to the published port on the loopback address.
    EXPECT_EQ(window->drives().at(0)->url(),
              QStringLiteral("http://127.0.0.1:%1").arg(state.value(QStringLiteral("port")).toInt()));
}
