#include "App/TBTitlebarView.h"

#include "App/TBWindow.h"
#include "Platform/VNUserDefaults.h"

#include <QGraphicsDropShadowEffect>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>

TBTitlebarView::TBTitlebarView(QWidget *parent) : QWidget(parent) {}

TBWindow *TBTitlebarView::tbWindow() const { return qobject_cast<TBWindow *>(window()); }

QPainterPath TBTitlebarView::clippingPath(const QRectF &r, qreal radius) {
    QPainterPath path;
    path.moveTo(r.left(), r.bottom());
    path.lineTo(r.left(), r.top() + radius);
    path.arcTo(QRectF(r.left(), r.top(), 2 * radius, 2 * radius), 180, -90);
    path.lineTo(r.right() - radius, r.top());
    path.arcTo(QRectF(r.right() - 2 * radius, r.top(), 2 * radius, 2 * radius), 90, -90);
    path.lineTo(r.right(), r.bottom());
    path.closeSubpath();
    return path;
}

const QImage &TBTitlebarView::noiseImage() {
    static const QImage noise = [] {
        QImage img(124, 124, QImage::Format_Grayscale8);
        auto *rng = QRandomGenerator::global();
        for (int y = 0; y < img.height(); ++y) {
            uchar *line = img.scanLine(y);
            for (int x = 0; x < img.width(); ++x)
                line[x] = uchar(rng->bounded(256));
        }
        return img;
    }();
    return noise;
}

void TBTitlebarView::drawNoiseWithOpacity(QPainter &p, const QRectF &rect, qreal opacity) {
    p.save();
    p.setOpacity(opacity);
    p.setCompositionMode(QPainter::CompositionMode_Screen);
    // One noise pixel per device pixel, whatever the scale factor.
    const qreal factor = devicePixelRatioF();
    if (factor > 0)
        p.scale(1.0 / factor, 1.0 / factor);
    const QRectF deviceRect(rect.topLeft() * factor, rect.size() * factor);
    p.drawTiledPixmap(deviceRect, QPixmap::fromImage(noiseImage()), deviceRect.topLeft());
    p.restore();
}

void TBTitlebarView::getTitleFrame(QRectF *frame, TitleAttributes *attributes, TBWindow *window) const {
    const bool main = window && window->drawsAsMainWindow();
    TitleAttributes a;
    const std::optional<TBTextShadow> shadow =
        window ? (main ? window->titleTextShadow() : window->inactiveTitleTextShadow()) : std::nullopt;
    a.shadowColor = shadow ? shadow->color : QColor::fromRgbF(1, 1, 1, 0.5);
    a.shadowOffset = shadow ? shadow->offset : QPointF(0, 1);
    a.shadowBlurRadius = shadow ? shadow->blurRadius : 0;
    QColor colour = window ? (main ? window->titleTextColor() : window->inactiveTitleTextColor()) : QColor();
    if (!colour.isValid())
        colour = QColor::fromRgbF(56 / 255.0, 56 / 255.0, 56 / 255.0, main ? 1.0 : 0.5);
    a.color = colour;
    a.font = window && window->titleFont() ? *window->titleFont() : font();
    if (attributes)
        *attributes = a;
    if (frame) {
        const QString title = window ? window->windowTitle() : QString();
        const QFontMetricsF metrics(a.font);
        const QSizeF size(metrics.horizontalAdvance(title), metrics.height());
        const QRectF b = rect();
        *frame = QRectF(QPointF(b.center().x() - size.width() / 2, b.top() + 2), size);
    }
}

