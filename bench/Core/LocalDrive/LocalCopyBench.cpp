// Copies one big file through the local-folder handler's download and upload
// and with cp, and prints the throughput ratio and the peak memory.
//
//   local_copy_bench [--size-mib N] [--dir FOLDER] [--runs N]
//
// The folder (default: a fresh one under the current directory) must have
// room for three copies of the file. Not a test: it prints, it never fails on
// numbers.
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Platform/VNLog.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using VNBench::makeBigFile;
using VNBench::peakRssKiB;

// Runs one handler transfer and waits for its answer; seconds, or -1 on failure.
double timeTransfer(bool upload, const QString &source, const QString &target) {
    auto handler = QNMyDocumentsHandler::makeLocalDriveConfig()->createCloudInterface();
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool ok = false;
    auto completed = [&](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
        std::lock_guard lock(m);
        ok = !error && !cancelled;
        if (error)
            std::fprintf(stderr, "transfer failed: %s\n", qPrintable(error->localizedDescription()));
        done = true;
        cv.notify_all();
    };
    QElapsedTimer timer;
    timer.start();
    if (upload)
        handler->upload(QNDocument::withPath(source), QNDocument::withPath(target, true), nullptr, completed);
    else
        handler->download(QNDocument::withPath(source), QNDocument::withPath(target), nullptr, completed);
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    const double seconds = timer.nsecsElapsed() / 1e9;
    return ok ? seconds : -1;
}

double timeCp(const QString &source, const QString &target) {
    QElapsedTimer timer;
    timer.start();
    const int rc = QProcess::execute(QStringLiteral("cp"), {source, target});
    const double seconds = timer.nsecsElapsed() / 1e9;
    return rc == 0 ? seconds : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    VNLog::setQuiet(true);
    QNCloudInterfaceFactory::registerCoreHandlers();

    qint64 sizeMiB = 1024;
    int runs = 3;
    QString base = QDir::currentPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--size-mib")
            sizeMiB = args[i + 1].toLongLong();
        else if (args[i] == "--dir")
            base = args[i + 1];
        else if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
    }
    QTemporaryDir dir(base + "/local-copy-bench-XXXXXX");
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder under %s\n", qPrintable(base));
        return 1;
    }
    const QString source = dir.path() + "/source.bin";
    const QString smallSource = dir.path() + "/small.bin";
    const QString target = dir.path() + "/target.bin";
    QDir(dir.path()).mkdir("into");
    const QString uploaded = dir.path() + "/into/source.bin";

    std::printf("local-folder handler copy benchmark: %lld MiB, %d runs each, folder %s\n", sizeMiB, runs,
                qPrintable(dir.path()));
    const long rssStart = peakRssKiB();
    if (!makeBigFile(smallSource, 64LL << 20) || !makeBigFile(source, sizeMiB << 20)) {
        std::fprintf(stderr, "cannot write the source files\n");
        return 1;
    }
    // Memory after a small transfer, to compare with the big one.
    timeTransfer(false, smallSource, target);
    QFile::remove(target);
    const long rssAfterSmall = peakRssKiB();

    // One warm-up of each so every measured run reads from the page cache.
    timeCp(source, target);
    QFile::remove(target);
    timeTransfer(false, source, target);
    QFile::remove(target);
    const long rssBeforeBig = peakRssKiB();

    std::vector<double> cpTimes, downloadTimes, uploadTimes;
    for (int i = 0; i < runs; ++i) {
        cpTimes.push_back(timeCp(source, target));
        QFile::remove(target);
        ::sync();
        downloadTimes.push_back(timeTransfer(false, source, target));
        QFile::remove(target);
        ::sync();
        uploadTimes.push_back(timeTransfer(true, source, dir.path() + "/into"));
        QFile::remove(uploaded);
        ::sync();
    }
    for (double t : cpTimes)
        if (t < 0)
            return 1;
    for (double t : downloadTimes)
        if (t < 0)
            return 1;
    for (double t : uploadTimes)
        if (t < 0)
            return 1;
    const double mib = double(sizeMiB);
    // Medians; the best runs are printed too, as the machine's noise is large.
    const double cp = median(cpTimes), down = median(downloadTimes), up = median(uploadTimes);
    const double cpBest = *std::min_element(cpTimes.begin(), cpTimes.end());
    const double downBest = *std::min_element(downloadTimes.begin(), downloadTimes.end());
    const double upBest = *std::min_element(uploadTimes.begin(), uploadTimes.end());
    std::printf("cp:       %7.3f s  %8.1f MiB/s\n", cp, mib / cp);
    std::printf("download: %7.3f s  %8.1f MiB/s  ratio to cp %.2f\n", down, mib / down, cp / down);
    std::printf("upload:   %7.3f s  %8.1f MiB/s  ratio to cp %.2f\n", up, mib / up, cp / up);
    std::printf("best runs: cp %.3f s, download %.3f s (ratio %.2f), upload %.3f s (ratio %.2f)\n", cpBest, downBest,
                cpBest / downBest, upBest, cpBest / upBest);
    std::printf("peak RSS: start %.1f MiB, after 64 MiB copy %.1f MiB, before %lld MiB copies %.1f MiB, end %.1f MiB\n",
                rssStart / 1024.0, rssAfterSmall / 1024.0, sizeMiB, rssBeforeBig / 1024.0, peakRssKiB() / 1024.0);
    return 0;
}
