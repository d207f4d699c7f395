// The SugarSync drive against its HTTPS fake (tests/peers/sugarsync_fake.py):
// login and tokens, paged listings, refused and broken replies, every item
// operation, and copy and move tasks.
#include "Core/QNMyDocumentsHandler.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNRenameOperation.h"
#include "Core/QNTaskManager.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"
#include "support/HandlerAnswer.h"
#include "support/HeldRename.h"
#include "support/TaskRun.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <gtest/gtest.h>

namespace {

QJsonObject peer() {
    static const QJsonObject s = VNTest::peerState(QStringLiteral("sugarsync"));
    return s;
}

QJsonObject counts() {
    VNTest::spin(50);
    return QJsonDocument::fromJson(VNTest::readFile(peer().value("counts_file").toString())).object();
}

// The fake's tree as it stands: each item's path of names -> size (-1: a folder).
QJsonObject serviceTree() {
    const QString file = QFileInfo(peer().value("counts_file").toString()).dir().filePath("tree.json");
    return QJsonDocument::fromJson(VNTest::readFile(file)).object();
}

int requestsSince(const QJsonObject &before, const QString &prefix = QString()) {
    int total = 0;
    const QJsonObject now = counts();
    for (auto it = now.begin(); it != now.end(); ++it)
        if (it.key().startsWith(prefix))
            total += it.value().toInt() - before.value(it.key()).toInt();
    return total;
}

using Answer = VNTest::HandlerAnswer;
using AnswerPtr = VNTest::HandlerAnswerPtr;
using VNTest::documentAnswer;
using VNTest::listAnswer;
using VNTest::loginAnswer;

QNDocumentPtr named(const QNDocumentList &documents, const QString &name) {
    for (const auto &d : documents)
        if (d->displayName() == name)
            return d;
    return nullptr;
}

class SugarSync : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(peer().isEmpty()) << "the sugarsync peer is not running";
        NRHTTPRequest::setTestCertificateAuthorityFile(peer().value("ca_file").toString());
        QNServiceEndpoints::setOverrideForTesting(peer().value("host").toString(), peer().value("port").toInt());
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNSugarSyncHandler::registerWithFactory();
        config = QNDriveConfig::create();
        config->setIsSugarSync(true);
        config->setUsername(peer().value("user").toString());
        config->setPassword(peer().value("password").toString());
        auto login = VNTest::answerOf([&](AnswerPtr a) { handler()->login(loginAnswer(a)); });
        ASSERT_TRUE(login->success) << login->text();
    }

    std::shared_ptr<QNSugarSyncHandler> handler() {
        return std::dynamic_pointer_cast<QNSugarSyncHandler>(config->createCloudInterface());
    }

    AnswerPtr list(const QNDocumentPtr &folder) {
        return VNTest::answerOf([&](AnswerPtr a) { handler()->listDocuments(folder, QString(), listAnswer(a)); });
    }

    // A folder at the top of the drive, by name.
    QNDocumentPtr top(const QString &name) {
        auto listing = list(QNDocument::withPath("/", true));
        EXPECT_FALSE(listing->error) << listing->text();
        return named(listing->documents, name);
    }

    QNDriveConfigPtr config;
};

