// Copies, local folder to local folder through a copy task on the task
// manager, a tree of many small files and, separately, one big file, and does
// the same with cp -r; prints the time ratios and the peak memory.
//
//   task_copy_bench [--files N] [--size-mib N] [--dir FOLDER] [--runs N]
//
// The folder (default: a fresh one under the current directory) needs room
// for three copies of the big file. Not a test: it prints, it never fails on
// numbers.
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNLog.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

using VNBench::fill;
using VNBench::peakRssKiB;
using VNBench::makeBigFile;

// 100 files per folder, sizes from 200 bytes to 4 KiB.
bool makeSmallTree(const QString &root, int files) {
    quint64 x = 0x2545f4914f6cdd1dULL;
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/d%1").arg(i / 100, 3, 10, QLatin1Char('0'));
        if (i % 100 == 0 && !QDir().mkpath(folder))
            return false;
        QByteArray data(200 + static_cast<int>((x >> 11) % 3896), Qt::Uninitialized);
        fill(data, x);
        QFile f(folder + QStringLiteral("/f%1.bin").arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return false;
    }
    return true;
}

void settle() {
    QProcess::execute(QStringLiteral("sync"), {});
}

double timeCp(const QString &source, const QString &target) {
    QElapsedTimer timer;
    timer.start();
    const int rc = QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, target});
    return rc == 0 ? timer.nsecsElapsed() / 1e9 : -1;
}

// Runs one copy task of the source into the target folder; seconds, or -1.
double lastMetadataSeconds = 0;  // the metadata phase of the last task run

double timeTask(const std::shared_ptr<QNTaskManager> &manager, const QString &source, const QString &targetFolder) {
    auto local = QNDriveConfig::create();
    local->setIsMyFiles(true);
    local->setUseAbsolutePath(true);
    QFileInfo info(source);
    auto doc = QNDocument::withPath(info.absoluteFilePath(), info.isDir());
    doc->setSize(info.isFile() ? info.size() : 0);
    auto dest = QNDocument::withPath(QFileInfo(targetFolder).absoluteFilePath(), true);
    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(local, local, doc, dest);
    std::atomic<bool> failed{false};
    item->registerListenerForTaskItemCompletedBlock(QStringLiteral("bench"), [&](VNErrorPtr error, QNDocumentPtr, bool c) {
        if (error || c) {
            failed = true;
            std::fprintf(stderr, "copy failed: %s\n", error ? qPrintable(error->localizedDescription()) : "cancelled");
        }
    });
    task->addTaskItem(item);
    QEventLoop loop;
    std::atomic<bool> done{false};
    task->registerListenerForTaskCompletedBlock(QStringLiteral("bench"), [&] { done = true; });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done.load())
            loop.quit();
    });
    QElapsedTimer timer;
    std::atomic<qint64> metadataNs{0};
    task->registerListenerForTaskMetadataCompletedBlock(QStringLiteral("bench"),
                                                        [&] { metadataNs = timer.nsecsElapsed(); });
    timer.start();
    manager->addTask(task);
    poll.start(1);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    lastMetadataSeconds = metadataNs.load() / 1e9;
    return failed ? -1 : seconds;
}

