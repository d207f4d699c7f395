// The Quit command while a copy runs: asked first; quitting anyway cancels
// the copy and ends the application only once the task has ended.
#include "../AppWindowTest.h"

#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"

#include <QAction>
#include <QFileInfo>

namespace {

class QuitTest : public AppWindowTest {};

QAction *quitCommand(QWidget *window) {
    for (QAction *action : window->actions())
        if (action->shortcut() == QKeySequence(QKeySequence::Quit))
            return action;
    return nullptr;
}

TEST_F(QuitTest, QuittingWhileACopyRunsAsksThenCancelsItAndEndsWhenItHasEnded) {
    using Fake = QNFakeRemoteHandler;
    Fake::registerWithFactory();
    Fake::resetBehaviours();
    Fake::setBehaviour(Fake::Op::Upload, {Fake::Mode::AnswerAfterCancel});
    QNMainWindowController *window = launch();
    ASSERT_TRUE(window);
    int quits = 0;
    qsizetype tasksAtQuit = -1;
    delegate->setQuitHandler([&] {
        ++quits;
        tasksAtQuit = delegate->taskManager()->tasks().size();
    });

    auto temp = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(temp->path() + "/big.bin", QByteArray(100000, 'b')));
    auto task = std::make_shared<QNCopyTask>();
    task->addTaskItem(std::make_shared<QNCopyTaskItem>(QNMyDocumentsHandler::makeLocalDriveConfig(),
                                                       Fake::makeDriveConfig(temp->path() + "/server"),
                                                       QNDocument::withPath(temp->path() + "/big.bin"),
                                                       QNDocument::withPath("/", true)));
    delegate->taskManager()->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([] { return Fake::callCount(Fake::Op::Upload) == 1; }, 10000));

    QAction *quit = quitCommand(window->window());
    ASSERT_TRUE(quit);
    // Asked on the window, and kept running when the user cancels.
    quit->trigger();
    ASSERT_EQ(QNDialogService::shared().pendingAlerts().size(), 1);
    const auto question = QNDialogService::shared().pendingAlerts().first();
    EXPECT_EQ(question.alert.messageText, QStringLiteral("1 task is still running"));
    EXPECT_EQ(question.window, window->window());
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    VNTest::spin(100);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(Fake::cancelCount(), 0);
    EXPECT_EQ(delegate->taskManager()->tasks().size(), 1);

    // Quitting anyway cancels the copy; the application ends after it.
    quit->trigger();
    ASSERT_EQ(QNDialogService::shared().pendingAlerts().size(), 1);
    QNDialogService::shared().answer(QNDialogService::shared().pendingAlerts().first().id, QNAlert::FirstButtonReturn);
    ASSERT_TRUE(VNTest::waitUntil([&] { return quits > 0; }, 10000));
    VNTest::spin(50);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(tasksAtQuit, 0);
    EXPECT_GE(Fake::cancelCount(), 1);
    EXPECT_TRUE(task->canceled());
}

TEST_F(QuitTest, TheQuitQuestionFollowsTheTasksAndClosesItselfQuittingWhenTheLastEnds) {
    using Fake = QNFakeRemoteHandler;
    Fake::registerWithFactory();
    Fake::resetBehaviours();
    auto temp = VNTest::makeTempDir();
    const QString quick = temp->path() + "/quick", held = temp->path() + "/held";
    // One copy ends by itself a little later, the other only when cancelled.
    Fake::setBehaviour(Fake::Op::Upload, {Fake::Mode::Answer, 1000}, quick);
    Fake::setBehaviour(Fake::Op::Upload, {Fake::Mode::AnswerAfterCancel}, held);
    QNMainWindowController *window = launch();
    ASSERT_TRUE(window);
    int quits = 0;
    delegate->setQuitHandler([&] { ++quits; });
    ASSERT_TRUE(VNTest::writeFile(temp->path() + "/a.bin", QByteArray(1000, 'a')));
    QList<QNTaskPtr> tasks;
    for (const QString &server : {quick, held}) {
        auto task = std::make_shared<QNCopyTask>();
        task->addTaskItem(std::make_shared<QNCopyTaskItem>(QNMyDocumentsHandler::makeLocalDriveConfig(),
                                                           Fake::makeDriveConfig(server),
                                                           QNDocument::withPath(temp->path() + "/a.bin"),
                                                           QNDocument::withPath("/", true)));
        tasks << task;
        delegate->taskManager()->addTask(task);
    }
    // The manager runs one task at a time: the quick one first.
    ASSERT_TRUE(VNTest::waitUntil([] { return Fake::callCount(Fake::Op::Upload) == 1; }, 10000));
    quitCommand(window->window())->trigger();
    ASSERT_EQ(QNDialogService::shared().pendingAlerts().size(), 1);
    const quint64 id = QNDialogService::shared().pendingAlerts().first().id;
    EXPECT_EQ(QNDialogService::shared().pendingAlerts().first().alert.messageText,
              QStringLiteral("2 tasks are still running"));

    // The quick copy ends: the question says so and stays.
    ASSERT_TRUE(VNTest::waitUntil([&] {
        const auto pending = QNDialogService::shared().pendingAlerts();
        return pending.size() == 1 && pending.first().alert.messageText == QStringLiteral("1 task is still running");
    }, 10000));
    EXPECT_EQ(QNDialogService::shared().pendingAlerts().first().id, id);
    EXPECT_TRUE(QFileInfo::exists(quick + "/a.bin"));
    EXPECT_EQ(quits, 0);

    // The last one ends (cancelled from the task list): the question closes
    // itself and the application ends, as the user asked.
    ASSERT_TRUE(VNTest::waitUntil([] { return Fake::callCount(Fake::Op::Upload) == 2; }, 10000));
    tasks.last()->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return quits > 0; }, 10000));
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
    VNTest::spin(50);
    EXPECT_EQ(quits, 1);
}

}  // namespace
