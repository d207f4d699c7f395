#include "Net/NRS3Request.h"

#include "Net/NRHTTPRequestInternal.h"
#include "Platform/VNLog.h"

#include <algorithm>

#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <mutex>

namespace {

struct Keys {
    std::mutex mutex;
    QString accessKey, secretAccessKey;
    QString host = QStringLiteral("s3.amazonaws.com");
    bool bucketRootWithoutSlash = false;
};

// Lives to the end of the process: the network thread signs with them.
Keys &keys() {
    static auto *k = new Keys();
    return *k;
}

}  // namespace

NRS3Request::NRS3Request(const QUrl &url) : NRHTTPRequest(url) {
    setPersistentConnectionTimeoutSeconds(20.0);
}

QString NRS3Request::sharedAccessKey() {
    std::lock_guard lock(keys().mutex);
    return keys().accessKey;
}
void NRS3Request::setSharedAccessKey(const QString &key) {
    std::lock_guard lock(keys().mutex);
    keys().accessKey = key;
}
QString NRS3Request::sharedSecretAccessKey() {
    std::lock_guard lock(keys().mutex);
    return keys().secretAccessKey;
}
void NRS3Request::setSharedSecretAccessKey(const QString &key) {
    std::lock_guard lock(keys().mutex);
    keys().secretAccessKey = key;
}
QString NRS3Request::S3Host() {
    std::lock_guard lock(keys().mutex);
    return keys().host;
}
void NRS3Request::setS3Host(const QString &host) {
    std::lock_guard lock(keys().mutex);
    keys().host = host;
}

bool NRS3Request::signsBucketRootWithoutSlash() {
    std::lock_guard lock(keys().mutex);
    return keys().bucketRootWithoutSlash;
}
void NRS3Request::setSignsBucketRootWithoutSlash(bool on) {
    std::lock_guard lock(keys().mutex);
    keys().bucketRootWithoutSlash = on;
}

QString NRS3Request::accessKey() const { std::lock_guard l(m_mutex); return m_accessKey; }
void NRS3Request::setAccessKey(const QString &key) { std::lock_guard l(m_mutex); m_accessKey = key; }
QString NRS3Request::secretAccessKey() const { std::lock_guard l(m_mutex); return m_secretAccessKey; }
void NRS3Request::setSecretAccessKey(const QString &key) { std::lock_guard l(m_mutex); m_secretAccessKey = key; }
QString NRS3Request::requestScheme() const { std::lock_guard l(m_mutex); return m_requestScheme; }
void NRS3Request::setRequestScheme(const QString &scheme) { std::lock_guard l(m_mutex); m_requestScheme = scheme; }
QString NRS3Request::accessPolicy() const { std::lock_guard l(m_mutex); return m_accessPolicy; }
void NRS3Request::setAccessPolicy(const QString &policy) { std::lock_guard l(m_mutex); m_accessPolicy = policy; }
void NRS3Request::setDate(const QDateTime &date) { std::lock_guard l(m_mutex); m_dateString = S3RequestDateString(date); }
QString NRS3Request::dateString() const { std::lock_guard l(m_mutex); return m_dateString; }

QString NRS3Request::S3RequestDateString(const QDateTime &date) {
    return QLocale::c().toString(date.toUTC(), QStringLiteral("ddd, d MMM yyyy HH:mm:ss")) + QStringLiteral(" +0000");
}

