#pragma once

#include "Net/NRHTTPRequest.h"

#include <QHash>
#include <QMap>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>

class NRRequestQueue;
class NRWebPageTree;
typedef struct _xmlDoc xmlDoc;

// A web page with the resources it refers to (style sheets, scripts,
// images, frames, media, and the images of its style sheets), fetched as
// further page requests on a request queue, so a style sheet or frame is
// scanned in turn (an error page too: it is shown as it came, with what it
// names). The page can be rewritten to stand on its own: every fetched
// resource referred to by a "data:" URL (mode 1), or by a relative path to
// its local copy (mode 2, with a download destination). References to
// resources that could not be had are left as they were.
//
// One page and everything it brings in fetch each URL once (NRWebPageTree):
// a page or sheet ends (rewritten, in modes 1 and 2) once every resource it
// names has ended, whichever request of the page fetched it, and its
// resource list holds each of them; a sheet importing its importer, or a
// page framing itself, keeps its reference. A resource waiting so gives up
// its place in its page's queue. A started page is held until it ends.
//
// A resource's messages reach the delegate the page has when each comes
// (NRWebPageDelegateRelay), its bytes the page's progress delegates of the
// moment: after clearDelegatesAndCancel() nothing of the page or of its
// resources reaches anybody.
//
// Every reply held in memory has a bound: a page or sheet in a file larger
// than the request's body bound (maximumResponseDataSize()) is not scanned
// but finishes as it came, and a rewrite whose result would pass that
// bound fails (ResponseTooLargeErrorType), leaving the reply as it came.
class NRWebPageRequest : public NRHTTPRequest {
public:
    enum ReplacementMode { DontReplaceURLs = 0, ReplaceWithData = 1, ReplaceWithLocalPaths = 2 };
    enum ContentType { OtherContent = 0, HTMLContent = 1, CSSContent = 2 };
    static constexpr int UnableToReadStringError = 100;
    static constexpr int ParseOrWriteError = 101;

    explicit NRWebPageRequest(const QUrl &url);
    ~NRWebPageRequest() override;
    static std::shared_ptr<NRWebPageRequest> requestWithURL(const QUrl &url);
    std::shared_ptr<NRHTTPRequest> copy() const override;
    std::shared_ptr<NRHTTPRequest> HEADRequest() const override;

    int urlReplacementMode() const;
    void setUrlReplacementMode(int mode);
    bool shouldIgnoreExternalResourceErrors() const;
    void setShouldIgnoreExternalResourceErrors(bool on);
    int webContentType() const;
    // The page request that asked for this resource (null for the page).
    std::shared_ptr<NRWebPageRequest> parentRequest() const;
    void setParentRequest(const std::shared_ptr<NRWebPageRequest> &parent);
    // URL text as found in the page -> "ContentType", and "DataPath" or "Data".
    QMap<QString, QVariantMap> resourceList() const;
    void setResourceList(const QMap<QString, QVariantMap> &list);
    // The queue fetching the resources (made anew when they start).
    std::shared_ptr<NRRequestQueue> externalResourceQueue() const;
    void setExternalResourceQueue(const std::shared_ptr<NRRequestQueue> &queue);

    // Every url(...) of a style sheet's text, in order.
    static QStringList CSSURLsFromString(const QString &css);
    // The path from the folder of sourcePath to targetPath.
    static QString relativePathTo(const QString &targetPath, const QString &sourcePath);
    QString cachePathForRequest(const NRHTTPRequest &resource) const;

    // A resource silenced tells its page's tree it has ended (with nothing
    // to give): whoever in the tree waited for it goes on.
    void clearDelegatesAndCancel() override;

    // For tests: a hook called on the worker that reads a page or sheet
    // (before it reads the reply), while a page's parse holds libxml2, or
    // just before a page's rewrite takes it, or while the rewrite holds it
    // (its resources read and encoded already), or as a page's or sheet's
    // rewrite starts (before its resources are read).
    enum class TestPoint { ReadingReply, ParsingUnderLibxml, RewritingUnderLibxml, TakingLibxmlToRewrite, StartingRewrite };
    static void setHookForTesting(TestPoint point, std::function<void(NRWebPageRequest &)> hook);

protected:
    bool deferFinishing() override;
    void deferredFinishCancelled() override;
    // A resource's delegate passes on only the messages a page passes on: a
    // redirect found is not one of them.
    bool delegateHearsRedirects() const override { return !parentRequest(); }

private:
    // Reading the reply. Neither libxml2 nor a reply's whole text is ever
    // used on the network thread: a page is parsed, and a sheet read, on a
    // worker (NRWebPageRequestDocument.cpp). A page or sheet in a file
    // larger than the request's body bound is not read at all: it finishes
    // as it came.
    bool fitsBodyBound() const;
    // The request's body bound: the most bytes of a page or sheet read, and
    // of its rewrite.
    qint64 boundOfReply() const;
    bool parseAsHTML();
    void parseDocument();
    enum class ParseOutcome { Failed, NothingToFetch, Resources };
    ParseOutcome readDocument(VNErrorPtr *error);
    bool parseAsCSS();
    void readStyleSheet();
    bool readResourceURLs(xmlDoc *doc, VNErrorPtr *error);
    void addURLToFetch(const QString &text);
    QByteArray encodingName() const;
    // Whether the reply's body is in the download file (an error page never
    // goes there: it stays in memory, and so does its rewrite).
    bool replyIsInFile() const;
    QString readReplyText(VNErrorPtr *error) const;
    // The document goes (freed on a worker: libxml2's lock is never waited
    // for on the main thread); nothing to do when there is none.
    void releaseDocument();
    static void releaseDocumentElsewhere(xmlDoc *doc);

