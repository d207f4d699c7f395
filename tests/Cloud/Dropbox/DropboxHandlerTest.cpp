// The Dropbox drive against the fake service and a private keyring: linking
// and the keyring item, every handler operation, refused and broken replies,
// the 401 path to the session delegate, and tasks end to end.
#include "DropboxFake.h"
#include "../WebDrives/WebDriveTestSupport.h"

#include "Cloud/DropboxSDK/Classes/DXMetadata.h"
#include "Cloud/DropboxSDK/Classes/DXRequest.h"
#include "Cloud/DropboxSDK/Classes/DXRestClient.h"
#include "Cloud/QNDropboxHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Formats/DXJsonExtensions.h"
#include "Platform/VNKeychain.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QFileInfo>
#include <atomic>
#include <gtest/gtest.h>

namespace {

using WebDriveTest::Answer;

class CountingDelegate : public DXSessionDelegate, public DXNetworkRequestDelegate {
public:
    void sessionDidReceiveAuthorizationFailure(DXSession *, const QString &userId) override {
        failures << userId;
    }
    void networkRequestStarted() override { ++started; }
    void networkRequestStopped() override { ++stopped; }
    QStringList failures;
    int started = 0;
    int stopped = 0;
};

QString errorText(const VNErrorPtr &error) {
    return error ? error->userInfo().value("error").toString() + " / " + error->localizedDescription() : QString();
}

class DropboxDrive : public ::testing::Test {
protected:
    void SetUp() override {
        const QString reason = DropboxFake::unavailableReason();
        if (!reason.isEmpty())
            FAIL() << reason.toStdString();
        DropboxFake::setUp();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNDropboxHandler::registerWithFactory();
        session = DXSession::sharedSession();
        ASSERT_TRUE(DropboxFake::linkUser(session));
        drive = QNDriveConfig::create();
        drive->setIsDropbox(true);
        drive->setUserId(DropboxFake::userId());
        local = VNTest::makeTempDir();
        VNLog::setCapturing(true);
        VNLog::clearCaptured();
    }

    void TearDown() override {
        VNLog::setCapturing(false);
        if (session)
            session->unlinkAll();
        DXSession::setSharedSession(nullptr);
    }

    std::shared_ptr<QNCloudInterface> handler() { return drive->createCloudInterface(); }

    // "/Work/report 50%.txt", 18 bytes, through the handler.
    void putReport() {
        const QString file = local->path() + "/report 50%.txt";
        VNTest::writeFile(file, "quarterly numbers\n");
        Answer a = run([](auto h, auto cb) { h->createFolder("Work", QNDocument::withPath("/", true), cb); });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        EXPECT_EQ(a.document->path(), "/Work");
        EXPECT_TRUE(a.document->isDirectory());
        a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(file), QNDocument::withPath("/Work", true), {}, cb); });
        ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
        EXPECT_EQ(a.document->path(), "/Work/report 50%.txt");
        EXPECT_EQ(a.document->size(), 18);
    }

    template <typename Call>
    Answer run(Call call) { return WebDriveTest::run(drive, call); }
    Answer list(const QString &path, const QString &keyword = QString()) { return WebDriveTest::list(drive, path, keyword); }
    static QStringList names(const QNDocumentList &documents) { return WebDriveTest::names(documents); }

    std::shared_ptr<DXSession> session;
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(DropboxDrive, LinkedTokensLiveInTheKeyringAndUnlinkAllRemovesThem) {
    EXPECT_TRUE(session->isUserLinked(DropboxFake::userId()));
    EXPECT_TRUE(VNUserDefaults::standard().boolForKey("DropboxLinked"));
    const auto stored = VNKeychain::secret(DXSession::keychainService(), DropboxFake::appKey());
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->contains(DropboxFake::userId()));

    // A new session (the next launch) finds the user and works with its token.
    auto next = DropboxFake::newSession();
    EXPECT_EQ(next->userIds(), QStringList{DropboxFake::userId()});
    DXSession::setSharedSession(next);
    EXPECT_FALSE(list("/").error);

    next->unlinkAll();
    EXPECT_FALSE(next->isLinked());
    EXPECT_FALSE(VNKeychain::secret(DXSession::keychainService(), DropboxFake::appKey()));
    EXPECT_FALSE(VNUserDefaults::standard().contains("DropboxLinked"));
    EXPECT_FALSE(DropboxFake::newSession()->isLinked());
    session = next;
}

