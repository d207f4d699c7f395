// A page rewritten (on a worker) while other requests end on the network
// thread: however long the rewrite takes (a resource's file slow to read,
// or the page's references being set), the other transfers go on and
// another page is parsed meanwhile. And while a page's parse or a sheet's
// read is held, the network thread and the main thread go on.
#include "Net/NRDownloadCache.h"
#include "Net/NRRequestQueue.h"
#include "Net/NRWebPageRequest.h"
#include "Net/NetTestSupport.h"
#include "WebPageTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace WebPageTest;

namespace {

// Waits for the condition on a thread that serves no events (a worker held
// in a hook, or a thread of the test's own): whether it came true within
// the time.
bool awaitHere(const std::function<bool()> &condition, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// What else happens while a rewrite is held: a second page (an empty one,
// which fails as unparsable once parsed) and, once its reply is in, a plain
// transfer. Watched from a thread of its own, which lets the rewrite go
// when the transfer has ended (or the time is up).
class Bystanders {
public:
    explicit Bystanders(const QString &folder)
        : page(NRWebPageRequest::requestWithURL(NetTest::fake(QStringLiteral("/page?empty=1")))),
          transfer(NRHTTPRequest::requestWithURL(NetTest::fake(QStringLiteral("/bytes?n=2000")))),
          m_pagePath(folder + QStringLiteral("/second.html")) {
        page->setDownloadDestinationPath(m_pagePath);
        page->setCompletionBlock([this] { ++pageOutcome.finished; });
        page->setFailedBlock([this] { ++pageOutcome.failed; });
        transfer->setCompletionBlock([this] { ++transferOutcome.finished; });
        transfer->setFailedBlock([this] { ++transferOutcome.failed; });
    }
    ~Bystanders() {
        if (m_watcher.joinable())
            m_watcher.join();
    }

    // Starts the watch once heldUntil() returns; release() lets the rewrite
    // go. With awaitParse, the second page's parse is waited for too.
    void watch(std::function<void()> heldUntil, std::function<void()> release, bool awaitParse) {
        m_watcher = std::thread([this, heldUntil = std::move(heldUntil), release = std::move(release), awaitParse] {
            heldUntil();
            page->startAsynchronous();
            // The second page's reply is in its file: it is being parsed
            // (or about to be) when the transfer starts.
            pageReplyIn = awaitHere([&] { return QFileInfo::exists(m_pagePath); });
            transfer->startAsynchronous();
            transferEndedWhileHeld = awaitHere([&] { return transfer->isFinished(); });
            // Asked only once the network thread has shown it is free (stuck
            // in the page's parse, it would hold the page's lock).
            if (awaitParse && transferEndedWhileHeld)
                pageParsedWhileHeld = awaitHere([&] { return page->error() != nullptr; });
            release();
        });
    }
    void join() {
        if (m_watcher.joinable())
            m_watcher.join();
    }
    bool ended() const { return pageOutcome.done() && transferOutcome.done(); }

    std::shared_ptr<NRWebPageRequest> page;
    std::shared_ptr<NRHTTPRequest> transfer;
    NetTest::Outcome pageOutcome, transferOutcome;
    std::atomic<bool> pageReplyIn{false}, transferEndedWhileHeld{false}, pageParsedWhileHeld{false};

private:
    QString m_pagePath;
    std::thread m_watcher;
};

// Turns the page's one resource, once fetched, into a named pipe: the
// rewrite's read of it waits until the test writes the resource's bytes.
class ResourceIntoPipe : public QObject {
    Q_OBJECT
public:
    ResourceIntoPipe(const QString &resourceURL, std::function<void(const QString &)> made)
        : m_resourceURL(resourceURL), m_made(std::move(made)) {}
public slots:
    void requestFinished(NRHTTPRequest *request) {
        if (request->url().toString() != m_resourceURL || !pipePath.isEmpty())
            return;
        pipePath = request->downloadDestinationPath();
        made = QFile::remove(pipePath) && mkfifo(QFile::encodeName(pipePath).constData(), 0600) == 0;
        if (made)
            m_made(pipePath);
    }

public:
    QString pipePath;
    bool made = false;

private:
    QString m_resourceURL;
    std::function<void(const QString &)> m_made;
};

// Opens the pipe for writing once somebody has opened it for reading (-1
// when nobody did within the time).
int openOnceRead(const QString &path) {
    int fd = -1;
    awaitHere([&] {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        return fd >= 0 || errno != ENXIO;
    });
    return fd;
}

bool writeAndClose(int fd, const QByteArray &bytes) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const bool wrote = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && wrote;
}

struct HookReset {
    ~HookReset() {
        for (const auto point : {NRWebPageRequest::TestPoint::ReadingReply, NRWebPageRequest::TestPoint::ParsingUnderLibxml,
                                 NRWebPageRequest::TestPoint::RewritingUnderLibxml,
                                 NRWebPageRequest::TestPoint::TakingLibxmlToRewrite})
            NRWebPageRequest::setHookForTesting(point, nullptr);
    }
};

}  // namespace

