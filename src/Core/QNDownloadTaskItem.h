#pragma once

#include "Core/QNDriveConfig.h"
#include "Core/QNTaskItem.h"

#include <atomic>

// Downloads one document to a given local file as a task item, with the
// download's own progress (0 to 1). Runs in a QNDownloadTask.
class QNDownloadTaskItem : public QNTaskItem {
public:
    // destPath: a document whose path is the local destination file.
    QNDownloadTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr destPath);

    QNDocumentPtr document() const override { return m_document; }
    // "Download name (1.50 KB) from Service".
    QString description() const override;
    QString className() const override { return QStringLiteral("QNDownloadTaskItem"); }

    void enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                 const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                 QNTaskItemUpdateBlock update) override;
    // One download on the queue; progress reaches the listeners on the main queue.
    void downloadDocument(QNDocumentPtr document, QNDocumentPtr destPath, VNOperationQueue *queue,
                          QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update, const QNTaskPtr &task);

    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    QNDocumentPtr destPath() const { return m_destPath; }
    // Kept for callers; the engine reads the task's flag of the same name.
    bool usePriorityQueue() const { return m_usePriorityQueue.load(); }
    void setUsePriorityQueue(bool use) { m_usePriorityQueue.store(use); }

protected:
    // The first words of the description.
    virtual QString descriptionVerb() const { return QStringLiteral("Download"); }

private:
    QNDriveConfigPtr m_driveConfig;
    QNDocumentPtr m_document;
    QNDocumentPtr m_destPath;
    std::atomic<bool> m_usePriorityQueue{false};
};
