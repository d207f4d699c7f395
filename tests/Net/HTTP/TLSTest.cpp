// TLS: valid through the test CA, refused when self-signed, expired or for
// another host unless validation is off.
#include "Net/NetTestSupport.h"

using namespace NetTest;

namespace {
class TLS : public ::testing::Test {
protected:
    void SetUp() override { mapTestHosts(); }
    QUrl url(const char *portKey, const QString &host = QStringLiteral("secure.varnello.test")) {
        return QUrl(QStringLiteral("https://%1:%2/files/hello.txt").arg(host).arg(apache()[QLatin1String(portKey)].toInt()));
    }
    void expectSSLFailure(const QUrl &u) {
        auto r = NRHTTPRequest::requestWithURL(u);
        EXPECT_EQ(run(r)->failed, 1) << u.toString().toStdString();
        EXPECT_EQ(errorCode(r), 1);
        EXPECT_TRUE(r->error()->localizedDescription().contains(QLatin1String("SSL problem")))
            << r->error()->localizedDescription().toStdString();
        auto relaxed = NRHTTPRequest::requestWithURL(u);
        relaxed->setValidatesSecureCertificate(false);
        EXPECT_EQ(run(relaxed)->finished, 1) << u.toString().toStdString();
        EXPECT_EQ(relaxed->responseString(), QStringLiteral("hello, world\n"));
    }
};
}  // namespace

TEST_F(TLS, ValidThroughTheTestCA) {
    for (const QString host : {QStringLiteral("secure.varnello.test"), QStringLiteral("localhost")}) {
        auto r = NRHTTPRequest::requestWithURL(url("https_port", host));
        EXPECT_EQ(run(r)->finished, 1) << host.toStdString();
        EXPECT_EQ(r->responseString(), QStringLiteral("hello, world\n"));
    }
}

TEST_F(TLS, SelfSignedRefusedUnlessValidationOff) { expectSSLFailure(url("selfsigned_port", QStringLiteral("localhost"))); }

TEST_F(TLS, ExpiredRefusedUnlessValidationOff) { expectSSLFailure(url("expired_port")); }

TEST_F(TLS, WrongHostRefusedUnlessValidationOff) { expectSSLFailure(url("https_port", QStringLiteral("wrong.varnello.test"))); }

TEST_F(TLS, UnknownCARefused) {
    NRHTTPRequest::setTestCertificateAuthorityFile(QString());
    auto r = NRHTTPRequest::requestWithURL(url("https_port"));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 1);
    mapTestHosts();
}

TEST_F(TLS, PlainHTTPIgnoresValidation) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/hello.txt")));
    r->setValidatesSecureCertificate(true);
    EXPECT_EQ(run(r)->finished, 1);
}
