// The add-drive sheet: the twelve services, the path through the settings
// form and a login, what is saved and what is never overwritten.
#include "App/Drives/DrivesTestSupport.h"

#include "App/QNImageLibrary.h"
#include "App/QNMacTableView.h"

#include <QProgressBar>
#include <QSignalSpy>
#include <QTcpServer>

namespace {

using AddDriveWindowTest = DrivesTest;

TEST_F(AddDriveWindowTest, TwelveServicesInTheirOrderWithCaptions) {
    QNAddDriveWindowController *s = openSheet();
    ASSERT_EQ(s->numberOfRows(), 12);
    using K = QNCloudInterfaceFactory::Kind;
    const struct {
        const char *title, *subTitle;
        K kind;
        bool web;
    } services[] = {
        {"Dropbox", "Create a connection with Dropbox", K::Dropbox, true},
        {"Box", "Create a connection with Box", K::Box, true},
        {"OneDrive", "Create a connection with Microsoft OneDrive", K::SkyDrive, true},
        {"Office 365 OneDrive for Business", "Create a connection with Microsoft OneDrive for Business", K::Office365, false},
        {"Google Drive", "Create a connection with Google Drive", K::GoogleDrive, true},
        {"Copy", "Create a connection with Copy", K::Copy, true},
        {"SugarSync", "Create a connection with SugarSync", K::SugarSync, false},
        {"Bitcasa", "Create a connection with Bitcasa", K::Bitcasa, true},
        {"Picasa", "Create a connection with Picasa", K::GooglePhotos, true},
        {"Flickr", "Create a connection with Flickr", K::Flickr, true},
        {"WebDAV", "Create a connection with WebDAV", K::WebDAV, false},
        {"FTP", "Create a connection with FTP", K::FTP, false},
    };
    const QNDriveConfigList drives = s->drives();
    for (int r = 0; r < 12; ++r) {
        const QNDriveConfigPtr &d = drives[r];
        const auto &want = services[r];
        const auto c = s->rowContent(r);
        EXPECT_EQ(c.title, QString::fromUtf8(want.title));
        EXPECT_EQ(c.subTitle, QString::fromUtf8(want.subTitle));
        // The stored caption is the shown one, or the old upper-case form of it.
        EXPECT_TRUE(d->name() == c.title || d->name() == c.title.toUpper()) << d->name().toStdString();
        EXPECT_TRUE(d->description() == c.subTitle || d->description() == c.subTitle.toUpper())
            << d->description().toStdString();
        EXPECT_EQ(QNCloudInterfaceFactory::kindOf(*d), want.kind) << r;
        EXPECT_EQ(d->oAuthLogin(), want.web) << r;
        EXPECT_EQ(d->validateCertificates(), r == 10) << r;
        EXPECT_TRUE(QNImageLibrary::hasImage(c.iconName)) << c.iconName.toStdString();
    }
    // A new sheet has new templates.
    QNAddDriveWindowController other;
    EXPECT_NE(other.drives().first(), drives.first());
}

TEST_F(AddDriveWindowTest, AServiceWithoutAHandlerSaysSoInsteadOfDoingNothing) {
    QNAddDriveWindowController *s = openSheet();
    s->tableViewSelectionDidChange(0);  // Dropbox: signs in on the web
    s->tableViewSelectionDidChange(6);  // SugarSync: would need the form
    EXPECT_EQ(alertTexts(), (QStringList{"Dropbox is not supported yet.", "SugarSync is not supported yet."}));
    EXPECT_EQ(s->authWindowController(), nullptr);
    EXPECT_EQ(s->driveConfigWindowController(), nullptr);
    EXPECT_FALSE(s->isClosed());
    EXPECT_TRUE(storedDrives().isEmpty());
    EXPECT_TRUE(s->tableView()->selectionModel()->selectedRows().isEmpty());
}

TEST_F(AddDriveWindowTest, CancellingTheFormSavesNothingAndKeepsTheSheet) {
    useInstantLogin();
    QNAddDriveWindowController *s = openSheet();
    s->tableViewSelectionDidChange(11);
    QNDriveConfigWindowController *form = s->driveConfigWindowController();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->driveConfig(), s->drives()[11]);
    form->username()->setText(QStringLiteral("instant"));
    form->password()->setText(QStringLiteral("right"));
    form->cancelButton()->click();
    VNTest::spin(30);
    EXPECT_EQ(InstantLoginHandler::logins, 0);
    EXPECT_FALSE(s->isClosed());
    EXPECT_TRUE(storedDrives().isEmpty());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    EXPECT_TRUE(s->drives()[11]->username().isNull());
}

