#include "OA1URLRequest.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QStringList>
#include <QUuid>

OA1URLRequest::OA1URLRequest(QString method, QUrl url, OA1CredentialConcreteStore credentials)
    : m_method(std::move(method)), m_url(std::move(url)), m_credentials(std::move(credentials)) {}

void OA1URLRequest::ensureNonceAndTimestamp() const {
    if (m_nonce.isEmpty())
        m_nonce = QUuid::createUuid().toString(QUuid::Id128);
    if (m_timestamp.isEmpty())
        m_timestamp = QString::number(QDateTime::currentSecsSinceEpoch());
}

QList<OA1URLRequestParameter> OA1URLRequest::protocolParameters() const {
    ensureNonceAndTimestamp();
    QList<OA1URLRequestParameter> p;
    p.append({QStringLiteral("oauth_consumer_key"), m_credentials.consumerKey()});
    if (!m_credentials.token().isEmpty())
        p.append({QStringLiteral("oauth_token"), m_credentials.token()});
    p.append({QStringLiteral("oauth_signature_method"), OA1CredentialConcreteStore::signatureMethod()});
    p.append({QStringLiteral("oauth_timestamp"), m_timestamp});
    p.append({QStringLiteral("oauth_nonce"), m_nonce});
    if (m_includesVersion)
        p.append({QStringLiteral("oauth_version"), QStringLiteral("1.0")});
    p.append(m_extra);
    return p;
}

QString OA1URLRequest::baseStringURI(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    // The host as the Host header carries it: an internationalised name in
    // its ACE form, an IPv6 address in brackets.
    QString host = url.host(QUrl::EncodeUnicode).toLower();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    QString uri = scheme + QStringLiteral("://") + host;
    const int port = url.port();
    if (port != -1 && !(scheme == QLatin1String("http") && port == 80) &&
        !(scheme == QLatin1String("https") && port == 443))
        uri += QLatin1Char(':') + QString::number(port);
    const QString path = url.path(QUrl::FullyEncoded);
    return uri + (path.isEmpty() ? QStringLiteral("/") : path);
}

QString OA1URLRequest::signatureBaseString() const {
    QList<OA1URLRequestParameter> all =
        OA1URLRequestParameter::parametersFromString(m_url.query(QUrl::FullyEncoded));
    all.append(m_form);
    all.append(protocolParameters());
    return OA1URLRequestParameter::encode(m_method.toUpper()) + QLatin1Char('&') +
           OA1URLRequestParameter::encode(baseStringURI(m_url)) + QLatin1Char('&') +
           OA1URLRequestParameter::encode(OA1URLRequestParameter::normalizedParameterString(all));
}

QString OA1URLRequest::signature() const {
    const QByteArray key = (OA1URLRequestParameter::encode(m_credentials.consumerSecret()) + QLatin1Char('&') +
                            OA1URLRequestParameter::encode(m_credentials.tokenSecret()))
                               .toUtf8();
    const QByteArray mac =
        QMessageAuthenticationCode::hash(signatureBaseString().toUtf8(), key, QCryptographicHash::Sha1);
    return QString::fromLatin1(mac.toBase64());
}

QString OA1URLRequest::authorizationHeader() const {
    QStringList fields;
    if (!m_realm.isNull())
        fields << QStringLiteral("realm=\"%1\"").arg(m_realm);
    const QString sig = signature();
    for (const auto &p : protocolParameters())
        fields << QStringLiteral("%1=\"%2\"").arg(OA1URLRequestParameter::encode(p.name()),
                                                 OA1URLRequestParameter::encode(p.value()));
    fields << QStringLiteral("oauth_signature=\"%1\"").arg(OA1URLRequestParameter::encode(sig));
    return QStringLiteral("OAuth ") + fields.join(QStringLiteral(", "));
}
