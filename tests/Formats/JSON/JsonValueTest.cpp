#include "Formats/DXJsonExtensions.h"
#include "Formats/DXJsonValue.h"

#include <gtest/gtest.h>

TEST(JsonValue, LookupsAndConversions) {
    const DXJsonValue v = JSONValue(QStringLiteral(
        R"({"contents":[{"path":"/a.txt","bytes":230783,"is_dir":false,"size":"225.4KB","rev":"12"}],"n":null})"));
    ASSERT_TRUE(v.isObject());
    const DXJsonValue &entry = v["contents"][0];
    EXPECT_EQ(entry["path"].toString(), "/a.txt");
    EXPECT_EQ(entry["bytes"].toInt64(), 230783);
    EXPECT_EQ(entry["bytes"].toInt(), 230783);
    EXPECT_DOUBLE_EQ(entry["bytes"].toDouble(), 230783.0);
    EXPECT_EQ(entry["bytes"].toString(), "230783");
    EXPECT_FALSE(entry["is_dir"].toBool(true));
    EXPECT_EQ(entry["rev"].toInt64(), 12);  // a number sent as a string
    EXPECT_EQ(entry["size"].toInt64(-1), -1);
    // Absent and null are told apart.
    EXPECT_TRUE(entry["missing"].isUndefined());
    EXPECT_TRUE(v["n"].isNull());
    EXPECT_FALSE(v["n"].isUndefined());
    EXPECT_TRUE(v.contains("n"));
    EXPECT_FALSE(v.contains("missing"));
    EXPECT_TRUE(v["contents"][5].isUndefined());
    EXPECT_TRUE(v["contents"][-1].isUndefined());
    EXPECT_TRUE(v["n"]["deeper"][0].isUndefined());  // chains never fail
    EXPECT_TRUE(v["n"].toString().isNull());
    EXPECT_EQ(v["contents"].size(), 1);
    EXPECT_EQ(v["contents"].toArray().size(), 1);
    EXPECT_TRUE(v["n"].toArray().isEmpty());
}

TEST(JsonValue, BuildingAndMutating) {
    DXJsonObject body{{"path", "/x"}, {"overwrite", true}, {"size", Q_INT64_C(5000000000)}};
    body.insert("path", "/y");  // replaces in place
    body.insert("extra", DXJsonArray{1, "two", nullptr});
    EXPECT_EQ(body.keys(), QStringList({"path", "overwrite", "size", "extra"}));
    EXPECT_EQ(JSONRepresentation(body), R"({"path":"/y","overwrite":true,"size":5000000000,"extra":[1,"two",null]})");
    EXPECT_TRUE(body.remove("overwrite"));
    EXPECT_FALSE(body.remove("overwrite"));
    DXJsonValue v(body);
    v.object()->insert("k", 1);
    ASSERT_TRUE(v.object()->find("k"));
    *v.object()->find("k") = "v";
    EXPECT_EQ(v["k"].toString(), "v");
    EXPECT_FALSE(v.array());
    EXPECT_EQ(body.size(), 3);  // the copy was independent
}

TEST(JsonValue, CopiesAreIndependent) {
    DXJsonValue a(DXJsonArray{1, 2});
    DXJsonValue b = a;
    b.array()->append(3);
    EXPECT_EQ(a.size(), 2);
    EXPECT_EQ(b.size(), 3);
    DXJsonValue c;
    c = b;
    EXPECT_EQ(c, b);
    EXPECT_NE(c, a);
}

TEST(JsonValue, BooleansAreNotNumbers) {
    EXPECT_TRUE(DXJsonValue(true).isBool());
    EXPECT_FALSE(DXJsonValue(true).isNumber());
    EXPECT_TRUE(DXJsonValue(1).isNumber());
    EXPECT_NE(DXJsonValue(true), DXJsonValue(1));
    EXPECT_TRUE(DXJsonValue("text").isString());  // not converted to bool
    EXPECT_EQ(JSONValue(QStringLiteral("[true,1]"))[0].type(), DXJsonValue::Type::Bool);
}

