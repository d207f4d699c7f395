// Measures the data-API client and prints ours ÷ peer (below 1 means ours
// is faster) as the median of interleaved rounds, with each side's peak
// resident size.
//
//   da_bench [json|feed|all] [--quick] [--rounds N]
//
// JSON: parse and write of the 20 MB file listing of the formats benchmark,
// against nlohmann-json. Both sides start from the same UTF-8 bytes and end
// with UTF-8 bytes: ours through its text interface, so the conversions to
// and from text are timed with it. Each side runs in a fresh process (this
// program again), so each peak is that side's own.
// Feed: parse (bytes to objects) and write (objects to bytes) of photo-album
// feeds of 1,000 and 10,000 entries (photo classes: every value parsed into
// objects), and how the time grows between them (no peer: medians only).
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/JSON/DAJsonParser.h"
#include "DA/JSON/DAJsonWriter.h"
#include "support/BenchHarness.h"
#include "support/BenchListing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

namespace {

bool quick = false;
int rounds = 5;

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

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// da_bench --side NAME INPUT: one side once, its time reported to the parent.
int runSide(const QString &name, const QString &input) {
    const QByteArray bytes = readFile(input);
    QElapsedTimer t;
    if (name == QLatin1String("parse-ours") || name == QLatin1String("write-ours")) {
        DAJsonParser parser;
        t.start();
        const DXJsonValue value = parser.objectWithString(QString::fromUtf8(bytes));
        if (name == QLatin1String("parse-ours"))
            return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, value.isObject());
        DAJsonWriter writer;
        t.start();
        const QByteArray written = writer.stringWithObject(value).toUtf8();
        return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, !written.isEmpty());
    }
    if (name == QLatin1String("parse-nlohmann") || name == QLatin1String("write-nlohmann")) {
        t.start();
        const nlohmann::json value = nlohmann::json::parse(bytes.constData(), bytes.constData() + bytes.size());
        if (name == QLatin1String("parse-nlohmann"))
            return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, value.is_object());
        t.start();
        const std::string written = value.dump();
        return VNBench::reportChildSample(t.nsecsElapsed() / 1e9, !written.empty());
    }
    std::fprintf(stderr, "unknown side %s\n", qPrintable(name));
    return 2;
}

void benchJson(const QString &dir) {
    const QByteArray bytes = makeListing(20 * 1024 * 1024);
    const QString path = dir + QStringLiteral("/listing.json");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return;
    f.close();
    std::printf("JSON: %.1f MB file listing, %d rounds\n", bytes.size() / 1048576.0, rounds);
    for (const char *what : {"parse", "write"}) {
        const QString ours = QStringLiteral("%1-ours").arg(QLatin1String(what));
        const QString theirs = QStringLiteral("%1-nlohmann").arg(QLatin1String(what));
        const auto s = VNBench::interleave(rounds, {{QStringLiteral("ours"), [&] { return VNBench::runSelf({"--side", ours, path}); }},
                                                    {QStringLiteral("nlohmann"), [&] { return VNBench::runSelf({"--side", theirs, path}); }}});
        VNBench::printComparison(qPrintable(QStringLiteral("%1 vs nlohmann-json").arg(QLatin1String(what))),
                                 QStringLiteral("ours"), s[0], QStringLiteral("nlohmann"), s[1]);
    }
}

