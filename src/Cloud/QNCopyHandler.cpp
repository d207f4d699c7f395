#include "Cloud/QNCopyHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequest.h"
#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNDrivePaths.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRFormDataRequest.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUuid>
#include <filesystem>

using namespace QNDrivePaths;

namespace {

const QString kConsumerKey = QStringLiteral("varnello-copy-key");
const QString kConsumerSecret = QStringLiteral("varnello-copy-secret");

QString query(const QList<std::pair<QString, QString>> &pairs) {
    QStringList parts;
    for (const auto &[name, value] : pairs)
        parts << OA1URLRequestParameter::encode(name) + QLatin1Char('=') + OA1URLRequestParameter::encode(value);
    return parts.join(QLatin1Char('&'));
}

}  // namespace

QNCopyHandler::QNCopyHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

QNCopyHandler::~QNCopyHandler() {
    for (const auto &request : m_requests)
        request->clearDelegatesAndCancel();
}

QString QNCopyHandler::className() const {
    return QStringLiteral("QNCopyHandler");
}

QString QNCopyHandler::loginCaption() {
    return QStringLiteral("SHOW DOCUMENTS ON THIS COPY ACCOUNT");
}

void QNCopyHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::Copy,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNCopyHandler>(config);
                                             });
}

std::shared_ptr<QNCopyHandler> QNCopyHandler::self() {
    return std::static_pointer_cast<QNCopyHandler>(shared_from_this());
}

