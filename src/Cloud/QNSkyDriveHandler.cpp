#include "Cloud/QNSkyDriveHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNDrivePaths.h"
#include "Cloud/QNLiveConnectClient.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Core/QNUtils.h"
#include "Formats/DXJsonExtensions.h"
#include "Formats/DXJsonObject.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QFile>
#include <QFileInfo>
#include <QUrlQuery>

using namespace QNDrivePaths;

namespace {

// Items asked for per listing page; the service may send fewer.
const QString kPageSize = QStringLiteral("500");

QString encoded(const QString &text) {
    return OA1URLRequestParameter::encode(text);
}

bool isFolderType(const QString &type) {
    return type == QLatin1String("folder") || type == QLatin1String("album");
}

}  // namespace

QNSkyDriveHandler::QNSkyDriveHandler(QNDriveConfigPtr driveConfig) : QNOAuth2Handler(std::move(driveConfig)) {
    // Tokens read back from the stored drive are masked in the log as well.
    if (const auto config = this->driveConfig()) {
        if (!config->token().isEmpty())
            VNLog::addSecret(config->token());
        if (!config->password().isEmpty())
            VNLog::addSecret(config->password());
    }
}

QNSkyDriveHandler::~QNSkyDriveHandler() = default;

QString QNSkyDriveHandler::className() const {
    return QStringLiteral("QNSkyDriveHandler");
}

QString QNSkyDriveHandler::serviceName() const {
    return QStringLiteral("OneDrive");
}

QString QNSkyDriveHandler::loginCaption() {
    return QStringLiteral("SHOW DOCUMENTS ON THIS SKYDRIVE ACCOUNT");
}

void QNSkyDriveHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::SkyDrive,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNSkyDriveHandler>(config);
                                             });
}

std::shared_ptr<QNSkyDriveHandler> QNSkyDriveHandler::self() {
    return std::static_pointer_cast<QNSkyDriveHandler>(shared_from_this());
}

QUrl QNSkyDriveHandler::tokenURL() const {
    return QNLiveConnectClient::tokenURL();
}

QStringList QNSkyDriveHandler::serviceHostKeys() const { return {QStringLiteral("live.api")}; }

QString QNSkyDriveHandler::clientId() const {
    return QNLiveConnectClient::clientId();
}

QString QNSkyDriveHandler::clientSecret() const {
    return QString();  // a desktop client has none
}

QList<std::pair<QString, QString>> QNSkyDriveHandler::refreshParameters() const {
    // A desktop client's refresh names the redirect page of its sign-in.
    return {{QStringLiteral("redirect_uri"), QNLiveConnectClient::redirectUri()}};
}

QNDocumentPtr QNSkyDriveHandler::documentFromItem(const DXJsonValue &item, const QString &folderPath) {
    const QString name = item[QStringLiteral("name")].toString();
    const QString id = item[QStringLiteral("id")].toString();
    if (!isUsableName(name) || id.isEmpty())
        return nullptr;
    auto document = QNDocument::create();
    const bool isFolder = isFolderType(item[QStringLiteral("type")].toString());
    document->setId(id);
    document->setDisplayName(name);
    document->setPath(joinPath(folderPath, name));
    document->setIsDirectory(isFolder);
    if (!isFolder)
        document->setSize(item[QStringLiteral("size")].toInt64());
    document->setDate(QNUtils::dateFromString(item[QStringLiteral("updated_time")].toString()));
    return document;
}

// --- Sign-in ----------------------------------------------------------------------------

std::shared_ptr<QNAuthWindowController> QNSkyDriveHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    setOAuthLoginCompleted(std::move(completed));
    if (auto config = driveConfig())
        config->setDescription(loginCaption());
    auto sheet = QNLoginSheetProvider::makeSheet(shared_from_this());
    QNLiveConnectClient::signIn(sheet, weak_from_this());
    return sheet;
}

