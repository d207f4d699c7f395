#include "WebDriveServices.h"

#include "Cloud/FKFlickrClient/FKFlickrClient.h"
#include "Cloud/QNBitcasaHandler.h"
#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNCopyHandler.h"
#include "Cloud/QNFlickrHandler.h"
#include "Cloud/QNGoogleDriveHandler.h"
#include "Cloud/QNLiveConnectClient.h"
#include "Cloud/QNServiceHosts.h"
#include "Cloud/QNSkyDriveHandler.h"
#include "Core/QNCloudInterfaceFactory.h"

namespace WebDriveTest {

namespace {

void prepare(const Fake &fake, const std::map<QString, QString> &hosts) {
    fake.trustItsCertificate();
    for (const auto &[key, url] : hosts)
        QNServiceHosts::setUrl(key, url);
    fake.control("reset");
    QNCloudInterfaceFactory::registerCoreHandlers();
}

// Starts the handler's sign-in; its answer lands in the result.
std::shared_ptr<Answer> beginSignIn(QNCloudInterface &handler) {
    auto answer = std::make_shared<Answer>();
    handler.oAuthLoginWithCompletedBlock([answer](bool ok, VNErrorPtr e, bool c) {
        ++answer->count;
        answer->error = e;
        answer->cancelled = c || !ok;
    });
    return answer;
}

// An OAuth 2 sign-in whose authorization page redirects to an address the
// handler takes (checked by isRedirect).
template <typename Handler>
void signIn(const QNDriveConfigPtr &drive, const QString &caption, const QUrl &authorization,
            const std::function<bool(const QString &)> &isRedirect) {
    auto handler = std::make_shared<Handler>(drive);
    const auto answer = beginSignIn(*handler);
    EXPECT_EQ(drive->description(), caption);
    QString location;
    Fake::fetch(authorization.toString(QUrl::FullyEncoded), {}, &location);
    ASSERT_TRUE(isRedirect(location)) << location.toStdString();
    handler->processOAuthLogin(location);
    ASSERT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }));
    ASSERT_FALSE(answer->error) << errorText(answer->error).toStdString();
    ASSERT_FALSE(answer->cancelled);
}

// An OAuth 1.0 client registers the request token's secret with the log
// the moment the token's reply reaches it, in the step that also shows the
// authorization page: the sign-in may go on once the log masks the secret.
bool tokenReplyArrived(const QString &secret) {
    return !secret.isEmpty() && VNTest::waitUntil([&] { return VNLog::masked(secret) != secret; });
}

bool isCodeRedirect(const QString &location) { return location.startsWith("http://localhost/?code="); }

}  // namespace

void openBox(const Fake &fake, QNDriveConfigPtr &drive) {
    prepare(fake, {{"box.account", fake.httpBase()}, {"box.api", fake.httpsBase()}, {"box.upload", fake.httpsBase()}});
    QNBoxHandler::registerWithFactory();
    drive = QNDriveConfig::create();
    drive->setIsBox(true);
    signIn<QNBoxHandler>(drive, "SHOW DOCUMENTS ON THIS BOX ACCOUNT", QNBoxHandler::authorizationURL(), isCodeRedirect);
}

void openGoogleDrive(const Fake &fake, QNDriveConfigPtr &drive) {
    prepare(fake, {{"google.accounts", fake.httpBase()}, {"google.api", fake.httpsBase()}});
    QNGoogleDriveHandler::registerWithFactory();
    drive = QNDriveConfig::create();
    drive->setIsGoogleDrive(true);
    ASSERT_NO_FATAL_FAILURE(signIn<QNGoogleDriveHandler>(drive, "SHOW DOCUMENTS ON THIS GOOGLE DRIVE ACCOUNT",
                                                         QNGoogleDriveHandler::authorizationURL(), isCodeRedirect));
    ASSERT_FALSE(drive->password().isEmpty());
    EXPECT_EQ(drive->username(), "test@example.com");
}

void openOneDrive(const Fake &fake, QNDriveConfigPtr &drive) {
    prepare(fake, {{"live.login", fake.httpBase()}, {"live.api", fake.httpsBase() + "/v5.0"}});
    QNSkyDriveHandler::registerWithFactory();
    drive = QNDriveConfig::create();
    drive->setIsSkyDrive(true);
    signIn<QNSkyDriveHandler>(drive, "SHOW DOCUMENTS ON THIS SKYDRIVE ACCOUNT", QNLiveConnectClient::authorizationURL(),
                              [](const QString &l) { return QNLiveConnectClient::isRedirect(QUrl(l)); });
}

