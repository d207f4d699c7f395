#include "Cloud/QNFTPEncodingMemory.h"

#include <QHash>
#include <mutex>

namespace {

std::mutex &memoryMutex()
{
    static std::mutex m;
    return m;
}

QHash<QString, quint32> &memory()
{
    static QHash<QString, quint32> m;
    return m;
}

// "/a/b/" and "/a/b" name the same folder.
QString normalizedFolder(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    return path;
}

}  // namespace

QString QNFTPEncodingMemory::driveKey(const QString &url, const QString &username)
{
    return url + QLatin1Char('\n') + username;
}

void QNFTPEncodingMemory::remember(const QString &driveKey, const QString &folderPath, quint32 encoding)
{
    std::lock_guard lock(memoryMutex());
    memory().insert(driveKey + QLatin1Char('\n') + normalizedFolder(folderPath), encoding);
}

quint32 QNFTPEncodingMemory::lookup(const QString &driveKey, const QString &path)
{
    std::lock_guard lock(memoryMutex());
    QString folder = normalizedFolder(path);
    for (;;) {
        const auto it = memory().constFind(driveKey + QLatin1Char('\n') + folder);
        if (it != memory().constEnd())
            return it.value();
        if (folder == QLatin1String("/"))
            return 0;
        const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
        folder = slash <= 0 ? QStringLiteral("/") : folder.left(slash);
    }
}

void QNFTPEncodingMemory::clear()
{
    std::lock_guard lock(memoryMutex());
    memory().clear();
}
