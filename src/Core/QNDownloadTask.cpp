#include "Core/QNDownloadTask.h"

#include "Core/QNDownloadTaskItem.h"

QString QNDownloadTask::description() const {
    const auto items = taskItems();
    if (items.isEmpty())
        return QStringLiteral("Download");
    auto item = std::dynamic_pointer_cast<QNDownloadTaskItem>(items.first());
    auto doc = items.first()->document();
    return QStringLiteral("Download %1 from %2")
        .arg(doc ? doc->displayName() : QString(),
             item && item->driveConfig() ? item->driveConfig()->serviceName() : QString());
}

float QNDownloadTask::progress() const {
    const auto items = taskItems();
    return items.isEmpty() ? 0.0f : items.first()->progress();
}
