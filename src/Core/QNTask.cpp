#include "Core/QNTask.h"

#include "Core/QNCloudInterface.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNHandlerOperation.h"
#include "Core/QNThrottleOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNPartName.h"
#include "Platform/VNTempDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
enum QueueIndex { FromQueue = 0, ToQueue = 1, MetadataQueue = 2 };

// How long a cancelled task waits at most for its cancelled drive calls.
std::atomic<std::chrono::milliseconds::rep> s_cancelledCallsWaitLimit{
    std::chrono::milliseconds(std::chrono::seconds(10)).count()};
}  // namespace

void QNTask::setCancelledCallsWaitLimit(std::chrono::milliseconds limit) {
    s_cancelledCallsWaitLimit.store(limit.count());
}

std::chrono::milliseconds QNTask::cancelledCallsWaitLimit() {
    return std::chrono::milliseconds(s_cancelledCallsWaitLimit.load());
}

QNTask::QNTask() {
    m_tempDirectory = VNTempDirectory::path() + QLatin1Char('/') + QNUtils::uuidString();
    QDir().mkpath(m_tempDirectory);  // a failure shows later, as a failed transfer
    m_fromQueue = std::make_unique<VNOperationQueue>(QStringLiteral("QNTask from"));
    m_fromQueue->setMaxConcurrentOperationCount(2);
    m_fromQueue->setSuspended(true);
    m_toQueue = std::make_unique<VNOperationQueue>(QStringLiteral("QNTask to"));
    m_toQueue->setMaxConcurrentOperationCount(1);
    m_toQueue->setSuspended(true);
    m_metadataQueue = std::make_unique<VNOperationQueue>(QStringLiteral("QNTask metadata"));
    m_metadataQueue->setMaxConcurrentOperationCount(1);
    m_metadataQueue->setSuspended(true);
}

QNTask::~QNTask() {
    VNLog::log(QStringLiteral("Task dealloc"));
    QDir(m_tempDirectory).removeRecursively();
}

QList<QNTaskItemPtr> QNTask::taskItems() const {
    std::lock_guard lock(m_itemsMutex);
    return m_taskItems;
}

QList<QNTaskItemPtr> QNTask::primaryTaskItems() const {
    std::lock_guard lock(m_itemsMutex);
    return m_primaryTaskItems;
}

void QNTask::addTaskItem(const QNTaskItemPtr &item) {
    addTaskItem(item, nullptr);
}

void QNTask::addTaskItem(const QNTaskItemPtr &item, const QNTaskItemPtr &primaryItem) {
    if (!item)
        return;
    {
        std::lock_guard lock(m_itemsMutex);
        m_taskItems.append(item);
        if (!primaryItem)
            m_primaryTaskItems.append(item);
    }
    if (primaryItem)
        primaryItem->addSubitem(item, m_toQueue.get());
    item->setTempDirectory(m_tempDirectory);
    auto self = shared_from_this();
    item->setTask(self);

    // The item's reports reach the manager through these; they hold the task
    // and the item weakly so that neither keeps the other alive.
    std::weak_ptr<QNTask> weakTask = self;
    std::weak_ptr<QNTaskItem> weakItem = item;
    QNTaskItemCompletedBlock completed = [weakTask, weakItem](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
        auto task = weakTask.lock();
        auto item = weakItem.lock();
        if (!task || !item)
            return;
        QNTaskItemCompletedInTaskBlock report;
        {
            std::lock_guard lock(task->m_blocksMutex);
            report = task->m_taskItemCompletedBlock;
        }
        if (report)
            report(error, item, cancelled);
        item->clearListeners();
    };
    QNTaskItemUpdateBlock update = [weakTask, weakItem] {
        auto task = weakTask.lock();
        auto item = weakItem.lock();
        if (!task || !item)
            return;
        QNTaskItemUpdateInTaskBlock report;
        {
            std::lock_guard lock(task->m_blocksMutex);
            report = task->m_taskItemUpdateBlock;
        }
        if (report)
            report(item);
        task->m_taskUpdateListeners.callAll();
    };
    item->enqueue(m_fromQueue.get(), m_toQueue.get(), m_metadataQueue.get(), self, primaryItem ? primaryItem : item,
                  std::move(completed), std::move(update));

    QNTaskItemAddedBlock added;
    {
        std::lock_guard lock(m_blocksMutex);
        added = m_taskItemAddedBlock;
    }
    if (added)
        added(self, item);
}

