#include "Core/Fakes/QNFakeRemoteHandler.h"

#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNDispatch.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <map>
#include <vector>
#include <set>
#include <mutex>

namespace {

const QString kScheme = QStringLiteral("fake://");
const QString kFactoryName = QStringLiteral("QNFakeRemoteHandler");

struct Registry {
    std::mutex mutex;
    std::map<std::pair<QString, int>, QNFakeRemoteHandler::Behaviour> behaviours;
    std::map<int, int> counts;
    std::vector<std::function<void()>> held;  // HeldUntilReleased calls
    int offMain = 0;
    int cancels = 0;
    int temporaryNameUploads = 0;
    bool addressesFoldersById = false;
    bool renameAnswersWithTheDocument = false;
    bool uploadAnswersWithTheFolder = false;
    std::set<QString> foldingRoots;  // "" for every drive
    QStringList hiddenNamePrefixes;
    int listingCap = 0;                 // 0: every entry
    QStringList foldersWithoutNewFolders;  // local folders in which no folder is made
    std::set<QString> cachingRoots;     // drives whose listings come from a cache
    std::map<QString, QStringList> cachedListings;  // root + drive path -> names, as first listed
};

Registry &registry() {
    static Registry *r = new Registry;
    return *r;
}

QString cacheKey(const QString &root, const QString &drivePath) {
    return root + QChar(0) + QDir::cleanPath(QStringLiteral("/") + drivePath);
}

// A folder's cached listing takes what the drive itself wrote in it, as a
// caching mount does; what was written by other ways stays unseen.
void noteOwnWrite(const QString &root, const QString &drivePath, bool added) {
    std::lock_guard lock(registry().mutex);
    auto &r = registry();
    if (!r.cachingRoots.count(root))
        return;
    const QString cleaned = QDir::cleanPath(QStringLiteral("/") + drivePath);
    const QString parent = cleaned.section(QLatin1Char('/'), 0, -2);
    const auto found = r.cachedListings.find(cacheKey(root, parent.isEmpty() ? QStringLiteral("/") : parent));
    if (found == r.cachedListings.end())
        return;
    const QString name = cleaned.section(QLatin1Char('/'), -1);
    found->second.removeAll(name);
    if (added)
        found->second.append(name);
}


bool foldsCase(const QString &root) {
    std::lock_guard lock(registry().mutex);
    const auto &roots = registry().foldingRoots;
    return roots.count(QString()) || roots.count(root);
}

// The local path of a cleaned drive path below base, each step matched
// without regard to case when no entry has its exact name.
QString foldedPath(const QString &base, const QString &cleaned) {
    QString at = base;
    for (const QString &part : cleaned.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        QString next = at + QLatin1Char('/') + part;
        const QFileInfo exact(next);
        if (!exact.exists() && !exact.isSymLink()) {
            const QStringList names =
                QDir(at.isEmpty() ? QStringLiteral("/") : at)
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            for (const QString &name : names) {
                if (name.compare(part, Qt::CaseInsensitive) == 0) {
                    next = at + QLatin1Char('/') + name;
                    break;
                }
            }
        }
        at = next;
    }
    return at.isEmpty() ? QStringLiteral("/") : at;
}

QNFakeRemoteHandler::Behaviour behaviourFor(QNFakeRemoteHandler::Op op, const QString &root) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.behaviours.find({root, static_cast<int>(op)});
    if (it != r.behaviours.end())
        return it->second;
    it = r.behaviours.find({QString(), static_cast<int>(op)});
    return it != r.behaviours.end() ? it->second : QNFakeRemoteHandler::Behaviour();
}

// The behaviour of this call: a call among the first ones answers.
QNFakeRemoteHandler::Behaviour takeBehaviour(QNFakeRemoteHandler::Op op, const QString &root) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.behaviours.find({root, static_cast<int>(op)});
    if (it == r.behaviours.end())
        it = r.behaviours.find({QString(), static_cast<int>(op)});
    if (it == r.behaviours.end())
        return QNFakeRemoteHandler::Behaviour();
    QNFakeRemoteHandler::Behaviour behaviour = it->second;
    if (it->second.answersFirst > 0) {
        --it->second.answersFirst;
        behaviour.mode = QNFakeRemoteHandler::Mode::Answer;
    }
    return behaviour;
}

