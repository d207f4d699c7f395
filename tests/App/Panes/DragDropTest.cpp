// Dragging between panes and dropping files of other applications: mouse
// drags from either view, the move question, copies by Ctrl or by the user
// default, the source pane refusing its own drop, another instance's drag
// refused, and vanished paths skipped. Names the destination already holds
// are replaced only after the question, and a destination that cannot be
// listed is not taken for an empty one.
#include "MouseDrag.h"
#include "PanesTestSupport.h"

#include "App/QNAlertPanel.h"
#include "App/QNNameClashCheck.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNUserDefaults.h"

#include <QDropEvent>
#include <QCheckBox>
#include <QMimeData>
#include <optional>

namespace {

// Files of another application as a drive reads them whose listings leave
// out the entries named "unlisted…" and say how many they left out (as a
// server's listing does with lines it cannot read).
class UnlistingHandler : public QNMyDocumentsHandler {
public:
    using QNMyDocumentsHandler::QNMyDocumentsHandler;
    void listDocuments(QNDocumentPtr folder, QString keyword, QNListCallback completed) override {
        QNMyDocumentsHandler::listDocuments(
            folder, keyword, [folder, completed](QNDocumentList documents, QString keyword, VNErrorPtr error, bool cancelled) {
                QNDocumentList listed;
                for (const auto &document : documents)
                    if (!document->displayName().startsWith(QLatin1String("unlisted")))
                        listed << document;
                if (folder && listed.size() < documents.size())
                    folder->setLeftOutCount(int(documents.size() - listed.size()));
                completed(listed, keyword, error, cancelled);
            });
    }
};

class DragDropTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        for (const char *key : {"drop-always-copy", "drop-suppress-ask-move", "drop-suppress-ask-remove"})
            VNUserDefaults::standard().removeObject(QString::fromUtf8(key));
        QNCloudInterfaceFactory::registerHandler(
            QStringLiteral("unlisting-test"), [](const QNDriveConfig &c) { return c.isMyFiles() && c.useAbsolutePath(); },
            [](const QNDriveConfigPtr &c) { return std::make_shared<UnlistingHandler>(c); });
    }
    void TearDown() override {
        PanesTest::TearDown();
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("unlisting-test"));
        // A test's chooser holds its own locals: none outlives the test.
        QNMacFilesViewController::setFolderChooser([](QWidget *) { return QString(); });
    }

    // Window A shows drive A (report.txt, 70,000 bytes), window B drive B (empty).
    void openTwoWindows() {
        folderA = folder(QStringLiteral("A"));
        folderB = folder(QStringLiteral("B"));
        QByteArray bytes(70000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        ASSERT_TRUE(VNTest::writeFile(folderA + QStringLiteral("/report.txt"), bytes));
        a = launch();
        ASSERT_NE(a, nullptr);
        storeDrives({localDrive(QStringLiteral("A"), folderA), localDrive(QStringLiteral("B"), folderB)});
        ASSERT_TRUE(openRow(a, 0));
        b = delegate->newDocument();
        VNTest::spin(30);
        ASSERT_TRUE(openRow(b, 1));
    }
    QStringList listedIn(QNMainWindowController *w) const { return names(w->filesViewController()->documents()); }

    QNMainWindowController *a = nullptr, *b = nullptr;
    QString folderA, folderB;
};

}  // namespace

TEST_F(DragDropTest, AMouseDragToAnotherPaneAsksMoveFilesAndYesMovesItFromEitherView) {
    openTwoWindows();
    a->window()->move(0, 0);
    b->window()->move(800, 0);
    a->window()->show();
    b->window()->show();
    QNDialogService::shared().setAutomated(false);
    const QByteArray bytes = VNTest::readFile(folderA + QStringLiteral("/report.txt"));
    // Dropped back on its own pane: refused, and the drag forgotten.
    QNMacTableView *tableA = a->filesViewController()->tableView();
    ASSERT_TRUE(mouseDrag(tableA, tableA->model()->index(0, 0), tableA->viewport(), QPoint(200, 200)));
    EXPECT_EQ(delegate->draggingFromViewController(), nullptr);
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());

    // From the list view of A to B, then back from the thumbnails of B to A.
    for (bool thumbnails : {false, true}) {
        SCOPED_TRACE(thumbnails ? "thumbnail view" : "list view");
        QNMainWindowController *from = thumbnails ? b : a, *to = thumbnails ? a : b;
        QNMacFilesViewController *source = from->filesViewController();
        source->changeView(thumbnails);
        VNTest::spin(30);
        QAbstractItemView *view = thumbnails ? static_cast<QAbstractItemView *>(source->imageBrowserView())
                                             : static_cast<QAbstractItemView *>(source->tableView());
        const int historyBefore = int(QNDialogService::shared().history().size());
        ASSERT_TRUE(mouseDrag(view, view->model()->index(0, 0), to->filesViewController()->tableView()->viewport(),
                              QPoint(150, 150)));
        QNAlertPanel *panel = nullptr;
        ASSERT_TRUE(VNTest::waitUntil([&] {
            return (panel = qobject_cast<QNAlertPanel *>(QNDialogService::shared().attachedSheet(to->window())));
        }));
        ASSERT_EQ(QNDialogService::shared().history().size(), historyBefore + 1);
        const auto question = QNDialogService::shared().history().last().alert;
        EXPECT_EQ(question.messageText, QStringLiteral("Move files?"));
        EXPECT_EQ(question.informativeText, QStringLiteral("Do you want to move the selected files? To copy files, you "
                                                           "can keep the Ctrl key pressed during the drag and drop "
                                                           "operation."));
        EXPECT_EQ(question.buttons, (QStringList{"Yes", "No"}));
        EXPECT_TRUE(question.showsSuppressionButton);
        if (!thumbnails)
            EXPECT_TRUE(saveShot(panel, QStringLiteral("drag-move-question.png")));
        panel->pressButton(0);
        ASSERT_TRUE(VNTest::waitUntil(
            [&] { return listedIn(to) == QStringList{"report.txt"} && listedIn(from).isEmpty(); }, 15000));
    }
    EXPECT_EQ(VNTest::readFile(folderA + QStringLiteral("/report.txt")), bytes);
    EXPECT_FALSE(QFileInfo::exists(folderB + QStringLiteral("/report.txt")));
}

