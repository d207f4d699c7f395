#include "Core/QNUpdateFileTask.h"

#include "Core/QNCopyTaskItem.h"

QString QNUpdateFileTask::description() const {
    const auto items = taskItems();
    if (items.isEmpty())
        return QStringLiteral("Update");
    auto item = std::dynamic_pointer_cast<QNCopyTaskItem>(items.first());
    return QStringLiteral("Update file to %1")
        .arg(item && item->toDriveConfig() ? item->toDriveConfig()->serviceName() : QString());
}

float QNUpdateFileTask::progress() const {
    const auto items = taskItems();
    return items.isEmpty() ? 0.0f : items.first()->progress();
}
