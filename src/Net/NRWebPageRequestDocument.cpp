// A page's or style sheet's text: read for the URLs it names, and rewritten
// with what was fetched for them.

#include "Net/NRWebPageRequest.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNPartName.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <mutex>

namespace {

// What this file keeps for the process is made on first use (often on a
// worker) and never destroyed: workers are never joined, and one may still
// use it while the process runs its exit handlers.

// libxml2 is set up once and never torn down: other parsers (the XML tree,
// the data-API) may be running at any time, and a global clean-up under
// their feet would break them.
std::recursive_mutex &libxmlLock() {
    static auto *lock = new std::recursive_mutex;
    return *lock;
}

void initialiseLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

struct TestHooks {
    std::mutex lock;
    std::function<void(NRWebPageRequest &)> at[5];
};

TestHooks &testHooks() {
    static auto *hooks = new TestHooks;
    return *hooks;
}

void runTestHook(NRWebPageRequest::TestPoint point, NRWebPageRequest &request) {
    std::function<void(NRWebPageRequest &)> hook;
    {
        std::lock_guard l(testHooks().lock);
        hook = testHooks().at[int(point)];
    }
    if (hook)
        hook(request);
}

const char *const kResourceXPath =
    "//link/@href|//a/@href|//script/@src|//img/@src|//frame/@src|//iframe/@src|//style|//*/@style|//source/@src|"
    "//video/@poster|//audio/@src";

QString fromXml(const xmlChar *text) {
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

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

// Writes the bytes to a file beside the path, then puts it in the path's
// place once it is whole and closed; on any failure the path keeps what it
// had. Returns the failure's text, or null.
QString replaceFileAtomically(const QString &path, const QByteArray &bytes) {
    QFile file(VNPartName::beside(path, VNPartName::randomSuffix(QStringLiteral("part"), 32)));
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // A full disk or a quota often shows only when the buffered bytes go out
    // at the close: that is checked too.
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    QString failure;
    if (!written || file.error() != QFileDevice::NoError)
        failure = file.errorString();
    std::error_code ec;
    if (failure.isNull())
        std::filesystem::rename(QFile::encodeName(file.fileName()).toStdString(), QFile::encodeName(path).toStdString(), ec);
    if (ec)
        failure = QString::fromStdString(ec.message());
    if (!failure.isNull())
        QFile::remove(file.fileName());
    return failure;
}

// The page's new bytes as libxml2 writes them, up to a limit.
struct PageBytes {
    QByteArray bytes;
    qint64 limit = 0;
    bool tooLarge = false;
};

// libxml2's writer appending to the page's bytes (the write callback of
// xmlSaveToIO): the byte count taken, or -1 when it could not be kept.
int appendToBytes(void *sink, const char *buffer, int length) {
    auto *page = static_cast<PageBytes *>(sink);
    if (page->bytes.size() + qint64(length) > page->limit) {
        page->tooLarge = true;
        return -1;
    }
    try {
        page->bytes.append(buffer, length);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return length;
}

// The document as the page's new bytes: no XML declaration, no encoding
// named. False when libxml2 could not write it all.
bool serialiseDocument(xmlDoc *doc, PageBytes *page) {
    xmlSaveCtxtPtr save = xmlSaveToIO(appendToBytes, nullptr, page, nullptr, XML_SAVE_NO_DECL);
    if (!save)
        return false;
    const bool wrote = xmlSaveDoc(save, doc) >= 0;
    return xmlSaveClose(save) >= 0 && wrote;
}

// The size of the data: URL of bytes of the type.
qint64 dataURLSize(qint64 bytes, const QString &type) {
    return qint64(sizeof("data:;base64,") - 1) + type.toUtf8().size() + (bytes + 2) / 3 * 4;
}

}  // namespace

void NRWebPageRequest::setHookForTesting(TestPoint point, std::function<void(NRWebPageRequest &)> hook) {
    std::lock_guard l(testHooks().lock);
    testHooks().at[int(point)] = std::move(hook);
}

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
    static const auto *names = new QMap<QByteArray, QByteArray>{
        {"US-ASCII", "ASCII"},       {"ASCII", "ASCII"},           {"EUC-JP", "EUC-JP"},
        {"UTF-8", "UTF-8"},          {"ISO-8859-1", "ISO-8859-1"}, {"SHIFT_JIS", "Shift-JIS"},
        {"ISO-8859-2", "ISO-8859-2"}, {"ISO-2022-JP", "ISO-2022-JP"}, {"UTF-16BE", "UTF-16BE"},
        {"UTF-16LE", "UTF-16LE"},    {"UTF-32BE", "UCS-4BE"},      {"UTF-32LE", "UCS-4LE"},
    };
    return names->value(encoding);
}

// Network thread: the page is parsed on a worker.
bool NRWebPageRequest::parseAsHTML() {
    m_webContentType = HTMLContent;
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    VNDispatch::globalAsync([self] { self->parseDocument(); });
    return true;
}

// Worker: the page ends here when it names nothing to fetch or cannot be
// parsed; otherwise its resources start.
void NRWebPageRequest::parseDocument() {
    runTestHook(TestPoint::ReadingReply, *this);
    VNErrorPtr error;
    switch (readDocument(&error)) {
    case ParseOutcome::Failed:
        failDeferred(error);
        return;
    case ParseOutcome::NothingToFetch:
        finishDeferred();
        return;
    case ParseOutcome::Resources:
        break;
    }
    if (isCancelled()) {
        releaseDocument();  // cancelled while parsing: nothing is fetched
        return;
    }
    holdWhileFetching();
}

NRWebPageRequest::ParseOutcome NRWebPageRequest::readDocument(VNErrorPtr *error) {
    std::lock_guard lock(libxmlLock());
    runTestHook(TestPoint::ParsingUnderLibxml, *this);
    initialiseLibxml();
    const int options = HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
    const QByteArray encoding = encodingName();
    const char *encodingText = encoding.isEmpty() ? nullptr : encoding.constData();
    // An empty page is no document either. (A page in a file is no larger
    // than the body bound: a larger one is not parsed.)
    xmlDoc *doc = nullptr;
    if (replyIsInFile()) {
        const QString path = downloadDestinationPath();
        if (QFileInfo(path).size() > 0)
            doc = htmlReadFile(QFile::encodeName(path).constData(), encodingText, options);
    } else if (const QByteArray body = responseData(); !body.isEmpty()) {
        doc = htmlReadMemory(body.constData(), int(body.size()), "", encodingText, options);
    }
    if (!doc) {
        // An error page that is no page (often an empty one) is the
        // server's answer as it came: it names nothing, and a missing image
        // must not fail the page that shows it.
        if (responseStatusCode() >= 400)
            return ParseOutcome::NothingToFetch;
        *error = makeError(ParseOrWriteError, QStringLiteral("Error: unable to parse reponse XML"));
        return ParseOutcome::Failed;
    }
    {
        std::lock_guard l(m_mutex);
        m_resourceList.clear();
        m_resourceOrder.clear();
    }
    const bool read = readResourceURLs(doc, error);
    bool none = false;
    {
        std::lock_guard l(m_mutex);
        none = m_resourceList.isEmpty();
    }
    // Kept only for a rewrite.
    if (read && !none && urlReplacementMode() != DontReplaceURLs) {
        m_doc.store(doc);
        return ParseOutcome::Resources;
    }
    xmlFreeDoc(doc);
    if (!read)
        return ParseOutcome::Failed;
    return none ? ParseOutcome::NothingToFetch : ParseOutcome::Resources;
}

// The body of a reply with a download destination is in that file, but for
// an error page's: the file is left as it was, and the page stays in memory.
bool NRWebPageRequest::replyIsInFile() const {
    return !downloadDestinationPath().isEmpty() && responseStatusCode() < 400;
}

// A page or sheet in memory is within the bound (a larger reply fails); one
// in a file is read only when it is too.
bool NRWebPageRequest::fitsBodyBound() const {
    if (!replyIsInFile())
        return true;
    return QFileInfo(downloadDestinationPath()).size() <= boundOfReply();
}

qint64 NRWebPageRequest::boundOfReply() const {
    return qint64(std::min<quint64>(maximumResponseDataSize(), quint64(std::numeric_limits<qint64>::max() - 1)));
}

VNErrorPtr NRWebPageRequest::tooLargeError(int contentType) const {
    const QString what = contentType == CSSContent ? QStringLiteral("style sheet") : QStringLiteral("page");
    return makeError(ResponseTooLargeErrorType, QStringLiteral("The %1 as rewritten would be too large (more than %2 bytes)")
                                                    .arg(what)
                                                    .arg(boundOfReply()));
}

// The reply as text, read from its file up to the body bound.
QString NRWebPageRequest::readReplyText(VNErrorPtr *error) const {
    const QByteArray name = responseEncoding().isEmpty() ? QByteArray("ISO-8859-1") : responseEncoding();
    if (replyIsInFile()) {
        QFile file(downloadDestinationPath());
        if (!file.open(QIODevice::ReadOnly)) {
            *error = makeError(UnableToReadStringError, QStringLiteral("Unable to read HTML string from response"),
                               file.errorString());
            return QString();
        }
        const qint64 bound = boundOfReply();
        const QByteArray bytes = file.read(bound + 1);
        if (bytes.size() > bound) {
            *error = makeError(ResponseTooLargeErrorType,
                               QStringLiteral("The style sheet is too large to read (more than %1 bytes)").arg(bound));
            return QString();
        }
        QStringDecoder decoder(name.constData());
        return decoder.isValid() ? decoder.decode(bytes) : QString::fromUtf8(bytes);
    }
    return responseString();
}

// Network thread: the sheet is read on a worker, as a page is parsed there.
bool NRWebPageRequest::parseAsCSS() {
    m_webContentType = CSSContent;
    auto self = std::static_pointer_cast<NRWebPageRequest>(sharedSelf());
    VNDispatch::globalAsync([self] { self->readStyleSheet(); });
    return true;
}

// Worker: the sheet ends here when it names nothing to fetch or cannot be
// read; otherwise its resources start.
void NRWebPageRequest::readStyleSheet() {
    runTestHook(TestPoint::ReadingReply, *this);
    VNErrorPtr error;
    const QString css = readReplyText(&error);
    if (error || css.isNull()) {
        if (responseStatusCode() >= 400)
            finishDeferred();  // an error page without text: as it came
        else
            failDeferred(error ? error
                               : makeError(UnableToReadStringError, QStringLiteral("Unable to read HTML string from response")));
        return;
    }
    {
        std::lock_guard l(m_mutex);
        m_resourceList.clear();
        m_resourceOrder.clear();
    }
    for (const QString &found : CSSURLsFromString(css))
        addURLToFetch(found);
    bool none = false;
    {
        std::lock_guard l(m_mutex);
        none = m_resourceList.isEmpty();
    }
    if (none)
        finishDeferred();
    else
        holdWhileFetching();
}

bool NRWebPageRequest::readResourceURLs(xmlDoc *doc, VNErrorPtr *error) {
    return walkResourceURLs(doc, DontReplaceURLs, nullptr, error);
}

bool NRWebPageRequest::updateResourceURLs(xmlDoc *doc, int mode, const Replacements &replacements, VNErrorPtr *error) {
    return walkResourceURLs(doc, mode, &replacements, error);
}

// Reads the page's resource references (no replacements) or rewrites them
// with the replacements given, no more bytes than the body bound in all.
// False with *error set when it cannot. Under libxml2's lock.
bool NRWebPageRequest::walkResourceURLs(xmlDoc *doc, int mode, const Replacements *replacements, VNErrorPtr *error) {
    const bool update = replacements != nullptr;
    const auto fail = [&](const QString &text) { *error = makeError(ParseOrWriteError, text); };
    const qint64 bound = boundOfReply();
    qint64 added = 0;
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
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
    for (int i = count - 1; i >= 0 && added <= bound; --i) {
        xmlNodePtr node = result->nodesetval->nodeTab[i];
        const QString name = fromXml(node->name).toLower();
        const QString parent = node->parent ? fromXml(node->parent->name).toLower() : QString();
        xmlChar *raw = xmlNodeGetContent(node);
        const QString content = fromXml(raw);
        xmlFree(raw);
        auto setContent = [&](const QByteArray &utf8) {
            added += utf8.size();
            if (added > bound)
                return;
            xmlChar *escaped = xmlEncodeSpecialChars(doc, reinterpret_cast<const xmlChar *>(utf8.constData()));
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
            } else if (const QString css = replacedCSS(content, *replacements, bound - added); css.isNull()) {
                added = bound + 1;
            } else {
                setContent(css.toUtf8());
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
            if (mode == ReplaceWithLocalPaths) {
                setContent(url().resolved(QUrl(content.trimmed())).toString().toUtf8());
                continue;
            }
        }
        if (!update) {
            addURLToFetch(content);
        } else if (const auto replacement = replacements->constFind(content.trimmed());
                   replacement != replacements->cend()) {
            setContent(*replacement);
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    if (added > bound) {
        *error = tooLargeError(HTMLContent);
        return false;
    }
    return true;
}

// The replacement of one listed URL (UTF-8; null when it has none): the
// relative path to its local copy, or a data: URL of its bytes, read here.
// *tooLarge when it would take more than room bytes (nothing is read).
QByteArray NRWebPageRequest::contentForExternalURL(const Rewrite &rewrite, const QString &text, qint64 room,
                                                  bool *tooLarge) const {
    const QVariantMap entry = rewrite.resources.value(text);
    const QString dataPath = entry.value(QStringLiteral("DataPath")).toString();
    QByteArray replacement;
    if (rewrite.mode == ReplaceWithLocalPaths) {
        // A resource never fetched keeps its reference.
        if (dataPath.isEmpty() || downloadDestinationPath().isEmpty())
            return QByteArray();
        replacement = relativePathTo(dataPath, downloadDestinationPath()).toUtf8();
    } else {
        const QString type = entry.value(QStringLiteral("ContentType")).toString();
        if (type.isEmpty())
            return QByteArray();
        QByteArray data = entry.value(QStringLiteral("Data")).toByteArray();
        if (!dataPath.isEmpty()) {
            QFile file(dataPath);
            if (!file.open(QIODevice::ReadOnly))
                return QByteArray();
            if (dataURLSize(file.size(), type) > room) {
                *tooLarge = true;
                return QByteArray();
            }
            data = file.readAll();
        }
        if (data.isNull())
            return QByteArray();
        if (dataURLSize(data.size(), type) > room) {
            *tooLarge = true;
            return QByteArray();
        }
        replacement = "data:" + type.toUtf8() + ";base64," + data.toBase64();
    }
    *tooLarge = replacement.size() > room;
    return *tooLarge ? QByteArray() : replacement;
}

// What every listed URL becomes, each read and encoded once (before
// libxml2 is taken). Each stands at least once in the result, so together
// they are no more than the body bound; a too large error when they are.
VNErrorPtr NRWebPageRequest::replacementsOfResources(const Rewrite &rewrite, Replacements *replacements) const {
    qint64 room = boundOfReply();
    for (auto it = rewrite.resources.cbegin(); it != rewrite.resources.cend(); ++it) {
        bool tooLarge = false;
        const QByteArray replacement = contentForExternalURL(rewrite, it.key(), room, &tooLarge);
        if (tooLarge) {
            replacements->clear();
            return tooLargeError(rewrite.contentType);
        }
        if (replacement.isNull())
            continue;
        room -= replacement.size();
        replacements->insert(it.key(), replacement);
    }
    return nullptr;
}

// Each url(...) whose URL has a replacement takes it; the rest of the text
// stays as it was (a URL is replaced inside its own token only, never where
// it ends another URL, "img/a.png" holding "a.png").
QString NRWebPageRequest::replacedCSS(const QString &css, const Replacements &replacements, qint64 limit) {
    QString out;
    int copied = 0;
    bool tooLarge = false;
    forEachURLToken(css, [&](int start, int length) {
        const QString inside = css.mid(start, length);
        const QString url = urlOfToken(inside);
        const auto replacement = url.isEmpty() ? replacements.cend() : replacements.constFind(url);
        if (replacement != replacements.cend()) {
            out += QStringView(css).mid(copied, start - copied);
            out += QString(inside).replace(inside.indexOf(url), url.size(), QString::fromUtf8(*replacement));
            copied = start + length;
            tooLarge = limit >= 0 && out.size() > limit;
        }
        return !tooLarge;
    });
    if (copied == 0)
        return limit >= 0 && css.size() > limit ? QString() : css;
    out += QStringView(css).mid(copied);
    return tooLarge || (limit >= 0 && out.size() > limit) ? QString() : out;
}

void NRWebPageRequest::releaseDocument() {
    if (xmlDoc *doc = m_doc.exchange(nullptr))
        releaseDocumentElsewhere(doc);
}

void NRWebPageRequest::releaseDocumentElsewhere(xmlDoc *doc) {
    VNDispatch::globalAsync([doc] {
        std::lock_guard lock(libxmlLock());
        xmlFreeDoc(doc);
    });
}

NRWebPageRequest::Rewrite NRWebPageRequest::rewriteAsSetNow() const {
    std::lock_guard l(m_mutex);
    return Rewrite{m_urlReplacementMode, m_webContentType, m_resourceList};
}

// Worker: rewrites the style sheet or page with the resources'
// replacements. The resources are read and encoded, and the page written,
// without libxml2's lock (another page's parse waits for whoever holds it).
VNErrorPtr NRWebPageRequest::replaceReferences(const Rewrite &rewrite) {
    runTestHook(TestPoint::StartingRewrite, *this);
    if (rewrite.contentType != CSSContent && rewrite.contentType != HTMLContent)
        return nullptr;
    Replacements replacements;
    if (const VNErrorPtr error = replacementsOfResources(rewrite, &replacements))
        return error;
    if (rewrite.contentType == HTMLContent)
        return rewriteDocument(rewrite, replacements);
    VNErrorPtr error;
    const QString css = readReplyText(&error);
    if (error)
        return error->code() == ResponseTooLargeErrorType
                   ? error
                   : makeError(ParseOrWriteError, QStringLiteral("Error: unable to read response CSS from disk"));
    const qint64 bound = boundOfReply();
    const QString replaced = replacedCSS(css, replacements, bound);
    if (replaced.isNull() && !css.isNull())
        return tooLargeError(CSSContent);
    return saveCSS(replaced);
}

// Worker: the page's references set and the page put into bytes under
// libxml2's lock, then written.
VNErrorPtr NRWebPageRequest::rewriteDocument(const Rewrite &rewrite, const Replacements &replacements) {
    xmlDoc *doc = m_doc.exchange(nullptr);
    if (!doc)
        return nullptr;
    PageBytes page;
    page.limit = boundOfReply();
    bool serialised = false;
    runTestHook(TestPoint::TakingLibxmlToRewrite, *this);
    {
        std::lock_guard lock(libxmlLock());
        runTestHook(TestPoint::RewritingUnderLibxml, *this);
        VNErrorPtr error;
        const bool updated = updateResourceURLs(doc, rewrite.mode, replacements, &error);
        if (updated)
            serialised = serialiseDocument(doc, &page);
        xmlFreeDoc(doc);
        if (!updated)
            return error;
    }
    if (page.tooLarge)
        return tooLargeError(HTMLContent);
    return savePage(serialised, page.bytes);
}

// Writes the rewritten style sheet in the reply's encoding: as the new reply,
// or in place of its file once whole (a sheet that cannot be written stays
// as it arrived, and the failure is the request's).
VNErrorPtr NRWebPageRequest::saveCSS(const QString &css) {
    QStringEncoder encoder(responseEncoding().isEmpty() ? "ISO-8859-1" : responseEncoding().constData());
    const QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(css)) : css.toUtf8();
    if (bytes.size() > boundOfReply())
        return tooLargeError(CSSContent);
    if (isCancelled())
        return nullptr;  // a cancelled sheet stays as it came
    if (!replyIsInFile()) {
        setRawResponseData(bytes);
        return nullptr;
    }
    const QString destination = downloadDestinationPath();
    const QString failure = replaceFileAtomically(destination, bytes);
    if (failure.isNull())
        return nullptr;
    return makeError(ParseOrWriteError, QStringLiteral("Error: unable to write response CSS to disk"),
                     QStringLiteral("%1: %2").arg(destination, failure));
}

// Writes the rewritten page: as the new reply, or in place of its file once
// whole (a failed write leaves the page as it arrived). Any failure of
// libxml2's writer is the page's.
VNErrorPtr NRWebPageRequest::savePage(bool serialised, const QByteArray &page) {
    if (isCancelled())
        return nullptr;  // a cancelled page stays as it came
    if (!replyIsInFile()) {
        if (!serialised)
            return makeError(ParseOrWriteError, QStringLiteral("Error: unable to write response HTML"));
        setRawResponseData(page);
        return nullptr;
    }
    const QString destination = downloadDestinationPath();
    const QString failure = serialised ? replaceFileAtomically(destination, page) : QStringLiteral("the page could not be written");
    if (failure.isNull())
        return nullptr;
    return makeError(ParseOrWriteError, QStringLiteral("Error: unable to write response HTML to disk"),
                     QStringLiteral("%1: %2").arg(destination, failure));
}
