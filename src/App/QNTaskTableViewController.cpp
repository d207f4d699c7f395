#include "App/QNTaskTableViewController.h"

#include "App/QNMacAppDelegate.h"
#include "App/QNTaskTableCellView.h"
#include "Core/QNTaskManager.h"

#include <QFrame>
#include <QTimer>
#include <QVBoxLayout>

QNTaskTableViewController::QNTaskTableViewController(QObject *parent) : QObject(parent) {
    m_scrollArea = new QScrollArea;
    m_scrollArea->setObjectName(QStringLiteral("taskTableView"));
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_rowsView = new QWidget;
    m_rowsView->setObjectName(QStringLiteral("taskRows"));
    m_rowsLayout = new QVBoxLayout(m_rowsView);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(1);
    m_rowsLayout->addStretch(1);
    m_scrollArea->setWidget(m_rowsView);
}

QNTaskTableViewController::~QNTaskTableViewController() {
    // Rows take their listeners off their tasks when they go; a table that
    // was never placed in a window goes with the controller.
    if (m_scrollArea && !m_scrollArea->parent())
        delete m_scrollArea.data();
}

QWidget *QNTaskTableViewController::tableView() const { return m_scrollArea.data(); }

std::shared_ptr<QNTaskManager> QNTaskTableViewController::taskManager() const {
    if (m_taskManagerSource)
        return m_taskManagerSource();
    if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
        return d->taskManager();
    return nullptr;
}

void QNTaskTableViewController::awakeFromNib() {
    m_tasks.clear();
    if (!m_running) {
        m_running = true;
        run();
    }
}

void QNTaskTableViewController::run() {
    QTimer::singleShot(1000, this, [this] {
        refresh();
        run();
    });
}

void QNTaskTableViewController::refresh() {
    QList<QNTaskPtr> current;
    if (const auto manager = taskManager())
        current = manager->tasks();
    // A cancelled task stays while it winds down (its row says so): its
    // clean-up may take as long as its drives do.
    current.removeIf([](const QNTaskPtr &task) { return !task; });
    const bool changed = current != m_tasks || current.size() != numberOfRowsInTableView();
    if (!changed)
        return;
    m_tasks = current;
    reloadData();
}

QNTaskTableCellView *QNTaskTableViewController::cellAtRow(int row) const {
    if (!m_rowsView || row < 0 || row >= m_rowCount || row >= m_cells.size())
        return nullptr;
    return m_cells.at(row);
}

QNTaskTableCellView *QNTaskTableViewController::tableViewViewForRow(int row) {
    if (!m_rowsView || row < 0)
        return nullptr;
    // A reused row or a new one.
    while (m_cells.size() <= row) {
        auto *cell = new QNTaskTableCellView(m_rowsView);
        cell->setFixedHeight(58);
        m_rowsLayout->insertWidget(int(m_cells.size()), cell);
        m_cells << cell;
    }
    QNTaskTableCellView *cell = m_cells.at(row);
    cell->setTask(nullptr);
    cell->reset();
    // Filled from the task's feed, as every other row showing the task is.
    if (row < m_tasks.size())
        cell->setTask(m_tasks.at(row));
    return cell;
}

void QNTaskTableViewController::reloadData() {
    if (!m_rowsView)
        return;
    const int rows = int(m_tasks.size());
    m_rowCount = rows;
    for (int r = 0; r < rows; ++r)
        tableViewViewForRow(r)->show();
    // Rows beyond the list let go of their tasks and hide.
    for (int r = rows; r < m_cells.size(); ++r) {
        m_cells[r]->setTask(nullptr);
        m_cells[r]->reset();
        m_cells[r]->hide();
    }
}
