// The task list in the drawer: rows for running tasks, their texts and
// progress, cancelling, and rows reused for other tasks.
#include "PanesTestSupport.h"

#include "App/QNTaskTableCellView.h"
#include "App/QNTaskTableViewController.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNTaskManager.h"

#include <QLabel>
#include <QMutex>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <limits>

namespace {

// A task whose description and progress the test sets.
class ScriptedTask : public QNTask {
public:
    QString description() const override {
        QMutexLocker lock(&m_mutex);
        return m_description;
    }
    void setDescription(const QString &d) {
        QMutexLocker lock(&m_mutex);
        m_description = d;
    }
    float progress() const override { return m_progress.load(); }
    void setProgress(float p) { m_progress.store(p); }

private:
    mutable QMutex m_mutex;
    QString m_description = QStringLiteral("Scripted task");
    std::atomic<float> m_progress{0.0f};
};

// Warnings Qt prints while a test runs (timers touched from other threads).
struct WarningCatcher {
    static inline QMutex mutex;
    static inline QStringList warnings;
    static inline QtMessageHandler previous = nullptr;

    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (type == QtWarningMsg || type == QtCriticalMsg) {
            QMutexLocker lock(&mutex);
            warnings << message;
        }
        if (previous)
            previous(type, context, message);
    }
    WarningCatcher() {
        QMutexLocker lock(&mutex);
        warnings.clear();
        previous = qInstallMessageHandler(&WarningCatcher::handler);
    }
    ~WarningCatcher() { qInstallMessageHandler(previous); }
    static QStringList timerWarnings() {
        QMutexLocker lock(&mutex);
        QStringList out;
        for (const QString &w : warnings)
            if (w.contains(QLatin1String("imer")))
                out << w;
        return out;
    }
};

class TaskListTest : public PanesTest {
protected:
    QNMainWindowController *first = nullptr;
    QNMainWindowController *second = nullptr;
    QString sourceFolder;
    QString destinationFolder;

    void TearDown() override {
        // No task may outlive its test.
        if (delegate && delegate->taskManager()) {
            for (const QNTaskPtr &task : delegate->taskManager()->tasks()) {
                task->setPaused(false);
                task->cancel();
            }
            VNTest::waitUntil([this] { return delegate->taskManager()->tasks().isEmpty(); }, 20000);
        }
        PanesTest::TearDown();
    }

    // Two windows: the first shows the source drive, the second the
    // destination drive.
    void openTwoPanes(qint64 fileSize = 65536 * 3 + 17) {
        sourceFolder = folder(QStringLiteral("source"));
        destinationFolder = folder(QStringLiteral("destination"));
        writeFile(sourceFolder + QStringLiteral("/report.txt"), fileSize);
        first = launch();
        ASSERT_NE(first, nullptr);
        storeDrives({localDrive(QStringLiteral("SOURCE"), sourceFolder),
                     localDrive(QStringLiteral("DESTINATION"), destinationFolder)});
        ASSERT_TRUE(openRow(first, 0));
        second = delegate->newDocument();
        VNTest::spin(30);
        ASSERT_TRUE(openRow(second, 1));
    }

    // A copy of the source pane's file into the destination pane's folder,
    // as a drop between the panes makes it.
    QNTaskPtr copyTask() const {
        QNMacFilesViewController *from = first->filesViewController();
        QNMacFilesViewController *to = second->filesViewController();
        auto task = std::make_shared<QNCopyTask>();
        task->addTaskItem(std::make_shared<QNCopyTaskItem>(from->driveConfig(), to->driveConfig(),
                                                           from->documents().first(), to->document()));
        return task;
    }

    // A copy task held at its start, so its row can be looked at.
    QNTaskPtr heldCopyTask() {
        QNTaskPtr task = copyTask();
        task->setPaused(true);
        delegate->taskManager()->addTask(task);
        return task;
    }

    QNTaskTableViewController *drawer(QNMainWindowController *w) const { return w->taskTableViewController(); }
};

}  // namespace

