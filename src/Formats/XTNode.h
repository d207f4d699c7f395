#pragma once

#include "Platform/VNError.h"

#include <QList>
#include <QMap>
#include <QString>
#include <libxml/tree.h>
#include <memory>

class XTNode;
class XTElement;
class XTDocument;
class XTNamespaceNode;
class XTTree;
using XTNodePtr = std::shared_ptr<XTNode>;
using XTElementPtr = std::shared_ptr<XTElement>;
using XTDocumentPtr = std::shared_ptr<XTDocument>;
using XTNamespaceNodePtr = std::shared_ptr<XTNamespaceNode>;
// Nodes found by a query, in document order. A query that cannot be
// evaluated (a malformed expression, an unknown prefix) gives the null list,
// which is empty too; "nothing matches" is an empty list that is not null.
class XTNodeList : public QList<XTNodePtr> {
public:
    using QList<XTNodePtr>::QList;
    XTNodeList() = default;
    XTNodeList(const QList<XTNodePtr> &other) : QList<XTNodePtr>(other) {}
    XTNodeList(QList<XTNodePtr> &&other) : QList<XTNodePtr>(std::move(other)) {}
    static XTNodeList null() {
        XTNodeList list;
        list.m_null = true;
        return list;
    }
    bool isNull() const { return m_null; }

private:
    bool m_null = false;
};
// Prefix -> namespace URI, registered for one XPath query.
using XTNamespaceMappings = QMap<QString, QString>;

// A node of an XML tree (over libxml2): an attribute, text, CDATA section,
// comment or processing instruction, and the base of elements, documents and
// namespace nodes.
//
// Wrappers are shared objects that keep the tree they point into alive, so a
// wrapper stays valid as long as someone holds it. While a wrapper of a
// libxml2 node exists, every lookup that reaches that node gives that same
// wrapper.
//
// A document and its nodes are used by one thread at a time.
class XTNode : public std::enable_shared_from_this<XTNode> {
public:
    // libxml2 node type numbers as kind() gives them.
    enum Kind : int {
        ElementKind = 1, AttributeKind = 2, TextKind = 3, CDATAKind = 4, EntityReferenceKind = 5,
        ProcessingInstructionKind = 7, CommentKind = 8, DocumentKind = 9, NamespaceKind = 18
    };

    virtual ~XTNode();
    XTNode(const XTNode &) = delete;
    XTNode &operator=(const XTNode &) = delete;

    virtual int kind() const;
    // "prefix:local" when the node's namespace has a prefix, else the local
    // name; null when the node has no name.
    virtual QString name() const;
    virtual QString localName() const;
    // The namespace prefix; the empty string when there is none.
    virtual QString prefix() const;
    // The namespace URI; null when there is none.
    virtual QString URI() const;
    // Text and CDATA: their content; attribute: its value; elements and
    // documents: all text beneath them in order (comments give nothing).
    virtual QString stringValue() const;

    virtual quint64 index() const;   // siblings before this node
    virtual quint64 level() const;   // ancestors, the document included
    virtual XTDocumentPtr rootDocument() const;
    virtual XTNodePtr parent() const;
    virtual qsizetype childCount() const;
    virtual XTNodeList children() const;
    virtual XTNodePtr childAtIndex(qsizetype index) const;
    virtual XTNodePtr previousSibling() const;
    virtual XTNodePtr nextSibling() const;

    // The node serialised as XML (UTF-8 content, no formatting, inherited
    // namespace declarations not added).
    virtual QString XMLString() const;
    virtual QString description() const;

    // Replaces the content of a text node. On other kinds it is refused
    // (logged) and gives false.
    virtual bool setStringValue(const QString &text);

    // A deep copy, standing in no document, owned by the new wrapper; it may
    // be added to another tree.
    XTNodePtr copy() const;

    // XPath 1.0 with this node as the context node. On a malformed
    // expression: an empty list and *error set to ("TODO_DOMAIN", -1);
    // *error is left untouched on success (pass a null VNErrorPtr and test
    // it). Nodes come in document order; namespace nodes in the result are
    // given as XTNamespaceNode.
    virtual XTNodeList nodesForXPath(const QString &xpath, VNErrorPtr *error = nullptr) const;
    virtual XTNodeList nodesForXPath(const QString &xpath, const XTNamespaceMappings &mappings,
                                     VNErrorPtr *error = nullptr) const;
    // NOTE the asymmetry: without mappings the LAST match, with mappings
    // (even empty ones) the FIRST match. Null when nothing matches.
    XTNodePtr nodeForXPath(const QString &xpath, VNErrorPtr *error = nullptr) const;
    XTNodePtr nodeForXPath(const QString &xpath, const XTNamespaceMappings &mappings,
                           VNErrorPtr *error = nullptr) const;

    // Convenience: this node as an element, or null.
    XTElementPtr asElement() const;

    // The wrapped libxml2 node (null for namespace nodes).
    xmlNodePtr node() const { return m_node; }

    static QString localNameForName(const QString &name);  // after the first ":"
    static QString prefixForName(const QString &name);     // before it, or ""

    // Building.
    static XTDocumentPtr document();
    static XTDocumentPtr documentWithRootElement(const XTElementPtr &element);
    static XTElementPtr elementWithName(const QString &name);
    // An element that declares uri as its default namespace and is in it.
    static XTElementPtr elementWithNameURI(const QString &name, const QString &uri);
    // An element whose only child is a text node holding text.
    static XTElementPtr elementWithNameStringValue(const QString &name, const QString &text);
    static XTNodePtr processingInstructionWithName(const QString &target, const QString &content);
    static XTNamespaceNodePtr namespaceWithName(const QString &prefix, const QString &uri);
    static XTNamespaceNodePtr predefinedNamespaceForPrefix(const QString &prefix);

    // The wrapper of a libxml2 node of the given tree: the existing one, or
    // a new one of the class its type calls for. Null for no node and for
    // node types that have no wrapper (declarations, DTDs and the like).
    static XTNodePtr wrap(xmlNodePtr node, const std::shared_ptr<XTTree> &tree);

protected:
    XTNode(xmlNodePtr node, std::shared_ptr<XTTree> tree);
    std::shared_ptr<XTTree> tree() const;
    // A free-standing node of a new tree of its own.
    static XTNodePtr wrapFree(xmlNodePtr node);
    // Appends or inserts child under parentNode (before `before`, or last);
    // refuses nodes that already stand in a document or under a parent.
    bool linkChild(const XTNodePtr &child, xmlNodePtr before, const char *caller);
    static bool isWrappable(xmlNodePtr node);

    xmlNodePtr m_node = nullptr;

private:
    std::shared_ptr<XTTree> m_tree;
};
