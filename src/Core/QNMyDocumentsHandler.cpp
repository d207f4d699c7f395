#include "Core/QNMyDocumentsHandler.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString joinPath(const QString &folder, const QString &name) {
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString lastPathComponent(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const int slash = p.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 && p.size() > 1 ? p.mid(slash + 1) : p;
}

QString parentPath(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const int slash = p.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : p.left(slash);
}

// One name inside a folder: not empty, not "." or "..", no slash. A name
// that could reach outside its folder is refused.
bool isPlainName(const QString &name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString systemText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Closes a descriptor once, ignoring EINTR.
void closeFd(int &fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool writeAll(int fd, const char *data, ssize_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(length));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

ssize_t readSome(int fd, char *buffer, size_t length) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, length);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

// The hidden name a copy is written under until it is whole: the target's
// name, cut (at a character boundary) so that the whole name stays within
// the file system's 255 bytes, and a random suffix.
QString partialName(const QString &name) {
    return VNPartName::hidden(name, VNPartName::randomSuffix(QStringLiteral("part")));
}

// Renames without ever replacing: an item that appears under the new name
// after the check above is not lost. File systems that cannot promise that
// get a plain rename.
bool renameNoReplace(const QString &from, const QString &to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    return ::rename(source.constData(), target.constData()) == 0;
}

}  // namespace

QNMyDocumentsHandler::QNMyDocumentsHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

QNCloudInterfacePtr QNMyDocumentsHandler::make(const QNDriveConfigPtr &driveConfig) {
    return std::make_shared<QNMyDocumentsHandler>(driveConfig);
}

QNDriveConfigPtr QNMyDocumentsHandler::makeLocalDriveConfig() {
    auto config = QNDriveConfig::create();
    config->setIsMyFiles(true);
    config->setUseAbsolutePath(true);
    return config;
}