TEST_F(DropboxDrive, AnUploadedFileIsListedFoundAndReadBack) {
    ASSERT_NO_FATAL_FAILURE(putReport());
    Answer l = list("/Work");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), QStringList{"report 50%.txt"});
    EXPECT_TRUE(l.documents.first()->date().isValid());
    l = list("/", "REPORT");
    ASSERT_FALSE(l.error);
    ASSERT_EQ(l.documents.size(), 1);
    EXPECT_EQ(l.documents.first()->path(), "/Work/report 50%.txt");

    const QString back = local->path() + "/back.txt";
    Answer a = run([&](auto h, auto cb) {
        h->download(QNDocument::withPath("/Work/report 50%.txt"), QNDocument::withPath(back), {}, cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(VNTest::readFile(back), "quarterly numbers\n");
    EXPECT_EQ(a.document->path(), back);
}

TEST_F(DropboxDrive, RenameCopyMoveAndRemove) {
    ASSERT_NO_FATAL_FAILURE(putReport());
    Answer a = run([](auto h, auto cb) {
        h->rename(QNDocument::withPath("/Work/report 50%.txt"), QNDocument::withPath("/Work/renamed.txt"), cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Work/renamed.txt");
    run([](auto h, auto cb) { h->createFolder("Archive", QNDocument::withPath("/", true), cb); });
    a = run([](auto h, auto cb) {
        h->localCopy(QNDocument::withPath("/Work/renamed.txt"), QNDocument::withPath("/Archive", true), cb);
    });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Archive/renamed.txt");
    a = run([](auto h, auto cb) { h->localMove(QNDocument::withPath("/Work", true), QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Archive/Work");
    EXPECT_EQ(names(list("/Archive").documents), (QStringList{"Work/", "renamed.txt"}));
    a = run([](auto h, auto cb) { h->remove(QNDocument::withPath("/Archive", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(a.document->path(), "/Archive");
    EXPECT_TRUE(list("/").documents.isEmpty());
}

// Cut off on its way, a rename may still be carried out by the service:
// once sent, it runs to the service's answer.
TEST_F(DropboxDrive, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    ASSERT_NO_FATAL_FAILURE(putReport());
    const VNTest::HeldRename run = VNTest::cancelARenameHeldOnItsWay(
        drive, QNDocument::withPath("/Work/report 50%.txt"), QNDocument::withPath("/Work/renamed.txt"),
        {{"method", "POST"}, {"contains", "to_path"}}, [](const QString &what, const QJsonObject &args) {
            return QJsonDocument::fromJson(DropboxFake::control(what, args)).object();
        });
    VNTest::expectItRanToItsAnswer(run);
    EXPECT_EQ(names(list("/Work").documents), QStringList{"renamed.txt"});
}

TEST_F(DropboxDrive, LinkQuotaAQuietLoginAndNoTokenInTheLog) {
    ASSERT_NO_FATAL_FAILURE(putReport());
    Answer a = run([](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Work/report 50%.txt"), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_TRUE(a.document->link().startsWith("https://db.tt/"));
    EXPECT_EQ(a.document->linkEndDate().date().year(), 2030);

    EXPECT_FALSE(WebDriveTest::quota(drive));
    EXPECT_EQ(drive->totalBytes(), 2LL * 1024 * 1024 * 1024);
    EXPECT_EQ(drive->sharedBytes(), 1000);
    EXPECT_EQ(drive->usedBytes(), 18 + 1000);
    EXPECT_EQ(drive->availableBytes(), drive->totalBytes() - drive->usedBytes());

    // login() never answers; nothing waits on it.
    bool answered = false;
    handler()->login([&](bool, VNErrorPtr, bool) { answered = true; });
    VNTest::spin(100);
    EXPECT_FALSE(answered);
    const QString log = VNLog::captured().join('\n');
    const auto stored = VNKeychain::secret(DXSession::keychainService(), DropboxFake::appKey()).value_or("");
    for (const QString &token : {session->credentialStoreForUserId(DropboxFake::userId()).token(),
                                 session->credentialStoreForUserId(DropboxFake::userId()).tokenSecret()})
        EXPECT_FALSE(log.contains(token)) << "a token reached the log";
    EXPECT_FALSE(stored.isEmpty());
}

TEST_F(DropboxDrive, RefusedAndBrokenRepliesAreErrorsAndLeaveNoFile) {
    DropboxFake::putFile("/big.bin", QByteArray(256 * 1024, 'x'));
    const QString target = local->path() + "/big.bin";

    DropboxFake::fault("/1/files/", 0, 1, true);  // headers, half the body, then the connection closes
    Answer a = run([&](auto h, auto cb) { h->download(QNDocument::withPath("/big.bin"), QNDocument::withPath(target), {}, cb); });
    EXPECT_TRUE(a.error);
    EXPECT_FALSE(a.cancelled);
    EXPECT_EQ(QDir(local->path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    struct Case {
        const char *prefix;
        int status;
    };
    for (const Case &c : {Case{"/1/files/", 404}, Case{"/1/files/", 503}}) {
        DropboxFake::fault(c.prefix, c.status);
        a = run([&](auto h, auto cb) { h->download(QNDocument::withPath("/big.bin"), QNDocument::withPath(target), {}, cb); });
        ASSERT_TRUE(a.error) << c.status;
        EXPECT_EQ(a.error->domain(), DXRequest::errorDomain());
        EXPECT_EQ(a.error->code(), c.status);
        EXPECT_FALSE(QFileInfo::exists(target));
    }
    DropboxFake::fault("/1/metadata/", 500);
    Answer l = list("/");
    EXPECT_TRUE(l.error);
    EXPECT_TRUE(l.documents.isEmpty());
    l = list("/missing");
    ASSERT_TRUE(l.error);
    EXPECT_EQ(l.error->code(), 404);

    // Names that would leave their folder are refused; the others are listed.
    for (const char *path : {"/..", "/a/../../etc", "/other/x.txt", "/", ""})
        DropboxFake::control("entry", {{"path", path}, {"is_dir", false}, {"bytes", 1}});
    l = list("/");
    ASSERT_FALSE(l.error);
    EXPECT_EQ(names(l.documents), QStringList{"big.bin"});
    for (const char *name : {"..", "a/b", "", "."}) {
        a = run([&](auto h, auto cb) { h->createFolder(name, QNDocument::withPath("/", true), cb); });
        EXPECT_TRUE(a.error) << name;
    }
}

// A folder comes in one reply: one larger than a listing may hold is an
// error, not read on into memory.
TEST_F(DropboxDrive, AListingReplyPastTheListingBoundIsAnError) {
    const QString entry = R"({"path":"/)" + QString(90, 'x') + R"(","is_dir":false,"bytes":1})";
    DropboxFake::control("fault", {{"prefix", "/1/metadata/"},
                                   {"reply", R"({"path":"/","is_dir":true,"contents":[{items}]})"},
                                   {"items", 400000},
                                   {"item", entry},
                                   {"times", -1}});
    Answer l = list("/");
    DropboxFake::control("clear_faults");
    ASSERT_TRUE(l.error);
    EXPECT_TRUE(l.error->localizedDescription().contains("too large")) << l.error->localizedDescription().toStdString();
    EXPECT_TRUE(l.documents.isEmpty());
}

TEST_F(DropboxDrive, CancelMidDownloadAnswersCancelledOnce) {
    DropboxFake::putFile("/huge.bin", QByteArray(40 * 1024 * 1024, 'y'));
    auto h = handler();
    Answer answer;
    bool cancelled = false;
    h->download(QNDocument::withPath("/huge.bin"), QNDocument::withPath(local->path() + "/huge.bin"),
                [&](double) {
                    if (!cancelled) {
                        cancelled = true;
                        h->cancel();
                    }
                },
                [&](QNDocumentPtr d, VNErrorPtr e, bool c) {
                    ++answer.count;
                    answer.document = d;
                    answer.cancelled = c;
                });
    ASSERT_TRUE(VNTest::waitUntil([&] { return answer.count > 0; }, 30000));
    VNTest::spin(200);
    EXPECT_EQ(answer.count, 1);
    EXPECT_TRUE(answer.cancelled);
    EXPECT_FALSE(answer.document);
    EXPECT_EQ(QDir(local->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(DropboxDrive, A401ReachesTheSessionDelegateOncePerRequest) {
    auto delegate = std::make_shared<CountingDelegate>();
    session->setDelegate(delegate);
    DXRequest::setNetworkRequestDelegate(delegate);
    EXPECT_FALSE(list("/").error);
    EXPECT_EQ(delegate->started, 1);
    EXPECT_EQ(delegate->stopped, 1);
    EXPECT_TRUE(delegate->failures.isEmpty());

    DropboxFake::control("revoke");
    Answer l = list("/");
    ASSERT_TRUE(l.error);
    EXPECT_EQ(l.error->domain(), DXRequest::errorDomain());
    EXPECT_EQ(l.error->code(), 401);
    VNTest::spin(200);
    EXPECT_EQ(delegate->failures, QStringList{DropboxFake::userId()});
    EXPECT_EQ(delegate->started, 2);
    EXPECT_EQ(delegate->stopped, 2);
    DXRequest::setNetworkRequestDelegate({});
    // A drive whose user is not linked answers without asking the service.
    session->unlinkAll();
    DropboxFake::control("clear_log");
    l = list("/");
    EXPECT_TRUE(l.error);
    EXPECT_TRUE(DropboxFake::requestLog().isEmpty());
}

// --- Tasks --------------------------------------------------------------------------

// A listed entry is shown only as a direct child of the listed folder, named
// by its path without a trailing slash; the service compares names without
// regard to case.
TEST(DropboxEntries, OnlyADirectChildOfTheListedFolderIsShown) {
    const struct {
        const char *path;
        const char *shown;  // null: left out
    } rows[] = {
        {"/a/b/x.txt", "/a/b/x.txt"},
        {"/A/B/x.txt", "/A/B/x.txt"},
        {"/a/b/sub/", "/a/b/sub"},
        {"/a/bus,b/", nullptr},  // the folder's name is only the start of it
        {"/a/bx.txt", nullptr},
        {"/a/b/c/x.txt", nullptr},
        {"/a/b/..", nullptr},
        {"/a/b//x.txt", nullptr},  // an empty step is no folder of the path
    };
    for (const auto &row : rows) {
        const DXMetadata entry(JSONValue(QByteArray("{\"path\": \"") + row.path + "\", \"is_dir\": false}"));
        const QNDocumentPtr document = QNDropboxHandler::documentFromMetadata(entry, QStringLiteral("/a/B"));
        EXPECT_EQ(document ? document->path() : QString(), row.shown ? QString::fromUtf8(row.shown) : QString())
            << row.path;
    }
}

// An entry the listing cannot show (its name would leave the folder) was
// never copied: a move off the drive keeps the folder without failing,
// removes only what it copied, and its end report names the folder.
TEST_F(DropboxDrive, AMoveKeepsAFolderHoldingAnEntryTheDriveCannotShow) {
    DropboxFake::putFile("/Tree", {}, true);
    DropboxFake::putFile("/Tree/a.txt", "a");
    DropboxFake::control("entry", {{"path", "/Tree/x/../../y"}, {"is_dir", false}, {"bytes", 1}});
    QDir().mkpath(local->path() + "/dest");
    auto task = std::make_shared<QNMoveTask>();
    const VNErrorPtr error = WebDriveTest::runItem(
        task, std::make_shared<QNMoveTaskItem>(drive, WebDriveTest::localDisk(), QNDocument::withPath("/Tree", true),
                                               QNDocument::withPath(local->path() + "/dest", true)));
    EXPECT_FALSE(error) << error->localizedDescription().toStdString();
    const QString report = task->leftOut().join('\n');
    EXPECT_TRUE(report.startsWith("An entry of \u201c/Tree\u201d was not moved") && report.contains("cannot use"))
        << report.toStdString();
    const QJsonObject tree = DropboxFake::tree();
    EXPECT_TRUE(tree.contains("tree"));
    EXPECT_FALSE(tree.contains("tree/a.txt"));
    EXPECT_EQ(VNTest::readFile(local->path() + "/dest/Tree/a.txt"), QByteArray("a"));
}

TEST_F(DropboxDrive, FolderTreeToDropboxAndBackIsByteIdenticalAndAMoveInsideIsOneMoveRequest) {
    const QString source = local->path() + "/tree";
    const QByteArray big = WebDriveTest::patternBytes(2 * 1024 * 1024 + 77);
    VNTest::writeFile(source + "/top.txt", "top\n");
    VNTest::writeFile(source + "/empty.bin", QByteArray());
    VNTest::writeFile(source + "/level 1/big file.bin", big);
    VNTest::writeFile(source + QString::fromUtf8("/level 1/nïce naмe 50%#?.txt"), "unicode");
    VNTest::writeFile(source + "/level 1/level 2/deep.txt", "deep");
    QDir().mkpath(source + "/level 1/empty folder");

    VNErrorPtr error = WebDriveTest::runItem(std::make_shared<QNCopyTask>(),
                               std::make_shared<QNCopyTaskItem>(WebDriveTest::localDisk(), drive, QNDocument::withPath(source, true),
                                                                QNDocument::withPath("/", true)));
    ASSERT_FALSE(error) << errorText(error).toStdString();
    const QJsonObject tree = DropboxFake::tree();
    EXPECT_EQ(tree.value("tree/level 1/big file.bin").toObject().value("sha1").toString(),
              QCryptographicHash::hash(big, QCryptographicHash::Sha1).toHex());

    run([](auto h, auto cb) { h->createFolder("Moved", QNDocument::withPath("/", true), cb); });
    DropboxFake::control("clear_log");
    error = WebDriveTest::runItem(std::make_shared<QNMoveTask>(),
                    std::make_shared<QNMoveTaskItem>(drive, drive, QNDocument::withPath("/tree", true),
                                                     QNDocument::withPath("/Moved", true)));
    ASSERT_FALSE(error) << errorText(error).toStdString();
    // The destination is looked at first (a namesake there is replaced by
    // transfer, never left to the drive); then the tree goes in one move.
    const QJsonArray moves = DropboxFake::requestLog();
    ASSERT_EQ(moves.size(), 2) << QJsonDocument(moves).toJson().constData();
    EXPECT_EQ(moves.at(0).toObject().value("path").toString(), "/1/metadata/dropbox/Moved");
    EXPECT_EQ(moves.at(1).toObject().value("path").toString(), "/1/fileops/move");

    const QString back = local->path() + "/back";
    QDir().mkpath(back);
    error = WebDriveTest::runItem(std::make_shared<QNCopyTask>(),
                    std::make_shared<QNCopyTaskItem>(drive, WebDriveTest::localDisk(), QNDocument::withPath("/Moved/tree", true),
                                                     QNDocument::withPath(back, true)));
    ASSERT_FALSE(error) << errorText(error).toStdString();
    EXPECT_EQ(WebDriveTest::treeDifference(source, back + "/tree").toStdString(), "");
}

}  // namespace
