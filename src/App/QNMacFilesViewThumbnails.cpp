// The pane's thumbnail browser: which picture each entry shows, the fetches
// of thumbnails into the pane's thumbnail folder (two at a time, visible
// items only), the coalesced reload and the cancelling on scroll.
//
// All thumbnail state (m_thumbDownloads, the files in the thumbnail folder)
// is touched on the main thread only; fetches answer on their own threads
// and hand their result over by the main queue.

#include "App/QNFilesTableModel.h"
#include "App/QNImageBrowserModel.h"
#include "App/QNImageBrowserView.h"
#include "App/QNImageLibrary.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNThumbnailFetch.h"
#include "Core/QNDownloadOperation.h"
#include "Core/QNThumbnailOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPdfDocument>
#include <QScrollBar>
#include <QSet>
#include <QTimer>

namespace {

bool isPicture(const QString &extension) {
    static const QStringList kinds = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("gif"), QStringLiteral("tif"), QStringLiteral("tiff")};
    return kinds.contains(extension);
}

}  // namespace

void QNMacFilesViewController::setUpThumbnails() {
    // The request engine by default: HTTP errors as errors, a bounded reply.
    if (!QNThumbnailOperation::defaultURLLoader())
        QNThumbnailOperation::setDefaultURLLoader(QNThumbnailFetch::loader());
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setInterval(500);
    connect(m_timer, &QTimer::timeout, this, &QNMacFilesViewController::reloadImageBrowser);
    connect(m_imageBrowserView->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { scrollBoundsDidChange(); });
    connect(m_imageBrowserView, &QNImageBrowserView::viewportResized, this, [this] { scrollBoundsDidChange(); });
}

