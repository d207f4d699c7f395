#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNLockedProperty.h"
#include "Platform/VNError.h"

#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QNAuthWindowController;  // the OAuth login sheet, built by the user interface

// Callback kinds of drive handlers. Every completion callback ends with the
// cancelled flag: true when the call was cancelled (then the error is null or
// the error the cancel produced, and callers report nothing to the user).
using QNLoginCallback = std::function<void(bool success, VNErrorPtr error, bool cancelled)>;
using QNListCallback = std::function<void(QNDocumentList documents, QString searchKeyword, VNErrorPtr error,
                                          bool cancelled)>;
using QNDocumentCallback = std::function<void(QNDocumentPtr document, VNErrorPtr error, bool cancelled)>;
using QNQuotaCallback = std::function<void(VNErrorPtr error, bool cancelled)>;
// The fraction done, 0.0 to 1.0.
using QNProgressCallback = std::function<void(double fraction)>;

class QNCloudInterface;
using QNCloudInterfacePtr = std::shared_ptr<QNCloudInterface>;

// The base class of every drive handler: the contract the rest of the program
// asks of a drive. A handler serves one drive configuration and, as a rule,
// one call; it answers each call once through its completion callback, on
// any thread (callers that touch views hop to the main queue).
//
// Defaults of this class: createFolder answers at once (null, null, true) and
// quota at once (null, true); every other operation answers at once with a
// "not supported" error (domain = className(), code 42, userInfo "error"), so
// an unprovided operation never leaves its caller waiting.
//
// Handlers must be held in a std::shared_ptr (the factory makes them so);
// an asynchronous handler should keep itself alive (shared_from_this) until
// it has answered.
class QNCloudInterface : public std::enable_shared_from_this<QNCloudInterface> {
public:
    QNCloudInterface();
    explicit QNCloudInterface(QNDriveConfigPtr driveConfig);
    virtual ~QNCloudInterface();

    QNCloudInterface(const QNCloudInterface &) = delete;
    QNCloudInterface &operator=(const QNCloudInterface &) = delete;

    // The handler's class name: the domain of its errors and the first word
    // of its log lines.
    virtual QString className() const;

