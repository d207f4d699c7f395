#include "Net/NRS3ObjectRequest.h"

std::shared_ptr<NRS3ObjectRequest> NRS3ObjectRequest::requestWithBucket(const QString &bucket, const QString &key,
                                                                        const QString &subResource) {
    auto request = std::make_shared<NRS3ObjectRequest>();
    request->setBucket(bucket);
    request->setKey(key);
    request->setSubResource(subResource);
    request->useBuiltURL();
    return request;
}

std::shared_ptr<NRS3ObjectRequest> NRS3ObjectRequest::PUTRequestForData(const QByteArray &data, const QString &bucket,
                                                                        const QString &key) {
    auto request = requestWithBucket(bucket, key);
    request->appendPostData(data);
    request->setRequestMethod(QStringLiteral("PUT"));
    return request;
}

std::shared_ptr<NRS3ObjectRequest> NRS3ObjectRequest::PUTRequestForFile(const QString &filePath, const QString &bucket,
                                                                        const QString &key) {
    auto request = requestWithBucket(bucket, key);
    request->setPostBodyFilePath(filePath);
    request->setShouldStreamPostDataFromDisk(true);
    request->setRequestMethod(QStringLiteral("PUT"));
    request->setMimeType(mimeTypeForFileAtPath(filePath));
    return request;
}

std::shared_ptr<NRS3ObjectRequest> NRS3ObjectRequest::DELETERequestWithBucket(const QString &bucket, const QString &key) {
    auto request = requestWithBucket(bucket, key);
    request->setRequestMethod(QStringLiteral("DELETE"));
    return request;
}

std::shared_ptr<NRS3ObjectRequest> NRS3ObjectRequest::COPYRequestFromBucket(const QString &sourceBucket,
                                                                            const QString &sourceKey,
                                                                            const QString &bucket, const QString &key) {
    auto request = requestWithBucket(bucket, key);
    request->setRequestMethod(QStringLiteral("PUT"));
    request->setSourceBucket(sourceBucket);
    request->setSourceKey(sourceKey);
    return request;
}

std::shared_ptr<NRS3ObjectRequest> NRS3ObjectRequest::HEADRequestWithBucket(const QString &bucket, const QString &key) {
    auto request = requestWithBucket(bucket, key);
    request->setRequestMethod(QStringLiteral("HEAD"));
    return request;
}

QString NRS3ObjectRequest::bucket() const { std::lock_guard l(m_mutex); return m_bucket; }
QString NRS3ObjectRequest::key() const { std::lock_guard l(m_mutex); return m_key; }
void NRS3ObjectRequest::setBucket(const QString &bucket) { std::lock_guard l(m_mutex); m_bucket = bucket; }
void NRS3ObjectRequest::setKey(const QString &key) { std::lock_guard l(m_mutex); m_key = key; }
void NRS3ObjectRequest::setSubResource(const QString &s) { std::lock_guard l(m_mutex); m_subResource = s; }
void NRS3ObjectRequest::setSourceBucket(const QString &b) { std::lock_guard l(m_mutex); m_sourceBucket = b; }
void NRS3ObjectRequest::setSourceKey(const QString &k) { std::lock_guard l(m_mutex); m_sourceKey = k; }
void NRS3ObjectRequest::setMimeType(const QString &m) { std::lock_guard l(m_mutex); m_mimeType = m; }
void NRS3ObjectRequest::setStorageClass(const QString &s) { std::lock_guard l(m_mutex); m_storageClass = s; }
QString NRS3ObjectRequest::subResource() const { std::lock_guard l(m_mutex); return m_subResource; }
QString NRS3ObjectRequest::sourceBucket() const { std::lock_guard l(m_mutex); return m_sourceBucket; }
QString NRS3ObjectRequest::sourceKey() const { std::lock_guard l(m_mutex); return m_sourceKey; }
QString NRS3ObjectRequest::storageClass() const { std::lock_guard l(m_mutex); return m_storageClass; }

QString NRS3ObjectRequest::mimeType() const {
    std::lock_guard l(m_mutex);
    if (!m_mimeType.isEmpty())
        return m_mimeType;
    if (!postBodyFilePath().isEmpty()) {
        const QString type = mimeTypeForFileAtPath(postBodyFilePath());
        if (!type.isEmpty())
            return type;
    }
    return QStringLiteral("application/octet-stream");
}

QUrl NRS3ObjectRequest::buildURL() const {
    std::lock_guard l(m_mutex);
    QString text = requestScheme() + QStringLiteral("://") + m_bucket + QLatin1Char('.') + S3Host() +
                   stringByURLEncodingForS3Path(m_key);
    if (!m_subResource.isEmpty())
        text += QLatin1Char('?') + m_subResource;
    return QUrl(text, QUrl::StrictMode);
}

QString NRS3ObjectRequest::canonicalizedResource() const {
    std::lock_guard l(m_mutex);
    const QString resource = QLatin1Char('/') + m_bucket + stringByURLEncodingForS3Path(m_key);
    return m_subResource.isEmpty() ? resource : resource + QLatin1Char('?') + m_subResource;
}

QMap<QString, QString> NRS3ObjectRequest::S3Headers() const {
    QMap<QString, QString> headers = NRS3Request::S3Headers();
    std::lock_guard l(m_mutex);
    if (!m_sourceKey.isEmpty())
        headers.insert(QStringLiteral("x-amz-copy-source"), m_sourceBucket + stringByURLEncodingForS3Path(m_sourceKey));
    if (!m_storageClass.isEmpty())
        headers.insert(QStringLiteral("x-amz-storage-class"), m_storageClass);
    return headers;
}

QString NRS3ObjectRequest::contentTypeToSign() const {
    std::lock_guard l(m_mutex);
    if (requestMethod() == QLatin1String("PUT") && m_sourceKey.isEmpty())
        return mimeType();
    return QString();
}

bool NRS3ObjectRequest::replyIsServiceAnswer() const {
    const int status = responseStatusCode();
    return requestMethod() != QLatin1String("GET") || !subResource().isEmpty() || status < 200 || status >= 300;
}

std::shared_ptr<NRHTTPRequest> NRS3ObjectRequest::copy() const {
    auto other = std::make_shared<NRS3ObjectRequest>(url());
    copyS3SettingsTo(*other);
    std::lock_guard l(m_mutex);
    other->m_bucket = m_bucket;
    other->m_key = m_key;
    other->m_subResource = m_subResource;
    other->m_sourceBucket = m_sourceBucket;
    other->m_sourceKey = m_sourceKey;
    other->m_mimeType = m_mimeType;
    other->m_storageClass = m_storageClass;
    return other;
}

std::shared_ptr<NRHTTPRequest> NRS3ObjectRequest::HEADRequest() const {
    auto head = makeHEADRequest<NRS3ObjectRequest>();
    std::lock_guard l(m_mutex);
    head->m_bucket = m_bucket;
    head->m_key = m_key;
    head->m_subResource = m_subResource;
    return head;
}
