#include "App/QNMacAppDelegate.h"

#include "App/QNMacFilesViewController.h"
#include "App/QNPreviewPanel.h"

#include "App/QNDialogService.h"
#include "App/QNIconTheme.h"
#include "App/QNMainWindowController.h"
#include "App/QNNotificationCenter.h"
#include "App/QNSingleInstance.h"
#include "App/TBWindow.h"
#include "Cloud/DropboxSDK/Classes/DXRequest.h"
#include "Cloud/DropboxSDK/Classes/DXSession.h"
#include "Cloud/DropboxSDK/DXApplicationKeys.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUpdateFileTask.h"
#include "Core/QNUpdateFileTaskItem.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNTempDirectory.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QUrl>


static QPointer<QNMacAppDelegate> &sharedDelegate() {
    static QPointer<QNMacAppDelegate> delegate;
    return delegate;
}

QNMacAppDelegate::QNMacAppDelegate(QObject *parent) : QObject(parent) {
    sharedDelegate() = this;
    // Each time the application becomes active, opened documents are checked.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            applicationDidBecomeActive();
    });
}

QNMacAppDelegate::~QNMacAppDelegate() {
    // The preview panel is a window of its own, with no parent to free it.
    delete m_quickLookPanel.data();
    for (const QPointer<QNMainWindowController> &c : std::as_const(m_windowControllers))
        delete c.data();
}

QNMacAppDelegate *QNMacAppDelegate::shared() { return sharedDelegate().data(); }

bool QNMacAppDelegate::holdsOpenedDocument(const QString &path) const {
    const QString held = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    auto inside = [&held](const QString &copy) {
        const QString c = QDir::cleanPath(QFileInfo(copy).absoluteFilePath());
        return c == held || c.startsWith(held + QLatin1Char('/'));
    };
    for (const QNDocumentPtr &d : m_openedDocuments)
        if (inside(d->path()))
            return true;
    for (const auto &earlier : m_earlierChangedCopies)
        if (inside(earlier.first))
            return true;
    return false;
}

QString QNMacAppDelegate::openedDocumentsRecordPath() {
    // One record per running instance: instances that share the folder
    // never write over each other's.
    return VNTempDirectory::holderFile(VNTempDirectory::holdForThisProcess(), QStringLiteral(".opened-documents.json"));
}

