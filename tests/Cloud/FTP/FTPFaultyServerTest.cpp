// The FTP handler against servers that misbehave: a garbage greeting, a
// connection dropped after USER, a server that never answers, a listing in
// mixed formats with unusable names, a listing that never ends, one past
// the bound of listings, a file cut off in the middle, and servers that
// refuse "LIST -a" (the listing with dot names) in the ways real ones do.
// The servers are small loopback listeners made here.
#include "FTPPeerSupport.h"

#include "Cloud/QNFTPListingCommandMemory.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <atomic>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <utility>

using namespace FTPPeer;

namespace {

class FakeFTPServer {
public:
    enum class Greeting { Normal, Garbage, Silent };

    static inline int s_servers = 0;
    Greeting greeting = Greeting::Normal;
    bool dropAfterUser = false;
    QByteArray listing;
    // "LIST -a": answered with this reply instead of a listing when set,
    // else sent hiddenListing when set, else the plain listing.
    QByteArray hiddenListingReply;
    QByteArray hiddenListing;
    // Plain LIST: answered with this reply instead of a listing when set.
    QByteArray plainListingReply;
    bool hangListing = false;
    QByteArray file;
    qint64 announcedSize = 0;
    QStringList commands;
    int connections = 0;
    // The next command ends the connection, after this reply when set, as
    // a server that closed it while it was kept; or the first one after
    // the next listing.
    bool closeAtNextCommand = false;
    bool closeAfterListing = false;
    QByteArray goodbye;

    FakeFTPServer()
    {
        m_control.listen(QHostAddress::LocalHost, 0);
        m_data.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_control, &QTcpServer::newConnection, [this] { accept(); });
        QObject::connect(&m_data, &QTcpServer::newConnection, [this] {
            m_dataClient = m_data.nextPendingConnection();
            flushData();
        });
    }

    QString url() const { return QStringLiteral("ftp://127.0.0.1:%1/").arg(m_control.serverPort()); }
    // What the handler learns of a server is kept by address and user; a
    // later server may get the same port, so each one has a user of its own.
    const QString user = QStringLiteral("someone-%1").arg(++s_servers);

private:
    void accept()
    {
        ++connections;
        m_client = m_control.nextPendingConnection();
        QObject::connect(m_client, &QTcpSocket::readyRead, [this] {
            while (m_client && m_client->canReadLine())
                command(QString::fromLatin1(m_client->readLine()).trimmed());
        });
        if (greeting == Greeting::Garbage) {
            reply("HELLO THERE, NOT AN FTP SERVER");
            reply("123 and no greeting either");
        }
        else if (greeting == Greeting::Normal)
            reply("220 fake server ready");
    }

    void reply(const QByteArray &line)
    {
        if (m_client)
            m_client->write(line + "\r\n");
    }

    void sendData(const QByteArray &bytes, const QByteArray &afterwards)
    {
        m_pendingData = bytes;
        m_pendingReply = afterwards;
        m_dataPending = true;
        flushData();
    }

    void flushData()
    {
        if (!m_dataPending || !m_dataClient)
            return;
        m_dataPending = false;
        m_dataClient->write(m_pendingData);
        m_dataClient->disconnectFromHost();
        m_dataClient = nullptr;
        reply(m_pendingReply);
    }

    void command(const QString &line)
    {
        commands << line;
        if (std::exchange(closeAtNextCommand, false)) {
            if (!goodbye.isEmpty())
                reply(goodbye);
            m_client->disconnectFromHost();
            m_client = nullptr;
            return;
        }
        const QString verb = line.section(QLatin1Char(' '), 0, 0).toUpper();
        if (verb == QLatin1String("USER")) {
            if (dropAfterUser) {
                m_client->disconnectFromHost();
                m_client = nullptr;
                return;
            }
            reply("331 password please");
        } else if (verb == QLatin1String("PASS")) {
            reply("230 welcome");
        } else if (verb == QLatin1String("PWD")) {
            reply("257 \"/\" is the current folder");
        } else if (verb == QLatin1String("CWD") || verb == QLatin1String("TYPE")) {
            reply("250 fine");
        } else if (verb == QLatin1String("EPSV")) {
            reply("229 Entering Extended Passive Mode (|||" + QByteArray::number(m_data.serverPort()) + "|)");
        } else if (verb == QLatin1String("SIZE")) {
            reply("213 " + QByteArray::number(announcedSize));
        } else if (verb == QLatin1String("LIST")) {
            const bool hidden = line.section(QLatin1Char(' '), 1).trimmed() == QLatin1String("-a");
            const QByteArray refusal = hidden ? hiddenListingReply : plainListingReply;
            if (!refusal.isEmpty()) {
                reply(refusal);
                return;
            }
            reply("150 here comes the listing");
            if (!hangListing)
                sendData(hidden && !hiddenListing.isNull() ? hiddenListing : listing, "226 done");
            closeAtNextCommand = std::exchange(closeAfterListing, false);
        } else if (verb == QLatin1String("RETR")) {
            reply("150 Opening BINARY mode data connection (" + QByteArray::number(announcedSize) + " bytes)");
            sendData(file, "426 Connection closed; transfer aborted");
        } else if (verb == QLatin1String("QUIT")) {
            reply("221 bye");
        } else {
            reply("502 not here");
        }
    }

