// Replacing a file on a server account that may write files but not make
// folders (vsftpd refusing MKD, sshd's SFTP refusing mkdir, Apache, nginx
// and lighttpd refusing MKCOL): the check folder that would tell whether the
// namesake is the file itself cannot be made. A copy goes on, its upload
// going up under a temporary name and taking the file's name only when
// whole (a WebDAV upload by PUT and MOVE): even when the namesake is the
// file itself (b is a link to a), that file is never cut short. Where the
// server then refuses the MOVE onto the name (a folder refusing MOVE, or
// the namesake locked by someone else) the temporary file goes, the
// namesake stays as it was, and the item fails naming why. A move goes on
// the same way and the file arrives whole, but as it could not be told
// whether the copy is its source, the source stays and the end report says
// so (where the namesake is the file itself, removing it would lose it).
// The same when the file comes from the local disk, from the very folder
// the server serves (one storage through two drives).
// And a folder from there merged into its namesake on Apache, whose merged
// sub-folder "nofolders" makes no check folder: no file of it goes before
// that check has answered, so each goes up under a temporary name (no PUT
// onto its own name in the server's log). Judged on the server's disk.
#include "ServerScratch.h"
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNUtils.h"
#include "Net/NRHTTPRequest.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using ServerScratch::Server;

// What the server does besides refusing to make folders.
enum class Refusal {
    None,
    Move,            // refuses MOVE too (its "nomoves" folder)
    NamesakeLocked,  // the namesake holds another client's write lock
};

struct Row {
    Server server;
    bool move;
    bool alias;  // b is a link to a: the namesake is the file itself
    Refusal refusal;
    bool fromLocal = false;  // the file is dropped from the local disk, where the server keeps it
    bool tree = false;       // a folder is dropped, whose merged sub-folder makes no check folder
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    const Row &row = info.param;
    return std::string(ServerScratch::nameOf(row.server)) + (row.move ? "Move" : "Copy") + (row.tree ? "Tree" : "") +
           (row.fromLocal ? "FromTheLocalDisk" : "") + (row.alias ? "OntoItself" : "OntoAnother") +
           (row.refusal == Refusal::Move             ? "MoveRefused"
            : row.refusal == Refusal::NamesakeLocked ? "NamesakeLocked"
                                                     : "");
}

const char *familyOf(Server server) {
    return server == Server::Apache ? "apache" : server == Server::Nginx ? "nginx" : "lighttpd";
}

bool isWebDAV(Server server) {
    return server == Server::Apache || server == Server::Nginx || server == Server::Lighttpd;
}

// Takes an exclusive write lock on the file at url for another client:
// the server's status (200 when held).
int lockForAnotherClient(const QUrl &url) {
    auto request = NRHTTPRequest::requestWithURL(url);
    request->setRequestMethod(QStringLiteral("LOCK"));
    request->setUsername(WebDAVPeer::text(QStringLiteral("user")));
    request->setPassword(WebDAVPeer::text(QStringLiteral("password")));
    request->addRequestHeader(QStringLiteral("Depth"), QStringLiteral("0"));
    request->addRequestHeader(QStringLiteral("Timeout"), QStringLiteral("Second-600"));
    request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("text/xml; charset=\"utf-8\""));
    request->appendPostData(QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/>"
        "</D:lockscope><D:locktype><D:write/></D:locktype><D:owner>another client</D:owner></D:lockinfo>"));
    request->startSynchronous();
    return request->responseStatusCode();
}

