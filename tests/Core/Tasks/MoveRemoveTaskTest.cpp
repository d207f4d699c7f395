// Move and remove items: the drive's own move, copy-then-remove with a
// source that stays whole on any failure, and removal trees on drives that
// remove only empty folders.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNRemoveTaskItem.h"
#include "Core/QNTaskManager.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;

namespace {

class MoveRemove : public TaskFixture {
protected:

    // A drive that removes only empty folders, like an FTP server.
    QNDriveConfigPtr recursiveRemoveDrive(const QString &root) {
        auto config = ScriptedRemoteHandler::makeDriveConfig(root);
        config->setIsFTP(true);
        EXPECT_TRUE(config->needsRecursiveRemove());
        ScriptedRemoteHandler::Script script;
        script.removeOnlyEmptyFolders = true;
        ScriptedRemoteHandler::setScript(script);
        return config;
    }

    Report move(const QNDriveConfigPtr &from, const QNDriveConfigPtr &to,
                                                     const QNDocumentPtr &doc, const QNDocumentPtr &dest) {
        return runOne(std::make_shared<QNMoveTask>(), std::make_shared<QNMoveTaskItem>(from, to, doc, dest));
    }

};

}  // namespace

TEST_F(MoveRemove, MoveInsideACapableDriveIsOneOperation) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/doc.txt", "moved"}, {"b/", ""}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    auto [error, doc, cancelled] = move(fake, QNFakeRemoteHandler::makeDriveConfig(remote),
                                        driveDocument("/a/doc.txt", false, 5), driveDocument("/b", true));
    EXPECT_FALSE(error);
    EXPECT_FALSE(cancelled);
    ASSERT_TRUE(doc);
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::LocalMove), 1);
    for (Op op : {Op::Download, Op::Upload, Op::Remove})
        EXPECT_EQ(QNFakeRemoteHandler::callCount(op), 0) << int(op);
    EXPECT_EQ(VNTest::readFile(remote + "/b/doc.txt"), QByteArray("moved"));
    EXPECT_FALSE(QFileInfo::exists(remote + "/a/doc.txt"));
}

TEST_F(MoveRemove, MoveOfAFolderIntoItselfInsideOneDriveIsRefused) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/sub/doc.txt", "x"}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    auto [error, doc, cancelled] = move(fake, fake, driveDocument("/a", true), driveDocument("/a/sub", true));
    ASSERT_TRUE(error);
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::LocalMove), 0);
    EXPECT_EQ(VNTest::readFile(remote + "/a/sub/doc.txt"), QByteArray("x"));
}

TEST_F(MoveRemove, MoveOrCopyOntoItselfDoesNothingAndKeepsTheSource) {
    // Drives that cannot move inside themselves (local, FTP-like) and one
    // that can; a file and a folder, each dropped on the folder holding it.
    const QString remote = path("remote");
    writeTree(remote, {{"docs/f.bin", QByteArray(70000, 'r')}, {"docs/sub/g.txt", "g"}});
    writeTree(path("local"), {{"f.bin", QByteArray(70000, 'l')}, {"sub/g.txt", "g"}});
    auto ftpLike = QNFakeRemoteHandler::makeDriveConfig(remote);
    ftpLike->setIsFTP(true);
    auto capable = QNFakeRemoteHandler::makeDriveConfig(remote);
    struct Case {
        QNDriveConfigPtr drive;
        QNDocumentPtr document, folder;
        QString file;
    };
    const std::vector<Case> cases{
        {localDrive(), localDocument(path("local/f.bin")), localDocument(path("local")), path("local/f.bin")},
        {localDrive(), localDocument(path("local/sub")), localDocument(path("local/")), path("local/sub/g.txt")},
        {ftpLike, driveDocument("/docs/f.bin", false, 70000), driveDocument("/docs", true), remote + "/docs/f.bin"},
        {ftpLike, driveDocument("/docs/sub", true), driveDocument("/docs/", true), remote + "/docs/sub/g.txt"},
        {capable, driveDocument("/docs/f.bin", false, 70000), driveDocument("/docs", true), remote + "/docs/f.bin"},
    };
    const QStringList localBefore = listTree(path("local")), remoteBefore = listTree(remote);
    for (bool moving : {true, false}) {
        for (const auto &c : cases) {
            const QByteArray content = VNTest::readFile(c.file);
            QNTaskPtr task = moving ? QNTaskPtr(std::make_shared<QNMoveTask>()) : std::make_shared<QNCopyTask>();
            QNTaskItemPtr item = moving ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(c.drive, c.drive, c.document,
                                                                                         c.folder))
                                        : std::make_shared<QNCopyTaskItem>(c.drive, c.drive, c.document, c.folder);
            auto [error, doc, cancelled] = runOne(task, item);
            EXPECT_FALSE(error) << c.file.toStdString();
            EXPECT_FALSE(cancelled);
            EXPECT_EQ(VNTest::readFile(c.file), content) << c.file.toStdString();
        }
    }
    EXPECT_EQ(listTree(path("local")), localBefore);
    EXPECT_EQ(listTree(remote), remoteBefore);
    for (Op op : {Op::Download, Op::Upload, Op::Remove, Op::LocalMove, Op::LocalCopy})
        EXPECT_EQ(QNFakeRemoteHandler::callCount(op), 0) << int(op);
}

