#include "App/QNFilesTableModel.h"

#include "App/QNImageLibrary.h"
#include "App/QNMacFilesViewController.h"


QNFilesTableModel::QNFilesTableModel(QNMacFilesViewController *pane, QObject *parent)
    : QAbstractTableModel(parent), m_pane(pane) {}

void QNFilesTableModel::reload() {
    beginResetModel();
    endResetModel();
}

int QNFilesTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_pane->numberOfRowsInTableView();
}

int QNFilesTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : 3; }

QVariant QNFilesTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const QString identifier = QNMacFilesViewController::identifierForColumn(index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return m_pane->tableViewText(identifier, index.row());
    case Qt::DecorationRole:
        if (index.column() == QNMacFilesViewController::NameColumn) {
            const QNDocumentPtr doc = m_pane->documents().value(index.row());
            if (m_folderIcon.isNull()) {
                m_folderIcon = QIcon(QNImageLibrary::imageNamed(QStringLiteral("file-folder")));
                m_fileIcon = QIcon(QNImageLibrary::imageNamed(QStringLiteral("file-file")));
            }
            return QNMacFilesViewController::showAsFolder(doc) ? m_folderIcon : m_fileIcon;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == QNMacFilesViewController::SizeColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant QNFilesTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case QNMacFilesViewController::NameColumn: return QStringLiteral("Name");
    case QNMacFilesViewController::DateColumn: return QStringLiteral("Date Modified");
    case QNMacFilesViewController::SizeColumn: return QStringLiteral("Size");
    default: return {};
    }
}

Qt::ItemFlags QNFilesTableModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}
