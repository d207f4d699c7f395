#include "Cloud/QNGoogleDriveHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNDrivePaths.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUuid>
#include <filesystem>

using namespace QNDrivePaths;

namespace {

const QString kFolderType = QStringLiteral("application/vnd.google-apps.folder");
const QString kClientId = QStringLiteral("varnello-desktop.apps.googleusercontent.com");
const QString kClientSecret = QStringLiteral("varnello-desktop-secret");
const QString kFileFields = QStringLiteral("id,name,mimeType,size,modifiedTime,parents");

// A text in a search query: between single quotes, with \ and ' escaped.
QString quoted(const QString &text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

}  // namespace

QNGoogleDriveHandler::QNGoogleDriveHandler(QNDriveConfigPtr driveConfig) : QNOAuth2Handler(std::move(driveConfig)) {}

QNGoogleDriveHandler::~QNGoogleDriveHandler() = default;

QString QNGoogleDriveHandler::serviceName() const {
    return QStringLiteral("Google Drive");
}

QUrl QNGoogleDriveHandler::tokenURL() const {
    return QUrl(QNServiceHosts::url(QStringLiteral("google.accounts")) + QStringLiteral("/o/oauth2/token"));
}

QStringList QNGoogleDriveHandler::serviceHostKeys() const { return {QStringLiteral("google.api")}; }

QString QNGoogleDriveHandler::clientId() const {
    return kClientId;
}

QString QNGoogleDriveHandler::clientSecret() const {
    return kClientSecret;
}

QString QNGoogleDriveHandler::className() const {
    return QStringLiteral("QNGoogleDriveHandler");
}

QString QNGoogleDriveHandler::loginCaption() {
    return QStringLiteral("SHOW DOCUMENTS ON THIS GOOGLE DRIVE ACCOUNT");
}

void QNGoogleDriveHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::GoogleDrive,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNGoogleDriveHandler>(config);
                                             });
}

std::shared_ptr<QNGoogleDriveHandler> QNGoogleDriveHandler::self() {
    return std::static_pointer_cast<QNGoogleDriveHandler>(shared_from_this());
}

QUrl QNGoogleDriveHandler::api(const QString &path, const QList<std::pair<QString, QString>> &query) {
    QString text = QNServiceHosts::url(QStringLiteral("google.api")) + path;
    if (!query.isEmpty())
        text += QLatin1Char('?') + formBody(query);
    return QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
}

QUrl QNGoogleDriveHandler::authorizationURL() {
    const QList<std::pair<QString, QString>> query = {
        {QStringLiteral("response_type"), QStringLiteral("code")},
        {QStringLiteral("client_id"), kClientId},
        {QStringLiteral("redirect_uri"), QNLoginSheetProvider::loopbackCallbackUrl()},
        {QStringLiteral("scope"), QStringLiteral("https://www.googleapis.com/auth/drive")},
        {QStringLiteral("access_type"), QStringLiteral("offline")},
        {QStringLiteral("approval_prompt"), QStringLiteral("force")}};
    return QUrl::fromEncoded((QNServiceHosts::url(QStringLiteral("google.accounts")) + QStringLiteral("/o/oauth2/auth?") +
                              formBody(query))
                                 .toUtf8());
}

QNDocumentPtr QNGoogleDriveHandler::documentFromFile(const DXJsonValue &file, const QString &folderPath) {
    const QString name = file[QStringLiteral("name")].toString();
    const QString id = file[QStringLiteral("id")].toString();
    if (!isUsableName(name) || id.isEmpty())
        return nullptr;
    auto document = QNDocument::create();
    document->setId(id);
    document->setDisplayName(name);
    document->setPath(joinPath(folderPath, name));
    const bool isFolder = file[QStringLiteral("mimeType")].toString() == kFolderType;
    document->setIsDirectory(isFolder);
    document->setType(file[QStringLiteral("mimeType")].toString());
    if (!isFolder)
        document->setSize(file[QStringLiteral("size")].toInt64());
    document->setDate(QDateTime::fromString(file[QStringLiteral("modifiedTime")].toString(), Qt::ISODateWithMs));
    return document;
}

