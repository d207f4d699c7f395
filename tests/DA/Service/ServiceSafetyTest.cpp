// The Google service's refusals of requests that would lose data on the
// server or lack what they need, its sign-in errors, the photo service's
// sign-in code, progress reaching a fetch already under way, and the ETag
// forms of fetch and delete.
#include "DA/HTTPFetcher/FetchTestSupport.h"
#include "DA/Service/ServiceOutcome.h"

#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/Service/DAServiceGooglePhotos.h"

using namespace FetchTest;

using namespace ServiceTestSupport;

namespace {

std::shared_ptr<DAServiceGoogle> service() {
    auto s = DAServiceGoogle::make();
    s->setAuthToken(QStringLiteral("tok3n"));
    return s;
}

DAEntryBasePtr entryAt(const QString &href) {
    auto entry = std::static_pointer_cast<DAEntryBase>(DAEntryBase::entryOfClass(DAEntryBase::staticClass()));
    if (!href.isEmpty())
        entry->addLink(DALink::linkWithRel(QStringLiteral("edit"), QString(), href));
    return entry;
}

QString errorText(const VNErrorPtr &e) { return e ? e->userInfo().value(QStringLiteral("error")).toString() : QString(); }

}  // namespace

TEST(ServiceSafety, RequestsThatWouldLoseDataOrLackWhatTheyNeedAreRefused) {
    enum Action { Update, Delete, DeleteURL, SignIn };
    struct Row {
        const char *name;
        Action action;
        bool withoutUnknowns;  // the entry was read with its unknown elements left out
        const char *fields;    // its field selection
        bool editLink;
        const char *serviceID;
        const char *refusal;   // the start of the refusal; null: sent
    } rows[] = {
        {"whole update of an entry read without its unknowns", Update, true, "", true, "", "unsafe update of DAEntryBase"},
        {"whole update of an entry read whole", Update, false, "", true, "", nullptr},
        {"partial update of an entry read without its unknowns", Update, true, "title", true, "", nullptr},
        {"delete of an entry without an edit link", Delete, false, "", false, "", "deleting uneditable entry: "},
        {"delete of an entry with an edit link", Delete, false, "", true, "", nullptr},
        {"delete of no resource", DeleteURL, false, "", false, "", "deleting unspecified resource"},
        {"delete of a resource", DeleteURL, false, "", true, "", nullptr},
        {"sign-in without a service code", SignIn, false, "", true, "", "DAServiceGoogle should have a serviceID"},
        {"sign-in with a service code", SignIn, false, "", true, "lh2", nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString t = tag();
        const QString href = row.editLink ? fake(QStringLiteral("/data/entry?t=") + t).toString() : QString();
        auto s = service();
        auto entry = entryAt(href);
        entry->setShouldIgnoreUnknowns(row.withoutUnknowns);
        entry->setFieldSelection(QString::fromLatin1(row.fields));
        auto out = std::make_shared<Outcome>();
        DAServiceTicketPtr ticket;
        switch (row.action) {
        case Update: ticket = s->fetchEntryByUpdatingEntry(entry, record(out)); break;
        case Delete: ticket = s->deleteEntry(entry, record(out)); break;
        case DeleteURL: ticket = s->deleteResourceURL(QUrl(href), QString(), record(out)); break;
        case SignIn:
            s->setSignInDomain(QStringLiteral("localhost:%1").arg(port()));
            s->setServiceID(QString::fromLatin1(row.serviceID));
            s->setUserCredentials(QStringLiteral("u@example.com"), QStringLiteral("p"));
            ticket = s->fetchEntryWithURL(QUrl(href), record(out));
            break;
        }
        ASSERT_TRUE(settle(out));
        EXPECT_EQ(out->calls, 1);
        if (row.refusal) {
            ASSERT_TRUE(out->error);
            EXPECT_EQ(out->error->domain(), DAServiceBase::errorDomain());
            EXPECT_EQ(out->error->code(), DAServiceBase::refusedRequestCode);
            EXPECT_TRUE(errorText(out->error).startsWith(QLatin1String(row.refusal))) << errorText(out->error).toStdString();
            EXPECT_TRUE(requestsMatching(t).isEmpty());
        } else {
            EXPECT_FALSE(out->error) << errorText(out->error).toStdString();
            EXPECT_EQ(requestsMatching(t).size(), 1);
        }
    }
}

TEST(ServiceSafety, AnEntryOfAFeedReadWithoutItsUnknownsIsNotWrittenBackWhole) {
    auto s = service();
    s->setShouldServiceFeedsIgnoreUnknowns(true);
    const QString t = tag();
    auto read = std::make_shared<Outcome>();
    s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?odd=1&t=") + t), record(read));
    ASSERT_TRUE(settle(read));
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(read->object);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->entries().size(), 1);
    auto entry = feed->entries().first();
    entry->editLink()->setHref(fake(QStringLiteral("/data/entry?w=") + t).toString());
    auto written = std::make_shared<Outcome>();
    s->fetchEntryByUpdatingEntry(entry, record(written));
    ASSERT_TRUE(settle(written));
    EXPECT_EQ(code(written->error), DAServiceBase::refusedRequestCode);
    EXPECT_TRUE(requestsMatching(QStringLiteral("w=") + t).isEmpty());
}

