#include "DA/XML/DAXMLNode.h"

#include "DA/XML/DAXMLElement.h"
#include "DA/XML/DAXMLTree.h"
#include "Formats/XTLibxml.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

namespace {

const xmlChar *xml(const QByteArray &bytes) { return reinterpret_cast<const xmlChar *>(bytes.constData()); }

QString text(const xmlChar *s) { return s ? QString::fromUtf8(reinterpret_cast<const char *>(s)) : QString(); }

// A name given with a URI, before it is resolved in a tree.
QByteArray unresolvedName(const QString &name, const QString &uri) {
    return QStringLiteral("{%1}:%2").arg(uri, DAXMLNode::localNameForName(name)).toUtf8();
}

xmlNsPtr asNamespace(xmlNodePtr node) { return reinterpret_cast<xmlNsPtr>(node); }

}  // namespace

QString DAXMLNode::errorDomain() { return QStringLiteral("org.vostrelin.DAXML"); }

DAXMLNode::DAXMLNode(xmlNodePtr node, std::shared_ptr<DAXMLTree> tree) : m_node(node), m_tree(std::move(tree)) {
    if (m_node && m_tree)
        m_tree->wrapperMade(m_node);
}

DAXMLNode::~DAXMLNode() {
    if (m_node && m_tree)
        m_tree->wrapperGone(m_node);
}

DAXMLNodePtr DAXMLNode::wrap(xmlNodePtr node, const std::shared_ptr<DAXMLTree> &tree) {
    if (!node)
        return nullptr;
    if (node->type == XML_ELEMENT_NODE)
        return DAXMLNodePtr(new DAXMLElement(node, tree));
    return DAXMLNodePtr(new DAXMLNode(node, tree));
}

DAXMLNodePtr DAXMLNode::adopt(xmlNodePtr freeStandingNode) {
    if (!freeStandingNode)
        return nullptr;
    return wrap(freeStandingNode, std::make_shared<DAXMLTree>(freeStandingNode));
}

DAXMLElementPtr DAXMLNode::elementWithName(const QString &name) {
    XTLibxml::ensureInitialised();
    return std::static_pointer_cast<DAXMLElement>(adopt(xmlNewNode(nullptr, xml(name.toUtf8()))));
}

DAXMLElementPtr DAXMLNode::elementWithName(const QString &name, const QString &stringValue) {
    XTLibxml::ensureInitialised();
    xmlNodePtr element = xmlNewNode(nullptr, xml(name.toUtf8()));
    if (!element)
        return nullptr;
    xmlNodePtr textNode = xmlNewText(xml(stringValue.toUtf8()));
    if (!textNode || !xmlAddChild(element, textNode)) {
        xmlFreeNode(textNode);
        xmlFreeNode(element);
        return nullptr;
    }
    return std::static_pointer_cast<DAXMLElement>(adopt(element));
}

DAXMLElementPtr DAXMLNode::elementWithNameURI(const QString &name, const QString &uri) {
    XTLibxml::ensureInitialised();
    return std::static_pointer_cast<DAXMLElement>(adopt(xmlNewNode(nullptr, xml(unresolvedName(name, uri)))));
}

DAXMLNodePtr DAXMLNode::attributeWithName(const QString &name, const QString &stringValue) {
    XTLibxml::ensureInitialised();
    return adopt(reinterpret_cast<xmlNodePtr>(xmlNewProp(nullptr, xml(name.toUtf8()), xml(stringValue.toUtf8()))));
}

DAXMLNodePtr DAXMLNode::attributeWithName(const QString &name, const QString &uri, const QString &stringValue) {
    XTLibxml::ensureInitialised();
    return adopt(
        reinterpret_cast<xmlNodePtr>(xmlNewProp(nullptr, xml(unresolvedName(name, uri)), xml(stringValue.toUtf8()))));
}

DAXMLNodePtr DAXMLNode::textWithStringValue(const QString &value) {
    XTLibxml::ensureInitialised();
    return adopt(xmlNewText(xml(value.toUtf8())));
}

DAXMLNodePtr DAXMLNode::commentWithStringValue(const QString &value) {
    XTLibxml::ensureInitialised();
    return adopt(xmlNewComment(xml(value.toUtf8())));
}

