#include "Core/QNDriveConfig.h"

#include "Core/QNCloudInterface.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDocument.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QDir>
#include <QFileInfo>

namespace {

// An absent string renders as "(null)" in the drive id, as it always has.
QString orNull(const QString &s) {
    return s.isNull() ? QStringLiteral("(null)") : s;
}

// Absent, empty or "/": the root of a drive.
bool isRoot(const std::shared_ptr<QNDocument> &document) {
    return !document || document->path().size() < 2;
}

}  // namespace

QNDriveConfig::QNDriveConfig() = default;

QNDriveConfig::~QNDriveConfig() {
    const QString folder = m_tempFolder;
    if (folder.isEmpty())
        return;
    VNLog::log(QStringLiteral("QNDriveConfig - Removing temp folder %1").arg(folder));
    QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return;
    bool ok = info.isDir() && !info.isSymLink() ? QDir(folder).removeRecursively() : QFile::remove(folder);
    if (!ok)
        VNLog::log(QStringLiteral("Error removing tempFolder: %1").arg(folder));
}

QNDriveConfigPtr QNDriveConfig::create() {
    return std::make_shared<QNDriveConfig>();
}

QNDriveConfigPtr QNDriveConfig::createWithArchivePath(const QString &archivePath, const QString &tempFolder) {
    auto config = create();
    config->setIsArchive(true);
    config->setArchivePath(archivePath);
    config->setTempFolder(tempFolder);
    return config;
}

QString QNDriveConfig::archiveClassName() {
    return QStringLiteral("QNDriveConfig");
}

const QStringList &QNDriveConfig::archiveKeys() {
    static const QStringList keys = {
        "displayName", "name", "description", "url", "username", "password", "userId", "token",
        "tokenSecret", "image", "stringEncoding", "stringEncodingName", "useSSL", "useMD5", "port",
        "isMyFiles", "addNewDrive", "noteStoreURL", "isDropbox", "isBox", "isSkyDrive", "isOffice365",
        "isGoogleDocs", "isGooglePhotos", "isFlickr", "isSugarSync", "isSpiderOak", "isEvernote",
        "isCopy", "isBitcasa", "isWebDAV", "isCustomWebDAV", "isPublic", "isS3", "isFTP", "isSFTP",
        "isSMB", "ftpActive", "validateCertificates"};
    return keys;
}

VNArchiveRecord QNDriveConfig::encode() const {
    VNArchiveRecord r(archiveClassName());
    r.encodeText("displayName", displayName());
    r.encodeText("name", name());
    r.encodeText("description", description());
    r.encodeText("url", url());
    r.encodeText("username", username());
    r.encodeText("password", password());
    r.encodeText("userId", userId());
    r.encodeText("token", token());
    r.encodeText("tokenSecret", tokenSecret());
    r.encodeText("image", image());
    r.encodeInt64("stringEncoding", static_cast<qint64>(stringEncoding()));
    r.encodeText("stringEncodingName", stringEncodingName());
    r.encodeBool("useSSL", useSSL());
    r.encodeBool("useMD5", useMD5());
    r.encodeInt32("port", port());
    r.encodeBool("isMyFiles", isMyFiles());
    r.encodeBool("addNewDrive", addNewDrive());
    r.encodeText("noteStoreURL", noteStoreURL());
    r.encodeBool("isDropbox", isDropbox());
    r.encodeBool("isBox", isBox());
    r.encodeBool("isSkyDrive", isSkyDrive());
    r.encodeBool("isOffice365", isOffice365());
    r.encodeBool("isGoogleDocs", isGoogleDrive());
    r.encodeBool("isGooglePhotos", isGooglePhotos());
    r.encodeBool("isFlickr", isFlickr());
    r.encodeBool("isSugarSync", isSugarSync());
    r.encodeBool("isSpiderOak", isSpiderOak());
    r.encodeBool("isEvernote", isEvernote());
    r.encodeBool("isCopy", isCopy());
    r.encodeBool("isBitcasa", isBitcasa());
    r.encodeBool("isWebDAV", isWebDAV());
    r.encodeBool("isCustomWebDAV", isCustomWebDAV());
    r.encodeBool("isPublic", isPublic());
    r.encodeBool("isS3", isS3());
    r.encodeBool("isFTP", isFTP());
    r.encodeBool("isSFTP", isSFTP());
    r.encodeBool("isSMB", isSMB());
    r.encodeBool("ftpActive", ftpActive());
    r.encodeBool("validateCertificates", validateCertificates());
    return r;
}

