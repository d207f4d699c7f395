// The WebDAV drive against three server families (Apache mod_dav, nginx with
// dav-ext, lighttpd mod_webdav), each checked on the server's own disk:
// dates, folders created, renamed and removed, copy tasks there and back,
// redirected writes, and uploads onto an existing file cut
// short by a cancel or by the server dying.
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveOperation.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"
#include "support/TaskRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTimeZone>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace WebDAVPeer;

namespace {

QNDriveConfigPtr localDrive() { return QNMyDocumentsHandler::makeLocalDriveConfig(); }

QNDocumentPtr file(const QString &path) { return QNDocument::withPath(path, false); }
QNDocumentPtr folder(const QString &path) { return QNDocument::withPath(path, true); }

using VNTest::compareTrees;
using VNTest::listTree;

QByteArray pattern(qsizetype size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(((quint32(i) + seed) * 7919u) >> 3);
    return data;
}

void writeSampleTree(const QString &root) {
    VNTest::writeFile(root + "/top.txt", "top level\n");
    VNTest::writeFile(root + "/empty.bin", QByteArray());
    VNTest::writeFile(root + "/.hidden", "dot file");
    VNTest::writeFile(root + "/level 1/big file.bin", pattern(3 * 1024 * 1024 + 333, 1));
    VNTest::writeFile(root + QString::fromUtf8("/level 1/nïce naмe 50%.txt"), "unicode");
    VNTest::writeFile(root + "/level 1/level 2/deep.txt", "deep");
    QDir().mkpath(root + "/level 1/empty folder");
}

// Runs one copy task item and answers its error (null on success).
VNErrorPtr copyWithTask(const std::shared_ptr<QNTaskManager> &manager, const QNDriveConfigPtr &from,
                        const QNDriveConfigPtr &to, const QNDocumentPtr &source, const QNDocumentPtr &target) {
    auto task = std::make_shared<QNCopyTask>();
    const auto run = VNTest::runItem(task, std::make_shared<QNCopyTaskItem>(from, to, source, target), 120000, manager);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(run.reports, 1);
    EXPECT_FALSE(QFileInfo::exists(task->tempDirectory()));
    return run.error;
}

class WebDAVServers : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        const QJsonObject server = WebDAVPeer::server(GetParam());
        ASSERT_FALSE(server.isEmpty()) << "the webdav peer runs no " << GetParam();
        serverUrl = server.value("url").toString();
        serverDir = server.value("dir").toString();
        local = VNTest::makeTempDir();
        manager = std::make_shared<QNTaskManager>();
    }

    // A fresh folder on the server's disk (and its drive path).
    QString fresh(const QString &name) {
        const QString path = serverDir + '/' + name;
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        return path;
    }

    template <typename Start>
    AnswerPtr call(Start start, int timeoutMs = 30000) {
        auto answer = std::make_shared<Answer>();
        start(answer);
        EXPECT_TRUE(waitForAnswer(answer, timeoutMs));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    std::shared_ptr<QNWebDAVHandler> handler() { return handlerFor(drive(serverUrl)); }

    QString serverUrl, serverDir;
    std::unique_ptr<QTemporaryDir> local;
    std::shared_ptr<QNTaskManager> manager;
};

TEST_P(WebDAVServers, ListingShowsTheLastChangeSizeAndKind) {
    const QString dir = fresh("dates");
    ASSERT_TRUE(VNTest::writeFile(dir + "/a.txt", "12345"));
    QDir().mkpath(dir + "/sub");
    const QDateTime when(QDate(2021, 6, 15), QTime(10, 20, 30), Qt::UTC);
    const utimbuf times{time_t(when.toSecsSinceEpoch()), time_t(when.toSecsSinceEpoch())};
    ASSERT_EQ(::utime(QFile::encodeName(dir + "/a.txt").constData(), &times), 0);

    auto listing = call([&](auto a) { handler()->listDocuments(folder("/dates"), QString(), listAnswer(a)); });
    ASSERT_FALSE(listing->error) << listing->errorText().toStdString();
    ASSERT_EQ(listing->documents.size(), 2);
    QMap<QString, QNDocumentPtr> byName;
    for (const auto &d : listing->documents)
        byName.insert(d->displayName(), d);
    ASSERT_TRUE(byName.contains("a.txt") && byName.contains("sub"));
    EXPECT_FALSE(byName["a.txt"]->isDirectory());
    EXPECT_EQ(byName["a.txt"]->size(), 5);
    EXPECT_EQ(byName["a.txt"]->path(), "/dates/a.txt");
    EXPECT_EQ(byName["a.txt"]->date().toUTC(), when);
    EXPECT_TRUE(byName["sub"]->isDirectory());
}

