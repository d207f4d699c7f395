// Saving an edited copy back to the drive it was opened from, on the real
// servers (vsftpd, sshd, Apache mod_dav): two save-backs of one opened copy
// in a row, of one whose opened copy carries another name, and save-backs
// cancelled at each moment after the drive document took its backup name. Judged on the servers' disks: the document
// ends under its own name, with the new bytes or its old ones, and the drive
// document the opened copy keeps (its record of where it came from) keeps
// its path.
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "HeldGoBetween.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNDispatch.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

namespace {

// The server has done a rename, and its answer is on its way: the next
// rename's answer is held here until released.
class HeldRenameAnswer {
public:
    static HeldRenameAnswer &shared() {
        static HeldRenameAnswer held;
        return held;
    }
    void holdNext() {
        std::lock_guard lock(m_mutex);
        m_armed = true;
        m_arrived = false;
    }
    bool arrived() {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }
    // The handler's answer goes on, on the calling thread.
    void release() {
        std::function<void()> answer;
        {
            std::lock_guard lock(m_mutex);
            answer = std::move(m_held);
            m_held = nullptr;
            m_armed = false;
        }
        if (answer)
            answer();
    }
    QNDocumentCallback wrap(QNDocumentCallback completed) {
        std::lock_guard lock(m_mutex);
        if (!m_armed)
            return completed;
        m_armed = false;
        return [this, completed](QNDocumentPtr document, VNErrorPtr error, bool cancelled) {
            std::lock_guard lock(m_mutex);
            m_held = [completed, document, error, cancelled] { completed(document, error, cancelled); };
            m_arrived = true;
        };
    }

private:
    std::mutex m_mutex;
    bool m_armed = false;
    bool m_arrived = false;
    std::function<void()> m_held;
};

// A drive's own handler whose rename answers pass through HeldRenameAnswer.
template <class Handler>
class HoldingRename : public Handler {
public:
    using Handler::Handler;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override {
        Handler::rename(std::move(document), std::move(name), HeldRenameAnswer::shared().wrap(std::move(completed)));
    }
};

enum class Server { FTP, SFTP, WebDAV };
// When the save-back ends: not at all (two in a row, both to their end), or
// cancelled while the rename's answer is held (the server renamed), as the
// rename's answer has come, or while the edited copy is being uploaded. The
// last row is the first with a document ("a\b.txt") whose opened copy
// carries another name ("a_b.txt", as a copy made "safe" was named): the
// upload goes under the document's own name all the same.
enum class Moment { TwiceInARow, RenameAnswerHeld, RightAfterTheRename, DuringTheUpload, OpenedUnderAnotherName };

struct Row {
    Server server;
    Moment moment;
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    const char *servers[] = {"FTP", "SFTP", "WebDAV"};
    const char *moments[] = {"TwiceInARow", "RenameAnswerHeld", "RightAfterTheRename", "DuringTheUpload",
                             "OpenedUnderAnotherName"};
    return std::string(servers[int(info.param.server)]) + moments[int(info.param.moment)];
}

const QByteArray kOldBytes("the version on the server\n");

class SaveBackPeer : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        WebDAVPeer::setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::FTP, [](const QNDriveConfigPtr &c) {
            return std::make_shared<HoldingRename<QNFTPHandler>>(c);
        });
        QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::WebDAV, [](const QNDriveConfigPtr &c) {
            return std::make_shared<HoldingRename<QNWebDAVHandler>>(c);
        });
        temp = VNTest::makeTempDir();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
        manager = std::make_shared<QNTaskManager>();
        const bool otherName = GetParam().moment == Moment::OpenedUnderAnotherName;
        name = otherName ? QStringLiteral("a\\b.txt") : QStringLiteral("edit.txt");
        localName = otherName ? QStringLiteral("a_b.txt") : name;
        if (GetParam().server == Server::WebDAV) {
            ASSERT_FALSE(WebDAVPeer::state().isEmpty()) << "the webdav peer did not start";
            const QString folderName =
                QStringLiteral("saveback-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
            drive = WebDAVPeer::drive(WebDAVPeer::url(QStringLiteral("http")));
            onDisk = WebDAVPeer::freshFolder(QStringLiteral("root_dir"), folderName);
            folder = QLatin1Char('/') + folderName;
            ASSERT_TRUE(VNTest::writeFile(onDisk + QLatin1Char('/') + name, kOldBytes));
        } else {
            const auto kind = GetParam().server == Server::FTP ? FTPPeer::Kind::FTP : FTPPeer::Kind::SFTP;
            ASSERT_FALSE(FTPPeer::root(kind).isEmpty()) << "the test peer did not start";
            drive = FTPPeer::drive(kind);
            folder = FTPPeer::makeScratchFolder(kind);
            folder.chop(1);  // "/work/t-x"
            onDisk = FTPPeer::root(kind) + folder;
            FTPPeer::writeServerFile(kind, folder + QLatin1Char('/') + name, kOldBytes);
        }
        original = QNDocument::withPath(folder + QLatin1Char('/') + name);
        original->setSize(kOldBytes.size());
        parent = QNDocument::withPath(folder, true);
    }

    void TearDown() override { NRHTTPRequest::setMaxBandwidthPerSecond(0); }

    // The opened copy, edited: a new save-back item for it.
    std::shared_ptr<QNUpdateFileTaskItem> saveBackOf(const QByteArray &edited) {
        const QString path = temp->path() + QStringLiteral("/opened/") + localName;
        EXPECT_TRUE(VNTest::writeFile(path, edited));
        auto local = QNDocument::withPath(path);
        local->setSize(edited.size());
        return std::make_shared<QNUpdateFileTaskItem>(drive, local, original, parent);
    }

    QStringList filesOnDisk() const {
        return QDir(onDisk).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    std::unique_ptr<QTemporaryDir> temp;
    std::shared_ptr<QNTaskManager> manager;
    QNDriveConfigPtr drive;
    QString folder;  // on the drive
    QString onDisk;  // the same folder on the server's disk
    QNDocumentPtr original;
    QNDocumentPtr parent;
    QString name;       // the document's
    QString localName;  // its opened copy's
};

