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
#include <QSet>
#include <sys/stat.h>

namespace {

QString nameIn(const QNDocumentPtr &document) {
    return document->path().isEmpty() ? document->displayName()
                                      : QNUtils::withoutTrailingSlashes(document->path()).section(QLatin1Char('/'), -1);
}

// The folder holding a document, by its path.
QNDocumentPtr folderOf(const QNDocumentPtr &document) {
    const QString parent = QNUtils::withoutTrailingSlashes(document->path()).section(QLatin1Char('/'), 0, -2);
    return QNDocument::withPath(parent.isEmpty() ? QStringLiteral("/") : parent, true);
}

// The web service a drive is of ("" for none this check knows).
QString webService(const QNDriveConfig &drive) {
    if (drive.isDropbox())
        return QStringLiteral("Dropbox");
    if (drive.isBox())
        return QStringLiteral("Box");
    if (drive.isGoogleDrive())
        return QStringLiteral("Google Drive");
    if (drive.isSkyDrive())
        return QStringLiteral("OneDrive");
    if (drive.isSugarSync())
        return QStringLiteral("SugarSync");
    if (drive.isCopy())
        return QStringLiteral("Copy");
    if (drive.isBitcasa())
        return QStringLiteral("Bitcasa");
    return {};
}

// Device and inode of a local item (links followed); false when it cannot be looked at.
bool localIdentity(const QNDocumentPtr &document, QPair<quint64, quint64> *identity) {
    struct stat info {};
    const QString path = QNUtils::withoutTrailingSlashes(document->path());
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    *identity = {quint64(info.st_dev), quint64(info.st_ino)};
    return true;
}

bool allHave(const QList<QNDocumentPtr> &documents, bool ids) {
    for (const auto &document : documents)
        if (!document || (ids ? document->id().isEmpty() : document->path().isEmpty()))
            return false;
    return !documents.isEmpty();
}

}  // namespace

bool QNAliasCheck::reachesFilesByPath(const QNDriveConfig &drive) {
    return drive.isMyFiles() || drive.isFTP() || drive.isSFTP() || drive.isWebDAV() || drive.isSMB() ||
           drive.isOffice365();
}

bool QNAliasCheck::mayBeOneStorage(const QNDriveConfigPtr &a, const QNDriveConfigPtr &b) {
    if (!a || !b || a->isPhotoService() || b->isPhotoService() || a->isMyPhotos() || b->isMyPhotos())
        return false;
    if (reachesFilesByPath(*a) && reachesFilesByPath(*b))
        return true;
    const QString service = webService(*a);
    return !service.isEmpty() && service == webService(*b);
}

QNAliasCheck::QNAliasCheck(QNDriveConfigPtr sourceDrive, QNDocumentPtr source, QNDriveConfigPtr namesakeDrive,
                           QNDocumentPtr namesake)
    : m_sourceDrive(std::move(sourceDrive)),
      m_namesakeDrive(std::move(namesakeDrive)),
      m_source(std::move(source)),
      m_namesake(std::move(namesake)) {}

QNAliasCheck::QNAliasCheck(QNDriveConfigPtr sourceDrive, QList<QNDocumentPtr> sourceFolders,
                           QNDriveConfigPtr namesakeDrive, QList<QNDocumentPtr> namesakes)
    : m_sourceDrive(std::move(sourceDrive)),
      m_namesakeDrive(std::move(namesakeDrive)),
      m_single(false),
      m_lookIn(std::move(sourceFolders)),
      m_namesakes(std::move(namesakes)) {}

std::shared_ptr<QNAliasCheck> QNAliasCheck::forDropTarget(QNDriveConfigPtr sourceDrive, QNDriveConfigPtr targetDrive,
                                                        QNDocumentPtr dropTarget) {
    QList<QNDocumentPtr> target;
    if (dropTarget)
        target << dropTarget;
    auto check = std::make_shared<QNAliasCheck>(std::move(sourceDrive), QList<QNDocumentPtr>(), std::move(targetDrive),
                                                std::move(target));
    check->m_dropTarget = true;
    return check;
}

QString QNAliasCheck::markerName() const {
    return m_markers.empty() ? QString() : m_markers.front().name;
}

