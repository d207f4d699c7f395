// Many small files through the task engine beside the command-line clients
// on the same servers: 1,000 local files of 4 KiB copied onto vsftpd (FTP
// and FTPS) beside one `curl -T "{...}"`, and onto sshd beside `sftp -b`
// with a put line per file and beside curl; the same files copied back down
// beside the clients' downloads (sftp's and curl's over SFTP); and a move of
// them beside the copy. For each direction, ours ÷ the better peer (the
// one with the lower median) closes the report, with the fastest runs of
// every side. Each run writes into a fresh folder and starts with no
// connection open. What each side cost the server, the connections and
// logins it saw, is read from the server's log.
#include "FTPSmallFilesBench.h"

#include "Cloud/QNFTPHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTaskManager.h"
#include "support/BenchHarness.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using VNBench::Sample;

constexpr int kFiles = 1000;
constexpr int kFileBytes = 4096;

QString nameOf(int i)
{
    return QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0'));
}

bool writeSmallFiles(const QString &folder)
{
    QDir().mkpath(folder);
    quint64 x = 0x2545f4914f6cdd1dULL;
    for (int i = 0; i < kFiles; ++i) {
        QByteArray data(kFileBytes, Qt::Uninitialized);
        for (char &c : data) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = char(x);
        }
        QFile f(folder + QLatin1Char('/') + nameOf(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return false;
    }
    return true;
}

// The connections and logins a server's log shows from a point on.
struct ServerLog {
    QString path;
    QByteArray connectMark, loginMark;
    qint64 from = 0;

    void mark() { from = QFileInfo(path).size(); }
    QByteArray since() const
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(from))
            return {};
        return f.readAll();
    }
    QByteArray counted() const
    {
        const QByteArray added = since();
        return QByteArray::number(added.count(connectMark)) + " connections, " +
               QByteArray::number(added.count(loginMark)) + " logins";
    }
};

// Runs one task to its end; false when an item failed.
bool runTask(const std::shared_ptr<QNTaskManager> &manager, const QNTaskPtr &task, const QList<QNTaskItemPtr> &items)
{
    std::atomic<int> failed{0};
    for (const QNTaskItemPtr &item : items) {
        item->registerListenerForTaskItemCompletedBlock(QStringLiteral("bench"), [&failed](VNErrorPtr error, QNDocumentPtr, bool c) {
            if ((error || c) && failed++ == 0)
                std::fprintf(stderr, "item failed: %s\n", error ? qPrintable(error->localizedDescription().left(300)) : "cancelled");
        });
        task->addTaskItem(item);
    }
    std::atomic<bool> done{false};
    task->registerListenerForTaskCompletedBlock(QStringLiteral("bench"), [&done] { done = true; });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done.load())
            loop.quit();
    });
    manager->addTask(task);
    poll.start(1);
    loop.exec();
    return failed.load() == 0;
}

// Every file of a local folder, or a listed drive folder, as items of a
// copy (or move) task into the destination folder.
template <typename Item>
QList<QNTaskItemPtr> itemsFor(const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, const QNDocumentList &documents,
                              const QNDocumentPtr &destination)
{
    QList<QNTaskItemPtr> items;
    for (const QNDocumentPtr &doc : documents)
        items.append(std::make_shared<Item>(from, to, doc, destination));
    return items;
}

QNDocumentList localFiles(const QString &folder)
{
    QNDocumentList out;
    for (int i = 0; i < kFiles; ++i) {
        auto doc = QNDocument::withPath(folder + QLatin1Char('/') + nameOf(i));
        doc->setDisplayName(nameOf(i));
        doc->setSize(kFileBytes);
        out.append(doc);
    }
    return out;
}

QNDocumentList listed(const QNDriveConfigPtr &drive, const QString &folder)
{
    QNDocumentList out;
    std::atomic<bool> done{false};
    QNFTPHandler::make(drive)->listDocuments(QNDocument::withPath(folder, true), QString(),
                                             [&](QNDocumentList docs, QString, VNErrorPtr, bool) {
                                                 out = docs;
                                                 done = true;
                                             });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return out;
}