namespace {

// An item's place on its drive: its path, and what of its identity can be
// written down (the id, and the full path, edit URL, resource id, sha1 and
// address some drives find it by; a drive's own objects cannot, and a drive
// that needs them looks the item up by path and id).
QJsonObject itemEntry(const QNDocumentPtr &item) {
    QJsonObject entry{{QStringLiteral("path"), item->path()}, {QStringLiteral("id"), item->id()}};
    const auto addIfSet = [&entry](const char *key, const QString &value) {
        if (!value.isEmpty())
            entry.insert(QLatin1String(key), value);
    };
    addIfSet("fullPath", item->fullPath());
    addIfSet("editURL", item->editURL());
    addIfSet("gdResourceId", item->gdResourceId());
    addIfSet("sha1", item->sha1());
    addIfSet("url", item->url().toString(QUrl::FullyEncoded));
    return entry;
}

QNDocumentPtr itemFrom(const QJsonObject &entry, bool isDirectory) {
    auto item = QNDocument::withPath(entry.value(QStringLiteral("path")).toString(), isDirectory);
    item->setId(entry.value(QStringLiteral("id")).toString());
    item->setFullPath(entry.value(QStringLiteral("fullPath")).toString());
    item->setEditURL(entry.value(QStringLiteral("editURL")).toString());
    item->setGdResourceId(entry.value(QStringLiteral("gdResourceId")).toString());
    item->setSha1(entry.value(QStringLiteral("sha1")).toString());
    const QString url = entry.value(QStringLiteral("url")).toString();
    if (!url.isEmpty())
        item->setUrl(QUrl::fromEncoded(url.toUtf8()));
    return item;
}

// A stored drive, told by what the drive list shows of it: never by its
// configuration id, which holds the password (nor by a password in its URL).
QString driveKey(const QNDriveConfig &drive) {
    const QString url = QUrl(drive.url()).toString(QUrl::RemoveUserInfo);
    return QStringList{drive.serviceName(), url, drive.username(), drive.userId(), drive.displayName()}.join(
        QLatin1Char('|'));
}

// Where an opened copy came from, for the record: the stored drive and the
// item's and its folder's place on it (no secret of the account).
void addOrigin(QJsonObject &entry, const QNDocumentPtr &copy, const QString &storedDriveKey) {
    const QNDriveConfigPtr drive = copy->openedFromDriveConfig();
    if (!drive || !copy->openedFromDocument() || !copy->openedFromParentDocument())
        return;
    entry.insert(QStringLiteral("drive"), storedDriveKey.isEmpty() ? driveKey(*drive) : storedDriveKey);
    entry.insert(QStringLiteral("item"), itemEntry(copy->openedFromDocument()));
    entry.insert(QStringLiteral("folder"), itemEntry(copy->openedFromParentDocument()));
}

// The drive as a pane holds it: its address cut to the server, the rest of
// it the root folder's path.
QNDriveConfigPtr paneCopyOf(const QNDriveConfigPtr &stored) {
    QNDriveConfigPtr copy;
    QNMainWindowController::determineRoot(stored, &copy, nullptr);
    return copy;
}

// The stored drive a pane's copy of a drive was made from (the copy itself
// may be one, when opening left its address whole).
QNDriveConfigPtr storedDriveOf(const QNDriveConfigPtr &drive, const QNDriveConfigList &stored) {
    if (!drive)
        return nullptr;
    const QString key = driveKey(*drive);
    // A copy whose address was cut is matched by what was cut off first: a
    // drive at the server's root may share the cut address.
    for (const QNDriveConfigPtr &s : stored) {
        const QNDriveConfigPtr copy = paneCopyOf(s);
        if (copy && driveKey(*copy) == key && copy->initialUrlPath() == drive->initialUrlPath())
            return s;
    }
    for (const QNDriveConfigPtr &s : stored)
        if (driveKey(*s) == key)
            return s;
    return nullptr;
}

// The stored drive a record's entry names. Records written before they
// named the stored drive name the pane's copy: such an entry matches the
// drive whose copy it is, the one whose folder holds the item when
// several drives of one server do.
QNDriveConfigPtr recordedDrive(const QString &key, const QString &itemPath, const QNDriveConfigList &stored) {
    for (const QNDriveConfigPtr &s : stored)
        if (driveKey(*s) == key)
            return s;
    QNDriveConfigPtr best;
    qsizetype bestRoot = -1;
    for (const QNDriveConfigPtr &s : stored) {
        QNDriveConfigPtr copy;
        QNDocumentPtr root;
        QNMainWindowController::determineRoot(s, &copy, &root);
        if (!copy || !root || driveKey(*copy) != key)
            continue;
        QString rootPath = root->path();
        if (!rootPath.endsWith(QLatin1Char('/')))
            rootPath += QLatin1Char('/');
        const qsizetype length = itemPath.startsWith(rootPath) ? rootPath.size() : 0;
        if (length > bestRoot) {
            best = s;
            bestRoot = length;
        }
    }
    return best;
}

// An earlier run's changed copy as an opened document again, when the drive
// it came from is still there: its save-back is offered as in that run,
// through the drive as a pane of it holds it.
QNDocumentPtr restoredCopy(const QJsonObject &entry, const QNDriveConfigList &drives, QString *storedKey) {
    const QString recorded = entry.value(QStringLiteral("drive")).toString();
    if (recorded.isEmpty() || !entry.value(QStringLiteral("item")).isObject())
        return nullptr;
    const QJsonObject item = entry.value(QStringLiteral("item")).toObject();
    const QNDriveConfigPtr stored = recordedDrive(recorded, item.value(QStringLiteral("path")).toString(), drives);
    const QNDriveConfigPtr drive = stored ? paneCopyOf(stored) : nullptr;
    if (!drive)
        return nullptr;
    auto copy = QNDocument::withPath(entry.value(QStringLiteral("path")).toString());
    copy->setDate(QDateTime::fromMSecsSinceEpoch(qint64(entry.value(QStringLiteral("date")).toDouble())));
    copy->setOpenedFromDriveConfig(drive);
    copy->setOpenedFromDocument(itemFrom(item, false));
    copy->setOpenedFromParentDocument(itemFrom(entry.value(QStringLiteral("folder")).toObject(), true));
    *storedKey = driveKey(*stored);
    return copy;
}

}  // namespace

