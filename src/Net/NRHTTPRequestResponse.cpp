// Reading the reply: headers, cookies, body, download files and redirects.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Formats/NRDataDecompressor.h"
#include "Net/NRCookieStore.h"
#include "Net/NRNetworkThread.h"
#include "Platform/VNPartName.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>

#include <curl/curl.h>
#include <filesystem>
#include <vector>

using namespace NRHTTPRequestInternal;

void NRHTTPRequest::closeDownloadStreams() {
    if (m_fileDownloadOutputStream)
        m_fileDownloadOutputStream->close();
    m_fileDownloadOutputStream.reset();
    if (m_inflatedFileDownloadOutputStream)
        m_inflatedFileDownloadOutputStream->close();
    m_inflatedFileDownloadOutputStream.reset();
}

// A download that did not end well leaves no temporary file behind (unless
// it is to be resumed) and never touches the destination. Gives the first
// file that could not be deleted.
VNErrorPtr NRHTTPRequest::deleteTemporaryDownloadFiles() {
    VNErrorPtr error;
    if (!m_allowResumeForFileDownloads && !m_temporaryFileDownloadPath.isEmpty()) {
        removeFile(m_temporaryFileDownloadPath, &error);
        m_temporaryFileDownloadPath.clear();
    }
    if (!m_temporaryUncompressedDataDownloadPath.isEmpty()) {
        removeFile(m_temporaryUncompressedDataDownloadPath, &error);
        m_temporaryUncompressedDataDownloadPath.clear();
    }
    return error;
}

// The body file the request made itself, and its compressed twin.
VNErrorPtr NRHTTPRequest::deleteTemporaryBodyFiles() {
    VNErrorPtr error;
    if (!m_didCreateTemporaryPostDataFile || m_postBodyFilePath.isEmpty())
        return error;
    removeFile(m_postBodyFilePath, &error);
    removeFile(m_compressedPostBodyFilePath, &error);
    return error;
}

size_t NRHTTPRequest::headerCallback(char *data, size_t size, size_t count, void *self) {
    auto *r = static_cast<NRHTTPRequest *>(self);
    std::lock_guard<std::recursive_mutex> locker(r->m_mutex);
    r->m_inCurlCallback = true;
    const size_t result = r->handleHeaderLine(QByteArrayView(data, qsizetype(size * count)));
    r->m_inCurlCallback = false;
    return result;
}

size_t NRHTTPRequest::writeCallback(char *data, size_t size, size_t count, void *self) {
    auto *r = static_cast<NRHTTPRequest *>(self);
    std::lock_guard<std::recursive_mutex> locker(r->m_mutex);
    return r->takeReplyPiece(data, size * count);
}

namespace {

// The header names most replies carry, each kept once as written in the
// usual letters and in small letters: a reply's header takes its name from
// here (a copy, no allocation of its own) when the server wrote it so. The
// table lives to the end of the process, never torn down by the exit
// handlers: the network thread is never joined and may be reading a reply's
// headers while they run.
struct KnownHeaderName {
    QByteArray bytes;
    QString text;
};

const std::vector<KnownHeaderName> &knownHeaderNames() {
    static const auto *names = [] {
        auto *list = new std::vector<KnownHeaderName>();
        for (const char *name :
             {"Server", "Date", "Content-Type", "Content-Length", "Last-Modified", "Connection", "Keep-Alive", "ETag",
              "Accept-Ranges", "Cache-Control", "Expires", "Vary", "Content-Encoding", "Transfer-Encoding", "Location",
              "Set-Cookie", "Content-Range", "WWW-Authenticate", "Age", "Pragma", "Content-Disposition", "DAV",
              "X-Content-Type-Options", "Strict-Transport-Security", "Access-Control-Allow-Origin"}) {
            const QByteArray bytes(name);
            list->push_back({bytes, QString::fromLatin1(bytes)});
            const QByteArray lower = bytes.toLower();
            list->push_back({lower, QString::fromLatin1(lower)});
        }
        return list;
    }();
    return *names;
}

const KnownHeaderName *knownHeaderName(QByteArrayView name) {
    for (const KnownHeaderName &known : knownHeaderNames())
        if (known.bytes.size() == name.size() && known.bytes == name)
            return &known;
    return nullptr;
}

QByteArray headerNameBytes(QByteArrayView name) {
    const KnownHeaderName *known = knownHeaderName(name);
    return known ? known->bytes : name.toByteArray();
}

QString headerNameText(const QByteArray &name) {
    const KnownHeaderName *known = knownHeaderName(name);
    return known ? known->text : QString::fromLatin1(name);
}

}  // namespace

