#include "Cloud/QNSugarSyncHandler.h"

#include "Cloud/QNServiceEndpoints.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNUtils.h"
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <filesystem>
#include <limits>

namespace {

// The application's registration with the service.
const QString kApplication = QStringLiteral("/sc/5820461/749_318604275");
const QString kAccessKeyId = QStringLiteral("QkVmYzA1OTg3NjEwMjQ5ODcxNjQ");
const QString kPrivateAccessKey = QStringLiteral("ZWQxNGE3YjI5OGMwZDNhNjFmYzU4ZTI3YjA5NGQxYzk");

QString apiUrl(const QString &path) {
    return QNServiceEndpoints::base(QNServiceEndpoints::sugarSyncAPIHost()) + path;
}

// Whether the address is on the service's own origin (scheme, host and
// port), the only one its access token may go to.
bool isServiceURL(const QUrl &url) {
    const QUrl api(apiUrl(QString()));
    return url.scheme().compare(api.scheme(), Qt::CaseInsensitive) == 0 &&
           url.host().compare(api.host(), Qt::CaseInsensitive) == 0 && url.port(443) == api.port(443);
}

QString lastComponent(const QString &path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString joinPath(const QString &folder, const QString &name) {
    return (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) + name;
}

QString parentPath(const QString &path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString shownName(const QNDocumentPtr &document) {
    return document->displayName().isEmpty() ? lastComponent(document->path()) : document->displayName();
}

// A name from the service that could not stay inside its folder.
bool isUnsafeName(const QString &name) {
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
           name.contains(QLatin1Char('/')) || name.contains(QChar(0));
}

// The text of the last child element of that name (a repeated child gives
// its last text), as the service wrote it: names keep their blanks.
QString childText(const XTNodePtr &node, const QString &name) {
    VNErrorPtr error;
    const XTNodeList found = node->nodesForXPath(name, &error);
    return found.isEmpty() ? QString() : found.last()->stringValue();
}

// A reference, number or date: blanks around it are layout, not content.
QString childValue(const XTNodePtr &node, const QString &name) {
    return childText(node, name).trimmed();
}

// The quota's counts are read from the first element of their name.
QString firstChildValue(const XTNodePtr &node, const QString &name) {
    VNErrorPtr error;
    const XTNodeList found = node->nodesForXPath(name, &error);
    return found.isEmpty() ? QString() : found.first()->stringValue().trimmed();
}

// A document whose root is the expected element; null and *error otherwise:
// the parser's own error for a reply that is no XML.
XTDocumentPtr parseReply(const QByteArray &reply, const QString &root, VNErrorPtr *error) {
    VNErrorPtr parseError;
    XTDocumentPtr document = XTDocument::initWithData(reply, &parseError);
    if (document && document->rootElement() && document->rootElement()->name() == root)
        return document;
    *error = !document && parseError ? parseError
                                     : QNSugarSyncHandler::handlerError(
                                           QStringLiteral("The service's reply is not the expected \"%1\" document.").arg(root));
    return nullptr;
}

// Reply headers for the log, with the tokens they carry left out.
QString loggableHeaders(const NRHTTPRequest &request) {
    QStringList lines;
    const auto headers = request.responseHeaders();
    for (auto it = headers.begin(); it != headers.end(); ++it) {
        const bool secret = it.key().compare(QLatin1String("Location"), Qt::CaseInsensitive) == 0 ||
                            it.key().compare(QLatin1String("Set-Cookie"), Qt::CaseInsensitive) == 0;
        lines << it.key() + QStringLiteral(": ") + (secret ? QStringLiteral("(hidden)") : it.value());
    }
    return lines.join(QStringLiteral("; "));
}

VNErrorPtr statusError(const NRHTTPRequest &request) {
    const QString statusLine = request.responseStatusMessage();
    QString status = statusLine.section(QLatin1Char(' '), 1).trimmed();
    if (status.isEmpty())
        status = QString::number(request.responseStatusCode());
    const QString description = QStringLiteral("SugarSync answered %1 to %2 %3.")
                                    .arg(status, request.requestMethod(), request.url().path(QUrl::FullyDecoded));
    return std::make_shared<VNError>(QNSugarSyncHandler::errorDomain(), 42,
                                     QVariantMap{{QStringLiteral("error"), statusLine},
                                                 {VNError::localizedDescriptionKey(), description}});
}

}  // namespace

QNSugarSyncHandler::QNSugarSyncHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

QNSugarSyncHandler::~QNSugarSyncHandler() = default;

QString QNSugarSyncHandler::className() const {
    return QStringLiteral("QNSugarSyncHandler");
}

QString QNSugarSyncHandler::errorDomain() {
    return QStringLiteral("QNSugarSyncHandler");
}

VNErrorPtr QNSugarSyncHandler::handlerError(const QString &message) {
    return std::make_shared<VNError>(errorDomain(), 42,
                                     QVariantMap{{QStringLiteral("error"), message},
                                                 {VNError::localizedDescriptionKey(), message}});
}

void QNSugarSyncHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::SugarSync,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNSugarSyncHandler>(config);
                                             });
}

