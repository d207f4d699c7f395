// Quota: the Wi-Fi disk's "pref-get" call on the device's own address (the
// fake), and the RFC 4331 properties (the fake and Apache).
#include "WebDAVPeer.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <gtest/gtest.h>
#include <limits>

using namespace WebDAVPeer;

namespace {

class WebDAVQuota : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
    }

    static QNDriveConfigPtr wifiDisk(const QString &scenario, bool withPort = true) {
        const QString host = state().value("wifi_hosts").toObject().value(scenario).toString();
        // Found on the network: the scheme, the address and the file-sharing port.
        auto config = drive(withPort ? QStringLiteral("http://%1:8080").arg(host) : QStringLiteral("http://") + host);
        config->setDisplayName("diskCAST-7F3A");
        return config;
    }

    static AnswerPtr quota(const QNDriveConfigPtr &config, const QString &root = "/") {
        auto answer = std::make_shared<Answer>();
        handlerFor(config)->quota(QNDocument::withPath(root, true), quotaAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    static void preset(const QNDriveConfigPtr &config) {
        config->setAvailableBytes(11);
        config->setUsedBytes(22);
        config->setTotalBytes(33);
        config->setSharedBytes(44);
    }
};

TEST_F(WebDAVQuota, WiFiDiskSumsItsDisks) {
    for (bool withPort : {true, false}) {
        auto config = wifiDisk("ok", withPort);
        auto answer = quota(config);
        ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
        EXPECT_FALSE(answer->cancelled);
        EXPECT_EQ(config->usedBytes(), 2134900736LL);
        EXPECT_EQ(config->availableBytes(), 2684354560LL + 549453824LL);
        EXPECT_EQ(config->totalBytes(), 4294967296LL + 1073741824LL);
        EXPECT_EQ(config->sharedBytes(), 0);
    }
}

TEST_F(WebDAVQuota, WiFiDiskWithoutDisksIsZero) {
    auto config = wifiDisk("empty");
    preset(config);
    auto answer = quota(config);
    ASSERT_FALSE(answer->error);
    EXPECT_EQ(config->usedBytes() + config->availableBytes() + config->totalBytes() + config->sharedBytes(), 0);
}

TEST_F(WebDAVQuota, WiFiDiskAnswersThatAreNotItsDiskListAreErrors) {
    for (const QString &scenario : {"notjson", "nokeys", "error"}) {
        auto config = wifiDisk(scenario);
        preset(config);
        auto answer = quota(config);
        EXPECT_TRUE(answer->error) << scenario.toStdString();
        EXPECT_FALSE(answer->cancelled);
        EXPECT_EQ(config->usedBytes(), 22) << "counts are written only on success";
        EXPECT_EQ(config->totalBytes(), 33);
    }
    auto config = wifiDisk("error");
    EXPECT_EQ(quota(config)->errorText(), statusLine(500, "Internal Server Error"));
}

TEST_F(WebDAVQuota, QuotaPropertiesFromTheServer) {
    auto both = drive(fakeURL() + "/quota-both");
    auto answer = quota(both);
    ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
    EXPECT_EQ(both->availableBytes(), 7340032000LL);
    EXPECT_EQ(both->usedBytes(), 1610612736LL);
    EXPECT_EQ(both->totalBytes(), 7340032000LL + 1610612736LL);
    EXPECT_EQ(both->sharedBytes(), 0);

    auto usedOnly = drive(fakeURL() + "/quota-used");
    ASSERT_FALSE(quota(usedOnly)->error);
    EXPECT_EQ(usedOnly->availableBytes(), 0);
    EXPECT_EQ(usedOnly->usedBytes(), 123456789);

    auto none = drive(fakeURL() + "/quota-none");
    preset(none);
    ASSERT_FALSE(quota(none)->error);
    EXPECT_EQ(none->availableBytes() + none->usedBytes() + none->totalBytes(), 0);
}

TEST_F(WebDAVQuota, QuotaPropertiesTooLargeToAddUpGiveTheLargestTotal) {
    auto huge = drive(fakeURL() + "/quota-huge");
    auto answer = quota(huge);
    ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
    EXPECT_EQ(huge->availableBytes(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(huge->usedBytes(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(huge->totalBytes(), std::numeric_limits<qint64>::max());
}

TEST_F(WebDAVQuota, RefusedOrGarbledQuotaIsAnError) {
    auto refused = drive(fakeURL() + "/quota-error");
    preset(refused);
    auto answer = quota(refused);
    EXPECT_EQ(answer->errorText(), statusLine(403, "Forbidden"));
    EXPECT_EQ(refused->usedBytes(), 22);

    auto garbled = drive(fakeURL() + "/quota-garbage");
    preset(garbled);
    EXPECT_TRUE(quota(garbled)->error);
    EXPECT_EQ(garbled->usedBytes(), 22);
}

TEST_F(WebDAVQuota, ApacheAnswersWithoutQuotaPropertiesAndTheCertificateSwitchHolds) {
    auto plain = drive(url("http") + "/dav");
    preset(plain);
    ASSERT_FALSE(quota(plain)->error);
    EXPECT_EQ(plain->totalBytes(), 0);

    auto validating = drive(url("selfsigned"), true);
    auto refused = quota(validating);
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->domain(), "NRHTTPRequestErrorDomain");

    auto trusting = drive(url("selfsigned"), false);
    EXPECT_FALSE(quota(trusting)->error);
}

}  // namespace
