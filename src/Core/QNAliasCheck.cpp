#include "Core/QNAliasCheck.h"

#include "Core/QNCreateFolderOperation.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNLocalNamesake.h"
#include "Core/QNMadeFoldersRemoval.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"


namespace {

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

bool allHave(const QList<QNDocumentPtr> &documents, bool ids) {
    for (const auto &document : documents)
        if (!document || (ids ? document->id().isEmpty() : document->path().isEmpty()))
            return false;
    return !documents.isEmpty();
}

QString pathOf(const QNDocumentPtr &document) {
    return QNUtils::withoutTrailingSlashes(document->path());
}

QString sentence(QString text) {
    text = text.trimmed();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

QString errorText(const VNErrorPtr &error) {
    return QNErrorWrapper::reasonOf(error);
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

QNAliasCheck::QNAliasCheck(Side here, Side there, Ask ask)
    : m_here(std::move(here)), m_there(std::move(there)), m_ask(ask) {}

std::shared_ptr<QNAliasCheck> QNAliasCheck::standing(QNDriveConfigPtr hereDrive, QNDriveConfigPtr thereDrive,
                                                     QNDocumentPtr dropTarget, QNDocumentPtr tree) {
    Side here{std::move(hereDrive), {}};
    if (tree)
        here.folders << tree;
    Side there{std::move(thereDrive), {}};
    if (dropTarget)
        there.folders << dropTarget;
    auto check = std::make_shared<QNAliasCheck>(std::move(here), std::move(there), Ask::WhetherOne);
    check->m_standingMode = true;
    return check;
}

QString QNAliasCheck::key() const {
    QStringList parts{m_ask == Ask::WhetherApart ? QStringLiteral("apart") : QStringLiteral("one")};
    for (const Side *side : {&m_here, &m_there}) {
        parts << (side->drive ? side->drive->driveConfigId() : QString());
        for (const auto &folder : side->folders)
            parts << (!folder ? QString() : !folder->id().isEmpty() ? QStringLiteral("#") + folder->id() : pathOf(folder));
    }
    return parts.join(QChar(0));
}

bool QNAliasCheck::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

QString QNAliasCheck::shownFolder(bool onHere, int folder) const {
    const auto &folders = sideOf(onHere).folders;
    return folder >= 0 && folder < folders.size() && folders.at(folder) ? QNUtils::shownFolderPath(*folders.at(folder))
                                                                         : QStringLiteral("/");
}

void QNAliasCheck::start(Finished finished) {
    start(std::move(finished), nullptr);
}

void QNAliasCheck::start(Finished finished, std::function<void()> standing) {
    bool cancelled = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_started)
            return;
        m_started = true;
        m_finished = std::move(finished);
        m_standingCallback = std::move(standing);
        cancelled = m_cancelled;
    }
    if (cancelled) {
        cleanUp(Answer::CannotTell);  // nothing made: answers cancelled at once
        return;
    }
    if (answeredAtOnce())
        return;
    planMarkers();
    makeMarker(0);
}

bool QNAliasCheck::answeredAtOnce() {
    if (!m_here.drive || !m_there.drive || !mayBeOneStorage(m_here.drive, m_there.drive)) {
        cleanUp(Answer::Apart);
        return true;
    }
    if (m_here.folders.isEmpty() || m_there.folders.isEmpty()) {
        cleanUp(Answer::CannotTell, QStringLiteral("There is no folder to look in."));
        return true;
    }
    if (answeredByIds() || answeredByIdentity())
        return true;
    if (!allHave(m_here.folders, false) || !allHave(m_there.folders, false)) {
        cleanUp(Answer::CannotTell, QStringLiteral("The drive names its folders by id alone, so no check folder can "
                                                   "be looked for."));
        return true;
    }
    if (m_standingMode)
        return false;
    // One drive, one path: one folder, whatever else may be.
    if (m_here.drive->driveConfigId() == m_there.drive->driveConfigId())
        for (int i = 0; i < m_here.folders.size(); ++i)
            for (int j = 0; j < m_there.folders.size(); ++j)
                if (pathOf(m_here.folders.at(i)) == pathOf(m_there.folders.at(j))) {
                    cleanUp(Answer::OneStorage, QString(), i, j);
                    return true;
                }
    return false;
}

bool QNAliasCheck::answeredByIds() {
    const QString service = webService(*m_here.drive);
    if (service.isEmpty() || service != webService(*m_there.drive) || !allHave(m_here.folders, true) ||
        !allHave(m_there.folders, true))
        return false;
    m_way = Way::Ids;
    if (m_standingMode) {
        standNow();
        return true;
    }
    // A web service gives each item one id, wherever it shows.
    auto ids = [](const QList<QNDocumentPtr> &folders) {
        QStringList keys;
        for (const auto &folder : folders)
            keys << folder->id();
        return keys;
    };
    answerByKeys(ids(m_here.folders), ids(m_there.folders));
    return true;
}

// A standing check is ready: from now on the tree's listings are looked at.
void QNAliasCheck::standNow() {
    std::function<void()> standing;
    {
        std::lock_guard lock(m_mutex);
        m_standingNow = true;
        standing = std::move(m_standingCallback);
    }
    if (standing)
        standing();
}

void QNAliasCheck::answerByKeys(const QStringList &here, const QStringList &there) {
    QHash<QString, int> heres;
    for (int i = 0; i < here.size(); ++i)
        if (!here.at(i).isEmpty() && !heres.contains(here.at(i)))
            heres.insert(here.at(i), i);
    for (int j = 0; j < there.size(); ++j) {
        const auto found = heres.constFind(there.at(j));
        if (!there.at(j).isEmpty() && found != heres.constEnd()) {
            cleanUp(Answer::OneStorage, QString(), found.value(), j);
            return;
        }
    }
    cleanUp(Answer::Apart);
}

bool QNAliasCheck::answeredByIdentity() {
    if (!m_here.drive->isMyFiles() || !m_there.drive->isMyFiles() || !allHave(m_here.folders, false) ||
        !allHave(m_there.folders, false))
        return false;
    // Every pair must be told by its numbers; else all are asked by check folders.
    for (const auto &a : m_here.folders)
        for (const auto &b : m_there.folders)
            if (!QNLocalNamesake::identityTells(pathOf(a), pathOf(b)))
                return false;
    m_way = Way::Identity;
    if (m_standingMode) {
        ino_t inode = 0;
        dev_t device = 0;
        QNLocalNamesake::identityOf(pathOf(m_there.folders.front()), &device, &inode);
        {
            std::lock_guard lock(m_mutex);
            m_targetDevice = device;
            m_targetInode = inode;
        }
        standNow();
        return true;
    }
    // One device and inode is one folder, whatever paths lead to it.
    auto identities = [](const QList<QNDocumentPtr> &folders) {
        QStringList keys;
        for (const auto &folder : folders) {
            dev_t device = 0;
            ino_t inode = 0;
            keys << (QNLocalNamesake::identityOf(pathOf(folder), &device, &inode)
                         ? QStringLiteral("%1:%2").arg(quint64(device)).arg(quint64(inode))
                         : QString());
        }
        return keys;
    };
    answerByKeys(identities(m_here.folders), identities(m_there.folders));
    return true;
}

void QNAliasCheck::planMarkers() {
    // One stem per check: the names of a folder's check folders differ only
    // in their ends, the second side's ("a") sorting before the first's ("b").
    const QString stem = QStringLiteral("varnello-check-") +
                         QNUtils::uuidString().toLower().remove(QLatin1Char('-')).left(16) + QLatin1Char('-');
    auto add = [&](bool onHere, int folder) {
        Marker marker;
        marker.onHere = onHere;
        marker.folder = folder;
        // Not a dot name: some servers leave those out of their listings.
        marker.name = stem + (onHere ? QLatin1Char('b') : QLatin1Char('a')) + QString::number(folder + 1);
        const auto &holder = sideOf(onHere).folders.at(folder);
        marker.document = QNDocument::withPath(QNUtils::joinedPath(holder->path(), marker.name), true);
        m_markerIndex.insert(marker.name, int(m_markers.size()));
        m_markers.push_back(std::move(marker));
    };
    for (int j = 0; j < m_there.folders.size(); ++j)
        add(false, j);
    if (m_ask == Ask::WhetherApart)
        for (int i = 0; i < m_here.folders.size(); ++i)
            add(true, i);
    // The first side's folders show the second side's check folders; asked
    // whether apart, the second side's show the first's too.
    for (int i = 0; i < m_here.folders.size(); ++i)
        m_looks.push_back({true, i});
    if (m_ask == Ask::WhetherApart)
        for (int j = 0; j < m_there.folders.size(); ++j)
            m_looks.push_back({false, j});
    m_ownShown.assign(m_looks.size(), false);
}

void QNAliasCheck::makeMarker(int index) {
    if (isCancelled()) {
        cleanUp(Answer::CannotTell);
        return;
    }
    if (index >= int(m_markers.size())) {
        if (!m_standingMode) {
            list(0);
            return;
        }
        standNow();
        return;
    }
    const Marker &marker = m_markers[index];
    const auto &side = sideOf(marker.onHere);
    {
        std::lock_guard lock(m_mutex);
        m_markers[index].mayExist = true;  // from now on it may be there, whatever the answer says
    }
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNCreateFolderOperation>(
        side.drive, marker.name, side.folders.at(marker.folder),
        [self, index](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (self->m_progress)
                self->m_progress();
            if (error || cancelled) {
                const Marker &marker = self->m_markers[index];
                self->cleanUp(Answer::CannotTell,
                              QStringLiteral("The check folder \u201c%1\u201d could not be made in \u201c%2\u201d (%3).")
                                  .arg(marker.name, self->shownFolder(marker.onHere, marker.folder),
                                       error ? errorText(error) : QStringLiteral("it was cancelled")));
                return;
            }
            self->makeMarker(index + 1);
        }));
}

