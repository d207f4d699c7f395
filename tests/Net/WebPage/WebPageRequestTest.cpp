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
