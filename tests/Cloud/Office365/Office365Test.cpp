// The Office 365 drive against its HTTPS fake (tests/peers/office365_fake.py):
// the sign-in chain and its cache, the library as a WebDAV drive, and a copy
// task there and back.
#include "Core/QNMyDocumentsHandler.h"
#include "Cloud/QNOffice365Handler.h"
#include "Cloud/QNOffice365SignIn.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "Net/NRHTTPRequest.h"
#include "support/HandlerAnswer.h"
#include "support/HeldRename.h"
#include "support/TaskRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>

namespace {

namespace SignIn = QNOffice365SignIn;

QJsonObject peer() {
    static const QJsonObject s = VNTest::peerState(QStringLiteral("office365"));
    return s;
}

QJsonObject counts() {
    VNTest::spin(50);
    return QJsonDocument::fromJson(VNTest::readFile(peer().value("counts_file").toString())).object();
}

const QStringList kSignInPaths = {"/GetUserRealm.srf", "/adfs/services/trust/2005/usernamemixed", "/rst2.srf",
                                  "/odc/servicemanager/userconnected", "/_vti_bin/idcrl.svc/"};

int signInRequestsSince(const QJsonObject &before) {
    const QJsonObject now = counts();
    int total = 0;
    for (const QString &path : kSignInPaths)
        total += now.value(path).toInt() - before.value(path).toInt();
    return total;
}

QNDriveConfigPtr drive(const QString &kind, const QString &password = QString()) {
    const QJsonArray user = peer().value("users").toObject().value(kind).toArray();
    auto config = QNDriveConfig::create();
    config->setIsOffice365(true);
    config->setDisplayName("Office 365");
    config->setUrl("https://contoso-my.sharepoint.com/");
    config->setUsername(user.at(0).toString());
    config->setPassword(password.isNull() ? user.at(1).toString() : password);
    config->setValidateCertificates(true);
    return config;
}

std::shared_ptr<QNOffice365Handler> handlerFor(const QNDriveConfigPtr &config) {
    return std::dynamic_pointer_cast<QNOffice365Handler>(config->createCloudInterface());
}

QString library(const QString &kind) {
    QString user = peer().value("users").toObject().value(kind).toArray().at(0).toString();
    user.replace('@', '_').replace('.', '_');
    return peer().value("sites").toString() + '/' + user + "/Documents";
}

using Result = VNTest::HandlerAnswer;

std::shared_ptr<Result> login(const QNDriveConfigPtr &config) {
    return VNTest::answerOf([&](VNTest::HandlerAnswerPtr a) { handlerFor(config)->login(VNTest::loginAnswer(a)); }, 30000);
}

std::shared_ptr<Result> list(const QNDriveConfigPtr &config, const QString &path) {
    return VNTest::answerOf(
        [&](VNTest::HandlerAnswerPtr a) {
            handlerFor(config)->listDocuments(QNDocument::withPath(path, true), QString(), VNTest::listAnswer(a));
        },
        30000);
}

// A POST to one of the fake's own control paths.
void postToFake(const QString &path, const QByteArray &body) {
    auto request = NRHTTPRequest::requestWithURL(
        QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(peer().value("port").toInt()).arg(path)));
    request->appendPostData(body);
    auto answered = std::make_shared<std::atomic<bool>>(false);
    request->setCompletionBlock([answered] { answered->store(true); });
    request->setFailedBlock([answered] { answered->store(true); });
    request->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([answered] { return answered->load(); }));
}

// The fake's request log, one JSON object a line.
QList<QJsonObject> requestLog() {
    QList<QJsonObject> entries;
    for (const QByteArray &line : VNTest::readFile(peer().value("requests_file").toString()).split('\n'))
        if (!line.isEmpty())
            entries << QJsonDocument::fromJson(line).object();
    return entries;
}

// Every entry below a folder on the library's disk, hidden ones too, by
// relative path (folders end in "/"), sorted.
QStringList treeOnDisk(const QString &root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        out << QDir(root).relativeFilePath(it.filePath()) + (it.fileInfo().isDir() ? "/" : "");
    }
    out.sort();
    return out;
}

QStringList names(const QNDocumentList &documents) {
    QStringList out;
    for (const auto &d : documents)
        out << d->displayName();
    out.sort();
    return out;
}

