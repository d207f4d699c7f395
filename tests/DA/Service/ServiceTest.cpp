// The data-API service: request headers, parsing off the starting thread,
// cancel, next links, server errors, empty and foreign replies, uploads and
// the bearer token.
#include "DA/HTTPFetcher/FetchTestSupport.h"
#include "DA/Service/ServiceOutcome.h"

#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DAServerErrorGroup.h"
#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/Service/DAServiceGoogle.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"

#include <QCryptographicHash>

using namespace FetchTest;

using namespace ServiceTestSupport;

namespace {

std::shared_ptr<DAServiceGoogle> service() {
    auto s = DAServiceGoogle::make();
    s->setServiceVersion(QStringLiteral("2.0"));
    s->setAuthToken(QStringLiteral("tok3n"));
    s->setUserAgent(QStringLiteral("Varnello Test/1.0"));
    return s;
}

// A caller's own entry class, made in place of the plain one.
class MarkedEntry : public DAEntryBase {
    DA_CLASS(MarkedEntry)
};

// Signs every request with a fixed header.
struct StampAuthorizer : HFFetcherAuthorizationProtocol {
    bool isAuthorizedRequest(const HFURLRequest &request) override { return request.hasHeader(QStringLiteral("Authorization")); }
    void authorizeRequest(HFURLRequest *request, Completion completion) override {
        request->setValue(QStringLiteral("Stamp 42"), QStringLiteral("Authorization"));
        completion(nullptr);
    }
    bool isAuthorizingRequest(const HFURLRequest &) override { return false; }
    void stopAuthorization() override {}
};

DAEntryBasePtr entryWithEditLink(const QString &href, const QString &etag) {
    auto entry = std::static_pointer_cast<DAEntryBase>(DAEntryBase::entryOfClass(DAEntryBase::staticClass()));
    entry->addLink(DALink::linkWithRel(QStringLiteral("edit"), QString(), href));
    entry->setETag(etag);
    return entry;
}

}  // namespace

DA_DEFINE_CLASS(MarkedEntry, DAEntryBase)

TEST(Service, RequestHeaderPins) {
    auto s = service();
    const QUrl url(QStringLiteral("https://data.example/feeds/x"));
    const HFURLRequest read = s->objectRequestForURL(url, nullptr, QString(), QString(), nullptr);
    EXPECT_TRUE(read.valueForHTTPHeaderField(QStringLiteral("User-Agent")).startsWith(QLatin1String("Varnello_Test1.0 DataAPI-Cpp/1.12 MacOSX/")));
    EXPECT_TRUE(read.valueForHTTPHeaderField(QStringLiteral("User-Agent")).endsWith(QLatin1String(" (gzip)")));
    EXPECT_EQ(read.valueForHTTPHeaderField(QStringLiteral("GData-Version")), QStringLiteral("2.0"));
    EXPECT_EQ(read.valueForHTTPHeaderField(QStringLiteral("Accept")), QStringLiteral("application/atom+xml, text/xml"));
    EXPECT_EQ(read.valueForHTTPHeaderField(QStringLiteral("Content-Type")), QStringLiteral("application/atom+xml; charset=utf-8"));
    EXPECT_EQ(read.valueForHTTPHeaderField(QStringLiteral("Cache-Control")), QStringLiteral("no-cache"));
    EXPECT_EQ(read.valueForHTTPHeaderField(QStringLiteral("Authorization")), QStringLiteral("Bearer tok3n"));

    const HFURLRequest raw = s->requestForURL(url, QString(), QString());
    EXPECT_FALSE(raw.hasHeader(QStringLiteral("Accept")));
    EXPECT_FALSE(raw.hasHeader(QStringLiteral("Content-Type")));
    EXPECT_EQ(raw.valueForHTTPHeaderField(QStringLiteral("Authorization")), QStringLiteral("Bearer tok3n"));

    auto entry = entryWithEditLink(url.toString(), QString());
    const HFURLRequest patch = s->objectRequestForURL(url, entry, QString(), QStringLiteral("PATCH"), nullptr);
    EXPECT_EQ(patch.valueForHTTPHeaderField(QStringLiteral("Content-Type")), QStringLiteral("application/xml; charset=utf-8"));
    EXPECT_EQ(patch.httpMethod(), QStringLiteral("PATCH"));

    // The version stays out when the query names one.
    for (const char *q : {"?v=3", "?a=1&v=3"})
        EXPECT_FALSE(s->requestForURL(QUrl(url.toString() + QLatin1String(q)), {}, {}).hasHeader(QStringLiteral("GData-Version"))) << q;

    struct Condition {
        const char *method, *etag, *header;
    } conditions[] = {
        {"", "W/\"w\"", "If-None-Match"}, {"GET", "\"s\"", "If-None-Match"}, {"PUT", "\"s\"", "If-Match"},
        {"DELETE", "\"s\"", "If-Match"},  {"PATCH", "W/\"w\"", nullptr},     {"POST", "\"s\"", nullptr},
    };
    for (const auto &c : conditions) {
        const HFURLRequest r = s->requestForURL(url, QString::fromLatin1(c.etag), QString::fromLatin1(c.method));
        const bool none = !r.hasHeader(QStringLiteral("If-Match")) && !r.hasHeader(QStringLiteral("If-None-Match"));
        if (c.header)
            EXPECT_EQ(r.valueForHTTPHeaderField(QLatin1String(c.header)), QString::fromLatin1(c.etag)) << c.method;
        else
            EXPECT_TRUE(none) << c.method;
    }
    // Method override.
    s->setShouldUseMethodOverrideHeader(true);
    const HFURLRequest overridden = s->requestForURL(url, QString(), QStringLiteral("DELETE"));
    EXPECT_EQ(overridden.httpMethod(), QStringLiteral("POST"));
    EXPECT_EQ(overridden.valueForHTTPHeaderField(QStringLiteral("X-HTTP-Method-Override")), QStringLiteral("DELETE"));
}

