// The network thread is never joined: it may still be reading a reply while
// the process runs its exit handlers. So nothing it reads may be torn down
// by them: every exit handler registered from the network thread while it
// sends and reads requests is counted here (the process's registrations go
// through this file's __cxa_atexit first), and those of this program's own
// code (not of the system's libraries) must be none.
#include "Net/NetTestSupport.h"

#include "Net/NRDownloadCache.h"
#include "Net/NRNetworkThread.h"
#include "Net/NRWebPageRequest.h"

#include <QUrlQuery>

#include <cxxabi.h>
#include <dlfcn.h>

#include <array>
#include <atomic>
#include <thread>

extern "C" void *__dso_handle;

namespace {

struct Registration {
    std::thread::id thread;
    void (*destructor)(void *);
    void *dso;
};

// Filled without allocating: a registration may come from anywhere.
std::array<Registration, 4096> g_registrations;
std::atomic<size_t> g_registrationCount{0};

}  // namespace

extern "C" int __cxa_atexit(void (*destructor)(void *), void *object, void *dso) {
    using Register = int (*)(void (*)(void *), void *, void *);
    static const auto next = reinterpret_cast<Register>(dlsym(RTLD_NEXT, "__cxa_atexit"));
    const size_t at = g_registrationCount.fetch_add(1);
    if (at < g_registrations.size())
        g_registrations[at] = {std::this_thread::get_id(), destructor, dso};
    return next(destructor, object, dso);
}

namespace {

std::thread::id networkThreadID() {
    std::atomic<bool> known{false};
    std::thread::id id;
    NRNetworkThread::shared().post([&] {
        id = std::this_thread::get_id();
        known.store(true);
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return known.load(); }, 10000));
    return id;
}

// What the threads chosen registered within this program, by the name of
// the destructor where it has one.
template <class Chosen>
QStringList exitHandlersOf(Chosen chosen, size_t from = 0) {
    QStringList found;
    const size_t count = std::min(g_registrationCount.load(), g_registrations.size());
    for (size_t i = from; i < count; ++i) {
        const Registration &r = g_registrations[i];
        if (!chosen(r.thread) || r.dso != &__dso_handle)
            continue;
        Dl_info info{};
        QString name = QStringLiteral("0x%1").arg(quintptr(r.destructor), 0, 16);
        if (dladdr(reinterpret_cast<void *>(r.destructor), &info) && info.dli_sname) {
            int status = 0;
            char *readable = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
            name = QString::fromLatin1(status == 0 && readable ? readable : info.dli_sname);
            std::free(readable);
        }
        found << name;
    }
    return found;
}

}  // namespace

TEST(ExitHandlers, NoneForWhatTheNetworkThreadReads) {
    const std::thread::id network = networkThreadID();
    // Replies with the usual headers, a redirect, a body sent with a
    // method that is not idempotent, a gzip reply, and a cached one.
    for (const QString &path : {QStringLiteral("/redirect?code=302&to=/bytes%3Fn%3D5000"), QStringLiteral("/echo"),
                                QStringLiteral("/gzip?n=5000")}) {
        auto r = NRHTTPRequest::requestWithURL(NetTest::fake(path));
        if (path == QLatin1String("/echo")) {
            r->setRequestMethod(QStringLiteral("POST"));
            r->appendPostData("body");
        }
        EXPECT_EQ(NetTest::run(r)->finished, 1) << path.toStdString();
        EXPECT_EQ(r->responseStatusCode(), 200) << path.toStdString();
    }
    // A reply looked up in and stored into a download cache, under a name
    // whose extension it looks up.
    const auto dir = VNTest::makeTempDir();
    const auto cache = std::make_shared<NRDownloadCache>();
    EXPECT_FALSE(cache->setStoragePath(dir->path()));
    auto cached = NRHTTPRequest::requestWithURL(NetTest::fake(QStringLiteral("/bytes.php?n=300")), cache);
    EXPECT_EQ(NetTest::run(cached)->finished, 1);
    EXPECT_FALSE(cache->pathToCachedResponseDataForURL(cached->url()).isNull()) << "not stored";
    const QStringList handlers = exitHandlersOf([network](std::thread::id thread) { return thread == network; });
    EXPECT_TRUE(handlers.isEmpty()) << handlers.join(QStringLiteral("\n")).toStdString();
}

// Workers are never joined either: a web page is parsed, its style sheet
// read and both rewritten on workers, and nothing they use may be torn down
// by an exit handler. Every thread but the main one counts, from the page's
// start on.
TEST(ExitHandlers, NoneForWhatWorkersReadForAWebPage) {
    const std::thread::id main = std::this_thread::get_id();
    const size_t before = g_registrationCount.load();
    QUrlQuery sheetQuery;
    sheetQuery.addQueryItem(QStringLiteral("ref"), QStringLiteral("/bytes%3Fn%3D200"));
    QUrl sheet = NetTest::fake(QStringLiteral("/sheet"));
    sheet.setQuery(sheetQuery);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("ref"), QStringLiteral("/bytes%3Fn%3D300"));
    query.addQueryItem(QStringLiteral("sheet"), QString::fromLatin1(QUrl::toPercentEncoding(sheet.toString(QUrl::FullyEncoded))));
    // A charset named: the page's encoding is looked up for libxml2.
    query.addQueryItem(QStringLiteral("ct"), QStringLiteral("text/html%3B%20charset%3Dutf-8"));
    QUrl url = NetTest::fake(QStringLiteral("/page"));
    url.setQuery(query);
    auto page = NRWebPageRequest::requestWithURL(url);
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    EXPECT_EQ(NetTest::run(page)->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    EXPECT_TRUE(page->responseString().contains(QStringLiteral("data:text/css"))) << page->responseString().toStdString();
    const QStringList handlers = exitHandlersOf([main](std::thread::id thread) { return thread != main; }, before);
    EXPECT_TRUE(handlers.isEmpty()) << handlers.join(QStringLiteral("\n")).toStdString();
}
