#include "Formats/DXJSON.h"
#include "Formats/DXJsonError.h"
#include "Formats/DXJsonExtensions.h"
#include "Formats/DXJsonParser.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

struct Traced {
    qint64 code;
    QString text;
};

std::vector<Traced> traceOf(const DXJsonBase &b) {
    std::vector<Traced> out;
    for (const VNErrorPtr &e : b.errorTrace())
        out.push_back({e->code(), e->localizedDescription()});
    return out;
}

// Parses as a fragment and gives the trace (empty on success).
std::vector<Traced> failOf(const QString &text, bool object = false) {
    DXJsonParser p;
    DXJsonValue v = object ? p.objectWithString(text) : p.fragmentWithString(text);
    EXPECT_TRUE(v.isUndefined()) << text.toStdString();
    return traceOf(p);
}

void expectFirst(const QString &text, qint64 code, const QString &message) {
    auto trace = failOf(text);
    ASSERT_FALSE(trace.empty()) << text.toStdString();
    EXPECT_EQ(trace.front().code, code) << text.toStdString();
    EXPECT_EQ(trace.front().text, message) << text.toStdString();
}

DXJsonValue parseOk(const QString &text) {
    DXJsonParser p;
    DXJsonValue v = p.fragmentWithString(text);
    EXPECT_FALSE(v.isUndefined()) << text.toStdString() << " "
                                  << p.errorTraceDescription().toStdString();
    EXPECT_TRUE(p.errorTrace().isEmpty());
    return v;
}

QString nested(int levels) { return QString(levels, '[') + QString(levels, ']'); }

}  // namespace

TEST(JsonParser, ContainersAndWhiteSpace) {
    DXJsonParser p;
    EXPECT_TRUE(p.objectWithString("[]").isArray());
    EXPECT_EQ(p.objectWithString("[]").size(), 0);
    EXPECT_TRUE(p.objectWithString("{}").isObject());
    EXPECT_EQ(p.objectWithString(" [1] ")[0].toInt(), 1);
    // Vertical tab and form feed count as white space.
    EXPECT_TRUE(p.objectWithString("[1,2]\v\f").isArray());
    EXPECT_TRUE(p.errorTrace().isEmpty());
}

TEST(JsonParser, ScalarsAreFragmentsNotObjects) {
    for (const char *text : {"1", "\"a\"", "true", "null"}) {
        auto trace = failOf(text, true);
        ASSERT_EQ(trace.size(), 1u) << text;
        EXPECT_EQ(trace[0].code, 4);
        EXPECT_EQ(trace[0].text, "Valid fragment, but not JSON");
        EXPECT_FALSE(parseOk(text).isUndefined());
    }
    EXPECT_TRUE(parseOk("true").toBool());
    EXPECT_TRUE(parseOk("false").isBool());
    EXPECT_TRUE(parseOk("null").isNull());
    EXPECT_EQ(parseOk("\"a\"").toString(), "a");
}

TEST(JsonParser, EmptyAndNilInput) {
    expectFirst("", 11, "Unexpected end of string");
    expectFirst("   ", 11, "Unexpected end of string");
    auto trace = failOf(QString());
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].code, 12);
    EXPECT_EQ(trace[0].text, "Input was 'nil'");
    DXJsonParser p;
    EXPECT_TRUE(p.objectWithData(QByteArray()).isUndefined());
    EXPECT_EQ(p.errorTrace().first()->code(), 12);
}

TEST(JsonParser, CommasAndGarbage) {
    DXJsonValue two = parseOk("[1 2]");
    EXPECT_EQ(two.size(), 2);
    EXPECT_EQ(parseOk("{\"a\":1 \"b\":2}").size(), 2);
    expectFirst("[1,]", 9, "Trailing comma disallowed in array");
    expectFirst("{\"a\":1,}", 9, "Trailing comma disallowed in object");
    expectFirst("[1,2]x", 10, "Garbage after JSON");
    expectFirst("[1", 11, "End of input while parsing array");
    expectFirst("[1,", 11, "End of input while parsing array");
    expectFirst("{", 11, "End of input while parsing object");
    expectFirst("{\"a\":1", 11, "End of input while parsing object");
    expectFirst("{\"a\" 1}", 3, "Expected ':' separating key and value");
    expectFirst("{1:2}", 3, "Object key string expected");
    expectFirst("[x]", 3, "Unrecognised leading character");
    expectFirst("[tru]", 3, "Expected 'true'");
    expectFirst("[fals", 3, "Expected 'false'");
    expectFirst("nul", 3, "Expected 'null'");
    // An embedded NUL byte is not white space.
    expectFirst(QString("[1]") + QChar(0) + "x", 10, "Garbage after JSON");
}

