// The main window's navigation: where a drive opens, the pane stack and the
// path bar, the view switch, "Create Folder" and the quota captions.
#include "PanesTestSupport.h"

#include "App/QNAlert.h"
#include "App/QNAlertPanel.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QLineEdit>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <atomic>

namespace {

// A drive kind of the tests ("quota://..."): its quota answers on a worker
// thread with the figures below, or with an error.
struct QuotaScript {
    static inline std::atomic<int> calls{0};
    static inline std::atomic<bool> fail{false};
    static inline std::atomic<qint64> total{0};
    static inline std::atomic<qint64> used{0};
    static inline std::atomic<qint64> shared{0};
};

class QuotaHandler : public QNCloudInterface {
public:
    using QNCloudInterface::QNCloudInterface;
    QString className() const override { return QStringLiteral("QuotaHandler"); }
    void quota(QNDocumentPtr, QNQuotaCallback completed) override {
        ++QuotaScript::calls;
        auto config = driveConfig();
        VNDispatch::globalAsync([config, completed, self = shared_from_this()] {
            if (QuotaScript::fail.load()) {
                completed(self->makeError(QStringLiteral("The server has no quota.")), false);
                return;
            }
            config->setTotalBytes(QuotaScript::total.load());
            config->setUsedBytes(QuotaScript::used.load());
            config->setAvailableBytes(QuotaScript::total.load() - QuotaScript::used.load());
            config->setSharedBytes(QuotaScript::shared.load());
            completed(nullptr, false);
        });
    }
};

class NavigationTest : public PanesTest {
protected:
    QNMainWindowController *window = nullptr;
    QString root;

    void SetUp() override {
        PanesTest::SetUp();
        QuotaScript::calls = 0;
        QuotaScript::fail = false;
        QuotaScript::total = 0;
        QuotaScript::used = 0;
        QuotaScript::shared = 0;
        QNCloudInterfaceFactory::registerHandler(
            QStringLiteral("quota-test"),
            [](const QNDriveConfig &c) { return c.url().startsWith(QLatin1String("quota://")); },
            [](const QNDriveConfigPtr &c) { return std::make_shared<QuotaHandler>(c); });
    }

    void TearDown() override {
        PanesTest::TearDown();
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("quota-test"));
    }

    static QNDriveConfigPtr quotaDrive(const QString &name) {
        auto d = QNDriveConfig::create();
        d->setName(name);
        d->setDescription(QStringLiteral("SHOW DOCUMENTS ON THIS SERVER"));
        d->setUrl(QStringLiteral("quota://server.example:99/"));
        d->setUsername(name);
        return d;
    }

    // root/a/b with a file in each; the drive is opened at root.
    void openTree() {
        root = folder(QStringLiteral("tree"));
        folder(QStringLiteral("tree/a/b"));
        writeFile(root + QStringLiteral("/top.txt"), 3);
        writeFile(root + QStringLiteral("/a/in-a.txt"), 3);
        writeFile(root + QStringLiteral("/a/b/in-b.txt"), 3);
        window = openDrive(localDrive(QStringLiteral("TREE DRIVE"), root));
        ASSERT_NE(window, nullptr);
    }

    // Opens the named folder of the top pane.
    void openSubfolder(const QString &name) {
        QNMacFilesViewController *pane = window->filesViewController();
        const int index = int(names(pane->documents()).indexOf(name));
        ASSERT_GE(index, 0);
        pane->doubleClickAction(index);
        ASSERT_TRUE(waitForListing(window));
    }

    void openToB() {
        openTree();
        openSubfolder(QStringLiteral("a"));
        openSubfolder(QStringLiteral("b"));
    }

    QString topPath() const {
        return window->filesViewController() ? window->filesViewController()->document()->path() : QString();
    }
};

}  // namespace

// ---------------------------------------------------------------- determineRoot

