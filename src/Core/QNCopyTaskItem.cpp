#include "Core/QNCopyTaskItem.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNCopyOperation.h"
#include "Core/QNCreateFolderOperation.h"
#include "Core/QNDownloadOperation.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNLocalNamesake.h"
#include "Core/QNTask.h"
#include "Core/QNThrottleOperation.h"
#include "Core/QNUploadOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cmath>
#include <sys/stat.h>

namespace {

QString lastPathComponent(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.section(QLatin1Char('/'), -1);
}

// A drive path without trailing slashes; the root becomes "".
QString normalizedFolderPath(QString path) {
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// Whether two local paths name one file (also through links). The target
// is looked at first: it usually does not exist yet, and then one call
// settles it.
bool sameLocalFile(const QString &a, const QString &b) {
    struct stat target {}, source {};
    if (::stat(QFile::encodeName(b).constData(), &target) != 0)
        return false;
    if (::stat(QFile::encodeName(a).constData(), &source) != 0)
        return false;
    return source.st_dev == target.st_dev && source.st_ino == target.st_ino;
}

// A path with "." and ".." taken out; a relative target is read from base.
QString resolvedPath(const QString &base, const QString &target) {
    const QString joined = target.startsWith(QLatin1Char('/')) ? target : base + QLatin1Char('/') + target;
    QStringList parts;
    for (const QString &part : joined.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

// Whether path is folder or lies below it.
bool isWithin(const QString &path, const QString &folder) {
    return folder == QLatin1String("/") || path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// A listener key of its own for each sub-item a primary watches; a counter
// does, no need for a random id per file.
QString nextSubitemListenerKey() {
    static std::atomic<quint64> counter{0};
    return QLatin1String("QNCopyTaskItem primary ") + QString::number(++counter);
}

}  // namespace

QNCopyTaskItem::QNCopyTaskItem(QNDriveConfigPtr fromDriveConfig, QNDriveConfigPtr toDriveConfig,
                               QNDocumentPtr fromDocument, QNDocumentPtr toDocument)
    : m_fromDriveConfig(std::move(fromDriveConfig)),
      m_toDriveConfig(std::move(toDriveConfig)),
      m_fromDocument(std::move(fromDocument)),
      m_toDocument(std::move(toDocument)) {}

QString QNCopyTaskItem::description() const {
    auto doc = fromDocument();
    if (!doc)
        return QStringLiteral("(null) ((null))");
    return QStringLiteral("%1 (%2)").arg(doc->displayName(), doc->isDirectory() ? QStringLiteral("Folder")
                                                                              : QNUtils::sizeString2(doc->size()));
}

QNTaskItemCompletedBlock QNCopyTaskItem::completedBlock() const {
    std::lock_guard lock(m_blockMutex);
    return m_completedBlock;
}

QNDocumentPtr QNCopyTaskItem::sourceFolder() const {
    std::lock_guard lock(m_blockMutex);
    return m_sourceFolder;
}

void QNCopyTaskItem::setSourcePlace(QNDocumentPtr folder, QString realPath) {
    std::lock_guard lock(m_blockMutex);
    m_sourceFolder = std::move(folder);
    m_realPath = std::move(realPath);
}

QNTaskItemPtr QNCopyTaskItem::primaryItem() const {
    std::lock_guard lock(m_blockMutex);
    return m_primary.lock();
}

bool QNCopyTaskItem::skipsLink(const QNDocumentPtr &folder, const QNTaskPtr &task, const QNTaskItemPtr &primary,
                               QString *note) {
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primary);
    if (!top || top.get() == this || !folder->isLink())
        return false;
    QString target, tree;
    {
        std::lock_guard lock(m_blockMutex);
        target = m_realPath;
    }
    {
        std::lock_guard lock(top->m_blockMutex);
        tree = top->m_realPath;
    }
    if (tree.isEmpty())
        return false;
    QString why;
    if (folder->linkTarget().isEmpty() || target.isEmpty())
        why = QStringLiteral("it is a link and the drive does not say where it leads");  // it might lead back
    else if (isWithin(target, tree))
        why = QStringLiteral("it is a link back into the folder being copied (%1)").arg(target);
    else if (isWithin(tree, target))
        why = QStringLiteral("it is a link to %1, which holds the folder being copied").arg(target);
    else if (task && !task->claimLinkTarget(m_fromDriveConfig ? m_fromDriveConfig->driveConfigId() : QString(), target))
        why = QStringLiteral("it is a link to %1, which this task copies through another link").arg(target);
    if (why.isEmpty())
        return false;
    // Left out, the link is no part of a whole copy: like an unreadable
    // name, the primary names it in its error at its end.
    const QString path = normalizedFolderPath(folder->path());
    const QString message = QStringLiteral("\u201c%1\u201d in \u201c%2\u201d %3: %4.")
                                .arg(lastPathComponent(path), path.section(QLatin1Char('/'), 0, -2), notCopied(), why);
    VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: %1").arg(message));
    top->addNote(message, 1);
    *note = message;
    return true;
}

void QNCopyTaskItem::setCompletedBlock(QNTaskItemCompletedBlock completed) {
    std::lock_guard lock(m_blockMutex);
    m_completedBlock = std::move(completed);
}

bool QNCopyTaskItem::sameDrive() const {
    return m_fromDriveConfig && m_toDriveConfig &&
           m_fromDriveConfig->driveConfigId() == m_toDriveConfig->driveConfigId();
}

bool QNCopyTaskItem::isFolderIntoItself(const QNDriveConfigPtr &fromDrive, const QNDocumentPtr &folder,
                                        const QNDriveConfigPtr &toDrive, const QNDocumentPtr &destination) {
    if (!fromDrive || !toDrive || !folder || !destination || !folder->isDirectory())
        return false;
    if (fromDrive->driveConfigId() != toDrive->driveConfigId())
        return false;
    if (folder->path().isNull() || destination->path().isNull())
        return false;  // a drive that addresses items by id only: nothing to compare
    const QString source = normalizedFolderPath(folder->path());
    const QString target = normalizedFolderPath(destination->path());
    if (source.isEmpty())
        return true;  // the root holds everything
    if (target == source || target.startsWith(source + QLatin1Char('/')))
        return true;
    if (!fromDrive->isMyFiles())
        return false;
    // On the local disk either side may be reached through a link.
    const QString realSource = QFileInfo(source).canonicalFilePath();
    const QString realTarget = QFileInfo(target).canonicalFilePath();
    return !realSource.isEmpty() && !realTarget.isEmpty() &&
           (realTarget == realSource || realTarget.startsWith(realSource + QLatin1Char('/')));
}

bool QNCopyTaskItem::isOntoItself(const QNDriveConfigPtr &fromDrive, const QNDocumentPtr &document,
                                  const QNDriveConfigPtr &toDrive, const QNDocumentPtr &destination) {
    if (!fromDrive || !toDrive || !document || !destination)
        return false;
    if (document->path().isNull() || destination->path().isNull())
        return false;  // a drive that addresses items by id only: nothing to compare
    const QString source = normalizedFolderPath(document->path());
    const QString target = normalizedFolderPath(destination->path()) + QLatin1Char('/') + lastPathComponent(source);
    if (fromDrive->isMyFiles() && toDrive->isMyFiles()) {
        // A link leading through the source's own name is not the file in
        // place: it is replaced with a copy.
        switch (QNLocalNamesake::of(source, target)) {
        case QNLocalNamesake::Kind::OwnEntry:
        case QNLocalNamesake::Kind::OtherName:
            return true;
        case QNLocalNamesake::Kind::LinkThroughSource:
            return false;
        case QNLocalNamesake::Kind::Apart:
            break;
        }
    }
    return fromDrive->driveConfigId() == toDrive->driveConfigId() && source == target;
}

void QNCopyTaskItem::enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                             const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                             QNTaskItemUpdateBlock update) {
    setCompletedBlock(completed);
    {
        std::lock_guard lock(m_blockMutex);
        m_primary = primary;
    }
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = task;
    std::weak_ptr<QNTaskItem> weakPrimary = primary;
    addOperation(metadataQueue, std::make_shared<VNBlockOperation>([=] {
        auto task = weakTask.lock();
        auto primary = weakPrimary.lock();
        if (!task || !primary)
            return;
        self->copyDocument(self->fromDocument(), self->toDocument(), fromQueue, toQueue, metadataQueue, completed,
                           update, task, primary);
    }));
}

void QNCopyTaskItem::copyDocument(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                                  VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                                  QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update,
                                  const QNTaskPtr &task, const QNTaskItemPtr &primary) {
    if (!document || !toDocument) {
        failCopy(completed, makeError(QStringLiteral("There is nothing to copy.")));
        return;
    }
    if (primary && primary.get() != this && stopsForRefusedTree(completed))
        return;
    if (leftOutUnreadable(document, primary, completed))
        return;
    if (failsOntoItselfByAnotherPath(document, toDocument, completed))
        return;
    if (isOntoItself(m_fromDriveConfig, document, m_toDriveConfig, toDocument)) {
        // Already where it should go (on the local disk, maybe under another
        // name of the same file): nothing to write, and nothing went wrong.
        if (claimPostCopy())
            postCopy(completed, nullptr, document, fromQueue, false);
        return;
    }
    if (isFolderIntoItself(m_fromDriveConfig, document, m_toDriveConfig, toDocument)) {
        auto error = makeError(QStringLiteral("The folder \"%1\" cannot be copied into itself or into one of its "
                                              "own folders.")
                                   .arg(document->displayName().isEmpty() ? lastPathComponent(document->path())
                                                                          : document->displayName()));
        logFailure(QStringLiteral("copyDocument error2"), error);
        failCopy(completed, error);
        return;
    }
    if (checkDestinationFirst(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task, primary))
        return;
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    // A folder inside a tree is made and listed like its tree, even where
    // the drive could copy it whole: a move removes only the files it saw
    // being copied.
    const bool insideTree = primary && primary.get() != this && document->isDirectory();
    if (sameDrive() && !insideTree && m_fromDriveConfig->supportsLocalCopy(document) &&
        m_toDriveConfig->supportsLocalCopy(toDocument)) {
        std::weak_ptr<QNTask> weakTask = task;
        std::weak_ptr<QNTaskItem> weakPrimary = primary;
        if (waitsForTreeChecks(
                [=] {
                    auto task = weakTask.lock();
                    auto primary = weakPrimary.lock();
                    if (task && primary)
                        self->copyDocument(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update,
                                           task, primary);
                },
                completed, fromQueue))
            return;
        if (!claimName(document, toDocument, completed))
            return;
        auto copy = std::make_shared<QNCopyOperation>(
            m_fromDriveConfig, document, toDocument,
            [=](QNDocumentPtr copied, VNErrorPtr error, bool cancelled) {
                if (cancelled) {
                    if (self->claimPostCopy())
                        self->postCopy(completed, error, copied, fromQueue, true);
                } else if (error) {
                    // A drive never copies over an item inside itself.
                    self->replaceAfterRefusal(error, document, toDocument, fromQueue, toQueue, metadataQueue,
                                              completed, update, weakTask, weakPrimary);
                } else if (self->claimPostCopy()) {
                    self->postCopy(completed, nullptr, copied, fromQueue, false);
                }
            });
        observeRunning(copy);
        addOperation(fromQueue, copy);
        addOperation(fromQueue, QNThrottleOperation::waitingFor(toQueue));
        return;
    }
    copyByTransfer(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task, primary);
}

void QNCopyTaskItem::copyByTransfer(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                                    VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                                    QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update,
                                    const QNTaskPtr &task, const QNTaskItemPtr &primary) {
    if (document->isDirectory()) {
        recursiveCopy(document, toDocument, metadataQueue, completed, task, primary);
        return;
    }
    // A folder of the file's name is not replaced by it: found before
    // anything is sent, as an upload over it would end in the server's own
    // (or no) refusal, and a drive that removes the namesake first would
    // take the whole folder.
    if (auto there = destinationListing()) {
        if (!folderInTheWay(*there, document, toDocument, completed))
            transferFile(document, toDocument, fromQueue, toQueue, completed, update);
        return;
    }
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    QNDestinationListingBlock listed = [=](std::shared_ptr<const QNListing> listing, VNErrorPtr error,
                                           bool cancelled) {
        if (cancelled) {
            // Through the post-copy step: a save-back puts its document back.
            self->endCancelled(completed, fromQueue);
            return;
        }
        // Unlisted, the transfer goes as before: its own errors tell.
        if (!error && listing && self->folderInTheWay(*listing, document, toDocument, completed))
            return;
        if (listing)
            self->setDestinationListing(listing);
        self->transferFile(document, toDocument, fromQueue, toQueue, completed, update);
    };
    // The files of one task dropped onto one folder share its listing.
    if (!task) {
        listDestination(toDocument, metadataQueue, listed);
        return;
    }
    const QString key =
        QNTask::folderKey(m_toDriveConfig ? m_toDriveConfig->driveConfigId() : QString(), toDocument);
    if (!task->destinationListings().await(key, listed))
        return;
    std::weak_ptr<QNTask> weakTask = task;
    listDestination(toDocument, metadataQueue,
                    [weakTask, key](std::shared_ptr<const QNListing> listing, VNErrorPtr error, bool cancelled) {
                        if (auto owner = weakTask.lock())
                            owner->destinationListings().finish(key, listing, error, cancelled);
                    });
}

void QNCopyTaskItem::listDestination(const QNDocumentPtr &toDocument, VNOperationQueue *metadataQueue,
                                     QNDestinationListingBlock listed) {
    auto list = std::make_shared<QNListDocumentsOperation>(
        m_toDriveConfig, toDocument, QString(),
        [listed](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            auto there = error || cancelled ? nullptr : std::make_shared<const QNListing>(std::move(listing));
            listed(there, error, cancelled);
        });
    addOperation(metadataQueue, list);
}

bool QNCopyTaskItem::folderInTheWay(const QNListing &listing, const QNDocumentPtr &document,
                                    const QNDocumentPtr &toDocument, const QNTaskItemCompletedBlock &completed) {
    const QString name = document->path().isEmpty() ? document->displayName() : lastPathComponent(document->path());
    // An entry of the exact name decides; without one, a folder whose name
    // differs only in case is in the way too: names count without regard to
    // case, and a drive that folds case would take the file for it.
    const QNDocumentPtr inTheWay = listing.folderInTheWay(name);
    if (!inTheWay)
        return false;
    const VNErrorPtr error = makeError(namesakeInTheWay(name, false, inTheWay, toDocument));
    logFailure(QStringLiteral("copyDocument error2"), error);
    failCopy(completed, error);
    return true;
}

void QNCopyTaskItem::setDestinationListing(std::shared_ptr<const QNListing> listing) {
    std::lock_guard lock(m_blockMutex);
    m_destinationListing = std::move(listing);
}

std::shared_ptr<const QNListing> QNCopyTaskItem::destinationListing() const {
    std::lock_guard lock(m_blockMutex);
    return m_destinationListing;
}

void QNCopyTaskItem::replaceAfterRefusal(VNErrorPtr refusal, QNDocumentPtr document, QNDocumentPtr toDocument,
                                         VNOperationQueue *fromQueue, VNOperationQueue *toQueue,
                                         VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                                         QNTaskItemUpdateBlock update, std::weak_ptr<QNTask> weakTask,
                                         std::weak_ptr<QNTaskItem> weakPrimary) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    const QString name = document->path().isEmpty() ? document->displayName() : lastPathComponent(document->path());
    auto list = std::make_shared<QNListDocumentsOperation>(
        m_toDriveConfig, toDocument, QString(),
        [=](QNDocumentList listing, QString, VNErrorPtr, bool cancelled) {
            if (cancelled) {
                self->endCancelled(completed, fromQueue);
                return;
            }
            auto task = weakTask.lock();
            auto primary = weakPrimary.lock();
            auto namesake = namesakeIn(listing, name);
            // Only an item of the same kind is replaced; a folder is written
            // into, never through a link.
            const bool replaceable = namesake && namesake->isDirectory() == document->isDirectory() &&
                                     !(namesake->isDirectory() && namesake->isLink());
            if (!replaceable || !task || !primary) {
                const VNErrorPtr error =
                    namesake && !replaceable
                        ? self->makeError(self->namesakeInTheWay(name, document->isDirectory(), namesake, toDocument))
                        : refusal;
                self->logFailure(QStringLiteral("copyDocument error2"), error);
                self->failCopy(completed, error);
                return;
            }
            VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: %1 exists; replacing it by a transfer").arg(name));
            self->setDestinationListing(std::make_shared<const QNListing>(listing));
            self->unlessItself(document, namesake, primary.get() == self.get(), metadataQueue, completed, [=] {
                self->copyByTransfer(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task,
                                     primary);
            });
        });
    addOperation(metadataQueue, list);
}

void QNCopyTaskItem::transferFile(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                                  VNOperationQueue *toQueue, QNTaskItemCompletedBlock completed,
                                  QNTaskItemUpdateBlock update) {
    const bool fromLocal = m_fromDriveConfig && m_fromDriveConfig->isMyFiles();
    const bool toLocal = m_toDriveConfig && m_toDriveConfig->isMyFiles();
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    // Nothing of a tree goes, nor is built (a temporary name may be asked
    // for), before the tree's checks have answered.
    if (waitsForTreeChecks(
            [=] { self->transferFile(document, toDocument, fromQueue, toQueue, completed, update); }, completed,
            fromQueue))
        return;

    // Two same-named files of one folder (drives that allow them) would land
    // on one name: the second would replace what the first just wrote.
    if (!claimName(document, toDocument, completed))
        return;

    // A file on the local disk needs no temporary copy: it is uploaded from
    // where it is. Not when the upload would write over that very file.
    if (fromLocal) {
        const QString target = toDocument->path() + QLatin1Char('/') + lastPathComponent(document->path());
        if (!(toLocal && sameLocalFile(document->path(), target))) {
            uploadLocalCopy(document, false, toDocument, fromQueue, toQueue, completed, update);
            return;
        }
    }

    auto owner = task();
    VNErrorPtr refused;
    const QString localPath = owner ? owner->reserveTempPath(document->path(), &refused) : QString();
    if (localPath.isNull()) {
        if (!refused)
            refused = makeError(QStringLiteral("The task has no temporary folder."));
        logFailure(QStringLiteral("copyDocument error2"), refused);
        failCopy(completed, refused);
        return;
    }
    QDir().mkpath(QFileInfo(localPath).path());  // errors show up as a failed download
    auto localDocument = QNDocument::withPath(localPath);

    QNProgressCallback progress = [self, update, fromLocal, toLocal](double p) {
        double value = self->progress();
        if (fromLocal && toLocal)
            value = p;
        else if (fromLocal)
            ;  // the upload shows the progress
        else
            value = toLocal ? p : p / 2.0;
        self->setProgressAndReport(value, update);
    };
    auto download = std::make_shared<QNDownloadOperation>(
        m_fromDriveConfig, document, localDocument, std::move(progress),
        [self, completed, update, localDocument, toDocument, fromQueue, toQueue](QNDocumentPtr localCopy,
                                                                                 VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                if (self->claimPostCopy())
                    self->postCopy(completed, error, localCopy, fromQueue, true);
            } else if (error) {
                self->logFailure(QStringLiteral("copyDocument error2"), error);
                self->failCopy(completed, error);
            } else {
                self->uploadLocalCopy(localCopy ? localCopy : localDocument, true, toDocument, fromQueue, toQueue,
                                      completed, update);
            }
        });
    observeRunning(download);
    addOperation(fromQueue, download);
    addOperation(fromQueue, QNThrottleOperation::waitingFor(toQueue));
}

