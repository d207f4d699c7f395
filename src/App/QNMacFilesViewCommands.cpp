// The commands of a file pane: its two context menus and what they do (open,
// rename by sheet and in place, delete, share links, new folder). Transfers
// are tasks of the application's task manager; the pane relists its folder
// when they end and shows each failure in the error sheet.

#include "App/QNMacFilesViewController.h"

#include "App/QNAlert.h"
#include "App/QNDesktopApplications.h"
#include "App/QNDialogService.h"
#include "App/QNImageBrowserView.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacTableView.h"
#include "App/QNNotificationCenter.h"
#include "App/TBWindow.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNLinkTask.h"
#include "Core/QNLinkTaskItem.h"
#include "Core/QNRemoveTaskItem.h"
#include "Core/QNRenameOperation.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <functional>
#include <mutex>
#include <optional>

namespace {

bool openInDefaultApplication(const QString &path, QString *why) {
    // The desktop's default application is started here, its Exec line
    // given the path itself. The desktop's opener (xdg-open) passes what it
    // is given through its shell's echo and printf, which turn a backslash
    // and "b" (or "%5C" and "b") into a backspace, and it fails unseen.
    const QNDesktopApplications::Choices choices = QNDesktopApplications::applicationsForFileName(QFileInfo(path).fileName());
    std::optional<QNDesktopApplications::Application> application = choices.defaultApplication;
    if (!application && !choices.others.isEmpty())
        application = choices.others.first();  // the desktop's choice where none is named
    if (!application)
        return false;
    return QNDesktopApplications::launch(*application, path, why);
}

QNMacFilesViewController::FileLauncher &fileLauncher() {
    static QNMacFilesViewController::FileLauncher launcher = openInDefaultApplication;
    return launcher;
}

QString pickApplicationFile(QWidget *parent) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Choose Viewer"),
                                        QStringLiteral("/usr/share/applications"),
                                        QStringLiteral("Applications (*.desktop);;All files (*)"));
}

QNMacFilesViewController::ApplicationChooser &applicationChooser() {
    static QNMacFilesViewController::ApplicationChooser chooser = pickApplicationFile;
    return chooser;
}

QString parentPath(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const int slash = int(p.lastIndexOf(QLatin1Char('/')));
    return slash <= 0 ? QStringLiteral("/") : p.left(slash);
}

QString joined(const QString &folder, const QString &name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString lastComponent(const QString &path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.section(QLatin1Char('/'), -1);
}

QAction *addCommand(QMenu *menu, const QString &title, int tag) {
    QAction *a = menu->addAction(title);
    a->setData(tag);
    return a;
}

}  // namespace

void QNMacFilesViewController::setFileLauncher(FileLauncher launcher) {
    fileLauncher() = launcher ? std::move(launcher) : FileLauncher(openInDefaultApplication);
}

void QNMacFilesViewController::setApplicationChooser(ApplicationChooser chooser) {
    applicationChooser() = chooser ? std::move(chooser) : ApplicationChooser(pickApplicationFile);
}

// ---------------------------------------------------------------- menus

QNMacFilesViewController::MenuItemState QNMacFilesViewController::menuItemState(int tag, int selectedCount,
                                                                                bool canRename, bool canCreateFolder,
                                                                                bool canLink) {
    MenuItemState state;
    switch (tag) {
    case OpenWithTag: state.enabled = selectedCount == 1; break;
    case RenameTag: state.enabled = selectedCount == 1 && canRename; break;
    case DeleteTag: state.enabled = selectedCount >= 1 && canRename; break;
    case NewFolderTag: state.enabled = canCreateFolder; break;
    case DownloadToTag: state.enabled = selectedCount >= 1; break;
    case ShareLinkTag:
        state.enabled = canLink && selectedCount >= 1;
        state.title = selectedCount == 1 ? QStringLiteral("Share Link") : QStringLiteral("Share Links");
        break;
    default: break;
    }
    return state;
}

