// The same pane on an FTP and a WebDAV drive, against the real test servers:
// the drive's folder is listed folders first, a sub-folder opens in the next
// pane, and the path bar counts levels from the drive's own folder; a file
// dragged out of the FTP drive's pane to another application is offered as
// a local copy; rename, delete and new folder reach the server's disk.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"

#include <QLineEdit>
#include <QMimeData>
#include <QUuid>

namespace {

class RemoteListingTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNFTPHandler::registerHandler();
        QNWebDAVHandler::registerWithFactory();
    }

    static QString uniqueName() {
        return QStringLiteral("panes-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    }

    // A folder on the server's disk with a sub-folder and two files.
    static void fillFolder(const QString &onDisk) {
        QDir().mkpath(onDisk + QStringLiteral("/sub"));
        writeFile(onDisk + QStringLiteral("/b.txt"), 20);
        writeFile(onDisk + QStringLiteral("/a.txt"), 10);
        writeFile(onDisk + QStringLiteral("/sub/inner.txt"), 5);
        for (const QString &dir : {onDisk, onDisk + QStringLiteral("/sub")})
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    }

    // A drive of the peer on a fresh folder of its disk; onDisk gets the folder's path.
    static QNDriveConfigPtr peerDrive(bool ftp, QString *onDisk) {
        const QJsonObject state = VNTest::peerState(ftp ? QStringLiteral("vsftpd") : QStringLiteral("webdav"));
        if (state.isEmpty())
            return nullptr;
        const QString name = uniqueName();
        const QString prefix = ftp ? QStringLiteral("/work/") : QStringLiteral("/");
        *onDisk = state.value(ftp ? QStringLiteral("root") : QStringLiteral("root_dir")).toString() + prefix + name;
        QString url = state.value(ftp ? QStringLiteral("url") : QStringLiteral("http_url")).toString();
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        auto drive = QNDriveConfig::create();
        if (ftp)
            drive->setIsFTP(true);
        else
            drive->setIsWebDAV(true);
        drive->setName(ftp ? QStringLiteral("VSFTPD") : QStringLiteral("WEBDAV"));
        drive->setUrl(url + prefix.mid(1) + name + QLatin1Char('/'));
        drive->setUsername(state.value(QStringLiteral("user")).toString());
        drive->setPassword(state.value(QStringLiteral("password")).toString());
        return drive;
    }

    // Opens the drive, checks the listing and the path bar, then the sub-folder.
    void browse(const QNDriveConfigPtr &drive, const QString &folderName) {
        QNMainWindowController *window = launch();
        ASSERT_NE(window, nullptr);
        storeDrives({drive});
        ASSERT_TRUE(openRow(window, 0));
        ASSERT_TRUE(QNDialogService::shared().history().isEmpty())
            << QNDialogService::shared().history().first().alert.messageText.toStdString();
        QNMacFilesViewController *pane = window->filesViewController();
        EXPECT_EQ(names(pane->documents()), (QStringList{"sub", "a.txt", "b.txt"}));
        QPushButton *rootButton = pathButton(window, QStringLiteral("folderButton"), folderName);
        ASSERT_NE(rootButton, nullptr);
        EXPECT_EQ(rootButton->property("tag").toInt(), 0);

        pane->doubleClickAction(0);
        ASSERT_TRUE(waitForListing(window));
        ASSERT_EQ(window->filesViewControllers().size(), 2);
        EXPECT_EQ(names(window->filesViewController()->documents()), QStringList{"inner.txt"});
        QPushButton *subButton = pathButton(window, QStringLiteral("folderButton"), QStringLiteral("sub"));
        ASSERT_NE(subButton, nullptr);
        EXPECT_EQ(subButton->property("tag").toInt(), 1);
        pathButton(window, QStringLiteral("folderButton"), folderName)->click();
        EXPECT_EQ(window->filesViewControllers().size(), 1);
        EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    }
};

}  // namespace

TEST_F(RemoteListingTest, AnFTPAndAWebDAVFolderAreListedAndBrowsed) {
    for (bool ftp : {true, false}) {
        SCOPED_TRACE(ftp ? "vsftpd" : "webdav");
        QString onDisk;
        const QNDriveConfigPtr drive = peerDrive(ftp, &onDisk);
        ASSERT_NE(drive, nullptr) << "the peer is not running";
        fillFolder(onDisk);
        browse(drive, QFileInfo(onDisk).fileName());
        delegate.reset();
        VNTest::spin(30);
    }
}