void QNCopyTaskItem::uploadLocalCopy(QNDocumentPtr localCopy, bool isTemporary, QNDocumentPtr toDocument,
                                     VNOperationQueue *fromQueue, VNOperationQueue *toQueue,
                                     QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update) {
    const bool fromLocal = m_fromDriveConfig && m_fromDriveConfig->isMyFiles();
    const bool toLocal = m_toDriveConfig && m_toDriveConfig->isMyFiles();
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    QNProgressCallback progress = [self, update, fromLocal, toLocal](double p) {
        double value = self->progress();
        if (fromLocal && toLocal)
            value = p;
        else if (toLocal)
            ;  // the download showed the progress
        else
            value = fromLocal ? p : 0.5 + p / 2.0;
        self->setProgressAndReport(value, update);
    };
    auto upload = std::make_shared<QNUploadOperation>(
        m_toDriveConfig, localCopy, toDocument, std::move(progress),
        [self, completed, localCopy, isTemporary, fromQueue](QNDocumentPtr uploaded, VNErrorPtr error, bool cancelled) {
            self->m_uploadAnswered.store(true);
            // Arrived whole under its name, but the drive kept a temporary
            // file it would not remove (an account that removes nothing):
            // done, and the end report names what stays.
            if (error && !cancelled && uploaded && QNCloudInterface::saysFileLeftOnDrive(error)) {
                self->topItem()->addNote(QNErrorWrapper::textOf(error), 0);
                error = nullptr;
            }
            if (error && !cancelled) {
                self->logFailure(QStringLiteral("copyDocument error3"), error);
                self->failCopy(completed, error);
                return;
            }
            if (isTemporary) {
                QFile file(localCopy->path());
                if (file.exists() && !file.remove()) {
                    auto deletion = self->makeError(QStringLiteral("The temporary copy %1 could not be deleted: %2")
                                                        .arg(localCopy->path(), file.errorString()));
                    VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument error4: %1").arg(QNErrorWrapper::textOf(deletion)));
                    self->failCopy(completed, deletion);
                    return;
                }
            }
            if (self->claimPostCopy())
                self->postCopy(completed, nullptr, uploaded, fromQueue, cancelled);
        });
    upload->setUnderTemporaryName(uploadsUnderTemporaryName());
    upload->setMayWriteOntoName(mayWriteOntoName(localCopy));
    observeRunning(upload);
    {
        std::lock_guard lock(m_blockMutex);
        m_uploadOperation = upload;
        m_uploadCallWatch = upload->handlerCallWatch();
    }
    addOperation(toQueue, upload);
}

