#include "App/QNTaskRowFeed.h"

#include "App/QNTaskTableCellView.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <exception>

namespace {

constexpr qint64 kNameLookUpMs = 100;

// The feeds of the tasks shown now. Main thread only; a feed holds its
// task, so no other task takes its address while the feed is listed.
QHash<const QNTask *, std::weak_ptr<QNTaskRowFeed>> &feeds() {
    static QHash<const QNTask *, std::weak_ptr<QNTaskRowFeed>> all;
    return all;
}

}  // namespace

// What the task's listeners need to reach the feed: the feed (read on the
// main thread only) and whether it still listens. A feed that goes switches
// it off, so late events of its task change nothing.
struct QNTaskRowFeed::Listening {
    std::atomic<bool> active{true};
    std::atomic<bool> namePending{false};   // a look-up of the current document is on its way
    std::atomic<qint64> lastNameLookUp{0};  // when the last one ran (ms since the epoch)
    QPointer<QNTaskRowFeed> feed;
};

std::shared_ptr<QNTaskRowFeed> QNTaskRowFeed::forTask(const QNTaskPtr &task) {
    Q_ASSERT(VNDispatch::isMainThread());
    if (!task)
        return nullptr;
    if (auto existing = feeds().value(task.get()).lock())
        return existing;
    std::shared_ptr<QNTaskRowFeed> feed(new QNTaskRowFeed(task));
    feeds().insert(task.get(), feed);
    feed->listen();
    return feed;
}

QNTaskRowFeed::QNTaskRowFeed(const QNTaskPtr &task)
    : m_task(task),
      m_listenerKey(QStringLiteral("QNTaskRowFeed-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    // Until the task reports, its rows name the first item's document.
    const QList<QNTaskItemPtr> items = task->taskItems();
    if (!items.isEmpty())
        m_documentName = QNTaskTableCellView::shownName(items.first()->document());
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &QNTaskRowFeed::read);
    m_timer->start();
}

QNTaskRowFeed::~QNTaskRowFeed() {
    if (m_listening)
        m_listening->active.store(false);
    m_task->unregisterListenerForTaskUpdateBlock(m_listenerKey);
    m_task->unregisterListenerForTaskCompletedBlock(m_listenerKey);
    auto it = feeds().find(m_task.get());
    if (it != feeds().end() && it->expired())
        feeds().erase(it);
}

void QNTaskRowFeed::listen() {
    auto listening = std::make_shared<Listening>();
    listening->feed = this;
    m_listening = listening;

    // Progress of any item: show the document the task is working on now.
    // Items report many times each and a task may hold thousands, so the
    // look-up runs at most every kNameLookUpMs, the first one at once.
    m_task->registerListenerForTaskUpdateBlock(m_listenerKey, [listening] {
        if (!listening->active.load() || listening->namePending.exchange(true))
            return;
        const qint64 wait = listening->lastNameLookUp.load() + kNameLookUpMs - QDateTime::currentMSecsSinceEpoch();
        auto lookUp = [listening] {
            listening->lastNameLookUp.store(QDateTime::currentMSecsSinceEpoch());
            listening->namePending.store(false);
            if (listening->active.load() && listening->feed)
                listening->feed->showCurrentDocument();
        };
        // Straight onto the main queue when due, so it runs before a completion reported after it.
        if (wait <= 0)
            VNDispatch::mainAsync(std::move(lookUp));
        else
            VNDispatch::mainAfter(int(std::min(wait, kNameLookUpMs)), std::move(lookUp));
    });
    // Called on the task manager's thread: the rows let go on ours.
    m_task->registerListenerForTaskCompletedBlock(m_listenerKey, [listening] {
        if (!listening->active.load())
            return;
        VNDispatch::mainAsync([listening] {
            if (!listening->active.load() || !listening->feed)
                return;
            // The rows drop the feed as they let go: it stays until they all have.
            const std::shared_ptr<QNTaskRowFeed> self = listening->feed->shared_from_this();
            self->m_timer->stop();
            emit self->taskCompleted();
        });
    });
}

void QNTaskRowFeed::showCurrentDocument() {
    const QList<QNTaskItemPtr> items = m_task->taskItems();
    if (items.isEmpty())
        return;
    QNTaskItemPtr current;
    for (const QNTaskItemPtr &item : items) {
        if (item->running() && !item->finished()) {
            current = item;
            break;
        }
    }
    if (!current)
        current = items.first();
    m_documentName = QNTaskTableCellView::shownName(current->document());
    emit documentChanged();
}

void QNTaskRowFeed::read() {
    QString description;
    int percent = 0;
    try {
        description = m_task->description();
        percent = QNTaskTableCellView::progressPercent(m_task->progress());
    } catch (const std::exception &e) {
        VNLog::log(QStringLiteral("QNTaskTableCellView.update exception: %1").arg(QString::fromUtf8(e.what())));
        return;  // the rows stay as they were
    }
    m_description = description;
    m_percent = percent;
    m_cancelling = m_task->canceled() && !m_task->completed();
    emit changed();
}