TEST(ServiceSafety, ASignInReplyWithoutATokenSaysWhy) {
    for (const bool standalone : {false, true}) {
        SCOPED_TRACE(standalone ? "standalone sign-in" : "a fetch waiting for the sign-in");
        auto s = DAServiceGoogle::make();
        s->setSignInDomain(QStringLiteral("localhost:%1").arg(port()));
        s->setServiceID(QStringLiteral("lh2"));
        s->setUserCredentials(QStringLiteral("u@example.com"), QStringLiteral("noauth"));
        VNErrorPtr error;
        int calls = 0;
        if (standalone) {
            ASSERT_TRUE(s->authenticate([&](const DAServiceTicketPtr &, const VNErrorPtr &e) { ++calls, error = e; }));
        } else {
            s->fetchEntryWithURL(fake(QStringLiteral("/data/entry")),
                                 [&](const DAServiceTicketPtr &, const DAObjectPtr &, const VNErrorPtr &e) { ++calls, error = e; });
        }
        ASSERT_TRUE(VNTest::waitUntil([&] { return calls > 0; }));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), DAServiceBase::errorDomain());
        EXPECT_EQ(error->code(), 403);
        const QVariantMap info = error->userInfo();
        EXPECT_EQ(DAServiceGoogleAdditions::authenticationError(info), QStringLiteral("AccountDisabled"));
        EXPECT_EQ(DAServiceGoogleAdditions::authenticationInfo(info), QStringLiteral("Suspended"));
        EXPECT_EQ(errorText(error), QStringLiteral("AccountDisabled"));
        EXPECT_EQ(DAServiceGoogleAdditions::captchaURL(info),
                  QUrl(QStringLiteral("https://localhost:%1/accounts/Captcha?ctoken=na").arg(port())));
        EXPECT_TRUE(s->authToken().isEmpty());
    }
}

TEST(ServiceSafety, ThePhotoServiceSignsInWithItsOwnCode) {
    auto photos = DAServiceGooglePhotos::make();
    photos->setUserCredentials(QStringLiteral("u@example.com"), QStringLiteral("p"));
    const std::shared_ptr<DAServiceGoogle> google = photos;
    EXPECT_EQ(google->serviceID(), QStringLiteral("lh2"));
    auto fetcher = google->authenticationFetcher();
    ASSERT_TRUE(fetcher);
    EXPECT_TRUE(fetcher->postData().contains("&service=lh2&")) << fetcher->postData().constData();
    EXPECT_EQ(google->authorizationScope(), DAServiceGooglePhotos::serviceRootURLString());
}

