#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "Formats/XTNamespaceNode.h"

#include <gtest/gtest.h>

namespace {

XTDocumentPtr parse(const char *text) {
    auto doc = XTDocument::initWithData(QByteArray(text));
    EXPECT_TRUE(doc);
    return doc;
}

const char *kDefaultNamespaceReply =
    "<multistatus xmlns=\"DAV:\"><response><href>/x</href><propstat><prop>"
    "<displayname>x</displayname><getcontentlength>5</getcontentlength></prop></propstat></response>"
    "<response><href>/y</href><propstat><prop><displayname>y</displayname></prop></propstat></response>"
    "</multistatus>";

}  // namespace

TEST(XPath, NothingMatchingIsAnEmptyListAndNoError) {
    auto doc = parse("<a/>");
    VNErrorPtr e;
    const XTNodeList none = doc->nodesForXPath("//nothing", &e);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_FALSE(none.isNull());  // no match is not a failure
    EXPECT_FALSE(e);
    EXPECT_FALSE(doc->nodeForXPath("//nothing", &e));
    EXPECT_FALSE(e);
    EXPECT_FALSE(doc->nodeForXPath("//nothing", XTNamespaceMappings{}, &e));
    EXPECT_FALSE(e);
}

TEST(XPath, MalformedExpressionGivesTheErrorNotACrash) {
    auto doc = parse("<a/>");
    for (const char *bad : {"//a[", "///", "foo(", "//a[@", "ns:missing", "undefined-function()"}) {
        VNErrorPtr e;
        EXPECT_TRUE(doc->nodesForXPath(bad, &e).isNull()) << bad;  // told apart from "no match"
        EXPECT_TRUE(doc->nodesForXPath(bad, XTNamespaceMappings{{"d", "DAV:"}}).isNull()) << bad;
        ASSERT_TRUE(e) << bad;
        EXPECT_EQ(e->domain(), "TODO_DOMAIN");
        EXPECT_EQ(e->code(), -1);
        EXPECT_TRUE(e->userInfo().isEmpty());
        VNErrorPtr e2;
        EXPECT_FALSE(doc->nodeForXPath(bad, XTNamespaceMappings{{"d", "DAV:"}}, &e2)) << bad;
        EXPECT_TRUE(e2) << bad;
    }
    // Without an error pointer it is just an empty result.
    EXPECT_TRUE(doc->nodesForXPath("//a[").isEmpty());
}

TEST(XPath, PrefixesResolveOnlyThroughMappings) {
    auto doc = parse(kDefaultNamespaceReply);
    VNErrorPtr e;
    EXPECT_TRUE(doc->nodesForXPath("//D:response", &e).isNull());
    EXPECT_TRUE(e);  // unregistered prefix
    e.reset();
    // The document uses a default namespace; the query another prefix.
    auto responses = doc->nodesForXPath("//D:response", {{"D", "DAV:"}}, &e);
    EXPECT_FALSE(e);
    ASSERT_EQ(responses.size(), 2);
    // Relative to each response, as the WebDAV listing reads them.
    auto name = responses[1]->nodeForXPath("D:propstat/D:prop/D:displayname", {{"D", "DAV:"}});
    ASSERT_TRUE(name);
    EXPECT_EQ(name->stringValue(), "y");
    EXPECT_FALSE(responses[1]->nodeForXPath("D:propstat/D:prop/D:getcontentlength", {{"D", "DAV:"}}));
    EXPECT_EQ(responses[0]->nodeForXPath("D:propstat/D:prop/D:getcontentlength", {{"D", "DAV:"}})->stringValue(), "5");
}

TEST(XPath, OtherPrefixInDocumentSameURI) {
    auto doc = parse("<x:multistatus xmlns:x=\"DAV:\"><x:response/></x:multistatus>");
    EXPECT_EQ(doc->nodesForXPath("//d:response", {{"d", "DAV:"}}).size(), 1);
}

TEST(XPath, NonNodeResultsGiveEmptyLists) {
    auto doc = parse("<r><a/><a/></r>");
    VNErrorPtr e;
    EXPECT_TRUE(doc->nodesForXPath("count(//a)", &e).isEmpty());
    EXPECT_TRUE(doc->nodesForXPath("string(//a)", &e).isEmpty());
    EXPECT_TRUE(doc->nodesForXPath("1 = 1", &e).isEmpty());
    EXPECT_FALSE(e);
}

TEST(XPath, SingleNodeFormsPickLastAndFirst) {
    auto doc = parse("<r><a><b1/><b2/></a></r>");
    EXPECT_EQ(doc->nodeForXPath("//a/*")->name(), "b2");
    EXPECT_EQ(doc->nodeForXPath("//a/*", XTNamespaceMappings{})->name(), "b1");
}

TEST(XPath, RelativeExpressionStartsAtTheReceiver) {
    auto doc = parse("<r><x><n>1</n></x><y><n>2</n></y></r>");
    auto y = doc->nodeForXPath("/r/y");
    ASSERT_TRUE(y);
    auto ns = y->nodesForXPath("n");
    ASSERT_EQ(ns.size(), 1);
    EXPECT_EQ(ns[0]->stringValue(), "2");
    EXPECT_EQ(y->nodesForXPath("//n").size(), 2);  // absolute: from the root
}

TEST(XPath, AttributesAndSameWrappers) {
    auto doc = parse("<rsp stat=\"fail\"><err code=\"1\" msg=\"User not found\"/><photoid>42</photoid></rsp>");
    auto msg = doc->nodeForXPath("//err/@msg");
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->kind(), XTNode::AttributeKind);
    EXPECT_EQ(msg->stringValue(), "User not found");
    auto a = doc->nodeForXPath("//photoid");
    auto b = doc->nodeForXPath("/rsp/photoid", XTNamespaceMappings{});
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, doc->rootElement()->childAtIndex(1));
}

