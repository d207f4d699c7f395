#include "Core/QNUpdateFileTaskItem.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNHandlerOperation.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNRenameOperation.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString lastPathComponent(const QString &path) {
    return path.section(QLatin1Char('/'), -1);
}

QString folderOf(const QString &path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString joinPath(const QString &folder, const QString &name) {
    if (folder.isEmpty())
        return QLatin1Char('/') + name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The name of a listed entry ("" for none).
QString listedName(const QNDocumentPtr &document) {
    if (!document)
        return {};
    return document->path().isEmpty() ? document->displayName() : lastPathComponent(document->path());
}

QNDriveConfigPtr runTimeLocalDrive() {
    auto config = QNDriveConfig::create();
    config->setIsMyFiles(true);
    config->setUseAbsolutePath(true);
    return config;
}

}  // namespace

QNUpdateFileTaskItem::QNUpdateFileTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document,
                                           QNDocumentPtr originalDocument, QNDocumentPtr originalParentDocument)
    : QNCopyTaskItem(runTimeLocalDrive(), std::move(driveConfig), std::move(document), originalParentDocument),
      m_originalDocument(std::move(originalDocument)),
      m_originalParentDocument(std::move(originalParentDocument)) {}

QString QNUpdateFileTaskItem::description() const {
    const auto doc = fromDocument();
    const QString name = doc ? lastPathComponent(doc->path()) : QString();
    const QString size = !doc ? QString() : doc->isDirectory() ? QStringLiteral("Folder") : QNUtils::sizeString2(doc->size());
    return QStringLiteral("Update %1 (%2) to %3").arg(name, size, toDriveConfig() ? toDriveConfig()->serviceName() : QString());
}

QNDocumentPtr QNUpdateFileTaskItem::renamedDocument() const {
    std::lock_guard lock(m_mutex);
    return m_renamedDocument;
}

QNDocumentPtr QNUpdateFileTaskItem::uploadedDocument() const {
    std::lock_guard lock(m_mutex);
    return m_uploadedDocument;
}

QNDocumentPtr QNUpdateFileTaskItem::savedDocument() const {
    QNDocumentPtr uploaded;
    {
        std::lock_guard lock(m_mutex);
        if (!m_uploaded)
            return nullptr;
        uploaded = m_uploadedDocument;
    }
    return followingUpload(m_originalDocument, uploaded);
}

QNDocumentPtr QNUpdateFileTaskItem::followingUpload(const QNDocumentPtr &driveDocument, const QNDocumentPtr &uploaded) {
    if (!driveDocument)
        return nullptr;
    auto saved = driveDocument->copy();
    saved->setId(uploaded ? uploaded->id() : QString());
    saved->setFullPath(uploaded ? uploaded->fullPath() : QString());
    saved->setEditURL(uploaded ? uploaded->editURL() : QString());
    saved->setGdResourceId(uploaded ? uploaded->gdResourceId() : QString());
    saved->setFileObject(uploaded ? uploaded->fileObject() : nullptr);
    saved->setFeedPhotoAlbum(uploaded ? uploaded->feedPhotoAlbum() : nullptr);
    saved->setSha1(uploaded ? uploaded->sha1() : QString());
    saved->setUrl(uploaded ? uploaded->url() : QUrl());
    return saved;
}

void QNUpdateFileTaskItem::setClock(std::function<QDateTime()> clock) {
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

QString QNUpdateFileTaskItem::backupPath(const QString &drivePath, const QDateTime &when) {
    const QString name = lastPathComponent(drivePath);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot + 1) : QString();
    const QDate d = when.date();
    const QTime t = when.time();
    // Put together piece by piece: the name is the user's text and may hold
    // "%1" and the like, which a chain of arg() would expand again.
    const auto padded = [](int value, int width) {
        return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
    };
    const QString backup = base + QStringLiteral("-QN-") + padded(d.year(), 4) + QLatin1Char('-') +
                           padded(d.month(), 2) + QLatin1Char('-') + padded(d.day(), 2) + QLatin1Char('_') +
                           padded(t.hour(), 2) + QLatin1Char('-') + padded(t.minute(), 2) + QLatin1Char('-') +
                           padded(t.second(), 2) + QLatin1Char('.') + extension;
    return joinPath(folderOf(drivePath), backup);
}