void QNMacAppDelegate::addOpenedDocument(const QNDocumentPtr &document) {
    if (!document)
        return;
    m_openedDocuments << document;
    // The record names the stored drive: a pane's copy of it may have lost
    // the path of its address, and a later launch knows only stored drives.
    const QNDriveConfigList stored = QNDriveConfig::readStoredDrives().value_or(QNDriveConfigList{});
    if (const QNDriveConfigPtr drive = storedDriveOf(document->openedFromDriveConfig(), stored))
        m_openedDriveKeys.insert(document.get(), driveKey(*drive));
    writeOpenedDocumentsRecord();
}

void QNMacAppDelegate::writeOpenedDocumentsRecord() const {
    if (!m_recordRead)
        return;  // the clean-up reads the earlier run's record first
    // Local paths and dates, and where each copy came from: no account details.
    QJsonArray entries;
    for (const auto &earlier : m_earlierChangedCopies) {
        QJsonObject e;
        e.insert(QStringLiteral("path"), earlier.first);
        e.insert(QStringLiteral("date"), earlier.second);
        entries.append(e);
    }
    for (const QNDocumentPtr &d : m_openedDocuments) {
        QJsonObject e;
        e.insert(QStringLiteral("path"), d->path());
        e.insert(QStringLiteral("date"), d->date().toMSecsSinceEpoch());
        addOrigin(e, d, m_openedDriveKeys.value(d.get()));
        entries.append(e);
    }
    QSaveFile file(openedDocumentsRecordPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(entries).toJson()) < 0 || !file.commit())
        VNLog::log(QStringLiteral("QNMacAppDelegate opened documents record error: %1").arg(file.errorString()));
}

QList<QNMainWindowController *> QNMacAppDelegate::windowControllers() const {
    QList<QNMainWindowController *> list;
    for (const QPointer<QNMainWindowController> &c : m_windowControllers)
        if (c)
            list << c.data();
    return list;
}

void QNMacAppDelegate::applicationDidFinishLaunching() {
    // The temporary folder is ours while this process runs: another
    // instance's clean-up leaves it alone.
    VNTempDirectory::holdForThisProcess();
    // Before any window: the first icon a window looks up fixes the theme
    // for the rest of the run.
    QNIconTheme::setUp();
    VNLog::log(QStringLiteral("QNMacAppDelegate launch: task manager"));
    m_taskManager = std::make_shared<QNTaskManager>();
    // Closing the last window does not end the application: it ends when
    // the last window is gone and the last task has ended, whichever is later.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    {
        QPointer<QNMacAppDelegate> guard(this);
        m_taskManager->registerListenerForTaskCompletedBlock(
            QStringLiteral("QNMacAppDelegate-%1").arg(quintptr(this), 0, 16), [guard](QNTaskPtr) {
                VNDispatch::mainAsync([guard] {
                    if (guard)
                        guard->quitIfIdleLater();
                });
            });
        // A task added while the quit question is up is counted in it.
        m_taskManager->registerListenerForTaskAddedBlock(
            QStringLiteral("QNMacAppDelegate-%1").arg(quintptr(this), 0, 16), [guard](QNTaskPtr) {
                VNDispatch::mainAsync([guard] {
                    if (guard)
                        guard->updateQuitQuestion();
                });
            });
    }
    VNLog::log(QStringLiteral("QNMacAppDelegate launch: dropbox session"));
    initDropboxSession();
    VNLog::log(QStringLiteral("QNMacAppDelegate launch: window and document lists"));
    m_windowControllers.clear();
    m_openedDocuments.clear();
    m_openedDriveKeys.clear();
    VNLog::log(QStringLiteral("QNMacAppDelegate launch: first window"));
    newDocument();
    VNLog::log(QStringLiteral("QNMacAppDelegate launch: temporary folder clean-up queued"));
    QPointer<QNMacAppDelegate> guard(this);
    VNDispatch::mainAsync([guard] {
        if (guard)
            guard->cleanTemporaryDirectory();
    });
    VNLog::log(QStringLiteral("QNMacAppDelegate launch: notifications"));
    QNNotificationCenter::shared().setPresentationPolicy([guard](const QString &) {
        return guard ? guard->shouldPresentNotification() : true;
    });
    // There is no preferences window yet; its first page is "general".
    m_preferencesPage = QStringLiteral("general");
}

