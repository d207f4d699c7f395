#include "DA/XML/DAXMLTree.h"

DAXMLTree::~DAXMLTree() {
    // Unlinked nodes first: their names may live in the document's dictionary.
    for (auto it = m_unlinked.rbegin(); it != m_unlinked.rend(); ++it)
        freeNode(*it);
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
