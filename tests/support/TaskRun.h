#pragma once

// Runs a task holding one item to its end, for the drive suites that check
// whole copies and moves.

#include "Core/QNTask.h"
#include "Core/QNTaskItem.h"
#include "Core/QNTaskManager.h"
#include "support/TestSupport.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>

namespace VNTest {

struct ItemRun {
    bool completed = false;  // the task ended in time
    int reports = 0;
    VNErrorPtr error;
    bool cancelled = false;
    QStringList leftOut;  // the task's end report of what was left out
};

// Hands task to manager (a fresh one when none is given) and runs the main
// loop until the task has ended and every item of it is finished; false
// when the task did not end in time.
inline bool runTask(const QNTaskPtr &task, int timeoutMs = 120000, std::shared_ptr<QNTaskManager> manager = {})
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    task->registerListenerForTaskCompletedBlock(QStringLiteral("runTask"), [done] { done->store(true); });
    if (!manager)
        manager = std::make_shared<QNTaskManager>();
    manager->addTask(task);
    const bool completed = waitUntil([done] { return done->load(); }, timeoutMs);
    waitUntil([task] {
        for (const auto &i : task->taskItems())
            if (!i->finished())
                return false;
        return true;
    }, 5000);
    return completed;
}

// Adds item to task and runs the task to its end.
inline ItemRun runItem(const QNTaskPtr &task, const QNTaskItemPtr &item, int timeoutMs = 120000,
                       std::shared_ptr<QNTaskManager> manager = {})
{
    auto mutex = std::make_shared<std::mutex>();
    auto run = std::make_shared<ItemRun>();
    item->registerListenerForTaskItemCompletedBlock(QStringLiteral("runItem"),
                                                    [mutex, run](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
                                                        std::lock_guard lock(*mutex);
                                                        ++run->reports;
                                                        run->error = error;
                                                        run->cancelled = cancelled;
                                                    });
    task->addTaskItem(item);
    const bool completed = runTask(task, timeoutMs, std::move(manager));
    std::lock_guard lock(*mutex);
    ItemRun out = *run;
    out.completed = completed;
    out.leftOut = task->leftOut();
    return out;
}

}  // namespace VNTest