DAXMLNodePtr DAXMLNode::namespaceWithName(const QString &prefix, const QString &uri) {
    XTLibxml::ensureInitialised();
    const QByteArray p = prefix.toUtf8();
    xmlNsPtr ns = xmlNewNs(nullptr, xml(uri.toUtf8()), prefix.isEmpty() ? nullptr : xml(p));
    return adopt(reinterpret_cast<xmlNodePtr>(ns));
}

QString DAXMLNode::localNameForName(const QString &name) {
    if (name.isNull())
        return QString();
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (colon >= 0 && colon + 1 < name.size())
        return name.mid(colon + 1);
    return name;
}

QString DAXMLNode::prefixForName(const QString &name) {
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return QString();
    return name.left(colon);
}

DAXMLNode::Kind DAXMLNode::kind() const {
    if (!m_node)
        return InvalidKind;
    switch (m_node->type) {
    case XML_DOCUMENT_NODE:
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DOCUMENT_FRAG_NODE:
    case XML_HTML_DOCUMENT_NODE:
    case xmlElementType(21):  // a DocBook document (libxml2 no longer names it)
        return DocumentKind;
    case XML_ELEMENT_NODE:
        return ElementKind;
    case XML_ATTRIBUTE_NODE:
        return AttributeKind;
    case XML_NAMESPACE_DECL:
        return NamespaceKind;
    case XML_PI_NODE:
    case XML_XINCLUDE_START:
    case XML_XINCLUDE_END:
        return ProcessingInstructionKind;
    case XML_COMMENT_NODE:
        return CommentKind;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        return TextKind;
    case XML_DTD_NODE:
        return DTDKind;
    case XML_ENTITY_REF_NODE:
    case XML_ENTITY_NODE:
    case XML_ENTITY_DECL:
        return EntityDeclarationKind;
    case XML_ATTRIBUTE_DECL:
        return AttributeDeclarationKind;
    case XML_ELEMENT_DECL:
        return ElementDeclarationKind;
    case XML_NOTATION_NODE:
        return NotationDeclarationKind;
    default:
        return InvalidKind;
    }
}

xmlNodePtr DAXMLNode::XMLNodeCopy() const {
    if (!m_node)
        return nullptr;
    if (m_node->type == XML_NAMESPACE_DECL)
        return reinterpret_cast<xmlNodePtr>(xmlCopyNamespace(reinterpret_cast<xmlNsPtr>(m_node)));
    if (m_node->type == XML_ATTRIBUTE_NODE)
        return reinterpret_cast<xmlNodePtr>(xmlCopyProp(nullptr, reinterpret_cast<xmlAttrPtr>(m_node)));
    return xmlCopyNode(m_node, 1);
}

QString DAXMLNode::stringFromXMLString(const xmlChar *s) const {
    if (!s)
        return QString();
    const bool cachedKind = m_node && (m_node->type == XML_ELEMENT_NODE || m_node->type == XML_ATTRIBUTE_NODE ||
                                       m_node->type == XML_TEXT_NODE);
    if (cachedKind && m_tree && m_tree->hasStringsCache())
        return m_tree->cachedString(reinterpret_cast<const char *>(s));
    return text(s);
}

QString DAXMLNode::stringValue() const {
    if (!m_node)
        return QString();
    if (m_node->type == XML_NAMESPACE_DECL)
        return text(asNamespace(m_node)->href);
    xmlChar *content = xmlNodeGetContent(m_node);
    if (!content)
        return QString();
    QString result = stringFromXMLString(content);
    xmlFree(content);
    return result;
}

