// Measures the data-format layer beside established peers on the same input
// and prints, for each case, ours ÷ peer (below 1 means ours is faster) as
// the median of interleaved rounds, with each side's peak resident size.
//
//   formats_bench [json|xml|gzip|all] [--quick] [--rounds N]
//   formats_bench --inputs FOLDER     writes the JSON and XML inputs there
//   formats_bench --side NAME INPUT [OUTPUT]   runs one side once (what the
//                                     rounds run; handy under callgrind)
//
// Every side of every case runs in a fresh process (this program again, or
// the peer's command), so each peak memory is that process's own. The
// in-process sides time their work alone, from the same bytes on both sides:
//   JSON: parse and write of a 20 MB file listing, against nlohmann-json and
//     RapidJSON (the text is read from a file before the clock starts);
//   XML: a 30 MB WebDAV multistatus from its file (mapped) parsed, alone
//     and with the per-response XPath of a listing, against
//     `xmllint --noout` (its whole run, start-up included, a few ms); plain
//     xmlReadFile() timed inside a process is shown for scale;
//   gzip: 256 MiB file to file, against the gzip command (both ways).
// Scaling lines give our cost per MB at 3 MB and 30 MB.
#include "Formats/DXJsonParser.h"
#include "Formats/DXJsonWriter.h"
#include "Formats/NRDataCompressor.h"
#include "Formats/NRDataDecompressor.h"
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "support/BenchHarness.h"
#include "support/BenchListing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <libxml/parser.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

using VNBench::Sample;
using VNBench::Side;

bool quick = false;
int rounds = 5;

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Times work in this process, the median of n runs, in ms.
double medianMs(int n, const std::function<void()> &work) {
    QList<double> times;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.append(t.nsecsElapsed() / 1e6);
    }
    return VNBench::median(times);
}

Side self(const QString &name, const QStringList &args) {
    return {name, [args] { return VNBench::runSelf(args); }};
}

Side command(const QString &name, const VNBench::Command &c) {
    return {name, [c] { return VNBench::runCommand(c); }};
}

// ---- XML input and what a listing does with it --------------------------------

QByteArray makeMultistatus(qsizetype targetBytes) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\" "
                     "xmlns:ns0=\"urn:uuid:c2f41010-65b3-11d1-a29f-00aa00c14882/\">\n";
    int i = 0;
    while (out.size() < targetBytes) {
        const bool dir = i % 10 == 0;
        const QByteArray name = "file-" + QByteArray::number(i) + (i % 7 == 0 ? " caf\xc3\xa9" : "") + (dir ? "" : ".txt");
        out += "<D:response><D:href>/dav/folder/" + QByteArray(name).replace(' ', "%20") +
               "</D:href><D:propstat><D:prop>"
               "<D:creationdate ns0:dt=\"dateTime.tz\">2026-12-06T10:00:00Z</D:creationdate>"
               "<D:getlastmodified ns0:dt=\"dateTime.rfc1123\">Sun, 06 Dec 2026 10:00:00 GMT</D:getlastmodified>"
               "<D:displayname>" + name + "</D:displayname>";
        if (dir)
            out += "<D:resourcetype><D:collection/></D:resourcetype>";
        else
            out += "<D:getcontentlength>" + QByteArray::number(i * 37) +
                   "</D:getcontentlength><D:getcontenttype>text/plain</D:getcontenttype><D:resourcetype/>";
        out += "<D:getetag>\"" + QByteArray::number(i * 7919, 16) +
               "\"</D:getetag></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
        ++i;
    }
    out += "</D:multistatus>\n";
    return out;
}

