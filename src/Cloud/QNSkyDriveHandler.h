#pragma once

#include "Cloud/QNOAuth2Handler.h"
#include "Core/QNListingPages.h"

#include <QHash>
#include <QString>

// The drive handler of OneDrive (SkyDrive) accounts: the Live Connect REST
// API (JSON) signed in with OAuth 2 on the login sheet, where our Live
// Connect client watches the view for the service's redirect. The drive
// keeps the access token in its token and the refresh token in its
// password. The service knows items by id only: listed documents carry
// theirs, other paths are found name by name from the drive's top and kept
// for the handler's later calls. Every answer comes on the main thread, once.
class QNSkyDriveHandler : public QNOAuth2Handler {
public:
    explicit QNSkyDriveHandler(QNDriveConfigPtr driveConfig);
    ~QNSkyDriveHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS SKYDRIVE ACCOUNT"

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

    // A document for one of the service's item records in the folder at
    // folderPath; null when its name or id is unusable.
    static QNDocumentPtr documentFromItem(const DXJsonValue &item, const QString &folderPath);

protected:
    QString serviceName() const override;
    QUrl tokenURL() const override;
    QStringList serviceHostKeys() const override;
    QString clientId() const override;
    QString clientSecret() const override;
    QList<std::pair<QString, QString>> refreshParameters() const override;

private:
    struct Item {
        QString id;
        bool isFolder = true;
    };
    using ItemCallback = std::function<void(Item item, VNErrorPtr error, bool cancelled)>;
    using ListCallback = std::function<void(QList<DXJsonValue> items, VNErrorPtr error, bool cancelled)>;
    // The document's id: its own, else found by its path.
    void resolve(const QNDocumentPtr &document, ItemCallback done);
    void resolvePath(const QString &path, ItemCallback done);
    // Every item of the folder, all pages.
    void listAll(const QString &folderId, ListCallback done, QList<DXJsonValue> sofar = {},
                 std::shared_ptr<QNListingPages> pages = {});
    // Keeps the ids of the folder's usable items under their paths.
    void remember(const QString &folderPath, const QList<DXJsonValue> &items);
    // Forgets the path and everything below it.
    void forget(const QString &path);
    // A JSON call on the item answered with an item record, as a document in
    // folderPath; what was known at oldPath (when given) is forgotten. Once
    // sent, it runs to the service's answer when asked.
    void changeItem(const QNDocumentPtr &document, const QString &method, const DXJsonObject &body,
                    const QString &folderPath, const QString &oldPath, QNDocumentCallback completed,
                    bool runsToItsAnswer = false);
    void transferInside(bool move, QNDocumentPtr document, QNDocumentPtr folder, QNDocumentCallback completed);
    std::shared_ptr<QNSkyDriveHandler> self();

    // Every request: a refusal as unknown of an item found through a
    // remembered id marks the remembered ids stale.
    void call(const Call &request, Reply reply);
    // Whether the ids went stale; they are dropped then.
    bool takeStale();
    // Runs the attempt, and once more when it failed on stale ids.
    void retrying(std::function<void(QNDocumentCallback)> attempt, QNDocumentCallback completed);
    void listDocumentsOnce(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed);
    void downloadOnce(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                      QNDocumentCallback completed);
    void uploadOnce(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                    QNDocumentCallback completed);
    void createFolderOnce(QString name, QNDocumentPtr destPath, QNDocumentCallback completed);
    void removeOnce(QNDocumentPtr document, QNDocumentCallback completed);
    void renameOnce(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    void localCopyOnce(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    void localMoveOnce(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed);
    void linkForDocumentOnce(QNDocumentPtr document, QNDocumentCallback completed);

    QHash<QString, Item> m_ids;   // path -> item
    bool m_usedRemembered = false;  // an operation took an id from m_ids
    bool m_stale = false;           // ... and the service did not know it
};
