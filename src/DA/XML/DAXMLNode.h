#pragma once

#include "Platform/VNError.h"

#include <QList>
#include <QMap>
#include <QString>
#include <libxml/tree.h>
#include <memory>

class DAXMLNode;
class DAXMLElement;
class DAXMLTree;
using DAXMLNodePtr = std::shared_ptr<DAXMLNode>;
using DAXMLElementPtr = std::shared_ptr<DAXMLElement>;
using DAXMLNodeList = QList<DAXMLNodePtr>;
using DAXMLElementList = QList<DAXMLElementPtr>;
// Prefix -> namespace URI.
using DAXMLNamespaceMap = QMap<QString, QString>;

// A node of the data-API client's XML tree, a thin wrapper over a libxml2
// node: elements (DAXMLElement), attributes, texts, comments, namespace
// declarations and the rest.
//
// Every wrapper shares ownership of the whole tree it points into, so a node
// kept after its document object (or its parent) is gone stays valid; the
// tree is freed with the last wrapper. A node taken out of a tree lives on
// while a wrapper holds it (or a node below it), and no longer. Adding a
// node to an element adds a deep copy; the node added stays where it was.
//
// Names given with a namespace URI before a node is in a tree are kept as
// "{URI}:local" and resolved against the declarations in scope when the node
// is added to an element.
//
// A tree is used by one thread at a time.
class DAXMLNode : public std::enable_shared_from_this<DAXMLNode> {
public:
    enum Kind : int {
        InvalidKind = 0, DocumentKind, ElementKind, AttributeKind, NamespaceKind, ProcessingInstructionKind,
        CommentKind, TextKind, DTDKind, EntityDeclarationKind, AttributeDeclarationKind, ElementDeclarationKind,
        NotationDeclarationKind
    };

    static QString errorDomain();  // "org.vostrelin.DAXML"

    virtual ~DAXMLNode();
    DAXMLNode(const DAXMLNode &) = delete;
    DAXMLNode &operator=(const DAXMLNode &) = delete;

    // New free-standing nodes. Names and values must not be null.
    static DAXMLElementPtr elementWithName(const QString &name);
    static DAXMLElementPtr elementWithName(const QString &name, const QString &stringValue);
    static DAXMLElementPtr elementWithNameURI(const QString &name, const QString &uri);
    static DAXMLNodePtr attributeWithName(const QString &name, const QString &stringValue);
    static DAXMLNodePtr attributeWithName(const QString &name, const QString &uri, const QString &stringValue);
    static DAXMLNodePtr textWithStringValue(const QString &text);
    static DAXMLNodePtr commentWithStringValue(const QString &text);
    // A namespace declaration: prefix (empty for the default namespace) and URI.
    static DAXMLNodePtr namespaceWithName(const QString &prefix, const QString &uri);

    // "b:c" for "a:b:c"; the whole name when there is no ":" or it is last.
    static QString localNameForName(const QString &name);
    // The part before the first ":"; null when there is none.
    static QString prefixForName(const QString &name);

    Kind kind() const;
    // Namespace node: its URI; else the text content. Null without content.
    QString stringValue() const;
    void setStringValue(const QString &value);
    // The node as XML text, not indented, trimmed.
    QString XMLString() const;
    QString localName() const;
    // Prefix of the node's namespace; empty when none.
    QString prefix() const;
    // URI of the node's namespace; null when none.
    QString URI() const;
    // "prefix:local" when the namespace has a prefix, else the plain name;
    // for a namespace node its prefix.
    QString qualifiedName() const;
    QString name() const { return qualifiedName(); }

    int childCount() const;
    DAXMLNodeList children() const;
    DAXMLNodePtr childAtIndex(int index) const;

    // XPath over the node's tree. Without mappings the node's own namespaces
    // are registered ("_def_ns" for the default one). Null list and *error
    // set when the expression cannot be evaluated.
    DAXMLNodeList nodesForXPath(const QString &xpath, VNErrorPtr *error = nullptr) const;
    DAXMLNodeList nodesForXPath(const QString &xpath, const DAXMLNamespaceMap &namespaces,
                                VNErrorPtr *error = nullptr) const;

    QString description() const;

    // A deep copy, free-standing.
    DAXMLNodePtr copy() const;
    // Deep equality: same kind, name, namespace URI and value, equal
    // attributes (in any order) and equal children in order.
    bool isEqual(const DAXMLNode &other) const;

    xmlNodePtr XMLNode() const { return m_node; }
    // A deep copy of the libxml2 node, the caller's to free; null without one.
    xmlNodePtr XMLNodeCopy() const;
    // The same libxml2 node (wrappers are made afresh by lookups).
    bool isSameNode(const DAXMLNode &other) const { return m_node == other.m_node; }

    // For the tree's own classes: the wrapper of the right class for a node
    // of the given tree.
    static DAXMLNodePtr wrap(xmlNodePtr node, const std::shared_ptr<DAXMLTree> &tree);
    const std::shared_ptr<DAXMLTree> &tree() const { return m_tree; }
    // A libxml2 text as a string: through the document's string cache for
    // elements, attributes and texts of a document that has one.
    QString stringFromXMLString(const xmlChar *s) const;

protected:
    DAXMLNode(xmlNodePtr node, std::shared_ptr<DAXMLTree> tree);
    static DAXMLNodePtr adopt(xmlNodePtr freeStandingNode);

    xmlNodePtr m_node;
    std::shared_ptr<DAXMLTree> m_tree;
};

bool daXMLNodesEqual(xmlNodePtr a, xmlNodePtr b);