TEST_F(SugarSync, LoginKeepsTheRefreshTokenNotThePasswordAndNeverLogsIt) {
    EXPECT_TRUE(config->password().isNull() || config->password().isEmpty());
    EXPECT_TRUE(config->token().contains("/app-authorization/"));
    EXPECT_EQ(config->description(), "SHOW DOCUMENTS ON THIS SUGARSYNC ACCOUNT");

    // Refused, with no Location or with one on the refusal: the drive keeps
    // its password and gets no token.
    for (const char *password : {"wrong", "locked"}) {
        SCOPED_TRACE(password);
        auto refusedDrive = QNDriveConfig::create();
        refusedDrive->setIsSugarSync(true);
        refusedDrive->setUsername(peer().value("user").toString());
        refusedDrive->setPassword(password);
        auto refused = VNTest::answerOf([&](AnswerPtr a) { refusedDrive->createCloudInterface()->login(loginAnswer(a)); });
        EXPECT_FALSE(refused->success);
        ASSERT_TRUE(refused->error);
        EXPECT_EQ(refused->error->localizedDescription(), "The account is invalid or the connection had a problem");
        EXPECT_EQ(refusedDrive->password(), password);
        EXPECT_TRUE(refusedDrive->token().isEmpty());
    }

    auto wrong = QNDriveConfig::create();
    wrong->setIsSugarSync(true);
    wrong->setUsername(peer().value("user").toString());
    wrong->setPassword("wrong");

    VNLog::setCapturing(true);
    VNTest::answerOf([&](AnswerPtr a) { wrong->createCloudInterface()->login(loginAnswer(a)); });
    EXPECT_TRUE(VNLog::captured().join('\n').contains("response: 401, <html>Unauthorized</html>"))
        << VNLog::captured().join('\n').toStdString();
    auto relog = VNTest::answerOf([&](AnswerPtr a) {
        auto again = config->copyThroughArchive();
        again->setPassword(peer().value("password").toString());
        again->createCloudInterface()->login(loginAnswer(a));
    });
    ASSERT_TRUE(relog->success);
    list(QNDocument::withPath("/", true));
    const QString logged = VNLog::captured().join('\n');
    VNLog::setCapturing(false);
    EXPECT_FALSE(logged.contains("/app-authorization/")) << logged.toStdString();
    EXPECT_FALSE(logged.contains(config->token()));
}

TEST_F(SugarSync, LongFolderIsListedWholeAcrossPages) {
    const QNDocumentPtr big = top("Big");
    ASSERT_TRUE(big);
    const QJsonObject before = counts();
    auto listing = list(big);
    ASSERT_FALSE(listing->error) << listing->text();
    EXPECT_EQ(listing->documents.size(), 1200);
    EXPECT_EQ(requestsSince(before, "GET /folder/"), 3);
    EXPECT_EQ(listing->documents.last()->displayName(), "file 1199.txt");
    EXPECT_EQ(listing->documents.last()->path(), "/Big/file 1199.txt");
}

// Page ends past what 32 bits hold: the listing goes on past 2^31 - 1 and
// is whole; one whose ends never advance fails after two pages, neither
// asking for pages without end nor passing a short listing as whole. A
// page of one entry ends where it starts and is followed; a page whose end
// is no number fails the listing at once (read as 0, the next page would
// start inside this one and repeat its entries).
TEST_F(SugarSync, PagesEndingPast32BitsAreFollowedAndAnEndThatDoesNotAdvanceFails) {
    struct Case {
        const char *folder;
        QStringList listed;  // empty: the listing fails
        int pages;
    };
    for (const Case &c : {Case{"maxend", {"page at 0.txt", "last.txt"}, 2}, Case{"stuck", {}, 2},
                          Case{"onebyone", {"first.txt", "second.txt"}, 2}, Case{"badend", {}, 1}}) {
        SCOPED_TRACE(c.folder);
        const QNDocumentPtr folder = top(c.folder);
        ASSERT_TRUE(folder);
        const QJsonObject before = counts();
        auto listing = VNTest::answerOf(
            [&](AnswerPtr a) { handler()->listDocuments(folder, QString(), listAnswer(a)); }, 20000);
        ASSERT_EQ(listing->count, 1) << "the listing never ended";
        EXPECT_EQ(requestsSince(before, "GET /folder/"), c.pages);
        QStringList listed;
        for (const auto &d : listing->documents)
            listed << d->displayName();
        EXPECT_EQ(listed.join('|').toStdString(), c.listed.join('|').toStdString());
        EXPECT_EQ(bool(listing->error), c.listed.isEmpty()) << listing->text();
    }
}

// Pages that always say more is to come are read up to a listing's bound,
// then the listing fails; it never grows without end.
TEST_F(SugarSync, PagesThatNeverEndFailAtTheListingsBound) {
    const QNDocumentPtr folder = top("endless");
    ASSERT_TRUE(folder);
    const QJsonObject before = counts();
    auto listing = VNTest::answerOf(
        [&](AnswerPtr a) { handler()->listDocuments(folder, QString(), listAnswer(a)); }, 60000);
    ASSERT_EQ(listing->count, 1) << "the listing never ended";
    EXPECT_TRUE(listing->documents.isEmpty());
    EXPECT_NE(listing->text().find("larger than 32 MiB"), std::string::npos) << listing->text();
    // About 1 MiB a page: the bound is reached after a few dozen.
    EXPECT_LE(requestsSince(before, "GET /folder/"), 40);
}

