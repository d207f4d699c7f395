#include "Core/QNMoveOperation.h"

QNMoveOperation::QNMoveOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                                 QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_name(std::move(name)) {}

void QNMoveOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.localMove(m_document, m_name, std::move(inner));
}