namespace {

// A refused token unlinks that Dropbox user only: its stored credentials go
// and its drives ask for a new link; the other accounts keep theirs. The
// network hooks do nothing.
struct DropboxListener : DXSessionDelegate, DXNetworkRequestDelegate {
    void sessionDidReceiveAuthorizationFailure(DXSession *session, const QString &userId) override {
        if (session)
            session->unlinkUserId(userId);
    }
    void networkRequestStarted() override {}
    void networkRequestStopped() override {}
};

}  // namespace

void QNMacAppDelegate::initDropboxSession() {
    if (DXSession::sharedSession())
        return;
    auto session = std::make_shared<DXSession>(DXApplicationKeys::appKey(), DXApplicationKeys::appSecret(),
                                               QStringLiteral("dropbox"));
    auto listener = std::make_shared<DropboxListener>();
    m_dropboxSessionDelegate = listener;
    m_dropboxNetworkDelegate = listener;
    session->setDelegate(listener);
    DXSession::setSharedSession(session);
    DXRequest::setNetworkRequestDelegate(listener);
}

QNMainWindowController *QNMacAppDelegate::newDocument() {
    auto *controller = new QNMainWindowController(this);
    controller->window();  // loads it and runs its set-up
    controller->setTitle(QStringLiteral("Varnello - Home"));
    m_windowControllers << controller;
    controller->window()->installEventFilter(this);  // its closing may end the application
    // Stagger further windows so they do not hide the first one.
    const int others = int(windowControllers().size()) - 1;
    if (others > 0)
        controller->window()->move(controller->window()->pos() + QPoint(26 * others, 26 * others));
    controller->showWindow();
    emit mainWindowOpened(controller);
    return controller;
}

bool QNMacAppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows)
        newDocument();
    return false;
}

void QNMacAppDelegate::attachSingleInstance(QNSingleInstance *instance) {
    connect(instance, &QNSingleInstance::newWindowRequested, this, &QNMacAppDelegate::secondLaunch);
}

void QNMacAppDelegate::secondLaunch() {
    // Like a click on the application's icon: a window when none is shown,
    // else the one in front comes forward.
    QNMainWindowController *front = nullptr;
    for (QNMainWindowController *c : windowControllers())
        if (c->isWindowLoaded() && c->window()->isVisible() && !c->window()->isMinimized() &&
            (!front || c->window()->isActiveWindow()))
            front = c;
    applicationShouldHandleReopen(front != nullptr);
    if (!front && !windowControllers().isEmpty())
        front = windowControllers().last();
    if (front) {
        front->window()->raise();
        front->window()->activateWindow();
    }
}

bool QNMacAppDelegate::isIdle() const {
    if (m_quitting)
        return m_quitGaveUp || !m_taskManager || m_taskManager->tasks().isEmpty();
    for (QNMainWindowController *c : windowControllers())
        if (c->isWindowLoaded() && c->window()->isVisible())
            return false;
    return !m_taskManager || m_taskManager->tasks().isEmpty();
}

void QNMacAppDelegate::quitIfIdle() {
    if (m_ended || !isIdle())
        return;
    m_ended = true;  // the application ends once, however many ends were asked for
    VNLog::log(m_quitting ? QStringLiteral("QNMacAppDelegate quit: no task left")
                          : QStringLiteral("QNMacAppDelegate no window and no task left: quitting"));
    if (m_quitHandler)
        m_quitHandler();
    else if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::quit();
}

namespace {

QString quitQuestionText(qsizetype running) {
    return running == 1 ? QStringLiteral("1 task is still running")
                        : QStringLiteral("%1 tasks are still running").arg(running);
}

QString quitQuestionDetail() {
    return QStringLiteral("Quitting cancels them: what they have not finished is not copied, "
                          "and their sources stay as they are.");
}

}  // namespace

