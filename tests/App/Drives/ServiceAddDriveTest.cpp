// Adding Office 365 and SugarSync drives through the add-drive sheet and
// its settings form, signed in against the services' fakes.
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

TEST_F(DrivesTest, Office365DriveIsAddedAgainstItsServiceAndAWrongPasswordSaysWhy) {
    const QJsonObject peer = VNTest::peerState(QStringLiteral("office365"));
    ASSERT_FALSE(peer.isEmpty()) << "the office365 peer is not running";
    NRHTTPRequest::setTestCertificateAuthorityFile(peer.value("ca_file").toString());
    QNServiceEndpoints::setOverrideForTesting(peer.value("host").toString(), peer.value("port").toInt());
    QNOffice365SignIn::clearForTesting();
    QNOffice365Handler::registerWithFactory();
    const QJsonArray user = peer.value("users").toObject().value("managed").toArray();
    const int office365Row = 3;
    ASSERT_TRUE(QNAddDriveWindowController::makeTemplates().at(office365Row)->isOffice365());

    QNAddDriveWindowController *s = openSheet();
    addThroughForm(s, office365Row, "Work", "https://contoso-my.sharepoint.com/", user.at(0).toString(), "wrong");
    ASSERT_TRUE(waitForOutcome(s));
    const auto alert = QNDialogService::shared().history().value(0).alert;
    EXPECT_EQ(alert.messageText, QStringLiteral("Could not Login"));
    EXPECT_TRUE(alert.informativeText.startsWith("Authentication Failure - ")) << alert.informativeText.toStdString();
    EXPECT_FALSE(s->isClosed());

    QNDialogService::shared().clearHistory();
    addThroughForm(s, office365Row, "Work", "https://contoso-my.sharepoint.com/", user.at(0).toString(),
                   user.at(1).toString());
    ASSERT_TRUE(waitForOutcome(s));
    EXPECT_TRUE(s->isClosed());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    const auto stored = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE(stored->at(0)->isOffice365());
    EXPECT_EQ(stored->at(0)->description(), QStringLiteral("SHOW DOCUMENTS ON THIS OFFICE 365 SKYDRIVE PRO ACCOUNT"));
    QNServiceEndpoints::setOverrideForTesting(QString(), 0);
    QNCloudInterfaceFactory::unregisterHandler(QNCloudInterfaceFactory::Kind::Office365);
}

TEST_F(DrivesTest, SugarSyncDriveIsAddedAgainstItsServiceAndAWrongPasswordSaysWhy) {
    const QJsonObject peer = VNTest::peerState(QStringLiteral("sugarsync"));
    ASSERT_FALSE(peer.isEmpty()) << "the sugarsync peer is not running";
    NRHTTPRequest::setTestCertificateAuthorityFile(peer.value("ca_file").toString());
    QNServiceEndpoints::setOverrideForTesting(peer.value("host").toString(), peer.value("port").toInt());
    QNSugarSyncHandler::registerWithFactory();
    int row = 0;
    const auto templates = QNAddDriveWindowController::makeTemplates();
    while (row < templates.size() && !templates.at(row)->isSugarSync())
        ++row;
    ASSERT_LT(row, templates.size());

    QNAddDriveWindowController *s = openSheet();
    addThroughForm(s, row, "Sync", QString(), peer.value("user").toString(), "wrong");
    ASSERT_TRUE(waitForOutcome(s));
    const auto alert = QNDialogService::shared().history().value(0).alert;
    EXPECT_EQ(alert.messageText, QStringLiteral("Could not Login"));
    EXPECT_EQ(alert.informativeText, QStringLiteral("The account is invalid or the connection had a problem"));

    QNDialogService::shared().clearHistory();
    addThroughForm(s, row, "Sync", QString(), peer.value("user").toString(), peer.value("password").toString());
    ASSERT_TRUE(waitForOutcome(s));
    EXPECT_TRUE(s->isClosed());
    const auto stored = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_TRUE(stored->at(0)->isSugarSync());
    EXPECT_FALSE(stored->at(0)->token().isEmpty());
    EXPECT_TRUE(stored->at(0)->password().isEmpty());
    QNServiceEndpoints::setOverrideForTesting(QString(), 0);
    QNCloudInterfaceFactory::unregisterHandler(QNCloudInterfaceFactory::Kind::SugarSync);
}

}  // namespace