QString lastComponent(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString joinDrivePath(const QString &folder, const QString &name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Copies a file in steps, reporting progress; false on any failure.
bool copyWithProgress(const QString &from, const QString &to, qint64 step, const QNProgressCallback &progress) {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qint64 total = in.size();
    qint64 done = 0;
    for (;;) {
        const QByteArray chunk = in.read(std::max<qint64>(step, 1));
        if (chunk.isEmpty())
            break;
        if (out.write(chunk) != chunk.size())
            return false;
        done += chunk.size();
        if (progress && total > 0)
            progress(static_cast<double>(done) / static_cast<double>(total));
    }
    if (progress)
        progress(1.0);
    return in.error() == QFile::NoError && out.flush();
}

bool copyTree(const QString &from, const QString &to) {
    QFileInfo info(from);
    if (!info.isDir())
        return QFile::copy(from, to);
    if (!QDir().mkdir(to))
        return false;
    QDir dir(from);
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        if (!copyTree(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name))
            return false;
    return true;
}

QNDocumentPtr documentFor(const QString &drivePath, const QFileInfo &info) {
    auto doc = QNDocument::create();
    doc->setPath(drivePath);
    doc->setDisplayName(lastComponent(drivePath));
    doc->setIsDirectory(info.isDir());
    doc->setId(QStringLiteral("fake-id:") + drivePath);
    doc->setSize(info.isDir() ? 0 : info.size());
    doc->setDate(info.lastModified());
    return doc;
}

}  // namespace

QNFakeRemoteHandler::QNFakeRemoteHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

void QNFakeRemoteHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(
        kFactoryName, [](const QNDriveConfig &c) { return c.url().startsWith(kScheme); },
        [](const QNDriveConfigPtr &c) { return std::make_shared<QNFakeRemoteHandler>(c); });
}

QNDriveConfigPtr QNFakeRemoteHandler::makeDriveConfig(const QString &rootFolder, const QString &username) {
    QDir().mkpath(rootFolder);
    auto config = QNDriveConfig::create();
    config->setUrl(kScheme + QDir(rootFolder).absolutePath());
    config->setUsername(username);
    config->setDisplayName(QStringLiteral("Fake drive"));
    return config;
}

QString QNFakeRemoteHandler::rootFolderOf(const QNDriveConfig &config) {
    const QString url = config.url();
    if (!url.startsWith(kScheme))
        return QString();
    // "fake://host/folder" plays a drive of that host.
    const QString rest = url.mid(kScheme.size());
    return rest.startsWith(QLatin1Char('/')) ? rest : rest.mid(rest.indexOf(QLatin1Char('/')));
}

void QNFakeRemoteHandler::setBehaviour(Op op, Behaviour behaviour, const QString &rootFolder) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    const QString key = rootFolder.isEmpty() ? QString() : QDir(rootFolder).absolutePath();
    r.behaviours[{key, static_cast<int>(op)}] = std::move(behaviour);
}

void QNFakeRemoteHandler::resetBehaviours() {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    r.behaviours.clear();
    r.counts.clear();
    r.offMain = 0;
    r.cancels = 0;
    r.temporaryNameUploads = 0;
    r.addressesFoldersById = false;
    r.renameAnswersWithTheDocument = false;
    r.uploadAnswersWithTheFolder = false;
    r.foldingRoots.clear();
    r.hiddenNamePrefixes.clear();
    r.held.clear();
    r.listingCap = 0;
    r.foldersWithoutNewFolders.clear();
    r.cachingRoots.clear();
    r.cachedListings.clear();
}

void QNFakeRemoteHandler::setMakesNoFolderIn(const QString &localFolder) {
    std::lock_guard lock(registry().mutex);
    registry().foldersWithoutNewFolders << QDir::cleanPath(localFolder);
}

void QNFakeRemoteHandler::setListingCap(int entries) {
    std::lock_guard lock(registry().mutex);
    registry().listingCap = entries;
}

void QNFakeRemoteHandler::setCachesListings(const QString &rootFolder) {
    std::lock_guard lock(registry().mutex);
    registry().cachingRoots.insert(QDir(rootFolder).absolutePath());
}

int QNFakeRemoteHandler::heldCallCount() {
    std::lock_guard lock(registry().mutex);
    return int(registry().held.size());
}

void QNFakeRemoteHandler::releaseHeldCalls() {
    std::vector<std::function<void()>> held;
    {
        std::lock_guard lock(registry().mutex);
        held.swap(registry().held);
    }
    for (auto &call : held)
        VNDispatch::mainAsync(std::move(call));
}

void QNFakeRemoteHandler::setHiddenNamePrefix(const QString &prefix) {
    std::lock_guard lock(registry().mutex);
    registry().hiddenNamePrefixes.clear();
    if (!prefix.isEmpty())
        registry().hiddenNamePrefixes << prefix;
}