TEST_F(DragDropTest, AnotherInstancesDragOfEntriesIsNotTakenForThisInstancesLastDrag) {
    openTwoWindows();
    std::unique_ptr<QMimeData> ours(a->filesViewController()->writeDrag({0}));
    ASSERT_NE(ours, nullptr);
    a->filesViewController()->dragEnded();
    // The same pane of a process with another id.
    QByteArray tag = ours->data(QNMacFilesViewController::documentsMimeType());
    tag.replace(0, tag.indexOf(':'), QByteArray::number(QCoreApplication::applicationPid() + 1));
    QMimeData theirs;
    theirs.setData(QNMacFilesViewController::documentsMimeType(), tag);
    EXPECT_FALSE(b->filesViewController()->dropWithMimeData(&theirs, /*moveAsked=*/false));
    VNTest::spin(100);
    EXPECT_TRUE(listedIn(b).isEmpty());
    EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
}

TEST_F(DragDropTest, CtrlAndTheAlwaysCopyDefaultCopyWithoutAsking) {
    openTwoWindows();
    for (bool byDefault : {false, true}) {
        VNUserDefaults::standard().setBool(byDefault, QStringLiteral("drop-always-copy"));
        QFile::remove(folderB + QStringLiteral("/report.txt"));
        std::unique_ptr<QMimeData> drag(a->filesViewController()->writeDrag({0}));
        a->filesViewController()->dragEnded();
        ASSERT_TRUE(b->filesViewController()->dropWithMimeData(drag.get(), /*moveAsked=*/byDefault));
        ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(folderB + QStringLiteral("/report.txt")); }, 15000));
        VNTest::spin(50);
        EXPECT_TRUE(QFileInfo::exists(folderA + QStringLiteral("/report.txt")));
    }
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(DragDropTest, FilesOfOtherApplicationsAreCopiedInVanishedOnesSkippedAndTheSourceToldCopied) {
    openTwoWindows();
    auto outside = VNTest::makeTempDir();
    QList<QUrl> urls;
    for (const char *name : {"one.txt", "gone.txt", "two.txt"}) {
        const QString path = outside->path() + QLatin1Char('/') + QString::fromUtf8(name);
        ASSERT_TRUE(VNTest::writeFile(path, name));
        urls << QUrl::fromLocalFile(path);
    }
    QFile::remove(outside->path() + QStringLiteral("/gone.txt"));
    QMimeData data;
    data.setUrls(urls);
    // Delivered as the desktop delivers it, Ctrl held: a copy, without asking.
    QWidget *viewport = b->filesViewController()->tableView()->viewport();
    const QPointF at(20, 20);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::NoButton, Qt::ControlModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::NoButton, Qt::ControlModifier);
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    ASSERT_TRUE(VNTest::waitUntil([&] { return listedIn(b) == QStringList({"one.txt", "two.txt"}); }, 15000));
    EXPECT_TRUE(QFileInfo::exists(outside->path() + QStringLiteral("/one.txt")));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(DragDropTest, WhileTheDragGoesOnOtherApplicationsHearCopyAndOurPanesTheActionProposed) {
    openTwoWindows();
    auto outside = VNTest::makeTempDir();
    const QString file = outside->path() + QStringLiteral("/one.txt");
    ASSERT_TRUE(VNTest::writeFile(file, "one"));
    QMimeData fromOutside;
    fromOutside.setUrls({QUrl::fromLocalFile(file)});
    std::unique_ptr<QMimeData> fromPane(a->filesViewController()->writeDrag({0}));
    // A source may act on the last answer it heard before the drop: another
    // application that heard "move" could remove its files before our task
    // has copied them.
    struct Row {
        const char *name;
        const QMimeData *data;
        Qt::DropAction heard;
    };
    const Row rows[] = {
        {"files of another application", &fromOutside, Qt::CopyAction},
        {"entries of a pane of this instance", fromPane.get(), Qt::MoveAction},
    };
    QWidget *viewport = b->filesViewController()->tableView()->viewport();
    const QPoint at(20, 20);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        // Shift: the source proposes a move.
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, row.data, Qt::LeftButton, Qt::ShiftModifier);
        ASSERT_EQ(enter.proposedAction(), Qt::MoveAction);
        QApplication::sendEvent(viewport, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), row.heard);
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, row.data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(viewport, &move);
        EXPECT_TRUE(move.isAccepted());
        EXPECT_EQ(move.dropAction(), row.heard);
    }
    a->filesViewController()->dragEnded();
    EXPECT_TRUE(QFileInfo::exists(file));
}

