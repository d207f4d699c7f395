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

#include <filesystem>
#include <mutex>

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

std::function<void()> &lockedRewriteHook() {
    static std::function<void()> hook;
    return hook;
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

// libxml2's writer appending to a byte array (the write callback of
// xmlSaveToIO): the byte count taken, or -1 when it could not be kept.
int appendToBytes(void *bytes, const char *buffer, int length) {
    try {
        static_cast<QByteArray *>(bytes)->append(buffer, length);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return length;
}

// The document as the page's new bytes: no XML declaration, no encoding
// named. False when libxml2 could not write it all.
bool serialiseDocument(xmlDoc *doc, QByteArray *bytes) {
    xmlSaveCtxtPtr save = xmlSaveToIO(appendToBytes, nullptr, bytes, nullptr, XML_SAVE_NO_DECL);
    if (!save)
        return false;
    const bool wrote = xmlSaveDoc(save, doc) >= 0;
    return xmlSaveClose(save) >= 0 && wrote;
}

}  // namespace

void NRWebPageRequest::setLockedRewriteHookForTesting(std::function<void()> hook) {
    lockedRewriteHook() = std::move(hook);
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
    static const QMap<QByteArray, QByteArray> names{
        {"US-ASCII", "ASCII"},       {"ASCII", "ASCII"},           {"EUC-JP", "EUC-JP"},
        {"UTF-8", "UTF-8"},          {"ISO-8859-1", "ISO-8859-1"}, {"SHIFT_JIS", "Shift-JIS"},
        {"ISO-8859-2", "ISO-8859-2"}, {"ISO-2022-JP", "ISO-2022-JP"}, {"UTF-16BE", "UTF-16BE"},
        {"UTF-16LE", "UTF-16LE"},    {"UTF-32BE", "UCS-4BE"},      {"UTF-32LE", "UCS-4LE"},
    };
    return names.value(encoding);
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
    initialiseLibxml();
    const int options = HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
    const QByteArray encoding = encodingName();
    const char *encodingText = encoding.isEmpty() ? nullptr : encoding.constData();
    // An empty page is no document either.
    if (replyIsInFile()) {
        const QString path = downloadDestinationPath();
        if (QFileInfo(path).size() > 0)
            m_doc = htmlReadFile(QFile::encodeName(path).constData(), encodingText, options);
    } else if (const QByteArray body = responseData(); !body.isEmpty()) {
        m_doc = htmlReadMemory(body.constData(), int(body.size()), "", encodingText, options);
    }
    if (!m_doc) {
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
    const bool read = readResourceURLs(error);
    if (read && !m_resourceList.isEmpty())
        return ParseOutcome::Resources;
    releaseDocument();
    return read ? ParseOutcome::NothingToFetch : ParseOutcome::Failed;
}

// The body of a reply with a download destination is in that file, but for
// an error page's: the file is left as it was, and the page stays in memory.
bool NRWebPageRequest::replyIsInFile() const {
    return !downloadDestinationPath().isEmpty() && responseStatusCode() < 400;
}

QString NRWebPageRequest::readReplyText(VNErrorPtr *error) const {
    const QByteArray name = responseEncoding().isEmpty() ? QByteArray("ISO-8859-1") : responseEncoding();
    if (replyIsInFile()) {
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
        if (responseStatusCode() >= 400)
            return false;  // an error page without text: as it came
        failWithError(error ? error
                            : makeError(UnableToReadStringError, QStringLiteral("Unable to read HTML string from response")));
        return true;
    }
    {
        std::lock_guard l(m_mutex);
        m_resourceList.clear();
        m_resourceOrder.clear();
    }
    for (const QString &found : CSSURLsFromString(css))
        addURLToFetch(found);
    if (m_resourceList.isEmpty())
        return false;
    holdWhileFetching();
    return true;
}

bool NRWebPageRequest::readResourceURLs(VNErrorPtr *error) { return walkResourceURLs(nullptr, error); }

bool NRWebPageRequest::updateResourceURLs(const Replacements &replacements, VNErrorPtr *error) {
    return walkResourceURLs(&replacements, error);
}

// Reads the page's resource references (no replacements) or rewrites them
// with the replacements given. False with *error set when it cannot. Under
// libxml2's lock.
bool NRWebPageRequest::walkResourceURLs(const Replacements *replacements, VNErrorPtr *error) {
    const bool update = replacements != nullptr;
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
        auto setContent = [&](const QByteArray &utf8) {
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
                setContent(replacedCSS(content, *replacements).toUtf8());
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
    return true;
}

// The replacement of one listed URL (UTF-8; null when it has none): the
// relative path to its local copy, or a data: URL of its bytes, read here.
QByteArray NRWebPageRequest::contentForExternalURL(const QString &text) const {
    const QVariantMap entry = m_resourceList.value(text);
    const QString dataPath = entry.value(QStringLiteral("DataPath")).toString();
    if (m_urlReplacementMode == ReplaceWithLocalPaths) {
        // A resource never fetched keeps its reference.
        if (dataPath.isEmpty() || downloadDestinationPath().isEmpty())
            return QByteArray();
        return relativePathTo(dataPath, downloadDestinationPath()).toUtf8();
    }
    QByteArray data = entry.value(QStringLiteral("Data")).toByteArray();
    if (!dataPath.isEmpty()) {
        QFile file(dataPath);
        data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    const QString type = entry.value(QStringLiteral("ContentType")).toString();
    if (data.isNull() || type.isEmpty())
        return QByteArray();
    return "data:" + type.toUtf8() + ";base64," + data.toBase64();
}

// What every listed URL becomes, each read and encoded once (main thread,
// before libxml2 is taken).
NRWebPageRequest::Replacements NRWebPageRequest::replacementsOfResources() const {
    Replacements replacements;
    for (auto it = m_resourceList.cbegin(); it != m_resourceList.cend(); ++it) {
        const QByteArray replacement = contentForExternalURL(it.key());
        if (!replacement.isNull())
            replacements.insert(it.key(), replacement);
    }
    return replacements;
}

// Each url(...) whose URL has a replacement takes it; the rest of the text
// stays as it was (a URL is replaced inside its own token only, never where
// it ends another URL, "img/a.png" holding "a.png").
QString NRWebPageRequest::replacedCSS(const QString &css, const Replacements &replacements) {
    QString out;
    int copied = 0;
    forEachURLToken(css, [&](int start, int length) {
        const QString inside = css.mid(start, length);
        const QString url = urlOfToken(inside);
        const auto replacement = url.isEmpty() ? replacements.cend() : replacements.constFind(url);
        if (replacement != replacements.cend()) {
            out += QStringView(css).mid(copied, start - copied);
            out += QString(inside).replace(inside.indexOf(url), url.size(), QString::fromUtf8(*replacement));
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

void NRWebPageRequest::releaseDocumentElsewhere(xmlDoc *doc) {
    VNDispatch::globalAsync([doc] {
        std::lock_guard lock(libxmlLock());
        xmlFreeDoc(doc);
    });
}

// Rewrites the style sheet or page with the resources' replacements. The
// resources are read and encoded, and the page written, without libxml2's
// lock (another page's parse waits for whoever holds it).
VNErrorPtr NRWebPageRequest::replaceReferences() {
    if (m_webContentType == CSSContent) {
        VNErrorPtr error;
        const QString css = readReplyText(&error);
        if (error)
            return makeError(ParseOrWriteError, QStringLiteral("Error: unable to read response CSS from disk"));
        return saveCSS(replacedCSS(css, replacementsOfResources()));
    }
    if (m_webContentType != HTMLContent)
        return nullptr;
    Replacements replacements = replacementsOfResources();
    QByteArray page;
    bool serialised = false;
    {
        std::lock_guard lock(libxmlLock());
        if (const auto &hook = lockedRewriteHook())
            hook();
        if (!m_doc)
            return nullptr;
        VNErrorPtr error;
        if (!updateResourceURLs(replacements, &error))
            return error;
        replacements.clear();  // the page holds its own copies now
        serialised = serialiseDocument(m_doc, &page);
        releaseDocument();
    }
    return savePage(serialised, page);
}

// Writes the rewritten style sheet in the reply's encoding: as the new reply,
// or in place of its file once whole (a sheet that cannot be written stays
// as it arrived, and the failure is the request's).
VNErrorPtr NRWebPageRequest::saveCSS(const QString &css) {
    QStringEncoder encoder(responseEncoding().isEmpty() ? "ISO-8859-1" : responseEncoding().constData());
    const QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(css)) : css.toUtf8();
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
