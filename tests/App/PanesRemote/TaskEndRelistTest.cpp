// A copy into a pane on the FTP server that is cancelled while its upload
// runs: when the task ends the server has already removed the unfinished
// upload, and the pane relisted then shows what the server's disk holds, no
// ".part" entry.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/QNFTPHandler.h"
#include "Core/QNTaskManager.h"

#include <QMimeData>
#include <QUuid>
#include <atomic>

namespace {

class TaskEndRelistTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNFTPHandler::registerHandler();
    }

    // A drive on a fresh folder of the FTP server's disk, made writable for the server's user.
    static QNDriveConfigPtr ftpDrive(QString *onDisk) {
        const QJsonObject state = VNTest::peerState(QStringLiteral("vsftpd"));
        if (state.isEmpty())
            return nullptr;
        const QString name = QStringLiteral("relist-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        *onDisk = state.value(QStringLiteral("root")).toString() + QStringLiteral("/work/") + name;
        QDir().mkpath(*onDisk);
        QFile::setPermissions(*onDisk, QFileDevice::Permissions(0x7777));
        QString url = state.value(QStringLiteral("url")).toString();
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        auto drive = QNDriveConfig::create();
        drive->setIsFTP(true);
        drive->setName(QStringLiteral("VSFTPD"));
        drive->setUrl(url + QStringLiteral("work/") + name + QLatin1Char('/'));
        drive->setUsername(state.value(QStringLiteral("user")).toString());
        drive->setPassword(state.value(QStringLiteral("password")).toString());
        return drive;
    }

    static QStringList onDisk(const QString &folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    static bool holdsPart(const QStringList &entries) {
        for (const QString &e : entries)
            if (e.contains(QStringLiteral(".part")))
                return true;
        return false;
    }
};

}  // namespace

TEST_F(TaskEndRelistTest, ACopyCancelledDuringItsUploadEndsAfterTheServerRemovedThePartAndThePaneShowsTheDisk) {
    QString ftpDisk;
    const QNDriveConfigPtr ftp = ftpDrive(&ftpDisk);
    ASSERT_NE(ftp, nullptr) << "the peer is not running";
    writeFile(ftpDisk + QStringLiteral("/keep.txt"), 4);
    const QString local = folder(QStringLiteral("local"));
    writeFile(local + QStringLiteral("/big.bin"), 96 << 20);
    QNMainWindowController *a = nullptr, *b = nullptr;
    ASSERT_TRUE(openSideBySide(localDrive(QStringLiteral("Local"), local), ftp, &a, &b));
    QNMacFilesViewController *from = a->filesViewController();
    QNMacFilesViewController *to = b->filesViewController();
    ASSERT_EQ(names(to->documents()), QStringList{"keep.txt"});
    const QNDocument *listedBefore = to->documents().first().get();

    const auto manager = delegate->taskManager();
    // Cancelled as soon as the upload has sent bytes: its ".part" file is on the server then.
    std::atomic<bool> cancelled{false};
    manager->registerListenerForTaskItemUpdateBlock(QStringLiteral("test"), [&](QNTaskItemPtr item) {
        if (item->progress() > 0 && !cancelled.exchange(true))
            for (const auto &task : manager->tasks())
                task->cancel();
    });
    // The server's disk as the task-completed listeners find it.
    std::atomic<int> completed{0};
    std::atomic<bool> partAtEnd{false};
    manager->registerListenerForTaskCompletedBlock(QStringLiteral("test"), [&](QNTaskPtr) {
        partAtEnd = holdsPart(onDisk(ftpDisk));
        ++completed;
    });
    std::unique_ptr<QMimeData> drag(from->writeDrag({0}));
    ASSERT_NE(drag, nullptr);
    ASSERT_TRUE(to->dropWithMimeData(drag.get(), /*moveAsked=*/false));
    from->dragEnded();
    ASSERT_TRUE(VNTest::waitUntil([&] { return completed.load() == 1; }, 60000));
    EXPECT_TRUE(cancelled.load());
    EXPECT_FALSE(partAtEnd.load()) << "the task ended before the unfinished upload was removed";
    EXPECT_EQ(onDisk(ftpDisk), QStringList{"keep.txt"});
    // The relisting after the task's end shows the server's disk.
    ASSERT_TRUE(VNTest::waitUntil(
        [&] { return !to->isListing() && !to->documents().isEmpty() && to->documents().first().get() != listedBefore; },
        30000));
    EXPECT_EQ(names(to->documents()), QStringList{"keep.txt"});
    manager->unregisterListenerForTaskItemUpdateBlock(QStringLiteral("test"));
    manager->unregisterListenerForTaskCompletedBlock(QStringLiteral("test"));
}
