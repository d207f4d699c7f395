// The FTP handler against real servers: vsftpd (plain, explicit TLS, active
// mode) and OpenSSH's sshd (SFTP), each test run for all four kinds.
#include "FTPPeerSupport.h"

#include "Cloud/QNFTPConnectionPool.h"
#include "Cloud/QNFTPEncodingMemory.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Cloud/QNStringEncoding.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNProcessExit.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <sys/stat.h>
#include <sys/time.h>
#include <utility>

using namespace FTPPeer;

namespace {

class FTPHandlerPeer : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root(GetParam()).isEmpty()) << "the test peer is not running";
        QNFTPEncodingMemory::clear();
        temp = VNTest::makeTempDir();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
    }
    void TearDown() override
    {
        QNFTPHandler::setConnectionIdleSeconds(60);
        QNFTPHandler::setConnectionMaxAgeSeconds(300);
    }

    Kind kind() const { return GetParam(); }
    QString local(const QString &name) const { return temp->path() + QLatin1Char('/') + name; }
    QStringList localEntries() const
    {
        return QDir(temp->path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<QTemporaryDir> temp;
};

const QStringList kOddNames = {QStringLiteral("name with spaces.txt"),
                               QStringLiteral("it's a \"quoted\" name.txt"),
                               QString::fromUtf8("Grüße aus Köln.txt"),
                               QStringLiteral("odd #hash ?query %41percent.txt"),
                               QStringLiteral("  leading blanks.txt")};

// ---- login ----

TEST_P(FTPHandlerPeer, LoginAcceptedSetsTheCaptionAndAnswersOnMain)
{
    auto config = drive(kind());
    const Answer a = login(config);
    ASSERT_TRUE(a.answered);
    EXPECT_TRUE(a.ok) << a.text().toStdString();
    EXPECT_FALSE(a.error);
    EXPECT_FALSE(a.cancelled);
    EXPECT_TRUE(a.onMainThread);
    EXPECT_EQ(config->description(), QStringLiteral("SHOW DOCUMENTS ON THIS FTP ACCOUNT"));
}

TEST_P(FTPHandlerPeer, LoginRefusedCarriesNoPassword)
{
    auto config = drive(kind());
    const QString wrong = QStringLiteral("Wrong-Secret-4711");
    config->setPassword(wrong);
    const Answer a = login(config);
    ASSERT_TRUE(a.answered);
    EXPECT_FALSE(a.ok);
    ASSERT_TRUE(a.error);
    EXPECT_TRUE(a.onMainThread);
    EXPECT_EQ(a.error->domain(), QStringLiteral("QNFTPHandler"));
    EXPECT_EQ(a.error->code(), 42);
    // Named after the protocol the drive speaks (a row per kind of drive).
    const QString protocol = kind() == Kind::SFTP   ? QStringLiteral("SFTP")
                             : kind() == Kind::FTPS ? QStringLiteral("FTPS")
                                                    : QStringLiteral("FTP");
    EXPECT_TRUE(a.text().startsWith(protocol + QStringLiteral(": login denied"))) << a.text().toStdString();
    EXPECT_FALSE(a.text().contains(wrong));
    EXPECT_EQ(a.error->userInfo().value(QStringLiteral("error")).toString(), a.text());
    // The transfer log follows the text.
    EXPECT_TRUE(a.text().contains(QStringLiteral("\n["))) << a.text().toStdString();
    for (const QString &line : VNLog::captured())
        EXPECT_FALSE(line.contains(wrong));
    if (kind() != Kind::SFTP)
        EXPECT_TRUE(a.text().contains(QStringLiteral("[PASS ****]"))) << a.text().toStdString();
}

// ---- listing ----

TEST_P(FTPHandlerPeer, ListsNamesWithSpacesQuotesAndNonAsciiLetters)
{
    const Answer a = list(drive(kind()), QStringLiteral("/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_TRUE(a.onMainThread);
    const QStringList names = namesOf(a.documents);
    for (const QString &odd : kOddNames)
        EXPECT_TRUE(names.contains(odd)) << odd.toStdString() << " in " << names.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(names.contains(QStringLiteral(".")));
    EXPECT_FALSE(names.contains(QStringLiteral("..")));
    auto docs = find(a.documents, QStringLiteral("docs"));
    ASSERT_TRUE(docs);
    EXPECT_TRUE(docs->isDirectory());
    EXPECT_EQ(docs->path(), QStringLiteral("/docs/"));
    auto hello = find(a.documents, QStringLiteral("hello.txt"));
    ASSERT_TRUE(hello);
    EXPECT_FALSE(hello->isDirectory());
    EXPECT_EQ(hello->path(), QStringLiteral("/hello.txt"));
    EXPECT_EQ(hello->size(), 27);
    EXPECT_TRUE(hello->date().isValid());
    EXPECT_LT(qAbs(hello->date().secsTo(QDateTime::currentDateTimeUtc())), 2 * 86400);
}

TEST_P(FTPHandlerPeer, ListsAFolderWhoseNameHasASpace)
{
    const Answer a = list(drive(kind()), QStringLiteral("/docs/sub folder/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_EQ(namesOf(a.documents), QStringList{QStringLiteral("inner.txt")});
    EXPECT_EQ(a.documents.value(0)->path(), QStringLiteral("/docs/sub folder/inner.txt"));
}

// Symbolic links are listed as what they point at, so a link to a file
// opens and downloads as that file.
TEST_P(FTPHandlerPeer, SymbolicLinksAreWhatTheyPointAt)
{
    auto config = drive(kind());
    const Answer a = list(config, QStringLiteral("/links/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    auto fileLink = find(a.documents, QStringLiteral("file link.txt"));
    ASSERT_TRUE(fileLink);
    EXPECT_FALSE(fileLink->isDirectory());
    EXPECT_EQ(fileLink->path(), QStringLiteral("/links/file link.txt"));
    EXPECT_EQ(fileLink->size(), 25);  // the target's, not the link's
    auto innerLink = find(a.documents, QStringLiteral("inner link.txt"));
    ASSERT_TRUE(innerLink);
    EXPECT_FALSE(innerLink->isDirectory());
    for (const QString name : {QStringLiteral("folder link"), QStringLiteral("absolute folder link")}) {
        auto folderLink = find(a.documents, name);
        ASSERT_TRUE(folderLink) << name.toStdString();
        EXPECT_TRUE(folderLink->isDirectory());
        EXPECT_EQ(folderLink->path(), QStringLiteral("/links/") + name + QLatin1Char('/'));
    }
    EXPECT_EQ(namesOf(list(config, QStringLiteral("/links/folder link/")).documents),
              QStringList{QStringLiteral("inside.txt")});
    const Answer got = download(config, fileLink->path(), local(QStringLiteral("via link.txt")));
    ASSERT_FALSE(got.error) << got.text().toStdString();
    EXPECT_EQ(VNTest::readFile(local(QStringLiteral("via link.txt"))), QByteArray("the file behind the link\n"));

    // A connection the library closed after a link's look (an SFTP
    // folder's listing stopped at its first byte) is not kept: every
    // connection kept is open.
    const QString scratch = makeScratchFolder(kind());
    writeServerFile(kind(), scratch + QStringLiteral("sub/inner.txt"), "inner");
    ASSERT_TRUE(QFile::link(QStringLiteral("sub"), root(kind()) + scratch + QStringLiteral("sub link")));
    const Answer followed = list(config, scratch);
    ASSERT_FALSE(followed.error) << followed.text().toStdString();
    ASSERT_TRUE(find(followed.documents, QStringLiteral("sub link")) &&
                find(followed.documents, QStringLiteral("sub link"))->isDirectory());
    ASSERT_TRUE(VNOperationQueue::settleAllQueues(10000));  // connections being closed are
    const int port = state(kind()).value(kind() == Kind::FTPS ? QStringLiteral("ftps_port") : QStringLiteral("port")).toInt();
    EXPECT_EQ(QNFTPConnectionPool::shared().keptCount(QStringLiteral("127.0.0.1:%1").arg(port)),
              connectionsTo(kind()).size());

    const Answer broken = list(config, QStringLiteral("/broken/"));
    ASSERT_FALSE(broken.error) << broken.text().toStdString();
    auto dangling = find(broken.documents, QStringLiteral("dangling.txt"));
    ASSERT_TRUE(dangling);
    EXPECT_FALSE(dangling->isDirectory());
    EXPECT_TRUE(download(config, dangling->path(), local(QStringLiteral("dangling.txt"))).error);
}

// Listing times are the files' own, whatever the client's time zone (this
// suite runs again under TZ=Asia/Tokyo): recent ones to the minute, older
// ones to the day.
TEST_P(FTPHandlerPeer, ListedDatesAreTheFilesOwnTimesInAnyTimeZone)
{
    if (qgetenv("TZ") == "Asia/Tokyo")
        EXPECT_EQ(QDateTime::currentDateTime().offsetFromUtc(), 9 * 3600);
    const QString folder = makeScratchFolder(kind());
    const qint64 recent = (QDateTime::currentSecsSinceEpoch() - 5 * 3600) / 60 * 60;
    const qint64 old = QDateTime(QDate(2019, 5, 4), QTime(13, 0), Qt::UTC).toSecsSinceEpoch();
    for (const auto &[name, when] : {std::pair{QStringLiteral("recent.txt"), recent}, std::pair{QStringLiteral("old.txt"), old}}) {
        writeServerFile(kind(), folder + name, "dated\n");
        const struct timeval times[2] = {{time_t(when), 0}, {time_t(when), 0}};
        ASSERT_EQ(::utimes(QFile::encodeName(root(kind()) + folder + name).constData(), times), 0);
    }
    const Answer a = list(drive(kind()), folder);
    ASSERT_FALSE(a.error) << a.text().toStdString();
    ASSERT_TRUE(find(a.documents, QStringLiteral("recent.txt")));
    ASSERT_TRUE(find(a.documents, QStringLiteral("old.txt")));
    EXPECT_EQ(find(a.documents, QStringLiteral("recent.txt"))->date().toSecsSinceEpoch(), recent);
    EXPECT_EQ(find(a.documents, QStringLiteral("old.txt"))->date(), QDateTime(QDate(2019, 5, 4), QTime(0, 0), Qt::UTC));
}

// A new handler serves each operation: the encoding detected in a listing
// is kept for the folder, so a name goes out in that encoding again.
TEST_P(FTPHandlerPeer, DetectsALegacyEncodingAndDownloadsOneOfItsFiles)
{
    auto config = drive(kind());
    for (const auto &[folder, name] : {std::pair{QStringLiteral("/sjis/"), QString::fromUtf8("日本語のファイル.txt")},
                                       std::pair{QStringLiteral("/cp1251/"), QString::fromUtf8("Отчёт за год.txt")}}) {
        const Answer a = list(config, folder);
        ASSERT_FALSE(a.error) << a.text().toStdString();
        ASSERT_TRUE(namesOf(a.documents).contains(name)) << namesOf(a.documents).join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(a.documents.size(), 6);
        const Answer d = download(config, folder + name, local(QStringLiteral("legacy.txt")));
        ASSERT_FALSE(d.error) << d.text().toStdString();
        EXPECT_EQ(VNTest::readFile(local(QStringLiteral("legacy.txt"))), name.toUtf8());
    }
}

TEST_P(FTPHandlerPeer, TheDetectedEncodingIsKeptForLaterChangesInTheFolder)
{
    // A folder of Shift JIS names, made straight on the server's disk.
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    QNStringEncoding sjis(QNStringEncoding::ShiftJIS);
    const QByteArray diskFolder = QFile::encodeName(root(kind()) + folder);
    for (const char *name : {"会議の議事録.txt", "東京の地図について.txt", "新しいテキスト文書.txt", "お知らせ一覧.txt"}) {
        const QByteArray path = diskFolder + sjis.encode(QString::fromUtf8(name)).value();
        QFile file;
        ASSERT_TRUE(file.open(::fopen(path.constData(), "w"), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        file.write("x");
    }
    ASSERT_FALSE(list(config, folder).error);

    // Later operations, each on a new handler, send names in Shift JIS.
    const QString name = QString::fromUtf8("新規フォルダ");
    const Answer made = createFolder(config, name, folder);
    ASSERT_FALSE(made.error) << made.text().toStdString();
    struct stat info {};
    EXPECT_EQ(::stat((diskFolder + sjis.encode(name).value()).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    const QString source = local(QString::fromUtf8("報告書.txt"));
    ASSERT_TRUE(VNTest::writeFile(source, "report"));
    ASSERT_FALSE(upload(config, source, folder).error);
    EXPECT_EQ(::stat((diskFolder + sjis.encode(QString::fromUtf8("報告書.txt")).value()).constData(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    const Answer listed = list(config, folder);
    EXPECT_TRUE(namesOf(listed.documents).contains(QString::fromUtf8("報告書.txt")));
    EXPECT_TRUE(namesOf(listed.documents).contains(name));
}

TEST_P(FTPHandlerPeer, AFixedEncodingIsUsedWithoutDetection)
{
    auto config = drive(kind());
    config->setStringEncoding(QNStringEncoding::ShiftJIS);
    const Answer a = list(config, QStringLiteral("/sjis/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_TRUE(namesOf(a.documents).contains(QString::fromUtf8("お知らせ一覧.txt")));
}

// ---- transfers ----

TEST_P(FTPHandlerPeer, DownloadsFilesWithOddNames)
{
    auto config = drive(kind());
    int i = 0;
    for (const QString &name : kOddNames) {
        const QString target = local(QStringLiteral("odd-%1.txt").arg(i++));
        const Answer a = download(config, QLatin1Char('/') + name, target);
        ASSERT_FALSE(a.error) << name.toStdString() << ": " << a.text().toStdString();
        EXPECT_FALSE(a.onMainThread);
        ASSERT_TRUE(a.document);
        EXPECT_EQ(a.document->path(), target);
        EXPECT_EQ(a.document->displayName(), QFileInfo(target).fileName());
        EXPECT_EQ(VNTest::readFile(target), name.toUtf8() + '\n');
    }
}

TEST_P(FTPHandlerPeer, RoundTripOf32MiBKeepsEveryByte)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const QString source = local(QStringLiteral("big source.bin"));
    ASSERT_TRUE(VNTest::writeFile(source, randomBytes(32 << 20, 32)));
    const QByteArray sum = sha256OfFile(source);

    QList<double> upProgress;
    const Answer up = upload(config, source, folder, [&](double f, QNFTPHandler &) { upProgress << f; });
    ASSERT_FALSE(up.error) << up.text().toStdString();
    EXPECT_FALSE(up.onMainThread);
    ASSERT_TRUE(up.document);
    EXPECT_EQ(up.document->path(), folder);
    EXPECT_EQ(sha256OfFile(root(kind()) + folder + QStringLiteral("big source.bin")), sum);
    ASSERT_FALSE(upProgress.isEmpty());
    EXPECT_DOUBLE_EQ(upProgress.last(), 1.0);
    EXPECT_TRUE(std::is_sorted(upProgress.begin(), upProgress.end()));

    QList<double> downProgress;
    const QString back = local(QStringLiteral("back.bin"));
    const Answer down = download(config, folder + QStringLiteral("big source.bin"), back,
                                 [&](double f, QNFTPHandler &) { downProgress << f; });
    ASSERT_FALSE(down.error) << down.text().toStdString();
    EXPECT_EQ(sha256OfFile(back), sum);
    ASSERT_FALSE(downProgress.isEmpty());
    EXPECT_DOUBLE_EQ(downProgress.last(), 1.0);
    EXPECT_EQ(localEntries().size(), 2);  // no temporary file left
}

TEST_P(FTPHandlerPeer, ManyUploadsInARowAllArrive)
{
    // vsftpd over TLS used to refuse the end of some uploads sent in large
    // blocks. All go over the connection the first one opened, kept open.
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const QSet<int> before = connectionsTo(kind());
    QSet<int> used;
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("file %1.bin").arg(i);
        const QByteArray data = randomBytes((1 << 20) + i * 300000, quint32(100 + i));
        ASSERT_TRUE(VNTest::writeFile(local(name), data));
        const Answer a = upload(config, local(name), folder);
        ASSERT_FALSE(a.error) << name.toStdString() << ": " << a.text().toStdString();
        EXPECT_EQ(VNTest::readFile(root(kind()) + folder + name), data) << name.toStdString();
        if (i == 0)
            used = connectionsTo(kind()) - before;
        EXPECT_EQ(connectionsTo(kind()) - before, used) << name.toStdString();
    }
    EXPECT_EQ(used.size(), 1);
}

// A transfer started from the answer of the one before (a task's next file)
// goes over the connection that one used: it is kept before the answer.
// The answer here waits for the next transfer's own, holding its thread.
TEST_P(FTPHandlerPeer, ATransferStartedFromAnAnswerGoesOverThatConnection)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    writeServerFile(kind(), folder + QStringLiteral("first.txt"), "first");
    writeServerFile(kind(), folder + QStringLiteral("second.txt"), "second");
    ASSERT_TRUE(VNTest::writeFile(local(QStringLiteral("up.txt")), "up"));
    using Start = std::function<void(QNDocumentCallback)>;
    auto downloading = [&](const QString &name) -> Start {
        return [&, name](QNDocumentCallback answer) {
            handlerFor(config)->download(QNDocument::withPath(folder + name), QNDocument::withPath(local(name)), {},
                                         std::move(answer));
        };
    };
    auto uploading = [&](const QString &subfolder) -> Start {
        return [&, subfolder](QNDocumentCallback answer) {
            handlerFor(config)->upload(QNDocument::withPath(local(QStringLiteral("up.txt"))),
                                       QNDocument::withPath(folder + subfolder, true), {}, std::move(answer));
        };
    };
    ASSERT_FALSE(createFolder(config, QStringLiteral("a"), folder).error);
    ASSERT_FALSE(createFolder(config, QStringLiteral("b"), folder).error);
    const struct {
        const char *what;
        Start first, next;
    } rows[] = {
        {"download", downloading(QStringLiteral("first.txt")), downloading(QStringLiteral("second.txt"))},
        {"upload", uploading(QStringLiteral("a")), uploading(QStringLiteral("b"))},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        [&] {  // a failing row ends here; the others still run
            QNFTPHandler::forgetDrive(*config);
            const QSet<int> before = connectionsTo(kind());
            // Both answers, on the transfers' threads: the first one's waits for
            // the next one's.
            // Shared, so that an answer coming after a failed wait finds them.
            auto bothAnswered = std::make_shared<std::promise<VNErrorPtr>>();
            row.first([bothAnswered, next = row.next](QNDocumentPtr, VNErrorPtr error, bool) {
                auto nextAnswered = std::make_shared<std::promise<VNErrorPtr>>();
                if (!error)
                    next([nextAnswered](QNDocumentPtr, VNErrorPtr e, bool) { nextAnswered->set_value(e); });
                else
                    nextAnswered->set_value(error);
                bothAnswered->set_value(nextAnswered->get_future().get());
            });
            auto both = bothAnswered->get_future();
            const bool answered = both.wait_for(std::chrono::seconds(120)) == std::future_status::ready;
            EXPECT_TRUE(answered) << "the transfers never answered";
            if (!answered)
                return;
            const VNErrorPtr error = both.get();
            EXPECT_FALSE(error) << (error ? error->localizedDescription().toStdString() : std::string());
            EXPECT_EQ((connectionsTo(kind()) - before).size(), 1);
        }();
    }
}

// Two drives of one server never share a connection: another account, or
// the same one with another password or without TLS, logs in on its own
// (each file's owner on the server's disk tells which account wrote it);
// the same drive again goes on over the connection it left open.
TEST_P(FTPHandlerPeer, AKeptConnectionServesOnlyItsOwnDrive)
{
    const QString folder = makeScratchFolder(kind());
    ASSERT_EQ(::chmod(QFile::encodeName(root(kind()) + folder).constData(), 0777), 0);
    const struct {
        const char *what;
        std::function<void(QNDriveConfig &)> change;
        const char *writer;  // the state's account field, null when refused
        bool onlyFTPS;
    } rows[] = {
        {"the same drive again", [](QNDriveConfig &) {}, "user", false},
        {"another account", [this](QNDriveConfig &c) { c.setUsername(otherAccountDrive(kind())->username());
                                                        c.setPassword(otherAccountDrive(kind())->password()); },
         "other_user", false},
        {"the password changed", [](QNDriveConfig &c) { c.setPassword(QStringLiteral("Wrong-Secret-4711")); }, nullptr, false},
        {"TLS switched off", [](QNDriveConfig &c) { c.setUseSSL(false); }, nullptr, true},
    };
    int n = 0;
    for (const auto &row : rows) {
        if (row.onlyFTPS && kind() != Kind::FTPS)
            continue;
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(login(drive(kind())).ok) << row.what;  // leaves its connection open
        const QSet<int> open = connectionsTo(kind());
        auto second = drive(kind());
        row.change(*second);
        const QString name = QStringLiteral("row %1.txt").arg(++n);
        EXPECT_TRUE(VNTest::writeFile(local(name), "written")) << row.what;
        const Answer a = upload(second, local(name), folder);
        const QString onDisk = root(kind()) + folder + name;
        if (!row.writer) {
            EXPECT_TRUE(a.error) << row.what;
            EXPECT_FALSE(QFileInfo::exists(onDisk)) << row.what;
            continue;
        }
        EXPECT_FALSE(a.error) << row.what << ": " << a.text().toStdString();
        struct stat info {};
        const bool written = ::stat(QFile::encodeName(onDisk).constData(), &info) == 0;
        EXPECT_TRUE(written) << row.what << ": nothing on the server's disk";
        const QString writer = state(kind()).value(QLatin1String(row.writer)).toString();
        const struct passwd *account = ::getpwnam(writer.toUtf8().constData());
        EXPECT_TRUE(account) << row.what << ": no account " << writer.toStdString();
        if (written && account)
            EXPECT_EQ(info.st_uid, account->pw_uid) << row.what;
        EXPECT_EQ(open.contains(connectionsTo(kind())), row.writer == std::string("user")) << row.what;
    }
}

// FTP keeps a working folder and a transfer type on its connection, and a
// kept connection's handle the options of its last transfer: an operation
// after one that left the connection elsewhere still acts where its own
// paths say, byte for byte. The drive's top folder is the one no
// folder is changed into.
TEST_P(FTPHandlerPeer, AConnectionLeftElsewhereActsWhereTheNextOperationSays)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const QString unique = folder.section(QLatin1Char('/'), 2, 2);
    const QByteArray bytes("line\r\nnext\n\r\0binary\xff", 20);
    const QString source = local(QStringLiteral("top-") + unique + QStringLiteral(".bin"));
    ASSERT_TRUE(VNTest::writeFile(source, bytes));
    const QString top = root(kind()) + QLatin1Char('/');
    // After a listing whose link to a file was followed (its look asks for
    // no body): a download, byte for byte.
    writeServerFile(kind(), folder + QStringLiteral("data.bin"), bytes);
    ASSERT_TRUE(QFile::link(QStringLiteral("data.bin"), root(kind()) + folder + QStringLiteral("link.bin")));
    const Answer listed = list(config, folder);
    ASSERT_FALSE(listed.error) << listed.text().toStdString();
    ASSERT_TRUE(find(listed.documents, QStringLiteral("link.bin")));
    EXPECT_EQ(find(listed.documents, QStringLiteral("link.bin"))->size(), bytes.size());
    EXPECT_FALSE(download(config, folder + QStringLiteral("data.bin"), local(QStringLiteral("data.bin"))).error);
    EXPECT_EQ(VNTest::readFile(local(QStringLiteral("data.bin"))), bytes);
    // After a listing deep in the tree (as text): an upload to the top.
    ASSERT_FALSE(list(config, QStringLiteral("/docs/sub folder/")).error);
    ASSERT_FALSE(upload(config, source, QStringLiteral("/")).error);
    EXPECT_EQ(VNTest::readFile(top + QFileInfo(source).fileName()), bytes);
    EXPECT_FALSE(QFileInfo::exists(root(kind()) + QStringLiteral("/docs/sub folder/") + QFileInfo(source).fileName()));
    // After an upload into a folder: a new folder at the top.
    ASSERT_FALSE(upload(config, source, folder).error);
    ASSERT_FALSE(createFolder(config, unique, QStringLiteral("/")).error);
    EXPECT_TRUE(QFileInfo(top + unique).isDir());
    EXPECT_FALSE(QFileInfo::exists(root(kind()) + folder + unique));
    QFile::remove(top + QFileInfo(source).fileName());
    QDir().rmdir(top + unique);
}

// Kept connections stay few (eight uploads at once leave no more than a
// task runs at once), and end when their drive is removed, when unused a
// while, or when made longer ago than they may serve, however often used.
TEST_P(FTPHandlerPeer, KeptConnectionsAreFewAndEnd)
{
    QNFTPHandler::registerHandler();
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const QSet<int> before = connectionsTo(kind());
    auto ours = [&] { return connectionsTo(kind()) - before; };
    std::atomic<int> answered{0}, failed{0};
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("at once %1.bin").arg(i);
        ASSERT_TRUE(VNTest::writeFile(local(name), randomBytes(1 << 20, quint32(i))));
        handlerFor(config)->upload(QNDocument::withPath(local(name)), QNDocument::withPath(folder, true), {},
                                   [&](QNDocumentPtr, VNErrorPtr error, bool) {
                                       failed += error ? 1 : 0;
                                       ++answered;
                                   });
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return answered == 8; }, 120000));
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(VNTest::waitUntil([&] { return ours().size() <= 4; })) << ours().size();
    const struct {
        const char *what;
        std::function<void()> act;
        bool usedOn = false;  // logins keep going over the connection meanwhile
    } rows[] = {
        {"the drive removed", [&] { QNCloudInterfaceFactory::driveRemoved(*config); }},
        {"unused a while", [] { QNFTPHandler::setConnectionIdleSeconds(1); }},
        {"used on past its age", [] { QNFTPHandler::setConnectionMaxAgeSeconds(1); }, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(login(config).ok) << row.what;
        const QSet<int> kept = ours();
        EXPECT_FALSE(kept.isEmpty()) << row.what << ": no connection kept to end";
        row.act();
        EXPECT_TRUE(VNTest::waitUntil([&] { return (!row.usedOn || login(config).ok) && (ours() & kept).isEmpty(); }, 15000))
            << ours().size();
        QNFTPHandler::setConnectionIdleSeconds(60);
        QNFTPHandler::setConnectionMaxAgeSeconds(300);
    }
}

// A download replaces an existing file, with the user's umask (not a
// fixed mode) deciding who else may read it.
TEST_P(FTPHandlerPeer, DownloadReplacesAnExistingFileWithTheUsersUmask)
{
    const QString target = local(QStringLiteral("hello.txt"));
    ASSERT_TRUE(VNTest::writeFile(target, "old and longer content that must go away"));
    const mode_t saved = ::umask(027);
    const Answer a = download(drive(kind()), QStringLiteral("/hello.txt"), target);
    ::umask(saved);
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_EQ(VNTest::readFile(target), QByteArray("Hello from the file server\n"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// A download that fails or is cancelled mid-way leaves no file here.
TEST_P(FTPHandlerPeer, FailedOrCancelledDownloadLeavesNothing)
{
    auto config = drive(kind());
    // Nor a connection: the next transfer starts on a new one.
    const QSet<int> before = connectionsTo(kind());
    auto noneLeft = [&] { return VNTest::waitUntil([&] { return (connectionsTo(kind()) - before).isEmpty(); }, 5000); };
    const Answer failed = download(config, QStringLiteral("/no such file.txt"), local(QStringLiteral("missing.txt")));
    ASSERT_TRUE(failed.error);
    EXPECT_FALSE(failed.cancelled);
    EXPECT_FALSE(failed.onMainThread);
    EXPECT_TRUE(localEntries().isEmpty()) << localEntries().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(noneLeft());

    const QString folder = makeScratchFolder(kind());
    writeServerFile(kind(), folder + QStringLiteral("large.bin"), randomBytes(64 << 20, 64));
    QList<double> seen;
    const Answer a = download(config, folder + QStringLiteral("large.bin"), local(QStringLiteral("large.bin")),
                              [&](double f, QNFTPHandler &h) {
                                  seen << f;
                                  if (f > 0.05)
                                      h.cancel();
                              });
    EXPECT_TRUE(a.cancelled);
    EXPECT_FALSE(a.error);
    EXPECT_FALSE(a.document);
    EXPECT_FALSE(a.onMainThread);
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_LT(seen.last(), 1.0);
    EXPECT_TRUE(localEntries().isEmpty()) << localEntries().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(noneLeft());
}

TEST_P(FTPHandlerPeer, CancelBeforeTheTransferStartsIsHonoured)
{
    auto config = drive(kind());
    auto handler = handlerFor(config);
    handler->cancel();
    const Answer a = download(config, QStringLiteral("/hello.txt"), local(QStringLiteral("hello.txt")), {}, handler);
    EXPECT_TRUE(a.cancelled);
    EXPECT_FALSE(a.error);
    EXPECT_TRUE(localEntries().isEmpty());
}

// An upload onto an existing file that ends early, by a cancel or by the
// server's process dying, leaves the old file whole under its name and no
// temporary file behind; only a whole upload replaces it. On a kept
// connection too: bytes have moved, so it is not sent again (from where
// its file was left, it would put a cut file in place).
TEST_P(FTPHandlerPeer, UploadOntoAnExistingFileReplacesItOnlyWhenWhole)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const QString onDisk = root(kind()) + folder + QStringLiteral("partial.bin");
    const QByteArray old = "the old file, which must survive\n";
    const QString source = local(QStringLiteral("partial.bin"));
    ASSERT_TRUE(VNTest::writeFile(source, randomBytes(32 << 20, 7)));
    auto serverEntries = [&] { return QDir(root(kind()) + folder).entryList(QDir::Files | QDir::Hidden); };
    // Kept until later operations went through the transfer queue, so they
    // are not released while their worker may still hold them.
    std::vector<std::shared_ptr<QNFTPHandler>> handlers;
    const struct {
        const char *what;
        bool kill;
        bool kept;  // on a connection kept from a login before
    } rows[] = {
        {"cancelled", false, false},
        {"server killed", true, false},
        {"server killed, on a kept connection", true, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        [&] {  // a failing row ends here; the others still run
            const bool kill = row.kill;
            QNFTPHandler::forgetDrive(*config);
            if (row.kept)
                ASSERT_TRUE(login(config).ok);
            writeServerFile(kind(), folder + QStringLiteral("partial.bin"), old);
            // Called on the transfer's worker.
            std::atomic<bool> stopped{false};
            std::atomic<bool> killed{false};
            const Kind k = kind();
            handlers.push_back(handlerFor(config));
            const Answer a = upload(
                config, source, folder,
                [&stopped, &killed, k, kill](double f, QNFTPHandler &h) {
                    if (f < 0.05 || stopped.exchange(true))
                        return;
                    if (kill)
                        killed = killServerSessions(k);
                    else
                        h.cancel();
                },
                handlers.back());
            ASSERT_TRUE(stopped);
            EXPECT_EQ(killed.load(), kill);
            EXPECT_EQ(a.cancelled, !kill);
            EXPECT_EQ(bool(a.error), kill) << a.text().toStdString();
            EXPECT_EQ(VNTest::readFile(onDisk), old);
            EXPECT_EQ(serverEntries(), QStringList{QStringLiteral("partial.bin")});
        }();
    }
    // The server's processes gone while a connection was kept (a restart):
    // the upload goes over a new one.
    ASSERT_FALSE(list(config, folder).error);
    ASSERT_TRUE(killServerSessions(kind()));
    const Answer whole = upload(config, source, folder);
    ASSERT_FALSE(whole.error) << whole.text().toStdString();
    EXPECT_EQ(sha256OfFile(onDisk), sha256OfFile(source));
    EXPECT_EQ(serverEntries(), QStringList{QStringLiteral("partial.bin")});
}

// ---- changes on the server ----

TEST_P(FTPHandlerPeer, CreateRenameAndRemoveShowOnTheServersDisk)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const QString disk = root(kind()) + folder;
    const QString folderName = QString::fromUtf8("new \"folder\" ü #1");

    const Answer made = createFolder(config, folderName, folder);
    ASSERT_FALSE(made.error) << made.text().toStdString();
    EXPECT_FALSE(made.onMainThread);
    ASSERT_TRUE(made.document);
    EXPECT_EQ(made.document->path(), folder + folderName);
    EXPECT_EQ(made.document->displayName(), folderName);
    EXPECT_TRUE(QFileInfo(disk + folderName).isDir());

    const QString source = local(QStringLiteral("it's here.txt"));
    ASSERT_TRUE(VNTest::writeFile(source, "content"));
    const QString inside = folder + folderName + QLatin1Char('/');
    ASSERT_FALSE(upload(config, source, inside).error);
    EXPECT_TRUE(QFileInfo(disk + folderName + QStringLiteral("/it's here.txt")).isFile());

    const QString newName = QString::fromUtf8("renamed \"q\" %20 ?.txt");
    const Answer renamed = rename(config, inside + QStringLiteral("it's here.txt"), newName);
    ASSERT_FALSE(renamed.error) << renamed.text().toStdString();
    ASSERT_TRUE(renamed.document);
    EXPECT_EQ(renamed.document->path(), inside + newName);
    EXPECT_FALSE(QFileInfo::exists(disk + folderName + QStringLiteral("/it's here.txt")));
    EXPECT_EQ(VNTest::readFile(disk + folderName + QLatin1Char('/') + newName), QByteArray("content"));

    const Answer listed = list(config, inside);
    EXPECT_EQ(namesOf(listed.documents), QStringList{newName});

    const Answer removedFile = remove(config, inside + newName, false);
    ASSERT_FALSE(removedFile.error) << removedFile.text().toStdString();
    EXPECT_FALSE(QFileInfo::exists(disk + folderName + QLatin1Char('/') + newName));

    const Answer removedFolder = remove(config, inside, true);
    ASSERT_FALSE(removedFolder.error) << removedFolder.text().toStdString();
    EXPECT_FALSE(QFileInfo::exists(disk + folderName));
}

// The answer of a rename is the document under its new name, a document of
// its own: the two given belong to the caller (a save-back's drive document
// is an opened copy's record of where it came from) and stay as they were.
TEST_P(FTPHandlerPeer, RenameAnswersWithADocumentOfItsOwnUnderTheNewName)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    writeServerFile(kind(), folder + QStringLiteral("edit.txt"), "the old bytes");
    auto from = QNDocument::withPath(folder + QStringLiteral("edit.txt"));
    from->setSize(13);
    auto to = QNDocument::withPath(folder + QStringLiteral("edit-QN-2014-03-05_09-07-02.txt"));
    to->setDisplayName(QStringLiteral("edit.txt"));  // as a save-back names its backup

    const Answer renamed = rename(config, from, to);
    ASSERT_FALSE(renamed.error) << renamed.text().toStdString();
    ASSERT_TRUE(renamed.document);
    EXPECT_NE(renamed.document, from);
    EXPECT_NE(renamed.document, to);
    EXPECT_EQ(renamed.document->path().toStdString(), (folder + QStringLiteral("edit-QN-2014-03-05_09-07-02.txt")).toStdString());
    EXPECT_EQ(renamed.document->displayName(), QStringLiteral("edit-QN-2014-03-05_09-07-02.txt"));
    EXPECT_EQ(renamed.document->size(), 13);
    EXPECT_EQ(from->path().toStdString(), (folder + QStringLiteral("edit.txt")).toStdString());
    EXPECT_EQ(from->displayName(), QStringLiteral("edit.txt"));
    EXPECT_EQ(to->path().toStdString(), (folder + QStringLiteral("edit-QN-2014-03-05_09-07-02.txt")).toStdString());
    EXPECT_EQ(VNTest::readFile(root(kind()) + folder + QStringLiteral("edit-QN-2014-03-05_09-07-02.txt")),
              QByteArray("the old bytes"));
}

TEST_P(FTPHandlerPeer, ChangesActOnTheListedFolderWhateverTheDriveUrlsPath)
{
    // A drive whose URL points into a folder of the server: listing,
    // creating and removing all happen inside it.
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    config->setUrl(config->url() + folder.mid(1));
    const Answer made = createFolder(config, QStringLiteral("inner"), QStringLiteral("/"));
    ASSERT_FALSE(made.error) << made.text().toStdString();
    EXPECT_TRUE(QFileInfo(root(kind()) + folder + QStringLiteral("inner")).isDir());
    EXPECT_EQ(namesOf(list(config, QStringLiteral("/")).documents), QStringList{QStringLiteral("inner")});
    ASSERT_FALSE(remove(config, QStringLiteral("/inner/"), true).error);
    EXPECT_FALSE(QFileInfo::exists(root(kind()) + folder + QStringLiteral("inner")));
}

TEST_P(FTPHandlerPeer, NamesWithLineBreaksAreRefusedBeforeAnythingIsSent)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    const Answer a = createFolder(config, QStringLiteral("bad\r\nDELE hello.txt"), folder);
    ASSERT_TRUE(a.error);
    EXPECT_TRUE(a.text().contains(QStringLiteral("line break"))) << a.text().toStdString();
    EXPECT_TRUE(QDir(root(kind()) + folder).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(root(kind()) + QStringLiteral("/hello.txt")));
    const Answer b = createFolder(config, QStringLiteral("a/b"), folder);
    ASSERT_TRUE(b.error);
}

// Calls that cannot succeed fail with their cause and nothing else; a
// listing answers on the main thread, a change on the transfer's worker.
TEST_P(FTPHandlerPeer, CallsThatCannotSucceedFailWithTheirCause)
{
    auto unreachable = drive(kind());
    unreachable->setUrl(kind() == Kind::SFTP ? QStringLiteral("sftp://127.0.0.1:1/") : QStringLiteral("ftp://127.0.0.1:1/"));
    auto ascii = drive(kind());
    ascii->setStringEncoding(QNStringEncoding::ASCII);
    const QString folder = makeScratchFolder(kind());
    const struct {
        const char *what;
        Answer answer;
        QString cause;
        int onMain;  // -1: either
    } rows[] = {
        {"unknown host port", login(unreachable), QStringLiteral("couldn't connect to server"), -1},
        {"missing folder", list(drive(kind()), QStringLiteral("/no such folder/")), QString(), 1},
        {"missing local file", upload(drive(kind()), local(QStringLiteral("absent.bin")), folder),
         QStringLiteral("absent.bin"), -1},
        {"missing file", remove(drive(kind()), folder + QStringLiteral("ghost.txt"), false),
         QStringLiteral("FTP: a quote command returned error"), 0},
        {"name with no form in the encoding", createFolder(ascii, QString::fromUtf8("ĉu"), folder),
         QStringLiteral("character encoding"), -1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(row.answer.error);
        EXPECT_TRUE(row.answer.text().contains(row.cause)) << row.answer.text().toStdString();
        EXPECT_TRUE(row.answer.documents.isEmpty() && !row.answer.document && !row.answer.ok);
        if (row.onMain >= 0)
            EXPECT_EQ(row.answer.onMainThread, bool(row.onMain));
    }
}

// A change whose answer is lost (a go-between cuts the connection) is not
// sent again: the server may have carried it out, and a removal, rename or
// new folder sent twice fails on its own result ("550"), a success then
// reported as a failure. The folder's listing tells what happened, and the
// answer says that. Rows: each change with nothing cut, cut once the server
// carried it out (its answer held back), and cut before it reached the server.
TEST_P(FTPHandlerPeer, AChangeWhoseAnswerIsLostIsLookedForNotSentAgain)
{
    if (kind() == Kind::FTPS)
        GTEST_SKIP() << "the go-between cannot read commands sent over TLS";
    enum class Change { Remove, Rename, MakeFolder };
    enum class Cut { None, AfterTheServerCarriedItOut, BeforeItReachedTheServer };
    const struct {
        Change change;
        const char *name;
        QByteArray carriedOutBy;  // FTP: the command whose reply is cut
        QByteArray sentFirst;     // FTP: the first command the change sends
        const char *notDone;
    } changes[] = {
        {Change::Remove, "remove", "DELE", "DELE", "was not removed"},
        {Change::Rename, "rename", "RNTO", "RNFR", "was not renamed"},
        {Change::MakeFolder, "new folder", "MKD", "MKD", "was not made"},
    };
    const bool sftp = kind() == Kind::SFTP;
    for (const auto &change : changes) {
        for (const Cut cut : {Cut::None, Cut::AfterTheServerCarriedItOut, Cut::BeforeItReachedTheServer}) {
            const std::string row = std::string(change.name) +
                                    (cut == Cut::None                         ? ", nothing cut"
                                     : cut == Cut::AfterTheServerCarriedItOut ? ", its answer lost"
                                                                              : ", cut before it reached the server");
            SCOPED_TRACE(row);
            GoBetween goBetween(state(kind()).value(QStringLiteral("port")).toInt());
            auto config = drive(kind());
            QUrl url(config->url());
            url.setPort(goBetween.port());
            config->setUrl(url.toString());
            const QString folder = makeScratchFolder(kind());
            const QString disk = root(kind()) + folder;
            writeServerFile(kind(), folder + QStringLiteral("f.txt"), "f");
            EXPECT_TRUE(login(config).ok) << row;  // its connection kept, through the go-between
            auto done = [&] {
                switch (change.change) {
                case Change::Remove:
                    return !QFileInfo::exists(disk + QStringLiteral("f.txt"));
                case Change::Rename:
                    return QFileInfo::exists(disk + QStringLiteral("g.txt")) && !QFileInfo::exists(disk + QStringLiteral("f.txt"));
                case Change::MakeFolder:
                    return QFileInfo(disk + QStringLiteral("new")).isDir();
                }
                return false;
            };
            if (cut == Cut::AfterTheServerCarriedItOut) {
                if (sftp)
                    goBetween.holdRepliesUntil(done);
                else
                    goBetween.cutAfterReplyTo(change.carriedOutBy);
            } else if (cut == Cut::BeforeItReachedTheServer) {
                if (sftp)
                    goBetween.cutAtNextRequest();
                else
                    goBetween.cutBefore(change.sentFirst);
            }
            const Answer a = change.change == Change::Remove   ? remove(config, folder + QStringLiteral("f.txt"), false)
                             : change.change == Change::Rename ? rename(config, folder + QStringLiteral("f.txt"), QStringLiteral("g.txt"))
                                                               : createFolder(config, QStringLiteral("new"), folder);
            EXPECT_EQ(goBetween.cuts(), cut == Cut::None ? 0 : 1) << row;
            if (cut == Cut::BeforeItReachedTheServer) {
                EXPECT_TRUE(a.error) << row;
                EXPECT_TRUE(a.text().contains(QLatin1String(change.notDone))) << row << ": " << a.text().toStdString();
                EXPECT_FALSE(done()) << row;
            } else {
                EXPECT_FALSE(a.error) << row << ": " << a.text().toStdString();
                EXPECT_TRUE(a.document) << row;
                EXPECT_TRUE(done()) << row;
            }
        }
    }
}

// A program started by a plain fork and exec after a transfer (as any
// library may start one) holds none of this program's connections to the
// server: the one kept is logged in.
TEST_P(FTPHandlerPeer, AProgramStartedAfterATransferHoldsNoneOfItsConnections)
{
    const QString folder = makeScratchFolder(kind());
    ASSERT_TRUE(VNTest::writeFile(local(QStringLiteral("sent.txt")), "sent"));
    const QSet<QByteArray> before = connectionSocketsTo(kind());
    ASSERT_FALSE(upload(drive(kind()), local(QStringLiteral("sent.txt")), folder).error);
    const QSet<QByteArray> kept = connectionSocketsTo(kind()) - before;
    ASSERT_FALSE(kept.isEmpty()) << "no connection kept";
    char sleep[] = "sleep";
    char seconds[] = "30";
    char *argv[] = {sleep, seconds, nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    const QSet<QByteArray> inherited = socketsOf(QString::number(child)) & connectionSocketsTo(kind());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(inherited.isEmpty()) << inherited.size() << " connection(s) to the server inherited";
}

// The program's end closes the connections kept and stops the thread that
// ends idle ones before the libraries are torn down: no goodbye to a server
// runs on another thread while they go.
TEST_P(FTPHandlerPeer, TheProgramsEndClosesKeptConnectionsAndStopsTheirReaper)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto reaperRunning = [] {
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (VNTest::readFile(tasks.filePath(task) + QStringLiteral("/comm")).startsWith("FTP keep reaper"))
                return true;
        return false;
    };
    EXPECT_EXIT(
        {
            const QSet<int> before = connectionsTo(kind());
            if (!login(drive(kind())).ok || (connectionsTo(kind()) - before).isEmpty() || !reaperRunning())
                std::_Exit(2);  // nothing kept to close
            VNProcessExit::finish(0, 20000);
            std::_Exit((connectionsTo(kind()) - before).isEmpty() && !reaperRunning() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// An upload cancelled on a kept connection removes its temporary file over
// a new connection, not another kept one: the server's side of the
// cancelled upload may still be opening the file, which a new login gives
// time, where a kept connection would find nothing yet to remove.
TEST_P(FTPHandlerPeer, ACancelledUploadRemovesItsTemporaryFileOverANewConnection)
{
    auto config = drive(kind());
    const QString folder = makeScratchFolder(kind());
    writeServerFile(kind(), folder + QStringLiteral("big.bin"), randomBytes(8 << 20, 11));
    ASSERT_TRUE(VNTest::writeFile(local(QStringLiteral("up.bin")), randomBytes(32 << 20, 12)));
    const QSet<int> before = connectionsTo(kind());
    // Two connections kept: a download's, and a login's made while it ran.
    std::atomic<bool> once{false};
    const Answer got = download(config, folder + QStringLiteral("big.bin"), local(QStringLiteral("big.bin")),
                                [&](double, QNFTPHandler &) {
                                    if (once.exchange(true))
                                        return;
                                    std::atomic<bool> answered{false};
                                    handlerFor(config)->login([&](bool, VNErrorPtr, bool) { answered = true; });
                                    while (!answered)  // its answer comes by the main loop
                                        std::this_thread::yield();
                                });
    ASSERT_FALSE(got.error) << got.text().toStdString();
    const QSet<int> kept = connectionsTo(kind()) - before;
    ASSERT_EQ(kept.size(), 2);
    const Answer a = upload(config, local(QStringLiteral("up.bin")), folder, [](double, QNFTPHandler &h) { h.cancel(); });
    EXPECT_TRUE(a.cancelled) << a.text().toStdString();
    EXPECT_EQ(QDir(root(kind()) + folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.bin")});
    // The upload took one kept connection, which its cancel closed; the
    // other is untouched. (The clean-up's own ends with its last check,
    // which finds nothing to remove.)
    ASSERT_TRUE(VNOperationQueue::settleAllQueues(10000));  // connections being closed are
    EXPECT_EQ((connectionsTo(kind()) & kept).size(), 1) << "the clean-up went over a kept connection";
}

INSTANTIATE_TEST_SUITE_P(AllKinds, FTPHandlerPeer,
                         ::testing::Values(Kind::FTP, Kind::FTPS, Kind::ActiveFTP, Kind::SFTP),
                         [](const ::testing::TestParamInfo<Kind> &info) { return std::string(kindName(info.param)); });

// ---- upload accounts: one that removes nothing, a drop box that renames nothing either ----

class FTPUploadAccountPeer : public FTPHandlerPeer {};

// An upload goes under a temporary name that then takes the real one. Where
// the server renames nothing and the old file cannot be removed either, the
// file is sent again straight onto its name when the caller allows it;
// otherwise it stays whole under its temporary name and the error says so.
// Whatever stays on the server is named. Judged on the server's disk.
TEST_P(FTPUploadAccountPeer, AnUploadTheServerWillNotRenameGoesOntoItsNameWhereAllowed)
{
    enum class Held { Nothing, File, Folder };
    enum class Ending {
        Arrives,                 // the name holds the file; nothing else stays
        ArrivesTemporaryLeft,    // the same, the temporary file named in the answer
        FailsTemporaryKept,      // the name as it was; the whole file kept and named
        CancelledTemporaryLeft,  // the unfinished temporary file named after the cancel
    };
    struct Row {
        const char *what;
        Held held;  // under the file's name before the upload
        bool mayWriteOntoName;
        bool cancel;
        Ending onNoRemoval, onDropBox;
    };
    const Row rows[] = {
        {"new name, may write onto it", Held::Nothing, true, false, Ending::Arrives, Ending::ArrivesTemporaryLeft},
        {"new name", Held::Nothing, false, false, Ending::Arrives, Ending::FailsTemporaryKept},
        {"onto a file, may write onto it", Held::File, true, false, Ending::Arrives, Ending::ArrivesTemporaryLeft},
        {"onto a file", Held::File, false, false, Ending::Arrives, Ending::FailsTemporaryKept},
        {"onto a folder, may write onto it", Held::Folder, true, false, Ending::FailsTemporaryKept,
         Ending::FailsTemporaryKept},
        {"cancelled, may write onto it", Held::Nothing, true, true, Ending::CancelledTemporaryLeft,
         Ending::CancelledTemporaryLeft},
    };
    auto config = drive(kind());
    const QByteArray data = randomBytes(8 << 20, 75);
    const QByteArray old = "the old file\n";
    ASSERT_TRUE(VNTest::writeFile(local(QStringLiteral("up.bin")), data));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        [&] {  // a failing row ends here; the others still run
            const Ending ending = kind() == Kind::NoRemovalFTP ? row.onNoRemoval : row.onDropBox;
            const QString folder = makeScratchFolder(kind());
            const QString disk = root(kind()) + folder;
            if (row.held == Held::File)
                writeServerFile(kind(), folder + QStringLiteral("up.bin"), old);
            if (row.held == Held::Folder) {
                ASSERT_FALSE(createFolder(config, QStringLiteral("up.bin"), folder).error);
                writeServerFile(kind(), folder + QStringLiteral("up.bin/inside.txt"), old);
            }
            QList<double> progress;  // on the transfer's worker, one at a time
            bool cancelled = false;
            const OperationUpload sent = uploadThroughOperation(
                config, local(QStringLiteral("up.bin")), folder, row.mayWriteOntoName,
                [&](double fraction, QNUploadOperation &op) {
                    progress << fraction;
                    if (row.cancel && !cancelled && fraction > 0.05 && fraction < 1.0) {
                        // As a cancelled task does, the handler told at once.
                        cancelled = true;
                        op.cloudInterface()->cancel();
                        op.cancel();
                    }
                });
            EXPECT_EQ(cancelled, row.cancel);
            const Answer &a = sent.answer;
            // Whatever stays beside the name: the temporary file.
            QStringList others = QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
            others.removeAll(QStringLiteral("up.bin"));
            const QString temporary = others.value(0);
            const bool arrives = ending == Ending::Arrives || ending == Ending::ArrivesTemporaryLeft;
            EXPECT_EQ(others.size(), ending == Ending::Arrives ? 0 : 1) << others.join(' ').toStdString();
            EXPECT_EQ(bool(a.document), arrives) << a.text().toStdString();
            EXPECT_EQ(a.cancelled, ending == Ending::CancelledTemporaryLeft);
            if (arrives) {
                EXPECT_EQ(VNTest::readFile(disk + QStringLiteral("up.bin")), data);
                ASSERT_FALSE(progress.isEmpty());
                EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
                EXPECT_DOUBLE_EQ(progress.last(), 1.0);
            } else if (row.held == Held::File) {
                EXPECT_EQ(VNTest::readFile(disk + QStringLiteral("up.bin")), old);
            } else if (row.held == Held::Folder) {
                EXPECT_EQ(VNTest::readFile(disk + QStringLiteral("up.bin/inside.txt")), old);
            } else {
                EXPECT_FALSE(QFileInfo::exists(disk + QStringLiteral("up.bin")));
            }
            if (ending == Ending::Arrives) {
                EXPECT_FALSE(a.error) << a.text().toStdString();
                return;
            }
            if (ending != Ending::CancelledTemporaryLeft)
                EXPECT_EQ(VNTest::readFile(disk + temporary), data);
            // The handler's own answer, which a cancelled task reads, names it.
            const VNErrorPtr said = sent.handlerAnswer.error;
            EXPECT_TRUE(QNCloudInterface::saysFileLeftOnDrive(said));
            EXPECT_TRUE(said && said->localizedDescription().contains(folder + temporary))
                << (said ? said->localizedDescription().toStdString() : std::string("no error"));
            EXPECT_EQ(sent.handlerAnswer.cancelled, row.cancel);
        }();
    }
}

INSTANTIATE_TEST_SUITE_P(UploadAccounts, FTPUploadAccountPeer, ::testing::Values(Kind::NoRemovalFTP, Kind::DropBoxFTP),
                         [](const ::testing::TestParamInfo<Kind> &info) { return std::string(kindName(info.param)); });

}  // namespace
