#include "App/QNAvahiServiceDiscovery.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>
#include <mutex>

// Lives as long as the poll thread may call back; everything in it that the
// Avahi callbacks touch is used with the poll lock held (they run with it).
struct QNAvahiServiceDiscovery::State {
    AvahiThreadedPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    AvahiServiceBrowser *browser = nullptr;
    QByteArray type;
    QByteArray domain;
    bool searching = false;
    quint64 nextResolveId = 1;
    QHash<quint64, AvahiServiceResolver *> resolvers;
    QHash<quint64, QNNetService> resolving;
    QHash<quint64, void *> contexts;  // the ResolveContext of each pending resolver

    std::mutex ownerMutex;
    QPointer<QNAvahiServiceDiscovery> owner;  // read on the poll thread, used on the main thread

    QPointer<QNAvahiServiceDiscovery> ownerGuard() {
        std::lock_guard lock(ownerMutex);
        return owner;
    }
    void startBrowser();
};

namespace {

struct ResolveContext {
    QNAvahiServiceDiscovery::State *state;
    quint64 id;
};

void post(QNAvahiServiceDiscovery::State *state, std::function<void(QNAvahiServiceDiscovery *)> fn) {
    QPointer<QNAvahiServiceDiscovery> guard = state->ownerGuard();
    VNDispatch::mainAsync([guard, fn = std::move(fn)] {
        if (guard)
            fn(guard.data());
    });
}

QNNetService serviceFrom(AvahiIfIndex iface, AvahiProtocol protocol, const char *name, const char *type,
                         const char *domain) {
    QNNetService s;
    s.name = QString::fromUtf8(name ? name : "");
    s.type = QString::fromUtf8(type ? type : "");
    s.domain = QString::fromUtf8(domain ? domain : "");
    s.interfaceIndex = iface;
    s.protocol = protocol;
    return s;
}

void browseCallback(AvahiServiceBrowser *, AvahiIfIndex iface, AvahiProtocol protocol, AvahiBrowserEvent event,
                    const char *name, const char *type, const char *domain, AvahiLookupResultFlags,
                    void *userdata) {
    auto *state = static_cast<QNAvahiServiceDiscovery::State *>(userdata);
    switch (event) {
    case AVAHI_BROWSER_NEW: {
        const QNNetService s = serviceFrom(iface, protocol, name, type, domain);
        post(state, [s](QNAvahiServiceDiscovery *d) { emit d->serviceFound(s, false); });
        break;
    }
    case AVAHI_BROWSER_REMOVE: {
        const QNNetService s = serviceFrom(iface, protocol, name, type, domain);
        post(state, [s](QNAvahiServiceDiscovery *d) { emit d->serviceRemoved(s, false); });
        break;
    }
    case AVAHI_BROWSER_FAILURE: {
        const QString reason = QString::fromUtf8(avahi_strerror(avahi_client_errno(state->client)));
        post(state, [reason](QNAvahiServiceDiscovery *d) { emit d->searchFailed(reason); });
        break;
    }
    default:
        break;
    }
}

void resolveCallback(AvahiServiceResolver *resolver, AvahiIfIndex iface, AvahiProtocol protocol,
                     AvahiResolverEvent event, const char *name, const char *type, const char *domain,
                     const char *hostName, const AvahiAddress *address, uint16_t port, AvahiStringList *,
                     AvahiLookupResultFlags, void *userdata) {
    auto *context = static_cast<ResolveContext *>(userdata);
    QNAvahiServiceDiscovery::State *state = context->state;
    const quint64 id = context->id;
    state->contexts.remove(id);
    delete context;
    state->resolvers.remove(id);
    QNNetService s = state->resolving.take(id);
    avahi_service_resolver_free(resolver);
    if (event == AVAHI_RESOLVER_FOUND && address) {
        char text[AVAHI_ADDRESS_STR_MAX] = {0};
        avahi_address_snprint(text, sizeof text, address);
        s.hostName = QString::fromUtf8(hostName ? hostName : "");
        s.port = port;
        const QByteArray raw = QNNetService::socketAddress(QString::fromLatin1(text), port, iface);
        if (!raw.isEmpty())
            s.socketAddresses << raw;
        post(state, [s](QNAvahiServiceDiscovery *d) { emit d->serviceResolved(s); });
    } else {
        const QString reason = QString::fromUtf8(avahi_strerror(avahi_client_errno(state->client)));
        post(state, [s, reason](QNAvahiServiceDiscovery *d) { emit d->serviceNotResolved(s, reason); });
    }
    Q_UNUSED(protocol);
    Q_UNUSED(name);
    Q_UNUSED(type);
    Q_UNUSED(domain);
}

void clientCallback(AvahiClient *client, AvahiClientState clientState, void *userdata) {
    auto *state = static_cast<QNAvahiServiceDiscovery::State *>(userdata);
    if (!state->client)
        state->client = client;  // the first call comes from inside avahi_client_new
    if (clientState == AVAHI_CLIENT_S_RUNNING) {
        if (state->searching && !state->browser)
            state->startBrowser();
    } else if (clientState == AVAHI_CLIENT_FAILURE) {
        const QString reason = QString::fromUtf8(avahi_strerror(avahi_client_errno(client)));
        post(state, [reason](QNAvahiServiceDiscovery *d) { emit d->searchFailed(reason); });
    } else if (clientState == AVAHI_CLIENT_CONNECTING) {
        // The daemon went away or is not there yet: its browser is dead.
        if (state->browser) {
            avahi_service_browser_free(state->browser);
            state->browser = nullptr;
        }
    }
}

}  // namespace

