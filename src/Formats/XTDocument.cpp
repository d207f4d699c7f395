#include "Formats/XTDocument.h"

#include "Formats/XTElement.h"
#include "Formats/XTLibxml.h"
#include "Formats/XTTree.h"

#include <QFile>
#include <libxml/parser.h>

QString XTDocument::errorDomain() { return QStringLiteral("XTErrorDomain"); }

XTDocumentPtr XTDocument::adopt(xmlDocPtr doc) {
    auto tree = XTTree::forDocument(doc);
    return std::static_pointer_cast<XTDocument>(wrap(reinterpret_cast<xmlNodePtr>(doc), tree));
}

XTDocumentPtr XTDocument::initWithData(const QByteArray &data, VNErrorPtr *error) {
    return initWithData(data, QByteArrayLiteral("utf-8"), error);
}

XTDocumentPtr XTDocument::initWithData(const QByteArray &data, const QByteArray &ianaEncoding, VNErrorPtr *error) {
    XTLibxml::ErrorCapture capture;
    xmlDocPtr doc = nullptr;
    if (!data.isEmpty() && data.size() <= maxInputBytes) {
        // Recover from errors and keep quiet about warnings (65); small texts
        // stored inside their nodes save an allocation each.
        constexpr int options = XML_PARSE_RECOVER | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;
        doc = xmlReadMemory(data.constData(), int(data.size()), nullptr,
                            ianaEncoding.isEmpty() ? nullptr : ianaEncoding.constData(), options);
    }
    if (doc && xmlDocGetRootElement(doc))
        return adopt(doc);
    if (doc)
        xmlFreeDoc(doc);
    if (error)
        *error = VNError::withDescription(errorDomain(), 1,
                                          capture.hasError() ? capture.lastMessage() : QStringLiteral("Unknown error"));
    return nullptr;
}

XTDocumentPtr XTDocument::initWithXMLString(const QString &text, VNErrorPtr *error) {
    XTLibxml::ErrorCapture capture;
    const QByteArray bytes = text.toUtf8();
    xmlDocPtr doc = text.isNull() ? nullptr : xmlParseDoc(reinterpret_cast<const xmlChar *>(bytes.constData()));
    if (doc)
        return adopt(doc);
    if (error)
        *error = capture.hasError() ? VNError::withDescription(errorDomain(), 1, capture.lastMessage())
                                    : std::make_shared<VNError>(errorDomain(), 1);
    return nullptr;
}

bool XTDocument::readURL(const QUrl &url, QByteArray *data, VNErrorPtr *error) {
    if (!url.isLocalFile()) {
        if (error)
            *error = VNError::withDescription(errorDomain(), 1, QStringLiteral("Only a local file can be read: %1").arg(url.toString()));
        return false;
    }
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = VNError::withDescription(errorDomain(), 1, file.errorString());
        return false;
    }
    if (file.size() > maxInputBytes) {
        if (error)
            *error = VNError::withDescription(errorDomain(), 1, QStringLiteral("The file is too large"));
        return false;
    }
    *data = file.readAll();
    return true;
}

XTDocumentPtr XTDocument::initWithContentsOfURL(const QUrl &url, VNErrorPtr *error) {
    return initWithContentsOfURL(url, QByteArrayLiteral("utf-8"), error);
}

XTDocumentPtr XTDocument::initWithContentsOfURL(const QUrl &url, const QByteArray &ianaEncoding, VNErrorPtr *error) {
    if (error)
        *error = nullptr;
    QByteArray data;
    if (!readURL(url, &data, error))
        return nullptr;
    return initWithData(data, ianaEncoding, error);
}

XTElementPtr XTDocument::rootElement() const {
    return std::static_pointer_cast<XTElement>(wrap(xmlDocGetRootElement(doc()), tree()));
}

QByteArray XTDocument::XMLData() const {
    XTLibxml::ErrorCapture quiet;
    xmlChar *mem = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc(), &mem, &size);
    QByteArray bytes(reinterpret_cast<const char *>(mem), size);
    xmlFree(mem);
    return bytes;
}

QString XTDocument::XMLString() const {
    XTElementPtr root = rootElement();
    return root ? root->XMLString() : QString();
}

QString XTDocument::description() const {
    XTLibxml::ErrorCapture quiet;
    xmlChar *mem = nullptr;
    int size = 0;
    xmlDocDumpFormatMemory(doc(), &mem, &size, 1);
    const QString dump = QString::fromUtf8(reinterpret_cast<const char *>(mem), size);
    xmlFree(mem);
    // An HTML document names its own class.
    const QLatin1String cls(m_node->type == XML_HTML_DOCUMENT_NODE ? "CXHTMLDocument" : "XTDocument");
    return QStringLiteral("<%1 %2 [%3]> ")
               .arg(cls, QString::asprintf("%p", static_cast<const void *>(this)),
                    QString::asprintf("%p", static_cast<const void *>(m_node))) +
           dump;
}

bool XTDocument::addChild(const XTNodePtr &child) { return linkChild(child, nullptr, "XTDocument addChild"); }

bool XTDocument::insertChild(const XTNodePtr &child, qsizetype index) {
    // Counted as childAtIndex() counts (declarations are not children).
    xmlNodePtr before = nullptr;
    qsizetype i = 0;
    for (xmlNodePtr c = m_node->children; c && index >= 0; c = c->next) {
        if (!isWrappable(c))
            continue;
        if (i++ == index) {
            before = c;
            break;
        }
    }
    if (!before)
        return false;  // the index must name an existing child
    return linkChild(child, before, "XTDocument insertChild");
}