void QNUpdateFileTaskItem::copyDocument(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                                        VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                                        QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update,
                                        const QNTaskPtr &task, const QNTaskItemPtr &primary) {
    if (renamedDocument()) {
        // Asked again by a later step of the copy: the backup is made once.
        {
            std::lock_guard lock(m_mutex);
            if (m_uploadSource)
                document = m_uploadSource;
        }
        QNCopyTaskItem::copyDocument(document, toDocument, fromQueue, toQueue, metadataQueue, completed, update, task,
                                     primary);
        return;
    }
    // The edited copy must be readable before the drive is touched.
    const QString localPath = document ? document->path() : QString();
    QFile local(localPath);
    if (localPath.isEmpty() || !QFileInfo(localPath).isFile() || !local.open(QIODevice::ReadOnly)) {
        auto error = makeError(QStringLiteral("The edited copy \"%1\" cannot be read%2; the document on the drive was "
                                              "left as it was.")
                                   .arg(localPath, local.errorString().isEmpty() ? QString()
                                                                                 : QStringLiteral(": ") + local.errorString()));
        VNLog::log(QStringLiteral("QNUpdateFileTaskItem copyDocument error: %1").arg(QNErrorWrapper::textOf(error)));
        finishUpdate(completed, error, nullptr, false);
        return;
    }
    local.close();
    m_editedSize.store(QFileInfo(localPath).size());
    // An upload keeps the name of the file it sends, so the edited copy goes
    // up under the document's own name, or not at all.
    VNErrorPtr sourceError;
    document = uploadSourceFor(document, &sourceError);
    if (!document) {
        VNLog::log(QStringLiteral("QNUpdateFileTaskItem copyDocument error: %1").arg(QNErrorWrapper::textOf(sourceError)));
        finishUpdate(completed, sourceError, nullptr, false);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_uploadSource = document;
    }

    auto original = m_originalDocument;
    std::function<QDateTime()> clock;
    {
        std::lock_guard lock(m_mutex);
        clock = m_clock;
    }
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    auto backup = QNDocument::create();
    backup->setDisplayName(original->displayName().isEmpty() ? lastPathComponent(original->path())
                                                             : original->displayName());
    backup->setPath(backupPath(original->path(), now));
    backup->setId(original->id());
    backup->setEditURL(original->editURL());
    backup->setGdResourceId(original->gdResourceId());
    backup->setFileObject(original->fileObject());
    backup->setFeedPhotoAlbum(original->feedPhotoAlbum());
    backup->setSha1(original->sha1());

    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    std::weak_ptr<QNTask> weakTask = task;
    std::weak_ptr<QNTaskItem> weakPrimary = primary;
    auto rename = std::make_shared<QNRenameOperation>(
        toDriveConfig(), original, backup,
        [=](QNDocumentPtr result, VNErrorPtr error, bool cancelled) {
            // The drive document under its backup name, as a document of the
            // item's own: neither the one the drive answered (some hand back
            // the document they were given) nor the drive document, which is
            // the opened copy's record of where it came from, is changed.
            QNDocumentPtr renamed;
            if (result || (!error && !cancelled)) {
                renamed = (result ? result : backup)->copy();
                renamed->setPath(joinPath(folderOf(original->path()), lastPathComponent(backup->path())));
                if (renamed->id().isNull())
                    renamed->setId(original->id());
                renamed->setEditURL(original->editURL());
                renamed->setGdResourceId(original->gdResourceId());
                renamed->setFileObject(original->fileObject());
                renamed->setFeedPhotoAlbum(original->feedPhotoAlbum());
                renamed->setIsDirectory(original->isDirectory());
            }
            auto task = weakTask.lock();
            if (cancelled) {
                std::shared_ptr<QNHandlerCallWatch> watch;
                {
                    std::lock_guard lock(self->m_mutex);
                    if (task)
                        self->m_lifeCycleHold = task->holdLifeCycle(self);
                    watch = self->m_renameWatch;
                }
                if (renamed) {
                    self->setRenamedDocument(renamed);
                    self->restoreBackup(completed, nullptr, true);
                } else {
                    self->restoreIfRenamed(completed, backup, watch);
                }
                return;
            }
            if (error) {
                // A reply lost on its way back comes as an error after the
                // drive renamed all the same: look before ending.
                {
                    std::lock_guard lock(self->m_mutex);
                    if (task)
                        self->m_lifeCycleHold = task->holdLifeCycle(self);
                }
                self->lookForBackup(completed, backup, true, error);
                return;
            }
            {
                std::lock_guard lock(self->m_mutex);
                self->m_renamedDocument = renamed;
                // The drive now holds only the backup: the task must not end
                // before the document is back under its name.
                if (task)
                    self->m_lifeCycleHold = task->holdLifeCycle(self);
            }
            self->setProgressAndReport(0.1, update);
            auto primary = weakPrimary.lock();
            if (!task || !primary) {
                self->restoreBackup(completed, nullptr, true);
                return;
            }
            self->QNCopyTaskItem::copyDocument(document, toDocument, fromQueue, toQueue, metadataQueue, completed,
                                               update, task, primary);
            if (task->canceled())
                self->taskWasCancelled();  // the upload was cancelled as it was queued
        });
    {
        std::lock_guard lock(m_mutex);
        m_renameWatch = rename->handlerCallWatch();
    }
    // The backup's name is unique by its time: the save-back's renames go
    // their own way, without a listing first.
    rename->setChecksNewName(false);
    addOperation(metadataQueue, rename);
}

