// S3 requests: URLs, resources and the string signed, then a bucket made,
// listed, filled, read and emptied against s3rver, which checks every
// signature, and a wrong secret refused with the server's own text.
#include "Net/NRS3BucketRequest.h"
#include "Net/NRS3ObjectRequest.h"
#include "Net/NRS3ServiceRequest.h"
#include "Net/NRRequestQueue.h"
#include "Net/NetTestSupport.h"
#include "support/TestSupport.h"

#include <QTimeZone>
#include <gtest/gtest.h>

TEST(S3Request, URLsResourcesAndTheStringToSign) {
    NRS3Request::setS3Host("s3.example.test");
    auto object = NRS3ObjectRequest::requestWithBucket("bk", "a b/c+d.txt");
    EXPECT_EQ(object->canonicalizedResource(), "/bk/a%20b/c%2Bd.txt");
    EXPECT_EQ(object->url().toString(QUrl::FullyEncoded), "http://bk.s3.example.test/a%20b/c%2Bd.txt");
    EXPECT_EQ(NRS3Request::stringByURLEncodingForS3Path("x~y:z/(1)"), "/x%7Ey%3Az/%281%29");
    EXPECT_EQ(NRS3Request::stringByURLEncodingForS3Path(QString()), "/");

    auto bucket = NRS3BucketRequest::requestWithBucket("bk");
    bucket->setPrefix("photos/2013 & more");
    bucket->setMaxResultCount(100);
    EXPECT_TRUE(bucket->buildURL().toString(QUrl::FullyEncoded).endsWith("/?prefix=photos/2013%20%26%20more&max-keys=100") ||
                bucket->buildURL().toString(QUrl::FullyEncoded).endsWith("?prefix=photos/2013%20%26%20more&max-keys=100"))
        << bucket->buildURL().toString(QUrl::FullyEncoded).toStdString();
    EXPECT_EQ(bucket->canonicalizedResource(), "/bk/");
    auto acl = NRS3BucketRequest::requestWithBucket("bk", "acl");
    acl->setPrefix("p");
    acl->setMaxResultCount(100);
    EXPECT_TRUE(acl->buildURL().toString(QUrl::FullyEncoded).endsWith("/?acl&prefix=p&max-keys=100"));
    EXPECT_EQ(acl->canonicalizedResource(), "/bk/?acl");

    // x-amz headers in order of their lower-case names, whatever their values.
    auto put = NRS3ObjectRequest::PUTRequestForData("data", "bk", "k");
    put->setDate(QDateTime(QDate(2013, 5, 1), QTime(10, 20, 30), QTimeZone::utc()));
    const QString signedText =
        put->stringToSignForHeaders({{"X-Amz-Meta-Zeta", "a"}, {"x-amz-acl", "z"}}, put->canonicalizedResource());
    EXPECT_EQ(signedText, "PUT\n\napplication/octet-stream\nWed, 1 May 2013 10:20:30 +0000\n"
                          "x-amz-acl:z\nx-amz-meta-zeta:a\n/bk/k");
    EXPECT_EQ(put->stringToSignForHeaders({{"x-amz-date", "D"}}, "/bk/k"), "PUT\n\napplication/octet-stream\n\nx-amz-date:D\n/bk/k");
    auto get = NRS3ObjectRequest::requestWithBucket("bk", "k");
    get->setDate(QDateTime(QDate(2013, 5, 1), QTime(10, 20, 30), QTimeZone::utc()));
    EXPECT_EQ(get->stringToSignForHeaders({}, get->canonicalizedResource()),
              "GET\n\n\nWed, 1 May 2013 10:20:30 +0000\n/bk/k");
    // RFC 2202's HMAC-SHA1 of the quick brown fox, in Base64.
    EXPECT_EQ(NRS3Request::HMACSHA1withKey("key", "The quick brown fox jumps over the lazy dog"),
              "3nybhbi3iqa8ino29wqQcBydtNk=");
}

