// How a save-back ends when the drive's answers do not tell the whole story:
// a rename whose reply was lost after the drive renamed, a rename cancelled
// on its way whose drive cannot be looked at, an upload that the drive goes
// on with after its cancel has answered for it, and a backup removal
// cancelled; and which name the edited copy goes up under. Judged on the
// drive's folder: the document's old bytes are never lost, and what the item
// reports is what the drive holds.
#include "Core/QNErrorWrapper.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "Platform/VNOperationQueue.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;
using Mode = QNFakeRemoteHandler::Mode;

namespace {

const QDateTime kSaveTime(QDate(2014, 3, 5), QTime(9, 7, 2));
const QString kBackup = QStringLiteral("report-QN-2014-03-05_09-07-02.docx");

QString text(const VNErrorPtr &error) {
    return error ? QNErrorWrapper(error).localizedDescription() : QString();
}

class SaveBackEndings : public TaskFixture {
protected:
    // A fresh drive folder holding docs/report.docx ("old version"), and the
    // edited copy ("new version, a little longer").
    QNDriveConfigPtr freshDrive(const QString &name, bool scripted = false) {
        remote = path(name);
        writeTree(remote, {{"docs/report.docx", "old version"}});
        writeTree(path(name + "-opened"), {{"report.docx", "new version, a little longer"}});
        return scripted ? ScriptedRemoteHandler::makeDriveConfig(remote) : QNFakeRemoteHandler::makeDriveConfig(remote);
    }
    std::shared_ptr<QNUpdateFileTaskItem> saveBackItem(const QNDriveConfigPtr &drive) {
        auto item = std::make_shared<QNUpdateFileTaskItem>(
            drive, localDocument(remote + "-opened/report.docx"), driveDocument("/docs/report.docx", false, 11),
            driveDocument("/docs", true));
        item->setClock([] { return kSaveTime; });
        return item;
    }
    QStringList docsOnDrive() const { return QDir(remote + "/docs").entryList(QDir::Files, QDir::Name); }
    // A save-back run up to the moment its task is cancelled (cancelWhen()
    // true, checked as the main loop turns), then to its end; its one report.
    // prepare() sees the task before it runs.
    std::tuple<VNErrorPtr, QNDocumentPtr, bool> cancelledRun(
        const std::shared_ptr<QNUpdateFileTaskItem> &item, const std::function<void(const QNTaskPtr &)> &prepare,
        const std::function<bool(const QNTaskPtr &)> &cancelWhen) {
        auto task = std::make_shared<QNUpdateFileTask>();
        prepare(task);
        auto reports = watchItem(item);
        task->addTaskItem(item);
        manager->addTask(task);
        EXPECT_TRUE(VNTest::waitUntil([&] { return cancelWhen(task); })) << "the moment to cancel never came";
        task->cancel();
        EXPECT_TRUE(waitForCompletion(task)) << "the task never ended";
        EXPECT_EQ(reports->count(), 1);
        return reports->count() == 1 ? reports->first() : std::tuple<VNErrorPtr, QNDocumentPtr, bool>{};
    }

