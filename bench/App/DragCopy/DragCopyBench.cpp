// A drag of a folder of 1,000 small files from one pane to another (two
// local-folder drives, offscreen), timed from the drag to the end of the copy
// task, beside cp -r of the same folder. Prints ours ÷ cp (below 1 means
// ours is faster) as the median of interleaved rounds, the order of the
// sides alternating, with each side's peak resident size (ours: this
// process's VmHWM, reset before each drag; cp's: its own).
//
//   drag_copy_bench [--rounds N]
#include "App/QNMacAppDelegate.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNMainWindowController.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNTempDirectory.h"
#include "Platform/VNUserDefaults.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <cstdio>
#include <memory>

namespace {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QNDriveConfigPtr localDrive(const QString &name, const QString &path) {
    auto d = QNDriveConfig::create();
    d->setIsMyFiles(true);
    d->setName(name);
    d->setUrl(QUrl::fromLocalFile(path).toString());
    return d;
}

QNMainWindowController *openRow(QNMacAppDelegate &delegate, int row) {
    QNMainWindowController *w = delegate.newDocument();
    w->reloadDrives();
    waitUntil([w] { return w->numberOfRows() > 2; }, 5000);
    w->tableViewSelectionDidChange(row);
    waitUntil([w] { return w->filesViewController() && !w->filesViewController()->isListing(); }, 10000);
    return w;
}

}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/varnello-bench-XXXXXX"));
    VNTempDirectory::setPath(home.path() + QStringLiteral("/tmp"));
    VNUserDefaults::setStandardFile(home.path() + QStringLiteral("/defaults.ini"));
    QNCloudInterfaceFactory::registerCoreHandlers();

    const int files = 1000;
    const QString a = home.path() + QStringLiteral("/A"), b = home.path() + QStringLiteral("/B");
    const QString tree = a + QStringLiteral("/small");
    QDir().mkpath(tree);
    QDir().mkpath(b);
    quint64 x = 88172645463325252ull;
    for (int i = 0; i < files; ++i) {
        QByteArray block(1024 + (i % 7) * 512, '\0');
        VNBench::fill(block, x);
        QFile f(tree + QStringLiteral("/file-%1.bin").arg(i, 4, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly) || f.write(block) != block.size())
            return 1;
    }
    if (!QNDriveConfig::writeStoredDrives({localDrive(QStringLiteral("A"), a), localDrive(QStringLiteral("B"), b)}))
        return 1;

    QNMacAppDelegate delegate;
    delegate.setQuitHandler([] {});
    delegate.applicationDidFinishLaunching();
    QNMainWindowController *from = openRow(delegate, 0);
    QNMainWindowController *to = openRow(delegate, 1);
    if (!from->filesViewController() || !to->filesViewController())
        return 1;

    const int rounds = VNBench::roundsFrom(app.arguments(), 5);
    const QString copiedTree = b + QStringLiteral("/small");
    const QString cpTarget = home.path() + QStringLiteral("/cp-target");
    int copied = 0;
    auto clear = [&] {
        QDir(copiedTree).removeRecursively();
        QDir(cpTarget).removeRecursively();
        ::sync();
    };
    const auto s = VNBench::interleave(
        rounds,
        {{QStringLiteral("drag"),
          [&] {
              return VNBench::measure([&] {
                  std::unique_ptr<QMimeData> drag(from->filesViewController()->writeDrag({0}));
                  from->filesViewController()->dragEnded();
                  to->filesViewController()->dropWithMimeData(drag.get(), /*moveAsked=*/false);
                  waitUntil([&] { return !delegate.taskManager()->tasks().isEmpty(); }, 5000);
                  const bool done = waitUntil([&] { return delegate.taskManager()->tasks().isEmpty(); }, 600000);
                  copied = int(QDir(copiedTree).entryList(QDir::Files).size());
                  if (!done || copied != files)
                      std::fprintf(stderr, "drag copy: %s, %d of %d copied\n", done ? "done" : "TIMED OUT", copied, files);
                  return done && copied == files;
              });
          }},
         {QStringLiteral("cp -r"),
          [&] { return VNBench::runCommand({QStringLiteral("cp"), {QStringLiteral("-r"), tree, cpTarget}, {}, {}}); }}},
        clear);
    clear();
    std::printf("drag-started copy of %d small files between two local drives, %d rounds:\n", files, rounds);
    VNBench::printComparison("drag copy vs cp -r", QStringLiteral("drag"), s[0], QStringLiteral("cp -r"), s[1]);
    return VNBench::failures(s[0]) ? 1 : 0;
}