TEST_F(NavigationTest, DetermineRootCutsTheUrlToTheServerAndKeepsPortsIPv6AndDecodedPaths) {
    struct Case {
        QString url, copyUrl, root, initial;
    };
    const QList<Case> cases = {
        {"http://127.0.0.1:8080/dav/", "http://127.0.0.1:8080", "/dav/", "/dav/"},
        {"ftp://127.0.0.1:2121", "ftp://127.0.0.1:2121", "/", QString()},
        {"ftp://127.0.0.1:2121/", "ftp://127.0.0.1:2121", "/", "/"},
        {"https://files.example/remote.php/webdav", "https://files.example", "/remote.php/webdav",
         "/remote.php/webdav"},
        {"http://[::1]:8080/dav", "http://[::1]:8080", "/dav", "/dav"},
        {"http://h.example/my%20files/", "http://h.example", "/my files/", "/my files/"},
        {"file:///srv/share", "file://", "/srv/share", "/srv/share"},
        {"no scheme here", "no scheme here", "/", QString()},
    };
    for (const Case &c : cases) {
        auto drive = QNDriveConfig::create();
        drive->setIsWebDAV(true);
        drive->setUrl(c.url);
        QNDriveConfigPtr copy;
        QNDocumentPtr rootFolder;
        QNMainWindowController::determineRoot(drive, &copy, &rootFolder);
        ASSERT_TRUE(copy && rootFolder);
        EXPECT_NE(copy, drive);
        EXPECT_EQ(drive->url(), c.url);  // the drive itself is untouched
        EXPECT_EQ(copy->url(), c.copyUrl) << c.url.toStdString();
        EXPECT_EQ(rootFolder->path(), c.root) << c.url.toStdString();
        EXPECT_EQ(copy->initialUrlPath(), c.initial) << c.url.toStdString();
        EXPECT_EQ(copy->initialUrlPath().isNull(), c.initial.isNull()) << c.url.toStdString();
    }
    // A drive without a URL opens at the top.
    auto dropbox = QNDriveConfig::create();
    dropbox->setIsDropbox(true);
    QNDriveConfigPtr copy;
    QNDocumentPtr rootFolder;
    QNMainWindowController::determineRoot(dropbox, &copy, &rootFolder);
    EXPECT_EQ(rootFolder->path(), QStringLiteral("/"));
    EXPECT_TRUE(copy->initialUrlPath().isNull());
}

// ---------------------------------------------------------------- the pane stack

TEST_F(NavigationTest, ChoosingADriveOpensItsRootAndBackPopsOnePaneAtATimeToTheDriveList) {
    openTree();
    EXPECT_EQ(topPath(), root);
    EXPECT_EQ(window->titleTextField()->text(), QStringLiteral("Varnello - %1").arg(QNUtils::decapName(QStringLiteral("TREE DRIVE"))));
    EXPECT_TRUE(window->createFolderButton()->isVisibleTo(window->window()));
    EXPECT_FALSE(window->filesViewController()->showThumbnails());
    openSubfolder(QStringLiteral("a"));
    // A relisting of the window (after a save-back) lists the top pane again.
    writeFile(root + QStringLiteral("/a/later.txt"), 1);
    window->relistCurrentFolder();
    ASSERT_TRUE(waitForListing(window));
    EXPECT_TRUE(names(window->filesViewController()->documents()).contains(QStringLiteral("later.txt")));
    openSubfolder(QStringLiteral("b"));
    window->backButton()->click();
    EXPECT_EQ(window->filesViewControllers().size(), 2);
    EXPECT_EQ(topPath(), root + QStringLiteral("/a"));
    EXPECT_EQ(window->contentStack()->currentWidget(), window->filesViewController()->view());
    window->back();
    window->back();
    EXPECT_EQ(window->filesViewController(), nullptr);
    EXPECT_EQ(window->contentStack()->currentWidget(), window->tableView());
    EXPECT_EQ(window->window()->windowTitle(), QStringLiteral("Varnello - Home"));
    EXPECT_FALSE(window->createFolderButton()->isVisibleTo(window->window()));
    // Nothing left to pop.
    window->back();
    window->pop(-1);
    EXPECT_EQ(window->filesViewControllers().size(), 0);
    EXPECT_NE(pathButton(window, QStringLiteral("homeButton")), nullptr);
    EXPECT_EQ(pathButton(window, QStringLiteral("driveButton")), nullptr);
}

