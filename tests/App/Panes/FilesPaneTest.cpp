// The file pane on stored local-folder drives: listing order, count labels,
// sorting, the two views, opening folders, errors and abandoned listings.
#include "PanesTestSupport.h"

#include "App/QNDocumentSortDescriptor.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QThread>
#include <QToolButton>

namespace {

class FilesPaneTest : public PanesTest {
protected:
    QNMainWindowController *window = nullptr;
    QString root;

    // A drive with two folders, three files of 1, 2 and 3 bytes and a
    // "pages" package; opened in the window.
    void openSampleDrive() {
        root = folder(QStringLiteral("sample"));
        folder(QStringLiteral("sample/beta"));
        folder(QStringLiteral("sample/Alpha"));
        folder(QStringLiteral("sample/Report.pages"));
        writeFile(root + QStringLiteral("/b.txt"), 2);
        writeFile(root + QStringLiteral("/a.txt"), 1);
        writeFile(root + QStringLiteral("/C.txt"), 3);
        window = launch();
        ASSERT_NE(window, nullptr);
        storeDrives({localDrive(QStringLiteral("SAMPLE"), root)});
        ASSERT_TRUE(openRow(window, 0));
    }

    QNMacFilesViewController *pane() const { return window->filesViewController(); }
};

}  // namespace

TEST_F(FilesPaneTest, FoldersComeFirstThenFilesEachByName) {
    openSampleDrive();
    // Packages are folders: they sort with them.
    EXPECT_EQ(names(pane()->documents()),
              (QStringList{"Alpha", "Report.pages", "beta", "C.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(pane()->numberOfRowsInTableView(), 6);
    EXPECT_EQ(pane()->tableView()->model()->rowCount(), 6);
    EXPECT_EQ(pane()->tableView()->model()->index(3, 0).data().toString(), QStringLiteral("C.txt"));
}

TEST_F(FilesPaneTest, CountLabelsAreExact) {
    openSampleDrive();
    EXPECT_TRUE(pane()->foldersLabel()->isVisibleTo(pane()->view()));
    EXPECT_EQ(pane()->foldersLabel()->text(), QStringLiteral("3 Folders"));
    EXPECT_EQ(pane()->filesLabel()->text(), QStringLiteral("%1 in 3 Files").arg(QNUtils::sizeString2(6)));
}

TEST_F(FilesPaneTest, OneFolderAndOneFileUseTheSingularWords) {
    root = folder(QStringLiteral("single"));
    folder(QStringLiteral("single/only"));
    writeFile(root + QStringLiteral("/one.bin"), 1000);
    window = launch();
    storeDrives({localDrive(QStringLiteral("SINGLE"), root)});
    ASSERT_TRUE(openRow(window, 0));
    EXPECT_EQ(pane()->foldersLabel()->text(), QStringLiteral("1 Folder"));
    EXPECT_EQ(pane()->filesLabel()->text(), QStringLiteral("%1 in 1 File").arg(QNUtils::sizeString2(1000)));
}

TEST_F(FilesPaneTest, AnEmptyFolderShowsNoFolderLabelAndZeroFiles) {
    root = folder(QStringLiteral("empty"));
    window = launch();
    storeDrives({localDrive(QStringLiteral("EMPTY"), root)});
    ASSERT_TRUE(openRow(window, 0));
    EXPECT_TRUE(pane()->documents().isEmpty());
    EXPECT_FALSE(pane()->foldersLabel()->isVisibleTo(pane()->view()));
    EXPECT_TRUE(pane()->filesLabel()->isVisibleTo(pane()->view()));
    EXPECT_EQ(pane()->filesLabel()->text(), QStringLiteral("0 Files"));
}

TEST_F(FilesPaneTest, ListedDocumentsCarryThePaneDriveAndFoldersHaveNoSize) {
    openSampleDrive();
    const QString id = pane()->driveConfig()->driveConfigId();
    for (const auto &doc : pane()->documents()) {
        EXPECT_EQ(doc->driveConfigId(), id);
        if (doc->isDirectory())
            EXPECT_EQ(doc->size(), 0);
    }
    // Folders and packages show no size; files do.
    EXPECT_EQ(pane()->tableViewText(QStringLiteral("sizeCell"), 0), QString());
    EXPECT_EQ(pane()->tableViewText(QStringLiteral("sizeCell"), 4), QNUtils::sizeString2(1));
    EXPECT_FALSE(pane()->tableViewText(QStringLiteral("dateCell"), 4).isEmpty());
}

TEST_F(FilesPaneTest, PackagesShowAsFilesButOrdinaryFoldersAsFolders) {
    auto pages = QNDocument::withPath(QStringLiteral("/x/Report.pages"), true);
    auto keynote = QNDocument::withPath(QStringLiteral("/x/Talk.KEY"), true);
    auto plain = QNDocument::withPath(QStringLiteral("/x/plain"), true);
    auto file = QNDocument::withPath(QStringLiteral("/x/a.txt"), false);
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(pages));
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(keynote));
    EXPECT_TRUE(QNMacFilesViewController::showAsFolder(plain));
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(file));
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(nullptr));
}