void QNUpdateFileTaskItem::postCopy(QNTaskItemCompletedBlock completed, VNErrorPtr error, QNDocumentPtr document,
                                    VNOperationQueue *queue, bool cancelled) {
    VNLog::log(QStringLiteral("postCopyWithCompletedBlock, canceled: %1, subitems: %2")
                   .arg(cancelled ? 1 : 0)
                   .arg(subitems().size()));
    if (cancelled) {
        restoreAfterCancel(completed, error);
        return;
    }
    if (error) {
        restoreBackup(completed, error, false);
        return;
    }
    if (wasSkipped()) {
        // Left out, the edited copy was never sent: the document goes back
        // under its name, and the save-back failed for the reason noted.
        restoreBackup(completed, makeError(notes().join(QLatin1Char(' '))), false);
        return;
    }
    // The edited file is up under the document's name: from here on that is
    // the drive document, however the backup's removal ends.
    keepUploaded(document);
    if (!queue)
        if (auto owner = task())
            queue = owner->fromQueue();
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    auto remove = std::make_shared<QNRemoveOperation>(
        toDriveConfig(), renamedDocument(), [self, completed](QNDocumentPtr removed, VNErrorPtr error, bool cancelled) {
            self->touchTask();
            self->m_backupRemovalAnswered.store(true);
            VNLog::log(QStringLiteral("----- removeOperation finished"));
            if (error && !cancelled) {
                VNLog::log(QStringLiteral("QNUpdateFileTaskItem postCopyWithCompletedBlock error: %1").arg(QNErrorWrapper::textOf(error)));
                self->finishUpdate(completed, error, nullptr, false);
                return;
            }
            if (cancelled) {
                self->endAfterCancelledRemoval(completed);
                return;
            }
            self->finishUpdate(completed, nullptr, removed, false);
        });
    observeRunning(remove);
    {
        std::lock_guard lock(m_mutex);
        m_backupRemoval = remove;
    }
    addOperation(queue, remove);
    if (auto owner = task(); owner && owner->canceled())
        taskWasCancelled();  // the removal was cancelled as it was queued
}

