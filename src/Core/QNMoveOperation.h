#pragma once

#include "Core/QNHandlerOperation.h"

// Moves a document inside its drive into the folder `name`.
class QNMoveOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNMoveOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                    QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr name() const { return m_name; }
    QString description() const override { return QStringLiteral("QNMoveOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
    QNDocumentPtr m_name;
};
