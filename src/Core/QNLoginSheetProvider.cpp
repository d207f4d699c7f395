#include "Core/QNLoginSheetProvider.h"

#include <mutex>

namespace {

std::mutex g_mutex;
QNLoginSheetProvider::Services g_services;

QNLoginSheetProvider::Services services() {
    std::lock_guard lock(g_mutex);
    return g_services;
}

}  // namespace

void QNLoginSheetProvider::install(Services s) {
    std::lock_guard lock(g_mutex);
    g_services = std::move(s);
}

std::shared_ptr<QNAuthWindowController>
QNLoginSheetProvider::makeSheet(const std::shared_ptr<QNCloudInterface> &handler) {
    const Services s = services();
    return s.makeSheet ? s.makeSheet(handler) : nullptr;
}

void QNLoginSheetProvider::loadPage(const std::shared_ptr<QNAuthWindowController> &sheet, const QUrl &page) {
    const Services s = services();
    if (sheet && s.loadPage)
        s.loadPage(sheet, page);
}

void QNLoginSheetProvider::watchRequests(const std::shared_ptr<QNAuthWindowController> &sheet,
                                         std::function<bool(const QUrl &url)> observer) {
    const Services s = services();
    if (sheet && s.watchRequests)
        s.watchRequests(sheet, std::move(observer));
}

QString QNLoginSheetProvider::loopbackCallbackUrl(const QString &path) {
    const Services s = services();
    return s.loopbackCallbackUrl ? s.loopbackCallbackUrl(path) : QStringLiteral("http://localhost") + path;
}