TEST(Service, ParsesOffThreadDeliversOnTheStartThreadAndCancels) {
    auto s = service();
    VNOperationQueue parsing(QStringLiteral("test parsing"));
    s->setOperationQueue(&parsing);
    QStringList notices;
    DAServiceBase::setNotificationObserver([&](const QString &name, const DAServiceTicketPtr &) { notices << name; });

    // With the queue held, the reply waits there: parsing goes through it.
    parsing.setSuspended(true);
    auto out = std::make_shared<Outcome>();
    auto ticket = s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?pages=1")), record(out));
    ASSERT_TRUE(ticket);
    ASSERT_TRUE(VNTest::waitUntil([&] { return notices.size() == 1; }));
    VNTest::spin(100);
    EXPECT_EQ(out->calls, 0);
    parsing.setSuspended(false);
    ASSERT_TRUE(settle(out));
    EXPECT_EQ(out->calls, 1);
    EXPECT_TRUE(out->onMain);
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(out->object);
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->entries().size(), 1);
    EXPECT_EQ(ticket->fetchedObject(), out->object);
    EXPECT_EQ(notices, QStringList({"kDAServiceTicketParsingStartedNotification", "kDAServiceTicketParsingStoppedNotification"}));

    // Cancelled while its reply waits to be parsed: nothing more.
    notices.clear();
    parsing.setSuspended(true);
    auto cancelled = std::make_shared<Outcome>();
    auto second = s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?pages=1")), record(cancelled));
    ASSERT_TRUE(VNTest::waitUntil([&] { return notices.size() == 1; }));
    second->cancelTicket();
    EXPECT_FALSE(second->service());
    parsing.setSuspended(false);
    parsing.waitUntilAllOperationsAreFinished();
    VNTest::spin(200);
    EXPECT_EQ(cancelled->calls, 0);
    EXPECT_EQ(notices.size(), 1);
    DAServiceBase::setNotificationObserver(nullptr);
    s->setOperationQueue(nullptr);
}