void QNCopyTaskItem::failCopy(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error) {
    postCopyFinished(completed, stoppedMoveError(error), nullptr, false);
}

std::shared_ptr<VNOperation> QNCopyTaskItem::uploadOperation() const {
    std::lock_guard lock(m_blockMutex);
    return m_uploadOperation.lock();
}

std::shared_ptr<QNHandlerCallWatch> QNCopyTaskItem::uploadCallWatch() const {
    std::lock_guard lock(m_blockMutex);
    return m_uploadCallWatch;
}

void QNCopyTaskItem::recursiveCopy(QNDocumentPtr folder, QNDocumentPtr destPath, VNOperationQueue *metadataQueue,
                                   QNTaskItemCompletedBlock completed, const QNTaskPtr &task,
                                   const QNTaskItemPtr &primary) {
    // The folder's name is made on the destination drive: refuse names that
    // would leave the destination folder.
    QString folderPath = folder->path();
    while (folderPath.size() > 1 && folderPath.endsWith(QLatin1Char('/')))
        folderPath.chop(1);  // "/a/b/" names the folder b
    if (auto refused = QNTask::checkDrivePath(folderPath, className())) {
        VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy2 error: %1").arg(QNErrorWrapper::textOf(refused)));
        failCopy(completed, refused);
        return;
    }
    if (primary.get() == this) {
        // Where the tree really lies, for telling links that lead back into it.
        QString real = normalizedFolderPath(folder->path());
        if (m_fromDriveConfig && m_fromDriveConfig->isMyFiles()) {
            const QString canonical = QFileInfo(folder->path()).canonicalFilePath();
            if (!canonical.isEmpty())
                real = canonical;
        } else if (folder->isLink() && !folder->linkTarget().isEmpty()) {
            real = resolvedPath(real.section(QLatin1Char('/'), 0, -2), folder->linkTarget());
        }
        setSourcePlace(nullptr, real.isEmpty() ? QStringLiteral("/") : real);
        startTree();
        std::weak_ptr<QNTask> weakTask = task;
        std::weak_ptr<QNTaskItem> weakPrimary = primary;
        auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
        if (checksDropTarget(destPath, metadataQueue, completed, [=] {
                auto task = weakTask.lock();
                auto primary = weakPrimary.lock();
                if (task && primary)
                    self->recursiveCopy(folder, destPath, metadataQueue, completed, task, primary);
            }))
            return;
    } else if (QString note; skipsLink(folder, task, primary, &note)) {
        leaveOut(completed, note);
        return;
    }
    if (!claimName(folder, destPath, completed))
        return;
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = task;
    std::weak_ptr<QNTaskItem> weakPrimary = primary;
    const QString name = lastPathComponent(folder->path());
    auto create = std::make_shared<QNCreateFolderOperation>(
        m_toDriveConfig, name, destPath,
        [self, completed, folder, destPath, name, metadataQueue, weakTask, weakPrimary](
            QNDocumentPtr newFolder, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->endCancelled(completed, nullptr);
                return;
            }
            if (!error && !newFolder)
                error = self->makeError(QStringLiteral("The folder \"%1\" could not be created.").arg(name));
            if (!error) {
                // Removed again should the tree's copy be refused.
                auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(weakPrimary.lock());
                if (auto tree = top ? top->copiedTree() : nullptr)
                    tree->addMadeFolder(newFolder);
            }
            if (self->stopsForRefusedTree(completed))
                return;
            if (error) {
                // Most often the folder is there already (the user chose to
                // replace it): the copy then goes into it.
                self->mergeIntoExistingFolder(folder, destPath, name, error, metadataQueue, completed, weakTask,
                                              weakPrimary);
                return;
            }
            self->copyFolderContents(folder, newFolder, std::make_shared<const QNListing>(QNDocumentList()), true,
                                     metadataQueue,
                                     completed, weakTask, weakPrimary);
        });
    addOperation(metadataQueue, create);
}

