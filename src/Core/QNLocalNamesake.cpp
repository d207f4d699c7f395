#include "Core/QNLocalNamesake.h"

#include <QFile>
#include <QFileInfo>
#include <climits>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

QString withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString parentOf(const QString &path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// A folder entry: the folder (by device and inode, whatever path reaches
// it) and the name in it.
struct Entry {
    dev_t device = 0;
    ino_t inode = 0;
    QString name;
    bool known = false;

    bool operator==(const Entry &other) const {
        return known && other.known && device == other.device && inode == other.inode && name == other.name;
    }
};

Entry entryOf(const QString &path) {
    Entry entry;
    struct stat folder {};
    if (::stat(QFile::encodeName(parentOf(path)).constData(), &folder) != 0)
        return entry;
    entry.device = folder.st_dev;
    entry.inode = folder.st_ino;
    entry.name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    entry.known = true;
    return entry;
}

// Where the link at path leads, as a path; null when it is no link.
QString linkTarget(const QString &path) {
    char buffer[PATH_MAX];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    if (size <= 0 || size >= ssize_t(sizeof buffer))
        return {};
    const QString target = QFile::decodeName(QByteArray(buffer, int(size)));
    return target.startsWith(QLatin1Char('/')) ? target : parentOf(path) + QLatin1Char('/') + target;
}

QNLocalNamesake::FileFacts factsOf(const struct stat &info, const QString &path) {
    QNLocalNamesake::FileFacts facts;
    facts.device = info.st_dev;
    facts.inode = info.st_ino;
    facts.links = info.st_nlink;
    facts.size = info.st_size;
    facts.canonicalPath = QFileInfo(path).canonicalFilePath();
    return facts;
}

// File systems whose device and inode numbers say nothing of where the
// items lie: another machine gives them (network shares), or a program that
// may show one folder again under numbers of its own (FUSE, overlays).
bool givesForeignNumbers(const QString &path) {
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return true;  // cannot be told: nothing is proved by it
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x65735546UL:  // FUSE
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
    case 0x73757245UL:  // Coda
    case 0x564CUL:      // NCP
    case 0x794C7630UL:  // overlay
        return true;
    default:
        return false;
    }
}

}  // namespace

bool QNLocalNamesake::identityOf(const QString &path, dev_t *device, ino_t *inode) {
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(withoutTrailingSlashes(path)).constData(), &info) != 0)
        return false;
    *device = info.st_dev;
    *inode = info.st_ino;
    return true;
}

bool QNLocalNamesake::identityTells(const QString &a, const QString &b) {
    dev_t deviceA = 0, deviceB = 0;
    ino_t inode = 0;
    if (!identityOf(a, &deviceA, &inode) || !identityOf(b, &deviceB, &inode) || deviceA != deviceB)
        return false;
    return !givesForeignNumbers(withoutTrailingSlashes(a)) && !givesForeignNumbers(withoutTrailingSlashes(b));
}

bool QNLocalNamesake::isSurelyOneFile(const FileFacts &a, const FileFacts &b) {
    if (a.device != b.device || a.inode != b.inode || a.size != b.size)
        return false;
    const bool oneCanonicalPath = !a.canonicalPath.isEmpty() && a.canonicalPath == b.canonicalPath;
    return oneCanonicalPath || (a.links > 1 && b.links > 1);
}

QNLocalNamesake::Kind QNLocalNamesake::of(const QString &sourcePath, const QString &targetPath, const Look &look) {
    const QString source = withoutTrailingSlashes(sourcePath);
    const QString target = withoutTrailingSlashes(targetPath);
    const Look lookAt = look ? look : [](const QString &path, struct stat &info) {
        return ::stat(QFile::encodeName(path).constData(), &info) == 0;
    };
    // The target is looked at first: it usually does not exist, and then
    // one call settles it.
    struct stat there {}, here {};
    if (!lookAt(target, there) || !lookAt(source, here))
        return Kind::Apart;
    if (there.st_dev != here.st_dev || there.st_ino != here.st_ino)
        return Kind::Apart;
    // On a mount that gives numbers of its own, one number proves nothing.
    if (!look && (givesForeignNumbers(source) || givesForeignNumbers(target)))
        return Kind::Apart;
    if (S_ISDIR(here.st_mode) || source == target)
        return Kind::OwnEntry;
    // The target's chain of links, step by step: whether one of them is the
    // source's own name. The stat above settled that the chain ends.
    const Entry own = entryOf(source);
    QString at = target;
    for (int step = 0; step < 64 && !at.isNull(); ++step) {
        if (entryOf(at) == own)
            return step == 0 ? Kind::OwnEntry : Kind::LinkThroughSource;
        at = linkTarget(at);
    }
    return isSurelyOneFile(factsOf(here, source), factsOf(there, target)) ? Kind::OtherName : Kind::Apart;
}
