#include "Core/QNMoveTask.h"

QString QNMoveTask::description() const {
    return transferDescription(QStringLiteral("Preparing move"), QStringLiteral("Preparing move and creating %1 folders"),
                               QStringLiteral("Move %1 files and %2 folders from %3 to %4"));
}

float QNMoveTask::progress() const {
    return transferProgress();
}