TEST_F(NavigationTest, FolderButtonsPopToTheirLevelTwoLevelsBelowTheRootAndRelistAtIt) {
    openToB();
    // "a" is one level below the root: one pane goes.
    EXPECT_EQ(pathLevel(window, QStringLiteral("a")), 1);
    EXPECT_EQ(pathLevel(window, QStringLiteral("b")), 2);
    pathButton(window, QStringLiteral("folderButton"), QStringLiteral("a"))->click();
    EXPECT_EQ(window->filesViewControllers().size(), 2);
    EXPECT_EQ(topPath(), root + QStringLiteral("/a"));

    openSubfolder(QStringLiteral("b"));
    pathButton(window, QStringLiteral("driveButton"))->click();
    EXPECT_EQ(window->filesViewControllers().size(), 1);
    EXPECT_EQ(topPath(), root);

    openSubfolder(QStringLiteral("a"));
    openSubfolder(QStringLiteral("b"));
    // "b" is the folder shown: it is listed again, nothing is popped.
    QNMacFilesViewController *top = window->filesViewController();
    pathButton(window, QStringLiteral("folderButton"), QStringLiteral("b"))->click();
    EXPECT_EQ(window->filesViewControllers().size(), 3);
    EXPECT_EQ(window->filesViewController(), top);
    EXPECT_TRUE(top->isListing());
    ASSERT_TRUE(waitForListing(window));

    pathButton(window, QStringLiteral("homeButton"))->click();
    EXPECT_EQ(window->filesViewControllers().size(), 0);

    // At the root the root folder's own path components relist it (tag 0).
    ASSERT_TRUE(openRow(window, 0));
    for (QPushButton *b : window->navbarView()->findChildren<QPushButton *>(QStringLiteral("folderButton")))
        EXPECT_EQ(b->property("tag").toInt(), 0) << b->toolTip().toStdString();
    pathButton(window, QStringLiteral("folderButton"), QFileInfo(root).fileName())->click();
    EXPECT_EQ(window->filesViewControllers().size(), 1);
    EXPECT_TRUE(window->filesViewController()->isListing());
    ASSERT_TRUE(waitForListing(window));
}

// ---------------------------------------------------------------- the view switch

TEST_F(NavigationTest, TheViewButtonsSwitchEveryPaneAndNewPanesKeepTheViewAndZoom) {
    openTree();
    window->filesViewController()->imageBrowserView()->setZoomValue(0.8f);
    openSubfolder(QStringLiteral("a"));
    EXPECT_FLOAT_EQ(window->filesViewController()->imageBrowserView()->zoomValue(), 0.8f);
    window->thumbnailsButton()->click();
    EXPECT_FALSE(window->listButton()->isChecked());
    for (QNMacFilesViewController *pane : window->filesViewControllers())
        EXPECT_TRUE(pane->showThumbnails());
    EXPECT_EQ(window->filesViewController()->imageBrowserView()->model()->rowCount(), 2);
    // A pane opened now starts in thumbnails too; back carries the zoom down.
    openSubfolder(QStringLiteral("b"));
    EXPECT_TRUE(window->filesViewController()->showThumbnails());
    window->filesViewController()->imageBrowserView()->setZoomValue(0.4f);
    window->back();
    EXPECT_FLOAT_EQ(window->filesViewController()->imageBrowserView()->zoomValue(), 0.4f);
    window->listButton()->click();
    EXPECT_FALSE(window->thumbnailsButton()->isChecked());
    for (QNMacFilesViewController *pane : window->filesViewControllers())
        EXPECT_FALSE(pane->showThumbnails());
    EXPECT_EQ(window->filesViewController()->tableView()->model()->rowCount(), 2);
}

// ---------------------------------------------------------------- create folder

