#include "Cloud/QNGooglePhotosHandler.h"

#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Core/QNUtils.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "DA/HTTPFetcher/HFURLResponse.h"
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"
#include "DA/Query/DAQueryGooglePhotos.h"
#include "DA/Service/DAServiceGooglePhotos.h"
#include "Formats/DXJsonExtensions.h"
#include "Net/NRFormDataRequest.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <utility>

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

// What tells one entry from another of the same title: its Atom id, else
// its photo-service id.
QString entryIdOf(const DAEntryBasePtr &entry) {
    if (!entry)
        return {};
    if (const QString atomId = entry->identifier(); !atomId.isEmpty())
        return atomId;
    if (auto photo = std::dynamic_pointer_cast<DAEntryPhoto>(entry))
        return photo->GPhotoID();
    if (auto album = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(entry))
        return album->GPhotoID();
    return {};
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
    // Titles repeat; the id names this entry (also once the document is
    // only path and id, as after a restart).
    document->setId(entryIdOf(entry));
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

void QNGooglePhotosHandler::tokenRequest(const QList<std::pair<QString, QString>> &fields, Action action) {
    auto request = NRFormDataRequest::requestWithURL(QUrl(accountsHost() + QStringLiteral("/o/oauth2/token")));
    request->setRequestMethod(QStringLiteral("POST"));
    request->setPostFormat(NRFormDataRequest::URLEncodedPostFormat);
    for (const auto &[key, value] : fields)
        request->addPostValue(value, key);
    // The request holds the handler until it has answered or is cancelled
    // (its blocks go then).
    std::weak_ptr<NRHTTPRequest> weak = request;
    request->setCompletionBlock([me = self(), weak] {
        if (auto r = weak.lock())
            me->requestFinished(r.get());
    });
    request->setFailedBlock([me = self(), weak] {
        if (auto r = weak.lock())
            me->requestFailed(r.get());
    });
    m_actionBlock = std::move(action);
    m_currentRequest = request;
    request->startAsynchronous();
}

void QNGooglePhotosHandler::requestFinished(NRHTTPRequest *request) {
    if (!request || request != m_currentRequest.get())
        return;  // answered already
    // Over: nothing to stop any more (the handler may go when this request
    // lets go of its blocks).
    m_currentRequest.reset();
    // Every token reply makes the operation's new service, whatever its status.
    m_googleService = DAServiceGooglePhotos::make();
    m_accessToken = accessTokenOf(request);
    if (!m_accessToken.isEmpty()) {
        VNLog::addSecret(m_accessToken);
        m_googleService->setAuthToken(m_accessToken);
    }
    const Action action = std::exchange(m_actionBlock, nullptr);
    if (action && !isCancelled())
        action(request, nullptr);
}

void QNGooglePhotosHandler::requestFailed(NRHTTPRequest *request) {
    if (!request || request != m_currentRequest.get())
        return;
    m_currentRequest.reset();
    m_accessToken.clear();
    const VNErrorPtr error =
        request->error() ? request->error() : errorFromDomain(kDomain, QStringLiteral("The request failed"));
    VNLog::log(QStringLiteral("QNGooglePhotosHander requestFailed error %1").arg(error->localizedDescription()));
    const Action action = std::exchange(m_actionBlock, nullptr);
    if (action && !isCancelled())
        action(request, error);
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
    tokenRequest({{QStringLiteral("client_id"), kClientId},
                  {QStringLiteral("client_secret"), kClientSecret},
                  {QStringLiteral("refresh_token"), refresh},
                  {QStringLiteral("grant_type"), QStringLiteral("refresh_token")}},
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
    tokenRequest({{QStringLiteral("code"), code},
                  {QStringLiteral("client_id"), kClientId},
                  {QStringLiteral("client_secret"), kClientSecret},
                  {QStringLiteral("redirect_uri"), redirectUri()},
                  {QStringLiteral("grant_type"), QStringLiteral("authorization_code")}},
                 [weakSelf, completed](NRHTTPRequest *request, VNErrorPtr error) {
                     auto me = weakSelf.lock();
                     if (error)
                         VNLog::log(QStringLiteral("QNGooglePhotosHander processOAuthLogin error %1").arg(error->localizedDescription()));
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
    const auto keep = self();  // what is stopped below may hold the handler's last reference
    QNCloudInterface::cancel();
    if (m_currentFetcher)
        m_currentFetcher->stopFetching();
    for (const auto &ticket : m_tickets)
        ticket->cancelTicket();
    m_tickets.clear();
    if (m_currentRequest)
        m_currentRequest->clearDelegatesAndCancel();
    m_actionBlock = nullptr;
    // No answer follows: what the operation would have answered with goes now.
    m_operation = {};
    takeQuotaCompleted();
    takeListDocumentsCompleted();
    takeDownloadCompleted();
    takeUploadCompleted();
    takeCreateFolderCompleted();
    takeRemoveCompleted();
    takeRenameCompleted();
    takeLinkCompleted();
}

// --- The run of every operation -------------------------------------------------------

void QNGooglePhotosHandler::runOperation(Operation operation) {
    m_operation = std::move(operation);
    refreshAccessToken([this](NRHTTPRequest *request, VNErrorPtr error) { tokenAnswered(request, error); });
}

void QNGooglePhotosHandler::tokenAnswered(NRHTTPRequest *request, const VNErrorPtr &error) {
    if (error) {
        VNLog::log(m_operation.refreshLog.arg(error->localizedDescription()));
        failOperation(error);
        return;
    }
    if (m_accessToken.isEmpty()) {
        auto e = errorFromDomain(kDomain, QString(m_operation.noTokenMessage).replace(QStringLiteral("%@"), replyErrorEntry(request)));
        VNLog::log(m_operation.noTokenLog.arg(e->localizedDescription()));
        failOperation(e);
        return;
    }
    resolveEntry(m_operation.target);
}

void QNGooglePhotosHandler::failOperation(const VNErrorPtr &error) {
    if (m_operation.fail)  // none after cancel()
        m_operation.fail(error);
}

void QNGooglePhotosHandler::entryResolved(const DAObjectPtr &entry, const VNErrorPtr &error) {
    if (isCancelled())
        return;
    if (error)
        failOperation(error);
    else
        (this->*m_operation.step)(entry);
}

void QNGooglePhotosHandler::answerDocument(QNDocumentCallback completed, const QNDocumentPtr &document, const VNErrorPtr &error) {
    if (completed && !isCancelled())
        completed(document, error, false);
}

QNGooglePhotosHandler::FetchAnswer QNGooglePhotosHandler::fetchAnswer(FetchAnswer answer) {
    // The answered ticket leaves the handler: it keeps this completion (to run
    // the fetch again after a new sign-in), which holds the handler.
    return [me = self(), answer = std::move(answer)](const DAServiceTicketPtr &ticket, const DAObjectPtr &object,
                                                     const VNErrorPtr &error) {
        me->m_tickets.removeOne(ticket);
        answer(ticket, object, error);
    };
}

QNGooglePhotosHandler::FetchAnswer QNGooglePhotosHandler::fetchAnswer(FetchAnswerMember answer) {
    return fetchAnswer([this, answer](const DAServiceTicketPtr &ticket, const DAObjectPtr &object, const VNErrorPtr &error) {
        (this->*answer)(ticket, object, error);
    });
}

void QNGooglePhotosHandler::track(const DAServiceTicketPtr &ticket) {
    if (ticket)
        m_tickets.append(ticket);
}

// --- Quota ---------------------------------------------------------------------------

void QNGooglePhotosHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    setQuotaCompleted(std::move(completed));
    runOperation({QStringLiteral("QNGooglePhotosHander quota error %1"), QStringLiteral("QNGooglePhotosHandler quota failed %1"),
                  QStringLiteral("List documents failed, %@"), nullptr,
                  [this](const VNErrorPtr &e) {
                      if (auto completed = takeQuotaCompleted(); completed && !isCancelled())
                          completed(e, false);
                  },
                  &QNGooglePhotosHandler::quotaStep});
}

void QNGooglePhotosHandler::quotaStep(const DAObjectPtr &) {
    const QUrl url = DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {});
    const DAServiceTicketPtr ticket = m_googleService->fetchFeedWithURL(
        url, fetchAnswer(&QNGooglePhotosHandler::quotaFinishedWithTicket), DAFeedPhotoUser::staticClass());
    if (!ticket) {
        // No fetch started, so none will answer: the quota ends here, unread.
        if (auto completed = takeQuotaCompleted(); completed && !isCancelled())
            completed(nullptr, true);
        return;
    }
    track(ticket);
}

void QNGooglePhotosHandler::quotaFinishedWithTicket(const DAServiceTicketPtr &, const DAObjectPtr &object,
                                                    const VNErrorPtr &error) {
    // The counts are written whether the fetch failed or not: zero then.
    auto feed = std::dynamic_pointer_cast<DAFeedPhotoUser>(object);
    if (auto config = driveConfig()) {
        config->setTotalBytes(feed ? feed->quotaLimit().value_or(0) : 0);
        config->setUsedBytes(feed ? feed->quotaUsed().value_or(0) : 0);
        config->setAvailableBytes(config->totalBytes() - config->usedBytes());
        config->setSharedBytes(0);
    }
    failOperation(error);
}

// --- List ----------------------------------------------------------------------------

void QNGooglePhotosHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    setListDocumentsCompleted(std::move(completed));
    m_currentPath = folder && !folder->path().isEmpty() ? folder->path() : QStringLiteral("/");
    m_currentFolder = folder;
    runOperation({QStringLiteral("QNGooglePhotosHander listDocuments error %1"),
                  QStringLiteral("QNGooglePhotosHandler listDocuments failed %1"), QStringLiteral("List documents failed, %@"),
                  folder,
                  [this, searchKeyword](const VNErrorPtr &e) {
                      if (auto completed = takeListDocumentsCompleted(); completed && !isCancelled())
                          completed(QNDocumentList(), searchKeyword, e, false);
                  },
                  &QNGooglePhotosHandler::listStep});
}

std::shared_ptr<DAQueryGooglePhotos> QNGooglePhotosHandler::showFilesInternal(const QString &folderPath,
                                                                             const DAObjectPtr &folderObject) {
    m_currentPath = folderPath;
    auto entry = std::dynamic_pointer_cast<DAEntryBase>(folderObject);
    auto link = entry ? entry->feedLink() : nullptr;
    const QUrl feedURL = link ? QUrl(link->href())
                              : DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {});
    auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(feedURL);
    query->setMaxResults(1000);
    return query;
}

