// The web login sheet against pages of a local server: a redirect to the
// callback address reaches the handler once and never the address itself;
// refusals, cancels, fresh cookies per sheet, pop-ups, the watching hook,
// and the add-drive sheet's web sign-in.
#include "App/Drives/DrivesTestSupport.h"
#include "App/Drives/LocalWebServer.h"
#include "App/Drives/TestOAuthHandler.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

class AuthWindowTest : public DrivesTest {
protected:
    void SetUp() override {
        DrivesTest::SetUp();
        // The loopback callback address is the trap's: whatever reaches it got out.
        QNOAuthCallbackMatcher::setConfig({QStringLiteral("127.0.0.1:%1").arg(trap.port()),
                                           QStringLiteral("www.varnello.app"), QStringLiteral("varnello")});
        VNLog::clearCaptured();
    }

    void TearDown() override {
        if (login)
            login->closePanel();
        login.reset();
        handler.reset();
        DrivesTest::TearDown();
    }

    // A handler for a Dropbox-like drive whose authorize page is the path.
    void startLogin(const QString &authorizePath) {
        drive = QNAddDriveWindowController::makeTemplates().at(0);
        handler = std::make_shared<TestOAuthHandler>(drive, provider.url(authorizePath));
        login = handler->oAuthLoginWithCompletedBlock([this](bool ok, VNErrorPtr error, bool cancelled) {
            answers << Answer{ok, error, cancelled};
        });
        ASSERT_NE(login, nullptr);
        login->window()->show();
    }

    bool waitForHandOver(int count = 1) {
        return VNTest::waitUntil([&] { return handler->handedOver.size() >= count; }, 30000);
    }

    // Lets the page run on for a while: a second hand-over or a late request
    // to the trap would show up meanwhile.
    static void letThePageRunOn() { VNTest::spin(700); }

    QString callback(const QString &query) const { return trap.base() + QStringLiteral("/?") + query; }

    struct Answer {
        bool ok;
        VNErrorPtr error;
        bool cancelled;
    };

    LocalWebServer provider;
    LocalWebServer trap;
    QNDriveConfigPtr drive;
    std::shared_ptr<TestOAuthHandler> handler;
    std::shared_ptr<QNAuthWindowController> login;
    QList<Answer> answers;
};

TEST_F(AuthWindowTest, ARedirectWithACodeReachesTheHandlerOnceAndNeverTheListener) {
    const QString target = callback(QStringLiteral("code=secret-code-4711&state=s1"));
    provider.setRedirect(QStringLiteral("/authorize"), target);
    startLogin(QStringLiteral("/authorize"));
    ASSERT_TRUE(waitForHandOver());
    letThePageRunOn();
    EXPECT_EQ(provider.requestsFor(QStringLiteral("/authorize")).size(), 1);
    EXPECT_EQ(handler->handedOver, QStringList{target});
    ASSERT_EQ(answers.size(), 1);
    EXPECT_TRUE(answers[0].ok);
    EXPECT_EQ(drive->token(), QStringLiteral("secret-code-4711"));
    // The code never left the sheet.
    EXPECT_TRUE(trap.received().isEmpty()) << trap.received().constData();
    EXPECT_TRUE(login->hasHandedOver());
    for (const QString &line : VNLog::captured())
        EXPECT_FALSE(line.contains(QStringLiteral("secret-code-4711"))) << line.toStdString();
}

TEST_F(AuthWindowTest, TheCancelButtonEndsTheSignInOnceAndClosingLetsGoOfTheHandler) {
    provider.setPage(QStringLiteral("/authorize"), "<html><body>Sign in</body></html>");
    startLogin(QStringLiteral("/authorize"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return !provider.requestsFor(QStringLiteral("/authorize")).isEmpty(); }));
    login->cancelButton()->click();
    login->cancelButton()->click();
    ASSERT_TRUE(waitForHandOver());
    letThePageRunOn();
    EXPECT_EQ(handler->handedOver, QStringList{QString()});
    ASSERT_EQ(answers.size(), 1);
    EXPECT_FALSE(answers[0].ok);
    // Closing the sheet lets go of its handler.
    std::weak_ptr<TestOAuthHandler> weak = handler;
    login->closePanel();
    EXPECT_TRUE(login->isClosed());
    EXPECT_FALSE(login->window()->isVisible());
    EXPECT_EQ(login->cloudInterface(), nullptr);
    handler.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(AuthWindowTest, EverySheetStartsWithoutCookies) {
    LocalWebServer::Reply setCookie;
    setCookie.headers << qMakePair(QByteArray("Set-Cookie"), QByteArray("sid=remembered; Path=/"));
    setCookie.body = "<html><body>signed in</body></html>";
    provider.setReply(QStringLiteral("/setcookie"), setCookie);
    provider.setPage(QStringLiteral("/check"), "<html><body>check</body></html>");

    QNAuthWindowController first;
    first.window()->show();
    EXPECT_TRUE(first.profile()->isOffTheRecord());
    bool setCookieLoaded = false;
    const QMetaObject::Connection watch = QObject::connect(first.page(), &QWebEnginePage::loadFinished,
                                                           [&setCookieLoaded](bool) { setCookieLoaded = true; });
    first.loadRequest(provider.url(QStringLiteral("/setcookie")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return setCookieLoaded; }, 30000));
    QObject::disconnect(watch);
    first.loadRequest(provider.url(QStringLiteral("/check")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return provider.requestsFor(QStringLiteral("/check")).size() == 1; }));
    // The first sheet keeps its cookie while it lives...
    EXPECT_TRUE(provider.requestsFor(QStringLiteral("/check"))[0].contains("sid=remembered"));

    // ...a second sheet has a profile of its own and sends none.
    QNAuthWindowController second;
    second.window()->show();
    EXPECT_NE(second.profile(), first.profile());
    second.loadRequest(provider.url(QStringLiteral("/check")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return provider.requestsFor(QStringLiteral("/check")).size() == 2; }));
    EXPECT_FALSE(provider.requestsFor(QStringLiteral("/check"))[1].contains("sid="));
}

