#pragma once

#include "Core/QNCloudInterface.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QColor>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QWidget;
class QNAuthWindowController;
class QNDriveConfigWindowController;
class QNMacTableView;
class QNMainWindowController;

// The add-drive sheet: the twelve kinds of drive a user can add. Choosing
// one signs in on the provider's web page (the login sheet the handler
// makes) or asks for the server and account in the drive-settings form and
// logs in with them. A drive whose login succeeds is appended to the stored
// drives and every main window reloads its list; the sheet closes then.
// Failures are shown and leave the sheet open, so the user can choose again.
class QNAddDriveWindowController : public QObject {
    Q_OBJECT
public:
    explicit QNAddDriveWindowController(QObject *parent = nullptr);
    ~QNAddDriveWindowController() override;

    // The twelve templates, in list order (each a new drive with name,
    // description, image and one kind flag).
    static QNDriveConfigList makeTemplates();
    QNDriveConfigList drives() const { return m_drives; }

    // The chosen template (it becomes the new drive), its handler, and the
    // sheet or form on show for it.
    QNDriveConfigPtr driveConfig() const { return m_driveConfig; }
    QNCloudInterfacePtr cloudInterface() const { return m_cloudInterface; }
    std::shared_ptr<QNAuthWindowController> authWindowController() const { return m_authWindowController; }
    QNDriveConfigWindowController *driveConfigWindowController() const { return m_driveConfigWindowController; }
    // Replace the stored drive at driveIndex instead of appending.
    bool editing() const { return m_editing; }
    void setEditing(bool editing) { m_editing = editing; }
    qint32 driveIndex() const { return m_driveIndex; }
    void setDriveIndex(qint32 index) { m_driveIndex = index; }
    // The main window the sheet is on (its list reloads when no application
    // delegate is there to reload every window).
    void setMainWindowController(QNMainWindowController *controller);

    // The sheet, built on first request.
    QWidget *window();
    QNMacTableView *tableView();
    QPushButton *cancelButton() const { return m_cancelButton; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }

    // What row r shows.
    struct RowContent {
        QString title;
        QString subTitle;
        QColor subTitleColor;
        QString iconName;
    };
    int numberOfRows() const { return int(m_drives.size()); }
    RowContent rowContent(int row) const;
    static QColor subtitleColor();

    // Begins this sheet on the window.
    void beginSheet(QWidget *onWindow);
    // Choosing row r starts its login; nothing stays selected.
    void tableViewSelectionDidChange(int row);
    // The settings form ended (1 OK: log in with its values, 0 Cancel).
    void sheetDidEnd(int returnCode);
    // Appends (or, editing, replaces) the chosen drive in the stored list,
    // closes the sheet and reloads the main windows. A stored list that
    // cannot be read is never overwritten: the user is told and nothing is
    // saved. Answers whether the drive was saved.
    bool saveDriveConfig();
    // Ends the sheet (a login still running is cancelled).
    void closePanel();
    bool isClosed() const { return m_closed; }

    // "Add Drive" on a main window: the presenter the main window calls.
    static void install();

    // The error of a kind that has no handler in this build.
    static VNErrorPtr notSupportedError(const QNDriveConfigPtr &drive);

protected:
    // Clicks on the list just after the sheet came up are not the user's choice.
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void driveSaved(QNDriveConfigPtr drive);
    void closed();

private:
    void buildWindow();
    void startOAuthLogin(const QNCloudInterfacePtr &handler);
    void oAuthLoginDidEnd(const QNCloudInterfacePtr &handler, bool ok, VNErrorPtr error, bool cancelled);
    void loginDidEnd(const QNCloudInterfacePtr &handler, bool ok, VNErrorPtr error, bool cancelled);
    void replaceHandler(QNCloudInterfacePtr handler);
    void setBusy(bool busy);
    void reloadMainWindows();

    QNDriveConfigList m_drives;
    QNDriveConfigPtr m_driveConfig;
    QNCloudInterfacePtr m_cloudInterface;
    std::shared_ptr<QNAuthWindowController> m_authWindowController;
    QPointer<QNDriveConfigWindowController> m_driveConfigWindowController;
    QPointer<QNMainWindowController> m_mainWindowController;
    bool m_editing = false;
    qint32 m_driveIndex = 0;
    bool m_closed = false;
    // Since the sheet came up, and whether the release of an ignored press is still to come.
    QElapsedTimer m_shownTimer;
    bool m_ignoringClick = false;

    // The sheet is re-parented onto the window it is shown on, which may
    // delete it first.
    QPointer<QWidget> m_window;
    QPointer<QNMacTableView> m_tableView;
    // What the filter compares with: the viewport is destroyed inside the
    // table view's destructor, when m_tableView no longer holds a table view.
    QPointer<QObject> m_tableViewport;
    QStandardItemModel *m_model = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
};
