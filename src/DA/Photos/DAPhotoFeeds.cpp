#include "DA/Photos/DAPhotoFeeds.h"

#include "DA/Photos/DAPhotoDescriptions.h"

#include "DA/BaseClasses/DANamespaces.h"

namespace {
QString kindTerm(const char *word) { return DANamespaces::photo() + QLatin1Char('#') + QLatin1String(word); }
}  // namespace

DA_DEFINE_CLASS(DAFeedPhotoBase, DAFeedBase)
DA_DEFINE_CLASS(DAFeedPhoto, DAFeedPhotoBase)
DA_DEFINE_CLASS(DAFeedPhotoAlbum, DAFeedPhotoBase)
DA_DEFINE_CLASS(DAFeedPhotoUser, DAFeedPhotoBase)

DAObjectPtr DAFeedPhotoBase::photoFeedOfClass(DAClass cls) {
    DAObjectPtr feed = objectOfClass(cls);
    feed->setNamespaces(DAPhotoConstants::photoNamespaces());
    return feed;
}

DAEntryBasePtr DAFeedPhotoBase::entryForGPhotoID(const QString &id) const {
    for (const DAEntryBasePtr &e : entries()) {
        if (DAPhotoValues::text(*e, DAPhotoGPhotoID::staticClass()) == id && !id.isNull())
            return e;
    }
    return nullptr;
}

void DAFeedPhotoBase::addExtensionDeclarations() {
    DAFeedBase::addExtensionDeclarations();
    addExtensionDeclaration(objectClass(), DAPhotoGPhotoID::staticClass());
}

std::shared_ptr<DAFeedPhoto> DAFeedPhoto::photoFeed() {
    return std::static_pointer_cast<DAFeedPhoto>(photoFeedOfClass(staticClass()));
}
QString DAFeedPhoto::standardFeedKind() const { return kindTerm("photo"); }
void DAFeedPhoto::addExtensionDeclarations() {
    DAFeedPhotoBase::addExtensionDeclarations();
    DAPhotoDeclarations::photo(*this, objectClass(), false);
}

std::shared_ptr<DAFeedPhotoAlbum> DAFeedPhotoAlbum::albumFeed() {
    return std::static_pointer_cast<DAFeedPhotoAlbum>(photoFeedOfClass(staticClass()));
}
QString DAFeedPhotoAlbum::standardFeedKind() const { return kindTerm("album"); }
void DAFeedPhotoAlbum::addExtensionDeclarations() {
    DAFeedPhotoBase::addExtensionDeclarations();
    DAPhotoDeclarations::album(*this, objectClass());
}

std::shared_ptr<DAFeedPhotoUser> DAFeedPhotoUser::userFeed() {
    return std::static_pointer_cast<DAFeedPhotoUser>(photoFeedOfClass(staticClass()));
}
QString DAFeedPhotoUser::standardFeedKind() const { return kindTerm("user"); }
void DAFeedPhotoUser::addExtensionDeclarations() {
    DAFeedPhotoBase::addExtensionDeclarations();
    DAPhotoDeclarations::user(*this, objectClass());
}

// ---- debugging descriptions -------------------------------------------------------

QStringList DAFeedPhotoBase::itemsForDescription() const {
    QStringList items = DAFeedBase::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("gphotoID"), GPhotoID()}});
    return items;
}

QStringList DAFeedPhoto::itemsForDescription() const {
    QStringList items = DAFeedPhotoBase::itemsForDescription();
    addDescriptionRecords(items, DAPhotoDescriptions::photo(*this, false));
    return items;
}

QStringList DAFeedPhotoAlbum::itemsForDescription() const {
    QStringList items = DAFeedPhotoBase::itemsForDescription();
    addDescriptionRecords(items, DAPhotoDescriptions::album(*this));
    return items;
}

QStringList DAFeedPhotoUser::itemsForDescription() const {
    QStringList items = DAFeedPhotoBase::itemsForDescription();
    addDescriptionRecords(items, DAPhotoDescriptions::user(*this));
    return items;
}