TEST_F(DragDropTest, LocalEntriesDragOutAsTheirFilesAndDownloadToCopiesTheSelection) {
    openTwoWindows();
    std::unique_ptr<QMimeData> drag(a->filesViewController()->writeDrag({0}));
    ASSERT_NE(drag, nullptr);
    EXPECT_EQ(drag->urls(), QList<QUrl>{QUrl::fromLocalFile(folderA + QStringLiteral("/report.txt"))});
    a->filesViewController()->dragEnded();

    auto target = VNTest::makeTempDir();
    QString chosen = target->path();
    QNMacFilesViewController::setFolderChooser([&](QWidget *) { return chosen; });
    a->filesViewController()->tableView()->selectRow(0);
    a->filesViewController()->downloadTo();
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(target->path() + QStringLiteral("/report.txt")); }, 15000));
    EXPECT_EQ(VNTest::readFile(target->path() + QStringLiteral("/report.txt")),
              VNTest::readFile(folderA + QStringLiteral("/report.txt")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 15000));
    chosen.clear();  // the chooser cancelled: nothing runs
    a->filesViewController()->downloadTo();
    EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
}

TEST_F(DragDropTest, AFolderDroppedIntoOneOfItsOwnFoldersIsRefusedWithTheCoresText) {
    const QString root = folder(QStringLiteral("R"));
    folder(QStringLiteral("R/sub/inner"));
    writeFile(root + QStringLiteral("/sub/x.txt"), 3);
    a = launch();
    ASSERT_NE(a, nullptr);
    storeDrives({localDrive(QStringLiteral("R"), root)});
    ASSERT_TRUE(openRow(a, 0));
    b = delegate->newDocument();
    VNTest::spin(30);
    ASSERT_TRUE(openRow(b, 0));
    b->filesViewController()->doubleClickAction(0);  // into "sub"
    ASSERT_TRUE(waitForListing(b));
    std::unique_ptr<QMimeData> drag(a->filesViewController()->writeDrag({0}));
    ASSERT_TRUE(b->filesViewController()->dropWithMimeData(drag.get(), /*moveAsked=*/false));
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }, 15000));
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().first().alert.messageText.contains(
        QStringLiteral("cannot be copied into itself")));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/sub/sub")));
}

TEST_F(DragDropTest, ADeleteAtTheDragsEndAsksRemoveFilesWhoseBoxTurnsTheQuestionOff) {
    openTwoWindows();
    QNMacFilesViewController *pane = a->filesViewController();
    const QString file = folderA + QStringLiteral("/report.txt");
    QNDialogService::shared().setAutomated(false);
    a->window()->show();
    // Every drive asks, with the box; ticked, it turns the question off
    // whatever the answer ("No" here: nothing at all is removed).
    for (bool remote : {true, false}) {
        SCOPED_TRACE(remote);
        VNUserDefaults::standard().setBool(false, QStringLiteral("drop-suppress-ask-remove"));
        std::unique_ptr<QMimeData> drag(pane->writeDrag({0}));
        pane->dragEnded();
        pane->driveConfig()->setIsMyFiles(!remote);
        pane->handleDocumentsAfterDrop(QNMacTableView::DragMove);  // not a delete: nothing
        pane->handleDocumentsAfterDrop(QNMacTableView::DragDelete);
        QNAlertPanel *panel = nullptr;
        ASSERT_TRUE(VNTest::waitUntil(
            [&] { return (panel = qobject_cast<QNAlertPanel *>(QNDialogService::shared().attachedSheet(a->window()))); }));
        const auto question = QNDialogService::shared().history().last().alert;
        EXPECT_EQ(question.messageText, QStringLiteral("Remove files?"));
        EXPECT_EQ(question.informativeText, QStringLiteral("Do you want to remove the selected files?"));
        EXPECT_EQ(question.buttons, (QStringList{"Yes", "No"}));
        EXPECT_TRUE(question.showsSuppressionButton);
        auto *box = panel->findChild<QCheckBox *>();
        ASSERT_NE(box, nullptr);
        box->setChecked(true);
        panel->pressButton(1);
        VNTest::spin(100);
        EXPECT_TRUE(QFileInfo::exists(file));
        EXPECT_TRUE(VNUserDefaults::standard().boolForKey(QStringLiteral("drop-suppress-ask-remove")));
    }
    EXPECT_EQ(QNDialogService::shared().history().size(), 2);
    // Turned off: removed at once, and the pane relisted.
    pane->handleDocumentsAfterDrop(QNMacTableView::DragDelete);
    ASSERT_TRUE(VNTest::waitUntil([&] { return !QFileInfo::exists(file) && listedIn(a).isEmpty(); }, 15000));
    EXPECT_EQ(QNDialogService::shared().history().size(), 2);
    VNUserDefaults::standard().removeObject(QStringLiteral("drop-suppress-ask-remove"));
}

