#include "Cloud/QNBoxHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNDrivePaths.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRFormDataRequest.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>

using namespace QNDrivePaths;

namespace {

const QString kClientId = QStringLiteral("varnello-box-client");
const QString kClientSecret = QStringLiteral("varnello-box-secret");
const QString kFields = QStringLiteral("id,type,name,size,modified_at");

QString itemPath(bool isFolder, const QString &id) {
    return (isFolder ? QStringLiteral("/2.0/folders/") : QStringLiteral("/2.0/files/")) +
           OA1URLRequestParameter::encode(id);
}

DXJsonObject parentObject(const QString &id) {
    return DXJsonObject{{QStringLiteral("id"), id}};
}

}  // namespace

QNBoxHandler::QNBoxHandler(QNDriveConfigPtr driveConfig) : QNOAuth2Handler(std::move(driveConfig)) {}

QNBoxHandler::~QNBoxHandler() = default;

QString QNBoxHandler::className() const {
    return QStringLiteral("QNBoxHandler");
}

QString QNBoxHandler::serviceName() const {
    return QStringLiteral("Box");
}

QString QNBoxHandler::loginCaption() {
    return QStringLiteral("SHOW DOCUMENTS ON THIS BOX ACCOUNT");
}

QString QNBoxHandler::refreshTokenKey(const QString &userId) {
    return QStringLiteral("box-refresh-token:") + userId;
}

void QNBoxHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::Box,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNBoxHandler>(config);
                                             });
}

std::shared_ptr<QNBoxHandler> QNBoxHandler::self() {
    return std::static_pointer_cast<QNBoxHandler>(shared_from_this());
}

QUrl QNBoxHandler::tokenURL() const {
    return QUrl(QNServiceHosts::url(QStringLiteral("box.api")) + QStringLiteral("/oauth2/token"));
}

QStringList QNBoxHandler::serviceHostKeys() const { return {QStringLiteral("box.api"), QStringLiteral("box.upload")}; }

QString QNBoxHandler::clientId() const {
    return kClientId;
}

QString QNBoxHandler::clientSecret() const {
    return kClientSecret;
}

QString QNBoxHandler::refreshToken() const {
    if (!m_pendingRefreshToken.isEmpty())
        return m_pendingRefreshToken;
    const auto config = driveConfig();
    const QString userId = config ? config->userId() : QString();
    return userId.isEmpty() ? QString() : VNUserDefaults::standard().stringForKey(refreshTokenKey(userId));
}

void QNBoxHandler::setRefreshToken(const QString &token) {
    const auto config = driveConfig();
    const QString userId = config ? config->userId() : QString();
    if (userId.isEmpty()) {
        m_pendingRefreshToken = token;  // kept until the sign-in knows the user
        return;
    }
    VNUserDefaults::standard().setObject(token, refreshTokenKey(userId));
    VNUserDefaults::standard().synchronize();
}

VNErrorPtr QNBoxHandler::replyError(int status, const QByteArray &body) const {
    const DXJsonValue json = body.trimmed().startsWith('{') ? JSONValue(body) : DXJsonValue();
    QString message = json[QStringLiteral("message")].toString();
    if (message.isEmpty())
        message = json[QStringLiteral("error_description")].toString();
    if (message.isEmpty())
        return QNOAuth2Handler::replyError(status, body);
    return makeError(message);
}

QUrl QNBoxHandler::api(const QString &path, const QList<std::pair<QString, QString>> &query) {
    QString text = QNServiceHosts::url(QStringLiteral("box.api")) + path;
    if (!query.isEmpty())
        text += QLatin1Char('?') + formBody(query);
    return QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
}

QUrl QNBoxHandler::authorizationURL() {
    return QUrl::fromEncoded(
        (QNServiceHosts::url(QStringLiteral("box.account")) + QStringLiteral("/api/oauth2/authorize?") +
         formBody({{QStringLiteral("response_type"), QStringLiteral("code")},
                   {QStringLiteral("client_id"), kClientId},
                   {QStringLiteral("redirect_uri"), QNLoginSheetProvider::loopbackCallbackUrl()},
                   {QStringLiteral("state"), QUuid::createUuid().toString(QUuid::WithoutBraces)}}))
            .toUtf8());
}

