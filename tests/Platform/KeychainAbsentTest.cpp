// The desktop keyring when no keyring answers: a process of its own, since
// the bus connection a process makes first is the one it keeps.
#include "Platform/VNKeychain.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

TEST(KeychainWithoutKeyring, FailsAtOnceWithAnError) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/varnello-bus");
    QElapsedTimer timer;
    timer.start();
    VNErrorPtr error;
    EXPECT_FALSE(VNKeychain::setSecret(QStringLiteral("varnello-keychain-test"), "alice", "s3cret", {}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), VNKeychain::errorDomain());
    EXPECT_FALSE(error->localizedDescription().contains("s3cret"));
    error.reset();
    EXPECT_FALSE(VNKeychain::secret(QStringLiteral("varnello-keychain-test"), "alice", &error));
    EXPECT_TRUE(error);
    EXPECT_LT(timer.elapsed(), 5000);
}
