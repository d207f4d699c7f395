#include "App/QNMainWindowController.h"

#include "App/QNDialogService.h"
#include "App/QNDriveTableModel.h"
#include "App/QNImageLibrary.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacTableView.h"
#include "App/QNMainMenu.h"
#include "App/QNMainTableCellView.h"
#include "App/QNServiceDiscovery.h"
#include "App/TBWindow.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QUuid>
#include <QVBoxLayout>

namespace {

QNMainWindowController::AddDrivePresenter &addDrivePresenter() {
    static QNMainWindowController::AddDrivePresenter presenter;
    return presenter;
}
QNMainWindowController::DriveSettingsPresenter &driveSettingsPresenter() {
    static QNMainWindowController::DriveSettingsPresenter presenter;
    return presenter;
}
QNMainWindowController::DriveOpener &driveOpener() {
    static QNMainWindowController::DriveOpener opener;
    return opener;
}

const int kDriveRowHeight = 66;
const int kBonjourResolveTimeoutMs = 15000;

QToolButton *makeBarButton(QWidget *parent, const QString &image, const QString &tip) {
    auto *b = new QToolButton(parent);
    b->setIcon(QNImageLibrary::imageNamed(image));
    b->setIconSize(QSize(28, 28));
    b->setAutoRaise(true);
    b->setToolTip(tip);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    QIcon icon;
    icon.addPixmap(QNImageLibrary::imageNamed(image), QIcon::Normal, QIcon::Off);
    if (QNImageLibrary::hasImage(image + QStringLiteral("-pressed")))
        icon.addPixmap(QNImageLibrary::imageNamed(image + QStringLiteral("-pressed")), QIcon::Normal, QIcon::On);
    b->setIcon(icon);
    return b;
}

}  // namespace

void QNMainWindowController::setAddDrivePresenter(AddDrivePresenter presenter) {
    addDrivePresenter() = std::move(presenter);
}
void QNMainWindowController::setDriveSettingsPresenter(DriveSettingsPresenter presenter) {
    driveSettingsPresenter() = std::move(presenter);
}
void QNMainWindowController::setDriveOpener(DriveOpener opener) { driveOpener() = std::move(opener); }

QString QNMainWindowController::driveDragMimeType() { return QStringLiteral("application/x-varnello-driveconfig"); }

