#pragma once

#include "Core/QNCloudInterface.h"
#include "Core/QNListingPages.h"
#include "Formats/DXJsonValue.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class NRHTTPRequest;

// The drive handler of Copy accounts: the Copy REST API (JSON, every call
// with "X-Api-Version: 1") signed with OAuth 1.0 (the Dropbox library's
// signing), linked through the web login sheet. The drive keeps the user's
// token and token secret. Items are addressed by path. Listings give files a
// thumbnail address ending in "&CopyAuth+" and the percent-escaped signed
// Authorization header for it, which the file pane cuts off and sends.
// Copy and move inside the drive and login() are the base class's.
// Every answer comes on the main thread, once.
class QNCopyHandler : public QNCloudInterface {
public:
    explicit QNCopyHandler(QNDriveConfigPtr driveConfig);
    ~QNCopyHandler() override;

    QString className() const override;
    static void registerWithFactory();
    static QString loginCaption();  // "SHOW DOCUMENTS ON THIS COPY ACCOUNT"

    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) override;
    void quota(QNDocumentPtr root, QNQuotaCallback completed) override;
    void cancel() override;

    bool providesOAuthLogin() const override { return true; }
    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override;
    void processOAuthLogin(const QString &callbackUrl) override;

    // The service's address of an item: base + "/rest/" + call + the path, segments escaped.
    // Reads the folder's children from the given ones on, page by page, to the end.
    void listPage(const QString &folderPath, QList<DXJsonValue> items,
                  std::function<void(QList<DXJsonValue> items, VNErrorPtr error, bool cancelled)> done,
                  std::shared_ptr<QNListingPages> pages = {});
    static QUrl restURL(const QString &call, const QString &path, const QList<std::pair<QString, QString>> &query = {});
    // A document for a child record of the folder at folderPath, null when its name is unusable.
    QNDocumentPtr documentFromItem(const DXJsonValue &item, const QString &folderPath) const;
    // The signed Authorization header of a GET of the URL with the drive's token.
    QString authorizationFor(const QString &method, const QUrl &url) const;

private:
    using Reply = std::function<void(NRHTTPRequest *request, VNErrorPtr error, bool cancelled)>;
    struct Call {
        Call(QString method = QString(), QUrl url = QUrl()) : method(std::move(method)), url(std::move(url)) {}
        QString method;
        QUrl url;
        QString bodyFile;      // a multipart upload of this file when set
        QString downloadFile;  // the reply goes there when set
        std::function<void(qint64 done, qint64 total)> progress;
        // Signed with these instead of the drive's (the sign-in's request token).
        QString token, tokenSecret;
        bool useDriveToken = true;
        // Once sent, runs to the service's answer (a rename: cut off on its
        // way, the service may still carry it out).
        bool runsToItsAnswer = false;
    };
    void send(const Call &call, Reply reply);
    std::shared_ptr<QNCopyHandler> self();

    QList<std::shared_ptr<NRHTTPRequest>> m_requests;
    QString m_requestToken;
    QString m_requestTokenSecret;
};
