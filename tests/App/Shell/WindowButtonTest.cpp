// Title-bar buttons and their groups: the shared rollover, and what clears
// it (full screen, live resize, a button destroyed while hovered); a
// disabled button never rolls over; the capture count never goes negative;
// each window's own group and the hover area around the buttons.
#include "App/TBWindowButton.h"
#include "App/TBWindow.h"
#include "App/TBWindowButtonGroup.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QPixmap solid(QColor c) {
    QPixmap p(4, 4);
    p.fill(c);
    return p;
}

void enter(QWidget *w) {
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(w, &e);
}

void leave(QWidget *w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

// Buttons of one group (named after the test) on a shown host.
struct WindowButton : ::testing::Test {
    TBWindowButton *button(const QString &group = {}) {
        const QString g = group.isNull()
                              ? QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name())
                              : group;
        auto *b = TBWindowButton::windowButtonWithSize(QSize(16, 16), g, &host);
        b->setActiveImage(active);
        b->setActiveNotKeyWindowImage(notKey);
        b->setInactiveImage(inactive);
        b->setRolloverImage(rollover);
        host.show();
        return b;
    }
    bool rolledOver(TBWindowButton *b) const { return b->currentImage().cacheKey() == rollover.cacheKey(); }
    bool shows(TBWindowButton *b, const QPixmap &p) const { return b->currentImage().cacheKey() == p.cacheKey(); }

    QPixmap active = solid(Qt::red), notKey = solid(Qt::gray), inactive = solid(Qt::lightGray), rollover = solid(Qt::blue);
    QWidget host;
};

}  // namespace

TEST(WindowButtonGroup, CountNeverDropsBelowZeroAndAnnouncesChanges) {
    TBWindowButtonGroup *g = TBWindowButtonGroup::groupWithIdentifier(QStringLiteral("count-test"));
    QSignalSpy spy(g, &TBWindowButtonGroup::didUpdateRolloverState);
    g->didReleaseMousePointer();
    EXPECT_EQ(g->numberOfCaptures(), 0);
    EXPECT_EQ(spy.count(), 0);
    g->didCaptureMousePointer();
    g->didCaptureMousePointer();
    EXPECT_TRUE(g->shouldDisplayRollOver());
    g->setNumberOfCaptures(2);  // unchanged: no announcement
    EXPECT_EQ(spy.count(), 2);
    g->resetMouseCaptures();
    EXPECT_FALSE(g->shouldDisplayRollOver());
    EXPECT_EQ(spy.count(), 3);
}

TEST_F(WindowButton, HoveringOneButtonLightsTheWholeGroup) {
    TBWindowButton *close = button(), *minimize = button(), *zoom = button();
    TBWindowButton *stranger = button(QStringLiteral("other"));
    enter(minimize);
    for (TBWindowButton *b : {close, minimize, zoom})
        EXPECT_TRUE(rolledOver(b));
    EXPECT_FALSE(rolledOver(stranger));
    // Moving from one button to the next keeps the group lit.
    enter(zoom);
    leave(minimize);
    for (TBWindowButton *b : {close, minimize, zoom})
        EXPECT_TRUE(rolledOver(b));
    leave(zoom);
    const QPixmap expected = host.isActiveWindow() ? active : notKey;
    for (TBWindowButton *b : {close, minimize, zoom})
        EXPECT_TRUE(shows(b, expected));
    EXPECT_EQ(close->group()->numberOfCaptures(), 0);

    // A disabled button never rolls over.
    zoom->setEnabled(false);
    EXPECT_TRUE(shows(zoom, inactive));
    enter(close);
    EXPECT_TRUE(rolledOver(minimize));
    EXPECT_TRUE(shows(zoom, inactive));
    zoom->setEnabled(true);
    EXPECT_TRUE(shows(zoom, active));
    leave(close);
}

TEST_F(WindowButton, FullScreenLiveResizeAndADestroyedButtonClearTheHover) {
    TBWindowButton *a = button(), *b = button();
    enter(a);
    ASSERT_TRUE(rolledOver(b));
    a->windowWillEnterFullScreen();
    EXPECT_FALSE(a->isVisible());
    EXPECT_EQ(a->group()->numberOfCaptures(), 0);
    EXPECT_FALSE(rolledOver(b));
    a->windowWillExitFullScreen();
    EXPECT_TRUE(a->isVisible());

    enter(b);
    ASSERT_TRUE(a->group()->shouldDisplayRollOver());
    b->viewDidEndLiveResize();
    EXPECT_FALSE(a->group()->shouldDisplayRollOver());

    TBWindowButton *gone = button();
    enter(gone);
    ASSERT_TRUE(rolledOver(a));
    delete gone;
    EXPECT_FALSE(a->group()->shouldDisplayRollOver());
    EXPECT_FALSE(rolledOver(a));
}

TEST(TitleBarButtons, EachWindowLightsOnlyItsOwnButtonsAndTheHoverAreaReachesFourPointsOut) {
    TBWindow a, b;
    for (TBWindow *w : {&a, &b}) {
        w->resize(400, 300);
        w->show();
    }
    TBWindowButton *close = a.buttonInUse(TBWindow::CloseKind);
    const auto lit = [](TBWindow &w) {
        QList<bool> on;
        for (int k : {TBWindow::CloseKind, TBWindow::MinimizeKind, TBWindow::ZoomKind})
            on << (w.buttonInUse(k)->currentImage().cacheKey() == w.buttonInUse(k)->rolloverImage().cacheKey());
        return on;
    };
    // The pointer moving over the window, beside the close button.
    const auto moveTo = [&](QPoint offsetFromButton) {
        const QPoint inWindow = close->geometry().topLeft() + offsetFromButton;
        QMouseEvent move(QEvent::MouseMove, QPointF(inWindow), a.mapToGlobal(QPointF(inWindow)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&a, &move);
    };
    EXPECT_NE(close->groupIdentifier(), b.buttonInUse(TBWindow::CloseKind)->groupIdentifier());
    moveTo(QPoint(-3, -3));  // within 4 points of the button
    EXPECT_EQ(lit(a), (QList<bool>{true, true, true}));
    EXPECT_EQ(lit(b), (QList<bool>{false, false, false}));
    moveTo(QPoint(-6, 2));  // beyond the hover area
    EXPECT_EQ(lit(a), (QList<bool>{false, false, false}));
    moveTo(QPoint(close->width() + 3, close->height() + 3));
    EXPECT_TRUE(close->isMouseInside());
    QEvent leave(QEvent::Leave);  // out of the window altogether
    QApplication::sendEvent(&a, &leave);
    EXPECT_FALSE(close->group()->shouldDisplayRollOver());
}