QNDocumentPtr QNUpdateFileTaskItem::uploadSourceFor(const QNDocumentPtr &edited, VNErrorPtr *error) const {
    const QString name = lastPathComponent(m_originalDocument->path());
    const QString localPath = edited->path();
    if (lastPathComponent(localPath) == name)
        return edited;
    // An opened copy under another name (one the local disk could not
    // carry): a copy of it under the document's name goes up instead.
    const bool carried = !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
                         !name.contains(QChar(0));
    if (!carried) {
        *error = makeError(QStringLiteral("\u201c%1\u201d cannot be saved back: a file on this computer cannot carry "
                                          "its name, so the edited copy would not arrive under it. The document on "
                                          "the drive was left as it was.")
                               .arg(name));
        return nullptr;
    }
    const QString folder = tempDirectory().isEmpty()
                               ? QString()
                               : joinPath(tempDirectory(), QStringLiteral("save-back-") + QNUtils::uuidString());
    const QString staged = joinPath(folder, name);
    QFile source(localPath);
    if (folder.isEmpty() || !QDir().mkpath(folder) || !source.copy(staged)) {
        *error = makeError(QStringLiteral("The edited copy \"%1\" could not be readied for its upload under the "
                                          "name \u201c%2\u201d (%3); the document on the drive was left as it was.")
                               .arg(localPath, name,
                                    source.errorString().isEmpty() ? QStringLiteral("no temporary folder")
                                                                   : source.errorString()));
        return nullptr;
    }
    auto document = edited->copy();
    document->setPath(staged);
    document->setDisplayName(name);
    return document;
}

void QNUpdateFileTaskItem::keepUploaded(const QNDocumentPtr &answer) {
    // Only a file of the uploaded name is the new item: a drive that answers
    // with the folder it uploaded into, or with nothing, names none.
    const QString name = lastPathComponent(m_originalDocument->path());
    QString answered;
    if (answer)
        answered = answer->displayName().isEmpty() ? lastPathComponent(answer->path()) : answer->displayName();
    const bool isTheFile = answer && !answer->isDirectory() && !name.isEmpty() && answered == name;
    std::lock_guard lock(m_mutex);
    m_uploaded = true;
    m_uploadedDocument = isTheFile ? answer->copy() : nullptr;
}

void QNUpdateFileTaskItem::failCopy(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error) {
    restoreBackup(completed, error, false);
}

void QNUpdateFileTaskItem::taskWasCancelled() {
    QNCopyTaskItem::taskWasCancelled();
    if (hasConcluded() || !renamedDocument())
        return;
    std::shared_ptr<VNOperation> removal;
    {
        std::lock_guard lock(m_mutex);
        removal = m_backupRemoval;
    }
    if (removal) {
        // The new file is up; a backup removal that never started stays
        // undone, and the backup on the drive is said.
        if (!removal->isExecuting() && !m_backupRemovalAnswered.load()) {
            const VNErrorPtr kept = backupKeptError(QString());
            VNLog::log(QStringLiteral("QNUpdateFileTaskItem: %1").arg(QNErrorWrapper::textOf(kept)));
            finishUpdate(completedBlock(), kept, nullptr, false);
        }
        return;
    }
    // An upload that answered goes on through postCopy, one that runs
    // answers as cancelled; one cancelled before it started answers only
    // when its queue reaches it: put the document back now.
    if (uploadAnswered())
        return;
    auto upload = uploadOperation();
    if (upload && upload->isExecuting())
        return;
    restoreBackup(completedBlock(), nullptr, true);
}

VNErrorPtr QNUpdateFileTaskItem::backupKeptError(const QString &why) const {
    const QString name = lastPathComponent(m_originalDocument->path());
    const auto backup = renamedDocument();
    const QString backupName = backup ? lastPathComponent(backup->path()) : QString();
    if (why.isEmpty())
        return makeError(QStringLiteral("The backup \u201c%2\u201d is still on the drive beside the saved \u201c%1\u201d: "
                                        "the save-back was cancelled before the backup was removed.")
                             .arg(name, backupName));
    return makeError(QStringLiteral("The backup \u201c%2\u201d may still be on the drive beside the saved "
                                    "\u201c%1\u201d: the save-back was cancelled while the backup was being removed, "
                                    "and whether the drive removed it could not be told (%3).")
                         .arg(name, backupName, why));
}

