// Errors of real servers as the pane's error sheet shows them: a wrong FTP
// password gives the message's first line and the server's last reply as
// text, the transfer log behind the details button and a one-line title; a
// WebDAV server that cannot be reached is named with its drive and address.
#include "App/Panes/PanesTestSupport.h"

#include "App/QNAlertPanel.h"
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"

#include <QPlainTextEdit>
#include <QTcpServer>

namespace {

class RemoteAlertsTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNFTPHandler::registerHandler();
        QNWebDAVHandler::registerWithFactory();
    }

    // The alert panel the pane's listing error brings up on the window.
    QNAlertPanel *errorPanelFor(const QNDriveConfigPtr &drive) {
        QNMainWindowController *w = launch();
        if (!w)
            return nullptr;
        QNDialogService::shared().setAutomated(false);
        w->window()->show();
        storeDrives({drive});
        openRow(w, 0);
        QNAlertPanel *panel = nullptr;
        VNTest::waitUntil(
            [&] { return (panel = qobject_cast<QNAlertPanel *>(QNDialogService::shared().attachedSheet(w->window()))); },
            20000);
        return panel;
    }
};

}  // namespace

TEST_F(RemoteAlertsTest, AWrongFTPPasswordShowsTheFirstLineAndTheServersReplyWithTheLogBehindDetails) {
    const QJsonObject state = VNTest::peerState(QStringLiteral("vsftpd"));
    ASSERT_FALSE(state.isEmpty()) << "the peer is not running";
    auto drive = QNDriveConfig::create();
    drive->setIsFTP(true);
    drive->setName(QStringLiteral("FTP"));
    drive->setUrl(state.value(QStringLiteral("url")).toString());
    drive->setUsername(state.value(QStringLiteral("user")).toString());
    drive->setPassword(QStringLiteral("not the password"));
    QNAlertPanel *panel = errorPanelFor(drive);
    ASSERT_NE(panel, nullptr);
    const QNAlert alert = QNDialogService::shared().history().last().alert;
    EXPECT_EQ(alert.messageText, QStringLiteral("\u201cFTP\u201d: Login denied."));
    EXPECT_FALSE(panel->windowTitle().contains(QLatin1Char('\n')));
    EXPECT_TRUE(alert.informativeText.startsWith(QStringLiteral("530 "))) << alert.informativeText.toStdString();
    EXPECT_TRUE(alert.detailText.contains(QStringLiteral("[USER "))) << alert.detailText.toStdString();
    EXPECT_FALSE(alert.detailText.contains(QStringLiteral("not the password")));
    auto *details = panel->findChild<QPlainTextEdit *>(QStringLiteral("detailText"));
    auto *button = panel->findChild<QPushButton *>(QStringLiteral("detailsButton"));
    ASSERT_TRUE(details && button);
    EXPECT_FALSE(details->isVisible());
    button->click();
    EXPECT_TRUE(details->isVisible());
    EXPECT_TRUE(saveShot(panel, QStringLiteral("ftp-wrong-password.png")));
}

TEST_F(RemoteAlertsTest, AConnectionFailureNamesTheDriveAndItsAddress) {
    QTcpServer closed;  // a port of this machine on which nothing answers
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    auto drive = QNDriveConfig::create();
    drive->setIsWebDAV(true);
    drive->setName(QStringLiteral("WEBDAV"));
    drive->setDisplayName(QStringLiteral("Office share"));
    const QString address = QStringLiteral("http://127.0.0.1:%1/dav/").arg(port);
    drive->setUrl(address);
    drive->setUsername(QStringLiteral("u"));
    drive->setPassword(QStringLiteral("p"));
    QNAlertPanel *panel = errorPanelFor(drive);
    ASSERT_NE(panel, nullptr);
    const QNAlert alert = QNDialogService::shared().history().last().alert;
    EXPECT_EQ(alert.messageText, QStringLiteral("\u201cOffice share\u201d could not be reached: couldn't connect to server."));
    EXPECT_EQ(alert.informativeText, address);
    // The engine's own words once, behind the details.
    EXPECT_EQ(alert.detailText.count(QStringLiteral("Couldn't connect to server")), 1) << alert.detailText.toStdString();
    EXPECT_NE(panel->findChild<QPushButton *>(QStringLiteral("detailsButton")), nullptr);
    EXPECT_TRUE(saveShot(panel, QStringLiteral("webdav-unreachable.png")));
}

TEST_F(RemoteAlertsTest, AWebDAVFolderThatIsNotThereNamesTheDriveAndGivesTheServersStatusLine) {
    const QJsonObject state = VNTest::peerState(QStringLiteral("webdav"));
    ASSERT_FALSE(state.isEmpty()) << "the peer is not running";
    auto drive = QNDriveConfig::create();
    drive->setIsWebDAV(true);
    drive->setName(QStringLiteral("WEBDAV"));
    drive->setDisplayName(QStringLiteral("Team files"));
    drive->setUrl(state.value(QStringLiteral("http_url")).toString() + QStringLiteral("/no-such-folder/"));
    drive->setUsername(state.value(QStringLiteral("user")).toString());
    drive->setPassword(state.value(QStringLiteral("password")).toString());
    ASSERT_NE(errorPanelFor(drive), nullptr);
    const QNAlert alert = QNDialogService::shared().history().last().alert;
    EXPECT_TRUE(alert.messageText.startsWith(QStringLiteral("\u201cTeam files\u201d: The server answered 404")))
        << alert.messageText.toStdString();
    EXPECT_TRUE(alert.informativeText.startsWith(QStringLiteral("HTTP/1.1 404"))) << alert.informativeText.toStdString();
}
