#include "Cloud/QNBitcasaHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNDrivePaths.h"
#include "Cloud/QNSerialCallOperation.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRFormDataRequest.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QFileInfo>
#include <QStringList>

using namespace QNDrivePaths;

namespace {

const QString kClientId = QStringLiteral("varnello-bitcasa-client");
const QString kClientSecret = QStringLiteral("varnello-bitcasa-secret");
const QString kCallbackPath = QStringLiteral("/bitcasa");
const QString kAccount = QStringLiteral("bitcasa.account");
const QString kApi = QStringLiteral("bitcasa.api");
const QString kFiles = QStringLiteral("bitcasa.files");

// The full path with each id percent-encoded; "/" for the top.
QString encodedPath(const QString &fullPath) {
    QStringList parts;
    for (const QString &part : fullPath.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        parts << OA1URLRequestParameter::encode(part);
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QString kindPath(bool isFolder) {
    return isFolder ? QStringLiteral("/v1/folders") : QStringLiteral("/v1/files");
}

}  // namespace

QNBitcasaHandler::QNBitcasaHandler(QNDriveConfigPtr driveConfig)
    : QNOAuth2Handler(std::move(driveConfig)),
      m_operationQueue(std::make_unique<VNOperationQueue>(QStringLiteral("QNBitcasaHandler"))) {
    m_operationQueue->setMaxConcurrentOperationCount(1);
}

QNBitcasaHandler::~QNBitcasaHandler() = default;

QString QNBitcasaHandler::className() const {
    return QStringLiteral("QNBitcasaHandler");
}

QString QNBitcasaHandler::serviceName() const {
    return QStringLiteral("Bitcasa");
}

QString QNBitcasaHandler::loginCaption() {
    return QStringLiteral("Show documents on this Bitcasa account");
}

void QNBitcasaHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::Bitcasa,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNBitcasaHandler>(config);
                                             });
}

std::shared_ptr<QNBitcasaHandler> QNBitcasaHandler::self() {
    return std::static_pointer_cast<QNBitcasaHandler>(shared_from_this());
}

QUrl QNBitcasaHandler::tokenURL() const {
    return api(kApi, QStringLiteral("/v1/oauth2/access_token"));
}

QStringList QNBitcasaHandler::serviceHostKeys() const { return {QStringLiteral("bitcasa.api"), QStringLiteral("bitcasa.files")}; }

QString QNBitcasaHandler::clientId() const {
    return kClientId;
}

QString QNBitcasaHandler::clientSecret() const {
    return kClientSecret;
}

QUrl QNBitcasaHandler::api(const QString &key, const QString &path, const QList<std::pair<QString, QString>> &query) {
    QString text = QNServiceHosts::url(key) + path;
    if (!query.isEmpty())
        text += QLatin1Char('?') + formBody(query);
    return QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
}

QUrl QNBitcasaHandler::authorizationURL() {
    return api(kAccount, QStringLiteral("/v1/oauth2/authenticate"),
               {{QStringLiteral("client_id"), kClientId},
                {QStringLiteral("redirect"), QNLoginSheetProvider::loopbackCallbackUrl(kCallbackPath)}});
}

template <typename Callback, typename Body>
void QNBitcasaHandler::serially(Callback completed, Body body) {
    m_operationQueue->addOperation(
        std::make_shared<QNSerialCallOperation>([completed, body](std::function<void()> done) {
            body(Callback([done, completed](auto... answer) {
                done();  // the next call may go
                if (completed)
                    completed(answer...);
            }));
        }));
}

QNDocumentPtr QNBitcasaHandler::documentFromItem(const DXJsonValue &item, const QString &folderPath) {
    const QString name = item[QStringLiteral("name")].toString();
    const QString fullPath = item[QStringLiteral("path")].toString();
    if (!isUsableName(name) || !fullPath.startsWith(QLatin1Char('/')) || fullPath.size() < 2)
        return nullptr;
    auto document = QNDocument::create();
    const bool isFolder = item[QStringLiteral("category")].toString() == QLatin1String("folders");
    document->setDisplayName(name);
    document->setPath(joinPath(folderPath, name));
    document->setFullPath(fullPath);
    document->setIsDirectory(isFolder);
    if (!isFolder)
        document->setSize(item[QStringLiteral("size")].toInt64());
    if (item[QStringLiteral("mtime")].isNumber())
        document->setDate(QDateTime::fromMSecsSinceEpoch(item[QStringLiteral("mtime")].toInt64(), Qt::UTC));
    return document;
}