TEST_F(MoveRemove, MovedBetweenDrivesArrivesWholeAndLeavesItsSource) {
    writeTree(path("src/tree"), sampleTree());
    writeTree(path("expected/tree"), sampleTree());
    writeTree(path("src"), {{"f.bin", QByteArray(70000, 'm')}, {"empty/", ""}});
    const QString remote = path("remote");
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    for (const QString &name : {"f.bin", "tree", "empty"}) {
        auto [error, doc, cancelled] = move(localDrive(), fake, localDocument(path("src/" + name)),
                                            driveDocument("/", true));
        ASSERT_FALSE(error) << error->localizedDescription().toStdString();
        EXPECT_FALSE(cancelled);
        EXPECT_FALSE(QFileInfo::exists(path("src/" + name))) << name.toStdString();
    }
    EXPECT_EQ(VNTest::readFile(remote + "/f.bin"), QByteArray(70000, 'm'));
    EXPECT_EQ(compareTrees(path("expected/tree"), remote + "/tree"), QString());
    EXPECT_TRUE(QFileInfo(remote + "/empty").isDir());

    QDir().mkpath(path("back"));
    auto [e2, d2, c2] = move(fake, localDrive(), driveDocument("/f.bin", false, 70000), localDocument(path("back")));
    EXPECT_FALSE(e2);
    EXPECT_EQ(VNTest::readFile(path("back/f.bin")), QByteArray(70000, 'm'));
    EXPECT_FALSE(QFileInfo::exists(remote + "/f.bin"));
}

