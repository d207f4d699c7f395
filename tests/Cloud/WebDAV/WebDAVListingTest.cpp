// Listing and login against Apache's mod_dav on both shares (the root with
// Basic, "/dav" with Digest), over http, https with the test CA and a
// self-signed certificate; odd listings from the fake.
#include "WebDAVPeer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

class WebDAVListing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
    }

    AnswerPtr list(const QNDriveConfigPtr &config, const QString &folder, const QString &keyword = QString()) {
        auto answer = std::make_shared<Answer>();
        handlerFor(config)->listDocuments(QNDocument::withPath(folder, true), keyword, listAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    static QMap<QString, QNDocumentPtr> byPath(const QNDocumentList &documents) {
        QMap<QString, QNDocumentPtr> map;
        for (const auto &d : documents)
            map.insert(d->path(), d);
        return map;
    }

    // A folder with a file, a folder with a blank and a non-ASCII name.
    static void fill(const QString &folder) {
        VNTest::writeFile(folder + "/a.txt", "hello");
        QDir().mkpath(folder + "/c d");
        VNTest::writeFile(folder + "/c d/inner.txt", "x");
        VNTest::writeFile(folder + QString::fromUtf8("/ünï 100%.txt"), QByteArray(1000, 'u'));
    }

    void expectFilled(const QNDriveConfigPtr &config, const QString &listed) {
        auto answer = list(config, listed, "needle");
        QString folder = listed;
        if (folder.endsWith('/'))
            folder.chop(1);
        ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
        EXPECT_FALSE(answer->cancelled);
        EXPECT_EQ(answer->keyword, "needle");  // passed back, never a filter
        const auto map = byPath(answer->documents);
        EXPECT_EQ(map.keys(), (QStringList{folder + "/a.txt", folder + "/c d", folder + QString::fromUtf8("/ünï 100%.txt")}));
        ASSERT_TRUE(map.contains(folder + "/a.txt") && map.contains(folder + "/c d") && map.size() == 3);
        const auto file = map.value(folder + "/a.txt");
        EXPECT_FALSE(file->isDirectory());
        EXPECT_EQ(file->size(), 5);
        EXPECT_EQ(file->displayName(), "a.txt");
        EXPECT_TRUE(file->date().isValid());
        EXPECT_LT(qAbs(file->date().secsTo(QDateTime::currentDateTimeUtc())), 3600);
        const auto dir = map.value(folder + "/c d");
        EXPECT_TRUE(dir->isDirectory());
        EXPECT_EQ(dir->displayName(), "c d");
        EXPECT_EQ(map.value(folder + QString::fromUtf8("/ünï 100%.txt"))->size(), 1000);
    }
};

TEST_F(WebDAVListing, BothSharesOverHttpAndHttpsDoNotListTheFolderInsideItself) {
    // The root share with Basic, the "/dav" share with Digest; the drive URL
    // also written with a trailing slash, and a folder path with one.
    struct Case {
        QString share, url, listed;
    };
    const std::vector<Case> cases{
        {"root_dir", url("http"), "/list-plain"},
        {"dav_dir", url("http") + "/dav", "/list-plain"},
        {"dav_dir", url("http") + "/dav/", "/list-plain/"},
        {"root_dir", url("https"), "/list-https"},
        {"dav_dir", url("https") + "/dav", "/list-https"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.url + c.listed).toStdString());
        QString name = c.listed.mid(1);
        if (name.endsWith('/'))
            name.chop(1);
        fill(freshFolder(c.share, name));
        expectFilled(drive(c.url), c.listed);
    }
}

TEST_F(WebDAVListing, SelfSignedRefusedWhileValidatingAcceptedWithValidationOff) {
    fill(freshFolder("root_dir", "list-self"));
    auto refused = list(drive(url("selfsigned"), true), "/list-self");
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->domain(), "NRHTTPRequestErrorDomain");
    EXPECT_TRUE(refused->documents.isEmpty());
    EXPECT_FALSE(refused->cancelled);
    expectFilled(drive(url("selfsigned"), false), "/list-self");
}