namespace {

class S3Service : public ::testing::Test {
protected:
    void SetUp() override {
        const QJsonObject peer = VNTest::peerState(QStringLiteral("s3rver"));
        const QString host = peer[QStringLiteral("host")].toString();
        NRS3Request::setS3Host(host + QStringLiteral(":%1").arg(peer[QStringLiteral("port")].toInt()));
        NRHTTPRequest::setTestHostsMappedToLoopback({host, "vn-bucket." + host, "vn-other." + host, "vn-query." + host});
        NRS3Request::setSharedAccessKey(peer[QStringLiteral("access_key")].toString());
        NRS3Request::setSharedSecretAccessKey(peer[QStringLiteral("secret")].toString());
        NRS3Request::setSignsBucketRootWithoutSlash(true);  // as s3rver does
    }
    void TearDown() override {
        NRS3Request::setSignsBucketRootWithoutSlash(false);
    }
    static void runOK(const std::shared_ptr<NRHTTPRequest> &request) {
        auto outcome = NetTest::run(request);
        ASSERT_EQ(outcome->finished, 1) << request->responseString().toStdString();
        ASSERT_LT(request->responseStatusCode(), 300) << request->responseString().toStdString();
    }
};

}  // namespace

TEST_F(S3Service, ABucketIsMadeListedFilledReadAndEmptied) {
    runOK(NRS3BucketRequest::PUTRequestWithBucket("vn-bucket"));
    auto service = NRS3ServiceRequest::serviceRequest();
    runOK(service);
    QStringList names;
    for (const auto &b : service->buckets())
        names << b->name;
    EXPECT_TRUE(names.contains("vn-bucket")) << names.join(",").toStdString();

    const QByteArray data = NetTest::pattern(70000);
    const QString key = "folder/a b+c.bin";
    runOK(NRS3ObjectRequest::PUTRequestForData(data, "vn-bucket", key));
    auto listing = NRS3BucketRequest::requestWithBucket("vn-bucket");
    listing->setPrefix("folder/");
    runOK(listing);
    ASSERT_EQ(listing->objects().size(), 1);
    EXPECT_EQ(listing->objects()[0]->key, key);
    EXPECT_EQ(listing->objects()[0]->size, 70000u);
    EXPECT_TRUE(listing->objects()[0]->lastModified.isValid());
    EXPECT_FALSE(listing->isTruncated());

    auto get = listing->objects()[0]->GETRequest();
    runOK(get);
    EXPECT_EQ(get->responseData(), data);
    runOK(listing->objects()[0]->DELETERequest());
    auto after = NRS3BucketRequest::requestWithBucket("vn-bucket");
    runOK(after);
    EXPECT_TRUE(after->objects().isEmpty());
}

TEST_F(S3Service, AListingOptionHoldingQueryCharactersSelectsWhatItSays) {
    // "&", "=" and "+" in a prefix, marker or delimiter are part of its value:
    // the listing holds the objects under that prefix and no others.
    NetTest::run(NRS3BucketRequest::PUTRequestWithBucket("vn-query"));  // made by an earlier run, perhaps
    const QStringList keys{"q/a&b/1", "q/a/2", "q/c+d/3", "q/c d/4", "q/e=f/5", "q/e/6"};
    for (const QString &key : keys)
        runOK(NRS3ObjectRequest::PUTRequestForData("x", "vn-query", key));
    const struct {
        const char *prefix;
        const char *only;
    } rows[] = {{"q/a&b/", "q/a&b/1"}, {"q/c+d/", "q/c+d/3"}, {"q/e=f/", "q/e=f/5"}};
    for (const auto &row : rows) {
        auto listing = NRS3BucketRequest::requestWithBucket("vn-query");
        listing->setPrefix(row.prefix);
        runOK(listing);
        QStringList found;
        for (const auto &object : listing->objects())
            found << object->key;
        EXPECT_EQ(found.join(",").toStdString(), row.only) << row.prefix;
    }
    // A marker with "&" starts after that key.
    auto marked = NRS3BucketRequest::requestWithBucket("vn-query");
    marked->setPrefix("q/a");
    marked->setMarker("q/a&b/1");
    runOK(marked);
    QStringList afterMarker;
    for (const auto &object : marked->objects())
        afterMarker << object->key;
    EXPECT_EQ(afterMarker.join(",").toStdString(), "q/a/2");
    for (const QString &key : keys)
        runOK(NRS3ObjectRequest::DELETERequestWithBucket("vn-query", key));
}