    QTcpServer m_control;
    QTcpServer m_data;
    QTcpSocket *m_client = nullptr;
    QTcpSocket *m_dataClient = nullptr;
    bool m_dataPending = false;
    QByteArray m_pendingData;
    QByteArray m_pendingReply;
};

QNDriveConfigPtr driveOn(const FakeFTPServer &server)
{
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    config->setUrl(server.url());
    config->setUsername(server.user);
    config->setPassword(QStringLiteral("Fake-Secret-99"));
    return config;
}

class FTPFaultyServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = VNTest::makeTempDir();
        QNFTPListingCommandMemory::clear();
    }
    void TearDown() override { QNFTPHandler::setStallTimeout(60); }
    std::unique_ptr<QTemporaryDir> temp;
};

TEST_F(FTPFaultyServer, BrokenLoginsAreErrorsWithTheirCause)
{
    const struct {
        FakeFTPServer::Greeting greeting;
        bool dropAfterUser;
        int stallSeconds;
        const char *text;
    } rows[] = {
        {FakeFTPServer::Greeting::Garbage, false, 5, "FTP: weird server reply"},
        {FakeFTPServer::Greeting::Normal, true, 60, "[USER someone-"},
        {FakeFTPServer::Greeting::Silent, false, 2, "a timeout was reached"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        QNFTPHandler::setStallTimeout(row.stallSeconds);
        FakeFTPServer server;
        server.greeting = row.greeting;
        server.dropAfterUser = row.dropAfterUser;
        const Answer a = login(driveOn(server));
        ASSERT_TRUE(a.error);
        EXPECT_FALSE(a.ok || a.cancelled);
        EXPECT_TRUE(a.text().contains(QString::fromLatin1(row.text))) << a.text().toStdString();
        EXPECT_FALSE(a.text().contains(QStringLiteral("Fake-Secret-99")));
    }
}

TEST_F(FTPFaultyServer, MixedListingKeepsUsableEntriesAndTheLastLine)
{
    FakeFTPServer server;
    server.listing =
        "total 3\r\n"
        "-rw-r--r--   1 u g 10 Jan  1  2020 unix.txt\r\n"
        "+i1.2,m1000000000,s5,r,\teplf.txt\r\n"
        "11-05-12  07:15AM       <DIR>          dosdir\r\n"
        "DATA.DIR;1  2  14-FEB-2003 09:41 [OWNER] (RWE,RWE,RE,RE)\r\n"
        "garbage line here\r\n"
        "-rw-r--r--   1 u g 1 Jan  1  2020 ../escape\r\n"
        "drwxr-xr-x   2 u g 4096 Jan  1  2020 ..\r\n"
        "-rw-r--r--   1 u g 7 Jan  1  2020 last-without-newline.txt";
    VNLog::clearCaptured();
    const Answer a = list(driveOn(server), QStringLiteral("/folder/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_EQ(namesOf(a.documents), (QStringList{QStringLiteral("unix.txt"), QStringLiteral("eplf.txt"),
                                                 QStringLiteral("dosdir"), QStringLiteral("DATA"),
                                                 QStringLiteral("last-without-newline.txt")}));
    EXPECT_EQ(find(a.documents, QStringLiteral("dosdir"))->path(), QStringLiteral("/folder/dosdir/"));
    EXPECT_TRUE(find(a.documents, QStringLiteral("DATA"))->isDirectory());
    EXPECT_EQ(find(a.documents, QStringLiteral("eplf.txt"))->size(), 5);
    EXPECT_EQ(find(a.documents, QStringLiteral("eplf.txt"))->date().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(find(a.documents, QStringLiteral("last-without-newline.txt"))->size(), 7);
    EXPECT_FALSE(VNLog::captured().join(QLatin1Char('\n')).contains(QStringLiteral("Fake-Secret-99")));
}

TEST_F(FTPFaultyServer, CancelDuringAListingThatNeverEnds)
{
    FakeFTPServer server;
    server.hangListing = true;
    auto handler = handlerFor(driveOn(server));
    std::atomic<bool> answered{false};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> onMain{true};
    handler->listDocuments(QNDocument::withPath(QStringLiteral("/"), true), QStringLiteral("kw"),
                           [&](QNDocumentList docs, QString keyword, VNErrorPtr error, bool wasCancelled) {
                               cancelled = wasCancelled && !error && docs.isEmpty() && keyword == QLatin1String("kw");
                               onMain = VNDispatch::isMainThread();
                               answered = true;
                           });
    ASSERT_TRUE(VNTest::waitUntil([&] { return server.commands.contains(QStringLiteral("LIST -a")); }, 20000));
    handler->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answered.load(); }, 20000));
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(onMain);
}

