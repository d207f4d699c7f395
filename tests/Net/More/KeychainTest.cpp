// Credentials kept in the desktop keyring (a private gnome-keyring peer).
#include "Net/NetTestSupport.h"

#include <QDir>

using namespace NetTest;

namespace {
// Every test of this program talks to the private keyring only.
class PrivateKeyring : public ::testing::Environment {
public:
    void SetUp() override {
        const QJsonObject state = VNTest::peerState(QStringLiteral("keyring"));
        qputenv("DBUS_SESSION_BUS_ADDRESS", state.value(QStringLiteral("bus")).toString().toUtf8());
    }
};
const auto *g_keyring = ::testing::AddGlobalTestEnvironment(new PrivateKeyring);
}  // namespace

TEST(Keychain, CredentialsRoundTripAndAnswerAChallenge) {
    ASSERT_TRUE(VNTest::peerState(QStringLiteral("keyring"))[QStringLiteral("available")].toBool());
    const NRCredentials saved{QStringLiteral("keyuser"), QStringLiteral("key pass"), QStringLiteral("DOM")};
    ASSERT_TRUE(NRHTTPRequest::saveCredentials(saved, QStringLiteral("example.test"), 443, QStringLiteral("https"),
                                               QStringLiteral("realm")));
    auto back = NRHTTPRequest::savedCredentials(QStringLiteral("example.test"), 443, QStringLiteral("https"),
                                                QStringLiteral("realm"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->username, saved.username);
    EXPECT_EQ(back->password, saved.password);
    EXPECT_EQ(back->domain, saved.domain);
    EXPECT_FALSE(NRHTTPRequest::savedCredentials(QStringLiteral("example.test"), 443, QStringLiteral("https"),
                                                 QStringLiteral("other realm")));
    NRHTTPRequest::removeCredentials(QStringLiteral("example.test"), 443, QStringLiteral("https"), QStringLiteral("realm"));
    EXPECT_FALSE(NRHTTPRequest::savedCredentials(QStringLiteral("example.test"), 443, QStringLiteral("https"),
                                                 QStringLiteral("realm")));

    ASSERT_TRUE(NRHTTPRequest::saveCredentialsForProxy(saved, QStringLiteral("proxy.test"), 3128, QString()));
    EXPECT_TRUE(NRHTTPRequest::savedCredentialsForProxy(QStringLiteral("proxy.test"), 3128, QString()));
    NRHTTPRequest::removeCredentialsForProxy(QStringLiteral("proxy.test"), 3128, QString());
    EXPECT_FALSE(NRHTTPRequest::savedCredentialsForProxy(QStringLiteral("proxy.test"), 3128, QString()));

    // A request with keychain persistence saves what worked; a later one
    // with no credentials of its own finds them there.
    const QJsonObject a = apache();
    NRHTTPRequest::clearSession();
    auto first = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    first->setUseKeychainPersistence(true);
    first->setUsername(a[QStringLiteral("basic_user")].toString());
    first->setPassword(a[QStringLiteral("basic_password")].toString());
    EXPECT_EQ(run(first)->finished, 1);
    EXPECT_EQ(first->responseStatusCode(), 200);
    NRHTTPRequest::clearSession();
    auto later = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    later->setUseKeychainPersistence(true);
    EXPECT_EQ(run(later)->finished, 1);
    EXPECT_EQ(later->responseStatusCode(), 200);
    NRHTTPRequest::clearSession();
    auto without = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    EXPECT_EQ(run(without)->failed, 1);  // keychain not asked when not on
}
