// The application delegate: start-up order, the temporary-folder clean-up,
// reopening, reloading every window, and the save-back question with its
// Save, Cancel and Ignore Changes paths.
#include "ShellTestSupport.h"

#include "Cloud/DropboxSDK/Classes/DXSession.h"
#include "Cloud/DropboxSDK/DXApplicationKeys.h"
#include "Core/QNDocument.h"
#include "Platform/VNTempDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

class AppDelegateTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        tempDir = VNTest::makeTempDir();
    }

    // An opened copy in a folder of ours, recorded with its current date.
    QNDocumentPtr openedCopy(const QString &name, const QNDriveConfigPtr &from) {
        const QString path = tempDir->path() + QLatin1Char('/') + name;
        VNTest::writeFile(path, "first version");
        auto doc = QNDocument::withPath(path);
        doc->setDate(QFileInfo(path).lastModified());
        doc->setOpenedFromDriveConfig(from);
        doc->setOpenedFromDocument(QNDocument::withPath(QStringLiteral("/remote/") + name));
        doc->setOpenedFromParentDocument(QNDocument::withPath(QStringLiteral("/remote"), true));
        return doc;
    }

    // The copy edited in another application: new content, a later date.
    static void touchLater(const QNDocumentPtr &doc, int seconds = 5) {
        {
            QFile f(doc->path());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
            f.write(" edited");
        }
        QFile f(doc->path());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        ASSERT_TRUE(f.setFileTime(doc->date().addSecs(seconds), QFileDevice::FileModificationTime));
    }

    // An opened copy, listed with the delegate, then edited elsewhere.
    QNDocumentPtr changedCopy(const QString &name, const QNDriveConfigPtr &from) {
        auto doc = openedCopy(name, from);
        delegate->addOpenedDocument(doc);
        touchLater(doc);
        return doc;
    }

    // Answers the save-back question with Save and hands back how the upload ends.
    QNMacAppDelegate::SaveBackDone saveAndHold() {
        held = {};
        delegate->setSaveBackStarter([this](const QNDocumentPtr &d, QNMacAppDelegate::SaveBackDone done) {
            heldDocument = d;
            held = std::move(done);
        });
        delegate->applicationDidBecomeActive();
        QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);
        return held;
    }

    static QNDriveConfigPtr ftpDrive() { return twoStoredDrives().at(1); }

    std::unique_ptr<QTemporaryDir> tempDir;
    QNMacAppDelegate::SaveBackDone held;
    QNDocumentPtr heldDocument;
};

}  // namespace

TEST_F(AppDelegateTest, LaunchingShowsOneHomeWindowAndSetsUpTheDropboxSession) {
    QNMainWindowController *first = launch();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(delegate->taskManager(), nullptr);
    EXPECT_EQ(delegate->windowControllers().size(), 1);
    EXPECT_TRUE(first->window()->isVisible());
    EXPECT_EQ(first->window()->titleBarHeight(), 74);
    EXPECT_TRUE(delegate->shouldPresentNotification());
    EXPECT_EQ(QNMacAppDelegate::shared(), delegate.get());
    // The shared Dropbox session, with the program's key and the full-access root.
    const auto session = DXSession::sharedSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->appKey(), DXApplicationKeys::appKey());
    EXPECT_EQ(session->root(), QStringLiteral("dropbox"));
    DXSession::setSharedSession(nullptr);
}