TEST(JsonParser, Numbers) {
    expectFirst("01", 2, "Leading 0 disallowed in number");
    expectFirst("-01", 2, "Leading 0 disallowed in number");
    expectFirst("+1", 2, "Leading + disallowed in number");
    expectFirst("-", 2, "No digits after initial minus");
    expectFirst("1.", 2, "No digits after decimal point");
    expectFirst("1e", 2, "No digits after exponent");
    expectFirst("1e+", 2, "No digits after exponent");
    expectFirst(".5", 3, "Unrecognised leading character");
    EXPECT_EQ(parseOk("-0").toDecimal(), DXDecimal(0));
    EXPECT_EQ(parseOk("0.5").toString(), "0.5");
    EXPECT_EQ(parseOk("1e5").toInt64(), 100000);
    EXPECT_EQ(parseOk("1E+5").toInt64(), 100000);
    EXPECT_EQ(parseOk("1.5e-3").toString(), "0.0015");
    EXPECT_EQ(parseOk("-12.50").toString(), "-12.5");
}

TEST(JsonParser, NumbersKeepTheirExactDecimalValue) {
    EXPECT_EQ(parseOk("0.1").toDecimal(), *DXDecimal::fromString("1e-1"));
    EXPECT_EQ(parseOk("0.1").toString(), "0.1");
    EXPECT_EQ(parseOk("9223372036854775807").toInt64(), Q_INT64_C(9223372036854775807));
    EXPECT_EQ(parseOk("-9223372036854775808").toInt64(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(parseOk("1234567890123456789").toString(), "1234567890123456789");
    EXPECT_EQ(parseOk("18446744073709551615").toUInt64(), Q_UINT64_C(18446744073709551615));
    // 38 significant digits are kept as written.
    EXPECT_EQ(parseOk("12345678901234567890123456789012345678").toString(),
              "12345678901234567890123456789012345678");
    EXPECT_EQ(parseOk("0.00000000000000000000000000000000000001").toDecimal(), *DXDecimal::fromString("1e-38"));
    // A value beyond 64 bits does not fit an integer conversion.
    EXPECT_EQ(parseOk("99999999999999999999").toInt64(-1), -1);
    // Huge exponents are refused rather than made up.
    expectFirst("1e99999999999", 2, "Failed creating decimal instance");
    EXPECT_TRUE(parseOk("0e99999999999").toDecimal().isZero());
}

TEST(JsonParser, StringsAndEscapes) {
    EXPECT_EQ(parseOk("\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\"").toString(), QString("a\"b\\c/d\b\f\n\r\t"));
    EXPECT_EQ(parseOk("\"\\u00e9\"").toString(), QString(QChar(0xe9)));
    EXPECT_EQ(parseOk("\"\\u00e9\"").toString().size(), 1);
    EXPECT_EQ(parseOk("\"\\ud83d\\ude00\"").toString(), QString::fromUtf8("\xf0\x9f\x98\x80"));
    EXPECT_EQ(parseOk("\"\\u0000\"").toString(), QString(QChar(0)));
    EXPECT_EQ(parseOk(QString::fromUtf8("\"caf\xc3\xa9 \xe2\x82\xac\"")).toString(), QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));
    const QString longText(5000, 'x');
    EXPECT_EQ(parseOk("\"" + longText + "\\n" + longText + "\"").toString(), longText + "\n" + longText);
}

// Strings are read many bytes at a time: whatever the place of the byte
// that ends a run (quote, escape, control byte) and of a non-ASCII byte
// before it, and however close the text's end, the result is the same.
TEST(JsonParser, StringRunsOfEveryLengthAndStopPlace) {
    DXJsonParser p;
    for (int n = 0; n <= 40; ++n) {
        SCOPED_TRACE(n);
        const QByteArray lead(n, 'a');
        const QString leadText(n, 'a');
        const QString e = QString::fromUtf8("\xc3\xa9");
        const struct {
            QByteArray string;  // quoted
            QString value;
        } rows[] = {
            {"\"" + lead + "\"", leadText},
            {"\"" + lead + "\\nbbbbb\"", leadText + "\nbbbbb"},
            {"\"" + lead + "\xc3\xa9\"", leadText + e},
            {"\"" + lead + "\xc3\xa9\\n\"", leadText + e + "\n"},
            {"\"\xc3\xa9" + lead + "\"", e + leadText},
        };
        for (const auto &row : rows) {
            SCOPED_TRACE(row.string.toStdString());
            EXPECT_EQ(p.fragmentWithData(row.string).toString(), row.value);
            EXPECT_EQ(p.objectWithData("[" + row.string + "]")[0].toString(), row.value);
            EXPECT_EQ(p.objectWithData("{" + row.string + ":1}")[row.value].toInt(), 1);
        }
        EXPECT_TRUE(p.fragmentWithData("\"" + lead + "\x01" + "bbbbbbbbbbbbbbbbbbbb\"").isUndefined());
        ASSERT_FALSE(p.errorTrace().isEmpty());
        EXPECT_EQ(p.errorTrace().first()->localizedDescription(), "Unescaped control character '0x1'");
    }
}

// Short texts with escapes are decoded on a path of their own; they read
// the same as long ones, up to and past that path's length.
TEST(JsonParser, ShortEscapedStrings) {
    const QString n30(30, 'n');
    const struct {
        QString json;
        QString value;
    } rows[] = {
        {"\"image\\/jpeg\"", "image/jpeg"},
        {"\"\\u0041b\\u007f\"", QString("Ab") + QChar(0x7f)},
        {"\"\\u0000\"", QString(QChar(0))},
        {"\"q\\\"\\\\\\b\\f\\n\\r\\t\"", "q\"\\\b\f\n\r\t"},
        {"\"\\u00e9\"", QString(QChar(0xe9))},
        {"\"" + n30 + "\\/\"", n30 + "/"},          // 31 decoded
        {"\"" + n30 + "\\/x\"", n30 + "/x"},        // 32 decoded
        {QString::fromUtf8("\"\xc3\xa9\\/\""), QString::fromUtf8("\xc3\xa9/")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.json.toStdString());
        EXPECT_EQ(parseOk(row.json).toString(), row.value);
        EXPECT_EQ(parseOk("{" + row.json + ":1}")[row.value].toInt(), 1);
    }
}

TEST(JsonParser, StringFailures) {
    expectFirst("\"a\tb\"", 5, "Unescaped control character '0x9'");
    expectFirst("\"abc", 5, "Unescaped control character '0x0'");
    expectFirst("\"\\q\"", 8, "Illegal escape sequence '0x71'");
    expectFirst("\"\\", 8, "Illegal escape sequence '0x0'");
    expectFirst(QString::fromUtf8("\"\\\xc3\xa9\""), 8, "Illegal escape sequence '0xffc3'");
    expectFirst("\"ab\\n", 11, "Unexpected EOF while parsing string");
}

TEST(JsonParser, UnicodeEscapeFailures) {
    auto check = [](const QString &text, std::vector<QString> texts) {
        auto trace = failOf(text);
        ASSERT_GE(trace.size(), texts.size()) << text.toStdString();
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(trace[i].code, 6) << text.toStdString();
            EXPECT_EQ(trace[i].text, texts[i]) << text.toStdString();
        }
        EXPECT_EQ(trace.size(), texts.size());
    };
    check("\"\\udc00\"", {"Invalid high character in surrogate pair", "Broken unicode character"});
    check("\"\\ud83dx\"", {"Missing low character in surrogate pair", "Broken unicode character"});
    check("\"\\ud83d\\u0041\"", {"Invalid low surrogate char", "Broken unicode character"});
    check("\"\\ud83d\\u00zz\"",
          {"Missing hex digit in quad", "Missing low character in surrogate pair", "Broken unicode character"});
    check("\"\\u12\"", {"Missing hex digit in quad", "Missing hex quad", "Broken unicode character"});
    check("\"\\u1", {"Missing hex digit in quad", "Missing hex quad", "Broken unicode character"});
}

