#include "DA/HTTPFetcher/HFRunLoop.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"

#include <QCoreApplication>
#include <QAbstractEventDispatcher>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <mutex>

namespace {

// One object per thread to which work for that thread is posted.
QObject *threadContext() {
    thread_local std::unique_ptr<QObject> context = std::make_unique<QObject>();
    return context.get();
}

std::mutex g_clockMutex;
std::function<QDateTime()> g_now;
std::atomic<double> g_timerScale{1.0};

}  // namespace

HFRunLoop HFRunLoop::current() {
    HFRunLoop loop;
    loop.m_thread = QThread::currentThread();
    threadContext();  // made on its own thread
    return loop;
}

HFRunLoop HFRunLoop::onQueue(VNOperationQueue *queue) {
    HFRunLoop loop;
    loop.m_queue = queue;
    return loop;
}

HFRunLoop HFRunLoop::main() {
    HFRunLoop loop;
    loop.m_thread = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    return loop;
}

bool HFRunLoop::isCurrent() const {
    if (m_queue)
        return false;
    return m_thread == QThread::currentThread();
}

void HFRunLoop::post(std::function<void()> work) const {
    if (m_queue) {
        m_queue->addOperation(std::move(work));
        return;
    }
    auto *app = QCoreApplication::instance();
    if (!m_thread || (app && m_thread == app->thread())) {
        VNDispatch::mainAsync(std::move(work));
        return;
    }
    // Another thread with an event loop: its own context object, or from
    // elsewhere its event dispatcher (which lives on it).
    QObject *target = QThread::currentThread() == m_thread ? threadContext() : static_cast<QObject *>(m_thread->eventDispatcher());
    if (target)
        QMetaObject::invokeMethod(target, std::move(work), Qt::QueuedConnection);
}

void HFRunLoop::postAfter(double seconds, std::function<void()> work) const {
    const int ms = int(std::max(0.0, seconds * g_timerScale.load() * 1000.0));
    if (m_queue || !m_thread || (QCoreApplication::instance() && m_thread == QCoreApplication::instance()->thread())) {
        VNDispatch::mainAfter(ms, std::move(work));
        return;
    }
    post([ms, work = std::move(work)]() mutable { QTimer::singleShot(ms, threadContext(), std::move(work)); });
}

QDateTime HFRunLoop::now() {
    std::lock_guard lock(g_clockMutex);
    return g_now ? g_now() : QDateTime::currentDateTimeUtc();
}

void HFRunLoop::setNowForTesting(std::function<QDateTime()> now) {
    std::lock_guard lock(g_clockMutex);
    g_now = std::move(now);
}

void HFRunLoop::setTimerScaleForTesting(double scale) { g_timerScale.store(scale); }
