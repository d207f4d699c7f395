#pragma once

#include "Core/QNCloudInterface.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class NRHTTPRequest;
using NRHTTPRequestPtr = std::shared_ptr<NRHTTPRequest>;

// The drive handler of SugarSync accounts, over the service's XML REST API.
// Login trades the user name and password for a refresh token kept in the
// drive's token (the password is then forgotten); every other operation
// first trades the refresh token for an access token and the user's
// resource URL, then sends its own requests with that token. Items are
// addressed by their reference URL, kept in the document's id; the path is
// only for display.
//
// Every reply is judged by its status: 400 or more, a reply that is not the
// XML expected, or a missing reference is an error, never an empty list or
// a success.
class QNSugarSyncHandler : public QNCloudInterface {
public:
    // (error, access token, user URL)
    using TokenCallback = std::function<void(VNErrorPtr error, QString accessToken, QString userURL)>;

    explicit QNSugarSyncHandler(QNDriveConfigPtr driveConfig);
    ~QNSugarSyncHandler() override;

    QString className() const override;
    static QString errorDomain();  // "QNSugarSyncHandler"
    static void registerWithFactory();

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
    void localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void cancel() override;
    // Hands the fraction to the upload progress callback (nothing calls it).
    void setProgress(float fraction);

    void refreshAccessToken(TokenCallback completed);

    // --- Building blocks, public for the tests ----------------------------
    // "<?xml version="1.0"?>" and a root element of text children, escaped.
    static QByteArray xmlBody(const QString &root, const QList<std::pair<QString, QString>> &children,
                              const QString &rootAttributes = QString());
    static QByteArray appAuthorizationBody(const QString &user, const QString &password);
    static QByteArray tokenRequestBody(const QString &refreshToken);
    // One page of a folder's contents: folders first, then files, each in
    // reply order; entries whose names could leave their folder are
    // dropped. Null and *error when the reply is not a contents document.
    // *more tells whether the service holds more entries after *end (-1
    // when the reply names no end it can be read as); *leftOut (when
    // given) grows by the entries dropped.
    static std::optional<QNDocumentList> parseContents(const QByteArray &reply, const QString &folderPath,
                                                       bool *more, qint64 *end, VNErrorPtr *error,
                                                       int *leftOut = nullptr);
    // The handler's error: code 42, the message as description and under "error".
    static VNErrorPtr handlerError(const QString &message);

    // Entries asked for per page of a listing.
    static constexpr int kPageSize = 500;

private:
    using Failed = std::function<void(VNErrorPtr error, bool cancelled)>;
    using Done = std::function<void(NRHTTPRequest &request)>;
    // Runs the token step, then go(accessToken, userURL); failures go to failed.
    void withToken(Failed failed, std::function<void(QString token, QString userURL)> go);
    // One request of an operation: the access token as Authorization;
    // done on a reply below 400, failed otherwise (the status as error).
    void send(const NRHTTPRequestPtr &request, const QString &token, Failed failed, Done done);
    // send() without the cancel check, for a clean-up that must run after a cancel.
    void start(const NRHTTPRequestPtr &request, const QString &token, Failed failed, Done done);
    // A new file entry in the folder for the upload, then its bytes.
    void createFile(QNDocumentPtr document, QNDocumentPtr destPath, const QString &name, const QString &token,
                    QNProgressCallback progress, Failed failed, QNDocumentCallback completed);
    // The upload's bytes to the file resource fileRef. A file made for
    // this upload (madeHere) is removed again when they do not arrive.
    void putData(const QString &fileRef, bool madeHere, QNDocumentPtr document, QNDocumentPtr destPath,
                 const QString &name, const QString &token, QNProgressCallback progress, Failed failed,
                 QNDocumentCallback completed);
    // What the pages of a listing read so far hold.
    struct ListingSoFar {
        qint64 start = 0;  // where the next page begins
        QNDocumentList folders, files;  // over all pages, each in the pages' order
        int leftOut = 0;   // entries left out for their names
        qint64 bytes = 0;  // the pages' replies, held to a listing's bound
    };
    // Every page of a folder's contents from soFar.start on; done gets them
    // all and how many entries they left out for their names. A page whose
    // end does not lie past its start, or pages past a listing's bound, fail
    // the listing: never a short one.
    void listPage(QString url, QString folderPath, QString token, ListingSoFar soFar, Failed failed,
                  std::function<void(QNDocumentList, int leftOut)> done);
    // The user resource, parsed.
    void readUser(const QString &token, const QString &userURL, Failed failed,
                  std::function<void(const QByteArray &reply)> done);

    NRHTTPRequestPtr m_currentRequest;
    bool m_canceled = false;
};
