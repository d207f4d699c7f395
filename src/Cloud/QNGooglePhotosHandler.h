#pragma once

#include "Core/QNCloudInterface.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>

class NRHTTPRequest;
class HFHTTPFetcher;
class DAServiceGooglePhotos;
class DAQueryGooglePhotos;
class DAServiceTicketBase;
class DAObject;
class DAEntryBase;

// The drive handler of photo-album accounts: albums are folders at the root,
// photos are files in them, all through the photo service's Atom feeds.
// Signed in with OAuth 2 through the web login sheet; the refresh token is
// the drive's password, and every operation starts by asking for a new
// access token, which the service then sends with each of its requests.
// Called on the main thread; every operation answers there once, and not at
// all after cancel(). While an operation runs, its pending request or fetch
// holds the handler; cancel() stops that, and the handler goes with it.
class QNGooglePhotosHandler : public QNCloudInterface {
public:
    explicit QNGooglePhotosHandler(QNDriveConfigPtr driveConfig);
    ~QNGooglePhotosHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS PICASA ACCOUNT"

    // A photo-album drive signs in only through the OAuth pair: this does nothing.
    void login(QNLoginCallback completed) override;
    void quota(QNDocumentPtr root, QNQuotaCallback completed) override;
    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) override;
    void cancel() override;

    bool providesOAuthLogin() const override { return true; }
    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override;
    void processOAuthLogin(const QString &callbackUrl) override;

    // Hands the fraction to the download progress callback when there is
    // one, else to the upload's.
    void setProgress(float fraction);
    // Answers of a rename made as a plain request (nothing makes one): done,
    // or failed with the request's error (logged).
    void renameFinished(NRHTTPRequest *request);
    void renameFailed(NRHTTPRequest *request);
    // Readers of the data API's JSON form: the member of the entry under the
    // key, and that member's "$t" text, as a 64-bit integer (the leading
    // one; 0 without), or as a date (its first 19 characters read as the
    // service dates are, so yyyy-MM-ddTHH:mm:ss in local time; null when
    // they do not read).
    static QString stringFromEntry(const QVariantMap &entry, const QString &key);
    static qint64 longLongFromEntry(const QVariantMap &entry, const QString &key);
    static QDateTime dateFromEntry(const QVariantMap &entry, const QString &key);

    // The listing's query for the folder at folderPath (kept as the
    // listed path) with its entry, or the album list for none: up to 1000
    // entries a page.
    std::shared_ptr<DAQueryGooglePhotos> showFilesInternal(const QString &folderPath,
                                                           const std::shared_ptr<DAObject> &folderObject);

    // The operation's state: the service of its last token request, the
    // folder being listed, the size of the photo being downloaded.
    std::shared_ptr<DAServiceGooglePhotos> googleService() const { return m_googleService; }
    QString currentPath() const { return m_currentPath; }
    qint64 documentSize() const { return m_documentSize; }

    static QUrl authorizationURL();
    // Domain "QNGooglePhotosHandler", code 0, the message as description.
    static VNErrorPtr errorFromDomain(const QString &domain, const QString &message);
    // The listed entry behind a document (album or photo), or null.
    static std::shared_ptr<DAObject> entryOf(const QNDocumentPtr &document);
    // A document for an entry listed in the folder at folderPath.
    static QNDocumentPtr documentFromEntry(const std::shared_ptr<DAEntryBase> &entry, const QString &folderPath);