void QNSkyDriveHandler::processOAuthLogin(const QString &callbackUrl) {
    QNLoginCallback completed = takeOAuthLoginCompleted();
    if (!completed)
        return;
    if (callbackUrl.isNull()) {
        completed(false, nullptr, false);
        return;
    }
    const QString code = QUrlQuery(QUrl(callbackUrl)).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (code.isEmpty()) {
        completed(false, makeError(QStringLiteral("OneDrive sent no authorization code.")), false);
        return;
    }
    if (auto config = driveConfig()) {
        config->setToken(QString());
        config->setPassword(QString());
    }
    m_ids.clear();
    auto me = self();
    exchange({{QStringLiteral("client_id"), QNLiveConnectClient::clientId()},
              {QStringLiteral("redirect_uri"), QNLiveConnectClient::redirectUri()},
              {QStringLiteral("code"), code},
              {QStringLiteral("grant_type"), QStringLiteral("authorization_code")}},
             [me, completed](VNErrorPtr error, bool cancelled) {
                 const auto config = me->driveConfig();
                 if (!error && !cancelled && (!config || config->password().isEmpty()))
                     error = me->makeError(QStringLiteral("OneDrive sent no refresh token."));
                 completed(!error && !cancelled, error, cancelled);
             });
}

// --- Ids ------------------------------------------------------------------------------------

void QNSkyDriveHandler::call(const Call &request, Reply reply) {
    auto me = self();
    send(request, [me, reply](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
        if (r && r->responseStatusCode() == 404 && me->m_usedRemembered)
            me->m_stale = true;
        reply(r, error, cancelled);
    });
}

bool QNSkyDriveHandler::takeStale() {
    if (!m_stale)
        return false;
    m_stale = m_usedRemembered = false;
    m_ids.clear();
    return true;
}

void QNSkyDriveHandler::retrying(std::function<void(QNDocumentCallback)> attempt, QNDocumentCallback completed) {
    auto me = self();
    attempt([me, attempt, completed](QNDocumentPtr document, VNErrorPtr error, bool cancelled) {
        if (error && me->takeStale())
            attempt(completed);
        else
            completed(document, error, cancelled);
    });
}

void QNSkyDriveHandler::listAll(const QString &folderId, ListCallback done, QList<DXJsonValue> sofar,
                                std::shared_ptr<QNListingPages> pages) {
    if (!pages)
        pages = std::make_shared<QNListingPages>();
    auto me = self();
    const QString offset = QString::number(sofar.size());
    call({QStringLiteral("GET"), QNLiveConnectClient::api(encoded(folderId) + QStringLiteral("/files"),
                                                          {{QStringLiteral("limit"), kPageSize},
                                                           {QStringLiteral("offset"), offset}})},
         [me, folderId, done, sofar, pages](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) mutable {
             if (error || cancelled) {
                 done({}, error, cancelled);
                 return;
             }
             const DXJsonValue reply = JSONValue(r->responseData());
             const DXJsonValue &data = reply[QStringLiteral("data")];
             // A reply without its items is an error, never a short listing.
             if (!data.isArray()) {
                 done({}, me->makeError(QStringLiteral("OneDrive sent an unreadable listing.")), false);
                 return;
             }
             const QList<DXJsonValue> page = data.toArray();
             sofar.append(page);
             // The service names a next page while there is one.
             const QString next = reply[QStringLiteral("paging")][QStringLiteral("next")].toString();
             QString beyond = pages->addPage(r->responseData().size(), page.size());
             if (beyond.isNull())
                 beyond = pages->follow(next);
             if (!beyond.isNull()) {
                 done({}, me->makeError(beyond), false);
                 return;
             }
             if (next.isEmpty()) {
                 done(sofar, nullptr, false);
                 return;
             }
             if (page.isEmpty()) {
                 done({}, me->makeError(QStringLiteral("OneDrive sent an empty page amid a listing.")), false);
                 return;
             }
             me->listAll(folderId, done, sofar, pages);
         });
}

void QNSkyDriveHandler::remember(const QString &folderPath, const QList<DXJsonValue> &items) {
    for (const DXJsonValue &entry : items)
        if (const auto document = documentFromItem(entry, folderPath))
            m_ids.insert(document->path(), {document->id(), document->isDirectory()});
}

