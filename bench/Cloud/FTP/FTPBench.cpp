// Measures the FTP handler beside the command-line clients on the same
// servers, started here through the test peers (vsftpd and sshd on
// loopback):
//   FTP and FTPS: download and upload of a bulk file, handler vs curl;
//   SFTP: the same, handler vs OpenSSH's sftp with a key, and vs curl
//   (which uses the same libssh2 as the handler);
//   memory: peak resident size while downloading a 16 MiB and a 1 GiB text file;
//   listing: parse time of a 100,000-line listing (and its encoding guess);
//   small: 1,000 files of 4 KiB through copy and move tasks, beside curl
//   and sftp (FTPSmallFilesBench.cpp).
// Prints ours ÷ client for each transfer (below 1 means ours is faster) as
// the median of interleaved rounds, the order of the sides alternating,
// with each side's peak resident size (ours: this process's VmHWM, reset
// before each run; the client's: its own). Every run starts with the disk
// synced and no earlier copy of its file at the destination, so that no
// side pays for freeing or writing back another's.
// VARNELLO_BENCH_MIB sets the bulk size (default 256); VARNELLO_BENCH_ONLY
// one part ("ftp", "sftp", "memory", "listing" or "small"); --rounds N the rounds
// (default 3).
#include "FTPSmallFilesBench.h"

#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNTempDirectory.h"
#include "Platform/VNUserDefaults.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString g_stateDir;

using VNBench::Sample;

bool peerctl(const QString &verb, const QString &peer)
{
    return VNBench::peerctl(g_stateDir, verb, peer);
}

QJsonObject peerState(const QString &peer)
{
    QFile f(g_stateDir + QLatin1Char('/') + peer + QStringLiteral(".json"));
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

// Starts one handler call and runs the loop until it answers: its time and
// this process's peak meanwhile.
Sample timeCall(const std::function<void(QNDocumentCallback)> &start)
{
    return VNBench::measure([&] {
        std::atomic<bool> done{false};
        std::atomic<bool> ok{false};
        start([&](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (error)
                std::fprintf(stderr, "handler failed: %s\n", qPrintable(error->localizedDescription().left(300)));
            ok = !error && !cancelled;
            done = true;
            // The answer comes on the handler's worker: wake the loop below.
            QCoreApplication::eventDispatcher()->wakeUp();
        });
        // Sleeps until woken (the overload with a time limit would spin and
        // take a core from the transfer).
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return ok.load();
    });
}

void writeBulk(const QString &path, qint64 mib, bool text, uid_t uid, gid_t gid)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = text ? (i % 64 == 63 ? '\n' : char('a' + (i * 7) % 26)) : char((i * 7919) >> 3);
    for (qint64 i = 0; i < mib; ++i) {
        if (!text)
            block[0] = char(i);
        f.write(block);
    }
    f.close();
    (void)::chown(QFile::encodeName(path).constData(), uid, gid);
}

QNDriveConfigPtr driveFor(const QJsonObject &state, bool ftps)
{
    auto c = QNDriveConfig::create();
    c->setIsFTP(true);
    c->setUrl(state.value(ftps ? QStringLiteral("ftps_url") : QStringLiteral("url")).toString());
    c->setUsername(state.value(QStringLiteral("user")).toString());
    c->setPassword(state.value(QStringLiteral("password")).toString());
    c->setUseSSL(ftps);
    return c;
}

Sample handlerDownload(const QNDriveConfigPtr &config, const QString &remote, const QString &local)
{
    return timeCall([&](QNDocumentCallback done) {
        QNFTPHandler::make(config)->download(QNDocument::withPath(remote), QNDocument::withPath(local), {},
                                             std::move(done));
    });
}

Sample handlerUpload(const QNDriveConfigPtr &config, const QString &local, const QString &folder)
{
    return timeCall([&](QNDocumentCallback done) {
        QNFTPHandler::make(config)->upload(QNDocument::withPath(local), QNDocument::withPath(folder, true), {},
                                           std::move(done));
    });
}

