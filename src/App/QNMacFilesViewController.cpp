#include "App/QNMacFilesViewController.h"

#include "App/QNAlert.h"
#include "App/QNDialogService.h"
#include "App/QNFilesTableModel.h"
#include "App/QNImageBrowserView.h"
#include "App/QNImageLibrary.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacTableView.h"
#include "App/QNMainWindowController.h"
#include "App/TBWindow.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNTempDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QNMacFilesViewController::DocumentOpener &documentOpener() {
    static QNMacFilesViewController::DocumentOpener opener;
    return opener;
}

QString joinPath(const QString &folder, const QString &name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

}  // namespace

// One listing: its number and the pane it reports to (read on the main
// thread only).
struct QNMacFilesViewController::ListingContext {
    quint64 generation = 0;
    QPointer<QNMacFilesViewController> pane;
};

void QNMacFilesViewController::setDocumentOpener(DocumentOpener opener) { documentOpener() = std::move(opener); }

QNMacFilesViewController::QNMacFilesViewController(QObject *parent) : QObject(parent) {
    m_thumbOperationQueue = std::make_unique<VNOperationQueue>(QStringLiteral("QNMacFilesViewController thumbnails"));
    m_thumbOperationQueue->setMaxConcurrentOperationCount(2);
    m_tempPath = joinPath(VNTempDirectory::path(), QNUtils::uuidString());
    m_renameOperationQueue = std::make_unique<VNOperationQueue>(QStringLiteral("QNMacFilesViewController rename"));
    m_renameOperationQueue->setMaxConcurrentOperationCount(1);
    if (!QDir().mkpath(m_tempPath))
        VNLog::log(QStringLiteral("Error creating temp path: %1").arg(m_tempPath));
    buildView();
    buildMenus();
    setUpDragAndDrop();
    setUpThumbnails();
    setUpPreview();
    awakeFromNib();
}

QNMacFilesViewController::~QNMacFilesViewController() {
    if (m_listDocumentsOperationQueue)
        m_listDocumentsOperationQueue->cancelAllOperations();
    m_thumbOperationQueue->cancelAllOperations();
    m_renameOperationQueue->cancelAllOperations();
    // A preview copy would go on writing into a folder that went with the pane.
    cancelPreviewTask();
    delete m_view.data();
    VNLog::log(QStringLiteral("QNMacFilesViewController dealloc"));
}

void QNMacFilesViewController::buildView() {
    m_view = new QWidget;
    m_view->setObjectName(QStringLiteral("QNMacFilesViewController"));
    auto *column = new QVBoxLayout(m_view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_viewStack = new QStackedWidget(m_view);
    column->addWidget(m_viewStack, 1);

    m_tableView = new QNMacTableView(m_viewStack);
    m_tableView->setObjectName(QStringLiteral("colTableView"));
    m_tableModel = new QNFilesTableModel(this, this);
    m_tableView->setModel(m_tableModel);
    m_tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tableView->setFrameShape(QFrame::NoFrame);
    // A name is edited in place by clicking a selected row's name, or F2.
    m_tableView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    m_tableView->verticalHeader()->setDefaultSectionSize(24);
    QHeaderView *header = m_tableView->horizontalHeader();
    header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(DateColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(SizeColumn, QHeaderView::Interactive);
    header->resizeSection(DateColumn, 180);
    header->resizeSection(SizeColumn, 90);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) { sortByColumn(section); });
    m_viewStack->addWidget(m_tableView);

    m_imageBrowserView = new QNImageBrowserView(m_viewStack);
    m_imageBrowserView->setObjectName(QStringLiteral("imageBrowserView"));
    m_imageBrowserView->setFrameShape(QFrame::NoFrame);
    m_imageBrowserView->setDataSource([this] { return numberOfItemsInImageBrowser(); },
                                      [this](int i) { return imageBrowserItemAtIndex(i); });
    m_viewStack->addWidget(m_imageBrowserView);

    auto *counts = new QWidget(m_view);
    counts->setObjectName(QStringLiteral("countsBar"));
    counts->setFixedHeight(24);
    auto *countsRow = new QHBoxLayout(counts);
    countsRow->setContentsMargins(12, 0, 12, 0);
    m_foldersLabel = new QLabel(counts);
    m_foldersLabel->setObjectName(QStringLiteral("foldersLabel"));
    m_filesLabel = new QLabel(counts);
    m_filesLabel->setObjectName(QStringLiteral("filesLabel"));
    countsRow->addWidget(m_foldersLabel);
    countsRow->addSpacing(16);
    countsRow->addWidget(m_filesLabel);
    countsRow->addStretch(1);
    column->addWidget(counts);

    connect(m_tableView, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { doubleClickAction(index.isValid() ? index.row() : -1); });
    connect(m_imageBrowserView, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { doubleClickAction(index.isValid() ? index.row() : -1); });
}

