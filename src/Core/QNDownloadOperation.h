#pragma once

#include "Core/QNHandlerOperation.h"

// Downloads a document into the local file destPath->path().
class QNDownloadOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNDownloadOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr destPath,
                        QNProgressCallback progressBlock, QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr destPath() const { return m_destPath; }
    QNProgressCallback progressBlock() const { return m_progressBlock; }
    QString description() const override { return QStringLiteral("QNDownloadOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
    QNDocumentPtr m_destPath;
    QNProgressCallback m_progressBlock;
};
