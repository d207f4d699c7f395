#pragma once

#include "Net/NRHTTPRequest.h"

#include <QDateTime>
#include <QMap>
#include <QStringList>

class QXmlStreamReader;

// A request to an S3 storage service: its URL made from the bucket, key and
// options, signed with the access key pair (HMAC-SHA1 over the canonical
// request, "AWS key:signature"), and an XML reply read as it is parsed. An
// error reply ("Message") fails the request with code S3ErrorType (13) and
// the server's message as its text; "RequestTimeout" sends it once more on
// a new connection, unless it was sent again already.
//
// Its origin is where it was first sent; a copy and a HEAD request keep the
// origin of the request they were made from, whatever URL they start at.
// Redirected within its origin over https, a request signs for its new URL;
// over plain http, whoever answers could name any resource (a 307 keeps a
// DELETE), so it signs the resource its fields name, as it does at the
// bucket's endpoint in another region; anywhere else it goes unsigned. A
// HEAD request made for another one signs only at that one's origin.
class NRS3Request : public NRHTTPRequest {
public:
    // Code of a request the storage service refused with an error reply (a
    // code of its own: the engine's codes end at 12).
    static constexpr int S3ErrorType = 13;
    static_assert(S3ErrorType > ResponseTooLargeErrorType);

    explicit NRS3Request(const QUrl &url = QUrl());

    static QString sharedAccessKey();
    static void setSharedAccessKey(const QString &key);
    static QString sharedSecretAccessKey();
    static void setSharedSecretAccessKey(const QString &key);
    // The service's host ("s3.amazonaws.com"); buckets are its sub-domains.
    static QString S3Host();
    static void setS3Host(const QString &host);
    // Some S3-like servers sign a bucket's root as "/bucket", not "/bucket/".
    static bool signsBucketRootWithoutSlash();
    static void setSignsBucketRootWithoutSlash(bool on);

    QString accessKey() const;
    void setAccessKey(const QString &key);
    QString secretAccessKey() const;
    void setSecretAccessKey(const QString &key);
    QString requestScheme() const;
    void setRequestScheme(const QString &scheme);
    // "private", "public-read", "public-read-write", "authenticated-read",
    // "bucket-owner-read" or "bucket-owner-full-control".
    QString accessPolicy() const;
    void setAccessPolicy(const QString &policy);
    // The date sent and signed (now, when none is set).
    void setDate(const QDateTime &date);
    QString dateString() const;

    virtual QString canonicalizedResource() const;
    // The bucket the request speaks to (none for the service's list).
    virtual QString bucket() const { return QString(); }
    // The resource a request to this URL names in its signature: the bucket
    // and the path as sent, and of the query the sub-resources S3 signs
    // (sorted), e.g. "/bk/a%20b.txt?acl".
    static QString resourceForURL(const QUrl &url, const QString &bucket);
    virtual QMap<QString, QString> S3Headers() const;
    // Whether a redirect from `from` to `target` is the service sending the
    // bucket to its endpoint in another region: the bucket's sub-domain of
    // another host of the service's domain ("bk.s3-eu-west-1.amazonaws.com"
    // for "s3.amazonaws.com"), with the same scheme and port.
    static bool isBucketRegionURL(const QUrl &from, const QUrl &target, const QString &bucket);
    // Method, date, the x-amz headers and the resource as they are signed;
    // with an "x-amz-date" among the headers the date line stays empty.
    QString stringToSignForHeaders(const QMap<QString, QString> &headers, const QString &resource) const;
    static QString HMACSHA1withKey(const QString &key, const QString &text);
    // Percent-escapes a key path (slashes stay) and puts "/" in front.
    static QString stringByURLEncodingForS3Path(const QString &path);
    static QString S3RequestDateString(const QDateTime &date);
    static QDateTime S3ResponseDate(const QString &text);

    std::shared_ptr<NRHTTPRequest> copy() const override;
    // A HEAD request of the same kind, with the keys: signed for HEAD.
    std::shared_ptr<NRHTTPRequest> HEADRequest() const override;

protected:
    template <class Kind>
    std::shared_ptr<Kind> makeHEADRequest() const {
        auto head = std::make_shared<Kind>(url());
        fillS3HEADRequest(*head);
        return head;
    }
    void fillS3HEADRequest(NRS3Request &head) const;
    // The request's URL from its fields (empty in the base).
    virtual QUrl buildURL() const { return QUrl(); }
    // The Content-Type a PUT of an object is signed and sent with (null:
    // not such a request).
    virtual QString contentTypeToSign() const { return QString(); }
    // Whether the reply is the service's own XML (a list, a result, an
    // error) rather than an object's content, which is never read as one.
    virtual bool replyIsServiceAnswer() const { return true; }
    // Elements of a reply, as parsed.
    virtual void didStartElement(const QString &name) { Q_UNUSED(name); }
    virtual void didEndElement(const QString &name, const QString &text) { Q_UNUSED(name); Q_UNUSED(text); }
    QStringList elementStack() const { return m_elementStack; }
    void copyS3SettingsTo(NRS3Request &other) const;
    // Sets the URL made from the fields and remembers it as made here.
    void useBuiltURL();

    void buildPostBody() override;
    ReplyVerdict reviewReply(VNErrorPtr *error) override;

private:
    void sign();
    // The resource the signature names at the current URL; null: none.
    QString resourceToSign();
    // Keys, scheme and origin: what a copy and a HEAD request sign with.
    void copyKeysTo(NRS3Request &other) const;

    QString m_accessKey, m_secretAccessKey;
    QString m_requestScheme = QStringLiteral("http");
    QString m_accessPolicy;
    QString m_dateString;
    QUrl m_builtURL;  // the URL last made from the fields
    // Where the request (or the one it was made from) was first sent, and
    // whether it has been redirected away from that origin since.
    QUrl m_firstURL;
    bool m_leftOrigin = false;
    QStringList m_elementStack;
};
