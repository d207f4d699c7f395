// A page and its style sheets rewritten with what was fetched for them: a
// URL named in several of them, error pages, a sheet that cannot be
// written whole.
#include "Net/NRWebPageRequest.h"
#include "Net/NRDownloadCache.h"
#include "Net/NetTestSupport.h"
#include "WebPageTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sys/resource.h>

using namespace WebPageTest;

namespace {

// Keeps every resource request of a page as it starts.
class Starts : public QObject {
    Q_OBJECT
public slots:
    void requestStarted(NRHTTPRequest *request) {
        if (auto resource = std::dynamic_pointer_cast<NRWebPageRequest>(request->shared_from_this()))
            requests.insert(resource);
    }

public:
    std::set<std::shared_ptr<NRWebPageRequest>> requests;
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

}  // namespace

// A picture named by the page and by both its style sheets, fetched once
// and slowly (its answer held back until both sheets have been read): every
// place that names it gets its copy.
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
        if (row.mode == NRWebPageRequest::ReplaceWithLocalPaths) {
            auto cache = std::make_shared<NRDownloadCache>();
            EXPECT_FALSE(cache->setStoragePath(dir->path() + QStringLiteral("/cache")));
            QDir().mkpath(folder);
            page->setDownloadCache(cache);
            page->setCachePolicy(NRDoNotReadFromCacheCachePolicy);
            page->setDownloadDestinationPath(folder + QStringLiteral("/index.html"));
        }
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

// What a deferred finish rewrites, anybody may: the reply's body is set as
// it is kept.
TEST(WebPageRewrite, TheReplysBodyCanBeSet) {
    auto request = NRWebPageRequest::requestWithURL(NetTest::fake(QStringLiteral("/bytes?n=10")));
    request->setRawResponseData("<p>set</p>");
    EXPECT_EQ(request->rawResponseData(), QByteArray("<p>set</p>"));
    EXPECT_EQ(request->responseData(), QByteArray("<p>set</p>"));
}

#include "WebPageRewriteTest.moc"