TEST_F(FilesPaneTest, ArrangeBySizeLeavesFoldersFirstAndSurvivesARelisting) {
    openSampleDrive();
    pane()->arrangeBySize();
    const QStringList bySize{"Alpha", "Report.pages", "beta", "a.txt", "b.txt", "C.txt"};
    EXPECT_EQ(names(pane()->documents()), bySize);
    pane()->listDocuments();
    ASSERT_TRUE(waitForListing(window));
    // Still by size: the folders (size 0) in the order the drive gave them.
    const QStringList relisted = names(pane()->documents());
    EXPECT_EQ(relisted.mid(3), bySize.mid(3));
    EXPECT_EQ(QSet<QString>(relisted.begin(), relisted.begin() + 3),
              (QSet<QString>{"Alpha", "Report.pages", "beta"}));
    pane()->arrangeByName();
    EXPECT_EQ(names(pane()->documents()),
              (QStringList{"Alpha", "C.txt", "Report.pages", "a.txt", "b.txt", "beta"}));
}

TEST_F(FilesPaneTest, ClickingAColumnHeaderSortsByItAndAgainReverses) {
    openSampleDrive();
    pane()->tableView()->horizontalHeader()->sectionClicked(QNMacFilesViewController::SizeColumn);
    EXPECT_EQ(pane()->sortDescriptors().first(), (QNDocumentSortDescriptor{QStringLiteral("size"), true}));
    EXPECT_EQ(names(pane()->documents()).last(), QStringLiteral("C.txt"));
    pane()->tableView()->horizontalHeader()->sectionClicked(QNMacFilesViewController::SizeColumn);
    EXPECT_EQ(pane()->sortDescriptors().first(), (QNDocumentSortDescriptor{QStringLiteral("size"), false}));
    EXPECT_EQ(names(pane()->documents()).first(), QStringLiteral("C.txt"));
}

TEST_F(FilesPaneTest, TheHiddenViewReportsNothing) {
    openSampleDrive();
    EXPECT_EQ(pane()->numberOfRowsInTableView(), 6);
    EXPECT_EQ(pane()->numberOfItemsInImageBrowser(), 0);
    pane()->changeView(true);
    EXPECT_EQ(pane()->numberOfRowsInTableView(), 0);
    EXPECT_EQ(pane()->numberOfItemsInImageBrowser(), 6);
    EXPECT_EQ(pane()->imageBrowserView()->model()->rowCount(), 6);
    EXPECT_EQ(pane()->tableView()->model()->rowCount(), 0);
    EXPECT_EQ(pane()->imageBrowserItemAtIndex(0).title(), QStringLiteral("Alpha"));
}

TEST_F(FilesPaneTest, DoubleClickingAFolderOpensItInANewPane) {
    openSampleDrive();
    writeFile(root + QStringLiteral("/beta/inner.txt"), 5);
    pane()->doubleClickAction(2);  // "beta"
    ASSERT_TRUE(waitForListing(window));
    ASSERT_EQ(window->filesViewControllers().size(), 2);
    EXPECT_EQ(names(pane()->documents()), QStringList{"inner.txt"});
    EXPECT_EQ(pane()->document()->path(), root + QStringLiteral("/beta"));
}

