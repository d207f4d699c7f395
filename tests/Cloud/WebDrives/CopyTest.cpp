// The Copy drive against its fake: the OAuth 1.0 sign-in (every call's
// signature checked by the fake), every operation it provides, thumbnails
// whose marker carries the signed Authorization header, the operations it
// leaves to the base class, and a folder tree through tasks.
#include "WebDriveServices.h"

#include "Platform/VNLog.h"

using namespace WebDriveTest;

namespace {

class CopyDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            FAIL() << "the copy peer did not start";
        ASSERT_NO_FATAL_FAILURE(openCopy(fake, drive));
        local = VNTest::makeTempDir();
    }

    Fake fake{"copy"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(CopyDrive, EveryOperationAndSignedThumbnails) {
    Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Work");
    EXPECT_TRUE(a.document->isDirectory());
    VNTest::writeFile(local->path() + "/photo 1.jpg", "jpeg bytes");
    a = run(drive, [&](auto h, auto cb) {
        h->upload(QNDocument::withPath(local->path() + "/photo 1.jpg"), QNDocument::withPath("/Work", true), {}, cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Work/photo 1.jpg");

    Answer l = list(drive, "/Work");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    ASSERT_EQ(names(l.documents), QStringList{"photo 1.jpg"});
    // The pane's way: cut at the marker, percent-decode the rest into the Authorization header.
    const QString thumbnail = l.documents.first()->thumbnailURL().toString(QUrl::FullyEncoded);
    const qsizetype marker = thumbnail.indexOf("&CopyAuth+");
    ASSERT_GT(marker, 0) << thumbnail.toStdString();
    EXPECT_TRUE(thumbnail.left(marker).endsWith("?size=1024"));
    const QString authorization = QUrl::fromPercentEncoding(thumbnail.mid(marker + 10).toUtf8());
    EXPECT_TRUE(authorization.startsWith("OAuth "));
    int status = 0;
    const QByteArray png = Fake::fetch(thumbnail.left(marker), {}, nullptr,
                                       {{"Authorization", authorization}, {"X-Api-Version", "1"}}, &status);
    EXPECT_EQ(status, 200) << "the fake checks the thumbnail's signature";
    EXPECT_TRUE(png.startsWith("\x89PNG"));

    const QString back = local->path() + "/back.jpg";
    a = run(drive, [&](auto h, auto cb) { h->download(QNDocument::withPath("/Work/photo 1.jpg"), QNDocument::withPath(back), {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(VNTest::readFile(back), "jpeg bytes");
    a = run(drive, [](auto h, auto cb) { h->rename(QNDocument::withPath("/Work/photo 1.jpg"), QNDocument::withPath("/Work/p.jpg"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Work/p.jpg");
    a = run(drive, [](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Work/p.jpg"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_TRUE(a.document->link().startsWith("https://copy.example/s/"));
    EXPECT_FALSE(quota(drive));
    EXPECT_EQ(drive->totalBytes(), 15LL * 1024 * 1024 * 1024);
    EXPECT_EQ(drive->usedBytes(), 10);

    // Copy and move inside the drive are the base class's: an error at once, nothing sent.
    fake.control("clear_log");
    a = run(drive, [](auto h, auto cb) { h->localMove(QNDocument::withPath("/Work/p.jpg"), QNDocument::withPath("/", true), cb); });
    EXPECT_TRUE(a.error);
    EXPECT_TRUE(fake.log().isEmpty());

    a = run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/Work", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(fake.control("tree")).object().isEmpty());
    const QString log = VNLog::captured().join('\n');
    EXPECT_FALSE(log.contains(drive->tokenSecret()));
}

// Cut off on its way, a rename may still be carried out by the service:
// once sent, it runs to the service's answer.
TEST_F(CopyDrive, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    VNTest::writeFile(local->path() + "/a.txt", "a");
    a = run(drive, [&](auto h, auto cb) {
        h->upload(QNDocument::withPath(local->path() + "/a.txt"), QNDocument::withPath("/Work", true), {}, cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    expectARenameHeldOnItsWayRunsToItsAnswer(fake, drive, QNDocument::withPath("/Work/a.txt"), "/Work/notes.txt",
                                             {{"method", "PUT"}});
    EXPECT_EQ(names(list(drive, "/Work").documents), QStringList{"notes.txt"});
}

TEST_F(CopyDrive, FolderTreeToTheDriveAndBackIsByteIdentical) {
    EXPECT_EQ(roundTrip(drive, local->path()).toStdString(), "");
}

}  // namespace
