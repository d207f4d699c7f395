// Building a request and sending it: the body, the headers and the libcurl transfer.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Formats/NRDataCompressor.h"
#include "Net/NRBandwidthThrottle.h"
#include "Formats/NRDataDecompressor.h"
#include "Net/NRCookieStore.h"
#include "Net/NRNetworkThread.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QFileInfo>

#include <curl/curl.h>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

using namespace NRHTTPRequestInternal;

void NRHTTPRequest::setupPostBody() {
    if (m_shouldStreamPostDataFromDisk) {
        if (m_postBodyFilePath.isEmpty()) {
            m_postBodyFilePath = newTemporaryPath();
            m_didCreateTemporaryPostDataFile = true;
        }
        if (!m_postBodyWriteStream) {
            m_postBodyWriteStream = std::make_unique<QFile>(m_postBodyFilePath);
            if (!m_postBodyWriteStream->open(QIODevice::WriteOnly | QIODevice::Truncate))
                recordBodyWriteError();
        }
    } else if (!m_hasPostBody) {
        m_postBody = QByteArray();
        m_hasPostBody = true;
    }
}

// A body file that could not be written whole (a full disk): the request
// fails when its body is built, before anything is sent. The first
// failure is kept.
void NRHTTPRequest::recordBodyWriteError() {
    if (m_postBodyWriteError)
        return;
    m_postBodyWriteError = makeError(FileManagementError,
                                     QStringLiteral("Failed to write to file at path '%1'").arg(m_postBodyFilePath),
                                     m_postBodyWriteStream ? m_postBodyWriteStream->errorString() : QString());
    VNLog::log(QStringLiteral("NRHTTPRequest: %1").arg(m_postBodyWriteError->localizedDescription()));
}

void NRHTTPRequest::appendPostData(const QByteArray &data) {
    LOCKED;
    setupPostBody();
    if (data.isEmpty())
        return;
    if (!m_shouldStreamPostDataFromDisk)
        m_postBody.append(data);
    else if (!m_postBodyWriteError && m_postBodyWriteStream->write(data) != data.size())
        recordBodyWriteError();
}

void NRHTTPRequest::appendPostDataFromFile(const QString &path) {
    LOCKED;
    if (VNErrorPtr error = appendFileToPostBody(path))
        VNLog::log(QStringLiteral("NRHTTPRequest: %1").arg(error->localizedDescription()));
}

VNErrorPtr NRHTTPRequest::appendFileToPostBody(const QString &path) {
    LOCKED;
    setupPostBody();
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return makeError(InternalErrorWhileBuildingRequestType, QStringLiteral("No file exists at %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return makeError(InternalErrorWhileBuildingRequestType,
                         QStringLiteral("Failed to read file at path '%1'").arg(path), file.errorString());
    for (;;) {
        const QByteArray piece = file.read(262144);
        if (piece.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                return makeError(InternalErrorWhileBuildingRequestType,
                                 QStringLiteral("Failed to read file at path '%1'").arg(path), file.errorString());
            return nullptr;
        }
        appendPostData(piece);
        if (m_postBodyWriteError)
            return m_postBodyWriteError;
    }
}

void NRHTTPRequest::startAsynchronous() {
    if (m_enqueued.exchange(true))
        return;  // started already
    decideCallbacks();
    NRNetworkThread::shared().enqueue(sharedSelf());
}

void NRHTTPRequest::startSynchronous() {
    if (m_enqueued.exchange(true))
        return;
    m_isSynchronous = true;
    decideCallbacks();
    m_canAskForCredentials = m_canAskForProxyCredentials = false;  // nobody could answer in time
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] { self->startOnNetworkThread(false); });
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread()) {
        // The callbacks come to this thread: keep serving its events.
        NRNetworkThread::serveEventsUntil([this] { return isFinished(); });
    } else {
        waitUntilFinished();
    }
}

