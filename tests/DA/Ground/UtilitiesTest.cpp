#include "DA/BaseClasses/DAServerErrorGroup.h"
#include "DA/BaseClasses/DAUtilities.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace DAUtilities;

TEST(DAServerErrors, DocumentWithTwoErrors) {
    const QByteArray doc = R"(<errors xmlns='http://schemas.google.com/g/2005'>
      <error><domain>GData</domain><code>invalid</code><internalReason>Bad "thing"</internalReason>
        <extendedHelp>http://h</extendedHelp></error>
      <error><domain>GData</domain><code>second</code></error>
      <other/></errors>)";
    DAServerErrorGroupPtr group = DAServerErrorGroup::groupWithData(doc);
    ASSERT_TRUE(group);
    ASSERT_EQ(group->errors().size(), 2);
    EXPECT_EQ(group->mainError()->summary(), "GData error invalid: \"Bad \"thing\"\"");
    EXPECT_EQ(group->errors()[1]->summary(), "GData error second");
    EXPECT_TRUE(group->mainError()->description().endsWith(
        "{domain=\"GData\" code=\"invalid\" reason=\"Bad \"thing\"\" help=\"http://h\"}"));
    EXPECT_TRUE(group->copy()->isEqual(*group));
    EXPECT_TRUE(DAServerErrorGroup::groupWithData(doc)->isEqual(*group));
    DAServerErrorGroupPtr other = group->copy();
    other->errors()[1]->setCode("changed");
    EXPECT_FALSE(other->isEqual(*group));

    EXPECT_FALSE(DAServerErrorGroup::groupWithData("not xml"));
    EXPECT_FALSE(DAServerErrorGroup::groupWithData("<errors><error><code>x</code></error></errors>"));
}

TEST(DAUtilities, ControlFilter) {
    const QString in = QStringLiteral("a\tb\nc\rd\u0085e\u000bf\u000cg\u007fh\u0001i\u0090j\ufeffk\u200bl ");
    EXPECT_EQ(stringWithControlsFilteredForString(in), QStringLiteral("a\tb\nc\rd\u0085efghijkl "));
    const QString clean = QStringLiteral("plain text");
    EXPECT_EQ(stringWithControlsFilteredForString(clean).constData(), clean.constData());  // answered itself
    EXPECT_EQ(stringWithControlsFilteredForString(QString()), "");
    EXPECT_EQ(stringWithControlsFilteredForString(QString::fromUcs4(U"x\U000E0001y")), "xy");  // astral Cf
}

TEST(DAUtilities, Numbers) {
    EXPECT_EQ(*doubleNumberOrInfForString("inf"), INFINITY);
    EXPECT_EQ(*doubleNumberOrInfForString("INF"), INFINITY);
    EXPECT_EQ(*doubleNumberOrInfForString("-Inf"), -INFINITY);
    EXPECT_EQ(*doubleNumberOrInfForString("0"), 0.0);
    EXPECT_EQ(*doubleNumberOrInfForString("abc"), 0.0);
    EXPECT_EQ(*doubleNumberOrInfForString(" 12.5e1xyz"), 125.0);
    EXPECT_FALSE(doubleNumberOrInfForString(""));
}

TEST(DAUtilities, Encodings) {
    EXPECT_EQ(stringByPercentEncodingUTF8ForString("a b%\u00e9"), "a b%25%C3%A9");
    const QString same = "no change here/?";
    EXPECT_EQ(stringByPercentEncodingUTF8ForString(same).constData(), same.constData());
    EXPECT_EQ(stringByPercentEncodingUTF8ForString("\x01\x7f"), "%01%7F");
    EXPECT_EQ(stringByURLEncodingStringParameter("a b+c"), "a+b%2Bc");
    EXPECT_EQ(stringByURLEncodingForURI("a b/c?d=e&f~g.h_i-j"), "a%20b%2Fc%3Fd%3De%26f~g.h_i-j");
    EXPECT_EQ(stringByURLEncodingForURI("\u00e9"), "%C3%A9");
    EXPECT_EQ(stringByURLEncodingString("a b/c?d=e"), "a%20b/c?d=e");
}

TEST(DAUtilities, VersionsResponsesAndMIME) {
    struct { const char *a, *b; qint64 r; } versions[] = {
        {"1.2", "1.2.0.0", 0}, {"2", "10", -1}, {"1.10", "1.9", 1}, {"1.2.3.4.5", "1.2.3.4", 0}, {"", "0", 0},
        {"2.0", "1.0", 1}, {"-1", "0", -1}, {"99999999999", "2147483647", 0}};
    for (const auto &v : versions)
        EXPECT_EQ(compareVersion(v.a, v.b), v.r) << v.a << " " << v.b;
    EXPECT_EQ(compareVersion(QString(), "0.0"), 0);

    const auto map = dictionaryWithResponseString("SID=abc\nnoequals\nLSID=\n Auth = t=1\nSID=def\n=x");
    EXPECT_EQ(map.size(), 2);
    EXPECT_EQ(map.value("SID"), "def");
    EXPECT_EQ(map.value("Auth "), "t=1");
    EXPECT_TRUE(dictionaryWithResponseString(QString()).isEmpty());

    EXPECT_EQ(MIMETypeForFileAtPath("/x/photo.JPG", "d"), "image/jpeg");
    EXPECT_EQ(MIMETypeForFileAtPath("/x/movie.mp4", "d"), "video/mp4");
    EXPECT_EQ(MIMETypeForFileAtPath("/x/noextension", "d"), "d");
    EXPECT_EQ(MIMETypeForFileAtPath("/x/file.zzzunknown", "d"), "d");

    struct Item { QString name; int n; };
    QList<Item> items{{"a", 1}, {"b", 2}, {"c", 1}};
    std::function<int(const Item &)> byN = [](const Item &i) { return i.n; };
    EXPECT_EQ(objectsFromArray(items, 1, byN).size(), 2);
    EXPECT_EQ(firstObjectFromArray(items, 2, byN).name, "b");
    EXPECT_TRUE(firstObjectFromArray(items, 9, byN).name.isNull());
}

TEST(DAUtilities, CopiesOfListsAndMapsAreDeep) {
    auto error = std::make_shared<DAServerError>();
    error->setCode(QStringLiteral("original"));
    const QList<DAServerErrorPtr> list{error, nullptr};
    const QMap<QString, DAServerErrorPtr> map{{QStringLiteral("k"), error}};
    const QMap<QString, QList<DAServerErrorPtr>> lists{{QStringLiteral("k"), list}};
    const auto copiedList = mutableArrayWithCopiesOfObjectsInArray(list);
    const auto copiedMap = dictionaryWithCopiesOfObjectsInDictionary(map);
    const auto copiedLists = dictionaryWithCopiesOfArraysInDictionary(lists);
    ASSERT_EQ(copiedList.size(), 2);
    EXPECT_FALSE(copiedList[1]);
    const DAServerErrorPtr copies[] = {copiedList[0], copiedMap.value(QStringLiteral("k")), copiedLists.value(QStringLiteral("k")).value(0)};
    for (const auto &copy : copies) {
        ASSERT_TRUE(copy);
        EXPECT_NE(copy, error);
        EXPECT_TRUE(copy->isEqual(*error));
        copy->setCode(QStringLiteral("changed"));
    }
    EXPECT_EQ(error->code(), QStringLiteral("original"));
}
