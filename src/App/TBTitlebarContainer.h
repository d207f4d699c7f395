#pragma once

#include <QPoint>
#include <QWidget>

// The strip at the top of a TBWindow that holds the title bar view. Dragging
// it moves the window: through the window system's own move request where
// there is one, else by following the mouse.
class TBTitlebarContainer : public QWidget {
    Q_OBJECT
public:
    explicit TBTitlebarContainer(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
    bool m_manualMove = false;
    QPoint m_pressGlobal;
    QPoint m_lastGlobal;
    QPoint m_windowOrigin;
};