TEST(DragImage, SeveralRowsShowTheBrowsersImageUnderACaptionThatCountsThem) {
    QPixmap image(64, 48);
    image.fill(QColor(10, 120, 200));
    QPoint hotSpot(32, 24);
    const QPixmap one = QNMacFilesViewController::draggingImageForRows(image, 1, &hotSpot);
    EXPECT_EQ(one.cacheKey(), image.cacheKey());
    EXPECT_EQ(hotSpot, QPoint(32, 24));

    EXPECT_EQ(QNMacFilesViewController::draggingCaption(3), QStringLiteral("3 items being dragged"));
    const QPixmap three = QNMacFilesViewController::draggingImageForRows(image, 3, &hotSpot);
    const int captionHeight = three.height() - image.height();
    EXPECT_GT(captionHeight, 5);
    EXPECT_GT(three.width(), image.width());  // the caption is wider than this image
    EXPECT_EQ(hotSpot, QPoint(32, 24 + captionHeight));  // the pointer keeps its place on the image
    const QImage drawn = three.toImage();
    EXPECT_EQ(drawn.copy(0, captionHeight, image.width(), image.height()), image.toImage().convertToFormat(drawn.format()));
    bool white = false;
    for (int y = 0; y < captionHeight && !white; ++y)
        for (int x = 0; x < drawn.width() && !white; ++x)
            white = drawn.pixelColor(x, y) == QColor(Qt::white);
    EXPECT_TRUE(white);
    // Under the caption a black shadow, blurred: it reaches past two pixels
    // from the letters.
    auto letter = [&](int x, int y) {
        const QColor c = drawn.pixelColor(x, y);
        return c.alpha() > 200 && c.lightness() > 200;
    };
    int farShadow = 0;
    for (int y = 0; y < captionHeight; ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor c = drawn.pixelColor(x, y);
            if (c.alpha() == 0 || c.alpha() > 200 || c.lightness() > 10)
                continue;
            bool near = false;
            for (int dy = -2; dy <= 2 && !near; ++dy)
                for (int dx = -2; dx <= 2 && !near; ++dx)
                    near = x + dx >= 0 && y + dy >= 0 && x + dx < drawn.width() && y + dy < captionHeight &&
                           letter(x + dx, y + dy);
            farShadow += near ? 0 : 1;
        }
    EXPECT_GT(farShadow, 0);
}

TEST_F(DragDropTest, DownloadToAndADropOfAnotherApplicationAskBeforeReplacingANameTheFolderHolds) {
    openTwoWindows();
    const QByteArray theirs = VNTest::readFile(folderA + QStringLiteral("/report.txt"));
    auto answerReplaceQuestion = [](int returnCode) {
        if (!VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 10000))
            return QNAlert();
        const auto request = QNDialogService::shared().pendingAlerts().first();
        QNDialogService::shared().answer(request.id, returnCode);
        return request.alert;
    };

    // "Download to…" a folder holding a file of that name (in other letter case).
    auto target = VNTest::makeTempDir();
    const QString held = target->path() + QStringLiteral("/REPORT.TXT");
    ASSERT_TRUE(VNTest::writeFile(held, "mine"));
    QNMacFilesViewController::setFolderChooser([&](QWidget *) { return target->path(); });
    a->filesViewController()->tableView()->selectRow(0);
    for (int returnCode : {QNAlert::SecondButtonReturn, QNAlert::ThirdButtonReturn}) {
        a->filesViewController()->downloadTo();
        const QNAlert question = answerReplaceQuestion(returnCode);
        EXPECT_EQ(question.messageText, QStringLiteral("Replace 1 item?"));
        // Cancel, or Skip with nothing else to copy: no task at all.
        VNTest::spin(100);
        EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
        EXPECT_EQ(QDir(target->path()).entryList(QDir::Files), QStringList{"REPORT.TXT"});
        EXPECT_EQ(VNTest::readFile(held), QByteArray("mine"));
    }

    // Files of another application dropped on a pane holding one of the names.
    auto outside = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(outside->path() + QStringLiteral("/report.txt"), "from outside"));
    ASSERT_TRUE(VNTest::writeFile(outside->path() + QStringLiteral("/new.txt"), "new"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(outside->path() + QStringLiteral("/report.txt")),
                  QUrl::fromLocalFile(outside->path() + QStringLiteral("/new.txt"))});
    ASSERT_TRUE(a->filesViewController()->dropWithMimeData(&data, /*moveAsked=*/false));
    EXPECT_EQ(answerReplaceQuestion(QNAlert::ThirdButtonReturn).messageText, QStringLiteral("Replace 1 item?"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return listedIn(a) == QStringList({"new.txt", "report.txt"}); }, 15000));
    EXPECT_EQ(VNTest::readFile(folderA + QStringLiteral("/report.txt")), theirs);
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 15000));
    ASSERT_TRUE(a->filesViewController()->dropWithMimeData(&data, /*moveAsked=*/false));
    EXPECT_EQ(answerReplaceQuestion(QNAlert::FirstButtonReturn).messageText, QStringLiteral("Replace 2 items?"));
    ASSERT_TRUE(VNTest::waitUntil(
        [&] { return VNTest::readFile(folderA + QStringLiteral("/report.txt")) == QByteArray("from outside"); }, 15000));
}

