#include "Core/QNLinkOperation.h"

QNLinkOperation::QNLinkOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document,
                                 QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)), m_document(std::move(document)) {}

void QNLinkOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.linkForDocument(m_document, std::move(inner));
}
