#include "Net/NRHTTPRequest.h"

#include "Formats/NRDataDecompressor.h"
#include "Formats/NRDataCompressor.h"
#include "Net/NRCookieStore.h"
#include "Net/NRNetworkThread.h"
#include "Net/NRSessionCredentialStore.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNTempDirectory.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaMethod>
#include <QMimeDatabase>
#include <QStringDecoder>
#include <QSysInfo>
#include <QUuid>

#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace {

// Past this many credential applications a request gives up: a server that
// answers 401 forever ends in an authentication error, not a loop.
constexpr int kMaximumAuthenticationApplications = 5;
constexpr int kMaximumRedirects = 5;

std::atomic<double> g_defaultTimeOutSeconds{30.0};

struct ClassState {
    std::mutex mutex;
    QString defaultUserAgent;
    bool userAgentMade = false;
    QString certificateAuthorityFile;
    QStringList loopbackHosts;
    QList<QNetworkCookie> sessionCookies;
};

ClassState &classState() {
    static ClassState *state = new ClassState();
    return *state;
}

bool isAllowedScheme(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool sameOrigin(const QUrl &a, const QUrl &b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(a.scheme().toLower() == QLatin1String("https") ? 443 : 80) ==
               b.port(b.scheme().toLower() == QLatin1String("https") ? 443 : 80);
}

bool isSSLError(int code) {
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return true;
    default:
        return false;
    }
}

// The connection broke before anything came back: worth one more try on a
// fresh connection (a kept-alive socket the server had closed).
bool isBrokenConnection(int code) {
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING;
}

bool isJSONOrXML(const QString &mime) {
    const QString m = mime.toLower();
    return m == QLatin1String("application/json") || m == QLatin1String("text/json") ||
           m.endsWith(QLatin1String("+json")) || m == QLatin1String("application/xml") ||
           m == QLatin1String("text/xml") || m.endsWith(QLatin1String("+xml"));
}

bool isKnownEncoding(const QByteArray &name) {
    QStringDecoder decoder(name.constData());
    return decoder.isValid();
}

// An absolute path of a new file name in our private temporary folder.
QString newTemporaryPath() {
    return VNTempDirectory::path() + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and settings

NRHTTPRequest::NRHTTPRequest(const QUrl &url) : m_url(url), m_timeOutSeconds(g_defaultTimeOutSeconds.load()) {
    static const int registered = qRegisterMetaType<NRHTTPRequest *>("NRHTTPRequest*");
    Q_UNUSED(registered);
}

NRHTTPRequest::~NRHTTPRequest() {
    if (m_easy)
        curl_easy_cleanup(m_easy);  // never in flight here: the thread keeps in-flight requests alive
    curl_slist_free_all(m_curlHeaders);
    curl_slist_free_all(m_curlConnectTo);
    if (m_didCreateTemporaryPostDataFile && !m_postBodyFilePath.isEmpty())
        QFile::remove(m_postBodyFilePath);
    if (!m_compressedPostBodyFilePath.isEmpty())
        QFile::remove(m_compressedPostBodyFilePath);
}

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::requestWithURL(const QUrl &url) {
    return std::make_shared<NRHTTPRequest>(url);
}

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::sharedSelf() {
    return std::static_pointer_cast<NRHTTPRequest>(shared_from_this());
}

#define LOCKED std::lock_guard<std::recursive_mutex> locker(m_mutex)

QUrl NRHTTPRequest::url() const { LOCKED; return m_url; }
void NRHTTPRequest::setURL(const QUrl &url) {
    LOCKED;
    if (url == m_url)
        return;
    m_url = url;
    m_requestAuthentication.reset();
    m_redirectURL = QUrl();
}
QUrl NRHTTPRequest::originalURL() const { LOCKED; return m_originalURL; }
QString NRHTTPRequest::requestMethod() const { LOCKED; return m_requestMethod; }
void NRHTTPRequest::setRequestMethod(const QString &method) {
    LOCKED;
    if (method == m_requestMethod)
        return;
    m_requestMethod = method;
    if (method == QLatin1String("POST") || method == QLatin1String("PUT") || (m_hasPostBody && !m_postBody.isEmpty()) ||
        !m_postBodyFilePath.isEmpty())
        m_shouldAttemptPersistentConnection = false;
}
void NRHTTPRequest::addRequestHeader(const QString &name, const QString &value) {
    LOCKED;
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
            m_requestHeaders.erase(it);
            break;
        }
    }
    m_requestHeaders.insert(name, value);
    if (name.compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0) {
        m_callerSetAuthorization = true;
        m_ourAuthorization = false;
    }
}
QMap<QString, QString> NRHTTPRequest::requestHeaders() const { LOCKED; return m_requestHeaders; }
void NRHTTPRequest::setRequestHeaders(const QMap<QString, QString> &headers) {
    LOCKED;
    m_requestHeaders.clear();
    for (auto it = headers.begin(); it != headers.end(); ++it)
        addRequestHeader(it.key(), it.value());
}

QByteArray NRHTTPRequest::postBody() const { LOCKED; return m_postBody; }
void NRHTTPRequest::setPostBody(const QByteArray &body) {
    LOCKED;
    m_postBody = body;
    m_hasPostBody = true;
}
void NRHTTPRequest::setupPostBody() {
    if (m_shouldStreamPostDataFromDisk) {
        if (m_postBodyFilePath.isEmpty()) {
            m_postBodyFilePath = newTemporaryPath();
            m_didCreateTemporaryPostDataFile = true;
        }
        if (!m_postBodyWriteStream) {
            m_postBodyWriteStream = std::make_unique<QFile>(m_postBodyFilePath);
            if (!m_postBodyWriteStream->open(QIODevice::WriteOnly | QIODevice::Truncate))
                VNLog::log(QStringLiteral("NRHTTPRequest setupPostBody: cannot write %1").arg(m_postBodyFilePath));
        }
    } else if (!m_hasPostBody) {
        m_postBody = QByteArray();
        m_hasPostBody = true;
    }
}
void NRHTTPRequest::appendPostData(const QByteArray &data) {
    LOCKED;
    setupPostBody();
    if (data.isEmpty())
        return;
    if (m_shouldStreamPostDataFromDisk)
        m_postBodyWriteStream->write(data);
    else
        m_postBody.append(data);
}
void NRHTTPRequest::appendPostDataFromFile(const QString &path) {
    LOCKED;
    setupPostBody();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (;;) {
        const QByteArray piece = file.read(262144);
        if (piece.isEmpty())
            break;
        appendPostData(piece);
    }
}
QString NRHTTPRequest::postBodyFilePath() const { LOCKED; return m_postBodyFilePath; }
void NRHTTPRequest::setPostBodyFilePath(const QString &path) { LOCKED; m_postBodyFilePath = path; }
bool NRHTTPRequest::shouldStreamPostDataFromDisk() const { LOCKED; return m_shouldStreamPostDataFromDisk; }
void NRHTTPRequest::setShouldStreamPostDataFromDisk(bool on) { LOCKED; m_shouldStreamPostDataFromDisk = on; }
void NRHTTPRequest::setShouldCompressRequestBody(bool on) { LOCKED; m_shouldCompressRequestBody = on; }
qint64 NRHTTPRequest::postLength() const { LOCKED; return m_postLength; }

