#include "App/TBWindow.h"

#include "App/QNImageLibrary.h"
#include "App/TBTitlebarContainer.h"
#include "App/TBTitlebarView.h"
#include "App/TBWindowButton.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace {

// A thin strip along an edge or a corner of the frameless window that asks
// the window system to resize it.
class EdgeHandle : public QWidget {
public:
    EdgeHandle(QWidget *parent, Qt::Edges edges) : QWidget(parent), m_edges(edges) {
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
        if (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge))
            setCursor(Qt::SizeFDiagCursor);
        else if (edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge))
            setCursor(Qt::SizeBDiagCursor);
        else if (edges & (Qt::LeftEdge | Qt::RightEdge))
            setCursor(Qt::SizeHorCursor);
        else
            setCursor(Qt::SizeVerCursor);
    }
    Qt::Edges edges() const { return m_edges; }

protected:
    void mousePressEvent(QMouseEvent *event) override {
        if (event->button() == Qt::LeftButton && window()->windowHandle())
            window()->windowHandle()->startSystemResize(m_edges);
    }

private:
    Qt::Edges m_edges;
};

constexpr int kHandle = 4;
constexpr int kButtonSize = 18;

}  // namespace

double TBWindow::platformTitleBarHeight() { return 22.0; }
double TBWindow::defaultTrafficLightButtonsLeftMargin() { return 12.0; }
double TBWindow::defaultTrafficLightSeparation() { return 4.0; }

TBWindow::TBWindow(QWidget *parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_titleBarHeight = m_heightToRestore = platformTitleBarHeight();
    m_trafficLightButtonsLeftMargin = defaultTrafficLightButtonsLeftMargin();
    m_trafficLightSeparation = defaultTrafficLightSeparation();

    m_container = new TBTitlebarContainer(this);
    m_container->lower();
    setTitleBarView(new TBTitlebarView(m_container));

    m_standardButtons[CloseKind] = makeStandardButton(QStringLiteral("window-close"), CloseKind);
    m_standardButtons[MinimizeKind] = makeStandardButton(QStringLiteral("window-minimize"), MinimizeKind);
    m_standardButtons[ZoomKind] = makeStandardButton(QStringLiteral("window-zoom"), ZoomKind);

    for (Qt::Edges e : {Qt::Edges(Qt::LeftEdge), Qt::Edges(Qt::RightEdge), Qt::Edges(Qt::BottomEdge),
                        Qt::Edges(Qt::TopEdge), Qt::TopEdge | Qt::LeftEdge, Qt::TopEdge | Qt::RightEdge,
                        Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge})
        m_resizeHandles << new EdgeHandle(this, e);

    // The application turning active or inactive changes how the bar looks.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { updateTitleBar(); });
    layoutTrafficLightsAndContent();
}

TBWindow::~TBWindow() = default;

TBWindowButton *TBWindow::makeStandardButton(const QString &imageBase, int kind) {
    // One group per window: hovering one window's buttons lights only those.
    auto *b = TBWindowButton::windowButtonWithSize(QSize(kButtonSize, kButtonSize), buttonGroupIdentifier(), this);
    b->setActiveImage(QNImageLibrary::imageNamed(imageBase));
    b->setActiveNotKeyWindowImage(QNImageLibrary::imageNamed(imageBase + QStringLiteral("-inactive")));
    b->setInactiveImage(QNImageLibrary::imageNamed(imageBase + QStringLiteral("-inactive")));
    b->setRolloverImage(QNImageLibrary::imageNamed(imageBase + QStringLiteral("-rollover")));
    b->setPressedImage(QNImageLibrary::imageNamed(imageBase + QStringLiteral("-pressed")));
    b->setToolTip(kind == CloseKind ? tr("Close") : kind == MinimizeKind ? tr("Minimize") : tr("Zoom"));
    connect(b, &QAbstractButton::clicked, this, [this, kind] {
        if (kind == CloseKind)
            performClose();
        else if (kind == MinimizeKind)
            performMiniaturize();
        else
            performZoom();
    });
    return b;
}

QWidget *TBWindow::titleBarContainer() const { return m_container; }

