// The custom title-bar window: bar height and content placement, the window
// buttons' layout, sheet placement through the delegate proxy, the
// full-screen button margin, double-click and the inactive look.
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
        ++asked;
        return QRect(5, 7, rect.width(), rect.height());
    }
    int asked = 0;
};

class SilentDelegate : public QObject, public TBWindowDelegate {
public:
    int enteredFullScreen = 0;
    void windowWillEnterFullScreen(TBWindow *) override { ++enteredFullScreen; }
};

struct WindowFixture : ::testing::Test {
    void SetUp() override {
        window = std::make_unique<TBWindow>();
        window->resize(600, 400);
        content = new QWidget;
        window->setContentView(content);
    }
    std::unique_ptr<TBWindow> window;
    QWidget *content = nullptr;
};

}  // namespace

TEST_F(WindowFixture, ContentBeginsBelowTheTallBar) {
    window->setTitleBarHeight(74);
    EXPECT_EQ(content->geometry(), QRect(0, 74, 600, 400 - 74));
    EXPECT_EQ(window->titleBarContainer()->geometry(), QRect(0, 0, 600, 74));
    EXPECT_EQ(window->titleBarView()->geometry(), QRect(0, 0, 600, 74));

    window->show();
    window->resize(700, 500);
    EXPECT_EQ(content->geometry(), QRect(0, 74, 700, 426));
    EXPECT_EQ(window->titleBarView()->width(), 700);
}

TEST_F(WindowFixture, WindowButtonsAreCentredInTheBarAtTheMarginAndSpacing) {
    window->setTitleBarHeight(74);
    TBWindowButton *close = window->buttonInUse(TBWindow::CloseKind);
    TBWindowButton *minimize = window->buttonInUse(TBWindow::MinimizeKind);
    TBWindowButton *zoom = window->buttonInUse(TBWindow::ZoomKind);
    ASSERT_TRUE(close && minimize && zoom);
    const int y = qRound(74 / 2.0 - close->height() / 2.0);
    const int left = qRound(window->trafficLightButtonsLeftMargin());
    const int sep = qRound(window->trafficLightSeparation());
    EXPECT_EQ(close->pos(), QPoint(left, y));
    EXPECT_EQ(minimize->pos(), QPoint(left + close->width() + sep, y));
    EXPECT_EQ(zoom->pos(), QPoint(left + close->width() + sep + minimize->width() + sep, y));

    // Not centred: at the top margin.
    window->setCenterTrafficLightButtons(false);
    EXPECT_EQ(close->y(), qRound(window->trafficLightButtonsTopMargin()));
}

TEST_F(WindowFixture, VerticalButtonsStackCloseOnTop) {
    window->setTitleBarHeight(74);
    window->setVerticalTrafficLightButtons(true);
    TBWindowButton *close = window->buttonInUse(TBWindow::CloseKind);
    TBWindowButton *minimize = window->buttonInUse(TBWindow::MinimizeKind);
    TBWindowButton *zoom = window->buttonInUse(TBWindow::ZoomKind);
    EXPECT_EQ(close->x(), minimize->x());
    EXPECT_EQ(minimize->x(), zoom->x());
    EXPECT_LT(close->y(), minimize->y());
    EXPECT_LT(minimize->y(), zoom->y());
    const double sep = window->trafficLightSeparation();
    EXPECT_EQ(minimize->y() - close->y(), qRound(close->height() + sep - 2));
    // The column is centred in the bar.
    const double total = close->height() + minimize->height() + zoom->height() + 2 * (sep - 2);
    EXPECT_NEAR(close->y(), 74 / 2.0 - total / 2, 1.0);
}

TEST_F(WindowFixture, SettingTheSameHeightChangesNothingAndANewOneRelayoutsAtOnce) {
    window->setTitleBarHeight(74);
    content->setGeometry(0, 74, 10, 10);  // moved by hand
    window->setTitleBarHeight(74);
    EXPECT_EQ(content->geometry(), QRect(0, 74, 10, 10));
    window->setTitleBarHeight(50);
    EXPECT_EQ(content->geometry(), QRect(0, 50, 600, 350));
}

TEST_F(WindowFixture, ACustomButtonTakesThePlaceOfTheStandardOne) {
    auto *custom = TBWindowButton::windowButtonWithSize(QSize(20, 20), QStringLiteral("custom"));
    TBWindowButton *standard = window->buttonInUse(TBWindow::CloseKind);
    window->show();
    window->setCloseButton(custom);
    EXPECT_EQ(window->buttonInUse(TBWindow::CloseKind), custom);
    EXPECT_FALSE(standard->isVisible());
    EXPECT_TRUE(custom->isVisible());
    window->setCloseButton(nullptr);
    EXPECT_EQ(window->buttonInUse(TBWindow::CloseKind), standard);
    EXPECT_TRUE(standard->isVisible());
}

