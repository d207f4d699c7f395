#pragma once

#include "Core/QNHandlerOperation.h"

// Gets a share link for a document.
class QNLinkOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNLinkOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QString description() const override { return QStringLiteral("QNLinkOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
};