QString QNMyDocumentsHandler::linkLeadingNowhere(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const QByteArray encoded = QFile::encodeName(p);
    struct stat info {};
    if (::lstat(encoded.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return {};
    if (::stat(encoded.constData(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR && errno != ELOOP))
        return {};  // it leads somewhere (or cannot be looked at: the copy says why)
    char target[4096];
    const ssize_t length = ::readlink(encoded.constData(), target, sizeof target - 1);
    return length > 0 ? QFile::decodeName(QByteArray(target, length)) : QStringLiteral("");
}

namespace {

// A file's creation time, else its modification time, read as UTC: no time
// zone lookup on the worker threads.
QDateTime statxDate(const struct statx &sx) {
    const auto toDate = [](const struct statx_timestamp &t) {
        return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000, Qt::UTC);
    };
    if ((sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0))
        return toDate(sx.stx_btime);
    if (sx.stx_mask & STATX_MTIME)
        return toDate(sx.stx_mtime);
    return {};
}

// A name's bytes with every byte outside printable ASCII (and the
// backslash) written as \xNN.
QString escapedName(const QByteArray &raw) {
    QString out;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return out;
}

struct ListOutcome {
    QNDocumentList documents;
    VNErrorPtr error;
};

// Reads the folder. Everything made on the way is gone before the caller
// answers, so nothing of it is released on this thread after the answer.
ListOutcome listFolder(const QNCloudInterface &handler, const QString &path) {
    ListOutcome outcome;
    QString problem;
    QFileInfo info(path);
    if (path.isEmpty())
        problem = QStringLiteral("No folder to list.");
    else if (!info.isDir())
        problem = QStringLiteral("The folder \"%1\" cannot be listed: %2")
                      .arg(path, info.exists() ? QStringLiteral("it is not a folder")
                                               : QStringLiteral("it does not exist"));
    else if (!QDir(path).isReadable())
        problem = QStringLiteral("The folder \"%1\" cannot be read.").arg(path);
    if (!problem.isEmpty()) {
        VNLog::log(QStringLiteral("QNMyDocumentsHandler listDocuments error: %1").arg(problem));
        outcome.error = handler.makeError(problem);
        return outcome;
    }
    // A folder that cannot be opened or read to its end is an error, never
    // a shorter folder: a move judges by it what it may remove.
    QList<QByteArray> names;
    DIR *folder = ::opendir(QFile::encodeName(path).constData());
    int readError = folder ? 0 : errno;
    if (folder) {
        for (;;) {
            errno = 0;
            const struct dirent *entry = ::readdir(folder);
            if (!entry) {
                readError = errno;
                break;
            }
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names.append(name);
        }
        ::closedir(folder);
    }
    if (readError != 0) {
        problem = QStringLiteral("The folder \"%1\" cannot be read: %2").arg(path, systemText(readError));
        VNLog::log(QStringLiteral("QNMyDocumentsHandler listDocuments error: %1").arg(problem));
        outcome.error = handler.makeError(problem);
        return outcome;
    }
    outcome.documents.reserve(names.size());
    for (const QByteArray &rawName : names) {
        auto doc = QNDocument::create();
        QString name = QFile::decodeName(rawName);
        if (QFile::encodeName(name) != rawName) {
            // The name does not survive a trip through text: shown escaped,
            // and a copy reports it instead of reading some other file.
            name = escapedName(rawName);
            doc->setHasUnreadableName(true);
            doc->setPath(joinPath(path, name));
            doc->setDisplayName(name);
            outcome.documents.append(doc);
            continue;
        }
        const QString childPath = joinPath(path, name);
        doc->setPath(childPath);
        doc->setDisplayName(name);
        // One look at each entry, through links: kind, size and date. An
        // entry that cannot be looked at (a dangling link, or gone
        // meanwhile) is a file of no size and no date.
        struct statx sx {};
        const QByteArray encoded = QFile::encodeName(childPath);
        const unsigned int wanted = STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME;
        int looked = ::statx(AT_FDCWD, encoded.constData(), AT_SYMLINK_NOFOLLOW, wanted, &sx);
        if (looked == 0 && S_ISLNK(sx.stx_mode)) {
            // Where the link really leads, so that a copy can tell a link
            // back into its own tree; removing it removes only the link.
            doc->setIsLink(true);
            doc->setLinkTarget(QFileInfo(childPath).canonicalFilePath());
            looked = ::statx(AT_FDCWD, encoded.constData(), 0, wanted, &sx);
        }
        if (looked == 0) {
            if (S_ISDIR(sx.stx_mode))
                doc->setIsDirectory(true);
            else
                doc->setSize(static_cast<qint64>(sx.stx_size));
            doc->setDate(statxDate(sx));
        } else {
            doc->setSize(0);
        }
        outcome.documents.append(doc);
    }
    return outcome;
}

}  // namespace

void QNMyDocumentsHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    auto self = shared_from_this();
    const QString path = folder ? folder->path() : QString();
    VNDispatch::globalAsync([self, path, searchKeyword, completed] {
        ListOutcome outcome = listFolder(*self, path);
        if (completed)
            completed(std::move(outcome.documents), searchKeyword, std::move(outcome.error), false);
    });
}

void QNMyDocumentsHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                    QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    const QString destination = destPath ? destPath->path() : QString();
    copyFile(source, destination, destPath, std::move(progress), std::move(completed));
}

void QNMyDocumentsHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                  QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    const QString folder = destPath ? destPath->path() : QString();
    const QString name = lastPathComponent(source);
    const QString destination = (folder.isEmpty() || !isPlainName(name)) ? QString() : joinPath(folder, name);
    copyFile(source, destination, destPath, std::move(progress), std::move(completed));
}

void QNMyDocumentsHandler::copyFile(const QString &source, const QString &destination, QNDocumentPtr result,
                                    QNProgressCallback progress, QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNMyDocumentsHandler>(shared_from_this());
    VNDispatch::globalAsync([self, source, destination, result, progress, completed] {
        CopyOutcome outcome = self->copyNow(source, destination, progress);
        if (outcome.done && result)
            result->setDisplayName(lastPathComponent(result->path()));
        if (!completed)
            return;
        if (outcome.done)
            completed(result, nullptr, false);
        else
            completed(nullptr, std::move(outcome.error), outcome.cancelled);
    });
}