QNDocumentPtr QNBoxHandler::documentFromItem(const DXJsonValue &item, const QString &folderPath,
                                             const QString &accessToken) {
    const QString name = item[QStringLiteral("name")].toString();
    const QString id = item[QStringLiteral("id")].toString();
    if (!isUsableName(name) || id.isEmpty())
        return nullptr;
    auto document = QNDocument::create();
    const bool isFolder = item[QStringLiteral("type")].toString() == QLatin1String("folder");
    document->setId(id);
    document->setDisplayName(name);
    document->setPath(joinPath(folderPath, name));
    document->setIsDirectory(isFolder);
    if (!isFolder)
        document->setSize(item[QStringLiteral("size")].toInt64());
    document->setDate(QDateTime::fromString(item[QStringLiteral("modified_at")].toString(), Qt::ISODate));
    if (!isFolder && isPicture(name))
        document->setThumbnailURL(QUrl(api(QStringLiteral("/2.0/files/") + OA1URLRequestParameter::encode(id) +
                                               QStringLiteral("/thumbnail.png"))
                                           .toString(QUrl::FullyEncoded) +
                                       QStringLiteral("?min_height=256&min_width=256&BoxAuth+") + accessToken));
    return document;
}

// --- Sign-in ----------------------------------------------------------------------------

std::shared_ptr<QNAuthWindowController> QNBoxHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    return openLoginSheet(std::move(completed), loginCaption(), authorizationURL());
}

void QNBoxHandler::processOAuthLogin(const QString &callbackUrl) {
    QNLoginCallback completed = takeOAuthLoginCompleted();
    if (!completed)
        return;
    if (callbackUrl.isNull()) {
        completed(false, nullptr, false);
        return;
    }
    const QString code =
        OA1URLRequestParameter::parameterDictionaryFromString(QUrl(callbackUrl).query(QUrl::FullyEncoded))
            .value(QStringLiteral("code"));
    if (code.isEmpty()) {
        completed(false, makeError(QStringLiteral("Box sent no authorization code.")), false);
        return;
    }
    if (auto config = driveConfig()) {
        config->setUserId(QString());
        config->setPassword(QString());  // Box keeps no password in the drive
    }
    auto me = self();
    exchange({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
              {QStringLiteral("code"), code},
              {QStringLiteral("client_id"), kClientId},
              {QStringLiteral("client_secret"), kClientSecret}},
             [me, completed](VNErrorPtr error, bool cancelled) {
                 if (error || cancelled || me->m_pendingRefreshToken.isEmpty()) {
                     completed(false, error ? error : me->makeError(QStringLiteral("Box sent no refresh token.")),
                               cancelled);
                     return;
                 }
                 // The user id names the refresh token's place in the defaults.
                 me->send({QStringLiteral("GET"), api(QStringLiteral("/2.0/users/me"))},
                          [me, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
                              const DXJsonValue user = r && !e && !c ? JSONValue(r->responseData()) : DXJsonValue();
                              const QString userId = user[QStringLiteral("id")].toString();
                              const auto config = me->driveConfig();
                              if (userId.isEmpty() || !config) {
                                  completed(false, e ? e : me->makeError(QStringLiteral("Box sent no user.")), c);
                                  return;
                              }
                              config->setUserId(userId);
                              config->setUsername(user[QStringLiteral("login")].toString());
                              me->setRefreshToken(std::exchange(me->m_pendingRefreshToken, QString()));
                              completed(true, nullptr, false);
                          });
             });
}

void QNBoxHandler::login(QNLoginCallback completed) {
    auto me = self();
    refreshAccessToken([me, completed](VNErrorPtr error, bool cancelled) {
        if (!error && !cancelled)
            if (auto config = me->driveConfig())
                config->setDescription(loginCaption());
        completed(!error && !cancelled, error, cancelled);
    });
}

// --- Items ---------------------------------------------------------------------------------

