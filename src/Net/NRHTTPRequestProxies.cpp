// Proxies: explicit settings, the environment, auto-configuration scripts,
// and answering a proxy's challenge (407) with the proxy's own credentials.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Net/NRNetworkThread.h"
#include "Net/NRProxyScript.h"
#include "Net/NRSessionCredentialStore.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QMetaMethod>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>

#include <curl/curl.h>

using namespace NRHTTPRequestInternal;

namespace {

const QString kNoProxyInformation = QStringLiteral("Unable to obtain information on proxy servers needed for request");
const QString kNoProxyScript = QStringLiteral("the proxy script could not be read or fetched: %1");

// An environment variable, the lower-case spelling first.
QString environment(const char *name) {
    QByteArray value = qgetenv(name);
    if (value.isEmpty()) {
        char upper[32] = {};  // the names asked for are short: no copy on the heap per request
        for (size_t i = 0; name[i] && i + 1 < sizeof upper; ++i)
            upper[i] = char(std::toupper(static_cast<unsigned char>(name[i])));
        value = qgetenv(upper);
    }
    return QString::fromLocal8Bit(value).trimmed();
}

// Whether no_proxy names the URL's host: "*", a host, a domain (with or
// without a leading dot) matching it and its subdomains, optionally with
// a port.
bool bypassesProxy(const QUrl &url, const QString &noProxy) {
    const QString host = url.host().toLower();
    const int port = url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    for (QString entry : noProxy.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
        entry = entry.toLower();
        if (entry == QLatin1String("*"))
            return true;
        const int colon = entry.lastIndexOf(QLatin1Char(':'));
        if (colon > 0 && entry.count(QLatin1Char(':')) == 1) {
            if (entry.mid(colon + 1).toInt() != port)
                continue;
            entry = entry.left(colon);
        }
        if (entry.startsWith(QLatin1Char('.')))
            entry = entry.mid(1);
        if (host == entry || host.endsWith(QLatin1Char('.') + entry))
            return true;
    }
    return false;
}

}  // namespace

// The type names live to the end of the process (the network thread, never
// joined, compares with them).
const QString &NRHTTPRequest::proxyTypeHTTP() {
    static const auto *type = new QString(QStringLiteral("HTTP"));
    return *type;
}

const QString &NRHTTPRequest::proxyTypeHTTPS() {
    static const auto *type = new QString(QStringLiteral("HTTPS"));
    return *type;
}

const QString &NRHTTPRequest::proxyTypeSOCKS() {
    static const auto *type = new QString(QStringLiteral("SOCKS"));
    return *type;
}

const QString &NRHTTPRequest::proxyTypeSOCKS4() {
    static const auto *type = new QString(QStringLiteral("SOCKS4"));
    return *type;
}

long NRHTTPRequest::curlProxyType() const {
    if (m_proxyType == proxyTypeSOCKS())
        return CURLPROXY_SOCKS5_HOSTNAME;
    if (m_proxyType == proxyTypeSOCKS4())
        return CURLPROXY_SOCKS4;
    if (m_proxyType == proxyTypeHTTPS())
        return CURLPROXY_HTTPS;
    return CURLPROXY_HTTP;
}

void NRHTTPRequest::setProxyHost(const QString &host) { LOCKED; m_proxyHost = host; }
QString NRHTTPRequest::proxyHost() const { LOCKED; return m_proxyHost; }
void NRHTTPRequest::setProxyPort(int port) { LOCKED; m_proxyPort = port; }
int NRHTTPRequest::proxyPort() const { LOCKED; return m_proxyPort; }
void NRHTTPRequest::setProxyType(const QString &type) { LOCKED; m_proxyType = type; }
QString NRHTTPRequest::proxyType() const { LOCKED; return m_proxyType; }
void NRHTTPRequest::setPACurl(const QUrl &url) { LOCKED; m_PACurl = url; }
QUrl NRHTTPRequest::PACurl() const { LOCKED; return m_PACurl; }
void NRHTTPRequest::setProxyUsername(const QString &u) { LOCKED; m_proxyUsername = u; }
void NRHTTPRequest::setProxyPassword(const QString &p) { LOCKED; m_proxyPassword = p; }
void NRHTTPRequest::setProxyDomain(const QString &d) { LOCKED; m_proxyDomain = d; }
QString NRHTTPRequest::proxyUsername() const { LOCKED; return m_proxyUsername; }
QString NRHTTPRequest::proxyAuthenticationScheme() const { LOCKED; return m_proxyAuthenticationScheme; }
QString NRHTTPRequest::proxyAuthenticationRealm() const { LOCKED; return m_proxyAuthenticationRealm; }
int NRHTTPRequest::proxyAuthenticationRetryCount() const { LOCKED; return m_proxyAuthenticationRetryCount; }
void NRHTTPRequest::setProxyAuthenticationNeededBlock(Block b) { m_proxyAuthenticationNeededBlock = std::move(b); }

