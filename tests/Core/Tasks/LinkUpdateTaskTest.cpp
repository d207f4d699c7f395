// Share links, save-back through a dated backup, and the download, preview
// and rename items.
#include "Core/QNDownloadTask.h"
#include "Core/QNDownloadTaskItem.h"
#include "Core/QNLinkTask.h"
#include "Core/QNLinkTaskItem.h"
#include "Core/QNPreviewTask.h"
#include "Core/QNPreviewTaskItem.h"
#include "Core/QNRenameTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "Platform/VNDispatch.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;

namespace {

const QDateTime kSaveTime(QDate(2014, 3, 5), QTime(9, 7, 2));
const QString kBackup = QStringLiteral("report-QN-2014-03-05_09-07-02.docx");

class LinkUpdate : public TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        remote = path("remote");
        writeTree(remote, {{"docs/report.docx", "old version"}, {"docs/other.txt", "other"}});
        writeTree(path("opened"), {{"report.docx", "new version"}});
        drive = QNFakeRemoteHandler::makeDriveConfig(remote);
    }
    QStringList docsOnDrive() const { return QDir(remote + "/docs").entryList(QDir::Files, QDir::Name); }

    std::shared_ptr<QNUpdateFileTaskItem> saveBackItem(const QString &localPath = QString(),
                                                       QNDriveConfigPtr on = nullptr) {
        auto item = std::make_shared<QNUpdateFileTaskItem>(
            on ? on : drive, localDocument(localPath.isEmpty() ? path("opened/report.docx") : localPath),
            driveDocument("/docs/report.docx", false, 11), driveDocument("/docs", true));
        item->setClock([] { return kSaveTime; });
        return item;
    }

    // A save-back task holding one saveBackItem, whose reports are watched.
    struct SaveBack {
        std::shared_ptr<QNUpdateFileTask> task;
        std::shared_ptr<QNUpdateFileTaskItem> item;
        std::shared_ptr<ItemReports> reports;
    };
    SaveBack saveBack(const QString &localPath = QString()) {
        SaveBack s{std::make_shared<QNUpdateFileTask>(), saveBackItem(localPath), nullptr};
        s.reports = watchItem(s.item);
        s.task->addTaskItem(s.item);
        return s;
    }

    QString remote;
    QNDriveConfigPtr drive;
};

}  // namespace

TEST_F(LinkUpdate, BackupNamesForAFixedClockKeepTheUsersTextAsItIs) {
    const QDateTime late(QDate(999, 12, 31), QTime(23, 59, 9));
    const std::vector<std::tuple<QString, QDateTime, QString>> cases{
        {"/docs/report.docx", kSaveTime, "/docs/" + kBackup},
        {"/report.docx", kSaveTime, "/" + kBackup},
        {"/a/README", kSaveTime, "/a/README-QN-2014-03-05_09-07-02."},
        {"/a/archive.tar.gz", late, "/a/archive.tar-QN-0999-12-31_23-59-09.gz"},
        {"/a/Q%1 plan.docx", kSaveTime, "/a/Q%1 plan-QN-2014-03-05_09-07-02.docx"},
        {"/a/%9%2.%3", kSaveTime, "/a/%9%2-QN-2014-03-05_09-07-02.%3"},
    };
    for (const auto &[drivePath, when, expected] : cases)
        EXPECT_EQ(QNUpdateFileTaskItem::backupPath(drivePath, when), expected);
}

