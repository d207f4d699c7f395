// The main window's drive list: rows and texts, discovered WebDAV servers
// (naming, icons, de-duplication, addresses), reordering, removing and
// editing drives and choosing rows.
#include "ShellTestSupport.h"

#include "App/QNAddDriveWindowController.h"
#include "App/QNDriveConfigWindowController.h"
#include "App/QNMacTableView.h"
#include "App/QNMainTableCellView.h"
#include "App/TBWindow.h"

#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QUrl>

namespace {

class DriveListTest : public ShellTest {
protected:
    QNMainWindowController *window = nullptr;
    QNFakeServiceDiscovery *discovery = nullptr;

    void open(const QNDriveConfigList &stored = {}) {
        if (!stored.isEmpty())
            storeDrives(stored);
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

    // Edits the row through a settings form that applies the change and
    // answers with what it returns (1 for OK, 0 for Cancel).
    void editWith(int row, std::function<int(const QNDriveConfigPtr &)> change) {
        QNMainWindowController::setDriveSettingsPresenter(
            [change](QNMainWindowController *, QNDriveConfigPtr drive, std::function<void(int)> done) {
                done(change(drive));
            });
        window->editDrive(row);
        VNTest::spin(30);
    }
};

}  // namespace

TEST_F(DriveListTest, StoredDrivesThenDiscoveredServersThenAddDrive) {
    open(twoStoredDrives());
    EXPECT_EQ(window->titleTextField()->text(), QStringLiteral("Varnello - Home"));
    EXPECT_TRUE(discovery->isSearching());
    EXPECT_EQ(discovery->searchedType(), QStringLiteral("_webdav._tcp."));
    discover(QStringLiteral("DiskCast Kitchen"));
    discover(QStringLiteral("Files on NAS"), QStringLiteral("192.168.1.30"), 80);
    EXPECT_EQ(titles(), (QStringList{"Dropbox", "Office FTP", "diskCAST WiFi Drive (DiskCast)", "Files on NAS", "Add Drive"}));
    const QStringList subTitles{"Show documents on this Dropbox account", "Show documents on this FTP account",
                                "Show documents on DiskCast Kitchen", "Show documents on Files on NAS",
                                "Add a new cloud drive to this Mac"};
    const QStringList icons{"drive-dropbox", "drive-ftp", "drive-diskcast", "drive-webdav", "drive-add"};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(window->rowContent(r).subTitle, subTitles[r]) << r;
        EXPECT_EQ(window->rowContent(r).iconName, icons[r]) << r;
        EXPECT_EQ(window->rowContent(r).showsButtons, r < 2) << r;
    }

    // The cells on screen carry the same texts, and buttons only on stored drives.
    ASSERT_TRUE(VNTest::waitUntil([&] { return cell(4) != nullptr; }, 2000));
    EXPECT_EQ(cell(1)->title()->text(), QStringLiteral("Office FTP"));
    EXPECT_EQ(cell(4)->subTitle()->text(), QStringLiteral("Add a new cloud drive to this Mac"));
    EXPECT_FALSE(cell(1)->editButton()->isHidden());
    EXPECT_FALSE(cell(1)->deleteButton()->isHidden());
    EXPECT_TRUE(cell(2)->editButton()->isHidden());
    // A selected row's subtitle and size turn white, and back when it is not.
    const auto white = [&](int r) {
        return cell(r)->subTitle()->palette().color(QPalette::WindowText) == QColor(Qt::white) &&
               cell(r)->size()->palette().color(QPalette::Text) == QColor(Qt::white);
    };
    window->tableView()->selectRow(1);
    EXPECT_TRUE(white(1));
    EXPECT_FALSE(white(0));
    window->tableView()->clearSelection();
    EXPECT_FALSE(white(1));

    // Discovered drives are never stored.
    EXPECT_EQ(storedDrives().size(), 2);
    const QNDriveConfigPtr found = window->drives().at(2);
    EXPECT_TRUE(found->isBonjour() && found->isWebDAV());
    EXPECT_EQ(found->name(), QStringLiteral("DiskCast Kitchen"));
    EXPECT_EQ(found->url(), QStringLiteral("http://192.168.1.20:8080"));
}

TEST_F(DriveListTest, DiscoveredNamesAndIcons) {
    const struct {
        const char *name, *shown, *image;
    } cases[] = {{"WiFiCAST Drive 2", "diskCAST WiFi Drive (WiFiCAST)", "drive-diskcast"},
                 {"mycast", "diskCAST WiFi Drive (mycast)", "drive-diskcast"},
                 {"Office Share", "Office Share", "drive-webdav"}};
    for (const auto &c : cases) {
        QNNetService s = QNFakeServiceDiscovery::service(QString::fromUtf8(c.name));
        s.socketAddresses << QNNetService::socketAddress(QStringLiteral("10.0.0.2"), 80);
        const QNDriveConfigPtr d = QNMainWindowController::driveForService(s);
        EXPECT_EQ(d->displayName(), QString::fromUtf8(c.shown));
        EXPECT_EQ(d->image(), QString::fromUtf8(c.image));
    }
}

