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

// The title's shadow: the window's own for the main window, the inactive one
// for the others, the white default where none is set; a blurred one is drawn.
TEST_F(WindowFixture, TheTitleShadowFollowsTheWindowsStateAndIsDrawnBlurred) {
    auto *bar = qobject_cast<TBTitlebarView *>(window->titleBarView());
    ASSERT_NE(bar, nullptr);
    window->setWindowTitle(QStringLiteral("Shadowed title"));
    window->setShowsTitle(true);
    TBWindow other;
    other.resize(200, 200);
    const TBTextShadow red{QColor(255, 0, 0), QPointF(0, 3), 4};
    const TBTextShadow blue{QColor(0, 0, 255), QPointF(1, 1), 0};
    struct Row {
        const char *name;
        bool main;
        std::optional<TBTextShadow> active, inactive;
        QColor expected;
    } rows[] = {
        {"main, set", true, red, blue, QColor(255, 0, 0)},
        {"not main, set", false, red, blue, QColor(0, 0, 255)},
        {"main, unset", true, std::nullopt, blue, QColor::fromRgbF(1, 1, 1, 0.5)},
        {"not main, unset", false, red, std::nullopt, QColor::fromRgbF(1, 1, 1, 0.5)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        window->setTitleTextShadow(row.active);
        window->setInactiveTitleTextShadow(row.inactive);
        activate(row.main ? static_cast<QWidget *>(window.get()) : &other);
        ASSERT_EQ(window->drawsAsMainWindow(), row.main);
        TBTitlebarView::TitleAttributes a;
        bar->getTitleFrame(nullptr, &a, window.get());
        EXPECT_EQ(a.shadowColor, row.expected);
    }
    // Drawn: red shadow pixels below the title, spread by the blur.
    window->setTitleTextShadow(red);
    activate(window.get());
    QRectF frame;
    bar->getTitleFrame(&frame, nullptr, window.get());
    const QImage drawn = bar->grab().toImage();
    int reddish = 0;
    for (int y = int(frame.bottom()); y < std::min(drawn.height(), int(frame.bottom()) + 6); ++y)
        for (int x = int(frame.left()); x < int(frame.right()); ++x) {
            const QColor c = drawn.pixelColor(x, y);
            reddish += c.red() > c.green() + 40 && c.red() > c.blue() + 40 ? 1 : 0;
        }
    EXPECT_GT(reddish, 0);
}