QNMainWindowController::QNMainWindowController(QObject *parent)
    : QObject(parent), m_windowId(QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

QNMainWindowController::~QNMainWindowController() {
    if (m_netServiceBrowser)
        m_netServiceBrowser->stop();
    delete m_window;
}

TBWindow *QNMainWindowController::window() {
    if (!m_window) {
        m_window = new TBWindow;
        m_window->setObjectName(QStringLiteral("QNMainWindowController"));
        m_window->setDelegate(this);
        m_window->resize(720, 560);
        // Room under the title bar for the add-drive sheet at its least.
        m_window->setMinimumSize(520, 360);
        windowDidLoad();
    }
    return m_window;
}

void QNMainWindowController::showWindow() {
    TBWindow *w = window();
    w->show();
    w->raise();
    w->activateWindow();
}

void QNMainWindowController::windowDidLoad() {
    // 1. The window is 720 wide; height and origin stay.
    m_window->resize(720, m_window->height());
    // 2. The tall title bar with our own view in it.
    m_window->setTitleBarHeight(TitleBarHeight);
    buildTitleView();
    buildContent();
    // 3. No panes yet (the pane stack builds the path bar for home).
    setUpNavigation();
    // 4. Network discovery of WebDAV servers.
    m_foundBonjourServices.clear();
    m_bonjourServices.clear();
    m_netServiceBrowser = QNServiceDiscovery::create();
    connect(m_netServiceBrowser.get(), &QNServiceDiscovery::serviceFound, this,
            [this](const QNNetService &s, bool) { serviceFound(s); });
    connect(m_netServiceBrowser.get(), &QNServiceDiscovery::serviceRemoved, this,
            [this](const QNNetService &s, bool) { serviceRemoved(s); });
    connect(m_netServiceBrowser.get(), &QNServiceDiscovery::serviceResolved, this,
            [this](const QNNetService &s) { serviceResolved(s); });
    connect(m_netServiceBrowser.get(), &QNServiceDiscovery::serviceNotResolved, this,
            [this](const QNNetService &s, const QString &) { serviceNotResolved(s); });
    connect(m_netServiceBrowser.get(), &QNServiceDiscovery::searchFailed, this, [](const QString &reason) {
        VNLog::log(QStringLiteral("QNMainWindowController bonjour search failed: %1").arg(reason));
    });
    startBonjour();
    // 5. The task drawer starts open (built open; the toggle keeps its image right).
    m_toggleDrawerButton->setIcon(QNImageLibrary::imageNamed(QStringLiteral("button-resize-bottom-vertical")));
    // 6. Dragged drives keep the toolkit's own row image; only moves.
    m_tableView->setDefaultIcon(true);
    // 7. Quota state.
    m_quotaDescriptions.clear();
    setTitle(QStringLiteral("Varnello - Home"));
}

void QNMainWindowController::buildTitleView() {
    m_titleView = new QWidget;
    m_titleView->setObjectName(QStringLiteral("titleView"));
    auto *bar = new QHBoxLayout(m_titleView);
    // Room on the left for the window's own buttons.
    bar->setContentsMargins(88, 0, 14, 0);
    bar->setSpacing(6);

    m_backButton = makeBarButton(m_titleView, QStringLiteral("button-back"), QStringLiteral("Back"));
    m_listButton = makeBarButton(m_titleView, QStringLiteral("button-list"), QStringLiteral("List"));
    m_thumbnailsButton = makeBarButton(m_titleView, QStringLiteral("button-thumbnails"), QStringLiteral("Thumbnails"));
    m_quickLookButton = makeBarButton(m_titleView, QStringLiteral("button-quicklook"), QStringLiteral("Quick Look"));
    m_createFolderButton =
        makeBarButton(m_titleView, QStringLiteral("button-create-folder"), QStringLiteral("Create Folder"));
    m_listButton->setCheckable(true);
    m_thumbnailsButton->setCheckable(true);
    m_listButton->setChecked(true);
    for (QToolButton *b : {m_backButton, m_listButton, m_thumbnailsButton, m_quickLookButton, m_createFolderButton}) {
        bar->addWidget(b);
        b->hide();  // shown while a drive is open
    }
    connect(m_quickLookButton, &QToolButton::clicked, this, [] {
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->toggleQuickLookPreview();
    });

    bar->addStretch(1);
    m_titleTextField = new QLabel(m_titleView);
    m_titleTextField->setObjectName(QStringLiteral("titleTextField"));
    QFont titleFont = m_titleTextField->font();
    titleFont.setPixelSize(17);
    titleFont.setBold(true);
    m_titleTextField->setFont(titleFont);
    QPalette tp = m_titleTextField->palette();
    tp.setColor(QPalette::WindowText, QColor(0x4a, 0x3c, 0x3d));
    m_titleTextField->setPalette(tp);
    m_titleTextField->setAlignment(Qt::AlignCenter);
    bar->addWidget(m_titleTextField);
    bar->addStretch(1);

    m_progressIndicator = new QProgressBar(m_titleView);
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setFixedSize(60, 8);
    m_progressIndicator->hide();
    bar->addWidget(m_progressIndicator);

    m_toggleDrawerButton =
        makeBarButton(m_titleView, QStringLiteral("button-resize-bottom-vertical"), QStringLiteral("Tasks"));
    bar->addWidget(m_toggleDrawerButton);
    connect(m_toggleDrawerButton, &QToolButton::clicked, this, [this] { toggleDrawer(); });

    // Our view lies on the bar (which draws the gradient) and follows its size.
    QWidget *barView = m_window->titleBarView();
    auto *fill = new QVBoxLayout(barView);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(m_titleView);
}

void QNMainWindowController::buildContent() {
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("mainContent"));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_splitter = new QSplitter(Qt::Vertical, content);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);

    auto *upper = new QWidget(m_splitter);
    auto *upperColumn = new QVBoxLayout(upper);
    upperColumn->setContentsMargins(0, 0, 0, 0);
    upperColumn->setSpacing(0);

    m_navbarArea = new QWidget(upper);
    m_navbarArea->setObjectName(QStringLiteral("navbarArea"));
    m_navbarArea->setFixedHeight(NavbarHeight);
    m_navbarArea->setAutoFillBackground(true);
    QPalette np = m_navbarArea->palette();
    np.setColor(QPalette::Window, QColor(0xf4, 0xef, 0xef));
    m_navbarArea->setPalette(np);
    upperColumn->addWidget(m_navbarArea);
    auto *rule = new QWidget(upper);
    rule->setFixedHeight(1);
    rule->setAutoFillBackground(true);
    QPalette rp = rule->palette();
    rp.setColor(QPalette::Window, QColor(0xe0, 0xd6, 0xd6));
    rule->setPalette(rp);
    upperColumn->addWidget(rule);

    m_contentStack = new QStackedWidget(upper);
    upperColumn->addWidget(m_contentStack, 1);

    m_tableView = new QNMacTableView(m_contentStack);
    m_tableView->setObjectName(QStringLiteral("driveTable"));
    m_model = new QNDriveTableModel(this);
    m_tableView->setModel(m_model);
    m_tableView->horizontalHeader()->hide();
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    m_tableView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tableView->verticalHeader()->setDefaultSectionSize(kDriveRowHeight);
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setFrameShape(QFrame::NoFrame);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tableView->setDragEnabled(true);
    m_tableView->setAcceptDrops(true);
    m_tableView->setDropIndicatorShown(true);
    m_tableView->setDragDropMode(QAbstractItemView::DragDrop);
    m_tableView->setDefaultDropAction(Qt::MoveAction);
    m_tableView->setDragDropOverwriteMode(false);
    m_tableView->setAlternatingRowColors(false);
    QPalette tp = m_tableView->palette();
    tp.setColor(QPalette::Base, QColor(0xfd, 0xfb, 0xfb));
    m_tableView->setPalette(tp);
    m_contentStack->addWidget(m_tableView);
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateRowBackgroundStyles(); });
    connect(m_tableView, &QAbstractItemView::clicked, this,
            [this](const QModelIndex &index) { tableViewSelectionDidChange(index.row()); });
    connect(m_tableView, &QAbstractItemView::activated, this, [this](const QModelIndex &index) {
        // Return on a row chooses it as a click does.
        if (QApplication::mouseButtons() == Qt::NoButton)
            tableViewSelectionDidChange(index.row());
    });

    m_drawer = new QWidget(m_splitter);
    m_drawer->setObjectName(QStringLiteral("drawer"));
    m_drawer->setMinimumHeight(90);
    m_drawer->setAutoFillBackground(true);
    QPalette dp = m_drawer->palette();
    dp.setColor(QPalette::Window, QColor(0xee, 0xea, 0xea));
    m_drawer->setPalette(dp);
    auto *drawerColumn = new QVBoxLayout(m_drawer);
    drawerColumn->setContentsMargins(12, 8, 12, 8);
    auto *placeholder = new QLabel(QStringLiteral("No running tasks"), m_drawer);
    placeholder->setObjectName(QStringLiteral("drawerPlaceholder"));
    placeholder->setAlignment(Qt::AlignCenter);
    QPalette pp = placeholder->palette();
    pp.setColor(QPalette::WindowText, QColor(0xa0, 0x90, 0x91));
    placeholder->setPalette(pp);
    drawerColumn->addWidget(placeholder);

    m_splitter->addWidget(upper);
    m_splitter->addWidget(m_drawer);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setSizes({400, 110});
    column->addWidget(m_splitter);
    m_window->setContentView(content);

    // The menu bar (a desktop with a global menu shows it there); its keys
    // work through the window too, wherever the bar is shown.
    m_mainMenu = new QNMainMenu(this);
    column->setMenuBar(m_mainMenu->menuBar());
    for (QNMainMenu::Command c : {QNMainMenu::NewWindow, QNMainMenu::NewFolder, QNMainMenu::CloseWindow,
                                  QNMainMenu::Quit, QNMainMenu::AsList, QNMainMenu::AsThumbnails, QNMainMenu::Minimize})
        m_window->addAction(m_mainMenu->action(c));
}