void QNAliasCheck::list(int index) {
    if (isCancelled()) {
        cleanUp(Answer::CannotTell);
        return;
    }
    if (index >= int(m_looks.size())) {
        if (m_ask == Ask::WhetherOne) {
            cleanUp(Answer::CannotTell);
            return;
        }
        for (size_t k = 0; k < m_looks.size(); ++k) {
            if (m_ownShown[k])
                continue;
            const Look &look = m_looks[k];
            cleanUp(Answer::CannotTell,
                    QStringLiteral("The listing of \u201c%1\u201d did not show the check folder just made in it, so "
                                   "it may be out of date or cut short.")
                        .arg(shownFolder(look.onHere, look.folder)));
            return;
        }
        cleanUp(Answer::Apart);
        return;
    }
    const Look look = m_looks[index];
    const auto &side = sideOf(look.onHere);
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
        side.drive, side.folders.at(look.folder), QString(),
        [self, index, look](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            if (self->m_progress)
                self->m_progress();
            if (error || cancelled) {
                self->cleanUp(Answer::CannotTell,
                              QStringLiteral("\u201c%1\u201d could not be listed (%2).")
                                  .arg(self->shownFolder(look.onHere, look.folder),
                                       error ? errorText(error) : QStringLiteral("it was cancelled")));
                return;
            }
            self->listed(index, listing);
        }));
}

