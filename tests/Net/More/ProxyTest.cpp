// Proxies: tinyproxy with and without Basic credentials, CONNECT tunnels,
// the environment, and auto-configuration scripts over file and http.
#include "Net/NetTestSupport.h"

#include "Net/NRProxyScript.h"
#include "Net/NRSessionCredentialStore.h"
#include "Platform/VNLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace NetTest;

namespace {

QJsonObject proxyPeer() { return VNTest::peerState(QStringLiteral("tinyproxy")); }
int authPort() { return proxyPeer()[QStringLiteral("auth_port")].toInt(); }
int openPort() { return proxyPeer()[QStringLiteral("open_port")].toInt(); }
QString user() { return proxyPeer()[QStringLiteral("user")].toString(); }
QString password() { return proxyPeer()[QStringLiteral("password")].toString(); }

// The processes this one started (their parent is this process).
QStringList childProcesses() {
    const QString self = QString::number(QCoreApplication::applicationPid());
    QStringList children;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString stat = QString::fromLatin1(VNTest::readFile(QStringLiteral("/proc/%1/stat").arg(pid)));
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QStringList fields = stat.mid(stat.lastIndexOf(QLatin1Char(')')) + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() > 1 && fields[1] == self)
            children << pid;
    }
    return children;
}

// How many requests for the target the proxy's log shows.
int proxyLogCount(const char *which, const QString &target) {
    const QString log = proxyPeer()[QString::fromLatin1(which) + QStringLiteral("_log")].toString();
    return QString::fromUtf8(VNTest::readFile(log)).count(target);
}

// Whether the proxy's log names the request target (the proxy logs a
// request as it reads it: once the request has ended, at once).
bool proxyLogged(const char *which, const QString &text, int waitMs = 2000) {
    const QString log = proxyPeer()[QString::fromLatin1(which) + QStringLiteral("_log")].toString();
    return VNTest::waitUntil([&] { return QString::fromUtf8(VNTest::readFile(log)).contains(text); }, waitMs);
}

class Proxy : public ::testing::Test {
protected:
    void SetUp() override { forgetProxySettings(); }
    void TearDown() override { SetUp(); }
    std::shared_ptr<NRHTTPRequest> through(const QString &path, int port) {
        auto r = NRHTTPRequest::requestWithURL(fake(path));
        r->setProxyHost(QStringLiteral("127.0.0.1"));
        r->setProxyPort(port);
        return r;
    }
};

}  // namespace

TEST_F(Proxy, ChallengeAnsweredWithTheProxysOwnCredentials) {
    // Credentials on the request: the 407 is answered, and they reach the
    // proxy only, never the origin.
    auto r = through(QStringLiteral("/echo?proxy=1"), authPort());
    r->setProxyUsername(user());
    r->setProxyPassword(password());
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    const QJsonObject headers = echoHeaders(r);
    EXPECT_FALSE(headers.contains(QStringLiteral("Authorization")));
    EXPECT_TRUE(proxyLogged("auth", QStringLiteral("/echo?proxy=1")));

    // Asked for after the 407, then the session has them.
    NRSessionCredentialStore::sharedProxy().clear();
    auto asked = through(QStringLiteral("/echo?proxy=2"), authPort());
    int questions = 0;
    asked->setProxyAuthenticationNeededBlock([&] {
        ++questions;
        asked->setProxyUsername(user());
        asked->setProxyPassword(password());
        asked->retryUsingSuppliedCredentials();
    });
    EXPECT_EQ(run(asked)->finished, 1);
    EXPECT_EQ(asked->responseStatusCode(), 200);
    EXPECT_EQ(questions, 1);
    auto again = through(QStringLiteral("/echo?proxy=3"), authPort());
    EXPECT_EQ(run(again)->finished, 1);
    EXPECT_EQ(again->responseStatusCode(), 200);

    // None, or wrong ones: code 3.
    NRSessionCredentialStore::sharedProxy().clear();
    auto none = through(QStringLiteral("/echo?proxy=4"), authPort());
    EXPECT_EQ(run(none)->failed, 1);
    EXPECT_EQ(errorCode(none), 3);
    auto wrong = through(QStringLiteral("/echo?proxy=5"), authPort());
    wrong->setProxyUsername(user());
    wrong->setProxyPassword(QStringLiteral("wrong"));
    EXPECT_EQ(run(wrong)->failed, 1);
    EXPECT_EQ(errorCode(wrong), 3);
}