QDateTime NRS3Request::S3ResponseDate(const QString &text) {
    QDateTime date = QLocale::c().toDateTime(text, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'.000Z'"));
    date.setTimeZone(QTimeZone::utc());
    return date;
}

QString NRS3Request::canonicalizedResource() const {
    return QStringLiteral("/");
}

QMap<QString, QString> NRS3Request::S3Headers() const {
    QMap<QString, QString> headers;
    const QString policy = accessPolicy();
    if (!policy.isEmpty())
        headers.insert(QStringLiteral("x-amz-acl"), policy);
    return headers;
}

QString NRS3Request::stringByURLEncodingForS3Path(const QString &path) {
    if (path.isEmpty())
        return QStringLiteral("/");
    // Everything but letters, digits, "-", "_", "." and "/" is escaped ("~" too).
    QString escaped = QString::fromLatin1(QUrl::toPercentEncoding(path, "/", "~"));
    if (!escaped.startsWith(QLatin1Char('/')))
        escaped.prepend(QLatin1Char('/'));
    return escaped;
}

QString NRS3Request::resourceForURL(const QUrl &url, const QString &bucket) {
    // The query parameters S3 names in a signature; it leaves the others
    // (a listing's prefix, marker, ...) out.
    static const auto *subResources = new QStringList{
        QStringLiteral("acl"), QStringLiteral("cors"), QStringLiteral("delete"), QStringLiteral("lifecycle"),
        QStringLiteral("location"), QStringLiteral("logging"), QStringLiteral("notification"),
        QStringLiteral("partNumber"), QStringLiteral("policy"), QStringLiteral("requestPayment"),
        QStringLiteral("restore"), QStringLiteral("tagging"), QStringLiteral("torrent"), QStringLiteral("uploadId"),
        QStringLiteral("uploads"), QStringLiteral("versionId"), QStringLiteral("versioning"),
        QStringLiteral("versions"), QStringLiteral("website"), QStringLiteral("response-cache-control"),
        QStringLiteral("response-content-disposition"), QStringLiteral("response-content-encoding"),
        QStringLiteral("response-content-language"), QStringLiteral("response-content-type"),
        QStringLiteral("response-expires")};
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    // A path-style URL (the service's own host) names the bucket in its path.
    const QString serviceHost = QUrl(QStringLiteral("http://") + S3Host()).host();
    QString resource = bucket.isEmpty() || url.host().compare(serviceHost, Qt::CaseInsensitive) == 0
                           ? path
                           : QLatin1Char('/') + bucket + path;
    QStringList signedParameters;
    for (const QString &parameter : url.query(QUrl::FullyEncoded).split(QLatin1Char('&'), Qt::SkipEmptyParts))
        if (subResources->contains(parameter.section(QLatin1Char('='), 0, 0)))
            signedParameters << parameter;
    std::sort(signedParameters.begin(), signedParameters.end());
    if (!signedParameters.isEmpty())
        resource += QLatin1Char('?') + signedParameters.join(QLatin1Char('&'));
    return resource;
}

bool NRS3Request::isBucketRegionURL(const QUrl &from, const QUrl &target, const QString &bucket) {
    // Scheme and port as the request had them: no step down from https, and
    // nothing else listening on the service's hosts.
    const auto defaultPort = [](const QUrl &url) {
        return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
    };
    if (bucket.isEmpty() || target.scheme().compare(from.scheme(), Qt::CaseInsensitive) != 0 ||
        target.port(defaultPort(target)) != from.port(defaultPort(from)))
        return false;
    // "bk.s3.amazonaws.com" sends to "bk.s3-eu-west-1.amazonaws.com": the
    // bucket, then labels that begin with the service host's first one, then
    // the service host's parent domain.
    const QString serviceHost = QUrl(QStringLiteral("http://") + S3Host()).host().toLower();
    const qsizetype dot = serviceHost.indexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == serviceHost.size() - 1)
        return false;
    const QString firstLabel = serviceHost.left(dot);
    const QString parentDomain = serviceHost.mid(dot);  // with its leading dot
    const QString host = target.host().toLower();
    const QString bucketPrefix = bucket.toLower() + QLatin1Char('.');
    if (!host.startsWith(bucketPrefix) || !host.endsWith(parentDomain))
        return false;
    const QString middle = host.mid(bucketPrefix.size(), host.size() - bucketPrefix.size() - parentDomain.size());
    if (middle.isEmpty() || middle.split(QLatin1Char('.')).contains(QString()))
        return false;
    return middle == firstLabel || middle.startsWith(firstLabel + QLatin1Char('-')) ||
           middle.startsWith(firstLabel + QLatin1Char('.'));
}