// --- Bodies and replies ------------------------------------------------------------

QByteArray QNSugarSyncHandler::xmlBody(const QString &root, const QList<std::pair<QString, QString>> &children,
                                       const QString &rootAttributes) {
    QString text = QStringLiteral("<?xml version=\"1.0\"?>\n<") + root + rootAttributes + QLatin1Char('>');
    for (const auto &[name, value] : children)
        text += QLatin1Char('<') + name + QLatin1Char('>') + value.toHtmlEscaped() + QStringLiteral("</") + name +
                QLatin1Char('>');
    text += QStringLiteral("</") + root + QStringLiteral(">\n");
    return text.toUtf8();
}

QByteArray QNSugarSyncHandler::appAuthorizationBody(const QString &user, const QString &password) {
    return xmlBody(QStringLiteral("appAuthorization"), {{QStringLiteral("username"), user},
                                                        {QStringLiteral("password"), password},
                                                        {QStringLiteral("application"), kApplication},
                                                        {QStringLiteral("accessKeyId"), kAccessKeyId},
                                                        {QStringLiteral("privateAccessKey"), kPrivateAccessKey}});
}

QByteArray QNSugarSyncHandler::tokenRequestBody(const QString &refreshToken) {
    return xmlBody(QStringLiteral("tokenAuthRequest"), {{QStringLiteral("accessKeyId"), kAccessKeyId},
                                                        {QStringLiteral("privateAccessKey"), kPrivateAccessKey},
                                                        {QStringLiteral("refreshToken"), refreshToken}});
}

std::optional<QNDocumentList> QNSugarSyncHandler::parseContents(const QByteArray &reply, const QString &folderPath,
                                                                bool *more, qint64 *end, VNErrorPtr *error,
                                                                int *leftOut) {
    const XTDocumentPtr document = parseReply(reply, QStringLiteral("collectionContents"), error);
    if (!document)
        return std::nullopt;
    const XTElementPtr root = document->rootElement();
    VNErrorPtr xpathError;
    const XTNodeList hasMore = root->nodesForXPath(QStringLiteral("@hasMore"), &xpathError);
    const XTNodeList last = root->nodesForXPath(QStringLiteral("@end"), &xpathError);
    *more = !hasMore.isEmpty() && hasMore.first()->stringValue() == QLatin1String("true");
    bool readable = false;
    *end = last.isEmpty() ? -1 : last.first()->stringValue().trimmed().toLongLong(&readable);
    if (!readable)
        *end = -1;
    QNDocumentList documents;
    for (const bool folders : {true, false}) {
        const XTNodeList nodes =
            root->nodesForXPath(folders ? QStringLiteral("collection") : QStringLiteral("file"), &xpathError);
        for (const XTNodePtr &node : nodes) {
            const QString name = childText(node, QStringLiteral("displayName"));
            const QString ref = childValue(node, QStringLiteral("ref"));
            if (isUnsafeName(name) || ref.isEmpty()) {
                VNLog::log(QStringLiteral("SugarSync: an entry named \"%1\" in %2 is left out").arg(name, folderPath));
                if (leftOut)
                    ++*leftOut;
                continue;
            }
            auto entry = QNDocument::create();
            entry->setDisplayName(name);
            entry->setPath(joinPath(folderPath.isEmpty() ? QStringLiteral("/") : folderPath, name));
            entry->setId(ref);
            entry->setIsDirectory(folders);
            if (!folders) {
                entry->setSize(childValue(node, QStringLiteral("size")).toLongLong());
                entry->setDate(QNUtils::dateFromString(childValue(node, QStringLiteral("lastModified"))));
            }
            documents.append(entry);
        }
    }
    return documents;
}