TEST_F(AppDelegateTest, TheCleanUpRunsAfterLaunchOnlyInOurFolderAndKeepsUnsavedCopies) {
    const QString ours = VNTempDirectory::path();
    VNTest::writeFile(ours + QStringLiteral("/old-task/file.bin"), "x");
    VNTest::writeFile(ours + QStringLiteral("/stray.txt"), "x");
    // A file outside our folder (a neighbour in the same parent) is never touched.
    const QString neighbour = QFileInfo(ours).absolutePath() + QStringLiteral("/not-ours.txt");
    VNTest::writeFile(neighbour, "keep");
    delegate = std::make_unique<QNMacAppDelegate>();
    delegate->applicationDidFinishLaunching();
    // Queued, not done yet while launching returns.
    EXPECT_TRUE(QFile::exists(ours + QStringLiteral("/stray.txt")));
    EXPECT_TRUE(VNTest::waitUntil([&] {
        return !QFile::exists(ours + QStringLiteral("/old-task")) && !QFile::exists(ours + QStringLiteral("/stray.txt"));
    }));
    EXPECT_TRUE(QFile::exists(neighbour));
    QFile::remove(neighbour);

    // A record of opened copies pointing outside our folder keeps nothing
    // alive and removes nothing there; one that is not a list is ignored.
    const QString outside = tempDir->path() + QStringLiteral("/outside.txt");
    VNTest::writeFile(outside, "x");
    VNTest::writeFile(ours + QStringLiteral("/junk.txt"), "x");
    for (const QByteArray &record : {QStringLiteral("[{\"path\": \"%1\", \"date\": 0}, {\"path\": \"%2\", \"date\": 0}]")
                                         .arg(outside, ours + QStringLiteral("/../elsewhere"))
                                         .toUtf8(),
                                     QByteArray("{not json")}) {
        VNTest::writeFile(QNMacAppDelegate::openedDocumentsRecordPath(), record);
        delegate.reset();
        launch();
        EXPECT_FALSE(QFile::exists(ours + QStringLiteral("/junk.txt")));
        EXPECT_TRUE(QFile::exists(outside));
    }
}

TEST_F(AppDelegateTest, ReopeningOpensAWindowOnlyWhenNoneIsVisibleAndReloadsReachEveryWindow) {
    QNMainWindowController *first = launch();
    EXPECT_FALSE(delegate->applicationShouldHandleReopen(true));
    EXPECT_EQ(delegate->windowControllers().size(), 1);
    first->window()->close();
    EXPECT_FALSE(delegate->applicationShouldHandleReopen(false));
    ASSERT_EQ(delegate->windowControllers().size(), 2);
    EXPECT_EQ(delegate->windowControllers()[1]->window()->windowTitle(), QStringLiteral("Varnello - Home"));
    // The closed window's controller stays listed.
    EXPECT_EQ(delegate->windowControllers()[0], first);

    // Reloading refreshes every window, each on its own main-queue turn.
    QNMainWindowController *second = delegate->windowControllers()[1];
    VNTest::spin(20);
    storeDrives(twoStoredDrives());
    delegate->reloadDrives();
    VNTest::spin(30);
    EXPECT_EQ(first->numberOfRows(), 3);
    EXPECT_EQ(second->numberOfRows(), 3);
}

TEST_F(AppDelegateTest, ASecondLaunchBringsTheShownWindowForwardAndOpensOneOnlyWhenNoneIsShown) {
    QNMainWindowController *first = launch();
    first->window()->show();
    const struct {
        const char *name;
        std::function<void()> before;
        qsizetype windowsAfter;
    } rows[] = {
        {"a window shown", [] {}, 1},
        {"the only window minimized", [first] { first->window()->showMinimized(); }, 2},
        {"every window closed", [this] {
             for (QNMainWindowController *c : delegate->windowControllers())
                 c->window()->close();
         }, 3},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        row.before();
        VNTest::spin(20);
        delegate->secondLaunch();
        EXPECT_EQ(delegate->windowControllers().size(), row.windowsAfter);
        EXPECT_TRUE(delegate->windowControllers().last()->window()->isVisible());
    }
}

