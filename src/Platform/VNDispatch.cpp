#include "VNDispatch.h"

#include "VNOperationQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace VNDispatch {

bool isMainThread() {
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void mainAsync(std::function<void()> block) {
    auto *app = QCoreApplication::instance();
    if (!app)
        return;  // no event loop: the process is going away
    QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

void mainSync(const std::function<void()> &block) {
    if (isMainThread()) {
        block();
        return;
    }
    if (!QCoreApplication::instance())
        return;
    // Our own hand-off rather than a blocking queued call, so that the wait
    // is visible to the thread sanitizer (Qt itself is not instrumented).
    struct Handoff {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto handoff = std::make_shared<Handoff>();
    mainAsync([handoff, &block] {
        block();
        std::lock_guard lock(handoff->mutex);
        handoff->finished = true;
        handoff->done.notify_all();
    });
    std::unique_lock lock(handoff->mutex);
    handoff->done.wait(lock, [&] { return handoff->finished; });
}

void mainAfter(int milliseconds, std::function<void()> block) {
    mainAsync([milliseconds, block = std::move(block)]() mutable {
        QTimer::singleShot(milliseconds, QCoreApplication::instance(), std::move(block));
    });
}

void globalAsync(std::function<void()> block) {
    VNOperationQueue::global().addOperation(std::move(block));
}

}  // namespace VNDispatch
