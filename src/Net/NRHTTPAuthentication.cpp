#include "Net/NRHTTPAuthentication.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

// The scheme names live to the end of the process (the network thread, never
// joined, compares with them).
const QString &NRHTTPAuthentication::basicScheme() {
    static const auto *s = new QString(QStringLiteral("Basic"));
    return *s;
}
const QString &NRHTTPAuthentication::digestScheme() {
    static const auto *s = new QString(QStringLiteral("Digest"));
    return *s;
}
const QString &NRHTTPAuthentication::ntlmScheme() {
    static const auto *s = new QString(QStringLiteral("NTLM"));
    return *s;
}

NRHTTPAuthentication::NRHTTPAuthentication(QString scheme, QMap<QString, QString> params)
    : m_scheme(std::move(scheme)), m_params(std::move(params)) {}

namespace {

bool isTokenChar(char c) {
    static const char *separators = "()<>@,;:\\\"/[]?={} \t";
    return c > 32 && c < 127 && !strchr(separators, c);
}

bool isToken68Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           strchr("-._~+/", c);
}

}  // namespace

QList<NRHTTPAuthentication::Challenge> NRHTTPAuthentication::parseChallenges(const QByteArray &value) {
    QList<Challenge> out;
    const int n = value.size();
    int i = 0;
    auto skipSpaces = [&] {
        while (i < n && (value[i] == ' ' || value[i] == '\t'))
            ++i;
    };
    auto readToken = [&] {
        const int start = i;
        while (i < n && isTokenChar(value[i]))
            ++i;
        return value.mid(start, i - start);
    };
    while (i < n) {
        while (i < n && (value[i] == ' ' || value[i] == '\t' || value[i] == ','))
            ++i;
        const QByteArray scheme = readToken();
        if (scheme.isEmpty()) {
            ++i;  // stray character: skip it
            continue;
        }
        Challenge challenge;
        challenge.scheme = QString::fromLatin1(scheme);
        skipSpaces();
        // A bare token (NTLM, Negotiate) instead of parameters.
        {
            int j = i;
            while (j < n && isToken68Char(value[j]))
                ++j;
            int k = j;
            while (k < n && value[k] == '=')
                ++k;
            int m = k;
            while (m < n && (value[m] == ' ' || value[m] == '\t'))
                ++m;
            if (j > i && (m == n || value[m] == ',')) {
                challenge.token68 = value.mid(i, k - i);
                i = m;
                out.append(challenge);
                continue;
            }
        }
        // Parameters: name=value pairs until a token not followed by "=".
        for (;;) {
            skipSpaces();
            const int save = i;
            const QByteArray name = readToken();
            skipSpaces();
            if (name.isEmpty() || i >= n || value[i] != '=') {
                i = save;
                break;
            }
            ++i;
            skipSpaces();
            QByteArray paramValue;
            if (i < n && value[i] == '"') {
                ++i;
                while (i < n && value[i] != '"') {
                    if (value[i] == '\\' && i + 1 < n)
                        ++i;
                    paramValue.append(value[i]);
                    ++i;
                }
                if (i < n)
                    ++i;
            } else {
                paramValue = readToken();
            }
            challenge.params.insert(QString::fromLatin1(name).toLower(), QString::fromUtf8(paramValue));
            skipSpaces();
            if (i < n && value[i] == ',') {
                ++i;
                continue;
            }
            break;
        }
        out.append(challenge);
    }
    return out;
}

std::shared_ptr<NRHTTPAuthentication> NRHTTPAuthentication::fromChallenges(const QList<QByteArray> &headerValues) {
    QList<Challenge> all;
    for (const QByteArray &v : headerValues)
        all += parseChallenges(v);
    auto pick = [&](const QString &scheme) -> const Challenge * {
        for (const Challenge &c : all) {
            if (c.scheme.compare(scheme, Qt::CaseInsensitive) != 0)
                continue;
            if (scheme == digestScheme()) {
                // Only what we can compute: MD5, MD5-sess, SHA-256 and qop auth or none.
                const QString alg = c.params.value(QStringLiteral("algorithm"), QStringLiteral("MD5")).toUpper();
                if (alg != QLatin1String("MD5") && alg != QLatin1String("MD5-SESS") &&
                    alg != QLatin1String("SHA-256") && alg != QLatin1String("SHA-256-SESS"))
                    continue;
                if (!c.params.contains(QStringLiteral("nonce")))
                    continue;
                const QString qop = c.params.value(QStringLiteral("qop"));
                if (!qop.isEmpty()) {
                    bool hasAuth = false;
                    for (const QString &q : qop.split(QLatin1Char(',')))
                        hasAuth |= q.trimmed().compare(QLatin1String("auth"), Qt::CaseInsensitive) == 0;
                    if (!hasAuth)
                        continue;
                }
            }
            return &c;
        }
        return nullptr;
    };
    for (const QString &scheme : {digestScheme(), ntlmScheme(), basicScheme()}) {
        if (const Challenge *c = pick(scheme))
            return std::shared_ptr<NRHTTPAuthentication>(new NRHTTPAuthentication(scheme, c->params));
    }
    return nullptr;
}