TEST_F(S3Service, AnXMLObjectIsTheObjectNotTheServicesAnswer) {
    // An object that happens to be XML, with the elements the service's own
    // answers use, comes back as stored: neither a failure nor a retry.
    NetTest::run(NRS3BucketRequest::PUTRequestWithBucket("vn-query"));  // made by an earlier run, perhaps
    const QByteArray xml = "<?xml version=\"1.0\"?><Error><Code>RequestTimeout</Code><Message>in the file</Message></Error>";
    auto put = NRS3ObjectRequest::PUTRequestForData(xml, "vn-query", "doc.xml");
    put->setMimeType("application/xml");
    runOK(put);
    auto get = NRS3ObjectRequest::requestWithBucket("vn-query", "doc.xml");
    runOK(get);
    EXPECT_EQ(get->responseHeader("Content-Type"), "application/xml");
    EXPECT_EQ(get->responseData(), xml);
    EXPECT_EQ(get->retryCount(), 0);
    // The service's answer about a missing object is still read as one.
    auto missing = NRS3ObjectRequest::requestWithBucket("vn-query", "no such.xml");
    EXPECT_EQ(NetTest::run(missing)->failed, 1);
    EXPECT_EQ(NetTest::errorCode(missing), NRS3Request::S3ErrorType);
    runOK(NRS3ObjectRequest::DELETERequestWithBucket("vn-query", "doc.xml"));
}

TEST_F(S3Service, AWrongSecretIsRefusedWithTheServersText) {
    auto request = NRS3ServiceRequest::serviceRequest();
    request->setSecretAccessKey("not-the-secret");
    auto outcome = NetTest::run(request);
    EXPECT_EQ(outcome->failed, 1);
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code(), NRS3Request::S3ErrorType);
    // A code of its own: never read as any of the engine's (12: a reply too large to keep).
    EXPECT_GT(request->error()->code(), NRHTTPRequest::ResponseTooLargeErrorType);
    EXPECT_TRUE(request->error()->localizedDescription().contains("signature", Qt::CaseInsensitive))
        << request->error()->localizedDescription().toStdString();
}

TEST_F(S3Service, AHEADRequestIsOfItsOwnKindAndSigned) {
    // s3rver refuses whatever is not signed for the HEAD method.
    runOK(NRS3BucketRequest::PUTRequestWithBucket("vn-other"));
    runOK(NRS3ObjectRequest::PUTRequestForData(NetTest::pattern(1234), "vn-other", "dir/the head.bin"));
    auto object = NRS3ObjectRequest::requestWithBucket("vn-other", "dir/the head.bin");
    auto head = object->HEADRequest();
    ASSERT_TRUE(std::dynamic_pointer_cast<NRS3ObjectRequest>(head));
    EXPECT_EQ(head->mainRequest(), object);
    EXPECT_EQ(head->requestMethod(), "HEAD");
    // It speaks through its main request only: it ends without a word.
    head->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return head->isFinished(); }));
    ASSERT_FALSE(head->error());
    ASSERT_EQ(head->responseStatusCode(), 200);
    EXPECT_EQ(object->contentLength(), 1234u);
    EXPECT_EQ(head->responseHeader("Content-Length"), "1234");
    EXPECT_TRUE(head->requestHeaders().value("Authorization").startsWith("AWS S3RVER:"));

    // Its main request gone, it is a plain HEAD request that reports its end.
    auto bucketHead = NRS3BucketRequest::requestWithBucket("vn-other")->HEADRequest();
    ASSERT_TRUE(std::dynamic_pointer_cast<NRS3BucketRequest>(bucketHead));
    runOK(bucketHead);
    EXPECT_TRUE(std::dynamic_pointer_cast<NRS3ServiceRequest>(NRS3ServiceRequest::serviceRequest()->HEADRequest()));

    runOK(NRS3ObjectRequest::DELETERequestWithBucket("vn-other", "dir/the head.bin"));
    runOK(NRS3BucketRequest::DELETERequestWithBucket("vn-other"));
}

