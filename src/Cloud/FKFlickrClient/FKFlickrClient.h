#pragma once

#include "Formats/DXJsonValue.h"
#include "Platform/VNError.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class NRHTTPRequest;
class QNAuthWindowController;

// A small client of the Flickr API: the OAuth 1.0a sign-in in the login
// sheet's web view, signed REST calls (JSON), photo uploads and plain
// fetches of photo files. The hosts come from QNServiceHosts ("flickr.api",
// "flickr.upload", "flickr.oauth" for the token calls, "flickr.web" for the
// authorize page). Errors have the domain "Flickr". Answers come on the main
// thread, once per call.
class FKFlickrClient : public std::enable_shared_from_this<FKFlickrClient> {
public:
    using Params = QList<std::pair<QString, QString>>;
    struct Account {
        QString token, tokenSecret, userId, userName;
    };
    using LoginReply = std::function<void(Account account, VNErrorPtr error, bool cancelled)>;
    using JsonReply = std::function<void(const DXJsonValue &reply, VNErrorPtr error, bool cancelled)>;
    using DoneReply = std::function<void(VNErrorPtr error, bool cancelled)>;
    using Progress = std::function<void(qint64 done, qint64 total)>;

    // The signed-in account's token and secret (empty before a sign-in).
    FKFlickrClient(QString token = QString(), QString tokenSecret = QString());
    ~FKFlickrClient();

    // Fetches a request token, loads the authorize page into the sheet and
    // watches the sheet's requests for the callback ("/flickr" on the
    // loopback callback host); its verifier is traded for the access token.
    // A callback without a verifier (refused) answers (empty, null, false).
    void beginLogin(const std::shared_ptr<QNAuthWindowController> &sheet, LoginReply done);
    // The callback address given to Flickr.
    static QString callbackUrl();
    // Whether the URL is that callback (scheme, host, port and path).
    static bool isCallback(const QUrl &url);
    // Handles a callback URL of this client's sign-in; used by the sheet watcher.
    void finishLogin(const QUrl &callback);

    // One API method ("flickr.photosets.getList"), JSON; write methods go as
    // a signed form POST. A reply whose "stat" is not "ok" is an error.
    void call(const QString &method, const Params &params, bool post, JsonReply reply);
    // The same, also telling the size of the reply in bytes (a listing's
    // pages are weighed by it).
    using SizedJsonReply =
        std::function<void(const DXJsonValue &reply, qint64 replyBytes, VNErrorPtr error, bool cancelled)>;
    void callSized(const QString &method, const Params &params, bool post, SizedJsonReply reply);
    // Uploads the file under the title; answers the new photo's id.
    void upload(const QString &file, const QString &title, Progress progress,
                std::function<void(QString photoId, VNErrorPtr error, bool cancelled)> reply);
    // A plain GET of a photo's address into the file; the file is removed on failure.
    void fetch(const QUrl &url, const QString &file, Progress progress, DoneReply reply);
    void cancel();

    static VNErrorPtr makeError(const QString &message);

private:
    struct Request {
        QString method = QStringLiteral("GET");
        QUrl url;
        Params form;            // signed form fields (urlencoded body, or multipart text parts)
        QString multipartFile;  // a multipart upload of this file when set
        QString downloadFile;
        bool sign = true;
        QString token, tokenSecret;
        Progress progress;
    };
    using RawReply = std::function<void(NRHTTPRequest *request, VNErrorPtr error, bool cancelled)>;
    void send(const Request &request, RawReply reply);
    static QUrl withQuery(const QString &base, const Params &params);

    QString m_token;
    QString m_tokenSecret;
    QString m_requestToken;
    QString m_requestTokenSecret;
    LoginReply m_loginDone;
    bool m_cancelled = false;
    QList<std::shared_ptr<NRHTTPRequest>> m_requests;
};
