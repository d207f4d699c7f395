#pragma once

#include "Core/QNLockedProperty.h"
#include "Platform/VNError.h"
#include "Platform/VNKeyedArchive.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QNDocument;
class QNCloudInterface;
class QNDriveConfig;
using QNDriveConfigPtr = std::shared_ptr<QNDriveConfig>;
using QNDriveConfigList = QList<QNDriveConfigPtr>;

// One drive: which service it is (one kind flag), how to reach it (URL,
// credentials, tokens, protocol switches), how to show it, and the last quota
// figures read from it. Stored drives live in the user default "clouddrives";
// run-time drives (the local disk, Bonjour WebDAV servers) are never stored.
//
// Always hold configurations in a std::shared_ptr (use create()): handlers
// keep a strong reference to the configuration they serve.
class QNDriveConfig : public std::enable_shared_from_this<QNDriveConfig> {
public:
    QNDriveConfig();
    // Removes tempFolder (with its contents) when one is set.
    ~QNDriveConfig();

    QNDriveConfig(const QNDriveConfig &) = delete;
    QNDriveConfig &operator=(const QNDriveConfig &) = delete;

    // An empty configuration: strings absent, flags false, numbers 0.
    static QNDriveConfigPtr create();
    // A local archive opened as a drive (isArchive set); owns tempFolder.
    static QNDriveConfigPtr createWithArchivePath(const QString &archivePath, const QString &tempFolder);

    // The class name each archived configuration carries.
    static QString archiveClassName();  // "QNDriveConfig"
    // The 39 keys of the archive, in the order they are written.
    static const QStringList &archiveKeys();

    // Keyed archive of one configuration, and back. Missing keys decode as
    // absent text, false or 0; unstored fields keep their defaults.
    VNArchiveRecord encode() const;
    static QNDriveConfigPtr decode(const VNArchiveRecord &record);

    // A list of configurations as archive bytes, and back. A value that is
    // not an archive of configurations is an error, never an empty list.
    static QByteArray archiveList(const QNDriveConfigList &configs);
    static std::optional<QNDriveConfigList> unarchiveList(const QByteArray &data, VNErrorPtr *error = nullptr);

    // An independent copy through the archive: only stored fields survive.
    QNDriveConfigPtr copyThroughArchive() const;

    // The user default holding the saved drive list.
    // An FTP or SFTP drive's address as it is reached: typed without a
    // scheme, it gets sftp:// on an SFTP drive, else ftp://.
    static QString withFileServerScheme(const QString &url, bool sftpDrive);

    static QString storedDrivesKey();  // "clouddrives"
    // Reads the saved drive list: an empty list when nothing is stored; an
    // error (and nullopt) when the stored value cannot be read, in which case
    // the stored bytes must be left alone.
    static std::optional<QNDriveConfigList> readStoredDrives(VNErrorPtr *error = nullptr);
    // Stores the whole list and synchronizes the defaults at once.
    static bool writeStoredDrives(const QNDriveConfigList &configs, VNErrorPtr *error = nullptr);
    // Read, change, write back and synchronize, in one step. Refuses (false,
    // error) without writing when the stored value cannot be read.
    static bool updateStoredDrives(const std::function<void(QNDriveConfigList &)> &change,
                                   VNErrorPtr *error = nullptr);

    // A new handler for this drive (a QNCloudInterface subclass chosen by the
    // first kind flag set, see QNCloudInterfaceFactory), or null when no
    // handler serves this kind. Every call makes a new handler.
    std::shared_ptr<QNCloudInterface> createCloudInterface();

    // The service's name ("Dropbox", "FTP", ... "(Unknown Service)").
    QString serviceName() const;
    // The drive's identity: "%@|%@|%@|%@|%@|%d|%@" of service name, url,
    // username, password (empty for Box), userId, isMyFiles, token (Copy and
    // Bitcasa only); absent strings render as "(null)".
    QString driveConfigId() const;

    // A Wi-Fi disk (WebDAV found on the network): displayName begins with "diskCAST".
    bool isDiskCast() const;

    // Capability queries. Documents may be null (counts as the root).
    bool supportsCreateFolder(const std::shared_ptr<QNDocument> &folder) const;
    bool supportsLinks(const std::shared_ptr<QNDocument> &document) const;
    bool supportsRename(const std::shared_ptr<QNDocument> &folder) const;
    bool supportsDelete(const std::shared_ptr<QNDocument> &folder) const;
    bool supportsLocalCopy(const std::shared_ptr<QNDocument> &document) const;
    bool supportsLocalMove(const std::shared_ptr<QNDocument> &document) const;
    // Whether the drive's handler can upload under a temporary name (see
    // QNCloudInterface::uploadUnderTemporaryName): the FTP, SFTP and WebDAV
    // drives.
    bool supportsUploadUnderTemporaryName() const;
    bool supportsShare(const std::shared_ptr<QNDocument> &document) const;
    bool supportsDrop(const std::shared_ptr<QNDocument> &folder) const;
    bool supportsSearchForPath(const QString &path) const;
    bool oAuthLogin() const;
    bool needsURL() const;
    bool needsRecursiveRemove() const;
    bool downloadThumnailFiles() const;
    bool isPhotoService() const;

