#include "DA/Photos/DAPhotoEntries.h"

#include "DA/Photos/DAPhotoDescriptions.h"

#include "DA/BaseClasses/DANamespaces.h"

namespace {
QString kindTerm(const char *word) { return DANamespaces::photo() + QLatin1Char('#') + QLatin1String(word); }
}  // namespace

DA_DEFINE_CLASS(DAEntryPhotoBase, DAEntryBase)
DA_DEFINE_CLASS(DAEntryPhoto, DAEntryPhotoBase)
DA_DEFINE_CLASS(DAEntryPhotoAlbum, DAEntryPhotoBase)
DA_DEFINE_CLASS(DAEntryPhotoComment, DAEntryPhotoBase)
DA_DEFINE_CLASS(DAEntryPhotoTag, DAEntryPhotoBase)
DA_DEFINE_CLASS(DAEntryPhotoUser, DAEntryPhotoBase)

namespace DAPhotoDeclarations {

void photo(DAObject &o, DAClass cls, bool entry) {
    o.addExtensionDeclarationsForParent(
        cls, {DAPhotoWidth::staticClass(), DAPhotoHeight::staticClass(), DAPhotoRotation::staticClass(),
              DAPhotoSize::staticClass(), DAPhotoAlbumID::staticClass(), DAPhotoTimestamp::staticClass(),
              DAPhotoCommentCount::staticClass(), DAPhotoCommentingEnabled::staticClass(),
              DAPhotoChecksum::staticClass(), DAPhotoVideoStatus::staticClass(), DAMediaGroup::staticClass(),
              DAEXIFTags::staticClass()});
    if (entry)
        o.addExtensionDeclarationsForParent(
            cls, {DAPhotoAlbumDesc::staticClass(), DAPhotoAlbumTitle::staticClass(), DAPhotoSnippet::staticClass(),
                  DAPhotoSnippetType::staticClass(), DAPhotoTruncated::staticClass(), DAPhotoLocation::staticClass()});
    DAGeo::addGeoExtensionDeclarations(o, cls);
}

void album(DAObject &o, DAClass cls) {
    o.addExtensionDeclarationsForParent(
        cls, {DAPhotoAccess::staticClass(), DAPhotoBytesUsed::staticClass(), DAPhotoCommentCount::staticClass(),
              DAPhotoCommentingEnabled::staticClass(), DAPhotoTimestamp::staticClass(), DAPhotoNumberUsed::staticClass(),
              DAPhotoNumberLeft::staticClass(), DAPhotoUser::staticClass(), DAPhotoNickname::staticClass(),
              DAPhotoLocation::staticClass(), DAMediaGroup::staticClass()});
    DAGeo::addGeoExtensionDeclarations(o, cls);
}

void user(DAObject &o, DAClass cls) {
    o.addExtensionDeclarationsForParent(
        cls, {DAPhotoMaxPhotosPerAlbum::staticClass(), DAPhotoNickname::staticClass(), DAPhotoQuotaLimit::staticClass(),
              DAPhotoQuotaUsed::staticClass(), DAPhotoThumbnail::staticClass(), DAPhotoUser::staticClass()});
}

}  // namespace DAPhotoDeclarations

DAObjectPtr DAEntryPhotoBase::photoEntryOfClass(DAClass cls) {
    DAObjectPtr entry = objectOfClass(cls);
    entry->setNamespaces(DAPhotoConstants::photoNamespaces());
    return entry;
}

void DAEntryPhotoBase::addExtensionDeclarations() {
    DAEntryBase::addExtensionDeclarations();
    addExtensionDeclaration(objectClass(), DAPhotoGPhotoID::staticClass());
}

QStringList DAEntryPhotoBase::itemsForDescription() const {
    QStringList items = DAEntryBase::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("gphotoID"), GPhotoID()}});
    return items;
}

std::shared_ptr<DAEntryPhoto> DAEntryPhoto::photoEntry() {
    return std::static_pointer_cast<DAEntryPhoto>(photoEntryOfClass(staticClass()));
}
QString DAEntryPhoto::standardEntryKind() const { return kindTerm("photo"); }
void DAEntryPhoto::addExtensionDeclarations() {
    DAEntryPhotoBase::addExtensionDeclarations();
    DAPhotoDeclarations::photo(*this, objectClass(), true);
}

