#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/BaseClasses/DANamespaces.h"
#include "DA/support/DAXmlLint.h"

#include <gtest/gtest.h>

namespace {

// Entry classes registered by kind, and a child that can never be made.
class AlbumLikeEntry : public DAEntryBase {
    DA_CLASS(AlbumLikeEntry)
public:
    QString standardEntryKind() const override { return QStringLiteral("urn:test#album"); }
    QString standardKindAttributeValue() const override { return QStringLiteral("test#album"); }
};
class PhotoLikeEntry : public DAEntryBase {
    DA_CLASS(PhotoLikeEntry)
public:
    QString standardEntryKind() const override { return QStringLiteral("urn:test#photo"); }
};
class DefaultEntry : public DAEntryBase {
    DA_CLASS(DefaultEntry)
};
class TestFeed : public DAFeedBase {
    DA_CLASS(TestFeed)
public:
    DAClass defaultClassForEntries() const override { return DefaultEntry::staticClass(); }
};
class Unmakeable : public DAObject {
    DA_CLASS(Unmakeable)
public:
    bool initWithXMLElement(const DAXMLElementPtr &, const DAObjectPtr &) override { return false; }
};
class Holder : public DAObject {
    DA_CLASS(Holder)
public:
    void addExtensionDeclarations() override { addExtensionDeclaration(objectClass(), Unmakeable::staticClass()); }
};

DA_DEFINE_CLASS(AlbumLikeEntry, DAEntryBase)
DA_DEFINE_CLASS(PhotoLikeEntry, DAEntryBase)
DA_DEFINE_CLASS(DefaultEntry, DAEntryBase)
DA_DEFINE_CLASS(TestFeed, DAFeedBase)
DA_DEFINE_ELEMENT_CLASS(Unmakeable, DAObject, QStringLiteral("urn:u"), "u", "thing")
DA_DEFINE_CLASS(Holder, DAObject)

const QByteArray sampleFeed = R"(<?xml version="1.0" encoding="UTF-8"?>
<feed xmlns="http://www.w3.org/2005/Atom" xmlns:gd="http://schemas.google.com/g/2005" xmlns:openSearch="http://a9.com/-/&#115;pec/opensearch/1.1/" xmlns:x="urn:unknown" gd:etag="W/&quot;feed&quot;" x:mark="kept">
  <id>urn:feed:1</id>
  <updated>2013-05-01T10:00:00.000Z</updated>
  <title type="text">Albums of someone</title>
  <generator version="1.00" uri="http://example.test/">Gen</generator>
  <link rel="self" type="application/atom+xml" href="http://example.test/feed"/>
  <link rel="http://schemas.google.com/g/2005#post" type="application/atom+xml" href="http://example.test/post"/>
  <openSearch:totalResults>3</openSearch:totalResults>
  <!-- a comment between elements -->
  <x:extra a="1">text of an unknown element</x:extra>
  <entry gd:etag="&quot;e1&quot;" gd:kind="test#album">
    <id>urn:entry:1</id>
    <published>2013-04-30T08:00:00.000Z</published>
    <title>First &amp; foremost</title>
    <category scheme="http://schemas.google.com/g/2005#kind" term="urn:test#photo"/>
    <author><name>Someone</name><email>someone@example.test</email></author>
    <x:extra>inside an entry</x:extra>
  </entry>
  <entry>
    <id>urn:entry:2</id>
    <category scheme="http://schemas.google.com/g/2005#kind" term="urn:test#photo"/>
    <link href="http://example.test/2"/>
    <link rel="alternate" type="text/html" href="http://example.test/2.html"/>
  </entry>
  <entry>
    <id>urn:entry:3</id>
    <content type="text/plain">plain body</content>
  </entry>
</feed>
)";

void registerTestKinds() {
    static bool done = false;
    if (done)
        return;
    done = true;
    DAEntryBase::registerEntryClass(AlbumLikeEntry::staticClass());
    DAEntryBase::registerEntryClass(PhotoLikeEntry::staticClass());
}

std::shared_ptr<TestFeed> parseSample(const QByteArray &bytes = sampleFeed) {
    registerTestKinds();
    return DAFeedBase::feedWithXMLData<TestFeed>(bytes);
}

QByteArray written(const DAObjectPtr &o) { return o->XMLDocument()->XMLData(); }

}  // namespace

