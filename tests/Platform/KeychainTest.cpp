// The desktop keyring against a private gnome-keyring-daemon (the keyring peer).
#include "Platform/VNKeychain.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

const QString kService = QStringLiteral("varnello-keychain-test");

void useTestKeyring() {
    const QJsonObject state = VNTest::peerState(QStringLiteral("keyring"));
    if (!state.value(QStringLiteral("available")).toBool())
        FAIL() << "the keyring peer did not start: "
               << state.value("reason").toString(QStringLiteral("no state")).toStdString();
    qputenv("DBUS_SESSION_BUS_ADDRESS", state.value(QStringLiteral("bus")).toString().toUtf8());
}

}  // namespace

TEST(Keychain, StoreFindReplaceListAndRemove) {
    ASSERT_NO_FATAL_FAILURE(useTestKeyring());
    VNErrorPtr error;
    ASSERT_TRUE(VNKeychain::removeSecret(kService, QString(), &error)) << error->localizedDescription().toStdString();
    EXPECT_FALSE(VNKeychain::secret(kService, "alice", &error));
    EXPECT_FALSE(error) << "a missing item is no error";

    const QString unicode = QStringLiteral("pässwörd {\"json\": 1}\n");
    ASSERT_TRUE(VNKeychain::setSecret(kService, "alice", "first", "Varnello test", &error))
        << error->localizedDescription().toStdString();
    ASSERT_TRUE(VNKeychain::setSecret(kService, "bob", unicode));
    ASSERT_TRUE(VNKeychain::setSecret("varnello-other-service", "alice", "elsewhere"));
    EXPECT_EQ(VNKeychain::secret(kService, "alice").value_or("-"), "first");
    EXPECT_EQ(VNKeychain::secret(kService, "bob").value_or("-"), unicode);

    ASSERT_TRUE(VNKeychain::setSecret(kService, "alice", "second"));  // replaces, no second item
    EXPECT_EQ(VNKeychain::secret(kService, "alice").value_or("-"), "second");
    EXPECT_EQ(VNKeychain::accounts(kService), QStringList({"alice", "bob"}));

    ASSERT_TRUE(VNKeychain::removeSecret(kService, "alice"));
    EXPECT_FALSE(VNKeychain::secret(kService, "alice"));
    EXPECT_TRUE(VNKeychain::removeSecret(kService, "alice")) << "removing what is gone succeeds";
    ASSERT_TRUE(VNKeychain::removeSecret(kService));
    EXPECT_TRUE(VNKeychain::accounts(kService).isEmpty());
    EXPECT_EQ(VNKeychain::secret("varnello-other-service", "alice").value_or("-"), "elsewhere")
        << "removing a service's items leaves other services alone";
    VNKeychain::removeSecret("varnello-other-service");
}
