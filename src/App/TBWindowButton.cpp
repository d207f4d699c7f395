#include "App/TBWindowButton.h"

#include "App/TBWindowButtonGroup.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The hover area reaches this far beyond the button on every side.
constexpr int kHoverMargin = 4;

// Watches the pointer for every title-bar button: the widget under the
// pointer next to a button is not the button, so the enlarged hover area is
// followed from the application's mouse moves (seen even where no widget
// tracks the mouse).
class HoverTracker : public QObject {
public:
    static HoverTracker &shared() {
        static HoverTracker *tracker = [] {
            auto *t = new HoverTracker;
            qApp->installEventFilter(t);
            return t;
        }();
        return *tracker;
    }
    void add(TBWindowButton *button) { m_buttons << button; }
    void remove(TBWindowButton *button) { m_buttons.removeAll(button); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::MouseMove && event->type() != QEvent::Leave)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || m_buttons.isEmpty())
            return false;
        QWidget *top = widget->window();
        if (event->type() == QEvent::Leave) {
            // The pointer left the window: nothing in it stays hovered.
            if (widget == top)
                for (TBWindowButton *b : std::as_const(m_buttons))
                    if (b->window() == top)
                        b->setMouseInside(false);
            return false;
        }
        const QPointF global = static_cast<QMouseEvent *>(event)->globalPosition();
        for (TBWindowButton *b : std::as_const(m_buttons))
            if (b->window() == top && b->isVisible())
                b->setMouseInside(b->hoverRect().contains(b->mapFromGlobal(global).toPoint()));
        return false;
    }

private:
    QList<TBWindowButton *> m_buttons;
};

}  // namespace

TBWindowButton *TBWindowButton::windowButtonWithSize(QSize size, const QString &groupIdentifier, QWidget *parent) {
    return new TBWindowButton(size, groupIdentifier, parent);
}

TBWindowButton::TBWindowButton(QSize size, const QString &groupIdentifier, QWidget *parent)
    : QAbstractButton(parent), m_size(size), m_groupIdentifier(groupIdentifier) {
    setGeometry(0, 0, size.width(), size.height());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    connect(group(), &TBWindowButtonGroup::didUpdateRolloverState, this, [this] { updateRollOverImage(); });
    HoverTracker::shared().add(this);
}

QRect TBWindowButton::hoverRect() const {
    return rect().adjusted(-kHoverMargin, -kHoverMargin, kHoverMargin, kHoverMargin);
}

void TBWindowButton::setMouseInside(bool inside) {
    if (inside == m_inside)
        return;
    m_inside = inside;
    if (inside)
        group()->didCaptureMousePointer();
    else
        group()->didReleaseMousePointer();
    updateRollOverImage();
}

TBWindowButtonGroup *TBWindowButton::group() const { return TBWindowButtonGroup::groupWithIdentifier(m_groupIdentifier); }

void TBWindowButton::setActiveImage(const QPixmap &image) { m_activeImage = image; updateImage(); }
void TBWindowButton::setActiveNotKeyWindowImage(const QPixmap &image) { m_activeNotKeyWindowImage = image; updateImage(); }
void TBWindowButton::setInactiveImage(const QPixmap &image) { m_inactiveImage = image; updateImage(); }
void TBWindowButton::setRolloverImage(const QPixmap &image) { m_rolloverImage = image; updateRollOverImage(); }
void TBWindowButton::setPressedImage(const QPixmap &image) { m_pressedImage = image; update(); }

bool TBWindowButton::windowIsKey() const { return window() && window()->isActiveWindow(); }

void TBWindowButton::setCurrentImage(const QPixmap &image) {
    m_currentImage = image;
    update();
}

void TBWindowButton::updateRollOverImage() {
    if (group()->shouldDisplayRollOver() && isEnabled())
        setCurrentImage(m_rolloverImage);
    else
        updateImage();
}

void TBWindowButton::updateImage() {
    if (!isEnabled())
        setCurrentImage(m_inactiveImage);
    else
        updateActiveImage();
}

void TBWindowButton::updateActiveImage() {
    setCurrentImage(windowIsKey() ? m_activeImage : m_activeNotKeyWindowImage);
}

void TBWindowButton::windowWillEnterFullScreen() {
    group()->resetMouseCaptures();
    hide();
}

void TBWindowButton::windowWillExitFullScreen() {
    group()->resetMouseCaptures();
    show();
}

void TBWindowButton::viewDidEndLiveResize() { group()->resetMouseCaptures(); }

void TBWindowButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QPixmap &image = (isDown() && !m_pressedImage.isNull()) ? m_pressedImage : m_currentImage;
    if (image.isNull())
        return;
    // Images keep their size, centred in the button; never dimmed when disabled.
    const QSize s = image.deviceIndependentSize().toSize();
    p.drawPixmap(QRect(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s), image);
}

void TBWindowButton::enterEvent(QEnterEvent *event) {
    QAbstractButton::enterEvent(event);
    setMouseInside(true);
}

void TBWindowButton::leaveEvent(QEvent *event) {
    QAbstractButton::leaveEvent(event);
    // Still inside the margin, the next mouse move lights it again (before
    // anything is painted).
    setMouseInside(false);
}

void TBWindowButton::changeEvent(QEvent *event) {
    QAbstractButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        setCurrentImage(isEnabled() ? m_activeImage : m_inactiveImage);
        break;
    case QEvent::ActivationChange:
        updateRollOverImage();
        break;
    default:
        break;
    }
}

bool TBWindowButton::event(QEvent *event) {
    // The window's activation reaches its children as activate/deactivate.
    const bool handled = QAbstractButton::event(event);
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        updateRollOverImage();
    return handled;
}

TBWindowButton::~TBWindowButton() {
    HoverTracker::shared().remove(this);
    // A button that goes while hovered must not leave its group lit.
    if (m_inside)
        group()->didReleaseMousePointer();
}

void TBWindowButton::showEvent(QShowEvent *event) {
    QAbstractButton::showEvent(event);
    updateRollOverImage();
}