const QString &TBWindow::buttonGroupIdentifier() const {
    if (m_buttonGroupIdentifier.isEmpty()) {
        static quint64 serial = 0;
        m_buttonGroupIdentifier = QStringLiteral("com.tolvendi.titlebarwindow.window-%1").arg(++serial);
    }
    return m_buttonGroupIdentifier;
}

void TBWindow::setTitleBarHeight(double height) {
    if (height == m_titleBarHeight)
        return;
    m_titleBarHeight = height;
    m_heightToRestore = height;
    layoutTrafficLightsAndContent();
    update();
}

void TBWindow::setTitleBarView(QWidget *view) {
    if (!view || view == m_titleBarView)
        return;
    // The window owns its bar view: the one replaced goes.
    if (m_titleBarView) {
        m_titleBarView->hide();
        m_titleBarView->deleteLater();
    }
    m_titleBarView = view;
    view->setParent(m_container);
    view->setGeometry(m_container->rect());
    view->show();
    view->lower();
}

void TBWindow::setContentView(QWidget *view) {
    if (view == m_contentView)
        return;
    if (m_contentView) {
        m_contentView->hide();
        m_contentView->deleteLater();
    }
    m_contentView = view;
    if (view) {
        view->setParent(this);
        view->show();
    }
    repositionContent();
    for (QWidget *h : m_resizeHandles)
        h->raise();
}

void TBWindow::setShowsBaselineSeparator(bool on) {
    m_showsBaselineSeparator = on;
    if (m_titleBarView)
        m_titleBarView->update();
}

void TBWindow::setCenterTrafficLightButtons(bool on) {
    m_centerTrafficLightButtons = on;
    layoutTrafficLightsAndContent();
}

void TBWindow::setVerticalTrafficLightButtons(bool on) {
    m_verticalTrafficLightButtons = on;
    layoutTrafficLightsAndContent();
}

void TBWindow::setTrafficLightButtonsLeftMargin(double margin) {
    if (margin == m_trafficLightButtonsLeftMargin)
        return;
    m_trafficLightButtonsLeftMargin = margin;
    layoutTrafficLightsAndContent();
    update();
}

void TBWindow::setTrafficLightSeparation(double separation) {
    if (separation == m_trafficLightSeparation)
        return;
    m_trafficLightSeparation = separation;
    layoutTrafficLightsAndContent();
}

void TBWindow::setFullScreenButtonRightMargin(double margin) {
    if (m_fullScreenButtonRightMarginSet && margin == m_fullScreenButtonRightMargin)
        return;
    m_fullScreenButtonRightMargin = margin;
    m_fullScreenButtonRightMarginSet = true;
    layoutTrafficLightsAndContent();
    update();
}

void TBWindow::setCenterFullScreenButton(bool on) {
    m_centerFullScreenButton = on;
    layoutTrafficLightsAndContent();
}

void TBWindow::setShowsTitle(bool on) {
    m_showsTitle = on;
    if (m_titleBarView)
        m_titleBarView->update();
}

void TBWindow::setVerticallyCenterTitle(bool on) {
    m_verticallyCenterTitle = on;
    if (m_titleBarView)
        m_titleBarView->update();
}

void TBWindow::installButton(QPointer<TBWindowButton> &slot, TBWindowButton *button, int kind) {
    if (slot == button)
        return;
    // The window owns the buttons given to it: a replaced one goes.
    if (slot && slot != m_standardButtons[std::min(kind, 2)]) {
        slot->hide();
        slot->deleteLater();
    }
    slot = button;
    if (button) {
        button->setParent(this);
        disconnect(button, &QAbstractButton::clicked, this, nullptr);
        connect(button, &QAbstractButton::clicked, this, [this, kind] {
            switch (kind) {
            case CloseKind: performClose(); break;
            case MinimizeKind: performMiniaturize(); break;
            case ZoomKind: performZoom(); break;
            default: toggleFullScreen(); break;
            }
        });
        if (kind < FullScreenKind && m_standardButtons[kind])
            button->move(m_standardButtons[kind]->pos());
        button->show();
        button->raise();
    }
    layoutTrafficLightsAndContent();
}