TEST_F(SugarSync, RefusedOrBrokenListingIsAnErrorAndAMoveRemovesNothing) {
    for (const char *name : {"refused", "notxml", "noend"}) {
        const QNDocumentPtr folder = top(name);
        ASSERT_TRUE(folder) << name;
        auto listing = list(folder);
        EXPECT_TRUE(listing->error) << name;
        EXPECT_TRUE(listing->documents.isEmpty());

        // Moving that folder to the local disk fails and removes nothing there.
        auto local = VNTest::makeTempDir();
        auto localDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
        const QJsonObject before = counts();
        const auto moved = VNTest::runItem(
            std::make_shared<QNMoveTask>(),
            std::make_shared<QNMoveTaskItem>(config, localDrive, folder, QNDocument::withPath(local->path(), true)), 60000);
        ASSERT_TRUE(moved.completed);
        EXPECT_TRUE(moved.error) << name;
        EXPECT_EQ(requestsSince(before, "PUT "), 0) << name << ": something was moved away";
    }
}

// What the listing leaves out is on the service all the same: a move of
// the folder keeps it (the folder is not removed) without failing, and its
// end report says so.
TEST_F(SugarSync, NamesThatWouldLeaveTheirFolderAreLeftOutAndAMoveKeepsTheirFolder) {
    const QNDocumentPtr evil = top("evil");
    auto listing = list(evil);
    ASSERT_FALSE(listing->error) << listing->text();
    ASSERT_EQ(listing->documents.size(), 1);
    EXPECT_EQ(listing->documents.first()->displayName(), "ok.txt");

    auto local = VNTest::makeTempDir();
    auto localDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
    const QJsonObject before = counts();
    const auto moved = VNTest::runItem(
        std::make_shared<QNMoveTask>(),
        std::make_shared<QNMoveTaskItem>(config, localDrive, evil, QNDocument::withPath(local->path(), true)), 60000);
    ASSERT_TRUE(moved.completed);
    EXPECT_FALSE(moved.error) << moved.error->localizedDescription().toStdString();
    const QString report = moved.leftOut.join('\n');
    EXPECT_TRUE(report.startsWith("2 entries of \u201c/evil\u201d were not moved") && report.contains("cannot use"))
        << report.toStdString();
    // A removal puts the item into the deleted-items folder: only the file
    // went. The folder was never renamed: the service and this computer are
    // two storages, so the move takes no last look (set aside, looked for).
    EXPECT_EQ(requestsSince(before, "PUT /folder/"), 0);
    EXPECT_EQ(requestsSince(before, "PUT /file/"), 1);
    EXPECT_TRUE(top("evil"));
    EXPECT_TRUE(QFileInfo::exists(local->path() + "/evil/ok.txt"));
}

// A rename takes the new name from the new path: a caller may leave the old
// name as the displayName, as a save-back's backup does (it was renamed onto
// its own name, and the save-back then wrote over the document and removed it).
TEST_F(SugarSync, ARenameTakesItsNameFromTheNewPathNotTheDisplayName) {
    auto local = VNTest::makeTempDir();
    VNTest::writeFile(local->path() + "/named.txt", "named");
    auto folder = VNTest::answerOf([&](AnswerPtr a) {
        handler()->createFolder("renamed by path " + QString::number(QDateTime::currentMSecsSinceEpoch()),
                                top("Sync Folder"), documentAnswer(a));
    });
    ASSERT_FALSE(folder->error) << folder->text();
    auto uploaded = VNTest::answerOf([&](AnswerPtr a) {
        handler()->upload(QNDocument::withPath(local->path() + "/named.txt"), folder->document, nullptr,
                          documentAnswer(a));
    });
    ASSERT_FALSE(uploaded->error) << uploaded->text();
    auto file = named(list(folder->document)->documents, "named.txt");
    ASSERT_TRUE(file);
    auto newName = QNDocument::withPath(folder->document->path() + "/named-QN-2014-03-05_09-07-02.txt");
    newName->setDisplayName("named.txt");
    auto renamed = VNTest::answerOf([&](AnswerPtr a) { handler()->rename(file, newName, documentAnswer(a)); });
    ASSERT_FALSE(renamed->error) << renamed->text();
    QStringList inside;
    const auto listing = list(folder->document);
    for (const auto &d : listing->documents)
        inside << d->displayName();
    EXPECT_EQ(inside, QStringList{"named-QN-2014-03-05_09-07-02.txt"});
}

