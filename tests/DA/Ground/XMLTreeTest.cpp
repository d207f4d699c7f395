#include "DA/XML/DAXMLDocument.h"
#include "DA/XML/DAXMLTree.h"
#include "DA/support/DAXmlLint.h"

#include <gtest/gtest.h>

namespace {

const QString atom = QStringLiteral("http://www.w3.org/2005/Atom");
const QString gphoto = QStringLiteral("http://schemas.google.com/photos/2007");

}  // namespace

TEST(DAXMLTree, NameHelpers) {
    EXPECT_EQ(DAXMLNode::localNameForName("a:b:c"), "b:c");
    EXPECT_EQ(DAXMLNode::localNameForName("a:"), "a:");
    EXPECT_EQ(DAXMLNode::localNameForName("abc"), "abc");
    EXPECT_TRUE(DAXMLNode::localNameForName(QString()).isNull());
    EXPECT_TRUE(DAXMLNode::prefixForName("abc").isNull());
    EXPECT_EQ(DAXMLNode::prefixForName("a:b:c"), "a");
}

TEST(DAXMLTree, ChildWithURIResolvesToDeclaredPrefixAndRoundTrips) {
    DAXMLElementPtr feed = DAXMLNode::elementWithNameURI("feed", atom);
    EXPECT_EQ(feed->name(), "{" + atom + "}:feed");
    DAXMLElementPtr entry = DAXMLNode::elementWithName("entry");
    entry->addNamespace(DAXMLNode::namespaceWithName("", atom));
    entry->addNamespace(DAXMLNode::namespaceWithName("gphoto", gphoto));
    entry->addChild(DAXMLNode::elementWithNameURI("id", gphoto));
    entry->addChild(DAXMLNode::elementWithName("title", "A & <b>"));
    entry->addAttribute(DAXMLNode::attributeWithName("gphoto:kind", "photo"));

    DAXMLElementList ids = entry->elementsForLocalName("id", gphoto);
    ASSERT_EQ(ids.size(), 1);
    EXPECT_EQ(ids[0]->name(), "gphoto:id");
    EXPECT_EQ(ids[0]->URI(), gphoto);
    EXPECT_EQ(entry->elementsForName("gphoto:id").size(), 1);
    ASSERT_EQ(entry->elementsForName("title").size(), 1);
    EXPECT_EQ(entry->elementsForName("title")[0]->URI(), atom);  // default namespace taken
    EXPECT_EQ(entry->resolvePrefixForNamespaceURI(gphoto), "gphoto");
    EXPECT_EQ(entry->resolvePrefixForNamespaceURI(atom), "");
    EXPECT_TRUE(entry->resolvePrefixForNamespaceURI("urn:none").isNull());
    ASSERT_TRUE(entry->attributeForLocalName("kind", gphoto));
    EXPECT_EQ(entry->attributeForName("gphoto:kind")->stringValue(), "photo");

    // Adding an attribute of an existing name changes nothing.
    entry->addAttribute(DAXMLNode::attributeWithName("gphoto:kind", "album"));
    EXPECT_EQ(entry->attributes().size(), 1);
    EXPECT_EQ(entry->attributeForName("gphoto:kind")->stringValue(), "photo");

    DAXMLDocumentPtr doc = DAXMLDocument::documentWithRootElement(entry);
    const QByteArray bytes = doc->XMLData();
    EXPECT_TRUE(xmlLintClean(bytes));
    DAXMLDocumentPtr again = DAXMLDocument::documentWithData(bytes);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->rootElement()->isEqual(*doc->rootElement()));
    EXPECT_EQ(again->rootElement()->elementsForName("title")[0]->stringValue(), "A & <b>");
}

TEST(DAXMLTree, NodesOutliveTheirDocumentAndRemovedChildrenStayValid) {
    DAXMLElementPtr title;
    DAXMLNodePtr text;
    {
        DAXMLDocumentPtr doc = DAXMLDocument::documentWithData("<feed xmlns='urn:a'>\n <title>T</title>\n</feed>");
        ASSERT_TRUE(doc);
        DAXMLElementPtr root = doc->rootElement();
        EXPECT_EQ(root->childCount(), 3);  // white space kept
        title = root->elementsForLocalName("title", "urn:a").value(0);
        text = title->childAtIndex(0);
        root->removeChild(title);
        EXPECT_EQ(root->childCount(), 2);
    }
    EXPECT_EQ(title->stringValue(), "T");
    EXPECT_EQ(text->kind(), DAXMLNode::TextKind);
    EXPECT_EQ(title->XMLString(), "<title xmlns=\"urn:a\">T</title>");
}

// New content replaces the children, but wrappers of them stay valid (the
// address sanitizer sees a use after free otherwise).
TEST(DAXMLTree, ChildrenReplacedBySetStringValueStayValid) {
    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData("<r xmlns:p='urn:p' p:x='attr'><p:e>old <b>bold</b></p:e></r>");
    ASSERT_TRUE(doc);
    DAXMLElementPtr e = doc->rootElement()->childElements().value(0);
    ASSERT_TRUE(e);
    const DAXMLNodePtr text = e->childAtIndex(0);
    const DAXMLNodePtr bold = e->childAtIndex(1);
    const DAXMLNodePtr attribute = doc->rootElement()->attributes().value(0);
    ASSERT_TRUE(text && bold && attribute);
    const DAXMLNodePtr attributeText = attribute->childAtIndex(0);
    ASSERT_TRUE(attributeText);
    e->setStringValue("new & <plain>");
    attribute->setStringValue("changed");
    EXPECT_EQ(e->XMLString(), "<p:e>new &amp; &lt;plain&gt;</p:e>");
    EXPECT_EQ(attribute->stringValue(), "changed");
    EXPECT_EQ(text->stringValue(), "old ");
    EXPECT_EQ(bold->XMLString(), "<b>bold</b>");
    EXPECT_EQ(attributeText->stringValue(), "attr");
}