void QNMacAppDelegate::requestQuit() {
    const QList<QNTaskPtr> running = m_taskManager ? m_taskManager->tasks() : QList<QNTaskPtr>();
    if (m_quitQuestionUp)
        return;  // asked already; the question is on show
    if (!running.isEmpty() && !m_quitting) {
        QNAlert alert;
        alert.messageText = quitQuestionText(running.size());
        alert.informativeText = quitQuestionDetail();
        alert.buttons = {QStringLiteral("Quit Anyway"), QStringLiteral("Cancel")};
        // A sheet, not a modal loop: it follows the tasks while it is up.
        QNMainWindowController *front = frontMainWindowController();
        QPointer<QNMacAppDelegate> guard(this);
        m_quitQuestionUp = true;
        m_quitQuestion = QNDialogService::shared().beginAlertSheet(
            alert, front ? front->window() : nullptr, [guard](const QNAlertResult &result) {
                if (guard)
                    guard->quitQuestionDidEnd(result.returnCode);
            });
        return;
    }
    m_quitting = true;
    // Each ended task asks again; with none left this ends the application.
    quitIfIdleLater();
}

void QNMacAppDelegate::quitQuestionDidEnd(int returnCode) {
    m_quitQuestionUp = false;
    m_quitQuestion = 0;
    if (returnCode != QNAlert::FirstButtonReturn)
        return;
    const QList<QNTaskPtr> running = m_taskManager ? m_taskManager->tasks() : QList<QNTaskPtr>();
    m_quitting = true;
    if (!running.isEmpty()) {
        VNLog::log(QStringLiteral("QNMacAppDelegate quitting: cancelling %1 running tasks").arg(running.size()));
        m_taskManager->setPaused(false);
        for (const QNTaskPtr &task : running)
            task->cancel();
        // A task that never ends must not keep the application for ever.
        QPointer<QNMacAppDelegate> guard(this);
        QTimer::singleShot(quitTimeoutMs, this, [guard] {
            if (!guard || !guard->m_taskManager || guard->m_taskManager->tasks().isEmpty())
                return;
            VNLog::log(QStringLiteral("QNMacAppDelegate quitting with tasks that did not end"));
            guard->m_quitGaveUp = true;
            guard->quitIfIdle();
        });
    }
    quitIfIdleLater();
}

void QNMacAppDelegate::updateQuitQuestion() {
    if (!m_quitQuestionUp || !m_quitQuestion)
        return;
    const qsizetype running = m_taskManager ? m_taskManager->tasks().size() : 0;
    if (running == 0) {
        // Nothing left to cancel: the question answers itself, and the
        // application ends as the user asked.
        VNLog::log(QStringLiteral("QNMacAppDelegate quit question: the last task ended"));
        QNDialogService::shared().dismissAlert(m_quitQuestion, QNAlert::FirstButtonReturn);
        return;
    }
    QNDialogService::shared().updateAlert(m_quitQuestion, quitQuestionText(running), quitQuestionDetail());
}

void QNMacAppDelegate::quitIfIdleLater() {
    // On a later turn: a window being closed is still visible while it closes,
    // and a task is removed from the manager after its completion is told.
    QPointer<QNMacAppDelegate> guard(this);
    QTimer::singleShot(0, this, [guard] {
        if (!guard)
            return;
        guard->updateQuitQuestion();
        guard->quitIfIdle();
    });
}

bool QNMacAppDelegate::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Hide && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
        quitIfIdleLater();
    return QObject::eventFilter(watched, event);
}

QNMainWindowController *QNMacAppDelegate::frontMainWindowController() const {
    QNMainWindowController *firstVisible = nullptr;
    for (QNMainWindowController *c : windowControllers()) {
        if (!c->isWindowLoaded() || !c->window()->isVisible())
            continue;
        if (c->window()->isActiveWindow())
            return c;
        if (!firstVisible)
            firstVisible = c;
    }
    return firstVisible;
}

QList<QNMainWindowController *> QNMacAppDelegate::controllersShowingDrive(const QString &driveConfigId) const {
    QList<QNMainWindowController *> list;
    for (QNMainWindowController *c : windowControllers())
        if (c->driveConfig() && c->driveConfig()->driveConfigId() == driveConfigId)
            list << c;
    return list;
}