// --- The common frame ------------------------------------------------------------------

void QNSugarSyncHandler::cancel() {
    QNCloudInterface::cancel();
    m_canceled = true;
    if (m_currentRequest)
        m_currentRequest->cancel();
}

void QNSugarSyncHandler::setProgress(float fraction) {
    if (auto progress = uploadProgress())
        progress(double(fraction));
}

void QNSugarSyncHandler::send(const NRHTTPRequestPtr &request, const QString &token, Failed failed, Done done) {
    if (m_canceled) {
        m_currentRequest = request;
        failed(nullptr, true);
        return;
    }
    start(request, token, std::move(failed), std::move(done));
}

void QNSugarSyncHandler::start(const NRHTTPRequestPtr &request, const QString &token, Failed failed, Done done) {
    m_currentRequest = request;
    // The resources are addressed by the references the service's replies
    // name; one elsewhere cannot be reached without the token, which stays
    // with the service.
    if (!token.isNull() && !isServiceURL(request->url())) {
        failed(handlerError(QStringLiteral("SugarSync named an address outside its service (%1); nothing was sent there.")
                                .arg(request->url().toDisplayString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery))),
               false);
        return;
    }
    if (!token.isNull())
        request->addRequestHeader(QStringLiteral("Authorization"), token);
    request->setShouldRedirect(false);
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    auto answered = std::make_shared<bool>(false);
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto finish = [self, failed, done, answered, weak]() {
        auto req = weak.lock();
        if (*answered || !req)
            return;
        *answered = true;
        if (req->isCancelled())
            failed(req->error(), true);
        else if (req->error())
            failed(req->error(), false);
        else if (req->responseStatusCode() >= 300 || req->responseStatusCode() == 0)
            failed(statusError(*req), false);
        else
            done(*req);
    };
    request->setCompletionBlock(finish);
    request->setFailedBlock(finish);
    request->startAsynchronous();
}

void QNSugarSyncHandler::login(QNLoginCallback completed) {
    const auto config = driveConfig();
    auto request = NRHTTPRequest::requestWithURL(QUrl(apiUrl(QStringLiteral("/app-authorization"))));
    request->setRequestMethod(QStringLiteral("POST"));
    request->appendPostData(appAuthorizationBody(config ? config->username() : QString(),
                                                 config ? config->password() : QString()));
    m_currentRequest = request;
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    auto answered = std::make_shared<bool>(false);
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto finish = [self, completed, answered, weak]() {
        auto req = weak.lock();
        if (*answered || !req)
            return;
        *answered = true;
        if (req->isCancelled() || (req->error() && req->responseStatusCode() < 400)) {
            completed(false, req->error(), self->m_canceled || req->isCancelled());
            return;
        }
        // The refresh token arrives in Location: the log never shows it,
        // in the headers or in a reply text that repeats it.
        const QString token = req->responseHeader(QStringLiteral("Location"));
        if (!token.isEmpty())
            VNLog::addSecret(token);
        VNLog::log(QStringLiteral("request: %1, headers: %2").arg(req->url().toString(), loggableHeaders(*req)));
        VNLog::log(QStringLiteral("response: %1, %2").arg(req->responseStatusCode()).arg(req->responseString()));
        if (token.isEmpty() || req->responseStatusCode() >= 400) {
            completed(false, handlerError(QStringLiteral("The account is invalid or the connection had a problem")),
                      self->m_canceled);
            return;
        }
        if (auto config = self->driveConfig()) {
            config->setDescription(QStringLiteral("SHOW DOCUMENTS ON THIS SUGARSYNC ACCOUNT"));
            config->setPassword(QString());
            config->setToken(token);
        }
        completed(true, nullptr, self->m_canceled);
    };
    request->setCompletionBlock(finish);
    request->setFailedBlock(finish);
    request->startAsynchronous();
}

