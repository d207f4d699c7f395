// Plain paths of element names are walked by the tree itself rather than by
// libxml2's XPath engine: every answer must still be the engine's. Each row
// asks the same query both ways, from several context nodes, and compares
// the nodes, their order and the failures.
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"

#include <gtest/gtest.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <vector>

namespace {

// What libxml2's engine gives for the query: the nodes, or nothing (nullopt)
// when the expression cannot be evaluated.
std::optional<std::vector<xmlNodePtr>> engineAnswer(xmlNodePtr context, const QString &xpath,
                                                    const XTNamespaceMappings &mappings) {
    xmlXPathContextPtr ctx = xmlXPathNewContext(context->doc);
    for (auto it = mappings.cbegin(); it != mappings.cend(); ++it)
        xmlXPathRegisterNs(ctx, reinterpret_cast<const xmlChar *>(it.key().toUtf8().constData()),
                           reinterpret_cast<const xmlChar *>(it.value().toUtf8().constData()));
    ctx->node = context;
    xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    xmlXPathObjectPtr result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(xpath.toUtf8().constData()), ctx);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    xmlXPathFreeContext(ctx);
    if (!result)
        return std::nullopt;
    std::vector<xmlNodePtr> nodes;
    if (result->type == XPATH_NODESET && result->nodesetval)
        for (int i = 0; i < result->nodesetval->nodeNr; ++i)
            nodes.push_back(result->nodesetval->nodeTab[i]);
    xmlXPathFreeObject(result);
    return nodes;
}

std::vector<xmlNodePtr> nodesOf(const XTNodeList &list) {
    std::vector<xmlNodePtr> nodes;
    for (const XTNodePtr &n : list)
        nodes.push_back(n->node());
    return nodes;
}

const char *kDav =
    "<D:multistatus xmlns:D=\"DAV:\" xmlns:x=\"urn:x\">"
    "<D:response><D:href>/a</D:href><D:propstat><D:prop><D:displayname>a</D:displayname>"
    "<D:quota-available-bytes>7</D:quota-available-bytes><x:displayname>not DAV</x:displayname>"
    "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
    "<D:propstat><D:prop><D:displayname>second propstat</D:displayname></D:prop></D:propstat></D:response>"
    "<D:response><D:href>/b</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype>"
    "</D:prop></D:propstat></D:response></D:multistatus>";

// The same names in the default namespace and in none.
const char *kMixed =
    "<?xml version=\"1.0\"?><!-- before --><?pi here?>"
    "<r><item>1</item><item xmlns=\"urn:d\"><name>in urn:d</name></item>"
    "<x:item xmlns:x=\"urn:x\"><name>in urn:x</name></x:item>"
    "<item><name.v-2>dotted</name.v-2><item><name>nested</name></item></item></r>";

// Same names nested in one another, and an entity whose content holds elements.
const char *kNested =
    "<!DOCTYPE r [<!ENTITY e \"<a><b>from the entity</b></a>\">]>"
    "<r><a><a><b>1</b></a><b>2</b></a>&e;<a><b>3</b></a></r>";

}  // namespace

