#include "Formats/DXJSON.h"
#include "Formats/DXJsonExtensions.h"
#include "Formats/DXJsonParser.h"
#include "Formats/DXJsonWriter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {
DXJsonValue nestedArrays(int levels) {
    DXJsonValue v = DXJsonArray();
    for (int i = 1; i < levels; ++i)
        v = DXJsonArray{v};
    return v;
}
}  // namespace

TEST(JsonWriter, CompactAndReadable) {
    DXJsonObject o{{"name", "a"}};
    DXJsonWriter w;
    EXPECT_EQ(w.stringWithObject(o), "{\"name\":\"a\"}");
    w.setHumanReadable(true);
    EXPECT_EQ(w.stringWithObject(o), "{\n  \"name\" : \"a\"\n}");
}

TEST(JsonWriter, EmptyContainersInBothModes) {
    DXJsonWriter w;
    EXPECT_EQ(w.stringWithObject(DXJsonArray()), "[]");
    EXPECT_EQ(w.stringWithObject(DXJsonObject()), "{}");
    w.setHumanReadable(true);
    EXPECT_EQ(w.stringWithObject(DXJsonArray()), "[]");
    EXPECT_EQ(w.stringWithObject(DXJsonObject()), "{}");
}

TEST(JsonWriter, ReadableOutputIsIndentedAtEveryDepth) {
    DXJsonObject inner{{"x", DXJsonArray{1, 2}}};
    DXJsonObject outer{{"a", inner}, {"b", DXJsonObject()}};
    const QString expected = "{\n  \"a\" : {\n    \"x\" : [\n      1,\n      2\n    ]\n  },\n  \"b\" : {}\n}";
    for (quint64 limit : {quint64(512), quint64(0)}) {
        DXJsonWriter w;
        w.setHumanReadable(true);
        w.setMaxDepth(limit);  // no limit must not lose the indentation
        EXPECT_EQ(w.stringWithObject(outer), expected) << limit;
    }
}

TEST(JsonWriter, Scalars) {
    DXJsonWriter w;
    EXPECT_EQ(w.stringWithObject(DXJsonArray{true, false, nullptr, 42, -7, "s"}), "[true,false,null,42,-7,\"s\"]");
    EXPECT_EQ(w.stringWithFragment(DXJsonValue(42)), "42");
    EXPECT_EQ(w.stringWithFragment(DXJsonValue(0.5)), "0.5");
    EXPECT_EQ(w.stringWithFragment(DXJsonValue(Q_INT64_C(-9223372036854775807) - 1)), "-9223372036854775808");
    EXPECT_EQ(w.stringWithFragment(DXJsonValue(1e300)), "1e+300");
}

TEST(JsonWriter, ParsedDecimalsWriteTheirOwnValue) {
    DXJsonParser p;
    DXJsonWriter w;
    EXPECT_EQ(w.stringWithObject(p.objectWithString("[0.1,1e2,-0.0015,12345678901234567890123,1.50]")),
              "[0.1,100,-0.0015,12345678901234567890123,1.5]");
}

TEST(JsonWriter, StringEscapes) {
    DXJsonWriter w;
    const QString s = QString("q\"b\\s/t\t") + QChar(1) + QChar(0x0b) + "\n\r\b\f" + QChar(0x1f);
    EXPECT_EQ(w.stringWithFragment(s), "\"q\\\"b\\\\s/t\\t\\u0001\\u000b\\n\\r\\b\\f\\u001f\"");
    // Beyond ASCII is written as it is.
    const QString wide = QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    EXPECT_EQ(w.stringWithFragment(wide), "\"" + wide + "\"");
    EXPECT_EQ(w.dataWithFragment(wide), "\"" + wide.toUtf8() + "\"");
}

TEST(JsonWriter, RoundTripThroughTheParser) {
    DXJsonParser p;
    DXJsonWriter w;
    QString all;
    for (int u = 1; u < 0x800; ++u)
        if (u < 0xd800)
            all += QChar(u);
    DXJsonObject o{{"text", all}, {"n", DXDecimal::fromString("-1.25e-7").value()}, {"list", DXJsonArray{nullptr, true}}};
    const DXJsonValue back = p.objectWithString(w.stringWithObject(o));
    EXPECT_EQ(back, DXJsonValue(o));
    EXPECT_EQ(back["text"].toString(), all);
}

