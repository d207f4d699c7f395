// Every operation of the OAuth 2 web drives, one behaviour per test against
// each service's fake: listings whole across pages and searched, a second
// upload of a name replacing the file (read back after the access token ran
// out), rename, copy, move and remove, links, quota, and a log without tokens.
#include "WebDriveServices.h"

#include "Platform/VNLog.h"

using namespace WebDriveTest;

namespace {

struct Service {
    const char *peer;
    void (*open)(const Fake &, QNDriveConfigPtr &);
    QString linkStart;
    qint64 totalBytes;
    bool logsIn;  // a plain login (OneDrive leaves it to the base class, which refuses)
    const char *renameMethod;
};

class WebDriveOperations : public ::testing::TestWithParam<Service> {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            FAIL() << "the " << GetParam().peer << " peer did not start";
        VNLog::setCapturing(true);
        ASSERT_NO_FATAL_FAILURE(GetParam().open(fake, drive));
        local = VNTest::makeTempDir();
        Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath("/", true), cb); });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        EXPECT_EQ(a.document->path(), "/Work");
        EXPECT_TRUE(a.document->isDirectory());
    }
    Answer put(const QString &name, const QByteArray &data, const QString &folder = "/Work") {
        VNTest::writeFile(local->path() + "/" + name, data);
        return run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath(folder, true), {}, cb);
        });
    }
    static void expectOK(const Answer &a) { EXPECT_FALSE(a.error) << errorText(a.error).toStdString(); }

    Fake fake{GetParam().peer};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_P(WebDriveOperations, UploadsAreListedWholeAcrossPagesAndFoundBySearch) {
    QStringList expected;
    for (int i = 0; i < 7; ++i) {  // more than two pages of three
        const Answer a = put(QStringLiteral("file %1.txt").arg(i), QByteArray::number(i).repeated(i + 1));
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        EXPECT_EQ(a.document->path(), QStringLiteral("/Work/file %1.txt").arg(i));
        expected << QStringLiteral("file %1.txt").arg(i);
    }
    Answer l = list(drive, "/Work");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    EXPECT_EQ(names(l.documents), expected);
    for (const auto &d : l.documents)
        EXPECT_EQ(d->size(), d->displayName().mid(5, 1).toInt() + 1) << d->displayName().toStdString();
    l = list(drive, "/Work", "FILE 3");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    EXPECT_EQ(names(l.documents), QStringList{"file 3.txt"});
}

TEST_P(WebDriveOperations, ASecondUploadOfANameReplacesTheFileReadBackAfterTheTokenRanOut) {
    expectOK(put("c.txt", "first"));
    const Answer a = put("c.txt", "second version");
    expectOK(a);
    EXPECT_EQ(a.document->path(), "/Work/c.txt");
    EXPECT_EQ(names(list(drive, "/Work").documents), QStringList{"c.txt"});
    fake.control("expire");  // the access token runs out: a new one is got, the call sent again
    const QString back = local->path() + "/back.txt";
    expectOK(run(drive, [&](auto h, auto cb) { h->download(QNDocument::withPath("/Work/c.txt"), QNDocument::withPath(back), {}, cb); }));
    EXPECT_EQ(VNTest::readFile(back), "second version");
}

TEST_P(WebDriveOperations, RenameCopyMoveAndRemove) {
    expectOK(put("a.txt", "a"));
    expectOK(put("b.txt", "b"));
    Answer a = run(drive, [](auto h, auto cb) { h->rename(QNDocument::withPath("/Work/a.txt"), QNDocument::withPath("/Work/notes.txt"), cb); });
    expectOK(a);
    EXPECT_EQ(a.document->path(), "/Work/notes.txt");
    expectOK(run(drive, [](auto h, auto cb) { h->createFolder("Archive", QNDocument::withPath("/", true), cb); }));
    a = run(drive, [](auto h, auto cb) { h->localCopy(QNDocument::withPath("/Work/notes.txt"), QNDocument::withPath("/Archive", true), cb); });
    expectOK(a);
    EXPECT_EQ(a.document->path(), "/Archive/notes.txt");
    a = run(drive, [](auto h, auto cb) { h->localMove(QNDocument::withPath("/Work/b.txt"), QNDocument::withPath("/Archive", true), cb); });
    expectOK(a);
    EXPECT_EQ(a.document->path(), "/Archive/b.txt");
    EXPECT_EQ(names(list(drive, "/Archive").documents), (QStringList{"b.txt", "notes.txt"}));
    EXPECT_EQ(names(list(drive, "/Work").documents), QStringList{"notes.txt"});
    expectOK(run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/Work", true), cb); }));
    EXPECT_EQ(names(list(drive, "/").documents), QStringList{"Archive/"});
}

// Cut off on its way, a rename may still be carried out by the service,
// unknown to all: once sent, it runs to the service's answer.
TEST_P(WebDriveOperations, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    expectOK(put("a.txt", "a"));
    expectARenameHeldOnItsWayRunsToItsAnswer(fake, drive, QNDocument::withPath("/Work/a.txt"), "/Work/notes.txt",
                                             {{"method", GetParam().renameMethod}});
    EXPECT_EQ(names(list(drive, "/Work").documents), QStringList{"notes.txt"});
}

TEST_P(WebDriveOperations, LinkQuotaAndLoginAndNoTokenInTheLog) {
    expectOK(put("a.txt", "a"));
    const Answer a = run(drive, [](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Work/a.txt"), cb); });
    expectOK(a);
    EXPECT_TRUE(a.document->link().startsWith(GetParam().linkStart)) << a.document->link().toStdString();
    EXPECT_FALSE(quota(drive));
    EXPECT_EQ(drive->totalBytes(), GetParam().totalBytes);
    EXPECT_GT(drive->usedBytes(), 0);
    EXPECT_EQ(drive->availableBytes(), drive->totalBytes() - drive->usedBytes());
    std::atomic<int> logins{0};
    bool ok = false;
    drive->createCloudInterface()->login([&](bool success, VNErrorPtr, bool) {
        ok = success;
        ++logins;
    });
    ASSERT_TRUE(VNTest::waitUntil([&] { return logins.load() > 0; }));
    EXPECT_EQ(ok, GetParam().logsIn);
    const QString log = VNLog::captured().join('\n');
    EXPECT_FALSE(log.contains(drive->token()));
    EXPECT_TRUE(drive->password().isEmpty() || !log.contains(drive->password()));
}

INSTANTIATE_TEST_SUITE_P(Services, WebDriveOperations,
                         ::testing::Values(Service{"box", openBox, "https://app.box.example/s/", 10LL << 30, true, "PUT"},
                                           Service{"gdrive", openGoogleDrive, "https://drive.example/file/d/", 15LL << 30, true,
                                                   "PATCH"},
                                           Service{"onedrive", openOneDrive, "https://onedrive.example/redir?resid=file.",
                                                   25LL << 30, false, "PUT"}),
                         [](const auto &info) { return std::string(info.param.peer); });

}  // namespace