TEST_F(FilesPaneTest, DoubleClickingOutsideTheListOrOnAPackageOpensNoPane) {
    openSampleDrive();
    pane()->doubleClickAction(-1);
    pane()->doubleClickAction(6);
    pane()->doubleClickAction(1);  // "Report.pages": opened like a file
    VNTest::spin(30);
    EXPECT_EQ(window->filesViewControllers().size(), 1);
}

TEST_F(FilesPaneTest, AListingErrorShowsTheErrorSheetAndKeepsTheList) {
    openSampleDrive();
    const QStringList before = names(pane()->documents());
    QDir(root).removeRecursively();
    pane()->listDocuments();
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }));
    const auto alert = QNDialogService::shared().pendingAlerts().first();
    EXPECT_TRUE(alert.alert.messageText.contains(QStringLiteral("does not exist"))) << alert.alert.messageText.toStdString();
    EXPECT_EQ(alert.window, window->window());
    EXPECT_EQ(names(pane()->documents()), before);
    EXPECT_FALSE(window->progressIndicator()->isVisible());
}

TEST_F(FilesPaneTest, ASecondListingAbandonsTheFirstWithoutAnAlert) {
    openSampleDrive();
    pane()->listDocuments();
    VNOperationQueue *first = pane()->listDocumentsOperationQueue();
    pane()->listDocuments();
    EXPECT_NE(pane()->listDocumentsOperationQueue(), first);
    EXPECT_TRUE(pane()->isListing());
    EXPECT_TRUE(window->progressIndicator()->isVisibleTo(window->window()));
    ASSERT_TRUE(waitForListing(window));
    VNTest::spin(50);
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    EXPECT_FALSE(window->progressIndicator()->isVisibleTo(window->window()));
    EXPECT_EQ(pane()->documents().size(), 6);
}

TEST_F(FilesPaneTest, TheListIsOnlyReplacedOnTheMainThread) {
    openSampleDrive();
    writeFile(root + QStringLiteral("/new.txt"), 4);
    const QNDocumentList before = pane()->documents();
    pane()->listDocuments();
    // The local drive lists on a worker thread. Without a turn of the main
    // loop the pane must still show the old list, however long we wait.
    QThread::msleep(300);
    EXPECT_EQ(pane()->documents(), before);
    ASSERT_TRUE(waitForListing(window));
    EXPECT_EQ(pane()->documents().size(), 7);
}

TEST_F(FilesPaneTest, PoppingAPaneWhileItListsStopsTheProgressIndicator) {
    openSampleDrive();
    pane()->listDocuments();
    window->back();
    VNTest::spin(100);
    EXPECT_FALSE(window->progressIndicator()->isVisibleTo(window->window()));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(FilesPaneTest, APaneHasATemporaryFolderThatGoesWhenItIsPopped) {
    openSampleDrive();
    const QString tempPath = pane()->tempPath();
    EXPECT_TRUE(QFileInfo(tempPath).isDir());
    EXPECT_TRUE(pane()->thumbTempPath().startsWith(tempPath + QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(pane()->thumbTempPath()).isDir());
    EXPECT_TRUE(QFileInfo(pane()->previewTempPath()).isDir());
    window->back();
    EXPECT_FALSE(QFileInfo::exists(tempPath));
}

TEST_F(FilesPaneTest, ListScreenshot) {
    openSampleDrive();
    window->window()->show();
    VNTest::spin(50);
    EXPECT_TRUE(saveShot(window->window(), QStringLiteral("pane-list.png")));
}

TEST_F(FilesPaneTest, ThumbnailScreenshot) {
    openSampleDrive();
    window->thumbnailsButton()->click();
    EXPECT_TRUE(pane()->showThumbnails());
    window->window()->show();
    VNTest::spin(50);
    EXPECT_TRUE(saveShot(window->window(), QStringLiteral("pane-thumbs.png")));
}
