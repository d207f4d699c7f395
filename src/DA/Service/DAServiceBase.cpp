#include "DA/Service/DAServiceBase.h"

#include "DA/BaseClasses/DAClasses.h"
#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DAServerErrorGroup.h"
#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"
#include "DA/HTTPFetcher/HFRunLoop.h"
#include "DA/HTTPFetcher/HFUserAgent.h"
#include "DA/XML/DAXMLDocument.h"
#include "Platform/VNOperationQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrlQuery>
#include <mutex>

namespace {

constexpr char kPasswordMask = char(0x5A);

std::mutex g_observerMutex;
DAServiceBase::NotificationObserver g_observer;

// Reaches the object model's choice of class for a feed or entry element.
struct ClassChooser : DAObject {
    static DAClass forRoot(const DAXMLElementPtr &root) {
        const bool feed = root->localName() == QLatin1String("feed");
        DAClass cls = registeredClassForElement(root, feed);
        const DAClass base = feed ? DAFeedBase::staticClass() : DAEntryBase::staticClass();
        return cls && cls->isSubclassOf(base) ? cls : base;
    }
};

}  // namespace

// What one fetch carries from its start to its delivery.
struct DAServiceBase::FetchContext {
    DAServiceTicketPtr ticket;
    DAClass objectClass = nullptr;
    Completion completion;
    QString method;
    HFRunLoop callbackLoop;
    DAObjectPtr parsedObject;
    VNErrorPtr parseError;
    bool emptyReply = false;
    // Taken from the ticket before the parse leaves the callback thread.
    DAServiceTicketBase::Surrogates surrogates;
    bool feedsIgnoreUnknowns = false;
};

const QString &DAServiceBase::errorDomain() {
    static const QString domain = QStringLiteral("org.varnello.DAServiceDomain");
    return domain;
}