TEST_F(WindowFixture, SheetsComeOutOfTheLowerEdgeOfTheBarUnlessTheDelegatePlacesThem) {
    window->setTitleBarHeight(74);
    QWidget sheet;
    EXPECT_EQ(window->positionSheet(&sheet, QRect(100, 0, 300, 120)), QRect(100, 74, 300, 120));

    SheetPlacingDelegate placing;
    window->setDelegate(&placing);
    EXPECT_EQ(window->delegate(), &placing);
    EXPECT_EQ(window->positionSheet(&sheet, QRect(100, 0, 300, 120)), QRect(5, 7, 300, 120));
    EXPECT_EQ(placing.asked, 1);

    // A delegate that does not place sheets: the bar's edge again.
    SilentDelegate silent;
    window->setDelegate(&silent);
    EXPECT_EQ(window->positionSheet(&sheet, QRect(0, 0, 10, 10)).y(), 74);
}

TEST_F(WindowFixture, TheDelegateIsHeldWeakly) {
    auto *d = new SilentDelegate;
    window->setDelegate(d);
    delete d;
    EXPECT_EQ(window->delegate(), nullptr);
    QWidget sheet;
    EXPECT_EQ(window->positionSheet(&sheet, QRect(0, 0, 10, 10)).y(), qRound(window->titleBarHeight()));
}

TEST_F(WindowFixture, FullScreenButtonMarginIsMeasuredOnceAndKeptOnResize) {
    window->setTitleBarHeight(74);
    auto *full = TBWindowButton::windowButtonWithSize(QSize(16, 16), QStringLiteral("full"), window.get());
    full->move(600 - 16 - 10, 3);  // 10 from the right, as placed
    window->setFullScreenButton(full);
    window->show();
    EXPECT_DOUBLE_EQ(window->fullScreenButtonRightMargin(), 10.0);
    window->resize(800, 400);
    EXPECT_DOUBLE_EQ(window->fullScreenButtonRightMargin(), 10.0);
    EXPECT_EQ(full->x(), 800 - 16 - 10);
    EXPECT_EQ(full->y(), 3);  // top margin 3 when not centred
    window->setCenterFullScreenButton(true);
    EXPECT_EQ(full->y(), qRound(74 / 2.0 - 8));
}

TEST_F(WindowFixture, DoubleClickMinimisesOnlyWhenTheDefaultSaysSo) {
    window->setTitleBarHeight(74);
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
    window->setTitleBarHeight(74);
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
    window->setTitleBarHeight(74);
    auto *button = new QPushButton(QStringLiteral("x"), window->titleBarView());
    TBWindow other;
    other.resize(200, 200);
    window->show();
    other.show();
    window->activateWindow();
    ASSERT_TRUE(VNTest::waitUntil([&] { return window->isActiveWindow(); }, 2000));
    window->updateTitleBar();
    EXPECT_TRUE(window->drawsAsMainWindow());
    EXPECT_TRUE(button->isEnabled());

    other.activateWindow();
    ASSERT_TRUE(VNTest::waitUntil([&] { return other.isActiveWindow(); }, 2000));
    EXPECT_FALSE(window->drawsAsMainWindow());
    EXPECT_FALSE(button->isEnabled());

    window->activateWindow();
    ASSERT_TRUE(VNTest::waitUntil([&] { return window->isActiveWindow(); }, 2000));
    EXPECT_TRUE(button->isEnabled());
}

TEST_F(WindowFixture, InactiveBarIsLighterAndWithoutNoise) {
    window->setTitleBarHeight(74);
    TBWindow other;
    window->show();
    other.show();
    window->activateWindow();
    ASSERT_TRUE(VNTest::waitUntil([&] { return window->isActiveWindow(); }, 2000));
    const QImage active = window->titleBarView()->grab().toImage();
    other.activateWindow();
    ASSERT_TRUE(VNTest::waitUntil([&] { return other.isActiveWindow(); }, 2000));
    const QImage inactive = window->titleBarView()->grab().toImage();
    // Near the bottom of the bar (above the separator) the active gradient
    // starts at 0.66 white, the inactive one at 0.878.
    const int y = active.height() - 4;
    EXPECT_NEAR(qGray(active.pixel(300, y)), 0.66 * 255, 14);
    EXPECT_NEAR(qGray(inactive.pixel(300, y)), 0.878 * 255, 6);
    // No noise when inactive: a row is one flat colour.
    EXPECT_EQ(inactive.pixel(200, y), inactive.pixel(201, y));
    // The separator line at the very bottom.
    EXPECT_NEAR(qGray(active.pixel(300, active.height() - 1)), 0.408 * 255, 3);
}

TEST(TitlebarNoise, IsOneGreyTileOf124Squared) {
    const QImage &noise = TBTitlebarView::noiseImage();
    EXPECT_EQ(noise.size(), QSize(124, 124));
    EXPECT_EQ(noise.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(&noise, &TBTitlebarView::noiseImage());  // made once
}