void QNFakeRemoteHandler::addHiddenNamePrefix(const QString &prefix) {
    std::lock_guard lock(registry().mutex);
    registry().hiddenNamePrefixes << prefix;
}

void QNFakeRemoteHandler::setUploadAnswersWithTheFolder(bool on) {
    std::lock_guard lock(registry().mutex);
    registry().uploadAnswersWithTheFolder = on;
}

void QNFakeRemoteHandler::setRenameAnswersWithTheDocument(bool on) {
    std::lock_guard lock(registry().mutex);
    registry().renameAnswersWithTheDocument = on;
}

void QNFakeRemoteHandler::setFoldsCase(bool on, const QString &rootFolder) {
    const QString key = rootFolder.isEmpty() ? QString() : QDir(rootFolder).absolutePath();
    std::lock_guard lock(registry().mutex);
    if (on)
        registry().foldingRoots.insert(key);
    else
        registry().foldingRoots.erase(key);
}

void QNFakeRemoteHandler::setAddressesFoldersById(bool on) {
    std::lock_guard lock(registry().mutex);
    registry().addressesFoldersById = on;
}

int QNFakeRemoteHandler::callCount(Op op) {
    std::lock_guard lock(registry().mutex);
    return registry().counts[static_cast<int>(op)];
}

int QNFakeRemoteHandler::offMainThreadCalls() {
    std::lock_guard lock(registry().mutex);
    return registry().offMain;
}

int QNFakeRemoteHandler::temporaryNameUploadCount() {
    std::lock_guard lock(registry().mutex);
    return registry().temporaryNameUploads;
}

int QNFakeRemoteHandler::cancelCount() {
    std::lock_guard lock(registry().mutex);
    return registry().cancels;
}

QString QNFakeRemoteHandler::root() const {
    auto config = driveConfig();
    return config ? rootFolderOf(*config) : QString();
}

QString QNFakeRemoteHandler::localPath(const QString &drivePath, VNErrorPtr *error) const {
    const QString base = root();
    const QString cleaned = QDir::cleanPath(QStringLiteral("/") + drivePath);
    if (!drivePath.startsWith(QLatin1Char('/')) || cleaned.contains(QLatin1String("/../")) ||
        cleaned.endsWith(QLatin1String("/.."))) {
        if (error)
            *error = makeError(QStringLiteral("Bad path \"%1\".").arg(drivePath));
        return {};
    }
    // A drive opened in a main window keeps only "fake://" (the rest of its
    // url became its root folder's path): its drive paths are local paths.
    if (foldsCase(base))
        return foldedPath(base, cleaned);
    if (base.isEmpty())
        return cleaned;
    return cleaned == QLatin1String("/") ? base : base + cleaned;
}

void QNFakeRemoteHandler::schedule(Op op, std::function<void(VNErrorPtr)> work, std::function<void()> cancelledAnswer) {
    {
        auto &r = registry();
        std::lock_guard lock(r.mutex);
        ++r.counts[static_cast<int>(op)];
        if (!VNDispatch::isMainThread())
            ++r.offMain;
    }
    const Behaviour b = takeBehaviour(op, root());
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    switch (b.mode) {
        case Mode::NeverAnswer:
            return;
        case Mode::AnswerAfterCancel:
            m_heldAnswer = [work] { work(nullptr); };
            m_heldDelayMs = b.delayMs;
            return;
        case Mode::CancelledOnCancel:
            m_heldAnswer = cancelledAnswer;
            return;
        case Mode::HeldUntilReleased: {
            // Its work is done once released, whatever the handler was told.
            auto &r = registry();
            std::lock_guard lock(r.mutex);
            r.held.push_back([work] { work(nullptr); });
            return;
        }
        case Mode::Answer:
        case Mode::Fail:
        case Mode::FailAfterWork:
            break;
    }
    auto run = [self, b, work, cancelledAnswer] {
        if (self->isCancelled()) {
            cancelledAnswer();
            return;
        }
        work(b.mode == Mode::Fail ? self->makeError(b.failMessage) : nullptr);
    };
    if (b.delayMs > 0)
        VNDispatch::mainAfter(b.delayMs, run);
    else
        VNDispatch::mainAsync(run);
}

void QNFakeRemoteHandler::cancel() {
    QNCloudInterface::cancel();
    {
        auto &r = registry();
        std::lock_guard lock(r.mutex);
        ++r.cancels;
    }
    if (auto held = std::move(m_heldAnswer)) {
        m_heldAnswer = nullptr;
        if (m_heldDelayMs > 0)
            VNDispatch::mainAfter(m_heldDelayMs, held);
        else
            VNDispatch::mainAsync(held);
    }
}

