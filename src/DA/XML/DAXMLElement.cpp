#include "DA/XML/DAXMLElement.h"

#include "DA/XML/DAXMLDocument.h"
#include "DA/XML/DAXMLTree.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const xmlChar *xml(const QByteArray &bytes) { return reinterpret_cast<const xmlChar *>(bytes.constData()); }

QString text(const xmlChar *s) { return s ? QString::fromUtf8(reinterpret_cast<const char *>(s)) : QString(); }

QString qualifiedNameOf(xmlNodePtr node) {
    if (node->ns && node->ns->prefix)
        return text(node->ns->prefix) + QLatin1Char(':') + text(node->name);
    return text(node->name);
}

xmlNsPtr searchPrefix(xmlNodePtr scope, const QByteArray &prefix) {
    return xmlSearchNs(scope->doc, scope, prefix.isNull() ? nullptr : xml(prefix));
}

xmlNsPtr searchURI(xmlNodePtr scope, const QByteArray &uri) { return xmlSearchNsByHref(scope->doc, scope, xml(uri)); }

// The declaration in scope that binds the prefix to the same URI, or null.
// Looked up by URI first; a URI bound under a second prefix as well may be
// found under that one, so the prefix is asked too.
xmlNsPtr repeatedInScope(xmlNsPtr ns, xmlNodePtr scope) {
    xmlNsPtr found = xmlSearchNsByHref(scope->doc, scope, ns->href);
    if (found && xmlStrEqual(found->prefix, ns->prefix))
        return found;
    // ("xml" is never asked by prefix: for a node in no document libxml2
    // would declare it on the node.)
    if (ns->prefix && xmlStrEqual(ns->prefix, BAD_CAST "xml"))
        return nullptr;
    found = xmlSearchNs(scope->doc, scope, ns->prefix);
    return found && xmlStrEqual(found->href, ns->href) ? found : nullptr;
}

void fixUpWalk(xmlNodePtr node, xmlNodePtr graftPoint, DAXMLElement::NamespaceSubstitutionMap &map, int depth) {
    if (depth > 4096)
        return;
    if (node->type == XML_ELEMENT_NODE) {
        DAXMLElement::fixQualifiedNamesForNode(node, node);
        DAXMLElement::fixDuplicateNamespacesForNode(node, graftPoint, map);
        for (xmlAttrPtr a = node->properties; a; a = a->next) {
            auto *attr = reinterpret_cast<xmlNodePtr>(a);
            DAXMLElement::fixQualifiedNamesForNode(attr, node);
            attr->ns = map.substituteFor(attr->ns);
        }
        for (xmlNodePtr c = node->children; c; c = c->next)
            fixUpWalk(c, graftPoint, map, depth + 1);
    } else if (node->type == XML_ATTRIBUTE_NODE) {
        DAXMLElement::fixQualifiedNamesForNode(node, graftPoint);
        node->ns = map.substituteFor(node->ns);
    }
}

}  // namespace

DAXMLElement::NamespaceSubstitutionMap::~NamespaceSubstitutionMap() {
    for (const Entry &e : m_entries) {
        // A wrapper may hold a dropped declaration: it lives on with the tree.
        if (m_tree && m_tree->isHeld(e.dropped) && unlinkNamespacePtr(e.dropped, e.element))
            m_tree->keepNamespace(e.dropped, e.element);
        else
            deleteNamespacePtr(e.dropped, e.element);
    }
}

void DAXMLElement::NamespaceSubstitutionMap::add(xmlNsPtr dropped, xmlNodePtr declaringElement, xmlNsPtr substitute) {
    m_entries.push_back({dropped, declaringElement, substitute});
}

xmlNsPtr DAXMLElement::NamespaceSubstitutionMap::substituteFor(xmlNsPtr ns) const {
    if (ns) {
        for (const Entry &e : m_entries)
            if (e.dropped == ns)
                return e.substitute;
    }
    return ns;
}

void DAXMLElement::deleteNamespacePtr(xmlNsPtr ns, xmlNodePtr node) {
    if (unlinkNamespacePtr(ns, node))
        xmlFreeNs(ns);
}