struct Server {
    const char *title;
    QNDriveConfigPtr drive;
    QString root;    // the served folder on disk
    QString url;     // the drive's URL, ending in "/"
    bool sftp = false;
    QStringList curlArgs;   // credentials and TLS switches
    QStringList sftpArgs;   // OpenSSH's sftp; empty for FTP
    QString sftpTarget;     // user@host, after the batch file
    ServerLog log;
    uid_t uid = 0;
    gid_t gid = 0;
};

// A fresh folder below work/ on the server's disk, as the test account's;
// its drive path.
QString freshFolder(const Server &s, const char *side)
{
    static int count = 0;
    const QString name = QStringLiteral("small-%1-%2").arg(QLatin1String(side)).arg(++count);
    const QString onDisk = s.root + QStringLiteral("/work/") + name;
    QDir().mkpath(onDisk);
    (void)::chown(QFile::encodeName(onDisk).constData(), s.uid, s.gid);
    return QStringLiteral("/work/") + name + QLatin1Char('/');
}

QString curlNames(const QString &folder)
{
    QStringList names;
    for (int i = 0; i < kFiles; ++i)
        names << nameOf(i);
    return folder + QStringLiteral("/{") + names.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString writeBatch(const QString &path, const char *verb, const QString &from, const QString &to)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    for (int i = 0; i < kFiles; ++i)
        f.write(QByteArray(verb) + " \"" + (from + QLatin1Char('/') + nameOf(i)).toUtf8() + "\" \"" +
                (to + QLatin1Char('/') + nameOf(i)).toUtf8() + "\"\n");
    return path;
}

QByteArray fastest(const QList<Sample> &samples)
{
    double best = 0;
    for (const Sample &x : samples)
        if (x.ok && (best == 0 || x.seconds < best))
            best = x.seconds;
    return VNBench::formatSeconds(best);
}

// One direction's closing line: ours ÷ the peer with the lower median (the
// median of the per-round ratios, with their range), and every side's
// fastest run. sides[0] is ours, sides[1 + i] the peer named peers[i].
void printAgainstBetterPeer(const char *direction, const QList<QList<Sample>> &sides, const QStringList &peers)
{
    qsizetype better = 1;
    for (qsizetype i = 2; i < sides.size(); ++i)
        if (VNBench::medianSeconds(sides[i]) < VNBench::medianSeconds(sides[better]))
            better = i;
    const VNBench::Ratio r = VNBench::ratio(sides[0], sides[better]);
    QByteArray runs = "ours " + fastest(sides[0]);
    for (qsizetype i = 0; i < peers.size(); ++i)
        runs += ", " + peers[i].toUtf8() + ' ' + fastest(sides[i + 1]);
    std::printf("  %-4s ours/better peer (%s) %.2f (%.2f-%.2f, %d rounds); fastest runs: %s\n", direction,
                qPrintable(peers[better - 1]), r.median, r.low, r.high, r.rounds, runs.constData());
}

// A side's run, with what the server's log showed of it kept for the report.
// Ours starts as the peers do, with no connection open from a run before.
Sample logged(Server &s, QByteArray *counts, const std::function<Sample()> &run)
{
    QNFTPHandler::forgetDrive(*s.drive);
    s.log.mark();
    const Sample sample = run();
    *counts = s.log.counted();
    return sample;
}