void QNMacAppDelegate::reloadDrives() {
    for (QNMainWindowController *c : windowControllers()) {
        QPointer<QNMainWindowController> guard(c);
        VNDispatch::mainAsync([guard] {
            if (guard)
                guard->reloadDrives();
        });
    }
}

void QNMacAppDelegate::reloadQuickLookPanel() { updateQuickLookPanelController(); }

QNMacFilesViewController *QNMacAppDelegate::quickLookSource() const { return m_quickLookSource.data(); }

void QNMacAppDelegate::updateQuickLookPanelController() {
    auto *panel = qobject_cast<QNPreviewPanel *>(m_quickLookPanel.data());
    if (!panel || !panel->isVisible())
        return;
    // The top pane of the front window serves the panel, while that window
    // shows one; the pane it leaves stops the copy it was making for it.
    QNMainWindowController *front = frontMainWindowController();
    QNMacFilesViewController *source =
        front && front->acceptsPreviewPanelControl() ? front->filesViewController() : nullptr;
    if (m_quickLookSource != source) {
        if (QNMacFilesViewController *old = m_quickLookSource.data()) {
            old->cancelPreviewTask();
            VNLog::log(QStringLiteral("endPreviewPanel"));
        }
        m_quickLookSource = source;
        if (source)
            VNLog::log(QStringLiteral("beginPreviewPanel"));
    }
    panel->reloadData();
}

void QNMacAppDelegate::toggleQuickLookPreview() {
    if (!m_quickLookPanel) {
        auto *panel = new QNPreviewPanel;
        panel->setAttribute(Qt::WA_DeleteOnClose, false);
        QPointer<QNMacAppDelegate> guard(this);
        panel->setItemSource([guard] {
            QNMacFilesViewController *pane = guard ? guard->m_quickLookSource.data() : nullptr;
            return pane ? pane->previewPanelItem() : QUrl();
        });
        panel->setFailureSource([guard] {
            QNMacFilesViewController *pane = guard ? guard->m_quickLookSource.data() : nullptr;
            return pane ? pane->previewPanelFailure() : QString();
        });
        // Asked as the panel opens, before it has a source: the pane that will serve it.
        panel->setSourceFrame([guard] {
            QNMainWindowController *front = guard ? guard->frontMainWindowController() : nullptr;
            QNMacFilesViewController *pane =
                front && front->acceptsPreviewPanelControl() ? front->filesViewController() : nullptr;
            return pane ? pane->previewPanelSourceFrame() : QRect();
        });
        // Giving up the panel stops the copy it was waiting for.
        connect(panel, &QNPreviewPanel::hidden, this, [this] {
            if (QNMacFilesViewController *pane = m_quickLookSource.data()) {
                pane->cancelPreviewTask();
                VNLog::log(QStringLiteral("endPreviewPanel"));
            }
            m_quickLookSource = nullptr;
        });
        m_quickLookPanel = panel;
    }
    if (auto *panel = qobject_cast<QNPreviewPanel *>(m_quickLookPanel.data()); panel && !panel->isVisible()) {
        panel->show();
        panel->raise();
        updateQuickLookPanelController();
        return;
    }
    if (m_quickLookPanel->isVisible())
        m_quickLookPanel->hide();
    else {
        m_quickLookPanel->show();
        m_quickLookPanel->raise();
    }
}

QString QNMacAppDelegate::quickLookMenuTitle() const {
    return m_quickLookPanel && m_quickLookPanel->isVisible() ? QStringLiteral("Close QuickLook panel")
                                                             : QStringLiteral("Open QuickLook panel");
}

void QNMacAppDelegate::cleanTemporaryDirectory() {
    // Another running instance may use the folder (one with settings of its
    // own): what it holds is not ours to remove, nor are its records.
    int restored = 0;
    if (!VNTempDirectory::whileSoleHolder([this, &restored](const QStringList &ended) {
            restored = cleanTemporaryDirectoryAlone(ended);
        }))
        VNLog::log(QStringLiteral("QNMacAppDelegate: another running instance uses the temporary folder; nothing removed"));
    // The record now lists this run's copies and the earlier changed ones.
    m_recordRead = true;
    writeOpenedDocumentsRecord();
    // Changes an earlier run never sent back are offered now.
    if (restored > 0)
        applicationDidBecomeActive();
}