    QString remote;
};

// The rename answers with an error: before the drive did anything, or
// after it renamed (the reply lost on its way back). The item looks before
// it ends: a backup it finds gets the document's name back (another
// document whose name differs from it only in letter case does not hold
// that name); where it cannot look, its error names the backup. Each row
// differs from the second or the first in one condition.
TEST_F(SaveBackEndings, ARenameThatFailsIsLookedIntoBeforeTheItemEnds) {
    struct Row {
        const char *name;
        Mode rename;
        bool listingFails;
        bool caseTwin;        // docs/REPORT.docx, another document, stands beside it
        QStringList onDrive;  // what docs/ holds afterwards
        const char *said;     // a part of the error
    };
    const Row rows[] = {
        {"it fails before the drive renamed: nothing to put back", Mode::Fail, false, false, {"report.docx"},
         "The fake server refused the request."},
        {"its reply is lost after the drive renamed: put back", Mode::FailAfterWork, false, false, {"report.docx"},
         "The connection was lost before the server answered."},
        {"its reply is lost, and the folder cannot be listed: the backup named", Mode::FailAfterWork, true, false,
         {kBackup}, "the document may be kept on the drive as \u201creport-QN-2014-03-05_09-07-02.docx\u201d"},
        {"its reply is lost, a name differing in case beside it: put back", Mode::FailAfterWork, false, true,
         {"REPORT.docx", "report.docx"}, "The connection was lost before the server answered."},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        auto drive = freshDrive(QStringLiteral("rename%1").arg(n++));
        if (row.caseTwin)
            writeTree(remote, {{"docs/REPORT.docx", "another document"}});
        setMode(Op::Rename, row.rename, remote);
        if (row.listingFails)
            setMode(Op::List, Mode::Fail, remote);

        const auto [error, document, cancelled] = runOne(std::make_shared<QNUpdateFileTask>(), saveBackItem(drive));
        EXPECT_FALSE(cancelled);
        EXPECT_TRUE(error) << "a failed rename reported as done";
        EXPECT_TRUE(text(error).contains(QString::fromUtf8(row.said))) << text(error).toStdString();
        EXPECT_EQ(docsOnDrive(), row.onDrive) << docsOnDrive().join(", ").toStdString();
        EXPECT_EQ(VNTest::readFile(remote + "/docs/" + row.onDrive.last()), QByteArray("old version"));
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
    }
}

// The upload is cancelled while the drive is sending it; the cancel answers
// for the drive at once, and the drive goes on: it puts the whole file in
// place afterwards, writes only a part of it, or never answers at all. The
// item waits for the drive's own answer (bounded) before it looks: a whole
// upload is a save-back done, and the backup goes; otherwise the old bytes
// stay, under the document's name or under the backup name the error gives.
// An upload the drive says it completed stays, and its backup goes only
// once the look shows the edited copy under the document's name: where the
// look cannot be made, or leaves that name out, the backup stays and is
// said. A clean-up whose late answer, look and last request each take
// most of the task's wait limit, longer than it all together, ends as it
// would quickly: the task waits while it moves on.
TEST_F(SaveBackEndings, ARestoreAfterACancelledUploadWaitsForTheDrivesOwnAnswer) {
    enum class Drive { CompletesWhole, CutsShort, NeverAnswers };
    enum class Ending {
        Saved,           // no error, the backup gone
        SavedUnseen,     // the drive's word: saved, the backup kept and said
        UnseenKept,      // saved by the drive's word, not shown by the look: the backup kept and said
        BackupNamed,     // the old bytes under the backup name the error gives
        PutBackUnknown,  // the old bytes back under the name, the drive's silence said
    };
    struct Row {
        const char *name;
        Drive drive;
        Ending ending;
        bool lookFails = false;     // the drive's folder cannot be listed after the cancel
        bool nameUnlisted = false;  // its listings leave the document's name out
        bool slowSteps = false;     // late answer, listing and last request each take 0.6 of the limit
    };
    const Row rows[] = {
        {"the drive completes the upload after the cancel", Drive::CompletesWhole, Ending::Saved},
        {"the drive writes a part of it after the cancel", Drive::CutsShort, Ending::BackupNamed},
        {"the drive never answers", Drive::NeverAnswers, Ending::PutBackUnknown},
        {"the drive completes the upload late, and its folder cannot be listed", Drive::CompletesWhole,
         Ending::SavedUnseen, true},
        {"the drive refuses the upload late, and its folder cannot be listed", Drive::CutsShort, Ending::BackupNamed,
         true},
        {"the drive never answers, and its folder cannot be listed", Drive::NeverAnswers, Ending::PutBackUnknown, true},
        {"the drive completes the upload late, and its listing leaves the name out", Drive::CompletesWhole,
         Ending::UnseenKept, false, true},
        {"the drive completes the upload after the cancel, each step slow", Drive::CompletesWhole, Ending::Saved,
         false, false, true},
        {"the drive writes a part of it after the cancel, each step slow", Drive::CutsShort, Ending::BackupNamed,
         false, false, true},
    };
    const int limitMs = 1000;
    const int stepMs = limitMs * 6 / 10;
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        ScriptedRemoteHandler::reset();
        QNTask::setCancelledCallsWaitLimit(row.drive == Drive::NeverAnswers ? std::chrono::milliseconds(300)
                                           : row.slowSteps                  ? std::chrono::milliseconds(limitMs)
                                                                            : std::chrono::milliseconds(60000));
        auto drive = freshDrive(QStringLiteral("upload%1").arg(n++), true);
        ScriptedRemoteHandler::Script script;
        script.holdUploadsUntilReleased = QStringLiteral("report.docx");
        script.heldUploadIsCutShort = row.drive == Drive::CutsShort;
        ScriptedRemoteHandler::setScript(script);

        auto task = std::make_shared<QNUpdateFileTask>();
        auto item = saveBackItem(drive);
        auto reports = watchItem(item);
        task->addTaskItem(item);
        // The task ends once its clean-up has: by then the item has reported.
        auto heardAtEnd = std::make_shared<std::atomic<int>>(-1);
        task->registerListenerForTaskCompletedBlock("test", [heardAtEnd, reports] { *heardAtEnd = reports->count(); });
        manager->addTask(task);
        EXPECT_TRUE(VNTest::waitUntil([] { return ScriptedRemoteHandler::heldUploadCount() == 1; }))
            << "the upload never started";
        task->cancel();
        if (row.lookFails)
            setMode(Op::List, Mode::Fail, remote);
        if (row.nameUnlisted) {
            script.leftOutOfListings = QStringLiteral("report.docx");
            ScriptedRemoteHandler::setScript(script);
        }
        if (row.slowSteps) {
            for (Op op : {Op::List, Op::Rename, Op::Remove})
                setMode(op, Mode::Answer, remote, stepMs);
            QTimer::singleShot(stepMs, [] { ScriptedRemoteHandler::releaseHeldUploads(); });
        } else if (row.drive != Drive::NeverAnswers) {
            ScriptedRemoteHandler::releaseHeldUploads();
        }
        EXPECT_TRUE(waitForCompletion(task)) << "the task never ended";
        // A drive that never answers is given up at the limit, by the task
        // and by the item alike: either may end first.
        if (row.drive != Drive::NeverAnswers)
            EXPECT_EQ(heardAtEnd->load(), 1) << "the task ended before its clean-up";
        EXPECT_EQ(reports->count(), 1);
        if (reports->count() != 1)
            continue;
        const auto [error, document, cancelled] = reports->first();
        const QStringList onDrive = docsOnDrive();
        const QByteArray underName = VNTest::readFile(remote + "/docs/report.docx");
        EXPECT_FALSE(cancelled && row.ending != Ending::PutBackUnknown) << "the drive's own ending was not reported";
        switch (row.ending) {
        case Ending::Saved:
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_TRUE(item->savedDocument()) << "the record would not follow the uploaded document";
            EXPECT_EQ(onDrive, QStringList{"report.docx"}) << onDrive.join(", ").toStdString();
            EXPECT_EQ(underName, QByteArray("new version, a little longer"));
            break;
        case Ending::SavedUnseen:
        case Ending::UnseenKept:
            // The backup is never removed on the drive's word alone.
            EXPECT_TRUE(error) << "a backup kept beside the document was not said";
            EXPECT_TRUE(text(error).contains(kBackup)) << text(error).toStdString();
            EXPECT_TRUE(text(error).contains(row.ending == Ending::SavedUnseen ? "could not be listed"
                                                                               : "shows no file of that name"))
                << text(error).toStdString();
            EXPECT_EQ(bool(item->savedDocument()), row.ending == Ending::SavedUnseen);
            EXPECT_EQ(onDrive, QStringList({kBackup, "report.docx"})) << onDrive.join(", ").toStdString();
            EXPECT_EQ(VNTest::readFile(remote + "/docs/" + kBackup), QByteArray("old version"));
            EXPECT_EQ(underName, QByteArray("new version, a little longer"));
            break;
        case Ending::BackupNamed:
            // The part stands in the way of the backup, which keeps its
            // name and is named.
            EXPECT_TRUE(error) << "onto the drive: " << onDrive.join(", ").toStdString();
            EXPECT_TRUE(text(error).contains(kBackup)) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(remote + "/docs/" + kBackup), QByteArray("old version"));
            EXPECT_FALSE(item->savedDocument());
            break;
        case Ending::PutBackUnknown:
            // Put back once the wait is over, saying the drive may still
            // complete the upload.
            EXPECT_TRUE(error);
            EXPECT_TRUE(text(error).contains(QLatin1String("has not answered"))) << text(error).toStdString();
            EXPECT_EQ(onDrive, QStringList{"report.docx"}) << onDrive.join(", ").toStdString();
            EXPECT_EQ(underName, QByteArray("old version"));
            EXPECT_FALSE(item->savedDocument());
            break;
        }
    }
}

