#pragma once

#include "Cloud/QNFTPListingParser.h"
#include "Core/QNCloudInterface.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class VNOperationQueue;
class QNStringEncoding;
namespace QNFTPInternal {
struct CurlHandle;
struct CurlList;
}

// The drive handler of FTP, FTPS (explicit TLS) and SFTP drives. Every
// operation is one blocking libcurl transfer on a worker thread of the
// handler's own queue. Login and list answer on the main queue; the other
// operations, and every cancellation, answer on the worker.
//
// Changes on the server (create folder, remove, rename) are FTP commands
// sent in the changed folder itself, or SFTP commands on the server path
// that the drive URL and the document path name, so they act on the folder
// that listing shows. Names travel in the drive's character encoding; with
// "detect" (0), each listing's encoding is guessed and kept for later
// operations on that folder (QNFTPEncodingMemory).
//
// FTP folders are listed with "LIST -a" so that names starting with a dot
// are there (many servers leave them out of a plain LIST, and a copied
// folder would lack them); a drive whose server refuses it is listed with
// plain LIST from then on (QNFTPListingCommandMemory). SFTP lists all names.
//
// Each transfer runs on a connection of the drive kept open by its last
// operation when there is one (QNFTPConnectionPool). A change on the server
// is never sent twice: when the connection is lost before the server
// answered it, the folder's listing tells whether it was carried out.
//
// Errors: domain "QNFTPHandler", code 42, the transfer error text followed
// by the transfer log (password masked) as description and under "error".
class QNFTPHandler : public QNCloudInterface {
public:
    explicit QNFTPHandler(QNDriveConfigPtr driveConfig);
    ~QNFTPHandler() override;

    static QNCloudInterfacePtr make(const QNDriveConfigPtr &driveConfig);
    // Registers this class with the handler factory for FTP drives. Idempotent.
    static void registerHandler();

    QString className() const override;

    void login(QNLoginCallback completed) override;
    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    // The file goes up under a temporary name and takes its own when whole.
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    // Every upload does so: the same as upload().
    void uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                  QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;

    // The encoding names travel in (may change to a listing's guess).
    quint32 stringEncoding() const { return m_stringEncoding.load(); }
    bool shouldDetectStringEncoding() const { return m_shouldDetectStringEncoding; }
    // The size of the document being downloaded: the progress total when
    // the server announces none.
    qint64 fileSize() const { return m_fileSize.load(); }

    // The login caption written into the drive's description.
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS FTP ACCOUNT"

    // Extra certificate authorities (PEM file) trusted for FTPS drives that
    // validate certificates, besides the system's; empty for none.
    static void setCertificateAuthorityFile(const QString &path);
    static QString certificateAuthorityFile();
    // The application's known-hosts file for SFTP host keys (default: beside
    // the user defaults file).
    static void setKnownHostsFile(const QString &path);
    static QString knownHostsFile();
    // Certificates of FTPS servers on drives that do not validate them,
    // remembered at the first login (beside the known-hosts file).
    static QString certificatesFile();
    // Seconds of silence after which a connection or transfer fails
    // ("a timeout was reached"); default 60.
    static void setStallTimeout(int seconds);

    // Connections kept from one operation to the next (QNFTPConnectionPool):
    // those of a removed drive close; an unused one closes after seconds
    // (default 60); none serves longer than maxAge seconds after it was made
    // (default 300).
    static void forgetDrive(const QNDriveConfig &config);
    static void setConnectionIdleSeconds(int seconds);
    static void setConnectionMaxAgeSeconds(int seconds);

    // For tests: called on the worker as each transfer starts, with its
    // URL, once its connection is chosen and before its options are set.
    static void setTransferStartHookForTesting(std::function<void(const QByteArray &url)> hook);

    // The queue whose workers run the transfers.
    static VNOperationQueue &transferQueue();

    // One transfer's state, and the drive's settings it runs with; public
    // for the libcurl callbacks and helpers in the .cpp files.
    struct Transfer;
    struct Settings;
    // A listing transfer's end, and a change on the server by drive paths.
    struct ListingFetch;
    struct Change;
    // How a transfer ended: cancelled, failed with an error, or neither. A
    // command that changes the server may have been carried out although
    // its answer never came (answerLost).
    struct Outcome {
        bool cancelled = false;
        VNErrorPtr error;
        bool answerLost = false;
    };

private:
    // Queues work on a transfer worker, keeping this handler alive for it.
    void runOnWorker(std::function<void(QNFTPHandler &)> work);
    // The encoding for names on a path (a detected one, when known).
    quint32 encodingFor(const QString &path) const;
    // The same for a path that a change or transfer names: on a drive set
    // to "detect", a name beyond ASCII in a folder no listing of this
    // session has shown has its folder listed first (on the worker).
    quint32 encodingLearnedFor(const QString &path);
    QString driveKey() const;
    // The drive's settings for one operation (see Settings).
    Settings readSettings() const;

    void runLogin(QNLoginCallback completed);
    void runList(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed);
    void runDownload(QNDocumentPtr document, QNDocumentPtr destPath, QNDocumentCallback completed);
    void runUpload(QNDocumentPtr document, QNDocumentPtr destPath, QNDocumentCallback completed);
    void runCreateFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed);
    void runRemove(QNDocumentPtr document, QNDocumentCallback completed);
    void runRename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    // A folder's listing: with names starting with a dot where the server
    // gives them ("LIST -a"), else plain (see runList()).
    ListingFetch fetchListing(const Settings &settings, const QString &folderPath, QNStringEncoding &encoding,
                              bool watchCancel = true);
    // Turns the symbolic links of a listing into the folders or files they
    // point at; cancelled when cancelled, an error when the server's key or
    // certificate was refused on the way.
    Outcome resolveLinks(const Settings &settings, const QString &folderPath, QList<QNFTPListingParser::Item> &items,
                         QNStringEncoding &encoding);
    // Runs the commands of a change; when their answer was lost, the
    // listing says whether the change was carried out (see lookAtChange()).
    Outcome runChange(const Settings &settings, QNStringEncoding &encoding, const QByteArray &url,
                      QNFTPInternal::CurlList &commands,
                      const Change &change, bool watchCancel = true, QNFTPInternal::CurlHandle *reuse = nullptr);
    // After a change whose answer was lost: done (no error), not done (an
    // error), or not known (an error, its answer still lost), from the
    // listings of the folders it touched.
    Outcome lookAtChange(const Settings &settings, QNStringEncoding &encoding, const Change &change,
                         const VNErrorPtr &failure);
    // An upload's temporary file: replacing the old file with it when the
    // server would not rename onto an existing name, else sending the file
    // again straight onto its name where the caller allows it
    // (uploadMayWriteOntoName()), or removing it (false: it stays).
    struct FolderCommands;
    struct UploadSource;
    Outcome replaceWithUpload(const Settings &settings, FolderCommands &names, const QString &tempName,
                              const QString &fileName, UploadSource &source);
    Outcome uploadOntoName(const Settings &settings, FolderCommands &names, const QString &tempName,
                           const QString &fileName, UploadSource &source);
    bool removeTemporaryUpload(const Settings &settings, FolderCommands &names, const QString &tempName);

    std::atomic<quint32> m_stringEncoding;
    bool m_shouldDetectStringEncoding = false;
    std::atomic<qint64> m_fileSize{0};
};