void QNGooglePhotosHandler::listStep(const DAObjectPtr &folderEntry) {
    const auto query = showFilesInternal(m_currentPath, folderEntry);
    // A big album is read to its end, page by page.
    m_googleService->setServiceShouldFollowNextLinks(true);
    track(m_googleService->fetchFeedWithQuery(query, fetchAnswer(&QNGooglePhotosHandler::docListFetchTicket)));
}

void QNGooglePhotosHandler::docListFetchTicket(const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
    QNListCallback completed = takeListDocumentsCompleted();
    if (!completed || isCancelled())
        return;
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
    if (error || !feed) {
        VNLog::log(QStringLiteral("QNGooglePhotosHandler listDocuments fetch error %1")
                       .arg(error ? error->localizedDescription() : QStringLiteral("no feed")));
        completed(QNDocumentList(), QString(), codedError(QStringLiteral("Could not query files")), false);
        return;
    }
    auto feedHolder = std::make_shared<EntryHolder>(feed);
    QNDocumentList documents;
    int leftOut = 0;
    for (const auto &entry : feed->entries()) {
        const QString title = entry->title() ? entry->title()->stringValue() : QString();
        if (!isUsableName(title)) {
            VNLog::log(QStringLiteral("QNGooglePhotosHandler skipped an entry with an unusable name"));
            ++leftOut;
            continue;
        }
        auto document = documentFromEntry(entry, m_currentPath);
        document->setFeedPhotoAlbum(feedHolder);
        documents.append(document);
    }
    if (m_currentFolder)
        m_currentFolder->setLeftOutCount(leftOut);
    completed(documents, QString(), nullptr, false);
}