// The rewrite reads its resource's file slowly (a pipe, written only once
// the others have been watched): meanwhile another transfer ends, and a
// second page is parsed.
TEST(WebPageHeldRewrite, TransfersGoOnWhileTheRewriteReadsAResource) {
    auto dir = VNTest::makeTempDir();
    auto cache = std::make_shared<NRDownloadCache>();
    ASSERT_FALSE(cache->setStoragePath(dir->path() + QStringLiteral("/cache")));
    const QString resource = NetTest::fake(QStringLiteral("/bytes?n=3000")).toString();
    auto page = NRWebPageRequest::requestWithURL(pageWith({resource}));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    page->setDownloadCache(cache);
    const QString pagePath = dir->path() + QStringLiteral("/page.html");
    page->setDownloadDestinationPath(pagePath);

    Bystanders others(dir->path());
    const QByteArray bytes("the bytes read through the pipe");
    std::atomic<int> fd{-1};
    std::atomic<bool> written{false};
    ResourceIntoPipe pipe(resource, [&](const QString &path) {
        // The watch begins once the rewrite reads the pipe, and ends by
        // writing it.
        others.watch([&fd, path] { fd = openOnceRead(path); },
                     [&] {
                         if (fd >= 0)
                             written = writeAndClose(fd, bytes);
                     },
                     true);
    });
    page->setDelegate(&pipe);
    const auto outcome = NetTest::run(page);
    EXPECT_TRUE(VNTest::waitUntil([&] { return others.ended(); }, 20000));
    others.join();

    ASSERT_TRUE(pipe.made) << "the resource never became a pipe";
    EXPECT_GE(fd.load(), 0) << "the rewrite never read the resource";
    EXPECT_TRUE(written);
    EXPECT_TRUE(others.pageReplyIn);
    EXPECT_TRUE(others.transferEndedWhileHeld) << "the transfer waited for the rewrite";
    EXPECT_TRUE(others.pageParsedWhileHeld) << "the second page's parse waited for the rewrite";
    EXPECT_EQ(outcome->finished, 1) << errorText(page);
    const QStringList refs = references(QString::fromUtf8(VNTest::readFile(pagePath)));
    ASSERT_EQ(refs.size(), 1) << VNTest::readFile(pagePath).constData();
    EXPECT_EQ(dataOf(refs.first()), bytes);
    EXPECT_EQ(others.transferOutcome.finished, 1) << errorText(others.transfer);
    EXPECT_EQ(others.pageOutcome.failed, 1);
    EXPECT_EQ(errorText(others.page), "Error: unable to parse reponse XML");
}

