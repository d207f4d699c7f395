// The Google Drive drive against its fake: a missing file and a revoked
// refresh token, a folder tree to the drive and back through tasks, and a
// move off a folder holding a name the drive cannot show.
#include "WebDriveServices.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"

#include <QFileInfo>

using namespace WebDriveTest;

namespace {

class GoogleDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            GTEST_SKIP() << "the gdrive peer is not running";
        ASSERT_NO_FATAL_FAILURE(openGoogleDrive(fake, drive));
        local = VNTest::makeTempDir();
    }

    template <typename Call>
    Answer run(Call call) { return WebDriveTest::run(drive, call); }

    Fake fake{"gdrive"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(GoogleDrive, AMissingFileAndARevokedTokenAreErrors) {
    run([&](auto h, auto cb) { h->createFolder("d0", QNDocument::withPath("/", true), cb); });
    const QString target = local->path() + "/f.bin";
    Answer a = run([&](auto h, auto cb) { h->download(QNDocument::withPath("/d0/missing.bin"), QNDocument::withPath(target), {}, cb); });
    EXPECT_TRUE(a.error);
    EXPECT_FALSE(QFileInfo::exists(target));

    // A refresh token the service no longer takes: the error, not a hang.
    drive->setToken(QString());
    drive->setPassword("refresh-revoked");
    a = run([](auto h, auto cb) { h->createFolder("x", QNDocument::withPath("/", true), cb); });
    EXPECT_TRUE(a.error);
}

TEST_F(GoogleDrive, FolderTreeToTheDriveAndBackIsByteIdentical) {
    EXPECT_EQ(roundTrip(drive, local->path()).toStdString(), "");
}

// A name holding "/" is left out of every listing, so the move never copied
// it: the folder stays with it (no removal of the whole folder), only the
// copied file goes, and the move says which folder was kept.
TEST_F(GoogleDrive, AMoveKeepsAFolderHoldingANameTheDriveCannotShow) {
    Answer tree = run([](auto h, auto cb) { h->createFolder("Tree", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(tree.error) << errorText(tree.error).toStdString();
    VNTest::writeFile(local->path() + "/a.txt", "a");
    Answer a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(local->path() + "/a.txt"), tree.document, {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    fake.control("entry", {{"parent", tree.document->id()}, {"name", "x/y"}});
    QDir().mkpath(local->path() + "/dest");

    const VNErrorPtr error = runItem(std::make_shared<QNMoveTask>(),
                                     std::make_shared<QNMoveTaskItem>(drive, localDisk(), QNDocument::withPath("/Tree", true),
                                                                      QNDocument::withPath(local->path() + "/dest", true)));
    ASSERT_TRUE(error);
    const QString text = error->localizedDescription();
    EXPECT_TRUE(text.contains("\u201c/Tree\u201d was kept") && text.contains("cannot show")) << text.toStdString();
    const QJsonObject after = fake.tree();
    EXPECT_TRUE(after.contains("/Tree/x/y"));
    EXPECT_FALSE(after.contains("/Tree/a.txt"));
    EXPECT_EQ(VNTest::readFile(local->path() + "/dest/Tree/a.txt"), QByteArray("a"));
}

}  // namespace