// Decides the proxy before the first attempt; false while a script is being
// fetched or run (the attempt starts when it has answered) or when the
// request failed.
bool NRHTTPRequest::configureProxies() {
    if (m_isPACFileRequest || m_proxiesChosen || !m_proxyHost.isEmpty() || m_proxyPort)
        return true;
    if (m_PACurl.isValid()) {
        if (m_PACScript.isNull())
            fetchPACFile();
        else
            evaluatePACScript();
        return false;
    }
    m_proxiesChosen = true;
    const bool https = m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QString value = environment(https ? "https_proxy" : "http_proxy");
    if (value.isEmpty())
        value = environment("all_proxy");
    if (value.isEmpty() || bypassesProxy(m_url, environment("no_proxy")))
        return true;
    if (!value.contains(QLatin1String("://")))
        value.prepend(QLatin1String("http://"));
    const QUrl proxy(value);
    const QString scheme = proxy.scheme().toLower();
    QString type;
    if (scheme == QLatin1String("http"))
        type = proxyTypeHTTP();
    else if (scheme == QLatin1String("https"))
        type = proxyTypeHTTPS();
    else if (scheme == QLatin1String("socks4") || scheme == QLatin1String("socks4a"))
        type = proxyTypeSOCKS4();
    else if (scheme == QLatin1String("socks") || scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h"))
        type = proxyTypeSOCKS();
    if (!proxy.isValid() || proxy.host().isEmpty() || type.isEmpty()) {
        failWithError(makeError(InternalErrorWhileBuildingRequestType, kNoProxyInformation));
        return false;
    }
    m_proxyHost = proxy.host();
    m_proxyPort = proxy.port(type == proxyTypeHTTPS() ? 443 : 1080);
    m_proxyType = type;
    // Credentials in the proxy's URL are meant for it from the start: a
    // SOCKS proxy never asks with a 407.
    if (!m_proxyCredentials && !proxy.userName().isEmpty())
        m_proxyCredentials = std::make_shared<NRCredentials>(
            NRCredentials{proxy.userName(QUrl::FullyDecoded), proxy.password(QUrl::FullyDecoded), QString()});
    return true;
}

// A redirect's URL may want another proxy (or none): a proxy this request
// chose itself is chosen again; one its caller set stays.
void NRHTTPRequest::forgetChosenProxy() {
    if (!m_proxiesChosen)
        return;
    m_proxiesChosen = false;
    m_proxyHost.clear();
    m_proxyPort = 0;
    m_proxyType.clear();
    m_proxyCandidates.clear();
    m_proxyCredentials.reset();  // they belong to the proxy left behind
    m_proxyAuthentication.reset();
    m_proxyAuthenticationScheme.clear();
    m_proxyAuthenticationRealm.clear();
}

void NRHTTPRequest::fetchPACFile() {
    const QUrl script = m_PACurl;
    const QString scheme = script.scheme().toLower();
    if (scheme == QLatin1String("file")) {
        readPACFile(script.toLocalFile());
        return;
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        m_proxiesChosen = true;  // nothing to fetch it with: direct
        applyAuthorizationHeader();
        startRequest();
        return;
    }
    // The script comes by a request of its own, outside the shared queue (a
    // full queue of requests waiting for scripts would never move), ending
    // here on the network thread.
    auto fetch = NRHTTPRequest::requestWithURL(script);
    fetch->m_isPACFileRequest = true;
    fetch->m_timeOutSeconds = m_timeOutSeconds;
    fetch->m_maximumResponseDataSize = quint64(NRProxyScript::maximumScriptSize);
    fetch->m_validatesSecureCertificate = m_validatesSecureCertificate;
    fetch->m_wantsStarted = fetch->m_wantsHeaders = fetch->m_wantsRedirected = false;
    fetch->m_wantsUploadProgress = fetch->m_wantsDownloadProgress = false;
    std::weak_ptr<NRHTTPRequest> weakSelf = sharedSelf();
    fetch->m_networkThreadDone = [weakSelf](NRHTTPRequest &done) {
        auto self = weakSelf.lock();
        if (!self)
            return;
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (self->m_PACFileRequest.get() != &done)
            return;  // cancelled meanwhile
        self->m_PACFileRequest.reset();
        if (self->m_error || self->m_cancelled)
            return;
        if (done.error() || done.responseStatusCode() >= 400) {
            const QString why = done.error() ? done.error()->localizedDescription() : done.responseStatusMessage();
            self->useScriptAnswer({}, makeError(InternalErrorWhileBuildingRequestType, kNoProxyScript.arg(why)));
            return;
        }
        self->runPACScript(done.responseData());
    };
    m_PACFileRequest = fetch;
    m_lastActivity.invalidate();
    fetch->m_enqueued.store(true);
    NRNetworkThread::shared().post([fetch] { fetch->startOnNetworkThread(false); });
}

// A script file is read on a background thread, so that a file that is
// slow to read (a hung mount) holds back no other transfer: its answer comes
// back to the network thread. The read has the request's time-out; one that
// outlasts it leaves the request direct, and its late answer is dropped.
// Requests that want the file while it is being read wait for that read,
// so a file that never answers holds one thread, not one per request.
void NRHTTPRequest::readPACFile(const QString &path) {
    const quint64 turn = startScriptTurn();
    std::weak_ptr<NRHTTPRequest> weakSelf = sharedSelf();
    const auto answer = [weakSelf, turn](const QByteArray &script, const VNErrorPtr &why) {
        auto self = weakSelf.lock();
        if (!self)
            return;
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (!self->takeScriptAnswer(turn))
            return;
        if (why)
            self->useScriptAnswer({}, makeError(InternalErrorWhileBuildingRequestType,
                                                kNoProxyScript.arg(why->localizedDescription())));
        else
            self->runPACScript(script);
    };
    auto listener = std::make_shared<NRProxyScript::FileReadListener>(
        [answer](const QByteArray &script, const VNErrorPtr &why) {
            NRNetworkThread::shared().post([answer, script, why] { answer(script, why); });
        });
    NRProxyScript::readScriptFileInBackground(path, listener);
    // The time-out holds the listener: once it has passed, the read forgets
    // this request.
    NRNetworkThread::shared().postAfter(std::max(1.0, m_timeOutSeconds), [answer, listener] {
        answer({}, VNError::withDescription(QStringLiteral("NRProxyScriptErrorDomain"), 1,
                                            QStringLiteral("The proxy script file took too long to read")));
    });
}

// The script has its own time limit: waiting for its answer never times
// the transfer out.
quint64 NRHTTPRequest::startScriptTurn() {
    m_lastActivity.invalidate();
    return ++m_PACEvaluation;
}

bool NRHTTPRequest::takeScriptAnswer(quint64 turn) {
    if (m_PACEvaluation != turn || m_error || m_cancelled)
        return false;
    ++m_PACEvaluation;  // answered: whatever comes later for this turn is dropped
    return true;
}

// Keeps the script (a redirect runs it again) and runs it for this URL.
void NRHTTPRequest::runPACScript(const QByteArray &script) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    m_PACScript = utf8.decode(script);
    if (utf8.hasError())
        m_PACScript = QString::fromLatin1(script);
    if (m_PACScript.isNull())
        m_PACScript = QLatin1String("");
    evaluatePACScript();
}