bool sameTree(const QString &a, const QString &b) {
    QDirIterator it(a, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int n = 0;
    while (it.hasNext()) {
        const QString p = it.next();
        QFile x(p), y(b + QLatin1Char('/') + QDir(a).relativeFilePath(p));
        if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly))
            return false;
        while (!x.atEnd())
            if (x.read(1 << 20) != y.read(1 << 20))
                return false;
        if (!y.atEnd())
            return false;
        ++n;
    }
    return n > 0;
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    VNLog::setQuiet(true);
    int files = 10000;
    qint64 sizeMiB = 1024;
    int runs = 4;
    QString dirArg;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--files"))
            files = args[++i].toInt();
        else if (args[i] == QLatin1String("--size-mib"))
            sizeMiB = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--dir"))
            dirArg = args[++i];
        else if (args[i] == QLatin1String("--runs"))
            runs = args[++i].toInt();
    }
    QNCloudInterfaceFactory::registerCoreHandlers();
    QTemporaryDir tmp((dirArg.isEmpty() ? QDir::currentPath() : dirArg) + QStringLiteral("/task-copy-bench-XXXXXX"));
    if (!tmp.isValid()) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    const QString base = tmp.path();
    auto manager = std::make_shared<QNTaskManager>();

    // The small-file tree.
    const QString tree = base + QStringLiteral("/tree");
    if (!makeSmallTree(tree, files)) {
        std::fprintf(stderr, "cannot write the tree\n");
        return 1;
    }
    double bestCp = 1e9, bestTask = 1e9, bestMetadata = 0;
    for (int r = 0; r < runs; ++r) {
        // Fresh folders each run, nothing deleted in between: creating
        // thousands of files right after deleting thousands costs the file
        // system much more, for whoever comes first. cp and the task take turns.
        const QString cpOut = base + QStringLiteral("/run%1-cp").arg(r);
        const QString taskOut = base + QStringLiteral("/run%1-task").arg(r);
        QDir().mkpath(taskOut);
        double c = 0, t = 0;
        if (r % 2 == 0) {
            settle();
            c = timeCp(tree, cpOut);
            settle();
            t = timeTask(manager, tree, taskOut);
        } else {
            settle();
            t = timeTask(manager, tree, taskOut);
            settle();
            c = timeCp(tree, cpOut);
        }
        if (c < 0 || t < 0 || !sameTree(tree, taskOut + QStringLiteral("/tree"))) {
            std::fprintf(stderr, "tree copy failed\n");
            return 1;
        }
        bestCp = std::min(bestCp, c);
        if (t < bestTask)
            bestMetadata = lastMetadataSeconds;
        bestTask = std::min(bestTask, t);
    }
    std::printf("small files: %d files in %d folders: cp -r %.3f s, copy task %.3f s (folders and listings %.3f s), "
                "task/cp time %.2fx (aim: <= 3x)\n",
                files, (files + 99) / 100, bestCp, bestTask, bestMetadata, bestTask / bestCp);
    QDir(tree).removeRecursively();
    for (int r = 0; r < runs; ++r) {
        QDir(base + QStringLiteral("/run%1-cp").arg(r)).removeRecursively();
        QDir(base + QStringLiteral("/run%1-task").arg(r)).removeRecursively();
    }

    // The big file.
    const QString big = base + QStringLiteral("/big.bin");
    if (!makeBigFile(big, sizeMiB << 20)) {
        std::fprintf(stderr, "cannot write the big file\n");
        return 1;
    }
    bestCp = 1e9;
    bestTask = 1e9;
    for (int r = 0; r < runs; ++r) {
        const QString cpOut = base + QStringLiteral("/cp-big.bin"), taskOut = base + QStringLiteral("/task-out");
        QFile::remove(cpOut);
        QDir(taskOut).removeRecursively();
        QDir().mkpath(taskOut);
        settle();
        const double c = timeCp(big, cpOut);
        settle();
        const double t = timeTask(manager, big, taskOut);
        if (c < 0 || t < 0 || QFileInfo(taskOut + QStringLiteral("/big.bin")).size() != (sizeMiB << 20)) {
            std::fprintf(stderr, "big copy failed\n");
            return 1;
        }
        bestCp = std::min(bestCp, c);
        bestTask = std::min(bestTask, t);
        QFile::remove(cpOut);
        QDir(taskOut).removeRecursively();
    }
    const double mib = static_cast<double>(sizeMiB);
    std::printf("big file: %lld MiB: cp %.3f s (%.0f MiB/s), copy task %.3f s (%.0f MiB/s), task/cp throughput %.2f "
                "(aim: >= 0.9)\n",
                static_cast<long long>(sizeMiB), bestCp, mib / bestCp, bestTask, mib / bestTask, bestCp / bestTask);
    std::printf("peak memory: %ld MiB\n", peakRssKiB() / 1024);
    return 0;
}
