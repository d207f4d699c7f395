#include "Net/NRS3BucketObject.h"

#include "Net/NRS3ObjectRequest.h"

std::shared_ptr<NRS3BucketObject> NRS3BucketObject::objectWithBucket(const QString &bucket) {
    auto object = std::make_shared<NRS3BucketObject>();
    object->bucket = bucket;
    return object;
}

QString NRS3BucketObject::description() const {
    return QStringLiteral("Key: %1 lastModified: %2 ETag: %3 size: %4 ownerID: %5 ownerName: %6")
        .arg(key, lastModified.toString(Qt::ISODate), ETag, QString::number(size), ownerID, ownerName);
}

std::shared_ptr<NRS3ObjectRequest> NRS3BucketObject::GETRequest() const {
    return NRS3ObjectRequest::requestWithBucket(bucket, key);
}

std::shared_ptr<NRS3ObjectRequest> NRS3BucketObject::PUTRequestWithFile(const QString &filePath) const {
    return NRS3ObjectRequest::PUTRequestForFile(filePath, bucket, key);
}

std::shared_ptr<NRS3ObjectRequest> NRS3BucketObject::DELETERequest() const {
    return NRS3ObjectRequest::DELETERequestWithBucket(bucket, key);
}
