// Title-bar buttons and their groups: shared rollover, the default group,
// clearing on full screen and live resize, disabled buttons.
#include "App/TBWindowButton.h"
#include "App/TBWindowButtonGroup.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QPixmap solid(QColor c) {
    QPixmap p(4, 4);
    p.fill(c);
    return p;
}

struct Images {
    QPixmap active = solid(Qt::red), notKey = solid(Qt::gray), inactive = solid(Qt::lightGray), rollover = solid(Qt::blue);
};

TBWindowButton *makeButton(QWidget *parent, const QString &group, const Images &i) {
    auto *b = TBWindowButton::windowButtonWithSize(QSize(16, 16), group, parent);
    b->setActiveImage(i.active);
    b->setActiveNotKeyWindowImage(i.notKey);
    b->setInactiveImage(i.inactive);
    b->setRolloverImage(i.rollover);
    return b;
}

void enter(QWidget *w) {
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(w, &e);
}

void leave(QWidget *w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

bool same(const QPixmap &a, const QPixmap &b) { return a.cacheKey() == b.cacheKey(); }

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

TEST(WindowButtonGroup, NullIdentifierMeansTheDefaultGroup) {
    QWidget host;
    Images i;
    TBWindowButton *a = makeButton(&host, QString(), i);
    TBWindowButton *b = makeButton(&host, QString(), i);
    EXPECT_EQ(a->group(), b->group());
    EXPECT_EQ(a->group()->identifier(), QStringLiteral("com.tolvendi.titlebarwindow.defaultWindowButtonGroup"));
    EXPECT_EQ(TBWindowButtonGroup::groupWithIdentifier(QString()), a->group());
}

TEST(WindowButton, HoveringOneButtonLightsTheWholeGroup) {
    QWidget host;
    Images i;
    TBWindowButton *close = makeButton(&host, QStringLiteral("lights"), i);
    TBWindowButton *minimize = makeButton(&host, QStringLiteral("lights"), i);
    TBWindowButton *zoom = makeButton(&host, QStringLiteral("lights"), i);
    TBWindowButton *stranger = makeButton(&host, QStringLiteral("other"), i);
    host.show();

    enter(minimize);
    for (TBWindowButton *b : {close, minimize, zoom})
        EXPECT_TRUE(same(b->currentImage(), i.rollover));
    EXPECT_FALSE(same(stranger->currentImage(), i.rollover));

    // Moving from one button to the next keeps the group lit.
    enter(zoom);
    leave(minimize);
    for (TBWindowButton *b : {close, minimize, zoom})
        EXPECT_TRUE(same(b->currentImage(), i.rollover));

    leave(zoom);
    // Back to the image for the window's state (the host is not the active window here
    // unless the platform made it so).
    const QPixmap expected = host.isActiveWindow() ? i.active : i.notKey;
    for (TBWindowButton *b : {close, minimize, zoom})
        EXPECT_TRUE(same(b->currentImage(), expected));
    EXPECT_EQ(close->group()->numberOfCaptures(), 0);
}

TEST(WindowButton, FullScreenAndLiveResizeClearTheHover) {
    QWidget host;
    Images i;
    TBWindowButton *a = makeButton(&host, QStringLiteral("fs"), i);
    TBWindowButton *b = makeButton(&host, QStringLiteral("fs"), i);
    host.show();
    enter(a);
    ASSERT_TRUE(same(b->currentImage(), i.rollover));
    a->windowWillEnterFullScreen();
    EXPECT_FALSE(a->isVisible());
    EXPECT_EQ(a->group()->numberOfCaptures(), 0);
    EXPECT_FALSE(same(b->currentImage(), i.rollover));
    a->windowWillExitFullScreen();
    EXPECT_TRUE(a->isVisible());

    enter(b);
    ASSERT_TRUE(a->group()->shouldDisplayRollOver());
    b->viewDidEndLiveResize();
    EXPECT_FALSE(a->group()->shouldDisplayRollOver());
}

TEST(WindowButton, ADisabledButtonNeverRollsOver) {
    QWidget host;
    Images i;
    TBWindowButton *a = makeButton(&host, QStringLiteral("disabled"), i);
    TBWindowButton *b = makeButton(&host, QStringLiteral("disabled"), i);
    host.show();
    b->setEnabled(false);
    EXPECT_TRUE(same(b->currentImage(), i.inactive));
    enter(a);
    EXPECT_TRUE(same(a->currentImage(), i.rollover));
    EXPECT_TRUE(same(b->currentImage(), i.inactive));
    b->setEnabled(true);
    EXPECT_TRUE(same(b->currentImage(), i.active));
    leave(a);
}

TEST(WindowButton, AButtonDestroyedWhileHoveredDoesNotLeaveItsGroupLit) {
    QWidget host;
    Images i;
    TBWindowButton *keep = makeButton(&host, QStringLiteral("gone"), i);
    auto *gone = makeButton(&host, QStringLiteral("gone"), i);
    host.show();
    enter(gone);
    ASSERT_TRUE(same(keep->currentImage(), i.rollover));
    delete gone;
    EXPECT_FALSE(keep->group()->shouldDisplayRollOver());
    EXPECT_FALSE(same(keep->currentImage(), i.rollover));
}