void NRHTTPRequest::setUserAgentString(const QString &text) { LOCKED; m_userAgentString = text; }
QString NRHTTPRequest::userAgentString() const { LOCKED; return m_userAgentString; }
void NRHTTPRequest::setTimeOutSeconds(double seconds) { LOCKED; m_timeOutSeconds = seconds; }
double NRHTTPRequest::timeOutSeconds() const { LOCKED; return m_timeOutSeconds; }
void NRHTTPRequest::setNumberOfTimesToRetryOnTimeout(int times) { LOCKED; m_numberOfTimesToRetryOnTimeout = times; }
void NRHTTPRequest::setShouldRedirect(bool on) { LOCKED; m_shouldRedirect = on; }
void NRHTTPRequest::setShouldUseRFC2616RedirectBehaviour(bool on) { LOCKED; m_shouldUseRFC2616RedirectBehaviour = on; }
void NRHTTPRequest::setValidatesSecureCertificate(bool on) { LOCKED; m_validatesSecureCertificate = on; }
bool NRHTTPRequest::validatesSecureCertificate() const { LOCKED; return m_validatesSecureCertificate; }
void NRHTTPRequest::setShouldAttemptPersistentConnection(bool on) { LOCKED; m_shouldAttemptPersistentConnection = on; }
bool NRHTTPRequest::shouldAttemptPersistentConnection() const { LOCKED; return m_shouldAttemptPersistentConnection; }
void NRHTTPRequest::setPersistentConnectionTimeoutSeconds(double s) { LOCKED; m_persistentConnectionTimeoutSeconds = s; }
void NRHTTPRequest::setUseHTTPVersionOne(bool on) { LOCKED; m_useHTTPVersionOne = on; }
void NRHTTPRequest::setAllowCompressedResponse(bool on) { LOCKED; m_allowCompressedResponse = on; }
void NRHTTPRequest::setShouldWaitToInflateCompressedResponses(bool on) { LOCKED; m_shouldWaitToInflateCompressedResponses = on; }
void NRHTTPRequest::setDefaultResponseEncoding(const QByteArray &name) { LOCKED; m_defaultResponseEncoding = name; }

void NRHTTPRequest::setDownloadDestinationPath(const QString &path) { LOCKED; m_downloadDestinationPath = path; }
QString NRHTTPRequest::downloadDestinationPath() const { LOCKED; return m_downloadDestinationPath; }
void NRHTTPRequest::setTemporaryFileDownloadPath(const QString &path) { LOCKED; m_temporaryFileDownloadPath = path; }
QString NRHTTPRequest::temporaryFileDownloadPath() const { LOCKED; return m_temporaryFileDownloadPath; }
void NRHTTPRequest::setAllowResumeForFileDownloads(bool on) { LOCKED; m_allowResumeForFileDownloads = on; }

void NRHTTPRequest::setUsername(const QString &u) { LOCKED; m_username = u; }
void NRHTTPRequest::setPassword(const QString &p) { LOCKED; m_password = p; }
void NRHTTPRequest::setDomain(const QString &d) { LOCKED; m_domain = d; }
QString NRHTTPRequest::username() const { LOCKED; return m_username; }
void NRHTTPRequest::setUseSessionPersistence(bool on) { LOCKED; m_useSessionPersistence = on; }
void NRHTTPRequest::setShouldPresentCredentialsBeforeChallenge(bool on) { LOCKED; m_shouldPresentCredentialsBeforeChallenge = on; }
void NRHTTPRequest::setUseCookiePersistence(bool on) { LOCKED; m_useCookiePersistence = on; }
void NRHTTPRequest::setRequestCookies(const QList<QNetworkCookie> &c) { LOCKED; m_requestCookies = c; }
QList<QNetworkCookie> NRHTTPRequest::requestCookies() const { LOCKED; return m_requestCookies; }

void NRHTTPRequest::setDelegate(QObject *delegate) { m_delegate = delegate; }
QObject *NRHTTPRequest::delegate() const { return m_delegate.data(); }
void NRHTTPRequest::setDidStartSelector(const QByteArray &m) { m_didStartSelector = m; }
void NRHTTPRequest::setDidReceiveResponseHeadersSelector(const QByteArray &m) { m_didReceiveResponseHeadersSelector = m; }
void NRHTTPRequest::setWillRedirectSelector(const QByteArray &m) { m_willRedirectSelector = m; }
void NRHTTPRequest::setDidFinishSelector(const QByteArray &m) { m_didFinishSelector = m; }
void NRHTTPRequest::setDidFailSelector(const QByteArray &m) { m_didFailSelector = m; }
void NRHTTPRequest::setDidReceiveDataSelector(const QByteArray &m) { m_didReceiveDataSelector = m; }
void NRHTTPRequest::setUploadProgressDelegate(std::weak_ptr<NRProgressDelegate> d) {
    m_uploadProgressDelegate = std::move(d);
    if (auto p = m_uploadProgressDelegate.lock())
        p->setMaxValue(1.0);
}
void NRHTTPRequest::setDownloadProgressDelegate(std::weak_ptr<NRProgressDelegate> d) {
    m_downloadProgressDelegate = std::move(d);
    if (auto p = m_downloadProgressDelegate.lock())
        p->setMaxValue(1.0);
}
void NRHTTPRequest::setShowAccurateProgress(bool on) { LOCKED; m_showAccurateProgress = on; }
void NRHTTPRequest::setShouldResetUploadProgress(bool on) { LOCKED; m_shouldResetUploadProgress = on; }
void NRHTTPRequest::setShouldResetDownloadProgress(bool on) { LOCKED; m_shouldResetDownloadProgress = on; }

void NRHTTPRequest::setStartedBlock(Block b) { m_startedBlock = std::move(b); }
void NRHTTPRequest::setHeadersReceivedBlock(HeadersBlock b) { m_headersReceivedBlock = std::move(b); }
void NRHTTPRequest::setCompletionBlock(Block b) { m_completionBlock = std::move(b); }
void NRHTTPRequest::setFailedBlock(Block b) { m_failureBlock = std::move(b); }
void NRHTTPRequest::setBytesReceivedBlock(ProgressBlock b) { m_bytesReceivedBlock = std::move(b); }
void NRHTTPRequest::setBytesSentBlock(ProgressBlock b) { m_bytesSentBlock = std::move(b); }
void NRHTTPRequest::setDownloadSizeIncrementedBlock(SizeBlock b) { m_downloadSizeIncrementedBlock = std::move(b); }
void NRHTTPRequest::setUploadSizeIncrementedBlock(SizeBlock b) { m_uploadSizeIncrementedBlock = std::move(b); }
void NRHTTPRequest::setDataReceivedBlock(DataBlock b) { m_dataReceivedBlock = std::move(b); }
void NRHTTPRequest::setAuthenticationNeededBlock(Block b) { m_authenticationNeededBlock = std::move(b); }
void NRHTTPRequest::setRequestRedirectedBlock(Block b) { m_requestRedirectedBlock = std::move(b); }

void NRHTTPRequest::setUserInfo(const QVariantMap &info) { LOCKED; m_userInfo = info; }
QVariantMap NRHTTPRequest::userInfo() const { LOCKED; return m_userInfo; }
void NRHTTPRequest::setTag(qint64 tag) { LOCKED; m_tag = tag; }
qint64 NRHTTPRequest::tag() const { LOCKED; return m_tag; }

