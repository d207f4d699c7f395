// The shared views: the table's drag masks and badge image, its three
// right-click cases and space bar; the thumbnail browser's zoom steps; the
// image item's representation; the label's frame; the row highlight.
#include "App/QNImageBrowserView.h"
#include "App/QNImageObject.h"
#include "App/QNLabel.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacTableView.h"
#include "App/QNTableRowView.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPointingDevice>
#include <QStandardItemModel>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct TableFixture : ::testing::Test {
    void SetUp() override {
        model.setRowCount(5);
        model.setColumnCount(1);
        for (int r = 0; r < 5; ++r)
            model.setItem(r, 0, new QStandardItem(QStringLiteral("row %1").arg(r)));
        table.setModel(&model);
        table.setSelectionMode(QAbstractItemView::ExtendedSelection);
        table.verticalHeader()->setDefaultSectionSize(20);
        table.resize(300, 300);
        table.show();
        table.setMenuProvider([this](QNMacTableView *, const QList<int> &rows) {
            menuRows = rows;
            ++menus;
            return static_cast<QMenu *>(nullptr);
        });
    }
    QPoint rowPoint(int row) const { return QPoint(20, table.rowViewportPosition(row) + 5); }
    void rightClick(QPoint viewportPos, QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse) {
        QContextMenuEvent e(reason, viewportPos, table.viewport()->mapToGlobal(viewportPos));
        QApplication::sendEvent(table.viewport(), &e);
    }
    QStandardItemModel model;
    QNMacTableView table;
    QList<int> menuRows;
    int menus = 0;
};

}  // namespace

TEST(MacTableView, DragOperationMasks) {
    EXPECT_EQ(QNMacTableView::sourceOperationMask(true), 21);
    EXPECT_EQ(QNMacTableView::sourceOperationMask(false), 53);
    EXPECT_EQ(QNMacTableView::dropActionsForMask(21), Qt::CopyAction | Qt::MoveAction);
}

TEST(MacTableView, BadgeImageCarriesTheRowCountUnlessTheDefaultIconIsKept) {
    QNMacTableView table;
    const QPixmap badge = table.dragImageForRows({0, 1, 2});
    EXPECT_EQ(badge.size(), QSize(110, 110));
    // The box's fill colour inside its rounded outline.
    const QImage img = badge.toImage();
    EXPECT_NEAR(QColor(img.pixel(6, 100)).redF(), 0.99609375, 1.0 / 255);
    EXPECT_NEAR(QColor(img.pixel(6, 100)).greenF(), 0.921875, 1.0 / 255);
    // Three and thirty rows give different badges.
    EXPECT_NE(QNMacTableView::badgeDragImage(3).toImage(), QNMacTableView::badgeDragImage(30).toImage());
    table.setDefaultIcon(true);
    EXPECT_TRUE(table.dragImageForRows({0, 1, 2}).isNull());
}

