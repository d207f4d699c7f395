#pragma once

#include <QString>

// The credentials an OAuth 1.0 request is signed with: the application's
// consumer key and secret, and the token and token secret of the user (or
// of the request token during the login). Empty token: only the consumer
// signs (the request-token step).
class OA1CredentialConcreteStore {
public:
    OA1CredentialConcreteStore() = default;
    OA1CredentialConcreteStore(QString consumerKey, QString consumerSecret, QString token = QString(),
                               QString tokenSecret = QString())
        : m_consumerKey(std::move(consumerKey)), m_consumerSecret(std::move(consumerSecret)),
          m_token(std::move(token)), m_tokenSecret(std::move(tokenSecret)) {}

    const QString &consumerKey() const { return m_consumerKey; }
    const QString &consumerSecret() const { return m_consumerSecret; }
    const QString &token() const { return m_token; }
    const QString &tokenSecret() const { return m_tokenSecret; }
    void setToken(const QString &token, const QString &tokenSecret) {
        m_token = token;
        m_tokenSecret = tokenSecret;
    }

    // "HMAC-SHA1": the one method this store signs with.
    static QString signatureMethod() { return QStringLiteral("HMAC-SHA1"); }

private:
    QString m_consumerKey;
    QString m_consumerSecret;
    QString m_token;
    QString m_tokenSecret;
};
