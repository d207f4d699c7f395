#include "Core/QNPreviewTask.h"

QNPreviewTask::QNPreviewTask(QObject *filesViewController) : m_filesViewController(filesViewController) {
    setUsePriorityQueue(true);
}
