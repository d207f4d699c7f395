// A destination folder whose listing fails: neither the drive's own copy or
// move (which may put a file inside a folder of its name) nor a transfer
// between two drives of one server (where the namesake may be the file
// itself) goes ahead blind. The item fails naming the folder and the
// listing's error, and nothing is written or removed.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"

#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;
using Mode = QNFakeRemoteHandler::Mode;

namespace {

class UnlistedDestination : public TaskFixture {};

TEST_F(UnlistedDestination, AFailedListingStopsTheItemBeforeAnythingIsWritten) {
    struct Case {
        const char *name;
        bool twoDrives;  // else one drive, the server's own way
        bool move;
        bool listingFails;
    };
    const Case cases[] = {
        {"one drive, copy, listed", false, false, false},
        {"one drive, copy, unlisted", false, false, true},
        {"one drive, move, unlisted", false, true, true},
        {"two drives of one host, copy, listed", true, false, false},
        {"two drives of one host, copy, unlisted", true, false, true},
        {"two drives of one host, move, unlisted", true, true, true},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString root = path(QStringLiteral("root%1").arg(n++));
        writeTree(root + "/a", {{"x.txt", "x"}});
        writeTree(root + "/b", {{"keep.txt", "k"}});
        QNDriveConfigPtr from, to;
        QString destination;  // the folder as the destination drive names it
        if (c.twoDrives) {
            // Two FTP drives of one server, each at its own folder.
            from = QNFakeRemoteHandler::makeDriveConfig(root + "/a");
            to = QNFakeRemoteHandler::makeDriveConfig(root + "/b");
            for (const auto &drive : {from, to}) {
                drive->setUrl(QStringLiteral("fake://example.org") + QNFakeRemoteHandler::rootFolderOf(*drive));
                drive->setIsFTP(true);
            }
            destination = "/";
        } else {
            from = to = QNFakeRemoteHandler::makeDriveConfig(root);
            destination = "/b";
        }
        if (c.listingFails)
            setMode(Op::List, Mode::Fail, QNFakeRemoteHandler::rootFolderOf(*to));
        const auto source = driveDocument(c.twoDrives ? "/x.txt" : "/a/x.txt", false, 1);
        QNTaskPtr task;
        QNTaskItemPtr item;
        if (c.move) {
            task = std::make_shared<QNMoveTask>();
            item = std::make_shared<QNMoveTaskItem>(from, to, source, driveDocument(destination, true));
        } else {
            task = std::make_shared<QNCopyTask>();
            item = std::make_shared<QNCopyTaskItem>(from, to, source, driveDocument(destination, true));
        }
        const auto [error, document, cancelled] = runOne(task, item);
        EXPECT_FALSE(cancelled);
        EXPECT_EQ(VNTest::readFile(root + "/a/x.txt"), QByteArray("x"));
        if (!c.listingFails) {
            EXPECT_FALSE(error) << QNErrorWrapper(error).localizedDescription().toStdString();
            EXPECT_EQ(VNTest::readFile(root + "/b/x.txt"), QByteArray("x"));
            continue;
        }
        EXPECT_TRUE(error);
        const QString text = error ? QNErrorWrapper(error).localizedDescription() : QString();
        EXPECT_TRUE(text.contains(QStringLiteral("\u201c%1\u201d could not be listed").arg(destination)))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("The fake server refused the request."))) << text.toStdString();
        EXPECT_EQ(listTree(root + "/b").join(' ').toStdString(), std::string("keep.txt"));
    }
}

}  // namespace