// The fields name the resource at the URL the request was first sent to.
// Anywhere else, whoever sent the request there never chooses what is
// signed: within that origin, never having left it, the resource the new
// URL names only over https (the origin itself chose it); over plain http
// anybody on the way could have, so the fields' resource. The bucket's
// endpoint in another region, and the origin come back to through
// another, get the fields' resource; anybody else no signature. A copy
// starts from where its source was first sent, whatever URL it begins at,
// unless it is sent to the URL its own fields make (a copy given another
// scheme, bucket or key), which is its own origin.
QString NRS3Request::resourceToSign() {
    const QUrl at = url();
    QUrl first;
    bool leftOrigin;
    {
        std::lock_guard l(m_mutex);
        if (m_firstURL.isEmpty() || (redirectCount() == 0 && at == m_builtURL)) {
            m_firstURL = at;
            m_leftOrigin = false;
        }
        m_leftOrigin = m_leftOrigin || !NRHTTPRequestInternal::sameOrigin(at, m_firstURL);
        first = m_firstURL;
        leftOrigin = m_leftOrigin;
    }
    if (at == first)
        return canonicalizedResource();
    if (!leftOrigin)
        return at.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? resourceForURL(at, bucket())
                                                                                     : canonicalizedResource();
    if (NRHTTPRequestInternal::sameOrigin(at, first) || isBucketRegionURL(first, at, bucket()))
        return canonicalizedResource();
    return QString();
}

QString NRS3Request::HMACSHA1withKey(const QString &key, const QString &text) {
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(text.toUtf8(), key.toUtf8(), QCryptographicHash::Sha1).toBase64());
}

QString NRS3Request::stringToSignForHeaders(const QMap<QString, QString> &headers, const QString &resource) const {
    // The x-amz headers in order of their lower-case names.
    QMap<QString, QString> byName;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        byName.insert(it.key().toLower(), it.value());
    QString canonicalHeaders;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        canonicalHeaders += it.key() + QLatin1Char(':') + it.value() + QLatin1Char('\n');
    const QString date = byName.contains(QStringLiteral("x-amz-date")) ? QString() : dateString();
    const QString contentType = contentTypeToSign();
    if (!contentType.isNull())
        return QStringLiteral("PUT\n\n") + contentType + QLatin1Char('\n') + date + QLatin1Char('\n') +
               canonicalHeaders + resource;
    return requestMethod() + QStringLiteral("\n\n\n") + date + QLatin1Char('\n') + canonicalHeaders + resource;
}

void NRS3Request::useBuiltURL() {
    const QUrl built = buildURL();
    if (built.isEmpty())
        return;
    {
        std::lock_guard l(m_mutex);
        m_builtURL = built;
    }
    setURL(built);
}

void NRS3Request::buildPostBody() {
    // The URL follows the fields while it is the one made from them; a
    // redirect's target (the bucket's own region) is kept, never rebuilt.
    QUrl built;
    {
        std::lock_guard l(m_mutex);
        built = m_builtURL;
    }
    if (url().isEmpty() || url() == built)
        useBuiltURL();
    NRHTTPRequest::buildPostBody();
    sign();
}

