// The task manager, the task life cycle and the item reporting rules, with
// the base item kind and simple copies between local folders.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNTempDirectory.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>

using namespace TaskTest;

namespace {

class TaskEngine : public TaskFixture {};

}  // namespace

TEST_F(TaskEngine, TaskWithoutItemsOrWithABaseItemCompletesAndLeavesTheList) {
    std::atomic<int> managerCompleted{0};
    manager->registerListenerForTaskCompletedBlock("t", [&](QNTaskPtr) { ++managerCompleted; });
    for (bool withItem : {false, true}) {
        auto task = std::make_shared<QNTask>();
        const QString temp = task->tempDirectory();
        EXPECT_TRUE(temp.startsWith(VNTempDirectory::path() + QLatin1Char('/')));
        EXPECT_TRUE(QFileInfo(temp).isDir());
        auto item = std::make_shared<QNTaskItem>();
        auto reports = watchItem(item);
        if (withItem) {
            task->addTaskItem(item);
            EXPECT_EQ(item->tempDirectory(), temp);
        }
        ASSERT_TRUE(runTask(manager, task));
        EXPECT_TRUE(task->completed());
        EXPECT_EQ(task->state(), QNTask::TransferPhase);
        EXPECT_FALSE(QFileInfo::exists(temp));
        EXPECT_TRUE(manager->tasks().isEmpty());
        if (!withItem)
            continue;
        // The base item does nothing and is reported once by the end pass.
        ASSERT_EQ(reports->count(), 1);
        auto [error, doc, cancelled] = reports->first();
        EXPECT_FALSE(error || doc || cancelled);
        EXPECT_TRUE(item->finished());
        EXPECT_EQ(item->completedListenerCount(), 0);
    }
    EXPECT_EQ(managerCompleted.load(), 2);
}

TEST_F(TaskEngine, SecondTaskStartsOnlyAfterTheFirstHasEnded) {
    // The first task copies from a drive whose downloads answer late.
    const QString remote = path("remote");
    writeTree(remote, {{"slow.bin", QByteArray(5000, 'x')}});
    auto fake = QNFakeRemoteHandler::makeDriveConfig(remote);
    setMode(QNFakeRemoteHandler::Op::Download, QNFakeRemoteHandler::Mode::Answer, remote, 400);
    QDir().mkpath(path("out1"));
    QDir().mkpath(path("out2"));

    auto first = std::make_shared<QNCopyTask>();
    first->addTaskItem(std::make_shared<QNCopyTaskItem>(fake, localDrive(), driveDocument("/slow.bin", false, 5000),
                                                        localDocument(path("out1"))));
    auto second = std::make_shared<QNCopyTask>();
    second->addTaskItem(std::make_shared<QNCopyTaskItem>(fake, localDrive(), driveDocument("/slow.bin", false, 5000),
                                                         localDocument(path("out2"))));
    std::atomic<int> secondStateWhenFirstEnded{-1};
    std::atomic<bool> firstCompletedWhenSecondStarted{false};
    first->registerListenerForTaskCompletedBlock("t", [&] { secondStateWhenFirstEnded = second->state(); });
    second->registerListenerForTaskMetadataCompletedBlock("t",
                                                          [&] { firstCompletedWhenSecondStarted = first->completed(); });
    manager->addTask(first);
    manager->addTask(second);
    EXPECT_EQ(manager->tasks().size(), 2);
    ASSERT_TRUE(waitForCompletion(first));
    ASSERT_TRUE(waitForCompletion(second));
    QNFakeRemoteHandler::resetBehaviours();
    EXPECT_EQ(secondStateWhenFirstEnded.load(), QNTask::NotStarted);
    EXPECT_TRUE(firstCompletedWhenSecondStarted.load());
    EXPECT_EQ(VNTest::readFile(path("out2/slow.bin")), QByteArray(5000, 'x'));
    EXPECT_TRUE(manager->tasks().isEmpty());
}

