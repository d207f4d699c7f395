// Measures the HTTP engine beside the curl command, one run each, against the
// same nginx on loopback (started here through the test peers):
//   GET of a large file to a file, PUT of it from a file,
//   2,000 keep-alive GETs of 1 KiB one after another, and 4 at a time.
// Prints times, the engine/curl ratios and the engine's peak memory growth.
// VARNELLO_BENCH_MIB sets the bulk size (default 512).
#include "Net/NRHTTPRequest.h"
#include "Platform/VNTempDirectory.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

QString g_stateDir;

using VNBench::residentBytes;
using VNBench::timeCurl;

// Runs the loop until done; returns the peak resident size seen meanwhile.
qint64 runUntil(const std::function<bool()> &done) {
    qint64 peak = residentBytes();
    // The timer both samples memory and wakes the loop so done() is seen.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, residentBytes()); });
    sampler.start(20);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return std::max(peak, residentBytes());
}

bool peerctl(const QString &verb) {
    return VNBench::peerctl(g_stateDir, verb, QStringLiteral("nginx"));
}

struct Result {
    double seconds = 0;
    qint64 peakGrowth = 0;
    int failures = 0;
};

// One request, run to its end.
Result timeRequest(const std::shared_ptr<NRHTTPRequest> &r) {
    Result res;
    bool done = false;
    r->setCompletionBlock([&] { done = true; });
    r->setFailedBlock([&] {
        done = true;
        ++res.failures;
        std::fprintf(stderr, "engine failed: %s\n", qPrintable(r->error()->localizedDescription()));
    });
    const qint64 base = residentBytes();
    QElapsedTimer t;
    t.start();
    r->startAsynchronous();
    const qint64 peak = runUntil([&] { return done; });
    res.seconds = t.elapsed() / 1000.0;
    res.peakGrowth = peak - base;
    return res;
}

// count GETs, at most `width` in flight (1: one after another).
Result timeSmallGets(const QUrl &url, int count, int width) {
    Result res;
    int started = 0, ended = 0;
    std::function<void()> startOne;
    startOne = [&] {
        auto r = NRHTTPRequest::requestWithURL(url);
        ++started;
        r->setCompletionBlock([&, r] {
            if (r->responseData().size() != 1024)
                ++res.failures;
            ++ended;
            if (started < count)
                startOne();
        });
        r->setFailedBlock([&] {
            ++res.failures;
            ++ended;
            if (started < count)
                startOne();
        });
        r->startAsynchronous();
    };
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < width; ++i)
        startOne();
    runUntil([&] { return ended == count; });
    res.seconds = t.elapsed() / 1000.0;
    return res;
}

