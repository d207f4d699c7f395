#include "DA/JSON/DAJsonParser.h"
#include "DA/JSON/DAJsonWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

struct Traced {
    qint64 code;
    QString text;
};

std::vector<Traced> traceOf(const QString &text) {
    DAJsonParser p;
    VNErrorPtr error;
    EXPECT_TRUE(p.objectWithString(text, &error).isUndefined()) << text.toStdString();
    std::vector<Traced> out;
    for (const VNErrorPtr &e : p.errorTrace())
        out.push_back({e->code(), e->localizedDescription()});
    EXPECT_TRUE(error && !out.empty() && error->code() == out.back().code);
    return out;
}

DXJsonValue parse(const QString &text) {
    DAJsonParser p;
    DXJsonValue v = p.objectWithString(text);
    EXPECT_FALSE(v.isUndefined()) << text.toStdString() << p.errorTraceDescription().toStdString();
    return v;
}

}  // namespace

// The scanner is the DX codec's, whose texts, codes and depth limit are
// tested with it; this client reads a text that ends inside a string its own
// way, and hands back the outermost error.
TEST(DAJson, ParserCases) {
    EXPECT_EQ(parse("[1,2]"), parse("[1 2]"));
    EXPECT_EQ(parse("[9223372036854775807]")[0].toInt64(), Q_INT64_C(9223372036854775807));
    struct { const char *text; qint64 code; const char *message; } firsts[] = {
        {"[1,]", 9, "Trailing comma disallowed in array"},
        {"7", 4, "Valid fragment, but not JSON"},
        {"[\"abc", 11, "Unexpected EOF while parsing string"},
        {"[\"abc\\", 11, "Unexpected EOF while parsing string"},
    };
    for (const auto &f : firsts) {
        auto trace = traceOf(QString::fromUtf8(f.text));
        ASSERT_FALSE(trace.empty()) << f.text;
        EXPECT_EQ(trace.front().code, f.code) << f.text;
        EXPECT_EQ(trace.front().text, f.message) << f.text;
    }
    DAJsonParser p;
    EXPECT_TRUE(p.objectWithString(QString()).isUndefined());
    EXPECT_EQ(p.errorTrace().last()->code(), 12);
}

TEST(DAJson, Writer) {
    DAJsonWriter w;
    w.setHumanReadable(true);
    w.setSortKeys(true);
    DXJsonObject o{{"b", 1}, {"a", DXJsonArray{true, nullptr}}, {"c", DXJsonObject()}};
    EXPECT_EQ(w.stringWithObject(o), "{\n  \"a\" : [\n    true,\n    null\n  ],\n  \"b\" : 1,\n  \"c\" : {}\n}");
    DAJsonWriter compact;
    EXPECT_EQ(compact.stringWithObject(DXJsonArray{"a\nb/c\"\x01"}), "[\"a\\nb/c\\\"\\u0001\"]");
    VNErrorPtr error;
    EXPECT_TRUE(compact.stringWithObject(DXJsonValue("x"), &error).isNull());
    EXPECT_EQ(error->code(), 4);
    EXPECT_TRUE(compact.stringWithObject(DXJsonArray{DXJsonValue(qInf())}).isNull());
    EXPECT_EQ(compact.errorTrace().first()->code(), 1);
}

