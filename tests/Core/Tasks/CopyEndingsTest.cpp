// Every way a save-back or a move can end before its transfer (a cancel
// while the destination folder is listed or waits to be, a folder in the
// way) puts back what the item changed, keeps the source and ends the task,
// so the next task of the queue runs.
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNTask.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;
using Mode = QNFakeRemoteHandler::Mode;

namespace {

enum class Kind { SaveBack, Move };
enum class Ending {
    CancelWhileListed,   // the destination listing runs (the drive holds it) when the task is cancelled
    CancelWhileQueued,   // the listing waits behind another item's held listing
    CancelWhileWaiting,  // another item of the task lists the same folder, held: the item waits for its answer
    FolderInTheWay,      // the destination holds a folder of the uploaded file's name
};

const char *name(Kind kind) { return kind == Kind::SaveBack ? "save-back" : "move"; }
const char *name(Ending ending) {
    switch (ending) {
        case Ending::CancelWhileListed: return "cancelled while listed";
        case Ending::CancelWhileQueued: return "cancelled while the listing is queued";
        case Ending::CancelWhileWaiting: return "cancelled while waiting for another item's listing";
        case Ending::FolderInTheWay: return "folder in the way";
    }
    return "";
}

class CopyEndings : public TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        QNTask::setCancelledCallsWaitLimit(std::chrono::seconds(5));
    }

    // A drive backed by a fresh folder under the test folder.
    QNDriveConfigPtr drive(const QString &rel, const QMap<QString, QByteArray> &tree = {}) {
        writeTree(path(rel), tree);
        QDir().mkpath(path(rel));
        return QNFakeRemoteHandler::makeDriveConfig(path(rel));
    }
};

}  // namespace

TEST_F(CopyEndings, AnItemThatEndsBeforeItsTransferPutsBackWhatItChangedAndTheNextTaskRuns) {
    for (Kind kind : {Kind::SaveBack, Kind::Move}) {
        for (Ending ending : {Ending::CancelWhileListed, Ending::CancelWhileQueued, Ending::CancelWhileWaiting,
                              Ending::FolderInTheWay}) {
            // A save-back uploads under the document's own name, which its
            // rename has just freed: no folder can stand in its way.
            if (kind == Kind::SaveBack && ending == Ending::FolderInTheWay)
                continue;
            const std::string row = std::string(name(kind)) + ", " + name(ending);
            SCOPED_TRACE(row);
            QNFakeRemoteHandler::resetBehaviours();
            dir = VNTest::makeTempDir();
            // A manager of its own: a row whose task never ends holds up no other row's.
            manager = std::make_shared<QNTaskManager>();
            const bool cancelling = ending != Ending::FolderInTheWay;

            // The subject's destination ("target"); "held" answers listings
            // only once cancelled and holds the metadata queue meanwhile.
            const QString inTheWay = ending == Ending::FolderInTheWay ? QStringLiteral("doc.txt/inside.txt") : QString();
            QMap<QString, QByteArray> targetTree{{"docs/report.docx", "old version"}, {"docs/other.txt", "other"}};
            if (!inTheWay.isEmpty())
                targetTree.insert("docs/" + inTheWay, "keep");
            auto target = drive("target", targetTree);
            auto held = drive("held");
            auto source = drive("source", {{"src/doc.txt", "moved"}, {"src/held.txt", "held"}});
            writeTree(path("opened"), {{"doc.txt", "new version"}});
            if (ending == Ending::CancelWhileListed || ending == Ending::CancelWhileWaiting)
                setMode(Op::List, Mode::CancelledOnCancel, path("target"));
            if (ending == Ending::CancelWhileQueued)
                setMode(Op::List, Mode::CancelledOnCancel, path("held"));

            // The holder goes into the held drive's top folder, or into the
            // subject's own destination folder.
            const bool waiting = ending == Ending::CancelWhileWaiting;
            auto holderDrive = waiting ? target : held;
            auto holderFolder = driveDocument(waiting ? "/docs" : "/", true);
            QNTaskPtr task;
            QNTaskItemPtr subject;
            QNTaskItemPtr holder;
            if (kind == Kind::SaveBack) {
                task = std::make_shared<QNUpdateFileTask>();
                auto item = std::make_shared<QNUpdateFileTaskItem>(target, localDocument(path("opened/doc.txt")),
                                                                   driveDocument("/docs/report.docx", false, 11),
                                                                   driveDocument("/docs", true));
                subject = item;
                // Its rename goes first, so its listing queues behind the holder's.
                holder = std::make_shared<QNCopyTaskItem>(localDrive(), holderDrive,
                                                          localDocument(path("opened/doc.txt")), holderFolder);
            } else {
                task = std::make_shared<QNMoveTask>();
                subject = std::make_shared<QNMoveTaskItem>(source, target, driveDocument("/src/doc.txt", false, 5),
                                                           driveDocument("/docs", true));
                holder = std::make_shared<QNMoveTaskItem>(source, holderDrive,
                                                          driveDocument("/src/held.txt", false, 4), holderFolder);
            }
            auto reports = watchItem(subject);
            const bool queued = ending == Ending::CancelWhileQueued || waiting;
            if (queued && kind == Kind::Move)
                task->addTaskItem(holder);
            task->addTaskItem(subject);
            if (queued && kind == Kind::SaveBack)
                task->addTaskItem(holder);

            auto next = std::make_shared<QNTask>();
            manager->addTask(task);
            manager->addTask(next);
            if (cancelling) {
                // Cancelled all the same, so that the row ends.
                EXPECT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::List) == 1; }))
                    << row << ": the destination was never listed";
                task->cancel();
            }
            const bool ended = waitForCompletion(task, 20000);
            EXPECT_TRUE(ended) << row << ": the task never ended";
            EXPECT_TRUE(waitForCompletion(next, 20000)) << row << ": the next task of the queue never ran";
            if (!ended) {
                task->cancel();  // the rows after this one still run
                continue;
            }

            EXPECT_EQ(reports->count(), 1) << row;
            if (reports->count() != 1)
                continue;
            const auto [error, doc, cancelled] = reports->first();
            EXPECT_EQ(cancelled, cancelling) << row;
            EXPECT_EQ(bool(error), !cancelling) << row << ": " << (error ? error->localizedDescription().toStdString() : "");
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0) << row;
            QStringList expected{"docs/", "docs/other.txt", "docs/report.docx"};
            if (!inTheWay.isEmpty())
                expected = QStringList{"docs/", "docs/doc.txt/", "docs/doc.txt/inside.txt", "docs/other.txt",
                                       "docs/report.docx"};
            EXPECT_EQ(listTree(path("target")), expected) << row;
            EXPECT_EQ(VNTest::readFile(path("target/docs/report.docx")), QByteArray("old version")) << row;
            if (!inTheWay.isEmpty())
                EXPECT_EQ(VNTest::readFile(path("target/docs/" + inTheWay)), QByteArray("keep")) << row;
            EXPECT_EQ(VNTest::readFile(path("source/src/doc.txt")), QByteArray("moved")) << row;
        }
    }
}
