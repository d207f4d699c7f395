#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

class NRWebPageRequest;

// The requests of one web page and of everything it brings in (its style
// sheets, their imports, its frames), shared by all of them: each URL is
// fetched once in the whole tree, and a page or sheet naming a URL that
// another request of the tree fetches waits for that request to end before
// it is rewritten, so every place that names the URL gets its copy.
//
// A wait that would close a circle (a sheet importing its importer, a page
// framing itself) is not made: that reference stays as it was. Every wait
// is either a request fetching its own resources or one made here, and a
// new one is made only when the other request does not already wait, by
// any path, for the one that would wait: so no request ever waits for
// itself, and every tree ends.
//
// URLs are keyed as absolute URLs without their fragment. Main thread only.
class NRWebPageTree {
public:
    // The request of a URL asked for in the tree, fetched by the request of
    // parentKey (empty for the top page).
    void add(const QString &key, const std::shared_ptr<NRWebPageRequest> &request, const QString &parentKey = QString());
    bool contains(const QString &key) const { return m_nodes.contains(key); }

    // The request of waiterKey names the URL of key, which another request
    // of the tree fetches: true when it is to wait for that request's end
    // (recorded here), false when that request has ended already or when
    // waiting would close a circle.
    bool await(const QString &waiterKey, const QString &key);
    // Whether the request of key still waits for a request made elsewhere.
    bool isAwaiting(const QString &key) const;

    // The request of key has ended; copy is what it gave its place (empty:
    // nothing usable). Returns the requests that waited for it and now wait
    // for nothing more.
    std::vector<std::shared_ptr<NRWebPageRequest>> ended(const QString &key, const QVariantMap &copy);
    bool hasEnded(const QString &key) const;
    QVariantMap copyOf(const QString &key) const;

    // The page has ended: what the tree still holds (the copies) goes.
    void clear() { m_nodes.clear(); }

private:
    struct Node {
        std::weak_ptr<NRWebPageRequest> request;
        bool ended = false;
        QVariantMap copy;
        QSet<QString> fetches;    // its own resources
        QSet<QString> awaits;     // requests elsewhere it waits for
    };
    // Whether the request of from waits, by any path, for the one of to
    // (a request counts as waiting for itself).
    bool waitsFor(const QString &from, const QString &to) const;

    QMap<QString, Node> m_nodes;
};
