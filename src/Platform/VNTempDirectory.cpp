#include "VNTempDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>

namespace {

std::mutex &pathMutex() {
    static std::mutex m;
    return m;
}

QString &configuredPath() {
    static QString path;
    return path;
}

QString defaultPath() {
    const QByteArray fromEnv = qgetenv("VARNELLO_TMPDIR");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/Varnello/tmp");
}

void makePrivateFolder(const QString &folder) {
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace

namespace VNTempDirectory {

QString path() {
    std::lock_guard lock(pathMutex());
    QString &p = configuredPath();
    if (p.isEmpty()) {
        p = QDir::cleanPath(defaultPath());
        makePrivateFolder(p);
    } else if (!QFileInfo::exists(p)) {
        makePrivateFolder(p);
    }
    return p;
}

void setPath(const QString &folder) {
    std::lock_guard lock(pathMutex());
    configuredPath() = QDir::cleanPath(folder);
    makePrivateFolder(configuredPath());
}

bool clearContents(const std::function<bool(const QString &)> &keep) {
    QDir dir(path());
    bool ok = true;
    const auto entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString full = entry.absoluteFilePath();
        if (keep && keep(full))
            continue;
        if (entry.isDir() && !entry.isSymLink())
            ok = QDir(full).removeRecursively() && ok;
        else
            ok = QFile::remove(full) && ok;
    }
    return ok;
}

}  // namespace VNTempDirectory
