#pragma once

#include "DA/BaseClasses/DAValueConstruct.h"

#include <QDateTime>

// The photo namespace's value elements (prefix "gphoto"); each holds its
// value as the element's text.
DA_DECLARE_ELEMENT(DAPhotoGPhotoID, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoAlbumID, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoPhotoID, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoCommentCount, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoCommentingEnabled, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoWidth, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoHeight, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoRotation, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoSize, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoChecksum, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoVideoStatus, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoAlbumDesc, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoAlbumTitle, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoSnippet, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoSnippetType, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoTruncated, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoLocation, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoAccess, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoBytesUsed, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoNumberUsed, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoNumberLeft, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoUser, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoNickname, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoMaxPhotosPerAlbum, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoQuotaLimit, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoQuotaUsed, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoThumbnail, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPhotoWeight, DAValueElementConstruct)

// gphoto:timestamp: milliseconds since 1970-01-01 UTC.
class DAPhotoTimestamp : public DAValueElementConstruct {
    DA_CLASS(DAPhotoTimestamp)
public:
    static std::shared_ptr<DAPhotoTimestamp> timestampWithDate(const QDateTime &date);
    QDateTime dateValue() const;
    // Whole milliseconds (rounded down).
    void setDateValue(const QDateTime &date);
    // Its date's: "2013-04-30 08:00:00 +0000".
    QString description() const override;
};

// The photo namespaces: the base data-API ones plus gphoto, exif, media and geo.
namespace DAPhotoConstants {
QMap<QString, QString> photoNamespaces();
}

// Typed reading and writing of value elements held by an object, as the
// photo entries and feeds do it (absent elements read as nothing).
namespace DAPhotoValues {
QString text(const DAObject &o, DAClass cls);
void setText(DAObject &o, DAClass cls, const QString &v);
std::optional<qint64> number(const DAObject &o, DAClass cls);
// A 32-bit value: text beyond its range reads as the nearest int.
std::optional<int> intNumber(const DAObject &o, DAClass cls);
void setNumber(DAObject &o, DAClass cls, std::optional<qint64> v);
std::optional<bool> boolean(const DAObject &o, DAClass cls);
void setBoolean(DAObject &o, DAClass cls, std::optional<bool> v);
}  // namespace DAPhotoValues

// Accessors of one value element: text, 32-bit, 64-bit or boolean.
#define DA_PHOTO_TEXT(getter, Setter, Cls)                                                                            \
    QString getter() const { return DAPhotoValues::text(*this, Cls::staticClass()); }                                 \
    void set##Setter(const QString &v) { DAPhotoValues::setText(*this, Cls::staticClass(), v); }
#define DA_PHOTO_INT(getter, Setter, Cls)                                                                             \
    std::optional<int> getter() const { return DAPhotoValues::intNumber(*this, Cls::staticClass()); }                 \
    void set##Setter(std::optional<int> v) {                                                                          \
        DAPhotoValues::setNumber(*this, Cls::staticClass(), v ? std::optional<qint64>(*v) : std::nullopt);            \
    }
#define DA_PHOTO_LONG(getter, Setter, Cls)                                                                            \
    std::optional<qint64> getter() const { return DAPhotoValues::number(*this, Cls::staticClass()); }                 \
    void set##Setter(std::optional<qint64> v) { DAPhotoValues::setNumber(*this, Cls::staticClass(), v); }
#define DA_PHOTO_BOOL(getter, Setter, Cls)                                                                            \
    std::optional<bool> getter() const { return DAPhotoValues::boolean(*this, Cls::staticClass()); }                  \
    void set##Setter(std::optional<bool> v) { DAPhotoValues::setBoolean(*this, Cls::staticClass(), v); }
