// The main window's drive list: rows and texts, discovered WebDAV servers
// (naming, icons, de-duplication, addresses), reordering, removing and
// editing drives, choosing rows, and the home screenshot.
#include "ShellTestSupport.h"

#include "App/QNImageLibrary.h"
#include "App/QNMacTableView.h"
#include "App/QNMainTableCellView.h"
#include "App/TBWindow.h"
#include "Platform/VNLog.h"

#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>

namespace {

class DriveListTest : public ShellTest {
protected:
    QNMainWindowController *window = nullptr;
    QNFakeServiceDiscovery *discovery = nullptr;

    void open() {
        window = launch();
        ASSERT_NE(window, nullptr);
        discovery = QNFakeServiceDiscovery::instances().last();
        ASSERT_NE(discovery, nullptr);
    }

    // Announces and resolves a service; waits for the list to show it.
    void discover(const QString &name, const QString &address = QStringLiteral("192.168.1.20"), quint16 port = 8080,
                  int protocol = 0) {
        const QNNetService s = QNFakeServiceDiscovery::service(name, protocol);
        discovery->announce(s);
        ASSERT_TRUE(discovery->answerResolve(s, address, port));
        VNTest::spin(20);
    }

    QStringList titles() const {
        QStringList t;
        for (int r = 0; r < window->numberOfRows(); ++r)
            t << window->rowContent(r).title;
        return t;
    }

    QNMainTableCellView *cell(int row) const {
        return qobject_cast<QNMainTableCellView *>(
            window->tableView()->indexWidget(window->tableView()->model()->index(row, 0)));
    }
};

}  // namespace

TEST_F(DriveListTest, WithNothingStoredOrFoundOnlyAddDriveIsListed) {
    open();
    EXPECT_EQ(window->window()->windowTitle(), QStringLiteral("Varnello - Home"));
    EXPECT_EQ(window->titleTextField()->text(), QStringLiteral("Varnello - Home"));
    ASSERT_EQ(window->numberOfRows(), 1);
    const auto row = window->rowContent(0);
    EXPECT_EQ(row.title, QStringLiteral("Add Drive"));
    EXPECT_EQ(row.subTitle, QStringLiteral("Add a new cloud drive to this Mac"));
    EXPECT_EQ(row.iconName, QStringLiteral("drive-add"));
    EXPECT_FALSE(row.showsButtons);
    EXPECT_TRUE(discovery->isSearching());
    EXPECT_EQ(discovery->searchedType(), QStringLiteral("_webdav._tcp."));
    EXPECT_EQ(discovery->searchedDomain(), QString());
}

