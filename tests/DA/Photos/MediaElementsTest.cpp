#include "DA/Elements/DAEXIFTags.h"
#include "DA/Elements/DAGeo.h"
#include "DA/Elements/DAMediaElements.h"
#include "DA/Photos/DAPhotoEntries.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(DAMediaElements, Keywords) {
    auto k = DAMediaKeywords::keywordsWithString(" a, b,, c ");
    EXPECT_EQ(k->keywords(), QStringList({"a", "b", "c"}));
    EXPECT_EQ(k->stringValue(), "a, b, c");
    k->addKeyword(" b ");
    EXPECT_EQ(k->stringValue(), "a, b, c");
    k->addKeyword("d");
    EXPECT_EQ(k->stringValue(), "a, b, c, d");
    auto empty = DAMediaKeywords::keywordsWithStrings({});
    empty->addKeyword("only");
    EXPECT_EQ(empty->stringValue(), "only");
    EXPECT_TRUE(DAMediaKeywords::stringFromKeywords({}).isNull());
}

TEST(DAMediaElements, PlayTimes) {
    struct { const char *in; qint64 ms; const char *hhmmss, *seconds; } cases[] = {
        {"1:02:03.5", 3723500, "1:02:03.500", "3723.500"}, {"90", 90000, "0:01:30", "90"},
        {"2:30", 150000, "0:02:30", "150"}, {" NoW ", -1, "now", "now"}, {"0", 0, "0:00:00", "0"},
        {"5.05", 5050, "0:00:05.050", "5.050"}, {"1.123456", 1123, "0:00:01.123", "1.123"}, {"junk", 0, "0:00:00", "0"},
        {"30:00:00", 108000000, "30:00:00", "108000"},
        // No leading number: no time, whatever follows.
        {".5", 0, "0:00:00", "0"},
        // Beyond any real time: held at a bound instead of overflowing.
        {"99999999999999:59:59", 1000000000000000, "277777777:46:40", "1000000000000"},
    };
    for (const auto &c : cases) {
        DANormalPlayTime t = DANormalPlayTime::normalPlayTimeWithString(c.in);
        EXPECT_EQ(t.timeOffsetInMilliseconds(), c.ms) << c.in;
        EXPECT_EQ(t.HHMMSSString(), c.hhmmss) << c.in;
        EXPECT_EQ(t.secondsString(), c.seconds) << c.in;
    }
    EXPECT_EQ(DANormalPlayTime::normalPlayTimeWithString("-99999999999999:59:59").timeOffsetInMilliseconds(),
              -1000000000000000);
    DANormalPlayTime t;
    t.setIsNow(true);
    EXPECT_EQ(t, DANormalPlayTime::normalPlayTimeWithString("now"));
}

TEST(DAMediaElements, GeoCoordinates) {
    EXPECT_EQ(DAGeo::valuesWithCoordinateString("45.256 -71.92"), QList<double>({45.256, -71.92}));
    EXPECT_EQ(DAGeo::valuesWithCoordinateString("1 2 3"), QList<double>({1, 2}));
    EXPECT_TRUE(DAGeo::valuesWithCoordinateString("").isEmpty());
    // Reading stops where a number does not start, even inside a token.
    EXPECT_EQ(DAGeo::valuesWithCoordinateString("1 2x 3 4"), QList<double>({1, 2}));
    EXPECT_EQ(DAGeo::valuesWithCoordinateString(" 1e2\n-.5 "), QList<double>({100, -0.5}));
    EXPECT_TRUE(DAGeo::valuesWithCoordinateString("x 1 2").isEmpty());
    auto three = DAGeo::geoWithLatitude(DAGeoRSSPoint::staticClass(), 1, 2);
    three->setValues({1, 2, 3});
    EXPECT_TRUE(std::isnan(three->latitude()));
    EXPECT_EQ(DAGeo::geoNamespaces().value("geo"), "http://www.w3.org/2003/01/geo/wgs84_pos#");

    auto where = std::make_shared<DAGeoRSSWhere>();
    ASSERT_TRUE(where->initWithXMLElement(
        DAXMLElement::elementWithXMLString("<georss:where xmlns:georss='http://www.georss.org/georss'><x/></georss:where>"), nullptr));
    EXPECT_TRUE(where->values().isEmpty());
    EXPECT_EQ(where->XMLElement()->XMLString(),
              "<georss:where xmlns:georss=\"http://www.georss.org/georss\"><x/></georss:where>");
    EXPECT_FALSE(std::make_shared<DAGeo>()->initWithXMLElement(DAXMLElement::elementWithXMLString("<p/>"), nullptr));
}

TEST(DAMediaElements, GeoLocationsKeepEveryDigitWhenWrittenAndParsed) {
    for (DAClass cls : {DAGeoRSSPoint::staticClass(), DAGeoRSSWhere::staticClass(), DAGeoW3CPoint::staticClass()}) {
        SCOPED_TRACE(cls->name);
        auto geo = DAGeo::geoWithLatitude(cls, 1.0 / 3.0, -71.12345678901234);
        const QString xml = geo->XMLElement()->XMLString();
        auto parsed = std::dynamic_pointer_cast<DAGeo>(
            DAObject::objectWithXMLElement(cls, DAXMLElement::elementWithXMLString(xml), nullptr));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->values(), geo->values()) << qPrintable(xml);
    }
    // Inside a photo entry, which declares the geo prefixes itself, a where
    // location adds no second declaration.
    auto entry = DAEntryPhoto::photoEntry();
    entry->setGeoLocation(DAGeo::geoWithLatitude(DAGeoRSSWhere::staticClass(), 1, 2));
    EXPECT_EQ(entry->XMLElement()->XMLString().count("xmlns:gml="), 1);
}

TEST(DAMediaElements, EXIFTagsByName) {
    auto tags = DAEXIFTags::EXIFTags();
    tags->setTagWithName("make", "A");
    tags->setTagWithName("model", "A");  // same value, other name
    tags->setTagWithName("make", "B");
    EXPECT_EQ(tags->tags().size(), 2);
    EXPECT_EQ(tags->valueForTagName("model"), "A");  // removing "make" left the other tag alone
    EXPECT_EQ(tags->valueForTagName("make"), "B");
    EXPECT_EQ(tags->tagWithName("make")->elementName(), "exif:make");
}