TEST(XPathPlainPath, AnswersAsLibxml2Does) {
    const XTNamespaceMappings none;
    const XTNamespaceMappings dav{{"D", "DAV:"}, {"x", "urn:x"}};
    const XTNamespaceMappings otherPrefix{{"lp1", "DAV:"}};
    const XTNamespaceMappings wrongURI{{"D", "urn:not-dav"}};
    const XTNamespaceMappings mixed{{"d", "urn:d"}, {"x", "urn:x"}};
    const struct {
        const char *document;
        QString xpath;
        XTNamespaceMappings mappings;
    } rows[] = {
        {kDav, "D:response", dav},
        {kDav, "D:multistatus/D:response/D:href", dav},
        {kDav, "/D:multistatus/D:response/D:propstat/D:prop/D:displayname", dav},
        {kDav, "/D:multistatus/D:response/D:propstat/D:prop/D:quota-available-bytes", dav},
        {kDav, "D:propstat/D:prop/D:displayname", dav},
        {kDav, "D:propstat/D:prop/x:displayname", dav},
        {kDav, "D:propstat/D:prop/D:resourcetype/D:collection", dav},
        {kDav, "//D:response", dav},
        {kDav, "//D:displayname", dav},
        {kDav, "//lp1:href", otherPrefix},
        {kDav, "lp1:href", otherPrefix},
        {kDav, "//D:response", wrongURI},
        {kDav, "//D:response", none},           // unknown prefix: both fail
        {kDav, "D:href", {{"D", ""}}},          // a prefix bound to nothing
        {kDav, "//response", none},             // no namespace: nothing
        {kDav, "//xml:lang", none},
        {kMixed, "item", none},
        {kMixed, "r/item", none},
        {kMixed, "//item", none},
        {kMixed, "//d:item", mixed},
        {kMixed, "d:item/d:name", mixed},
        {kMixed, "//x:item", mixed},
        {kMixed, "item/name.v-2", none},
        {kMixed, "/r/item/item/name", none},
        {kMixed, "//name", none},
        {kNested, "//a", none},
        {kNested, "//b", none},
        {kNested, "a/a/b", none},
        {kNested, "a/b", none},
        {kNested, "/r/a/b", none},
        {kNested, "r/a", none},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.xpath.toStdString() + " in " + row.document);
        XTDocumentPtr doc = XTDocument::initWithData(QByteArray(row.document));
        ASSERT_TRUE(doc);
        // From the document, its root element and every element below it.
        QList<XTNodePtr> contexts{doc};
        for (const XTNodePtr &n : doc->nodesForXPath("//*"))
            contexts.append(n);
        for (const XTNodePtr &context : contexts) {
            SCOPED_TRACE(context->name().toStdString());
            const auto expected = engineAnswer(context->node(), row.xpath, row.mappings);
            VNErrorPtr error;
            const XTNodeList all = context->nodesForXPath(row.xpath, row.mappings, &error);
            const XTNodePtr first = context->nodeForXPath(row.xpath, row.mappings);
            if (!expected) {
                EXPECT_TRUE(all.isNull());
                EXPECT_TRUE(error);
                EXPECT_FALSE(first);
                continue;
            }
            EXPECT_FALSE(all.isNull());
            EXPECT_FALSE(error);
            EXPECT_EQ(nodesOf(all), *expected);
            EXPECT_EQ(first ? first->node() : nullptr, expected->empty() ? nullptr : expected->front());
            if (row.mappings.isEmpty()) {
                const XTNodePtr last = context->nodeForXPath(row.xpath);
                EXPECT_EQ(last ? last->node() : nullptr, expected->empty() ? nullptr : expected->back());
            }
        }
    }
}

// Nodes found by a walk are the same objects as those found otherwise.
TEST(XPathPlainPath, FindsTheSameNodeObjects) {
    XTDocumentPtr doc = XTDocument::initWithData(QByteArray(kDav));
    ASSERT_TRUE(doc);
    const XTNamespaceMappings dav{{"D", "DAV:"}};
    const XTNodePtr walked = doc->nodeForXPath("/D:multistatus/D:response/D:href", dav);
    const XTNodePtr engine = doc->nodeForXPath("(//D:href)[1]", dav);
    ASSERT_TRUE(walked);
    EXPECT_EQ(walked, engine);
    EXPECT_EQ(walked->stringValue(), "/a");
}

// A tree built here and added under a parsed document's element is
// searched as libxml2 would search it (its names are not the parser's).
TEST(XPathPlainPath, FindsBuiltElements) {
    XTDocumentPtr doc = XTDocument::initWithData(QByteArray("<r><item>parsed</item></r>"));
    ASSERT_TRUE(doc);
    XTElementPtr root = doc->rootElement();
    root->addChild(XTNode::elementWithNameStringValue("item", "built"));
    root->addChild(XTNode::elementWithNameURI("item", "urn:built"));
    const XTNodeList items = doc->nodesForXPath("/r/item");
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[1]->stringValue(), "built");
    EXPECT_EQ(nodesOf(items), *engineAnswer(doc->node(), "/r/item", {}));
    EXPECT_EQ(nodesOf(doc->nodesForXPath("//b:item", {{"b", "urn:built"}})),
              *engineAnswer(doc->node(), "//b:item", {{"b", "urn:built"}}));
}