    // Rewriting the reply: on a worker, without the request's lock (the
    // network thread's status tick takes it). It works from its own copy of
    // the mode, the content type and the resource list, taken under the
    // lock as it starts (a caller may set them meanwhile). What each URL
    // becomes is read and encoded before libxml2 is taken, and the page is
    // written after it is let go: under it only the references are set and
    // the page is put into bytes. A rewrite whose result would pass the body
    // bound fails.
    struct Rewrite {
        int mode = DontReplaceURLs;
        int contentType = OtherContent;
        QMap<QString, QVariantMap> resources;
    };
    Rewrite rewriteAsSetNow() const;
    using Replacements = QHash<QString, QByteArray>;  // URL text as listed -> its replacement (UTF-8)
    bool updateResourceURLs(xmlDoc *doc, int mode, const Replacements &replacements, VNErrorPtr *error);
    // Without replacements the page's references are read (mode unused).
    bool walkResourceURLs(xmlDoc *doc, int mode, const Replacements *replacements, VNErrorPtr *error);
    VNErrorPtr replaceReferences(const Rewrite &rewrite);
    VNErrorPtr rewriteDocument(const Rewrite &rewrite, const Replacements &replacements);
    VNErrorPtr replacementsOfResources(const Rewrite &rewrite, Replacements *replacements) const;
    QByteArray contentForExternalURL(const Rewrite &rewrite, const QString &text, qint64 room, bool *tooLarge) const;
    // The sheet's text with each url(...) that has a replacement replaced;
    // null when the text would pass limit characters.
    static QString replacedCSS(const QString &css, const Replacements &replacements, qint64 limit = -1);
    VNErrorPtr tooLargeError(int contentType) const;
    VNErrorPtr saveCSS(const QString &css);
    VNErrorPtr savePage(bool serialised, const QByteArray &page);

    // Main thread.
    void startResourceRequests();
    void startResourceRequest(const std::shared_ptr<NRWebPageRequest> &resource, const QString &text);
    QMap<QString, QString> headersForResource(const QUrl &resourceURL) const;
    // Held from when the resources start until the page has ended, like a
    // request on the network thread: a caller need not keep it.
    void holdWhileFetching();
    void releaseHold();
    void useResourcesFetchedElsewhere();
    void externalResourceFetchSucceeded(NRHTTPRequest *resource);
    void externalResourceFetchFailed(NRHTTPRequest *resource);
    // A resource of this page has ended: so may the waits of the tree.
    void resourceEnded(NRHTTPRequest *resource, const QVariantMap &copy);
    // This request has ended for its tree, giving copy to the places that
    // name its URL: so may the waits of the tree. Its first end counts.
    void endInTree(const QVariantMap &copy);
    // A request of the tree went away without its end heard.
    static void endedUnheard(const std::shared_ptr<NRWebPageTree> &tree, const QString &key);
    void finishedFetchingExternalResources();
    // Rewrites and finishes the page once its own resources and those it
    // waits for elsewhere in the tree have ended: the rewrite (or the
    // document's release) on a worker, the end back here.
    void finishWhenResourcesEnded();
    void giveUpPlace();
    void finishWithResources();
    void rewriteAndEnd();
    // rewritten: the page's reply is as the rewrite made it.
    void endWithResources(const VNErrorPtr &error, bool rewritten);

    int m_urlReplacementMode = DontReplaceURLs;
    bool m_shouldIgnoreExternalResourceErrors = true;
    int m_webContentType = OtherContent;
    QMap<QString, QVariantMap> m_resourceList;
    QStringList m_resourceOrder;
    // A resource request holds its page; its page's queue lets it go when
    // it ends.
    std::shared_ptr<NRWebPageRequest> m_parentRequest;
    std::shared_ptr<NRRequestQueue> m_externalResourceQueue;
    std::shared_ptr<NRWebPageRequest> m_heldWhileFetching;
    // The progress indicator of the resources (main thread).
    class ResourceProgress;
    std::shared_ptr<NRProgressDelegate> m_resourceProgress;
    // The page tree this request belongs to, and its URL's key there (set
    // on the main thread before the request starts, then only read).
    std::shared_ptr<NRWebPageTree> m_tree;
    QString m_treeKey;
    QMap<QString, QString> m_fetchedElsewhere;  // URL text as found -> key of the request fetching it
    bool m_ownResourcesEnded = false;
    bool m_gaveUpPlace = false;
    bool m_finishing = false;
    // The parsed page, from its parse (worker) until its rewrite or release:
    // whoever takes it out frees it.
    std::atomic<xmlDoc *> m_doc{nullptr};
    bool m_failedAlready = false;
};