// The rewrite is held while it holds libxml2 (its resources read, its
// references being set): the network thread never waits for libxml2, so
// another page's reply and a plain transfer end meanwhile; that page is
// parsed once libxml2 is let go.
TEST(WebPageHeldRewrite, TransfersGoOnWhileTheRewriteHoldsLibxml) {
    auto dir = VNTest::makeTempDir();
    auto page = NRWebPageRequest::requestWithURL(pageWith({NetTest::fake(QStringLiteral("/bytes?n=3000")).toString()}));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    Bystanders others(dir->path());
    const HookReset reset;
    int held = 0;
    NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::RewritingUnderLibxml, [&](NRWebPageRequest &) {
        if (held++)
            return;
        auto released = std::make_shared<std::promise<void>>();
        auto future = released->get_future();
        // The second page is parsed once libxml2 is let go.
        others.watch([] {}, [released] { released->set_value(); }, false);
        future.wait();
    });
    const auto outcome = NetTest::run(page);
    EXPECT_TRUE(VNTest::waitUntil([&] { return others.ended(); }, 20000));
    others.join();

    EXPECT_EQ(held, 1);
    EXPECT_TRUE(others.pageReplyIn);
    EXPECT_TRUE(others.transferEndedWhileHeld) << "the transfer waited for the rewrite";
    EXPECT_EQ(outcome->finished, 1) << errorText(page);
    EXPECT_TRUE(page->responseString().contains(QStringLiteral("data:"))) << "not rewritten";
    EXPECT_EQ(others.transferOutcome.finished, 1) << errorText(others.transfer);
    EXPECT_EQ(others.pageOutcome.failed, 1);
    EXPECT_EQ(errorText(others.page), "Error: unable to parse reponse XML");
}

// A page held in its parse on a worker (libxml2 held meanwhile): whatever
// else ends on the main thread goes on (nothing there waits for libxml2),
// a sheet or a page rewritten, a page that is not, a page whose resource fails, a
// cancelled page let go.
TEST(WebPageHeldRewrite, TheMainThreadNeverWaitsForAParse) {
    enum Trigger { ReleaseResource, FailResource, CancelPage };
    const struct {
        const char *name;
        bool sheet;
        int mode;
        Trigger trigger;
        bool finishes;
    } rows[] = {
        {"a rewritten style sheet ends", true, NRWebPageRequest::ReplaceWithData, ReleaseResource, true},
        {"a rewritten page ends", false, NRWebPageRequest::ReplaceWithData, ReleaseResource, true},
        {"a page that is not rewritten ends", false, NRWebPageRequest::DontReplaceURLs, ReleaseResource, true},
        {"a page whose resource fails", false, NRWebPageRequest::ReplaceWithData, FailResource, false},
        {"a cancelled page is let go", false, NRWebPageRequest::ReplaceWithData, CancelPage, false},
    };
    const HookReset reset;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = uniqueKey(QStringLiteral("parse-held"));
        auto other = NRWebPageRequest::requestWithURL(row.sheet ? sheetWith({heldURL(key)}) : pageWith({heldURL(key)}));
        other->setUrlReplacementMode(row.mode);
        NetTest::Outcome otherOutcome;
        other->setCompletionBlock([&] { ++otherOutcome.finished; });
        other->setFailedBlock([&] { ++otherOutcome.failed; });
        other->startAsynchronous();
        const bool resourceAsked = VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });

        // The held page's parse waits (libxml2 held) until let go, or until
        // the time is up.
        auto held = NRWebPageRequest::requestWithURL(pageWith({QStringLiteral("/bytes?n=10")}));
        std::atomic<bool> parsing{false}, letGo{false}, heldTooLong{false};
        NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::ParsingUnderLibxml, [&](NRWebPageRequest &request) {
            if (&request != held.get())
                return;
            parsing = true;
            heldTooLong = !awaitHere([&] { return letGo.load(); }, 10000);
        });
        const auto heldOutcome = std::make_shared<NetTest::Outcome>();
        held->setCompletionBlock([heldOutcome] { ++heldOutcome->finished; });
        held->setFailedBlock([heldOutcome] { ++heldOutcome->failed; });
        held->startAsynchronous();
        const bool parseHeld = VNTest::waitUntil([&] { return parsing.load(); });

        std::weak_ptr<NRWebPageRequest> weakOther = other;
        std::function<bool()> ended = [&] { return otherOutcome.done(); };
        // A page's rewrite needs libxml2 too: it cannot end while the parse
        // holds it, but it waits for it on a worker, the main thread free.
        std::atomic<bool> rewriteWaits{false};
        const bool pageRewrite = !row.sheet && row.mode != NRWebPageRequest::DontReplaceURLs && row.trigger == ReleaseResource;
        if (pageRewrite) {
            NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::TakingLibxmlToRewrite,
                                                [&, page = other.get()](NRWebPageRequest &request) {
                                                    if (&request == page)
                                                        rewriteWaits = true;
                                                });
            ended = [&] { return rewriteWaits.load(); };
        }
        switch (row.trigger) {
        case ReleaseResource:
            release(key);
            break;
        case FailResource: {
            const auto queue = other->externalResourceQueue();
            for (const auto &request : queue ? queue->operations() : std::vector<std::shared_ptr<NRHTTPRequest>>{})
                if (!request->mainRequest())
                    request->cancel();
            break;
        }
        case CancelPage:
            other->cancel();
            other.reset();
            ended = [&] { return otherOutcome.done() && weakOther.expired(); };
            break;
        }
        const bool endedWhileHeld = VNTest::waitUntil(ended, 15000) && !heldTooLong;
        letGo = true;
        const bool heldEnded = VNTest::waitUntil([&] { return heldOutcome->done(); }, 15000);
        if (pageRewrite)
            VNTest::waitUntil([&] { return otherOutcome.done(); }, 15000);
        NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::ParsingUnderLibxml, nullptr);
        NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::TakingLibxmlToRewrite, nullptr);
        if (row.trigger != ReleaseResource)
            release(key);

        EXPECT_TRUE(resourceAsked);
        EXPECT_TRUE(parseHeld);
        EXPECT_TRUE(endedWhileHeld) << "the main thread waited for the parse";
        EXPECT_EQ(otherOutcome.finished, row.finishes ? 1 : 0);
        EXPECT_EQ(otherOutcome.failed, row.finishes ? 0 : 1);
        EXPECT_TRUE(heldEnded);
        EXPECT_EQ(heldOutcome->finished, 1) << errorText(held);
    }
}

