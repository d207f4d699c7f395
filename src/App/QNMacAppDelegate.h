#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QDateTime>
#include <QHash>
#include <QWidget>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>
#include <memory>

class DXNetworkRequestDelegate;
class DXSessionDelegate;
class QNMacFilesViewController;
class QNMainWindowController;
class QNTaskManager;
class QNSingleInstance;

// The application's one global object: it owns the task manager every
// transfer goes to, the list of main windows, the documents opened in other
// applications (checked for changes each time the application becomes
// active), and the drag-source state the file panes share.
class QNMacAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit QNMacAppDelegate(QObject *parent = nullptr);
    ~QNMacAppDelegate() override;

    // The application's delegate (the one made last), or null.
    static QNMacAppDelegate *shared();

    std::shared_ptr<QNTaskManager> taskManager() const { return m_taskManager; }

    // Drag state shared by the file panes.
    QNDriveConfigPtr draggingFromDriveConfig() const { return m_draggingFromDriveConfig; }
    void setDraggingFromDriveConfig(QNDriveConfigPtr drive) { m_draggingFromDriveConfig = std::move(drive); }
    QNDocumentList draggingDocuments() const { return m_draggingDocuments; }
    void setDraggingDocuments(QNDocumentList documents) { m_draggingDocuments = std::move(documents); }
    QObject *draggingFromViewController() const { return m_draggingFromViewController.data(); }
    void setDraggingFromViewController(QObject *pane) { m_draggingFromViewController = pane; }

    // Local copies opened in other applications. Each entry's path is the
    // copy, its date the copy's modification date when it was opened (or last
    // saved back), and its openedFrom... fields say where it came from.
    QNDocumentList openedDocuments() const { return m_openedDocuments; }
    void addOpenedDocument(const QNDocumentPtr &document);
    // Whether the path is, or holds, an opened copy (of this run, or a
    // changed one an earlier run kept): a pane's clean-up leaves it.
    bool holdsOpenedDocument(const QString &path) const;

    // Main windows, in the order opened; they stay listed after closing.
    QList<QNMainWindowController *> windowControllers() const;

    // Start-up, in order: task manager, shared Dropbox session, window and
    // document lists, the first main window, the temporary-folder clean-up
    // (queued), notifications, preferences page.
    void applicationDidFinishLaunching();
    // Opens one more main window ("Varnello - Home").
    QNMainWindowController *newDocument();
    // The application was asked to come forward: a new window when none is
    // visible. Always answers false (nothing more to do).
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // The save-back check over the opened documents.
    void applicationDidBecomeActive();
    // The answer to one save-back question.
    void saveBackAlertDidEnd(int returnCode, const QNDocumentPtr &document, const QDateTime &modifiedAt);
    // Every main window reloads its drive list (each on its own main-queue turn).
    void reloadDrives();

    // Quick Look panel: shown or hidden; the menu item's title follows it.
    void toggleQuickLookPreview();
    // The panel, when shown, asks the front pane for its item again.
    void reloadQuickLookPanel();
    // The front window's top pane changed (a folder opened, Back): the panel,
    // when shown, takes its item from the pane now on top; the pane it
    // leaves stops its preview copy.
    void updateQuickLookPanelController();
    QNMacFilesViewController *quickLookSource() const;
    QString quickLookMenuTitle() const;
    void setQuickLookPanel(QWidget *panel) { m_quickLookPanel = panel; }
    QWidget *quickLookPanel() const { return m_quickLookPanel.data(); }

    // Our notices are shown even while the application is in front.
    bool shouldPresentNotification() const { return true; }

    void initDropboxSession();

    // Where save-back questions and error sheets go: the active visible main
    // window, else the first visible one; null when no main window is shown.
    QNMainWindowController *frontMainWindowController() const;

    // The temporary-folder clean-up: everything in the application's own
    // temporary folder except what holds an opened copy with unsaved changes,
    // of this run or (through the record below) of an earlier one.
    void cleanTemporaryDirectory();
    // The record of opened copies (path and recorded date) kept in the
    // temporary folder, one per running instance, so a later launch knows
    // which copies hold changes that never went back to their drive.
    static QString openedDocumentsRecordPath();
    void writeOpenedDocumentsRecord() const;

    // Saving back one opened document: the update-file task. Replaceable
    // (tests); done(error, cancelled, saved) runs once when the save-back has
    // ended. saved is the drive document as it stands once the edited copy
    // went up (on a drive that finds items by id the upload is a new item,
    // with an id of its own), else null: the record then keeps what it had.
    using SaveBackDone = std::function<void(VNErrorPtr error, bool cancelled, QNDocumentPtr saved)>;
    using SaveBackStarter = std::function<void(const QNDocumentPtr &document, SaveBackDone done)>;
    void setSaveBackStarter(SaveBackStarter starter) { m_saveBackStarter = std::move(starter); }
    void startSaveBack(const QNDocumentPtr &document, SaveBackDone done);

    // The main-window controllers showing this drive (by drive id).
    QList<QNMainWindowController *> controllersShowingDrive(const QString &driveConfigId) const;

    // The single-instance link: a later launch reaches this instance.
    void attachSingleInstance(QNSingleInstance *instance);
    // A later launch: a new window when no window is shown (reopen), else
    // the front window comes forward.
    void secondLaunch();

    // The application outlives its windows while a task runs (a transfer or
    // a save-back must not be cut short), and ends when no main window is
    // shown and no task is left. How it ends is replaceable (tests); by
    // default the application's event loop is left.
    bool isIdle() const;
    void quitIfIdle();
    void setQuitHandler(std::function<void()> handler) { m_quitHandler = std::move(handler); }
    // The Quit command. With tasks running it asks first ("N tasks are still
    // running", a sheet whose count follows the tasks and which answers
    // itself, quitting, when the last one ends); quitting anyway cancels them
    // and ends the application once each has ended, its clean-up (a part
    // file on a server) included, or when quitTimeoutMs have passed.
    void requestQuit();
    bool isQuitting() const { return m_quitting; }
    static constexpr int quitTimeoutMs = 30000;