QString NRHTTPAuthentication::realm() const {
    if (m_scheme == ntlmScheme())
        return QString();
    return m_params.value(QStringLiteral("realm"), QStringLiteral(""));
}

bool NRHTTPAuthentication::isStale() const {
    return m_scheme == digestScheme() &&
           m_params.value(QStringLiteral("stale")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QByteArray NRHTTPAuthentication::basicAuthorization(const QString &username, const QString &password) {
    return "Basic " + QStringLiteral("%1:%2").arg(username, password).toUtf8().toBase64();
}

QByteArray NRHTTPAuthentication::authorizationHeader(const NRCredentials &credentials, const QString &method,
                                                     const QByteArray &requestTarget) {
    if (m_scheme == basicScheme())
        return basicAuthorization(credentials.username, credentials.password);
    if (m_scheme == digestScheme())
        return digestAuthorization(credentials, method, requestTarget);
    return QByteArray();
}

QByteArray NRHTTPAuthentication::digestAuthorization(const NRCredentials &credentials, const QString &method,
                                                     const QByteArray &requestTarget) {
    const QString algorithm = m_params.value(QStringLiteral("algorithm"), QStringLiteral("MD5"));
    const bool sha256 = algorithm.toUpper().startsWith(QLatin1String("SHA-256"));
    const bool sess = algorithm.toUpper().endsWith(QLatin1String("-SESS"));
    auto H = [sha256](const QByteArray &data) {
        return QCryptographicHash::hash(data, sha256 ? QCryptographicHash::Sha256 : QCryptographicHash::Md5)
            .toHex();
    };
    const QByteArray realm = m_params.value(QStringLiteral("realm")).toUtf8();
    const QByteArray nonce = m_params.value(QStringLiteral("nonce")).toUtf8();
    const QString qopOffer = m_params.value(QStringLiteral("qop"));
    bool qopAuth = false;
    for (const QString &q : qopOffer.split(QLatin1Char(',')))
        qopAuth |= q.trimmed().compare(QLatin1String("auth"), Qt::CaseInsensitive) == 0;

    quint32 nc;
    {
        std::lock_guard lock(m_mutex);
        nc = ++m_nonceCount;
    }
    const QByteArray ncText = QByteArray::number(nc, 16).rightJustified(8, '0');
    const QByteArray cnonce = QByteArray::number(QRandomGenerator::system()->generate64(), 16);

    QByteArray ha1 = H(credentials.username.toUtf8() + ':' + realm + ':' + credentials.password.toUtf8());
    if (sess)
        ha1 = H(ha1 + ':' + nonce + ':' + cnonce);
    const QByteArray ha2 = H(method.toLatin1() + ':' + requestTarget);
    const QByteArray response = qopAuth ? H(ha1 + ':' + nonce + ':' + ncText + ':' + cnonce + ":auth:" + ha2)
                                        : H(ha1 + ':' + nonce + ':' + ha2);

    auto quote = [](const QByteArray &v) {
        QByteArray q;
        for (char ch : v)
            if (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f)
                q.append(ch);  // no control characters from a server's challenge
        q.replace('\\', "\\\\").replace('"', "\\\"");
        return '"' + q + '"';
    };
    QByteArray header = "Digest username=" + quote(credentials.username.toUtf8()) + ", realm=" + quote(realm) +
                        ", nonce=" + quote(nonce) + ", uri=" + quote(requestTarget) + ", algorithm=" +
                        algorithm.toLatin1() + ", response=" + quote(response);
    if (m_params.contains(QStringLiteral("opaque")))
        header += ", opaque=" + quote(m_params.value(QStringLiteral("opaque")).toUtf8());
    if (qopAuth)
        header += ", qop=auth, nc=" + ncText + ", cnonce=" + quote(cnonce);
    return header;
}