TEST_F(LinkUpdate, SaveBackCancelledWhileTheRenameIsPendingReportsACancelAndKeepsTheName) {
    // The drive answers the rename only once cancelled: as cancelled, or
    // having renamed anyway.
    for (const auto mode : {QNFakeRemoteHandler::Mode::CancelledOnCancel, QNFakeRemoteHandler::Mode::AnswerAfterCancel}) {
        QNFakeRemoteHandler::resetBehaviours();
        setMode(Op::Rename, mode, remote);
        auto [task, item, reports] = saveBack();
        manager->addTask(task);
        ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Rename) == 1; }));
        QNFakeRemoteHandler::resetBehaviours();  // the restore, if any, answers at once
        task->cancel();
        ASSERT_TRUE(waitForCompletion(task));
        ASSERT_EQ(reports->count(), 1);
        const auto error = std::get<0>(reports->first());
        EXPECT_FALSE(error) << error->localizedDescription().toStdString();
        EXPECT_TRUE(std::get<2>(reports->first()));
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
        EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", "report.docx"}));
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"), QByteArray("old version"));
    }
}

TEST_F(LinkUpdate, SaveBackGoesThroughTheBackupAndEndsWithTheNewVersion) {
    auto task = std::make_shared<QNUpdateFileTask>();
    auto item = saveBackItem();
    QStringList afterRename;
    task->registerListenerForTaskMetadataCompletedBlock("t", [&] { afterRename = docsOnDrive(); });
    std::vector<float> progress;
    item->registerListenerForTaskItemUpdateBlock("t", [&] { progress.push_back(item->progress()); });
    auto reports = watchItem(item);
    task->addTaskItem(item);
    ASSERT_TRUE(runTask(manager, task));
    ASSERT_EQ(reports->count(), 1);
    EXPECT_FALSE(std::get<0>(reports->first()));
    EXPECT_FALSE(std::get<2>(reports->first()));
    // First only the dated backup, at the end only the new version.
    EXPECT_EQ(afterRename, (QStringList{"other.txt", kBackup}));
    EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", "report.docx"}));
    EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"), QByteArray("new version"));
    ASSERT_TRUE(item->renamedDocument());
    EXPECT_EQ(item->renamedDocument()->path(), "/docs/" + kBackup);
    ASSERT_FALSE(progress.empty());
    EXPECT_FLOAT_EQ(progress.front(), 0.1f);
    EXPECT_FLOAT_EQ(progress.back(), 1.0f);
    EXPECT_TRUE(VNTest::readFile(path("opened/report.docx")) == "new version") << "the local copy is kept";
}

TEST_F(LinkUpdate, DuringTheUploadBothVersionsAreOnTheDrive) {
    setMode(Op::Remove, QNFakeRemoteHandler::Mode::NeverAnswer, remote);
    auto [task, item, reports] = saveBack();
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Remove) == 1; }));
    EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", kBackup, "report.docx"}));
    task->cancel();
    ASSERT_TRUE(waitForCompletion(task));
    ASSERT_EQ(reports->count(), 1);
    // Nothing lost: the new version and the backup stay, and the backup is said.
    const VNErrorPtr error = std::get<0>(reports->first());
    const QString said = error ? error->localizedDescription() : QString();
    EXPECT_TRUE(said.contains(kBackup) && said.contains("is still on the drive")) << said.toStdString();
    EXPECT_FALSE(std::get<2>(reports->first())) << "a backup left on the drive reported as a plain cancel";
    EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", kBackup, "report.docx"}));
}

TEST_F(LinkUpdate, DocumentThatCannotGetItsNameBackIsReportedWithItsBackupName) {
    // The upload fails after leaving part of the file at the document's
    // place, so the backup cannot take its name again.
    auto scripted = ScriptedRemoteHandler::makeDriveConfig(remote);
    ScriptedRemoteHandler::Script script;
    script.failUploadsNamed = "report.docx";
    script.failedUploadLeavesPart = true;
    ScriptedRemoteHandler::setScript(script);
    auto error = std::get<0>(runOne(std::make_shared<QNUpdateFileTask>(), saveBackItem(QString(), scripted)));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription().contains(kBackup)) << error->localizedDescription().toStdString();
    EXPECT_EQ(VNTest::readFile(remote + "/docs/" + kBackup), QByteArray("old version"));
}

