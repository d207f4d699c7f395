#pragma once

#include "DA/Photos/DAPhotoAccessors.h"

// The description records that the photo entries and feeds add to their
// debugging descriptions, in order; each shows its value when there is one.
namespace DAPhotoDescriptions {

using Records = QList<DADescriptionRecord>;

// A photo entry (entry true) or feed.
template <typename Photo>
Records photo(const Photo &p, bool entry) {
    return {{QStringLiteral("albumID"), p.albumID()},
            {QStringLiteral("checksum"), p.checksum()},
            {QStringLiteral("commentCount"), p.commentCount()},
            {QStringLiteral("commentsEnabled"), p.commentsEnabled()},
            {QStringLiteral("height"), p.height()},
            {QStringLiteral("width"), p.width()},
            {entry ? QStringLiteral("videoStatus") : QStringLiteral("status"), p.videoStatus()},
            {QStringLiteral("rotation"), p.rotation()},
            {QStringLiteral("size"), p.size()},
            {QStringLiteral("timestamp"), p.timestamp()},
            {QStringLiteral("mediaGroup"), p.mediaGroup()},
            {QStringLiteral("exifTags"), p.EXIFTags()},
            {QStringLiteral("geoLocation"), p.geoLocation()}};
}

template <typename Album>
Records album(const Album &a) {
    return {{QStringLiteral("access"), a.access()},
            {QStringLiteral("bytesUsed"), a.bytesUsed()},
            {QStringLiteral("commentCount"), a.commentCount()},
            {QStringLiteral("commentsEnabled"), a.commentsEnabled()},
            {QStringLiteral("date"), a.timestamp()},
            {QStringLiteral("location"), a.location()},
            {QStringLiteral("nickname"), a.nickname()},
            {QStringLiteral("photosLeft"), a.photosLeft()},
            {QStringLiteral("photosUsed"), a.photosUsed()},
            {QStringLiteral("username"), a.username()},
            {QStringLiteral("mediaGroup"), a.mediaGroup()},
            {QStringLiteral("geoLocation"), a.geoLocation()}};
}

template <typename User>
Records user(const User &u) {
    return {{QStringLiteral("maxPhotosPerAlbum"), u.maxPhotosPerAlbum()},
            {QStringLiteral("nickname"), u.nickname()},
            {QStringLiteral("quotaLimit"), u.quotaLimit()},
            {QStringLiteral("quotaUsed"), u.quotaUsed()},
            {QStringLiteral("thumbnail"), u.thumbnail()},
            {QStringLiteral("username"), u.username()}};
}

}  // namespace DAPhotoDescriptions
