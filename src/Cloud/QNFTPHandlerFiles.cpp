// QNFTPHandler's file operations: download, upload (under a temporary name,
// then put in place), create folder, remove, rename.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPHandlerInternal.h"

#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNFTPTransferLog.h"
#include "Cloud/QNStringEncoding.h"
#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QFile>
#include <QFileInfo>
#include <curl/curl.h>

#include <cerrno>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace QNFTPInternal;

void QNFTPHandler::runDownload(QNDocumentPtr document, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"download", completed};
    const auto config = driveConfig();
    if (!config || !document || !destPath || destPath->path().isEmpty())
        return answer.failed(ftpError(QStringLiteral("The download has no source or destination.")));
    if (isCancelled())
        return answer.cancelled();

    const Settings settings = readSettings();
    const QString remotePath = document->path();
    const QString localPath = destPath->path();
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingLearnedFor(remotePath));
    const auto url = location.fileUrl(remotePath, encoding);
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    VNLog::log(QStringLiteral("download url: %1").arg(urlForLog(url.bytes)));

    // The file is written under a temporary name beside the destination and
    // takes its name only when complete: a failed or cancelled download
    // leaves nothing behind, and an existing file stays until replaced.
    // It is made as any program makes a new file: the user's umask decides
    // who else may read it.
    const QFileInfo destInfo(localPath);
    QByteArray tempPath;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 8; ++tries) {
        tempPath = QFile::encodeName(
            VNPartName::beside(destInfo.absoluteFilePath(), VNPartName::randomSuffix(QStringLiteral("part"), 6)));
        fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return answer.failed(ftpError(QStringLiteral("The file \u201c%1\u201d could not be written: %2")
                                 .arg(localPath, systemError(errno))));

    Transfer t(this, settings.password);
    // Named in the log, so that an error names the file whatever the protocol.
    const QByteArray what = "Downloading " + remotePath.toUtf8();
    t.log.add(QNFTPTransferLog::Kind::Text, what.constData(), size_t(what.size()));
    t.mode = Transfer::Mode::WriteFile;
    std::optional<QNFileWriteBehind> writer(std::in_place, fd);
    t.fileWriter = &*writer;
    t.progress = downloadProgress();
    t.sinceProgress.start();
    CurlHandle curl;
    const QString setupError = setUp(curl, t, url.bytes, settings, encoding);
    if (!setupError.isNull()) {
        ::close(fd);
        ::unlink(tempPath.constData());
        return answer.failed(ftpError(setupError));
    }

    const CURLcode code = perform(curl, t);
    if (code == CURLE_OK && !writer->finish()) {
        t.ioFailed = true;
        t.ioError = systemError(writer->error());
    }
    writer.reset();  // its thread is done with fd
    if (::close(fd) != 0 && code == CURLE_OK && !t.ioFailed) {
        t.ioFailed = true;
        t.ioError = systemError(errno);
    }
    Outcome outcome = outcomeOf(code, t, isCancelled());
    if (!outcome.cancelled && !outcome.error && ::rename(tempPath.constData(), QFile::encodeName(localPath)) != 0)
        outcome = {false, ftpError(QStringLiteral("The file \u201c%1\u201d could not be written: %2")
                                       .arg(localPath, systemError(errno)))};
    if (outcome.cancelled || outcome.error)
        ::unlink(tempPath.constData());
    if (answer.unsuccessful(outcome))
        return;
    curl.finish();  // kept for the next transfer before this answer starts it
    auto result = QNDocument::create();
    result->setPath(localPath);
    result->setDisplayName(destInfo.fileName());
    completed(result, nullptr, false);
}


// Commands that act on one name in an upload's folder: FTP ones in the
// folder itself (names relative to it), SFTP ones on server paths.
struct QNFTPHandler::FolderCommands {
    QNFTPLocation location;
    QString folderPath;
    QNStringEncoding &encoding;
    QString error;
    CurlHandle *connection = nullptr;  // the upload's, used again for these commands