TEST_F(AddDriveWindowTest, AnotherDriveOfAKindIsAppendedAndEditingReplacesTheDriveAtItsIndex) {
    useInstantLogin();
    const QNDriveConfigList templates = QNAddDriveWindowController::makeTemplates();
    ASSERT_TRUE(QNDriveConfig::writeStoredDrives({templates.at(10), templates.at(11)}));
    QNAddDriveWindowController *s = openSheet();
    addThroughForm(s, 10, QString(), QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("instant"),
                   QStringLiteral("right"));
    ASSERT_TRUE(waitForOutcome(s));
    EXPECT_EQ(names(storedDrives()), (QStringList{"WEBDAV", "FTP", "WEBDAV"}));

    s = openSheet();
    QSignalSpy saved(s, &QNAddDriveWindowController::driveSaved);
    s->setEditing(true);
    s->setDriveIndex(1);
    addThroughForm(s, 11, QStringLiteral("In place"), QStringLiteral("ftp://127.0.0.1:1/"), QStringLiteral("instant"),
                   QStringLiteral("right"));
    ASSERT_TRUE(waitForOutcome(s));
    EXPECT_TRUE(s->isClosed());
    EXPECT_EQ(saved.count(), 1);
    EXPECT_EQ(names(storedDrives()), (QStringList{"WEBDAV", "FTP", "WEBDAV"}));
    EXPECT_EQ(storedDrives()[1]->displayName(), QStringLiteral("In place"));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(AddDriveWindowTest, AStoredListThatCannotBeReadIsNeverReplaced) {
    useInstantLogin();
    const QByteArray garbage("this is not an archive of drives");
    VNUserDefaults::standard().setObject(garbage, QNDriveConfig::storedDrivesKey());
    ASSERT_TRUE(VNUserDefaults::standard().synchronize());
    QNAddDriveWindowController *s = openSheet();
    QSignalSpy saved(s, &QNAddDriveWindowController::driveSaved);
    addThroughForm(s, 11, QStringLiteral("Mine"), QStringLiteral("ftp://127.0.0.1:1/"),
             QStringLiteral("instant"), QStringLiteral("right"));
    ASSERT_TRUE(waitForOutcome(s));
    EXPECT_EQ(alertTexts(), QStringList{QStringLiteral("Could not Save Drive")});
    EXPECT_TRUE(QNDialogService::shared().history().first().alert.informativeText.contains(
        QStringLiteral("left as they are")));
    EXPECT_EQ(saved.count(), 0);
    EXPECT_FALSE(s->isClosed());
    EXPECT_EQ(VNUserDefaults::standard().dataForKey(QNDriveConfig::storedDrivesKey()), garbage);
}

TEST_F(AddDriveWindowTest, ClosingTheSheetWhileLoggingInSavesNothing) {
    // A login that never answers on its own: an FTP server that accepts the
    // connection and says nothing.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QNAddDriveWindowController *s = openSheet();
    addThroughForm(s, 11, QStringLiteral("Mine"),
             QStringLiteral("ftp://127.0.0.1:%1/").arg(silent.serverPort()), QStringLiteral("u"),
             QStringLiteral("p"));
    ASSERT_NE(s->cloudInterface(), nullptr);
    EXPECT_TRUE(s->progressIndicator()->isVisible());
    s->cancelButton()->click();
    EXPECT_TRUE(s->isClosed());
    EXPECT_EQ(s->cloudInterface(), nullptr);
    VNTest::spin(200);
    EXPECT_TRUE(storedDrives().isEmpty());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(AddDriveWindowTest, AddDriveRowOfTheMainWindowOpensTheSheetOnIt) {
    QNMainWindowController *w = launch();
    ASSERT_NE(w, nullptr);
    w->window()->show();
    w->tableViewSelectionDidChange(w->numberOfRows() - 1);
    auto sheets = w->findChildren<QNAddDriveWindowController *>();
    ASSERT_EQ(sheets.size(), 1);
    ASSERT_TRUE(VNTest::waitUntil([&] { return QNDialogService::shared().attachedSheet(w->window()) != nullptr; }));
    EXPECT_EQ(QNDialogService::shared().attachedSheet(w->window()), sheets[0]->window());
    // Leaving without adding ends the sheet.
    sheets[0]->cancelButton()->click();
    EXPECT_EQ(QNDialogService::shared().attachedSheet(w->window()), nullptr);
    // Choosing the row again makes a new sheet in place of the old one.
    QPointer<QNAddDriveWindowController> first = sheets.value(0);
    w->tableViewSelectionDidChange(w->numberOfRows() - 1);
    EXPECT_TRUE(first.isNull());
    ASSERT_EQ(w->findChildren<QNAddDriveWindowController *>().size(), 1);
    ASSERT_TRUE(VNTest::waitUntil([&] { return QNDialogService::shared().attachedSheet(w->window()) != nullptr; }));
}

// ---------------------------------------------------------------- real servers

class AddDriveServersTest : public DrivesTest {
protected:
    // The "error" text of a direct login with the drive (what the handler says).
    static QString directLoginError(const QNDriveConfigPtr &drive) {
        QNCloudInterfacePtr handler = drive->createCloudInterface();
        QString text;
        bool done = false;
        handler->login([&](bool, VNErrorPtr error, bool) {
            // Under "error"; errors passed on from the HTTP layer carry only a description.
            text = error ? error->userInfo().value(QStringLiteral("error"), error->localizedDescription()).toString()
                         : QString();
            done = true;
        });
        VNTest::waitUntil([&] { return done; }, 20000);
        return text;
    }

    static QString firstLine(const QString &text) { return text.section(QLatin1Char('\n'), 0, 0); }
};

TEST_F(AddDriveServersTest, AWrongPasswordShowsTheHandlersTextThenTheRightOneStoresAndListsTheDrive) {
    const QJsonObject ftp = VNTest::peerState(QStringLiteral("vsftpd"));
    const QJsonObject dav = VNTest::peerState(QStringLiteral("webdav"));
    ASSERT_FALSE(ftp.isEmpty() || dav.isEmpty()) << "the test servers are not running";
    const struct {
        int row;
        QString name, url, user, password, description;
    } cases[] = {
        {11, "Test FTP", ftp.value("url").toString(), ftp.value("user").toString(), ftp.value("password").toString(),
         "SHOW DOCUMENTS ON THIS FTP ACCOUNT"},
        {10, "Test DAV", dav.value("http_url").toString() + QLatin1Char('/'), dav.value("user").toString(),
         dav.value("password").toString(), "SHOW DOCUMENTS ON THIS WEBDAV ACCOUNT"},
    };
    QNMainWindowController *w = launch();
    ASSERT_NE(w, nullptr);
    int count = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.row);
        // Through the main window's "Add Drive" row and the form.
        QNDialogService::shared().clearHistory();
        w->tableViewSelectionDidChange(w->numberOfRows() - 1);
        auto sheets = w->findChildren<QNAddDriveWindowController *>();
        ASSERT_EQ(sheets.size(), 1);
        QNAddDriveWindowController *s = sheets[0];
        addThroughForm(s, c.row, c.name, c.url, c.user, QStringLiteral("not-the-password"));
        ASSERT_TRUE(waitForOutcome(s));
        ASSERT_EQ(QNDialogService::shared().history().size(), 1);
        const QNAlert alert = QNDialogService::shared().history().first().alert;
        EXPECT_EQ(alert.messageText, QStringLiteral("Could not Login"));
        EXPECT_FALSE(alert.informativeText.contains(QStringLiteral("not-the-password")));
        // The drive named, and the handler's own words, as a direct login
        // with the same values gives them.
        EXPECT_TRUE(alert.informativeText.startsWith(QStringLiteral("\u201c%1\u201d").arg(c.name)))
            << alert.informativeText.toStdString();
        const QString words = firstLine(directLoginError(s->driveConfig())).section(QStringLiteral(": "), -1);
        EXPECT_TRUE(alert.informativeText.contains(words, Qt::CaseInsensitive))
            << alert.informativeText.toStdString() << " / " << words.toStdString();
        // No transcript as text: the first line and the server's last reply, the rest behind the details.
        EXPECT_LE(alert.informativeText.count(QLatin1Char('\n')), 1) << alert.informativeText.toStdString();
        EXPECT_FALSE(s->isClosed());
        EXPECT_EQ(storedDrives().size(), count);

        // The form again, with what was typed; the right password stores the drive.
        QNDialogService::shared().clearHistory();
        s->tableViewSelectionDidChange(c.row);
        ASSERT_NE(s->driveConfigWindowController(), nullptr);
        EXPECT_EQ(s->driveConfigWindowController()->name()->text(), c.name);
        s->driveConfigWindowController()->password()->setText(c.password);
        s->driveConfigWindowController()->okButton()->click();
        ASSERT_TRUE(waitForOutcome(s));
        EXPECT_TRUE(QNDialogService::shared().history().isEmpty())
            << QNDialogService::shared().history().value(0).alert.informativeText.toStdString();
        EXPECT_TRUE(s->isClosed());
        const QNDriveConfigList stored = storedDrives();
        ASSERT_EQ(stored.size(), ++count);
        EXPECT_EQ(stored.last()->displayName(), c.name);
        EXPECT_EQ(stored.last()->url(), c.url);
        EXPECT_EQ(stored.last()->username(), c.user);
        EXPECT_EQ(stored.last()->description(), c.description);
        // Every main window lists it.
        ASSERT_TRUE(VNTest::waitUntil([&] { return w->numberOfRows() == count + 1; }));
        EXPECT_EQ(w->rowContent(count - 1).title, c.name);
    }
    const QNDriveConfigList stored = storedDrives();
    EXPECT_TRUE(stored[0]->isFTP());
    EXPECT_EQ(stored[0]->stringEncodingName(), QStringLiteral("Detect / UTF-8"));
    EXPECT_TRUE(stored[1]->isWebDAV());
    EXPECT_TRUE(stored[1]->validateCertificates());
    for (const QString &line : VNLog::captured())
        EXPECT_FALSE(line.contains(QStringLiteral("not-the-password"))) << line.toStdString();
}

