#pragma once

#include <QDateTime>
#include <QString>
#include <memory>

class NRS3ObjectRequest;

// An object as a bucket lists it; copyable.
class NRS3BucketObject {
public:
    static std::shared_ptr<NRS3BucketObject> objectWithBucket(const QString &bucket);

    QString bucket, key, ETag, ownerID, ownerName;
    QDateTime lastModified;
    quint64 size = 0;

    QString description() const;
    std::shared_ptr<NRS3ObjectRequest> GETRequest() const;
    std::shared_ptr<NRS3ObjectRequest> PUTRequestWithFile(const QString &filePath) const;
    std::shared_ptr<NRS3ObjectRequest> DELETERequest() const;
};