size_t NRHTTPRequest::handleHeaderLine(QByteArrayView line) {
    if (m_abortTransfer || m_complete)
        return 0;
    m_lastActivity.start();
    const QByteArrayView trimmed = line.trimmed();
    if (line.startsWith("HTTP/")) {
        // A new reply (an interim 100, or one step of an NTLM exchange).
        noteConnectionInUse();
        m_rawHeaders.clear();
        m_rawHeaders.reserve(16);  // room for a usual reply's headers at once
        m_statusLine = trimmed.toByteArray();
        const qsizetype space = trimmed.indexOf(' ');
        int code = 0;
        for (qsizetype i = space + 1; space > 0 && i < trimmed.size() && code < 1000; ++i) {
            if (trimmed[i] < '0' || trimmed[i] > '9')
                break;
            code = code * 10 + (trimmed[i] - '0');
        }
        m_responseStatusCode = code;
        return line.size();
    }
    if (trimmed.isEmpty()) {
        if (m_responseStatusCode >= 100 && m_responseStatusCode < 200)
            return line.size();  // interim reply; the real one follows
        if ((m_ntlmCredentials && m_responseStatusCode == 401) || (m_proxyCredentials && m_responseStatusCode == 407)) {
            m_deferHeaders = true;  // libcurl may answer this challenge itself
            return line.size();
        }
        m_deferHeaders = false;
        readResponseHeaders();
        return m_abortTransfer ? 0 : line.size();
    }
    if ((line.startsWith(' ') || line.startsWith('\t')) && !m_rawHeaders.isEmpty()) {
        QByteArray &value = m_rawHeaders.last().second;
        value += ' ';
        value += trimmed;
        return line.size();
    }
    const qsizetype colon = trimmed.indexOf(':');
    if (colon > 0)
        m_rawHeaders.append({headerNameBytes(trimmed.first(colon).trimmed()), trimmed.sliced(colon + 1).trimmed().toByteArray()});
    return line.size();
}

using HeaderMap = QMap<QString, QString>;

namespace {

// "bytes 500-999/1000": 500; -1 when unreadable.
qint64 rangeStart(const QString &contentRange) {
    const QString text = contentRange.trimmed();
    if (!text.startsWith(QLatin1String("bytes "), Qt::CaseInsensitive))
        return -1;
    bool ok = false;
    const qint64 start = text.mid(6, text.indexOf(QLatin1Char('-')) - 6).trimmed().toLongLong(&ok);
    return ok ? start : -1;
}

}  // namespace