// Entries of another application's drop that a copy leaves out (a link to
// nothing dropped itself, or one inside a dropped folder, or entries a
// folder's listing leaves out) stop nothing: the other entries arrive, no
// error sheet comes up, and one report at the task's end names everything
// left out, from every entry, and counts the items in its headline. A
// move's report says "moved" throughout and keeps what it left out, which
// stays where it was; a note of something a drive was left holding (a note
// of the task's own stands in for one) names no item.
TEST_F(DragDropTest, ADropNamesEverythingLeftOutAtItsEndAndTheRestArrives) {
    openTwoWindows();
    struct Row {
        const char *what;
        bool droppedLink;  // a link to nothing among the dropped entries
        bool linkInside;   // a link to nothing inside the first dropped folder
        bool move;
        int unlisted = 0;  // entries the second folder's listing leaves out
        std::optional<QNTask::EndNote> taskNote = {};  // a note of the task's own
    };
    const QNTask::EndNote leftOnDrive{QStringLiteral("The temporary file \u201c.f.part\u201d was left on the drive."), 0};
    const Row rows[] = {
        {"a link to nothing dropped", true, false, false},
        {"a folder holding a link to nothing, dropped with another", false, true, false},
        {"both", true, true, false},
        {"both, moved", true, true, true},
        {"both, moved, and a file left on a drive", true, true, true, 0, leftOnDrive},
        {"three entries left out of a folder's listing", false, false, false, 3},
        {"a link to nothing dropped, and three entries left out of a folder's listing", true, false, false, 3},
    };
    int round = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QNDialogService::shared().clearHistory();
        VNUserDefaults::standard().setBool(row.move, QStringLiteral("drop-suppress-ask-move"));
        const QString noteKey = QStringLiteral("DragDropTest-note");
        delegate->taskManager()->unregisterListenerForTaskAddedBlock(noteKey);
        if (row.taskNote)
            delegate->taskManager()->registerListenerForTaskAddedBlock(
                noteKey, [note = *row.taskNote](QNTaskPtr task) { task->addEndNote(note); });
        // Names of their own in B, so that the rows do not meet.
        const QString n = QString::number(++round);
        const QString first = QStringLiteral("first") + n, second = QStringLiteral("second") + n,
                      gone = QStringLiteral("gone") + n;
        auto outside = VNTest::makeTempDir();
        const QString here = outside->path();
        // A row that cannot be set up shows itself and lets the others run.
        bool made = VNTest::writeFile(here + QLatin1Char('/') + first + QStringLiteral("/a.txt"), "a");
        for (int i = 0; i < 20; ++i)
            made = made && VNTest::writeFile(here + QLatin1Char('/') + second + QStringLiteral("/f%1.txt").arg(i, 2, 10, QChar('0')),
                                             QByteArray::number(i));
        for (int i = 0; i < row.unlisted; ++i)
            made = made && VNTest::writeFile(here + QLatin1Char('/') + second + QStringLiteral("/unlisted%1.txt").arg(i), "u");
        QList<QUrl> urls;
        if (row.linkInside)
            made = made && QFile::link(QStringLiteral("missing.txt"), here + QLatin1Char('/') + first + QStringLiteral("/inside"));
        if (row.droppedLink) {
            made = made && QFile::link(QStringLiteral("nowhere.txt"), here + QLatin1Char('/') + gone);
            urls << QUrl::fromLocalFile(here + QLatin1Char('/') + gone);
        }
        EXPECT_TRUE(made) << row.what << ": the dropped folders could not be made";
        if (!made)
            continue;
        urls << QUrl::fromLocalFile(here + QLatin1Char('/') + first) << QUrl::fromLocalFile(here + QLatin1Char('/') + second);
        QMimeData data;
        data.setUrls(urls);
        EXPECT_TRUE(b->filesViewController()->dropWithMimeData(&data, row.move)) << row.what;

        // The report comes once the task has ended; nothing else is said,
        // no error sheet before it or behind it.
        const bool reported = VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }, 20000);
        EXPECT_TRUE(reported) << row.what << ": no report";
        const auto sheets = answerSheetsInTurn();
        EXPECT_EQ(sheets.size(), 1) << row.what << ": " << messageTexts(sheets);
        if (sheets.isEmpty())
            continue;
        const auto request = sheets.first();
        const QString text = request.alert.informativeText;
        const int leftOut = int(row.droppedLink) + int(row.linkInside) + row.unlisted + (row.taskNote ? row.taskNote->items : 0);
        const QString done = row.move ? QStringLiteral("moved") : QStringLiteral("copied");
        EXPECT_EQ(request.alert.messageText, leftOut == 1 ? QStringLiteral("1 item was not %1").arg(done)
                                                          : QStringLiteral("%1 items were not %2").arg(leftOut).arg(done));
        if (row.droppedLink)
            EXPECT_TRUE(text.contains(QStringLiteral("\u201c%1\u201d in \u201c%2\u201d was not %3: it is a link to "
                                                     "\u201cnowhere.txt\u201d, which does not exist.")
                                          .arg(gone, here, done)))
                << text.toStdString();
        if (row.linkInside)
            EXPECT_TRUE(text.contains(QStringLiteral("\u201cinside\u201d in \u201c%1/%2\u201d was not %3").arg(here, first, done)))
                << text.toStdString();
        if (row.unlisted)
            EXPECT_TRUE(text.contains(QStringLiteral("%1 entries of \u201c%2/%3\u201d were not %4").arg(row.unlisted).arg(here, second, done)))
                << text.toStdString();
        if (row.taskNote)
            EXPECT_TRUE(text.contains(row.taskNote->text)) << text.toStdString();
        EXPECT_EQ(text.contains(QStringLiteral("What was left out stays where it was.")), row.move) << text.toStdString();

        // Everything else arrived.
        EXPECT_EQ(VNTest::readFile(folderB + QLatin1Char('/') + first + QStringLiteral("/a.txt")), QByteArray("a"))
            << row.what;
        EXPECT_EQ(QDir(folderB + QLatin1Char('/') + second).entryList(QDir::Files).size(), 20) << row.what;
        EXPECT_FALSE(QFileInfo(folderB + QLatin1Char('/') + gone).isSymLink()) << row.what;
        EXPECT_FALSE(QFileInfo(folderB + QLatin1Char('/') + first + QStringLiteral("/inside")).isSymLink()) << row.what;
        // A move takes what arrived and keeps what it left out.
        EXPECT_EQ(QFileInfo::exists(here + QLatin1Char('/') + second), !row.move) << row.what;
        EXPECT_EQ(QFileInfo::exists(here + QLatin1Char('/') + first + QStringLiteral("/a.txt")), !row.move) << row.what;
        if (row.linkInside)
            EXPECT_TRUE(QFileInfo(here + QLatin1Char('/') + first + QStringLiteral("/inside")).isSymLink()) << row.what;
        if (row.droppedLink)
            EXPECT_TRUE(QFileInfo(here + QLatin1Char('/') + gone).isSymLink()) << row.what;
    }
    delegate->taskManager()->unregisterListenerForTaskAddedBlock(QStringLiteral("DragDropTest-note"));
    VNUserDefaults::standard().removeObject(QStringLiteral("drop-suppress-ask-move"));
}

