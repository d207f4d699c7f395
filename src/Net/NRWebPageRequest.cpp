#include "Net/NRWebPageRequest.h"

#include "Net/NRRequestQueue.h"
#include "Net/NRWebPageDelegateRelay.h"
#include "Net/NRWebPageTree.h"
#include "Platform/VNDispatch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <mutex>

// A page's HEAD request is a page request too; made for another, it finishes
// as a plain request and scans nothing.
std::shared_ptr<NRHTTPRequest> NRWebPageRequest::HEADRequest() const {
    auto head = std::make_shared<NRWebPageRequest>(url());
    fillHEADRequest(*head);
    return head;
}

namespace {

bool isHTMLType(const QString &type) {
    return type == QLatin1String("text/html") || type == QLatin1String("text/xhtml") ||
           type == QLatin1String("text/xhtml+xml") || type == QLatin1String("application/xhtml+xml");
}

}  // namespace

// What a resource's progress tells its page: bytes and size changes go on
// to the page's own indicators; a resource's fraction done is its own and
// goes nowhere.
class NRWebPageRequest::ResourceProgress : public NRProgressDelegate {
public:
    explicit ResourceProgress(const std::shared_ptr<NRWebPageRequest> &page) : m_page(page) {}
    void didReceiveBytes(NRHTTPRequest *request, qint64 bytes) override {
        if (auto d = indicator(false))
            d->didReceiveBytes(request, bytes);
    }
    void incrementDownloadSizeBy(NRHTTPRequest *request, qint64 amount) override {
        if (auto d = indicator(false))
            d->incrementDownloadSizeBy(request, amount);
    }
    void didSendBytes(NRHTTPRequest *request, qint64 bytes) override {
        if (auto d = indicator(true))
            d->didSendBytes(request, bytes);
    }
    void incrementUploadSizeBy(NRHTTPRequest *request, qint64 amount) override {
        if (auto d = indicator(true))
            d->incrementUploadSizeBy(request, amount);
    }

private:
    std::shared_ptr<NRProgressDelegate> indicator(bool upload) const {
        const auto page = m_page.lock();
        if (!page)
            return nullptr;
        return upload ? page->uploadProgressDelegate() : page->downloadProgressDelegate();
    }
    std::weak_ptr<NRWebPageRequest> m_page;
};

NRWebPageRequest::NRWebPageRequest(const QUrl &url) : NRHTTPRequest(url) {}

NRWebPageRequest::~NRWebPageRequest() {
    if (m_externalResourceQueue)
        m_externalResourceQueue->cancelAllOperations();
    // Only a page cancelled as it was parsed still holds one here; it may
    // go on the network thread, which never waits for libxml2.
    releaseDocument();
    // A resource whose end its tree never heard (its page's queue gone
    // first) holds up nobody once it is gone.
    if (m_tree && m_parentRequest)
        VNDispatch::mainAsync([tree = m_tree, key = m_treeKey] { endedUnheard(tree, key); });
}

std::shared_ptr<NRWebPageRequest> NRWebPageRequest::requestWithURL(const QUrl &url) {
    return std::make_shared<NRWebPageRequest>(url);
}

int NRWebPageRequest::urlReplacementMode() const { std::lock_guard l(m_mutex); return m_urlReplacementMode; }
void NRWebPageRequest::setUrlReplacementMode(int mode) { std::lock_guard l(m_mutex); m_urlReplacementMode = mode; }
bool NRWebPageRequest::shouldIgnoreExternalResourceErrors() const { std::lock_guard l(m_mutex); return m_shouldIgnoreExternalResourceErrors; }
void NRWebPageRequest::setShouldIgnoreExternalResourceErrors(bool on) { std::lock_guard l(m_mutex); m_shouldIgnoreExternalResourceErrors = on; }
int NRWebPageRequest::webContentType() const { std::lock_guard l(m_mutex); return m_webContentType; }
std::shared_ptr<NRWebPageRequest> NRWebPageRequest::parentRequest() const { std::lock_guard l(m_mutex); return m_parentRequest; }
void NRWebPageRequest::setParentRequest(const std::shared_ptr<NRWebPageRequest> &parent) { std::lock_guard l(m_mutex); m_parentRequest = parent; }
QMap<QString, QVariantMap> NRWebPageRequest::resourceList() const { std::lock_guard l(m_mutex); return m_resourceList; }
std::shared_ptr<NRRequestQueue> NRWebPageRequest::externalResourceQueue() const { std::lock_guard l(m_mutex); return m_externalResourceQueue; }
void NRWebPageRequest::setExternalResourceQueue(const std::shared_ptr<NRRequestQueue> &queue) { std::lock_guard l(m_mutex); m_externalResourceQueue = queue; }