// What the delegate can do is decided when the request starts, on the
// thread that starts it.
void NRHTTPRequest::decideCallbacks() {
    m_deliverData = bool(m_dataReceivedBlock) || delegateResponds(m_didReceiveDataSelector, "NRHTTPRequest*,QByteArray");
    const std::shared_ptr<NRRequestQueueListener> queue = m_queue.lock();
    m_delegateConfirmsRedirect = delegateResponds(m_willRedirectSelector, "NRHTTPRequest*,QUrl") ||
                                 (queue && queue->respondsToWillRedirect());
    m_canAskForCredentials = bool(m_authenticationNeededBlock) ||
                             delegateResponds("authenticationNeededForRequest", "NRHTTPRequest*") ||
                             (queue && queue->respondsToAuthenticationNeeded());
    m_canAskForProxyCredentials = bool(m_proxyAuthenticationNeededBlock) ||
                                  delegateResponds("proxyAuthenticationNeededForRequest", "NRHTTPRequest*") ||
                                  (queue && queue->respondsToProxyAuthenticationNeeded());
    const bool queued = bool(queue);
    m_wantsStarted = queued || m_startedBlock || delegateResponds(m_didStartSelector, "NRHTTPRequest*");
    m_wantsHeaders = queued || m_headersReceivedBlock ||
                     delegateResponds(m_didReceiveResponseHeadersSelector, "NRHTTPRequest*") ||
                     delegateResponds(m_didReceiveResponseHeadersSelector, "NRHTTPRequest*,QMap<QString,QString>");
    m_wantsRedirected = m_requestRedirectedBlock || (delegateHearsRedirects() && delegateResponds("requestRedirected", "NRHTTPRequest*"));
    m_wantsUploadProgress = queued || m_bytesSentBlock || m_uploadSizeIncrementedBlock || !m_uploadProgressDelegate.expired();
    m_wantsDownloadProgress =
        queued || m_bytesReceivedBlock || m_downloadSizeIncrementedBlock || !m_downloadProgressDelegate.expired();
    if (m_madeForMainRequest && m_mainRequest.expired())
        m_madeForMainRequest = false;  // nobody to speak through: a plain HEAD request
    if (isHEADForMainRequest()) {
        // It speaks through its main request only (its failure and its
        // length); a redirect is followed without asking anybody.
        m_wantsStarted = m_wantsHeaders = m_wantsRedirected = false;
        m_wantsUploadProgress = m_wantsDownloadProgress = false;
        m_delegateConfirmsRedirect = false;
    }
}

void NRHTTPRequest::start() {
    if (m_enqueued.exchange(true))
        return;  // started already
    decideCallbacks();
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] { self->startOnNetworkThread(false); });
}

void NRHTTPRequest::buildPostBodyNow() {
    LOCKED;
    buildPostBody();
}

void NRHTTPRequest::startOnNetworkThread(bool holdsPlace) {
    {
        LOCKED;
        m_inProgress = true;
        m_holdsPlace = holdsPlace;
    }
    setExecuting(true);
    main();
}

void NRHTTPRequest::main() {
    LOCKED;
    try {
        runMain();
    } catch (const std::exception &e) {
        failWithError(exceptionError(e));
    }
}

void NRHTTPRequest::runMain() {
    if (m_error) {
        m_complete = true;
        markAsFinished();
        return;
    }
    m_complete = false;
    if (!m_url.isValid() || m_url.host().isEmpty() || !isAllowedScheme(m_url)) {
        failWithError(makeError(UnableToCreateRequestErrorType, QStringLiteral("Unable to create request (bad url?)")));
        return;
    }
    buildPostBody();
    if (m_error)
        return;
    const bool headersBuiltBefore = m_haveBuiltRequestHeaders;
    buildRequestHeaders();
    if (m_error)
        return;
    if (answerFromCacheBeforeSending())
        return;
    // The cookie and authorization headers we made belong to the URL of the
    // previous attempt (a redirect that kept the headers); make them anew
    // from the store for this one.
    if (headersBuiltBefore) {
        if (m_ourCookieHeader) {
            m_requestHeaders.remove(QStringLiteral("Cookie"));
            m_ourCookieHeader = false;
        }
        applyCookieHeader();
    }
    if (!configureProxies())
        return;  // fetching a proxy script, or failed
    applyAuthorizationHeader();
    startRequest();
}