void TBTitlebarView::paintEvent(QPaintEvent *) {
    TBWindow *w = tbWindow();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF b = rect();
    const bool main = w ? w->drawsAsMainWindow() : isActiveWindow();

    if (w && w->titleBarDrawingBlock()) {
        w->titleBarDrawingBlock()(p, main, b, clippingPath(b));
    } else {
        QColor start = w ? (main ? w->titleBarStartColor() : w->inactiveTitleBarStartColor()) : QColor();
        QColor end = w ? (main ? w->titleBarEndColor() : w->inactiveTitleBarEndColor()) : QColor();
        if (!start.isValid())
            start = QColor::fromRgbF(main ? 0.66 : 0.878, main ? 0.66 : 0.878, main ? 0.66 : 0.878);
        if (!end.isValid())
            end = QColor::fromRgbF(main ? 0.9 : 0.976, main ? 0.9 : 0.976, main ? 0.9 : 0.976);

        if (w && w->isFullScreen())
            p.fillRect(b, Qt::black);

        p.save();
        p.setClipPath(clippingPath(b.adjusted(0, 1, 0, 0)));
        QLinearGradient gradient(QPointF(b.center().x(), b.bottom()), QPointF(b.center().x(), b.top()));
        gradient.setColorAt(0, start);
        gradient.setColorAt(1, end);
        p.fillRect(b, gradient);
        p.restore();

        const bool separator = !w || w->showsBaselineSeparator();
        if (separator) {
            QColor line = w ? (main ? w->baselineSeparatorColor() : w->inactiveBaselineSeparatorColor()) : QColor();
            if (!line.isValid())
                line = QColor::fromRgbF(main ? 0.408 : 0.655, main ? 0.408 : 0.655, main ? 0.408 : 0.655);
            p.fillRect(QRectF(0, b.bottom() - 1, b.width(), 1), line);
            p.fillRect(QRectF(0, b.bottom() - 2, b.width(), 1), QColor::fromRgbF(1, 1, 1, 0.12));
        }

        if (main) {
            QRectF n = b.adjusted(1, 1, -1, -1);
            if (!separator)
                n.setBottom(n.bottom() + 1);
            p.save();
            p.setClipPath(clippingPath(n));
            drawNoiseWithOpacity(p, n, 0.1);
            p.restore();
        }
    }

    if (w && w->showsTitle() && (!w->isFullScreen() || w->showsTitleInFullscreen())) {
        QRectF frame;
        TitleAttributes a;
        getTitleFrame(&frame, &a, w);
        if (w->verticallyCenterTitle())
            frame.moveTop(std::floor(b.center().y() - frame.height() / 2));
        p.setFont(a.font);
        if (a.shadowBlurRadius > 0) {
            // A blurred shadow: the title drawn through a drop-shadow effect.
            QGraphicsScene scene;
            QGraphicsSimpleTextItem *text = scene.addSimpleText(w->windowTitle(), a.font);
            text->setBrush(a.color);
            auto *effect = new QGraphicsDropShadowEffect;
            effect->setColor(a.shadowColor);
            effect->setOffset(a.shadowOffset);
            effect->setBlurRadius(a.shadowBlurRadius);
            text->setGraphicsEffect(effect);
            const qreal margin = a.shadowBlurRadius * 2 + std::abs(a.shadowOffset.x()) + std::abs(a.shadowOffset.y());
            const QRectF source(-margin, -margin, frame.width() + 2 * margin, frame.height() + 2 * margin);
            scene.render(&p, source.translated(frame.topLeft()), source);
        } else {
            p.setPen(a.shadowColor);
            p.drawText(frame.translated(a.shadowOffset), Qt::AlignLeft | Qt::AlignTop, w->windowTitle());
            p.setPen(a.color);
            p.drawText(frame, Qt::AlignLeft | Qt::AlignTop, w->windowTitle());
        }
    }
}

void TBTitlebarView::mousePressEvent(QMouseEvent *event) {
    // Presses go on to the container, which moves the window.
    event->ignore();
}

void TBTitlebarView::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton &&
        VNUserDefaults::standard().boolForKey(QStringLiteral("AppleMiniaturizeOnDoubleClick"))) {
        if (TBWindow *w = tbWindow())
            w->performMiniaturize();
        event->accept();
        return;
    }
    event->ignore();
}
