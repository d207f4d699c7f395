#include "Cloud/QNWebDAVHandler.h"

#include "Cloud/QNWebDAVListingReader.h"

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNUtils.h"
#include "Formats/DXJsonExtensions.h"
#include "Formats/XTDocument.h"
#include "Formats/XTElement.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <limits>

namespace {

const QString kDAV = QStringLiteral("DAV:");
std::atomic<int> g_wiFiDiskQuotaPort{0};

// The sum of two sizes a server reported. Figures too large (or too
// negative) to add up give the largest (smallest) size instead of wrapping
// round to a nonsense one.
qint64 addSizes(qint64 a, qint64 b) {
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return a > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

XTNamespaceMappings davMappings() {
    return {{QStringLiteral("D"), kDAV}};
}

QString withTrailingSlash(const QString &path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString lastPathComponent(const QString &path) {
    const QString trimmed = withoutTrailingSlashes(path);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? trimmed : trimmed.mid(slash + 1);
}

QString joinPath(const QString &folder, const QString &name) {
    return withTrailingSlash(folder.isEmpty() ? QStringLiteral("/") : folder) + name;
}

// Walks the reply's libxml2 nodes directly: a listing of thousands of
// entries would otherwise make a wrapper object for every element it passes.
bool isDAVElement(xmlNodePtr node, const char *localName) {
    return node && node->type == XML_ELEMENT_NODE && node->ns && node->ns->href &&
           xmlStrcmp(node->ns->href, BAD_CAST "DAV:") == 0 && xmlStrcmp(node->name, BAD_CAST localName) == 0;
}

// The first DAV: child element of a given local name, or null.
xmlNodePtr davChild(xmlNodePtr element, const char *localName) {
    if (!element)
        return nullptr;
    for (xmlNodePtr child = element->children; child; child = child->next)
        if (isDAVElement(child, localName))
            return child;
    return nullptr;
}

// All text beneath a node, as stringValue() gives it.
QString textOf(xmlNodePtr node) {
    if (!node)
        return QString();
    xmlChar *content = xmlNodeGetContent(node);
    if (!content)
        return QString(QLatin1String(""));
    QString text = QString::fromUtf8(reinterpret_cast<const char *>(content));
    xmlFree(content);
    return text;
}

bool isMultistatus(const XTDocumentPtr &document) {
    const auto root = document ? document->rootElement() : nullptr;
    return root && root->localName() == QLatin1String("multistatus") && root->URI() == kDAV;
}

VNErrorPtr notWebDAVReplyError() {
    return QNWebDAVHandler::handlerError(QStringLiteral("The server's reply is not a WebDAV answer."));
}

// A sibling of the destination for a download in progress.
QString partialPathBeside(const QString &destination, const QString &tag) {
    return VNPartName::beside(QFileInfo(destination).absoluteFilePath(), VNPartName::randomSuffix(tag, 32));
}

}  // namespace

QNWebDAVHandler::QNWebDAVHandler() = default;

QNWebDAVHandler::QNWebDAVHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

QNWebDAVHandler::~QNWebDAVHandler() = default;

QString QNWebDAVHandler::className() const {
    return QStringLiteral("QNWebDAVHandler");
}

QString QNWebDAVHandler::errorDomain() {
    return QStringLiteral("QNWebDavHander");
}

VNErrorPtr QNWebDAVHandler::handlerError(const QString &message) {
    // The message is also the description, so alerts show it rather than a
    // bare domain and code.
    return std::make_shared<VNError>(errorDomain(), 42,
                                     QVariantMap{{QStringLiteral("error"), message},
                                                 {VNError::localizedDescriptionKey(), message}});
}

VNErrorPtr QNWebDAVHandler::statusError(const NRHTTPRequest &request) {
    const QString statusLine = request.responseStatusMessage();
    // "HTTP/1.1 409 Conflict" -> "409 Conflict"; a reply without a reason
    // phrase still names its status.
    QString status = statusLine.section(QLatin1Char(' '), 1).trimmed();
    if (status.isEmpty())
        status = QString::number(request.responseStatusCode());
    const QString description = QStringLiteral("The server answered %1 to %2 %3.")
                                    .arg(status, request.requestMethod(),
                                         request.url().path(QUrl::FullyDecoded));
    return std::make_shared<VNError>(errorDomain(), 42,
                                     QVariantMap{{QStringLiteral("error"), statusLine},
                                                 {VNError::localizedDescriptionKey(), description}});
}

void QNWebDAVHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::WebDAV,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNWebDAVHandler>(config);
                                             });
}