// The edited copy goes up under the document's own name, whatever name the
// opened copy carries (one made "safe" by an earlier open: uploaded under
// it, the save-back left the document only under the made name); a name no
// local file can carry is refused before the drive is touched.
TEST_F(SaveBackEndings, TheEditedCopyGoesUpUnderTheDocumentsOwnName) {
    struct Row {
        const char *name;
        QString document;  // its path on the drive
        QString opened;    // the opened copy's name
        bool saved;
    };
    const Row rows[] = {
        {"the opened copy has the document's name", "/docs/report.docx", "report.docx", true},
        {"the opened copy has another name", "/docs/report.docx", "report_1.docx", true},
        {"the opened copy's name differs in letter case", "/docs/report.docx", "Report.docx", true},
        {"no local file can carry the document's name", "/docs/..", "report.docx", false},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        auto drive = freshDrive(QStringLiteral("names%1").arg(n++));
        const QString opened = remote + "-opened/" + row.opened;
        QFile::rename(remote + "-opened/report.docx", opened);
        auto item = std::make_shared<QNUpdateFileTaskItem>(drive, localDocument(opened), driveDocument(row.document, false, 11),
                                                           driveDocument("/docs", true));
        item->setClock([] { return kSaveTime; });

        const auto [error, document, cancelled] = runOne(std::make_shared<QNUpdateFileTask>(), item);
        EXPECT_FALSE(cancelled);
        EXPECT_EQ(bool(error), !row.saved) << text(error).toStdString();
        EXPECT_EQ(docsOnDrive(), QStringList{"report.docx"}) << docsOnDrive().join(", ").toStdString();
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"),
                  QByteArray(row.saved ? "new version, a little longer" : "old version"));
        if (!row.saved) {
            EXPECT_TRUE(text(error).contains("cannot carry its name")) << text(error).toStdString();
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Rename), 0) << "the drive was touched";
        }
    }
}

