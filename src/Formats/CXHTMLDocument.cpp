#include "Formats/CXHTMLDocument.h"

#include "Formats/XTLibxml.h"

#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>
#include <vector>

namespace {

// libxml2's XML parser fails past its nesting limit; its HTML parser stops
// there and keeps what it read, which is refused here (walked without
// recursion, before anything of the tree is moved).
bool nestsTooDeep(xmlDocPtr doc) {
    std::vector<std::pair<xmlNodePtr, int>> stack;
    for (xmlNodePtr n = doc->children; n; n = n->next)
        stack.emplace_back(n, 1);
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        if (depth > XTDocument::maxDepth)
            return true;
        for (xmlNodePtr c = node->children; c; c = c->next)
            stack.emplace_back(c, depth + 1);
    }
    return false;
}

// The first child of the first "/html/body" as the root element.
void rootAtBody(xmlDocPtr doc) {
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    if (!context)
        return;
    xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST "/html/body", context);
    if (result && result->nodesetval && result->nodesetval->nodeNr > 0) {
        xmlNodePtr first = result->nodesetval->nodeTab[0]->children;
        if (first) {
            if (xmlNodePtr old = xmlDocSetRootElement(doc, first))
                xmlFreeNode(old);
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
}

}  // namespace

CXHTMLDocumentPtr CXHTMLDocument::adoptWithinLimits(xmlDocPtr doc) {
    if (!doc)
        return nullptr;
    if (nestsTooDeep(doc)) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    return std::static_pointer_cast<CXHTMLDocument>(adopt(doc));
}

CXHTMLDocumentPtr CXHTMLDocument::initWithXHTMLString(const QString &text, VNErrorPtr *error) {
    XTLibxml::ensureInitialised();
    XTLibxml::ErrorCapture capture;
    const QByteArray bytes = text.toUtf8();
    xmlDocPtr doc = nullptr;
    if (!text.isNull() && bytes.size() <= maxInputBytes)
        doc = htmlReadDoc(reinterpret_cast<const xmlChar *>(bytes.constData()), nullptr, "UTF-8", HTML_PARSE_NONET);
    if (doc && nestsTooDeep(doc)) {
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    if (doc)
        rootAtBody(doc);
    if (CXHTMLDocumentPtr document = adoptWithinLimits(doc))
        return document;
    if (error)
        *error = VNError::withDescription(errorDomain(), 1, capture.hasError() ? capture.lastMessage() : QStringLiteral("unknown"));
    return nullptr;
}

CXHTMLDocumentPtr CXHTMLDocument::initWithXHTMLData(const QByteArray &data, const QByteArray &ianaEncoding, VNErrorPtr *error) {
    XTLibxml::ensureInitialised();
    XTLibxml::ErrorCapture capture;
    xmlDocPtr doc = nullptr;
    if (!data.isEmpty() && data.size() <= maxInputBytes)
        doc = htmlReadMemory(data.constData(), int(data.size()), nullptr,
                             ianaEncoding.isEmpty() ? nullptr : ianaEncoding.constData(),
                             HTML_PARSE_NOWARNING | HTML_PARSE_NOBLANKS | HTML_PARSE_NONET);
    if (CXHTMLDocumentPtr document = adoptWithinLimits(doc))
        return document;
    if (error)
        *error = std::make_shared<VNError>(errorDomain(), -1);
    return nullptr;
}

CXHTMLDocumentPtr CXHTMLDocument::initWithContentsOfURL(const QUrl &url, const QByteArray &ianaEncoding, VNErrorPtr *error) {
    if (error)
        *error = nullptr;
    QByteArray data;
    if (!readURL(url, &data, error))
        return nullptr;
    return initWithXHTMLData(data, ianaEncoding, error);
}
