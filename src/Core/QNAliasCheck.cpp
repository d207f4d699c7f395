#include "Core/QNAliasCheck.h"

#include "Core/QNCreateFolderOperation.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNHandlerOperation.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNTask.h"
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

// The server a file server drive is reached at, its address typed with or
// without a scheme.
QString serverHost(const QNDriveConfig &drive) {
    const QString url = drive.isFTP() || drive.isSFTP()
                            ? QNDriveConfig::withFileServerScheme(drive.url(), drive.isSFTP())
                            : drive.url().trimmed();
    return QUrl(url).host();
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
    const QString hostA = serverHost(*a);
    return !hostA.isEmpty() && hostA.compare(serverHost(*b), Qt::CaseInsensitive) == 0;
}

QNAliasCheck::QNAliasCheck(QNDriveConfigPtr sourceDrive, QNDocumentPtr source, QNDriveConfigPtr namesakeDrive,
                           QNDocumentPtr namesake)
    : m_sourceDrive(std::move(sourceDrive)),
      m_source(std::move(source)),
      m_namesakeDrive(std::move(namesakeDrive)),
      m_namesake(std::move(namesake)) {}

void QNAliasCheck::start(AddOperation add, MakeError makeError, Finished finished, Hold hold) {
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
    if (hold)
        m_hold = hold();
    // Not a dot name: some servers leave those out of their listings.
    m_markerName = QStringLiteral("varnello-check-") + QNUtils::uuidString().toLower();
    const QString markerPath = joined(m_markerFolder->path(), m_markerName);
    {
        std::lock_guard lock(m_mutex);
        m_marker = QNDocument::withPath(markerPath, true);
    }
    auto self = shared_from_this();
    run(std::make_shared<QNCreateFolderOperation>(
        m_namesakeDrive, m_markerName, m_markerFolder,
        [self, markerPath](QNDocumentPtr created, VNErrorPtr error, bool cancelled) {
            {
                std::lock_guard lock(self->m_mutex);
                self->m_markerMayExist = true;
                if (created && !created->id().isEmpty())
                    self->m_marker->setId(created->id());
            }
            self->answered();
            if (cancelled) {
                self->endCancelled();  // it may have been made before the cancel arrived
                return;
            }
            if (error) {
                {
                    std::lock_guard lock(self->m_mutex);
                    self->m_markerMayExist = false;
                }
                self->finish(false,
                             self->m_makeError(QStringLiteral("The check folder \u201c%1\u201d could not be made: %2")
                                                   .arg(markerPath, errorText(error))),
                             false);
                return;
            }
            self->listSource();
        }));
}

void QNAliasCheck::run(const std::shared_ptr<VNOperation> &operation) {
    bool cancelled = false;
    {
        std::lock_guard lock(m_mutex);
        cancelled = m_taskCancelled;
        if (!cancelled) {
            m_step = operation;
            m_stepAnswered = false;
        }
    }
    if (cancelled)
        endCancelled();
    else
        m_add(operation);
}

void QNAliasCheck::answered() {
    std::lock_guard lock(m_mutex);
    m_stepAnswered = true;
}

void QNAliasCheck::taskWasCancelled() {
    std::shared_ptr<VNOperation> step;
    {
        std::lock_guard lock(m_mutex);
        m_taskCancelled = true;
        if (!m_step || m_stepAnswered)
            return;  // none queued yet, or its answer goes on to the next step
        step = m_step;
    }
    // One that runs answers as cancelled; one that never started never will.
    if (step->isExecuting())
        return;
    endCancelled();
}

QNDocumentPtr QNAliasCheck::marker() {
    std::lock_guard lock(m_mutex);
    return m_marker;
}

void QNAliasCheck::endCancelled() {
    if (m_ended.exchange(true))
        return;
    // m_add stays: a step may be on its way to the queue as the cancel comes.
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    auto hold = std::move(m_hold);
    m_hold = nullptr;
    QNDocumentPtr marker;
    std::shared_ptr<QNHandlerCallWatch> watch;
    {
        std::lock_guard lock(m_mutex);
        if (m_markerMayExist)
            marker = m_marker;
        if (auto *call = dynamic_cast<QNHandlerCall *>(m_step.get()))
            watch = call->handlerCallWatch();
        // A step that never started holds this check in its callback: let go
        // of it, or the two keep each other.
        m_step = nullptr;
    }
    if (!marker) {
        if (finished)
            finished(false, nullptr, true);
        return;
    }
    // Outside the task's queues, which run nothing more; after the cancelled
    // step's request has come back, so that a creation still under way
    // cannot outlast the removal.
    auto drive = m_namesakeDrive;
    VNOperationQueue::global().addOperation([drive, marker, watch, finished, hold] {
        if (watch)
            watch->waitUntilAnswered(std::chrono::steady_clock::now() + QNTask::cancelledCallsWaitLimit());
        VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
            drive, marker, [marker, finished, hold](QNDocumentPtr, VNErrorPtr error, bool) {
                if (error)
                    VNLog::log(QStringLiteral("QNAliasCheck could not remove %1 after a cancel: %2")
                                   .arg(marker->path(), errorText(error)));
                if (finished)
                    finished(false, nullptr, true);
            }));
    });
}

void QNAliasCheck::listSource() {
    auto self = shared_from_this();
    run(std::make_shared<QNListDocumentsOperation>(
        m_sourceDrive, m_lookIn, QString(),
        [self](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (error) {
                self->removeMarker(false,
                                   self->m_makeError(QStringLiteral("\u201c%1\u201d could not be listed: %2")
                                                         .arg(QNUtils::withoutTrailingSlashes(self->m_lookIn->path()),
                                                              errorText(error))));
                return;
            }
            if (self->holdsMarker(documents))
                self->removeMarker(true, nullptr);
            else
                self->confirmMarker();
        }));
}

bool QNAliasCheck::holdsMarker(const QNDocumentList &documents) const {
    for (const auto &document : documents)
        if (document && nameIn(document) == m_markerName)
            return true;
    return false;
}

void QNAliasCheck::confirmMarker() {
    // Not seen in the source: apart only when the listing of its own folder
    // shows it (a server may leave some names out of its listings).
    auto self = shared_from_this();
    run(std::make_shared<QNListDocumentsOperation>(
        m_namesakeDrive, m_markerFolder, QString(),
        [self](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (error || !self->holdsMarker(documents)) {
                self->removeMarker(
                    false,
                    self->m_makeError(QStringLiteral("The check folder \u201c%1\u201d does not show in the listing of "
                                                     "\u201c%2\u201d%3.")
                                          .arg(self->marker()->path(),
                                               QNUtils::withoutTrailingSlashes(self->m_markerFolder->path()),
                                               error ? QStringLiteral(": ") + errorText(error) : QString())));
                return;
            }
            self->removeMarker(false, nullptr);
        }));
}

void QNAliasCheck::removeMarker(bool same, const VNErrorPtr &error) {
    auto self = shared_from_this();
    const auto marker = this->marker();
    run(std::make_shared<QNRemoveOperation>(
        m_namesakeDrive, marker, [self, marker, same, error](QNDocumentPtr, VNErrorPtr removeError, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();  // it may still be there
                return;
            }
            {
                std::lock_guard lock(self->m_mutex);
                self->m_markerMayExist = removeError != nullptr;
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
    if (m_ended.exchange(true))
        return;
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    m_add = nullptr;
    auto hold = std::move(m_hold);
    m_hold = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_step = nullptr;
    }
    if (finished)
        finished(same, error, cancelled);
}
