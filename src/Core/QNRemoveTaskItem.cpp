#include "Core/QNRemoveTaskItem.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

namespace {

QString lastPathComponent(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.section(QLatin1Char('/'), -1);
}

// Whether a listed document lies directly inside the folder: a listing that
// names "..", "." or a path elsewhere would send the removal outside it.
bool isInsideFolder(const QNDocumentPtr &child, const QNDocumentPtr &folder) {
    if (!child)
        return false;
    // Folder paths may end in "/" (FTP and SFTP list them so): compared
    // without it on both sides.
    QString path = child->path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString name = lastPathComponent(path);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QChar(u'\0')) ||
        QNTask::checkDrivePath(path, QStringLiteral("QNRemoveTaskItem")))
        return false;
    QString parent = folder->path();
    while (parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    return path == parent + QLatin1Char('/') + name;
}

}  // namespace

QNRemoveTaskItem::QNRemoveTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document)
    : m_driveConfig(std::move(driveConfig)), m_document(std::move(document)) {}

QString QNRemoveTaskItem::description() const {
    const auto doc = m_document;
    const QString name = doc ? doc->displayName() : QString();
    const QString size = !doc ? QString() : doc->isDirectory() ? QStringLiteral("Folder") : QNUtils::sizeString2(doc->size());
    return QStringLiteral("Remove %1 (%2) from %3").arg(name, size, m_driveConfig ? m_driveConfig->serviceName() : QString());
}

QNTaskItemCompletedBlock QNRemoveTaskItem::completedBlock() const {
    std::lock_guard lock(m_mutex);
    return m_completedBlock;
}

QList<QNDocumentPtr> QNRemoveTaskItem::documentsToRemove() const {
    std::lock_guard lock(m_mutex);
    return m_documentsToRemove;
}

void QNRemoveTaskItem::enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                               const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                               QNTaskItemUpdateBlock) {
    {
        std::lock_guard lock(m_mutex);
        m_completedBlock = completed;
    }
    if (m_driveConfig && m_driveConfig->needsRecursiveRemove() && m_document && m_document->isDirectory() &&
        !m_document->isLink())
        recursiveRemove(fromQueue, toQueue, metadataQueue, completed);
    else
        removeDocument(m_document, fromQueue, metadataQueue, completed, task, primary);
}

void QNRemoveTaskItem::removeDocument(QNDocumentPtr document, VNOperationQueue *queue, VNOperationQueue *,
                                      QNTaskItemCompletedBlock completed, const QNTaskPtr &, const QNTaskItemPtr &) {
    auto self = std::static_pointer_cast<QNRemoveTaskItem>(shared_from_this());
    auto remove = std::make_shared<QNRemoveOperation>(
        m_driveConfig, document, [self, completed, queue](QNDocumentPtr removed, VNErrorPtr error, bool cancelled) {
            VNLog::log(QStringLiteral("QNRemoveTaskItem removeDocument finished %1")
                           .arg(lastPathComponent(removed ? removed->path() : QString())));
            if (cancelled) {
                self->postRemoveFinished(completed, nullptr, nullptr, true);
            } else if (error) {
                VNLog::log(QStringLiteral("QNRemoveTaskItem removeDocument error: %1").arg(QNErrorWrapper::textOf(error)));
                self->postRemoveFinished(completed, error, nullptr, false);
            } else {
                self->postRemove(completed, nullptr, removed, queue, false);
            }
        });
    addOperation(queue, remove);
}

void QNRemoveTaskItem::recursiveRemove(VNOperationQueue *fromQueue, VNOperationQueue *toQueue,
                                       VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed) {
    {
        std::lock_guard lock(m_mutex);
        m_documentsToRemove.append(m_document);
    }
    depthWalk(metadataQueue, m_document);
    auto self = std::static_pointer_cast<QNRemoveTaskItem>(shared_from_this());
    // The removal pass: in the transfer phase, once the whole walk is done.
    addOperation(fromQueue, std::make_shared<VNBlockOperation>([self, toQueue, completed] {
        VNErrorPtr unsafe;
        int count = 0;
        {
            std::lock_guard lock(self->m_mutex);
            unsafe = self->m_unsafeListing;
            count = self->m_documentsToRemove.size();
        }
        if (unsafe) {
            VNLog::log(QStringLiteral("QNRemoveTaskItem removeDocument error: %1").arg(QNErrorWrapper::textOf(unsafe)));
            self->postRemoveFinished(completed, unsafe, nullptr, false);
            return;
        }
        self->removeInTurn(count - 1, toQueue, completed);
    }));
}

void QNRemoveTaskItem::depthWalk(VNOperationQueue *metadataQueue, QNDocumentPtr folder) {
    auto self = std::static_pointer_cast<QNRemoveTaskItem>(shared_from_this());
    auto list = std::make_shared<QNListDocumentsOperation>(
        m_driveConfig, folder, QString(),
        [self, metadataQueue, folder](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                VNLog::log(QStringLiteral("QNRemoveTaskItem depthWalk canceled"));
                return;
            }
            if (error) {
                // The folder holding the unlisted branch then fails to go,
                // with the drive's own error.
                VNLog::log(QStringLiteral("QNRemoveTaskItem depthWalk error: %1").arg(QNErrorWrapper::textOf(error)));
                return;
            }
            for (const auto &document : documents) {
                if (!isInsideFolder(document, folder)) {
                    std::lock_guard lock(self->m_mutex);
                    if (!self->m_unsafeListing)
                        self->m_unsafeListing = self->makeError(
                            QStringLiteral("Nothing was removed: the listing of \"%1\" names an item outside it (\"%2\").")
                                .arg(folder->path(), document ? document->path() : QString()));
                    continue;
                }
                // A link goes as the link itself: nothing behind it is ours.
                if (document->isDirectory() && !document->isLink())
                    self->depthWalk(metadataQueue, document);
                std::lock_guard lock(self->m_mutex);
                self->m_documentsToRemove.append(document);
            }
        });
    addOperation(metadataQueue, list);
}

void QNRemoveTaskItem::removeInTurn(int index, VNOperationQueue *toQueue, QNTaskItemCompletedBlock completed) {
    QNDocumentPtr document;
    {
        std::lock_guard lock(m_mutex);
        if (index < 0 || index >= m_documentsToRemove.size())
            return;
        document = m_documentsToRemove[index];
    }
    auto self = std::static_pointer_cast<QNRemoveTaskItem>(shared_from_this());
    auto remove = std::make_shared<QNRemoveOperation>(
        m_driveConfig, document, [self, index, toQueue, completed](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->postRemoveFinished(completed, error, nullptr, true);
                return;
            }
            if (error) {
                VNLog::log(QStringLiteral("QNRemoveTaskItem removeDocument error: %1").arg(QNErrorWrapper::textOf(error)));
                self->postRemoveFinished(completed, error, nullptr, false);
                return;
            }
            if (index == 0) {
                self->postRemoveFinished(completed, nullptr, self->document(), false);
                return;
            }
            // The next one goes on before this removal finishes, one at a
            // time, and only after this one succeeded.
            self->removeInTurn(index - 1, toQueue, completed);
        });
    addOperation(toQueue, remove);
}

void QNRemoveTaskItem::postRemove(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                  const QNDocumentPtr &document, VNOperationQueue *, bool cancelled) {
    postRemoveFinished(completed, error, document, cancelled);
}

void QNRemoveTaskItem::postRemoveFinished(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                          const QNDocumentPtr &document, bool cancelled) {
    finishItem(completed, error, document, cancelled);
}
