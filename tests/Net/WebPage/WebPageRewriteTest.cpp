// A page and its style sheets rewritten with what was fetched for them: a
// URL named in several of them, error pages, a sheet that cannot be
// written whole.
#include "Net/NRWebPageRequest.h"
#include "Net/NRDownloadCache.h"
#include "Net/NRRequestQueue.h"
#include "Net/NetTestSupport.h"
#include "WebPageTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <set>
#include <sys/resource.h>

using namespace WebPageTest;

namespace {

// Keeps every request of a page's tree as it starts, and its URL.
class Starts : public QObject {
    Q_OBJECT
public slots:
    void requestStarted(NRHTTPRequest *request) {
        urls << request->url();
        if (auto resource = std::dynamic_pointer_cast<NRWebPageRequest>(request->shared_from_this()))
            requests.insert(resource);
    }

public:
    std::set<std::shared_ptr<NRWebPageRequest>> requests;
    QList<QUrl> urls;
};

// Files this process writes cannot grow past the size while it lives (as
// on a full disk: the write that goes past it fails), SIGXFSZ ignored.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

class Environment {
public:
    Environment(const char *name, const QByteArray &value) : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~Environment() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

// The file a relative reference of a file in the folder names.
QString fileNamed(const QString &folder, const QString &reference) {
    return QDir::cleanPath(QDir(folder).filePath(reference));
}

// What a replaced reference holds: the data URL's bytes, or those of the
// local copy it names from the folder (which becomes the copy's folder).
QByteArray copyNamed(int mode, const QString &reference, QString *folder) {
    if (mode == NRWebPageRequest::ReplaceWithData)
        return dataOf(reference);
    const QString path = fileNamed(*folder, reference);
    *folder = QFileInfo(path).path();
    return VNTest::readFile(path);
}

// The bytes of a resource entry: its data, or its file's.
QByteArray entryBytes(const QVariantMap &entry) {
    const QString path = entry.value(QStringLiteral("DataPath")).toString();
    return path.isEmpty() ? entry.value(QStringLiteral("Data")).toByteArray() : VNTest::readFile(path);
}

// Sets a page up to be saved with local copies (mode 2) in the folder
// "page" of dir, with a download cache of its own in "cache".
void saveLocally(const std::shared_ptr<NRWebPageRequest> &page, const QString &dir) {
    auto cache = std::make_shared<NRDownloadCache>();
    EXPECT_FALSE(cache->setStoragePath(dir + QStringLiteral("/cache")));
    QDir().mkpath(dir + QStringLiteral("/page"));
    page->setDownloadCache(cache);
    page->setCachePolicy(NRDoNotReadFromCacheCachePolicy);
    page->setDownloadDestinationPath(dir + QStringLiteral("/page/index.html"));
}

// Runs the page to its end, or cancels it when it does not end in time
// (one that never ends fails its row instead of hanging the test).
std::shared_ptr<NetTest::Outcome> runWatched(const std::shared_ptr<NRWebPageRequest> &page,
                                             const std::function<void()> &whileRunning = {}) {
    auto outcome = std::make_shared<NetTest::Outcome>();
    page->setCompletionBlock([outcome] { ++outcome->finished; });
    page->setFailedBlock([outcome] { ++outcome->failed; });
    page->startAsynchronous();
    if (whileRunning)
        whileRunning();
    if (!VNTest::waitUntil([&] { return outcome->done(); }, 20000)) {
        ADD_FAILURE() << "the page never ended";
        page->clearDelegatesAndCancel();
        VNTest::waitUntil([&] { return page->isFinished(); }, 5000);
    }
    return outcome;
}

}  // namespace

// A picture named by the page and by both its style sheets, fetched once
// and slowly (its answer held back until both sheets have been read): every
// place that names it gets its copy, and each sheet's entry for it holds
// the picture, whatever the mode.
TEST(WebPageRewrite, AURLSharedAcrossThePageTreeIsReplacedEverywhere) {
    const struct {
        const char *name;
        int mode;
    } rows[] = {{"left as they are", NRWebPageRequest::DontReplaceURLs},
                {"data URLs", NRWebPageRequest::ReplaceWithData},
                {"local copies", NRWebPageRequest::ReplaceWithLocalPaths}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = uniqueKey(QStringLiteral("shared"));
        const QString image = heldURL(key);
        const QByteArray picture = "held " + key.toLatin1();
        const QString firstSheet = sheetWith({image}).toString(QUrl::FullyEncoded);
        QUrl second = sheetWith({image});
        QUrlQuery query(second);
        query.addQueryItem(QStringLiteral("n"), QStringLiteral("2"));
        second.setQuery(query);
        const QString secondSheet = second.toString(QUrl::FullyEncoded);
        auto page = NRWebPageRequest::requestWithURL(pageWith({image}, {firstSheet, secondSheet}));
        page->setUrlReplacementMode(row.mode);
        auto dir = VNTest::makeTempDir();
        const QString folder = dir->path() + QStringLiteral("/page");
        if (row.mode == NRWebPageRequest::ReplaceWithLocalPaths)
            saveLocally(page, dir->path());
        Starts starts;
        page->setDelegate(&starts);
        NetTest::Outcome outcome;
        page->setCompletionBlock([&] { ++outcome.finished; });
        page->setFailedBlock([&] { ++outcome.failed; });
        page->startAsynchronous();
        // Both sheets have been read and have looked for what they name.
        const bool sheetsRead = VNTest::waitUntil([&] {
            int read = 0;
            for (const auto &request : starts.requests)
                read += request->url().path() == QLatin1String("/sheet") &&
                        (request->externalResourceQueue() || request->isFinished());
            return read == 2;
        }, 15000);
        release(key);
        const bool ended = VNTest::waitUntil([&] { return outcome.done(); }, 20000);
        EXPECT_TRUE(sheetsRead);
        EXPECT_TRUE(ended);
        EXPECT_EQ(outcome.finished, 1) << errorText(page);
        if (outcome.finished != 1)
            continue;
        for (const auto &sheet : starts.requests) {
            if (sheet->url().path() != QLatin1String("/sheet"))
                continue;
            EXPECT_FALSE(sheet->resourceList().value(image).value(QStringLiteral("ContentType")).toString().isEmpty());
            EXPECT_EQ(entryBytes(sheet->resourceList().value(image)).toStdString(), picture.toStdString()) << "a sheet's entry";
        }
        const QString html = row.mode == NRWebPageRequest::ReplaceWithLocalPaths
                                 ? QString::fromUtf8(VNTest::readFile(folder + QStringLiteral("/index.html")))
                                 : page->responseString();
        const QStringList refs = references(QString(html).replace(QStringLiteral("&amp;"), QStringLiteral("&")));
        EXPECT_EQ(refs.size(), 3) << html.toStdString();
        if (row.mode == NRWebPageRequest::DontReplaceURLs) {
            EXPECT_EQ(refs, (QStringList{firstSheet, secondSheet, image})) << html.toStdString();
            continue;
        }
        // The picture in the page, and each sheet with the picture in it.
        int sheets = 0;
        for (const QString &ref : refs) {
            const bool local = row.mode == NRWebPageRequest::ReplaceWithLocalPaths;
            const QByteArray copy = local ? VNTest::readFile(fileNamed(folder, ref)) : dataOf(ref);
            if (copy == picture)
                continue;
            ++sheets;
            const QStringList inSheet = references(QString::fromUtf8(copy));
            EXPECT_EQ(inSheet.size(), 1) << copy.constData();
            for (const QString &named : inSheet) {
                const QString sheetFolder = QFileInfo(fileNamed(folder, ref)).path();
                EXPECT_EQ((local ? VNTest::readFile(fileNamed(sheetFolder, named)) : dataOf(named)).toStdString(), picture.toStdString())
                    << "the sheet keeps " << named.toStdString();
            }
        }
        EXPECT_EQ(sheets, 2) << html.toStdString();
    }
}

// Five pages framed by a page (as its images), each naming the page's own
// style sheet: the sheet comes last in the page's queue (a page's
// references are queued from its last), and the five pages waiting for it
// are more than the queue's four places; so are five pages each framing one
// of them (their own queues wait only for the sheet). The page ends, each
// place names the sheet as the mode says, and each entry for it holds it.
TEST(WebPageRewrite, PagesWaitingForTheirTreeGiveUpTheirPlaces) {
    const QString sheet = sheetWith({QStringLiteral("/bytes?n=300")}).toString(QUrl::FullyEncoded);
    const struct {
        const char *name;
        int mode;
        int levels;  // of frames above the sheet
    } rows[] = {{"left as they are", NRWebPageRequest::DontReplaceURLs, 1},
                {"data URLs", NRWebPageRequest::ReplaceWithData, 1},
                {"local copies", NRWebPageRequest::ReplaceWithLocalPaths, 1},
                {"frames of frames", NRWebPageRequest::ReplaceWithData, 2}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QStringList frames;
        for (int i = 0; i < 5; ++i) {
            QUrl frame = pageWith({}, {sheet});
            for (int level = 1; level <= row.levels; ++level) {
                QUrlQuery query(frame);
                query.addQueryItem(QStringLiteral("frame"), QString::number(i));
                frame.setQuery(query);
                if (level < row.levels)
                    frame = pageWith({frame.toString(QUrl::FullyEncoded)});
            }
            frames << frame.toString(QUrl::FullyEncoded);
        }
        auto page = NRWebPageRequest::requestWithURL(pageWith(frames, {sheet}));
        page->setUrlReplacementMode(row.mode);
        auto dir = VNTest::makeTempDir();
        if (row.mode == NRWebPageRequest::ReplaceWithLocalPaths)
            saveLocally(page, dir->path());
        Starts starts;
        page->setDelegate(&starts);
        const auto outcome = runWatched(page);
        EXPECT_EQ(outcome->finished, 1) << errorText(page);
        if (outcome->finished != 1)
            continue;
        int entries = 0;
        for (const auto &request : starts.requests) {
            const QVariantMap entry = request->resourceList().value(sheet);
            if (request == page || entry.isEmpty())
                continue;
            ++entries;
            EXPECT_TRUE(entry.value(QStringLiteral("ContentType")).toString().startsWith(QLatin1String("text/css")));
            EXPECT_TRUE(entryBytes(entry).contains(".r0 {")) << "a framed page's entry";
        }
        EXPECT_EQ(entries, 5);
        const QString folder = dir->path() + QStringLiteral("/page");
        const auto referencesOf = [](const QString &text) {
            return references(QString(text).replace(QStringLiteral("&amp;"), QStringLiteral("&")));
        };
        const QStringList refs = referencesOf(row.mode == NRWebPageRequest::ReplaceWithLocalPaths
                                                  ? QString::fromUtf8(VNTest::readFile(folder + QStringLiteral("/index.html")))
                                                  : page->responseString());
        if (row.mode == NRWebPageRequest::DontReplaceURLs) {
            EXPECT_EQ(refs, QStringList{sheet} + frames);
            continue;
        }
        // Each place, levels of frames above the sheet, holds the next
        // level down; the sheet holds the picture.
        std::function<void(const QString &, QString, int)> expectPlace = [&](const QString &reference, QString where, int levels) {
            const QByteArray copy = copyNamed(row.mode, reference, &where);
            const QStringList named = referencesOf(QString::fromUtf8(copy));
            EXPECT_EQ(named.size(), 1) << levels << " levels above the sheet: " << copy.constData();
            for (const QString &ref : named) {
                if (levels > 0)
                    expectPlace(ref, where, levels - 1);
                else
                    EXPECT_EQ(copyNamed(row.mode, ref, &where), NetTest::pattern(300)) << "the sheet keeps " << ref.toStdString();
            }
        };
        EXPECT_EQ(refs.size(), 6);
        for (int i = 0; i < refs.size(); ++i)
            expectPlace(refs[i], folder, i == 0 ? 0 : row.levels);
    }
}

// A resource that ends unheard by its page's queue still ends for the rest
// of the tree: silenced by whoever holds it (the page's delegate hears of
// every resource) and kept, or cancelled by a reset of its sheet's queue
// (the sheet then cancelled, and nobody holding either). A sheet waiting
// for it goes on, keeping its reference, and so does a page naming its own
// resource in two spellings (which never waits for itself). The page
// cancelled while its sheet waits for the resource ends with every request
// of its tree, each cancelled. The other rows let the resource end as
// usual. No URL is fetched twice.
TEST(WebPageRewrite, AResourceSilencedInFlightHoldsUpNobody) {
    enum End { Ends, Silenced, SheetsQueueReset, PageCancelled };
    const struct {
        const char *name;
        bool held;           // the resource is the other origin's held answer (else plain bytes)
        const char *second;  // the page names it again so (a held one: before its key)
        int sheets;          // sheets naming the resource too
        End end;
    } rows[] = {
        {"a shared resource that ends", true, nullptr, 1, Ends},
        {"a shared resource silenced in flight", true, nullptr, 1, Silenced},
        {"a shared resource whose sheet's queue is reset", true, nullptr, 2, SheetsQueueReset},
        {"one URL in two spellings", false, "./bytes?n=300", 0, Ends},
        {"one URL with a fragment", false, "/bytes?n=300#part", 0, Ends},
        {"one URL in two spellings, silenced in flight", true, "/./hold?key=", 0, Silenced},
        {"a shared resource whose page is cancelled", true, nullptr, 1, PageCancelled},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString key = uniqueKey(QStringLiteral("silenced"));
        const QString resource = row.held ? heldURL(key) : QStringLiteral("/bytes?n=300");
        const QByteArray copy = row.held ? "held " + key.toLatin1() : NetTest::pattern(300);
        // A sheet fetching it fails once its queue is reset: the page goes
        // on without it (so the sheet fetches it: the page does not name it).
        const bool reset = row.end == SheetsQueueReset;
        QStringList refs, sheets;
        if (!reset)
            refs << resource;
        if (row.second)
            refs << (row.held ? otherOrigin() + QLatin1String(row.second) + key : QLatin1String(row.second));
        for (int n = 1; n <= row.sheets; ++n)
            sheets << sheetWith({resource}).toString(QUrl::FullyEncoded) + QStringLiteral("&n=%1").arg(n);
        auto page = NRWebPageRequest::requestWithURL(pageWith(refs, sheets));
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        page->setShouldIgnoreExternalResourceErrors(!reset);
        Starts starts;
        page->setDelegate(&starts);
        NetTest::Outcome outcome;
        page->setCompletionBlock([&] { ++outcome.finished; });
        page->setFailedBlock([&] { ++outcome.failed; });
        page->startAsynchronous();
        // The resource is on its way, and the sheet waits for it.
        bool ready = true;
        if (row.held) {
            ready = VNTest::waitUntil([&] {
                int sheetsWaiting = 0;
                for (const auto &request : starts.requests)
                    sheetsWaiting += request->url().path() == QLatin1String("/sheet") && request->externalResourceQueue() != nullptr;
                return sheetsWaiting == sheets.size();
            }, 15000) && VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });
        }
        // The resource's request in a page's or sheet's queue (not its HEAD).
        const auto fetchIn = [](const std::shared_ptr<NRWebPageRequest> &fetcher) {
            const auto queue = fetcher->externalResourceQueue();
            for (const auto &request : queue ? queue->operations() : std::vector<std::shared_ptr<NRHTTPRequest>>{})
                if (request->url().path() == QLatin1String("/hold") && !request->mainRequest())
                    return request;
            return std::shared_ptr<NRHTTPRequest>();
        };
        int silenced = 0;
        std::shared_ptr<NRHTTPRequest> silencedRequest;  // kept until the page has ended
        std::vector<std::shared_ptr<NRHTTPRequest>> tree;  // of a cancelled page
        if (row.end == Silenced && (silencedRequest = fetchIn(page))) {
            silencedRequest->clearDelegatesAndCancel();
            ++silenced;
        } else if (reset) {
            std::shared_ptr<NRWebPageRequest> sheet;
            for (const auto &request : starts.requests)
                sheet = fetchIn(request) ? request : sheet;
            starts.requests.clear();
            if (sheet) {
                sheet->externalResourceQueue()->reset();
                sheet->cancel();
                ++silenced;
            }
        } else if (row.end == PageCancelled) {
            // The tree: the page, its sheet and the resource in flight.
            for (const auto &request : starts.requests)
                tree.push_back(request);
            if (auto resourceRequest = fetchIn(page))
                tree.push_back(resourceRequest);
            page->cancel();
        } else if (row.held) {
            release(key);
        }
        const bool ended = VNTest::waitUntil([&] { return outcome.done(); }, 20000);
        if (row.end == PageCancelled) {
            const auto unended = [&] {
                QStringList urls;
                for (const auto &request : tree)
                    if (!request->isFinished())
                        urls << request->url().toString();
                return urls;
            };
            const bool treeEnded = VNTest::waitUntil([&] { return unended().isEmpty(); }, 10000);
            release(key);
            EXPECT_TRUE(ready);
            EXPECT_TRUE(ended) << "the page never ended";
            EXPECT_EQ(tree.size(), 3u);
            EXPECT_TRUE(treeEnded) << "never ended: " << unended().join(QLatin1Char(' ')).toStdString();
            for (const auto &request : tree)
                EXPECT_EQ(NetTest::errorCode(request), NRHTTPRequest::RequestCancelledErrorType)
                    << request->url().toString().toStdString();
            continue;
        }
        silencedRequest.reset();
        if (row.held && row.end != Ends)
            release(key);
        EXPECT_TRUE(ready);
        EXPECT_EQ(silenced, row.end == Ends ? 0 : 1);
        EXPECT_TRUE(ended) << "the page never ended";
        const QUrl fetched = page->url().resolved(QUrl(resource));
        EXPECT_LE(std::count_if(starts.urls.begin(), starts.urls.end(),
                                [&](const QUrl &url) { return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments) == fetched; }),
                  1);
        EXPECT_EQ(outcome.finished, 1) << errorText(page);
        if (outcome.finished != 1) {
            page->clearDelegatesAndCancel();
            VNTest::waitUntil([&] { return page->isFinished(); }, 5000);
            continue;
        }
        // A resource stopped in flight leaves every reference to it as it
        // was; one that ended is in every place that names it.
        const auto expectCopy = [&](const QString &reference, const QString &asFound, const char *where) {
            if (row.end != Ends)
                EXPECT_EQ(reference.toStdString(), asFound.toStdString()) << where;
            else
                EXPECT_EQ(dataOf(reference).toStdString(), copy.toStdString()) << where << " keeps " << reference.toStdString();
        };
        const QString html = page->responseString();
        QStringList images, inlinedSheets;
        for (const QString &reference : references(QString(html).replace(QStringLiteral("&amp;"), QStringLiteral("&"))))
            (reference.startsWith(QLatin1String("data:text/css")) ? inlinedSheets : images) << reference;
        // The failed sheet keeps its reference.
        EXPECT_EQ(images.size(), refs.size() + reset) << html.toStdString();
        for (int i = 0; i < images.size() && i < refs.size(); ++i)
            expectCopy(images[i], refs[i], "the page");
        EXPECT_EQ(inlinedSheets.size(), sheets.size() - reset) << html.toStdString();
        for (const QString &inlined : inlinedSheets) {
            const QStringList inSheet = references(QString::fromUtf8(dataOf(inlined)));
            EXPECT_EQ(inSheet.size(), 1) << dataOf(inlined).constData();
            for (const QString &reference : inSheet)
                expectCopy(reference, resource, "the sheet");
        }
    }
}

