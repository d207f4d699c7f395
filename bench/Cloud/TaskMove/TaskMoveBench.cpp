// A move task of many small files from this computer onto a server, beside a
// copy task of the same files onto the same server: the move adds the
// removal of each source and the look that its copy is not the source
// itself (one per pair of folders), and should cost little more than the
// copy. And a copy onto a folder that holds every name already (Replace)
// beside one onto an empty folder: what the namesake check adds is one
// check per pair of folders, not one per file.
//   requests: on the folder-backed fake drive (a file server's kind), the
//             calls a copy and a move make, by kind; what the move adds
//             beside its removals is the look's, per destination folder;
//   time:     onto vsftpd (FTP), sshd (SFTP) and Apache mod_dav (WebDAV) on
//             loopback, move ÷ copy and replace ÷ copy as the medians of
//             interleaved rounds, with the main thread's stalls over 50 ms.
// VARNELLO_BENCH_FILES sets the number of 4 KiB files (default 1000),
// VARNELLO_BENCH_ONLY one part ("requests", "ftp", "sftp" or "webdav"),
// --rounds N the rounds (default 3). Not a test: it prints, it never fails
// on numbers.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNTempDirectory.h"
#include "Platform/VNUserDefaults.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

namespace {

using VNBench::Sample;
using Op = QNFakeRemoteHandler::Op;

QString g_stateDir;

QJsonObject peerState(const QString &peer) {
    QFile f(g_stateDir + QLatin1Char('/') + peer + QStringLiteral(".json"));
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

// count files of 4 KiB, f0000.bin…, in a fresh folder.
QStringList writeFiles(const QString &folder, int count) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QStringList paths;
    quint64 x = 0x9e3779b97f4a7c15ULL;
    QByteArray data(4096, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        VNBench::fill(data, x);
        const QString path = folder + QStringLiteral("/f%1.bin").arg(i, 4, 10, QLatin1Char('0'));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return {};
        paths << path;
    }
    return paths;
}

// The main thread's stalls over 50 ms while a task runs.
struct StallWatch {
    QTimer timer;
    QElapsedTimer since;
    int stalls = 0;
    StallWatch() {
        since.start();
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (since.restart() > 50)
                ++stalls;
        });
        timer.start();
    }
};

int g_lastStalls = 0;

// One copy or move task of every file, loose, into the folder: to its end.
bool runTask(const std::shared_ptr<QNTaskManager> &manager, bool move, const QStringList &files,
             const QNDriveConfigPtr &to, const QString &folder) {
    auto local = QNMyDocumentsHandler::makeLocalDriveConfig();
    QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    std::atomic<int> failed{0};
    for (const QString &path : files) {
        auto document = QNDocument::withPath(path);
        document->setSize(4096);
        auto destination = QNDocument::withPath(folder, true);
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(local, to, document, destination))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(local, to, document, destination));
        item->registerListenerForTaskItemCompletedBlock(QStringLiteral("bench"),
                                                        [&failed](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
                                                            if (error || cancelled)
                                                                ++failed;
                                                        });
        task->addTaskItem(item);
    }
    std::atomic<bool> done{false};
    task->registerListenerForTaskCompletedBlock(QStringLiteral("bench"), [&done] { done = true; });
    StallWatch watch;
    manager->addTask(task);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    g_lastStalls = watch.stalls;
    if (failed)
        std::fprintf(stderr, "%d items failed\n", failed.load());
    return failed == 0;
}

void requestCounts(const std::shared_ptr<QNTaskManager> &manager, const QString &home, int count) {
    QNFakeRemoteHandler::registerWithFactory();
    const QString remote = home + QStringLiteral("/fake");
    auto drive = QNFakeRemoteHandler::makeDriveConfig(remote);
    drive->setUrl(QStringLiteral("fake://server") + QDir(remote).absolutePath());
    drive->setIsFTP(true);  // a file server: the move looks before it removes
    const Op ops[] = {Op::List, Op::CreateFolder, Op::Upload, Op::Rename, Op::Remove};
    const char *names[] = {"list", "create folder", "upload", "rename", "remove"};
    std::printf("Requests to the server, %d loose files onto one folder\n", count);
    for (const char *kind : {"copy", "move", "replace"}) {
        const bool move = kind == std::string("move");
        QNFakeRemoteHandler::resetBehaviours();
        QDir(remote).removeRecursively();
        QDir().mkpath(remote + QStringLiteral("/in"));
        if (kind == std::string("replace"))
            writeFiles(remote + QStringLiteral("/in"), count);  // every name there already
        const QStringList files = writeFiles(home + QStringLiteral("/fake-source"), count);
        runTask(manager, move, files, drive, QStringLiteral("/in"));
        std::printf("  %-7s", kind);
        for (int i = 0; i < 5; ++i)
            std::printf("  %s %d", names[i], QNFakeRemoteHandler::callCount(ops[i]));
        std::printf("\n");
    }
    std::printf("  (the move's sources are on this computer: their removals are no requests)\n");
    std::fflush(stdout);
}