void QNMainWindowController::setTitle(const QString &title) {
    if (m_titleTextField)
        m_titleTextField->setText(title);
    if (m_window)
        m_window->setWindowTitle(title);
}

bool QNMainWindowController::isDrawerOpen() const { return m_drawer && m_drawer->isVisibleTo(m_drawer->parentWidget()); }

void QNMainWindowController::toggleDrawer() {
    const bool open = isDrawerOpen();
    // The button shows which way the drawer will go.
    const QString image = open ? QStringLiteral("button-resize-top-vertical")
                               : QStringLiteral("button-resize-bottom-vertical");
    QIcon icon;
    icon.addPixmap(QNImageLibrary::imageNamed(image));
    icon.addPixmap(QNImageLibrary::imageNamed(image + QStringLiteral("-pressed")), QIcon::Active);
    m_toggleDrawerButton->setIcon(icon);
    m_drawer->setVisible(!open);
}

void QNMainWindowController::windowWillEnterFullScreen(TBWindow *) {
    if (m_toggleDrawerButton)
        m_toggleDrawerButton->hide();
}

void QNMainWindowController::windowWillExitFullScreen(TBWindow *) {
    if (m_toggleDrawerButton)
        m_toggleDrawerButton->show();
}

// ---------------------------------------------------------------- drives