void DAServiceBase::setNotificationObserver(NotificationObserver observer) {
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

void DAServiceBase::post(const QString &name, const DAServiceTicketPtr &ticket) {
    NotificationObserver observer;
    {
        std::lock_guard lock(g_observerMutex);
        observer = g_observer;
    }
    if (observer)
        observer(name, ticket);
}

DAServiceBase::DAServiceBase()
    : m_ownQueue(std::make_unique<VNOperationQueue>(QStringLiteral("data-API parsing"))),
      m_fetcherService(HFHTTPFetcherService::make()) {
    m_operationQueue = m_ownQueue.get();
    m_fetcherService->setShouldRememberETags(true);
}

QString DAServiceBase::description() const { return QStringLiteral("%1 %2").arg(className()).arg(quintptr(this), 0, 16); }

DAServiceBase::~DAServiceBase() {
    // Never waits from one of the queue's own workers: that wait includes
    // the operation it runs in.
    if (m_ownQueue && !m_ownQueue->isCurrentQueue())
        m_ownQueue->waitUntilAllOperationsAreFinished();
}

DAServiceTicketPtr DAServiceBase::makeTicket() { return std::make_shared<DAServiceTicketBase>(shared_from_this()); }

void DAServiceBase::setUserAgent(const QString &agent) { m_userAgent = HFUserAgent::HFUserAgentSafeString(agent); }

void DAServiceBase::setServiceProperty(const QString &key, const QVariant &value) {
    if (value.isValid())
        m_serviceProperties.insert(key, value);
    else
        m_serviceProperties.remove(key);
}

void DAServiceBase::setServiceUploadChunkSize(quint64 size) {
    m_uploadChunkSize = size == ~quint64(0) ? standardUploadChunkSize : size;
}

void DAServiceBase::setUserCredentials(const QString &username, const QString &password) {
    if (!username.isEmpty() && username != m_username)
        m_fetcherService->clearHistory();
    m_username = username;
    QByteArray bytes = password.toUtf8();
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    for (char &c : bytes)
        c ^= kPasswordMask;
    m_password = bytes;
}

void DAServiceBase::setAuthorizer(const std::shared_ptr<HFFetcherAuthorizationProtocol> &authorizer) {
    // Through the subclass too: a signed-in service drops its tokens.
    if (authorizer)
        setUserCredentials(QString(), QString());
    if (authorizer != m_fetcherService->authorizer()) {
        m_fetcherService->clearETaggedDataCache();
        m_fetcherService->setAuthorizer(authorizer);
    }
}

QString DAServiceBase::password() const {
    QByteArray bytes = m_password;
    for (char &c : bytes)
        c ^= kPasswordMask;
    return QString::fromUtf8(bytes);
}

// ---------------------------------------------------------------------------
// Requests

QString DAServiceBase::systemVersionString() { return HFUserAgent::HFSystemVersionToken(); }
QString DAServiceBase::defaultApplicationIdentifier() { return HFUserAgent::HFApplicationToken(); }

void DAServiceBase::addAuthenticationToFetcher(const std::shared_ptr<HFHTTPFetcher> &fetcher) const {
    if (!m_username.isEmpty() && !m_password.isEmpty() && isServiceURL(fetcher->mutableRequest().url()))
        fetcher->setCredential(HFCredential{m_username, password()});
}

QString DAServiceBase::requestUserAgent() const {
    QString agent = m_userAgent;
    if (agent.isEmpty() || agent.startsWith(QLatin1String("MyCompany-")))
        agent = defaultApplicationIdentifier();
    if (agent.contains(QLatin1String("DataAPI-Cpp"), Qt::CaseInsensitive))
        return agent;
    return QStringLiteral("%1 %2/%3 %4 (gzip)")
        .arg(agent, QStringLiteral("DataAPI-Cpp"), QStringLiteral("%1.%2").arg(1).arg(12), systemVersionString());
}

HFURLRequest DAServiceBase::requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod,
                                          const DAServiceTicketPtr &) {
    HFURLRequest request(url, 60.0);
    request.setCachePolicy(HFURLRequest::ReloadIgnoringLocalCacheData);
    request.setValue(requestUserAgent(), QStringLiteral("User-Agent"));
    const QString query = url.query(QUrl::FullyEncoded);
    const QString version = serviceVersion();
    if (!version.isEmpty() && !query.contains(QLatin1String("&v=")) && !query.startsWith(QLatin1String("v=")))
        request.setValue(version, QStringLiteral("GData-Version"));
    if (!httpMethod.isEmpty())
        request.setHTTPMethod(httpMethod);
    if (!etag.isEmpty()) {
        const QString m = httpMethod.toUpper();
        const bool weak = etag.startsWith(QLatin1String("W/"));
        if (m.isEmpty() || m == QLatin1String("GET"))
            request.setValue(etag, QStringLiteral("If-None-Match"));
        else if (!weak && (m == QLatin1String("PUT") || m == QLatin1String("DELETE") || m == QLatin1String("PATCH")))
            request.setValue(etag, QStringLiteral("If-Match"));
    }
    return request;
}

HFURLRequest DAServiceBase::objectRequestForURL(const QUrl &url, const DAObjectPtr &object, const QString &etag,
                                                const QString &httpMethod, const DAServiceTicketPtr &ticket) {
    QString contentType = QStringLiteral("application/atom+xml; charset=utf-8");
    QString tag = etag;
    if (object) {
        if (tag.isEmpty()) {
            if (auto entry = std::dynamic_pointer_cast<DAEntryBase>(object))
                tag = entry->ETag();
            else if (auto feed = std::dynamic_pointer_cast<DAFeedBase>(object))
                tag = feed->ETag();
        }
        if (httpMethod.compare(QLatin1String("PATCH"), Qt::CaseInsensitive) == 0)
            contentType = QStringLiteral("application/xml; charset=utf-8");
    }
    HFURLRequest request = requestForURL(url, tag, httpMethod, ticket);
    request.setValue(QStringLiteral("application/atom+xml, text/xml"), QStringLiteral("Accept"));
    request.setValue(contentType, QStringLiteral("Content-Type"));
    request.setValue(QStringLiteral("no-cache"), QStringLiteral("Cache-Control"));
    return request;
}