TEST_P(SaveBackPeer, TheDocumentEndsUnderItsOwnNameAndTheRecordKeepsItsPath) {
    const Moment moment = GetParam().moment;
    if (moment == Moment::TwiceInARow || moment == Moment::OpenedUnderAnotherName) {
        for (const QByteArray &edited : {QByteArray("the first change\n"), QByteArray("the second change\n")}) {
            SCOPED_TRACE(edited.toStdString());
            const VNTest::ItemRun run =
                VNTest::runItem(std::make_shared<QNUpdateFileTask>(), saveBackOf(edited), 120000, manager);
            EXPECT_TRUE(run.completed);
            EXPECT_EQ(run.reports, 1);
            EXPECT_FALSE(run.error) << (run.error ? run.error->localizedDescription().toStdString() : std::string());
            EXPECT_FALSE(run.cancelled);
            EXPECT_EQ(filesOnDisk().join(QLatin1Char(',')).toStdString(), name.toStdString());
            EXPECT_EQ(VNTest::readFile(onDisk + QLatin1Char('/') + name), edited);
            EXPECT_EQ(original->path().toStdString(), (folder + QLatin1Char('/') + name).toStdString());
        }
        return;
    }

    // Large enough that an upload is under way when its first progress comes.
    const QByteArray edited = FTPPeer::randomBytes(8 << 20, 7);
    auto task = std::make_shared<QNUpdateFileTask>();
    auto item = saveBackOf(edited);
    const std::weak_ptr<QNTask> weakTask = task;
    // The first report is the rename's answer; the next ones are the upload's.
    const int cancelAtReport = moment == Moment::RightAfterTheRename ? 1 : moment == Moment::DuringTheUpload ? 2 : 0;
    auto reportsSeen = std::make_shared<std::atomic<int>>(0);
    item->registerListenerForTaskItemUpdateBlock(QStringLiteral("cancel"), [weakTask, cancelAtReport, reportsSeen] {
        auto task = weakTask.lock();
        if (!task || ++*reportsSeen != cancelAtReport)
            return;
        task->cancel();
        if (VNDispatch::isMainThread())
            return;
        // An FTP transfer reports from its worker: it goes on only once the
        // cancel has reached its handler (on the main queue, before this).
        auto reached = std::make_shared<std::promise<void>>();
        auto future = reached->get_future();
        VNDispatch::mainAsync([reached] { reached->set_value(); });
        future.wait_for(std::chrono::seconds(10));
    });
    if (moment == Moment::DuringTheUpload && GetParam().server == Server::WebDAV)
        NRHTTPRequest::setMaxBandwidthPerSecond(1 << 20);  // the body is still on its way at the cancel
    if (moment == Moment::RenameAnswerHeld)
        HeldRenameAnswer::shared().holdNext();

    auto report = std::make_shared<VNTest::ItemRun>();
    auto reportMutex = std::make_shared<std::mutex>();
    item->registerListenerForTaskItemCompletedBlock(
        QStringLiteral("test"), [report, reportMutex](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
            std::lock_guard lock(*reportMutex);
            ++report->reports;
            report->error = error;
            report->cancelled = cancelled;
        });
    task->addTaskItem(item);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    task->registerListenerForTaskCompletedBlock(QStringLiteral("test"), [ended] { ended->store(true); });
    manager->addTask(task);
    if (moment == Moment::RenameAnswerHeld) {
        EXPECT_TRUE(VNTest::waitUntil([] { return HeldRenameAnswer::shared().arrived(); }, 60000));
        EXPECT_FALSE(filesOnDisk().contains(QStringLiteral("edit.txt"))) << "the server renamed it";
        task->cancel();
        HeldRenameAnswer::shared().release();
    }
    EXPECT_TRUE(VNTest::waitUntil([ended] { return ended->load(); }, 120000));
    NRHTTPRequest::setMaxBandwidthPerSecond(0);
    HeldRenameAnswer::shared().release();  // a row that failed before it came to it

    std::lock_guard lock(*reportMutex);
    EXPECT_EQ(report->reports, 1);
    EXPECT_FALSE(report->error) << (report->error ? report->error->localizedDescription().toStdString() : std::string());
    EXPECT_TRUE(report->cancelled);
    EXPECT_EQ(filesOnDisk().join(QLatin1Char(',')).toStdString(), "edit.txt");
    EXPECT_TRUE(VNTest::readFile(onDisk + QStringLiteral("/edit.txt")) == kOldBytes) << "the old bytes are back";
    EXPECT_EQ(original->path().toStdString(), (folder + QStringLiteral("/edit.txt")).toStdString());
    EXPECT_EQ(parent->path().toStdString(), folder.toStdString());
}

