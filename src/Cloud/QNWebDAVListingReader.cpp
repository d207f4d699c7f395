#include "Cloud/QNWebDAVListingReader.h"

#include "Core/QNUtils.h"
#include "Formats/XTDocument.h"

#include <QStringDecoder>
#include <QUrl>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <limits>

namespace {

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

// Percent escapes replaced as UTF-8; a null string when the bytes are not UTF-8.
QString decodePercentStrict(const QString &text) {
    const QByteArray bytes = QByteArray::fromPercentEncoding(text.toUtf8());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return QString();
    return decoded;
}

bool isDAV(const xmlChar *uri) {
    return uri && xmlStrcmp(uri, BAD_CAST "DAV:") == 0;
}

bool named(const xmlChar *localName, const char *name) {
    return xmlStrcmp(localName, BAD_CAST name) == 0;
}

// The properties of a response that a document is made of.
enum class Property { None, Href, DisplayName, ContentLength, LastModified, CreationDate };

}  // namespace

struct QNWebDAVListingReader::State {
    QNWebDAVHandler::ListingContext context;
    QStringList selfForms;
    xmlParserCtxtPtr parser = nullptr;
    QString lastError;

    int depth = 0;
    bool sawRoot = false;
    bool isMultistatus = false;
    // The root element's end tag was read: a reply cut short lacks it.
    bool rootClosed = false;
    // Where in a response the parser is (by depth: 2 response, 3 href or
    // propstat, 4 prop, 5 a property, 6 inside resourcetype).
    bool inResponse = false, inPropstat = false, inProp = false, inResourceType = false;
    Property capturing = Property::None;
    int captureDepth = 0;
    QByteArray text;

    // The response being read: the first non-empty value of each property.
    QByteArray href, displayName, contentLength, lastModified, creationDate;
    bool hasHref = false;
    bool isCollection = false;

    QNDocumentList documents;
    int leftOut = 0;  // entries on the server with a name this drive cannot show

    void startResponse() {
        inResponse = true;
        hasHref = false;
        isCollection = false;
        href.clear();
        displayName.clear();
        contentLength.clear();
        lastModified.clear();
        creationDate.clear();
    }

    void startElement(const xmlChar *localName, const xmlChar *uri) {
        ++depth;
        if (depth == 1) {
            sawRoot = true;
            isMultistatus = isDAV(uri) && named(localName, "multistatus");
            return;
        }
        if (!isMultistatus || capturing != Property::None || !isDAV(uri))
            return;
        if (depth == 2 && named(localName, "response")) {
            startResponse();
        } else if (depth == 3 && inResponse) {
            if (named(localName, "href") && !hasHref)
                capture(Property::Href);
            else if (named(localName, "propstat"))
                inPropstat = true;
        } else if (depth == 4 && inPropstat && named(localName, "prop")) {
            inProp = true;
        } else if (depth == 5 && inProp) {
            if (named(localName, "resourcetype"))
                inResourceType = true;
            else if (named(localName, "displayname"))
                capture(Property::DisplayName);
            else if (named(localName, "getcontentlength"))
                capture(Property::ContentLength);
            else if (named(localName, "getlastmodified"))
                capture(Property::LastModified);
            else if (named(localName, "creationdate"))
                capture(Property::CreationDate);
        } else if (depth == 6 && inResourceType && named(localName, "collection")) {
            isCollection = true;
        }
    }

    void capture(Property property) {
        capturing = property;
        captureDepth = depth;
        text.clear();
    }

    void characters(const xmlChar *chars, int length) {
        if (capturing != Property::None)
            text.append(reinterpret_cast<const char *>(chars), length);
    }