// Cut off on its way, a rename may still be carried out by the service:
// once sent, it runs to the service's answer.
TEST_F(SugarSync, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    auto local = VNTest::makeTempDir();
    VNTest::writeFile(local->path() + "/held.txt", "held");
    auto folder = VNTest::answerOf([&](AnswerPtr a) {
        handler()->createFolder("held rename " + QString::number(QDateTime::currentMSecsSinceEpoch()),
                                top("Sync Folder"), documentAnswer(a));
    });
    ASSERT_FALSE(folder->error) << folder->text();
    auto uploaded = VNTest::answerOf([&](AnswerPtr a) {
        handler()->upload(QNDocument::withPath(local->path() + "/held.txt"), folder->document, nullptr,
                          documentAnswer(a));
    });
    ASSERT_FALSE(uploaded->error) << uploaded->text();
    auto file = named(list(folder->document)->documents, "held.txt");
    ASSERT_TRUE(file);
    const VNTest::HeldRename run = VNTest::cancelARenameHeldOnItsWay(
        config, file, QNDocument::withPath(folder->document->path() + "/renamed.txt"),
        {{"method", "PUT"}, {"contains", "displayName"}},
        VNTest::fakeControlAt(QStringLiteral("https://127.0.0.1:%1").arg(peer().value("port").toInt())));
    VNTest::expectItRanToItsAnswer(run);
    EXPECT_TRUE(named(list(folder->document)->documents, "renamed.txt"));
}

TEST_F(SugarSync, UploadIsTheTokenTheFoldersListingAndTwoRequestsThenEveryItemOperation) {
    const QNDocumentPtr sync = top("Sync Folder");
    ASSERT_TRUE(sync);
    auto local = VNTest::makeTempDir();
    const QByteArray data(300000, 'q');
    VNTest::writeFile(local->path() + "/note.bin", data);
    QJsonObject before = counts();
    auto uploaded = VNTest::answerOf([&](AnswerPtr a) {
        handler()->upload(QNDocument::withPath(local->path() + "/note.bin"), sync, nullptr, documentAnswer(a));
    });
    ASSERT_FALSE(uploaded->error) << uploaded->text();
    EXPECT_EQ(requestsSince(before), 4);
    ASSERT_TRUE(uploaded->document);
    EXPECT_TRUE(uploaded->document->id().contains("/file/"));

    auto folder = VNTest::answerOf([&](AnswerPtr a) { handler()->createFolder("made", sync, documentAnswer(a)); });
    ASSERT_FALSE(folder->error) << folder->text();
    EXPECT_EQ(folder->document->path(), "/Sync Folder/made");
    folder->document->setIsDirectory(true);

    auto file = named(list(sync)->documents, "note.bin");
    ASSERT_TRUE(file);
    auto copied = VNTest::answerOf([&](AnswerPtr a) { handler()->localCopy(file, folder->document, documentAnswer(a)); });
    ASSERT_FALSE(copied->error) << copied->text();
    EXPECT_NE(copied->document->id(), file->id()) << "the copy is a new item";
    EXPECT_EQ(copied->document->path(), "/Sync Folder/made/note.bin");

    auto renamed = VNTest::answerOf([&](AnswerPtr a) {
        handler()->rename(file, QNDocument::withPath("/Sync Folder/renamed.bin"), documentAnswer(a));
    });
    ASSERT_FALSE(renamed->error) << renamed->text();
    EXPECT_EQ(renamed->document->path(), "/Sync Folder/renamed.bin");

    auto moved = VNTest::answerOf([&](AnswerPtr a) { handler()->localMove(renamed->document, folder->document, documentAnswer(a)); });
    ASSERT_FALSE(moved->error) << moved->text();
    EXPECT_EQ(moved->document->path(), "/Sync Folder/made/renamed.bin");
    QStringList inside;
    const auto made = list(folder->document);
    for (const auto &d : made->documents)
        inside << d->displayName();
    inside.sort();
    EXPECT_EQ(inside, (QStringList{"note.bin", "renamed.bin"}));

    auto removed = VNTest::answerOf([&](AnswerPtr a) { handler()->remove(folder->document, documentAnswer(a)); });
    ASSERT_FALSE(removed->error) << removed->text();
    EXPECT_EQ(removed->document, folder->document);
    EXPECT_FALSE(named(list(sync)->documents, "made"));

    auto quota = VNTest::answerOf([&](AnswerPtr a) {
        handler()->quota(nullptr, VNTest::quotaAnswer(a));
    });
    ASSERT_FALSE(quota->error) << quota->text();
    EXPECT_EQ(config->totalBytes(), 5368709120LL);
    EXPECT_GT(config->usedBytes(), 0);
}