std::shared_ptr<DAEntryPhotoAlbum> DAEntryPhotoAlbum::albumEntry() {
    return std::static_pointer_cast<DAEntryPhotoAlbum>(photoEntryOfClass(staticClass()));
}
QString DAEntryPhotoAlbum::standardEntryKind() const { return kindTerm("album"); }
void DAEntryPhotoAlbum::addExtensionDeclarations() {
    DAEntryPhotoBase::addExtensionDeclarations();
    DAPhotoDeclarations::album(*this, objectClass());
}

std::shared_ptr<DAEntryPhotoComment> DAEntryPhotoComment::commentEntryWithString(const QString &text) {
    auto entry = std::static_pointer_cast<DAEntryPhotoComment>(photoEntryOfClass(staticClass()));
    entry->setContentWithString(text);
    return entry;
}
QString DAEntryPhotoComment::standardEntryKind() const { return kindTerm("comment"); }
void DAEntryPhotoComment::addExtensionDeclarations() {
    DAEntryPhotoBase::addExtensionDeclarations();
    addExtensionDeclarationsForParent(objectClass(), {DAPhotoAlbumID::staticClass(), DAPhotoPhotoID::staticClass()});
}

std::shared_ptr<DAEntryPhotoTag> DAEntryPhotoTag::tagEntryWithString(const QString &text) {
    auto entry = std::static_pointer_cast<DAEntryPhotoTag>(photoEntryOfClass(staticClass()));
    entry->setTitleWithString(text);
    return entry;
}
QString DAEntryPhotoTag::standardEntryKind() const { return kindTerm("tag"); }
void DAEntryPhotoTag::addExtensionDeclarations() {
    DAEntryPhotoBase::addExtensionDeclarations();
    addExtensionDeclaration(objectClass(), DAPhotoWeight::staticClass());
}

std::shared_ptr<DAEntryPhotoUser> DAEntryPhotoUser::userEntry() {
    return std::static_pointer_cast<DAEntryPhotoUser>(photoEntryOfClass(staticClass()));
}
QString DAEntryPhotoUser::standardEntryKind() const { return kindTerm("user"); }
void DAEntryPhotoUser::addExtensionDeclarations() {
    DAEntryPhotoBase::addExtensionDeclarations();
    DAPhotoDeclarations::user(*this, objectClass());
}

// ---- debugging descriptions -------------------------------------------------------

QStringList DAEntryPhoto::itemsForDescription() const {
    QStringList items = DAEntryPhotoBase::itemsForDescription();
    addDescriptionRecords(items, DAPhotoDescriptions::photo(*this, true));
    addDescriptionRecords(items, {{QStringLiteral("albumDesc"), albumDescription()},
                                  {QStringLiteral("albumTitle"), albumTitle()},
                                  {QStringLiteral("snippet"), snippet()},
                                  {QStringLiteral("snippetType"), snippetType()},
                                  {QStringLiteral("truncated"), truncated()},
                                  {QStringLiteral("location"), location()}});
    return items;
}

QStringList DAEntryPhotoAlbum::itemsForDescription() const {
    QStringList items = DAEntryPhotoBase::itemsForDescription();
    addDescriptionRecords(items, DAPhotoDescriptions::album(*this));
    return items;
}

QStringList DAEntryPhotoUser::itemsForDescription() const {
    QStringList items = DAEntryPhotoBase::itemsForDescription();
    addDescriptionRecords(items, DAPhotoDescriptions::user(*this));
    return items;
}

QStringList DAEntryPhotoComment::itemsForDescription() const {
    QStringList items = DAEntryPhotoBase::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("albumID"), albumID()}, {QStringLiteral("photoID"), photoID()}});
    return items;
}

QStringList DAEntryPhotoTag::itemsForDescription() const {
    QStringList items = DAEntryPhotoBase::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("weight"), weight()}});
    return items;
}