    QByteArray name(const QString &fileName)
    {
        const auto r = location.isSFTP() ? location.serverPath(QNFTPLocation::join(folderPath, fileName), encoding)
                                         : QNFTPLocation::nameBytes(fileName, encoding);
        if (!r.ok() && error.isNull())
            error = r.error;
        return location.isSFTP() ? QNFTPLocation::sftpQuoted(r.bytes) : r.bytes;
    }
    bool rename(CurlList &list, const QString &from, const QString &to)
    {
        if (location.isSFTP())
            return list.append("rename " + name(from) + ' ' + name(to));
        return list.append("RNFR " + name(from)) && list.append("RNTO " + name(to));
    }
    bool remove(CurlList &list, const QString &fileName)
    {
        return list.append((location.isSFTP() ? "rm " : "DELE ") + name(fileName));
    }
    QNFTPLocation::Result url() const
    {
        return location.isSFTP() ? location.baseUrl(encoding) : location.folderUrl(folderPath, encoding);
    }
};

// The local file an upload sends, open so that it can be sent again, and
// what a whole upload left on the server.
struct QNFTPHandler::UploadSource {
    int fd = -1;
    qint64 size = 0;
    double progressReached = 0;  // the fraction the first sending reported last
    VNErrorPtr leftOnDrive;      // says the temporary file stays
};

namespace {

// The options of a transfer that sends the file t reads; postQuote runs
// after a whole upload.
std::function<bool(CURL *)> uploadOptions(QNFTPHandler::Transfer &t, qint64 size, curl_slist *postQuote)
{
    return [&t, size, postQuote](CURL *h) {
        return curl_easy_setopt(h, CURLOPT_UPLOAD, 1L) == CURLE_OK && curl_easy_setopt(h, CURLOPT_READDATA, &t) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_READFUNCTION, &QNFTPHandler::Transfer::read) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(size)) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_POSTQUOTE, postQuote) == CURLE_OK;
    };
}

// The error of an upload whose file stays whole under its temporary name.
VNErrorPtr keptUnderTemporaryName(const QString &folderPath, const QString &tempName, const QString &fileName,
                                  const VNErrorPtr &cause, const QString &besides = {})
{
    const QString kept = QNFTPLocation::join(folderPath, tempName);
    return QNCloudInterface::leavingFileOnDrive(
        ftpError(QStringLiteral("The uploaded file could not take the name \u201c%1\u201d%2; it is kept on the server "
                                "as \u201c%3\u201d.")
                     .arg(fileName, besides, kept) +
                 cause->localizedDescription().prepend(QLatin1Char('\n'))));
}

}  // namespace

