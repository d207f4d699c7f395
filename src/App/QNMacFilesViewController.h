#pragma once

#include "App/QNAlert.h"
#include "App/QNDesktopApplications.h"
#include "App/QNDocumentSortDescriptor.h"
#include "App/QNImageObject.h"
#include "App/QNMainWindowController.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNTask.h"
#include "Core/QNThumbnailOperation.h"
#include "Platform/VNError.h"
#include "Platform/VNOperationQueue.h"

#include <QCache>
#include <QHash>
#include <QSet>
#include <QImage>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <unordered_map>

class QDropEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QNDragCopyOut;
class QNDragMimeData;
class QNFilesTableModel;
class QNImageBrowserView;
class QNMacTableView;
class QStackedWidget;
class QTimer;
class QWidget;

// A file pane: one folder of one drive, shown as a table (name, date, size)
// or as a thumbnail browser, with a count of its folders and files below.
// The main window makes one pane per folder level, sets its window
// controller, drive and folder, chooses the view and asks it to list.
//
// Each listing runs on a queue of its own; a new listing cancels the one
// before, whose answer is then ignored. The list of documents is only ever
// replaced on the main thread.
class QNMacFilesViewController : public QObject {
    Q_OBJECT
public:
    explicit QNMacFilesViewController(QObject *parent = nullptr);
    ~QNMacFilesViewController() override;

    // The pane's view (made with the pane; whoever shows it may reparent it).
    QWidget *view() const { return m_view.data(); }

    QNMainWindowController *mainWindowController() const { return m_mainWindowController.data(); }
    void setMainWindowController(QNMainWindowController *controller) { m_mainWindowController = controller; }
    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    void setDriveConfig(QNDriveConfigPtr drive) { m_driveConfig = std::move(drive); }
    QNDocumentPtr document() const { return m_document; }
    void setDocument(QNDocumentPtr folder) { m_document = std::move(folder); }
    QString searchKeyword() const { return m_searchKeyword; }
    void setSearchKeyword(const QString &keyword) { m_searchKeyword = keyword; }

    // The listed entries in display order (main thread).
    QNDocumentList documents() const { return m_documents; }
    bool showThumbnails() const { return m_showThumbnails; }
    bool isInitialized() const { return m_initialized; }

    // ---- Temporary folders ----
    QString tempPath() const { return m_tempPath; }
    QString thumbTempPath() const { return m_thumbTempPath; }
    QString previewTempPath() const { return m_previewTempPath; }
    // Removes the whole temporary folder (the main window does, on pop).
    void clearTempPath();
    void clearThumbTempPath();
    void clearPreviewTempPath();

    // ---- Listing and views ----
    // Lists the folder anew, abandoning a listing under way.
    void listDocuments();
    // Cancels the listing under way (its answer is ignored) and stops the
    // window's progress indicator if that listing had started it.
    void cancelListing();
    bool isListing() const { return m_listingRunning; }
    VNOperationQueue *listDocumentsOperationQueue() const { return m_listDocumentsOperationQueue.get(); }
    void changeView(bool thumbnails);
    void updateCounts();
    static bool showAsFolder(const QNDocumentPtr &document);

    void arrangeByName();
    void arrangeByDate();
    void arrangeBySize();
    // The table's sort descriptors (empty until the first listing).
    QList<QNDocumentSortDescriptor> sortDescriptors() const { return m_sortDescriptors; }
    // The user clicked a column header: that column's key goes first
    // (reversed when it already was first).
    void sortByColumn(int column);
    void tableViewSortDescriptorsDidChange();

