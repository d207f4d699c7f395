#include "App/QNServiceDiscovery.h"

#include "App/QNAvahiServiceDiscovery.h"

static QNServiceDiscovery::Factory &factorySlot() {
    static QNServiceDiscovery::Factory factory;
    return factory;
}

std::unique_ptr<QNServiceDiscovery> QNServiceDiscovery::create() {
    if (factorySlot())
        return factorySlot()();
    return std::make_unique<QNAvahiServiceDiscovery>();
}

void QNServiceDiscovery::setFactory(Factory factory) { factorySlot() = std::move(factory); }
