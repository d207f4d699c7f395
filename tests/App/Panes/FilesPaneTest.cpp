// The file pane on stored local-folder drives: listing order, count labels,
// sorting, the two views, opening folders, errors and abandoned listings.
#include "PanesTestSupport.h"

#include "App/QNDocumentSortDescriptor.h"
#include "App/QNFilesTableModel.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

#include <QDeadlineTimer>
#include <QHeaderView>
#include <QMimeDatabase>
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
        for (const char *f : {"sample/beta", "sample/Alpha", "sample/Report.pages"})
            folder(QString::fromUtf8(f));
        writeFile(root + QStringLiteral("/b.txt"), 2);
        writeFile(root + QStringLiteral("/a.txt"), 1);
        writeFile(root + QStringLiteral("/C.txt"), 3);
        window = openDrive(localDrive(QStringLiteral("SAMPLE"), root));
        ASSERT_NE(window, nullptr);
    }

    QNMacFilesViewController *pane() const { return window->filesViewController(); }
};

}  // namespace

TEST_F(FilesPaneTest, FoldersComeFirstThenFilesEachByNameWithExactCounts) {
    openSampleDrive();
    // Packages are folders: they sort with them.
    EXPECT_EQ(names(pane()->documents()), (QStringList{"Alpha", "Report.pages", "beta", "C.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(pane()->tableView()->model()->rowCount(), 6);
    EXPECT_EQ(pane()->tableView()->model()->index(3, 0).data().toString(), QStringLiteral("C.txt"));
    EXPECT_EQ(pane()->foldersLabel()->text(), QStringLiteral("3 Folders"));
    EXPECT_EQ(pane()->filesLabel()->text(), QStringLiteral("%1 in 3 Files").arg(QNUtils::sizeString2(6)));
    // Listed documents carry the pane's drive; folders and packages show no size.
    for (const auto &doc : pane()->documents())
        EXPECT_EQ(doc->driveConfigId(), pane()->driveConfig()->driveConfigId());
    EXPECT_EQ(pane()->tableViewText(QStringLiteral("sizeCell"), 0), QString());
    EXPECT_EQ(pane()->tableViewText(QStringLiteral("sizeCell"), 4), QNUtils::sizeString2(1));
}

TEST_F(FilesPaneTest, TypeIconsNamesEditableWhereTheDriveRenamesAndTheLocalesMediumDates) {
    const QMimeDatabase mime;
    for (const char *name : {"photo.png", "notes.txt", "paper.pdf"}) {
        const QMimeType type = mime.mimeTypeForFile(QString::fromUtf8(name), QMimeDatabase::MatchExtension);
        const QString shown = QNFilesTableModel::iconForFileName(QString::fromUtf8(name)).name();
        EXPECT_TRUE(shown == type.iconName() || shown == type.genericIconName()) << name << " " << shown.toStdString();
    }
    EXPECT_NE(QNFilesTableModel::iconForFileName(QStringLiteral("photo.png")).name(),
              QNFilesTableModel::iconForFileName(QStringLiteral("notes.txt")).name());

    const QDateTime when(QDate(2024, 1, 5), QTime(15, 4, 5));
    EXPECT_EQ(QNMacFilesViewController::mediumDateTimeText(when, QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("Jan 5, 2024 3:04:05 PM"));
    EXPECT_EQ(QNMacFilesViewController::mediumDateTimeText(when, QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("5. Jan. 2024 15:04:05"));

    openSampleDrive();
    const QAbstractItemModel *model = pane()->tableView()->model();
    const auto editable = [&](int column) { return bool(model->flags(model->index(3, column)) & Qt::ItemIsEditable); };
    EXPECT_TRUE(editable(QNMacFilesViewController::NameColumn));
    EXPECT_FALSE(editable(QNMacFilesViewController::DateColumn));
    pane()->driveConfig()->setIsEvernote(true);  // a drive that renames nothing
    EXPECT_FALSE(editable(QNMacFilesViewController::NameColumn));
}

TEST_F(FilesPaneTest, CountLabelsOfOneAndOfNone) {
    root = folder(QStringLiteral("single"));
    folder(QStringLiteral("single/only"));
    writeFile(root + QStringLiteral("/one.bin"), 1000);
    window = openDrive(localDrive(QStringLiteral("SINGLE"), root));
    EXPECT_EQ(pane()->foldersLabel()->text(), QStringLiteral("1 Folder"));
    EXPECT_EQ(pane()->filesLabel()->text(), QStringLiteral("%1 in 1 File").arg(QNUtils::sizeString2(1000)));

    // An empty folder: no folder label, zero files.
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    pane()->listDocuments();
    ASSERT_TRUE(waitForListing(window));
    EXPECT_TRUE(pane()->documents().isEmpty());
    EXPECT_FALSE(pane()->foldersLabel()->isVisibleTo(pane()->view()));
    EXPECT_EQ(pane()->filesLabel()->text(), QStringLiteral("0 Files"));
}

TEST_F(FilesPaneTest, PackagesShowAsFilesButOrdinaryFoldersAsFolders) {
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(QNDocument::withPath(QStringLiteral("/x/Report.pages"), true)));
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(QNDocument::withPath(QStringLiteral("/x/Talk.KEY"), true)));
    EXPECT_TRUE(QNMacFilesViewController::showAsFolder(QNDocument::withPath(QStringLiteral("/x/plain"), true)));
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(QNDocument::withPath(QStringLiteral("/x/a.txt"), false)));
    EXPECT_FALSE(QNMacFilesViewController::showAsFolder(nullptr));
}

TEST_F(FilesPaneTest, SortingBySizeKeepsFoldersFirstSurvivesARelistingAndTheHeaderReverses) {
    openSampleDrive();
    pane()->arrangeBySize();
    const QStringList bySize{"Alpha", "Report.pages", "beta", "a.txt", "b.txt", "C.txt"};
    EXPECT_EQ(names(pane()->documents()), bySize);
    pane()->listDocuments();
    ASSERT_TRUE(waitForListing(window));
    // Still by size: the folders (size 0) in the order the drive gave them.
    const QStringList relisted = names(pane()->documents());
    EXPECT_EQ(relisted.mid(3), bySize.mid(3));
    pane()->arrangeByName();
    EXPECT_EQ(names(pane()->documents()), (QStringList{"Alpha", "C.txt", "Report.pages", "a.txt", "b.txt", "beta"}));

    pane()->tableView()->horizontalHeader()->sectionClicked(QNMacFilesViewController::SizeColumn);
    EXPECT_EQ(pane()->sortDescriptors().first(), (QNDocumentSortDescriptor{QStringLiteral("size"), true}));
    EXPECT_EQ(names(pane()->documents()).last(), QStringLiteral("C.txt"));
    pane()->tableView()->horizontalHeader()->sectionClicked(QNMacFilesViewController::SizeColumn);
    EXPECT_EQ(pane()->sortDescriptors().first(), (QNDocumentSortDescriptor{QStringLiteral("size"), false}));
    EXPECT_EQ(names(pane()->documents()).first(), QStringLiteral("C.txt"));
}

TEST_F(FilesPaneTest, DoubleClickingAFolderOpensItInANewPaneButNotAPackageOrNothing) {
    openSampleDrive();
    pane()->doubleClickAction(-1);
    pane()->doubleClickAction(6);
    pane()->doubleClickAction(1);  // "Report.pages": opened like a file
    VNTest::spin(30);
    EXPECT_EQ(window->filesViewControllers().size(), 1);

    writeFile(root + QStringLiteral("/beta/inner.txt"), 5);
    pane()->doubleClickAction(2);  // "beta"
    ASSERT_TRUE(waitForListing(window));
    ASSERT_EQ(window->filesViewControllers().size(), 2);
    EXPECT_EQ(names(pane()->documents()), QStringList{"inner.txt"});
    EXPECT_EQ(pane()->document()->path(), root + QStringLiteral("/beta"));
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

TEST_F(FilesPaneTest, ASecondListingAbandonsTheFirstQuietlyAndTheListIsReplacedOnTheMainThread) {
    openSampleDrive();
    writeFile(root + QStringLiteral("/new.txt"), 4);
    const QNDocumentList before = pane()->documents();
    pane()->listDocuments();
    VNOperationQueue *first = pane()->listDocumentsOperationQueue();
    pane()->listDocuments();
    EXPECT_NE(pane()->listDocumentsOperationQueue(), first);
    EXPECT_TRUE(window->progressIndicator()->isVisibleTo(window->window()));
    // The local drive lists on a worker thread. Without a turn of the main
    // loop the pane must still show the old list once the worker is done.
    for (QDeadlineTimer deadline(20000); pane()->listDocumentsOperationQueue()->operationCount() > 0 && !deadline.hasExpired();)
        QThread::msleep(1);
    EXPECT_EQ(pane()->documents(), before);
    ASSERT_TRUE(waitForListing(window));
    VNTest::spin(50);
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    EXPECT_FALSE(window->progressIndicator()->isVisibleTo(window->window()));
    EXPECT_EQ(pane()->documents().size(), 7);
}

TEST_F(FilesPaneTest, PoppingAListingPaneStopsTheIndicatorAndRemovesItsTemporaryFolder) {
    openSampleDrive();
    const QString tempPath = pane()->tempPath();
    EXPECT_TRUE(QFileInfo(tempPath).isDir());
    EXPECT_TRUE(pane()->thumbTempPath().startsWith(tempPath + QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(pane()->previewTempPath()).isDir());
    pane()->listDocuments();
    window->back();
    EXPECT_FALSE(QFileInfo::exists(tempPath));
    VNTest::spin(100);
    EXPECT_FALSE(window->progressIndicator()->isVisibleTo(window->window()));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
}

TEST_F(FilesPaneTest, TheHiddenViewReportsNothing) {
    openSampleDrive();
    EXPECT_EQ(pane()->numberOfItemsInImageBrowser(), 0);

    // The hidden view reports nothing.
    window->thumbnailsButton()->click();
    EXPECT_TRUE(pane()->showThumbnails());
    EXPECT_EQ(pane()->numberOfRowsInTableView(), 0);
    EXPECT_EQ(pane()->tableView()->model()->rowCount(), 0);
    EXPECT_EQ(pane()->imageBrowserView()->model()->rowCount(), 6);
    EXPECT_EQ(pane()->imageBrowserItemAtIndex(0).title(), QStringLiteral("Alpha"));
}