// A queue learning a GET's size first sends a HEAD request for it, which
// signs itself for HEAD (the GET's own signature, made when the queue took
// the GET, is refused for it).
TEST_F(S3Service, AQueuesHEADRequestForAGETSignsItself) {
    runOK(NRS3BucketRequest::PUTRequestWithBucket("vn-other"));
    runOK(NRS3ObjectRequest::PUTRequestForData(NetTest::pattern(1234), "vn-other", "sized.bin"));
    auto queue = NRRequestQueue::queue();
    queue->setShowAccurateProgress(true);
    auto get = NRS3ObjectRequest::requestWithBucket("vn-other", "sized.bin");
    int finished = 0, failed = 0;
    get->setCompletionBlock([&] { ++finished; });
    get->setFailedBlock([&] { ++failed; });
    queue->addRequest(get);
    std::shared_ptr<NRHTTPRequest> head;
    for (const auto &operation : queue->operations())
        if (operation != get)
            head = operation;
    ASSERT_TRUE(head);
    queue->go();
    ASSERT_TRUE(VNTest::waitUntil([&] { return finished + failed > 0; }));
    EXPECT_EQ(head->responseStatusCode(), 200);
    EXPECT_FALSE(head->error());
    EXPECT_NE(head->requestHeaders().value("Authorization"), get->requestHeaders().value("Authorization"));
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(get->responseData(), NetTest::pattern(1234));
    EXPECT_EQ(queue->totalBytesToDownload(), 1234u);
    runOK(NRS3ObjectRequest::DELETERequestWithBucket("vn-other", "sized.bin"));
    runOK(NRS3BucketRequest::DELETERequestWithBucket("vn-other"));
}

TEST(S3Redirect, ATemporaryRedirectToAnotherRegionIsFollowed) {
    // The service sends a bucket to its own region's endpoint with a 307;
    // the request goes there, signed again, instead of back to the first URL.
    const int port = VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("port")].toInt();
    NRS3Request::setS3Host(QStringLiteral("s3.example.test:%1").arg(port));
    NRS3Request::setSharedAccessKey("key");
    NRS3Request::setSharedSecretAccessKey("secret");
    NRHTTPRequest::setTestHostsMappedToLoopback({"bk.s3.example.test", "bk.s3-eu.example.test"});
    auto request = NRS3ObjectRequest::requestWithBucket(
        "bk", "redirect", QStringLiteral("code=307&to=http://bk.s3-eu.example.test:%1/echo").arg(port));
    auto outcome = NetTest::run(request);
    NRHTTPRequest::setTestHostsMappedToLoopback({});
    ASSERT_EQ(outcome->finished, 1) << (request->error() ? request->error()->localizedDescription().toStdString() : "");
    EXPECT_EQ(request->redirectCount(), 1);
    const QJsonObject echo = NetTest::echoOf(request);
    EXPECT_EQ(echo["headers"].toObject()["Host"].toString(), QStringLiteral("bk.s3-eu.example.test:%1").arg(port));
    EXPECT_TRUE(echo["headers"].toObject()["Authorization"].toString().startsWith("AWS key:"));
}