void QNTask::enqueue(VNOperationQueue *queue, QNTaskEventBlock taskCompleted, QNTaskEventBlock taskMetadataCompleted,
                     QNTaskItemAddedBlock taskItemAdded, QNTaskItemCompletedInTaskBlock taskItemCompleted,
                     QNTaskItemUpdateInTaskBlock taskItemUpdate) {
    {
        std::lock_guard lock(m_blocksMutex);
        if (m_enqueued) {
            VNLog::log(QStringLiteral("QNTask enqueue: the task was already handed over; it runs once"));
            return;
        }
        m_enqueued = true;
        m_taskItemAddedBlock = std::move(taskItemAdded);
        m_taskItemCompletedBlock = std::move(taskItemCompleted);
        m_taskItemUpdateBlock = std::move(taskItemUpdate);
    }
    auto self = shared_from_this();
    queue->addOperation([self, taskCompleted = std::move(taskCompleted),
                         taskMetadataCompleted = std::move(taskMetadataCompleted)] {
        self->runLifeCycle(taskCompleted, taskMetadataCompleted);
    });
}

void QNTask::runLifeCycle(const QNTaskEventBlock &taskCompleted, const QNTaskEventBlock &taskMetadataCompleted) {
    // Metadata phase: folder creations and listings, which add more of both.
    resumeQueue(MetadataQueue);
    m_state.store(MetadataPhase);
    m_metadataQueue->waitUntilAllOperationsAreFinished();
    if (taskMetadataCompleted)
        taskMetadataCompleted();
    m_taskMetadataCompletedListeners.callAll();

    // Transfer phase. An upload's completion may add work to the from queue
    // (removing a moved source), and a failed save-back puts its document
    // back outside the queues; wait until all of it is done.
    resumeQueue(FromQueue);
    resumeQueue(ToQueue);
    m_state.store(TransferPhase);
    do {
        m_metadataQueue->waitUntilAllOperationsAreFinished();
        m_fromQueue->waitUntilAllOperationsAreFinished();
        m_toQueue->waitUntilAllOperationsAreFinished();
        m_fromQueue->waitUntilAllOperationsAreFinished();
        waitForHolds();
    } while (m_fromQueue->operationCount() + m_toQueue->operationCount() + m_metadataQueue->operationCount() > 0);
    // The task ends, and the panes relist, only once the drives are as the
    // cancelled work leaves them.
    waitForCancelledHandlers();

    VNLog::log(QStringLiteral("QNTask cleaning temp dir: %1").arg(m_tempDirectory));
    VNErrorPtr cleanupError;
    if (!QDir(m_tempDirectory).removeRecursively() || QFileInfo::exists(m_tempDirectory)) {
        const QString message = QStringLiteral("The temporary folder %1 could not be removed.").arg(m_tempDirectory);
        QVariantMap info;
        info.insert(QStringLiteral("error"), message);
        info.insert(VNError::localizedDescriptionKey(), message);
        cleanupError = std::make_shared<VNError>(QStringLiteral("QNTask"), 42, info);
        VNLog::log(QStringLiteral("QNTask enqueueOnQueue error: %1").arg(cleanupError->localizedDescription()));
    }
    m_completed.store(true);

    if (taskCompleted)
        taskCompleted();
    m_taskCompletedListeners.callAll();

    // End pass: items that never reported (their work was cancelled before it
    // started) are reported here, once. One still holding the task is still
    // at work: its own ending, when it comes, is the one its listeners hear.
    QSet<const QNTaskItem *> holding;
    {
        std::lock_guard lock(m_holdMutex);
        for (auto it = m_holders.cbegin(); it != m_holders.cend(); ++it)
            holding.insert(it.key());
    }
    for (const auto &item : taskItems())
        if (!holding.contains(item.get()))
            item->reportFromEndPass(cleanupError, canceled());

    // Nothing is reported after this: drop the listeners, which may hold
    // the task itself, and the manager's callbacks, which hold the manager.
    m_taskCompletedListeners.clear();
    m_taskMetadataCompletedListeners.clear();
    {
        std::lock_guard lock(m_blocksMutex);
        m_taskItemAddedBlock = nullptr;
        m_taskItemCompletedBlock = nullptr;
    }
    // Progress reports of the last transfers may still wait on the main
    // queue; they reach the update listeners before those go.
    std::weak_ptr<QNTask> weakSelf = weak_from_this();
    auto dropUpdateListeners = [weakSelf] {
        if (auto self = weakSelf.lock()) {
            self->m_taskUpdateListeners.clear();
            std::lock_guard lock(self->m_blocksMutex);
            self->m_taskItemUpdateBlock = nullptr;
        }
    };
    if (QCoreApplication::instance())
        VNDispatch::mainAsync(std::move(dropUpdateListeners));
    else
        dropUpdateListeners();
}

