#include "DA/HTTPFetcher/HFURLConnection.h"

#include "DA/HTTPFetcher/HFErrors.h"
#include "Net/NRHTTPRequestInternal.h"
#include "Net/NRNetworkThread.h"

#include <curl/curl.h>

#include <cstring>

namespace {

bool isRedirectStatus(int status) {
    // Not 308: data-API servers answer an unfinished upload with it.
    return status == 301 || status == 302 || status == 303 || status == 307;
}

// Upload progress goes out in steps of this size (and at the end).
constexpr qint64 kProgressStep = 256 * 1024;

}  // namespace

std::shared_ptr<HFURLConnection> HFURLConnection::start(const HFURLRequest &request,
                                                        std::shared_ptr<HFURLConnectionDelegate> delegate, HFRunLoop loop,
                                                        qint64 maximumBodyBytes) {
    std::shared_ptr<HFURLConnection> connection(
        new HFURLConnection(request, std::move(delegate), loop, maximumBodyBytes));
    NRNetworkThread::shared().post([connection] { connection->startTransfer(); });
    return connection;
}

HFURLConnection::HFURLConnection(const HFURLRequest &request, std::shared_ptr<HFURLConnectionDelegate> delegate,
                                 HFRunLoop loop, qint64 maximumBodyBytes)
    : m_request(request), m_delegate(std::move(delegate)), m_loop(loop), m_maximumBodyBytes(maximumBodyBytes) {}

HFURLConnection::~HFURLConnection() {
    // The last owner may be the network thread's transfer map; the handle is
    // gone by then (cleanupEasy runs before the transfer is released).
    curl_slist_free_all(m_headers);
    curl_slist_free_all(m_connectTo);
}

void HFURLConnection::cancel() {
    if (m_cancelled.exchange(true))
        return;
    auto self = shared_from_this();
    NRNetworkThread::shared().post([self] { self->cleanupEasy(); });
    m_loop.post([self] { self->finishDelegate(); });
}

void HFURLConnection::finishDelegate() { m_delegate.reset(); }

void HFURLConnection::deliver(std::function<void(HFURLConnectionDelegate &)> event) {
    auto self = shared_from_this();
    m_loop.post([self, event = std::move(event)] {
        if (self->m_cancelled.load() || !self->m_delegate)
            return;
        auto delegate = self->m_delegate;  // kept through the call
        event(*delegate);
    });
}

// ---------------------------------------------------------------------------
// Network thread

void HFURLConnection::startTransfer() {
    if (m_cancelled.load())
        return;
    m_status = 0;
    m_rawHeaderLines.clear();
    m_headersDone = false;
    m_discardBody = false;
    m_finalResponse.reset();
    m_body = m_request.httpBody();
    m_bodyOffset = 0;
    m_stream = m_body.isEmpty() ? m_request.httpBodyStream() : nullptr;
    m_reportedUpload = 0;
    m_readFailed = false;
    if (m_stream && m_stream->streamStatus() != HFInputStream::NotOpen) {
        // A body stream is read once: it cannot go again after a redirect.
        auto error = HFErrors::urlErrorForCurl(CURLE_READ_ERROR, QStringLiteral("the body stream was already read"));
        deliver([this, error](HFURLConnectionDelegate &d) { d.connectionDidFail(this, error); finishDelegate(); });
        return;
    }
    if (m_stream)
        m_stream->open();
    m_expectedUpload = m_stream ? m_stream->length() : m_body.size();

    m_easy = curl_easy_init();
    if (!m_easy || !configure(m_easy)) {
        cleanupEasy();
        auto error = HFErrors::urlErrorForCurl(CURLE_URL_MALFORMAT, QStringLiteral("the request could not be set up"));
        deliver([this, error](HFURLConnectionDelegate &d) { d.connectionDidFail(this, error); finishDelegate(); });
        return;
    }
    auto self = shared_from_this();
    NRNetworkThread::shared().addTransfer(m_easy, [self](CURL *easy, CURLcode result) { self->transferDone(easy, result); });
}

