#include "Formats/XTNode.h"

#include "Formats/CXHTMLDocument.h"
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "Formats/XTLibxml.h"
#include "Formats/XTNamespaceNode.h"
#include "Formats/XTTree.h"
#include "Platform/VNLog.h"

#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <QHash>
#include <vector>

namespace {

QByteArray utf8(const QString &s) { return s.toUtf8(); }
const xmlChar *xml(const QByteArray &b) { return reinterpret_cast<const xmlChar *>(b.constData()); }

// Text pulled in through entity references is limited, so that a hostile
// document cannot make one stringValue() call expand without bound.
constexpr qsizetype kEntityTextBudget = 16 * 1024 * 1024;

// All text beneath a node, in order, without recursion (nesting depth is
// not ours to trust). Entity references contribute their replacement text
// one level deep.
void appendTextBeneath(QString &out, xmlNodePtr first) {
    struct Step { xmlNodePtr node; bool inEntity; };
    std::vector<Step> stack;
    stack.push_back({first, false});
    qsizetype entityText = 0;
    while (!stack.empty()) {
        Step &top = stack.back();
        xmlNodePtr n = top.node;
        if (!n) {
            stack.pop_back();
            continue;
        }
        const bool inEntity = top.inEntity;
        top.node = n->next;
        switch (n->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            if (n->content) {
                const QString piece = XTLibxml::fromXml(n->content);
                if (inEntity) {
                    entityText += piece.size();
                    if (entityText > kEntityTextBudget)
                        break;
                }
                out += piece;
            }
            break;
        case XML_ELEMENT_NODE:
            stack.push_back({n->children, inEntity});
            break;
        case XML_ENTITY_REF_NODE: {
            xmlNodePtr decl = n->children;
            if (!inEntity && decl && decl->type == XML_ENTITY_DECL && entityText <= kEntityTextBudget)
                stack.push_back({decl->children, true});
            break;
        }
        default:
            break;  // comments, processing instructions and declarations give nothing
        }
    }
}

bool hasNamespaceField(xmlNodePtr n) { return n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE; }

bool isDocument(xmlNodePtr n) { return n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE; }

void clearPrivatePointers(xmlNodePtr root) {
    std::vector<xmlNodePtr> stack{root};
    while (!stack.empty()) {
        xmlNodePtr n = stack.back();
        stack.pop_back();
        if (!n)
            continue;
        n->_private = nullptr;
        if (n->type == XML_ENTITY_REF_NODE)
            continue;  // its child is the shared entity declaration
        if (n->type == XML_ELEMENT_NODE)
            for (xmlAttrPtr a = n->properties; a; a = a->next)
                stack.push_back(reinterpret_cast<xmlNodePtr>(a));
        if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE || isDocument(n))
            for (xmlNodePtr c = n->children; c; c = c->next)
                stack.push_back(c);
    }
}

// A wrapper and its shared count in one allocation (a query of a large
// reply makes one per match). The wrapper classes keep their constructors
// to themselves; this subclass only passes the arguments on.
template <class T>
struct MadeWrapper final : T {
    MadeWrapper(xmlNodePtr node, const std::shared_ptr<XTTree> &tree) : T(node, tree) {}
};

template <class T>
XTNodePtr makeWrapper(xmlNodePtr node, const std::shared_ptr<XTTree> &tree) {
    return std::make_shared<MadeWrapper<T>>(node, tree);
}

void logUsageFault(const char *caller, const char *text) {
    VNLog::log(QStringLiteral("%1: %2").arg(QLatin1String(caller), QLatin1String(text)));
}

}  // namespace

XTNode::XTNode(xmlNodePtr node, std::shared_ptr<XTTree> tree) : m_node(node), m_tree(std::move(tree)) {}

XTNode::~XTNode() {
    // The tree is still alive here (it is a member, released after this body).
    if (m_node && m_node->_private == this)
        m_node->_private = nullptr;
}

std::shared_ptr<XTTree> XTNode::tree() const { return XTTree::current(m_tree); }

bool XTNode::isWrappable(xmlNodePtr node) {
    switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_ENTITY_REF_NODE:
    case XML_PI_NODE:
    case XML_COMMENT_NODE:
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
        return true;
    default:
        return false;
    }
}