void QNUpdateFileTaskItem::endAfterCancelledRemoval(const QNTaskItemCompletedBlock &completed) {
    std::shared_ptr<QNHandlerCallWatch> watch;
    {
        std::lock_guard lock(m_mutex);
        if (auto *call = dynamic_cast<QNHandlerCall *>(m_backupRemoval.get()))
            watch = call->handlerCallWatch();
    }
    const auto backup = renamedDocument();
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    // The cancel answered for the drive, which may still be removing the
    // backup: its own answer, or a look once it has come, tells.
    VNDispatch::globalAsync([self, completed, watch, backup] {
        const bool answered = self->awaitAnswer(watch);
        if (answered && watch && watch->answer().succeeded()) {
            self->finishUpdate(completed, nullptr, nullptr, false);
            return;
        }
        const QString backupName = backup ? lastPathComponent(backup->path()) : QString();
        auto list = std::make_shared<QNListDocumentsOperation>(
            self->toDriveConfig(), self->driveFolder(), QString(),
            [self, completed, backupName](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
                self->touchTask();
                bool backupThere = false;
                for (const auto &document : documents)
                    backupThere = backupThere || listedName(document) == backupName;
                VNErrorPtr said;
                if (error || cancelled)
                    said = self->backupKeptError(error ? QNErrorWrapper::textOf(error) : QStringLiteral("its folder was not listed"));
                else if (backupThere)
                    said = self->backupKeptError(QString());
                if (said)
                    VNLog::log(QStringLiteral("QNUpdateFileTaskItem: %1").arg(QNErrorWrapper::textOf(said)));
                // Gone: the save-back was done whole after all.
                self->finishUpdate(completed, said, nullptr, false);
            });
        list->start();
    });
}

void QNUpdateFileTaskItem::setRenamedDocument(const QNDocumentPtr &renamed) {
    std::lock_guard lock(m_mutex);
    m_renamedDocument = renamed;
}

void QNUpdateFileTaskItem::restoreIfRenamed(const QNTaskItemCompletedBlock &completed, const QNDocumentPtr &backup,
                                            const std::shared_ptr<QNHandlerCallWatch> &renameCall) {
    // The cancel answered for the drive, which may still be renaming (a
    // rename once sent runs to the drive's answer): act on that answer once
    // it has come, and not wait for ever.
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    VNDispatch::globalAsync([self, completed, backup, renameCall] {
        const bool answered = self->awaitAnswer(renameCall);
        if (answered && renameCall && renameCall->answer().succeeded()) {
            // The drive says it renamed: the document goes back under its name.
            VNLog::log(QStringLiteral("QNUpdateFileTaskItem: the drive renamed the document after the cancel"));
            self->setRenamedDocument(backup->copy());
            self->restoreBackup(completed, nullptr, true);
            return;
        }
        // Refused, cut off before it was sent, or silent: look.
        self->lookForBackup(completed, backup, answered, nullptr);
    });
}

QNDocumentPtr QNUpdateFileTaskItem::driveFolder() const {
    if (m_originalParentDocument)
        return m_originalParentDocument;
    auto folder = QNDocument::create();
    folder->setPath(folderOf(m_originalDocument->path()));
    folder->setIsDirectory(true);
    return folder;
}

