// What the log says about drags: the operation bits a drop offers (Ctrl
// leaves only the copy), the thumbnail browser's answer to a drag entering
// it, and a drag's final operation told as our bits, not Qt's numbering.
#include "MouseDrag.h"
#include "PanesTestSupport.h"

#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QDropEvent>
#include <QMimeData>

namespace {

class DragLogTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        for (const char *key : {"drop-always-copy", "drop-suppress-ask-move", "drop-suppress-ask-remove"})
            VNUserDefaults::standard().removeObject(QString::fromUtf8(key));
        VNLog::setCapturing(true);
        VNLog::clearCaptured();
    }
    void TearDown() override {
        VNLog::setCapturing(false);
        PanesTest::TearDown();
    }

    // Window A shows drive A (report.txt), window B drive B (empty).
    void openTwoWindows() {
        folderA = folder(QStringLiteral("A"));
        folderB = folder(QStringLiteral("B"));
        ASSERT_TRUE(VNTest::writeFile(folderA + QStringLiteral("/report.txt"), "report"));
        a = launch();
        ASSERT_NE(a, nullptr);
        storeDrives({localDrive(QStringLiteral("A"), folderA), localDrive(QStringLiteral("B"), folderB)});
        ASSERT_TRUE(openRow(a, 0));
        b = delegate->newDocument();
        VNTest::spin(30);
        ASSERT_TRUE(openRow(b, 1));
    }
    static bool logged(const QString &line) { return VNLog::captured().contains(line); }

    QNMainWindowController *a = nullptr, *b = nullptr;
    QString folderA, folderB;
};

}  // namespace

TEST_F(DragLogTest, TheBrowserAnswersAnEnteringDragAFileCopyElseAMoveAndNoneForEntries) {
    openTwoWindows();
    QNMacFilesViewController *pane = b->filesViewController();
    pane->changeView(true);
    VNTest::spin(30);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(folderA + QStringLiteral("/report.txt"))});
    std::unique_ptr<QMimeData> entries(a->filesViewController()->writeDrag({0}));
    a->filesViewController()->dragEnded();
    struct Row {
        const char *name;
        QMimeData *data;
        Qt::DropActions actions;
        Qt::KeyboardModifiers modifiers;
        const char *answer;
    } rows[] = {
        {"file, copy and move", &files, Qt::CopyAction | Qt::MoveAction, {}, "returning copy operation"},
        {"file, move only", &files, Qt::MoveAction, {}, "returning move operation"},
        {"file, move only, Ctrl", &files, Qt::MoveAction, Qt::ControlModifier, "returning none"},
        {"file, link only", &files, Qt::LinkAction, {}, "returning none"},
        {"entries of a pane", entries.get(), Qt::CopyAction | Qt::MoveAction, {}, "returning none"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VNLog::clearCaptured();
        QDragEnterEvent enter(QPoint(20, 20), row.actions, row.data, Qt::NoButton, row.modifiers);
        QApplication::sendEvent(pane->imageBrowserView()->viewport(), &enter);
        const QStringList answers = VNLog::captured().filter(QStringLiteral("returning "));
        EXPECT_EQ(answers, QStringList{QString::fromUtf8(row.answer)});
        QDragLeaveEvent leave;
        QApplication::sendEvent(pane->imageBrowserView()->viewport(), &leave);
    }
}

TEST_F(DragLogTest, ADropOnTheTableLogsTheSourcesOperationBitsCtrlLeavingOnlyTheCopy) {
    openTwoWindows();
    VNUserDefaults::standard().setBool(true, QStringLiteral("drop-always-copy"));  // no question, a copy
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folderA + QStringLiteral("/report.txt"))});
    struct Row {
        const char *name;
        Qt::KeyboardModifiers modifiers;
        const char *accept, *source;
    } rows[] = {
        {"plain", {}, "AcceptDrop sourceOperationMask: 11", "sourceDragMask: 11 (move: 16)"},
        {"Ctrl held", Qt::ControlModifier, "AcceptDrop sourceOperationMask: 1", "sourceDragMask: 1 (move: 0)"},
    };
    QWidget *viewport = b->filesViewController()->tableView()->viewport();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VNLog::clearCaptured();
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction | Qt::MoveAction, &data, Qt::NoButton, row.modifiers);
        QApplication::sendEvent(viewport, &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction | Qt::MoveAction, &data, Qt::NoButton, row.modifiers);
        QApplication::sendEvent(viewport, &drop);
        EXPECT_TRUE(drop.isAccepted());
        EXPECT_TRUE(logged(QString::fromUtf8(row.accept)));
        EXPECT_TRUE(logged(QString::fromUtf8(row.source)));
    }
}

TEST_F(DragLogTest, ADragsEndIsLoggedInOperationBitsFromTheTableAndFromTheBrowser) {
    openTwoWindows();
    VNUserDefaults::standard().setBool(true, QStringLiteral("drop-suppress-ask-move"));
    a->window()->move(0, 0);
    b->window()->move(800, 0);
    a->window()->show();
    b->window()->show();
    // From A's table to B's table, moved; then back from B's thumbnails to A's.
    QNMacTableView *tableA = a->filesViewController()->tableView();
    ASSERT_TRUE(mouseDrag(tableA, tableA->model()->index(0, 0), b->filesViewController()->tableView()->viewport(),
                          QPoint(150, 150)));
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(folderB + QStringLiteral("/report.txt")); }, 15000));
    EXPECT_TRUE(logged(QStringLiteral("DraggingSession ended: 10, copy: 0, move: 1, delete: 0")));
    EXPECT_TRUE(logged(QStringLiteral("draggedImage ended operation: 10, delete: 0")));
    EXPECT_TRUE(logged(QStringLiteral("QNMacFilesViewController operation: 10")));

    VNLog::clearCaptured();
    QNMacFilesViewController *source = b->filesViewController();
    ASSERT_TRUE(VNTest::waitUntil([&] { return source->documents().size() == 1; }, 15000));
    source->changeView(true);
    a->filesViewController()->changeView(true);
    VNTest::spin(30);
    QNImageBrowserView *browserB = source->imageBrowserView();
    ASSERT_TRUE(mouseDrag(browserB, browserB->model()->index(0, 0),
                          a->filesViewController()->imageBrowserView()->viewport(), QPoint(150, 150)));
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(folderA + QStringLiteral("/report.txt")); }, 15000));
    EXPECT_TRUE(logged(QStringLiteral("Dragging ended move: 16")));
    EXPECT_TRUE(logged(QStringLiteral("Browser - Dragging ended move: 16")));
    EXPECT_TRUE(logged(QStringLiteral("QNMacFilesViewController operation: 10")));
    EXPECT_TRUE(VNLog::captured().filter(QStringLiteral("DraggingSession ended")).isEmpty());
}