// The rename is cancelled on its way and the drive never renamed, but the
// look after it cannot be made: the restore finds no backup to give the name
// back to, looks once more, and says what it finds. Each row differs from
// the first in the second look alone.
TEST_F(SaveBackEndings, ARenameCancelledWhereTheDriveCannotBeLookedAtIsSaidAsItIs) {
    struct Row {
        const char *name;
        bool secondLookFails;
        const char *said;  // a part of the error; null: a plain cancel
    };
    const Row rows[] = {
        {"the second look finds the document under its name", false, nullptr},
        {"no look can be made", true, "under its own name or as \u201creport-QN-2014-03-05_09-07-02.docx\u201d"},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        ScriptedRemoteHandler::reset();
        auto drive = freshDrive(QStringLiteral("unlooked%1").arg(n++), true);
        ScriptedRemoteHandler::Script script;
        script.failListingNumber = 1;
        ScriptedRemoteHandler::setScript(script);
        if (row.secondLookFails)
            setMode(Op::List, Mode::Fail, remote);
        setMode(Op::Rename, Mode::CancelledOnCancel, remote);
        auto task = std::make_shared<QNUpdateFileTask>();
        auto item = saveBackItem(drive);
        auto reports = watchItem(item);
        task->addTaskItem(item);
        manager->addTask(task);
        EXPECT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Rename) == 1; }));
        task->cancel();
        // The restore's rename, which comes only after the look, is answered.
        setMode(Op::Rename, Mode::Answer, remote);
        EXPECT_TRUE(waitForCompletion(task)) << "the task never ended";
        EXPECT_EQ(reports->count(), 1);
        if (reports->count() != 1)
            continue;
        const auto [error, document, cancelled] = reports->first();
        EXPECT_EQ(cancelled, !row.said);
        if (row.said)
            EXPECT_TRUE(text(error).contains(QString::fromUtf8(row.said))) << text(error).toStdString();
        else
            EXPECT_FALSE(error) << "a document under its own name said to be elsewhere: " << text(error).toStdString();
        EXPECT_EQ(docsOnDrive(), QStringList{"report.docx"}) << docsOnDrive().join(", ").toStdString();
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"), QByteArray("old version"));
    }
}

