#pragma once

#include "Cloud/FKFlickrClient/FKFlickrClient.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNListingPages.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

// The drive handler of Flickr accounts, through our Flickr client: the
// account's photosets are the drive's folders and their photos its files (one
// level, "/<set title>/<photo title>"). A photo's url is its largest size,
// fetched with a plain GET and given as its link. The sign-in runs in the
// login sheet, watched by the client itself; the drive keeps the token, the
// token secret and the account's id (nsid) as userId. Folders cannot be made
// (sets need a photo) and there is no quota: those, and login(), are the
// base class's. Handler errors have the domain "FlickrHandler".
// Every answer comes on the main thread, once.
class QNFlickrHandler : public QNCloudInterface {
public:
    explicit QNFlickrHandler(QNDriveConfigPtr driveConfig);
    ~QNFlickrHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS FLICKR ACCOUNT"

    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) override;
    void cancel() override;

    bool providesOAuthLogin() const override { return true; }
    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override;

    // Documents of the service's records; null when the name is unusable.
    static QNDocumentPtr setDocument(const DXJsonValue &set);
    static QNDocumentPtr photoDocument(const DXJsonValue &photo, const QString &setPath);

private:
    using Items = std::shared_ptr<QList<DXJsonValue>>;
    using ItemsReply = std::function<void(Items items, VNErrorPtr error, bool cancelled)>;
    using ListReply = std::function<void(QNDocumentList documents, VNErrorPtr error, bool cancelled)>;

    // Every page of a paged method, read to the end; short of the total is an error.
    void readPages(const QString &method, const FKFlickrClient::Params &params, const QString &container,
                   const QString &itemKey, int page, Items items, ItemsReply done,
                   std::shared_ptr<QNListingPages> bound = {});
    // leftOut, when given, counts the entries left out for their names.
    void listSets(ListReply done, std::shared_ptr<int> leftOut = {});
    void listPhotos(const QNDocumentPtr &set, ListReply done, std::shared_ptr<int> leftOut = {});
    // The set or photo at the document's path, with its id (and a photo's url).
    void findSet(const QString &path, QNDocumentCallback done);
    void findItem(const QNDocumentPtr &document, QNDocumentCallback done);
    // The photo's largest size, asked of the service when the listing had none.
    void photoUrl(const QNDocumentPtr &photo, QNDocumentCallback done);
    void addToSet(const QNDocumentPtr &photo, const QString &folderPath, bool move, QNDocumentCallback completed);
    std::shared_ptr<QNFlickrHandler> self();

    std::shared_ptr<FKFlickrClient> m_client;
};
