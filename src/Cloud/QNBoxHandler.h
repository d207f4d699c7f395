#pragma once

#include "Cloud/QNOAuth2Handler.h"
#include "Core/QNListingPages.h"

#include <QString>
#include <QUrl>

// The drive handler of Box accounts: the Box content API (version 2.0,
// JSON) signed in with OAuth 2 through the web login sheet. The drive keeps
// the Box user id in userId and the access token in token; the refresh token
// (a new one comes with every refresh) lives under the user default
// "box-refresh-token:" followed by the user id. Items are found by id, a
// document without one by its path. Listings give pictures a thumbnail
// address ending in "&BoxAuth+" and the access token, which the file pane
// cuts off and sends as a bearer header. Every answer comes on the main
// thread, once.
class QNBoxHandler : public QNOAuth2Handler {
public:
    explicit QNBoxHandler(QNDriveConfigPtr driveConfig);
    ~QNBoxHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS BOX ACCOUNT"
    static QString refreshTokenKey(const QString &userId);

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

    bool providesOAuthLogin() const override { return true; }
    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override;
    void processOAuthLogin(const QString &callbackUrl) override;

    static QUrl authorizationURL();
    // A document for one of the service's item records in the folder at
    // folderPath; null when its name is unusable. Pictures get their
    // thumbnail address with the marker and the access token last.
    static QNDocumentPtr documentFromItem(const DXJsonValue &item, const QString &folderPath, const QString &accessToken);

protected:
    QString serviceName() const override;
    QUrl tokenURL() const override;
    QStringList serviceHostKeys() const override;
    QString clientId() const override;
    QString clientSecret() const override;
    QString refreshToken() const override;
    void setRefreshToken(const QString &token) override;
    VNErrorPtr replyError(int status, const QByteArray &body) const override;

private:
    struct Item {
        QString id;
        bool isFolder = true;
    };
    using ItemCallback = std::function<void(Item item, VNErrorPtr error, bool cancelled)>;
    // The document's id and kind ("0", a folder, for the root), found by path when it has no id.
    void resolve(const QNDocumentPtr &document, ItemCallback done);
    // Every item of the folder, all pages.
    void listAll(const QString &folderId, std::function<void(QList<DXJsonValue> items, VNErrorPtr, bool)> done,
                 QList<DXJsonValue> sofar = {}, qint64 offset = 0, std::shared_ptr<QNListingPages> pages = {});
    // A PUT or POST of a JSON body to the item, answered as a document in
    // folderPath; once sent, it runs to the service's answer when asked.
    void changeItem(const QNDocumentPtr &document, const QString &method, const QString &suffix,
                    std::function<DXJsonValue(const Item &item)> body, const QString &folderPath,
                    QNDocumentCallback completed, bool runsToItsAnswer = false);
    // Copies or moves the document into the folder, on the service.
    void transferInside(bool move, QNDocumentPtr document, QNDocumentPtr folder, QNDocumentCallback completed);
    static QUrl api(const QString &path, const QList<std::pair<QString, QString>> &query = {});
    std::shared_ptr<QNBoxHandler> self();

    QString m_pendingRefreshToken;  // during the sign-in, before the user id is known
};