TEST_F(MoveRemove, SourceStaysWholeWhenAnyPartFailsOrIsCancelled) {
    // Off a drive whose download of one name fails or is cancelled.
    for (bool cancelPart : {false, true}) {
        const QString remote = path(cancelPart ? "cancelled" : "failed");
        writeTree(remote, {{"dir/1.txt", "1"}, {"dir/2.txt", "2"}, {"dir/sub/3.txt", "3"}});
        auto scripted = ScriptedRemoteHandler::makeDriveConfig(remote);
        ScriptedRemoteHandler::Script script;
        if (cancelPart)
            script.cancelDownloadsNamed = "1.txt";
        else
            script.failDownloadsNamed = "3.txt";
        ScriptedRemoteHandler::setScript(script);
        const QString out = remote + "-out";
        QDir().mkpath(out);
        const QStringList before = listTree(remote);
        auto [error, doc, cancelled] = move(scripted, localDrive(), driveDocument("/dir", true), localDocument(out));
        EXPECT_EQ(bool(error), !cancelPart);
        EXPECT_EQ(cancelled, cancelPart) << "a move with a cancelled part was reported as done";
        EXPECT_EQ(listTree(remote), before);
        EXPECT_TRUE(ScriptedRemoteHandler::removals().isEmpty());
    }
    // Onto a drive that fails every upload, or every folder creation.
    writeTree(path("src/dir"), {{"1.txt", "1"}, {"sub/2.txt", "2"}});
    const QStringList before = listTree(path("src"));
    for (Op op : {Op::Upload, Op::CreateFolder}) {
        const QString remote = path(op == Op::Upload ? "noUpload" : "noFolder");
        auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
        setMode(op, QNFakeRemoteHandler::Mode::Fail, remote);
        auto [error, doc, cancelled] = move(localDrive(), fake, localDocument(path("src/dir")), driveDocument("/", true));
        EXPECT_TRUE(error);
        EXPECT_EQ(listTree(path("src")), before);
        if (op == Op::Upload) {  // a single file too
            auto [e2, d2, c2] = move(localDrive(), fake, localDocument(path("src/dir/1.txt")), driveDocument("/", true));
            EXPECT_TRUE(e2);
            EXPECT_EQ(VNTest::readFile(path("src/dir/1.txt")), QByteArray("1"));
        }
    }
}

TEST_F(MoveRemove, FolderMovedOffADriveThatRemovesOnlyEmptyFoldersIsRemovedDeepestFirst) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/x.txt", "x"}, {"a/b/y.txt", "y"}, {"a/b/c/", ""}});
    auto ftp = recursiveRemoveDrive(remote);
    QDir().mkpath(path("out"));
    auto [error, doc, cancelled] = move(ftp, localDrive(), driveDocument("/a", true), localDocument(path("out")));
    ASSERT_FALSE(error) << error->localizedDescription().toStdString();
    EXPECT_FALSE(cancelled);
    EXPECT_FALSE(QFileInfo::exists(remote + "/a"));
    EXPECT_EQ(VNTest::readFile(path("out/a/b/y.txt")), QByteArray("y"));
    EXPECT_TRUE(QFileInfo(path("out/a/b/c")).isDir());
    const QStringList removed = ScriptedRemoteHandler::sourceRemovals();
    ASSERT_EQ(removed.size(), 5);
    EXPECT_EQ(removed.last(), "/a");
    for (int i = 0; i < removed.size(); ++i)
        for (int j = i + 1; j < removed.size(); ++j)
            EXPECT_FALSE(removed[j].startsWith(removed[i] + "/"))
                << removed[i].toStdString() << " went before " << removed[j].toStdString() << " inside it";
}

TEST_F(MoveRemove, RemovalOrderOfATreeOnARecursiveDriveAndSingleRemovals) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/x.txt", "x"}, {"a/b/y.txt", "y"}});
    auto ftp = recursiveRemoveDrive(remote);
    auto task = std::make_shared<QNTask>();
    auto item = std::make_shared<QNRemoveTaskItem>(ftp, driveDocument("/a", true));
    EXPECT_EQ(item->description(), QStringLiteral("Remove a (Folder) from FTP"));
    auto [error, doc, cancelled] = runOne(task, item);
    EXPECT_EQ(task->description(), QStringLiteral("Remove Files and Folders"));
    ASSERT_FALSE(error) << error->localizedDescription().toStdString();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->path(), "/a");
    // The listing gives names in order (b before x.txt): the walk finds a, b,
    // x.txt, y.txt; every document goes before the folder holding it.
    QStringList found;
    for (const auto &d : item->documentsToRemove())
        found << d->path();
    EXPECT_EQ(found, (QStringList{"/a", "/a/b", "/a/x.txt", "/a/b/y.txt"}));
    EXPECT_EQ(ScriptedRemoteHandler::removals(), (QStringList{"/a/b/y.txt", "/a/x.txt", "/a/b", "/a"}));
    EXPECT_FALSE(QFileInfo::exists(remote + "/a"));

    // A file even on such a drive, and a folder on one without the need, is one removal.
    writeTree(remote, {{"f.txt", "f"}, {"a/x.txt", "x"}, {"a/b/y.txt", "y"}});
    ScriptedRemoteHandler::reset();
    QNFakeRemoteHandler::resetBehaviours();
    ftp = recursiveRemoveDrive(remote);
    EXPECT_FALSE(std::get<0>(
        runOne(std::make_shared<QNTask>(), std::make_shared<QNRemoveTaskItem>(ftp, driveDocument("/f.txt", false, 1)))));
    EXPECT_EQ(ScriptedRemoteHandler::removals(), QStringList{"/f.txt"});
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::List), 0);
    ScriptedRemoteHandler::reset();
    auto plain = ScriptedRemoteHandler::makeDriveConfig(remote);
    EXPECT_FALSE(std::get<0>(
        runOne(std::make_shared<QNTask>(), std::make_shared<QNRemoveTaskItem>(plain, driveDocument("/a", true)))));
    EXPECT_EQ(ScriptedRemoteHandler::removals(), QStringList{"/a"});
    EXPECT_TRUE(listTree(remote).isEmpty());
}

