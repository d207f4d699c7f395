#include "Formats/XTChildPath.h"

#include <cstring>

namespace {

// Longer paths are left to libxml2 (the walk recurses once per step).
constexpr size_t kMaxSteps = 32;

// libxml2 refuses node sets of more than about ten million nodes; a walk
// that passes as many nodes is given up, and libxml2 decides, so that
// such a query ends as it always has.
constexpr size_t kMaxVisited = 10'000'000;

bool isNameStart(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool isNameChar(QChar c) {
    return isNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
}

// Names that XPath can read as an operator or a node test next to other
// tokens: whatever libxml2 makes of them, it decides.
bool isKeyword(QStringView name) {
    for (const char16_t *word : {u"and", u"or", u"div", u"mod", u"node", u"text", u"comment", u"processing-instruction"})
        if (name == QStringView(word))
            return true;
    return false;
}

// An ASCII name at the start of text, or an empty view.
QStringView leadingName(QStringView text) {
    if (text.isEmpty() || !isNameStart(text.front()))
        return {};
    qsizetype n = 1;
    while (n < text.size() && isNameChar(text[n]))
        ++n;
    return text.first(n);
}

bool sameUnits(QStringView a, QStringView b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// Names are short and most differ in their first bytes: compared here
// rather than by a call.
inline bool sameText(const xmlChar *a, const char *b) {
    if (!a)
        return false;
    const auto *p = reinterpret_cast<const unsigned char *>(b);
    while (*a && *a == *p) {
        ++a;
        ++p;
    }
    return *a == *p;
}

inline bool matches(xmlNodePtr node, const XTChildPath::Test &test) {
    if (node->type != XML_ELEMENT_NODE || !sameText(node->name, test.localName))
        return false;
    // An unprefixed name is an element in no namespace (XPath 1.0 has no
    // default namespace for names).
    if (!test.uri)
        return node->ns == nullptr;
    return node->ns && sameText(node->ns->href, test.uri);
}

// One walk: the steps resolved, the nodes found, and how far it may go.
struct Walk {
    const std::vector<XTChildPath::Test> &tests;
    std::vector<xmlNodePtr> &out;
    size_t limit;  // stop after this many found; 0: find all
    size_t budget = kMaxVisited;
    bool tooLong = false;

    // False once the walk is over (enough found, or too long).
    bool visit() {
        if (budget-- > 0)
            return true;
        tooLong = true;
        return false;
    }

    bool found(xmlNodePtr node) {
        out.push_back(node);
        return out.size() != limit;
    }

    bool children(xmlNodePtr parent, size_t step) {
        const XTChildPath::Test &test = tests[step];
        const bool last = step + 1 == tests.size();
        for (xmlNodePtr child = parent->children; child; child = child->next) {
            if (!visit())
                return false;
            if (!matches(child, test))
                continue;
            if (!(last ? found(child) : children(child, step + 1)))
                return false;
        }
        return true;
    }

    // Depth first through element children only, as the descendant axis
    // goes (an entity reference's content is not descended into).
    void descendants(xmlNodePtr root) {
        const XTChildPath::Test &test = tests.front();
        xmlNodePtr node = root->children;
        while (node) {
            if (!visit() || (matches(node, test) && !found(node)))
                return;
            if (node->type == XML_ELEMENT_NODE && node->children) {
                node = node->children;
                continue;
            }
            while (node && node != root && !node->next)
                node = node->parent;
            node = (node && node != root) ? node->next : nullptr;
        }
    }
};

}  // namespace

std::optional<XTChildPath> XTChildPath::parse(QStringView xpath) {
    XTChildPath path;
    QStringView rest = xpath;
    if (rest.startsWith(u"//")) {
        path.m_start = Start::Descendants;
        rest = rest.sliced(2);
    } else if (rest.startsWith(u'/')) {
        path.m_start = Start::Document;
        rest = rest.sliced(1);
    }
    for (;;) {
        QStringView prefix;
        QStringView local = leadingName(rest);
        if (local.isEmpty() || isKeyword(local))
            return std::nullopt;
        rest = rest.sliced(local.size());
        if (rest.startsWith(u':')) {
            prefix = local;
            local = leadingName(rest.sliced(1));
            if (local.isEmpty() || isKeyword(local))
                return std::nullopt;
            rest = rest.sliced(1 + local.size());
            // libxml2 binds "xml" itself, whatever the mappings say.
            if (isKeyword(prefix) || prefix.startsWith(u"xml", Qt::CaseInsensitive))
                return std::nullopt;
        }
        path.m_steps.push_back({prefix.toString(), local.toUtf8()});
        if (path.m_steps.size() > kMaxSteps)
            return std::nullopt;
        if (rest.isEmpty())
            break;
        if (!rest.startsWith(u'/'))
            return std::nullopt;
        rest = rest.sliced(1);
    }
    // After "//" only one name: more steps would need sorting into document order.
    if (path.m_start == Start::Descendants && path.m_steps.size() != 1)
        return std::nullopt;
    return path;
}

bool XTChildPath::evaluate(xmlNodePtr context, const NamespaceURIs &uris, std::vector<xmlNodePtr> &out,
                           size_t limit) const {
    if (!context || !context->doc || context->doc->type != XML_DOCUMENT_NODE)
        return false;
    if (context->type != XML_ELEMENT_NODE && context->type != XML_DOCUMENT_NODE)
        return false;
    thread_local std::vector<Test> tests;
    tests.clear();
    for (const Step &step : m_steps) {
        const char *uri = nullptr;
        if (!step.prefix.isEmpty()) {
            auto it = uris.cbegin();
            while (it != uris.cend() && !sameUnits(it->first, step.prefix))
                ++it;
            if (it == uris.cend() || it->second.isEmpty())
                return false;  // libxml2 reports the unknown prefix
            uri = it->second.constData();
        }
        tests.push_back({step.localName.constData(), uri});
    }
    Walk walk{tests, out, limit};
    if (m_start == Start::Descendants)
        walk.descendants(reinterpret_cast<xmlNodePtr>(context->doc));
    else
        walk.children(m_start == Start::Document ? reinterpret_cast<xmlNodePtr>(context->doc) : context, 0);
    if (walk.tooLong) {
        out.clear();
        return false;
    }
    return true;
}
