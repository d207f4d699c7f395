// Network discovery through a real Avahi daemon: a WebDAV service published
// with avahi-publish on the loopback interface is found, resolved and listed
// by a main window. The peer runs the daemon on a bus of its own; where the
// machine cannot run one, the test says why it skipped.
#include "App/QNAvahiServiceDiscovery.h"
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
        if (!state.value(QStringLiteral("available")).toBool())
            GTEST_SKIP() << "no Avahi daemon for this test: "
                         << state.value(QStringLiteral("reason")).toString(QStringLiteral("the peer did not run")).toStdString();
        // The daemon listens on the peer's own bus, in place of the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", state.value(QStringLiteral("bus")).toString().toUtf8());
    }
    QJsonObject state;
};

}  // namespace

TEST_F(AvahiPeer, APublishedServiceIsFoundAndResolved) {
    const QString name = state.value(QStringLiteral("service")).toString();
    const int port = state.value(QStringLiteral("port")).toInt();
    QNAvahiServiceDiscovery discovery;
    QList<QNNetService> found;
    QList<QNNetService> resolved;
    QObject::connect(&discovery, &QNServiceDiscovery::serviceFound,
                     [&](const QNNetService &s, bool) { found << s; });
    QObject::connect(&discovery, &QNServiceDiscovery::serviceResolved, [&](const QNNetService &s) { resolved << s; });
    discovery.searchForServices(QStringLiteral("_webdav._tcp."), QString());
    ASSERT_TRUE(VNTest::waitUntil([&] {
        return std::any_of(found.begin(), found.end(), [&](const QNNetService &s) { return s.name == name; });
    }, 20000));
    const QNNetService service = *std::find_if(found.begin(), found.end(), [&](const QNNetService &s) { return s.name == name; });
    EXPECT_EQ(service.type, QStringLiteral("_webdav._tcp"));
    discovery.resolve(service, 15000);
    ASSERT_TRUE(VNTest::waitUntil([&] { return !resolved.isEmpty(); }, 20000));
    EXPECT_EQ(resolved.first().name, name);
    EXPECT_EQ(resolved.first().port, port);
    ASSERT_FALSE(resolved.first().socketAddresses.isEmpty());
    EXPECT_EQ(QNMainWindowController::driveForService(resolved.first())->url(),
              QStringLiteral("http://127.0.0.1:%1").arg(port));
}

TEST_F(AvahiPeer, TheMainWindowListsTheDiscoveredServer) {
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
}
