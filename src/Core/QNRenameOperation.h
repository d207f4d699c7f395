#pragma once

#include "Core/QNHandlerOperation.h"

// Renames a document; `name` carries the new path in the same folder.
class QNRenameOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNRenameOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                      QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr name() const { return m_name; }
    QString description() const override { return QStringLiteral("QNRenameOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QNDocumentPtr m_document;
    QNDocumentPtr m_name;
};