void QNMacFilesViewController::awakeFromNib() {
    if (m_initialized)
        return;
    m_initialized = true;
    m_foldersLabel->hide();
    m_filesLabel->hide();
    m_imageBrowserView->setZoomValue(0.5f);
    clearThumbTempPath();
    clearPreviewTempPath();
}

QWidget *QNMacFilesViewController::tableViewScrollView() const { return m_tableView; }
QWidget *QNMacFilesViewController::imageBrowserScrollView() const { return m_imageBrowserView; }

// ---------------------------------------------------------------- temporary folders

void QNMacFilesViewController::clearTempPath() {
    if (m_tempPath.isEmpty())
        return;
    // The copies Open and Open With made stay: another application may
    // still write to them, and their changes are offered to go back.
    QNMacAppDelegate *delegate = QNMacAppDelegate::shared();
    const QFileInfoList entries =
        QDir(m_tempPath).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    bool kept = false;
    for (const QFileInfo &entry : entries) {
        const QString path = entry.absoluteFilePath();
        if (delegate && delegate->holdsOpenedDocument(path)) {
            kept = true;
            continue;
        }
        const bool removed = entry.isDir() && !entry.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
        if (!removed)
            VNLog::log(QStringLiteral("Error clearing temp path: %1").arg(path));
    }
    if (!kept)
        QDir().rmdir(m_tempPath);
}

void QNMacFilesViewController::replaceFolder(QString &path, const QString &base, const QString &logText) {
    if (!path.isEmpty()) {
        QDir old(path);
        if (old.exists() && !old.removeRecursively())
            VNLog::log(logText.arg(path));
    }
    path = joinPath(base, QNUtils::uuidString());
    if (!QDir().mkpath(path))
        VNLog::log(logText.arg(path));
}

void QNMacFilesViewController::clearThumbTempPath() {
    replaceFolder(m_thumbTempPath, m_tempPath, QStringLiteral("Error in clearThumbTempPath: %1"));
}

void QNMacFilesViewController::clearPreviewTempPath() {
    replaceFolder(m_previewTempPath, m_tempPath, QStringLiteral("Error in clearPreviewTempPath: %1"));
}

// ---------------------------------------------------------------- listing

void QNMacFilesViewController::setProgressIndicatorRunning(bool running) {
    QNMainWindowController *window = m_mainWindowController.data();
    if (!window || !window->progressIndicator())
        return;
    window->progressIndicator()->setVisible(running);
}

void QNMacFilesViewController::listDocuments() {
    if (!VNDispatch::isMainThread()) {
        QPointer<QNMacFilesViewController> guard(this);
        VNDispatch::mainAsync([guard] {
            if (guard)
                guard->listDocuments();
        });
        return;
    }
    m_foldersLabel->hide();
    m_filesLabel->hide();
    // The listing before is abandoned: its queue cancelled, its answer ignored.
    if (m_listDocumentsOperationQueue)
        m_listDocumentsOperationQueue->cancelAllOperations();
    m_listDocumentsOperationQueue = std::make_shared<VNOperationQueue>(QStringLiteral("QNMacFilesViewController list"));
    auto context = std::make_shared<ListingContext>();
    context->generation = ++m_listingGeneration;
    context->pane = this;
    m_listing = context;
    m_listingRunning = true;
    setProgressIndicatorRunning(true);

    auto operation = std::make_shared<QNListDocumentsOperation>(
        m_driveConfig, m_document, m_searchKeyword,
        [context](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            // Whatever thread answers, the pane takes the result on the main thread.
            VNDispatch::mainAsync([context, documents = std::move(documents), error, cancelled]() mutable {
                if (QNMacFilesViewController *pane = context->pane.data())
                    pane->listingDidComplete(context->generation, std::move(documents), error, cancelled);
            });
        });
    m_listDocumentsOperationQueue->addOperation(operation);
}

void QNMacFilesViewController::cancelListing() {
    if (m_listDocumentsOperationQueue)
        m_listDocumentsOperationQueue->cancelAllOperations();
    m_listing.reset();
    ++m_listingGeneration;
    if (m_listingRunning) {
        m_listingRunning = false;
        setProgressIndicatorRunning(false);
    }
}