void NRHTTPRequest::readResponseHeaders() {
    m_authenticationNeeded = 0;
    m_headersRead = true;
    m_responseHeaders.clear();
    for (const auto &[name, value] : m_rawHeaders) {
        const QString n = headerNameText(name);
        const QString v = QString::fromUtf8(value);
        // A repeated header (in any case) joins the first one's value.
        if (const auto seen = findHeader(m_responseHeaders, n); seen != m_responseHeaders.cend())
            m_responseHeaders[seen.key()] += QLatin1String(", ") + v;
        else
            m_responseHeaders.insert(n, v);
    }
    m_responseStatusMessage = QString::fromLatin1(m_statusLine);
    readKeepAliveTerms();
    m_responseCompressed =
        responseHeader(QStringLiteral("Content-Encoding")).contains(QLatin1String("gzip"), Qt::CaseInsensitive);
    if (m_responseStatusCode == 401)
        m_authenticationNeeded = 1;
    else if (m_responseStatusCode == 407)
        m_authenticationNeeded = 2;
    if (m_authenticationNeeded == 0)
        recordBasicSuccess();

    // Character set: the reply's, else UTF-8 for JSON and XML, else the default.
    QString mime;
    QByteArray charset;
    parseContentType(responseHeader(QStringLiteral("Content-Type")), &mime, &charset);
    if (!charset.isEmpty() && isKnownEncoding(charset))
        m_responseEncoding = charset;
    else if (isJSONOrXML(mime))
        m_responseEncoding = "UTF-8";
    else
        m_responseEncoding = m_defaultResponseEncoding;

    // Cookies.
    m_responseCookies.clear();
    for (const auto &[name, value] : m_rawHeaders) {
        if (qstricmp(name.constData(), "Set-Cookie") != 0)
            continue;
        for (QNetworkCookie c : QNetworkCookie::parseCookies(value)) {
            c.normalize(m_url);
            m_responseCookies.append(c);
        }
    }
    if (m_useCookiePersistence && !m_responseCookies.isEmpty()) {
        for (const QNetworkCookie &c : NRCookieStore::shared().setCookiesFromUrl(m_responseCookies, m_url))
            addSessionCookie(c);
    }

    if (!willRedirect()) {
        const QString lengthText = responseHeader(QStringLiteral("Content-Length")).trimmed();
        bool ok = false;
        const qulonglong length = lengthText.toULongLong(&ok, 10);  // decimal, whatever it looks like
        const bool countSize = m_showAccurateProgress && m_shouldResetDownloadProgress;
        if (isHEADForMainRequest()) {
            // 20 bytes is the gzip of nothing: the length of a compressed
            // reply says nothing about the body the main request will get.
            if (auto main = m_mainRequest.lock())
                main->takeLengthFromHEADRequest(ok ? std::optional<quint64>(length) : std::nullopt, countSize,
                                                ok && length == 20 && m_allowCompressedResponse);
        } else if (ok) {
            m_contentLength = length;
            if (m_showAccurateProgress && m_shouldResetDownloadProgress) {
                incrementDownloadSizeBy(qint64(length + m_partialDownloadSize));
                m_attemptDownloadSize += qint64(length + m_partialDownloadSize);
            }
        } else if (m_showAccurateProgress && m_shouldResetDownloadProgress) {
            m_showAccurateProgress = false;
            incrementDownloadSizeBy(1);
        }
    }
    if (m_responseStatusCode == 416 && m_partialDownloadSize > 0)
        m_dropBody416 = true;  // never append an error page to a resumed file

    if (!m_wantsHeaders)
        return;
    const QMap<QString, QString> headers = m_responseHeaders;
    onMain([headers](NRHTTPRequest &r) { r.requestReceivedResponseHeaders(headers); });
}

// The header group (main thread): the delegate, the block, the queue.
void NRHTTPRequest::requestReceivedResponseHeaders(const QMap<QString, QString> &headers) {
    if (m_failed.load())
        return;
    if (delegateResponds(m_didReceiveResponseHeadersSelector, "NRHTTPRequest*,QMap<QString,QString>"))
        QMetaObject::invokeMethod(m_delegate.data(), m_didReceiveResponseHeadersSelector.constData(), Qt::DirectConnection,
                                  Q_ARG(NRHTTPRequest *, this), QArgument<HeaderMap>("QMap<QString,QString>", headers));
    else
        callDelegate(m_didReceiveResponseHeadersSelector);
    if (m_headersReceivedBlock)
        m_headersReceivedBlock(headers);
    if (auto q = m_queue.lock())
        q->requestDidReceiveResponseHeaders(this, headers);
}

void NRHTTPRequest::takeLengthFromHEADRequest(std::optional<quint64> length, bool countSize, bool compressedLength) {
    LOCKED;
    if (m_error || m_inProgress)
        return;  // ended, or learning its size itself
    if (!length || (compressedLength && countSize)) {
        // Its size is unknown until its own reply ends: one unit.
        if (countSize) {
            m_showAccurateProgress = false;
            incrementDownloadSizeBy(1);
        }
        return;
    }
    m_contentLength = *length;
    if (countSize)
        incrementDownloadSizeBy(qint64(*length + m_partialDownloadSize));
}

bool NRHTTPRequest::takeFailureOfHEADRequest(const VNErrorPtr &error) {
    LOCKED;
    if (m_error || m_cancelled || m_complete)
        return false;
    // A HEAD request cancelled (by the queue, or with its main request's
    // batch) cancels the request it was made for: both say so before the
    // failure is heard, as a request cancelled itself does.
    if (error && error->code() == RequestCancelledErrorType) {
        markCancelled();
        m_cancelled = true;
    }
    m_error = error;
    m_failed.store(true);
    m_complete = true;
    onMain([](NRHTTPRequest &r) { r.reportFailure(); });
    return true;
}