void QNFTPHandler::runUpload(QNDocumentPtr document, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"upload", completed};
    const auto config = driveConfig();
    if (!config || !document || !destPath || document->path().isEmpty())
        return answer.failed(ftpError(QStringLiteral("The upload has no source or destination.")));
    if (isCancelled())
        return answer.cancelled();

    const QString localPath = document->path();
    const QString folderPath = destPath->path().isEmpty() ? QStringLiteral("/") : destPath->path();
    const QString fileName = QFileInfo(localPath).fileName();
    // The file goes up under a temporary name and takes the real one only
    // when whole: a server or connection that dies mid-way, or a cancel,
    // never leaves a cut file under the real name, and an older file of
    // that name stays until the new one replaces it.
    // Unique enough that two uploads of the same file do not meet.
    const QString tempName = VNPartName::hidden(fileName, VNPartName::randomSuffix(QStringLiteral("part"), 6));
    const Settings settings = readSettings();
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingLearnedFor(QNFTPLocation::join(folderPath, fileName)));
    FolderCommands names{location, folderPath, encoding, {}, nullptr};
    const auto url = location.fileUrl(QNFTPLocation::join(folderPath, tempName), encoding);
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    CurlList renameCommands;
    names.rename(renameCommands, tempName, fileName);
    if (!names.error.isNull())
        return answer.failed(ftpError(names.error));

    const int fd = ::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return answer.failed(ftpError(QStringLiteral("The file \u201c%1\u201d could not be read: %2")
                                 .arg(localPath, systemError(errno))));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return answer.failed(ftpError(QStringLiteral("\u201c%1\u201d is not a file that can be uploaded.").arg(localPath)));
    }

    Transfer t(this, settings.password);
    const QByteArray what = "Uploading " + QNFTPLocation::join(folderPath, fileName).toUtf8();
    t.log.add(QNFTPTransferLog::Kind::Text, what.constData(), size_t(what.size()));
    t.mode = Transfer::Mode::ReadFile;
    t.fd = fd;
    t.progress = uploadProgress();
    t.progressIsUpload = true;
    t.sinceProgress.start();
    t.changeCommands = renameCommands.lines;
    CurlHandle curl;
    const QString setupError =
        setUp(curl, t, url.bytes, settings, encoding, uploadOptions(t, info.st_size, renameCommands.list));
    if (!setupError.isNull()) {
        ::close(fd);
        return answer.failed(ftpError(setupError));
    }

    const CURLcode code = perform(curl, t);
    Outcome outcome = outcomeOf(code, t, isCancelled());
    names.connection = &curl;
    // The connection lost as the file took its name: the listing tells
    // whether it did.
    if (outcome.error && answerLost(code, t) &&
        !lookAtChange(settings, encoding,
                      {Change::Kind::Renamed, QNFTPLocation::join(folderPath, tempName),
                       QNFTPLocation::join(folderPath, fileName)},
                      outcome.error)
             .error)
        outcome = {};
    // The library runs the rename only after a whole upload; a refused
    // rename (many servers will not rename onto an existing name) is
    // answered by removing the old file, then renaming again.
    const bool renameRefused = code == CURLE_QUOTE_ERROR && !t.ioFailed;
    if (renameRefused && !isCancelled()) {
        UploadSource source{fd, qint64(info.st_size), qMax(t.lastFraction, 0.0), nullptr};
        outcome = replaceWithUpload(settings, names, tempName, fileName, source);
        ::close(fd);
        if (outcome.error || outcome.cancelled)
            return void(answer.unsuccessful(outcome));
        curl.keep = true;  // the server refused a command, nothing more
        curl.finish();     // kept for the next transfer before this answer starts it
        if (source.leftOnDrive) {
            VNLog::log(QStringLiteral("QNFTPHandler upload: %1")
                           .arg(source.leftOnDrive->localizedDescription().section(QLatin1Char('\n'), 0, 0)));
            return completed(destPath, source.leftOnDrive, false);
        }
        return completed(destPath, nullptr, false);
    }
    ::close(fd);
    if (outcome.cancelled || outcome.error) {
        // The server may have made the temporary file before the first byte
        // was read: a cancel once connected cleans up too, and a kept
        // connection is connected before the transfer begins.
        curl_off_t connectTime = 0;
        curl_easy_getinfo(curl.handle, CURLINFO_CONNECT_TIME_T, &connectTime);
        const bool connected = connectTime > 0 || curl.lease.kept;
        if (t.readStarted || (outcome.cancelled && connected)) {
            // The upload's connection ends first, so the server has closed
            // the file's handle before its name is removed: no late write
            // can bring the file back.
            curl.close();
            names.connection = nullptr;
            // Bytes went, so the server made the file: one it would not
            // remove is named, a cancel reporting nothing else.
            if (!removeTemporaryUpload(settings, names, tempName) && t.readStarted) {
                const QString left = QNFTPLocation::join(folderPath, tempName);
                const VNErrorPtr named = leavingFileOnDrive(ftpError(
                    QStringLiteral("The unfinished upload of \u201c%1\u201d is left on the server as \u201c%2\u201d.")
                        .arg(fileName, left) +
                    (outcome.error ? outcome.error->localizedDescription().prepend(QLatin1Char('\n')) : QString())));
                logError("upload", named);
                return completed(nullptr, named, outcome.cancelled);
            }
        }
        return void(answer.unsuccessful(outcome));
    }
    curl.finish();  // kept for the next transfer before this answer starts it
    completed(destPath, nullptr, false);
}