TEST(Service, FollowsNextLinksUpToTwentySevenPages) {
    auto s = service();
    s->setServiceShouldFollowNextLinks(true);
    const QString t = tag();
    auto out = std::make_shared<Outcome>();
    s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?pages=27&page=1&t=") + t), record(out));
    ASSERT_TRUE(settle(out));
    EXPECT_EQ(out->calls, 1);
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(out->object);
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->entries().size(), 27);
    EXPECT_FALSE(feed->nextLink());
    // Every page carried the token.
    const auto pages = requestsMatching(QStringLiteral("t=") + t);
    EXPECT_EQ(pages.size(), 27);
    for (const auto &p : pages)
        EXPECT_EQ(p.toObject()[QStringLiteral("headers")].toObject()[QStringLiteral("Authorization")].toString(), QStringLiteral("Bearer tok3n"));
}

TEST(Service, SurrogatesUnknownsNamespacesAndPublicReads) {
    auto s = service();
    s->setServiceSurrogates({{DAEntryBase::staticClass(), MarkedEntry::staticClass()}});
    auto out = std::make_shared<Outcome>();
    auto ticket = s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?odd=1")), record(out));
    DAObjectPtr object;
    VNErrorPtr error;
    ASSERT_TRUE(s->waitForTicket(ticket, 20, &object, &error));
    EXPECT_EQ(object, out->object);
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->unknownChildren().size(), 1);
    ASSERT_EQ(feed->entries().size(), 1);
    auto entry = std::dynamic_pointer_cast<MarkedEntry>(feed->entries().first());
    ASSERT_TRUE(entry);

    // The entry borrowed the feed's namespaces; written alone it needs its
    // own (the fake refuses a body outside the Atom namespace).
    EXPECT_TRUE(entry->namespaces().isEmpty());
    auto written = std::make_shared<Outcome>();
    s->fetchEntryByUpdatingEntry(entry, record(written));
    ASSERT_TRUE(settle(written));
    EXPECT_FALSE(written->error) << written->error->localizedDescription().toStdString();
    EXPECT_TRUE(std::dynamic_pointer_cast<MarkedEntry>(written->object));

    // A service that ignores unknowns drops them from feeds; a public read
    // carries no authorization, unless an authorizer (which replaces the
    // credentials) signs it.
    auto plain = std::make_shared<DAServiceBase>();
    plain->setShouldServiceFeedsIgnoreUnknowns(true);
    for (const bool authorized : {false, true}) {
        if (authorized) {
            plain->setUserCredentials(QStringLiteral("u"), QStringLiteral("p"));
            plain->setAuthorizer(std::make_shared<StampAuthorizer>());
            EXPECT_TRUE(plain->username().isEmpty());
        }
        const QString t = tag();
        auto pub = std::make_shared<Outcome>();
        auto query = std::make_shared<DAQuery>(fake(QStringLiteral("/data/feed?odd=1&t=") + t));
        plain->fetchPublicFeedWithQuery(query, nullptr, record(pub));
        ASSERT_TRUE(settle(pub));
        feed = std::dynamic_pointer_cast<DAFeedBase>(pub->object);
        ASSERT_TRUE(feed);
        EXPECT_TRUE(feed->unknownChildren().isEmpty());
        const auto seen = requestsMatching(QStringLiteral("t=") + t);
        ASSERT_EQ(seen.size(), 1);
        EXPECT_EQ(seen[0].toObject()[QStringLiteral("headers")].toObject()[QStringLiteral("Authorization")].toString(),
                  authorized ? QStringLiteral("Stamp 42") : QString());
    }
    // A batch feed goes out with the gd and batch namespaces it lacked.
    auto batch = DAFeedBase::feedWithXMLData(DAFeedBase::staticClass(),
                                             "<feed xmlns='http://www.w3.org/2005/Atom'><title>batch</title></feed>");
    ASSERT_TRUE(batch);
    plain->setShouldServiceFeedsIgnoreUnknowns(true);
    s->setShouldServiceFeedsIgnoreUnknowns(true);
    for (const bool signedIn : {false, true}) {
        auto results = std::make_shared<Outcome>();
        auto sent = signedIn ? s->fetchFeedWithBatchFeed(batch, fake(QStringLiteral("/data/batch")), record(results))
                             : plain->fetchPublicFeedWithBatchFeed(batch, fake(QStringLiteral("/data/batch")), record(results));
        ASSERT_TRUE(sent);
        EXPECT_FALSE(sent->shouldFeedsIgnoreUnknowns());
        ASSERT_TRUE(settle(results));
        EXPECT_FALSE(results->error) << results->error->localizedDescription().toStdString();
        feed = std::dynamic_pointer_cast<DAFeedBase>(results->object);
        ASSERT_TRUE(feed);
        EXPECT_EQ(feed->entries().size(), 1);
        batch = DAFeedBase::feedWithXMLData(DAFeedBase::staticClass(), "<feed xmlns='http://www.w3.org/2005/Atom'/>");
    }
}