void QNTask::resumeQueue(int index) {
    std::lock_guard lock(m_queueMutex);
    VNOperationQueue *queues[3] = {m_fromQueue.get(), m_toQueue.get(), m_metadataQueue.get()};
    if (m_paused && !m_canceled.load()) {
        // Opened when the task resumes.
        m_rememberedSuspended[index] = false;
        return;
    }
    queues[index]->setSuspended(false);
}

void QNTask::cancel() {
    {
        std::lock_guard lock(m_queueMutex);
        m_canceled.store(true);
        if (m_paused) {
            // A paused task's queues would hold the cancelled work forever;
            // open those the life cycle had opened.
            VNOperationQueue *queues[3] = {m_fromQueue.get(), m_toQueue.get(), m_metadataQueue.get()};
            for (int i = 0; i < 3; ++i)
                if (!m_rememberedSuspended[i])
                    queues[i]->setSuspended(false);
        }
    }
    {
        std::lock_guard lock(m_cancelledCallsMutex);
        for (auto *queue : {m_metadataQueue.get(), m_fromQueue.get(), m_toQueue.get()})
            for (const auto &op : queue->operations())
                if (auto *call = dynamic_cast<QNHandlerCall *>(op.get()))
                    m_cancelledCalls.append(call->handlerCallWatch());  // one not yet called waits for nothing
    }
    m_metadataQueue->cancelAllOperations();
    m_fromQueue->cancelAllOperations();
    m_toQueue->cancelAllOperations();
    for (const auto &item : taskItems())
        item->taskWasCancelled();
    {
        // A life cycle waiting for holds starts its bounded wait now.
        std::lock_guard lock(m_holdMutex);
        m_holdCondition.notify_all();
    }
}

void QNTask::addOperation(VNOperationQueue *queue, const std::shared_ptr<VNOperation> &operation) {
    if (!queue || !operation)
        return;
    bool cancelNow = false;
    {
        std::lock_guard lock(m_queueMutex);
        queue->addOperation(operation);
        cancelNow = m_canceled.load();
    }
    if (cancelNow)
        operation->cancel();
}

bool QNTask::hasRunningOperations() const {
    for (const auto &op : m_metadataQueue->operations()) {
        if (op->isExecuting()) {
            VNLog::log(QStringLiteral("running op in metadata queue: %1").arg(op->description()));
            return true;
        }
    }
    for (const auto &op : m_fromQueue->operations()) {
        if (op->isExecuting() && !dynamic_cast<QNThrottleOperation *>(op.get())) {
            VNLog::log(QStringLiteral("running op in from queue: %1").arg(op->description()));
            return true;
        }
    }
    for (const auto &op : m_toQueue->operations()) {
        if (op->isExecuting()) {
            VNLog::log(QStringLiteral("running op in to queue: %1").arg(op->description()));
            return true;
        }
    }
    return false;
}

QList<QNTask::EndNote> QNTask::endNotes() const {
    // A tree's notes are kept on its dropped item.
    QList<EndNote> notes;
    for (const auto &item : primaryTaskItems()) {
        auto copyItem = std::dynamic_pointer_cast<QNCopyTaskItem>(item);
        if (!copyItem)
            continue;
        notes += copyItem->endNotes();
    }
    std::lock_guard lock(m_cancelledCallsMutex);
    return notes + m_ownNotes;
}

void QNTask::addEndNote(const EndNote &note) {
    std::lock_guard lock(m_cancelledCallsMutex);
    m_ownNotes.append(note);
}

QStringList QNTask::textsOf(const QList<EndNote> &notes) {
    QStringList texts;
    for (const EndNote &note : notes)
        if (!note.text.isEmpty())
            texts.append(note.text);
    return texts;
}

int QNTask::itemsOf(const QList<EndNote> &notes) {
    int items = 0;
    for (const EndNote &note : notes)
        items += note.items;
    return items;
}

QStringList QNTask::leftOut() const {
    return textsOf(endNotes());
}

int QNTask::leftOutItemCount() const {
    return itemsOf(endNotes());
}