// A listing larger than any folder's (here 40 MiB of well-formed lines) is
// refused at the bound every drive's listing has, and says so.
TEST_F(FTPFaultyServer, AListingPastItsBoundFailsAndSaysSo)
{
    FakeFTPServer server;
    const qint64 size = QNCloudInterface::maximumListingBytes + (8 << 20);
    server.listing.reserve(size + 64);
    for (int i = 0; server.listing.size() < size; ++i)
        server.listing += "-rw-r--r--   1 u g 10 Jan  1  2020 file" + QByteArray::number(i) + ".txt\r\n";
    const Answer a = list(driveOn(server), QStringLiteral("/"));
    server.listing.clear();
    ASSERT_TRUE(a.error) << a.documents.size() << " entries listed";
    EXPECT_TRUE(a.documents.isEmpty());
    EXPECT_TRUE(a.text().startsWith(QStringLiteral("The folder's listing is larger than 32 MiB"))) << a.text().toStdString();
    // Not taken for a refusal of "LIST -a": no second listing.
    EXPECT_EQ(server.commands.filter(QStringLiteral("LIST")).size(), 1);
}

TEST_F(FTPFaultyServer, FileCutOffInTheMiddleLeavesNothing)
{
    FakeFTPServer server;
    server.file = QByteArray(1000, 'x');
    server.announcedSize = 100000;
    const QString target = temp->path() + QStringLiteral("/cut.bin");
    const Answer a = download(driveOn(server), QStringLiteral("/cut.bin"), target);
    ASSERT_TRUE(a.error);
    EXPECT_FALSE(a.cancelled);
    EXPECT_TRUE(QDir(temp->path()).isEmpty());
}

TEST_F(FTPFaultyServer, APasswordTypedIntoTheDriveUrlStaysOutOfLogAndErrors)
{
    FakeFTPServer server;
    server.file = QByteArray(10, 'x');
    server.announcedSize = 100;
    auto config = driveOn(server);
    config->setUrl(server.url().replace(QStringLiteral("ftp://"), QStringLiteral("ftp://someone:Url-Secret-77@")));
    VNLog::clearCaptured();
    const Answer a = download(config, QStringLiteral("/cut.bin"), temp->path() + QStringLiteral("/cut.bin"));
    ASSERT_TRUE(a.error);
    EXPECT_FALSE(a.text().contains(QStringLiteral("Url-Secret-77")));
    EXPECT_FALSE(a.text().contains(QStringLiteral("Fake-Secret-99")));
    const QString logged = VNLog::captured().join(QLatin1Char('\n'));
    EXPECT_TRUE(logged.contains(QStringLiteral("download url: ftp://127.0.0.1:"))) << logged.toStdString();
    EXPECT_FALSE(logged.contains(QStringLiteral("Url-Secret-77")));
    EXPECT_FALSE(logged.contains(QStringLiteral("Fake-Secret-99")));
}