void NRHTTPRequest::passFailureToMainRequest(const VNErrorPtr &error) {
    if (auto main = m_mainRequest.lock())
        main->takeFailureOfHEADRequest(error);
    onMain([](NRHTTPRequest &r) { r.leaveQueueSilently(); });
}

void NRHTTPRequest::leaveQueueSilently() {
    if (auto q = m_queue.lock())
        q->requestWasSilenced(this);
    releaseBlocks();
}

bool NRHTTPRequest::willRedirect() {
    const QString location = responseHeader(QStringLiteral("Location"));
    const int s = m_responseStatusCode;
    if (!m_shouldRedirect || location.isNull() || !(s == 301 || s == 302 || s == 303 || s == 307))
        return false;
    if (m_wantsRedirected) {
        onMain([](NRHTTPRequest &r) {
            if (r.m_failed.load())
                return;
            if (r.delegateHearsRedirects() && r.delegateResponds("requestRedirected", "NRHTTPRequest*"))
                QMetaObject::invokeMethod(r.m_delegate.data(), "requestRedirected", Qt::DirectConnection,
                                          Q_ARG(NRHTTPRequest *, &r));
            if (r.m_requestRedirectedBlock)
                r.m_requestRedirectedBlock();
        });
    }
    const QUrl target = m_url.resolved(QUrl(location));
    if (s == 303 || ((s == 301 || s == 302) && !m_shouldUseRFC2616RedirectBehaviour)) {
        if (m_requestMethod != QLatin1String("HEAD"))  // a HEAD request never turns into a download
            m_requestMethod = QStringLiteral("GET");
        m_postBody = QByteArray();
        m_hasPostBody = false;
        m_compressedPostBody = QByteArray();
        if (VNErrorPtr error = deleteTemporaryBodyFiles()) {
            failWithError(error);
            return false;
        }
        m_postBodyFilePath.clear();
        m_shouldStreamPostDataFromDisk = false;
        m_postLength = 0;
        // Only "User-Agent" and "Accept" go on to the new GET; a caller's
        // "Authorization" stays behind (the request's own credentials are
        // applied again for the new URL, where they may go).
        QMap<QString, QString> kept;
        for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
            if (it.key().compare(QLatin1String("User-Agent"), Qt::CaseInsensitive) == 0 ||
                it.key().compare(QLatin1String("Accept"), Qt::CaseInsensitive) == 0)
                kept.insert(it.key(), it.value());
        }
        m_requestHeaders = kept;
        m_callerSetAuthorization = false;
        m_ourCookieHeader = false;
        m_ourAuthorization = false;
        m_haveBuiltRequestHeaders = false;
    }
    m_redirectURL = target;
    m_needsRedirect = true;
    m_requestCookies.clear();
    if (m_ourCookieHeader) {
        m_requestHeaders.remove(QStringLiteral("Cookie"));
        m_ourCookieHeader = false;
    }
    return true;
}