int QNTask::metadataQueueSize() const {
    return m_metadataQueue->operationCount();
}

void QNTask::setPaused(bool paused) {
    std::lock_guard lock(m_queueMutex);
    if (paused == m_paused)
        return;
    m_paused = paused;
    VNOperationQueue *queues[3] = {m_fromQueue.get(), m_toQueue.get(), m_metadataQueue.get()};
    if (m_canceled.load())
        return;  // cancelled work must drain; nothing to suspend or restore
    if (paused) {
        for (int i = 0; i < 3; ++i)
            m_rememberedSuspended[i] = queues[i]->isSuspended();
        for (auto *queue : queues)
            queue->setSuspended(true);
    } else {
        for (int i = 0; i < 3; ++i)
            queues[i]->setSuspended(m_rememberedSuspended[i]);
    }
}

bool QNTask::paused() const {
    std::lock_guard lock(m_queueMutex);
    return m_paused;
}

void QNTask::registerListenerForTaskCompletedBlock(const QString &key, QNTaskEventBlock block) {
    m_taskCompletedListeners.set(key, std::move(block));
}

void QNTask::unregisterListenerForTaskCompletedBlock(const QString &key) {
    m_taskCompletedListeners.remove(key);
}

void QNTask::registerListenerForTaskMetadataCompletedBlock(const QString &key, QNTaskEventBlock block) {
    m_taskMetadataCompletedListeners.set(key, std::move(block));
}

void QNTask::unregisterListenerForTaskMetadataCompletedBlock(const QString &key) {
    m_taskMetadataCompletedListeners.remove(key);
}

void QNTask::registerListenerForTaskUpdateBlock(const QString &key, QNTaskEventBlock block) {
    m_taskUpdateListeners.set(key, std::move(block));
}

void QNTask::unregisterListenerForTaskUpdateBlock(const QString &key) {
    m_taskUpdateListeners.remove(key);
}

QString QNTask::description() const {
    const auto items = taskItems();
    if (items.isEmpty())
        return QStringLiteral("Task");
    if (items.first()->className() == QLatin1String("QNRemoveTaskItem"))
        return QStringLiteral("Remove Files and Folders");
    return items.first()->description();
}

float QNTask::progress() const {
    return 0.0f;
}

VNErrorPtr QNTask::checkDrivePath(const QString &drivePath, const QString &domain) {
    auto refuse = [&](const QString &why) {
        QVariantMap info;
        info.insert(QStringLiteral("error"), why);
        info.insert(VNError::localizedDescriptionKey(), why);
        return std::make_shared<VNError>(domain, 42, info);
    };
    const QStringList parts = drivePath.split(QLatin1Char('/'));
    if (parts.isEmpty() || parts.last().isEmpty())
        return refuse(QStringLiteral("The item \"%1\" has no file name and cannot be copied.").arg(drivePath));
    for (const QString &part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String("..") || part.contains(QChar(u'\0')))
            return refuse(QStringLiteral("The item \"%1\" has a name that cannot be used for a file (\"%2\").")
                              .arg(QString(drivePath).replace(QChar(u'\0'), QLatin1Char('?')),
                                   QString(part).replace(QChar(u'\0'), QLatin1Char('?'))));
    }
    return nullptr;
}

QString QNTask::folderKey(const QString &driveConfigId, const QNDocumentPtr &folder) {
    QString place;
    if (folder) {
        place = folder->id();
        if (place.isEmpty()) {
            place = folder->path();
            while (place.endsWith(QLatin1Char('/')))
                place.chop(1);
        }
    }
    return driveConfigId + QChar(0) + place;
}

bool QNTask::claimDestination(const QString &driveConfigId, const QNDocumentPtr &folder, const QString &name,
                              QString *earlier) {
    const QString key = folderKey(driveConfigId, folder) + QChar(0) + name.toCaseFolded();
    std::lock_guard lock(m_itemsMutex);
    auto found = m_claimedDestinations.constFind(key);
    if (found != m_claimedDestinations.constEnd()) {
        if (earlier)
            *earlier = found.value();
        return false;
    }
    m_claimedDestinations.insert(key, name);
    return true;
}