void timeOnto(const std::shared_ptr<QNTaskManager> &manager, const char *what, const QNDriveConfigPtr &drive,
              const QString &serverRoot, const QString &home, int count, int rounds) {
    const QString source = home + QStringLiteral("/source");
    int n = 0;
    QList<int> stalls[3];
    const auto sides = VNBench::interleave(
        rounds, {{QStringLiteral("move"),
                  [&] {
                      const QString folder = QStringLiteral("/work/move%1").arg(n++);
                      QDir().mkpath(serverRoot + folder);
                      const QStringList files = writeFiles(source, count);
                      Sample s = VNBench::measure([&] { return runTask(manager, true, files, drive, folder); });
                      stalls[0] << g_lastStalls;
                      s.ok = s.ok && QDir(source).entryList(QDir::Files).isEmpty();
                      QDir(serverRoot + folder).removeRecursively();
                      return s;
                  }},
                 {QStringLiteral("copy"),
                  [&] {
                      const QString folder = QStringLiteral("/work/copy%1").arg(n++);
                      QDir().mkpath(serverRoot + folder);
                      const QStringList files = writeFiles(source, count);
                      Sample s = VNBench::measure([&] { return runTask(manager, false, files, drive, folder); });
                      stalls[1] << g_lastStalls;
                      QDir(serverRoot + folder).removeRecursively();
                      return s;
                  }},
                 {QStringLiteral("replace"),
                  [&] {
                      const QString folder = QStringLiteral("/work/replace%1").arg(n++);
                      // The server's account owns what it replaces.
                      writeFiles(serverRoot + folder, count);
                      const QStringList files = writeFiles(source, count);
                      Sample s = VNBench::measure([&] { return runTask(manager, false, files, drive, folder); });
                      stalls[2] << g_lastStalls;
                      QDir(serverRoot + folder).removeRecursively();
                      return s;
                  }}});
    VNBench::printComparison(what, QStringLiteral("move"), sides[0], QStringLiteral("copy"), sides[1]);
    VNBench::printComparison(what, QStringLiteral("replace"), sides[2], QStringLiteral("copy"), sides[1]);
    auto most = [](const QList<int> &values) { return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end()); };
    std::printf("  main thread stalls over 50 ms: move %d, copy %d, replace %d (most in a round)\n", most(stalls[0]),
                most(stalls[1]), most(stalls[2]));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/move-bench-XXXXXX"));
    // The servers serve folders below this one as the test account.
    ::chmod(QFile::encodeName(home.path()).constData(), 0755);
    ::umask(0);
    VNTempDirectory::setPath(home.path() + QStringLiteral("/tmp"));
    VNUserDefaults::setStandardFile(home.path() + QStringLiteral("/app/defaults.ini"));
    QNFTPHandler::setKnownHostsFile(home.path() + QStringLiteral("/app/known_hosts"));
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNFTPHandler::registerHandler();
    QNWebDAVHandler::registerWithFactory();
    g_stateDir = home.path() + QStringLiteral("/peers");
    const int count = qEnvironmentVariableIntValue("VARNELLO_BENCH_FILES") > 0
                          ? qEnvironmentVariableIntValue("VARNELLO_BENCH_FILES")
                          : 1000;
    const int rounds = VNBench::roundsFrom(app.arguments(), 3);
    const QString only = qEnvironmentVariable("VARNELLO_BENCH_ONLY");
    auto runs = [&only](const char *part) { return only.isEmpty() || only == QLatin1String(part); };
    auto manager = std::make_shared<QNTaskManager>();

    if (runs("requests"))
        requestCounts(manager, home.path(), count);

    std::printf("Move ÷ copy of %d loose files of 4 KiB from this computer, on loopback\n", count);
    if ((runs("ftp") || runs("sftp")) && VNBench::peerctl(g_stateDir, QStringLiteral("start"), QStringLiteral("vsftpd")) &&
        VNBench::peerctl(g_stateDir, QStringLiteral("start"), QStringLiteral("sshd"))) {
        const QJsonObject ftp = peerState(QStringLiteral("vsftpd"));
        const QJsonObject ssh = peerState(QStringLiteral("sshd"));
        for (bool sftp : {false, true}) {
            if (!runs(sftp ? "sftp" : "ftp"))
                continue;
            const QJsonObject &state = sftp ? ssh : ftp;
            auto drive = QNDriveConfig::create();
            drive->setIsFTP(true);
            drive->setUrl(state.value(QStringLiteral("url")).toString());
            drive->setUsername(state.value(QStringLiteral("user")).toString());
            drive->setPassword(ftp.value(QStringLiteral("password")).toString());
            // The server's folders as its account makes them.
            const QString root = state.value(QStringLiteral("root")).toString();
            timeOnto(manager, sftp ? "SFTP (sshd)" : "FTP (vsftpd)", drive, root, home.path(), count, rounds);
        }
    }
    if (runs("webdav") && VNBench::peerctl(g_stateDir, QStringLiteral("start"), QStringLiteral("webdav"))) {
        const QJsonObject dav = peerState(QStringLiteral("webdav"));
        auto drive = QNDriveConfig::create();
        drive->setIsWebDAV(true);
        drive->setUrl(dav.value(QStringLiteral("http_url")).toString());
        drive->setUsername(dav.value(QStringLiteral("user")).toString());
        drive->setPassword(dav.value(QStringLiteral("password")).toString());
        timeOnto(manager, "WebDAV (Apache mod_dav)", drive, dav.value(QStringLiteral("root_dir")).toString(), home.path(),
                 count, rounds);
    }
    for (const char *peer : {"vsftpd", "sshd", "webdav"})
        VNBench::peerctl(g_stateDir, QStringLiteral("stop"), QLatin1String(peer));
    return 0;
}