void QNGoogleDriveHandler::listAll(const QString &query,
                                   std::function<void(QList<DXJsonValue>, VNErrorPtr, bool)> done,
                                   QList<DXJsonValue> sofar, const QString &pageToken,
                                   std::shared_ptr<QNListingPages> pages) {
    if (!pages)
        pages = std::make_shared<QNListingPages>();
    QList<std::pair<QString, QString>> parameters = {
        {QStringLiteral("q"), query},
        {QStringLiteral("fields"), QStringLiteral("nextPageToken,files(") + kFileFields + QLatin1Char(')')},
        {QStringLiteral("pageSize"), QStringLiteral("1000")}};
    if (!pageToken.isEmpty())
        parameters.append({QStringLiteral("pageToken"), pageToken});
    Call call{QStringLiteral("GET"), api(QStringLiteral("/drive/v3/files"), parameters)};
    auto me = self();
    send(call, [me, query, done, sofar, pages](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) mutable {
        if (error || cancelled) {
            done({}, error, cancelled);
            return;
        }
        const DXJsonValue reply = JSONValue(r->responseData());
        // A reply without its file list is an error, never a short listing.
        if (!reply[QStringLiteral("files")].isArray()) {
            done({}, me->makeError(QStringLiteral("Google Drive sent an unreadable listing.")), false);
            return;
        }
        const QList<DXJsonValue> page = reply[QStringLiteral("files")].toArray();
        sofar.append(page);
        const QString next = reply[QStringLiteral("nextPageToken")].toString();
        QString beyond = pages->addPage(r->responseData().size(), page.size());
        if (beyond.isNull())
            beyond = pages->follow(next);
        if (!beyond.isNull())
            done({}, me->makeError(beyond), false);
        else if (next.isEmpty())
            done(sofar, nullptr, false);
        else
            me->listAll(query, done, sofar, next, pages);
    });
}

void QNGoogleDriveHandler::resolveId(const QNDocumentPtr &document,
                                     std::function<void(QString, VNErrorPtr, bool)> done) {
    if (document && !document->id().isEmpty()) {
        done(document->id(), nullptr, false);
        return;
    }
    const QString path = withoutTrailingSlashes(document ? document->path() : QStringLiteral("/"));
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    auto me = self();
    // Walks down from the root, one listing per name. The step holds itself
    // only weakly; the listing in flight holds it strongly.
    auto step = std::make_shared<std::function<void(QString, int)>>();
    std::weak_ptr<std::function<void(QString, int)>> weakStep = step;
    *step = [me, names, done, weakStep, path](QString id, int index) {
        if (index >= names.size()) {
            done(id, nullptr, false);
            return;
        }
        me->listAll(QStringLiteral("%1 in parents and name = %2 and trashed = false")
                        .arg(quoted(id), quoted(names.at(index))),
                    [me, done, step = weakStep.lock(), index, path](QList<DXJsonValue> files, VNErrorPtr error,
                                                                    bool cancelled) {
                        if (error || cancelled) {
                            done({}, error, cancelled);
                            return;
                        }
                        if (files.isEmpty()) {
                            done({}, me->makeError(QStringLiteral("%1 was not found.").arg(path)), false);
                            return;
                        }
                        (*step)(files.first()[QStringLiteral("id")].toString(), index + 1);
                    });
    };
    (*step)(QStringLiteral("root"), 0);
}

QNOAuth2Handler::Reply QNGoogleDriveHandler::fileAnswer(const QString &folderPath, QNDocumentCallback completed,
                                                       const QString &unusable) {
    auto me = self();
    return [me, folderPath, completed, unusable](NRHTTPRequest *r, VNErrorPtr e, bool c) {
        if (e || c) {
            completed(nullptr, e, c);
            return;
        }
        auto result = documentFromFile(JSONValue(r->responseData()), folderPath);
        completed(result, result ? nullptr : me->makeError(unusable), false);
    };
}

// --- Sign-in --------------------------------------------------------------------------

std::shared_ptr<QNAuthWindowController> QNGoogleDriveHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    return openLoginSheet(std::move(completed), loginCaption(), authorizationURL());
}

void QNGoogleDriveHandler::processOAuthLogin(const QString &callbackUrl) {
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
        completed(false, makeError(QStringLiteral("Google sent no authorization code.")), false);
        return;
    }
    auto me = self();
    exchange({{QStringLiteral("code"), code},
              {QStringLiteral("client_id"), kClientId},
              {QStringLiteral("client_secret"), kClientSecret},
              {QStringLiteral("redirect_uri"), QNLoginSheetProvider::loopbackCallbackUrl()},
              {QStringLiteral("grant_type"), QStringLiteral("authorization_code")}},
             [me, completed](VNErrorPtr error, bool cancelled) {
                 const auto config = me->driveConfig();
                 if (error || cancelled || !config || config->password().isEmpty()) {
                     completed(false, error ? error : me->makeError(QStringLiteral("Google sent no refresh token.")),
                               cancelled);
                     return;
                 }
                 // The account's name for the drive list; the sign-in stands without it.
                 me->send({QStringLiteral("GET"), api(QStringLiteral("/drive/v3/about"),
                                                      {{QStringLiteral("fields"), QStringLiteral("user")}})},
                          [me, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
                              if (!e && !c && r) {
                                  const DXJsonValue user = JSONValue(r->responseData())[QStringLiteral("user")];
                                  if (auto config = me->driveConfig()) {
                                      config->setUsername(user[QStringLiteral("emailAddress")].toString());
                                      config->setUserId(user[QStringLiteral("permissionId")].toString());
                                  }
                              }
                              completed(true, nullptr, false);
                          });
             });
}

