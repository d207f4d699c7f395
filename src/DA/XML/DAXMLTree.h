#pragma once

#include <libxml/tree.h>
#include <vector>

// The owner of one libxml2 tree, shared by every wrapper that points into
// it: a parsed or built document, or a free-standing node with its subtree.
// Nodes unlinked from the tree are kept until the tree goes, so wrappers of
// them (and of their descendants) never dangle.
class DAXMLTree {
public:
    explicit DAXMLTree(xmlDocPtr document) : m_document(document) {}
    explicit DAXMLTree(xmlNodePtr freeStandingNode) : m_top(freeStandingNode) {}
    ~DAXMLTree();
    DAXMLTree(const DAXMLTree &) = delete;
    DAXMLTree &operator=(const DAXMLTree &) = delete;

    xmlDocPtr document() const { return m_document; }
    // Keeps a node that was unlinked from this tree alive with it.
    void keepUnlinked(xmlNodePtr node) { m_unlinked.push_back(node); }

    // Gives up a free-standing top node (the caller links it elsewhere);
    // null when this tree is a document or has kept unlinked nodes.
    xmlNodePtr releaseTop() {
        if (m_document || !m_unlinked.empty())
            return nullptr;
        xmlNodePtr top = m_top;
        m_top = nullptr;
        return top;
    }
    bool hasTop(xmlNodePtr node) const { return node && node == m_top; }

    // Frees a node of any kind (namespace declarations included).
    static void freeNode(xmlNodePtr node);

private:
    xmlDocPtr m_document = nullptr;
    xmlNodePtr m_top = nullptr;
    std::vector<xmlNodePtr> m_unlinked;
};