TEST_F(Proxy, OneRequestAtATimeAsksForTheProxysCredentials) {
    // Requests meeting the proxy together take turns: while one waits for
    // its answer the others wait too, then find the answer in the session.
    // tinyproxy refuses wrong credentials with a 401 (no second question),
    // so a wrong first answer is tried on the fake server as a strict proxy.
    struct Row {
        int requests;
        bool strict;      // through the strict proxy, else tinyproxy
        bool wrongFirst;  // the first answer is wrong, the later ones right
        int questions;    // how many are asked (0: not counted)
    } rows[] = {{1, false, false, 1}, {4, false, false, 1}, {1, true, true, 2}, {4, true, true, 0}};
    for (const Row &row : rows) {
        SetUp();
        const QString rightUser = row.strict ? QStringLiteral("strict") : user();
        const QString rightPassword = row.strict ? QStringLiteral("right") : password();
        const int port = row.strict ? QUrl(fakeBase()).port() : authPort();
        int questions = 0, outstanding = 0, mostOutstanding = 0;
        std::vector<std::shared_ptr<NRHTTPRequest>> requests;
        std::vector<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < row.requests; ++i) {
            auto r = through(QStringLiteral("/echo?turn=%1&strictproxy=1").arg(i), port);
            std::weak_ptr<NRHTTPRequest> weak = r;
            r->setProxyAuthenticationNeededBlock([&, weak] {
                const bool right = !row.wrongFirst || ++questions > 1;
                if (!row.wrongFirst)
                    ++questions;
                mostOutstanding = std::max(mostOutstanding, ++outstanding);
                // Answered a little later, as a person would.
                QTimer::singleShot(100, [&, weak, right] {
                    --outstanding;
                    if (auto asked = weak.lock()) {
                        asked->setProxyUsername(rightUser);
                        asked->setProxyPassword(right ? rightPassword : QStringLiteral("wrong"));
                        asked->retryUsingSuppliedCredentials();
                    }
                });
            });
            auto outcome = std::make_shared<Outcome>();
            r->setCompletionBlock([outcome] { ++outcome->finished; });
            r->setFailedBlock([outcome] { ++outcome->failed; });
            requests.push_back(r);
            outcomes.push_back(outcome);
        }
        for (const auto &r : requests)
            r->startAsynchronous();
        const auto allDone = [&] {
            return std::all_of(outcomes.begin(), outcomes.end(), [](const auto &o) { return o->done(); });
        };
        const std::string name = std::to_string(row.requests) + (row.strict ? " strict" : " tinyproxy");
        ASSERT_TRUE(VNTest::waitUntil(allDone, 30000)) << name;
        for (size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(outcomes[i]->finished, 1) << name << " #" << i;
            EXPECT_EQ(requests[i]->responseStatusCode(), 200) << name << " #" << i;
        }
        if (row.questions)
            EXPECT_EQ(questions, row.questions) << name;
        EXPECT_EQ(mostOutstanding, 1) << name;
    }
}

TEST_F(Proxy, A407WithoutAChallengeFailsWithCode7) {
    auto r = through(QStringLiteral("/echo?strictproxy=1&nochallenge=1"), QUrl(fakeBase()).port());
    r->setProxyUsername(QStringLiteral("strict"));
    r->setProxyPassword(QStringLiteral("right"));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 7);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("Failed to get authentication object from response headers"));
    EXPECT_EQ(r->responseStatusCode(), 407);
}