class UnmadeCheck : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        temp = VNTest::makeTempDir();
        ServerScratch::setUpHandlers(*temp);
        const Row row = GetParam();
        if (isWebDAV(row.server)) {
            const QJsonObject peer = WebDAVPeer::server(familyOf(row.server));
            // A tree's top folder makes check folders; its sub-folder does not.
            const QString base =
                row.tree ? QString()
                         : peer.value(row.refusal == Refusal::Move ? QStringLiteral("nomoves") : QStringLiteral("nofolders"))
                               .toString();
            ASSERT_TRUE(row.tree || !base.isEmpty()) << "the webdav peer has no such folder on " << familyOf(row.server);
            drive = WebDAVPeer::drive(peer.value(QStringLiteral("url")).toString());
            drivePath = base + QStringLiteral("/unmade-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
            onDisk = peer.value(QStringLiteral("dir")).toString() + drivePath;
        } else {
            const auto kind = row.server == Server::FTP ? FTPPeer::Kind::FTP : FTPPeer::Kind::SFTP;
            const QString url = FTPPeer::state(kind).value(QStringLiteral("nofolders_url")).toString();
            ASSERT_FALSE(url.isEmpty()) << "the test peer runs no server that refuses to make folders";
            drive = FTPPeer::drive(kind);
            drive->setUrl(url);
            drivePath = QNUtils::withoutTrailingSlashes(FTPPeer::makeScratchFolder(kind));
            onDisk = FTPPeer::root(kind) + drivePath;
            owner = FTPPeer::root(kind);
        }
        for (const QString &file : files()) {
            ASSERT_TRUE(VNTest::writeFile(onDisk + "/a/" + file, row.alias ? "the only copy" : "new"));
            if (!row.alias)
                ASSERT_TRUE(VNTest::writeFile(onDisk + "/b/" + file, "old"));
        }
        if (row.alias)
            ASSERT_EQ(::symlink("a", QFile::encodeName(onDisk + "/b").constData()), 0);
        ServerScratch::giveTo(onDisk, owner);
        if (row.refusal == Refusal::NamesakeLocked)
            ASSERT_EQ(lockForAnotherClient(QNWebDAVHandler::urlByAppendingPath(drive->url(), drivePath + "/b/x.txt")),
                      200);
    }

    void TearDown() override {
        if (!onDisk.isEmpty())
            QDir(onDisk).removeRecursively();
    }

    // The files dropped (below a/), each with a namesake below b/.
    QStringList files() const {
        return GetParam().tree ? QStringList{"proj/x.txt", "proj/nofolders/y.txt"} : QStringList{"x.txt"};
    }

    std::unique_ptr<QTemporaryDir> temp;
    QNDriveConfigPtr drive;
    QString drivePath;
    QString onDisk;
    QString owner;
};