bool QNAliasCheck::answeredWithoutMarkers() {
    if (!m_sourceDrive || !m_namesakeDrive) {
        finish(Answer::Apart);
        return true;
    }
    if (m_dropTarget) {
        // Asked of drives that reach files by path (the local disk alone
        // compares real paths before): the tree's listings show the check
        // folder wherever the drop target lies in it.
        const bool asked = reachesFilesByPath(*m_sourceDrive) && reachesFilesByPath(*m_namesakeDrive) &&
                           !(m_sourceDrive->isMyFiles() && m_namesakeDrive->isMyFiles()) &&
                           allHave(m_namesakes, false);
        if (!asked)
            finish(Answer::Apart);
        return !asked;
    }
    if (m_single) {
        if (!m_source || !m_namesake) {
            finish(Answer::Apart);
            return true;
        }
        m_lookIn = {m_source};
        m_namesakes = {m_namesake};
    }
    const bool byPath = reachesFilesByPath(*m_sourceDrive) && reachesFilesByPath(*m_namesakeDrive);
    if (m_sourceDrive->isMyFiles() && m_namesakeDrive->isMyFiles()) {
        // One device and inode is one item, whatever paths lead to it.
        QHash<QPair<quint64, quint64>, int> sources;
        for (int j = 0; j < m_lookIn.size(); ++j) {
            QPair<quint64, quint64> identity;
            if (m_lookIn.at(j) && localIdentity(m_lookIn.at(j), &identity) && !sources.contains(identity))
                sources.insert(identity, j);
        }
        for (int i = 0; i < m_namesakes.size(); ++i) {
            QPair<quint64, quint64> identity;
            if (m_namesakes.at(i) && localIdentity(m_namesakes.at(i), &identity) && sources.contains(identity)) {
                m_sameNamesake = i;
                m_sameSource = sources.value(identity);
                finish(Answer::Same);
                return true;
            }
        }
        finish(Answer::Apart);
        return true;
    }
    if (!byPath && allHave(m_lookIn, true) && allHave(m_namesakes, true)) {
        // A web service gives each item one id, wherever it shows.
        QHash<QString, int> sources;
        for (int j = 0; j < m_lookIn.size(); ++j)
            if (!sources.contains(m_lookIn.at(j)->id()))
                sources.insert(m_lookIn.at(j)->id(), j);
        for (int i = 0; i < m_namesakes.size(); ++i) {
            if (sources.contains(m_namesakes.at(i)->id())) {
                m_sameNamesake = i;
                m_sameSource = sources.value(m_namesakes.at(i)->id());
                finish(Answer::Same);
                return true;
            }
        }
        finish(Answer::Apart);
        return true;
    }
    if (!allHave(m_lookIn, false) || !allHave(m_namesakes, false)) {
        finish(Answer::Apart);  // nothing addressed by path: no link can join them
        return true;
    }
    if (m_single && !m_source->isDirectory()) {
        // A file: the folders holding the two.
        m_lookIn = {folderOf(m_source)};
        m_namesakes = {folderOf(m_namesake)};
    }
    if (m_single && m_sourceDrive->driveConfigId() == m_namesakeDrive->driveConfigId() &&
        QNUtils::withoutTrailingSlashes(m_namesakes.front()->path()) ==
            QNUtils::withoutTrailingSlashes(m_lookIn.front()->path())) {
        m_sameNamesake = 0;
        m_sameSource = 0;
        finish(Answer::Same);
        return true;
    }
    return false;
}

void QNAliasCheck::start(AddOperation add, Finished finished, Hold hold) {
    m_add = std::move(add);
    m_finished = std::move(finished);
    if (answeredWithoutMarkers())
        return;
    if (hold)
        m_hold = hold();
    for (const auto &folder : m_namesakes) {
        Marker marker;
        marker.folder = folder;
        // Not a dot name: some servers leave those out of their listings.
        marker.name = QStringLiteral("varnello-check-") + QNUtils::uuidString().toLower();
        marker.document = QNDocument::withPath(QNUtils::joinedPath(folder->path(), marker.name), true);
        m_markerIndex.insert(marker.name, int(m_markers.size()));
        m_markers.push_back(std::move(marker));
    }
    makeMarker(0);
}