void QNUpdateFileTaskItem::lookForBackup(const QNTaskItemCompletedBlock &completed, const QNDocumentPtr &backup,
                                         bool renameAnswered, const VNErrorPtr &renameError) {
    const QString backupName = lastPathComponent(backup->path());
    const QString name = lastPathComponent(m_originalDocument->path());
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    // Outside the task's queues, like the restore itself.
    auto list = std::make_shared<QNListDocumentsOperation>(
        toDriveConfig(), driveFolder(), QString(),
        [self, completed, backup, backupName, name, renameAnswered, renameError](
            QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->touchTask();
            if ((error || cancelled) && renameError) {
                auto reported = self->makeError(
                    QStringLiteral("%1 It could not be told whether the drive renamed \u201c%2\u201d all the same: "
                                   "the document may be kept on the drive as \u201c%3\u201d.")
                        .arg(QNErrorWrapper::textOf(renameError), name, backupName));
                VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore error: %1").arg(QNErrorWrapper::textOf(reported)));
                self->finishUpdate(completed, reported, nullptr, false);
                return;
            }
            if (error || cancelled) {
                // Still unknown: try the restore; one that fails looks again
                // before it says where the document is.
                self->setRenamedDocument(backup->copy());
                self->restoreBackup(completed, nullptr, true, true);
                return;
            }
            QNDocumentPtr found;
            bool nameTaken = false;
            for (const auto &document : documents) {
                const QString listed = listedName(document);
                if (listed == backupName)
                    found = document;
                else if (listed == name)
                    nameTaken = true;
            }
            // Only a backup whose document has left its name is the one the
            // rename made: never moved over a document under its name.
            if (found && !nameTaken) {
                auto renamed = found->copy();
                if (renamed->path().isEmpty())
                    renamed->setPath(backup->path());
                self->setRenamedDocument(renamed);
                self->restoreBackup(completed, renameError, !renameError);
                return;
            }
            if (renameError || renameAnswered) {
                // The rename never happened: the document kept its name.
                self->finishUpdate(completed, renameError, nullptr, !renameError);
                return;
            }
            // The drive has not said how far it got: it may rename still.
            auto reported = self->makeError(
                QStringLiteral("\u201c%1\u201d is on the drive under its own name, unless the drive still renames "
                               "it to \u201c%2\u201d: the save-back was cancelled while the drive was renaming it, and "
                               "the drive has not answered.")
                    .arg(name, backupName));
            VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore error: %1").arg(QNErrorWrapper::textOf(reported)));
            self->finishUpdate(completed, reported, nullptr, false);
        });
    list->start();
}

void QNUpdateFileTaskItem::restoreAfterCancel(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error) {
    // An upload cancelled before the drive was called has nothing to wait for.
    auto watch = uploadCallWatch();
    if (!uploadAnswered() || !watch || !renamedDocument()) {
        restoreBackup(completed, error, true);
        return;
    }
    if (m_restoreClaimed.exchange(true) || hasConcluded())
        return;
    // The cancel answered for the drive, which may still be putting the
    // file in place (renaming its temporary file onto the name, ending a
    // request it has sent whole): a restore made before it is done would be
    // written over. Look once it has given its own answer, and not for ever.
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    VNDispatch::globalAsync([self, completed, error, watch] {
        const bool answered = self->awaitAnswer(watch);
        self->lookAfterCancelledUpload(completed, error, answered);
    });
}

void QNUpdateFileTaskItem::lookAfterCancelledUpload(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                                    bool uploadAnswered) {
    const QString name = lastPathComponent(m_originalDocument->path());
    const QString backupName = lastPathComponent(renamedDocument()->path());
    const qint64 editedSize = m_editedSize.load();
    // The drive's own late answer, read as the rename's is: an upload it
    // says it completed is the edited version in place, whatever a look
    // shows (a listing that fails, or gives a size of its own), and the
    // backup must not be put over it.
    const auto uploadCall = uploadCallWatch();
    const bool completedLate = uploadAnswered && uploadCall && uploadCall->answer().succeeded();
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    auto list = std::make_shared<QNListDocumentsOperation>(
        toDriveConfig(), driveFolder(), QString(),
        [self, completed, error, uploadAnswered, completedLate, name, backupName, editedSize](
            QNDocumentList documents, QString, VNErrorPtr listError, bool listCancelled) {
            self->touchTask();
            const bool looked = !listError && !listCancelled;
            QNDocumentPtr underName;
            bool backupThere = false;
            for (const auto &document : documents) {
                const QString listed = listedName(document);
                if (listed == name && !document->isDirectory())
                    underName = document;
                else if (listed == backupName)
                    backupThere = true;
            }
            if (completedLate) {
                VNLog::log(QStringLiteral("QNUpdateFileTaskItem: the drive completed the upload after the cancel"));
                // The backup goes only once the look shows the edited copy
                // under the document's name; the drive's word alone keeps it.
                if (looked && underName)
                    self->keepSavedAfterCancel(completed, underName, backupThere);
                else
                    self->keepBackupUnseen(completed,
                                           looked      ? QString()
                                           : listError ? QNErrorWrapper::textOf(listError)
                                                       : QStringLiteral("its listing was cancelled"),
                                           backupThere);
                return;
            }
            // Whatever stands under the name came from the upload (the
            // document left it for its backup name): whole, the save-back
            // was done after all.
            if (looked && underName && editedSize >= 0 && underName->size() == editedSize) {
                self->keepSavedAfterCancel(completed, underName, backupThere);
                return;
            }
            if (uploadAnswered || error) {
                self->putBackupBack(completed, error, true);
                return;
            }
            auto reported = self->makeError(
                QStringLiteral("The save-back was cancelled while the drive was receiving \u201c%1\u201d, and the "
                               "drive has not answered. If it completes the upload after all, the edited version is "
                               "kept on the drive as \u201c%1\u201d.")
                    .arg(name));
            VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore: %1").arg(QNErrorWrapper::textOf(reported)));
            self->putBackupBack(completed, reported, false);
        });
    list->start();
}