void NRHTTPRequest::buildPostBody() {
    if (m_haveBuiltPostBody)
        return;
    if (!m_postBodyFilePath.isEmpty()) {
        if (m_postBodyWriteStream) {
            // What is still buffered goes to disk now, and may not fit.
            if (!m_postBodyWriteStream->flush())
                recordBodyWriteError();
            m_postBodyWriteStream->close();
            if (m_postBodyWriteStream->error() != QFileDevice::NoError)
                recordBodyWriteError();
            m_postBodyWriteStream.reset();
        }
        if (m_postBodyWriteError) {
            failWithError(m_postBodyWriteError);
            return;
        }
        QString sendPath = m_postBodyFilePath;
        if (m_shouldCompressRequestBody) {
            if (m_compressedPostBodyFilePath.isEmpty()) {
                m_compressedPostBodyFilePath = newTemporaryPath();
                VNErrorPtr err;
                if (!NRDataCompressor::compressDataFromFile(m_postBodyFilePath, m_compressedPostBodyFilePath, &err)) {
                    failWithError(err);
                    return;
                }
            }
            sendPath = m_compressedPostBodyFilePath;
        }
        QFileInfo info(sendPath);
        if (!info.exists()) {
            failWithError(makeError(FileManagementError,
                                    QStringLiteral("Failed to get attributes for file at path '%1'").arg(sendPath),
                                    QStringLiteral("No such file or directory")));
            return;
        }
        m_postLength = info.size();
        m_shouldStreamPostDataFromDisk = true;
    } else if (m_shouldCompressRequestBody && !m_postBody.isEmpty()) {
        VNErrorPtr err;
        m_compressedPostBody = NRDataCompressor::compressData(m_postBody, &err);
        if (err) {
            failWithError(err);
            return;
        }
        m_postLength = m_compressedPostBody.size();
    } else {
        m_postLength = m_postBody.size();
    }
    if (m_postLength != 0) {
        if (m_requestMethod == QLatin1String("GET") || m_requestMethod == QLatin1String("HEAD"))
            setRequestMethod(QStringLiteral("POST"));
        m_requestHeaders.insert(QStringLiteral("Content-Length"), QString::number(m_postLength));
    }
    m_haveBuiltPostBody = true;
}

void NRHTTPRequest::buildRequestHeaders() {
    if (m_haveBuiltRequestHeaders)
        return;
    m_haveBuiltRequestHeaders = true;
    if (auto main = m_mainRequest.lock(); main && m_requestMethod == QLatin1String("HEAD")) {
        // Made for another request: exactly the headers it will send (its
        // cookies, agent, encodings and range are made now, once), but for
        // what it set itself (a signature of its own). Redirected away from
        // the main request's origin, it leaves the main request's
        // credentials and cookies behind, as a request leaving its own does.
        QMap<QString, QString> headers;
        bool sameOriginAsMain;
        {
            std::lock_guard<std::recursive_mutex> locker(main->m_mutex);
            main->buildRequestHeaders();
            headers = main->m_requestHeaders;
            sameOriginAsMain = sameOrigin(m_url, main->m_url);
        }
        for (auto it = headers.begin(); it != headers.end(); ++it) {
            const bool credential = it.key().compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0 ||
                                    it.key().compare(QLatin1String("Cookie"), Qt::CaseInsensitive) == 0;
            if ((credential && !sameOriginAsMain) || m_ownHeaderNames.contains(it.key().toLower()))
                continue;
            m_requestHeaders.insert(it.key(), it.value());
        }
        if (!sameOriginAsMain)
            applyCookieHeader();
        return;
    }
    applyCookieHeader();
    bool hasUserAgent = false;
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it)
        hasUserAgent |= isHeaderNamed(it.key(), QLatin1String("User-Agent"));
    if (!hasUserAgent) {
        const QString ua = m_userAgentString.isNull() ? defaultUserAgentString() : m_userAgentString;
        if (!ua.isNull())
            m_requestHeaders.insert(QStringLiteral("User-Agent"), ua);
    }
    auto setHeader = [this](const QString &name, const QString &value) {
        for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
            if (it.key().size() == name.size() && it.key().compare(name, Qt::CaseInsensitive) == 0) {
                m_requestHeaders.erase(it);
                break;
            }
        }
        m_requestHeaders.insert(name, value);
    };
    if (m_allowCompressedResponse)
        setHeader(QStringLiteral("Accept-Encoding"), QStringLiteral("gzip"));
    if (m_shouldCompressRequestBody)
        setHeader(QStringLiteral("Content-Encoding"), QStringLiteral("gzip"));
    updatePartialDownloadSize();
    if (m_partialDownloadSize)
        setHeader(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(m_partialDownloadSize));
}

