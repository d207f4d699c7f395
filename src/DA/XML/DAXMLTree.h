#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <libxml/tree.h>
#include <memory>
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
    xmlDocPtr m_document = nullptr;
    xmlNodePtr m_top = nullptr;
    std::vector<xmlNodePtr> m_unlinked;
    std::unique_ptr<QHash<QByteArray, QString>> m_strings;
};