NRHTTPRequestPtr QNWebDAVHandler::currentRequest() const {
    std::lock_guard<std::mutex> lock(m_requestMutex);
    return m_currentRequest;
}

void QNWebDAVHandler::setCurrentRequest(NRHTTPRequestPtr request) {
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_currentRequest = std::move(request);
}

std::shared_ptr<QNWebDAVHandler> QNWebDAVHandler::sharedHandler() {
    return std::static_pointer_cast<QNWebDAVHandler>(shared_from_this());
}

// --- Hooks ------------------------------------------------------------------

QUrl QNWebDAVHandler::urlByAppendingPath(const QString &driveUrl, const QString &path) {
    QUrl url(driveUrl.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return QUrl();
    // The drive URL's own path stays as the user wrote it; the drive path is
    // added as plain text, so "%", "?", "#" and blanks in names are escaped.
    QString base = url.path(QUrl::FullyDecoded);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    QString tail = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
    url.setPath(base + tail, QUrl::DecodedMode);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

void QNWebDAVHandler::authorizeRequestForPath(const QString &path, AuthorizeCallback completion) {
    const auto config = driveConfig();
    const QUrl url = urlByAppendingPath(config ? config->url() : QString(), path);
    // A bad drive URL still makes a request: the engine fails it when started.
    auto request = NRHTTPRequest::requestWithURL(url);
    request->setShouldAttemptPersistentConnection(false);
    // Session credentials on (the engine's default): a request sends the
    // account's credentials kept for the nearest share at once, and one
    // refused in another share's realm or scheme is answered again with the
    // drive's own account (a Basic root next to a Digest "/dav").
    request->setUseSessionPersistence(true);
    if (config) {
        request->setUsername(config->username());
        request->setPassword(config->password());
    }
    completion(true, false, nullptr, request);
}

QString QNWebDAVHandler::requestDriveConfig() const {
    const auto config = driveConfig();
    return config ? config->url() : QString();
}

QString QNWebDAVHandler::formsPath() const {
    return QStringLiteral("");
}

// --- The common frame ---------------------------------------------------------

void QNWebDAVHandler::perform(Call call) {
    auto self = sharedHandler();
    const QString path = call.path;
    authorizeRequestForPath(path, [self, call = std::move(call)](bool success, bool cancelled, VNErrorPtr error,
                                                                  NRHTTPRequestPtr request) mutable {
        if (!success || cancelled || !request) {
            call.failed(error, cancelled);
            return;
        }
        self->run(request, std::move(call));
    });
}

void QNWebDAVHandler::setDestination(NRHTTPRequest &request, const QString &path) const {
    const auto config = driveConfig();
    const QUrl destination = urlByAppendingPath(config ? config->url() : QString(), path);
    request.addRequestHeader(QStringLiteral("Destination"), destination.toString(QUrl::FullyEncoded | QUrl::RemoveUserInfo));
}

void QNWebDAVHandler::run(const NRHTTPRequestPtr &request, Call call) {
    auto self = sharedHandler();
    const bool survivesCancel = call.survivesCancel;
    if (!survivesCancel)
        setCurrentRequest(request);
    // A cancel that came while the request was being prepared still counts.
    if (!survivesCancel && isCancelled()) {
        setCurrentRequest(nullptr);
        call.failed(nullptr, true);
        return;
    }
    if (call.runsToItsAnswer)
        sendsToItsAnswer();
    if (call.configure)
        call.configure(*request);
    if (call.applyCertificateSwitch) {
        const auto config = driveConfig();
        request->setValidatesSecureCertificate(config ? config->validateCertificates() : true);
    }
    // Only reads follow redirects. The engine turns a redirected request
    // into a GET, so a redirected PUT or DELETE would "succeed" by reading
    // something else; a listing keeps its method and body (the RFC 2616 way).
    const QString method = request->requestMethod();
    const bool isListing = method == QLatin1String("PROPFIND");
    if (isListing)
        request->setShouldUseRFC2616RedirectBehaviour(true);
    else if (method != QLatin1String("GET") && method != QLatin1String("HEAD"))
        request->setShouldRedirect(false);
    auto shared = std::make_shared<Call>(std::move(call));
    auto answered = std::make_shared<bool>(false);
    std::weak_ptr<NRHTTPRequest> weakRequest = request;
    auto decide = [self, shared, answered, weakRequest, isListing]() {
        auto req = weakRequest.lock();
        if (*answered || !req)
            return;
        *answered = true;
        if (!shared->survivesCancel)
            self->setCurrentRequest(nullptr);
        const int status = req->responseStatusCode();
        if (req->isCancelled()) {
            shared->failed(shared->passCancelError ? req->error() : nullptr, true);
        } else if (req->error()) {
            shared->failed(req->error(), false);
        } else if ((status == 401 || status == 403) && !shared->retried && self->authorizationRefused()) {
            shared->retried = true;
            self->perform(*shared);
        } else if (status >= 400) {
            shared->failed(shared->refused ? shared->refused(*req) : statusError(*req), false);
        } else if (status == 0) {
            shared->failed(handlerError(QStringLiteral("The server sent no reply.")), false);
        } else if (status >= 300) {
            // A redirect that was not followed did nothing of what was asked.
            shared->failed(statusError(*req), false);
        } else if (status == 207 && !isListing) {
            // A multi-status answer to DELETE, COPY or MOVE lists the members
            // that failed: any one of them fails the whole operation.
            if (VNErrorPtr failure = multiStatusFailure(req->responseData()))
                shared->failed(failure, false);
            else
                shared->succeeded(*req);
        } else {
            shared->succeeded(*req);
        }
    };
    request->setCompletionBlock(decide);
    request->setFailedBlock(decide);
    request->startAsynchronous();
}

VNErrorPtr QNWebDAVHandler::multiStatusFailure(const QByteArray &reply) {
    VNErrorPtr parseError;
    const auto document = XTDocument::initWithData(reply, &parseError);
    if (!document || !isMultistatus(document))
        return handlerError(QStringLiteral("The server answered with a multi-status reply that could not be read."));
    // The reader mends a reply cut short (the connection closed mid-body):
    // the members that did not arrive may be the failed ones.
    if (!reply.trimmed().endsWith("multistatus>"))
        return handlerError(QStringLiteral("The server's multi-status reply ended before it was complete."));
    const xmlNodePtr root = document->rootElement()->node();
    for (xmlNodePtr response = root->children; response; response = response->next) {
        if (!isDAVElement(response, "response"))
            continue;
        // The member's status, or that of its first property group.
        QString statusLine = textOf(davChild(response, "status")).trimmed();
        if (statusLine.isEmpty())
            statusLine = textOf(davChild(davChild(response, "propstat"), "status")).trimmed();
        const int code = statusLine.section(QLatin1Char(' '), 1, 1).toInt();
        if (code < 400 && !statusLine.isEmpty() && code != 0)
            continue;
        const QString href = QUrl::fromPercentEncoding(textOf(davChild(response, "href")).trimmed().toUtf8());
        const QString status = statusLine.section(QLatin1Char(' '), 1).trimmed();
        const QString message = QStringLiteral("The server answered %1 for %2.")
                                    .arg(status.isEmpty() ? QStringLiteral("no status") : status, href);
        return std::make_shared<VNError>(errorDomain(), 42,
                                         QVariantMap{{QStringLiteral("error"), statusLine},
                                                     {memberStatusKey(), code},
                                                     {memberHrefKey(), href},
                                                     {VNError::localizedDescriptionKey(), message}});
    }
    return nullptr;
}

void QNWebDAVHandler::cancel() {
    QNCloudInterface::cancel();
    if (auto request = currentRequest())
        request->cancel();
}

// --- Listing ----------------------------------------------------------------------

QByteArray QNWebDAVHandler::listingRequestBody() {
    auto propfind = XTNode::elementWithNameURI(QStringLiteral("propfind"), kDAV);
    auto prop = XTNode::elementWithNameURI(QStringLiteral("prop"), kDAV);
    for (const char *name : {"displayname", "getcontentlength", "getcontenttype", "resourcetype", "getlastmodified",
                             "creationdate"})
        prop->addChild(XTNode::elementWithNameURI(QString::fromLatin1(name), kDAV));
    propfind->addChild(prop);
    return XTNode::documentWithRootElement(propfind)->XMLData();
}

QNDocumentList QNWebDAVHandler::parseListing(const QByteArray &reply, const ListingContext &context,
                                             VNErrorPtr *error) {
    QNWebDAVListingReader reader(context);
    reader.feed(reply);
    return reader.finish(error);
}

void QNWebDAVHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    auto self = sharedHandler();
    const QString folderPath = folder && !folder->path().isEmpty() ? folder->path() : QStringLiteral("/");
    // The reply is read as it arrives, never held whole (a fresh reader for
    // each time the request is sent).
    auto reader = std::make_shared<std::shared_ptr<QNWebDAVListingReader>>();
    Call call;
    call.path = withTrailingSlash(folderPath);
    call.configure = [self, reader, folderPath](NRHTTPRequest &request) {
        // Read against the base the authorization arrived at (a sign-in may
        // have moved the drive's URL to its library).
        ListingContext context;
        context.folderPath = folderPath;
        context.baseURL = self->requestDriveConfig();
        context.formsPath = self->formsPath();
        const auto config = self->driveConfig();
        context.isDiskCast = config && config->isDiskCast();
        request.setRequestMethod(QStringLiteral("PROPFIND"));
        request.addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("text/xml; charset=\"utf-8\""));
        request.addRequestHeader(QStringLiteral("Depth"), QStringLiteral("1"));
        request.appendPostData(listingRequestBody());
        auto current = std::make_shared<QNWebDAVListingReader>(context);
        *reader = current;
        request.setDataReceivedBlock([current](const QByteArray &piece) { current->feed(piece); });
        request.setMaximumResponseDataSize(quint64(maximumListingBytes));
    };
    call.failed = [completed, searchKeyword](VNErrorPtr error, bool cancelled) {
        completed({}, searchKeyword, error, cancelled);
    };
    call.succeeded = [completed, searchKeyword, reader, folder](NRHTTPRequest &) {
        VNErrorPtr error;
        const QNDocumentList documents = (*reader)->finish(&error);
        if (error) {
            completed({}, searchKeyword, error, false);
            return;
        }
        if (folder)
            folder->setLeftOutCount((*reader)->leftOutCount());
        completed(documents, searchKeyword, nullptr, false);
    };
    perform(std::move(call));
}

