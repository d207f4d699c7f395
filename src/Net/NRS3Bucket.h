#pragma once

#include <QDateTime>
#include <QString>
#include <memory>

// A bucket as the service lists it.
class NRS3Bucket {
public:
    static std::shared_ptr<NRS3Bucket> bucketWithOwnerID(const QString &ownerID, const QString &ownerName);

    QString name, ownerID, ownerName;
    QDateTime creationDate;

    QString description() const;
};