XTNodePtr XTNode::wrap(xmlNodePtr node, const std::shared_ptr<XTTree> &tree) {
    if (!node || !isWrappable(node))
        return nullptr;
    if (node->_private) {
        if (XTNodePtr existing = static_cast<XTNode *>(node->_private)->weak_from_this().lock())
            return existing;
    }
    XTNodePtr wrapper;
    switch (node->type) {
    case XML_ELEMENT_NODE:
        wrapper = makeWrapper<XTElement>(node, tree);
        break;
    case XML_DOCUMENT_NODE:
        wrapper = makeWrapper<XTDocument>(node, tree);
        break;
    case XML_HTML_DOCUMENT_NODE:
        wrapper = makeWrapper<CXHTMLDocument>(node, tree);
        break;
    default:
        wrapper = makeWrapper<XTNode>(node, tree);
        break;
    }
    node->_private = wrapper.get();
    return wrapper;
}

XTNodePtr XTNode::wrapFree(xmlNodePtr node) {
    if (!node)
        return nullptr;
    auto tree = isDocument(node) ? XTTree::forDocument(reinterpret_cast<xmlDocPtr>(node)) : XTTree::forFreeNode(node);
    return wrap(node, tree);
}

int XTNode::kind() const { return m_node ? int(m_node->type) : 0; }

QString XTNode::localName() const {
    if (!m_node || isDocument(m_node) || !m_node->name)
        return QString();
    return XTLibxml::fromXml(m_node->name);
}

QString XTNode::name() const {
    const QString local = localName();
    if (local.isNull())
        return local;
    if (hasNamespaceField(m_node) && m_node->ns && m_node->ns->prefix)
        return XTLibxml::fromXml(m_node->ns->prefix) + QLatin1Char(':') + local;
    return local;
}

QString XTNode::prefix() const {
    if (m_node && hasNamespaceField(m_node) && m_node->ns && m_node->ns->prefix)
        return XTLibxml::fromXml(m_node->ns->prefix);
    return QStringLiteral("");
}

QString XTNode::URI() const {
    if (m_node && hasNamespaceField(m_node) && m_node->ns && m_node->ns->href)
        return XTLibxml::fromXml(m_node->ns->href);
    return QString();
}

QString XTNode::stringValue() const {
    QString out = QStringLiteral("");
    if (!m_node)
        return out;
    switch (m_node->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        return m_node->content ? XTLibxml::fromXml(m_node->content) : out;
    case XML_ATTRIBUTE_NODE:
    case XML_ELEMENT_NODE:
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: {
        // Most often a single piece of text (a value, a name, a date).
        const xmlNodePtr only = m_node->children;
        if (only && !only->next && (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE))
            return only->content && *only->content ? XTLibxml::fromXml(only->content) : out;
        appendTextBeneath(out, m_node->children);
        return out;
    }
    case XML_ENTITY_REF_NODE:
        // The reference itself stands in for its replacement text.
        if (m_node->children && m_node->children->type == XML_ENTITY_DECL)
            appendTextBeneath(out, m_node->children->children);
        return out;
    default:
        return out;
    }
}

quint64 XTNode::index() const {
    quint64 n = 0;
    if (m_node)
        for (xmlNodePtr p = m_node->prev; p; p = p->prev)
            if (isWrappable(p))
                ++n;
    return n;
}

quint64 XTNode::level() const {
    quint64 n = 0;
    if (m_node)
        for (xmlNodePtr p = m_node->parent; p; p = p->parent)
            ++n;
    return n;
}

XTDocumentPtr XTNode::rootDocument() const {
    if (!m_node || !m_node->doc)
        return nullptr;
    return std::static_pointer_cast<XTDocument>(wrap(reinterpret_cast<xmlNodePtr>(m_node->doc), tree()));
}

XTNodePtr XTNode::parent() const { return m_node ? wrap(m_node->parent, tree()) : nullptr; }

static bool mayHaveChildList(xmlNodePtr n) {
    return n->type == XML_ELEMENT_NODE || isDocument(n);
}

qsizetype XTNode::childCount() const {
    qsizetype n = 0;
    if (m_node && mayHaveChildList(m_node))
        for (xmlNodePtr c = m_node->children; c; c = c->next)
            if (isWrappable(c))
                ++n;
    return n;
}

XTNodeList XTNode::children() const {
    XTNodeList list;
    if (m_node && mayHaveChildList(m_node)) {
        auto t = tree();
        for (xmlNodePtr c = m_node->children; c; c = c->next)
            if (XTNodePtr w = wrap(c, t))
                list.append(w);
    }
    return list;
}