// "Download to" a local folder of an entry the copy leaves out (a link to
// nothing): nothing is written there, no error sheet comes up (before the
// end report or behind it), and the task's end report says why, once.
TEST_F(DragDropTest, DownloadToOfALinkToNothingWritesNothingAndTheEndReportSaysWhy) {
    openTwoWindows();
    ASSERT_TRUE(QFile::link(QStringLiteral("missing.txt"), folderA + QStringLiteral("/gone.txt")));
    a->filesViewController()->listDocuments();
    ASSERT_TRUE(waitForListing(a));
    const int row = int(listedIn(a).indexOf(QStringLiteral("gone.txt")));
    ASSERT_GE(row, 0);
    auto target = VNTest::makeTempDir();
    QNMacFilesViewController::setFolderChooser([&](QWidget *) { return target->path(); });
    QNDialogService::shared().clearHistory();
    a->filesViewController()->tableView()->selectRow(row);
    a->filesViewController()->downloadTo();
    EXPECT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }, 15000));
    const auto sheets = answerSheetsInTurn();
    EXPECT_EQ(messageTexts(sheets), "1 item was not copied");
    const QString said = sheets.value(0).alert.informativeText;
    EXPECT_TRUE(said.contains(
        QStringLiteral("\u201cgone.txt\u201d in \u201c%1\u201d was not copied: it is a link to \u201cmissing.txt\u201d, which "
                       "does not exist.")
            .arg(folderA)))
        << said.toStdString();
    EXPECT_TRUE(QDir(target->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
}

// A file dropped onto a folder of its name is not copied, which the
// question says, instead of offering to replace the folder; the others go
// on and the folder keeps what it held.
TEST_F(DragDropTest, AFileOntoAFolderOfItsNameIsNamedAsNotCopiedAndTheOthersGoOn) {
    openTwoWindows();
    ASSERT_TRUE(VNTest::writeFile(folderA + QStringLiteral("/notes/inside.txt"), "inside"));
    a->filesViewController()->listDocuments();
    ASSERT_TRUE(waitForListing(a));
    auto outside = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(outside->path() + QStringLiteral("/notes"), "a file called notes"));
    ASSERT_TRUE(VNTest::writeFile(outside->path() + QStringLiteral("/new.txt"), "new"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(outside->path() + QStringLiteral("/notes")),
                  QUrl::fromLocalFile(outside->path() + QStringLiteral("/new.txt"))});
    ASSERT_TRUE(a->filesViewController()->dropWithMimeData(&data, /*moveAsked=*/false));
    ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 10000));
    const auto request = onlyPendingAlert();
    EXPECT_EQ(request.alert.messageText, QStringLiteral("1 item will not be copied"));
    EXPECT_EQ(request.alert.informativeText,
              QStringLiteral("\u201cnotes\u201d will not be copied: \u201cA\u201d holds a folder of that name, which a file "
                             "does not replace."));
    EXPECT_FALSE(request.alert.informativeText.contains(QStringLiteral("cannot be undone")));
    EXPECT_EQ(request.alert.buttons, (QStringList{"Copy the Others", "Cancel"}));
    QNDialogService::shared().answer(request.id, QNAlert::FirstButtonReturn);
    EXPECT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(folderA + QStringLiteral("/new.txt")); }, 15000));
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 15000));
    VNTest::spin(100);
    // Nothing more to say: the file went nowhere, the folder is as it was.
    EXPECT_EQ(QNDialogService::shared().history().size(), 1);
    EXPECT_EQ(VNTest::readFile(folderA + QStringLiteral("/notes/inside.txt")), QByteArray("inside"));
    EXPECT_EQ(QDir(folderA + QStringLiteral("/notes")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"inside.txt"});
    EXPECT_EQ(VNTest::readFile(folderA + QStringLiteral("/new.txt")), QByteArray("new"));
}

