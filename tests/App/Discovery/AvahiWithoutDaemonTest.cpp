// Discovery with no daemon to speak to: the search waits quietly for one,
// resolving gives up after its time-out, and the discovery goes away cleanly.
// (A process keeps the bus address it read first, so this runs on its own.)
#include "App/QNAvahiServiceDiscovery.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(AvahiWithoutDaemon, WaitsQuietlyAndGoesAwayCleanly) {
    // A bus nobody listens on: the search waits for a daemon; nothing is found.
    auto dir = VNTest::makeTempDir();
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir->path().toUtf8() + "/no-bus");
    {
        QNAvahiServiceDiscovery discovery;
        int found = 0, notResolved = 0;
        QObject::connect(&discovery, &QNServiceDiscovery::serviceFound, [&] { ++found; });
        QObject::connect(&discovery, &QNServiceDiscovery::serviceNotResolved, [&] { ++notResolved; });
        discovery.searchForServices(QStringLiteral("_webdav._tcp."), QString());
        QNNetService s;
        s.name = QStringLiteral("nobody");
        s.type = QStringLiteral("_webdav._tcp");
        discovery.resolve(s, 200);
        EXPECT_TRUE(VNTest::waitUntil([&] { return notResolved == 1; }, 3000));
        EXPECT_EQ(found, 0);
    }
    VNTest::spin(50);  // answers queued for the gone discovery are dropped
    if (saved.isNull())
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    else
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
}
