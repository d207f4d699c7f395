// The photo service's conditional writes against the photo-album fake
// (tests/peers/photos_fake.py): "If-Match" goes with a strong ETag, a stale
// one is refused with 412 and leaves the album as it was.
#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/Service/DAServiceGooglePhotos.h"
#include "DA/Service/ServiceOutcome.h"
#include "Net/NRHTTPRequest.h"
#include "support/PeerRequest.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace ServiceTestSupport;

namespace {

QJsonObject peer() { return VNTest::peerState(QStringLiteral("photos")); }
QString httpBase() { return QStringLiteral("http://127.0.0.1:%1").arg(peer().value(QStringLiteral("http_port")).toInt()); }
QString httpsBase() { return QStringLiteral("https://127.0.0.1:%1").arg(peer().value(QStringLiteral("https_port")).toInt()); }

// One plain request to the fake, waited for.
QByteArray plain(const QString &url, const QByteArray &body = {}, QString *location = nullptr) {
    const VNTest::PeerReply reply = VNTest::peerRequest(QUrl(url), body);
    if (location)
        *location = reply.location;
    return reply.body;
}

QByteArray control(const QString &what) { return plain(httpBase() + "/__control/" + what, "{}"); }

QString accessToken() {
    QString location;
    plain(httpBase() + "/o/oauth2/auth?redirect_uri=http%3A%2F%2F127.0.0.1%2Fcb", {}, &location);
    const QString code = QUrlQuery(QUrl(location)).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    const QByteArray reply = plain(httpBase() + "/o/oauth2/token",
                                   "grant_type=authorization_code&code=" + QUrl::toPercentEncoding(code));
    return QJsonDocument::fromJson(reply).object().value(QStringLiteral("access_token")).toString();
}

class PhotoServiceETag : public ::testing::Test {
protected:
    void SetUp() override {
        if (peer().isEmpty())
            FAIL() << "the photos peer did not start";
        NRHTTPRequest::setTestCertificateAuthorityFile(peer().value(QStringLiteral("ca_file")).toString());
        DAServiceGooglePhotos::setPhotoHostURLString(httpsBase());
        service = DAServiceGooglePhotos::make();
    }
    void TearDown() override { DAServiceGooglePhotos::setPhotoHostURLString(QString()); }

    std::shared_ptr<Outcome> wait(const std::shared_ptr<Outcome> &out) {
        EXPECT_TRUE(VNTest::waitUntil([&] { return out->calls > 0; }, 20000));
        return out;
    }

    DAEntryBasePtr album(const QString &title) {
        auto out = std::make_shared<Outcome>();
        service->fetchFeedWithURL(DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {}),
                                  record(out));
        auto feed = std::dynamic_pointer_cast<DAFeedBase>(wait(out)->object);
        EXPECT_FALSE(out->error) << (out->error ? (out->error->domain() + QString::number(out->error->code()) + out->error->userInfo().value(QStringLiteral("error")).toString()).toStdString() : "");
        if (feed)
            for (const auto &entry : feed->entries())
                if (entry->title() && entry->title()->stringValue() == title)
                    return entry;
        return nullptr;
    }

    // The "If-Match" of the fake's last logged request of that method.
    QString lastIfMatch(const QString &method) {
        QString value = QStringLiteral("(none sent)");
        for (const auto &v : QJsonDocument::fromJson(control(QStringLiteral("log"))).array())
            if (v.toObject()[QStringLiteral("method")].toString() == method)
                value = v.toObject()[QStringLiteral("headers")].toObject()[QStringLiteral("If-Match")].toString();
        return value;
    }

    std::shared_ptr<DAServiceGooglePhotos> service;
};

}  // namespace

TEST_F(PhotoServiceETag, StaleETagsAreRefusedAndChangeNothing) {
    enum Form { UpdateAtURL, DeleteURL };
    struct Row {
        const char *name;
        Form form;
        const char *etag;
        qint64 code;
        bool albumLeft;
        const char *title;
    } rows[] = {
        {"update with a stale ETag", UpdateAtURL, "\"a0\"", 412, true, "Holiday"},
        {"update with the current ETag", UpdateAtURL, "\"a1\"", 0, true, "Renamed"},
        {"delete with a stale ETag", DeleteURL, "\"a0\"", 412, true, "Holiday"},
        {"delete with the current ETag", DeleteURL, "\"a1\"", 0, false, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        control(QStringLiteral("reset"));  // forgets the tokens too
        service->setAuthToken(accessToken());
        auto entry = album(QStringLiteral("Holiday"));
        ASSERT_TRUE(entry && entry->editLink());
        EXPECT_EQ(entry->ETag(), QStringLiteral("\"a1\""));
        const QUrl edit(entry->editLink()->href());
        const QString etag = QString::fromLatin1(row.etag);
        auto out = std::make_shared<Outcome>();
        if (row.form == UpdateAtURL) {
            entry->setETag(etag);
            entry->setTitleWithString(QStringLiteral("Renamed"));
            service->fetchEntryByUpdatingEntry(entry, edit, record(out));
        } else {
            service->deleteResourceURL(edit, etag, record(out));
        }
        wait(out);
        EXPECT_EQ(out->error ? out->error->code() : 0, row.code);
        EXPECT_EQ(lastIfMatch(row.form == UpdateAtURL ? QStringLiteral("PUT") : QStringLiteral("DELETE")), etag);
        const QJsonObject tree = QJsonDocument::fromJson(control(QStringLiteral("tree"))).object();
        const bool left = tree.contains(QStringLiteral("/Holiday")) || tree.contains(QStringLiteral("/Renamed"));
        EXPECT_EQ(left, row.albumLeft);
        if (row.title)
            EXPECT_TRUE(tree.contains(QLatin1Char('/') + QLatin1String(row.title)));
    }
}