    // ---- Table ----
    enum Column { NameColumn = 0, DateColumn = 1, SizeColumn = 2 };
    static QString identifierForColumn(int column);  // "nameCell", "dateCell", "sizeCell"
    int numberOfRowsInTableView() const;
    // The text a cell of the table shows ("" for none).
    QString tableViewText(const QString &identifier, int row) const;
    // A date as the date column shows it: the locale's medium date and time.
    static QString mediumDateTimeText(const QDateTime &date, const QLocale &locale = QLocale());
    // Whether names may be edited in place: the drive renames in this folder.
    bool isNameEditable() const;
    QNMacTableView *tableView() const { return m_tableView; }
    QNImageBrowserView *imageBrowserView() const { return m_imageBrowserView; }
    QWidget *tableViewScrollView() const;
    QWidget *imageBrowserScrollView() const;
    QLabel *foldersLabel() const { return m_foldersLabel; }
    QLabel *filesLabel() const { return m_filesLabel; }

    // ---- Thumbnail browser ----
    int numberOfItemsInImageBrowser() const;
    // The item of the entry at the index; starts its thumbnail's fetch when
    // it is visible and has none yet.
    QNImageObject imageBrowserItemAtIndex(int index);
    // An album cover with the folder badge over it (null when it won't load).
    QImage imageBrowserImageForFolder(const QString &path) const;
    // Reloads the browser half a second after the last call, keeping the
    // selection.
    void startLoadImageBrowserTimer();
    void reloadImageBrowser();
    // The browser's visible area moved: fetches under way are cancelled and
    // forgotten, and the reload fetches what is visible now.
    void scrollBoundsDidChange();
    // Where the entry's thumbnail is kept (a hash of drive and path).
    QString thumbnailPathFor(const QNDocumentPtr &document) const;
    // Thumbnails being fetched (or fetched since the last scroll), by path.
    int thumbnailDownloadCount() const { return int(m_thumbDownloads.size()); }
    // Bytes of the decoded thumbnails kept.
    qint64 thumbnailPictureBytes() const { return qint64(m_thumbPictures.totalCost()) * 1024; }
    QList<int> visibleItemIndexes() const;

    // ---- Preview (QNMacFilesViewPreview.cpp) ----
    // The item for the preview panel: the selected entry's local copy, a
    // placeholder while it is copied, or an empty URL for no selection.
    QUrl previewPanelItem();
    // Why the selected entry has no preview (its copy failed, or left it
    // out), or an empty string; asked again after the next listing.
    QString previewPanelFailure() const;
    // Where on the screen the previewed entry is: the selected row of the
    // list, the last selected cell of the thumbnails; null without a
    // selection or a window.
    QRect previewPanelSourceFrame() const;
    // The row the preview is of (-1 for none).
    int previewRow() const;
    // Stops the preview copy under way (its row is asked again next time).
    void cancelPreviewTask();
    QNTaskPtr previewTask() const { return m_previewTask; }

    // ---- Opening ----
    void doubleClickAction(int index);
    // How a file (not a folder) is opened in its application; until one is
    // set, a double-clicked file is only logged.
    using DocumentOpener = std::function<void(QNMacFilesViewController *, const QNDocumentPtr &)>;
    static void setDocumentOpener(DocumentOpener opener);

    // The error sheet on the main window (always from the main queue).
    void showErrorSheet(const VNErrorPtr &error);
    // The alert of the error sheet; a connection failure names the drive and its address.
    static QNAlert errorAlert(const VNErrorPtr &error, const QNDriveConfigPtr &drive);
    // The end report of a copy or move that left items out
    // (QNTask::endNotes()): how many items the notes say were left out (a
    // folder's count of entries, one entry or one named item; none for what
    // a drive was left holding, a temporary file or a check folder), the
    // first few notes in its text and all of them (to a bound) behind the
    // details button. A move's report says that what was left out stays
    // where it was only where that is true of every note.
    static QNAlert leftOutAlert(const QList<QNTask::EndNote> &notes, bool move);
    // An open whose copy left the document out (QNTaskItem::isLeftOut()):
    // not opened, and why.
    static QNAlert leftOutOpenAlert(const QNDocumentPtr &document, const VNErrorPtr &error);