void QNSugarSyncHandler::refreshAccessToken(TokenCallback completed) {
    const auto config = driveConfig();
    const QString refreshToken = config ? config->token() : QString();
    if (refreshToken.isEmpty()) {
        completed(handlerError(QStringLiteral("The drive is not signed in to SugarSync: log in again.")), QString(),
                  QString());
        return;
    }
    auto request = NRHTTPRequest::requestWithURL(QUrl(apiUrl(QStringLiteral("/authorization"))));
    request->setRequestMethod(QStringLiteral("POST"));
    request->appendPostData(tokenRequestBody(refreshToken));
    send(request, QString(), [completed](VNErrorPtr error, bool) { completed(error, QString(), QString()); },
         [completed](NRHTTPRequest &reply) {
             VNErrorPtr error;
             const XTDocumentPtr document = parseReply(reply.responseData(), QStringLiteral("authorization"), &error);
             const QString accessToken = reply.responseHeader(QStringLiteral("Location"));
             if (!document) {
                 VNLog::log(QStringLiteral("Error reading createAccessTokenFinished response: %1")
                                .arg(error->localizedDescription()));
                 // The token stands apart from the body: it goes back with
                 // the parser's error, the user's address does not.
                 completed(error, accessToken, QString());
                 return;
             }
             const QString userURL = childValue(document->rootElement(), QStringLiteral("user"));
             if (userURL.isEmpty() || accessToken.isEmpty()) {
                 completed(handlerError(QStringLiteral("SugarSync gave no access token.")), QString(), QString());
                 return;
             }
             completed(nullptr, accessToken, userURL);
         });
}

void QNSugarSyncHandler::withToken(Failed failed, std::function<void(QString, QString)> go) {
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    refreshAccessToken([self, failed, go](VNErrorPtr error, QString token, QString userURL) {
        if (error || self->m_canceled || token.isEmpty()) {
            failed(error, self->m_canceled);
            return;
        }
        go(token, userURL);
    });
}

void QNSugarSyncHandler::readUser(const QString &token, const QString &userURL, Failed failed,
                                  std::function<void(const QByteArray &)> done) {
    send(NRHTTPRequest::requestWithURL(QUrl(userURL)), token, failed,
         [done](NRHTTPRequest &reply) { done(reply.responseData()); });
}

// --- Operations ---------------------------------------------------------------------------

void QNSugarSyncHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(error, cancelled); };
    // Quota stops at the token step only when it gave no token, and then
    // answers not cancelled: a cancel there hands back the cancel error.
    refreshAccessToken([self, failed, completed](VNErrorPtr error, QString token, QString userURL) {
        if (token.isEmpty() || userURL.isEmpty()) {
            completed(error ? error : handlerError(QStringLiteral("SugarSync gave no access token.")), false);
            return;
        }
        self->readUser(token, userURL, failed, [self, completed](const QByteArray &reply) {
            VNErrorPtr error;
            const XTDocumentPtr user = parseReply(reply, QStringLiteral("user"), &error);
            if (!user) {
                VNLog::log(QStringLiteral("Error reading workspacesFinished response: %1").arg(error->localizedDescription()));
                if (auto config = self->driveConfig()) {
                    config->setTotalBytes(0);
                    config->setUsedBytes(0);
                    config->setAvailableBytes(0);
                    config->setSharedBytes(0);
                }
                completed(error, false);
                return;
            }
            const qint64 total = firstChildValue(user->rootElement(), QStringLiteral("quota/limit")).toLongLong();
            const qint64 used = firstChildValue(user->rootElement(), QStringLiteral("quota/usage")).toLongLong();
            if (auto config = self->driveConfig()) {
                config->setTotalBytes(total);
                config->setUsedBytes(used);
                config->setAvailableBytes(total - used);
                config->setSharedBytes(0);
            }
            completed(nullptr, false);
        });
    });
}

void QNSugarSyncHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    const QString folderPath = folder ? folder->path() : QStringLiteral("/");
    const QString folderId = folder ? folder->id() : QString();
    Failed failed = [completed, searchKeyword](VNErrorPtr error, bool cancelled) {
        completed({}, searchKeyword, error, cancelled);
    };
    withToken(failed, [self, failed, completed, searchKeyword, folder, folderPath, folderId](QString token,
                                                                                            QString userURL) {
        const bool top = folderPath.size() <= 1;
        if (!top && folderId.isEmpty()) {
            failed(handlerError(QStringLiteral("The folder %1 has no SugarSync reference.").arg(folderPath)), false);
            return;
        }
        const QString url = top ? userURL + QStringLiteral("/folders/contents") : folderId + QStringLiteral("/contents");
        self->listPage(url, top ? QStringLiteral("/") : folderPath, token, {}, failed,
                       [self, completed, searchKeyword, folder](QNDocumentList documents, int leftOut) {
                           if (folder)
                               folder->setLeftOutCount(leftOut);
                           completed(documents, searchKeyword, nullptr, self->m_canceled);
                       });
    });
}

void QNSugarSyncHandler::listPage(QString url, QString folderPath, QString token, ListingSoFar soFar, Failed failed,
                                  std::function<void(QNDocumentList, int)> done) {
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    QUrl page(url);
    page.setQuery(QStringLiteral("start=%1&max=%2").arg(soFar.start).arg(kPageSize));
    send(NRHTTPRequest::requestWithURL(page), token, failed,
         [self, url, folderPath, token, soFar, failed, done](NRHTTPRequest &reply) mutable {
             soFar.bytes += reply.responseData().size();
             if (soFar.bytes > maximumListingBytes) {
                 failed(handlerError(listingTooLargeText()), false);
                 return;
             }
             bool more = false;
             qint64 end = -1;
             VNErrorPtr error;
             const auto documents =
                 parseContents(reply.responseData(), folderPath, &more, &end, &error, &soFar.leftOut);
             if (!documents) {
                 VNLog::log(QStringLiteral("Error reading workspacesFinished response: %1").arg(error->localizedDescription()));
                 failed(error, false);
                 return;
             }
             for (const auto &d : *documents)
                 (d->isDirectory() ? soFar.folders : soFar.files).append(d);
             // The next page starts past this one's end; an end that does
             // not advance would ask for the same pages for ever.
             if (more && end >= soFar.start && end < std::numeric_limits<qint64>::max()) {
                 soFar.start = end + 1;
                 self->listPage(url, folderPath, token, std::move(soFar), failed, done);
                 return;
             }
             if (more) {
                 // More to come but no place to go on from: never a short folder.
                 failed(handlerError(QStringLiteral("SugarSync sent an unreadable listing.")), false);
                 return;
             }
             // Folders first, then files, over all pages.
             done(soFar.folders + soFar.files, soFar.leftOut);
         });
}

void QNSugarSyncHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                  QNDocumentCallback completed) {
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || document->id().isEmpty() || destination.isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No file to download or no destination.")), false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    // The reply lands beside the destination and replaces it only when the
    // service answered with success: a refused download leaves no file.
    const QString received = VNPartName::beside(QFileInfo(destination).absoluteFilePath(),
                                                VNPartName::randomSuffix(QStringLiteral("received"), 32));
    Failed failed = [completed, received](VNErrorPtr error, bool cancelled) {
        QFile::remove(received);
        completed(nullptr, error, cancelled);
    };
    withToken(failed, [self, failed, completed, document, destPath, destination, received, progress](QString token, QString) {
        struct Counters {
            quint64 received = 0, total = 1;
        };
        auto counters = std::make_shared<Counters>();
        if (document->size() > 0)
            counters->total = quint64(document->size());
        auto request = NRHTTPRequest::requestWithURL(QUrl(document->id() + QStringLiteral("/data")));
        request->setDownloadDestinationPath(received);
        request->setShowAccurateProgress(true);
        // The length the reply announces replaces the listed size; a reply
        // that announces none keeps it (progress is not shown as whole).
        request->setDownloadSizeIncrementedBlock([counters](qint64 size) {
            if (size > 0)
                counters->total = quint64(size);
        });
        request->setBytesReceivedBlock([counters, progress](qint64 size, qint64 total) {
            if (size > 0)
                counters->received += quint64(size);
            if (total > 0 && quint64(total) > counters->total)
                counters->total = quint64(total);
            if (progress)
                progress(std::min(1.0, double(counters->received) / double(counters->total)));
        });
        self->send(request, token, failed, [self, failed, completed, destPath, destination, received](NRHTTPRequest &) {
            std::error_code ec;
            std::filesystem::rename(received.toStdString(), destination.toStdString(), ec);
            if (ec) {
                failed(handlerError(QStringLiteral("The downloaded file could not be moved to %1: %2")
                                        .arg(destination, QString::fromStdString(ec.message()))),
                       false);
                return;
            }
            completed(destPath, nullptr, self->m_canceled);
        });
    });
}

void QNSugarSyncHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                QNDocumentCallback completed) {
    if (!document || document->path().isEmpty() || !destPath || destPath->id().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No file to upload or no SugarSync folder to put it in.")),
                  false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    const QString name = shownName(document);
    withToken(failed, [self, failed, completed, document, destPath, name, progress](QString token, QString) {
        // A file of that name already in the folder gets the new bytes; a
        // new entry would stand beside it as a twin.
        self->listPage(destPath->id() + QStringLiteral("/contents"), destPath->path(), token, {}, failed,
                       [self, failed, completed, document, destPath, name, progress, token](QNDocumentList listed, int) {
                           for (const auto &entry : listed) {
                               if (!entry->isDirectory() && entry->displayName() == name && !entry->id().isEmpty()) {
                                   self->putData(entry->id(), false, document, destPath, name, token, progress,
                                                 failed, completed);
                                   return;
                               }
                           }
                           self->createFile(document, destPath, name, token, progress, failed, completed);
                       });
    });
}

void QNSugarSyncHandler::createFile(QNDocumentPtr document, QNDocumentPtr destPath, const QString &name,
                                    const QString &token, QNProgressCallback progress, Failed failed,
                                    QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    auto create = NRHTTPRequest::requestWithURL(QUrl(destPath->id()));
    create->setRequestMethod(QStringLiteral("POST"));
    create->appendPostData(xmlBody(QStringLiteral("file"), {{QStringLiteral("displayName"), name}}));
    send(create, token, failed, [self, failed, completed, document, destPath, name, progress, token](NRHTTPRequest &reply) {
        const QString ref = reply.responseHeader(QStringLiteral("Location"));
        if (ref.isEmpty()) {
            failed(handlerError(QStringLiteral("SugarSync gave no reference for the new file %1.").arg(name)), false);
            return;
        }
        self->putData(ref, true, document, destPath, name, token, progress, failed, completed);
    });
}

void QNSugarSyncHandler::putData(const QString &fileRef, bool madeHere, QNDocumentPtr document, QNDocumentPtr destPath,
                                 const QString &name, const QString &token, QNProgressCallback progress, Failed failed,
                                 QNDocumentCallback completed) {
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    struct Counters {
        qint64 sent = 0;
        quint64 total = 1;
    };
    auto counters = std::make_shared<Counters>();
    const qint64 size = QFileInfo(document->path()).size();
    if (size > 0)
        counters->total = quint64(size);
    auto put = NRHTTPRequest::requestWithURL(QUrl(fileRef + QStringLiteral("/data")));
    put->setRequestMethod(QStringLiteral("PUT"));
    put->setShouldStreamPostDataFromDisk(true);
    put->setPostBodyFilePath(document->path());
    put->setShowAccurateProgress(true);
    put->setUploadSizeIncrementedBlock([counters](qint64 grown) {
        counters->total = grown > 0 ? quint64(grown) : 1;
    });
    put->setBytesSentBlock([counters, progress](qint64 delta, qint64 total) {
        counters->sent = std::max<qint64>(0, counters->sent + delta);
        if (total > 0 && quint64(total) > counters->total)
            counters->total = quint64(total);
        if (progress)
            progress(std::min(1.0, double(counters->sent) / double(counters->total)));
    });
    Failed unfinished = failed;
    if (madeHere) {
        // The entry made for these bytes would stay as an empty file under
        // the real name: it goes, even after a cancel, before the answer.
        unfinished = [self, failed, fileRef, token](VNErrorPtr error, bool cancelled) {
            auto removal = NRHTTPRequest::requestWithURL(QUrl(fileRef));
            removal->setRequestMethod(QStringLiteral("DELETE"));
            Done removed = [failed, error, cancelled, fileRef](NRHTTPRequest &) {
                VNLog::log(QStringLiteral("SugarSync removed the unfinished upload %1").arg(fileRef));
                failed(error, cancelled);
            };
            Failed kept = [failed, error, cancelled, fileRef](VNErrorPtr removalError, bool) {
                VNLog::log(QStringLiteral("SugarSync could not remove the unfinished upload %1: %2")
                               .arg(fileRef, removalError ? removalError->localizedDescription() : QString()));
                failed(error, cancelled);
            };
            self->start(removal, token, kept, removed);
        };
    }
    send(put, token, unfinished, [completed, destPath, name, fileRef](NRHTTPRequest &) {
        auto result = QNDocument::create();
        result->setId(fileRef);
        result->setPath(destPath->path());
        result->setDisplayName(name);
        completed(result, nullptr, false);
    });
}

void QNSugarSyncHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    if (isUnsafeName(name) || !destPath || destPath->id().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("\"%1\" cannot be created here.").arg(name)), false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    withToken(failed, [self, failed, completed, name, destPath](QString token, QString) {
        auto request = NRHTTPRequest::requestWithURL(QUrl(destPath->id()));
        request->setRequestMethod(QStringLiteral("POST"));
        request->appendPostData(xmlBody(QStringLiteral("folder"), {{QStringLiteral("displayName"), name}}));
        self->send(request, token, failed, [failed, completed, name, destPath](NRHTTPRequest &reply) {
            const QString ref = reply.responseHeader(QStringLiteral("Location"));
            if (ref.isEmpty()) {
                failed(handlerError(QStringLiteral("SugarSync gave no reference for the new folder %1.").arg(name)), false);
                return;
            }
            auto folder = QNDocument::create();
            folder->setId(ref);
            folder->setDisplayName(name);
            folder->setPath(joinPath(destPath->path(), name));
            completed(folder, nullptr, false);
        });
    });
}

void QNSugarSyncHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document || document->id().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No SugarSync item to remove.")), false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    withToken(failed, [self, failed, completed, document](QString token, QString userURL) {
        self->readUser(token, userURL, failed, [self, failed, completed, document, token](const QByteArray &reply) {
            VNErrorPtr error;
            const XTDocumentPtr user = parseReply(reply, QStringLiteral("user"), &error);
            const QString deleted = user ? childValue(user->rootElement(), QStringLiteral("deleted")) : QString();
            if (deleted.isEmpty()) {
                VNLog::log(QStringLiteral("Error parsing XML for removePathFinished: %1")
                               .arg(error ? error->localizedDescription() : QStringLiteral("no deleted folder")));
                failed(error ? error : handlerError(QStringLiteral("SugarSync named no folder for deleted items.")), false);
                return;
            }
            auto request = NRHTTPRequest::requestWithURL(QUrl(document->id()));
            request->setRequestMethod(QStringLiteral("PUT"));
            request->appendPostData(xmlBody(document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"),
                                            {{QStringLiteral("parent"), deleted}}));
            self->send(request, token, failed, [self, completed, document](NRHTTPRequest &) {
                completed(document, nullptr, self->m_canceled);
            });
        });
    });
}

void QNSugarSyncHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    // The new name is the last part of the new path; a caller may leave the
    // old name as its displayName (a save-back's backup does).
    QString newName;
    if (name)
        newName = name->path().isEmpty() ? name->displayName() : lastComponent(name->path());
    if (!document || document->id().isEmpty() || isUnsafeName(newName)) {
        completed(nullptr, handlerError(QStringLiteral("No SugarSync item to rename or no valid new name.")), false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    withToken(failed, [self, failed, completed, document, newName](QString token, QString) {
        auto request = NRHTTPRequest::requestWithURL(QUrl(document->id()));
        request->setRequestMethod(QStringLiteral("PUT"));
        request->appendPostData(xmlBody(document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"),
                                        {{QStringLiteral("displayName"), newName}}));
        // Cut off on its way, the rename may still be carried out: its
        // answer alone tells where the item is. A cancel that came first
        // still stops it (send()).
        if (!self->m_canceled)
            self->sendsToItsAnswer();
        self->send(request, token, failed, [completed, document, newName](NRHTTPRequest &) {
            auto result = QNDocument::create();
            result->setId(document->id());
            result->setDisplayName(newName);
            result->setPath(joinPath(parentPath(document->path()), newName));
            result->setIsDirectory(document->isDirectory());
            completed(result, nullptr, false);
        });
    });
}

void QNSugarSyncHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    if (!document || document->id().isEmpty() || !name || name->id().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No SugarSync file to copy or no folder to copy it into.")),
                  false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    const QString shown = shownName(document);
    withToken(failed, [self, failed, completed, document, name, shown](QString token, QString) {
        auto request = NRHTTPRequest::requestWithURL(QUrl(name->id()));
        request->setRequestMethod(QStringLiteral("POST"));
        request->appendPostData(xmlBody(QStringLiteral("fileCopy"), {{QStringLiteral("displayName"), lastComponent(document->path())}},
                                        QStringLiteral(" source=\"%1\"").arg(document->id().toHtmlEscaped())));
        self->send(request, token, failed, [failed, completed, name, shown](NRHTTPRequest &reply) {
            // The copy is a new item: its own reference comes in Location.
            const QString ref = reply.responseHeader(QStringLiteral("Location"));
            if (ref.isEmpty()) {
                failed(handlerError(QStringLiteral("SugarSync gave no reference for the copy of %1.").arg(shown)), false);
                return;
            }
            auto result = QNDocument::create();
            result->setId(ref);
            result->setDisplayName(shown);
            result->setPath(joinPath(name->path(), shown));
            completed(result, nullptr, false);
        });
    });
}

void QNSugarSyncHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    if (!document || document->id().isEmpty() || !name || name->id().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No SugarSync item to move or no folder to move it into.")),
                  false);
        return;
    }
    auto self = std::static_pointer_cast<QNSugarSyncHandler>(shared_from_this());
    Failed failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    const QString shown = shownName(document);
    withToken(failed, [self, failed, completed, document, name, shown](QString token, QString) {
        auto request = NRHTTPRequest::requestWithURL(QUrl(document->id()));
        request->setRequestMethod(QStringLiteral("PUT"));
        request->appendPostData(xmlBody(document->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"),
                                        {{QStringLiteral("displayName"), shown}, {QStringLiteral("parent"), name->id()}}));
        self->send(request, token, failed, [completed, document, name, shown](NRHTTPRequest &) {
            auto result = QNDocument::create();
            result->setId(document->id());
            result->setDisplayName(shown);
            result->setPath(joinPath(name->path(), shown));
            result->setIsDirectory(document->isDirectory());
            completed(result, nullptr, false);
        });
    });
}
