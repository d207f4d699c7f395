// Parses arbitrary bytes as an XML reply and walks the result the way the
// WebDAV and web-service handlers do: XPath with namespace mappings, then
// names, texts, attributes and serialisation of every node found.
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "Formats/XTNamespaceNode.h"

#include <cstdint>
#include <cstdlib>

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