QNFTPHandler::Outcome QNFTPHandler::replaceWithUpload(const Settings &settings, FolderCommands &names,
                                                      const QString &tempName, const QString &fileName,
                                                      UploadSource &source)
{
    const auto url = names.url();
    const QString tempPath = QNFTPLocation::join(names.folderPath, tempName);
    const QString filePath = QNFTPLocation::join(names.folderPath, fileName);
    CurlList removeOld;
    names.remove(removeOld, fileName);
    Outcome removed = runChange(settings, names.encoding, url.bytes, removeOld, {Change::Kind::Removed, filePath, {}},
                                false, names.connection);
    if (removed.error && !removed.answerLost) {
        // The old file, if there is one, is still there and whole.
        if (uploadMayWriteOntoName())
            return uploadOntoName(settings, names, tempName, fileName, source);
        // The new one goes.
        if (!removeTemporaryUpload(settings, names, tempName))
            return {false, keptUnderTemporaryName(names.folderPath, tempName, fileName, removed.error)};
        return removed;
    }
    // Removed, or whether it was cannot be told: the new file takes the
    // name if it can, and stays whole under its temporary name if not.
    CurlList rename;
    names.rename(rename, tempName, fileName);
    Outcome renamed = runChange(settings, names.encoding, url.bytes, rename,
                                {Change::Kind::Renamed, tempPath, filePath}, false, names.connection);
    if (renamed.error) {
        // The old file is gone: the whole new one stays under its
        // temporary name rather than be lost, unless it may be sent again.
        if (uploadMayWriteOntoName())
            return uploadOntoName(settings, names, tempName, fileName, source);
        return {false, keptUnderTemporaryName(names.folderPath, tempName, fileName, renamed.error)};
    }
    return {};
}

// Sends the file again straight onto its name, over the upload's connection,
// while the whole file stays under its temporary name; that one goes once
// the name holds the file. Not cut short by a cancel: a file cut off under
// its name is what the temporary name is there to prevent.
QNFTPHandler::Outcome QNFTPHandler::uploadOntoName(const Settings &settings, FolderCommands &names,
                                                   const QString &tempName, const QString &fileName,
                                                   UploadSource &source)
{
    sendsToItsAnswer();
    const QString path = QNFTPLocation::join(names.folderPath, fileName);
    Transfer t(this, settings.password);
    const QByteArray what = "Uploading " + path.toUtf8() + " again, onto its name";
    t.log.add(QNFTPTransferLog::Kind::Text, what.constData(), size_t(what.size()));
    t.mode = Transfer::Mode::ReadFile;
    t.fd = source.fd;
    t.watchCancel = false;
    if (const QNProgressCallback progress = uploadProgress()) {
        // On from where the first sending got to, never back.
        const double from = source.progressReached;
        t.progress = [progress, from](double fraction) { progress(from + (1.0 - from) * fraction); };
    }
    t.progressIsUpload = true;
    t.sinceProgress.start();
    Outcome sent;
    const auto url = names.location.fileUrl(path, names.encoding);
    if (!url.ok()) {
        sent = {false, ftpError(url.error)};
    } else if (::lseek(source.fd, 0, SEEK_SET) != 0) {
        sent = {false, ftpError(QStringLiteral("The file could not be read again: %1").arg(systemError(errno)))};
    } else {
        CurlHandle borrowed(names.connection);
        const QString setupError =
            setUp(borrowed, t, url.bytes, settings, names.encoding, uploadOptions(t, source.size, nullptr));
        sent = setupError.isNull() ? outcomeOf(perform(borrowed, t), t, false) : Outcome{false, ftpError(setupError)};
    }
    if (sent.error)
        return {false, keptUnderTemporaryName(names.folderPath, tempName, fileName, sent.error,
                                              t.readStarted ? QStringLiteral(", nor be written onto it whole (what "
                                                                             "that name holds now may be cut short)")
                                                            : QStringLiteral(", nor be written onto it"))};
    if (!removeTemporaryUpload(settings, names, tempName))
        source.leftOnDrive = leavingFileOnDrive(
            ftpError(QStringLiteral("\u201c%1\u201d was uploaded, but its temporary copy \u201c%2\u201d could not be "
                                    "removed and is left on the server.")
                         .arg(path, QNFTPLocation::join(names.folderPath, tempName))));
    return {};
}

