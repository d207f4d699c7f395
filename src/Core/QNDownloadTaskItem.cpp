#include "Core/QNDownloadTaskItem.h"

#include "Core/QNDownloadOperation.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperation.h"

QNDownloadTaskItem::QNDownloadTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr destPath)
    : m_driveConfig(std::move(driveConfig)), m_document(std::move(document)), m_destPath(std::move(destPath)) {}

QString QNDownloadTaskItem::description() const {
    const auto doc = m_document;
    const QString name = doc ? doc->displayName() : QString();
    const QString size = !doc ? QString() : doc->isDirectory() ? QStringLiteral("Folder") : QNUtils::sizeString2(doc->size());
    return QStringLiteral("%1 %2 (%3) from %4")
        .arg(descriptionVerb(), name, size, m_driveConfig ? m_driveConfig->serviceName() : QString());
}

void QNDownloadTaskItem::enqueue(VNOperationQueue *fromQueue, VNOperationQueue *, VNOperationQueue *,
                                 const QNTaskPtr &task, const QNTaskItemPtr &, QNTaskItemCompletedBlock completed,
                                 QNTaskItemUpdateBlock update) {
    const QString why = unreadableReason(m_driveConfig, m_document);
    if (why.isNull()) {
        downloadDocument(m_document, m_destPath, fromQueue, std::move(completed), std::move(update), task);
        return;
    }
    // Nothing to read: left out, as a copy leaves it out. Said when the
    // task runs, so a cancel before then is heard as one.
    const QString path = QNUtils::withoutTrailingSlashes(m_document->path());
    const QString message = QStringLiteral("\u201c%1\u201d in \u201c%2\u201d was not downloaded: %3.")
                                .arg(path.section(QLatin1Char('/'), -1), path.section(QLatin1Char('/'), 0, -2), why);
    auto self = std::static_pointer_cast<QNDownloadTaskItem>(shared_from_this());
    addOperation(fromQueue, std::make_shared<VNBlockOperation>([self, completed, message] {
        VNLog::log(QStringLiteral("QNDownloadTaskItem downloadDocument: %1").arg(message));
        self->finishItem(completed, self->makeLeftOutError(message), nullptr, false, nullptr, nullptr, false);
    }));
}

void QNDownloadTaskItem::downloadDocument(QNDocumentPtr document, QNDocumentPtr destPath, VNOperationQueue *queue,
                                          QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update,
                                          const QNTaskPtr &) {
    auto self = std::static_pointer_cast<QNDownloadTaskItem>(shared_from_this());
    auto download = std::make_shared<QNDownloadOperation>(
        m_driveConfig, document, destPath,
        [self, update](double p) {
            self->setProgress(static_cast<float>(p));
            VNDispatch::mainAsync([self, update] { self->triggerUpdateBlock(update); });
        },
        [self, completed](QNDocumentPtr downloaded, VNErrorPtr error, bool cancelled) {
            if (!error) {
                self->finishItem(completed, nullptr, downloaded, cancelled);
                return;
            }
            VNLog::log(QStringLiteral("QNDownloadTaskItem downloadDocument error: %1").arg(QNErrorWrapper(error).localizedDescription()));
            self->finishItem(completed, error, downloaded, cancelled, error, nullptr, false);
        });
    addOperation(queue, download);
}