TEST_F(AppDelegateTest, TheSaveBackQuestionItsCancelAndIgnoreChangesPaths) {
    launch();
    int uploads = 0;
    delegate->setSaveBackStarter([&](const QNDocumentPtr &, QNMacAppDelegate::SaveBackDone) { ++uploads; });
    // Unchanged copies and copies whose file is gone ask nothing.
    delegate->addOpenedDocument(openedCopy(QStringLiteral("same.txt"), ftpDrive()));
    auto gone = openedCopy(QStringLiteral("gone.txt"), ftpDrive());
    QFile::remove(gone->path());
    delegate->addOpenedDocument(gone);
    delegate->applicationDidBecomeActive();
    VNTest::spin(20);
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());

    auto doc = changedCopy(QStringLiteral("report.txt"), ftpDrive());
    const QDateTime recorded = doc->date();
    delegate->applicationDidBecomeActive();
    auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.messageText, QStringLiteral("Document change detected"));
    EXPECT_EQ(question.alert.informativeText,
              QStringLiteral("report.txt was changed. Do you want to save the changes back to FTP?"));
    EXPECT_EQ(question.alert.buttons,
              (QStringList{QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Ignore Changes")}));
    // Becoming active again while the question is up does not ask twice.
    delegate->applicationDidBecomeActive();
    VNTest::spin(20);
    EXPECT_EQ(QNDialogService::shared().history().size(), 1);

    // Cancel: the date stays, and the question comes again.
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    EXPECT_EQ(doc->date(), recorded);
    delegate->applicationDidBecomeActive();
    VNTest::spin(20);
    question = onlyPendingAlert();
    // Ignore Changes: the new date is recorded, nothing uploaded, not asked again.
    QNDialogService::shared().answer(question.id, QNAlert::ThirdButtonReturn);
    EXPECT_EQ(doc->date(), QFileInfo(doc->path()).lastModified());
    delegate->applicationDidBecomeActive();
    VNTest::spin(20);
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
    EXPECT_EQ(uploads, 0);
}

TEST_F(AppDelegateTest, SaveUploadsAndRecordsTheDateOnlyAfterSuccessThenRelistsWindowsOfThatDrive) {
    QNMainWindowController *showing = launch();
    QNMainWindowController *other = delegate->newDocument();
    VNTest::spin(20);
    const QNDriveConfigPtr drive = ftpDrive();
    showing->setDriveConfig(drive);
    other->setDriveConfig(twoStoredDrives().at(0));
    int relistedShowing = 0, relistedOther = 0;
    showing->setRelister([&] { ++relistedShowing; });
    other->setRelister([&] { ++relistedOther; });

    auto doc = changedCopy(QStringLiteral("plan.txt"), drive);
    const QDateTime recorded = doc->date();
    QNMacAppDelegate::SaveBackDone finish = saveAndHold();
    ASSERT_TRUE(finish);
    EXPECT_EQ(heldDocument, doc);
    // Not yet uploaded: the recorded date has not moved, nor is it asked again meanwhile.
    EXPECT_EQ(doc->date(), recorded);
    delegate->applicationDidBecomeActive();
    VNTest::spin(20);
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());

    finish(nullptr, false, nullptr);
    VNTest::spin(20);
    EXPECT_EQ(doc->date(), QFileInfo(doc->path()).lastModified());
    EXPECT_EQ(relistedShowing, 1);
    EXPECT_EQ(relistedOther, 0);
}

TEST_F(AppDelegateTest, AFailedSaveIsReportedAndOfferedAgainACancelledOneSilentlyBothRelistTheDrivesWindows) {
    QNMainWindowController *showing = launch();
    const QNDriveConfigPtr drive = ftpDrive();
    showing->setDriveConfig(drive);
    int relisted = 0;
    showing->setRelister([&] { ++relisted; });
    auto doc = changedCopy(QStringLiteral("budget.txt"), drive);
    const QDateTime recorded = doc->date();
    QNMacAppDelegate::SaveBackDone finish = saveAndHold();
    ASSERT_TRUE(finish);
    finish(VNError::make(QStringLiteral("QNFTPHandler"), 42, QStringLiteral("error"), QStringLiteral("upload refused")),
           false, nullptr);
    VNTest::spin(20);
    auto report = onlyPendingAlert();
    // The drive the document goes back to is named.
    const QString name = drive->displayName().isEmpty() ? drive->name() : drive->displayName();
    EXPECT_EQ(report.alert.messageText, QStringLiteral("\u201c%1\u201d: Upload refused.").arg(name));
    QNDialogService::shared().answer(report.id, QNAlert::FirstButtonReturn);
    EXPECT_EQ(doc->date(), recorded);
    EXPECT_EQ(relisted, 1);
    VNTest::spin(20);

    // Asked again; this time the upload is cancelled: no error shown.
    finish = saveAndHold();
    ASSERT_TRUE(finish);
    finish(VNError::make(QStringLiteral("QNFTPHandler"), 42, QStringLiteral("error"), QStringLiteral("cancelled")), true,
           nullptr);
    VNTest::spin(20);
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
    EXPECT_EQ(doc->date(), recorded);
    EXPECT_EQ(relisted, 2);

    // A copy whose drive is not known: reported, and the copy kept.
    delegate->setSaveBackStarter({});
    auto orphan = changedCopy(QStringLiteral("orphan.txt"), nullptr);
    const QDateTime orphanDate = orphan->date();
    delegate->applicationDidBecomeActive();
    for (int k = 0; k < 2; ++k) {  // the cancelled copy is asked again first
        ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 2000));
        const auto r = onlyPendingAlert();
        QNDialogService::shared().answer(r.id, r.alert.informativeText.startsWith(QStringLiteral("orphan.txt"))
                                                   ? QNAlert::FirstButtonReturn
                                                   : QNAlert::SecondButtonReturn);
    }
    ASSERT_TRUE(VNTest::waitUntil([] {
        const auto p = QNDialogService::shared().pendingAlerts();
        return p.size() == 1 && p[0].alert.messageText.contains(QStringLiteral("not known"));
    }, 3000));
    EXPECT_EQ(orphan->date(), orphanDate);
    EXPECT_TRUE(QFile::exists(orphan->path()));
}