void QNMacFilesViewController::listingDidComplete(quint64 generation, QNDocumentList documents, VNErrorPtr error,
                                                  bool cancelled) {
    if (generation != m_listingGeneration)
        return;  // a newer listing owns the views and the progress indicator
    m_listing.reset();
    m_listingRunning = false;
    if (cancelled || error)
        setProgressIndicatorRunning(false);
    if (error && !cancelled) {
        VNLog::log(QStringLiteral("QNMacFilesViewController listDocuments error: %1").arg(error->localizedDescription()));
        showErrorSheet(error);
    }
    if (cancelled || error)
        return;
    // A fresh pane shows folders before files, each group by name.
    if (m_sortDescriptors.isEmpty())
        m_sortDescriptors = {{QStringLiteral("isDirectory"), false}, {QStringLiteral("displayName"), true}};
    documents.removeAll(nullptr);
    m_documents = QNDocumentSortDescriptor::sorted(std::move(documents), m_sortDescriptors);
    resetThumbnails();
    cancelPreviewTask();
    m_previewCache.clear();
    m_previewFailures.clear();
    clearThumbTempPath();
    clearPreviewTempPath();
    reloadVisibleView();
    setProgressIndicatorRunning(false);
    updateCounts();
}

void QNMacFilesViewController::reloadVisibleView() {
    if (m_showThumbnails) {
        m_imageBrowserView->reloadData();
    } else {
        m_tableModel->reload();
    }
}

void QNMacFilesViewController::updateCounts() {
    const QString driveId = m_driveConfig ? m_driveConfig->driveConfigId() : QString();
    qint32 folders = 0;
    qint32 files = 0;
    qint64 total = 0;
    for (const QNDocumentPtr &doc : std::as_const(m_documents)) {
        doc->setDriveConfigId(driveId);
        if (doc->isDirectory()) {
            ++folders;
            doc->setSize(0);
        } else {
            ++files;
            total += std::max<qint64>(0, doc->size());
        }
    }
    m_foldersLabel->setText(
        QStringLiteral("%1 %2").arg(folders).arg(folders == 1 ? QStringLiteral("Folder") : QStringLiteral("Folders")));
    m_foldersLabel->setVisible(folders != 0);
    const QString fileWord = files == 1 ? QStringLiteral("File") : QStringLiteral("Files");
    if (total > 0)
        m_filesLabel->setText(QStringLiteral("%1 in %2 %3").arg(QNUtils::sizeString2(total)).arg(files).arg(fileWord));
    else
        m_filesLabel->setText(QStringLiteral("%1 %2").arg(files).arg(fileWord));
    m_filesLabel->show();
}

bool QNMacFilesViewController::showAsFolder(const QNDocumentPtr &document) {
    if (!document || !document->isDirectory())
        return false;
    const QString extension = QFileInfo(document->path()).suffix().toLower();
    return extension != QLatin1String("pages") && extension != QLatin1String("numbers") &&
           extension != QLatin1String("key");
}

void QNMacFilesViewController::changeView(bool thumbnails) {
    m_showThumbnails = thumbnails;
    QPointer<QNMacFilesViewController> guard(this);
    auto apply = [guard, thumbnails] {
        if (!guard)
            return;
        // Both views are reloaded: the hidden one reports no rows.
        guard->m_tableModel->reload();
        guard->m_imageBrowserView->reloadData();
        guard->m_viewStack->setCurrentWidget(thumbnails ? static_cast<QWidget *>(guard->m_imageBrowserView)
                                                        : static_cast<QWidget *>(guard->m_tableView));
    };
    if (VNDispatch::isMainThread())
        apply();
    else
        VNDispatch::mainAsync(apply);
}

// ---------------------------------------------------------------- sorting