bool DAXMLElement::unlinkNamespacePtr(xmlNsPtr ns, xmlNodePtr node) {
    if (!ns || !node)
        return false;
    xmlNsPtr previous = nullptr;
    for (xmlNsPtr cur = node->nsDef; cur; previous = cur, cur = cur->next) {
        if (cur != ns)
            continue;
        if (previous)
            previous->next = cur->next;
        else
            node->nsDef = cur->next;
        cur->next = nullptr;
        return true;
    }
    return false;
}

void DAXMLElement::fixQualifiedNamesForNode(xmlNodePtr node, xmlNodePtr scope) {
    if (node->ns || !node->name)
        return;
    const QByteArray name(reinterpret_cast<const char *>(node->name));
    const qsizetype colon = name.lastIndexOf(':');
    if (colon == name.size() - 1 && colon >= 0)
        return;
    QByteArray prefix, local = name;
    if (colon >= 0) {
        prefix = name.left(colon);
        local = name.mid(colon + 1);
    }
    xmlNsPtr ns = nullptr;
    if (prefix.size() >= 3 && prefix.startsWith('{') && prefix.endsWith('}')) {
        ns = searchURI(scope, prefix.mid(1, prefix.size() - 2));
        // An attribute cannot take the default namespace.
        if (ns && !ns->prefix && node->type == XML_ATTRIBUTE_NODE)
            ns = nullptr;
    } else if (!prefix.isNull() || node->type == XML_ELEMENT_NODE) {
        ns = searchPrefix(scope, prefix);
    }
    if (ns) {
        node->ns = ns;
        xmlNodeSetName(node, xml(local));
    }
}

void DAXMLElement::fixDuplicateNamespacesForNode(xmlNodePtr node, xmlNodePtr graftPoint, NamespaceSubstitutionMap &map) {
    if (node->type == XML_ELEMENT_NODE && graftPoint) {
        // Asked where the element stands: below the graft point an element
        // of the grafted tree may bind the prefix to another URI, and a
        // declaration of the old binding is then no repeat. (The graft point
        // itself keeps its own declarations.)
        xmlNodePtr scope = node == graftPoint || !node->parent || node->parent->type != XML_ELEMENT_NODE ? node : node->parent;
        // Left in the element's list until the walk is over: a node below
        // that still finds it is moved to its substitute as well.
        for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next) {
            xmlNsPtr found = repeatedInScope(ns, scope);
            if (found && found != ns)
                map.add(ns, node, map.substituteFor(found));
        }
    }
    node->ns = map.substituteFor(node->ns);
}

void DAXMLElement::fixUpNamespacesForNode(xmlNodePtr node, xmlNodePtr graftPoint, NamespaceSubstitutionMap &map) {
    fixUpWalk(node, graftPoint, map, 0);
}

void DAXMLElement::fixUpNamespacesForNode(xmlNodePtr node, xmlNodePtr graftPoint) {
    NamespaceSubstitutionMap map;
    fixUpNamespacesForNode(node, graftPoint, map);
}

void DAXMLElement::fixUpNamespacesInTree(xmlNodePtr node) {
    NamespaceSubstitutionMap map(m_tree.get());
    fixUpNamespacesForNode(node, m_node, map);
}

DAXMLElementPtr DAXMLElement::elementWithXMLString(const QString &xmlText, VNErrorPtr *error) {
    xmlDocPtr doc = DAXMLDocument::parseBytes(xmlText.toUtf8(), false, error);
    if (!doc)
        return nullptr;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    xmlNodePtr copy = root ? xmlDocCopyNode(root, nullptr, 1) : nullptr;
    xmlFreeDoc(doc);
    if (!copy) {
        if (error)
            *error = std::make_shared<VNError>(errorDomain(), -1);
        return nullptr;
    }
    return std::static_pointer_cast<DAXMLElement>(adopt(copy));
}