// --- Progress and the JSON form's readers ---------------------------------------------

void QNGooglePhotosHandler::setProgress(float fraction) {
    if (auto progress = downloadProgress())
        progress(double(fraction));
    else if (auto progress = uploadProgress())
        progress(double(fraction));
}

QString QNGooglePhotosHandler::stringFromEntry(const QVariantMap &entry, const QString &key) {
    return entry.value(key).toMap().value(QStringLiteral("$t")).toString();
}

qint64 QNGooglePhotosHandler::longLongFromEntry(const QVariantMap &entry, const QString &key) {
    return DAUtilities::longLongValueForString(stringFromEntry(entry, key));
}

QDateTime QNGooglePhotosHandler::dateFromEntry(const QVariantMap &entry, const QString &key) {
    // Cut to 19 characters, only the local "yyyy-MM-ddTHH:mm:ss" stamp among
    // the service date forms can still read.
    return QNUtils::dateFromString(stringFromEntry(entry, key).left(19));
}

// --- Download ------------------------------------------------------------------------

void QNGooglePhotosHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                     QNDocumentCallback completed) {
    setDownloadProgress(std::move(progress));
    setDownloadCompleted(std::move(completed));
    m_document = document;
    m_destination = destPath;
    runOperation({QStringLiteral("QNGooglePhotosHander download error %1"), QStringLiteral("QNGooglePhotosHandler download failed %1"),
                  QStringLiteral("Download failed, no access_token"), document,
                  [this](const VNErrorPtr &e) { answerDocument(takeDownloadCompleted(), nullptr, e); },
                  &QNGooglePhotosHandler::downloadStep});
}

