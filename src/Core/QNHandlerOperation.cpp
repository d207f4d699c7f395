#include "Core/QNHandlerOperation.h"

#include "Platform/VNLog.h"

namespace QNOperationAnswers {

VNErrorPtr noHandlerError(const QNDriveConfigPtr &config) {
    const QString service = config ? config->serviceName() : QStringLiteral("(Unknown Service)");
    VNLog::log(QStringLiteral("QNHandlerOperation no handler for a %1 drive").arg(service));
    return QNCloudInterface::makeError(
        QStringLiteral("QNCloudInterface"),
        QStringLiteral("Drives of the kind \"%1\" are not supported by this version.").arg(service));
}

}  // namespace QNOperationAnswers
