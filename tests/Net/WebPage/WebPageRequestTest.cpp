// Web-page requests against nginx's static site: the page saved with data
// URLs and with relative paths to local copies, both opening with their
// images, references to what could not be had left alone.
#include "Net/NRDownloadCache.h"
#include "Net/NRWebPageRequest.h"
#include "Net/NetTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString site(const QString &path) {
    return QStringLiteral("http://127.0.0.1:%1/site/%2")
        .arg(VNTest::peerState(QStringLiteral("nginx"))[QStringLiteral("port")].toInt())
        .arg(path);
}

// The values of every src, href and url(...) reference of a page.
QStringList references(const QString &page) {
    QStringList found;
    static const QRegularExpression pattern(QStringLiteral("(?:src|href)=\"([^\"]*)\"|url\\(['\"]?([^'\")]*)"));
    for (auto it = pattern.globalMatch(page); it.hasNext();) {
        const auto match = it.next();
        found << (match.captured(1).isEmpty() ? match.captured(2) : match.captured(1));
    }
    return found;
}

QByteArray dataOf(const QString &dataURL) {
    return QByteArray::fromBase64(dataURL.section(QLatin1Char(','), 1).toLatin1());
}

QString siteLog() {
    return QString::fromUtf8(VNTest::readFile(VNTest::peerState(QStringLiteral("nginx"))[QStringLiteral("site_log")].toString()));
}

QString errorText(const std::shared_ptr<NRHTTPRequest> &request) {
    return request->error() ? request->error()->localizedDescription() : QString();
}

}  // namespace

TEST(WebPageRequest, CSSURLsAndRelativePaths) {
    EXPECT_EQ(NRWebPageRequest::CSSURLsFromString("a { b: url( 'x.png' ) } c { d: URL(\"y.gif\") } e { url(z)"),
              (QStringList{"x.png", "y.gif", "z"}));
    EXPECT_TRUE(NRWebPageRequest::CSSURLsFromString("no references").isEmpty());
    EXPECT_EQ(NRWebPageRequest::relativePathTo("/c/r.html", "/a/b/p.html"), "../../c/r.html");
    EXPECT_EQ(NRWebPageRequest::relativePathTo("/a/b/r.html", "/a/b/p.html"), "r.html");
    EXPECT_EQ(NRWebPageRequest::relativePathTo("/a/b/r.html", QString()), "");
}

TEST(WebPageRequest, PageSavedWithDataURLsCarriesItsImagesAndStyleSheets) {
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("index.html")));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    auto outcome = NetTest::run(page);
    ASSERT_EQ(outcome->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    EXPECT_EQ(page->webContentType(), NRWebPageRequest::HTMLContent);
    const QString html = page->responseString();
    const QStringList refs = references(html);
    const QString pic = "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG pic").toBase64());
    const QString bg = "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG bg").toBase64());
    EXPECT_TRUE(refs.contains(pic)) << html.toStdString();
    EXPECT_EQ(refs.count(bg), 2) << "the style element and the style attribute";
    // Left alone: a missing image, a link and an icon that is no style sheet.
    for (const QString &kept : {"img/missing.png", "other.html", "favicon.png"})
        EXPECT_TRUE(refs.contains(kept)) << kept.toStdString();
    // The style sheet is inlined with its own image inlined in turn.
    const auto sheet = std::find_if(refs.begin(), refs.end(), [](const QString &r) { return r.startsWith("data:text/css"); });
    ASSERT_NE(sheet, refs.end());
    EXPECT_TRUE(QString::fromLatin1(dataOf(*sheet)).contains(
        "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG head").toBase64())));
}

TEST(WebPageRequest, PageSavedWithLocalCopiesOpensWithItsImages) {
    auto dir = VNTest::makeTempDir();
    auto cache = std::make_shared<NRDownloadCache>();
    ASSERT_FALSE(cache->setStoragePath(dir->path() + "/cache"));
    QDir().mkpath(dir->path() + "/page");
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("index.html")));
    page->setDownloadCache(cache);
    page->setCachePolicy(NRDoNotReadFromCacheCachePolicy);
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithLocalPaths);
    page->setDownloadDestinationPath(dir->path() + "/page/index.html");
    auto outcome = NetTest::run(page);
    ASSERT_EQ(outcome->finished, 1) << (page->error() ? page->error()->localizedDescription().toStdString() : "");
    const QString html = QString::fromUtf8(VNTest::readFile(dir->path() + "/page/index.html"));
    const QStringList refs = references(html);
    int local = 0;
    for (const QString &ref : refs) {
        if (!ref.startsWith("../cache/"))
            continue;
        ++local;
        EXPECT_TRUE(QFileInfo::exists(dir->path() + "/page/" + ref)) << ref.toStdString();
    }
    EXPECT_EQ(local, 4) << html.toStdString();  // the style sheet, the picture and the background twice
    EXPECT_TRUE(refs.contains("img/missing.png"));
    EXPECT_TRUE(refs.contains(site("other.html"))) << "links point back to the site";
    const QString pic = cache->pathToCachedResponseDataForURL(QUrl(site("img/pic.png")));
    ASSERT_FALSE(pic.isNull());
    EXPECT_EQ(VNTest::readFile(pic), QByteArray("\x89PNG pic"));
}