// What the WebDAV listing does with a reply.
qsizetype readListing(const QByteArray &bytes) {
    XTDocumentPtr doc = XTDocument::initWithData(bytes);
    if (!doc)
        return -1;
    const XTNamespaceMappings dav{{QStringLiteral("D"), QStringLiteral("DAV:")}};
    qsizetype total = 0;
    for (const XTNodePtr &response : doc->nodesForXPath(QStringLiteral("//D:response"), dav)) {
        XTNodePtr href = response->nodeForXPath(QStringLiteral("D:href"), dav);
        XTNodePtr name = response->nodeForXPath(QStringLiteral("D:propstat/D:prop/D:displayname"), dav);
        XTNodePtr length = response->nodeForXPath(QStringLiteral("D:propstat/D:prop/D:getcontentlength"), dav);
        XTNodePtr modified = response->nodeForXPath(QStringLiteral("D:propstat/D:prop/D:getlastmodified"), dav);
        XTNodePtr collection = response->nodeForXPath(QStringLiteral("D:propstat/D:prop/D:resourcetype/D:collection"), dav);
        total += (href ? href->stringValue().size() : 0) + (name ? name->stringValue().size() : 0) +
                 (length ? length->stringValue().toLongLong() : 0) + (modified ? 1 : 0) + (collection ? 1 : 0);
    }
    return total;
}

// ---- one side of one case, in a process of its own ---------------------------

// formats_bench --side NAME INPUT [OUTPUT]: runs that side once and reports
// its time to the parent.
int runSide(const QString &name, const QString &input, const QString &output) {
    QElapsedTimer t;
    if (name.startsWith(QLatin1String("json-"))) {
        const QByteArray text = readFile(input);
        const bool write = name.startsWith(QLatin1String("json-write-"));
        if (name.endsWith(QLatin1String("-ours"))) {
            DXJsonParser parser;
            t.start();
            DXJsonValue value = parser.objectWithData(text);
            if (!write)
                return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, value.isObject());
            DXJsonWriter writer;
            t.start();
            const QByteArray written = writer.dataWithObject(value);
            return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, !written.isEmpty());
        }
        if (name.endsWith(QLatin1String("-nlohmann"))) {
            t.start();
            nlohmann::json value = nlohmann::json::parse(text.constData(), text.constData() + text.size());
            if (!write)
                return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, value.is_object());
            t.start();
            const std::string written = value.dump();
            return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, !written.empty());
        }
        if (name.endsWith(QLatin1String("-rapidjson"))) {
            rapidjson::Document value;
            t.start();
            value.Parse(text.constData(), size_t(text.size()));
            if (!write)
                return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, value.IsObject());
            t.start();
            rapidjson::StringBuffer buffer;
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            value.Accept(writer);
            const std::string written(buffer.GetString(), buffer.GetSize());
            return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, !written.empty());
        }
    } else if (name == QLatin1String("xml-parse-ours") || name == QLatin1String("xml-xpath-ours")) {
        // The file's bytes as they stand in the page cache, mapped rather
        // than copied (xmllint reads its file in small pieces).
        t.start();
        QFile file(input);
        const uchar *mapped = file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
        const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), mapped ? file.size() : 0);
        const bool ok = name.endsWith(QLatin1String("parse-ours")) ? XTDocument::initWithData(bytes) != nullptr
                                                                   : readListing(bytes) > 0;
        return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, ok);
    } else if (name == QLatin1String("xml-parse-libxml2")) {
        t.start();
        xmlDocPtr doc = xmlReadFile(QFile::encodeName(input).constData(), nullptr, 0);
        const bool ok = doc != nullptr;
        xmlFreeDoc(doc);
        return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, ok);
    } else if (name == QLatin1String("gzip-deflate-ours") || name == QLatin1String("gzip-inflate-ours")) {
        VNErrorPtr e;
        t.start();
        const bool ok = name.contains(QLatin1String("deflate")) ? NRDataCompressor::compressDataFromFile(input, output, &e)
                                                                 : NRDataDecompressor::uncompressDataFromFile(input, output, &e);
        if (e)
            std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(e->localizedDescription()));
        return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, ok && !e);
    }
    std::fprintf(stderr, "unknown side %s\n", qPrintable(name));
    return 2;
}

// ---- JSON -----------------------------------------------------------------