TEST_F(SugarSync, FolderTreeThereAndBackIsByteIdentical) {
    const QNDocumentPtr sync = top("Sync Folder");
    ASSERT_TRUE(sync);
    auto local = VNTest::makeTempDir();
    QByteArray big(700 * 1024 + 3, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 13 >> 3);
    VNTest::writeFile(local->path() + "/tree/a.txt", "a");
    VNTest::writeFile(local->path() + "/tree/sub/big.bin", big);
    VNTest::writeFile(local->path() + "/tree/sub/deeper/c.txt", "c");
    auto localDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
    auto copy = [](const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, const QNDocumentPtr &what,
                   const QNDocumentPtr &into) {
        return VNTest::runItem(std::make_shared<QNCopyTask>(), std::make_shared<QNCopyTaskItem>(from, to, what, into)).error;
    };
    VNErrorPtr up = copy(localDrive, config, QNDocument::withPath(local->path() + "/tree", true), sync);
    ASSERT_FALSE(up) << up->localizedDescription().toStdString();
    auto tree = named(list(sync)->documents, "tree");
    ASSERT_TRUE(tree);
    QDir().mkpath(local->path() + "/back");
    VNErrorPtr down = copy(config, localDrive, tree, QNDocument::withPath(local->path() + "/back", true));
    ASSERT_FALSE(down) << down->localizedDescription().toStdString();
    EXPECT_EQ(VNTest::readFile(local->path() + "/back/tree/a.txt"), "a");
    EXPECT_TRUE(VNTest::readFile(local->path() + "/back/tree/sub/big.bin") == big);
    EXPECT_EQ(VNTest::readFile(local->path() + "/back/tree/sub/deeper/c.txt"), "c");
}

// Cancelled while the token is asked for: each answers once with the cancel
// error, a listing as cancelled, quota not.
TEST_F(SugarSync, CancelWhileTheTokenIsAskedForAnswersOnce) {
    struct Case {
        const char *operation;
        bool cancelled;
    };
    for (const Case &c : {Case{"list", true}, Case{"quota", false}}) {
        SCOPED_TRACE(c.operation);
        auto sync = handler();
        auto answer = std::make_shared<Answer>();
        if (QString(c.operation) == "list")
            sync->listDocuments(QNDocument::withPath("/", true), QString(), listAnswer(answer));
        else
            sync->quota(nullptr, VNTest::quotaAnswer(answer));
        sync->cancel();
        ASSERT_TRUE(VNTest::waitForAnswer(answer));
        VNTest::spin(300);  // the token's reply, had the cancel not stopped it, would answer a second time
        EXPECT_EQ(answer->count, 1);
        EXPECT_EQ(answer->cancelled, c.cancelled);
        EXPECT_TRUE(answer->documents.isEmpty());
        EXPECT_TRUE(answer->error && answer->error->code() == 4) << answer->text();
    }
}

// The quota's counts: a missing usage is 0, and a repeated count is read
// from its first element.
TEST_F(SugarSync, QuotaCountsMissingOrRepeated) {
    struct Case {
        const char *user;
        qint64 total, used;
    };
    const QString token = config->token();
    for (const Case &c : {Case{"nousage", 1000, 0}, Case{"twolimits", 1000, 400}}) {
        SCOPED_TRACE(c.user);
        config->setToken(token.left(token.lastIndexOf('/') + 1) + "user-" + c.user);
        auto quota = VNTest::answerOf([&](AnswerPtr a) { handler()->quota(nullptr, VNTest::quotaAnswer(a)); });
        ASSERT_FALSE(quota->error) << quota->text();
        EXPECT_EQ(config->totalBytes(), c.total);
        EXPECT_EQ(config->usedBytes(), c.used);
        EXPECT_EQ(config->availableBytes(), c.total - c.used);
    }
}