QUrl QNCopyHandler::restURL(const QString &call, const QString &path, const QList<std::pair<QString, QString>> &pairs) {
    QString text = QNServiceHosts::url(QStringLiteral("copy.api")) + QStringLiteral("/rest/") + call;
    for (const QString &segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        text += QLatin1Char('/') + OA1URLRequestParameter::encode(segment);
    if (!pairs.isEmpty())
        text += QLatin1Char('?') + query(pairs);
    return QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
}

QString QNCopyHandler::authorizationFor(const QString &method, const QUrl &url) const {
    const auto config = driveConfig();
    OA1URLRequest signer(method, url,
                         OA1CredentialConcreteStore(kConsumerKey, kConsumerSecret, config ? config->token() : QString(),
                                                    config ? config->tokenSecret() : QString()));
    return signer.authorizationHeader();
}

QNDocumentPtr QNCopyHandler::documentFromItem(const DXJsonValue &item, const QString &folderPath) const {
    const QString name = item[QStringLiteral("name")].toString();
    if (!isUsableName(name))
        return nullptr;
    auto document = QNDocument::create();
    const bool isFolder = item[QStringLiteral("type")].toString() != QLatin1String("file");
    const QString path = joinPath(folderPath, name);
    document->setPath(path);
    document->setDisplayName(name);
    document->setIsDirectory(isFolder);
    if (!isFolder) {
        document->setSize(item[QStringLiteral("size")].toInt64());
        // The pane cuts the address at the marker and sends the rest, unescaped, as the Authorization header.
        const QUrl thumbnail = restURL(QStringLiteral("thumbs/copy"), path, {{QStringLiteral("size"), QStringLiteral("1024")}});
        document->setThumbnailURL(QUrl(thumbnail.toString(QUrl::FullyEncoded) + QStringLiteral("&CopyAuth+") +
                                       QString::fromLatin1(authorizationFor(QStringLiteral("GET"), thumbnail)
                                                               .toUtf8()
                                                               .toPercentEncoding())));
    }
    const qint64 modified = item[QStringLiteral("modified_time")].toInt64();
    if (modified > 0)
        document->setDate(QDateTime::fromSecsSinceEpoch(modified));
    return document;
}

// --- Requests -----------------------------------------------------------------------------

void QNCopyHandler::send(const Call &call, Reply reply) {
    if (isCancelled()) {
        reply(nullptr, nullptr, true);
        return;
    }
    const auto config = driveConfig();
    const QString token = call.useDriveToken ? (config ? config->token() : QString()) : call.token;
    const QString secret = call.useDriveToken ? (config ? config->tokenSecret() : QString()) : call.tokenSecret;
    std::shared_ptr<NRHTTPRequest> request;
    if (!call.bodyFile.isEmpty()) {
        auto form = NRFormDataRequest::requestWithURL(call.url);
        form->addFile(call.bodyFile, QFileInfo(call.bodyFile).fileName(), QStringLiteral("application/octet-stream"),
                      QStringLiteral("file"));
        form->setShouldStreamPostDataFromDisk(true);
        request = form;
    } else {
        request = NRHTTPRequest::requestWithURL(call.url);
    }
    request->setRequestMethod(call.method);
    OA1URLRequest signer(call.method, call.url, OA1CredentialConcreteStore(kConsumerKey, kConsumerSecret, token, secret));
    request->addRequestHeader(QStringLiteral("Authorization"), signer.authorizationHeader());
    request->addRequestHeader(QStringLiteral("X-Api-Version"), QStringLiteral("1"));
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
    auto me = self();
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto finished = [me, weak, call, reply] {
        auto r = weak.lock();
        if (!r)
            return;
        me->m_requests.removeAll(r);
        const int status = r->responseStatusCode();
        const bool failed = r->isCancelled() || me->isCancelled() || r->error() || status >= 400 || status == 0;
        if (failed && !call.downloadFile.isEmpty())
            QFile::remove(call.downloadFile);
        if (r->isCancelled() || me->isCancelled()) {
            reply(nullptr, nullptr, true);
        } else if (status >= 400) {
            const QByteArray body = r->responseData().trimmed();
            QString message = body.startsWith('{') ? JSONValue(body)[QStringLiteral("error_string")].toString() : QString();
            if (message.isEmpty())
                message = QStringLiteral("Copy answered with status %1.").arg(status);
            reply(r.get(), me->makeError(message), false);
        } else if (r->error() || status == 0) {
            reply(r.get(), r->error() ? r->error() : me->makeError(QStringLiteral("Copy sent no reply.")), false);
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

void QNCopyHandler::cancel() {
    QNCloudInterface::cancel();
    const auto running = m_requests;
    for (const auto &request : running)
        request->cancel();
}

// --- Sign-in --------------------------------------------------------------------------------

std::shared_ptr<QNAuthWindowController> QNCopyHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    auto sheet = openLoginSheet(std::move(completed), loginCaption());
    std::weak_ptr<QNAuthWindowController> weakSheet = sheet;
    Call call;
    call.method = QStringLiteral("GET");
    call.url = QUrl::fromEncoded((QNServiceHosts::url(QStringLiteral("copy.api")) + QStringLiteral("/oauth/request?") +
                                  query({{QStringLiteral("oauth_callback"), QNLoginSheetProvider::loopbackCallbackUrl(QStringLiteral("/qn-copy"))}}))
                                     .toUtf8());
    call.useDriveToken = false;
    auto me = self();
    send(call, [me, weakSheet](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        const auto reply = r && !error && !cancelled
                               ? OA1URLRequestParameter::parameterDictionaryFromString(QString::fromUtf8(r->responseData()))
                               : QMap<QString, QString>();
        me->m_requestToken = reply.value(QStringLiteral("oauth_token"));
        me->m_requestTokenSecret = reply.value(QStringLiteral("oauth_token_secret"));
        if (me->m_requestToken.isEmpty() || me->m_requestTokenSecret.isEmpty()) {
            if (auto answer = me->takeOAuthLoginCompleted())
                answer(false, error ? error : (cancelled ? nullptr : me->makeError(QStringLiteral("Copy sent no request token."))), cancelled);
            return;
        }
        VNLog::addSecret(me->m_requestTokenSecret);
        if (auto sheet = weakSheet.lock())
            QNLoginSheetProvider::loadPage(
                sheet, QUrl::fromEncoded((QNServiceHosts::url(QStringLiteral("copy.web")) +
                                          QStringLiteral("/applications/authorize?") +
                                          query({{QStringLiteral("oauth_token"), me->m_requestToken}}))
                                             .toUtf8()));
    });
    return sheet;
}

void QNCopyHandler::processOAuthLogin(const QString &callbackUrl) {
    QNLoginCallback completed = takeOAuthLoginCompleted();
    if (!completed)
        return;
    if (callbackUrl.isNull()) {
        completed(false, nullptr, false);
        return;
    }
    const auto pairs = OA1URLRequestParameter::parameterDictionaryFromString(QUrl(callbackUrl).query(QUrl::FullyEncoded));
    const QString verifier = pairs.value(QStringLiteral("oauth_verifier"));
    if (m_requestToken.isEmpty() || pairs.value(QStringLiteral("oauth_token")) != m_requestToken || verifier.isEmpty()) {
        completed(false, makeError(QStringLiteral("Copy did not authorize this sign-in.")), false);
        return;
    }
    Call call;
    call.method = QStringLiteral("GET");
    call.url = QUrl::fromEncoded((QNServiceHosts::url(QStringLiteral("copy.api")) + QStringLiteral("/oauth/access?") +
                                  query({{QStringLiteral("oauth_verifier"), verifier}}))
                                     .toUtf8());
    call.useDriveToken = false;
    call.token = m_requestToken;
    call.tokenSecret = m_requestTokenSecret;
    auto me = self();
    send(call, [me, completed](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        const auto reply = r && !error && !cancelled
                               ? OA1URLRequestParameter::parameterDictionaryFromString(QString::fromUtf8(r->responseData()))
                               : QMap<QString, QString>();
        const QString token = reply.value(QStringLiteral("oauth_token"));
        const QString secret = reply.value(QStringLiteral("oauth_token_secret"));
        const auto config = me->driveConfig();
        if (token.isEmpty() || secret.isEmpty() || !config) {
            completed(false, error ? error : (cancelled ? nullptr : me->makeError(QStringLiteral("Copy sent no access token."))), cancelled);
            return;
        }
        VNLog::addSecret(token);
        VNLog::addSecret(secret);
        config->setToken(token);
        config->setTokenSecret(secret);
        completed(true, nullptr, false);
    });
}

// --- Files ----------------------------------------------------------------------------------

void QNCopyHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    const QString folderPath = withoutTrailingSlashes(folder ? folder->path() : QStringLiteral("/"));
    listPage(folderPath, {}, [me = self(), folder, folderPath, searchKeyword, completed](QList<DXJsonValue> items, VNErrorPtr error,
                                                                             bool cancelled) {
        if (error || cancelled) {
            completed({}, searchKeyword, error, cancelled);
            return;
        }
        QNDocumentList documents;
        int leftOut = 0;
        for (const DXJsonValue &item : items) {
            if (!keepListed(documents, me->documentFromItem(item, folderPath), searchKeyword, me->className(), folderPath))
                ++leftOut;
        }
        if (folder)
            folder->setLeftOutCount(leftOut);
        completed(documents, searchKeyword, nullptr, false);
    });
}

void QNCopyHandler::listPage(const QString &folderPath, QList<DXJsonValue> items,
                             std::function<void(QList<DXJsonValue>, VNErrorPtr, bool)> done,
                             std::shared_ptr<QNListingPages> pages) {
    if (!pages)
        pages = std::make_shared<QNListingPages>();
    // A folder's children come in pages; the reply counts them all, so a
    // listing is read to its end and one that stops short is an error.
    auto me = self();
    const QList<std::pair<QString, QString>> query{{QStringLiteral("list_index"), QString::number(items.size())}};
    send({QStringLiteral("GET"), restURL(QStringLiteral("meta/copy"), folderPath, query)},
         [me, folderPath, items, done, pages](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) mutable {
             if (error || cancelled) {
                 done({}, error, cancelled);
                 return;
             }
             const DXJsonValue reply = JSONValue(r->responseData());
             if (!reply[QStringLiteral("children")].isArray()) {
                 done({}, me->makeError(QStringLiteral("Copy sent an unreadable listing.")), false);
                 return;
             }
             const DXJsonArray page = reply[QStringLiteral("children")].toArray();
             for (const DXJsonValue &item : page)
                 items.append(item);
             if (const QString beyond = pages->addPage(r->responseData().size(), page.size()); !beyond.isNull()) {
                 done({}, me->makeError(beyond), false);
                 return;
             }
             const DXJsonValue count = reply[QStringLiteral("children_count")];
             if (!count.isNumber() || items.size() >= count.toInt64()) {
                 done(items, nullptr, false);
                 return;
             }
             if (page.isEmpty()) {
                 done({}, me->makeError(QStringLiteral("Copy's listing of %1 stopped short.").arg(folderPath)), false);
                 return;
             }
             me->listPage(folderPath, items, done, pages);
         });
}

void QNCopyHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                             QNDocumentCallback completed) {
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || destination.isEmpty()) {
        completed(nullptr, makeError(QStringLiteral("No file to download or no destination.")), false);
        return;
    }
    const QString received = partFileFor(destination);
    Call call{QStringLiteral("GET"), restURL(QStringLiteral("files"), document->path())};
    call.downloadFile = received;
    call.progress = fractionProgress(progress, document->size());
    auto done = downloadAnswer(received, destination, className(), completed);
    send(call, [done](NRHTTPRequest *, VNErrorPtr e, bool c) { done(e, c); });
}

void QNCopyHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                           QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    if (source.isEmpty() || !destPath) {
        completed(nullptr, makeError(QStringLiteral("No file to upload or no destination folder.")), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath->path());
    Call call{QStringLiteral("POST"), restURL(QStringLiteral("files"), folderPath, {{QStringLiteral("overwrite"), QStringLiteral("true")}})};
    call.bodyFile = source;
    call.progress = fractionProgress(progress);
    auto me = self();
    send(call, [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(nullptr, e, c);
            return;
        }
        const DXJsonValue reply = JSONValue(r->responseData());
        auto result = me->documentFromItem(reply[QStringLiteral("objects")][0], folderPath);
        completed(result, result ? nullptr : me->makeError(QStringLiteral("Copy sent an unusable file.")), false);
    });
}

void QNCopyHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    if (!isUsableName(name)) {
        completed(nullptr, makeError(QStringLiteral("\"%1\" cannot be a folder name.").arg(name)), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath ? destPath->path() : QStringLiteral("/"));
    auto me = self();
    send({QStringLiteral("POST"), restURL(QStringLiteral("files"), joinPath(folderPath, name), {{QStringLiteral("overwrite"), QStringLiteral("false")}})},
         [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
             if (e || c) {
                 completed(nullptr, e, c);
                 return;
             }
             auto result = me->documentFromItem(JSONValue(r->responseData()), folderPath);
             completed(result, result ? nullptr : me->makeError(QStringLiteral("Copy sent an unusable folder.")), false);
         });
}

void QNCopyHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document || withoutTrailingSlashes(document->path()) == QLatin1String("/")) {
        completed(nullptr, makeError(QStringLiteral("The whole drive cannot be removed.")), false);
        return;
    }
    send({QStringLiteral("DELETE"), restURL(QStringLiteral("files"), document->path())},
         [document, completed](NRHTTPRequest *, VNErrorPtr e, bool c) { completed(e || c ? nullptr : document, e, c); });
}

void QNCopyHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString newName = name ? lastComponent(name->path()) : QString();
    if (!document || !isUsableName(newName)) {
        completed(nullptr, makeError(QStringLiteral("No usable new name.")), false);
        return;
    }
    const QString folderPath = parentPath(name->path());
    auto me = self();
    Call call{QStringLiteral("PUT"), restURL(QStringLiteral("files"), document->path(), {{QStringLiteral("name"), newName}})};
    call.runsToItsAnswer = true;
    send(call, [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
             if (e || c) {
                 completed(nullptr, e, c);
                 return;
             }
             auto result = me->documentFromItem(JSONValue(r->responseData()), folderPath);
             completed(result, result ? nullptr : me->makeError(QStringLiteral("Copy sent an unusable name.")), false);
         });
}

void QNCopyHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document) {
        completed(nullptr, makeError(QStringLiteral("No document to share.")), false);
        return;
    }
    auto me = self();
    Call call{QStringLiteral("POST"), restURL(QStringLiteral("links"), QString(),
                                              {{QStringLiteral("public"), QStringLiteral("true")},
                                               {QStringLiteral("path"), withoutTrailingSlashes(document->path())}})};
    send(call, [me, document, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(nullptr, e, c);
            return;
        }
        const QString url = JSONValue(r->responseData())[QStringLiteral("url")].toString();
        if (url.isEmpty()) {
            completed(nullptr, me->makeError(QStringLiteral("Copy sent no link.")), false);
            return;
        }
        document->setLink(url);
        completed(document, nullptr, false);
    });
}

void QNCopyHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    auto me = self();
    send({QStringLiteral("GET"), restURL(QStringLiteral("user"), QString())}, [me, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(e, c);
            return;
        }
        const DXJsonValue storage = JSONValue(r->responseData())[QStringLiteral("storage")];
        if (!storage.isObject()) {
            completed(me->makeError(QStringLiteral("Copy sent no quota.")), false);
            return;
        }
        if (auto config = me->driveConfig()) {
            const qint64 used = storage[QStringLiteral("used")].toInt64();
            const qint64 total = storage[QStringLiteral("quota")].toInt64();
            config->setUsedBytes(used);
            config->setSharedBytes(0);
            config->setTotalBytes(total);
            config->setAvailableBytes(std::max<qint64>(0, total - used));
        }
        completed(nullptr, false);
    });
}
