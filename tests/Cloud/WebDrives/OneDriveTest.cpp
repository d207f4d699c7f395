// The OneDrive drive against its fake: the tokens and their refresh, a folder
// moved into another, a move whose listing failed removing nothing, a folder
// replaced behind the handler's back, and a folder tree through tasks.
#include "WebDriveServices.h"

#include "Cloud/QNLiveConnectClient.h"
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
            FAIL() << "the onedrive peer did not start";
        ASSERT_NO_FATAL_FAILURE(openOneDrive(fake, drive));
        local = VNTest::makeTempDir();
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

TEST_F(OneDrive, TheRefreshTokenLivesInThePasswordAndAFolderMovesIntoAnother) {
    EXPECT_TRUE(drive->token().startsWith("access-"));
    EXPECT_TRUE(drive->password().startsWith("refresh-")) << "the refresh token lives in the password";
    const QString refresh = drive->password();
    ASSERT_FALSE(make("Docs").error);
    ASSERT_FALSE(make("Archive").error);
    ASSERT_FALSE(put("a.txt", "a", "/Archive").error);
    Answer l = list(drive, "/Archive");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    ASSERT_EQ(l.documents.size(), 1);
    EXPECT_TRUE(l.documents.first()->id().startsWith("file."));
    EXPECT_TRUE(l.documents.first()->date().isValid());

    fake.control("expire");  // refreshed once, the call sent again, the refresh token kept
    Answer a = run(drive, [](auto h, auto cb) { h->localMove(QNDocument::withPath("/Archive", true), QNDocument::withPath("/Docs", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(drive->password(), refresh);
    EXPECT_EQ(names(list(drive, "/Docs/Archive").documents), QStringList{"a.txt"});
    a = run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/Docs/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    a = run(drive, [](auto h, auto cb) { h->download(QNDocument::withPath("/Docs/Archive/a.txt"), QNDocument::withPath("/tmp/x"), {}, cb); });
    EXPECT_TRUE(a.error) << "gone with its folder";
}

TEST_F(OneDrive, AMoveWhoseListingFailedOrWasCutRemovesNothing) {
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
        auto target = VNTest::makeTempDir();
        VNErrorPtr error = runItem(std::make_shared<QNMoveTask>(),
                                   std::make_shared<QNMoveTaskItem>(drive, localDisk(), QNDocument::withPath("/Tree", true),
                                                                    QNDocument::withPath(target->path(), true)));
        EXPECT_TRUE(error);
        EXPECT_EQ(fake.tree().size(), 6) << "nothing on the drive was removed";
    }
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
