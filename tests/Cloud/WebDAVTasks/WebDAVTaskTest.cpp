// A folder tree copied from the local disk to a WebDAV drive and back through
// the task engine, byte for byte; copy and move inside the server as single
// requests.
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveOperation.h"
#include "Core/QNTaskManager.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

QNDriveConfigPtr localDrive() {
    auto config = QNDriveConfig::create();
    config->setIsMyFiles(true);
    config->setUseAbsolutePath(true);
    return config;
}

// Every entry below root, relative, folders ending in "/", sorted.
QStringList listTree(const QString &root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString rel = QDir(root).relativeFilePath(it.filePath());
        entries << (it.fileInfo().isDir() ? rel + '/' : rel);
    }
    entries.sort();
    return entries;
}

// Empty when both trees hold the same entries and byte-identical files.
QString compareTrees(const QString &a, const QString &b) {
    const QStringList left = listTree(a), right = listTree(b);
    if (left != right)
        return QStringLiteral("entries differ:\n  %1\n  %2").arg(left.join(", "), right.join(", "));
    for (const QString &entry : left)
        if (!entry.endsWith('/') && VNTest::readFile(a + '/' + entry) != VNTest::readFile(b + '/' + entry))
            return QStringLiteral("content of %1 differs").arg(entry);
    return QString();
}

void writeSampleTree(const QString &root) {
    QByteArray big(3 * 1024 * 1024 + 333, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((quint32(i) * 7919u) >> 3);
    VNTest::writeFile(root + "/top.txt", "top level\n");
    VNTest::writeFile(root + "/empty.bin", QByteArray());
    VNTest::writeFile(root + "/.hidden", "dot file");
    VNTest::writeFile(root + "/level 1/big file.bin", big);
    VNTest::writeFile(root + QString::fromUtf8("/level 1/nïce naмe 50%.txt"), "unicode");
    VNTest::writeFile(root + "/level 1/level 2/deep.txt", "deep");
    QDir().mkpath(root + "/level 1/empty folder");
}

bool runTask(const std::shared_ptr<QNTaskManager> &manager, const QNTaskPtr &task) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    task->registerListenerForTaskCompletedBlock("webdav-test", [done] { done->store(true); });
    manager->addTask(task);
    return VNTest::waitUntil([done] { return done->load(); }, 120000);
}

struct ItemResult {
    std::atomic<int> count{0};
    VNErrorPtr error;
    bool cancelled = false;
};

std::shared_ptr<ItemResult> watch(const QNTaskItemPtr &item) {
    auto result = std::make_shared<ItemResult>();
    item->registerListenerForTaskItemCompletedBlock("webdav-test",
                                                    [result](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
                                                        result->error = error;
                                                        result->cancelled = cancelled;
                                                        ++result->count;
                                                    });
    return result;
}

// The access-log lines Apache wrote since `from` about the folder that were
// not 401 challenges (other tests may use the server meanwhile).
QStringList servedSince(qint64 from, const QString &folder) {
    const QString log = text("workdir") + "/access.log";
    VNTest::spin(200);  // Apache writes its line as the request ends
    QFile f(log);
    f.open(QIODevice::ReadOnly);
    f.seek(from);
    QStringList lines;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.contains(folder.toUtf8()) && !line.contains("\" 401 "))
            lines << QString::fromUtf8(line);
    return lines;
}

qint64 logSize() {
    return QFileInfo(text("workdir") + "/access.log").size();
}

class WebDAVTasks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        local = VNTest::makeTempDir();
        manager = std::make_shared<QNTaskManager>();
    }

    std::unique_ptr<QTemporaryDir> local;
    std::shared_ptr<QNTaskManager> manager;
};