TEST(JsonParser, InvalidUtf8BytesFail) {
    DXJsonParser p;
    for (const char *bad : {"[\"\xff\"]", "[\"\xc3\"]", "[\"\xed\xa0\x80\"]", "[\"\xc0\xaf\"]", "{\"\xe2\x82\":1}"}) {
        EXPECT_TRUE(p.objectWithData(QByteArray(bad)).isUndefined()) << bad;
        ASSERT_FALSE(p.errorTrace().isEmpty());
        EXPECT_EQ(p.errorTrace().first()->localizedDescription(), "Invalid UTF-8 in string");
    }
    EXPECT_EQ(p.objectWithData(QByteArray("[\"caf\xc3\xa9\"]"))[0].toString(), QString::fromUtf8("caf\xc3\xa9"));
}

TEST(JsonParser, DepthLimitAndTrace) {
    DXJsonParser p;
    EXPECT_TRUE(p.objectWithString(nested(512)).isArray());
    EXPECT_TRUE(p.objectWithString(nested(513)).isUndefined());
    auto trace = traceOf(p);
    ASSERT_EQ(trace.size(), 513u);
    EXPECT_EQ(trace[0].code, 7);
    EXPECT_EQ(trace[0].text, "Nested too deep");
    for (size_t i = 1; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].code, 3);
        EXPECT_EQ(trace[i].text, "Expected value while parsing array");
    }
    // Objects count too.
    QString objects;
    for (int i = 0; i < 513; ++i)
        objects += "{\"k\":";
    objects += "1" + QString(513, '}');
    EXPECT_TRUE(p.objectWithString(objects).isUndefined());
    EXPECT_EQ(p.errorTrace().first()->code(), 7);
    EXPECT_EQ(p.errorTrace().last()->localizedDescription(), "Object value expected for key: k");
}

