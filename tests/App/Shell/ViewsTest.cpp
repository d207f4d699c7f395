// The shared views: the table's three right-click cases, its drag badge and
// space bar; the thumbnail browser's zoom steps.
#include "App/QNImageBrowserView.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacTableView.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QStandardItemModel>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct TableFixture : ::testing::Test {
    void SetUp() override {
        model.setColumnCount(1);
        for (int r = 0; r < 5; ++r)
            model.appendRow(new QStandardItem(QStringLiteral("row %1").arg(r)));
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
    void select(const QList<int> &rows) {
        table.clearSelection();
        for (int r : rows)
            table.selectionModel()->select(model.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
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

TEST_F(TableFixture, TheThreeRightClickCases) {
    // On an unselected row: that row alone.
    select({0, 1});
    rightClick(rowPoint(3));
    EXPECT_EQ(menuRows, QList<int>{3});
    EXPECT_EQ(table.selectedRowList(), QList<int>{3});
    // On a selected row: the whole selection stays.
    select({1, 2, 4});
    rightClick(rowPoint(2));
    EXPECT_EQ(menuRows, (QList<int>{1, 2, 4}));
    EXPECT_EQ(table.selectedRowList(), (QList<int>{1, 2, 4}));
    // Below the last row: an empty set, the selection kept.
    select({1});
    rightClick(QPoint(20, 250));
    EXPECT_TRUE(menuRows.isEmpty());
    EXPECT_EQ(table.selectedRowList(), QList<int>{1});
    EXPECT_EQ(menus, 3);
    // The keyboard's context menu does not ask the provider.
    rightClick(rowPoint(1), QContextMenuEvent::Keyboard);
    EXPECT_EQ(menus, 3);
}

TEST_F(TableFixture, TheDragBadgeCarriesTheRowCountUnlessTheDefaultIconIsKept) {
    EXPECT_FALSE(table.dragImageForRows({0, 1, 2}).isNull());
    EXPECT_NE(QNMacTableView::badgeDragImage(3).toImage(), QNMacTableView::badgeDragImage(30).toImage());
    table.setDefaultIcon(true);
    EXPECT_TRUE(table.dragImageForRows({0, 1, 2}).isNull());
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

TEST(ImageBrowserView, ZoomStepsByKeyboardAndPinch) {
    QNImageBrowserView browser;
    auto key = [&](float start, Qt::Key k, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
        browser.setZoomValue(start);
        QTest::keyClick(&browser, k, mods);
        return browser.zoomValue();
    };
    EXPECT_FLOAT_EQ(key(0.95f, Qt::Key_Plus), 1.0f);
    EXPECT_FLOAT_EQ(key(0.5f, Qt::Key_Equal), 0.6f);
    EXPECT_FLOAT_EQ(key(0.35f, Qt::Key_Minus), 0.3f);
    // 0.4 is not below the limit: the step subtracts (in double precision).
    EXPECT_NEAR(key(0.4f, Qt::Key_Minus), 0.3f, 1e-6);
    // Without the modifier the keys do not zoom.
    EXPECT_FLOAT_EQ(key(0.5f, Qt::Key_Minus, Qt::NoModifier), 0.5f);

    auto pinch = [&](float start, double by) {
        browser.setZoomValue(start);
        browser.magnify(by);
        return browser.zoomValue();
    };
    EXPECT_FLOAT_EQ(pinch(0.4f, -0.2), 0.3f);
    EXPECT_FLOAT_EQ(pinch(1.0f, 0.5), 1.0f);
    // Inward of 1.0 the sum is not bounded again.
    EXPECT_NEAR(pinch(0.9f, 0.5), 1.4f, 1e-6);
    EXPECT_FLOAT_EQ(pinch(0.6f, 0), 0.6f);
    // The same through the platform's pinch event.
    browser.setZoomValue(0.5f);
    QNativeGestureEvent gesture(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, QPointF(5, 5),
                                QPointF(5, 5), QPointF(5, 5), 0.1, QPointF());
    QApplication::sendEvent(&browser, &gesture);
    EXPECT_NEAR(browser.zoomValue(), 0.6f, 1e-6);
}

