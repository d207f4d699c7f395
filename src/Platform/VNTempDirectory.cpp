#include "VNTempDirectory.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QUuid>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

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

// The holders' locks and files, in a folder of the temporary folder.
const QString kHoldersFolder = QStringLiteral(".instances");

struct Holding {
    std::mutex mutex;
    QString id;
    int fd = -1;  // this process's lock, open (and locked) until it ends
};

Holding &holding() {
    static Holding *h = new Holding;  // lives to the end, and so does its lock
    return *h;
}

bool lock(int fd, int operation) {
    int result;
    do
        result = ::flock(fd, operation);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

int openFile(const QString &path, int flags) {
    return ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// The holders' folder, open for locking: shared while a process registers,
// exclusive while one cleans up.
int openHoldersFolder(QString *folder) {
    *folder = VNTempDirectory::path() + QLatin1Char('/') + kHoldersFolder;
    QDir().mkpath(*folder);
    return ::open(QFile::encodeName(*folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
        if (entry.fileName() == kHoldersFolder || (keep && keep(full)))
            continue;
        if (entry.isDir() && !entry.isSymLink())
            ok = QDir(full).removeRecursively() && ok;
        else
            ok = QFile::remove(full) && ok;
    }
    return ok;
}

QString holderFile(const QString &holderId, const QString &suffix) {
    return path() + QLatin1Char('/') + kHoldersFolder + QLatin1Char('/') + holderId + suffix;
}

QString holdForThisProcess() {
    Holding &h = holding();
    std::lock_guard guard(h.mutex);
    if (!h.id.isEmpty())
        return h.id;
    h.id = QString::number(::getpid()) + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QString folder;
    const int folderFd = openHoldersFolder(&folder);
    // Waits while another process cleans up: nothing this one makes after
    // is cleaned away.
    if (folderFd >= 0)
        lock(folderFd, LOCK_SH);
    h.fd = openFile(holderFile(h.id, QStringLiteral(".lock")), O_RDWR | O_CREAT);
    if (h.fd >= 0)
        lock(h.fd, LOCK_EX);
    if (folderFd >= 0)
        ::close(folderFd);
    return h.id;
}

bool whileSoleHolder(const std::function<void(const QStringList &)> &work) {
    // Held first: registering later, while the folder is locked here, would wait on itself.
    const QString own = holdForThisProcess();
    QString folder;
    const int folderFd = openHoldersFolder(&folder);
    if (folderFd < 0)
        return false;  // holders cannot be told: nothing is removed
    // Another process registering holds the folder for a moment only.
    const QDeadlineTimer deadline(2000);
    while (!lock(folderFd, LOCK_EX | LOCK_NB)) {
        if (errno != EWOULDBLOCK || deadline.hasExpired()) {
            ::close(folderFd);
            return false;
        }
        QThread::msleep(10);
    }
    QStringList ended;
    QList<int> endedLocks;
    bool otherRuns = false;
    const QStringList locks = QDir(folder).entryList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden);
    for (const QString &name : locks) {
        const QString id = name.chopped(5);
        if (id == own)
            continue;
        const int fd = openFile(folder + QLatin1Char('/') + name, O_RDWR);
        if (fd < 0)
            continue;
        if (!lock(fd, LOCK_EX | LOCK_NB)) {
            ::close(fd);
            otherRuns = true;
            break;
        }
        ended << id;
        endedLocks << fd;
    }
    if (!otherRuns) {
        work(ended);
        for (const QString &id : std::as_const(ended))
            for (const QString &file : QDir(folder).entryList({id + QStringLiteral(".*")}, QDir::Files | QDir::Hidden))
                QFile::remove(folder + QLatin1Char('/') + file);
    }
    for (int fd : std::as_const(endedLocks))
        ::close(fd);
    ::close(folderFd);
    return !otherRuns;
}

}  // namespace VNTempDirectory
