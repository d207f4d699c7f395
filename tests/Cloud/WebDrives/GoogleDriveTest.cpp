// The Google Drive drive against its fake: the OAuth 2 sign-in and token
// refresh, every operation, paged listings read to the end, refused and
// broken replies, and a folder tree to the drive and back through tasks.
#include "WebDriveTestSupport.h"

#include "Cloud/QNGoogleDriveHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNLog.h"

#include <QCryptographicHash>
#include <QFileInfo>

using namespace WebDriveTest;

namespace {

class GoogleDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            GTEST_SKIP() << "the gdrive peer is not running";
        fake.trustItsCertificate();
        QNServiceHosts::setUrl("google.accounts", fake.httpBase());
        QNServiceHosts::setUrl("google.api", fake.httpsBase());
        control("reset");
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNGoogleDriveHandler::registerWithFactory();
        drive = QNDriveConfig::create();
        drive->setIsGoogleDrive(true);
        local = VNTest::makeTempDir();
        signIn();
    }

    // The sheet's part played by hand: the authorization page's redirect is read, not followed.
    void signIn() {
        ASSERT_NO_FATAL_FAILURE(
            signInByHand<QNGoogleDriveHandler>(drive, "SHOW DOCUMENTS ON THIS GOOGLE DRIVE ACCOUNT"));
        ASSERT_FALSE(drive->password().isEmpty());
        EXPECT_EQ(drive->username(), "test@example.com");
    }

    template <typename Call>
    Answer run(Call call) { return WebDriveTest::run(drive, call); }
    Answer list(const QString &path, const QString &keyword = QString()) { return WebDriveTest::list(drive, path, keyword); }
    QByteArray control(const QString &what, const QJsonObject &args = {}) { return fake.control(what, args); }

    Fake fake{"gdrive"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(GoogleDrive, EveryOperationWithPagedListingsAndTokenRefresh) {
    Answer a = run([](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Work");
    EXPECT_TRUE(a.document->isDirectory());
    QStringList expected;
    for (int i = 0; i < 7; ++i) {  // more than two pages of three
        const QString file = local->path() + QStringLiteral("/file %1.txt").arg(i);
        VNTest::writeFile(file, QByteArray::number(i).repeated(i + 1));
        a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(file), QNDocument::withPath("/Work", true), {}, cb); });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        EXPECT_EQ(a.document->path(), QStringLiteral("/Work/file %1.txt").arg(i));
        EXPECT_EQ(a.document->size(), i + 1);
        expected << QStringLiteral("file %1.txt").arg(i);
    }
    Answer l = list("/Work");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), expected);
    l = list("/Work", "FILE 3");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), QStringList{"file 3.txt"});

    // The access token runs out: the next call gets a new one and goes through.
    control("expire");
    const QString back = local->path() + "/back.txt";
    a = run([&](auto h, auto cb) { h->download(QNDocument::withPath("/Work/file 4.txt"), QNDocument::withPath(back), {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(VNTest::readFile(back), "44444");

    // A file of the same name gets the new bytes: no second file beside it.
    VNTest::writeFile(local->path() + "/file 4.txt", "new four");
    a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(local->path() + "/file 4.txt"), QNDocument::withPath("/Work", true), {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list("/Work").documents), expected);
    EXPECT_EQ(fake.tree()["/Work/file 4.txt"].toObject()["sha1"].toString(),
              QCryptographicHash::hash("new four", QCryptographicHash::Sha1).toHex());

    a = run([](auto h, auto cb) { h->rename(QNDocument::withPath("/Work/file 0.txt"), QNDocument::withPath("/Work/zero.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Work/zero.txt");
    run([](auto h, auto cb) { h->createFolder("Archive", QNDocument::withPath("/", true), cb); });
    a = run([](auto h, auto cb) { h->localCopy(QNDocument::withPath("/Work/zero.txt"), QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Archive/zero.txt");
    a = run([](auto h, auto cb) { h->localMove(QNDocument::withPath("/Work/file 1.txt"), QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list("/Archive").documents), (QStringList{"file 1.txt", "zero.txt"}));
    a = run([](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Archive/zero.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_TRUE(a.document->link().startsWith("https://drive.example/file/d/"));

    EXPECT_FALSE(quota(drive));
    EXPECT_EQ(drive->totalBytes(), 15LL * 1024 * 1024 * 1024);
    EXPECT_EQ(drive->usedBytes(), 1 + 2 + 3 + 4 + 8 + 6 + 7 + 1);  // file 4 replaced by 8 bytes
    EXPECT_EQ(drive->availableBytes(), drive->totalBytes() - drive->usedBytes());

    a = run([](auto h, auto cb) { h->remove(QNDocument::withPath("/Work", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list("/").documents), QStringList{"Archive/"});

    std::atomic<int> logins{0};
    bool ok = false;
    drive->createCloudInterface()->login([&](bool success, VNErrorPtr, bool) {
        ok = success;
        ++logins;
    });
    ASSERT_TRUE(VNTest::waitUntil([&] { return logins.load() > 0; }));
    EXPECT_TRUE(ok);
    const QString log = VNLog::captured().join('\n');
    EXPECT_FALSE(log.contains(drive->password()));
    EXPECT_FALSE(log.contains(drive->token()));
}

TEST_F(GoogleDrive, RefusedCutAndUnusableRepliesAreErrorsNeverShortLists) {
    for (int i = 0; i < 5; ++i)
        run([&](auto h, auto cb) { h->createFolder(QStringLiteral("d%1").arg(i), QNDocument::withPath("/", true), cb); });
    // The second page of a listing fails: an error, not the first page alone.
    control("fault", {{"prefix", "/drive/v3/files"}, {"status", 500}, {"times", 1}, {"after", 1}});
    control("clear_log");
    Answer l = list("/");
    EXPECT_TRUE(l.error);
    EXPECT_TRUE(l.documents.isEmpty());
    EXPECT_EQ(fake.log().size(), 2) << "the first page was read, the second failed";
    // Names that would leave their folder are not listed.
    for (const char *name : {"..", "a/b", "."})
        control("entry", {{"name", name}});
    l = list("/");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), (QStringList{"d0/", "d1/", "d2/", "d3/", "d4/"}));

    VNTest::writeFile(local->path() + "/f.bin", QByteArray(100000, 'z'));
    run([&](auto h, auto cb) { h->upload(QNDocument::withPath(local->path() + "/f.bin"), QNDocument::withPath("/d0", true), {}, cb); });
    const QString target = local->path() + "/out/f.bin";
    QDir().mkpath(local->path() + "/out");
    control("fault", {{"prefix", "/drive/v3/files/"}, {"status", 0}, {"times", 1}, {"drop_body", true}});
    Answer a = run([&](auto h, auto cb) { h->download(QNDocument::withPath("/d0/f.bin"), QNDocument::withPath(target), {}, cb); });
    // The path lookups go first; the fault may hit one of them or the download.
    EXPECT_TRUE(a.error);
    EXPECT_EQ(QDir(local->path() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
    a = run([&](auto h, auto cb) { h->download(QNDocument::withPath("/d0/missing.bin"), QNDocument::withPath(target), {}, cb); });
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
