#include "Formats/XTNamespaceNode.h"

#include "Formats/XTElement.h"

XTNamespaceNode::XTNamespaceNode(const QString &prefix, const QString &uri, XTElementPtr parent)
    : XTNode(nullptr, nullptr),
      m_prefix(prefix.isNull() ? QStringLiteral("") : prefix),
      m_uri(uri.isNull() ? QStringLiteral("") : uri),
      m_parent(std::move(parent)) {}

quint64 XTNamespaceNode::level() const { return m_parent ? m_parent->level() + 1 : 2; }

XTDocumentPtr XTNamespaceNode::rootDocument() const { return m_parent ? m_parent->rootDocument() : nullptr; }

XTNodePtr XTNamespaceNode::parent() const { return m_parent; }

QString XTNamespaceNode::XMLString() const {
    if (m_prefix.isEmpty())
        return QStringLiteral("xmlns=\"%1\"").arg(m_uri);
    return QStringLiteral("xmlns:%1=\"%2\"").arg(m_prefix, m_uri);
}