// The script runs on a background thread (it may wait for name look-ups up
// to its time limit); its answer comes back to the network thread, so other
// transfers never wait for it. Should a name look-up of the script outlast
// the limit, the request does not wait for it either: it goes direct, and
// the late answer is dropped.
void NRHTTPRequest::evaluatePACScript() {
    const quint64 turn = startScriptTurn();
    std::weak_ptr<NRHTTPRequest> weakSelf = sharedSelf();
    const QString script = m_PACScript;
    const QUrl url = m_url;
    const double limit = std::max(1.0, m_timeOutSeconds);
    const auto answer = [weakSelf, turn](const QStringList &entries, const VNErrorPtr &why) {
        auto self = weakSelf.lock();
        if (!self)
            return;
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (self->takeScriptAnswer(turn))
            self->useScriptAnswer(entries, why);
    };
    VNDispatch::globalAsync([answer, script, url, limit] {
        VNErrorPtr why;
        const QStringList entries = NRProxyScript::proxiesForURL(script, url, limit, &why);
        NRNetworkThread::shared().post([answer, entries, why] { answer(entries, why); });
    });
    NRNetworkThread::shared().postAfter(limit + 1.0, [answer] {
        answer({}, VNError::withDescription(QStringLiteral("NRProxyScriptErrorDomain"), 1,
                                            QStringLiteral("The proxy script ran too long")));
    });
}