QNDriveConfigPtr QNDriveConfig::decode(const VNArchiveRecord &r) {
    auto c = create();
    c->setDisplayName(r.decodeText("displayName"));
    c->setName(r.decodeText("name"));
    c->setDescription(r.decodeText("description"));
    c->setUrl(r.decodeText("url"));
    c->setUsername(r.decodeText("username"));
    c->setPassword(r.decodeText("password"));
    c->setUserId(r.decodeText("userId"));
    c->setToken(r.decodeText("token"));
    c->setTokenSecret(r.decodeText("tokenSecret"));
    c->setImage(r.decodeText("image"));
    c->setStringEncoding(static_cast<quint64>(r.decodeInt64("stringEncoding")));
    c->setStringEncodingName(r.decodeText("stringEncodingName"));
    c->setUseSSL(r.decodeBool("useSSL"));
    c->setUseMD5(r.decodeBool("useMD5"));
    c->setPort(r.decodeInt32("port"));
    c->setIsMyFiles(r.decodeBool("isMyFiles"));
    c->setAddNewDrive(r.decodeBool("addNewDrive"));
    c->setNoteStoreURL(r.decodeText("noteStoreURL"));
    c->setIsDropbox(r.decodeBool("isDropbox"));
    c->setIsBox(r.decodeBool("isBox"));
    c->setIsSkyDrive(r.decodeBool("isSkyDrive"));
    c->setIsOffice365(r.decodeBool("isOffice365"));
    c->setIsGoogleDrive(r.decodeBool("isGoogleDocs"));
    c->setIsGooglePhotos(r.decodeBool("isGooglePhotos"));
    c->setIsFlickr(r.decodeBool("isFlickr"));
    c->setIsSugarSync(r.decodeBool("isSugarSync"));
    c->setIsSpiderOak(r.decodeBool("isSpiderOak"));
    c->setIsEvernote(r.decodeBool("isEvernote"));
    c->setIsCopy(r.decodeBool("isCopy"));
    c->setIsBitcasa(r.decodeBool("isBitcasa"));
    c->setIsWebDAV(r.decodeBool("isWebDAV"));
    c->setIsCustomWebDAV(r.decodeBool("isCustomWebDAV"));
    c->setIsPublic(r.decodeBool("isPublic"));
    c->setIsS3(r.decodeBool("isS3"));
    c->setIsFTP(r.decodeBool("isFTP"));
    c->setIsSFTP(r.decodeBool("isSFTP"));
    c->setIsSMB(r.decodeBool("isSMB"));
    c->setFtpActive(r.decodeBool("ftpActive"));
    c->setValidateCertificates(r.decodeBool("validateCertificates"));
    return c;
}

QByteArray QNDriveConfig::archiveList(const QNDriveConfigList &configs) {
    QList<VNArchiveRecord> records;
    for (const auto &config : configs)
        if (config)
            records.append(config->encode());
    return VNKeyedArchive::archive(records);
}

std::optional<QNDriveConfigList> QNDriveConfig::unarchiveList(const QByteArray &data, VNErrorPtr *error) {
    auto records = VNKeyedArchive::unarchive(data, error);
    if (!records)
        return std::nullopt;
    QNDriveConfigList out;
    for (const auto &record : *records) {
        if (record.className() != archiveClassName()) {
            if (error)
                *error = VNError::withDescription(
                    VNKeyedArchive::errorDomain, 2,
                    QStringLiteral("The drive list holds an object of class \"%1\".").arg(record.className()));
            return std::nullopt;
        }
        out.append(decode(record));
    }
    return out;
}

QNDriveConfigPtr QNDriveConfig::copyThroughArchive() const {
    return decode(encode());
}

QString QNDriveConfig::storedDrivesKey() {
    return QStringLiteral("clouddrives");
}

