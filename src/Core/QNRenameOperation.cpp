#include "Core/QNRenameOperation.h"

QNRenameOperation::QNRenameOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                                     QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_name(std::move(name)) {}

void QNRenameOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.rename(m_document, m_name, std::move(inner));
}
