// HTML documents through libxml2's HTML parser (from text, bytes and a
// file), held to the XML documents' depth limit; and an XML document read
// from a file URL.
#include "Formats/CXHTMLDocument.h"
#include "Formats/XTElement.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(HTMLDocument, TextRootsAtTheBodysFirstChildAndBytesKeepTheWholePage) {
    VNErrorPtr e;
    auto fromText = CXHTMLDocument::initWithXHTMLString("<html><body><p>Hello <b>you</b><p>two</body></html>", &e);
    ASSERT_TRUE(fromText) << (e ? e->localizedDescription().toStdString() : "");
    ASSERT_TRUE(fromText->rootElement());
    EXPECT_EQ(fromText->rootElement()->XMLString(), "<p>Hello <b>you</b></p>");

    auto fromBytes = CXHTMLDocument::initWithXHTMLData("<html><body><div>caf\xe9</div></body></html>", "ISO-8859-1", &e);
    ASSERT_TRUE(fromBytes);
    EXPECT_EQ(fromBytes->rootElement()->name(), "html");
    EXPECT_EQ(fromBytes->rootElement()->XMLString(), QString::fromUtf8("<html><body><div>caf\xc3\xa9</div></body></html>"));

    EXPECT_FALSE(CXHTMLDocument::initWithXHTMLData(QByteArray(), "UTF-8", &e));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->domain(), "XTErrorDomain");
    EXPECT_EQ(e->code(), -1);
}

TEST(HTMLDocument, NestingBeyondTheXMLLimitIsRefused) {
    const auto nested = [](int depth) {
        return "<html><body>" + QByteArray("<div>").repeated(depth) + "x" + QByteArray("</div>").repeated(depth) + "</body></html>";
    };
    VNErrorPtr e;
    EXPECT_TRUE(CXHTMLDocument::initWithXHTMLData(nested(XTDocument::maxDepth - 4), "UTF-8", &e));
    EXPECT_FALSE(CXHTMLDocument::initWithXHTMLData(nested(5000), "UTF-8", &e));
    EXPECT_EQ(e->code(), -1);
    EXPECT_FALSE(CXHTMLDocument::initWithXHTMLString(QString::fromLatin1(nested(5000)), &e));
    EXPECT_EQ(e->code(), 1);
}

TEST(HTMLDocument, DocumentsFromAFileURLAndNoneFromTheNetwork) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/page.html", "<html><body><p>local</p></body></html>");
    VNTest::writeFile(dir->path() + "/list.xml", "<list><item>1</item></list>");
    VNErrorPtr e;
    auto page = CXHTMLDocument::initWithContentsOfURL(QUrl::fromLocalFile(dir->path() + "/page.html"), "UTF-8", &e);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->rootElement()->stringValue(), "local");
    auto list = XTDocument::initWithContentsOfURL(QUrl::fromLocalFile(dir->path() + "/list.xml"), &e);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->rootElement()->name(), "list");
    EXPECT_FALSE(XTDocument::initWithContentsOfURL(QUrl::fromLocalFile(dir->path() + "/missing.xml"), &e));
    EXPECT_TRUE(e);
    EXPECT_FALSE(CXHTMLDocument::initWithContentsOfURL(QUrl("http://127.0.0.1:1/page.html"), "UTF-8", &e));
    EXPECT_TRUE(e);
}

TEST(HTMLDocument, IsADocumentNodeLikeAnXMLOne) {
    // Its children, its text and its description as for any document.
    VNErrorPtr e;
    auto page = CXHTMLDocument::initWithXHTMLData("<html><body><p>one</p><p>two</p></body></html>", "UTF-8", &e);
    ASSERT_TRUE(page);
    ASSERT_GE(page->childCount(), 1);
    EXPECT_EQ(page->children().size(), page->childCount());
    EXPECT_EQ(page->childAtIndex(page->childCount() - 1), page->rootElement());
    EXPECT_EQ(page->stringValue(), "onetwo");
    EXPECT_TRUE(page->description().startsWith("<CXHTMLDocument ")) << page->description().toStdString();
    EXPECT_EQ(page->rootElement()->parent(), page);
}