void QNGooglePhotosHandler::downloadStep(const DAObjectPtr &resolved) {
    auto entry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
    auto photo = std::dynamic_pointer_cast<DAEntryPhoto>(resolved);
    m_documentSize = m_document && m_document->size() > 0 ? m_document->size() : photo ? photo->size().value_or(0) : 0;
    auto selfLink = entry ? entry->selfLink() : nullptr;
    if (!selfLink) {
        answerDocument(takeDownloadCompleted(), nullptr, codedError(QStringLiteral("Could not download file")));
        return;
    }
    auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(QUrl(selfLink->href()));
    query->setImageSize(DAQueryGooglePhotos::originalImageSize);
    auto entryTicket = m_googleService->fetchEntryWithURL(query->URL(), fetchAnswer(&QNGooglePhotosHandler::ticket),
                                                          DAEntryPhoto::staticClass());
    if (entryTicket)
        entryTicket->setProperty(QStringLiteral("save path"), m_destination ? m_destination->path() : QString());
    track(entryTicket);
}

void QNGooglePhotosHandler::ticket(const DAServiceTicketPtr &serviceTicket, const DAObjectPtr &object, const VNErrorPtr &error) {
    if (error) {
        VNLog::log(QStringLiteral("ticket error %1").arg(error->localizedDescription()));
        answerDocument(takeDownloadCompleted(), nullptr, error);
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
        answerDocument(takeDownloadCompleted(), nullptr, codedError(QStringLiteral("Could not download file")));
        return;
    }
    const QString savePath = serviceTicket ? serviceTicket->property(QStringLiteral("save path")).toString() : QString();
    const QUrl mediaURL(content->URLString());
    HFURLRequest request = m_googleService->requestForURL(mediaURL, QString(), QString());
    // The access token is for the service's own host only.
    if (!sameHost(mediaURL, QUrl(DAServiceGooglePhotos::serviceRootURLString())))
        request.removeHeader(QStringLiteral("Authorization"));
    auto media = m_googleService->fetcherService()->fetcherWithRequest(request);
    m_currentFetcher = media;
    media->setDownloadPath(savePath);
    std::weak_ptr<HFHTTPFetcher> weakFetcher = media;
    std::weak_ptr<QNGooglePhotosHandler> weakSelf = self();
    media->setReceivedDataBlock([weakFetcher, weakSelf](const QByteArray &data) {
        auto f = weakFetcher.lock();
        if (auto me = weakSelf.lock(); me && f)
            me->fetcher(f.get(), data);
    });
    // The fetcher holds the handler until it has answered or is stopped.
    media->beginFetchWithCompletionHandler([me = self(), weakFetcher](const QByteArray &data, const VNErrorPtr &error) {
        auto f = weakFetcher.lock();
        me->fetcher(f.get(), data, error);
    });
}

