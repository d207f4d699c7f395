#pragma once

#include "Core/QNCloudInterface.h"
#include "Formats/DXJsonValue.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

class NRHTTPRequest;

// The common part of the handlers whose services sign in with OAuth 2 and
// answer JSON: bearer-token requests on NRHTTPRequest, the code and
// refresh-token exchanges, and one refresh-and-send-again when the access
// token is refused. The access token lives in the drive's token; where the
// refresh token lives is the subclass's choice (the drive's password by
// default). Every answer comes on the main thread.
class QNOAuth2Handler : public QNCloudInterface {
public:
    explicit QNOAuth2Handler(QNDriveConfigPtr driveConfig);
    ~QNOAuth2Handler() override;

    void cancel() override;

protected:
    // The service's name in messages ("Google Drive").
    virtual QString serviceName() const = 0;
    virtual QUrl tokenURL() const = 0;
    // The service's own hosts, as QNServiceHosts keys. The access token goes
    // only to their origins (scheme, host and port): an address the service
    // names in a reply (an upload session, a download) that lies elsewhere,
    // or on plain http, is sent without it.
    virtual QStringList serviceHostKeys() const = 0;
    bool isServiceURL(const QUrl &url) const;
    virtual QString clientId() const = 0;
    virtual QString clientSecret() const = 0;
    virtual QString refreshToken() const;
    virtual void setRefreshToken(const QString &token);
    // The whole token reply, after the tokens were kept (user ids ...).
    virtual void tokensReceived(const DXJsonValue &) {}
    // Parameters the service wants in a refresh besides the token and the
    // client's (a redirect address ...).
    virtual QList<std::pair<QString, QString>> refreshParameters() const { return {}; }
    // Whether the service's access tokens never run out (no refresh): a
    // refusal (401) is then tried once more with the same token, and only a
    // second one signs the drive out.
    virtual bool accessTokenLasts() const { return false; }
    // The error of a refused call (status 400 and up) from its body.
    virtual VNErrorPtr replyError(int status, const QByteArray &body) const;

    // The finished request (null when it never went out), the error (a
    // transport failure or a refusal, status 400 and up), cancelled.
    using Reply = std::function<void(NRHTTPRequest *request, VNErrorPtr error, bool cancelled)>;
    struct Call {
        Call(QString method = QString(), QUrl url = QUrl()) : method(std::move(method)), url(std::move(url)) {}
        QString method;
        QUrl url;
        QByteArray body;
        QString contentType;
        QString bodyFile;      // streamed instead of body when set
        QString downloadFile;  // the reply goes there when set
        QMap<QString, QString> headers;
        std::function<void(qint64 done, qint64 total)> progress;
        // Makes the request instead of a plain one (multipart forms).
        std::function<std::shared_ptr<NRHTTPRequest>(const QUrl &url)> make;
        // Once sent, runs to the service's answer (a rename: cut off on its
        // way, the service may still carry it out).
        bool runsToItsAnswer = false;
    };
    // Sends the call with the access token; a 401 refreshes it once and sends again.
    // One refresh at a time per refresh token: the others wait for its answer.
    void send(const Call &call, Reply reply, bool mayRefresh = true);
    void refreshAccessToken(std::function<void(VNErrorPtr error, bool cancelled)> done);
    // Posts the form to the token address and keeps the tokens of the reply.
    void exchange(const QList<std::pair<QString, QString>> &form, std::function<void(VNErrorPtr, bool)> done);
    // name=value&... with both percent-encoded.
    static QString formBody(const QList<std::pair<QString, QString>> &form);

private:
    std::shared_ptr<QNOAuth2Handler> oauth2Self();
    using RefreshWaiters = QList<std::function<void(VNErrorPtr error, bool cancelled, const QString &accessToken)>>;
    static QMap<QString, std::shared_ptr<RefreshWaiters>> &refreshesInFlight();

    QList<std::shared_ptr<NRHTTPRequest>> m_requests;
};
