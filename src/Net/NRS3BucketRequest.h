#pragma once

#include "Net/NRS3BucketObject.h"
#include "Net/NRS3Request.h"

#include <QList>
#include <QStringList>

// A bucket: its object list (with prefix, marker, delimiter and a maximum
// count), or its creation (PUT) and removal (DELETE).
class NRS3BucketRequest : public NRS3Request {
public:
    static std::shared_ptr<NRS3BucketRequest> requestWithBucket(const QString &bucket,
                                                                const QString &subResource = QString());
    static std::shared_ptr<NRS3BucketRequest> PUTRequestWithBucket(const QString &bucket);
    static std::shared_ptr<NRS3BucketRequest> DELETERequestWithBucket(const QString &bucket);
    using NRS3Request::NRS3Request;

    QString bucket() const override;
    void setBucket(const QString &bucket);
    QString subResource() const;
    void setSubResource(const QString &subResource);
    QString prefix() const;
    void setPrefix(const QString &prefix);
    QString marker() const;
    void setMarker(const QString &marker);
    QString delimiter() const;
    void setDelimiter(const QString &delimiter);
    // 0 or less: no maximum.
    int maxResultCount() const;
    void setMaxResultCount(int count);

    QList<std::shared_ptr<NRS3BucketObject>> objects() const;
    QStringList commonPrefixes() const;
    bool isTruncated() const;

    QUrl buildURL() const override;
    QString canonicalizedResource() const override;
    std::shared_ptr<NRHTTPRequest> copy() const override;
    // Also with what its signature names: the bucket and the sub-resource.
    std::shared_ptr<NRHTTPRequest> HEADRequest() const override;

protected:
    void didStartElement(const QString &name) override;
    void didEndElement(const QString &name, const QString &text) override;

private:
    QString m_bucket, m_subResource, m_prefix, m_marker, m_delimiter;
    int m_maxResultCount = 0;
    QList<std::shared_ptr<NRS3BucketObject>> m_objects;
    std::shared_ptr<NRS3BucketObject> m_currentObject;
    QStringList m_commonPrefixes;
    bool m_isTruncated = false;
};