TEST_P(WebDAVServers, FoldersAreCreatedRenamedAndRemovedOnDisk) {
    const QString dir = fresh("folders");
    auto created = call([&](auto a) { handler()->createFolder("new one", folder("/folders"), documentAnswer(a)); });
    ASSERT_FALSE(created->error) << created->errorText().toStdString();
    ASSERT_TRUE(QFileInfo(dir + "/new one").isDir());
    ASSERT_TRUE(VNTest::writeFile(dir + "/new one/inside.txt", "inside"));

    auto renamed = call([&](auto a) {
        handler()->rename(folder("/folders/new one"), folder("/folders/renamed"), documentAnswer(a));
    });
    ASSERT_FALSE(renamed->error) << renamed->errorText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir + "/new one"));
    EXPECT_EQ(VNTest::readFile(dir + "/renamed/inside.txt"), "inside");

    auto removed = call([&](auto a) { handler()->remove(folder("/folders/renamed"), documentAnswer(a)); });
    ASSERT_FALSE(removed->error) << removed->errorText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir + "/renamed"));

    // Refusals reach the user with the server's status in the description.
    auto twice = call([&](auto a) { handler()->remove(folder("/folders/renamed"), documentAnswer(a)); });
    ASSERT_TRUE(twice->error);
    EXPECT_TRUE(twice->error->localizedDescription().contains("404")) << twice->error->localizedDescription().toStdString();
}

TEST_P(WebDAVServers, FoldersAreCopiedAndMovedInsideTheServer) {
    const QString dir = fresh("inside");
    VNTest::writeFile(dir + "/src/tree/a.txt", "a");
    VNTest::writeFile(dir + "/src/tree/b/c.txt", "c");
    QDir().mkpath(dir + "/copied");
    QDir().mkpath(dir + "/moved");
    auto copied = call([&](auto a) { handler()->localCopy(folder("/inside/src/tree"), folder("/inside/copied"), documentAnswer(a)); });
    ASSERT_FALSE(copied->error) << copied->errorText().toStdString();
    EXPECT_EQ(compareTrees(dir + "/src/tree", dir + "/copied/tree"), QString());
    auto moved = call([&](auto a) { handler()->localMove(folder("/inside/src/tree"), folder("/inside/moved"), documentAnswer(a)); });
    ASSERT_FALSE(moved->error) << moved->errorText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir + "/src/tree"));
    EXPECT_EQ(compareTrees(dir + "/copied/tree", dir + "/moved/tree"), QString());
}

TEST_P(WebDAVServers, FolderTreeToTheServerAndBackIsByteIdentical) {
    const QString source = local->path() + "/tree";
    writeSampleTree(source);
    const QString dir = fresh("e2e");
    auto webdav = drive(serverUrl);
    VNErrorPtr up = copyWithTask(manager, localDrive(), webdav, folder(source), folder("/e2e"));
    ASSERT_FALSE(up) << up->localizedDescription().toStdString();
    EXPECT_EQ(compareTrees(source, dir + "/tree").toStdString(), "");

    // nginx's PROPFIND leaves dot files out of listings: they cannot come back.
    if (QByteArray(GetParam()) == "nginx")
        QFile::remove(source + "/.hidden");
    const QString back = local->path() + "/back";
    QDir().mkpath(back);
    VNErrorPtr down = copyWithTask(manager, webdav, localDrive(), folder("/e2e/tree"), folder(back));
    ASSERT_FALSE(down) << down->localizedDescription().toStdString();
    EXPECT_EQ(compareTrees(source, back + "/tree").toStdString(), "");
}

// A server redirects /redirected/ to /elsewhere/. A write that is redirected
// must fail: the engine would otherwise read the target with a GET and call
// that a success.
TEST_P(WebDAVServers, RedirectedWritesFailAndChangeNothing) {
    const QString elsewhere = fresh("elsewhere");
    fresh("redirected");
    ASSERT_TRUE(VNTest::writeFile(elsewhere + "/note.txt", "server copy"));
    const QString source = local->path() + "/note.txt";
    ASSERT_TRUE(VNTest::writeFile(source, "new content"));

    auto put = call([&](auto a) {
        handler()->upload(file(source), folder("/redirected"), nullptr, documentAnswer(a));
    });
    ASSERT_TRUE(put->error);
    EXPECT_TRUE(put->error->localizedDescription().contains("30")) << put->error->localizedDescription().toStdString();
    auto removed = call([&](auto a) { handler()->remove(file("/redirected/note.txt"), documentAnswer(a)); });
    ASSERT_TRUE(removed->error);
    EXPECT_EQ(VNTest::readFile(elsewhere + "/note.txt"), "server copy");
}