void benchServer(Server &s, const std::shared_ptr<QNTaskManager> &manager, const QString &home, int rounds)
{
    const auto local = QNMyDocumentsHandler::makeLocalDriveConfig();
    const QString sources = home + QStringLiteral("/small");
    const QString down = home + QStringLiteral("/small-down");
    const QString client = s.sftp ? QStringLiteral("sftp") : QStringLiteral("curl");
    QByteArray oursUp, peerUp, oursDown, peerDown, curlUp, curlDown, oursMove;
    QString lastUpload;  // a drive folder holding the 1,000 files, for the downloads

    auto oursCopyUp = [&] {
        return logged(s, &oursUp, [&] {
            lastUpload = freshFolder(s, "ours");
            const auto dest = QNDocument::withPath(lastUpload, true);
            return VNBench::measure([&] {
                return runTask(manager, std::make_shared<QNCopyTask>(),
                               itemsFor<QNCopyTaskItem>(local, s.drive, localFiles(sources), dest));
            });
        });
    };
    auto peerCopyUp = [&] {
        return logged(s, &peerUp, [&] {
            const QString folder = freshFolder(s, "peer");
            if (s.sftp)
                return VNBench::runCommand({QStringLiteral("sftp"), QStringList(s.sftpArgs) << QStringLiteral("-b")
                                                                    << writeBatch(home + QStringLiteral("/put.txt"), "put", sources, s.root + folder)
                                                                    << s.sftpTarget,
                                            {}, {}});
            return VNBench::runCommand({QStringLiteral("curl"), QStringList(s.curlArgs) << QStringLiteral("-T") << curlNames(sources)
                                                                 << s.url + folder.mid(1),
                                        {}, {}});
        });
    };
    auto curlCopyUp = [&] {
        return logged(s, &curlUp, [&] {
            const QString folder = freshFolder(s, "curl");
            return VNBench::runCommand({QStringLiteral("curl"), QStringList(s.curlArgs) << QStringLiteral("-T") << curlNames(sources)
                                                                 << s.url + folder.mid(1),
                                        {}, {}});
        });
    };
    QList<VNBench::Side> upSides = {{QStringLiteral("ours"), oursCopyUp}, {client, peerCopyUp}};
    if (s.sftp)
        upSides.append({QStringLiteral("curl"), curlCopyUp});
    const auto up = VNBench::interleave(rounds, upSides, [] { ::sync(); });

    auto clearDown = [&] {
        QDir(down).removeRecursively();
        QDir().mkpath(down);
        ::sync();
    };
    const QNDocumentList remote = listed(s.drive, lastUpload);
    auto oursCopyDown = [&] {
        return logged(s, &oursDown, [&] {
            return VNBench::measure([&] {
                return runTask(manager, std::make_shared<QNCopyTask>(),
                               itemsFor<QNCopyTaskItem>(s.drive, local, remote, QNDocument::withPath(down, true)));
            });
        });
    };
    auto peerCopyDown = [&] {
        return logged(s, &peerDown, [&] {
            if (s.sftp)
                return VNBench::runCommand({QStringLiteral("sftp"), QStringList(s.sftpArgs) << QStringLiteral("-b")
                                                                    << writeBatch(home + QStringLiteral("/get.txt"), "get", s.root + lastUpload, down)
                                                                    << s.sftpTarget,
                                            {}, {}});
            return VNBench::runCommand({QStringLiteral("curl"), QStringList(s.curlArgs) << QStringLiteral("--output-dir") << down
                                                                 << QStringLiteral("-O")
                                                                 << s.url + lastUpload.mid(1) + QStringLiteral("f[000-999]"),
                                        {}, {}});
        });
    };
    auto curlCopyDown = [&] {
        return logged(s, &curlDown, [&] {
            return VNBench::runCommand({QStringLiteral("curl"), QStringList(s.curlArgs) << QStringLiteral("--output-dir") << down
                                                                 << QStringLiteral("-O")
                                                                 << s.url + lastUpload.mid(1) + QStringLiteral("f[000-999]"),
                                        {}, {}});
        });
    };
    QList<VNBench::Side> downSides = {{QStringLiteral("ours"), oursCopyDown}, {client, peerCopyDown}};
    if (s.sftp)
        downSides.append({QStringLiteral("curl"), curlCopyDown});
    const auto get = VNBench::interleave(rounds, downSides, clearDown);

    // The move takes fresh sources each run (not timed), beside the copy.
    const QString moveSources = home + QStringLiteral("/small-move");
    auto oursMoveUp = [&] {
        QDir(moveSources).removeRecursively();
        writeSmallFiles(moveSources);
        ::sync();
        return logged(s, &oursMove, [&] {
            const auto dest = QNDocument::withPath(freshFolder(s, "move"), true);
            return VNBench::measure([&] {
                return runTask(manager, std::make_shared<QNMoveTask>(),
                               itemsFor<QNMoveTaskItem>(local, s.drive, localFiles(moveSources), dest));
            });
        });
    };
    const auto move = VNBench::interleave(rounds, {{QStringLiteral("move"), oursMoveUp}, {QStringLiteral("copy"), oursCopyUp}},
                                          [] { ::sync(); });

    std::printf("%s: %d files of %d KiB\n", s.title, kFiles, kFileBytes / 1024);
    const QStringList peers = s.sftp ? QStringList{client, QStringLiteral("curl")} : QStringList{client};
    for (qsizetype i = 0; i < peers.size(); ++i)
        VNBench::printComparison("copy onto the server", QStringLiteral("ours"), up[0], peers[i], up[i + 1]);
    for (qsizetype i = 0; i < peers.size(); ++i)
        VNBench::printComparison("copy back down", QStringLiteral("ours"), get[0], peers[i], get[i + 1]);
    VNBench::printComparison("move onto the server", QStringLiteral("move"), move[0], QStringLiteral("copy"), move[1]);
    printAgainstBetterPeer("up", up, peers);
    printAgainstBetterPeer("down", get, peers);
    std::printf("  server's log, last run of each: ours up %s; %s up %s;%s ours down %s; %s down %s;%s ours move %s\n",
                oursUp.constData(), qPrintable(client), peerUp.constData(),
                s.sftp ? (" curl up " + curlUp + ";").constData() : "", oursDown.constData(), qPrintable(client),
                peerDown.constData(), s.sftp ? (" curl down " + curlDown + ";").constData() : "", oursMove.constData());
    std::fflush(stdout);
    QDir(s.root + QStringLiteral("/work")).removeRecursively();
    QDir().mkpath(s.root + QStringLiteral("/work"));
    (void)::chown(QFile::encodeName(s.root + QStringLiteral("/work")).constData(), s.uid, s.gid);
}

}  // namespace

