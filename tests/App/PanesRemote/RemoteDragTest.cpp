// A mouse drag of three files from a pane on the FTP server to a pane on the
// WebDAV server: each file is downloaded from the FTP server once (counted
// in the server's own transfer log) and arrives byte for byte; nothing is
// copied out to the local disk for a drop inside the application. A drop
// onto an FTP folder that already holds one of the names asks first, and
// only "Replace" changes that file on the server's disk.
#include "App/Panes/MouseDrag.h"
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNTaskManager.h"

#include <QDirIterator>
#include <QMimeData>
#include <QUuid>

namespace {

class RemoteDragTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNFTPHandler::registerHandler();
        QNWebDAVHandler::registerWithFactory();
    }

    // A drive of the peer on a fresh folder of its disk, made writable for the server's user.
    static QNDriveConfigPtr peerDrive(bool ftp, QString *onDisk) {
        const QJsonObject state = VNTest::peerState(ftp ? QStringLiteral("vsftpd") : QStringLiteral("webdav"));
        if (state.isEmpty())
            return nullptr;
        const QString name = QStringLiteral("drag-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        const QString prefix = ftp ? QStringLiteral("/work/") : QStringLiteral("/");
        *onDisk = state.value(ftp ? QStringLiteral("root") : QStringLiteral("root_dir")).toString() + prefix + name;
        QDir().mkpath(*onDisk);
        QFile::setPermissions(*onDisk, QFileDevice::Permissions(0x7777));
        QString url = state.value(ftp ? QStringLiteral("url") : QStringLiteral("http_url")).toString();
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        auto drive = QNDriveConfig::create();
        ftp ? drive->setIsFTP(true) : drive->setIsWebDAV(true);
        drive->setName(ftp ? QStringLiteral("VSFTPD") : QStringLiteral("WEBDAV"));
        drive->setUrl(url + prefix.mid(1) + name + QLatin1Char('/'));
        drive->setUsername(state.value(QStringLiteral("user")).toString());
        drive->setPassword(state.value(QStringLiteral("password")).toString());
        return drive;
    }

    // Downloads of files of the folder that the FTP server logged.
    static int downloadsLogged(const QString &folderName) {
        const QString log = VNTest::peerState(QStringLiteral("vsftpd")).value(QStringLiteral("workdir")).toString() +
                            QStringLiteral("/plain.log");
        int count = 0;
        for (const QByteArray &line : VNTest::readFile(log).split('\n'))
            if (line.contains("OK DOWNLOAD") && line.contains(folderName.toUtf8()))
                ++count;
        return count;
    }
};

}  // namespace