// An error page or style sheet is scanned like any other, and shows what it
// names; an error page with a download destination leaves that file alone.
// A reply to HEAD has nothing to scan, and an error page that is no page
// (empty) is no failure of the page that names it.
TEST(WebPageRewrite, ErrorPagesAreScannedAndRewritten) {
    const QString image = NetTest::fake(QStringLiteral("/bytes?n=300")).toString();
    const QString copy = QStringLiteral("data:application/octet-stream;base64,") + QString::fromLatin1(NetTest::pattern(300).toBase64());
    const auto withStatus = [](QUrl url, const QString &status, bool empty = false) {
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("status"), status);
        if (empty)
            query.addQueryItem(QStringLiteral("empty"), QStringLiteral("1"));
        url.setQuery(query);
        return url;
    };
    const struct {
        const char *name;
        QUrl url;
        const char *method;
        bool destination;
        int status;
        int type;
        bool rewritten;
    } rows[] = {
        {"a page that is not found", withStatus(pageWith({image}), "404"), "GET", false, 404, NRWebPageRequest::HTMLContent, true},
        {"a server's error page", withStatus(pageWith({image}), "500"), "GET", false, 500, NRWebPageRequest::HTMLContent, true},
        {"a style sheet that is not found", withStatus(sheetWith({image}), "404"), "GET", false, 404,
         NRWebPageRequest::CSSContent, true},
        {"an error page beside a download", withStatus(pageWith({image}), "404"), "GET", true, 404, NRWebPageRequest::HTMLContent,
         true},
        {"a page naming an empty error page", pageWith({withStatus(pageWith({}), "404", true).toString()}), "GET", false, 200,
         NRWebPageRequest::HTMLContent, false},
        {"a reply to HEAD", pageWith({image}), "HEAD", false, 200, NRWebPageRequest::OtherContent, false},
    };
    auto dir = VNTest::makeTempDir();
    const Environment cacheHome("XDG_CACHE_HOME", QFile::encodeName(dir->path() + QStringLiteral("/cache")));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto page = NRWebPageRequest::requestWithURL(row.url);
        page->setRequestMethod(QLatin1String(row.method));
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        const QString destination = dir->path() + QStringLiteral("/%1.html").arg(QString::fromLatin1(row.name).replace(' ', '-'));
        if (row.destination) {
            VNTest::writeFile(destination, "the file that was there");
            page->setDownloadDestinationPath(destination);
        }
        const auto outcome = NetTest::run(page);
        EXPECT_EQ(outcome->finished, 1) << errorText(page);
        EXPECT_EQ(page->responseStatusCode(), row.status);
        EXPECT_EQ(page->webContentType(), row.type);
        EXPECT_EQ(page->responseString().contains(copy), row.rewritten) << page->responseString().toStdString();
        if (row.destination)
            EXPECT_EQ(VNTest::readFile(destination), QByteArray("the file that was there"));
    }
}

