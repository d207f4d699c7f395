// The photo-album drive against its fake: the OAuth 2 sign-in, one token
// refresh per operation, every operation, a big album read whole, a photo
// uploaded in two chunks, the token kept from other hosts, refused tokens
// and codes, unusable names, cancel, and a whole save-back.
#include "Core/QNMyDocumentsHandler.h"
#include "Cloud/QNGooglePhotosHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "DA/Photos/DAPhotoEntries.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNError.h"
#include "support/TestSupport.h"
#include "../WebDrives/WebDriveTestSupport.h"

#include <QCryptographicHash>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

using WebDriveTest::Answer;
using WebDriveTest::names;

const WebDriveTest::Fake kFake{"photos"};

QByteArray control(const QString &what, const QJsonObject &args = {}) { return kFake.control(what, args); }

using Log = QList<QJsonObject>;
Log requestLog() {
    Log log;
    for (const auto &v : QJsonDocument::fromJson(control("log")).array())
        log << v.toObject();
    return log;
}

QString field(const QJsonObject &entry, const QString &group, const QString &name) {
    return entry[group].toObject()[name].toString();
}

int countOf(const Log &log, const QString &method, const QString &prefix) {
    int n = 0;
    for (const auto &v : log)
        n += v["method"].toString() == method && v["path"].toString().startsWith(prefix);
    return n;
}

QString text(const VNErrorPtr &e) {
    if (!e)
        return {};
    const QString coded = e->userInfo().value("error").toString();
    return coded.isEmpty() ? e->localizedDescription() : coded;
}

class PhotoDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kFake.isRunning())
            FAIL() << "the photos peer did not start";
        kFake.trustItsCertificate();
        QNServiceHosts::setUrl("google.accounts", kFake.httpBase());
        QNServiceHosts::setUrl("google.photos", kFake.httpsBase());
        QNServiceHosts::setUrl("google.docs", kFake.httpsBase());
        control("reset");
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNGooglePhotosHandler::registerWithFactory();
        drive = QNDriveConfig::create();
        drive->setIsGooglePhotos(true);
        local = VNTest::makeTempDir();
    }

    // The sheet's part played by hand: the authorization page's redirect is read, not followed.
    Answer signIn(const QString &callbackOverride = QString()) {
        auto handler = std::make_shared<QNGooglePhotosHandler>(drive);
        Answer answer;
        bool ok = false;
        handler->oAuthLoginWithCompletedBlock([&](bool good, VNErrorPtr e, bool) {
            ++answer.count;
            answer.error = e;
            ok = good;
        });
        EXPECT_EQ(drive->description(), "SHOW DOCUMENTS ON THIS PICASA ACCOUNT");
        QString location;
        WebDriveTest::Fake::fetch(QNGooglePhotosHandler::authorizationURL().toString(), {}, &location);
        EXPECT_TRUE(location.startsWith("http://localhost?code=")) << location.toStdString();
        handler->processOAuthLogin(callbackOverride.isNull() ? location : callbackOverride);
        EXPECT_TRUE(VNTest::waitUntil([&] { return answer.count > 0; }));
        EXPECT_EQ(ok, !answer.error);
        return answer;
    }

    // One call, answered once and not as cancelled.
    template <typename Call>
    Answer run(Call call) {
        const Answer answer = WebDriveTest::run(drive, call);
        EXPECT_EQ(answer.count, 1);
        EXPECT_FALSE(answer.cancelled);
        return answer;
    }

    Answer list(const QNDocumentPtr &folder) {
        auto answer = std::make_shared<Answer>();
        drive->createCloudInterface()->listDocuments(folder, QString(), [answer](QNDocumentList d, QString, VNErrorPtr e, bool) {
            ++answer->count;
            answer->documents = d;
            answer->error = e;
        });
        EXPECT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }, 60000));
        return *answer;
    }

    QNDocumentPtr find(const QString &path) {
        const QString parent = path.section('/', 0, -2);
        QNDocumentPtr folder = parent.isEmpty() ? QNDocument::withPath("/", true) : find(parent);
        for (const auto &d : list(folder).documents)
            if (d->path() == path)
                return d;
        return nullptr;
    }

    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(PhotoDrive, SignInAsksOfflineForTheProfileAndTheDataAndTradesTheCode) {
    control("clear_log");
    ASSERT_FALSE(signIn().error);
    ASSERT_FALSE(drive->password().isEmpty());
    Log log = requestLog();
    ASSERT_EQ(log.size(), 2);  // the authorization page, then the code exchange
    EXPECT_EQ(field(log[0], "query", "scope"), QNServiceHosts::url("google.api") + "/auth/userinfo.profile " +
                                                   kFake.httpsBase() + "/data/");
    EXPECT_EQ(field(log[0], "query", "redirect_uri"), "http://localhost");
    EXPECT_EQ(field(log[0], "query", "access_type"), "offline");
    EXPECT_TRUE(log[1]["body"].toString().contains(
        QRegularExpression("^code=[^&]+&client_id=[^&]+&client_secret=[^&]+&redirect_uri=http%3A%2F%2Flocalhost&"
                           "grant_type=authorization_code$")))
        << log[1]["body"].toString().toStdString();
}

