// Connections: broken connections retried, time-outs, the periodic status tick.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Net/NRNetworkThread.h"

#include <curl/curl.h>

using namespace NRHTTPRequestInternal;

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
