// Measures the data-API client and prints times and ratios (ours / theirs;
// below 1 means faster).
//
//   da_bench [json|feed|all] [--quick]
//
// JSON: parse (from text, the parser's interface) and write of the 20 MB
// file listing of the formats benchmark, against nlohmann-json.
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
    return 0;
}
