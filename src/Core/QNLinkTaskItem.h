#pragma once

#include "Core/QNDriveConfig.h"
#include "Core/QNTaskItem.h"

// Asks a drive for the share link of one document. The document the drive
// gives back carries the link in link(); listeners read it there. Runs in a
// QNLinkTask.
class QNLinkTaskItem : public QNTaskItem {
public:
    QNLinkTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document);

    QNDocumentPtr document() const override { return m_document; }
    // "Get link for name (1.50 KB) from Service".
    QString description() const override;
    QString className() const override { return QStringLiteral("QNLinkTaskItem"); }
    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }

    void enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                 const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                 QNTaskItemUpdateBlock update) override;

private:
    QNDriveConfigPtr m_driveConfig;
    QNDocumentPtr m_document;
};