void QNMacFilesViewController::resortKeepingSelection() {
    // The entries selected stay selected in their new rows (and the preview
    // panel asks again for the entry under the selection).
    QSet<const QNDocument *> selected;
    for (int row : selectedIndexes())
        if (const QNDocumentPtr d = m_documents.value(row))
            selected.insert(d.get());
    m_documents = QNDocumentSortDescriptor::sorted(m_documents, m_sortDescriptors);
    reloadVisibleView();
    QList<int> rows;
    for (int i = 0; i < m_documents.size(); ++i)
        if (selected.contains(m_documents.at(i).get()))
            rows << i;
    if (rows.isEmpty())
        return;
    if (m_showThumbnails) {
        m_imageBrowserView->setSelectionIndexes(rows);
        return;
    }
    QItemSelection selection;
    for (int row : rows)
        selection.select(m_tableModel->index(row, 0), m_tableModel->index(row, m_tableModel->columnCount() - 1));
    m_tableView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void QNMacFilesViewController::arrangeBy(const QString &key) {
    m_sortDescriptors = {{key, true}};
    resortKeepingSelection();
}

void QNMacFilesViewController::arrangeByName() { arrangeBy(QStringLiteral("displayName")); }
void QNMacFilesViewController::arrangeByDate() { arrangeBy(QStringLiteral("date")); }
void QNMacFilesViewController::arrangeBySize() { arrangeBy(QStringLiteral("size")); }

void QNMacFilesViewController::sortByColumn(int column) {
    QString key;
    switch (column) {
    case NameColumn: key = QStringLiteral("displayName"); break;
    case DateColumn: key = QStringLiteral("date"); break;
    case SizeColumn: key = QStringLiteral("size"); break;
    default: return;
    }
    bool ascending = true;
    if (!m_sortDescriptors.isEmpty() && m_sortDescriptors.first().key == key)
        ascending = !m_sortDescriptors.first().ascending;
    m_sortDescriptors.removeIf([&](const QNDocumentSortDescriptor &d) { return d.key == key; });
    m_sortDescriptors.prepend({key, ascending});
    QHeaderView *header = m_tableView->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    tableViewSortDescriptorsDidChange();
}

void QNMacFilesViewController::tableViewSortDescriptorsDidChange() { resortKeepingSelection(); }

// ---------------------------------------------------------------- table and browser

QString QNMacFilesViewController::identifierForColumn(int column) {
    switch (column) {
    case NameColumn: return QStringLiteral("nameCell");
    case DateColumn: return QStringLiteral("dateCell");
    case SizeColumn: return QStringLiteral("sizeCell");
    default: return QString();
    }
}

int QNMacFilesViewController::numberOfRowsInTableView() const {
    return m_showThumbnails ? 0 : int(m_documents.size());
}

int QNMacFilesViewController::numberOfItemsInImageBrowser() const {
    return m_showThumbnails ? int(m_documents.size()) : 0;
}

QString QNMacFilesViewController::tableViewText(const QString &identifier, int row) const {
    const QNDocumentPtr doc = m_documents.value(row);
    if (!doc)
        return QString();
    if (identifier == QLatin1String("nameCell"))
        return doc->displayName();
    if (identifier == QLatin1String("dateCell")) {
        const QDateTime date = doc->date();
        if (!date.isValid())
            return QString();
        return mediumDateTimeText(date);
    }
    if (identifier == QLatin1String("sizeCell"))
        return doc->size() >= 1 ? QNUtils::sizeString2(doc->size()) : QString();
    return QString();
}

QString QNMacFilesViewController::mediumDateTimeText(const QDateTime &date, const QLocale &locale) {
    // The locale has short and long styles only. Medium is the long date
    // without its weekday and with the month abbreviated, and the long time
    // (with seconds) without its zone.
    static const QRegularExpression weekday(QStringLiteral("\\s*dddd[,.]?\\s*"));
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?\\s*"));
    QString datePattern = locale.dateFormat(QLocale::LongFormat);
    datePattern.replace(weekday, QStringLiteral(" "));
    datePattern.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    QString timePattern = locale.timeFormat(QLocale::LongFormat);
    timePattern.replace(zone, QStringLiteral(" "));
    const QDateTime local = date.toLocalTime();
    return (locale.toString(local.date(), datePattern.trimmed()) + QLatin1Char(' ') +
            locale.toString(local.time(), timePattern.trimmed()))
        .trimmed();
}

bool QNMacFilesViewController::isNameEditable() const {
    return m_driveConfig && m_document && m_driveConfig->supportsRename(m_document);
}

// ---------------------------------------------------------------- opening

void QNMacFilesViewController::doubleClickAction(int index) {
    if (index < 0 || index >= m_documents.size())
        return;
    const QNDocumentPtr doc = m_documents.at(index);
    if (showAsFolder(doc)) {
        if (QNMainWindowController *window = m_mainWindowController.data())
            window->openFolder(doc);
        m_tableView->clearSelection();
        return;
    }
    if (documentOpener())
        documentOpener()(this, doc);
    else
        openDocument(doc);
}

void QNMacFilesViewController::showErrorSheet(const VNErrorPtr &error) {
    QPointer<QNMainWindowController> window = m_mainWindowController;
    const QNDriveConfigPtr drive = m_driveConfig;
    VNDispatch::mainAsync([window, error, drive] {
        if (!window || !error)
            return;
        QNDialogService::shared().beginAlertSheet(errorAlert(error, drive), window->window());
    });
}

QNAlert QNMacFilesViewController::errorAlert(const VNErrorPtr &error, const QNDriveConfigPtr &drive) {
    return QNAlert::fromError(QNErrorWrapper::wrap(error), drive);
}
