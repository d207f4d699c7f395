#include "Cloud/QNOAuth2Handler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNServiceHosts.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QFile>
#include <QStringList>

QNOAuth2Handler::QNOAuth2Handler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

QNOAuth2Handler::~QNOAuth2Handler() {
    for (const auto &request : m_requests)
        request->clearDelegatesAndCancel();
}

std::shared_ptr<QNOAuth2Handler> QNOAuth2Handler::oauth2Self() {
    return std::static_pointer_cast<QNOAuth2Handler>(shared_from_this());
}

QString QNOAuth2Handler::formBody(const QList<std::pair<QString, QString>> &form) {
    QStringList pairs;
    for (const auto &[name, value] : form)
        pairs << OA1URLRequestParameter::encode(name) + QLatin1Char('=') + OA1URLRequestParameter::encode(value);
    return pairs.join(QLatin1Char('&'));
}

QString QNOAuth2Handler::refreshToken() const {
    const auto config = driveConfig();
    return config ? config->password() : QString();
}

void QNOAuth2Handler::setRefreshToken(const QString &token) {
    if (const auto config = driveConfig())
        config->setPassword(token);
}

void QNOAuth2Handler::cancel() {
    QNCloudInterface::cancel();
    const auto running = m_requests;
    for (const auto &request : running)
        request->cancel();
}

VNErrorPtr QNOAuth2Handler::replyError(int status, const QByteArray &body) const {
    QString message;
    if (body.trimmed().startsWith('{')) {
        const DXJsonValue json = JSONValue(body);
        message = json[QStringLiteral("error")][QStringLiteral("message")].toString();
        if (message.isEmpty())
            message = json[QStringLiteral("error_description")].toString();
        if (message.isEmpty())
            message = json[QStringLiteral("error")].toString();
    }
    if (message.isEmpty())
        message = QStringLiteral("%1 answered with status %2.").arg(serviceName()).arg(status);
    return makeError(message);
}

// --- Requests -----------------------------------------------------------------------

bool QNOAuth2Handler::isServiceURL(const QUrl &url) const {
    const auto sameOrigin = [&url](const QUrl &base) {
        return url.scheme().compare(base.scheme(), Qt::CaseInsensitive) == 0 &&
               url.host().compare(base.host(), Qt::CaseInsensitive) == 0 &&
               url.port(url.scheme() == QLatin1String("http") ? 80 : 443) ==
                   base.port(base.scheme() == QLatin1String("http") ? 80 : 443);
    };
    if (!url.isValid() || url.host().isEmpty())
        return false;
    for (const QString &key : serviceHostKeys())
        if (sameOrigin(QUrl(QNServiceHosts::url(key))))
            return true;
    return false;
}

void QNOAuth2Handler::send(const Call &call, Reply reply, bool mayRefresh) {
    if (isCancelled()) {
        reply(nullptr, nullptr, true);
        return;
    }
    const auto config = driveConfig();
    const QString token = config ? config->token() : QString();
    if (token.isEmpty() && mayRefresh) {
        auto me = oauth2Self();
        refreshAccessToken([me, call, reply](VNErrorPtr error, bool cancelled) {
            if (error || cancelled)
                reply(nullptr, error, cancelled);
            else
                me->send(call, reply, false);
        });
        return;
    }
    auto request = call.make ? call.make(call.url) : NRHTTPRequest::requestWithURL(call.url);
    request->setRequestMethod(call.method);
    if (isServiceURL(call.url))
        request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer ") + token);
    for (auto it = call.headers.constBegin(); it != call.headers.constEnd(); ++it)
        request->addRequestHeader(it.key(), it.value());
    if (!call.contentType.isEmpty())
        request->addRequestHeader(QStringLiteral("Content-Type"), call.contentType);
    if (!call.bodyFile.isEmpty()) {
        request->setShouldStreamPostDataFromDisk(true);
        request->setPostBodyFilePath(call.bodyFile);
    } else if (!call.body.isEmpty()) {
        request->appendPostData(call.body);
    }
    if (!call.downloadFile.isEmpty())
        request->setDownloadDestinationPath(call.downloadFile);
    if (call.progress) {
        auto moved = std::make_shared<qint64>(0);
        auto progress = call.progress;
        request->setShowAccurateProgress(true);
        auto counter = [moved, progress](qint64 size, qint64 total) {
            if (size > 0)
                *moved += size;
            progress(*moved, total);
        };
        if (call.downloadFile.isEmpty())
            request->setBytesSentBlock(counter);
        else
            request->setBytesReceivedBlock(counter);
    }
    auto me = oauth2Self();
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto finished = [me, weak, call, reply, mayRefresh] {
        auto r = weak.lock();
        if (!r)
            return;
        me->m_requests.removeAll(r);
        const int status = r->responseStatusCode();
        if (r->isCancelled() || me->isCancelled()) {
            if (!call.downloadFile.isEmpty())
                QFile::remove(call.downloadFile);
            reply(nullptr, nullptr, true);
        } else if (status == 401 && mayRefresh && me->accessTokenLasts()) {
            // A lasting token refused in passing: once more with it.
            me->send(call, reply, false);
        } else if (status == 401 && mayRefresh) {
            // The access token ran out: a new one, and the call once more.
            // When another call of the drive has meanwhile brought a new
            // one, that one serves.
            const auto config = me->driveConfig();
            const QString sent = r->requestHeaders().value(QStringLiteral("Authorization")).mid(7);
            if (config && config->token() == sent)
                config->setToken(QString());
            me->send(call, reply, !config || config->token().isEmpty());
        } else if (status >= 400) {
            if (status == 401 && me->accessTokenLasts())
                if (const auto config = me->driveConfig())
                    config->setToken(QString());  // refused twice: signed out
            QByteArray body = r->responseData();
            if (!call.downloadFile.isEmpty()) {
                QFile file(call.downloadFile);
                if (file.open(QIODevice::ReadOnly))
                    body = file.read(64 * 1024);
                file.close();
                QFile::remove(call.downloadFile);
            }
            reply(r.get(), me->replyError(status, body), false);
        } else if (r->error() || status == 0) {
            if (!call.downloadFile.isEmpty())
                QFile::remove(call.downloadFile);
            reply(r.get(), r->error() ? r->error() : me->makeError(QStringLiteral("%1 sent no reply.").arg(me->serviceName())),
                  false);
        } else {
            reply(r.get(), nullptr, false);
        }
    };
    request->setCompletionBlock(finished);
    request->setFailedBlock(finished);
    m_requests.append(request);
    if (call.runsToItsAnswer)
        sendsToItsAnswer();
    request->startAsynchronous();
}

