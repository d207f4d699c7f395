#include "DA/Query/DAQueryGooglePhotos.h"

#include <gtest/gtest.h>

namespace {
const QString root = DAServiceGooglePhotos::serviceRootURLString();
QString text(const QUrl &url) { return url.toString(QUrl::FullyEncoded); }
}  // namespace

TEST(DAQueries, FeedURLs) {
    struct { const char *user, *albumID, *albumName, *photoID, *kind, *access, *tail; } cases[] = {
        {"default", nullptr, nullptr, nullptr, nullptr, nullptr, "feed/api/user/default"},
        {"a b", "1/2", "name", nullptr, nullptr, nullptr, "feed/api/user/a%20b/albumid/1%2F2"},
        {"u", nullptr, "my album?", nullptr, nullptr, nullptr, "feed/api/user/u/album/my%20album%3F"},
        {"u", "1", nullptr, "p/q", "photo", "all private", "feed/api/user/u/albumid/1/photoid/p/q?kind=photo&access=all+private"},
        {"u", nullptr, nullptr, nullptr, nullptr, "public", "feed/api/user/u?access=public"},
    };
    for (const auto &c : cases) {
        const QUrl url = DAServiceGooglePhotos::photoFeedURLForUserID(c.user, c.albumID, c.albumName, c.photoID, c.kind, c.access);
        EXPECT_EQ(text(url), root + c.tail) << c.tail;
    }
    EXPECT_EQ(text(DAServiceGooglePhotos::photoContactsFeedURLForUserID("u")), root + "feed/api/user/u/contacts?kind=user");
}

TEST(DAQueries, PhotoServiceSignsInAsItselfAndUploadsInStandardChunks) {
    auto service = DAServiceGooglePhotos::make();
    // Asked through the base class, as the sign-in asks it.
    const DAServiceGoogle &google = *service;
    EXPECT_EQ(google.serviceID(), "lh2");
    EXPECT_EQ(service->serviceUploadChunkSize(), DAServiceBase::standardUploadChunkSize);
}

TEST(DAQueries, ParametersAndFilters) {
    const QUrl userFeed = DAServiceGooglePhotos::photoFeedURLForUserID("default", {}, {}, {}, {}, {});
    auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(userFeed);
    EXPECT_EQ(text(query->URL()), text(userFeed));
    query->setMaxResults(1000);
    EXPECT_EQ(text(query->URL()), text(userFeed) + "?max-results=1000");
    query->setImageSize(DAQueryGooglePhotos::originalImageSize);
    EXPECT_EQ(text(query->URL()), text(userFeed) + "?imgmax=d&max-results=1000");  // case-insensitive name order
    EXPECT_EQ(query->imageSize(), DAQueryGooglePhotos::originalImageSize);
    query->setImageSize(0);
    query->setMaxResults(-1);
    EXPECT_EQ(text(query->URL()), text(userFeed));

    auto self = DAQueryGooglePhotos::photoQueryWithFeedURL(QUrl("https://h.test/data/entry/9?kind=photo"));
    self->setImageSize(DAQueryGooglePhotos::originalImageSize);
    EXPECT_EQ(text(self->URL()), "https://h.test/data/entry/9?kind=photo&imgmax=d");
    EXPECT_EQ(text(DAQuery::queryWithFeedURL(QUrl("https://h.test/f?"))->URL()), "https://h.test/f");

    DAQuery q(QUrl("https://h.test/feed/"));
    q.setShouldShowDeleted(true);
    q.setIsStrict(false);
    q.setIsAscendingOrder(true);
    q.setShouldFormatErrorsAsXML(true);
    q.setStartIndex(-1);
    q.setFullTextQueryString("a b&c");
    q.setPublishedMinDateTime(DADateTime::dateTimeWithRFC3339String("2013-01-01T00:00:00Z"));
    auto filter = DACategoryFilter::categoryFilter();
    filter->addCategoryWithScheme("urn:s", "t1");
    filter->addCategoryWithScheme(QString(), "t2");
    filter->addExcludeCategoryWithScheme(QString(), "t3");
    EXPECT_EQ(filter->stringValue(), "{urn:s}t1|t2|-t3");
    q.addCategoryFilter(filter);
    EXPECT_EQ(text(q.URL()), "https://h.test/feed/-/%7Burn%3As%7Dt1%7Ct2%7C-t3?err=xml&published-min=2013-01-01T00%3A00%3A00Z"
                             "&q=a+b%26c&showdeleted=true&sortorder=ascending");
    EXPECT_TRUE(q.shouldShowDeleted());
    EXPECT_TRUE(q.isAscendingOrder());
    EXPECT_EQ(q.publishedMinDateTime()->RFC3339String(), "2013-01-01T00:00:00Z");
    auto copy = q.copy();
    q.setShouldShowDeleted(false);
    EXPECT_TRUE(copy->shouldShowDeleted());

    DAQueryGooglePhotos p;
    p.setThumbsize(0);
    EXPECT_EQ(p.thumbsize(), 0);
    p.setThumbsize(72);
    EXPECT_EQ(p.valueForParameter("thumbsize"), "72");
}
