// Secrets stay with the origin they belong to: a hostile origin (another
// port, another host name, plain http, a host with the wrong certificate)
// is shown what each piece of code sends it.
#include "HostileFake.h"

#include "Cloud/DropboxSDK/Classes/DXRequest.h"
#include "Cloud/DropboxSDK/Classes/DXSession.h"
#include "Cloud/QNOffice365Handler.h"
#include "Cloud/QNOffice365SignIn.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDriveConfig.h"
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/Service/DAServiceGooglePhotos.h"
#include "Net/NRHTTPRequest.h"
#include "Net/NRSessionCredentialStore.h"

#include <QObject>
#include <gtest/gtest.h>

using Hostile::header;
using Hostile::received;
using Hostile::url;

namespace {

QString encoded(const QUrl &u) { return QString::fromLatin1(QUrl::toPercentEncoding(u.toString())); }

// Sends every redirect to a target of its own choosing.
class RedirectChooser : public QObject {
    Q_OBJECT
public:
    QUrl instead;
public slots:
    void requestWillRedirectToURL(NRHTTPRequest *request, const QUrl &) { request->redirectToURL(instead); }
};

}  // namespace

TEST(Redirects, CredentialHeadersStayWithTheirOrigin) {
    struct Row {
        const char *name;
        int code;
        const char *target;  // origin the server redirects to
        const char *chosen;  // origin a delegate sends the request to instead (or null)
        bool kept;           // the credentials arrive
    };
    const Row rows[] = {
        {"302 to another port", 302, "b", nullptr, false},
        {"307 to another port", 307, "b", nullptr, false},
        {"307 within the origin", 307, "a", nullptr, true},
        {"a delegate's target on another port", 302, "a", "b", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString tag = Hostile::tag();
        const QUrl target = url(row.target, tag + "/echo");
        auto request = NRHTTPRequest::requestWithURL(
            url("a", tag + QStringLiteral("/redirect?code=%1&to=%2").arg(row.code).arg(encoded(target))));
        request->setUseCookiePersistence(false);
        request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer s3cret"));
        request->addRequestHeader(QStringLiteral("Cookie"), QStringLiteral("session=s3cret"));
        RedirectChooser chooser;
        if (row.chosen) {
            chooser.instead = url(row.chosen, tag + "/echo");
            request->setDelegate(&chooser);
        }
        bool ended = false;
        request->setCompletionBlock([&] { ended = true; });
        request->setFailedBlock([&] { ended = true; });
        request->startAsynchronous();
        ASSERT_TRUE(VNTest::waitUntil([&] { return ended; }));
        EXPECT_EQ(request->responseStatusCode(), 200);
        const QList<QJsonObject> arrived = received(tag + "/echo");
        ASSERT_EQ(arrived.size(), 1);
        EXPECT_EQ(arrived[0][QStringLiteral("origin")].toString(), QLatin1String(row.chosen ? row.chosen : row.target));
        EXPECT_EQ(header(arrived[0], "Authorization").isNull(), !row.kept);
        EXPECT_EQ(header(arrived[0], "Cookie").isNull(), !row.kept);
    }
}

// A HEAD request made for a GET (a queue learning its size) that is sent to
// another origin leaves the GET's password (its user and password, or an
// Authorization header of its own) and cookie behind, as the GET
// itself would: the challenge there finds no credentials, and nothing is
// kept in the session under that origin.
TEST(Redirects, AHEADRequestLeavesItsMainRequestsCredentialsAtTheirOrigin) {
    struct Row {
        const char *name;
        const char *from;  // the GET's origin
        const char *to;    // where its HEAD request is redirected
        const char *host;  // the host name the target is reached under
        bool ownHeader;    // the GET carries its own Authorization header, not a user and password
        bool kept;         // the password and the cookie arrive there
    };
    const Row rows[] = {
        {"same origin", "a", "a", "127.0.0.1", false, true},
        {"another port", "a", "b", "127.0.0.1", false, false},
        {"another host name", "a", "a", "localhost", false, false},
        {"https to plain http (a port speaks one scheme)", "tls", "a", "127.0.0.1", false, false},
        {"own header, same origin", "a", "a", "127.0.0.1", true, true},
        {"own header, another port", "a", "b", "127.0.0.1", true, false},
        {"own header, another host name", "a", "a", "localhost", true, false},
        {"own header, https to plain http", "tls", "a", "127.0.0.1", true, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        NRHTTPRequest::clearSession();
        const QString tag = Hostile::tag();
        const QUrl target = url(row.to, tag + "/challenge", QString::fromLatin1(row.host));
        auto main = NRHTTPRequest::requestWithURL(url(row.from, tag + "/redirect?to=" + encoded(target)));
        if (row.ownHeader) {
            main->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Basic dTpzM2NyZXQ="));
        } else {
            main->setUsername(QStringLiteral("u"));
            main->setPassword(QStringLiteral("s3cret"));
        }
        main->setUseCookiePersistence(false);
        main->setValidatesSecureCertificate(false);
        main->addRequestHeader(QStringLiteral("Cookie"), QStringLiteral("session=s3cret"));
        auto head = main->HEADRequest();
        head->startAsynchronous();
        ASSERT_TRUE(VNTest::waitUntil([&] { return head->isFinished(); }));
        bool passwordArrived = false, cookieArrived = false;
        const QList<QJsonObject> arrived = received(tag + "/challenge");
        ASSERT_FALSE(arrived.isEmpty());
        for (const QJsonObject &entry : arrived) {
            passwordArrived |= header(entry, "Authorization") == QLatin1String("Basic dTpzM2NyZXQ=");
            cookieArrived |= header(entry, "Cookie").contains(QLatin1String("s3cret"));
        }
        EXPECT_EQ(passwordArrived, row.kept);
        EXPECT_EQ(cookieArrived, row.kept);
        NRSessionCredentialEntry entry;
        // A header of its own is sent as it stands, never kept in the session.
        EXPECT_EQ(NRSessionCredentialStore::shared().find(target, QString(), QString(), QString(), &entry),
                  row.kept && !row.ownHeader);
        // Without them its size is not learnt there: the GET fails with it.
        EXPECT_EQ(head->error() ? int(head->error()->code()) : 0, row.kept ? 0 : 3);
        EXPECT_EQ(main->error() ? int(main->error()->code()) : 0, row.kept ? 0 : 3);
    }
}

TEST(PhotoService, TokenGoesOnlyToItsOwnHostOverHttps) {
    NRHTTPRequest::setTestCertificateAuthorityFile(Hostile::caFile());
    DAServiceGooglePhotos::setPhotoHostURLString(url("tls", QString()).toString());
    struct Row {
        const char *name;
        const char *origin;
        const char *host;
    };
    const Row rows[] = {{"next link to plain http", "a", "127.0.0.1"},
                        {"next link to another host over https", "tls", "localhost"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString tag = Hostile::tag();
        const QUrl elsewhere = url(row.origin, tag + "/feed?page=1&pages=2", row.host);
        auto service = DAServiceGooglePhotos::make();
        service->setAuthToken(QStringLiteral("s3cret"));
        service->setServiceShouldFollowNextLinks(true);
        DAObjectPtr object;
        bool done = false;
        service->fetchFeedWithURL(url("tls", tag + "/feed?pages=2&next=" + encoded(elsewhere)),
                                  [&](const DAServiceTicketPtr &, const DAObjectPtr &o, const VNErrorPtr &) {
                                      object = o, done = true;
                                  });
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }, 30000));
        auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
        ASSERT_TRUE(feed);
        EXPECT_EQ(feed->entries().size(), 2);
        const QList<QJsonObject> arrived = received(tag);
        ASSERT_EQ(arrived.size(), 2);
        EXPECT_EQ(header(arrived[0], "Authorization"), QStringLiteral("Bearer s3cret"));
        EXPECT_TRUE(header(arrived[1], "Authorization").isNull());
    }
    DAServiceGooglePhotos::setPhotoHostURLString(QString());
}