void QNGooglePhotosHandler::fetcher(HFHTTPFetcher *mediaFetcher, const QByteArray &) {
    const qint64 expected = mediaFetcher->response() ? mediaFetcher->response()->expectedContentLength() : -1;
    const qint64 done = mediaFetcher->downloadedLength();
    if (expected > 0)
        setProgress(float(done) / float(expected));
    else if (m_documentSize > 0)
        setProgress(float(done) / float(m_documentSize));
}

void QNGooglePhotosHandler::fetcher(HFHTTPFetcher *mediaFetcher, const QByteArray &, const VNErrorPtr &error) {
    m_currentFetcher.reset();  // over: nothing to stop any more
    const QString savePath = mediaFetcher ? mediaFetcher->downloadPath() : m_destination ? m_destination->path() : QString();
    if (error) {
        // The fetcher wrote only its own temporary file, which it has
        // removed: what is at the destination is not this download's.
        VNLog::log(QStringLiteral("fetcher error %1").arg(error->localizedDescription()));
        answerDocument(takeDownloadCompleted(), nullptr, error);
        return;
    }
    answerDocument(takeDownloadCompleted(), QNDocument::withPath(savePath), nullptr);
}

// --- Upload --------------------------------------------------------------------------

void QNGooglePhotosHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                   QNDocumentCallback completed) {
    setUploadProgress(std::move(progress));
    setUploadCompleted(std::move(completed));
    m_document = document;
    m_uploadAlbumPath = destPath ? destPath->path() : QString();
    runOperation({QStringLiteral("QNGooglePhotosHandler upload error %1"), QStringLiteral("QNGooglePhotosHandler upload failed %1"),
                  QStringLiteral("Upload failed, no access_token"), destPath,
                  [this](const VNErrorPtr &e) { answerDocument(takeUploadCompleted(), nullptr, e); },
                  &QNGooglePhotosHandler::uploadStep});
}

void QNGooglePhotosHandler::uploadStep(const DAObjectPtr &folderEntry) {
    const QString path = m_document ? m_document->path() : QString();
    const QString name = lastComponent(path);
    QFile file(path);
    if (path.isEmpty() || QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        answerDocument(takeUploadCompleted(), nullptr, codedError(QStringLiteral("Could not upload file")));
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
    if (auto progress = uploadProgress())
        m_googleService->setServiceUploadProgressHandler([progress](const DAServiceTicketPtr &, quint64 delivered, quint64 total) {
            if (total > 0)
                progress(float(delivered) / float(total));
        });
    auto album = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(folderEntry);
    const QString albumID = album ? album->GPhotoID() : QStringLiteral("default");
    if (!album)
        m_uploadAlbumPath.clear();  // the service picks the album; its name is not known here
    const QUrl url(DAServiceGooglePhotos::photoHostURLString() +
                   QStringLiteral("/data/upload/resumable/media/create-session/feed/api/user/default/albumid/") + albumID);
    track(m_googleService->fetchEntryByInsertingEntry(entry, url, fetchAnswer(&QNGooglePhotosHandler::copyFileTicket)));
    m_googleService->setServiceUploadProgressHandler(nullptr);  // the ticket has its copy
}

void QNGooglePhotosHandler::copyFileTicket(const DAServiceTicketPtr &, const DAObjectPtr &object,
                                           const VNErrorPtr &error) {
    // The new photo as the service answered it, with its own id and entry:
    // a caller that goes on with it (a save-back's record) finds that photo,
    // not the one it replaced. Into the default album the place is unknown,
    // and nothing is answered.
    auto photo = std::dynamic_pointer_cast<DAEntryBase>(object);
    const QString title = photo && photo->title() ? photo->title()->stringValue() : QString();
    if (!error && photo && !m_uploadAlbumPath.isEmpty() && isUsableName(title))
        answerDocument(takeUploadCompleted(), documentFromEntry(photo, m_uploadAlbumPath), nullptr);
    else
        answerDocument(takeUploadCompleted(), nullptr, error);
}

// --- Create folder -------------------------------------------------------------------

void QNGooglePhotosHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    setCreateFolderCompleted(std::move(completed));
    m_folderName = name;
    m_destination = destPath;
    runOperation({QStringLiteral("QNGooglePhotosHandler createFolder error %1"),
                  QStringLiteral("QNGooglePhotosHandler create folder failed %1"), QStringLiteral("Create folder failed, no access_token"),
                  destPath, [this](const VNErrorPtr &e) { answerDocument(takeCreateFolderCompleted(), nullptr, e); },
                  &QNGooglePhotosHandler::createFolderStep});
}

