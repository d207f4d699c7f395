#include "Net/NRWebPageTree.h"

#include "Net/NRWebPageRequest.h"

void NRWebPageTree::add(const QString &key, const std::shared_ptr<NRWebPageRequest> &request, const QString &parentKey) {
    Node &node = m_nodes[key];
    node.request = request;
    if (!parentKey.isNull() && parentKey != key)
        m_nodes[parentKey].fetches.insert(key);
}

bool NRWebPageTree::await(const QString &waiterKey, const QString &key) {
    const auto target = m_nodes.constFind(key);
    if (target == m_nodes.cend() || target->ended || waitsFor(key, waiterKey))
        return false;
    m_nodes[waiterKey].awaits.insert(key);
    return true;
}

bool NRWebPageTree::isAwaiting(const QString &key) const {
    const auto node = m_nodes.constFind(key);
    return node != m_nodes.cend() && !node->awaits.isEmpty();
}

std::vector<std::shared_ptr<NRWebPageRequest>> NRWebPageTree::ended(const QString &key, const QVariantMap &copy) {
    std::vector<std::shared_ptr<NRWebPageRequest>> free;
    const auto found = m_nodes.find(key);
    if (found == m_nodes.end())
        return free;  // the page has ended already
    found->ended = true;
    found->copy = copy;
    found->awaits.clear();
    for (auto it = m_nodes.begin(); it != m_nodes.end(); ++it) {
        if (!it->awaits.remove(key) || !it->awaits.isEmpty())
            continue;
        if (auto waiter = it->request.lock())
            free.push_back(std::move(waiter));
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

bool NRWebPageTree::waitsFor(const QString &from, const QString &to) const {
    QSet<QString> seen;
    QStringList next{from};
    while (!next.isEmpty()) {
        const QString key = next.takeLast();
        if (key == to)
            return true;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        const auto node = m_nodes.constFind(key);
        if (node == m_nodes.cend() || node->ended)
            continue;  // a request that has ended waits for nothing
        for (const QString &other : node->fetches)
            next.append(other);
        for (const QString &other : node->awaits)
            next.append(other);
    }
    return false;
}