// The rewritten sheet does not fit on the disk (its file cannot grow past
// the size of the sheet as it came, which only shows when the written
// bytes go out at the close): the sheet as it came stays, and the request
// fails instead of reporting it saved.
TEST(WebPageRewrite, AStyleSheetThatCannotBeWrittenWholeStaysAsItCame) {
    auto dir = VNTest::makeTempDir();
    const Environment cacheHome("XDG_CACHE_HOME", QFile::encodeName(dir->path() + QStringLiteral("/cache")));
    const QString key = uniqueKey(QStringLiteral("a-style-sheet-on-a-full-disk"));
    auto sheet = NRWebPageRequest::requestWithURL(sheetWith({heldURL(key)}));
    sheet->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    const QString path = dir->path() + QStringLiteral("/style.css");
    sheet->setDownloadDestinationPath(path);
    NetTest::Outcome outcome;
    sheet->setCompletionBlock([&] { ++outcome.finished; });
    sheet->setFailedBlock([&] { ++outcome.failed; });
    sheet->startAsynchronous();
    // The sheet is in its file and its picture on the way.
    const bool started = VNTest::waitUntil([&] { return otherOriginSaw(QStringLiteral("/hold?key=") + key); });
    const QByteArray arrived = VNTest::readFile(path);
    bool ended = false;
    {
        const FileSizeLimit full(rlim_t(arrived.size()));
        release(key);
        ended = VNTest::waitUntil([&] { return outcome.done(); }, 20000);
    }
    EXPECT_TRUE(started);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(arrived.contains("url(http")) << arrived.constData();
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(NetTest::errorCode(sheet), NRWebPageRequest::ParseOrWriteError) << errorText(sheet);
    EXPECT_EQ(VNTest::readFile(path), arrived);
    EXPECT_EQ(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("style.css")})
        << "a part file was left";
}

