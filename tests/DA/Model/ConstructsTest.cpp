#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DANamespaces.h"

#include <gtest/gtest.h>

namespace {

// A value construct that keeps its value in the "value" attribute.
class AttributeValue : public DAValueConstruct {
    DA_CLASS(AttributeValue)
};
DA_DEFINE_ELEMENT_CLASS(AttributeValue, DAValueConstruct, QStringLiteral("urn:v"), "v", "val")

// Reads its attributes and children through the typed readers; what they
// read must not come back as unknowns.
class TypedReader : public DAObject {
    DA_CLASS(TypedReader)
public:
    bool initWithXMLElement(const DAXMLElementPtr &e, const DAObjectPtr &parent) override {
        if (!DAObject::initWithXMLElement(e, parent))
            return false;
        count = intNumberForAttributeName("count", e);
        ratio = doubleNumberForAttributeName("ratio", e);
        when = dateTimeForAttributeName("when", e);
        on = boolForAttributeName("on", e);
        mark = stringForAttributeLocalName("mark", "urn:m", e);
        number = intNumberValueFromElement(childWithQualifiedName("n", QString(), e));
        fraction = doubleNumberValueFromElement(childWithQualifiedName("d", QString(), e));
        stamp = dateTimeFromElement(childWithQualifiedName("t", QString(), e));
        prefixed = childrenOfElement(e, "x").size();
        return true;
    }
    std::optional<int> count, number;
    std::optional<double> ratio, fraction;
    DADateTimePtr when, stamp;
    bool on = false;
    QString mark;
    qsizetype prefixed = 0;
};
DA_DEFINE_CLASS(TypedReader, DAObject)

template <typename T>
std::shared_ptr<T> parse(const char *xml) {
    auto object = std::make_shared<T>();
    EXPECT_TRUE(object->initWithXMLElement(DAXMLElement::elementWithXMLString(QString::fromUtf8(xml)), nullptr));
    return object;
}

}  // namespace

TEST(DAConstructs, ValueConstructs) {
    auto attr = parse<AttributeValue>("<v:val xmlns:v='urn:v'>text only</v:val>");
    EXPECT_TRUE(attr->stringValue().isNull());
    EXPECT_EQ(attr->unknownChildren().size(), 1);
    EXPECT_TRUE(attr->XMLElement()->XMLString().contains(">text only<"));

    auto empty = parse<DAAtomID>("<id xmlns='http://www.w3.org/2005/Atom'/>");
    EXPECT_EQ(empty->stringValue(), "");
    EXPECT_FALSE(empty->stringValue().isNull());
    EXPECT_EQ(empty->XMLElement()->childCount(), 0);

    struct { const char *text; int i; bool b; } reads[] = {{"12abc", 12, false}, {"abc", 0, false}, {" -7", -7, false},
                                                          {"TRUE", 0, true}, {"1", 1, false}};
    for (const auto &r : reads) {
        auto v = DAValueConstruct::valueWithString<DAAtomID>(r.text);
        EXPECT_EQ(v->intValue(), r.i) << r.text;
        EXPECT_EQ(v->boolValue(), r.b) << r.text;
    }
    EXPECT_EQ(DAValueConstruct::valueWithString<DAAtomID>("-INF")->doubleValue(), -INFINITY);
    EXPECT_FALSE(DAValueConstruct::valueWithString<DAAtomID>(QString()));
    EXPECT_TRUE(DAValueConstruct::valueWithString<DADeleted>("x")->stringValue().isNull());
}

TEST(DAConstructs, TextConstructsAndPersons) {
    auto a = DATextConstruct::textConstructWithString<DAAtomTitle>("t");
    auto b = DATextConstruct::textConstructWithString<DAAtomTitle>("t");
    b->setType("text");
    EXPECT_TRUE(a->isEqual(*b));
    a->setType("html");
    EXPECT_FALSE(a->isEqual(*b));
    EXPECT_EQ(DAObject::qualifiedNameForExtensionClass(DAAtomTitle::staticClass()), "title");
    EXPECT_EQ(DAObject::qualifiedNameForExtensionClass(DAETagAttribute::staticClass()), "gd:etag");

    auto person = std::static_pointer_cast<DAPerson>(DAPerson::personWithName(DAAtomAuthor::staticClass(), "N", "e@x"));
    person->setName(QString());
    const QString xml = person->XMLElement()->XMLString();
    EXPECT_EQ(xml, "<author><email>e@x</email></author>");
}