TEST_F(DriveListTest, StoredDrivesThenDiscoveredServersThenAddDrive) {
    storeDrives(twoStoredDrives());
    open();
    discover(QStringLiteral("DiskCast Kitchen"));
    discover(QStringLiteral("Files on NAS"), QStringLiteral("192.168.1.30"), 80);
    ASSERT_EQ(window->numberOfRows(), 5);
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("Dropbox"), QStringLiteral("Office FTP"),
                                     QStringLiteral("diskCAST WiFi Drive (DiskCast)"), QStringLiteral("Files on NAS"),
                                     QStringLiteral("Add Drive")}));
    EXPECT_EQ(window->rowContent(0).subTitle, QStringLiteral("Show documents on this Dropbox account"));
    EXPECT_EQ(window->rowContent(1).subTitle, QStringLiteral("Show documents on this FTP account"));
    EXPECT_EQ(window->rowContent(2).subTitle, QStringLiteral("SHOW DOCUMENTS ON DiskCast Kitchen").replace(
                                                  QStringLiteral("SHOW DOCUMENTS ON"), QStringLiteral("Show documents on")));
    EXPECT_EQ(window->rowContent(0).iconName, QStringLiteral("drive-dropbox"));
    EXPECT_EQ(window->rowContent(1).iconName, QStringLiteral("drive-ftp"));
    EXPECT_EQ(window->rowContent(2).iconName, QStringLiteral("drive-diskcast"));
    EXPECT_EQ(window->rowContent(3).iconName, QStringLiteral("drive-webdav"));
    EXPECT_TRUE(window->rowContent(0).showsButtons);
    EXPECT_TRUE(window->rowContent(1).showsButtons);
    EXPECT_FALSE(window->rowContent(2).showsButtons);
    EXPECT_FALSE(window->rowContent(3).showsButtons);

    // The cells on screen carry the same texts, and buttons only on stored drives.
    ASSERT_TRUE(VNTest::waitUntil([&] { return cell(4) != nullptr; }, 2000));
    EXPECT_EQ(cell(1)->title()->text(), QStringLiteral("Office FTP"));
    EXPECT_EQ(cell(4)->subTitle()->text(), QStringLiteral("Add a new cloud drive to this Mac"));
    EXPECT_FALSE(cell(1)->editButton()->isHidden());
    EXPECT_FALSE(cell(1)->deleteButton()->isHidden());
    EXPECT_TRUE(cell(2)->editButton()->isHidden());
    EXPECT_EQ(cell(1)->editButton()->text(), QStringLiteral("Edit"));

    // The subtitle is drawn in its warm grey inside the table, not in black.
    const QImage sub = cell(0)->subTitle()->grab().toImage();
    QColor darkest(Qt::white);
    for (int y = 0; y < sub.height(); ++y)
        for (int x = 0; x < sub.width(); ++x)
            if (qGray(sub.pixel(x, y)) < qGray(darkest.rgb()))
                darkest = QColor(sub.pixel(x, y));
    EXPECT_GT(darkest.red(), 100) << darkest.name().toStdString();
    EXPECT_GT(darkest.red(), darkest.blue()) << darkest.name().toStdString();
    // Selected rows turn the subtitle white; others take the light grey.
    cell(0)->setBackgroundStyle(QNMainTableCellView::Dark);
    EXPECT_EQ(cell(0)->subTitle()->palette().color(QPalette::Text), QColor(Qt::white));
    cell(0)->setBackgroundStyle(QNMainTableCellView::Light);
    EXPECT_NEAR(cell(0)->subTitle()->palette().color(QPalette::Text).redF(), 0.66796875, 0.01);

    // Discovered drives are never stored.
    EXPECT_EQ(storedDrives().size(), 2);
    const QNDriveConfigPtr found = window->drives().at(2);
    EXPECT_TRUE(found->isBonjour());
    EXPECT_TRUE(found->isWebDAV());
    EXPECT_EQ(found->name(), QStringLiteral("DiskCast Kitchen"));
    EXPECT_EQ(found->url(), QStringLiteral("http://192.168.1.20:8080"));
}

TEST_F(DriveListTest, DiscoveredNamesAndIcons) {
    auto drive = [](const QString &name) {
        QNNetService s = QNFakeServiceDiscovery::service(name);
        s.socketAddresses << QNNetService::socketAddress(QStringLiteral("10.0.0.2"), 80);
        return QNMainWindowController::driveForService(s);
    };
    EXPECT_EQ(drive(QStringLiteral("WiFiCAST Drive 2"))->displayName(), QStringLiteral("diskCAST WiFi Drive (WiFiCAST)"));
    EXPECT_EQ(drive(QStringLiteral("mycast"))->displayName(), QStringLiteral("diskCAST WiFi Drive (mycast)"));
    EXPECT_EQ(drive(QStringLiteral("mycast"))->image(), QStringLiteral("drive-diskcast"));
    EXPECT_EQ(drive(QStringLiteral("Office Share"))->displayName(), QStringLiteral("Office Share"));
    EXPECT_EQ(drive(QStringLiteral("Office Share"))->image(), QStringLiteral("drive-webdav"));
    EXPECT_EQ(drive(QStringLiteral("Office Share"))->description(), QStringLiteral("SHOW DOCUMENTS ON Office Share"));
    // Every icon name a row can ask for ships with the application.
    for (const QString &name : {QStringLiteral("drive-diskcast"), QStringLiteral("drive-webdav"), QStringLiteral("drive-add")})
        EXPECT_TRUE(QNImageLibrary::hasImage(name)) << name.toStdString();
}