void QNAliasCheck::start(AddOperation add, Finished finished, Hold hold, std::function<void()> standing) {
    m_standing = std::move(standing);
    start(std::move(add), std::move(finished), std::move(hold));
}

void QNAliasCheck::stand() {
    bool cancelled = false;
    std::function<void()> standing;
    {
        std::lock_guard lock(m_mutex);
        m_isStanding = true;
        cancelled = m_taskCancelled;
        standing = std::move(m_standing);
        m_standing = nullptr;
    }
    if (cancelled) {
        endCancelled();  // the cancel came as it was made
        return;
    }
    if (standing)
        standing();
}

bool QNAliasCheck::showsMarker(const QNDocumentList &listing) const {
    {
        std::lock_guard lock(m_mutex);
        if (!m_isStanding)
            return false;
    }
    return shownMarker(listing) >= 0;
}

void QNAliasCheck::lookedFor(bool seen) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_isStanding)
            return;
        m_isStanding = false;
        if (seen) {
            m_sameNamesake = 0;
            m_sameSource = 0;
        }
    }
    if (seen)
        removeMarkers(Answer::Same, QString());
    else
        confirmMarker(0);
}

void QNAliasCheck::makeMarker(int index) {
    if (index >= int(m_markers.size())) {
        if (m_dropTarget)
            stand();
        else
            listSource(0);
        return;
    }
    auto self = shared_from_this();
    run(std::make_shared<QNCreateFolderOperation>(
        m_namesakeDrive, m_markers[index].name, m_markers[index].folder,
        [self, index](QNDocumentPtr created, VNErrorPtr error, bool cancelled) {
            {
                std::lock_guard lock(self->m_mutex);
                self->m_markers[index].mayExist = true;
                if (created && !created->id().isEmpty())
                    self->m_markers[index].document->setId(created->id());
            }
            self->answered();
            if (cancelled) {
                self->endCancelled();  // it may have been made before the cancel arrived
                return;
            }
            if (error) {
                self->lookForMarker(index, QNErrorWrapper::textOf(error));
                return;
            }
            self->makeMarker(index + 1);
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
        if (m_isStanding) {
            m_isStanding = false;
        } else {
            if (!m_step || m_stepAnswered)
                return;  // none queued yet, or its answer goes on to the next step
            step = m_step;
        }
    }
    if (!step) {
        endCancelled();  // the drop target's check folder stands: no step would answer
        return;
    }
    // One that runs answers as cancelled and ends the check; one that never
    // started answers only when its queue comes to it: end it now.
    if (step->isExecuting())
        return;
    endCancelled();
}

QNDocumentPtr QNAliasCheck::markerDocument(int index) {
    std::lock_guard lock(m_mutex);
    return m_markers[index].document;
}

void QNAliasCheck::markerIsGone(int index) {
    std::lock_guard lock(m_mutex);
    m_markers[index].mayExist = false;
}

QString QNAliasCheck::folderPath(int index) const {
    return QNUtils::shownFolderPath(*m_markers[index].folder);
}

QString QNAliasCheck::leftText(int index, const QString &removeError) const {
    return QStringLiteral("The check folder \u201c%1\u201d could not be removed from \u201c%2\u201d (%3).")
        .arg(m_markers[index].name, folderPath(index), removeError.trimmed());
}

QString QNAliasCheck::mayBeLeftText(int index, const QString &removeError, const QString &lookError) const {
    return QStringLiteral("The check folder \u201c%1\u201d may be left in \u201c%2\u201d: it could not be removed "
                          "(%3), nor looked for there (%4).")
        .arg(m_markers[index].name, folderPath(index), removeError, lookError);
}

void QNAliasCheck::endCancelled() {
    if (m_ended.exchange(true))
        return;
    // m_add stays: a step may be on its way to the queue as the cancel comes.
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    auto hold = std::move(m_hold);
    m_hold = nullptr;
    auto state = std::make_shared<CancelledRemoval>();
    std::shared_ptr<QNHandlerCallWatch> watch;
    {
        std::lock_guard lock(m_mutex);
        m_standing = nullptr;
        for (int i = 0; i < int(m_markers.size()); ++i)
            if (m_markers[i].mayExist)
                state->left.append(i);
        if (auto *call = dynamic_cast<QNHandlerCall *>(m_step.get()))
            watch = call->handlerCallWatch();
        // A step that never started holds this check in its callback: let go
        // of it, or the two keep each other.
        m_step = nullptr;
    }
    if (state->left.isEmpty()) {
        Outcome outcome;
        outcome.cancelled = true;
        if (finished)
            finished(outcome);
        return;
    }
    // Outside the task's queues, which run nothing more; after the cancelled
    // step's request has come back, so that a creation still under way
    // cannot outlast the removal. A removal that fails looks whether the
    // folder is there at all (a creation cancelled in time made none).
    state->finished = std::move(finished);
    state->hold = std::move(hold);
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation([self, watch, state] {
        if (watch)
            watch->waitUntilAnswered(std::chrono::steady_clock::now() + QNTask::cancelledCallsWaitLimit());
        self->removeAfterCancel(state);
    });
}

void QNAliasCheck::removeAfterCancel(const std::shared_ptr<CancelledRemoval> &state) {
    if (state->left.isEmpty()) {
        Outcome outcome;
        outcome.cancelled = true;
        outcome.leftOver = state->said.join(QLatin1Char(' '));
        if (!outcome.leftOver.isEmpty())
            VNLog::log(QStringLiteral("QNAliasCheck after a cancel: %1").arg(outcome.leftOver));
        auto finished = std::move(state->finished);
        auto hold = std::move(state->hold);  // let go only once the answer is given
        if (finished)
            finished(outcome);
        return;
    }
    // One check folder after the other, each removed or named.
    const int index = state->left.takeFirst();
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
        m_namesakeDrive, markerDocument(index), [self, index, state](QNDocumentPtr, VNErrorPtr removeError, bool) {
            if (!removeError) {
                self->removeAfterCancel(state);
                return;
            }
            const QString removeText = QNErrorWrapper::textOf(removeError);
            VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
                self->m_namesakeDrive, self->m_markers[index].folder, QString(),
                [self, index, removeText, state](QNDocumentList documents, QString, VNErrorPtr error, bool) {
                    if (error)
                        state->said.append(self->mayBeLeftText(index, removeText, QNErrorWrapper::textOf(error)));
                    else if (self->shows(documents, index))
                        state->said.append(self->leftText(index, removeText));
                    self->removeAfterCancel(state);
                }));
        }));
}