class Office365 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(peer().isEmpty()) << "the office365 peer is not running";
        NRHTTPRequest::setTestCertificateAuthorityFile(peer().value("ca_file").toString());
        QNServiceEndpoints::setOverrideForTesting(peer().value("host").toString(), peer().value("port").toInt());
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNOffice365Handler::registerWithFactory();
        SignIn::clearForTesting();
        SignIn::setClockForTesting(nullptr);
    }
    void TearDown() override { SignIn::setClockForTesting(nullptr); }
};

TEST_F(Office365, ManagedSignInTakesFourRequestsThenTheCacheNone) {
    auto config = drive("managed");  // its password holds "]]>", "<" and "&"
    const QJsonObject before = counts();
    auto result = login(config);
    ASSERT_TRUE(result->success) << result->text();
    EXPECT_EQ(signInRequestsSince(before), 4);
    EXPECT_EQ(config->description(), "SHOW DOCUMENTS ON THIS OFFICE 365 SKYDRIVE PRO ACCOUNT");
    EXPECT_EQ(config->url(), "https://contoso-my.sharepoint.com/");

    const QJsonObject cached = counts();
    auto listing = list(config, "/");
    ASSERT_FALSE(listing->error) << listing->text();
    EXPECT_EQ(signInRequestsSince(cached), 0);
}

TEST_F(Office365, FederatedSignInTakesFiveRequests) {
    const QJsonObject before = counts();
    auto result = login(drive("federated"));
    ASSERT_TRUE(result->success) << result->text();
    EXPECT_EQ(signInRequestsSince(before), 5);
}

TEST_F(Office365, WrongPasswordsFailWithTheServiceFault) {
    for (const char *kind : {"managed", "federated"}) {
        auto result = login(drive(kind, "wrong"));
        EXPECT_FALSE(result->success);
        ASSERT_TRUE(result->error) << kind;
        EXPECT_EQ(result->error->domain(), "QNOffice365Handler");
        EXPECT_TRUE(result->error->localizedDescription().startsWith("Authentication Failure - The "))
            << result->error->localizedDescription().toStdString();
        EXPECT_TRUE(result->error->localizedDescription().endsWith("(0x80048821)"));
    }
    // An operation meets the failed sign-in as the hook's own error.
    auto listing = list(drive("managed", "wrong"), "/");
    ASSERT_TRUE(listing->error);
    EXPECT_EQ(listing->error->localizedDescription(), "Authentication did not create cookie");
}

TEST_F(Office365, CachedSignInHoldsUntilItsExpiryAndNoLonger) {
    const QDateTime start(QDate(2030, 1, 1), QTime(12, 0), QTimeZone::utc());
    QDateTime now = start;
    SignIn::setClockForTesting([&now] { return now; });
    auto config = drive("managed");
    ASSERT_TRUE(login(config)->success);
    now = start.addSecs(3600);
    QJsonObject before = counts();
    ASSERT_FALSE(list(config, "/")->error);
    EXPECT_EQ(signInRequestsSince(before), 0);
    now = start.addSecs(3601);
    before = counts();
    ASSERT_FALSE(list(config, "/")->error);
    EXPECT_EQ(signInRequestsSince(before), 4);
}

// The drive form's login tests the password typed, even within the hour a
// sign-in of the same user and site is cached: a wrong one fails (and the
// form keeps the drive as it was); a right one signs in anew.
TEST_F(Office365, ALoginFromTheDriveFormSignsInAfreshWhateverTheCacheHolds) {
    for (const char *kind : {"managed", "federated"}) {
        SCOPED_TRACE(kind);
        SignIn::clearForTesting();
        ASSERT_TRUE(login(drive(kind))->success);
        QJsonObject before = counts();
        auto wrong = login(drive(kind, "changed and wrong"));
        EXPECT_FALSE(wrong->success);
        ASSERT_TRUE(wrong->error);
        EXPECT_TRUE(wrong->error->localizedDescription().endsWith("(0x80048821)"))
            << wrong->error->localizedDescription().toStdString();
        EXPECT_GT(signInRequestsSince(before), 0);

        before = counts();
        EXPECT_TRUE(login(drive(kind))->success);
        EXPECT_EQ(signInRequestsSince(before), QString(kind) == "managed" ? 4 : 5);
    }
}