QNDocumentPtr QNCopyTaskItem::namesakeIn(const QNDocumentList &listing, const QString &name) {
    QNDocumentPtr sameButCase;
    for (const auto &document : listing) {
        if (!document)
            continue;
        const QString listedName =
            document->path().isEmpty() ? document->displayName() : lastPathComponent(document->path());
        if (listedName == name)
            return document;
        if (!sameButCase && listedName.compare(name, Qt::CaseInsensitive) == 0)
            sameButCase = document;
    }
    // A server that ignores case refuses the name for this one.
    return sameButCase;
}

void QNCopyTaskItem::mergeIntoExistingFolder(QNDocumentPtr folder, QNDocumentPtr destPath, QString name,
                                             VNErrorPtr createError, VNOperationQueue *metadataQueue,
                                             QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                                             std::weak_ptr<QNTaskItem> weakPrimary) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto list = std::make_shared<QNListDocumentsOperation>(
        m_toDriveConfig, destPath, QString(),
        [self, folder, destPath, name, createError, metadataQueue, completed, weakTask, weakPrimary](
            QNDocumentList listing, QString, VNErrorPtr, bool cancelled) {
            if (cancelled) {
                self->endCancelled(completed, nullptr);
                return;
            }
            // Only a real folder is written into: not a file, and not a link
            // that would take the copy somewhere else.
            auto existing = namesakeIn(listing, name);
            if (!existing || !existing->isDirectory() || existing->isLink()) {
                // The server's own answer to the creation seldom says what
                // is in the way; a namesake of another kind is named here.
                const VNErrorPtr error =
                    existing ? self->makeError(self->namesakeInTheWay(name, true, existing, destPath)) : createError;
                VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy2 error: %1").arg(QNErrorWrapper::textOf(error)));
                self->failCopy(completed, error);
                return;
            }
            if (lastPathComponent(existing->path().isEmpty() ? existing->displayName() : existing->path()) != name) {
                self->mergeIfCaseFolded(folder, destPath, existing, name, createError, metadataQueue, completed,
                                        weakTask, weakPrimary);
                return;
            }
            VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: %1 exists; copying into it").arg(name));
            self->mergeInto(folder, existing, metadataQueue, completed, weakTask, weakPrimary);
        });
    addOperation(metadataQueue, list);
}

