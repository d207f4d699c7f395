// The Google Drive drive against its fake: a missing file and a revoked
// refresh token, and a folder tree to the drive and back through tasks.
#include "WebDriveServices.h"

#include <QFileInfo>

using namespace WebDriveTest;

namespace {

class GoogleDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            FAIL() << "the gdrive peer did not start";
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

}  // namespace
