#include "Cloud/QNGooglePhotosHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "DA/HTTPFetcher/HFURLResponse.h"
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"
#include "DA/Query/DAQueryGooglePhotos.h"
#include "DA/Service/DAServiceGooglePhotos.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

const QString kDomain = QStringLiteral("QNGooglePhotosHandler");
const QString kClientId = QStringLiteral("40218375921.apps.googleusercontent.com");
const QString kClientSecret = QStringLiteral("Pw3nTbq_Lr8YheXo2KcvZm7D");

// The listed entry travels in the document as a service object.
class EntryHolder : public QNDocument::ServiceObject {
public:
    explicit EntryHolder(DAObjectPtr entry) : object(std::move(entry)) {}
    bool isEqualTo(const ServiceObject &other) const override {
        auto o = dynamic_cast<const EntryHolder *>(&other);
        return o && o->object == object;
    }
    DAObjectPtr object;
};

QString redirectUri() {
    QString url = QNLoginSheetProvider::loopbackCallbackUrl();
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString accountsHost() { return QNServiceHosts::url(QStringLiteral("google.accounts")); }

QString formBody(const QList<std::pair<QString, QString>> &form) {
    QStringList pairs;
    for (const auto &[name, value] : form)
        pairs << OA1URLRequestParameter::encode(name) + QLatin1Char('=') + OA1URLRequestParameter::encode(value);
    return pairs.join(QLatin1Char('&'));
}

QString joinPath(const QString &folder, const QString &name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString lastComponent(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Names from the service that would not stay one path component.
bool isUsableName(const QString &name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool sameHost(const QUrl &a, const QUrl &b) {
    return a.scheme() == b.scheme() && a.host() == b.host() && a.port(a.scheme() == "https" ? 443 : 80) ==
                                                                  b.port(b.scheme() == "https" ? 443 : 80);
}

}  // namespace

QNGooglePhotosHandler::QNGooglePhotosHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {
    DAServiceGooglePhotos::setPhotoHostURLString(QNServiceHosts::url(QStringLiteral("google.photos")));
}

QNGooglePhotosHandler::~QNGooglePhotosHandler() {
    if (m_currentRequest)
        m_currentRequest->clearDelegatesAndCancel();
    for (const auto &ticket : m_tickets)
        ticket->cancelTicket();
    if (m_currentFetcher)
        m_currentFetcher->stopFetching();
}

QString QNGooglePhotosHandler::className() const { return kDomain; }

QString QNGooglePhotosHandler::loginCaption() { return QStringLiteral("SHOW DOCUMENTS ON THIS PICASA ACCOUNT"); }

void QNGooglePhotosHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::GooglePhotos,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNGooglePhotosHandler>(config);
                                             });
}

std::shared_ptr<QNGooglePhotosHandler> QNGooglePhotosHandler::self() {
    return std::static_pointer_cast<QNGooglePhotosHandler>(shared_from_this());
}

VNErrorPtr QNGooglePhotosHandler::errorFromDomain(const QString &domain, const QString &message) {
    return VNError::withDescription(domain, 0, message);
}

VNErrorPtr QNGooglePhotosHandler::codedError(const QString &message) {
    return VNError::make(kDomain, 42, QStringLiteral("error"), message);
}

DAObjectPtr QNGooglePhotosHandler::entryOf(const QNDocumentPtr &document) {
    if (!document)
        return nullptr;
    auto holder = std::dynamic_pointer_cast<EntryHolder>(document->fileObject());
    return holder ? holder->object : nullptr;
}

QUrl QNGooglePhotosHandler::authorizationURL() {
    const QString scopes = QNServiceHosts::url(QStringLiteral("google.api")) + QStringLiteral("/auth/userinfo.profile") +
                           QLatin1Char('+') + DAServiceGooglePhotos::serviceRootURLString();
    const QString text = accountsHost() + QStringLiteral("/o/oauth2/auth?response_type=code&client_id=") + kClientId +
                         QStringLiteral("&redirect_uri=") + redirectUri() + QStringLiteral("&scope=") + scopes +
                         QStringLiteral("&max_auth_age=0&access_type=offline");
    return QUrl::fromEncoded(text.toUtf8());
}