XTNodePtr XTNode::childAtIndex(qsizetype index) const {
    if (!m_node || !mayHaveChildList(m_node) || index < 0)
        return nullptr;
    for (xmlNodePtr c = m_node->children; c; c = c->next) {
        if (!isWrappable(c))
            continue;
        if (index-- == 0)
            return wrap(c, tree());
    }
    return nullptr;
}

XTNodePtr XTNode::previousSibling() const {
    if (!m_node)
        return nullptr;
    xmlNodePtr p = m_node->prev;
    while (p && !isWrappable(p))
        p = p->prev;
    return wrap(p, tree());
}

XTNodePtr XTNode::nextSibling() const {
    if (!m_node)
        return nullptr;
    xmlNodePtr p = m_node->next;
    while (p && !isWrappable(p))
        p = p->next;
    return wrap(p, tree());
}

QString XTNode::XMLString() const {
    if (!m_node)
        return QString();
    XTLibxml::ErrorCapture quiet;
    xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
    if (!out)
        return QString();
    // Naming the encoding keeps non-ASCII text as UTF-8 rather than
    // character references.
    xmlNodeDumpOutput(out, m_node->doc, m_node, 0, 0, "utf-8");
    xmlOutputBufferFlush(out);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(xmlOutputBufferGetContent(out)),
                                           qsizetype(xmlOutputBufferGetSize(out)));
    xmlOutputBufferClose(out);
    return text;
}

QString XTNode::description() const {
    const char *cls = "XTNode";
    if (dynamic_cast<const XTElement *>(this))
        cls = "XTElement";
    return QStringLiteral("<%1 %2 [%3] %4 %5>")
        .arg(QLatin1String(cls), QString::asprintf("%p", static_cast<const void *>(this)),
             QString::asprintf("%p", static_cast<const void *>(m_node)), name(), XMLString());
}

bool XTNode::setStringValue(const QString &text) {
    if (!m_node || m_node->type != XML_TEXT_NODE) {
        logUsageFault("XTNode setStringValue", "CNode setStringValue only implemented for text nodes");
        return false;
    }
    const QByteArray bytes = utf8(text);
    xmlNodeSetContent(m_node, xml(bytes));
    return true;
}

XTNodePtr XTNode::copy() const {
    if (!m_node)
        return nullptr;
    xmlNodePtr copied = nullptr;
    if (isDocument(m_node))
        copied = reinterpret_cast<xmlNodePtr>(xmlCopyDoc(reinterpret_cast<xmlDocPtr>(m_node), 1));
    else
        copied = xmlDocCopyNode(m_node, nullptr, 1);
    if (!copied)
        return nullptr;
    clearPrivatePointers(copied);
    return wrapFree(copied);
}

XTElementPtr XTNode::asElement() const {
    return std::dynamic_pointer_cast<XTElement>(std::const_pointer_cast<XTNode>(shared_from_this()));
}

