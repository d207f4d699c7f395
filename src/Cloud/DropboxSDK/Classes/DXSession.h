#pragma once

#include "OA1/OA1CredentialConcreteStore.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

class DXSession;

// Told when a request of a linked user was refused with HTTP status 401
// (never for a request of no linked user, such as a sign-in's).
class DXSessionDelegate {
public:
    virtual ~DXSessionDelegate() = default;
    virtual void sessionDidReceiveAuthorizationFailure(DXSession *session, const QString &userId) = 0;
};

// The Dropbox application's session: its consumer key and secret, the access
// root, and the access tokens of the users linked to this application, by
// user id. The tokens live in one item of the desktop keyring (service
// keychainService(), account = the application key) and the user default
// "DropboxLinked" says whether it is worth looking there; a session loads
// them when it is made. Thread-safe.
class DXSession {
public:
    DXSession(QString appKey, QString appSecret, QString root);

    // The process-wide session; null until setSharedSession().
    static std::shared_ptr<DXSession> sharedSession();
    static void setSharedSession(std::shared_ptr<DXSession> session);

    const QString &appKey() const { return m_appKey; }
    const QString &root() const { return m_root; }

    // Not retained: the session keeps a weak reference.
    void setDelegate(std::weak_ptr<DXSessionDelegate> delegate);

    bool isLinked() const;
    QStringList userIds() const;
    // The consumer's credentials with the user's token (no token when the
    // user is not linked); with an empty user id, the consumer's alone.
    OA1CredentialConcreteStore credentialStoreForUserId(const QString &userId) const;
    bool isUserLinked(const QString &userId) const;

    // Keeps the user's access token and saves every token to the keyring.
    // False (and the token kept for this run only) when the keyring refuses.
    bool updateAccessToken(const QString &token, const QString &secret, const QString &userId);
    void unlinkUserId(const QString &userId);
    // Forgets every linked user: the stores emptied, the keyring item and
    // "DropboxLinked" removed.
    void unlinkAll();

    // Sent by the client when a request of the user failed with status 401.
    void handleAuthorizationFailure(const QString &userId);

    static const QString &keychainService();
    static const QString &linkedDefaultsKey();  // "DropboxLinked"

private:
    struct Token {
        QString token;
        QString secret;
    };
    void loadFromKeychain();
    bool saveToKeychain(const QMap<QString, Token> &tokens);

    const QString m_appKey;
    const QString m_appSecret;
    const QString m_root;
    mutable std::mutex m_mutex;
    QMap<QString, Token> m_tokens;
    std::weak_ptr<DXSessionDelegate> m_delegate;
};