TEST_F(DragDropTest, AFolderThatCannotBeListedIsNotTakenForAnEmptyOne) {
    openTwoWindows();
    // B's folder went away after it was listed: its listing now fails.
    ASSERT_TRUE(QDir(folderB).removeRecursively());
    std::unique_ptr<QMimeData> drag(a->filesViewController()->writeDrag({0}));
    a->filesViewController()->dragEnded();
    ASSERT_TRUE(b->filesViewController()->dropWithMimeData(drag.get(), /*moveAsked=*/false));
    ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 10000));
    const auto request = onlyPendingAlert();
    EXPECT_EQ(request.alert.messageText, QStringLiteral("\u201cB\u201d could not be listed"));
    EXPECT_TRUE(request.alert.informativeText.startsWith(
        QStringLiteral("Whether it already holds items of the same names is not known")));
    EXPECT_EQ(request.alert.buttons, (QStringList{"Copy Anyway", "Cancel"}));
    EXPECT_EQ(request.alert.defaultButton, 1);
    QNDialogService::shared().answer(request.id, QNAlert::SecondButtonReturn);
    VNTest::spin(100);
    EXPECT_TRUE(delegate->taskManager()->tasks().isEmpty());
}

// Names are compared without regard to letter case, whichever side holds the
// capitals; onto the local disk, as the disk holds them: an FTP name whose
// byte is not UTF-8 ("caf\xE9.txt", read as "caf\uDCE9.txt") is written there
// as "caf\uFFFD.txt", so a file of that name is one it replaces; on a
// server it is not.
TEST(ReplaceQuestion, ANameClashesWhateverSideHoldsTheCapitals) {
    auto local = QNDriveConfig::create();
    local->setIsMyFiles(true);
    auto ftp = QNDriveConfig::create();
    ftp->setIsFTP(true);
    const auto folder = QNDocument::withPath(QStringLiteral("/dest"), true);
    const QString notUtf8 = QStringLiteral("/src/caf") + QChar(0xDCE9) + QStringLiteral(".txt");
    struct Row {
        QString inFolder;
        QString dropped;
        bool clashes;
        bool toLocalDisk = true;
    } rows[] = {
        {"/dest/REPORT.TXT", "/src/report.txt", true},  // capitals in the folder
        {"/dest/report.txt", "/src/REPORT.TXT", true},  // capitals on the dropped file
        {"/dest/Report.txt", "/src/rEPORT.TXT", true},  // on both, differently
        {"/dest/report.txt", "/src/REPORTS.TXT", false},
        {"/dest/caf\uFFFD.txt", notUtf8, true},
        {"/dest/caf\uFFFD.txt", notUtf8, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.dropped.toStdString() + (row.toLocalDisk ? " to the local disk" : " to a server"));
        const QNDocumentList listing = {QNDocument::withPath(row.inFolder)};
        const QNDocumentList dropped = {QNDocument::withPath(row.dropped)};
        EXPECT_EQ(QNNameClashCheck::clashes(ftp, dropped, row.toLocalDisk ? local : ftp, folder, listing).size(),
                  row.clashes ? 1 : 0);
    }
}