TEST_F(WebDAVTasks, FolderTreeToTheServerAndBackIsByteIdentical) {
    const QString source = local->path() + "/tree";
    writeSampleTree(source);
    const QString server = freshFolder("dav_dir", "e2e");
    auto webdav = drive(url("http") + "/dav");

    auto up = std::make_shared<QNCopyTask>();
    auto upItem = std::make_shared<QNCopyTaskItem>(localDrive(), webdav, QNDocument::withPath(source, true),
                                                   QNDocument::withPath("/e2e", true));
    auto upResult = watch(upItem);
    up->addTaskItem(upItem);
    ASSERT_TRUE(runTask(manager, up));
    ASSERT_EQ(upResult->count.load(), 1);
    ASSERT_FALSE(upResult->error) << upResult->error->userInfo().value("error").toString().toStdString();
    EXPECT_EQ(compareTrees(source, server + "/tree"), QString());

    const QString back = local->path() + "/back";
    QDir().mkpath(back);
    auto down = std::make_shared<QNCopyTask>();
    auto downItem = std::make_shared<QNCopyTaskItem>(webdav, localDrive(), QNDocument::withPath("/e2e/tree", true),
                                                     QNDocument::withPath(back, true));
    auto downResult = watch(downItem);
    down->addTaskItem(downItem);
    ASSERT_TRUE(runTask(manager, down));
    ASSERT_EQ(downResult->count.load(), 1);
    ASSERT_FALSE(downResult->error) << downResult->error->userInfo().value("error").toString().toStdString();
    EXPECT_EQ(compareTrees(source, back + "/tree"), QString());
    EXPECT_FALSE(QFileInfo::exists(up->tempDirectory()));
    EXPECT_FALSE(QFileInfo::exists(down->tempDirectory()));
}

TEST_F(WebDAVTasks, CopyTaskInsideTheServerIsOneCopyRequest) {
    const QString server = freshFolder("root_dir", "e2e-copy");
    VNTest::writeFile(server + "/src/tree/a.txt", "a");
    VNTest::writeFile(server + "/src/tree/b/c.txt", "c");
    QDir().mkpath(server + "/dst");
    auto webdav = drive(url("http"));
    const qint64 before = logSize();
    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(webdav, webdav, QNDocument::withPath("/e2e-copy/src/tree", true),
                                                 QNDocument::withPath("/e2e-copy/dst", true));
    auto result = watch(item);
    task->addTaskItem(item);
    ASSERT_TRUE(runTask(manager, task));
    ASSERT_FALSE(result->error);
    EXPECT_EQ(compareTrees(server + "/src/tree", server + "/dst/tree"), QString());
    const QStringList served = servedSince(before, "/e2e-copy/");
    ASSERT_EQ(served.size(), 1) << served.join('\n').toStdString();
    EXPECT_TRUE(served.first().contains("\"COPY /e2e-copy/src/tree/ ")) << served.first().toStdString();
}

TEST_F(WebDAVTasks, MoveInsideTheServerIsOneMoveRequest) {
    const QString server = freshFolder("root_dir", "e2e-move");
    VNTest::writeFile(server + "/src/tree/a.txt", "a");
    QDir().mkpath(server + "/dst");
    const qint64 before = logSize();
    std::atomic<int> answers{0};
    VNErrorPtr error;
    auto operation = std::make_shared<QNMoveOperation>(drive(url("http")), QNDocument::withPath("/e2e-move/src/tree", true),
                                                       QNDocument::withPath("/e2e-move/dst", true),
                                                       [&](QNDocumentPtr, VNErrorPtr e, bool) {
                                                           error = e;
                                                           ++answers;
                                                       });
    operation->start();
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers.load() > 0; }, 20000));
    EXPECT_FALSE(error);
    EXPECT_FALSE(QFileInfo::exists(server + "/src/tree"));
    EXPECT_EQ(VNTest::readFile(server + "/dst/tree/a.txt"), "a");
    const QStringList served = servedSince(before, "/e2e-move/");
    ASSERT_EQ(served.size(), 1) << served.join('\n').toStdString();
    EXPECT_TRUE(served.first().contains("\"MOVE /e2e-move/src/tree/ "));
}

}  // namespace
