#include "DA/XML/DAXMLDocument.h"

#include "DA/XML/DAXMLTree.h"
#include "Formats/XTLibxml.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

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

DAXMLDocument::DAXMLDocument(xmlDocPtr doc) : m_tree(std::make_shared<DAXMLTree>(doc)) { addStringsCacheToDoc(); }

void DAXMLDocument::addStringsCacheToDoc() { m_tree->addStringsCache(); }

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

DAXMLDocumentPtr DAXMLDocument::documentTakingRootElement(DAXMLElementPtr root) {
    if (!root || root.use_count() != 1 || root->tree().use_count() != 1 || root->XMLNode()->doc ||
        !root->tree()->hasTop(root->XMLNode()))
        return documentWithRootElement(root);
    XTLibxml::ensureInitialised();
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    if (!doc)
        return nullptr;
    DAXMLDocumentPtr document(new DAXMLDocument(doc));
    if (xmlNodePtr node = root->tree()->releaseTop()) {
        xmlSetTreeDoc(node, doc);
        xmlDocSetRootElement(doc, node);
    }
    return document;
}

DAXMLElementPtr DAXMLDocument::rootElement() const {
    xmlNodePtr root = xmlDocGetRootElement(m_tree->document());
    return root ? std::static_pointer_cast<DAXMLElement>(DAXMLNode::wrap(root, m_tree)) : nullptr;
}

namespace {

int appendToByteArray(void *context, const char *bytes, int length) {
    static_cast<QByteArray *>(context)->append(bytes, length);
    return length;
}

}  // namespace

QByteArray DAXMLDocument::XMLData() const {
    // Written through our own growing buffer: libxml2's memory dump grows
    // its buffer by exact sizes, which turns quadratic on large documents.
    // Always UTF-8: a document read in another encoding (UTF-7, say) is not
    // written back in it.
    xmlDocPtr doc = m_tree->document();
    const bool utf8 = !doc->encoding || xmlStrcasecmp(doc->encoding, BAD_CAST "UTF-8") == 0;
    const char *encoding = utf8 ? reinterpret_cast<const char *>(doc->encoding) : "UTF-8";
    QByteArray out;
    xmlSaveCtxtPtr save = xmlSaveToIO(appendToByteArray, nullptr, &out, encoding, 0);
    if (!save)
        return QByteArray();
    const xmlChar *declared = doc->encoding;
    if (!utf8)
        doc->encoding = BAD_CAST "UTF-8";
    xmlSaveDoc(save, doc);
    xmlSaveClose(save);
    if (!utf8)
        doc->encoding = declared;
    return out.isEmpty() ? QByteArray() : out;
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