DAXMLNodeList DAXMLElement::namespaces() const {
    DAXMLNodeList list;
    for (xmlNsPtr ns = m_node->nsDef; ns; ns = ns->next) {
        if (ns->prefix && xmlStrEqual(ns->prefix, BAD_CAST "xml"))
            continue;
        list.append(wrap(reinterpret_cast<xmlNodePtr>(ns), m_tree));
    }
    return list;
}

void DAXMLElement::setNamespaces(const DAXMLNodeList &namespaces) {
    // Declarations go, but the nodes that use them may still point at them,
    // and wrappers may hold them: the tree keeps them while either lasts.
    for (xmlNsPtr ns = m_node->nsDef; ns;) {
        xmlNsPtr next = ns->next;
        m_tree->keepNamespace(ns, m_node);
        ns = next;
    }
    m_node->nsDef = nullptr;
    for (const DAXMLNodePtr &ns : namespaces) {
        if (ns && ns->kind() == NamespaceKind) {
            auto *def = reinterpret_cast<xmlNsPtr>(ns->XMLNode());
            xmlNewNs(m_node, def->href, def->prefix);
        }
    }
    fixUpNamespacesInTree(m_node);
    moveToDeclarationsInScope(m_node, m_tree->keptNamespacesOf(m_node));
    m_tree->collectNamespacesBelow(m_node);
}

void DAXMLElement::moveToDeclarationsInScope(xmlNodePtr top, const std::vector<xmlNsPtr> &dropped) {
    if (dropped.empty())
        return;
    // A node still using a dropped declaration takes the one now in scope
    // under the same prefix for the same URI, if any: it reads and writes
    // the same, and the dropped one can go.
    DAXMLTree::everyNodeBelow(top, [&dropped](xmlNodePtr n) {
        if ((n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE) || !n->ns ||
            std::find(dropped.begin(), dropped.end(), n->ns) == dropped.end())
            return true;
        const xmlChar *prefix = n->ns->prefix;
        // (An attribute takes no default namespace, and "xml" is never
        // looked up: libxml2 would declare it on a node in no document.)
        if ((!prefix && n->type == XML_ATTRIBUTE_NODE) || (prefix && xmlStrEqual(prefix, BAD_CAST "xml")))
            return true;
        xmlNodePtr scope = n->type == XML_ATTRIBUTE_NODE ? n->parent : n;
        xmlNsPtr found = xmlSearchNs(scope->doc, scope, prefix);
        if (found && xmlStrEqual(found->href, n->ns->href))
            n->ns = found;
        return true;
    });
}

void DAXMLElement::addNamespace(const DAXMLNodePtr &ns) {
    if (!ns || ns->kind() != NamespaceKind)
        return;
    auto *def = reinterpret_cast<xmlNsPtr>(ns->XMLNode());
    xmlNewNs(m_node, def->href, def->prefix);
    fixUpNamespacesInTree(m_node);
}

void DAXMLElement::addChild(const DAXMLNodePtr &child) {
    if (!child || !child->XMLNode())
        return;
    if (child->kind() == AttributeKind) {
        addAttribute(child);
        return;
    }
    if (child->kind() == NamespaceKind || child->kind() == DocumentKind)
        return;
    xmlNodePtr copy = xmlDocCopyNode(child->XMLNode(), m_node->doc, 1);
    if (!copy)
        return;
    linkLast(copy);
}

void DAXMLElement::addChildTaking(DAXMLElementPtr child) {
    // Only a wrapper that is the one holder of a free-standing tree whose
    // top is this node can give it up; anything else is copied.
    if (!child || child.use_count() != 1 || child->m_tree.use_count() != 1 || !child->m_tree->hasTop(child->m_node) ||
        child->m_node->doc) {
        addChild(child);
        return;
    }
    xmlNodePtr node = child->m_tree->releaseTop();
    if (!node) {
        addChild(child);
        return;
    }
    if (m_node->doc)
        xmlSetTreeDoc(node, m_node->doc);
    linkLast(node);
}

