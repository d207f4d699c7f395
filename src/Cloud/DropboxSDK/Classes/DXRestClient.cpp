#include "DXRestClient.h"

#include "DXSession.h"
#include "Core/QNCloudInterface.h"
#include "Net/NRHTTPRequest.h"
#include "OA1/OA1URLRequest.h"
#include "Platform/VNLog.h"

#include <QStringList>
#include <mutex>

namespace {

std::mutex g_hostsMutex;
DXRestClient::Hosts g_hosts = DXRestClient::defaultHosts();

QString formBody(const QList<OA1URLRequestParameter> &form) {
    QStringList pairs;
    for (const auto &p : form)
        pairs << p.encodedNameValuePair();
    return pairs.join(QLatin1Char('&'));
}

}  // namespace

DXRestClient::Hosts DXRestClient::defaultHosts() {
    return {QStringLiteral("https://api.dropbox.com"), QStringLiteral("https://api-content.dropbox.com"),
            QStringLiteral("https://www.dropbox.com")};
}

DXRestClient::Hosts DXRestClient::hosts() {
    std::lock_guard lock(g_hostsMutex);
    return g_hosts;
}

void DXRestClient::setHosts(const Hosts &hosts) {
    const Hosts defaults = defaultHosts();
    std::lock_guard lock(g_hostsMutex);
    g_hosts = {hosts.api.isEmpty() ? defaults.api : hosts.api,
               hosts.content.isEmpty() ? defaults.content : hosts.content,
               hosts.web.isEmpty() ? defaults.web : hosts.web};
}

DXRestClient::DXRestClient(std::shared_ptr<DXSession> session, QString userId)
    : m_session(std::move(session)), m_userId(std::move(userId)) {}

DXRestClient::~DXRestClient() {
    cancelAllRequests();
}

QUrl DXRestClient::apiURL(const QString &host, const QString &call, const QString &path,
                          const QList<OA1URLRequestParameter> &query) {
    QString encoded = host + QStringLiteral("/1/") + call;
    for (const QString &segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        encoded += QLatin1Char('/') + OA1URLRequestParameter::encode(segment);
    if (!query.isEmpty())
        encoded += QLatin1Char('?') + formBody(query);
    return QUrl::fromEncoded(encoded.toLatin1(), QUrl::StrictMode);
}

QUrl DXRestClient::authorizationURL(const QString &requestToken, const QString &callback) {
    return apiURL(hosts().web, QStringLiteral("oauth/authorize"), QString(),
                  {{QStringLiteral("oauth_token"), requestToken}, {QStringLiteral("oauth_callback"), callback}});
}

DXRequestPtr DXRestClient::makeRequest(const QString &method, const QUrl &url,
                                       const QList<OA1URLRequestParameter> &form, DXRequest::Completion completion) {
    const OA1CredentialConcreteStore credentials =
        m_session ? m_session->credentialStoreForUserId(m_userId) : OA1CredentialConcreteStore();
    OA1URLRequest signer(method, url, credentials);
    signer.setFormParameters(form);

    auto http = NRHTTPRequest::requestWithURL(url);
    http->setRequestMethod(method);
    http->addRequestHeader(QStringLiteral("Authorization"), signer.authorizationHeader());
    if (!form.isEmpty() || method == QLatin1String("POST")) {
        http->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
        http->appendPostData(formBody(form).toUtf8());
    }
    std::weak_ptr<DXRestClient> weakSelf = shared_from_this();
    auto request = std::make_shared<DXRequest>(
        http, m_session, m_userId, [weakSelf, completion = std::move(completion)](DXRequest &r) {
            if (auto self = weakSelf.lock())
                self->untrack(&r);
            completion(r);
        });
    return request;
}

void DXRestClient::track(const DXRequestPtr &request) {
    m_requests.append(request);
    request->start();
}

void DXRestClient::untrack(DXRequest *request) {
    m_requests.removeIf([request](const DXRequestPtr &r) { return r.get() == request; });
}

void DXRestClient::cancelAllRequests() {
    const QList<DXRequestPtr> running = m_requests;
    for (const auto &request : running)
        request->cancel();
}

// --- The login -------------------------------------------------------------------

void DXRestClient::loadRequestToken(TokenCallback completed) {
    auto request = makeRequest(QStringLiteral("POST"), apiURL(hosts().api, QStringLiteral("oauth/request_token")),
                               {}, [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, {}, {}, r.error(), r.isCancelled());
            return;
        }
        const auto reply = OA1URLRequestParameter::parameterDictionaryFromString(QString::fromUtf8(r.responseData()));
        const QString token = reply.value(QStringLiteral("oauth_token"));
        const QString secret = reply.value(QStringLiteral("oauth_token_secret"));
        if (token.isEmpty() || secret.isEmpty()) {
            completed({}, {}, {}, VNError::make(DXRequest::errorDomain(), 0, QStringLiteral("error"),
                                                QStringLiteral("Dropbox sent no request token.")), false);
            return;
        }
        completed(token, secret, {}, nullptr, false);
    });
    track(request);
}