namespace {

// Answers the pending "Create Folder" question with the name typed.
bool answerCreateFolder(QNMainWindowController *window, const QString &name, int returnCode) {
    if (!VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }))
        return false;
    const auto request = QNDialogService::shared().pendingAlerts().first();
    if (request.alert.messageText != QStringLiteral("Create Folder") ||
        request.alert.informativeText != QStringLiteral("Please enter the name of the folder:") ||
        request.alert.buttons != QStringList{"OK", "Cancel"})
        return false;
    auto *input = qobject_cast<QLineEdit *>(request.alert.accessoryView.data());
    if (!input || input != window->alertInput() || !input->text().isEmpty())
        return false;
    input->setText(name);
    return QNDialogService::shared().answer(request.id, returnCode);
}

}  // namespace

TEST_F(NavigationTest, CreateFolderMakesTheFolderAndRelistsCancelMakesNothingAndErrorsShow) {
    openTree();
    window->createFolderButton()->click();
    ASSERT_TRUE(answerCreateFolder(window, QStringLiteral("New Stuff"), QNAlert::FirstButtonReturn));
    ASSERT_TRUE(VNTest::waitUntil([&] { return names(window->filesViewController()->documents()).contains("New Stuff"); }));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/New Stuff")).isDir());
    EXPECT_EQ(window->filesViewController()->foldersLabel()->text(), QStringLiteral("2 Folders"));

    // Two questions at once each keep their own field.
    window->createFolder();
    window->createFolder();
    for (const QString &name : {QStringLiteral("one"), QStringLiteral("two")}) {
        ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }));
        const auto request = QNDialogService::shared().pendingAlerts().first();
        auto *input = qobject_cast<QLineEdit *>(request.alert.accessoryView.data());
        ASSERT_NE(input, nullptr);
        input->setText(name);
        QNDialogService::shared().answer(request.id, QNAlert::FirstButtonReturn);
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo(root + QStringLiteral("/one")).isDir() &&
                                               QFileInfo(root + QStringLiteral("/two")).isDir(); }));

    window->createFolder();
    ASSERT_TRUE(answerCreateFolder(window, QStringLiteral("never"), QNAlert::SecondButtonReturn));
    VNTest::spin(100);
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/never")));
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());

    // A folder that cannot be made: the drive's error, naming the drive.
    window->createFolder();
    ASSERT_TRUE(answerCreateFolder(window, QStringLiteral("a"), QNAlert::FirstButtonReturn));  // exists already
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }));
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().first().alert.messageText.endsWith(
        QStringLiteral("\u201d: An item named \"a\" already exists.")))
        << QNDialogService::shared().pendingAlerts().first().alert.messageText.toStdString();
}

TEST_F(NavigationTest, TheRealCreateFolderAlertHoldsAFocusedFieldWhoseTextMakesTheFolder) {
    openTree();
    QNDialogService::shared().setAutomated(false);
    window->window()->show();
    window->createFolder();
    QNAlertPanel *panel = nullptr;
    ASSERT_TRUE(VNTest::waitUntil(
        [&] { return (panel = qobject_cast<QNAlertPanel *>(QNDialogService::shared().attachedSheet(window->window()))); }));
    auto *field = panel->findChild<QLineEdit *>();
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisible());
    EXPECT_EQ(field->size(), QSize(300, 24));
    EXPECT_EQ(panel->focusWidget(), field);
    QTest::keyClicks(field, QStringLiteral("Typed Here"));
    QPushButton *ok = nullptr;
    for (QPushButton *b : panel->findChildren<QPushButton *>())
        if (b->text() == QStringLiteral("OK"))
            ok = b;
    ASSERT_NE(ok, nullptr);
    ok->click();
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo(root + QStringLiteral("/Typed Here")).isDir(); }));
}

TEST_F(NavigationTest, UnusableFolderNamesAreRefusedWithAClearMessage) {
    openTree();
    const QStringList before = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : {QString(), QStringLiteral("   "), QStringLiteral("a/b"), QStringLiteral("."),
                                QStringLiteral(".."), QStringLiteral("../escape")}) {
        QNDialogService::shared().clearHistory();
        window->createFolder();
        ASSERT_TRUE(answerCreateFolder(window, name, QNAlert::FirstButtonReturn)) << name.toStdString();
        ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }));
        const auto refusal = QNDialogService::shared().pendingAlerts().first();
        EXPECT_TRUE(refusal.alert.messageText.contains(QStringLiteral("cannot be used as a folder name")))
            << refusal.alert.messageText.toStdString();
        EXPECT_TRUE(refusal.alert.informativeText.contains(QStringLiteral("must not be empty")));
        QNDialogService::shared().answer(refusal.id, QNAlert::FirstButtonReturn);
    }
    VNTest::spin(50);
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    EXPECT_FALSE(QFileInfo::exists(temp->path() + QStringLiteral("/escape")));
}

