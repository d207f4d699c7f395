#pragma once

#include "App/AppWindowTest.h"
#include "App/QNImageBrowserView.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNMacTableView.h"
#include "Core/QNTaskManager.h"

#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

// The file-pane tests: a main window sized for its panes, and test folders
// on the local disk that stored local-folder drives point at.
class PanesTest : public AppWindowTest {
protected:
    void SetUp() override {
        AppWindowTest::SetUp();
        temp = VNTest::makeTempDir();
        // Nobody answers a file dialog here: a test that comes to the
        // application picker fails at once instead of waiting for a person.
        QNMacFilesViewController::setApplicationChooser([](QWidget *) {
            ADD_FAILURE() << "a file dialog came up for a person to pick an application";
            return QString();
        });
    }

    void TearDown() override {
        QNMacFilesViewController::setApplicationChooser(nullptr);
        AppWindowTest::TearDown();
    }

    QNMainWindowController *launch() {
        QNMainWindowController *w = AppWindowTest::launch();
        if (w)
            w->window()->resize(760, 560);
        return w;
    }

    // A folder below the test's temporary folder (made with its parents).
    QString folder(const QString &relative) const {
        const QString path = temp->path() + QLatin1Char('/') + relative;
        QDir().mkpath(path);
        return path;
    }

    static void writeFile(const QString &path, qint64 size) {
        ASSERT_TRUE(VNTest::writeFile(path, QByteArray(size, 'x')));
    }

    // A stored local-folder drive whose root is the folder.
    static QNDriveConfigPtr localDrive(const QString &name, const QString &path) {
        auto d = QNDriveConfig::create();
        d->setIsMyFiles(true);
        d->setName(name);
        d->setDescription(QStringLiteral("SHOW DOCUMENTS ON THIS MAC"));
        d->setImage(QStringLiteral("icon_mydocuments.pdf"));
        d->setUrl(QUrl::fromLocalFile(path).toString());
        return d;
    }

    static void storeDrives(const QNDriveConfigList &drives) {
        ASSERT_TRUE(QNDriveConfig::writeStoredDrives(drives));
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->reloadDrives();
        VNTest::spin(30);
    }

    // A window showing the drive's root folder, listed.
    QNMainWindowController *openDrive(const QNDriveConfigPtr &drive) {
        QNMainWindowController *w = launch();
        EXPECT_NE(w, nullptr);
        if (!w)
            return nullptr;
        storeDrives({drive});
        EXPECT_TRUE(openRow(w, 0));
        return w;
    }

    // Two windows showing the root folders of two stored drives, listed:
    // *a the first drive's, *b the second's.
    bool openSideBySide(const QNDriveConfigPtr &first, const QNDriveConfigPtr &second, QNMainWindowController **a,
                        QNMainWindowController **b) {
        *a = launch();
        if (!*a)
            return false;
        storeDrives({first, second});
        if (!openRow(*a, 0))
            return false;
        *b = delegate->newDocument();
        VNTest::spin(30);
        return openRow(*b, 1);
    }

    // Waits until the top pane has listed its folder.
    static bool waitForListing(QNMainWindowController *w, int timeoutMs = 10000) {
        return VNTest::waitUntil(
            [w] { return w->filesViewController() && !w->filesViewController()->isListing(); }, timeoutMs);
    }

    // Chooses the drive row and waits for its root folder's listing.
    static bool openRow(QNMainWindowController *w, int row) {
        w->tableViewSelectionDidChange(row);
        return waitForListing(w);
    }

    using AppWindowTest::names;
    static QStringList names(const QNDocumentList &documents) {
        QStringList n;
        for (const auto &d : documents)
            n << d->displayName();
        return n;
    }

    // The path bar's button of that kind ("homeButton", "driveButton",
    // "folderButton") whose tooltip (folder name) matches, if any.
    static QPushButton *pathButton(QNMainWindowController *w, const QString &kind, const QString &folder = {}) {
        if (!w->navbarView())
            return nullptr;
        for (QPushButton *b : w->navbarView()->findChildren<QPushButton *>(kind))
            if (folder.isEmpty() || b->toolTip() == folder)
                return b;
        return nullptr;
    }

    static int pathLevel(QNMainWindowController *w, const QString &folder) {
        QPushButton *b = pathButton(w, QStringLiteral("folderButton"), folder);
        return b ? b->property("tag").toInt() : -1;
    }

    // An opened copy changed at a moment after the last one accepted.
    static void changeOpenedCopy(const QString &copy, const QByteArray &text, const QDateTime &when) {
        ASSERT_TRUE(VNTest::writeFile(copy, text));
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }

    // Answers the one save-back question with Save; true once the delegate
    // has taken the change as saved (its date recorded).
    bool saveWhenAsked(const QDateTime &changed) {
        if (!VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 5000))
            return false;
        const auto question = onlyPendingAlert();
        EXPECT_EQ(question.alert.messageText, QStringLiteral("Document change detected"));
        QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
        return VNTest::waitUntil(
            [&] {
                const QNDocumentList opened = delegate->openedDocuments();
                return delegate->taskManager()->tasks().isEmpty() && !opened.isEmpty() &&
                       opened.first()->date() >= changed;
            },
            30000);
    }

    // Once the tasks have ended, each sheet in turn as it comes up on a
    // window, answered with its first button, until no further one comes:
    // a sheet begun while another is up waits behind it, and shows only
    // once that one is answered. What puts a sheet up reaches the main
    // thread a hand-over or two after a task's listener: the main queue is
    // run until a few rounds in a row bring nothing.
    QList<QNDialogService::Request> answerSheetsInTurn() {
        QList<QNDialogService::Request> answered;
        EXPECT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 15000))
            << "the tasks never ended";
        for (int quiet = 0; quiet < 3 && answered.size() < 20;) {
            EXPECT_TRUE(VNTest::runMainQueue()) << "the main thread never came round";
            const auto pending = QNDialogService::shared().pendingAlerts();
            quiet = pending.isEmpty() ? quiet + 1 : 0;
            for (const auto &request : pending) {
                answered << request;
                QNDialogService::shared().answer(request.id, QNAlert::FirstButtonReturn);
            }
        }
        return answered;
    }

    // Their message texts, one after the other.
    static std::string messageTexts(const QList<QNDialogService::Request> &requests) {
        QStringList texts;
        for (const auto &request : requests)
            texts << request.alert.messageText;
        return texts.join(QStringLiteral(" | ")).toStdString();
    }

    std::unique_ptr<QTemporaryDir> temp;
};