void NRHTTPRequest::applyCookieHeader() {
    QList<QNetworkCookie> cookies = m_requestCookies;
    if (m_useCookiePersistence)
        cookies += NRCookieStore::shared().cookiesForUrl(m_url);
    if (cookies.isEmpty())
        return;
    QString value;
    for (const QNetworkCookie &c : cookies) {
        if (!value.isEmpty())
            value += QLatin1String("; ");
        value += QString::fromUtf8(c.name()) + QLatin1Char('=') + QString::fromUtf8(c.value());
    }
    m_requestHeaders.insert(QStringLiteral("Cookie"), value);
    m_ourCookieHeader = true;
}

QByteArray NRHTTPRequest::requestTarget() const {
    QByteArray target = m_url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty() || target[0] != '/')
        target.prepend('/');
    return target;
}

void NRHTTPRequest::startRequest() {
    releaseCredentialTurn();
    if (m_cancelled)
        return;
    if (m_wantsStarted)
        onMain([](NRHTTPRequest &r) { r.reportStarted(); });
    removeDownloadProgressSoFar();
    m_downloadComplete = false;
    m_complete = false;
    m_totalBytesRead = 0;
    m_lastBytesRead = 0;
    if (m_redirectCount == 0)
        m_originalURL = m_url;
    if (m_lastBytesSent > 0)
        removeUploadProgressSoFar();
    m_lastBytesSent = 0;
    m_bytesSentUnreported = false;
    m_totalBytesSent = 0;
    m_contentLength = 0;
    m_responseHeaders.clear();
    m_responseCompressed = false;
    m_rawHeaders.clear();
    m_headersRead = false;
    m_deferHeaders = false;
    m_authenticationNeeded = 0;
    m_dropBody416 = false;
    m_dataDecompressor.reset();
    m_bodyBytesInflated = 0;
    // A download file of an earlier attempt (one that timed out part-way)
    // is opened again by this attempt's first bytes: continued when the
    // server resumes it, else written from its start.
    closeDownloadStreams();
    if (m_downloadDestinationPath.isEmpty())
        m_rawResponseData = QByteArray("");
    else
        m_rawResponseData = QByteArray();

    // The body of this attempt.
    m_bodyFile.reset();
    m_bodySource = QByteArray();
    m_bodyOffset = 0;
    if (m_shouldStreamPostDataFromDisk && !m_postBodyFilePath.isEmpty()) {
        const QString path = (!m_compressedPostBodyFilePath.isEmpty() && QFile::exists(m_compressedPostBodyFilePath))
                                 ? m_compressedPostBodyFilePath
                                 : m_postBodyFilePath;
        m_bodyFile = std::make_unique<QFile>(path);
        if (!m_bodyFile->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {  // read straight into libcurl's buffer
            failWithError(makeError(InternalErrorWhileBuildingRequestType, QStringLiteral("Unable to create read stream"),
                                    m_bodyFile->errorString()));
            return;
        }
    } else if (!m_postBody.isEmpty()) {
        m_bodySource = (m_shouldCompressRequestBody && !m_compressedPostBody.isEmpty()) ? m_compressedPostBody : m_postBody;
    }

    destroyTransfer();
    m_easy = NRNetworkThread::shared().takeEasyHandle();
    if (!m_easy || !configureTransfer(m_easy)) {
        failWithError(makeError(InternalErrorWhileBuildingRequestType, QStringLiteral("Unable to start HTTP connection")));
        return;
    }
    m_freshConnection = false;
    auto self = sharedSelf();
    NRNetworkThread::shared().addTransfer(m_easy, self);
    NRNetworkThread::shared().addTicking(self);

    if (m_showAccurateProgress)
        m_uploadCountedByTheByte = true;
    if (m_shouldResetUploadProgress) {
        incrementUploadSizeBy(m_uploadCountedByTheByte ? m_postLength : 1);
        if (m_wantsUploadProgress)
            resetProgressIndicator(true);
    }
    if (m_shouldResetDownloadProgress && m_partialDownloadSize == 0 && m_wantsDownloadProgress)
        resetProgressIndicator(false);
    if (m_networkActivityHooks && NRNetworkThread::shared().transferCount() == 1)
        VNDispatch::mainAsync([] { showNetworkActivityIndicator(); });
    m_lastActivity.start();
}

// The indicator back to 0 of 1 for a new attempt (the indicators are the
// main thread's).
void NRHTTPRequest::resetProgressIndicator(bool upload) {
    onMain([upload](NRHTTPRequest &r) {
        if (auto d = (upload ? r.m_uploadProgressDelegate : r.m_downloadProgressDelegate).lock()) {
            d->setMaxValue(1.0);
            d->setDoubleValue(0.0);
        }
    });
}

bool NRHTTPRequest::configureTransfer(CURL *easy) {
    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok &= curl_easy_setopt(easy, option, value) == CURLE_OK; };
    const QByteArray encodedURL = m_url.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    set(CURLOPT_URL, encodedURL.constData());  // libcurl copies strings
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    // The proxy chosen for this attempt (none: direct, never libcurl's own
    // reading of the environment). Its credentials go to the proxy only.
    if (!m_proxyHost.isEmpty() && m_proxyPort > 0) {
        set(CURLOPT_PROXY, m_proxyHost.toUtf8().constData());
        set(CURLOPT_PROXYPORT, long(m_proxyPort));
        set(CURLOPT_PROXYTYPE, curlProxyType());
        if (m_proxyType == proxyTypeHTTPS()) {
            // The proxy's certificate is held to the same rule as the server's.
            set(CURLOPT_PROXY_SSL_VERIFYPEER, m_validatesSecureCertificate ? 1L : 0L);
            set(CURLOPT_PROXY_SSL_VERIFYHOST, m_validatesSecureCertificate ? 2L : 0L);
            std::lock_guard lock(classState().mutex);
            if (!classState().certificateAuthorityFile.isEmpty())
                set(CURLOPT_PROXY_CAINFO, classState().certificateAuthorityFile.toLocal8Bit().constData());
        }
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (m_proxyCredentials) {
            QString user = m_proxyCredentials->username;
            if (m_proxyAuthenticationScheme == NRHTTPAuthentication::ntlmScheme() && !m_proxyCredentials->domain.isEmpty())
                user = m_proxyCredentials->domain + QLatin1Char('\\') + user;
            set(CURLOPT_PROXYUSERNAME, user.toUtf8().constData());
            set(CURLOPT_PROXYPASSWORD, m_proxyCredentials->password.toUtf8().constData());
            long methods = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;
            if (m_proxyAuthenticationScheme == NRHTTPAuthentication::basicScheme())
                methods = CURLAUTH_BASIC;  // known to be Basic: sent at once
            set(CURLOPT_PROXYAUTH, methods);
        }
    } else {
        set(CURLOPT_PROXY, "");
    }
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_CONTENT_DECODING, 0L);  // gzip is inflated by us
    set(CURLOPT_HTTP_VERSION, m_useHTTPVersionOne ? long(CURL_HTTP_VERSION_1_0) : long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_ERRORBUFFER, m_curlErrorBuffer);
    m_curlErrorBuffer[0] = 0;
    set(CURLOPT_PRIVATE, static_cast<void *>(this));
    set(CURLOPT_HEADERFUNCTION, &NRHTTPRequest::headerCallback);
    set(CURLOPT_HEADERDATA, static_cast<void *>(this));
    set(CURLOPT_WRITEFUNCTION, &NRHTTPRequest::writeCallback);
    set(CURLOPT_WRITEDATA, static_cast<void *>(this));
    // libcurl makes a transfer's buffers anew for each transfer, and one
    // past 128 KiB is mapped fresh from the kernel each time (the
    // allocator's threshold): a small request paid page faults for room it
    // never used. Large pieces only where a large body is likely: a reply
    // written to a file, a body sent from one; smaller pieces while
    // throttled, as the budget is spent in small steps.
    if (NRBandwidthThrottle::shared().isThrottled())
        set(CURLOPT_BUFFERSIZE, 16384L);
    else
        set(CURLOPT_BUFFERSIZE, m_downloadDestinationPath.isEmpty() ? 65536L : 262144L);
    if (m_bodyFile)
        set(CURLOPT_UPLOAD_BUFFERSIZE, 262144L);
    ok &= choosePersistentConnection(easy);

    // Method and body.
    const bool hasBody = m_bodyFile || !m_bodySource.isEmpty();
    bool sendsBody = false;  // libcurl adds its own headers only to a request it sends a body with
    if (m_requestMethod == QLatin1String("HEAD")) {
        set(CURLOPT_NOBODY, 1L);
    } else if (hasBody || m_requestMethod == QLatin1String("POST") || m_requestMethod == QLatin1String("PUT")) {
        sendsBody = true;
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(hasBody ? m_postLength : 0));
        set(CURLOPT_READFUNCTION, &NRHTTPRequest::readCallback);
        set(CURLOPT_READDATA, static_cast<void *>(this));
        set(CURLOPT_SEEKFUNCTION, &NRHTTPRequest::seekCallback);
        set(CURLOPT_SEEKDATA, static_cast<void *>(this));
        if (m_requestMethod != QLatin1String("POST"))
            set(CURLOPT_CUSTOMREQUEST, m_requestMethod.toLatin1().constData());
    } else if (m_requestMethod != QLatin1String("GET")) {
        set(CURLOPT_CUSTOMREQUEST, m_requestMethod.toLatin1().constData());
    }

    // Headers: ours, in the dictionary's order. libcurl measures the body
    // itself, and adds no form type or "Expect" of its own to a body.
    curl_slist_free_all(m_curlHeaders);
    m_curlHeaders = nullptr;
    bool hasContentType = false;
    QByteArray line;  // one buffer for every line
    line.reserve(256);
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
        const QString &name = it.key();
        if (isHeaderNamed(name, QLatin1String("Content-Length")))
            continue;
        hasContentType |= isHeaderNamed(name, QLatin1String("Content-Type"));
        line.truncate(0);
        for (const QChar c : name)
            line += c.unicode() < 0x100 ? char(c.unicode()) : '?';
        if (it.value().isEmpty()) {
            line += ';';  // an empty header, sent as "Name:"
        } else {
            line += ": ";
            line += it.value().toUtf8();
            line.replace('\r', ' ').replace('\n', ' ');  // a header value never splits the request
        }
        m_curlHeaders = curl_slist_append(m_curlHeaders, line.constData());
    }
    if (sendsBody) {
        if (!hasContentType)
            m_curlHeaders = curl_slist_append(m_curlHeaders, "Content-Type:");
        m_curlHeaders = curl_slist_append(m_curlHeaders, "Expect:");
    }
    set(CURLOPT_HTTPHEADER, m_curlHeaders);

    // NTLM takes several messages on one connection: libcurl does it.
    if (m_ntlmCredentials) {
        QString user = m_ntlmCredentials->username;
        if (!m_ntlmCredentials->domain.isEmpty())
            user = m_ntlmCredentials->domain + QLatin1Char('\\') + user;
        set(CURLOPT_HTTPAUTH, long(CURLAUTH_NTLM));
        set(CURLOPT_USERNAME, user.toUtf8().constData());
        set(CURLOPT_PASSWORD, m_ntlmCredentials->password.toUtf8().constData());
    }

    // TLS and the test seam.
    QString caFile;
    QStringList loopbackHosts;
    {
        std::lock_guard lock(classState().mutex);
        caFile = classState().certificateAuthorityFile;
        loopbackHosts = classState().loopbackHosts;
    }
    if (m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0) {
        set(CURLOPT_SSL_VERIFYPEER, m_validatesSecureCertificate ? 1L : 0L);
        set(CURLOPT_SSL_VERIFYHOST, m_validatesSecureCertificate ? 2L : 0L);
        if (!caFile.isEmpty())
            set(CURLOPT_CAINFO, caFile.toLocal8Bit().constData());
        if (!m_clientCertificateIdentity.isEmpty()) {
            // A PKCS#12 bundle, or a PEM file holding the certificate (and
            // its chain) and the key.
            const QByteArray path = QFile::encodeName(m_clientCertificateIdentity);
            const bool pkcs12 = m_clientCertificateIdentity.endsWith(QLatin1String(".p12"), Qt::CaseInsensitive) ||
                                m_clientCertificateIdentity.endsWith(QLatin1String(".pfx"), Qt::CaseInsensitive);
            set(CURLOPT_SSLCERT, path.constData());
            set(CURLOPT_SSLCERTTYPE, pkcs12 ? "P12" : "PEM");
            if (!pkcs12)
                set(CURLOPT_SSLKEY, path.constData());
            if (!m_clientCertificatePassphrase.isEmpty())
                set(CURLOPT_KEYPASSWD, m_clientCertificatePassphrase.toUtf8().constData());
        }
    }
    curl_slist_free_all(m_curlConnectTo);
    m_curlConnectTo = nullptr;
    for (const QString &host : loopbackHosts)
        m_curlConnectTo = curl_slist_append(m_curlConnectTo, (host + QStringLiteral("::127.0.0.1:")).toUtf8().constData());
    if (m_curlConnectTo)
        set(CURLOPT_CONNECT_TO, m_curlConnectTo);
    return ok;
}

