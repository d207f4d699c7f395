// Several local folders dropped at once onto an FTP or WebDAV folder, the
// first holding an entry of each kind a copy leaves out (a link to nothing,
// a name that is not UTF-8, a name that differs from a sibling's only in
// letter case): what is left out cancels nothing. Every file of the other
// folders arrives, the task's end report names each entry left out, no item
// ends in an error, and a move keeps only what was left out. Judged on each
// server's disk.
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
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

enum class Destination { FTP, WebDAV };

struct Row {
    Destination destination;
    bool move;
    int folders;  // dropped at once: the first with what is left out, the others plain
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    return std::string(info.param.destination == Destination::FTP ? "FTP" : "WebDAV") +
           (info.param.move ? "Move" : "Copy") + std::to_string(info.param.folders) + "Folders";
}

constexpr int kPlainFiles = 50;

QByteArray plainContent(const QString &folder, int i) {
    return (folder + QStringLiteral(" file %1 ").arg(i)).toUtf8().repeated(40);
}

class DropLeftOut : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        WebDAVPeer::setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNFTPHandler::registerHandler();
        temp = VNTest::makeTempDir();
        const Row row = GetParam();
        if (row.destination == Destination::FTP) {
            ASSERT_FALSE(FTPPeer::root(FTPPeer::Kind::FTP).isEmpty()) << "the vsftpd peer did not start";
            drive = FTPPeer::drive(FTPPeer::Kind::FTP);
            drivePath = FTPPeer::makeScratchFolder(FTPPeer::Kind::FTP);
            onDisk = FTPPeer::root(FTPPeer::Kind::FTP) + drivePath;
        } else {
            ASSERT_FALSE(WebDAVPeer::state().isEmpty()) << "the webdav peer did not start";
            const QString name = QStringLiteral("drop-left-out-") + QString::fromStdString(rowName({row, 0}));
            drive = WebDAVPeer::drive(WebDAVPeer::url(QStringLiteral("http")));
            onDisk = WebDAVPeer::freshFolder(QStringLiteral("root_dir"), name);
            drivePath = QLatin1Char('/') + name;
        }
        // A: three files, a link to nothing, a name in Latin-1, two names
        // that differ only in case. B, C: fifty files each.
        first = temp->path() + QStringLiteral("/A");
        for (const char *name : {"a1.txt", "a2.txt", "a3.txt"})
            ASSERT_TRUE(VNTest::writeFile(first + QLatin1Char('/') + name, name));
        ASSERT_TRUE(VNTest::writeFile(first + QStringLiteral("/Twin.txt"), "upper"));
        ASSERT_TRUE(VNTest::writeFile(first + QStringLiteral("/twin.txt"), "lower"));
        ASSERT_TRUE(QFile::link(QStringLiteral("missing.txt"), first + QStringLiteral("/dangling")));
        latin1 = QFile::encodeName(first) + "/caf\xE9.txt";
        const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
        for (int f = 1; f < row.folders; ++f) {
            const QString name = QString(QChar('A' + f));
            others << name;
            for (int i = 0; i < kPlainFiles; ++i)
                ASSERT_TRUE(VNTest::writeFile(temp->path() + QStringLiteral("/%1/%1%2.txt").arg(name).arg(i, 2, 10, QChar('0')),
                                              plainContent(name, i)));
        }
    }

    void TearDown() override {
        if (!latin1.isEmpty())
            ::unlink(latin1.constData());  // the temporary folder's clean-up cannot name it
    }

    std::unique_ptr<QTemporaryDir> temp;
    QString first;         // the folder holding what is left out
    QByteArray latin1;     // its file whose name is not UTF-8
    QStringList others;    // the plain folders' names
    QNDriveConfigPtr drive;
    QString drivePath;  // the destination folder as the drive names it
    QString onDisk;     // the same folder on the server's disk
};