void QNOAuth2Handler::exchange(const QList<std::pair<QString, QString>> &form,
                                    std::function<void(VNErrorPtr, bool)> done) {
    auto request = NRHTTPRequest::requestWithURL(tokenURL());
    request->setRequestMethod(QStringLiteral("POST"));
    request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
    request->appendPostData(formBody(form).toUtf8());
    auto me = oauth2Self();
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto finished = [me, weak, done] {
        auto r = weak.lock();
        if (!r)
            return;
        me->m_requests.removeAll(r);
        if (r->isCancelled() || me->isCancelled()) {
            done(nullptr, true);
            return;
        }
        if (r->error() || r->responseStatusCode() >= 400 || r->responseStatusCode() == 0) {
            done(r->error() ? r->error() : me->replyError(r->responseStatusCode(), r->responseData()), false);
            return;
        }
        const DXJsonValue reply = JSONValue(r->responseData());
        const QString access = reply[QStringLiteral("access_token")].toString();
        if (access.isEmpty()) {
            done(me->makeError(QStringLiteral("%1 sent no access token.").arg(me->serviceName())), false);
            return;
        }
        VNLog::addSecret(access);
        if (const auto config = me->driveConfig())
            config->setToken(access);
        const QString refresh = reply[QStringLiteral("refresh_token")].toString();
        if (!refresh.isEmpty()) {
            VNLog::addSecret(refresh);
            me->setRefreshToken(refresh);
        }
        me->tokensReceived(reply);
        done(nullptr, false);
    };
    request->setCompletionBlock(finished);
    request->setFailedBlock(finished);
    m_requests.append(request);
    request->startAsynchronous();
}

// The refresh exchanges in flight, by the refresh token each spends (main
// thread). Some services (Box) take a refresh token once only: a second
// exchange of the same token is refused, so every handler of the drive that
// needs a new access token meanwhile waits for the one in flight.
QMap<QString, std::shared_ptr<QNOAuth2Handler::RefreshWaiters>> &QNOAuth2Handler::refreshesInFlight() {
    static QMap<QString, std::shared_ptr<RefreshWaiters>> flights;
    return flights;
}

void QNOAuth2Handler::refreshAccessToken(std::function<void(VNErrorPtr, bool)> done) {
    const QString refresh = refreshToken();
    if (refresh.isEmpty()) {
        done(makeError(QStringLiteral("This %1 account is not signed in. Add the drive again.").arg(serviceName())),
             false);
        return;
    }
    auto me = oauth2Self();
    if (const auto flight = refreshesInFlight().value(refresh)) {
        flight->append([me, done](VNErrorPtr error, bool cancelled, const QString &access) {
            if (cancelled && !me->isCancelled()) {
                me->refreshAccessToken(done);  // the handler that asked was cancelled, not this one
                return;
            }
            if (!error && !cancelled)
                if (const auto config = me->driveConfig())
                    config->setToken(access);
            done(error, cancelled || me->isCancelled());
        });
        return;
    }
    const auto flight = std::make_shared<RefreshWaiters>();
    refreshesInFlight().insert(refresh, flight);
    QList<std::pair<QString, QString>> form{{QStringLiteral("refresh_token"), refresh},
                                            {QStringLiteral("client_id"), clientId()}};
    // Desktop clients of some services have no secret and must not send one.
    if (!clientSecret().isEmpty())
        form.append({QStringLiteral("client_secret"), clientSecret()});
    form.append({QStringLiteral("grant_type"), QStringLiteral("refresh_token")});
    form.append(refreshParameters());
    exchange(form, [me, refresh, flight, done](VNErrorPtr error, bool cancelled) {
        if (refreshesInFlight().value(refresh) == flight)
            refreshesInFlight().remove(refresh);
        const auto config = me->driveConfig();
        const QString access = config ? config->token() : QString();
        done(error, cancelled);
        for (const auto &waiter : *flight)
            waiter(error, cancelled, access);
    });
}