// The reply's bytes as a plain request has them.
QByteArray plainReply(const QUrl &url) {
    auto plain = NRHTTPRequest::requestWithURL(url);
    return NetTest::run(plain)->finished == 1 ? plain->responseData() : QByteArray();
}

// A page or sheet in a file larger than the request's body bound is not
// read (it could be any size): it finishes as it came, as other content.
TEST(WebPageRewrite, APageOrSheetPastTheBodyBoundIsNotScanned) {
    const QString resource = QStringLiteral("/bytes?n=300");
    const struct {
        const char *name;
        QUrl url;
        quint64 bound;
        int type;  // what it is read as (other content: not read)
    } rows[] = {
        {"a page within the bound", pageWith({resource}), 1 << 20, NRWebPageRequest::HTMLContent},
        {"a page past the bound", pageWith({resource}), 16, NRWebPageRequest::OtherContent},
        {"a sheet within the bound", sheetWith({resource}), 1 << 20, NRWebPageRequest::CSSContent},
        {"a sheet past the bound", sheetWith({resource}), 16, NRWebPageRequest::OtherContent},
    };
    auto dir = VNTest::makeTempDir();
    const Environment cacheHome("XDG_CACHE_HOME", QFile::encodeName(dir->path() + QStringLiteral("/cache")));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray arrived = plainReply(row.url);
        EXPECT_GT(arrived.size(), 16);
        auto request = NRWebPageRequest::requestWithURL(row.url);
        request->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        request->setMaximumResponseDataSize(row.bound);
        const QString path = dir->path() + QStringLiteral("/%1").arg(QString::fromLatin1(row.name).replace(' ', '-'));
        request->setDownloadDestinationPath(path);
        const auto outcome = NetTest::run(request);
        EXPECT_EQ(outcome->finished, 1) << errorText(request);
        EXPECT_EQ(request->webContentType(), row.type);
        const bool scanned = row.type != NRWebPageRequest::OtherContent;
        EXPECT_EQ(request->externalResourceQueue() != nullptr, scanned);
        EXPECT_EQ(VNTest::readFile(path) == arrived, !scanned) << VNTest::readFile(path).constData();
        EXPECT_EQ(VNTest::readFile(path).contains("data:"), scanned) << VNTest::readFile(path).constData();
    }
}