size_t NRHTTPRequest::handleBytesAvailable(const char *data, size_t length) {
    if (m_abortTransfer || m_complete)
        return 0;
    if (!m_headersRead) {
        if (m_deferHeaders)
            return length;  // the body of an NTLM step
        readResponseHeaders();
    }
    if (length == 0)
        return 0;
    m_totalBytesRead += length;
    m_lastActivity.start();
    // A redirect's own body is never the reply.
    if (m_needsRedirect)
        return length;
    // A challenge, a refused resume or an error page never goes into a
    // download file: it stays readable as the response data.
    if (m_authenticationNeeded || m_dropBody416 || (!m_downloadDestinationPath.isEmpty() && isErrorReply())) {
        keepErrorBodyPiece(data, length);
        return length;
    }
    const bool toFile = !m_deliverData && !m_downloadDestinationPath.isEmpty();
    // Data callbacks always get inflated bytes; a body kept in memory is
    // inflated as it comes too, if only to measure it against its bound.
    const bool inflateNow = isResponseCompressed() && (!m_shouldWaitToInflateCompressedResponses || !toFile);
    QByteArray inflated;
    if (inflateNow && !inflatePiece(data, length, &inflated))
        return 0;
    if (m_deliverData) {
        const QByteArray piece = inflateNow ? inflated : QByteArray(data, qsizetype(length));
        if (!inflateNow && !bodyWithinBound(m_bodyBytesInflated += length))
            return 0;
        if (!piece.isEmpty()) {
            onMain([piece](NRHTTPRequest &r) {
                if (r.delegateResponds(r.m_didReceiveDataSelector, "NRHTTPRequest*,QByteArray"))
                    QMetaObject::invokeMethod(r.m_delegate.data(), r.m_didReceiveDataSelector.constData(),
                                              Qt::DirectConnection, Q_ARG(NRHTTPRequest *, &r), Q_ARG(QByteArray, piece));
                if (r.m_dataReceivedBlock)
                    r.m_dataReceivedBlock(piece);
            });
        }
        return length;
    }
    if (!toFile) {
        // Kept inflated when inflating on the fly, else as received.
        const QByteArrayView piece = inflateNow && !m_shouldWaitToInflateCompressedResponses
                                         ? QByteArrayView(inflated)
                                         : QByteArrayView(data, qsizetype(length));
        if (!bodyWithinBound(quint64(m_rawResponseData.size() + piece.size())))
            return 0;
        m_rawResponseData.append(piece);
        return length;
    }
    auto openWriter = [&](std::unique_ptr<QFile> &writer, QString &path) -> bool {
        if (writer)
            return true;
        const bool pathWasSet = !path.isEmpty();
        if (!pathWasSet)
            path = newTemporaryPath();
        // Appended only to what the server continues: a 206 for our Range.
        // Any other reply is the whole body, and the file starts again.
        const bool resumed = m_allowResumeForFileDownloads && pathWasSet && m_responseStatusCode == 206 &&
                             !responseHeader(QStringLiteral("Content-Range")).isNull() &&
                             m_requestHeaders.contains(QStringLiteral("Range"));
        if (resumed && rangeStart(responseHeader(QStringLiteral("Content-Range"))) != qint64(m_partialDownloadSize)) {
            failWithError(makeError(FileManagementError,
                                    QStringLiteral("The server did not resume the download at path '%1' where it ended")
                                        .arg(path)));
            return false;
        }
        if (!resumed && m_partialDownloadSize > 0) {
            incrementDownloadSizeBy(-qint64(m_partialDownloadSize));
            m_attemptDownloadSize -= qint64(m_partialDownloadSize);
            m_partialDownloadSize = 0;
        }
        writer = std::make_unique<QFile>(path);
        // Unbuffered: libcurl hands over large pieces, and a buffered QFile
        // would copy every byte of the body once more before writing it.
        return writer->open(QIODevice::Unbuffered | (resumed ? (QIODevice::WriteOnly | QIODevice::Append)
                                                              : (QIODevice::WriteOnly | QIODevice::Truncate)));
    };
    if (!openWriter(m_fileDownloadOutputStream, m_temporaryFileDownloadPath) ||
        m_fileDownloadOutputStream->write(data, qint64(length)) != qint64(length)) {
        const QString why = m_fileDownloadOutputStream ? m_fileDownloadOutputStream->errorString() : QString();
        failWithError(makeError(FileManagementError,
                                QStringLiteral("Failed to write to file at path '%1'").arg(m_temporaryFileDownloadPath), why));
        return 0;
    }
    if (inflateNow && !inflated.isEmpty()) {
        if (!openWriter(m_inflatedFileDownloadOutputStream, m_temporaryUncompressedDataDownloadPath) ||
            m_inflatedFileDownloadOutputStream->write(inflated) != inflated.size()) {
            failWithError(makeError(FileManagementError,
                                    QStringLiteral("Failed to write to file at path '%1'").arg(m_temporaryUncompressedDataDownloadPath)));
            return 0;
        }
    }
    return length;
}

// An error or challenge page keeps its first MiB; the rest is read and
// dropped (a hostile server may send it for ever, but not into memory).
void NRHTTPRequest::keepErrorBodyPiece(const char *data, size_t length) {
    const qsizetype room = keptErrorBodySize - m_rawResponseData.size();
    if (room > 0)
        m_rawResponseData.append(data, std::min(room, qsizetype(length)));
}

quint64 NRHTTPRequest::bodyBound() const {
    return m_maximumResponseDataSize ? m_maximumResponseDataSize : defaultMaximumResponseDataSize;
}

// A body kept in memory is always bounded; one handed to data callbacks
// only when the caller set a bound; one written to a file never.
bool NRHTTPRequest::bodyIsBounded() const {
    return m_deliverData ? m_maximumResponseDataSize > 0 : m_downloadDestinationPath.isEmpty();
}

