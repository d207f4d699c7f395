#pragma once

#include "App/QNNetService.h"
#include "App/TBWindowDelegate.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNOperationQueue.h"

#include <QHash>
#include <QLineEdit>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

class QLabel;
class QNMacFilesViewController;
class QNMainMenu;
class QNTaskTableViewController;
class QMimeData;
class QProgressBar;
class QScrollArea;
class QSplitter;
class QStackedWidget;
class QToolButton;
class QNDriveTableModel;
class QNMacTableView;
class QNMainTableCellView;
class QNServiceDiscovery;
class TBWindow;

// One main window: "Varnello - Home" with the drive list (stored drives,
// WebDAV servers found on the network, the "Add Drive" row) and, once a
// drive is chosen, the stack of file panes; the task list in a drawer below.
//
// Layout of the window (seams for the file panes and the drive windows):
//   title bar (74): window buttons, back/list/thumbnails/Quick Look/new
//     folder buttons (hidden at home), the title, the spinner, the drawer
//     button;
//   content: the path bar (navbarArea(), 31 high) over contentStack(), whose
//     page 0 is the drive list and where panes are stacked above it; the
//     drawer (drawerView()) under both.
class QNMainWindowController : public QObject, public TBWindowDelegate {
    Q_OBJECT
public:
    static constexpr int TitleBarHeight = 74;
    static constexpr int NavbarHeight = 31;

    explicit QNMainWindowController(QObject *parent = nullptr);
    ~QNMainWindowController() override;

    // The window, made and set up on first request (the controller's set-up
    // runs then).
    TBWindow *window();
    bool isWindowLoaded() const { return m_window != nullptr; }
    void showWindow();

    // A unique id of this window, carried by drags of its rows.
    const QString &windowId() const { return m_windowId; }

    // ---- The drive list ----
    QNDriveConfigList drives() const;
    int numberOfRows() const;
    // Rebuilds the list from the stored drives and the resolved services.
    void reloadDrives();
    void startBonjour();
    void stopBonjour();
    QList<QNNetService> bonjourServices() const { return m_bonjourServices; }
    QList<QNNetService> foundBonjourServices() const { return m_foundBonjourServices; }
    // The drive a resolved service stands for (never stored).
    static QNDriveConfigPtr driveForService(const QNNetService &service);

    // What row r shows (texts and icon name), also for tests.
    struct RowContent {
        QString title;
        QString subTitle;
        QString iconName;
        bool showsButtons = false;
    };
    RowContent rowContent(int row) const;
    QNMainTableCellView *viewForRow(int row);

    // Choosing row r: the "Add Drive" row opens the add-drive sheet; a drive
    // opens in a pane. The selection is cleared afterwards.
    void tableViewSelectionDidChange(int row);

    // Reordering by drag: start (false for the "Add Drive" row), and the drop
    // above row r (false when refused).
    QMimeData *writeRows(const QList<int> &rows) const;
    bool acceptDrop(const QMimeData *data, int row);
    static QString driveDragMimeType();

    // Edit and remove, for the drive of that row (found again by id when
    // the answer comes).
    void editDrive(int row);
    void deleteDrive(int row);
    // Replaces the stored drive that had this id (at about this index).
    bool saveDriveConfig(const QNDriveConfigPtr &drive, const QString &originalId, int storedIndexHint);

    // ---- Seams for the other windows ----
    // Presents the add-drive sheet on this window.
    using AddDrivePresenter = std::function<void(QNMainWindowController *)>;
    static void setAddDrivePresenter(AddDrivePresenter presenter);
    // Presents the drive-settings sheet for the drive; done(returnCode) with
    // 0 for Cancel, 1 for OK (the sheet has edited the drive in place).
    using DriveSettingsPresenter =
        std::function<void(QNMainWindowController *, QNDriveConfigPtr, std::function<void(int)>)>;
    static void setDriveSettingsPresenter(DriveSettingsPresenter presenter);
    // Opens a chosen drive (the pane stack).
    using DriveOpener = std::function<void(QNMainWindowController *, QNDriveConfigPtr)>;
    static void setDriveOpener(DriveOpener opener);

    // The open drive (the pane stack sets it) and a relisting of the top pane.
    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    void setDriveConfig(QNDriveConfigPtr drive) { m_driveConfig = std::move(drive); }
    using Relister = std::function<void()>;
    void setRelister(Relister relister) { m_relister = std::move(relister); }
    void relistCurrentFolder();

    // Quota texts by drive id ("" while asked); a row shows it instead of the
    // drive's caption when not empty.
    QHash<QString, QString> quotaDescriptions() const { return m_quotaDescriptions; }
    void setQuotaDescription(const QString &driveConfigId, const QString &text);
    // Asks the quota of drives that have none (the pane stack fills it in).
    void updateQuotaClean(bool clean);