TEST_F(TaskEngine, CancelDuringTheMetadataPhaseStartsNothingAndReportsEveryItemOnce) {
    writeTree(path("src"), sampleTree());
    QDir().mkpath(path("out"));
    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(), localDocument(path("src")),
                                                 localDocument(path("out")));
    auto reports = watchItem(item);
    task->addTaskItem(item);
    // Cancel from the first metadata step on: the folder is created, nothing is copied.
    std::atomic<bool> cancelledOnce{false};
    manager->registerListenerForTaskItemAddedBlock("t", [&](QNTaskPtr t, QNTaskItemPtr) {
        if (!cancelledOnce.exchange(true))
            t->cancel();
    });
    ASSERT_TRUE(runTask(manager, task));
    EXPECT_TRUE(task->canceled());
    ASSERT_EQ(reports->count(), 1);
    EXPECT_TRUE(std::get<2>(reports->first()));
    for (const auto &i : task->taskItems())
        EXPECT_TRUE(i->finished());
    const QStringList copied = listTree(path("out"));
    for (const QString &entry : copied)
        EXPECT_TRUE(entry.endsWith(QLatin1Char('/'))) << "a file was copied after the cancel: " << entry.toStdString();
    EXPECT_FALSE(QFileInfo::exists(task->tempDirectory()));
}

TEST_F(TaskEngine, PausedTaskWaitsThenEndsWhenCancelledOrRunsWhenResumed) {
    writeTree(path("src"), {{"f.txt", "file"}});
    std::atomic<int> pausedHeard{-1};
    manager->registerListenerForPausedBlock("t", [&](bool p) { pausedHeard = p; });
    for (bool cancel : {true, false}) {
        QDir(path("out")).removeRecursively();
        QDir().mkpath(path("out"));
        auto task = std::make_shared<QNCopyTask>();
        auto item = std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(), localDocument(path("src/f.txt")),
                                                     localDocument(path("out")));
        auto reports = watchItem(item);
        task->addTaskItem(item);
        task->setPaused(true);  // before the life cycle can open a queue
        manager->addTask(task);
        if (cancel) {
            manager->setPaused(true);
            EXPECT_EQ(pausedHeard.load(), 1);
        }
        EXPECT_TRUE(task->paused());
        VNTest::spin(300);
        EXPECT_FALSE(task->completed()) << "a paused task ran";
        EXPECT_FALSE(QFileInfo::exists(path("out/f.txt")));
        if (cancel)
            task->cancel();
        else
            task->setPaused(false);
        ASSERT_TRUE(waitForCompletion(task));
        EXPECT_EQ(reports->count(), 1);
        EXPECT_EQ(std::get<2>(reports->first()), cancel);
        EXPECT_EQ(QFileInfo::exists(path("out/f.txt")), !cancel);
        EXPECT_FALSE(QFileInfo::exists(task->tempDirectory()));
        manager->setPaused(false);
    }
}

TEST_F(TaskEngine, ProgressWeighsFilesBySizeAndIsZeroWithoutFiles) {
    auto copy = [](const QString &from, bool folder, qint64 size, const QString &to) {
        return std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(), driveDocument(from, folder, size),
                                                driveDocument(to, true));
    };
    auto task = std::make_shared<QNCopyTask>();
    EXPECT_EQ(task->progress(), 0.0f);
    auto folder = copy("/f", true, 999, "/out");
    task->addTaskItem(folder);
    EXPECT_EQ(task->progress(), 0.0f) << "no file items: zero, never NaN";
    auto small = copy("/s", false, 100, "/out"), large = copy("/l", false, 300, "/out");
    task->addTaskItem(small);
    task->addTaskItem(large);
    small->setProgress(0.5f);
    large->setProgress(1.0f);
    EXPECT_FLOAT_EQ(task->progress(), 0.875f);

    // A primary folder item follows its sub-items by size.
    auto primary = copy("/dir", true, 0, "/out");
    task->addTaskItem(primary);
    auto a = copy("/dir/a", false, 100, "/out/dir"), b = copy("/dir/b", false, 300, "/out/dir");
    task->addTaskItem(a, primary);
    task->addTaskItem(b, primary);
    EXPECT_EQ(primary->unfinishedSubTaskItems(), 2);
    std::atomic<int> primaryUpdates{0};
    primary->registerListenerForTaskItemUpdateBlock("t", [&] { ++primaryUpdates; });
    // Kinds set their progress, then report it.
    using Step = std::tuple<std::shared_ptr<QNCopyTaskItem>, float, float>;
    for (const auto &[item, value, expected] : {Step{a, 1.0f, 0.25f}, Step{b, 0.5f, 0.625f}, Step{b, 1.0f, 1.0f}}) {
        item->setProgress(value);
        item->triggerUpdateBlock(nullptr);
        EXPECT_FLOAT_EQ(primary->progress(), expected);
    }
    EXPECT_EQ(primaryUpdates.load(), 3);
}

