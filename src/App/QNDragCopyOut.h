#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNTask.h"
#include "Platform/VNError.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>

// The local copy of a remote drag's entries, made when another application
// asks for the drag's files: a copy task into a fresh folder, shown in the
// task list and cancellable there like any other. The files are handed over
// only when every entry arrived whole (what a folder's copy left out, and
// named in the pane's end report, aside); a copy that fails (its errors shown
// as the pane shows them), is cancelled or is given up by its target leaves
// no folder behind.
class QNDragCopyOut : public QObject {
    Q_OBJECT
public:
    enum State { Running, Done, Failed, Cancelled };
    using TaskRunner = std::function<void(const QNTaskPtr &)>;
    using ErrorReporter = std::function<void(const VNErrorPtr &)>;

    // Copies the documents of the drive into folder (made here), running the
    // task with runTask and reporting each failed entry with reportError.
    // The state is Failed at once when the folder cannot be made.
    QNDragCopyOut(const QNDriveConfigPtr &drive, const QNDocumentList &documents, const QString &folder,
                  const TaskRunner &runTask, ErrorReporter reportError);
    // Gives the copy up (abandon()).
    ~QNDragCopyOut() override;

    State state() const { return m_state; }
    QString folder() const { return m_folder; }
    QNTaskPtr task() const { return m_task; }
    // The copied entries (Done only).
    QList<QUrl> files() const;

    // The files went to a target, which may still be reading them: they stay.
    void setHandedOver() { m_handedOver = true; }
    // Nobody takes the files any more: a copy under way is cancelled (and
    // the user told that its target stopped waiting), and the folder goes
    // (once the task has stopped writing) unless its files were handed over.
    void abandon();

signals:
    // The task has ended; state() tells how.
    void ended();

private:
    struct Shared;
    void taskEnded(State outcome);

    QString m_folder;
    QNTaskPtr m_task;
    std::shared_ptr<Shared> m_shared;  // also held by the task's listeners
    ErrorReporter m_reportError;
    State m_state = Running;
    bool m_handedOver = false;
};
