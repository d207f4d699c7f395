#pragma once

#include "Formats/XTNode.h"

#include <QByteArray>
#include <QUrl>

// A whole XML document over one libxml2 document. Parse replies with
// initWithData() and search them with XPath; build request bodies with
// XTNode::documentWithRootElement() and take XMLData().
class XTDocument : public XTNode {
public:
    static QString errorDomain();  // "XTErrorDomain"

    // Parses UTF-8 bytes with libxml2's recovering parser (a malformed reply
    // still gives a tree where one can be recovered). Null on failure, with
    // ("XTErrorDomain", 1, libxml2's message or "Unknown error") in *error.
    static XTDocumentPtr initWithData(const QByteArray &data, VNErrorPtr *error = nullptr);
    // As above, reading the bytes in the given IANA character set (it
    // overrides what the document declares).
    static XTDocumentPtr initWithData(const QByteArray &data, const QByteArray &ianaEncoding,
                                      VNErrorPtr *error = nullptr);
    // Parses text with libxml2's strict parser: no recovery; a document
    // without a root element is accepted. A failure without a libxml2
    // message gives the error with no user info.
    static XTDocumentPtr initWithXMLString(const QString &text, VNErrorPtr *error = nullptr);
    // Reads a local file's whole content and parses it as initWithData()
    // (in the given character set); the data-format layer reads no network
    // URL. Null with the read error when it cannot be read.
    static XTDocumentPtr initWithContentsOfURL(const QUrl &url, VNErrorPtr *error = nullptr);
    static XTDocumentPtr initWithContentsOfURL(const QUrl &url, const QByteArray &ianaEncoding, VNErrorPtr *error = nullptr);

    // The limits every parse keeps: input below this size, and libxml2's
    // nesting limit (no huge documents), which holds for HTML too.
    static constexpr qsizetype maxInputBytes = 0x7ffffffe;
    static constexpr int maxDepth = 256;

    XTElementPtr rootElement() const;
    // The whole document as libxml2 dumps it: the XML declaration, a line
    // feed, the root element and a line feed.
    QByteArray XMLData() const;
    // The text of the root element alone (no declaration).
    QString XMLString() const override;
    QString description() const override;

    bool addChild(const XTNodePtr &child);
    // Inserts before the child at index (index below childCount()).
    bool insertChild(const XTNodePtr &child, qsizetype index);

protected:
    using XTNode::XTNode;
    friend class XTNode;

    xmlDocPtr doc() const { return reinterpret_cast<xmlDocPtr>(m_node); }
    static XTDocumentPtr adopt(xmlDocPtr doc);
    // Reads a local file whole, within maxInputBytes.
    static bool readURL(const QUrl &url, QByteArray *data, VNErrorPtr *error);
};
