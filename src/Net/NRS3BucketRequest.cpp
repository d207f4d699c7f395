#include "Net/NRS3BucketRequest.h"

namespace {

// Escapes what a URL cannot hold, and what would change the query's
// meaning: "&" and "=" would start another option, "+" reads as a space,
// so a prefix "a&b/" must list under "a&b/", not under "a".
QString queryValue(const QString &value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value, "!$'()*,;:@/?"));
}

}  // namespace

std::shared_ptr<NRS3BucketRequest> NRS3BucketRequest::requestWithBucket(const QString &bucket,
                                                                        const QString &subResource) {
    auto request = std::make_shared<NRS3BucketRequest>();
    request->setBucket(bucket);
    request->setSubResource(subResource);
    request->useBuiltURL();
    return request;
}

std::shared_ptr<NRS3BucketRequest> NRS3BucketRequest::PUTRequestWithBucket(const QString &bucket) {
    auto request = requestWithBucket(bucket);
    request->setRequestMethod(QStringLiteral("PUT"));
    return request;
}

std::shared_ptr<NRS3BucketRequest> NRS3BucketRequest::DELETERequestWithBucket(const QString &bucket) {
    auto request = requestWithBucket(bucket);
    request->setRequestMethod(QStringLiteral("DELETE"));
    return request;
}

QString NRS3BucketRequest::bucket() const { std::lock_guard l(m_mutex); return m_bucket; }
void NRS3BucketRequest::setBucket(const QString &bucket) { std::lock_guard l(m_mutex); m_bucket = bucket; }
void NRS3BucketRequest::setSubResource(const QString &s) { std::lock_guard l(m_mutex); m_subResource = s; }
void NRS3BucketRequest::setPrefix(const QString &prefix) { std::lock_guard l(m_mutex); m_prefix = prefix; }
void NRS3BucketRequest::setMarker(const QString &marker) { std::lock_guard l(m_mutex); m_marker = marker; }
void NRS3BucketRequest::setDelimiter(const QString &d) { std::lock_guard l(m_mutex); m_delimiter = d; }
void NRS3BucketRequest::setMaxResultCount(int count) { std::lock_guard l(m_mutex); m_maxResultCount = count; }
QString NRS3BucketRequest::subResource() const { std::lock_guard l(m_mutex); return m_subResource; }
QString NRS3BucketRequest::prefix() const { std::lock_guard l(m_mutex); return m_prefix; }
QString NRS3BucketRequest::marker() const { std::lock_guard l(m_mutex); return m_marker; }
QString NRS3BucketRequest::delimiter() const { std::lock_guard l(m_mutex); return m_delimiter; }
int NRS3BucketRequest::maxResultCount() const { std::lock_guard l(m_mutex); return m_maxResultCount; }
QList<std::shared_ptr<NRS3BucketObject>> NRS3BucketRequest::objects() const { std::lock_guard l(m_mutex); return m_objects; }
QStringList NRS3BucketRequest::commonPrefixes() const { std::lock_guard l(m_mutex); return m_commonPrefixes; }
bool NRS3BucketRequest::isTruncated() const { std::lock_guard l(m_mutex); return m_isTruncated; }

QUrl NRS3BucketRequest::buildURL() const {
    std::lock_guard l(m_mutex);
    QString text = requestScheme() + QStringLiteral("://") + m_bucket + QLatin1Char('.') + S3Host();
    if (!m_subResource.isEmpty())
        text += QStringLiteral("/?") + m_subResource;
    QStringList options;
    if (!m_prefix.isNull())
        options << QStringLiteral("prefix=") + queryValue(m_prefix);
    if (!m_marker.isNull())
        options << QStringLiteral("marker=") + queryValue(m_marker);
    if (!m_delimiter.isNull())
        options << QStringLiteral("delimiter=") + queryValue(m_delimiter);
    if (m_maxResultCount > 0)
        options << QStringLiteral("max-keys=%1").arg(m_maxResultCount);
    if (!options.isEmpty())
        text += (m_subResource.isEmpty() ? QStringLiteral("?") : QStringLiteral("&")) + options.join(QLatin1Char('&'));
    return QUrl(text, QUrl::StrictMode);
}

QString NRS3BucketRequest::canonicalizedResource() const {
    std::lock_guard l(m_mutex);
    const QString root = signsBucketRootWithoutSlash() ? QStringLiteral("/") + m_bucket
                                                       : QStringLiteral("/") + m_bucket + QLatin1Char('/');
    return m_subResource.isEmpty() ? root : root + QLatin1Char('?') + m_subResource;
}

std::shared_ptr<NRHTTPRequest> NRS3BucketRequest::copy() const {
    auto other = std::make_shared<NRS3BucketRequest>(url());
    copyS3SettingsTo(*other);
    std::lock_guard l(m_mutex);
    other->m_bucket = m_bucket;
    other->m_subResource = m_subResource;
    other->m_prefix = m_prefix;
    other->m_marker = m_marker;
    other->m_delimiter = m_delimiter;
    other->m_maxResultCount = m_maxResultCount;
    return other;
}

void NRS3BucketRequest::didStartElement(const QString &name) {
    if (name == QLatin1String("Contents"))
        m_currentObject = NRS3BucketObject::objectWithBucket(m_bucket);
}

void NRS3BucketRequest::didEndElement(const QString &name, const QString &text) {
    const QStringList stack = elementStack();
    if (name == QLatin1String("Contents") && m_currentObject) {
        m_objects.append(m_currentObject);
        m_currentObject.reset();
    } else if (name == QLatin1String("Prefix") && stack.size() >= 2 && stack[stack.size() - 2] == QLatin1String("CommonPrefixes")) {
        m_commonPrefixes.append(text);
    } else if (name == QLatin1String("IsTruncated")) {
        m_isTruncated = text == QLatin1String("true");
    } else if (m_currentObject) {
        if (name == QLatin1String("Key"))
            m_currentObject->key = text;
        else if (name == QLatin1String("LastModified"))
            m_currentObject->lastModified = S3ResponseDate(text);
        else if (name == QLatin1String("ETag"))
            m_currentObject->ETag = text;
        else if (name == QLatin1String("Size"))
            m_currentObject->size = text.toULongLong();
        else if (name == QLatin1String("ID"))
            m_currentObject->ownerID = text;
        else if (name == QLatin1String("DisplayName"))
            m_currentObject->ownerName = text;
    }
}

std::shared_ptr<NRHTTPRequest> NRS3BucketRequest::HEADRequest() const {
    auto head = makeHEADRequest<NRS3BucketRequest>();
    std::lock_guard l(m_mutex);
    head->m_bucket = m_bucket;
    head->m_subResource = m_subResource;
    return head;
}