TEST(WebPageRequest, StyleSheetsThatImportOthersNeverHoldTheSharedQueue) {
    // Each of the four sheets waits for the sheet it imports. A listing
    // started beside the page still gets its turn, and the page finishes
    // with every sheet and import inlined.
    const qsizetype logged = siteLog().size();
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("imports.html")));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    NetTest::Outcome outcome;
    page->setCompletionBlock([&] { ++outcome.finished; });
    page->setFailedBlock([&] { ++outcome.failed; });
    page->startAsynchronous();
    // Once three sheets have come (with the page, as many as the shared
    // queue runs at once), a listing starts beside it.
    ASSERT_TRUE(VNTest::waitUntil([&] { return siteLog().mid(logged).count("GET /site/css/s") >= 3; }, 20000));
    auto listing = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:%1/files/1k.bin")
                                                          .arg(VNTest::peerState("nginx")["port"].toInt())));
    EXPECT_EQ(NetTest::run(listing, 20000)->finished, 1) << "the listing waited behind the page";
    ASSERT_TRUE(VNTest::waitUntil([&] { return outcome.done(); }, 20000));
    ASSERT_EQ(outcome.finished, 1) << errorText(page).toStdString();
    const QStringList refs = references(page->responseString());
    EXPECT_EQ(refs.size(), 4) << page->responseString().toStdString();
    for (int i = 1; i <= 4 && i <= refs.size(); ++i) {
        SCOPED_TRACE(QStringLiteral("sheet %1").arg(i).toStdString());
        const QString sheet = QString::fromLatin1(dataOf(refs[i - 1]));
        EXPECT_TRUE(sheet.contains(QStringLiteral("h%1 { color: red }").arg(i))) << sheet.toStdString();
        const QStringList imported = references(sheet);
        EXPECT_EQ(imported.size(), 1) << sheet.toStdString();
        for (const QString &import : imported) {
            const QString importedSheet = QString::fromLatin1(dataOf(import));
            EXPECT_TRUE(importedSheet.contains(QStringLiteral("imported %1").arg(i))) << importedSheet.toStdString();
            // The picture all four imports name, fetched by one of them, is
            // in each of them.
            const QStringList pictures = references(importedSheet);
            EXPECT_EQ(pictures.size(), 1) << importedSheet.toStdString();
            for (const QString &picture : pictures)
                EXPECT_EQ(dataOf(picture).toStdString(), std::string("\x89PNG pic")) << "keeps " << picture.toStdString();
        }
    }
}

TEST(WebPageRequest, ReferencesThatNameNothingToDownloadAreLeftAlone) {
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("frames.html")));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    ASSERT_EQ(NetTest::run(page)->finished, 1) << errorText(page).toStdString();
    const QStringList refs = references(page->responseString());
    for (const QString &kept : {"about:blank", "ABOUT:srcdoc", "javascript:void(0)", "data:image/png;base64,iVBORw0KGgo="})
        EXPECT_TRUE(refs.contains(kept)) << kept.toStdString() << " in " << page->responseString().toStdString();
    EXPECT_TRUE(refs.contains("data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG pic").toBase64())));
}

TEST(WebPageRequest, ResourcesLearnTheirSizesFirstWhenThePageShowsAccurateProgress) {
    // The resource queue shows progress as the page does: accurately, with
    // a HEAD request before each resource; else one unit each, without.
    for (const bool accurate : {true, false}) {
        SCOPED_TRACE(accurate ? "accurate progress" : "one unit each");
        const qsizetype seen = siteLog().size();
        auto page = NRWebPageRequest::requestWithURL(QUrl(site("frames.html")));
        page->setShowAccurateProgress(accurate);
        const int finished = NetTest::run(page)->finished;
        EXPECT_EQ(finished, 1) << errorText(page).toStdString();
        if (finished != 1)
            continue;
        const QString log = siteLog().mid(seen);
        EXPECT_TRUE(log.contains("GET /site/img/pic.png")) << log.toStdString();
        EXPECT_EQ(log.contains("HEAD /site/img/pic.png"), accurate) << log.toStdString();
    }
}

