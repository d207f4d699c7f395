#include "Core/QNLinkTask.h"

#include "Core/QNLinkTaskItem.h"

QString QNLinkTask::description() const {
    const auto items = taskItems();
    if (items.isEmpty())
        return QStringLiteral("Link");
    auto link = std::dynamic_pointer_cast<QNLinkTaskItem>(items.first());
    return QStringLiteral("Get links from %1").arg(link && link->driveConfig() ? link->driveConfig()->serviceName() : QString());
}

float QNLinkTask::progress() const {
    const auto items = taskItems();
    if (items.isEmpty())
        return 0.0f;
    int done = 0;
    for (const auto &item : items)
        if (item->finished())
            ++done;
    return static_cast<float>(static_cast<double>(done) / static_cast<double>(items.size()));
}
