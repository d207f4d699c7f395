#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <vector>

class NRWebPageRequest;

// The requests of one web page and of everything it brings in (its style
// sheets, their imports, its frames), shared by all of them: each URL is
// fetched once in the whole tree, and a page or sheet naming a URL that
// another request of the tree fetches waits for that request to end before
// it ends (and is rewritten), so every place that names the URL gets its
// copy. A request waiting so gives up its place in its page's queue (the
// one it waits for may be queued behind it).
//
// A wait that would close a circle (a sheet importing its importer, a page
// framing itself) is not made: that reference stays as it was. Every wait
// is either a request fetching its own resources or one made here, and a
// new one is made only when the other request does not already wait, by
// any path, for the one that would wait: so no request ever waits for
// itself, and every tree ends. A request never waits here for a URL it
// fetches itself (one URL in two spellings): its own queue waits for it.
//
// A request counts as ended once its end is told here, and also once it is
// gone or cancelled (a request that ended unheard holds up nobody).
//
// URLs are keyed as absolute URLs without their fragment. Main thread only.
class NRWebPageTree {
public:
    // The request of a URL asked for in the tree, fetched by the request of
    // parentKey (empty for the top page).
    void add(const QString &key, const std::shared_ptr<NRWebPageRequest> &request, const QString &parentKey = QString());
    bool contains(const QString &key) const { return m_nodes.contains(key); }

    // The request of waiterKey names the URLs of keys, which other requests
    // of the tree fetch (or itself, under another spelling): it is to wait
    // for the end of each of them that has not ended, that it does not
    // fetch itself, and that does not wait for it by any path. Made once per
    // request, as it starts its resources.
    void await(const QString &waiterKey, const QSet<QString> &keys);
    // Whether the request of key still waits for a request made elsewhere.
    bool isAwaiting(const QString &key) const;

    // The request of key has ended; copy is what it gave its place (empty:
    // nothing usable). Returns the requests that waited for it and now wait
    // for nothing more. A request's first end counts; later ones are none.
    std::vector<std::shared_ptr<NRWebPageRequest>> ended(const QString &key, const QVariantMap &copy);
    bool hasEnded(const QString &key) const;
    QVariantMap copyOf(const QString &key) const;

    // The page has ended: what the tree still holds (the copies) goes.
    void clear();

private:
    struct Node {
        std::weak_ptr<NRWebPageRequest> request;
        QString parent;        // the request fetching it (empty: the top page)
        bool ended = false;
        QVariantMap copy;
        QSet<QString> awaits;  // requests elsewhere it waits for
    };
    // Ended as told, or gone, or cancelled.
    static bool isOver(const Node &node);
    // The keys of every request that waits, by any path, for the one of key
    // (key among them): its fetcher and those awaiting it, and theirs in turn.
    QSet<QString> waitingFor(const QString &key) const;

    QHash<QString, Node> m_nodes;
    QHash<QString, QSet<QString>> m_waitersOf;  // key -> the requests awaiting it
};
