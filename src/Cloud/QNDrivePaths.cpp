#include "Cloud/QNDrivePaths.h"

#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <filesystem>

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

bool keepListed(QNDocumentList &documents, const QNDocumentPtr &document, const QString &keyword,
                const QString &handler, const QString &folderPath) {
    if (!document) {
        VNLog::log(QStringLiteral("%1 skipped an entry with an unusable name in %2").arg(handler, folderPath));
        return false;
    }
    if (keyword.isEmpty() || document->displayName().contains(keyword, Qt::CaseInsensitive))
        documents.append(document);
    return true;
}

QString partFileFor(const QString &destination) {
    return VNPartName::beside(QFileInfo(destination).absoluteFilePath(), VNPartName::randomSuffix(QStringLiteral("part"), 32));
}

std::function<void(qint64, qint64)> fractionProgress(QNProgressCallback progress, qint64 expected) {
    return [progress = std::move(progress), expected](qint64 done, qint64 total) {
        const qint64 all = total > 0 ? total : expected;
        if (progress && all > 0)
            progress(std::min(1.0, double(done) / double(all)));
    };
}

std::function<void(VNErrorPtr, bool)> downloadAnswer(const QString &partFile, const QString &destination,
                                                    const QString &domain, QNDocumentCallback completed) {
    return [partFile, destination, domain, completed = std::move(completed)](VNErrorPtr error, bool cancelled) {
        std::error_code ec;
        if (!error && !cancelled)
            std::filesystem::rename(partFile.toStdString(), destination.toStdString(), ec);
        if (error || cancelled || ec) {
            QFile::remove(partFile);
            if (ec)
                completed(nullptr,
                          QNCloudInterface::makeError(domain, QStringLiteral("The downloaded file could not be moved to %1: %2")
                                                                  .arg(destination, QString::fromStdString(ec.message()))),
                          false);
            else
                completed(nullptr, error, cancelled);
            return;
        }
        auto result = QNDocument::create();
        result->setPath(destination);
        result->setDisplayName(QFileInfo(destination).fileName());
        result->setSize(QFileInfo(destination).size());
        completed(result, nullptr, false);
    };
}

}  // namespace QNDrivePaths