// An address typed without a scheme is the drive kind's; one with another
// scheme is refused before anything is sent, so no HTTP request with the
// credentials in a header ever leaves.
TEST_F(FTPFaultyServer, DriveUrlWithoutOrWithAForeignScheme)
{
    FakeFTPServer server;
    server.listing = "-rw-r--r--   1 u g 12 Jan  1  2020 visible.txt\r\n";
    auto config = driveOn(server);
    config->setUrl(server.url().mid(int(qstrlen("ftp://"))));
    const Answer bare = list(config, QStringLiteral("/"));
    ASSERT_FALSE(bare.error) << bare.text().toStdString();
    EXPECT_EQ(namesOf(bare.documents), QStringList{QStringLiteral("visible.txt")});

    const qsizetype sent = server.commands.size();
    VNLog::clearCaptured();
    for (const QString &scheme : {QStringLiteral("http://"), QStringLiteral("https://"), QStringLiteral("file://")}) {
        config->setUrl(scheme + server.url().mid(int(qstrlen("ftp://"))));
        const Answer a = list(config, QStringLiteral("/"));
        ASSERT_TRUE(a.error) << scheme.toStdString();
        EXPECT_TRUE(a.text().contains(QStringLiteral("must begin with ftp://, ftps:// or sftp://"))) << a.text().toStdString();
        EXPECT_FALSE(a.text().contains(QStringLiteral("Authorization")));
        EXPECT_FALSE(a.text().contains(QStringLiteral("Fake-Secret-99")));
    }
    EXPECT_EQ(server.commands.size(), sent);
    EXPECT_FALSE(VNLog::captured().join(QLatin1Char('\n')).contains(QStringLiteral("Fake-Secret-99")));
}

// A kept connection the server has closed meanwhile (its idle time-out, a
// restart), found out only as the next command goes: one more try on a new
// connection, not a failed listing.
TEST_F(FTPFaultyServer, AKeptConnectionTheServerClosedCostsOneMoreTry)
{
    for (const QByteArray &goodbye : {QByteArray(), QByteArray("421 Timeout.")}) {
        const char *row = goodbye.isEmpty() ? "closed without a word" : goodbye.constData();
        FakeFTPServer server;
        server.listing = "-rw-r--r--   1 u g 12 Jan  1  2020 visible.txt\r\n";
        auto config = driveOn(server);
        EXPECT_FALSE(list(config, QStringLiteral("/")).error) << row << ": the first listing";
        server.closeAtNextCommand = true;
        server.goodbye = goodbye;
        const Answer again = list(config, QStringLiteral("/"));
        EXPECT_FALSE(again.error) << row << ": " << again.text().toStdString();
        EXPECT_EQ(namesOf(again.documents), QStringList{QStringLiteral("visible.txt")}) << row;
        EXPECT_EQ(server.connections, 2) << row;
    }
}

