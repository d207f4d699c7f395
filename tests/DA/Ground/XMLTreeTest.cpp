#include "DA/XML/DAXMLDocument.h"
#include "DA/XML/DAXMLTree.h"
#include "DA/support/DAXmlLint.h"

#include <functional>
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

// A grafted element drops a declaration that the place it goes to already
// binds the same way (the prefix to the same URI), also where that URI is
// bound under a second prefix too; one that would change a meaning stays.
TEST(DAXMLTree, GraftedDeclarationsThatRepeatTheScopeAreDropped) {
    const QString exif = QStringLiteral("http://schemas.google.com/photos/exif/2007");
    struct Row {
        const char *scope;  // declarations of the element grafted to
        bool dropped;
    };
    const Row rows[] = {
        {"xmlns:exif='U'", true},
        {"xmlns:e2='U' xmlns:exif='U'", true},  // the URI found first under another prefix
        {"xmlns:exif='U' xmlns:e2='U'", true},
        {"xmlns:e2='U'", false},                // the prefix is not bound here
        {"xmlns:exif='urn:other'", false},      // bound to another URI
    };
    for (const Row &row : rows) {
        const QString scope = QString::fromLatin1(row.scope).replace(QLatin1String("'U'"), "'" + exif + "'");
        auto parent = DAXMLElement::elementWithXMLString("<entry " + scope + "/>");
        auto tags = DAXMLElement::elementWithXMLString("<exif:tags xmlns:exif='" + exif + "'><exif:make>M</exif:make></exif:tags>");
        ASSERT_TRUE(parent && tags) << row.scope;
        parent->addChild(tags);
        const DAXMLElementPtr grafted = parent->childElements().value(0);
        ASSERT_TRUE(grafted) << row.scope;
        EXPECT_EQ(grafted->namespaces().isEmpty(), row.dropped) << row.scope;
        EXPECT_EQ(grafted->URI(), exif) << row.scope;
        const DAXMLElementList makes = grafted->elementsForLocalName("make", exif);
        ASSERT_EQ(makes.size(), 1) << row.scope;
        EXPECT_EQ(makes[0]->name(), "exif:make") << row.scope;
        const QByteArray bytes = DAXMLDocument::documentWithRootElement(parent)->XMLData();
        EXPECT_TRUE(xmlLintClean(bytes)) << bytes.constData();
        EXPECT_EQ(bytes.count("xmlns:exif=\"" + exif.toUtf8() + "\""), 1) << bytes.constData();
    }
}

// Children are found by their namespace's URI whichever declaration names
// it: the default one, a prefix, or one of two prefixes of the same URI.
TEST(DAXMLTree, ChildrenByURIUnderAnyDeclarationOfIt) {
    const char *documents[] = {
        "<feed xmlns='http://www.w3.org/2005/Atom'><entry/><entry/></feed>",
        "<feed xmlns:atom='http://www.w3.org/2005/Atom' xmlns='http://www.w3.org/2005/Atom'><entry/><atom:entry/></feed>",
        "<feed xmlns='http://www.w3.org/2005/Atom' xmlns:atom='http://www.w3.org/2005/Atom'><atom:entry/><entry/></feed>",
        "<a:feed xmlns:a='http://www.w3.org/2005/Atom' xmlns:b='http://www.w3.org/2005/Atom'><b:entry/><a:entry/><entry/></a:feed>",
        "<feed xmlns='http://www.w3.org/2005/Atom'><entry/><x:entry xmlns:x='urn:x'/><entry xmlns='http://www.w3.org/2005/Atom'/></feed>",
    };
    for (const char *text : documents) {
        auto doc = DAXMLDocument::documentWithData(text);
        ASSERT_TRUE(doc) << text;
        EXPECT_EQ(doc->rootElement()->elementsForLocalName("entry", atom).size(), 2) << text;
    }
    // An attribute is found by the URI its prefix names, as children are.
    auto element = DAXMLElement::elementWithXMLString("<e xmlns:a='urn:k' xmlns:b='urn:k' b:kind='x' c:kind='y' xmlns:c='urn:c'/>");
    ASSERT_TRUE(element);
    ASSERT_TRUE(element->attributeForName("a:kind"));
    EXPECT_EQ(element->attributeForName("a:kind")->stringValue(), "x");
    EXPECT_FALSE(element->attributeForName("z:kind"));  // undeclared prefix: no namespace, none here
}