TEST_F(Office365, SiteWithoutConnectionUrlIsNamedAfterTheUser) {
    const QString root = library("nourl");
    VNTest::writeFile(root + "/hello.txt", "hi");
    auto listing = list(drive("nourl"), "/");
    ASSERT_FALSE(listing->error) << listing->text();
    EXPECT_TRUE(names(listing->documents).contains("hello.txt"));
}

TEST_F(Office365, FormsIsHiddenAtTheLibraryRootOnly) {
    const QString root = library("managed");
    QDir(root + "/forms-test").removeRecursively();
    QDir().mkpath(root + "/forms-test/Forms");
    auto top = list(drive("managed"), "/");
    ASSERT_FALSE(top->error);
    EXPECT_FALSE(names(top->documents).contains("Forms"));
    EXPECT_TRUE(names(top->documents).contains("forms-test"));
    auto deeper = list(drive("managed"), "/forms-test");
    ASSERT_FALSE(deeper->error);
    EXPECT_EQ(names(deeper->documents), QStringList{"Forms"});
}

TEST_F(Office365, RefusedCookieIsDroppedAndSignedInAgainOnce) {
    auto config = drive("managed");
    ASSERT_TRUE(login(config)->success);
    postToFake("/_revoke", "x");
    const QJsonObject before = counts();
    auto listing = list(config, "/");
    ASSERT_FALSE(listing->error) << listing->text();
    EXPECT_EQ(signInRequestsSince(before), 4);
}

