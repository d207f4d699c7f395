// The pane as the preview panel's source: the selected entry is copied into
// the pane's preview folder by a preview task (one at a time; a new request
// cancels the old one) and the panel shows a placeholder until it arrives.
// All preview state is touched on the main thread only.

#include "App/QNImageBrowserView.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNMacTableView.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNPreviewTask.h"
#include "Core/QNPreviewTaskItem.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>

void QNMacFilesViewController::setUpPreview() {
    auto reload = [] {
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->reloadQuickLookPanel();
    };
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this, reload);
    connect(m_imageBrowserView->selectionModel(), &QItemSelectionModel::selectionChanged, this, reload);
}

QRect QNMacFilesViewController::previewPanelSourceFrame() const {
    VNLog::log(QStringLiteral("previewPanel:sourceFrameOnScreenForPreviewItem"));
    if (!m_view || !m_view->window() || !m_view->window()->isVisible())
        return {};
    const int row = previewRow();
    if (row < 0)
        return {};
    QRect frame;
    QWidget *viewport = nullptr;
    if (m_showThumbnails) {
        frame = m_imageBrowserView->visualRect(m_imageBrowserView->model()->index(row, 0));
        viewport = m_imageBrowserView->viewport();
    } else {
        // The whole row, every column of it.
        QAbstractItemModel *model = m_tableView->model();
        frame = m_tableView->visualRect(model->index(row, 0))
                    .united(m_tableView->visualRect(model->index(row, model->columnCount() - 1)));
        viewport = m_tableView->viewport();
    }
    return frame.isValid() ? QRect(viewport->mapToGlobal(frame.topLeft()), frame.size()) : QRect();
}

int QNMacFilesViewController::previewRow() const {
    // The entry the user selected last: the current one when it is part of
    // the selection.
    const QList<int> selected =
        m_showThumbnails ? m_imageBrowserView->selectionIndexes() : m_tableView->selectedRowList();
    if (selected.isEmpty())
        return -1;
    const QModelIndex current = m_showThumbnails ? m_imageBrowserView->currentIndex() : m_tableView->currentIndex();
    if (current.isValid() && selected.contains(current.row()))
        return current.row();
    return m_showThumbnails ? selected.last() : selected.first();
}

QUrl QNMacFilesViewController::previewPanelItem() {
    const int i = previewRow();
    if (i < 0 || i >= m_documents.size() || !m_driveConfig)
        return {};
    // Kept by entry, not by row: a re-sort moves the rows under the cache.
    const QNDocumentPtr d = m_documents.at(i);
    if (const auto cached = m_previewCache.find(d); cached != m_previewCache.end())
        return cached->second;
    if (m_previewFailures.count(d))
        return {};  // the panel says why (previewPanelFailure())
    // A server-given name is made one safe local name inside the folder.
    const QString name = localFileName(QFileInfo(d->path()).fileName().isEmpty() ? d->displayName()
                                                                                : QFileInfo(d->path()).fileName());
    const QString p = m_previewTempPath + QLatin1Char('/') + name;
    const QUrl placeholder = QUrl::fromLocalFile(m_tempPath + QLatin1Char('/') + QNUtils::uuidString() +
                                                 QLatin1Char('/') + name);
    m_previewCache[d] = placeholder;
    QFileInfo existing(p);
    if (existing.isDir())
        QDir(p).removeRecursively();
    else
        QFile::remove(p);
    cancelPreviewTask();
    auto task = std::make_shared<QNPreviewTask>(this);
    m_previewTask = task;
    m_previewDocument = d;
    if (showAsFolder(d)) {
        QDir().mkpath(p);
        m_previewCache[d] = QUrl::fromLocalFile(p);
        m_previewTask.reset();
        m_previewDocument.reset();
        VNDispatch::mainAsync([] {
            if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
                delegate->reloadQuickLookPanel();
        });
        return QUrl::fromLocalFile(p);
    }
    auto item = std::make_shared<QNPreviewTaskItem>(m_driveConfig, d, QNDocument::withPath(p));
    item->setFilesViewController(this);
    const QString key = QStringLiteral("QNMacFilesViewController-%1").arg(quintptr(this), 0, 16);
    QPointer<QNMacFilesViewController> pane(this);
    std::weak_ptr<QNTask> weakTask = task;
    item->registerListenerForTaskItemCompletedBlock(key, [pane, weakTask, d, p](VNErrorPtr error, QNDocumentPtr,
                                                                               bool cancelled) {
        VNDispatch::mainAsync([pane, weakTask, d, p, error, cancelled] {
            if (!pane)
                return;
            const QNTaskPtr task = weakTask.lock();
            if (!task || task != pane->m_previewTask)
                return;  // replaced by a newer request, which owns the cache entry
            if (error) {
                VNLog::log(QStringLiteral("QNFilesViewUtil showQuickLookController previewCompleted error %1")
                               .arg(error->localizedDescription()));
                QFile::remove(p);
                pane->m_previewCache.erase(d);
                if (cancelled)
                    return;
                // Nothing arrived (a failure, or an entry left out): the
                // panel says why instead of waiting for it.
                pane->m_previewFailures[d] = QNErrorWrapper(error).localizedDescription();
                if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
                    delegate->reloadQuickLookPanel();
                return;
            }
            pane->m_previewTask.reset();
            pane->m_previewDocument.reset();
            if (cancelled) {
                pane->m_previewCache.erase(d);
                return;
            }
            if (QFileInfo::exists(p))
                pane->m_previewCache[d] = QUrl::fromLocalFile(p);
            if (QNMacAppDelegate *delegate = QNMacAppDelegate::shared())
                delegate->reloadQuickLookPanel();
        });
    });
    task->addTaskItem(item);
    runTask(task);
    return placeholder;
}

QString QNMacFilesViewController::previewPanelFailure() const {
    const int i = previewRow();
    if (i < 0 || i >= m_documents.size())
        return {};
    const auto failure = m_previewFailures.find(m_documents.at(i));
    return failure == m_previewFailures.end() ? QString() : failure->second;
}

void QNMacFilesViewController::cancelPreviewTask() {
    VNLog::log(QStringLiteral("cancelPreviewTask"));
    if (m_previewTask) {
        VNLog::log(QStringLiteral(" * cancelling *"));
        m_previewTask->cancel();
        m_previewCache.erase(m_previewDocument);
    }
    m_previewTask.reset();
    m_previewDocument.reset();
}
