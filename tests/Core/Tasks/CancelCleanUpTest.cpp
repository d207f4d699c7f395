// A copy whose upload is cancelled, by the user or because another item
// failed, while the destination drive still has to remove what the upload
// left: the task ends, and its completed listeners run, only after that.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNRemoveTaskItem.h"
#include "Platform/VNLog.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <memory>

using namespace TaskTest;

namespace {
class CancelCleanUp : public TaskFixture {};

// An item whose clean-up outside the task's queues holds its task until
// the test ends it, with the ending the test gives.
class HoldingItem : public QNTaskItem {
public:
    void enqueue(VNOperationQueue *, VNOperationQueue *, VNOperationQueue *, const QNTaskPtr &task,
                 const QNTaskItemPtr &, QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock) override {
        m_completed = std::move(completed);
        m_hold = task->holdLifeCycle(shared_from_this());
    }
    // Reports, then lets go of the task.
    void end(const VNErrorPtr &error) {
        finishItem(m_completed, error, nullptr, false);
        m_hold.reset();
    }
    VNErrorPtr ending() const { return makeError(QStringLiteral("put right after the cancel")); }

private:
    QNTaskItemCompletedBlock m_completed;
    std::shared_ptr<void> m_hold;
};
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

// A cancelled task waits for the clean-up holding it as long as that
// clean-up moves on (each of its answers touches the task), and ends once
// it has been still for the limit, woken by the cancel whenever it comes.
// An item still holding the task then is left out of the end pass: its
// listeners hear its own ending when it comes. Each row differs from the
// second in one condition.
TEST_F(CancelCleanUp, ACancelledTaskWaitsForItsCleanUpWhileItMovesOn) {
    struct Row {
        const char *name;
        bool movesOn;             // the clean-up touches the task for three times the limit, then ends
        bool cancelWhileWaiting;  // else the task is cancelled before it runs
    };
    const Row rows[] = {
        {"moving on past the limit", true, true},
        {"still, cancelled while the task waits for it", false, true},
        {"still, cancelled before the task runs", false, false},
    };
    const auto limit = std::chrono::milliseconds(1000);
    QNTask::setCancelledCallsWaitLimit(limit);
    VNLog::setCapturing(true);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        [&] {  // a failing row ends here; the others still run
            VNLog::clearCaptured();
            auto task = std::make_shared<QNTask>();
            auto holding = std::make_shared<HoldingItem>();
            // Reported by the end pass right after the holding item's turn.
            auto idle = std::make_shared<QNTaskItem>();
            auto holdingReports = watchItem(holding);
            auto idleReports = watchItem(idle);
            task->addTaskItem(holding);
            task->addTaskItem(idle);
            auto heardAtEnd = std::make_shared<std::atomic<int>>(-1);
            task->registerListenerForTaskCompletedBlock("test", [heardAtEnd, holdingReports] {
                heardAtEnd->store(holdingReports->count());
            });
            if (!row.cancelWhileWaiting)
                task->cancel();
            manager->addTask(task);
            if (row.cancelWhileWaiting) {
                EXPECT_TRUE(VNTest::waitUntil([] {
                    return VNLog::captured().contains(QStringLiteral("QNTask: waiting for work holding the task"));
                })) << "the task never waited for its hold";
                task->cancel();
            }
            if (row.movesOn) {
                for (int i = 0; i < 15; ++i) {
                    VNTest::spin(200);
                    task->touch();
                }
                EXPECT_FALSE(task->completed()) << "the task ended while its clean-up was moving on";
                holding->end(holding->ending());
                EXPECT_TRUE(waitForCompletion(task));
                EXPECT_EQ(heardAtEnd->load(), 1) << "the task ended before its clean-up";
            } else {
                // Still for the limit: the task ends without it.
                EXPECT_TRUE(VNTest::waitUntil([&] { return idleReports->count() == 1; }, 20000)) << "the task never ended";
                EXPECT_TRUE(task->completed());
                EXPECT_EQ(holdingReports->count(), 0) << "the end pass reported an item still at work";
                holding->end(holding->ending());
            }
            ASSERT_EQ(holdingReports->count(), 1);
            const auto [error, document, cancelled] = holdingReports->first();
            EXPECT_FALSE(cancelled);
            EXPECT_TRUE(error && error->userInfo().value("error").toString() == "put right after the cancel")
                << "the item's own ending was dropped";
        }();
    }
    VNLog::setCapturing(false);
}

// A step cancelled before it starts answers its item as cancelled: the
// item reports through the task (the manager hears it), not only through the
// end pass, which a cancelled task reaches after its bounded wait anyway.
// Two removals run at once; the third is cancelled in its queue.
TEST_F(CancelCleanUp, AStepCancelledBeforeItStartsAnswersItsItem) {
    const QString root = path("removals");
    writeTree(root, {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    setMode(QNFakeRemoteHandler::Op::Remove, QNFakeRemoteHandler::Mode::CancelledOnCancel, root);
    const auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
    auto task = std::make_shared<QNTask>();
    for (const char *name : {"/a.txt", "/b.txt", "/c.txt"})
        task->addTaskItem(std::make_shared<QNRemoveTaskItem>(drive, driveDocument(name, false, 1)));
    auto heard = std::make_shared<std::atomic<int>>(0);
    manager->registerListenerForTaskItemCompletedBlock("test", [heard](VNErrorPtr error, QNTaskItemPtr, bool cancelled) {
        if (!error && cancelled)
            ++*heard;
    });
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(QNFakeRemoteHandler::Op::Remove) == 2; }));
    task->cancel();
    EXPECT_TRUE(waitForCompletion(task));
    EXPECT_EQ(heard->load(), 3) << "a removal cancelled in its queue never answered its item";
    EXPECT_EQ(QNFakeRemoteHandler::callCount(QNFakeRemoteHandler::Op::Remove), 2);
    EXPECT_EQ(listTree(root), (QStringList{"a.txt", "b.txt", "c.txt"}));
}