TEST_P(DropLeftOut, WhatOneFolderLeavesOutStopsNoOtherAndTheReportNamesIt) {
    const bool move = GetParam().move;
    auto from = QNMyDocumentsHandler::makeLocalDriveConfig();
    auto into = QNDocument::withPath(drivePath, true);
    QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    struct Reports {
        std::mutex mutex;
        QStringList errors;
        int count = 0;
        bool cancelled = false;
    };
    auto reports = std::make_shared<Reports>();
    QStringList dropped{first};
    for (const QString &name : std::as_const(others))
        dropped << temp->path() + QLatin1Char('/') + name;
    for (const QString &path : std::as_const(dropped)) {
        auto source = QNDocument::withPath(path, true);
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, drive, source, into))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, drive, source, into));
        item->registerListenerForTaskItemCompletedBlock(
            QStringLiteral("test"), [reports](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
                std::lock_guard lock(reports->mutex);
                ++reports->count;
                reports->cancelled = reports->cancelled || cancelled;
                if (error)
                    reports->errors << error->localizedDescription();
            });
        task->addTaskItem(item);
    }
    ASSERT_TRUE(VNTest::runTask(task, 240000)) << "the task did not end";

    // Every file of the other folders arrived whole.
    for (const QString &name : std::as_const(others)) {
        EXPECT_EQ(VNTest::listTree(onDisk + QLatin1Char('/') + name).size(), kPlainFiles) << name.toStdString();
        for (int i = 0; i < kPlainFiles; ++i)
            EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("/%1/%1%2.txt").arg(name).arg(i, 2, 10, QChar('0'))),
                      plainContent(name, i))
                << name.toStdString() << " " << i;
    }
    // Of the first, its files and one of the twins, nothing else.
    const QStringList arrived = VNTest::listTree(onDisk + QStringLiteral("/A"));
    const bool upperArrived = arrived.contains(QStringLiteral("Twin.txt"));
    const QString leftTwin = upperArrived ? QStringLiteral("twin.txt") : QStringLiteral("Twin.txt");
    const QString copiedTwin = upperArrived ? QStringLiteral("Twin.txt") : QStringLiteral("twin.txt");
    QStringList expected{"a1.txt", "a2.txt", "a3.txt", copiedTwin};
    expected.sort();
    EXPECT_EQ(arrived.join(' ').toStdString(), expected.join(' ').toStdString());
    for (const char *name : {"a1.txt", "a2.txt", "a3.txt"})
        EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("/A/") + name), QByteArray(name));
    EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("/A/") + copiedTwin), upperArrived ? "upper" : "lower");

    // Left out is no failure: no item ended in an error, none was cancelled.
    {
        std::lock_guard lock(reports->mutex);
        EXPECT_EQ(reports->count, int(dropped.size()));
        EXPECT_TRUE(reports->errors.isEmpty()) << reports->errors.join('\n').toStdString();
        EXPECT_FALSE(reports->cancelled);
    }
    EXPECT_FALSE(task->canceled());

    // The report names each entry left out, as not moved in a move.
    const QString report = task->leftOut().join('\n');
    const QString notDone = move ? QStringLiteral("was not moved") : QStringLiteral("was not copied");
    EXPECT_FALSE(report.contains(move ? QStringLiteral("was not copied") : QStringLiteral("was not moved")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("\u201cdangling\u201d in \u201c%1\u201d %2").arg(first, notDone)) &&
                report.contains(QStringLiteral("a link to \u201cmissing.txt\u201d, which does not exist")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("caf\\xE9.txt")) && report.contains(QStringLiteral("not valid UTF-8")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("\u201c%1\u201d %2").arg(leftTwin, notDone)) &&
                report.contains(QStringLiteral("differs from it only in letter case")))
        << report.toStdString();
    EXPECT_EQ(task->leftOut().size(), 3) << report.toStdString();

    // A copy leaves every source; a move keeps only what was left out.
    EXPECT_TRUE(QFileInfo(first + QStringLiteral("/dangling")).isSymLink());
    EXPECT_EQ(::access(latin1.constData(), F_OK), 0);
    EXPECT_TRUE(QFileInfo::exists(first + QLatin1Char('/') + leftTwin));
    for (const QString &name : {QStringLiteral("a1.txt"), QStringLiteral("a2.txt"), QStringLiteral("a3.txt"), copiedTwin})
        EXPECT_EQ(QFileInfo::exists(first + QLatin1Char('/') + name), !move) << name.toStdString();
    for (const QString &name : std::as_const(others))
        EXPECT_EQ(QFileInfo::exists(temp->path() + QLatin1Char('/') + name), !move) << name.toStdString();
}