// Once the edited copy is up the save-back hands out the drive document as
// it now stands (on a drive that finds items by id, the upload's new id):
// the record takes it in place of the one it had (a pane may share that one,
// and it stays as it was), in memory and as stored, however the save-back
// ended; with none handed out the record keeps what it had.
TEST_F(AppDelegateTest, TheRecordFollowsTheSavedDocumentHandedOutHoweverTheSaveEnded) {
    launch();
    storeDrives(twoStoredDrives());
    const QNDriveConfigPtr drive = ftpDrive();
    struct Row {
        const char *name;
        bool handedOut;
        bool failed;  // the backup stayed, say
        bool cancelled;
    };
    const Row rows[] = {{"saved", true, false, false},
                        {"saved, the backup not removed", true, true, false},
                        {"saved, then cancelled", true, false, true},
                        {"nothing went up", false, true, false}};
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto doc = openedCopy(QStringLiteral("letter%1.txt").arg(++n), drive);
        const QNDocumentPtr before = doc->openedFromDocument();
        before->setId(QStringLiteral("old-id"));
        delegate->addOpenedDocument(doc);
        touchLater(doc);
        QNMacAppDelegate::SaveBackDone finish = saveAndHold();
        EXPECT_TRUE(finish);
        if (!finish)
            continue;
        QNDocumentPtr saved;
        if (row.handedOut) {
            saved = before->copy();
            saved->setId(QStringLiteral("new-id"));
            saved->setFullPath(QStringLiteral("/f1/f2/new"));
        }
        finish(row.failed ? VNError::make(QStringLiteral("QNBoxHandler"), 42, QStringLiteral("error"),
                                          QStringLiteral("The backup could not be removed."))
                          : nullptr,
               row.cancelled, saved);
        VNTest::spin(20);
        EXPECT_EQ(doc->openedFromDocument(), row.handedOut ? saved : before);
        EXPECT_EQ(before->id().toStdString(), "old-id");
        EXPECT_EQ(before->fullPath().toStdString(), "");
        QJsonObject item;
        QFile record(QNMacAppDelegate::openedDocumentsRecordPath());
        EXPECT_TRUE(record.open(QIODevice::ReadOnly));
        for (const QJsonValue &v : QJsonDocument::fromJson(record.readAll()).array())
            if (v.toObject().value("path").toString() == doc->path())
                item = v.toObject().value("item").toObject();
        EXPECT_EQ(item.value("path").toString().toStdString(), before->path().toStdString());
        EXPECT_EQ(item.value("id").toString().toStdString(), row.handedOut ? "new-id" : "old-id");
        EXPECT_EQ(item.value("fullPath").toString().toStdString(), row.handedOut ? "/f1/f2/new" : "");
        // Not asked again about this change.
        for (const auto &r : QNDialogService::shared().pendingAlerts())
            QNDialogService::shared().answer(r.id, QNAlert::FirstButtonReturn);
        doc->setDate(QFileInfo(doc->path()).lastModified());
    }
}