TEST_F(DriveListTest, OneRowPerServiceNameWhateverTheAnnouncementsAndReloads) {
    open();
    const QNNetService v4 = QNFakeServiceDiscovery::service(QStringLiteral("Shared Disk"), 0);
    const QNNetService v6 = QNFakeServiceDiscovery::service(QStringLiteral("Shared Disk"), 1);
    discovery->announce(v4);
    discovery->announce(v4);  // the same announcement again: one resolve
    discovery->announce(v6);
    EXPECT_EQ(discovery->pendingResolves().size(), 2);
    EXPECT_EQ(discovery->pendingResolves().first().timeoutMs, 15000);
    ASSERT_TRUE(discovery->answerResolve(v4, QStringLiteral("192.168.1.5"), 80));
    ASSERT_TRUE(discovery->answerResolve(v6, QStringLiteral("2001:db8::5"), 80));
    VNTest::spin(20);
    window->reloadDrives();
    window->reloadDrives();
    VNTest::spin(20);
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("Shared Disk"), QStringLiteral("Add Drive")}));
    EXPECT_EQ(window->bonjourServices().size(), 1);
}

TEST_F(DriveListTest, AServerWithAnIPv6AddressGetsAValidUrl) {
    open();
    discover(QStringLiteral("V6 Disk"), QStringLiteral("2001:db8::5"), 8080);
    const QString url = window->drives().at(0)->url();
    EXPECT_EQ(url, QStringLiteral("http://[2001:db8::5]:8080"));
    const QUrl parsed(url, QUrl::StrictMode);
    EXPECT_TRUE(parsed.isValid());
    EXPECT_EQ(parsed.host(), QStringLiteral("2001:db8::5"));
    EXPECT_EQ(parsed.port(), 8080);

    // A link-local address keeps its zone, escaped as a URL needs it.
    discover(QStringLiteral("Link Disk"), QStringLiteral("fe80::1"), 80);
    const QString linkUrl = window->drives().at(1)->url();
    EXPECT_TRUE(linkUrl.startsWith(QStringLiteral("http://[fe80::1"))) << linkUrl.toStdString();
    EXPECT_TRUE(linkUrl.endsWith(QStringLiteral("]:80"))) << linkUrl.toStdString();
}

TEST_F(DriveListTest, AServiceThatCannotBeResolvedCanBeFoundAgain) {
    open();
    const QNNetService s = QNFakeServiceDiscovery::service(QStringLiteral("Sleepy Disk"));
    discovery->announce(s);
    EXPECT_EQ(window->foundBonjourServices().size(), 1);
    ASSERT_TRUE(discovery->failResolve(s));
    EXPECT_TRUE(window->foundBonjourServices().isEmpty());
    EXPECT_EQ(window->numberOfRows(), 1);
    discovery->announce(s);
    EXPECT_EQ(discovery->pendingResolves().size(), 1);
}

TEST_F(DriveListTest, AWithdrawnServiceLeavesAtTheNextReload) {
    open();
    discover(QStringLiteral("Gone Disk"));
    ASSERT_EQ(window->numberOfRows(), 2);
    discovery->withdraw(QNFakeServiceDiscovery::service(QStringLiteral("Gone Disk")));
    EXPECT_TRUE(window->bonjourServices().isEmpty());
    EXPECT_TRUE(window->foundBonjourServices().isEmpty());
    window->reloadDrives();
    VNTest::spin(20);
    EXPECT_EQ(window->numberOfRows(), 1);
}