QNDriveConfigList QNMainWindowController::drives() const {
    std::lock_guard lock(m_mutex);
    return m_drives;
}

int QNMainWindowController::numberOfRows() const {
    std::lock_guard lock(m_mutex);
    return int(m_drives.size()) + 1;
}

QNDriveConfigPtr QNMainWindowController::driveForService(const QNNetService &service) {
    auto drive = QNDriveConfig::create();
    const QString name = service.name;
    const bool isCast = name.contains(QStringLiteral("cast"), Qt::CaseInsensitive);
    if (isCast) {
        const int blank = name.indexOf(QLatin1Char(' '));
        drive->setDisplayName(QStringLiteral("diskCAST WiFi Drive (%1)").arg(blank < 0 ? name : name.left(blank)));
    } else {
        drive->setDisplayName(name);
    }
    drive->setName(name);
    drive->setDescription(QStringLiteral("SHOW DOCUMENTS ON %1").arg(name));
    drive->setIsWebDAV(true);
    drive->setIsBonjour(true);
    drive->setImage(isCast ? QStringLiteral("drive-diskcast") : QStringLiteral("drive-webdav"));
    // IPv6 addresses come in brackets (with their zone), as a URL needs them.
    QString address = QNUtils::addressForNetService(service.socketAddresses);
    if (address.isNull() && !service.hostName.isEmpty() && service.port)
        address = QStringLiteral("%1:%2").arg(service.hostName).arg(service.port);
    drive->setUrl(QStringLiteral("http://%1").arg(address));
    return drive;
}

void QNMainWindowController::reloadDrives() {
    {
        std::lock_guard lock(m_mutex);
        VNErrorPtr error;
        auto stored = QNDriveConfig::readStoredDrives(&error);
        if (stored) {
            m_drives = *stored;
        } else {
            VNLog::log(QStringLiteral("QNMainWindowController reloadDrives error: %1")
                           .arg(error ? error->localizedDescription() : QString()));
            m_drives.clear();
        }
        for (const QNNetService &service : std::as_const(m_bonjourServices))
            m_drives << driveForService(service);
    }
    updateQuotaClean(false);
    QPointer<QNMainWindowController> guard(this);
    VNDispatch::mainAsync([guard] {
        if (guard)
            guard->reloadTable();
    });
}

void QNMainWindowController::reloadTable() {
    if (!m_model)
        return;
    m_model->reload();
    const int rows = numberOfRows();
    for (int r = 0; r < rows; ++r)
        m_tableView->setIndexWidget(m_model->index(r, 0), viewForRow(r));
    updateRowBackgroundStyles();
    emit drivesReloaded();
}

void QNMainWindowController::updateRowBackgroundStyles() {
    // A selected row is drawn dark: its cell's secondary texts turn white.
    if (!m_model || !m_tableView->selectionModel())
        return;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        const QModelIndex index = m_model->index(r, 0);
        if (auto *cell = qobject_cast<QNMainTableCellView *>(m_tableView->indexWidget(index)))
            cell->setBackgroundStyle(m_tableView->selectionModel()->isRowSelected(r) ? QNMainTableCellView::Dark
                                                                                     : QNMainTableCellView::Light);
    }
}

QNMainWindowController::RowContent QNMainWindowController::rowContent(int row) const {
    RowContent c;
    const QNDriveConfigList list = drives();
    if (row == list.size()) {
        c.title = QStringLiteral("Add Drive");
        c.subTitle = QStringLiteral("Add a new cloud drive to this Mac");
        c.iconName = QStringLiteral("drive-add");
        return c;
    }
    if (row < 0 || row > list.size())
        return c;
    const QNDriveConfigPtr &d = list.at(row);
    c.title = d->displayName().isNull() ? QNUtils::decapName(d->name()) : d->displayName();
    const QString quota = m_quotaDescriptions.value(d->driveConfigId());
    c.subTitle = quota.isEmpty() ? QNUtils::decapDescription(d->description()) : quota;
    c.iconName = QNImageLibrary::baseName(QNUtils::redesignImageFor(d->image()));
    c.showsButtons = !d->isBonjour();
    return c;
}

