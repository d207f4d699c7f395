#include "App/QNPaintedIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

namespace {

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// Paints one shape in the unit square, scaled to the rectangle asked for.
class PaintedEngine : public QIconEngine {
public:
    enum Shape { Folder, Document };
    explicit PaintedEngine(Shape shape) : m_shape(shape) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        const qreal side = std::min(rect.width(), rect.height());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2);
        painter->scale(side, side);
        painter->setOpacity(mode == QIcon::Disabled ? 0.5 : 1.0);
        QPen outline(QColor(0x8a, 0x6d, 0x3b), 1.5 / side);
        if (m_shape == Folder) {
            painter->setPen(outline);
            painter->setBrush(QColor(0xe0, 0xb0, 0x4c));
            painter->drawPath(polygon({{0.06, 0.22}, {0.38, 0.22}, {0.46, 0.30}, {0.94, 0.30}, {0.94, 0.84}, {0.06, 0.84}}));
            painter->setBrush(QColor(0xf4, 0xc8, 0x62));
            painter->drawRoundedRect(QRectF(0.06, 0.38, 0.88, 0.46), 0.03, 0.03);
        } else {
            painter->setPen(QPen(QColor(0x8c, 0x8c, 0x8c), 1.5 / side));
            painter->setBrush(Qt::white);
            painter->drawPath(polygon({{0.22, 0.08}, {0.62, 0.08}, {0.80, 0.26}, {0.80, 0.92}, {0.22, 0.92}}));
            painter->setBrush(QColor(0xe4, 0xe4, 0xe4));
            painter->drawPath(polygon({{0.62, 0.08}, {0.62, 0.26}, {0.80, 0.26}}));  // the folded corner
            painter->setPen(QPen(QColor(0xc4, 0xc4, 0xc4), 2.0 / side));
            for (qreal y = 0.40; y < 0.85; y += 0.09)
                painter->drawLine(QPointF(0.30, y), QPointF(0.72, y));
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap out(size);
        out.fill(Qt::transparent);
        QPainter p(&out);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return out;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new PaintedEngine(m_shape); }

private:
    Shape m_shape;
};

}  // namespace

namespace QNPaintedIcons {

QIcon folder() { return QIcon(new PaintedEngine(PaintedEngine::Folder)); }
QIcon document() { return QIcon(new PaintedEngine(PaintedEngine::Document)); }

}  // namespace QNPaintedIcons