int QNMacAppDelegate::cleanTemporaryDirectoryAlone(const QStringList &endedInstances) {
    // Only our own temporary folder, and never an opened copy whose changes
    // have not gone back to its drive: those of this run, and those earlier
    // runs recorded (their lists of opened documents are gone).
    QList<QPair<QString, QDateTime>> copies;
    for (const QNDocumentPtr &d : std::as_const(m_openedDocuments))
        copies.append({d->path(), d->date()});
    QStringList records = {openedDocumentsRecordPath(), VNTempDirectory::path() + QStringLiteral("/.opened-documents.json")};
    for (const QString &instance : endedInstances)
        records << VNTempDirectory::holderFile(instance, QStringLiteral(".opened-documents.json"));
    QJsonArray earlier;
    for (const QString &record : std::as_const(records)) {
        QFile f(record);
        for (const QJsonValue &v : QJsonDocument::fromJson(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray()).array())
            earlier.append(v);
    }
    m_earlierChangedCopies.clear();
    const QNDriveConfigList storedDrives = QNDriveConfig::readStoredDrives().value_or(QNDriveConfigList{});
    int restored = 0;
    for (const QJsonValue &v : earlier) {
        const QJsonObject e = v.toObject();
        const QString path = e.value(QStringLiteral("path")).toString();
        const QDateTime date = QDateTime::fromMSecsSinceEpoch(qint64(e.value(QStringLiteral("date")).toDouble()));
        const QFileInfo info(path);
        // Only copies inside our folder count; the record is ours, but a path
        // pointing elsewhere keeps nothing alive.
        if (path.isEmpty() || !info.exists() ||
            !QDir::cleanPath(info.absoluteFilePath()).startsWith(QDir::cleanPath(VNTempDirectory::path()) + QLatin1Char('/')))
            continue;
        if (info.lastModified() > date) {
            copies.append({path, date});
            QString storedKey;
            if (const QNDocumentPtr copy = restoredCopy(e, storedDrives, &storedKey)) {
                m_openedDocuments << copy;
                m_openedDriveKeys.insert(copy.get(), storedKey);
                ++restored;
            } else {
                m_earlierChangedCopies.append({path, date.toMSecsSinceEpoch()});
            }
            VNLog::log(QStringLiteral("QNMacAppDelegate kept changed copy: %1").arg(path));
        }
    }
    QStringList keep;
    for (const auto &c : std::as_const(copies)) {
        const QFileInfo info(c.first);
        if (info.exists() && info.lastModified() > c.second)
            keep << QDir::cleanPath(info.absoluteFilePath());
    }
    VNTempDirectory::clearContents([keep](const QString &entry) {
        const QString e = QDir::cleanPath(entry);
        for (const QString &k : keep)
            if (k == e || k.startsWith(e + QLatin1Char('/')))
                return true;
        return false;
    });
    return restored;
}

