// The OneDrive drive against its fake: the sign-in's code traded for the
// tokens, token refresh, every operation on paths the handler maps to ids,
// paged listings, failed and cut listings as errors (a move then removes
// nothing), unusable names left out, and a folder tree through tasks.
#include "WebDriveTestSupport.h"

#include "Cloud/QNLiveConnectClient.h"
#include "Cloud/QNServiceHosts.h"
#include "Cloud/QNSkyDriveHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Platform/VNLog.h"

using namespace WebDriveTest;

namespace {

class OneDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            GTEST_SKIP() << "the onedrive peer is not running";
        fake.trustItsCertificate();
        QNServiceHosts::setUrl("live.login", fake.httpBase());
        QNServiceHosts::setUrl("live.api", fake.httpsBase() + "/v5.0");
        fake.control("reset");
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNSkyDriveHandler::registerWithFactory();
        drive = QNDriveConfig::create();
        drive->setIsSkyDrive(true);
        local = VNTest::makeTempDir();
        ASSERT_NO_FATAL_FAILURE(signIn());
    }

    // The sheet's part played by hand: the redirect is read, not followed.
    void signIn() {
        auto handler = std::make_shared<QNSkyDriveHandler>(drive);
        Answer answer;
        handler->oAuthLoginWithCompletedBlock([&answer](bool ok, VNErrorPtr e, bool c) {
            ++answer.count;
            answer.error = e;
            answer.cancelled = c || !ok;
        });
        EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS SKYDRIVE ACCOUNT");
        QString location;
        Fake::fetch(QNLiveConnectClient::authorizationURL().toString(QUrl::FullyEncoded), {}, &location);
        ASSERT_TRUE(QNLiveConnectClient::isRedirect(QUrl(location))) << location.toStdString();
        handler->processOAuthLogin(location);
        ASSERT_TRUE(VNTest::waitUntil([&] { return answer.count > 0; }));
        ASSERT_FALSE(answer.error) << errorText(answer.error).toStdString();
        ASSERT_FALSE(answer.cancelled);
    }

    Answer make(const QString &name, const QString &folder = "/") {
        return run(drive, [&](auto h, auto cb) { h->createFolder(name, QNDocument::withPath(folder, true), cb); });
    }
    Answer put(const QString &name, const QByteArray &data, const QString &folder) {
        VNTest::writeFile(local->path() + "/" + name, data);
        return run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath(folder, true), {}, cb);
        });
    }

    Fake fake{"onedrive"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(OneDrive, EveryOperationAndTheTokens) {
    EXPECT_TRUE(drive->token().startsWith("access-"));
    EXPECT_TRUE(drive->password().startsWith("refresh-")) << "the refresh token lives in the password";
    const QString refresh = drive->password();

    ASSERT_FALSE(make("Docs").error);
    for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})  // two pages of three
        ASSERT_FALSE(put(name, name, "/Docs").error);
    Answer a = put("c.txt", "second version", "/Docs");  // the same name replaces the file
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Docs/c.txt");

    Answer l = list(drive, "/Docs");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    EXPECT_EQ(names(l.documents), (QStringList{"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}));
    EXPECT_TRUE(l.documents.first()->id().startsWith("file."));
    EXPECT_TRUE(l.documents.first()->date().isValid());
    EXPECT_EQ(names(list(drive, "/Docs", "E.T").documents), QStringList{"e.txt"});

    fake.control("expire");  // the access token runs out: refreshed once, the call sent again
    const QString back = local->path() + "/back.txt";
    a = run(drive, [&](auto h, auto cb) { h->download(QNDocument::withPath("/Docs/c.txt"), QNDocument::withPath(back), {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(VNTest::readFile(back), "second version");
    EXPECT_EQ(drive->password(), refresh);

    a = run(drive, [](auto h, auto cb) { h->rename(QNDocument::withPath("/Docs/c.txt"), QNDocument::withPath("/Docs/notes.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Docs/notes.txt");
    ASSERT_FALSE(make("Archive").error);
    a = run(drive, [](auto h, auto cb) { h->localCopy(QNDocument::withPath("/Docs/notes.txt"), QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    a = run(drive, [](auto h, auto cb) { h->localMove(QNDocument::withPath("/Docs/a.txt"), QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Archive/a.txt");
    a = run(drive, [](auto h, auto cb) { h->localMove(QNDocument::withPath("/Archive", true), QNDocument::withPath("/Docs", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list(drive, "/Docs/Archive").documents), (QStringList{"a.txt", "notes.txt"}));
    EXPECT_EQ(names(list(drive, "/Docs").documents), (QStringList{"Archive/", "b.txt", "d.txt", "e.txt", "notes.txt"}));

    a = run(drive, [](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Docs/b.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_TRUE(a.document->link().startsWith("https://onedrive.example/redir?resid=file."));
    EXPECT_FALSE(quota(drive));
    EXPECT_EQ(drive->totalBytes(), 25LL * 1024 * 1024 * 1024);
    EXPECT_EQ(drive->usedBytes(), drive->totalBytes() - drive->availableBytes());
    EXPECT_GT(drive->usedBytes(), 0);

    a = run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/Docs/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list(drive, "/Docs").documents), (QStringList{"b.txt", "d.txt", "e.txt", "notes.txt"}));
    a = run(drive, [](auto h, auto cb) { h->download(QNDocument::withPath("/Docs/Archive/a.txt"), QNDocument::withPath("/tmp/x"), {}, cb); });
    EXPECT_TRUE(a.error) << "gone with its folder";

    const QString log = VNLog::captured().join('\n');
    EXPECT_FALSE(log.contains(drive->token()));
    EXPECT_FALSE(log.contains(drive->password()));
}

TEST_F(OneDrive, FailedOrCutListingsAreErrorsAndAMoveRemovesNothing) {
    ASSERT_FALSE(make("Tree").error);
    for (int i = 0; i < 5; ++i)
        ASSERT_FALSE(put(QStringLiteral("f%1.txt").arg(i), "data", "/Tree").error);
    const QString tree = list(drive, "/").documents.first()->id();
    const struct {
        const char *what;
        int status, after;
        bool dropBody;
    } faults[] = {
        {"the second page refused", 503, 1, false},
        {"the first page refused", 500, 0, false},
        {"the second page cut short", 0, 1, true},
    };
    for (const auto &f : faults) {
        SCOPED_TRACE(f.what);
        fake.control("fault", {{"prefix", "/v5.0/" + tree + "/files"}, {"status", f.status}, {"after", f.after},
                               {"drop_body", f.dropBody}});
        Answer l = list(drive, "/Tree");
        EXPECT_TRUE(l.error);
        EXPECT_TRUE(l.documents.isEmpty());

        fake.control("fault", {{"prefix", "/v5.0/" + tree + "/files"}, {"status", f.status}, {"after", f.after},
                               {"drop_body", f.dropBody}});
        auto localDrive = QNDriveConfig::create();
        localDrive->setIsMyFiles(true);
        localDrive->setUseAbsolutePath(true);
        auto target = VNTest::makeTempDir();
        VNErrorPtr error = runItem(std::make_shared<QNMoveTask>(),
                                   std::make_shared<QNMoveTaskItem>(drive, localDrive, QNDocument::withPath("/Tree", true),
                                                                    QNDocument::withPath(target->path(), true)));
        EXPECT_TRUE(error);
        EXPECT_EQ(fake.tree().size(), 6) << "nothing on the drive was removed";
    }
}

TEST_F(OneDrive, UnusableNamesAreLeftOutAndBrokenDownloadsLeaveNothing) {
    for (const char *name : {"..", "a/b", ".", "ok.txt"})
        fake.control("entry", {{"name", name}});
    Answer l = list(drive, "/");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), QStringList{"ok.txt"});

    ASSERT_FALSE(put("f.bin", QByteArray(100000, 'z'), "/").error);
    QDir().mkpath(local->path() + "/out");
    const QNDocumentList found = list(drive, "/", "f.bin").documents;
    ASSERT_EQ(found.size(), 1);
    fake.control("fault", {{"prefix", "/v5.0/" + found[0]->id() + "/content"}, {"status", 0}, {"drop_body", true}});
    Answer a = run(drive, [&](auto h, auto cb) {
        h->download(QNDocument::withPath("/f.bin"), QNDocument::withPath(local->path() + "/out/f.bin"), {}, cb);
    });
    EXPECT_TRUE(a.error);
    EXPECT_EQ(QDir(local->path() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(OneDrive, AFolderReplacedBehindAHandlersBackIsFoundAgain) {
    ASSERT_FALSE(make("A").error);
    ASSERT_FALSE(put("old.txt", "old", "/A").error);
    auto kept = drive->createCloudInterface();  // remembers the ids of what it saw
    auto listA = [&] {
        auto answer = std::make_shared<Answer>();
        kept->listDocuments(QNDocument::withPath("/A", true), QString(), [answer](QNDocumentList d, QString, VNErrorPtr e, bool) {
            ++answer->count;
            answer->documents = d;
            answer->error = e;
        });
        EXPECT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }));
        return *answer;
    };
    EXPECT_EQ(names(listA().documents), QStringList{"old.txt"});
    ASSERT_FALSE(run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/A", true), cb); }).error);
    ASSERT_FALSE(make("A").error);
    ASSERT_FALSE(put("new.txt", "new", "/A").error);
    const Answer again = listA();
    EXPECT_FALSE(again.error) << errorText(again.error).toStdString();
    EXPECT_EQ(names(again.documents), QStringList{"new.txt"});
}

TEST_F(OneDrive, FolderTreeToTheDriveAndBackIsByteIdentical) {
    EXPECT_EQ(roundTrip(drive, local->path()).toStdString(), "");
}

}  // namespace
