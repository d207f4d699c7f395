#include "App/TBTitlebarContainer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

TBTitlebarContainer::TBTitlebarContainer(QWidget *parent) : QWidget(parent) {}

void TBTitlebarContainer::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_pressed = true;
    m_manualMove = false;
    m_pressGlobal = m_lastGlobal = event->globalPosition().toPoint();
    m_windowOrigin = window()->pos();
    event->accept();
}

void TBTitlebarContainer::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pressed || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint global = event->globalPosition().toPoint();
    if (!m_manualMove) {
        if ((global - m_pressGlobal).manhattanLength() < QApplication::startDragDistance())
            return;
        if (window()->isFullScreen())
            return;
        // The window system moves the window itself (snapping, edges, other
        // screens); the press is then over for us.
        if (QWindow *handle = window()->windowHandle(); handle && handle->startSystemMove()) {
            m_pressed = false;
            return;
        }
        m_manualMove = true;
    }
    m_windowOrigin += global - m_lastGlobal;
    m_lastGlobal = global;
    window()->move(m_windowOrigin);
}

void TBTitlebarContainer::mouseReleaseEvent(QMouseEvent *event) {
    m_pressed = false;
    m_manualMove = false;
    QWidget::mouseReleaseEvent(event);
}