void TBWindow::setCloseButton(TBWindowButton *button) { installButton(m_closeButton, button, CloseKind); }
void TBWindow::setMinimizeButton(TBWindowButton *button) { installButton(m_minimizeButton, button, MinimizeKind); }
void TBWindow::setZoomButton(TBWindowButton *button) { installButton(m_zoomButton, button, ZoomKind); }
void TBWindow::setFullScreenButton(TBWindowButton *button) { installButton(m_fullScreenButton, button, FullScreenKind); }

TBWindowButton *TBWindow::buttonInUse(int kind) const {
    const QPointer<TBWindowButton> *custom[] = {&m_closeButton, &m_minimizeButton, &m_zoomButton, &m_fullScreenButton};
    if (kind < 0 || kind > FullScreenKind)
        return nullptr;
    if (*custom[kind])
        return custom[kind]->data();
    return kind < FullScreenKind ? m_standardButtons[kind] : nullptr;
}

QRect TBWindow::positionSheet(QWidget *sheet, const QRect &proposed) {
    return m_proxy.windowWillPositionSheet(this, sheet, proposed).value_or(proposed);
}

bool TBWindow::drawsAsMainWindow() const {
    return isActiveWindow() && QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void TBWindow::performClose() { close(); }
void TBWindow::performMiniaturize() { showMinimized(); }

void TBWindow::performZoom() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void TBWindow::toggleFullScreen() {
    if (isFullScreen()) {
        windowWillExitFullScreen();
        showNormal();
    } else {
        windowWillEnterFullScreen();
        showFullScreen();
    }
}

void TBWindow::windowWillEnterFullScreen() {
    if (m_hideTitleBarInFullScreen) {
        m_titleBarHeight = 0;
        layoutTrafficLightsAndContent();
        if (m_titleBarView)
            m_titleBarView->hide();
    }
    for (int k = CloseKind; k <= FullScreenKind; ++k)
        if (TBWindowButton *b = buttonInUse(k))
            b->windowWillEnterFullScreen();
    m_proxy.windowWillEnterFullScreen(this);
    update();
}

void TBWindow::windowWillExitFullScreen() {
    if (m_hideTitleBarInFullScreen) {
        m_titleBarHeight = m_heightToRestore;
        layoutTrafficLightsAndContent();
        if (m_titleBarView)
            m_titleBarView->show();
    }
    for (int k = CloseKind; k <= FullScreenKind; ++k)
        if (TBWindowButton *b = buttonInUse(k))
            b->windowWillExitFullScreen();
    m_proxy.windowWillExitFullScreen(this);
    update();
}

void TBWindow::layoutTrafficLightsAndContent() {
    const QRect C(0, 0, width(), qRound(m_titleBarHeight));
    m_container->setGeometry(C);
    if (m_titleBarView)
        m_titleBarView->setGeometry(m_container->rect());

    // Custom buttons hide the standard ones of their kind.
    for (int k = CloseKind; k <= ZoomKind; ++k) {
        TBWindowButton *inUse = buttonInUse(k);
        if (m_standardButtons[k])
            m_standardButtons[k]->setVisible(inUse == m_standardButtons[k] && !isFullScreen());
    }
    TBWindowButton *c = buttonInUse(CloseKind);
    TBWindowButton *m = buttonInUse(MinimizeKind);
    TBWindowButton *z = buttonInUse(ZoomKind);
    const double sep = m_trafficLightSeparation;
    const double left = m_trafficLightButtonsLeftMargin;
    if (c && m && z) {
        if (!m_verticalTrafficLightButtons) {
            const int y = m_centerTrafficLightButtons
                              ? qRound(C.y() + C.height() / 2.0 - c->height() / 2.0)
                              : qRound(C.y() + m_trafficLightButtonsTopMargin);
            c->move(qRound(left), y);
            m->move(qRound(left + c->width() + sep), y);
            z->move(qRound(left + c->width() + sep + m->width() + sep), y);
        } else {
            const double total = c->height() + m->height() + z->height() + 2 * (sep - 2);
            const double top = m_centerTrafficLightButtons ? qRound(C.y() + C.height() / 2.0 - total / 2)
                                                           : C.y() + m_trafficLightButtonsTopMargin;
            // Close on top, then minimise, then zoom.
            c->move(qRound(left), qRound(top));
            m->move(qRound(left), qRound(top + c->height() + sep - 2));
            z->move(qRound(left), qRound(top + c->height() + sep - 2 + m->height() + sep - 2));
        }
        for (TBWindowButton *b : {c, m, z})
            b->raise();
    }
    if (TBWindowButton *f = m_fullScreenButton) {
        if (!m_fullScreenButtonRightMarginSet) {
            m_fullScreenButtonRightMargin = C.width() - (f->x() + f->width());
            m_fullScreenButtonRightMarginSet = true;
        }
        const int x = qRound(C.width() - f->width() - m_fullScreenButtonRightMargin);
        const int y = m_centerFullScreenButton ? qRound(C.y() + C.height() / 2.0 - f->height() / 2.0)
                                               : qRound(C.y() + m_fullScreenButtonTopMargin);
        f->move(x, y);
        f->raise();
    }
    repositionContent();
    layoutResizeHandles();
}

void TBWindow::repositionContent() {
    if (!m_contentView)
        return;
    const int top = qRound(m_titleBarHeight);
    const QRect r(0, top, width(), std::max(0, height() - top));
    if (m_contentView->geometry() != r) {
        m_contentView->setGeometry(r);
        m_contentView->update();
    }
}

void TBWindow::layoutResizeHandles() {
    const int w = width(), h = height();
    for (QWidget *handle : m_resizeHandles) {
        const Qt::Edges e = static_cast<EdgeHandle *>(handle)->edges();
        QRect r;
        const bool l = e & Qt::LeftEdge, rt = e & Qt::RightEdge, t = e & Qt::TopEdge, b = e & Qt::BottomEdge;
        if ((l || rt) && (t || b))
            r = QRect(l ? 0 : w - 2 * kHandle, t ? 0 : h - 2 * kHandle, 2 * kHandle, 2 * kHandle);
        else if (l || rt)
            r = QRect(l ? 0 : w - kHandle, 2 * kHandle, kHandle, h - 4 * kHandle);
        else
            r = QRect(2 * kHandle, t ? 0 : h - kHandle, w - 4 * kHandle, t ? 2 : kHandle);
        handle->setGeometry(r);
        handle->setVisible(!isFullScreen() && !isMaximized());
        handle->raise();
    }
}

void TBWindow::updateTitleBar() {
    if (!m_titleBarView)
        return;
    m_titleBarView->update();
    // Controls placed directly in the bar work only in the main window.
    const bool main = drawsAsMainWindow();
    for (QObject *child : m_titleBarView->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (w && (qobject_cast<QAbstractButton *>(w) || qobject_cast<QAbstractSlider *>(w) ||
                  qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w)))
            w->setEnabled(main);
    }
}

void TBWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    layoutTrafficLightsAndContent();
    emit windowDidResize();
}

void TBWindow::moveEvent(QMoveEvent *event) {
    QWidget::moveEvent(event);
    emit windowDidMove();
}

void TBWindow::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        updateTitleBar();
        layoutTrafficLightsAndContent();
        if (drawsAsMainWindow())
            m_proxy.windowDidBecomeMain(this);
    } else if (event->type() == QEvent::WindowStateChange) {
        const bool full = isFullScreen();
        if (full != m_wasFullScreen) {
            m_wasFullScreen = full;
            for (QWidget *h : m_resizeHandles)
                h->setVisible(!full);
        }
        layoutTrafficLightsAndContent();
    } else if (event->type() == QEvent::WindowTitleChange) {
        if (m_titleBarView)
            m_titleBarView->update();
    }
}

void TBWindow::closeEvent(QCloseEvent *event) {
    m_proxy.windowWillClose(this);
    emit windowWillClose();
    QWidget::closeEvent(event);
}

void TBWindow::paintEvent(QPaintEvent *) {
    // No system frame: a hairline outline keeps the window apart from what
    // lies behind it.
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!isFullScreen() && !isMaximized()) {
        p.setPen(QColor(0, 0, 0, 70));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
