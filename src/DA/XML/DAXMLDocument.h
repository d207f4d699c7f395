#pragma once

#include "DA/XML/DAXMLElement.h"

#include <QByteArray>

class DAXMLDocument;
using DAXMLDocumentPtr = std::shared_ptr<DAXMLDocument>;

// A whole XML document of the data-API client. Parsing is for untrusted
// replies: no network access, no entity substitution, no DTD loading, a
// document with a document type declaration is refused, and libxml2's depth and size
// limits hold. Text between elements (white space included) is kept, so a
// document written back after parsing keeps its layout.
class DAXMLDocument {
public:
    // Refused beyond this size, before parsing.
    static constexpr qsizetype maxInputBytes = 64 * 1024 * 1024;

    // Null and *error (domain "org.vostrelin.DAXML", code -1) for bytes that
    // are not a well-formed document.
    static DAXMLDocumentPtr documentWithData(const QByteArray &data, VNErrorPtr *error = nullptr);
    static DAXMLDocumentPtr documentWithXMLString(const QString &text, VNErrorPtr *error = nullptr);
    // A new document (version "1.0") whose root is a deep copy of the element.
    static DAXMLDocumentPtr documentWithRootElement(const DAXMLElementPtr &root);
    // The same for an element nobody else holds: its nodes are moved.
    static DAXMLDocumentPtr documentTakingRootElement(DAXMLElementPtr root);

    // Borrowing wrapper of the root element (it keeps the document alive).
    DAXMLElementPtr rootElement() const;
    // The whole document as UTF-8 bytes.
    QByteArray XMLData() const;
    void setVersion(const QString &version);
    void setCharacterEncoding(const QString &encoding);

    DAXMLNodeList nodesForXPath(const QString &xpath, VNErrorPtr *error = nullptr) const;
    DAXMLNodeList nodesForXPath(const QString &xpath, const DAXMLNamespaceMap &namespaces,
                                VNErrorPtr *error = nullptr) const;

    QString description() const;
    // Gives the document its string cache (every document made here has one).
    void addStringsCacheToDoc();

    // The parser behind both classes; a document the caller frees, or null.
    static xmlDocPtr parseBytes(const QByteArray &data, bool keepBlanks, VNErrorPtr *error);

private:
    explicit DAXMLDocument(xmlDocPtr doc);
    std::shared_ptr<DAXMLTree> m_tree;
};