TEST_F(PhotoDrive, QuotaAndListingsTakeOneTokenRefreshEachAndReadEveryPage) {
    ASSERT_FALSE(signIn().error);
    auto tokenRequests = [] { return countOf(requestLog(), "POST", "/o/oauth2/token"); };
    control("clear_log");
    std::optional<VNErrorPtr> quotaError;
    drive->createCloudInterface()->quota(QNDocument::withPath("/", true), [&](VNErrorPtr e, bool) { quotaError = e; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return quotaError.has_value(); }));
    EXPECT_FALSE(*quotaError);
    EXPECT_EQ(drive->totalBytes(), 1LL << 30);
    EXPECT_GT(drive->usedBytes(), 70000);
    EXPECT_EQ(drive->availableBytes(), drive->totalBytes() - drive->usedBytes());
    EXPECT_EQ(tokenRequests(), 1);

    // The root lists the albums as folders; an album its photos with sizes and thumbnails.
    control("clear_log");
    Answer root = list(QNDocument::withPath("/", true));
    ASSERT_FALSE(root.error) << text(root.error).toStdString();
    EXPECT_EQ(names(root.documents), (QStringList{"Big/", "Empty/", "Holiday/"}));
    const Log log = requestLog();
    EXPECT_EQ(countOf(log, "POST", "/o/oauth2/token"), 1);
    EXPECT_EQ(field(log.last(), "query", "max-results"), "1000");
    EXPECT_TRUE(field(log.last(), "headers", "Authorization").startsWith("Bearer access-"));
    EXPECT_EQ(field(log.last(), "headers", "GData-Version"), "2.0");

    QNDocumentPtr holiday = find("/Holiday");
    ASSERT_TRUE(holiday);
    Answer photos = list(holiday);
    ASSERT_FALSE(photos.error) << text(photos.error).toStdString();
    ASSERT_EQ(names(photos.documents), (QStringList{"beach.jpg", "sunset.png"}));
    const QNDocumentPtr beach = photos.documents[0]->displayName() == "beach.jpg" ? photos.documents[0] : photos.documents[1];
    EXPECT_EQ(beach->path(), "/Holiday/beach.jpg");
    EXPECT_EQ(beach->size(), 7000);
    EXPECT_TRUE(beach->thumbnailURL().toString().endsWith("?s=144"));
    EXPECT_EQ(beach->date(), QDateTime::fromString("2026-03-04T05:06:07.000Z", Qt::ISODateWithMs));
    EXPECT_EQ(beach->type(), "photo");

    // More than 1,000 photos: every page is read.
    control("clear_log");
    Answer big = list(find("/Big"));
    ASSERT_FALSE(big.error);
    EXPECT_EQ(big.documents.size(), 1234);
    EXPECT_EQ(big.documents.last()->displayName(), "img1233.jpg");
}