TEST_F(RemoteListingTest, AFileDraggedOutOfAnFTPPaneIsOfferedAsALocalCopyOnceMade) {
    QString onDisk;
    const QNDriveConfigPtr ftp = peerDrive(true, &onDisk);
    ASSERT_NE(ftp, nullptr) << "the peer is not running";
    fillFolder(onDisk);
    QByteArray bytes(300001, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131) ^ (i >> 8));
    ASSERT_TRUE(VNTest::writeFile(onDisk + QStringLiteral("/a.txt"), bytes));
    QNMainWindowController *window = openDrive(ftp);
    ASSERT_NE(window, nullptr);
    QNMacFilesViewController *from = window->filesViewController();
    std::unique_ptr<QMimeData> drag(from->writeDrag({int(names(from->documents()).indexOf(QStringLiteral("a.txt")))}));
    ASSERT_NE(drag, nullptr);
    // Dropped on another application, which then asks for the files.
    from->dragEnded();
    ASSERT_TRUE(VNTest::waitUntil([&] { return drag->hasUrls(); }, 30000));
    ASSERT_EQ(drag->urls().size(), 1);
    const QString copy = drag->urls().first().toLocalFile();
    EXPECT_TRUE(copy.startsWith(from->tempPath() + QStringLiteral("/drag-"))) << copy.toStdString();
    EXPECT_EQ(VNTest::readFile(copy), bytes);
    EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("/a.txt")), bytes);
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(RemoteListingTest, RenameDeleteAndNewFolderOnAnFTPDriveReachTheServersDisk) {
    QString onDisk;
    const QNDriveConfigPtr drive = peerDrive(true, &onDisk);
    ASSERT_NE(drive, nullptr) << "the peer is not running";
    fillFolder(onDisk);
    QFile::setPermissions(onDisk, QFileDevice::Permissions(0x7777));  // the server's user writes here
    QNMainWindowController *window = openDrive(drive);
    ASSERT_NE(window, nullptr);
    QNMacFilesViewController *pane = window->filesViewController();
    const auto onServer = [&] { return QDir(onDisk).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name); };

    QAbstractItemModel *model = pane->tableView()->model();
    ASSERT_TRUE(model->setData(model->index(1, QNMacFilesViewController::NameColumn), QStringLiteral("renamed a.txt")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return onServer() == QStringList({"b.txt", "renamed a.txt", "sub"}); }, 15000));
    ASSERT_TRUE(VNTest::waitUntil([&] { return names(pane->documents()).contains(QStringLiteral("renamed a.txt")); }));

    pane->tableView()->selectRow(int(names(pane->documents()).indexOf(QStringLiteral("b.txt"))));
    pane->deleteDocument();
    ASSERT_TRUE(VNTest::waitUntil([&] { return onServer() == QStringList({"renamed a.txt", "sub"}); }, 15000));

    pane->newFolder();
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }));
    const auto question = QNDialogService::shared().pendingAlerts().first();
    qobject_cast<QLineEdit *>(question.alert.accessoryView.data())->setText(QStringLiteral("made here"));
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo(onDisk + QStringLiteral("/made here")).isDir(); }, 15000));
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
}

// A rename onto a name the folder already holds: FTP servers replace the
// other file, WebDAV ones refuse without saying which name. On every drive
// the pane says which, and neither file changes on the disk.
TEST_F(RemoteListingTest, ARenameOntoANameTheFolderHoldsIsRefusedNamingItAndBothFilesStay) {
    for (const char *server : {"vsftpd", "apache", "local disk"}) {
        SCOPED_TRACE(server);
        QString onDisk;
        QNDriveConfigPtr drive;
        if (server == std::string("local disk")) {
            onDisk = folder(uniqueName());
            drive = localDrive(QStringLiteral("Local"), onDisk);
        } else {
            drive = peerDrive(server == std::string("vsftpd"), &onDisk);
        }
        ASSERT_NE(drive, nullptr) << "the peer is not running";
        fillFolder(onDisk);
        ASSERT_TRUE(VNTest::writeFile(onDisk + QStringLiteral("/notes.txt"), "the notes, 48 bytes long, just saved back.....\n"));
        ASSERT_TRUE(VNTest::writeFile(onDisk + QStringLiteral("/old.txt"), "old text\n"));
        QFile::setPermissions(onDisk, QFileDevice::Permissions(0x7777));  // the server's user may write here
        QNMainWindowController *window = openDrive(drive);
        ASSERT_NE(window, nullptr);
        QNMacFilesViewController *pane = window->filesViewController();
        QNDialogService::shared().clearHistory();

        QAbstractItemModel *model = pane->tableView()->model();
        const int row = int(names(pane->documents()).indexOf(QStringLiteral("notes.txt")));
        ASSERT_GE(row, 0);
        ASSERT_TRUE(model->setData(model->index(row, QNMacFilesViewController::NameColumn), QStringLiteral("old.txt")));
        const auto &history = QNDialogService::shared().history();
        EXPECT_TRUE(VNTest::waitUntil([&] { return !history.isEmpty(); }, 15000));
        const QString shown = history.isEmpty() ? QString() : history.last().alert.messageText;
        const QString driveName = drive->displayName().isEmpty() ? drive->name() : drive->displayName();
        EXPECT_EQ(shown, "\u201c" + driveName +
                             "\u201d: An item named \u201cold.txt\u201d is already in this folder, so "
                             "\u201cnotes.txt\u201d was not renamed.");
        EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("/notes.txt")),
                  QByteArray("the notes, 48 bytes long, just saved back.....\n"));
        EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("/old.txt")), QByteArray("old text\n"));
        EXPECT_EQ(QDir(onDisk).entryList(QDir::Files, QDir::Name).join(QLatin1Char(' ')).toStdString(),
                  "a.txt b.txt notes.txt old.txt");
        delegate.reset();
        VNTest::spin(30);
    }
}
