// Dragging entries of a remote drive out to another application: the files
// are copied out when the target asks for them after the drop, by a task the
// task list shows and can cancel. A copy that fails shows the entry's error,
// and a failed, cancelled or given-up copy hands over no file and leaves no
// folder; a second request while the copy runs gets the same files.
#include "PanesTestSupport.h"

#include "App/QNTaskTableCellView.h"
#include "App/QNTaskTableViewController.h"
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNLog.h"

#include <QMap>
#include <QMimeData>
#include <QTimer>
#include <QToolButton>

namespace {

using Fake = QNFakeRemoteHandler;

class DragOutTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        Fake::registerWithFactory();
        Fake::resetBehaviours();
    }
    void TearDown() override {
        if (delegate && delegate->taskManager()) {
            for (const QNTaskPtr &task : delegate->taskManager()->tasks())
                task->cancel();
            VNTest::waitUntil([this] { return delegate->taskManager()->tasks().isEmpty(); }, 20000);
        }
        Fake::resetBehaviours();
        PanesTest::TearDown();
    }

    // A window on a remote drive holding these files (first.txt and second.txt).
    void openRemoteDrive(const QMap<QString, QByteArray> &files = {{"first.txt", "first"}, {"second.txt", "second"}}) {
        server = folder(QStringLiteral("server"));
        for (auto it = files.begin(); it != files.end(); ++it)
            ASSERT_TRUE(VNTest::writeFile(server + QLatin1Char('/') + it.key(), it.value()));
        drive = Fake::makeDriveConfig(server);
        w = openDrive(drive);
        ASSERT_NE(w, nullptr);
        pane = w->filesViewController();
        QStringList shown = names(pane->documents());
        shown.sort();
        ASSERT_EQ(shown, QStringList(files.keys()));
    }

    // Both entries dragged, and dropped on another application.
    std::unique_ptr<QMimeData> dropBoth() {
        std::unique_ptr<QMimeData> data(pane->writeDrag({0, 1}));
        pane->dragEnded();
        return data;
    }

    // The copies left in the pane's temporary folder.
    QStringList copiesLeft() const {
        return QDir(pane->tempPath()).entryList({QStringLiteral("drag-*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    // Runs step inside the loop a request for the files waits in, once the
    // copy-out task has started.
    void whileTheRequestWaits(std::function<void(const QNTaskPtr &)> step) {
        auto *poll = new QTimer(pane);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, step] {
            const auto tasks = delegate->taskManager()->tasks();
            if (tasks.isEmpty() || Fake::callCount(Fake::Op::Download) == 0)
                return;
            poll->deleteLater();
            poll->stop();
            step(tasks.first());
        });
        poll->start(10);
    }

    QString server;
    QNDriveConfigPtr drive;
    QNMainWindowController *w = nullptr;
    QNMacFilesViewController *pane = nullptr;
};

}  // namespace

TEST_F(DragOutTest, ACopyOutWhoseSecondFileFailsHandsOverNothingAndShowsTheError) {
    openRemoteDrive();
    QFile::remove(server + QStringLiteral("/second.txt"));  // gone since the listing
    std::unique_ptr<QMimeData> data = dropBoth();
    EXPECT_TRUE(data->urls().isEmpty());
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().history().isEmpty(); }, 10000));
    const QString driveName = drive->displayName().isEmpty() ? drive->name() : drive->displayName();
    EXPECT_EQ(alertTexts(), QStringList{"\u201c" + driveName + "\u201d: Download of \"" + server + "/second.txt\" failed."});
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 10000));
    EXPECT_TRUE(copiesLeft().isEmpty()) << copiesLeft().join(' ').toStdString();
    // Asked again: still nothing, and no second copy.
    EXPECT_TRUE(data->urls().isEmpty());
    EXPECT_EQ(Fake::callCount(Fake::Op::Download), 2);
}

// Two entries whose names differ only in letter case: the copy out leaves
// the second out (it would land on the first). That is no failure of the
// first, which is handed over; no error is shown, and the task's end report
// names the one left out.
TEST_F(DragOutTest, ACopyOutHandsOverWhatArrivedAndItsEndReportNamesWhatItLeftOut) {
    openRemoteDrive({{"Notes.txt", "upper"}, {"notes.txt", "lower"}});
    std::unique_ptr<QMimeData> data = dropBoth();
    const QList<QUrl> urls = data->urls();
    ASSERT_EQ(urls.size(), 1);
    const QString handed = urls.first().toLocalFile();
    EXPECT_EQ(VNTest::readFile(handed), QFileInfo(handed).fileName() == QStringLiteral("Notes.txt") ? "upper" : "lower");
    EXPECT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }, 10000));
    // The end report, and no error sheet before it or behind it.
    const auto sheets = answerSheetsInTurn();
    EXPECT_EQ(messageTexts(sheets), "1 item was not copied");
    EXPECT_TRUE(sheets.value(0).alert.informativeText.contains(QStringLiteral("differs from it only in letter case")))
        << sheets.value(0).alert.informativeText.toStdString();
}