TEST_F(RemoteDragTest, AMouseDragFromAnFTPPaneToAWebDAVPaneDownloadsEachFileOnce) {
    QString ftpDisk, davDisk;
    const QNDriveConfigPtr ftp = peerDrive(true, &ftpDisk), dav = peerDrive(false, &davDisk);
    ASSERT_TRUE(ftp && dav) << "a peer is not running";
    QMap<QString, QByteArray> files;
    for (int n = 0; n < 3; ++n) {
        QByteArray bytes(100000 + n * 7919, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 131 + n) ^ (i >> 8));
        files.insert(QStringLiteral("file%1.bin").arg(n), bytes);
        ASSERT_TRUE(VNTest::writeFile(ftpDisk + QStringLiteral("/file%1.bin").arg(n), bytes));
    }
    QNMainWindowController *a = launch();
    ASSERT_NE(a, nullptr);
    storeDrives({ftp, dav});
    ASSERT_TRUE(openRow(a, 0));
    QNMainWindowController *b = delegate->newDocument();
    VNTest::spin(30);
    ASSERT_TRUE(openRow(b, 1));
    a->window()->move(0, 0);
    b->window()->move(800, 0);
    a->window()->show();
    b->window()->show();
    QNMacFilesViewController *from = a->filesViewController();
    ASSERT_EQ(from->documents().size(), 3);
    from->tableView()->selectAll();

    // Ctrl held at the drop: a copy, without the move question.
    ASSERT_TRUE(mouseDrag(from->tableView(), from->tableView()->model()->index(1, 0),
                          b->filesViewController()->tableView()->viewport(), QPoint(150, 150), Qt::ControlModifier));
    ASSERT_TRUE(VNTest::waitUntil(
        [&] { return names(b->filesViewController()->documents()) == QStringList(files.keys()); }, 30000));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        EXPECT_EQ(VNTest::readFile(davDisk + QLatin1Char('/') + it.key()), it.value()) << it.key().toStdString();
        EXPECT_EQ(VNTest::readFile(ftpDisk + QLatin1Char('/') + it.key()), it.value()) << it.key().toStdString();
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 15000));
    EXPECT_EQ(downloadsLogged(QFileInfo(ftpDisk).fileName()), 3);
    // Nothing was copied out into the pane's temporary folder.
    QDirIterator copies(from->tempPath(), QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(copies.hasNext()) << copies.next().toStdString();
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(RemoteDragTest, ADropOntoAnFTPFolderHoldingANameAsksAndOnlyReplaceReplacesIt) {
    QString ftpDisk;
    const QNDriveConfigPtr ftp = peerDrive(true, &ftpDisk);
    ASSERT_TRUE(ftp) << "the peer is not running";
    const QString local = folder(QStringLiteral("local"));
    const QByteArray oldBytes("on the server, written before\n"), newBytes("dropped from the local disk, longer\n");
    ASSERT_TRUE(VNTest::writeFile(local + QStringLiteral("/same.txt"), newBytes));
    ASSERT_TRUE(VNTest::writeFile(local + QStringLiteral("/other.txt"), "other\n"));
    QNMainWindowController *a = nullptr, *b = nullptr;
    ASSERT_TRUE(openSideBySide(localDrive(QStringLiteral("Local"), local), ftp, &a, &b));
    QNMacFilesViewController *from = a->filesViewController();
    QNMacFilesViewController *to = b->filesViewController();
    ASSERT_EQ(names(from->documents()), (QStringList{"other.txt", "same.txt"}));

    struct Row {
        const char *answer;
        int returnCode;
        bool move;
        QByteArray sameOnServer;  // what same.txt holds afterwards
        bool otherArrives;
    };
    const Row rows[] = {
        {"Cancel", QNAlert::SecondButtonReturn, false, oldBytes, false},
        {"Skip those", QNAlert::ThirdButtonReturn, false, oldBytes, true},
        {"Skip those, moving", QNAlert::ThirdButtonReturn, true, oldBytes, true},
        {"Replace", QNAlert::FirstButtonReturn, false, newBytes, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.answer);
        QFile::remove(ftpDisk + QStringLiteral("/other.txt"));
        ASSERT_TRUE(VNTest::writeFile(ftpDisk + QStringLiteral("/same.txt"), oldBytes));
        QFile::setPermissions(ftpDisk + QStringLiteral("/same.txt"), QFileDevice::Permissions(0x6666));
        ASSERT_TRUE(VNTest::writeFile(local + QStringLiteral("/other.txt"), "other\n"));
        from->listDocuments();
        ASSERT_TRUE(waitForListing(a));
        QNDialogService::shared().clearHistory();

        std::unique_ptr<QMimeData> drag(from->writeDrag({0, 1}));
        from->dragEnded();
        ASSERT_TRUE(to->dropWithMimeData(drag.get(), /*moveAsked=*/row.move));
        if (row.move) {
            ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 10000));
            ASSERT_EQ(onlyPendingAlert().alert.messageText, QStringLiteral("Move files?"));
            QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);
        }
        ASSERT_TRUE(VNTest::waitUntil(
            [] {
                const auto pending = QNDialogService::shared().pendingAlerts();
                return pending.size() == 1 && pending.first().alert.messageText.startsWith(QStringLiteral("Replace"));
            },
            10000));
        const QNAlert question = onlyPendingAlert().alert;
        EXPECT_EQ(question.messageText, QStringLiteral("Replace 1 item?"));
        EXPECT_EQ(question.informativeText,
                  QStringLiteral("\u201csame.txt\u201d already exists in \u201c%1\u201d. Replacing it cannot be undone.")
                      .arg(QFileInfo(ftpDisk).fileName()));
        EXPECT_EQ(question.buttons, (QStringList{"Replace", "Cancel", "Skip those"}));
        EXPECT_EQ(question.defaultButton, 1);
        // Nothing has started while the question waits.
        EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
        QNDialogService::shared().answer(onlyPendingAlert().id, row.returnCode);

        if (row.otherArrives)
            ASSERT_TRUE(VNTest::waitUntil(
                [&] { return QFileInfo::exists(ftpDisk + QStringLiteral("/other.txt")); }, 30000));
        else
            VNTest::spin(300);
        ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 30000));
        // Judged on the server's disk and on the local one.
        EXPECT_EQ(VNTest::readFile(ftpDisk + QStringLiteral("/same.txt")), row.sameOnServer);
        EXPECT_EQ(QFileInfo::exists(ftpDisk + QStringLiteral("/other.txt")), row.otherArrives);
        EXPECT_EQ(VNTest::readFile(local + QStringLiteral("/same.txt")), newBytes);
        EXPECT_EQ(QFileInfo::exists(local + QStringLiteral("/other.txt")), !row.move);
        EXPECT_EQ(QNDialogService::shared().history().size(), row.move ? 2 : 1);
    }
}
