#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QWidget>

class TBWindow;

// The tall title bar of a TBWindow: a vertical gradient with rounded top
// corners, a separator line along its bottom, a faint noise texture while the
// window is the active one, and optionally the window title.
class TBTitlebarView : public QWidget {
    Q_OBJECT
public:
    explicit TBTitlebarView(QWidget *parent = nullptr);

    // The outline the bar is clipped to: rounded top corners of radius 4.
    static QPainterPath clippingPath(const QRectF &rect, qreal cornerRadius = 4.0);
    // The process-wide 124 x 124 grey noise tile.
    static const QImage &noiseImage();
    void drawNoiseWithOpacity(QPainter &painter, const QRectF &rect, qreal opacity);

    struct TitleAttributes {
        QFont font;
        QColor color;
        QColor shadowColor;
        QPointF shadowOffset;
        double shadowBlurRadius = 0;
    };
    // Where and how the window title is drawn.
    void getTitleFrame(QRectF *frame, TitleAttributes *attributes, TBWindow *window) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    TBWindow *tbWindow() const;
};
