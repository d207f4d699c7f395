#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QNAuthWindowController;
class QNCloudInterface;

// What a drive handler, which knows no windows, needs of the web login
// sheet: making one with itself as the sheet's handler, loading a page into
// it, and the loopback callback address the sheet recognises. The user
// interface installs them at start-up.
class QNLoginSheetProvider {
public:
    struct Services {
        std::function<std::shared_ptr<QNAuthWindowController>(const std::shared_ptr<QNCloudInterface> &handler)>
            makeSheet;
        std::function<void(const std::shared_ptr<QNAuthWindowController> &sheet, const QUrl &page)> loadPage;
        // "http://<loopback host><path>".
        std::function<QString(const QString &path)> loopbackCallbackUrl;
        // Shows every request of the sheet's pages to the observer before
        // the sheet's own markers; an observer answering true has taken the
        // request over: it is stopped and the markers skip it.
        std::function<void(const std::shared_ptr<QNAuthWindowController> &sheet,
                           std::function<bool(const QUrl &url)> observer)>
            watchRequests;
    };

    static void install(Services services);

    // A new sheet, null when none is installed.
    static std::shared_ptr<QNAuthWindowController> makeSheet(const std::shared_ptr<QNCloudInterface> &handler);
    static void loadPage(const std::shared_ptr<QNAuthWindowController> &sheet, const QUrl &page);
    // For clients that watch the sheet's view themselves; see Services.
    static void watchRequests(const std::shared_ptr<QNAuthWindowController> &sheet,
                              std::function<bool(const QUrl &url)> observer);
    // Without a user interface: "http://localhost<path>".
    static QString loopbackCallbackUrl(const QString &path = QStringLiteral("/"));
};
