#pragma once

#include "DA/XML/DAXMLNode.h"

#include <vector>

// An element of the data-API client's XML tree: attributes, namespace
// declarations, children by name or by namespace and local name.
class DAXMLElement : public DAXMLNode {
public:
    // Parses a text holding one element (blank text nodes dropped); null
    // and *error set when it is not well-formed.
    static DAXMLElementPtr elementWithXMLString(const QString &xmlText, VNErrorPtr *error = nullptr);

    // Namespace declarations on this element (not "xml"); empty when none.
    DAXMLNodeList namespaces() const;
    void setNamespaces(const DAXMLNodeList &namespaces);
    void addNamespace(const DAXMLNodePtr &ns);

    // Appends a deep copy of the node (an attribute goes to addAttribute()),
    // resolving its names against the declarations in scope here.
    void addChild(const DAXMLNodePtr &child);
    // The same as addChild() for a child nobody else holds (a freshly built
    // element): its nodes are moved instead of copied.
    void addChildTaking(DAXMLElementPtr child);
    // Takes the child out of this element; wrappers of it (or of nodes below
    // it) stay valid, and it is freed once the last of them goes.
    void removeChild(const DAXMLNodePtr &child);

    // Children with that qualified name; a declared prefix matches by URI.
    DAXMLElementList elementsForName(const QString &name) const;
    DAXMLElementList elementsForLocalName(const QString &localName, const QString &uri) const;
    // Child elements in order.
    DAXMLElementList childElements() const;

    DAXMLNodeList attributes() const;
    // Adds a copy of the attribute unless one of that name (and namespace) exists.
    void addAttribute(const DAXMLNodePtr &attribute);
    DAXMLNodePtr attributeForName(const QString &name) const;
    DAXMLNodePtr attributeForLocalName(const QString &localName, const QString &uri) const;
    DAXMLNodePtr attributeForXMLNode(xmlNodePtr node) const;

    // The prefix the URI is declared under in scope: empty for the default
    // namespace, null when not declared.
    QString resolvePrefixForNamespaceURI(const QString &uri) const;

    // Wrappers are not cached; kept for callers that expect it.
    void releaseCachedValues() {}

    // The namespace fix-up of a node grafted under graftPoint (an element or
    // an attribute, then each descendant and attribute of an element): names
    // still to resolve take a declaration in scope, and declarations that
    // repeat one in the graft point's scope are dropped, the nodes using them
    // moved to the one in scope.
    static void fixUpNamespacesForNode(xmlNodePtr node, xmlNodePtr graftPoint);
    // What one fix-up walk has dropped: each declaration with the one that
    // takes its place. The dropped ones are deleted when the walk is over
    // (nodes below may point at them until the walk reaches them).
    class NamespaceSubstitutionMap {
    public:
        // With a tree, a dropped declaration that a wrapper holds is kept by
        // the tree instead of freed.
        explicit NamespaceSubstitutionMap(DAXMLTree *tree = nullptr) : m_tree(tree) {}
        NamespaceSubstitutionMap(const NamespaceSubstitutionMap &) = delete;
        NamespaceSubstitutionMap &operator=(const NamespaceSubstitutionMap &) = delete;
        ~NamespaceSubstitutionMap();
        void add(xmlNsPtr dropped, xmlNodePtr declaringElement, xmlNsPtr substitute);
        // The substitute of a dropped declaration, else the declaration itself.
        xmlNsPtr substituteFor(xmlNsPtr ns) const;

    private:
        struct Entry {
            xmlNsPtr dropped;
            xmlNodePtr element;
            xmlNsPtr substitute;
        };
        std::vector<Entry> m_entries;
        DAXMLTree *m_tree = nullptr;
    };
    static void fixUpNamespacesForNode(xmlNodePtr node, xmlNodePtr graftPoint, NamespaceSubstitutionMap &map);
    // "{URI}:local" or "prefix:local" on a node without a namespace takes the
    // declaration in scope ("{URI}": by URI, else by prefix).
    static void fixQualifiedNamesForNode(xmlNodePtr node, xmlNodePtr graftPoint);
    // Records the element's declarations that the graft point's scope
    // already binds the same way, and moves the node to its substitute.
    static void fixDuplicateNamespacesForNode(xmlNodePtr node, xmlNodePtr graftPoint, NamespaceSubstitutionMap &map);
    // Unlinks one declaration from the element's list and frees it.
    static void deleteNamespacePtr(xmlNsPtr ns, xmlNodePtr node);
    // Unlinks it only; false when the element does not declare it.
    static bool unlinkNamespacePtr(xmlNsPtr ns, xmlNodePtr node);

private:
    friend class DAXMLNode;
    // Appends a node of this tree as the last child and resolves its names.
    void linkLast(xmlNodePtr node);
    // The fix-up of a node of this tree grafted under this element.
    void fixUpNamespacesInTree(xmlNodePtr node);
    // Moves the nodes below top that use one of the dropped declarations to
    // the one in scope of the same prefix and URI.
    static void moveToDeclarationsInScope(xmlNodePtr top, const std::vector<xmlNsPtr> &dropped);
    using DAXMLNode::DAXMLNode;
};
