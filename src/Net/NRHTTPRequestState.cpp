// The request's state read and set field by field, under the request's lock.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

QUrl NRHTTPRequest::redirectURL() const { LOCKED; return m_redirectURL; }
void NRHTTPRequest::setRedirectURL(const QUrl &url) { LOCKED; m_redirectURL = url; }
void NRHTTPRequest::setOriginalURL(const QUrl &url) { LOCKED; m_originalURL = url; }
bool NRHTTPRequest::needsRedirect() const { LOCKED; return m_needsRedirect; }
void NRHTTPRequest::setNeedsRedirect(bool on) { LOCKED; m_needsRedirect = on; }
void NRHTTPRequest::setRedirectCount(int count) { LOCKED; m_redirectCount = count; }
bool NRHTTPRequest::downloadComplete() const { LOCKED; return m_downloadComplete; }
void NRHTTPRequest::setDownloadComplete(bool on) { LOCKED; m_downloadComplete = on; }
void NRHTTPRequest::setComplete(bool on) { LOCKED; m_complete = on; }
void NRHTTPRequest::setInProgress(bool on) { LOCKED; m_inProgress = on; }

// The main thread's callbacks read the failed mark without the lock.
void NRHTTPRequest::setError(const VNErrorPtr &error) {
    LOCKED;
    m_error = error;
    m_failed.store(bool(error));
}

void NRHTTPRequest::setResponseStatusCode(int code) { LOCKED; m_responseStatusCode = code; }
void NRHTTPRequest::setResponseStatusMessage(const QString &message) { LOCKED; m_responseStatusMessage = message; }
void NRHTTPRequest::setResponseHeaders(const QMap<QString, QString> &headers) { LOCKED; m_responseHeaders = headers; }
void NRHTTPRequest::setResponseCookies(const QList<QNetworkCookie> &cookies) { LOCKED; m_responseCookies = cookies; }
void NRHTTPRequest::setResponseEncoding(const QByteArray &name) { LOCKED; m_responseEncoding = name; }
void NRHTTPRequest::setContentLength(quint64 length) { LOCKED; m_contentLength = length; }
void NRHTTPRequest::setPartialDownloadSize(quint64 size) { LOCKED; m_partialDownloadSize = size; }
void NRHTTPRequest::setPostLength(qint64 length) { LOCKED; m_postLength = length; }
void NRHTTPRequest::setTotalBytesRead(quint64 bytes) { LOCKED; m_totalBytesRead = bytes; }
void NRHTTPRequest::setTotalBytesSent(quint64 bytes) { LOCKED; m_totalBytesSent = bytes; }
quint64 NRHTTPRequest::lastBytesRead() const { LOCKED; return m_lastBytesRead; }
void NRHTTPRequest::setLastBytesRead(quint64 bytes) { LOCKED; m_lastBytesRead = bytes; }
quint64 NRHTTPRequest::lastBytesSent() const { LOCKED; return m_lastBytesSent; }
void NRHTTPRequest::setLastBytesSent(quint64 bytes) { LOCKED; m_lastBytesSent = bytes; }
quint64 NRHTTPRequest::uploadBufferSize() const { LOCKED; return m_uploadBufferSize; }
void NRHTTPRequest::setUploadBufferSize(quint64 bytes) { LOCKED; m_uploadBufferSize = bytes; }
bool NRHTTPRequest::updatedProgress() const { LOCKED; return m_updatedProgress; }
void NRHTTPRequest::setUpdatedProgress(bool on) { LOCKED; m_updatedProgress = on; }

QDateTime NRHTTPRequest::lastActivityTime() const {
    LOCKED;
    if (!m_lastActivity.isValid())
        return QDateTime();
    return QDateTime::currentDateTimeUtc().addMSecs(-m_lastActivity.elapsed());
}