TEST(JsonValue, LargeObjectsLookUpByHash) {
    DXJsonObject o;
    for (int i = 0; i < 1000; ++i)
        o.insert(QString::number(i), i);
    o.insert("500", "again");
    EXPECT_EQ(o.size(), 1000);
    EXPECT_EQ(o.value("500").toString(), "again");
    EXPECT_EQ(o.value("999").toInt(), 999);
    EXPECT_TRUE(o.remove("0"));
    EXPECT_EQ(o.value("1").toInt(), 1);
    EXPECT_EQ(o.at(0).key, "1");
    EXPECT_TRUE(o.value("0").isUndefined());
}

TEST(JsonValue, ObjectEqualityIgnoresOrder) {
    EXPECT_EQ(DXJsonValue(DXJsonObject{{"a", 1}, {"b", 2}}), DXJsonValue(DXJsonObject{{"b", 2}, {"a", 1}}));
    EXPECT_NE(DXJsonValue(DXJsonObject{{"a", 1}}), DXJsonValue(DXJsonObject{{"a", 2}}));
}

TEST(Decimal, ExactValuesAndText) {
    EXPECT_EQ(DXDecimal::fromString("1.50")->toString(), "1.5");
    EXPECT_EQ(*DXDecimal::fromString("1.50"), *DXDecimal::fromString("15e-1"));
    EXPECT_EQ(DXDecimal::fromString("100")->exponent(), 2);
    EXPECT_EQ(DXDecimal::fromString("1e40")->toString(), "10000000000000000000000000000000000000000");
    EXPECT_EQ(DXDecimal::fromString("1e100")->toString(), "1e+100");
    EXPECT_EQ(DXDecimal::fromString("-1.5e-50")->toString(), "-1.5e-50");
    EXPECT_EQ(DXDecimal::fromString("0.000001")->toString(), "0.000001");
    EXPECT_EQ(DXDecimal::fromString("-0")->toString(), "0");
    // Rounded to 38 significant digits, half away from zero.
    EXPECT_EQ(DXDecimal::fromString("123456789012345678901234567890123456785")->toString(),
              "123456789012345678901234567890123456790");
    EXPECT_EQ(DXDecimal::fromString("99999999999999999999999999999999999999.9")->toString(),
              "100000000000000000000000000000000000000");
    EXPECT_FALSE(DXDecimal::fromString("1e40000"));
    EXPECT_FALSE(DXDecimal::fromString("abc"));
    EXPECT_FALSE(DXDecimal::fromString("1."));
    EXPECT_FALSE(DXDecimal::fromString(""));
}

TEST(Decimal, Conversions) {
    bool ok = false;
    EXPECT_EQ(DXDecimal::fromString("-2.9")->toInt64(&ok), -2);
    EXPECT_TRUE(ok);
    EXPECT_EQ(DXDecimal::fromString("1e19")->toInt64(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(DXDecimal::fromString("1e19")->toUInt64(&ok), Q_UINT64_C(10000000000000000000));
    EXPECT_TRUE(ok);
    EXPECT_EQ(DXDecimal::fromString("-1")->toUInt64(&ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(DXDecimal::fromString("3000000000")->toInt(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_DOUBLE_EQ(DXDecimal::fromString("0.1")->toDouble(), 0.1);
    EXPECT_DOUBLE_EQ(DXDecimal::fromString("-1.5e-300")->toDouble(), -1.5e-300);
    EXPECT_EQ(DXDecimal::fromDouble(0.1).toString(), "0.1");
    EXPECT_EQ(DXDecimal::fromDouble(1.0 / 3).toDouble(), 1.0 / 3);
    EXPECT_TRUE(DXDecimal::fromDouble(std::nan("")).isNaN());
    EXPECT_TRUE(DXDecimal(Q_INT64_C(-9223372036854775807) - 1).toInt64(&ok) < 0);
    EXPECT_TRUE(ok);
}

TEST(Decimal, Ordering) {
    auto d = [](const char *t) { return *DXDecimal::fromString(t); };
    EXPECT_TRUE(d("0.1") < d("0.2"));
    EXPECT_TRUE(d("-5") < d("0"));
    EXPECT_TRUE(d("-5") < d("-4.99"));
    EXPECT_TRUE(d("99") < d("1e2"));
    EXPECT_FALSE(d("1e2") < d("100"));
    EXPECT_TRUE(d("0") < d("0.0001"));
}
