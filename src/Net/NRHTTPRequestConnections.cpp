// Connections: broken connections retried, time-outs, the periodic status tick.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Net/NRBandwidthThrottle.h"
#include "Net/NRConnectionNumbers.h"
#include "Net/NRNetworkThread.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QStringBuilder>

#include <curl/curl.h>

#include <map>

using namespace NRHTTPRequestInternal;

namespace {

// What the last reply of a server allowed: the pool record of its
// connection (scheme, host, explicit port or 0). Network thread only.
struct ConnectionTerms {
    bool reusable = false;
    QDeadlineTimer expires;
};

std::map<QString, ConnectionTerms> &connectionPool() {
    static auto *pool = new std::map<QString, ConnectionTerms>();
    return *pool;
}

// A URL without a port is the one naming its scheme's port: one server.
QString poolKey(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : 0;
    return scheme + QLatin1String("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(url.port(defaultPort));
}

// "timeout=5, max=100": the number after the name, 0 when missing.
int keepAliveValue(const QString &header, const QString &name) {
    const QRegularExpression re(QStringLiteral("\\b%1\\s*=\\s*(\\d+)").arg(name), QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(header);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

}  // namespace

// Each attempt: whether it may take a kept-alive connection. Not when
// persistent connections are off, when the server's last reply did not
// allow it or its time is up, for the retry after a dead connection, and
// never for a request that is not idempotent (a kept connection may turn
// out dead after the request reached the server, and such a request is
// never sent twice).
bool NRHTTPRequest::choosePersistentConnection(CURL *easy) {
    bool ok = true;
    auto set = [&](CURLoption option, long value) { ok &= curl_easy_setopt(easy, option, value) == CURLE_OK; };
    if (m_url.host().isEmpty() || m_url.scheme().isEmpty())
        m_shouldAttemptPersistentConnection = false;
    set(CURLOPT_MAXAGE_CONN, long(std::max(1.0, m_persistentConnectionTimeoutSeconds)));
    m_connectionPoolKey.clear();
    m_connectionInUse = 0;
    ok &= NRConnectionNumbers::numberSockets(easy, &m_connectionAttempt);
    if (!m_shouldAttemptPersistentConnection) {
        set(CURLOPT_FRESH_CONNECT, 1L);
        set(CURLOPT_FORBID_REUSE, 1L);
        return ok;
    }
    bool fresh = m_freshConnection || (!isIdempotent() && !m_callerAskedForPersistentConnection);
    m_connectionPoolKey = poolKey(m_url);  // made once per attempt: the reply's steps use it too
    const auto record = connectionPool().find(m_connectionPoolKey);
    if (record != connectionPool().end()) {
        if (!record->second.reusable || record->second.expires.hasExpired()) {
            fresh = true;
            connectionPool().erase(record);
        } else {
            set(CURLOPT_MAXAGE_CONN, long(std::max<qint64>(1, record->second.expires.remainingTime() / 1000)));
        }
    }
    if (fresh)
        set(CURLOPT_FRESH_CONNECT, 1L);
    return ok;
}

// Reading the headers: whether the server lets the connection be kept, and
// for how long. HTTP/1.1 (or "keep-alive") without "close"; a Keep-Alive
// header must leave more than 5 requests ("max=") and gives the time-out.
void NRHTTPRequest::readKeepAliveTerms() {
    if (!m_shouldAttemptPersistentConnection)
        return;
    const QString connection = responseHeader(QStringLiteral("Connection")).toLower();
    const bool oneZero = m_statusLine.startsWith("HTTP/1.0");
    bool reusable = (!oneZero || connection.contains(QLatin1String("keep-alive"))) && !connection.contains(QLatin1String("close"));
    const QString keepAlive = responseHeader(QStringLiteral("Keep-Alive"));
    if (reusable && !keepAlive.isNull()) {
        const int timeout = keepAliveValue(keepAlive, QStringLiteral("timeout"));
        reusable = keepAliveValue(keepAlive, QStringLiteral("max")) >= 6;
        if (reusable)
            m_persistentConnectionTimeoutSeconds = timeout;
    }
    if (m_connectionPoolKey.isEmpty())
        m_connectionPoolKey = poolKey(m_url);
    ConnectionTerms &terms = connectionPool()[m_connectionPoolKey];
    terms.reusable = reusable;
    terms.expires = QDeadlineTimer(qint64(m_persistentConnectionTimeoutSeconds * 1000));
    if (!reusable && m_easy)
        curl_easy_setopt(m_easy, CURLOPT_FORBID_REUSE, 1L);  // closed when this reply ends
}

void NRHTTPRequest::connectionReplyEnded(CURL *easy) {
    if (m_shouldAttemptPersistentConnection && !m_connectionPoolKey.isEmpty()) {
        // Idle from now: a slow reply does not use up its connection's time.
        const auto record = connectionPool().find(m_connectionPoolKey);
        if (record != connectionPool().end())
            record->second.expires = QDeadlineTimer(qint64(m_persistentConnectionTimeoutSeconds * 1000));
    }
    // Known since the reply began; a kept connection is still found now.
    m_connectionID = m_connectionInUse ? m_connectionInUse
                                       : NRConnectionNumbers::shared().connectionInUse(easy, &m_connectionAttempt);
}

// The reply begins: the number of the connection it comes on, while that
// connection is surely open (one the server closes after the reply is gone
// by its end).
void NRHTTPRequest::noteConnectionInUse() {
    if (!m_connectionInUse && m_easy)
        m_connectionInUse = NRConnectionNumbers::shared().connectionInUse(m_easy, &m_connectionAttempt);
}

// Methods that change nothing more when sent twice. The list lives to the
// end of the process: the network thread, never joined, reads it.
bool NRHTTPRequest::isIdempotent() const {
    static const auto *methods = new QStringList{QStringLiteral("GET"),     QStringLiteral("HEAD"),
                                                 QStringLiteral("PUT"),     QStringLiteral("DELETE"),
                                                 QStringLiteral("OPTIONS"), QStringLiteral("PROPFIND"),
                                                 QStringLiteral("TRACE")};
    return methods->contains(m_requestMethod);
}

void NRHTTPRequest::handleStreamError(int curlCode) {
    if (m_error) {
        cancelLoad();
        return;
    }
    long connectCode = 0;
    curl_easy_getinfo(m_easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (connectCode == 407) {
        // The proxy refused to open a tunnel without (other) credentials.
        readTunnelChallenge();
        destroyTransfer();
        m_responseStatusCode = 407;
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    if (failOverToNextProxy(curlCode))
        return;
    if (isBrokenConnection(curlCode) && m_retryCount == 0 && m_totalBytesRead == 0 && isIdempotent()) {
        // A kept-alive connection the server closed meanwhile: once more on
        // a new connection. Never for a request that may have changed
        // something on the server already.
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

void NRHTTPRequest::statusTick() {
    LOCKED;
    if (m_cancelled || m_complete || !m_easy) {
        if (!m_inProgress)
            NRNetworkThread::shared().removeTicking(this);
        return;
    }
    NRBandwidthThrottle::shared().measureBandwidthUsage();
    if (shouldTimeOut()) {
        // Body bytes already handed to data callbacks cannot be taken back:
        // such a request is not sent again (its taker would get them twice).
        const bool delivered = m_deliverData && m_bodyBytesInflated > 0;
        if (m_numberOfTimesToRetryOnTimeout > m_retryCount && !delivered) {
            ++m_retryCount;
            destroyTransfer();
            m_freshConnection = true;
            // The rest is asked for only of the version the first part came
            // from: a changed resource is answered whole (200), and the file
            // starts again.
            const QString validator = rangeValidator();
            updatePartialDownloadSize();
            if (m_partialDownloadSize) {
                m_requestHeaders.insert(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(m_partialDownloadSize));
                if (!validator.isEmpty())
                    m_requestHeaders.insert(QStringLiteral("If-Range"), validator);
            }
            startRequest();
            return;
        }
        failWithError(makeError(RequestTimedOutErrorType, QStringLiteral("The request timed out")));
        return;
    }
    if (m_postLength > 0) {
        curl_off_t uploaded = 0;
        curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
        takeBytesSent(quint64(uploaded));
    }
    updateProgressIndicators();
}

// What names the version of the reply being read: its strong ETag, else
// its Last-Modified date (a weak ETag may not be used for a range).
QString NRHTTPRequest::rangeValidator() const {
    const QString etag = responseHeader(QStringLiteral("ETag")).trimmed();
    if (!etag.isEmpty() && !etag.startsWith(QLatin1String("W/")))
        return etag;
    return responseHeader(QStringLiteral("Last-Modified")).trimmed();
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

void NRHTTPRequest::setMaxBandwidthPerSecond(quint64 bytes) { NRBandwidthThrottle::shared().setMaxBandwidthPerSecond(bytes); }
quint64 NRHTTPRequest::maxBandwidthPerSecond() { return NRBandwidthThrottle::shared().maxBandwidthPerSecond(); }
bool NRHTTPRequest::isBandwidthThrottled() { return NRBandwidthThrottle::shared().isThrottled(); }
quint64 NRHTTPRequest::averageBandwidthUsedPerSecond() { return NRBandwidthThrottle::shared().averageBandwidthUsedPerSecond(); }
void NRHTTPRequest::incrementBandwidthUsedInLastSecond(quint64 bytes) {
    NRBandwidthThrottle::shared().incrementBandwidthUsedInLastSecond(bytes);
}
