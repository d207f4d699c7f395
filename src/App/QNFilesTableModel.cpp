#include "App/QNFilesTableModel.h"

#include "App/QNIconTheme.h"
#include "App/QNPaintedIcons.h"
#include "App/QNMacFilesViewController.h"

#include <QHash>
#include <QMimeDatabase>

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
    case Qt::EditRole:
    case Qt::ToolTipRole:
        return m_pane->tableViewText(identifier, index.row());
    case Qt::DecorationRole:
        if (index.column() == QNMacFilesViewController::NameColumn) {
            const QNDocumentPtr doc = m_pane->documents().value(index.row());
            if (m_folderIcon.isNull())
                m_folderIcon = folderIcon();
            return QNMacFilesViewController::showAsFolder(doc) ? m_folderIcon
                                                               : iconForFileName(doc ? doc->displayName() : QString());
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
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == QNMacFilesViewController::NameColumn && m_pane->isNameEditable())
        flags |= Qt::ItemIsEditable;
    return flags;
}

QStringList QNFilesTableModel::mimeTypes() const { return {QNMacFilesViewController::documentsMimeType()}; }

QMimeData *QNFilesTableModel::mimeData(const QModelIndexList &indexes) const {
    // A drag of rows begins.
    QList<int> rows;
    for (const QModelIndex &i : indexes)
        if (!rows.contains(i.row()))
            rows << i.row();
    std::sort(rows.begin(), rows.end());
    return m_pane->writeDrag(rows);
}

Qt::DropActions QNFilesTableModel::supportedDragActions() const { return Qt::CopyAction | Qt::MoveAction; }

bool QNFilesTableModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    // The end of an in-place edit of a name: the pane renames the entry.
    if (role != Qt::EditRole || index.column() != QNMacFilesViewController::NameColumn || !m_pane->isNameEditable())
        return false;
    return m_pane->renameInPlace(index.row(), value.toString());
}

QIcon QNFilesTableModel::iconForFileName(const QString &fileName) {
    // The desktop's icon for the type the name's extension stands for; the
    // theme's generic icon of that kind, then our own file picture.
    static QHash<QString, QIcon> cache;
    QNIconTheme::setUp();  // done at launch; here for icons asked for without one
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    auto it = cache.constFind(type.name());
    if (it != cache.constEnd())
        return *it;
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QNPaintedIcons::document();
    cache.insert(type.name(), icon);
    return icon;
}

QIcon QNFilesTableModel::folderIcon() {
    QNIconTheme::setUp();
    const QIcon icon = QIcon::fromTheme(QStringLiteral("folder"));
    return icon.isNull() ? QNPaintedIcons::folder() : icon;
}