// The SharePoint token and the site's cookie go only to the host that issued
// the cookie, over HTTPS: a user-connected answer naming a site elsewhere (or
// a host in the clear) stops the sign-in before either is sent there.
TEST_F(Office365, TokenAndCookieStayWithTheHostThatIssuedThem) {
    const int port = peer().value("port").toInt();
    const QString site = QStringLiteral("/personal/elsewhere_contoso_test/");
    const QString here = QStringLiteral("https://127.0.0.1:%1").arg(port);
    struct Row {
        const char *name;
        QString host;     // the answer's ConnectionHostUrl
        QString origin;   // the origin of its ConnectionUrl
        QString message;  // the sign-in's error; empty when it passes
    };
    const QString otherSite = QStringLiteral("Refused the personal site %1: it is not on the SharePoint host %2");
    const QList<Row> rows = {
        {"same origin", here + "/", here, QString()},
        {"site scheme differs", here + "/", QStringLiteral("http://127.0.0.1:%1").arg(port),
         otherSite.arg(QStringLiteral("http://127.0.0.1:%1").arg(port) + site, here + "/")},
        {"site host differs", here + "/", QStringLiteral("https://localhost:%1").arg(port),
         otherSite.arg(QStringLiteral("https://localhost:%1").arg(port) + site, here + "/")},
        {"site port differs", here + "/", QStringLiteral("https://127.0.0.1:%1").arg(peer().value("second_port").toInt()),
         otherSite.arg(QStringLiteral("https://127.0.0.1:%1").arg(peer().value("second_port").toInt()) + site,
                       here + "/")},
        {"host not https", QStringLiteral("http://127.0.0.1:%1/").arg(port), QStringLiteral("http://127.0.0.1:%1").arg(port),
         QStringLiteral("Refused the SharePoint host http://127.0.0.1:%1/: it is not an HTTPS address").arg(port)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SignIn::clearForTesting();
        postToFake("/_connection", QJsonDocument(QJsonObject{{"host", row.host}, {"site", row.origin + site}})
                                       .toJson(QJsonDocument::Compact));
        const qsizetype logged = requestLog().size();
        auto config = drive("elsewhere");
        auto listing = list(config, "/");
        auto signIn = login(config);
        const QList<QJsonObject> sent = requestLog().mid(logged);
        const auto carriesCredential = [&](const QString &origin) {
            return std::any_of(sent.begin(), sent.end(), [&](const QJsonObject &r) {
                return r.value("origin").toString() == origin &&
                       (!r.value("cookie").toString().isEmpty() || r.value("authorization").toBool());
            });
        };
        if (row.message.isEmpty()) {
            ASSERT_FALSE(listing->error) << listing->text();
            EXPECT_TRUE(signIn->success) << signIn->text();
            EXPECT_TRUE(carriesCredential(row.origin));  // the log sees the cookie where it belongs
            continue;
        }
        EXPECT_TRUE(listing->error);
        EXPECT_FALSE(carriesCredential(row.origin));
        EXPECT_FALSE(signIn->success);
        EXPECT_EQ(signIn->error ? signIn->error->domain() : QString(), "QNOffice365Handler");
        EXPECT_EQ(signIn->error ? signIn->error->localizedDescription() : QString(), row.message);
    }
}

TEST_F(Office365, FolderTreeToTheLibraryAndBackIsByteIdentical) {
    auto local = VNTest::makeTempDir();
    const QString source = local->path() + "/tree";
    QByteArray big(1024 * 1024 + 7, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 31 >> 2);
    VNTest::writeFile(source + "/a.txt", "a");
    VNTest::writeFile(source + "/sub/big.bin", big);
    VNTest::writeFile(source + "/sub/deeper/c.txt", "c");
    QDir(library("managed") + "/tree").removeRecursively();
    auto office = drive("managed");
    auto localDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
    auto copy = [](const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, const QString &what, const QString &into) {
        return VNTest::runItem(std::make_shared<QNCopyTask>(),
                               std::make_shared<QNCopyTaskItem>(from, to, QNDocument::withPath(what, true),
                                                                QNDocument::withPath(into, true)))
            .error;
    };
    VNErrorPtr up = copy(localDrive, office, source, "/");
    ASSERT_FALSE(up) << up->localizedDescription().toStdString();
    EXPECT_TRUE(VNTest::readFile(library("managed") + "/tree/sub/big.bin") == big);
    const QString back = local->path() + "/back";
    QDir().mkpath(back);
    VNErrorPtr down = copy(office, localDrive, "/tree", back);
    ASSERT_FALSE(down) << down->localizedDescription().toStdString();
    EXPECT_EQ(VNTest::readFile(back + "/tree/a.txt"), "a");
    EXPECT_TRUE(VNTest::readFile(back + "/tree/sub/big.bin") == big);
    EXPECT_EQ(VNTest::readFile(back + "/tree/sub/deeper/c.txt"), "c");
}

// Renames, copies and moves inside the library, and an upload named once
// it is whole, each on a handler of its own: the library carries each out
// where it was aimed, in its own site. An upload is named where the sign-in
// of its naming points the drive: its sign-in expired while the file went
// up, and the site answers from another address now (the same library).
// Judged on the library's disk.
TEST_F(Office365, RenamesCopiesAndMovesInsideTheLibraryLandWhereAimed) {
    enum class Op { Rename, Copy, Move, UploadUnderTemporaryName };
    struct Row {
        const char *name;
        Op op;
        const char *item;    // in the row's folder (the upload: a local file of that name)
        const char *target;  // the new name, or the folder of the row's folder copied, moved or uploaded into
        QStringList after;   // the row's folder afterwards
        const char *user = "managed";
        bool siteMovesWhileItGoesUp = false;
    };
    const QStringList before = {"a.txt", "dir/", "dir/inner.txt", "into/"};
    const Row rows[] = {
        {"rename a file", Op::Rename, "a.txt", "b.txt", {"b.txt", "dir/", "dir/inner.txt", "into/"}},
        {"rename a folder", Op::Rename, "dir", "renamed", {"a.txt", "into/", "renamed/", "renamed/inner.txt"}},
        {"copy a file into a folder", Op::Copy, "a.txt", "into", before + QStringList{"into/a.txt"}},
        {"move a folder into a folder", Op::Move, "dir", "into", {"a.txt", "into/", "into/dir/", "into/dir/inner.txt"}},
        {"upload under a temporary name", Op::UploadUnderTemporaryName, "up.txt", "", before + QStringList{"up.txt"}},
        {"upload under a temporary name, the site moved while it goes up", Op::UploadUnderTemporaryName, "up.txt", "",
         before + QStringList{"up.txt"}, "elsewhere", true},
    };
    const int port = peer().value("port").toInt();
    auto siteAt = [](int port) {
        const QString origin = QStringLiteral("https://127.0.0.1:%1").arg(port);
        return QJsonDocument(QJsonObject{{"host", origin + "/"}, {"site", origin + "/personal/elsewhere_contoso_test/"}})
            .toJson(QJsonDocument::Compact);
    };
    const QDateTime start(QDate(2030, 1, 1), QTime(12, 0), QTimeZone::utc());
    QDateTime now = start;
    SignIn::setClockForTesting([&now] { return now; });
    auto local = VNTest::makeTempDir();
    const QString stamp = QString::number(QDateTime::currentMSecsSinceEpoch());
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString folder = QStringLiteral("/inside-%1-%2").arg(stamp).arg(n++);
        const QString onDisk = library(row.user) + folder;
        const bool laidOut = VNTest::writeFile(onDisk + "/a.txt", "a") &&
                             VNTest::writeFile(onDisk + "/dir/inner.txt", "inner") && QDir().mkpath(onDisk + "/into") &&
                             VNTest::writeFile(local->path() + "/up.txt", "up");
        EXPECT_TRUE(laidOut) << row.name << ": the row's files could not be written";
        if (!laidOut)
            continue;
        const bool isFolder = QString(row.item) == "dir";
        auto item = QNDocument::withPath(folder + '/' + row.item, isFolder);
        auto target = QNDocument::withPath(folder + (*row.target ? QString('/') + row.target : QString()), true);
        if (row.siteMovesWhileItGoesUp) {
            // Signed in at the site's first address, which its next sign-in no longer gives.
            postToFake("/_connection", siteAt(port));
            ASSERT_FALSE(list(drive(row.user), "/")->error);
            postToFake("/_connection", siteAt(peer().value("second_port").toInt()));
        }
        auto office = handlerFor(drive(row.user));
        const QNProgressCallback goingUp = [&](double) {
            if (row.siteMovesWhileItGoesUp)
                now = start.addSecs(7200);
        };
        auto answer = VNTest::answerOf([&](VNTest::HandlerAnswerPtr a) {
            switch (row.op) {
                case Op::Rename:
                    office->rename(item, QNDocument::withPath(target->path(), isFolder), VNTest::documentAnswer(a));
                    break;
                case Op::Copy:
                    office->localCopy(item, target, VNTest::documentAnswer(a));
                    break;
                case Op::Move:
                    office->localMove(item, target, VNTest::documentAnswer(a));
                    break;
                case Op::UploadUnderTemporaryName:
                    office->uploadUnderTemporaryName(QNDocument::withPath(local->path() + '/' + row.item), target,
                                                     goingUp, VNTest::documentAnswer(a));
                    break;
            }
        });
        EXPECT_FALSE(answer->error) << row.name << ": " << answer->text();
        EXPECT_EQ(treeOnDisk(onDisk).join(", ").toStdString(), row.after.join(", ").toStdString()) << row.name;
    }
    SignIn::setClockForTesting(nullptr);
}

