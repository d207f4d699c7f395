#pragma once

#include "DA/Photos/DAPhotoAccessors.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

// The labelled values that the photo entries and feeds add to their
// debugging descriptions, in order; a null value is left out.
namespace DAPhotoDescriptions {

using Items = QList<QPair<QString, QString>>;

inline QString of(const QString &text) { return text; }
inline QString of(const std::optional<qint64> &n) { return n ? QString::number(*n) : QString(); }
inline QString of(const std::optional<int> &n) { return n ? QString::number(*n) : QString(); }
inline QString of(const std::optional<bool> &b) { return b ? QString::number(int(*b)) : QString(); }
inline QString of(const std::shared_ptr<DAPhotoTimestamp> &t) {
    return t ? t->dateValue().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")) : QString();
}
template <typename T>
QString of(const std::shared_ptr<T> &object) {
    return object ? object->description() : QString();
}

// A photo entry (entry true) or feed.
template <typename Photo>
Items photo(const Photo &p, bool entry) {
    Items items{{QStringLiteral("albumID"), of(p.albumID())},
                {QStringLiteral("checksum"), of(p.checksum())},
                {QStringLiteral("commentCount"), of(p.commentCount())},
                {QStringLiteral("commentsEnabled"), of(p.commentsEnabled())},
                {QStringLiteral("height"), of(p.height())},
                {QStringLiteral("width"), of(p.width())},
                {entry ? QStringLiteral("videoStatus") : QStringLiteral("status"), of(p.videoStatus())},
                {QStringLiteral("rotation"), of(p.rotation())},
                {QStringLiteral("size"), of(p.size())},
                {QStringLiteral("timestamp"), of(p.timestamp())},
                {QStringLiteral("mediaGroup"), of(p.mediaGroup())},
                {QStringLiteral("exifTags"), of(p.EXIFTags())},
                {QStringLiteral("geoLocation"), of(p.geoLocation())}};
    return items;
}

template <typename Album>
Items album(const Album &a) {
    return {{QStringLiteral("access"), of(a.access())},
            {QStringLiteral("bytesUsed"), of(a.bytesUsed())},
            {QStringLiteral("commentCount"), of(a.commentCount())},
            {QStringLiteral("commentsEnabled"), of(a.commentsEnabled())},
            {QStringLiteral("date"), of(a.timestamp())},
            {QStringLiteral("location"), of(a.location())},
            {QStringLiteral("nickname"), of(a.nickname())},
            {QStringLiteral("photosLeft"), of(a.photosLeft())},
            {QStringLiteral("photosUsed"), of(a.photosUsed())},
            {QStringLiteral("username"), of(a.username())},
            {QStringLiteral("mediaGroup"), of(a.mediaGroup())},
            {QStringLiteral("geoLocation"), of(a.geoLocation())}};
}

template <typename User>
Items user(const User &u) {
    return {{QStringLiteral("maxPhotosPerAlbum"), of(u.maxPhotosPerAlbum())},
            {QStringLiteral("nickname"), of(u.nickname())},
            {QStringLiteral("quotaLimit"), of(u.quotaLimit())},
            {QStringLiteral("quotaUsed"), of(u.quotaUsed())},
            {QStringLiteral("thumbnail"), of(u.thumbnail())},
            {QStringLiteral("username"), of(u.username())}};
}

}  // namespace DAPhotoDescriptions