TEST_F(LinkUpdate, SaveBackThatDoesNotFinishPutsTheDocumentBack) {
    // A failed rename or upload is reported and cancels the task; an upload
    // cancelled while running or before it started is reported as cancelled.
    // A local copy that cannot be read fails before the drive changes at all.
    enum class End { RenameFails, UploadFails, CancelDuringUpload, CancelBeforeUpload, LocalMissing, LocalIsAFolder };
    for (End end : {End::RenameFails, End::UploadFails, End::CancelDuringUpload, End::CancelBeforeUpload,
                    End::LocalMissing, End::LocalIsAFolder}) {
        SCOPED_TRACE(static_cast<int>(end));
        QNFakeRemoteHandler::resetBehaviours();
        if (end == End::RenameFails)
            setMode(Op::Rename, QNFakeRemoteHandler::Mode::Fail, remote);
        if (end == End::UploadFails)
            setMode(Op::Upload, QNFakeRemoteHandler::Mode::Fail, remote);
        if (end == End::CancelDuringUpload)
            setMode(Op::Upload, QNFakeRemoteHandler::Mode::NeverAnswer, remote);
        const bool unreadable = end == End::LocalMissing || end == End::LocalIsAFolder;
        auto [task, item, reports] = saveBack(end == End::LocalMissing     ? path("opened/missing.docx")
                                              : end == End::LocalIsAFolder ? path("opened")
                                                                           : QString());
        const bool cancelling = end == End::CancelDuringUpload || end == End::CancelBeforeUpload;
        if (end == End::CancelDuringUpload) {
            manager->addTask(task);
            ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Upload) == 1; }));
            EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", kBackup}));
            task->cancel();
            ASSERT_TRUE(waitForCompletion(task));
        } else {
            if (end == End::CancelBeforeUpload) {  // after the rename, before the to queue opens
                const auto t = task;
                task->registerListenerForTaskMetadataCompletedBlock("t", [t] { t->cancel(); });
            }
            ASSERT_TRUE(runTask(manager, task));
        }
        ASSERT_EQ(reports->count(), 1);
        EXPECT_EQ(bool(std::get<0>(reports->first())), !cancelling);
        EXPECT_EQ(std::get<2>(reports->first()), cancelling);
        if (end == End::UploadFails)
            EXPECT_TRUE(task->canceled());
        if (end == End::RenameFails || end == End::CancelBeforeUpload)
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
        if (unreadable) {
            EXPECT_TRUE(std::get<0>(reports->first())->localizedDescription().contains("cannot be read"));
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Rename), 0);
        }
        EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", "report.docx"}));
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"), QByteArray("old version"));
    }
}