TEST_F(DriveListTest, ReorderRules) {
    auto a = makeDrive(QStringLiteral("A"), QStringLiteral("A"), QString(), QStringLiteral("icon_ftp.pdf"));
    auto b = makeDrive(QStringLiteral("B"), QStringLiteral("B"), QString(), QStringLiteral("icon_ftp.pdf"));
    auto c = makeDrive(QStringLiteral("C"), QStringLiteral("C"), QString(), QStringLiteral("icon_ftp.pdf"));
    a->setUrl(QStringLiteral("ftp://a"));
    b->setUrl(QStringLiteral("ftp://b"));
    c->setUrl(QStringLiteral("ftp://c"));
    storeDrives({a, b, c});
    open();
    discover(QStringLiteral("Net Disk"));
    ASSERT_EQ(window->numberOfRows(), 5);  // A B C, Net Disk, Add Drive

    // The "Add Drive" row does not move.
    EXPECT_EQ(window->writeRows({4}), nullptr);

    auto drag = [&](int from) { return std::unique_ptr<QMimeData>(window->writeRows({from})); };
    // Dropping a drive right above or below itself changes nothing.
    EXPECT_TRUE(window->acceptDrop(drag(0).get(), 0));
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"A", "B", "C"}));
    EXPECT_TRUE(window->acceptDrop(drag(0).get(), 1));
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"A", "B", "C"}));

    // A above the discovered row: after C; only stored drives are saved.
    EXPECT_TRUE(window->acceptDrop(drag(0).get(), 3));
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"B", "C", "A"}));
    EXPECT_EQ(window->rowContent(3).title, QStringLiteral("Net Disk"));

    // C to the top.
    EXPECT_TRUE(window->acceptDrop(drag(1).get(), 0));
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"C", "B", "A"}));

    // Below the "Add Drive" row: refused. A discovered drive: refused.
    EXPECT_FALSE(window->acceptDrop(drag(0).get(), 5));
    EXPECT_FALSE(window->acceptDrop(drag(3).get(), 0));
    EXPECT_EQ(names(storedDrives()), (QStringList{"C", "B", "A"}));
}

TEST_F(DriveListTest, ADriveDraggedFromAnotherWindowIsRefused) {
    storeDrives(twoStoredDrives());
    open();
    QNMainWindowController *second = delegate->newDocument();
    VNTest::spin(30);
    std::unique_ptr<QMimeData> fromSecond(second->writeRows({0}));
    ASSERT_NE(fromSecond, nullptr);
    EXPECT_FALSE(window->acceptDrop(fromSecond.get(), 2));
    EXPECT_EQ(names(storedDrives()), (QStringList{"DROPBOX", "FTP"}));
    // The same drag in its own window moves the drive.
    EXPECT_TRUE(second->acceptDrop(fromSecond.get(), 2));
    VNTest::spin(30);
    EXPECT_EQ(names(storedDrives()), (QStringList{"FTP", "DROPBOX"}));
    // Every window shows the new order.
    EXPECT_EQ(window->rowContent(0).title, QStringLiteral("Office FTP"));
}

TEST_F(DriveListTest, ADragFindsItsDriveByIdWhenDiscoveryShiftedTheRows) {
    auto a = makeDrive(QStringLiteral("A"), QStringLiteral("A"), QString(), QString());
    auto b = makeDrive(QStringLiteral("B"), QStringLiteral("B"), QString(), QString());
    a->setUrl(QStringLiteral("ftp://a"));
    b->setUrl(QStringLiteral("ftp://b"));
    storeDrives({a, b});
    open();
    std::unique_ptr<QMimeData> dragB(window->writeRows({1}));
    // Meanwhile another window stored a new drive at the top.
    auto z = makeDrive(QStringLiteral("Z"), QStringLiteral("Z"), QString(), QString());
    z->setUrl(QStringLiteral("ftp://z"));
    storeDrives({z, a, b});
    window->reloadDrives();
    VNTest::spin(20);
    EXPECT_TRUE(window->acceptDrop(dragB.get(), 0));
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"B", "Z", "A"}));
}

