#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"
#include "DA/support/DAXmlLint.h"
#include "PhotoSamples.h"

#include <gtest/gtest.h>

TEST(DAPhotoFeeds, UserFeedHoldsAlbumsWithTheirValues) {
    auto feed = std::dynamic_pointer_cast<DAFeedPhotoUser>(DAFeedBase::feedOfRegisteredClassWithXMLData(userFeedSample));
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->quotaLimit(), Q_INT64_C(16106127360));  // above 2^31
    EXPECT_EQ(feed->quotaUsed(), Q_INT64_C(3221225472));
    EXPECT_EQ(feed->maxPhotosPerAlbum(), 2000);
    EXPECT_EQ(feed->nickname(), "Some One");
    EXPECT_EQ(feed->serviceVersion(), "2.0");
    ASSERT_EQ(feed->entries().size(), 2);
    auto album = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(feed->entries()[0]);
    ASSERT_TRUE(album);
    EXPECT_TRUE(std::dynamic_pointer_cast<DAEntryPhotoAlbum>(feed->entries()[1]));
    EXPECT_EQ(album->GPhotoID(), "111");
    EXPECT_EQ(album->title()->stringValue(), "Holiday");
    EXPECT_EQ(album->photoDescription()->stringValue(), "By the sea");
    EXPECT_EQ(album->access(), "private");
    EXPECT_EQ(album->photosUsed(), 42);
    EXPECT_EQ(album->photosLeft(), 1958);
    EXPECT_EQ(album->bytesUsed(), Q_INT64_C(3000000000));
    EXPECT_EQ(album->commentsEnabled(), true);
    EXPECT_FALSE(album->commentCount().has_value());
    EXPECT_EQ(album->timestamp()->dateValue(), QDateTime(QDate(2013, 4, 30), QTime(8, 0), QTimeZone::utc()));
    EXPECT_EQ(album->feedLink()->href(), "https://photos.example.test/data/feed/api/user/1234/albumid/111");
    EXPECT_EQ(album->publishedDate()->date(), QDateTime(QDate(2013, 4, 30), QTime(8, 0), QTimeZone::utc()));
    auto group = album->mediaGroup();
    ASSERT_TRUE(group);
    ASSERT_EQ(group->mediaThumbnails().size(), 3);
    EXPECT_EQ(group->mediaThumbnails().last()->URLString(), "https://photos.example.test/s160/cover.jpg");
    EXPECT_EQ(group->mediaThumbnails()[1]->width(), 64);
    EXPECT_EQ(group->mediaContents().size(), 1);  // one content: still a list of one
    EXPECT_EQ(group->mediaKeywords()->keywords(), QStringList({"a", "b", "c"}));
    auto where = std::dynamic_pointer_cast<DAGeoRSSWhere>(album->geoLocation());
    ASSERT_TRUE(where);
    EXPECT_DOUBLE_EQ(where->latitude(), 45.256);
    EXPECT_DOUBLE_EQ(where->longitude(), -71.92);
    EXPECT_EQ(feed->entryForGPhotoID("222"), feed->entries()[1]);
    EXPECT_FALSE(feed->entryForGPhotoID("333"));
}