void DXRestClient::loadAccessToken(const QString &requestToken, const QString &requestTokenSecret,
                                   TokenCallback completed) {
    // Signed with the request token and its secret, not a user's.
    OA1CredentialConcreteStore credentials =
        m_session ? m_session->credentialStoreForUserId(QString()) : OA1CredentialConcreteStore();
    credentials.setToken(requestToken, requestTokenSecret);
    const QUrl url = apiURL(hosts().api, QStringLiteral("oauth/access_token"));
    OA1URLRequest signer(QStringLiteral("POST"), url, credentials);
    auto http = NRHTTPRequest::requestWithURL(url);
    http->setRequestMethod(QStringLiteral("POST"));
    http->addRequestHeader(QStringLiteral("Authorization"), signer.authorizationHeader());
    auto session = m_session;
    std::weak_ptr<DXRestClient> weakSelf = shared_from_this();
    auto request = std::make_shared<DXRequest>(http, m_session, QString(), [weakSelf, session, completed](DXRequest &r) {
        if (auto self = weakSelf.lock())
            self->untrack(&r);
        if (r.isCancelled() || r.error()) {
            completed({}, {}, {}, r.error(), r.isCancelled());
            return;
        }
        const auto reply = OA1URLRequestParameter::parameterDictionaryFromString(QString::fromUtf8(r.responseData()));
        const QString token = reply.value(QStringLiteral("oauth_token"));
        const QString secret = reply.value(QStringLiteral("oauth_token_secret"));
        const QString userId = reply.value(QStringLiteral("uid"));
        if (token.isEmpty() || secret.isEmpty() || userId.isEmpty()) {
            completed({}, {}, {}, VNError::make(DXRequest::errorDomain(), 0, QStringLiteral("error"),
                                                QStringLiteral("Dropbox sent no access token.")), false);
            return;
        }
        VNLog::addSecret(token);
        VNLog::addSecret(secret);
        if (session)
            session->updateAccessToken(token, secret, userId);
        completed(token, secret, userId, nullptr, false);
    });
    track(request);
}

// --- Files -----------------------------------------------------------------------

void DXRestClient::loadAccountInfo(AccountCallback completed) {
    track(makeRequest(QStringLiteral("GET"), apiURL(hosts().api, QStringLiteral("account/info")), {},
                      [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, r.error(), r.isCancelled());
            return;
        }
        DXAccountInfo info(r.resultJSON());
        if (!info.isValid()) {
            completed({}, VNError::make(DXRequest::errorDomain(), 0, QStringLiteral("error"),
                                        QStringLiteral("Dropbox sent no account information.")), false);
            return;
        }
        completed(info, nullptr, false);
    }));
}

void DXRestClient::loadMetadata(const QString &path, MetadataCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    const QUrl url = apiURL(hosts().api, QStringLiteral("metadata/") + root, path,
                            {{QStringLiteral("list"), QStringLiteral("true")}});
    auto request = makeRequest(QStringLiteral("GET"), url, {}, [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, r.error(), r.isCancelled());
            return;
        }
        DXMetadata metadata(r.resultJSON());
        if (!metadata.isValid()) {
            completed({}, VNError::make(DXRequest::errorDomain(), 0, QStringLiteral("error"),
                                        QStringLiteral("Dropbox sent an unreadable listing.")), false);
            return;
        }
        completed(metadata, nullptr, false);
    });
    // A folder comes in one reply: it is held to the bound of a listing.
    request->httpRequest().setMaximumResponseDataSize(quint64(QNCloudInterface::maximumListingBytes));
    track(request);
}

void DXRestClient::search(const QString &path, const QString &text, SearchCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    const QUrl url = apiURL(hosts().api, QStringLiteral("search/") + root, path, {{QStringLiteral("query"), text}});
    track(makeRequest(QStringLiteral("GET"), url, {}, [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, r.error(), r.isCancelled());
            return;
        }
        const DXJsonValue reply = r.resultJSON();
        if (!reply.isArray()) {
            completed({}, VNError::make(DXRequest::errorDomain(), 0, QStringLiteral("error"),
                                        QStringLiteral("Dropbox sent unreadable search results.")), false);
            return;
        }
        QList<DXMetadata> hits;
        for (const DXJsonValue &entry : reply.toArray())
            hits.append(DXMetadata(entry));
        completed(hits, nullptr, false);
    }));
}

