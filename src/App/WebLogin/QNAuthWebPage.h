#pragma once

#include <QPointer>
#include <QWebEnginePage>

class QNAuthWindowController;

// A page of the login sheet (its main view and its pop-ups): every
// navigation, server redirects included, is shown to the sheet before it
// starts, and one the sheet stops never goes out. Pop-ups open as windows
// of the sheet.
class QNAuthWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    QNAuthWebPage(QNAuthWindowController *controller, QWebEngineProfile *profile, QObject *parent = nullptr);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    // Provider pages' console messages are not ours to log (they may carry
    // codes and tokens): dropped.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    QPointer<QNAuthWindowController> m_controller;
};