    // ---- Commands (QNMacFilesViewCommands.cpp) ----
    enum CommandTag {
        OpenWithTag = 5000,
        RenameTag = 5001,
        DeleteTag = 5002,
        NewFolderTag = 5050,
        ShareLinkTag = 5060,
        DownloadToTag = 5070  // ours: the selection copied to a local folder
    };
    struct MenuItemState {
        bool enabled = true;
        QString title;  // null: the entry keeps its own
    };
    // A command's state for the number of entries selected and what the drive
    // does in this folder (asked of the folder, not of the entries).
    static MenuItemState menuItemState(int tag, int selectedCount, bool canRename, bool canCreateFolder, bool canLink);
    // The selected rows of the view on show, ascending.
    QList<int> selectedIndexes() const;
    // The document menu for rows, the background menu for none; validated.
    QMenu *menuForRows(const QList<int> &rows);
    // The thumbnail browser's right clicks: on its background the background
    // menu, on a cell (selected by then) the document menu; validated.
    QMenu *imageBrowserBackgroundWasRightClicked();
    QMenu *imageBrowserCellWasRightClickedAtIndex(int index);
    QMenu *documentMenu() const { return m_documentMenu; }
    QMenu *backgroundMenu() const { return m_backgroundMenu; }
    void validateMenu(QMenu *menu);
    // Rename by sheet: the entry selected now is renamed when OK is pressed.
    void renameDocument();
    void renameAlertDidEnd(int returnCode, const QNDocumentPtr &document, const QString &name);
    QLineEdit *renameInput() const { return m_renameInput.data(); }
    // Rename in place (the name cell): an unchanged or empty name does nothing.
    bool renameInPlace(int row, const QString &name);
    void deleteDocument();
    void shareLink();
    void newFolder();
    // Opens a file in its application: copied into a fresh private folder by
    // a task, remembered for the save-back check, then started.
    // How a local copy is handed to its application: true once started;
    // false with *why left empty where no application takes the file, else
    // with *why saying why it did not start.
    using FileLauncher = std::function<bool(const QString &path, QString *why)>;
    // Which command opens: Open (double click) shows a failed copy in a
    // sheet, Open With in an application-modal alert.
    enum class OpenCommand { Open, OpenWith };
    // The launcher given, else the default one (the desktop's default application).
    void openDocument(const QNDocumentPtr &document, FileLauncher launcher = {},
                      OpenCommand command = OpenCommand::Open);
    // The Open With submenu, rebuilt from the desktop's records: the default
    // application, the others, "Choose…".
    void rebuildOpenWithMenu(QMenu *submenu, const QNDocumentPtr &document);
    // The default launcher (replaceable for tests).
    static void setFileLauncher(FileLauncher launcher);
    // The user picks an application (a .desktop file or a program) for open.
    void chooseApplication(const std::function<void(const QNDesktopApplications::Application &)> &open);
    // Where the user picks it: the path of the file picked, or empty for
    // none (replaceable for tests, where nobody answers a file dialog; null
    // puts the file dialog back).
    using ApplicationChooser = std::function<QString(QWidget *parent)>;
    static void setApplicationChooser(ApplicationChooser chooser);
    // No application took the local copy: say so, and offer Open With.
    void noApplicationOpens(const QString &localPath);
    // The application did not start with the local copy named name: said,
    // as the command's other failures are.
    void notLaunched(const QString &name, const QString &why, OpenCommand command);

