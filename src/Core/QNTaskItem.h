#pragma once

#include "Core/QNDocument.h"
#include "Core/QNListenerMap.h"
#include "Platform/VNError.h"

#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QNDriveConfig;
class QNTask;
class QNTaskItem;
class VNOperation;
class VNOperationQueue;
using QNTaskItemPtr = std::shared_ptr<QNTaskItem>;
using QNTaskPtr = std::shared_ptr<QNTask>;

// An item's completion: (error or null, result document or null, cancelled).
// A listener that gets cancelled true reports no error to the user. An item
// that was left out (QNTaskItem::isLeftOut()) is neither done nor failed: its
// listeners hear an error that says why, so no error always means done.
using QNTaskItemCompletedBlock = std::function<void(VNErrorPtr error, QNDocumentPtr document, bool cancelled)>;
// An item's progress report (read progress() for the value).
using QNTaskItemUpdateBlock = std::function<void()>;

// One document's share of a task: copy this file or folder, remove this
// document, get this link. The kinds put their work on the task's queues
// when the task adds them, report progress through triggerUpdateBlock() and
// end through finishItem(): listeners first, then the task's callback, then
// the flags. An item is reported exactly once, by itself or, if it never
// gets that far (its operations were cancelled before they started), by the
// task's end pass. An item still holding its task when the task ends
// (QNTask::holdLifeCycle()) reports itself, later: its listeners hear what
// really became of it.
//
// Items are always held in a std::shared_ptr and belong to one task, once.
class QNTaskItem : public std::enable_shared_from_this<QNTaskItem> {
public:
    QNTaskItem();
    virtual ~QNTaskItem();

    QNTaskItem(const QNTaskItem &) = delete;
    QNTaskItem &operator=(const QNTaskItem &) = delete;

    // The document the item works on, shown by the task list (null here).
    virtual QNDocumentPtr document() const;
    // One line for the task list.
    virtual QString description() const;
    // The class name, for logs and error domains.
    virtual QString className() const { return QStringLiteral("QNTaskItem"); }

    // Called once by the task when the item is added: the item puts its work
    // on the queues. primary is the item itself for a top-level item. The
    // base class does nothing.
    virtual void enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                         const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                         QNTaskItemUpdateBlock update);

    // Makes the item a sub-item of this one; the queue is the task's to queue.
    virtual void addSubitem(const QNTaskItemPtr &subitem, VNOperationQueue *queue);
    QList<QNTaskItemPtr> subitems() const;

    // Reports progress: the given callback (the task's), then this item's
    // update listeners.
    void triggerUpdateBlock(const QNTaskItemUpdateBlock &update);

    void registerListenerForTaskItemCompletedBlock(const QString &key, QNTaskItemCompletedBlock block);
    void unregisterListenerForTaskItemCompletedBlock(const QString &key);
    void registerListenerForTaskItemUpdateBlock(const QString &key, QNTaskItemUpdateBlock block);
    void unregisterListenerForTaskItemUpdateBlock(const QString &key);
    // Empties both listener maps (the task does so once the item has reported).
    void clearListeners();
    int completedListenerCount() const { return m_completedListeners.count(); }

    // Told by the task right after it has cancelled its queues' operations
    // (work that was queued and never started gives no answer). Base: nothing.
    virtual void taskWasCancelled() {}

    // The task's end pass: reports an item that has not reported yet to its
    // remaining completed listeners, marks it finished and empties its
    // listeners. Answers whether the item was reported here.
    bool reportFromEndPass(const VNErrorPtr &error, bool cancelled);

    QString tempDirectory() const;
    void setTempDirectory(const QString &path);
    bool running() const { return m_running.load(); }
    void setRunning(bool running) { m_running.store(running); }
    bool finished() const { return m_finished.load(); }
    float progress() const { return m_progress.load(); }
    void setProgress(float progress) { m_progress.store(progress); }
    // Byte counts and progress for callers; the engine leaves them 0.
    double totalBytes() const { return m_totalBytes.load(); }
    void setTotalBytes(double bytes) { m_totalBytes.store(bytes); }
    double totalBytesSubitems() const { return m_totalBytesSubitems.load(); }
    void setTotalBytesSubitems(double bytes) { m_totalBytesSubitems.store(bytes); }
    float progressSubitems() const { return m_progressSubitems.load(); }
    void setProgressSubitems(float progress) { m_progressSubitems.store(progress); }

    // Whether the item has reported (or is reporting) its end.
    bool hasConcluded() const { return m_concluded.load(); }

protected:
    // Ends the item by the three steps (listeners, callback, flags); the
    // first call wins, later ones do nothing. Answers whether this call ended it.
    bool finishItem(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error, const QNDocumentPtr &document,
                    bool cancelled);
    // The same where the listeners hear other values than the task's callback.
    bool finishItem(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &listenerError,
                    const QNDocumentPtr &listenerDocument, bool listenerCancelled, const VNErrorPtr &taskError,
                    const QNDocumentPtr &taskDocument, bool taskCancelled);

    // Calls this item's own update listeners (not the task's callback).
    void notifyUpdateListeners() const { m_updateListeners.callAll(); }

    // Keeps running() in step with the operation: set when it starts.
    void observeRunning(const std::shared_ptr<VNOperation> &operation);

    // The item's own task, while it lives.
    QNTaskPtr task() const;
    void setTask(const QNTaskPtr &task);
    // Tells the task that this item's work holding it (QNTask::holdLifeCycle())
    // has moved on: one of its requests has answered.
    void touchTask() const;
    // Adds an operation through the task, which cancels it at once when the
    // task is cancelled; without a task, straight to the queue.
    void addOperation(VNOperationQueue *queue, const std::shared_ptr<VNOperation> &operation);

    // An error of this item's class: code 42, the text under "error" (the
    // text shown to the user).
    VNErrorPtr makeError(const QString &message) const;

public:
    // The third ending of an item: left out (a link to nothing, a name that
    // cannot be read, a name the task has written already). Nothing was
    // written and nothing went wrong with the rest: the item's completed
    // listeners hear this error (which says why), the task's own callback
    // hears none, so the task and its other items go on. A caller that uses
    // the result (opens it, hands it over) takes it as not done; one whose
    // task's end report names what was left out (QNTask::leftOut()) need
    // not say it again.
    static bool isLeftOut(const VNErrorPtr &error);

    // Why the document of the drive cannot be read at all, or a null
    // string: its name does not read back as text, or it is a local link to
    // nothing. Such a document is left out.
    static QString unreadableReason(const std::shared_ptr<QNDriveConfig> &drive, const QNDocumentPtr &document);

protected:
    // The listeners' error for an item left out for the reason given.
    VNErrorPtr makeLeftOutError(const QString &why) const;

private:
    friend class QNTask;

    mutable std::mutex m_mutex;
    QString m_tempDirectory;
    QList<QNTaskItemPtr> m_subitems;
    std::weak_ptr<QNTask> m_task;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_concluded{false};
    std::atomic<float> m_progress{0.0f};
    std::atomic<double> m_totalBytes{0.0};
    std::atomic<double> m_totalBytesSubitems{0.0};
    std::atomic<float> m_progressSubitems{0.0f};
    QNListenerMap<QNTaskItemCompletedBlock> m_completedListeners;
    QNListenerMap<QNTaskItemUpdateBlock> m_updateListeners;
};