int NRHTTPRequest::responseStatusCode() const { LOCKED; return m_responseStatusCode; }
QString NRHTTPRequest::responseStatusMessage() const { LOCKED; return m_responseStatusMessage; }
QMap<QString, QString> NRHTTPRequest::responseHeaders() const { LOCKED; return m_responseHeaders; }
QString NRHTTPRequest::responseHeader(const QString &name) const {
    LOCKED;
    for (auto it = m_responseHeaders.begin(); it != m_responseHeaders.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    return QString();
}
QList<QNetworkCookie> NRHTTPRequest::responseCookies() const { LOCKED; return m_responseCookies; }
VNErrorPtr NRHTTPRequest::error() const { LOCKED; return m_error; }
QByteArray NRHTTPRequest::rawResponseData() const { LOCKED; return m_rawResponseData; }
QByteArray NRHTTPRequest::responseData() const {
    LOCKED;
    if (isResponseCompressed() && m_shouldWaitToInflateCompressedResponses && !m_rawResponseData.isEmpty())
        return NRDataDecompressor::uncompressData(m_rawResponseData);
    return m_rawResponseData;
}
QString NRHTTPRequest::responseString() const {
    LOCKED;
    const QByteArray data = responseData();
    if (data.isNull())
        return QString();
    QStringDecoder decoder(m_responseEncoding.isEmpty() ? m_defaultResponseEncoding.constData()
                                                         : m_responseEncoding.constData());
    if (!decoder.isValid())
        return QString::fromLatin1(data);
    return decoder.decode(data);
}
QByteArray NRHTTPRequest::responseEncoding() const { LOCKED; return m_responseEncoding; }
bool NRHTTPRequest::isResponseCompressed() const {
    LOCKED;
    return m_responseCompressed;
}
quint64 NRHTTPRequest::contentLength() const { LOCKED; return m_contentLength; }
quint64 NRHTTPRequest::totalBytesRead() const { LOCKED; return m_totalBytesRead; }
quint64 NRHTTPRequest::totalBytesSent() const { LOCKED; return m_totalBytesSent; }
quint64 NRHTTPRequest::partialDownloadSize() const { LOCKED; return m_partialDownloadSize; }
int NRHTTPRequest::redirectCount() const { LOCKED; return m_redirectCount; }
int NRHTTPRequest::retryCount() const { LOCKED; return m_retryCount; }
int NRHTTPRequest::authenticationRetryCount() const { LOCKED; return m_authenticationRetryCount; }
QString NRHTTPRequest::authenticationScheme() const { LOCKED; return m_authenticationScheme; }
QString NRHTTPRequest::authenticationRealm() const { LOCKED; return m_authenticationRealm; }
bool NRHTTPRequest::complete() const { LOCKED; return m_complete; }
bool NRHTTPRequest::inProgress() const { LOCKED; return m_inProgress; }
int NRHTTPRequest::newConnectionCount() const { LOCKED; return m_newConnectionCount; }

QString NRHTTPRequest::description() const {
    LOCKED;
    // No user info, query or fragment: they may carry passwords and tokens.
    return QStringLiteral("NRHTTPRequest %1 %2")
        .arg(m_requestMethod, m_url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment));
}

// ---------------------------------------------------------------------------
// Class-wide services

QString NRHTTPRequest::errorDomain() { return QStringLiteral("NRHTTPRequestErrorDomain"); }

VNErrorPtr NRHTTPRequest::makeError(int code, const QString &description, const QString &underlying) {
    QVariantMap info{{VNError::localizedDescriptionKey(), description}};
    if (!underlying.isEmpty())
        info.insert(QStringLiteral("NSUnderlyingError"), underlying);
    return std::make_shared<VNError>(errorDomain(), code, info);
}

double NRHTTPRequest::defaultTimeOutSeconds() { return g_defaultTimeOutSeconds.load(); }
void NRHTTPRequest::setDefaultTimeOutSeconds(double s) { g_defaultTimeOutSeconds.store(s); }

QString NRHTTPRequest::defaultUserAgentString() {
    ClassState &st = classState();
    std::lock_guard lock(st.mutex);
    if (st.userAgentMade)
        return st.defaultUserAgent;
    const QString name = QString::fromLatin1(QCoreApplication::applicationName().toUtf8());
    if (name.isEmpty())
        return QString();
    const QString version = QCoreApplication::applicationVersion();
    st.defaultUserAgent = QStringLiteral("%1 %2 (%3; %4 %5; %6)")
                              .arg(name, version, QSysInfo::kernelType(), QSysInfo::productType(),
                                   QSysInfo::productVersion(), QLocale().name());
    st.userAgentMade = true;
    return st.defaultUserAgent;
}

void NRHTTPRequest::setDefaultUserAgentString(const QString &text) {
    ClassState &st = classState();
    std::lock_guard lock(st.mutex);
    st.defaultUserAgent = text;
    st.userAgentMade = true;
}

QList<QNetworkCookie> NRHTTPRequest::sessionCookies() {
    std::lock_guard lock(classState().mutex);
    return classState().sessionCookies;
}

void NRHTTPRequest::setSessionCookies(const QList<QNetworkCookie> &cookies) {
    QList<QNetworkCookie> old;
    {
        std::lock_guard lock(classState().mutex);
        old = classState().sessionCookies;
        classState().sessionCookies = cookies;
    }
    for (const QNetworkCookie &c : old)
        NRCookieStore::shared().deleteCookie(c);
}

void NRHTTPRequest::addSessionCookie(const QNetworkCookie &cookie) {
    std::lock_guard lock(classState().mutex);
    auto &list = classState().sessionCookies;
    for (int i = 0; i < list.size(); ++i) {
        if (list[i].domain() == cookie.domain() && list[i].path() == cookie.path() && list[i].name() == cookie.name()) {
            list.removeAt(i);
            break;
        }
    }
    list.append(cookie);
}

void NRHTTPRequest::clearSession() {
    NRSessionCredentialStore::shared().clear();
    setSessionCookies({});
}

QString NRHTTPRequest::mimeTypeForFileAtPath(const QString &path) {
    if (!QFileInfo::exists(path))
        return QString();
    static QMimeDatabase db;
    const QList<QMimeType> types = db.mimeTypesForFileName(path);
    if (types.isEmpty())
        return QStringLiteral("application/octet-stream");
    return types.first().name();
}

void NRHTTPRequest::parseContentType(const QString &contentType, QString *mimeType, QByteArray *charset) {
    if (contentType.isNull())
        return;
    const int semicolon = contentType.indexOf(QLatin1Char(';'));
    if (semicolon <= 0) {
        if (mimeType)
            *mimeType = contentType.trimmed();
        return;
    }
    if (mimeType)
        *mimeType = contentType.left(semicolon).trimmed();
    for (const QString &param : contentType.mid(semicolon + 1).split(QLatin1Char(';'))) {
        const QString p = param.trimmed();
        if (!p.startsWith(QLatin1String("charset="), Qt::CaseInsensitive))
            continue;
        QString value = p.mid(8).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (!value.isEmpty() && charset)
            *charset = value.toLatin1();
        return;
    }
}

void NRHTTPRequest::setTestCertificateAuthorityFile(const QString &path) {
    std::lock_guard lock(classState().mutex);
    classState().certificateAuthorityFile = path;
}

void NRHTTPRequest::setTestHostsMappedToLoopback(const QStringList &hosts) {
    std::lock_guard lock(classState().mutex);
    classState().loopbackHosts = hosts;
}

// ---------------------------------------------------------------------------
// Life cycle

void NRHTTPRequest::startAsynchronous() {
    if (m_enqueued.exchange(true))
        return;  // started already
    // What the delegate can do is decided here, on the main thread.
    m_deliverData = bool(m_dataReceivedBlock) || delegateResponds(m_didReceiveDataSelector, "NRHTTPRequest*,QByteArray");
    m_delegateConfirmsRedirect = delegateResponds(m_willRedirectSelector, "NRHTTPRequest*,QUrl");
    m_canAskForCredentials = bool(m_authenticationNeededBlock) ||
                             delegateResponds("authenticationNeededForRequest", "NRHTTPRequest*");
    m_wantsStarted = m_startedBlock || delegateResponds(m_didStartSelector, "NRHTTPRequest*");
    m_wantsHeaders = m_headersReceivedBlock || delegateResponds(m_didReceiveResponseHeadersSelector, "NRHTTPRequest*");
    m_wantsRedirected = m_requestRedirectedBlock || delegateResponds("requestRedirected", "NRHTTPRequest*");
    m_wantsUploadProgress = m_bytesSentBlock || m_uploadSizeIncrementedBlock || !m_uploadProgressDelegate.expired();
    m_wantsDownloadProgress =
        m_bytesReceivedBlock || m_downloadSizeIncrementedBlock || !m_downloadProgressDelegate.expired();
    NRNetworkThread::shared().enqueue(sharedSelf());
}

void NRHTTPRequest::start() {
    // Started by the network thread's own queue (startAsynchronous), not by
    // an operation queue.
    startAsynchronous();
}

void NRHTTPRequest::startOnNetworkThread() {
    {
        LOCKED;
        m_inProgress = true;
        m_holdsPlace = true;
    }
    setExecuting(true);
    main();
}

