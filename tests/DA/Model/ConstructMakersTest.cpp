// Values made by the construct makers, written as XML and parsed back: what
// a maker stores must survive the trip unchanged (and filtered where a text
// could break the document).
#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DAObjectExtensions.h"
#include "DA/Elements/DAGeo.h"
#include "DA/Elements/DANormalPlayTime.h"
#include "DA/Photos/DAPhotoElements.h"
#include "Platform/VNLog.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

DAObjectPtr roundTrip(const DAObjectPtr &object) {
    const QString xml = object->XMLElement()->XMLString();
    return DAObject::objectWithXMLElement(object->objectClass(), DAXMLElement::elementWithXMLString(xml), nullptr);
}

QString valueText(const DAObjectPtr &o) { return std::static_pointer_cast<DAValueConstruct>(o)->stringValue(); }

}  // namespace

TEST(DAConstructMakers, MadeValuesSurviveWritingAndParsing) {
    struct Row {
        const char *what;
        std::function<DAObjectPtr()> make;
        std::function<QString(const DAObjectPtr &)> read;
        QString expected;
    } rows[] = {
        {"number beyond 32 bits", [] { return DAValueConstruct::valueWithNumber(DAPhotoSize::staticClass(), qint64(3000000000)); },
         valueText, "3000000000"},
        {"unsigned number", [] { return DAValueConstruct::valueWithNumber(DAPhotoSize::staticClass(), quint64(18446744073709551615ULL)); },
         valueText, "18446744073709551615"},
        {"double number", [] { return DAValueConstruct::valueWithNumber(DAPhotoTimestamp::staticClass(), 2.5); }, valueText, "2.5"},
        {"double without a short binary form", [] { return DAValueConstruct::valueWithDouble(DAGeoRSSRadius::staticClass(), 0.1); },
         valueText, "0.1"},
        {"bool number", [] { return DAValueConstruct::valueWithNumber(DAPhotoCommentingEnabled::staticClass(), true); },
         valueText, "1"},
        {"int", [] { return DAValueConstruct::valueWithInt(DAPhotoRotation::staticClass(), -90); }, valueText, "-90"},
        {"implicit value", [] { return DAImplicitValueConstruct::implicitValue(DADeleted::staticClass()); },
         [](const DAObjectPtr &o) { return o->XMLElement()->XMLString().contains("/>") ? QStringLiteral("empty") : QString(); },
         "empty"},
        {"content as a text construct",
         [] { return DAEntryContent::textConstructWithString(DAAtomContent::staticClass(), "body & soul"); },
         [](const DAObjectPtr &o) {
             auto c = std::static_pointer_cast<DAEntryContent>(o);
             return c->stringValue() + '|' + (c->type().isNull() ? "no type" : c->type());
         },
         "body & soul|no type"},
        {"control characters filtered", [] { return DAValueConstruct::valueWithString(DAPhotoUser::staticClass(), "a\x01" "b\x0c" "c"); },
         valueText, "abc"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        DAObjectPtr made = row.make();
        ASSERT_TRUE(made);
        DAObjectPtr parsed = roundTrip(made);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(row.read(parsed), row.expected) << made->XMLElement()->XMLString().toStdString();
        EXPECT_TRUE(parsed->unknownChildren().isEmpty());
    }
    EXPECT_FALSE(DAValueConstruct::valueWithNumber(DAPhotoSize::staticClass(), QVariant()));
}

TEST(DAConstructMakers, TypedReadersOfValues) {
    struct Row {
        const char *text;
        double number;
        bool flag;
    } rows[] = {{"abc", 0, false}, {"-INF", -INFINITY, false}, {"2.5e3", 2500, false}, {"TRUE", 0, true}, {"1", 1, false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        auto parsed = std::static_pointer_cast<DAValueConstruct>(
            roundTrip(DAValueConstruct::valueWithString(DAPhotoChecksum::staticClass(), row.text)));
        EXPECT_EQ(parsed->doubleNumberValue(), row.number);
        EXPECT_EQ(parsed->boolNumberValue(), row.flag);
    }
}

TEST(DAConstructMakers, FilteredElementHelpers) {
    DAXMLElementPtr e = DAObjectExtensions::elementWithName("x:item", "label", "one\x02two");
    DAObjectExtensions::addStringValue(e, "text\x1f");
    DAXMLElementPtr parsed = DAXMLElement::elementWithXMLString(e->XMLString().replace("x:item", "item"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->attributeForName("label")->stringValue(), "onetwo");
    EXPECT_EQ(parsed->stringValue(), "text");
}

// "*" in both name and namespace takes the element's only child node, of
// any name; beside any other node (even blank text) there is none.
TEST(DAConstructMakers, WildcardChildIsTheOnlyChildNode) {
    struct Row {
        const char *xml;
        const char *expected;
    } rows[] = {
        {"<r><a:x xmlns:a='urn:a'/></r>", "x"},
        {"<r><y/></r>", "y"},
        {"<r> <y/></r>", ""},
        {"<r><y/><z/></r>", ""},
        {"<r>text</r>", ""},
        {"<r/>", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.xml);
        auto reader = DAObject::object<DAObject>();
        DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(row.xml);
        DAXMLElementPtr child = reader->childWithQualifiedName("*", "*", doc->rootElement());
        EXPECT_EQ(child ? child->localName() : QString(""), QString(row.expected));
    }
}

TEST(DAConstructMakers, PlainGeoIsRefusedWithAReason) {
    VNLog::setCapturing(true);
    VNLog::clearCaptured();
    auto element = DAXMLElement::elementWithXMLString("<georss:point xmlns:georss='http://www.georss.org/georss'>1 2</georss:point>");
    EXPECT_FALSE(DAObject::objectWithXMLElement(DAGeo::staticClass(), element, nullptr));
    EXPECT_TRUE(DAObject::objectWithXMLElement(DAGeoRSSPoint::staticClass(), element, nullptr));

    auto holder = DAObject::object<DAObject>();
    DAGeo::setGeoLocation(DAGeo::geoWithLatitude(DAGeoRSSPoint::staticClass(), 1, 2), *holder);
    DAGeo::setGeoLocation(DAGeo::geoWithLatitude(DAGeo::staticClass(), 3, 4), *holder);
    ASSERT_TRUE(DAGeo::geoLocationForObject(*holder));  // the refused one replaced nothing
    EXPECT_EQ(DAGeo::geoLocationForObject(*holder)->latitude(), 1);
    EXPECT_EQ(VNLog::captured(), (QStringList{"Subclass of DAGeo should handle initWithXMLElement:",
                                              "setGeoLocation requires an instance of a subclass of DAGeo"}));
    VNLog::setCapturing(false);
}

TEST(DAConstructMakers, Descriptions) {
    const QString nptText = DANormalPlayTime::normalPlayTimeWithString("1:02:03.5").description();
    EXPECT_TRUE(nptText.startsWith("DANormalPlayTime ")) << qPrintable(nptText);
    EXPECT_TRUE(nptText.endsWith(": {1:02:03.500}")) << qPrintable(nptText);

    auto kml = std::static_pointer_cast<DAEntryContent>(DAEntryContent::contentWithXMLValue(
        DAAtomContent::staticClass(), DAXMLElement::elementWithXMLString("<Placemark/>"), "application/vnd.google-earth.kml+xml"));
    EXPECT_TRUE(kml->description().contains(" xml:<Placemark/>")) << qPrintable(kml->description());
}
