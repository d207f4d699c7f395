#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <libxml/tree.h>
#include <memory>
#include <vector>

// The owner of one libxml2 tree, shared by every wrapper that points into
// it: a parsed or built document, or a free-standing node with its subtree.
//
// Wrappers count themselves in and out per node. A node taken out of the
// tree (a removed child, children replaced by new content, a namespace
// declaration taken off its element) is freed at once when no wrapper holds
// it or a node below it, else kept until the last such wrapper goes: those
// wrappers never dangle, and a long-lived tree does not grow with each change.
class DAXMLTree {
public:
    explicit DAXMLTree(xmlDocPtr document) : m_document(document) {}
    explicit DAXMLTree(xmlNodePtr freeStandingNode) : m_top(freeStandingNode) {}
    ~DAXMLTree();
    DAXMLTree(const DAXMLTree &) = delete;
    DAXMLTree &operator=(const DAXMLTree &) = delete;

    xmlDocPtr document() const { return m_document; }

    // Called by each wrapper as it is made and as it goes.
    void wrapperMade(xmlNodePtr node) { ++m_wrappers[node]; }
    void wrapperGone(xmlNodePtr node);
    bool isHeld(const void *node) const { return m_wrappers.contains(node); }

    // A node (with its subtree) unlinked from this tree: freed now, or once
    // no wrapper holds a node of it.
    void takeUnlinked(xmlNodePtr node);
    // A declaration taken off the element's list: it lives on while a
    // wrapper holds it, or while a node below the element still uses it
    // (see collectNamespacesBelow).
    void keepNamespace(xmlNsPtr ns, xmlNodePtr declaringElement);
    // The declarations taken off the element that are still kept.
    std::vector<xmlNsPtr> keptNamespacesOf(xmlNodePtr element) const;
    // Frees the kept declarations of elements in top's subtree that no node
    // there uses any more and no wrapper holds.
    void collectNamespacesBelow(xmlNodePtr top);
    // The same for the kept declarations of node and its ancestors (after a
    // node below them was taken out).
    void collectNamespacesAbove(xmlNodePtr node);
    // Unlinked subtrees and declarations still kept (for tests).
    size_t keptNodeCount() const { return m_keptSubtrees.size() + m_keptNamespaces.size(); }

    // Gives up a free-standing top node (the caller links it elsewhere);
    // null when this tree is a document or keeps unlinked nodes.
    xmlNodePtr releaseTop() {
        if (m_document || keptNodeCount() != 0)
            return nullptr;
        xmlNodePtr top = m_top;
        m_top = nullptr;
        return top;
    }
    bool hasTop(xmlNodePtr node) const { return node && node == m_top; }

    // Frees a node of any kind (namespace declarations included).
    static void freeNode(xmlNodePtr node);

    // Visits top and everything below it: children (not through an entity
    // reference, whose children are the entity's), attributes with their
    // texts, and namespace declarations. Stops at the first visit that
    // answers false; answers whether none did.
    template <typename Visit>
    static bool everyNodeBelow(xmlNodePtr top, Visit visit);

    // The texts of a document's names and values, each decoded once and
    // then shared by every wrapper that reads it; it goes with the tree.
    void addStringsCache() {
        if (!m_strings)
            m_strings = std::make_unique<QHash<QByteArray, QString>>();
    }
    bool hasStringsCache() const { return bool(m_strings); }
    // The cached text of the bytes (decoded and kept on first use).
    QString cachedString(const char *utf8) {
        const QByteArray key = QByteArray::fromRawData(utf8, qstrlen(utf8));
        auto it = m_strings->constFind(key);
        if (it != m_strings->constEnd())
            return *it;
        QString text = QString::fromUtf8(key);
        m_strings->insert(QByteArray(utf8), text);
        return text;
    }

private:
    struct KeptNamespace {
        xmlNsPtr ns;
        xmlNodePtr element;  // null once no node can use it any more
    };
    // Whether a wrapper holds the node, a node below it, an attribute or a
    // declaration of one.
    bool isSubtreeHeld(xmlNodePtr top) const;
    // Frees a kept subtree, and the kept declarations of its elements that
    // no wrapper holds (the others can be used by no node any more).
    void freeKeptSubtree(xmlNodePtr top);
    void freeKeptNamespaceIfUnused(xmlNsPtr ns);

    xmlDocPtr m_document = nullptr;
    xmlNodePtr m_top = nullptr;
    QHash<const void *, int> m_wrappers;
    std::vector<xmlNodePtr> m_keptSubtrees;
    std::vector<KeptNamespace> m_keptNamespaces;
    std::unique_ptr<QHash<QByteArray, QString>> m_strings;
};

template <typename Visit>
bool DAXMLTree::everyNodeBelow(xmlNodePtr top, Visit visit) {
    if (top->type == XML_NAMESPACE_DECL)
        return visit(top);
    xmlNodePtr node = top;
    for (;;) {
        if (!visit(node))
            return false;
        if (node->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr a = node->properties; a; a = a->next) {
                if (!visit(reinterpret_cast<xmlNodePtr>(a)))
                    return false;
                for (xmlNodePtr t = a->children; t; t = t->next)
                    if (!visit(t))
                        return false;
            }
            for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next)
                if (!visit(reinterpret_cast<xmlNodePtr>(ns)))
                    return false;
        }
        if (node->children && node->type != XML_ENTITY_REF_NODE) {
            node = node->children;
            continue;
        }
        while (node != top && !node->next)
            node = node->parent;
        if (node == top)
            return true;
        node = node->next;
    }
}