void QNTask::askAliasCheck(const std::shared_ptr<QNAliasCheck> &check, const RunAliasCheck &run,
                           QNAliasCheck::Finished finished) {
    const QString key = check->key();
    // The first asker hears the whole outcome straight from its check; the
    // others, through this block, hear it without what was left over.
    auto first = std::make_shared<std::atomic<bool>>(false);
    if (!m_aliasAnswers.await(key, [finished, first](const QNAliasCheck::Outcome &outcome) {
            if (!first->load())
                finished(outcome);
        }))
        return;
    first->store(true);
    std::weak_ptr<QNTask> weakSelf = weak_from_this();
    run(check, [weakSelf, key, finished](const QNAliasCheck::Outcome &outcome) {
        finished(outcome);
        auto self = weakSelf.lock();
        if (!self)
            return;
        QNAliasCheck::Outcome shared = outcome;
        shared.leftOver.clear();
        self->m_aliasAnswers.finish(key, shared, !outcome.cancelled);
    });
}

bool QNTask::claimOnce(const QString &key) {
    std::lock_guard lock(m_itemsMutex);
    if (m_claimedOnce.contains(key))
        return false;
    m_claimedOnce.insert(key);
    return true;
}

bool QNTask::claimLinkTarget(const QString &driveConfigId, const QString &target) {
    const QString key = driveConfigId + QChar(0) + target;
    std::lock_guard lock(m_itemsMutex);
    if (m_followedLinkTargets.contains(key))
        return false;
    m_followedLinkTargets.insert(key);
    return true;
}

QString QNTask::reserveTempPath(const QString &drivePath, VNErrorPtr *error) {
    if (auto refused = checkDrivePath(drivePath, QStringLiteral("QNTask"))) {
        if (error)
            *error = refused;
        return {};
    }
    // The local disk holds names of 255 bytes at most. A folder's name
    // here only keeps files apart and may be cut; a file keeps its own
    // name, which the upload gives the copy.
    QStringList parts = drivePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.last().toUtf8().size() > VNPartName::kMaxNameBytes) {
        const QString why = QStringLiteral("The name of \"%1\" is longer than the %2 bytes a file on this computer "
                                           "may have; it cannot be copied through this computer.")
                                .arg(drivePath)
                                .arg(VNPartName::kMaxNameBytes);
        if (error)
            *error = std::make_shared<VNError>(QStringLiteral("QNTask"), 42,
                                               QVariantMap{{QStringLiteral("error"), why},
                                                           {VNError::localizedDescriptionKey(), why}});
        return {};
    }
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        parts[i] = VNPartName::cut(parts[i]);
    const QString relative = parts.join(QLatin1Char('/'));
    std::lock_guard lock(m_itemsMutex);
    // Taken: the same file, a folder of another file's place, or a place
    // below another file. Places are compared as the disk holds them: two
    // names that differ only in bytes their drive's encoding could not read
    // are one file here, and two downloads into it would mix.
    auto taken = [this](const QString &candidate) {
        const QString onDisk = QNUtils::asOnLocalDisk(candidate);
        if (m_reservedTempPaths.contains(onDisk) || m_reservedTempFolders.contains(onDisk))
            return true;
        for (int slash = onDisk.lastIndexOf(QLatin1Char('/')); slash > m_tempDirectory.size();
             slash = onDisk.lastIndexOf(QLatin1Char('/'), slash - 1))
            if (m_reservedTempPaths.contains(onDisk.left(slash)))
                return true;
        return false;
    };
    QString candidate = m_tempDirectory + QLatin1Char('/') + relative;
    // Another document of this task already has that place: the same file
    // name in a folder of its own (the upload keeps the file name, which
    // the path given out keeps as the drive named it).
    while (taken(candidate)) {
        ++m_duplicateCounter;
        candidate = m_tempDirectory + QStringLiteral("/.same-path-%1/").arg(m_duplicateCounter) + relative;
    }
    const QString onDisk = QNUtils::asOnLocalDisk(candidate);
    m_reservedTempPaths.insert(onDisk);
    for (int slash = onDisk.lastIndexOf(QLatin1Char('/')); slash > m_tempDirectory.size();
         slash = onDisk.lastIndexOf(QLatin1Char('/'), slash - 1))
        m_reservedTempFolders.insert(onDisk.left(slash));
    return candidate;
}

std::shared_ptr<void> QNTask::holdLifeCycle(const QNTaskItemPtr &holder) {
    const QNTaskItem *item = holder.get();
    {
        std::lock_guard lock(m_holdMutex);
        ++m_holds;
        if (item)
            ++m_holders[item];
    }
    std::weak_ptr<QNTask> weakSelf = weak_from_this();
    return std::shared_ptr<void>(nullptr, [weakSelf, item](void *) {
        if (auto self = weakSelf.lock()) {
            std::lock_guard lock(self->m_holdMutex);
            --self->m_holds;
            ++self->m_holdProgress;
            if (item && --self->m_holders[item] <= 0)
                self->m_holders.remove(item);
            self->m_holdCondition.notify_all();
        }
    });
}

