#pragma once

#include "DA/Elements/DAEXIFTags.h"
#include "DA/Elements/DAGeo.h"
#include "DA/Elements/DAMediaElements.h"
#include "DA/Photos/DAPhotoElements.h"

// The accessor sets that photo entries and feeds of one kind share.
#define DA_PHOTO_MEDIA_ACCESSORS                                                                                      \
    std::shared_ptr<DAMediaGroup> mediaGroup() const { return extension<DAMediaGroup>(); }                            \
    void setMediaGroup(const std::shared_ptr<DAMediaGroup> &g) { setObject(g, DAMediaGroup::staticClass()); }         \
    std::shared_ptr<DAGeo> geoLocation() const { return DAGeo::geoLocationForObject(*this); }                         \
    void setGeoLocation(const std::shared_ptr<DAGeo> &g) { DAGeo::setGeoLocation(g, *this); }                        \
    std::shared_ptr<DAPhotoTimestamp> timestamp() const { return extension<DAPhotoTimestamp>(); }                     \
    void setTimestamp(const std::shared_ptr<DAPhotoTimestamp> &t) { setObject(t, DAPhotoTimestamp::staticClass()); }  \
    DA_PHOTO_INT(commentCount, CommentCount, DAPhotoCommentCount)                                                     \
    DA_PHOTO_BOOL(commentsEnabled, CommentsEnabled, DAPhotoCommentingEnabled)

#define DA_PHOTO_PHOTO_ACCESSORS                                                                                      \
    DA_PHOTO_MEDIA_ACCESSORS                                                                                          \
    std::shared_ptr<DAEXIFTags> EXIFTags() const { return extension<DAEXIFTags>(); }                                  \
    void setEXIFTags(const std::shared_ptr<DAEXIFTags> &t) { setObject(t, DAEXIFTags::staticClass()); }               \
    DA_PHOTO_TEXT(albumID, AlbumID, DAPhotoAlbumID)                                                                   \
    DA_PHOTO_TEXT(checksum, Checksum, DAPhotoChecksum)                                                                \
    DA_PHOTO_TEXT(videoStatus, VideoStatus, DAPhotoVideoStatus)                                                       \
    DA_PHOTO_LONG(width, Width, DAPhotoWidth)                                                                         \
    DA_PHOTO_LONG(height, Height, DAPhotoHeight)                                                                      \
    DA_PHOTO_INT(rotation, Rotation, DAPhotoRotation)                                                                 \
    DA_PHOTO_LONG(size, Size, DAPhotoSize)

#define DA_PHOTO_ALBUM_ACCESSORS                                                                                      \
    DA_PHOTO_MEDIA_ACCESSORS                                                                                          \
    DA_PHOTO_TEXT(access, Access, DAPhotoAccess)                                                                      \
    DA_PHOTO_LONG(bytesUsed, BytesUsed, DAPhotoBytesUsed)                                                             \
    DA_PHOTO_INT(photosUsed, PhotosUsed, DAPhotoNumberUsed)                                                           \
    DA_PHOTO_INT(photosLeft, PhotosLeft, DAPhotoNumberLeft)                                                           \
    DA_PHOTO_TEXT(username, Username, DAPhotoUser)                                                                    \
    DA_PHOTO_TEXT(nickname, Nickname, DAPhotoNickname)                                                                \
    DA_PHOTO_TEXT(location, Location, DAPhotoLocation)

#define DA_PHOTO_USER_ACCESSORS                                                                                       \
    DA_PHOTO_LONG(maxPhotosPerAlbum, MaxPhotosPerAlbum, DAPhotoMaxPhotosPerAlbum)                                     \
    DA_PHOTO_TEXT(nickname, Nickname, DAPhotoNickname)                                                                \
    DA_PHOTO_LONG(quotaLimit, QuotaLimit, DAPhotoQuotaLimit)                                                          \
    DA_PHOTO_LONG(quotaUsed, QuotaUsed, DAPhotoQuotaUsed)                                                             \
    DA_PHOTO_TEXT(thumbnail, Thumbnail, DAPhotoThumbnail)                                                             \
    DA_PHOTO_TEXT(username, Username, DAPhotoUser)

// The extension declarations of each kind, on the given class as parent.
namespace DAPhotoDeclarations {
void photo(DAObject &o, DAClass cls, bool entry);
void album(DAObject &o, DAClass cls);
void user(DAObject &o, DAClass cls);
}  // namespace DAPhotoDeclarations
