// Measures the HTTP engine beside the curl command against the same nginx on
// loopback (started here through the test peers):
//   GET of a large file to a file, PUT of it from a file,
//   2,000 keep-alive GETs of 1 KiB one after another, and 4 at a time.
// Prints ours ÷ curl for each (below 1 means ours is faster) as the median
// of interleaved rounds, the order of the sides alternating, with each
// side's peak resident size (the engine's: this process's VmHWM, reset
// before each run; curl's: its own).
// VARNELLO_BENCH_MIB sets the bulk size (default 512); --rounds N the
// rounds of the small requests (default 5; the bulk transfers take 3).
// `net_bench gets URL COUNT WIDTH` only runs the engine's small GETs against
// a server already running, once, and prints the time they took; for a
// profiler (callgrind, strace, perf) the cost of one request is the
// difference of two counts.
#include "Net/NRHTTPRequest.h"
#include "Platform/VNTempDirectory.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

QString g_stateDir;

using VNBench::Sample;

// Runs the loop until done.
void runUntil(const std::function<bool()> &done) {
    // The timer wakes the loop so that done() is seen.
    QTimer wake;
    wake.start(20);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool peerctl(const QString &verb) {
    return VNBench::peerctl(g_stateDir, verb, QStringLiteral("nginx"));
}

// One request, run to its end; false when it failed.
bool runRequest(const std::shared_ptr<NRHTTPRequest> &r) {
    bool done = false, failed = false;
    r->setCompletionBlock([&] { done = true; });
    r->setFailedBlock([&] {
        done = true;
        failed = true;
        std::fprintf(stderr, "engine failed: %s\n", qPrintable(r->error()->localizedDescription()));
    });
    r->startAsynchronous();
    runUntil([&] { return done; });
    return !failed;
}

// count GETs, at most `width` in flight (1: one after another); false when
// any failed or came back with the wrong size.
bool runSmallGets(const QUrl &url, int count, int width) {
    int started = 0, ended = 0, failures = 0;
    std::function<void()> startOne;
    startOne = [&] {
        auto r = NRHTTPRequest::requestWithURL(url);
        ++started;
        r->setCompletionBlock([&, r] {
            if (r->responseData().size() != 1024)
                ++failures;
            ++ended;
            if (started < count)
                startOne();
        });
        r->setFailedBlock([&] {
            ++failures;
            ++ended;
            if (started < count)
                startOne();
        });
        r->startAsynchronous();
    };
    for (int i = 0; i < width; ++i)
        startOne();
    runUntil([&] { return ended == count; });
    if (failures)
        std::fprintf(stderr, "%d small GETs failed\n", failures);
    return failures == 0;
}

Sample curl(const QStringList &args) {
    return VNBench::runCommand({QStringLiteral("curl"), args, {}, {}});
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("gets") && app.arguments().size() == 5) {
        const QStringList args = app.arguments();
        QElapsedTimer t;
        t.start();
        const bool ok = runSmallGets(QUrl(args[2]), args[3].toInt(), args[4].toInt());
        std::printf("%.1f ms\n", t.nsecsElapsed() / 1e6);
        return ok ? 0 : 1;
    }
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
    std::fflush(stdout);
    const QString out = home.path() + QStringLiteral("/download.bin");
    const QUrl bulkURL(base + QStringLiteral("/files/") + bulkName);

    const int rounds = VNBench::roundsFrom(app.arguments(), 5);
    const int bulkRounds = std::min(rounds, 3);

    // GET to a file; replacing a large file costs time that is not the
    // transfer's, so the targets go before each run.
    auto clearDownloads = [&] {
        QFile::remove(out + QStringLiteral(".curl"));
        QFile::remove(out);
    };
    const auto get = VNBench::interleave(
        bulkRounds,
        {{QStringLiteral("engine"),
          [&] {
              return VNBench::measure([&] {
                  auto request = NRHTTPRequest::requestWithURL(bulkURL);
                  request->setDownloadDestinationPath(out);
                  return runRequest(request) && QFileInfo(out).size() == qint64(mib) << 20;
              });
          }},
         {QStringLiteral("curl"),
          [&] { return curl({QStringLiteral("-s"), QStringLiteral("-o"), out + QStringLiteral(".curl"), bulkURL.toString()}); }}},
        clearDownloads);
    VNBench::printComparison("GET to file", QStringLiteral("engine"), get[0], QStringLiteral("curl"), get[1]);

    // PUT from a file (the engine's last download).
    QFile::remove(out + QStringLiteral(".curl"));
    if (!QFileInfo::exists(out))
        VNBench::makeBigFile(out, qint64(mib) << 20);
    const auto put = VNBench::interleave(
        bulkRounds,
        {{QStringLiteral("engine"),
          [&] {
              return VNBench::measure([&] {
                  auto request = NRHTTPRequest::requestWithURL(QUrl(base + QStringLiteral("/upload/engine.bin")));
                  request->setRequestMethod(QStringLiteral("PUT"));
                  request->setShouldStreamPostDataFromDisk(true);
                  request->setPostBodyFilePath(out);
                  return runRequest(request) && request->responseStatusCode() / 100 == 2;
              });
          }},
         {QStringLiteral("curl"),
          [&] {
              return curl({QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                           QStringLiteral("-T"), out, base + QStringLiteral("/upload/curl.bin")});
          }}});
    VNBench::printComparison("PUT from file", QStringLiteral("engine"), put[0], QStringLiteral("curl"), put[1]);
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
        QStringList args{QStringLiteral("-s"), QStringLiteral("-K"), config};
        if (width > 1)
            args = QStringList{QStringLiteral("-s"), QStringLiteral("--no-progress-meter"), QStringLiteral("--parallel"), QStringLiteral("--parallel-max"),
                               QString::number(width), QStringLiteral("-K"), config};
        const auto gets = VNBench::interleave(
            rounds, {{QStringLiteral("engine"), [&] { return VNBench::measure([&] { return runSmallGets(QUrl(small), count, width); }); }},
                     {QStringLiteral("curl"), [&] { return curl(args); }}});
        VNBench::printComparison(width == 1 ? "2000 x 1 KiB GET, one at a time" : "2000 x 1 KiB GET, 4 at a time",
                                 QStringLiteral("engine"), gets[0], QStringLiteral("curl"), gets[1]);
    }

    peerctl(QStringLiteral("stop"));
    return 0;
}