// The links of a listing are followed over one connection: when the one
// kept from the listing turns out closed, the links go on over the new one
// made for the first of them, not one new connection (and login) each.
TEST_F(FTPFaultyServer, LinksFollowedAfterOneMoreTryGoOnOverItsConnection)
{
    FakeFTPServer server;
    server.listing = "lrwxrwxrwx   1 u g 2 Jan  1  2020 l1 -> t1\r\n"
                     "lrwxrwxrwx   1 u g 2 Jan  1  2020 l2 -> t2\r\n"
                     "lrwxrwxrwx   1 u g 2 Jan  1  2020 l3 -> t3\r\n";
    auto config = driveOn(server);
    ASSERT_FALSE(list(config, QStringLiteral("/")).error);
    const int before = server.connections;
    server.closeAfterListing = true;
    const Answer a = list(config, QStringLiteral("/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_EQ(namesOf(a.documents), (QStringList{"l1", "l2", "l3"}));
    for (const auto &d : a.documents)
        EXPECT_TRUE(d->isDirectory()) << d->displayName().toStdString();
    EXPECT_EQ(server.connections - before, 1);
}

// ---- listings with dot names ----

const QByteArray kPlainListing = "-rw-r--r--   1 u g 12 Jan  1  2020 visible.txt\r\n"
                                 "drwxr-xr-x   2 u g 4096 Jan  1  2020 folder\r\n";

int countOf(const QStringList &commands, const QString &command)
{
    return int(commands.count(command));
}

TEST_F(FTPFaultyServer, AcceptedHiddenListingShowsDotNamesButNeverDotAndDotDot)
{
    FakeFTPServer server;
    server.hiddenListing = "total 5\r\n"
                           "drwxr-xr-x   3 u g 4096 Jan  1  2020 .\r\n"
                           "drwxr-xr-x   9 u g 4096 Jan  1  2020 ..\r\n"
                           "-rw-r--r--   1 u g 3 Jan  1  2020 .profile\r\n"
                           "drwxr-xr-x   2 u g 4096 Jan  1  2020 .config\r\n" +
                           kPlainListing;
    const Answer a = list(driveOn(server), QStringLiteral("/home/"));
    ASSERT_FALSE(a.error) << a.text().toStdString();
    EXPECT_EQ(namesOf(a.documents), (QStringList{QStringLiteral(".profile"), QStringLiteral(".config"),
                                                 QStringLiteral("visible.txt"), QStringLiteral("folder")}));
    auto config = find(a.documents, QStringLiteral(".config"));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->path(), QStringLiteral("/home/.config/"));
    EXPECT_EQ(countOf(server.commands, QStringLiteral("LIST -a")), 1);
    EXPECT_EQ(countOf(server.commands, QStringLiteral("LIST")), 0);
}

// How servers answer "LIST -a", what the listing shows, and whether the
// drive (by any handler) keeps asking for dot names afterwards: only when
// plain LIST reads where "-a" did not does it stop.
TEST_F(FTPFaultyServer, HiddenListingAnswersAndWhatTheDriveLearns)
{
    const QStringList plainNames{QStringLiteral("visible.txt"), QStringLiteral("folder")};
    const QByteArray unreadable = "@@ a format nobody knows @@\r\n";
    const struct {
        const char *what;
        QByteArray reply;
        QByteArray hidden;
        QByteArray plain;
        QStringList names;
        int plainListings;
        bool asksAgain;
    } rows[] = {
        {"500: refused", "500 Unknown command or option", {}, kPlainListing, plainNames, 1, false},
        {"450: -a taken for a file name", "450 -a: No such file or directory", {}, kPlainListing, plainNames, 1, false},
        {"error text as the listing", {}, "ls: invalid option -- 'a'\r\nTry 'ls --help'.\r\n", kPlainListing, plainNames, 1,
         false},
        {"a listing no format reads", {}, unreadable, unreadable, {}, 1, true},
        {"an empty folder", {}, "total 0\r\n", kPlainListing, {}, 0, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        FakeFTPServer server;
        server.hiddenListingReply = row.reply;
        server.hiddenListing = row.hidden;
        server.listing = row.plain;
        const Answer a = list(driveOn(server), QStringLiteral("/"));
        ASSERT_FALSE(a.error) << a.text().toStdString();
        EXPECT_EQ(namesOf(a.documents), row.names);
        EXPECT_EQ(countOf(server.commands, QStringLiteral("LIST")), row.plainListings);
        server.hiddenListingReply.clear();
        server.hiddenListing = "-rw-r--r--   1 u g 3 Jan  1  2020 .profile\r\n";
        const Answer b = list(driveOn(server), QStringLiteral("/home/"));
        ASSERT_FALSE(b.error) << b.text().toStdString();
        EXPECT_EQ(countOf(server.commands, QStringLiteral("LIST -a")), row.asksAgain ? 2 : 1);
    }
}

TEST_F(FTPFaultyServer, FolderThatCannotBeListedAtAllIsAnErrorAndKeepsTheHiddenListing)
{
    FakeFTPServer server;
    server.hiddenListingReply = "550 Permission denied";
    server.plainListingReply = "550 Permission denied";
    const Answer a = list(driveOn(server), QStringLiteral("/locked/"));
    ASSERT_TRUE(a.error);
    EXPECT_FALSE(a.cancelled);
    EXPECT_TRUE(a.documents.isEmpty());

    // Nothing was learned about "-a": the next folder asks for it again.
    server.hiddenListingReply.clear();
    server.hiddenListing = "-rw-r--r--   1 u g 3 Jan  1  2020 .profile\r\n";
    const Answer b = list(driveOn(server), QStringLiteral("/open/"));
    ASSERT_FALSE(b.error) << b.text().toStdString();
    EXPECT_EQ(namesOf(b.documents), QStringList{QStringLiteral(".profile")});
    EXPECT_EQ(countOf(server.commands, QStringLiteral("LIST -a")), 2);
}

}  // namespace
