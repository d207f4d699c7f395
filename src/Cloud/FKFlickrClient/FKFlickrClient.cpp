#include "Cloud/FKFlickrClient/FKFlickrClient.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequest.h"
#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNLoginSheetProvider.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRFormDataRequest.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

namespace {

const QString kConsumerKey = QStringLiteral("varnello-flickr-key");
const QString kConsumerSecret = QStringLiteral("varnello-flickr-secret");

QString encodedPairs(const FKFlickrClient::Params &pairs) {
    QStringList parts;
    for (const auto &[name, value] : pairs)
        parts << OA1URLRequestParameter::encode(name) + QLatin1Char('=') + OA1URLRequestParameter::encode(value);
    return parts.join(QLatin1Char('&'));
}

QMap<QString, QString> formReply(NRHTTPRequest *r) {
    return r ? OA1URLRequestParameter::parameterDictionaryFromString(QString::fromUtf8(r->responseData()))
             : QMap<QString, QString>();
}

}  // namespace

FKFlickrClient::FKFlickrClient(QString token, QString tokenSecret)
    : m_token(std::move(token)), m_tokenSecret(std::move(tokenSecret)) {
    VNLog::addSecret(m_token);
    VNLog::addSecret(m_tokenSecret);
}

FKFlickrClient::~FKFlickrClient() {
    for (const auto &request : m_requests)
        request->clearDelegatesAndCancel();
}

VNErrorPtr FKFlickrClient::makeError(const QString &message) {
    return QNCloudInterface::makeError(QStringLiteral("Flickr"), message);
}

QUrl FKFlickrClient::withQuery(const QString &base, const Params &params) {
    return QUrl::fromEncoded((params.isEmpty() ? base : base + QLatin1Char('?') + encodedPairs(params)).toUtf8());
}

QString FKFlickrClient::callbackUrl() {
    return QNLoginSheetProvider::loopbackCallbackUrl(QStringLiteral("/flickr"));
}

bool FKFlickrClient::isCallback(const QUrl &url) {
    const QUrl callback(callbackUrl());
    return url.scheme() == callback.scheme() && url.host().compare(callback.host(), Qt::CaseInsensitive) == 0 &&
           url.port(80) == callback.port(80) && url.path() == callback.path();
}

// --- Requests -------------------------------------------------------------------------------

