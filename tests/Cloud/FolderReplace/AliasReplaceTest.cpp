// A copy or move onto the item's own alias: the server links /srv to
// /home, and /home/u/proj (or /home/u/note.txt) is dropped onto /srv/u,
// where "proj" is listed already (lighttpd lists no linked folder itself,
// only what lies below it). Or one storage is reached through two drives:
// the server serves a folder of this machine, so the local disk's
// /home/u/proj is dropped onto the server's /home/u (as a share mounted in
// the home folder would be), the server's onto the local disk's, or one
// drive's onto another's of the same server named by another spelling
// (localhost for 127.0.0.1). Replacing it would write every file onto
// itself, and a move would then remove the only copy. Or the local disk's
// /home/u/proj is dropped onto the server's /home/u/proj/sub, one of its own
// folders (or onto /home/u/proj, itself): no namesake there, but copying
// into it would copy the copy again and again. Or a folder of this machine
// is mounted again through FUSE (another device), and the item is dropped
// through the mount onto its own folder. The item fails naming it; on the
// server's disk nothing is written, removed or left behind.
#include "ServerScratch.h"
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "support/FuseMirror.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

namespace {

using ServerScratch::Server;

// The two drives the item is dropped between.
enum class Pair {
    OneDrive,       // the server's, through its link
    LocalToServer,  // the local disk's folder onto the server's, the same folder
    ServerToLocal,
    OtherSpelling,  // the server's onto a drive naming the server "localhost"
    IntoItsOwnFolder,  // the local disk's folder into the server's sub-folder of it
    IntoItself,        // the local disk's folder into the server's same folder
    ThroughFuse,       // the local disk's onto its own folder mounted again through FUSE
};

struct Row {
    Server server;
    bool move;
    Pair pair = Pair::OneDrive;
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    const char *pair[] = {"", "LocalToServer", "ServerToLocal", "OtherSpelling", "IntoItsOwnFolder", "IntoItself",
                          "ThroughFuse"};
    return ServerScratch::nameOfRow({info.param.server, info.param.move}) + pair[int(info.param.pair)];
}

// The drive's address with its host named localhost.
QNDriveConfigPtr spelledOtherwise(const QNDriveConfigPtr &drive) {
    auto other = QNDriveConfig::create();
    other->setIsFTP(drive->isFTP());
    other->setIsSFTP(drive->isSFTP());
    other->setIsWebDAV(drive->isWebDAV());
    other->setUrl(QString(drive->url()).replace(QLatin1String("127.0.0.1"), QLatin1String("localhost")));
    other->setUsername(drive->username());
    other->setPassword(drive->password());
    other->setStringEncoding(drive->stringEncoding());
    return other;
}

// Every entry below root with, for a file, its content and modification
// time: a file written onto itself keeps its content but not its time.
QStringList snapshot(const QString &root) {
    QStringList out;
    for (const QString &entry : VNTest::listTree(root)) {
        const QString path = root + QLatin1Char('/') + entry;
        const QFileInfo info(path);
        if (info.isSymLink())
            out << entry + QStringLiteral(" -> ") + info.symLinkTarget();
        else if (info.isFile())
            out << entry + QLatin1Char(' ') + QString::fromUtf8(VNTest::readFile(path)) + QLatin1Char(' ') +
                       QString::number(info.lastModified().toSecsSinceEpoch());
        else
            out << entry;
    }
    return out;
}

class AliasReplace : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        temp = VNTest::makeTempDir();
        ServerScratch::setUpHandlers(*temp);
        const ServerScratch::Scratch scratch = ServerScratch::make(GetParam().server, *temp);
        ASSERT_TRUE(scratch.failure.empty()) << scratch.failure;
        drive = scratch.drive;
        drivePath = scratch.drivePath;
        onDisk = scratch.onDisk;
        owner = scratch.owner;
        // /home/u holds the folder and a file; /srv is a link to /home.
        ASSERT_TRUE(VNTest::writeFile(onDisk + "/home/u/proj/a.txt", "a"));
        ASSERT_TRUE(VNTest::writeFile(onDisk + "/home/u/proj/sub/b.txt", "b"));
        ASSERT_TRUE(VNTest::writeFile(onDisk + "/home/u/note.txt", "note"));
        ASSERT_EQ(::symlink("home", QFile::encodeName(onDisk + "/srv").constData()), 0);
        // Times in the past: a file written again gets another.
        const utimbuf past{946684800, 946684800};
        for (const char *file : {"/home/u/proj/a.txt", "/home/u/proj/sub/b.txt", "/home/u/note.txt"})
            ASSERT_EQ(::utime(QFile::encodeName(onDisk + file).constData(), &past), 0);
        ServerScratch::giveTo(onDisk, owner);
        before = snapshot(onDisk);
        if (GetParam().pair == Pair::ThroughFuse) {
            mirror = std::make_unique<VNTest::FuseMirror>(onDisk, temp->path() + QStringLiteral("/mnt"));
            if (!mirror->isMounted())
                GTEST_SKIP() << mirror->whyNot().toStdString();
        }
    }

    void TearDown() override {
        if (mirror)
            mirror->unmount();
        if (!onDisk.isEmpty() && GetParam().server != Server::Local)
            QDir(onDisk).removeRecursively();
    }

    // Where the item is dropped: /srv/u on the same drive, else /home/u
    // (the very folder holding it) on the other drive, or a folder of it.
    QString destination() const {
        const Row row = GetParam();
        if (row.pair == Pair::OneDrive)
            return drivePath + QStringLiteral("/srv/u");
        if (row.pair == Pair::IntoItsOwnFolder)
            return drivePath + QStringLiteral("/home/u/proj/sub");
        if (row.pair == Pair::IntoItself)
            return drivePath + QStringLiteral("/home/u/proj");
        if (row.pair == Pair::ThroughFuse)
            return mirror->mountPoint() + QStringLiteral("/home/u");
        return (row.pair == Pair::ServerToLocal ? onDisk : drivePath) + QStringLiteral("/home/u");
    }

    bool intoTheFolder() const {
        return GetParam().pair == Pair::IntoItsOwnFolder || GetParam().pair == Pair::IntoItself;
    }
    // "The folder “proj” was not copied" (moved, in a move).
    QString notDone(const char *item) const {
        return QStringLiteral("%1 %2").arg(QString::fromUtf8(item),
                                           GetParam().move ? QStringLiteral("was not moved") : QStringLiteral("was not copied"));
    }

    // Runs the drop of the item at path (under the scratch folder) onto destination().
    VNErrorPtr dropOntoAlias(const QString &path, bool isFolder) {
        const Row row = GetParam();
        const bool move = row.move;
        const auto local = QNMyDocumentsHandler::makeLocalDriveConfig();
        const bool fromLocal = row.pair == Pair::LocalToServer || intoTheFolder();
        const auto from = fromLocal ? local : drive;
        const auto to = row.pair == Pair::ServerToLocal   ? local
                        : row.pair == Pair::OtherSpelling ? spelledOtherwise(drive)
                                                          : drive;
        auto document = QNDocument::withPath((fromLocal ? onDisk : drivePath) + path, isFolder);
        auto folder = QNDocument::withPath(destination(), true);
        QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, to, document, folder))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, to, document, folder));
        const auto run = VNTest::runItem(task, item);
        EXPECT_TRUE(run.completed);
        EXPECT_EQ(run.reports, 1);
        EXPECT_FALSE(run.cancelled);
        return run.error;
    }

    std::unique_ptr<QTemporaryDir> temp;
    QNDriveConfigPtr drive;
    QString drivePath;  // the scratch folder as the drive names it
    QString onDisk;     // the same folder on the server's disk
    QString owner;      // a path owned by the server's account, when files must be
    QStringList before;
    std::unique_ptr<VNTest::FuseMirror> mirror;  // onDisk mounted again
};

