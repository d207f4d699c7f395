#pragma once

#include <QMap>
#include <QString>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <memory>

// Owns one libxml2 tree: a whole document, or a node that stands in no
// document (a new element, a copy). Every node wrapper holds its tree, so a
// wrapper never outlives the nodes it points into.
//
// When a free-standing tree is put into another tree (a new element added as
// a child, or made a document's root), it hands its nodes over and keeps the
// receiving tree alive instead: wrappers made before the move stay valid.
class XTTree {
public:
    static std::shared_ptr<XTTree> forDocument(xmlDocPtr doc);
    static std::shared_ptr<XTTree> forFreeNode(xmlNodePtr node);
    ~XTTree();
    XTTree(const XTTree &) = delete;
    XTTree &operator=(const XTTree &) = delete;

    // The tree that now owns this tree's nodes (this one, unless it moved).
    static std::shared_ptr<XTTree> current(std::shared_ptr<XTTree> tree);

    // Gives this tree's nodes to target; this tree then keeps target alive.
    void moveInto(const std::shared_ptr<XTTree> &target);

    // The node this tree owns as its root (document or free node); null once moved.
    xmlNodePtr ownedRoot() const { return m_root; }

    // An XPath context on this tree's document with exactly these prefixes
    // registered, kept between queries (making one per query costs more
    // than most queries). Null for trees that are not documents.
    xmlXPathContextPtr xpathContext(const QMap<QString, QString> &mappings);

private:
    XTTree() = default;
    xmlNodePtr m_root = nullptr;  // an xmlDoc (cast) or a free node
    std::shared_ptr<XTTree> m_movedInto;
    xmlXPathContextPtr m_xpath = nullptr;
    QMap<QString, QString> m_xpathMappings;
};