void NRHTTPRequest::main() {
    LOCKED;
    try {
        runMain();
    } catch (const std::exception &e) {
        failWithError(makeError(UnhandledExceptionError, QString::fromUtf8(typeid(e).name()), QString::fromUtf8(e.what())));
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
    buildRequestHeaders();
    if (m_error)
        return;
    // The cookie and authorization headers we made belong to the URL of the
    // previous attempt; make them anew for this one.
    if (m_ourCookieHeader) {
        m_requestHeaders.remove(QStringLiteral("Cookie"));
        m_ourCookieHeader = false;
        applyCookieHeader();
    }
    applyAuthorizationHeader();
    startRequest();
}

void NRHTTPRequest::buildPostBody() {
    if (m_haveBuiltPostBody)
        return;
    if (!m_postBodyFilePath.isEmpty()) {
        if (m_postBodyWriteStream) {
            m_postBodyWriteStream->close();
            m_postBodyWriteStream.reset();
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
    applyCookieHeader();
    bool hasUserAgent = false;
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it)
        hasUserAgent |= it.key().compare(QLatin1String("User-Agent"), Qt::CaseInsensitive) == 0;
    if (!hasUserAgent) {
        const QString ua = m_userAgentString.isNull() ? defaultUserAgentString() : m_userAgentString;
        if (!ua.isNull())
            m_requestHeaders.insert(QStringLiteral("User-Agent"), ua);
    }
    auto setHeader = [this](const QString &name, const QString &value) {
        for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
            if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
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

void NRHTTPRequest::applyAuthorizationHeader() {
    if (m_ourAuthorization) {
        m_requestHeaders.remove(QStringLiteral("Authorization"));
        m_ourAuthorization = false;
    }
    m_ntlmCredentials.reset();
    if (!m_shouldPresentCredentialsBeforeChallenge || m_callerSetAuthorization)
        return;
    if (!m_username.isEmpty() && !m_password.isEmpty() && m_authenticationScheme == NRHTTPAuthentication::basicScheme()) {
        if (!m_requestCredentials || m_requestCredentials->username != m_username ||
            m_requestCredentials->password != m_password)
            m_requestCredentials = std::make_shared<NRCredentials>(NRCredentials{m_username, m_password, m_domain});
        m_sentRealm = m_authenticationRealm;
        m_sentScheme = NRHTTPAuthentication::basicScheme();
        m_sentFromSession = false;
        m_requestHeaders.insert(QStringLiteral("Authorization"),
                                QString::fromLatin1(NRHTTPAuthentication::basicAuthorization(m_username, m_password)));
        m_ourAuthorization = true;
        return;
    }
    if (!m_useSessionPersistence)
        return;
    NRSessionCredentialEntry entry;
    if (!NRSessionCredentialStore::shared().find(m_url, m_authenticationRealm, m_username, m_password, &entry))
        return;
    m_requestCredentials = entry.credentials;
    m_authenticationScheme = entry.scheme;
    m_sentRealm = entry.realm;
    m_sentScheme = entry.scheme;
    m_sentFromSession = true;
    if (entry.authentication) {
        m_requestAuthentication = entry.authentication;
        if (entry.authentication->isConnectionBased()) {
            m_ntlmCredentials = entry.credentials;
            return;
        }
        m_requestHeaders.insert(QStringLiteral("Authorization"),
                                QString::fromLatin1(entry.authentication->authorizationHeader(
                                    *entry.credentials, m_requestMethod, requestTarget())));
    } else {
        m_requestHeaders.insert(QStringLiteral("Authorization"),
                                QString::fromLatin1(NRHTTPAuthentication::basicAuthorization(
                                    entry.credentials->username, entry.credentials->password)));
    }
    m_ourAuthorization = true;
}

void NRHTTPRequest::startRequest() {
    if (m_cancelled)
        return;
    if (m_wantsStarted)
        onMain([](NRHTTPRequest &r) { r.reportStarted(); });
    m_downloadComplete = false;
    m_complete = false;
    m_totalBytesRead = 0;
    m_lastBytesRead = 0;
    if (m_redirectCount == 0)
        m_originalURL = m_url;
    if (m_lastBytesSent > 0)
        removeUploadProgressSoFar();
    m_lastBytesSent = 0;
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
    m_easy = curl_easy_init();
    if (!m_easy || !configureTransfer(m_easy)) {
        failWithError(makeError(InternalErrorWhileBuildingRequestType, QStringLiteral("Unable to start HTTP connection")));
        return;
    }
    m_freshConnection = false;
    auto self = sharedSelf();
    NRNetworkThread::shared().addTransfer(m_easy, self);
    NRNetworkThread::shared().addTicking(self);

    if (m_shouldResetUploadProgress)
        incrementUploadSizeBy(m_showAccurateProgress ? m_postLength : 1);
    m_lastActivity.start();
}

bool NRHTTPRequest::configureTransfer(CURL *easy) {
    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok &= curl_easy_setopt(easy, option, value) == CURLE_OK; };
    const QByteArray encodedURL = m_url.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    set(CURLOPT_URL, encodedURL.constData());  // libcurl copies strings
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_PROXY, "");  // no proxies from the environment
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
    set(CURLOPT_BUFFERSIZE, 262144L);
    set(CURLOPT_UPLOAD_BUFFERSIZE, 262144L);
    set(CURLOPT_MAXAGE_CONN, long(std::max(1.0, m_persistentConnectionTimeoutSeconds)));
    if (!m_shouldAttemptPersistentConnection || m_freshConnection) {
        set(CURLOPT_FRESH_CONNECT, 1L);
        if (!m_shouldAttemptPersistentConnection)
            set(CURLOPT_FORBID_REUSE, 1L);
    }

    // Method and body.
    const bool hasBody = m_bodyFile || !m_bodySource.isEmpty();
    if (m_requestMethod == QLatin1String("HEAD")) {
        set(CURLOPT_NOBODY, 1L);
    } else if (hasBody || m_requestMethod == QLatin1String("POST") || m_requestMethod == QLatin1String("PUT")) {
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
    // itself, and adds no form type or "Expect" of its own.
    curl_slist_free_all(m_curlHeaders);
    m_curlHeaders = nullptr;
    bool hasContentType = false;
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
        if (it.key().compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
            continue;
        hasContentType |= it.key().compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0;
        QByteArray line = it.key().toLatin1() + ": " + it.value().toUtf8();
        line.replace('\r', ' ').replace('\n', ' ');  // a header value never splits the request
        if (it.value().isEmpty())
            line = it.key().toLatin1() + ";";  // an empty header, sent as "Name:"
        m_curlHeaders = curl_slist_append(m_curlHeaders, line.constData());
    }
    if (!hasContentType)
        m_curlHeaders = curl_slist_append(m_curlHeaders, "Content-Type:");
    m_curlHeaders = curl_slist_append(m_curlHeaders, "Expect:");
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
    curl_easy_cleanup(m_easy);
    m_easy = nullptr;
    m_abortTransfer = false;
    m_bodyFile.reset();
}

void NRHTTPRequest::cancel() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] { self->cancelOnRequestThread(); });
}

void NRHTTPRequest::clearDelegatesAndCancel() {
    m_delegate = nullptr;
    m_uploadProgressDelegate.reset();
    m_downloadProgressDelegate.reset();
    releaseBlocks();
    cancel();
}

void NRHTTPRequest::cancelOnRequestThread() {
    LOCKED;
    if (m_cancelled || m_complete)
        return;
    failWithError(makeError(RequestCancelledErrorType, QStringLiteral("The request was cancelled")));
    m_complete = true;
    cancelLoad();
    m_cancelled = true;
    markCancelled();
}

void NRHTTPRequest::cancelLoad() {
    destroyTransfer();
    m_bodyFile.reset();
    closeDownloadStreams();
    deleteTemporaryDownloadFiles();
}

