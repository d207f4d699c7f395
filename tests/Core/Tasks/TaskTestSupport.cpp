#include "TaskTestSupport.h"

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "ScriptedRemoteHandler.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace TaskTest {

void registerHandlers() {
    static bool done = false;
    if (done)
        return;
    done = true;
    QNCloudInterfaceFactory::registerCoreHandlers();
    ScriptedRemoteHandler::registerWithFactory();
    QNFakeRemoteHandler::registerWithFactory();
}

QNDriveConfigPtr localDrive() { return QNMyDocumentsHandler::makeLocalDriveConfig(); }

QNDocumentPtr localDocument(const QString &absolutePath) {
    QFileInfo info(absolutePath);
    auto doc = QNDocument::withPath(absolutePath, info.isDir());
    if (info.isFile())
        doc->setSize(info.size());
    return doc;
}

QNDocumentPtr driveDocument(const QString &drivePath, bool isDirectory, qint64 size) {
    auto doc = QNDocument::withPath(drivePath, isDirectory);
    doc->setSize(size);
    return doc;
}

void writeTree(const QString &root, const QMap<QString, QByteArray> &tree) {
    QDir().mkpath(root);
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        if (it.key().endsWith(QLatin1Char('/')))
            QDir().mkpath(path);
        else
            VNTest::writeFile(path, it.value());
    }
}

QMap<QString, QByteArray> sampleTree() {
    auto randomBytes = [](int n, quint32 seed) {
        QRandomGenerator gen(seed);
        QByteArray out(n, '\0');
        for (int i = 0; i < n; ++i)
            out[i] = static_cast<char>(gen.bounded(256));
        return out;
    };
    QMap<QString, QByteArray> tree;
    tree.insert(QStringLiteral("top.txt"), "top level\n");
    tree.insert(QStringLiteral("empty.bin"), QByteArray());
    tree.insert(QStringLiteral(".hidden"), "hidden\n");
    tree.insert(QStringLiteral("big.bin"), randomBytes(200 * 1024 + 17, 1));
    tree.insert(QStringLiteral("one/a.txt"), "a\n");
    tree.insert(QStringLiteral("one/b.bin"), randomBytes(70000, 2));
    tree.insert(QStringLiteral("one/two/c.txt"), "c in two\n");
    tree.insert(QStringLiteral("one/two/three/d.bin"), randomBytes(65536, 3));
    tree.insert(QStringLiteral("one/two/three/e.txt"), "deepest\n");
    tree.insert(QStringLiteral("one/emptyfolder/"), QByteArray());
    tree.insert(QStringLiteral("spaces and ünïcode/file name.txt"), "names\n");
    return tree;
}

std::shared_ptr<ItemReports> watchItem(const QNTaskItemPtr &item, const QString &key) {
    auto reports = std::make_shared<ItemReports>();
    item->registerListenerForTaskItemCompletedBlock(key, [reports](VNErrorPtr error, QNDocumentPtr doc, bool cancelled) {
        std::lock_guard lock(reports->mutex);
        reports->reports.emplace_back(error, doc, cancelled);
    });
    return reports;
}

bool runTask(const std::shared_ptr<QNTaskManager> &manager, const QNTaskPtr &task, int timeoutMs) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    task->registerListenerForTaskCompletedBlock(QStringLiteral("runTask"), [done] { done->store(true); });
    manager->addTask(task);
    return VNTest::waitUntil([done] { return done->load(); }, timeoutMs) && waitForCompletion(task, 5000);
}

bool waitForCompletion(const QNTaskPtr &task, int timeoutMs) {
    if (!VNTest::waitUntil([task] { return task->completed(); }, timeoutMs))
        return false;
    // The end pass follows the completed listeners; it leaves every item
    // finished but one still at work, which finishes as it reports.
    return VNTest::waitUntil([task] {
        for (const auto &item : task->taskItems())
            if (!item->finished())
                return false;
        return true;
    }, 5000);
}

void TaskFixture::SetUp() {
    m_cancelledCallsWaitLimit = QNTask::cancelledCallsWaitLimit();
    QNTask::setCancelledCallsWaitLimit(std::chrono::hours(1));
    registerHandlers();
    QNFakeRemoteHandler::resetBehaviours();
    ScriptedRemoteHandler::reset();
    dir = VNTest::makeTempDir();
    manager = std::make_shared<QNTaskManager>();
}

TaskFixture::Report TaskFixture::runOne(const QNTaskPtr &task, const QNTaskItemPtr &item) {
    auto reports = watchItem(item);
    task->addTaskItem(item);
    EXPECT_TRUE(runTask(manager, task));
    EXPECT_EQ(reports->count(), 1);
    return reports->count() ? reports->first() : Report{};
}

void TaskFixture::setMode(QNFakeRemoteHandler::Op op, QNFakeRemoteHandler::Mode mode, const QString &root,
                          int delayMs) {
    QNFakeRemoteHandler::Behaviour behaviour;
    behaviour.mode = mode;
    behaviour.delayMs = delayMs;
    QNFakeRemoteHandler::setBehaviour(op, behaviour, root);
}

void TaskFixture::TearDown() {
    QNFakeRemoteHandler::resetBehaviours();
    ScriptedRemoteHandler::reset();
    QNTask::setCancelledCallsWaitLimit(m_cancelledCallsWaitLimit);
}

}  // namespace TaskTest