// A rewrite whose result would pass the request's body bound fails (the
// engine's too large error) and leaves the page or sheet as it came: a
// resource too large to inline, or sheets that each fit inlined into a
// page that does not.
TEST(WebPageRewrite, ARewriteThatWouldPassTheBodyBoundFails) {
    const QString image = QStringLiteral("/bytes?n=3000");  // 4,000 bytes and more as a data: URL
    const QStringList sheets{sheetWith({QStringLiteral("/bytes?n=1200")}).toString(QUrl::FullyEncoded),
                             sheetWith({QStringLiteral("/bytes?n=1201")}).toString(QUrl::FullyEncoded)};
    const struct {
        const char *name;
        QUrl url;
        quint64 bound;
        bool fails;
    } rows[] = {
        {"a page whose rewrite fits", pageWith({image}), 1 << 20, false},
        {"a page whose rewrite passes the bound", pageWith({image}), 3000, true},
        {"a sheet whose rewrite fits", sheetWith({image}), 1 << 20, false},
        {"a sheet whose rewrite passes the bound", sheetWith({image}), 3000, true},
        {"sheets that fit make a page that fits", pageWith({}, sheets), 1 << 20, false},
        {"sheets that fit make a page that does not", pageWith({}, sheets), 3000, true},
    };
    auto dir = VNTest::makeTempDir();
    const Environment cacheHome("XDG_CACHE_HOME", QFile::encodeName(dir->path() + QStringLiteral("/cache")));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray arrived = plainReply(row.url);
        EXPECT_FALSE(arrived.isEmpty());
        const QString folder = dir->path() + QStringLiteral("/%1").arg(QString::fromLatin1(row.name).replace(' ', '-'));
        QDir().mkpath(folder);
        const QString path = folder + QStringLiteral("/reply");
        auto request = NRWebPageRequest::requestWithURL(row.url);
        request->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        request->setMaximumResponseDataSize(row.bound);
        request->setDownloadDestinationPath(path);
        const auto outcome = NetTest::run(request);
        EXPECT_EQ(outcome->finished, row.fails ? 0 : 1) << errorText(request);
        EXPECT_EQ(outcome->failed, row.fails ? 1 : 0);
        EXPECT_EQ(NetTest::errorCode(request), row.fails ? NRHTTPRequest::ResponseTooLargeErrorType : 0) << errorText(request);
        if (row.fails) {
            EXPECT_TRUE(QString::fromStdString(errorText(request)).contains(QStringLiteral("too large"))) << errorText(request);
            EXPECT_EQ(VNTest::readFile(path), arrived) << "the reply as it came is gone";
        } else {
            EXPECT_TRUE(VNTest::readFile(path).contains("data:")) << VNTest::readFile(path).constData();
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("reply")});
    }
}