void NRHTTPRequest::closeDownloadStreams() {
    if (m_fileDownloadOutputStream)
        m_fileDownloadOutputStream->close();
    m_fileDownloadOutputStream.reset();
    if (m_inflatedFileDownloadOutputStream)
        m_inflatedFileDownloadOutputStream->close();
    m_inflatedFileDownloadOutputStream.reset();
}

// A download that did not end well leaves no temporary file behind (unless
// it is to be resumed) and never touches the destination.
void NRHTTPRequest::deleteTemporaryDownloadFiles() {
    if (!m_allowResumeForFileDownloads && !m_temporaryFileDownloadPath.isEmpty()) {
        QFile::remove(m_temporaryFileDownloadPath);
        m_temporaryFileDownloadPath.clear();
    }
    if (!m_temporaryUncompressedDataDownloadPath.isEmpty()) {
        QFile::remove(m_temporaryUncompressedDataDownloadPath);
        m_temporaryUncompressedDataDownloadPath.clear();
    }
}

void NRHTTPRequest::failWithError(const VNErrorPtr &error) {
    LOCKED;
    m_complete = true;
    m_waitingForCredentials = false;
    destroyTransfer();
    cancelLoad();
    if (m_cancelled || m_error)
        return;  // a second failure is ignored
    m_error = error;
    m_failed.store(true);
    VNLog::log(QStringLiteral("NRHTTPRequest failed: %1 (%2)").arg(error->localizedDescription(), description()));
    onMain([](NRHTTPRequest &r) { r.reportFailure(); });
    if (m_inProgress)
        markAsFinished();
}

void NRHTTPRequest::markAsFinished() {
    // Finished for good (no retry, no credentials to wait for): a body file
    // the request made itself goes.
    if (m_didCreateTemporaryPostDataFile && !m_postBodyFilePath.isEmpty()) {
        QFile::remove(m_postBodyFilePath);
        if (!m_compressedPostBodyFilePath.isEmpty())
            QFile::remove(m_compressedPostBodyFilePath);
    }
    m_requestAuthentication.reset();
    NRNetworkThread::shared().removeTicking(this);
    const bool wasInProgress = m_inProgress;
    m_inProgress = false;
    if (m_holdsPlace) {
        m_holdsPlace = false;
        NRNetworkThread::shared().releasePlace();
    }
    if (wasInProgress || isExecuting())
        setFinished(true);
}

// ---------------------------------------------------------------------------
// libcurl callbacks (network thread)

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
    r->m_inCurlCallback = true;
    const size_t result = r->handleBytesAvailable(data, size * count);
    r->m_inCurlCallback = false;
    return result;
}

