#pragma once

#include "Core/QNDriveConfig.h"
#include "Core/QNTaskItem.h"

#include <QList>
#include <atomic>
#include <mutex>

// Removes one document from a drive. On drives that remove only empty
// folders (needsRecursiveRemove) a folder's tree is first listed, one folder
// at a time on the metadata queue, and then every document is removed, one
// at a time on the to queue, each before the folder that holds it. The first
// failing removal ends the item (and through the manager the task); nothing
// after it is removed. Runs in a plain QNTask ("Remove Files and Folders").
class QNRemoveTaskItem : public QNTaskItem {
public:
    QNRemoveTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document);

    QNDocumentPtr document() const override { return m_document; }
    // "Remove name (Folder) from Service".
    QString description() const override;
    QString className() const override { return QStringLiteral("QNRemoveTaskItem"); }

    void enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                 const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                 QNTaskItemUpdateBlock update) override;

    // One removal on the given queue.
    void removeDocument(QNDocumentPtr document, VNOperationQueue *queue, VNOperationQueue *metadataQueue,
                        QNTaskItemCompletedBlock completed, const QNTaskPtr &task, const QNTaskItemPtr &primary);
    // The tree removal: the walk now, the removals in the transfer phase.
    void recursiveRemove(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                         QNTaskItemCompletedBlock completed);
    // Lists one folder of the tree.
    void depthWalk(VNOperationQueue *metadataQueue, QNDocumentPtr folder);
    // After a removal: finishes with the same values.
    void postRemove(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error, const QNDocumentPtr &document,
                    VNOperationQueue *queue, bool cancelled);
    void postRemoveFinished(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                            const QNDocumentPtr &document, bool cancelled);

    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    QNTaskItemCompletedBlock completedBlock() const;
    int unfinishedSubTaskItems() const { return 0; }
    // The documents found by the walk, in the order found (the folder first).
    QList<QNDocumentPtr> documentsToRemove() const;

private:
    // Removes documentsToRemove[index], then the ones before it.
    void removeInTurn(int index, VNOperationQueue *toQueue, QNTaskItemCompletedBlock completed);

    QNDriveConfigPtr m_driveConfig;
    QNDocumentPtr m_document;
    mutable std::mutex m_mutex;
    QNTaskItemCompletedBlock m_completedBlock;
    QList<QNDocumentPtr> m_documentsToRemove;
    VNErrorPtr m_unsafeListing;  // a listing named something outside its folder
};