void FKFlickrClient::send(const Request &call, RawReply reply) {
    if (m_cancelled) {
        reply(nullptr, nullptr, true);
        return;
    }
    std::shared_ptr<NRHTTPRequest> request;
    QList<OA1URLRequestParameter> signedForm;
    for (const auto &[name, value] : call.form)
        signedForm.append({name, value});
    if (!call.multipartFile.isEmpty()) {
        auto form = NRFormDataRequest::requestWithURL(call.url);
        for (const auto &[name, value] : call.form)
            form->addPostValue(value, name);
        form->addFile(call.multipartFile, QFileInfo(call.multipartFile).fileName(),
                      QStringLiteral("application/octet-stream"), QStringLiteral("photo"));
        form->setShouldStreamPostDataFromDisk(true);
        request = form;
    } else {
        request = NRHTTPRequest::requestWithURL(call.url);
        if (call.method == QLatin1String("POST")) {
            request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
            request->setPostBody(encodedPairs(call.form).toUtf8());
        }
    }
    request->setRequestMethod(call.method);
    if (call.sign) {
        OA1URLRequest signer(call.method, call.url,
                             OA1CredentialConcreteStore(kConsumerKey, kConsumerSecret, call.token, call.tokenSecret));
        signer.setFormParameters(signedForm);
        request->addRequestHeader(QStringLiteral("Authorization"), signer.authorizationHeader());
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
    auto me = shared_from_this();
    std::weak_ptr<NRHTTPRequest> weak = request;
    const QString downloadFile = call.downloadFile;
    auto finished = [me, weak, downloadFile, reply] {
        auto r = weak.lock();
        if (!r)
            return;
        me->m_requests.removeAll(r);
        const int status = r->responseStatusCode();
        const bool cancelled = r->isCancelled() || me->m_cancelled;
        const bool failed = cancelled || r->error() || status >= 400 || status == 0;
        // A short body is a failure too: the file must not pass for the photo.
        const bool cutShort = !failed && !downloadFile.isEmpty() && r->contentLength() > 0 && !r->isResponseCompressed() &&
                              QFileInfo(downloadFile).size() != qint64(r->contentLength());
        if ((failed || cutShort) && !downloadFile.isEmpty())
            QFile::remove(downloadFile);
        if (cancelled)
            reply(nullptr, nullptr, true);
        else if (status >= 400)
            reply(r.get(), makeError(QStringLiteral("Flickr answered with status %1.").arg(status)), false);
        else if (r->error() || status == 0)
            reply(r.get(), r->error() ? r->error() : makeError(QStringLiteral("Flickr sent no reply.")), false);
        else if (cutShort)
            reply(r.get(), makeError(QStringLiteral("The photo arrived cut short.")), false);
        else
            reply(r.get(), nullptr, false);
    };
    request->setCompletionBlock(finished);
    request->setFailedBlock(finished);
    m_requests.append(request);
    request->startAsynchronous();
}

void FKFlickrClient::cancel() {
    m_cancelled = true;
    const auto running = m_requests;
    for (const auto &request : running)
        request->cancel();
}

void FKFlickrClient::call(const QString &method, const Params &params, bool post, JsonReply reply) {
    callSized(method, params, post, [reply](const DXJsonValue &json, qint64, VNErrorPtr error, bool cancelled) {
        reply(json, std::move(error), cancelled);
    });
}

void FKFlickrClient::callSized(const QString &method, const Params &params, bool post, SizedJsonReply reply) {
    Params all{{QStringLiteral("method"), method},
               {QStringLiteral("format"), QStringLiteral("json")},
               {QStringLiteral("nojsoncallback"), QStringLiteral("1")}};
    all += params;
    const QString base = QNServiceHosts::url(QStringLiteral("flickr.api")) + QStringLiteral("/services/rest/");
    Request request;
    request.token = m_token;
    request.tokenSecret = m_tokenSecret;
    if (post) {
        request.method = QStringLiteral("POST");
        request.url = QUrl(base);
        request.form = all;
    } else {
        request.url = withQuery(base, all);
    }
    send(request, [reply, method](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            reply(DXJsonValue(), 0, error, cancelled);
            return;
        }
        DXJsonValue json = JSONValue(r->responseData());
        const QString stat = json[QStringLiteral("stat")].toString();
        if (stat != QLatin1String("ok")) {
            QString message = json[QStringLiteral("message")].toString();
            if (message.isEmpty())
                message = QStringLiteral("Flickr sent an unreadable reply to %1.").arg(method);
            reply(DXJsonValue(), 0, makeError(message), false);
            return;
        }
        reply(json, r->responseData().size(), nullptr, false);
    });
}

void FKFlickrClient::upload(const QString &file, const QString &title, Progress progress,
                            std::function<void(QString, VNErrorPtr, bool)> reply) {
    Request request;
    request.method = QStringLiteral("POST");
    request.url = QUrl(QNServiceHosts::url(QStringLiteral("flickr.upload")) + QStringLiteral("/services/upload/"));
    request.form = {{QStringLiteral("title"), title}};
    request.multipartFile = file;
    request.token = m_token;
    request.tokenSecret = m_tokenSecret;
    request.progress = std::move(progress);
    send(request, [reply](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            reply(QString(), error, cancelled);
            return;
        }
        // The upload endpoint answers in XML only: <rsp stat="ok"><photoid>…</photoid></rsp>.
        const QString text = QString::fromUtf8(r->responseData());
        const auto id = QRegularExpression(QStringLiteral("<photoid[^>]*>\\s*(\\d+)\\s*</photoid>")).match(text);
        if (!text.contains(QStringLiteral("stat=\"ok\"")) || !id.hasMatch()) {
            const auto message = QRegularExpression(QStringLiteral("msg=\"([^\"]*)\"")).match(text);
            reply(QString(), makeError(message.hasMatch() ? message.captured(1) : QStringLiteral("Flickr did not take the photo.")),
                  false);
            return;
        }
        reply(id.captured(1), nullptr, false);
    });
}

void FKFlickrClient::fetch(const QUrl &url, const QString &file, Progress progress, DoneReply reply) {
    Request request;
    request.url = url;
    request.sign = false;
    request.downloadFile = file;
    request.progress = std::move(progress);
    send(request, [reply](NRHTTPRequest *, VNErrorPtr error, bool cancelled) { reply(error, cancelled); });
}