TEST(DAConstructs, LinksAndContent) {
    QList<DALinkPtr> links{DALink::linkWithRel(QString(), QString(), "a"),
                           DALink::linkWithRel("alternate", "text/html", "b"),
                           DALink::linkWithRel(DANamespaces::data() + "#feed", QString(), "c")};
    EXPECT_EQ(DALink::linkWithRel("alternate", QString(), links)->href(), "a");
    EXPECT_EQ(DALink::linkWithRel("alternate", "text/html", links)->href(), "b");
    EXPECT_EQ(DALink::linkWithRelAttributeSuffix("#feed", links)->href(), "c");
    EXPECT_EQ(DALink::linkNamesFromLinks(links), QStringList({"alternate", "alternate", "feed"}));
    EXPECT_FALSE(DALink::linkWithRel("edit", QString(), links));

    auto plain = parse<DAAtomContent>("<content xmlns='http://www.w3.org/2005/Atom' type='application/atom+xml'>"
                                      "<entry><id>x</id></entry></content>");
    EXPECT_FALSE(plain->childObject());
    auto inlined = parse<DAAtomContent>("<content xmlns='http://www.w3.org/2005/Atom' type='application/atom+xml;type=entry'>"
                                        "<entry><id>x</id></entry></content>");
    ASSERT_TRUE(std::dynamic_pointer_cast<DAEntryBase>(inlined->childObject()));
    EXPECT_EQ(std::static_pointer_cast<DAEntryBase>(inlined->childObject())->identifier(), "x");
    EXPECT_TRUE(inlined->XMLElement()->XMLString().contains("<id>x</id>"));
    auto two = parse<DAAtomContent>("<content xmlns='http://www.w3.org/2005/Atom' type='application/atom+xml;type=entry'>"
                                    "<entry/><entry/></content>");
    EXPECT_FALSE(two->childObject());
    EXPECT_EQ(two->unknownChildren().size(), 2);

    auto untyped = DAEntryContent::contentWithString(DAAtomContent::staticClass(), "same");
    auto text = std::static_pointer_cast<DAEntryContent>(DAEntryContent::contentWithString(DAAtomContent::staticClass(), "same"));
    text->setType("text");
    EXPECT_TRUE(untyped->isEqual(*text));
    text->setType("image/png");
    EXPECT_FALSE(untyped->isEqual(*text));
    auto kml = parse<DAAtomContent>("<content xmlns='http://www.w3.org/2005/Atom' type='application/vnd.google-earth.kml+xml'>"
                                    "<k xmlns='urn:kml'>1</k></content>");
    EXPECT_EQ(kml->XMLValues().size(), 1);
}

TEST(DAConstructs, TypedReadersConsumeWhatTheyRead) {
    auto r = parse<TypedReader>(
        "<r xmlns:m='urn:m' xmlns:x='urn:x' count='12abc' ratio='-inf' when='2013-05-01T10:00:00Z' on='TRUE' m:mark='v'>"
        "<n>7</n><d>2.5</d><t>2013-05-02T00:00:00Z</t><x:a/><x:b/></r>");
    EXPECT_EQ(r->count, 12);
    EXPECT_EQ(r->ratio, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(r->when->RFC3339String(), "2013-05-01T10:00:00Z");
    EXPECT_TRUE(r->on);
    EXPECT_EQ(r->mark, "v");
    EXPECT_EQ(r->number, 7);
    EXPECT_EQ(r->fraction, 2.5);
    EXPECT_EQ(r->stamp->RFC3339String(), "2013-05-02T00:00:00Z");
    EXPECT_EQ(r->prefixed, 2);
    EXPECT_TRUE(r->unknownAttributes().isEmpty());
    EXPECT_EQ(r->XMLElement()->XMLString(),
              "<r xmlns:m=\"urn:m\" xmlns:x=\"urn:x\"><x:a/><x:b/></r>");  // only the children nobody read
}

TEST(DAConstructs, NameValuePairs) {
    EXPECT_FALSE(DANameValueConstruct::valueWithName(DANameValueConstruct::staticClass(), QString(), QString()));
    auto pair = std::static_pointer_cast<DANameValueConstruct>(
        DANameValueConstruct::valueWithName(DANameValueConstruct::staticClass(), "size", QString()));
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->name(), "size");
    EXPECT_TRUE(pair->stringValue().isNull());
    pair->setStringValue("L");
    EXPECT_EQ(pair->XMLElement()->XMLString(), "<DANameValueConstruct name=\"size\" value=\"L\"/>");
}

TEST(DAConstructs, ExtensionStorage) {
    auto entry = DAEntryBase::object<DAEntryBase>();
    auto c1 = DACategory::categoryWithScheme("s", "t1"), c2 = DACategory::categoryWithScheme("s", "t2");
    entry->addCategory(c1);
    EXPECT_EQ(entry->categories().size(), 1);
    entry->addCategory(c2);
    EXPECT_EQ(entry->objectForExtensionClass(DACategory::staticClass()), c1);
    entry->removeCategory(DACategory::categoryWithScheme("s", "t1"));
    EXPECT_EQ(entry->categories(), QList<DACategoryPtr>{c2});
    EXPECT_EQ(c1->elementName(), "category");

    auto labelled = DACategory::categoryWithLabel("starred");
    EXPECT_EQ(labelled->term(), DANamespaces::data() + "/labels#starred");
    auto other = DACategory::categoryWithLabel("starred");
    other->setLabelLang("en");
    EXPECT_TRUE(labelled->isEqual(*other));
    EXPECT_TRUE(DACategory::categoriesContain({labelled}, QString(), QString(), QString()));
    EXPECT_FALSE(DACategory::categoriesContain({}, QString(), QString(), QString()));
    EXPECT_TRUE(DACategory::categoriesContainLabel({c1, labelled}, "starred"));
}
