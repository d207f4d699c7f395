#include "Core/QNTaskItem.h"

#include "Core/QNDriveConfig.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNTask.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperation.h"
#include "Platform/VNOperationQueue.h"

QNTaskItem::QNTaskItem() = default;

QNTaskItem::~QNTaskItem() {
    VNLog::log(QStringLiteral("QNTaskItem dealloc"));
}

QNDocumentPtr QNTaskItem::document() const {
    return nullptr;
}

QString QNTaskItem::description() const {
    return QStringLiteral("QNTaskItem");
}

void QNTaskItem::enqueue(VNOperationQueue *, VNOperationQueue *, VNOperationQueue *, const QNTaskPtr &,
                         const QNTaskItemPtr &, QNTaskItemCompletedBlock, QNTaskItemUpdateBlock) {
}

void QNTaskItem::addSubitem(const QNTaskItemPtr &subitem, VNOperationQueue *) {
    std::lock_guard lock(m_mutex);
    m_subitems.append(subitem);
}

QList<QNTaskItemPtr> QNTaskItem::subitems() const {
    std::lock_guard lock(m_mutex);
    return m_subitems;
}

void QNTaskItem::triggerUpdateBlock(const QNTaskItemUpdateBlock &update) {
    if (update)
        update();
    m_updateListeners.callAll();
}

void QNTaskItem::registerListenerForTaskItemCompletedBlock(const QString &key, QNTaskItemCompletedBlock block) {
    m_completedListeners.set(key, std::move(block));
}

void QNTaskItem::unregisterListenerForTaskItemCompletedBlock(const QString &key) {
    m_completedListeners.remove(key);
}

void QNTaskItem::registerListenerForTaskItemUpdateBlock(const QString &key, QNTaskItemUpdateBlock block) {
    m_updateListeners.set(key, std::move(block));
}

void QNTaskItem::unregisterListenerForTaskItemUpdateBlock(const QString &key) {
    m_updateListeners.remove(key);
}

void QNTaskItem::clearListeners() {
    m_completedListeners.clear();
    m_updateListeners.clear();
}

bool QNTaskItem::finishItem(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                            const QNDocumentPtr &document, bool cancelled) {
    return finishItem(completed, error, document, cancelled, error, document, cancelled);
}

bool QNTaskItem::finishItem(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &listenerError,
                            const QNDocumentPtr &listenerDocument, bool listenerCancelled,
                            const VNErrorPtr &taskError, const QNDocumentPtr &taskDocument, bool taskCancelled) {
    if (m_concluded.exchange(true))
        return false;
    // Keeps the item alive through its own report, whoever drops it meanwhile.
    auto self = shared_from_this();
    m_completedListeners.callAll(listenerError, listenerDocument, listenerCancelled);
    if (completed)
        completed(taskError, taskDocument, taskCancelled);
    m_running.store(false);
    m_finished.store(true);
    return true;
}

bool QNTaskItem::reportFromEndPass(const VNErrorPtr &error, bool cancelled) {
    if (m_concluded.exchange(true))
        return false;
    auto self = shared_from_this();
    m_completedListeners.callAll(error, QNDocumentPtr(), cancelled);
    clearListeners();
    m_running.store(false);
    m_finished.store(true);
    return true;
}

QString QNTaskItem::tempDirectory() const {
    std::lock_guard lock(m_mutex);
    return m_tempDirectory;
}

void QNTaskItem::setTempDirectory(const QString &path) {
    std::lock_guard lock(m_mutex);
    m_tempDirectory = path;
}

void QNTaskItem::observeRunning(const std::shared_ptr<VNOperation> &operation) {
    std::weak_ptr<QNTaskItem> weakSelf = weak_from_this();
    operation->observeExecutingOnce([weakSelf](bool executing) {
        if (auto self = weakSelf.lock())
            if (!self->hasConcluded())
                self->m_running.store(executing);
    });
}

QNTaskPtr QNTaskItem::task() const {
    std::lock_guard lock(m_mutex);
    return m_task.lock();
}

void QNTaskItem::setTask(const QNTaskPtr &task) {
    std::lock_guard lock(m_mutex);
    m_task = task;
}

void QNTaskItem::touchTask() const {
    if (auto owner = task())
        owner->touch();
}

void QNTaskItem::addOperation(VNOperationQueue *queue, const std::shared_ptr<VNOperation> &operation) {
    if (auto owner = task())
        owner->addOperation(queue, operation);
    else if (queue)
        queue->addOperation(operation);
}

VNErrorPtr QNTaskItem::makeError(const QString &message) const {
    QVariantMap info;
    info.insert(QStringLiteral("error"), message);
    info.insert(VNError::localizedDescriptionKey(), message);
    return std::make_shared<VNError>(className(), 42, info);
}

namespace {
const QString &leftOutKey() {
    static const QString key = QStringLiteral("leftOut");
    return key;
}
}  // namespace

bool QNTaskItem::isLeftOut(const VNErrorPtr &error) {
    return error && error->userInfo().value(leftOutKey()).toBool();
}

VNErrorPtr QNTaskItem::makeLeftOutError(const QString &why) const {
    QVariantMap info;
    info.insert(QStringLiteral("error"), why);
    info.insert(VNError::localizedDescriptionKey(), why);
    info.insert(leftOutKey(), true);
    return std::make_shared<VNError>(className(), 43, info);
}

QString QNTaskItem::unreadableReason(const std::shared_ptr<QNDriveConfig> &drive, const QNDocumentPtr &document) {
    if (!document)
        return {};
    if (document->hasUnreadableName())
        return QStringLiteral("its name is not valid UTF-8");
    if (drive && drive->isMyFiles() && document->isLink()) {
        // A link to nothing has nothing to read.
        const QString target = QNMyDocumentsHandler::linkLeadingNowhere(document->path());
        if (!target.isNull())
            return QStringLiteral("it is a link to \u201c%1\u201d, which does not exist").arg(target);
    }
    return {};
}
