#include "App/TBWindowButton.h"

#include "App/TBWindowButtonGroup.h"

#include <QEnterEvent>
#include <QPainter>

TBWindowButton *TBWindowButton::windowButtonWithSize(QSize size, const QString &groupIdentifier, QWidget *parent) {
    return new TBWindowButton(size, groupIdentifier, parent);
}

TBWindowButton::TBWindowButton(QSize size, const QString &groupIdentifier, QWidget *parent)
    : QAbstractButton(parent), m_size(size), m_groupIdentifier(groupIdentifier) {
    setGeometry(0, 0, size.width(), size.height());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    connect(group(), &TBWindowButtonGroup::didUpdateRolloverState, this, [this] { updateRollOverImage(); });
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
    if (m_inside)
        return;
    m_inside = true;
    group()->didCaptureMousePointer();
    updateRollOverImage();
}

void TBWindowButton::leaveEvent(QEvent *event) {
    QAbstractButton::leaveEvent(event);
    if (!m_inside)
        return;
    m_inside = false;
    group()->didReleaseMousePointer();
    updateRollOverImage();
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
    // A button that goes while hovered must not leave its group lit.
    if (m_inside)
        group()->didReleaseMousePointer();
}

void TBWindowButton::showEvent(QShowEvent *event) {
    QAbstractButton::showEvent(event);
    updateRollOverImage();
}