TEST_F(TaskListTest, ACopyBetweenTwoPanesShowsARowUntilItEndsOrIsCancelled) {
    openTwoPanes();
    // Cancelled: the row stays, in every window, saying so with its button
    // disabled, for as long as the task's clean-up (here a hold the test
    // keeps) takes; it goes once the task has ended.
    QNTaskPtr cancelled = heldCopyTask();
    std::shared_ptr<void> cleanUp = cancelled->holdLifeCycle();
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(first)->numberOfRowsInTableView() == 1; }));
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(second)->numberOfRowsInTableView() == 1; }));
    drawer(first)->cellAtRow(0)->cancelButton()->click();
    EXPECT_TRUE(cancelled->canceled());
    for (QNMainWindowController *w : {first, second}) {
        drawer(w)->refresh();
        ASSERT_EQ(drawer(w)->numberOfRowsInTableView(), 1);
        QNTaskTableCellView *row = drawer(w)->cellAtRow(0);
        EXPECT_EQ(row->subTitle()->text(), QStringLiteral("Cancelling\u2026"));
        EXPECT_FALSE(row->cancelButton()->isEnabled());
    }
    EXPECT_FALSE(cancelled->completed());
    cleanUp.reset();
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(first)->numberOfRowsInTableView() == 0; }, 20000));
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(second)->numberOfRowsInTableView() == 0; }));
    EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(destinationFolder + QStringLiteral("/report.txt")));

    // The list is not told: it finds the task at its next pass.
    QNTaskPtr task = heldCopyTask();
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(first)->numberOfRowsInTableView() == 1; }));
    QNTaskTableCellView *cell = drawer(first)->cellAtRow(0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->task(), task);
    EXPECT_EQ(cell->name()->text(), task->description());
    EXPECT_EQ(cell->subTitle()->text(), QStringLiteral("report.txt"));
    EXPECT_EQ(cell->progressIndicator()->value(), 0);
    EXPECT_TRUE(cell->cancelButton()->isEnabled()) << "a row reused after a cancelled task";
    // Every window's drawer lists it.
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(second)->numberOfRowsInTableView() == 1; }));

    task->setPaused(false);
    ASSERT_TRUE(VNTest::waitUntil([&] { return drawer(first)->numberOfRowsInTableView() == 0; }, 20000));
    EXPECT_EQ(QFileInfo(destinationFolder + QStringLiteral("/report.txt")).size(), 65536 * 3 + 17);
    // The row let go of the task and stopped its timer.
    EXPECT_EQ(cell->task(), nullptr);
    EXPECT_EQ(cell->updateTimer(), nullptr);
}

TEST_F(TaskListTest, OneChangeOfATaskReachesEveryWindowShowingIt) {
    openTwoPanes();
    auto task = std::make_shared<ScriptedTask>();
    task->addTaskItem(std::make_shared<QNCopyTaskItem>(first->filesViewController()->driveConfig(),
                                                       second->filesViewController()->driveConfig(),
                                                       first->filesViewController()->documents().first(),
                                                       second->filesViewController()->document()));
    task->setDescription(QStringLiteral("Copy 190 files\u2026"));
    task->setPaused(true);
    delegate->taskManager()->addTask(task);
    drawer(first)->refresh();
    QNTaskTableCellView *one = drawer(first)->cellAtRow(0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->name()->text(), QStringLiteral("Copy 190 files\u2026"));

    // The task moves on; the second window's list comes to it afterwards.
    task->setDescription(QStringLiteral("Copy 187 files\u2026"));
    task->setProgress(0.25f);
    drawer(second)->refresh();
    QNTaskTableCellView *other = drawer(second)->cellAtRow(0);
    ASSERT_NE(other, nullptr);
    const auto bothShowTheSame = [&](const QString &text) {
        const auto shows = [&](QNTaskTableCellView *cell) { return cell->name()->text() == text; };
        EXPECT_TRUE(VNTest::waitUntil([&] { return shows(one) || shows(other); }));
        EXPECT_EQ(one->name()->text().toStdString(), other->name()->text().toStdString());
        EXPECT_EQ(one->progressIndicator()->value(), other->progressIndicator()->value());
    };
    bothShowTheSame(QStringLiteral("Copy 187 files\u2026"));
    // A change while both show it.
    task->setDescription(QStringLiteral("Copy 150 files\u2026"));
    task->setProgress(0.5f);
    bothShowTheSame(QStringLiteral("Copy 150 files\u2026"));
    EXPECT_EQ(one->progressIndicator()->value(), 50);
}