void QNAliasCheck::listed(int index, const QNDocumentList &listing) {
    const Look &look = m_looks[index];
    // One look-up per listed name, however many check folders there are.
    for (const auto &entry : listing) {
        if (!entry)
            continue;
        const auto found = m_markerIndex.constFind(QNUtils::nameOf(*entry));
        if (found == m_markerIndex.constEnd())
            continue;
        const Marker &marker = m_markers[found.value()];
        if (marker.onHere != look.onHere) {
            // A check folder made through the other drive shows here: one folder.
            const int here = look.onHere ? look.folder : marker.folder;
            const int there = look.onHere ? marker.folder : look.folder;
            VNLog::log(QStringLiteral("QNAliasCheck: \u201c%1\u201d shows the check folder made in \u201c%2\u201d")
                           .arg(shownFolder(look.onHere, look.folder), shownFolder(marker.onHere, marker.folder)));
            cleanUp(Answer::OneStorage, QString(), here, there);
            return;
        }
        if (marker.folder == look.folder)
            m_ownShown[index] = true;
    }
    list(index + 1);
}

bool QNAliasCheck::sightedIn(const QNDocumentPtr &folder, const QNDocumentList &listing) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_standingNow)
            return false;
        if (m_sighted)
            return true;
    }
    bool sighted = false;
    switch (m_way) {
    case Way::Identity: {
        dev_t device = 0;
        ino_t inode = 0;
        sighted = folder && QNLocalNamesake::identityOf(pathOf(folder), &device, &inode) &&
                  device == m_targetDevice && inode == m_targetInode;
        break;
    }
    case Way::Ids:
        sighted = folder && !folder->id().isEmpty() && folder->id() == m_there.folders.front()->id();
        break;
    case Way::Markers:
        for (const auto &entry : listing)
            if (entry && m_markerIndex.contains(QNUtils::nameOf(*entry))) {
                sighted = true;
                break;
            }
        break;
    }
    if (sighted) {
        std::lock_guard lock(m_mutex);
        m_sighted = true;
    }
    return sighted;
}