void NRHTTPRequest::setRetryCount(int count) { LOCKED; m_retryCount = count; }
void NRHTTPRequest::setDidUseCachedResponse(bool on) { LOCKED; m_didUseCachedResponse = on; }
QByteArray NRHTTPRequest::compressedPostBody() const { LOCKED; return m_compressedPostBody; }
void NRHTTPRequest::setCompressedPostBody(const QByteArray &body) { LOCKED; m_compressedPostBody = body; }
QString NRHTTPRequest::compressedPostBodyFilePath() const { LOCKED; return m_compressedPostBodyFilePath; }
void NRHTTPRequest::setCompressedPostBodyFilePath(const QString &path) { LOCKED; m_compressedPostBodyFilePath = path; }
bool NRHTTPRequest::didCreateTemporaryPostDataFile() const { LOCKED; return m_didCreateTemporaryPostDataFile; }
void NRHTTPRequest::setDidCreateTemporaryPostDataFile(bool on) { LOCKED; m_didCreateTemporaryPostDataFile = on; }
bool NRHTTPRequest::haveBuiltPostBody() const { LOCKED; return m_haveBuiltPostBody; }
void NRHTTPRequest::setHaveBuiltPostBody(bool on) { LOCKED; m_haveBuiltPostBody = on; }
bool NRHTTPRequest::haveBuiltRequestHeaders() const { LOCKED; return m_haveBuiltRequestHeaders; }
void NRHTTPRequest::setHaveBuiltRequestHeaders(bool on) { LOCKED; m_haveBuiltRequestHeaders = on; }
QString NRHTTPRequest::temporaryUncompressedDataDownloadPath() const { LOCKED; return m_temporaryUncompressedDataDownloadPath; }
void NRHTTPRequest::setTemporaryUncompressedDataDownloadPath(const QString &path) {
    LOCKED;
    m_temporaryUncompressedDataDownloadPath = path;
}

int NRHTTPRequest::authenticationNeeded() const { LOCKED; return m_authenticationNeeded; }
void NRHTTPRequest::setAuthenticationNeeded(int who) { LOCKED; m_authenticationNeeded = who; }
NRCredentialsPtr NRHTTPRequest::requestCredentials() const { LOCKED; return m_requestCredentials; }
void NRHTTPRequest::setRequestCredentials(const NRCredentialsPtr &c) { LOCKED; m_requestCredentials = c; }
NRCredentialsPtr NRHTTPRequest::proxyCredentials() const { LOCKED; return m_proxyCredentials; }
void NRHTTPRequest::setProxyCredentials(const NRCredentialsPtr &c) { LOCKED; m_proxyCredentials = c; }
void NRHTTPRequest::setAuthenticationScheme(const QString &scheme) { LOCKED; m_authenticationScheme = scheme; }
void NRHTTPRequest::setAuthenticationRealm(const QString &realm) { LOCKED; m_authenticationRealm = realm; }
void NRHTTPRequest::setAuthenticationRetryCount(int count) { LOCKED; m_authenticationRetryCount = count; }
void NRHTTPRequest::setProxyAuthenticationScheme(const QString &scheme) { LOCKED; m_proxyAuthenticationScheme = scheme; }
void NRHTTPRequest::setProxyAuthenticationRealm(const QString &realm) { LOCKED; m_proxyAuthenticationRealm = realm; }
void NRHTTPRequest::setProxyAuthenticationRetryCount(int count) { LOCKED; m_proxyAuthenticationRetryCount = count; }
bool NRHTTPRequest::shouldPresentAuthenticationDialog() const { LOCKED; return m_shouldPresentAuthenticationDialog; }
void NRHTTPRequest::setShouldPresentAuthenticationDialog(bool on) { LOCKED; m_shouldPresentAuthenticationDialog = on; }
bool NRHTTPRequest::shouldPresentProxyAuthenticationDialog() const { LOCKED; return m_shouldPresentProxyAuthenticationDialog; }
void NRHTTPRequest::setShouldPresentProxyAuthenticationDialog(bool on) {
    LOCKED;
    m_shouldPresentProxyAuthenticationDialog = on;
}
QStringList NRHTTPRequest::clientCertificates() const { LOCKED; return m_clientCertificates; }
void NRHTTPRequest::setClientCertificates(const QStringList &paths) { LOCKED; m_clientCertificates = paths; }

void NRHTTPRequest::setMainRequest(const std::shared_ptr<NRHTTPRequest> &main) {
    LOCKED;
    m_mainRequest = main;
    m_madeForMainRequest = bool(main);
}

void NRHTTPRequest::setSynchronous(bool on) { LOCKED; m_isSynchronous = on; }
std::shared_ptr<NRHTTPRequest> NRHTTPRequest::PACFileRequest() const { LOCKED; return m_PACFileRequest; }