void QNSkyDriveHandler::forget(const QString &path) {
    const QString prefix = withoutTrailingSlashes(path) + QLatin1Char('/');
    for (auto it = m_ids.begin(); it != m_ids.end();) {
        if (it.key() == withoutTrailingSlashes(path) || it.key().startsWith(prefix))
            it = m_ids.erase(it);
        else
            ++it;
    }
}

void QNSkyDriveHandler::resolve(const QNDocumentPtr &document, ItemCallback done) {
    if (document && !document->id().isEmpty()) {
        done({document->id(), document->isDirectory()}, nullptr, false);
        return;
    }
    resolvePath(withoutTrailingSlashes(document ? document->path() : QStringLiteral("/")), std::move(done));
}

void QNSkyDriveHandler::resolvePath(const QString &path, ItemCallback done) {
    if (const auto known = m_ids.constFind(path); known != m_ids.constEnd()) {
        m_usedRemembered = true;
        done(*known, nullptr, false);
        return;
    }
    auto me = self();
    if (path == QLatin1String("/")) {
        call({QStringLiteral("GET"), QNLiveConnectClient::api(QStringLiteral("me/skydrive"))},
             [me, done](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
                 const QString id = r && !error && !cancelled
                                        ? JSONValue(r->responseData())[QStringLiteral("id")].toString()
                                        : QString();
                 if (id.isEmpty()) {
                     done({}, error || cancelled ? error : me->makeError(QStringLiteral("OneDrive sent no top folder.")),
                          cancelled);
                     return;
                 }
                 me->m_ids.insert(QStringLiteral("/"), {id, true});
                 done({id, true}, nullptr, false);
             });
        return;
    }
    const QString parent = parentPath(path);
    resolvePath(parent, [me, path, parent, done](Item folder, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            done({}, error, cancelled);
            return;
        }
        me->listAll(folder.id, [me, path, parent, done](QList<DXJsonValue> items, VNErrorPtr e, bool c) {
            if (e || c) {
                done({}, e, c);
                return;
            }
            me->remember(parent, items);
            if (const auto found = me->m_ids.constFind(path); found != me->m_ids.constEnd())
                done(*found, nullptr, false);
            else
                done({}, me->makeError(QStringLiteral("\"%1\" is not on this OneDrive.").arg(path)), false);
        });
    });
}

// --- Operations -------------------------------------------------------------------------

void QNSkyDriveHandler::listDocumentsOnce(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
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
            me->remember(folderPath, items);
            QNDocumentList documents;
            int leftOut = 0;
            for (const DXJsonValue &entry : items) {
                if (!keepListed(documents, documentFromItem(entry, folderPath), searchKeyword, me->className(), folderPath))
                    ++leftOut;
            }
            if (folder)
                folder->setLeftOutCount(leftOut);
            completed(documents, searchKeyword, nullptr, false);
        });
    });
}

void QNSkyDriveHandler::downloadOnce(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
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
        // Received beside the destination, which only a whole file replaces.
        const QString received = partFileFor(destination);
        Call call{QStringLiteral("GET"), QNLiveConnectClient::api(encoded(item.id) + QStringLiteral("/content"))};
        call.downloadFile = received;
        call.progress = fractionProgress(progress, expected);
        auto done = downloadAnswer(received, destination, me->className(), completed);
        me->call(call, [done](NRHTTPRequest *, VNErrorPtr e, bool c) { done(e, c); });
    });
}