// Inside a grafted tree a prefix may be bound again to another URI; a
// declaration below that binds it back is no repeat of the graft point's
// and stays, so every element keeps its namespace when written and read.
TEST(DAXMLTree, ARebindingInsideAGraftedTreeKeepsItsNamespaces) {
    auto parent = DAXMLElement::elementWithXMLString("<entry xmlns:p='urn:u'/>");
    auto tree = DAXMLElement::elementWithXMLString(
        "<p:a xmlns:p='urn:u'><p:b xmlns:p='urn:v'><p:c xmlns:p='urn:u'><p:d/></p:c></p:b></p:a>");
    ASSERT_TRUE(parent && tree);
    parent->addChild(tree);
    const QByteArray bytes = DAXMLDocument::documentWithRootElement(parent)->XMLData();
    EXPECT_TRUE(xmlLintClean(bytes)) << bytes.constData();
    auto again = DAXMLDocument::documentWithData(bytes);
    ASSERT_TRUE(again) << bytes.constData();
    const auto a = again->rootElement()->elementsForLocalName("a", "urn:u");
    ASSERT_EQ(a.size(), 1) << bytes.constData();
    EXPECT_TRUE(a[0]->namespaces().isEmpty());  // the top one repeats the graft point's
    const auto b = a[0]->elementsForLocalName("b", "urn:v");
    ASSERT_EQ(b.size(), 1) << bytes.constData();
    const auto c = b[0]->elementsForLocalName("c", "urn:u");
    ASSERT_EQ(c.size(), 1) << bytes.constData();
    EXPECT_EQ(c[0]->elementsForLocalName("d", "urn:u").size(), 1) << bytes.constData();
}

namespace {

// A tree that lives long and changes: text under an element, a namespace
// used by an element and by an attribute.
const QByteArray changing = "<r xmlns:p='urn:p'><e>text</e><p:c p:a='1'/></r>";

DAXMLElementPtr childNamed(const DAXMLElementPtr &parent, const QString &name) {
    return parent->elementsForName(name).value(0);
}

}  // namespace