TEST_F(Proxy, SessionCredentialsGoWithTheFirstMessage) {
    // Once the session holds the proxy's credentials, a request without any
    // of its own sends them at once: the proxy sees it once, with no 407 first.
    auto first = through(QStringLiteral("/echo?sessionfirst=1"), authPort());
    first->setProxyUsername(user());
    first->setProxyPassword(password());
    EXPECT_EQ(run(first)->finished, 1);
    ASSERT_TRUE(proxyLogged("auth", QStringLiteral("/echo?sessionfirst=1")));
    EXPECT_EQ(proxyLogCount("auth", QStringLiteral("/echo?sessionfirst=1")), 2) << "asked, then answered";

    auto second = through(QStringLiteral("/echo?sessionfirst=2"), authPort());
    EXPECT_EQ(run(second)->finished, 1);
    EXPECT_EQ(second->responseStatusCode(), 200);
    ASSERT_TRUE(proxyLogged("auth", QStringLiteral("/echo?sessionfirst=2")));
    EXPECT_EQ(proxyLogCount("auth", QStringLiteral("/echo?sessionfirst=2")), 1);

    // Without session persistence the store is not read: asked again.
    auto apart = through(QStringLiteral("/echo?sessionfirst=3"), authPort());
    apart->setUseSessionPersistence(false);
    apart->setProxyUsername(user());
    apart->setProxyPassword(password());
    EXPECT_EQ(run(apart)->finished, 1);
    ASSERT_TRUE(proxyLogged("auth", QStringLiteral("/echo?sessionfirst=3")));
    EXPECT_EQ(proxyLogCount("auth", QStringLiteral("/echo?sessionfirst=3")), 2);
}

TEST_F(Proxy, HTTPSThroughATunnel) {
    const int httpsPort = apache()[QStringLiteral("https_port")].toInt();
    auto r = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("https://127.0.0.1:%1/files/1k.bin").arg(httpsPort)));
    r->setValidatesSecureCertificate(false);
    r->setProxyHost(QStringLiteral("127.0.0.1"));
    r->setProxyPort(authPort());
    r->setProxyUsername(user());
    r->setProxyPassword(password());
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(r->responseData().size(), 1024);
    EXPECT_TRUE(proxyLogged("auth", QStringLiteral("CONNECT 127.0.0.1:%1").arg(httpsPort)));

    // A tunnel refused for want of credentials is code 3 too (once the
    // session has forgotten the ones that worked).
    NRSessionCredentialStore::sharedProxy().clear();
    auto refused = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("https://127.0.0.1:%1/files/1k.bin").arg(httpsPort)));
    refused->setValidatesSecureCertificate(false);
    refused->setProxyHost(QStringLiteral("127.0.0.1"));
    refused->setProxyPort(authPort());
    EXPECT_EQ(run(refused)->failed, 1);
    EXPECT_EQ(errorCode(refused), 3);
}

TEST_F(Proxy, TheEnvironmentAndNoProxy) {
    struct Case {
        const char *variable;
        QString value;
        const char *noProxy;
        bool viaProxy;
    };
    const QString withCredentials = QStringLiteral("http://%1:%2@127.0.0.1:%3").arg(user(), password()).arg(authPort());
    const QString open = QStringLiteral("127.0.0.1:%1").arg(openPort());
    const Case cases[] = {
        {"http_proxy", withCredentials, nullptr, true},
        {"HTTP_PROXY", open, nullptr, true},
        {"all_proxy", open, nullptr, true},
        {"http_proxy", open, "localhost,127.0.0.1", false},
        {"http_proxy", open, ".example.org, 127.0.0.1:1", true},  // another port: not bypassed
        {"http_proxy", open, "*", false},
    };
    int n = 0;
    for (const Case &c : cases) {
        SetUp();
        qputenv(c.variable, c.value.toUtf8());
        if (c.noProxy)
            qputenv("no_proxy", c.noProxy);
        const QString path = QStringLiteral("/echo?env=%1").arg(++n);
        auto r = NRHTTPRequest::requestWithURL(fake(path));
        EXPECT_EQ(run(r)->finished, 1) << c.variable;
        EXPECT_EQ(r->responseStatusCode(), 200);
        const bool logged = proxyLogged(c.value.contains(QLatin1Char('@')) ? "auth" : "open", path);
        EXPECT_EQ(logged, c.viaProxy) << c.variable << " " << (c.noProxy ? c.noProxy : "");
    }
    SetUp();
    qputenv("http_proxy", "ftp://127.0.0.1:1");
    auto bad = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    EXPECT_EQ(run(bad)->failed, 1);
    EXPECT_EQ(errorCode(bad), 6);
    EXPECT_EQ(bad->error()->localizedDescription(),
              QStringLiteral("Unable to obtain information on proxy servers needed for request"));
}