bool NRHTTPRequest::bodyWithinBound(quint64 size) {
    if (!bodyIsBounded() || size <= bodyBound())
        return true;
    failWithError(makeError(ResponseTooLargeErrorType,
                            QStringLiteral("The reply was too large (more than %1 bytes)").arg(bodyBound())));
    return false;
}

bool NRHTTPRequest::inflatePiece(const char *data, size_t length, QByteArray *inflated) {
    if (!m_dataDecompressor) {
        m_dataDecompressor = NRDataDecompressor::decompressor();
        if (bodyIsBounded())
            m_dataDecompressor->setOutputLimit(qint64(bodyBound()));
    }
    VNErrorPtr err;
    *inflated = m_dataDecompressor->uncompressBytes(data, qsizetype(length), &err);
    if (m_dataDecompressor->outputLimitExceeded())
        return bodyWithinBound(bodyBound() + 1);
    if (err && !measuringOnly()) {
        failWithError(err);
        return false;
    }
    m_bodyBytesInflated += quint64(inflated->size());
    return true;
}

void NRHTTPRequest::updatePartialDownloadSize() {
    if (m_allowResumeForFileDownloads && !m_downloadDestinationPath.isEmpty() && !m_temporaryFileDownloadPath.isEmpty() &&
        QFile::exists(m_temporaryFileDownloadPath)) {
        QFileInfo info(m_temporaryFileDownloadPath);
        m_partialDownloadSize = quint64(info.size());
    }
}

void NRHTTPRequest::transferDone(CURL *easy, int curlCode) {
    LOCKED;
    if (easy != m_easy)
        return;
    if (m_abortTransfer || m_complete || m_cancelled) {
        m_abortTransfer = false;
        destroyTransfer();
        return;
    }
    if (curlCode == CURLE_OK) {
        connectionReplyEnded(easy);
        handleStreamComplete();
    }
    else
        handleStreamError(curlCode);
}