// The fake checks the signature a request arrives with against that very
// request (method, headers, path), or for the resource in X-Check-Resource.
// Redirected within its origin over https, a request signs again for its
// new URL; over plain http, where anybody on the way could have named that
// URL (a 307 keeps a DELETE), for the resource its own fields name. A HEAD
// request made for another one, redirected away from that one's origin,
// carries no signature there.
TEST(S3Redirect, ARedirectWithinTheOriginIsSignedForItsNewURLOnlyOverHTTPS) {
    const QJsonObject fake = VNTest::peerState(QStringLiteral("httpfake"));
    const int port = fake[QStringLiteral("port")].toInt();
    NRS3Request::setSharedAccessKey("key");
    NRS3Request::setSharedSecretAccessKey("secret");
    NRHTTPRequest::setTestHostsMappedToLoopback({"bk.s3.example.test", "bk.s3-eu.example.test"});
    const QString elsewhere = QStringLiteral("http://bk.s3-eu.example.test:%1").arg(port);
    const struct {
        const char *name;
        const char *method;
        bool madeForAGET;  // a HEAD request made for a GET
        const char *scheme;
        int code;
        QString to;
        bool checkOwnResource;  // else the target's
        const char *signature;  // as the server found it
    } rows[] = {
        {"a HEAD made for a GET, 302 within the origin", "HEAD", true, "http", 302, "/s3signed", true, "valid"},
        {"a HEAD made for a GET, 307 within the origin", "HEAD", true, "http", 307, "/s3signed", true, "valid"},
        {"a HEAD made for a GET over https, to a sub-resource", "HEAD", true, "https", 302, "/s3signed?acl&prefix=p",
         false, "valid"},
        // (A 302 drops X-Check-Resource with the caller's other headers; a 307 keeps them.)
        {"a HEAD of its own, 307 within the origin", "HEAD", false, "http", 307, "/s3signed", true, "valid"},
        {"a GET, 307 within the origin", "GET", false, "http", 307, "/s3signed", true, "valid"},
        {"a GET over https, 302 within the origin, for the target's path", "GET", false, "https", 302, "/s3signed",
         false, "valid"},
        {"a GET, 302 within the origin, for the target's path", "GET", false, "http", 302, "/s3signed", false,
         "invalid"},
        {"a HEAD made for a GET, 302 to another origin", "HEAD", true, "http", 302, elsewhere + "/s3signed", false,
         "missing"},
        {"a HEAD made for a GET, 307 to another origin", "HEAD", true, "http", 307, elsewhere + "/s3signed", false,
         "missing"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const bool https = std::string(row.scheme) == "https";
        NRS3Request::setS3Host(
            QStringLiteral("s3.example.test:%1").arg(fake[https ? QStringLiteral("https_port") : QStringLiteral("port")].toInt()));
        const QString redirect =
            QStringLiteral("code=%1&to=%2").arg(row.code).arg(QString::fromLatin1(QUrl::toPercentEncoding(row.to)));
        auto made = NRS3ObjectRequest::requestWithBucket("bk", "redirect", redirect);
        made->setRequestScheme(row.scheme);
        made->setURL(made->buildURL());
        made->setValidatesSecureCertificate(false);  // the test CA's certificate names no bucket host
        if (row.checkOwnResource)
            made->addRequestHeader("X-Check-Resource", made->canonicalizedResource());
        std::shared_ptr<NRHTTPRequest> request = made;
        if (row.madeForAGET)
            request = made->HEADRequest();
        else
            made->setRequestMethod(row.method);
        request->startAsynchronous();
        EXPECT_TRUE(VNTest::waitUntil([&] { return request->isFinished(); }, 10000));
        EXPECT_EQ(request->redirectCount(), 1);
        EXPECT_EQ(request->responseHeader("X-Signature").toStdString(), row.signature);
        EXPECT_EQ(request->responseStatusCode(), std::string(row.signature) == "valid" ? 200 : 403);
    }
    NRHTTPRequest::setTestHostsMappedToLoopback({});
}

// Whoever sends the redirect never chooses what a signature names: away
// from the origin a request goes unsigned, but to the bucket's endpoint in
// another region, which gets the signature of the request's own resource
// (the fake checks it for the resource in X-Check-Resource; without it, for
// the target's own path, which it must not be). Sent back to its origin
// by another, even over https, it signs its own resource: the other host
// chose the URL it came back to. A copy of a request that was redirected,
// and a HEAD request made from that copy, start at its last URL and sign
// there as the request itself did; a copy sent to the URL its own fields
// make (over https instead) is at its own origin there.
TEST(S3Redirect, ARedirectAwayFromTheOriginIsNeverSignedForItsTarget) {
    const int port = VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("port")].toInt();
    const int httpsPort = VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("https_port")].toInt();
    NRS3Request::setSharedAccessKey("key");
    NRS3Request::setSharedSecretAccessKey("secret");
    NRHTTPRequest::setTestHostsMappedToLoopback(
        {"bk.s3.example.test", "bk.s3-eu.example.test", "bk.evil.test", "bk2.s3-eu.example.test", "bk.s3-eu.evil.test"});
    const auto at = [port, httpsPort](const char *host, const QString &pathAndQuery, bool https = false) {
        return QStringLiteral("%1://%2:%3%4")
            .arg(QLatin1String(https ? "https" : "http"), QLatin1String(host))
            .arg(https ? httpsPort : port)
            .arg(pathAndQuery);
    };
    // Another origin that sends the request back to its first one.
    const auto backHomeOver = [&at](bool https) {
        return at("bk.evil.test",
                  QStringLiteral("/redirect?code=307&to=") +
                      QString::fromLatin1(QUrl::toPercentEncoding(at("bk.s3.example.test", "/s3signed", https))),
                  https);
    };
    const QString backHome = backHomeOver(false);
    enum Sent { Itself, ItsCopy, AHEADOfItsCopy, ItsCopyOverHTTPS };
    const struct {
        const char *name;
        const char *method;
        int code;
        QString to;
        bool checkOwnResource;  // else the target's
        int redirects;
        const char *signature;  // as the server found it
        Sent sent = Itself;     // else made once the request has been redirected
        bool https = false;     // the request and every place it is sent to
    } rows[] = {
        {"a GET, 302 to another origin", "GET", 302, at("bk.evil.test", "/s3signed"), false, 1, "missing"},
        {"a GET, 307 to another origin", "GET", 307, at("bk.evil.test", "/s3signed"), false, 1, "missing"},
        {"a DELETE, 302 to another origin", "DELETE", 302, at("bk.evil.test", "/s3signed"), false, 1, "missing"},
        {"a DELETE, 307 to another origin", "DELETE", 307, at("bk.evil.test", "/s3signed"), false, 1, "missing"},
        {"a DELETE, 307 to another region", "DELETE", 307, at("bk.s3-eu.example.test", "/s3signed"), true, 1, "valid"},
        {"a GET, 307 to another region", "GET", 307, at("bk.s3-eu.example.test", "/s3signed"), true, 1, "valid"},
        {"a DELETE, 307 to another region, for the target's path", "DELETE", 307,
         at("bk.s3-eu.example.test", "/s3signed"), false, 1, "invalid"},
        {"a DELETE, 307 to another bucket's region", "DELETE", 307, at("bk2.s3-eu.example.test", "/s3signed"), true, 1,
         "missing"},
        {"a DELETE, 307 to another domain's region", "DELETE", 307, at("bk.s3-eu.evil.test", "/s3signed"), true, 1,
         "missing"},
        {"a DELETE sent back to its origin by another", "DELETE", 307, backHome, true, 2, "valid"},
        {"a DELETE sent back to its origin by another, for the target's path", "DELETE", 307, backHome, false, 2,
         "invalid"},
        {"a DELETE over https sent back to its origin by another", "DELETE", 307, backHomeOver(true), true, 2, "valid",
         Itself, true},
        {"a DELETE over https sent back to its origin by another, for the target's path", "DELETE", 307,
         backHomeOver(true), false, 2, "invalid", Itself, true},
        {"a copy of a DELETE sent to another origin", "DELETE", 307, at("bk.evil.test", "/s3signed"), true, 0, "missing",
         ItsCopy},
        {"a copy of a DELETE sent to another region", "DELETE", 307, at("bk.s3-eu.example.test", "/s3signed"), true, 0,
         "valid", ItsCopy},
        {"a HEAD made from a copy of a DELETE sent to another origin", "DELETE", 307, at("bk.evil.test", "/s3signed"),
         true, 0, "missing", AHEADOfItsCopy},
        {"a HEAD made from a copy of a DELETE sent to another region", "DELETE", 307,
         at("bk.s3-eu.example.test", "/s3signed"), true, 0, "valid", AHEADOfItsCopy},
        {"a copy of a GET that stayed, sent over https", "GET", 200, at("bk.evil.test", "/s3signed"), false, 0, "valid",
         ItsCopyOverHTTPS},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        NRS3Request::setS3Host(QStringLiteral("s3.example.test:%1").arg(row.https ? httpsPort : port));
        auto first = NRS3ObjectRequest::requestWithBucket(
            "bk", "redirect",
            QStringLiteral("code=%1&to=%2").arg(row.code).arg(QString::fromLatin1(QUrl::toPercentEncoding(row.to))));
        if (row.https) {
            first->setRequestScheme("https");
            first->setURL(first->buildURL());
            first->setValidatesSecureCertificate(false);  // the test CA's certificate names no bucket host
        }
        first->setRequestMethod(row.method);
        if (row.checkOwnResource)
            first->addRequestHeader("X-Check-Resource", first->canonicalizedResource());
        NetTest::run(first);
        std::shared_ptr<NRHTTPRequest> request = first, copy;
        if (row.sent != Itself) {
            copy = first->copy();
            request = row.sent == AHEADOfItsCopy ? copy->HEADRequest() : copy;
            if (row.sent == ItsCopyOverHTTPS) {
                auto object = std::static_pointer_cast<NRS3ObjectRequest>(copy);
                object->setKey("s3signed");
                object->setSubResource(QString());
                object->setRequestScheme("https");
                object->setValidatesSecureCertificate(false);  // the test CA's certificate names no bucket host
                NRS3Request::setS3Host(QStringLiteral("s3.example.test:%1").arg(httpsPort));
            }
            if (row.sent != AHEADOfItsCopy)
                NetTest::run(request);
            else
                NetTest::runForMainRequest(request);
        }
        EXPECT_EQ(request->redirectCount(), row.redirects);
        EXPECT_EQ(request->responseHeader("X-Signature").toStdString(), row.signature);
    }
    NRHTTPRequest::setTestHostsMappedToLoopback({});
}