void QNFakeRemoteHandler::login(QNLoginCallback completed) {
    schedule(
        Op::Login, [completed](VNErrorPtr failure) { completed(!failure, failure, false); },
        [completed] { completed(false, nullptr, true); });
}

void QNFakeRemoteHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    const QString drivePath = folder ? folder->path() : QStringLiteral("/");
    bool byId;
    {
        std::lock_guard lock(registry().mutex);
        byId = registry().addressesFoldersById;
    }
    // The drive's own top folder (its path, or the path a main window opened
    // it at) needs no id.
    auto config = driveConfig();
    const QString top = config && !config->initialUrlPath().isEmpty() ? QDir::cleanPath(config->initialUrlPath())
                                                                      : QStringLiteral("/");
    const QString cleaned = QDir::cleanPath(drivePath);
    const bool withoutId = byId && cleaned != QLatin1String("/") && cleaned != top && (!folder || folder->id().isEmpty());
    schedule(
        Op::List,
        [self, drivePath, searchKeyword, completed, withoutId](VNErrorPtr failure) {
            VNErrorPtr error = failure;
            if (!error && withoutId)
                error = self->makeError(QStringLiteral("No folder id for \"%1\".").arg(drivePath));
            const QString local = error ? QString() : self->localPath(drivePath, &error);
            if (!error && !QFileInfo(local).isDir())
                error = self->makeError(QStringLiteral("No folder \"%1\".").arg(drivePath));
            if (error) {
                completed({}, searchKeyword, error, false);
                return;
            }
            QStringList hidden;
            int cap = 0;
            QStringList names = QDir(local).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
            {
                std::lock_guard lock(registry().mutex);
                auto &r = registry();
                hidden = r.hiddenNamePrefixes;
                cap = r.listingCap;
                const QString root = self->root();
                if (r.cachingRoots.count(root)) {
                    const QString key = cacheKey(root, drivePath);
                    const auto found = r.cachedListings.find(key);
                    if (found == r.cachedListings.end())
                        r.cachedListings[key] = names;
                    else
                        names = found->second;
                }
            }
            QNDocumentList docs;
            for (const QString &name : names) {
                if (cap > 0 && docs.size() >= cap)
                    break;
                const bool isHidden = std::any_of(hidden.cbegin(), hidden.cend(),
                                                  [&name](const QString &prefix) { return name.startsWith(prefix); });
                if (!isHidden)
                    docs.append(documentFor(joinDrivePath(drivePath, name), QFileInfo(local + QLatin1Char('/') + name)));
            }
            completed(docs, searchKeyword, nullptr, false);
        },
        [searchKeyword, completed] { completed({}, searchKeyword, nullptr, true); });
}

void QNFakeRemoteHandler::answerDocument(Op op, QNDocumentCallback completed,
                                         std::function<QNDocumentPtr(VNErrorPtr &)> work) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    const bool replyLost = behaviourFor(op, root()).mode == Mode::FailAfterWork;
    schedule(
        op,
        [self, completed, work, replyLost](VNErrorPtr failure) {
            VNErrorPtr error = failure;
            QNDocumentPtr doc = error ? nullptr : work(error);
            if (replyLost && !error)
                error = self->makeError(QStringLiteral("The connection was lost before the server answered."));
            completed(error ? nullptr : doc, error, false);
        },
        [completed] { completed(nullptr, nullptr, true); });
}

void QNFakeRemoteHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                   QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    const QString drivePath = document ? document->path() : QString();
    const qint64 step = behaviourFor(Op::Download, root()).progressStep;
    answerDocument(Op::Download, completed, [self, drivePath, destPath, progress, step](VNErrorPtr &error) {
        const QString local = self->localPath(drivePath, &error);
        if (!error && (!destPath || !copyWithProgress(local, destPath->path(), step, progress)))
            error = self->makeError(QStringLiteral("Download of \"%1\" failed.").arg(drivePath));
        if (!error)
            destPath->setDisplayName(lastComponent(destPath->path()));
        return destPath;
    });
}

void QNFakeRemoteHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                 QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    const QString source = document ? document->path() : QString();
    const QString drivePath = joinDrivePath(destPath ? destPath->path() : QString(), lastComponent(source));
    const qint64 step = behaviourFor(Op::Upload, root()).progressStep;
    bool answersWithTheFolder;
    {
        std::lock_guard lock(registry().mutex);
        answersWithTheFolder = registry().uploadAnswersWithTheFolder;
    }
    answerDocument(Op::Upload, completed,
                   [self, source, drivePath, progress, step, destPath, answersWithTheFolder](VNErrorPtr &error) {
                       const QString local = self->localPath(drivePath, &error);
                       if (!error && !copyWithProgress(source, local, step, progress))
                           error = self->makeError(QStringLiteral("Upload of \"%1\" failed.").arg(source));
                       if (!error)
                           noteOwnWrite(self->root(), drivePath, true);
                       return answersWithTheFolder ? destPath : documentFor(drivePath, QFileInfo(local));
                   });
}

