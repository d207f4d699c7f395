#include "App/QNImageBrowserModel.h"

#include "App/QNImageLibrary.h"

#include <QIcon>
#include <QNetworkAccessManager>
#include <QNetworkReply>
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
    endResetModel();
}

void QNImageBrowserModel::refresh() {
    const int rows = rowCount();
    if (rows > 0)
        emit dataChanged(index(0), index(rows - 1));
}

QPixmap QNImageBrowserModel::loadFile(const QString &path) {
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        // The first page, 256 pixels on its longer side.
        QPdfDocument document;
        if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1)
            return {};
        const QSizeF page = document.pagePointSize(0);
        if (page.isEmpty())
            return {};
        const QSize size = (page * (256.0 / std::max(page.width(), page.height()))).toSize();
        QImage image = document.render(0, size);
        if (image.isNull())
            return {};
        // The page on white paper with a thin edge, centred in a square so
        // that it lines up with the other items.
        QImage square(256, 256, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        QPainter p(&square);
        const QRect paper(QPoint((256 - size.width()) / 2, (256 - size.height()) / 2), size);
        p.fillRect(paper, Qt::white);
        p.drawImage(paper.topLeft(), image);
        p.setPen(QColor(0xbb, 0xbb, 0xbb));
        p.drawRect(paper.adjusted(0, 0, -1, -1));
        p.end();
        return QPixmap::fromImage(square);
    }
    QPixmap picture;
    picture.load(path);
    return picture;
}

void QNImageBrowserModel::fetchRemote(const QUrl &url) const {
    const QString uid = url.toString(QUrl::FullyEncoded);
    if (m_remoteTried.contains(uid))
        return;
    m_remoteTried.insert(uid);
    if (!m_network)
        m_network = new QNetworkAccessManager(const_cast<QNImageBrowserModel *>(this));
    QNetworkReply *reply = m_network->get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply, uid] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300)
            return;  // an error page is no picture
        QImage image;
        if (!image.loadFromData(reply->readAll()))
            return;
        m_pictures.insert(uid, {quint64(-1), QPixmap::fromImage(image)});
        const_cast<QNImageBrowserModel *>(this)->refresh();
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
    auto it = m_pictures.constFind(uid);
    const bool remote = item.imageRepresentationType() == QNImageObject::RepresentationType::URL &&
                        !item.url().isLocalFile();
    if (it != m_pictures.constEnd() && (it->first == item.imageVersion() || (remote && it->first == quint64(-1))))
        return it->second;
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
    // As an icon, so the view draws it at its icon size whatever its own.
    case Qt::DecorationRole: return QIcon(pictureFor(item));
    case PictureRole: return pictureFor(item);
    default: return {};
    }
}