// The script's first answer is used, the others are tried in turn when a
// proxy cannot be reached. A script that cannot be read or fetched, fails
// or answers nothing usable leaves the request direct.
void NRHTTPRequest::useScriptAnswer(const QStringList &entries, const VNErrorPtr &why) {
    if (entries.isEmpty())
        VNLog::log(QStringLiteral("NRHTTPRequest: no proxy from the script, going direct (%1)")
                       .arg(why ? why->localizedDescription() : QStringLiteral("no answer")));
    m_proxiesChosen = true;
    m_proxyCandidates = entries.mid(1);
    useProxyEntry(entries.isEmpty() ? QStringLiteral("DIRECT") : entries.first());
    applyAuthorizationHeader();
    startRequest();
}

void NRHTTPRequest::useProxyEntry(const QString &entry) {
    m_proxyHost.clear();
    m_proxyPort = 0;
    m_proxyType.clear();
    const QStringList words = entry.split(QLatin1Char(' '));
    if (words.size() != 2)
        return;  // DIRECT
    const int colon = words[1].lastIndexOf(QLatin1Char(':'));
    m_proxyHost = words[1].left(colon);
    if (m_proxyHost.startsWith(QLatin1Char('[')))
        m_proxyHost = m_proxyHost.mid(1, m_proxyHost.size() - 2);
    m_proxyPort = words[1].mid(colon + 1).toInt();
    if (words[0] == QLatin1String("SOCKS"))
        m_proxyType = proxyTypeSOCKS();
    else if (words[0] == QLatin1String("SOCKS4"))
        m_proxyType = proxyTypeSOCKS4();
    else if (words[0] == QLatin1String("HTTPS"))
        m_proxyType = proxyTypeHTTPS();
    else
        m_proxyType = proxyTypeHTTP();
}

// A proxy the script chose cannot be reached: the script's next choice.
bool NRHTTPRequest::failOverToNextProxy(int curlCode) {
    if (m_proxyCandidates.isEmpty() || m_proxyHost.isEmpty())
        return false;
    if (curlCode != CURLE_COULDNT_CONNECT && curlCode != CURLE_COULDNT_RESOLVE_PROXY && curlCode != CURLE_PROXY &&
        curlCode != CURLE_OPERATION_TIMEDOUT)
        return false;
    useProxyEntry(m_proxyCandidates.takeFirst());
    // Credentials answered the proxy left behind: the next one asks for its own.
    m_proxyCredentials.reset();
    m_proxyAuthenticationScheme.clear();
    m_proxyAuthenticationRealm.clear();
    applyProxyCredentialsBeforeChallenge();
    destroyTransfer();
    m_freshConnection = true;
    startRequest();
    return true;
}

