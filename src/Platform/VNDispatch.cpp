#include "VNDispatch.h"

#include "VNOperationQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

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
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, [&block] { block(); }, Qt::BlockingQueuedConnection);
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
