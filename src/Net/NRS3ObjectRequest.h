#pragma once

#include "Net/NRS3Request.h"

// One object: got, put (from bytes or a file), copied, removed or looked at.
class NRS3ObjectRequest : public NRS3Request {
public:
    static std::shared_ptr<NRS3ObjectRequest> requestWithBucket(const QString &bucket, const QString &key,
                                                                const QString &subResource = QString());
    static std::shared_ptr<NRS3ObjectRequest> PUTRequestForData(const QByteArray &data, const QString &bucket,
                                                                const QString &key);
    static std::shared_ptr<NRS3ObjectRequest> PUTRequestForFile(const QString &filePath, const QString &bucket,
                                                                const QString &key);
    static std::shared_ptr<NRS3ObjectRequest> DELETERequestWithBucket(const QString &bucket, const QString &key);
    static std::shared_ptr<NRS3ObjectRequest> COPYRequestFromBucket(const QString &sourceBucket,
                                                                    const QString &sourceKey, const QString &bucket,
                                                                    const QString &key);
    static std::shared_ptr<NRS3ObjectRequest> HEADRequestWithBucket(const QString &bucket, const QString &key);
    using NRS3Request::NRS3Request;

    QString bucket() const override;
    QString key() const;
    void setBucket(const QString &bucket);
    void setKey(const QString &key);
    QString subResource() const;
    void setSubResource(const QString &subResource);
    QString sourceBucket() const;
    void setSourceBucket(const QString &bucket);
    QString sourceKey() const;
    void setSourceKey(const QString &key);
    // The one set, else the body file's type, else "application/octet-stream".
    QString mimeType() const;
    void setMimeType(const QString &mimeType);
    // "STANDARD" or "REDUCED_REDUNDANCY", sent as "x-amz-storage-class".
    QString storageClass() const;
    void setStorageClass(const QString &storageClass);

    QUrl buildURL() const override;
    QString canonicalizedResource() const override;
    QMap<QString, QString> S3Headers() const override;
    std::shared_ptr<NRHTTPRequest> copy() const override;
    // Also with what its signature names: the bucket, the key and the sub-resource.
    std::shared_ptr<NRHTTPRequest> HEADRequest() const override;

protected:
    QString contentTypeToSign() const override;
    // An object got whole or in part is its content, XML or not.
    bool replyIsServiceAnswer() const override;

private:
    QString m_bucket, m_key, m_subResource, m_sourceBucket, m_sourceKey, m_mimeType, m_storageClass;
};
