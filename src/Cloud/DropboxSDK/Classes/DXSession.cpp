#include "DXSession.h"

#include "Formats/DXJsonExtensions.h"
#include "Platform/VNKeychain.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<DXSession> g_shared;

}  // namespace

const QString &DXSession::keychainService() {
    static const QString service = QStringLiteral("Varnello Dropbox");
    return service;
}

const QString &DXSession::linkedDefaultsKey() {
    static const QString key = QStringLiteral("DropboxLinked");
    return key;
}

DXSession::DXSession(QString appKey, QString appSecret, QString root)
    : m_appKey(std::move(appKey)), m_appSecret(std::move(appSecret)), m_root(std::move(root)) {
    loadFromKeychain();
}

std::shared_ptr<DXSession> DXSession::sharedSession() {
    std::lock_guard lock(g_sharedMutex);
    return g_shared;
}

void DXSession::setSharedSession(std::shared_ptr<DXSession> session) {
    std::shared_ptr<DXSession> previous;
    std::lock_guard lock(g_sharedMutex);
    previous = std::exchange(g_shared, std::move(session));
}

void DXSession::setDelegate(std::weak_ptr<DXSessionDelegate> delegate) {
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
}

bool DXSession::isLinked() const {
    std::lock_guard lock(m_mutex);
    return !m_tokens.isEmpty();
}

QStringList DXSession::userIds() const {
    std::lock_guard lock(m_mutex);
    return m_tokens.keys();
}

bool DXSession::isUserLinked(const QString &userId) const {
    std::lock_guard lock(m_mutex);
    return m_tokens.contains(userId);
}

OA1CredentialConcreteStore DXSession::credentialStoreForUserId(const QString &userId) const {
    std::lock_guard lock(m_mutex);
    OA1CredentialConcreteStore store(m_appKey, m_appSecret);
    const auto it = m_tokens.constFind(userId);
    if (!userId.isEmpty() && it != m_tokens.constEnd())
        store.setToken(it->token, it->secret);
    return store;
}

bool DXSession::updateAccessToken(const QString &token, const QString &secret, const QString &userId) {
    QMap<QString, Token> tokens;
    {
        std::lock_guard lock(m_mutex);
        m_tokens.insert(userId, {token, secret});
        tokens = m_tokens;
    }
    return saveToKeychain(tokens);
}

void DXSession::unlinkUserId(const QString &userId) {
    QMap<QString, Token> tokens;
    {
        std::lock_guard lock(m_mutex);
        m_tokens.remove(userId);
        tokens = m_tokens;
    }
    saveToKeychain(tokens);
}

void DXSession::unlinkAll() {
    {
        std::lock_guard lock(m_mutex);
        m_tokens.clear();
    }
    saveToKeychain({});
}

void DXSession::handleAuthorizationFailure(const QString &userId) {
    std::shared_ptr<DXSessionDelegate> delegate;
    {
        std::lock_guard lock(m_mutex);
        // Only a linked account's own request tells about its token: a
        // refusal while a new account signs in concerns no linked one.
        if (userId.isEmpty() || !m_tokens.contains(userId))
            return;
        delegate = m_delegate.lock();
    }
    if (delegate)
        delegate->sessionDidReceiveAuthorizationFailure(this, userId);
}

// The item holds {"<user id>": {"token": ..., "secret": ...}, ...}.
void DXSession::loadFromKeychain() {
    if (!VNUserDefaults::standard().boolForKey(linkedDefaultsKey()))
        return;
    VNErrorPtr error;
    const std::optional<QString> text = VNKeychain::secret(keychainService(), m_appKey, &error);
    if (!text) {
        if (error)
            VNLog::log(QStringLiteral("DXSession could not read the keyring: %1").arg(error->localizedDescription()));
        return;
    }
    const DXJsonValue stored = JSONValue(*text);
    std::lock_guard lock(m_mutex);
    for (const auto &member : stored.toObject()) {
        const QString token = member.value[QStringLiteral("token")].toString();
        const QString secret = member.value[QStringLiteral("secret")].toString();
        if (!member.key.isEmpty() && !token.isEmpty() && !secret.isEmpty())
            m_tokens.insert(member.key, {token, secret});
    }
}

bool DXSession::saveToKeychain(const QMap<QString, Token> &tokens) {
    VNUserDefaults &defaults = VNUserDefaults::standard();
    VNErrorPtr error;
    bool saved = true;
    if (tokens.isEmpty()) {
        // Nothing was saved unless the flag says so: the keyring is left alone.
        if (!defaults.boolForKey(linkedDefaultsKey()))
            return true;
        saved = VNKeychain::removeSecret(keychainService(), m_appKey, &error);
        defaults.removeObject(linkedDefaultsKey());
    } else {
        DXJsonObject object;
        for (auto it = tokens.constBegin(); it != tokens.constEnd(); ++it)
            object.insert(it.key(), DXJsonObject{{QStringLiteral("token"), it->token},
                                                 {QStringLiteral("secret"), it->secret}});
        saved = VNKeychain::setSecret(keychainService(), m_appKey, JSONRepresentation(DXJsonValue(object)),
                                      QStringLiteral("Varnello: Dropbox accounts"), &error);
        if (saved)
            defaults.setBool(true, linkedDefaultsKey());
    }
    defaults.synchronize();
    if (!saved)
        VNLog::log(QStringLiteral("DXSession could not save to the keyring: %1").arg(error->localizedDescription()));
    return saved;
}