void QNWebDAVHandler::login(QNLoginCallback completed) {
    auto self = sharedHandler();
    listDocuments(QNDocument::withPath(QStringLiteral("/"), true), QString(),
                  [self, completed](QNDocumentList, QString, VNErrorPtr error, bool cancelled) {
                      const bool success = !error && !cancelled;
                      if (success) {
                          if (auto config = self->driveConfig())
                              config->setDescription(QStringLiteral("SHOW DOCUMENTS ON THIS WEBDAV ACCOUNT"));
                      }
                      completed(success, error, cancelled);
                  });
}

// --- Transfers ---------------------------------------------------------------------

void QNWebDAVHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                               QNDocumentCallback completed) {
    auto self = sharedHandler();
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || destination.isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No file to download or no destination.")), false);
        return;
    }
    // The engine delivers the reply to a hidden file beside the destination,
    // which replaces the destination only when the server answered with
    // success: a refused or broken download leaves no file and never
    // clobbers an existing one.
    const QString received = partialPathBeside(destination, QStringLiteral("received"));
    // The engine reports received bytes only while it knows the reply's
    // length; a reply without one (chunked, compressed) would show no
    // progress until its end. The file the body is written to as it
    // arrives (kept beside the destination, so the last move is a rename)
    // tells how much came in any case: it is looked at too, and the larger
    // of the two figures counts.
    const QString arriving = partialPathBeside(destination, QStringLiteral("arriving"));
    struct Counters {
        quint64 reported = 0;  // sum of the engine's received-bytes callbacks
        quint64 onDisk = 0;    // size of the partial file when last looked at
        quint64 total = 1;
        quint64 received() const { return std::max(reported, onDisk); }
    };
    auto counters = std::make_shared<Counters>();
    if (document->size() > 0)
        counters->total = quint64(document->size());
    auto report = [counters, progress] {
        if (progress)
            progress(std::min(1.0, double(counters->received()) / double(counters->total)));
    };
    auto watch = std::make_shared<QTimer>();
    watch->setInterval(200);
    QObject::connect(watch.get(), &QTimer::timeout, [counters, report, arriving] {
        const qint64 size = QFileInfo(arriving).size();
        if (size > 0 && quint64(size) > counters->received()) {
            counters->onDisk = quint64(size);
            report();
        }
    });

    Call call;
    call.path = document->path();
    call.passCancelError = true;
    call.configure = [counters, report, received, arriving, watch](NRHTTPRequest &request) {
        request.setDownloadDestinationPath(received);
        request.setTemporaryFileDownloadPath(arriving);
        request.setShowAccurateProgress(true);
        // Only raises the total: for a reply of unknown length the engine
        // announces a size of 1, which would make any progress "done".
        request.setDownloadSizeIncrementedBlock([counters](qint64 size) {
            if (size > 0 && quint64(size) > counters->total)
                counters->total = quint64(size);
        });
        request.setBytesReceivedBlock([counters, report](qint64 size, qint64 total) {
            if (size > 0)
                counters->reported += quint64(size);
            if (total > 0 && quint64(total) > counters->total)
                counters->total = quint64(total);
            report();
        });
        watch->start();
    };
    call.failed = [completed, received, arriving, watch](VNErrorPtr error, bool cancelled) {
        watch->stop();
        QFile::remove(arriving);
        QFile::remove(received);
        completed(nullptr, error, cancelled);
    };
    call.succeeded = [completed, document, destination, received, watch, progress](NRHTTPRequest &) {
        watch->stop();
        // The whole file is here, whatever the counters said last.
        if (progress)
            progress(1.0);
        std::error_code ec;
        std::filesystem::rename(received.toStdString(), destination.toStdString(), ec);
        if (ec) {
            QFile::remove(received);
            completed(nullptr,
                      handlerError(QStringLiteral("The downloaded file could not be moved to %1: %2")
                                       .arg(destination, QString::fromStdString(ec.message()))),
                      false);
            return;
        }
        auto result = QNDocument::create();
        result->setId(document->id());
        result->setPath(destination);
        result->setDisplayName(QFileInfo(destination).fileName());
        completed(result, nullptr, false);
    };
    perform(std::move(call));
}