TEST(JsonParser, NoLimitStillHasAHardCap) {
    DXJsonParser p;
    p.setMaxDepth(0);
    EXPECT_TRUE(p.objectWithString(nested(2000)).isArray());
    // Hostile nesting fails cleanly instead of exhausting the stack.
    const QString hostile = QString(1000000, '[');
    EXPECT_TRUE(p.objectWithString(hostile).isUndefined());
    EXPECT_EQ(p.errorTrace().first()->code(), 7);
    EXPECT_EQ(p.errorTrace().size(), qsizetype(DXJsonBase::hardDepthLimit) + 1);
    // A generous limit above the cap is capped too.
    p.setMaxDepth(1000000);
    EXPECT_TRUE(p.objectWithString(hostile).isUndefined());
}

TEST(JsonParser, DeepNestingOnAWorkerThread) {
    // Worker threads parse replies too; the cap keeps them within their stack.
#if defined(__SANITIZE_THREAD__)
    // Freeing the parsed value goes deeper than the thread sanitizer's
    // largest recorded stack (64Ki frames) in a debug build.
    GTEST_SKIP() << "too deep for the thread sanitizer";
#endif
    bool ok = false;
    std::thread worker([&] {
        DXJsonParser p;
        p.setMaxDepth(0);
        ok = p.objectWithString(nested(int(DXJsonBase::hardDepthLimit))).isArray();
        p.objectWithString(QString(100000, '['));
    });
    worker.join();
    EXPECT_TRUE(ok);
}

TEST(JsonParser, DuplicateKeyKeepsTheLastValue) {
    DXJsonValue v = parseOk("{\"a\":1,\"b\":0,\"a\":2}");
    EXPECT_EQ(v.size(), 2);
    EXPECT_EQ(v["a"].toInt(), 2);
    EXPECT_EQ(v.toObject().keys(), QStringList({"a", "b"}));
}

// The same key, however it is written, is one member: its later value
// replaces the earlier one in its place.
TEST(JsonParser, DuplicateKeySpelledDifferentlyIsOneMember) {
    const QString longKey(40, 'k');
    QString manyMembers = "{\"first\":1";
    for (int i = 0; i < 40; ++i)
        manyMembers += QStringLiteral(",\"m%1\":0").arg(i);
    manyMembers += ",\"first\":2}";
    const struct {
        const char *what;
        QString text;
        QString key;
        qsizetype members;
    } rows[] = {
        {"plain, then escaped", "{\"a\":1,\"b\":0,\"\\u0061\":2}", "a", 2},
        {"escaped, then plain", "{\"\\u0061\":1,\"b\":0,\"a\":2}", "a", 2},
        {"short, slash escaped then plain", "{\"a\\/b\":1,\"b\":0,\"a/b\":2}", "a/b", 2},
        {"ten bytes, plain then escaped", "{\"abcdefghij\":1,\"b\":0,\"abcdefgh\\u0069j\":2}", "abcdefghij", 2},
        {"longer than the shared short strings", "{\"" + longKey + "\":1,\"b\":0,\"" + longKey + "\":2}", longKey, 2},
        {"beyond ASCII, then escaped", QString::fromUtf8("{\"caf\u00e9\":1,\"b\":0,\"caf\\u00e9\":2}"),
         QString::fromUtf8("caf\u00e9"), 2},
        {"an escape inside, written two ways", "{\"a\\nb\":1,\"b\":0,\"a\\u000ab\":2}", "a\nb", 2},
        {"in an object of many members", manyMembers, "first", 41},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        DXJsonValue v = parseOk(row.text);
        EXPECT_EQ(v.size(), row.members);
        EXPECT_EQ(v[row.key].toInt(), 2);
        EXPECT_EQ(v.toObject().keys().first(), row.key);
    }
}

