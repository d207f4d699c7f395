#include "Core/QNDownloadOperation.h"

QNDownloadOperation::QNDownloadOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document,
                                         QNDocumentPtr destPath, QNProgressCallback progressBlock,
                                         QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_destPath(std::move(destPath)),
      m_progressBlock(std::move(progressBlock)) {}

void QNDownloadOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.download(m_document, m_destPath, m_progressBlock, std::move(inner));
}
