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

TEST_F(WebDAVQuota, CountsOnSuccessAndUntouchedOnError) {
    // error: empty for none, "*" for any, else the status line; -1: not looked at.
    const qint64 max = std::numeric_limits<qint64>::max();
    struct Case {
        QNDriveConfigPtr config;
        QString error;
        qint64 available, used, total;
    };
    const std::vector<Case> cases{
        // The Wi-Fi disk sums its disks, found with or without its file-sharing port.
        {wifiDisk("ok"), {}, 2684354560LL + 549453824LL, 2134900736LL, 4294967296LL + 1073741824LL},
        {wifiDisk("ok", false), {}, 2684354560LL + 549453824LL, 2134900736LL, 4294967296LL + 1073741824LL},
        {wifiDisk("empty"), {}, 0, 0, 0},
        {wifiDisk("notjson"), "*", 11, 22, 33},
        {wifiDisk("nokeys"), "*", 11, 22, 33},
        {wifiDisk("error"), statusLine(500, "Internal Server Error"), 11, 22, 33},
        {drive(fakeURL() + "/quota-both"), {}, 7340032000LL, 1610612736LL, 7340032000LL + 1610612736LL},
        {drive(fakeURL() + "/quota-used"), {}, 0, 123456789, -1},
        {drive(fakeURL() + "/quota-none"), {}, 0, 0, 0},
        {drive(fakeURL() + "/quota-huge"), {}, max, max, max},  // too large to add up
        {drive(fakeURL() + "/quota-error"), statusLine(403, "Forbidden"), 11, 22, 33},
        {drive(fakeURL() + "/quota-garbage"), "*", 11, 22, 33},
        {drive(url("http") + "/dav"), {}, -1, -1, 0},  // Apache has no quota properties
        {drive(url("selfsigned"), false), {}, -1, -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config->url().toStdString());
        preset(c.config);
        auto answer = quota(c.config);
        EXPECT_FALSE(answer->cancelled);
        if (c.error.isEmpty())
            EXPECT_FALSE(answer->error) << answer->errorText().toStdString();
        else if (c.error == "*")
            EXPECT_TRUE(answer->error);
        else
            EXPECT_EQ(answer->errorText(), c.error);
        for (const auto &[expected, actual] : {std::pair{c.available, c.config->availableBytes()},
                                               std::pair{c.used, c.config->usedBytes()},
                                               std::pair{c.total, c.config->totalBytes()}})
            if (expected >= 0)
                EXPECT_EQ(actual, expected);
        if (c.error.isEmpty() && c.total >= 0)
            EXPECT_EQ(c.config->sharedBytes(), 0);
    }
    auto refused = quota(drive(url("selfsigned"), true));
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->domain(), "NRHTTPRequestErrorDomain");
}

}  // namespace
