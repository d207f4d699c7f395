#include "App/WebLogin/QNAuthWebPage.h"

#include "App/WebLogin/QNAuthWindowController.h"

QNAuthWebPage::QNAuthWebPage(QNAuthWindowController *controller, QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent), m_controller(controller) {}

bool QNAuthWebPage::acceptNavigationRequest(const QUrl &url, NavigationType, bool) {
    // Redirects come here too: this is the one place where a redirect to a
    // callback address can still be stopped (the request interceptor only
    // hears of it).
    if (!m_controller)
        return true;
    return !m_controller->navigationRequest(url);
}

QWebEnginePage *QNAuthWebPage::createWindow(WebWindowType) {
    return m_controller ? m_controller->createPopupPage() : nullptr;
}

void QNAuthWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &) {}
