#pragma once

#include "Core/QNHandlerOperation.h"

// Copies a document inside its drive into the folder `name`.
class QNCopyOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNCopyOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                    QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr name() const { return m_name; }
    QString description() const override { return QStringLiteral("QNCopyOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
    QNDocumentPtr m_name;
};