// The server slow to take the rename: the rename (FTP's RNTO line, WebDAV's
// MOVE) is held on its way, and the save-back is cancelled meanwhile. The
// handler waits for the server's answer, and the save-back acts only then:
// the drive renamed, so the backup gets its name back. Had it ended before,
// the server would rename afterwards, the document staying only under its
// backup name. One row per server family, each differing from the first in
// the server alone; and one where the server refuses the held rename (the
// backup name is taken), which differs from Apache's in that alone: the
// late refusal is no rename, so nothing is given a name back and the
// save-back ends as a plain cancel, the file under the backup name untouched.
struct HeldServer {
    const char *name;
    const char *family;  // "vsftpd", or the WebDAV peer's server family
    bool backupNameTaken = false;
};

const QString kBackupName = QStringLiteral("edit-QN-2030-01-01_12-00-00.txt");
const QByteArray kOtherBytes("a file that was there before\n");

class SaveBackHeldServer : public ::testing::TestWithParam<HeldServer> {};

TEST_P(SaveBackHeldServer, ARenameHeldOnItsWayIsAnsweredBeforeTheSaveBackActs) {
    const bool ftp = std::string(GetParam().family) == "vsftpd";
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNFTPHandler::registerHandler();
    WebDAVPeer::setUpOnce();
    auto temp = VNTest::makeTempDir();
    QNDriveConfigPtr drive;
    QString folder;  // on the drive
    QString onDisk;  // the same folder on the server's disk
    if (ftp) {
        ASSERT_FALSE(FTPPeer::root(FTPPeer::Kind::FTP).isEmpty()) << "the test peer did not start";
        drive = FTPPeer::drive(FTPPeer::Kind::FTP);
        folder = FTPPeer::makeScratchFolder(FTPPeer::Kind::FTP);
        folder.chop(1);
        onDisk = FTPPeer::root(FTPPeer::Kind::FTP) + folder;
        FTPPeer::writeServerFile(FTPPeer::Kind::FTP, folder + QStringLiteral("/edit.txt"), kOldBytes);
    } else {
        const bool apache = std::string(GetParam().family) == "apache";
        const QJsonObject server = WebDAVPeer::server(GetParam().family);
        const QString url = apache ? WebDAVPeer::url(QStringLiteral("http")) : server.value("url").toString();
        const QString root = apache ? WebDAVPeer::text(QStringLiteral("root_dir")) : server.value("dir").toString();
        ASSERT_FALSE(url.isEmpty() || root.isEmpty()) << "the " << GetParam().family << " server did not start";
        drive = WebDAVPeer::drive(url);
        const QString name = QStringLiteral("held-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        folder = QLatin1Char('/') + name;
        onDisk = root + folder;
        QDir(onDisk).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(onDisk));
        ASSERT_TRUE(VNTest::writeFile(onDisk + QStringLiteral("/edit.txt"), kOldBytes));
    }
    QUrl url(drive->url());
    HeldGoBetween control(url.port(), ftp ? "RNTO" : "MOVE ");
    ASSERT_NE(control.port(), 0);
    url.setPort(control.port());
    drive->setUrl(url.toString());
    auto original = QNDocument::withPath(folder + QStringLiteral("/edit.txt"));
    auto parent = QNDocument::withPath(folder, true);
    if (!ftp) {
        // Signed in once, so that the held MOVE carries the credentials and
        // is one the server carries out.
        auto listed = std::make_shared<WebDAVPeer::Answer>();
        drive->createCloudInterface()->listDocuments(parent, QString(), WebDAVPeer::listAnswer(listed));
        ASSERT_TRUE(WebDAVPeer::waitForAnswer(listed, 30000));
        ASSERT_FALSE(listed->error) << listed->errorText().toStdString();
    }
    const QString localPath = temp->path() + QStringLiteral("/edit.txt");
    ASSERT_TRUE(VNTest::writeFile(localPath, "the change\n"));

    if (GetParam().backupNameTaken)
        ASSERT_TRUE(VNTest::writeFile(onDisk + QLatin1Char('/') + kBackupName, kOtherBytes));

    auto task = std::make_shared<QNUpdateFileTask>();
    auto item = std::make_shared<QNUpdateFileTaskItem>(drive, QNDocument::withPath(localPath), original, parent);
    item->setClock([] { return QDateTime(QDate(2030, 1, 1), QTime(12, 0)); });
    auto report = std::make_shared<VNTest::ItemRun>();
    auto reportMutex = std::make_shared<std::mutex>();
    item->registerListenerForTaskItemCompletedBlock(
        QStringLiteral("test"), [report, reportMutex](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
            std::lock_guard lock(*reportMutex);
            ++report->reports;
            report->error = error;
            report->cancelled = cancelled;
        });
    task->addTaskItem(item);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    task->registerListenerForTaskCompletedBlock(QStringLiteral("test"), [ended] { ended->store(true); });
    control.holdNext();
    auto manager = std::make_shared<QNTaskManager>();
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([&] { return control.holding(); }, 60000));
    task->cancel();
    // A transfer that heeds the cancel gives the connection up within a
    // second; one that waits for the answer keeps it.
    const bool gaveUp = VNTest::waitUntil([&] { return control.clientGaveUp() || ended->load(); }, 3000);
    EXPECT_FALSE(gaveUp) << "the rename was given up before the server had answered it";
    if (gaveUp)
        EXPECT_TRUE(VNTest::waitUntil([&] { return ended->load(); }, 60000));
    control.release();
    EXPECT_TRUE(VNTest::waitUntil([&] { return ended->load(); }, 60000));
    // Answered, the released rename is done on the server's disk, or refused.
    EXPECT_TRUE(VNTest::waitUntil([&] { return control.serverDone(); }, 10000)) << "the server took the rename";

    std::lock_guard lock(*reportMutex);
    EXPECT_EQ(report->reports, 1);
    EXPECT_FALSE(report->error) << (report->error ? report->error->localizedDescription().toStdString() : std::string());
    EXPECT_TRUE(report->cancelled);
    EXPECT_EQ(QDir(onDisk).entryList(QDir::Files | QDir::Hidden, QDir::Name).join(QLatin1Char(',')).toStdString(),
              GetParam().backupNameTaken ? (kBackupName + QStringLiteral(",edit.txt")).toStdString() : "edit.txt");
    EXPECT_TRUE(VNTest::readFile(onDisk + QStringLiteral("/edit.txt")) == kOldBytes) << "the old bytes are back";
    if (GetParam().backupNameTaken)
        EXPECT_TRUE(VNTest::readFile(onDisk + QLatin1Char('/') + kBackupName) == kOtherBytes);
    EXPECT_EQ(original->path().toStdString(), (folder + QStringLiteral("/edit.txt")).toStdString());
}

INSTANTIATE_TEST_SUITE_P(EachServer, SaveBackHeldServer,
                         ::testing::Values(HeldServer{"FTPOnVsftpd", "vsftpd"}, HeldServer{"WebDAVOnApache", "apache"},
                                           HeldServer{"WebDAVOnNginx", "nginx"},
                                           HeldServer{"WebDAVOnLighttpd", "lighttpd"},
                                           HeldServer{"WebDAVOnApacheRefused", "apache", true}),
                         [](const auto &info) { return std::string(info.param.name); });

std::vector<Row> allRows() {
    std::vector<Row> rows;
    for (Server server : {Server::FTP, Server::SFTP, Server::WebDAV})
        for (Moment moment : {Moment::TwiceInARow, Moment::RenameAnswerHeld, Moment::RightAfterTheRename,
                              Moment::DuringTheUpload, Moment::OpenedUnderAnotherName})
            rows.push_back({server, moment});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(EachServerAndMoment, SaveBackPeer, ::testing::ValuesIn(allRows()), rowName);

}  // namespace
