#pragma once

#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/Photos/DAPhotoAccessors.h"

// The photo-album feeds; their entries take the class of their kind.
class DAFeedPhotoBase : public DAFeedBase {
    DA_CLASS(DAFeedPhotoBase)
public:
    DA_PHOTO_TEXT(GPhotoID, GPhotoID, DAPhotoGPhotoID)
    // The photo description is the Atom subtitle.
    std::shared_ptr<DAAtomSubtitle> photoDescription() const { return subtitle(); }
    void setPhotoDescription(const std::shared_ptr<DAAtomSubtitle> &description) { setSubtitle(description); }
    void setPhotoDescriptionWithString(const QString &text) { setSubtitleWithString(text); }
    // The first entry with that gphoto:id.
    DAEntryBasePtr entryForGPhotoID(const QString &id) const;
    QString defaultServiceVersion() const override { return QStringLiteral("2.0"); }
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;

protected:
    static DAObjectPtr photoFeedOfClass(DAClass cls);
};

class DAFeedPhoto : public DAFeedPhotoBase {
    DA_CLASS(DAFeedPhoto)
public:
    static std::shared_ptr<DAFeedPhoto> photoFeed();
    QString standardFeedKind() const override;
    DA_PHOTO_PHOTO_ACCESSORS
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};

class DAFeedPhotoAlbum : public DAFeedPhotoBase {
    DA_CLASS(DAFeedPhotoAlbum)
public:
    static std::shared_ptr<DAFeedPhotoAlbum> albumFeed();
    QString standardFeedKind() const override;
    DA_PHOTO_ALBUM_ACCESSORS
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};

class DAFeedPhotoUser : public DAFeedPhotoBase {
    DA_CLASS(DAFeedPhotoUser)
public:
    static std::shared_ptr<DAFeedPhotoUser> userFeed();
    QString standardFeedKind() const override;
    DA_PHOTO_USER_ACCESSORS
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};