void DAXMLNode::setStringValue(const QString &value) {
    if (!m_node || value.isNull())
        return;
    const QByteArray bytes = value.toUtf8();
    if (m_node->type == XML_NAMESPACE_DECL) {
        xmlNsPtr ns = asNamespace(m_node);
        xmlFree(const_cast<xmlChar *>(ns->href));
        ns->href = xmlStrdup(xml(bytes));
        return;
    }
    if (auto *self = dynamic_cast<DAXMLElement *>(this))
        self->releaseCachedValues();
    // The children the new content replaces may have live wrappers: they
    // leave the tree and live on as long as those do (the setter would free
    // them at once).
    if (m_node->type == XML_ELEMENT_NODE || m_node->type == XML_ATTRIBUTE_NODE) {
        while (xmlNodePtr child = m_node->children) {
            xmlUnlinkNode(child);
            if (child->type == XML_ELEMENT_NODE) {
                xmlDOMWrapReconcileNamespaces(nullptr, child, 0);
                m_tree->collectNamespacesBelow(child);
            }
            m_tree->takeUnlinked(child);
        }
        m_tree->collectNamespacesAbove(m_node);
    }
    // Content is taken literally: escape it for the setter, which reads
    // entity references.
    xmlChar *escaped = xmlEncodeSpecialChars(m_node->doc, xml(bytes));
    xmlNodeSetContent(m_node, escaped);
    xmlFree(escaped);
}

