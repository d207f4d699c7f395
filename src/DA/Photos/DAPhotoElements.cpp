#include "DA/Photos/DAPhotoElements.h"

#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DANamespaces.h"
#include "DA/Elements/DAGeo.h"

#include <cmath>

using DANamespaces::photo;

#define DA_PHOTO_ELEMENT(Name, local) DA_DEFINE_ELEMENT_CLASS(Name, DAValueElementConstruct, photo(), "gphoto", local)
DA_PHOTO_ELEMENT(DAPhotoGPhotoID, "id")
DA_PHOTO_ELEMENT(DAPhotoAlbumID, "albumid")
DA_PHOTO_ELEMENT(DAPhotoPhotoID, "photoid")
DA_PHOTO_ELEMENT(DAPhotoCommentCount, "commentCount")
DA_PHOTO_ELEMENT(DAPhotoCommentingEnabled, "commentingEnabled")
DA_PHOTO_ELEMENT(DAPhotoTimestamp, "timestamp")
DA_PHOTO_ELEMENT(DAPhotoWidth, "width")
DA_PHOTO_ELEMENT(DAPhotoHeight, "height")
DA_PHOTO_ELEMENT(DAPhotoRotation, "rotation")
DA_PHOTO_ELEMENT(DAPhotoSize, "size")
DA_PHOTO_ELEMENT(DAPhotoChecksum, "checksum")
DA_PHOTO_ELEMENT(DAPhotoVideoStatus, "videostatus")
DA_PHOTO_ELEMENT(DAPhotoAlbumDesc, "albumdesc")
DA_PHOTO_ELEMENT(DAPhotoAlbumTitle, "albumtitle")
DA_PHOTO_ELEMENT(DAPhotoSnippet, "snippet")
DA_PHOTO_ELEMENT(DAPhotoSnippetType, "snippettype")
DA_PHOTO_ELEMENT(DAPhotoTruncated, "truncated")
DA_PHOTO_ELEMENT(DAPhotoLocation, "location")
DA_PHOTO_ELEMENT(DAPhotoAccess, "access")
DA_PHOTO_ELEMENT(DAPhotoBytesUsed, "bytesUsed")
DA_PHOTO_ELEMENT(DAPhotoNumberUsed, "numphotos")
DA_PHOTO_ELEMENT(DAPhotoNumberLeft, "numphotosremaining")
DA_PHOTO_ELEMENT(DAPhotoUser, "user")
DA_PHOTO_ELEMENT(DAPhotoNickname, "nickname")
DA_PHOTO_ELEMENT(DAPhotoMaxPhotosPerAlbum, "maxPhotosPerAlbum")
DA_PHOTO_ELEMENT(DAPhotoQuotaLimit, "quotalimit")
DA_PHOTO_ELEMENT(DAPhotoQuotaUsed, "quotacurrent")
DA_PHOTO_ELEMENT(DAPhotoThumbnail, "thumbnail")
DA_PHOTO_ELEMENT(DAPhotoWeight, "weight")

std::shared_ptr<DAPhotoTimestamp> DAPhotoTimestamp::timestampWithDate(const QDateTime &date) {
    auto t = object<DAPhotoTimestamp>();
    t->setDateValue(date);
    return t;
}

QDateTime DAPhotoTimestamp::dateValue() const {
    const double ms = std::floor(doubleValue());
    // A count no 64-bit integer holds ("INF", "1e300" from a reply) is no
    // date; converting it would be undefined.
    if (!std::isfinite(ms) || std::fabs(ms) >= 9.2e18)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64(ms), QTimeZone::utc());
}

void DAPhotoTimestamp::setDateValue(const QDateTime &date) {
    // Whole milliseconds; the value is written without a fraction.
    setStringValue(QString::number(date.toMSecsSinceEpoch()));
}

QString DAPhotoTimestamp::description() const {
    return dateValue().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
}

QMap<QString, QString> DAPhotoConstants::photoNamespaces() {
    QMap<QString, QString> ns = DAEntryBase::baseDANamespaces();
    ns.insert(QStringLiteral("gphoto"), DANamespaces::photo());
    ns.insert(QStringLiteral("exif"), DANamespaces::exif());
    ns.insert(QStringLiteral("media"), DANamespaces::media());
    const QMap<QString, QString> geo = DAGeo::geoNamespaces();
    for (auto it = geo.begin(); it != geo.end(); ++it)
        ns.insert(it.key(), it.value());
    return ns;
}

namespace DAPhotoValues {

QString text(const DAObject &o, DAClass cls) {
    auto v = std::dynamic_pointer_cast<DAValueConstruct>(o.objectForExtensionClass(cls));
    return v ? v->stringValue() : QString();
}

void setText(DAObject &o, DAClass cls, const QString &v) { o.setObject(DAValueConstruct::valueWithString(cls, v), cls); }

std::optional<qint64> number(const DAObject &o, DAClass cls) {
    auto v = std::dynamic_pointer_cast<DAValueConstruct>(o.objectForExtensionClass(cls));
    return v ? std::optional<qint64>(v->longLongValue()) : std::nullopt;
}

std::optional<int> intNumber(const DAObject &o, DAClass cls) {
    auto v = std::dynamic_pointer_cast<DAValueConstruct>(o.objectForExtensionClass(cls));
    return v ? std::optional<int>(v->intValue()) : std::nullopt;
}

void setNumber(DAObject &o, DAClass cls, std::optional<qint64> v) {
    o.setObject(v ? DAValueConstruct::valueWithLongLong(cls, *v) : nullptr, cls);
}

std::optional<bool> boolean(const DAObject &o, DAClass cls) {
    auto v = std::dynamic_pointer_cast<DAValueConstruct>(o.objectForExtensionClass(cls));
    return v ? v->boolNumberValue() : std::nullopt;
}

void setBoolean(DAObject &o, DAClass cls, std::optional<bool> v) {
    // Absent counts as "false": the element is written either way.
    o.setObject(DAValueConstruct::valueWithBool(cls, v.value_or(false)), cls);
}

}  // namespace DAPhotoValues