// Waits, as long as a cancelled call may take, for a call's answer (true at
// once when there is no call); an answer moves the held task on.
bool QNUpdateFileTaskItem::awaitAnswer(const std::shared_ptr<QNHandlerCallWatch> &call) const {
    const bool answered =
        !call || call->waitUntilAnswered(std::chrono::steady_clock::now() + QNTask::cancelledCallsWaitLimit());
    if (answered)
        touchTask();
    return answered;
}

void QNUpdateFileTaskItem::keepSavedAfterCancel(const QNTaskItemCompletedBlock &completed,
                                                const QNDocumentPtr &uploaded, bool backupThere) {
    VNLog::log(QStringLiteral("QNUpdateFileTaskItem: the upload was whole on the drive after its cancel; saved"));
    keepUploaded(uploaded);
    if (!backupThere) {
        finishUpdate(completed, nullptr, nullptr, false);
        return;
    }
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    auto remove = std::make_shared<QNRemoveOperation>(
        toDriveConfig(), renamedDocument(), [self, completed](QNDocumentPtr removed, VNErrorPtr error, bool cancelled) {
            self->touchTask();
            if (error && !cancelled) {
                VNLog::log(QStringLiteral("QNUpdateFileTaskItem postCopyWithCompletedBlock error: %1").arg(QNErrorWrapper::textOf(error)));
                self->finishUpdate(completed, error, nullptr, false);
                return;
            }
            self->finishUpdate(completed, nullptr, removed, cancelled);
        });
    remove->start();
}

void QNUpdateFileTaskItem::keepBackupUnseen(const QNTaskItemCompletedBlock &completed, const QString &lookError,
                                            bool backupThere) {
    const QString name = lastPathComponent(m_originalDocument->path());
    const QString backupName = lastPathComponent(renamedDocument()->path());
    QString message;
    if (!lookError.isNull()) {
        // Unseen for want of a look: the drive's word stands, and the
        // record follows the upload it says it completed.
        keepUploaded(nullptr);
        message = QStringLiteral("The drive completed the upload of \u201c%1\u201d after the save-back was "
                                 "cancelled, but its folder could not be listed to see it there (%3): the backup "
                                 "\u201c%2\u201d was kept on the drive beside it.")
                      .arg(name, backupName, lookError);
    } else {
        // The drive says the edited copy is up, its folder does not show
        // it: nothing under the name may be all there is of the document.
        message = QStringLiteral("The drive said it received the edited \u201c%1\u201d after the save-back was "
                                 "cancelled, but its folder shows no file of that name; the earlier version %3 "
                                 "\u201c%2\u201d.")
                      .arg(name, backupName,
                           backupThere ? QStringLiteral("is kept on the drive as")
                                       : QStringLiteral("may still be on the drive as"));
    }
    VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore: %1").arg(message));
    finishUpdate(completed, makeError(message), nullptr, false);
}

void QNUpdateFileTaskItem::restoreBackup(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                         bool cancelled, bool renameUncertain) {
    if (m_restoreClaimed.exchange(true) || hasConcluded())
        return;
    putBackupBack(completed, error, cancelled, renameUncertain);
}