void QNCopyTaskItem::mergeIfCaseFolded(QNDocumentPtr folder, QNDocumentPtr destPath, QNDocumentPtr existing,
                                       QString name, VNErrorPtr createError, VNOperationQueue *metadataQueue,
                                       QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                                       std::weak_ptr<QNTaskItem> weakPrimary) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    const auto refuse = [self, completed, createError] {
        VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy2 error: %1").arg(QNErrorWrapper::textOf(createError)));
        self->failCopy(completed, createError);
    };
    if (!destPath || destPath->path().isNull()) {
        refuse();  // a drive that names folders by id only cannot be asked by name
        return;
    }
    // The folder asked for by the copied folder's own spelling: a drive that
    // folds case lists its namesake; one that tells case apart has no such
    // folder, and its refusal had another cause.
    auto spelled = QNDocument::create();
    spelled->setPath(normalizedFolderPath(destPath->path()) + QLatin1Char('/') + name);
    spelled->setDisplayName(name);
    spelled->setIsDirectory(true);
    auto probe = std::make_shared<QNListDocumentsOperation>(
        m_toDriveConfig, spelled, QString(),
        [self, folder, existing, name, metadataQueue, completed, weakTask, weakPrimary, refuse](
            QNDocumentList, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->endCancelled(completed, nullptr);
                return;
            }
            if (error) {
                refuse();
                return;
            }
            VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: %1 exists as %2; copying into it")
                           .arg(name, lastPathComponent(existing->path())));
            // A namesake of another spelling may be the copied folder itself
            // as much as one of its own spelling.
            self->mergeInto(folder, existing, metadataQueue, completed, weakTask, weakPrimary);
        });
    addOperation(metadataQueue, probe);
}