// A dictionary or an array that cannot be written ends its trace with code 4
// "Not valid type for JSON", the error handed back; the trace starts with
// the reason, with the key it was found under between them.
TEST(DAJson, AFailedWriteEndsAsNotValidTypeAndStartsWithItsReason) {
    struct Row {
        const char *name;
        DXJsonValue value;
        quint64 maxDepth;
        QStringList trace;  // the whole error trace, first to last; empty: written
    } rows[] = {
        {"finite numbers", DXJsonArray{1.5, 2}, 512, {}},
        {"NaN in an array", DXJsonArray{1, qQNaN()}, 512, {"NaN is not a valid number in JSON", "Not valid type for JSON"}},
        {"infinity in an array", DXJsonArray{-qInf()}, 512, {"Infinity is not a valid number in JSON", "Not valid type for JSON"}},
        {"NaN under a key", DXJsonObject{{"k", qQNaN()}}, 512,
         {"NaN is not a valid number in JSON", "Unsupported value for key k in object", "Not valid type for JSON"}},
        {"nested too deep", DXJsonArray{DXJsonArray{1}}, 1, {"Nested too deep", "Not valid type for JSON"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DAJsonWriter w;
        w.setMaxDepth(row.maxDepth);
        // A trace left by an earlier call is not carried over.
        w.stringWithObject(DXJsonValue("x"));
        VNErrorPtr error;
        const QString text = w.stringWithObject(row.value, &error);
        if (row.trace.isEmpty()) {
            EXPECT_FALSE(text.isNull());
            EXPECT_TRUE(w.errorTrace().isEmpty());
            continue;
        }
        EXPECT_TRUE(text.isNull());
        QStringList trace;
        for (const VNErrorPtr &e : w.errorTrace())
            trace << e->localizedDescription();
        EXPECT_EQ(trace.join(QStringLiteral(" / ")).toStdString(), row.trace.join(QStringLiteral(" / ")).toStdString());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 4);
        EXPECT_EQ(error->localizedDescription(), QStringLiteral("Not valid type for JSON"));
        EXPECT_EQ(error, w.errorTrace().last());
    }
}

// The parser against Python's json module over a corpus: both must agree on
// what is valid, and what we write back must load in Python to the value
// Python read from the original.
TEST(DAJson, AgreesWithPythonJson) {
    QStringList corpus = {
        "{}", "[]", "[1,2,3]", "{\"a\":{\"b\":[null,true,false]}}", "[\"\\u00e9\\n\\t\\\\\\\"/\"]",
        "[1e400]", "[-0.0]", "[0.1, 1E+2, 1e-2, -3]", "[12345678901234567890123]", "{\"a\":1,\"a\":2}",
        "[\"\\ud83d\\ude00\"]", "[\"caf\xc3\xa9\"]", "[01]", "[1,]", "[\"\\x\"]", "[NaN]", "[Infinity]",
        "[\"a\tb\"]", "{\"a\" 1}", "[1] x", " [true] ", "[\"\\u0000\"]", "[.5]", "[1.]", "{'a':1}",
    };
    QRandomGenerator rng(7);
    std::function<QString(int)> gen = [&](int depth) -> QString {
        switch (rng.bounded(depth > 4 ? 5 : 7)) {
        case 0: return QString::number(qint64(rng.generate64() >> rng.bounded(64)) * (rng.bounded(2) ? 1 : -1));
        case 1: return QString::number(rng.generateDouble() * 1e6, 'g', 12);
        case 2: return rng.bounded(2) ? "true" : "null";
        case 3: {
            QString s = "\"";
            for (int i = rng.bounded(8); i > 0; --i) {
                const char *pieces[] = {"a", "\\n", "\\u00e9", "\xc3\xa9", " ", "\\\"", "\\/", "\\ud83d\\ude00", "\xe2\x82\xac"};
                s += QString::fromUtf8(pieces[rng.bounded(9)]);
            }
            return s + "\"";
        }
        case 4: return "\"k\"";
        case 5: {
            QStringList items;
            for (int i = rng.bounded(5); i > 0; --i)
                items << gen(depth + 1);
            return "[" + items.join(",") + "]";
        }
        default: {
            QStringList items;
            for (int i = rng.bounded(5); i > 0; --i)
                items << gen(3 + depth) + ":" + gen(depth + 1);
            // Keys must be strings: replace the generated key by a string.
            for (QString &item : items)
                item = "\"k" + QString::number(rng.bounded(100)) + "\"" + item.mid(item.lastIndexOf(':'));
            return "{" + items.join(",") + "}";
        }
        }
    };
    for (int i = 0; i < 300; ++i)
        corpus << "[" + gen(0) + "]";

    auto dir = VNTest::makeTempDir();
    DAJsonParser parser;
    DAJsonWriter writer;
    for (int i = 0; i < corpus.size(); ++i) {
        VNTest::writeFile(dir->filePath(QString::number(i) + ".in"), corpus[i].toUtf8());
        DXJsonValue v = parser.objectWithString(corpus[i]);
        if (!v.isUndefined())
            VNTest::writeFile(dir->filePath(QString::number(i) + ".out"), writer.stringWithObject(v).toUtf8());
    }
    const char *script = R"(
import json, os, sys
d = sys.argv[1]; n = int(sys.argv[2]); bad = []
def reject(c): raise ValueError(c)
for i in range(n):
    text = open(os.path.join(d, '%d.in' % i), 'rb').read().decode('utf-8')
    out = os.path.join(d, '%d.out' % i)
    try:
        theirs = json.loads(text, parse_constant=reject)
        ok = isinstance(theirs, (list, dict))
    except ValueError:
        ok = False
    if ok != os.path.exists(out):
        bad.append('validity %d: %r' % (i, text))
    elif ok and json.loads(open(out, 'rb').read().decode('utf-8')) != theirs:
        bad.append('value %d: %r' % (i, text))
print('\n'.join(bad))
)";
    QProcess python;
    python.start("python3", {"-c", script, dir->path(), QString::number(corpus.size())});
    ASSERT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), "");
}