TEST_F(TableFixture, RightClickOnAnUnselectedRowSelectsThatRowAlone) {
    table.selectionModel()->select(model.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    rightClick(rowPoint(3));
    EXPECT_EQ(menus, 1);
    EXPECT_EQ(menuRows, QList<int>{3});
    EXPECT_EQ(table.selectedRowList(), QList<int>{3});
}

TEST_F(TableFixture, RightClickOnASelectedRowKeepsTheMultipleSelection) {
    for (int r : {1, 2, 4})
        table.selectionModel()->select(model.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    rightClick(rowPoint(2));
    EXPECT_EQ(menuRows, (QList<int>{1, 2, 4}));
    EXPECT_EQ(table.selectedRowList(), (QList<int>{1, 2, 4}));
}

TEST_F(TableFixture, RightClickBelowTheLastRowGivesAnEmptySetAndKeepsTheSelection) {
    table.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    rightClick(QPoint(20, 250));
    EXPECT_EQ(menus, 1);
    EXPECT_TRUE(menuRows.isEmpty());
    EXPECT_EQ(table.selectedRowList(), QList<int>{1});
}

TEST_F(TableFixture, AKeyboardContextMenuDoesNotAskTheProvider) {
    rightClick(rowPoint(1), QContextMenuEvent::Keyboard);
    EXPECT_EQ(menus, 0);
}

TEST_F(TableFixture, SpaceTogglesQuickLookThroughTheApplicationDelegate) {
    QNMacAppDelegate delegate;
    QWidget panel;
    delegate.setQuickLookPanel(&panel);
    EXPECT_EQ(delegate.quickLookMenuTitle(), QStringLiteral("Open QuickLook panel"));
    QTest::keyClick(&table, Qt::Key_Space, Qt::NoModifier);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(delegate.quickLookMenuTitle(), QStringLiteral("Close QuickLook panel"));
    QTest::keyClick(&table, Qt::Key_Space, Qt::NoModifier);
    EXPECT_FALSE(panel.isVisible());
}

TEST(ImageBrowserView, KeyboardZoomSteps) {
    QNImageBrowserView browser;
    auto zoomAt = [&](float start, Qt::Key key, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
        browser.setZoomValue(start);
        QTest::keyClick(&browser, key, mods);
        return browser.zoomValue();
    };
    EXPECT_FLOAT_EQ(zoomAt(0.95f, Qt::Key_Plus), 1.0f);
    EXPECT_FLOAT_EQ(zoomAt(0.5f, Qt::Key_Equal), 0.6f);
    EXPECT_FLOAT_EQ(zoomAt(0.35f, Qt::Key_Minus), 0.3f);
    // 0.4 is not below the limit: the step subtracts (in double precision).
    EXPECT_NEAR(zoomAt(0.4f, Qt::Key_Minus), 0.3f, 1e-6);
    // Without the modifier the keys do not zoom.
    EXPECT_FLOAT_EQ(zoomAt(0.5f, Qt::Key_Minus, Qt::NoModifier), 0.5f);
}

TEST(ImageBrowserView, PinchZoomSteps) {
    QNImageBrowserView browser;
    browser.setZoomValue(0.4f);
    browser.magnify(-0.2);
    EXPECT_FLOAT_EQ(browser.zoomValue(), 0.3f);
    browser.setZoomValue(1.0f);
    browser.magnify(0.5);
    EXPECT_FLOAT_EQ(browser.zoomValue(), 1.0f);
    // Inward of 1.0 the sum is not bounded again.
    browser.setZoomValue(0.9f);
    browser.magnify(0.5);
    EXPECT_NEAR(browser.zoomValue(), 1.4f, 1e-6);
    browser.setZoomValue(0.6f);
    browser.magnify(0);
    EXPECT_FLOAT_EQ(browser.zoomValue(), 0.6f);

    // The same through the platform's pinch event.
    browser.setZoomValue(0.5f);
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, QPointF(5, 5),
                              QPointF(5, 5), QPointF(5, 5), 0.1, QPointF());
    QApplication::sendEvent(&browser, &pinch);
    EXPECT_NEAR(browser.zoomValue(), 0.6f, 1e-6);
}

TEST(ImageBrowserView, HandsPromisedFilesAndDragEndToThePane) {
    QNImageBrowserView browser;
    int count = 3;
    browser.setDataSource([&] { return count; }, [](int i) {
        QNImageObject o;
        o.setTitle(QStringLiteral("item %1").arg(i));
        return o;
    });
    browser.selectionModel()->select(browser.model()->index(2, 0), QItemSelectionModel::Select);
    QString destination;
    QList<int> items;
    browser.setPromisedFilesWriter([&](const QString &d, const QList<int> &i) {
        destination = d;
        items = i;
        return QStringList{QStringLiteral("a.txt")};
    });
    EXPECT_EQ(browser.namesOfPromisedFilesDroppedAtDestination(QStringLiteral("/dest")), QStringList{QStringLiteral("a.txt")});
    EXPECT_EQ(destination, QStringLiteral("/dest"));
    EXPECT_EQ(items, QList<int>{2});
    Qt::DropAction ended = Qt::IgnoreAction;
    browser.setDropCleanup([&](Qt::DropAction a) { ended = a; });
    browser.draggingEnded(Qt::MoveAction);
    EXPECT_EQ(ended, Qt::MoveAction);
    EXPECT_EQ(browser.model()->rowCount(), 3);
    EXPECT_EQ(browser.model()->data(browser.model()->index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("item 1"));
}

TEST(ImageObject, TheLastSetterDecidesTheRepresentation) {
    QNImageObject item;
    QImage picture(4, 4, QImage::Format_RGB32);
    item.setImage(picture);
    EXPECT_EQ(item.imageRepresentationType(), QNImageObject::RepresentationType::Image);
    EXPECT_EQ(item.imageRepresentation().value<QImage>(), picture);
    item.setPath(QStringLiteral("/pictures/a.jpg"));
    EXPECT_EQ(item.imageRepresentationType(), QNImageObject::RepresentationType::Path);
    EXPECT_EQ(item.imageRepresentation().toString(), QStringLiteral("/pictures/a.jpg"));
    EXPECT_EQ(item.imageUID(), QStringLiteral("/pictures/a.jpg"));
    item.setUrl(QUrl(QStringLiteral("https://example.invalid/a b.jpg")));
    EXPECT_EQ(item.imageUID(), QStringLiteral("https://example.invalid/a%20b.jpg"));
    EXPECT_TRUE(item.isSelectable());
    item.setVersion(7);
    QNImageObject copy = item;
    EXPECT_EQ(copy.imageVersion(), 7u);
    EXPECT_EQ(copy.imageRepresentationType(), QNImageObject::RepresentationType::URL);
}

TEST(Label, TakesAFrameTwoLowerAndFourTaller) {
    QFont font;
    QNLabel label(QRect(10, 10, 100, 16), QStringLiteral("Home"), font);
    EXPECT_EQ(label.geometry(), QRect(10, 8, 100, 20));
    EXPECT_EQ(label.text(), QStringLiteral("Home"));
    label.setText(QStringLiteral("Drive"));
    EXPECT_EQ(label.text(), QStringLiteral("Drive"));
    EXPECT_GT(QNLabel::textSize(QStringLiteral("Drive"), font).width(), 0);
}

TEST(TableRowView, SelectionShowsOnlyWhenEmphasized) {
    QImage img(10, 10, QImage::Format_ARGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        QNTableRowView::drawSelectionInRect(&p, QRect(0, 0, 5, 10), false);
        QNTableRowView::drawSelectionInRect(&p, QRect(5, 0, 5, 10), true);
    }
    EXPECT_EQ(QColor(img.pixel(1, 1)), QColor(Qt::white));
    EXPECT_EQ(QColor(img.pixel(7, 1)).rgb(), QNTableRowView::selectionColor().rgb());
    EXPECT_NEAR(QNTableRowView::selectionColor().redF(), 0.953125, 1.0 / 255);
    EXPECT_NEAR(QNTableRowView::selectionColor().greenF(), 0.78125, 1.0 / 255);
    EXPECT_NEAR(QNTableRowView::selectionColor().blueF(), 0.30859375, 1.0 / 255);
}