QNMyDocumentsHandler::CopyOutcome QNMyDocumentsHandler::copyNow(const QString &source, const QString &destination,
                                                                const QNProgressCallback &progress) {
    CopyOutcome outcome;
    auto fail = [&](const QString &message) {
        VNLog::log(QStringLiteral("QNMyDocumentsHandler transfer error: %1").arg(message));
        outcome.error = makeError(message);
        outcome.cancelled = isCancelled();
        return outcome;
    };
    if (source.isEmpty()) {
        return fail(QStringLiteral("No source file given."));
    }
    if (destination.isEmpty()) {
        return fail(QStringLiteral("No destination for \"%1\".").arg(source));
    }
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray destinationName = QFile::encodeName(destination);
    // Opened without blocking, so that a pipe or device in place of a
    // file cannot hang the transfer; only regular files are copied.
    int in = ::open(sourceName.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) {
        return fail(QStringLiteral("The file \"%1\" cannot be opened: %2").arg(source, systemText(errno)));
    }
    struct stat sourceStat {};
    if (::fstat(in, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
        const int err = errno;
        const bool isFolder = S_ISDIR(sourceStat.st_mode);
        const bool statFailed = sourceStat.st_mode == 0;
        closeFd(in);
        return fail(QStringLiteral("The file \"%1\" cannot be read: %2")
                 .arg(source, statFailed ? systemText(err)
                                         : isFolder ? QStringLiteral("it is a folder")
                                                    : QStringLiteral("it is not a regular file")));
    }
    ::fcntl(in, F_SETFL, 0);  // back to blocking; it was opened with no other status flag
    if (sourceStat.st_size > chunkSize)
        ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);  // read ahead generously
    // The data goes into a hidden file next to the target and takes the
    // target's name only when whole.
    const QString folder = parentPath(destination);
    const QString partial = joinPath(folder, partialName(lastPathComponent(destination)));
    const QByteArray partialName = QFile::encodeName(partial);
    int out = ::open(partialName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int err = errno;
        closeFd(in);
        return fail(QStringLiteral("The file \"%1\" cannot be written: %2").arg(destination, systemText(err)));
    }
    auto abandon = [&] {
        closeFd(out);
        closeFd(in);
        ::unlink(partialName.constData());
    };
    // A file that is replaced keeps its own permissions; a new one takes
    // the source's (a private file stays private).
    struct stat replaced {};
    const mode_t mode = ::stat(destinationName.constData(), &replaced) == 0 && S_ISREG(replaced.st_mode)
                            ? replaced.st_mode & 07777
                            : sourceStat.st_mode & 0777;
    if (::fchmod(out, mode) != 0) {
        const int err = errno;
        abandon();
        return fail(QStringLiteral("The file \"%1\" cannot be written: %2").arg(destination, systemText(err)));
    }

    const qint64 total = sourceStat.st_size;
    qint64 written = 0;
    // The kernel copies a chunk at a time where it can (no trip through our
    // memory); otherwise a chunk is read into the buffer and written out.
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (isCancelled()) {
            abandon();
            outcome.cancelled = true;
            return outcome;
        }
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(chunkSize), 0);
            if (n < 0 && written == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                                          errno == EOPNOTSUPP || errno == EPERM)) {
                kernelCopy = false;  // not on these file systems: copy by hand
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int err = errno;
                abandon();
                return fail(QStringLiteral("Copying \"%1\" failed: %2").arg(source, systemText(err)));
            }
        } else {
            if (buffer.empty())
                buffer.resize(static_cast<size_t>(chunkSize));
            n = readSome(in, buffer.data(), buffer.size());
            if (n < 0) {
                const int err = errno;
                abandon();
                return fail(QStringLiteral("Reading \"%1\" failed: %2").arg(source, systemText(err)));
            }
            if (n > 0 && !writeAll(out, buffer.data(), n)) {
                const int err = errno;
                abandon();
                return fail(QStringLiteral("Writing \"%1\" failed: %2").arg(destination, systemText(err)));
            }
        }
        if (n == 0)
            break;
        written += n;
        if (progress)
            progress(total > 0 ? static_cast<double>(written) / static_cast<double>(total) : 1.0);
    }
    if (::close(out) != 0) {
        const int err = errno;
        out = -1;
        abandon();
        return fail(QStringLiteral("Writing \"%1\" failed: %2").arg(destination, systemText(err)));
    }
    out = -1;
    closeFd(in);
    if (::rename(partialName.constData(), destinationName.constData()) != 0) {
        const int err = errno;
        ::unlink(partialName.constData());
        return fail(QStringLiteral("The file \"%1\" cannot be written: %2").arg(destination, systemText(err)));
    }
    if (progress)
        progress(1.0);
    outcome.done = true;
    return outcome;
}

void QNMyDocumentsHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    const QString parent = destPath ? destPath->path() : QString();
    VNLog::log(QStringLiteral("createFolder: %1 %2").arg(lastPathComponent(parent), name));
    QString message;
    const QString path = joinPath(parent, name);
    if (parent.isEmpty())
        message = QStringLiteral("No folder to create \"%1\" in.").arg(name);
    else if (!isPlainName(name))
        message = QStringLiteral("\"%1\" is not a valid folder name.").arg(name);
    else if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        message = QStringLiteral("An item named \"%1\" already exists.").arg(name);
    else if (::mkdir(QFile::encodeName(path).constData(), 0755) != 0)
        message = QStringLiteral("The folder \"%1\" cannot be created: %2").arg(path, systemText(errno));
    if (!message.isEmpty()) {
        auto error = makeError(message);
        VNLog::log(QStringLiteral("QNMyDocumentsHandler createFolder error: %1").arg(message));
        if (completed)
            completed(nullptr, error, false);
        return;
    }
    auto doc = QNDocument::create();
    doc->setIsDirectory(true);
    doc->setDisplayName(name);
    doc->setPath(path);
    if (completed)
        completed(doc, nullptr, false);
}

void QNMyDocumentsHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    // "l/" would name what the link l leads to: the link is asked about.
    QString path = document ? document->path() : QString();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty() || path == QLatin1String("/")) {
        // Asked before anything else: the disk's top is never removed.
        answerRemoval(QStringLiteral("Nothing to remove."), completed);
        return;
    }
    QFileInfo info(path);
    if (info.isDir() && !info.isSymLink()) {
        // A large tree takes long: not on the caller's (the main) thread.
        auto self = std::static_pointer_cast<QNMyDocumentsHandler>(shared_from_this());
        VNDispatch::globalAsync([self, path, completed] {
            QString message;
            if (!QDir(path).removeRecursively())
                message = QStringLiteral("The folder \"%1\" could not be removed completely.").arg(path);
            self->answerRemoval(message, completed);
        });
        return;
    }
    QString message;
    if (!info.exists() && !info.isSymLink())
        message = QStringLiteral("\"%1\" does not exist.").arg(path);
    else if (::unlink(QFile::encodeName(path).constData()) != 0)
        message = QStringLiteral("\"%1\" cannot be removed: %2").arg(path, systemText(errno));
    answerRemoval(message, completed);
}

void QNMyDocumentsHandler::answerRemoval(const QString &message, const QNDocumentCallback &completed) {
    if (!message.isEmpty()) {
        VNLog::log(QStringLiteral("QNMyDocumentsHandler remove error: %1").arg(message));
        if (completed)
            completed(nullptr, makeError(message), false);
        return;
    }
    if (completed)
        completed(nullptr, nullptr, false);
}

void QNMyDocumentsHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString path = document ? document->path() : QString();
    const QString newName = name ? lastPathComponent(name->path()) : QString();
    const QString target = joinPath(parentPath(path), newName);
    QString message;
    if (path.isEmpty() || path == QLatin1String("/"))
        message = QStringLiteral("Nothing to rename.");
    else if (!isPlainName(newName))
        message = QStringLiteral("\"%1\" is not a valid name.").arg(newName);
    else if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        message = QStringLiteral("An item named \"%1\" already exists.").arg(newName);
    else if (!renameNoReplace(path, target))
        message = errno == EEXIST ? QStringLiteral("An item named \"%1\" already exists.").arg(newName)
                                  : QStringLiteral("\"%1\" cannot be renamed: %2").arg(path, systemText(errno));
    if (!message.isEmpty()) {
        VNLog::log(QStringLiteral("QNMyDocumentsHandler rename error: %1").arg(message));
        if (completed)
            completed(nullptr, makeError(message), false);
        return;
    }
    // The document under the name it now has, as a document of its own:
    // the ones given belong to the caller (and the new name's may name
    // another folder).
    auto renamed = document->copy();
    renamed->setPath(target);
    renamed->setDisplayName(newName);
    if (completed)
        completed(renamed, nullptr, false);
}