void DAXMLElement::linkLast(xmlNodePtr copy) {
    // Linked by hand: xmlAddChild would merge a text into the text before
    // it, copying the growing text each time (quadratic over many texts).
    copy->parent = m_node;
    copy->prev = m_node->last;
    copy->next = nullptr;
    if (m_node->last)
        m_node->last->next = copy;
    else
        m_node->children = copy;
    m_node->last = copy;
    fixUpNamespacesInTree(copy);
}

void DAXMLElement::removeChild(const DAXMLNodePtr &child) {
    if (!child || !child->XMLNode() || child->XMLNode()->parent != m_node)
        return;
    xmlNodePtr node = child->XMLNode();
    xmlUnlinkNode(node);
    if (node->type == XML_ELEMENT_NODE) {
        // Declare on the removed node what it used from its old ancestors, so
        // it still writes as well-formed XML on its own and keeps nothing of
        // theirs.
        xmlDOMWrapReconcileNamespaces(nullptr, node, 0);
        m_tree->collectNamespacesBelow(node);
    } else if (node->type == XML_ATTRIBUTE_NODE && node->ns) {
        // An attribute declares nothing: it takes a declaration of its own,
        // which goes with it.
        xmlNsPtr own = xmlNewNs(nullptr, node->ns->href, node->ns->prefix);
        if (own) {
            node->ns = own;
            m_tree->keepNamespace(own, node);
        }
    }
    // Freed now, unless the caller's wrapper (or another) still holds it.
    m_tree->takeUnlinked(node);
    m_tree->collectNamespacesAbove(m_node);
}

DAXMLElementList DAXMLElement::childElements() const {
    DAXMLElementList list;
    for (xmlNodePtr c = m_node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            list.append(std::static_pointer_cast<DAXMLElement>(wrap(c, m_tree)));
    }
    return list;
}

DAXMLElementList DAXMLElement::elementsForName(const QString &name) const {
    const QString prefix = prefixForName(name);
    if (!prefix.isNull()) {
        xmlNsPtr ns = searchPrefix(m_node, prefix.toUtf8());
        if (ns)
            return elementsForLocalName(localNameForName(name), text(ns->href));
    }
    DAXMLElementList list;
    for (xmlNodePtr c = m_node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && qualifiedNameOf(c) == name)
            list.append(std::static_pointer_cast<DAXMLElement>(wrap(c, m_tree)));
    }
    return list;
}

DAXMLElementList DAXMLElement::elementsForLocalName(const QString &localName, const QString &uri) const {
    DAXMLElementList list;
    if (!m_node->children)
        return list;
    // Matched by the namespace's URI, not by which declaration names it: one
    // URI may be declared under two prefixes (or as the default and under a
    // prefix), and children may use either. A name not yet resolved against
    // a declaration reads "{URI}:local".
    const QByteArray uriBytes = uri.toUtf8(), localBytes = localName.toUtf8();
    const QByteArray unresolved = QStringLiteral("{%1}:%2").arg(uri, localName).toUtf8();
    for (xmlNodePtr c = m_node->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        const bool matches = c->ns ? xmlStrEqual(c->ns->href, xml(uriBytes)) && xmlStrEqual(c->name, xml(localBytes))
                                   : xmlStrEqual(c->name, xml(unresolved));
        if (matches)
            list.append(std::static_pointer_cast<DAXMLElement>(wrap(c, m_tree)));
    }
    return list;
}

DAXMLNodeList DAXMLElement::attributes() const {
    DAXMLNodeList list;
    for (xmlAttrPtr a = m_node->properties; a; a = a->next)
        list.append(wrap(reinterpret_cast<xmlNodePtr>(a), m_tree));
    return list;
}