    void endElement() {
        if (capturing != Property::None && depth == captureDepth) {
            const QByteArray value = text.trimmed();
            auto keepFirst = [&value](QByteArray &field) {
                if (field.isEmpty())
                    field = value;
            };
            switch (capturing) {
            case Property::Href:
                href = value;
                hasHref = true;
                break;
            case Property::DisplayName:
                // Kept untrimmed, as the server wrote it.
                if (displayName.isEmpty())
                    displayName = text;
                break;
            case Property::ContentLength: keepFirst(contentLength); break;
            case Property::LastModified: keepFirst(lastModified); break;
            case Property::CreationDate: keepFirst(creationDate); break;
            case Property::None: break;
            }
            capturing = Property::None;
        }
        if (isMultistatus) {
            switch (depth) {
            case 2:
                if (inResponse)
                    finishResponse();
                inResponse = false;
                break;
            case 3: inPropstat = false; break;
            case 4: inProp = false; break;
            case 5: inResourceType = false; break;
            default: break;
            }
        }
        if (depth == 1)
            rootClosed = true;
        --depth;
    }

    bool isSelf(const QString &decoded) const {
        const QString trimmed = withoutTrailingSlashes(decoded);
        for (const QString &form : selfForms)
            if (trimmed.compare(form, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    }

    void finishResponse() {
        const QString rawHref = QString::fromUtf8(href);
        const QString decodedHref = QUrl::fromPercentEncoding(href);
        if (!context.formsPath.isEmpty() && decodedHref == context.formsPath)
            return;
        // An absolute URL names the same resource as its path.
        QString hrefPath = decodedHref;
        if (rawHref.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
            rawHref.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
            hrefPath = QUrl::fromPercentEncoding(QUrl(rawHref).path(QUrl::FullyEncoded).toUtf8());
        if (isSelf(decodedHref) || isSelf(hrefPath))
            return;

        // The entry's name comes from the server: never let it leave the folder.
        const QString name = decodePercentStrict(lastPathComponent(rawHref));
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name.contains(QLatin1Char('/')) || name.contains(QChar(0))) {
            ++leftOut;
            return;
        }
        const QString shownName = QString::fromUtf8(displayName);
        const QString display = shownName.isEmpty() ? name : shownName;
        if (context.isDiskCast &&
            (display == QLatin1String("$RECYCLE.BIN") || display == QLatin1String("System Volume Information"))) {
            ++leftOut;
            return;
        }

        auto document = QNDocument::create();
        document->setDisplayName(display);
        document->setIsDirectory(isCollection);
        if (!isCollection) {
            document->setSize(contentLength.toLongLong());
            // The date shown is the last change; most servers other than
            // Apache send no creation date at all.
            const QByteArray &date = lastModified.isEmpty() ? creationDate : lastModified;
            if (!date.isEmpty())
                document->setDate(QNUtils::dateFromString(QString::fromLatin1(date)));
        }
        QString path = withTrailingSlash(context.folderPath.isEmpty() ? QStringLiteral("/") : context.folderPath) + name;
        for (const QLatin1String scheme : {QLatin1String("http://"), QLatin1String("https://")}) {
            if (path.startsWith(scheme)) {
                path = path.mid(scheme.size());
                const qsizetype slash = path.indexOf(QLatin1Char('/'));
                if (slash >= 0)
                    path = path.mid(slash);
            }
        }
        document->setPath(path);
        documents.append(document);
    }
};

namespace {

// The callbacks reach the state through the parser context's private pointer.
QNWebDAVListingReader::State &stateOf(void *context) {
    return *static_cast<QNWebDAVListingReader::State *>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void onStartElement(void *context, const xmlChar *localName, const xmlChar *, const xmlChar *uri, int,
                    const xmlChar **, int, int, const xmlChar **) {
    stateOf(context).startElement(localName, uri);
}

void onEndElement(void *context, const xmlChar *, const xmlChar *, const xmlChar *) {
    stateOf(context).endElement();
}

void onCharacters(void *context, const xmlChar *chars, int length) {
    stateOf(context).characters(chars, length);
}

void onError(void *context, xmlErrorPtr error) {
    if (!context || !error || !error->message || error->level < XML_ERR_ERROR)
        return;
    QString message = QString::fromUtf8(error->message);
    if (message.endsWith(QLatin1Char('\n')))
        message.chop(1);
    stateOf(context).lastError = message;
}

}  // namespace

QNWebDAVListingReader::QNWebDAVListingReader(QNWebDAVHandler::ListingContext context)
    : m_state(std::make_unique<State>()) {
    State &s = *m_state;
    s.context = std::move(context);

    // The folder itself, in every form servers write it, compared decoded
    // and without letter case (a case-insensitive server may write the
    // folder's href in its own case and escapes).
    const QString folderP =
        withTrailingSlash(s.context.folderPath.isEmpty() ? QStringLiteral("/") : s.context.folderPath);
    const QString base = s.context.baseURL;
    QString basePort = base;
    const QUrl baseUrl(base);
    if (baseUrl.isValid() && baseUrl.port() == -1 &&
        (baseUrl.scheme() == QLatin1String("https") || baseUrl.scheme() == QLatin1String("http"))) {
        QUrl withPort = baseUrl;
        withPort.setPort(baseUrl.scheme() == QLatin1String("https") ? 443 : 80);
        basePort = QUrl::fromPercentEncoding(withPort.toString(QUrl::FullyEncoded).toUtf8());
    }
    const QString basePath = withoutTrailingSlashes(baseUrl.path(QUrl::FullyDecoded));
    s.selfForms = {folderP,
                   base + folderP,
                   basePort + folderP,
                   withoutTrailingSlashes(base) + folderP,
                   withoutTrailingSlashes(basePort) + folderP,
                   (basePath == QLatin1String("/") ? QString() : basePath) + folderP};
    for (QString &form : s.selfForms)
        form = withoutTrailingSlashes(QUrl::fromPercentEncoding(form.toUtf8()));

    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = onStartElement;
    sax.endElementNs = onEndElement;
    sax.characters = onCharacters;
    sax.cdataBlock = onCharacters;
    sax.serror = onError;
    s.parser = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
    if (s.parser) {
        s.parser->_private = &s;
        // Tolerant of small faults, as the document tree reader is; never
        // loads anything from the network.
        xmlCtxtUseOptions(s.parser, XML_PARSE_RECOVER | XML_PARSE_NOWARNING | XML_PARSE_NOERROR | XML_PARSE_NONET);
    }
}

QNWebDAVListingReader::~QNWebDAVListingReader() {
    if (m_state->parser) {
        if (m_state->parser->myDoc)
            xmlFreeDoc(m_state->parser->myDoc);
        xmlFreeParserCtxt(m_state->parser);
    }
}

void QNWebDAVListingReader::feed(const char *data, qsizetype size) {
    State &s = *m_state;
    while (s.parser && size > 0) {
        const int piece = int(std::min<qsizetype>(size, std::numeric_limits<int>::max() / 2));
        xmlParseChunk(s.parser, data, piece, 0);
        data += piece;
        size -= piece;
    }
}

QNDocumentList QNWebDAVListingReader::finish(VNErrorPtr *error) {
    State &s = *m_state;
    if (s.parser)
        xmlParseChunk(s.parser, nullptr, 0, 1);
    if (!s.sawRoot) {
        *error = VNError::withDescription(XTDocument::errorDomain(), 1,
                                          s.lastError.isEmpty() ? QStringLiteral("Unknown error") : s.lastError);
        return {};
    }
    if (!s.isMultistatus) {
        *error = QNWebDAVHandler::handlerError(QStringLiteral("The server's reply is not a WebDAV answer."));
        return {};
    }
    if (!s.rootClosed) {
        // The connection closed in the middle of the listing: what came is
        // not the whole folder.
        *error = QNWebDAVHandler::handlerError(
            QStringLiteral("The server's listing of %1 ended before it was complete.").arg(s.context.folderPath));
        return {};
    }
    return std::move(s.documents);
}

int QNWebDAVListingReader::leftOutCount() const {
    return m_state->leftOut;
}