bool QNFTPHandler::removeTemporaryUpload(const Settings &settings, FolderCommands &names, const QString &tempName)
{
    const auto url = names.url();
    CurlList commands;
    names.remove(commands, tempName);
    if (!url.ok() || !names.error.isNull())
        return false;
    // This clean-up often runs because of a cancel: it must not be cancelled.
    // It goes over the upload's connection, else over a new one: the
    // server's side of a closed upload connection may still be opening the
    // file, and a new login gives it that time, where a kept connection
    // would send the removal at once and find nothing yet to remove.
    CurlHandle own;
    own.fresh = true;
    auto run = [&](CurlList &list) {
        if (names.connection)
            return performCommands(this, settings, names.encoding, url.bytes, list, false, names.connection);
        return performCommandsOn(own, this, settings, names.encoding, url.bytes, list, false);
    };
    const Outcome outcome = run(commands);
    VNLog::log(QStringLiteral("QNFTPHandler upload removed the unfinished file \u201c%1\u201d: %2")
                   .arg(QNFTPLocation::join(names.folderPath, tempName),
                        outcome.error ? outcome.error->localizedDescription().section(QLatin1Char('\n'), 0, 0)
                                      : QStringLiteral("done")));
    // Gone is checked: a second removal must find nothing. A server that
    // wrote the file again as an old handle closed gets it removed again.
    for (int again = 0; !outcome.error && again < 3; ++again) {
        CurlList check;
        names.remove(check, tempName);
        if (run(check).error)
            return true;
        VNLog::log(QStringLiteral("QNFTPHandler upload: the unfinished file \u201c%1\u201d came back and was removed "
                                  "again").arg(QNFTPLocation::join(names.folderPath, tempName)));
    }
    return !outcome.error;
}

void QNFTPHandler::runCreateFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"createFolder", completed};
    const auto config = driveConfig();
    if (!config || !destPath)
        return answer.failed(ftpError(QStringLiteral("The new folder has no place.")));
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return answer.failed(ftpError(QStringLiteral("\u201c%1\u201d is not a valid folder name.").arg(name)));
    if (isCancelled())
        return answer.cancelled();

    const Settings settings = readSettings();
    const QString folderPath = destPath->path().isEmpty() ? QStringLiteral("/") : destPath->path();
    const QString newPath = QNFTPLocation::join(folderPath, name);
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingLearnedFor(newPath));
    CurlList commands;
    QNFTPLocation::Result url;
    if (location.isSFTP()) {
        const auto path = location.serverPath(newPath, encoding);
        if (!path.ok())
            return answer.failed(ftpError(path.error));
        url = location.baseUrl(encoding);
        commands.append("mkdir " + QNFTPLocation::sftpQuoted(path.bytes));
    } else {
        const auto bytes = QNFTPLocation::nameBytes(name, encoding);
        if (!bytes.ok())
            return answer.failed(ftpError(bytes.error));
        url = location.folderUrl(folderPath, encoding);
        commands.append("MKD " + bytes.bytes);
    }
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    const Outcome outcome = runChange(settings, encoding, url.bytes, commands, {Change::Kind::Made, newPath, {}});
    if (answer.unsuccessful(outcome))
        return;
    auto result = QNDocument::create();
    result->setPath(newPath);
    result->setDisplayName(name);
    completed(result, nullptr, false);
}