void QNFakeRemoteHandler::uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath,
                                                   QNProgressCallback progress, QNDocumentCallback completed) {
    {
        std::lock_guard lock(registry().mutex);
        ++registry().temporaryNameUploads;
    }
    upload(std::move(document), std::move(destPath), std::move(progress), std::move(completed));
}

void QNFakeRemoteHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    const QString drivePath = joinDrivePath(destPath ? destPath->path() : QStringLiteral("/"), name);
    answerDocument(Op::CreateFolder, completed, [self, name, drivePath](VNErrorPtr &error) {
        const QString local = self->localPath(drivePath, &error);
        bool refused = false;
        {
            std::lock_guard lock(registry().mutex);
            refused = registry().foldersWithoutNewFolders.contains(QDir::cleanPath(QFileInfo(local).path()));
        }
        if (!error && (refused || name.isEmpty() || name.contains(QLatin1Char('/')) || !QDir().mkdir(local)))
            error = self->makeError(QStringLiteral("Cannot create \"%1\".").arg(drivePath));
        if (!error)
            noteOwnWrite(self->root(), drivePath, true);
        return documentFor(drivePath, QFileInfo(local));
    });
}

void QNFakeRemoteHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    const QString drivePath = document ? document->path() : QString();
    answerDocument(Op::Remove, completed, [self, drivePath](VNErrorPtr &error) -> QNDocumentPtr {
        const QString local = self->localPath(drivePath, &error);
        const QFileInfo info(local);
        if (!error && (local == self->root() || !info.exists() ||
                       !(info.isDir() ? QDir(local).removeRecursively() : QFile::remove(local))))
            error = self->makeError(QStringLiteral("Cannot remove \"%1\".").arg(drivePath));
        if (!error)
            noteOwnWrite(self->root(), drivePath, false);
        return nullptr;
    });
}

// Renames, copies or moves drivePath to target inside the drive; never over an existing entry.
void QNFakeRemoteHandler::relocate(Op op, const QString &drivePath, const QString &target, QNDocumentPtr answer,
                                   QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    answerDocument(op, completed, [self, op, drivePath, target, answer](VNErrorPtr &error) {
        const QString from = self->localPath(drivePath, &error);
        const QString to = error ? QString() : self->localPath(target, &error);
        if (!error && (QFileInfo::exists(to) || !(op == Op::LocalCopy ? copyTree(from, to) : QDir().rename(from, to))))
            error = self->makeError(QStringLiteral("Cannot rename, copy or move \"%1\".").arg(drivePath));
        return answer ? answer : documentFor(target, QFileInfo(to));
    });
}

void QNFakeRemoteHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString drivePath = document ? document->path() : QString();
    const QString parent = drivePath.left(drivePath.lastIndexOf(QLatin1Char('/')));
    const QString newName = name ? lastComponent(name->path()) : QString();
    bool answersWithTheDocument;
    {
        std::lock_guard lock(registry().mutex);
        answersWithTheDocument = registry().renameAnswersWithTheDocument;
    }
    relocate(Op::Rename, drivePath, joinDrivePath(parent.isEmpty() ? QStringLiteral("/") : parent, newName),
             answersWithTheDocument ? document : name, completed);
}

void QNFakeRemoteHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString drivePath = document ? document->path() : QString();
    relocate(Op::LocalCopy, drivePath, joinDrivePath(name ? name->path() : QString(), lastComponent(drivePath)),
             nullptr, completed);
}

void QNFakeRemoteHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString drivePath = document ? document->path() : QString();
    relocate(Op::LocalMove, drivePath, joinDrivePath(name ? name->path() : QString(), lastComponent(drivePath)),
             nullptr, completed);
}

void QNFakeRemoteHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNFakeRemoteHandler>(shared_from_this());
    answerDocument(Op::Link, completed, [self, document](VNErrorPtr &error) {
        if (!document) {
            error = self->makeError(QStringLiteral("No document."));
            return document;
        }
        document->setLink(QStringLiteral("https://fake.invalid/share") + document->path());
        document->setLinkEndDate(QDateTime::currentDateTimeUtc().addDays(7));
        return document;
    });
}