TEST_F(AuthWindowTest, AClientThatWatchesTheViewItselfTakesItsCallback) {
    // The Flickr client's way: its own callback path, which no marker knows.
    const QString flickrCallback = trap.base() + QStringLiteral("/flickr?oauth_token=t&oauth_verifier=v");
    provider.setRedirect(QStringLiteral("/authorize"), flickrCallback);
    startLogin(QStringLiteral("/authorize"));
    QStringList seen;
    login->addRequestObserver([&seen](const QUrl &url) {
        if (url.path() != QStringLiteral("/flickr"))
            return QNAuthWindowController::RequestDecision::Continue;
        seen << url.toString(QUrl::FullyEncoded);
        return QNAuthWindowController::RequestDecision::Block;
    });
    ASSERT_TRUE(VNTest::waitUntil([&] { return !seen.isEmpty(); }, 30000));
    letThePageRunOn();
    EXPECT_EQ(seen, QStringList{flickrCallback});
    EXPECT_TRUE(handler->handedOver.isEmpty());
    EXPECT_TRUE(trap.received().isEmpty());
}

TEST_F(AuthWindowTest, APopUpOpensAsAWindowOfTheSheetAndItsCallbackIsCaughtToo) {
    provider.setPage(QStringLiteral("/authorize"),
                     "<html><body><script>window.open('/popup', 'signin');</script></body></html>");
    provider.setRedirect(QStringLiteral("/popup"), callback(QStringLiteral("code=from-popup")));
    startLogin(QStringLiteral("/authorize"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return !login->popupWindows().isEmpty(); }, 30000));
    EXPECT_EQ(login->popupWindows().first()->size(), QSize(800, 600));
    ASSERT_TRUE(waitForHandOver());
    letThePageRunOn();
    EXPECT_EQ(handler->handedOver, QStringList{callback(QStringLiteral("code=from-popup"))});
    EXPECT_TRUE(trap.received().isEmpty());
    login->closePanel();
    EXPECT_FALSE(login->popupWindows().first()->isVisible());
}

QStringList &qtMessages() {
    static QStringList messages;
    return messages;
}

TEST_F(AuthWindowTest, ProviderPagesConsoleMessagesAreNotLogged) {
    provider.setPage(QStringLiteral("/authorize"),
                     "<html><body><script>console.error('console-token-5150');</script></body></html>");
    qtMessages().clear();
    QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { qtMessages() << message; });
    startLogin(QStringLiteral("/authorize"));
    bool loaded = false;
    QObject::connect(login->page(), &QWebEnginePage::loadFinished, [&loaded](bool) { loaded = true; });
    const bool finished = VNTest::waitUntil([&] { return loaded; }, 30000);
    VNTest::spin(200);
    qInstallMessageHandler(previous);
    ASSERT_TRUE(finished);
    for (const QString &m : qtMessages())
        EXPECT_FALSE(m.contains(QStringLiteral("console-token-5150"))) << m.toStdString();
    for (const QString &line : VNLog::captured())
        EXPECT_FALSE(line.contains(QStringLiteral("console-token-5150"))) << line.toStdString();
}

// ---------------------------------------------------------------- the add-drive sheet

class AuthAddDriveTest : public AuthWindowTest {
protected:
    void SetUp() override {
        AuthWindowTest::SetUp();
        QNCloudInterfaceFactory::registerHandler(
            QNCloudInterfaceFactory::Kind::Dropbox, [this](const QNDriveConfigPtr &c) -> QNCloudInterfacePtr {
                auto h = std::make_shared<TestOAuthHandler>(c, provider.url(QStringLiteral("/authorize")));
                h->holdOutcomeUntil = holdOutcomeUntil;
                made << h;
                return h;
            });
    }
    void TearDown() override {
        QNCloudInterfaceFactory::unregisterHandler(QNCloudInterfaceFactory::Kind::Dropbox);
        made.clear();
        AuthWindowTest::TearDown();
    }
    QList<std::shared_ptr<TestOAuthHandler>> made;
    std::function<bool()> holdOutcomeUntil;
};