// The account's password goes only where the service's token goes: the
// photo host over https. A next page anywhere else that asks for Basic
// credentials gets none. (On the photo host the token's own header stands,
// so there the password is seen given to the page's fetcher, not sent.)
TEST(PhotoService, ThePasswordGoesOnlyWhereTheTokenGoes) {
    NRHTTPRequest::setTestCertificateAuthorityFile(Hostile::caFile());
    const auto origin = [](const char *scheme, const char *host, const char *port) {
        return QStringLiteral("%1://%2:%3")
            .arg(QLatin1String(scheme), QLatin1String(host))
            .arg(Hostile::state()[QStringLiteral("port_") + QLatin1String(port)].toInt());
    };
    const QString home = origin("https", "127.0.0.1", "a");
    DAServiceGooglePhotos::setPhotoHostURLString(home);
    struct Row {
        const char *name;
        const char *scheme, *host, *port;  // of the next page
        bool given;                        // the next page's fetcher has the password
    };
    const Row rows[] = {
        {"the photo host", "https", "127.0.0.1", "a", true},
        {"another scheme", "http", "127.0.0.1", "a", false},
        {"another host", "https", "localhost", "a", false},
        {"another port", "https", "127.0.0.1", "b", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString tag = Hostile::tag();
        const QUrl next(origin(row.scheme, row.host, row.port) + tag + QStringLiteral("/challenge?basic=1"));
        auto service = DAServiceGooglePhotos::make();
        service->setUserCredentials(QStringLiteral("user"), QStringLiteral("s3cret"));
        service->setAuthToken(QStringLiteral("t0ken"));
        service->setServiceShouldFollowNextLinks(true);
        DAServiceTicketPtr ended;
        service->fetchFeedWithURL(QUrl(home + tag + QStringLiteral("/feed?pages=2&next=") + encoded(next)),
                                  [&](const DAServiceTicketPtr &ticket, const DAObjectPtr &, const VNErrorPtr &) { ended = ticket; });
        ASSERT_TRUE(VNTest::waitUntil([&] { return bool(ended); }, 30000));
        ASSERT_TRUE(ended->objectFetcher());
        EXPECT_EQ(ended->objectFetcher()->mutableRequest().url(), next);
        EXPECT_EQ(ended->objectFetcher()->credential().has_value(), row.given);
        const QList<QJsonObject> asked = received(tag + QStringLiteral("/challenge"));
        ASSERT_FALSE(asked.isEmpty());
        for (const QJsonObject &entry : asked) {
            EXPECT_EQ(entry[QStringLiteral("scheme")].toString(), QLatin1String(row.scheme));
            EXPECT_FALSE(header(entry, "Authorization").startsWith(QLatin1String("Basic ")));
        }
    }
    DAServiceGooglePhotos::setPhotoHostURLString(QString());
}

TEST(Office365, SignInChecksCertificatesWhateverTheDrive) {
    // A sign-in host whose certificate is not for its name.
    NRHTTPRequest::setTestCertificateAuthorityFile(Hostile::caFile());
    NRHTTPRequest::setTestHostsMappedToLoopback({QStringLiteral("wrong.varnello.test")});
    QNServiceEndpoints::setOverrideForTesting(QStringLiteral("wrong.varnello.test"),
                                              Hostile::state()[QStringLiteral("port_tls")].toInt());
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNOffice365Handler::registerWithFactory();
    QNOffice365SignIn::clearForTesting();
    const QString user = Hostile::tag().mid(1) + QStringLiteral("@contoso.com");
    auto config = QNDriveConfig::create();
    config->setIsOffice365(true);
    config->setUrl(QStringLiteral("https://contoso-my.sharepoint.com/"));
    config->setUsername(user);
    config->setPassword(QStringLiteral("s3cret"));
    config->setValidateCertificates(false);
    auto handler = config->createCloudInterface();
    int calls = 0;
    bool success = true;
    handler->login([&](bool ok, VNErrorPtr, bool) { success = ok, ++calls; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return calls > 0; }, 30000));
    EXPECT_FALSE(success);
    EXPECT_TRUE(received(user.left(12)).isEmpty());  // no sign-in request got through
    QNServiceEndpoints::setOverrideForTesting(QString(), 0);
}

