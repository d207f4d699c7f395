#pragma once

#include "Core/QNHandlerOperation.h"

// Checks the drive's credentials.
class QNLoginOperation : public QNHandlerOperation<QNLoginCallback> {
public:
    QNLoginOperation(const QNDriveConfigPtr &driveConfig, QNLoginCallback completedBlock);
    QString description() const override { return QStringLiteral("QNLoginOperation"); }

protected:
    void callHandler(QNCloudInterface &handler, QNLoginCallback inner) override;
};