void QNUpdateFileTaskItem::putBackupBack(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                         bool cancelled, bool renameUncertain) {
    auto renamed = renamedDocument();
    if (!renamed) {
        finishUpdate(completed, error, nullptr, cancelled);
        return;
    }
    auto original = m_originalDocument;
    auto name = QNDocument::create();
    name->setPath(original->path());
    name->setDisplayName(original->displayName().isEmpty() ? lastPathComponent(original->path())
                                                           : original->displayName());
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    // Outside the task's queues, so that a cancelled task still runs it; the
    // life cycle waits for it through the hold taken after the rename.
    auto rename = std::make_shared<QNRenameOperation>(
        toDriveConfig(), renamed, name,
        [self, completed, error, cancelled, renamed, renameUncertain](QNDocumentPtr, VNErrorPtr renameError,
                                                                      bool renameCancelled) {
            self->touchTask();
            if ((renameError || renameCancelled) && renameUncertain) {
                // Whether the drive ever renamed the document was not known:
                // a backup that cannot take the name may be no backup at all.
                VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore error: %1").arg(QNErrorWrapper::textOf(renameError)));
                self->sayWhereTheDocumentIs(completed, renamed);
                return;
            }
            if (renameError || renameCancelled) {
                VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore error: %1").arg(QNErrorWrapper::textOf(renameError)));
                const QString what = error ? QNErrorWrapper::textOf(error)
                                           : QStringLiteral("The save-back was cancelled.");
                auto reported = self->makeError(
                    QStringLiteral("%1 The document could not be given its name back; it is kept on the drive as \"%2\".")
                        .arg(what, lastPathComponent(renamed->path())));
                self->finishUpdate(completed, reported, nullptr, false);
                return;
            }
            self->finishUpdate(completed, error, nullptr, cancelled);
        });
    // Back under its own name, over whatever a failed upload left there.
    rename->setChecksNewName(false);
    rename->start();
}

void QNUpdateFileTaskItem::sayWhereTheDocumentIs(const QNTaskItemCompletedBlock &completed,
                                                 const QNDocumentPtr &backup) {
    const QString name = lastPathComponent(m_originalDocument->path());
    const QString backupName = lastPathComponent(backup->path());
    auto self = std::static_pointer_cast<QNUpdateFileTaskItem>(shared_from_this());
    auto list = std::make_shared<QNListDocumentsOperation>(
        toDriveConfig(), driveFolder(), QString(),
        [self, completed, name, backupName](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            self->touchTask();
            bool nameThere = false;
            bool backupThere = false;
            for (const auto &document : documents) {
                const QString listed = listedName(document);
                nameThere = nameThere || listed == name;
                backupThere = backupThere || listed == backupName;
            }
            QString message;
            if (error || cancelled || nameThere == backupThere)
                message = QStringLiteral("\u201c%1\u201d is on the drive under its own name or as \u201c%2\u201d: "
                                         "the save-back was cancelled while the drive was renaming it, and which of "
                                         "the two could not be told.")
                              .arg(name, backupName);
            else if (backupThere)
                message = QStringLiteral("\u201c%1\u201d is kept on the drive as \u201c%2\u201d: the save-back was "
                                         "cancelled, and the document could not be given its name back.")
                              .arg(name, backupName);
            if (message.isEmpty()) {
                // Never renamed: the document stands under its name, unchanged.
                self->finishUpdate(completed, nullptr, nullptr, true);
                return;
            }
            VNLog::log(QStringLiteral("QNUpdateFileTaskItem restore: %1").arg(message));
            self->finishUpdate(completed, self->makeError(message), nullptr, false);
        });
    list->start();
}

void QNUpdateFileTaskItem::finishUpdate(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                        const QNDocumentPtr &document, bool cancelled) {
    postCopyFinished(completed, error, document, cancelled);
    std::shared_ptr<void> hold;
    std::shared_ptr<VNOperation> removal;
    {
        std::lock_guard lock(m_mutex);
        hold = std::move(m_lifeCycleHold);
        removal = std::move(m_backupRemoval);
    }
    // Released last: the life cycle goes on only after the item has reported.
}
