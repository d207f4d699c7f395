// Copy items: the three ways, trees between the local disk and a remote
// drive, progress, failures, refusals and the temporary folder.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNLog.h"
#include "Platform/VNTempDirectory.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;

namespace {

using Mode = QNFakeRemoteHandler::Mode;

class CopyTask : public TaskFixture {
protected:
    // Runs a one-item copy task and answers the item's one report.
    Report copyOne(const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, const QNDocumentPtr &doc,
                   const QNDocumentPtr &dest, QNTaskPtr *taskOut = nullptr) {
        auto task = std::make_shared<QNCopyTask>();
        if (taskOut)
            *taskOut = task;
        return runOne(task, std::make_shared<QNCopyTaskItem>(from, to, doc, dest));
    }
};

}  // namespace

// (The way up is checked by the tests of folders and moves between drives.)
TEST_F(CopyTask, TreeFromARemoteDriveIsByteIdenticalAndLeavesNoTemporaryFolder) {
    const QString remote = path("remote");
    writeTree(remote + "/tree", sampleTree());
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    QDir().mkpath(path("back"));
    QNTaskPtr down;
    auto [error, doc, cancelled] = copyOne(fake, localDrive(), driveDocument("/tree", true), localDocument(path("back")),
                                           &down);
    ASSERT_FALSE(error) << error->localizedDescription().toStdString();
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(compareTrees(remote + "/tree", path("back/tree")), QString());
    EXPECT_FALSE(QFileInfo::exists(down->tempDirectory()));
    EXPECT_TRUE(QDir(VNTempDirectory::path()).isEmpty());
}

TEST_F(CopyTask, WholeTreeOfFoldersExistsBeforeTheFirstTransfer) {
    writeTree(path("src/tree"), sampleTree());
    const QString remote = path("remote");
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    auto task = std::make_shared<QNCopyTask>();
    task->addTaskItem(std::make_shared<QNCopyTaskItem>(localDrive(), fake, localDocument(path("src/tree")),
                                                       driveDocument("/", true)));
    QStringList atMetadataEnd;
    int uploadsAtMetadataEnd = -1;
    task->registerListenerForTaskMetadataCompletedBlock("t", [&] {
        atMetadataEnd = listTree(remote);
        uploadsAtMetadataEnd = QNFakeRemoteHandler::callCount(Op::Upload);
    });
    QString duringMetadata;
    std::mutex m;
    manager->registerListenerForTaskItemAddedBlock("t", [&](QNTaskPtr t, QNTaskItemPtr) {
        std::lock_guard lock(m);
        if (duringMetadata.isEmpty())
            duringMetadata = t->description();
    });
    ASSERT_TRUE(runTask(manager, task));
    EXPECT_TRUE(duringMetadata.startsWith("Preparing copy and creating ")) << duringMetadata.toStdString();
    EXPECT_TRUE(duringMetadata.endsWith(" folders"));
    QStringList expectedFolders;
    for (const QString &e : listTree(path("src")))
        if (e.endsWith('/'))
            expectedFolders << e;
    EXPECT_EQ(atMetadataEnd, expectedFolders) << "folders at the end of the metadata phase";
    EXPECT_EQ(uploadsAtMetadataEnd, 0);
    EXPECT_EQ(compareTrees(path("src"), remote), QString());
}

