// The Google Drive drive against its fake: a failed second page, a missing
// file and a revoked refresh token, and a folder tree to the drive and back
// through tasks.
#include "WebDriveServices.h"

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
    Answer list(const QString &path, const QString &keyword = QString()) { return WebDriveTest::list(drive, path, keyword); }
    QByteArray control(const QString &what, const QJsonObject &args = {}) { return fake.control(what, args); }

    Fake fake{"gdrive"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(GoogleDrive, AFailedSecondPageIsReadOnceAMissingFileAndARevokedTokenAreErrors) {
    for (int i = 0; i < 5; ++i)
        run([&](auto h, auto cb) { h->createFolder(QStringLiteral("d%1").arg(i), QNDocument::withPath("/", true), cb); });
    control("fault", {{"prefix", "/drive/v3/files"}, {"status", 500}, {"times", 1}, {"after", 1}});
    control("clear_log");
    EXPECT_TRUE(list("/").error);
    EXPECT_EQ(fake.log().size(), 2) << "the first page was read, the second failed";

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