// Before any challenge (each new proxy): the credentials the session keeps
// for this proxy. A SOCKS proxy never asks for them with a 407, so it gets
// the request's own proxy credentials first, and the keychain's last (only
// with keychain persistence on: the keyring is not asked, on the network
// thread, for every request through a SOCKS proxy that wants none).
void NRHTTPRequest::applyProxyCredentialsBeforeChallenge() {
    if (m_proxyHost.isEmpty() || m_proxyPort <= 0 || m_proxyCredentials)
        return;
    const bool socks = m_proxyType == proxyTypeSOCKS() || m_proxyType == proxyTypeSOCKS4();
    if (socks && !m_proxyUsername.isEmpty() && !m_proxyPassword.isEmpty()) {
        m_proxyCredentials = findProxyCredentials();
        m_proxyCredentialsFromSession = false;
        return;
    }
    NRSessionCredentialEntry entry;
    if (m_useSessionPersistence && (socks || m_shouldPresentCredentialsBeforeChallenge) &&
        NRSessionCredentialStore::sharedProxy().find(NRSessionCredentialStore::proxyKey(m_proxyHost, m_proxyPort),
                                                     QString(), QString(), QString(), &entry)) {
        m_proxyCredentials = entry.credentials;
        m_proxyCredentialsFromSession = true;
        m_proxyAuthenticationScheme = entry.scheme;
        return;
    }
    if (socks && m_useKeychainPersistence) {
        m_proxyCredentials = findProxyCredentials();
        m_proxyCredentialsFromSession = false;
    }
}

// The proxy's credentials, first found wins: the main request's proxy
// credentials (for its HEAD request), the request's own, its server
// credentials for an NTLM proxy, the keychain.
NRCredentialsPtr NRHTTPRequest::findProxyCredentials() const {
    QString user, pass;
    if (const std::shared_ptr<NRHTTPRequest> main = m_mainRequest.lock()) {
        std::lock_guard<std::recursive_mutex> mainLock(main->m_mutex);
        user = main->m_proxyUsername;
        pass = main->m_proxyPassword;
    }
    if (user.isEmpty() || pass.isEmpty()) {
        user = m_proxyUsername;
        pass = m_proxyPassword;
    }
    if ((user.isEmpty() || pass.isEmpty()) && m_proxyAuthenticationScheme == NRHTTPAuthentication::ntlmScheme()) {
        user = m_username;
        pass = m_password;
    }
    if (user.isEmpty() || pass.isEmpty()) {
        if (NRCredentialsPtr saved = savedCredentialsForProxy(m_proxyHost, m_proxyPort, m_proxyAuthenticationRealm)) {
            user = saved->username;
            pass = saved->password;
        }
    }
    if (user.isEmpty() || pass.isEmpty())
        return nullptr;
    QString domain = m_proxyDomain;
    const int slash = user.indexOf(QLatin1Char('\\'));
    if (domain.isEmpty() && slash > 0) {
        domain = user.left(slash);
        user = user.mid(slash + 1);
    } else if (domain.isEmpty()) {
        domain = m_domain;
    }
    return std::make_shared<NRCredentials>(NRCredentials{user, pass, domain});
}

// Hands the credentials to libcurl for the proxy's challenge (nothing
// without the challenge or the credentials); each try counts.
bool NRHTTPRequest::applyProxyCredentials(const NRHTTPAuthenticationPtr &authentication,
                                          const NRCredentialsPtr &credentials, bool fromSession) {
    ++m_proxyAuthenticationRetryCount;
    if (!authentication || !credentials)
        return false;
    m_proxyAuthentication = authentication;
    m_proxyCredentials = credentials;
    m_proxyCredentialsFromSession = fromSession;
    if (m_useSessionPersistence) {
        NRSessionCredentialEntry entry;
        entry.authentication = authentication;
        entry.credentials = credentials;
        entry.url = NRSessionCredentialStore::proxyKey(m_proxyHost, m_proxyPort);
        entry.scheme = m_proxyAuthenticationScheme;
        NRSessionCredentialStore::sharedProxy().store(entry);
    }
    if (m_useKeychainPersistence)
        saveCredentialsForProxy(*credentials, m_proxyHost, m_proxyPort, m_proxyAuthenticationRealm);
    return true;
}

