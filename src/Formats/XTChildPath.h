#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <libxml/tree.h>
#include <optional>
#include <utility>
#include <vector>

// The plainest XPath expressions, the ones the handlers ask of every record
// of a reply: element names joined by "/" ("D:propstat/D:prop/D:href"), read
// from the context node, from the document ("/D:multistatus/D:response"),
// or "//" and one name (every such element of the document).
//
// For these, walking the tree gives exactly the node set libxml2's XPath
// engine gives (document order, each node once) without its per-query
// machinery, which a large reply pays once per record and query. Anything
// else, and any case where the walk could answer differently (a prefix with
// no mapping, a reserved prefix, a context that is not an element or an XML
// document, a walk so long that libxml2's node-set limit could come into
// play), is left to libxml2: evaluate() then says so.
class XTChildPath {
public:
    // The path, when the expression is one of the forms above.
    static std::optional<XTChildPath> parse(QStringView xpath);

    // The elements the path selects from context (an element or document
    // node of an XML document), in document order; prefixes are resolved
    // through uris ((prefix, UTF-8 namespace URI) pairs). False, with
    // nothing added, when the walk cannot stand in for libxml2 here. With a
    // limit, the walk stops once that many are found (the first ones).
    using NamespaceURIs = std::vector<std::pair<QString, QByteArray>>;
    bool evaluate(xmlNodePtr context, const NamespaceURIs &uris, std::vector<xmlNodePtr> &out, size_t limit = 0) const;

private:
    enum class Start { Context, Document, Descendants };
    struct Step {
        QString prefix;  // empty: the element must be in no namespace
        QByteArray localName;
    };
public:
    // A step with its prefix resolved: uri is null for "no namespace".
    struct Test {
        const char *localName;
        const char *uri;
    };

private:


    Start m_start = Start::Context;
    std::vector<Step> m_steps;
};