TEST_F(CopyTask, ProgressHalvesBetweenTwoRemoteDrivesAndIsTheUploadFromTheLocalDisk) {
    const QString a = path("remoteA"), b = path("remoteB");
    writeTree(a, {{"file.bin", QByteArray(40000, 'p')}});
    writeTree(path("src"), {{"file.bin", QByteArray(40000, 'p')}});
    QDir().mkpath(b);
    auto fromFake = QNFakeRemoteHandler::makeDriveConfig(a);
    auto toFake = QNFakeRemoteHandler::makeDriveConfig(b);
    ASSERT_NE(fromFake->driveConfigId(), toFake->driveConfigId());
    for (bool fromLocal : {false, true}) {
        QFile::remove(b + "/file.bin");
        QNFakeRemoteHandler::resetBehaviours();
        auto task = std::make_shared<QNCopyTask>();
        auto item = fromLocal ? std::make_shared<QNCopyTaskItem>(localDrive(), toFake,
                                                                 localDocument(path("src/file.bin")),
                                                                 driveDocument("/", true))
                              : std::make_shared<QNCopyTaskItem>(fromFake, toFake,
                                                                 driveDocument("/file.bin", false, 40000),
                                                                 driveDocument("/", true));
        std::mutex m;
        std::vector<float> seen;
        item->registerListenerForTaskItemUpdateBlock("t", [&] {
            std::lock_guard lock(m);
            seen.push_back(item->progress());
        });
        task->addTaskItem(item);
        ASSERT_TRUE(runTask(manager, task));
        EXPECT_EQ(VNTest::readFile(b + "/file.bin"), QByteArray(40000, 'p'));
        ASSERT_GE(seen.size(), fromLocal ? 1u : 4u);
        EXPECT_FLOAT_EQ(seen.back(), 1.0f);
        if (fromLocal) {
            EXPECT_LT(seen.front(), 0.5f);
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Download), 0);
            continue;
        }
        // Download from 0 to 0.5, then the upload from 0.5 to 1.
        bool reachedUpload = false;
        for (float v : seen) {
            if (v > 0.5f)
                reachedUpload = true;
            else if (reachedUpload)
                ADD_FAILURE() << "progress went back to " << v;
        }
        EXPECT_TRUE(std::find(seen.begin(), seen.end(), 0.5f) != seen.end());
        EXPECT_LE(seen.front(), 0.5f);
    }
}

TEST_F(CopyTask, FileInsideOneCapableDriveIsOneServerSideCopy) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/doc.txt", "server side"}, {"b/", ""}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    auto fakeAgain = QNFakeRemoteHandler::makeDriveConfig(remote);  // the same drive, another object
    auto item = std::make_shared<QNCopyTaskItem>(fake, fakeAgain, driveDocument("/a/doc.txt", false, 11),
                                                 driveDocument("/b", true));
    std::atomic<int> updates{0};
    item->registerListenerForTaskItemUpdateBlock("t", [&] { ++updates; });
    EXPECT_TRUE(std::get<1>(runOne(std::make_shared<QNCopyTask>(), item)));
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::LocalCopy), 1);
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Download) + QNFakeRemoteHandler::callCount(Op::Upload), 0);
    EXPECT_EQ(updates.load(), 0);
    EXPECT_EQ(VNTest::readFile(remote + "/b/doc.txt"), QByteArray("server side"));
}

