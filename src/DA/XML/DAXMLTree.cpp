#include "DA/XML/DAXMLTree.h"

#include <QSet>

#include <algorithm>

namespace {

bool isWithin(xmlNodePtr node, xmlNodePtr top) {
    for (; node; node = node->parent)
        if (node == top)
            return true;
    return false;
}

// Whether a node below the element (itself included) uses the declaration.
bool isUsedBelow(xmlNsPtr ns, xmlNodePtr element) {
    return !DAXMLTree::everyNodeBelow(element, [ns](xmlNodePtr n) {
        return !((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns == ns);
    });
}

}  // namespace

DAXMLTree::~DAXMLTree() {
    // Unlinked nodes first: their names may live in the document's dictionary.
    for (auto it = m_keptSubtrees.rbegin(); it != m_keptSubtrees.rend(); ++it)
        freeNode(*it);
    for (const KeptNamespace &kept : m_keptNamespaces)
        xmlFreeNs(kept.ns);
    if (m_top)
        freeNode(m_top);
    if (m_document)
        xmlFreeDoc(m_document);
}

void DAXMLTree::freeNode(xmlNodePtr node) {
    if (!node)
        return;
    switch (node->type) {
    case XML_NAMESPACE_DECL:
        xmlFreeNs(reinterpret_cast<xmlNsPtr>(node));
        break;
    case XML_ATTRIBUTE_NODE:
        xmlFreeProp(reinterpret_cast<xmlAttrPtr>(node));
        break;
    default:
        xmlFreeNode(node);
    }
}

void DAXMLTree::wrapperGone(xmlNodePtr node) {
    auto it = m_wrappers.find(node);
    if (it == m_wrappers.end() || --it.value() > 0)
        return;
    m_wrappers.erase(it);
    if (keptNodeCount() == 0)
        return;
    if (node->type == XML_NAMESPACE_DECL) {
        auto ns = reinterpret_cast<xmlNsPtr>(node);
        const bool kept = std::any_of(m_keptNamespaces.begin(), m_keptNamespaces.end(),
                                      [ns](const KeptNamespace &k) { return k.ns == ns; });
        if (kept) {
            freeKeptNamespaceIfUnused(ns);
            return;
        }
        // A declaration has no way up to its element: any kept subtree may
        // have been held by it alone.
        std::vector<xmlNodePtr> subtrees = m_keptSubtrees;
        for (xmlNodePtr top : subtrees) {
            if (!isSubtreeHeld(top)) {
                m_keptSubtrees.erase(std::find(m_keptSubtrees.begin(), m_keptSubtrees.end(), top));
                freeKeptSubtree(top);
            }
        }
        return;
    }
    xmlNodePtr top = node;
    while (top->parent)
        top = top->parent;
    auto kept = std::find(m_keptSubtrees.begin(), m_keptSubtrees.end(), top);
    if (kept != m_keptSubtrees.end() && !isSubtreeHeld(top)) {
        m_keptSubtrees.erase(kept);
        freeKeptSubtree(top);
    }
}

bool DAXMLTree::isSubtreeHeld(xmlNodePtr top) const {
    if (m_wrappers.isEmpty())
        return false;
    return !everyNodeBelow(top, [this](xmlNodePtr n) { return !m_wrappers.contains(n); });
}

void DAXMLTree::takeUnlinked(xmlNodePtr node) {
    if (isSubtreeHeld(node))
        m_keptSubtrees.push_back(node);
    else
        freeKeptSubtree(node);
}

void DAXMLTree::freeKeptSubtree(xmlNodePtr top) {
    // Declarations kept for elements of the subtree: no node uses them once
    // it is gone.
    std::vector<xmlNsPtr> unused;
    for (KeptNamespace &kept : m_keptNamespaces) {
        if (kept.element && isWithin(kept.element, top)) {
            kept.element = nullptr;
            if (!isHeld(kept.ns))
                unused.push_back(kept.ns);
        }
    }
    freeNode(top);
    for (xmlNsPtr ns : unused)
        freeKeptNamespaceIfUnused(ns);
}

void DAXMLTree::keepNamespace(xmlNsPtr ns, xmlNodePtr declaringElement) {
    ns->next = nullptr;
    m_keptNamespaces.push_back({ns, declaringElement});
}

std::vector<xmlNsPtr> DAXMLTree::keptNamespacesOf(xmlNodePtr element) const {
    std::vector<xmlNsPtr> out;
    for (const KeptNamespace &kept : m_keptNamespaces)
        if (kept.element == element)
            out.push_back(kept.ns);
    return out;
}

void DAXMLTree::freeKeptNamespaceIfUnused(xmlNsPtr ns) {
    auto it = std::find_if(m_keptNamespaces.begin(), m_keptNamespaces.end(),
                           [ns](const KeptNamespace &k) { return k.ns == ns; });
    if (it == m_keptNamespaces.end() || isHeld(ns) || (it->element && isUsedBelow(ns, it->element)))
        return;
    m_keptNamespaces.erase(it);
    xmlFreeNs(ns);
}

void DAXMLTree::collectNamespacesBelow(xmlNodePtr top) {
    if (m_keptNamespaces.empty())
        return;
    // One walk for every kept declaration: which of them nodes below still
    // use, and which elements are there.
    QSet<const void *> used, elements;
    everyNodeBelow(top, [&](xmlNodePtr n) {
        if (n->type == XML_ELEMENT_NODE)
            elements.insert(n);
        if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns)
            used.insert(n->ns);
        return true;
    });
    for (auto it = m_keptNamespaces.begin(); it != m_keptNamespaces.end();) {
        if (it->element && elements.contains(it->element) && !used.contains(it->ns) && !isHeld(it->ns)) {
            xmlFreeNs(it->ns);
            it = m_keptNamespaces.erase(it);
        } else {
            ++it;
        }
    }
}

void DAXMLTree::collectNamespacesAbove(xmlNodePtr node) {
    std::vector<xmlNsPtr> candidates;
    for (const KeptNamespace &kept : m_keptNamespaces)
        if (kept.element && isWithin(node, kept.element))
            candidates.push_back(kept.ns);
    for (xmlNsPtr ns : candidates)
        freeKeptNamespaceIfUnused(ns);
}