// The edited copy is up and the backup's removal is cancelled: before it
// started, while the drive removes it all the same, or while the drive
// keeps it. The ending says what the drive holds: a backup left beside the
// document is named, one the drive removed makes a save-back done.
TEST_F(SaveBackEndings, ACancelledBackupRemovalIsSaidAsItIs) {
    enum class Removal { Queued, RemovedAllTheSame, Kept };
    struct Row {
        const char *name;
        Removal removal;
    };
    const Row rows[] = {
        {"cancelled while queued", Removal::Queued},
        {"cancelled while running, removed all the same", Removal::RemovedAllTheSame},
        {"cancelled while running, kept", Removal::Kept},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        auto drive = freshDrive(QStringLiteral("removal%1").arg(n++));
        auto item = saveBackItem(drive);
        std::tuple<VNErrorPtr, QNDocumentPtr, bool> report;
        if (row.removal == Removal::Queued) {
            // Paused as the upload ends: the removal waits in the queue.
            const auto pauseAtTheEnd = [item](const QNTaskPtr &task) {
                std::weak_ptr<QNTask> weak = task;
                item->registerListenerForTaskItemUpdateBlock("pause", [item, weak] {
                    if (auto task = weak.lock(); task && item->progress() >= 1.0f)
                        task->setPaused(true);
                });
            };
            report = cancelledRun(item, pauseAtTheEnd, [](const QNTaskPtr &task) {
                for (const auto &op : task->fromQueue()->operations())
                    if (dynamic_cast<QNRemoveOperation *>(op.get()))
                        return true;
                return false;
            });
        } else {
            setMode(Op::Remove, row.removal == Removal::Kept ? Mode::CancelledOnCancel : Mode::AnswerAfterCancel, remote);
            report = cancelledRun(item, [](const QNTaskPtr &) {},
                                  [](const QNTaskPtr &) { return QNFakeRemoteHandler::callCount(Op::Remove) == 1; });
        }
        const auto [error, document, cancelled] = report;
        const bool kept = row.removal != Removal::RemovedAllTheSame;
        EXPECT_FALSE(cancelled) << "a save-back whose edited copy is up reported as a plain cancel";
        EXPECT_EQ(bool(error), kept) << text(error).toStdString();
        if (kept)
            EXPECT_TRUE(text(error).contains(kBackup) && text(error).contains("is still on the drive"))
                << text(error).toStdString();
        EXPECT_EQ(docsOnDrive(), kept ? QStringList({kBackup, "report.docx"}) : QStringList{"report.docx"})
            << docsOnDrive().join(", ").toStdString();
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"), QByteArray("new version, a little longer"));
        EXPECT_TRUE(item->savedDocument()) << "the record would not follow the uploaded document";
    }
}

}  // namespace
