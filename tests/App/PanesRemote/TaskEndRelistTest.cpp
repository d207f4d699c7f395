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

    // Drops every entry of the source pane on the FTP pane (whose folder
    // holds "keep.txt"), lets the task end, and checks that at its end the
    // server held no unfinished upload and that the FTP pane, relisted,
    // shows the server's disk.
    void copyAndCheck(const QNDriveConfigPtr &source, const QNDriveConfigPtr &ftp, const QString &ftpDisk,
                      const std::function<void()> &beforeDrop = {}) {
        writeFile(ftpDisk + QStringLiteral("/keep.txt"), 4);
        QNMainWindowController *a = launch();
        ASSERT_NE(a, nullptr);
        storeDrives({source, ftp});
        ASSERT_TRUE(openRow(a, 0));
        QNMainWindowController *b = delegate->newDocument();
        VNTest::spin(30);
        ASSERT_TRUE(openRow(b, 1));
        QNMacFilesViewController *from = a->filesViewController();
        QNMacFilesViewController *to = b->filesViewController();
        ASSERT_EQ(names(to->documents()), QStringList{"keep.txt"});
        const QNDocument *listedBefore = to->documents().first().get();

        const auto manager = delegate->taskManager();
        std::atomic<int> completed{0};
        std::atomic<bool> partAtEnd{false};
        // The server's disk as the task-completed listeners find it.
        manager->registerListenerForTaskCompletedBlock(QStringLiteral("test"), [&](QNTaskPtr) {
            partAtEnd = holdsPart(onDisk(ftpDisk));
            ++completed;
        });
        QList<int> rows;
        for (int i = 0; i < from->documents().size(); ++i)
            rows << i;
        std::unique_ptr<QMimeData> drag(from->writeDrag(rows));
        ASSERT_NE(drag, nullptr);
        if (beforeDrop)
            beforeDrop();
        ASSERT_TRUE(to->dropWithMimeData(drag.get(), /*moveAsked=*/false));
        from->dragEnded();
        ASSERT_TRUE(VNTest::waitUntil([&] { return completed.load() == 1; }, 60000));
        EXPECT_FALSE(partAtEnd.load()) << "the task ended before the unfinished upload was removed";
        // The relisting after the task's end.
        ASSERT_TRUE(VNTest::waitUntil([&] {
            return !to->isListing() && !to->documents().isEmpty() && to->documents().first().get() != listedBefore &&
                   to->documents().last().get() != listedBefore;
        }, 30000));
        QStringList listed = names(to->documents());
        listed.sort();
        EXPECT_EQ(listed, onDisk(ftpDisk));
        EXPECT_FALSE(holdsPart(onDisk(ftpDisk)));
        manager->unregisterListenerForTaskCompletedBlock(QStringLiteral("test"));
    }
};

}  // namespace

TEST_F(TaskEndRelistTest, ACopyCancelledDuringItsUploadEndsAfterTheServerRemovedThePartAndThePaneShowsTheDisk) {
    QString ftpDisk;
    const QNDriveConfigPtr ftp = ftpDrive(&ftpDisk);
    ASSERT_NE(ftp, nullptr) << "the peer is not running";
    const QString local = folder(QStringLiteral("local"));
    writeFile(local + QStringLiteral("/big.bin"), 96 << 20);
    // Cancelled as soon as the upload has sent bytes: its ".part" file is on the server then.
    std::atomic<bool> cancelled{false};
    auto cancelAtFirstBytes = [&] {
        delegate->taskManager()->registerListenerForTaskItemUpdateBlock(
            QStringLiteral("test"), [&](QNTaskItemPtr item) {
                if (item->progress() > 0 && !cancelled.exchange(true))
                    for (const auto &task : delegate->taskManager()->tasks())
                        task->cancel();
            });
    };
    copyAndCheck(localDrive(QStringLiteral("Local"), local), ftp, ftpDisk, cancelAtFirstBytes);
    EXPECT_TRUE(cancelled.load());
    EXPECT_FALSE(onDisk(ftpDisk).contains(QStringLiteral("big.bin")));
    delegate->taskManager()->unregisterListenerForTaskItemUpdateBlock(QStringLiteral("test"));
}
