#pragma once

#include "Net/NRCredentials.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <memory>
#include <mutex>

// One server challenge (a "WWW-Authenticate" offer) and what it takes to
// answer it. Basic and Digest answers are made here; NTLM needs several
// messages on one connection and is handed to libcurl, so for it this object
// only records that the server asked for it.
class NRHTTPAuthentication {
public:
    static const QString &basicScheme();   // "Basic"
    static const QString &digestScheme();  // "Digest"
    static const QString &ntlmScheme();    // "NTLM"

    // The strongest challenge we can answer among the given header values
    // (each value may hold several challenges): Digest, then NTLM, then
    // Basic. Null when none of them is offered.
    static std::shared_ptr<NRHTTPAuthentication> fromChallenges(const QList<QByteArray> &headerValues);

    // Parses one header value into (scheme, parameters) pairs; parameter
    // names are lower-cased, quoted values unquoted. Also used by tests.
    struct Challenge {
        QString scheme;
        QMap<QString, QString> params;
        QByteArray token68;  // NTLM and Negotiate carry a bare token
    };
    static QList<Challenge> parseChallenges(const QByteArray &headerValue);

    const QString &scheme() const { return m_scheme; }
    // The realm, or a null text when the scheme has none (NTLM).
    QString realm() const;
    bool requiresAccountDomain() const { return m_scheme == ntlmScheme(); }
    // Digest: the server says the nonce went stale; the credentials were
    // right and may be sent again with the new nonce.
    bool isStale() const;
    // Handled by libcurl within one attempt.
    bool isConnectionBased() const { return m_scheme == ntlmScheme(); }

    // The "Authorization" value for a request (method and request-target,
    // the path with its query). Empty for NTLM. Digest counts its nonce uses.
    QByteArray authorizationHeader(const NRCredentials &credentials, const QString &method,
                                   const QByteArray &requestTarget);

    static QByteArray basicAuthorization(const QString &username, const QString &password);

private:
    NRHTTPAuthentication(QString scheme, QMap<QString, QString> params);
    QByteArray digestAuthorization(const NRCredentials &credentials, const QString &method,
                                   const QByteArray &requestTarget);

    QString m_scheme;
    QMap<QString, QString> m_params;
    std::mutex m_mutex;  // the nonce counter: one authentication serves many requests
    quint32 m_nonceCount = 0;
};

using NRHTTPAuthenticationPtr = std::shared_ptr<NRHTTPAuthentication>;