TEST(DAXMLTree, XPathOnDetachedNodeAndDefaultNamespace) {
    DAXMLElementPtr e = DAXMLNode::elementWithName("a");
    e->addChild(DAXMLNode::elementWithName("b", "1"));
    e->addChild(DAXMLNode::elementWithName("b", "2"));
    DAXMLNodeList found = e->nodesForXPath("b");
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found[1]->stringValue(), "2");
    EXPECT_EQ(e->XMLNode()->doc, nullptr);  // back out of the temporary document

    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData("<feed xmlns='urn:a'><entry/><entry/></feed>");
    EXPECT_EQ(doc->nodesForXPath("/_def_ns:feed/_def_ns:entry").size(), 2);
    EXPECT_EQ(doc->nodesForXPath("//x:entry", {{"x", "urn:a"}}).size(), 2);
    VNErrorPtr error;
    EXPECT_TRUE(doc->nodesForXPath("//[", &error).isEmpty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "org.vostrelin.DAXML");
}

TEST(DAXMLTree, HostileAndMalformedInputIsRefused) {
    const QByteArray cases[] = {
        "<a><b></a>",
        "",
        "just text",
        // An expansion bomb and an external entity: refused, nothing read.
        "<!DOCTYPE a [<!ENTITY x 'xxxxxxxxxx'><!ENTITY y '&x;&x;&x;&x;&x;&x;'>]><a>&y;</a>",
        "<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>&e;</a>",
        "<!DOCTYPE a SYSTEM 'http://127.0.0.1:1/x.dtd'><a/>",
    };
    for (const QByteArray &bytes : cases) {
        VNErrorPtr error;
        EXPECT_FALSE(DAXMLDocument::documentWithData(bytes, &error)) << bytes.constData();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), -1);
    }
    // Deep nesting stops at libxml2's limit instead of exhausting the stack.
    EXPECT_FALSE(DAXMLDocument::documentWithData(QByteArray("<a>").repeated(100000)));
    EXPECT_FALSE(DAXMLElement::elementWithXMLString("<a"));
}

TEST(DAXMLTree, EqualityCopyAndNamespaceNodes) {
    DAXMLElementPtr a = DAXMLElement::elementWithXMLString("<x xmlns:p='urn:p' p:k='1' j='2'><p:y>t</p:y></x>");
    DAXMLElementPtr b = DAXMLElement::elementWithXMLString("<x xmlns:q='urn:p' j='2' q:k='1'><q:y>t</q:y></x>");
    DAXMLElementPtr c = DAXMLElement::elementWithXMLString("<x xmlns:p='urn:p' p:k='1' j='2'><p:y>u</p:y></x>");
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(a->isEqual(*b));  // prefixes and attribute order do not matter
    EXPECT_FALSE(a->isEqual(*c));
    DAXMLNodePtr copy = a->copy();
    EXPECT_TRUE(copy->isEqual(*a));
    EXPECT_FALSE(copy->isSameNode(*a));
    ASSERT_EQ(a->namespaces().size(), 1);
    EXPECT_EQ(a->namespaces()[0]->name(), "p");
    EXPECT_EQ(a->namespaces()[0]->stringValue(), "urn:p");
    EXPECT_EQ(DAXMLNode::textWithStringValue("t")->kind(), DAXMLNode::TextKind);
    EXPECT_EQ(DAXMLNode::namespaceWithName("p", "urn:p")->kind(), DAXMLNode::NamespaceKind);
}

// A document's names and values are decoded once and shared; each document
// has its own cache, and a tree made outside a document has none.
TEST(DAXMLTree, ADocumentsTextsAreDecodedOnce) {
    const QByteArray xml = "<feed xmlns='http://www.w3.org/2005/Atom'><entry>caf\xc3\xa9</entry><entry>caf\xc3\xa9</entry></feed>";
    auto doc = DAXMLDocument::documentWithData(xml);
    auto other = DAXMLDocument::documentWithData(xml);
    ASSERT_TRUE(doc && other);
    const auto entries = doc->rootElement()->elementsForName(QStringLiteral("entry"));
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->stringValue(), QStringLiteral("café"));
    EXPECT_EQ(entries[0]->stringValue().constData(), entries[1]->stringValue().constData());
    EXPECT_EQ(entries[0]->localName().constData(), entries[1]->localName().constData());
    const auto elsewhere = other->rootElement()->elementsForName(QStringLiteral("entry"));
    ASSERT_EQ(elsewhere.size(), 2);
    EXPECT_NE(entries[0]->stringValue().constData(), elsewhere[0]->stringValue().constData());
    auto loose = DAXMLNode::elementWithName(QStringLiteral("entry"), QStringLiteral("café"));
    EXPECT_FALSE(loose->tree()->hasStringsCache());
    EXPECT_EQ(loose->stringValue(), QStringLiteral("café"));
}