// ---------------------------------------------------------------------------
// The core fetch

DAServiceTicketPtr DAServiceBase::fetchObjectWithURL(const QUrl &url, DAClass objectClass, const DAObjectPtr &objectToPost,
                                                     const QString &etag, const QString &httpMethod, Completion completion,
                                                     DAServiceTicketPtr ticket) {
    DAClasses::registerAll();
    auto entry = std::dynamic_pointer_cast<DAEntryBase>(objectToPost);
    const bool hasLocation = entry && !entry->uploadLocationURL().isEmpty();
    // Told, not silently dropped: the caller waits for an answer.
    if (url.isEmpty() && !hasLocation)
        return refuseFetch(std::move(completion), -102, QStringLiteral("no URL to fetch"), std::move(ticket));
    if (!ticket)
        ticket = makeTicket();
    auto context = std::make_shared<FetchContext>();
    context->ticket = ticket;
    context->objectClass = objectClass;
    context->completion = std::move(completion);
    context->method = httpMethod;
    context->callbackLoop = HFRunLoop::current();

    HFURLRequest request = url.isEmpty() ? HFURLRequest() : objectRequestForURL(url, objectToPost, etag, httpMethod, ticket);
    const bool chunking = m_uploadChunkSize != 0;
    const bool hasMedia = entry && (!entry->uploadData().isEmpty() || !entry->uploadFilePath().isEmpty());
    const bool chunked = hasMedia && chunking;
    QByteArray body;
    std::shared_ptr<HFInputStream> stream;
    qint64 length = 0;
    if (objectToPost) {
        ticket->setPostedObject(objectToPost);
        QList<QPair<QString, QString>> headers;
        if (chunked && (hasLocation || entry->shouldUploadDataOnly())) {
            headers = entry->contentHeaders();
        } else if (!chunked && hasMedia && !entry->uploadMIMEType().isEmpty()) {
            auto upload = entry->generateContentInputStream();
            stream = upload.stream;
            length = upload.length;
            headers = upload.headers;
        } else {
            if (auto doc = objectToPost->XMLDocument())
                body = doc->XMLData();
            length = body.size();
            if (entry && !entry->uploadSlug().isEmpty())
                request.setValue(entry->uploadSlug(), QStringLiteral("Slug"));
        }
        for (const auto &[name, value] : headers)
            request.setValue(value, name);
        request.setValue(QString::number(length), QStringLiteral("Content-Length"));
    }

    std::shared_ptr<HFHTTPFetcher> fetcher;
    if (chunked) {
        const quint64 chunk = std::max(m_uploadChunkSize, minimumUploadChunkSize);
        std::shared_ptr<HFHTTPUploadFetcher> upload;
        if (!entry->uploadData().isEmpty()) {
            upload = HFHTTPUploadFetcher::uploadFetcherWithRequest(request, entry->uploadData(), entry->uploadMIMEType(), chunk, m_fetcherService);
        } else {
            auto file = std::make_shared<QFile>(entry->uploadFilePath());
            file->open(QIODevice::ReadOnly);
            upload = hasLocation ? HFHTTPUploadFetcher::uploadFetcherWithLocation(entry->uploadLocationURL(), file, entry->uploadMIMEType(), chunk, m_fetcherService)
                                 : HFHTTPUploadFetcher::uploadFetcherWithRequest(request, file, entry->uploadMIMEType(), chunk, m_fetcherService);
        }
        fetcher = upload;
    } else {
        fetcher = m_fetcherService->fetcherWithRequest(request);
    }
    if (m_cookieStorageMethod >= 0)
        fetcher->setCookieStorageMethod(m_cookieStorageMethod);
    fetcher->setAuthorizer(ticket->authorizer());
    fetcher->setRetryEnabled(ticket->isRetryEnabled());
    fetcher->setMaxRetryInterval(ticket->maxRetryInterval());
    ticket->setObjectFetcher(fetcher);
    ticket->setCurrentFetcher(fetcher);
    DASetTicket(fetcher, ticket);
    if (!body.isEmpty())
        fetcher->setPostData(body);
    if (stream)
        fetcher->setPostStream(stream);
    if (ticket->retryHandler()) {
        std::weak_ptr<DAServiceTicketBase> weakTicket = ticket;
        fetcher->setRetryBlock([weakTicket](bool suggested, const VNErrorPtr &error) {
            auto t = weakTicket.lock();
            return t ? invokeRetrySelector(t, suggested, error) : suggested;
        });
    }
    if (ticket->uploadProgressHandler())
        ticket->reportUploadProgressOf(fetcher);
    addAuthenticationToFetcher(fetcher);

    std::weak_ptr<DAServiceBase> weakSelf = shared_from_this();
    const bool began = fetcher->beginFetchWithCompletionHandler([weakSelf, context](const QByteArray &data, const VNErrorPtr &error) {
        if (auto self = weakSelf.lock())
            self->objectFetcherFinished(context, data, error);
    });
    // Nothing under way: it failed to begin, or its answer already came
    // during the call; either way the completion has had it.
    if (!began || ticket->hasCalledCallback()) {
        ticket->setCurrentFetcher(nullptr);
        return nullptr;
    }
    return ticket;
}

