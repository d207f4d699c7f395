// Measures the data-format layer beside established peers on the same input
// and prints the time ratios (ours / theirs; below 1 means faster).
//
//   formats_bench [json|xml|gzip|all] [--quick]
//
// JSON: parse and write of a 20 MB file listing, against nlohmann-json and
// RapidJSON. XML: parse plus per-response XPath of a 30 MB WebDAV multistatus,
// against `xmllint --noout`. gzip: 256 MiB file to file, against the gzip
// command (both ways). Scaling: the same work at 3 MB and 30 MB.
#include "Formats/DXJsonParser.h"
#include "Formats/DXJsonWriter.h"
#include "Formats/NRDataCompressor.h"
#include "Formats/NRDataDecompressor.h"
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "support/BenchListing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

bool quick = false;

double bestOf(int runs, const std::function<void()> &work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

double runCommand(const QString &shellCommand) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), shellCommand});
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        std::fprintf(stderr, "command failed: %s\n%s\n", qPrintable(shellCommand), p.readAllStandardError().constData());
    return t.nsecsElapsed() / 1e6;
}

void row(const char *what, double ours, double theirs, const char *peer) {
    std::printf("  %-44s ours %9.1f ms   %-14s %9.1f ms   ratio %.2f\n", what, ours, peer, theirs, ours / theirs);
}

// ---- JSON -----------------------------------------------------------------

void benchJson() {
    const qsizetype size = 20 * 1024 * 1024;
    const QByteArray text = makeListing(size);
    const int runs = quick ? 1 : 5;
    std::printf("JSON: %.1f MB file listing\n", text.size() / 1048576.0);

    DXJsonParser parser;
    DXJsonValue ours;
    const double ourParse = bestOf(runs, [&] { ours = parser.objectWithData(text); });
    if (!ours.isObject()) {
        std::printf("  our parse failed: %s\n", qPrintable(parser.errorTraceDescription()));
        return;
    }
    nlohmann::json theirs;
    const double nlParse = bestOf(runs, [&] { theirs = nlohmann::json::parse(text.constData(), text.constData() + text.size()); });
    rapidjson::Document rj;
    const double rjParse = bestOf(runs, [&] {
        rj.SetNull();
        rj.GetAllocator().Clear();
        rj.Parse(text.constData(), size_t(text.size()));
    });

    DXJsonWriter writer;
    QByteArray ourText;
    const double ourWrite = bestOf(runs, [&] { ourText = writer.dataWithObject(ours); });
    std::string nlText;
    const double nlWrite = bestOf(runs, [&] { nlText = theirs.dump(); });
    std::string rjText;
    const double rjWrite = bestOf(runs, [&] {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        rj.Accept(w);
        rjText.assign(buffer.GetString(), buffer.GetSize());
    });

    row("parse vs nlohmann-json", ourParse, nlParse, "nlohmann");
    row("parse vs RapidJSON", ourParse, rjParse, "RapidJSON");
    row("write vs nlohmann-json", ourWrite, nlWrite, "nlohmann");
    row("write vs RapidJSON", ourWrite, rjWrite, "RapidJSON");

    // Scaling: cost per MB at 3 MB and at 30 MB.
    const QByteArray small = makeListing(3 * 1024 * 1024), large = makeListing(30 * 1024 * 1024);
    const double tSmall = bestOf(runs, [&] { parser.objectWithData(small); });
    const double tLarge = bestOf(quick ? 1 : 3, [&] { parser.objectWithData(large); });
    std::printf("  parse scaling: %.2f ms/MB at 3 MB, %.2f ms/MB at 30 MB (ratio %.2f)\n",
                tSmall / (small.size() / 1048576.0), tLarge / (large.size() / 1048576.0),
                (tLarge / large.size()) / (tSmall / small.size()));
    DXJsonValue vs = parser.objectWithData(small), vl = parser.objectWithData(large);
    const double wSmall = bestOf(runs, [&] { writer.dataWithObject(vs); });
    const double wLarge = bestOf(quick ? 1 : 3, [&] { writer.dataWithObject(vl); });
    std::printf("  write scaling: %.2f ms/MB at 3 MB, %.2f ms/MB at 30 MB (ratio %.2f)\n",
                wSmall / (small.size() / 1048576.0), wLarge / (large.size() / 1048576.0),
                (wLarge / large.size()) / (wSmall / small.size()));
}

// ---- XML ------------------------------------------------------------------

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

void benchXml(const QString &dir) {
    const int runs = quick ? 1 : 3;
    const QByteArray text = makeMultistatus(30 * 1024 * 1024);
    const QString path = dir + QStringLiteral("/multistatus.xml");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    f.close();
    std::printf("XML: %.1f MB WebDAV multistatus\n", text.size() / 1048576.0);

    // Ours and xmllint take turns, so that a busy machine weighs on both alike.
    double parseOnly = 1e300, withXPath = 1e300, lint = 1e300;
    for (int i = 0; i < runs + 2; ++i) {
        parseOnly = std::min(parseOnly, bestOf(1, [&] {
            QFile in(path);
            in.open(QIODevice::ReadOnly);
            XTDocument::initWithData(in.readAll());
        }));
        lint = std::min(lint, runCommand(QStringLiteral("xmllint --noout '%1'").arg(path)));
        withXPath = std::min(withXPath, bestOf(1, [&] {
            QFile in(path);
            in.open(QIODevice::ReadOnly);
            readListing(in.readAll());
        }));
    }
    row("parse vs xmllint --noout", parseOnly, lint, "xmllint");
    row("parse + per-response XPath vs xmllint", withXPath, lint, "xmllint");

    const QByteArray small = makeMultistatus(3 * 1024 * 1024);
    const double tSmall = bestOf(runs, [&] { readListing(small); });
    const double tLarge = bestOf(runs, [&] { readListing(text); });
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
    std::printf("gzip: %lld MiB file to file\n", total / 1048576);
    VNErrorPtr e;
    const double ourDeflate = bestOf(1, [&] { NRDataCompressor::compressDataFromFile(plain, ours, &e); });
    const double gzipDeflate = runCommand(QStringLiteral("gzip -c '%1' > '%2'").arg(plain, theirs));
    const double ourInflate = bestOf(1, [&] { NRDataDecompressor::uncompressDataFromFile(theirs, back, &e); });
    const double gzipInflate = runCommand(QStringLiteral("gzip -dc '%1' > '%2'").arg(ours, back + ".2"));
    row("deflate vs gzip", ourDeflate, gzipDeflate, "gzip");
    row("inflate vs gzip -d", ourInflate, gzipInflate, "gzip -d");
    std::printf("  sizes: ours %lld bytes, gzip %lld bytes\n", QFileInfo(ours).size(), QFileInfo(theirs).size());
    if (e)
        std::printf("  error: %s\n", qPrintable(e->localizedDescription()));
    QFile::remove(plain);
    QFile::remove(back);
    QFile::remove(back + ".2");
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QString what = QStringLiteral("all");
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--quick"))
            quick = true;
        else
            what = a;
    }
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/formats-bench-XXXXXX"));
    if (what == QLatin1String("all") || what == QLatin1String("json"))
        benchJson();
    if (what == QLatin1String("all") || what == QLatin1String("xml"))
        benchXml(dir.path());
    if (what == QLatin1String("all") || what == QLatin1String("gzip"))
        benchGzip(dir.path());
    return 0;
}
