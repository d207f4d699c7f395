#pragma once

#include "Core/QNCloudInterface.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <mutex>

class NRHTTPRequest;
using NRHTTPRequestPtr = std::shared_ptr<NRHTTPRequest>;

// The drive handler of WebDAV servers, the Wi-Fi disks found on the local
// network among them. Every call is one HTTP request of NRHTTPRequest; a
// listing is a PROPFIND read with XTDocument. Started on the main thread;
// every answer comes on the main thread, once.
//
// Three hooks let a subclass (the Office 365 handler) make and authorize the
// requests its own way: authorizeRequestForPath(), requestDriveConfig() and
// formsPath(). Everything else works through them unchanged.
class QNWebDAVHandler : public QNCloudInterface {
public:
    // (success, cancelled, error, the request ready to be configured; null on failure)
    using AuthorizeCallback =
        std::function<void(bool success, bool cancelled, VNErrorPtr error, NRHTTPRequestPtr request)>;

    QNWebDAVHandler();
    explicit QNWebDAVHandler(QNDriveConfigPtr driveConfig);
    ~QNWebDAVHandler() override;

    QString className() const override;
    // The domain of this handler's own errors ("QNWebDavHander", so spelled:
    // stored and compared elsewhere), code 42, the reply's status line under "error".
    static QString errorDomain();

    // Makes the factory build this handler for drives whose isWebDAV flag is set.
    static void registerWithFactory();

    void login(QNLoginCallback completed) override;
    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    // One PUT onto the file's name in destPath.
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    // A PUT onto a hidden name beside it (".<name>.part-<6 hex digits>"),
    // then a MOVE onto the name (Overwrite: T), which once sent runs to the
    // server's answer. A PUT that fails or is cancelled removes the
    // temporary file; so does a MOVE that fails while the name still holds a
    // file. A server that removes the file it replaces before the move may
    // fail the move with the name left empty: the whole new file then stays
    // under its temporary name, named in the error, as it may be the only
    // copy left. A MOVE whose reply was lost after the server carried it out
    // is an upload done. A temporary file left on the drive is named in the
    // answer's error, also in a cancelled one.
    void uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                  QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    // Never replaces an existing item: the server's refusal comes back as an
    // error. Once sent, the MOVE runs to the server's answer.
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    // Copy and move inside the server never replace an item of the same
    // name in the target folder: the server's refusal is an error naming it.
    void localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    // A Wi-Fi disk: its "pref-get" JSON call; any other server: the RFC 4331
    // quota properties. Total = available + used for the latter.
    void quota(QNDocumentPtr root, QNQuotaCallback completed) override;
    void cancel() override;

    // --- Hooks ------------------------------------------------------------
    // Makes the request for a drive path (the path appended to the drive URL
    // as URL path components), authorized with the drive's user name and
    // password, persistent connections off; answers at once.
    virtual void authorizeRequestForPath(const QString &path, AuthorizeCallback completion);
    // The base URL listing entries are recognised against (the drive's url).
    virtual QString requestDriveConfig() const;
    // One href the listings hide (none here: the empty string).
    virtual QString formsPath() const;

    // The request in flight (replaced by each new one; cancel() acts on it).
    NRHTTPRequestPtr currentRequest() const;
    void setCurrentRequest(NRHTTPRequestPtr request);

    // --- Building blocks, public for the tests ----------------------------
    // The drive URL with a drive path appended as URL path components
    // (characters a path cannot carry are escaped). Invalid for a URL
    // without scheme or host.
    static QUrl urlByAppendingPath(const QString &driveUrl, const QString &path);
    // The PROPFIND body of a listing (XML, properties in the "DAV:" namespace).
    static QByteArray listingRequestBody();
    // The PROPFIND body of the quota properties.
    static QByteArray quotaRequestBody();
    // The Wi-Fi disk's quota call: the drive URL's scheme and host, the
    // default port (or the test port), path "/rpc.cgi". Invalid when the
    // drive URL names no host.
    static QUrl wiFiDiskQuotaURL(const QString &driveUrl);
    // The body of the "pref-get" call.
    static QByteArray wiFiDiskQuotaRequestBody();
    // Test seam: the port the Wi-Fi disk's quota call goes to (0: the
    // scheme's default, as on a real device).
    static void setWiFiDiskQuotaPortForTesting(int port);

    // What a listing is read against.
    struct ListingContext {
        QString folderPath;      // the listed folder's own path
        QString baseURL;         // requestDriveConfig()
        QString formsPath;       // formsPath()
        bool isDiskCast = false; // hide the Wi-Fi disk's system folders
    };
    // Reads a multistatus reply into documents, in reply order. Drops the
    // folder itself (as a path, with or without the drive URL's path, or as
    // an absolute URL) and every entry whose name is unusable (".", "..",
    // holding "/" or NUL, not UTF-8). Null list and *error on a reply that
    // is not a multistatus document.
    static QNDocumentList parseListing(const QByteArray &reply, const ListingContext &context,
                                       VNErrorPtr *error);
    // Reads a Wi-Fi disk's "pref-get" reply: (used, available, total) sums,
    // held at the 64-bit limits when the figures would overflow them.
    // False and *error when the reply is not the expected JSON.
    static bool parseWiFiDiskQuota(const QByteArray &reply, qint64 *used, qint64 *available, qint64 *total,
                                   VNErrorPtr *error);
    // Reads the quota properties; false and *error on a reply that is not a
    // multistatus document.
    static bool parseQuotaProperties(const QByteArray &reply, qint64 *available, qint64 *used, VNErrorPtr *error);

