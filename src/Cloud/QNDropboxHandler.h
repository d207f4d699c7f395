#pragma once

#include "Core/QNCloudInterface.h"

#include <QString>
#include <functional>
#include <memory>

class DXRestClient;
class DXMetadata;
class DXSession;

// The drive handler of Dropbox accounts, on the Dropbox REST client and the
// shared DXSession, which keeps the linked users' tokens; the drive names
// its user in driveConfig's userId. Accounts are linked through the web
// login sheet (OAuth 1.0: request token, the authorization page, access
// token). Started on the main thread; every answer comes on the main
// thread, once. login() does nothing and never answers.
class QNDropboxHandler : public QNCloudInterface {
public:
    explicit QNDropboxHandler(QNDriveConfigPtr driveConfig);
    ~QNDropboxHandler() override;

    QString className() const override;
    // Makes the factory build this handler for drives whose isDropbox flag is set.
    static void registerWithFactory();

    void login(QNLoginCallback completed) override;
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
    void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) override;
    void quota(QNDocumentPtr root, QNQuotaCallback completed) override;
    void cancel() override;

    bool providesOAuthLogin() const override { return true; }
    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override;
    void processOAuthLogin(const QString &callbackUrl) override;

    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS DROPBOX ACCOUNT"

    // A document for an item the service described, or null when its path
    // is unusable or does not lie in the folder (directly, unless anywhere
    // below is allowed): a server-given name never leaves its folder.
    static QNDocumentPtr documentFromMetadata(const DXMetadata &metadata, const QString &folder,
                                              bool anywhereBelow = false);

private:
    // The client for the drive's user; null and *error when the drive's
    // user is not linked.
    std::shared_ptr<DXRestClient> client(VNErrorPtr *error);
    std::shared_ptr<QNDropboxHandler> self();
    void transferInside(bool move, QNDocumentPtr document, QNDocumentPtr folder, QNDocumentCallback completed);
    // The answer to a call that returns one item of the folder: the item's
    // document, or the unusable text when the service named it unusably.
    std::function<void(DXMetadata, VNErrorPtr, bool)> metadataAnswer(const QString &folder,
                                                                      QNDocumentCallback completed,
                                                                      const QString &unusable);

    std::shared_ptr<DXRestClient> m_client;
    std::shared_ptr<DXRestClient> m_loginClient;
    QString m_requestToken;
    QString m_requestTokenSecret;
};