// A save-back to the library runs to its end: the document renamed to its
// dated backup, the edited copy uploaded under the document's name, the
// backup removed. Judged on the library's disk.
TEST_F(Office365, ASaveBackReplacesTheDocumentAndRemovesItsBackup) {
    const QString folder = "/saveback-" + QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString onDisk = library("managed") + folder;
    ASSERT_TRUE(VNTest::writeFile(onDisk + "/edit.txt", "the version in the library\n"));
    auto local = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(local->path() + "/edit.txt", "the change, a little longer\n"));
    auto item = std::make_shared<QNUpdateFileTaskItem>(drive("managed"),
                                                       QNDocument::withPath(local->path() + "/edit.txt"),
                                                       QNDocument::withPath(folder + "/edit.txt"),
                                                       QNDocument::withPath(folder, true));
    const VNTest::ItemRun run = VNTest::runItem(std::make_shared<QNUpdateFileTask>(), item);
    EXPECT_TRUE(run.completed);
    EXPECT_FALSE(run.error) << (run.error ? run.error->localizedDescription().toStdString() : "");
    EXPECT_FALSE(run.cancelled);
    EXPECT_EQ(treeOnDisk(onDisk), QStringList{"edit.txt"});
    EXPECT_EQ(VNTest::readFile(onDisk + "/edit.txt"), QByteArray("the change, a little longer\n"));
}