TEST(Service, RetryHandlerDecidesAndTheWaitRunsOut) {
    auto s = service();
    s->setServiceRetryEnabled(true);
    s->setServiceMaxRetryInterval(60);
    std::atomic<int> asked{0};
    std::atomic<bool> suggested{false};
    s->setServiceRetryHandler([&](const DAServiceTicketPtr &, bool willRetry, const VNErrorPtr &) {
        ++asked;
        suggested = willRetry;
        return false;
    });
    VNErrorPtr error;
    DAServiceTicketPtr ticket;
    // Asked for the fetch, and for the sign-in the fetch waits for.
    for (const bool signIn : {false, true}) {
        asked = 0;
        suggested = false;
        if (signIn) {
            s->setSignInDomain(QStringLiteral("localhost:%1").arg(port()));
            s->setServiceID(QStringLiteral("lh2"));
            s->setUserCredentials(QStringLiteral("u@example.com"), QStringLiteral("busy"));
            s->setAuthToken(QString());
        }
        ticket = s->fetchEntryWithURL(fake(QStringLiteral("/data/status?code=503")), nullptr);
        ASSERT_TRUE(ticket);
        EXPECT_FALSE(s->waitForTicket(ticket, 20, nullptr, &error));
        EXPECT_EQ(code(error), 503);
        EXPECT_EQ(asked.load(), 1) << signIn;
        EXPECT_TRUE(suggested.load());
    }
    s->setUserCredentials(QString(), QString());
    s->setAuthToken(QStringLiteral("tok3n"));

    // A reply held in the parse queue: the wait gives up with -101.
    VNOperationQueue parsing(QStringLiteral("held parsing"));
    parsing.setSuspended(true);
    s->setOperationQueue(&parsing);
    ticket = s->fetchEntryWithURL(fake(QStringLiteral("/data/entry")), nullptr);
    DAObjectPtr object;
    EXPECT_FALSE(s->waitForTicket(ticket, 0.3, &object, &error));
    EXPECT_FALSE(object);
    EXPECT_EQ(error->domain(), DAServiceBase::errorDomain());
    EXPECT_EQ(code(error), -101);
    ticket->cancelTicket();
    parsing.setSuspended(false);
    parsing.waitUntilAllOperationsAreFinished();
}

TEST(Service, ErrorsEmptyAndForeignReplies) {
    auto s = service();
    // A stale If-Match: 412 with the server's error document.
    auto stale = entryWithEditLink(fake(QStringLiteral("/data/entry?stale=%22e0%22")).toString(), QStringLiteral("\"e0\""));
    auto out = std::make_shared<Outcome>();
    s->fetchEntryByUpdatingEntry(stale, record(out));
    ASSERT_TRUE(settle(out));
    ASSERT_TRUE(out->error);
    EXPECT_EQ(out->error->domain(), HFErrors::statusDomain());
    EXPECT_EQ(out->error->code(), 412);
    EXPECT_EQ(out->error->userInfo().value(QStringLiteral("error")).toString(), QStringLiteral("GData error etagsMismatch: \"Etags mismatch\""));
    EXPECT_TRUE(out->error->userInfo().value(QStringLiteral("serverErrors")).value<DAServerErrorGroupPtr>());

    struct Case {
        QString path;
        QString method;
        qint64 code;
        bool object;
    } cases[] = {
        {QStringLiteral("/data/entry"), QString(), 0, true},
        {QStringLiteral("/data/empty"), QString(), -100, false},     // a read that got nothing
        {QStringLiteral("/data/entry"), QStringLiteral("DELETE"), 0, false},  // a delete expects nothing
        {QStringLiteral("/data/html"), QString(), -100, false},      // a page, not an Atom reply
        {QStringLiteral("/data/status?code=403"), QString(), 403, false},
    };
    for (const auto &c : cases) {
        auto o = std::make_shared<Outcome>();
        s->fetchObjectWithURL(fake(c.path), nullptr, nullptr, QString(), c.method, record(o));
        ASSERT_TRUE(settle(o)) << c.path.toStdString();
        EXPECT_EQ(o->calls, 1);
        EXPECT_EQ(bool(o->object), c.object) << c.path.toStdString();
        EXPECT_EQ(code(o->error), c.code) << c.path.toStdString();
    }
    // No URL: an answer, not silence.
    auto none = std::make_shared<Outcome>();
    s->fetchEntryWithURL(QUrl(), record(none));
    ASSERT_TRUE(settle(none));
    EXPECT_EQ(code(none->error), -102);
}