// Uploads onto an existing file that are cut short leave either the old file
// whole or the new one whole under the real name, never a truncated file.
// Each test runs a server of its own, which may die, and interrupts the
// upload once the server has written a few MiB of it to its disk.
class ReplacingUpload : public WebDAVServers {
protected:
    void SetUp() override {
        WebDAVServers::SetUp();
        if (HasFatalFailure())
            return;
        oldData = pattern(256 * 1024, 3);
        source = local->path() + "/target.bin";
        ASSERT_TRUE(VNTest::writeFile(source, pattern(64 * 1024 * 1024, 4)));
        work = VNTest::makeTempDir();
        // Apache's workers run under another account and must reach it.
        ::chmod(QFile::encodeName(work->path()).constData(), 0755);
        QProcess starter;
        starter.start("python3", {VNTest::peersFolder() + "/webdav_servers.py", GetParam(), work->path()});
        ASSERT_TRUE(starter.waitForFinished(60000));
        const QJsonObject server = QJsonDocument::fromJson(starter.readAllStandardOutput()).object();
        ASSERT_FALSE(server.isEmpty()) << starter.readAllStandardError().toStdString();
        group = pid_t(server.value("pid").toInt());
        ownUrl = server.value("url").toString();
        ownDir = server.value("dir").toString();
        ASSERT_TRUE(VNTest::writeFile(ownDir + "/target.bin", oldData));
    }

    void TearDown() override {
        if (group > 0)
            ::kill(-group, SIGKILL);
    }

    // Bytes in all files below the server's folder (its temporary files too).
    qint64 bytesOnDisk() const {
        qint64 total = 0;
        QDirIterator it(work->path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            total += it.fileInfo().size();
        }
        return total;
    }

    // Bytes the server's processes have read and written so far (sockets
    // and files alike): some servers keep the body in unlinked files.
    qint64 serverTraffic(const QList<int> &pids) const {
        qint64 total = 0;
        for (int pid : pids) {
            QFile io(QStringLiteral("/proc/%1/io").arg(pid));
            if (!io.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &line : io.readAll().split('\n'))
                if (line.startsWith("rchar:") || line.startsWith("wchar:"))
                    total += line.mid(6).trimmed().toLongLong();
        }
        return total;
    }

    QList<int> serverProcesses() const {
        QList<int> pids;
        for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            bool ok = false;
            const int pid = entry.toInt(&ok);
            if (ok && ::getpgid(pid) == group)
                pids << pid;
        }
        return pids;
    }

    // Uploads the new "target.bin" over the old one and calls interrupt on
    // the main thread once the server has taken in 4 MiB of it.
    AnswerPtr uploadAndInterrupt(const std::function<void(QNWebDAVHandler &)> &interrupt) {
        auto webdav = handlerFor(drive(ownUrl));
        auto answer = std::make_shared<Answer>();
        const QList<int> pids = serverProcesses();
        const qint64 before = bytesOnDisk(), trafficBefore = serverTraffic(pids);
        const qint64 enough = 4 * 1024 * 1024;
        bool interrupted = false;
        webdav->upload(file(source), folder("/"), nullptr, documentAnswer(answer));
        EXPECT_TRUE(VNTest::waitUntil([&] {
            if (!interrupted &&
                (bytesOnDisk() > before + enough || serverTraffic(pids) > trafficBefore + enough)) {
                interrupted = true;
                interrupt(*webdav);
            }
            return answer->count > 0;
        }, 60000));
        EXPECT_TRUE(interrupted) << "the upload finished before it could be interrupted";
        VNTest::spin(500);  // the server finishes with the broken request
        return answer;
    }

    void expectOldOrNewWhole() {
        const QByteArray now = VNTest::readFile(ownDir + "/target.bin");
        EXPECT_TRUE(now == oldData || now == VNTest::readFile(source))
            << "a file of " << now.size() << " bytes under the real name";
    }

    QByteArray oldData;
    QString source, ownUrl, ownDir;
    std::unique_ptr<QTemporaryDir> work;
    pid_t group = 0;
};

TEST_P(ReplacingUpload, CancelledUploadKeepsAWholeFile) {
    auto answer = uploadAndInterrupt([](QNWebDAVHandler &h) { h.cancel(); });
    EXPECT_TRUE(answer->cancelled);
    expectOldOrNewWhole();
}

TEST_P(ReplacingUpload, ServerKilledMidUploadKeepsAWholeFile) {
    const pid_t server = group;
    auto answer = uploadAndInterrupt([server](QNWebDAVHandler &) { ::kill(-server, SIGKILL); });
    EXPECT_TRUE(answer->error);
    expectOldOrNewWhole();
}

