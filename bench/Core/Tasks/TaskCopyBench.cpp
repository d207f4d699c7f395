// Copies, local folder to local folder through a copy task on the task
// manager, a tree of many small files and, separately, one big file, beside
// `cp -r` (and `rclone copy` for the tree, when rclone is installed). Prints
// ours ÷ peer for each (below 1 means ours is faster) as the median of
// interleaved rounds, the order of the sides alternating, with each side's
// peak resident size (ours: this process's, VmHWM reset before each run;
// the peers': their own, from wait4()).
//
//   task_copy_bench [--files N] [--size-mib N] [--dir FOLDER] [--tmpfs FOLDER]
//                   [--rounds N] [--big-rounds N]
//
// The tree is copied on the disk (FOLDER, default the current directory)
// and on a tmpfs (default /dev/shm), where creating a file costs no disk
// time, so that the task engine's own share shows. The disk folder needs
// room for three copies of the big file. Not a test: it prints, it never
// fails on numbers.
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNLog.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <sys/vfs.h>

namespace {

using VNBench::Sample;
using VNBench::Side;

// 100 files per folder, sizes from 200 bytes to 4 KiB.
bool makeSmallTree(const QString &root, int files) {
    quint64 x = 0x2545f4914f6cdd1dULL;
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/d%1").arg(i / 100, 3, 10, QLatin1Char('0'));
        if (i % 100 == 0 && !QDir().mkpath(folder))
            return false;
        QByteArray data(200 + static_cast<int>((x >> 11) % 3896), Qt::Uninitialized);
        VNBench::fill(data, x);
        QFile f(folder + QStringLiteral("/f%1.bin").arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return false;
    }
    return true;
}

void settle() {
    ::sync();
}

bool isTmpfs(const QString &path) {
    struct statfs fs {};
    return ::statfs(QFile::encodeName(path).constData(), &fs) == 0 && fs.f_type == 0x01021994;  // TMPFS_MAGIC
}

// Runs one copy task of the source into the target folder, to its end.
double lastMetadataSeconds = 0;  // the metadata phase of the last task run

bool runTask(const std::shared_ptr<QNTaskManager> &manager, const QString &source, const QString &targetFolder) {
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
    lastMetadataSeconds = metadataNs.load() / 1e9;
    return !failed;
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

struct Options {
    int files = 10000;
    qint64 sizeMiB = 1024;
    int rounds = 5;
    int bigRounds = 3;
};

// The small-file tree in base: the task against cp -r (and rclone), each
// run into a fresh folder (creating thousands of files right after deleting
// thousands costs the file system more, for whoever comes next).
void benchSmallFiles(const std::shared_ptr<QNTaskManager> &manager, const QString &base, const char *where,
                     const Options &o, const QString &rclone) {
    const QString tree = base + QStringLiteral("/tree");
    if (!makeSmallTree(tree, o.files)) {
        std::fprintf(stderr, "cannot write the tree in %s\n", qPrintable(base));
        return;
    }
    int run = 0;
    QList<double> metadata;
    bool copiesWhole = true;
    auto fresh = [&](const char *side) {
        const QString out = base + QStringLiteral("/run%1-%2").arg(run++).arg(QLatin1String(side));
        QDir().mkpath(out);
        return out;
    };
    QList<Side> sides{
        {QStringLiteral("copy task"),
         [&] {
             const QString out = fresh("task");
             const Sample s = VNBench::measure([&] { return runTask(manager, tree, out); });
             metadata.append(lastMetadataSeconds);
             copiesWhole = copiesWhole && s.ok && sameTree(tree, out + QStringLiteral("/tree"));
             return s;
         }},
        {QStringLiteral("cp -r"),
         [&] { return VNBench::runCommand({QStringLiteral("cp"), {QStringLiteral("-r"), tree, fresh("cp")}, {}, {}}); }},
    };
    if (!rclone.isEmpty())
        sides.append({QStringLiteral("rclone copy"), [&] {
                          return VNBench::runCommand({rclone, {QStringLiteral("copy"), tree, fresh("rclone")}, {}, {}});
                      }});
    const auto s = VNBench::interleave(o.rounds, sides, settle);
    std::printf("%d small files in %d folders, %s (%s), %d rounds:\n", o.files, (o.files + 99) / 100, where,
                qPrintable(base), o.rounds);
    VNBench::printComparison("copy task vs cp -r", QStringLiteral("task"), s[0], QStringLiteral("cp -r"), s[1]);
    if (rclone.isEmpty())
        std::printf("  copy task vs rclone copy: skipped, rclone is not installed\n");
    else
        VNBench::printComparison("copy task vs rclone copy", QStringLiteral("task"), s[0], QStringLiteral("rclone"), s[2]);
    std::printf("  of the task: folders and listings %.3f s (median)%s\n", VNBench::median(metadata),
                copiesWhole ? "" : "; a COPY DIFFERED from its source");
    QDir(tree).removeRecursively();
    for (int r = 0; r < run; ++r)
        for (const char *side : {"task", "cp", "rclone"})
            QDir(base + QStringLiteral("/run%1-%2").arg(r).arg(QLatin1String(side))).removeRecursively();
}

void benchBigFile(const std::shared_ptr<QNTaskManager> &manager, const QString &base, const Options &o) {
    const QString big = base + QStringLiteral("/big.bin");
    if (!VNBench::makeBigFile(big, o.sizeMiB << 20)) {
        std::fprintf(stderr, "cannot write the big file\n");
        return;
    }
    const QString cpOut = base + QStringLiteral("/cp-big.bin"), taskOut = base + QStringLiteral("/task-out");
    bool whole = true;
    auto clear = [&] {
        QFile::remove(cpOut);
        QDir(taskOut).removeRecursively();
        QDir().mkpath(taskOut);
        settle();
    };
    const auto s = VNBench::interleave(
        o.bigRounds,
        {{QStringLiteral("copy task"),
          [&] {
              const Sample r = VNBench::measure([&] { return runTask(manager, big, taskOut); });
              whole = whole && QFileInfo(taskOut + QStringLiteral("/big.bin")).size() == (o.sizeMiB << 20);
              return r;
          }},
         {QStringLiteral("cp"), [&] { return VNBench::runCommand({QStringLiteral("cp"), {big, cpOut}, {}, {}}); }}},
        clear);
    std::printf("big file, %lld MiB, %d rounds (throughput: %.0f MiB/s task, %.0f MiB/s cp)%s:\n",
                static_cast<long long>(o.sizeMiB), o.bigRounds, o.sizeMiB / VNBench::medianSeconds(s[0]),
                o.sizeMiB / VNBench::medianSeconds(s[1]), whole ? "" : ", a COPY HAD THE WRONG SIZE");
    VNBench::printComparison("copy task vs cp", QStringLiteral("task"), s[0], QStringLiteral("cp"), s[1]);
    clear();
    QFile::remove(big);
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    VNLog::setQuiet(true);
    Options o;
    QString dirArg, tmpfsArg = QStringLiteral("/dev/shm");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--files"))
            o.files = args[++i].toInt();
        else if (args[i] == QLatin1String("--size-mib"))
            o.sizeMiB = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--dir"))
            dirArg = args[++i];
        else if (args[i] == QLatin1String("--tmpfs"))
            tmpfsArg = args[++i];
        else if (args[i] == QLatin1String("--rounds"))
            o.rounds = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--big-rounds"))
            o.bigRounds = std::max(1, args[++i].toInt());
    }
    QNCloudInterfaceFactory::registerCoreHandlers();
    auto manager = std::make_shared<QNTaskManager>();
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));

    QTemporaryDir disk((dirArg.isEmpty() ? QDir::currentPath() : dirArg) + QStringLiteral("/task-copy-bench-XXXXXX"));
    if (!disk.isValid()) {
        std::fprintf(stderr, "no working folder\n");
        return 1;
    }
    benchSmallFiles(manager, disk.path(), "on disk", o, rclone);
    if (isTmpfs(tmpfsArg)) {
        QTemporaryDir memory(tmpfsArg + QStringLiteral("/task-copy-bench-XXXXXX"));
        if (memory.isValid())
            benchSmallFiles(manager, memory.path(), "on tmpfs", o, rclone);
        else
            std::printf("small files on tmpfs: skipped, cannot make a folder in %s\n", qPrintable(tmpfsArg));
    } else {
        std::printf("small files on tmpfs: skipped, %s is not a tmpfs\n", qPrintable(tmpfsArg));
    }
    benchBigFile(manager, disk.path(), o);
    return 0;
}