QString XTNode::localNameForName(const QString &name) {
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

QString XTNode::prefixForName(const QString &name) {
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? QStringLiteral("") : name.left(colon);
}

// ---- XPath ------------------------------------------------------------

XTNodeList XTNode::nodesForXPath(const QString &xpath, VNErrorPtr *error) const {
    return nodesForXPath(xpath, XTNamespaceMappings(), error);
}

namespace {

// Compiled expressions by their text, per thread: the handlers ask the same
// few relative paths of every record of a reply.
class CompiledXPathCache {
public:
    ~CompiledXPathCache() { clear(); }
    // Null when the expression does not compile (its errors go to the
    // capture alive around the call).
    xmlXPathCompExprPtr get(const QString &xpath) {
        if (xmlXPathCompExprPtr found = m_entries.value(xpath))
            return found;
        const QByteArray expression = xpath.toUtf8();
        xmlXPathCompExprPtr compiled = xmlXPathCompile(reinterpret_cast<const xmlChar *>(expression.constData()));
        if (!compiled)
            return nullptr;
        if (m_entries.size() >= 64)
            clear();
        m_entries.insert(xpath, compiled);
        return compiled;
    }

private:
    void clear() {
        for (xmlXPathCompExprPtr c : std::as_const(m_entries))
            xmlXPathFreeCompExpr(c);
        m_entries.clear();
    }
    QHash<QString, xmlXPathCompExprPtr> m_entries;
};

}  // namespace

XTNodeList XTNode::nodesForXPath(const QString &xpath, const XTNamespaceMappings &mappings, VNErrorPtr *error) const {
    XTNodeList list;
    if (!m_node)
        return list;
    std::shared_ptr<XTTree> t = tree();
    const bool inOwnDocument = t && m_node->doc && t->ownedRoot() == reinterpret_cast<xmlNodePtr>(m_node->doc);

    XTLibxml::ErrorCapture capture;
    auto fail = [&] {
        if (error)
            *error = std::make_shared<VNError>(QStringLiteral("TODO_DOMAIN"), -1);
        return XTNodeList::null();
    };
    static thread_local CompiledXPathCache compiledCache;
    xmlXPathCompExprPtr compiled = compiledCache.get(xpath);
    if (!compiled)
        return fail();

    // The document's kept context when the node stands in a document;
    // a context of its own otherwise.
    xmlXPathContextPtr context = nullptr;
    bool ownContext = false;
    if (inOwnDocument)
        context = t->xpathContext(mappings);
    if (!context) {
        context = xmlXPathNewContext(m_node->doc);
        if (!context)
            return fail();
        ownContext = true;
        for (auto it = mappings.cbegin(); it != mappings.cend(); ++it) {
            const QByteArray prefix = utf8(it.key()), uri = utf8(it.value());
            xmlXPathRegisterNs(context, xml(prefix), xml(uri));
        }
    }
    context->node = m_node;
    context->contextSize = -1;
    context->proximityPosition = -1;
    context->error = &XTLibxml::ErrorCapture::handler;
    context->userData = &capture;
    xmlXPathObjectPtr result = xmlXPathCompiledEval(compiled, context);
    context->error = nullptr;
    context->userData = nullptr;
    if (ownContext)
        xmlXPathFreeContext(context);
    if (!result)
        return fail();
    if (result->type == XPATH_NODESET && result->nodesetval) {
        const xmlNodeSetPtr set = result->nodesetval;
        list.reserve(set->nodeNr);
        for (int i = 0; i < set->nodeNr; ++i) {
            xmlNodePtr found = set->nodeTab[i];
            if (!found)
                continue;
            if (found->type == XML_NAMESPACE_DECL) {
                // A namespace node of the result: libxml2 keeps the element
                // it belongs to in its next field.
                auto *ns = reinterpret_cast<xmlNsPtr>(found);
                auto *owner = reinterpret_cast<xmlNodePtr>(ns->next);
                XTElementPtr parentElement;
                if (owner && owner->type == XML_ELEMENT_NODE)
                    parentElement = std::static_pointer_cast<XTElement>(wrap(owner, t));
                list.append(std::make_shared<XTNamespaceNode>(
                    ns->prefix ? XTLibxml::fromXml(ns->prefix) : QStringLiteral(""),
                    XTLibxml::fromXml(ns->href), parentElement));
                continue;
            }
            if (XTNodePtr w = wrap(found, t))
                list.append(w);
        }
    }
    xmlXPathFreeObject(result);
    return list;
}

XTNodePtr XTNode::nodeForXPath(const QString &xpath, VNErrorPtr *error) const {
    const XTNodeList list = nodesForXPath(xpath, error);
    return list.isEmpty() ? nullptr : list.last();
}

XTNodePtr XTNode::nodeForXPath(const QString &xpath, const XTNamespaceMappings &mappings, VNErrorPtr *error) const {
    const XTNodeList list = nodesForXPath(xpath, mappings, error);
    return list.isEmpty() ? nullptr : list.first();
}

// ---- building ---------------------------------------------------------

XTDocumentPtr XTNode::document() {
    XTLibxml::ensureInitialised();
    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar *>("1.0"));
    if (!doc) {
        logUsageFault("XTNode document", "xmlNewDoc failed");
        return nullptr;
    }
    return std::static_pointer_cast<XTDocument>(wrapFree(reinterpret_cast<xmlNodePtr>(doc)));
}

XTDocumentPtr XTNode::documentWithRootElement(const XTElementPtr &element) {
    XTDocumentPtr doc = document();
    if (!doc || !element)
        return doc;
    if (!doc->linkChild(element, nullptr, "XTNode documentWithRootElement"))
        return nullptr;
    return doc;
}

XTElementPtr XTNode::elementWithName(const QString &name) {
    XTLibxml::ensureInitialised();
    const QByteArray n = utf8(name);
    return std::static_pointer_cast<XTElement>(wrapFree(xmlNewNode(nullptr, xml(n))));
}

XTElementPtr XTNode::elementWithNameURI(const QString &name, const QString &uri) {
    XTLibxml::ensureInitialised();
    const QByteArray n = utf8(name), u = utf8(uri);
    xmlNodePtr node = xmlNewNode(nullptr, xml(n));
    if (!node)
        return nullptr;
    xmlNsPtr ns = xmlNewNs(node, xml(u), nullptr);
    xmlSetNs(node, ns);
    return std::static_pointer_cast<XTElement>(wrapFree(node));
}

