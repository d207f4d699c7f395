#pragma once

#include "Formats/XTDocument.h"

class CXHTMLDocument;
using CXHTMLDocumentPtr = std::shared_ptr<CXHTMLDocument>;

// A document read by libxml2's HTML parser (tag soup welcome), within the
// limits of the XML documents: input size, nesting depth, and no network.
class CXHTMLDocument : public XTDocument {
public:
    // Parses the text's UTF-8 form. When "/html/body" matches, the first
    // child of the first body becomes the root element. Null on failure,
    // with ("XTErrorDomain", 1, libxml2's last message or "unknown").
    static CXHTMLDocumentPtr initWithXHTMLString(const QString &text, VNErrorPtr *error = nullptr);
    // Parses bytes in the given IANA character set, leaving out blank text.
    // Null for empty bytes or a failed parse, with ("XTErrorDomain", -1).
    static CXHTMLDocumentPtr initWithXHTMLData(const QByteArray &data, const QByteArray &ianaEncoding,
                                               VNErrorPtr *error = nullptr);
    // Reads a local file (as XTDocument does) and parses it as HTML data.
    static CXHTMLDocumentPtr initWithContentsOfURL(const QUrl &url, const QByteArray &ianaEncoding,
                                                   VNErrorPtr *error = nullptr);

protected:
    using XTDocument::XTDocument;
    friend class XTNode;

private:
    static CXHTMLDocumentPtr adoptWithinLimits(xmlDocPtr doc);
};
