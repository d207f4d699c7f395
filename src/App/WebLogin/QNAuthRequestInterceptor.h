#pragma once

#include <QPointer>
#include <QWebEngineUrlRequestInterceptor>

class QNAuthWindowController;

// Sits on the login sheet's own browser profile and shows every request of
// its pages (sub-resources included) to the sheet, which may stop it.
// Runs on the main thread (the web engine calls it there).
class QNAuthRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    explicit QNAuthRequestInterceptor(QNAuthWindowController *controller, QObject *parent = nullptr);

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

private:
    QPointer<QNAuthWindowController> m_controller;
};
