#include "Net/NRWebPageTree.h"

#include "Net/NRWebPageRequest.h"

#include <QStringList>

#include <utility>

void NRWebPageTree::add(const QString &key, const std::shared_ptr<NRWebPageRequest> &request, const QString &parentKey) {
    Node &node = m_nodes[key];
    node.request = request;
    node.parent = parentKey == key ? QString() : parentKey;
}

bool NRWebPageTree::isOver(const Node &node) {
    if (node.ended)
        return true;
    const auto request = node.request.lock();
    return !request || request->isCancelled();
}

void NRWebPageTree::await(const QString &waiterKey, const QSet<QString> &keys) {
    if (keys.isEmpty() || !m_nodes.contains(waiterKey))
        return;
    // One walk for all the waits of the request: they add no path to it
    // (none is made to a request that already waits for it).
    const QSet<QString> waiting = waitingFor(waiterKey);
    Node &waiter = m_nodes[waiterKey];
    for (const QString &key : keys) {
        const auto target = m_nodes.constFind(key);
        if (target == m_nodes.cend() || target->parent == waiterKey || waiting.contains(key) || isOver(*target))
            continue;
        waiter.awaits.insert(key);
        m_waitersOf[key].insert(waiterKey);
    }
}

bool NRWebPageTree::isAwaiting(const QString &key) const {
    const auto node = m_nodes.constFind(key);
    if (node == m_nodes.cend())
        return false;
    for (const QString &other : node->awaits) {
        const auto target = m_nodes.constFind(other);
        if (target != m_nodes.cend() && !isOver(*target))
            return true;
    }
    return false;
}

std::vector<std::shared_ptr<NRWebPageRequest>> NRWebPageTree::ended(const QString &key, const QVariantMap &copy) {
    std::vector<std::shared_ptr<NRWebPageRequest>> free;
    const auto found = m_nodes.find(key);
    if (found == m_nodes.end() || found->ended)
        return free;  // the page has ended already, or this request has
    found->ended = true;
    found->copy = copy;
    // A request that has ended waits for nothing.
    for (const QString &other : std::exchange(found->awaits, {})) {
        const auto waiters = m_waitersOf.find(other);
        if (waiters != m_waitersOf.end() && (waiters->remove(key), waiters->isEmpty()))
            m_waitersOf.erase(waiters);
    }
    for (const QString &waiterKey : m_waitersOf.take(key)) {
        const auto waiter = m_nodes.find(waiterKey);
        if (waiter == m_nodes.end() || !waiter->awaits.remove(key) || !waiter->awaits.isEmpty())
            continue;
        if (auto request = waiter->request.lock())
            free.push_back(std::move(request));
    }
    return free;
}

bool NRWebPageTree::hasEnded(const QString &key) const {
    const auto node = m_nodes.constFind(key);
    return node != m_nodes.cend() && node->ended;
}

QVariantMap NRWebPageTree::copyOf(const QString &key) const {
    return m_nodes.value(key).copy;
}

void NRWebPageTree::clear() {
    m_nodes.clear();
    m_waitersOf.clear();
}

// Walked backwards, along who waits for whom: a request's fetcher waits for
// it until that fetcher is over, and so does each request awaiting it.
QSet<QString> NRWebPageTree::waitingFor(const QString &key) const {
    QSet<QString> seen{key};
    QStringList next{key};
    const auto visit = [&](const QString &other) {
        const auto node = m_nodes.constFind(other);
        if (other.isEmpty() || node == m_nodes.cend() || isOver(*node) || seen.contains(other))
            return;
        seen.insert(other);
        next.append(other);
    };
    while (!next.isEmpty()) {
        const QString current = next.takeLast();
        if (const auto node = m_nodes.constFind(current); node != m_nodes.cend())
            visit(node->parent);
        for (const QString &waiter : m_waitersOf.value(current))
            visit(waiter);
    }
    return seen;
}
