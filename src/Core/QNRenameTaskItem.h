#pragma once

#include "Core/QNDriveConfig.h"
#include "Core/QNTaskItem.h"

#include <atomic>

// Gives one document a new name as a task item.
class QNRenameTaskItem : public QNTaskItem {
public:
    // destPath: a document whose path is the new path (in the same folder).
    QNRenameTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr destPath);

    QNDocumentPtr document() const override { return m_document; }
    // "Rename name (1.50 KB) from Service".
    QString description() const override;
    QString className() const override { return QStringLiteral("QNRenameTaskItem"); }

    void enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                 const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                 QNTaskItemUpdateBlock update) override;
    void renameDocument(QNDocumentPtr document, QNDocumentPtr destPath, VNOperationQueue *queue,
                        QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update, const QNTaskPtr &task);

    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    QNDocumentPtr destPath() const { return m_destPath; }
    bool usePriorityQueue() const { return m_usePriorityQueue.load(); }
    void setUsePriorityQueue(bool use) { m_usePriorityQueue.store(use); }

private:
    QNDriveConfigPtr m_driveConfig;
    QNDocumentPtr m_document;
    QNDocumentPtr m_destPath;
    std::atomic<bool> m_usePriorityQueue{false};
};
