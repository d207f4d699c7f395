#pragma once

#include "Formats/XTNode.h"

// An element node: children by name, attributes, namespace declarations and
// building.
class XTElement : public XTNode {
public:
    // Direct child elements whose local name equals name exactly (prefixes
    // ignored on the children; "D:href" finds nothing), in document order.
    QList<XTElementPtr> elementsForName(const QString &name) const;
    // With a null or empty uri as elementsForName(); else local name and
    // namespace URI must both match.
    QList<XTElementPtr> elementsForLocalName(const QString &localName, const QString &uri) const;

    XTNodeList attributes() const;
    // "p:n" matches prefix p and local name n; "n" matches local name n in
    // any namespace. Null when none.
    XTNodePtr attributeForName(const QString &name) const;
    // A null uri: as attributeForName(); else the namespace URI must match.
    XTNodePtr attributeForLocalName(const QString &localName, const QString &uri) const;

    // Declarations made on this element itself (never inherited ones).
    QList<XTNamespaceNodePtr> namespaces() const;
    // A null prefix matches the default declaration; "" does not.
    XTNamespaceNodePtr namespaceForPrefix(const QString &prefix) const;
    XTNamespaceNodePtr resolveNamespaceForName(const QString &name) const;
    // The prefix of the first declaration of uri ("" for a default one), or null.
    QString resolvePrefixForNamespaceURI(const QString &uri) const;
    // Declares the namespace on this element and puts the element in it.
    bool addNamespace(const XTNamespaceNodePtr &ns);

    // Appends child as the last child. The child must stand in no document
    // and under no parent (a new node or a copy()); otherwise it is refused
    // (logged) and false is given. The child's tree joins this element's.
    bool addChild(const XTNodePtr &child);
    // A new element with that name appended as the last child.
    XTElementPtr subelement(const QString &name);
    // Appends a text node holding text (a null text is refused).
    bool setStringValue(const QString &text) override;

protected:
    using XTNode::XTNode;
    friend class XTNode;
};