TEST(Service, InsertWithMediaGoesInChunksAndEndsWithTheEntry) {
    auto s = service();
    s->setServiceUploadChunkSize(100000);
    const QByteArray media(100000 + 2500, 'm');
    auto entry = std::static_pointer_cast<DAEntryBase>(DAEntryBase::entryOfClass(DAEntryBase::staticClass()));
    entry->setUploadData(media);
    entry->setUploadMIMEType(QStringLiteral("image/jpeg"));
    entry->setUploadSlug(QStringLiteral("photo.jpg"));
    quint64 delivered = 0, total = 0;
    s->setServiceUploadProgressHandler([&](const DAServiceTicketPtr &, quint64 d, quint64 t) {
        delivered = d;
        total = t;
    });
    const QString t = tag();
    auto out = std::make_shared<Outcome>();
    s->fetchEntryByInsertingEntry(entry, fake(QStringLiteral("/upload/create?entry=1&t=") + t), record(out));
    ASSERT_TRUE(settle(out));
    ASSERT_FALSE(out->error) << out->error->localizedDescription().toStdString();
    auto created = std::dynamic_pointer_cast<DAEntryBase>(out->object);
    ASSERT_TRUE(created);
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(media, QCryptographicHash::Sha1).toHex());
    EXPECT_EQ(created->title()->stringValue(), QStringLiteral("size 102500 sha1 ") + sha);
    EXPECT_EQ(delivered, total);
    EXPECT_GT(total, quint64(media.size()));

    // The bearer token went to the data request, not to the upload chunks.
    const auto create = requestsMatching(QStringLiteral("t=") + t);
    ASSERT_EQ(create.size(), 1);
    const QJsonObject headers = create[0].toObject()[QStringLiteral("headers")].toObject();
    EXPECT_EQ(headers[QStringLiteral("Authorization")].toString(), QStringLiteral("Bearer tok3n"));
    EXPECT_EQ(headers[QStringLiteral("Slug")].toString(), QStringLiteral("photo.jpg"));
    EXPECT_EQ(headers[QStringLiteral("X-Upload-Content-Length")].toString(), QStringLiteral("102500"));
    int puts = 0;
    for (const auto &e : requestsMatching(QStringLiteral("/upload/session/"))) {
        const QJsonObject o = e.toObject();
        if (o[QStringLiteral("headers")].toObject()[QStringLiteral("Content-Range")].toString().endsWith(QLatin1String("/102500"))) {
            ++puts;
            EXPECT_FALSE(o[QStringLiteral("headers")].toObject().contains(QStringLiteral("Authorization")));
        }
    }
    EXPECT_GE(puts, 2);
}

namespace {

// A Google service signing in at the fake with the given account.
std::shared_ptr<DAServiceGoogle> signingInAs(const QString &user, const QString &password) {
    auto s = DAServiceGoogle::make();
    s->setSignInDomain(QStringLiteral("localhost:%1").arg(port()));
    s->setServiceID(QStringLiteral("lh2"));
    s->setUserCredentials(user, password);
    return s;
}

}  // namespace