// A photo-album feed of that many photo entries, as the service sends it.
QByteArray makeFeed(int entries) {
    QByteArray out = R"(<?xml version='1.0' encoding='UTF-8'?>
<feed xmlns='http://www.w3.org/2005/Atom' xmlns:openSearch='http://a9.com/-/&#115;pec/opensearch/1.1/' xmlns:exif='http://schemas.google.com/photos/exif/2007' xmlns:gphoto='http://schemas.google.com/photos/2007' xmlns:media='http://search.yahoo.com/mrss/' xmlns:gd='http://schemas.google.com/g/2005' gd:etag='W/"feed"'>
<id>https://example.test/data/feed/user/1/albumid/2</id><updated>2013-05-01T10:00:00.000Z</updated>
<category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#album'/>
<title>Holiday</title><openSearch:totalResults>)" + QByteArray::number(entries) + R"(</openSearch:totalResults>
<gphoto:id>2</gphoto:id><gphoto:numphotos>)" + QByteArray::number(entries) + "</gphoto:numphotos>\n";
    for (int i = 0; i < entries; ++i) {
        const QByteArray n = QByteArray::number(i);
        out += R"(<entry gd:etag='"e)" + n + R"("'><id>https://example.test/photoid/)" + n +
               R"(</id><published>2013-04-30T08:00:00.000Z</published><updated>2013-04-30T08:00:00.000Z</updated>
<category scheme='http://schemas.google.com/g/2005#kind' term='http://schemas.google.com/photos/2007#photo'/>
<title>IMG_)" + n + R"(.jpg</title><summary></summary><content type='image/jpeg' src='https://example.test/)" + n +
               R"(.jpg'/><link rel='http://schemas.google.com/g/2005#feed' type='application/atom+xml' href='https://example.test/feed/)" + n +
               R"('/><link rel='self' type='application/atom+xml' href='https://example.test/entry/)" + n +
               R"('/><gphoto:id>)" + n + R"(</gphoto:id><gphoto:width>4000</gphoto:width><gphoto:height>3000</gphoto:height><gphoto:size>2345678</gphoto:size>
<exif:tags><exif:make>Camera</exif:make><exif:model>X</exif:model><exif:iso>100</exif:iso></exif:tags>
<media:group><media:content url='https://example.test/)" + n + R"(.jpg' height='3000' width='4000' type='image/jpeg' medium='image'/>
<media:thumbnail url='https://example.test/s72/)" + n + R"(.jpg' height='54' width='72'/><media:title type='plain'>IMG_)" + n +
               R"(.jpg</media:title></media:group></entry>
)";
    }
    return out + "</feed>\n";
}

void benchFeed() {
    std::printf("Feed: parse (bytes to objects) and write (objects to bytes), medians\n");
    double perEntry[2][2] = {};
    const int sizes[2] = {1000, 10000};
    for (int k = 0; k < 2; ++k) {
        const QByteArray bytes = makeFeed(sizes[k]);
        const int runs = quick ? 1 : 5;
        DAFeedBasePtr feed = DAFeedBase::feedOfRegisteredClassWithXMLData(bytes);
        if (!feed || feed->entries().size() != sizes[k]) {
            std::printf("  parse failed\n");
            return;
        }
        const double parse = medianMs(runs, [&] { feed = DAFeedBase::feedOfRegisteredClassWithXMLData(bytes); });
        QByteArray out;
        const double write = medianMs(runs, [&] { out = feed->XMLDocument()->XMLData(); });
        std::printf("  %6d entries (%5.1f MB): parse %8.1f ms, write %8.1f ms\n", sizes[k], bytes.size() / 1048576.0, parse, write);
        perEntry[k][0] = parse / sizes[k];
        perEntry[k][1] = write / sizes[k];
    }
    std::printf("  growth 1,000 -> 10,000 entries: parse x%.2f, write x%.2f (10.0 is linear)\n",
                10 * perEntry[1][0] / perEntry[0][0], 10 * perEntry[1][1] / perEntry[0][1]);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--side") == 0)
        return runSide(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    quick = args.contains(QStringLiteral("--quick"));
    rounds = VNBench::roundsFrom(args, quick ? 1 : 5);
    const QString what = VNBench::caseFrom(args, QStringLiteral("all"));
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/da-bench-XXXXXX"));
    if (what == QLatin1String("json") || what == QLatin1String("all"))
        benchJson(dir.path());
    if (what == QLatin1String("feed") || what == QLatin1String("all"))
        benchFeed();
    return 0;
}
