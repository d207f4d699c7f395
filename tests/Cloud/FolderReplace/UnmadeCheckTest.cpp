// Replacing a file on a server account that may write files but not make
// folders (vsftpd refusing MKD, sshd's SFTP refusing mkdir, Apache refusing
// MKCOL): the check folder that would tell whether the namesake is the file
// itself cannot be made. A copy to FTP or SFTP goes on, as its upload goes
// up under a temporary name and takes the file's name only when whole: even
// when the namesake is the file itself (b is a link to a), that file is
// never cut short. A copy to WebDAV, whose upload writes straight onto the
// name, and every move (which would remove the only copy) fail naming why.
// Judged on the server's disk.
#include "ServerScratch.h"
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNUtils.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using ServerScratch::Server;

struct Row {
    Server server;
    bool move;
    bool alias;  // b is a link to a: the namesake is the file itself
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    return std::string(ServerScratch::nameOf(info.param.server)) + (info.param.move ? "Move" : "Copy") +
           (info.param.alias ? "OntoItself" : "OntoAnother");
}

class UnmadeCheck : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        WebDAVPeer::setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNFTPHandler::registerHandler();
        temp = VNTest::makeTempDir();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
        if (GetParam().server == Server::Apache) {
            const QString base = WebDAVPeer::text(QStringLiteral("nofolders_path"));
            ASSERT_FALSE(base.isEmpty()) << "the webdav peer has no folder that refuses MKCOL";
            drive = WebDAVPeer::drive(WebDAVPeer::url(QStringLiteral("http")));
            drivePath = base + QStringLiteral("/unmade-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
            onDisk = WebDAVPeer::text(QStringLiteral("root_dir")) + drivePath;
        } else {
            const auto kind = GetParam().server == Server::FTP ? FTPPeer::Kind::FTP : FTPPeer::Kind::SFTP;
            const QString url = FTPPeer::state(kind).value(QStringLiteral("nofolders_url")).toString();
            ASSERT_FALSE(url.isEmpty()) << "the test peer runs no server that refuses to make folders";
            drive = FTPPeer::drive(kind);
            drive->setUrl(url);
            drivePath = QNUtils::withoutTrailingSlashes(FTPPeer::makeScratchFolder(kind));
            onDisk = FTPPeer::root(kind) + drivePath;
            owner = FTPPeer::root(kind);
        }
        const bool alias = GetParam().alias;
        ASSERT_TRUE(VNTest::writeFile(onDisk + "/a/x.txt", alias ? "the only copy" : "new"));
        if (alias)
            ASSERT_EQ(::symlink("a", QFile::encodeName(onDisk + "/b").constData()), 0);
        else
            ASSERT_TRUE(VNTest::writeFile(onDisk + "/b/x.txt", "old"));
        ServerScratch::giveTo(onDisk, owner);
    }

    void TearDown() override {
        if (!onDisk.isEmpty())
            QDir(onDisk).removeRecursively();
    }

    std::unique_ptr<QTemporaryDir> temp;
    QNDriveConfigPtr drive;
    QString drivePath;
    QString onDisk;
    QString owner;
};

TEST_P(UnmadeCheck, ACopyWithTemporaryNamesGoesOnAndEverythingElseFailsSayingWhy) {
    const Row row = GetParam();
    auto file = QNDocument::withPath(drivePath + QStringLiteral("/a/x.txt"), false);
    file->setSize(QFileInfo(onDisk + "/a/x.txt").size());
    auto into = QNDocument::withPath(drivePath + QStringLiteral("/b"), true);
    QNTaskPtr task = row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    QNTaskItemPtr item = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(drive, drive, file, into))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(drive, drive, file, into));
    const auto run = VNTest::runItem(task, item);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.reports, 1);
    const QString said = run.error ? run.error->localizedDescription() : QString();

    // The source is whole, whatever happened.
    EXPECT_EQ(VNTest::readFile(onDisk + "/a/x.txt"), QByteArray(row.alias ? "the only copy" : "new"));
    // Nothing of the check or of an upload stays.
    for (const QString &entry : VNTest::listTree(onDisk))
        EXPECT_TRUE(!entry.contains(QLatin1String("varnello-check-")) && !entry.contains(QLatin1String(".part")))
            << entry.toStdString();
    const bool goesOn = !row.move && row.server != Server::Apache;
    if (goesOn) {
        EXPECT_FALSE(run.error) << said.toStdString();
        if (!row.alias)
            EXPECT_EQ(VNTest::readFile(onDisk + "/b/x.txt"), QByteArray("new"));
        return;
    }
    ASSERT_TRUE(run.error) << "replaced without the check";
    EXPECT_TRUE(said.contains(QLatin1String("could not be made"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QLatin1String(row.move ? "the move would then remove the only copy"
                                                     : "writes straight onto the name")))
        << said.toStdString();
    if (!row.alias)
        EXPECT_EQ(VNTest::readFile(onDisk + "/b/x.txt"), QByteArray("old"));
}

std::vector<Row> rows() {
    std::vector<Row> out;
    for (Server server : {Server::FTP, Server::SFTP, Server::Apache})
        for (bool move : {false, true})
            for (bool alias : {false, true})
                out.push_back({server, move, alias});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Servers, UnmadeCheck, ::testing::ValuesIn(rows()), rowName);

}  // namespace
