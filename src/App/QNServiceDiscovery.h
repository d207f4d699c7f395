#pragma once

#include "App/QNNetService.h"

#include <QObject>
#include <functional>
#include <memory>

// Finds services of one type on the local network and resolves them. Every
// signal comes on the main thread. The application's discovery speaks to the
// Avahi daemon; tests put a double in its place through setFactory().
class QNServiceDiscovery : public QObject {
    Q_OBJECT
public:
    explicit QNServiceDiscovery(QObject *parent = nullptr) : QObject(parent) {}
    ~QNServiceDiscovery() override = default;

    // Starts looking for services of the type ("_webdav._tcp.") in the domain
    // ("" for the default domains). A new search replaces the last one.
    virtual void searchForServices(const QString &type, const QString &domain) = 0;
    virtual void stop() = 0;
    // Resolves a found service; answers with serviceResolved or
    // serviceNotResolved, the latter at the latest after the time-out.
    virtual void resolve(const QNNetService &service, int timeoutMs) = 0;

    // The discovery the application uses (the Avahi one unless replaced).
    using Factory = std::function<std::unique_ptr<QNServiceDiscovery>()>;
    static std::unique_ptr<QNServiceDiscovery> create();
    static void setFactory(Factory factory);

signals:
    void serviceFound(const QNNetService &service, bool moreComing);
    void serviceRemoved(const QNNetService &service, bool moreComing);
    void serviceResolved(const QNNetService &service);
    void serviceNotResolved(const QNNetService &service, const QString &reason);
    // The search could not run (no daemon); nothing will be found.
    void searchFailed(const QString &reason);
};