TEST_F(Proxy, AutoConfigurationScripts) {
    auto dir = VNTest::makeTempDir();
    const QString open = QStringLiteral("127.0.0.1:%1").arg(openPort());
    struct Case {
        QString script;
        bool viaProxy;
    };
    // A script that fails or answers nothing usable leaves the request direct.
    const Case cases[] = {
        {QStringLiteral("function FindProxyForURL(url, host) { return 'DIRECT'; }"), false},
        {QStringLiteral("function FindProxyForURL(url, host) {"
                        " if (isInNet(host, '127.0.0.0', '255.0.0.0') && shExpMatch(url, '*/echo*') &&"
                        " !isPlainHostName(host) && dnsDomainLevels(host) == 3) return 'PROXY %1';"
                        " return 'DIRECT'; }").arg(open), true},
        // The first proxy cannot be reached: the next one.
        {QStringLiteral("function FindProxyForURL(u, h) { return 'PROXY 127.0.0.1:1; PROXY %1; DIRECT'; }").arg(open), true},
        // alert() is there, as in browsers: it only logs.
        {QStringLiteral("function FindProxyForURL(u, h) { alert('choosing for ' + h); return 'PROXY %1'; }").arg(open), true},
        {QStringLiteral("function FindProxyForURL(u, h) { throw new Error('no'); }"), false},
        {QStringLiteral("function FindProxyForURL(u, h) { return 'GO AWAY'; }"), false},
        {QStringLiteral("function FindProxyForURL(u, h) { return 42; }"), false},
        {QStringLiteral("function FindProxyForURL(u, h) { return ''; }"), false},
        {QStringLiteral("function FindProxyForURL(u, h) { for (;;) {} }"), false},
        {QStringLiteral("function FindProxyForURL(u, h) { var a = []; for (;;) a.push(new Array(1e6).join('x')); }"), false},
        {QStringLiteral("this is not a script"), false},
    };
    int n = 0;
    for (const Case &c : cases) {
        for (bool overHTTP : {false, true}) {
            const QString path = QStringLiteral("/echo?pac=%1").arg(++n);
            auto r = NRHTTPRequest::requestWithURL(fake(path));
            r->setTimeOutSeconds(2);
            if (overHTTP) {
                r->setPACurl(fake(QStringLiteral("/pac?js=") + QString::fromLatin1(QUrl::toPercentEncoding(c.script))));
            } else {
                const QString file = dir->path() + QStringLiteral("/proxy%1.pac").arg(n);
                VNTest::writeFile(file, c.script.toUtf8());
                r->setPACurl(QUrl::fromLocalFile(file));
            }
            const auto out = run(r, 20000);
            EXPECT_EQ(out->finished, 1) << c.script.toStdString();
            EXPECT_EQ(r->responseStatusCode(), 200);
            EXPECT_EQ(proxyLogged("open", path, c.viaProxy ? 2000 : 0), c.viaProxy) << c.script.toStdString();
        }
    }
}

