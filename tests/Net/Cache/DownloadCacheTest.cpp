// The download cache: keys and file names, what is stored and what never
// is, answers without a request while a copy is fresh, revalidation with a
// 304 (from the fake and from nginx), stores and their clearing.
#include "Net/NRDownloadCache.h"
#include "Net/NRHTTPRequest.h"
#include "Net/NetTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <thread>

namespace {

// The fake counts requests by path for as long as it runs, across test
// processes: this process's pages (and the paths its count queries name)
// get a folder of their own.
QString ownPages(QString pathAndQuery) {
    return pathAndQuery.replace(QStringLiteral("/page/"),
                                QStringLiteral("/page/%1/").arg(QCoreApplication::applicationPid()));
}

QString cacheFake(const QString &pathAndQuery) {
    return QStringLiteral("http://127.0.0.1:%1%2")
        .arg(VNTest::peerState(QStringLiteral("cachefake"))[QStringLiteral("port")].toInt())
        .arg(ownPages(pathAndQuery));
}

int requestsSeen(const QString &path) {
    auto count = NRHTTPRequest::requestWithURL(QUrl(cacheFake("/count?path=" + path)));
    NetTest::run(count);
    return count->responseString().toInt();
}

class DownloadCache : public ::testing::Test {
protected:
    void SetUp() override {
        dir = VNTest::makeTempDir();
        cache = std::make_shared<NRDownloadCache>();
        ASSERT_FALSE(cache->setStoragePath(dir->path() + "/cache"));
    }
    std::shared_ptr<NRHTTPRequest> fetch(const QString &url, int policy = 0, int storage = 0) {
        auto request = NRHTTPRequest::requestWithURL(QUrl(url), cache, policy);
        request->setCacheStoragePolicy(storage);
        auto outcome = NetTest::run(request);
        EXPECT_EQ(outcome->finished, 1) << url.toStdString();
        return request;
    }
    std::unique_ptr<QTemporaryDir> dir;
    std::shared_ptr<NRDownloadCache> cache;
};

// A request whose lock a test can take, as the network thread holds it.
class LockableRequest : public NRHTTPRequest {
public:
    using NRHTTPRequest::NRHTTPRequest;
    std::recursive_mutex &requestLock() const { return m_mutex; }
};

// Each time the calling thread takes the cache's lock (its outermost
// taking), another thread takes the request's lock, as the network thread
// asking the cache holds it, and keeps it until the cache's lock is let go.
// A cache method that reads the request meanwhile waits for it (as it would
// for ever for a network thread that asks the cache in turn): the holder
// waits a few seconds for the letting go, then tells and lets the request go.
class LockOrderWatch {
public:
    LockOrderWatch(const NRDownloadCache &cache, const std::shared_ptr<LockableRequest> &request)
        : m_cache(cache), m_request(request), m_caller(std::this_thread::get_id()) {
        NRDownloadCache::setLockHookForTesting([this](const NRDownloadCache &c, bool taken) { heard(c, taken); });
    }
    ~LockOrderWatch() { NRDownloadCache::setLockHookForTesting(nullptr); }

    int takings() const { return m_takings; }
    bool requestReadUnderLock() const { return m_readUnderLock; }

private:
    void heard(const NRDownloadCache &cache, bool taken) {
        if (&cache != &m_cache || std::this_thread::get_id() != m_caller)
            return;
        if (taken && m_depth++ == 0)
            holdRequest();
        else if (!taken && --m_depth == 0)
            letRequestGo();
    }
    void holdRequest() {
        ++m_takings;
        m_letGo = false;
        std::promise<void> held;
        m_holder = std::thread([this, &held] {
            std::lock_guard request(m_request->requestLock());
            held.set_value();
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_letGo; }))
                m_readUnderLock = true;
        });
        held.get_future().wait();
    }
    void letRequestGo() {
        {
            std::lock_guard lock(m_mutex);
            m_letGo = true;
        }
        m_changed.notify_all();
        m_holder.join();
    }

    const NRDownloadCache &m_cache;
    std::shared_ptr<LockableRequest> m_request;
    std::thread::id m_caller;
    int m_depth = 0;  // caller only
    int m_takings = 0;
    std::thread m_holder;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_letGo = false;
    std::atomic<bool> m_readUnderLock{false};
};

}  // namespace