TEST(S3Request, TheBucketsEndpointInAnotherRegion) {
    NRS3Request::setS3Host("s3.example.test:8000");
    const QUrl from("http://bk.s3.example.test:8000/k");
    const struct {
        const char *name;
        QUrl from;
        QString target;
        const char *bucket;
        bool region;
    } rows[] = {
        {"the bucket at a region's host", from, "http://bk.s3-eu.example.test:8000/k", "bk", true},
        {"a region named in a label of its own", from, "http://bk.s3.eu.example.test:8000/k", "bk", true},
        {"from the path-style URL", QUrl("http://s3.example.test:8000/bk/k"), "http://bk.s3-eu.example.test:8000/k",
         "bk", true},
        {"another bucket", from, "http://bk2.s3-eu.example.test:8000/k", "bk", false},
        {"the bucket's name ending another's", from, "http://xbk.s3-eu.example.test:8000/k", "bk", false},
        {"another domain", from, "http://bk.s3-eu.evil.test:8000/k", "bk", false},
        {"the service's domain inside another", from, "http://bk.s3-eu.example.test.evil.test:8000/k", "bk", false},
        {"a host not of the service", from, "http://bk.cdn.example.test:8000/k", "bk", false},
        {"the service's domain itself", from, "http://bk.example.test:8000/k", "bk", false},
        {"another port", from, "http://bk.s3-eu.example.test:8001/k", "bk", false},
        {"https down to http", QUrl("https://bk.s3.example.test:8000/k"), "http://bk.s3-eu.example.test:8000/k", "bk",
         false},
        {"no bucket", QUrl("http://s3.example.test:8000/"), "http://s3-eu.example.test:8000/", "", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(NRS3Request::isBucketRegionURL(row.from, QUrl(row.target), row.bucket), row.region) << row.name;
    NRS3Request::setS3Host("s3.amazonaws.com");
    EXPECT_TRUE(NRS3Request::isBucketRegionURL(QUrl("https://bk.s3.amazonaws.com/k"),
                                               QUrl("https://bk.s3-eu-west-1.amazonaws.com/k"), "bk"));
}

TEST(S3Request, TheResourceOfARedirectsURL) {
    NRS3Request::setS3Host("s3.example.test");
    EXPECT_EQ(NRS3Request::resourceForURL(QUrl("http://bk.s3.example.test/a%20b/c.txt"), "bk"), "/bk/a%20b/c.txt");
    // Only the sub-resources S3 signs, in order of their names.
    EXPECT_EQ(NRS3Request::resourceForURL(QUrl("http://bk.s3.example.test/k?versionId=2&prefix=p&acl"), "bk"),
              "/bk/k?acl&versionId=2");
    // Path style: the bucket is in its path already.
    EXPECT_EQ(NRS3Request::resourceForURL(QUrl("http://s3.example.test/bk/k"), "bk"), "/bk/k");
    EXPECT_EQ(NRS3Request::resourceForURL(QUrl("http://s3.example.test"), QString()), "/");
}

TEST(S3Errors, ARequestTimeoutIsSentAgainOnlyAsTheOneRetry) {
    // The fake numbers the attempts in its Message: a time-out is sent once
    // more on a new connection, the one retry a request gets, so not after a
    // time-out's or a broken connection's retry; then the service's answer
    // stands. Any other code is not sent again.
    const int port = VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("port")].toInt();
    NRS3Request::setS3Host(QStringLiteral("s3.example.test:%1").arg(port));
    NRS3Request::setSharedAccessKey("key");
    NRS3Request::setSharedSecretAccessKey("secret");
    NRHTTPRequest::setTestHostsMappedToLoopback({"bk.s3.example.test"});
    const struct {
        const char *name;
        const char *code;
        const char *first;  // what happens to the first attempt
        const char *message;
        int retries;
    } rows[] = {
        {"a time-out", "RequestTimeout", "", "attempt 2", 1},
        {"a time-out after a time-out's retry", "RequestTimeout", "stall", "attempt 2", 1},
        {"a time-out after a broken connection's retry", "RequestTimeout", "drop", "attempt 2", 1},
        {"another code", "SlowDown", "", "attempt 1", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = QStringLiteral("%1-%2-%3").arg(row.code, row.first).arg(QDateTime::currentMSecsSinceEpoch());
        auto request = NRS3ObjectRequest::requestWithBucket(
            "bk", "s3error", QStringLiteral("code=%1&key=%2&first=%3").arg(row.code, key, row.first));
        request->setTimeOutSeconds(1);
        request->setNumberOfTimesToRetryOnTimeout(1);
        // Each attempt on a connection of its own: libcurl would retry a kept
        // one that closes at once itself, unseen.
        request->setShouldAttemptPersistentConnection(false);
        auto outcome = NetTest::run(request);
        EXPECT_EQ(outcome->failed, 1);
        EXPECT_EQ(NetTest::errorCode(request), NRS3Request::S3ErrorType);
        EXPECT_EQ(request->error() ? request->error()->localizedDescription().toStdString() : "", row.message);
        EXPECT_EQ(request->retryCount(), row.retries);
    }
    NRHTTPRequest::setTestHostsMappedToLoopback({});
}

TEST(S3Request, ACopyIsOfItsOwnKind) {
    NRS3Request::setS3Host("s3.example.test");
    EXPECT_TRUE(std::dynamic_pointer_cast<NRS3ServiceRequest>(NRS3ServiceRequest::serviceRequest()->copy()));
    auto bucket = NRS3BucketRequest::requestWithBucket("bk");
    bucket->setPrefix("p/");
    bucket->setMarker("m");
    bucket->setDelimiter("/");
    bucket->setMaxResultCount(7);
    const auto copy = std::dynamic_pointer_cast<NRS3BucketRequest>(bucket->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->buildURL(), bucket->buildURL());
    EXPECT_TRUE(std::dynamic_pointer_cast<NRS3ObjectRequest>(NRS3ObjectRequest::requestWithBucket("bk", "k")->copy()));
}