TEST_P(UnmadeCheck, ACopyWithTemporaryNamesGoesOnAndEverythingElseFailsSayingWhy) {
    const Row row = GetParam();
    auto from = row.fromLocal ? QNMyDocumentsHandler::makeLocalDriveConfig() : drive;
    const QString dropped = row.tree ? QStringLiteral("/a/proj") : QStringLiteral("/a/x.txt");
    auto item = QNDocument::withPath((row.fromLocal ? onDisk : drivePath) + dropped, row.tree);
    item->setSize(row.tree ? 0 : QFileInfo(onDisk + dropped).size());
    auto into = QNDocument::withPath(drivePath + QStringLiteral("/b"), true);
    const QString log = WebDAVPeer::text(QStringLiteral("workdir")) + QStringLiteral("/access.log");
    const qint64 logBefore = QFileInfo(log).size();
    QNTaskPtr task = row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    QNTaskItemPtr taskItem = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, drive, item, into))
                                      : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, drive, item, into));
    const auto run = VNTest::runItem(task, taskItem);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.reports, 1);
    const QString said = run.error ? run.error->localizedDescription() : QString();

    // Nothing of the check or of an upload stays.
    for (const QString &entry : VNTest::listTree(onDisk))
        EXPECT_TRUE(!entry.contains(QLatin1String("varnello-check-")) && !entry.contains(QLatin1String(".part")))
            << entry.toStdString();
    if (row.refusal == Refusal::None) {
        // Gone on: every file arrived whole; a move's source stays, as it
        // could not be told apart from its copy, and the report says so.
        EXPECT_FALSE(run.error) << said.toStdString();
        for (const QString &file : files()) {
            EXPECT_EQ(VNTest::readFile(onDisk + "/" + (row.alias ? "a/" : "b/") + file),
                      QByteArray(row.alias ? "the only copy" : "new"))
                << file.toStdString();
            EXPECT_EQ(VNTest::readFile(onDisk + "/a/" + file), QByteArray(row.alias ? "the only copy" : "new"))
                << file.toStdString();
        }
        const QString report = task->leftOut().join(QLatin1Char(' '));
        EXPECT_EQ(report.contains(QLatin1String("could not be told")), row.move) << report.toStdString();
        if (row.tree) {
            // Built only once the tree's check answered: each under a
            // temporary name. (Apache writes a line as each request ends.)
            const auto puts = [&] {
                QFile served(log);
                QList<QByteArray> lines;
                if (served.open(QIODevice::ReadOnly) && served.seek(logBefore))
                    for (const QByteArray &line : served.readAll().split('\n'))
                        if (line.contains(("\"PUT " + drivePath + "/b/").toUtf8()))
                            lines << line;
                return lines;
            };
            EXPECT_TRUE(VNTest::waitUntil([&] { return puts().size() >= files().size(); }, 10000));
            for (const QByteArray &line : puts())
                EXPECT_TRUE(line.contains(".part")) << "a PUT onto the file's own name: " << line.toStdString();
        }
        return;
    }
    // The source is whole.
    EXPECT_EQ(VNTest::readFile(onDisk + dropped), QByteArray(row.alias ? "the only copy" : "new"));
    ASSERT_TRUE(run.error) << "no failure";
    // The server's refusal of the MOVE onto the name, and what became of the
    // temporary file.
    EXPECT_TRUE(said.contains(QLatin1String("could not take its own name")) &&
                said.contains(QLatin1String("to MOVE")) &&
                said.contains(QLatin1String("The temporary file was removed")))
        << said.toStdString();
    if (row.refusal == Refusal::NamesakeLocked)
        EXPECT_TRUE(said.contains(QLatin1String("423"))) << said.toStdString();
    if (!row.alias)
        EXPECT_EQ(VNTest::readFile(onDisk + "/b/x.txt"), QByteArray("old"));
}

// lighttpd lists nothing in a linked folder (it answers 403 for the folder
// itself), so no namesake shows there and the file is never replaced by
// transfer: it has no rows onto itself here.
bool listsLinkedFolders(Server server) {
    return server != Server::Lighttpd;
}

std::vector<Row> rows() {
    std::vector<Row> out;
    for (Server server : {Server::FTP, Server::SFTP, Server::Apache, Server::Nginx, Server::Lighttpd})
        for (bool move : {false, true})
            for (bool alias : {false, true})
                if (!alias || listsLinkedFolders(server))
                    out.push_back({server, move, alias, Refusal::None});
    for (Server server : {Server::Apache, Server::Nginx, Server::Lighttpd})
        for (bool alias : {false, true})
            if (!alias || listsLinkedFolders(server))
                out.push_back({server, false, alias, Refusal::Move});
    // Locks: Apache's mod_dav keeps them (nginx's dav module has none).
    for (bool alias : {false, true})
        out.push_back({Server::Apache, false, alias, Refusal::NamesakeLocked});
    // From the local disk, where the server keeps the file.
    for (Server server : {Server::FTP, Server::SFTP, Server::Apache, Server::Nginx, Server::Lighttpd})
        for (bool move : {false, true})
            for (bool alias : {false, true})
                if (!alias || listsLinkedFolders(server))
                    out.push_back({server, move, alias, Refusal::None, true});
    // A folder from there, merged into its namesake.
    for (bool move : {false, true})
        out.push_back({Server::Apache, move, false, Refusal::None, true, true});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Servers, UnmadeCheck, ::testing::ValuesIn(rows()), rowName);

}  // namespace
