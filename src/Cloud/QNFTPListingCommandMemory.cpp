#include "Cloud/QNFTPListingCommandMemory.h"

#include <QSet>
#include <mutex>

namespace {

std::mutex &memoryMutex()
{
    static std::mutex m;
    return m;
}

QSet<QString> &refusing()
{
    static QSet<QString> s;
    return s;
}

}  // namespace

bool QNFTPListingCommandMemory::refusesHiddenListing(const QString &driveKey)
{
    std::lock_guard lock(memoryMutex());
    return refusing().contains(driveKey);
}

void QNFTPListingCommandMemory::rememberRefusal(const QString &driveKey)
{
    std::lock_guard lock(memoryMutex());
    refusing().insert(driveKey);
}

void QNFTPListingCommandMemory::clear()
{
    std::lock_guard lock(memoryMutex());
    refusing().clear();
}
