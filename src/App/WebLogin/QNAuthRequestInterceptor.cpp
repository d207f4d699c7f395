#include "App/WebLogin/QNAuthRequestInterceptor.h"

#include "App/WebLogin/QNAuthWindowController.h"

QNAuthRequestInterceptor::QNAuthRequestInterceptor(QNAuthWindowController *controller, QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent), m_controller(controller) {}

void QNAuthRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info) {
    if (!m_controller)
        return;
    const bool frame = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame ||
                       info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeSubFrame;
    if (m_controller->interceptRequest(info.requestUrl(), frame))
        info.block(true);
}