TEST_F(AuthAddDriveTest, AWebSignInSavesTheDriveOnceAndClosesBothSheets) {
    // Two frames and an image, each aimed at the callback address: the
    // later ones are stopped but not handed over again. The sign-in's
    // outcome waits until the page has asked for all three; otherwise
    // closing the sheet after the first may stop the page before it asks
    // for the others.
    int callbacksAsked = 0;
    holdOutcomeUntil = [&callbacksAsked] { return callbacksAsked >= 3; };
    provider.setPage(QStringLiteral("/authorize"),
                     QStringLiteral("<html><body><iframe src='%1'></iframe><iframe src='%2'></iframe>"
                                    "<img src='%3'></body></html>")
                         .arg(callback(QStringLiteral("code=abc")), callback(QStringLiteral("code=def")),
                              callback(QStringLiteral("code=ghi")))
                         .toUtf8());
    QNAddDriveWindowController *s = openSheet();
    s->tableViewSelectionDidChange(0);
    std::shared_ptr<QNAuthWindowController> sheetLogin = s->authWindowController();
    ASSERT_NE(sheetLogin, nullptr);
    sheetLogin->addRequestObserver([this, &callbacksAsked](const QUrl &url) {
        if (url.port() == trap.port())
            ++callbacksAsked;
        return QNAuthWindowController::RequestDecision::Continue;
    });
    EXPECT_EQ(QNDialogService::shared().attachedSheet(s->window()), sheetLogin->window());
    ASSERT_TRUE(waitForOutcome(s));
    letThePageRunOn();
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    EXPECT_TRUE(s->isClosed());
    EXPECT_TRUE(sheetLogin->isClosed());
    EXPECT_FALSE(sheetLogin->window()->isVisible());
    const QNDriveConfigList stored = storedDrives();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(stored[0]->isDropbox());
    EXPECT_TRUE(QStringList({"abc", "def", "ghi"}).contains(stored[0]->token()));
    EXPECT_EQ(stored[0]->description(), QStringLiteral("SHOW DOCUMENTS ON THIS TEST ACCOUNT"));
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(made[0]->handedOver.size(), 1);
    EXPECT_TRUE(trap.received().isEmpty()) << trap.received().constData();
}

TEST_F(AuthAddDriveTest, CancellingOnTheProvidersPageSavesNothingAndKeepsTheSheet) {
    provider.setRedirect(QStringLiteral("/authorize"), callback(QStringLiteral("error=access_denied&code=late")));
    QNAddDriveWindowController *s = openSheet();
    s->tableViewSelectionDidChange(0);
    std::shared_ptr<QNAuthWindowController> sheetLogin = s->authWindowController();
    ASSERT_NE(sheetLogin, nullptr);
    ASSERT_TRUE(VNTest::waitUntil([&] { return sheetLogin->isClosed(); }, 30000));
    letThePageRunOn();
    // A refusal hands over nothing, and the code after it never gets out.
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(made[0]->handedOver, QStringList{QString()});
    EXPECT_TRUE(trap.received().isEmpty());
    EXPECT_FALSE(s->isClosed());
    EXPECT_EQ(s->authWindowController(), nullptr);
    EXPECT_TRUE(storedDrives().isEmpty());
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    EXPECT_EQ(QNDialogService::shared().attachedSheet(s->window()), nullptr);

    // The same service can be chosen again: a new sign-in on a new sheet.
    provider.setRedirect(QStringLiteral("/authorize"), callback(QStringLiteral("code=again")));
    s->tableViewSelectionDidChange(0);
    ASSERT_NE(s->authWindowController(), nullptr);
    EXPECT_NE(s->authWindowController(), sheetLogin);
    ASSERT_TRUE(waitForOutcome(s));
    ASSERT_EQ(storedDrives().size(), 1);
    EXPECT_EQ(storedDrives()[0]->token(), QStringLiteral("again"));
}

TEST_F(AuthAddDriveTest, AnErrorOfTheHandlerIsShownAndNothingSaved) {
    // A callback without a code: the handler answers with its error.
    provider.setRedirect(QStringLiteral("/authorize"), callback(QStringLiteral("code=")));
    QNAddDriveWindowController *s = openSheet();
    s->tableViewSelectionDidChange(0);
    ASSERT_TRUE(waitForOutcome(s));
    // The handler's words, after the drive being added.
    ASSERT_EQ(alertTexts().size(), 1);
    EXPECT_TRUE(alertTexts().first().startsWith(QChar(0x201c))) << alertTexts().first().toStdString();
    EXPECT_TRUE(alertTexts().first().endsWith(QStringLiteral("\u201d: The provider sent no code.")))
        << alertTexts().first().toStdString();
    EXPECT_FALSE(s->isClosed());
    EXPECT_TRUE(storedDrives().isEmpty());
}

}  // namespace
