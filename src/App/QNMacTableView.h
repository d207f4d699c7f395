#pragma once

#include <QTableView>
#include <functional>

class QMenu;

// The table of the drive list and of every file pane: the space bar toggles
// Quick Look, a drag shows a badge with the number of rows (unless the table
// keeps the toolkit's own row image), the drag offers fixed operations, and a
// right click asks the table's menu provider for a menu for the rows under it.
class QNMacTableView : public QTableView {
    Q_OBJECT
public:
    // Drag operation bits of our drag-and-drop layer.
    enum DragOperation { DragCopy = 1, DragLink = 2, DragGeneric = 4, DragPrivate = 8, DragMove = 16, DragDelete = 32 };

    explicit QNMacTableView(QWidget *parent = nullptr);

    bool defaultIcon() const { return m_defaultIcon; }
    void setDefaultIcon(bool on) { m_defaultIcon = on; }

    // Copy + generic + move inside the application (21); with delete (for
    // the wastebasket) when the drag leaves it (53).
    static int sourceOperationMask(bool insideApplication);
    // The Qt drop actions for an operation mask, and back (a drag's final
    // action as our operation bits; none is 0).
    static Qt::DropActions dropActionsForMask(int mask);
    static int maskForDropActions(Qt::DropActions actions);

    // The 110 x 110 drag image with the row count on a badge.
    static QPixmap badgeDragImage(int count);
    // The image a drag of these rows shows; null keeps the toolkit's own.
    QPixmap dragImageForRows(const QList<int> &rows) const;

    // The rows a right click at this viewport point is for, selecting the row
    // under the pointer when it is not selected yet.
    QList<int> rowsForContextMenuAt(const QPoint &viewportPos);

    using MenuProvider = std::function<QMenu *(QNMacTableView *, const QList<int> &)>;
    void setMenuProvider(MenuProvider provider) { m_menuProvider = std::move(provider); }
    // Told the final operation of a drag that started here.
    using DragEndedHandler = std::function<void(Qt::DropAction)>;
    void setDragEndedHandler(DragEndedHandler handler) { m_dragEnded = std::move(handler); }

    // The selected rows, in order.
    QList<int> selectedRowList() const;

signals:
    // Right click handled (the rows it was for), for whoever watches.
    void contextMenuRequestedForRows(const QList<int> &rows);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    bool m_defaultIcon = false;
    MenuProvider m_menuProvider;
    DragEndedHandler m_dragEnded;
};