TEST_F(DriveListTest, OneRowPerServiceNameWhateverTheAnnouncementsAndReloads) {
    open();
    const QNNetService v4 = QNFakeServiceDiscovery::service(QStringLiteral("Shared Disk"), 0);
    const QNNetService v6 = QNFakeServiceDiscovery::service(QStringLiteral("Shared Disk"), 1);
    discovery->announce(v4);
    discovery->announce(v4);  // the same announcement again: one resolve
    discovery->announce(v6);
    EXPECT_EQ(discovery->pendingResolves().size(), 2);
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

    // A link-local address keeps its zone, escaped as a URL needs it.
    discover(QStringLiteral("Link Disk"), QStringLiteral("fe80::1"), 80);
    const QString linkUrl = window->drives().at(1)->url();
    EXPECT_TRUE(linkUrl.startsWith(QStringLiteral("http://[fe80::1"))) << linkUrl.toStdString();
    EXPECT_TRUE(linkUrl.endsWith(QStringLiteral("]:80"))) << linkUrl.toStdString();
}

TEST_F(DriveListTest, UnresolvedServicesCanBeFoundAgainAndWithdrawnOnesLeaveAtTheNextReload) {
    open();
    const QNNetService s = QNFakeServiceDiscovery::service(QStringLiteral("Sleepy Disk"));
    discovery->announce(s);
    EXPECT_EQ(window->foundBonjourServices().size(), 1);
    ASSERT_TRUE(discovery->failResolve(s));
    EXPECT_TRUE(window->foundBonjourServices().isEmpty());
    EXPECT_EQ(window->numberOfRows(), 1);
    discovery->announce(s);
    EXPECT_EQ(discovery->pendingResolves().size(), 1);

    discover(QStringLiteral("Gone Disk"));
    ASSERT_EQ(window->numberOfRows(), 2);
    discovery->withdraw(QNFakeServiceDiscovery::service(QStringLiteral("Gone Disk")));
    EXPECT_TRUE(window->bonjourServices().isEmpty());
    window->reloadDrives();
    VNTest::spin(20);
    EXPECT_EQ(window->numberOfRows(), 1);
}

TEST_F(DriveListTest, ReorderRules) {
    open(ftpDrives({"A", "B", "C"}));
    discover(QStringLiteral("Net Disk"));
    ASSERT_EQ(window->numberOfRows(), 5);  // A B C, Net Disk, Add Drive

    // The "Add Drive" row does not move.
    EXPECT_EQ(window->writeRows({4}), nullptr);
    auto drop = [&](int from, int to) {
        std::unique_ptr<QMimeData> drag(window->writeRows({from}));
        const bool accepted = window->acceptDrop(drag.get(), to);
        VNTest::spin(20);
        return accepted;
    };
    // Dropping a drive right above or below itself changes nothing.
    EXPECT_TRUE(drop(0, 0));
    EXPECT_TRUE(drop(0, 1));
    EXPECT_EQ(names(storedDrives()), (QStringList{"A", "B", "C"}));
    // A above the discovered row: after C; only stored drives are saved.
    EXPECT_TRUE(drop(0, 3));
    EXPECT_EQ(names(storedDrives()), (QStringList{"B", "C", "A"}));
    EXPECT_EQ(window->rowContent(3).title, QStringLiteral("Net Disk"));
    EXPECT_TRUE(drop(1, 0));
    EXPECT_EQ(names(storedDrives()), (QStringList{"C", "B", "A"}));
    // Below the "Add Drive" row: refused. A discovered drive: refused.
    EXPECT_FALSE(drop(0, 5));
    EXPECT_FALSE(drop(3, 0));
    EXPECT_EQ(names(storedDrives()), (QStringList{"C", "B", "A"}));
}

TEST_F(DriveListTest, ADriveDraggedFromAnotherWindowIsRefused) {
    open(twoStoredDrives());
    QNMainWindowController *second = delegate->newDocument();
    VNTest::spin(30);
    std::unique_ptr<QMimeData> fromSecond(second->writeRows({0}));
    ASSERT_NE(fromSecond, nullptr);
    EXPECT_FALSE(window->acceptDrop(fromSecond.get(), 2));
    EXPECT_EQ(names(storedDrives()), (QStringList{"DROPBOX", "FTP"}));
    // The same drag in its own window moves the drive, and every window shows it.
    EXPECT_TRUE(second->acceptDrop(fromSecond.get(), 2));
    VNTest::spin(30);
    EXPECT_EQ(names(storedDrives()), (QStringList{"FTP", "DROPBOX"}));
    EXPECT_EQ(window->rowContent(0).title, QStringLiteral("Office FTP"));
}

