// QNWebDAVHandler's uploads: one PUT onto the name, or a PUT under a
// temporary name and a MOVE onto the name once the file is whole.
#include "Cloud/QNWebDAVHandler.h"

#include "Core/QNErrorWrapper.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QFileInfo>

namespace {

QString joinPath(const QString &folder, const QString &name) {
    QString path = folder.isEmpty() ? QStringLiteral("/") : folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}

// An error's own description (a refused request's names its status, method
// and path), else its alert text.
QString errorText(const VNErrorPtr &error) {
    if (!error)
        return QStringLiteral("no reason given");
    if (error->userInfo().contains(VNError::localizedDescriptionKey()))
        return error->localizedDescription().trimmed();
    return QNErrorWrapper(error).localizedDescription().trimmed();
}

// A reason as a sentence of its own.
QString sentence(const QString &text) {
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

}  // namespace

void QNWebDAVHandler::put(const QString &source, const QString &path, const QNProgressCallback &progress,
                          std::function<void(VNErrorPtr, bool)> done) {
    struct Counters {
        qint64 sent = 0;
        quint64 total = 1;
    };
    auto counters = std::make_shared<Counters>();
    const qint64 size = QFileInfo(source).size();
    if (size > 0)
        counters->total = quint64(size);

    Call call;
    call.path = path;
    call.configure = [counters, progress, source](NRHTTPRequest &request) {
        request.setRequestMethod(QStringLiteral("PUT"));
        // Credentials go only in answer to a challenge: waiting for the
        // server's go-ahead keeps the first, refused attempt from sending the
        // whole file for nothing.
        request.addRequestHeader(QStringLiteral("Expect"), QStringLiteral("100-continue"));
        request.setShouldStreamPostDataFromDisk(true);
        request.setPostBodyFilePath(source);
        request.setShowAccurateProgress(true);
        request.setUploadSizeIncrementedBlock([counters](qint64 size) {
            counters->total = size > 0 ? quint64(size) : 1;
        });
        request.setBytesSentBlock([counters, progress](qint64 size, qint64 total) {
            counters->sent += size;  // negative: taken back before the body is sent again
            if (counters->sent < 0)
                counters->sent = 0;
            if (total > 0 && quint64(total) > counters->total)
                counters->total = quint64(total);
            if (progress)
                progress(double(counters->sent) / double(counters->total));
        });
    };
    call.failed = done;
    call.succeeded = [done, progress](NRHTTPRequest &) {
        // The engine leaves the bytes it first counts as the socket's buffer
        // out of its reports: a whole upload says so itself.
        if (progress)
            progress(1.0);
        done(nullptr, false);
    };
    perform(std::move(call));
}

void QNWebDAVHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                             QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    if (source.isEmpty() || !destPath) {
        completed(nullptr, handlerError(QStringLiteral("No file to upload or no destination folder.")), false);
        return;
    }
    put(source, joinPath(destPath->path(), QFileInfo(source).fileName()), progress,
        [completed, destPath](VNErrorPtr error, bool cancelled) {
            if (error || cancelled)
                completed(nullptr, error, cancelled);
            else
                completed(destPath, nullptr, false);
        });
}

void QNWebDAVHandler::uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath,
                                               QNProgressCallback progress, QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    if (source.isEmpty() || !destPath) {
        completed(nullptr, handlerError(QStringLiteral("No file to upload or no destination folder.")), false);
        return;
    }
    auto self = sharedHandler();
    const QString fileName = QFileInfo(source).fileName();
    // Named as the FTP and SFTP uploads name theirs: hidden, and unique
    // enough that two uploads of the same file do not meet.
    const QString temporaryPath =
        joinPath(destPath->path(), VNPartName::hidden(fileName, VNPartName::randomSuffix(QStringLiteral("part"), 6)));
    const QString finalPath = joinPath(destPath->path(), fileName);
    put(source, temporaryPath, progress,
        [self, temporaryPath, finalPath, destPath, completed](VNErrorPtr error, bool cancelled) {
            if (!error && !cancelled && !self->isCancelled()) {
                self->nameTemporaryUpload(temporaryPath, finalPath, destPath, completed);
                return;
            }
            cancelled = cancelled || (!error && self->isCancelled());
            // A server may keep what it received of a body cut short.
            self->removeTemporaryUpload(temporaryPath, [=](VNErrorPtr removeError) {
                if (!removeError) {
                    completed(nullptr, error, cancelled);
                    return;
                }
                // Said even after a cancel: a file is left on the drive.
                const QString why = cancelled ? QStringLiteral("The upload was cancelled") : errorText(error);
                completed(nullptr,
                          leavingFileOnDrive(handlerError(
                              QStringLiteral("%1; what the server received of it stays on the drive as "
                                             "\u201c%2\u201d, which could not be removed (%3).")
                                  .arg(why.endsWith(QLatin1Char('.')) ? why.chopped(1) : why, temporaryPath,
                                       errorText(removeError)))),
                          cancelled);
            });
        });
}

