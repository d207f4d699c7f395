// The keys of a file pane, each bound to the pane's own action: Enter opens
// the entry as a double click does, Backspace and Alt+Left go back, Alt+Up
// to the enclosing folder, F5 and Ctrl+R relist, Delete removes after the
// "Remove files?" question, Tab moves on to the path bar; none of them
// belongs to the pane while an entry's name is edited in place.
#include "PanesTestSupport.h"

#include "App/QNAlertPanel.h"
#include "Platform/VNUserDefaults.h"

#include <QApplication>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>

namespace {

class KeysTest : public PanesTest {};

struct KeyRow {
    const char *name;
    bool intoSub;  // pressed in the folder "sub" rather than at the drive's root
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int panesAfter;  // panes on the window's stack after the key
};

}  // namespace

TEST_F(KeysTest, EachKeyRunsThePanesOwnAction) {
    const QString root = folder(QStringLiteral("K"));
    folder(QStringLiteral("K/sub"));
    writeFile(root + QStringLiteral("/sub/inner.txt"), 3);
    writeFile(root + QStringLiteral("/doc.txt"), 5);
    VNUserDefaults::standard().removeObject(QStringLiteral("drop-suppress-ask-remove"));
    QNMainWindowController *w = openDrive(localDrive(QStringLiteral("K"), root));
    ASSERT_NE(w, nullptr);
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(w->filesViewController()->tableView(), key, modifiers);
    };
    const auto openSub = [&] {
        w->filesViewController()->tableView()->selectRow(0);  // "sub", folders first
        press(Qt::Key_Return);
        return waitForListing(w) && w->filesViewControllers().size() == 2 &&
               names(w->filesViewController()->documents()) == QStringList{"inner.txt"};
    };
    const KeyRow rows[] = {
        {"Backspace", true, Qt::Key_Backspace, Qt::NoModifier, 1},
        {"Alt+Left", true, Qt::Key_Left, Qt::AltModifier, 1},
        {"Alt+Up", true, Qt::Key_Up, Qt::AltModifier, 1},
        {"Alt+Up at the drive's root", false, Qt::Key_Up, Qt::AltModifier, 1},
        {"Backspace at the drive's root", false, Qt::Key_Backspace, Qt::NoModifier, 0},
    };
    // Going back leaves the keyboard on what is shown then, so F5 and the
    // other keys keep working without a click first.
    w->window()->show();
    w->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w->window()));
    for (const KeyRow &row : rows) {
        SCOPED_TRACE(row.name);
        if (w->filesViewControllers().isEmpty())
            ASSERT_TRUE(openRow(w, 0));
        if (row.intoSub)
            ASSERT_TRUE(openSub());
        press(row.key, row.modifiers);
        VNTest::spin(30);
        EXPECT_EQ(w->filesViewControllers().size(), row.panesAfter);
        const QWidget *shown = row.panesAfter ? static_cast<QWidget *>(w->filesViewController()->tableView())
                                              : static_cast<QWidget *>(w->tableView());
        EXPECT_EQ(QApplication::focusWidget(), shown);
    }

    // F5 and Ctrl+R: a file made meanwhile is listed.
    ASSERT_TRUE(openRow(w, 0));
    for (const Qt::Key key : {Qt::Key_F5, Qt::Key_R}) {
        const QString name = QStringLiteral("new-%1.txt").arg(int(key));
        writeFile(root + QLatin1Char('/') + name, 1);
        press(key, key == Qt::Key_R ? Qt::ControlModifier : Qt::NoModifier);
        EXPECT_TRUE(VNTest::waitUntil([&] { return names(w->filesViewController()->documents()).contains(name); }));
    }

    // Delete: the question, with its box on a local drive; "Yes" removes.
    QNDialogService::shared().setAutomated(false);
    w->window()->show();
    QNMacFilesViewController *pane = w->filesViewController();
    pane->tableView()->selectRow(int(names(pane->documents()).indexOf(QStringLiteral("doc.txt"))));
    press(Qt::Key_Delete);
    QNAlertPanel *panel = nullptr;
    ASSERT_TRUE(VNTest::waitUntil(
        [&] { return (panel = qobject_cast<QNAlertPanel *>(QNDialogService::shared().attachedSheet(w->window()))); }));
    const auto question = QNDialogService::shared().history().last().alert;
    EXPECT_EQ(question.messageText, QStringLiteral("Remove files?"));
    EXPECT_EQ(question.informativeText, QStringLiteral("Do you want to remove the selected files?"));
    EXPECT_TRUE(question.showsSuppressionButton);
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/doc.txt")));
    panel->pressButton(0);
    EXPECT_TRUE(VNTest::waitUntil(
        [&] { return !QFileInfo::exists(root + QStringLiteral("/doc.txt")) && !names(pane->documents()).contains("doc.txt"); }));

    // Tab: from the pane to the path bar and back.
    pane->tableView()->setFocus();
    QTest::keyClick(pane->tableView(), Qt::Key_Tab);
    QWidget *focus = w->window()->focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(w->navbarView()->isAncestorOf(focus)) << focus->objectName().toStdString();
    QTest::keyClick(focus, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(w->window()->focusWidget(), pane->tableView());
}

TEST_F(KeysTest, F2ANameAndReturnRenameTheEntryAndOpenNothing) {
    const QString root = folder(QStringLiteral("F2"));
    writeFile(root + QStringLiteral("/old.txt"), 3);
    QStringList opened;
    QNMacFilesViewController::setDocumentOpener(
        [&](QNMacFilesViewController *, const QNDocumentPtr &d) { opened << d->displayName(); });
    const auto restore = qScopeGuard([] { QNMacFilesViewController::setDocumentOpener({}); });
    QNMainWindowController *w = openDrive(localDrive(QStringLiteral("F2"), root));
    ASSERT_NE(w, nullptr);
    w->window()->show();
    w->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w->window()));
    QNMacTableView *table = w->filesViewController()->tableView();
    table->setFocus();
    table->selectRow(0);
    QTest::keyClick(table, Qt::Key_F2);
    auto *editor = qobject_cast<QLineEdit *>(w->window()->focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("new.txt"));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(VNTest::waitUntil([&] {
        return QDir(root).entryList(QDir::Files) == QStringList{"new.txt"} &&
               names(w->filesViewController()->documents()) == QStringList{"new.txt"};
    }));
    VNTest::spin(50);
    EXPECT_TRUE(opened.isEmpty()) << opened.join(',').toStdString();
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    // Return on the entry itself still opens it.
    table->setFocus();
    table->selectRow(0);
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(opened, QStringList{"new.txt"});
}