TEST_F(DriveListTest, RemovingADriveAsksFirst) {
    storeDrives(twoStoredDrives());
    open();
    discover(QStringLiteral("Net Disk"));
    window->deleteDrive(1);
    auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.messageText, QStringLiteral("Remove Drive"));
    EXPECT_EQ(question.alert.informativeText, QStringLiteral("Do you want to remove Office FTP"));
    EXPECT_EQ(question.alert.buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    EXPECT_EQ(question.window, window->window());
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    VNTest::spin(20);
    EXPECT_EQ(storedDrives().size(), 2);

    // The title falls back to the caption's display form.
    window->deleteDrive(0);
    question = onlyPendingAlert();
    EXPECT_EQ(question.alert.informativeText, QStringLiteral("Do you want to remove Dropbox"));
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    VNTest::spin(20);

    window->deleteDrive(1);
    question = onlyPendingAlert();
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    VNTest::spin(30);
    EXPECT_EQ(names(storedDrives()), QStringList{"DROPBOX"});
    EXPECT_EQ(titles(), (QStringList{"Dropbox", "Net Disk", "Add Drive"}));

    // Discovered drives have no remove action.
    window->deleteDrive(1);
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
}

TEST_F(DriveListTest, RemovalFindsTheDriveByIdWhenTheListChangedUnderTheQuestion) {
    storeDrives(twoStoredDrives());
    open();
    window->deleteDrive(1);  // "Office FTP"
    const auto question = onlyPendingAlert();
    auto z = makeDrive(QStringLiteral("Z"), QStringLiteral("Z"), QString(), QString());
    z->setUrl(QStringLiteral("ftp://z"));
    QNDriveConfigList now = twoStoredDrives();
    now.prepend(z);
    storeDrives(now);
    window->reloadDrives();
    VNTest::spin(20);
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"Z", "DROPBOX"}));
}

TEST_F(DriveListTest, EditingAnOAuthDriveSavesWithoutLoggingIn) {
    storeDrives(twoStoredDrives());
    open();
    int shown = 0;
    QNMainWindowController::setDriveSettingsPresenter(
        [&](QNMainWindowController *, QNDriveConfigPtr drive, std::function<void(int)> done) {
            ++shown;
            drive->setDisplayName(QStringLiteral("Work Dropbox"));
            done(1);
        });
    window->editDrive(0);
    VNTest::spin(30);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(storedDrives().at(0)->displayName(), QStringLiteral("Work Dropbox"));
    EXPECT_EQ(window->rowContent(0).title, QStringLiteral("Work Dropbox"));
}

TEST_F(DriveListTest, CancellingTheSettingsChangesNothing) {
    storeDrives(twoStoredDrives());
    open();
    QNMainWindowController::setDriveSettingsPresenter(
        [&](QNMainWindowController *, QNDriveConfigPtr, std::function<void(int)> done) { done(0); });
    window->editDrive(1);
    VNTest::spin(30);
    EXPECT_EQ(storedDrives().at(1)->displayName(), QStringLiteral("Office FTP"));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(DriveListTest, AFailedLoginAfterAnEditSaysCouldNotLoginAndKeepsTheStoredValues) {
    storeDrives(twoStoredDrives());
    open();
    QNMainWindowController::setDriveSettingsPresenter(
        [&](QNMainWindowController *, QNDriveConfigPtr drive, std::function<void(int)> done) {
            drive->setDisplayName(QStringLiteral("Renamed"));
            drive->setIsFTP(false);
            drive->setIsSMB(true);  // a kind no handler serves in this build
            done(1);
        });
    window->editDrive(1);
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().history().isEmpty(); }, 3000));
    const auto alert = QNDialogService::shared().history().first();
    EXPECT_TRUE(alert.modal);
    EXPECT_EQ(alert.alert.messageText, QStringLiteral("Could not Login"));
    EXPECT_EQ(alert.alert.buttons, QStringList{QStringLiteral("OK")});
    EXPECT_FALSE(alert.alert.informativeText.isEmpty());
    VNTest::spin(30);
    EXPECT_EQ(storedDrives().at(1)->displayName(), QStringLiteral("Office FTP"));
    EXPECT_EQ(window->rowContent(1).title, QStringLiteral("Office FTP"));
}