// Members of an inner object are not members of the outer one.
TEST(JsonParser, NestedObjectsKeepTheirOwnKeys) {
    DXJsonValue v = parseOk("{\"a\":{\"a\":1,\"b\":[{\"a\":3}]},\"b\":2}");
    EXPECT_EQ(v.toObject().keys(), QStringList({"a", "b"}));
    EXPECT_EQ(v["a"].toObject().keys(), QStringList({"a", "b"}));
    EXPECT_EQ(v["a"]["b"][0]["a"].toInt(), 3);
    EXPECT_EQ(v["b"].toInt(), 2);
}

TEST(JsonParser, ObjectKeepsMemberOrder) {
    DXJsonValue v = parseOk("{\"zeta\":1,\"alpha\":2,\"mid\":3}");
    EXPECT_EQ(v.toObject().keys(), QStringList({"zeta", "alpha", "mid"}));
}

TEST(JsonParser, TraceChainsUnderlyingErrors) {
    DXJsonParser p;
    EXPECT_TRUE(p.objectWithString("{\"a\":[1,]}").isUndefined());
    auto trace = traceOf(p);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].code, 9);
    EXPECT_EQ(trace[0].text, "Trailing comma disallowed in array");
    EXPECT_EQ(trace[1].code, 3);
    EXPECT_EQ(trace[1].text, "Object value expected for key: a");
    const VNErrorPtr last = p.errorTrace().last();
    EXPECT_EQ(last->domain(), "org.vostrelin.JSON.ErrorDomain");
    EXPECT_EQ(DXJsonError::underlyingErrorOf(last), p.errorTrace().first());
    EXPECT_FALSE(DXJsonError::underlyingErrorOf(p.errorTrace().first()));
}

TEST(JsonParser, ParserIsReusable) {
    DXJsonParser p;
    EXPECT_TRUE(p.objectWithString("[1,]").isUndefined());
    EXPECT_FALSE(p.errorTrace().isEmpty());
    EXPECT_TRUE(p.objectWithString("[1]").isArray());
    EXPECT_TRUE(p.errorTrace().isEmpty());
    EXPECT_EQ(p.depth(), 0u);
}

TEST(JsonParser, KeyStringFailureAddsKeyExpected) {
    auto trace = failOf("{\"a\tb\":1}");
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].code, 5);
    EXPECT_EQ(trace[1].text, "Object key string expected");
}

TEST(JsonExtensions, ValuesAndFragmentsOfText) {
    EXPECT_TRUE(JSONValue(QStringLiteral("[1,]")).isUndefined());
    EXPECT_TRUE(JSONValue(QStringLiteral("\"scalar\"")).isUndefined());
    EXPECT_EQ(JSONFragmentValue(QStringLiteral("\"scalar\"")).toString(), "scalar");
    EXPECT_TRUE(JSONFragmentValue(QStringLiteral("[")).isUndefined());
    EXPECT_EQ(JSONValue(QByteArray("{\"a\":[true]}"))["a"][0].toBool(), true);
}

TEST(JsonFacade, CopiesTraceAndGivesLastError) {
    DXJSON json;
    EXPECT_EQ(json.maxDepth(), 512u);
    VNErrorPtr e;
    EXPECT_TRUE(json.objectWithString("{\"a\":[1,]}", &e).isUndefined());
    ASSERT_TRUE(e);
    EXPECT_EQ(e->localizedDescription(), "Object value expected for key: a");
    EXPECT_EQ(json.errorTrace().size(), 2);
    EXPECT_TRUE(json.objectWithString("5", &e).isUndefined());
    EXPECT_EQ(e->code(), 4);
    EXPECT_EQ(json.fragmentWithString("5", &e).toInt(), 5);
    json.setMaxDepth(2);
    EXPECT_EQ(json.jsonParser().maxDepth(), 2u);
    EXPECT_EQ(json.jsonWriter().maxDepth(), 2u);
    EXPECT_TRUE(json.objectWithString("[[[1]]]").isUndefined());
    EXPECT_EQ(json.errorTrace().first()->code(), 7);
}
