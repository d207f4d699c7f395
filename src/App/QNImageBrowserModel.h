#pragma once

#include "App/QNImageObject.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPixmap>
#include <functional>

// The items of a QNImageBrowserView as a list model: the title as text, the
// subtitle as tool tip, the picture (loaded once per identifier and version)
// as decoration.
class QNImageBrowserModel : public QAbstractListModel {
    Q_OBJECT
public:
    using ItemCount = std::function<int()>;
    using ItemAt = std::function<QNImageObject(int)>;

    explicit QNImageBrowserModel(QObject *parent = nullptr);

    void setDataSource(ItemCount count, ItemAt item);
    void reload();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QPixmap pictureFor(const QNImageObject &item) const;

    ItemCount m_count;
    ItemAt m_item;
    mutable QHash<QString, QPair<quint64, QPixmap>> m_pictures;
};
