#pragma once

// Shared by the HTTP engine's tests: peers' addresses and running a request
// to its end on the main loop.
#include "Net/NRHTTPRequest.h"
#include "Net/NRNetworkThread.h"
#include "Net/NRSessionCredentialStore.h"
#include "Platform/VNTempDirectory.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <atomic>

namespace NetTest {

inline QString fakeBase() {
    return QStringLiteral("http://127.0.0.1:%1").arg(VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("port")].toInt());
}

inline QUrl fake(const QString &pathAndQuery) { return QUrl(fakeBase() + pathAndQuery); }

inline QJsonObject apache() { return VNTest::peerState(QStringLiteral("apache")); }

inline QUrl apacheURL(const QString &path) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(apache()[QStringLiteral("port")].toInt()).arg(path));
}

// The bytes the fake server sends for /bytes?n=N.
inline QByteArray pattern(int n) {
    QByteArray out(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        out[i] = char((i % (251 * 64)) % 251);
    return out;
}

// How long a test waits for what the network must do (a connection, a
// reply, a callback) before it calls that a failure. The wait ends as soon
// as the thing happens; a busy machine can hold the loopback up for seconds.
constexpr int networkWaitMs = 60000;

// Lets the network thread run what was posted to it before now (a cancel),
// then the main thread what that handed over: a callback it wrongly made has
// run when this returns.
inline void settleNetworkThread() {
    auto handedOver = std::make_shared<std::atomic<bool>>(false);
    NRNetworkThread::shared().post(
        [handedOver] { NRNetworkThread::shared().afterHandOver([handedOver] { handedOver->store(true); }); });
    EXPECT_TRUE(VNTest::waitUntil([&] { return handedOver->load(); }, networkWaitMs));
    NRNetworkThread::serveEventsUntil([] { return true; });
}

// Outcome of one request: how many times each end ran.
struct Outcome {
    int finished = 0;
    int failed = 0;
    bool done() const { return finished + failed > 0; }
};

// Starts the request and runs the main loop until it has finished or failed.
inline std::shared_ptr<Outcome> run(const std::shared_ptr<NRHTTPRequest> &request, int timeoutMs = 30000) {
    auto outcome = std::make_shared<Outcome>();
    request->setCompletionBlock([outcome] { ++outcome->finished; });
    request->setFailedBlock([outcome] { ++outcome->failed; });
    request->startAsynchronous();
    EXPECT_TRUE(VNTest::waitUntil([&] { return outcome->done(); }, timeoutMs)) << "request never ended";
    VNTest::spin(30);  // a second (wrong) callback would show here
    return outcome;
}

// Starts a HEAD request made for a main request and waits for its end,
// which it never reports itself (what it learns goes to the main request).
inline bool runForMainRequest(const std::shared_ptr<NRHTTPRequest> &head, int timeoutMs = 30000) {
    head->startAsynchronous();
    const bool ended = VNTest::waitUntil([&] { return head->isFinished(); }, timeoutMs);
    EXPECT_TRUE(ended) << "HEAD request never ended";
    NRNetworkThread::serveEventsUntil([] { return true; });  // what it handed over before its end
    return ended;
}

inline int errorCode(const std::shared_ptr<NRHTTPRequest> &request) {
    return request->error() ? int(request->error()->code()) : 0;
}

inline QJsonObject echoOf(const std::shared_ptr<NRHTTPRequest> &request) {
    return QJsonDocument::fromJson(request->responseData()).object();
}

// The request headers the fake server's /echo saw.
inline QJsonObject echoHeaders(const std::shared_ptr<NRHTTPRequest> &request) {
    return echoOf(request)[QStringLiteral("headers")].toObject();
}
inline QString echoHeader(const std::shared_ptr<NRHTTPRequest> &request, const QString &name) {
    return echoHeaders(request)[name].toString();
}

// Runs a plain request for the fake server's path to its end.
inline std::shared_ptr<NRHTTPRequest> ranOnFake(const QString &pathAndQuery) {
    auto request = NRHTTPRequest::requestWithURL(fake(pathAndQuery));
    run(request);
    return request;
}

// Names of the files left in the private temporary folder.
inline QStringList temporaryFiles() {
    return QDir(VNTempDirectory::path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
}

inline void mapTestHosts() {
    const QJsonObject a = apache();
    NRHTTPRequest::setTestCertificateAuthorityFile(a[QStringLiteral("ca_file")].toString());
    NRHTTPRequest::setTestHostsMappedToLoopback(
        {QStringLiteral("secure.varnello.test"), QStringLiteral("wrong.varnello.test")});
}

// No proxy from the environment, no kept session or proxy credentials.
inline void forgetProxySettings() {
    NRHTTPRequest::clearSession();
    NRSessionCredentialStore::sharedProxy().clear();
    for (const char *name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                             "ALL_PROXY", "NO_PROXY"})
        qunsetenv(name);
}

}  // namespace NetTest
