// Copies one big file through the local-folder handler's download and upload
// and with cp, and prints ours ÷ cp for each (below 1 means ours is faster)
// as the median of interleaved rounds, the order of the sides alternating,
// with each side's peak resident size (ours: this process's VmHWM, reset
// before each run; cp's: its own).
//
//   local_copy_bench [--size-mib N] [--dir FOLDER] [--runs N]
//
// The folder (default: a fresh one under the current directory) must have
// room for three copies of the file. Not a test: it prints, it never fails on
// numbers.
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Platform/VNLog.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

// Runs one handler transfer and waits for its answer.
bool runTransfer(bool upload, const QString &source, const QString &target) {
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
    if (upload)
        handler->upload(QNDocument::withPath(source), QNDocument::withPath(target, true), nullptr, completed);
    else
        handler->download(QNDocument::withPath(source), QNDocument::withPath(target), nullptr, completed);
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    return ok;
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
    const QString target = dir.path() + "/target.bin";
    QDir(dir.path()).mkdir("into");
    const QString uploaded = dir.path() + "/into/source.bin";

    std::printf("local-folder handler copy benchmark: %lld MiB, %d rounds, folder %s\n", sizeMiB, runs,
                qPrintable(dir.path()));
    if (!VNBench::makeBigFile(source, sizeMiB << 20)) {
        std::fprintf(stderr, "cannot write the source file\n");
        return 1;
    }
    // One warm-up of each, so that every measured run reads from the page cache.
    VNBench::runCommand({QStringLiteral("cp"), {source, target}, {}, {}});
    QFile::remove(target);
    runTransfer(false, source, target);

    auto clear = [&] {
        QFile::remove(target);
        QFile::remove(uploaded);
        ::sync();
    };
    const auto s = VNBench::interleave(
        runs,
        {{QStringLiteral("cp"), [&] { return VNBench::runCommand({QStringLiteral("cp"), {source, target}, {}, {}}); }},
         {QStringLiteral("download"), [&] { return VNBench::measure([&] { return runTransfer(false, source, target); }); }},
         {QStringLiteral("upload"),
          [&] { return VNBench::measure([&] { return runTransfer(true, source, dir.path() + "/into"); }); }}},
        clear);
    clear();
    const double mib = double(sizeMiB);
    std::printf("  throughput (medians): cp %.0f MiB/s, download %.0f MiB/s, upload %.0f MiB/s\n",
                mib / VNBench::medianSeconds(s[0]), mib / VNBench::medianSeconds(s[1]), mib / VNBench::medianSeconds(s[2]));
    VNBench::printComparison("download vs cp", QStringLiteral("download"), s[1], QStringLiteral("cp"), s[0]);
    VNBench::printComparison("upload vs cp", QStringLiteral("upload"), s[2], QStringLiteral("cp"), s[0]);
    return VNBench::failures(s[1]) || VNBench::failures(s[2]) ? 1 : 0;
}