std::string familyName(const ::testing::TestParamInfo<const char *> &info) {
    return info.param;
}

// "apachegzip": Apache compressing its PROPFIND replies.
INSTANTIATE_TEST_SUITE_P(Families, WebDAVServers, ::testing::Values("apache", "nginx", "lighttpd", "apachegzip"),
                         familyName);
INSTANTIATE_TEST_SUITE_P(Families, ReplacingUpload, ::testing::Values("apache", "nginx", "lighttpd"), familyName);

// --- Apache only: what its access log shows -------------------------------------

// The access-log lines Apache wrote since `from` about the folder that were
// not 401 challenges (other tests may use the server meanwhile).
QStringList servedSince(qint64 from, const QString &path) {
    const QString log = text("workdir") + "/access.log";
    VNTest::spin(200);  // Apache writes its line as the request ends
    QFile f(log);
    f.open(QIODevice::ReadOnly);
    f.seek(from);
    QStringList lines;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.contains(path.toUtf8()) && !line.contains("\" 401 "))
            lines << QString::fromUtf8(line);
    return lines;
}

qint64 logSize() {
    return QFileInfo(text("workdir") + "/access.log").size();
}

class WebDAVApacheLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
    }
};

TEST_F(WebDAVApacheLog, CopyTaskAndMoveInsideTheServerSendTheTreeInOneRequest) {
    for (const QString method : {"COPY", "MOVE"}) {
        const QString name = "e2e-" + method.toLower();
        const QString server = freshFolder("root_dir", name);
        for (const QString &tree : {server + "/src/tree", server + "/expected"}) {
            VNTest::writeFile(tree + "/a.txt", "a");
            VNTest::writeFile(tree + "/b/c.txt", "c");
        }
        QDir().mkpath(server + "/dst");
        auto webdav = drive(url("http"));
        const qint64 before = logSize();
        VNErrorPtr error;
        if (method == "COPY") {
            error = copyWithTask(std::make_shared<QNTaskManager>(), webdav, webdav, folder("/" + name + "/src/tree"),
                                 folder("/" + name + "/dst"));
        } else {
            std::atomic<int> answers{0};
            auto operation = std::make_shared<QNMoveOperation>(webdav, folder("/" + name + "/src/tree"),
                                                               folder("/" + name + "/dst"),
                                                               [&](QNDocumentPtr, VNErrorPtr e, bool) {
                                                                   error = e;
                                                                   ++answers;
                                                               });
            operation->start();
            ASSERT_TRUE(VNTest::waitUntil([&] { return answers.load() > 0; }, 20000));
            EXPECT_FALSE(QFileInfo::exists(server + "/src/tree"));
        }
        ASSERT_FALSE(error) << method.toStdString();
        EXPECT_EQ(compareTrees(server + "/expected", server + "/dst/tree"), QString());
        // The task looks at the destination before the server copies (a
        // namesake there is not left to the server); the tree goes in one.
        const QStringList served = servedSince(before, "/" + name + "/");
        const QStringList expected = method == "COPY" ? QStringList{"\"PROPFIND /" + name + "/dst/ ", "\"COPY /" + name + "/src/tree/ "}
                                                      : QStringList{"\"MOVE /" + name + "/src/tree/ "};
        ASSERT_EQ(served.size(), expected.size()) << served.join('\n').toStdString();
        for (qsizetype i = 0; i < expected.size(); ++i)
            EXPECT_TRUE(served.at(i).contains(expected.at(i))) << served.at(i).toStdString();
    }
}

// A folder whose member the server cannot delete: Apache answers 207 with the
// member's 403; the removal must fail and say so.
TEST_F(WebDAVApacheLog, PartlyFailedDeleteIsAnError) {
    if (text("server_account").isEmpty())
        GTEST_SKIP() << "Apache runs as this user: it can delete what we can";
    const QString server = freshFolder("root_dir", "partial-delete");
    VNTest::writeFile(server + "/locked/inner/kept.txt", "kept");
    QFile::setPermissions(server + "/locked/inner", QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                        QFileDevice::ReadOther | QFileDevice::ExeOther);
    auto answer = std::make_shared<Answer>();
    handlerFor(drive(url("http")))->remove(folder("/partial-delete/locked"), documentAnswer(answer));
    ASSERT_TRUE(waitForAnswer(answer));
    ASSERT_TRUE(answer->error);
    EXPECT_TRUE(answer->error->localizedDescription().contains("403")) << answer->error->localizedDescription().toStdString();
    EXPECT_EQ(VNTest::readFile(server + "/locked/inner/kept.txt"), "kept");
    QFile::setPermissions(server + "/locked/inner", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

}  // namespace
