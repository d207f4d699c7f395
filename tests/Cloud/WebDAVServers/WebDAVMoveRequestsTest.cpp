// A folder of 1,000 files moved off Apache's WebDAV share: every file
// arrives, the source goes, and the requests the move makes stay about one
// per file (a check folder made, listed and removed to show the copy lies
// elsewhere, one fresh listing before the single removal of the folder).
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"
#include "support/TaskRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace WebDAVPeer;

namespace {

TEST(WebDAVMoveRequests, MoveOfAThousandFilesRemovesTheSourceWithOneListingMore) {
    ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
    setUpOnce();
    QNCloudInterfaceFactory::registerCoreHandlers();
    const QString server = freshFolder("root_dir", "move-1000");
    for (int i = 0; i < 1000; ++i)
        VNTest::writeFile(server + QStringLiteral("/src/f%1.txt").arg(i, 4, 10, QLatin1Char('0')), QByteArray::number(i));
    auto temp = VNTest::makeTempDir();
    const QString log = text("workdir") + "/access.log";
    const qint64 before = QFileInfo(log).size();

    const auto run = VNTest::runItem(std::make_shared<QNMoveTask>(),
                                     std::make_shared<QNMoveTaskItem>(drive(url("http")),
                                                                      QNMyDocumentsHandler::makeLocalDriveConfig(),
                                                                      QNDocument::withPath("/move-1000/src", true),
                                                                      QNDocument::withPath(temp->path(), true)),
                                     240000);
    ASSERT_TRUE(run.completed);
    ASSERT_FALSE(run.error) << run.error->localizedDescription().toStdString();
    EXPECT_FALSE(QFileInfo::exists(server + "/src"));
    EXPECT_EQ(QDir(temp->path() + "/src").entryList(QDir::Files).size(), 1000);

    // Apache writes a line as each request ends.
    auto served = [&] {
        QFile f(log);
        f.open(QIODevice::ReadOnly);
        f.seek(before);
        QMap<QString, int> methods;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.contains("/move-1000/") && !line.contains("\" 401 "))
                ++methods[QString::fromUtf8(line).section(QLatin1Char('"'), 1, 1).section(QLatin1Char(' '), 0, 0)];
        return methods;
    };
    ASSERT_TRUE(VNTest::waitUntil([&] { return served().value("DELETE") == 2; }));
    const auto methods = served();
    int total = 0;
    for (auto it = methods.begin(); it != methods.end(); ++it) {
        total += it.value();
        std::printf("%s %d\n", qPrintable(it.key()), it.value());
    }
    EXPECT_EQ(methods.value("GET"), 1000);
    // The copy's listing, the check's, the removal's fresh one.
    EXPECT_EQ(methods.value("PROPFIND"), 3);
    EXPECT_EQ(methods.value("MKCOL"), 1);   // the check folder, which goes by the first DELETE
    EXPECT_EQ(methods.value("MOVE"), 0);
    EXPECT_EQ(total, 1006);
}

// A file that lands in the source folder while the move runs is not deleted
// with the folder: the folder stays with it, and the move says so.
TEST(WebDAVMoveRequests, FileWrittenIntoTheSourceDuringTheMoveStays) {
    ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
    setUpOnce();
    QNCloudInterfaceFactory::registerCoreHandlers();
    const QString server = freshFolder("root_dir", "move-late");
    VNTest::writeFile(server + "/src/a.txt", "a");
    VNTest::writeFile(server + "/src/sub/b.txt", "b");
    auto temp = VNTest::makeTempDir();
    auto item = std::make_shared<QNMoveTaskItem>(drive(url("http")), QNMyDocumentsHandler::makeLocalDriveConfig(),
                                                 QNDocument::withPath("/move-late/src", true),
                                                 QNDocument::withPath(temp->path(), true));
    auto written = std::make_shared<std::atomic<bool>>(false);
    item->registerListenerForTaskItemUpdateBlock("late", [written, server] {
        if (!written->exchange(true))
            VNTest::writeFile(server + "/src/late.txt", "late");
    });
    const auto run = VNTest::runItem(std::make_shared<QNMoveTask>(), item, 120000);
    ASSERT_TRUE(run.completed);
    ASSERT_TRUE(run.error);
    EXPECT_TRUE(run.error->localizedDescription().contains("late.txt")) << run.error->localizedDescription().toStdString();
    EXPECT_EQ(VNTest::readFile(server + "/src/late.txt"), QByteArray("late"));
    EXPECT_FALSE(QFileInfo::exists(server + "/src/a.txt"));
    EXPECT_FALSE(QFileInfo::exists(server + "/src/sub"));
    EXPECT_EQ(VNTest::readFile(temp->path() + "/src/sub/b.txt"), QByteArray("b"));
}

// A file whose name is not UTF-8 is left out of every listing, so the move
// never copied it: its folder stays with it on the server, only what was
// copied goes, and the move's end report names that folder (no failure).
TEST(WebDAVMoveRequests, FileTheListingCannotShowKeepsItsFolder) {
    ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
    setUpOnce();
    QNCloudInterfaceFactory::registerCoreHandlers();
    const QString server = freshFolder("root_dir", "move-hidden");
    VNTest::writeFile(server + "/src/a.txt", "a");
    VNTest::writeFile(server + "/src/sub/b.txt", "b");
    const QByteArray hidden = QFile::encodeName(server + "/src/sub/") + "caf\xe9.txt";
    const int fd = ::open(hidden.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
    auto temp = VNTest::makeTempDir();

    const auto run = VNTest::runItem(std::make_shared<QNMoveTask>(),
                                     std::make_shared<QNMoveTaskItem>(drive(url("http")),
                                                                      QNMyDocumentsHandler::makeLocalDriveConfig(),
                                                                      QNDocument::withPath("/move-hidden/src", true),
                                                                      QNDocument::withPath(temp->path(), true)),
                                     120000);
    ASSERT_TRUE(run.completed);
    EXPECT_FALSE(run.error) << run.error->localizedDescription().toStdString();
    const QString report = run.leftOut.join('\n');
    EXPECT_TRUE(report.startsWith("An entry of \u201c/move-hidden/src/sub\u201d was not moved") &&
                report.contains("cannot use"))
        << report.toStdString();
    EXPECT_EQ(::access(hidden.constData(), F_OK), 0);
    EXPECT_FALSE(QFileInfo::exists(server + "/src/a.txt"));
    EXPECT_FALSE(QFileInfo::exists(server + "/src/sub/b.txt"));
    EXPECT_EQ(VNTest::readFile(temp->path() + "/src/sub/b.txt"), QByteArray("b"));
}

}  // namespace
