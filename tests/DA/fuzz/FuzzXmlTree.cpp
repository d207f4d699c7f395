// Parses arbitrary bytes as an XML document; whatever parses must walk,
// query, copy and write back, and the written bytes must parse again to an
// equal tree.
#include "DA/XML/DAXMLDocument.h"

#include <cstdint>
#include <cstdlib>

namespace {

void walk(const DAXMLNodePtr &node, int depth) {
    if (!node || depth > 64)
        return;
    node->name();
    node->URI();
    node->stringValue();
    if (auto element = std::dynamic_pointer_cast<DAXMLElement>(node)) {
        for (const DAXMLNodePtr &a : element->attributes())
            element->attributeForLocalName(a->localName(), a->URI());
        element->namespaces();
        element->elementsForName(QStringLiteral("entry"));
        element->elementsForLocalName(QStringLiteral("entry"), QStringLiteral("http://www.w3.org/2005/Atom"));
    }
    for (const DAXMLNodePtr &child : node->children())
        walk(child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(bytes);
    if (!doc)
        return 0;
    DAXMLElementPtr root = doc->rootElement();
    if (!root)
        abort();
    walk(root, 0);
    doc->nodesForXPath(QStringLiteral("//*[@*]"));

    // A copy grafted under a new element, then the whole written out.
    DAXMLElementPtr holder = DAXMLNode::elementWithName(QStringLiteral("holder"));
    holder->addChild(root);
    DAXMLElementPtr copy = std::static_pointer_cast<DAXMLElement>(root->copy());
    if (!copy || !copy->isEqual(*root))
        abort();
    const QByteArray written = doc->XMLData();
    DAXMLDocumentPtr again = DAXMLDocument::documentWithData(written);
    if (!again || !again->rootElement()->isEqual(*root))
        abort();
    return 0;
}
