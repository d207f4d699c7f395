// The Box drive against its fake: the refresh token kept under the user's
// default and replaced, the thumbnail address with its marker, and a folder
// tree through tasks.
#include "WebDriveServices.h"

#include "Core/QNRenameOperation.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNUserDefaults.h"

#include <QFileInfo>

using namespace WebDriveTest;

namespace {

class BoxDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            FAIL() << "the box peer did not start";
        ASSERT_NO_FATAL_FAILURE(openBox(fake, drive));
        local = VNTest::makeTempDir();
    }

    Fake fake{"box"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(BoxDrive, TheRefreshTokenIsKeptAndReplacedAndThumbnailsCarryTheirMarker) {
    EXPECT_EQ(drive->userId(), "1234");
    EXPECT_TRUE(drive->password().isEmpty()) << "Box keeps no password in the drive";
    const QString refresh = VNUserDefaults::standard().stringForKey("box-refresh-token:1234");
    EXPECT_TRUE(refresh.startsWith("refresh-"));
    for (const char *name : {"a.JPG", "b.png", "c.txt", "d.gif"}) {
        VNTest::writeFile(local->path() + "/" + name, QByteArray(name));
        const Answer a = run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath("/", true), {}, cb);
        });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    }
    Answer l = list(drive, "/");  // two pages of three
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
    EXPECT_EQ(names(list(drive, "/", "PNG").documents), QStringList{"b.png"});

    fake.control("expire");  // the access token runs out; the refresh token is used (and replaced)
    Answer a = run(drive, [&](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/c.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->linkEndDate().date().year(), 2031);
    EXPECT_NE(VNUserDefaults::standard().stringForKey("box-refresh-token:1234"), refresh) << "the new refresh token is kept";
    EXPECT_FALSE(VNLog::captured().join('\n').contains(VNUserDefaults::standard().stringForKey("box-refresh-token:1234")));
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

// A rename's name check lists the folder it is given, the pane's own, by
// its id; given none, the check finds the folder from its path, listing
// every folder above it first.
TEST_F(BoxDrive, ARenamesNameCheckListsTheFolderItIsGivenByItsId) {
    Answer made = run(drive, [](auto h, auto cb) { h->createFolder("Sub", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(made.error) << errorText(made.error).toStdString();
    VNTest::writeFile(local->path() + "/a.txt", "a");
    ASSERT_FALSE(run(drive, [&](auto h, auto cb) {
                     h->upload(QNDocument::withPath(local->path() + "/a.txt"), QNDocument::withPath("/Sub", true), {}, cb);
                 }).error);
    QNDocumentPtr sub;
    for (const auto &d : list(drive, "/").documents)
        if (d->displayName() == "Sub")
            sub = d;
    ASSERT_TRUE(sub && !sub->id().isEmpty());
    VNOperationQueue queue;
    for (const bool paneFolder : {true, false}) {
        SCOPED_TRACE(paneFolder ? "the pane's folder" : "no folder");
        const QNDocumentPtr file = list(drive, "/Sub").documents.value(0);
        ASSERT_TRUE(file);
        fake.control("clear_log");
        auto answer = std::make_shared<Answer>();
        const QString newName = paneFolder ? "b.txt" : "c.txt";
        auto rename = std::make_shared<QNRenameOperation>(drive, file, QNDocument::withPath("/Sub/" + newName),
                                                          [answer](QNDocumentPtr, VNErrorPtr e, bool) {
                                                              answer->error = e;
                                                              ++answer->count;
                                                          });
        if (paneFolder)
            rename->setFolder(sub);
        queue.addOperation(rename);
        ASSERT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }, 20000));
        EXPECT_FALSE(answer->error) << errorText(answer->error).toStdString();
        int subListed = 0, rootListed = 0;
        for (const auto &call : fake.log()) {
            const QString path = call.toObject()["path"].toString();
            subListed += path == "/2.0/folders/" + sub->id() + "/items";
            rootListed += path == "/2.0/folders/0/items";
        }
        EXPECT_EQ(subListed, 1);
        EXPECT_EQ(rootListed, paneFolder ? 0 : 1);
        EXPECT_EQ(names(list(drive, "/Sub").documents), QStringList{newName});
    }
}

TEST_F(BoxDrive, FolderTreeToTheDriveAndBackIsByteIdentical) {
    EXPECT_EQ(roundTrip(drive, local->path()).toStdString(), "");
}

}  // namespace