void QNGoogleDriveHandler::login(QNLoginCallback completed) {
    auto me = self();
    refreshAccessToken([me, completed](VNErrorPtr error, bool cancelled) {
        if (!error && !cancelled)
            if (auto config = me->driveConfig())
                config->setDescription(loginCaption());
        completed(!error && !cancelled, error, cancelled);
    });
}

// --- Listing --------------------------------------------------------------------------

void QNGoogleDriveHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    const QString folderPath = withoutTrailingSlashes(folder ? folder->path() : QStringLiteral("/"));
    auto me = self();
    resolveId(folder, [me, folder, folderPath, searchKeyword, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed({}, searchKeyword, error, cancelled);
            return;
        }
        QString query = QStringLiteral("%1 in parents and trashed = false").arg(quoted(id));
        if (!searchKeyword.isEmpty())
            query += QStringLiteral(" and name contains %1").arg(quoted(searchKeyword));
        me->listAll(query, [me, folder, folderPath, searchKeyword, completed](QList<DXJsonValue> files, VNErrorPtr e, bool c) {
            if (e || c) {
                completed({}, searchKeyword, e, c);
                return;
            }
            QNDocumentList documents;
            int leftOut = 0;
            for (const DXJsonValue &file : files) {
                if (!keepListed(documents, documentFromFile(file, folderPath), QString(), me->className(), folderPath))
                    ++leftOut;
            }
            if (folder)
                folder->setLeftOutCount(leftOut);
            completed(documents, searchKeyword, nullptr, false);
        });
    });
}

// --- Transfers ---------------------------------------------------------------------------

void QNGoogleDriveHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                    QNDocumentCallback completed) {
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || destination.isEmpty()) {
        completed(nullptr, makeError(QStringLiteral("No file to download or no destination.")), false);
        return;
    }
    const qint64 expected = document->size();
    auto me = self();
    resolveId(document, [me, destination, progress, expected, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        // The reply goes beside the destination and replaces it only when complete.
        const QString received = partFileFor(destination);
        Call call{QStringLiteral("GET"), api(QStringLiteral("/drive/v3/files/") + OA1URLRequestParameter::encode(id),
                                             {{QStringLiteral("alt"), QStringLiteral("media")}})};
        call.downloadFile = received;
        call.progress = fractionProgress(progress, expected);
        auto done = downloadAnswer(received, destination, me->className(), completed);
        me->send(call, [done](NRHTTPRequest *, VNErrorPtr e, bool c) { done(e, c); });
    });
}

void QNGoogleDriveHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                  QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    if (source.isEmpty() || !destPath) {
        completed(nullptr, makeError(QStringLiteral("No file to upload or no destination folder.")), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath->path());
    const QString name = QFileInfo(source).fileName();
    auto me = self();
    resolveId(destPath, [me, source, name, folderPath, progress, completed](QString folderId, VNErrorPtr error,
                                                                            bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        // Names need not be unique here: a file of the same name in the folder
        // gets the new bytes (as on any other drive) rather than a twin.
        me->listAll(QStringLiteral("%1 in parents and name = %2 and mimeType != %3 and trashed = false")
                        .arg(quoted(folderId), quoted(name), quoted(kFolderType)),
                    [me, source, name, folderId, folderPath, progress, completed](QList<DXJsonValue> same, VNErrorPtr e,
                                                                                 bool c) {
                        if (e || c) {
                            completed(nullptr, e, c);
                            return;
                        }
                        const QString existing = same.isEmpty() ? QString() : same.first()[QStringLiteral("id")].toString();
                        me->startUpload(source, name, folderId, existing, folderPath, progress, completed);
                    });
    });
}

