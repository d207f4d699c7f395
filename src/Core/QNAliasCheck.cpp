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

void QNAliasCheck::start(AddOperation add, Finished finished, Hold hold) {
    m_add = std::move(add);
    m_finished = std::move(finished);
    if (!m_source || !m_namesake || !m_sourceDrive || !m_namesakeDrive || m_source->path().isEmpty() ||
        m_namesake->path().isEmpty()) {
        finish(Answer::Apart);  // nothing addressed by path: no link can join them
        return;
    }
    if (m_sourceDrive->isMyFiles() && m_namesakeDrive->isMyFiles()) {
        const bool same = sameLocalItem(QNUtils::withoutTrailingSlashes(m_source->path()),
                                        QNUtils::withoutTrailingSlashes(m_namesake->path()));
        finish(same ? Answer::Same : Answer::Apart);
        return;
    }
    const bool folders = m_source->isDirectory();
    m_markerFolder = folders ? m_namesake : folderOf(m_namesake);
    m_lookIn = folders ? m_source : folderOf(m_source);
    if (m_sourceDrive->driveConfigId() == m_namesakeDrive->driveConfigId() &&
        QNUtils::withoutTrailingSlashes(m_markerFolder->path()) == QNUtils::withoutTrailingSlashes(m_lookIn->path())) {
        finish(Answer::Same);
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
        [self](QNDocumentPtr created, VNErrorPtr error, bool cancelled) {
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
                self->lookForMarker(errorText(error));
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

void QNAliasCheck::markerIsGone() {
    std::lock_guard lock(m_mutex);
    m_markerMayExist = false;
}

QString QNAliasCheck::markerFolderPath() const {
    const QString path = QNUtils::withoutTrailingSlashes(m_markerFolder->path());
    return path.isEmpty() ? QStringLiteral("/") : path;
}

QString QNAliasCheck::leftText(const QString &removeError) const {
    return QStringLiteral("The check folder \u201c%1\u201d could not be removed from \u201c%2\u201d (%3).")
        .arg(m_markerName, markerFolderPath(), removeError.trimmed());
}

QString QNAliasCheck::mayBeLeftText(const QString &removeError, const QString &lookError) const {
    return QStringLiteral("The check folder \u201c%1\u201d may be left in \u201c%2\u201d: it could not be removed "
                          "(%3), nor looked for there (%4).")
        .arg(m_markerName, markerFolderPath(), removeError, lookError);
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
    Outcome outcome;
    outcome.cancelled = true;
    if (!marker) {
        if (finished)
            finished(outcome);
        return;
    }
    // Outside the task's queues, which run nothing more; after the cancelled
    // step's request has come back, so that a creation still under way
    // cannot outlast the removal. A removal that fails looks whether the
    // folder is there at all (a creation cancelled in time made none).
    auto self = shared_from_this();
    auto end = [finished, hold, outcome](const QString &leftOver) mutable {
        outcome.leftOver = leftOver;
        if (!leftOver.isEmpty())
            VNLog::log(QStringLiteral("QNAliasCheck after a cancel: %1").arg(leftOver));
        if (finished)
            finished(outcome);
    };
    VNOperationQueue::global().addOperation([self, marker, watch, end] {
        if (watch)
            watch->waitUntilAnswered(std::chrono::steady_clock::now() + QNTask::cancelledCallsWaitLimit());
        VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
            self->m_namesakeDrive, marker, [self, end](QNDocumentPtr, VNErrorPtr removeError, bool) mutable {
                if (!removeError) {
                    end(QString());
                    return;
                }
                const QString removeText = errorText(removeError);
                VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
                    self->m_namesakeDrive, self->m_markerFolder, QString(),
                    [self, removeText, end](QNDocumentList documents, QString, VNErrorPtr error, bool) mutable {
                        if (error)
                            end(self->mayBeLeftText(removeText, errorText(error)));
                        else
                            end(self->holdsMarker(documents) ? self->leftText(removeText) : QString());
                    }));
            }));
    });
}

void QNAliasCheck::lookForMarker(const QString &createError) {
    const QString why =
        QStringLiteral("The check folder \u201c%1\u201d could not be made: %2").arg(marker()->path(), createError);
    auto self = shared_from_this();
    run(std::make_shared<QNListDocumentsOperation>(
        m_namesakeDrive, m_markerFolder, QString(),
        [self, why](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (error) {
                self->removeUnseenMarker(why, errorText(error));
                return;
            }
            if (self->holdsMarker(documents)) {
                // Made after all, its answer lost: the check goes on.
                VNLog::log(QStringLiteral("QNAliasCheck: %1, but it is there").arg(why));
                self->listSource();
                return;
            }
            self->markerIsGone();
            self->finish(Answer::NotMade, why);
        }));
}

void QNAliasCheck::removeUnseenMarker(const QString &why, const QString &lookError) {
    auto self = shared_from_this();
    run(std::make_shared<QNRemoveOperation>(
        m_namesakeDrive, marker(), [self, why, lookError](QNDocumentPtr, VNErrorPtr removeError, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (removeError) {
                self->finish(Answer::NotMade, why, self->mayBeLeftText(errorText(removeError), lookError));
                return;
            }
            self->markerIsGone();
            self->finish(Answer::NotMade, why);
        }));
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
                self->removeMarker(Answer::Unknown,
                                   QStringLiteral("\u201c%1\u201d could not be listed: %2")
                                       .arg(QNUtils::withoutTrailingSlashes(self->m_lookIn->path()), errorText(error)));
                return;
            }
            if (self->holdsMarker(documents))
                self->removeMarker(Answer::Same, QString());
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
                self->removeMarker(Answer::Unknown,
                                   QStringLiteral("The check folder \u201c%1\u201d does not show in the listing of "
                                                  "\u201c%2\u201d%3.")
                                       .arg(self->marker()->path(), self->markerFolderPath(),
                                            error ? QStringLiteral(": ") + errorText(error) : QString()));
                return;
            }
            self->removeMarker(Answer::Apart, QString());
        }));
}

void QNAliasCheck::removeMarker(Answer answer, const QString &why) {
    auto self = shared_from_this();
    run(std::make_shared<QNRemoveOperation>(
        m_namesakeDrive, marker(), [self, answer, why](QNDocumentPtr, VNErrorPtr removeError, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();  // it may still be there
                return;
            }
            if (!removeError) {
                self->markerIsGone();
                self->finish(answer, why);
                return;
            }
            // Refused, or gone with its answer lost: its folder tells.
            const QString removeText = errorText(removeError);
            self->run(std::make_shared<QNListDocumentsOperation>(
                self->m_namesakeDrive, self->m_markerFolder, QString(),
                [self, answer, why, removeText](QNDocumentList documents, QString, VNErrorPtr error,
                                                bool cancelled) {
                    self->answered();
                    if (cancelled) {
                        self->endCancelled();
                        return;
                    }
                    if (error) {
                        self->finish(answer, why, self->mayBeLeftText(removeText, errorText(error)));
                    } else if (self->holdsMarker(documents)) {
                        self->finish(answer, why, self->leftText(removeText));
                    } else {
                        self->markerIsGone();
                        self->finish(answer, why);
                    }
                }));
        }));
}

void QNAliasCheck::finish(Answer answer, const QString &why, const QString &leftOver) {
    Outcome outcome;
    outcome.answer = answer;
    outcome.why = why;
    outcome.leftOver = leftOver;
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
    if (!outcome.leftOver.isEmpty())
        VNLog::log(QStringLiteral("QNAliasCheck: %1").arg(outcome.leftOver));
    if (finished)
        finished(outcome);
}
