#include "Core/QNDocument.h"

QNDocumentPtr QNDocument::withPath(const QString &path, bool isDirectory) {
    auto doc = create();
    doc->setPath(path);
    doc->setIsDirectory(isDirectory);
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    doc->setDisplayName(slash >= 0 && name.size() > 1 ? name.mid(slash + 1) : name);
    return doc;
}

QNDocumentPtr QNDocument::copy() const {
    auto other = create();
    // One lock for the whole read: the copy shows one moment of this document.
    std::lock_guard propertyLock(m_propertyMutex);
    other->m_path = m_path;
    other->m_isDirectory = m_isDirectory;
    other->m_size = m_size;
    other->m_type = m_type;
    other->m_date = m_date;
    other->m_displayName = m_displayName;
    other->m_id = m_id;
    other->m_link = m_link;
    other->m_linkEndDate = m_linkEndDate;
    other->m_dimensions = m_dimensions;
    other->m_fileDescription = m_fileDescription;
    other->m_editURL = m_editURL;
    other->m_gdResourceId = m_gdResourceId;
    other->m_appendedExtension = m_appendedExtension;
    other->m_downloadUrl = m_downloadUrl;
    other->m_fileObject = m_fileObject;
    other->m_feedPhotoAlbum = m_feedPhotoAlbum;
    other->m_sha1 = m_sha1;
    other->m_url = m_url;
    other->m_isCameraRoll = m_isCameraRoll;
    other->m_isAlbum = m_isAlbum;
    other->m_thumbnailURL = m_thumbnailURL;
    other->m_driveConfigId = m_driveConfigId;
    other->m_isSelected = m_isSelected;
    other->m_isNote = m_isNote;
    other->m_fullPath = m_fullPath;
    other->m_isLink = m_isLink;
    other->m_linkTarget = m_linkTarget;
    other->m_hasUnreadableName = m_hasUnreadableName;
    other->m_leftOutCount = m_leftOutCount;
    other->m_openedFromDriveConfig = m_openedFromDriveConfig;
    other->m_openedFromDocument = m_openedFromDocument;
    other->m_openedFromParentDocument = m_openedFromParentDocument;
    return other;
}

bool QNDocument::isEqualTo(const QNDocument &other) const {
    if (&other == this)
        return true;
    const QString otherDrive = other.driveConfigId();
    if (otherDrive.isNull() || otherDrive != driveConfigId())
        return false;
    if (const auto object = fileObject()) {
        const auto otherObject = other.fileObject();
        return otherObject && object->isEqualTo(*otherObject);
    }
    const QString ownId = id();
    if (!ownId.isNull()) {
        if (other.id() != ownId || other.id().isNull())
            return false;
        if (isNote() && isDirectory()) {
            const QString ownPath = path();
            return !ownPath.isNull() && other.path() == ownPath;
        }
        return true;
    }
    const QString ownPath = path();
    const QString otherPath = other.path();
    return !ownPath.isNull() && !otherPath.isNull() && ownPath == otherPath;
}
