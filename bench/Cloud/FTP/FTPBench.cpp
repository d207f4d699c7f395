// Measures the FTP handler beside the command-line clients on the same
// servers, one run each, started here through the test peers (vsftpd and
// sshd on loopback):
//   FTP and FTPS: download and upload of a bulk file, handler vs curl;
//   SFTP: the same, handler vs OpenSSH's sftp with a key;
//   memory: peak growth while downloading a 16 MiB and a 1 GiB text file;
//   listing: parse time of a 100,000-line listing (and its encoding guess).
// Prints the best of three times of each side and the handler/client
// ratios (below 1 is faster).
// VARNELLO_BENCH_MIB sets the bulk size (default 256); VARNELLO_BENCH_ONLY
// one part ("ftp", "sftp", "memory" or "listing").
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNTempDirectory.h"
#include "Platform/VNUserDefaults.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString g_stateDir;

using VNBench::residentBytes;

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

double timeProcess(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return t.elapsed() / 1000.0;
}

struct Result {
    double seconds = 0;
    qint64 peakGrowth = 0;
    bool ok = false;
};

// Starts one handler call and runs the loop until it answers, sampling memory.
Result timeCall(const std::function<void(QNDocumentCallback)> &start)
{
    Result r;
    std::atomic<bool> done{false};
    std::atomic<bool> ok{false};
    const qint64 before = residentBytes();
    qint64 peak = before;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, residentBytes()); });
    sampler.start(10);
    QElapsedTimer t;
    t.start();
    start([&](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
        if (error)
            std::fprintf(stderr, "handler failed: %s\n", qPrintable(error->localizedDescription().left(300)));
        ok = !error && !cancelled;
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    r.seconds = t.elapsed() / 1000.0;
    r.peakGrowth = std::max(peak, residentBytes()) - before;
    r.ok = ok;
    return r;
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

Result handlerDownload(const QNDriveConfigPtr &config, const QString &remote, const QString &local)
{
    return timeCall([&](QNDocumentCallback done) {
        QNFTPHandler::make(config)->download(QNDocument::withPath(remote), QNDocument::withPath(local), {},
                                             std::move(done));
    });
}

Result handlerUpload(const QNDriveConfigPtr &config, const QString &local, const QString &folder)
{
    return timeCall([&](QNDocumentCallback done) {
        QNFTPHandler::make(config)->upload(QNDocument::withPath(local), QNDocument::withPath(folder, true), {},
                                           std::move(done));
    });
}

// Each measurement is taken this many times, alternating with the other
// client, and the best time of each side is compared (a shared machine).
constexpr int kRounds = 3;

Result best(const Result &a, const Result &b)
{
    if (!a.ok && a.seconds >= 1e9)
        return b;
    Result r = b.seconds < a.seconds ? b : a;
    r.ok = a.ok && b.ok;
    r.peakGrowth = std::max(a.peakGrowth, b.peakGrowth);
    return r;
}

void printRow(const char *what, const Result &handler, double client, const char *clientName, qint64 mib)
{
    std::printf("  %-16s handler %6.3f s (%7.1f MiB/s, %s)  %-5s %6.3f s   ratio %.3f\n", what, handler.seconds,
                mib / handler.seconds, handler.ok ? "ok" : "FAILED", clientName, client, handler.seconds / client);
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
    const QString upSource = local + QStringLiteral("/upload.bin");
    writeBulk(upSource, mib, false, owner.st_uid, owner.st_gid);

    std::printf("FTP handler vs command-line clients on loopback, bulk %lld MiB\n", static_cast<long long>(mib));
    const QString only = qEnvironmentVariable("VARNELLO_BENCH_ONLY");
    auto runs = [&only](const char *part) { return only.isEmpty() || only == QLatin1String(part); };

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
        double curlGet = 1e9, curlPut = 1e9;
        Result get, put;
        get.seconds = put.seconds = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            curlGet = std::min(curlGet, timeProcess(QStringLiteral("curl"), QStringList(common) << QStringLiteral("-o")
                                                                                            << local + QStringLiteral("/curl.bin")
                                                                                            << url + QStringLiteral("work/bulk.bin")));
            QFile::remove(local + QStringLiteral("/curl.bin"));
            get = best(get, handlerDownload(driveFor(ftp, ftps), QStringLiteral("/work/bulk.bin"), local + QStringLiteral("/got.bin")));
            QFile::remove(local + QStringLiteral("/got.bin"));
            curlPut = std::min(curlPut, timeProcess(QStringLiteral("curl"), QStringList(common) << QStringLiteral("-T") << upSource
                                                                                            << url + QStringLiteral("work/curl-up.bin")));
            put = best(put, handlerUpload(driveFor(ftp, ftps), upSource, QStringLiteral("/work/")));
        }
        std::printf("%s\n", ftps ? "FTPS (explicit TLS)" : "FTP");
        printRow("download", get, curlGet, "curl", mib);
        printRow("upload", put, curlPut, "curl", mib);
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
        double sftpGet = 1e9, sftpPut = 1e9;
        Result get, put;
        get.seconds = put.seconds = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            sftpGet = std::min(sftpGet, timeProcess(QStringLiteral("sftp"), sftpArgs,
                                                    "get \"" + (root + QStringLiteral("/work/bulk.bin")).toUtf8() + "\" \"" +
                                                        (local + QStringLiteral("/sftp.bin")).toUtf8() + "\"\n"));
            QFile::remove(local + QStringLiteral("/sftp.bin"));
            get = best(get, handlerDownload(config, QStringLiteral("/work/bulk.bin"), local + QStringLiteral("/got.bin")));
            QFile::remove(local + QStringLiteral("/got.bin"));
            sftpPut = std::min(sftpPut, timeProcess(QStringLiteral("sftp"), sftpArgs,
                                                    "put \"" + upSource.toUtf8() + "\" \"" +
                                                        (root + QStringLiteral("/work/sftp-up.bin")).toUtf8() + "\"\n"));
            put = best(put, handlerUpload(config, upSource, QStringLiteral("/work/")));
        }
        std::printf("SFTP\n");
        printRow("download", get, sftpGet, "sftp", mib);
        printRow("upload", put, sftpPut, "sftp", mib);
        QFile::remove(root + QStringLiteral("/work/bulk.bin"));
    }

    // Memory: a 16 MiB and a 1 GiB text file through the same download.
    if (runs("memory")) {
        const QString root = ftp.value(QStringLiteral("root")).toString();
        std::printf("Peak memory growth while downloading (FTP)\n");
        for (qint64 size : {qint64(16), qint64(1024)}) {
            writeBulk(root + QStringLiteral("/work/text.txt"), size, true, owner.st_uid, owner.st_gid);
            const Result get = handlerDownload(driveFor(ftp, false), QStringLiteral("/work/text.txt"),
                                               local + QStringLiteral("/text.txt"));
            std::printf("  %5lld MiB text file: %6.3f s, peak growth %6.1f MiB (%s)\n", static_cast<long long>(size),
                        get.seconds, get.peakGrowth / 1048576.0, get.ok ? "ok" : "FAILED");
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

    peerctl(QStringLiteral("stop"), QStringLiteral("vsftpd"));
    peerctl(QStringLiteral("stop"), QStringLiteral("sshd"));
    return 0;
}