void QNTask::touch() {
    std::lock_guard lock(m_holdMutex);
    ++m_holdProgress;
    m_holdCondition.notify_all();
}

void QNTask::waitForCancelledHandlers() {
    QList<std::shared_ptr<QNHandlerCallWatch>> calls;
    {
        std::lock_guard lock(m_cancelledCallsMutex);
        calls.swap(m_cancelledCalls);
    }
    // A handler that never answers a cancel must not hold the task for ever.
    const auto deadline = std::chrono::steady_clock::now() + cancelledCallsWaitLimit();
    for (const auto &call : calls) {
        if (!call->waitUntilAnswered(deadline)) {
            VNLog::log(QStringLiteral("QNTask: a cancelled drive call has not answered; the task ends without it"));
            return;
        }
        // A cancel reports nothing, but a file the call left on the drive
        // (an upload's temporary file it could not remove) is said.
        const VNErrorPtr error = call->answer().error;
        if (QNCloudInterface::saysFileLeftOnDrive(error)) {
            const QString note = QNErrorWrapper(error).localizedDescription();
            VNLog::log(QStringLiteral("QNTask: a cancelled drive call left: %1").arg(note));
            addEndNote({note, 0});
        }
    }
}

void QNTask::waitForHolds() {
    std::unique_lock lock(m_holdMutex);
    if (m_holds > 0 && !m_canceled.load()) {
        // Said once the wait has begun: cancel() wakes it.
        VNLog::log(QStringLiteral("QNTask: waiting for work holding the task"));
        while (m_holds > 0 && !m_canceled.load())
            m_holdCondition.wait(lock);
    }
    // Cancelled: what holds the task is putting things right after the
    // cancel. It is waited for while it moves on, as the drive's own limits
    // bound each of its requests, and given up once it has been still for
    // the limit: a hold that never ends lets the task end all the same.
    auto deadline = std::chrono::steady_clock::now() + cancelledCallsWaitLimit();
    while (m_holds > 0) {
        const quint64 seen = m_holdProgress;
        if (!m_holdCondition.wait_until(lock, deadline, [&] { return m_holds == 0 || m_holdProgress != seen; })) {
            VNLog::log(QStringLiteral("QNTask: work holding the task has not moved on for %1 ms; the task ends "
                                      "without it, and that work reports its own ending")
                           .arg(cancelledCallsWaitLimit().count()));
            return;
        }
        deadline = std::chrono::steady_clock::now() + cancelledCallsWaitLimit();
    }
}

QString QNTask::transferDescription(const QString &preparing, const QString &preparingFolders,
                                    const QString &counting) const {
    const int state = m_state.load();
    if (state == NotStarted)
        return preparing;
    if (state == MetadataPhase)
        return preparingFolders.arg(metadataQueueSize());
    int files = 0, folders = 0;
    QString fromName, toName;
    for (const auto &item : taskItems()) {
        auto copyItem = std::dynamic_pointer_cast<QNCopyTaskItem>(item);
        if (files == 0 && folders == 0 && copyItem) {
            if (auto from = copyItem->fromDriveConfig())
                fromName = from->serviceName();
            if (auto to = copyItem->toDriveConfig())
                toName = to->serviceName();
        }
        auto doc = copyItem ? copyItem->fromDocument() : item->document();
        if (doc && doc->isDirectory())
            ++folders;
        else if (!item->finished())
            ++files;
    }
    return counting.arg(QString::number(files), QString::number(folders), fromName, toName);
}

float QNTask::transferProgress() const {
    qint64 total = 0;
    qint64 done = 0;
    for (const auto &item : taskItems()) {
        auto copyItem = std::dynamic_pointer_cast<QNCopyTaskItem>(item);
        auto doc = copyItem ? copyItem->fromDocument() : item->document();
        if (!doc || doc->isDirectory())
            continue;
        const qint64 size = doc->size();
        total += size;
        done = static_cast<qint64>(static_cast<float>(done) + item->progress() * static_cast<float>(size));
    }
    if (total <= 0)
        return 0.0f;  // nothing to weigh: no file items, or only empty files
    return static_cast<float>(done) / static_cast<float>(total);
}