void QNAvahiServiceDiscovery::State::startBrowser() {
    browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.constData(),
                                        domain.isEmpty() ? nullptr : domain.constData(), AvahiLookupFlags(0),
                                        browseCallback, this);
    if (!browser) {
        const QString reason = QString::fromUtf8(avahi_strerror(avahi_client_errno(client)));
        post(this, [reason](QNAvahiServiceDiscovery *d) { emit d->searchFailed(reason); });
    }
}

QNAvahiServiceDiscovery::QNAvahiServiceDiscovery(QObject *parent)
    : QNServiceDiscovery(parent), m_state(std::make_shared<State>()) {
    m_state->owner = this;
    m_state->poll = avahi_threaded_poll_new();
    if (!m_state->poll)
        return;
    int error = 0;
    // Without a daemon the client waits for one instead of failing.
    AvahiClient *client = avahi_client_new(avahi_threaded_poll_get(m_state->poll), AVAHI_CLIENT_NO_FAIL,
                                           clientCallback, m_state.get(), &error);
    m_state->client = client;
    if (!client) {
        VNLog::log(QStringLiteral("QNAvahiServiceDiscovery client error: %1").arg(QString::fromUtf8(avahi_strerror(error))));
        return;
    }
    avahi_threaded_poll_start(m_state->poll);
}

QNAvahiServiceDiscovery::~QNAvahiServiceDiscovery() {
    {
        std::lock_guard lock(m_state->ownerMutex);
        m_state->owner = nullptr;
    }
    if (!m_state->poll)
        return;
    avahi_threaded_poll_stop(m_state->poll);
    for (AvahiServiceResolver *r : std::as_const(m_state->resolvers))
        avahi_service_resolver_free(r);
    m_state->resolvers.clear();
    for (void *context : std::as_const(m_state->contexts))
        delete static_cast<ResolveContext *>(context);
    m_state->contexts.clear();
    if (m_state->browser)
        avahi_service_browser_free(m_state->browser);
    if (m_state->client)
        avahi_client_free(m_state->client);
    avahi_threaded_poll_free(m_state->poll);
    m_state->poll = nullptr;
}

void QNAvahiServiceDiscovery::searchForServices(const QString &type, const QString &domain) {
    if (!m_state->poll || !m_state->client) {
        VNDispatch::mainAsync([guard = QPointer<QNAvahiServiceDiscovery>(this)] {
            if (guard)
                emit guard->searchFailed(QStringLiteral("the discovery service is not available"));
        });
        return;
    }
    QString t = type;
    if (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    avahi_threaded_poll_lock(m_state->poll);
    if (m_state->browser) {
        avahi_service_browser_free(m_state->browser);
        m_state->browser = nullptr;
    }
    m_state->type = t.toUtf8();
    m_state->domain = domain.toUtf8();
    m_state->searching = true;
    if (avahi_client_get_state(m_state->client) == AVAHI_CLIENT_S_RUNNING)
        m_state->startBrowser();
    avahi_threaded_poll_unlock(m_state->poll);
}

void QNAvahiServiceDiscovery::stop() {
    if (!m_state->poll)
        return;
    avahi_threaded_poll_lock(m_state->poll);
    m_state->searching = false;
    if (m_state->browser) {
        avahi_service_browser_free(m_state->browser);
        m_state->browser = nullptr;
    }
    avahi_threaded_poll_unlock(m_state->poll);
}

void QNAvahiServiceDiscovery::resolve(const QNNetService &service, int timeoutMs) {
    if (!m_state->poll || !m_state->client) {
        VNDispatch::mainAsync([guard = QPointer<QNAvahiServiceDiscovery>(this), service] {
            if (guard)
                emit guard->serviceNotResolved(service, QStringLiteral("the discovery service is not available"));
        });
        return;
    }
    avahi_threaded_poll_lock(m_state->poll);
    const quint64 id = m_state->nextResolveId++;
    auto *context = new ResolveContext{m_state.get(), id};
    QString type = service.type;
    if (type.endsWith(QLatin1Char('.')))
        type.chop(1);
    const QByteArray domain = service.domain.toUtf8();
    AvahiServiceResolver *resolver = avahi_service_resolver_new(
        m_state->client, service.interfaceIndex < 0 ? AVAHI_IF_UNSPEC : service.interfaceIndex,
        service.protocol < 0 ? AVAHI_PROTO_UNSPEC : service.protocol, service.name.toUtf8().constData(),
        type.toUtf8().constData(), domain.isEmpty() ? nullptr : domain.constData(), AVAHI_PROTO_UNSPEC,
        AvahiLookupFlags(0), resolveCallback, context);
    if (resolver) {
        m_state->resolvers.insert(id, resolver);
        m_state->resolving.insert(id, service);
        m_state->contexts.insert(id, context);
    } else {
        delete context;
    }
    avahi_threaded_poll_unlock(m_state->poll);
    if (!resolver) {
        emit serviceNotResolved(service, QStringLiteral("could not start resolving"));
        return;
    }
    // Give up after the time-out; an answer that comes later finds nothing.
    std::weak_ptr<State> weak = m_state;
    QTimer::singleShot(timeoutMs, this, [this, weak, id, service] {
        auto state = weak.lock();
        if (!state || !state->poll)
            return;
        avahi_threaded_poll_lock(state->poll);
        AvahiServiceResolver *pending = state->resolvers.take(id);
        state->resolving.remove(id);
        if (pending)
            avahi_service_resolver_free(pending);  // a freed resolver never calls back
        delete static_cast<ResolveContext *>(state->contexts.take(id));
        avahi_threaded_poll_unlock(state->poll);
        if (pending)
            emit serviceNotResolved(service, QStringLiteral("timed out"));
    });
}