void QNAliasCheck::lookForMarker(int index, const QString &createError) {
    const QString why = QStringLiteral("The check folder \u201c%1\u201d could not be made: %2")
                            .arg(markerDocument(index)->path(), createError);
    auto self = shared_from_this();
    run(std::make_shared<QNListDocumentsOperation>(
        m_namesakeDrive, m_markers[index].folder, QString(),
        [self, index, why](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (error) {
                // It goes if it is there.
                self->removeMarkers(Answer::NotMade, why);
                return;
            }
            if (self->shows(documents, index)) {
                // Made after all, its answer lost: the check goes on.
                VNLog::log(QStringLiteral("QNAliasCheck: %1, but it is there").arg(why));
                self->makeMarker(index + 1);
                return;
            }
            self->markerIsGone(index);
            self->removeMarkers(Answer::NotMade, why);
        }));
}

void QNAliasCheck::listSource(int index) {
    if (index >= m_lookIn.size()) {
        confirmMarker(0);
        return;
    }
    auto self = shared_from_this();
    run(std::make_shared<QNListDocumentsOperation>(
        m_sourceDrive, m_lookIn.at(index), QString(),
        [self, index](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (error) {
                self->removeMarkers(Answer::Unknown,
                                    QStringLiteral("\u201c%1\u201d could not be listed: %2")
                                        .arg(QNUtils::shownFolderPath(*self->m_lookIn.at(index)), QNErrorWrapper::textOf(error)));
                return;
            }
            const int shown = self->shownMarker(documents);
            if (shown >= 0) {
                {
                    std::lock_guard lock(self->m_mutex);
                    self->m_sameNamesake = shown;
                    self->m_sameSource = index;
                }
                self->removeMarkers(Answer::Same, QString());
                return;
            }
            self->listSource(index + 1);
        }));
}