QString QNMacFilesViewController::thumbnailPathFor(const QNDocumentPtr &document) const {
    // Keyed by drive and path: two entries of the same name never share a file.
    const QString driveId = m_driveConfig ? m_driveConfig->driveConfigId() : QString();
    const QByteArray key = QCryptographicHash::hash((driveId + QLatin1Char('\n') + document->path()).toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex();
    const QString extension = QFileInfo(document->path()).suffix().toLower();
    return m_thumbTempPath + QLatin1Char('/') + QString::fromLatin1(key) +
           (extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
}

QList<int> QNMacFilesViewController::visibleItemIndexes() const {
    QList<int> visible;
    if (!m_imageBrowserView->isVisible())
        return visible;
    const QRect area = m_imageBrowserView->viewport()->rect();
    const int count = numberOfItemsInImageBrowser();
    for (int i = 0; i < count; ++i)
        if (m_imageBrowserView->visualRect(m_imageBrowserView->model()->index(i, 0)).intersects(area))
            visible << i;
    return visible;
}

QImage QNMacFilesViewController::folderIconImage() const {
    const QSize side = m_imageBrowserView->iconSize();
    if (m_folderPicture.isNull() || m_folderPicture.size() != side)
        m_folderPicture = QNFilesTableModel::folderIcon().pixmap(side).toImage();
    return m_folderPicture;
}

QImage QNMacFilesViewController::iconImageForName(const QString &name) const {
    // One image per type and size: the browser keeps pictures by image, so
    // a new image for every item and reload would be a new picture each time.
    const QSize side = m_imageBrowserView->iconSize();
    const QString key = QFileInfo(name).suffix().toLower() + QLatin1Char('@') + QString::number(side.width());
    auto it = m_iconPictures.constFind(key);
    if (it != m_iconPictures.constEnd())
        return *it;
    const QImage icon = QNFilesTableModel::iconForFileName(name).pixmap(side).toImage();
    m_iconPictures.insert(key, icon);
    return icon;
}

QImage QNMacFilesViewController::imageBrowserImageForFolder(const QString &path) const {
    QImage picture(path);
    if (picture.isNull())
        return picture;
    const QImage badge = QNImageLibrary::imageNamed(QStringLiteral("image-folder")).toImage();
    const QSize cell = m_imageBrowserView->iconSize();
    const double scale = double(std::max(cell.width(), cell.height())) / std::max(picture.width(), picture.height());
    QImage out((QSizeF(picture.size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.drawImage(out.rect(), picture);
    p.setOpacity(0.5);
    p.drawImage(QPoint((out.width() - badge.width()) / 2, (out.height() - badge.height()) / 2), badge);
    return out;
}

QNImageObject QNMacFilesViewController::imageBrowserItemAtIndex(int index) {
    QNImageObject item;
    const QNDocumentPtr d = m_documents.value(index);
    if (!d)
        return item;
    const QString extension = QFileInfo(d->path()).suffix().toLower();
    const bool picture = isPicture(extension);
    const bool pdf = extension == QLatin1String("pdf");
    const bool photoService = m_driveConfig && m_driveConfig->isPhotoService();
    QUrl u = d->thumbnailURL();
    QByteArray bearer, copyAuth;
    bool marked = false;
    if (picture && u.isValid()) {
        const QString s = u.toString(QUrl::FullyEncoded);
        const qsizetype box = s.indexOf(QLatin1String("&BoxAuth+"));
        const qsizetype copy = s.indexOf(QLatin1String("&CopyAuth+"));
        if (box >= 0) {
            u = QUrl(s.left(box), QUrl::StrictMode);
            bearer = s.mid(box + 1).replace(QLatin1String("BoxAuth+"), QLatin1String("Bearer ")).toUtf8();
            marked = true;
        } else if (copy >= 0) {
            u = QUrl(s.left(copy), QUrl::StrictMode);
            copyAuth = QByteArray::fromPercentEncoding(s.mid(copy + 10).toUtf8());
            marked = true;
        }
    }
    const bool folder = showAsFolder(d);
    item.setTitle(d->displayName());
    item.setSubTitle(d->size() >= 1 ? QNUtils::sizeString2(d->size()) : QString());
    if (folder && !photoService) {
        item.setImage(folderIconImage());
        return item;
    }
    if (QNUtils::fileIsArchive(d->path())) {
        item.setImage(iconImageForName(QFileInfo(d->path()).fileName()));
        return item;
    }
    if (picture && u.isValid() && !marked) {
        item.setUrl(d->thumbnailURL());
        return item;
    }
    if (!picture && !pdf && !(photoService && d->isDirectory())) {
        item.setImage(folder ? folderIconImage() : iconImageForName(d->displayName()));
        return item;
    }
    // The local thumbnail.
    const QString l = thumbnailPathFor(d);
    const QFileInfo file(l);
    if (!d->isDirectory()) {
        // The picture decoded (off the main thread, at the cell's scale)
        // when it arrived; a file whose picture was dropped is decoded anew.
        if (const QImage *picture = m_thumbPictures.object(l)) {
            item.setImage(*picture);
            item.setVersion(1);
        } else {
            item.setImage(iconImageForName(d->displayName()));
            if (file.exists() && file.size() > 0)
                decodeThumbnail(l, pdf);
        }
    } else {
        QImage album = m_albumPictures.value(l);
        if (album.isNull() && file.exists() && file.size() > 0) {
            album = imageBrowserImageForFolder(l);
            if (!album.isNull())
                m_albumPictures.insert(l, album);
        }
        item.setImage(album.isNull() ? folderIconImage() : album);
        item.setVersion(album.isNull() ? 0 : 1);
    }
    if (m_thumbDownloads.contains(l))
        return item;
    const QList<int> visible = visibleItemIndexes();
    if (visible.isEmpty() && m_imageBrowserView->isVisible()) {
        // Shown but not laid out yet: which items are visible is not known,
        // so ask again once it is rather than fetch everything.
        startLoadImageBrowserTimer();
        return item;
    }
    if (!(visible.isEmpty() || visible.contains(index)) || (file.exists() && file.size() > 0))
        return item;
    VNLog::log(QStringLiteral("starting download for %1").arg(QFileInfo(d->path()).fileName()));
    m_thumbDownloads.insert(l, d);
    const quint64 generation = m_thumbGeneration;
    QPointer<QNMacFilesViewController> pane(this);
    if (u.isValid() && (!bearer.isEmpty() || !copyAuth.isEmpty() || (photoService && d->isDirectory()))) {
        QNThumbnailOperation::URLRequest request{u, {}};
        if (!bearer.isEmpty()) {
            request.headers.append(qMakePair(QByteArray("Authorization"), bearer));
        } else if (!copyAuth.isEmpty()) {
            request.headers.append(qMakePair(QByteArray("Authorization"), copyAuth));
            request.headers.append(qMakePair(QByteArray("X-Api-Version"), QByteArray("1")));
        }
        m_thumbOperationQueue->addOperation(std::make_shared<QNThumbnailOperation>(
            request, [pane, generation, l](QByteArray data, VNErrorPtr error) {
                // Decoded here, on the fetch's thread, at the cell's scale.
                const QImage picture = error ? QImage() : QNImageBrowserModel::thumbnailImage(data);
                VNDispatch::mainAsync([pane, generation, l, data, error, picture] {
                    if (pane)
                        pane->thumbnailFetched(generation, l, QString(), data, error, picture);
                });
            }));
        return item;
    }
    // The whole file becomes its own thumbnail; it is written beside its
    // final name and moved there only once it is known to be good.
    const QString part = l + QStringLiteral(".part%1").arg(generation);
    auto destination = QNDocument::create();
    destination->setPath(part);
    m_thumbOperationQueue->addOperation(std::make_shared<QNDownloadOperation>(
        m_driveConfig, d, destination, [](double) {},
        [pane, generation, l, part, pdf](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            // Decoded here, on the download's thread, at the cell's scale.
            const QImage picture = error || cancelled ? QImage()
                                   : pdf              ? QNImageBrowserModel::pdfThumbnailImage(part)
                                                      : QNImageBrowserModel::thumbnailImage(part);
            VNDispatch::mainAsync([pane, generation, l, part, error, cancelled, picture] {
                if (!pane) {
                    QFile::remove(part);
                    return;
                }
                if (cancelled && !error) {
                    QFile::remove(part);
                    pane->thumbnailFetched(generation, l, part, QByteArray(), nullptr, QImage());
                    return;
                }
                pane->thumbnailFetched(generation, l, part, QByteArray(), error, picture);
            });
        }));
    return item;
}

void QNMacFilesViewController::thumbnailFetched(quint64 generation, const QString &l, const QString &part,
                                                const QByteArray &data, const VNErrorPtr &error, const QImage &picture) {
    const bool current = generation == m_thumbGeneration && m_thumbDownloads.contains(l);
    auto drop = [&] {
        if (!part.isEmpty())
            QFile::remove(part);
        if (current) {
            m_thumbDownloads.remove(l);
            QFile::remove(l);
        }
    };
    if (error) {
        VNLog::log((part.isEmpty() ? QStringLiteral("Error downloading/0: %1") : QStringLiteral("Error downloading: %1"))
                       .arg(error->localizedDescription()));
        drop();
        return;
    }
    if (!current || (part.isEmpty() && data.isEmpty()) || (!part.isEmpty() && !QFile::exists(part))) {
        drop();  // cancelled, or overtaken by a scroll or a new listing
        return;
    }
    QString source = part;
    if (part.isEmpty()) {
        source = l + QStringLiteral(".part%1").arg(generation);
        QFile out(source);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) {
            out.close();
            drop();
            return;
        }
    }
    // An error page or a file no reader understands is never kept.
    if (picture.isNull()) {
        VNLog::log(QStringLiteral("Thumbnail not usable: %1").arg(QFileInfo(l).fileName()));
        QFile::remove(source);
        m_thumbDownloads.remove(l);
        return;
    }
    QFile::remove(l);
    if (!QFile::rename(source, l)) {
        drop();
        return;
    }
    keepThumbnailPicture(l, picture);
    VNLog::log(part.isEmpty() ? QStringLiteral("start timer from QNThumbnailOperation")
                              : QStringLiteral("start timer from QNDownloadOperation"));
    startLoadImageBrowserTimer();
}

void QNMacFilesViewController::startLoadImageBrowserTimer() {
    if (!VNDispatch::isMainThread()) {
        QPointer<QNMacFilesViewController> pane(this);
        VNDispatch::mainAsync([pane] {
            if (pane)
                pane->startLoadImageBrowserTimer();
        });
        return;
    }
    m_timer->start();
}

void QNMacFilesViewController::reloadImageBrowser() {
    VNLog::log(QStringLiteral("reloadImageBrowser"));
    const QList<int> selection = m_imageBrowserView->selectionIndexes();
    m_imageBrowserView->refreshData();
    m_imageBrowserView->setSelectionIndexes(selection);
}

void QNMacFilesViewController::scrollBoundsDidChange() {
    m_thumbOperationQueue->cancelAllOperations();
    m_thumbDownloads.clear();
    ++m_thumbGeneration;
    dropFarThumbnailPictures();
    startLoadImageBrowserTimer();
}

void QNMacFilesViewController::resetThumbnails() {
    m_thumbOperationQueue->cancelAllOperations();
    m_thumbDownloads.clear();
    m_albumPictures.clear();
    m_thumbPictures.clear();
    m_thumbDecoding.clear();
    ++m_thumbGeneration;
}

void QNMacFilesViewController::keepThumbnailPicture(const QString &path, const QImage &picture) {
    m_thumbPictures.insert(path, new QImage(picture), int(std::max<qint64>(1, picture.sizeInBytes() / 1024)));
}

void QNMacFilesViewController::decodeThumbnail(const QString &path, bool pdf) {
    Q_UNUSED(pdf);
    if (m_thumbDecoding.contains(path))
        return;
    m_thumbDecoding.insert(path);
    QPointer<QNMacFilesViewController> pane(this);
    const quint64 generation = m_thumbGeneration;
    VNDispatch::globalAsync([pane, path, generation] {
        const QImage picture = QNImageBrowserModel::thumbnailImage(path);
        VNDispatch::mainAsync([pane, path, generation, picture] {
            if (!pane || !pane->m_thumbDecoding.remove(path) || generation > pane->m_thumbGeneration)
                return;
            if (!picture.isNull()) {
                pane->keepThumbnailPicture(path, picture);
                pane->startLoadImageBrowserTimer();
            }
        });
    });
}

void QNMacFilesViewController::dropFarThumbnailPictures() {
    // Pictures of items more than two screens away from what is visible
    // are dropped; they are decoded again from their files when scrolled back.
    const QList<int> visible = visibleItemIndexes();
    if (visible.isEmpty() || m_thumbPictures.isEmpty())
        return;
    const qsizetype span = 2 * visible.size();
    const qsizetype first = std::max<qsizetype>(0, visible.first() - span);
    const qsizetype last = std::min<qsizetype>(m_documents.size() - 1, visible.last() + span);
    QSet<QString> near;
    for (qsizetype i = first; i <= last; ++i)
        near.insert(thumbnailPathFor(m_documents.at(i)));
    for (const QString &path : m_thumbPictures.keys())
        if (!near.contains(path))
            m_thumbPictures.remove(path);
}