TEST_F(TaskListTest, ProgressIsClampedAndTheRowNamesItsDocument) {
    const std::pair<float, int> cases[] = {{0.25f, 25}, {1.0f, 100}, {1.7f, 100}, {-0.5f, 0},
                                           {std::numeric_limits<float>::quiet_NaN(), 0},
                                           {std::numeric_limits<float>::infinity(), 0}};
    for (const auto &[progress, percent] : cases)
        EXPECT_EQ(QNTaskTableCellView::progressPercent(progress), percent) << progress;

    QNTaskTableCellView cell;
    auto task = std::make_shared<ScriptedTask>();
    cell.setTask(task);
    task->setProgress(0.25f);
    cell.update(cell.updateTimer());
    EXPECT_EQ(cell.progressIndicator()->value(), 25);
    EXPECT_EQ(cell.name()->text(), QStringLiteral("Scripted task"));
    cell.setTask(nullptr);

    // The row names the document, or the last component of its path.
    auto named = QNDocument::withPath(QStringLiteral("/x/y/file.txt"));
    named->setDisplayName(QStringLiteral("Shown"));
    EXPECT_EQ(QNTaskTableCellView::shownName(named), QStringLiteral("Shown"));
    auto unnamed = QNDocument::create();
    unnamed->setPath(QStringLiteral("/x/y/folder/"));
    EXPECT_EQ(QNTaskTableCellView::shownName(unnamed), QStringLiteral("folder"));
    EXPECT_EQ(QNTaskTableCellView::shownName(nullptr), QString());
}

TEST_F(TaskListTest, AReusedRowIgnoresItsEarlierTask) {
    WarningCatcher catcher;
    openTwoPanes(65536 * 64);
    auto manager = std::make_shared<QNTaskManager>();
    QNTaskPtr earlier = copyTask();
    std::atomic<bool> earlierDone{false};
    earlier->registerListenerForTaskCompletedBlock(QStringLiteral("test"), [&] { earlierDone = true; });

    QNTaskTableCellView cell;
    cell.setTask(earlier);
    auto later = std::make_shared<ScriptedTask>();
    cell.setTask(later);
    cell.subTitle()->setText(QStringLiteral("later"));
    QTimer *timer = cell.updateTimer();
    ASSERT_NE(timer, nullptr);

    // The earlier task runs to its end: its progress and its completion
    // must not reach the row any more.
    manager->addTask(earlier);
    ASSERT_TRUE(VNTest::waitUntil([&] { return earlierDone.load(); }, 20000));
    VNTest::spin(100);
    EXPECT_EQ(cell.task(), later);
    EXPECT_EQ(cell.updateTimer(), timer);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(cell.subTitle()->text(), QStringLiteral("later"));
    EXPECT_EQ(QFileInfo(destinationFolder + QStringLiteral("/report.txt")).size(), 65536 * 64);
    cell.setTask(nullptr);

    // A task that ends on the manager's thread stops its row's timer on the
    // main thread; while it ran, the row followed the document copied.
    QFile::remove(destinationFolder + QStringLiteral("/report.txt"));
    QNTaskPtr task = copyTask();
    cell.setTask(task);
    ASSERT_NE(cell.updateTimer(), nullptr);
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([&] { return cell.task() == nullptr; }, 20000));
    EXPECT_EQ(cell.updateTimer(), nullptr);
    EXPECT_EQ(cell.subTitle()->text(), QStringLiteral("report.txt"));
    EXPECT_TRUE(catcher.timerWarnings().isEmpty()) << catcher.timerWarnings().join('\n').toStdString();
}

TEST_F(TaskListTest, WithoutTasksTheListIsEmptyAndTheDrawerButtonHidesAndShowsIt) {
    first = launch();
    drawer(first)->refresh();
    EXPECT_EQ(drawer(first)->numberOfRowsInTableView(), 0);
    EXPECT_EQ(drawer(first)->cellAtRow(0), nullptr);
    first->window()->show();
    VNTest::spin(20);
    const bool open = first->isDrawerOpen();
    first->toggleDrawerButton()->click();
    EXPECT_NE(first->isDrawerOpen(), open);
    first->toggleDrawerButton()->click();
    EXPECT_EQ(first->isDrawerOpen(), open);
}

TEST_F(TaskListTest, TheApplicationOutlivesItsWindowsWhileATaskRunsAndEndsAfterIt) {
    openTwoPanes();
    int quits = 0;
    delegate->setQuitHandler([&] { ++quits; });
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    QNTaskPtr task = heldCopyTask();
    first->window()->close();
    second->window()->close();
    VNTest::spin(50);
    EXPECT_EQ(quits, 0);
    // A later launch reaches this instance and gets a window; closing it
    // with the task still running keeps the application.
    delegate->applicationShouldHandleReopen(false);
    QNMainWindowController *third = delegate->windowControllers().last();
    EXPECT_TRUE(third->window()->isVisible());
    third->window()->close();
    VNTest::spin(50);
    EXPECT_EQ(quits, 0);
    task->setPaused(false);
    ASSERT_TRUE(VNTest::waitUntil([&] { return quits == 1; }, 20000));
    EXPECT_EQ(QFileInfo(destinationFolder + QStringLiteral("/report.txt")).size(), 65536 * 3 + 17);
}
