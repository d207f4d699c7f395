#include "App/QNImageBrowserModel.h"

#include "App/QNImageLibrary.h"

QNImageBrowserModel::QNImageBrowserModel(QObject *parent) : QAbstractListModel(parent) {}

void QNImageBrowserModel::setDataSource(ItemCount count, ItemAt item) {
    beginResetModel();
    m_count = std::move(count);
    m_item = std::move(item);
    endResetModel();
}

void QNImageBrowserModel::reload() {
    beginResetModel();
    endResetModel();
}

int QNImageBrowserModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid() || !m_count)
        return 0;
    return std::max(0, m_count());
}

Qt::ItemFlags QNImageBrowserModel::flags(const QModelIndex &index) const {
    return QAbstractListModel::flags(index) | Qt::ItemIsDragEnabled;
}

QPixmap QNImageBrowserModel::pictureFor(const QNImageObject &item) const {
    const QString uid = item.imageUID();
    auto it = m_pictures.constFind(uid);
    if (it != m_pictures.constEnd() && it->first == item.imageVersion())
        return it->second;
    QPixmap picture;
    switch (item.imageRepresentationType()) {
    case QNImageObject::RepresentationType::Image:
        picture = QPixmap::fromImage(item.image());
        break;
    case QNImageObject::RepresentationType::URL:
        if (item.url().isLocalFile())
            picture.load(item.url().toLocalFile());
        break;
    case QNImageObject::RepresentationType::Path:
        picture.load(item.path());
        break;
    }
    if (picture.isNull())
        picture = QNImageLibrary::imageNamed(QStringLiteral("file-file-large"));
    m_pictures.insert(uid, {item.imageVersion(), picture});
    return picture;
}

QVariant QNImageBrowserModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || !m_item || index.row() >= rowCount())
        return {};
    const QNImageObject item = m_item(index.row());
    switch (role) {
    case Qt::DisplayRole: return item.imageTitle();
    case Qt::ToolTipRole: return item.imageSubtitle();
    case Qt::DecorationRole: return pictureFor(item);
    default: return {};
    }
}
