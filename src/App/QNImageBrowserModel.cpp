#include "App/QNImageBrowserModel.h"

#include "App/QNImageLibrary.h"
#include "App/QNThumbnailFetch.h"

#include <QBuffer>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QPointer>

QNImageBrowserModel::QNImageBrowserModel(QObject *parent) : QAbstractListModel(parent) {}

void QNImageBrowserModel::setDataSource(ItemCount count, ItemAt item) {
    beginResetModel();
    m_count = std::move(count);
    m_item = std::move(item);
    endResetModel();
}

void QNImageBrowserModel::reload() {
    beginResetModel();
    m_remoteTried.clear();
    m_pictures.clear();  // a new listing names its pictures anew
    endResetModel();
}

void QNImageBrowserModel::refresh() {
    const int rows = rowCount();
    if (rows > 0)
        emit dataChanged(index(0), index(rows - 1));
}

QImage QNImageBrowserModel::thumbnailImage(const QString &path, int side) {
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return pdfThumbnailImage(path, side);
    QImageReader reader(path);
    return scaledRead(reader, side);
}

QImage QNImageBrowserModel::pdfThumbnailImage(const QString &path, int side) {
    {
        // The first page on white paper with a thin edge, centred in a
        // square so that it lines up with the other items.
        QPdfDocument document;
        if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
            return {};
        const QSizeF page = document.pagePointSize(0);
        if (page.isEmpty())
            return {};
        const QSize size = (page * (double(side) / std::max(page.width(), page.height()))).toSize();
        QImage image = document.render(0, size);
        if (image.isNull())
            return {};
        QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        QPainter p(&square);
        const QRect paper(QPoint((side - size.width()) / 2, (side - size.height()) / 2), size);
        p.fillRect(paper, Qt::white);
        p.drawImage(paper.topLeft(), image);
        p.setPen(QColor(0xbb, 0xbb, 0xbb));
        p.drawRect(paper.adjusted(0, 0, -1, -1));
        p.end();
        return square;
    }
}

QImage QNImageBrowserModel::thumbnailImage(const QByteArray &data, int side) {
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer);
    return scaledRead(reader, side);
}

QImage QNImageBrowserModel::scaledRead(QImageReader &reader, int side) {
    // Decoded at the cell's scale (JPEG readers skip the detail), never larger.
    reader.setAutoTransform(true);
    const QSize full = reader.size();
    if (full.isValid() && std::max(full.width(), full.height()) > side)
        reader.setScaledSize(full.scaled(side, side, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (!image.isNull() && std::max(image.width(), image.height()) > side)
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QPixmap QNImageBrowserModel::loadFile(const QString &path) {
    return QPixmap::fromImage(thumbnailImage(path));
}

void QNImageBrowserModel::keep(const QString &uid, quint64 version, const QPixmap &pixmap) const {
    const qint64 bytes = qint64(pixmap.width()) * pixmap.height() * std::max(1, pixmap.depth() / 8);
    m_pictures.insert(uid, new Picture{version, pixmap}, int(std::max<qint64>(1, bytes / 1024)));
}

void QNImageBrowserModel::fetchRemote(const QUrl &url) const {
    const QString uid = url.toString(QUrl::FullyEncoded);
    if (m_remoteTried.contains(uid))
        return;
    m_remoteTried.insert(uid);
    QPointer<QNImageBrowserModel> model(const_cast<QNImageBrowserModel *>(this));
    QNThumbnailFetch::start({url, {}}, [model, uid](QByteArray data, VNErrorPtr error) {
        if (!model || error)
            return;  // an error page, or a reply too large for a thumbnail, is no picture
        const QImage image = thumbnailImage(data);
        if (image.isNull())
            return;
        model->keep(uid, quint64(-1), QPixmap::fromImage(image));
        model->refresh();
    });
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
    const Picture *kept = m_pictures.object(uid);
    const bool remote = item.imageRepresentationType() == QNImageObject::RepresentationType::URL &&
                        !item.url().isLocalFile();
    if (kept && (kept->version == item.imageVersion() || (remote && kept->version == quint64(-1))))
        return kept->pixmap;
    if (remote) {
        fetchRemote(item.url());
        return QNImageLibrary::imageNamed(QStringLiteral("file-file-large"));
    }
    QPixmap picture;
    switch (item.imageRepresentationType()) {
    case QNImageObject::RepresentationType::Image:
        picture = QPixmap::fromImage(item.image());
        break;
    case QNImageObject::RepresentationType::URL:
        picture = loadFile(item.url().toLocalFile());
        break;
    case QNImageObject::RepresentationType::Path:
        picture = loadFile(item.path());
        break;
    }
    if (picture.isNull())
        picture = QNImageLibrary::imageNamed(QStringLiteral("file-file-large"));
    keep(uid, item.imageVersion(), picture);
    return picture;
}

QVariant QNImageBrowserModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || !m_item || index.row() >= rowCount())
        return {};
    const QNImageObject item = m_item(index.row());
    switch (role) {
    case Qt::DisplayRole: return item.imageTitle();
    case Qt::ToolTipRole: return item.imageSubtitle();
    // As an icon, so the view draws it at its icon size whatever its own.
    case Qt::DecorationRole: return QIcon(pictureFor(item));
    case PictureRole: return pictureFor(item);
    default: return {};
    }
}
