#pragma once

#include "Core/QNDownloadTaskItem.h"

#include <QObject>
#include <QPointer>

// A download item for a preview: asks for the priority queue.
class QNPreviewTaskItem : public QNDownloadTaskItem {
public:
    QNPreviewTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr destPath);

    QString className() const override { return QStringLiteral("QNPreviewTaskItem"); }
    // The files pane that wants the preview (not set by the item).
    QPointer<QObject> filesViewController() const { return m_filesViewController; }
    void setFilesViewController(QObject *controller) { m_filesViewController = controller; }

protected:
    QString descriptionVerb() const override { return QStringLiteral("Preview download"); }

private:
    QPointer<QObject> m_filesViewController;
};
