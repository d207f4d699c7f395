// A folder merged into its namesake holds, below it, a folder that is a
// folder of the copied tree reached by another path: dst/proj is a real
// folder, dst/proj/sub a link the server keeps to src/proj/sub, or
// dst/proj/latest a link to src/proj/v2 (another folder of the tree).
// Merging into it would write files onto the tree's own (latest/app.js over
// v2/app.js), and a move would then remove them, the only copies. Servers
// differ in what they show of the link: vsftpd and sshd list it as a link,
// Apache leaves it out of its listing and will not make the folder, nginx
// and lighttpd show a plain folder. On every one the item fails and nothing
// is lost or cut short, nor left of what the copy made before it was
// refused (dst/proj/v2), judged on the server's disk.
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

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using ServerScratch::Server;

// Where the link below dst/proj leads.
enum class Shape {
    OwnFolder,      // dst/proj/sub -> src/proj/sub
    AnotherFolder,  // dst/proj/latest -> src/proj/v2
};

struct Row {
    Server server;
    bool move;
    Shape shape = Shape::OwnFolder;
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    return ServerScratch::nameOfRow({info.param.server, info.param.move}) +
           (info.param.shape == Shape::AnotherFolder ? "IntoAnotherFolder" : "");
}

// Every entry below root, links as links (never followed).
QStringList entriesBelow(const QString &root) {
    QStringList out;
    QDirIterator all(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                     QDirIterator::Subdirectories);
    while (all.hasNext()) {
        const QString path = all.next();
        const QFileInfo info(path);
        const QString entry = path.mid(root.size() + 1);
        if (info.isSymLink())
            out << entry + QStringLiteral(" -> ") + QString::fromLocal8Bit(QFile::encodeName(info.symLinkTarget()));
        else
            out << entry;
    }
    out.sort();
    return out;
}

class NestedAlias : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        temp = VNTest::makeTempDir();
        ServerScratch::setUpHandlers(*temp);
        scratch = ServerScratch::make(GetParam().server, *temp);
        ASSERT_TRUE(scratch.failure.empty()) << scratch.failure;
        const QString at = scratch.onDisk;
        ASSERT_TRUE(VNTest::writeFile(at + "/src/proj/a.txt", "a"));
        ASSERT_TRUE(VNTest::writeFile(at + "/src/proj/sub/b.txt", "b"));
        ASSERT_TRUE(VNTest::writeFile(at + "/dst/proj/c.txt", "c"));
        if (GetParam().shape == Shape::OwnFolder) {
            ASSERT_EQ(::symlink("../../src/proj/sub", QFile::encodeName(at + "/dst/proj/sub").constData()), 0);
        } else {
            ASSERT_TRUE(VNTest::writeFile(at + "/src/proj/latest/app.js", "latest"));
            ASSERT_TRUE(VNTest::writeFile(at + "/src/proj/v2/app.js", "v2"));
            ASSERT_EQ(::symlink("../../src/proj/v2", QFile::encodeName(at + "/dst/proj/latest").constData()), 0);
        }
        ServerScratch::giveTo(at, scratch.owner);
    }

    void TearDown() override {
        if (GetParam().server != Server::Local && !scratch.onDisk.isEmpty())
            QDir(scratch.onDisk).removeRecursively();
    }

    std::unique_ptr<QTemporaryDir> temp;
    ServerScratch::Scratch scratch;
};

TEST_P(NestedAlias, AMergedFolderThatIsAFolderOfTheCopiedTreeIsNeitherWrittenIntoNorRemoved) {
    const bool move = GetParam().move;
    auto proj = QNDocument::withPath(scratch.drivePath + QStringLiteral("/src/proj"), true);
    auto into = QNDocument::withPath(scratch.drivePath + QStringLiteral("/dst"), true);
    QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    QNTaskItemPtr item =
        move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(scratch.drive, scratch.drive, proj, into))
             : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(scratch.drive, scratch.drive, proj, into));
    const QStringList destinationBefore = entriesBelow(scratch.onDisk + "/dst");
    const auto run = VNTest::runItem(task, item);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.reports, 1);

    const QString at = scratch.onDisk;
    // Nothing lost or cut short: the sub-folder's file, and the source's
    // own file (a copy that was not whole removes nothing of it).
    EXPECT_EQ(VNTest::readFile(at + "/src/proj/sub/b.txt"), QByteArray("b"));
    EXPECT_EQ(VNTest::readFile(at + "/src/proj/a.txt"), QByteArray("a"));
    EXPECT_EQ(VNTest::readFile(at + "/dst/proj/c.txt"), QByteArray("c"));
    const bool own = GetParam().shape == Shape::OwnFolder;
    EXPECT_TRUE(QFileInfo(at + (own ? "/dst/proj/sub" : "/dst/proj/latest")).isSymLink());
    if (!own) {
        EXPECT_EQ(VNTest::readFile(at + "/src/proj/latest/app.js"), QByteArray("latest"));
        EXPECT_EQ(VNTest::readFile(at + "/src/proj/v2/app.js"), QByteArray("v2"));
    }
    // No check folder or part of an upload stays anywhere.
    const QStringList entries = entriesBelow(at);
    for (const QString &entry : entries)
        EXPECT_TRUE(!entry.contains(QLatin1String("varnello-check-")) && !entry.contains(QLatin1String(".part")))
            << entry.toStdString();
    // The item fails naming the sub-folder; how depends on what the server
    // shows of the link. A move says first that nothing was moved.
    ASSERT_TRUE(run.error) << "reported as done: " << entries.join(' ').toStdString();
    const QString text = run.error->localizedDescription();
    EXPECT_TRUE(text.contains(QLatin1String(own ? "sub" : "latest"))) << text.toStdString();
    EXPECT_EQ(text.startsWith(QLatin1String("Nothing was moved. ")), move) << text.toStdString();
    if (text.contains(QLatin1String("reached by another path"))) {
        // Refused by the check of the tree: in the move's words, and
        // nothing the copy made before stays (dst/proj/v2).
        EXPECT_TRUE(text.contains(QLatin1String(move ? "was not moved" : "was not copied"))) << text.toStdString();
        EXPECT_EQ(entriesBelow(at + "/dst").join(' ').toStdString(), destinationBefore.join(' ').toStdString());
    }
}

std::vector<Row> rows() {
    std::vector<Row> out;
    for (Shape shape : {Shape::OwnFolder, Shape::AnotherFolder})
        for (Server server :
             {Server::Local, Server::FTP, Server::SFTP, Server::Apache, Server::Nginx, Server::Lighttpd})
            for (bool move : {false, true})
                out.push_back({server, move, shape});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Servers, NestedAlias, ::testing::ValuesIn(rows()), rowName);

}  // namespace
