// A copy whose upload is cancelled, by the user or because another item
// failed, while the destination drive still has to remove what the upload
// left: the task ends, and its completed listeners run, only after that.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <memory>

using namespace TaskTest;

namespace {
class CancelCleanUp : public TaskFixture {};
}  // namespace

TEST_F(CancelCleanUp, ATaskEndsOnlyAfterItsCancelledUploadHasRemovedWhatItLeft) {
    for (bool otherItemFails : {false, true}) {
        SCOPED_TRACE(otherItemFails ? "another item fails" : "cancelled by the user");
        const QString tag = otherItemFails ? "failed" : "cancelled";
        const QString from = path(tag + "/from"), failing = path(tag + "/failing"), to = path(tag + "/to");
        writeTree(from, {{"x.bin", QByteArray(1000, 'x')}});
        writeTree(failing, {{"y.txt", "y"}});
        writeTree(to, {{"keep.txt", "k"}});
        ScriptedRemoteHandler::Script script;
        script.holdUploadsNamed = "x.bin";
        ScriptedRemoteHandler::setScript(script);
        // The other item's download fails well after the held upload began.
        setMode(QNFakeRemoteHandler::Op::Download, QNFakeRemoteHandler::Mode::Fail, failing, 500);
        const auto toDrive = ScriptedRemoteHandler::makeDriveConfig(to);
        auto task = std::make_shared<QNCopyTask>();
        task->addTaskItem(std::make_shared<QNCopyTaskItem>(QNFakeRemoteHandler::makeDriveConfig(from), toDrive,
                                                           driveDocument("/x.bin", false, 1000),
                                                           driveDocument("/", true)));
        if (otherItemFails)
            task->addTaskItem(std::make_shared<QNCopyTaskItem>(QNFakeRemoteHandler::makeDriveConfig(failing),
                                                               toDrive, driveDocument("/y.txt", false, 1),
                                                               driveDocument("/", true)));
        // Shared with the listener, which runs on the task's thread just
        // after the task counts as completed: -1 until it has run.
        auto partAtEnd = std::make_shared<std::atomic<int>>(-1);
        task->registerListenerForTaskCompletedBlock(
            "test", [partAtEnd, to] { *partAtEnd = QFileInfo::exists(to + "/.x.bin.part") ? 1 : 0; });
        manager->addTask(task);
        ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(to + "/.x.bin.part"); }));
        if (!otherItemFails)
            task->cancel();
        ASSERT_TRUE(waitForCompletion(task));
        ASSERT_TRUE(VNTest::waitUntil([&] { return partAtEnd->load() >= 0; }));
        EXPECT_TRUE(task->canceled());
        EXPECT_EQ(partAtEnd->load(), 0) << "the task ended before the drive had removed the part";
        EXPECT_EQ(listTree(to), QStringList{"keep.txt"});
    }
}

// A cancel reports nothing, but what the drive's late answer says it left
// there (a part it could not remove) is named in the task's end report;
// nothing else is.
TEST_F(CancelCleanUp, APartTheDriveCouldNotRemoveIsNamedAtTheTaskEnd) {
    struct Row {
        const char *name;
        bool stays;
        bool unmarked;
    };
    const Row rows[] = {
        {"the drive removed the part", false, false},
        {"the part stays, and the answer says so", true, false},
        {"the part stays, the answer's error says nothing of it", true, true},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString from = path(QStringLiteral("left%1/from").arg(n)), to = path(QStringLiteral("left%1/to").arg(n++));
        writeTree(from, {{"x.bin", QByteArray(1000, 'x')}});
        QDir().mkpath(to);
        ScriptedRemoteHandler::Script script;
        script.holdUploadsNamed = "x.bin";
        script.heldPartStays = row.stays;
        script.heldPartErrorUnmarked = row.unmarked;
        ScriptedRemoteHandler::setScript(script);
        auto task = std::make_shared<QNCopyTask>();
        auto item = std::make_shared<QNCopyTaskItem>(QNFakeRemoteHandler::makeDriveConfig(from),
                                                     ScriptedRemoteHandler::makeDriveConfig(to),
                                                     driveDocument("/x.bin", false, 1000), driveDocument("/", true));
        auto reports = watchItem(item);
        task->addTaskItem(item);
        manager->addTask(task);
        EXPECT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(to + "/.x.bin.part"); }));
        task->cancel();
        EXPECT_TRUE(waitForCompletion(task));
        const QString said = task->leftOut().join(QLatin1Char('\n'));
        EXPECT_EQ(said.contains(QLatin1String(".x.bin.part")), row.stays && !row.unmarked) << said.toStdString();
        EXPECT_EQ(reports->count(), 1);
        EXPECT_TRUE(reports->count() == 1 && std::get<2>(reports->first())) << "the item did not end cancelled";
    }
}