void QNCopyTaskItem::mergeInto(QNDocumentPtr folder, QNDocumentPtr existing, VNOperationQueue *metadataQueue,
                               QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                               std::weak_ptr<QNTaskItem> weakPrimary) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto primary = weakPrimary.lock();
    auto merge = [=] {
        // Whether it is any folder of the tree is asked once the tree is listed.
        if (auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(weakPrimary.lock()))
            if (auto tree = top->copiedTree())
                tree->addMerge(folder, existing);
        self->listExistingFolder(folder, existing, metadataQueue, completed, weakTask, weakPrimary);
    };
    // The dropped folder is looked at before anything is written into it.
    if (primary.get() == this)
        unlessItself(folder, existing, true, metadataQueue, completed, merge);
    else
        merge();
}

void QNCopyTaskItem::listExistingFolder(QNDocumentPtr folder, QNDocumentPtr existing, VNOperationQueue *metadataQueue,
                                        QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                                        std::weak_ptr<QNTaskItem> weakPrimary) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto list = std::make_shared<QNListDocumentsOperation>(
        m_toDriveConfig, existing, QString(),
        [self, folder, existing, metadataQueue, completed, weakTask, weakPrimary](QNDocumentList listing, QString,
                                                                                   VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->endCancelled(completed, nullptr);
                return;
            }
            // Unlisted, each file lists the folder itself before it goes in.
            auto there = error ? nullptr : std::make_shared<const QNListing>(std::move(listing));
            self->copyFolderContents(folder, existing, there, false, metadataQueue, completed, weakTask, weakPrimary);
        });
    addOperation(metadataQueue, list);
}