QNDocumentPtr QNGooglePhotosHandler::documentFromEntry(const std::shared_ptr<DAEntryBase> &entry, const QString &folderPath) {
    const QString title = entry->title() ? entry->title()->stringValue() : QString();
    auto document = QNDocument::create();
    document->setPath(joinPath(folderPath, title));
    document->setDisplayName(title);
    document->setFileObject(std::make_shared<EntryHolder>(entry));
    std::shared_ptr<DAMediaGroup> group;
    if (auto photo = std::dynamic_pointer_cast<DAEntryPhoto>(entry)) {
        document->setSize(photo->size().value_or(0));
        group = photo->mediaGroup();
    } else if (auto album = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(entry)) {
        document->setIsDirectory(true);
        group = album->mediaGroup();
    }
    if (group && !group->mediaThumbnails().isEmpty()) {
        const QString url = group->mediaThumbnails().last()->URLString();
        document->setThumbnailURL(url.isEmpty() ? QUrl() : QUrl(url));
    }
    if (auto kind = entry->kindCategory())
        document->setType(kind->label());
    if (auto published = entry->publishedDate())
        document->setDate(published->date());
    return document;
}

// --- Tokens ---------------------------------------------------------------------------

void QNGooglePhotosHandler::tokenRequest(const QString &body, Action action) {
    auto request = NRHTTPRequest::requestWithURL(QUrl(accountsHost() + QStringLiteral("/o/oauth2/token")));
    request->setRequestMethod(QStringLiteral("POST"));
    request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
    request->appendPostData(body.toUtf8());
    std::weak_ptr<QNGooglePhotosHandler> weakSelf = self();
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto fired = std::make_shared<bool>(false);
    auto finished = [weakSelf, weak, action, fired](bool failed) {
        auto me = weakSelf.lock();
        auto r = weak.lock();
        if (!me || !r || *fired)
            return;
        *fired = true;
        // Every token request makes the operation's new service.
        me->m_googleService = DAServiceGooglePhotos::make();
        me->m_accessToken = failed ? QString() : accessTokenOf(r.get());
        if (!me->m_accessToken.isEmpty()) {
            VNLog::addSecret(me->m_accessToken);
            me->m_googleService->setAuthToken(me->m_accessToken);
        }
        if (me->isCancelled())
            return;
        VNErrorPtr error = failed ? (r->error() ? r->error() : errorFromDomain(kDomain, QStringLiteral("The request failed")))
                                  : nullptr;
        if (failed)
            VNLog::log(QStringLiteral("QNGooglePhotosHander requestFailed error %1").arg(error->localizedDescription()));
        action(r.get(), error);
    };
    request->setCompletionBlock([finished] { finished(false); });
    request->setFailedBlock([finished] { finished(true); });
    m_currentRequest = request;
    request->startAsynchronous();
}

QString QNGooglePhotosHandler::accessTokenOf(NRHTTPRequest *request) {
    return request ? JSONValue(request->responseData())[QStringLiteral("access_token")].toString() : QString();
}

QString QNGooglePhotosHandler::replyErrorEntry(NRHTTPRequest *request) {
    return request ? JSONValue(request->responseData())[QStringLiteral("error")].toString() : QString();
}

void QNGooglePhotosHandler::refreshAccessToken(Action action) {
    const auto config = driveConfig();
    const QString refresh = config ? config->password() : QString();
    tokenRequest(formBody({{QStringLiteral("client_id"), kClientId},
                           {QStringLiteral("client_secret"), kClientSecret},
                           {QStringLiteral("refresh_token"), refresh},
                           {QStringLiteral("grant_type"), QStringLiteral("refresh_token")}}),
                 std::move(action));
}

// --- Sign-in --------------------------------------------------------------------------

void QNGooglePhotosHandler::login(QNLoginCallback) {}

std::shared_ptr<QNAuthWindowController> QNGooglePhotosHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    return openLoginSheet(std::move(completed), loginCaption(), authorizationURL());
}