void DXRestClient::loadFile(const QString &path, const QString &destination, ProgressCallback progress,
                            ErrorCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    auto request = makeRequest(QStringLiteral("GET"), apiURL(hosts().content, QStringLiteral("files/") + root, path),
                               {}, [completed](DXRequest &r) { completed(r.error(), r.isCancelled()); });
    NRHTTPRequest &http = request->httpRequest();
    http.setDownloadDestinationPath(destination);
    if (progress) {
        auto received = std::make_shared<qint64>(0);
        http.setShowAccurateProgress(true);
        http.setBytesReceivedBlock([received, progress](qint64 size, qint64 total) {
            if (size > 0)
                *received += size;
            progress(*received, total);
        });
    }
    track(request);
}

void DXRestClient::uploadFile(const QString &filename, const QString &folder, const QString &sourcePath,
                              ProgressCallback progress, MetadataCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    const QString path = (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) + filename;
    const QUrl url = apiURL(hosts().content, QStringLiteral("files_put/") + root, path,
                            {{QStringLiteral("overwrite"), QStringLiteral("true")}});
    auto request = makeRequest(QStringLiteral("PUT"), url, {}, [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, r.error(), r.isCancelled());
            return;
        }
        completed(DXMetadata(r.resultJSON()), nullptr, false);
    });
    NRHTTPRequest &http = request->httpRequest();
    http.addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream"));
    http.setShouldStreamPostDataFromDisk(true);
    http.setPostBodyFilePath(sourcePath);
    if (progress) {
        auto sent = std::make_shared<qint64>(0);
        http.setShowAccurateProgress(true);
        http.setBytesSentBlock([sent, progress](qint64 size, qint64 total) {
            if (size > 0)
                *sent += size;
            progress(*sent, total);
        });
    }
    track(request);
}

void DXRestClient::fileOperation(const QString &call, const QList<OA1URLRequestParameter> &form,
                                 MetadataCallback completed) {
    track(makeRequest(QStringLiteral("POST"), apiURL(hosts().api, QStringLiteral("fileops/") + call), form,
                      [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, r.error(), r.isCancelled());
            return;
        }
        completed(DXMetadata(r.resultJSON()), nullptr, false);
    }));
}

void DXRestClient::createFolder(const QString &path, MetadataCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    fileOperation(QStringLiteral("create_folder"), {{QStringLiteral("root"), root}, {QStringLiteral("path"), path}},
                  std::move(completed));
}

void DXRestClient::deletePath(const QString &path, ErrorCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    fileOperation(QStringLiteral("delete"), {{QStringLiteral("root"), root}, {QStringLiteral("path"), path}},
                  [completed](DXMetadata, VNErrorPtr error, bool cancelled) { completed(error, cancelled); });
}

void DXRestClient::copyPath(const QString &from, const QString &to, MetadataCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    fileOperation(QStringLiteral("copy"),
                  {{QStringLiteral("root"), root}, {QStringLiteral("from_path"), from}, {QStringLiteral("to_path"), to}},
                  std::move(completed));
}

void DXRestClient::movePath(const QString &from, const QString &to, MetadataCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    fileOperation(QStringLiteral("move"),
                  {{QStringLiteral("root"), root}, {QStringLiteral("from_path"), from}, {QStringLiteral("to_path"), to}},
                  std::move(completed));
}

void DXRestClient::loadSharableLink(const QString &path, LinkCallback completed) {
    const QString root = m_session ? m_session->root() : QStringLiteral("dropbox");
    track(makeRequest(QStringLiteral("POST"), apiURL(hosts().api, QStringLiteral("shares/") + root, path), {},
                      [completed](DXRequest &r) {
        if (r.isCancelled() || r.error()) {
            completed({}, {}, r.error(), r.isCancelled());
            return;
        }
        const DXJsonValue reply = r.resultJSON();
        const QString url = reply[QStringLiteral("url")].toString();
        if (url.isEmpty()) {
            completed({}, {}, VNError::make(DXRequest::errorDomain(), 0, QStringLiteral("error"),
                                            QStringLiteral("Dropbox sent no link.")), false);
            return;
        }
        completed(url, DXMetadata::dateFromString(reply[QStringLiteral("expires")].toString()), nullptr, false);
    }));
}