void QNGoogleDriveHandler::startUpload(const QString &source, const QString &name, const QString &folderId,
                                       const QString &existingId, const QString &folderPath,
                                       QNProgressCallback progress, QNDocumentCallback completed) {
    // A resumable upload: the file's record first (a new one, or the
    // existing file's), then its bytes streamed to the session's address.
    Call start;
    const QList<std::pair<QString, QString>> query{{QStringLiteral("uploadType"), QStringLiteral("resumable")},
                                                   {QStringLiteral("fields"), kFileFields}};
    start.contentType = QStringLiteral("application/json; charset=UTF-8");
    if (existingId.isEmpty()) {
        DXJsonArray parents;
        parents.append(folderId);
        start.method = QStringLiteral("POST");
        start.url = api(QStringLiteral("/upload/drive/v3/files"), query);
        start.body = JSONRepresentationData(DXJsonObject{{QStringLiteral("name"), name},
                                                         {QStringLiteral("parents"), parents}});
    } else {
        start.method = QStringLiteral("PATCH");
        start.url = api(QStringLiteral("/upload/drive/v3/files/") + OA1URLRequestParameter::encode(existingId), query);
        start.body = "{}";
    }
    auto me = self();
    send(start, [me, source, folderPath, progress, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
        const QString session = r ? r->responseHeader(QStringLiteral("Location")) : QString();
        if (e || c || session.isEmpty()) {
            completed(nullptr, e ? e : (c ? nullptr : me->makeError(QStringLiteral("Google Drive sent no upload address."))), c);
            return;
        }
        Call put{QStringLiteral("PUT"), QUrl::fromEncoded(session.toUtf8())};
        put.bodyFile = source;
        put.contentType = QStringLiteral("application/octet-stream");
        put.progress = fractionProgress(progress);
        me->send(put, me->fileAnswer(folderPath, completed, QStringLiteral("Google Drive sent an unusable file.")));
    });
}

// --- Changes inside the drive ------------------------------------------------------------

void QNGoogleDriveHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    if (!isUsableName(name)) {
        completed(nullptr, makeError(QStringLiteral("\"%1\" cannot be a folder name.").arg(name)), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(destPath ? destPath->path() : QStringLiteral("/"));
    auto me = self();
    resolveId(destPath, [me, name, folderPath, completed](QString parentId, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        DXJsonArray parents;
        parents.append(parentId);
        Call call{QStringLiteral("POST"), api(QStringLiteral("/drive/v3/files"), {{QStringLiteral("fields"), kFileFields}})};
        call.contentType = QStringLiteral("application/json; charset=UTF-8");
        call.body = JSONRepresentationData(DXJsonObject{
            {QStringLiteral("name"), name}, {QStringLiteral("mimeType"), kFolderType}, {QStringLiteral("parents"), parents}});
        me->send(call, me->fileAnswer(folderPath, completed, QStringLiteral("Google Drive sent an unusable folder.")));
    });
}

void QNGoogleDriveHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document || withoutTrailingSlashes(document->path()) == QLatin1String("/")) {
        completed(nullptr, makeError(QStringLiteral("The whole drive cannot be removed.")), false);
        return;
    }
    auto me = self();
    resolveId(document, [me, document, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        me->send({QStringLiteral("DELETE"), api(QStringLiteral("/drive/v3/files/") + OA1URLRequestParameter::encode(id))},
                 [document, completed](NRHTTPRequest *, VNErrorPtr e, bool c) {
                     completed(e || c ? nullptr : document, e, c);
                 });
    });
}

void QNGoogleDriveHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString newName = name ? lastComponent(name->path()) : QString();
    if (!document || !isUsableName(newName)) {
        completed(nullptr, makeError(QStringLiteral("No usable new name.")), false);
        return;
    }
    const QString folderPath = parentPath(name->path());
    auto me = self();
    resolveId(document, [me, newName, folderPath, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        Call call{QStringLiteral("PATCH"), api(QStringLiteral("/drive/v3/files/") + OA1URLRequestParameter::encode(id),
                                               {{QStringLiteral("fields"), kFileFields}})};
        call.contentType = QStringLiteral("application/json; charset=UTF-8");
        call.body = JSONRepresentationData(DXJsonObject{{QStringLiteral("name"), newName}});
        call.runsToItsAnswer = true;
        me->send(call, me->fileAnswer(folderPath, completed, QStringLiteral("Google Drive sent an unusable name.")));
    });
}

void QNGoogleDriveHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    if (!document || !name) {
        completed(nullptr, makeError(QStringLiteral("No document or no destination folder.")), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(name->path());
    const QString fileName = lastComponent(document->path());
    auto me = self();
    resolveId(document, [me, name, folderPath, fileName, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        me->resolveId(name, [me, id, folderPath, fileName, completed](QString folderId, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            DXJsonArray parents;
            parents.append(folderId);
            Call call{QStringLiteral("POST"),
                      api(QStringLiteral("/drive/v3/files/") + OA1URLRequestParameter::encode(id) + QStringLiteral("/copy"),
                          {{QStringLiteral("fields"), kFileFields}})};
            call.contentType = QStringLiteral("application/json; charset=UTF-8");
            call.body = JSONRepresentationData(
                DXJsonObject{{QStringLiteral("name"), fileName}, {QStringLiteral("parents"), parents}});
            me->send(call, me->fileAnswer(folderPath, completed, QStringLiteral("Google Drive sent an unusable copy.")));
        });
    });
}

void QNGoogleDriveHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    if (!document || !name) {
        completed(nullptr, makeError(QStringLiteral("No document or no destination folder.")), false);
        return;
    }
    const QString folderPath = withoutTrailingSlashes(name->path());
    auto me = self();
    resolveId(document, [me, name, folderPath, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        me->resolveId(name, [me, id, folderPath, completed](QString folderId, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            const QString fileUrl = QStringLiteral("/drive/v3/files/") + OA1URLRequestParameter::encode(id);
            // The item's present parents, then one change that swaps them for the destination.
            me->send({QStringLiteral("GET"), api(fileUrl, {{QStringLiteral("fields"), QStringLiteral("parents")}})},
                     [me, fileUrl, folderId, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e2, bool c2) {
                         if (e2 || c2) {
                             completed(nullptr, e2, c2);
                             return;
                         }
                         QStringList old;
                         const DXJsonValue record = JSONValue(r->responseData());
                         for (const DXJsonValue &p : record[QStringLiteral("parents")].toArray())
                             old << p.toString();
                         Call call{QStringLiteral("PATCH"),
                                   api(fileUrl, {{QStringLiteral("addParents"), folderId},
                                                 {QStringLiteral("removeParents"), old.join(QLatin1Char(','))},
                                                 {QStringLiteral("fields"), kFileFields}})};
                         call.contentType = QStringLiteral("application/json; charset=UTF-8");
                         call.body = "{}";
                         me->send(call, me->fileAnswer(folderPath, completed,
                                                       QStringLiteral("Google Drive sent an unusable name.")));
                     });
        });
    });
}

void QNGoogleDriveHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document) {
        completed(nullptr, makeError(QStringLiteral("No document to share.")), false);
        return;
    }
    auto me = self();
    resolveId(document, [me, document, completed](QString id, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            completed(nullptr, error, cancelled);
            return;
        }
        const QString fileUrl = QStringLiteral("/drive/v3/files/") + OA1URLRequestParameter::encode(id);
        // Anyone with the link may read it; then the link itself.
        Call share{QStringLiteral("POST"), api(fileUrl + QStringLiteral("/permissions"))};
        share.contentType = QStringLiteral("application/json; charset=UTF-8");
        share.body = JSONRepresentationData(
            DXJsonObject{{QStringLiteral("role"), QStringLiteral("reader")}, {QStringLiteral("type"), QStringLiteral("anyone")}});
        me->send(share, [me, fileUrl, document, completed](NRHTTPRequest *, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            me->send({QStringLiteral("GET"), api(fileUrl, {{QStringLiteral("fields"), QStringLiteral("webViewLink")}})},
                     [me, document, completed](NRHTTPRequest *r, VNErrorPtr e2, bool c2) {
                         if (e2 || c2) {
                             completed(nullptr, e2, c2);
                             return;
                         }
                         const QString link = JSONValue(r->responseData())[QStringLiteral("webViewLink")].toString();
                         if (link.isEmpty()) {
                             completed(nullptr, me->makeError(QStringLiteral("Google Drive sent no link.")), false);
                             return;
                         }
                         document->setLink(link);
                         completed(document, nullptr, false);
                     });
        });
    });
}

void QNGoogleDriveHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    auto me = self();
    send({QStringLiteral("GET"), api(QStringLiteral("/drive/v3/about"), {{QStringLiteral("fields"), QStringLiteral("storageQuota")}})},
         [me, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
             if (e || c) {
                 completed(e, c);
                 return;
             }
             const DXJsonValue quota = JSONValue(r->responseData())[QStringLiteral("storageQuota")];
             if (!quota.isObject()) {
                 completed(me->makeError(QStringLiteral("Google Drive sent no quota.")), false);
                 return;
             }
             if (auto config = me->driveConfig()) {
                 const qint64 used = quota[QStringLiteral("usage")].toInt64();
                 const qint64 total = quota[QStringLiteral("limit")].toInt64();
                 config->setUsedBytes(used);
                 config->setSharedBytes(0);
                 config->setTotalBytes(total);
                 config->setAvailableBytes(std::max<qint64>(0, total - used));
             }
             completed(nullptr, false);
         });
}