bool NRHTTPRequest::removeFile(const QString &path, VNErrorPtr *error) {
    if (path.isEmpty() || !QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (file.remove())
        return true;
    if (!*error)
        *error = makeError(FileManagementError, QStringLiteral("Failed to delete file at path '%1'").arg(path), file.errorString());
    return false;
}

bool NRHTTPRequest::moveFileIntoPlace(const QString &from, const QString &to, VNErrorPtr *error) {
    std::error_code ec;
    std::filesystem::rename(from.toStdString(), to.toStdString(), ec);  // replaces the destination at once
    if (!ec)
        return true;
    if (ec == std::errc::cross_device_link) {
        // Another file system: copy beside the destination, then rename over it.
        const QString beside = VNPartName::beside(to, VNPartName::randomSuffix(QStringLiteral("part"), 32));
        std::error_code ec2;
        std::filesystem::copy_file(from.toStdString(), beside.toStdString(), ec2);
        if (!ec2)
            std::filesystem::rename(beside.toStdString(), to.toStdString(), ec2);
        if (!ec2) {
            removeFile(from, error);
            return true;
        }
        QFile::remove(beside);
        ec = ec2;
    }
    *error = makeError(FileManagementError, QStringLiteral("Failed to move file from '%1' to '%2'").arg(from, to),
                       QString::fromStdString(ec.message()));
    return false;
}

void NRHTTPRequest::handleStreamComplete() {
    long connectCode = 0;
    curl_easy_getinfo(m_easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (connectCode == 407 && !m_headersRead) {
        // The proxy refused the tunnel: its challenge, not a reply.
        readTunnelChallenge();
        destroyTransfer();
        m_responseStatusCode = 407;
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    m_downloadComplete = true;
    if (!m_headersRead)
        readResponseHeaders();
    if (answerFromCacheAfterReply())
        return;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    long connects = 0;
    curl_easy_getinfo(m_easy, CURLINFO_NUM_CONNECTS, &connects);
    m_newConnectionCount = int(connects);
    m_complete = true;
    takeBytesSent(quint64(uploaded));
    if (m_contentLength == 0)
        m_contentLength = m_totalBytesRead;
    updateProgressIndicators();
    destroyTransfer();

    VNErrorPtr fileError;
    if (m_dataDecompressor && !measuringOnly() && !m_needsRedirect && m_authenticationNeeded == 0)
        fileError = m_dataDecompressor->finishStream();  // a gzip reply cut short is no success
    m_dataDecompressor.reset();

    const bool replyIsTheAnswer = !m_needsRedirect && m_authenticationNeeded == 0;
    // Whether this reply becomes the destination file (a HEAD reply, an
    // error reply or a body handed to a data callback does not).
    const bool replyMakesFile = replyIsTheAnswer && !m_downloadDestinationPath.isEmpty() && !m_deliverData &&
                                !m_dropBody416 && !isErrorReply() && m_requestMethod != QLatin1String("HEAD");
    if (!m_fileDownloadOutputStream && !m_temporaryFileDownloadPath.isEmpty() &&
        !QFileInfo::exists(m_temporaryFileDownloadPath)) {
        // A temporary path was given but no byte of the body came: an empty
        // body still makes an (empty) file; otherwise there is nothing to move.
        if (replyMakesFile && !fileError) {
            QFile empty(m_temporaryFileDownloadPath);
            if (!empty.open(QIODevice::WriteOnly))
                fileError = makeError(FileManagementError,
                                      QStringLiteral("Failed to write to file at path '%1'").arg(m_temporaryFileDownloadPath),
                                      empty.errorString());
        }
    }
    if (!m_temporaryFileDownloadPath.isEmpty() || m_fileDownloadOutputStream) {
        closeDownloadStreams();
        if (replyMakesFile && !fileError) {
            const bool compressed = isResponseCompressed();
            if (compressed && m_shouldWaitToInflateCompressedResponses) {
                // Inflate beside the destination first: a broken reply must
                // not destroy a file that is already there.
                const QString inflatedPath = newTemporaryPath();
                if (NRDataDecompressor::uncompressDataFromFile(m_temporaryFileDownloadPath, inflatedPath, &fileError))
                    moveFileIntoPlace(inflatedPath, m_downloadDestinationPath, &fileError);
                removeFile(inflatedPath, &fileError);
                removeFile(m_temporaryFileDownloadPath, &fileError);
                m_temporaryFileDownloadPath.clear();
            } else if (compressed && !m_temporaryUncompressedDataDownloadPath.isEmpty()) {
                moveFileIntoPlace(m_temporaryUncompressedDataDownloadPath, m_downloadDestinationPath, &fileError);
                m_temporaryUncompressedDataDownloadPath.clear();
                removeFile(m_temporaryFileDownloadPath, &fileError);
                m_temporaryFileDownloadPath.clear();
            } else if (!m_temporaryFileDownloadPath.isEmpty()) {
                if (moveFileIntoPlace(m_temporaryFileDownloadPath, m_downloadDestinationPath, &fileError))
                    m_temporaryFileDownloadPath.clear();
            }
        }
    } else if (replyMakesFile) {
        // An empty reply still gives an (empty) file.
        QFile empty(VNPartName::beside(m_downloadDestinationPath, VNPartName::randomSuffix(QStringLiteral("part"), 32)));
        if (empty.open(QIODevice::WriteOnly)) {
            empty.close();
            moveFileIntoPlace(empty.fileName(), m_downloadDestinationPath, &fileError);
        } else if (!fileError) {
            fileError = makeError(FileManagementError,
                                  QStringLiteral("Failed to write to file at path '%1'").arg(m_downloadDestinationPath),
                                  empty.errorString());
        }
    }

    if (m_needsRedirect) {
        // Kept in the cache like any reply, so a later request can follow it
        // from there.
        if (auto cache = m_downloadCache.lock(); cache && !fileError)
            cache->storeResponseForRequest(*this, m_secondsToCache);
        followRedirect();
        return;
    }
    if (m_authenticationNeeded) {
        attemptToApplyCredentialsAndResume();
        return;
    }
    if (!fileError && reviewReply(&fileError) == ReplyVerdict::Retry && m_retryCount == 0) {
        ++m_retryCount;
        m_freshConnection = true;
        startRequest();
        return;
    }
    if (!fileError)
        fileError = deleteTemporaryBodyFiles();
    if (fileError) {
        failWithError(fileError);
        return;
    }
    // The reply as it arrived, also of a request that defers its finish
    // (which may store what it makes of it later).
    if (auto cache = m_downloadCache.lock())
        cache->storeResponseForRequest(*this, m_secondsToCache);
    if (deferFinishing()) {
        m_finishDeferred = !m_error;
        return;
    }
    onMain([](NRHTTPRequest &r) { r.reportFinished(); });
    if (m_networkThreadDone) {
        auto done = std::move(m_networkThreadDone);
        auto self = sharedSelf();
        NRNetworkThread::shared().post([done, self] { done(*self); });
    }
    markAsFinished();
}

void NRHTTPRequest::finishDeferred() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (self->m_error || self->m_cancelled)
            return;
        self->m_finishDeferred = false;
        self->onMain([](NRHTTPRequest &r) { r.reportFinished(); });
        self->markAsFinished();
    });
}