TEST_F(AddDriveServersTest, EditOpensTheSameFormAndLogsInAgain) {
    const QJsonObject state = VNTest::peerState(QStringLiteral("vsftpd"));
    ASSERT_FALSE(state.isEmpty()) << "the vsftpd peer is not running";
    auto drive = QNAddDriveWindowController::makeTemplates().at(11);
    drive->setDisplayName(QStringLiteral("Before"));
    drive->setUrl(state.value(QStringLiteral("url")).toString());
    drive->setUsername(state.value(QStringLiteral("user")).toString());
    drive->setPassword(state.value(QStringLiteral("password")).toString());
    ASSERT_TRUE(QNDriveConfig::writeStoredDrives({drive}));
    QNMainWindowController *w = launch();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->numberOfRows(), 2);

    // A wrong password: "Could not Login", the stored drive stays as it was.
    w->editDrive(0);
    auto forms = w->findChildren<QNDriveConfigWindowController *>();
    ASSERT_EQ(forms.size(), 1);
    EXPECT_EQ(forms[0]->name()->text(), QStringLiteral("Before"));
    EXPECT_TRUE(forms[0]->url()->isVisible());
    forms[0]->name()->setText(QStringLiteral("Typo"));
    forms[0]->password()->setText(QStringLiteral("wrong-one"));
    forms[0]->okButton()->click();
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().history().isEmpty(); }, 20000));
    EXPECT_EQ(alertTexts(), QStringList{QStringLiteral("Could not Login")});
    EXPECT_EQ(storedDrives().value(0)->displayName(), QStringLiteral("Before"));

    // The right one: saved under the new name.
    QNDialogService::shared().clearHistory();
    ASSERT_TRUE(VNTest::waitUntil([&] { return w->rowContent(0).title == QStringLiteral("Before"); }));
    w->editDrive(0);
    VNTest::spin(10);
    forms = w->findChildren<QNDriveConfigWindowController *>();
    ASSERT_FALSE(forms.isEmpty());
    QNDriveConfigWindowController *form = forms.last();
    form->name()->setText(QStringLiteral("After"));
    form->okButton()->click();
    ASSERT_TRUE(VNTest::waitUntil([] { return storedDrives().value(0)->displayName() == QStringLiteral("After"); },
                                  20000));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    EXPECT_EQ(storedDrives().size(), 1);
}

}  // namespace