void QNGooglePhotosHandler::createFolderStep(const DAObjectPtr &parentEntry) {
    auto entry = DAEntryPhotoAlbum::albumEntry();
    entry->setTitleWithString(m_folderName);
    auto parent = std::dynamic_pointer_cast<DAEntryBase>(parentEntry);
    QUrl url = DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {});
    if (parent) {
        // Inside the parent's feed only: without one the album would be made
        // somewhere else than asked (at the root).
        auto link = parent->feedLink();
        if (!link || link->href().isEmpty()) {
            answerDocument(takeCreateFolderCompleted(), nullptr,
                           codedError(QStringLiteral("\u201c%1\u201d cannot hold an album").arg(m_destination ? m_destination->path() : QString())));
            return;
        }
        entry->setParent(parent);
        url = QUrl(link->href());
    }
    track(m_googleService->fetchEntryByInsertingEntry(entry, url, fetchAnswer(&QNGooglePhotosHandler::createFolderTicket)));
}

void QNGooglePhotosHandler::createFolderTicket(const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
    // The new album as a folder, for callers that go on into it (copy tasks).
    auto album = std::dynamic_pointer_cast<DAEntryBase>(object);
    const QString title = album && album->title() ? album->title()->stringValue() : QString();
    const QString parentPath = m_destination && !m_destination->path().isEmpty() ? m_destination->path() : QStringLiteral("/");
    if (!error && album && isUsableName(title))
        answerDocument(takeCreateFolderCompleted(), documentFromEntry(album, parentPath), nullptr);
    else
        answerDocument(takeCreateFolderCompleted(), nullptr, error);
}

// --- Remove --------------------------------------------------------------------------

void QNGooglePhotosHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    setRemoveCompleted(std::move(completed));
    runOperation({QStringLiteral("QNGooglePhotosHandler remove error %1"), QStringLiteral("QNGooglePhotosHandler remove failed %1"),
                  QStringLiteral("Remove file/folder failed, no access_token"), document,
                  [this](const VNErrorPtr &e) { answerDocument(takeRemoveCompleted(), nullptr, e); },
                  &QNGooglePhotosHandler::removeStep});
}

void QNGooglePhotosHandler::removeStep(const DAObjectPtr &resolved) {
    auto entry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
    if (!entry) {
        answerDocument(takeRemoveCompleted(), nullptr, codedError(QStringLiteral("Could not remove file")));
        return;
    }
    track(m_googleService->deleteEntry(entry, fetchAnswer(&QNGooglePhotosHandler::removePathTicket)));
}

void QNGooglePhotosHandler::removePathTicket(const DAServiceTicketPtr &, const DAObjectPtr &, const VNErrorPtr &error) {
    answerDocument(takeRemoveCompleted(), nullptr, error);
}

// --- Rename --------------------------------------------------------------------------

void QNGooglePhotosHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    setRenameCompleted(std::move(completed));
    m_destination = name;
    runOperation({QStringLiteral("QNGooglePhotosHandler rename error %1"), QStringLiteral("QNGooglePhotosHandler rename failed %1"),
                  QStringLiteral("Rename file/folder failed, no access_token"), document,
                  [this](const VNErrorPtr &e) { answerDocument(takeRenameCompleted(), nullptr, e); },
                  &QNGooglePhotosHandler::renameStep});
}

void QNGooglePhotosHandler::renameStep(const DAObjectPtr &resolved) {
    auto entry = std::dynamic_pointer_cast<DAEntryBase>(resolved);
    if (!entry || !m_destination) {
        answerDocument(takeRenameCompleted(), nullptr, codedError(QStringLiteral("Could not rename file")));
        return;
    }
    entry->setTitleWithString(lastComponent(m_destination->path()));
    // An entry read inside a feed declares none of the feed's namespaces.
    QMap<QString, QString> namespaces = DAServiceGooglePhotos::standardServiceNamespaces();
    namespaces.insert(entry->namespaces());
    entry->setNamespaces(namespaces);
    m_renamedEntry = entry;
    // Cut off on its way, the update may still be carried out: its answer
    // alone tells where the item is.
    sendsToItsAnswer();
    track(m_googleService->fetchEntryByUpdatingEntry(entry, fetchAnswer(&QNGooglePhotosHandler::renameFileTicket)));
}