    // ---- Drag and drop (QNMacFilesViewDragDrop.cpp) ----
    // The type that carries a drag of a pane's entries (the entries
    // themselves are on the application delegate).
    static QString documentsMimeType();
    // A drag of these rows begins: the delegate's drag state, the drag's data.
    // fromBrowser: the thumbnail browser's drag (its own log when a target
    // outside asks for the files).
    QMimeData *writeDrag(const QList<int> &rows, bool fromBrowser = false);
    // A drag of this pane's entries has ended with this final action (from
    // the table or the browser): the after-drop step, then the clean-up.
    void draggingSessionEnded(Qt::DropAction action, bool fromBrowser);
    // The drag of this pane's entries has ended, wherever it went.
    void dragEnded();
    // The operation bits a drop offers: what the source allows, only the
    // copy while the copy key (Ctrl) is held.
    static int sourceOperationMask(const QDropEvent *drop);
    // What the thumbnail browser answers a drag entering it: a copy, else a
    // move, for files of other applications; none for anything else.
    static int enteringOperation(const QMimeData *data, int sourceMask);
    // The image a drag of several entries shows: the browser's own image
    // with the caption "N items being dragged" above it (one entry: the
    // image unchanged); the hot spot moves down with the image.
    static QPixmap draggingImageForRows(const QPixmap &image, int rowCount, QPoint *hotSpot);
    static QString draggingCaption(int rowCount);
    // Starts copying a remote drag's entries to a fresh local folder (a
    // target outside the application asked for them).
    std::shared_ptr<QNDragCopyOut> copyOutForDrag(const QNDocumentList &documents);
    // The process and pane a drag of entries names, and whether that
    // process is this one.
    static QByteArray dragSourceTag(const QNMacFilesViewController *pane);
    static bool isDragOfThisProcess(const QMimeData *data);
    // The final operation of a drag out (our operation bits): a delete (32)
    // removes the dragged entries, after the remove question.
    void handleDocumentsAfterDrop(int operation);
    // The "Remove files?" question, then the step when the answer is Yes
    // (at once when the question was turned off with its box).
    void askRemoveFiles(const std::function<void()> &step);
    // A key pressed in either view: Enter opens, Backspace and Alt+Left go
    // back, Alt+Up to the enclosing folder, F5 and Ctrl+R relist, Delete
    // removes the selection after the question. False for other keys.
    bool keyPressed(const QKeyEvent *event);
    // The Delete key: the selection removed after the "Remove files?" question.
    void removeSelection();
    // Removes the entries from this pane's drive by one task, then relists.
    void removeDocuments(const QNDocumentList &documents);
    // A drop on the pane: another pane's entries or other applications'
    // files go into this folder; moveAsked when the user did not hold the
    // copy key. False when refused (nothing to drop, or the drag's own pane).
    bool dropWithMimeData(const QMimeData *data, bool moveAsked);
    // The same with the drop's operation bits (a move is asked when they
    // hold the move bit).
    bool dropWithOperationMask(const QMimeData *data, int sourceMask);
    // "Download to…": the selection copied by a task into a local folder the
    // user picks (replaceable chooser for tests; an empty answer cancels).
    void downloadTo();
    using FolderChooser = std::function<QString(QWidget *parent)>;
    static void setFolderChooser(FolderChooser chooser);

    // Pieces of the commands, for tests.
    static QString shareLinksHtml(const QNDocumentList &documents);
    static QString shareLinksText(const QNDocumentList &documents);
    static QString shareLinksMessage(int count);
    // Why a name cannot be given to an entry ("" when it can).
    static QString unusableNameReason(const QString &name);
    // A remote name made safe as one local file name.
    static QString localFileName(const QString &remoteName);

private:
    struct ListingContext;
    void awakeFromNib();
    void buildView();
    void listingDidComplete(quint64 generation, QNDocumentList documents, VNErrorPtr error, bool cancelled);
    void setProgressIndicatorRunning(bool running);
    void reloadVisibleView();
    void arrangeBy(const QString &key);
    void resortKeepingSelection();
    static void replaceFolder(QString &path, const QString &base, const QString &logText);

    QPointer<QNMainWindowController> m_mainWindowController;
    QNDriveConfigPtr m_driveConfig;
    QNDocumentPtr m_document;
    QNDocumentList m_documents;
    QString m_searchKeyword;
    bool m_showThumbnails = false;
    bool m_initialized = false;
    QList<QNDocumentSortDescriptor> m_sortDescriptors;