DAServiceTicketPtr DAServiceBase::refuseFetch(Completion completion, qint64 code, const QString &reason, DAServiceTicketPtr ticket) {
    if (!ticket)
        ticket = makeTicket();
    auto context = std::make_shared<FetchContext>();
    context->ticket = ticket;
    context->completion = std::move(completion);
    context->callbackLoop = HFRunLoop::current();
    auto self = shared_from_this();
    const auto error = std::make_shared<VNError>(errorDomain(), code, QVariantMap{{QStringLiteral("error"), reason}});
    context->callbackLoop.post([self, context, error] { self->deliver(context, nullptr, error); });
    return ticket;
}

void DAServiceBase::objectFetcherFinished(const std::shared_ptr<FetchContext> &context, const QByteArray &data,
                                          const VNErrorPtr &error) {
    if (context->ticket->isCancelled())
        return;
    if (error) {
        if (!handleRejection(context->ticket, error))
            objectFetcherFailed(context, data, error);
        return;
    }
    context->callbackLoop = HFRunLoop::current();
    post(QStringLiteral("kDAServiceTicketParsingStartedNotification"), context->ticket);
    const QString version = context->ticket->objectFetcher()
                                ? context->ticket->objectFetcher()->responseHeaders().value(QStringLiteral("Gdata-Version"))
                                : QString();
    context->surrogates = context->ticket->surrogates();
    context->feedsIgnoreUnknowns = context->ticket->shouldFeedsIgnoreUnknowns();
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    context->ticket->setParseOperation(cancelled);
    auto self = shared_from_this();
    if (!m_operationQueue) {
        parseObject(context, data, version);
        handleParsedObject(context);
        return;
    }
    m_operationQueue->addOperation([self, context, data, version, cancelled]() mutable {
        if (!cancelled->load())
            parseObject(context, data, version);
        // Whatever the parse holds goes back to the callback thread, cancelled
        // or not: it may hold the service's last reference, and the service's
        // end waits for this queue.
        const HFRunLoop loop = context->callbackLoop;
        loop.post([self = std::move(self), context = std::move(context), cancelled = std::move(cancelled)] {
            if (!cancelled->load())
                self->handleParsedObject(context);
        });
    });
}

