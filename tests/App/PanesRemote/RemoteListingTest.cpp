// The same pane on an FTP and a WebDAV drive, against the real test servers:
// the drive's folder is listed folders first, a sub-folder opens in the next
// pane, and the path bar counts levels from the drive's own folder; a file
// dragged from the FTP drive's pane to the WebDAV drive's, or out to another
// application as a local copy, arrives unchanged.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNUtils.h"

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
        EXPECT_EQ(pane->foldersLabel()->text(), QStringLiteral("1 Folder"));
        EXPECT_EQ(pane->filesLabel()->text(), QStringLiteral("%1 in 2 Files").arg(QNUtils::sizeString2(30)));
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

TEST_F(RemoteListingTest, AFileDraggedFromAnFTPPaneToAWebDAVPaneArrivesByteForByte) {
    QString ftpDisk, davDisk;
    const QNDriveConfigPtr ftp = peerDrive(true, &ftpDisk), dav = peerDrive(false, &davDisk);
    ASSERT_TRUE(ftp && dav) << "a peer is not running";
    fillFolder(ftpDisk);
    QByteArray bytes(300001, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131) ^ (i >> 8));
    ASSERT_TRUE(VNTest::writeFile(ftpDisk + QStringLiteral("/a.txt"), bytes));
    ASSERT_TRUE(QDir().mkpath(davDisk));
    QFile::setPermissions(davDisk, QFileDevice::Permissions(0x7777));  // the server's user writes here
    QNMainWindowController *a = launch();
    ASSERT_NE(a, nullptr);
    storeDrives({ftp, dav});
    ASSERT_TRUE(openRow(a, 0));
    QNMainWindowController *b = delegate->newDocument();
    VNTest::spin(30);
    ASSERT_TRUE(openRow(b, 1));
    ASSERT_TRUE(b->filesViewController()->documents().isEmpty());

    QNMacFilesViewController *from = a->filesViewController();
    std::unique_ptr<QMimeData> drag(from->writeDrag({int(names(from->documents()).indexOf(QStringLiteral("a.txt")))}));
    ASSERT_NE(drag, nullptr);
    // Other applications get a local copy, offered once a task has made it.
    ASSERT_TRUE(VNTest::waitUntil([&] { return drag->hasUrls(); }, 30000));
    ASSERT_EQ(drag->urls().size(), 1);
    const QString copy = drag->urls().first().toLocalFile();
    EXPECT_TRUE(copy.startsWith(from->tempPath() + QStringLiteral("/drag-"))) << copy.toStdString();
    EXPECT_EQ(VNTest::readFile(copy), bytes);
    from->dragEnded();
    ASSERT_TRUE(b->filesViewController()->dropWithMimeData(drag.get(), /*moveAsked=*/false));
    ASSERT_TRUE(VNTest::waitUntil([&] { return names(b->filesViewController()->documents()) == QStringList{"a.txt"}; },
                                  30000));
    EXPECT_EQ(VNTest::readFile(davDisk + QStringLiteral("/a.txt")), bytes);
    EXPECT_EQ(VNTest::readFile(ftpDisk + QStringLiteral("/a.txt")), bytes);
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(RemoteListingTest, RenameDeleteAndNewFolderOnAnFTPDriveReachTheServersDisk) {
    const QJsonObject state = VNTest::peerState(QStringLiteral("vsftpd"));
    ASSERT_FALSE(state.isEmpty()) << "the peer is not running";
    const QString name = uniqueName();
    const QString onDisk = state.value(QStringLiteral("root")).toString() + QStringLiteral("/work/") + name;
    fillFolder(onDisk);
    QFile::setPermissions(onDisk, QFileDevice::Permissions(0x7777));  // the server's user writes here
    auto drive = QNDriveConfig::create();
    drive->setIsFTP(true);
    drive->setName(QStringLiteral("FTP"));
    drive->setUrl(state.value(QStringLiteral("url")).toString() + QStringLiteral("work/") + name + QLatin1Char('/'));
    drive->setUsername(state.value(QStringLiteral("user")).toString());
    drive->setPassword(state.value(QStringLiteral("password")).toString());
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
