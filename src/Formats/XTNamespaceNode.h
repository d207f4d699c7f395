#pragma once

#include "Formats/XTNode.h"

// One namespace declaration (prefix and URI) of an element. It wraps no
// libxml2 node.
class XTNamespaceNode : public XTNode {
public:
    // prefix "" for a default namespace; parent may be null (free-standing).
    XTNamespaceNode(const QString &prefix, const QString &uri, XTElementPtr parent);

    int kind() const override { return NamespaceKind; }
    QString name() const override { return m_prefix; }
    QString localName() const override { return m_prefix; }
    QString prefix() const override { return QStringLiteral(""); }
    QString URI() const override { return QString(); }
    QString stringValue() const override { return m_uri; }
    quint64 index() const override { return 0; }
    quint64 level() const override;
    XTDocumentPtr rootDocument() const override;
    XTNodePtr parent() const override;
    qsizetype childCount() const override { return 0; }
    XTNodeList children() const override { return {}; }
    XTNodePtr childAtIndex(qsizetype) const override { return nullptr; }
    XTNodePtr previousSibling() const override { return nullptr; }
    XTNodePtr nextSibling() const override { return nullptr; }
    // xmlns:prefix="uri", or xmlns="uri" for a default namespace.
    QString XMLString() const override;
    QString description() const override { return XMLString(); }
    bool setStringValue(const QString &) override { return false; }
    // Namespace nodes answer no queries: the null list, the error untouched.
    XTNodeList nodesForXPath(const QString &, VNErrorPtr * = nullptr) const override { return XTNodeList::null(); }
    XTNodeList nodesForXPath(const QString &, const XTNamespaceMappings &, VNErrorPtr * = nullptr) const override {
        return XTNodeList::null();
    }

    XTElementPtr parentElement() const { return m_parent; }

private:
    QString m_prefix;
    QString m_uri;
    XTElementPtr m_parent;
};
