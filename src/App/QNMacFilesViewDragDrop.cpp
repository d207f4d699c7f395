// Dragging entries out of a file pane and dropping on one: documents of
// another pane become a copy or move task into the pane's folder, files of
// other applications are uploaded from the local disk. A move asks first
// unless the user turned the question off; names the folder already holds
// are replaced only after a question of their own.

#include "App/QNMacFilesViewController.h"

#include "App/QNAlert.h"
#include "App/QNDialogService.h"
#include "App/QNDragCopyOut.h"
#include "App/QNDragMimeData.h"
#include "App/QNImageBrowserView.h"
#include "App/QNMacTableView.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNNameClashCheck.h"
#include "App/TBWindow.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNRemoveTaskItem.h"
#include "Core/QNTask.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QGraphicsScene>
#include <QGraphicsPixmapItem>
#include <QGraphicsDropShadowEffect>
#include <QUrl>
#include <QUuid>

QString QNMacFilesViewController::documentsMimeType() { return QStringLiteral("application/x-varnello-documents"); }

void QNMacFilesViewController::setUpDragAndDrop() {
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_tableView),
                                    static_cast<QAbstractItemView *>(m_imageBrowserView)}) {
        view->setDragEnabled(true);
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        view->viewport()->installEventFilter(this);
        view->installEventFilter(this);  // keys (QNMacFilesViewCommands.cpp)
        view->setTabKeyNavigation(false);  // Tab leaves the view for the path bar
    }
    m_tableView->setDragEndedHandler([this](Qt::DropAction action) { draggingSessionEnded(action, false); });
    m_imageBrowserView->setDragWriter([this](const QList<int> &items) { return writeDrag(items, true); });
    m_imageBrowserView->setDropCleanup([this](Qt::DropAction action) { draggingSessionEnded(action, true); });
    m_imageBrowserView->setDragImageDecorator(&QNMacFilesViewController::draggingImageForRows);
}

int QNMacFilesViewController::sourceOperationMask(const QDropEvent *drop) {
    // Ctrl asks for a copy (Alt belongs to the window manager here).
    if (drop->modifiers() & Qt::ControlModifier)
        return drop->possibleActions() & Qt::CopyAction ? QNMacTableView::DragCopy : 0;
    return QNMacTableView::maskForDropActions(drop->possibleActions());
}

int QNMacFilesViewController::enteringOperation(const QMimeData *data, int sourceMask) {
    if (data && data->hasUrls() && !data->hasFormat(documentsMimeType())) {
        if (sourceMask & QNMacTableView::DragCopy) {
            VNLog::log(QStringLiteral("returning copy operation"));
            return QNMacTableView::DragCopy;
        }
        if (sourceMask & QNMacTableView::DragMove) {
            VNLog::log(QStringLiteral("returning move operation"));
            return QNMacTableView::DragMove;
        }
    }
    VNLog::log(QStringLiteral("returning none"));
    return 0;
}

bool QNMacFilesViewController::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress && (watched == m_tableView || watched == m_imageBrowserView))
        return keyPressed(static_cast<QKeyEvent *>(event)) || QObject::eventFilter(watched, event);
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop && type != QEvent::DragLeave)
        return QObject::eventFilter(watched, event);
    const bool onBrowser = watched == m_imageBrowserView->viewport();
    if (type == QEvent::DragLeave) {
        if (!onBrowser)
            return QObject::eventFilter(watched, event);
        VNLog::log(QStringLiteral("Dragging ended move: %1").arg(m_browserDropMask & QNMacTableView::DragMove));
        return QObject::eventFilter(watched, event);
    }
    auto *drop = static_cast<QDropEvent *>(event);
    const QMimeData *data = drop->mimeData();
    const int mask = sourceOperationMask(drop);
    if (onBrowser) {
        m_browserDropMask = mask;
        // The browser's own answer on entering is logged; the drag is still
        // taken below, as later moves over it decide what a drop does.
        if (type == QEvent::DragEnter)
            enteringOperation(data, mask);
    } else if (type == QEvent::Drop) {
        VNLog::log(QStringLiteral("AcceptDrop sourceOperationMask: %1").arg(mask, 0, 16));
    }
    const bool fromPane = data && data->hasFormat(documentsMimeType()) && isDragOfThisProcess(data);
    const bool acceptable =
        data && (fromPane || data->hasUrls()) && m_driveConfig && m_driveConfig->supportsDrop(m_document);
    if (type != QEvent::Drop) {
        if (!acceptable) {
            event->ignore();
        } else if (!fromPane) {
            // Other applications hear "copy" while the drag goes on too: a
            // source acts on the last answer it heard, and a move of its files
            // is done by our own task, after the copy is whole.
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
        } else if ((mask & QNMacTableView::DragMove) &&
                   !VNUserDefaults::standard().boolForKey(QStringLiteral("drop-always-copy"))) {
            // The pointer shows what the drop will do: another pane's entries move.
            drop->setDropAction(Qt::MoveAction);
            drop->accept();
        } else {
            drop->acceptProposedAction();
        }
        return true;
    }
    const bool dropped = acceptable && dropWithOperationMask(data, mask);
    if (onBrowser)
        VNLog::log(QStringLiteral("Dragging ended move: %1").arg(mask & QNMacTableView::DragMove));
    if (!dropped) {
        event->ignore();
        return true;
    }
    // Other applications are always told "copied": a move the user asked
    // for is done by our own task, so no program deletes its files for us.
    const bool moveAsked = mask & QNMacTableView::DragMove;
    drop->setDropAction(fromPane && moveAsked ? Qt::MoveAction : Qt::CopyAction);
    drop->accept();
    return true;
}

