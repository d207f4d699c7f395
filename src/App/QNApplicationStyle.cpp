#include "App/QNApplicationStyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QStyleFactory>
#include <QWidget>

#include <optional>

namespace {

// An icon that asks the style for itself the first time it is drawn or
// measured, then stands for it.
class DeferredIconEngine : public QIconEngine {
public:
    DeferredIconEngine(const QStyle *style, QStyle::StandardPixmap which, const QWidget *widget)
        : m_style(style), m_which(which), m_widget(const_cast<QWidget *>(widget)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("QNDeferredStandardIcon"); }
    QIconEngine *clone() const override { return new DeferredIconEngine(*this); }

private:
    const QIcon &icon() {
        if (!m_icon)
            m_icon = m_style ? m_style->standardIcon(m_which, nullptr, m_widget.data()) : QIcon();
        return *m_icon;
    }

    QPointer<const QStyle> m_style;
    QStyle::StandardPixmap m_which;
    QPointer<QWidget> m_widget;  // gone by then: asked without
    std::optional<QIcon> m_icon;
};

}  // namespace

QNApplicationStyle::QNApplicationStyle(QStyle *base) : QProxyStyle(base) {}

void QNApplicationStyle::install() {
    if (QStyle *base = QStyleFactory::create(QApplication::style()->name()))
        QApplication::setStyle(new QNApplicationStyle(base));
}

QIcon QNApplicationStyle::standardIcon(StandardPixmap which, const QStyleOption *option, const QWidget *widget) const {
    // The overflow arrows of menu bars and tool bars, made with each bar;
    // asked without an option, so nothing of the call is needed later.
    const bool overflowArrow = which == SP_ToolBarHorizontalExtensionButton || which == SP_ToolBarVerticalExtensionButton;
    if (overflowArrow && !option)
        return QIcon(new DeferredIconEngine(baseStyle(), which, widget));
    return QProxyStyle::standardIcon(which, option, widget);
}
