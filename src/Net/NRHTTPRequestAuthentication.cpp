// Authentication: the Authorization header, challenges, credentials and asking for them.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Net/NRNetworkThread.h"
#include "Net/NRSessionCredentialStore.h"
#include "Platform/VNKeychain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>

using namespace NRHTTPRequestInternal;

void NRHTTPRequest::applyAuthorizationHeader() {
    if (m_ourAuthorization) {
        m_requestHeaders.remove(QStringLiteral("Authorization"));
        m_ourAuthorization = false;
    }
    m_ntlmCredentials.reset();
    applyProxyCredentialsBeforeChallenge();
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

// First found wins: the URL's, the main request's (for its HEAD request,
// while it is at the main request's origin), the request's own, the
// keychain's.
NRCredentialsPtr NRHTTPRequest::findCredentials() const {
    QString user = m_url.userName(), pass = m_url.password();
    if (user.isEmpty() || pass.isEmpty()) {
        if (const std::shared_ptr<NRHTTPRequest> main = m_mainRequest.lock()) {
            std::lock_guard<std::recursive_mutex> mainLock(main->m_mutex);
            if (sameOrigin(m_url, main->m_url)) {
                user = main->m_username;
                pass = main->m_password;
            }
        }
    }
    if (user.isEmpty() || pass.isEmpty()) {
        user = m_username;
        pass = m_password;
    }
    if ((user.isEmpty() || pass.isEmpty()) && m_useKeychainPersistence) {
        const int port = m_url.port(m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
        if (NRCredentialsPtr saved = savedCredentials(m_url.host(), port, m_url.scheme(), m_authenticationRealm)) {
            user = saved->username;
            pass = saved->password;
        }
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
    if (m_useKeychainPersistence) {
        const int port = m_url.port(m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
        saveCredentials(*credentials, m_url.host(), port, m_url.scheme(), authentication->realm());
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
        attemptToApplyProxyCredentialsAndResume();
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
    if (!takeCredentialTurn())
        return;  // comes back here when it is this request's turn
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
    onMain([](NRHTTPRequest &r) { r.askForCredentials(false); });
}

// On the main thread: the delegate's method, else the queue's (which asks
// its own delegate), else the block.
void NRHTTPRequest::askForCredentials(bool proxy) {
    const char *method = proxy ? "proxyAuthenticationNeededForRequest" : "authenticationNeededForRequest";
    const std::shared_ptr<NRRequestQueueListener> queue = m_queue.lock();
    if (delegateResponds(method, "NRHTTPRequest*"))
        QMetaObject::invokeMethod(m_delegate.data(), method, Qt::DirectConnection, Q_ARG(NRHTTPRequest *, this));
    else if (queue && !proxy && queue->respondsToAuthenticationNeeded())
        queue->authenticationNeededForRequest(this);
    else if (queue && proxy && queue->respondsToProxyAuthenticationNeeded())
        queue->proxyAuthenticationNeededForRequest(this);
    else if (const Block &block = proxy ? m_proxyAuthenticationNeededBlock : m_authenticationNeededBlock)
        block();
}

// The credential step once more, as after the challenge: the session
// store first, then what the request now holds, then asking again.
void NRHTTPRequest::retryUsingSuppliedCredentials() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (self->m_error || self->m_cancelled)
            return;
        if (self->m_waitingForProxyCredentials) {
            self->m_waitingForProxyCredentials = false;
            self->attemptToApplyProxyCredentialsAndResume();
        } else if (self->m_waitingForCredentials) {
            self->m_waitingForCredentials = false;
            self->attemptToApplyCredentialsAndResume();
        }
    });
}

void NRHTTPRequest::cancelAuthentication() {
    auto self = sharedSelf();
    NRNetworkThread::shared().post([self] {
        std::lock_guard<std::recursive_mutex> locker(self->m_mutex);
        if (!self->m_waitingForCredentials && !self->m_waitingForProxyCredentials)
            return;
        self->failWithError(makeError(AuthenticationErrorType, QStringLiteral("Authentication needed")));
    });
}

bool NRHTTPRequest::takeCredentialTurn() {
    CredentialTurn &turn = credentialTurn();
    std::lock_guard lock(turn.mutex);
    if (turn.holder == 0 || turn.holder == m_requestID) {
        turn.holder = m_requestID;
        return true;
    }
    m_waitingForCredentialTurn = true;
    m_lastActivity.invalidate();  // waiting for the turn never times out
    turn.waiting.push_back(sharedSelf());
    return false;
}

// Given back when the request starts again, fails, or is released.
void NRHTTPRequest::releaseCredentialTurn() {
    CredentialTurn &turn = credentialTurn();
    {
        std::lock_guard lock(turn.mutex);
        if (turn.holder != m_requestID)
            return;
        turn.holder = 0;
    }
    NRNetworkThread::shared().post([] { passCredentialTurn(); });
}

// Network thread: the next waiting request that is still waiting takes its
// turn and looks again.
void NRHTTPRequest::passCredentialTurn() {
    CredentialTurn &turn = credentialTurn();
    for (;;) {
        std::shared_ptr<NRHTTPRequest> next;
        {
            std::lock_guard lock(turn.mutex);
            if (turn.holder != 0 || turn.waiting.empty())
                return;
            next = turn.waiting.front().lock();
            turn.waiting.pop_front();
        }
        if (!next)
            continue;
        std::lock_guard<std::recursive_mutex> locker(next->m_mutex);
        if (!next->m_waitingForCredentialTurn || next->m_error || next->m_cancelled)
            continue;
        next->m_waitingForCredentialTurn = false;
        next->attemptToApplyCredentialsAndResume();
    }
}

void NRHTTPRequest::setUseKeychainPersistence(bool on) { LOCKED; m_useKeychainPersistence = on; }
bool NRHTTPRequest::useKeychainPersistence() const { LOCKED; return m_useKeychainPersistence; }

// Keychain items: one per protection space, the user name, password and
// domain together as the secret.
namespace {

const QString kKeychainService = QStringLiteral("Varnello HTTP credentials");

QString serverAccount(const QString &host, int port, const QString &protocol, const QString &realm) {
    return QStringLiteral("%1://%2:%3 realm=%4").arg(protocol.toLower(), host.toLower()).arg(port).arg(realm);
}

QString proxyAccount(const QString &host, int port, const QString &realm) {
    return QStringLiteral("proxy %1:%2 realm=%3").arg(host.toLower()).arg(port).arg(realm);
}

bool saveItem(const QString &account, const NRCredentials &c) {
    const QJsonObject secret{{QStringLiteral("user"), c.username}, {QStringLiteral("password"), c.password},
                             {QStringLiteral("domain"), c.domain}};
    return VNKeychain::setSecret(kKeychainService, account,
                                 QString::fromUtf8(QJsonDocument(secret).toJson(QJsonDocument::Compact)),
                                 QStringLiteral("Varnello: %1").arg(account));
}

NRCredentialsPtr savedItem(const QString &account) {
    const std::optional<QString> secret = VNKeychain::secret(kKeychainService, account);
    if (!secret)
        return nullptr;
    const QJsonObject o = QJsonDocument::fromJson(secret->toUtf8()).object();
    if (o.isEmpty())
        return nullptr;
    return std::make_shared<NRCredentials>(NRCredentials{o[QStringLiteral("user")].toString(),
                                                         o[QStringLiteral("password")].toString(),
                                                         o[QStringLiteral("domain")].toString()});
}

}  // namespace

bool NRHTTPRequest::saveCredentials(const NRCredentials &credentials, const QString &host, int port,
                                    const QString &protocol, const QString &realm) {
    return saveItem(serverAccount(host, port, protocol, realm), credentials);
}

bool NRHTTPRequest::saveCredentialsForProxy(const NRCredentials &credentials, const QString &host, int port,
                                            const QString &realm) {
    return saveItem(proxyAccount(host, port, realm), credentials);
}

NRCredentialsPtr NRHTTPRequest::savedCredentials(const QString &host, int port, const QString &protocol,
                                                 const QString &realm) {
    return savedItem(serverAccount(host, port, protocol, realm));
}

NRCredentialsPtr NRHTTPRequest::savedCredentialsForProxy(const QString &host, int port, const QString &realm) {
    return savedItem(proxyAccount(host, port, realm));
}

void NRHTTPRequest::removeCredentials(const QString &host, int port, const QString &protocol, const QString &realm) {
    VNKeychain::removeSecret(kKeychainService, serverAccount(host, port, protocol, realm));
}

void NRHTTPRequest::removeCredentialsForProxy(const QString &host, int port, const QString &realm) {
    VNKeychain::removeSecret(kKeychainService, proxyAccount(host, port, realm));
}