size_t NRHTTPRequest::readCallback(char *data, size_t size, size_t count, void *self) {
    auto *r = static_cast<NRHTTPRequest *>(self);
    std::lock_guard<std::recursive_mutex> locker(r->m_mutex);
    if (r->m_abortTransfer || r->m_complete)
        return CURL_READFUNC_ABORT;
    const qint64 wanted = qint64(size * count);
    if (r->m_bodyFile) {
        const qint64 n = r->m_bodyFile->read(data, wanted);
        if (n < 0)
            return CURL_READFUNC_ABORT;
        r->m_bodyOffset += n;
        return size_t(n);
    }
    const qint64 n = std::min<qint64>(wanted, r->m_bodySource.size() - r->m_bodyOffset);
    if (n <= 0)
        return 0;
    memcpy(data, r->m_bodySource.constData() + r->m_bodyOffset, size_t(n));
    r->m_bodyOffset += n;
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

size_t NRHTTPRequest::handleHeaderLine(QByteArrayView line) {
    if (m_abortTransfer || m_complete)
        return 0;
    m_lastActivity.start();
    const QByteArrayView trimmed = line.trimmed();
    if (line.startsWith("HTTP/")) {
        // A new reply (an interim 100, or one step of an NTLM exchange).
        m_rawHeaders.clear();
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
        if (m_ntlmCredentials && m_responseStatusCode == 401) {
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
        m_rawHeaders.append({trimmed.first(colon).trimmed().toByteArray(), trimmed.sliced(colon + 1).trimmed().toByteArray()});
    return line.size();
}

void NRHTTPRequest::readResponseHeaders() {
    m_authenticationNeeded = 0;
    m_headersRead = true;
    m_responseHeaders.clear();
    for (const auto &[name, value] : m_rawHeaders) {
        const QString n = QString::fromLatin1(name);
        QString key = n;
        for (auto it = m_responseHeaders.begin(); it != m_responseHeaders.end(); ++it)
            if (it.key().compare(n, Qt::CaseInsensitive) == 0)
                key = it.key();
        const QString v = QString::fromUtf8(value);
        if (m_responseHeaders.contains(key))
            m_responseHeaders[key] += QLatin1String(", ") + v;
        else
            m_responseHeaders.insert(key, v);
    }
    m_responseStatusMessage = QString::fromLatin1(m_statusLine);
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
        if (ok) {
            m_contentLength = length;
            if (m_showAccurateProgress && m_shouldResetDownloadProgress)
                incrementDownloadSizeBy(qint64(length + m_partialDownloadSize));
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
    onMain([headers](NRHTTPRequest &r) {
        if (r.m_failed.load())
            return;
        r.callDelegate(r.m_didReceiveResponseHeadersSelector);
        if (r.m_headersReceivedBlock)
            r.m_headersReceivedBlock(headers);
    });
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
            if (r.delegateResponds("requestRedirected", "NRHTTPRequest*"))
                QMetaObject::invokeMethod(r.m_delegate.data(), "requestRedirected", Qt::DirectConnection,
                                          Q_ARG(NRHTTPRequest *, &r));
            if (r.m_requestRedirectedBlock)
                r.m_requestRedirectedBlock();
        });
    }
    const QUrl target = m_url.resolved(QUrl(location));
    if (s == 303 || ((s == 301 || s == 302) && !m_shouldUseRFC2616RedirectBehaviour)) {
        m_requestMethod = QStringLiteral("GET");
        m_postBody = QByteArray();
        m_hasPostBody = false;
        m_compressedPostBody = QByteArray();
        if (m_didCreateTemporaryPostDataFile && !m_postBodyFilePath.isEmpty())
            QFile::remove(m_postBodyFilePath);
        m_postBodyFilePath.clear();
        m_shouldStreamPostDataFromDisk = false;
        m_postLength = 0;
        QMap<QString, QString> kept;
        for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
            if (it.key().compare(QLatin1String("User-Agent"), Qt::CaseInsensitive) == 0 ||
                it.key().compare(QLatin1String("Accept"), Qt::CaseInsensitive) == 0 ||
                (it.key().compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0 && m_callerSetAuthorization))
                kept.insert(it.key(), it.value());
        }
        m_requestHeaders = kept;
        m_ourCookieHeader = false;
        m_ourAuthorization = false;
        m_haveBuiltRequestHeaders = false;
    }
    // Credentials and cookies never travel to another origin, nor from https
    // down to plain http.
    const bool downgrade = m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                           target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    if (!sameOrigin(m_url, target) || downgrade) {
        for (const QString &name : {QStringLiteral("Authorization"), QStringLiteral("Cookie")}) {
            for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
                if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
                    m_requestHeaders.erase(it);
                    break;
                }
            }
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
    if (m_authenticationNeeded || m_dropBody416) {
        m_rawResponseData.append(data, qsizetype(length));
        return length;
    }
    QByteArray inflated;
    const bool inflateNow = isResponseCompressed() && !m_shouldWaitToInflateCompressedResponses;
    if (inflateNow) {
        if (!m_dataDecompressor)
            m_dataDecompressor = NRDataDecompressor::decompressor();
        VNErrorPtr err;
        inflated = m_dataDecompressor->uncompressBytes(data, qsizetype(length), &err);
        if (err) {
            failWithError(err);
            return 0;
        }
    }
    if (m_deliverData) {
        const QByteArray piece = inflateNow ? inflated : QByteArray(data, qsizetype(length));
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
    if (m_downloadDestinationPath.isEmpty()) {
        if (inflateNow)
            m_rawResponseData.append(inflated);
        else
            m_rawResponseData.append(data, qsizetype(length));
        return length;
    }
    auto openWriter = [&](std::unique_ptr<QFile> &writer, QString &path) -> bool {
        if (writer)
            return true;
        const bool pathWasSet = !path.isEmpty();
        if (!pathWasSet)
            path = newTemporaryPath();
        const bool resumed = m_allowResumeForFileDownloads && pathWasSet &&
                             !responseHeader(QStringLiteral("Content-Range")).isNull() &&
                             m_requestHeaders.contains(QStringLiteral("Range"));
        if (!resumed && m_partialDownloadSize > 0) {
            incrementDownloadSizeBy(-qint64(m_partialDownloadSize));
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
    if (curlCode == CURLE_OK)
        handleStreamComplete();
    else
        handleStreamError(curlCode);
}

bool NRHTTPRequest::removeFile(const QString &path, VNErrorPtr *error) {
    if (path.isEmpty() || !QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (file.remove())
        return true;
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
        const QString beside = to + QStringLiteral(".part-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        std::error_code ec2;
        std::filesystem::copy_file(from.toStdString(), beside.toStdString(), ec2);
        if (!ec2)
            std::filesystem::rename(beside.toStdString(), to.toStdString(), ec2);
        if (!ec2) {
            QFile::remove(from);
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
    m_downloadComplete = true;
    if (!m_headersRead)
        readResponseHeaders();
    curl_off_t uploaded = 0;
    curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    long connects = 0;
    curl_easy_getinfo(m_easy, CURLINFO_NUM_CONNECTS, &connects);
    m_newConnectionCount = int(connects);
    m_lastBytesSent = m_totalBytesSent;
    m_totalBytesSent = quint64(uploaded);
    m_complete = true;
    if (m_contentLength == 0)
        m_contentLength = m_totalBytesRead;
    updateProgressIndicators();
    destroyTransfer();

    VNErrorPtr fileError;
    if (m_dataDecompressor && !m_needsRedirect && m_authenticationNeeded == 0)
        fileError = m_dataDecompressor->finishStream();  // a gzip reply cut short is no success
    m_dataDecompressor.reset();

    const bool replyIsTheAnswer = !m_needsRedirect && m_authenticationNeeded == 0;
    // Whether this reply becomes the destination file (a HEAD reply or a
    // body handed to a data callback does not).
    const bool replyMakesFile = replyIsTheAnswer && !m_downloadDestinationPath.isEmpty() && !m_deliverData &&
                                !m_dropBody416 && m_requestMethod != QLatin1String("HEAD");
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
                QFile::remove(inflatedPath);
                QFile::remove(m_temporaryFileDownloadPath);
                m_temporaryFileDownloadPath.clear();
            } else if (compressed && !m_temporaryUncompressedDataDownloadPath.isEmpty()) {
                moveFileIntoPlace(m_temporaryUncompressedDataDownloadPath, m_downloadDestinationPath, &fileError);
                m_temporaryUncompressedDataDownloadPath.clear();
                QFile::remove(m_temporaryFileDownloadPath);
                m_temporaryFileDownloadPath.clear();
            } else if (!m_temporaryFileDownloadPath.isEmpty()) {
                if (moveFileIntoPlace(m_temporaryFileDownloadPath, m_downloadDestinationPath, &fileError))
                    m_temporaryFileDownloadPath.clear();
            }
        }
    } else if (replyMakesFile) {
        // An empty reply still gives an (empty) file.
        QFile empty(m_downloadDestinationPath + QStringLiteral(".part-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (empty.open(QIODevice::WriteOnly)) {
            empty.close();
            moveFileIntoPlace(empty.fileName(), m_downloadDestinationPath, &fileError);
        }
    }

    if (m_needsRedirect) {
        followRedirect();
        return;
    }
    if (m_authenticationNeeded) {
        attemptToApplyCredentialsAndResume();
        return;
    }
    if (fileError) {
        failWithError(fileError);
        return;
    }
    if (m_didCreateTemporaryPostDataFile && !m_postBodyFilePath.isEmpty()) {
        QFile::remove(m_postBodyFilePath);
        if (!m_compressedPostBodyFilePath.isEmpty())
            QFile::remove(m_compressedPostBodyFilePath);
    }
    onMain([](NRHTTPRequest &r) { r.reportFinished(); });
    markAsFinished();
}

void NRHTTPRequest::handleStreamError(int curlCode) {
    if (m_error) {
        cancelLoad();
        return;
    }
    if (isBrokenConnection(curlCode) && m_retryCount == 0 && m_totalBytesRead == 0) {
        // A kept-alive connection the server closed meanwhile: once more on
        // a new connection.
        ++m_retryCount;
        destroyTransfer();
        m_freshConnection = true;
        startRequest();
        return;
    }
    const QString base = QStringLiteral("A connection failure occurred");
    const QString text = isSSLError(curlCode)
                             ? QStringLiteral("%1: SSL problem (Possible causes may include a bad/expired/self-signed "
                                              "certificate, clock set to wrong date)")
                                   .arg(base)
                             : base;
    const QString underlying = QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode))) +
                               (m_curlErrorBuffer[0] ? QStringLiteral(": ") + QString::fromUtf8(m_curlErrorBuffer) : QString());
    auto err = makeError(ConnectionFailureErrorType, text, underlying);
    cancelLoad();
    failWithError(err);
}

void NRHTTPRequest::followRedirect() {
    if (m_delegateConfirmsRedirect) {
        const QUrl target = m_redirectURL;
        m_redirectURL = QUrl();
        m_lastActivity.invalidate();
        onMain([target](NRHTTPRequest &r) {
            if (r.m_failed.load())
                return;
            if (r.delegateResponds(r.m_willRedirectSelector, "NRHTTPRequest*,QUrl"))
                QMetaObject::invokeMethod(r.m_delegate.data(), r.m_willRedirectSelector.constData(), Qt::DirectConnection,
                                          Q_ARG(NRHTTPRequest *, &r), Q_ARG(QUrl, target));
        });
        return;
    }
    performRedirect();
}

void NRHTTPRequest::redirectToURL(const QUrl &url) {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self, url] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (self->m_error || self->m_cancelled)
            return;
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
    m_url = target;
    m_redirectURL = QUrl();
    m_requestAuthentication.reset();
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

// ---------------------------------------------------------------------------
// Authentication

void NRHTTPRequest::recordBasicSuccess() {
    if (m_requestAuthentication || m_authenticationScheme != NRHTTPAuthentication::basicScheme() ||
        !m_useSessionPersistence || !m_requestCredentials)
        return;
    NRSessionCredentialEntry entry;
    entry.credentials = m_requestCredentials;
    entry.url = m_url;
    entry.scheme = NRHTTPAuthentication::basicScheme();
    entry.realm = m_sentRealm;
    NRSessionCredentialStore::shared().store(entry);
}

NRCredentialsPtr NRHTTPRequest::findCredentials() const {
    QString user = m_url.userName(), pass = m_url.password();
    if (user.isEmpty() || pass.isEmpty()) {
        user = m_username;
        pass = m_password;
    }
    if (user.isEmpty() || pass.isEmpty())
        return nullptr;
    QString domain;
    if (m_requestAuthentication && m_requestAuthentication->requiresAccountDomain()) {
        domain = m_domain;
        if (domain.isEmpty()) {
            const int slash = user.indexOf(QLatin1Char('\\'));
            if (slash > 0) {
                domain = user.left(slash);
                user = user.mid(slash + 1);
            }
        }
    }
    return std::make_shared<NRCredentials>(NRCredentials{user, pass, domain});
}

bool NRHTTPRequest::applyCredentials(const NRHTTPAuthenticationPtr &authentication, const NRCredentialsPtr &credentials,
                                     bool fromSession) {
    ++m_authenticationRetryCount;
    if (!credentials || !authentication)
        return false;
    m_requestAuthentication = authentication;
    m_authenticationScheme = authentication->scheme();
    if (m_ourAuthorization) {
        m_requestHeaders.remove(QStringLiteral("Authorization"));
        m_ourAuthorization = false;
    }
    m_ntlmCredentials.reset();
    if (authentication->isConnectionBased()) {
        m_ntlmCredentials = credentials;
    } else {
        m_requestHeaders.insert(QStringLiteral("Authorization"),
                                QString::fromLatin1(authentication->authorizationHeader(*credentials, m_requestMethod,
                                                                                         requestTarget())));
        m_ourAuthorization = true;
    }
    if (m_useSessionPersistence) {
        NRSessionCredentialEntry entry{authentication, credentials, m_url, authentication->scheme(), authentication->realm()};
        NRSessionCredentialStore::shared().store(entry);
    }
    m_requestCredentials = credentials;
    m_sentRealm = authentication->realm();
    m_sentScheme = authentication->scheme();
    m_sentFromSession = fromSession;
    return true;
}

void NRHTTPRequest::attemptToApplyCredentialsAndResume() {
    if (m_error || m_cancelled)
        return;
    if (m_authenticationNeeded == 2) {
        // No proxy is used yet, so a proxy challenge cannot be answered.
        failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
        return;
    }
    QList<QByteArray> challenges;
    for (const auto &[name, value] : m_rawHeaders)
        if (qstricmp(name.constData(), "WWW-Authenticate") == 0)
            challenges.append(value);
    const NRHTTPAuthenticationPtr authentication = NRHTTPAuthentication::fromChallenges(challenges);
    if (!authentication) {
        failWithError(makeError(InternalErrorWhileApplyingCredentialsType,
                                QStringLiteral("Failed to get authentication object from response headers")));
        return;
    }
    m_authenticationScheme = authentication->scheme();
    m_authenticationRealm = authentication->realm();
    if (m_authenticationRetryCount >= kMaximumAuthenticationApplications) {
        failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
        return;
    }
    if (m_requestCredentials) {
        const bool sameSpace = m_sentScheme.compare(authentication->scheme(), Qt::CaseInsensitive) == 0 &&
                               (m_sentRealm.isNull() || m_authenticationRealm.isNull() ||
                                m_sentRealm == m_authenticationRealm);
        if (!sameSpace) {
            // What went out answers another realm or scheme of this server
            // (a Basic share next to a Digest one): not a refusal of those
            // credentials, which stay in the session. The challenge is new.
            m_requestCredentials.reset();
        } else if (authentication->isStale()) {
            // The credentials were right; only the Digest nonce had expired.
            if (applyCredentials(authentication, m_requestCredentials, m_sentFromSession)) {
                startRequest();
                return;
            }
        } else {
            NRSessionCredentialStore::shared().remove(m_requestCredentials);
            m_requestCredentials.reset();
            if (!m_sentFromSession) {
                // The request's own credentials were refused.
                m_requestAuthentication = authentication;
                if (m_canAskForCredentials) {
                    askDelegateForCredentials();
                    return;
                }
                failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
                return;
            }
            // Credentials kept for the session were refused (forgotten now):
            // the fresh challenge is answered below, with the request's own
            // when the session has nothing else for it.
        }
    }
    m_requestAuthentication = authentication;
    if (m_useSessionPersistence) {
        NRSessionCredentialEntry entry;
        if (NRSessionCredentialStore::shared().find(m_url, m_authenticationRealm, m_username, m_password, &entry,
                                                    authentication->scheme())) {
            if (applyCredentials(authentication, entry.credentials, true)) {
                startRequest();
                return;
            }
        }
    }
    if (NRCredentialsPtr credentials = findCredentials()) {
        if (applyCredentials(authentication, credentials)) {
            startRequest();
            return;
        }
        failWithError(makeError(InternalErrorWhileApplyingCredentialsType, QStringLiteral("Failed to apply credentials to request")));
        return;
    }
    if (m_canAskForCredentials) {
        askDelegateForCredentials();
        return;
    }
    failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
}

void NRHTTPRequest::askDelegateForCredentials() {
    m_waitingForCredentials = true;
    m_lastActivity.invalidate();  // waiting for an answer never times out
    onMain([](NRHTTPRequest &r) {
        if (r.delegateResponds("authenticationNeededForRequest", "NRHTTPRequest*"))
            QMetaObject::invokeMethod(r.m_delegate.data(), "authenticationNeededForRequest", Qt::DirectConnection,
                                      Q_ARG(NRHTTPRequest *, &r));
        else if (r.m_authenticationNeededBlock)
            r.m_authenticationNeededBlock();
    });
}

void NRHTTPRequest::retryUsingSuppliedCredentials() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (!self->m_waitingForCredentials || self->m_error || self->m_cancelled)
            return;
        self->m_waitingForCredentials = false;
        if (NRCredentialsPtr credentials = self->findCredentials()) {
            if (self->applyCredentials(self->m_requestAuthentication, credentials)) {
                self->startRequest();
                return;
            }
        }
        self->failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
    });
}