    // Answers (true, null, false) when the credentials in driveConfig work.
    virtual void login(QNLoginCallback completed);
    // Lists the folder (keyword null or empty) or searches below it; hands
    // the keyword back.
    virtual void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed);
    // destPath: a local document whose path is the destination file.
    virtual void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                          QNDocumentCallback completed);
    // document: a local document whose path is the source file; destPath: the
    // destination folder. The stored file keeps the source's file name.
    virtual void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                        QNDocumentCallback completed);
    // As upload(), but the file goes up under a temporary name in destPath
    // and takes its own name only once whole, replacing a file of that name
    // then: an upload cut short (a failure, a cancel) removes its temporary
    // file and never cuts that file short, which may be the very file being
    // copied, reached by another path. Drives whose QNDriveConfig
    // supportsUploadUnderTemporaryName() provide it; the base answers
    // "not supported".
    virtual void uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath,
                                          QNProgressCallback progress, QNDocumentCallback completed);
    // Set by a caller that knows that whatever destPath holds under the
    // file's name is not the file being uploaded itself (reached by another
    // path): where the temporary name cannot take the real one (a drop box
    // that renames and removes nothing), the upload may then be sent again
    // straight onto the name. Such an upload that could not remove its
    // temporary file still succeeds: it answers its document together with
    // an error that saysFileLeftOnDrive(), naming that file. Default false:
    // such an upload fails, naming the temporary file if it stays.
    void setUploadMayWriteOntoName(bool may) { m_uploadMayWriteOntoName.store(may); }
    bool uploadMayWriteOntoName() const { return m_uploadMayWriteOntoName.load(); }
    virtual void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed);
    virtual void remove(QNDocumentPtr document, QNDocumentCallback completed);
    // name: a document whose path is the new path in the same folder (and
    // whose displayName is the new name). The answer is a document of its
    // own under the new name (or none): the two given belong to the caller,
    // and neither is changed nor handed back.
    virtual void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    // Copy / move inside the drive; name is the destination folder.
    virtual void localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    virtual void localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    // Answers the document with link and linkEndDate set.
    virtual void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed);
    // Writes availableBytes, usedBytes, sharedBytes and totalBytes into
    // driveConfig, then answers (null, false).
    virtual void quota(QNDocumentPtr root, QNQuotaCallback completed);
    // Stops the running call. A handler may still answer afterwards, as
    // cancelled. The base class sets isCancelled(); overrides call it.
    virtual void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    // Whether the running call has sent a request that runs to the drive's
    // answer (sendsToItsAnswer()): the operation running the call then
    // answers a cancel itself and no longer passes it on.
    bool runsToItsAnswer() const { return m_runsToItsAnswer.load(); }

    // An error that says what a call leaves on the drive (a temporary
    // upload that could not be removed, a file kept under another name).
    // Said to the user even when the call answers a cancel, which otherwise
    // reports nothing: the task's end report names it.
    static VNErrorPtr leavingFileOnDrive(const VNErrorPtr &error);
    static bool saysFileLeftOnDrive(const VNErrorPtr &error);
    // An error that says the server's host key or certificate was refused:
    // any call to it fails the same way until the user changes what is
    // remembered or trusted, so nothing offers to go on regardless.
    static VNErrorPtr refusingServer(const VNErrorPtr &error);
    static bool saysServerRefused(const VNErrorPtr &error);

    // The optional OAuth pair, for drives whose oAuthLogin() is true.
    // Whether this handler class provides the pair.
    virtual bool providesOAuthLogin() const { return false; }
    // Keeps the callback in oAuthLoginCompleted, writes the login caption
    // into driveConfig's description, creates the login sheet and returns it
    // for the caller to present. Base: answers (false, "not supported", false)
    // and returns null.
    virtual std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed);
    // The intercepted callback URL, or a null string when the user cancelled
    // or the provider refused (answers (false, null, false)). Base: answers
    // the kept callback, if any, with (false, null, false) for a null URL and
    // (false, "not supported", false) otherwise.
    virtual void processOAuthLogin(const QString &callbackUrl);

    // The most bytes of one folder listing a handler holds in memory: a
    // folder of a hundred thousand entries is a few tens of MiB of listing;
    // a reply past this is refused, not read on.
    static constexpr qint64 maximumListingBytes = 32LL << 20;
    // What a listing past that bound fails with.
    static QString listingTooLargeText();

    // The usual handler error: domain, code 42, the message under "error".
    static VNErrorPtr makeError(const QString &domain, const QString &message);
    VNErrorPtr makeError(const QString &message) const { return makeError(className(), message); }
    // The error of an operation this handler does not provide.
    VNErrorPtr notSupportedError(const QString &operation) const;
    // The start of a sign-in on the provider's page: keeps the callback,
    // writes the caption into the drive, opens the login sheet with this
    // handler as its handler and loads the page into it when one is given.
    std::shared_ptr<QNAuthWindowController> openLoginSheet(QNLoginCallback completed, const QString &caption,
                                                           const QUrl &page = QUrl());

    // Completion callbacks kept while a call is in flight, named after the
    // operation (a handler may instead capture them in its own callbacks).
    // takeXxx() hands a callback out once and empties the property.
    QN_LOCKED_CALLBACK(QNLoginCallback, oAuthLoginCompleted, setOAuthLoginCompleted, takeOAuthLoginCompleted)
    QN_LOCKED_CALLBACK(QNListCallback, listDocumentsCompleted, setListDocumentsCompleted, takeListDocumentsCompleted)
    QN_LOCKED_CALLBACK(QNDocumentCallback, downloadCompleted, setDownloadCompleted, takeDownloadCompleted)
    QN_LOCKED_CALLBACK(QNProgressCallback, downloadProgress, setDownloadProgress, takeDownloadProgress)
    QN_LOCKED_CALLBACK(QNDocumentCallback, uploadCompleted, setUploadCompleted, takeUploadCompleted)
    QN_LOCKED_CALLBACK(QNProgressCallback, uploadProgress, setUploadProgress, takeUploadProgress)
    QN_LOCKED_CALLBACK(QNDocumentCallback, createFolderCompleted, setCreateFolderCompleted, takeCreateFolderCompleted)
    QN_LOCKED_CALLBACK(QNDocumentCallback, removeCompleted, setRemoveCompleted, takeRemoveCompleted)
    QN_LOCKED_CALLBACK(QNDocumentCallback, renameCompleted, setRenameCompleted, takeRenameCompleted)
    QN_LOCKED_CALLBACK(QNDocumentCallback, localCopyCompleted, setLocalCopyCompleted, takeLocalCopyCompleted)
    QN_LOCKED_CALLBACK(QNDocumentCallback, localMoveCompleted, setLocalMoveCompleted, takeLocalMoveCompleted)
    QN_LOCKED_CALLBACK(QNDocumentCallback, linkCompleted, setLinkCompleted, takeLinkCompleted)
    QN_LOCKED_CALLBACK(QNQuotaCallback, quotaCompleted, setQuotaCompleted, takeQuotaCompleted)
    // The login sheet a handler made for an OAuth login.
    QN_LOCKED_PROPERTY(std::shared_ptr<QNAuthWindowController>, authWindowController, setAuthWindowController)
    // The drive this handler serves.
    QN_LOCKED_PROPERTY(QNDriveConfigPtr, driveConfig, setDriveConfig)

protected:
    // Called as the handler sends a request that the drive may carry out
    // even when it is cut off on its way (a rename): only the drive's answer
    // then tells where the item is, so from here the request runs to it
    // whatever a cancel says. A cancel that came before is honoured by the
    // handler as usual.
    void sendsToItsAnswer() { m_runsToItsAnswer.store(true); }

private:
    mutable std::mutex m_propertyMutex;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_runsToItsAnswer{false};
    std::atomic<bool> m_uploadMayWriteOntoName{false};
};