// libcurl reads the reply of a refused tunnel itself (it is no reply of the
// server) and tells only which schemes its challenge offered: the
// challenge is made from those (libcurl answers it; no realm is known).
void NRHTTPRequest::readTunnelChallenge() {
    m_rawHeaders.clear();
    long offered = 0;
    if (!m_easy || curl_easy_getinfo(m_easy, CURLINFO_PROXYAUTH_AVAIL, &offered) != CURLE_OK)
        return;
    if (offered & CURLAUTH_DIGEST)
        m_rawHeaders.append({QByteArrayLiteral("Proxy-Authenticate"), QByteArrayLiteral("Digest realm=\"\", nonce=\"\"")});
    if (offered & CURLAUTH_NTLM)
        m_rawHeaders.append({QByteArrayLiteral("Proxy-Authenticate"), QByteArrayLiteral("NTLM")});
    if (offered & CURLAUTH_BASIC)
        m_rawHeaders.append({QByteArrayLiteral("Proxy-Authenticate"), QByteArrayLiteral("Basic realm=\"\"")});
}

void NRHTTPRequest::askDelegateForProxyCredentials() {
    m_waitingForProxyCredentials = true;
    m_lastActivity.invalidate();  // waiting for an answer never times out
    onMain([](NRHTTPRequest &r) { r.askForCredentials(true); });
}

// After a 407 (or a refused tunnel): the proxy's credentials, or the
// delegate, or code 3. libcurl answers the challenge itself with them and
// sends them to the proxy only. Like a server's challenge, one request at a
// time looks for credentials or asks for them, so that requests meeting the
// same proxy at once ask once and then find the answer in the session.
void NRHTTPRequest::attemptToApplyProxyCredentialsAndResume() {
    if (m_error || m_cancelled)
        return;
    m_authenticationNeeded = 2;  // a request given its turn later comes back here
    QList<QByteArray> challenges;
    for (const auto &[name, value] : m_rawHeaders)
        if (qstricmp(name.constData(), "Proxy-Authenticate") == 0)
            challenges.append(value);
    const NRHTTPAuthenticationPtr authentication = NRHTTPAuthentication::fromChallenges(challenges);
    if (!authentication) {
        failWithError(makeError(InternalErrorWhileApplyingCredentialsType,
                                QStringLiteral("Failed to get authentication object from response headers")));
        return;
    }
    m_proxyAuthenticationScheme = authentication->scheme();
    m_proxyAuthenticationRealm = authentication->realm();
    if (m_proxyAuthenticationRetryCount >= kMaximumAuthenticationApplications) {
        failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
        return;
    }
    if (!takeCredentialTurn())
        return;  // comes back here when it is this request's turn
    m_proxyAuthentication = authentication;
    if (m_proxyCredentials) {
        // Sent and refused.
        NRSessionCredentialStore::sharedProxy().remove(m_proxyCredentials);
        const bool fromSession = m_proxyCredentialsFromSession;
        m_proxyCredentials.reset();
        if (!fromSession) {
            if (m_canAskForProxyCredentials) {
                askDelegateForProxyCredentials();
                return;
            }
            failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
            return;
        }
    }
    NRCredentialsPtr credentials;
    bool fromSession = false;
    if (m_useSessionPersistence) {
        NRSessionCredentialEntry entry;
        if (NRSessionCredentialStore::sharedProxy().find(NRSessionCredentialStore::proxyKey(m_proxyHost, m_proxyPort),
                                                         QString(), QString(), QString(), &entry)) {
            credentials = entry.credentials;
            fromSession = true;
        }
    }
    if (!credentials)
        credentials = findProxyCredentials();
    if (credentials) {
        if (applyProxyCredentials(authentication, credentials, fromSession)) {
            startRequest();
            return;
        }
        failWithError(makeError(InternalErrorWhileApplyingCredentialsType,
                                QStringLiteral("Failed to apply proxy credentials to request")));
        return;
    }
    if (m_canAskForProxyCredentials) {
        askDelegateForProxyCredentials();
        return;
    }
    failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
}
