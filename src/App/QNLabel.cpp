#include "App/QNLabel.h"

#include <QFontMetrics>
#include <QPainter>

QNLabel::QNLabel(const QRect &frame, const QString &text, const QFont &font, QWidget *parent)
    : QWidget(parent), m_text(text), m_font(font) {
    setGeometry(frame.x(), frame.y() - 2, frame.width(), frame.height() + 4);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString QNLabel::text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
}

void QNLabel::setText(const QString &text) {
    {
        std::lock_guard lock(m_mutex);
        m_text = text;
    }
    update();
}

QFont QNLabel::font() const {
    std::lock_guard lock(m_mutex);
    return m_font;
}

void QNLabel::setFont(const QFont &font) {
    {
        std::lock_guard lock(m_mutex);
        m_font = font;
    }
    update();
}

QSize QNLabel::textSize(const QString &text, const QFont &font) {
    const QFontMetrics metrics(font);
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

void QNLabel::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    // The text stands on the view's lower edge, like text drawn at the origin.
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, text());
}