void NRHTTPRequest::destroyTransfer() {
    if (!m_easy)
        return;
    if (m_inCurlCallback) {
        // libcurl forbids removing a transfer from inside its callbacks: make
        // the callbacks refuse the rest; transferDone() removes it.
        m_abortTransfer = true;
        return;
    }
    NRNetworkThread::shared().removeTransfer(m_easy);
    if (m_networkActivityHooks && NRNetworkThread::shared().transferCount() == 0)
        VNDispatch::mainAsync([] { hideNetworkActivityIndicatorAfterDelay(); });
    NRNetworkThread::shared().giveBackEasyHandle(m_easy);
    m_easy = nullptr;
    // The handle no longer points at the lists: they go now, on the thread
    // that made them, rather than with the request (on the main thread).
    curl_slist_free_all(m_curlHeaders);
    m_curlHeaders = nullptr;
    curl_slist_free_all(m_curlConnectTo);
    m_curlConnectTo = nullptr;
    m_replyBytesTaken = 0;
    m_abortTransfer = false;
    m_bodyFile.reset();
}

size_t NRHTTPRequest::readCallback(char *data, size_t size, size_t count, void *self) {
    auto *r = static_cast<NRHTTPRequest *>(self);
    std::lock_guard<std::recursive_mutex> locker(r->m_mutex);
    if (r->m_abortTransfer || r->m_complete)
        return CURL_READFUNC_ABORT;
    const qint64 wanted = r->throttleBodyRead(qint64(size * count));
    if (wanted == 0)
        return CURL_READFUNC_PAUSE;
    if (r->m_bodyFile) {
        const qint64 n = r->m_bodyFile->read(data, wanted);
        if (n < 0)
            return CURL_READFUNC_ABORT;
        r->m_bodyOffset += n;
        if (n > 0)
            NRBandwidthThrottle::shared().incrementBandwidthUsedInLastSecond(quint64(n));
        return size_t(n);
    }
    const qint64 n = std::min<qint64>(wanted, r->m_bodySource.size() - r->m_bodyOffset);
    if (n <= 0)
        return 0;
    memcpy(data, r->m_bodySource.constData() + r->m_bodyOffset, size_t(n));
    r->m_bodyOffset += n;
    NRBandwidthThrottle::shared().incrementBandwidthUsedInLastSecond(quint64(n));
    return size_t(n);
}