QMimeData *QNMacFilesViewController::writeDrag(const QList<int> &rows, bool fromBrowser) {
    QNDocumentList dragged;
    for (int row : rows)
        if (const QNDocumentPtr d = m_documents.value(row))
            dragged << d;
    if (dragged.isEmpty())
        return nullptr;
    if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared()) {
        delegate->setDraggingFromDriveConfig(m_driveConfig);
        delegate->setDraggingFromViewController(this);
        delegate->setDraggingDocuments(dragged);
    }
    // Entries of the local disk go to other applications as the files
    // themselves; remote ones as copies made when a target asks for them.
    QNDragMimeData *data = nullptr;
    if (m_driveConfig && !m_driveConfig->isMyFiles()) {
        QPointer<QNMacFilesViewController> guard(this);
        data = new QNDragMimeData([guard, dragged, fromBrowser]() -> std::shared_ptr<QNDragCopyOut> {
            // The target asked for the files: their names are known once they are copied.
            VNLog::log(fromBrowser ? QStringLiteral("namesOfPromisedFilesDroppedAtDestination")
                                   : QStringLiteral("namesOfPromizedFilesDroppedAtDestination"));
            return guard ? guard->copyOutForDrag(dragged) : nullptr;
        });
    } else {
        data = new QNDragMimeData;
        QList<QUrl> urls;
        for (const QNDocumentPtr &d : std::as_const(dragged))
            if (QFileInfo::exists(d->path()))
                urls << QUrl::fromLocalFile(d->path());
        data->setUrls(urls);
    }
    // Which process and pane the documents come from; the documents are on the delegate.
    data->setData(documentsMimeType(), dragSourceTag(this));
    m_dragData = data;
    return data;
}

QByteArray QNMacFilesViewController::dragSourceTag(const QNMacFilesViewController *pane) {
    return QByteArray::number(QCoreApplication::applicationPid()) + ':' + QByteArray::number(quintptr(pane), 16);
}

bool QNMacFilesViewController::isDragOfThisProcess(const QMimeData *data) {
    const QByteArray tag = data ? data->data(documentsMimeType()) : QByteArray();
    return tag.left(tag.indexOf(':')) == QByteArray::number(QCoreApplication::applicationPid());
}