void QNFTPHandler::runRemove(QNDocumentPtr document, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"remove", completed};
    const auto config = driveConfig();
    if (!config || !document)
        return answer.failed(ftpError(QStringLiteral("Nothing to remove.")));
    QString path = document->path();
    if (document->isLink())
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);  // "l/" would name what the link leads to
    const QString name = QNFTPLocation::lastComponent(path);
    if (name.isEmpty())
        return answer.failed(ftpError(QStringLiteral("The drive's top folder cannot be removed.")));
    if (isCancelled())
        return answer.cancelled();

    // A link goes as the link itself (a folder's removal would refuse it).
    const bool folder = document->isDirectory() && !document->isLink();
    const Settings settings = readSettings();
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingLearnedFor(path));
    CurlList commands;
    QNFTPLocation::Result url;
    if (location.isSFTP()) {
        const auto serverPath = location.serverPath(path, encoding);
        if (!serverPath.ok())
            return answer.failed(ftpError(serverPath.error));
        url = location.baseUrl(encoding);
        commands.append((folder ? "rmdir " : "rm ") + QNFTPLocation::sftpQuoted(serverPath.bytes));
    } else {
        const auto bytes = QNFTPLocation::nameBytes(name, encoding);
        if (!bytes.ok())
            return answer.failed(ftpError(bytes.error));
        url = location.folderUrl(QNFTPLocation::parentPath(path), encoding);
        commands.append((folder ? "RMD " : "DELE ") + bytes.bytes);
    }
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    const Outcome outcome = runChange(settings, encoding, url.bytes, commands, {Change::Kind::Removed, path, {}});
    if (answer.unsuccessful(outcome))
        return;
    completed(document, nullptr, false);
}

void QNFTPHandler::runRename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"rename", completed};
    const auto config = driveConfig();
    if (!config || !document || !name)
        return answer.failed(ftpError(QStringLiteral("Nothing to rename.")));
    const QString oldPath = document->path();
    const QString newPath = name->path();
    const QString oldName = QNFTPLocation::lastComponent(oldPath);
    const QString newName = QNFTPLocation::lastComponent(newPath);
    if (oldName.isEmpty() || newName.isEmpty() || name->displayName().contains(QLatin1Char('/')))
        return answer.failed(ftpError(QStringLiteral("\u201c%1\u201d cannot be renamed to \u201c%2\u201d.").arg(oldPath, newPath)));
    if (isCancelled())
        return answer.cancelled();

    const Settings settings = readSettings();
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingLearnedFor(oldPath));
    CurlList commands;
    QNFTPLocation::Result url;
    if (location.isSFTP()) {
        const auto from = location.serverPath(oldPath, encoding);
        const auto to = location.serverPath(newPath, encoding);
        if (!from.ok() || !to.ok())
            return answer.failed(ftpError(!from.ok() ? from.error : to.error));
        url = location.baseUrl(encoding);
        commands.append("rename " + QNFTPLocation::sftpQuoted(from.bytes) + ' ' + QNFTPLocation::sftpQuoted(to.bytes));
    } else {
        const QString oldParent = QNFTPLocation::parentPath(oldPath);
        const QString newParent = QNFTPLocation::parentPath(newPath);
        // In the old name's folder; a new name in another folder is reached
        // from there.
        QString target = newName;
        if (newParent != oldParent) {
            QString up;
            for (qsizetype i = 0; i < QNFTPLocation::segments(oldParent).size(); ++i)
                up += QLatin1String("../");
            target = up + QNFTPLocation::segments(newPath).join(QLatin1Char('/'));
        }
        const auto from = QNFTPLocation::nameBytes(oldName, encoding);
        const auto to = QNFTPLocation::nameBytes(target, encoding);
        if (!from.ok() || !to.ok())
            return answer.failed(ftpError(!from.ok() ? from.error : to.error));
        url = location.folderUrl(oldParent, encoding);
        commands.append("RNFR " + from.bytes);
        commands.append("RNTO " + to.bytes);
    }
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    // Once sent, the commands run to the server's answer: a rename cut off
    // on its way may still happen on the server, and then only this answer
    // tells whoever must put things right (a cancelled save-back) where the
    // document is. A cancel that came first is honoured above.
    const Outcome outcome =
        runChange(settings, encoding, url.bytes, commands, {Change::Kind::Renamed, oldPath, newPath}, false);
    if (answer.unsuccessful(outcome))
        return;
    // The document under its new name, as a document of its own: the one
    // given belongs to the caller (an opened copy's record, a pane's row).
    auto renamed = document->copy();
    renamed->setPath(newPath);
    renamed->setDisplayName(newName);
    completed(renamed, nullptr, false);
}