std::optional<QNDriveConfigList> QNDriveConfig::readStoredDrives(VNErrorPtr *error) {
    auto &defaults = VNUserDefaults::standard();
    if (!defaults.contains(storedDrivesKey()))
        return QNDriveConfigList();
    const QVariant value = defaults.objectForKey(storedDrivesKey());
    if (value.typeId() != QMetaType::QByteArray) {
        if (error)
            *error = VNError::withDescription(VNKeyedArchive::errorDomain, 3,
                                              QStringLiteral("The stored drive list is not archive data."));
        VNLog::log(QStringLiteral("QNDriveConfig cannot read the stored drive list: not archive data"));
        return std::nullopt;
    }
    VNErrorPtr readError;
    auto list = unarchiveList(value.toByteArray(), &readError);
    if (!list) {
        VNLog::log(QStringLiteral("QNDriveConfig cannot read the stored drive list: %1")
                       .arg(readError ? readError->localizedDescription() : QString()));
        if (error)
            *error = readError;
    }
    return list;
}

bool QNDriveConfig::writeStoredDrives(const QNDriveConfigList &configs, VNErrorPtr *error) {
    auto &defaults = VNUserDefaults::standard();
    defaults.setObject(archiveList(configs), storedDrivesKey());
    return defaults.synchronize(error);
}

bool QNDriveConfig::updateStoredDrives(const std::function<void(QNDriveConfigList &)> &change, VNErrorPtr *error) {
    // One writer at a time within the process, so two quick changes do not
    // lose one another.
    static std::mutex updateMutex;
    std::lock_guard lock(updateMutex);
    auto list = readStoredDrives(error);
    if (!list)
        return false;
    if (change)
        change(*list);
    return writeStoredDrives(*list, error);
}

std::shared_ptr<QNCloudInterface> QNDriveConfig::createCloudInterface() {
    return QNCloudInterfaceFactory::create(shared_from_this());
}

QString QNDriveConfig::serviceName() const {
    if (isBox()) return QStringLiteral("Box");
    if (isDropbox()) return QStringLiteral("Dropbox");
    if (isFTP()) return QStringLiteral("FTP");
    if (isGoogleDrive()) return QStringLiteral("Google Drive");
    if (isGooglePhotos()) return QStringLiteral("Picasa");
    if (isFlickr()) return QStringLiteral("Flickr");
    if (isSugarSync()) return QStringLiteral("SugarSync");
    if (isMyFiles()) return QStringLiteral("My Files");
    if (isMyPhotos()) return QStringLiteral("My Photos");
    if (isS3()) return QStringLiteral("S3");
    if (isSkyDrive()) return QStringLiteral("SkyDrive");
    if (isWebDAV()) return QStringLiteral("WebDAV");
    if (isSFTP()) return QStringLiteral("Mac");
    if (isSMB()) return QStringLiteral("Samba");
    if (isArchive()) return QStringLiteral("Archive");
    if (isEvernote()) return QStringLiteral("Evernote");
    if (isSpiderOak()) return QStringLiteral("SpiderOak");
    if (isCopy()) return QStringLiteral("Copy");
    if (isOffice365()) return QStringLiteral("Office 365 SkyDrive Pro");
    if (isBitcasa()) return QStringLiteral("Bitcasa");
    return QStringLiteral("(Unknown Service)");
}

QString QNDriveConfig::driveConfigId() const {
    const QString pass = isBox() ? QString(QLatin1String("")) : orNull(password());
    const QString lastToken = (isCopy() || isBitcasa()) ? orNull(token()) : QString(QLatin1String(""));
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(serviceName(), orNull(url()), orNull(username()), pass, orNull(userId()),
             QString::number(isMyFiles() ? 1 : 0), lastToken);
}

bool QNDriveConfig::isDiskCast() const {
    return displayName().startsWith(QLatin1String("diskCAST"));
}

