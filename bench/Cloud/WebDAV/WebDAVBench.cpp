// Measures the WebDAV handler beside the curl command against
// the same Apache mod_dav on loopback (started here through the test peer):
//   download of a large file (GET to a file), upload of it (streamed PUT),
//   listing of a 10,000-entry folder (handler time beside curl's raw
//   PROPFIND, and the reply's parsing alone).
// Prints ours ÷ curl for each (below 1 means ours is faster) as the median
// of interleaved rounds, the order of the sides alternating, with each
// side's peak resident size (ours: this process's VmHWM, reset before each
// run; curl's: its own).
// VARNELLO_BENCH_MIB sets the transfer size (default 256); --rounds N the
// rounds of the listing (default 5; the transfers take 3).
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Formats/XTDocument.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNTempDirectory.h"
#include "support/BenchHarness.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <sys/stat.h>
#include <cstdio>
#include <functional>

namespace {

QString g_stateDir;
QJsonObject g_peer;

using VNBench::Sample;

void runUntil(const std::function<bool()> &done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

bool peerctl(const QString &verb) {
    return VNBench::peerctl(g_stateDir, verb, QStringLiteral("webdav"));
}

QString peer(const char *key) {
    return g_peer.value(QLatin1String(key)).toString();
}

QNDriveConfigPtr drive() {
    auto config = QNDriveConfig::create();
    config->setIsWebDAV(true);
    config->setUrl(peer("http_url"));
    config->setUsername(peer("user"));
    config->setPassword(peer("password"));
    config->setValidateCertificates(true);
    return config;
}

std::shared_ptr<QNWebDAVHandler> handler() {
    return std::dynamic_pointer_cast<QNWebDAVHandler>(drive()->createCloudInterface());
}

// Starts a call and runs the loop until it answers; its time and this
// process's peak, failed when it answered with an error or a cancel.
Sample timeCall(const std::function<void(std::function<void(VNErrorPtr, bool)>)> &start) {
    return VNBench::measure([&] {
        bool done = false, failed = false;
        start([&](VNErrorPtr error, bool cancelled) {
            done = true;
            if (error || cancelled) {
                failed = true;
                std::fprintf(stderr, "handler failed: %s\n",
                             error ? qPrintable(error->userInfo().value("error").toString() + error->localizedDescription())
                                   : "cancelled");
            }
        });
        runUntil([&] { return done; });
        return !failed;
    });
}

Sample curl(const QStringList &args) {
    return VNBench::runCommand({QStringLiteral("curl"), args, {}, {}});
}

bool writeLargeFile(const QString &path, qint64 size) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131 + 7) & 0xff);
    for (qint64 done = 0; done < size; done += block.size()) {
        block[0] = char(done >> 20);
        f.write(block.constData(), std::min<qint64>(block.size(), size - done));
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/varnello-webdav-bench-XXXXXX"));
    VNTempDirectory::setPath(home.path() + QStringLiteral("/tmp"));
    // Apache's workers run under their own account: they must reach the
    // shares inside this folder and change what we put there.
    ::umask(0);
    QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    g_stateDir = home.path() + QStringLiteral("/peer-state");
    if (!peerctl(QStringLiteral("start"))) {
        std::fprintf(stderr, "could not start the webdav peer\n");
        return 1;
    }
    QFile stateFile(g_stateDir + QStringLiteral("/webdav.json"));
    stateFile.open(QIODevice::ReadOnly);
    g_peer = QJsonDocument::fromJson(stateFile.readAll()).object();
    QNWebDAVHandler::registerWithFactory();

    const qint64 mib = qEnvironmentVariableIsSet("VARNELLO_BENCH_MIB") ? qEnvironmentVariableIntValue("VARNELLO_BENCH_MIB") : 256;
    const qint64 size = mib << 20;
    const QString rootDir = peer("root_dir");
    const QString local = home.path() + QStringLiteral("/local");
    QDir().mkpath(local);
    const QString auth = peer("user") + QLatin1Char(':') + peer("password");
    int failures = 0;
    const int rounds = VNBench::roundsFrom(app.arguments(), 5);
    const int bulkRounds = std::min(rounds, 3);
    std::printf("WebDAV handler vs curl, Apache mod_dav on loopback, %lld MiB transfers\n", static_cast<long long>(mib));
    std::fflush(stdout);

    // --- GET -------------------------------------------------------------
    writeLargeFile(rootDir + QStringLiteral("/big.bin"), size);
    const QString fileUrl = peer("http_url") + QStringLiteral("/big.bin");
    auto clearDownloads = [&] {
        QFile::remove(local + "/curl.bin");
        QFile::remove(local + "/handler.bin");
        QFile::remove(local + "/engine.bin");
    };
    const auto get = VNBench::interleave(
        bulkRounds,
        {{QStringLiteral("handler"),
          [&] {
              Sample r = timeCall([&](auto done) {
                  auto source = QNDocument::withPath(QStringLiteral("/big.bin"));
                  source->setSize(size);
                  handler()->download(source, QNDocument::withPath(local + "/handler.bin"), nullptr,
                                      [done](QNDocumentPtr, VNErrorPtr e, bool c) { done(e, c); });
              });
              r.ok = r.ok && QFileInfo(local + "/handler.bin").size() == size;
              return r;
          }},
         // The HTTP engine alone, as the handler sets it up, for the share
         // of the time that is the engine's.
         {QStringLiteral("engine"),
          [&] {
              return timeCall([&](auto done) {
                  auto request = NRHTTPRequest::requestWithURL(QUrl(fileUrl));
                  request->setShouldAttemptPersistentConnection(false);
                  request->setUseSessionPersistence(false);
                  request->setUsername(peer("user"));
                  request->setPassword(peer("password"));
                  request->setDownloadDestinationPath(local + "/engine.bin");
                  request->setCompletionBlock([done, request] { done(nullptr, request->responseStatusCode() >= 400); });
                  request->setFailedBlock([done, request] { done(request->error(), false); });
                  request->startAsynchronous();
              });
          }},
         {QStringLiteral("curl"), [&] { return curl({"-s", "-f", "-u", auth, "-o", local + "/curl.bin", fileUrl}); }}},
        clearDownloads);
    VNBench::printComparison("GET to file", QStringLiteral("handler"), get[0], QStringLiteral("curl"), get[2]);
    VNBench::printComparison("  the HTTP engine alone", QStringLiteral("engine"), get[1], QStringLiteral("curl"), get[2]);
    failures += VNBench::failures(get[0]) + VNBench::failures(get[1]);

    // --- PUT -------------------------------------------------------------
    writeLargeFile(local + "/handler.bin", size);
    QDir().mkpath(rootDir + QStringLiteral("/up"));
    QDir().mkpath(rootDir + QStringLiteral("/upcurl"));
    auto clearUploads = [&] {
        QFile::remove(rootDir + "/up/handler.bin");
        QFile::remove(rootDir + "/upcurl/handler.bin");
    };
    const auto put = VNBench::interleave(
        bulkRounds,
        {{QStringLiteral("handler"),
          [&] {
              Sample r = timeCall([&](auto done) {
                  handler()->upload(QNDocument::withPath(local + "/handler.bin"), QNDocument::withPath(QStringLiteral("/up"), true),
                                    nullptr, [done](QNDocumentPtr, VNErrorPtr e, bool c) { done(e, c); });
              });
              r.ok = r.ok && QFileInfo(rootDir + "/up/handler.bin").size() == size;
              return r;
          }},
         {QStringLiteral("curl"),
          [&] {
              return curl({"-s", "-f", "-u", auth, "-T", local + "/handler.bin", peer("http_url") + QStringLiteral("/upcurl/handler.bin")});
          }}},
        clearUploads);
    VNBench::printComparison("PUT streamed from file", QStringLiteral("handler"), put[0], QStringLiteral("curl"), put[1]);
    failures += VNBench::failures(put[0]);
    clearUploads();
    clearDownloads();
    QFile::remove(rootDir + "/big.bin");

    // --- Listing of 10,000 entries ---------------------------------------------
    const QString many = rootDir + QStringLiteral("/many");
    QDir().mkpath(many);
    for (int i = 0; i < 10000; ++i) {
        QFile f(many + QStringLiteral("/entry %1.txt").arg(i, 5, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
    QFile body(local + "/propfind.xml");
    body.open(QIODevice::WriteOnly);
    body.write(QNWebDAVHandler::listingRequestBody());
    body.close();
    const QString reply = local + "/propfind-reply.xml";
    const auto list = VNBench::interleave(
        rounds,
        {{QStringLiteral("handler"),
          [&] {
              int listed = 0;
              Sample r = timeCall([&](auto done) {
                  handler()->listDocuments(QNDocument::withPath(QStringLiteral("/many"), true), QString(),
                                           [done, &listed](QNDocumentList docs, QString, VNErrorPtr e, bool c) {
                                               listed = int(docs.size());
                                               done(e, c);
                                           });
              });
              r.ok = r.ok && listed == 10000;
              return r;
          }},
         {QStringLiteral("curl"),
          [&] {
              return curl({"-s", "-f", "-u", auth, "-X", "PROPFIND", "-H", "Depth: 1", "-H",
                           "Content-Type: text/xml; charset=\"utf-8\"", "--data-binary", "@" + local + "/propfind.xml",
                           "-o", reply, peer("http_url") + "/many/"});
          }}});
    VNBench::printComparison("PROPFIND listing, 10,000 entries", QStringLiteral("handler"), list[0], QStringLiteral("curl"),
                             list[1]);
    failures += VNBench::failures(list[0]);

    QFile replyFile(reply);
    replyFile.open(QIODevice::ReadOnly);
    const QByteArray replyBytes = replyFile.readAll();
    QNWebDAVHandler::ListingContext context;
    context.folderPath = QStringLiteral("/many");
    context.baseURL = peer("http_url");
    QElapsedTimer xml;
    xml.start();
    const bool xmlParsed = XTDocument::initWithData(replyBytes) != nullptr;
    const double xmlSeconds = xml.elapsed() / 1000.0;
    failures += !xmlParsed;
    QElapsedTimer parse;
    parse.start();
    VNErrorPtr parseError;
    const auto parsed = QNWebDAVHandler::parseListing(replyBytes, context, &parseError);
    const double parseSeconds = parse.elapsed() / 1000.0;
    failures += parsed.size() != 10000;
    std::printf("  %-38s %7.3f s for %.1f MiB of multistatus (%lld entries)\n", "listing parse alone", parseSeconds,
                replyBytes.size() / 1048576.0, static_cast<long long>(parsed.size()));
    std::printf("  %-38s %7.3f s\n", "  a document tree of it, for scale", xmlSeconds);
    std::printf("%d failures\n", failures);

    peerctl(QStringLiteral("stop"));
    return failures ? 1 : 0;
}