TEST(Service, SignInSharedByWaitingFetchesAndAgainAfterARejection) {
    auto s = signingInAs(QStringLiteral("u@example.com"), QStringLiteral("p"));
    const QString t = tag();
    // Two fetches wait for one sign-in, then both run with its token.
    auto first = std::make_shared<Outcome>(), second = std::make_shared<Outcome>();
    auto a = s->fetchEntryWithURL(fake(QStringLiteral("/data/private?t=") + t), record(first));
    auto b = s->fetchEntryWithURL(fake(QStringLiteral("/data/private?t=") + t), record(second));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(s->pendingAuthFetcher());
    ASSERT_TRUE(settle(first));
    ASSERT_TRUE(settle(second));
    EXPECT_FALSE(first->error);
    EXPECT_TRUE(first->object && second->object);
    EXPECT_TRUE(s->authToken().startsWith(QLatin1String("tok-")));
    const auto signIns = requestsMatching(QStringLiteral("/accounts/ClientLogin"));

    // Someone else signed in meanwhile: our token is refused once, we sign
    // in again and the fetch goes through; no callback for the refusal.
    auto elsewhere = std::make_shared<Outcome>();
    signingInAs(QStringLiteral("u@example.com"), QStringLiteral("p"))
        ->fetchEntryWithURL(fake(QStringLiteral("/data/private")), record(elsewhere));
    ASSERT_TRUE(settle(elsewhere));
    auto again = std::make_shared<Outcome>();
    s->fetchEntryWithURL(fake(QStringLiteral("/data/private?again=") + t), record(again));
    ASSERT_TRUE(settle(again));
    EXPECT_EQ(again->calls, 1);
    EXPECT_FALSE(again->error);
    EXPECT_EQ(requestsMatching(QStringLiteral("/data/private?again=") + t).size(), 2);
    EXPECT_EQ(requestsMatching(QStringLiteral("/accounts/ClientLogin")).size(), signIns.size() + 2);
}

TEST(Service, AWrongPasswordRefusesTheWaitingFetchAndACancelledWaitCallsNothing) {
    auto wrong = signingInAs(QStringLiteral("u@example.com"), QStringLiteral("nope"));
    auto refused = std::make_shared<Outcome>();
    wrong->fetchEntryWithURL(fake(QStringLiteral("/data/private")), record(refused));
    ASSERT_TRUE(settle(refused));
    EXPECT_EQ(refused->error ? refused->error->domain() : QString(), DAServiceBase::errorDomain());
    EXPECT_EQ(code(refused->error), 403);
    EXPECT_EQ(refused->error->userInfo().value(QStringLiteral("error")).toString(), QStringLiteral("BadAuthentication"));
    auto cancelled = std::make_shared<Outcome>();
    auto waiting = wrong->fetchEntryWithURL(fake(QStringLiteral("/data/private")), record(cancelled));
    ASSERT_TRUE(waiting);
    waiting->cancelTicket();
    EXPECT_FALSE(wrong->pendingAuthFetcher());
    VNTest::spin(300);
    EXPECT_EQ(cancelled->calls, 0);
}

TEST(Service, ACaptchaTokenAndTheUsersAnswerGoWithTheNextSignIn) {
    auto challenged = signingInAs(QStringLiteral("c@example.com"), QStringLiteral("captcha"));
    auto asked = std::make_shared<Outcome>();
    challenged->fetchEntryWithURL(fake(QStringLiteral("/data/entry")), record(asked));
    ASSERT_TRUE(settle(asked));
    ASSERT_EQ(code(asked->error), 403);
    const QVariantMap info = asked->error->userInfo();
    // The reply's relative captcha address, made absolute on the sign-in host.
    EXPECT_EQ(DAServiceGoogleAdditions::captchaURL(info),
              QUrl(QStringLiteral("https://%1/accounts/Captcha?ctoken=ct").arg(challenged->signInDomain())));
    EXPECT_EQ(DAServiceGoogleAdditions::authenticationError(info), QStringLiteral("CaptchaRequired"));
    challenged->setCaptchaToken(DAServiceGoogleAdditions::captchaToken(info), QStringLiteral("answer"));
    auto answered = std::make_shared<Outcome>();
    challenged->fetchEntryWithURL(fake(QStringLiteral("/data/entry")), record(answered));
    ASSERT_TRUE(settle(answered));
    EXPECT_FALSE(answered->error);
    EXPECT_EQ(challenged->authToken(), QStringLiteral("tok-captcha"));
}