TEST_F(AppDelegateTest, TheQuestionGoesToTheActiveVisibleWindow) {
    QNMainWindowController *first = launch();
    QNMainWindowController *second = delegate->newDocument();
    second->window()->activateWindow();
    ASSERT_TRUE(VNTest::waitUntil([&] { return second->window()->isActiveWindow(); }, 2000));
    auto doc = changedCopy(QStringLiteral("x.txt"), ftpDrive());
    delegate->applicationDidBecomeActive();
    EXPECT_EQ(onlyPendingAlert().window, second->window());
    QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::SecondButtonReturn);

    // With the first window closed and none active, the visible one is asked;
    // two changed copies give two questions, one after the other.
    first->window()->close();
    VNTest::spin(20);
    auto b = changedCopy(QStringLiteral("y.txt"), ftpDrive());
    delegate->applicationDidBecomeActive();
    auto question = onlyPendingAlert();
    EXPECT_EQ(question.window, second->window());
    EXPECT_TRUE(question.alert.informativeText.startsWith(QStringLiteral("x.txt")));
    QNDialogService::shared().answer(question.id, QNAlert::ThirdButtonReturn);
    ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 2000));
    question = onlyPendingAlert();
    EXPECT_TRUE(question.alert.informativeText.startsWith(QStringLiteral("y.txt")));
    QNDialogService::shared().answer(question.id, QNAlert::SecondButtonReturn);
    EXPECT_EQ(doc->date(), QFileInfo(doc->path()).lastModified());
    EXPECT_NE(b->date(), QFileInfo(b->path()).lastModified());
}

TEST_F(AppDelegateTest, ChangesThatNeverWentBackSurviveTheNextLaunch) {
    // First run: two copies opened, one of them edited and never saved back.
    launch();
    const QString ours = VNTempDirectory::path();
    VNTest::writeFile(ours + QStringLiteral("/PANE-A/edited.txt"), "v1");
    VNTest::writeFile(ours + QStringLiteral("/PANE-B/plain.txt"), "v1");
    auto edited = QNDocument::withPath(ours + QStringLiteral("/PANE-A/edited.txt"));
    edited->setDate(QFileInfo(edited->path()).lastModified());
    auto plain = QNDocument::withPath(ours + QStringLiteral("/PANE-B/plain.txt"));
    plain->setDate(QFileInfo(plain->path()).lastModified());
    delegate->addOpenedDocument(edited);
    delegate->addOpenedDocument(plain);
    touchLater(edited);
    delegate.reset();  // the application ends; nothing is saved back

    // Second run: the clean-up keeps the edited copy, throws the other away.
    launch();
    EXPECT_TRUE(QFile::exists(edited->path()));
    EXPECT_EQ(VNTest::readFile(edited->path()), QByteArray("v1 edited"));
    EXPECT_FALSE(QFile::exists(plain->path()));

    // A third run still keeps it.
    delegate.reset();
    launch();
    EXPECT_TRUE(QFile::exists(edited->path()));
}

TEST_F(AppDelegateTest, TheRecordOfAnInstanceThatHasEndedKeepsItsChangedCopyAndIsThenForgotten) {
    // An instance that shared the folder left its record and its (free) lock.
    const QString ours = VNTempDirectory::path();
    const QString edited = ours + QStringLiteral("/PANE-X/edited.txt");
    const QString plain = ours + QStringLiteral("/PANE-Y/plain.txt");
    VNTest::writeFile(edited, "changed, never saved back");
    VNTest::writeFile(plain, "unchanged");
    const qint64 openedAt = QFileInfo(plain).lastModified().toMSecsSinceEpoch();
    const QString lock = VNTempDirectory::holderFile(QStringLiteral("1-ended"), QStringLiteral(".lock"));
    const QString record = VNTempDirectory::holderFile(QStringLiteral("1-ended"), QStringLiteral(".opened-documents.json"));
    VNTest::writeFile(lock, "");
    VNTest::writeFile(record, QStringLiteral("[{\"path\": \"%1\", \"date\": 0}, {\"path\": \"%2\", \"date\": %3}]")
                                  .arg(edited, plain)
                                  .arg(openedAt)
                                  .toUtf8());
    launch();
    ASSERT_TRUE(VNTest::waitUntil([&] { return !QFileInfo::exists(record); }));
    EXPECT_TRUE(QFileInfo::exists(edited));
    EXPECT_FALSE(QFileInfo::exists(plain));
    EXPECT_FALSE(QFileInfo::exists(lock));
    // Now in this instance's record, for the launch after it.
    EXPECT_TRUE(VNTest::readFile(QNMacAppDelegate::openedDocumentsRecordPath()).contains(edited.toUtf8()));
}