void DAXMLElement::addAttribute(const DAXMLNodePtr &attribute) {
    if (!attribute || attribute->kind() != AttributeKind)
        return;
    xmlNodePtr source = attribute->XMLNode();
    const xmlChar *href = source->ns ? source->ns->href : nullptr;
    if (href ? xmlHasNsProp(m_node, source->name, href) : xmlHasProp(m_node, source->name))
        return;
    if (!href) {
        // A name still to be resolved ("p:name" or "{URI}:name") may name an
        // attribute that is already here under its resolved form.
        const QString name = text(source->name);
        const QString prefix = prefixForName(name);
        QByteArray uri;
        if (prefix.size() >= 3 && prefix.startsWith(QLatin1Char('{')) && name.contains(QStringLiteral("}:"))) {
            uri = name.mid(1, name.indexOf(QStringLiteral("}:")) - 1).toUtf8();
        } else if (!prefix.isNull()) {
            if (xmlNsPtr declared = searchPrefix(m_node, prefix.toUtf8()))
                uri = QByteArray(reinterpret_cast<const char *>(declared->href));
        }
        const QByteArray local = name.mid(name.lastIndexOf(QLatin1Char(':')) + 1).toUtf8();
        if (!uri.isNull() && xmlHasNsProp(m_node, xml(local), xml(uri)))
            return;
    }
    xmlNsPtr ns = nullptr;
    if (source->ns) {
        ns = xmlSearchNsByHref(m_node->doc, m_node, href);
        if (!ns || !ns->prefix)
            ns = xmlNewNs(m_node, href, source->ns->prefix);
    }
    xmlChar *value = xmlNodeGetContent(source);
    xmlAttrPtr added = xmlNewNsProp(m_node, ns, source->name, value ? value : BAD_CAST "");
    xmlFree(value);
    if (added)
        fixUpNamespacesForNode(reinterpret_cast<xmlNodePtr>(added), m_node);
}

DAXMLNodePtr DAXMLElement::attributeForName(const QString &name) const {
    for (xmlAttrPtr a = m_node->properties; a; a = a->next) {
        if (qualifiedNameOf(reinterpret_cast<xmlNodePtr>(a)) == name)
            return wrap(reinterpret_cast<xmlNodePtr>(a), m_tree);
    }
    const QString prefix = prefixForName(name);
    if (prefix.isNull())
        return nullptr;
    xmlNsPtr ns = searchPrefix(m_node, prefix.toUtf8());
    const QByteArray local = localNameForName(name).toUtf8();
    // By the URI the prefix names: the attribute may carry another prefix of it.
    for (xmlAttrPtr a = m_node->properties; a; a = a->next) {
        const bool sameNamespace = ns ? a->ns && xmlStrEqual(a->ns->href, ns->href) : !a->ns;
        if (sameNamespace && xmlStrEqual(a->name, xml(local)))
            return wrap(reinterpret_cast<xmlNodePtr>(a), m_tree);
    }
    return nullptr;
}

DAXMLNodePtr DAXMLElement::attributeForLocalName(const QString &localName, const QString &uri) const {
    const QByteArray local = localName.toUtf8(), uriBytes = uri.toUtf8();
    const QByteArray unresolved = QStringLiteral("{%1}:%2").arg(uri, localName).toUtf8();
    for (xmlAttrPtr a = m_node->properties; a; a = a->next) {
        if (a->ns && xmlStrEqual(a->name, xml(local)) && xmlStrEqual(a->ns->href, xml(uriBytes)))
            return wrap(reinterpret_cast<xmlNodePtr>(a), m_tree);
    }
    for (xmlAttrPtr a = m_node->properties; a; a = a->next) {
        if (!a->ns && xmlStrEqual(a->name, xml(unresolved)))
            return wrap(reinterpret_cast<xmlNodePtr>(a), m_tree);
    }
    return nullptr;
}

DAXMLNodePtr DAXMLElement::attributeForXMLNode(xmlNodePtr node) const {
    for (xmlAttrPtr a = m_node->properties; a; a = a->next) {
        if (reinterpret_cast<xmlNodePtr>(a) == node)
            return wrap(node, m_tree);
    }
    return nullptr;
}

QString DAXMLElement::resolvePrefixForNamespaceURI(const QString &uri) const {
    xmlNsPtr ns = searchURI(m_node, uri.toUtf8());
    if (!ns)
        return QString();
    return ns->prefix ? text(ns->prefix) : QStringLiteral("");
}