// --- Sign-in --------------------------------------------------------------------------------

void FKFlickrClient::beginLogin(const std::shared_ptr<QNAuthWindowController> &sheet, LoginReply done) {
    m_loginDone = std::move(done);
    std::weak_ptr<FKFlickrClient> weakMe = shared_from_this();
    std::weak_ptr<QNAuthWindowController> weakSheet = sheet;
    // Our callback never leaves the sheet; the rest goes on to the sheet's markers.
    QNLoginSheetProvider::watchRequests(sheet, [weakMe](const QUrl &url) {
        if (!isCallback(url))
            return false;
        // On a later turn: the answer may close the sheet, which must not
        // happen inside the web engine's own callback.
        QTimer::singleShot(0, QCoreApplication::instance(), [weakMe, url] {
            if (auto me = weakMe.lock())
                me->finishLogin(url);
        });
        return true;
    });
    Request request;
    request.url = withQuery(QNServiceHosts::url(QStringLiteral("flickr.oauth")) + QStringLiteral("/services/oauth/request_token"),
                            {{QStringLiteral("oauth_callback"), callbackUrl()}});
    auto me = shared_from_this();
    send(request, [me, weakSheet](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        const auto pairs = error || cancelled ? QMap<QString, QString>() : formReply(r);
        me->m_requestToken = pairs.value(QStringLiteral("oauth_token"));
        me->m_requestTokenSecret = pairs.value(QStringLiteral("oauth_token_secret"));
        if (me->m_requestToken.isEmpty() || me->m_requestTokenSecret.isEmpty()) {
            if (auto done = std::exchange(me->m_loginDone, nullptr))
                done({}, error ? error : (cancelled ? nullptr : makeError(QStringLiteral("Flickr sent no request token."))),
                     cancelled);
            return;
        }
        VNLog::addSecret(me->m_requestTokenSecret);
        if (auto sheet = weakSheet.lock())
            QNLoginSheetProvider::loadPage(
                sheet, withQuery(QNServiceHosts::url(QStringLiteral("flickr.web")) + QStringLiteral("/services/oauth/authorize"),
                                 {{QStringLiteral("oauth_token"), me->m_requestToken},
                                  {QStringLiteral("perms"), QStringLiteral("delete")}}));
    });
}

void FKFlickrClient::finishLogin(const QUrl &callback) {
    LoginReply done = std::exchange(m_loginDone, nullptr);
    if (!done)
        return;  // a second callback of the same sign-in
    const auto pairs = OA1URLRequestParameter::parameterDictionaryFromString(callback.query(QUrl::FullyEncoded));
    const QString verifier = pairs.value(QStringLiteral("oauth_verifier"));
    VNLog::addSecret(verifier);
    if (verifier.isEmpty()) {
        done({}, nullptr, false);
        return;
    }
    if (m_requestToken.isEmpty() || pairs.value(QStringLiteral("oauth_token")) != m_requestToken) {
        done({}, makeError(QStringLiteral("Flickr did not authorize this sign-in.")), false);
        return;
    }
    Request request;
    request.url = withQuery(QNServiceHosts::url(QStringLiteral("flickr.oauth")) + QStringLiteral("/services/oauth/access_token"),
                            {{QStringLiteral("oauth_verifier"), verifier}});
    request.token = m_requestToken;
    request.tokenSecret = m_requestTokenSecret;
    auto me = shared_from_this();
    send(request, [me, done](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        const auto pairs = error || cancelled ? QMap<QString, QString>() : formReply(r);
        Account account{pairs.value(QStringLiteral("oauth_token")), pairs.value(QStringLiteral("oauth_token_secret")),
                        pairs.value(QStringLiteral("user_nsid")), pairs.value(QStringLiteral("username"))};
        if (account.token.isEmpty() || account.tokenSecret.isEmpty() || account.userId.isEmpty()) {
            done({}, error ? error : (cancelled ? nullptr : makeError(QStringLiteral("Flickr sent no access token."))), cancelled);
            return;
        }
        VNLog::addSecret(account.token);
        VNLog::addSecret(account.tokenSecret);
        me->m_token = account.token;
        me->m_tokenSecret = account.tokenSecret;
        done(account, nullptr, false);
    });
}