TEST(Dropbox, OnlyALinkedAccountsOwnRefusalUnlinksIt) {
    // No desktop keyring: the session keeps its tokens in memory only.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/varnello-test-bus");
    struct Unlinker : DXSessionDelegate {
        QStringList told;
        void sessionDidReceiveAuthorizationFailure(DXSession *session, const QString &userId) override {
            told << userId;
            session->unlinkUserId(userId);  // as the application does
        }
    };
    auto session = std::make_shared<DXSession>(QStringLiteral("security-test-key"), QStringLiteral("secret"),
                                               QStringLiteral("dropbox"));
    session->updateAccessToken(QStringLiteral("t1"), QStringLiteral("s1"), QStringLiteral("111"));
    session->updateAccessToken(QStringLiteral("t2"), QStringLiteral("s2"), QStringLiteral("222"));
    auto delegate = std::make_shared<Unlinker>();
    session->setDelegate(delegate);
    const QString tag = Hostile::tag();
    // A new account's sign-in (no user yet), then a linked account's request.
    for (const QString &userId : {QString(), QStringLiteral("111")}) {
        bool done = false;
        auto request = std::make_shared<DXRequest>(NRHTTPRequest::requestWithURL(url("a", tag + "/refuse")), session,
                                                   userId, [&](DXRequest &) { done = true; });
        request->start();
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }));
        EXPECT_EQ(request->statusCode(), 401);
        if (userId.isEmpty())
            EXPECT_EQ(session->userIds().size(), 2);
    }
    EXPECT_EQ(received(tag).size(), 2);
    EXPECT_EQ(delegate->told, QStringList{QStringLiteral("111")});
    EXPECT_EQ(session->userIds(), QStringList{QStringLiteral("222")});
    session->unlinkAll();
}

#include "CredentialsTest.moc"