void QNSkyDriveHandler::uploadOnce(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
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
        // The file's bytes are the body; a file of that name is replaced.
        Call call{QStringLiteral("PUT"), QNLiveConnectClient::api(encoded(folder.id) + QStringLiteral("/files/") + encoded(name),
                                                                  {{QStringLiteral("overwrite"), QStringLiteral("true")}})};
        call.bodyFile = source;
        call.contentType = QStringLiteral("application/octet-stream");
        call.progress = fractionProgress(progress);
        me->call(call, [me, source, name, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            DXJsonObject item = JSONValue(r->responseData()).toObject();
            item.insert(QStringLiteral("type"), QStringLiteral("file"));
            item.insert(QStringLiteral("size"), QFileInfo(source).size());
            auto result = documentFromItem(item, folderPath);
            if (!result || result->displayName() != name) {
                completed(nullptr, me->makeError(QStringLiteral("OneDrive sent an unusable file.")), false);
                return;
            }
            me->m_ids.insert(result->path(), {result->id(), false});
            completed(result, nullptr, false);
        });
    });
}

void QNSkyDriveHandler::createFolderOnce(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    if (!isUsableName(name)) {
        completed(nullptr, makeError(QStringLiteral("\"%1\" cannot be a folder name.").arg(name)), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath ? destPath->path() : QStringLiteral("/"));
    auto parent = destPath ? destPath : QNDocument::withPath(QStringLiteral("/"), true);
    changeItem(parent, QStringLiteral("POST"), DXJsonObject{{QStringLiteral("name"), name}}, folderPath, QString(),
               std::move(completed));
}

void QNSkyDriveHandler::removeOnce(QNDocumentPtr document, QNDocumentCallback completed) {
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
        me->call({QStringLiteral("DELETE"), QNLiveConnectClient::api(encoded(item.id))},
                 [me, document, completed](NRHTTPRequest *, VNErrorPtr e, bool c) {
                     if (!e && !c)
                         me->forget(document->path());
                     completed(e || c ? nullptr : document, e, c);
                 });
    });
}

void QNSkyDriveHandler::changeItem(const QNDocumentPtr &document, const QString &method, const DXJsonObject &body,
                                   const QString &folderPath, const QString &oldPath, QNDocumentCallback completed,
                                   bool runsToItsAnswer) {
    auto me = self();
    resolve(document, [me, method, body, folderPath, oldPath, completed, runsToItsAnswer](Item item, VNErrorPtr error,
                                                                                          bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        Call call{method, QNLiveConnectClient::api(encoded(item.id))};
        call.contentType = QStringLiteral("application/json");
        call.body = JSONRepresentationData(DXJsonValue(body));
        call.runsToItsAnswer = runsToItsAnswer;
        me->call(call, [me, folderPath, oldPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            // Whatever was known below the old and the new place is stale now.
            if (!oldPath.isEmpty())
                me->forget(oldPath);
            auto result = documentFromItem(JSONValue(r->responseData()), folderPath);
            if (!result) {
                completed(nullptr, me->makeError(QStringLiteral("OneDrive sent an unusable item.")), false);
                return;
            }
            me->forget(result->path());
            me->m_ids.insert(result->path(), {result->id(), result->isDirectory()});
            completed(result, nullptr, false);
        });
    });
}

void QNSkyDriveHandler::renameOnce(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString newName = name ? lastComponent(name->path()) : QString();
    if (!document || !isUsableName(newName)) {
        completed(nullptr, makeError(QStringLiteral("No usable new name.")), false);
        return;
    }
    changeItem(document, QStringLiteral("PUT"), DXJsonObject{{QStringLiteral("name"), newName}},
               parentPath(name->path()), document->path(), std::move(completed), true);
}

void QNSkyDriveHandler::transferInside(bool move, QNDocumentPtr document, QNDocumentPtr folder,
                                       QNDocumentCallback completed) {
    if (!document || !folder) {
        completed(nullptr, makeError(QStringLiteral("No document or no destination folder.")), false);
        return;
    }
    // The service copies files only; the task copies folders item by item.
    if (!move && document->isDirectory()) {
        completed(nullptr, makeError(QStringLiteral("OneDrive cannot copy a folder on the server.")), false);
        return;
    }
    auto me = self();
    const QString folderPath = withoutTrailingSlashes(folder->path());
    resolve(folder, [me, move, document, folderPath, completed](Item destination, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(nullptr, e, c);
            return;
        }
        me->changeItem(document, move ? QStringLiteral("MOVE") : QStringLiteral("COPY"),
                       DXJsonObject{{QStringLiteral("destination"), destination.id}}, folderPath,
                       move ? document->path() : QString(), completed);
    });
}

