// Measures the data-API client and prints times and ratios (ours / theirs;
// below 1 means faster).
//
//   da_bench [json|feed|all] [--quick]
//
// JSON: parse (from text, the parser's interface) and write of the 20 MB
// file listing of the formats benchmark, against nlohmann-json.
// Feed: parse (bytes to objects) and write (objects to bytes) of photo-album
// feeds of 1,000 and 10,000 entries (photo classes: every value parsed into
// objects), and how the time grows between them.
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/JSON/DAJsonParser.h"
#include "DA/JSON/DAJsonWriter.h"
#include "support/BenchListing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

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

void row(const char *what, double ours, double theirs, const char *peer) {
    std::printf("  %-34s ours %9.1f ms   %-10s %9.1f ms   ratio %.2f\n", what, ours, peer, theirs, ours / theirs);
}

void benchJson() {
    const QByteArray bytes = makeListing(20 * 1024 * 1024);
    const QString text = QString::fromUtf8(bytes);
    const int runs = quick ? 1 : 5;
    std::printf("JSON: %.1f MB file listing\n", bytes.size() / 1048576.0);
    DAJsonParser parser;
    DXJsonValue ours;
    const double ourParse = bestOf(runs, [&] { ours = parser.objectWithString(text); });
    if (!ours.isObject()) {
        std::printf("  our parse failed: %s\n", qPrintable(parser.errorTraceDescription()));
        return;
    }
    nlohmann::json theirs;
    const double nlParse = bestOf(runs, [&] { theirs = nlohmann::json::parse(bytes.constData(), bytes.constData() + bytes.size()); });
    DAJsonWriter writer;
    QString ourText;
    const double ourWrite = bestOf(runs, [&] { ourText = writer.stringWithObject(ours); });
    std::string nlText;
    const double nlWrite = bestOf(runs, [&] { nlText = theirs.dump(); });
    row("parse vs nlohmann-json", ourParse, nlParse, "nlohmann");
    row("write vs nlohmann-json", ourWrite, nlWrite, "nlohmann");
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
    std::printf("Feed: parse (bytes to objects) and write (objects to bytes)\n");
    double perEntry[2][2] = {};
    const int sizes[2] = {1000, 10000};
    for (int k = 0; k < 2; ++k) {
        const QByteArray bytes = makeFeed(sizes[k]);
        const int runs = quick ? 1 : 3;
        DAFeedBasePtr feed;
        const double parse = bestOf(runs, [&] { feed = DAFeedBase::feedOfRegisteredClassWithXMLData(bytes); });
        if (!feed || feed->entries().size() != sizes[k]) {
            std::printf("  parse failed\n");
            return;
        }
        QByteArray out;
        const double write = bestOf(runs, [&] { out = feed->XMLDocument()->XMLData(); });
        std::printf("  %6d entries (%5.1f MB): parse %8.1f ms, write %8.1f ms\n", sizes[k], bytes.size() / 1048576.0, parse, write);
        perEntry[k][0] = parse / sizes[k];
        perEntry[k][1] = write / sizes[k];
    }
    std::printf("  growth 1,000 -> 10,000 entries: parse x%.2f, write x%.2f (10.0 is linear)\n",
                10 * perEntry[1][0] / perEntry[0][0], 10 * perEntry[1][1] / perEntry[0][1]);
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
    if (what == QLatin1String("json") || what == QLatin1String("all"))
        benchJson();
    if (what == QLatin1String("feed") || what == QLatin1String("all"))
        benchFeed();
    return 0;
}
