// The custom title-bar window: content placement under the bar, sheet placement through the (weakly
// held) delegate, double-click, dragging and the inactive state.
#include "App/TBTitlebarView.h"
#include "App/TBWindow.h"
#include "App/TBWindowButton.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class SheetPlacingDelegate : public QObject, public TBWindowDelegate {
public:
    std::optional<QRect> windowWillPositionSheet(TBWindow *, QWidget *, const QRect &rect) override {
        return QRect(5, 7, rect.width(), rect.height());
    }
};

class SilentDelegate : public QObject, public TBWindowDelegate {};

struct WindowFixture : ::testing::Test {
    void SetUp() override {
        window = std::make_unique<TBWindow>();
        window->resize(600, 400);
        content = new QWidget;
        window->setContentView(content);
        window->setTitleBarHeight(74);
    }
    // Shows the window and makes it the active one.
    static void activate(QWidget *w) {
        w->show();
        w->activateWindow();
        ASSERT_TRUE(VNTest::waitUntil([&] { return w->isActiveWindow(); }, 2000));
    }
    std::unique_ptr<TBWindow> window;
    QWidget *content = nullptr;
};

}  // namespace

TEST_F(WindowFixture, ContentFollowsTheBarHeightAndTheWindowSize) {
    EXPECT_EQ(content->geometry(), QRect(0, 74, 600, 400 - 74));
    EXPECT_EQ(window->titleBarView()->geometry(), QRect(0, 0, 600, 74));
    window->show();
    window->resize(700, 500);
    EXPECT_EQ(content->geometry(), QRect(0, 74, 700, 426));
    window->setTitleBarHeight(50);
    EXPECT_EQ(content->geometry(), QRect(0, 50, 700, 450));
}

TEST_F(WindowFixture, SheetsComeOutUnderTheBarUnlessTheWeaklyHeldDelegatePlacesThem) {
    QWidget sheet;
    EXPECT_EQ(window->positionSheet(&sheet, QRect(100, 0, 300, 120)), QRect(100, 74, 300, 120));
    SheetPlacingDelegate placing;
    window->setDelegate(&placing);
    EXPECT_EQ(window->positionSheet(&sheet, QRect(100, 0, 300, 120)), QRect(5, 7, 300, 120));
    // A delegate that does not place sheets, and one that is gone: the bar's edge.
    auto *silent = new SilentDelegate;
    window->setDelegate(silent);
    EXPECT_EQ(window->positionSheet(&sheet, QRect(0, 0, 10, 10)).y(), 74);
    delete silent;
    EXPECT_EQ(window->delegate(), nullptr);
    EXPECT_EQ(window->positionSheet(&sheet, QRect(0, 0, 10, 10)).y(), 74);
}

TEST_F(WindowFixture, DoubleClickMinimisesOnlyWhenTheDefaultSaysSo) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QWidget *bar = window->titleBarView();
    VNUserDefaults::standard().setBool(false, QStringLiteral("AppleMiniaturizeOnDoubleClick"));
    QTest::mouseDClick(bar, Qt::LeftButton, {}, QPoint(300, 30));
    EXPECT_FALSE(window->isMinimized());
    VNUserDefaults::standard().setBool(true, QStringLiteral("AppleMiniaturizeOnDoubleClick"));
    QTest::mouseDClick(bar, Qt::LeftButton, {}, QPoint(300, 30));
    EXPECT_TRUE(VNTest::waitUntil([&] { return window->isMinimized(); }, 2000));
    VNUserDefaults::standard().removeObject(QStringLiteral("AppleMiniaturizeOnDoubleClick"));
}

TEST_F(WindowFixture, DraggingTheBarMovesTheWindowByTheMouseMovement) {
    window->move(100, 100);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QPoint start = window->pos();
    QWidget *container = window->titleBarContainer();
    // The offscreen platform has no move request of its own: the bar follows the mouse.
    const QPointF g0 = container->mapToGlobal(QPointF(300, 40));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(300, 40), g0, Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(container, &press);
    for (QPointF delta : {QPointF(30, 20), QPointF(50, 30)}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(300, 40) + delta, g0 + delta, Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(container, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(350, 70), g0 + QPointF(50, 30), Qt::LeftButton,
                        Qt::NoButton, {});
    QApplication::sendEvent(container, &release);
    EXPECT_EQ(window->pos(), start + QPoint(50, 30));
}

TEST_F(WindowFixture, ControlsInTheBarWorkOnlyInTheMainWindow) {
    auto *button = new QPushButton(QStringLiteral("x"), window->titleBarView());
    TBWindow other;
    other.resize(200, 200);
    other.show();
    activate(window.get());
    window->updateTitleBar();
    EXPECT_TRUE(window->drawsAsMainWindow());
    EXPECT_TRUE(button->isEnabled());
    activate(&other);
    EXPECT_FALSE(window->drawsAsMainWindow());
    EXPECT_FALSE(button->isEnabled());
    activate(window.get());
    EXPECT_TRUE(button->isEnabled());
}