TEST_F(DragOutTest, TheCopyOutIsARowOfTheTaskListWhoseCancelHandsOverNothing) {
    Fake::setBehaviour(Fake::Op::Download, {Fake::Mode::AnswerAfterCancel});
    openRemoteDrive();
    std::unique_ptr<QMimeData> data = dropBoth();
    QNTaskTableViewController *list = w->taskTableViewController();
    bool clicked = false;
    whileTheRequestWaits([&](const QNTaskPtr &) {
        // The application goes on meanwhile: its task list shows the copy.
        list->refresh();
        if (list->numberOfRowsInTableView() == 1) {
            list->cellAtRow(0)->cancelButton()->click();
            clicked = true;
        }
    });
    EXPECT_TRUE(data->urls().isEmpty());
    EXPECT_TRUE(clicked);
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 10000));
    EXPECT_TRUE(copiesLeft().isEmpty()) << copiesLeft().join(' ').toStdString();
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(DragOutTest, ARequestWhileTheCopyRunsGetsTheSameFilesAndATargetThatGivesUpLeavesNoCopy) {
    Fake::setBehaviour(Fake::Op::Download, {Fake::Mode::Answer, 300});
    openRemoteDrive();
    {
        std::unique_ptr<QMimeData> data = dropBoth();
        QList<QUrl> meanwhile;
        whileTheRequestWaits([&](const QNTaskPtr &) { meanwhile = data->urls(); });
        const QList<QUrl> files = data->urls();
        ASSERT_EQ(files.size(), 2);
        EXPECT_EQ(meanwhile, files);
        EXPECT_EQ(VNTest::readFile(files.value(1).toLocalFile()), QByteArray("second"));
        EXPECT_EQ(Fake::callCount(Fake::Op::Download), 2);
        // Handed over: the target may still be reading them.
        data.reset();
        EXPECT_TRUE(QFileInfo::exists(files.value(0).toLocalFile()));
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 10000));

    // The target gives up while the copy runs: the platform lets go of the
    // drag's data from within the loop the request waits in.
    Fake::setBehaviour(Fake::Op::Download, {Fake::Mode::AnswerAfterCancel});
    const QStringList before = copiesLeft();
    QMimeData *data = pane->writeDrag({0, 1});
    pane->dragEnded();
    QNTaskPtr copy;
    whileTheRequestWaits([&](const QNTaskPtr &task) {
        copy = task;
        delete data;
    });
    EXPECT_TRUE(data->urls().isEmpty());
    ASSERT_TRUE(copy);
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 10000));
    EXPECT_TRUE(copy->canceled());
    EXPECT_EQ(copiesLeft(), before);
    // The drop came to nothing: the user is told, once.
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().history().isEmpty(); }, 10000));
    ASSERT_EQ(alertTexts().size(), 1);
    EXPECT_TRUE(alertTexts().first().contains("stopped waiting; nothing was handed over")) << alertTexts().first().toStdString();
}

TEST_F(DragOutTest, ATargetPeekingAtTheFilesBeforeTheDropGetsNoneAndStartsNoCopy) {
    openRemoteDrive();
    std::unique_ptr<QMimeData> data(pane->writeDrag({0}));
    EXPECT_TRUE(data->hasUrls());
    EXPECT_TRUE(data->urls().isEmpty());
    VNTest::spin(50);
    EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
    pane->dragEnded();
    EXPECT_EQ(data->urls().size(), 1);
}

// A target asking for the files after the drop is logged as the view the
// drag came from says it: the table and the thumbnails each in their words.
TEST_F(DragOutTest, TheTargetsRequestForTheFilesIsLoggedByTheViewTheDragCameFrom) {
    openRemoteDrive();
    VNLog::setCapturing(true);
    for (bool fromBrowser : {false, true}) {
        SCOPED_TRACE(fromBrowser ? "thumbnails" : "list");
        VNLog::clearCaptured();
        std::unique_ptr<QMimeData> data(pane->writeDrag({0}, fromBrowser));
        pane->dragEnded();
        EXPECT_EQ(data->urls().size(), 1);
        const QStringList asked = VNLog::captured().filter(QStringLiteral("DroppedAtDestination"));
        EXPECT_EQ(asked, QStringList{fromBrowser ? QStringLiteral("namesOfPromisedFilesDroppedAtDestination")
                                                 : QStringLiteral("namesOfPromizedFilesDroppedAtDestination")});
    }
    VNLog::setCapturing(false);
}
