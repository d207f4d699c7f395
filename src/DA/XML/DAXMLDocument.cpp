#include "DA/XML/DAXMLDocument.h"

#include "DA/XML/DAXMLTree.h"
#include "Formats/XTLibxml.h"

#include <libxml/parser.h>

namespace {

VNErrorPtr parseError() { return std::make_shared<VNError>(DAXMLNode::errorDomain(), -1); }

// A document type declaration: the road to entity expansion bombs and
// external reads. Data-API replies never carry one.
bool declaresEntities(xmlDocPtr doc) { return doc->intSubset || doc->extSubset; }

}  // namespace

xmlDocPtr DAXMLDocument::parseBytes(const QByteArray &data, bool keepBlanks, VNErrorPtr *error) {
    if (data.isEmpty() || data.size() > maxInputBytes) {
        if (error)
            *error = parseError();
        return nullptr;
    }
    XTLibxml::ErrorCapture capture;
    // No NOENT (entities stay references), no DTDLOAD, no HUGE (libxml2's
    // depth and text-size limits stay on), no network.
    int options = XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;
    if (!keepBlanks)
        options |= XML_PARSE_NOBLANKS;
    xmlDocPtr doc = xmlReadMemory(data.constData(), int(data.size()), nullptr, nullptr, options);
    if (doc && (declaresEntities(doc) || !xmlDocGetRootElement(doc))) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    if (!doc && error)
        *error = parseError();
    return doc;
}

DAXMLDocument::DAXMLDocument(xmlDocPtr doc) : m_tree(std::make_shared<DAXMLTree>(doc)) {}

DAXMLDocumentPtr DAXMLDocument::documentWithData(const QByteArray &data, VNErrorPtr *error) {
    xmlDocPtr doc = parseBytes(data, true, error);
    if (!doc)
        return nullptr;
    if (error)
        *error = nullptr;
    return DAXMLDocumentPtr(new DAXMLDocument(doc));
}

DAXMLDocumentPtr DAXMLDocument::documentWithXMLString(const QString &text, VNErrorPtr *error) {
    return documentWithData(text.toUtf8(), error);
}

DAXMLDocumentPtr DAXMLDocument::documentWithRootElement(const DAXMLElementPtr &root) {
    XTLibxml::ensureInitialised();
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    if (!doc)
        return nullptr;
    DAXMLDocumentPtr document(new DAXMLDocument(doc));
    if (root && root->XMLNode()) {
        xmlNodePtr copy = xmlDocCopyNode(root->XMLNode(), doc, 1);
        if (copy)
            xmlDocSetRootElement(doc, copy);
    }
    return document;
}

DAXMLElementPtr DAXMLDocument::rootElement() const {
    xmlNodePtr root = xmlDocGetRootElement(m_tree->document());
    return root ? std::static_pointer_cast<DAXMLElement>(DAXMLNode::wrap(root, m_tree)) : nullptr;
}

QByteArray DAXMLDocument::XMLData() const {
    xmlChar *bytes = nullptr;
    int size = 0;
    // Always UTF-8: a document read in another encoding (UTF-7, say) is not
    // written back in it.
    xmlDocDumpMemoryEnc(m_tree->document(), &bytes, &size, "UTF-8");
    if (!bytes)
        return QByteArray();
    QByteArray out(reinterpret_cast<const char *>(bytes), size);
    xmlFree(bytes);
    return out;
}

void DAXMLDocument::setVersion(const QString &version) {
    xmlDocPtr doc = m_tree->document();
    if (doc->version)
        xmlFree(const_cast<xmlChar *>(doc->version));
    doc->version = version.isNull() ? nullptr : xmlStrdup(BAD_CAST version.toUtf8().constData());
}

void DAXMLDocument::setCharacterEncoding(const QString &encoding) {
    xmlDocPtr doc = m_tree->document();
    if (doc->encoding)
        xmlFree(const_cast<xmlChar *>(doc->encoding));
    doc->encoding = encoding.isNull() ? nullptr : xmlStrdup(BAD_CAST encoding.toUtf8().constData());
}

DAXMLNodeList DAXMLDocument::nodesForXPath(const QString &xpath, VNErrorPtr *error) const {
    return nodesForXPath(xpath, DAXMLNamespaceMap(), error);
}

DAXMLNodeList DAXMLDocument::nodesForXPath(const QString &xpath, const DAXMLNamespaceMap &namespaces,
                                           VNErrorPtr *error) const {
    DAXMLNodePtr node = DAXMLNode::wrap(reinterpret_cast<xmlNodePtr>(m_tree->document()), m_tree);
    return node->nodesForXPath(xpath, namespaces, error);
}

QString DAXMLDocument::description() const {
    return QStringLiteral("DAXMLDocument %1").arg(quintptr(this), 0, 16);
}
