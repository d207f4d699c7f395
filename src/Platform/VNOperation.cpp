#include "VNOperation.h"

#include <typeinfo>

VNOperation::VNOperation() = default;
VNOperation::~VNOperation() = default;

void VNOperation::start() {
    if (isFinished() || isExecuting())
        return;
    if (isCancelled()) {
        setFinished(true);
        return;
    }
    setExecuting(true);
    main();
    setExecuting(false);
    setFinished(true);
}

void VNOperation::cancel() {
    markCancelled();
}

void VNOperation::waitUntilFinished() {
    std::unique_lock lock(m_mutex);
    m_finishedCondition.wait(lock, [this] { return m_finished.load(); });
}

QString VNOperation::description() const {
    return QString::fromLatin1(typeid(*this).name());
}

void VNOperation::observeExecutingOnce(std::function<void(bool)> observer) {
    std::lock_guard lock(m_mutex);
    m_executingObserver = std::move(observer);
}

void VNOperation::setExecuting(bool executing) {
    std::function<void(bool)> observer;
    {
        std::lock_guard lock(m_mutex);
        if (m_executing.exchange(executing) == executing)
            return;
        observer = std::move(m_executingObserver);
        m_executingObserver = nullptr;
    }
    if (observer)
        observer(executing);
}

void VNOperation::setFinished(bool finished) {
    if (!finished)
        return;
    FinishHook hook;
    std::function<void(bool)> observer;
    {
        std::lock_guard lock(m_mutex);
        if (m_finished.load())
            return;
        if (m_executing.exchange(false))
            observer = std::move(m_executingObserver);
        m_executingObserver = nullptr;
        m_finished.store(true);
        hook = std::move(m_finishHook);
        m_finishHook = nullptr;
    }
    m_finishedCondition.notify_all();
    if (observer)
        observer(false);
    if (hook)
        hook(this);
}

bool VNOperation::attachToQueue(FinishHook hook) {
    std::lock_guard lock(m_mutex);
    if (m_attached || m_finished.load())
        return false;
    m_attached = true;
    m_finishHook = std::move(hook);
    return true;
}

VNBlockOperation::VNBlockOperation(std::function<void()> block) {
    addExecutionBlock(std::move(block));
}

void VNBlockOperation::addExecutionBlock(std::function<void()> block) {
    std::lock_guard lock(m_blocksMutex);
    m_blocks.push_back(std::move(block));
}

QString VNBlockOperation::description() const {
    return QStringLiteral("VNBlockOperation");
}

void VNBlockOperation::main() {
    // Taken rather than copied: a block runs once, and what it holds goes
    // with it.
    std::vector<std::function<void()>> blocks;
    {
        std::lock_guard lock(m_blocksMutex);
        blocks.swap(m_blocks);
    }
    for (auto &block : blocks)
        if (block)
            block();
}
