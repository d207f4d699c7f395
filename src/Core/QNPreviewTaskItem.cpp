#include "Core/QNPreviewTaskItem.h"

QNPreviewTaskItem::QNPreviewTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr destPath)
    : QNDownloadTaskItem(std::move(driveConfig), std::move(document), std::move(destPath)) {
    setUsePriorityQueue(true);
}
