// Parses arbitrary bytes as an XML reply and walks the result the way the
// WebDAV and web-service handlers do: XPath with namespace mappings, then
// names, texts, attributes and serialisation of every node found. Plain
// paths of names, which the tree walks itself, must find exactly what
// libxml2's XPath engine finds.
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "Formats/XTNamespaceNode.h"

#include <cstdint>
#include <cstdlib>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <vector>

// The query both ways from context; aborts when the answers differ.
static void compareWithEngine(const XTNodePtr &context, const char *xpath, const XTNamespaceMappings &mappings) {
    xmlXPathContextPtr ctx = xmlXPathNewContext(context->node()->doc);
    if (!ctx)
        return;
    for (auto it = mappings.cbegin(); it != mappings.cend(); ++it)
        xmlXPathRegisterNs(ctx, reinterpret_cast<const xmlChar *>(it.key().toUtf8().constData()),
                           reinterpret_cast<const xmlChar *>(it.value().toUtf8().constData()));
    ctx->node = context->node();
    xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    xmlXPathObjectPtr result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(xpath), ctx);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    xmlXPathFreeContext(ctx);
    std::vector<xmlNodePtr> expected;
    if (result && result->type == XPATH_NODESET && result->nodesetval)
        for (int i = 0; i < result->nodesetval->nodeNr; ++i)
            expected.push_back(result->nodesetval->nodeTab[i]);
    const XTNodeList ours = context->nodesForXPath(QString::fromUtf8(xpath), mappings);
    if (ours.isNull() != !result)
        abort();
    xmlXPathFreeObject(result);
    if (ours.size() != qsizetype(expected.size()))
        abort();
    for (qsizetype i = 0; i < ours.size(); ++i)
        if (ours[i]->node() != expected[size_t(i)])
            abort();
    const XTNodePtr first = context->nodeForXPath(QString::fromUtf8(xpath), mappings);
    if ((first ? first->node() : nullptr) != (expected.empty() ? nullptr : expected.front()))
        abort();
}

static void comparePlainPaths(const XTDocumentPtr &doc) {
    const XTNamespaceMappings mappings{{"D", "DAV:"}, {"a", "urn:a"}};
    const char *paths[] = {"//D:response", "D:propstat/D:prop/D:displayname", "/D:multistatus/D:response/D:href",
                           "//a", "a", "a/b", "a/a/b", "/a/b", "//b", "//a:a", "a:a/a:b", "D:href"};
    XTNodeList contexts{doc};
    for (const XTNodePtr &n : doc->nodesForXPath("//*"))
        if (contexts.size() < 40)
            contexts.append(n);
    for (const XTNodePtr &context : contexts)
        for (const char *path : paths)
            compareWithEngine(context, path, mappings);
}

static void touch(const XTNodePtr &node) {
    if (!node)
        abort();
    node->name();
    node->localName();
    node->prefix();
    node->URI();
    node->stringValue();
    node->XMLString();
    node->index();
    node->level();
    node->parent();
    node->rootDocument();
    const qsizetype n = node->childCount();
    if (node->children().size() != n)
        abort();
    node->childAtIndex(n);
    node->previousSibling();
    node->nextSibling();
    if (XTElementPtr e = node->asElement()) {
        e->attributes();
        e->attributeForName("href");
        e->attributeForName("D:href");
        e->namespaces();
        e->resolveNamespaceForName("a");
        e->elementsForName("response");
        e->elementsForLocalName("href", "DAV:");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    VNErrorPtr error;
    XTDocumentPtr doc = XTDocument::initWithData(bytes, &error);
    if (!doc) {
        if (!error)
            abort();
    } else {
        const XTNamespaceMappings dav{{"D", "DAV:"}, {"s", "http://schemas.xmlsoap.org/soap/envelope/"}};
        for (const char *xpath : {"//D:response", "//*", "//@*", "//text()", "//namespace::*", "//node()",
                                  "/*/*[1]", "//s:Body//*[local-name()='Fault']"}) {
            VNErrorPtr e;
            const XTNodeList nodes = doc->nodesForXPath(xpath, dav, &e);
            int touched = 0;
            for (const XTNodePtr &n : nodes) {
                if (touched++ > 200)
                    break;
                touch(n);
                n->nodesForXPath("D:propstat/D:prop/D:displayname", dav);
                n->nodeForXPath("..");
            }
        }
        comparePlainPaths(doc);
        doc->XMLData();
        doc->XMLString();
        if (XTElementPtr root = doc->rootElement()) {
            touch(root);
            XTNodePtr copy = root->copy();
            XTElementPtr holder = XTNode::elementWithName("holder");
            if (copy && !holder->addChild(copy))
                abort();
            holder->XMLString();
        }
    }
    // The strict text parser over the same input.
    XTDocument::initWithXMLString(QString::fromUtf8(bytes), &error);
    return 0;
}
