#include "Cloud/QNDrivePaths.h"

#include <QFileInfo>
#include <QSet>

namespace QNDrivePaths {

QString withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.isEmpty() ? QStringLiteral("/") : path;
}

QString joinPath(const QString &folder, const QString &name) {
    const QString base = withoutTrailingSlashes(folder);
    return base == QLatin1String("/") ? QLatin1Char('/') + name : base + QLatin1Char('/') + name;
}

QString lastComponent(const QString &path) {
    const QString trimmed = withoutTrailingSlashes(path);
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString parentPath(const QString &path) {
    const QString trimmed = withoutTrailingSlashes(path);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : trimmed.left(slash);
}

bool isUsableName(const QString &name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool isPicture(const QString &name) {
    static const QSet<QString> extensions = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                             QStringLiteral("gif"), QStringLiteral("bmp"), QStringLiteral("tif"),
                                             QStringLiteral("tiff")};
    return extensions.contains(QFileInfo(name).suffix().toLower());
}

}  // namespace QNDrivePaths
