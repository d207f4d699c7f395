#pragma once

#include "Core/QNCloudInterface.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class NRHTTPRequest;
class HFHTTPFetcher;
class DAServiceGooglePhotos;
class DAServiceTicketBase;
class DAObject;
class DAEntryBase;

// The drive handler of photo-album accounts: albums are folders at the root,
// photos are files in them, all through the photo service's Atom feeds.
// Signed in with OAuth 2 through the web login sheet; the refresh token is
// the drive's password, and every operation starts by asking for a new
// access token, which the service then sends with each of its requests.
// Called on the main thread; every operation answers there once, and not at
// all after cancel().
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

    static QUrl authorizationURL();
    // Domain "QNGooglePhotosHandler", code 0, the message as description.
    static VNErrorPtr errorFromDomain(const QString &domain, const QString &message);
    // The listed entry behind a document (album or photo), or null.
    static std::shared_ptr<DAObject> entryOf(const QNDocumentPtr &document);
    // A document for an entry listed in the folder at folderPath.
    static QNDocumentPtr documentFromEntry(const std::shared_ptr<DAEntryBase> &entry, const QString &folderPath);

private:
    using Action = std::function<void(NRHTTPRequest *request, VNErrorPtr error)>;
    // Starts the token refresh; the action runs once when it ends, with the
    // access token already on the new service.
    void refreshAccessToken(Action action);
    void tokenRequest(const QString &body, Action action);
    // The access token of the finished token request, or empty.
    // The document's entry: the one it was listed with, else found by its
    // path (album, album/photo); null for the root.
    void resolveEntry(const QNDocumentPtr &document, std::function<void(std::shared_ptr<DAObject>, VNErrorPtr)> done);
    static QString accessTokenOf(NRHTTPRequest *request);
    static QString replyErrorEntry(NRHTTPRequest *request);
    static VNErrorPtr codedError(const QString &message);  // code 42, "error"
    std::shared_ptr<QNGooglePhotosHandler> self();
    // Answers a completion at most once, and never after cancel(); the
    // answer lets the handler go.
    template <typename Callback>
    struct Once {
        std::shared_ptr<Callback> callback;
        explicit Once(Callback c) : callback(std::make_shared<Callback>(std::move(c))) {}
        template <typename... Args>
        void operator()(QNGooglePhotosHandler &handler, Args &&...args) const {
            Callback c = std::exchange(*callback, nullptr);
            if (c && !handler.isCancelled())
                c(std::forward<Args>(args)...);
            handler.m_keepAlive.reset();
        }
    };
    // Keeps the handler while its operation runs, whoever else lets it go.
    void holdForOperation() { m_keepAlive = self(); }

    std::shared_ptr<QNGooglePhotosHandler> m_keepAlive;

    std::shared_ptr<NRHTTPRequest> m_currentRequest;
    std::shared_ptr<DAServiceGooglePhotos> m_googleService;
    std::shared_ptr<HFHTTPFetcher> m_currentFetcher;
    QList<std::shared_ptr<DAServiceTicketBase>> m_tickets;
    QString m_accessToken;
    QString m_currentPath;
};
