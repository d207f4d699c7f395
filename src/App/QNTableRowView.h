#pragma once

#include <QStyledItemDelegate>

// Draws the rows of the drive list, the add-drive list and the file panes:
// a selected row gets one fixed warm colour while its table has the focus
// in the active window, and no highlight otherwise.
class QNTableRowView : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit QNTableRowView(QObject *parent = nullptr);

    static QColor selectionColor();
    // Fills the rectangle with the selection colour when emphasized; draws
    // nothing otherwise.
    static void drawSelectionInRect(QPainter *painter, const QRect &rect, bool emphasized);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