void NRS3Request::sign() {
    // A HEAD request made for another one signs only at that one's origin:
    // redirected away from it, it goes without credentials, as it would
    // without the other request's.
    if (const std::shared_ptr<NRHTTPRequest> main = mainRequest();
        main && requestMethod() == QLatin1String("HEAD") && !NRHTTPRequestInternal::sameOrigin(url(), main->url()))
        return;
    {
        std::lock_guard l(m_mutex);
        if (m_accessKey.isNull())
            m_accessKey = sharedAccessKey();
        if (m_secretAccessKey.isNull())
            m_secretAccessKey = sharedSecretAccessKey();
        if (m_dateString.isEmpty())
            m_dateString = S3RequestDateString(QDateTime::currentDateTimeUtc());
    }
    addRequestHeader(QStringLiteral("Date"), dateString());
    // The date is also signed as an x-amz header, which leaves the Date line
    // of the signed text empty (as S3 defines it): S3-like servers that
    // never put the Date header into the text they check (s3rver among
    // them) then agree with S3 itself.
    QMap<QString, QString> headers = S3Headers();
    headers.insert(QStringLiteral("x-amz-date"), dateString());
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        addRequestHeader(it.key(), it.value());
    const QString contentType = contentTypeToSign();
    if (!contentType.isNull())
        addRequestHeader(QStringLiteral("Content-Type"), contentType);
    const QString resource = resourceToSign();
    if (resource.isNull())
        return;
    const QString signature = HMACSHA1withKey(secretAccessKey(), stringToSignForHeaders(headers, resource));
    addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("AWS %1:%2").arg(accessKey(), signature));
}

NRHTTPRequest::ReplyVerdict NRS3Request::reviewReply(VNErrorPtr *error) {
    QString mime;
    QByteArray charset;
    parseContentType(responseHeader(QStringLiteral("Content-Type")), &mime, &charset);
    const QByteArray body = responseData();
    if (mime != QLatin1String("application/xml") || body.isEmpty() || !replyIsServiceAnswer())
        return ReplyVerdict::Accept;
    QXmlStreamReader xml(body);
    xml.setNamespaceProcessing(false);
    m_elementStack.clear();
    QString text;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                text.clear();
                m_elementStack.append(xml.qualifiedName().toString());
                didStartElement(m_elementStack.last());
                break;
            case QXmlStreamReader::Characters:
                text += xml.text();
                break;
            case QXmlStreamReader::EndElement: {
                const QString name = xml.qualifiedName().toString();
                if (name == QLatin1String("Message")) {
                    *error = makeError(S3ErrorType, text);
                    return ReplyVerdict::Accept;
                }
                // Sent again on a new connection, the one retry a request
                // gets: not after another (a time-out's, a broken
                // connection's), when the service's answer stands.
                if (name == QLatin1String("Code") && text == QLatin1String("RequestTimeout") && retryCount() == 0) {
                    VNLog::log(QStringLiteral("NRS3Request: the service timed out, sending again"));
                    return ReplyVerdict::Retry;
                }
                didEndElement(name, text);
                if (!m_elementStack.isEmpty())
                    m_elementStack.removeLast();
                break;
            }
            default:
                break;
        }
    }
    if (xml.hasError()) {
        *error = makeError(1, QStringLiteral("Parsing the resposnse failed"), xml.errorString());
        return ReplyVerdict::Accept;
    }
    return ReplyVerdict::Accept;
}

void NRS3Request::copyKeysTo(NRS3Request &other) const {
    std::lock_guard l(m_mutex);
    other.m_accessKey = m_accessKey;
    other.m_secretAccessKey = m_secretAccessKey;
    other.m_requestScheme = m_requestScheme;
    other.m_firstURL = m_firstURL;
    other.m_leftOrigin = m_leftOrigin;
}

void NRS3Request::copyS3SettingsTo(NRS3Request &other) const {
    copySettingsTo(other);
    copyKeysTo(other);
    std::lock_guard l(m_mutex);
    other.m_accessPolicy = m_accessPolicy;
    other.m_builtURL = m_builtURL;
}

// The URL is the main request's own (not made again from fields a HEAD
// request does not carry).
void NRS3Request::fillS3HEADRequest(NRS3Request &head) const {
    fillHEADRequest(head);
    copyKeysTo(head);
}

std::shared_ptr<NRHTTPRequest> NRS3Request::HEADRequest() const {
    return makeHEADRequest<NRS3Request>();
}

std::shared_ptr<NRHTTPRequest> NRS3Request::copy() const {
    auto other = std::make_shared<NRS3Request>(url());
    copyS3SettingsTo(*other);
    return other;
}
