#include "Cloud/QNSSHKnownHosts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One process writes the file from many transfers at once.
std::mutex &fileMutex() {
    static std::mutex mutex;
    return mutex;
}

// The key type's name at the start of a key's wire form ("ssh-ed25519").
QByteArray keyTypeOf(const QByteArray &key) {
    if (key.size() < 4)
        return {};
    const quint32 length = (quint32(quint8(key[0])) << 24) | (quint32(quint8(key[1])) << 16) |
                           (quint32(quint8(key[2])) << 8) | quint32(quint8(key[3]));
    if (length == 0 || length > 64 || qsizetype(length) > key.size() - 4)
        return {};
    return key.mid(4, length);
}

}  // namespace

QString QNSSHKnownHosts::nameFor(const QString &host, int port) {
    const QString lower = host.toLower();
    return port <= 0 || port == 22 ? lower : QStringLiteral("[%1]:%2").arg(lower).arg(port);
}

bool QNSSHKnownHosts::matchesPattern(const QString &pattern, const QString &name) {
    if (!pattern.contains(QLatin1Char('*')) && !pattern.contains(QLatin1Char('?')))
        return pattern.compare(name, Qt::CaseInsensitive) == 0;
    QString expression;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('*'))
            expression += QStringLiteral(".*");
        else if (c == QLatin1Char('?'))
            expression += QLatin1Char('.');
        else
            expression += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::CaseInsensitiveOption)
        .match(name)
        .hasMatch();
}

bool QNSSHKnownHosts::matchesHashed(const QString &hashed, const QString &name) {
    const QStringList parts = hashed.split(QLatin1Char('|'));  // "", "1", salt, hash
    if (parts.size() != 4 || parts.at(1) != QLatin1String("1"))
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts.at(2).toLatin1());
    const QByteArray hash = QByteArray::fromBase64(parts.at(3).toLatin1());
    return !hash.isEmpty() &&
           QMessageAuthenticationCode::hash(name.toUtf8(), salt, QCryptographicHash::Sha1) == hash;
}

bool QNSSHKnownHosts::matchesName(const QString &names, const QString &name) {
    if (names.startsWith(QLatin1Char('|')))
        return matchesHashed(names, name);
    bool matched = false;
    for (const QString &pattern : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (pattern.startsWith(QLatin1Char('!'))) {
            if (matchesPattern(pattern.mid(1), name))
                return false;  // a negated pattern rules the name out
        } else if (matchesPattern(pattern, name)) {
            matched = true;
        }
    }
    return matched;
}

namespace {

// A known-hosts file is small; one past this size is refused, not read in part.
constexpr qint64 fileBound = 16 * 1024 * 1024;

struct KnownLine {
    bool revoked = false;
    QByteArray names;
    QByteArray type;
    QByteArray key;  // base64
};

// The lines that name a key, comments and certificate authorities left out.
QList<KnownLine> parseLines(const QByteArray &contents) {
    QList<KnownLine> lines;
    for (const QByteArray &rawLine : contents.split('\n')) {
        const QList<QByteArray> fields = rawLine.simplified().split(' ');
        if (fields.size() < 3 || fields.first().startsWith('#'))
            continue;
        KnownLine line;
        int at = 0;
        if (fields.first().startsWith('@')) {
            if (fields.first() != "@revoked" || fields.size() < 4)
                continue;  // certificate authorities: not used here
            line.revoked = true;
            at = 1;
        }
        line.names = fields.at(at);
        line.type = fields.at(at + 1);
        line.key = fields.at(at + 2);
        lines.append(line);
    }
    return lines;
}

}  // namespace

QList<QByteArray> QNSSHKnownHosts::Remembered::types() const {
    QList<QByteArray> out;
    for (const auto &key : keys)
        if (!out.contains(key.first))
            out.append(key.first);
    return out;
}

bool QNSSHKnownHosts::read(QByteArray *contents, QString *problem) const {
    contents->clear();
    const QByteArray path = QFile::encodeName(m_file);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) {
            *problem = QString::fromLocal8Bit(std::strerror(error));
            return false;
        }
        // A link that leads nowhere, the file or a folder above it, is not
        // a file never written: its keys are where it leads, on a volume not
        // mounted, say.
        const QString nowhere = linkToNothingOnPath();
        if (!nowhere.isNull()) {
            *problem = nowhere;
            return false;
        }
        // Not there (nor its folder): nothing remembered yet.
        return true;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok)
        *problem = QString::fromLocal8Bit(std::strerror(errno));
    else if (S_ISDIR(info.st_mode))
        *problem = QStringLiteral("it is a folder");
    else if (!S_ISREG(info.st_mode))
        *problem = QStringLiteral("it is not a regular file");
    ok = problem->isNull();
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *problem = QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        } else if (n == 0) {
            break;
        } else if (contents->size() + n > fileBound) {
            *problem = QStringLiteral("it is larger than 16 MiB");
            ok = false;
        } else {
            contents->append(buffer, n);
        }
    }
    ::close(fd);
    if (!ok)
        contents->clear();
    return ok;
}

