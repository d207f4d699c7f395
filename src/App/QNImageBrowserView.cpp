#include "App/QNImageBrowserView.h"

#include "App/QNImageBrowserModel.h"
#include "App/QNMacAppDelegate.h"
#include "Platform/VNLog.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QNativeGestureEvent>
#include <QStyledItemDelegate>

namespace {

// Every picture is laid out in a square of the view's icon size, centred
// in it and never cropped: item sizes then follow the zoom, not the first
// picture the view happened to measure.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    explicit ThumbnailDelegate(QListView *view) : QStyledItemDelegate(view), m_view(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->decorationSize = m_view->iconSize();
    }

private:
    QListView *m_view;
};

}  // namespace

QNImageBrowserView::QNImageBrowserView(QWidget *parent) : QListView(parent) {
    m_model = new QNImageBrowserModel(this);
    setModel(m_model);
    setItemDelegate(new ThumbnailDelegate(this));
    setViewMode(QListView::IconMode);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setWordWrap(true);
    setDragEnabled(true);
    setSpacing(8);
    applyZoom();
}

QNImageBrowserView::~QNImageBrowserView() = default;

void QNImageBrowserView::setDataSource(ItemCount count, ItemAt item) {
    m_model->setDataSource(std::move(count), std::move(item));
}

void QNImageBrowserView::reloadData() { m_model->reload(); }

void QNImageBrowserView::refreshData() { m_model->refresh(); }

void QNImageBrowserView::setSelectionIndexes(const QList<int> &rows) {
    if (!selectionModel())
        return;
    QItemSelection selection;
    for (int row : rows)
        if (row >= 0 && row < m_model->rowCount())
            selection.select(m_model->index(row), m_model->index(row));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void QNImageBrowserView::resizeEvent(QResizeEvent *event) {
    QListView::resizeEvent(event);
    emit viewportResized();
}

void QNImageBrowserView::setZoomValue(float value) {
    m_zoomValue = value;
    applyZoom();
}

void QNImageBrowserView::applyZoom() {
    // Thumbnails from 48 to 256 pixels.
    const int side = 48 + qRound(std::clamp(double(m_zoomValue), 0.0, 1.0) * 208);
    setIconSize(QSize(side, side));
    setGridSize(QSize(side + 40, side + 44));
}

QList<int> QNImageBrowserView::selectionIndexes() const {
    QList<int> rows;
    if (selectionModel())
        for (const QModelIndex &i : selectionModel()->selectedIndexes())
            rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList QNImageBrowserView::namesOfPromisedFilesDroppedAtDestination(const QString &destination) {
    VNLog::log(QStringLiteral("namesOfPromisedFilesDroppedAtDestination"));
    if (!m_promisedFilesWriter)
        return {};
    return m_promisedFilesWriter(destination, selectionIndexes());
}

void QNImageBrowserView::draggingEnded(Qt::DropAction operation) {
    VNLog::log(QStringLiteral("Browser - Dragging ended move: %1").arg(operation == Qt::MoveAction ? 16 : 0));
    if (m_dropCleanup)
        m_dropCleanup(operation);
}

void QNImageBrowserView::zoomIn() {
    // The zoom value is a float; its steps are compared in double precision.
    if (double(m_zoomValue) <= 0.9)
        setZoomValue(float(double(m_zoomValue) + 0.1));
    else
        setZoomValue(1.0f);
}

void QNImageBrowserView::zoomOut() {
    if (double(m_zoomValue) >= 0.4)
        setZoomValue(float(double(m_zoomValue) - 0.1));
    else
        setZoomValue(0.3f);
}

void QNImageBrowserView::magnify(double m) {
    if (m > 0) {
        if (double(m_zoomValue) < 1.0)
            setZoomValue(float(double(m_zoomValue) + m));
        else
            setZoomValue(1.0f);
    } else if (m < 0) {
        if (double(m_zoomValue) + m > 0.3)
            setZoomValue(float(double(m_zoomValue) + m));
        else
            setZoomValue(0.3f);
    }
}

void QNImageBrowserView::keyPressEvent(QKeyEvent *event) {
    const QString text = event->text();
    const bool command = event->modifiers() & Qt::ControlModifier;
    if (text == QStringLiteral(" ") && !command) {
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->toggleQuickLookPreview();
        return;
    }
    if (command && (event->key() == Qt::Key_Equal || event->key() == Qt::Key_Plus)) {
        zoomIn();
        return;
    }
    if (command && event->key() == Qt::Key_Minus) {
        zoomOut();
        return;
    }
    QListView::keyPressEvent(event);
}

bool QNImageBrowserView::event(QEvent *event) {
    if (event->type() == QEvent::NativeGesture) {
        auto *gesture = static_cast<QNativeGestureEvent *>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            magnify(gesture->value());
            return true;
        }
    }
    return QListView::event(event);
}

void QNImageBrowserView::startDrag(Qt::DropActions supportedActions) {
    const QModelIndexList indexes = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (indexes.isEmpty())
        return;
    QMimeData *data = m_dragWriter ? m_dragWriter(selectionIndexes()) : model()->mimeData(indexes);
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    const QVariant picture = model()->data(indexes.first(), QNImageBrowserModel::PictureRole);
    if (picture.canConvert<QPixmap>()) {
        const QPixmap image = picture.value<QPixmap>().scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPoint hotSpot(image.width() / 2, image.height() / 2);
        drag->setPixmap(m_dragImageDecorator ? m_dragImageDecorator(image, int(indexes.size()), &hotSpot) : image);
        drag->setHotSpot(hotSpot);
    }
    const Qt::DropAction result = drag->exec(supportedActions | Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    draggingEnded(result);
}

void QNImageBrowserView::contextMenuEvent(QContextMenuEvent *event) {
    if (!m_menuProvider) {
        QListView::contextMenuEvent(event);
        return;
    }
    QModelIndex index;
    QPoint where = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        index = indexAt(event->pos());
        // A cell not selected yet becomes the selection on its own; a
        // selected one keeps the selection it is part of.
        if (index.isValid() && selectionModel() && !selectionModel()->isSelected(index)) {
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        }
    } else if (selectionModel() && selectionModel()->isSelected(currentIndex())) {
        // From the keyboard: the menu of the selection, at the current cell.
        index = currentIndex();
        where = viewport()->mapToGlobal(visualRect(index).center());
    }
    if (QMenu *menu = m_menuProvider(this, index.isValid() ? index.row() : -1)) {
        menu->popup(where);
        event->accept();
    }
}