void benchSmallFiles(const QString &home, const QJsonObject &ftp, const QJsonObject &ssh, int rounds)
{
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNFTPHandler::registerHandler();
    auto manager = std::make_shared<QNTaskManager>();
    if (!writeSmallFiles(home + QStringLiteral("/small"))) {
        std::fprintf(stderr, "could not write the small files\n");
        return;
    }
    const QString user = ftp.value(QStringLiteral("user")).toString();
    const QString password = ftp.value(QStringLiteral("password")).toString();
    struct stat owner {};
    ::stat(QFile::encodeName(ftp.value(QStringLiteral("root")).toString()).constData(), &owner);

    auto driveOf = [&](const QString &url, bool ftps) {
        auto c = QNDriveConfig::create();
        c->setIsFTP(true);
        c->setUrl(url);
        c->setUsername(user);
        c->setPassword(password);
        c->setUseSSL(ftps);
        return c;
    };
    const QStringList credentials = {QStringLiteral("-s"), QStringLiteral("-S"), QStringLiteral("-u"), user + QLatin1Char(':') + password};
    const QString ftpWork = ftp.value(QStringLiteral("workdir")).toString();
    const QString sshWork = ssh.value(QStringLiteral("workdir")).toString();
    QList<Server> servers;
    for (bool ftps : {false, true}) {
        const QString url = ftp.value(ftps ? QStringLiteral("ftps_url") : QStringLiteral("url")).toString();
        Server s{ftps ? "FTPS (explicit TLS), vsftpd" : "FTP, vsftpd", driveOf(url, ftps), ftp.value(QStringLiteral("root")).toString(),
                 url, false, credentials, {}, {},
                 {ftpWork + (ftps ? QStringLiteral("/ftps.log") : QStringLiteral("/plain.log")), "CONNECT: Client", "OK LOGIN"},
                 owner.st_uid, owner.st_gid};
        if (ftps)
            s.curlArgs << QStringLiteral("--ssl-reqd") << QStringLiteral("-k");
        servers.append(s);
    }
    const QString sftpUrl = ssh.value(QStringLiteral("url")).toString();
    servers.append({"SFTP, OpenSSH sshd", driveOf(sftpUrl, false), ssh.value(QStringLiteral("root")).toString(), sftpUrl, true,
                    credentials,
                    {QStringLiteral("-q"), QStringLiteral("-i"), ssh.value(QStringLiteral("client_key")).toString(), QStringLiteral("-P"),
                     QString::number(ssh.value(QStringLiteral("port")).toInt()), QStringLiteral("-o"),
                     QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null")},
                    user + QStringLiteral("@127.0.0.1"),
                    {sshWork + QStringLiteral("/sshd.log"), "Connection from", "Accepted "},
                    owner.st_uid, owner.st_gid});
    const QString only = qEnvironmentVariable("VARNELLO_BENCH_SMALL");
    for (Server &s : servers)
        if (only.isEmpty() || QString::fromLatin1(s.title).startsWith(only + QLatin1Char(' ')) ||
            QString::fromLatin1(s.title).startsWith(only + QLatin1Char(',')))
            benchServer(s, manager, home, rounds);
}