// A drive whose rename answers with the very document it was given: the
// save-back takes none of it for its own. The drive document is the opened
// copy's record of where it came from: it keeps its path, so a second
// save-back finds the document, and a cancel puts the backup back under
// that path (not onto the backup's own name).
TEST_F(LinkUpdate, SaveBackNeverChangesTheDriveDocumentItWasGiven) {
    enum class End { TwiceInARow, CancelRightAfterTheRename, CancelDuringTheUpload };
    for (End end : {End::TwiceInARow, End::CancelRightAfterTheRename, End::CancelDuringTheUpload}) {
        SCOPED_TRACE(static_cast<int>(end));
        QNFakeRemoteHandler::resetBehaviours();
        QNFakeRemoteHandler::setRenameAnswersWithTheDocument(true);
        writeTree(remote, {{"docs/report.docx", "old version"}});
        const auto original = driveDocument("/docs/report.docx", false, 11);
        const auto folder = driveDocument("/docs", true);
        const auto makeItem = [&] {
            auto item = std::make_shared<QNUpdateFileTaskItem>(drive, localDocument(path("opened/report.docx")),
                                                               original, folder);
            item->setClock([] { return kSaveTime; });
            return item;
        };
        const bool cancelling = end != End::TwiceInARow;
        if (end == End::CancelDuringTheUpload)
            setMode(Op::Upload, QNFakeRemoteHandler::Mode::NeverAnswer, remote);
        auto task = std::make_shared<QNUpdateFileTask>();
        auto item = makeItem();
        auto reports = watchItem(item);
        if (end == End::CancelRightAfterTheRename) {
            // The report of the rename's answer, before anything else goes.
            const std::weak_ptr<QNTask> weak = task;
            item->registerListenerForTaskItemUpdateBlock("cancel", [weak] {
                if (auto t = weak.lock())
                    t->cancel();
            });
        }
        task->addTaskItem(item);
        if (end == End::CancelDuringTheUpload) {
            manager->addTask(task);
            EXPECT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Upload) == 1; }));
            task->cancel();
            EXPECT_TRUE(waitForCompletion(task));
        } else {
            EXPECT_TRUE(runTask(manager, task));
        }
        EXPECT_EQ(reports->count(), 1);
        if (reports->count() == 1) {
            const auto error = std::get<0>(reports->first());
            EXPECT_FALSE(error) << error->localizedDescription().toStdString();
            EXPECT_EQ(std::get<2>(reports->first()), cancelling);
        }
        EXPECT_EQ(original->path().toStdString(), "/docs/report.docx");
        if (end == End::TwiceInARow) {
            writeTree(path("opened"), {{"report.docx", "newer version"}});
            const auto [error, document, cancelled] = runOne(std::make_shared<QNUpdateFileTask>(), makeItem());
            EXPECT_FALSE(error) << error->localizedDescription().toStdString();
            EXPECT_EQ(original->path().toStdString(), "/docs/report.docx");
        }
        EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", "report.docx"}));
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"),
                  QByteArray(end == End::TwiceInARow ? "newer version" : "old version"));
        writeTree(path("opened"), {{"report.docx", "new version"}});
    }
}

// On a drive that finds items by id the upload is a new item: once the
// edited file is up, the item hands out the drive document as it now stands
// (its own path, name and date, the upload's identity), and changes none of
// the documents it was given. A row per way the save-back can end; each
// differs from the first in that alone.
TEST_F(LinkUpdate, TheSavedDocumentCarriesTheUploadsIdentityOnceTheFileIsUp) {
    struct ServiceThing : QNDocument::ServiceObject {};
    struct Row {
        const char *name;
        bool answerWithTheFolder;
        bool backupRemovalFails;
        bool uploadFails;
        bool saved;              // a saved document is handed out
        const char *savedId;     // ... with this id
        bool reportsAnError;
    };
    const Row rows[] = {
        {"the drive answers with the uploaded file", false, false, false, true, "fake-id:/docs/report.docx", false},
        {"the drive answers with the folder", true, false, false, true, "", false},
        {"the backup cannot be removed", false, true, false, true, "fake-id:/docs/report.docx", true},
        {"the upload fails", false, false, true, false, "", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        QNFakeRemoteHandler::setUploadAnswersWithTheFolder(row.answerWithTheFolder);
        if (row.backupRemovalFails)
            setMode(Op::Remove, QNFakeRemoteHandler::Mode::Fail, remote);
        if (row.uploadFails)
            setMode(Op::Upload, QNFakeRemoteHandler::Mode::Fail, remote);
        QDir(remote + "/docs").removeRecursively();  // a backup an earlier row kept
        writeTree(remote, {{"docs/report.docx", "old version"}});
        const auto original = driveDocument("/docs/report.docx", false, 11);
        const QDateTime opened(QDate(2014, 3, 1), QTime(8, 0, 0));
        const auto thing = std::make_shared<ServiceThing>();
        original->setDriveConfigId("drive-1");
        original->setDate(opened);
        original->setId("old-id");
        original->setFullPath("/old/full/path");
        original->setEditURL("https://drive.example/edit/old");
        original->setGdResourceId("file:old");
        original->setSha1("0123");
        original->setUrl(QUrl("https://drive.example/old.docx"));
        original->setFileObject(thing);
        original->setFeedPhotoAlbum(thing);
        auto item = std::make_shared<QNUpdateFileTaskItem>(drive, localDocument(path("opened/report.docx")), original,
                                                           driveDocument("/docs", true));
        item->setClock([] { return kSaveTime; });
        const auto [error, document, cancelled] = runOne(std::make_shared<QNUpdateFileTask>(), item);
        EXPECT_EQ(bool(error), row.reportsAnError) << (error ? error->localizedDescription().toStdString() : "");
        EXPECT_FALSE(cancelled);
        const QNDocumentPtr saved = item->savedDocument();
        EXPECT_EQ(bool(saved), row.saved);
        if (saved) {
            EXPECT_NE(saved, original);
            EXPECT_EQ(saved->path().toStdString(), "/docs/report.docx");
            EXPECT_EQ(saved->displayName().toStdString(), "report.docx");
            EXPECT_EQ(saved->driveConfigId().toStdString(), "drive-1");
            EXPECT_EQ(saved->date(), opened);
            EXPECT_EQ(saved->id().toStdString(), row.savedId);
            EXPECT_TRUE(saved->fullPath().isEmpty() && saved->editURL().isEmpty() && saved->gdResourceId().isEmpty() &&
                        saved->sha1().isEmpty() && saved->url().isEmpty() && !saved->fileObject() &&
                        !saved->feedPhotoAlbum())
                << "the old item's identity stayed";
        }
        EXPECT_EQ(bool(item->uploadedDocument()), row.saved && !row.answerWithTheFolder);
        // The documents it was given are as they were.
        EXPECT_EQ(original->path().toStdString(), "/docs/report.docx");
        EXPECT_EQ(original->id().toStdString(), "old-id");
        EXPECT_EQ(original->fullPath().toStdString(), "/old/full/path");
        EXPECT_EQ(original->sha1().toStdString(), "0123");
        EXPECT_EQ(original->fileObject(), thing);
        EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"),
                  QByteArray(row.uploadFails ? "old version" : "new version"));
    }
}