VNErrorPtr QNBitcasaHandler::replyError(int status, const QByteArray &body) const {
    // Its tokens do not run out: one refused twice means signing in again.
    if (status == 401)
        return makeError(QStringLiteral("Bitcasa refused this drive's sign-in. Add the drive again."));
    return QNOAuth2Handler::replyError(status, body);
}

VNErrorPtr QNBitcasaHandler::itemsOf(const QByteArray &body, QList<DXJsonValue> *items) const {
    const DXJsonValue reply = body.trimmed().startsWith('{') ? JSONValue(body) : DXJsonValue();
    const DXJsonValue &error = reply[QStringLiteral("error")];
    if (error.isObject() || error.isString()) {
        const QString message =
            error.isString() ? error.toString() : error[QStringLiteral("message")].toString();
        return makeError(message.isEmpty() ? QStringLiteral("Bitcasa refused the call.") : message);
    }
    const DXJsonValue &list = reply[QStringLiteral("result")][QStringLiteral("items")];
    // A reply without its items is an error, never an empty folder.
    if (!list.isArray())
        return makeError(QStringLiteral("Bitcasa sent an unreadable reply."));
    for (const DXJsonValue &item : list.toArray())
        items->append(item);
    return nullptr;
}

// --- Sign-in ------------------------------------------------------------------------------

std::shared_ptr<QNAuthWindowController> QNBitcasaHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    return openLoginSheet(std::move(completed), loginCaption(), authorizationURL());
}

void QNBitcasaHandler::processOAuthLogin(const QString &callbackUrl) {
    QNLoginCallback completed = takeOAuthLoginCompleted();
    if (!completed)
        return;
    if (callbackUrl.isNull()) {
        completed(false, nullptr, false);
        return;
    }
    const auto query =
        OA1URLRequestParameter::parameterDictionaryFromString(QUrl(callbackUrl).query(QUrl::FullyEncoded));
    QString code = query.value(QStringLiteral("authorization_code"));
    if (code.isEmpty())
        code = query.value(QStringLiteral("code"));
    if (code.isEmpty()) {
        // Refused on the provider's page: no error to show.
        if (query.contains(QStringLiteral("error")))
            completed(false, nullptr, false);
        else
            completed(false, makeError(QStringLiteral("Bitcasa sent no authorization code.")), false);
        return;
    }
    exchange({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
              {QStringLiteral("code"), code},
              {QStringLiteral("client_id"), kClientId},
              {QStringLiteral("client_secret"), kClientSecret}},
             [completed](VNErrorPtr error, bool cancelled) { completed(!error && !cancelled, error, cancelled); });
}

// --- Items ------------------------------------------------------------------------------

void QNBitcasaHandler::listFolder(const QString &fullPath, ItemsCallback done) {
    auto me = self();
    Call call{QStringLiteral("GET"), api(kApi, QStringLiteral("/v1/folders") + encodedPath(fullPath))};
    // A folder comes in one reply: it is held to the bound of a listing.
    call.make = [](const QUrl &url) {
        auto request = NRHTTPRequest::requestWithURL(url);
        request->setMaximumResponseDataSize(quint64(maximumListingBytes));
        return request;
    };
    send(call,
         [me, done](NRHTTPRequest *r, VNErrorPtr error, bool cancelled) {
             QList<DXJsonValue> items;
             if (!error && !cancelled)
                 error = me->itemsOf(r->responseData(), &items);
             if (error || cancelled)
                 done({}, error, cancelled);
             else
                 done(items, nullptr, false);
         });
}

void QNBitcasaHandler::resolve(const QNDocumentPtr &document, ItemCallback done) {
    if (document && !document->fullPath().isEmpty()) {
        done({document->fullPath(), document->isDirectory()}, nullptr, false);
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
        if (!item.isFolder) {
            done({}, me->makeError(QStringLiteral("%1 was not found.").arg(path)), false);
            return;
        }
        me->listFolder(item.fullPath, [me, names, done, step = weakStep.lock(), index, path](QList<DXJsonValue> items,
                                                                                            VNErrorPtr e, bool c) {
            if (e || c) {
                done({}, e, c);
                return;
            }
            for (const DXJsonValue &entry : items) {
                auto found = documentFromItem(entry, QStringLiteral("/"));
                if (found && found->displayName() == names.at(index)) {
                    (*step)({found->fullPath(), found->isDirectory()}, index + 1);
                    return;
                }
            }
            done({}, me->makeError(QStringLiteral("%1 was not found.").arg(path)), false);
        });
    };
    (*step)({QStringLiteral("/"), true}, 0);
}

void QNBitcasaHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, folder, searchKeyword](QNListCallback completed) {
        const QString folderPath = withoutTrailingSlashes(folder ? folder->path() : QStringLiteral("/"));
        me->resolve(folder, [me, folder, folderPath, searchKeyword, completed](Item item, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                completed({}, searchKeyword, error, cancelled);
                return;
            }
            me->listFolder(item.fullPath, [me, folder, folderPath, searchKeyword, completed](QList<DXJsonValue> items,
                                                                                    VNErrorPtr e, bool c) {
                if (e || c) {
                    completed({}, searchKeyword, e, c);
                    return;
                }
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
    });
}

void QNBitcasaHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                QNDocumentCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, document, destPath, progress](QNDocumentCallback completed) {
        const QString destination = destPath ? destPath->path() : QString();
        if (!document || destination.isEmpty()) {
            completed(nullptr, me->makeError(QStringLiteral("No file to download or no destination.")), false);
            return;
        }
        const qint64 expected = document->size();
        QString name = lastComponent(document->path());
        if (name.isEmpty())
            name = document->displayName();
        me->resolve(document, [me, name, destination, progress, expected, completed](Item item, VNErrorPtr error,
                                                                                    bool cancelled) {
            if (error || cancelled) {
                completed(nullptr, error, cancelled);
                return;
            }
            const QString received = partFileFor(destination);
            Call call{QStringLiteral("GET"),
                      api(kFiles, QStringLiteral("/v1/files/") + OA1URLRequestParameter::encode(name),
                          {{QStringLiteral("path"), item.fullPath}})};
            call.downloadFile = received;
            call.progress = fractionProgress(progress, expected);
            auto done = downloadAnswer(received, destination, me->className(), completed);
            me->send(call, [done](NRHTTPRequest *, VNErrorPtr e, bool c) { done(e, c); });
        });
    });
}

void QNBitcasaHandler::itemCall(const Call &call, const QString &folderPath, QNDocumentCallback completed) {
    auto me = self();
    send(call,
         [me, folderPath, completed](NRHTTPRequest *r, VNErrorPtr e, bool c) {
             QList<DXJsonValue> items;
             if (!e && !c)
                 e = me->itemsOf(r->responseData(), &items);
             if (e || c) {
                 completed(nullptr, e, c);
                 return;
             }
             auto result = items.isEmpty() ? nullptr : documentFromItem(items.first(), folderPath);
             completed(result, result ? nullptr : me->makeError(QStringLiteral("Bitcasa sent an unusable item.")),
                       false);
         });
}

void QNBitcasaHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                              QNDocumentCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, document, destPath, progress](QNDocumentCallback completed) {
        const QString source = document ? document->path() : QString();
        if (source.isEmpty() || !destPath) {
            completed(nullptr, me->makeError(QStringLiteral("No file to upload or no destination folder.")), false);
            return;
        }
        const QString folderPath = withoutTrailingSlashes(destPath->path());
        const QString name = QFileInfo(source).fileName();
        me->resolve(destPath, [me, source, name, folderPath, progress, completed](Item folder, VNErrorPtr error,
                                                                                 bool cancelled) {
            if (error || cancelled) {
                completed(nullptr, error, cancelled);
                return;
            }
            // A file of that name already there is replaced, as on the other drives.
            Call call{QStringLiteral("POST"), api(kFiles, QStringLiteral("/v1/files") + encodedPath(folder.fullPath),
                                                  {{QStringLiteral("exists"), QStringLiteral("overwrite")}})};
            call.make = [source, name](const QUrl &url) {
                auto form = NRFormDataRequest::requestWithURL(url);
                form->addFile(source, name, QStringLiteral("application/octet-stream"), QStringLiteral("file"));
                form->setShouldStreamPostDataFromDisk(true);
                return std::static_pointer_cast<NRHTTPRequest>(form);
            };
            call.progress = fractionProgress(progress);
            me->itemCall(call, folderPath, completed);
        });
    });
}

void QNBitcasaHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, name, destPath](QNDocumentCallback completed) {
        if (!isUsableName(name)) {
            completed(nullptr, me->makeError(QStringLiteral("\"%1\" cannot be a folder name.").arg(name)), false);
            return;
        }
        const QString folderPath = withoutTrailingSlashes(destPath ? destPath->path() : QStringLiteral("/"));
        me->resolve(destPath, [me, name, folderPath, completed](Item parent, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                completed(nullptr, error, cancelled);
                return;
            }
            Call call{QStringLiteral("POST"), api(kApi, QStringLiteral("/v1/folders") + encodedPath(parent.fullPath),
                                                  {{QStringLiteral("operation"), QStringLiteral("create")}})};
            call.contentType = QStringLiteral("application/x-www-form-urlencoded");
            call.body = formBody({{QStringLiteral("name"), name}, {QStringLiteral("exists"), QStringLiteral("fail")}})
                            .toUtf8();
            me->itemCall(call, folderPath, completed);
        });
    });
}

void QNBitcasaHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, document](QNDocumentCallback completed) {
        if (!document || withoutTrailingSlashes(document->path()) == QLatin1String("/")) {
            completed(nullptr, me->makeError(QStringLiteral("The whole drive cannot be removed.")), false);
            return;
        }
        me->resolve(document, [me, document, completed](Item item, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                completed(nullptr, error, cancelled);
                return;
            }
            me->send({QStringLiteral("DELETE"),
                      api(kApi, kindPath(item.isFolder), {{QStringLiteral("path"), item.fullPath}})},
                     [document, completed](NRHTTPRequest *, VNErrorPtr e, bool c) {
                         completed(e || c ? nullptr : document, e, c);
                     });
        });
    });
}

void QNBitcasaHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, document, name](QNDocumentCallback completed) {
        const QString newName = name ? lastComponent(name->path()) : QString();
        if (!document || !isUsableName(newName)) {
            completed(nullptr, me->makeError(QStringLiteral("No usable new name.")), false);
            return;
        }
        const QString folderPath = parentPath(name->path());
        me->resolve(document, [me, newName, folderPath, completed](Item item, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                completed(nullptr, error, cancelled);
                return;
            }
            Call call{QStringLiteral("POST"), api(kApi, kindPath(item.isFolder) + encodedPath(item.fullPath),
                                                  {{QStringLiteral("operation"), QStringLiteral("rename")}})};
            call.contentType = QStringLiteral("application/x-www-form-urlencoded");
            call.body =
                formBody({{QStringLiteral("name"), newName}, {QStringLiteral("exists"), QStringLiteral("fail")}})
                    .toUtf8();
            call.runsToItsAnswer = true;
            me->itemCall(call, folderPath, completed);
        });
    });
}

void QNBitcasaHandler::transferInside(const QString &operation, QNDocumentPtr document, QNDocumentPtr folder,
                                      QNDocumentCallback completed) {
    auto me = self();
    serially(std::move(completed), [me, operation, document, folder](QNDocumentCallback completed) {
        if (!document || !folder) {
            completed(nullptr, me->makeError(QStringLiteral("No document or no destination folder.")), false);
            return;
        }
        const QString folderPath = withoutTrailingSlashes(folder->path());
        me->resolve(folder, [me, operation, document, folderPath, completed](Item destination, VNErrorPtr e, bool c) {
            if (e || c) {
                completed(nullptr, e, c);
                return;
            }
            me->resolve(document, [me, operation, destination, folderPath, completed](Item item, VNErrorPtr e, bool c) {
                if (e || c) {
                    completed(nullptr, e, c);
                    return;
                }
                Call call{QStringLiteral("POST"), api(kApi, kindPath(item.isFolder) + encodedPath(item.fullPath),
                                                      {{QStringLiteral("operation"), operation}})};
                call.contentType = QStringLiteral("application/x-www-form-urlencoded");
                call.body = formBody({{QStringLiteral("to"), destination.fullPath},
                                      {QStringLiteral("exists"), QStringLiteral("fail")}})
                                .toUtf8();
                me->itemCall(call, folderPath, completed);
            });
        });
    });
}

void QNBitcasaHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(QStringLiteral("copy"), std::move(document), std::move(name), std::move(completed));
}

void QNBitcasaHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(QStringLiteral("move"), std::move(document), std::move(name), std::move(completed));
}
