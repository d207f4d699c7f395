#pragma once

#include <QAbstractTableModel>
#include <QIcon>

class QNMacFilesViewController;

// The file pane's table as a model: one row per listed document, the
// columns name, date and size. Everything it shows it asks the pane.
class QNFilesTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit QNFilesTableModel(QNMacFilesViewController *pane, QObject *parent = nullptr);

    void reload();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // A drag of rows offers copy and move; the drop decides (Ctrl copies).
    Qt::DropActions supportedDragActions() const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // The icon of a file of that name: the desktop's icon for its type,
    // else a document drawn at any size.
    static QIcon iconForFileName(const QString &fileName);
    // The desktop's folder icon, else a folder drawn at any size.
    static QIcon folderIcon();

private:
    QNMacFilesViewController *m_pane;
    mutable QIcon m_folderIcon;
};