void NRHTTPRequest::failDeferred(const VNErrorPtr &error) {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self, error] { self->failWithError(error); });
}

void NRHTTPRequest::setRawResponseData(const QByteArray &data) {
    LOCKED;
    m_rawResponseData = data;
}

void NRHTTPRequest::removeResponseHeader(const QString &name) {
    LOCKED;
    for (auto it = m_responseHeaders.begin(); it != m_responseHeaders.end();) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            it = m_responseHeaders.erase(it);
        else
            ++it;
    }
    if (name.compare(QLatin1String("Content-Encoding"), Qt::CaseInsensitive) == 0)
        m_responseCompressed = false;
}

void NRHTTPRequest::followRedirect() {
    if (m_delegateConfirmsRedirect) {
        const QUrl target = m_redirectURL;
        m_redirectURL = QUrl();
        m_lastActivity.invalidate();
        m_waitingForRedirect = true;
        // The delegate is asked, then the queue; either answers with
        // redirectToURL() (the first answer wins).
        onMain([target](NRHTTPRequest &r) {
            if (r.m_failed.load())
                return;
            const bool asked = r.delegateResponds(r.m_willRedirectSelector, "NRHTTPRequest*,QUrl");
            if (asked)
                QMetaObject::invokeMethod(r.m_delegate.data(), r.m_willRedirectSelector.constData(), Qt::DirectConnection,
                                          Q_ARG(NRHTTPRequest *, &r), Q_ARG(QUrl, target));
            if (auto q = r.m_queue.lock(); q && (q->respondsToWillRedirect() || !asked))
                q->requestWillRedirectToURL(&r, target);
            else if (!asked)
                r.redirectToURL(target);  // nobody left to ask
        });
        return;
    }
    performRedirect();
}

// Credentials and cookies never travel to another origin, nor from https
// down to plain http: whoever set them (the caller too), and wherever the
// redirect goes (the server's target or the one a delegate chose).
void NRHTTPRequest::dropCredentialsLeavingFor(const QUrl &target) {
    const bool downgrade = m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                           target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    if (sameOrigin(m_url, target) && !downgrade)
        return;
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end();) {
        if (it.key().compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0 ||
            it.key().compare(QLatin1String("Cookie"), Qt::CaseInsensitive) == 0)
            it = m_requestHeaders.erase(it);
        else
            ++it;
    }
    m_callerSetAuthorization = m_ourAuthorization = m_ourCookieHeader = false;
    m_username.clear();
    m_password.clear();
    m_domain.clear();
    m_requestCredentials.reset();
    m_requestAuthentication.reset();
    m_authenticationScheme.clear();
    m_authenticationRealm.clear();
}

void NRHTTPRequest::redirectToURL(const QUrl &url) {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self, url] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        // Only the first answer to the question (delegate and queue may both
        // have been asked).
        if (self->m_error || self->m_cancelled || !self->m_waitingForRedirect)
            return;
        self->m_waitingForRedirect = false;
        self->m_redirectURL = url;
        self->performRedirect();
    });
}

void NRHTTPRequest::performRedirect() {
    const QUrl target = m_redirectURL;
    if (!isAllowedScheme(target) || target.host().isEmpty()) {
        m_needsRedirect = false;
        failWithError(makeError(UnableToCreateRequestErrorType, QStringLiteral("Unable to create request (bad url?)")));
        return;
    }
    dropCredentialsLeavingFor(target);
    m_url = target;
    m_redirectURL = QUrl();
    m_requestAuthentication.reset();
    forgetChosenProxy();
    m_complete = true;
    m_needsRedirect = false;
    ++m_redirectCount;
    if (m_redirectCount <= kMaximumRedirects) {
        main();
        return;
    }
    failWithError(makeError(TooMuchRedirectionErrorType, QStringLiteral("The request failed because it redirected too many times")));
    m_complete = true;
}