void QNMacAppDelegate::applicationDidBecomeActive() {
    for (int i = 0; i < m_openedDocuments.size(); ++i) {
        const QNDocumentPtr document = m_openedDocuments.at(i);
        if (m_saveBackBusy.contains(document.get()))
            continue;  // already asked, or being saved
        const QFileInfo info(document->path());
        if (!info.exists())
            continue;
        const QDateTime modified = info.lastModified();
        if (!(modified > document->date()))
            continue;
        QNMainWindowController *front = frontMainWindowController();
        if (!front)
            continue;  // no window to ask on; asked at the next activation
        const QNDriveConfigPtr from = document->openedFromDriveConfig();
        QNAlert alert;
        alert.messageText = QStringLiteral("Document change detected");
        alert.informativeText = QStringLiteral("%1 was changed. Do you want to save the changes back to %2?")
                                    .arg(info.fileName(), from ? from->serviceName() : QStringLiteral("(null)"));
        alert.buttons = {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Ignore Changes")};
        m_saveBackBusy.insert(document.get());
        QPointer<QNMacAppDelegate> guard(this);
        QNDialogService::shared().beginAlertSheet(alert, front->window(),
                                                  [guard, document, modified](const QNAlertResult &result) {
                                                      if (guard)
                                                          guard->saveBackAlertDidEnd(result.returnCode, document,
                                                                                     modified);
                                                  });
    }
}

void QNMacAppDelegate::saveBackAlertDidEnd(int returnCode, const QNDocumentPtr &document, const QDateTime &modifiedAt) {
    if (returnCode == QNAlert::SecondButtonReturn) {
        // Cancel: asked again at the next activation while the copy stays newer.
        m_saveBackBusy.remove(document.get());
        return;
    }
    const QFileInfo info(document->path());
    const QDateTime current = info.exists() ? info.lastModified() : modifiedAt;
    if (returnCode == QNAlert::ThirdButtonReturn) {
        document->setDate(current);
        m_saveBackBusy.remove(document.get());
        writeOpenedDocumentsRecord();
        return;
    }
    // Save: the recorded date moves on only when the upload has succeeded,
    // so a failed save-back is offered again.
    QPointer<QNMacAppDelegate> guard(this);
    startSaveBack(document, [guard, document, current](VNErrorPtr error, bool cancelled, QNDocumentPtr saved) {
        VNDispatch::mainAsync([guard, document, current, error, cancelled, saved] {
            if (guard)
                guard->saveBackFinished(document, current, error, cancelled, saved);
        });
    });
}

void QNMacAppDelegate::startSaveBack(const QNDocumentPtr &document, SaveBackDone done) {
    if (m_saveBackStarter) {
        m_saveBackStarter(document, std::move(done));
        return;
    }
    const QNDriveConfigPtr drive = document->openedFromDriveConfig();
    if (!drive || !document->openedFromDocument() || !document->openedFromParentDocument() || !m_taskManager) {
        done(VNError::make(QStringLiteral("QNMacAppDelegate"), 42, QStringLiteral("error"),
                           QStringLiteral("The drive this document came from is not known.")),
             false, nullptr);
        return;
    }
    // The update-file task: dated backup on the drive, upload, backup removed.
    auto task = std::make_shared<QNUpdateFileTask>();
    auto item = std::make_shared<QNUpdateFileTaskItem>(drive, document, document->openedFromDocument(),
                                                       document->openedFromParentDocument());
    const QString key = QStringLiteral("QNMacAppDelegate-%1").arg(quintptr(this), 0, 16);
    std::weak_ptr<QNUpdateFileTaskItem> weakItem = item;
    item->registerListenerForTaskItemCompletedBlock(key, [weakItem, key, done](VNErrorPtr error, QNDocumentPtr,
                                                                               bool cancelled) {
        QNDocumentPtr saved;
        if (auto i = weakItem.lock()) {
            i->unregisterListenerForTaskItemCompletedBlock(key);
            saved = i->savedDocument();
        }
        done(error, cancelled, saved);
    });
    task->addTaskItem(item);
    m_taskManager->addTask(task);
}

void QNMacAppDelegate::saveBackFinished(const QNDocumentPtr &document, const QDateTime &savedDate, VNErrorPtr error,
                                        bool cancelled, const QNDocumentPtr &saved) {
    m_saveBackBusy.remove(document.get());
    // Once the edited copy is up, the document under its name is the
    // uploaded one, whatever became of the backup: the record follows it (a
    // new document in its place, as a pane may share the one it had), and
    // so does the stored record.
    if (saved) {
        document->setOpenedFromDocument(saved);
        writeOpenedDocumentsRecord();
    }
    // Whatever the ending the drive may have changed (a failed or cancelled
    // save can leave the backup beside the document): its panes relist.
    if (const QNDriveConfigPtr from = document->openedFromDriveConfig())
        for (QNMainWindowController *c : controllersShowingDrive(from->driveConfigId()))
            c->relistCurrentFolder();
    if (error) {
        VNLog::log(QStringLiteral("Error in save back: %1").arg(QNErrorWrapper(error).localizedDescription()));
        if (cancelled)
            return;
        if (QNMainWindowController *front = frontMainWindowController())
            QNDialogService::shared().beginAlertSheet(
                QNAlert::fromError(error, document->openedFromDriveConfig()), front->window());
        return;
    }
    if (cancelled)
        return;
    document->setDate(savedDate);
    writeOpenedDocumentsRecord();
}
