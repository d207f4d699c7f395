#include "Formats/XTElement.h"

#include "Formats/XTLibxml.h"
#include "Formats/XTNamespaceNode.h"
#include "Formats/XTTree.h"
#include "Platform/VNLog.h"

namespace {
bool equalsXml(const xmlChar *a, const QByteArray &b) {
    return a && qstrcmp(reinterpret_cast<const char *>(a), b.constData()) == 0;
}
}  // namespace

QList<XTElementPtr> XTElement::elementsForName(const QString &name) const {
    QList<XTElementPtr> list;
    const QByteArray wanted = name.toUtf8();
    auto t = tree();
    for (xmlNodePtr c = m_node->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && equalsXml(c->name, wanted))
            list.append(std::static_pointer_cast<XTElement>(wrap(c, t)));
    return list;
}

QList<XTElementPtr> XTElement::elementsForLocalName(const QString &localName, const QString &uri) const {
    if (uri.isEmpty())
        return elementsForName(localName);
    QList<XTElementPtr> list;
    const QByteArray wanted = localName.toUtf8(), href = uri.toUtf8();
    auto t = tree();
    for (xmlNodePtr c = m_node->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && equalsXml(c->name, wanted) && c->ns && equalsXml(c->ns->href, href))
            list.append(std::static_pointer_cast<XTElement>(wrap(c, t)));
    return list;
}

XTNodeList XTElement::attributes() const {
    XTNodeList list;
    auto t = tree();
    for (xmlAttrPtr a = m_node->properties; a; a = a->next)
        list.append(wrap(reinterpret_cast<xmlNodePtr>(a), t));
    return list;
}

XTNodePtr XTElement::attributeForName(const QString &name) const {
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    const QByteArray local = (colon < 0 ? name : name.mid(colon + 1)).toUtf8();
    const QByteArray prefix = colon < 0 ? QByteArray() : name.left(colon).toUtf8();
    for (xmlAttrPtr a = m_node->properties; a; a = a->next) {
        if (!equalsXml(a->name, local))
            continue;
        if (colon >= 0 && !(a->ns && equalsXml(a->ns->prefix, prefix)))
            continue;
        return wrap(reinterpret_cast<xmlNodePtr>(a), tree());
    }
    return nullptr;
}

XTNodePtr XTElement::attributeForLocalName(const QString &localName, const QString &uri) const {
    if (uri.isNull())
        return attributeForName(localName);
    const QByteArray local = localName.toUtf8(), href = uri.toUtf8();
    for (xmlAttrPtr a = m_node->properties; a; a = a->next)
        if (a->ns && equalsXml(a->ns->href, href) && equalsXml(a->name, local))
            return wrap(reinterpret_cast<xmlNodePtr>(a), tree());
    return nullptr;
}

QList<XTNamespaceNodePtr> XTElement::namespaces() const {
    QList<XTNamespaceNodePtr> list;
    auto self = std::static_pointer_cast<XTElement>(std::const_pointer_cast<XTNode>(shared_from_this()));
    for (xmlNsPtr ns = m_node->nsDef; ns; ns = ns->next)
        list.append(std::make_shared<XTNamespaceNode>(ns->prefix ? XTLibxml::fromXml(ns->prefix) : QStringLiteral(""),
                                                      XTLibxml::fromXml(ns->href), self));
    return list;
}

XTNamespaceNodePtr XTElement::namespaceForPrefix(const QString &prefix) const {
    const QByteArray wanted = prefix.toUtf8();
    for (xmlNsPtr ns = m_node->nsDef; ns; ns = ns->next) {
        const bool match = prefix.isNull() ? ns->prefix == nullptr : equalsXml(ns->prefix, wanted);
        if (match) {
            auto self = std::static_pointer_cast<XTElement>(std::const_pointer_cast<XTNode>(shared_from_this()));
            return std::make_shared<XTNamespaceNode>(ns->prefix ? XTLibxml::fromXml(ns->prefix) : QStringLiteral(""),
                                                     XTLibxml::fromXml(ns->href), self);
        }
    }
    return nullptr;
}

XTNamespaceNodePtr XTElement::resolveNamespaceForName(const QString &name) const {
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        return namespaceForPrefix(name.left(colon));
    for (xmlNsPtr ns = m_node->nsDef; ns; ns = ns->next) {
        if (!ns->prefix || !*ns->prefix) {
            auto self = std::static_pointer_cast<XTElement>(std::const_pointer_cast<XTNode>(shared_from_this()));
            return std::make_shared<XTNamespaceNode>(QStringLiteral(""), XTLibxml::fromXml(ns->href), self);
        }
    }
    return nullptr;
}

QString XTElement::resolvePrefixForNamespaceURI(const QString &uri) const {
    const QByteArray href = uri.toUtf8();
    for (xmlNsPtr ns = m_node->nsDef; ns; ns = ns->next)
        if (equalsXml(ns->href, href))
            return ns->prefix ? XTLibxml::fromXml(ns->prefix) : QStringLiteral("");
    return QString();
}

bool XTElement::addNamespace(const XTNamespaceNodePtr &ns) {
    if (!ns || ns->stringValue().isEmpty())
        return false;
    const QByteArray href = ns->stringValue().toUtf8();
    const QByteArray prefix = ns->name().toUtf8();
    xmlNsPtr declared = xmlNewNs(m_node, reinterpret_cast<const xmlChar *>(href.constData()),
                                 prefix.isEmpty() ? nullptr : reinterpret_cast<const xmlChar *>(prefix.constData()));
    if (!declared)
        return false;  // the prefix is already declared on this element
    xmlSetNs(m_node, declared);
    return true;
}

bool XTElement::addChild(const XTNodePtr &child) { return linkChild(child, nullptr, "XTElement addChild"); }

XTElementPtr XTElement::subelement(const QString &name) {
    XTElementPtr element = elementWithName(name);
    if (!element || !addChild(element))
        return nullptr;
    return element;
}

bool XTElement::setStringValue(const QString &text) {
    if (text.isNull()) {
        VNLog::log(QStringLiteral("XTElement setStringValue: XTElement setStringValue should not be null"));
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    xmlNodePtr textNode = xmlNewText(reinterpret_cast<const xmlChar *>(bytes.constData()));
    if (!textNode)
        return false;
    // The new node has no wrapper yet, so libxml2 may merge it into a
    // preceding text node.
    xmlNodePtr added = xmlAddChild(m_node, textNode);
    if (!added) {
        xmlFreeNode(textNode);
        return false;
    }
    return true;
}