    QN_LOCKED_PROPERTY(QString, displayName, setDisplayName)
    QN_LOCKED_PROPERTY(QString, name, setName)
    QN_LOCKED_PROPERTY(QString, description, setDescription)
    QN_LOCKED_PROPERTY(QString, url, setUrl)
    QN_LOCKED_PROPERTY(QString, username, setUsername)
    QN_SECRET_PROPERTY(password, setPassword)
    QN_LOCKED_PROPERTY(QString, userId, setUserId)
    QN_SECRET_PROPERTY(token, setToken)
    QN_SECRET_PROPERTY(tokenSecret, setTokenSecret)
    QN_LOCKED_PROPERTY(QString, image, setImage)
    QN_LOCKED_PROPERTY(qint64, availableBytes, setAvailableBytes)
    QN_LOCKED_PROPERTY(qint64, usedBytes, setUsedBytes)
    QN_LOCKED_PROPERTY(qint64, sharedBytes, setSharedBytes)
    QN_LOCKED_PROPERTY(qint64, totalBytes, setTotalBytes)
    QN_LOCKED_PROPERTY(quint64, stringEncoding, setStringEncoding)
    QN_LOCKED_PROPERTY(QString, stringEncodingName, setStringEncodingName)
    QN_LOCKED_PROPERTY(QString, initialUrlPath, setInitialUrlPath)
    QN_LOCKED_PROPERTY(QString, noteStoreURL, setNoteStoreURL)
    QN_LOCKED_PROPERTY(bool, useSSL, setUseSSL)
    QN_LOCKED_PROPERTY(bool, useMD5, setUseMD5)
    QN_LOCKED_PROPERTY(bool, validateCertificates, setValidateCertificates)
    QN_LOCKED_PROPERTY(qint32, port, setPort)
    QN_LOCKED_PROPERTY(bool, useAbsolutePath, setUseAbsolutePath)
    QN_LOCKED_PROPERTY(bool, isMyFiles, setIsMyFiles)
    QN_LOCKED_PROPERTY(bool, isMyPhotos, setIsMyPhotos)
    QN_LOCKED_PROPERTY(bool, addNewDrive, setAddNewDrive)
    QN_LOCKED_PROPERTY(bool, isDropbox, setIsDropbox)
    QN_LOCKED_PROPERTY(bool, isBox, setIsBox)
    QN_LOCKED_PROPERTY(bool, isSkyDrive, setIsSkyDrive)
    QN_LOCKED_PROPERTY(bool, isOffice365, setIsOffice365)
    QN_LOCKED_PROPERTY(bool, isGoogleDrive, setIsGoogleDrive)
    QN_LOCKED_PROPERTY(bool, isGooglePhotos, setIsGooglePhotos)
    QN_LOCKED_PROPERTY(bool, isFlickr, setIsFlickr)
    QN_LOCKED_PROPERTY(bool, isSugarSync, setIsSugarSync)
    QN_LOCKED_PROPERTY(bool, isSpiderOak, setIsSpiderOak)
    QN_LOCKED_PROPERTY(bool, isEvernote, setIsEvernote)
    QN_LOCKED_PROPERTY(bool, isCopy, setIsCopy)
    QN_LOCKED_PROPERTY(bool, isBitcasa, setIsBitcasa)
    QN_LOCKED_PROPERTY(bool, isWebDAV, setIsWebDAV)
    QN_LOCKED_PROPERTY(bool, isCustomWebDAV, setIsCustomWebDAV)
    QN_LOCKED_PROPERTY(bool, isPublic, setIsPublic)
    QN_LOCKED_PROPERTY(bool, isS3, setIsS3)
    QN_LOCKED_PROPERTY(bool, isFTP, setIsFTP)
    QN_LOCKED_PROPERTY(bool, isSFTP, setIsSFTP)
    QN_LOCKED_PROPERTY(bool, isSMB, setIsSMB)
    QN_LOCKED_PROPERTY(bool, isArchive, setIsArchive)
    QN_LOCKED_PROPERTY(bool, isBonjour, setIsBonjour)
    QN_LOCKED_PROPERTY(bool, ftpActive, setFtpActive)
    QN_LOCKED_PROPERTY(QString, archivePath, setArchivePath)
    QN_LOCKED_PROPERTY(QString, tempFolder, setTempFolder)

private:
    mutable std::mutex m_propertyMutex;
};
