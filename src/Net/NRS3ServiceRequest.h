#pragma once

#include "Net/NRS3Bucket.h"
#include "Net/NRS3Request.h"

#include <QList>

// The list of the account's buckets.
class NRS3ServiceRequest : public NRS3Request {
public:
    static std::shared_ptr<NRS3ServiceRequest> serviceRequest();
    using NRS3Request::NRS3Request;

    QList<std::shared_ptr<NRS3Bucket>> buckets() const;
    QString ownerID() const;
    QString ownerName() const;
    std::shared_ptr<NRHTTPRequest> copy() const override;
    std::shared_ptr<NRHTTPRequest> HEADRequest() const override;

protected:
    QUrl buildURL() const override;
    void didStartElement(const QString &name) override;
    void didEndElement(const QString &name, const QString &text) override;

private:
    QList<std::shared_ptr<NRS3Bucket>> m_buckets;
    std::shared_ptr<NRS3Bucket> m_currentBucket;
    QString m_ownerID, m_ownerName;
};