void QNCopyTaskItem::copyFolderContents(QNDocumentPtr folder, QNDocumentPtr newFolder,
                                        std::shared_ptr<const QNListing> there, bool made,
                                        VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                                        std::weak_ptr<QNTask> weakTask, std::weak_ptr<QNTaskItem> weakPrimary) {
    auto self = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    auto list = std::make_shared<QNListDocumentsOperation>(
        fromDriveConfig(), folder, QString(),
        [self, completed, folder, newFolder, there, made, weakTask, weakPrimary](QNDocumentList documents, QString,
                                                                           VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->endCancelled(completed, nullptr);
                return;
            }
            if (error) {
                VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy3 error: %1").arg(QNErrorWrapper::textOf(error)));
                self->failCopy(completed, error);
                return;
            }
            if (self->stopsForRefusedTree(completed))
                return;
            auto task = weakTask.lock();
            auto primary = weakPrimary.lock();
            auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primary);
            auto tree = top ? top->copiedTree() : nullptr;
            if (tree)
                tree->addSourceFolder(folder);
            // The folder dropped onto is this one: copying into it would
            // copy the copy again.
            if (self->dropTargetShownIn(folder, documents)) {
                self->stopsForRefusedTree(completed);
                return;
            }
            // What the drive left out of the listing is on the server all
            // the same and was not copied: noted, as a link left out is.
            if (const int dropped = folder->leftOutCount(); dropped > 0) {
                const QString message = self->listingLeftOutNote(folder, dropped);
                VNLog::log(QStringLiteral("QNCopyTaskItem recursiveCopy: %1").arg(message));
                (top ? top.get() : self.get())->addNote(message, dropped);
            }
            if (task && primary) {
                QString here;
                {
                    std::lock_guard lock(self->m_blockMutex);
                    here = self->m_realPath;
                }
                for (const auto &document : documents) {
                    if (!document)
                        continue;
                    auto item = std::make_shared<QNCopyTaskItem>(self->fromDriveConfig(), self->toDriveConfig(),
                                                                 document, newFolder);
                    const QString real = document->isLink() && !document->linkTarget().isEmpty()
                                             ? resolvedPath(here, document->linkTarget())
                                             : resolvedPath(here, lastPathComponent(document->path()));
                    item->setSourcePlace(folder, real);
                    item->setDestinationListing(there);
                    // A folder this copy made holds nothing but what it writes.
                    item->m_intoMadeFolder.store(made);
                    item->m_uploadsUnderTemporaryName.store(self->m_uploadsUnderTemporaryName.load());
                    if (tree && document->isDirectory()) {
                        std::lock_guard lock(item->m_blockMutex);
                        item->m_openFolderToken = tree->openFolder();
                    }
                    task->addTaskItem(item, primary);
                }
            }
            // Its children hold tokens of their own by now.
            self->closeFolder();
            if (self->subitems().isEmpty()) {
                // A folder inside the tree ends here (its children belong to
                // the primary); an empty primary folder has been copied whole.
                if (primary.get() == self.get()) {
                    if (self->claimPostCopy())
                        self->postCopy(completed, nullptr, nullptr, task ? task->fromQueue() : nullptr, false);
                } else {
                    // Not the end of a copy (its children are the primary's
                    // and still to come): no post-copy step of its own.
                    self->postCopyFinished(completed, nullptr, nullptr, false);
                }
            }
        });
    addOperation(metadataQueue, list);
}

void QNCopyTaskItem::postCopy(QNTaskItemCompletedBlock completed, VNErrorPtr error, QNDocumentPtr document,
                              VNOperationQueue *, bool cancelled) {
    // What the tree left out is no error of the item: the task's end report
    // names it (QNTask::leftOut()).
    postCopyFinished(completed, error, document, cancelled);
}

