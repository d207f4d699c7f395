#pragma once

#include "Cloud/QNOAuth2Handler.h"
#include "Core/QNListingPages.h"
#include "Formats/DXJsonValue.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class NRHTTPRequest;

// The drive handler of Google Drive accounts: the Drive REST API (JSON) on
// NRHTTPRequest, signed in with OAuth 2 through the web login sheet. The
// drive keeps the access token in its token and the refresh token in its
// password; a refused access token is refreshed once and the call sent
// again. Items are found by id: listed documents carry theirs, a document
// without one is looked up by its path, name by name from the root.
// Started on the main thread; every answer comes on the main thread, once.
class QNGoogleDriveHandler : public QNOAuth2Handler {
public:
    explicit QNGoogleDriveHandler(QNDriveConfigPtr driveConfig);
    ~QNGoogleDriveHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS GOOGLE DRIVE ACCOUNT"

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

    // The authorization page the sheet loads.
    static QUrl authorizationURL();
    // A document for one of the service's file records in the folder at
    // folderPath; null when its name is unusable (empty, ".", "..", "/").
    static QNDocumentPtr documentFromFile(const DXJsonValue &file, const QString &folderPath);

protected:
    QString serviceName() const override;
    QUrl tokenURL() const override;
    QStringList serviceHostKeys() const override;
    QString clientId() const override;
    QString clientSecret() const override;

private:
    // The document's id ("root" for the root), found by path when it has none.
    void resolveId(const QNDocumentPtr &document, std::function<void(QString id, VNErrorPtr error, bool cancelled)> done);
    // Every file of the query, all pages, within the listing bound.
    void listAll(const QString &query, std::function<void(QList<DXJsonValue> files, VNErrorPtr, bool)> done,
                 QList<DXJsonValue> sofar = {}, const QString &pageToken = QString(),
                 std::shared_ptr<QNListingPages> pages = {});
    static QUrl api(const QString &path, const QList<std::pair<QString, QString>> &query = {});
    // The answer to a call that returns one file record of the folder: its
    // document, or the unusable text when the service named it unusably.
    Reply fileAnswer(const QString &folderPath, QNDocumentCallback completed, const QString &unusable);
    // The resumable upload of the source into the folder, as a new file or
    // as the existing file's new content when an id is given.
    void startUpload(const QString &source, const QString &name, const QString &folderId, const QString &existingId,
                     const QString &folderPath, QNProgressCallback progress, QNDocumentCallback completed);
    std::shared_ptr<QNGoogleDriveHandler> self();
};
