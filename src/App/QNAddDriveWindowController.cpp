#include "App/QNAddDriveWindowController.h"

#include "App/QNDialogService.h"
#include "App/QNDriveConfigWindowController.h"
#include "App/QNImageLibrary.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacTableView.h"
#include "App/QNMainTableCellView.h"
#include "App/QNMainWindowController.h"
#include "App/QNTableRowView.h"
#include "App/QNWebLoginModule.h"
#include "App/TBWindow.h"
#include "App/WebLogin/QNAuthWindowController.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const int kRowHeight = 66;

// The sign-in sheet's class lives in the web sign-in module, which the
// program does not link, so its type information is not here for the
// undefined-behaviour sanitizer's type check of a member call: calls into a
// sheet go through these two, without that check.
[[gnu::no_sanitize("vptr")]] QWidget *sheetWindow(QNAuthWindowController &sheet) {
    return sheet.window();
}

[[gnu::no_sanitize("vptr")]] void closeSheet(QNAuthWindowController &sheet) {
    sheet.closePanel();
}

QNDriveConfigPtr makeTemplate(const char *name, const char *description, const char *image,
                              void (QNDriveConfig::*setKind)(bool)) {
    auto d = QNDriveConfig::create();
    d->setName(QString::fromUtf8(name));
    d->setDescription(QString::fromUtf8(description));
    d->setImage(QString::fromUtf8(image));
    ((*d).*setKind)(true);
    return d;
}

}  // namespace

QNDriveConfigList QNAddDriveWindowController::makeTemplates() {
    QNDriveConfigList t;
    t << makeTemplate("DROPBOX", "CREATE A CONNECTION WITH DROPBOX", "icon_dropbox.pdf", &QNDriveConfig::setIsDropbox);
    t << makeTemplate("BOX", "CREATE A CONNECTION WITH BOX", "icon_box.pdf", &QNDriveConfig::setIsBox);
    t << makeTemplate("OneDrive", "Create a connection with Microsoft OneDrive", "icon_skydrive.pdf",
                      &QNDriveConfig::setIsSkyDrive);
    t << makeTemplate("Office 365 OneDrive for Business", "Create a connection with Microsoft OneDrive for Business",
                      "drive-office365", &QNDriveConfig::setIsOffice365);
    t << makeTemplate("GOOGLE DRIVE", "CREATE A CONNECTION WITH GOOGLE DRIVE", "icon_google_drive.pdf",
                      &QNDriveConfig::setIsGoogleDrive);
    t << makeTemplate("COPY", "CREATE A CONNECTION WITH COPY", "icon_copy.pdf", &QNDriveConfig::setIsCopy);
    t << makeTemplate("SUGARSYNC", "CREATE A CONNECTION WITH SUGARSYNC", "icon_sugarsync.pdf",
                      &QNDriveConfig::setIsSugarSync);
    t << makeTemplate("Bitcasa", "Create a connection with Bitcasa", "drive-bitcasa", &QNDriveConfig::setIsBitcasa);
    t << makeTemplate("PICASA", "CREATE A CONNECTION WITH PICASA", "icon_picasa.pdf", &QNDriveConfig::setIsGooglePhotos);
    t << makeTemplate("FLICKR", "CREATE A CONNECTION WITH FLICKR", "icon_flickr.pdf", &QNDriveConfig::setIsFlickr);
    t << makeTemplate("WEBDAV", "CREATE A CONNECTION WITH WEBDAV", "icon_webdav.pdf", &QNDriveConfig::setIsWebDAV);
    t.last()->setValidateCertificates(true);
    t << makeTemplate("FTP", "CREATE A CONNECTION WITH FTP", "icon_ftp.pdf", &QNDriveConfig::setIsFTP);
    return t;
}

QNAddDriveWindowController::QNAddDriveWindowController(QObject *parent)
    : QObject(parent), m_drives(makeTemplates()) {}

QNAddDriveWindowController::~QNAddDriveWindowController() {
    if (m_cloudInterface)
        m_cloudInterface->cancel();
    if (m_authWindowController)
        closeSheet(*m_authWindowController);
    delete m_driveConfigWindowController.data();
    if (m_window && !m_closed)
        QNDialogService::shared().endSheet(m_window, 0);
    delete m_window;
}

void QNAddDriveWindowController::setMainWindowController(QNMainWindowController *controller) {
    m_mainWindowController = controller;
}

QColor QNAddDriveWindowController::subtitleColor() {
    return QColor::fromRgbF(141 / 255.0, 124 / 255.0, 125 / 255.0, 1.0);
}

