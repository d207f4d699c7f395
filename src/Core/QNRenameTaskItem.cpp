#include "Core/QNRenameTaskItem.h"

#include "Core/QNRenameOperation.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

QNRenameTaskItem::QNRenameTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr destPath)
    : m_driveConfig(std::move(driveConfig)), m_document(std::move(document)), m_destPath(std::move(destPath)) {}

QString QNRenameTaskItem::description() const {
    const auto doc = m_document;
    const QString name = doc ? doc->displayName() : QString();
    const QString size = !doc ? QString() : doc->isDirectory() ? QStringLiteral("Folder") : QNUtils::sizeString2(doc->size());
    return QStringLiteral("Rename %1 (%2) from %3").arg(name, size, m_driveConfig ? m_driveConfig->serviceName() : QString());
}

void QNRenameTaskItem::enqueue(VNOperationQueue *fromQueue, VNOperationQueue *, VNOperationQueue *,
                               const QNTaskPtr &task, const QNTaskItemPtr &, QNTaskItemCompletedBlock completed,
                               QNTaskItemUpdateBlock update) {
    renameDocument(m_document, m_destPath, fromQueue, std::move(completed), std::move(update), task);
}

void QNRenameTaskItem::renameDocument(QNDocumentPtr document, QNDocumentPtr destPath, VNOperationQueue *queue,
                                      QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock, const QNTaskPtr &) {
    auto self = std::static_pointer_cast<QNRenameTaskItem>(shared_from_this());
    auto rename = std::make_shared<QNRenameOperation>(
        m_driveConfig, document, destPath,
        [self, completed, destPath](QNDocumentPtr result, VNErrorPtr error, bool cancelled) {
            auto last = [](const QNDocumentPtr &d) { return d ? d->path().section(QLatin1Char('/'), -1) : QString(); };
            VNLog::log(QStringLiteral("QNRenameTaskItem renameDocument finished %1 to %2").arg(last(result), last(destPath)));
            if (!error) {
                self->finishItem(completed, nullptr, result, cancelled);
                return;
            }
            VNLog::log(QStringLiteral("QNRenameTaskItem renameDocument error: %1").arg(QNErrorWrapper(error).localizedDescription()));
            self->finishItem(completed, error, result, cancelled, error, nullptr, false);
        });
    addOperation(queue, rename);
}
