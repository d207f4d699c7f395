#include "Core/QNCopyTask.h"

QString QNCopyTask::description() const {
    return transferDescription(QStringLiteral("Preparing copy"), QStringLiteral("Preparing copy and creating %1 folders"),
                               QStringLiteral("Copy %1 files and %2 folders from %3 to %4"));
}

float QNCopyTask::progress() const {
    return transferProgress();
}