// On the operation queue: only the context is touched here.
void DAServiceBase::parseObject(const std::shared_ptr<FetchContext> &context, const QByteArray &data, const QString &version) {
    if (data.isEmpty()) {
        context->emptyReply = true;
        return;
    }
    VNErrorPtr error;
    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(data, &error);
    context->parseError = error;
    if (!doc || !doc->rootElement())
        return;
    const DAXMLElementPtr root = doc->rootElement();
    // Only an Atom feed or entry is an answer (a sign-in page is not).
    const bool atom = root->URI() == QLatin1String("http://www.w3.org/2005/Atom") &&
                      (root->localName() == QLatin1String("feed") || root->localName() == QLatin1String("entry"));
    if (!atom)
        return;
    DAClass cls = context->objectClass ? context->objectClass : ClassChooser::forRoot(root);
    if (DAClass surrogate = context->surrogates.value(cls))
        cls = surrogate;
    const bool ignoreUnknowns = context->feedsIgnoreUnknowns && cls->isSubclassOf(DAFeedBase::staticClass());
    auto object = std::dynamic_pointer_cast<DAObject>(cls->make());
    if (object && object->initWithXMLElement(root, nullptr, version, context->surrogates, ignoreUnknowns)) {
        object->clearExtensionDeclarationsCache();  // the tree is parsed
        context->parsedObject = object;
    }
}

void DAServiceBase::handleParsedObject(const std::shared_ptr<FetchContext> &context) {
    const DAServiceTicketPtr ticket = context->ticket;
    ticket->setParseOperation(nullptr);
    if (ticket->isCancelled())
        return;
    post(QStringLiteral("kDAServiceTicketParsingStoppedNotification"), ticket);
    DAObjectPtr object = context->parsedObject;
    // An empty reply is an answer only where no object is expected.
    const bool expectsNothing = context->method.compare(QLatin1String("DELETE"), Qt::CaseInsensitive) == 0;
    if (object || (context->emptyReply && expectsNothing)) {
        if (auto feed = std::dynamic_pointer_cast<DAFeedBase>(object); feed && ticket->shouldFollowNextLinks()) {
            ticket->accumulateFeed(feed);
            const auto next = feed->nextLink();
            if (next && !next->href().isEmpty()) {
                // A feed with more pages than are followed, or whose next
                // page cannot be asked for, is never delivered as if whole.
                // A next page that failed at once has told the caller itself.
                if (fetchNextFeed(QUrl(next->href()), context) || ticket->hasCalledCallback())
                    return;
                deliver(context, nullptr,
                        std::make_shared<VNError>(errorDomain(), -103,
                                                  QVariantMap{{QStringLiteral("error"),
                                                               QStringLiteral("the feed has more pages than are read")}}));
                return;
            }
            if (auto all = ticket->accumulatedFeed()) {
                if (auto link = all->nextLink())
                    all->removeLink(link);
                object = all;
            }
        }
        deliver(context, object, nullptr);
        return;
    }
    VNErrorPtr error = context->parseError;
    if (!error)
        error = std::make_shared<VNError>(errorDomain(), -100,
                                          QVariantMap{{QStringLiteral("error"), context->emptyReply ? QStringLiteral("empty reply")
                                                                                                    : QStringLiteral("the reply held no object")}});
    deliver(context, nullptr, error);
}

bool DAServiceBase::fetchNextFeed(const QUrl &url, const std::shared_ptr<FetchContext> &context) {
    const DAServiceTicketPtr ticket = context->ticket;
    if (ticket->nextLinksFollowedCounter() >= maximumNextLinks)
        return false;
    ticket->setNextLinksFollowedCounter(ticket->nextLinksFollowedCounter() + 1);
    const DAClass cls = ticket->accumulatedFeed() ? ticket->accumulatedFeed()->objectClass() : context->objectClass;
    return fetchObjectWithURL(url, cls, nullptr, QString(), QString(), context->completion, ticket) == ticket;
}

void DAServiceBase::objectFetcherFailed(const std::shared_ptr<FetchContext> &context, const QByteArray &data, const VNErrorPtr &error) {
    const auto fetcher = context->ticket->objectFetcher();
    const QString contentType = fetcher ? fetcher->responseHeaders().value(QStringLiteral("Content-Type")) : QString();
    auto rebuilt = std::make_shared<VNError>(error->domain(), error->code(), userInfoForErrorResponseData(data, contentType, error->userInfo()));
    deliver(context, nullptr, rebuilt);
}

