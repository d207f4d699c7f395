#pragma once

#include "OA1CredentialConcreteStore.h"
#include "OA1URLRequestParameter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

// Signs one HTTP request with OAuth 1.0 (RFC 5849, HMAC-SHA1): collects the
// protocol parameters, builds the signature base string from the method,
// the base string URI and every query, form-body and protocol parameter,
// and gives the Authorization header. The nonce and timestamp are fresh
// unless set (tests set them).
class OA1URLRequest {
public:
    OA1URLRequest(QString method, QUrl url, OA1CredentialConcreteStore credentials);

    // Parameters of an application/x-www-form-urlencoded body (signed too).
    void setFormParameters(const QList<OA1URLRequestParameter> &parameters) { m_form = parameters; }
    // Extra protocol parameters (oauth_callback, oauth_verifier ...).
    void addProtocolParameter(const QString &name, const QString &value) { m_extra.append({name, value}); }
    void setNonce(const QString &nonce) { m_nonce = nonce; }
    void setTimestamp(const QString &timestamp) { m_timestamp = timestamp; }
    // Leave oauth_version out (some examples do); on by default.
    void setIncludesVersion(bool on) { m_includesVersion = on; }
    // The realm of the Authorization header; none by default.
    void setRealm(const QString &realm) { m_realm = realm; }

    // The oauth_ parameters, oauth_signature not among them.
    QList<OA1URLRequestParameter> protocolParameters() const;
    // "scheme://host[:port]/path": lower-case scheme and host (ACE form, an
    // IPv6 address in brackets), default port left out.
    static QString baseStringURI(const QUrl &url);
    // METHOD&uri&parameters, each part encoded.
    QString signatureBaseString() const;
    // Base64 of HMAC-SHA1(base string) keyed with the encoded consumer and token secrets.
    QString signature() const;
    // "OAuth realm=..., oauth_...=\"...\", ..." with the signature.
    QString authorizationHeader() const;

private:
    void ensureNonceAndTimestamp() const;

    QString m_method;
    QUrl m_url;
    OA1CredentialConcreteStore m_credentials;
    QList<OA1URLRequestParameter> m_form;
    QList<OA1URLRequestParameter> m_extra;
    mutable QString m_nonce;
    mutable QString m_timestamp;
    QString m_realm;
    bool m_includesVersion = true;
};