void NRHTTPRequest::cancelAuthentication() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (!self->m_waitingForCredentials)
            return;
        self->failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
    });
}

// ---------------------------------------------------------------------------
// Time-outs and progress

void NRHTTPRequest::statusTick() {
    LOCKED;
    if (m_cancelled || m_complete || !m_easy) {
        if (!m_inProgress)
            NRNetworkThread::shared().removeTicking(this);
        return;
    }
    if (shouldTimeOut()) {
        if (m_numberOfTimesToRetryOnTimeout > m_retryCount) {
            ++m_retryCount;
            destroyTransfer();
            m_freshConnection = true;
            updatePartialDownloadSize();
            if (m_partialDownloadSize)
                m_requestHeaders.insert(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(m_partialDownloadSize));
            startRequest();
            return;
        }
        failWithError(makeError(RequestTimedOutErrorType, QStringLiteral("The request timed out")));
        return;
    }
    if (m_postLength > 0) {
        curl_off_t uploaded = 0;
        curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
        m_lastBytesSent = m_totalBytesSent;
        m_totalBytesSent = quint64(uploaded);
        if (m_totalBytesSent > m_lastBytesSent)
            m_lastActivity.start();
    }
    updateProgressIndicators();
}

bool NRHTTPRequest::shouldTimeOut() const {
    if (!m_easy || !m_lastActivity.isValid() || m_timeOutSeconds <= 0)
        return false;
    const double idle = m_lastActivity.elapsed() / 1000.0;
    if (idle <= m_timeOutSeconds)
        return false;
    if (m_postLength == 0)
        return true;
    if (m_uploadBufferSize > 0 && m_totalBytesSent > m_uploadBufferSize)
        return true;
    return idle > 1.5 * m_timeOutSeconds;
}

void NRHTTPRequest::updateProgressIndicators() {
    if (!m_showAccurateProgress && !(m_complete && !m_updatedProgress))
        return;
    updateUploadProgress();
    updateDownloadProgress();
}

void NRHTTPRequest::updateUploadProgress() {
    if (m_cancelled || m_totalBytesSent == 0)
        return;
    if (m_uploadBufferSize == 0 && m_totalBytesSent != quint64(m_postLength)) {
        m_uploadBufferSize = m_totalBytesSent;
        incrementUploadSizeBy(-qint64(m_uploadBufferSize));
    }
    qint64 amount;
    if (m_showAccurateProgress) {
        if (m_totalBytesSent != quint64(m_postLength) && m_lastBytesSent == 0)
            return;
        amount = qint64(m_totalBytesSent) - qint64(m_lastBytesSent);
    } else {
        amount = 1;
        m_updatedProgress = true;
    }
    if (amount == 0)
        return;
    const qint64 postLength = m_postLength;
    const double denominator = double(postLength) - double(m_uploadBufferSize);
    const double fraction = denominator > 0 ? (double(m_totalBytesSent) - double(m_uploadBufferSize)) / denominator : 1.0;
    m_lastBytesSent = m_totalBytesSent;
    if (!m_wantsUploadProgress)
        return;
    reportBytesSent(amount, postLength, fraction);
}