// A save-back cancelled while the library is slow to take its rename (the
// MOVE held on its way): the MOVE runs to the library's answer, and the
// save-back acts only then, giving the backup its name back. Cut off, the
// library would rename afterwards, the document staying only under its
// backup name. Judged on the library's disk.
TEST_F(Office365, ASaveBackCancelledWhileTheLibraryHoldsItsRenameEndsWithTheDocumentUnderItsName) {
    const QString folder = "/held-" + QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString onDisk = library("managed") + folder;
    QDir(onDisk).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(onDisk));
    ASSERT_TRUE(VNTest::writeFile(onDisk + "/edit.txt", "the version in the library\n"));
    auto local = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(local->path() + "/edit.txt", "the change\n"));
    auto office = drive("managed");
    ASSERT_TRUE(login(office)->success);  // signed in: the MOVE is the one request held
    const auto control = VNTest::fakeControlAt(QStringLiteral("https://127.0.0.1:%1").arg(peer().value("port").toInt()));
    control("hold", {{"method", "MOVE"}});

    auto task = std::make_shared<QNUpdateFileTask>();
    auto item = std::make_shared<QNUpdateFileTaskItem>(office, QNDocument::withPath(local->path() + "/edit.txt"),
                                                       QNDocument::withPath(folder + "/edit.txt"),
                                                       QNDocument::withPath(folder, true));
    item->setClock([] { return QDateTime(QDate(2030, 1, 1), QTime(12, 0)); });
    const qsizetype logged = requestLog().size();
    auto report = std::make_shared<VNTest::ItemRun>();
    item->registerListenerForTaskItemCompletedBlock("test", [report](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
        ++report->reports;
        report->error = error;
        report->cancelled = cancelled;
    });
    task->addTaskItem(item);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    task->registerListenerForTaskCompletedBlock("test", [ended] { ended->store(true); });
    auto manager = std::make_shared<QNTaskManager>();
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([&] { return control("held", {}).value("held").toBool(); }, 30000));
    task->cancel();
    // A handler that heeds the cancel closes its connection at once.
    EXPECT_FALSE(VNTest::waitUntil([&] { return control("held", {}).value("gave_up").toBool(); }, 1000))
        << "the rename was given up before the library had answered it";
    control("release", {});
    EXPECT_TRUE(VNTest::waitUntil([&] { return control("held", {}).value("done").toBool(); }, 10000));
    EXPECT_TRUE(VNTest::waitUntil([ended] { return ended->load(); }, 60000));
    EXPECT_TRUE(VNTest::waitUntil([item] { return item->finished(); }, 5000));

    EXPECT_EQ(report->reports, 1);
    EXPECT_FALSE(report->error) << (report->error ? report->error->localizedDescription().toStdString() : "");
    EXPECT_TRUE(report->cancelled);
    EXPECT_EQ(QDir(onDisk).entryList(QDir::Files | QDir::Hidden), QStringList{"edit.txt"});
    EXPECT_EQ(VNTest::readFile(onDisk + "/edit.txt"), QByteArray("the version in the library\n"));
    // The held rename was aimed into the library, carried out, and then undone.
    const QString inLibrary = "/personal/managed_contoso_test/Documents" + folder;
    const QString site = QStringLiteral("https://127.0.0.1:%1").arg(peer().value("port").toInt());
    const QList<QJsonObject> sent = requestLog().mid(logged);
    const auto moved = [&sent](const QString &from, const QString &to) {
        return std::any_of(sent.begin(), sent.end(), [&](const QJsonObject &r) {
            return r.value("method").toString() == "MOVE" && r.value("path").toString() == from &&
                   r.value("destination").toString() == to;
        });
    };
    const QString backup = inLibrary + "/edit-QN-2030-01-01_12-00-00.txt";
    EXPECT_TRUE(moved(inLibrary + "/edit.txt", site + backup)) << "the rename was aimed elsewhere";
    EXPECT_TRUE(moved(backup, site + inLibrary + "/edit.txt")) << "the library never renamed the document";
}

TEST_F(Office365, CancelDuringSignInReportsCancelled) {
    auto office = handlerFor(drive("managed"));
    auto result = std::make_shared<Result>();
    office->listDocuments(QNDocument::withPath("/", true), QString(), VNTest::listAnswer(result));
    office->cancel();
    ASSERT_TRUE(VNTest::waitForAnswer(result));
    VNTest::spin(300);  // the sign-in's reply, had the cancel not stopped it, would answer a second time
    EXPECT_EQ(result->count, 1);
    EXPECT_TRUE(result->cancelled);
}

TEST(Office365Envelopes, CDATAValuesCannotEndTheirSection) {
    EXPECT_EQ(SignIn::cdata("a]]>b<c"), "<![CDATA[a]]]]><![CDATA[>b<c]]>");
    EXPECT_EQ(SignIn::faultMessage("S", QString(), QString()), "S - (null) ((null))");
}

}  // namespace
