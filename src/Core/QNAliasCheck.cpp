#include "Core/QNAliasCheck.h"

#include "Core/QNCreateFolderOperation.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QFile>
#include <QUrl>
#include <sys/stat.h>

namespace {

QString errorText(const VNErrorPtr &error) {
    return error ? QNErrorWrapper(error).localizedDescription() : QStringLiteral("(null)");
}

QString nameIn(const QNDocumentPtr &document) {
    return document->path().isEmpty() ? document->displayName()
                                      : QNUtils::withoutTrailingSlashes(document->path()).section(QLatin1Char('/'), -1);
}

// The folder holding a document, by its path.
QNDocumentPtr folderOf(const QNDocumentPtr &document) {
    const QString parent = QNUtils::withoutTrailingSlashes(document->path()).section(QLatin1Char('/'), 0, -2);
    return QNDocument::withPath(parent.isEmpty() ? QStringLiteral("/") : parent, true);
}

QString joined(const QString &folder, const QString &name) {
    QString path = QNUtils::withoutTrailingSlashes(folder);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}

// File servers can link one folder into another; the web drives cannot.
bool isFileServer(const QNDriveConfig &drive) {
    return !drive.isMyFiles() && (drive.isFTP() || drive.isSFTP() || drive.isWebDAV() || drive.isSMB());
}

bool sameLocalItem(const QString &a, const QString &b) {
    struct stat first {}, second {};
    if (::stat(QFile::encodeName(a).constData(), &first) != 0 || ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

bool QNAliasCheck::mayBeOneStorage(const QNDriveConfigPtr &a, const QNDriveConfigPtr &b) {
    if (!a || !b)
        return false;
    if (a->isMyFiles() && b->isMyFiles())
        return true;
    if (!isFileServer(*a) || !isFileServer(*b))
        return false;
    if (a->driveConfigId() == b->driveConfigId())
        return true;
    const QString hostA = QUrl(a->url().trimmed()).host();
    return !hostA.isEmpty() && hostA.compare(QUrl(b->url().trimmed()).host(), Qt::CaseInsensitive) == 0;
}

QNAliasCheck::QNAliasCheck(QNDriveConfigPtr sourceDrive, QNDocumentPtr source, QNDriveConfigPtr namesakeDrive,
                           QNDocumentPtr namesake)
    : m_sourceDrive(std::move(sourceDrive)),
      m_source(std::move(source)),
      m_namesakeDrive(std::move(namesakeDrive)),
      m_namesake(std::move(namesake)) {}

void QNAliasCheck::start(AddOperation add, MakeError makeError, Finished finished) {
    m_add = std::move(add);
    m_makeError = std::move(makeError);
    m_finished = std::move(finished);
    if (!m_source || !m_namesake || !m_sourceDrive || !m_namesakeDrive || m_source->path().isEmpty() ||
        m_namesake->path().isEmpty()) {
        finish(false, nullptr, false);  // nothing addressed by path: no link can join them
        return;
    }
    if (m_sourceDrive->isMyFiles() && m_namesakeDrive->isMyFiles()) {
        finish(sameLocalItem(QNUtils::withoutTrailingSlashes(m_source->path()),
                             QNUtils::withoutTrailingSlashes(m_namesake->path())),
               nullptr, false);
        return;
    }
    const bool folders = m_source->isDirectory();
    m_markerFolder = folders ? m_namesake : folderOf(m_namesake);
    m_lookIn = folders ? m_source : folderOf(m_source);
    if (m_sourceDrive->driveConfigId() == m_namesakeDrive->driveConfigId() &&
        QNUtils::withoutTrailingSlashes(m_markerFolder->path()) == QNUtils::withoutTrailingSlashes(m_lookIn->path())) {
        finish(true, nullptr, false);
        return;
    }
    // Not a dot name: some servers leave those out of their listings.
    m_markerName = QStringLiteral("varnello-check-") + QNUtils::uuidString().toLower();
    const QString markerPath = joined(m_markerFolder->path(), m_markerName);
    auto self = shared_from_this();
    m_add(std::make_shared<QNCreateFolderOperation>(
        m_namesakeDrive, m_markerName, m_markerFolder,
        [self, markerPath](QNDocumentPtr created, VNErrorPtr error, bool cancelled) {
            auto marker = QNDocument::withPath(markerPath, true);
            if (created && !created->id().isEmpty())
                marker->setId(created->id());
            if (cancelled) {
                // It may have been made before the cancel arrived.
                self->removeMarker(marker, false, nullptr);
                return;
            }
            if (error) {
                self->finish(false,
                             self->m_makeError(QStringLiteral("The check folder \u201c%1\u201d could not be made: %2")
                                                   .arg(markerPath, errorText(error))),
                             false);
                return;
            }
            self->listSource(marker);
        }));
}

void QNAliasCheck::listSource(const QNDocumentPtr &marker) {
    auto self = shared_from_this();
    m_add(std::make_shared<QNListDocumentsOperation>(
        m_sourceDrive, m_lookIn, QString(),
        [self, marker](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->removeMarker(marker, false, nullptr);
                return;
            }
            if (error) {
                self->removeMarker(marker, false,
                                   self->m_makeError(QStringLiteral("\u201c%1\u201d could not be listed: %2")
                                                         .arg(QNUtils::withoutTrailingSlashes(self->m_lookIn->path()),
                                                              errorText(error))));
                return;
            }
            if (self->holdsMarker(documents))
                self->removeMarker(marker, true, nullptr);
            else
                self->confirmMarker(marker);
        }));
}

bool QNAliasCheck::holdsMarker(const QNDocumentList &documents) const {
    for (const auto &document : documents)
        if (document && nameIn(document) == m_markerName)
            return true;
    return false;
}

void QNAliasCheck::confirmMarker(const QNDocumentPtr &marker) {
    // Not seen in the source: apart only when the listing of its own folder
    // shows it (a server may leave some names out of its listings).
    auto self = shared_from_this();
    m_add(std::make_shared<QNListDocumentsOperation>(
        m_namesakeDrive, m_markerFolder, QString(),
        [self, marker](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->removeMarker(marker, false, nullptr);
                return;
            }
            if (error || !self->holdsMarker(documents)) {
                self->removeMarker(
                    marker, false,
                    self->m_makeError(QStringLiteral("The check folder \u201c%1\u201d does not show in the listing of "
                                                     "\u201c%2\u201d%3.")
                                          .arg(marker->path(), QNUtils::withoutTrailingSlashes(self->m_markerFolder->path()),
                                               error ? QStringLiteral(": ") + errorText(error) : QString())));
                return;
            }
            self->removeMarker(marker, false, nullptr);
        }));
}

void QNAliasCheck::removeMarker(const QNDocumentPtr &marker, bool same, const VNErrorPtr &error) {
    auto self = shared_from_this();
    auto drive = m_namesakeDrive;
    m_add(std::make_shared<QNRemoveOperation>(
        m_namesakeDrive, marker, [self, drive, marker, same, error](QNDocumentPtr, VNErrorPtr removeError, bool cancelled) {
            if (cancelled) {
                // A cancelled task runs nothing more: the check folder goes
                // without it.
                VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
                    drive, marker, [marker](QNDocumentPtr, VNErrorPtr, bool) {
                        VNLog::log(QStringLiteral("QNAliasCheck removed %1 after a cancel").arg(marker->path()));
                    }));
                self->finish(same, error, true);
                return;
            }
            if (removeError && !error) {
                self->finish(same,
                             self->m_makeError(QStringLiteral("The check folder \u201c%1\u201d could not be removed: %2")
                                                   .arg(marker->path(), errorText(removeError))),
                             false);
                return;
            }
            self->finish(same, error, false);
        }));
}

void QNAliasCheck::finish(bool same, const VNErrorPtr &error, bool cancelled) {
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    m_add = nullptr;
    if (finished)
        finished(same, error, cancelled);
}
