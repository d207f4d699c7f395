// Uploads a large file in resumable chunks through the fetchers' fake server
// and the same file with `curl -T` to an upload session of the same fake
// (one PUT), and prints ours ÷ curl (below 1 means ours is faster) as the
// median of interleaved rounds, the order of the sides alternating, with
// each side's peak resident size (ours: this process's VmHWM, reset before
// each run; curl's: its own).
// VARNELLO_BENCH_MIB sets the size (default 256), VARNELLO_BENCH_CHUNK_MIB
// the chunk size (default 25, the photo service's); --rounds N the rounds
// (default 3).
#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QString fileSha1(const QString &path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&f);
    return QString::fromLatin1(hash.result().toHex());
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const qint64 mib = qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB") > 0 ? qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB") : 256;
    const qint64 chunkMiB =
        qEnvironmentVariableIntValue("VARNELLO_BENCH_CHUNK_MIB") > 0 ? qEnvironmentVariableIntValue("VARNELLO_BENCH_CHUNK_MIB") : 25;
    QTemporaryDir dir;
    const QString stateDir = dir.path() + QStringLiteral("/peers");
    const QString path = dir.path() + QStringLiteral("/media.bin");
    if (!VNBench::makeBigFile(path, mib << 20)) {
        std::fprintf(stderr, "could not write the test file\n");
        return 1;
    }
    const QString expectedSha = fileSha1(path);
    if (!VNBench::peerctl(stateDir, QStringLiteral("start"), QStringLiteral("hffetch"))) {
        std::fprintf(stderr, "could not start the fake server\n");
        return 1;
    }
    QFile stateFile(stateDir + QStringLiteral("/hffetch.json"));
    stateFile.open(QIODevice::ReadOnly);
    const int port = QJsonDocument::fromJson(stateFile.readAll()).object()[QStringLiteral("port")].toInt();
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);

    // The fetcher: initial request, then chunks from the file.
    auto fetcherUpload = [&] {
        return VNBench::measure([&] {
            auto file = std::make_shared<QFile>(path);
            file->open(QIODevice::ReadOnly);
            HFURLRequest request(QUrl(base + QStringLiteral("/upload/create")));
            auto fetcher = HFHTTPUploadFetcher::uploadFetcherWithRequest(request, file, QStringLiteral("application/octet-stream"),
                                                                         quint64(chunkMiB) << 20, nullptr);
            fetcher->setPostData("<entry/>");
            bool done = false;
            QByteArray reply;
            VNErrorPtr error;
            fetcher->beginFetchWithCompletionHandler([&](const QByteArray &data, const VNErrorPtr &e) {
                reply = data;
                error = e;
                done = true;
            });
            while (!done)
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            const QJsonObject result = QJsonDocument::fromJson(reply).object();
            return !error && result[QStringLiteral("sha1")].toString() == expectedSha;
        });
    };

    // curl: one PUT of the whole file to a session of the same server (the
    // session is made before the clock starts).
    auto curlUpload = [&] {
        QProcess create;
        create.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-D-"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                              QStringLiteral("-X"), QStringLiteral("POST"), base + QStringLiteral("/upload/create")});
        create.waitForFinished(-1);
        QString session;
        for (const QByteArray &line : create.readAllStandardOutput().split('\n'))
            if (line.toLower().startsWith("location:"))
                session = QString::fromLatin1(line.mid(9).trimmed());
        const QString range = QStringLiteral("Content-Range: bytes 0-%1/%2").arg((mib << 20) - 1).arg(mib << 20);
        return VNBench::runCommand({QStringLiteral("curl"),
                                    {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                     QStringLiteral("-H"), range, QStringLiteral("-T"), path, session},
                                    {},
                                    {}});
    };
    const int rounds = VNBench::roundsFrom(app.arguments(), 3);
    const auto s = VNBench::interleave(rounds, {{QStringLiteral("fetcher"), fetcherUpload}, {QStringLiteral("curl"), curlUpload}});
    VNBench::peerctl(stateDir, QStringLiteral("stop"), QStringLiteral("hffetch"));

    std::printf("resumable upload of %lld MiB in %lld MiB chunks, %d rounds:\n", mib, chunkMiB, rounds);
    VNBench::printComparison("fetcher vs curl -T", QStringLiteral("fetcher"), s[0], QStringLiteral("curl -T"), s[1]);
    return VNBench::failures(s[0]) ? 1 : 0;
}
