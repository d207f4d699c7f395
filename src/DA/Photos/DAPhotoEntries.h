#pragma once

#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/Photos/DAPhotoAccessors.h"

// The photo-album entries: the base with gphoto:id, and one class per kind.
class DAEntryPhotoBase : public DAEntryBase {
    DA_CLASS(DAEntryPhotoBase)
public:
    DA_PHOTO_TEXT(GPhotoID, GPhotoID, DAPhotoGPhotoID)
    // The photo description is the Atom summary.
    std::shared_ptr<DAAtomSummary> photoDescription() const { return summary(); }
    void setPhotoDescription(const std::shared_ptr<DAAtomSummary> &description) { setSummary(description); }
    void setPhotoDescriptionWithString(const QString &text) { setSummaryWithString(text); }
    QString defaultServiceVersion() const override { return QStringLiteral("2.0"); }
    void addExtensionDeclarations() override;
    QStringList itemsForDescription() const override;

protected:
    // A new entry of the class with the photo namespaces.
    static DAObjectPtr photoEntryOfClass(DAClass cls);
};

class DAEntryPhoto : public DAEntryPhotoBase {
    DA_CLASS(DAEntryPhoto)
public:
    static std::shared_ptr<DAEntryPhoto> photoEntry();
    QString standardEntryKind() const override;
    DA_PHOTO_PHOTO_ACCESSORS
    DA_PHOTO_TEXT(albumDescription, AlbumDescription, DAPhotoAlbumDesc)
    DA_PHOTO_TEXT(albumTitle, AlbumTitle, DAPhotoAlbumTitle)
    DA_PHOTO_TEXT(snippet, Snippet, DAPhotoSnippet)
    DA_PHOTO_TEXT(snippetType, SnippetType, DAPhotoSnippetType)
    DA_PHOTO_INT(truncated, Truncated, DAPhotoTruncated)
    DA_PHOTO_TEXT(location, Location, DAPhotoLocation)
    const QByteArray &photoData() const { return uploadData(); }
    void setPhotoData(const QByteArray &d) { setUploadData(d); }
    const QString &photoMIMEType() const { return uploadMIMEType(); }
    void setPhotoMIMEType(const QString &t) { setUploadMIMEType(t); }
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};

class DAEntryPhotoAlbum : public DAEntryPhotoBase {
    DA_CLASS(DAEntryPhotoAlbum)
public:
    static std::shared_ptr<DAEntryPhotoAlbum> albumEntry();
    QString standardEntryKind() const override;
    DA_PHOTO_ALBUM_ACCESSORS
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};

class DAEntryPhotoComment : public DAEntryPhotoBase {
    DA_CLASS(DAEntryPhotoComment)
public:
    static std::shared_ptr<DAEntryPhotoComment> commentEntryWithString(const QString &text);
    QString standardEntryKind() const override;
    DA_PHOTO_TEXT(albumID, AlbumID, DAPhotoAlbumID)
    DA_PHOTO_TEXT(photoID, PhotoID, DAPhotoPhotoID)
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};

class DAEntryPhotoTag : public DAEntryPhotoBase {
    DA_CLASS(DAEntryPhotoTag)
public:
    static std::shared_ptr<DAEntryPhotoTag> tagEntryWithString(const QString &text);
    QString standardEntryKind() const override;
    DA_PHOTO_INT(weight, Weight, DAPhotoWeight)
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};

class DAEntryPhotoUser : public DAEntryPhotoBase {
    DA_CLASS(DAEntryPhotoUser)
public:
    static std::shared_ptr<DAEntryPhotoUser> userEntry();
    QString standardEntryKind() const override;
    DA_PHOTO_USER_ACCESSORS
    QStringList itemsForDescription() const override;
    void addExtensionDeclarations() override;
};