TEST(ServiceSafety, AProgressHandlerSetAfterTheUploadBeganIsCalled) {
    auto s = service();
    s->setServiceUploadChunkSize(60000);
    const QByteArray media(60000 + 1500, 'm');
    auto entry = entryAt(QString());
    entry->setUploadData(media);
    entry->setUploadMIMEType(QStringLiteral("image/jpeg"));
    entry->setUploadSlug(QStringLiteral("late.jpg"));
    auto out = std::make_shared<Outcome>();
    auto ticket = s->fetchEntryByInsertingEntry(entry, fake(QStringLiteral("/upload/create?entry=1")), record(out));
    ASSERT_TRUE(ticket);
    quint64 delivered = 0, total = 0;
    ticket->setUploadProgressHandler([&](const DAServiceTicketPtr &, quint64 d, quint64 t) { delivered = d, total = t; });
    ASSERT_TRUE(settle(out));
    ASSERT_FALSE(out->error) << errorText(out->error).toStdString();
    EXPECT_GT(total, quint64(media.size()));
    EXPECT_EQ(delivered, total);
}

// A handler set while a chunk is already on its way hears of that chunk too
// (here the only one).
TEST(ServiceSafety, AProgressHandlerSetWhileAChunkIsSentIsCalled) {
    auto s = service();
    s->setServiceUploadChunkSize(60000);
    const QByteArray media(30000, 'm');
    auto entry = entryAt(QString());
    entry->setUploadData(media);
    entry->setUploadMIMEType(QStringLiteral("image/jpeg"));
    entry->setUploadSlug(QStringLiteral("during.jpg"));
    auto out = std::make_shared<Outcome>();
    auto ticket = s->fetchEntryByInsertingEntry(entry, fake(QStringLiteral("/upload/create?entry=1")), record(out));
    ASSERT_TRUE(ticket);
    quint64 delivered = 0, total = 0;
    bool set = false;
    HFHTTPFetcher::setNotificationObserver([&](const QString &name, HFHTTPFetcher *fetcher) {
        const bool chunk = !fetcher->mutableRequest().valueForHTTPHeaderField(QStringLiteral("Content-Range")).isEmpty();
        if (set || !chunk || name != QLatin1String("kHFHTTPFetcherStartedNotification"))
            return;
        set = true;
        ticket->setUploadProgressHandler([&](const DAServiceTicketPtr &, quint64 d, quint64 t) { delivered = d, total = t; });
    });
    const bool settled = settle(out);
    HFHTTPFetcher::setNotificationObserver(nullptr);
    ASSERT_TRUE(settled);
    ASSERT_FALSE(out->error) << errorText(out->error).toStdString();
    EXPECT_TRUE(set);
    EXPECT_GT(total, quint64(media.size()));
    EXPECT_EQ(delivered, total);
}

namespace {

// Fails every request synchronously, as an authorizer without credentials might.
struct RefusingAuthorizer : HFFetcherAuthorizationProtocol {
    bool isAuthorizedRequest(const HFURLRequest &) override { return false; }
    void authorizeRequest(HFURLRequest *, Completion completion) override {
        completion(std::make_shared<VNError>(QStringLiteral("test.authorizer"), 7));
    }
    bool isAuthorizingRequest(const HFURLRequest &) override { return false; }
    void stopAuthorization() override {}
};

}  // namespace

TEST(ServiceSafety, AFetchAnsweredDuringTheCallAnswersNoTicket) {
    auto s = service();
    s->setAuthorizer(std::make_shared<RefusingAuthorizer>());
    auto out = std::make_shared<Outcome>();
    EXPECT_FALSE(s->fetchEntryWithURL(fake(QStringLiteral("/data/entry")), record(out)));
    EXPECT_EQ(out->calls, 1);
    EXPECT_EQ(code(out->error), 7);
}