void QNBoxHandler::listAll(const QString &folderId, std::function<void(QList<DXJsonValue>, VNErrorPtr, bool)> done,
                           QList<DXJsonValue> sofar, qint64 offset, std::shared_ptr<QNListingPages> pages) {
    if (!pages)
        pages = std::make_shared<QNListingPages>();
    auto me = self();
    send({QStringLiteral("GET"), api(QStringLiteral("/2.0/folders/") + OA1URLRequestParameter::encode(folderId) +
                                         QStringLiteral("/items"),
                                     {{QStringLiteral("fields"), kFields},
                                      {QStringLiteral("limit"), QStringLiteral("1000")},
                                      {QStringLiteral("offset"), QString::number(offset)}})},
         [me, folderId, done, sofar, pages](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) mutable {
             if (error || cancelled) {
                 done({}, error, cancelled);
                 return;
             }
             const DXJsonValue reply = JSONValue(r->responseData());
             const DXJsonValue &entries = reply[QStringLiteral("entries")];
             // A reply without its entries or its count is an error, never a short listing.
             if (!entries.isArray() || !reply[QStringLiteral("total_count")].isNumber()) {
                 done({}, me->makeError(QStringLiteral("Box sent an unreadable listing.")), false);
                 return;
             }
             for (const DXJsonValue &entry : entries.toArray())
                 sofar.append(entry);
             const qint64 total = reply[QStringLiteral("total_count")].toInt64();
             if (const QString beyond = pages->addPage(r->responseData().size(), entries.size()); !beyond.isNull())
                 done({}, me->makeError(beyond), false);
             else if (sofar.size() >= total)
                 done(sofar, nullptr, false);
             else if (entries.size() == 0)  // ended before its count: never a short folder
                 done({}, me->makeError(QStringLiteral("Box sent an unreadable listing.")), false);
             else
                 me->listAll(folderId, done, sofar, sofar.size(), pages);
         });
}

void QNBoxHandler::resolve(const QNDocumentPtr &document, ItemCallback done) {
    if (document && !document->id().isEmpty()) {
        done({document->id(), document->isDirectory()}, nullptr, false);
        return;
    }
    const QString path = withoutTrailingSlashes(document ? document->path() : QStringLiteral("/"));
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    auto me = self();
    // One listing per name; the step holds itself only weakly, the listing in flight strongly.
    auto step = std::make_shared<std::function<void(Item, int)>>();
    std::weak_ptr<std::function<void(Item, int)>> weakStep = step;
    *step = [me, names, done, weakStep, path](Item item, int index) {
        if (index >= names.size()) {
            done(item, nullptr, false);
            return;
        }
        me->listAll(item.id, [me, names, done, step = weakStep.lock(), index, path](QList<DXJsonValue> items,
                                                                                   VNErrorPtr e, bool c) {
            if (e || c) {
                done({}, e, c);
                return;
            }
            for (const DXJsonValue &entry : items) {
                if (entry[QStringLiteral("name")].toString() == names.at(index)) {
                    (*step)({entry[QStringLiteral("id")].toString(),
                             entry[QStringLiteral("type")].toString() == QLatin1String("folder")},
                            index + 1);
                    return;
                }
            }
            done({}, me->makeError(QStringLiteral("%1 was not found.").arg(path)), false);
        });
    };
    (*step)({QStringLiteral("0"), true}, 0);
}

void QNBoxHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    const QString folderPath = withoutTrailingSlashes(folder ? folder->path() : QStringLiteral("/"));
    auto me = self();
    resolve(folder, [me, folder, folderPath, searchKeyword, completed](Item item, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed({}, searchKeyword, error, cancelled);
            return;
        }
        me->listAll(item.id, [me, folder, folderPath, searchKeyword, completed](QList<DXJsonValue> items, VNErrorPtr e, bool c) {
            if (e || c) {
                completed({}, searchKeyword, e, c);
                return;
            }
            const auto config = me->driveConfig();
            const QString token = config ? config->token() : QString();
            QNDocumentList documents;
            int leftOut = 0;
            for (const DXJsonValue &entry : items) {
                if (!keepListed(documents, documentFromItem(entry, folderPath, token), searchKeyword, me->className(), folderPath))
                    ++leftOut;
            }
            if (folder)
                folder->setLeftOutCount(leftOut);
            completed(documents, searchKeyword, nullptr, false);
        });
    });
}

void QNBoxHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                            QNDocumentCallback completed) {
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || destination.isEmpty()) {
        completed(nullptr, makeError(QStringLiteral("No file to download or no destination.")), false);
        return;
    }
    const qint64 expected = document->size();
    auto me = self();
    resolve(document, [me, destination, progress, expected, completed](Item item, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        const QString received = partFileFor(destination);
        Call call{QStringLiteral("GET"), api(itemPath(false, item.id) + QStringLiteral("/content"))};
        call.downloadFile = received;
        call.progress = fractionProgress(progress, expected);
        auto done = downloadAnswer(received, destination, me->className(), completed);
        me->send(call, [done](NRHTTPRequest *, VNErrorPtr e, bool c) { done(e, c); });
    });
}

void QNBoxHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                          QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    if (source.isEmpty() || !destPath) {
        completed(nullptr, makeError(QStringLiteral("No file to upload or no destination folder.")), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath->path());
    const QString name = QFileInfo(source).fileName();
    auto me = self();
    resolve(destPath, [me, source, name, folderPath, progress, completed](Item folder, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        // A multipart form: the attributes, then the file streamed from disk.
        auto post = [me, source, name, folderPath, progress, completed](const QString &path, const QByteArray &attributes,
                                                                       std::function<void(NRHTTPRequest *, VNErrorPtr, bool)> then) {
            Call call{QStringLiteral("POST"), QUrl(QNServiceHosts::url(QStringLiteral("box.upload")) + path)};
            call.make = [attributes, source, name](const QUrl &url) {
                auto form = NRFormDataRequest::requestWithURL(url);
                form->addPostValue(QString::fromUtf8(attributes), QStringLiteral("attributes"));
                form->addFile(source, name, QStringLiteral("application/octet-stream"), QStringLiteral("file"));
                form->setShouldStreamPostDataFromDisk(true);
                return std::static_pointer_cast<NRHTTPRequest>(form);
            };
            call.progress = fractionProgress(progress);
            me->send(call, then);
        };
        auto answer = [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            const DXJsonValue reply = JSONValue(r->responseData());
            auto result = documentFromItem(reply[QStringLiteral("entries")][0], folderPath, QString());
            completed(result, result ? nullptr : me->makeError(QStringLiteral("Box sent an unusable file.")), false);
        };
        const QByteArray attributes = JSONRepresentationData(
            DXJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("parent"), parentObject(folder.id)}});
        post(QStringLiteral("/api/2.0/files/content"), attributes,
             [post, answer, name](NRHTTPRequest *r, VNErrorPtr e, bool c) {
                 // A file of that name is there: its new version replaces it.
                 const QString existing =
                     r && r->responseStatusCode() == 409
                         ? JSONValue(r->responseData())[QStringLiteral("context_info")][QStringLiteral("conflicts")]
                                                       [QStringLiteral("id")].toString()
                         : QString();
                 if (existing.isEmpty()) {
                     answer(r, e, c);
                     return;
                 }
                 post(QStringLiteral("/api/2.0/files/") + OA1URLRequestParameter::encode(existing) +
                          QStringLiteral("/content"),
                      JSONRepresentationData(DXJsonObject{{QStringLiteral("name"), name}}), answer);
             });
    });
}

void QNBoxHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    if (!isUsableName(name)) {
        completed(nullptr, makeError(QStringLiteral("\"%1\" cannot be a folder name.").arg(name)), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath ? destPath->path() : QStringLiteral("/"));
    auto me = self();
    resolve(destPath, [me, name, folderPath, completed](Item parent, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        Call call{QStringLiteral("POST"), api(QStringLiteral("/2.0/folders"))};
        call.contentType = QStringLiteral("application/json");
        call.body = JSONRepresentationData(
            DXJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("parent"), parentObject(parent.id)}});
        me->send(call, [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            auto result = documentFromItem(JSONValue(r->responseData()), folderPath, QString());
            completed(result, result ? nullptr : me->makeError(QStringLiteral("Box sent an unusable folder.")), false);
        });
    });
}

void QNBoxHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document || withoutTrailingSlashes(document->path()) == QLatin1String("/")) {
        completed(nullptr, makeError(QStringLiteral("The whole drive cannot be removed.")), false);
        return;
    }
    auto me = self();
    resolve(document, [me, document, completed](Item item, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        QList<std::pair<QString, QString>> query;
        if (item.isFolder)
            query.append({QStringLiteral("recursive"), QStringLiteral("true")});
        me->send({QStringLiteral("DELETE"), api(itemPath(item.isFolder, item.id), query)},
                 [document, completed](NRHTTPRequest *, VNErrorPtr e, bool c) {
                     completed(e || c ? nullptr : document, e, c);
                 });
    });
}

