#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Formats/NRDataDecompressor.h"
#include "Net/NRCookieStore.h"
#include "Net/NRDownloadCache.h"
#include "Net/NRNetworkThread.h"
#include "Platform/VNDispatch.h"
#include "Net/NRSessionCredentialStore.h"
#include "Platform/VNTempDirectory.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QStringDecoder>
#include <QSysInfo>
#include <QTimer>
#include <QUuid>

#include <curl/curl.h>

#include <atomic>

using namespace NRHTTPRequestInternal;

namespace {

std::atomic<double> g_defaultTimeOutSeconds{30.0};
std::atomic<quint64> g_lastRequestID{0};

}  // namespace

namespace NRHTTPRequestInternal {

ClassState &classState() {
    static ClassState *state = new ClassState();
    return *state;
}

CredentialTurn &credentialTurn() {
    static CredentialTurn *turn = new CredentialTurn();
    return *turn;
}

QMap<QString, QString>::const_iterator findHeader(const QMap<QString, QString> &headers, const QString &name) {
    // Servers mostly write names as we look them up; other names seldom
    // have the same length.
    if (const auto exact = headers.constFind(name); exact != headers.cend())
        return exact;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        if (it.key().size() == name.size() && it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it;
    return headers.cend();
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

QString newTemporaryPath() {
    return VNTempDirectory::path() + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

}  // namespace NRHTTPRequestInternal

NRHTTPRequest::NRHTTPRequest(const QUrl &url)
    : m_url(url), m_timeOutSeconds(g_defaultTimeOutSeconds.load()), m_requestID(++g_lastRequestID) {
    static const int registered = qRegisterMetaType<NRHTTPRequest *>("NRHTTPRequest*");
    Q_UNUSED(registered);
    m_downloadCache = defaultCache();
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
    // Released by its owner while it waited (for credentials, for its turn
    // to look for them, for a redirect decision): what it held goes back.
    if (m_holdsPlace)
        NRNetworkThread::shared().post([] { NRNetworkThread::shared().releasePlace(); });
    releaseCredentialTurn();
}

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::requestWithURL(const QUrl &url) {
    return std::make_shared<NRHTTPRequest>(url);
}

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::sharedSelf() {
    return std::static_pointer_cast<NRHTTPRequest>(shared_from_this());
}

QUrl NRHTTPRequest::url() const { LOCKED; return m_url; }

void NRHTTPRequest::setURL(const QUrl &url) {
    LOCKED;
    if (url == m_url)
        return;
    m_url = url;
    // What was made for the old URL: the server's and the proxy's challenges
    // and the header list of its message (kept while a transfer still uses it).
    m_requestAuthentication.reset();
    m_proxyAuthentication.reset();
    if (!m_easy) {
        curl_slist_free_all(m_curlHeaders);
        m_curlHeaders = nullptr;
    }
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
        !m_postBodyFilePath.isEmpty()) {
        m_shouldAttemptPersistentConnection = false;
        m_callerAskedForPersistentConnection = false;
    }
}

void NRHTTPRequest::addRequestHeader(const QString &name, const QString &value) {
    LOCKED;
    for (auto it = m_requestHeaders.begin(); it != m_requestHeaders.end(); ++it) {
        if (it.key().size() == name.size() && it.key().compare(name, Qt::CaseInsensitive) == 0) {
            m_requestHeaders.erase(it);
            break;
        }
    }
    m_requestHeaders.insert(name, value);
    if (m_madeForMainRequest && !m_ownHeaderNames.contains(name.toLower()))
        m_ownHeaderNames.append(name.toLower());
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

QString NRHTTPRequest::postBodyFilePath() const { LOCKED; return m_postBodyFilePath; }
void NRHTTPRequest::setPostBodyFilePath(const QString &path) { LOCKED; m_postBodyFilePath = path; }
bool NRHTTPRequest::shouldStreamPostDataFromDisk() const { LOCKED; return m_shouldStreamPostDataFromDisk; }
void NRHTTPRequest::setShouldStreamPostDataFromDisk(bool on) { LOCKED; m_shouldStreamPostDataFromDisk = on; }
void NRHTTPRequest::setShouldCompressRequestBody(bool on) { LOCKED; m_shouldCompressRequestBody = on; }
bool NRHTTPRequest::shouldCompressRequestBody() const { LOCKED; return m_shouldCompressRequestBody; }
qint64 NRHTTPRequest::postLength() const { LOCKED; return m_postLength; }

void NRHTTPRequest::setUserAgentString(const QString &text) { LOCKED; m_userAgentString = text; }
QString NRHTTPRequest::userAgentString() const { LOCKED; return m_userAgentString; }
void NRHTTPRequest::setTimeOutSeconds(double seconds) { LOCKED; m_timeOutSeconds = seconds; }
double NRHTTPRequest::timeOutSeconds() const { LOCKED; return m_timeOutSeconds; }
void NRHTTPRequest::setNumberOfTimesToRetryOnTimeout(int times) { LOCKED; m_numberOfTimesToRetryOnTimeout = times; }
int NRHTTPRequest::numberOfTimesToRetryOnTimeout() const { LOCKED; return m_numberOfTimesToRetryOnTimeout; }
void NRHTTPRequest::setShouldRedirect(bool on) { LOCKED; m_shouldRedirect = on; }
bool NRHTTPRequest::shouldRedirect() const { LOCKED; return m_shouldRedirect; }
void NRHTTPRequest::setShouldUseRFC2616RedirectBehaviour(bool on) { LOCKED; m_shouldUseRFC2616RedirectBehaviour = on; }
bool NRHTTPRequest::shouldUseRFC2616RedirectBehaviour() const { LOCKED; return m_shouldUseRFC2616RedirectBehaviour; }
void NRHTTPRequest::setValidatesSecureCertificate(bool on) { LOCKED; m_validatesSecureCertificate = on; }
bool NRHTTPRequest::validatesSecureCertificate() const { LOCKED; return m_validatesSecureCertificate; }
void NRHTTPRequest::setShouldAttemptPersistentConnection(bool on) {
    LOCKED;
    m_shouldAttemptPersistentConnection = on;
    m_callerAskedForPersistentConnection = on;
}
bool NRHTTPRequest::shouldAttemptPersistentConnection() const { LOCKED; return m_shouldAttemptPersistentConnection; }
void NRHTTPRequest::setPersistentConnectionTimeoutSeconds(double s) { LOCKED; m_persistentConnectionTimeoutSeconds = s; }
double NRHTTPRequest::persistentConnectionTimeoutSeconds() const { LOCKED; return m_persistentConnectionTimeoutSeconds; }
void NRHTTPRequest::setUseHTTPVersionOne(bool on) { LOCKED; m_useHTTPVersionOne = on; }
bool NRHTTPRequest::useHTTPVersionOne() const { LOCKED; return m_useHTTPVersionOne; }
void NRHTTPRequest::setAllowCompressedResponse(bool on) { LOCKED; m_allowCompressedResponse = on; }
bool NRHTTPRequest::allowCompressedResponse() const { LOCKED; return m_allowCompressedResponse; }
void NRHTTPRequest::setShouldWaitToInflateCompressedResponses(bool on) { LOCKED; m_shouldWaitToInflateCompressedResponses = on; }
bool NRHTTPRequest::shouldWaitToInflateCompressedResponses() const { LOCKED; return m_shouldWaitToInflateCompressedResponses; }
void NRHTTPRequest::setDefaultResponseEncoding(const QByteArray &name) { LOCKED; m_defaultResponseEncoding = name; }
QByteArray NRHTTPRequest::defaultResponseEncoding() const { LOCKED; return m_defaultResponseEncoding; }
void NRHTTPRequest::setMaximumResponseDataSize(quint64 bytes) { LOCKED; m_maximumResponseDataSize = bytes; }
quint64 NRHTTPRequest::maximumResponseDataSize() const { LOCKED; return bodyBound(); }

void NRHTTPRequest::setDownloadDestinationPath(const QString &path) { LOCKED; m_downloadDestinationPath = path; }
QString NRHTTPRequest::downloadDestinationPath() const { LOCKED; return m_downloadDestinationPath; }
void NRHTTPRequest::setTemporaryFileDownloadPath(const QString &path) { LOCKED; m_temporaryFileDownloadPath = path; }
QString NRHTTPRequest::temporaryFileDownloadPath() const { LOCKED; return m_temporaryFileDownloadPath; }
void NRHTTPRequest::setAllowResumeForFileDownloads(bool on) { LOCKED; m_allowResumeForFileDownloads = on; }
bool NRHTTPRequest::allowResumeForFileDownloads() const { LOCKED; return m_allowResumeForFileDownloads; }

void NRHTTPRequest::setUsername(const QString &u) { LOCKED; m_username = u; }
void NRHTTPRequest::setPassword(const QString &p) { LOCKED; m_password = p; }
void NRHTTPRequest::setDomain(const QString &d) { LOCKED; m_domain = d; }
QString NRHTTPRequest::username() const { LOCKED; return m_username; }
QString NRHTTPRequest::password() const { LOCKED; return m_password; }
QString NRHTTPRequest::domain() const { LOCKED; return m_domain; }
QString NRHTTPRequest::proxyPassword() const { LOCKED; return m_proxyPassword; }
QString NRHTTPRequest::proxyDomain() const { LOCKED; return m_proxyDomain; }
void NRHTTPRequest::setUseSessionPersistence(bool on) { LOCKED; m_useSessionPersistence = on; }
bool NRHTTPRequest::useSessionPersistence() const { LOCKED; return m_useSessionPersistence; }
void NRHTTPRequest::setShouldPresentCredentialsBeforeChallenge(bool on) { LOCKED; m_shouldPresentCredentialsBeforeChallenge = on; }
bool NRHTTPRequest::shouldPresentCredentialsBeforeChallenge() const { LOCKED; return m_shouldPresentCredentialsBeforeChallenge; }
void NRHTTPRequest::setUseCookiePersistence(bool on) { LOCKED; m_useCookiePersistence = on; }
bool NRHTTPRequest::useCookiePersistence() const { LOCKED; return m_useCookiePersistence; }
void NRHTTPRequest::setRequestCookies(const QList<QNetworkCookie> &c) { LOCKED; m_requestCookies = c; }
QList<QNetworkCookie> NRHTTPRequest::requestCookies() const { LOCKED; return m_requestCookies; }

void NRHTTPRequest::setDelegate(QObject *delegate) { LOCKED; m_delegate = delegate; }
QObject *NRHTTPRequest::delegate() const { LOCKED; return m_delegate.data(); }
void NRHTTPRequest::setDidStartSelector(const QByteArray &m) { m_didStartSelector = m; }
void NRHTTPRequest::setDidReceiveResponseHeadersSelector(const QByteArray &m) { m_didReceiveResponseHeadersSelector = m; }
void NRHTTPRequest::setWillRedirectSelector(const QByteArray &m) { m_willRedirectSelector = m; }
void NRHTTPRequest::setDidFinishSelector(const QByteArray &m) { m_didFinishSelector = m; }
void NRHTTPRequest::setDidFailSelector(const QByteArray &m) { m_didFailSelector = m; }
void NRHTTPRequest::setDidReceiveDataSelector(const QByteArray &m) { m_didReceiveDataSelector = m; }
QByteArray NRHTTPRequest::didStartSelector() const { return m_didStartSelector; }
QByteArray NRHTTPRequest::didReceiveResponseHeadersSelector() const { return m_didReceiveResponseHeadersSelector; }
QByteArray NRHTTPRequest::willRedirectSelector() const { return m_willRedirectSelector; }
QByteArray NRHTTPRequest::didFinishSelector() const { return m_didFinishSelector; }
QByteArray NRHTTPRequest::didFailSelector() const { return m_didFailSelector; }
QByteArray NRHTTPRequest::didReceiveDataSelector() const { return m_didReceiveDataSelector; }
std::shared_ptr<NRProgressDelegate> NRHTTPRequest::uploadProgressDelegate() const { LOCKED; return m_uploadProgressDelegate.lock(); }
std::shared_ptr<NRProgressDelegate> NRHTTPRequest::downloadProgressDelegate() const { LOCKED; return m_downloadProgressDelegate.lock(); }

void NRHTTPRequest::setUploadProgressDelegate(std::weak_ptr<NRProgressDelegate> d) {
    {
        LOCKED;
        m_uploadProgressDelegate = d;
    }
    if (auto p = d.lock())
        p->setMaxValue(1.0);
}

void NRHTTPRequest::setDownloadProgressDelegate(std::weak_ptr<NRProgressDelegate> d) {
    {
        LOCKED;
        m_downloadProgressDelegate = d;
    }
    if (auto p = d.lock())
        p->setMaxValue(1.0);
}

void NRHTTPRequest::setShowAccurateProgress(bool on) { LOCKED; m_showAccurateProgress = on; }
bool NRHTTPRequest::showAccurateProgress() const { LOCKED; return m_showAccurateProgress; }
bool NRHTTPRequest::shouldResetDownloadProgress() const { LOCKED; return m_shouldResetDownloadProgress; }
bool NRHTTPRequest::shouldResetUploadProgress() const { LOCKED; return m_shouldResetUploadProgress; }
void NRHTTPRequest::setQueue(const std::shared_ptr<NRRequestQueueListener> &queue) {
    LOCKED;
    m_queue = queue;
    m_queueHeld = queue;
}
std::shared_ptr<NRRequestQueueListener> NRHTTPRequest::queue() const { LOCKED; return m_queue.lock(); }
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
    const auto it = findHeader(m_responseHeaders, name);
    return it == m_responseHeaders.cend() ? QString() : it.value();
}

QList<QNetworkCookie> NRHTTPRequest::responseCookies() const { LOCKED; return m_responseCookies; }
VNErrorPtr NRHTTPRequest::error() const { LOCKED; return m_error; }
QByteArray NRHTTPRequest::rawResponseData() const { LOCKED; return m_rawResponseData; }

QByteArray NRHTTPRequest::responseData() const {
    LOCKED;
    if (isResponseCompressed() && m_shouldWaitToInflateCompressedResponses && !m_rawResponseData.isEmpty())
        return NRDataDecompressor::uncompressData(m_rawResponseData, nullptr, qint64(bodyBound()));
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
int NRHTTPRequest::connectionID() const { LOCKED; return m_connectionID; }

QString NRHTTPRequest::description() const {
    LOCKED;
    // No user info, query or fragment: they may carry passwords and tokens.
    return QStringLiteral("NRHTTPRequest %1 %2")
        .arg(m_requestMethod, m_url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment));
}

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
    if (auto cache = defaultCache())
        cache->clearCachedResponsesForStoragePolicy(NRCacheForSessionDurationCacheStoragePolicy);
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
    o.m_postBodyWriteError = m_postBodyWriteError;  // that file is short: a copy sending it fails too
    o.m_requestHeaders = m_requestHeaders;
    o.m_callerSetAuthorization = m_callerSetAuthorization;
    o.m_requestCookies = m_requestCookies;
    o.m_useCookiePersistence = m_useCookiePersistence;
    o.m_useSessionPersistence = m_useSessionPersistence;
    o.m_allowCompressedResponse = m_allowCompressedResponse;
    o.m_maximumResponseDataSize = m_maximumResponseDataSize;
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
    o.m_clientCertificateIdentity = m_clientCertificateIdentity;
    o.m_clientCertificatePassphrase = m_clientCertificatePassphrase;
    o.m_clientCertificates = m_clientCertificates;
    o.m_shouldPresentAuthenticationDialog = m_shouldPresentAuthenticationDialog;
    o.m_shouldPresentProxyAuthenticationDialog = m_shouldPresentProxyAuthenticationDialog;
    o.m_shouldPresentCredentialsBeforeChallenge = m_shouldPresentCredentialsBeforeChallenge;
    o.m_numberOfTimesToRetryOnTimeout = m_numberOfTimesToRetryOnTimeout;
    o.m_shouldUseRFC2616RedirectBehaviour = m_shouldUseRFC2616RedirectBehaviour;
    o.m_shouldAttemptPersistentConnection = m_shouldAttemptPersistentConnection;
    o.m_callerAskedForPersistentConnection = m_callerAskedForPersistentConnection;
    o.m_persistentConnectionTimeoutSeconds = m_persistentConnectionTimeoutSeconds;
    o.m_authenticationScheme = m_authenticationScheme;
    o.m_didStartSelector = m_didStartSelector;
    o.m_didFinishSelector = m_didFinishSelector;
    o.m_didFailSelector = m_didFailSelector;
    o.m_uploadProgressDelegate = m_uploadProgressDelegate;
    o.m_downloadProgressDelegate = m_downloadProgressDelegate;
    o.m_shouldResetUploadProgress = m_shouldResetUploadProgress;
    o.m_shouldResetDownloadProgress = m_shouldResetDownloadProgress;
    // The body goes as the source sends it: compressed when it is. A
    // compressed body file is the source's own (it goes when the source
    // ends), so the copy makes its own and measures that.
    o.m_shouldCompressRequestBody = m_shouldCompressRequestBody;
    o.m_compressedPostBody = m_compressedPostBody;
    if (m_shouldCompressRequestBody && !m_postBodyFilePath.isEmpty()) {
        o.m_haveBuiltPostBody = false;
        o.m_postLength = 0;
    }
    o.m_useKeychainPersistence = m_useKeychainPersistence;
    o.m_proxyHost = m_proxyHost;
    o.m_proxyPort = m_proxyPort;
    o.m_proxyType = m_proxyType;
    o.m_PACurl = m_PACurl;
    o.m_proxyUsername = m_proxyUsername;
    o.m_proxyPassword = m_proxyPassword;
    o.m_proxyDomain = m_proxyDomain;
    o.m_temporaryFileDownloadPath = m_temporaryFileDownloadPath;
}

void NRHTTPRequest::forgetBuiltBody() {
    LOCKED;
    m_postBodyFilePath.clear();
    m_compressedPostBodyFilePath.clear();
    m_shouldStreamPostDataFromDisk = false;
    m_postLength = 0;
    m_haveBuiltPostBody = false;
    m_postBodyWriteError.reset();
}

std::shared_ptr<NRHTTPRequest> NRHTTPRequest::HEADRequest() const {
    auto head = std::make_shared<NRHTTPRequest>(url());
    fillHEADRequest(*head);
    return head;
}

void NRHTTPRequest::fillHEADRequest(NRHTTPRequest &head) const {
    LOCKED;
    head.m_requestMethod = QStringLiteral("HEAD");
    head.m_madeForMainRequest = true;
    head.m_mainRequest = std::const_pointer_cast<NRHTTPRequest>(
        std::static_pointer_cast<const NRHTTPRequest>(shared_from_this()));
    head.m_requestHeaders = m_requestHeaders;
    head.m_callerSetAuthorization = m_callerSetAuthorization;
    head.m_requestCookies = m_requestCookies;
    head.m_useCookiePersistence = m_useCookiePersistence;
    head.m_useKeychainPersistence = m_useKeychainPersistence;
    head.m_useSessionPersistence = m_useSessionPersistence;
    head.m_allowCompressedResponse = m_allowCompressedResponse;
    head.m_username = m_username;
    head.m_password = m_password;
    head.m_domain = m_domain;
    head.m_proxyUsername = m_proxyUsername;
    head.m_proxyPassword = m_proxyPassword;
    head.m_proxyDomain = m_proxyDomain;
    head.m_proxyHost = m_proxyHost;
    head.m_proxyPort = m_proxyPort;
    head.m_proxyType = m_proxyType;
    head.m_timeOutSeconds = m_timeOutSeconds;
    head.m_useHTTPVersionOne = m_useHTTPVersionOne;
    head.m_validatesSecureCertificate = m_validatesSecureCertificate;
    head.m_clientCertificateIdentity = m_clientCertificateIdentity;
    head.m_clientCertificatePassphrase = m_clientCertificatePassphrase;
    head.m_clientCertificates = m_clientCertificates;
    head.m_shouldPresentAuthenticationDialog = m_shouldPresentAuthenticationDialog;
    head.m_shouldPresentProxyAuthenticationDialog = m_shouldPresentProxyAuthenticationDialog;
    head.m_PACurl = m_PACurl;
    head.m_shouldPresentCredentialsBeforeChallenge = m_shouldPresentCredentialsBeforeChallenge;
    head.m_numberOfTimesToRetryOnTimeout = m_numberOfTimesToRetryOnTimeout;
    head.m_shouldUseRFC2616RedirectBehaviour = m_shouldUseRFC2616RedirectBehaviour;
    head.m_shouldAttemptPersistentConnection = m_shouldAttemptPersistentConnection;
    head.m_persistentConnectionTimeoutSeconds = m_persistentConnectionTimeoutSeconds;
}

void NRHTTPRequest::setClientCertificateIdentity(const QString &path, const QString &passphrase) {
    LOCKED;
    m_clientCertificateIdentity = path;
    m_clientCertificatePassphrase = passphrase;
}

QString NRHTTPRequest::clientCertificateIdentity() const { LOCKED; return m_clientCertificateIdentity; }

bool NRHTTPRequest::isPACFileRequest() const { LOCKED; return m_isPACFileRequest; }
void NRHTTPRequest::setIsPACFileRequest(bool on) { LOCKED; m_isPACFileRequest = on; }

QString NRHTTPRequest::base64forData(const QByteArray &data) { return QString::fromLatin1(data.toBase64()); }

QDateTime NRHTTPRequest::dateFromRFC1123String(const QString &text) { return NRDownloadCache::dateFromRFC1123String(text); }

QDateTime NRHTTPRequest::expiryDateForRequest(const NRHTTPRequest &request, double maxAge) {
    QVariantMap headers;
    const QMap<QString, QString> reply = request.responseHeaders();
    for (auto it = reply.begin(); it != reply.end(); ++it)
        headers.insert(it.key(), it.value());
    return NRDownloadCache::expiryDate(headers, maxAge);
}

// Network activity: the hooks do nothing unless set.
namespace {
struct ActivityHooks {
    std::mutex mutex;
    bool enabled = true;
    std::function<void()> show, hide;
};
ActivityHooks &activityHooks() {
    static auto *hooks = new ActivityHooks();
    return *hooks;
}
}  // namespace

std::atomic<bool> NRHTTPRequest::m_networkActivityHooks{false};

bool NRHTTPRequest::isNetworkInUse() { return NRNetworkThread::shared().transferCount() > 0; }

void NRHTTPRequest::setShouldUpdateNetworkActivityIndicator(bool on) {
    ActivityHooks &h = activityHooks();
    std::lock_guard lock(h.mutex);
    h.enabled = on;
    m_networkActivityHooks.store(on && (h.show || h.hide));
}

void NRHTTPRequest::setNetworkActivityHooks(std::function<void()> show, std::function<void()> hide) {
    ActivityHooks &h = activityHooks();
    std::lock_guard lock(h.mutex);
    h.show = std::move(show);
    h.hide = std::move(hide);
    m_networkActivityHooks.store(h.enabled && (h.show || h.hide));
}

void NRHTTPRequest::showNetworkActivityIndicator() {
    std::function<void()> show;
    {
        std::lock_guard lock(activityHooks().mutex);
        show = activityHooks().show;
    }
    if (show)
        show();
}

void NRHTTPRequest::hideNetworkActivityIndicator() {
    std::function<void()> hide;
    {
        std::lock_guard lock(activityHooks().mutex);
        hide = activityHooks().hide;
    }
    if (hide)
        hide();
}

// Half a second later, and only if nothing started meanwhile.
void NRHTTPRequest::hideNetworkActivityIndicatorAfterDelay() {
    QTimer::singleShot(500, [] {
        if (!isNetworkInUse())
            hideNetworkActivityIndicator();
    });
}
