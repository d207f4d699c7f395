#include "App/QNDriveTableModel.h"

#include "App/QNMainWindowController.h"

#include <QMimeData>

QNDriveTableModel::QNDriveTableModel(QNMainWindowController *controller)
    : QAbstractTableModel(controller), m_controller(controller) {}

void QNDriveTableModel::reload() {
    beginResetModel();
    endResetModel();
}

int QNDriveTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_controller->numberOfRows();
}

int QNDriveTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 1; }

QVariant QNDriveTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid())
        return {};
    // The cell views show everything; the model gives the title to
    // accessibility and keyboard search.
    if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return m_controller->rowContent(index.row()).title;
    return {};
}

Qt::ItemFlags QNDriveTableModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (index.isValid() && index.row() < int(m_controller->drives().size()))
        f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList QNDriveTableModel::mimeTypes() const { return {QNMainWindowController::driveDragMimeType()}; }

QMimeData *QNDriveTableModel::mimeData(const QModelIndexList &indexes) const {
    QList<int> rows;
    for (const QModelIndex &i : indexes)
        if (!rows.contains(i.row()))
            rows << i.row();
    std::sort(rows.begin(), rows.end());
    return m_controller->writeRows(rows);
}

Qt::DropActions QNDriveTableModel::supportedDragActions() const { return Qt::MoveAction; }
Qt::DropActions QNDriveTableModel::supportedDropActions() const { return Qt::MoveAction; }

bool QNDriveTableModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &) const {
    return data && data->hasFormat(QNMainWindowController::driveDragMimeType());
}

bool QNDriveTableModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int,
                                     const QModelIndex &parent) {
    if (action != Qt::MoveAction)
        return false;
    // A drop on a row counts as a drop above it; a drop below every row is a
    // drop above the end.
    int target = row;
    if (target < 0)
        target = parent.isValid() ? parent.row() : rowCount();
    return m_controller->acceptDrop(data, target);
}