void QNBoxHandler::changeItem(const QNDocumentPtr &document, const QString &method, const QString &suffix,
                              std::function<DXJsonValue(const Item &)> body, const QString &folderPath,
                              QNDocumentCallback completed, bool runsToItsAnswer) {
    auto me = self();
    resolve(document, [me, method, suffix, body, folderPath, completed, runsToItsAnswer](Item item, VNErrorPtr error,
                                                                                         bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        Call call{method, api(itemPath(item.isFolder, item.id) + suffix)};
        call.contentType = QStringLiteral("application/json");
        call.body = JSONRepresentationData(body(item));
        call.runsToItsAnswer = runsToItsAnswer;
        me->send(call, [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            auto result = documentFromItem(JSONValue(r->responseData()), folderPath, QString());
            completed(result, result ? nullptr : me->makeError(QStringLiteral("Box sent an unusable item.")), false);
        });
    });
}

void QNBoxHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString newName = name ? lastComponent(name->path()) : QString();
    if (!document || !isUsableName(newName)) {
        completed(nullptr, makeError(QStringLiteral("No usable new name.")), false);
        return;
    }
    changeItem(document, QStringLiteral("PUT"), QString(),
               [newName](const Item &) { return DXJsonValue(DXJsonObject{{QStringLiteral("name"), newName}}); },
               parentPath(name->path()), std::move(completed), true);
}

void QNBoxHandler::transferInside(bool move, QNDocumentPtr document, QNDocumentPtr folder,
                                  QNDocumentCallback completed) {
    if (!document || !folder) {
        completed(nullptr, makeError(QStringLiteral("No document or no destination folder.")), false);
        return;
    }
    auto me = self();
    const QString folderPath = withoutTrailingSlashes(folder->path());
    resolve(folder, [me, move, document, folderPath, completed](Item destination, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(nullptr, e, c);
            return;
        }
        // A move changes the item's parent; a copy posts the new parent to the item's copy.
        me->changeItem(document, move ? QStringLiteral("PUT") : QStringLiteral("POST"),
                       move ? QString() : QStringLiteral("/copy"),
                       [destination](const Item &) {
                           return DXJsonValue(DXJsonObject{{QStringLiteral("parent"), parentObject(destination.id)}});
                       },
                       folderPath, completed);
    });
}

void QNBoxHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(false, std::move(document), std::move(name), std::move(completed));
}

void QNBoxHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(true, std::move(document), std::move(name), std::move(completed));
}

void QNBoxHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document) {
        completed(nullptr, makeError(QStringLiteral("No document to share.")), false);
        return;
    }
    auto me = self();
    resolve(document, [me, document, completed](Item item, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        Call call{QStringLiteral("PUT"), api(itemPath(item.isFolder, item.id), {{QStringLiteral("fields"), QStringLiteral("shared_link")}})};
        call.contentType = QStringLiteral("application/json");
        call.body = JSONRepresentationData(DXJsonObject{
            {QStringLiteral("shared_link"), DXJsonObject{{QStringLiteral("access"), QStringLiteral("open")}}}});
        me->send(call, [me, document, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            const DXJsonValue reply = JSONValue(r->responseData());
            const QString url = reply[QStringLiteral("shared_link")][QStringLiteral("url")].toString();
            if (url.isEmpty()) {
                completed(nullptr, me->makeError(QStringLiteral("Box sent no link.")), false);
                return;
            }
            document->setLink(url);
            document->setLinkEndDate(QDateTime::fromString(
                reply[QStringLiteral("shared_link")][QStringLiteral("unshared_at")].toString(), Qt::ISODate));
            completed(document, nullptr, false);
        });
    });
}

void QNBoxHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    auto me = self();
    send({QStringLiteral("GET"), api(QStringLiteral("/2.0/users/me"))}, [me, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(e, c);
            return;
        }
        const DXJsonValue user = JSONValue(r->responseData());
        if (!user[QStringLiteral("space_amount")].isNumber()) {
            completed(me->makeError(QStringLiteral("Box sent no quota.")), false);
            return;
        }
        if (auto config = me->driveConfig()) {
            const qint64 used = user[QStringLiteral("space_used")].toInt64();
            const qint64 total = user[QStringLiteral("space_amount")].toInt64();
            config->setUsedBytes(used);
            config->setSharedBytes(0);
            config->setTotalBytes(total);
            config->setAvailableBytes(std::max<qint64>(0, total - used));
        }
        completed(nullptr, false);
    });
}