TEST(DAPhotoFeeds, AlbumFeedHoldsPhotosAndRoundTrips) {
    auto feed = DAFeedBase::feedWithXMLData<DAFeedPhotoAlbum>(albumFeedSample);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->entries().size(), 2);
    auto photo = std::dynamic_pointer_cast<DAEntryPhoto>(feed->entries()[0]);
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->size(), Q_INT64_C(4294967296));
    EXPECT_EQ(photo->width(), 12000);
    EXPECT_EQ(photo->albumID(), "111");
    EXPECT_EQ(photo->commentsEnabled(), false);
    EXPECT_EQ(photo->content()->sourceURI(), "https://photos.example.test/IMG_0009.JPG");
    auto contents = photo->mediaGroup()->mediaContents();
    ASSERT_EQ(contents.size(), 2);
    EXPECT_EQ(contents[0]->fileSize(), Q_INT64_C(5000000000));
    EXPECT_EQ(contents[1]->medium(), "image");
    EXPECT_EQ(contents[1]->isDefault(), true);
    EXPECT_FALSE(contents[0]->isDefault().has_value());
    EXPECT_EQ(photo->mediaGroup()->mediaThumbnails()[0]->time()->timeOffsetInMilliseconds(), 3723500);
    auto exif = photo->EXIFTags();
    ASSERT_TRUE(exif);
    EXPECT_EQ(exif->tags().size(), 3);  // the "other" element is no tag
    EXPECT_EQ(exif->valueForTagName("make"), "Camera Maker");
    EXPECT_EQ(exif->tagDictionary().value("make"), "Camera Maker");  // the first of two wins
    EXPECT_EQ(exif->unknownChildren().size(), 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<DAGeoRSSPoint>(photo->geoLocation()));
    auto second = std::dynamic_pointer_cast<DAEntryPhoto>(feed->entries()[1]);
    EXPECT_FALSE(second->size().has_value());
    auto w3c = std::dynamic_pointer_cast<DAGeoW3CPoint>(second->geoLocation());
    ASSERT_TRUE(w3c);
    EXPECT_DOUBLE_EQ(w3c->longitude(), -3.5);
    EXPECT_EQ(feed->entryForGPhotoID("9"), feed->entries()[0]);  // two share the id: the first

    const QByteArray out = feed->XMLDocument()->XMLData();
    EXPECT_TRUE(xmlLintClean(out));
    for (const char *kept : {"<exif:make>Second</exif:make>", "<other:tag xmlns:other=\"urn:other\">x</other:tag>",
                             "<geo:lat>10.25</geo:lat>", "<georss:point>1.5 2.5</georss:point>", "time=\"1:02:03.5\""})
        EXPECT_TRUE(out.contains(kept)) << kept << "\n" << out.constData();
    auto again = DAFeedBase::feedWithXMLData<DAFeedPhotoAlbum>(out);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->isEqual(*feed));
}

TEST(DAPhotoFeeds, NewEntriesAndSetters) {
    auto photo = DAEntryPhoto::photoEntry();
    photo->setTitleWithString("IMG.jpg");
    photo->setSize(Q_INT64_C(5000000000));
    photo->setCommentsEnabled(std::nullopt);
    const QByteArray out = photo->XMLDocument()->XMLData();
    EXPECT_TRUE(xmlLintClean(out));
    for (const char *declared : {"xmlns:gphoto=", "xmlns:exif=", "xmlns:media=", "xmlns:georss=", "xmlns:gml=",
                                 "xmlns:geo=\"http://www.w3.org/2003/01/geo/wgs84_pos#\"",
                                 "term=\"http://schemas.google.com/photos/2007#photo\"",
                                 "<gphoto:size>5000000000</gphoto:size>", "<gphoto:commentingEnabled>false<"})
        EXPECT_TRUE(out.contains(declared)) << declared << "\n" << out.constData();
    EXPECT_FALSE(out.contains("<exif:tags"));  // no tags invented

    photo->setAlbumID("1");
    photo->setAlbumID(QString());
    EXPECT_TRUE(photo->albumID().isNull());
    auto ts = DAPhotoTimestamp::timestampWithDate(QDateTime::fromMSecsSinceEpoch(1500, QTimeZone::utc()));
    EXPECT_EQ(ts->stringValue(), "1500");
    EXPECT_EQ(DAValueConstruct::valueWithString<DAPhotoTimestamp>("1000")->dateValue(),
              QDateTime(QDate(1970, 1, 1), QTime(0, 0, 1), QTimeZone::utc()));
    // Counts no 64-bit integer holds are no dates.
    for (const char *huge : {"INF", "-INF", "1e300"})
        EXPECT_FALSE(DAValueConstruct::valueWithString<DAPhotoTimestamp>(huge)->dateValue().isValid()) << huge;

    auto album = DAEntryPhotoAlbum::albumEntry();
    album->setGeoLocation(DAGeo::geoWithLatitude(DAGeoW3CPoint::staticClass(), 1, 2));
    const QByteArray albumXML = album->XMLDocument()->XMLData();
    EXPECT_TRUE(xmlLintClean(albumXML));
    EXPECT_TRUE(albumXML.contains("<geo:Point><geo:lat>1</geo:lat><geo:long>2</geo:long></geo:Point>")) << albumXML.constData();
    album->setGeoLocation(nullptr);
    EXPECT_FALSE(album->geoLocation());
    EXPECT_EQ(DAEntryPhotoComment::commentEntryWithString("nice")->content()->stringValue(), "nice");
    EXPECT_EQ(DAEntryPhotoTag::tagEntryWithString("sea")->title()->stringValue(), "sea");
}