TEST_F(CopyTask, RemoteFileLandsInTheTaskFolderAtItsDrivePathAndIsGoneAfterTheUpload) {
    const QString remote = path("remote");
    writeTree(remote, {{"a/b.txt", "temporary"}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    QDir().mkpath(path("out"));
    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(fake, localDrive(), driveDocument("/a/b.txt", false, 9),
                                                 localDocument(path("out")));
    task->addTaskItem(item);
    std::atomic<bool> sawTemp{false}, goneAfter{false};
    const QString tempCopy = task->tempDirectory() + "/a/b.txt";
    // The upload is the only to-queue work; look at the temporary copy when it starts.
    manager->registerListenerForTaskItemUpdateBlock("t", [&](QNTaskItemPtr) {
        if (QFileInfo::exists(tempCopy))
            sawTemp = true;
    });
    item->registerListenerForTaskItemCompletedBlock("t", [&](VNErrorPtr, QNDocumentPtr, bool) {
        goneAfter = !QFileInfo::exists(tempCopy);
    });
    ASSERT_TRUE(runTask(manager, task));
    EXPECT_TRUE(sawTemp.load());
    EXPECT_TRUE(goneAfter.load());
    EXPECT_EQ(VNTest::readFile(path("out/b.txt")), QByteArray("temporary"));
}

TEST_F(CopyTask, FailedTransferCancelsTheTaskWritesNothingAndLeavesNoTemporaryFolder) {
    const QString remote = path("remote");
    writeTree(remote, {{"x.txt", "x"}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    QDir().mkpath(path("out"));
    QDir().mkpath(path("ok"));
    QNTaskPtr ok, task;
    copyOne(fake, localDrive(), driveDocument("/x.txt", false, 1), localDocument(path("ok")), &ok);
    EXPECT_FALSE(QFileInfo::exists(ok->tempDirectory()));
    const QString other = path("other");
    auto otherFake = QNFakeRemoteHandler::makeDriveConfig(other);
    for (Op op : {Op::Download, Op::Upload}) {
        QNFakeRemoteHandler::resetBehaviours();
        setMode(op, Mode::Fail, op == Op::Download ? remote : other);
        auto [error, doc, cancelled] = op == Op::Download
            ? copyOne(fake, localDrive(), driveDocument("/x.txt", false, 1), localDocument(path("out")), &task)
            : copyOne(fake, otherFake, driveDocument("/x.txt", false, 1), driveDocument("/", true), &task);
        ASSERT_TRUE(error);
        EXPECT_FALSE(doc || cancelled);
        EXPECT_TRUE(task->canceled());
        EXPECT_FALSE(QFileInfo::exists(task->tempDirectory()));
        if (op == Op::Download)
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
    }
    EXPECT_TRUE(QDir(path("out")).isEmpty());
    EXPECT_TRUE(QDir(other).isEmpty());
    QNFakeRemoteHandler::resetBehaviours();
    auto cancelled = std::make_shared<QNCopyTask>();
    cancelled->addTaskItem(std::make_shared<QNCopyTaskItem>(fake, localDrive(), driveDocument("/x.txt", false, 1),
                                                            localDocument(path("out"))));
    cancelled->cancel();
    ASSERT_TRUE(runTask(manager, cancelled));
    EXPECT_FALSE(QFileInfo::exists(cancelled->tempDirectory()));
    EXPECT_TRUE(QDir(path("out")).isEmpty());
    EXPECT_TRUE(QDir(VNTempDirectory::path()).isEmpty());
}

TEST_F(CopyTask, UploadCancelledWhileRunningDeletesTheTemporaryCopyAndReportsCancelled) {
    const QString a = path("remoteA"), b = path("remoteB");
    writeTree(a, {{"x.bin", QByteArray(1000, 'x')}});
    auto fromFake = QNFakeRemoteHandler::makeDriveConfig(a);
    auto toFake = QNFakeRemoteHandler::makeDriveConfig(b);
    setMode(Op::Upload, Mode::NeverAnswer, b);
    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(fromFake, toFake, driveDocument("/x.bin", false, 1000),
                                                 driveDocument("/", true));
    auto reports = watchItem(item);
    task->addTaskItem(item);
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([&] { return item->running() && QNFakeRemoteHandler::callCount(Op::Upload) == 1; }));
    EXPECT_TRUE(manager->hasRunningTaskItems());
    task->cancel();
    ASSERT_TRUE(waitForCompletion(task));
    ASSERT_EQ(reports->count(), 1);
    EXPECT_FALSE(std::get<0>(reports->first()));
    EXPECT_TRUE(std::get<2>(reports->first()));
    EXPECT_FALSE(QFileInfo::exists(task->tempDirectory()));
    EXPECT_FALSE(QFileInfo::exists(b + "/x.bin"));
}

TEST_F(CopyTask, PrimaryFolderEndsOnceAtAFailingSubitemAndRemembersACancelledOne) {
    for (bool cancelPart : {false, true}) {
        const QString remote = path(cancelPart ? "cancelled" : "failed");
        writeTree(remote, {{"dir/1.txt", "1"}, {"dir/2.txt", "2"}, {"dir/3.txt", "3"}});
        auto scripted = ScriptedRemoteHandler::makeDriveConfig(remote);
        ScriptedRemoteHandler::Script script;
        if (cancelPart)
            script.cancelDownloadsNamed = "1.txt";  // the first to report; the others succeed
        else
            script.failDownloadsNamed = "2.txt";
        ScriptedRemoteHandler::setScript(script);
        const QString out = remote + "-out";
        QDir().mkpath(out);
        auto task = std::make_shared<QNCopyTask>();
        auto primary = std::make_shared<QNCopyTaskItem>(scripted, localDrive(), driveDocument("/dir", true),
                                                        localDocument(out));
        auto reports = watchItem(primary);
        task->addTaskItem(primary);
        ASSERT_TRUE(runTask(manager, task));
        ASSERT_EQ(reports->count(), 1);
        EXPECT_EQ(bool(std::get<0>(reports->first())), !cancelPart);
        EXPECT_EQ(std::get<2>(reports->first()), cancelPart) << "a tree with a cancelled part was reported as a whole copy";
        EXPECT_EQ(task->canceled(), !cancelPart);
        if (!cancelPart) {
            EXPECT_EQ(primary->subitems().size(), 3);
            EXPECT_EQ(primary->unfinishedSubTaskItems(), 0) << "every sub-item still lowers the count";
            EXPECT_FALSE(QFileInfo::exists(out + "/dir/2.txt"));
        }
    }
}

TEST_F(CopyTask, ServerGivenDotDotNeverLeavesTheTaskFolder) {
    const QString remote = path("remote");
    writeTree(remote, {{"x.txt", "x"}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    QDir().mkpath(path("out"));
    for (const QString &bad : {QStringLiteral("/a/../../../escape.txt"), QStringLiteral("/.."),
                               QStringLiteral("/./x.txt"), QStringLiteral("/x") + QChar(u'\0') + ".txt"}) {
        for (bool folder : {false, true}) {
            QNFakeRemoteHandler::resetBehaviours();
            QNTaskPtr task;
            auto [error, doc, cancelled] = copyOne(fake, localDrive(), driveDocument(bad, folder, 1),
                                                   localDocument(path("out")), &task);
            ASSERT_TRUE(error) << bad.toStdString();
            EXPECT_FALSE(cancelled);
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Download), 0);
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::CreateFolder), 0);
        }
    }
    EXPECT_TRUE(QDir(path("out")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/escape.txt"));
    EXPECT_TRUE(QDir(VNTempDirectory::path()).isEmpty());
}

TEST_F(CopyTask, DocumentsWithOnePathGetSeparateTemporaryFiles) {
    const QString a = path("remoteA"), b = path("remoteB"), c = path("remoteC");
    writeTree(a, {{"same.txt", QByteArray(30000, 'A')}});
    writeTree(b, {{"same.txt", QByteArray(30000, 'B')}});
    auto fromA = QNFakeRemoteHandler::makeDriveConfig(a);
    auto fromB = QNFakeRemoteHandler::makeDriveConfig(b);
    auto to = QNFakeRemoteHandler::makeDriveConfig(c);
    writeTree(c, {{"fromA/", ""}, {"fromB/", ""}});
    // Uploads answer late, so the second download runs while the first upload waits.
    setMode(Op::Upload, Mode::Answer, c, 300);
    auto task = std::make_shared<QNCopyTask>();
    task->addTaskItem(std::make_shared<QNCopyTaskItem>(fromA, to, driveDocument("/same.txt", false, 30000),
                                                       driveDocument("/fromA", true)));
    task->addTaskItem(std::make_shared<QNCopyTaskItem>(fromB, to, driveDocument("/same.txt", false, 30000),
                                                       driveDocument("/fromB", true)));
    ASSERT_TRUE(runTask(manager, task));
    EXPECT_FALSE(task->canceled());
    EXPECT_EQ(VNTest::readFile(c + "/fromA/same.txt"), QByteArray(30000, 'A'));
    EXPECT_EQ(VNTest::readFile(c + "/fromB/same.txt"), QByteArray(30000, 'B'));
}

TEST_F(CopyTask, FolderIntoItselfIsRefused) {
    writeTree(path("src/tree"), {{"a.txt", "a"}, {"sub/b.txt", "b"}});
    const QStringList before = listTree(path("src"));
    for (const QString &into : {QStringLiteral("src/tree"), QStringLiteral("src/tree/sub"),
                                QStringLiteral("src/tree/sub/")}) {
        auto [error, doc, cancelled] = copyOne(localDrive(), localDrive(), localDocument(path("src/tree")),
                                               driveDocument(path(into), true));
        ASSERT_TRUE(error) << into.toStdString();
        EXPECT_TRUE(error->localizedDescription().contains("into itself"));
        EXPECT_FALSE(cancelled);
    }
    EXPECT_EQ(listTree(path("src")), before);
    // A folder beside it whose name only starts alike is fine.
    QDir().mkpath(path("src/tree-copy"));
    auto [error, doc, cancelled] = copyOne(localDrive(), localDrive(), localDocument(path("src/tree")),
                                           localDocument(path("src/tree-copy")));
    EXPECT_FALSE(error);
    EXPECT_EQ(compareTrees(path("src/tree"), path("src/tree-copy/tree")), QString());
}

// Loose files dropped onto one folder look at one listing of it, however
// many they are; a folder of a file's name in it still fails that file,
// naming the folder, which keeps what it held. A listing that failed is not
// asked for again: the files go as they would without it.
TEST_F(CopyTask, LooseFilesOntoOneFolderListItOnce) {
    struct Row {
        const char *tag;
        const char *namesake;  // a folder of this name in the destination, or none
        bool listingFails;
    };
    for (const Row &row : {Row{"plain", nullptr, false}, Row{"clash", "f07.txt", false},
                           Row{"unlisted", nullptr, true}}) {
        QNFakeRemoteHandler::resetBehaviours();
        if (row.listingFails)
            setMode(Op::List, Mode::Fail);
        const QString tag = QLatin1String(row.tag);
        const QString remote = path("remote-" + tag);
        QMap<QString, QByteArray> there{{"dest/", ""}};
        if (row.namesake)
            there.insert(QStringLiteral("dest/%1/inside.txt").arg(row.namesake), "inside");
        writeTree(remote, there);
        auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
        auto task = std::make_shared<QNCopyTask>();
        std::vector<std::shared_ptr<ItemReports>> reports;
        for (int i = 0; i < 20; ++i) {
            const QString name = QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0'));
            const QString file = path("src-" + tag + "/" + name);
            writeTree(path("src-" + tag), {{name, name.toUtf8()}});
            auto item = std::make_shared<QNCopyTaskItem>(localDrive(), fake, localDocument(file),
                                                         driveDocument("/dest", true));
            reports.push_back(watchItem(item));
            task->addTaskItem(item);
        }
        ASSERT_TRUE(runTask(manager, task)) << tag.toStdString();
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::List), 1) << tag.toStdString();
        if (!row.namesake) {
            EXPECT_FALSE(task->canceled());
            EXPECT_EQ(QDir(remote + "/dest").entryList(QDir::Files).size(), 20);
            continue;
        }
        QStringList errors;
        for (const auto &report : reports)
            if (report->count() && std::get<0>(report->first()))
                errors << std::get<0>(report->first())->localizedDescription();
        EXPECT_TRUE(errors.join('\n').contains(QStringLiteral("The file \u201cf07.txt\u201d was not copied")))
            << errors.join('\n').toStdString();
        EXPECT_EQ(VNTest::readFile(remote + "/dest/f07.txt/inside.txt"), QByteArray("inside"));
    }
}