TEST_F(TaskEngine, TemporaryPlacesAreSeparateForOneDrivePathAndRefuseEscapes) {
    auto task = std::make_shared<QNTask>();
    VNErrorPtr error;
    const QString first = task->reserveTempPath("/a/same.txt", &error);
    const QString second = task->reserveTempPath("/a/same.txt", &error);
    EXPECT_FALSE(error);
    EXPECT_EQ(first, task->tempDirectory() + "/a/same.txt");
    EXPECT_NE(first, second);
    EXPECT_TRUE(second.startsWith(task->tempDirectory() + "/"));
    EXPECT_TRUE(second.endsWith("/same.txt"));
    // A file's place never lies below or above another file's place.
    const QString file = task->reserveTempPath("/x/y", &error);
    const QString below = task->reserveTempPath("/x/y/z", &error);
    const QString above = task->reserveTempPath("/x", &error);
    EXPECT_EQ(file, task->tempDirectory() + "/x/y");
    EXPECT_FALSE(below.startsWith(file + "/"));
    EXPECT_FALSE(file.startsWith(above + "/"));
    EXPECT_TRUE(below.endsWith("/z"));
    EXPECT_TRUE(above.endsWith("/x"));
    // Nor where two names differ only in bytes their drive's encoding could
    // not read ("caf\xE9.txt" and "caf\xE8.txt" in UTF-8), which the disk
    // stores alike: two places, each name kept as the drive gave it (the
    // upload names the copy by it).
    const QChar e9(0xDCE9), e8(0xDCE8);
    const QString twins[][2] = {{"/b/caf" + QString(e9) + ".txt", "/b/caf" + QString(e8) + ".txt"},
                                {"/d" + QString(e9) + "/x.txt", "/d" + QString(e8) + "/x.txt"}};
    for (const auto &twin : twins) {
        const QString one = task->reserveTempPath(twin[0], &error), other = task->reserveTempPath(twin[1], &error);
        EXPECT_TRUE(one.endsWith(twin[0]) && other.endsWith(twin[1])) << other.toStdString();
        EXPECT_NE(QFile::encodeName(one).toStdString(), QFile::encodeName(other).toStdString());
    }
    // Names within the local disk's 255 bytes: a longer folder name is cut,
    // a longer file name (the copy's own name) is refused.
    const QString folder300(300, QLatin1Char('f'));
    const QString held = task->reserveTempPath("/" + folder300 + "/" + QString(255, QLatin1Char('n')), &error);
    EXPECT_FALSE(error);
    EXPECT_EQ(held, task->tempDirectory() + "/" + folder300.left(255) + "/" + QString(255, QLatin1Char('n')));
    EXPECT_TRUE(QDir().mkpath(QFileInfo(held).path()));
    for (const QString &bad : {QStringLiteral("/") + QString(256, QLatin1Char('n')),
                               QStringLiteral("/../x"), QStringLiteral("/a/../../x"), QStringLiteral("/a/./x"),
                               QStringLiteral("/.."), QStringLiteral("/a/"), QStringLiteral(""),
                               QStringLiteral("/a") + QChar(u'\0') + QStringLiteral("b")}) {
        VNErrorPtr refused;
        EXPECT_TRUE(task->reserveTempPath(bad, &refused).isNull()) << bad.toStdString();
        EXPECT_TRUE(refused) << bad.toStdString();
    }
}

TEST_F(TaskEngine, ATaskHandedOverTwiceRunsOnce) {
    writeTree(path("src"), {{"f.txt", "once"}});
    QDir().mkpath(path("out"));
    auto task = std::make_shared<QNCopyTask>();
    task->addTaskItem(std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(), localDocument(path("src/f.txt")),
                                                       localDocument(path("out"))));
    std::atomic<int> completedCount{0};
    task->registerListenerForTaskCompletedBlock("count", [&] { ++completedCount; });
    manager->addTask(task);
    manager->addTask(task);
    EXPECT_EQ(manager->tasks().size(), 1);
    ASSERT_TRUE(waitForCompletion(task));
    manager->addTask(task);
    EXPECT_TRUE(manager->tasks().isEmpty());
    VNTest::spin(100);
    EXPECT_EQ(completedCount.load(), 1);
}
