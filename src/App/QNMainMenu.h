#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QMenuBar;
class QNMacFilesViewController;
class QNMainWindowController;

// The menu bar of a main window, in the desktop's usual shape: File, Edit,
// View, Window and Help. It holds the application's commands (new window,
// add drive, reload drives, quit, the Quick Look panel) and the commands of
// the window's front pane, enabled as the pane enables them and showing the
// keys that reach them. Entries are validated each time a menu opens and
// when the window's panes change.
class QNMainMenu : public QObject {
    Q_OBJECT
public:
    enum Command {
        NewWindow, AddDrive, ReloadDrives, NewFolder, Open, OpenWith, CloseWindow, Quit,
        Rename, Remove, ShareLink, DownloadTo,
        AsList, AsThumbnails, QuickLook, ArrangeByName, ArrangeByDate, ArrangeBySize, Reload,
        Minimize, Zoom, Tasks, About
    };

    explicit QNMainMenu(QNMainWindowController *controller);

    QMenuBar *menuBar() const { return m_menuBar; }
    QAction *action(Command command) const { return m_actions.value(command); }
    // The entries' state for what the window shows and selects now.
    void validate();

private:
    QAction *add(QMenu *menu, Command command, const QString &title, const QString &keys = {});
    void perform(Command command);
    QNMacFilesViewController *pane() const;
    void showAs(bool thumbnails);

    QPointer<QNMainWindowController> m_controller;
    QMenuBar *m_menuBar = nullptr;
    QMenu *m_openWithMenu = nullptr;
    QHash<int, QAction *> m_actions;
};
