#include "Net/NRS3ServiceRequest.h"

std::shared_ptr<NRS3ServiceRequest> NRS3ServiceRequest::serviceRequest() {
    auto request = std::make_shared<NRS3ServiceRequest>();
    request->useBuiltURL();
    return request;
}

QUrl NRS3ServiceRequest::buildURL() const {
    return QUrl(requestScheme() + QStringLiteral("://") + S3Host());
}

QList<std::shared_ptr<NRS3Bucket>> NRS3ServiceRequest::buckets() const { std::lock_guard l(m_mutex); return m_buckets; }
QString NRS3ServiceRequest::ownerID() const { std::lock_guard l(m_mutex); return m_ownerID; }
QString NRS3ServiceRequest::ownerName() const { std::lock_guard l(m_mutex); return m_ownerName; }

void NRS3ServiceRequest::didStartElement(const QString &name) {
    if (name == QLatin1String("Bucket"))
        m_currentBucket = NRS3Bucket::bucketWithOwnerID(m_ownerID, m_ownerName);
}

void NRS3ServiceRequest::didEndElement(const QString &name, const QString &text) {
    if (name == QLatin1String("Bucket") && m_currentBucket) {
        m_buckets.append(m_currentBucket);
        m_currentBucket.reset();
    } else if (name == QLatin1String("Name") && m_currentBucket) {
        m_currentBucket->name = text;
    } else if (name == QLatin1String("CreationDate") && m_currentBucket) {
        m_currentBucket->creationDate = S3ResponseDate(text);
    } else if (name == QLatin1String("ID")) {
        m_ownerID = text;
    } else if (name == QLatin1String("DisplayName")) {
        m_ownerName = text;
    }
}

std::shared_ptr<NRHTTPRequest> NRS3ServiceRequest::copy() const {
    auto other = std::make_shared<NRS3ServiceRequest>(url());
    copyS3SettingsTo(*other);
    return other;
}

std::shared_ptr<NRHTTPRequest> NRS3ServiceRequest::HEADRequest() const {
    auto head = makeHEADRequest<NRS3ServiceRequest>();
    return head;
}