XTElementPtr XTNode::elementWithNameStringValue(const QString &name, const QString &text) {
    XTElementPtr element = elementWithName(name);
    if (element)
        element->setStringValue(text.isNull() ? QStringLiteral("") : text);
    return element;
}

XTNodePtr XTNode::processingInstructionWithName(const QString &target, const QString &content) {
    XTLibxml::ensureInitialised();
    const QByteArray t = utf8(target), c = utf8(content);
    xmlNodePtr pi = xmlNewDocPI(nullptr, xml(t), content.isNull() ? nullptr : xml(c));
    if (!pi) {
        logUsageFault("XTNode processingInstructionWithName", "xmlNewPI failed");
        return nullptr;
    }
    return wrapFree(pi);
}

XTNamespaceNodePtr XTNode::namespaceWithName(const QString &prefix, const QString &uri) {
    return std::make_shared<XTNamespaceNode>(prefix, uri, nullptr);
}

XTNamespaceNodePtr XTNode::predefinedNamespaceForPrefix(const QString &prefix) {
    static const QMap<QString, QString> known{
        {QStringLiteral("xml"), QStringLiteral("http://www.w3.org/XML/1998/namespace")},
        {QStringLiteral("xs"), QStringLiteral("http://www.w3.org/2001/XMLSchema")},
        {QStringLiteral("xsi"), QStringLiteral("http://www.w3.org/2001/XMLSchema-instance")},
        {QStringLiteral("xmlns"), QStringLiteral("http://www.w3.org/2000/xmlns/")},
    };
    const auto it = known.constFind(prefix);
    if (it == known.cend())
        return nullptr;
    return namespaceWithName(prefix, it.value());
}

bool XTNode::linkChild(const XTNodePtr &child, xmlNodePtr before, const char *caller) {
    if (!m_node || !child || !child->m_node) {
        logUsageFault(caller, "_node should not be null");
        return false;
    }
    xmlNodePtr cur = child->m_node;
    if (cur->doc || cur->parent || isDocument(cur)) {
        logUsageFault(caller, "Cannot addChild with a node that already is part of a document. Copy it first!");
        return false;
    }
    // The child must be the root of its own free tree, and this node must
    // not lie inside it (that would make a cycle).
    std::shared_ptr<XTTree> childTree = child->tree(), ourTree = tree();
    if (!childTree || childTree->ownedRoot() != cur || childTree == ourTree) {
        logUsageFault(caller, "Cannot add a node to itself or to one of its descendants");
        return false;
    }
    for (xmlNodePtr p = m_node; p; p = p->parent)
        if (p == cur) {
            logUsageFault(caller, "Cannot add a node to itself or to one of its descendants");
            return false;
        }

    if (cur->type == XML_ATTRIBUTE_NODE) {
        if (m_node->type != XML_ELEMENT_NODE || before) {
            logUsageFault(caller, "An attribute can only be added to an element");
            return false;
        }
        // libxml2 would free an existing attribute of the same name, which a
        // wrapper may still point to: refuse instead.
        const xmlChar *href = cur->ns ? cur->ns->href : nullptr;
        if (xmlHasNsProp(m_node, cur->name, href)) {
            logUsageFault(caller, "The element already has an attribute of that name");
            return false;
        }
        xmlAddChild(m_node, cur);
    } else {
        if (m_node->type != XML_ELEMENT_NODE && !isDocument(m_node)) {
            logUsageFault(caller, "Children can only be added to elements and documents");
            return false;
        }
        // Linked by hand: xmlAddChild merges adjacent text nodes and frees
        // the merged one, which a wrapper may still point to.
        cur->parent = m_node;
        if (before) {
            cur->next = before;
            cur->prev = before->prev;
            if (before->prev)
                before->prev->next = cur;
            else
                m_node->children = cur;
            before->prev = cur;
        } else {
            cur->next = nullptr;
            cur->prev = m_node->last;
            if (m_node->last)
                m_node->last->next = cur;
            else
                m_node->children = cur;
            m_node->last = cur;
        }
        xmlDocPtr targetDoc = isDocument(m_node) ? reinterpret_cast<xmlDocPtr>(m_node) : m_node->doc;
        if (cur->doc != targetDoc)
            xmlSetTreeDoc(cur, targetDoc);
    }
    childTree->moveInto(ourTree);
    return true;
}