TEST(Service, ASignInOfItsOwnStoresTheTokenOrSaysWhyItWasRefused) {
    for (const bool right : {true, false}) {
        auto svc = signingInAs(QStringLiteral("u@example.com"), right ? QStringLiteral("p") : QStringLiteral("nope"));
        int calls = 0;
        VNErrorPtr error;
        ASSERT_TRUE(svc->authenticate([&](const DAServiceTicketPtr &, const VNErrorPtr &e) {
            ++calls;
            error = e;
        }));
        ASSERT_TRUE(VNTest::waitUntil([&] { return calls > 0; }));
        EXPECT_EQ(calls, 1);
        if (right) {
            EXPECT_FALSE(error);
            EXPECT_TRUE(svc->authToken().startsWith(QLatin1String("tok-")));
        } else {
            EXPECT_EQ(code(error), 403);
            EXPECT_EQ(error->userInfo().value(QStringLiteral("error")).toString(), QStringLiteral("BadAuthentication"));
        }
    }
}

namespace {

// A service whose sign-in requests carry a header of its own.
class HeaderedService : public DAServiceGoogle {
public:
    explicit HeaderedService(QString tag) : m_tag(std::move(tag)) {}
    Headers customAuthenticationRequestHeaders() const override { return {{QStringLiteral("X-Sign-In-Tag"), m_tag}}; }

private:
    QString m_tag;
};

}  // namespace

TEST(Service, ASignInRequestCarriesTheServicesOwnHeaders) {
    const QString t = tag();
    auto s = std::make_shared<HeaderedService>(t);
    s->setSignInDomain(QStringLiteral("localhost:%1").arg(port()));
    s->setServiceID(QStringLiteral("lh2"));
    s->setUserCredentials(QStringLiteral("u@example.com"), QStringLiteral("p"));
    int calls = 0;
    ASSERT_TRUE(s->authenticate([&](const DAServiceTicketPtr &, const VNErrorPtr &) { ++calls; }));
    ASSERT_TRUE(VNTest::waitUntil([&] { return calls > 0; }));
    int tagged = 0;
    for (const auto &entry : requestsMatching(QStringLiteral("/accounts/ClientLogin"))) {
        const QJsonObject headers = entry.toObject()[QStringLiteral("headers")].toObject();
        for (auto it = headers.begin(); it != headers.end(); ++it)
            tagged += it.key().compare(QLatin1String("X-Sign-In-Tag"), Qt::CaseInsensitive) == 0 && it.value().toString() == t;
    }
    EXPECT_EQ(tagged, 1);
}

TEST(Service, AFetcherAnswersItsTicketWithoutKeepingItAlive) {
    auto s = service();
    auto out = std::make_shared<Outcome>();
    std::weak_ptr<DAServiceTicketBase> weak;
    {
        auto ticket = s->fetchEntryWithURL(fake(QStringLiteral("/data/entry")), record(out));
        ASSERT_TRUE(ticket);
        weak = ticket;
        EXPECT_EQ(DATicket(ticket->objectFetcher()), ticket);
        const QString description = ticket->description();
        EXPECT_TRUE(description.startsWith(QLatin1String("DAServiceTicket "))) << description.toStdString();
        EXPECT_TRUE(description.contains(QLatin1String("{service:DAServiceGoogle "))) << description.toStdString();
        EXPECT_TRUE(description.contains(QLatin1String(" objectFetcher:HFHTTPFetcher "))) << description.toStdString();
        EXPECT_TRUE(description.endsWith(QLatin1String(" authFetcher:(null)}"))) << description.toStdString();
        ASSERT_TRUE(settle(out));
        EXPECT_FALSE(out->error);
    }
    EXPECT_TRUE(weak.expired());
}