void QNMacFilesViewController::buildMenus() {
    m_documentMenu = new QMenu(m_view);
    m_documentMenu->setObjectName(QStringLiteral("documentMenu"));
    addCommand(m_documentMenu, QStringLiteral("Open"), 0);
    QAction *openWith = addCommand(m_documentMenu, QStringLiteral("Open With"), OpenWithTag);
    openWith->setMenu(new QMenu(m_documentMenu));
    m_documentMenu->addSeparator();
    addCommand(m_documentMenu, QStringLiteral("Rename…"), RenameTag);
    addCommand(m_documentMenu, QStringLiteral("Delete"), DeleteTag);
    addCommand(m_documentMenu, QStringLiteral("Download to…"), DownloadToTag);
    m_documentMenu->addSeparator();
    addCommand(m_documentMenu, QStringLiteral("Share Link"), ShareLinkTag);

    m_backgroundMenu = new QMenu(m_view);
    m_backgroundMenu->setObjectName(QStringLiteral("backgroundMenu"));
    addCommand(m_backgroundMenu, QStringLiteral("New Folder"), NewFolderTag);
    m_backgroundMenu->addSeparator();
    addCommand(m_backgroundMenu, QStringLiteral("Arrange by Name"), 0);
    addCommand(m_backgroundMenu, QStringLiteral("Arrange by Date"), 0);
    addCommand(m_backgroundMenu, QStringLiteral("Arrange by Size"), 0);

    for (QMenu *menu : {m_documentMenu, m_backgroundMenu}) {
        connect(menu, &QMenu::triggered, this, [this](QAction *action) {
            const QString text = action->text();
            switch (action->data().toInt()) {
            case RenameTag: renameDocument(); return;
            case DeleteTag: deleteDocument(); return;
            case ShareLinkTag: shareLink(); return;
            case NewFolderTag: newFolder(); return;
            case DownloadToTag: downloadTo(); return;
            default: break;
            }
            if (text == QLatin1String("Open")) {
                const QList<int> rows = selectedIndexes();
                if (!rows.isEmpty())
                    doubleClickAction(rows.first());
            } else if (text == QLatin1String("Arrange by Name")) {
                arrangeByName();
            } else if (text == QLatin1String("Arrange by Date")) {
                arrangeByDate();
            } else if (text == QLatin1String("Arrange by Size")) {
                arrangeBySize();
            }
        });
    }
    m_tableView->setMenuProvider([this](QNMacTableView *, const QList<int> &rows) { return menuForRows(rows); });
    m_imageBrowserView->setMenuProvider([this](QNImageBrowserView *, int index) {
        return index < 0 ? imageBrowserBackgroundWasRightClicked() : imageBrowserCellWasRightClickedAtIndex(index);
    });
}

QMenu *QNMacFilesViewController::imageBrowserBackgroundWasRightClicked() { return menuForRows({}); }

QMenu *QNMacFilesViewController::imageBrowserCellWasRightClickedAtIndex(int index) { return menuForRows({index}); }

