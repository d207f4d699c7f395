#include "Core/QNLinkTaskItem.h"

#include "Core/QNLinkOperation.h"
#include "Core/QNUtils.h"

QNLinkTaskItem::QNLinkTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document)
    : m_driveConfig(std::move(driveConfig)), m_document(std::move(document)) {}

QString QNLinkTaskItem::description() const {
    const auto doc = m_document;
    const QString name = doc ? doc->displayName() : QString();
    const QString size = !doc ? QString() : doc->isDirectory() ? QStringLiteral("Folder") : QNUtils::sizeString2(doc->size());
    return QStringLiteral("Get link for %1 (%2) from %3")
        .arg(name, size, m_driveConfig ? m_driveConfig->serviceName() : QString());
}

void QNLinkTaskItem::enqueue(VNOperationQueue *fromQueue, VNOperationQueue *, VNOperationQueue *, const QNTaskPtr &,
                             const QNTaskItemPtr &, QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update) {
    auto self = std::static_pointer_cast<QNLinkTaskItem>(shared_from_this());
    auto link = std::make_shared<QNLinkOperation>(
        m_driveConfig, m_document, [self, completed, update](QNDocumentPtr linked, VNErrorPtr error, bool cancelled) {
            // The item has its answer, whatever it is.
            self->setProgress(1.0f);
            self->triggerUpdateBlock(update);
            self->finishItem(completed, error, linked, cancelled);
        });
    addOperation(fromQueue, link);
}