TEST_F(DownloadCache, KeysFileNamesAndSettings) {
    const QString key = NRDownloadCache::keyForURL(QUrl("http://a.test/x/"));
    EXPECT_EQ(key, NRDownloadCache::keyForURL(QUrl("http://a.test/x")));
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(key, key.toUpper());
    EXPECT_TRUE(NRDownloadCache::keyForURL(QUrl()).isNull());
    const std::vector<std::pair<const char *, const char *>> extensions{
        {"http://a.test/page.PHP", "html"}, {"http://a.test/a.pdf", "pdf"},    {"http://a.test/dir/", "html"},
        {"http://a.test/run.cgi?x=1", "html"}, {"http://a.test/style.css", "css"}, {"http://a.test/README", "html"},
    };
    for (const auto &[url, extension] : extensions)
        EXPECT_EQ(NRDownloadCache::fileExtensionForURL(QUrl(url)), extension) << url;
    cache->setDefaultCachePolicy(0);
    EXPECT_EQ(cache->defaultCachePolicy(), 4);
    EXPECT_TRUE(QFileInfo(dir->path() + "/cache/SessionStore").isDir());
    EXPECT_TRUE(QFileInfo(dir->path() + "/cache/PermanentStore").isDir());
    VNTest::writeFile(dir->path() + "/plain", "x");
    auto refused = cache->setStoragePath(dir->path() + "/plain");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->userInfo().value("name").toString(), "FileExistsAtCachePath");
    EXPECT_EQ(refused->localizedDescription(), "Cannot create a directory for the cache at '" + dir->path() +
                                                   "/plain', because a file already exists");
    auto missingParent = cache->setStoragePath(dir->path() + "/no/such");
    ASSERT_TRUE(missingParent);
    EXPECT_EQ(missingParent->userInfo().value("name").toString(), "FailedToCreateCacheDirectory");
}

TEST_F(DownloadCache, FreshCopyIsServedWithoutARequestAndAStaleOneRevalidatedWithA304) {
    const QString fresh = cacheFake("/page/fresh?etag=a&cc=max-age%3D60&body=fresh%20page");
    auto first = fetch(fresh);
    EXPECT_FALSE(first->didUseCachedResponse());
    ASSERT_FALSE(cache->pathToCachedResponseDataForURL(QUrl(fresh)).isNull());
    EXPECT_TRUE(cache->cachedResponseHeadersForURL(QUrl(fresh)).contains("X-NRHTTPRequest-Expires"));
    auto second = fetch(fresh);
    EXPECT_TRUE(second->didUseCachedResponse());
    EXPECT_EQ(second->responseStatusCode(), 200);
    EXPECT_EQ(second->responseData(), QByteArray("fresh page"));
    EXPECT_EQ(requestsSeen("/page/fresh"), 1);

    // No expiry: the copy is asked about, and the server's 304 lets it serve.
    const QString stale = cacheFake("/page/stale?etag=b&body=stale%20page");
    fetch(stale);
    auto revalidated = fetch(stale);
    EXPECT_TRUE(revalidated->didUseCachedResponse());
    EXPECT_EQ(revalidated->responseStatusCode(), 200);
    EXPECT_EQ(revalidated->responseData(), QByteArray("stale page"));
    EXPECT_EQ(requestsSeen("/page/stale"), 2);
    // A policy that never reads the cache always asks, and gets the page itself.
    auto never = fetch(fresh, NRDoNotReadFromCacheCachePolicy);
    EXPECT_FALSE(never->didUseCachedResponse());
    EXPECT_EQ(requestsSeen("/page/fresh"), 2);
}

TEST_F(DownloadCache, RepliesTheServerForbidsOrThatFailedAreNeverStored) {
    const std::vector<std::pair<QString, bool>> cases{
        {"/page/a?cc=no-store", false},
        {"/page/b?cc=private,%20no-store", false},  // one token of several
        {"/page/c?cc=no-cache", false},
        {"/page/d?pragma=no-cache", false},
        {"/page/e?status=404", false},
        {"/page/f?cc=private,%20max-age%3D5", true},
    };
    for (const auto &[path, stored] : cases) {
        const QString url = cacheFake(path);
        fetch(url);
        EXPECT_EQ(!cache->pathToCachedResponseDataForURL(QUrl(url)).isNull(), stored) << path.toStdString();
    }
    // Unless the cache is told to ignore the server's caching headers.
    cache->setShouldRespectCacheControlHeaders(false);
    const QString url = cacheFake("/page/g?cc=no-store");
    fetch(url);
    EXPECT_FALSE(cache->pathToCachedResponseDataForURL(QUrl(url)).isNull());
    EXPECT_TRUE(QDir(dir->path() + "/cache/PermanentStore").isEmpty());
}

TEST_F(DownloadCache, SessionCopyComesFirstAndClearingEmptiesOneStore) {
    const QString url = cacheFake("/page/both?etag=c&cc=max-age%3D60");
    fetch(url, NRDoNotReadFromCacheCachePolicy, NRCachePermanentlyCacheStoragePolicy);
    EXPECT_TRUE(cache->pathToCachedResponseDataForURL(QUrl(url)).contains("/PermanentStore/"));
    fetch(url, NRDoNotReadFromCacheCachePolicy, NRCacheForSessionDurationCacheStoragePolicy);
    EXPECT_TRUE(cache->pathToCachedResponseDataForURL(QUrl(url)).contains("/SessionStore/"));
    EXPECT_FALSE(cache->clearCachedResponsesForStoragePolicy(NRCacheForSessionDurationCacheStoragePolicy));
    EXPECT_TRUE(cache->pathToCachedResponseDataForURL(QUrl(url)).contains("/PermanentStore/"));
    cache->removeCachedDataForURL(QUrl(url));
    EXPECT_TRUE(cache->pathToCachedResponseDataForURL(QUrl(url)).isNull());
    EXPECT_TRUE(cache->pathToCachedResponseHeadersForURL(QUrl(url)).isNull());
}