    // The handler error: domain errorDomain(), code 42, the message under
    // "error" and as the description.
    static VNErrorPtr handlerError(const QString &message);
    // A refused request: the status line under "error", a description
    // naming the status, its reason, the method and the path.
    static VNErrorPtr statusError(const NRHTTPRequest &request);
    // The first failed member (status 400 or more, or none) of a
    // multi-status reply as an error; null when every member succeeded.
    // The error's user info also holds the member's status code and its
    // decoded href under these keys.
    static VNErrorPtr multiStatusFailure(const QByteArray &reply);
    static QString memberStatusKey() { return QStringLiteral("memberStatus"); }
    static QString memberHrefKey() { return QStringLiteral("memberHref"); }

protected:
    // One request of the common frame.
    struct Call {
        QString path;                                        // drive path to authorize
        std::function<void(NRHTTPRequest &)> configure;      // method, headers, body
        std::function<void(NRHTTPRequest &)> succeeded;      // status below 400
        std::function<void(VNErrorPtr, bool)> failed;        // (error, cancelled)
        // The error for a status of 400 or more (default: the status line).
        std::function<VNErrorPtr(const NRHTTPRequest &)> refused;
        // A cancelled request hands the engine's cancel error along.
        bool passCancelError = false;
        // Apply the drive's certificate switch (every call does).
        bool applyCertificateSwitch = true;
        // Set when the call is sent again after a refused authorization.
        bool retried = false;
        // Puts the drive right (removes a temporary upload, or looks at what
        // a failed step left): runs after a cancel too, and a cancel does not
        // stop it.
        bool survivesCancel = false;
        // Once sent, runs to the server's answer (a MOVE: cut off on its
        // way, the server may still carry it out); a cancel that came before
        // still stops it.
        bool runsToItsAnswer = false;
    };
    // A request was answered 401 or 403. A subclass whose authorization may
    // have gone stale (a cached cookie) drops it and answers true: the call
    // is then authorized and sent once more.
    virtual bool authorizationRefused() { return false; }
    void perform(Call call);
    void run(const NRHTTPRequestPtr &request, Call call);
    // Adds the Destination header of a MOVE or COPY onto a drive path, from
    // the drive URL as it stands once the request is authorized (an Office
    // 365 sign-in points it at the library only then).
    void setDestination(NRHTTPRequest &request, const QString &path) const;
    std::shared_ptr<QNWebDAVHandler> sharedHandler();

private:
    void quotaOfWiFiDisk(QNQuotaCallback completed);
    void quotaByProperties(QNDocumentPtr root, QNQuotaCallback completed);
    void transferInside(const QString &method, QNDocumentPtr document, QNDocumentPtr target,
                        QNDocumentCallback completed);
    // Sends the local file source with PUT to the drive path; done(error, cancelled).
    void put(const QString &source, const QString &path, const QNProgressCallback &progress,
             std::function<void(VNErrorPtr error, bool cancelled)> done);
    // The whole temporary upload at temporaryPath takes the name of finalPath.
    void nameTemporaryUpload(const QString &temporaryPath, const QString &finalPath, QNDocumentPtr destPath,
                             QNDocumentCallback completed);
    // After a MOVE onto finalPath that failed: one whose temporary file is
    // gone while the name holds a file was carried out (its reply was lost)
    // and is an upload done; any other is endRefusedNaming().
    void endFailedNaming(const QString &temporaryPath, const QString &finalPath, QNDocumentPtr destPath,
                         VNErrorPtr failure, bool cancelled, QNDocumentCallback completed);
    // After a MOVE onto finalPath that was not carried out: the temporary
    // file goes when the name still holds a file, and stays, named in the
    // error (after a cancel too), when not.
    void endRefusedNaming(const QString &temporaryPath, const QString &finalPath, VNErrorPtr refusal,
                          bool cancelled, QNDocumentCallback completed);
    // Whether the drive path holds an item (PROPFIND, depth 0): answer(there,
    // error), the error null when the answer is sure.
    void lookAt(const QString &path, std::function<void(bool there, VNErrorPtr error)> answer);
    // Removes a temporary upload, after a cancel too; removed(error), null
    // when it is gone (or was never made).
    void removeTemporaryUpload(const QString &path, std::function<void(VNErrorPtr error)> removed);

    mutable std::mutex m_requestMutex;
    NRHTTPRequestPtr m_currentRequest;
};