bool QNDriveConfig::supportsCreateFolder(const std::shared_ptr<QNDocument> &folder) const {
    if (isSpiderOak() || isEvernote())
        return false;
    if ((isSugarSync() || isBitcasa() || isDiskCast()) && isRoot(folder))
        return false;
    if (isMyPhotos() || isGooglePhotos())
        return folder && folder->path() == QLatin1String("/");
    if (isFlickr())
        return false;
    return !isArchive();
}

bool QNDriveConfig::supportsLinks(const std::shared_ptr<QNDocument> &) const {
    return isBox() || isDropbox() || isGoogleDrive() || isSkyDrive() || isFlickr() || isCopy();
}

bool QNDriveConfig::supportsRename(const std::shared_ptr<QNDocument> &folder) const {
    if (isSpiderOak() || isEvernote())
        return false;
    if ((isSugarSync() || isFlickr() || isBitcasa() || isDiskCast()) && isRoot(folder))
        return false;
    if (isMyPhotos())
        return false;
    return !isArchive();
}

bool QNDriveConfig::supportsDelete(const std::shared_ptr<QNDocument> &folder) const {
    return supportsRename(folder);
}

bool QNDriveConfig::supportsLocalCopy(const std::shared_ptr<QNDocument> &document) const {
    if (isSpiderOak() || isEvernote() || isFlickr() || isCopy() || isSFTP() || isSMB() || isFTP() || isMyFiles())
        return false;
    if ((isBitcasa() || isDiskCast()) && isRoot(document))
        return false;
    if ((isDropbox() || isSkyDrive() || isGoogleDrive() || isSugarSync()) && document && document->isDirectory())
        return false;
    // The photo-album handler has no copy inside the drive: a copy between
    // albums runs as a download and an upload instead.
    if (isMyPhotos() || isGooglePhotos())
        return false;
    return !isArchive();
}

bool QNDriveConfig::supportsLocalMove(const std::shared_ptr<QNDocument> &document) const {
    if (isSpiderOak() || isEvernote() || isFlickr() || isCopy() || isSFTP() || isSMB() || isFTP() || isMyFiles())
        return false;
    if ((isBitcasa() || isDiskCast()) && isRoot(document))
        return false;
    if (isMyPhotos() || isGooglePhotos())
        return false;
    return !isArchive();
}

bool QNDriveConfig::supportsUploadUnderTemporaryName() const {
    return !isMyFiles() && (isFTP() || isSFTP() || isWebDAV());
}

bool QNDriveConfig::supportsShare(const std::shared_ptr<QNDocument> &document) const {
    if (isSugarSync() || isFlickr() || isBitcasa() || isDiskCast())
        return !isRoot(document);
    return true;
}

bool QNDriveConfig::supportsDrop(const std::shared_ptr<QNDocument> &folder) const {
    if (isSpiderOak() || isEvernote())
        return false;
    if (isGooglePhotos() && !(folder && folder->isDirectory()))
        return false;
    if (isMyPhotos() && !(folder && (folder->isAlbum() || folder->isCameraRoll())))
        return false;
    if (isSugarSync() || isFlickr() || isBitcasa() || isDiskCast())
        return !isRoot(folder);
    return true;
}

bool QNDriveConfig::supportsSearchForPath(const QString &path) const {
    if (isDropbox())
        return true;
    if (isBox() || isEvernote())
        return path.isNull() || path == QLatin1String("/");
    return false;
}

bool QNDriveConfig::oAuthLogin() const {
    return !(isFTP() || isSFTP() || isWebDAV() || isSMB() || isSugarSync() || isSpiderOak() || isOffice365());
}

bool QNDriveConfig::needsURL() const {
    return isFTP() || isWebDAV() || isSMB();
}

bool QNDriveConfig::needsRecursiveRemove() const {
    return isFTP() || isSMB() || isSFTP();
}

bool QNDriveConfig::downloadThumnailFiles() const {
    return true;
}

bool QNDriveConfig::isPhotoService() const {
    return isFlickr() || isGooglePhotos();
}

QString QNDriveConfig::withFileServerScheme(const QString &url, bool sftpDrive) {
    QString reached = url.trimmed();
    if (!reached.contains(QLatin1String("://")))
        reached.prepend(sftpDrive ? QLatin1String("sftp://") : QLatin1String("ftp://"));
    return reached;
}
