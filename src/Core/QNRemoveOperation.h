#pragma once

#include "Core/QNHandlerOperation.h"

// Removes a document (a folder with its contents).
class QNRemoveOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNRemoveOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QString description() const override { return QStringLiteral("QNRemoveOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
};
