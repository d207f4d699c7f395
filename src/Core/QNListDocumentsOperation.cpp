#include "Core/QNListDocumentsOperation.h"

QNListDocumentsOperation::QNListDocumentsOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document,
                                                   QString searchKeyword, QNListCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_searchKeyword(std::move(searchKeyword)) {}

void QNListDocumentsOperation::callHandler(QNCloudInterface &handler, QNListCallback inner) {
    handler.listDocuments(m_document, m_searchKeyword, std::move(inner));
}