TEST(XPath, NamespaceNodesInResultsAreWrappedSafely) {
    auto doc = parse("<a xmlns:p=\"urn:p\" xmlns=\"urn:d\"><b/></a>");
    VNErrorPtr e;
    auto nodes = doc->nodesForXPath("//namespace::*", &e);
    EXPECT_FALSE(e);
    ASSERT_FALSE(nodes.isEmpty());
    bool sawP = false;
    for (const XTNodePtr &n : nodes) {
        ASSERT_TRUE(n);
        EXPECT_EQ(n->kind(), XTNode::NamespaceKind);
        auto ns = std::dynamic_pointer_cast<XTNamespaceNode>(n);
        ASSERT_TRUE(ns);
        if (ns->name() == "p") {
            sawP = true;
            EXPECT_EQ(ns->stringValue(), "urn:p");
            EXPECT_EQ(ns->XMLString(), "xmlns:p=\"urn:p\"");
            ASSERT_TRUE(ns->parent());
            EXPECT_EQ(ns->parent()->kind(), XTNode::ElementKind);
        }
    }
    EXPECT_TRUE(sawP);
    // Mixed results too.
    EXPECT_FALSE(doc->nodesForXPath("//*[local-name()='b']/namespace::* | //*[local-name()='b']").isEmpty());
}

TEST(XPath, QueriesOnFreeStandingElements) {
    auto a = XTNode::elementWithName("a");
    a->subelement("b")->setStringValue("t");
    EXPECT_EQ(a->nodesForXPath("b").size(), 1);
    VNErrorPtr e;
    a->nodesForXPath("/b", &e);  // no document: must not crash
    a->nodesForXPath("//b", &e);
}

TEST(XPath, ElementNamespaceLookups) {
    auto doc = parse("<a xmlns=\"urn:default\" xmlns:x=\"urn:x\"><b xmlns:y=\"urn:y\"/></a>");
    auto a = doc->rootElement();
    auto decls = a->namespaces();
    ASSERT_EQ(decls.size(), 2);
    EXPECT_EQ(decls[0]->name(), "");
    EXPECT_EQ(decls[0]->stringValue(), "urn:default");
    EXPECT_EQ(decls[1]->name(), "x");
    EXPECT_EQ(decls[0]->parent(), std::static_pointer_cast<XTNode>(a));
    EXPECT_EQ(a->namespaceForPrefix("x")->stringValue(), "urn:x");
    EXPECT_FALSE(a->namespaceForPrefix(""));  // "" does not match the default
    EXPECT_EQ(a->namespaceForPrefix(QString())->stringValue(), "urn:default");
    EXPECT_EQ(a->resolveNamespaceForName("x:thing")->stringValue(), "urn:x");
    auto def = a->resolveNamespaceForName("thing");
    ASSERT_TRUE(def);
    EXPECT_EQ(def->description(), "xmlns=\"urn:default\"");
    EXPECT_EQ(a->resolvePrefixForNamespaceURI("urn:x"), "x");
    EXPECT_EQ(a->resolvePrefixForNamespaceURI("urn:default"), "");
    EXPECT_TRUE(a->resolvePrefixForNamespaceURI("urn:none").isNull());
    // Only the element's own declarations count.
    auto b = a->childAtIndex(0)->asElement();
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->namespaceForPrefix("x"));
    EXPECT_EQ(b->namespaceForPrefix("y")->stringValue(), "urn:y");
    EXPECT_EQ(b->namespaces().first()->level(), 3u);
}

TEST(XPath, NamespaceNodeBasics) {
    auto ns = XTNode::namespaceWithName("p", "urn:p");
    EXPECT_EQ(ns->kind(), 18);
    EXPECT_EQ(ns->prefix(), "");
    EXPECT_TRUE(ns->URI().isNull());
    EXPECT_EQ(ns->level(), 2u);
    EXPECT_EQ(ns->index(), 0u);
    EXPECT_FALSE(ns->parent());
    EXPECT_EQ(ns->childCount(), 0);
    VNErrorPtr e;
    EXPECT_TRUE(ns->nodesForXPath("//a", &e).isEmpty());
    EXPECT_FALSE(e);
    EXPECT_EQ(XTNode::predefinedNamespaceForPrefix("xml")->stringValue(), "http://www.w3.org/XML/1998/namespace");
    EXPECT_EQ(XTNode::predefinedNamespaceForPrefix("xs")->stringValue(), "http://www.w3.org/2001/XMLSchema");
    EXPECT_EQ(XTNode::predefinedNamespaceForPrefix("xsi")->stringValue(),
              "http://www.w3.org/2001/XMLSchema-instance");
    EXPECT_EQ(XTNode::predefinedNamespaceForPrefix("xmlns")->stringValue(), "http://www.w3.org/2000/xmlns/");
    EXPECT_FALSE(XTNode::predefinedNamespaceForPrefix("other"));
}

TEST(XPath, AddNamespacePutsTheElementInIt) {
    auto e = XTNode::elementWithName("item");
    ASSERT_TRUE(e->addNamespace(XTNode::namespaceWithName("s", "urn:s")));
    EXPECT_EQ(e->URI(), "urn:s");
    EXPECT_EQ(e->XMLString(), "<s:item xmlns:s=\"urn:s\"/>");
}
