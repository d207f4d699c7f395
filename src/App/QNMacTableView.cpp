#include "App/QNMacTableView.h"

#include "App/QNImageLibrary.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNTableRowView.h"
#include "Platform/VNLog.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>

QNMacTableView::QNMacTableView(QWidget *parent) : QTableView(parent) {
    setItemDelegate(new QNTableRowView(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(false);
    verticalHeader()->hide();
}

int QNMacTableView::sourceOperationMask(bool insideApplication) {
    const int inside = DragCopy | DragGeneric | DragMove;
    return insideApplication ? inside : inside | DragDelete;
}

Qt::DropActions QNMacTableView::dropActionsForMask(int mask) {
    Qt::DropActions actions;
    if (mask & DragCopy)
        actions |= Qt::CopyAction;
    if (mask & DragMove)
        actions |= Qt::MoveAction;
    if (mask & DragLink)
        actions |= Qt::LinkAction;
    return actions;
}

int QNMacTableView::maskForDropActions(Qt::DropActions actions) {
    int mask = 0;
    if (actions & Qt::CopyAction)
        mask |= DragCopy;
    if (actions & Qt::MoveAction)
        mask |= DragMove;
    if (actions & Qt::LinkAction)
        mask |= DragLink;
    return mask;
}

QPixmap QNMacTableView::badgeDragImage(int count) {
    const QPixmap file = QNImageLibrary::imageNamed(QStringLiteral("file-file-large"));
    const QPixmap badge = QNImageLibrary::imageNamed(QStringLiteral("drag-badge"));
    QPixmap image(110, 110);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Our y grows downwards: a point (x, y) from the bottom-left lies at 110 - y.
    QPainterPath box;
    box.addRoundedRect(QRectF(1, 1, 108, 108), 10, 10);
    p.fillPath(box, QColor::fromRgbF(0.99609375, 0.921875, 0.921875, 1.0));
    p.setPen(QColor::fromRgbF(0.94921875, 0.81640625, 0.81640625, 1.0));
    p.drawPath(box);
    p.drawPixmap(20, 110 - 20 - file.height(), file);
    p.drawPixmap(55, 110 - 60 - badge.height(), badge);
    QFont font(QStringLiteral("Avenir Book"));
    font.setPixelSize(16);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(55, 110 - 55 - badge.height(), badge.width(), badge.height()), Qt::AlignCenter,
               QString::number(count));
    return image;
}

QPixmap QNMacTableView::dragImageForRows(const QList<int> &rows) const {
    if (m_defaultIcon)
        return {};
    return badgeDragImage(int(rows.size()));
}

QList<int> QNMacTableView::selectedRowList() const {
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QList<int> QNMacTableView::rowsForContextMenuAt(const QPoint &viewportPos) {
    const int row = rowAt(viewportPos.y());
    if (row < 0)
        return {};  // below the last row: the selection stays as it is
    if (selectionModel() && !selectionModel()->isRowSelected(row, QModelIndex())) {
        selectionModel()->select(model()->index(row, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return {row};
    }
    return selectedRowList();
}

void QNMacTableView::keyPressEvent(QKeyEvent *event) {
    if (event->text() == QStringLiteral(" ") && !(event->modifiers() & ~Qt::KeypadModifier & ~Qt::ShiftModifier)) {
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->toggleQuickLookPreview();
        return;
    }
    QTableView::keyPressEvent(event);
}

void QNMacTableView::contextMenuEvent(QContextMenuEvent *event) {
    if (event->reason() != QContextMenuEvent::Mouse) {
        QTableView::contextMenuEvent(event);
        return;
    }
    const QList<int> rows = rowsForContextMenuAt(event->pos());
    emit contextMenuRequestedForRows(rows);
    if (!m_menuProvider) {
        QTableView::contextMenuEvent(event);
        return;
    }
    if (QMenu *menu = m_menuProvider(this, rows)) {
        menu->popup(event->globalPos());
        event->accept();
    }
}

void QNMacTableView::startDrag(Qt::DropActions supportedActions) {
    const QModelIndexList indexes = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    if (indexes.isEmpty() || !model())
        return;
    QList<int> rows;
    for (const QModelIndex &i : indexes)
        rows << i.row();
    QPixmap image = dragImageForRows(rows);
    if (image.isNull()) {
        // The toolkit's own row image, with its own bookkeeping.
        QTableView::startDrag(supportedActions);
        return;
    }
    QMimeData *data = model()->mimeData(indexes);
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(image.width() / 2, image.height() / 2));
    const Qt::DropActions allowed = supportedActions & dropActionsForMask(sourceOperationMask(false));
    // Targets outside the application are offered a copy first: a plain
    // drag never has another program take our files away.
    const Qt::DropAction result = drag->exec(allowed, allowed & Qt::CopyAction ? Qt::CopyAction : defaultDropAction());
    const int operation = maskForDropActions(result);
    VNLog::log(QStringLiteral("draggedImage ended operation: %1, delete: %2")
                   .arg(operation, 0, 16)
                   .arg(operation & DragDelete));
    if (m_dragEnded)
        m_dragEnded(result);
}