TEST(DAObjectModel, FeedParsesIntoEntriesOfRegisteredKinds) {
    auto feed = parseSample();
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->identifier(), "urn:feed:1");
    EXPECT_EQ(feed->title()->stringValue(), "Albums of someone");
    EXPECT_EQ(feed->ETag(), "W/\"feed\"");
    EXPECT_EQ(feed->totalResults(), 3);
    EXPECT_EQ(feed->generator()->name(), "Gen");
    EXPECT_EQ(feed->generator()->version(), "1.00");
    EXPECT_EQ(feed->selfLink()->href(), "http://example.test/feed");
    EXPECT_TRUE(feed->canPost());
    EXPECT_EQ(feed->updatedDate()->RFC3339String(), "2013-05-01T10:00:00Z");
    ASSERT_EQ(feed->entries().size(), 3);

    // The kind attribute wins over the categories; then the category; then the feed's default.
    auto first = std::dynamic_pointer_cast<AlbumLikeEntry>(feed->entries()[0]);
    ASSERT_TRUE(first);
    EXPECT_TRUE(std::dynamic_pointer_cast<PhotoLikeEntry>(feed->entries()[1]));
    EXPECT_TRUE(std::dynamic_pointer_cast<DefaultEntry>(feed->entries()[2]));
    EXPECT_EQ(first->parent().get(), feed.get());
    EXPECT_EQ(first->title()->stringValue(), "First & foremost");
    EXPECT_EQ(first->publishedDate()->date(), QDateTime(QDate(2013, 4, 30), QTime(8, 0), QTimeZone::utc()));
    EXPECT_EQ(first->ETag(), "\"e1\"");
    ASSERT_EQ(first->authors().size(), 1);
    EXPECT_EQ(first->authors()[0]->email(), "someone@example.test");
    EXPECT_EQ(first->kindCategory()->term(), "urn:test#photo");
    EXPECT_EQ(feed->entryForIdentifier("urn:entry:2"), feed->entries()[1]);
    EXPECT_EQ(feed->entriesWithCategoryKind("urn:test#photo").size(), 2);

    auto second = feed->entries()[1];
    EXPECT_EQ(second->links().size(), 2);  // two links: a list of two
    EXPECT_EQ(second->alternateLink()->href(), "http://example.test/2");  // no rel reads "alternate"
    EXPECT_EQ(second->HTMLLink()->href(), "http://example.test/2.html");
    EXPECT_EQ(second->objectsForExtensionClass(DAAtomID::staticClass()).size(), 1);
    EXPECT_EQ(feed->entries()[2]->content()->stringValue(), "plain body");
}

TEST(DAObjectModel, RoundTripKeepsUnknownsAndIsWellFormed) {
    auto feed = parseSample();
    const QByteArray out = written(feed);
    EXPECT_TRUE(xmlLintClean(out));
    for (const char *kept : {"<!-- a comment between elements -->", "x:mark=\"kept\"",
                             "<x:extra a=\"1\">text of an unknown element</x:extra>", "<x:extra>inside an entry</x:extra>",
                             "gd:etag=\"&quot;e1&quot;\"", "version=\"1.00\"", ">Gen</generator>"})
        EXPECT_TRUE(out.contains(kept)) << kept << "\n" << out.constData();
    EXPECT_TRUE(out.contains("\n  \n  "));  // white space between elements kept (after the declared fields)

    auto again = parseSample(out);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->isEqual(*feed));
    EXPECT_EQ(written(again), out);  // stable after one round

    // Ignoring unknowns: neither the unknown element nor the attribute comes back.
    registerTestKinds();
    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(sampleFeed);
    auto ignoring = std::make_shared<TestFeed>();
    ASSERT_TRUE(ignoring->DAObject::initWithXMLElement(doc->rootElement(), nullptr, "2.0", {}, true));
    const QByteArray lean = written(ignoring);
    EXPECT_FALSE(lean.contains("x:extra"));
    EXPECT_FALSE(lean.contains("x:mark"));
    EXPECT_TRUE(xmlLintClean(lean));
    EXPECT_TRUE(ignoring->isEqual(*feed));  // unknowns take no part in equality
    EXPECT_EQ(ignoring->entries()[0]->serviceVersion(), "2.0");
}

TEST(DAObjectModel, KeptNodesOutliveTheParsedDocument) {
    DAEntryBasePtr entry;
    {
        auto feed = parseSample();
        entry = feed->entries()[0];
    }  // the feed and its document are gone; the entry keeps its tree alive
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->parent());
    const DAXMLNodeList unknown = entry->unknownChildren();
    bool found = false;
    for (const DAXMLNodePtr &n : unknown)
        found = found || n->stringValue() == "inside an entry";
    EXPECT_TRUE(found);
    EXPECT_TRUE(written(entry).contains("inside an entry"));
}