int QNAliasCheck::shownMarker(const QNDocumentList &documents) const {
    for (const auto &document : documents) {
        if (!document)
            continue;
        const auto found = m_markerIndex.constFind(nameIn(document));
        if (found != m_markerIndex.constEnd())
            return found.value();
    }
    return -1;
}

bool QNAliasCheck::shows(const QNDocumentList &documents, int index) const {
    const QString &name = m_markers[index].name;
    for (const auto &document : documents)
        if (document && nameIn(document) == name)
            return true;
    return false;
}

void QNAliasCheck::confirmMarker(int index) {
    if (index >= int(m_markers.size())) {
        removeMarkers(Answer::Apart, QString());
        return;
    }
    // Not seen in the source: apart only when the listing of its own folder
    // shows it (a server may leave some names out of its listings).
    auto self = shared_from_this();
    run(std::make_shared<QNListDocumentsOperation>(
        m_namesakeDrive, m_markers[index].folder, QString(),
        [self, index](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();
                return;
            }
            if (error || !self->shows(documents, index)) {
                self->removeMarkers(Answer::Unknown,
                                    QStringLiteral("The check folder \u201c%1\u201d does not show in the listing of "
                                                   "\u201c%2\u201d%3.")
                                        .arg(self->markerDocument(index)->path(), self->folderPath(index),
                                             error ? QStringLiteral(": ") + QNErrorWrapper::textOf(error) : QString()));
                return;
            }
            self->confirmMarker(index + 1);
        }));
}

void QNAliasCheck::removeMarkers(Answer answer, const QString &why) {
    {
        std::lock_guard lock(m_mutex);
        m_answer = answer;
        m_why = why;
    }
    removeMarker(0);
}

void QNAliasCheck::removeMarker(int index) {
    bool mayExist = false;
    if (index < int(m_markers.size())) {
        std::lock_guard lock(m_mutex);
        mayExist = m_markers[index].mayExist;
    }
    if (index >= int(m_markers.size())) {
        Answer answer;
        QString why, left;
        {
            std::lock_guard lock(m_mutex);
            answer = m_answer;
            why = m_why;
            left = m_leftOver.join(QLatin1Char(' '));
        }
        finish(answer, why, left);
        return;
    }
    if (!mayExist) {
        removeMarker(index + 1);
        return;
    }
    auto self = shared_from_this();
    run(std::make_shared<QNRemoveOperation>(
        m_namesakeDrive, markerDocument(index), [self, index](QNDocumentPtr, VNErrorPtr removeError, bool cancelled) {
            self->answered();
            if (cancelled) {
                self->endCancelled();  // it may still be there
                return;
            }
            if (!removeError) {
                self->markerIsGone(index);
                self->removeMarker(index + 1);
                return;
            }
            // Refused, or gone with its answer lost: its folder tells.
            const QString removeText = QNErrorWrapper::textOf(removeError);
            self->run(std::make_shared<QNListDocumentsOperation>(
                self->m_namesakeDrive, self->m_markers[index].folder, QString(),
                [self, index, removeText](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
                    self->answered();
                    if (cancelled) {
                        self->endCancelled();
                        return;
                    }
                    {
                        std::lock_guard lock(self->m_mutex);
                        if (error)
                            self->m_leftOver << self->mayBeLeftText(index, removeText, QNErrorWrapper::textOf(error));
                        else if (self->shows(documents, index))
                            self->m_leftOver << self->leftText(index, removeText);
                        else
                            self->m_markers[index].mayExist = false;
                    }
                    self->removeMarker(index + 1);
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
        m_standing = nullptr;
        m_step = nullptr;
        if (answer == Answer::Same) {
            outcome.namesake = m_sameNamesake;
            outcome.source = m_sameSource;
        }
    }
    if (!outcome.leftOver.isEmpty())
        VNLog::log(QStringLiteral("QNAliasCheck: %1").arg(outcome.leftOver));
    if (finished)
        finished(outcome);
}