QNMainTableCellView *QNMainWindowController::viewForRow(int row) {
    auto *cell = new QNMainTableCellView;
    const RowContent c = rowContent(row);
    cell->title()->setText(c.title);
    cell->subTitle()->setText(c.subTitle);
    cell->icon()->setPixmap(QNImageLibrary::imageNamed(c.iconName));
    cell->editButton()->setVisible(c.showsButtons);
    cell->deleteButton()->setVisible(c.showsButtons);
    if (c.showsButtons) {
        // The buttons find their drive again by identity, then by id: a
        // reload may have moved it to another row meanwhile.
        const QNDriveConfigPtr drive = drives().value(row);
        const QString id = drive ? drive->driveConfigId() : QString();
        std::weak_ptr<QNDriveConfig> weak = drive;
        connect(cell->editButton(), &QPushButton::clicked, this, [this, weak, id] {
            const int r = rowOfDrive(weak.lock(), id);
            if (r >= 0)
                editDrive(r);
        });
        connect(cell->deleteButton(), &QToolButton::clicked, this, [this, weak, id] {
            const int r = rowOfDrive(weak.lock(), id);
            if (r >= 0)
                deleteDrive(r);
        });
    }
    return cell;
}

int QNMainWindowController::rowOfDrive(const QNDriveConfigPtr &drive, const QString &driveId) const {
    const QNDriveConfigList list = drives();
    if (drive) {
        const int exact = int(list.indexOf(drive));
        if (exact >= 0)
            return exact;
    }
    for (int i = 0; i < list.size(); ++i)
        if (!list[i]->isBonjour() && list[i]->driveConfigId() == driveId)
            return i;
    return -1;
}

void QNMainWindowController::tableViewSelectionDidChange(int row) {
    const QNDriveConfigList list = drives();
    if (row == list.size()) {
        if (addDrivePresenter())
            addDrivePresenter()(this);
        else
            VNLog::log(QStringLiteral("QNMainWindowController add drive: no add-drive window in this build"));
    } else if (row >= 0 && row < list.size()) {
        const QNDriveConfigPtr drive = list.at(row);
        emit driveChosen(drive);
        if (driveOpener())
            driveOpener()(this, drive);
        else
            openDrive(drive);
    }
    // Nothing stays selected, so the same row can be chosen again.
    if (m_tableView)
        m_tableView->clearSelection();
}

// ---------------------------------------------------------------- reorder

QMimeData *QNMainWindowController::writeRows(const QList<int> &rows) const {
    const QNDriveConfigList list = drives();
    if (rows.isEmpty())
        return nullptr;
    for (int r : rows)
        if (r < 0 || r >= list.size())
            return nullptr;  // the "Add Drive" row does not move
    const QNDriveConfigPtr dragged = list.at(rows.first());
    auto *data = new QMimeData;
    // Our window, the row and a fresh key of this drag: a drop elsewhere is
    // refused, and the drive's id, kept here, finds it even if the list
    // changed meanwhile. The id itself (it holds the password) never goes
    // into the drag's data, which any client of the display can read.
    m_dragKey = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_draggedDriveId = dragged->driveConfigId();
    const QByteArray payload =
        (m_windowId + QLatin1Char('\n') + QString::number(rows.first()) + QLatin1Char('\n') + m_dragKey).toUtf8();
    data->setData(driveDragMimeType(), payload);
    return data;
}

bool QNMainWindowController::acceptDrop(const QMimeData *data, int row) {
    if (!data || !data->hasFormat(driveDragMimeType()))
        return false;
    const QStringList parts = QString::fromUtf8(data->data(driveDragMimeType())).split(QLatin1Char('\n'));
    if (parts.size() < 3 || parts[0] != m_windowId)
        return false;  // dragged from another window's list
    bool ok = false;
    const int draggedRow = parts[1].toInt(&ok);
    if (parts[2] != m_dragKey)
        return false;  // not this window's last drag
    const QString draggedId = m_draggedDriveId;
    QNDriveConfigList list = drives();
    if (!ok || row < 0 || row > list.size())
        return false;
    // The dragged drive: at its row if that still holds it, else by id.
    int from = -1;
    if (draggedRow >= 0 && draggedRow < list.size() && list[draggedRow]->driveConfigId() == draggedId)
        from = draggedRow;
    else
        from = rowOfDrive(nullptr, draggedId);
    if (from < 0 || list[from]->isBonjour())
        return false;
    const QNDriveConfigPtr drive = list.takeAt(from);
    list.insert(from < row ? row - 1 : row, drive);
    if (!saveWindowDrives(list))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_drives = list;
    }
    if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
        d->reloadDrives();
    else
        reloadDrives();
    return true;
}