void report(const char *what, const Result &engine, double curl) {
    std::printf("%-34s engine %8.3f s   curl %8.3f s   ratio %.2fx", what, engine.seconds, curl,
                curl > 0 ? engine.seconds / curl : 0.0);
    if (engine.peakGrowth)
        std::printf("   engine peak memory +%.1f MiB", engine.peakGrowth / 1048576.0);
    if (engine.failures)
        std::printf("   FAILURES %d", engine.failures);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/varnello-bench-XXXXXX"));
    VNTempDirectory::setPath(home.path() + QStringLiteral("/tmp"));
    g_stateDir = home.path() + QStringLiteral("/peers");
    const int mib = qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB") > 0 ? qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB") : 512;
    if (!peerctl(QStringLiteral("start"))) {
        std::fprintf(stderr, "could not start nginx\n");
        return 1;
    }
    QFile stateFile(g_stateDir + QStringLiteral("/nginx.json"));
    stateFile.open(QIODevice::ReadOnly);
    const QJsonObject state = QJsonDocument::fromJson(stateFile.readAll()).object();
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(state[QStringLiteral("port")].toInt());
    const QString root = state[QStringLiteral("root")].toString();

    // The bulk file, written once into nginx's folder.
    const QString bulkName = QStringLiteral("bulk.bin");
    {
        QFile f(root + QStringLiteral("/files/") + bulkName);
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((i * 7919) >> 3);
        for (int i = 0; i < mib; ++i) {
            block[0] = char(i);
            f.write(block);
        }
    }
    std::printf("HTTP engine vs curl, nginx on loopback, bulk %d MiB\n", mib);
    const QString out = home.path() + QStringLiteral("/download.bin");
    const QUrl bulkURL(base + QStringLiteral("/files/") + bulkName);

    // Each measurement is the best of three, engine and curl taking turns,
    // so that a busy moment of the machine does not decide the ratio.
    const int rounds = 3;
    auto best = [](Result a, const Result &b) {
        if (a.seconds == 0 || b.seconds < a.seconds) {
            const qint64 peak = std::max(a.peakGrowth, b.peakGrowth);
            const int failures = a.failures + b.failures;
            a = b;
            a.peakGrowth = peak;
            a.failures = failures;
        } else {
            a.peakGrowth = std::max(a.peakGrowth, b.peakGrowth);
            a.failures += b.failures;
        }
        return a;
    };
    auto minimum = [](double a, double b) { return a == 0 ? b : std::min(a, b); };

    // GET to a file.
    Result engineGet;
    double curlGet = 0;
    for (int i = 0; i < rounds; ++i) {
        curlGet = minimum(curlGet, timeCurl({QStringLiteral("-s"), QStringLiteral("-o"), out + QStringLiteral(".curl"),
                                             bulkURL.toString()}));
        QFile::remove(out + QStringLiteral(".curl"));
        QFile::remove(out);  // replacing a large file costs time that is not the transfer's
        auto get = NRHTTPRequest::requestWithURL(bulkURL);
        get->setDownloadDestinationPath(out);
        engineGet = best(engineGet, timeRequest(get));
        if (QFileInfo(out).size() != qint64(mib) << 20)
            std::printf("engine download has the wrong size\n");
    }
    report("GET to file", engineGet, curlGet);

    // PUT from a file.
    Result enginePut;
    double curlPut = 0;
    for (int i = 0; i < rounds; ++i) {
        curlPut = minimum(curlPut, timeCurl({QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                             QStringLiteral("-T"), out, base + QStringLiteral("/upload/curl.bin")}));
        auto put = NRHTTPRequest::requestWithURL(QUrl(base + QStringLiteral("/upload/engine.bin")));
        put->setRequestMethod(QStringLiteral("PUT"));
        put->setShouldStreamPostDataFromDisk(true);
        put->setPostBodyFilePath(out);
        enginePut = best(enginePut, timeRequest(put));
        if (put->responseStatusCode() / 100 != 2)
            std::printf("engine PUT answered %d\n", put->responseStatusCode());
    }
    report("PUT from file", enginePut, curlPut);
    QFile::remove(out);
    QFile::remove(root + QStringLiteral("/upload/curl.bin"));
    QFile::remove(root + QStringLiteral("/upload/engine.bin"));

    // 2,000 small GETs over kept-alive connections.
    const int count = 2000;
    const QString small = base + QStringLiteral("/files/1k.bin");
    const QString config = home.path() + QStringLiteral("/curl.cfg");
    {
        QFile cfg(config);
        cfg.open(QIODevice::WriteOnly);
        for (int i = 0; i < count; ++i)
            cfg.write(QStringLiteral("url = \"%1\"\noutput = \"/dev/null\"\n").arg(small).toUtf8());
    }
    for (int width : {1, 4}) {
        Result engine;
        double curl = 0;
        for (int i = 0; i < rounds; ++i) {
            QStringList args{QStringLiteral("-s"), QStringLiteral("-K"), config};
            if (width > 1)
                args = QStringList{QStringLiteral("-s"), QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                                   QString::number(width), QStringLiteral("-K"), config};
            curl = minimum(curl, timeCurl(args));
            engine = best(engine, timeSmallGets(QUrl(small), count, width));
        }
        report(width == 1 ? "2000 x 1 KiB GET, one at a time" : "2000 x 1 KiB GET, 4 at a time", engine, curl);
    }

    peerctl(QStringLiteral("stop"));
    return 0;
}