QNAddDriveWindowController::RowContent QNAddDriveWindowController::rowContent(int row) const {
    RowContent c;
    if (row < 0 || row >= m_drives.size())
        return c;
    const QNDriveConfigPtr &d = m_drives.at(row);
    c.title = QNUtils::decapName(d->name());
    c.subTitle = QNUtils::decapDescription(QNUtils::decapName(d->description()));
    c.subTitleColor = subtitleColor();
    c.iconName = QNImageLibrary::baseName(QNUtils::redesignImageFor(d->image()));
    return c;
}

QWidget *QNAddDriveWindowController::window() {
    if (!m_window)
        buildWindow();
    return m_window;
}

QNMacTableView *QNAddDriveWindowController::tableView() {
    window();
    return m_tableView;
}

void QNAddDriveWindowController::buildWindow() {
    auto *dialog = new QDialog;
    m_window = dialog;
    m_window->setObjectName(QStringLiteral("QNAddDriveWindowController"));
    m_window->setWindowTitle(QStringLiteral("Add Drive"));
    m_window->resize(520, 600);
    connect(dialog, &QDialog::rejected, this, [this] {
        if (!m_closed)
            closePanel();
    });

    auto *column = new QVBoxLayout(m_window);
    column->setContentsMargins(0, 0, 0, 10);
    column->setSpacing(10);

    m_tableView = new QNMacTableView(m_window);
    m_tableView->setObjectName(QStringLiteral("addDriveTable"));
    // A sheet is sized to what it holds, all twelve rows, and shortened to
    // the window it comes out on: the list then scrolls, down to three rows.
    m_tableView->setMinimumSize(480, 3 * kRowHeight);
    m_tableView->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    m_model = new QStandardItemModel(int(m_drives.size()), 1, this);
    for (int r = 0; r < m_drives.size(); ++r) {
        auto *item = new QStandardItem;
        item->setEditable(false);
        item->setData(rowContent(r).title, Qt::AccessibleTextRole);
        m_model->setItem(r, 0, item);
    }
    m_tableView->setModel(m_model);
    m_tableView->setItemDelegate(new QNTableRowView(m_tableView));
    m_tableView->horizontalHeader()->hide();
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    m_tableView->verticalHeader()->hide();
    m_tableView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tableView->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->setFrameShape(QFrame::NoFrame);
    m_tableView->setShowGrid(false);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette tp = m_tableView->palette();
    tp.setColor(QPalette::Base, QColor(0xfd, 0xfb, 0xfb));
    m_tableView->setPalette(tp);
    for (int r = 0; r < m_drives.size(); ++r) {
        const RowContent c = rowContent(r);
        auto *cell = new QNMainTableCellView;
        cell->setObjectName(QStringLiteral("addDriveCell"));
        cell->title()->setText(c.title);
        cell->subTitle()->setText(c.subTitle);
        QPalette sp = cell->subTitle()->palette();
        sp.setColor(QPalette::WindowText, c.subTitleColor);
        cell->subTitle()->setPalette(sp);
        cell->icon()->setPixmap(QNImageLibrary::imageNamed(c.iconName));
        cell->editButton()->hide();
        cell->deleteButton()->hide();
        m_tableView->setIndexWidget(m_model->index(r, 0), cell);
    }
    connect(m_tableView, &QAbstractItemView::clicked, this,
            [this](const QModelIndex &index) { tableViewSelectionDidChange(index.row()); });
    m_window->installEventFilter(this);
    m_tableViewport = m_tableView->viewport();
    m_tableViewport->installEventFilter(this);
    column->addWidget(m_tableView, 1);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(12, 0, 12, 0);
    m_progressIndicator = new QProgressBar(m_window);
    m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setFixedSize(80, 8);
    m_progressIndicator->hide();
    bar->addWidget(m_progressIndicator);
    bar->addStretch(1);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), m_window);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancelButton, &QPushButton::clicked, this, &QNAddDriveWindowController::closePanel);
    bar->addWidget(m_cancelButton);
    column->addLayout(bar);
}