void QNWebDAVHandler::nameTemporaryUpload(const QString &temporaryPath, const QString &finalPath,
                                          QNDocumentPtr destPath, QNDocumentCallback completed) {
    auto self = sharedHandler();
    Call call;
    call.path = temporaryPath;
    call.configure = [self, finalPath](NRHTTPRequest &request) {
        request.setRequestMethod(QStringLiteral("MOVE"));
        self->setDestination(request, finalPath);
        // The whole new file replaces the one of that name.
        request.addRequestHeader(QStringLiteral("Overwrite"), QStringLiteral("T"));
    };
    // Cut off on its way, the MOVE may still be carried out: its answer
    // alone tells where the new file is.
    call.runsToItsAnswer = true;
    call.failed = [self, temporaryPath, finalPath, destPath, completed](VNErrorPtr error, bool cancelled) {
        self->endFailedNaming(temporaryPath, finalPath, destPath, error, cancelled, completed);
    };
    call.succeeded = [completed, destPath](NRHTTPRequest &) { completed(destPath, nullptr, false); };
    perform(std::move(call));
}

void QNWebDAVHandler::endFailedNaming(const QString &temporaryPath, const QString &finalPath, QNDocumentPtr destPath,
                                      VNErrorPtr failure, bool cancelled, QNDocumentCallback completed) {
    if (cancelled) {
        // Cancelled before it was sent: the temporary file is where it was.
        endRefusedNaming(temporaryPath, finalPath, failure, cancelled, completed);
        return;
    }
    // A reply lost on its way back fails a MOVE the server carried out: the
    // temporary file gone and the name holding a file is the upload in place.
    auto self = sharedHandler();
    lookAt(temporaryPath, [=](bool temporaryThere, VNErrorPtr temporaryLookError) {
        if (temporaryThere || temporaryLookError) {
            self->endRefusedNaming(temporaryPath, finalPath, failure, false, completed);
            return;
        }
        self->lookAt(finalPath, [=](bool there, VNErrorPtr lookError) {
            if (there) {
                VNLog::log(QStringLiteral("QNWebDAVHandler upload: the MOVE onto \u201c%1\u201d failed (%2), yet the "
                                          "file is in place and its temporary name is gone")
                               .arg(finalPath, errorText(failure)));
                completed(destPath, nullptr, false);
                return;
            }
            const QString message =
                QStringLiteral("\u201c%1\u201d was uploaded under the temporary name \u201c%2\u201d, but taking its "
                               "own name failed (%3), and the temporary file is gone: %4")
                    .arg(finalPath.section(QLatin1Char('/'), -1), temporaryPath.section(QLatin1Char('/'), -1),
                         errorText(failure),
                         lookError ? QStringLiteral("whether \u201c%1\u201d holds it could not be told (%2).")
                                         .arg(finalPath, errorText(lookError))
                                   : QStringLiteral("\u201c%1\u201d is not there either.").arg(finalPath));
            VNLog::log(QStringLiteral("QNWebDAVHandler upload: %1").arg(message));
            completed(nullptr, handlerError(message), false);
        });
    });
}