Sample command(const QString &program, const QStringList &args, const QString &stdinPath = {})
{
    return VNBench::runCommand({program, args, stdinPath, {}});
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

// Before each upload: no earlier upload for a side to replace (freeing a
// large file's pages weighs on whichever side comes to it), and no dirty
// pages of the last run for the disk to write meanwhile.
void clearUploads(const QString &root, const QStringList &names)
{
    for (const QString &name : names)
        QFile::remove(root + QStringLiteral("/work/") + name);
    ::sync();
}

// The handler (sides[0]) against the client (sides[1]), with the handler's
// median throughput.
void printRow(const char *what, const QList<QList<Sample>> &sides, const char *client, qint64 mib)
{
    const QByteArray label = QByteArray(what) + ", handler " +
                             QByteArray::number(mib / VNBench::medianSeconds(sides[0]), 'f', 0) + " MiB/s";
    VNBench::printComparison(label.constData(), QStringLiteral("handler"), sides[0], QLatin1String(client), sides[1]);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/ftp-bench-XXXXXX"));
    // The servers serve folders below this one as the test account.
    ::chmod(QFile::encodeName(home.path()).constData(), 0755);
    VNTempDirectory::setPath(home.path() + QStringLiteral("/tmp"));
    VNUserDefaults::setStandardFile(home.path() + QStringLiteral("/app/defaults.ini"));
    QNFTPHandler::setKnownHostsFile(home.path() + QStringLiteral("/app/known_hosts"));
    g_stateDir = home.path() + QStringLiteral("/peers");
    const qint64 mib = qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB") > 0
                           ? qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB")
                           : 256;
    if (!peerctl(QStringLiteral("start"), QStringLiteral("vsftpd")) ||
        !peerctl(QStringLiteral("start"), QStringLiteral("sshd"))) {
        std::fprintf(stderr, "could not start the peers\n");
        return 1;
    }
    const QJsonObject ftp = peerState(QStringLiteral("vsftpd"));
    const QJsonObject ssh = peerState(QStringLiteral("sshd"));
    const QString user = ftp.value(QStringLiteral("user")).toString();
    const QString password = ftp.value(QStringLiteral("password")).toString();
    struct stat owner {};
    ::stat(QFile::encodeName(ftp.value(QStringLiteral("root")).toString()).constData(), &owner);

    const QString local = home.path() + QStringLiteral("/local");
    QDir().mkpath(local);
    const QString only = qEnvironmentVariable("VARNELLO_BENCH_ONLY");
    const int rounds = VNBench::roundsFrom(app.arguments(), 3);
    auto runs = [&only](const char *part) { return only.isEmpty() || only == QLatin1String(part); };
    const QString upSource = local + QStringLiteral("/upload.bin");
    if (runs("ftp") || runs("sftp"))
        writeBulk(upSource, mib, false, owner.st_uid, owner.st_gid);

    std::printf("FTP handler vs command-line clients on loopback, bulk %lld MiB\n", static_cast<long long>(mib));

    // FTP and FTPS against vsftpd, beside curl.
    for (bool ftps : {false, true}) {
        if (!runs("ftp"))
            break;
        const QString root = ftp.value(QStringLiteral("root")).toString();
        writeBulk(root + QStringLiteral("/work/bulk.bin"), mib, false, owner.st_uid, owner.st_gid);
        const QString url = ftp.value(ftps ? QStringLiteral("ftps_url") : QStringLiteral("url")).toString();
        QStringList common = {QStringLiteral("-s"), QStringLiteral("-S"), QStringLiteral("-u"), user + QLatin1Char(':') + password};
        if (ftps)
            common << QStringLiteral("--ssl-reqd") << QStringLiteral("-k");
        const QString curlOut = local + QStringLiteral("/curl.bin"), handlerOut = local + QStringLiteral("/got.bin");
        auto clearDownloads = [&] {
            QFile::remove(curlOut);
            QFile::remove(handlerOut);
            ::sync();
        };
        const auto get = VNBench::interleave(
            rounds,
            {{QStringLiteral("handler"),
              [&] { return handlerDownload(driveFor(ftp, ftps), QStringLiteral("/work/bulk.bin"), handlerOut); }},
             {QStringLiteral("curl"),
              [&] {
                  return command(QStringLiteral("curl"), QStringList(common) << QStringLiteral("-o") << curlOut
                                                                             << url + QStringLiteral("work/bulk.bin"));
              }}},
            clearDownloads);
        clearDownloads();
        const auto put = VNBench::interleave(
            rounds,
            {{QStringLiteral("handler"), [&] { return handlerUpload(driveFor(ftp, ftps), upSource, QStringLiteral("/work/")); }},
             {QStringLiteral("curl"),
              [&] {
                  return command(QStringLiteral("curl"), QStringList(common) << QStringLiteral("-T") << upSource
                                                                             << url + QStringLiteral("work/curl-up.bin"));
              }}},
            [&] { clearUploads(root, {QStringLiteral("upload.bin"), QStringLiteral("curl-up.bin")}); });
        std::printf("%s\n", ftps ? "FTPS (explicit TLS)" : "FTP");
        printRow("download", get, "curl", mib);
        printRow("upload", put, "curl", mib);
        QFile::remove(root + QStringLiteral("/work/bulk.bin"));
        QFile::remove(root + QStringLiteral("/work/curl-up.bin"));
        QFile::remove(root + QStringLiteral("/work/upload.bin"));
    }

    // SFTP against sshd, beside OpenSSH's sftp with the peer's client key.
    if (runs("sftp")) {
        const QString root = ssh.value(QStringLiteral("root")).toString();
        writeBulk(root + QStringLiteral("/work/bulk.bin"), mib, false, owner.st_uid, owner.st_gid);
        const QStringList sftpArgs = {QStringLiteral("-q"), QStringLiteral("-i"), ssh.value(QStringLiteral("client_key")).toString(),
                                      QStringLiteral("-P"), QString::number(ssh.value(QStringLiteral("port")).toInt()),
                                      QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
                                      QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
                                      QStringLiteral("-b"), QStringLiteral("-"),
                                      user + QStringLiteral("@127.0.0.1")};
        auto config = QNDriveConfig::create();
        config->setIsFTP(true);
        config->setUrl(ssh.value(QStringLiteral("url")).toString());
        config->setUsername(user);
        config->setPassword(password);
        // sftp reads its commands from a batch file on its standard input.
        const QString getScript = home.path() + QStringLiteral("/sftp-get.txt"), putScript = home.path() + QStringLiteral("/sftp-put.txt");
        const QString sftpOut = local + QStringLiteral("/sftp.bin"), handlerOut = local + QStringLiteral("/got.bin");
        writeText(getScript, "get \"" + (root + QStringLiteral("/work/bulk.bin")).toUtf8() + "\" \"" + sftpOut.toUtf8() + "\"\n");
        writeText(putScript, "put \"" + upSource.toUtf8() + "\" \"" + (root + QStringLiteral("/work/sftp-up.bin")).toUtf8() + "\"\n");
        // curl reaches SFTP through libssh2 as the handler does, while sftp is
        // OpenSSH's own: the two show what is the library's and what is ours.
        const QString curlOut = local + QStringLiteral("/curl.bin");
        const QStringList curlArgs = {QStringLiteral("-s"), QStringLiteral("-S"), QStringLiteral("-u"), user + QLatin1Char(':') + password};
        const QString sftpUrl = ssh.value(QStringLiteral("url")).toString();
        const QString bulkUrl = sftpUrl + QStringLiteral("work/bulk.bin"), curlUpUrl = sftpUrl + QStringLiteral("work/curl-up.bin");
        auto clearDownloads = [&] {
            QFile::remove(sftpOut);
            QFile::remove(curlOut);
            QFile::remove(handlerOut);
            ::sync();
        };
        const auto get = VNBench::interleave(
            rounds,
            {{QStringLiteral("handler"), [&] { return handlerDownload(config, QStringLiteral("/work/bulk.bin"), handlerOut); }},
             {QStringLiteral("sftp"), [&] { return command(QStringLiteral("sftp"), sftpArgs, getScript); }},
             {QStringLiteral("curl"),
              [&] { return command(QStringLiteral("curl"), QStringList(curlArgs) << QStringLiteral("-o") << curlOut << bulkUrl); }}},
            clearDownloads);
        clearDownloads();
        const auto put = VNBench::interleave(
            rounds,
            {{QStringLiteral("handler"), [&] { return handlerUpload(config, upSource, QStringLiteral("/work/")); }},
             {QStringLiteral("sftp"), [&] { return command(QStringLiteral("sftp"), sftpArgs, putScript); }},
             {QStringLiteral("curl"),
              [&] { return command(QStringLiteral("curl"), QStringList(curlArgs) << QStringLiteral("-T") << upSource << curlUpUrl); }}},
            [&] { clearUploads(root, {QStringLiteral("upload.bin"), QStringLiteral("sftp-up.bin"), QStringLiteral("curl-up.bin")}); });
        std::printf("SFTP (curl: the same libssh2 the handler uses)\n");
        printRow("download", get, "sftp", mib);
        printRow("download", {get[0], get[2]}, "curl", mib);
        printRow("upload", put, "sftp", mib);
        printRow("upload", {put[0], put[2]}, "curl", mib);
        QFile::remove(root + QStringLiteral("/work/curl-up.bin"));
        QFile::remove(root + QStringLiteral("/work/bulk.bin"));
    }

    // Memory: a 16 MiB and a 1 GiB text file through the same download.
    if (runs("memory")) {
        const QString root = ftp.value(QStringLiteral("root")).toString();
        std::printf("Peak memory while downloading (FTP; this process's peak resident size)\n");
        for (qint64 size : {qint64(16), qint64(1024)}) {
            writeBulk(root + QStringLiteral("/work/text.txt"), size, true, owner.st_uid, owner.st_gid);
            const Sample get = handlerDownload(driveFor(ftp, false), QStringLiteral("/work/text.txt"),
                                               local + QStringLiteral("/text.txt"));
            std::printf("  %5lld MiB text file: %6.3f s, peak %6.1f MiB (%s)\n", static_cast<long long>(size),
                        get.seconds, get.peakKiB / 1024.0, get.ok ? "ok" : "FAILED");
            QFile::remove(local + QStringLiteral("/text.txt"));
            QFile::remove(root + QStringLiteral("/work/text.txt"));
        }
    }

    // Listing: 100,000 UNIX lines with names in Shift JIS, detection included.
    if (runs("listing")) {
        QNStringEncoding sjis(QNStringEncoding::ShiftJIS);
        const QByteArray japanese = sjis.encode(QString::fromUtf8("日本語のファイル")).value();
        QByteArray listing;
        for (int i = 0; i < 100000; ++i) {
            listing += (i % 10 == 0 ? "drwxr-xr-x" : "-rw-r--r--");
            listing += "    1 1000     1000     " + QByteArray::number(1000 + i) + (i % 2 ? " Mar 03 14:05 " : " Nov 11  2009 ");
            listing += japanese + '-' + QByteArray::number(i) + ".txt\r\n";
        }
        QElapsedTimer t;
        t.start();
        const quint32 guess = QNStringEncoding::detect(listing);
        const double detectSeconds = t.elapsed() / 1000.0;
        t.restart();
        QNStringEncoding encoding(guess);
        QByteArray buffer = listing;
        const auto parsed = QNFTPListingParser::parseListing(buffer, true, encoding);
        const double parseSeconds = t.elapsed() / 1000.0;
        std::printf("Listing of 100,000 lines (%.1f MiB): parse %.3f s, encoding guess %.3f s (%s), %lld entries\n",
                    listing.size() / 1048576.0, parseSeconds, detectSeconds,
                    qPrintable(QNStringEncoding::displayName(guess)), static_cast<long long>(parsed.items.size()));
    }

    if (runs("small"))
        benchSmallFiles(home.path(), ftp, ssh, rounds);

    peerctl(QStringLiteral("stop"), QStringLiteral("vsftpd"));
    peerctl(QStringLiteral("stop"), QStringLiteral("sshd"));
    return 0;
}
