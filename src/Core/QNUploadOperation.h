#pragma once

#include "Core/QNHandlerOperation.h"

// Uploads the local file document->path() into the folder destPath.
class QNUploadOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNUploadOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr destPath,
                      QNProgressCallback progressBlock, QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr destPath() const { return m_destPath; }
    QNProgressCallback progressBlock() const { return m_progressBlock; }
    QString description() const override { return QStringLiteral("QNUploadOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
    QNDocumentPtr m_destPath;
    QNProgressCallback m_progressBlock;
};