void QNAliasCheck::treeListed(std::function<void()> ended) {
    bool sighted = false;
    {
        std::unique_lock lock(m_mutex);
        if (ended) {
            if (m_hasAnswered) {
                lock.unlock();
                ended();
                lock.lock();
            } else {
                m_whenAnswered = std::move(ended);
            }
        }
        if (!m_standingNow)
            return;
        m_standingNow = false;
        sighted = m_sighted;
    }
    if (sighted)
        cleanUp(Answer::OneStorage, QString(), 0, 0);
    else
        cleanUp(m_way == Way::Markers ? Answer::CannotTell : Answer::Apart);
}

void QNAliasCheck::cancel() {
    bool standingNow = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
        // Not started: start() answers. A request under way: its answer goes on to the clean-up.
        standingNow = m_standingNow;
        m_standingNow = false;
    }
    if (standingNow)
        cleanUp(Answer::CannotTell);  // no request would come back to end it
}

void QNAliasCheck::cleanUp(Answer answer, const QString &why, int here, int there) {
    Outcome outcome;
    QList<QNDocumentPtr> hereMade, thereMade;
    {
        std::lock_guard lock(m_mutex);
        if (m_ending)
            return;
        m_ending = true;
        m_standingNow = false;
        outcome.cancelled = m_cancelled;
        for (const auto &marker : m_markers)
            if (marker.mayExist)
                (marker.onHere ? hereMade : thereMade) << marker.document;
    }
    if (!outcome.cancelled) {
        outcome.answer = answer;
        outcome.why = sentence(why);
        outcome.here = here;
        outcome.there = there;
    }
    if (hereMade.isEmpty() && thereMade.isEmpty()) {
        finish(outcome);
        return;
    }
    auto self = shared_from_this();
    auto removeHere = [self, outcome, hereMade](const QStringList &leftThere) mutable {
        outcome.leftOver = leftThere;
        if (hereMade.isEmpty()) {
            self->finish(outcome);
            return;
        }
        auto removal = std::make_shared<QNMadeFoldersRemoval>(self->m_here.drive, hereMade,
                                                              QNMadeFoldersRemoval::Kind::CheckFolders);
        removal->setProgress(self->m_progress);
        removal->start([self, outcome](const QStringList &leftHere) mutable {
                outcome.leftOver += leftHere;
                self->finish(outcome);
            });
    };
    if (thereMade.isEmpty()) {
        removeHere({});
        return;
    }
    auto removal =
        std::make_shared<QNMadeFoldersRemoval>(m_there.drive, thereMade, QNMadeFoldersRemoval::Kind::CheckFolders);
    removal->setProgress(m_progress);
    removal->start(removeHere);
}

void QNAliasCheck::finish(const Outcome &outcome) {
    Finished finished;
    {
        std::lock_guard lock(m_mutex);
        finished = std::move(m_finished);
        m_finished = nullptr;
        m_standingCallback = nullptr;
    }
    if (!outcome.leftOver.isEmpty())
        VNLog::log(QStringLiteral("QNAliasCheck: %1").arg(outcome.leftOver.join(QLatin1Char(' '))));
    if (finished)
        finished(outcome);
    std::function<void()> answered;
    {
        std::lock_guard lock(m_mutex);
        m_hasAnswered = true;
        answered = std::move(m_whenAnswered);
        m_whenAnswered = nullptr;
    }
    if (answered)
        answered();
}