TEST_F(DriveListTest, EditingALocalDriveLogsInThenSaves) {
    auto local = makeDrive(QStringLiteral("MY DOCUMENTS"), QString(), QStringLiteral("SHOW DOCUMENTS ON THIS MAC"),
                           QStringLiteral("icon_my_documents.pdf"));
    local->setIsMyFiles(true);
    local->setUseAbsolutePath(true);
    storeDrives({local});
    open();
    QNMainWindowController::setDriveSettingsPresenter(
        [&](QNMainWindowController *, QNDriveConfigPtr drive, std::function<void(int)> done) {
            drive->setDisplayName(QStringLiteral("Home Folder"));
            done(1);
        });
    window->editDrive(0);
    ASSERT_TRUE(VNTest::waitUntil([] {
        const auto stored = QNDriveConfig::readStoredDrives().value_or(QNDriveConfigList{});
        return !stored.isEmpty() && stored.first()->displayName() == QStringLiteral("Home Folder");
    }, 5000));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(DriveListTest, ChoosingRowsOpensTheAddDriveSheetOrTheDrive) {
    storeDrives(twoStoredDrives());
    open();
    int addDrive = 0;
    QNDriveConfigPtr opened;
    QNMainWindowController::setAddDrivePresenter([&](QNMainWindowController *c) {
        EXPECT_EQ(c, window);
        ++addDrive;
    });
    QNMainWindowController::setDriveOpener([&](QNMainWindowController *, QNDriveConfigPtr d) { opened = d; });
    window->tableView()->selectRow(2);
    window->tableViewSelectionDidChange(2);
    EXPECT_EQ(addDrive, 1);
    EXPECT_TRUE(window->tableView()->selectedRowList().isEmpty());
    window->tableViewSelectionDidChange(1);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->displayName(), QStringLiteral("Office FTP"));

    // A click on the last row does the same.
    ASSERT_TRUE(VNTest::waitUntil([&] { return cell(2) != nullptr; }, 2000));
    QTest::mouseClick(window->tableView()->viewport(), Qt::LeftButton, {},
                      QPoint(40, window->tableView()->rowViewportPosition(2) + 20));
    EXPECT_EQ(addDrive, 2);
}

TEST_F(DriveListTest, TheRowButtonsRemoveAndEditTheirOwnDrive) {
    storeDrives(twoStoredDrives());
    open();
    ASSERT_TRUE(VNTest::waitUntil([&] { return cell(1) != nullptr; }, 2000));
    QTest::mouseClick(cell(1)->deleteButton(), Qt::LeftButton);
    const auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.informativeText, QStringLiteral("Do you want to remove Office FTP"));
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    QNDriveConfigPtr edited;
    QNMainWindowController::setDriveSettingsPresenter(
        [&](QNMainWindowController *, QNDriveConfigPtr drive, std::function<void(int)>) { edited = drive; });
    QTest::mouseClick(cell(0)->editButton(), Qt::LeftButton);
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(edited->name(), QStringLiteral("DROPBOX"));
}

TEST_F(DriveListTest, HomeScreenshot) {
    storeDrives(twoStoredDrives());
    open();
    discover(QStringLiteral("diskcast-7F2A WebDAV"), QStringLiteral("192.168.1.20"), 8080);
    TBWindow *w = window->window();
    w->resize(720, 560);
    w->activateWindow();
    VNTest::waitUntil([&] { return w->isActiveWindow(); }, 2000);
    ASSERT_TRUE(VNTest::waitUntil([&] { return cell(3) != nullptr; }, 2000));
    VNTest::spin(50);
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("Dropbox"), QStringLiteral("Office FTP"),
                                     QStringLiteral("diskCAST WiFi Drive (diskcast-7F2A)"), QStringLiteral("Add Drive")}));
    const QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(720, 560));
    const QString path = VNTest::artifactsFolder() + QStringLiteral("/main-home.png");
    ASSERT_TRUE(shot.save(path));
    std::cout << "screenshot: " << path.toStdString() << std::endl;
}
