#include "Core/QNCreateFolderOperation.h"

QNCreateFolderOperation::QNCreateFolderOperation(const QNDriveConfigPtr &driveConfig, QString name,
                                                 QNDocumentPtr destPath, QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_name(std::move(name)),
      m_destPath(std::move(destPath)) {}

void QNCreateFolderOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    handler.createFolder(m_name, m_destPath, std::move(inner));
}
