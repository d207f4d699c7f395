// The navigating half of QNMainWindowController: the stack of file panes
// (one per folder level), the path bar, the list/thumbnail switch, new
// folders, the task drawer's list and the quota captions of the drive list.

#include "App/QNMainWindowController.h"

#include "App/QNAlert.h"
#include "App/QNDialogService.h"
#include "App/QNImageBrowserView.h"
#include "App/QNImageLibrary.h"
#include "App/QNLabel.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNMainMenu.h"
#include "App/QNMacTableView.h"
#include "App/QNTaskTableViewController.h"
#include "App/TBWindow.h"
#include "Core/QNCreateFolderOperation.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// "/a/b/" as "/", "a", "b": a leading "/" is a component of its own, a
// trailing one is not (so a folder's components always begin with those of
// the folder above it).
QStringList pathComponents(const QString &path) {
    QStringList components;
    if (path.isEmpty())
        return components;
    if (path.startsWith(QLatin1Char('/')))
        components << QStringLiteral("/");
    components << path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return components;
}

QFont pathBarFont() {
    QFont font(QStringLiteral("Avenir"));
    font.setPixelSize(12);
    font.setWeight(QFont::ExtraBold);
    return font;
}

// The bar is 31 high; the layout below gives each piece's lower-left corner,
// as the bar is drawn from its bottom edge.
constexpr int kBarHeight = 31;

QRect barRect(int x, int yFromBottom, int width, int height) {
    return QRect(x, kBarHeight - yFromBottom - height, width, height);
}

void addImage(QWidget *bar, const QString &name, int x, int y, int width, int height) {
    auto *image = new QLabel(bar);
    image->setObjectName(name);
    image->setPixmap(QNImageLibrary::imageNamed(name).scaled(width, height, Qt::IgnoreAspectRatio,
                                                             Qt::SmoothTransformation));
    image->setGeometry(barRect(x, y, width, height));
    image->setAttribute(Qt::WA_TransparentForMouseEvents);
}

// A label sized to its text; answers the text's width.
int addLabel(QWidget *bar, const QString &text, int x, int y) {
    const QFont font = pathBarFont();
    const QSize size = QNLabel::textSize(text, font);
    auto *label = new QNLabel(barRect(x, y, size.width(), size.height()), text, font, bar);
    label->setObjectName(QStringLiteral("pathLabel"));
    return size.width();
}

QPushButton *addButton(QWidget *bar, const QString &objectName, int x, int width) {
    auto *button = new QPushButton(bar);
    button->setObjectName(objectName);
    button->setFlat(true);
    button->setFocusPolicy(Qt::TabFocus);  // Tab reaches the path bar from the pane
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"
                                         "QPushButton:focus { border: 1px dotted palette(highlight); }"));
    button->setGeometry(barRect(x, 0, width, kBarHeight));
    return button;
}

// A name the new folder may not have: it would be no name, or reach into
// another folder.
bool isUnusableFolderName(const QString &name) {
    return name.trimmed().isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QChar(0)) ||
           name == QLatin1String(".") || name == QLatin1String("..");
}

}  // namespace

void QNMainWindowController::setUpNavigation() {
    // The path bar scrolls sideways inside its strip.
    auto *strip = new QVBoxLayout(m_navbarArea);
    strip->setContentsMargins(0, 0, 0, 0);
    m_navbarScrollView = new QScrollArea(m_navbarArea);
    m_navbarScrollView->setObjectName(QStringLiteral("navbarScrollView"));
    m_navbarScrollView->setFrameShape(QFrame::NoFrame);
    m_navbarScrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_navbarScrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_navbarScrollView->setWidgetResizable(false);
    m_navbarScrollView->viewport()->setAutoFillBackground(false);
    strip->addWidget(m_navbarScrollView);

    connect(m_backButton, &QToolButton::clicked, this, [this] { back(); });
    connect(m_thumbnailsButton, &QToolButton::clicked, this, [this] { thumbnails(); });
    connect(m_listButton, &QToolButton::clicked, this, [this] { list(); });
    connect(m_createFolderButton, &QToolButton::clicked, this, [this] { createFolder(); });

    // The drawer lists the running tasks.
    m_taskTableViewController = new QNTaskTableViewController(this);
    if (QLabel *placeholder = m_drawer->findChild<QLabel *>(QStringLiteral("drawerPlaceholder")))
        placeholder->hide();
    if (QLayout *drawerLayout = m_drawer->layout())
        drawerLayout->addWidget(m_taskTableViewController->tableView());
    m_taskTableViewController->awakeFromNib();

    m_createFolderQueue = std::make_unique<VNOperationQueue>(QStringLiteral("QNMainWindowController create folder"));
    updateNavigation();
}

