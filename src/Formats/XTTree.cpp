#include "Formats/XTTree.h"

#include <libxml/xpathInternals.h>

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
    if (m_xpath)
        xmlXPathFreeContext(m_xpath);
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

xmlXPathContextPtr XTTree::xpathContext(const QMap<QString, QString> &mappings) {
    if (!m_root || m_root->type != XML_DOCUMENT_NODE)
        return nullptr;
    if (!m_xpath) {
        m_xpath = xmlXPathNewContext(reinterpret_cast<xmlDocPtr>(m_root));
        if (!m_xpath)
            return nullptr;
        xmlXPathContextSetCache(m_xpath, 1, -1, 0);
        m_xpathMappings.clear();
    } else if (mappings == m_xpathMappings) {
        return m_xpath;
    } else {
        xmlXPathRegisteredNsCleanup(m_xpath);
        m_xpathMappings.clear();
    }
    for (auto it = mappings.cbegin(); it != mappings.cend(); ++it) {
        const QByteArray prefix = it.key().toUtf8(), uri = it.value().toUtf8();
        xmlXPathRegisterNs(m_xpath, reinterpret_cast<const xmlChar *>(prefix.constData()),
                           reinterpret_cast<const xmlChar *>(uri.constData()));
    }
    m_xpathMappings = mappings;
    return m_xpath;
}