bool QNAddDriveWindowController::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_window && event->type() == QEvent::Show) {
        m_shownTimer.start();
        m_ignoringClick = false;
    } else if (watched == m_tableViewport) {
        // The sheet comes up under the pointer on the first click of a
        // double-click on "Add Drive"; the second click would land on a
        // service and start its login. A press that soon after is ignored,
        // with its release.
        const QEvent::Type type = event->type();
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) && m_shownTimer.isValid()
            && m_shownTimer.elapsed() < QApplication::doubleClickInterval()) {
            m_ignoringClick = true;
            return true;
        }
        if (type == QEvent::MouseButtonRelease && m_ignoringClick) {
            m_ignoringClick = false;
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void QNAddDriveWindowController::beginSheet(QWidget *onWindow) {
    m_closed = false;
    QPointer<QNAddDriveWindowController> guard(this);
    QNDialogService::shared().beginSheet(window(), onWindow, [guard](int) {
        // Ended by the sheet service (its window went away): closed.
        if (guard && !guard->m_closed)
            guard->closePanel();
    });
}

namespace {

// The handler's message (under "error"), else the error's description.
QString errorText(const VNErrorPtr &error) {
    if (!error)
        return QStringLiteral("(no error)");
    return error->userInfo().value(QStringLiteral("error"), error->localizedDescription()).toString();
}

}  // namespace

VNErrorPtr QNAddDriveWindowController::notSupportedError(const QNDriveConfigPtr &drive) {
    const QString service = drive ? QNUtils::decapName(drive->name()) : QStringLiteral("This service");
    return VNError::make(QStringLiteral("QNCloudInterfaceFactory"), 42, QStringLiteral("error"),
                         QStringLiteral("%1 is not supported yet.").arg(service));
}

void QNAddDriveWindowController::replaceHandler(QNCloudInterfacePtr handler) {
    // An answer of the handler this one replaces is not waited for any more.
    if (m_cloudInterface && m_cloudInterface != handler)
        m_cloudInterface->cancel();
    m_cloudInterface = std::move(handler);
}

void QNAddDriveWindowController::tableViewSelectionDidChange(int row) {
    if (m_tableView)
        m_tableView->clearSelection();
    if (row < 0 || row >= m_drives.size() || m_closed)
        return;
    m_driveConfig = m_drives.at(row);
    QNCloudInterfacePtr handler = m_driveConfig->createCloudInterface();
    replaceHandler(handler);
    setBusy(false);
    if (!handler) {
        // No handler for this kind in this build: say so instead of a form
        // or a sign-in that could lead nowhere.
        const VNErrorPtr error = notSupportedError(m_driveConfig);
        VNLog::log(QStringLiteral("QNAddDriveWindowController %1").arg(errorText(error)));
        QNDialogService::shared().runModal(QNAlert::fromError(error));
        return;
    }
    if (m_driveConfig->oAuthLogin()) {
        startOAuthLogin(handler);
        return;
    }
    delete m_driveConfigWindowController.data();
    auto *form = new QNDriveConfigWindowController(this);
    m_driveConfigWindowController = form;
    form->setDriveConfig(m_driveConfig);
    QPointer<QNAddDriveWindowController> guard(this);
    form->beginSheet(window(), [guard](int returnCode) {
        if (guard)
            guard->sheetDidEnd(returnCode);
    });
}

void QNAddDriveWindowController::startOAuthLogin(const QNCloudInterfacePtr &handler) {
    if (m_authWindowController)
        closeSheet(*m_authWindowController);
    m_authWindowController.reset();
    QPointer<QNAddDriveWindowController> guard(this);
    // The handler may answer on any thread, and at once.
    auto sheet = handler->oAuthLoginWithCompletedBlock([guard, handler](bool ok, VNErrorPtr error, bool cancelled) {
        VNDispatch::mainAsync([guard, handler, ok, error, cancelled] {
            if (guard)
                guard->oAuthLoginDidEnd(handler, ok, error, cancelled);
        });
    });
    if (handler != m_cloudInterface)
        return;  // replaced meanwhile
    m_authWindowController = sheet;
    if (sheet)
        QNDialogService::shared().beginSheet(sheetWindow(*sheet), window());
}

void QNAddDriveWindowController::oAuthLoginDidEnd(const QNCloudInterfacePtr &handler, bool ok, VNErrorPtr error,
                                                  bool cancelled) {
    // One answer per login: a second one, or one of a handler replaced by a
    // later choice, is dropped (it must not save the drive again).
    if (!handler || handler != m_cloudInterface)
        return;
    m_cloudInterface.reset();
    if (std::shared_ptr<QNAuthWindowController> sheet = std::exchange(m_authWindowController, nullptr))
        closeSheet(*sheet);
    if (cancelled)
        return;
    if (error) {
        VNLog::log(QStringLiteral("QNAddDriveWindowController oAuthLogin error: %1").arg(errorText(error)));
        QNDialogService::shared().runModal(QNAlert::fromError(error, m_driveConfig));
        return;
    }
    if (ok)
        saveDriveConfig();
    // Not ok without an error: cancelled or refused on the provider's page.
}

void QNAddDriveWindowController::sheetDidEnd(int returnCode) {
    if (returnCode == 0 || m_closed || !m_driveConfig)
        return;
    QNCloudInterfacePtr handler = m_driveConfig->createCloudInterface();
    replaceHandler(handler);
    if (!handler) {
        loginDidEnd(nullptr, false, notSupportedError(m_driveConfig), false);
        return;
    }
    setBusy(true);
    QPointer<QNAddDriveWindowController> guard(this);
    handler->login([guard, handler](bool ok, VNErrorPtr error, bool cancelled) {
        VNDispatch::mainAsync([guard, handler, ok, error, cancelled] {
            if (guard)
                guard->loginDidEnd(handler, ok, error, cancelled);
        });
    });
}

void QNAddDriveWindowController::loginDidEnd(const QNCloudInterfacePtr &handler, bool ok, VNErrorPtr error,
                                             bool cancelled) {
    if (handler && handler != m_cloudInterface)
        return;  // a login replaced by a later choice
    m_cloudInterface.reset();
    setBusy(false);
    if (cancelled)
        return;
    if (ok) {
        saveDriveConfig();
        return;
    }
    QNDialogService::shared().runModal(QNAlert::loginFailure(error, m_driveConfig));
    VNLog::log(QStringLiteral("QNAddDriveWindowController Error login: %1").arg(errorText(error)));
}

bool QNAddDriveWindowController::saveDriveConfig() {
    if (!m_driveConfig)
        return false;
    const QNDriveConfigPtr drive = m_driveConfig;
    const bool editing = m_editing;
    const qint32 index = m_driveIndex;
    VNErrorPtr error;
    // Never over a stored list that cannot be read: that would lose every
    // drive in it. The bytes stay, and the user is told.
    const bool saved = QNDriveConfig::updateStoredDrives(
        [&](QNDriveConfigList &stored) {
            if (editing && index >= 0 && index < stored.size())
                stored[index] = drive;
            else
                stored.append(drive);
        },
        &error);
    if (!saved) {
        VNLog::log(QStringLiteral("QNAddDriveWindowController saveDriveConfig error: %1")
                       .arg(error ? error->localizedDescription() : QString()));
        QNAlert alert;
        alert.messageText = QStringLiteral("Could not Save Drive");
        alert.informativeText =
            QStringLiteral("The saved drives could not be read, so the new drive was not added and the saved "
                           "drives were left as they are.%1")
                .arg(error ? QStringLiteral(" (%1)").arg(error->localizedDescription()) : QString());
        alert.buttons = {QStringLiteral("OK")};
        alert.style = QNAlert::Critical;
        QNDialogService::shared().runModal(alert);
        return false;
    }
    closePanel();
    reloadMainWindows();
    emit driveSaved(drive);
    return true;
}

void QNAddDriveWindowController::reloadMainWindows() {
    if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
        delegate->reloadDrives();
    else if (m_mainWindowController)
        m_mainWindowController->reloadDrives();
}

void QNAddDriveWindowController::closePanel() {
    if (m_closed)
        return;
    m_closed = true;
    if (m_cloudInterface) {
        m_cloudInterface->cancel();
        m_cloudInterface.reset();
    }
    if (std::shared_ptr<QNAuthWindowController> sheet = std::exchange(m_authWindowController, nullptr))
        closeSheet(*sheet);
    if (m_driveConfigWindowController)
        m_driveConfigWindowController->cancel();
    setBusy(false);
    if (m_window) {
        QNDialogService::shared().endSheet(m_window, 0);
        m_window->hide();
    }
    emit closed();
}

void QNAddDriveWindowController::setBusy(bool busy) {
    if (m_progressIndicator)
        m_progressIndicator->setVisible(busy);
}

void QNAddDriveWindowController::install() {
    // The sheet's module loads when a drive first asks for a sheet.
    QNWebLoginModule::installLoginSheet();
    QNMainWindowController::setAddDrivePresenter([](QNMainWindowController *mainWindow) {
        // A new sheet (and a new set of templates) each time; the window
        // keeps it until the next.
        qDeleteAll(mainWindow->findChildren<QNAddDriveWindowController *>(Qt::FindDirectChildrenOnly));
        auto *sheet = new QNAddDriveWindowController(mainWindow);
        sheet->setMainWindowController(mainWindow);
        sheet->beginSheet(mainWindow->window());
    });
}