TEST(WebPageRequest, TheReplyIsCachedAsItArrivedAndAgainAsRewritten) {
    // As it arrived, whatever becomes of the page (here its resource fails,
    // and so does the page); as rewritten, once it is, when it is.
    const struct {
        const char *page;
        int mode;
        bool finishes;
        bool rewritten;
    } cases[] = {
        {"broken.html", NRWebPageRequest::DontReplaceURLs, false, false},
        {"broken.html", NRWebPageRequest::ReplaceWithData, false, false},
        {"frames.html", NRWebPageRequest::DontReplaceURLs, true, false},
        {"frames.html", NRWebPageRequest::ReplaceWithData, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.page) + " in mode " + std::to_string(c.mode));
        auto dir = VNTest::makeTempDir();
        auto cache = std::make_shared<NRDownloadCache>();
        if (cache->setStoragePath(dir->path() + "/cache")) {
            ADD_FAILURE() << "no cache";
            continue;
        }
        auto page = NRWebPageRequest::requestWithURL(QUrl(site(c.page)));
        page->setDownloadCache(cache);
        page->setUrlReplacementMode(c.mode);
        const auto outcome = NetTest::run(page);
        EXPECT_EQ(outcome->finished, c.finishes ? 1 : 0) << c.page << " " << c.mode;
        const QString cached = QString::fromUtf8(cache->cachedResponseDataForURL(page->url()));
        EXPECT_TRUE(cached.contains("<img src=\"")) << c.page << " " << c.mode << ": " << cached.toStdString();
        EXPECT_EQ(cached.contains("data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG pic").toBase64())),
                  c.rewritten)
            << c.page << " " << c.mode;
    }
}


TEST(WebPageRequest, EachURLIsFetchedOnceInAPageTree) {
    // Style sheets importing each other, and a page framing itself: each
    // page ends, every URL asked for once.
    const struct {
        const char *page;
        QStringList fetched;
    } cases[] = {
        {"loop/mutual.html", {"loop/mutual.html", "loop/a.css", "loop/b.css", "img/pic.png"}},
        {"loop/self.html", {"loop/self.html", "img/pic.png"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.page);
        const qsizetype seen = siteLog().size();
        auto page = NRWebPageRequest::requestWithURL(QUrl(site(c.page)));
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        const int finished = NetTest::run(page, 20000)->finished;
        EXPECT_EQ(finished, 1) << errorText(page).toStdString();
        if (finished != 1)
            continue;
        const auto count = [&](const QString &path) { return siteLog().mid(seen).count("GET /site/" + path + " "); };
        EXPECT_TRUE(VNTest::waitUntil([&] { return count(c.fetched.last()) > 0; }, 5000));
        for (const QString &path : c.fetched)
            EXPECT_EQ(count(path), 1) << c.page << ": " << path.toStdString();
        EXPECT_TRUE(page->responseString().contains(
            "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG pic").toBase64())) ||
                    page->responseString().contains("data:text/css"))
            << page->responseString().toStdString();
    }
}

TEST(WebPageRequest, APageFromACompressingServerComesBackInflated) {
    const QString path = QStringLiteral("http://127.0.0.1:%1/gz/one-sheet.html")
                             .arg(VNTest::peerState(QStringLiteral("nginx"))[QStringLiteral("port")].toInt());
    auto plain = NRHTTPRequest::requestWithURL(QUrl(path));
    plain->setAllowCompressedResponse(true);
    ASSERT_EQ(NetTest::run(plain)->finished, 1);
    ASSERT_TRUE(plain->isResponseCompressed()) << "the server sends the page compressed";
    const QString onServer = QString::fromUtf8(VNTest::readFile(
        VNTest::peerState(QStringLiteral("nginx"))[QStringLiteral("root")].toString() + "/site/one-sheet.html"));
    for (const int mode : {int(NRWebPageRequest::DontReplaceURLs), int(NRWebPageRequest::ReplaceWithData)}) {
        SCOPED_TRACE(mode == NRWebPageRequest::DontReplaceURLs ? "left as it is" : "data URLs");
        auto page = NRWebPageRequest::requestWithURL(QUrl(path));
        page->setUrlReplacementMode(mode);
        const int finished = NetTest::run(page)->finished;
        EXPECT_EQ(finished, 1) << errorText(page).toStdString();
        if (finished != 1)
            continue;
        EXPECT_TRUE(page->responseHeader("Content-Encoding").isNull()) << mode;
        const QString html = page->responseString();
        if (mode == NRWebPageRequest::DontReplaceURLs) {
            EXPECT_EQ(html.toStdString(), onServer.toStdString());
        } else {
            EXPECT_TRUE(html.contains("<p>one sheet</p>")) << html.toStdString();
            EXPECT_TRUE(html.contains("data:text/css")) << html.toStdString();
        }
    }
}