void QNGooglePhotosHandler::renameFileTicket(const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
    // The listed entry goes on as the renamed one: the server's new ETag is
    // the one a later change of it (the backup's removal) must send.
    if (auto updated = std::dynamic_pointer_cast<DAEntryBase>(object);
        m_renamedEntry && updated && !error && !updated->ETag().isEmpty())
        m_renamedEntry->setETag(updated->ETag());
    answerDocument(takeRenameCompleted(), nullptr, error);
}

void QNGooglePhotosHandler::renameFinished(NRHTTPRequest *) { answerDocument(takeRenameCompleted(), nullptr, nullptr); }

void QNGooglePhotosHandler::renameFailed(NRHTTPRequest *request) {
    const VNErrorPtr error = request ? request->error() : nullptr;
    VNLog::log(QStringLiteral("renameFailed: %1").arg(error ? error->localizedDescription() : QStringLiteral("(null)")));
    answerDocument(takeRenameCompleted(), nullptr, error);
}

// --- Share link ----------------------------------------------------------------------

void QNGooglePhotosHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    setLinkCompleted(std::move(completed));
    m_document = document;
    runOperation({QStringLiteral("QNGooglePhotosHandler linkForDocument error %1"), QStringLiteral("QNGooglePhotosHandler link failed %1"),
                  QStringLiteral("Sharing link failed, no access_token"), nullptr,
                  [this](const VNErrorPtr &e) { answerDocument(takeLinkCompleted(), nullptr, e); },
                  &QNGooglePhotosHandler::linkStep});
}

void QNGooglePhotosHandler::linkStep(const DAObjectPtr &) {
    const QString resourceId = m_document ? m_document->gdResourceId() : QString();
    if (resourceId.isEmpty()) {
        answerDocument(takeLinkCompleted(), nullptr, codedError(QStringLiteral("Sharing link failed, no resource id")));
        return;
    }
    const QByteArray body =
        "<entry xmlns='http://www.w3.org/2005/Atom' xmlns:gAcl='http://schemas.google.com/acl/2007'>"
        "<category scheme='http://schemas.google.com/g/2005#kind' "
        "term='http://schemas.google.com/acl/2007#accessRule'/>"
        "<gAcl:withKey key='blank_tag'><gAcl:role value='reader'/></gAcl:withKey>"
        "<gAcl:scope type='default'/></entry>";
    auto request = NRHTTPRequest::requestWithURL(QUrl(QNServiceHosts::url(QStringLiteral("google.docs")) +
                                                      QStringLiteral("/feeds/default/private/full/") +
                                                      QString::fromUtf8(QUrl::toPercentEncoding(resourceId, ":")) +
                                                      QStringLiteral("/acl")));
    request->setRequestMethod(QStringLiteral("POST"));
    request->addRequestHeader(QStringLiteral("GData-Version"), QStringLiteral("3.0"));
    request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("OAuth %1").arg(m_accessToken));
    request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/atom+xml; charset=utf-8"));
    request->appendPostData(body);
    // The request holds the handler until it has answered or is cancelled.
    std::weak_ptr<NRHTTPRequest> weakRequest = request;
    request->setCompletionBlock([me = self(), weakRequest] {
        if (auto r = weakRequest.lock())
            me->linkFinished(r.get(), false);
    });
    request->setFailedBlock([me = self(), weakRequest] {
        if (auto r = weakRequest.lock())
            me->linkFinished(r.get(), true);
    });
    m_currentRequest = request;
    request->startAsynchronous();
}