bool QNSSHKnownHosts::isLink() const {
    struct stat info {};
    return ::lstat(QFile::encodeName(m_file).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

QString QNSSHKnownHosts::linkToNothingOnPath() const {
    for (QString path = QFileInfo(m_file).absoluteFilePath(); !path.isEmpty() && path != QStringLiteral("/");
         path = QFileInfo(path).path()) {
        struct stat info {};
        const QByteArray encoded = QFile::encodeName(path);
        if (::lstat(encoded.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            continue;
        if (::stat(encoded.constData(), &info) == 0)
            return QString();  // it leads somewhere: what is below it is simply not there yet
        const QString target = QFileInfo(path).symLinkTarget();
        if (path == QFileInfo(m_file).absoluteFilePath())
            return QStringLiteral("it is a link to %1, which is not there").arg(target);
        return QStringLiteral("its folder %1 is a link to %2, which is not there").arg(path, target);
    }
    return QString();
}

bool QNSSHKnownHosts::append(const QByteArray &contents, const QByteArray &line, QString *problem) const {
    // A file that is a link is written where the link leads; the link stays.
    QString target = m_file;
    if (isLink()) {
        target = QFileInfo(m_file).canonicalFilePath();
        if (target.isEmpty()) {
            *problem = QStringLiteral("it is a link to %1, which is not there").arg(QFileInfo(m_file).symLinkTarget());
            return false;
        }
    }
    const QString folder = QFileInfo(target).absolutePath();
    QDir().mkpath(folder);
    // Written beside the file and renamed over it: a disk that fills up
    // midway leaves the file as it was, never a cut line that would refuse
    // the server as changed the next time.
    QByteArray whole = contents;
    if (!whole.isEmpty() && !whole.endsWith('\n'))
        whole += '\n';
    whole += line;
    QByteArray temporary = QFile::encodeName(folder + QStringLiteral("/.known_hosts-XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        *problem = QStringLiteral("%1 takes no new file: %2").arg(folder, why);
        return false;
    }
    struct stat existing {};
    const mode_t mode = ::stat(QFile::encodeName(target).constData(), &existing) == 0 ? existing.st_mode & 0777 : 0644;
    int error = 0;
    if (::fchmod(fd, mode) != 0)
        error = errno;
    for (qsizetype done = 0; error == 0 && done < whole.size();) {
        const ssize_t n = ::write(fd, whole.constData() + done, size_t(whole.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : ENOSPC;
        else
            done += n;
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        error = errno;
    if (error == 0)
        return true;
    ::unlink(temporary.constData());
    *problem = QStringLiteral("%1 could not be written: %2").arg(target, QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

QNSSHKnownHosts::Remembered QNSSHKnownHosts::remembered(const QString &host, int port) const {
    Remembered out;
    const QString name = nameFor(host, port);
    QByteArray contents;
    std::lock_guard lock(fileMutex());
    if (!read(&contents, &out.problem))
        return out;
    for (const KnownLine &line : parseLines(contents))
        if (matchesName(QString::fromUtf8(line.names), name))
            (line.revoked ? out.revoked : out.keys).append({line.type, line.key});
    return out;
}

QByteArray QNSSHKnownHosts::preferenceLines(const QString &urlHost, int port, const Remembered &remembered) {
    QStringList names{urlHost};
    if (urlHost.toLower() != urlHost)
        names.append(urlHost.toLower());
    QByteArray out;
    for (const auto &key : remembered.keys)
        for (const QString &host : names) {
            const QString name = port <= 0 || port == 22 ? host : QStringLiteral("[%1]:%2").arg(host).arg(port);
            out += name.toUtf8() + ' ' + key.first + ' ' + key.second + '\n';
        }
    return out;
}

QNSSHKnownHosts::Verdict QNSSHKnownHosts::check(const QString &host, int port, const QByteArray &key,
                                                QString *problem) const {
    const QString name = nameFor(host, port);
    const QByteArray type = keyTypeOf(key);
    const QByteArray encoded = key.toBase64();
    std::lock_guard lock(fileMutex());
    QByteArray contents;
    QString why;
    if (!read(&contents, &why)) {
        if (problem)
            *problem = why;
        return Verdict::FileUnreadable;
    }
    bool known = false;
    bool changed = false;
    bool revokedKey = false;
    bool otherType = false;
    for (const KnownLine &line : parseLines(contents)) {
        if (!matchesName(QString::fromUtf8(line.names), name))
            continue;
        const bool sameKey = line.key == encoded;
        if (line.revoked) {
            revokedKey = revokedKey || sameKey;
            continue;
        }
        // Keys of other types stand beside this one (a server offers several).
        if (line.type != type) {
            otherType = true;
            continue;
        }
        if (sameKey)
            known = true;
        else
            changed = true;
    }
    if (revokedKey)
        return Verdict::Revoked;
    // One of several remembered keys of the type is enough, as for OpenSSH.
    if (changed && !known)
        return Verdict::Changed;
    if (known)
        return Verdict::Known;
    if (type.isEmpty())
        return Verdict::Unreadable;
    // The server was asked for a remembered type first; showing another
    // one means it has none of them now.
    if (otherType)
        return Verdict::OtherType;
    const QByteArray line = name.toUtf8() + ' ' + type + ' ' + encoded + '\n';
    if (append(contents, line, &why))
        return Verdict::Added;
    // A plain file that cannot be written: OpenSSH goes on, and so does a
    // drive. A link names where the keys must go.
    if (!isLink())
        return Verdict::Unremembered;
    if (problem)
        *problem = why;
    return Verdict::LinkUnwritable;
}
