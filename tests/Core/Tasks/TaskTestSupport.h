#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNTask.h"
#include "Core/QNTaskManager.h"
#include "Core/Fakes/QNFakeRemoteHandler.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <QMap>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace TaskTest {

// Registers the handlers (local folder, scripted fake, fake) once.
void registerHandlers();

// A run-time local drive (the local disk, absolute paths).
QNDriveConfigPtr localDrive();

// Documents: a local one at an absolute path, a drive one at a drive path.
QNDocumentPtr localDocument(const QString &absolutePath);
QNDocumentPtr driveDocument(const QString &drivePath, bool isDirectory, qint64 size = 0);

// Writes a tree of files below root: relative path -> content; a path ending
// in "/" is an (empty) folder.
void writeTree(const QString &root, const QMap<QString, QByteArray> &tree);
using VNTest::compareTrees;
using VNTest::listTree;
// A sample tree of three levels, with an empty file, an empty folder, a
// hidden file and files larger than a transfer chunk.
QMap<QString, QByteArray> sampleTree();

// Records every report of one item.
struct ItemReports {
    std::mutex mutex;
    std::vector<std::tuple<VNErrorPtr, QNDocumentPtr, bool>> reports;
    int count() {
        std::lock_guard lock(mutex);
        return static_cast<int>(reports.size());
    }
    std::tuple<VNErrorPtr, QNDocumentPtr, bool> first() {
        std::lock_guard lock(mutex);
        return reports.front();
    }
};
std::shared_ptr<ItemReports> watchItem(const QNTaskItemPtr &item, const QString &key = QStringLiteral("test"));

// Hands the task to the manager and runs the main loop until its completed
// listener has run; answers whether it did in time.
bool runTask(const std::shared_ptr<QNTaskManager> &manager, const QNTaskPtr &task, int timeoutMs = 60000);
// Waits for a task already handed to the manager.
bool waitForCompletion(const QNTaskPtr &task, int timeoutMs = 60000);

// The common ground of the task tests: the handlers registered, both fake
// drives back to their plain behaviour, a fresh folder and a fresh manager.
// A cancelled task's wait for its cancelled drive calls is bounded far
// beyond the suite's time-out: a task that waits for a call that cannot
// answer fails its test by time-out instead of passing slowly.
class TaskFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    using Report = std::tuple<VNErrorPtr, QNDocumentPtr, bool>;
    // Adds item to task, runs it and answers the item's one report.
    Report runOne(const QNTaskPtr &task, const QNTaskItemPtr &item);
    // The fake drive at root (every fake drive if empty) answers op so.
    static void setMode(QNFakeRemoteHandler::Op op, QNFakeRemoteHandler::Mode mode, const QString &root = {},
                        int delayMs = 0);
    QString path(const QString &rel) const { return dir->path() + QLatin1Char('/') + rel; }

    std::unique_ptr<QTemporaryDir> dir;
    std::shared_ptr<QNTaskManager> manager;

private:
    std::chrono::milliseconds m_cancelledCallsWaitLimit{};
};

}  // namespace TaskTest