TEST(JsonWriter, RefusedValuesGiveTheirTrace) {
    DXJsonObject nullKey;
    nullKey.insert(QString(), 1);
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        const char *what;
        DXJsonValue value;
        int code;
        QStringList trace;  // each entry's text, or its start when it ends in "*"
    } cases[] = {
        {"not a container", DXJsonValue("a string"), 4, {"Not valid type for JSON"}},
        {"null key", nullKey, 1, {"JSON object key must be string"}},
        {"NaN", DXJsonObject{{"v", nan}}, 1, {"JSON serialisation not supported for *", "Unsupported value for key v in object"}},
        {"infinity", DXJsonObject{{"v", inf}}, 1, {"JSON serialisation not supported for *", "Unsupported value for key v in object"}},
        {"minus infinity", DXJsonObject{{"v", -inf}}, 1, {"JSON serialisation not supported for *", "Unsupported value for key v in object"}},
        {"undefined", DXJsonObject{{"when", DXJsonValue()}}, 1, {"*", "Unsupported value for key when in object"}},
    };
    DXJsonWriter w;
    for (const auto &c : cases) {
        EXPECT_TRUE(w.stringWithObject(c.value).isNull()) << c.what;
        ASSERT_EQ(w.errorTrace().size(), c.trace.size()) << c.what;
        for (int i = 0; i < c.trace.size(); ++i) {
            const QString text = w.errorTrace()[i]->localizedDescription();
            EXPECT_EQ(w.errorTrace()[i]->code(), c.code) << c.what;
            EXPECT_TRUE(c.trace[i].endsWith('*') ? text.startsWith(c.trace[i].chopped(1)) : text == c.trace[i])
                << c.what << ": " << text.toStdString();
        }
    }
    // As a fragment a string is fine (and clears the trace); a number that is none is not.
    EXPECT_EQ(w.stringWithFragment(DXJsonValue("a string")), "\"a string\"");
    EXPECT_TRUE(w.errorTrace().isEmpty());
    for (double bad : {nan, inf, -inf})
        EXPECT_TRUE(w.stringWithFragment(DXJsonValue(bad)).isNull());
}

TEST(JsonWriter, SortKeys) {
    DXJsonObject o{{"b", 1}, {"a", 2}, {"B", 3}};
    DXJsonWriter w;
    EXPECT_EQ(w.stringWithObject(o), "{\"b\":1,\"a\":2,\"B\":3}");  // insertion order
    w.setSortKeys(true);
    EXPECT_EQ(w.stringWithObject(o), "{\"B\":3,\"a\":2,\"b\":1}");
}

TEST(JsonWriter, DepthLimit) {
#if defined(__SANITIZE_THREAD__)
    // Building and freeing values nested to the hard cap goes deeper than
    // the thread sanitizer's largest recorded stack (64Ki frames) in a debug
    // build.
    GTEST_SKIP() << "too deep for the thread sanitizer";
#endif
    DXJsonWriter w;
    EXPECT_FALSE(w.stringWithObject(nestedArrays(512)).isNull());
    EXPECT_TRUE(w.stringWithObject(nestedArrays(513)).isNull());
    ASSERT_EQ(w.errorTrace().size(), 1);
    EXPECT_EQ(w.errorTrace()[0]->code(), 7);
    EXPECT_EQ(w.errorTrace()[0]->localizedDescription(), "Nested too deep");
    w.setMaxDepth(0);
    EXPECT_FALSE(w.stringWithObject(nestedArrays(1000)).isNull());
    EXPECT_TRUE(w.stringWithObject(nestedArrays(int(DXJsonBase::hardDepthLimit) + 1)).isNull());
}

TEST(JsonWriter, ExtensionsGiveNullForWhatCannotBeWritten) {
    EXPECT_EQ(JSONRepresentation(DXJsonObject{{"path", "/a b"}}), "{\"path\":\"/a b\"}");
    EXPECT_EQ(JSONRepresentationData(DXJsonObject{{"path", "/\xc3\xa9"}}), QByteArray("{\"path\":\"/\xc3\xa9\"}"));
    EXPECT_TRUE(JSONRepresentation(DXJsonValue(5)).isNull());
    EXPECT_EQ(JSONFragment(DXJsonValue(5)), "5");
    EXPECT_TRUE(JSONFragment(DXJsonValue()).isNull());
}

TEST(JsonFacade, WritingHalf) {
    DXJSON json;
    json.setSortKeys(true);
    json.setHumanReadable(true);
    EXPECT_EQ(json.stringWithObject(DXJsonObject{{"b", 1}, {"a", 2}}), "{\n  \"a\" : 2,\n  \"b\" : 1\n}");
    VNErrorPtr e;
    EXPECT_TRUE(json.stringWithObject(DXJsonValue(1), &e).isNull());
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code(), 4);
    EXPECT_EQ(json.stringWithFragment(DXJsonValue(1), &e), "1");
}
