#include "Core/QNUploadOperation.h"

QNUploadOperation::QNUploadOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document,
                                     QNDocumentPtr destPath, QNProgressCallback progressBlock,
                                     QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_destPath(std::move(destPath)),
      m_progressBlock(std::move(progressBlock)) {}

void QNUploadOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.setUploadMayWriteOntoName(m_mayWriteOntoName);
    if (m_underTemporaryName)
        handler.uploadUnderTemporaryName(m_document, m_destPath, m_progressBlock, std::move(inner));
    else
        handler.upload(m_document, m_destPath, m_progressBlock, std::move(inner));
}
