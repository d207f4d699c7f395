#include "App/QNMainMenu.h"

#include "App/QNDialogService.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNMainWindowController.h"
#include "App/TBWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

QNMainMenu::QNMainMenu(QNMainWindowController *controller) : QObject(controller), m_controller(controller) {
    m_menuBar = new QMenuBar;
    m_menuBar->setObjectName(QStringLiteral("mainMenu"));

    QMenu *file = m_menuBar->addMenu(QStringLiteral("&File"));
    add(file, NewWindow, QStringLiteral("New Window"))->setShortcut(QKeySequence::New);
    add(file, NewFolder, QStringLiteral("New Folder"))->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    add(file, AddDrive, QStringLiteral("Add Drive…"));
    file->addSeparator();
    // Keys the pane reads itself are shown, not bound: a field being edited
    // keeps its Return and Delete.
    add(file, Open, QStringLiteral("Open"), QStringLiteral("Return"));
    m_openWithMenu = new QMenu(QStringLiteral("Open With"), file);
    m_openWithMenu->setObjectName(QStringLiteral("openWithMenu"));
    m_actions.insert(OpenWith, file->addMenu(m_openWithMenu));
    connect(m_openWithMenu, &QMenu::aboutToShow, this, [this] {
        QNMacFilesViewController *p = pane();
        const QList<int> rows = p ? p->selectedIndexes() : QList<int>();
        if (rows.size() == 1)
            p->rebuildOpenWithMenu(m_openWithMenu, p->documents().value(rows.first()));
    });
    add(file, DownloadTo, QStringLiteral("Download to…"));
    file->addSeparator();
    add(file, ReloadDrives, QStringLiteral("Reload Drives"));
    file->addSeparator();
    add(file, CloseWindow, QStringLiteral("Close Window"))->setShortcut(QKeySequence::Close);
    add(file, Quit, QStringLiteral("Quit Varnello"))->setShortcut(QKeySequence::Quit);

    QMenu *edit = m_menuBar->addMenu(QStringLiteral("&Edit"));
    add(edit, Rename, QStringLiteral("Rename…"), QStringLiteral("F2"));
    add(edit, Remove, QStringLiteral("Remove…"), QStringLiteral("Del"));
    edit->addSeparator();
    add(edit, ShareLink, QStringLiteral("Share Link"));

    QMenu *view = m_menuBar->addMenu(QStringLiteral("&View"));
    auto *views = new QActionGroup(this);
    for (QAction *a : {add(view, AsList, QStringLiteral("as List")), add(view, AsThumbnails, QStringLiteral("as Thumbnails"))}) {
        a->setCheckable(true);
        views->addAction(a);
    }
    action(AsList)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    action(AsThumbnails)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    view->addSeparator();
    add(view, QuickLook, QStringLiteral("Open QuickLook panel"), QStringLiteral("Space"));
    view->addSeparator();
    add(view, ArrangeByName, QStringLiteral("Arrange by Name"));
    add(view, ArrangeByDate, QStringLiteral("Arrange by Date"));
    add(view, ArrangeBySize, QStringLiteral("Arrange by Size"));
    view->addSeparator();
    add(view, Reload, QStringLiteral("Reload"), QStringLiteral("F5"));

    QMenu *window = m_menuBar->addMenu(QStringLiteral("&Window"));
    add(window, Minimize, QStringLiteral("Minimize"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    add(window, Zoom, QStringLiteral("Zoom"));
    window->addSeparator();
    add(window, Tasks, QStringLiteral("Tasks"));

    QMenu *help = m_menuBar->addMenu(QStringLiteral("&Help"));
    add(help, About, QStringLiteral("About Varnello"));

    for (QMenu *menu : {file, edit, view, window, help})
        connect(menu, &QMenu::aboutToShow, this, &QNMainMenu::validate);
    validate();
}

QAction *QNMainMenu::add(QMenu *menu, Command command, const QString &title, const QString &keys) {
    // A tab puts the key in the menu's shortcut column without binding it.
    QAction *a = menu->addAction(keys.isEmpty() ? title : title + QLatin1Char('\t') + keys);
    a->setData(int(command));
    connect(a, &QAction::triggered, this, [this, command] { perform(command); });
    m_actions.insert(command, a);
    return a;
}

QNMacFilesViewController *QNMainMenu::pane() const {
    return m_controller ? m_controller->filesViewController() : nullptr;
}

void QNMainMenu::validate() {
    QNMacFilesViewController *p = pane();
    const QNDriveConfigPtr drive = p ? p->driveConfig() : nullptr;
    const QNDocumentPtr folder = p ? p->document() : nullptr;
    const int selected = p ? int(p->selectedIndexes().size()) : 0;
    const bool canRename = drive && drive->supportsRename(folder);
    const bool canCreate = drive && drive->supportsCreateFolder(folder);
    const bool canLink = drive && drive->supportsLinks(folder);
    // The pane's own rules, by the tag of its menu entry.
    const QHash<int, int> tags = {{Open, QNMacFilesViewController::OpenWithTag},
                                  {OpenWith, QNMacFilesViewController::OpenWithTag},
                                  {Rename, QNMacFilesViewController::RenameTag},
                                  {Remove, QNMacFilesViewController::DeleteTag},
                                  {NewFolder, QNMacFilesViewController::NewFolderTag},
                                  {ShareLink, QNMacFilesViewController::ShareLinkTag},
                                  {DownloadTo, QNMacFilesViewController::DownloadToTag}};
    for (auto it = tags.constBegin(); it != tags.constEnd(); ++it) {
        const auto state = QNMacFilesViewController::menuItemState(it.value(), selected, canRename, canCreate, canLink);
        QAction *a = action(Command(it.key()));
        a->setEnabled(p && state.enabled);
        if (!state.title.isNull())
            a->setText(state.title);
    }
    // Open takes the first of several entries, as the context menu does.
    action(Open)->setEnabled(p && selected >= 1);
    for (Command c : {AsList, AsThumbnails, ArrangeByName, ArrangeByDate, ArrangeBySize, Reload})
        action(c)->setEnabled(p != nullptr);
    if (p)
        action(p->showThumbnails() ? AsThumbnails : AsList)->setChecked(true);
    if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
        action(QuickLook)->setText(d->quickLookMenuTitle() + QStringLiteral("\tSpace"));
}

void QNMainMenu::showAs(bool thumbnails) {
    if (!m_controller)
        return;
    m_controller->thumbnailsButton()->setChecked(thumbnails);
    m_controller->listButton()->setChecked(!thumbnails);
    m_controller->changeView();
}

void QNMainMenu::perform(Command command) {
    QNMainWindowController *c = m_controller.data();
    QNMacAppDelegate *d = QNMacAppDelegate::shared();
    if (!c)
        return;
    validate();  // a key may reach an entry the selection has disabled meanwhile
    if (!action(command)->isEnabled())
        return;
    QNMacFilesViewController *p = pane();
    switch (command) {
    case NewWindow:
        if (d)
            d->newDocument();
        break;
    case AddDrive: c->tableViewSelectionDidChange(c->numberOfRows() - 1); break;
    case ReloadDrives:
        if (d)
            d->reloadDrives();
        else
            c->reloadDrives();
        break;
    case NewFolder: c->createFolder(); break;
    case Open:
        if (p)
            p->doubleClickAction(p->selectedIndexes().value(0, -1));
        break;
    case OpenWith: break;  // its submenu
    case DownloadTo: p->downloadTo(); break;
    case CloseWindow: c->window()->close(); break;
    case Quit:
        if (d)
            d->requestQuit();
        else
            QApplication::quit();
        break;
    case Rename: p->renameDocument(); break;
    case Remove: p->removeSelection(); break;
    case ShareLink: p->shareLink(); break;
    case AsList: showAs(false); break;
    case AsThumbnails: showAs(true); break;
    case QuickLook:
        if (d)
            d->toggleQuickLookPreview();
        break;
    case ArrangeByName: p->arrangeByName(); break;
    case ArrangeByDate: p->arrangeByDate(); break;
    case ArrangeBySize: p->arrangeBySize(); break;
    case Reload: p->listDocuments(); break;
    case Minimize: c->window()->performMiniaturize(); break;
    case Zoom: c->window()->performZoom(); break;
    case Tasks: c->toggleDrawer(); break;
    case About: {
        QNAlert about;
        about.messageText = QStringLiteral("Varnello");
        about.informativeText = QStringLiteral("Many storage accounts side by side, as drives.");
        about.buttons = {QStringLiteral("OK")};
        about.style = QNAlert::Informational;
        QNDialogService::shared().beginAlertSheet(about, c->window());
        break;
    }
    }
    validate();
}