TEST(WebPageRequest, AnEmptyPageFailsAsUnparsable) {
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("empty.html")));
    const auto outcome = NetTest::run(page);
    EXPECT_EQ(outcome->failed, 1);
    EXPECT_EQ(NetTest::errorCode(page), NRWebPageRequest::ParseOrWriteError);
    EXPECT_EQ(errorText(page), "Error: unable to parse reponse XML");
}

TEST(WebPageRequest, AStartedPageNeedsNoReferenceHeld) {
    // Only its blocks' outcome is kept here: the page is held while its
    // resources load, and let go once it has ended.
    auto outcome = std::make_shared<NetTest::Outcome>();
    std::weak_ptr<NRWebPageRequest> weak;
    {
        auto page = NRWebPageRequest::requestWithURL(QUrl(site("index.html")));
        page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
        page->setCompletionBlock([outcome] { ++outcome->finished; });
        page->setFailedBlock([outcome] { ++outcome->failed; });
        page->startAsynchronous();
        weak = page;
    }
    ASSERT_TRUE(VNTest::waitUntil([&] { return outcome->done(); }, 20000)) << "the page vanished";
    EXPECT_EQ(outcome->finished, 1);
    EXPECT_TRUE(VNTest::waitUntil([&] { return weak.expired(); }, 5000)) << "the page is never let go";
}

TEST(WebPageRequest, ACopyIsAPageRequestWithThePagesSettings) {
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("index.html")));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithLocalPaths);
    page->setShouldIgnoreExternalResourceErrors(false);
    const auto copy = std::dynamic_pointer_cast<NRWebPageRequest>(page->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->urlReplacementMode(), NRWebPageRequest::ReplaceWithLocalPaths);
    EXPECT_FALSE(copy->shouldIgnoreExternalResourceErrors());
}

TEST(WebPageRequest, AReferenceEndingInAnothersNameKeepsItsOwnResource) {
    // "pic.png" and "img/pic.png" are two images: each reference of the
    // rewritten style sheet carries its own.
    auto sheet = NRWebPageRequest::requestWithURL(QUrl(site("names.css")));
    sheet->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    ASSERT_EQ(NetTest::run(sheet)->finished, 1) << errorText(sheet).toStdString();
    EXPECT_EQ(sheet->webContentType(), NRWebPageRequest::CSSContent);
    const QStringList refs = references(sheet->responseString());
    ASSERT_EQ(refs.size(), 2) << sheet->responseString().toStdString();
    EXPECT_EQ(dataOf(refs[0]), QByteArray("\x89PNG top")) << sheet->responseString().toStdString();
    EXPECT_EQ(dataOf(refs[1]), QByteArray("\x89PNG pic")) << sheet->responseString().toStdString();
}

TEST(WebPageRequest, EveryReferenceToAFetchedURLTakesItsCopy) {
    // Only the image and the poster are fetched (once); the icon naming the
    // same picture takes its copy too, while what nothing fetched stays.
    const qsizetype seen = siteLog().size();
    auto page = NRWebPageRequest::requestWithURL(QUrl(site("icons.html")));
    page->setUrlReplacementMode(NRWebPageRequest::ReplaceWithData);
    ASSERT_EQ(NetTest::run(page)->finished, 1) << errorText(page).toStdString();
    const QString pic = "data:image/png;base64," + QString::fromLatin1(QByteArray("\x89PNG pic").toBase64());
    const QStringList refs = references(page->responseString());
    EXPECT_EQ(refs.count(pic), 2) << page->responseString().toStdString();  // the icon and the image
    EXPECT_TRUE(page->responseString().contains("poster=\"" + pic)) << page->responseString().toStdString();
    EXPECT_TRUE(refs.contains("img/head.png"));
    EXPECT_TRUE(refs.contains("img/bg.ogv"));
    const QString log = siteLog().mid(seen);
    EXPECT_EQ(log.count("GET /site/img/pic.png"), 1) << log.toStdString();
    EXPECT_FALSE(log.contains("/site/img/head.png")) << log.toStdString();
    EXPECT_FALSE(log.contains("/site/img/bg.ogv")) << log.toStdString();
}