QString DAXMLNode::XMLString() const {
    if (!m_node)
        return QString();
    if (m_node->type == XML_NAMESPACE_DECL) {
        xmlNsPtr ns = asNamespace(m_node);
        const QString name = ns->prefix ? QStringLiteral("xmlns:") + text(ns->prefix) : QStringLiteral("xmlns");
        DAXMLNodePtr attr = attributeWithName(name, text(ns->href));
        return attr ? attr->XMLString() : QString();
    }
    xmlBufferPtr buffer = xmlBufferCreate();
    if (!buffer)
        return QString();
    xmlNodeDump(buffer, m_node->doc, m_node, 0, 0);
    QString result = QString::fromUtf8(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    return result.trimmed();
}

QString DAXMLNode::localName() const {
    if (!m_node)
        return QString();
    if (m_node->type == XML_NAMESPACE_DECL)
        return text(asNamespace(m_node)->prefix);
    return localNameForName(stringFromXMLString(m_node->name));
}

QString DAXMLNode::prefix() const {
    if (!m_node || m_node->type == XML_NAMESPACE_DECL || !m_node->ns || !m_node->ns->prefix)
        return QStringLiteral("");
    return stringFromXMLString(m_node->ns->prefix);
}

QString DAXMLNode::URI() const {
    if (!m_node || m_node->type == XML_NAMESPACE_DECL || !m_node->ns)
        return QString();
    return stringFromXMLString(m_node->ns->href);
}

QString DAXMLNode::qualifiedName() const {
    if (!m_node)
        return QString();
    if (m_node->type == XML_NAMESPACE_DECL) {
        const xmlChar *p = asNamespace(m_node)->prefix;
        return p ? text(p) : QStringLiteral("");
    }
    if (m_node->ns && m_node->ns->prefix)
        return stringFromXMLString(m_node->ns->prefix) + QLatin1Char(':') + stringFromXMLString(m_node->name);
    return stringFromXMLString(m_node->name);
}

int DAXMLNode::childCount() const {
    if (!m_node || m_node->type == XML_NAMESPACE_DECL)
        return 0;
    int count = 0;
    for (xmlNodePtr c = m_node->children; c; c = c->next)
        ++count;
    return count;
}

DAXMLNodeList DAXMLNode::children() const {
    DAXMLNodeList list;
    if (!m_node || m_node->type == XML_NAMESPACE_DECL)
        return list;
    for (xmlNodePtr c = m_node->children; c; c = c->next)
        list.append(wrap(c, m_tree));
    return list;
}

DAXMLNodePtr DAXMLNode::childAtIndex(int index) const {
    if (!m_node || m_node->type == XML_NAMESPACE_DECL || index < 0)
        return nullptr;
    xmlNodePtr c = m_node->children;
    for (int i = 0; c && i < index; ++i)
        c = c->next;
    return c ? wrap(c, m_tree) : nullptr;
}

DAXMLNodeList DAXMLNode::nodesForXPath(const QString &xpath, VNErrorPtr *error) const {
    return nodesForXPath(xpath, DAXMLNamespaceMap(), error);
}

DAXMLNodeList DAXMLNode::nodesForXPath(const QString &xpath, const DAXMLNamespaceMap &namespaces,
                                       VNErrorPtr *error) const {
    auto fail = [&](VNErrorPtr e) {
        if (error)
            *error = std::move(e);
        return DAXMLNodeList();
    };
    if (!m_node || m_node->type == XML_NAMESPACE_DECL)
        return fail(VNError::make(errorDomain(), -1, QStringLiteral("error"), QStringLiteral("invalid node")));

    // A node in no document is queried inside a temporary one, which lets
    // go of the tree again afterwards.
    xmlDocPtr temporary = nullptr;
    xmlNodePtr top = m_node;
    if (!m_node->doc) {
        while (top->parent)
            top = top->parent;
        if (top->type != XML_ELEMENT_NODE)
            return fail(VNError::make(errorDomain(), -1, QStringLiteral("error"), QStringLiteral("invalid node")));
        temporary = xmlNewDoc(reinterpret_cast<const xmlChar *>("1.0"));
        if (!temporary)
            return fail(std::make_shared<VNError>(errorDomain(), -1));
        xmlDocSetRootElement(temporary, top);
    }

    XTLibxml::ErrorCapture capture;
    DAXMLNodeList result;
    bool ok = false;
    VNErrorPtr failure;
    xmlXPathContextPtr context = xmlXPathNewContext(m_node->doc);
    if (!context) {
        failure = std::make_shared<VNError>(errorDomain(), -1);
    } else {
        context->node = m_node;
        QList<QByteArray> keep;
        auto registerNs = [&](const QByteArray &prefix, const QByteArray &uri) {
            keep << prefix << uri;
            xmlXPathRegisterNs(context, xml(prefix), xml(uri));
        };
        if (!namespaces.isEmpty()) {
            for (auto it = namespaces.begin(); it != namespaces.end(); ++it)
                registerNs(it.key().toUtf8(), it.value().toUtf8());
        } else {
            xmlNodePtr source = m_node->type == XML_DOCUMENT_NODE ? xmlDocGetRootElement(m_node->doc) : m_node;
            if (source && source->type == XML_ELEMENT_NODE) {
                for (xmlNsPtr ns = source->ns; ns; ns = ns->next)
                    registerNs(ns->prefix ? QByteArray(reinterpret_cast<const char *>(ns->prefix)) : "_def_ns",
                               QByteArray(reinterpret_cast<const char *>(ns->href)));
            }
        }
        xmlXPathObjectPtr object = xmlXPathEval(xml(xpath.toUtf8()), context);
        if (object) {
            ok = true;
            if (object->type == XPATH_NODESET && object->nodesetval) {
                for (int i = 0; i < object->nodesetval->nodeNr; ++i) {
                    xmlNodePtr n = object->nodesetval->nodeTab[i];
                    if (n->type == XML_NAMESPACE_DECL) {
                        // XPath hands out its own copies of namespace nodes.
                        xmlNsPtr ns = asNamespace(n);
                        result.append(adopt(reinterpret_cast<xmlNodePtr>(xmlNewNs(nullptr, ns->href, ns->prefix))));
                    } else {
                        result.append(wrap(n, m_tree));
                    }
                }
            }
            xmlXPathFreeObject(object);
        } else {
            const xmlError &last = context->lastError;
            QVariantMap info;
            if (last.str1)
                info.insert(QStringLiteral("error"), text(reinterpret_cast<const xmlChar *>(last.str1)));
            failure = std::make_shared<VNError>(errorDomain(), last.code, info);
        }
        xmlXPathFreeContext(context);
    }
    if (temporary) {
        xmlUnlinkNode(top);
        xmlSetTreeDoc(top, nullptr);
        temporary->children = temporary->last = nullptr;
        xmlFreeDoc(temporary);
    }
    if (!ok)
        return fail(failure);
    return result;
}

QString DAXMLNode::description() const {
    return QStringLiteral("%1 %2: {type:%3 name:%4 xml:\"%5\"}")
        .arg(dynamic_cast<const DAXMLElement *>(this) ? QStringLiteral("DAXMLElement") : QStringLiteral("DAXMLNode"))
        .arg(quintptr(this), 0, 16)
        .arg(m_node ? int(m_node->type) : -1)
        .arg(name(), XMLString());
}

DAXMLNodePtr DAXMLNode::copy() const {
    if (!m_node)
        return nullptr;
    if (m_node->type == XML_NAMESPACE_DECL) {
        xmlNsPtr ns = asNamespace(m_node);
        return adopt(reinterpret_cast<xmlNodePtr>(xmlNewNs(nullptr, ns->href, ns->prefix)));
    }
    if (m_node->type == XML_ATTRIBUTE_NODE)
        return adopt(reinterpret_cast<xmlNodePtr>(xmlCopyProp(nullptr, reinterpret_cast<xmlAttrPtr>(m_node))));
    if (m_node->type == XML_DOCUMENT_NODE)
        return nullptr;
    return adopt(xmlDocCopyNode(m_node, nullptr, 1));
}

bool DAXMLNode::isEqual(const DAXMLNode &other) const {
    if (this == &other || m_node == other.m_node)
        return true;
    return daXMLNodesEqual(m_node, other.m_node);
}

namespace {

bool sameText(const xmlChar *a, const xmlChar *b) { return xmlStrEqual(a ? a : BAD_CAST "", b ? b : BAD_CAST "") != 0; }

const xmlChar *hrefOf(xmlNsPtr ns) { return ns ? ns->href : nullptr; }

QByteArray contentOf(xmlNodePtr n) {
    xmlChar *c = xmlNodeGetContent(n);
    QByteArray out(reinterpret_cast<const char *>(c));
    xmlFree(c);
    return out;
}

bool attributesEqual(xmlNodePtr a, xmlNodePtr b) {
    int countA = 0, countB = 0;
    for (xmlAttrPtr p = a->properties; p; p = p->next)
        ++countA;
    for (xmlAttrPtr p = b->properties; p; p = p->next)
        ++countB;
    if (countA != countB)
        return false;
    for (xmlAttrPtr p = a->properties; p; p = p->next) {
        xmlAttrPtr q = b->properties;
        for (; q; q = q->next) {
            if (sameText(p->name, q->name) && sameText(hrefOf(p->ns), hrefOf(q->ns)))
                break;
        }
        if (!q || contentOf(reinterpret_cast<xmlNodePtr>(p)) != contentOf(reinterpret_cast<xmlNodePtr>(q)))
            return false;
    }
    return true;
}

}  // namespace

bool daXMLNodesEqual(xmlNodePtr a, xmlNodePtr b) {
    if (a == b)
        return true;
    if (!a || !b || a->type != b->type)
        return false;
    if (a->type == XML_NAMESPACE_DECL) {
        xmlNsPtr x = asNamespace(a), y = asNamespace(b);
        return sameText(x->prefix, y->prefix) && sameText(x->href, y->href);
    }
    if (!sameText(a->name, b->name) || !sameText(hrefOf(a->ns), hrefOf(b->ns)))
        return false;
    switch (a->type) {
    case XML_ELEMENT_NODE: {
        if (!attributesEqual(a, b))
            return false;
        // Text is compared as the reader sees it: adjacent text and CDATA
        // runs as one, empty ones as nothing (a written tree reads back so).
        const auto isText = [](xmlNodePtr n) { return n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE; };
        // The next run of text (into text; null returned) or the next other node.
        const auto nextRun = [&isText](xmlNodePtr &n, QByteArray &text) -> xmlNodePtr {
            while (n && isText(n)) {
                text += reinterpret_cast<const char *>(n->content ? n->content : BAD_CAST "");
                n = n->next;
            }
            if (!text.isEmpty() || !n)
                return nullptr;
            xmlNodePtr other = n;
            n = n->next;
            return other;
        };
        xmlNodePtr x = a->children, y = b->children;
        for (;;) {
            QByteArray textX, textY;
            xmlNodePtr nodeX = nextRun(x, textX), nodeY = nextRun(y, textY);
            if (!nodeX && !nodeY && textX.isEmpty() && textY.isEmpty())
                return true;  // both at their ends
            if (textX != textY || !nodeX != !nodeY || (nodeX && !daXMLNodesEqual(nodeX, nodeY)))
                return false;
        }
    }
    case XML_ATTRIBUTE_NODE:
        return contentOf(a) == contentOf(b);
    default:
        return sameText(a->content, b->content);
    }
}
