#pragma once

#include "Cloud/QNOAuth2Handler.h"

#include <QString>
#include <QUrl>
#include <memory>

class VNOperationQueue;

// The drive handler of Bitcasa accounts: the Bitcasa REST API (JSON) signed
// in with OAuth 2 through the web login sheet, whose redirect comes back on
// the loopback callback host at path "/bitcasa". The service names items by
// full paths of opaque ids ("/Zm9v.../YmFy..."); listed documents carry
// theirs in fullPath, and a document without one is found by walking its
// path name by name. The access token (it does not run out, there is no
// refresh token) lives in the drive's token. The handler runs its calls one
// at a time, in the order given, on a queue of its own. Every answer comes on
// the main thread, once.
class QNBitcasaHandler : public QNOAuth2Handler {
public:
    explicit QNBitcasaHandler(QNDriveConfigPtr driveConfig);
    ~QNBitcasaHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "Show documents on this Bitcasa account"

    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    // login, link and quota are the base class's: the service has no
    // sign-in check without the sheet, no links, no quota.

    bool providesOAuthLogin() const override { return true; }
    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override;
    void processOAuthLogin(const QString &callbackUrl) override;

    static QUrl authorizationURL();
    // A document for one of the service's item records in the folder at
    // folderPath; null when its name is unusable or it has no full path.
    static QNDocumentPtr documentFromItem(const DXJsonValue &item, const QString &folderPath);

protected:
    QString serviceName() const override;
    QUrl tokenURL() const override;
    QStringList serviceHostKeys() const override;
    QString clientId() const override;
    QString clientSecret() const override;
    // No refresh token: a token refused twice means signing in again.
    bool accessTokenLasts() const override { return true; }
    QString refreshToken() const override { return QString(); }
    void setRefreshToken(const QString &) override {}
    VNErrorPtr replyError(int status, const QByteArray &body) const override;

private:
    struct Item {
        QString fullPath;
        bool isFolder = true;
    };
    using ItemCallback = std::function<void(Item item, VNErrorPtr error, bool cancelled)>;
    using ItemsCallback = std::function<void(QList<DXJsonValue> items, VNErrorPtr error, bool cancelled)>;

    // Runs the call when the calls given before it have answered; the
    // callback it is handed lets the next one go when it answers.
    template <typename Callback, typename Body>
    void serially(Callback completed, Body body);
    // The document's full path and kind ("/", a folder, for the top).
    void resolve(const QNDocumentPtr &document, ItemCallback done);
    // The items of the folder.
    void listFolder(const QString &fullPath, ItemsCallback done);
    // A call whose reply names one item, answered as a document in folderPath.
    void itemCall(const Call &call, const QString &folderPath, QNDocumentCallback completed);
    // Copies or moves the document into the folder, on the service.
    void transferInside(const QString &operation, QNDocumentPtr document, QNDocumentPtr folder,
                        QNDocumentCallback completed);
    // The items of a reply ("result", then "items"); an error when it has
    // none or says it failed.
    VNErrorPtr itemsOf(const QByteArray &body, QList<DXJsonValue> *items) const;
    static QUrl api(const QString &key, const QString &path, const QList<std::pair<QString, QString>> &query = {});
    std::shared_ptr<QNBitcasaHandler> self();

    std::unique_ptr<VNOperationQueue> m_operationQueue;
};
