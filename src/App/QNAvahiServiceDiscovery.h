#pragma once

#include "App/QNServiceDiscovery.h"

#include <memory>

// Service discovery through the Avahi daemon. Avahi runs its own event
// thread; every answer is handed to the main thread, and dropped there when
// this object has gone meanwhile. Without a daemon the search waits for one
// to appear (nothing is found until then).
class QNAvahiServiceDiscovery : public QNServiceDiscovery {
    Q_OBJECT
public:
    explicit QNAvahiServiceDiscovery(QObject *parent = nullptr);
    ~QNAvahiServiceDiscovery() override;

    void searchForServices(const QString &type, const QString &domain) override;
    void stop() override;
    void resolve(const QNNetService &service, int timeoutMs) override;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
