// The debugging descriptions of the photo objects, the query and a
// category filter.
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"
#include "DA/Query/DACategoryFilter.h"
#include "DA/Query/DAQueryGooglePhotos.h"
#include "PhotoSamples.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// The labelled items of a description, in order.
QStringList labels(const QString &description) {
    QStringList out;
    const QString items = description.section(QLatin1String(": {"), 1).chopped(1);
    static const QRegularExpression label(QStringLiteral("(?:^| )([A-Za-z]+):"));
    for (auto it = label.globalMatch(items); it.hasNext();)
        out << it.next().captured(1);
    return out;
}

}  // namespace

TEST(DAPhotoDescriptions, PhotoAlbumAndUserObjectsDescribeTheirValues) {
    auto user = std::dynamic_pointer_cast<DAFeedPhotoUser>(DAFeedBase::feedOfRegisteredClassWithXMLData(userFeedSample));
    ASSERT_TRUE(user);
    const QString userText = user->description();
    for (const char *item : {"maxPhotosPerAlbum:2000", "nickname:Some One", "quotaLimit:16106127360", "quotaUsed:3221225472"})
        EXPECT_TRUE(userText.contains(QLatin1String(item))) << item << " in " << userText.toStdString();
    const QString albumText = user->entries()[0]->description();
    EXPECT_TRUE(albumText.contains("gphotoID:111 access:private bytesUsed:3000000000 commentsEnabled:1 date:2013-04-30 08:00:00 +0000"))
        << albumText.toStdString();
    EXPECT_TRUE(albumText.contains("photosLeft:1958 photosUsed:42")) << albumText.toStdString();

    auto photos = std::dynamic_pointer_cast<DAFeedPhotoAlbum>(DAFeedBase::feedOfRegisteredClassWithXMLData(albumFeedSample));
    ASSERT_TRUE(photos);
    const QString photoText = photos->entries()[0]->description();
    const QStringList photoLabels = labels(photoText);
    const QStringList expected{"gphotoID", "albumID", "commentsEnabled", "height", "width", "size", "mediaGroup", "exifTags", "geoLocation"};
    QStringList seen;
    for (const QString &l : photoLabels)
        if (expected.contains(l) && !seen.contains(l))
            seen << l;
    EXPECT_EQ(seen, expected) << photoText.toStdString();
    EXPECT_TRUE(photoText.contains("albumID:111 commentsEnabled:0 height:9000 width:12000 size:4294967296")) << photoText.toStdString();
}

TEST(DAPhotoDescriptions, QueryAndCategoryFilterNameTheirClassAndValue) {
    auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(QUrl("https://photos.example.test/data/feed/api/user/default"));
    query->setMaxResults(5);
    EXPECT_TRUE(query->description().startsWith("DAQueryGooglePhotos ")) << query->description().toStdString();
    EXPECT_TRUE(query->description().endsWith(": {" + query->URL().toString(QUrl::FullyEncoded) + "}"));
    auto filter = DACategoryFilter::categoryFilter();
    filter->addCategoryWithScheme("urn:s", "t");
    filter->addExcludeCategoryWithScheme(QString(), "x");
    EXPECT_TRUE(filter->description().startsWith("DACategoryFilter "));
    EXPECT_TRUE(filter->description().endsWith(": {" + filter->stringValue() + "}")) << filter->description().toStdString();
}