TEST_F(MoveRemove, FailedSecondRemovalIsReportedOnceCancelsTheTaskAndKeepsTheRest) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/x.txt", "x"}, {"a/b/y.txt", "y"}});
    auto ftp = recursiveRemoveDrive(remote);
    ScriptedRemoteHandler::Script script;
    script.removeOnlyEmptyFolders = true;
    script.failRemovalNumber = 2;
    ScriptedRemoteHandler::setScript(script);
    auto task = std::make_shared<QNTask>();
    std::atomic<int> managerErrors{0};
    manager->registerListenerForTaskItemCompletedBlock("t", [&](VNErrorPtr e, QNTaskItemPtr, bool) {
        if (e)
            ++managerErrors;
    });
    auto [error, doc, cancelled] = runOne(task, std::make_shared<QNRemoveTaskItem>(ftp, driveDocument("/a", true)));
    ASSERT_TRUE(error);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(managerErrors.load(), 1);
    EXPECT_TRUE(task->canceled());
    EXPECT_EQ(ScriptedRemoteHandler::removals(), (QStringList{"/a/b/y.txt", "/a/x.txt"}));
    EXPECT_FALSE(QFileInfo::exists(remote + "/a/b/y.txt"));
    EXPECT_TRUE(QFileInfo::exists(remote + "/a/x.txt"));
    EXPECT_TRUE(QFileInfo(remote + "/a/b").isDir());
}

TEST_F(MoveRemove, ListingThatNamesAParentRemovesNothing) {
    const QString remote = path("remote");
    writeTree(remote, {{"keep.txt", "k"}, {"a/x.txt", "x"}, {"a/b/y.txt", "y"}});
    auto ftp = recursiveRemoveDrive(remote);
    ScriptedRemoteHandler::Script script;
    script.removeOnlyEmptyFolders = true;
    script.dotDotInListingOf = "/a/b";
    ScriptedRemoteHandler::setScript(script);
    const QStringList before = listTree(remote);
    auto [error, doc, cancelled] = runOne(std::make_shared<QNTask>(),
                                          std::make_shared<QNRemoveTaskItem>(ftp, driveDocument("/a", true)));
    ASSERT_TRUE(error);
    EXPECT_TRUE(ScriptedRemoteHandler::removals().isEmpty());
    EXPECT_EQ(listTree(remote), before);
}