// A script that cannot be read or fetched starts the request without a
// proxy, as a script that answers nothing does.
TEST_F(Proxy, AScriptThatCannotBeHadLeavesTheRequestDirect) {
    auto dir = VNTest::makeTempDir();
    const QString missing = dir->path() + QStringLiteral("/none.pac");
    const struct {
        const char *name;
        QUrl script;
    } rows[] = {
        {"a file that is not there", QUrl::fromLocalFile(missing)},
        {"a folder", QUrl::fromLocalFile(dir->path())},
        {"a status of 400 or more", fake(QStringLiteral("/status?code=404"))},
        {"a fetch that fails", QUrl(QStringLiteral("http://127.0.0.1:1/proxy.pac"))},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?unhad=%1").arg(++n)));
        r->setPACurl(row.script);
        EXPECT_EQ(run(r)->finished, 1);
        EXPECT_EQ(r->responseStatusCode(), 200);
        EXPECT_TRUE(r->proxyHost().isEmpty());
    }
}

// A script file is read only when it is a regular file within the bound,
// and never on the network thread: a FIFO nobody writes to, a device, a
// folder, a file past the bound or no file at all leave the request direct,
// while another transfer started beside it goes on meanwhile.
TEST_F(Proxy, AScriptFileIsReadOnlyWhenItIsARegularFileWithinTheBound) {
    auto dir = VNTest::makeTempDir();
    const QString fifo = dir->path() + QStringLiteral("/proxy.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A script that chooses the proxy, padded with a comment to a size.
    const QByteArray script =
        QStringLiteral("function FindProxyForURL(u, h) { return 'PROXY 127.0.0.1:%1'; }\n//").arg(openPort()).toUtf8();
    const auto scriptOfSize = [&](const QString &name, qint64 size) {
        const QString path = dir->path() + QLatin1Char('/') + name;
        VNTest::writeFile(path, script + QByteArray(size - script.size(), 'x'));
        return path;
    };
    const qint64 bound = NRProxyScript::maximumScriptSize;
    const struct {
        const char *name;
        QString path;
        bool viaProxy;
    } rows[] = {
        {"a plain script", scriptOfSize(QStringLiteral("plain.pac"), script.size() + 10), true},
        {"a script as large as the bound", scriptOfSize(QStringLiteral("at.pac"), bound), true},
        {"a script past the bound", scriptOfSize(QStringLiteral("past.pac"), bound + 1), false},
        {"a FIFO nobody writes to", fifo, false},
        {"a device that never ends", QStringLiteral("/dev/zero"), false},
        {"a folder", dir->path(), false},
        {"no file", dir->path() + QStringLiteral("/none.pac"), false},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = QStringLiteral("/echo?scriptfile=%1").arg(++n);
        auto scripted = NRHTTPRequest::requestWithURL(fake(path));
        scripted->setPACurl(QUrl::fromLocalFile(row.path));
        auto beside = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/bytes?n=1000")));
        auto scriptedOutcome = std::make_shared<Outcome>(), besideOutcome = std::make_shared<Outcome>();
        scripted->setCompletionBlock([scriptedOutcome] { ++scriptedOutcome->finished; });
        scripted->setFailedBlock([scriptedOutcome] { ++scriptedOutcome->failed; });
        beside->setCompletionBlock([besideOutcome] { ++besideOutcome->finished; });
        beside->setFailedBlock([besideOutcome] { ++besideOutcome->failed; });
        scripted->startAsynchronous();
        beside->startAsynchronous();
        EXPECT_TRUE(VNTest::waitUntil([&] { return besideOutcome->done(); }, 10000)) << "the other transfer waited";
        EXPECT_EQ(besideOutcome->finished, 1);
        EXPECT_TRUE(VNTest::waitUntil([&] { return scriptedOutcome->done(); }, 10000));
        EXPECT_EQ(scriptedOutcome->finished, 1);
        EXPECT_EQ(scripted->responseStatusCode(), 200);
        EXPECT_EQ(proxyLogged("open", path, row.viaProxy ? 2000 : 0), row.viaProxy);
        // Whoever still waits for a writer of the FIFO gets one (and its end).
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        EXPECT_TRUE(VNTest::waitUntil([&] { return scriptedOutcome->done() && besideOutcome->done(); }, 10000));
    }
}

// A script file on a hung mount holds one thread, however many requests
// want it: they wait for the one read, each going direct when its own
// time-out has passed; once the file answers, the requests after it use
// the script. (The read is held where a hung mount would hold it.)
TEST_F(Proxy, AScriptFileThatNeverAnswersHoldsOneRead) {
    struct Held {
        std::mutex mutex;
        std::condition_variable released;
        bool holding = true;
        std::atomic<int> reads{0};
        void release() {
            {
                std::lock_guard lock(mutex);
                holding = false;
            }
            released.notify_all();
        }
    };
    auto held = std::make_shared<Held>();
    auto dir = VNTest::makeTempDir();
    const QString file = dir->path() + QStringLiteral("/held.pac");
    VNTest::writeFile(
        file, QStringLiteral("function FindProxyForURL(u, h) { return 'PROXY 127.0.0.1:%1'; }").arg(openPort()).toUtf8());
    NRProxyScript::setFileReadHookForTesting([held, file](const QString &path) {
        if (path != file)
            return;
        ++held->reads;
        std::unique_lock lock(held->mutex);
        held->released.wait(lock, [&] { return !held->holding; });
    });
    // Whatever happens below, the held reads end and the hook goes.
    const std::shared_ptr<void> cleanUp(nullptr, [held](void *) {
        held->release();
        NRProxyScript::setFileReadHookForTesting(nullptr);
    });
    constexpr int kRequests = 8;
    std::vector<std::shared_ptr<NRHTTPRequest>> requests;
    std::vector<std::shared_ptr<Outcome>> outcomes;
    for (int i = 0; i < kRequests; ++i) {
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?heldscript=%1").arg(i)));
        r->setPACurl(QUrl::fromLocalFile(file));
        r->setTimeOutSeconds(1);
        auto outcome = std::make_shared<Outcome>();
        r->setCompletionBlock([outcome] { ++outcome->finished; });
        r->setFailedBlock([outcome] { ++outcome->failed; });
        requests.push_back(r);
        outcomes.push_back(outcome);
        r->startAsynchronous();
    }
    for (int i = 0; i < kRequests; ++i) {
        SCOPED_TRACE(QStringLiteral("request %1").arg(i).toStdString());
        EXPECT_TRUE(VNTest::waitUntil([&] { return outcomes[i]->done(); }, 10000));
        EXPECT_EQ(outcomes[i]->finished, 1);
        EXPECT_TRUE(requests[i]->proxyHost().isEmpty()) << "went through the proxy";
    }
    EXPECT_EQ(held->reads.load(), 1) << "reads of the held file";

    held->release();
    auto later = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?heldscript=later")));
    later->setPACurl(QUrl::fromLocalFile(file));
    EXPECT_EQ(run(later)->finished, 1);
    EXPECT_EQ(later->proxyHost(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(proxyLogged("open", QStringLiteral("/echo?heldscript=later")));
}

TEST_F(Proxy, TheScriptRunsInThisProcess) {
    // No child process is made for it (a child of a threaded process that
    // looks names up can hang on a lock taken at the fork); what it logs
    // reaches this process's log; its time limit holds.
    auto dir = VNTest::makeTempDir();
    const QString file = dir->path() + QStringLiteral("/inprocess.pac");
    VNTest::writeFile(file, QStringLiteral("function FindProxyForURL(u, h) { var t = Date.now(); while (Date.now() - t < 1500) {}"
                                           " alert('in process ' + dnsResolve('localhost')); return 'PROXY 127.0.0.1:%1'; }")
                                .arg(openPort())
                                .toUtf8());
    VNLog::setCapturing(true);
    VNLog::clearCaptured();
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?inprocess=1")));
    r->setPACurl(QUrl::fromLocalFile(file));
    auto outcome = std::make_shared<Outcome>();
    r->setCompletionBlock([outcome] { ++outcome->finished; });
    r->setFailedBlock([outcome] { ++outcome->failed; });
    r->startAsynchronous();
    QStringList seen;
    EXPECT_TRUE(VNTest::waitUntil([&] {
        seen += childProcesses();
        return outcome->done();
    }, 20000));
    seen.removeDuplicates();
    EXPECT_TRUE(seen.isEmpty()) << seen.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(outcome->finished, 1);
    EXPECT_TRUE(proxyLogged("open", QStringLiteral("/echo?inprocess=1")));
    EXPECT_TRUE(VNLog::captured().join(QLatin1Char('\n')).contains(QStringLiteral("alert: in process 127.0.0.1")));
    VNLog::setCapturing(false);
}

TEST_F(Proxy, SOCKS5) {
    const QJsonObject socks = VNTest::peerState(QStringLiteral("socks"));
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?socks=1")));
    r->setProxyHost(QStringLiteral("127.0.0.1"));
    r->setProxyPort(socks[QStringLiteral("port")].toInt());
    r->setProxyType(NRHTTPRequest::proxyTypeSOCKS());
    EXPECT_EQ(run(r)->finished, 1);
    EXPECT_EQ(r->responseStatusCode(), 200);
    const QString port = QString::number(VNTest::peerState(QStringLiteral("httpfake"))[QStringLiteral("port")].toInt());
    EXPECT_TRUE(QString::fromUtf8(VNTest::readFile(socks[QStringLiteral("log")].toString()))
                    .contains(QStringLiteral("CONNECT 127.0.0.1:") + port));

    // Chosen by a script too.
    auto dir = VNTest::makeTempDir();
    const QString file = dir->path() + QStringLiteral("/socks.pac");
    VNTest::writeFile(file, QStringLiteral("function FindProxyForURL(u, h) { return 'SOCKS 127.0.0.1:%1'; }")
                                .arg(socks[QStringLiteral("port")].toInt()).toUtf8());
    auto scripted = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo?socks=2")));
    scripted->setPACurl(QUrl::fromLocalFile(file));
    EXPECT_EQ(run(scripted)->finished, 1);
    EXPECT_EQ(scripted->proxyType(), NRHTTPRequest::proxyTypeSOCKS());
}

TEST(ProxyScript, AnswersAreReadStrictly) {
    EXPECT_EQ(NRProxyScript::parseAnswer(QStringLiteral("PROXY a.b:8080; SOCKS5 [::1]:1080;DIRECT")),
              QStringList({QStringLiteral("PROXY a.b:8080"), QStringLiteral("SOCKS [::1]:1080"), QStringLiteral("DIRECT")}));
    for (const char *bad : {"PROXY", "PROXY a.b:99999", "PROXY a.b:0", "FTP a.b:21", "DIRECT x", "PROXY a b:1", "PROXY ::1"})
        EXPECT_TRUE(NRProxyScript::parseAnswer(QString::fromLatin1(bad)).isEmpty()) << bad;
}

TEST(ProxyScript, AnEntryWithoutAPortTakesItsKindsUsualOne) {
    const struct {
        const char *answer;
        const char *entry;
    } cases[] = {
        {"PROXY a.b", "PROXY a.b:80"},
        {"HTTP a.b", "PROXY a.b:80"},
        {"HTTPS a.b", "HTTPS a.b:443"},
        {"SOCKS a.b", "SOCKS a.b:1080"},
        {"SOCKS5 [::1]", "SOCKS [::1]:1080"},
        {"SOCKS4 10.0.0.1", "SOCKS4 10.0.0.1:1080"},
    };
    for (const auto &c : cases) {
        const QStringList entries = NRProxyScript::parseAnswer(QString::fromLatin1(c.answer) + QStringLiteral("; DIRECT"));
        EXPECT_EQ(entries, QStringList({QString::fromLatin1(c.entry), QStringLiteral("DIRECT")})) << c.answer;
    }
}
