#include "Core/QNCopyOperation.h"

QNCopyOperation::QNCopyOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                                 QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_name(std::move(name)) {}

void QNCopyOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.localCopy(m_document, m_name, std::move(inner));
}