void openBitcasa(const Fake &fake, QNDriveConfigPtr &drive) {
    prepare(fake, {{"bitcasa.account", fake.httpBase()},
                   {"bitcasa.api", fake.httpsBase()},
                   {"bitcasa.files", fake.httpsBase()}});
    QNBitcasaHandler::registerWithFactory();
    drive = QNDriveConfig::create();
    drive->setIsBitcasa(true);
    ASSERT_NO_FATAL_FAILURE(signIn<QNBitcasaHandler>(
        drive, "Show documents on this Bitcasa account", QNBitcasaHandler::authorizationURL(),
        [](const QString &l) { return l.startsWith("http://localhost/bitcasa?authorization_code="); }));
    ASSERT_TRUE(drive->token().startsWith("access-"));
}

void openCopy(const Fake &fake, QNDriveConfigPtr &drive) {
    prepare(fake, {{"copy.api", fake.httpsBase()}, {"copy.web", fake.httpBase()}});
    QNCopyHandler::registerWithFactory();
    drive = QNDriveConfig::create();
    drive->setIsCopy(true);

    auto handler = std::make_shared<QNCopyHandler>(drive);
    const auto answer = beginSignIn(*handler);
    EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS COPY ACCOUNT");
    // The request token the fake handed out, waiting for the user's approval.
    QJsonObject pending;
    ASSERT_TRUE(VNTest::waitUntil([&] {
        pending = QJsonDocument::fromJson(fake.control("pending")).object();
        return !pending.value("token").toString().isEmpty() || answer->count > 0;
    }));
    ASSERT_TRUE(tokenReplyArrived(pending.value("secret").toString()));
    ASSERT_EQ(answer->count, 0) << errorText(answer->error).toStdString();
    QString location;
    Fake::fetch(fake.httpBase() + "/applications/authorize?oauth_token=" + pending.value("token").toString(), {},
                &location);
    ASSERT_TRUE(location.startsWith("http://localhost/qn-copy?oauth_token=")) << location.toStdString();
    handler->processOAuthLogin(location);
    ASSERT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }));
    ASSERT_FALSE(answer->error) << errorText(answer->error).toStdString();
    ASSERT_FALSE(answer->cancelled);
    ASSERT_TRUE(drive->token().startsWith("access-"));
}

void openFlickr(const Fake &fake, QNDriveConfigPtr &drive) {
    prepare(fake, {{"flickr.api", fake.httpsBase()},
                   {"flickr.upload", fake.httpsBase()},
                   {"flickr.oauth", fake.httpsBase()},
                   {"flickr.web", fake.httpBase()}});
    fake.control("set", {{"title", "Holiday"}});
    fake.control("set", {{"title", "Work"}});
    QNFlickrHandler::registerWithFactory();
    drive = QNDriveConfig::create();
    drive->setIsFlickr(true);

    // The sheet's part by hand: the authorization page's redirect read and handed to the client.
    auto client = std::make_shared<FKFlickrClient>();
    int answers = 0;
    FKFlickrClient::Account account;
    VNErrorPtr error;
    client->beginLogin(nullptr, [&](FKFlickrClient::Account a, VNErrorPtr e, bool) {
        ++answers;
        account = a;
        error = e;
    });
    QJsonObject pending;
    ASSERT_TRUE(VNTest::waitUntil([&] {
        pending = QJsonDocument::fromJson(fake.control("pending")).object();
        return !pending.value("token").toString().isEmpty() || answers > 0;
    }));
    ASSERT_TRUE(tokenReplyArrived(pending.value("secret").toString()));
    const QString token = pending.value("token").toString();
    QString location;
    Fake::fetch(fake.httpBase() + "/services/oauth/authorize?oauth_token=" + token, {}, &location);
    ASSERT_TRUE(FKFlickrClient::isCallback(QUrl(location))) << location.toStdString();
    client->finishLogin(QUrl(location));
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers > 0; }));
    ASSERT_FALSE(error) << errorText(error).toStdString();
    ASSERT_EQ(account.userId, "12345678@N00");
    drive->setToken(account.token);
    drive->setTokenSecret(account.tokenSecret);
    drive->setUserId(account.userId);
}

}  // namespace WebDriveTest
