#pragma once

#include "DXAccountInfo.h"
#include "DXMetadata.h"
#include "DXRequest.h"
#include "OA1/OA1URLRequestParameter.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class DXSession;

// The Dropbox REST client (API version 1, OAuth 1.0 signed): the login's
// three steps, account and quota, metadata listings, file download and
// upload, folders, delete, move, copy and share links. Every call starts one
// request and answers once on the main thread; cancelAllRequests() makes
// the calls in flight answer as cancelled (the error null).
class DXRestClient : public std::enable_shared_from_this<DXRestClient> {
public:
    // The service's three hosts, as base URLs ("https://api.dropbox.com").
    struct Hosts {
        QString api;
        QString content;
        QString web;
    };
    static Hosts defaultHosts();
    static Hosts hosts();
    // Tests point the client at their fake; empty fields keep the defaults.
    static void setHosts(const Hosts &hosts);

    using ErrorCallback = std::function<void(VNErrorPtr error, bool cancelled)>;
    using TokenCallback =
        std::function<void(QString token, QString tokenSecret, QString userId, VNErrorPtr error, bool cancelled)>;
    using MetadataCallback = std::function<void(DXMetadata metadata, VNErrorPtr error, bool cancelled)>;
    using AccountCallback = std::function<void(DXAccountInfo info, VNErrorPtr error, bool cancelled)>;
    using SearchCallback = std::function<void(QList<DXMetadata> hits, VNErrorPtr error, bool cancelled)>;
    using LinkCallback = std::function<void(QString url, QDateTime expires, VNErrorPtr error, bool cancelled)>;
    // Bytes so far, bytes in all (0 when unknown).
    using ProgressCallback = std::function<void(qint64 done, qint64 total)>;

    // A client signing with the user's token (an empty user id: the
    // consumer only, for the login).
    DXRestClient(std::shared_ptr<DXSession> session, QString userId);
    ~DXRestClient();

    const QString &userId() const { return m_userId; }

    // --- The login -----------------------------------------------------
    // A request token (token, secret; no user id).
    void loadRequestToken(TokenCallback completed);
    // The page where the user allows the access; the service then sends the
    // browser to callback with "oauth_token" and "uid".
    static QUrl authorizationURL(const QString &requestToken, const QString &callback);
    // Exchanges the authorized request token for the user's access token,
    // which the session keeps (token, secret, user id).
    void loadAccessToken(const QString &requestToken, const QString &requestTokenSecret, TokenCallback completed);

    // --- Files ---------------------------------------------------------
    void loadAccountInfo(AccountCallback completed);
    // The item; a folder with its "contents".
    void loadMetadata(const QString &path, MetadataCallback completed);
    // The items below the folder whose names contain the text.
    void search(const QString &path, const QString &text, SearchCallback completed);
    // Writes the file to destination (the reply goes to destination as is:
    // callers give a temporary path and move it on success).
    void loadFile(const QString &path, const QString &destination, ProgressCallback progress,
                  ErrorCallback completed);
    // Sends the local file as folder/filename, replacing one of that name.
    void uploadFile(const QString &filename, const QString &folder, const QString &sourcePath,
                    ProgressCallback progress, MetadataCallback completed);
    void createFolder(const QString &path, MetadataCallback completed);
    void deletePath(const QString &path, ErrorCallback completed);
    void copyPath(const QString &from, const QString &to, MetadataCallback completed);
    void movePath(const QString &from, const QString &to, MetadataCallback completed);
    void loadSharableLink(const QString &path, LinkCallback completed);

    void cancelAllRequests();

    // --- Building blocks (public for the tests) ------------------------
    // host + "/1/" + call + the path, each path segment percent-encoded.
    static QUrl apiURL(const QString &host, const QString &call, const QString &path = QString(),
                       const QList<OA1URLRequestParameter> &query = {});

private:
    DXRequestPtr makeRequest(const QString &method, const QUrl &url,
                             const QList<OA1URLRequestParameter> &form, DXRequest::Completion completion);
    void track(const DXRequestPtr &request);
    void untrack(DXRequest *request);
    void fileOperation(const QString &call, const QList<OA1URLRequestParameter> &form, MetadataCallback completed);

    std::shared_ptr<DXSession> m_session;
    QString m_userId;
    QList<DXRequestPtr> m_requests;
};