TEST(DAObjectModel, ChildrenThatCannotBeMadeStayUnknown) {
    DAXMLElementPtr element = DAXMLElement::elementWithXMLString("<h xmlns:u='urn:u'><u:thing>kept</u:thing></h>");
    auto holder = std::make_shared<Holder>();
    ASSERT_TRUE(holder->initWithXMLElement(element, nullptr));
    EXPECT_FALSE(holder->objectForExtensionClass(Unmakeable::staticClass()));
    ASSERT_EQ(holder->unknownChildren().size(), 1);
    EXPECT_TRUE(holder->XMLElement()->XMLString().contains("<u:thing>kept</u:thing>"));
}

TEST(DAObjectModel, EqualityCopiesAndWritingTwice) {
    auto feed = parseSample();
    auto entry = feed->entries()[0];
    DAObjectPtr copy = entry->copy();
    EXPECT_FALSE(copy->parent());
    EXPECT_TRUE(copy->isEqual(*entry));
    EXPECT_TRUE(entry->isEqual(*copy));
    EXPECT_EQ(entry->XMLElement()->XMLString(), entry->XMLElement()->XMLString());
    EXPECT_TRUE(feed->copy()->isEqual(*feed));

    // A subclass object can equal a base object when asked from the base side.
    DAEntryBasePtr base = DAEntryBase::object<DAEntryBase>(), sub = DAEntryBase::object<DefaultEntry>();
    base->setTitleWithString("t");
    sub->setTitleWithString("t");
    EXPECT_TRUE(base->isEqual(*sub));
    EXPECT_FALSE(sub->isEqual(*base));
    sub->setUploadSlug("x");
    EXPECT_FALSE(base->isEqual(*sub));
}

TEST(DAObjectModel, NewEntriesWriteWellFormedDocuments) {
    registerTestKinds();
    auto entry = std::static_pointer_cast<AlbumLikeEntry>(DAEntryBase::entryOfClass(AlbumLikeEntry::staticClass()));
    EXPECT_EQ(entry->kind(), "test#album");
    EXPECT_EQ(entry->kindCategory()->term(), "urn:test#album");
    entry->setTitleWithString("New \x01" "album");  // control characters are filtered out
    entry->setETag("\"etag\"");
    entry->addLink(DALink::linkWithRel("edit", "application/atom+xml", "http://e/1"));
    entry->setIsDeleted(true);
    auto control = DAAtomPubControl::atomPubControlWithIsDraft(true);
    entry->setAtomPubControl(control);
    const QByteArray out = written(entry);
    EXPECT_TRUE(xmlLintClean(out));
    EXPECT_TRUE(out.contains("<title>New album</title>")) << out.constData();
    EXPECT_TRUE(out.contains("<gd:deleted/>"));
    EXPECT_TRUE(out.contains("<app:draft>yes</app:draft>"));
    EXPECT_TRUE(entry->canEdit());
    control->setIsDraft(false);
    EXPECT_FALSE(written(entry).contains("draft"));

    auto parsed = DAFeedBase::feedWithXMLData<TestFeed>("<feed xmlns='http://www.w3.org/2005/Atom'>" + out.mid(out.indexOf("<entry")) + "</feed>");
    ASSERT_TRUE(parsed && parsed->entries().size() == 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<AlbumLikeEntry>(parsed->firstEntry()));
    EXPECT_TRUE(parsed->firstEntry()->isDeleted());

    // Slug and content headers.
    entry->setUploadSlug("caf\u00e9 50%.jpg");
    EXPECT_EQ(entry->uploadSlug(), "caf%C3%A9 50%25.jpg");
    EXPECT_TRUE(entry->contentHeaders().isEmpty());
    entry->setUploadMIMEType("image/jpeg");
    EXPECT_EQ(entry->contentHeaders().size(), 3);
    entry->setUploadSlug(QString());
    EXPECT_EQ(entry->contentHeaders().size(), 2);
}

TEST(DAObjectModel, FeedEdgeCases) {
    registerTestKinds();
    auto empty = DAFeedBase::feedWithXMLData<TestFeed>("<feed xmlns='http://www.w3.org/2005/Atom'/>");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->entries().isEmpty());
    EXPECT_FALSE(empty->firstEntry());
    EXPECT_FALSE(DAFeedBase::feedWithXMLData<TestFeed>("<feed"));
    auto twoGenerators = DAFeedBase::feedWithXMLData<TestFeed>(
        "<feed xmlns='http://www.w3.org/2005/Atom'><generator>a</generator><generator>b</generator></feed>");
    EXPECT_FALSE(twoGenerators->generator());
    EXPECT_EQ(twoGenerators->unknownChildren().size(), 2);
    // Entries added to another feed must be copied.
    auto other = DAFeedBase::object<TestFeed>();
    other->setEntriesWithEntries(parseSample()->entries());
    EXPECT_EQ(other->entries().size(), 3);
    EXPECT_EQ(other->entries()[0]->parent().get(), other.get());
}
