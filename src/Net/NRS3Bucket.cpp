#include "Net/NRS3Bucket.h"

std::shared_ptr<NRS3Bucket> NRS3Bucket::bucketWithOwnerID(const QString &ownerID, const QString &ownerName) {
    auto bucket = std::make_shared<NRS3Bucket>();
    bucket->ownerID = ownerID;
    bucket->ownerName = ownerName;
    return bucket;
}

QString NRS3Bucket::description() const {
    return QStringLiteral("Name: %1 creationDate: %2 ownerID: %3 ownerName: %4")
        .arg(name, creationDate.toString(Qt::ISODate), ownerID, ownerName);
}