// --- Folders and items ----------------------------------------------------------

void QNWebDAVHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QChar(0))) {
        completed(nullptr, handlerError(QStringLiteral("\"%1\" is not a valid folder name.").arg(name)), false);
        return;
    }
    const QString path = joinPath(destPath ? destPath->path() : QStringLiteral("/"), name);
    Call call;
    // Collections are addressed with a trailing "/" (nginx refuses MKCOL without).
    call.path = withTrailingSlash(path);
    call.configure = [](NRHTTPRequest &request) { request.setRequestMethod(QStringLiteral("MKCOL")); };
    // Apache answers 405 also for a name longer than its disk takes (255
    // bytes): that refusal is no existing folder, and says its status.
    const bool nameTooLong = name.toUtf8().size() > 255;
    call.refused = [path, nameTooLong](const NRHTTPRequest &request) {
        if (request.responseStatusCode() == 405 && !nameTooLong)
            return handlerError(
                QStringLiteral("The folder %1 could not be created. Maybe the folder already exists?").arg(path));
        return statusError(request);
    };
    call.failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    call.succeeded = [completed, path, name](NRHTTPRequest &) {
        auto folder = QNDocument::create();
        folder->setPath(path);
        folder->setDisplayName(name);
        completed(folder, nullptr, false);
    };
    perform(std::move(call));
}

void QNWebDAVHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document || document->path().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No item to remove.")), false);
        return;
    }
    Call call;
    call.path = document->isDirectory() ? withTrailingSlash(document->path()) : document->path();
    call.configure = [](NRHTTPRequest &request) { request.setRequestMethod(QStringLiteral("DELETE")); };
    call.failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    call.succeeded = [completed, document](NRHTTPRequest &) { completed(document, nullptr, false); };
    perform(std::move(call));
}

void QNWebDAVHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    if (!document || !name || name->path().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No item to rename or no new name.")), false);
        return;
    }
    // A folder is moved as a collection on both sides: nginx refuses a
    // folder MOVE without the slashes and lighttpd redirects it.
    const bool folder = document->isDirectory();
    const QString from = withoutTrailingSlashes(document->path());
    const QString to = withoutTrailingSlashes(name->path());
    const QString destination = folder ? withTrailingSlash(to) : to;
    auto self = sharedHandler();
    Call call;
    call.path = folder ? withTrailingSlash(from) : from;
    call.configure = [self, destination](NRHTTPRequest &request) {
        request.setRequestMethod(QStringLiteral("MOVE"));
        self->setDestination(request, destination);
        // A rename must never replace another item of that name.
        request.addRequestHeader(QStringLiteral("Overwrite"), QStringLiteral("F"));
    };
    call.refused = [](const NRHTTPRequest &request) {
        if (request.responseStatusCode() == 412)
            return handlerError(QStringLiteral("An item of that name already exists (%1).")
                                    .arg(request.responseStatusMessage()));
        return statusError(request);
    };
    call.runsToItsAnswer = true;
    call.failed = [completed](VNErrorPtr error, bool cancelled) { completed(nullptr, error, cancelled); };
    // The document under its new name, as a document of its own: the one
    // given as the new name belongs to the caller.
    call.succeeded = [completed, name](NRHTTPRequest &) { completed(name->copy(), nullptr, false); };
    perform(std::move(call));
}