// Folders dropped from a WebDAV drive, the first holding on the server's
// disk a name that is not UTF-8, which the drive's listing leaves out: the
// copy's report names that folder, how many it left out and why; a move
// keeps that folder with the entry and stops nothing else (the folder's
// "was kept" became the item's error and cancelled the rest). Judged on
// both disks.
TEST(ListingLeftOut, AFolderWhoseListingLeavesAnEntryOutIsNamedAndKeptAndStopsNothing) {
    WebDAVPeer::setUpOnce();
    QNCloudInterfaceFactory::registerCoreHandlers();
    ASSERT_FALSE(WebDAVPeer::state().isEmpty()) << "the webdav peer did not start";
    struct Row {
        const char *what;
        bool move;
    };
    const Row rows[] = {{"copy", false}, {"move", true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QString name = QStringLiteral("listing-left-out-") + QLatin1String(row.what);
        const QString onServer = WebDAVPeer::freshFolder(QStringLiteral("root_dir"), name);
        auto local = VNTest::makeTempDir();
        bool made = true;
        for (const char *file : {"a1.txt", "a2.txt", "a3.txt"})
            made = made && VNTest::writeFile(onServer + QStringLiteral("/A/") + file, file);
        for (int i = 0; i < 20; ++i)
            made = made && VNTest::writeFile(onServer + QStringLiteral("/B/b%1.txt").arg(i, 2, 10, QChar('0')),
                                             QByteArray::number(i));
        const QByteArray latin1 = QFile::encodeName(onServer) + "/A/caf\xE9.txt";
        const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT, 0666);
        made = made && fd >= 0;
        if (fd >= 0)
            ::close(fd);
        EXPECT_TRUE(made) << row.what << ": the server's folders could not be made";
        if (!made)
            continue;

        auto drive = WebDAVPeer::drive(WebDAVPeer::url(QStringLiteral("http")));
        auto into = QNDocument::withPath(local->path(), true);
        auto to = QNMyDocumentsHandler::makeLocalDriveConfig();
        QNTaskPtr task = row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        auto errors = std::make_shared<QStringList>();
        auto mutex = std::make_shared<std::mutex>();
        for (const char *folder : {"A", "B"}) {
            auto source = QNDocument::withPath(QLatin1Char('/') + name + QLatin1Char('/') + QLatin1String(folder), true);
            QNTaskItemPtr item = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(drive, to, source, into))
                                          : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(drive, to, source, into));
            item->registerListenerForTaskItemCompletedBlock(
                QStringLiteral("test"), [errors, mutex](VNErrorPtr error, QNDocumentPtr, bool) {
                    std::lock_guard lock(*mutex);
                    if (error)
                        *errors << error->localizedDescription();
                });
            task->addTaskItem(item);
        }
        EXPECT_TRUE(VNTest::runTask(task, 120000)) << row.what << ": the task did not end";

        // Everything the drive shows arrived; nothing stopped.
        EXPECT_EQ(VNTest::listTree(local->path() + QStringLiteral("/A")), (QStringList{"a1.txt", "a2.txt", "a3.txt"}));
        EXPECT_EQ(VNTest::listTree(local->path() + QStringLiteral("/B")).size(), 20);
        {
            std::lock_guard lock(*mutex);
            EXPECT_TRUE(errors->isEmpty()) << errors->join('\n').toStdString();
        }
        EXPECT_FALSE(task->canceled());
        // The report names the folder, how many and why.
        const QString report = task->leftOut().join('\n');
        EXPECT_EQ(report, QStringLiteral("An entry of \u201c/%1/A\u201d %2: the drive lists it under a name this "
                                         "drive cannot use (such as one holding \u201c/\u201d).")
                              .arg(name, row.move ? QStringLiteral("was not moved") : QStringLiteral("was not copied")));
        // A copy leaves the server as it was; a move takes all but that
        // folder with its entry.
        EXPECT_EQ(::access(latin1.constData(), F_OK), 0);
        for (const char *file : {"a1.txt", "a2.txt", "a3.txt"})
            EXPECT_EQ(QFileInfo::exists(onServer + QStringLiteral("/A/") + file), !row.move) << file;
        EXPECT_EQ(QFileInfo::exists(onServer + QStringLiteral("/B")), !row.move);
        ::unlink(latin1.constData());
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, DropLeftOut,
                         ::testing::Values(Row{Destination::FTP, false, 2}, Row{Destination::FTP, true, 2},
                                           Row{Destination::FTP, false, 3}, Row{Destination::FTP, true, 3},
                                           Row{Destination::WebDAV, false, 2}, Row{Destination::WebDAV, true, 2},
                                           Row{Destination::WebDAV, false, 3}, Row{Destination::WebDAV, true, 3}),
                         rowName);


}  // namespace
