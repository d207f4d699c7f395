// The Box drive against its fake: the OAuth 2 sign-in with the refresh
// token kept under the user's default, token refresh, every operation, paged
// listings, the thumbnail address with its marker, a second upload of a name
// replacing the file, refused and cut replies, and a folder tree through tasks.
#include "WebDriveTestSupport.h"

#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QFileInfo>

using namespace WebDriveTest;

namespace {

class BoxDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            GTEST_SKIP() << "the box peer is not running";
        fake.trustItsCertificate();
        QNServiceHosts::setUrl("box.account", fake.httpBase());
        QNServiceHosts::setUrl("box.api", fake.httpsBase());
        QNServiceHosts::setUrl("box.upload", fake.httpsBase());
        fake.control("reset");
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNBoxHandler::registerWithFactory();
        drive = QNDriveConfig::create();
        drive->setIsBox(true);
        local = VNTest::makeTempDir();
        ASSERT_NO_FATAL_FAILURE(signInByHand<QNBoxHandler>(drive, "SHOW DOCUMENTS ON THIS BOX ACCOUNT"));
    }

    Fake fake{"box"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(BoxDrive, EveryOperationThumbnailsAndTokens) {
    EXPECT_EQ(drive->userId(), "1234");
    EXPECT_TRUE(drive->password().isEmpty()) << "Box keeps no password in the drive";
    const QString refresh = VNUserDefaults::standard().stringForKey("box-refresh-token:1234");
    EXPECT_TRUE(refresh.startsWith("refresh-"));

    Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Photos", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Photos");
    for (const char *name : {"a.JPG", "b.png", "c.txt", "d.gif"}) {
        VNTest::writeFile(local->path() + "/" + name, QByteArray(name));
        a = run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath("/Photos", true), {}, cb);
        });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    }
    // The same name again: the file's new version, not a second file.
    VNTest::writeFile(local->path() + "/c.txt", "second version");
    a = run(drive, [&](auto h, auto cb) {
        h->upload(QNDocument::withPath(local->path() + "/c.txt"), QNDocument::withPath("/Photos", true), {}, cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();

    Answer l = list(drive, "/Photos");  // two pages of three
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), (QStringList{"a.JPG", "b.png", "c.txt", "d.gif"}));
    for (const auto &document : l.documents) {
        const QString thumbnail = document->thumbnailURL().toString();
        if (document->displayName() == "c.txt") {
            EXPECT_TRUE(thumbnail.isEmpty());
            continue;
        }
        // The marker and the token stand last; the pane cuts them off and sends the token as a bearer.
        const QString marker = "&BoxAuth+" + drive->token();
        ASSERT_TRUE(thumbnail.endsWith(marker)) << thumbnail.toStdString();
        EXPECT_TRUE(thumbnail.contains("/thumbnail.png?min_height=256&min_width=256&BoxAuth+"));
        int status = 0;
        const QByteArray png = Fake::fetch(thumbnail.left(thumbnail.size() - marker.size()), {}, nullptr,
                                           {{"Authorization", "Bearer " + drive->token()}}, &status);
        EXPECT_EQ(status, 200);
        EXPECT_TRUE(png.startsWith("\x89PNG"));
    }
    EXPECT_EQ(names(list(drive, "/Photos", "PNG").documents), QStringList{"b.png"});

    fake.control("expire");  // the access token runs out; the refresh token is used (and replaced)
    const QString back = local->path() + "/back.txt";
    a = run(drive, [&](auto h, auto cb) { h->download(QNDocument::withPath("/Photos/c.txt"), QNDocument::withPath(back), {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(VNTest::readFile(back), "second version");
    EXPECT_NE(VNUserDefaults::standard().stringForKey("box-refresh-token:1234"), refresh) << "the new refresh token is kept";

    a = run(drive, [](auto h, auto cb) { h->rename(QNDocument::withPath("/Photos/c.txt"), QNDocument::withPath("/Photos/notes.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Photos/notes.txt");
    run(drive, [](auto h, auto cb) { h->createFolder("Archive", QNDocument::withPath("/", true), cb); });
    a = run(drive, [](auto h, auto cb) { h->localCopy(QNDocument::withPath("/Photos/notes.txt"), QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    fake.control("clear_log");
    a = run(drive, [](auto h, auto cb) {
        auto photos = QNDocument::withPath("/Photos/a.JPG");
        h->localMove(photos, QNDocument::withPath("/Archive", true), cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Archive/a.JPG");
    EXPECT_EQ(names(list(drive, "/Archive").documents), (QStringList{"a.JPG", "notes.txt"}));
    a = run(drive, [](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Archive/notes.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_TRUE(a.document->link().startsWith("https://app.box.example/s/"));
    EXPECT_EQ(a.document->linkEndDate().date().year(), 2031);

    EXPECT_FALSE(quota(drive));
    EXPECT_EQ(drive->totalBytes(), 10LL * 1024 * 1024 * 1024);
    EXPECT_EQ(drive->availableBytes(), drive->totalBytes() - drive->usedBytes());
    a = run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/Photos", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list(drive, "/").documents), QStringList{"Archive/"});

    std::atomic<int> logins{0};
    bool ok = false;
    drive->createCloudInterface()->login([&](bool success, VNErrorPtr, bool) {
        ok = success;
        ++logins;
    });
    ASSERT_TRUE(VNTest::waitUntil([&] { return logins.load() > 0; }));
    EXPECT_TRUE(ok);
    const QString log = VNLog::captured().join('\n');
    EXPECT_FALSE(log.contains(drive->token()));
    EXPECT_FALSE(log.contains(VNUserDefaults::standard().stringForKey("box-refresh-token:1234")));
}

TEST_F(BoxDrive, CutAndUnusableListingsAndBrokenDownloads) {
    for (int i = 0; i < 5; ++i)
        run(drive, [&](auto h, auto cb) { h->createFolder(QStringLiteral("d%1").arg(i), QNDocument::withPath("/", true), cb); });
    fake.control("fault", {{"prefix", "/2.0/folders/0/items"}, {"status", 503}, {"after", 1}});
    Answer l = list(drive, "/");
    EXPECT_TRUE(l.error) << "the second page failed: an error, not the first page alone";
    EXPECT_TRUE(l.documents.isEmpty());
    for (const char *name : {"..", "a/b", "."})
        fake.control("entry", {{"name", name}});
    l = list(drive, "/");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), (QStringList{"d0/", "d1/", "d2/", "d3/", "d4/"}));

    VNTest::writeFile(local->path() + "/f.bin", QByteArray(100000, 'z'));
    run(drive, [&](auto h, auto cb) { h->upload(QNDocument::withPath(local->path() + "/f.bin"), QNDocument::withPath("/d0", true), {}, cb); });
    QDir().mkpath(local->path() + "/out");
    fake.control("fault", {{"prefix", "/2.0/files/"}, {"status", 0}, {"drop_body", true}});
    Answer a = run(drive, [&](auto h, auto cb) {
        h->download(QNDocument::withPath("/d0/f.bin"), QNDocument::withPath(local->path() + "/out/f.bin"), {}, cb);
    });
    EXPECT_TRUE(a.error);
    EXPECT_EQ(QDir(local->path() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(BoxDrive, TwoTransfersInFlightSpendTheSingleUseRefreshTokenOnce) {
    for (const char *name : {"one.txt", "two.txt"}) {
        VNTest::writeFile(local->path() + "/" + name, QByteArray(name));
        Answer a = run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath("/", true), {}, cb);
        });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    }
    // Both handlers find the access token gone at the same moment.
    fake.control("expire");
    drive->setToken(QString());
    fake.control("clear_log");
    QDir().mkpath(local->path() + "/back");
    std::vector<std::shared_ptr<Answer>> answers;
    std::vector<QNCloudInterfacePtr> handlers;
    for (const char *name : {"one.txt", "two.txt"}) {
        auto answer = std::make_shared<Answer>();
        handlers.push_back(drive->createCloudInterface());
        handlers.back()->download(QNDocument::withPath(QStringLiteral("/") + name),
                                  QNDocument::withPath(local->path() + "/back/" + name), {},
                                  [answer](QNDocumentPtr, VNErrorPtr e, bool c) {
                                      ++answer->count;
                                      answer->error = e;
                                      answer->cancelled = c;
                                  });
        answers.push_back(answer);
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers[0]->count && answers[1]->count; }, 20000));
    for (const auto &answer : answers)
        EXPECT_FALSE(answer->error) << errorText(answer->error).toStdString();
    EXPECT_EQ(VNTest::readFile(local->path() + "/back/one.txt"), "one.txt");
    EXPECT_EQ(VNTest::readFile(local->path() + "/back/two.txt"), "two.txt");
    int refreshes = 0;
    for (const auto &call : fake.log())
        refreshes += call.toObject()["path"].toString() == "/oauth2/token";
    EXPECT_EQ(refreshes, 1);
}

TEST_F(BoxDrive, AListingThatEndsBeforeItsCountIsAnError) {
    for (int i = 0; i < 4; ++i)
        run(drive, [&](auto h, auto cb) { h->createFolder(QStringLiteral("d%1").arg(i), QNDocument::withPath("/", true), cb); });
    fake.control("overcount", {{"n", 2}});  // an empty third page where two more were promised
    Answer l = list(drive, "/");
    EXPECT_TRUE(l.error);
    EXPECT_TRUE(l.documents.isEmpty());
}

TEST_F(BoxDrive, FolderTreeToTheDriveAndBackIsByteIdentical) {
    EXPECT_EQ(roundTrip(drive, local->path()).toStdString(), "");
}

}  // namespace
