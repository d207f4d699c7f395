#pragma once

#include "Core/QNLockedProperty.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>

class QNDriveConfig;
class QNDocument;
using QNDocumentPtr = std::shared_ptr<QNDocument>;
using QNDocumentList = QList<QNDocumentPtr>;

// One file or folder on a drive, as a handler lists it, an operation or task
// item takes it and a file pane shows it. A plain value holder; its one
// behaviour is its equality rule, isEqualTo().
class QNDocument {
public:
    // A service's own object behind a document (the photo-album handler's
    // entry, an album feed). Compared with isEqualTo(); the default is
    // identity.
    class ServiceObject {
    public:
        virtual ~ServiceObject() = default;
        virtual bool isEqualTo(const ServiceObject &other) const { return this == &other; }
    };
    using ServiceObjectPtr = std::shared_ptr<ServiceObject>;

    QNDocument() = default;
    QNDocument(const QNDocument &) = delete;
    QNDocument &operator=(const QNDocument &) = delete;

    static QNDocumentPtr create() { return std::make_shared<QNDocument>(); }
    // A document with only path and displayName (the last path component) set.
    static QNDocumentPtr withPath(const QString &path, bool isDirectory = false);
    // A new document holding every field of this one (the service objects
    // and the opened-from documents are shared, not copied): what a caller
    // may change without touching a document someone else holds.
    QNDocumentPtr copy() const;

    // The equality rule: a document is equal to itself; otherwise both must
    // carry the same driveConfigId, then this document's identity decides:
    // its fileObject, else its id (with the path too for a note folder), else
    // its path. Not symmetric when the two carry different kinds of identity.
    // Deliberately no operator== and no hash.
    bool isEqualTo(const QNDocument &other) const;
    bool isEqualTo(const QNDocumentPtr &other) const { return other && isEqualTo(*other); }

    QN_LOCKED_PROPERTY(QString, path, setPath)
    QN_LOCKED_PROPERTY(bool, isDirectory, setIsDirectory)
    QN_LOCKED_PROPERTY(qint64, size, setSize)
    QN_LOCKED_PROPERTY(QString, type, setType)
    QN_LOCKED_PROPERTY(QDateTime, date, setDate)
    QN_LOCKED_PROPERTY(QString, displayName, setDisplayName)
    QN_LOCKED_PROPERTY(QString, id, setId)
    QN_LOCKED_PROPERTY(QString, link, setLink)
    QN_LOCKED_PROPERTY(QDateTime, linkEndDate, setLinkEndDate)
    QN_LOCKED_PROPERTY(QString, dimensions, setDimensions)
    QN_LOCKED_PROPERTY(QString, fileDescription, setFileDescription)
    QN_LOCKED_PROPERTY(QString, editURL, setEditURL)
    QN_LOCKED_PROPERTY(QString, gdResourceId, setGdResourceId)
    QN_LOCKED_PROPERTY(QString, appendedExtension, setAppendedExtension)
    QN_LOCKED_PROPERTY(QUrl, downloadUrl, setDownloadUrl)
    QN_LOCKED_PROPERTY(ServiceObjectPtr, fileObject, setFileObject)
    QN_LOCKED_PROPERTY(ServiceObjectPtr, feedPhotoAlbum, setFeedPhotoAlbum)
    QN_LOCKED_PROPERTY(QString, sha1, setSha1)
    QN_LOCKED_PROPERTY(QUrl, url, setUrl)
    QN_LOCKED_PROPERTY(bool, isCameraRoll, setIsCameraRoll)
    QN_LOCKED_PROPERTY(bool, isAlbum, setIsAlbum)
    QN_LOCKED_PROPERTY(QUrl, thumbnailURL, setThumbnailURL)
    QN_LOCKED_PROPERTY(QString, driveConfigId, setDriveConfigId)
    QN_LOCKED_PROPERTY(bool, isSelected, setIsSelected)
    QN_LOCKED_PROPERTY(bool, isNote, setIsNote)
    QN_LOCKED_PROPERTY(QString, fullPath, setFullPath)
    // A symbolic link (listed as what it points at): removing it removes
    // the link itself, never what lies behind it. linkTarget names the real
    // folder or file it leads to, as the drive resolved it ("" when unknown).
    QN_LOCKED_PROPERTY(bool, isLink, setIsLink)
    QN_LOCKED_PROPERTY(QString, linkTarget, setLinkTarget)
    // A local name that does not read back as text (not valid UTF-8): its
    // displayName and path show it byte-escaped, and it cannot be opened.
    QN_LOCKED_PROPERTY(bool, hasUnreadableName, setHasUnreadableName)
    // Set on a listed folder: how many entries its last listing left out
    // because this drive cannot show them (a name that cannot stand in a
    // path, a line no format reads). They are on the server all the same.
    QN_LOCKED_PROPERTY(int, leftOutCount, setLeftOutCount)
    QN_LOCKED_PROPERTY(std::shared_ptr<QNDriveConfig>, openedFromDriveConfig, setOpenedFromDriveConfig)
    QN_LOCKED_PROPERTY(QNDocumentPtr, openedFromDocument, setOpenedFromDocument)
    QN_LOCKED_PROPERTY(QNDocumentPtr, openedFromParentDocument, setOpenedFromParentDocument)

private:
    mutable std::mutex m_propertyMutex;
};
