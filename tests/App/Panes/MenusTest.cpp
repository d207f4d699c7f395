// The menus reached with the mouse: a right click in the thumbnail view
// gives the same document and background menus as the list, and the
// window's menu bar holds the pane's commands.
#define QTEST_QPA_MOUSE_HANDLING  // mouse events through the window, as the desktop sends them
#include "PanesTestSupport.h"

#include "App/QNMainMenu.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolButton>

namespace {

class MenusTest : public PanesTest {
protected:
    // A drive of three files shown as thumbnails, its window active.
    QNMainWindowController *openThumbnails() {
        root = folder(QStringLiteral("thumbs"));
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            writeFile(root + QLatin1Char('/') + QString::fromUtf8(name), 4);
        QNMainWindowController *w = openDrive(localDrive(QStringLiteral("THUMBS"), root));
        if (!w)
            return nullptr;
        w->window()->show();
        w->window()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w->window()));
        w->thumbnailsButton()->click();
        EXPECT_TRUE(VNTest::waitUntil([w] {
            QNImageBrowserView *b = w->filesViewController()->imageBrowserView();
            return b->isVisible() && b->model()->rowCount() == 3 && b->visualRect(b->model()->index(2, 0)).isValid();
        }));
        return w;
    }

    static QMenu *openPopup() {
        QMenu *menu = nullptr;
        VNTest::waitUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }, 3000);
        return menu;
    }

    static QAction *actionTitled(QMenu *menu, const QString &title) {
        for (QAction *a : menu->actions())
            if (a->text() == title)
                return a;
        return nullptr;
    }

    QString root;
};

}  // namespace

TEST_F(MenusTest, ARightClickOnAThumbnailSelectsItAndItsMenuRenamesIt) {
    QNMainWindowController *w = openThumbnails();
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    QNImageBrowserView *browser = pane->imageBrowserView();
    browser->setSelectionIndexes({0});

    // On the background: the background menu; the selection stays.
    const QPoint empty(browser->viewport()->width() - 5, browser->viewport()->height() - 5);
    ASSERT_FALSE(browser->indexAt(empty).isValid());
    QTest::mouseClick(browser->viewport(), Qt::RightButton, {}, empty);
    QMenu *menu = openPopup();
    ASSERT_EQ(menu, pane->backgroundMenu());
    EXPECT_TRUE(actionTitled(menu, QStringLiteral("New Folder"))->isEnabled());
    EXPECT_EQ(browser->selectionIndexes(), QList<int>{0});
    menu->close();

    // On the unselected third cell: it alone is selected, the document menu
    // comes, and its Rename asks for the new name of that entry.
    const QPoint cell = browser->visualRect(browser->model()->index(2, 0)).center();
    QTest::mouseClick(browser->viewport(), Qt::RightButton, {}, cell);
    menu = openPopup();
    ASSERT_EQ(menu, pane->documentMenu());
    EXPECT_EQ(browser->selectionIndexes(), QList<int>{2});
    QAction *rename = actionTitled(menu, QStringLiteral("Rename…"));
    ASSERT_NE(rename, nullptr);
    EXPECT_TRUE(rename->isEnabled());
    EXPECT_FALSE(actionTitled(menu, QStringLiteral("Share Link"))->isEnabled());  // local folders give no links
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(rename).center());
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }, 3000));
    const auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.messageText, QStringLiteral("Rename"));
    ASSERT_NE(pane->renameInput(), nullptr);
    EXPECT_EQ(pane->renameInput()->text(), QStringLiteral("c.txt"));
    pane->renameInput()->setText(QStringLiteral("z.txt"));
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    EXPECT_TRUE(VNTest::waitUntil(
        [&] { return QDir(root).entryList(QDir::Files) == QStringList({"a.txt", "b.txt", "z.txt"}); }));
}