// The drive renames only some time after the cancel has answered for it (a
// server slow to answer): the save-back looks once the drive has answered,
// finds the backup and gives it its name back.
TEST_F(LinkUpdate, SaveBackCancelledWhileTheDriveIsStillRenamingPutsTheNameBack) {
    setMode(Op::Rename, QNFakeRemoteHandler::Mode::AnswerAfterCancel, remote, 300);
    auto [task, item, reports] = saveBack();
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Rename) == 1; }));
    QNFakeRemoteHandler::resetBehaviours();  // the restore answers at once
    task->cancel();
    ASSERT_TRUE(waitForCompletion(task));
    ASSERT_EQ(reports->count(), 1);
    const auto error = std::get<0>(reports->first());
    EXPECT_FALSE(error) << error->localizedDescription().toStdString();
    EXPECT_TRUE(std::get<2>(reports->first()));
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Rename), 1) << "the backup was given its name back";
    EXPECT_EQ(docsOnDrive(), (QStringList{"other.txt", "report.docx"}));
    EXPECT_EQ(VNTest::readFile(remote + "/docs/report.docx"), QByteArray("old version"));
}

// The drive has not answered the cancelled rename when the wait for it is
// over: the save-back cannot know how far it got, and says where the
// document is kept if the drive renames it after all (as it then does).
TEST_F(LinkUpdate, SaveBackCancelledWhileTheDriveDoesNotAnswerSaysWhereTheDocumentMayBe) {
    setMode(Op::Rename, QNFakeRemoteHandler::Mode::AnswerAfterCancel, remote, 1500);
    auto [task, item, reports] = saveBack();
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Rename) == 1; }));
    QNFakeRemoteHandler::resetBehaviours();
    QNTask::setCancelledCallsWaitLimit(std::chrono::milliseconds(100));
    task->cancel();
    ASSERT_TRUE(waitForCompletion(task));
    ASSERT_EQ(reports->count(), 1);
    const auto error = std::get<0>(reports->first());
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription().contains(kBackup)) << error->localizedDescription().toStdString();
    EXPECT_FALSE(std::get<2>(reports->first()));
    EXPECT_TRUE(VNTest::waitUntil([this] { return docsOnDrive() == QStringList{"other.txt", kBackup}; }, 10000))
        << docsOnDrive().join(", ").toStdString();
}