TEST_P(AliasReplace, AFolderOntoItsOwnAliasFailsNamingItAndNothingIsWrittenOrRemoved) {
    const VNErrorPtr error = dropOntoAlias(QStringLiteral("/home/u/proj"), true);
    EXPECT_EQ(snapshot(onDisk).join('\n').toStdString(), before.join('\n').toStdString());
    ASSERT_TRUE(error) << "reported as done";
    const QString text = error->localizedDescription();
    const QString there = GetParam().pair == Pair::IntoItsOwnFolder ? destination() + QStringLiteral("\u201d is a folder of it")
                          : GetParam().pair == Pair::IntoItself     ? destination() + QStringLiteral("\u201d is that folder itself")
                                                                    : destination() + QStringLiteral("/proj\u201d is that folder itself");
    EXPECT_TRUE(text.contains(notDone("The folder \u201cproj\u201d")) && text.contains(there)) << text.toStdString();
    // The whole task stops before anything goes: a move says so first.
    EXPECT_EQ(text.startsWith(QStringLiteral("Nothing was moved. ")), GetParam().move) << text.toStdString();
}

// The same rows but those dropped into a folder of the item itself: a file
// holds no folder to copy into.
class AliasReplaceFile : public AliasReplace {};

TEST_P(AliasReplaceFile, AFileOntoItsOwnAliasFailsNamingItAndNothingIsWrittenOrRemoved) {
    const VNErrorPtr error = dropOntoAlias(QStringLiteral("/home/u/note.txt"), false);
    EXPECT_EQ(snapshot(onDisk).join('\n').toStdString(), before.join('\n').toStdString());
    ASSERT_TRUE(error) << "reported as done";
    const QString text = error->localizedDescription();
    EXPECT_TRUE(text.contains(notDone("The file \u201cnote.txt\u201d")) &&
                text.contains(destination() + QStringLiteral("/note.txt\u201d is that file itself")))
        << text.toStdString();
}

// The rows of a file: onto its own alias through one drive or two.
std::vector<Row> fileRows() {
    std::vector<Row> out;
    for (Server server : {Server::Local, Server::FTP, Server::SFTP, Server::Apache, Server::Nginx, Server::Lighttpd})
        for (bool move : {false, true})
            out.push_back({server, move, Pair::OneDrive});
    // One storage through two drives: each kind of server with the local
    // disk, both ways; and one server named two ways.
    for (Server server : {Server::FTP, Server::SFTP, Server::Apache, Server::Nginx, Server::Lighttpd})
        for (bool move : {false, true})
            for (Pair pair : {Pair::LocalToServer, Pair::ServerToLocal, Pair::OtherSpelling})
                out.push_back({server, move, pair});
    // One folder of this machine by two paths, through a FUSE mount.
    for (bool move : {false, true})
        out.push_back({Server::Local, move, Pair::ThroughFuse});
    return out;
}

// A folder's: those, and dropped into a folder of itself, or into itself,
// through another drive.
std::vector<Row> folderRows() {
    std::vector<Row> out = fileRows();
    for (Server server : {Server::FTP, Server::SFTP, Server::Apache})
        for (bool move : {false, true})
            out.push_back({server, move, Pair::IntoItsOwnFolder});
    for (bool move : {false, true})
        out.push_back({Server::SFTP, move, Pair::IntoItself});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Servers, AliasReplace, ::testing::ValuesIn(folderRows()), rowName);
INSTANTIATE_TEST_SUITE_P(Servers, AliasReplaceFile, ::testing::ValuesIn(fileRows()), rowName);

}  // namespace
