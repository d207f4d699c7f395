#pragma once

#include "Core/QNHandlerOperation.h"

// Lists a folder (or searches below it when the keyword is not empty).
class QNListDocumentsOperation : public QNHandlerOperation<QNListCallback> {
public:
    QNListDocumentsOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QString searchKeyword,
                             QNListCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QString searchKeyword() const { return m_searchKeyword; }
    QString description() const override { return QStringLiteral("QNListDocumentsOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNListCallback inner) override;
    QString keywordForErrors() const override { return m_searchKeyword; }

private:
    QNDocumentPtr m_document;
    QString m_searchKeyword;
};