// What a change takes out of a tree is freed once no wrapper holds it, so a
// long-lived tree changed again and again does not grow.
TEST(DAXMLTree, ChangesRepeatedOnALongLivedTreeLeaveNothingBehind) {
    struct Row {
        const char *name;
        std::function<void(const DAXMLElementPtr &root, int i)> change;
    };
    const Row rows[] = {
        {"new content replaces a text",
         [](const DAXMLElementPtr &root, int i) { childNamed(root, "e")->setStringValue(QString::number(i)); }},
        {"new content replaces an element",
         [](const DAXMLElementPtr &root, int i) {
             auto e = childNamed(root, "e");
             e->addChild(DAXMLNode::elementWithName("b", QString::number(i)));
             e->setStringValue(QString::number(i));
         }},
        {"a child added and removed",
         [](const DAXMLElementPtr &root, int i) {
             root->addChild(DAXMLNode::elementWithName("x", QString::number(i)));
             root->removeChild(childNamed(root, "x"));
         }},
        {"an attribute added and removed",
         [](const DAXMLElementPtr &root, int i) {
             auto c = childNamed(root, "p:c");
             c->addAttribute(DAXMLNode::attributeWithName("p:n", QString::number(i)));
             c->removeChild(c->attributeForName("p:n"));
         }},
        {"the declarations set again",
         [](const DAXMLElementPtr &root, int) { root->setNamespaces({DAXMLNode::namespaceWithName("p", "urn:p")}); }},
        {"the prefix bound to another URI each time",
         [](const DAXMLElementPtr &root, int i) {
             root->setNamespaces({DAXMLNode::namespaceWithName("p", "urn:p" + QString::number(i))});
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(changing);
        ASSERT_TRUE(doc);
        const DAXMLElementPtr root = doc->rootElement();
        for (int i = 0; i < 500; ++i)
            row.change(root, i);
        // What a node still uses may stay (the declaration a child was read
        // under, when the prefix now names another URI); nothing piles up.
        EXPECT_LE(root->tree()->keptNodeCount(), 1u);
        EXPECT_TRUE(xmlLintClean(doc->XMLData()));
    }
}

// A wrapper held past the change that took its node out of the tree still
// reads it (the address sanitizer sees a use after free otherwise); the node
// is freed when the last wrapper of it, or of a node below it, goes.
TEST(DAXMLTree, ANodeTakenOutLivesExactlyAsLongAsAWrapperOfIt) {
    struct Row {
        const char *name;
        // Takes a node out and answers wrappers of what it took.
        std::function<DAXMLNodeList(const DAXMLElementPtr &root)> takeOut;
        // Reads the held wrappers.
        std::function<void(const DAXMLNodeList &held)> read;
    };
    const Row rows[] = {
        {"a text below a removed element",
         [](const DAXMLElementPtr &root) {
             auto e = childNamed(root, "e");
             const DAXMLNodeList held{e->childAtIndex(0)};
             root->removeChild(e);
             return held;
         },
         [](const DAXMLNodeList &held) { EXPECT_EQ(held[0]->stringValue(), "text"); }},
        {"a removed element using a declaration of its parent",
         [](const DAXMLElementPtr &root) {
             auto c = childNamed(root, "p:c");
             root->removeChild(c);
             root->setNamespaces({});
             return DAXMLNodeList{c};
         },
         [](const DAXMLNodeList &held) { EXPECT_EQ(held[0]->XMLString(), "<p:c xmlns:p=\"urn:p\" p:a=\"1\"/>"); }},
        {"a text replaced by new content",
         [](const DAXMLElementPtr &root) {
             auto e = childNamed(root, "e");
             const DAXMLNodeList held{e->childAtIndex(0)};
             e->setStringValue("new");
             return held;
         },
         [](const DAXMLNodeList &held) { EXPECT_EQ(held[0]->stringValue(), "text"); }},
        {"an attribute's text replaced",
         [](const DAXMLElementPtr &root) {
             auto a = childNamed(root, "p:c")->attributeForName("p:a");
             const DAXMLNodeList held{a->childAtIndex(0)};
             a->setStringValue("2");
             return held;
         },
         [](const DAXMLNodeList &held) { EXPECT_EQ(held[0]->stringValue(), "1"); }},
        {"a removed attribute whose declaration goes",
         [](const DAXMLElementPtr &root) {
             auto c = childNamed(root, "p:c");
             const DAXMLNodeList held{c->attributeForName("p:a")};
             c->removeChild(held[0]);
             root->setNamespaces({});
             root->removeChild(c);
             return held;
         },
         [](const DAXMLNodeList &held) {
             EXPECT_EQ(held[0]->URI(), "urn:p");
             EXPECT_EQ(held[0]->name(), "p:a");
             EXPECT_EQ(held[0]->stringValue(), "1");
         }},
        {"a declaration set anew",
         [](const DAXMLElementPtr &root) {
             const DAXMLNodeList held = root->namespaces();
             root->setNamespaces({DAXMLNode::namespaceWithName("p", "urn:p")});
             return held;
         },
         [](const DAXMLNodeList &held) {
             ASSERT_EQ(held.size(), 1);
             EXPECT_EQ(held[0]->name(), "p");
             EXPECT_EQ(held[0]->stringValue(), "urn:p");
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(changing);
        ASSERT_TRUE(doc);
        std::shared_ptr<DAXMLTree> tree = doc->rootElement()->tree();
        DAXMLNodeList held = row.takeOut(doc->rootElement());
        // Another change meanwhile frees nothing held.
        if (DAXMLElementPtr e = childNamed(doc->rootElement(), "e"))
            e->setStringValue("again");
        EXPECT_GE(tree->keptNodeCount(), 1u);
        row.read(held);
        held.clear();
        EXPECT_EQ(tree->keptNodeCount(), 0u);
        EXPECT_TRUE(xmlLintClean(doc->XMLData()));
    }
}