void QNGooglePhotosHandler::linkFinished(NRHTTPRequest *request, bool failed) {
    m_currentRequest.reset();  // over: nothing to stop any more
    if (failed) {
        answerDocument(takeLinkCompleted(), nullptr, request->error() ? request->error() : codedError(QStringLiteral("Sharing link failed")));
        return;
    }
    if (request->responseStatusCode() >= 400) {
        answerDocument(takeLinkCompleted(), nullptr, codedError(request->responseStatusMessage()));
        return;
    }
    const QString resourceId = m_document->gdResourceId();
    const qsizetype colon = resourceId.indexOf(QLatin1Char(':'));
    const QString id = colon < 0 ? resourceId : resourceId.mid(colon + 1).section(QLatin1Char(':'), 0, 0);
    m_document->setLink(QNServiceHosts::url(QStringLiteral("google.docs")) + QStringLiteral("/fileview?id=") + id);
    m_document->setLinkEndDate(QDateTime());
    answerDocument(takeLinkCompleted(), m_document, nullptr);
}

// --- Documents known only by their path --------------------------------------------

void QNGooglePhotosHandler::resolveEntry(const QNDocumentPtr &document) {
    if (auto entry = entryOf(document)) {
        entryResolved(entry, nullptr);
        return;
    }
    const QStringList names = (document ? document->path() : QString()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        entryResolved(nullptr, nullptr);  // the root
        return;
    }
    if (names.size() > 2) {
        entryResolved(nullptr, codedError(QStringLiteral("/%1 was not found").arg(names.join(QLatin1Char('/')))));
        return;
    }
    // Albums from the user feed, then (for a photo) the album's photos. A
    // document with an id is that entry alone: another of its title never
    // stands in for it.
    m_resolvedId = document->id();
    m_albumsLeft.clear();
    resolveFeed(DAServiceGooglePhotos::photoFeedURLForUserID(QStringLiteral("default"), {}, {}, {}, {}, {}), names, 0);
}

void QNGooglePhotosHandler::resolveFeed(const QUrl &feedURL, const QStringList &names, int depth) {
    auto query = DAQueryGooglePhotos::photoQueryWithFeedURL(feedURL);
    query->setMaxResults(1000);
    m_googleService->setServiceShouldFollowNextLinks(true);
    // The fetch holds the handler until it has answered or is cancelled;
    // nothing else holds this search.
    track(m_googleService->fetchFeedWithURL(
        query->URL(), fetchAnswer([this, names, depth](const DAServiceTicketPtr &, const DAObjectPtr &object,
                                                       const VNErrorPtr &error) { resolveFeedFetched(names, depth, object, error); })));
}

void QNGooglePhotosHandler::resolveFeedFetched(const QStringList &names, int depth, const DAObjectPtr &object,
                                               const VNErrorPtr &error) {
    const QString path = QLatin1Char('/') + names.join(QLatin1Char('/'));
    if (error) {
        entryResolved(nullptr, error);
        return;
    }
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
    const bool last = depth + 1 == names.size();
    const bool byId = last && !m_resolvedId.isEmpty();
    QList<DAEntryBasePtr> matches;
    for (const auto &entry : feed ? feed->entries() : QList<DAEntryBasePtr>()) {
        if (byId ? entryIdOf(entry) == m_resolvedId : entry->title() && entry->title()->stringValue() == names.at(depth))
            matches.append(entry);
    }
    // Titles repeat: a name that several entries carry tells none of them,
    // and a change made to the first of them could be a change to another
    // photo than the one meant.
    if (!byId && matches.size() > 1 && (last || m_resolvedId.isEmpty())) {
        entryResolved(nullptr, codedError(QStringLiteral("%1 names more than one item; it cannot be told which one is meant")
                                              .arg(QLatin1Char('/') + names.mid(0, depth + 1).join(QLatin1Char('/')))));
        return;
    }
    if (last && !matches.isEmpty()) {
        entryResolved(matches.first(), nullptr);
        return;
    }
    if (!last) {
        // A photo known by its id may sit in any album of that title: each
        // is looked into in turn.
        for (const auto &album : matches)
            if (auto link = album->feedLink())
                m_albumsLeft.append(QUrl(link->href()));
    }
    if (!m_albumsLeft.isEmpty()) {
        resolveFeed(m_albumsLeft.takeFirst(), names, 1);
        return;
    }
    entryResolved(nullptr, codedError(QStringLiteral("%1 was not found").arg(path)));
}
