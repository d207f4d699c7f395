// The menus reached with the mouse: a right click in the thumbnail view
// gives the same document and background menus as the list, and the
// window's menu bar holds the pane's commands.
#define QTEST_QPA_MOUSE_HANDLING  // mouse events through the window, as the desktop sends them
#include "PanesTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
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
