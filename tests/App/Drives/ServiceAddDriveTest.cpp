// Adding Office 365 and SugarSync drives through the add-drive sheet and
// its settings form, signed in against the services' fakes: a wrong
// password says why and keeps the sheet, the right one stores the drive.
#include "Cloud/QNOffice365Handler.h"
#include "Cloud/QNOffice365SignIn.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "DrivesTestSupport.h"
#include "Net/NRHTTPRequest.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

struct Service {
    const char *peer;
    bool (QNDriveConfig::*is)() const;
    QString name, url;
    QString (*user)(const QJsonObject &peer), (*password)(const QJsonObject &peer);
    QString refusal;  // the alert's informative text after the drive's name, or its start when it ends in "*"
    std::function<void()> registerHandler;
    QNCloudInterfaceFactory::Kind kind;
    std::function<void(const QNDriveConfig &stored)> checkStored;
};

class ServiceAddDrive : public DrivesTest, public ::testing::WithParamInterface<Service> {};

QJsonArray managedUser(const QJsonObject &peer) { return peer.value("users").toObject().value("managed").toArray(); }

TEST_P(ServiceAddDrive, AWrongPasswordSaysWhyThenTheRightOneStoresTheDrive) {
    const Service &c = GetParam();
    const QJsonObject peer = VNTest::peerState(c.peer);
    ASSERT_FALSE(peer.isEmpty()) << "the " << c.peer << " peer is not running";
    NRHTTPRequest::setTestCertificateAuthorityFile(peer.value("ca_file").toString());
    QNServiceEndpoints::setOverrideForTesting(peer.value("host").toString(), peer.value("port").toInt());
    c.registerHandler();
    const auto templates = QNAddDriveWindowController::makeTemplates();
    int row = 0;
    while (row < templates.size() && !(templates.at(row).get()->*c.is)())
        ++row;
    ASSERT_LT(row, templates.size());

    QNAddDriveWindowController *s = openSheet();
    addThroughForm(s, row, c.name, c.url, c.user(peer), "wrong");
    ASSERT_TRUE(waitForOutcome(s));
    const auto alert = QNDialogService::shared().history().value(0).alert;
    EXPECT_EQ(alert.messageText, QStringLiteral("Could not Login"));
    // The drive named, then the service's refusal.
    const QString said = QStringLiteral("\u201c%1\u201d: ").arg(c.name);
    EXPECT_TRUE(c.refusal.endsWith('*') ? alert.informativeText.startsWith(said + c.refusal.chopped(1))
                                        : alert.informativeText == said + c.refusal + QLatin1Char('.'))
        << alert.informativeText.toStdString();
    EXPECT_FALSE(s->isClosed());

    QNDialogService::shared().clearHistory();
    addThroughForm(s, row, c.name, c.url, c.user(peer), c.password(peer));
    ASSERT_TRUE(waitForOutcome(s));
    EXPECT_TRUE(s->isClosed());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    const auto stored = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE((stored->at(0).get()->*c.is)());
    EXPECT_EQ(stored->at(0)->displayName(), c.name);
    c.checkStored(*stored->at(0));
    QNServiceEndpoints::setOverrideForTesting(QString(), 0);
    QNCloudInterfaceFactory::unregisterHandler(c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Services, ServiceAddDrive,
    ::testing::Values(
        Service{"office365", &QNDriveConfig::isOffice365, "Work", "https://contoso-my.sharepoint.com/",
                [](const QJsonObject &p) { return managedUser(p).at(0).toString(); },
                [](const QJsonObject &p) { return managedUser(p).at(1).toString(); }, "Authentication Failure - *",
                [] {
                    QNOffice365SignIn::clearForTesting();
                    QNOffice365Handler::registerWithFactory();
                },
                QNCloudInterfaceFactory::Kind::Office365,
                [](const QNDriveConfig &d) {
                    EXPECT_EQ(d.description(), QStringLiteral("SHOW DOCUMENTS ON THIS OFFICE 365 SKYDRIVE PRO ACCOUNT"));
                }},
        Service{"sugarsync", &QNDriveConfig::isSugarSync, "Sync", QString(),
                [](const QJsonObject &p) { return p.value("user").toString(); },
                [](const QJsonObject &p) { return p.value("password").toString(); },
                "The account is invalid or the connection had a problem", [] { QNSugarSyncHandler::registerWithFactory(); },
                QNCloudInterfaceFactory::Kind::SugarSync,
                [](const QNDriveConfig &d) {
                    EXPECT_FALSE(d.token().isEmpty());
                    EXPECT_TRUE(d.password().isEmpty());
                }}),
    [](const auto &info) { return std::string(info.param.peer); });

}  // namespace