TEST_F(MoveRemove, MoveTaskDescriptions) {
    auto task = std::make_shared<QNMoveTask>();
    EXPECT_EQ(task->description(), QStringLiteral("Preparing move"));
    EXPECT_EQ(task->progress(), 0.0f);
    writeTree(path("src"), {{"f.txt", "f"}, {"d/g.txt", "g"}});
    QDir().mkpath(path("out"));
    task->addTaskItem(std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(), localDocument(path("src/f.txt")),
                                                       localDocument(path("out"))));
    task->addTaskItem(std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(), localDocument(path("src/d")),
                                                       localDocument(path("out"))));
    ASSERT_TRUE(runTask(manager, task));
    EXPECT_EQ(task->description(), QStringLiteral("Move 0 files and 1 folders from My Files to My Files"));
    EXPECT_EQ(VNTest::readFile(path("out/d/g.txt")), QByteArray("g"));
    EXPECT_FALSE(QFileInfo::exists(path("src/d")));
    EXPECT_FALSE(QFileInfo::exists(path("src/f.txt")));
}

TEST_F(MoveRemove, MoveRemovesOnlyWhatItCopiedAndSaysWhichFolderItKept) {
    // A file written into the source while the move runs stays, with the
    // folders holding it; everything copied goes. On the local disk (which
    // removes folders whole) and on a drive that removes only empty ones.
    for (bool fromLocal : {true, false}) {
        SCOPED_TRACE(fromLocal ? "local source" : "FTP-like source");
        const QString base = path(fromLocal ? "local" : "remote");
        writeTree(base, {{"dir/1.txt", "1"}, {"dir/sub/2.txt", "2"}, {"dir/other/3.txt", "3"}});
        auto from = fromLocal ? localDrive() : recursiveRemoveDrive(base);
        auto source = fromLocal ? localDocument(base + "/dir") : driveDocument("/dir", true);
        const QString out = base + "-out";
        QDir().mkpath(out);
        auto item = std::make_shared<QNMoveTaskItem>(from, localDrive(), source, localDocument(out));
        auto written = std::make_shared<std::atomic<bool>>(false);
        item->registerListenerForTaskItemUpdateBlock("late", [written, base] {
            if (!written->exchange(true))
                VNTest::writeFile(base + "/dir/sub/late.txt", "late");
        });
        auto [error, doc, cancelled] = runOne(std::make_shared<QNMoveTask>(), item);
        ASSERT_TRUE(error);
        const QString text = error->localizedDescription();
        EXPECT_TRUE(text.contains("dir/sub") && text.contains("late.txt")) << text.toStdString();
        EXPECT_FALSE(text.contains("other")) << text.toStdString();
        EXPECT_EQ(listTree(base), (QStringList{"dir/", "dir/sub/", "dir/sub/late.txt"}));
        EXPECT_EQ(listTree(out + "/dir"), (QStringList{"1.txt", "other/", "other/3.txt", "sub/", "sub/2.txt"}));
    }
}

TEST_F(MoveRemove, SameNamedSiblingIsNotWrittenOverAndItsSourceStays) {
    const QString remote = path("remote");
    writeTree(remote, {{"dir/1.txt", "1"}});
    auto drive = ScriptedRemoteHandler::makeDriveConfig(remote);
    ScriptedRemoteHandler::Script script;
    script.twinInListingOf = "/dir";
    ScriptedRemoteHandler::setScript(script);
    QDir().mkpath(path("out"));
    auto task = std::make_shared<QNMoveTask>();
    auto [error, doc, cancelled] =
        runOne(task, std::make_shared<QNMoveTaskItem>(drive, localDrive(), driveDocument("/dir", true),
                                                      localDocument(path("out"))));
    // Left out and named in the task's end report; not a failure.
    EXPECT_FALSE(error) << error->localizedDescription().toStdString();
    EXPECT_TRUE(task->leftOut().join(' ').contains("already written an item of that name"))
        << task->leftOut().join(' ').toStdString();
    // The first twin is moved; the second is not written over it and its
    // source is not removed (the twins share one file here, told apart by
    // id on the drive: one removal, the copied one), nor is their folder.
    EXPECT_EQ(listTree(path("out")), (QStringList{"dir/", "dir/1.txt"}));
    EXPECT_EQ(VNTest::readFile(path("out/dir/1.txt")), QByteArray("1"));
    EXPECT_EQ(ScriptedRemoteHandler::sourceRemovals(), QStringList{"/dir/1.txt"});
}
