#include "Formats/XTTree.h"

std::shared_ptr<XTTree> XTTree::forDocument(xmlDocPtr doc) {
    std::shared_ptr<XTTree> tree(new XTTree);
    tree->m_root = reinterpret_cast<xmlNodePtr>(doc);
    return tree;
}

std::shared_ptr<XTTree> XTTree::forFreeNode(xmlNodePtr node) {
    std::shared_ptr<XTTree> tree(new XTTree);
    tree->m_root = node;
    return tree;
}

XTTree::~XTTree() {
    if (!m_root)
        return;
    if (m_root->type == XML_DOCUMENT_NODE || m_root->type == XML_HTML_DOCUMENT_NODE)
        xmlFreeDoc(reinterpret_cast<xmlDocPtr>(m_root));
    else
        xmlFreeNode(m_root);  // frees an attribute as an attribute
}

std::shared_ptr<XTTree> XTTree::current(std::shared_ptr<XTTree> tree) {
    while (tree && tree->m_movedInto)
        tree = tree->m_movedInto;
    return tree;
}

void XTTree::moveInto(const std::shared_ptr<XTTree> &target) {
    m_root = nullptr;
    m_movedInto = current(target);
}
