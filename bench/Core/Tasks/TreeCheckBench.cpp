// The namesake check of a merged tree: a folder tree is copied onto its
// earlier copy between two drives that may be one storage (two folders of
// one server, played by the folder-backed stand-in for a remote drive), so
// every folder of it merges and the tree's check makes a check folder in
// each and looks for them in every folder of the tree. Prints, for trees of
// growing size, the time of the whole copy task and of the tree's check
// alone, and the name look-ups the check made (one per listed entry) beside
// the comparisons of check folders with entries that comparing each check
// folder with each entry would make.
//
//   tree_check_bench [--folders N,N,...] [--rounds N]
//
// Not a test: it prints, it never fails on numbers.
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNAliasCheck.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

namespace {

// Runs the event loop (where the stand-in answers) until done.
void runUntil(const std::function<bool()> &done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

QNDriveConfigPtr serverDrive(const QString &root) {
    auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
    drive->setUrl(QStringLiteral("fake://h") + root);
    drive->setIsFTP(true);
    return drive;
}

// proj/gNN/dNNN, a hundred folders to a group, each holding one small file.
struct Tree {
    QList<QNDocumentPtr> folders;  // as the drive names them
    qint64 entries = 0;            // what their listings show, in all
};

Tree makeTree(const QString &root, int folders) {
    Tree tree;
    tree.folders << QNDocument::withPath(QStringLiteral("/proj"), true);
    const int groups = std::max(1, (folders + 99) / 100);
    for (int g = 0; g < groups; ++g) {
        const QString group = QStringLiteral("/proj/g%1").arg(g, 3, 10, QLatin1Char('0'));
        tree.folders << QNDocument::withPath(group, true);
        ++tree.entries;
        for (int d = 0; d < 100 && g * 100 + d < folders; ++d) {
            const QString folder = group + QStringLiteral("/d%1").arg(d, 3, 10, QLatin1Char('0'));
            QDir().mkpath(root + folder);
            QFile file(root + folder + QStringLiteral("/f.txt"));
            if (file.open(QIODevice::WriteOnly))
                file.write("x");
            tree.folders << QNDocument::withPath(folder, true);
            tree.entries += 2;  // the folder in its group's listing, its file in its own
        }
    }
    return tree;
}

// The tree's check alone: every folder of one tree against every folder of
// the other, asked as a copy asks it (whether one of them is the other).
double timeTreeCheck(const QString &a, const QString &b, const Tree &tree, bool *apart) {
    auto check = std::make_shared<QNAliasCheck>(QNAliasCheck::Side{serverDrive(a), tree.folders},
                                                QNAliasCheck::Side{serverDrive(b), tree.folders},
                                                QNAliasCheck::Ask::WhetherOne);
    std::atomic<bool> done{false};
    QElapsedTimer timer;
    timer.start();
    check->start([&](const QNAliasCheck::Outcome &outcome) {
        *apart = outcome.answer != QNAliasCheck::Answer::OneStorage && outcome.leftOver.isEmpty();
        done.store(true);
    });
    runUntil([&] { return done.load(); });
    return timer.nsecsElapsed() / 1e9;
}

// The copy task of a:/proj onto b:/, where b:/proj is its earlier copy.
double timeMerge(const std::shared_ptr<QNTaskManager> &manager, const QString &a, const QString &b, bool *whole) {
    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(serverDrive(a), serverDrive(b), QNDocument::withPath("/proj", true),
                                                 QNDocument::withPath("/", true));
    std::atomic<bool> done{false}, failed{false};
    item->registerListenerForTaskItemCompletedBlock(QStringLiteral("bench"), [&](VNErrorPtr error, QNDocumentPtr, bool c) {
        if (error || c) {
            failed = true;
            std::fprintf(stderr, "copy failed: %s\n", error ? qPrintable(error->localizedDescription()) : "cancelled");
        }
    });
    task->registerListenerForTaskCompletedBlock(QStringLiteral("bench"), [&] { done = true; });
    task->addTaskItem(item);
    QElapsedTimer timer;
    timer.start();
    manager->addTask(task);
    runUntil([&] { return done.load(); });
    *whole = !failed.load();
    return timer.nsecsElapsed() / 1e9;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    VNLog::setQuiet(true);
    QList<int> sizes{1000, 3000, 5000};
    int rounds = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--folders")) {
            sizes.clear();
            for (const QString &n : args[++i].split(QLatin1Char(',')))
                sizes << std::max(1, n.toInt());
        } else if (args[i] == QLatin1String("--rounds")) {
            rounds = std::max(1, args[++i].toInt());
        }
    }
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNFakeRemoteHandler::registerWithFactory();
    auto manager = std::make_shared<QNTaskManager>();
    std::printf("a tree merged onto its earlier copy, two folders of one server (median of %d rounds):\n", rounds);
    for (int folders : sizes) {
        QTemporaryDir temp;
        const QString a = temp.path() + QStringLiteral("/a"), b = temp.path() + QStringLiteral("/b");
        const Tree tree = makeTree(a, folders);
        makeTree(b, folders);
        QList<double> checks, merges;
        bool apart = true, whole = true;
        for (int r = 0; r < rounds; ++r) {
            bool ok = false;
            checks << timeTreeCheck(a, b, tree, &ok);
            apart = apart && ok;
            merges << timeMerge(manager, a, b, &ok);
            whole = whole && ok;
        }
        const qint64 markers = tree.folders.size();
        std::printf("  %5lld folders: copy task %.3f s%s, the tree's check alone %.3f s%s;\n"
                    "         name look-ups %lld (one per listed entry), where each check folder against each "
                    "entry would be %.2e comparisons\n",
                    static_cast<long long>(markers), median(merges), whole ? "" : " (FAILED)", median(checks),
                    apart ? "" : " (NOT TOLD APART)", static_cast<long long>(tree.entries),
                    double(markers) * double(tree.entries));
    }
    return 0;
}
