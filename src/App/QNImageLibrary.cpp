#include "App/QNImageLibrary.h"

#include "Platform/VNLog.h"

#include <QDir>
#include <QCoreApplication>
#include <QHash>
#include <QImageReader>
#include <QMutex>
#include <QPainter>
#include <QPixmapCache>
#include <QSet>
#include <QThread>

static void initImageResources() {
    // The resource file lives in a static library: register it once.
    static const bool done = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    Q_UNUSED(done);
}

namespace QNImageLibrary {

QString baseName(const QString &name) {
    QString n = name;
    for (const char *ext : {".png", ".pdf"}) {
        if (n.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) {
            n.chop(4);
            break;
        }
    }
    return n;
}

static QString resourcePath(const QString &name) {
    return QStringLiteral(":/images/") + baseName(name) + QStringLiteral(".png");
}

bool hasImage(const QString &name) {
    initImageResources();
    return !name.isEmpty() && QFile::exists(resourcePath(name));
}

QStringList imageNames() {
    initImageResources();
    QStringList names;
    const QStringList files = QDir(QStringLiteral(":/images")).entryList({QStringLiteral("*.png")}, QDir::Files);
    for (const QString &f : files)
        names << baseName(f);
    return names;
}

// The library's images are PNG files, read as such. Left to guess the
// format (or even told it, with guessing on), the reader loads every
// image-format plugin to ask each whether it knows the file: ten libraries
// at start-up, for the first button.
static bool readPNG(const QString &path, QPixmap &pixmap) {
    // Pixmaps are cached on the main thread only.
    const bool cached = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (cached && QPixmapCache::find(path, &pixmap))
        return true;
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    pixmap = QPixmap::fromImage(image);
    if (cached)
        QPixmapCache::insert(path, pixmap);
    return true;
}

QPixmap imageNamed(const QString &name) {
    initImageResources();
    static QMutex mutex;
    static QSet<QString> reported;
    QPixmap pixmap;
    if (hasImage(name) && readPNG(resourcePath(name), pixmap))
        return pixmap;
    {
        QMutexLocker lock(&mutex);
        if (!reported.contains(name)) {
            reported.insert(name);
            VNLog::log(QStringLiteral("QNImageLibrary missing image: %1").arg(name));
        }
    }
    QPixmap placeholder(32, 32);
    placeholder.fill(Qt::transparent);
    QPainter p(&placeholder);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0x99, 0x99, 0x99));
    p.setBrush(QColor(0xe6, 0xe6, 0xe6));
    p.drawRoundedRect(QRectF(2.5, 2.5, 27, 27), 5, 5);
    return placeholder;
}

}  // namespace QNImageLibrary
