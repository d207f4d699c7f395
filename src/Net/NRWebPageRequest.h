#pragma once

#include "Net/NRHTTPRequest.h"

#include <QMap>
#include <QStringList>
#include <QVariantMap>

class NRRequestQueue;
typedef struct _xmlDoc xmlDoc;

// A web page with the resources it refers to (style sheets, scripts,
// images, frames, media, and the images of its style sheets), fetched as
// further page requests on a request queue, so a style sheet or frame is
// scanned in turn. The page can be rewritten to stand on its own: every
// fetched resource referred to by a "data:" URL (mode 1), or by a relative
// path to its local copy (mode 2, with a download destination). References
// to resources that could not be had are left as they were.
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

    int urlReplacementMode() const;
    void setUrlReplacementMode(int mode);
    bool shouldIgnoreExternalResourceErrors() const;
    void setShouldIgnoreExternalResourceErrors(bool on);
    int webContentType() const;
    std::shared_ptr<NRWebPageRequest> parentRequest() const;
    // URL text as found in the page -> "ContentType", and "DataPath" or "Data".
    QMap<QString, QVariantMap> resourceList() const;

    // Every url(...) of a style sheet's text, in order.
    static QStringList CSSURLsFromString(const QString &css);
    // The path from the folder of sourcePath to targetPath.
    static QString relativePathTo(const QString &targetPath, const QString &sourcePath);
    QString cachePathForRequest(const NRHTTPRequest &resource) const;

protected:
    bool deferFinishing() override;
    void deferredFinishCancelled() override;

private:
    bool parseAsHTML();
    bool parseAsCSS();
    bool readResourceURLs(bool update);
    void addURLToFetch(const QString &text);
    QString contentForExternalURL(const QString &text) const;
    QString replacedCSS(QString css) const;
    QByteArray encodingName() const;
    QString readReplyText(VNErrorPtr *error) const;
    void releaseDocument();
    VNErrorPtr saveDocument();

    // Main thread.
    void startResourceRequests();
    void externalResourceFetchSucceeded(NRHTTPRequest *resource);
    void externalResourceFetchFailed(NRHTTPRequest *resource);
    void finishedFetchingExternalResources();

    int m_urlReplacementMode = DontReplaceURLs;
    bool m_shouldIgnoreExternalResourceErrors = true;
    int m_webContentType = OtherContent;
    QMap<QString, QVariantMap> m_resourceList;
    QStringList m_resourceOrder;
    std::weak_ptr<NRWebPageRequest> m_parentRequest;
    std::shared_ptr<NRRequestQueue> m_externalResourceQueue;
    xmlDoc *m_doc = nullptr;
    bool m_failedAlready = false;
};