bool QNMainWindowController::saveWindowDrives(QNDriveConfigList list) {
    for (int i = int(list.size()) - 1; i >= 0; --i)
        if (list[i]->isBonjour())
            list.removeAt(i);
    VNErrorPtr error;
    if (!QNDriveConfig::writeStoredDrives(list, &error)) {
        VNLog::log(QStringLiteral("QNMainWindowController save drives error: %1")
                       .arg(error ? error->localizedDescription() : QString()));
        if (error && m_window)
            QNDialogService::shared().beginAlertSheet(QNAlert::fromError(error), m_window);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- edit, remove

void QNMainWindowController::editDrive(int row) {
    const QNDriveConfigList list = drives();
    if (row < 0 || row >= list.size() || list[row]->isBonjour())
        return;
    const QNDriveConfigPtr drive = list[row];
    const QString originalId = drive->driveConfigId();
    if (!driveSettingsPresenter()) {
        VNLog::log(QStringLiteral("QNMainWindowController edit drive: no drive-settings window in this build"));
        return;
    }
    QPointer<QNMainWindowController> guard(this);
    driveSettingsPresenter()(this, drive, [guard, drive, originalId, row](int returnCode) {
        if (guard)
            guard->finishEdit(drive, originalId, row, returnCode);
    });
}

void QNMainWindowController::finishEdit(const QNDriveConfigPtr &drive, const QString &originalId, int storedIndex,
                                        int returnCode) {
    if (returnCode == 0)
        return;
    if (drive->oAuthLogin()) {
        saveDriveConfig(drive, originalId, storedIndex);
        return;
    }
    m_cloudInterface = drive->createCloudInterface();
    auto reportFailure = [this, drive](const VNErrorPtr &error) {
        QNDialogService::shared().runModal(QNAlert::loginFailure(error, drive));
        VNLog::log(QStringLiteral("Error login: %1").arg(error ? error->localizedDescription() : QString()));
        // The stored values come back on screen.
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->reloadDrives();
        else
            reloadDrives();
    };
    if (!m_cloudInterface) {
        reportFailure(VNError::make(QStringLiteral("QNDriveConfig"), 42, QStringLiteral("error"),
                                    QStringLiteral("%1 drives are not supported yet.").arg(drive->serviceName())));
        return;
    }
    m_progressIndicator->show();
    QPointer<QNMainWindowController> guard(this);
    QNCloudInterfacePtr handler = m_cloudInterface;
    handler->login([guard, drive, originalId, storedIndex, reportFailure, handler](bool ok, VNErrorPtr error,
                                                                                   bool cancelled) {
        VNDispatch::mainAsync([=] {
            if (!guard)
                return;
            guard->m_progressIndicator->hide();
            if (guard->m_cloudInterface == handler)
                guard->m_cloudInterface.reset();
            if (cancelled)
                return;
            if (ok)
                guard->saveDriveConfig(drive, originalId, storedIndex);
            else
                reportFailure(error);
        });
    });
}

bool QNMainWindowController::saveDriveConfig(const QNDriveConfigPtr &drive, const QString &originalId,
                                             int storedIndexHint) {
    VNErrorPtr error;
    bool replaced = false;
    const bool saved = QNDriveConfig::updateStoredDrives(
        [&](QNDriveConfigList &stored) {
            int index = -1;
            if (storedIndexHint >= 0 && storedIndexHint < stored.size() &&
                stored[storedIndexHint]->driveConfigId() == originalId)
                index = storedIndexHint;
            for (int i = 0; index < 0 && i < stored.size(); ++i)
                if (stored[i]->driveConfigId() == originalId)
                    index = i;
            if (index >= 0) {
                stored[index] = drive;
                replaced = true;
            }
        },
        &error);
    if (!saved || !replaced) {
        VNLog::log(QStringLiteral("QNMainWindowController saveDriveConfig error: %1")
                       .arg(error ? error->localizedDescription() : QStringLiteral("the drive is no longer stored")));
        if (error && m_window)
            QNDialogService::shared().beginAlertSheet(QNAlert::fromError(error), m_window);
    }
    if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
        d->reloadDrives();
    else
        reloadDrives();
    return saved && replaced;
}

void QNMainWindowController::deleteDrive(int row) {
    const QNDriveConfigList list = drives();
    if (row < 0 || row >= list.size() || list[row]->isBonjour())
        return;
    const QNDriveConfigPtr drive = list[row];
    const QString id = drive->driveConfigId();
    QNAlert alert;
    alert.messageText = QStringLiteral("Remove Drive");
    alert.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    alert.informativeText = QStringLiteral("Do you want to remove %1")
                                .arg(drive->displayName().isNull() ? QNUtils::decapName(drive->name())
                                                                   : drive->displayName());
    std::weak_ptr<QNDriveConfig> weak = drive;
    QPointer<QNMainWindowController> guard(this);
    QNDialogService::shared().beginAlertSheet(alert, window(), [guard, weak, id](const QNAlertResult &result) {
        if (!guard || result.returnCode != QNAlert::FirstButtonReturn)
            return;
        const int r = guard->rowOfDrive(weak.lock(), id);
        if (r < 0)
            return;  // gone meanwhile
        QNDriveConfigList list = guard->drives();
        const QNDriveConfigPtr removed = list.takeAt(r);
        if (!guard->saveWindowDrives(list))
            return;
        QNCloudInterfaceFactory::driveRemoved(*removed);
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->reloadDrives();
        else
            guard->reloadDrives();
    });
}

// ---------------------------------------------------------------- quota, relist

void QNMainWindowController::setQuotaDescription(const QString &driveConfigId, const QString &text) {
    m_quotaDescriptions.insert(driveConfigId, text);
}

void QNMainWindowController::updateQuotaClean(bool clean) {
    std::lock_guard lock(m_mutex);
    if (clean)
        m_quotaDescriptions.clear();
    // Each drive is asked once: again only after its entry was dropped.
    const QNDriveConfigList list = m_drives;
    for (const QNDriveConfigPtr &drive : list) {
        const QString id = drive->driveConfigId();
        if (m_quotaDescriptions.contains(id))
            continue;
        m_quotaDescriptions.insert(id, QString());
        updateQuotaForDriveConfig(drive);
    }
}

void QNMainWindowController::relistCurrentFolder() {
    if (m_relister)
        m_relister();
    else
        pop(0);
}

// ---------------------------------------------------------------- discovery

void QNMainWindowController::startBonjour() {
    m_foundBonjourServices.clear();
    m_bonjourServices.clear();
    if (m_netServiceBrowser)
        m_netServiceBrowser->searchForServices(QStringLiteral("_webdav._tcp."), QString());
    reloadDrives();
}

void QNMainWindowController::stopBonjour() {
    if (m_netServiceBrowser)
        m_netServiceBrowser->stop();
}

void QNMainWindowController::serviceFound(const QNNetService &service) {
    for (const QNNetService &known : std::as_const(m_foundBonjourServices))
        if (known.isSameAnnouncement(service))
            return;
    VNLog::log(QStringLiteral("adding %1 to found").arg(service.name));
    m_foundBonjourServices << service;
    m_netServiceBrowser->resolve(service, kBonjourResolveTimeoutMs);
}

void QNMainWindowController::serviceResolved(const QNNetService &service) {
    bool listed = false;
    for (const QNNetService &known : std::as_const(m_bonjourServices))
        if (known.isSameAnnouncement(service) || known.name == service.name)
            listed = true;
    if (!listed) {
        m_bonjourServices << service;
        VNLog::log(QStringLiteral("adding %1 to services").arg(service.name));
    }
    reloadDrives();
}

void QNMainWindowController::serviceNotResolved(const QNNetService &service) {
    m_foundBonjourServices.removeIf([&](const QNNetService &s) { return s.isSameAnnouncement(service); });
}

void QNMainWindowController::serviceRemoved(const QNNetService &service) {
    m_foundBonjourServices.removeIf([&](const QNNetService &s) { return s.isSameAnnouncement(service); });
    // The row goes at the next reload of the list.
    m_bonjourServices.removeIf([&](const QNNetService &s) { return s.isSameAnnouncement(service); });
}
