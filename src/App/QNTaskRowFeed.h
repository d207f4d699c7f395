#pragma once

#include "Core/QNTask.h"

#include <QObject>
#include <QString>
#include <memory>

class QTimer;

// What the task lists show of one task, read once for all of them: every
// row that shows the task, in whichever main window, is fed by the task's
// one feed. Its one-second timer reads the task's description and progress
// and hands the same values to each row, and its listeners on the task
// follow the document the task works on. Rows that each read the task on a
// timer of their own showed one task with different counts side by side.
//
// A feed lives while a row holds it; it belongs to the main thread.
class QNTaskRowFeed : public QObject, public std::enable_shared_from_this<QNTaskRowFeed> {
    Q_OBJECT
public:
    // The task's feed: the one the rows showing it share, or a new one.
    static std::shared_ptr<QNTaskRowFeed> forTask(const QNTaskPtr &task);
    ~QNTaskRowFeed() override;

    QNTaskPtr task() const { return m_task; }
    // The repeating one-second timer of the task's rows.
    QTimer *timer() const { return m_timer; }

    // As last read: the description (null when the task had none), the
    // progress as 0 to 100, and the shown name of the document worked on.
    QString description() const { return m_description; }
    int percent() const { return m_percent; }
    QString documentName() const { return m_documentName; }
    // Cancelled and not yet ended: winding down while its clean-up runs.
    bool cancelling() const { return m_cancelling; }

    // Reads the task now and hands what it read to every row (the tick).
    void read();

signals:
    // read() has read the description and the progress.
    void changed();
    // The task works on another document.
    void documentChanged();
    // The task has ended: the rows let go of it.
    void taskCompleted();

private:
    struct Listening;
    explicit QNTaskRowFeed(const QNTaskPtr &task);
    void listen();
    void showCurrentDocument();

    QNTaskPtr m_task;
    QTimer *m_timer = nullptr;
    std::shared_ptr<Listening> m_listening;
    QString m_listenerKey;
    QString m_description;
    int m_percent = 0;
    bool m_cancelling = false;
    QString m_documentName;
};
