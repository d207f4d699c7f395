#pragma once

#include "App/QNImageObject.h"

#include <QAbstractListModel>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QPixmap>
#include <functional>

// The items of a QNImageBrowserView as a list model: the title as text, the
// subtitle as tool tip, the picture (loaded once per identifier and version)
// as decoration icon.
class QImageReader;

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

    // A file's thumbnail as an image, at most side pixels on its longer
    // side: a picture decoded at that scale, a PDF's first page on white in
    // a side-by-side square. Safe on any thread; null when it won't load.
    static QImage thumbnailImage(const QString &path, int side = largestSide);
    static QImage thumbnailImage(const QByteArray &data, int side = largestSide);
    static QImage pdfThumbnailImage(const QString &path, int side = largestSide);
    // The largest cell picture the browser draws.
    static constexpr int largestSide = 256;
    // Bytes of the pictures kept for drawing (bounded, least recently drawn go first).
    qint64 cachedBytes() const { return qint64(m_pictures.totalCost()) * 1024; }
    static constexpr int cacheKiB = 64 * 1024;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QPixmap pictureFor(const QNImageObject &item) const;
    // An item given by a remote URL: fetched into memory (never to disk),
    // bounded like every thumbnail fetch.
    void fetchRemote(const QUrl &url) const;
    static QPixmap loadFile(const QString &path);
    static QImage scaledRead(QImageReader &reader, int side);

    ItemCount m_count;
    ItemAt m_item;
    struct Picture {
        quint64 version;
        QPixmap pixmap;
    };
    void keep(const QString &uid, quint64 version, const QPixmap &pixmap) const;
    mutable QCache<QString, Picture> m_pictures{cacheKiB};  // cost in KiB
    mutable QSet<QString> m_remoteTried;  // fetched or failed since the last reset
};