int NRHTTPRequest::seekCallback(void *self, qint64 offset, int origin) {
    auto *r = static_cast<NRHTTPRequest *>(self);
    std::lock_guard<std::recursive_mutex> locker(r->m_mutex);
    if (origin != SEEK_SET)
        return CURL_SEEKFUNC_CANTSEEK;
    if (r->m_bodyFile && !r->m_bodyFile->seek(offset))
        return CURL_SEEKFUNC_FAIL;
    r->m_bodyOffset = offset;
    return CURL_SEEKFUNC_OK;
}

// Code 10: the exception's name ("std::runtime_error") as the description,
// its reason as the failure reason and as an underlying error of code 10.
VNErrorPtr NRHTTPRequest::exceptionError(const std::exception &exception) {
    QString name = QString::fromLatin1(typeid(exception).name());
    int status = 0;
    if (char *demangled = abi::__cxa_demangle(typeid(exception).name(), nullptr, nullptr, &status)) {
        if (status == 0)
            name = QString::fromLatin1(demangled);
        std::free(demangled);
    }
    const QString reason = QString::fromUtf8(exception.what());
    QVariantMap info{{VNError::localizedDescriptionKey(), name},
                     {QStringLiteral("NSLocalizedFailureReason"), reason}};
    info.insert(QStringLiteral("NSUnderlyingError"),
                QVariant::fromValue(QVariantMap{{QStringLiteral("domain"), errorDomain()},
                                                {QStringLiteral("code"), int(UnhandledExceptionError)},
                                                {QStringLiteral("reason"), reason}}));
    return std::make_shared<VNError>(errorDomain(), UnhandledExceptionError, info);
}
