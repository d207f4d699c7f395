#include "Core/QNRemoveOperation.h"

QNRemoveOperation::QNRemoveOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document,
                                     QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)), m_document(std::move(document)) {}

void QNRemoveOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.remove(m_document, std::move(inner));
}
