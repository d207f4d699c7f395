#pragma once

#include "App/QNImageObject.h"

#include <QListView>
#include <functional>

class QMenu;
class QMimeData;

class QNImageBrowserModel;

// The file pane's thumbnail view: a grid of QNImageObject items. The space
// bar toggles Quick Look; Ctrl with "+"/"=" and "-" and a pinch zoom between
// 0.3 and 1.0; drags out of it hand their clean-up to the pane.
class QNImageBrowserView : public QListView {
    Q_OBJECT
public:
    explicit QNImageBrowserView(QWidget *parent = nullptr);
    ~QNImageBrowserView() override;

    // 0.3 (small) to 1.0 (large) in normal use.
    float zoomValue() const { return m_zoomValue; }
    void setZoomValue(float value);

    // The pane supplies the items.
    using ItemCount = std::function<int()>;
    using ItemAt = std::function<QNImageObject(int)>;
    void setDataSource(ItemCount count, ItemAt item);
    void reloadData();
    // Asks every item again without resetting the view (selection and
    // scroll position stay).
    void refreshData();
    void setSelectionIndexes(const QList<int> &rows);

    // The pane's promised-file writer: names of files written into the
    // destination folder for the given items.
    using PromisedFilesWriter = std::function<QStringList(const QString &destination, const QList<int> &items)>;
    void setPromisedFilesWriter(PromisedFilesWriter writer) { m_promisedFilesWriter = std::move(writer); }
    QStringList namesOfPromisedFilesDroppedAtDestination(const QString &destination);

    // What a drag of the selected items carries (the pane writes it).
    using DragWriter = std::function<QMimeData *(const QList<int> &items)>;
    void setDragWriter(DragWriter writer) { m_dragWriter = std::move(writer); }

    // The image a drag of that many items shows, made from the first item's
    // picture (and where the pointer holds it).
    using DragImageDecorator = std::function<QPixmap(const QPixmap &image, int count, QPoint *hotSpot)>;
    void setDragImageDecorator(DragImageDecorator decorator) { m_dragImageDecorator = std::move(decorator); }

    // Told when a drag that started here ends, with its final operation.
    using DropCleanup = std::function<void(Qt::DropAction)>;
    void setDropCleanup(DropCleanup cleanup) { m_dropCleanup = std::move(cleanup); }
    void draggingEnded(Qt::DropAction operation);

    QList<int> selectionIndexes() const;

    // A right click: on a cell (selected alone first unless it was already
    // selected) the provider is asked with its index, on the background
    // with -1; the menu it gives pops up under the pointer.
    using MenuProvider = std::function<QMenu *(QNImageBrowserView *, int index)>;
    void setMenuProvider(MenuProvider provider) { m_menuProvider = std::move(provider); }

    // Key and pinch zoom steps (public so the steps can be driven directly).
    void zoomIn();
    void zoomOut();
    void magnify(double magnification);

    // The browser does its work at once; nothing is deferred to idle time.
    bool shouldProcessLongTasks() const { return false; }

signals:
    void viewportResized();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void applyZoom();

    float m_zoomValue = 0.5f;
    QNImageBrowserModel *m_model = nullptr;
    PromisedFilesWriter m_promisedFilesWriter;
    DragWriter m_dragWriter;
    DropCleanup m_dropCleanup;
    MenuProvider m_menuProvider;
    DragImageDecorator m_dragImageDecorator;
};