void benchJson(const QString &dir) {
    const QByteArray text = makeListing(20 * 1024 * 1024);
    const QString path = dir + QStringLiteral("/listing.json");
    writeFile(path, text);
    std::printf("JSON: %.1f MB file listing, %d rounds\n", text.size() / 1048576.0, rounds);
    for (const char *what : {"parse", "write"}) {
        const QString prefix = QStringLiteral("json-%1-").arg(QLatin1String(what));
        const auto s = VNBench::interleave(rounds, {self(QStringLiteral("ours"), {"--side", prefix + "ours", path}),
                                                    self(QStringLiteral("nlohmann"), {"--side", prefix + "nlohmann", path}),
                                                    self(QStringLiteral("RapidJSON"), {"--side", prefix + "rapidjson", path})});
        VNBench::printComparison(qPrintable(QStringLiteral("%1 vs nlohmann-json").arg(QLatin1String(what))),
                                 QStringLiteral("ours"), s[0], QStringLiteral("nlohmann"), s[1]);
        VNBench::printComparison(qPrintable(QStringLiteral("%1 vs RapidJSON").arg(QLatin1String(what))),
                                 QStringLiteral("ours"), s[0], QStringLiteral("RapidJSON"), s[2]);
    }

    // Scaling: cost per MB at 3 MB and at 30 MB.
    DXJsonParser parser;
    DXJsonWriter writer;
    const QByteArray small = makeListing(3 * 1024 * 1024), large = makeListing(30 * 1024 * 1024);
    const int n = quick ? 1 : 3;
    const double tSmall = medianMs(n, [&] { parser.objectWithData(small); });
    const double tLarge = medianMs(n, [&] { parser.objectWithData(large); });
    std::printf("  parse scaling: %.2f ms/MB at 3 MB, %.2f ms/MB at 30 MB (ratio %.2f)\n",
                tSmall / (small.size() / 1048576.0), tLarge / (large.size() / 1048576.0),
                (tLarge / large.size()) / (tSmall / small.size()));
    const DXJsonValue vs = parser.objectWithData(small), vl = parser.objectWithData(large);
    const double wSmall = medianMs(n, [&] { writer.dataWithObject(vs); });
    const double wLarge = medianMs(n, [&] { writer.dataWithObject(vl); });
    std::printf("  write scaling: %.2f ms/MB at 3 MB, %.2f ms/MB at 30 MB (ratio %.2f)\n",
                wSmall / (small.size() / 1048576.0), wLarge / (large.size() / 1048576.0),
                (wLarge / large.size()) / (wSmall / small.size()));
}

// ---- XML ------------------------------------------------------------------

void benchXml(const QString &dir) {
    const QByteArray text = makeMultistatus(30 * 1024 * 1024);
    const QString path = dir + QStringLiteral("/multistatus.xml");
    writeFile(path, text);
    std::printf("XML: %.1f MB WebDAV multistatus, %d rounds\n", text.size() / 1048576.0, rounds);
    const auto s = VNBench::interleave(
        rounds, {command(QStringLiteral("xmllint"), {QStringLiteral("xmllint"), {QStringLiteral("--noout"), path}, {}, {}}),
                 self(QStringLiteral("ours"), {"--side", "xml-parse-ours", path}),
                 self(QStringLiteral("ours"), {"--side", "xml-xpath-ours", path}),
                 self(QStringLiteral("xmlReadFile"), {"--side", "xml-parse-libxml2", path})});
    VNBench::printComparison("parse vs xmllint --noout", QStringLiteral("ours"), s[1], QStringLiteral("xmllint"), s[0]);
    VNBench::printComparison("parse + per-response XPath vs xmllint", QStringLiteral("ours"), s[2],
                             QStringLiteral("xmllint"), s[0]);
    VNBench::printComparison("parse vs plain xmlReadFile()", QStringLiteral("ours"), s[1], QStringLiteral("xmlReadFile"),
                             s[3]);

    const QByteArray small = makeMultistatus(3 * 1024 * 1024);
    const int n = quick ? 1 : 3;
    const double tSmall = medianMs(n, [&] { readListing(small); });
    const double tLarge = medianMs(n, [&] { readListing(text); });
    std::printf("  parse+XPath scaling: %.2f ms/MB at 3 MB, %.2f ms/MB at 30 MB (ratio %.2f)\n",
                tSmall / (small.size() / 1048576.0), tLarge / (text.size() / 1048576.0),
                (tLarge / text.size()) / (tSmall / small.size()));
}