TEST_F(WebDAVListing, ListingTheRootOfEachShare) {
    freshFolder("root_dir", "root-marker");
    auto root = list(drive(url("http")), "/");
    ASSERT_FALSE(root->error);
    EXPECT_TRUE(byPath(root->documents).contains("/root-marker"));
    for (const auto &d : root->documents)
        EXPECT_NE(d->path(), "/");
    freshFolder("dav_dir", "dav-marker");
    auto dav = list(drive(url("http") + "/dav"), "/");
    ASSERT_FALSE(dav->error);
    EXPECT_TRUE(byPath(dav->documents).contains("/dav-marker"));
    EXPECT_FALSE(byPath(dav->documents).contains("/root-marker"));
    for (const auto &d : dav->documents)
        EXPECT_NE(d->displayName(), "dav");
}

TEST_F(WebDAVListing, MissingFolderGivesTheStatusLine) {
    auto answer = list(drive(url("http")), "/no-such-folder");
    ASSERT_TRUE(answer->error);
    EXPECT_EQ(answer->error->domain(), "QNWebDavHander");
    EXPECT_EQ(answer->error->code(), 42);
    EXPECT_EQ(answer->errorText(), statusLine(404, "Not Found"));
}

TEST_F(WebDAVListing, WiFiDiskHidesItsSystemFolders) {
    const QString folder = freshFolder("root_dir", "list-diskcast");
    QDir().mkpath(folder + "/$RECYCLE.BIN");
    QDir().mkpath(folder + "/System Volume Information");
    QDir().mkpath(folder + "/Movies");
    auto plain = list(drive(url("http")), "/list-diskcast");
    EXPECT_EQ(plain->documents.size(), 3);
    auto config = drive(url("http"));
    config->setDisplayName("diskCAST-A1B2");
    auto disk = list(config, "/list-diskcast");
    ASSERT_EQ(disk->documents.size(), 1);
    EXPECT_EQ(disk->documents[0]->path(), "/list-diskcast/Movies");
}

TEST_F(WebDAVListing, LoginWritesTheCaptionOnlyWhenItWorks) {
    auto config = drive(url("http") + "/dav");
    auto answer = std::make_shared<Answer>();
    handlerFor(config)->login(loginAnswer(answer));
    ASSERT_TRUE(waitForAnswer(answer));
    EXPECT_EQ(answer->count, 1);
    EXPECT_TRUE(answer->success);
    EXPECT_FALSE(answer->error);
    EXPECT_EQ(config->description(), "SHOW DOCUMENTS ON THIS WEBDAV ACCOUNT");

    for (const QString &share : {url("http"), url("http") + "/dav"}) {
        auto wrong = drive(share);
        wrong->setPassword("wrong password");
        auto refused = std::make_shared<Answer>();
        handlerFor(wrong)->login(loginAnswer(refused));
        ASSERT_TRUE(waitForAnswer(refused));
        EXPECT_EQ(refused->count, 1);
        EXPECT_FALSE(refused->success);
        ASSERT_TRUE(refused->error);
        EXPECT_TRUE(wrong->description().isNull());
    }
}

TEST_F(WebDAVListing, BrokenRepliesAndBadAddressesAreErrors) {
    struct Case {
        QString url, folder, domain;
    };
    const std::vector<Case> cases{
        {fakeURL(), "/list-garbage", {}},
        {fakeURL(), "/list-empty-body", {}},
        {fakeURL(), "/list-drop", {}},
        {fakeURL(), "/list-cut", {}},
        {"http://127.0.0.1:1", "/", "NRHTTPRequestErrorDomain"},
        {"not a url", "/", {}},
    };
    for (const Case &c : cases) {
        auto answer = list(drive(c.url), c.folder);
        ASSERT_TRUE(answer->error) << c.folder.toStdString();
        EXPECT_FALSE(answer->cancelled);
        EXPECT_TRUE(answer->documents.isEmpty());
        if (!c.domain.isEmpty())
            EXPECT_EQ(answer->error->domain(), c.domain);
    }
}

TEST_F(WebDAVListing, CancelAnswersOnceCancelledWithoutError) {
    auto handler = handlerFor(drive(fakeURL()));
    auto answer = std::make_shared<Answer>();
    handler->listDocuments(QNDocument::withPath("/slow", true), QString(), listAnswer(answer));
    VNTest::spin(300);
    EXPECT_EQ(answer->count, 0);
    handler->cancel();
    ASSERT_TRUE(waitForAnswer(answer));
    VNTest::spin(200);
    EXPECT_EQ(answer->count, 1);
    EXPECT_TRUE(answer->cancelled);
    EXPECT_FALSE(answer->error);
    EXPECT_TRUE(answer->documents.isEmpty());
}

}  // namespace