void DAServiceBase::deliver(const std::shared_ptr<FetchContext> &context, const DAObjectPtr &object, const VNErrorPtr &error) {
    const DAServiceTicketPtr ticket = context->ticket;
    if (ticket->isCancelled())
        return;
    invokeCallback(context->completion, ticket, object, error);
    if (error)
        ticket->setFetchError(error);
    else
        ticket->setFetchedObject(object);
    ticket->setHasCalledCallback(true);
    ticket->setCurrentFetcher(nullptr);
}

void DAServiceBase::invokeProgressCallbackForTicket(const DAServiceTicketPtr &ticket, quint64 deliveredBytes, quint64 totalBytes) {
    if (const auto handler = ticket->uploadProgressHandler())
        handler(ticket, deliveredBytes, totalBytes);
}

void DAServiceBase::invokeCallback(const Completion &completion, const DAServiceTicketPtr &ticket, const DAObjectPtr &object,
                                   const VNErrorPtr &error) {
    if (completion)
        completion(ticket, object, error);
}

bool DAServiceBase::invokeRetrySelector(const DAServiceTicketPtr &ticket, bool willRetry, const VNErrorPtr &error) {
    const auto handler = ticket->retryHandler();
    return handler ? handler(ticket, willRetry, error) : willRetry;
}

QVariantMap DAServiceBase::userInfoForErrorResponseData(const QByteArray &data, const QString &contentType,
                                                        const QVariantMap &previousUserInfo) {
    QVariantMap info = previousUserInfo;
    if (data.isEmpty())
        return info;
    QString text;
    if (contentType.toLower().startsWith(QLatin1String("application/vnd.google.gdata.error+xml"))) {
        if (auto group = DAServerErrorGroup::groupWithData(data)) {
            info.insert(QStringLiteral("serverErrors"), QVariant::fromValue(group));
            if (group->mainError())
                text = group->mainError()->summary();
        }
    }
    if (info.isEmpty())
        text = QString::fromUtf8(data);
    if (!text.isEmpty()) {
        info.insert(QStringLiteral("error"), text);
        info.insert(QStringLiteral("NSLocalizedFailureReason"), QStringLiteral("(%1)").arg(text));
    }
    return info;
}

DAServiceTicketPtr DAServiceBase::fetchPublicFeedWithBatchFeed(const DAFeedBasePtr &batchFeed, const QUrl &feedURL,
                                                               Completion completion) {
    addBatchNamespaces(batchFeed);
    auto ticket = fetchObjectWithURL(feedURL, batchFeed->objectClass(), batchFeed, QString(), QString(), std::move(completion));
    if (ticket)
        ticket->setShouldFeedsIgnoreUnknowns(false);
    return ticket;
}

void DAServiceBase::addBatchNamespaces(const DAFeedBasePtr &batchFeed) {
    if (!batchFeed->namespaces().contains(QStringLiteral("gd")))
        batchFeed->addNamespaces(DAEntryBase::baseDANamespaces());
    if (!batchFeed->namespaces().contains(QStringLiteral("batch")))
        batchFeed->addNamespaces(DAEntryBase::batchNamespaces());
}

bool DAServiceBase::waitForTicket(const DAServiceTicketPtr &ticket, double seconds, DAObjectPtr *object, VNErrorPtr *error) {
    QElapsedTimer timer;
    timer.start();
    while (!ticket->hasCalledCallback() && timer.elapsed() < qint64(seconds * 1000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    VNErrorPtr e = ticket->fetchError();
    if (!ticket->hasCalledCallback() && !e)
        e = std::make_shared<VNError>(errorDomain(), -101);
    if (object)
        *object = ticket->fetchedObject();
    if (error)
        *error = e;
    return !e;
}