// ---- gzip -----------------------------------------------------------------

void benchGzip(const QString &dir) {
    const qint64 total = quick ? 32LL * 1024 * 1024 : 256LL * 1024 * 1024;
    const QString plain = dir + QStringLiteral("/plain.bin"), ours = dir + QStringLiteral("/ours.gz"),
                  theirs = dir + QStringLiteral("/theirs.gz"), back = dir + QStringLiteral("/back.bin");
    {
        // Log-like text with random fields: compresses about 4:1, like replies and documents.
        QFile f(plain);
        f.open(QIODevice::WriteOnly);
        QRandomGenerator rng(7);
        QByteArray block;
        while (f.size() + block.size() < total) {
            block.clear();
            for (int i = 0; i < 2000; ++i)
                block += "2026-12-06T10:" + QByteArray::number(rng.bounded(60)) + " GET /dav/folder/" +
                         QByteArray::number(rng.generate(), 36) + ".txt 200 " + QByteArray::number(rng.bounded(100000)) +
                         " \"" + QByteArray::number(rng.generate64(), 16) + "\"\n";
            f.write(block.left(total - f.size()));
        }
        f.resize(total);
    }
    // Big files: fewer rounds unless asked, still interleaved.
    const int gzipRounds = std::min(rounds, 3);
    std::printf("gzip: %lld MiB file to file, %d rounds\n", total / 1048576, gzipRounds);
    const auto deflate = VNBench::interleave(
        gzipRounds, {self(QStringLiteral("ours"), {"--side", "gzip-deflate-ours", plain, ours}),
                     command(QStringLiteral("gzip"), {QStringLiteral("gzip"), {QStringLiteral("-c"), plain}, {}, theirs})});
    const auto inflate = VNBench::interleave(
        gzipRounds, {self(QStringLiteral("ours"), {"--side", "gzip-inflate-ours", theirs, back}),
                     command(QStringLiteral("gzip -d"), {QStringLiteral("gzip"), {QStringLiteral("-dc"), ours}, {}, back + ".2"})});
    VNBench::printComparison("deflate vs gzip", QStringLiteral("ours"), deflate[0], QStringLiteral("gzip"), deflate[1]);
    VNBench::printComparison("inflate vs gzip -d", QStringLiteral("ours"), inflate[0], QStringLiteral("gzip -d"), inflate[1]);
    std::printf("  sizes: ours %lld bytes, gzip %lld bytes\n", QFileInfo(ours).size(), QFileInfo(theirs).size());
    QFile::remove(plain);
    QFile::remove(back);
    QFile::remove(back + ".2");
}

}  // namespace

int main(int argc, char **argv) {
    // A side run by the parent: no application object, nothing else loaded.
    if (argc >= 4 && std::strcmp(argv[1], "--side") == 0)
        return runSide(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                       argc >= 5 ? QString::fromLocal8Bit(argv[4]) : QString());

    if (argc == 3 && std::strcmp(argv[1], "--inputs") == 0) {
        const QString dir = QString::fromLocal8Bit(argv[2]);
        return writeFile(dir + QStringLiteral("/listing.json"), makeListing(20 * 1024 * 1024)) &&
                       writeFile(dir + QStringLiteral("/multistatus.xml"), makeMultistatus(30 * 1024 * 1024))
                   ? 0
                   : 1;
    }

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    quick = args.contains(QStringLiteral("--quick"));
    rounds = VNBench::roundsFrom(args, quick ? 1 : 5);
    const QString what = VNBench::caseFrom(args, QStringLiteral("all"));
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/formats-bench-XXXXXX"));
    if (what == QLatin1String("all") || what == QLatin1String("json"))
        benchJson(dir.path());
    if (what == QLatin1String("all") || what == QLatin1String("xml"))
        benchXml(dir.path());
    if (what == QLatin1String("all") || what == QLatin1String("gzip"))
        benchGzip(dir.path());
    return 0;
}