void QNCopyTaskItem::postCopyFinished(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                      const QNDocumentPtr &document, bool cancelled) {
    m_postCopyClaimed.store(true);
    closeFolder();
    if (wasSkipped() && !error && !cancelled) {
        // Left out is not done: the listeners hear why (a caller must not
        // take the item for copied), the task hears no error and goes on.
        QString why;
        {
            std::lock_guard lock(m_blockMutex);
            why = m_leftOutWhy;
        }
        finishItem(completed, makeLeftOutError(why), nullptr, false, nullptr, nullptr, false);
        return;
    }
    finishItem(completed, error, document, cancelled);
}

void QNCopyTaskItem::closeFolder() {
    std::shared_ptr<void> token;
    {
        std::lock_guard lock(m_blockMutex);
        token = std::move(m_openFolderToken);
        m_openFolderToken = nullptr;
    }
    // Released outside the lock: the last token runs the tree's check.
}

bool QNCopyTaskItem::claimPostCopy() {
    if (hasConcluded())
        return false;
    return !m_postCopyClaimed.exchange(true);
}

void QNCopyTaskItem::setProgressAndReport(double value, const QNTaskItemUpdateBlock &update) {
    setProgress(static_cast<float>(value));
    triggerUpdateBlock(update);
}

void QNCopyTaskItem::addSubitem(const QNTaskItemPtr &subitem, VNOperationQueue *queue) {
    QNTaskItem::addSubitem(subitem, queue);
    ++m_unfinishedSubTaskItems;
    const QString key = nextSubitemListenerKey();
    std::weak_ptr<QNCopyTaskItem> weakPrimary = std::static_pointer_cast<QNCopyTaskItem>(shared_from_this());
    std::weak_ptr<QNTaskItem> weakSubitem = subitem;

    // The share of a file sub-item in the primary's progress is its size.
    auto copySubitem = std::dynamic_pointer_cast<QNCopyTaskItem>(subitem);
    auto subDocument = copySubitem ? copySubitem->fromDocument() : subitem->document();
    if (subDocument && !subDocument->isDirectory()) {
        std::lock_guard lock(m_progressMutex);
        const double size = static_cast<double>(subDocument->size());
        m_subitemBytes += size;
        m_subitemShares.insert(subitem.get(), {size, 0.0});
    }
    subitem->registerListenerForTaskItemUpdateBlock(key, [weakPrimary, weakSubitem] {
        auto primary = weakPrimary.lock();
        auto sub = weakSubitem.lock();
        if (!primary || !sub)
            return;
        primary->subitemProgressed(sub.get(), sub->progress());
        primary->notifyUpdateListeners();
    });

    subitem->registerListenerForTaskItemCompletedBlock(
        key, [weakPrimary, weakSubitem, key, queue](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
            // A sub-item left out is noted on the primary, no failure of it.
            if (isLeftOut(error))
                error = nullptr;
            if (auto sub = weakSubitem.lock()) {
                sub->unregisterListenerForTaskItemUpdateBlock(key);
                sub->unregisterListenerForTaskItemCompletedBlock(key);
            }
            if (auto primary = weakPrimary.lock())
                primary->subitemEnded(error, cancelled, queue);
        });
}

bool QNCopyTaskItem::subitemEnded(const VNErrorPtr &error, bool cancelled, VNOperationQueue *queue) {
    // Whatever else happens, a tree with a failed or cancelled part is not
    // a whole copy.
    if (error || cancelled)
        m_treeBroken.store(true);
    if (error) {
        std::lock_guard lock(m_firstErrorMutex);
        if (!m_firstSubitemError)
            m_firstSubitemError = error;
    }
    const int left = --m_unfinishedSubTaskItems;
    if (left > 0 && !error)
        return false;
    if (!claimPostCopy())
        return false;  // the primary has already ended; only the count changes
    VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument finished %1 to %2")
                   .arg(lastPathComponent(fromDocument() ? fromDocument()->path() : QString()),
                        lastPathComponent(toDocument() ? toDocument()->path() : QString())));
    const bool wholeTreeCopied = !m_treeBroken.load();
    postCopy(completedBlock(), error, nullptr, queue, cancelled || (!error && !wholeTreeCopied));
    return true;
}

void QNCopyTaskItem::subitemProgressed(const QNTaskItem *subitem, float subitemProgress) {
    std::lock_guard lock(m_progressMutex);
    auto it = m_subitemShares.find(subitem);
    if (it == m_subitemShares.end())
        return;  // a folder: no share of its own
    const double done = std::floor(static_cast<double>(subitemProgress) * it->first);
    m_subitemBytesDone += done - it->second;
    it->second = done;
    setProgress(m_subitemBytes > 0 ? static_cast<float>(m_subitemBytesDone / m_subitemBytes) : 0.0f);
}

void QNCopyTaskItem::logFailure(const QString &step, const VNErrorPtr &error) const {
    VNLog::log(QStringLiteral("QNCopyTaskItem %1 %2").arg(step, QNErrorWrapper::textOf(error)));
}
