#pragma once

#include "App/QNImageObject.h"

#include <QAbstractListModel>
#include <QHash>
#include <QSet>
#include <QPixmap>
#include <functional>

// The items of a QNImageBrowserView as a list model: the title as text, the
// subtitle as tool tip, the picture (loaded once per identifier and version)
// as decoration icon.
class QNetworkAccessManager;

class QNImageBrowserModel : public QAbstractListModel {
    Q_OBJECT
public:
    using ItemCount = std::function<int()>;
    using ItemAt = std::function<QNImageObject(int)>;

    // The item's picture at its own size (a QPixmap).
    static constexpr int PictureRole = Qt::UserRole + 1;

    explicit QNImageBrowserModel(QObject *parent = nullptr);

    void setDataSource(ItemCount count, ItemAt item);
    void reload();
    // Every item asked again; the view keeps its selection and position.
    void refresh();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QPixmap pictureFor(const QNImageObject &item) const;
    // An item given by a remote URL: fetched into memory (never to disk).
    void fetchRemote(const QUrl &url) const;
    static QPixmap loadFile(const QString &path);

    ItemCount m_count;
    ItemAt m_item;
    mutable QHash<QString, QPair<quint64, QPixmap>> m_pictures;
    mutable QSet<QString> m_remoteTried;  // fetched or failed since the last reset
    mutable QNetworkAccessManager *m_network = nullptr;
};
