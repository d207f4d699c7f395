// The Quit command while a copy runs: asked first; quitting anyway cancels
// the copy and ends the application only once the task has ended.
#include "../AppWindowTest.h"

#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"

#include <QAction>

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
    // Asked, and kept running when the user cancels.
    QNDialogService::shared().setModalResponder([](const auto &) { return QNAlertResult{QNAlert::SecondButtonReturn, false}; });
    quit->trigger();
    VNTest::spin(100);
    EXPECT_EQ(alertTexts(), QStringList{"1 task is still running"});
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(Fake::cancelCount(), 0);
    EXPECT_EQ(delegate->taskManager()->tasks().size(), 1);

    // Quitting anyway cancels the copy; the application ends after it.
    QNDialogService::shared().setModalResponder([](const auto &) { return QNAlertResult{QNAlert::FirstButtonReturn, false}; });
    quit->trigger();
    ASSERT_TRUE(VNTest::waitUntil([&] { return quits > 0; }, 10000));
    VNTest::spin(50);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(tasksAtQuit, 0);
    EXPECT_GE(Fake::cancelCount(), 1);
    EXPECT_TRUE(task->canceled());
}

}  // namespace