void QNWebDAVHandler::endRefusedNaming(const QString &temporaryPath, const QString &finalPath, VNErrorPtr refusal,
                                       bool cancelled, QNDocumentCallback completed) {
    auto self = sharedHandler();
    const QString name = finalPath.section(QLatin1Char('/'), -1);
    const QString temporaryName = temporaryPath.section(QLatin1Char('/'), -1);
    const QString why = cancelled ? QStringLiteral("The upload was cancelled.") : sentence(errorText(refusal));
    const QString start = QStringLiteral("\u201c%1\u201d was uploaded under the temporary name \u201c%2\u201d but "
                                         "could not take its own name: %3")
                              .arg(name, temporaryName, why);
    lookAt(finalPath, [=](bool there, VNErrorPtr lookError) {
        if (!there) {
            // The server may have removed the file it was to replace before
            // failing: the new one may be the only copy, and it stays. Said
            // even after a cancel: a file is left on the drive.
            const QString message =
                start + QLatin1Char(' ') +
                (lookError ? QStringLiteral("Whether \u201c%1\u201d is still there could not be told (%2), so the "
                                            "uploaded file is kept as \u201c%3\u201d.")
                                 .arg(finalPath, errorText(lookError), temporaryPath)
                           : QStringLiteral("\u201c%1\u201d is no longer there, so the uploaded file is kept as "
                                            "\u201c%2\u201d.")
                                 .arg(finalPath, temporaryPath));
            VNLog::log(QStringLiteral("QNWebDAVHandler upload: %1").arg(message));
            completed(nullptr, leavingFileOnDrive(handlerError(message)), cancelled);
            return;
        }
        self->removeTemporaryUpload(temporaryPath, [=](VNErrorPtr removeError) {
            const QString message =
                start + QLatin1Char(' ') +
                (removeError ? QStringLiteral("The temporary file \u201c%1\u201d could not be removed (%2).")
                                   .arg(temporaryPath, errorText(removeError))
                             : QStringLiteral("The temporary file was removed."));
            if (cancelled || removeError)
                VNLog::log(QStringLiteral("QNWebDAVHandler upload: %1").arg(message));
            // A cancelled upload that left nothing behind has nothing to say.
            if (cancelled && !removeError)
                completed(nullptr, nullptr, true);
            else
                completed(nullptr, removeError ? leavingFileOnDrive(handlerError(message)) : handlerError(message),
                          cancelled);
        });
    });
}

void QNWebDAVHandler::lookAt(const QString &path, std::function<void(bool, VNErrorPtr)> answer) {
    auto status = std::make_shared<int>(0);
    Call call;
    call.path = path;
    call.survivesCancel = true;
    call.configure = [](NRHTTPRequest &request) {
        request.setRequestMethod(QStringLiteral("PROPFIND"));
        request.addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("text/xml; charset=\"utf-8\""));
        request.addRequestHeader(QStringLiteral("Depth"), QStringLiteral("0"));
        request.appendPostData(listingRequestBody());
        request.setMaximumResponseDataSize(quint64(maximumListingBytes));
    };
    call.refused = [status](const NRHTTPRequest &request) {
        *status = request.responseStatusCode();
        return statusError(request);
    };
    call.failed = [status, answer](VNErrorPtr error, bool) { answer(false, *status == 404 ? nullptr : error); };
    call.succeeded = [answer](NRHTTPRequest &) { answer(true, nullptr); };
    perform(std::move(call));
}

void QNWebDAVHandler::removeTemporaryUpload(const QString &path, std::function<void(VNErrorPtr)> removed) {
    auto status = std::make_shared<int>(0);
    Call call;
    call.path = path;
    call.survivesCancel = true;
    call.configure = [](NRHTTPRequest &request) { request.setRequestMethod(QStringLiteral("DELETE")); };
    call.refused = [status](const NRHTTPRequest &request) {
        *status = request.responseStatusCode();
        return statusError(request);
    };
    call.failed = [status, path, removed](VNErrorPtr error, bool) {
        if (*status == 404) {
            removed(nullptr);  // never made, or gone already
            return;
        }
        VNLog::log(QStringLiteral("QNWebDAVHandler upload: the temporary file \u201c%1\u201d could not be removed: %2")
                       .arg(path, errorText(error)));
        removed(error);
    };
    call.succeeded = [removed](NRHTTPRequest &) { removed(nullptr); };
    perform(std::move(call));
}
