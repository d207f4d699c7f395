#include "Net/NRWebPageRequest.h"

#include "Net/NRRequestQueue.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNPartName.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <filesystem>
#include <mutex>

// A page's HEAD request is a page request too; made for another, it finishes
// as a plain request and scans nothing.
std::shared_ptr<NRHTTPRequest> NRWebPageRequest::HEADRequest() const {
    auto head = std::make_shared<NRWebPageRequest>(url());
    fillHEADRequest(*head);
    return head;
}

namespace {

// libxml2 is set up once and never torn down: other parsers (the XML tree,
// the data-API) may be running at any time, and a global clean-up under
// their feet would break them.
std::recursive_mutex &libxmlLock() {
    static std::recursive_mutex lock;
    return lock;
}

void initialiseLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

const char *const kResourceXPath =
    "//link/@href|//a/@href|//script/@src|//img/@src|//frame/@src|//iframe/@src|//style|//*/@style|//source/@src|"
    "//video/@poster|//audio/@src";

QString fromXml(const xmlChar *text) {
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

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
    releaseDocument();
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

namespace {

// The URL a url(...) token holds: its text without surrounding white space
// and quotes.
QString urlOfToken(const QString &inside) {
    QString url = inside.trimmed();
    while (!url.isEmpty() && (url.front() == QLatin1Char('"') || url.front() == QLatin1Char('\'')))
        url.remove(0, 1);
    while (!url.isEmpty() && (url.back() == QLatin1Char('"') || url.back() == QLatin1Char('\'')))
        url.chop(1);
    return url.trimmed();
}

// Calls visit(start, length) for the text inside each url(...) of css, in
// order, until it gives false or a token is empty.
template <class Visit>
void forEachURLToken(const QString &css, Visit visit) {
    int at = 0;
    for (;;) {
        const int start = css.indexOf(QLatin1String("url("), at, Qt::CaseInsensitive);
        if (start < 0)
            return;
        const int open = start + 4;
        const int close = css.indexOf(QLatin1Char(')'), open);
        const int length = (close < 0 ? css.size() : close) - open;
        if (length == 0 || !visit(open, length) || close < 0)
            return;
        at = close + 1;
    }
}

}  // namespace

QStringList NRWebPageRequest::CSSURLsFromString(const QString &css) {
    QStringList urls;
    forEachURLToken(css, [&](int start, int length) {
        urls.append(urlOfToken(css.mid(start, length)));
        return true;
    });
    return urls;
}

QString NRWebPageRequest::relativePathTo(const QString &targetPath, const QString &sourcePath) {
    if (sourcePath.isEmpty())
        return QString();
    const QStringList source = sourcePath.split(QLatin1Char('/'));
    const QStringList target = targetPath.split(QLatin1Char('/'));
    int i = 0;
    while (i < source.size() && i < target.size() && source[i] == target[i])
        ++i;
    if (i >= source.size() && i >= target.size())
        return QString();
    QStringList parts;
    for (int j = i + 1; j < source.size(); ++j)
        parts << QStringLiteral("..");
    parts << target.mid(i);
    return parts.join(QLatin1Char('/'));
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

QByteArray NRWebPageRequest::encodingName() const {
    // Without a charset in the reply the page's own declaration (or
    // libxml2's detection) decides: the request's default is no knowledge
    // of the page.
    QString mime;
    QByteArray charset;
    parseContentType(responseHeader(QStringLiteral("Content-Type")), &mime, &charset);
    if (charset.isEmpty())
        return QByteArray();
    const QByteArray encoding = responseEncoding().toUpper();
    static const QMap<QByteArray, QByteArray> names{
        {"US-ASCII", "ASCII"},       {"ASCII", "ASCII"},           {"EUC-JP", "EUC-JP"},
        {"UTF-8", "UTF-8"},          {"ISO-8859-1", "ISO-8859-1"}, {"SHIFT_JIS", "Shift-JIS"},
        {"ISO-8859-2", "ISO-8859-2"}, {"ISO-2022-JP", "ISO-2022-JP"}, {"UTF-16BE", "UTF-16BE"},
        {"UTF-16LE", "UTF-16LE"},    {"UTF-32BE", "UCS-4BE"},      {"UTF-32LE", "UCS-4LE"},
    };
    return names.value(encoding);
}

void NRWebPageRequest::addURLToFetch(const QString &found) {
    const QString text = found.trimmed();
    if (text.size() < 5 || text.left(5).compare(QLatin1String("data:"), Qt::CaseInsensitive) == 0)
        return;
    const QUrl resolved = url().resolved(QUrl(text));
    // Only what can be downloaded: an "about:blank" frame or a "javascript:"
    // reference names nothing to fetch, and must not fail the page.
    const QString scheme = resolved.scheme().toLower();
    if (!resolved.isValid() || resolved.isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        m_resourceList.contains(text))
        return;
    m_resourceList.insert(text, QVariantMap());
    m_resourceOrder.append(text);
}

bool NRWebPageRequest::deferFinishing() {
    // Only a page or style sheet that arrived is scanned; an error page is not.
    if (mainRequest() || didUseCachedResponse() || requestMethod() == QLatin1String("HEAD") || responseStatusCode() < 200 ||
        responseStatusCode() >= 300)
        return false;
    m_webContentType = OtherContent;
    const QString type = responseHeader(QStringLiteral("Content-Type")).toLower().section(QLatin1Char(';'), 0, 0).trimmed();
    if (isHTMLType(type))
        return parseAsHTML();
    if (type == QLatin1String("text/css"))
        return parseAsCSS();
    return false;
}

bool NRWebPageRequest::parseAsHTML() {
    m_webContentType = HTMLContent;
    std::lock_guard lock(libxmlLock());
    initialiseLibxml();
    const int options = HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
    const QByteArray encoding = encodingName();
    const char *encodingText = encoding.isEmpty() ? nullptr : encoding.constData();
    // An empty page is no document either.
    if (const QString path = downloadDestinationPath(); !path.isEmpty()) {
        if (QFileInfo(path).size() > 0)
            m_doc = htmlReadFile(QFile::encodeName(path).constData(), encodingText, options);
    } else if (const QByteArray body = responseData(); !body.isEmpty()) {
        m_doc = htmlReadMemory(body.constData(), int(body.size()), "", encodingText, options);
    }
    if (!m_doc) {
        failWithError(makeError(ParseOrWriteError, QStringLiteral("Error: unable to parse reponse XML")));
        return true;
    }
    m_resourceList.clear();
    m_resourceOrder.clear();
    VNErrorPtr error;
    const bool read = readResourceURLs(&error);
    if (!read || m_resourceList.isEmpty()) {
        releaseDocument();
        if (read)
            return false;  // no resources: a plain finish
        failWithError(error);
        return true;
    }
    holdWhileFetching();
    return true;
}

QString NRWebPageRequest::readReplyText(VNErrorPtr *error) const {
    const QByteArray name = responseEncoding().isEmpty() ? QByteArray("ISO-8859-1") : responseEncoding();
    if (!downloadDestinationPath().isEmpty()) {
        QFile file(downloadDestinationPath());
        if (!file.open(QIODevice::ReadOnly)) {
            *error = makeError(UnableToReadStringError, QStringLiteral("Unable to read HTML string from response"),
                               file.errorString());
            return QString();
        }
        QStringDecoder decoder(name.constData());
        return decoder.isValid() ? decoder.decode(file.readAll()) : QString::fromUtf8(file.readAll());
    }
    return responseString();
}

bool NRWebPageRequest::parseAsCSS() {
    m_webContentType = CSSContent;
    VNErrorPtr error;
    const QString css = readReplyText(&error);
    if (error || css.isNull()) {
        failWithError(error ? error
                            : makeError(UnableToReadStringError, QStringLiteral("Unable to read HTML string from response")));
        return true;
    }
    m_resourceList.clear();
    m_resourceOrder.clear();
    for (const QString &found : CSSURLsFromString(css))
        addURLToFetch(found);
    if (m_resourceList.isEmpty())
        return false;
    holdWhileFetching();
    return true;
}

void NRWebPageRequest::holdWhileFetching() {
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    {
        std::lock_guard l(m_mutex);
        m_heldWhileFetching = self;
    }
    VNDispatch::mainAsync([self] { self->startResourceRequests(); });
}

// Let go later, never inside one of the page's own calls.
void NRWebPageRequest::releaseHold() {
    std::shared_ptr<NRWebPageRequest> held;
    {
        std::lock_guard l(m_mutex);
        held = std::move(m_heldWhileFetching);
    }
    if (held)
        VNDispatch::mainAsync([held] {});
}

bool NRWebPageRequest::readResourceURLs(VNErrorPtr *error) { return walkResourceURLs(false, error); }
bool NRWebPageRequest::updateResourceURLs(VNErrorPtr *error) { return walkResourceURLs(true, error); }

// Reads the page's resource references (update false) or rewrites them with
// their replacements (update true). False with *error set when it cannot.
bool NRWebPageRequest::walkResourceURLs(bool update, VNErrorPtr *error) {
    const auto fail = [&](const QString &text) { *error = makeError(ParseOrWriteError, text); };
    xmlXPathContextPtr context = xmlXPathNewContext(m_doc);
    if (!context) {
        fail(QStringLiteral("Error: unable to create new XPath context"));
        return false;
    }
    xmlXPathObjectPtr result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(kResourceXPath), context);
    if (!result) {
        xmlXPathFreeContext(context);
        fail(QStringLiteral("Error: unable to evaluate XPath expression!"));
        return false;
    }
    const int count = result->nodesetval ? result->nodesetval->nodeNr : 0;
    for (int i = count - 1; i >= 0; --i) {
        xmlNodePtr node = result->nodesetval->nodeTab[i];
        const QString name = fromXml(node->name).toLower();
        const QString parent = node->parent ? fromXml(node->parent->name).toLower() : QString();
        xmlChar *raw = xmlNodeGetContent(node);
        const QString content = fromXml(raw);
        xmlFree(raw);
        auto setContent = [&](const QString &text) {
            const QByteArray utf8 = text.toUtf8();
            xmlChar *escaped = xmlEncodeSpecialChars(m_doc, reinterpret_cast<const xmlChar *>(utf8.constData()));
            xmlNodeSetContent(node, escaped);
            xmlFree(escaped);
        };
        // What is fetched is chosen when the page is read; when it is
        // rewritten, every reference to a fetched URL takes its copy (an
        // icon naming a picture of the page too).
        if (parent == QLatin1String("link")) {
            if (!update) {
                xmlChar *rel = xmlGetProp(node->parent, reinterpret_cast<const xmlChar *>("rel"));
                const bool stylesheet = fromXml(rel).toLower().trimmed() == QLatin1String("stylesheet");
                xmlFree(rel);
                if (stylesheet)
                    addURLToFetch(content);
                continue;
            }
        } else if (name == QLatin1String("style")) {
            if (!update) {
                for (const QString &found : CSSURLsFromString(content))
                    addURLToFetch(found);
            } else {
                setContent(replacedCSS(content));
            }
            continue;
        } else if (!update && (parent == QLatin1String("source") || parent == QLatin1String("audio"))) {
            const QString extension = QFileInfo(QUrl(content.trimmed()).path()).suffix().toLower();
            if (extension == QLatin1String("ogg") || extension == QLatin1String("ogv") ||
                extension == QLatin1String("webm"))
                continue;
        } else if (parent == QLatin1String("a")) {
            // Links are never fetched. Local copies keep them working; in
            // the other modes a link to a fetched URL takes its copy.
            if (!update)
                continue;
            if (m_urlReplacementMode == ReplaceWithLocalPaths) {
                setContent(url().resolved(QUrl(content.trimmed())).toString());
                continue;
            }
        }
        if (!update) {
            addURLToFetch(content);
        } else {
            const QString replacement = contentForExternalURL(content.trimmed());
            if (!replacement.isNull())
                setContent(replacement);
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    return true;
}

QString NRWebPageRequest::contentForExternalURL(const QString &text) const {
    const QVariantMap entry = m_resourceList.value(text);
    const QString dataPath = entry.value(QStringLiteral("DataPath")).toString();
    if (m_urlReplacementMode == ReplaceWithLocalPaths) {
        // A resource never fetched keeps its reference.
        if (dataPath.isEmpty() || downloadDestinationPath().isEmpty())
            return QString();
        return relativePathTo(dataPath, downloadDestinationPath());
    }
    QByteArray data = entry.value(QStringLiteral("Data")).toByteArray();
    if (!dataPath.isEmpty()) {
        QFile file(dataPath);
        data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    const QString type = entry.value(QStringLiteral("ContentType")).toString();
    if (data.isNull() || type.isEmpty())
        return QString();
    return QStringLiteral("data:%1;base64,").arg(type) + QString::fromLatin1(data.toBase64());
}

// Each url(...) whose URL was fetched takes its replacement; the rest of
// the text stays as it was (a URL is replaced inside its own token only,
// never where it ends another URL, "img/a.png" holding "a.png").
QString NRWebPageRequest::replacedCSS(QString css) const {
    QString out;
    int copied = 0;
    forEachURLToken(css, [&](int start, int length) {
        const QString inside = css.mid(start, length);
        const QString url = urlOfToken(inside);
        const QString replacement = m_resourceList.contains(url) ? contentForExternalURL(url) : QString();
        if (!url.isEmpty() && !replacement.isNull()) {
            out += QStringView(css).mid(copied, start - copied);
            out += QString(inside).replace(inside.indexOf(url), url.size(), replacement);
            copied = start + length;
        }
        return true;
    });
    if (copied == 0)
        return css;
    out += QStringView(css).mid(copied);
    return out;
}

void NRWebPageRequest::releaseDocument() {
    std::lock_guard lock(libxmlLock());
    if (m_doc) {
        xmlFreeDoc(m_doc);
        m_doc = nullptr;
    }
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

NRWebPageRequest *NRWebPageRequest::topRequest() {
    NRWebPageRequest *top = this;
    while (auto parent = top->parentRequest())
        top = parent.get();
    return top;
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

void NRWebPageRequest::startResourceRequests() {
    if (isCancelled()) {
        releaseHold();
        return;
    }
    if (m_externalResourceQueue)
        m_externalResourceQueue->cancelAllOperations();
    auto queue = NRRequestQueue::queue();
    m_externalResourceQueue = queue;
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
    QStringList order;
    {
        std::lock_guard l(m_mutex);
        order = m_resourceOrder;
    }
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    if (!m_resourceProgress)
        m_resourceProgress = std::make_shared<ResourceProgress>(self);
    auto &fetched = topRequest()->m_fetchedInTree;
    if (!parentRequest())
        fetched.insert(url().adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded), self);
    m_fetchedElsewhere.clear();
    bool added = false;
    for (const QString &text : order) {
        const QUrl target = url().resolved(QUrl(text));
        const QString key = target.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
        if (auto first = fetched.find(key); first != fetched.end()) {
            m_fetchedElsewhere.insert(text, first.value());
            continue;
        }
        auto resource = NRWebPageRequest::requestWithURL(target);
        fetched.insert(key, resource);
        resource->setRequestHeaders(headersForResource(resource->url()));
        // Its messages go to the page's delegate under their own names (not
        // the page's finish or fail method); of its progress, only bytes
        // and sizes reach the page's indicators.
        resource->setDelegate(delegate());
        resource->setUploadProgressDelegate(m_resourceProgress);
        resource->setDownloadProgressDelegate(m_resourceProgress);
        resource->setDownloadCache(downloadCache());
        resource->setCachePolicy(cachePolicy());
        resource->setCacheStoragePolicy(cacheStoragePolicy());
        resource->setUserInfo({{QStringLiteral("Path"), text}});
        resource->setParentRequest(self);
        resource->setUrlReplacementMode(urlReplacementMode());
        resource->setShouldResetDownloadProgress(false);
        if (!downloadDestinationPath().isEmpty()) {
            const QString path = cachePathForRequest(*resource);
            QDir().mkpath(QFileInfo(path).path());
            resource->setDownloadDestinationPath(path);
        }
        queue->addRequest(resource);
        added = true;
    }
    if (!added) {
        finishedFetchingExternalResources();  // each one is fetched elsewhere in the page
        return;
    }
    queue->go();
}

// What a resource request gives its page: its type, and its file or bytes;
// nothing for an error page, which is no copy of the resource.
static QVariantMap resourceEntry(const NRHTTPRequest &resource, bool toFile) {
    QVariantMap entry;
    if (resource.responseStatusCode() < 200 || resource.responseStatusCode() >= 300)
        return entry;
    const QString type = resource.responseHeader(QStringLiteral("Content-Type"));
    entry.insert(QStringLiteral("ContentType"), type.isNull() ? QStringLiteral("application/octet-stream") : type);
    if (toFile)
        entry.insert(QStringLiteral("DataPath"), resource.downloadDestinationPath());
    else if (!resource.responseData().isEmpty())
        entry.insert(QStringLiteral("Data"), resource.responseData());
    return entry;
}

// A reference whose URL another request of the page fetched takes that
// request's copy when it has ended with one; a style sheet importing its
// importer, or a page framing itself, keeps its reference.
void NRWebPageRequest::useResourcesFetchedElsewhere() {
    if (m_urlReplacementMode == DontReplaceURLs)
        return;
    const bool toFile = !downloadDestinationPath().isEmpty();
    for (auto it = m_fetchedElsewhere.cbegin(); it != m_fetchedElsewhere.cend(); ++it) {
        const auto first = it.value().lock();
        if (!first || !first->isFinished() || first->error() || first->isCancelled())
            continue;
        const QVariantMap entry = resourceEntry(*first, toFile && !first->downloadDestinationPath().isEmpty());
        if (!entry.isEmpty())
            m_resourceList.insert(it.key(), entry);
    }
}

void NRWebPageRequest::externalResourceFetchSucceeded(NRHTTPRequest *resource) {
    const QString text = resource->userInfo().value(QStringLiteral("Path")).toString();
    std::lock_guard l(m_mutex);
    if (!m_resourceList.contains(text))
        return;
    // An error page is no copy of the resource: its reference stays.
    const QVariantMap entry = resourceEntry(*resource, !downloadDestinationPath().isEmpty());
    if (!entry.isEmpty())
        m_resourceList.insert(text, entry);
}

void NRWebPageRequest::externalResourceFetchFailed(NRHTTPRequest *resource) {
    if (!m_externalResourceQueue || !m_externalResourceQueue->shouldCancelAllRequestsOnFailure() || m_failedAlready)
        return;  // the page goes on without it
    m_failedAlready = true;
    releaseDocument();
    failDeferred(resource->error() ? resource->error()
                                   : makeError(ConnectionFailureErrorType, QStringLiteral("A resource could not be fetched")));
    releaseHold();
}

void NRWebPageRequest::finishedFetchingExternalResources() {
    if (m_failedAlready || isCancelled()) {
        releaseHold();
        return;
    }
    std::lock_guard l(m_mutex);
    useResourcesFetchedElsewhere();
    // The reply is kept inflated from here on: it is handed out without its
    // "Content-Encoding", rewritten or not.
    if (isResponseCompressed())
        setRawResponseData(responseData());
    removeResponseHeader(QStringLiteral("Content-Encoding"));
    if (const VNErrorPtr error = m_urlReplacementMode != DontReplaceURLs ? replaceReferences() : nullptr) {
        releaseDocument();
        failDeferred(error);
        releaseHold();
        return;
    }
    releaseDocument();
    if (!parentRequest())
        reportDownloadComplete();
    // The page as rewritten replaces the reply stored when it arrived.
    if (m_urlReplacementMode != DontReplaceURLs) {
        if (auto cache = downloadCache())
            cache->storeResponseForRequest(*this, secondsToCache());
    }
    finishDeferred();
    releaseHold();
}

// Rewrites the style sheet or page with the resources' replacements.
VNErrorPtr NRWebPageRequest::replaceReferences() {
    if (m_webContentType == CSSContent) {
        VNErrorPtr error;
        const QString css = readReplyText(&error);
        if (error)
            return makeError(ParseOrWriteError, QStringLiteral("Error: unable to read response CSS from disk"));
        const QString replaced = replacedCSS(css);
        QStringEncoder encoder(responseEncoding().isEmpty() ? "ISO-8859-1" : responseEncoding().constData());
        const QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(replaced)) : replaced.toUtf8();
        if (downloadDestinationPath().isEmpty()) {
            setRawResponseData(bytes);
            return nullptr;
        }
        QFile file(downloadDestinationPath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return makeError(ParseOrWriteError, QStringLiteral("Error: unable to write response CSS to disk"));
        return nullptr;
    }
    if (m_webContentType != HTMLContent)
        return nullptr;
    std::lock_guard lock(libxmlLock());
    VNErrorPtr error;
    if (!m_doc)
        return nullptr;
    if (!updateResourceURLs(&error))
        return error;
    error = saveDocument();
    releaseDocument();
    return error;
}

// Writes the rewritten page: to a file beside the destination, put in its
// place only when whole (a failed write leaves the page as it arrived), or
// as the new reply. Any failure of the writer is the page's.
VNErrorPtr NRWebPageRequest::saveDocument() {
    const QString destination = downloadDestinationPath();
    if (destination.isEmpty()) {
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlSaveCtxtPtr save = buffer ? xmlSaveToBuffer(buffer, nullptr, XML_SAVE_NO_DECL) : nullptr;
        bool saved = false;
        if (save) {
            const bool wrote = xmlSaveDoc(save, m_doc) >= 0;
            saved = xmlSaveClose(save) >= 0 && wrote;
        }
        if (saved)
            setRawResponseData(QByteArray(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer)));
        if (buffer)
            xmlBufferFree(buffer);
        return saved ? nullptr : makeError(ParseOrWriteError, QStringLiteral("Error: unable to write response HTML"));
    }
    const QString beside = VNPartName::beside(destination, VNPartName::randomSuffix(QStringLiteral("part"), 32));
    xmlSaveCtxtPtr save = xmlSaveToFilename(QFile::encodeName(beside).constData(), nullptr, XML_SAVE_NO_DECL);
    bool saved = false;
    if (save) {
        const bool wrote = xmlSaveDoc(save, m_doc) >= 0;
        saved = xmlSaveClose(save) >= 0 && wrote;
    }
    std::error_code ec;
    if (saved)
        std::filesystem::rename(QFile::encodeName(beside).toStdString(), QFile::encodeName(destination).toStdString(), ec);
    if (saved && !ec)
        return nullptr;
    QFile::remove(beside);
    return makeError(ParseOrWriteError, QStringLiteral("Error: unable to write response HTML to disk"),
                     QStringLiteral("%1: %2").arg(destination, ec ? QString::fromStdString(ec.message())
                                                                  : QStringLiteral("the page could not be written")));
}
