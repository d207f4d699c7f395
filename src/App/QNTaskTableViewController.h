#pragma once

#include "Core/QNTask.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QScrollArea>
#include <QSize>
#include <functional>
#include <memory>

class QNTaskManager;
class QNTaskTableCellView;
class QVBoxLayout;
class QWidget;

// The task list in a main window's drawer: one row per task of the task
// manager, in the manager's order; a cancelled task keeps its row, saying
// it is cancelling, until its clean-up has ended and the task with it. The
// list is not told of new tasks: a refresh pass re-reads the manager's list
// once a second and rebuilds the rows only when the list changed. Rows are
// reused from one rebuild to the next, as a table reuses its cells.
class QNTaskTableViewController : public QObject {
    Q_OBJECT
public:
    // The manager whose tasks are listed; by default the application
    // delegate's.
    using TaskManagerSource = std::function<std::shared_ptr<QNTaskManager>()>;

    explicit QNTaskTableViewController(QObject *parent = nullptr);
    ~QNTaskTableViewController() override;

    void setTaskManagerSource(TaskManagerSource source) { m_taskManagerSource = std::move(source); }

    // The table: a scrolling column of rows.
    QWidget *tableView() const;
    QList<QNTaskPtr> tasks() const { return m_tasks; }

    // Set-up once the table exists: an empty list, then the refresh loop.
    void awakeFromNib();
    // Schedules the next refresh pass one second from now.
    void run();
    // One refresh pass (the loop calls it; tests may too).
    void refresh();

    int numberOfRowsInTableView() const { return m_rowCount; }
    // The row's cell, made or reused and filled from the task at the row.
    QNTaskTableCellView *tableViewViewForRow(int row);
    // The cell shown at the row, or null.
    QNTaskTableCellView *cellAtRow(int row) const;
    // The drawer resizes freely.
    QSize drawerWillResizeContents(const QSize &contentSize) const { return contentSize; }

    // Reloads every row from tasks().
    void reloadData();

private:
    std::shared_ptr<QNTaskManager> taskManager() const;

    TaskManagerSource m_taskManagerSource;
    QList<QNTaskPtr> m_tasks;
    QPointer<QScrollArea> m_scrollArea;  // the drawer owns it once placed there
    QPointer<QWidget> m_rowsView;
    QVBoxLayout *m_rowsLayout = nullptr;
    QList<QNTaskTableCellView *> m_cells;  // every cell made; the first m_rowCount are shown
    int m_rowCount = 0;
    bool m_running = false;
};