private:
    using Action = std::function<void(NRHTTPRequest *request, VNErrorPtr error)>;
    // The continuation of an operation once its token and its document's
    // entry are there.
    using Step = void (QNGooglePhotosHandler::*)(const std::shared_ptr<DAObject> &entry);
    // What an operation does before its own step, and how it fails there.
    struct Operation {
        QString refreshLog;      // "%1": the refresh's error
        QString noTokenLog;      // "%1": the error made for it
        QString noTokenMessage;  // "%@": the token reply's "error" entry
        QNDocumentPtr target;    // whose entry the step is given (null: none)
        std::function<void(const VNErrorPtr &)> fail;
        Step step = nullptr;
    };

    // The one run every operation goes through: a new access token (and
    // service), the target's entry, then the step; a failure on the way
    // answers through the operation's fail().
    void runOperation(Operation operation);
    void tokenAnswered(NRHTTPRequest *request, const VNErrorPtr &error);
    void entryResolved(const std::shared_ptr<DAObject> &entry, const VNErrorPtr &error);
    void failOperation(const VNErrorPtr &error);

    // The steps of the operations.
    void quotaStep(const std::shared_ptr<DAObject> &entry);
    void listStep(const std::shared_ptr<DAObject> &folderEntry);
    void downloadStep(const std::shared_ptr<DAObject> &entry);
    void uploadStep(const std::shared_ptr<DAObject> &folderEntry);
    void createFolderStep(const std::shared_ptr<DAObject> &parentEntry);
    void removeStep(const std::shared_ptr<DAObject> &entry);
    void renameStep(const std::shared_ptr<DAObject> &entry);
    void linkStep(const std::shared_ptr<DAObject> &entry);
    void linkFinished(NRHTTPRequest *request, bool failed);

    // The answers of the operations' service fetches: (ticket, the object
    // fetched or posted, error).
    using TicketPtr = std::shared_ptr<DAServiceTicketBase>;
    using ObjectPtr = std::shared_ptr<DAObject>;
    void quotaFinishedWithTicket(const TicketPtr &serviceTicket, const ObjectPtr &feed, const VNErrorPtr &error);
    void docListFetchTicket(const TicketPtr &serviceTicket, const ObjectPtr &feed, const VNErrorPtr &error);
    // The download's entry, with the URL of its image.
    void ticket(const TicketPtr &serviceTicket, const ObjectPtr &entry, const VNErrorPtr &error);
    void copyFileTicket(const TicketPtr &serviceTicket, const ObjectPtr &entry, const VNErrorPtr &error);
    void createFolderTicket(const TicketPtr &serviceTicket, const ObjectPtr &entry, const VNErrorPtr &error);
    void removePathTicket(const TicketPtr &serviceTicket, const ObjectPtr &entry, const VNErrorPtr &error);
    void renameFileTicket(const TicketPtr &serviceTicket, const ObjectPtr &entry, const VNErrorPtr &error);
    // The download's media fetch: bytes arrived (progress), and its end.
    void fetcher(HFHTTPFetcher *mediaFetcher, const QByteArray &dataSoFar);
    void fetcher(HFHTTPFetcher *mediaFetcher, const QByteArray &data, const VNErrorPtr &error);

    // Answers the taken completion, unless the handler was cancelled.
    void answerDocument(QNDocumentCallback completed, const QNDocumentPtr &document, const VNErrorPtr &error);
    // The completion of a service fetch of this operation: it holds the
    // handler until the fetch has answered or cancel() has stopped it.
    using FetchAnswer = std::function<void(const TicketPtr &, const ObjectPtr &, const VNErrorPtr &)>;
    using FetchAnswerMember = void (QNGooglePhotosHandler::*)(const TicketPtr &, const ObjectPtr &, const VNErrorPtr &);
    FetchAnswer fetchAnswer(FetchAnswer answer);
    FetchAnswer fetchAnswer(FetchAnswerMember answer);
    void track(const std::shared_ptr<DAServiceTicketBase> &ticket);

    // Starts the token refresh; the action runs once when it ends, with the
    // access token already on the new service.
    void refreshAccessToken(Action action);
    // A form posted to the token endpoint; its answer goes to the action.
    void tokenRequest(const QList<std::pair<QString, QString>> &fields, Action action);
    // The ends of a token request: any reply (a new service with the reply's
    // access token), or a failure in transport (logged); each runs the action.
    void requestFinished(NRHTTPRequest *request);
    void requestFailed(NRHTTPRequest *request);
    // The document's entry: the one it was listed with, else found by its
    // path (album, album/photo), one feed at a time, and by its id when it
    // has one; null for the root.
    void resolveEntry(const QNDocumentPtr &document);
    void resolveFeed(const QUrl &feedURL, const QStringList &names, int depth);
    void resolveFeedFetched(const QStringList &names, int depth, const std::shared_ptr<DAObject> &object,
                            const VNErrorPtr &error);
    // The access token of the finished token request, or empty.
    static QString accessTokenOf(NRHTTPRequest *request);
    static QString replyErrorEntry(NRHTTPRequest *request);
    static VNErrorPtr codedError(const QString &message);  // code 42, "error"
    std::shared_ptr<QNGooglePhotosHandler> self();

    Operation m_operation;
    Action m_actionBlock;         // the continuation of the token request in flight
    QNDocumentPtr m_document;     // the operation's document (download, upload, link)
    QNDocumentPtr m_destination;  // its second document (download, create folder, rename)
    QString m_folderName;         // createFolder
    QString m_uploadAlbumPath;    // upload: the album's path; empty for the service's default album
    qint64 m_documentSize = 0;    // download
    std::shared_ptr<NRHTTPRequest> m_currentRequest;
    std::shared_ptr<DAServiceGooglePhotos> m_googleService;
    std::shared_ptr<HFHTTPFetcher> m_currentFetcher;
    QList<std::shared_ptr<DAServiceTicketBase>> m_tickets;
    QString m_accessToken;
    QString m_currentPath;
    QNDocumentPtr m_currentFolder;  // told what its listing left out
    std::shared_ptr<DAEntryBase> m_renamedEntry;  // the listed entry a rename changes
    QString m_resolvedId;           // the id of the document being looked up
    QList<QUrl> m_albumsLeft;       // albums still to look into for it
};
