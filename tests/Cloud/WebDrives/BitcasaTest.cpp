// The Bitcasa drive against its fake: every operation addressed by the
// service's full paths, two calls on one handler taking turns (and cancelled
// together), and a folder tree through tasks.
#include "WebDriveServices.h"

#include "Cloud/QNBitcasaHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNLog.h"

using namespace WebDriveTest;

namespace {

const QString kTop = "/Bitcasa Infinite Drive";

class BitcasaDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            FAIL() << "the bitcasa peer did not start";
        ASSERT_NO_FATAL_FAILURE(openBitcasa(fake, drive));
        local = VNTest::makeTempDir();
    }

    QJsonObject lastCall(const QString &method) const {
        const QJsonArray calls = fake.log();
        for (qsizetype i = calls.size() - 1; i >= 0; --i)
            if (calls[i].toObject().value("method").toString() == method)
                return calls[i].toObject();
        return {};
    }

    // A folder "Work" below the top one, found by its path alone, with a.txt and b.txt.
    void makeWork() {
        Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath(kTop, true), cb); });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        EXPECT_EQ(a.document->path(), kTop + "/Work");
        work = a.document;
        for (const char *name : {"a.txt", "b.txt"}) {
            VNTest::writeFile(local->path() + "/" + name, QByteArray(name));
            a = run(drive, [&](auto h, auto cb) { h->upload(QNDocument::withPath(local->path() + "/" + name), work, {}, cb); });
            ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        }
    }

    Fake fake{"bitcasa"};
    QNDocumentPtr work;
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(BitcasaDrive, FilesAreFoundAndReadByTheirFullPath) {
    Answer l = list(drive, "/");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    ASSERT_EQ(names(l.documents), QStringList{"Bitcasa Infinite Drive/"});
    const QString topId = l.documents[0]->fullPath();
    EXPECT_EQ(topId.count('/'), 1);
    ASSERT_NO_FATAL_FAILURE(makeWork());
    EXPECT_TRUE(work->fullPath().startsWith(topId + "/"));
    VNTest::writeFile(local->path() + "/a.txt", "second version");  // replaces the file
    std::vector<double> fractions;
    Answer a = run(drive, [&](auto h, auto cb) {
        h->upload(QNDocument::withPath(local->path() + "/a.txt"), work, [&](double f) { fractions.push_back(f); }, cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_FALSE(fractions.empty());

    l = list(drive, kTop + "/Work");
    ASSERT_FALSE(l.error);
    ASSERT_EQ(names(l.documents), (QStringList{"a.txt", "b.txt"}));
    QNDocumentPtr fileA = l.documents[0]->displayName() == "a.txt" ? l.documents[0] : l.documents[1];
    EXPECT_EQ(fileA->size(), 14);
    EXPECT_EQ(fileA->path(), kTop + "/Work/a.txt");
    EXPECT_TRUE(fileA->date().isValid());
    const QString back = local->path() + "/back.txt";
    a = run(drive, [&](auto h, auto cb) { h->download(fileA, QNDocument::withPath(back), {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(VNTest::readFile(back), "second version");
    EXPECT_EQ(lastCall("GET").value("query").toObject().value("path").toString(), fileA->fullPath());
}

TEST_F(BitcasaDrive, RenameCopyMoveAndRemoveByFullPathWithTheBearerOnEveryCall) {
    ASSERT_NO_FATAL_FAILURE(makeWork());
    const Answer l = list(drive, kTop + "/Work");
    const QNDocumentPtr fileA = l.documents.value(0)->displayName() == "a.txt" ? l.documents.value(0) : l.documents.value(1);
    ASSERT_TRUE(fileA);
    Answer a = run(drive, [&](auto h, auto cb) { h->rename(fileA, QNDocument::withPath(kTop + "/Work/notes.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), kTop + "/Work/notes.txt");
    EXPECT_EQ(lastCall("POST").value("path").toString(), "/v1/files" + fileA->fullPath());
    const QNDocumentPtr notes = a.document;

    a = run(drive, [](auto h, auto cb) { h->createFolder("Archive", QNDocument::withPath(kTop, true), cb); });
    const QNDocumentPtr archive = a.document;
    a = run(drive, [&](auto h, auto cb) { h->localCopy(work, archive, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), kTop + "/Archive/Work");
    a = run(drive, [&](auto h, auto cb) { h->localMove(notes, archive, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), kTop + "/Archive/notes.txt");
    a = run(drive, [&](auto h, auto cb) { h->remove(work, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(lastCall("DELETE").value("query").toObject().value("path").toString(), work->fullPath());

    const QJsonObject tree = fake.tree();
    const QStringList want{kTop, kTop + "/Archive", kTop + "/Archive/Work", kTop + "/Archive/Work/b.txt",
                           kTop + "/Archive/Work/notes.txt", kTop + "/Archive/notes.txt"};
    EXPECT_EQ(QStringList(tree.keys()).join(", ").toStdString(), want.join(", ").toStdString());
    for (const QJsonValue call : fake.log())
        if (!call.toObject().value("path").toString().startsWith("/v1/oauth2/"))
            EXPECT_EQ(call.toObject().value("headers").toObject().value("Authorization").toString(),
                      "Bearer " + drive->token());
    EXPECT_FALSE(VNLog::captured().join('\n').contains(drive->token()));
}

// Cut off on its way, a rename may still be carried out by the service:
// once sent, it runs to the service's answer.
TEST_F(BitcasaDrive, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    ASSERT_NO_FATAL_FAILURE(makeWork());
    const Answer l = list(drive, kTop + "/Work");
    const QNDocumentPtr fileA = l.documents.value(0)->displayName() == "a.txt" ? l.documents.value(0) : l.documents.value(1);
    ASSERT_TRUE(fileA);
    expectARenameHeldOnItsWayRunsToItsAnswer(fake, drive, fileA, kTop + "/Work/notes.txt",
                                             {{"method", "POST"}, {"contains", "notes.txt"}});
    EXPECT_EQ(names(list(drive, kTop + "/Work").documents), (QStringList{"b.txt", "notes.txt"}));
}

TEST_F(BitcasaDrive, LoginLinkAndQuotaAreTheBaseClasses) {
    auto handler = drive->createCloudInterface();
    int logins = 0, links = 0, quotas = 0;
    bool quotaCancelled = false;
    VNErrorPtr loginError, linkError;
    handler->login([&](bool, VNErrorPtr e, bool) { ++logins, loginError = e; });
    handler->linkForDocument(QNDocument::withPath(kTop, true), [&](QNDocumentPtr, VNErrorPtr e, bool) { ++links, linkError = e; });
    handler->quota(QNDocument::withPath("/", true), [&](VNErrorPtr, bool c) { ++quotas, quotaCancelled = c; });
    EXPECT_EQ(logins + links + quotas, 3) << "each answered at once";
    EXPECT_TRUE(loginError && linkError);
    EXPECT_TRUE(quotaCancelled);
}

TEST_F(BitcasaDrive, TwoCallsOnOneHandlerTakeTurns) {
    Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath(kTop, true), cb); });
    const QNDocumentPtr work = a.document;
    VNTest::writeFile(local->path() + "/quick.txt", "quick");
    fake.control("slow", {{"prefix", "/v1/folders"}, {"seconds", 0.8}});
    fake.control("clear_log");
    auto handler = drive->createCloudInterface();
    QStringList answers;
    handler->listDocuments(QNDocument::withPath("/", true), QString(),
                           [&](QNDocumentList, QString, VNErrorPtr, bool) { answers << "list"; });
    handler->upload(QNDocument::withPath(local->path() + "/quick.txt"), work, {},
                    [&](QNDocumentPtr, VNErrorPtr, bool) { answers << "upload"; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers.size() == 2; }, 20000));
    EXPECT_EQ(answers.join(",").toStdString(), "list,upload");
    const QJsonArray calls = fake.log();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].toObject().value("method").toString(), "GET") << "the upload waited for the listing";
}

TEST_F(BitcasaDrive, ACancelAnswersTheRunningAndTheWaitingCallsOnceAsCancelled) {
    fake.control("slow", {{"prefix", "/v1/folders"}, {"seconds", 0.8}});
    auto handler = drive->createCloudInterface();
    int answers = 0, cancelled = 0;
    handler->listDocuments(QNDocument::withPath("/", true), QString(), [&](QNDocumentList, QString, VNErrorPtr, bool c) {
        ++answers;
        cancelled += c;
    });
    handler->createFolder("Late", QNDocument::withPath(kTop, true), [&](QNDocumentPtr, VNErrorPtr, bool c) {
        ++answers;
        cancelled += c;
    });
    VNTest::spin(200);
    handler->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers == 2; }, 20000));
    VNTest::spin(1200);
    EXPECT_EQ(answers, 2);
    EXPECT_EQ(cancelled, 2);
    EXPECT_FALSE(fake.tree().contains(kTop + "/Late"));
}

TEST_F(BitcasaDrive, OneRefusalIsTriedAgainAndASecondSignsTheDriveOut) {
    const QString token = drive->token();
    // Once: the call is sent again with the same token, which stays.
    fake.control("fault", {{"prefix", "/v1/folders"}, {"status", 401}, {"times", 1}});
    Answer l = list(drive, kTop);
    EXPECT_FALSE(l.error) << errorText(l.error).toStdString();
    EXPECT_EQ(drive->token(), token);
    fake.control("fault", {{"prefix", "/v1/folders"}, {"status", 401}, {"times", 1}, {"after", 1}});
    Answer a = run(drive, [](auto h, auto cb) { h->createFolder("Once", QNDocument::withPath(kTop, true), cb); });
    EXPECT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(drive->token(), token);
    // Twice in a row: refused for good, and the drive must be added again.
    fake.control("fault", {{"prefix", "/v1/folders"}, {"status", 401}, {"times", 2}});
    l = list(drive, kTop);
    EXPECT_TRUE(l.error);
    EXPECT_TRUE(drive->token().isEmpty());
}

TEST_F(BitcasaDrive, FolderTreeToTheDriveAndBackIsByteIdentical) {
    EXPECT_EQ(roundTrip(drive, local->path()).toStdString(), "");
}

}  // namespace
