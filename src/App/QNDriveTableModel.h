#pragma once

#include <QAbstractTableModel>

class QNMainWindowController;

// The drive list as the table's model: one column, a row per drive plus the
// "Add Drive" row. The rows themselves are cell views the controller makes;
// drags of rows carry the window's id and the drive's id.
class QNDriveTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit QNDriveTableModel(QNMainWindowController *controller);

    void reload();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

private:
    QNMainWindowController *m_controller;
};