TEST(ReplaceQuestion, SaysThatAFolderIsMergedAFileReplacedAndAnotherKindNotCopied) {
    // A folder is merged into its namesake: only its files of the same
    // names are replaced. Onto a file or a link to a folder it is not
    // merged, nor is a file written over a folder: the question says it is
    // not copied, as its item would.
    enum class Held { SameKind, File, Folder, LinkToFolder };
    const struct Row {
        const char *what;
        QList<bool> folders;  // per clashing item ("sub", "notes"): a folder?
        QList<Held> held;     // what the destination holds under its name
        const char *text;
    } rows[] = {
        {"a file", {false}, {Held::SameKind},
         "\u201csub\u201d already exists in \u201cDocs\u201d. Replacing it cannot be undone."},
        {"a folder", {true}, {Held::SameKind},
         "\u201csub\u201d already exists in \u201cDocs\u201d. Files in \u201csub\u201d with the same names as those "
         "copied are replaced; the other files in it are kept."},
        {"a folder onto a file", {true}, {Held::File},
         "\u201csub\u201d will not be copied: \u201cDocs\u201d holds a file of that name, which a folder does not "
         "replace."},
        {"a folder onto a link to a folder", {true}, {Held::LinkToFolder},
         "\u201csub\u201d will not be copied: \u201cDocs\u201d holds a link of that name, which a folder does not "
         "replace."},
        {"a file onto a folder", {false}, {Held::Folder},
         "\u201csub\u201d will not be copied: \u201cDocs\u201d holds a folder of that name, which a file does not "
         "replace."},
        {"two folders", {true, true}, {Held::SameKind, Held::SameKind},
         "\u201csub\u201d and \u201cnotes\u201d already exist in \u201cDocs\u201d. Files in these folders with the "
         "same names as those copied are replaced; the other files in them are kept."},
        {"two folders, one onto a file", {true, true}, {Held::SameKind, Held::File},
         "\u201csub\u201d already exists in \u201cDocs\u201d. Files in \u201csub\u201d with the same names as those "
         "copied are replaced; the other files in it are kept. \u201cnotes\u201d will not be copied: \u201cDocs\u201d "
         "holds a file of that name, which a folder does not replace."},
        {"a file and a file onto a folder", {false, false}, {Held::SameKind, Held::Folder},
         "\u201csub\u201d already exists in \u201cDocs\u201d. Replacing it cannot be undone. \u201cnotes\u201d will "
         "not be copied: \u201cDocs\u201d holds a folder of that name, which a file does not replace."},
        {"a file onto a folder and a folder onto a file", {false, true}, {Held::Folder, Held::File},
         "\u201csub\u201d and \u201cnotes\u201d will not be copied: \u201cDocs\u201d holds items of their names of "
         "another kind, and a file and a folder never replace each other."},
        {"a folder and a file", {true, false}, {Held::SameKind, Held::SameKind},
         "\u201csub\u201d and \u201cnotes\u201d already exist in \u201cDocs\u201d. Replacing the file cannot be "
         "undone. Files in the folder with the same names as those copied are replaced; the other files in it are "
         "kept."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QNDocumentList clashing;
        QNDocumentList listing;
        const char *names[] = {"sub", "notes"};
        for (int i = 0; i < row.folders.size(); ++i) {
            const QString name = QString::fromUtf8(names[i]);
            clashing << QNDocument::withPath(QStringLiteral("/src/") + name, row.folders.at(i));
            const Held held = row.held.at(i);
            auto namesake = QNDocument::withPath(QStringLiteral("/dest/") + name,
                                                 held == Held::SameKind ? row.folders.at(i) : held != Held::File);
            namesake->setIsLink(held == Held::LinkToFolder);
            listing << namesake;
        }
        EXPECT_EQ(QNNameClashCheck::question(clashing, listing, QStringLiteral("Docs")).informativeText.toStdString(),
                  row.text);
    }
}

TEST(ReplaceQuestion, NamesTheFirstThreeClashesButNotADocumentAlreadyWhereItWouldGo) {
    auto local = QNDriveConfig::create();
    local->setIsMyFiles(true);
    auto ftp = QNDriveConfig::create();
    ftp->setIsFTP(true);
    const auto folder = QNDocument::withPath(QStringLiteral("/dest"), true);
    const QNDocumentList listing = {QNDocument::withPath(QStringLiteral("/dest/A.TXT")),
                                    QNDocument::withPath(QStringLiteral("/dest/sub"), true)};
    QNDocumentList dropped;
    for (const char *path : {"/src/a.txt", "/src/sub/", "/src/fresh.txt"})
        dropped << QNDocument::withPath(QString::fromUtf8(path));
    EXPECT_EQ(QNNameClashCheck::clashes(ftp, dropped, local, folder, listing), dropped.mid(0, 2));
    // Dropped where it already is: nothing would be replaced.
    const QNDocumentList itself = {QNDocument::withPath(QStringLiteral("/dest/sub"), true)};
    EXPECT_TRUE(QNNameClashCheck::clashes(local, itself, local, folder, listing).isEmpty());

    for (const char *name : {"b.txt", "c.txt", "d.txt", "e.txt"})
        dropped << QNDocument::withPath(QStringLiteral("/src/") + QString::fromUtf8(name));
    // The file "sub" does not replace the folder "sub": it is named apart.
    const QNAlert alert = QNNameClashCheck::question(dropped, listing, QStringLiteral("Docs"));
    EXPECT_EQ(alert.messageText, QStringLiteral("Replace 6 items?"));
    EXPECT_EQ(alert.informativeText, QStringLiteral("\u201ca.txt\u201d, \u201cfresh.txt\u201d, \u201cb.txt\u201d and 3 more already "
                                                    "exist in \u201cDocs\u201d. Replacing them cannot be undone. \u201csub\u201d "
                                                    "will not be copied: \u201cDocs\u201d holds a folder of that name, which a "
                                                    "file does not replace."));
    EXPECT_EQ(QNNameClashCheck::question(dropped.mid(0, 3), listing, QStringLiteral("Docs")).informativeText,
              QStringLiteral("\u201ca.txt\u201d and \u201cfresh.txt\u201d already exist in \u201cDocs\u201d. Replacing them cannot "
                             "be undone. \u201csub\u201d will not be copied: \u201cDocs\u201d holds a folder of that name, "
                             "which a file does not replace."));
}