QList<int> QNMacFilesViewController::selectedIndexes() const {
    QList<int> rows;
    const QItemSelectionModel *selection =
        m_showThumbnails ? m_imageBrowserView->selectionModel() : m_tableView->selectionModel();
    if (selection)
        for (const QModelIndex &i : selection->selectedIndexes())
            if (!rows.contains(i.row()) && i.row() < m_documents.size())
                rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QMenu *QNMacFilesViewController::menuForRows(const QList<int> &rows) {
    QMenu *menu = rows.isEmpty() ? m_backgroundMenu : m_documentMenu;
    validateMenu(menu);
    return menu;
}

void QNMacFilesViewController::validateMenu(QMenu *menu) {
    if (!menu)
        return;
    const int count = int(selectedIndexes().size());
    const bool canRename = m_driveConfig && m_driveConfig->supportsRename(m_document);
    const bool canCreate = m_driveConfig && m_driveConfig->supportsCreateFolder(m_document);
    const bool canLink = m_driveConfig && m_driveConfig->supportsLinks(m_document);
    for (QAction *action : menu->actions()) {
        if (action->isSeparator())
            continue;
        const MenuItemState state = menuItemState(action->data().toInt(), count, canRename, canCreate, canLink);
        action->setEnabled(state.enabled);
        if (!state.title.isNull())
            action->setText(state.title);
        if (action->data().toInt() == OpenWithTag && state.enabled)
            rebuildOpenWithMenu(action->menu(), m_documents.value(selectedIndexes().value(0)));
    }
}

void QNMacFilesViewController::rebuildOpenWithMenu(QMenu *submenu, const QNDocumentPtr &document) {
    if (!submenu || !document)
        return;
    // Asked by the name alone: nothing is made on disk until an
    // application is picked.
    submenu->clear();
    const QString name = document->displayName().isEmpty() ? lastComponent(document->path()) : document->displayName();
    const QNDesktopApplications::Choices choices = QNDesktopApplications::applicationsForFileName(name);
    QPointer<QNMacFilesViewController> guard(this);
    auto add = [&](const QNDesktopApplications::Application &app, const QString &title) {
        QAction *a = submenu->addAction(QIcon::fromTheme(app.iconName), title);
        a->setData(app.path);
        connect(a, &QAction::triggered, this, [guard, app, document] {
            if (guard)
                guard->openDocument(
                    document, std::bind_front(&QNDesktopApplications::launch, app), OpenCommand::OpenWith);
        });
    };
    // Two entries of one name are told apart by their desktop-file ids.
    QStringList names;
    QList<QNDesktopApplications::Application> all;
    if (choices.defaultApplication)
        all << *choices.defaultApplication;
    all << choices.others;
    for (const auto &app : std::as_const(all))
        names << app.name;
    auto titleOf = [&](const QNDesktopApplications::Application &app) {
        return names.count(app.name) > 1 ? QStringLiteral("%1 (%2)").arg(app.name, app.id) : app.name;
    };
    if (choices.defaultApplication) {
        add(*choices.defaultApplication, titleOf(*choices.defaultApplication) + QStringLiteral(" (Default)"));
        submenu->addSeparator();
    }
    for (const auto &app : choices.others)
        add(app, titleOf(app));
    if (!choices.others.isEmpty())
        submenu->addSeparator();
    QAction *choose = submenu->addAction(QStringLiteral("Choose") + QChar(0x2026));
    connect(choose, &QAction::triggered, this, [guard, document] {
        if (guard)
            guard->chooseApplication([guard, document](const QNDesktopApplications::Application &app) {
                if (guard)
                    guard->openDocument(
                        document, std::bind_front(&QNDesktopApplications::launch, app), OpenCommand::OpenWith);
            });
    });
}

void QNMacFilesViewController::chooseApplication(const std::function<void(const QNDesktopApplications::Application &)> &open) {
    const QString picked = applicationChooser()(m_view);
    if (picked.isEmpty())
        return;
    const auto app = QNDesktopApplications::applicationFromFile(picked, QLocale().name());
    if (!app) {
        QNAlert alert;
        alert.messageText = QStringLiteral("\"%1\" cannot open documents.").arg(QFileInfo(picked).fileName());
        alert.buttons = {QStringLiteral("OK")};
        QNDialogService::shared().runModal(alert);
        return;
    }
    open(*app);
}

void QNMacFilesViewController::noApplicationOpens(const QString &localPath) {
    QNAlert alert;
    alert.messageText = QStringLiteral("No application is set to open \u201c%1\u201d.").arg(QFileInfo(localPath).fileName());
    alert.informativeText = QStringLiteral("Choose an application to open the document with.");
    alert.buttons = {QStringLiteral("Open With") + QChar(0x2026), QStringLiteral("Cancel")};
    alert.style = QNAlert::Informational;
    QPointer<QNMacFilesViewController> guard(this);
    QWidget *window = m_mainWindowController ? m_mainWindowController->window() : nullptr;
    QNDialogService::shared().beginAlertSheet(alert, window, [guard, localPath](const QNAlertResult &result) {
        if (guard && result.returnCode == QNAlert::FirstButtonReturn)
            guard->chooseApplication([guard, localPath](const QNDesktopApplications::Application &app) {
                QString why;
                if (!QNDesktopApplications::launch(app, localPath, &why) && guard)
                    guard->notLaunched(QFileInfo(localPath).fileName(), why, OpenCommand::Open);
            });
    });
}

void QNMacFilesViewController::notLaunched(const QString &name, const QString &why, OpenCommand command) {
    VNLog::log(QStringLiteral("QNMacFilesViewController open: %1 was not started: %2").arg(name, why));
    QNAlert alert;
    alert.style = QNAlert::Warning;
    alert.buttons = {QStringLiteral("OK")};
    alert.messageText = QStringLiteral("\u201c%1\u201d was not opened").arg(name);
    alert.informativeText = why;
    // As the open's other failures: Open With in an application-modal
    // alert, the double click in a sheet on the window.
    if (command == OpenCommand::OpenWith)
        QNDialogService::shared().runModal(alert);
    else if (m_mainWindowController)
        QNDialogService::shared().beginAlertSheet(alert, m_mainWindowController->window());
}

// ---------------------------------------------------------------- names

QString QNMacFilesViewController::unusableNameReason(const QString &name) {
    if (name.trimmed().isEmpty())
        return QStringLiteral("A name must not be empty.");
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return QStringLiteral("A name must not contain \"/\".");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("A name must not be \".\" or \"..\".");
    return QString();
}

QString QNMacFilesViewController::localFileName(const QString &remoteName) {
    QString name = remoteName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    name.remove(QChar(0));
    if (name.trimmed().isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("document");
    return name;
}

// ---------------------------------------------------------------- rename

void QNMacFilesViewController::renameDocument() {
    const QList<int> rows = selectedIndexes();
    if (rows.size() != 1)
        return;
    // The entry selected now is the one renamed, whatever is selected later.
    const QNDocumentPtr document = m_documents.value(rows.first());
    if (!document || !m_mainWindowController)
        return;
    QNAlert alert;
    alert.messageText = QStringLiteral("Rename");
    alert.informativeText = QStringLiteral("Please enter the new filename:");
    alert.buttons = {QStringLiteral("OK"), QStringLiteral("Cancel")};
    alert.style = QNAlert::Informational;
    m_renameInput = new QLineEdit(m_mainWindowController->window());
    m_renameInput->setObjectName(QStringLiteral("renameInput"));
    m_renameInput->setFixedSize(300, 24);
    m_renameInput->hide();
    m_renameInput->setText(document->displayName());
    alert.accessoryView = m_renameInput.data();
    QPointer<QNMacFilesViewController> guard(this);
    QPointer<QLineEdit> input = m_renameInput;
    QNDialogService::shared().beginAlertSheet(alert, m_mainWindowController->window(),
                                              [guard, input, document](const QNAlertResult &result) {
                                                  const QString name = input ? input->text() : QString();
                                                  if (input)
                                                      input->deleteLater();
                                                  if (guard)
                                                      guard->renameAlertDidEnd(result.returnCode, document, name);
                                              });
}

void QNMacFilesViewController::renameAlertDidEnd(int returnCode, const QNDocumentPtr &document, const QString &name) {
    if (returnCode != QNAlert::FirstButtonReturn || !document)
        return;
    renameTo(document, name, QStringLiteral("QNRenameViewController error %1"));
}

bool QNMacFilesViewController::renameInPlace(int row, const QString &name) {
    const QNDocumentPtr document = m_documents.value(row);
    // An edit that ends without a new name renames nothing.
    if (!document || name.isEmpty() || name == document->displayName())
        return false;
    renameTo(document, name, QStringLiteral("TableView rename error %1"));
    return true;
}

void QNMacFilesViewController::renameTo(const QNDocumentPtr &document, const QString &name, const QString &logText) {
    const QString refusal = unusableNameReason(name);
    if (!refusal.isEmpty()) {
        QNAlert alert;
        alert.messageText = QStringLiteral("\"%1\" cannot be used as a name.").arg(name);
        alert.informativeText = refusal;
        alert.buttons = {QStringLiteral("OK")};
        if (m_mainWindowController)
            QNDialogService::shared().beginAlertSheet(alert, m_mainWindowController->window());
        return;
    }
    auto renamed = QNDocument::withPath(joined(parentPath(document->path()), name), document->isDirectory());
    renamed->setDisplayName(name);
    QPointer<QNMacFilesViewController> guard(this);
    auto operation = std::make_shared<QNRenameOperation>(
        m_driveConfig, document, renamed, [guard, logText](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            VNDispatch::mainAsync([guard, logText, error, cancelled] {
                if (!guard)
                    return;
                if (error && !cancelled) {
                    VNLog::log(logText.arg(error->localizedDescription()));
                    guard->showErrorSheet(error);
                    return;
                }
                guard->listDocuments();
            });
        });
    // The new name is checked against this folder's listing as the drive
    // gives it now, not as the pane last showed it.
    operation->setFolder(m_document);
    m_renameOperationQueue->addOperation(operation);
}

// ---------------------------------------------------------------- tasks

void QNMacFilesViewController::runTask(const QNTaskPtr &task, bool reportLeftOut) {
    if (reportLeftOut)
        reportLeftOutAtEnd(task);
    QNMacAppDelegate *delegate = QNMacAppDelegate::shared();
    if (delegate && delegate->taskManager())
        delegate->taskManager()->addTask(task);
    else
        VNLog::log(QStringLiteral("QNMacFilesViewController: no task manager for %1").arg(task->description()));
}

void QNMacFilesViewController::deleteDocument() {
    const QList<int> rows = selectedIndexes();
    if (rows.isEmpty() || !m_driveConfig)
        return;
    auto task = std::make_shared<QNTask>();
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> guard(this);
    for (int row : rows) {
        auto item = std::make_shared<QNRemoveTaskItem>(m_driveConfig, m_documents.at(row));
        task->addTaskItem(item);
        std::weak_ptr<QNRemoveTaskItem> weak = item;
        item->registerListenerForTaskItemCompletedBlock(key, [guard, weak, key](VNErrorPtr error, QNDocumentPtr,
                                                                                 bool cancelled) {
            if (error && !cancelled)
                VNDispatch::mainAsync([guard, error] {
                    if (guard)
                        guard->showErrorSheet(error);
                });
            if (auto i = weak.lock())
                i->unregisterListenerForTaskItemCompletedBlock(key);
        });
    }
    std::weak_ptr<QNTask> weakTask = task;
    task->registerListenerForTaskCompletedBlock(key, [guard, weakTask, key] {
        if (auto t = weakTask.lock())
            t->unregisterListenerForTaskCompletedBlock(key);
        VNDispatch::mainAsync([guard] {
            if (guard)
                guard->listDocuments();
        });
    });
    runTask(task);
}

bool QNMacFilesViewController::keyPressed(const QKeyEvent *event) {
    // A key the in-place name editor leaves unused (Return ends the edit)
    // reaches the view too: it is the editor's, not a command to open.
    if (auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        editor && (m_tableView->isAncestorOf(editor) || m_imageBrowserView->isAncestorOf(editor)))
        return false;
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool plain = modifiers == Qt::NoModifier;
    QNMainWindowController *window = m_mainWindowController;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain) {
        const QAbstractItemView *view = m_showThumbnails ? static_cast<QAbstractItemView *>(m_imageBrowserView)
                                                         : static_cast<QAbstractItemView *>(m_tableView);
        // The entry with the keyboard focus when it is selected, else the first selected.
        const QList<int> rows = selectedIndexes();
        const int current = view->currentIndex().row();
        if (!rows.isEmpty())
            doubleClickAction(rows.contains(current) ? current : rows.first());
        return true;
    }
    if ((key == Qt::Key_Backspace && plain) || (key == Qt::Key_Left && modifiers == Qt::AltModifier)) {
        if (window)
            window->back();
        return true;
    }
    if (key == Qt::Key_Up && modifiers == Qt::AltModifier) {
        // The enclosing folder: the level before this one on the path bar.
        if (window && window->filesViewControllers().size() > 1)
            window->back();
        return true;
    }
    if (key == Qt::Key_F2 && plain && m_showThumbnails) {
        // The thumbnails have no name to edit in place: the rename sheet.
        const bool canRename = m_driveConfig && m_driveConfig->supportsRename(m_document);
        if (menuItemState(RenameTag, int(selectedIndexes().size()), canRename, false, false).enabled)
            renameDocument();
        return true;
    }
    if ((key == Qt::Key_F5 && plain) || (key == Qt::Key_R && modifiers == Qt::ControlModifier)) {
        listDocuments();
        return true;
    }
    if (key == Qt::Key_Delete && plain) {
        removeSelection();
        return true;
    }
    return false;
}

void QNMacFilesViewController::removeSelection() {
    const QList<int> rows = selectedIndexes();
    const bool canRename = m_driveConfig && m_driveConfig->supportsRename(m_document);
    if (!menuItemState(DeleteTag, int(rows.size()), canRename, false, false).enabled)
        return;
    // The entries asked about, even if the selection moves while asking.
    QNDocumentList documents;
    for (int row : rows)
        documents << m_documents.at(row);
    QPointer<QNMacFilesViewController> guard(this);
    askRemoveFiles([guard, documents] {
        if (guard)
            guard->removeDocuments(documents);
    });
}

void QNMacFilesViewController::newFolder() {
    if (m_mainWindowController)
        m_mainWindowController->createFolder();
}

// ---------------------------------------------------------------- share links

QString QNMacFilesViewController::shareLinksHtml(const QNDocumentList &documents) {
    QString html = QStringLiteral("<html>\n<body>\n");
    for (const QNDocumentPtr &d : documents) {
        // Names and links are the drive's text: escaped, so they stay text.
        const QString link = d->link().toHtmlEscaped();
        const QString expiry =
            d->linkEndDate().isValid()
                ? QStringLiteral(" (expires on: %1)").arg(QLocale().toString(d->linkEndDate().date(), QLocale::LongFormat))
                : QString();
        html += QStringLiteral("<a href=\"") + link + QStringLiteral("\">") + d->displayName().toHtmlEscaped() +
                QStringLiteral("</a>") + expiry.toHtmlEscaped() + QStringLiteral("<br/>\n") + link +
                QStringLiteral("<br/><br/>");
    }
    html += QStringLiteral("</body>\n</html>");
    return html;
}

QString QNMacFilesViewController::shareLinksText(const QNDocumentList &documents) {
    QStringList links;
    for (const QNDocumentPtr &d : documents)
        links << d->link();
    return links.join(QLatin1Char('\n'));
}

QString QNMacFilesViewController::shareLinksMessage(int count) {
    return count == 1 ? QStringLiteral("The Shared Link has been copied to your clipboard.")
                      : QStringLiteral("The Shared Links have been copied to your clipboard.");
}

void QNMacFilesViewController::shareLink() {
    const QList<int> rows = selectedIndexes();
    if (rows.isEmpty() || !m_driveConfig)
        return;
    auto task = std::make_shared<QNLinkTask>();
    // The documents with links, in the order their items finish.
    struct Links {
        std::mutex mutex;
        QNDocumentList documents;
    };
    auto links = std::make_shared<Links>();
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> guard(this);
    for (int row : rows) {
        auto item = std::make_shared<QNLinkTaskItem>(m_driveConfig, m_documents.at(row));
        task->addTaskItem(item);
        std::weak_ptr<QNLinkTaskItem> weak = item;
        item->registerListenerForTaskItemCompletedBlock(
            key, [guard, weak, key, links](VNErrorPtr error, QNDocumentPtr document, bool cancelled) {
                if (document && !error && !cancelled && !document->link().isEmpty()) {
                    std::lock_guard lock(links->mutex);
                    links->documents << document;
                }
                if (error && !cancelled)
                    VNDispatch::mainAsync([guard, error] {
                        if (guard)
                            guard->showErrorSheet(error);
                    });
                if (auto i = weak.lock())
                    i->unregisterListenerForTaskItemCompletedBlock(key);
            });
    }
    std::weak_ptr<QNTask> weakTask = task;
    task->registerListenerForTaskCompletedBlock(key, [weakTask, key, links] {
        if (auto t = weakTask.lock())
            t->unregisterListenerForTaskCompletedBlock(key);
        VNDispatch::mainAsync([links] {
            QNDocumentList documents;
            {
                std::lock_guard lock(links->mutex);
                documents = links->documents;
            }
            if (documents.isEmpty())
                return;
            auto *data = new QMimeData;
            data->setHtml(shareLinksHtml(documents));
            data->setText(shareLinksText(documents));
            QGuiApplication::clipboard()->setMimeData(data);
            QNNotificationCenter::shared().deliverNotification(QStringLiteral("Varnello"),
                                                               shareLinksMessage(int(documents.size())));
        });
    });
    runTask(task);
}

// ---------------------------------------------------------------- open

void QNMacFilesViewController::openDocument(const QNDocumentPtr &document, FileLauncher launcher, OpenCommand command) {
    if (!document || !m_driveConfig)
        return;
    // A fresh folder per open: two opens of one name never share a file.
    const QString folder = joined(m_tempPath, QNUtils::uuidString());
    QDir().mkpath(folder);
    const QString name = localFileName(document->displayName().isEmpty() ? lastComponent(document->path())
                                                                         : document->displayName());
    auto local = QNDocument::withPath(joined(folder, name));
    auto localDrive = QNDriveConfig::create();
    localDrive->setIsMyFiles(true);
    localDrive->setUseAbsolutePath(true);
    auto destination = QNDocument::withPath(folder, true);

    auto task = std::make_shared<QNCopyTask>();
    auto item = std::make_shared<QNCopyTaskItem>(m_driveConfig, localDrive, document, destination);
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> guard(this);
    const QNDriveConfigPtr drive = m_driveConfig;
    const QNDocumentPtr parent = m_document;
    if (!launcher)
        launcher = fileLauncher();
    item->registerListenerForTaskItemCompletedBlock(key, [guard, local, folder, document, drive, parent, launcher,
                                                          command](VNErrorPtr error, QNDocumentPtr copied, bool cancelled) {
        VNDispatch::mainAsync([guard, local, folder, document, drive, parent, launcher, command, error, copied,
                               cancelled] {
            if (QNTaskItem::isLeftOut(error)) {
                // Nothing was copied (a link to nothing, a name that cannot
                // be read): nothing to open or to remember, and the user is
                // told why, as a copy's end report would.
                VNLog::log(QStringLiteral("QNMacFilesViewController open: left out: %1").arg(error->localizedDescription()));
                const QNAlert alert = leftOutOpenAlert(document, error);
                if (command == OpenCommand::OpenWith)
                    QNDialogService::shared().runModal(alert);
                else if (guard && guard->m_mainWindowController)
                    QNDialogService::shared().beginAlertSheet(alert, guard->m_mainWindowController->window());
                return;
            }
            if (error && command == OpenCommand::OpenWith) {
                VNLog::log(QStringLiteral("Error in Open With: %1").arg(error->localizedDescription()));
                if (!cancelled)
                    QNDialogService::shared().runModal(errorAlert(error, drive));
                return;
            }
            if (error) {
                VNLog::log(QStringLiteral("Error in doubleClickAction: %1").arg(error->localizedDescription()));
                if (!cancelled && guard)
                    guard->showErrorSheet(error);
                return;
            }
            if (cancelled)
                return;
            // The file the copy made, under whatever name it carries: the
            // folder is this open's own.
            const QStringList made =
                QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            if (made.size() == 1)
                local->setPath(joined(folder, made.first()));
            const QFileInfo info(local->path());
            local->setIsDirectory(document->isDirectory());
            local->setSize(info.size());
            // The date is read before the application can touch the copy.
            local->setDate(info.lastModified());
            local->setOpenedFromDriveConfig(drive);
            local->setOpenedFromDocument(document);
            local->setOpenedFromParentDocument(parent);
            if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
                delegate->addOpenedDocument(local);
            QString why;
            if (launcher && launcher(local->path(), &why))
                return;
            if (!why.isEmpty()) {
                if (guard)
                    guard->notLaunched(QFileInfo(local->path()).fileName(), why, command);
                return;
            }
            VNLog::log(QStringLiteral("QNMacFilesViewController open: no application took %1").arg(local->path()));
            if (guard)
                guard->noApplicationOpens(local->path());
        });
    });
    task->addTaskItem(item);
    // What the copy leaves out is told by the listener, as the open's own failure.
    runTask(task, false);
}

QNAlert QNMacFilesViewController::leftOutOpenAlert(const QNDocumentPtr &document, const VNErrorPtr &error) {
    QNAlert alert;
    alert.style = QNAlert::Warning;
    alert.buttons = {QStringLiteral("OK")};
    const QString name = document->displayName().isEmpty() ? lastComponent(document->path()) : document->displayName();
    alert.messageText = QStringLiteral("\u201c%1\u201d was not opened").arg(name);
    alert.informativeText = error ? error->localizedDescription() : QString();
    return alert;
}