TEST_F(LinkUpdate, LinkProgressIsFinishedItemsOverItems) {
    const QString slow = path("slow");
    writeTree(slow, {{"late.txt", "l"}});
    auto slowDrive = QNFakeRemoteHandler::makeDriveConfig(slow);
    setMode(Op::Link, QNFakeRemoteHandler::Mode::NeverAnswer, slow);
    auto task = std::make_shared<QNLinkTask>();
    EXPECT_EQ(task->progress(), 0.0f);
    auto a = std::make_shared<QNLinkTaskItem>(drive, driveDocument("/docs/report.docx", false, 11));
    auto b = std::make_shared<QNLinkTaskItem>(drive, driveDocument("/docs/other.txt", false, 5));
    auto c = std::make_shared<QNLinkTaskItem>(slowDrive, driveDocument("/late.txt", false, 1));
    auto reportsA = watchItem(a);
    for (const auto &i : {a, b, c})
        task->addTaskItem(i);
    manager->addTask(task);
    ASSERT_TRUE(VNTest::waitUntil([&] { return a->finished() && b->finished() && QNFakeRemoteHandler::callCount(Op::Link) == 3; }));
    EXPECT_FLOAT_EQ(task->progress(), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(a->progress(), 1.0f);
    EXPECT_FLOAT_EQ(c->progress(), 0.0f);
    ASSERT_EQ(reportsA->count(), 1);
    ASSERT_TRUE(std::get<1>(reportsA->first()));
    EXPECT_EQ(std::get<1>(reportsA->first())->link(), "https://fake.invalid/share/docs/report.docx");
    task->cancel();
    ASSERT_TRUE(waitForCompletion(task));
    EXPECT_FLOAT_EQ(c->progress(), 1.0f);
    EXPECT_FLOAT_EQ(task->progress(), 1.0f);
}

TEST_F(LinkUpdate, LinkFailureFinishesWithTheErrorAndCancelsTheTask) {
    setMode(Op::Link, QNFakeRemoteHandler::Mode::Fail, remote);
    auto task = std::make_shared<QNLinkTask>();
    std::vector<std::shared_ptr<QNLinkTaskItem>> items;
    std::vector<std::shared_ptr<ItemReports>> reports;
    for (int i = 0; i < 5; ++i) {
        items.push_back(std::make_shared<QNLinkTaskItem>(drive, driveDocument("/docs/other.txt", false, 5)));
        reports.push_back(watchItem(items.back()));
        task->addTaskItem(items.back());
    }
    ASSERT_TRUE(runTask(manager, task));
    EXPECT_TRUE(task->canceled());
    int failed = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(reports[i]->count(), 1);
        if (std::get<0>(reports[i]->first())) {
            ++failed;
            EXPECT_FLOAT_EQ(items[i]->progress(), 1.0f) << "an answered item shows 1.0, failed or not";
        } else {
            EXPECT_TRUE(std::get<2>(reports[i]->first()));
        }
    }
    EXPECT_GE(failed, 1);
    EXPECT_LT(QNFakeRemoteHandler::callCount(Op::Link), 5) << "link items after the failure still ran";
}