TEST_F(DriveListTest, DragsAndRemovalsFindTheirDriveByIdWhenTheRowsShifted) {
    open(ftpDrives({"A", "B"}));
    std::unique_ptr<QMimeData> dragB(window->writeRows({1}));
    window->deleteDrive(1);  // "B"
    const auto question = onlyPendingAlert();
    // Meanwhile another window stored a new drive at the top.
    storeDrives(ftpDrives({"Z", "A", "B"}).mid(0, 1) + storedDrives());
    window->reloadDrives();
    VNTest::spin(20);
    EXPECT_TRUE(window->acceptDrop(dragB.get(), 0));
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"B", "Z", "A"}));
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    VNTest::spin(20);
    EXPECT_EQ(names(storedDrives()), (QStringList{"Z", "A"}));
}

TEST_F(DriveListTest, RemovingADriveAsksFirst) {
    open(twoStoredDrives());
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

    window->deleteDrive(1);
    QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);
    VNTest::spin(30);
    EXPECT_EQ(names(storedDrives()), QStringList{"DROPBOX"});
    EXPECT_EQ(titles(), (QStringList{"Dropbox", "Net Disk", "Add Drive"}));

    // Discovered drives have no remove action.
    window->deleteDrive(1);
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
}

TEST_F(DriveListTest, EditingAnOAuthDriveSavesWithoutLoggingInAndCancelChangesNothing) {
    open(twoStoredDrives());
    editWith(1, [](const QNDriveConfigPtr &d) {
        d->setDisplayName(QStringLiteral("Not kept"));
        return 0;
    });
    EXPECT_EQ(storedDrives().at(1)->displayName(), QStringLiteral("Office FTP"));
    editWith(0, [](const QNDriveConfigPtr &d) {
        d->setDisplayName(QStringLiteral("Work Dropbox"));
        return 1;
    });
    EXPECT_EQ(storedDrives().at(0)->displayName(), QStringLiteral("Work Dropbox"));
    EXPECT_EQ(window->rowContent(0).title, QStringLiteral("Work Dropbox"));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(DriveListTest, ChoosingRowsOpensTheAddDriveSheetOrTheDriveAndRowButtonsActOnTheirOwnDrive) {
    open(twoStoredDrives());
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

    // The row buttons remove and edit their own drive.
    QTest::mouseClick(cell(0)->deleteButton(), Qt::LeftButton);
    const auto question = onlyPendingAlert();
    // No display name: the name in its display form.
    EXPECT_EQ(question.alert.informativeText, QStringLiteral("Do you want to remove Dropbox"));
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    QNDriveConfigPtr edited;
    QNMainWindowController::setDriveSettingsPresenter(
        [&](QNMainWindowController *, QNDriveConfigPtr drive, std::function<void(int)>) { edited = drive; });
    QTest::mouseClick(cell(0)->editButton(), Qt::LeftButton);
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(edited->name(), QStringLiteral("DROPBOX"));
}

TEST_F(DriveListTest, TheAddDriveSheetFitsTheWindowItComesOutOnAndItsListScrolls) {
    QNAddDriveWindowController::install();
    const auto uninstall = qScopeGuard([] { QNMainWindowController::setAddDrivePresenter({}); });
    QNMainWindowController *w = launch();
    ASSERT_NE(w, nullptr);
    w->window()->show();
    for (const QSize size : {QSize(720, 560), w->window()->minimumSize()}) {
        SCOPED_TRACE(size.height());
        w->window()->resize(size);
        VNTest::spin(20);
        w->tableViewSelectionDidChange(w->numberOfRows() - 1);
        QWidget *sheet = nullptr;
        ASSERT_TRUE(VNTest::waitUntil([&] { return (sheet = QNDialogService::shared().attachedSheet(w->window())); }));
        const QRect window(w->window()->mapToGlobal(QPoint(0, 0)), w->window()->size());
        const QRect frame(sheet->mapToGlobal(QPoint(0, 0)), sheet->size());
        EXPECT_TRUE(window.contains(frame)) << "sheet to " << frame.right() << "," << frame.bottom() << ", window to " << window.right() << "," << window.bottom();
        // All twelve kinds are still there, by scrolling.
        auto *list = sheet->findChild<QNMacTableView *>(QStringLiteral("addDriveTable"));
        ASSERT_NE(list, nullptr);
        EXPECT_GT(list->verticalScrollBar()->maximum(), 0);
        saveShot(w->window(), QStringLiteral("add-drive-%1.png").arg(size.height()));
        sheet->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        VNTest::spin(20);
    }
}
