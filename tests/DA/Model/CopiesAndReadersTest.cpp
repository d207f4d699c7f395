// Copies that equal their source, integer readers that keep to their range,
// protocol versions read by their leading number, and extension lists that
// keep their place when emptied.
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/BaseClasses/DANamespaces.h"
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Query/DAQuery.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();
constexpr qint64 longMax = std::numeric_limits<qint64>::max();
constexpr qint64 longMin = std::numeric_limits<qint64>::min();

std::shared_ptr<DAEntryPhoto> parsedPhoto(const char *body) {
    const QString xml = QStringLiteral("<entry xmlns='http://www.w3.org/2005/Atom' "
                                       "xmlns:gphoto='http://schemas.google.com/photos/2007'>%1</entry>")
                            .arg(QString::fromUtf8(body));
    return std::dynamic_pointer_cast<DAEntryPhoto>(
        DAObject::objectWithXMLElement(DAEntryPhoto::staticClass(), DAXMLElement::elementWithXMLString(xml), nullptr));
}

QStringList childNames(const DAXMLElementPtr &element) {
    QStringList names;
    for (const DAXMLElementPtr &c : element->childElements())
        names << c->localName();
    return names;
}

}  // namespace

// A photo entry class puts its kind category on every new entry; a copy of a
// parsed entry that has none must not gain one, and what is added to the copy
// must be written.
TEST(DACopies, ACopyHoldsWhatItsSourceHoldsAndWritesWhatIsAddedToIt) {
    struct Row {
        const char *what;
        const char *body;
        qsizetype categories;
    } rows[] = {
        {"no category", "<id>p1</id>", 0},
        {"another category", "<id>p2</id><category term='x'/>", 1},
        {"its own kind", "<id>p3</id><category scheme='http://schemas.google.com/g/2005#kind' "
                         "term='http://schemas.google.com/photos/2007#photo'/>", 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        auto source = parsedPhoto(row.body);
        ASSERT_TRUE(source);
        ASSERT_EQ(source->categories().size(), row.categories);
        auto copy = std::static_pointer_cast<DAEntryPhoto>(source->copy());
        EXPECT_EQ(copy->categories().size(), row.categories);
        EXPECT_TRUE(copy->isEqual(*source));
        EXPECT_TRUE(source->isEqual(*copy));

        copy->addCategory(DACategory::categoryWithScheme("urn:added", "new"));
        const QString xml = copy->XMLElement()->XMLString();
        EXPECT_TRUE(xml.contains("urn:added")) << qPrintable(xml);
        EXPECT_EQ(copy->XMLElement()->elementsForLocalName("category", DANamespaces::atom()).size(), row.categories + 1);
    }
}

TEST(DAReaders, IntegerReadersKeepToTheirRange) {
    struct Row {
        const char *text;
        int intValue;
        qint64 longValue;
    } rows[] = {
        {"2147483647", intMax, 2147483647},
        {"2147483648", intMax, 2147483648LL},
        {"3000000000", intMax, 3000000000LL},
        {"-3000000000", intMin, -3000000000LL},
        {"9223372036854775807", intMax, longMax},
        {"99999999999999999999", intMax, longMax},
        {"-9223372036854775808", intMin, longMin},
        {"-99999999999999999999", intMin, longMin},
        {" 12abc", 12, 12},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        auto value = DAValueConstruct::valueWithString<DAPhotoCommentCount>(row.text);
        EXPECT_EQ(value->intValue(), row.intValue);
        EXPECT_EQ(value->intNumberValue(), row.intValue);
        EXPECT_EQ(value->longLongValue(), row.longValue);

        auto photo = parsedPhoto(qPrintable(QStringLiteral("<gphoto:commentCount>%1</gphoto:commentCount>"
                                                           "<gphoto:size>%1</gphoto:size>")
                                                .arg(QString::fromUtf8(row.text))));
        EXPECT_EQ(photo->commentCount(), row.intValue);
        EXPECT_EQ(photo->size(), row.longValue);

        auto query = DAQuery::queryWithFeedURL(QUrl("http://example.test/feed"));
        query->addCustomParameter("n", QString::fromUtf8(row.text));
        EXPECT_EQ(query->intValueForParameter("n", -1), row.intValue);
    }
}

TEST(DAVersions, CoreProtocolVersionOneByItsLeadingNumber) {
    struct Row {
        const char *version;
        bool one;
    } rows[] = {{"1.0", true}, {"1", true}, {"1.9", true}, {"2.0", false}, {"2", false}, {"2.1", false}, {"10.0", false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.version);
        auto object = DAObject::object<DAObject>();
        object->setServiceVersion(row.version);
        EXPECT_EQ(object->isCoreProtocolVersion1(), row.one);
    }
}

// An emptied list stays stored, so a later addition is written where the
// list was, not after everything added since.
TEST(DAExtensions, AnEmptiedListKeepsItsPlaceAndASingleObjectGoes) {
    auto entry = DAEntryBase::object<DAEntryBase>();
    auto category = DACategory::categoryWithScheme("s", "t");
    entry->addCategory(category);
    entry->setIdentifier("urn:1");
    entry->removeCategory(DACategory::categoryWithScheme("s", "t"));
    EXPECT_TRUE(entry->categories().isEmpty());
    EXPECT_EQ(childNames(entry->XMLElement()), QStringList{"id"});
    entry->addCategory(category);
    EXPECT_EQ(childNames(entry->XMLElement()), (QStringList{"category", "id"}));

    auto single = DAEntryBase::object<DAEntryBase>();
    single->setObject(DACategory::categoryWithScheme("s", "t"), DACategory::staticClass());
    single->setIdentifier("urn:1");
    single->removeObject(DACategory::categoryWithScheme("s", "t"), DACategory::staticClass());
    single->addCategory(category);
    EXPECT_EQ(childNames(single->XMLElement()), (QStringList{"id", "category"}));
}
