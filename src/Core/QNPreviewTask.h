#pragma once

#include "Core/QNDownloadTask.h"

#include <QObject>
#include <QPointer>

// A download task for a preview of a files pane; runs on the manager's
// priority queue, beside the normal tasks.
class QNPreviewTask : public QNDownloadTask {
public:
    explicit QNPreviewTask(QObject *filesViewController = nullptr);

    // The files pane that asked for the preview (null once it is gone).
    QPointer<QObject> filesViewController() const { return m_filesViewController; }

private:
    QPointer<QObject> m_filesViewController;
};