TEST_F(LinkUpdate, DownloadItemProgressReachesTheListenersOnTheMainQueue) {
    writeTree(remote, {{"big.bin", QByteArray(20000, 'd')}});
    QNFakeRemoteHandler::Behaviour steps;
    steps.progressStep = 5000;
    QNFakeRemoteHandler::setBehaviour(Op::Download, steps, remote);
    auto task = std::make_shared<QNDownloadTask>();
    auto item = std::make_shared<QNDownloadTaskItem>(drive, driveDocument("/big.bin", false, 20000),
                                                     QNDocument::withPath(path("down.bin")));
    std::vector<float> seen;  // main thread only
    std::atomic<int> offMain{0};
    task->registerListenerForTaskUpdateBlock("t", [&] {
        if (!VNDispatch::isMainThread())
            ++offMain;
        seen.push_back(task->progress());
    });
    auto reports = watchItem(item);
    task->addTaskItem(item);
    ASSERT_TRUE(runTask(manager, task));
    // Every report (one per 5000 bytes, and the closing 1.0) reaches the
    // task's listeners on the main queue, also those that arrive after the
    // download has answered.
    ASSERT_TRUE(VNTest::waitUntil([&] { return seen.size() >= 5; }));
    EXPECT_EQ(offMain.load(), 0);
    EXPECT_FLOAT_EQ(item->progress(), 1.0f);
    EXPECT_FLOAT_EQ(task->progress(), 1.0f);
    EXPECT_EQ(VNTest::readFile(path("down.bin")), QByteArray(20000, 'd'));
    ASSERT_EQ(reports->count(), 1);
    EXPECT_FALSE(std::get<0>(reports->first()));
}

TEST_F(LinkUpdate, DownloadFailureReachesItemAndManager) {
    auto task = std::make_shared<QNDownloadTask>();
    std::atomic<int> managerErrors{0};
    manager->registerListenerForTaskItemCompletedBlock("t", [&](VNErrorPtr e, QNTaskItemPtr, bool c) {
        if (e && !c)
            ++managerErrors;
    });
    EXPECT_TRUE(std::get<0>(runOne(task, std::make_shared<QNDownloadTaskItem>(
        drive, driveDocument("/docs/missing.bin", false, 1), QNDocument::withPath(path("down.bin"))))));
    EXPECT_EQ(managerErrors.load(), 1);
    EXPECT_TRUE(task->canceled());
}

TEST_F(LinkUpdate, PreviewRunsOnThePriorityQueueBesideABlockedTask) {
    const QString stuck = path("stuck");
    writeTree(stuck, {{"s.txt", "s"}});
    setMode(Op::Download, QNFakeRemoteHandler::Mode::NeverAnswer, stuck);
    auto blocked = std::make_shared<QNDownloadTask>();
    blocked->addTaskItem(std::make_shared<QNDownloadTaskItem>(QNFakeRemoteHandler::makeDriveConfig(stuck),
                                                              driveDocument("/s.txt", false, 1),
                                                              QNDocument::withPath(path("s.txt"))));
    manager->addTask(blocked);

    QObject pane;
    auto preview = std::make_shared<QNPreviewTask>(&pane);
    auto item = std::make_shared<QNPreviewTaskItem>(drive, driveDocument("/docs/other.txt", false, 5),
                                                    QNDocument::withPath(path("preview.txt")));
    preview->addTaskItem(item);
    ASSERT_TRUE(runTask(manager, preview));
    EXPECT_EQ(VNTest::readFile(path("preview.txt")), QByteArray("other"));
    EXPECT_FALSE(blocked->completed());
    blocked->cancel();
    ASSERT_TRUE(waitForCompletion(blocked));
}

TEST_F(LinkUpdate, RenameItemRefusedByTheDriveKeepsTheName) {
    for (const char *name : {"/docs/other.txt", "/docs/final.docx"}) {
        const bool taken = QString(name) == "/docs/other.txt";
        auto [error, doc, cancelled] = runOne(std::make_shared<QNTask>(), std::make_shared<QNRenameTaskItem>(
            drive, driveDocument("/docs/report.docx", false, 11), driveDocument(name, false)));
        EXPECT_EQ(bool(error), taken) << name;
        EXPECT_EQ(docsOnDrive(), (QStringList{taken ? "other.txt" : "final.docx", taken ? "report.docx" : "other.txt"}));
    }
}