TEST(ServiceSafety, ETagFormsAreConditional) {
    auto s = service();
    const QString t = tag();
    enum Form { Feed, Entry, Delete };
    struct Row {
        const char *name;
        Form form;
        const char *path;
        const char *etag;
        const char *header;
        qint64 code;
    } rows[] = {
        {"feed, current ETag", Feed, "/etag?tag=v1&f=", "\"v1\"", "If-None-Match", 304},
        {"entry, current ETag", Entry, "/etag?tag=v1&e=", "\"v1\"", "If-None-Match", 304},
        {"delete, stale ETag", Delete, "/data/entry?stale=%22e0%22&d=", "\"e0\"", "If-Match", 412},
        {"delete, weak ETag", Delete, "/data/entry?stale=%22e0%22&w=", "W/\"e0\"", nullptr, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = QString::fromLatin1(row.path) + t;
        const QUrl url = fake(path);
        const QString etag = QString::fromLatin1(row.etag);
        auto out = std::make_shared<Outcome>();
        switch (row.form) {
        case Feed: s->fetchFeedWithURL(url, nullptr, etag, record(out)); break;
        case Entry: s->fetchEntryWithURL(url, nullptr, etag, record(out)); break;
        case Delete: s->deleteResourceURL(url, etag, record(out)); break;
        }
        ASSERT_TRUE(settle(out));
        EXPECT_EQ(code(out->error), row.code);
        const auto seen = requestsMatching(path);
        ASSERT_EQ(seen.size(), 1);
        const QJsonObject headers = seen[0].toObject()[QStringLiteral("headers")].toObject();
        for (const char *name : {"If-Match", "If-None-Match"})
            EXPECT_EQ(headers[QLatin1String(name)].toString(), row.header && !qstrcmp(name, row.header) ? etag : QString()) << name;
    }
}

namespace {

struct NoopAuthorizer : HFFetcherAuthorizationProtocol {
    bool isAuthorizedRequest(const HFURLRequest &) override { return true; }
    void authorizeRequest(HFURLRequest *, Completion completion) override { completion(nullptr); }
    bool isAuthorizingRequest(const HFURLRequest &) override { return false; }
    void stopAuthorization() override {}
};

}  // namespace

// An authorizer and an account sign for one another's requests no longer:
// setting either drops what the other left.
TEST(ServiceSafety, AnAuthorizerAndAnAccountReplaceEachOther) {
    struct Row {
        const char *name;
        bool setAuthorizer;  // else new credentials
        const char *user;
        bool tokenLeft;
        bool authorizerLeft;
    } rows[] = {
        {"an authorizer replaces the signed-in account", true, "", false, true},
        {"another account replaces the authorizer", false, "v@example.com", false, false},
        {"the same account keeps its token and the authorizer", false, "u@example.com", true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto s = DAServiceGoogle::make();
        s->setUserCredentials(QStringLiteral("u@example.com"), QStringLiteral("p"));
        s->setAuthToken(QStringLiteral("tok"));
        if (!row.setAuthorizer)
            s->fetcherService()->setAuthorizer(std::make_shared<NoopAuthorizer>());
        if (row.setAuthorizer)
            s->setAuthorizer(std::make_shared<NoopAuthorizer>());
        else
            s->setUserCredentials(QString::fromLatin1(row.user), QStringLiteral("p"));
        EXPECT_EQ(!s->authToken().isEmpty(), row.tokenLeft);
        EXPECT_EQ(bool(s->authorizer()), row.authorizerLeft);
    }
}

namespace {

// Hands out a fetcher that cannot begin for a feed's second page.
class SecondPageFails : public HFHTTPFetcherService {
public:
    std::shared_ptr<HFHTTPFetcher> fetcherWithRequest(const HFURLRequest &request) override {
        auto fetcher = HFHTTPFetcherService::fetcherWithRequest(request);
        if (request.url().query().contains(QLatin1String("page=2")))
            fetcher->setMutableRequest(HFURLRequest());
        return fetcher;
    }
};

}  // namespace

TEST(ServiceSafety, ANextPageThatCannotBeginIsToldOnce) {
    auto s = service();
    s->setFetcherService(std::make_shared<SecondPageFails>());
    s->setServiceShouldFollowNextLinks(true);
    auto out = std::make_shared<Outcome>();
    s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?pages=3&page=1")), record(out));
    ASSERT_TRUE(settle(out));
    VNTest::spin(200);
    EXPECT_EQ(out->calls, 1);
    EXPECT_FALSE(out->object);
    EXPECT_EQ(out->error ? out->error->domain() : QString(), HFErrors::fetcherDomain());
}