// A token reply that is no XML: the operation fails with the parser's own
// error and sends nothing further.
TEST_F(SugarSync, ATokenReplyThatIsNoXMLFailsWithTheParsersError) {
    QString token = config->token();
    config->setToken(token.left(token.lastIndexOf('/') + 1) + "notxml");
    const QJsonObject before = counts();
    auto listing = list(QNDocument::withPath("/", true));
    ASSERT_TRUE(listing->error);
    EXPECT_EQ(listing->error->domain().toStdString(), "XTErrorDomain") << listing->text();
    EXPECT_EQ(requestsSince(before), 1);
}

// Names keep their blanks: listed, copied and moved between folders, and
// downloaded to the disk, a name with a leading, a trailing or both blanks
// arrives as it stands (checked on the service's own tree).
TEST_F(SugarSync, NamesWithBlanksAroundThemArriveAsTheyStand) {
    const QNDocumentPtr blanks = top("blanks");
    const QNDocumentPtr copied = top("blanks copied");
    const QNDocumentPtr moved = top("blanks moved");
    ASSERT_TRUE(blanks && copied && moved);
    auto local = VNTest::makeTempDir();
    auto localDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
    const auto listed = list(blanks)->documents;
    for (const QString name : {" lead.txt", "trail.txt ", " both "}) {
        SCOPED_TRACE(("\"" + name + "\"").toStdString());
        const QNDocumentPtr file = named(listed, name);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->path(), "/blanks/" + name);
        auto copy = VNTest::runItem(std::make_shared<QNCopyTask>(), std::make_shared<QNCopyTaskItem>(config, config, file, copied));
        EXPECT_FALSE(copy.error) << (copy.error ? copy.error->localizedDescription().toStdString() : "");
        auto down = VNTest::runItem(std::make_shared<QNCopyTask>(),
                                    std::make_shared<QNCopyTaskItem>(config, localDrive, file, QNDocument::withPath(local->path(), true)));
        EXPECT_FALSE(down.error) << (down.error ? down.error->localizedDescription().toStdString() : "");
        EXPECT_EQ(VNTest::readFile(local->path() + "/" + name), name.toUtf8());
        auto move = VNTest::runItem(std::make_shared<QNMoveTask>(), std::make_shared<QNMoveTaskItem>(config, config, file, moved));
        EXPECT_FALSE(move.error) << (move.error ? move.error->localizedDescription().toStdString() : "");
        const QJsonObject tree = serviceTree();
        EXPECT_EQ(tree.value("/blanks copied/" + name).toInt(), name.size());
        EXPECT_EQ(tree.value("/blanks moved/" + name).toInt(), name.size());
        EXPECT_FALSE(tree.contains("/blanks/" + name));
    }
    EXPECT_EQ(list(moved)->documents.size(), 3);
}