TEST_F(DownloadCache, NginxRevalidatesADownloadedFile) {
    const QString url = QStringLiteral("http://127.0.0.1:%1/files/1k.bin")
                            .arg(VNTest::peerState(QStringLiteral("nginx"))[QStringLiteral("port")].toInt());
    auto first = NRHTTPRequest::requestWithURL(QUrl(url), cache);
    first->setDownloadDestinationPath(dir->path() + "/first.bin");
    NetTest::run(first);
    ASSERT_EQ(first->responseStatusCode(), 200);
    const QByteArray data = VNTest::readFile(dir->path() + "/first.bin");
    ASSERT_EQ(data.size(), 1024);
    auto second = NRHTTPRequest::requestWithURL(QUrl(url), cache);
    second->setDownloadDestinationPath(dir->path() + "/second.bin");
    NetTest::run(second);
    EXPECT_TRUE(second->didUseCachedResponse());  // nginx answered 304 to the ETag
    EXPECT_EQ(second->responseStatusCode(), 200);
    EXPECT_EQ(second->downloadDestinationPath(), cache->pathToCachedResponseDataForURL(QUrl(url)));
    EXPECT_EQ(VNTest::readFile(second->downloadDestinationPath()), data);
}

TEST_F(DownloadCache, ACachedRedirectIsFollowedAsALiveOneWouldBe) {
    // The redirect is kept like any reply; the next request for its URL
    // takes it from the cache and goes on to the target.
    const QString url = cacheFake("/page/redir?status=302&location=/page/redirtarget&cc=max-age%3D600");
    auto first = fetch(url);
    EXPECT_EQ(first->responseStatusCode(), 200);
    EXPECT_EQ(first->responseString(), ownPages("page /page/redirtarget"));
    auto second = fetch(url);
    EXPECT_EQ(second->responseStatusCode(), 200);
    EXPECT_EQ(second->responseString(), ownPages("page /page/redirtarget"));
    EXPECT_EQ(second->redirectCount(), 1);
    EXPECT_EQ(second->originalURL(), QUrl(url));
    EXPECT_EQ(second->url().path(), ownPages("/page/redirtarget"));
    EXPECT_EQ(requestsSeen("/page/redir"), 1) << "the redirect was asked for again";
    EXPECT_EQ(requestsSeen("/page/redirtarget"), 2);  // not fresh: revalidated
}

// Whatever a cache method reads of a request, it reads before it takes its
// own lock: the network thread asks the cache while it holds a request's
// lock, and a method reading the request under the cache's lock (a page's
// end storing the page on the main thread) waits for it while the network
// thread waits for the cache. Each method that reads a request, on a
// request with a reply and a copy in the cache.
TEST_F(DownloadCache, NoMethodReadsARequestUnderTheCachesLock) {
    using Cache = NRDownloadCache;
    using Request = NRHTTPRequest;
    const struct {
        const char *name;
        std::function<void(Cache &, const Request &)> call;
    } rows[] = {
        {"storing its reply", [](Cache &c, const Request &r) { c.storeResponseForRequest(r, 0); }},
        {"updating its copy's expiry", [](Cache &c, const Request &r) { c.updateExpiryForRequest(r, 60); }},
        {"whether its copy is current", [](Cache &c, const Request &r) { c.isCachedDataCurrentForRequest(r); }},
        {"whether its copy can stand in", [](Cache &c, const Request &r) { c.canUseCachedDataForRequest(r); }},
        {"where its reply goes", [](Cache &c, const Request &r) {
             c.pathToStoreCachedResponseHeadersForRequest(r);
             c.pathToStoreCachedResponseDataForRequest(r);
         }},
        {"removing its copy", [](Cache &c, const Request &r) { c.removeCachedDataForRequest(r); }},
    };
    const QUrl url(cacheFake("/page/order?etag=o&cc=max-age%3D60&body=kept"));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto request = std::make_shared<LockableRequest>(url);
        request->setDownloadCache(cache);
        request->setCachePolicy(NRAskServerIfModifiedWhenStaleCachePolicy);
        EXPECT_EQ(NetTest::run(request)->finished, 1);
        EXPECT_FALSE(cache->pathToCachedResponseDataForURL(request->url()).isNull());
        LockOrderWatch watch(*cache, request);
        row.call(*cache, *request);
        EXPECT_GT(watch.takings(), 0) << "the cache's lock was never taken";
        EXPECT_FALSE(watch.requestReadUnderLock()) << "the request was read under the cache's lock";
    }
}