// ---------------------------------------------------------------- opening

void QNMainWindowController::determineRoot(const QNDriveConfigPtr &drive, QNDriveConfigPtr *driveCopy,
                                           QNDocumentPtr *root) {
    if (!drive)
        return;
    const QString urlText = drive->url();
    const QUrl url(urlText);
    const bool hasScheme = !urlText.isEmpty() && url.isValid() && !url.scheme().isEmpty();
    QNDriveConfigPtr copy = drive->copyThroughArchive();
    if (hasScheme) {
        QString host = url.host(QUrl::FullyEncoded);
        if (host.contains(QLatin1Char(':')))
            host = QLatin1Char('[') + host + QLatin1Char(']');  // an IPv6 address keeps its brackets
        const QString port = url.port() >= 0 ? QStringLiteral(":%1").arg(url.port()) : QString();
        copy->setUrl(QStringLiteral("%1://%2%3").arg(url.scheme(), host, port));
    }
    auto folder = QNDocument::create();
    folder->setIsDirectory(true);
    const QString urlPath = hasScheme ? url.path(QUrl::FullyDecoded) : QString();
    if (!urlPath.isEmpty()) {
        QString path = urlPath;
        if (urlText.endsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        folder->setPath(path);
    } else {
        folder->setPath(QStringLiteral("/"));
    }
    // What was cut off the URL is the root folder's own path: the path bar
    // counts a folder's depth from the components of both.
    if (copy->url().size() < urlText.size())
        copy->setInitialUrlPath(folder->path());
    if (driveCopy)
        *driveCopy = copy;
    if (root)
        *root = folder;
}

void QNMainWindowController::openDrive(const QNDriveConfigPtr &drive) {
    QNDriveConfigPtr copy;
    QNDocumentPtr root;
    determineRoot(drive, &copy, &root);
    if (!copy || !root)
        return;
    m_driveConfig = copy;
    m_openedDrive = drive;
    const bool photos = copy->isPhotoService();
    m_thumbnailsButton->setChecked(photos);
    m_listButton->setChecked(!photos);
    openFolder(root);
}

void QNMainWindowController::openFolder(const QNDocumentPtr &folder) {
    if (!folder || !m_driveConfig)
        return;
    window();
    m_backButton->show();
    m_listButton->show();
    m_thumbnailsButton->show();
    m_quickLookButton->show();
    m_createFolderButton->setVisible(m_driveConfig->supportsCreateFolder(folder));
    const QString name = QNUtils::decapName(m_driveConfig->name());
    setTitle(QStringLiteral("Varnello - %1").arg(name));

    const bool thumbnails = m_thumbnailsButton->isChecked();
    auto *pane = new QNMacFilesViewController(this);
    pane->setMainWindowController(this);
    pane->setDriveConfig(m_driveConfig);
    pane->setDocument(folder);
    pane->changeView(thumbnails);
    m_filesViewControllers << pane;
    m_filesViewController = pane;

    // The new pane covers the drive list and the panes beneath it.
    m_contentStack->addWidget(pane->view());
    m_contentStack->setCurrentWidget(pane->view());

    // The preview panel follows the pane now on top.
    if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
        delegate->updateQuickLookPanelController();
    updateNavigation();
    if (thumbnails)
        pane->imageBrowserView()->setFocus();
    else
        pane->tableView()->setFocus();

    QPointer<QNMainWindowController> guard(this);
    QPointer<QNMacFilesViewController> newPane(pane);
    VNDispatch::mainAsync([guard, newPane] {
        if (!guard || !newPane || guard->m_filesViewControllers.isEmpty())
            return;
        newPane->imageBrowserView()->setZoomValue(guard->m_filesViewControllers.first()->imageBrowserView()->zoomValue());
    });
    pane->listDocuments();
}

// ---------------------------------------------------------------- going back

void QNMainWindowController::back() {
    std::lock_guard lock(m_mutex);
    if (!m_filesViewControllers.isEmpty()) {
        QNMacFilesViewController *top = m_filesViewControllers.takeLast();
        const float zoom = top->imageBrowserView()->zoomValue();
        top->cancelListing();
        top->clearTempPath();
        if (QWidget *view = top->view()) {
            m_contentStack->removeWidget(view);
            view->hide();
        }
        top->deleteLater();
        if (!m_filesViewControllers.isEmpty()) {
            QNMacFilesViewController *next = m_filesViewControllers.last();
            m_filesViewController = next;
            m_contentStack->setCurrentWidget(next->view());
            next->imageBrowserView()->setZoomValue(zoom);
            m_createFolderButton->setVisible(m_driveConfig && m_driveConfig->supportsCreateFolder(next->document()));
            // The keyboard stays in the window: on the pane now shown.
            if (m_thumbnailsButton->isChecked())
                next->imageBrowserView()->setFocus();
            else
                next->tableView()->setFocus();
        } else {
            m_filesViewController = nullptr;
            m_contentStack->setCurrentWidget(m_tableView);
            m_tableView->setFocus();
            for (QToolButton *b : {m_backButton, m_listButton, m_thumbnailsButton, m_quickLookButton,
                                   m_createFolderButton})
                b->hide();
            setTitle(QStringLiteral("Varnello - Home"));
        }
        // The preview panel leaves the popped pane (its folder is gone).
        if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
            delegate->updateQuickLookPanelController();
    }
    // At home the quota of the drive just left is asked again: of the
    // stored drive, whose id is the row's (the opened copy's URL may differ).
    if (m_filesViewControllers.isEmpty() && (m_openedDrive || m_driveConfig))
        updateQuotaForDriveConfig(m_openedDrive ? m_openedDrive : m_driveConfig);
    updateNavigation();
}

bool QNMainWindowController::acceptsPreviewPanelControl() const {
    VNLog::log(QStringLiteral("acceptsPreviewPanelControl"));
    return m_filesViewController != nullptr;
}

void QNMainWindowController::pop(int count) {
    if (count > 0) {
        for (int i = 0; i < count; ++i)
            back();
    } else if (count == 0) {
        if (QNMacFilesViewController *top = m_filesViewController)
            top->listDocuments();
    }
}

void QNMainWindowController::home() { pop(int(m_filesViewControllers.size())); }

void QNMainWindowController::navigateToDrive() { pop(int(m_filesViewControllers.size()) - 1); }

void QNMainWindowController::navigateToFolder(int tag) { pop(int(m_filesViewControllers.size()) - 1 - tag); }

// ---------------------------------------------------------------- path bar

void QNMainWindowController::updateNavigation() {
    if (m_mainMenu)
        m_mainMenu->validate();  // the front pane changed
    if (!m_navbarScrollView)
        return;
    auto *bar = new QWidget;
    bar->setObjectName(QStringLiteral("navbarView"));
    bar->resize(200, kBarHeight);

    addImage(bar, QStringLiteral("path-home"), 12, 8, 14, 14);
    addLabel(bar, QStringLiteral("Home"), 34, 8);
    connect(addButton(bar, QStringLiteral("homeButton"), 0, 76), &QPushButton::clicked, this, [this] { home(); });

    int x = 100;
    if (!m_filesViewControllers.isEmpty() && m_driveConfig) {
        addImage(bar, QStringLiteral("path-arrow"), 80, 11, 8, 8);
        addImage(bar, QStringLiteral("path-drive"), 100, 9, 12, 12);
        const QString driveName = m_driveConfig->displayName().isNull() ? m_driveConfig->name()
                                                                        : m_driveConfig->displayName();
        int w = addLabel(bar, QNUtils::decapName(driveName), 120, 8);
        connect(addButton(bar, QStringLiteral("driveButton"), 100, w + 20), &QPushButton::clicked, this,
                [this] { navigateToDrive(); });
        x = 100 + w + 20;

        // A folder's tag is its depth below the drive's root folder.
        const QStringList rootComponents = pathComponents(m_driveConfig->initialUrlPath());
        const int n = int(rootComponents.size());
        const QNMacFilesViewController *top = m_filesViewControllers.last();
        const QStringList components = pathComponents(top->document() ? top->document()->path() : QString());
        int tag = 0;
        for (int i = 0; i < components.size(); ++i) {
            const QString &c = components.at(i);
            if (c == QLatin1String("/"))
                continue;
            x += 8;
            addImage(bar, QStringLiteral("path-arrow"), x, 11, 8, 8);
            x += 20;
            addImage(bar, QStringLiteral("path-folder"), x, 9, 15, 13);
            w = addLabel(bar, c, x + 20, 8);
            if (i >= n)
                ++tag;
            QPushButton *button = addButton(bar, QStringLiteral("folderButton"), x, 20 + w);
            button->setProperty("tag", tag);
            button->setToolTip(c);
            connect(button, &QPushButton::clicked, this, [this, tag] { navigateToFolder(tag); });
            x += 20 + w + 4;
        }
    }
    // Buttons lie over the pictures and texts they stand for.
    for (QPushButton *button : bar->findChildren<QPushButton *>())
        button->raise();
    bar->resize(x + 4, kBarHeight);
    m_navbarScrollView->setWidget(bar);  // the old bar goes
    m_navbarView = bar;
    // The deepest folder stays in sight.
    const int overflow = std::max(0, bar->width() - m_navbarScrollView->viewport()->width());
    m_navbarScrollView->horizontalScrollBar()->setRange(0, overflow);
    m_navbarScrollView->horizontalScrollBar()->setValue(overflow);
}

// ---------------------------------------------------------------- view switch

void QNMainWindowController::thumbnails() {
    m_listButton->setChecked(!m_thumbnailsButton->isChecked());
    changeView();
}

void QNMainWindowController::list() {
    m_thumbnailsButton->setChecked(!m_listButton->isChecked());
    changeView();
}

void QNMainWindowController::changeView() {
    const bool thumbnails = m_thumbnailsButton->isChecked();
    for (QNMacFilesViewController *pane : std::as_const(m_filesViewControllers))
        pane->changeView(thumbnails);
    if (QNMacFilesViewController *top = m_filesViewController) {
        if (thumbnails)
            top->imageBrowserView()->setFocus();
        else
            top->tableView()->setFocus();
    }
}

// ---------------------------------------------------------------- new folder

void QNMainWindowController::createFolder() {
    QNAlert alert;
    alert.messageText = QStringLiteral("Create Folder");
    alert.buttons = {QStringLiteral("OK"), QStringLiteral("Cancel")};
    alert.informativeText = QStringLiteral("Please enter the name of the folder:");
    alert.style = QNAlert::Informational;
    // Each question has its own field; the answer deletes it.
    m_alertInput = new QLineEdit(window());
    m_alertInput->setObjectName(QStringLiteral("alertInput"));
    m_alertInput->setFixedSize(300, 24);
    m_alertInput->hide();
    m_alertInput->setText(QString());
    alert.accessoryView = m_alertInput.data();

    QPointer<QNMainWindowController> guard(this);
    QPointer<QLineEdit> input = m_alertInput;
    VNDispatch::mainAsync([guard, alert, input] {
        if (!guard)
            return;
        QNDialogService::shared().beginAlertSheet(alert, guard->window(), [guard, input](const QNAlertResult &result) {
            const QString name = input ? input->text() : QString();
            if (input)
                input->deleteLater();
            if (guard)
                guard->createFolderAlertDidEnd(result.returnCode, name);
        });
        if (input)
            input->setFocus();
    });
}

void QNMainWindowController::createFolderAlertDidEnd(int returnCode, const QString &name) {
    if (returnCode != QNAlert::FirstButtonReturn)
        return;
    QPointer<QNMacFilesViewController> pane(m_filesViewController);
    if (!pane || !m_driveConfig)
        return;
    if (isUnusableFolderName(name)) {
        QNAlert alert;
        alert.messageText = QStringLiteral("\"%1\" cannot be used as a folder name.").arg(name);
        alert.informativeText = QStringLiteral("A folder name must not be empty, contain \"/\" or be \".\" or \"..\".");
        alert.buttons = {QStringLiteral("OK")};
        QNDialogService::shared().beginAlertSheet(alert, window());
        return;
    }
    QPointer<QNMainWindowController> guard(this);
    auto operation = std::make_shared<QNCreateFolderOperation>(
        m_driveConfig, name, pane->document(), [guard, pane](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            VNDispatch::mainAsync([guard, pane, error, cancelled] {
                if (error) {
                    VNLog::log(QStringLiteral("QNRenameViewController error %1").arg(error->localizedDescription()));
                    if (!cancelled && guard)
                        QNDialogService::shared().beginAlertSheet(
                            QNAlert::fromError(QNErrorWrapper::wrap(error), guard->driveConfig()), guard->window());
                    return;
                }
                if (!cancelled && pane)
                    pane->listDocuments();
            });
        });
    m_createFolderQueue->addOperation(operation);
}

// ---------------------------------------------------------------- quota

void QNMainWindowController::updateQuotaForDriveConfig(const QNDriveConfigPtr &drive) {
    if (!drive)
        return;
    const QString id = drive->driveConfigId();
    // The id holds the drive's password: logs name the drive by service and name.
    const QString logName = QStringLiteral("%1 \"%2\"").arg(drive->serviceName(),
                                                          drive->displayName().isNull() ? drive->name()
                                                                                        : drive->displayName());
    QNDriveConfigPtr copy;
    QNDocumentPtr root;
    determineRoot(drive, &copy, &root);
    {
        std::lock_guard lock(m_mutex);
        if (!m_quotaDescriptions.contains(id))
            m_quotaDescriptions.insert(id, QString());
    }
    const QNCloudInterfacePtr handler = copy ? copy->createCloudInterface() : nullptr;
    if (!handler) {
        // No handler for this kind: the row keeps its caption, and the entry
        // stays so that the next reload does not ask again.
        VNLog::log(QStringLiteral("updateQuotaForDriveConfig %1 error: %2").arg(logName, QStringLiteral("no handler")));
        return;
    }
    m_cloudInterfaces << handler;
    QPointer<QNMainWindowController> guard(this);
    std::weak_ptr<QNCloudInterface> weakHandler = handler;
    handler->quota(root, [guard, copy, id, logName, weakHandler](VNErrorPtr error, bool cancelled) {
        VNDispatch::mainAsync([guard, copy, id, logName, weakHandler, error, cancelled] {
            if (!guard)
                return;
            const QNCloudInterfacePtr done = weakHandler.lock();
            guard->m_cloudInterfaces.removeIf([&](const QNCloudInterfacePtr &h) { return h == done; });
            if (error || cancelled) {
                VNLog::log(QStringLiteral("updateQuotaForDriveConfig %1 error: %2")
                               .arg(logName, error ? error->localizedDescription() : QStringLiteral("cancelled")));
                // The row shows its caption; without an entry the drive is
                // asked again at the next reload of the list (the table is
                // not reloaded here, so a failing server is not polled).
                std::lock_guard lock(guard->m_mutex);
                guard->m_quotaDescriptions.remove(id);
                return;
            }
            if (copy->totalBytes() >= 1) {
                QString text = QStringLiteral("%1 of %2 used (%3 available")
                                   .arg(QNUtils::sizeString2(copy->usedBytes()), QNUtils::sizeString2(copy->totalBytes()),
                                        QNUtils::sizeString2(copy->availableBytes()));
                if (copy->sharedBytes() > 0)
                    text += QStringLiteral(", %1 shared").arg(QNUtils::sizeString2(copy->sharedBytes()));
                text += QLatin1Char(')');
                std::lock_guard lock(guard->m_mutex);
                guard->m_quotaDescriptions.insert(id, text);
            }
            guard->reloadTable();
        });
    });
}