    // ---- Widgets ----
    QNMacTableView *tableView() const { return m_tableView; }
    QLabel *titleTextField() const { return m_titleTextField; }
    QWidget *titleView() const { return m_titleView; }
    QWidget *navbarArea() const { return m_navbarArea; }
    QStackedWidget *contentStack() const { return m_contentStack; }
    QWidget *drawerView() const { return m_drawer; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QToolButton *backButton() const { return m_backButton; }
    QToolButton *thumbnailsButton() const { return m_thumbnailsButton; }
    QToolButton *listButton() const { return m_listButton; }
    QToolButton *quickLookButton() const { return m_quickLookButton; }
    QToolButton *createFolderButton() const { return m_createFolderButton; }
    QToolButton *toggleDrawerButton() const { return m_toggleDrawerButton; }
    QNMainMenu *mainMenu() const { return m_mainMenu; }

    // Title of the window and of the bar's title text.
    void setTitle(const QString &title);
    bool isDrawerOpen() const;
    void toggleDrawer();

    // TBWindowDelegate
    void windowWillEnterFullScreen(TBWindow *window) override;
    void windowWillExitFullScreen(TBWindow *window) override;

    // ---- Navigation: the pane stack, the path bar, the view switch, new
    // folders and the quota captions (QNMainWindowNavigation.cpp) ----
    // The copy of a drive that a pane works with (its URL cut to scheme, host
    // and port, the rest in initialUrlPath) and the drive's root folder.
    static void determineRoot(const QNDriveConfigPtr &drive, QNDriveConfigPtr *driveCopy, QNDocumentPtr *root);
    // A drive row was chosen: its root folder opens in the first pane.
    void openDrive(const QNDriveConfigPtr &drive);
    // Pushes a pane showing the folder.
    void openFolder(const QNDocumentPtr &folder);
    void back();
    // n > 0 pops n panes, 0 relists the top pane, a negative n does nothing.
    void pop(int count);
    void home();
    void navigateToDrive();
    void navigateToFolder(int tag);
    void updateNavigation();
    QWidget *navbarView() const { return m_navbarView; }
    QScrollArea *navbarScrollView() const { return m_navbarScrollView; }
    void changeView();
    void thumbnails();
    void list();
    void createFolder();
    void createFolderAlertDidEnd(int returnCode, const QString &name);
    QLineEdit *alertInput() const { return m_alertInput.data(); }
    void updateQuotaForDriveConfig(const QNDriveConfigPtr &drive);
    QList<QNMacFilesViewController *> filesViewControllers() const { return m_filesViewControllers; }
    QNMacFilesViewController *filesViewController() const { return m_filesViewController; }
    // The preview panel is served by this window only while a pane is shown.
    bool acceptsPreviewPanelControl() const;
    QNTaskTableViewController *taskTableViewController() const { return m_taskTableViewController; }

signals:
    void drivesReloaded();
    void driveChosen(QNDriveConfigPtr drive);

private:
    void windowDidLoad();
    void buildTitleView();
    void buildContent();
    void reloadTable();
    void updateRowBackgroundStyles();
    int rowOfDrive(const QNDriveConfigPtr &drive, const QString &driveId) const;
    void finishEdit(const QNDriveConfigPtr &drive, const QString &originalId, int storedIndex, int returnCode);
    bool saveWindowDrives(QNDriveConfigList drives);

    void serviceFound(const QNNetService &service);
    void serviceRemoved(const QNNetService &service);
    void serviceResolved(const QNNetService &service);
    void serviceNotResolved(const QNNetService &service);

    QString m_windowId;
    // This list's last drag: the key its data carries, and the id of the
    // drive dragged (kept here: the id carries the password).
    mutable QString m_dragKey;
    mutable QString m_draggedDriveId;
    TBWindow *m_window = nullptr;
    mutable std::recursive_mutex m_mutex;
    QNDriveConfigList m_drives;
    QList<QNNetService> m_bonjourServices;
    QList<QNNetService> m_foundBonjourServices;
    std::unique_ptr<QNServiceDiscovery> m_netServiceBrowser;
    QNCloudInterfacePtr m_cloudInterface;  // the handler logging in an edited drive
    QNDriveConfigPtr m_driveConfig;
    QNDriveConfigPtr m_openedDrive;  // the stored drive m_driveConfig was copied from
    QHash<QString, QString> m_quotaDescriptions;
    Relister m_relister;

    QWidget *m_titleView = nullptr;
    QLabel *m_titleTextField = nullptr;
    QWidget *m_navbarArea = nullptr;
    QStackedWidget *m_contentStack = nullptr;
    QSplitter *m_splitter = nullptr;
    QWidget *m_drawer = nullptr;
    QNMacTableView *m_tableView = nullptr;
    QNDriveTableModel *m_model = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    QToolButton *m_backButton = nullptr;
    QToolButton *m_thumbnailsButton = nullptr;
    QToolButton *m_listButton = nullptr;
    QToolButton *m_quickLookButton = nullptr;
    QToolButton *m_createFolderButton = nullptr;
    QToolButton *m_toggleDrawerButton = nullptr;
    QNMainMenu *m_mainMenu = nullptr;

    // Navigation state (QNMainWindowNavigation.cpp).
    void setUpNavigation();
    QList<QNMacFilesViewController *> m_filesViewControllers;
    QNMacFilesViewController *m_filesViewController = nullptr;  // the top of m_filesViewControllers
    QScrollArea *m_navbarScrollView = nullptr;
    QWidget *m_navbarView = nullptr;  // owned by the scroll view
    QPointer<QLineEdit> m_alertInput;
    QList<QNCloudInterfacePtr> m_cloudInterfaces;
    QNTaskTableViewController *m_taskTableViewController = nullptr;
    std::unique_ptr<VNOperationQueue> m_createFolderQueue;
};
