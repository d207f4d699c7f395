#include "App/QNTableRowView.h"

#include <QAbstractItemView>
#include <QPainter>

QNTableRowView::QNTableRowView(QObject *parent) : QStyledItemDelegate(parent) {}

QColor QNTableRowView::selectionColor() { return QColor::fromRgbF(0.953125, 0.78125, 0.30859375, 1.0); }

void QNTableRowView::drawSelectionInRect(QPainter *painter, const QRect &rect, bool emphasized) {
    if (emphasized)
        painter->fillRect(rect, selectionColor());
}

void QNTableRowView::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    QStyleOptionViewItem opt(option);
    if (opt.state & QStyle::State_Selected) {
        const auto *view = qobject_cast<const QAbstractItemView *>(opt.widget);
        const bool emphasized = view && view->hasFocus() && view->isActiveWindow();
        drawSelectionInRect(painter, opt.rect, emphasized);
        // The text keeps its normal colour on our own highlight.
        opt.state &= ~QStyle::State_Selected;
    }
    opt.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, opt, index);
}
