#pragma once

#include "Core/QNHandlerOperation.h"

// Creates the folder `name` in the folder destPath.
class QNCreateFolderOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNCreateFolderOperation(const QNDriveConfigPtr &driveConfig, QString name, QNDocumentPtr destPath,
                            QNDocumentCallback completedBlock);
    QString name() const { return m_name; }
    QNDocumentPtr destPath() const { return m_destPath; }
    QString description() const override { return QStringLiteral("QNCreateFolderOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QString m_name;
    QNDocumentPtr m_destPath;
};