// ---------------------------------------------------------------- quota

TEST_F(NavigationTest, TheQuotaCaptionShowsUsedTotalAvailableAndSharedOrTheDrivesCaption) {
    const qint64 G = qint64(1) << 30;
    const QString caption = QNUtils::decapDescription(QStringLiteral("SHOW DOCUMENTS ON THIS SERVER"));
    const struct {
        qint64 total, used, shared;
        QString text;
    } cases[] = {
        {10 * G, 3 * G, G, QStringLiteral("%1 of %2 used (%3 available, %4 shared)")
                              .arg(QNUtils::sizeString2(3 * G), QNUtils::sizeString2(10 * G), QNUtils::sizeString2(7 * G),
                                   QNUtils::sizeString2(G))},
        {10 * G, 3 * G, 0, QStringLiteral("%1 of %2 used (%3 available)")
                              .arg(QNUtils::sizeString2(3 * G), QNUtils::sizeString2(10 * G), QNUtils::sizeString2(7 * G))},
        {0, 0, 0, caption},  // no figures: the drive's own caption
    };
    window = launch();
    storeDrives({quotaDrive(QStringLiteral("SERVER"))});
    for (const auto &c : cases) {
        QuotaScript::total = c.total;
        QuotaScript::used = c.used;
        QuotaScript::shared = c.shared;
        const int calls = QuotaScript::calls.load();
        window->updateQuotaClean(true);
        ASSERT_TRUE(VNTest::waitUntil([&] { return QuotaScript::calls.load() > calls; }));
        EXPECT_TRUE(VNTest::waitUntil([&] { return window->rowContent(0).subTitle == c.text; }))
            << window->rowContent(0).subTitle.toStdString();
    }
}

TEST_F(NavigationTest, AFailedQuotaIsAskedAgainAtTheNextReloadAndComingHomeUpdatesTheStoredDrivesRow) {
    QuotaScript::fail = true;
    VNLog::clearCaptured();
    window = launch();
    auto drive = quotaDrive(QStringLiteral("SERVER"));
    drive->setUrl(QStringLiteral("quota://server.example:99/dav/"));  // opened, the copy's URL differs
    drive->setPassword(QStringLiteral("pw-Zebra-42"));
    auto unsupported = QNDriveConfig::create();
    unsupported->setIsBox(true);  // no handler in this build
    unsupported->setName(QStringLiteral("BOX"));
    unsupported->setPassword(QStringLiteral("pw-Quokka-7"));
    storeDrives({drive, unsupported});
    ASSERT_TRUE(VNTest::waitUntil([] { return QuotaScript::calls.load() == 1; }));
    VNTest::spin(50);
    EXPECT_EQ(window->rowContent(0).subTitle, QNUtils::decapDescription(QStringLiteral("SHOW DOCUMENTS ON THIS SERVER")));
    window->reloadDrives();
    ASSERT_TRUE(VNTest::waitUntil([] { return QuotaScript::calls.load() == 2; }));
    for (const QString &line : VNLog::captured()) {
        EXPECT_FALSE(line.contains(QStringLiteral("pw-Zebra-42"))) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("pw-Quokka-7"))) << line.toStdString();
    }
    // The server answers now: coming home from the drive fills its own row.
    QuotaScript::fail = false;
    QuotaScript::total = qint64(10) << 30;
    window->tableViewSelectionDidChange(0);
    window->home();
    ASSERT_TRUE(VNTest::waitUntil([&] { return window->rowContent(0).subTitle.contains(QStringLiteral(" used (")); }));
}
