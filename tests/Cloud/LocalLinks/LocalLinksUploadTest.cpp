// Links in a local folder dropped onto an FTP or WebDAV folder: a link to a
// file arrives as that file, links that would copy the tree again are left
// out, and so is a link to nothing; the task's end report names every link
// it left out, no error is reported, and everything else arrives. Judged on
// each server's disk.
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

enum class Destination { FTP, WebDAV };

struct Row {
    Destination destination;
    bool move;
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    return std::string(info.param.destination == Destination::FTP ? "FTP" : "WebDAV") +
           (info.param.move ? "Move" : "Copy");
}

class LocalLinks : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        WebDAVPeer::setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNFTPHandler::registerHandler();
        temp = VNTest::makeTempDir();
        if (GetParam().destination == Destination::FTP) {
            ASSERT_FALSE(FTPPeer::root(FTPPeer::Kind::FTP).isEmpty()) << "the vsftpd peer did not start";
            drive = FTPPeer::drive(FTPPeer::Kind::FTP);
            drivePath = FTPPeer::makeScratchFolder(FTPPeer::Kind::FTP);
            onDisk = FTPPeer::root(FTPPeer::Kind::FTP) + drivePath;
        } else {
            ASSERT_FALSE(WebDAVPeer::state().isEmpty()) << "the webdav peer did not start";
            const QString name = QStringLiteral("local-links-") + (GetParam().move ? "move" : "copy");
            drive = WebDAVPeer::drive(WebDAVPeer::url(QStringLiteral("http")));
            onDisk = WebDAVPeer::freshFolder(QStringLiteral("root_dir"), name);
            drivePath = QLatin1Char('/') + name;
        }
        // tree/f1.txt, tree/inner/f2.txt, and four links beside them.
        tree = temp->path() + QStringLiteral("/tree");
        ASSERT_TRUE(VNTest::writeFile(tree + "/f1.txt", "one"));
        ASSERT_TRUE(VNTest::writeFile(tree + "/inner/f2.txt", "two"));
        ASSERT_TRUE(QFile::link(QStringLiteral("f1.txt"), tree + "/to-file"));
        ASSERT_TRUE(QFile::link(QStringLiteral("."), tree + "/back"));
        ASSERT_TRUE(QFile::link(QStringLiteral("inner"), tree + "/to-inner"));
        ASSERT_TRUE(QFile::link(QStringLiteral("missing.txt"), tree + "/dangling"));
    }

    std::unique_ptr<QTemporaryDir> temp;
    QString tree;  // the local folder dropped
    QNDriveConfigPtr drive;
    QString drivePath;  // the destination folder as the drive names it
    QString onDisk;     // the same folder on the server's disk
};

TEST_P(LocalLinks, ALinkToNothingIsLeftOutAndNamedAndEverythingElseArrives) {
    const bool move = GetParam().move;
    auto from = QNMyDocumentsHandler::makeLocalDriveConfig();
    auto source = QNDocument::withPath(tree, true);
    auto into = QNDocument::withPath(drivePath, true);
    QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, drive, source, into))
                              : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, drive, source, into));
    const VNTest::ItemRun run = VNTest::runItem(task, item);
    ASSERT_TRUE(run.completed);
    EXPECT_FALSE(run.error) << run.error->localizedDescription().toStdString();
    const QString text = run.leftOut.join('\n');
    EXPECT_FALSE(text.isEmpty()) << "the links left out are not named";
    // In a move, what was left out was not moved.
    const QString notDone = move ? QStringLiteral("was not moved") : QStringLiteral("was not copied");
    for (const char *name : {"dangling", "back", "to-inner"})
        EXPECT_TRUE(text.contains(QStringLiteral("\u201c%1\u201d in \u201c%2\u201d %3").arg(name, tree, notDone)))
            << name << ": " << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("a link to \u201cmissing.txt\u201d, which does not exist")))
        << text.toStdString();

    // Every file arrived, the link to a file as the file; nothing else.
    EXPECT_EQ(VNTest::listTree(onDisk + "/tree").join(' ').toStdString(),
              std::string("f1.txt inner/ inner/f2.txt to-file"));
    EXPECT_EQ(VNTest::readFile(onDisk + "/tree/f1.txt"), QByteArray("one"));
    EXPECT_EQ(VNTest::readFile(onDisk + "/tree/inner/f2.txt"), QByteArray("two"));
    EXPECT_EQ(VNTest::readFile(onDisk + "/tree/to-file"), QByteArray("one"));
    // What was left out stays where it was; a copy leaves all.
    EXPECT_TRUE(QFileInfo(tree + "/dangling").isSymLink());
    if (!move)
        EXPECT_EQ(VNTest::readFile(tree + "/inner/f2.txt"), QByteArray("two"));
}

INSTANTIATE_TEST_SUITE_P(Drives, LocalLinks,
                         ::testing::Values(Row{Destination::FTP, false}, Row{Destination::FTP, true},
                                           Row{Destination::WebDAV, false}, Row{Destination::WebDAV, true}),
                         rowName);

}  // namespace