void NRHTTPRequest::updateDownloadProgress() {
    if (!m_headersRead || m_needsRedirect || m_authenticationNeeded)
        return;
    if (!m_showAccurateProgress && !m_complete)
        return;
    const quint64 soFar = m_totalBytesRead + m_partialDownloadSize;
    qint64 amount;
    if (m_showAccurateProgress && m_contentLength) {
        amount = qint64(soFar) - qint64(m_lastBytesRead);
        if (amount == 0)
            return;
    } else {
        if (m_updatedProgress)
            return;
        amount = 1;
        m_updatedProgress = true;
    }
    const qint64 total = qint64(m_contentLength + m_partialDownloadSize);
    const double fraction = total > 0 ? double(soFar) / double(total) : 1.0;
    m_lastBytesRead = soFar;
    if (!m_wantsDownloadProgress)
        return;
    onMain([amount, total, fraction](NRHTTPRequest &r) {
        if (auto d = r.m_downloadProgressDelegate.lock()) {
            d->didReceiveBytes(&r, amount);
            d->setDoubleValue(fraction);
        }
        if (r.m_bytesReceivedBlock)
            r.m_bytesReceivedBlock(amount, total);
    });
}

void NRHTTPRequest::incrementDownloadSizeBy(qint64 amount) {
    if (!m_wantsDownloadProgress)
        return;
    onMain([amount](NRHTTPRequest &r) {
        if (auto d = r.m_downloadProgressDelegate.lock())
            d->incrementDownloadSizeBy(&r, amount);
        if (r.m_downloadSizeIncrementedBlock)
            r.m_downloadSizeIncrementedBlock(amount);
    });
}

void NRHTTPRequest::incrementUploadSizeBy(qint64 amount) {
    if (!m_wantsUploadProgress)
        return;
    onMain([amount](NRHTTPRequest &r) {
        if (auto d = r.m_uploadProgressDelegate.lock())
            d->incrementUploadSizeBy(&r, amount);
        if (r.m_uploadSizeIncrementedBlock)
            r.m_uploadSizeIncrementedBlock(amount);
    });
}

void NRHTTPRequest::removeUploadProgressSoFar() {
    if (!m_wantsUploadProgress)
        return;
    reportBytesSent(-qint64(m_totalBytesSent), m_postLength, 0);
}

// Hands sent bytes (negative to take some back) to the upload progress
// delegate and the bytes-sent block, on the main thread.
void NRHTTPRequest::reportBytesSent(qint64 amount, qint64 postLength, double fraction) {
    onMain([amount, postLength, fraction](NRHTTPRequest &r) {
        if (auto d = r.m_uploadProgressDelegate.lock()) {
            d->didSendBytes(&r, amount);
            d->setDoubleValue(fraction);
        }
        if (r.m_bytesSentBlock)
            r.m_bytesSentBlock(amount, postLength);
    });
}

// ---------------------------------------------------------------------------
// Main-thread delivery

void NRHTTPRequest::onMain(std::function<void(NRHTTPRequest &)> work) {
    auto self = sharedSelf();
    VNDispatch::mainAsync([self, work = std::move(work)] { work(*self); });
}

bool NRHTTPRequest::delegateResponds(const QByteArray &method, const char *arguments) const {
    QObject *d = m_delegate.data();
    if (!d || method.isEmpty())
        return false;
    const QByteArray signature = QMetaObject::normalizedSignature((method + '(' + arguments + ')').constData());
    return d->metaObject()->indexOfMethod(signature.constData()) >= 0;
}

void NRHTTPRequest::callDelegate(const QByteArray &method) {
    if (delegateResponds(method, "NRHTTPRequest*"))
        QMetaObject::invokeMethod(m_delegate.data(), method.constData(), Qt::DirectConnection, Q_ARG(NRHTTPRequest *, this));
}

void NRHTTPRequest::reportStarted() {
    if (m_failed.load())
        return;
    callDelegate(m_didStartSelector);
    if (m_startedBlock)
        m_startedBlock();
}

void NRHTTPRequest::reportFinished() {
    if (m_failed.load())
        return;
    callDelegate(m_didFinishSelector);
    if (auto block = m_completionBlock)
        block();
    releaseBlocks();
}

void NRHTTPRequest::reportFailure() {
    callDelegate(m_didFailSelector);
    if (auto block = m_failureBlock)
        block();
    releaseBlocks();
}

// After the last callback the blocks go, and with them whatever they hold
// (often the request itself: no cycle outlives the request).
void NRHTTPRequest::releaseBlocks() {
    m_startedBlock = m_completionBlock = m_failureBlock = m_authenticationNeededBlock = m_requestRedirectedBlock = nullptr;
    m_headersReceivedBlock = nullptr;
    m_dataReceivedBlock = nullptr;
    m_bytesReceivedBlock = m_bytesSentBlock = nullptr;
    m_downloadSizeIncrementedBlock = m_uploadSizeIncrementedBlock = nullptr;
}

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::copy() const {
    auto other = std::make_shared<NRHTTPRequest>(url());
    copySettingsTo(*other);
    return other;
}

void NRHTTPRequest::copySettingsTo(NRHTTPRequest &o) const {
    LOCKED;
    o.m_delegate = m_delegate;
    o.m_requestMethod = m_requestMethod;
    o.m_postBody = m_postBody;
    o.m_hasPostBody = m_hasPostBody;
    o.m_shouldStreamPostDataFromDisk = m_shouldStreamPostDataFromDisk;
    o.m_postBodyFilePath = m_postBodyFilePath;
    o.m_requestHeaders = m_requestHeaders;
    o.m_callerSetAuthorization = m_callerSetAuthorization;
    o.m_requestCookies = m_requestCookies;
    o.m_useCookiePersistence = m_useCookiePersistence;
    o.m_useSessionPersistence = m_useSessionPersistence;
    o.m_allowCompressedResponse = m_allowCompressedResponse;
    o.m_downloadDestinationPath = m_downloadDestinationPath;
    o.m_username = m_username;
    o.m_password = m_password;
    o.m_domain = m_domain;
    o.m_postLength = m_postLength;
    o.m_haveBuiltPostBody = m_haveBuiltPostBody;
    o.m_timeOutSeconds = m_timeOutSeconds;
    o.m_showAccurateProgress = m_showAccurateProgress;
    o.m_defaultResponseEncoding = m_defaultResponseEncoding;
    o.m_allowResumeForFileDownloads = m_allowResumeForFileDownloads;
    o.m_userInfo = m_userInfo;
    o.m_tag = m_tag;
    o.m_useHTTPVersionOne = m_useHTTPVersionOne;
    o.m_shouldRedirect = m_shouldRedirect;
    o.m_validatesSecureCertificate = m_validatesSecureCertificate;
    o.m_shouldPresentCredentialsBeforeChallenge = m_shouldPresentCredentialsBeforeChallenge;
    o.m_numberOfTimesToRetryOnTimeout = m_numberOfTimesToRetryOnTimeout;
    o.m_shouldUseRFC2616RedirectBehaviour = m_shouldUseRFC2616RedirectBehaviour;
    o.m_shouldAttemptPersistentConnection = m_shouldAttemptPersistentConnection;
    o.m_persistentConnectionTimeoutSeconds = m_persistentConnectionTimeoutSeconds;
    o.m_authenticationScheme = m_authenticationScheme;
    o.m_didStartSelector = m_didStartSelector;
    o.m_didFinishSelector = m_didFinishSelector;
    o.m_didFailSelector = m_didFailSelector;
    o.m_uploadProgressDelegate = m_uploadProgressDelegate;
    o.m_downloadProgressDelegate = m_downloadProgressDelegate;
    o.m_shouldResetUploadProgress = m_shouldResetUploadProgress;
    o.m_shouldResetDownloadProgress = m_shouldResetDownloadProgress;
    o.m_compressedPostBody = m_compressedPostBody;
}