TEST_F(MenusTest, TheMenuBarHoldsThePanesCommandsAsThePaneEnablesThemAndTitlesTheQuickLookToggle) {
    using Menu = QNMainMenu;
    QNMainWindowController *w = launch();
    ASSERT_NE(w, nullptr);
    QNMainMenu *menu = w->mainMenu();
    ASSERT_NE(menu, nullptr);
    QStringList titles;
    for (QAction *a : menu->menuBar()->actions())
        titles << a->text().remove(QLatin1Char('&'));
    EXPECT_EQ(titles, (QStringList{"File", "Edit", "View", "Window", "Help"}));
    // At home: nothing of a pane applies; the window's commands do.
    for (Menu::Command c : {Menu::Open, Menu::Rename, Menu::Remove, Menu::NewFolder, Menu::AsThumbnails})
        EXPECT_FALSE(menu->action(c)->isEnabled()) << c;
    EXPECT_TRUE(menu->action(Menu::NewWindow)->isEnabled());
    EXPECT_EQ(menu->action(Menu::NewWindow)->shortcut(), QKeySequence(QKeySequence::New));

    // A drive of three files; the keys the pane reads are shown beside their entries.
    root = folder(QStringLiteral("bar"));
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        writeFile(root + QLatin1Char('/') + QString::fromUtf8(name), 4);
    storeDrives({localDrive(QStringLiteral("BAR"), root)});
    ASSERT_TRUE(openRow(w, 0));
    w->window()->show();
    w->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w->window()));
    QNMacFilesViewController *pane = w->filesViewController();
    EXPECT_TRUE(menu->action(Menu::NewFolder)->isEnabled());
    EXPECT_EQ(menu->action(Menu::Rename)->text().section(QLatin1Char('\t'), 1), QStringLiteral("F2"));
    EXPECT_EQ(menu->action(Menu::Open)->text().section(QLatin1Char('\t'), 1), QStringLiteral("Return"));
    const struct {
        QList<int> rows;
        bool open, openWith, rename, remove, share;
        const char *shareTitle;
    } selections[] = {{{}, false, false, false, false, false, "Share Links"},
                      {{1}, true, true, true, true, false, "Share Link"},
                      {{0, 2}, true, false, false, true, false, "Share Links"}};
    for (const auto &s : selections) {
        SCOPED_TRACE(s.rows.size());
        pane->tableView()->clearSelection();
        for (int r : s.rows)
            pane->tableView()->selectionModel()->select(pane->tableView()->model()->index(r, 0),
                                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        menu->validate();
        EXPECT_EQ(menu->action(Menu::Open)->isEnabled(), s.open);
        EXPECT_EQ(menu->action(Menu::OpenWith)->isEnabled(), s.openWith);
        EXPECT_EQ(menu->action(Menu::Rename)->isEnabled(), s.rename);
        EXPECT_EQ(menu->action(Menu::Remove)->isEnabled(), s.remove);
        EXPECT_EQ(menu->action(Menu::ShareLink)->isEnabled(), s.share);
        EXPECT_EQ(menu->action(Menu::ShareLink)->text(), QString::fromUtf8(s.shareTitle));
    }

    // The Quick Look entry, seen each time the View menu is opened with the mouse.
    QAction *viewMenu = menu->menuBar()->actions().at(2);
    auto quickLookTitle = [&] {
        QTest::mouseClick(menu->menuBar(), Qt::LeftButton, {}, menu->menuBar()->actionGeometry(viewMenu).center());
        QMenu *open = openPopup();
        EXPECT_EQ(open, viewMenu->menu());
        const QString title = menu->action(Menu::QuickLook)->text().section(QLatin1Char('\t'), 0, 0);
        if (open)
            open->close();
        VNTest::spin(20);
        return title;
    };
    EXPECT_EQ(quickLookTitle(), QStringLiteral("Open QuickLook panel"));
    w->quickLookButton()->click();  // opened elsewhere: the entry learns it when its menu opens
    ASSERT_TRUE(delegate->quickLookPanel() && delegate->quickLookPanel()->isVisible());
    EXPECT_EQ(quickLookTitle(), QStringLiteral("Close QuickLook panel"));
    menu->action(Menu::QuickLook)->trigger();
    EXPECT_FALSE(delegate->quickLookPanel()->isVisible());
    EXPECT_EQ(quickLookTitle(), QStringLiteral("Open QuickLook panel"));

    // The view entries switch the pane, as the title bar's buttons do.
    menu->action(Menu::AsThumbnails)->trigger();
    EXPECT_TRUE(pane->showThumbnails());
    EXPECT_TRUE(w->thumbnailsButton()->isChecked());
    menu->action(Menu::AsList)->trigger();
    EXPECT_FALSE(pane->showThumbnails());
}