std::shared_ptr<QNDragCopyOut> QNMacFilesViewController::copyOutForDrag(const QNDocumentList &documents) {
    // A target outside the application asked for the files: the entries are
    // copied into a fresh folder of the pane's temporary folder by a task.
    if (m_tempPath.isEmpty() || !m_driveConfig)
        return nullptr;
    const QString folder =
        m_tempPath + QStringLiteral("/drag-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QPointer<QNMacFilesViewController> guard(this);
    return std::make_shared<QNDragCopyOut>(
        m_driveConfig, documents, folder, [guard](const QNTaskPtr &task) {
            if (guard)
                guard->runTask(task);
        },
        [guard](const VNErrorPtr &error) {
            if (guard)
                guard->showErrorSheet(error);
        });
}

namespace {
QNMacFilesViewController::FolderChooser &folderChooser() {
    static QNMacFilesViewController::FolderChooser chooser = [](QWidget *parent) {
        return QFileDialog::getExistingDirectory(parent, QStringLiteral("Download to"), QDir::homePath());
    };
    return chooser;
}
}  // namespace

void QNMacFilesViewController::setFolderChooser(FolderChooser chooser) {
    if (chooser)
        folderChooser() = std::move(chooser);
}

void QNMacFilesViewController::downloadTo() {
    const QList<int> rows = selectedIndexes();
    if (rows.isEmpty() || !m_driveConfig)
        return;
    QNDocumentList documents;
    for (int row : rows)
        documents << m_documents.at(row);
    const QString folder = folderChooser()(m_view);
    if (folder.isEmpty())
        return;
    auto localDrive = QNDriveConfig::create();
    localDrive->setIsMyFiles(true);
    localDrive->setUseAbsolutePath(true);
    auto destination = QNDocument::withPath(QFileInfo(folder).absoluteFilePath(), true);
    QPointer<QNMacFilesViewController> guard(this);
    QNNameClashCheck::run(m_driveConfig, documents, localDrive, destination, false,
                          m_mainWindowController ? m_mainWindowController->window() : nullptr,
                          [guard, localDrive, destination](const QNDocumentList &go) {
                              if (guard)
                                  guard->startDownloadTo(go, localDrive, destination);
                          });
}

void QNMacFilesViewController::startDownloadTo(const QNDocumentList &documents, const QNDriveConfigPtr &localDrive,
                                               const QNDocumentPtr &destination) {
    QNTaskPtr task = std::make_shared<QNCopyTask>();
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> guard(this);
    for (const QNDocumentPtr &d : std::as_const(documents)) {
        auto item = std::make_shared<QNCopyTaskItem>(m_driveConfig, localDrive, d, destination);
        std::weak_ptr<QNTaskItem> weak = item;
        item->registerListenerForTaskItemCompletedBlock(key, [guard, weak, key](VNErrorPtr error, QNDocumentPtr,
                                                                                 bool cancelled) {
            // What was left out is named by the task's end report.
            if (error && !cancelled && !QNTaskItem::isLeftOut(error))
                VNDispatch::mainAsync([guard, error] {
                    if (guard)
                        guard->showErrorSheet(error);
                });
            if (auto i = weak.lock())
                i->unregisterListenerForTaskItemCompletedBlock(key);
        });
        task->addTaskItem(item);
    }
    runTask(task);
}

void QNMacFilesViewController::draggingSessionEnded(Qt::DropAction action, bool fromBrowser) {
    const int operation = QNMacTableView::maskForDropActions(action);
    if (!fromBrowser)
        VNLog::log(QStringLiteral("DraggingSession ended: %1, copy: %2, move: %3, delete: %4")
                       .arg(operation, 0, 16)
                       .arg(bool(operation & QNMacTableView::DragCopy))
                       .arg(bool(operation & QNMacTableView::DragMove))
                       .arg(bool(operation & QNMacTableView::DragDelete)));
    handleDocumentsAfterDrop(operation);
    dragEnded();
}

void QNMacFilesViewController::dragEnded() {
    // From now on the drag's files are asked for by the target that took it.
    if (m_dragData)
        m_dragData->setDragEnded();
    // The drag is over wherever it went: a later drop on this pane is a new drag's.
    QNMacAppDelegate *delegate = QNMacAppDelegate::shared();
    if (delegate && delegate->draggingFromViewController() == this)
        delegate->setDraggingFromViewController(nullptr);
}

void QNMacFilesViewController::handleDocumentsAfterDrop(int operation) {
    VNLog::log(QStringLiteral("QNMacFilesViewController operation: %1").arg(operation, 0, 16));
    QNMacAppDelegate *delegate = QNMacAppDelegate::shared();
    if (operation != QNMacTableView::DragDelete || !delegate || !m_driveConfig)
        return;
    const QNDocumentList documents = delegate->draggingDocuments();
    QPointer<QNMacFilesViewController> guard(this);
    auto step = [guard, documents] {
        if (guard)
            guard->removeDocuments(documents);
    };
    askRemoveFiles(step);
}

void QNMacFilesViewController::askRemoveFiles(const std::function<void()> &step) {
    // The question's box turns it off for every drive, as the user chose.
    if (VNUserDefaults::standard().boolForKey(QStringLiteral("drop-suppress-ask-remove"))) {
        step();
        return;
    }
    QNAlert alert;
    alert.messageText = QStringLiteral("Remove files?");
    alert.informativeText = QStringLiteral("Do you want to remove the selected files?");
    alert.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    alert.showsSuppressionButton = true;
    alert.style = QNAlert::Warning;
    QWidget *window = m_mainWindowController ? m_mainWindowController->window() : nullptr;
    VNDispatch::mainAsync([alert, window = QPointer<QWidget>(window), step] {
        QNDialogService::shared().beginAlertSheet(alert, window, [step](const QNAlertResult &result) {
            if (result.suppressed) {
                VNUserDefaults::standard().setBool(true, QStringLiteral("drop-suppress-ask-remove"));
                VNUserDefaults::standard().synchronize();
            }
            if (result.returnCode == QNAlert::FirstButtonReturn)
                step();
        });
    });
}

void QNMacFilesViewController::removeDocuments(const QNDocumentList &documents) {
    QNTaskPtr task = std::make_shared<QNTask>();
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> guard(this);
    for (const QNDocumentPtr &d : documents) {
        QNTaskItemPtr item = std::make_shared<QNRemoveTaskItem>(m_driveConfig, d);
        std::weak_ptr<QNTaskItem> weak = item;
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
        task->addTaskItem(item);
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

bool QNMacFilesViewController::dropWithMimeData(const QMimeData *data, bool moveAsked) {
    return dropWithOperationMask(data, QNMacTableView::DragCopy | (moveAsked ? QNMacTableView::DragMove : 0));
}

bool QNMacFilesViewController::dropWithOperationMask(const QMimeData *data, int sourceMask) {
    const bool moveAsked = sourceMask & QNMacTableView::DragMove;
    QNMacAppDelegate *delegate = QNMacAppDelegate::shared();
    if (!data || !delegate || !m_driveConfig || !m_document)
        return false;
    bool fromPane = data->hasFormat(documentsMimeType());
    QNDriveConfigPtr sourceDrive;
    QNDocumentList documents;
    QPointer<QNMacFilesViewController> sourcePane;
    if (fromPane && !isDragOfThisProcess(data)) {
        // Another instance's pane: its documents are not ours to act on;
        // its files, if it offers them, come like any other application's.
        if (!data->hasUrls())
            return false;
        fromPane = false;
    }
    if (fromPane) {
        // A drop on the pane the drag started in does nothing.
        if (delegate->draggingFromViewController() == this) {
            delegate->setDraggingFromViewController(nullptr);
            return false;
        }
        sourceDrive = delegate->draggingFromDriveConfig();
        documents = delegate->draggingDocuments();
        sourcePane = qobject_cast<QNMacFilesViewController *>(delegate->draggingFromViewController());
    } else if (data->hasUrls()) {
        // Files of other applications: from the local disk; paths that have
        // gone meanwhile are skipped. A link to nothing is still there: its
        // item leaves it out and the task's end report names it.
        sourceDrive = QNDriveConfig::create();
        sourceDrive->setIsMyFiles(true);
        sourceDrive->setUseAbsolutePath(true);
        for (const QUrl &url : data->urls()) {
            const QFileInfo info(url.toLocalFile());
            if (!url.isLocalFile() || (!info.exists() && !info.isSymLink()))
                continue;
            auto d = QNDocument::withPath(info.absoluteFilePath(), info.isDir());
            d->setSize(info.isDir() ? 0 : info.size());
            d->setIsLink(!info.exists());
            documents << d;
        }
    } else {
        return false;
    }
    if (!sourceDrive)
        return false;
    VNLog::log(QStringLiteral("sourceDragMask: %1 (move: %2)")
                   .arg(sourceMask, 0, 16)
                   .arg(sourceMask & QNMacTableView::DragMove));
    const bool move = moveAsked && !VNUserDefaults::standard().boolForKey(QStringLiteral("drop-always-copy"));
    VNLog::log(QStringLiteral("QNMacFilesViewController drop: %1 entries, move: %2").arg(documents.size()).arg(move));
    QPointer<QNMacFilesViewController> guard(this);
    // The pane the entries came from relists too when the drag offered a move.
    const QPointer<QNMacFilesViewController> relistToo = moveAsked ? sourcePane : nullptr;
    auto step = [guard, sourceDrive, documents, move, relistToo] {
        if (guard)
            guard->copyOrMove(sourceDrive, documents, move, relistToo);
    };
    if (!move || VNUserDefaults::standard().boolForKey(QStringLiteral("drop-suppress-ask-move"))) {
        step();
        return true;
    }
    QNAlert alert;
    alert.messageText = QStringLiteral("Move files?");
    alert.informativeText = QStringLiteral(
        "Do you want to move the selected files? To copy files, you can keep the Ctrl key pressed during the drag and "
        "drop operation.");
    alert.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    alert.showsSuppressionButton = true;
    alert.style = QNAlert::Warning;
    QWidget *window = m_mainWindowController ? m_mainWindowController->window() : nullptr;
    VNDispatch::mainAsync([alert, window = QPointer<QWidget>(window), step] {
        QNDialogService::shared().beginAlertSheet(alert, window, [step](const QNAlertResult &result) {
            if (result.suppressed) {
                VNUserDefaults::standard().setBool(true, QStringLiteral("drop-suppress-ask-move"));
                VNUserDefaults::standard().synchronize();
            }
            if (result.returnCode == QNAlert::FirstButtonReturn)
                step();
        });
    });
    return true;
}

void QNMacFilesViewController::copyOrMove(const QNDriveConfigPtr &sourceDrive, const QNDocumentList &documents,
                                          bool move, QPointer<QNMacFilesViewController> sourcePane) {
    // Names this folder already holds are replaced only when the user says so.
    QPointer<QNMacFilesViewController> guard(this);
    QNNameClashCheck::run(sourceDrive, documents, m_driveConfig, m_document, move,
                          m_mainWindowController ? m_mainWindowController->window() : nullptr,
                          [guard, sourceDrive, move, sourcePane](const QNDocumentList &go) {
                              if (guard)
                                  guard->startCopyOrMove(sourceDrive, go, move, sourcePane);
                          });
}

void QNMacFilesViewController::startCopyOrMove(const QNDriveConfigPtr &sourceDrive, const QNDocumentList &documents,
                                               bool move, QPointer<QNMacFilesViewController> sourcePane) {
    QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> guard(this);
    for (const QNDocumentPtr &d : documents) {
        QNTaskItemPtr item;
        if (move)
            item = std::make_shared<QNMoveTaskItem>(sourceDrive, m_driveConfig, d, m_document);
        else
            item = std::make_shared<QNCopyTaskItem>(sourceDrive, m_driveConfig, d, m_document);
        std::weak_ptr<QNTaskItem> weak = item;
        item->registerListenerForTaskItemCompletedBlock(key, [guard, weak, key](VNErrorPtr error, QNDocumentPtr,
                                                                                 bool cancelled) {
            // What was left out is named by the task's end report.
            if (error && !cancelled && !QNTaskItem::isLeftOut(error))
                VNDispatch::mainAsync([guard, error] {
                    if (guard)
                        guard->showErrorSheet(error);
                });
            if (auto i = weak.lock())
                i->unregisterListenerForTaskItemCompletedBlock(key);
        });
        task->addTaskItem(item);
    }
    std::weak_ptr<QNTask> weakTask = task;
    task->registerListenerForTaskCompletedBlock(key, [guard, sourcePane, weakTask, key] {
        if (auto t = weakTask.lock())
            t->unregisterListenerForTaskCompletedBlock(key);
        VNDispatch::mainAsync([guard, sourcePane] {
            if (guard)
                guard->listDocuments();
            if (sourcePane && sourcePane != guard)
                sourcePane->listDocuments();
        });
    });
    runTask(task);
}

void QNMacFilesViewController::reportLeftOutAtEnd(const QNTaskPtr &task) {
    if (!task)
        return;
    // A key of its own: the pane's relisting listener keeps its key.
    const QString key = QStringLiteral("QNMacFilesViewController-leftOut-%1").arg(quintptr(this), 0, 16);
    // The window, not the pane: a pane popped meanwhile still has its report shown.
    QPointer<QNMainWindowController> window = m_mainWindowController;
    std::weak_ptr<QNTask> weakTask = task;
    const bool move = std::dynamic_pointer_cast<QNMoveTask>(task) != nullptr;
    task->registerListenerForTaskCompletedBlock(key, [window, weakTask, key, move] {
        const QNTaskPtr ended = weakTask.lock();
        if (!ended)
            return;
        ended->unregisterListenerForTaskCompletedBlock(key);
        const QList<QNTask::EndNote> notes = ended->endNotes();
        if (notes.isEmpty())
            return;
        VNLog::log(QStringLiteral("QNMacFilesViewController task left out: %1")
                       .arg(QNTask::textsOf(notes).join(QLatin1Char(' '))));
        VNDispatch::mainAsync([window, notes, move] {
            if (window)
                QNDialogService::shared().beginAlertSheet(leftOutAlert(notes, move), window->window());
        });
    });
}

QNAlert QNMacFilesViewController::leftOutAlert(const QList<QNTask::EndNote> &endNotes, bool move) {
    // A tree can leave out thousands: the text shows a few, the details a
    // bounded list.
    constexpr int kShown = 5;
    constexpr int kDetailed = 1000;
    const QStringList notes = QNTask::textsOf(endNotes);
    const int items = QNTask::itemsOf(endNotes);
    const int count = int(notes.size());
    const QString more = QStringLiteral("\u2026and %1 more.");
    // The headline counts items, not notes: one note may speak of a
    // folder's many entries, and another of no item at all.
    QNAlert alert;
    alert.style = QNAlert::Warning;
    alert.buttons = {QStringLiteral("OK")};
    if (items == 0)
        alert.messageText = QStringLiteral("Something was left on a drive");
    else if (items == 1)
        alert.messageText = move ? QStringLiteral("1 item was not moved") : QStringLiteral("1 item was not copied");
    else
        alert.messageText = (move ? QStringLiteral("%1 items were not moved") : QStringLiteral("%1 items were not copied"))
                                .arg(items);
    QStringList shown = notes.mid(0, kShown);
    if (count > kShown)
        shown << more.arg(count - kShown);
    alert.informativeText = shown.join(QLatin1Char('\n'));
    // Every item a note counts stays where it was (what a drive was left
    // holding counts none).
    if (move && items > 0)
        alert.informativeText += QStringLiteral("\n\nWhat was left out stays where it was.");
    if (count > kShown) {
        QStringList detailed = notes.mid(0, kDetailed);
        if (count > kDetailed)
            detailed << more.arg(count - kDetailed);
        alert.detailText = detailed.join(QLatin1Char('\n'));
    }
    return alert;
}

QString QNMacFilesViewController::draggingCaption(int rowCount) {
    return QStringLiteral("%1 items being dragged").arg(rowCount);
}

QPixmap QNMacFilesViewController::draggingImageForRows(const QPixmap &image, int rowCount, QPoint *hotSpot) {
    if (rowCount < 2)
        return image;
    const QString caption = draggingCaption(rowCount);
    QFont font;
    font.setBold(true);
    const QFontMetrics metrics(font);
    const QSize text(metrics.horizontalAdvance(caption), metrics.height());
    const qreal ratio = image.devicePixelRatio();
    const QSize imageSize = (QSizeF(image.size()) / ratio).toSize();
    QPixmap out(QSize(std::max(imageSize.width(), text.width() + 3), imageSize.height() + text.height()) * ratio);
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    // The caption, white with a soft black shadow (blur 5, half a point to
    // the right and up), drawn through a scene to get the blur.
    QPixmap captionPicture(QSize(text.width() + 3, text.height()) * ratio);
    captionPicture.setDevicePixelRatio(ratio);
    captionPicture.fill(Qt::transparent);
    {
        QPainter c(&captionPicture);
        c.setRenderHint(QPainter::TextAntialiasing);
        c.setFont(font);
        c.setPen(Qt::white);
        c.drawText(QRectF(0, 0, text.width() + 3, text.height()), Qt::AlignLeft | Qt::AlignVCenter, caption);
    }
    QGraphicsScene scene;
    QGraphicsPixmapItem *item = scene.addPixmap(captionPicture);
    auto *shadow = new QGraphicsDropShadowEffect;
    shadow->setColor(Qt::black);
    shadow->setOffset(0.5, -0.5);
    shadow->setBlurRadius(5);
    item->setGraphicsEffect(shadow);
    const QRectF captionArea(0, 0, out.width() / ratio, text.height());
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    scene.render(&p, captionArea, captionArea);
    p.drawPixmap(QPointF(0, text.height()), image);
    p.end();
    if (hotSpot)
        hotSpot->ry() += text.height();
    return out;
}