// A page's settings changed while it is rewritten (on a worker) do not
// change the rewrite: it goes on with those it started with.
TEST(WebPageRewrite, ARewriteKeepsTheSettingsItStartedWith) {
    const QString copy = QStringLiteral("data:application/octet-stream;base64,") +
                         QString::fromLatin1(NetTest::pattern(300).toBase64());
    const struct {
        const char *name;
        std::function<void(NRWebPageRequest &)> change;
    } rows[] = {
        {"nothing changed", [](NRWebPageRequest &) {}},
        {"its resource list emptied", [](NRWebPageRequest &page) { page.setResourceList({}); }},
        {"its mode changed", [](NRWebPageRequest &page) { page.setUrlReplacementMode(NRWebPageRequest::ReplaceWithLocalPaths); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto page = NRWebPageRequest::requestWithURL(pageWith({QStringLiteral("/bytes?n=300")}));
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        std::atomic<bool> changed{false};
        NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::StartingRewrite, [&](NRWebPageRequest &request) {
            if (&request == page.get() && !changed.exchange(true))
                row.change(request);
        });
        const auto outcome = runWatched(page);
        NRWebPageRequest::setHookForTesting(NRWebPageRequest::TestPoint::StartingRewrite, nullptr);
        EXPECT_TRUE(changed);
        EXPECT_EQ(outcome->finished, 1) << errorText(page);
        EXPECT_TRUE(page->responseString().contains(QStringLiteral("src=\"%1\"").arg(copy))) << page->responseString().toStdString();
    }
}

// What a deferred finish rewrites, anybody may: the reply's body is set as
// it is kept.
TEST(WebPageRewrite, TheReplysBodyCanBeSet) {
    auto request = NRWebPageRequest::requestWithURL(NetTest::fake(QStringLiteral("/bytes?n=10")));
    request->setRawResponseData("<p>set</p>");
    EXPECT_EQ(request->rawResponseData(), QByteArray("<p>set</p>"));
    EXPECT_EQ(request->responseData(), QByteArray("<p>set</p>"));
}

#include "WebPageRewriteTest.moc"