    std::shared_ptr<VNOperationQueue> m_listDocumentsOperationQueue;
    std::shared_ptr<ListingContext> m_listing;  // the listing under way, if any
    quint64 m_listingGeneration = 0;
    bool m_listingRunning = false;

    QString m_tempPath;
    QString m_thumbTempPath;
    QString m_previewTempPath;
    std::unique_ptr<VNOperationQueue> m_thumbOperationQueue;
    std::unique_ptr<VNOperationQueue> m_renameOperationQueue;

    void buildMenus();
    void setUpDragAndDrop();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void copyOrMove(const QNDriveConfigPtr &sourceDrive, const QNDocumentList &documents, bool move,
                    QPointer<QNMacFilesViewController> sourcePane);
    void startCopyOrMove(const QNDriveConfigPtr &sourceDrive, const QNDocumentList &documents, bool move,
                         QPointer<QNMacFilesViewController> sourcePane);
    void startDownloadTo(const QNDocumentList &documents, const QNDriveConfigPtr &localDrive,
                         const QNDocumentPtr &destination);
    // Hands the task to the task manager; what it leaves out is reported at
    // its end (reportLeftOutAtEnd()), unless its caller says it itself.
    void runTask(const QNTaskPtr &task, bool reportLeftOut = true);
    // Once the task has ended, however it ended, a sheet names everything
    // its items left out, when they left anything out.
    void reportLeftOutAtEnd(const QNTaskPtr &task);
    void renameTo(const QNDocumentPtr &document, const QString &name, const QString &logText);
    int m_browserDropMask = 0;  // operation bits of the drag last over the browser
    QPointer<QNDragMimeData> m_dragData;  // the data of this pane's last drag
    QMenu *m_documentMenu = nullptr;
    QMenu *m_backgroundMenu = nullptr;
    QPointer<QLineEdit> m_renameInput;

    QPointer<QWidget> m_view;
    QStackedWidget *m_viewStack = nullptr;
    QNMacTableView *m_tableView = nullptr;
    QNFilesTableModel *m_tableModel = nullptr;
    QNImageBrowserView *m_imageBrowserView = nullptr;
    QLabel *m_foldersLabel = nullptr;
    QLabel *m_filesLabel = nullptr;
    // ---- Thumbnails (QNMacFilesViewThumbnails.cpp; main thread only) ----
    void setUpThumbnails();
    void resetThumbnails();
    void thumbnailFetched(quint64 generation, const QString &path, const QString &part, const QByteArray &data,
                          const VNErrorPtr &error, const QImage &picture);
    void keepThumbnailPicture(const QString &path, const QImage &picture);
    void decodeThumbnail(const QString &path, bool pdf);
    void dropFarThumbnailPictures();
    // Decoded thumbnails by their file, bounded by bytes (cost in KiB).
    QCache<QString, QImage> m_thumbPictures{64 * 1024};
    QSet<QString> m_thumbDecoding;  // files being decoded off the main thread
    QImage folderIconImage() const;
    QImage iconImageForName(const QString &name) const;
    QHash<QString, QNDocumentPtr> m_thumbDownloads;
    QHash<QString, QImage> m_albumPictures;
    quint64 m_thumbGeneration = 0;  // bumped by every scroll and listing
    QTimer *m_timer = nullptr;
    void setUpPreview();
    // The preview items by entry (a re-sort keeps them with their files).
    std::unordered_map<QNDocumentPtr, QUrl> m_previewCache;
    std::unordered_map<QNDocumentPtr, QString> m_previewFailures;  // why, by entry
    QNTaskPtr m_previewTask;
    QNDocumentPtr m_previewDocument;  // the entry the running copy is for
    mutable QImage m_folderPicture;  // the folder icon at the browser's size
    mutable QHash<QString, QImage> m_iconPictures;  // file icons by type and size
};