void NRWebPageRequest::setResourceList(const QMap<QString, QVariantMap> &list) {
    std::lock_guard l(m_mutex);
    m_resourceList = list;
    m_resourceOrder = list.keys();
}

// A page request again with its settings (a copy is made to be sent anew,
// not to share this page's resources).
std::shared_ptr<NRHTTPRequest> NRWebPageRequest::copy() const {
    auto other = std::make_shared<NRWebPageRequest>(url());
    copySettingsTo(*other);
    std::lock_guard l(m_mutex);
    other->m_urlReplacementMode = m_urlReplacementMode;
    other->m_shouldIgnoreExternalResourceErrors = m_shouldIgnoreExternalResourceErrors;
    return other;
}

QString NRWebPageRequest::cachePathForRequest(const NRHTTPRequest &resource) const {
    if (auto cache = downloadCache())
        return cache->pathToStoreCachedResponseDataForRequest(resource);
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    const QByteArray digest =
        QCryptographicHash::hash(resource.url().toString(QUrl::FullyEncoded).toUtf8(), QCryptographicHash::Md5);
    return base + QLatin1Char('/') + QString::fromLatin1(digest.toHex().toUpper()) + QStringLiteral(".html");
}

void NRWebPageRequest::addURLToFetch(const QString &found) {
    const QString text = found.trimmed();
    if (text.size() < 5 || text.left(5).compare(QLatin1String("data:"), Qt::CaseInsensitive) == 0)
        return;
    const QUrl resolved = url().resolved(QUrl(text));
    // Only what can be downloaded: an "about:blank" frame or a "javascript:"
    // reference names nothing to fetch, and must not fail the page.
    const QString scheme = resolved.scheme().toLower();
    if (!resolved.isValid() || resolved.isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return;
    // Read while the page is parsed (on a worker): resourceList() may be
    // asked meanwhile.
    std::lock_guard l(m_mutex);
    if (m_resourceList.contains(text))
        return;
    m_resourceList.insert(text, QVariantMap());
    m_resourceOrder.append(text);
}

bool NRWebPageRequest::deferFinishing() {
    // Any page or style sheet that came is scanned, an error page too; a
    // HEAD reply has no body to scan. One larger than the body bound is
    // not read: it finishes as it came, as other content does.
    if (mainRequest() || didUseCachedResponse() || requestMethod() == QLatin1String("HEAD"))
        return false;
    m_webContentType = OtherContent;
    const QString type = responseHeader(QStringLiteral("Content-Type")).toLower().section(QLatin1Char(';'), 0, 0).trimmed();
    const bool html = isHTMLType(type);
    if ((!html && type != QLatin1String("text/css")) || !fitsBodyBound())
        return false;
    return html ? parseAsHTML() : parseAsCSS();
}

void NRWebPageRequest::holdWhileFetching() {
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    {
        std::lock_guard l(m_mutex);
        m_heldWhileFetching = self;
    }
    VNDispatch::mainAsync([self] { self->startResourceRequests(); });
}

// Let go later, never inside one of the page's own calls. The top page's
// end is its tree's: what the tree kept for its requests goes.
void NRWebPageRequest::releaseHold() {
    std::shared_ptr<NRWebPageRequest> held;
    {
        std::lock_guard l(m_mutex);
        held = std::move(m_heldWhileFetching);
    }
    if (m_tree && !parentRequest())
        m_tree->clear();
    if (held)
        VNDispatch::mainAsync([held] {});
}

void NRWebPageRequest::deferredFinishCancelled() {
    // Cancelled while its resources load: they stop too.
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    VNDispatch::mainAsync([self] {
        if (auto queue = std::exchange(self->m_externalResourceQueue, nullptr))
            queue->cancelAllOperations();
        self->releaseDocument();
        self->releaseHold();
    });
}

// Credentials of the page go only to its own origin.
static bool sameOrigin(const QUrl &a, const QUrl &b) {
    const auto defaultPort = [](const QUrl &u) { return u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80; };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// The page's headers as a resource sends them. Credentials only to the
// page's own origin; the page's range and conditions are its own (a
// resource asking for the page's tail, or whether it changed since the
// page did, would store a part of itself or nothing).
QMap<QString, QString> NRWebPageRequest::headersForResource(const QUrl &resourceURL) const {
    static const QStringList pageOnly{QStringLiteral("Range"),         QStringLiteral("If-Range"),
                                      QStringLiteral("If-None-Match"), QStringLiteral("If-Modified-Since"),
                                      QStringLiteral("If-Match"),      QStringLiteral("If-Unmodified-Since")};
    static const QStringList credentials{QStringLiteral("Authorization"), QStringLiteral("Cookie")};
    const bool sameSite = sameOrigin(resourceURL, url());
    QMap<QString, QString> headers = requestHeaders();
    for (auto it = headers.begin(); it != headers.end();) {
        const bool drop = pageOnly.contains(it.key(), Qt::CaseInsensitive) ||
                          (!sameSite && credentials.contains(it.key(), Qt::CaseInsensitive));
        it = drop ? headers.erase(it) : std::next(it);
    }
    return headers;
}

static QString treeKey(const QUrl &url) {
    return url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
}

void NRWebPageRequest::startResourceRequests() {
    if (isCancelled()) {
        releaseHold();
        return;
    }
    if (m_externalResourceQueue)
        m_externalResourceQueue->cancelAllOperations();
    auto queue = NRRequestQueue::queue();
    setExternalResourceQueue(queue);
    std::weak_ptr<NRWebPageRequest> weak = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    queue->setShouldCancelAllRequestsOnFailure(shouldIgnoreExternalResourceErrors());
    queue->setShowAccurateProgress(showAccurateProgress());
    queue->setRequestFinishedBlock([weak](NRHTTPRequest *r) {
        if (auto self = weak.lock())
            self->externalResourceFetchSucceeded(r);
    });
    queue->setRequestFailedBlock([weak](NRHTTPRequest *r) {
        if (auto self = weak.lock())
            self->externalResourceFetchFailed(r);
    });
    queue->setQueueFinishedBlock([weak] {
        if (auto self = weak.lock())
            self->finishedFetchingExternalResources();
    });
    queue->setQueueWaitsElsewhereBlock([weak] {
        if (auto self = weak.lock())
            self->giveUpPlace();
    });
    QStringList order;
    {
        std::lock_guard l(m_mutex);
        order = m_resourceOrder;
    }
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    if (!m_resourceProgress)
        m_resourceProgress = std::make_shared<ResourceProgress>(self);
    if (!m_tree) {
        // The top page: its tree starts with it.
        m_tree = std::make_shared<NRWebPageTree>();
        m_treeKey = treeKey(url());
        m_tree->add(m_treeKey, self);
    }
    // A URL another request of the tree fetches is not fetched again: this
    // request waits for that one (unless that would close a circle), so its
    // entry holds that request's copy, and its reference too once rewritten.
    m_fetchedElsewhere.clear();
    QSet<QString> awaited;
    bool added = false;
    for (const QString &text : order) {
        const QUrl target = url().resolved(QUrl(text));
        const QString key = treeKey(target);
        if (m_tree->contains(key)) {
            m_fetchedElsewhere.insert(text, key);
            awaited.insert(key);
            continue;
        }
        auto resource = NRWebPageRequest::requestWithURL(target);
        resource->m_tree = m_tree;
        resource->m_treeKey = key;
        m_tree->add(key, resource, m_treeKey);
        startResourceRequest(resource, text);
        added = true;
    }
    m_tree->await(m_treeKey, awaited);
    if (!added) {
        finishedFetchingExternalResources();  // each one is fetched elsewhere in the tree
        return;
    }
    queue->go();
}

// One resource on the page's queue, sent as the page would send it.
void NRWebPageRequest::startResourceRequest(const std::shared_ptr<NRWebPageRequest> &resource, const QString &text) {
    resource->setRequestHeaders(headersForResource(resource->url()));
    // Its messages go on to the page's delegate of the moment under their
    // own names (not the page's finish or fail method); of its progress,
    // only bytes and sizes reach the page's indicators.
    resource->setDelegate(NRWebPageDelegateRelay::shared());
    resource->setUploadProgressDelegate(m_resourceProgress);
    resource->setDownloadProgressDelegate(m_resourceProgress);
    resource->setDownloadCache(downloadCache());
    resource->setCachePolicy(cachePolicy());
    resource->setCacheStoragePolicy(cacheStoragePolicy());
    resource->setUserInfo({{QStringLiteral("Path"), text}});
    resource->setParentRequest(std::static_pointer_cast<NRWebPageRequest>(sharedSelf()));
    resource->setUrlReplacementMode(urlReplacementMode());
    resource->setShouldResetDownloadProgress(false);
    if (!downloadDestinationPath().isEmpty()) {
        const QString path = cachePathForRequest(*resource);
        QDir().mkpath(QFileInfo(path).path());
        resource->setDownloadDestinationPath(path);
    }
    m_externalResourceQueue->addRequest(resource);
}

// What a resource request gives the places that name it: its type, and its
// file or bytes; nothing for an error page, which is no copy of the resource.
static QVariantMap resourceEntry(const NRHTTPRequest &resource) {
    QVariantMap entry;
    if (resource.responseStatusCode() < 200 || resource.responseStatusCode() >= 300)
        return entry;
    const QString type = resource.responseHeader(QStringLiteral("Content-Type"));
    entry.insert(QStringLiteral("ContentType"), type.isNull() ? QStringLiteral("application/octet-stream") : type);
    if (!resource.downloadDestinationPath().isEmpty())
        entry.insert(QStringLiteral("DataPath"), resource.downloadDestinationPath());
    else if (!resource.responseData().isEmpty())
        entry.insert(QStringLiteral("Data"), resource.responseData());
    return entry;
}

// A reference whose URL another request of the tree fetched takes that
// request's copy; one that would have closed a circle keeps its URL.
void NRWebPageRequest::useResourcesFetchedElsewhere() {
    for (auto it = m_fetchedElsewhere.cbegin(); it != m_fetchedElsewhere.cend(); ++it) {
        if (!m_tree->hasEnded(it.value()))
            continue;
        const QVariantMap entry = m_tree->copyOf(it.value());
        if (entry.isEmpty())
            continue;
        std::lock_guard l(m_mutex);
        m_resourceList.insert(it.key(), entry);
    }
}

void NRWebPageRequest::externalResourceFetchSucceeded(NRHTTPRequest *resource) {
    const QString text = resource->userInfo().value(QStringLiteral("Path")).toString();
    // An error page is no copy of the resource: its reference stays.
    const QVariantMap entry = resourceEntry(*resource);
    {
        std::lock_guard l(m_mutex);
        if (m_resourceList.contains(text) && !entry.isEmpty())
            m_resourceList.insert(text, entry);
    }
    resourceEnded(resource, entry);
}

void NRWebPageRequest::externalResourceFetchFailed(NRHTTPRequest *resource) {
    resourceEnded(resource, QVariantMap());
    if (!m_externalResourceQueue || !m_externalResourceQueue->shouldCancelAllRequestsOnFailure() || m_failedAlready)
        return;  // the page goes on without it
    m_failedAlready = true;
    releaseDocument();
    failDeferred(resource->error() ? resource->error()
                                   : makeError(ConnectionFailureErrorType, QStringLiteral("A resource could not be fetched")));
    releaseHold();
}

// Whoever in the tree waited for the resource may go on, with its copy.
void NRWebPageRequest::resourceEnded(NRHTTPRequest *resource, const QVariantMap &copy) {
    auto *page = dynamic_cast<NRWebPageRequest *>(resource);
    if (!page || !m_tree || page->m_tree != m_tree)
        return;
    page->endInTree(copy);
}

void NRWebPageRequest::endInTree(const QVariantMap &copy) {
    if (!m_tree)
        return;
    for (const auto &waiter : m_tree->ended(m_treeKey, copy))
        waiter->finishWhenResourcesEnded();
}

void NRWebPageRequest::endedUnheard(const std::shared_ptr<NRWebPageTree> &tree, const QString &key) {
    for (const auto &waiter : tree->ended(key, QVariantMap()))
        waiter->finishWhenResourcesEnded();
}

// Silenced, the request is left out by its page's queue without a word: its
// tree hears it here instead (after the call, on the main thread).
void NRWebPageRequest::clearDelegatesAndCancel() {
    NRHTTPRequest::clearDelegatesAndCancel();
    if (!m_tree)
        return;
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    VNDispatch::mainAsync([self] { self->endInTree(QVariantMap()); });
}

void NRWebPageRequest::finishedFetchingExternalResources() {
    m_ownResourcesEnded = true;
    finishWhenResourcesEnded();
}

void NRWebPageRequest::finishWhenResourcesEnded() {
    if (m_finishing || !m_ownResourcesEnded)
        return;
    if (m_tree->isAwaiting(m_treeKey)) {
        giveUpPlace();
        return;
    }
    m_finishing = true;
    finishWithResources();
}

// A resource that waits only for other requests of its tree (its own
// resources all ended, or waiting so too) sends nothing more: its place in
// its page's queue goes to the next request there, which may be one it
// waits for (a sheet of the page's head comes after the frames of its body,
// and four frames waiting for it would hold the queue's four places).
void NRWebPageRequest::giveUpPlace() {
    if (m_gaveUpPlace || !parentRequest())
        return;
    if (auto queue = std::dynamic_pointer_cast<NRRequestQueue>(this->queue())) {
        m_gaveUpPlace = true;
        queue->requestGivesUpItsPlace(this);
    }
}

// The page as its resources make it: rewritten (or its document let go) on
// a worker, so that the main thread never waits for libxml2 (another page
// may be parsed meanwhile) nor reads and encodes the resources.
void NRWebPageRequest::finishWithResources() {
    if (m_failedAlready || isCancelled()) {
        releaseDocument();
        releaseHold();
        return;
    }
    useResourcesFetchedElsewhere();
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    VNDispatch::globalAsync([self] { self->rewriteAndEnd(); });
}

// Worker, without the request's lock: the network thread's status tick
// takes it, and every transfer would wait for the rewrite.
void NRWebPageRequest::rewriteAndEnd() {
    // The reply is kept inflated from here on: it is handed out without its
    // "Content-Encoding", rewritten or not.
    if (isResponseCompressed())
        setRawResponseData(responseData());
    removeResponseHeader(QStringLiteral("Content-Encoding"));
    const Rewrite rewrite = rewriteAsSetNow();
    const bool rewritten = rewrite.mode != DontReplaceURLs;
    const VNErrorPtr error = rewritten ? replaceReferences(rewrite) : nullptr;
    releaseDocument();
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    VNDispatch::mainAsync([self, error, rewritten] { self->endWithResources(error, rewritten); });
}

// Main thread: no delegate is called under the request's lock.
void NRWebPageRequest::endWithResources(const VNErrorPtr &error, bool rewritten) {
    if (isCancelled()) {
        releaseHold();
        return;
    }
    if (error) {
        failDeferred(error);
        releaseHold();
        return;
    }
    if (!parentRequest())
        reportDownloadComplete();
    // The page as rewritten replaces the reply stored when it arrived.
    if (rewritten) {
        if (auto cache = downloadCache())
            cache->storeResponseForRequest(*this, secondsToCache());
    }
    finishDeferred();
    releaseHold();
}