signals:
    void mainWindowOpened(QNMainWindowController *controller);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void quitIfIdleLater();
    // The quit question: its answer, and its count kept up with the tasks
    // (at none left it closes and the application ends).
    void quitQuestionDidEnd(int returnCode);
    void updateQuitQuestion();
    // The clean-up proper, while no other instance uses the folder; answers
    // how many changed copies of earlier runs were taken back.
    int cleanTemporaryDirectoryAlone(const QStringList &endedInstances);
    void saveBackFinished(const QNDocumentPtr &document, const QDateTime &savedDate, VNErrorPtr error, bool cancelled,
                          const QNDocumentPtr &saved);

    std::shared_ptr<QNTaskManager> m_taskManager;
    QNDriveConfigPtr m_draggingFromDriveConfig;
    QNDocumentList m_draggingDocuments;
    QPointer<QObject> m_draggingFromViewController;
    QNDocumentList m_openedDocuments;
    // The record's key of the stored drive each opened document came from.
    QHash<const QNDocument *, QString> m_openedDriveKeys;
    QList<QPointer<QNMainWindowController>> m_windowControllers;
    QPointer<QWidget> m_quickLookPanel;
    QPointer<QNMacFilesViewController> m_quickLookSource;  // the pane the panel shows an item of
    SaveBackStarter m_saveBackStarter;
    // Documents with a question on screen or an upload running: not asked again meanwhile.
    QSet<QNDocument *> m_saveBackBusy;
    // Told of the shared Dropbox session's refused tokens and of its
    // requests' network activity (one object for both).
    std::shared_ptr<DXSessionDelegate> m_dropboxSessionDelegate;
    std::shared_ptr<DXNetworkRequestDelegate> m_dropboxNetworkDelegate;
    // Changed copies an earlier run recorded, kept until they are gone or
    // saved; and whether the earlier record has been read (not overwritten before).
    QList<QPair<QString, qint64>> m_earlierChangedCopies;
    bool m_recordRead = false;
    QString m_preferencesPage;
    std::function<void()> m_quitHandler;
    bool m_quitting = false;
    bool m_quitGaveUp = false;  // the tasks did not end in quitTimeoutMs
    bool m_ended = false;
    bool m_quitQuestionUp = false;
    quint64 m_quitQuestion = 0;  // its id while it is a sheet
};
