// A copy or move onto the item's own alias: the server links /srv to
// /home, and /home/u/proj (or /home/u/note.txt) is dropped onto /srv/u,
// where "proj" is listed already (lighttpd lists no linked folder itself,
// only what lies below it). Replacing it would write every file onto
// itself, and a move would then remove the only copy. The item fails naming
// it; on the server's disk nothing is written, removed or left behind.
#include "ServerScratch.h"
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
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

using Row = ServerScratch::CopyOrMove;

std::string rowName(const ::testing::TestParamInfo<Row> &info) { return ServerScratch::nameOfRow(info.param); }

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
    }

    void TearDown() override {
        if (!onDisk.isEmpty() && GetParam().server != Server::Local)
            QDir(onDisk).removeRecursively();
    }

    // Runs the drop of the item at path (under the scratch folder) onto /srv/u.
    VNErrorPtr dropOntoAlias(const QString &path, bool isFolder) {
        const bool move = GetParam().move;
        auto document = QNDocument::withPath(drivePath + path, isFolder);
        auto folder = QNDocument::withPath(drivePath + QStringLiteral("/srv/u"), true);
        QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(drive, drive, document, folder))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(drive, drive, document, folder));
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
};

TEST_P(AliasReplace, AFolderOntoItsOwnAliasFailsNamingItAndNothingIsWrittenOrRemoved) {
    const VNErrorPtr error = dropOntoAlias(QStringLiteral("/home/u/proj"), true);
    EXPECT_EQ(snapshot(onDisk).join('\n').toStdString(), before.join('\n').toStdString());
    ASSERT_TRUE(error) << "reported as done";
    const QString text = error->localizedDescription();
    EXPECT_TRUE(text.contains(QStringLiteral("The folder \u201cproj\u201d was not copied")) &&
                text.contains(QStringLiteral("/srv/u/proj\u201d is that folder itself")))
        << text.toStdString();
}

TEST_P(AliasReplace, AFileOntoItsOwnAliasFailsNamingItAndNothingIsWrittenOrRemoved) {
    const VNErrorPtr error = dropOntoAlias(QStringLiteral("/home/u/note.txt"), false);
    EXPECT_EQ(snapshot(onDisk).join('\n').toStdString(), before.join('\n').toStdString());
    ASSERT_TRUE(error) << "reported as done";
    const QString text = error->localizedDescription();
    EXPECT_TRUE(text.contains(QStringLiteral("The file \u201cnote.txt\u201d was not copied")) &&
                text.contains(QStringLiteral("/srv/u/note.txt\u201d is that file itself")))
        << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Servers, AliasReplace,
                         ::testing::Values(Row{Server::Local, false}, Row{Server::Local, true},
                                           Row{Server::FTP, false}, Row{Server::FTP, true},
                                           Row{Server::SFTP, false}, Row{Server::SFTP, true},
                                           Row{Server::Apache, false}, Row{Server::Apache, true},
                                           Row{Server::Nginx, false}, Row{Server::Nginx, true},
                                           Row{Server::Lighttpd, false}, Row{Server::Lighttpd, true}),
                         rowName);

}  // namespace
