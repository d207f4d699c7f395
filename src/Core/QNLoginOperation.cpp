#include "Core/QNLoginOperation.h"

QNLoginOperation::QNLoginOperation(const QNDriveConfigPtr &driveConfig, QNLoginCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)) {}

void QNLoginOperation::callHandler(QNCloudInterface &handler, QNLoginCallback inner) {
    handler.login(std::move(inner));
}