bool HFURLConnection::configure(CURL *easy) {
    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok &= curl_easy_setopt(easy, option, value) == CURLE_OK; };
    const QUrl url = m_request.url();
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    const QByteArray encoded = url.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    set(CURLOPT_URL, encoded.constData());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    set(CURLOPT_ERRORBUFFER, m_errorBuffer);
    m_errorBuffer[0] = 0;
    set(CURLOPT_HEADERFUNCTION, &HFURLConnection::headerCallback);
    set(CURLOPT_HEADERDATA, static_cast<void *>(this));
    set(CURLOPT_WRITEFUNCTION, &HFURLConnection::writeCallback);
    set(CURLOPT_WRITEDATA, static_cast<void *>(this));
    // libcurl makes these anew per transfer, and one past the allocator's
    // 128 KiB threshold is mapped and faulted in afresh each time: most
    // calls are small, so the large send buffer only for a streamed body.
    set(CURLOPT_BUFFERSIZE, 65536L);
    if (m_stream)
        set(CURLOPT_UPLOAD_BUFFERSIZE, 262144L);
    set(CURLOPT_XFERINFOFUNCTION, &HFURLConnection::progressCallback);
    set(CURLOPT_XFERINFODATA, static_cast<void *>(this));
    set(CURLOPT_NOPROGRESS, 0L);
    // The request engine's transfers take these connections over: their
    // sockets are numbered, and forgotten when they close, whoever closes them.
    ok &= NRConnectionNumbers::numberSockets(easy, &m_connectionAttempt);
    m_connectionFound = false;
    // The time-out is an idle time: no byte either way for that long.
    const long idle = long(m_request.timeoutInterval() > 0 ? m_request.timeoutInterval() : 60.0);
    set(CURLOPT_CONNECTTIMEOUT, idle);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, idle);
    // TLS as the request engine sets it up, with its test seam (a test CA
    // and test host names mapped to loopback).
    QString caFile;
    QStringList loopbackHosts;
    {
        auto &shared = NRHTTPRequestInternal::classState();
        std::lock_guard lock(shared.mutex);
        caFile = shared.certificateAuthorityFile;
        loopbackHosts = shared.loopbackHosts;
    }
    if (scheme == QLatin1String("https")) {
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!caFile.isEmpty())
            set(CURLOPT_CAINFO, caFile.toLocal8Bit().constData());
    }
    curl_slist_free_all(m_connectTo);
    m_connectTo = nullptr;
    for (const QString &host : loopbackHosts)
        m_connectTo = curl_slist_append(m_connectTo, (host + QStringLiteral("::127.0.0.1:")).toUtf8().constData());
    if (m_connectTo)
        set(CURLOPT_CONNECT_TO, m_connectTo);

    const QString method = m_request.httpMethod();
    const bool hasBody = !m_body.isEmpty() || m_stream;
    if (method == QLatin1String("HEAD")) {
        set(CURLOPT_NOBODY, 1L);
    } else if (hasBody || method == QLatin1String("POST") || method == QLatin1String("PUT") ||
               method == QLatin1String("PATCH")) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(hasBody ? m_expectedUpload : 0));
        set(CURLOPT_READFUNCTION, &HFURLConnection::readCallback);
        set(CURLOPT_READDATA, static_cast<void *>(this));
        if (method != QLatin1String("POST"))
            set(CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    } else if (method != QLatin1String("GET")) {
        set(CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    }

    curl_slist_free_all(m_headers);
    m_headers = nullptr;
    bool hasContentType = false;
    for (const auto &[name, value] : m_request.allHTTPHeaderFields()) {
        if (!HFURLRequest::isSafeHeaderText(name) || !HFURLRequest::isSafeHeaderText(value))
            return false;
        if (name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
            continue;  // libcurl measures the body
        hasContentType |= name.compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0;
        const QByteArray line = value.isEmpty() ? name.toLatin1() + ";" : name.toLatin1() + ": " + value.toUtf8();
        m_headers = curl_slist_append(m_headers, line.constData());
    }
    if (!hasContentType)
        m_headers = curl_slist_append(m_headers, "Content-Type:");
    m_headers = curl_slist_append(m_headers, "Expect:");
    set(CURLOPT_HTTPHEADER, m_headers);

    if (m_credential) {
        set(m_credentialIsProxy ? CURLOPT_PROXYAUTH : CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        set(m_credentialIsProxy ? CURLOPT_PROXYUSERNAME : CURLOPT_USERNAME, m_credential->user.toUtf8().constData());
        set(m_credentialIsProxy ? CURLOPT_PROXYPASSWORD : CURLOPT_PASSWORD, m_credential->password.toUtf8().constData());
    }
    return ok;
}

void HFURLConnection::cleanupEasy() {
    if (!m_easy)
        return;
    CURL *easy = m_easy;
    m_easy = nullptr;
    auto keep = shared_from_this();  // the transfer map may hold the last reference
    NRNetworkThread::shared().removeTransfer(easy);
    curl_easy_cleanup(easy);
    if (m_stream)
        m_stream->close();
}

size_t HFURLConnection::headerCallback(char *data, size_t size, size_t count, void *self) {
    return static_cast<HFURLConnection *>(self)->onHeader(data, size * count);
}

size_t HFURLConnection::writeCallback(char *data, size_t size, size_t count, void *self) {
    return static_cast<HFURLConnection *>(self)->onData(data, size * count);
}

size_t HFURLConnection::readCallback(char *data, size_t size, size_t count, void *self) {
    return static_cast<HFURLConnection *>(self)->onRead(data, size * count);
}

int HFURLConnection::progressCallback(void *self, long long, long long, long long, long long ulnow) {
    auto *c = static_cast<HFURLConnection *>(self);
    if (c->m_cancelled.load())
        return 1;
    c->onProgress(ulnow);
    return 0;
}

size_t HFURLConnection::onHeader(const char *data, size_t length) {
    if (m_cancelled.load())
        return 0;
    const QByteArrayView line(data, qsizetype(length));
    const QByteArrayView trimmed = line.trimmed();
    if (line.startsWith("HTTP/")) {
        if (!m_connectionFound) {
            // Known by its ends from now, should a request take it over; the
            // sockets of the connect that lost are forgotten.
            m_connectionFound = true;
            NRConnectionNumbers::shared().connectionInUse(m_easy, &m_connectionAttempt);
        }
        m_rawHeaderLines.clear();
        m_headersDone = false;
        const qsizetype space = trimmed.indexOf(' ');
        int code = 0;
        for (qsizetype i = space + 1; space > 0 && i < trimmed.size() && code < 1000; ++i) {
            if (trimmed[i] < '0' || trimmed[i] > '9')
                break;
            code = code * 10 + (trimmed[i] - '0');
        }
        m_status = code;
        return length;
    }
    if (trimmed.isEmpty()) {
        if (m_status >= 100 && m_status < 200)
            return length;  // interim reply
        m_headersDone = true;
        auto response = makeResponse();
        m_finalResponse = response;
        const bool redirect = isRedirectStatus(m_status) && !response->valueForHeaderField(QStringLiteral("Location")).isEmpty();
        const bool challenge =
            (m_status == 401 && !response->valueForHeaderField(QStringLiteral("Www-Authenticate")).isEmpty()) ||
            (m_status == 407 && !response->valueForHeaderField(QStringLiteral("Proxy-Authenticate")).isEmpty());
        m_discardBody = redirect || challenge;
        if (!m_discardBody)
            deliver([this, response](HFURLConnectionDelegate &d) { d.connectionDidReceiveResponse(this, response); });
        return length;
    }
    if ((line.startsWith(' ') || line.startsWith('\t')) && !m_rawHeaderLines.isEmpty()) {
        m_rawHeaderLines.last() += ' ' + trimmed.toByteArray();
        return length;
    }
    m_rawHeaderLines.append(trimmed.toByteArray());
    return length;
}

HFURLResponsePtr HFURLConnection::makeResponse() const {
    return HFURLResponse::fromHeaderLines(m_request.url(), m_status, m_rawHeaderLines);
}

size_t HFURLConnection::onData(const char *data, size_t length) {
    if (m_cancelled.load())
        return 0;
    if (m_discardBody || length == 0)
        return length;
    if (m_maximumBodyBytes > 0 && m_bodyBytesDelivered > m_maximumBodyBytes)
        return 0;  // the delegate already has more than it keeps
    m_bodyBytesDelivered += qint64(length);
    QByteArray piece(data, qsizetype(length));
    deliver([this, piece](HFURLConnectionDelegate &d) { d.connectionDidReceiveData(this, piece); });
    return length;
}

size_t HFURLConnection::onRead(char *buffer, size_t length) {
    if (m_cancelled.load())
        return CURL_READFUNC_ABORT;
    if (m_stream) {
        const qint64 n = m_stream->read(buffer, qint64(length));
        if (n < 0) {
            m_readFailed = true;
            return CURL_READFUNC_ABORT;
        }
        return size_t(n);
    }
    const qint64 n = std::min<qint64>(qint64(length), m_body.size() - m_bodyOffset);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, m_body.constData() + m_bodyOffset, size_t(n));
    m_bodyOffset += n;
    return size_t(n);
}

void HFURLConnection::onProgress(qint64 uploaded) {
    if (uploaded <= m_reportedUpload)
        return;
    if (uploaded - m_reportedUpload < kProgressStep && uploaded != m_expectedUpload)
        return;
    const qint64 step = uploaded - m_reportedUpload;
    m_reportedUpload = uploaded;
    const qint64 expected = m_expectedUpload;
    deliver([this, step, uploaded, expected](HFURLConnectionDelegate &d) {
        d.connectionDidSendBodyData(this, step, uploaded, expected);
    });
}

void HFURLConnection::transferDone(CURL *easy, int result) {
    if (easy != m_easy)
        return;
    const QString detail = QString::fromUtf8(m_errorBuffer);
    cleanupEasy();
    if (m_cancelled.load())
        return;
    if (result != CURLE_OK) {
        const auto error = HFErrors::urlErrorForCurl(m_readFailed ? CURLE_READ_ERROR : result, detail);
        deliver([this, error](HFURLConnectionDelegate &d) { d.connectionDidFail(this, error); finishDelegate(); });
        return;
    }
    auto response = m_finalResponse;
    if (!response) {
        auto error = HFErrors::urlErrorForCurl(CURLE_WEIRD_SERVER_REPLY, QStringLiteral("no HTTP response"));
        deliver([this, error](HFURLConnectionDelegate &d) { d.connectionDidFail(this, error); finishDelegate(); });
        return;
    }
    if (m_discardBody && isRedirectStatus(response->statusCode())) {
        const QUrl target = m_request.url().resolved(QUrl(response->valueForHeaderField(QStringLiteral("Location"))));
        auto self = shared_from_this();
        m_loop.post([self, response, target] {
            if (!self->m_cancelled.load() && self->m_delegate)
                self->answerRedirect(response, target);
        });
        return;
    }
    if (m_discardBody) {
        auto self = shared_from_this();
        m_loop.post([self, response] {
            if (!self->m_cancelled.load() && self->m_delegate)
                self->answerChallenge(response);
        });
        return;
    }
    deliver([this](HFURLConnectionDelegate &d) { d.connectionDidFinishLoading(this); finishDelegate(); });
}

// ---------------------------------------------------------------------------
// Delegate's loop

void HFURLConnection::answerRedirect(const HFURLResponsePtr &response, const QUrl &target) {
    auto delegate = m_delegate;
    const QString scheme = target.scheme().toLower();
    VNErrorPtr error;
    if (++m_redirects > maximumRedirects)
        error = HFErrors::urlErrorForCurl(CURLE_TOO_MANY_REDIRECTS, {});
    else if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        error = HFErrors::urlErrorForCurl(CURLE_UNSUPPORTED_PROTOCOL, QStringLiteral("redirect to a scheme other than http or https"));
    if (error) {
        delegate->connectionDidFail(this, error);
        finishDelegate();
        return;
    }
    HFURLRequest proposed = m_request;
    proposed.setURL(target);
    auto next = delegate->connectionWillSendRequest(this, proposed, response);
    if (m_cancelled.load())
        return;
    if (!next) {
        // Not followed: the redirect reply is the answer.
        delegate->connectionDidReceiveResponse(this, response);
        if (!m_cancelled.load())
            delegate->connectionDidFinishLoading(this);
        finishDelegate();
        return;
    }
    m_request = *next;
    m_credential.reset();
    m_challengeFailures = 0;
    auto self = shared_from_this();
    NRNetworkThread::shared().post([self] { self->startTransfer(); });
}

void HFURLConnection::answerChallenge(const HFURLResponsePtr &response) {
    auto delegate = m_delegate;
    HFAuthenticationChallenge challenge;
    challenge.previousFailureCount = m_challengeFailures;
    challenge.isProxy = response->statusCode() == 407;
    const QString offer = response->valueForHeaderField(challenge.isProxy ? QStringLiteral("Proxy-Authenticate")
                                                                            : QStringLiteral("Www-Authenticate"));
    challenge.authenticationMethod = offer.section(QLatin1Char(' '), 0, 0);
    challenge.failureResponse = response;
    auto credential = delegate->connectionDidReceiveChallenge(this, challenge);
    if (m_cancelled.load())
        return;
    if (!credential) {
        finishDelegate();
        return;
    }
    m_credential = credential;
    m_credentialIsProxy = challenge.isProxy;
    ++m_challengeFailures;
    auto self = shared_from_this();
    NRNetworkThread::shared().post([self] { self->startTransfer(); });
}