void QNSkyDriveHandler::localCopyOnce(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(false, std::move(document), std::move(name), std::move(completed));
}

void QNSkyDriveHandler::localMoveOnce(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(true, std::move(document), std::move(name), std::move(completed));
}

void QNSkyDriveHandler::linkForDocumentOnce(QNDocumentPtr document, QNDocumentCallback completed) {
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
        me->call({QStringLiteral("GET"), QNLiveConnectClient::api(encoded(item.id) + QStringLiteral("/shared_read_link"))},
                 [me, document, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
                     if (e || c) {
                         completed(nullptr, e, c);
                         return;
                     }
                     const QString link = JSONValue(r->responseData())[QStringLiteral("link")].toString();
                     if (link.isEmpty()) {
                         completed(nullptr, me->makeError(QStringLiteral("OneDrive sent no link.")), false);
                         return;
                     }
                     document->setLink(link);
                     completed(document, nullptr, false);
                 });
    });
}

void QNSkyDriveHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    auto me = self();
    call({QStringLiteral("GET"), QNLiveConnectClient::api(QStringLiteral("me/skydrive/quota"))},
         [me, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
             if (e || c) {
                 completed(e, c);
                 return;
             }
             const DXJsonValue reply = JSONValue(r->responseData());
             if (!reply[QStringLiteral("quota")].isNumber() || !reply[QStringLiteral("available")].isNumber()) {
                 completed(me->makeError(QStringLiteral("OneDrive sent no quota.")), false);
                 return;
             }
             if (auto config = me->driveConfig()) {
                 const qint64 total = reply[QStringLiteral("quota")].toInt64();
                 const qint64 available = reply[QStringLiteral("available")].toInt64();
                 config->setTotalBytes(total);
                 config->setAvailableBytes(available);
                 config->setUsedBytes(std::max<qint64>(0, total - available));
                 config->setSharedBytes(0);
             }
             completed(nullptr, false);
         });
}

// --- Remembered ids that went stale ----------------------------------------------------
// An item found through a remembered id that the service no longer knows was
// removed or replaced behind this handler's back: the ids are looked up
// afresh and the operation runs once more.

void QNSkyDriveHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    auto me = self();
    auto attempt = [me, folder, searchKeyword](QNListCallback done) { me->listDocumentsOnce(folder, searchKeyword, done); };
    attempt([me, attempt, completed](QNDocumentList documents, QString keyword, VNErrorPtr error, bool cancelled) {
        if (error && me->takeStale())
            attempt(completed);
        else
            completed(documents, keyword, error, cancelled);
    });
}

void QNSkyDriveHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                 QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document, destPath, progress](QNDocumentCallback done) { me->downloadOnce(document, destPath, progress, done); },
             std::move(completed));
}

void QNSkyDriveHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                               QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document, destPath, progress](QNDocumentCallback done) { me->uploadOnce(document, destPath, progress, done); },
             std::move(completed));
}

void QNSkyDriveHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    auto me = self();
    retrying([me, name, destPath](QNDocumentCallback done) { me->createFolderOnce(name, destPath, done); }, std::move(completed));
}

void QNSkyDriveHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document](QNDocumentCallback done) { me->removeOnce(document, done); }, std::move(completed));
}

void QNSkyDriveHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document, name](QNDocumentCallback done) { me->renameOnce(document, name, done); }, std::move(completed));
}

void QNSkyDriveHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document, name](QNDocumentCallback done) { me->localCopyOnce(document, name, done); }, std::move(completed));
}

void QNSkyDriveHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document, name](QNDocumentCallback done) { me->localMoveOnce(document, name, done); }, std::move(completed));
}

void QNSkyDriveHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    auto me = self();
    retrying([me, document](QNDocumentCallback done) { me->linkForDocumentOnce(document, done); }, std::move(completed));
}