TEST_F(PhotoDrive, ADownloadIsByteExactAndTheMediaHostGetsNoToken) {
    ASSERT_FALSE(signIn().error);
    const QNDocumentPtr beach = find("/Holiday/beach.jpg");
    ASSERT_TRUE(beach);
    const QString back = local->path() + "/beach.jpg";
    control("clear_log");
    Answer a = run([&](auto h, auto cb) { h->download(beach, QNDocument::withPath(back), {}, cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    EXPECT_EQ(a.document->path(), back);
    EXPECT_EQ(VNTest::readFile(back), QByteArray("\xff\xd8" "beach").repeated(1000));
    const Log log = requestLog();
    EXPECT_EQ(countOf(log, "POST", "/o/oauth2/token"), 1);
    ASSERT_EQ(countOf(log, "GET", "/media/"), 1);
    for (const auto &v : log)
        if (v["path"].toString().startsWith("/media/")) {
            EXPECT_FALSE(v["headers"].toObject().contains("Authorization"));
        } else if (v["path"].toString().startsWith("/data/entry")) {
            EXPECT_EQ(field(v, "query", "imgmax"), "d");
        }
}

// Progress runs against the announced length, or without one against the
// photo's listed size; either way it ends whole.
TEST_F(PhotoDrive, DownloadProgressWithAndWithoutAnAnnouncedLength) {
    ASSERT_FALSE(signIn().error);
    control("entry", {{"album", "Holiday"}, {"title", "unsized.jpg"}, {"data", QString(50000, 'u')}});
    for (const char *name : {"beach.jpg", "unsized.jpg"}) {
        SCOPED_TRACE(name);
        const QNDocumentPtr photo = find(QStringLiteral("/Holiday/") + name);
        ASSERT_TRUE(photo);
        QList<double> reported;
        const QString back = local->path() + "/" + name;
        Answer a = run([&](auto h, auto cb) {
            h->download(photo, QNDocument::withPath(back), [&](double f) { reported << f; }, cb);
        });
        ASSERT_FALSE(a.error) << text(a.error).toStdString();
        EXPECT_EQ(QFileInfo(back).size(), photo->size());
        ASSERT_FALSE(reported.isEmpty());
        EXPECT_DOUBLE_EQ(reported.last(), 1.0);
        EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    }
}

// A download that fails leaves what was at its destination as it was: the
// fetcher writes only a temporary file of its own.
TEST_F(PhotoDrive, AFailedDownloadLeavesTheFileAtItsDestination) {
    ASSERT_FALSE(signIn().error);
    const QNDocumentPtr beach = find("/Holiday/beach.jpg");
    ASSERT_TRUE(beach);
    const QString destination = local->path() + "/beach.jpg";
    ASSERT_TRUE(VNTest::writeFile(destination, "the user's own beach.jpg"));
    control("fault", {{"prefix", "/media/"}, {"status", 500}});
    Answer a = run([&](auto h, auto cb) { h->download(beach, QNDocument::withPath(destination), {}, cb); });
    ASSERT_TRUE(a.error);
    EXPECT_EQ(countOf(requestLog(), "GET", "/media/"), 1);
    EXPECT_EQ(VNTest::readFile(destination), QByteArray("the user's own beach.jpg"));
    EXPECT_EQ(QDir(local->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"beach.jpg"});
}

TEST_F(PhotoDrive, UploadsGoIntoTheirAlbumOrTheDefaultOne) {
    ASSERT_FALSE(signIn().error);
    QNDocumentPtr holiday = find("/Holiday");
    ASSERT_TRUE(holiday);
    // Into an album, and into the root: the service's default album.
    const QString pic = local->path() + "/new pic.png";
    VNTest::writeFile(pic, QByteArray(5000, 'n'));
    control("clear_log");
    Answer a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(pic), holiday, {}, cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    // Answered with the new photo itself: its place, its id, its entry.
    ASSERT_TRUE(a.document) << "no document for the uploaded photo";
    EXPECT_EQ(a.document->path(), "/Holiday/new pic.png");
    EXPECT_FALSE(a.document->isDirectory());
    EXPECT_TRUE(QNGooglePhotosHandler::entryOf(a.document));
    const Log log = requestLog();
    QString listedId;
    for (const auto &d : list(holiday).documents)
        if (d->displayName() == "new pic.png")
            listedId = d->id();
    EXPECT_FALSE(listedId.isEmpty());
    EXPECT_EQ(a.document->id(), listedId);
    EXPECT_EQ(countOf(log, "POST", "/o/oauth2/token"), 1);
    const QString albumId = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(QNGooglePhotosHandler::entryOf(holiday))->GPhotoID();
    EXPECT_EQ(countOf(log, "POST", "/data/upload/resumable/media/create-session/feed/api/user/default/albumid/" + albumId), 1);
    EXPECT_EQ(countOf(log, "PUT", "/data/upload/session/"), 1);
    a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(pic), QNDocument::withPath("/", true), {}, cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    EXPECT_FALSE(a.document) << "the service's own album is not known by name";
    EXPECT_EQ(countOf(requestLog(), "POST", "/data/upload/resumable/media/create-session/feed/api/user/default/albumid/default"), 1);
    const QJsonObject tree = QJsonDocument::fromJson(control("tree")).object();
    EXPECT_EQ(tree["/Holiday/new pic.png"].toObject()["size"].toInt(), 5000);
    EXPECT_EQ(tree["/Holiday/new pic.png"].toObject()["summary"].toString(), "new pic.png");  // not the local path
    EXPECT_TRUE(tree.contains("/Drop Box/new pic.png"));
}

// Cut off on its way, a rename may still be carried out by the service:
// once sent, it runs to the service's answer.
TEST_F(PhotoDrive, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    ASSERT_FALSE(signIn().error);
    const QNDocumentPtr sunset = find("/Holiday/sunset.png");
    ASSERT_TRUE(sunset);
    const VNTest::HeldRename run = VNTest::cancelARenameHeldOnItsWay(
        drive, sunset, QNDocument::withPath("/Holiday/dusk.png"), {{"method", "PUT"}, {"prefix", "/data/entry/"}},
        [](const QString &what, const QJsonObject &args) { return QJsonDocument::fromJson(control(what, args)).object(); });
    VNTest::expectItRanToItsAnswer(run);
    EXPECT_EQ(names(list(find("/Holiday")).documents), (QStringList{"beach.jpg", "dusk.png"}));
}

TEST_F(PhotoDrive, AlbumsAreMadeRenamedAndRemovedAndAPhotoOnlyWithItsCurrentTag) {
    ASSERT_FALSE(signIn().error);
    Answer a = run([](auto h, auto cb) { h->createFolder("Trips", QNDocument::withPath("/", true), cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    QNDocumentPtr trips = find("/Trips");
    ASSERT_TRUE(trips);
    a = run([&](auto h, auto cb) { h->rename(trips, QNDocument::withPath("/Journeys"), cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    QNDocumentPtr sunset = find("/Holiday/sunset.png");
    a = run([&](auto h, auto cb) { h->rename(sunset, QNDocument::withPath("/Holiday/dusk.png"), cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    EXPECT_EQ(sunset->displayName(), "sunset.png");  // the document stays; its entry has the new title
    // The listed entry goes on with the server's new ETag.
    a = run([&](auto h, auto cb) { h->remove(sunset, cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    a = run([&](auto h, auto cb) { h->remove(find("/Empty"), cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    EXPECT_EQ(names(list(QNDocument::withPath("/", true)).documents),
              (QStringList{"Big/", "Holiday/", "Journeys/"}));
    EXPECT_EQ(names(list(find("/Holiday")).documents), QStringList{"beach.jpg"});
}

// A quota whose user feed fails hands on the fetch's error and leaves no
// counts from before.
TEST_F(PhotoDrive, AFailedQuotaReportsItsErrorWithTheCountsAtZero) {
    ASSERT_FALSE(signIn().error);
    drive->setTotalBytes(1000);
    drive->setUsedBytes(400);
    drive->setAvailableBytes(600);
    drive->setSharedBytes(5);
    control("fault", {{"prefix", "/data/feed/api/user/default"}, {"status", 500}});
    std::optional<VNErrorPtr> quotaError;
    bool cancelled = true;
    drive->createCloudInterface()->quota(QNDocument::withPath("/", true), [&](VNErrorPtr e, bool c) {
        quotaError = e;
        cancelled = c;
    });
    ASSERT_TRUE(VNTest::waitUntil([&] { return quotaError.has_value(); }));
    EXPECT_TRUE(*quotaError);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(drive->totalBytes(), 0);
    EXPECT_EQ(drive->usedBytes(), 0);
    EXPECT_EQ(drive->availableBytes(), 0);
    EXPECT_EQ(drive->sharedBytes(), 0);
}

// A parent whose entry names no feed cannot hold the new album: refused,
// and nothing made at the root in its place.
TEST_F(PhotoDrive, AnAlbumIsMadeOnlyInsideItsParentsFeed) {
    ASSERT_FALSE(signIn().error);
    auto entry = DAEntryPhotoAlbum::albumEntry();
    entry->setTitleWithString("Linkless");
    const QNDocumentPtr parent = QNGooglePhotosHandler::documentFromEntry(entry, "/");
    control("clear_log");
    Answer a = run([&](auto h, auto cb) { h->createFolder("Inner", parent, cb); });
    ASSERT_TRUE(a.error);
    EXPECT_EQ(a.error->code(), 42);
    EXPECT_FALSE(a.document);
    EXPECT_EQ(countOf(requestLog(), "POST", "/data/feed/"), 0);
    EXPECT_FALSE(names(list(QNDocument::withPath("/", true)).documents).contains("Inner/"));
}

TEST_F(PhotoDrive, BigPhotoGoesInTwoChunks) {
    ASSERT_FALSE(signIn().error);
    const QString path = local->path() + "/huge.jpg";
    QByteArray data(26216900, '\0');
    for (qsizetype i = 0; i < data.size(); i += 4096)
        data[i] = char(i / 4096);
    VNTest::writeFile(path, data);
    QNDocumentPtr holiday = find("/Holiday");
    control("clear_log");
    double last = 0;
    Answer a = run([&](auto h, auto cb) { h->upload(QNDocument::withPath(path), holiday, [&](double f) { last = f; }, cb); });
    ASSERT_FALSE(a.error) << text(a.error).toStdString();
    EXPECT_EQ(countOf(requestLog(), "PUT", "/data/upload/session/"), 2);
    EXPECT_DOUBLE_EQ(last, 1.0);
    const QJsonObject tree = QJsonDocument::fromJson(control("tree")).object();
    EXPECT_EQ(tree["/Holiday/huge.jpg"].toObject()["sha1"].toString(),
              QString(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex()));
}

TEST_F(PhotoDrive, RefusedCodesAndTokensGiveTheirErrors) {
    // A callback without a code, and a code the provider does not know.
    Answer login = signIn("http://localhost/?state=x");
    EXPECT_EQ(text(login.error), "OAuth login failed, no code");
    login = signIn("http://localhost/?code=bogus%2Fcode");
    EXPECT_EQ(text(login.error), "OAuth login failed, no refresh_token");
    EXPECT_TRUE(drive->password().isEmpty());
    ASSERT_GE(requestLog().size(), 1);
    EXPECT_TRUE(requestLog().last()["body"].toString().startsWith("code=bogus%2Fcode&"));

    struct Case {
        const char *password;
        QString expected;
    };
    for (const Case &c : {Case{"", "List documents failed, invalid_grant"},
                          Case{"revoked-token", "List documents failed, invalid_grant"}}) {
        drive->setPassword(c.password);
        Answer l = list(QNDocument::withPath("/", true));
        EXPECT_EQ(text(l.error), c.expected) << c.password;
        EXPECT_EQ(l.error->code(), 0);
        Answer a = run([](auto h, auto cb) { h->createFolder("X", QNDocument::withPath("/", true), cb); });
        EXPECT_EQ(text(a.error), "Create folder failed, no access_token");
    }

    // An unreadable file sends nothing after the token refresh.
    ASSERT_FALSE(signIn().error);
    control("clear_log");
    Answer a = run([&](auto h, auto cb) {
        h->upload(QNDocument::withPath(local->path() + "/missing.jpg"), QNDocument::withPath("/", true), {}, cb);
    });
    EXPECT_EQ(text(a.error), "Could not upload file");
    EXPECT_EQ(a.error->code(), 42);
    const Log log = requestLog();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0]["path"].toString(), "/o/oauth2/token");
}

TEST_F(PhotoDrive, UnusableNamesServerFaultsAndCancel) {
    ASSERT_FALSE(signIn().error);
    control("entry", {{"album", "Holiday"}, {"title", ".."}});
    control("entry", {{"album", "Holiday"}, {"title", "a/../../b"}});
    EXPECT_EQ(names(list(find("/Holiday")).documents), (QStringList{"beach.jpg", "sunset.png"}));

    control("fault", {{"prefix", "/data/feed/api/user/default"}, {"status", 500}});
    Answer l = list(QNDocument::withPath("/", true));
    EXPECT_EQ(text(l.error), "Could not query files");
    control("fault", {{"prefix", "/data/feed/api/user/default"}, {"drop_body", true}});
    l = list(QNDocument::withPath("/", true));
    EXPECT_EQ(text(l.error), "Could not query files");

    // Cancelled while the token is fetched: no answer at all, and the token request is stopped.
    int answers = 0;
    auto h = drive->createCloudInterface();
    h->listDocuments(QNDocument::withPath("/", true), {}, [&](QNDocumentList, QString, VNErrorPtr, bool) { ++answers; });
    h->cancel();
    VNTest::waitUntil([] { return false; }, 500);
    EXPECT_EQ(answers, 0);
}

TEST_F(PhotoDrive, PicturesThroughAnAlbumAndBackByTasks) {
    ASSERT_FALSE(signIn().error);
    const QString source = local->path() + "/Pictures";
    VNTest::writeFile(source + "/big.jpg", WebDriveTest::patternBytes(300 * 1024 + 7));
    VNTest::writeFile(source + "/small.png", "\x89PNG small");
    VNTest::writeFile(source + "/odd name 50%.gif", "GIF89a");
    const QNDriveConfigPtr localDrive = WebDriveTest::localDisk();
    VNErrorPtr error = WebDriveTest::runItem(
        std::make_shared<QNCopyTask>(), std::make_shared<QNCopyTaskItem>(localDrive, drive, QNDocument::withPath(source, true),
                                                                         QNDocument::withPath("/", true)));
    ASSERT_FALSE(error) << text(error).toStdString();
    const QString back = local->path() + "/back";
    QDir().mkpath(back);
    error = WebDriveTest::runItem(
        std::make_shared<QNCopyTask>(), std::make_shared<QNCopyTaskItem>(drive, localDrive, QNDocument::withPath("/Pictures", true),
                                                                         QNDocument::withPath(back, true)));
    ASSERT_FALSE(error) << text(error).toStdString();
    EXPECT_EQ(WebDriveTest::treeDifference(source, back + "/Pictures").toStdString(), "");
}

// A photo whose title the drive cannot show was never copied: a move of its
// album keeps the album with it without failing, only the copied photos go,
// and the task's end report names the album and why.
TEST_F(PhotoDrive, AMoveKeepsAnAlbumHoldingAPhotoTheDriveCannotShow) {
    ASSERT_FALSE(signIn().error);
    control("entry", {{"album", "Holiday"}, {"title", "a/../../b"}});
    auto localDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
    auto task = std::make_shared<QNMoveTask>();
    const VNErrorPtr error = WebDriveTest::runItem(
        task, std::make_shared<QNMoveTaskItem>(drive, localDrive, find("/Holiday"), QNDocument::withPath(local->path(), true)));
    EXPECT_FALSE(error) << text(error).toStdString();
    const QString report = task->leftOut().join('\n');
    EXPECT_TRUE(report.startsWith("An entry of \u201c/Holiday\u201d was not moved") && report.contains("cannot use"))
        << report.toStdString();
    const QJsonObject tree = QJsonDocument::fromJson(control("tree")).object();
    EXPECT_TRUE(tree.contains("/Holiday/a/../../b"));
    EXPECT_FALSE(tree.contains("/Holiday/beach.jpg"));
    EXPECT_TRUE(QFileInfo::exists(local->path() + "/Holiday/beach.jpg"));
}

// Saving an edited photo back: renamed to its backup, the new bytes uploaded
// under its name, the backup removed with the ETag the rename gave it.
TEST_F(PhotoDrive, SaveBackLeavesOnePhotoWithTheNewBytesAndNoBackup) {
    ASSERT_FALSE(signIn().error);
    const QNDocumentPtr holiday = find("/Holiday");
    const QNDocumentPtr sunset = find("/Holiday/sunset.png");
    ASSERT_TRUE(holiday && sunset);
    const QString edited = local->path() + "/sunset.png";
    const QByteArray bytes("\x89PNG edited sunset");
    VNTest::writeFile(edited, bytes);
    auto opened = QNDocument::withPath(edited);
    opened->setSize(bytes.size());
    const VNErrorPtr error = WebDriveTest::runItem(std::make_shared<QNUpdateFileTask>(),
                                                   std::make_shared<QNUpdateFileTaskItem>(drive, opened, sunset, holiday));
    EXPECT_FALSE(error) << text(error).toStdString();
    const QJsonObject tree = QJsonDocument::fromJson(control("tree")).object();
    QStringList inHoliday;
    for (const QString &path : tree.keys())
        if (path.startsWith("/Holiday/"))
            inHoliday << path;
    EXPECT_EQ(inHoliday, (QStringList{"/Holiday/beach.jpg", "/Holiday/sunset.png"}));
    EXPECT_EQ(tree["/Holiday/sunset.png"].toObject()["sha1"].toString(),
              QString(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex()));
}

// Two photos of one title in an album, the second saved back after a
// restart: its document rebuilt as the application restores it, path and
// id. The new bytes take the second's place; the first photo keeps its
// bytes, and no backup stays. A document of the same path without an id
// tells neither photo: the save-back fails and both stay as they were.
TEST_F(PhotoDrive, ASaveBackAfterARestartTouchesOnlyItsOwnPhotoOfATwinTitle) {
    const auto sha1 = [](const QByteArray &data) { return QString(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex()); };
    const QString first = "beach.jpg " + sha1(QByteArray("\xff\xd8" "beach").repeated(1000));
    const QString second = "beach.jpg " + sha1("the second beach");
    const QByteArray bytes("\xff\xd8 the edited second beach");
    const QString edited = "beach.jpg " + sha1(bytes);
    struct Case {
        bool withId;
        QStringList beaches;  // what the album then holds of that title
    };
    for (const Case &c : {Case{true, {first, edited}}, Case{false, {first, second}}}) {
        SCOPED_TRACE(c.withId ? "path and id" : "path alone");
        control("reset");
        ASSERT_FALSE(signIn().error);
        control("entry", {{"album", "Holiday"}, {"title", "beach.jpg"}, {"data", "the second beach"}});
        const QNDocumentPtr holiday = find("/Holiday");
        ASSERT_TRUE(holiday);
        QNDocumentPtr twin;
        for (const auto &d : list(holiday).documents)
            if (d->displayName() == "beach.jpg" && d->size() == 16)
                twin = d;
        ASSERT_TRUE(twin);
        auto restored = QNDocument::withPath(twin->path());
        auto restoredFolder = QNDocument::withPath(holiday->path(), true);
        if (c.withId) {
            restored->setId(twin->id());
            restoredFolder->setId(holiday->id());
        }
        VNTest::writeFile(local->path() + "/beach.jpg", bytes);
        auto opened = QNDocument::withPath(local->path() + "/beach.jpg");
        opened->setSize(bytes.size());
        const VNErrorPtr error = WebDriveTest::runItem(
            std::make_shared<QNUpdateFileTask>(), std::make_shared<QNUpdateFileTaskItem>(drive, opened, restored, restoredFolder));
        EXPECT_EQ(bool(error), !c.withId) << text(error).toStdString();
        QStringList beaches;
        int inHoliday = 0;
        for (const auto &v : QJsonDocument::fromJson(control("photos")).array()) {
            const QJsonObject photo = v.toObject();
            if (photo["album"].toString() != "Holiday")
                continue;
            ++inHoliday;
            if (photo["title"].toString() == "beach.jpg")
                beaches << "beach.jpg " + photo["sha1"].toString();
        }
        beaches.sort();
        QStringList expected = c.beaches;
        expected.sort();
        EXPECT_EQ(beaches.join('\n').toStdString(), expected.join('\n').toStdString());
        EXPECT_EQ(inHoliday, 3) << "a backup stayed, or a photo went";
    }
}

// Cancelled while the entry of a document known only by its path is looked
// up: no answer, nothing removed, and the handler and all the operation held
// go with the cancel.
TEST_F(PhotoDrive, CancelWhileAPathIsResolvedLetsGoOfTheOperation) {
    ASSERT_FALSE(signIn().error);
    std::atomic<bool> fetching{false};
    HFHTTPFetcher::setNotificationObserver([&](const QString &name, HFHTTPFetcher *) {
        if (name == QLatin1String("kHFHTTPFetcherStartedNotification"))
            fetching = true;
    });
    auto h = drive->createCloudInterface();
    std::weak_ptr<QNCloudInterface> weakHandler = h;
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> weakHeld = held;
    int answers = 0;
    h->remove(QNDocument::withPath("/Holiday/beach.jpg"), [held, &answers](QNDocumentPtr, VNErrorPtr, bool) { ++answers; });
    held.reset();
    EXPECT_TRUE(VNTest::waitUntil([&] { return fetching.load(); }));
    h->cancel();
    h.reset();
    HFHTTPFetcher::setNotificationObserver(nullptr);
    EXPECT_TRUE(VNTest::waitUntil([&] { return weakHandler.expired() && weakHeld.expired(); }, 5000));
    EXPECT_EQ(answers, 0);
    EXPECT_TRUE(QJsonDocument::fromJson(control("tree")).object().contains("/Holiday/beach.jpg"));
}

}  // namespace
