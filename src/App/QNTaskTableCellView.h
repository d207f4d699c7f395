#pragma once

#include "Core/QNTask.h"

#include <QMetaObject>
#include <QString>
#include <QWidget>
#include <memory>

class QNTaskRowFeed;
class QLabel;
class QProgressBar;
class QTimer;
class QToolButton;

// One row of the task list: the task's description, the name of the document
// it is working on, a progress bar (0 to 100) and a cancel button. A bound
// row is kept current by its task's feed (QNTaskRowFeed), which every row
// showing that task shares, in whichever window: its one-second timer and
// its two listeners on the task (update and completed).
//
// A row reused for another task first lets go of the feed of the task it
// showed and ignores whatever that task still reports; the timer is only ever
// touched on the main thread, which owns it.
class QNTaskTableCellView : public QWidget {
    Q_OBJECT
public:
    explicit QNTaskTableCellView(QWidget *parent = nullptr);
    ~QNTaskTableCellView() override;

    QLabel *name() const { return m_name; }
    QLabel *subTitle() const { return m_subTitle; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QToolButton *cancelButton() const { return m_cancelButton; }
    // The timer of the task's feed while a task is shown, else null.
    QTimer *updateTimer() const;

    QNTaskPtr task() const { return m_task; }
    // Binds the row to a task (null: to none). Main thread.
    void setTask(const QNTaskPtr &task);

    // Back to "...", an empty second line and 0.
    void reset();
    // The timer tick: first line and progress read from the task, for every
    // row that shows it.
    using QWidget::update;
    void update(QTimer *timer);
    // The cancel button: cancels the row's task (no question asked). The
    // row then says "Cancelling…", its button disabled, until the task ends.
    void cancel();

    // A task's progress (0 to 1) as the bar's 0 to 100; anything that is not
    // a number counts as 0, values outside are clamped.
    static int progressPercent(float progress);
    // A document's shown name: its display name, else the last component of its path.
    static QString shownName(const QNDocumentPtr &document);

private:
    void unbind();
    void showRead();
    void showDocument();

    QLabel *m_name = nullptr;
    QLabel *m_subTitle = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
    QToolButton *m_cancelButton = nullptr;
    QNTaskPtr m_task;
    std::shared_ptr<QNTaskRowFeed> m_feed;
    QList<QMetaObject::Connection> m_feedConnections;
};