void QNWebDAVHandler::transferInside(const QString &method, QNDocumentPtr document, QNDocumentPtr target,
                                     QNDocumentCallback completed) {
    if (!document || !target || document->path().isEmpty()) {
        completed(nullptr, handlerError(QStringLiteral("No item or no target folder.")), false);
        return;
    }
    QString source = document->path();
    if (source.size() > 1 && source.endsWith(QLatin1Char('/')))
        source.chop(1);
    QString destinationPath = joinPath(target->path(), lastPathComponent(source));
    if (document->isDirectory()) {
        source = withTrailingSlash(source);
        destinationPath = withTrailingSlash(destinationPath);
    }
    auto self = sharedHandler();
    Call call;
    call.path = source;
    call.configure = [self, method, destinationPath](NRHTTPRequest &request) {
        request.setRequestMethod(method);
        self->setDestination(request, destinationPath);
        // Without it a server first deletes a same-named destination, a
        // whole folder included, and puts the source in its place.
        request.addRequestHeader(QStringLiteral("Overwrite"), QStringLiteral("F"));
    };
    const VNErrorPtr exists = handlerError(QStringLiteral("An item named %1 already exists; nothing was %2.")
                                               .arg(withoutTrailingSlashes(destinationPath),
                                                    method == QLatin1String("MOVE") ? QStringLiteral("moved")
                                                                                    : QStringLiteral("copied")));
    call.refused = [exists](const NRHTTPRequest &request) {
        return request.responseStatusCode() == 412 ? exists : statusError(request);
    };
    call.failed = [completed, exists, source](VNErrorPtr error, bool cancelled) {
        // A folder's refusal may come as a multi-status member: 412, or
        // (lighttpd, for a copy) 409 for the source folder itself.
        if (error && error->domain() == errorDomain()) {
            const int member = error->userInfo().value(memberStatusKey()).toInt();
            const QString href = error->userInfo().value(memberHrefKey()).toString();
            if (member == 412 || (member == 409 && withoutTrailingSlashes(href).endsWith(withoutTrailingSlashes(source))))
                error = exists;
        }
        completed(nullptr, error, cancelled);
    };
    call.succeeded = [completed, target](NRHTTPRequest &) { completed(target, nullptr, false); };
    perform(std::move(call));
}

void QNWebDAVHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(QStringLiteral("COPY"), std::move(document), std::move(name), std::move(completed));
}

void QNWebDAVHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(QStringLiteral("MOVE"), std::move(document), std::move(name), std::move(completed));
}

// --- Quota --------------------------------------------------------------------------

void QNWebDAVHandler::setWiFiDiskQuotaPortForTesting(int port) {
    g_wiFiDiskQuotaPort.store(port);
}

QUrl QNWebDAVHandler::wiFiDiskQuotaURL(const QString &driveUrl) {
    // The device answers on its own address and the scheme's port, whatever
    // port its file sharing uses.
    const QUrl drive(driveUrl.trimmed(), QUrl::TolerantMode);
    if (!drive.isValid() || drive.host().isEmpty())
        return QUrl();
    QUrl url;
    url.setScheme(drive.scheme().isEmpty() ? QStringLiteral("http") : drive.scheme());
    url.setHost(drive.host());
    const int testPort = g_wiFiDiskQuotaPort.load();
    if (testPort > 0)
        url.setPort(testPort);
    url.setPath(QStringLiteral("/rpc.cgi"));
    return url;
}

QByteArray QNWebDAVHandler::wiFiDiskQuotaRequestBody() {
    // Members in this order, "method" first, no blanks.
    const DXJsonObject call{{QStringLiteral("method"), QStringLiteral("pref-get")},
                            {QStringLiteral("arguments"),
                             DXJsonObject{{QStringLiteral("infos"), DXJsonArray(QList<DXJsonValue>{QStringLiteral("disk_list")})}}}};
    return JSONRepresentationData(call);
}

QByteArray QNWebDAVHandler::quotaRequestBody() {
    return QByteArrayLiteral(
        "<?xml version=\"1.0\" ?>\n"
        "<D:propfind xmlns:D=\"DAV:\">\n"
        "<D:prop>\n"
        "<D:quota-available-bytes/>\n"
        "<D:quota-used-bytes/>\n"
        "</D:prop>\n"
        "</D:propfind>");
}

bool QNWebDAVHandler::parseWiFiDiskQuota(const QByteArray &reply, qint64 *used, qint64 *available, qint64 *total,
                                         VNErrorPtr *error) {
    // The codec logs its own message for text that is not JSON.
    const DXJsonValue json = JSONValue(reply);
    const DXJsonValue &details = json["arguments"]["infos"]["disk_list"]["disk_detail"];
    if (!details.isArray()) {
        *error = handlerError(QStringLiteral("The Wi-Fi disk did not answer with its disk list."));
        return false;
    }
    qint64 usedSum = 0, availableSum = 0, totalSum = 0;
    for (const DXJsonValue &disk : details.toArray()) {
        for (const DXJsonValue &partition : disk["partition_detail"].toArray()) {
            usedSum = addSizes(usedSum, QNUtils::sizeToNumber(partition["used"].toString()));
            availableSum = addSizes(availableSum, QNUtils::sizeToNumber(partition["avai"].toString()));
            totalSum = addSizes(totalSum, QNUtils::sizeToNumber(partition["capacity"].toString()));
        }
    }
    *used = usedSum;
    *available = availableSum;
    *total = totalSum;
    return true;
}