// A rename's name check lists the item's folder: on a drive that knows
// folders by reference that is the folder the pane gives, with its
// reference. Without it the check has only a path, which the service
// cannot list, and the rename in a subfolder fails before anything is sent.
TEST_F(SugarSync, ARenamesNameCheckListsTheFolderByItsReference) {
    auto made = VNTest::answerOf([&](AnswerPtr a) { handler()->createFolder("renames", top("Sync Folder"), documentAnswer(a)); });
    ASSERT_FALSE(made->error) << made->text();
    made->document->setIsDirectory(true);
    const QString folderRef = QUrl(made->document->id()).path();
    auto local = VNTest::makeTempDir();
    VNTest::writeFile(local->path() + "/old.txt", "old");
    ASSERT_FALSE(VNTest::answerOf([&](AnswerPtr a) {
                     handler()->upload(QNDocument::withPath(local->path() + "/old.txt"), made->document, nullptr,
                                       documentAnswer(a));
                 })->error);
    struct Case {
        bool paneFolder;
        const char *newName;  // null: the rename fails
    };
    VNOperationQueue queue;
    for (const Case &c : {Case{true, "new.txt"}, Case{false, nullptr}}) {
        SCOPED_TRACE(c.paneFolder ? "the pane's folder" : "no folder");
        const QNDocumentPtr file = list(made->document)->documents.value(0);
        ASSERT_TRUE(file);
        const QJsonObject before = counts();
        auto answer = std::make_shared<Answer>();
        auto rename = std::make_shared<QNRenameOperation>(
            config, file, QNDocument::withPath("/Sync Folder/renames/" + QString(c.newName ? c.newName : "other.txt")),
            VNTest::documentAnswer(answer));
        if (c.paneFolder)
            rename->setFolder(made->document);
        queue.addOperation(rename);
        ASSERT_TRUE(VNTest::waitForAnswer(answer));
        EXPECT_EQ(bool(answer->error), !c.newName) << answer->text();
        EXPECT_EQ(requestsSince(before, "GET " + folderRef + "/contents"), c.paneFolder ? 1 : 0);
        EXPECT_EQ(requestsSince(before, "PUT "), c.paneFolder ? 1 : 0);
        const QString shown = list(made->document)->documents.value(0)->displayName();
        EXPECT_EQ(shown, c.newName ? c.newName : file->displayName());
    }
}

TEST(SugarSyncBodies, TextIsEscapedAndContentsNeedTheirRoot) {
    EXPECT_EQ(QNSugarSyncHandler::xmlBody("file", {{"displayName", "a<b>&\"c\""}}),
              QByteArray("<?xml version=\"1.0\"?>\n<file><displayName>a&lt;b&gt;&amp;&quot;c&quot;</displayName></file>\n"));
    bool more = true;
    qint64 end = 0;
    VNErrorPtr error;
    EXPECT_FALSE(QNSugarSyncHandler::parseContents("<html/>", "/", &more, &end, &error));
    EXPECT_TRUE(error);
    error.reset();
    const auto page = QNSugarSyncHandler::parseContents(
        "<collectionContents hasMore=\"false\" end=\"1\"><file><displayName>f</displayName><ref>r1</ref></file>"
        "<collection><displayName>d</displayName><ref>r2</ref></collection></collectionContents>",
        "/x", &more, &end, &error);
    ASSERT_TRUE(page);
    EXPECT_FALSE(more);
    ASSERT_EQ(page->size(), 2);
    EXPECT_EQ(page->at(0)->path(), "/x/d");  // folders first
    EXPECT_TRUE(page->at(0)->isDirectory());
    EXPECT_EQ(page->at(1)->id(), "r1");
}

// An upload onto a name the folder holds replaces that file's bytes; one
// that fails leaves the folder as it was: no twin, no empty new entry.
TEST_F(SugarSync, UploadReplacesAnExistingFileAndAFailedOneLeavesNoEntry) {
    auto folder = VNTest::answerOf([&](AnswerPtr a) { handler()->createFolder("twins", top("Sync Folder"), documentAnswer(a)); });
    ASSERT_FALSE(folder->error) << folder->text();
    auto local = VNTest::makeTempDir();
    auto upload = [&](const QString &name, const QByteArray &data) {
        VNTest::writeFile(local->path() + "/" + name, data);
        return VNTest::answerOf([&](AnswerPtr a) {
            handler()->upload(QNDocument::withPath(local->path() + "/" + name), folder->document, nullptr,
                              documentAnswer(a));
        });
    };
    auto entries = [&] {
        QStringList shown;
        const auto listing = list(folder->document);
        for (const auto &d : listing->documents)
            shown << QStringLiteral("%1 %2").arg(d->displayName()).arg(d->size());
        return shown;
    };
    ASSERT_FALSE(upload("a.bin", "first")->error);
    ASSERT_FALSE(upload("a.bin", "second")->error);
    EXPECT_EQ(entries(), QStringList{"a.bin 6"});
    EXPECT_TRUE(upload("a.bin", "REFUSE these bytes")->error);
    EXPECT_TRUE(upload("new.bin", "REFUSE these bytes")->error);
    EXPECT_EQ(entries(), QStringList{"a.bin 6"});
}

}  // namespace