void QNGooglePhotosHandler::processOAuthLogin(const QString &callbackUrl) {
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
        auto error = errorFromDomain(kDomain, QStringLiteral("OAuth login failed, no code"));
        VNLog::log(QStringLiteral("QNGooglePhotosHandler processOAuthLogin error %1").arg(error->localizedDescription()));
        completed(false, error, false);
        return;
    }
    std::weak_ptr<QNGooglePhotosHandler> weakSelf = self();
    tokenRequest(formBody({{QStringLiteral("code"), code},
                           {QStringLiteral("client_id"), kClientId},
                           {QStringLiteral("client_secret"), kClientSecret},
                           {QStringLiteral("redirect_uri"), redirectUri()},
                           {QStringLiteral("grant_type"), QStringLiteral("authorization_code")}}),
                 [weakSelf, completed](NRHTTPRequest *request, VNErrorPtr error) {
                     auto me = weakSelf.lock();
                     if (error || !me) {
                         completed(false, error, false);
                         return;
                     }
                     const QString refresh =
                         JSONValue(request->responseData())[QStringLiteral("refresh_token")].toString();
                     if (refresh.isEmpty()) {
                         auto e = errorFromDomain(kDomain, QStringLiteral("OAuth login failed, no refresh_token"));
                         VNLog::log(QStringLiteral("QNGooglePhotosHandler processOAuthLogin failed %1")
                                        .arg(e->localizedDescription()));
                         completed(false, e, false);
                         return;
                     }
                     VNLog::addSecret(refresh);
                     if (auto config = me->driveConfig())
                         config->setPassword(refresh);
                     completed(true, nullptr, false);
                 });
}

void QNGooglePhotosHandler::cancel() {
    QNCloudInterface::cancel();
    if (m_currentFetcher)
        m_currentFetcher->stopFetching();
    for (const auto &ticket : m_tickets)
        ticket->cancelTicket();
    m_tickets.clear();
    if (m_currentRequest)
        m_currentRequest->clearDelegatesAndCancel();
    m_keepAlive.reset();
}

// --- Operations -----------------------------------------------------------------------


// The common start of every operation: a new access token, then the work.
// A transport failure of the refresh, or a reply without an access token,
// ends the operation through fail().
#define QN_PHOTOS_BEGIN(refreshLog, noTokenLog, noTokenMessage, target, fail, work)                             \
    holdForOperation();                                                                                        \
    refreshAccessToken([weakSelf = std::weak_ptr<QNGooglePhotosHandler>(self()), resolveTarget = QNDocumentPtr(target), fail, work](\
                           NRHTTPRequest *request, VNErrorPtr error) {                                         \
        auto me = weakSelf.lock();                                                                             \
        if (!me)                                                                                               \
            return;                                                                                            \
        if (error) {                                                                                           \
            VNLog::log(QStringLiteral(refreshLog).arg(error->localizedDescription()));                         \
            fail(me, error);                                                                                   \
            return;                                                                                            \
        }                                                                                                      \
        if (me->m_accessToken.isEmpty()) {                                                                     \
            auto e = errorFromDomain(kDomain, QString(noTokenMessage).replace(QStringLiteral("%@"),            \
                                                                               replyErrorEntry(request)));     \
            VNLog::log(QStringLiteral(noTokenLog).arg(e->localizedDescription()));                             \
            fail(me, e);                                                                                       \
            return;                                                                                            \
        }                                                                                                      \
        me->resolveEntry(resolveTarget, [weakSelf, fail, work](DAObjectPtr entry, VNErrorPtr e) {             \
            auto me = weakSelf.lock();                                                                         \
            if (!me)                                                                                           \
                return;                                                                                        \
            if (e)                                                                                             \
                fail(me, e);                                                                                   \
            else                                                                                               \
                work(me, entry);                                                                               \
        });                                                                                                    \
    })

void QNGooglePhotosHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    Once<QNQuotaCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, e, false); };
    auto work = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr) {
        const QUrl url = DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {});
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        auto ticket = me->m_googleService->fetchFeedWithURL(
            url, [weak, answer](const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
                auto me = weak.lock();
                if (!me)
                    return;
                auto feed = std::dynamic_pointer_cast<DAFeedPhotoUser>(object);
                if (auto config = me->driveConfig()) {
                    config->setTotalBytes(feed ? feed->quotaLimit().value_or(0) : 0);
                    config->setUsedBytes(feed ? feed->quotaUsed().value_or(0) : 0);
                    config->setAvailableBytes(config->totalBytes() - config->usedBytes());
                    config->setSharedBytes(0);
                }
                answer(*me, error, false);
            }, DAFeedPhotoUser::staticClass());
        if (ticket)
            me->m_tickets.append(ticket);
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHander quota error %1", "QNGooglePhotosHandler quota failed %1",
                    "List documents failed, %@", QNDocumentPtr(), fail, work);
}

void QNGooglePhotosHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    Once<QNListCallback> answer(std::move(completed));
    auto fail = [answer, searchKeyword](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) {
        answer(*me, QNDocumentList(), searchKeyword, e, false);
    };
    auto work = [answer, folder](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr resolved) {
        me->m_currentPath = folder ? folder->path() : QStringLiteral("/");
        if (me->m_currentPath.isEmpty())
            me->m_currentPath = QStringLiteral("/");
        auto folderEntry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
        auto link = folderEntry ? folderEntry->feedLink() : nullptr;
        const QUrl feedURL = link ? QUrl(link->href())
                                  : DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {});
        auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(feedURL);
        query->setMaxResults(1000);
        // A big album is read to its end, page by page.
        me->m_googleService->setServiceShouldFollowNextLinks(true);
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        const QString path = me->m_currentPath;
        auto ticket = me->m_googleService->fetchFeedWithURL(
            query->URL(), [weak, answer, path](const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
                auto me = weak.lock();
                if (!me)
                    return;
                auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
                if (error || !feed) {
                    VNLog::log(QStringLiteral("QNGooglePhotosHandler listDocuments fetch error %1")
                                   .arg(error ? error->localizedDescription() : QStringLiteral("no feed")));
                    answer(*me, QNDocumentList(), QString(), codedError(QStringLiteral("Could not query files")), false);
                    return;
                }
                auto feedHolder = std::make_shared<EntryHolder>(feed);
                QNDocumentList documents;
                for (const auto &entry : feed->entries()) {
                    const QString title = entry->title() ? entry->title()->stringValue() : QString();
                    if (!isUsableName(title)) {
                        VNLog::log(QStringLiteral("QNGooglePhotosHandler skipped an entry with an unusable name"));
                        continue;
                    }
                    auto document = documentFromEntry(entry, path);
                    document->setFeedPhotoAlbum(feedHolder);
                    documents.append(document);
                }
                answer(*me, documents, QString(), nullptr, false);
            });
        if (ticket)
            me->m_tickets.append(ticket);
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHander listDocuments error %1", "QNGooglePhotosHandler listDocuments failed %1",
                    "List documents failed, %@", folder, fail, work);
}

void QNGooglePhotosHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                     QNDocumentCallback completed) {
    setDownloadProgress(progress);
    Once<QNDocumentCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, nullptr, e, false); };
    auto work = [answer, document, destPath, progress](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr resolved) {
        auto entry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
        auto photoEntry = std::dynamic_pointer_cast<DAEntryPhoto>(resolved);
        const qint64 documentSize = document && document->size() > 0 ? document->size() : photoEntry ? photoEntry->size().value_or(0) : 0;
        auto self = entry ? entry->selfLink() : nullptr;
        if (!self) {
            answer(*me, nullptr, codedError(QStringLiteral("Could not download file")), false);
            return;
        }
        auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(QUrl(self->href()));
        query->setImageSize(DAQueryGooglePhotos::originalImageSize);
        const QString savePath = destPath ? destPath->path() : QString();
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        auto ticket = me->m_googleService->fetchEntryWithURL(
            query->URL(),
            [weak, answer, savePath, documentSize, progress](const DAServiceTicketPtr &, const DAObjectPtr &object,
                                                             const VNErrorPtr &error) {
                auto me = weak.lock();
                if (!me)
                    return;
                if (error) {
                    VNLog::log(QStringLiteral("ticket error %1").arg(error->localizedDescription()));
                    answer(*me, nullptr, error, false);
                    return;
                }
                auto photo = std::dynamic_pointer_cast<DAEntryPhoto>(object);
                auto group = photo ? photo->mediaGroup() : nullptr;
                std::shared_ptr<DAMediaContent> content;
                for (const auto &c : group ? group->mediaContents() : QList<std::shared_ptr<DAMediaContent>>())
                    if (c->medium() == QLatin1String("image")) {
                        content = c;
                        break;
                    }
                if (!content || content->URLString().isEmpty()) {
                    answer(*me, nullptr, codedError(QStringLiteral("Could not download file")), false);
                    return;
                }
                const QUrl mediaURL(content->URLString());
                HFURLRequest request = me->m_googleService->requestForURL(mediaURL, QString(), QString());
                // The access token is for the service's own host only.
                if (!sameHost(mediaURL, QUrl(DAServiceGooglePhotos::serviceRootURLString())))
                    request.removeHeader(QStringLiteral("Authorization"));
                auto fetcher = me->m_googleService->fetcherService()->fetcherWithRequest(request);
                me->m_currentFetcher = fetcher;
                fetcher->setDownloadPath(savePath);
                std::weak_ptr<HFHTTPFetcher> weakFetcher = fetcher;
                fetcher->setReceivedDataBlock([weakFetcher, documentSize, progress](const QByteArray &) {
                    auto f = weakFetcher.lock();
                    if (!f || !progress)
                        return;
                    const qint64 expected = f->response() ? f->response()->expectedContentLength() : -1;
                    const qint64 done = f->downloadedLength();
                    if (expected > 0)
                        progress(float(done) / float(expected));
                    else if (documentSize > 0)
                        progress(float(done) / float(documentSize));
                });
                fetcher->beginFetchWithCompletionHandler([weak, answer, savePath](const QByteArray &, const VNErrorPtr &error) {
                    auto me = weak.lock();
                    if (!me)
                        return;
                    if (error) {
                        VNLog::log(QStringLiteral("fetcher error %1").arg(error->localizedDescription()));
                        QFile::remove(savePath);
                        answer(*me, nullptr, error, false);
                        return;
                    }
                    answer(*me, QNDocument::withPath(savePath), nullptr, false);
                });
            },
            DAEntryPhoto::staticClass());
        if (ticket) {
            ticket->setProperty(QStringLiteral("save path"), savePath);
            me->m_tickets.append(ticket);
        }
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHander download error %1", "QNGooglePhotosHandler download failed %1",
                    "Download failed, no access_token", document, fail, work);
}

void QNGooglePhotosHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                   QNDocumentCallback completed) {
    setUploadProgress(progress);
    Once<QNDocumentCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, nullptr, e, false); };
    auto work = [answer, document, destPath, progress](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr resolved) {
        const QString path = document ? document->path() : QString();
        const QString name = lastComponent(path);
        QFile file(path);
        if (path.isEmpty() || QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
            answer(*me, nullptr, codedError(QStringLiteral("Could not upload file")), false);
            return;
        }
        file.close();
        auto entry = DAEntryPhoto::photoEntry();
        entry->setTitleWithString(name);
        // The description is the name given, not where the file sat on this machine.
        entry->setPhotoDescriptionWithString(name);
        entry->setTimestamp(DAPhotoTimestamp::timestampWithDate(QDateTime::currentDateTimeUtc()));
        // Sent from the file in chunks, never held whole in memory.
        entry->setUploadFilePath(path);
        entry->setPhotoMIMEType(DAUtilities::MIMETypeForFileAtPath(name, QStringLiteral("image/jpeg")));
        entry->setUploadSlug(name);
        if (progress)
            me->m_googleService->setServiceUploadProgressHandler(
                [progress](const DAServiceTicketPtr &, quint64 delivered, quint64 total) {
                    if (total > 0)
                        progress(float(delivered) / float(total));
                });
        auto album = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(resolved);
        const QString albumID = album ? album->GPhotoID() : QStringLiteral("default");
        const QUrl url(DAServiceGooglePhotos::photoHostURLString() +
                       QStringLiteral("/data/upload/resumable/media/create-session/feed/api/user/default/albumid/") +
                       albumID);
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        auto ticket = me->m_googleService->fetchEntryByInsertingEntry(
            entry, url, [weak, answer](const DAServiceTicketPtr &, const DAObjectPtr &, const VNErrorPtr &error) {
                if (auto me = weak.lock())
                    answer(*me, nullptr, error, false);
            });
        me->m_googleService->setServiceUploadProgressHandler(nullptr);
        if (ticket)
            me->m_tickets.append(ticket);
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHandler upload error %1", "QNGooglePhotosHandler upload failed %1",
                    "Upload failed, no access_token", destPath, fail, work);
}

void QNGooglePhotosHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    Once<QNDocumentCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, nullptr, e, false); };
    auto work = [answer, name, destPath](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr resolved) {
        auto entry = DAEntryPhotoAlbum::albumEntry();
        entry->setTitleWithString(name);
        auto parent = std::dynamic_pointer_cast<DAEntryBase>(resolved);
        auto link = parent ? parent->feedLink() : nullptr;
        QUrl url = DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {});
        if (link) {
            entry->setParent(parent);
            url = QUrl(link->href());
        }
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        const QString parentPath = destPath && !destPath->path().isEmpty() ? destPath->path() : QStringLiteral("/");
        auto ticket = me->m_googleService->fetchEntryByInsertingEntry(
            entry, url, [weak, answer, parentPath](const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
                auto me = weak.lock();
                if (!me)
                    return;
                // The new album as a folder, for callers that go on into it (copy tasks).
                auto album = std::dynamic_pointer_cast<DAEntryBase>(object);
                const QString title = album && album->title() ? album->title()->stringValue() : QString();
                if (!error && album && isUsableName(title))
                    answer(*me, documentFromEntry(album, parentPath), nullptr, false);
                else
                    answer(*me, nullptr, error, false);
            });
        if (ticket)
            me->m_tickets.append(ticket);
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHandler createFolder error %1", "QNGooglePhotosHandler create folder failed %1",
                    "Create folder failed, no access_token", destPath, fail, work);
}

void QNGooglePhotosHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    Once<QNDocumentCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, nullptr, e, false); };
    auto work = [answer, document](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr resolved) {
        auto entry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
        if (!entry) {
            answer(*me, nullptr, codedError(QStringLiteral("Could not remove file")), false);
            return;
        }
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        auto ticket = me->m_googleService->deleteEntry(
            entry, [weak, answer](const DAServiceTicketPtr &, const DAObjectPtr &, const VNErrorPtr &error) {
                if (auto me = weak.lock())
                    answer(*me, nullptr, error, false);
            });
        if (ticket)
            me->m_tickets.append(ticket);
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHandler remove error %1", "QNGooglePhotosHandler remove failed %1",
                    "Remove file/folder failed, no access_token", document, fail, work);
}

void QNGooglePhotosHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    Once<QNDocumentCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, nullptr, e, false); };
    auto work = [answer, document, name](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr resolved) {
        auto entry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
        if (!entry || !name) {
            answer(*me, nullptr, codedError(QStringLiteral("Could not rename file")), false);
            return;
        }
        entry->setTitleWithString(lastComponent(name->path()));
        // An entry read inside a feed declares none of the feed's namespaces.
        QMap<QString, QString> namespaces = DAServiceGooglePhotos::standardServiceNamespaces();
        namespaces.insert(entry->namespaces());
        entry->setNamespaces(namespaces);
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        auto ticket = me->m_googleService->fetchEntryByUpdatingEntry(
            entry, [weak, answer](const DAServiceTicketPtr &, const DAObjectPtr &, const VNErrorPtr &error) {
                if (auto me = weak.lock())
                    answer(*me, nullptr, error, false);
            });
        if (ticket)
            me->m_tickets.append(ticket);
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHandler rename error %1", "QNGooglePhotosHandler rename failed %1",
                    "Rename file/folder failed, no access_token", document, fail, work);
}

void QNGooglePhotosHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    Once<QNDocumentCallback> answer(std::move(completed));
    auto fail = [answer](const std::shared_ptr<QNGooglePhotosHandler> &me, VNErrorPtr e) { answer(*me, nullptr, e, false); };
    auto work = [answer, document](const std::shared_ptr<QNGooglePhotosHandler> &me, DAObjectPtr) {
        const QString resourceId = document ? document->gdResourceId() : QString();
        if (resourceId.isEmpty()) {
            answer(*me, nullptr, codedError(QStringLiteral("Sharing link failed, no resource id")), false);
            return;
        }
        const QString docs = QNServiceHosts::url(QStringLiteral("google.docs"));
        const QByteArray body =
            "<entry xmlns='http://www.w3.org/2005/Atom' xmlns:gAcl='http://schemas.google.com/acl/2007'>"
            "<category scheme='http://schemas.google.com/g/2005#kind' "
            "term='http://schemas.google.com/acl/2007#accessRule'/>"
            "<gAcl:withKey key='blank_tag'><gAcl:role value='reader'/></gAcl:withKey>"
            "<gAcl:scope type='default'/></entry>";
        auto request = NRHTTPRequest::requestWithURL(QUrl(docs + QStringLiteral("/feeds/default/private/full/") +
                                                          QString::fromUtf8(QUrl::toPercentEncoding(resourceId, ":")) +
                                                          QStringLiteral("/acl")));
        request->setRequestMethod(QStringLiteral("POST"));
        request->addRequestHeader(QStringLiteral("GData-Version"), QStringLiteral("3.0"));
        request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("OAuth %1").arg(me->m_accessToken));
        request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/atom+xml; charset=utf-8"));
        request->appendPostData(body);
        std::weak_ptr<QNGooglePhotosHandler> weak = me;
        std::weak_ptr<NRHTTPRequest> weakRequest = request;
        auto finished = [weak, weakRequest, answer, document, resourceId, docs](bool failed) {
            auto me = weak.lock();
            auto r = weakRequest.lock();
            if (!me || !r)
                return;
            if (failed) {
                answer(*me, nullptr, r->error() ? r->error() : codedError(QStringLiteral("Sharing link failed")), false);
                return;
            }
            if (r->responseStatusCode() >= 400) {
                answer(*me, nullptr, codedError(r->responseStatusMessage()), false);
                return;
            }
            const qsizetype colon = resourceId.indexOf(QLatin1Char(':'));
            const QString id = colon < 0 ? resourceId : resourceId.mid(colon + 1).section(QLatin1Char(':'), 0, 0);
            document->setLink(docs + QStringLiteral("/fileview?id=") + id);
            document->setLinkEndDate(QDateTime());
            answer(*me, document, nullptr, false);
        };
        request->setCompletionBlock([finished] { finished(false); });
        request->setFailedBlock([finished] { finished(true); });
        me->m_currentRequest = request;
        request->startAsynchronous();
    };
    QN_PHOTOS_BEGIN("QNGooglePhotosHandler linkForDocument error %1", "QNGooglePhotosHandler link failed %1",
                    "Sharing link failed, no access_token", QNDocumentPtr(), fail, work);
}

// --- Documents known only by their path --------------------------------------------

void QNGooglePhotosHandler::resolveEntry(const QNDocumentPtr &document, std::function<void(DAObjectPtr, VNErrorPtr)> done) {
    if (auto entry = entryOf(document)) {
        done(entry, nullptr);
        return;
    }
    const QStringList names = (document ? document->path() : QString()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        done(nullptr, nullptr);  // the root
        return;
    }
    const QString path = QLatin1Char('/') + names.join(QLatin1Char('/'));
    if (names.size() > 2) {
        done(nullptr, codedError(QStringLiteral("%1 was not found").arg(path)));
        return;
    }
    // Albums from the user feed, then (for a photo) the album's photos.
    auto step = std::make_shared<std::function<void(QUrl, int)>>();
    std::weak_ptr<QNGooglePhotosHandler> weak = self();
    *step = [weak, names, path, done, step](const QUrl &feedURL, int depth) {
        auto me = weak.lock();
        if (!me)
            return;
        auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(feedURL);
        query->setMaxResults(1000);
        me->m_googleService->setServiceShouldFollowNextLinks(true);
        auto ticket = me->m_googleService->fetchFeedWithURL(
            query->URL(), [names, path, done, step, depth](const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
                auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
                DAEntryBasePtr found;
                for (const auto &entry : feed ? feed->entries() : QList<DAEntryBasePtr>())
                    if (entry->title() && entry->title()->stringValue() == names.at(depth)) {
                        found = entry;
                        break;
                    }
                if (error || !found) {
                    *step = nullptr;
                    done(nullptr, error ? error : codedError(QStringLiteral("%1 was not found").arg(path)));
                    return;
                }
                auto link = found->feedLink();
                if (depth + 1 == names.size() || !link) {
                    *step = nullptr;
                    if (depth + 1 == names.size())
                        done(found, nullptr);
                    else
                        done(nullptr, codedError(QStringLiteral("%1 was not found").arg(path)));
                    return;
                }
                (*step)(QUrl(link->href()), depth + 1);
            });
        if (ticket)
            me->m_tickets.append(ticket);
    };
    (*step)(DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {}), 0);
}