// A style sheet is read on a worker, as a page is parsed there: while its
// read is held, another transfer ends (on the network thread, the read
// would hold every transfer).
TEST(WebPageHeldRewrite, AStyleSheetIsReadOffTheNetworkThread) {
    auto sheet = NRWebPageRequest::requestWithURL(sheetWith({QStringLiteral("/bytes?n=300")}));
    sheet->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    auto transfer = NRHTTPRequest::requestWithURL(NetTest::fake(QStringLiteral("/bytes?n=2000")));
    std::atomic<bool> read{false}, transferEnded{false};
    const HookReset reset;
    NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::ReadingReply, [&](NRWebPageRequest &request) {
        if (&request != sheet.get() || read.exchange(true))
            return;
        transfer->startAsynchronous();
        transferEnded = awaitHere([&] { return transfer->isFinished(); });
    });
    const auto outcome = NetTest::run(sheet);
    EXPECT_TRUE(read);
    EXPECT_TRUE(transferEnded) << "the transfer waited for the sheet's read";
    EXPECT_EQ(outcome->finished, 1) << errorText(sheet);
    EXPECT_EQ(sheet->webContentType(), NRWebPageRequest::CSSContent);
    EXPECT_TRUE(sheet->responseString().contains(QStringLiteral("data:"))) << sheet->responseString().toStdString();
    EXPECT_TRUE(VNTest::waitUntil([&] { return transfer->isFinished(); }));
    EXPECT_EQ(transfer->responseData(), NetTest::pattern(2000));
}

#include "WebPageHeldRewriteTest.moc"
