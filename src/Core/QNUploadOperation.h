#pragma once

#include "Core/QNHandlerOperation.h"

// Uploads the local file document->path() into the folder destPath; under a
// temporary name first when asked (setUnderTemporaryName()).
class QNUploadOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNUploadOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr destPath,
                      QNProgressCallback progressBlock, QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr destPath() const { return m_destPath; }
    QNProgressCallback progressBlock() const { return m_progressBlock; }
    // The file goes up under a temporary name and takes its own only once
    // whole (QNCloudInterface::uploadUnderTemporaryName). Set before queueing.
    void setUnderTemporaryName(bool on) { m_underTemporaryName = on; }
    bool underTemporaryName() const { return m_underTemporaryName; }
    // What the destination holds under the file's name is known not to be
    // the file itself: the upload may go straight onto the name where the
    // temporary one cannot take it
    // (QNCloudInterface::setUploadMayWriteOntoName). Set before queueing.
    void setMayWriteOntoName(bool on) { m_mayWriteOntoName = on; }
    QString description() const override { return QStringLiteral("QNUploadOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
    QNDocumentPtr m_destPath;
    QNProgressCallback m_progressBlock;
    bool m_underTemporaryName = false;
    bool m_mayWriteOntoName = false;
};