bool QNWebDAVHandler::parseQuotaProperties(const QByteArray &reply, qint64 *available, qint64 *used,
                                           VNErrorPtr *error) {
    VNErrorPtr parseError;
    const auto document = XTDocument::initWithData(reply, &parseError);
    if (!document) {
        *error = parseError ? parseError : notWebDAVReplyError();
        return false;
    }
    if (!isMultistatus(document)) {
        *error = notWebDAVReplyError();
        return false;
    }
    auto firstValue = [&](const QString &name) -> qint64 {
        VNErrorPtr xpathError;
        const auto nodes = document->nodesForXPath(
            QStringLiteral("/D:multistatus/D:response/D:propstat/D:prop/D:") + name, davMappings(), &xpathError);
        if (nodes.isEmpty())
            return 0;
        return nodes.first()->stringValue().trimmed().toLongLong();
    };
    *available = firstValue(QStringLiteral("quota-available-bytes"));
    *used = firstValue(QStringLiteral("quota-used-bytes"));
    return true;
}

void QNWebDAVHandler::quota(QNDocumentPtr root, QNQuotaCallback completed) {
    const auto config = driveConfig();
    if (config && config->isDiskCast())
        quotaOfWiFiDisk(std::move(completed));
    else
        quotaByProperties(std::move(root), std::move(completed));
}

void QNWebDAVHandler::quotaOfWiFiDisk(QNQuotaCallback completed) {
    auto self = sharedHandler();
    const auto config = driveConfig();
    const QUrl url = wiFiDiskQuotaURL(config->url());
    if (!url.isValid()) {
        completed(handlerError(QStringLiteral("The Wi-Fi disk's address %1 is not a valid URL.").arg(config->url())),
                  false);
        return;
    }
    // Asked directly: the device's own call takes no credentials.
    auto request = NRHTTPRequest::requestWithURL(url);
    request->setShouldAttemptPersistentConnection(false);
    VNLog::log(QStringLiteral("WebDAV quota url: %1").arg(url.toString()));
    Call call;
    call.configure = [](NRHTTPRequest &request) {
        request.addRequestHeader(QStringLiteral("Accept"), QStringLiteral("application/json"));
        request.addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("json; charset=UTF-8"));
        request.appendPostData(wiFiDiskQuotaRequestBody());  // a body makes it a POST
    };
    call.failed = [completed](VNErrorPtr error, bool cancelled) { completed(cancelled ? nullptr : error, cancelled); };
    call.succeeded = [self, completed](NRHTTPRequest &request) {
        qint64 used = 0, available = 0, total = 0;
        VNErrorPtr error;
        if (!parseWiFiDiskQuota(request.responseData(), &used, &available, &total, &error)) {
            completed(error, false);
            return;
        }
        if (auto config = self->driveConfig()) {
            config->setUsedBytes(used);
            config->setAvailableBytes(available);
            config->setTotalBytes(total);
            config->setSharedBytes(0);
        }
        completed(nullptr, false);
    };
    run(request, std::move(call));
}

void QNWebDAVHandler::quotaByProperties(QNDocumentPtr root, QNQuotaCallback completed) {
    auto self = sharedHandler();
    Call call;
    call.path = withTrailingSlash(root && !root->path().isEmpty() ? root->path() : QStringLiteral("/"));
    call.configure = [](NRHTTPRequest &request) {
        request.setRequestMethod(QStringLiteral("PROPFIND"));
        request.setShouldAttemptPersistentConnection(false);
        request.addRequestHeader(QStringLiteral("Depth"), QStringLiteral("0"));
        request.addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("text/xml"));
        request.appendPostData(quotaRequestBody());
    };
    call.failed = [completed](VNErrorPtr error, bool cancelled) { completed(cancelled ? nullptr : error, cancelled); };
    call.succeeded = [self, completed](NRHTTPRequest &request) {
        qint64 available = 0, used = 0;
        VNErrorPtr error;
        if (!parseQuotaProperties(request.responseData(), &available, &used, &error)) {
            completed(error, false);
            return;
        }
        if (auto config = self->driveConfig()) {
            config->setAvailableBytes(available);
            config->setUsedBytes(used);
            config->setSharedBytes(0);
            // The reply has no total; the drive list shows available + used.
            config->setTotalBytes(addSizes(available, used));
        }
        completed(nullptr, false);
    };
    perform(std::move(call));
}
