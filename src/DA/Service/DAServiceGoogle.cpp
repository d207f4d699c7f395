#include "DA/Service/DAServiceGoogle.h"

#include "DA/BaseClasses/DAUtilities.h"
#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/HTTPFetcher/HFUserAgent.h"
#include "DA/Service/DAAuthenticationFetcher.h"
#include "Platform/VNLog.h"

namespace {

QMap<QString, QString> keyValues(const QByteArray &data) { return DAUtilities::dictionaryWithResponseData(data); }

}  // namespace

QString DAServiceTicket::description() const {
    auto describe = [](const std::shared_ptr<HFHTTPFetcher> &f) { return f ? f->description() : QStringLiteral("(null)"); };
    const QString head = QStringLiteral("DAServiceTicket %1: {service:%2 objectFetcher:%3")
                             .arg(quintptr(this), 0, 16)
                             .arg(service() ? service()->description() : QStringLiteral("(null)"), describe(objectFetcher()));
    if (authorizer())
        return head + QStringLiteral(" authorizer:%1}").arg(quintptr(authorizer().get()), 0, 16);
    return head + QStringLiteral(" authFetcher:%1}").arg(describe(authFetcher()));
}

void DAServiceTicket::cancelTicket() {
    if (auto google = std::dynamic_pointer_cast<DAServiceGoogle>(service()))
        google->stopAuthenticationForTicket(shared_from_this());
    DAServiceTicketBase::cancelTicket();
}

DAServiceTicketPtr DAServiceGoogle::makeTicket() {
    auto ticket = std::make_shared<DAServiceTicket>(shared_from_this());
    ticket->setAuthToken(m_authToken);
    ticket->setCredentialDate(m_credentialDate);
    return ticket;
}

HFURLRequest DAServiceGoogle::requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod,
                                            const DAServiceTicketPtr &ticket) {
    HFURLRequest request = DAServiceBase::requestForURL(url, etag, httpMethod, ticket);
    if (m_methodOverride && !httpMethod.isEmpty() && httpMethod != QLatin1String("POST")) {
        request.setValue(httpMethod, QStringLiteral("X-HTTP-Method-Override"));
        request.setHTTPMethod(QStringLiteral("POST"));
    }
    auto own = std::dynamic_pointer_cast<DAServiceTicket>(ticket);
    const QString token = own ? own->authToken() : m_authToken;
    if (!isServiceURL(url))
        return request;
    if (!token.isEmpty())
        request.setValue(QStringLiteral("Bearer %1").arg(token), QStringLiteral("Authorization"));
    else if (!m_authSubToken.isEmpty())
        request.setValue(QStringLiteral("AuthSub token=%1").arg(m_authSubToken), QStringLiteral("Authorization"));
    return request;
}

// ---------------------------------------------------------------------------
// Authenticated fetches

DAServiceTicketPtr DAServiceGoogle::fetchAuthenticatedObjectWithURL(const QUrl &url, DAClass objectClass, const DAObjectPtr &objectToPost,
                                                                    const QString &etag, const QString &httpMethod, Completion completion) {
    auto ticket = std::static_pointer_cast<DAServiceTicket>(makeTicket());
    if (objectToPost)
        ticket->setPostedObject(objectToPost);
    auto record = std::make_shared<DAServiceTicket::Record>();
    *record = {url, objectClass, objectToPost, etag, httpMethod, std::move(completion)};
    ticket->setRecord(record);
    if (!username().isEmpty()) {
        if (ticket->authToken().isEmpty() && m_authSubToken.isEmpty())
            return deferUntilAuthentication(ticket);
        ticket->setMayRerun(true);
    }
    return run(ticket);
}

DAServiceTicketPtr DAServiceGoogle::run(const DAServiceTicketGooglePtr &ticket) {
    const auto r = ticket->record();
    return fetchObjectWithURL(r->url, r->objectClass, r->object, r->etag, r->method, r->completion, ticket);
}

DAServiceTicketPtr DAServiceGoogle::fetchFeedWithURL(const QUrl &url, Completion completion, DAClass feedClass) {
    return fetchAuthenticatedObjectWithURL(url, feedClass, nullptr, QString(), QString(), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchFeedWithURL(const QUrl &url, DAClass feedClass, const QString &etag, Completion completion) {
    return fetchAuthenticatedObjectWithURL(url, feedClass, nullptr, etag, QString(), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchFeedWithQuery(const DAQueryPtr &query, Completion completion, DAClass feedClass) {
    return fetchFeedWithURL(query ? query->URL() : QUrl(), std::move(completion), feedClass);
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryWithURL(const QUrl &url, Completion completion, DAClass entryClass) {
    return fetchAuthenticatedObjectWithURL(url, entryClass, nullptr, QString(), QString(), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryWithURL(const QUrl &url, DAClass entryClass, const QString &etag, Completion completion) {
    return fetchAuthenticatedObjectWithURL(url, entryClass, nullptr, etag, QString(), std::move(completion));
}

void DAServiceGoogle::addNamespacesIfNoneToObject(const DAObjectPtr &object) const {
    if (object && object->namespaces().isEmpty())
        object->addNamespaces(serviceNamespaces());
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryByInsertingEntry(const DAEntryBasePtr &entry, const QUrl &feedURL, Completion completion) {
    addNamespacesIfNoneToObject(entry);
    return fetchAuthenticatedObjectWithURL(feedURL, entry->objectClass(), entry, QString(), QStringLiteral("POST"), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryByUpdatingEntry(const DAEntryBasePtr &entry, Completion completion) {
    const auto link = entry->editLink();
    return fetchEntryByUpdatingEntry(entry, link ? QUrl(link->href()) : QUrl(), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryByUpdatingEntry(const DAEntryBasePtr &entry, const QUrl &entryURL, Completion completion) {
    const bool partial = !entry->fieldSelection().isEmpty();
    // Read without the elements it did not model, the entry written whole
    // would remove them on the server.
    if (entry->shouldIgnoreUnknowns() && !partial)
        return refuseUpdate(entry, completion);
    addNamespacesIfNoneToObject(entry);
    const QString method = partial ? QStringLiteral("PATCH") : QStringLiteral("PUT");
    return fetchAuthenticatedObjectWithURL(entryURL, entry->objectClass(), entry, QString(), method, std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::refuseUpdate(const DAEntryBasePtr &entry, Completion &completion) {
    const QString reason = QStringLiteral("unsafe update of %1").arg(QString::fromLatin1(entry->objectClass()->name));
    VNLog::log(reason);
    auto ticket = refuseFetch(std::move(completion), refusedRequestCode, reason);
    ticket->setPostedObject(entry);
    return ticket;
}

DAServiceTicketPtr DAServiceGoogle::deleteEntry(const DAEntryBasePtr &entry, Completion completion) {
    const auto link = entry->editLink();
    if (!link || link->href().isEmpty()) {
        const QString reason = QStringLiteral("deleting uneditable entry: %1").arg(entry->description());
        VNLog::log(reason);
        auto ticket = refuseFetch(std::move(completion), refusedRequestCode, reason);
        ticket->setPostedObject(entry);
        return ticket;
    }
    auto ticket = fetchAuthenticatedObjectWithURL(QUrl(link->href()), nullptr, nullptr, entry->ETag(), QStringLiteral("DELETE"),
                                                  std::move(completion));
    if (ticket)
        ticket->setPostedObject(entry);
    return ticket;
}

DAServiceTicketPtr DAServiceGoogle::deleteResourceURL(const QUrl &url, const QString &etag, Completion completion) {
    if (url.isEmpty()) {
        const QString reason = QStringLiteral("deleting unspecified resource");
        VNLog::log(reason);
        return refuseFetch(std::move(completion), refusedRequestCode, reason);
    }
    return fetchAuthenticatedObjectWithURL(url, nullptr, nullptr, etag, QStringLiteral("DELETE"), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchFeedWithBatchFeed(const DAFeedBasePtr &batchFeed, const QUrl &feedURL, Completion completion) {
    addBatchNamespaces(batchFeed);
    auto ticket = fetchAuthenticatedObjectWithURL(feedURL, batchFeed->objectClass(), batchFeed, QString(), QString(), std::move(completion));
    if (ticket)
        ticket->setShouldFeedsIgnoreUnknowns(false);
    return ticket;
}

// ---------------------------------------------------------------------------
// Sign-in

std::shared_ptr<HFHTTPFetcher> DAServiceGoogle::authenticationFetcher() const {
    if (serviceID().isEmpty())
        return nullptr;
    const QString source = userAgent().isEmpty() ? defaultApplicationIdentifier() : userAgent();
    QList<QPair<QString, QString>> captcha;
    if (!m_captchaToken.isEmpty() && !m_captchaAnswer.isEmpty())
        captcha = {{QStringLiteral("logintoken"), m_captchaToken}, {QStringLiteral("logincaptcha"), m_captchaAnswer}};
    auto fetcher = DAAuthenticationFetcher::authTokenFetcher(username(), password(), serviceID(), source, signInDomain(), accountType(),
                                                             captcha, customAuthenticationRequestHeaders());
    if (!fetcher)
        return nullptr;
    fetcher->setFetchHistory(fetcherService()->fetchHistory());
    fetcher->setRetryEnabled(isServiceRetryEnabled());
    fetcher->setMaxRetryInterval(serviceMaxRetryInterval());
    fetcher->setComment(QStringLiteral("API authentication"));
    return fetcher;
}

VNErrorPtr DAServiceGoogle::cannotCreateAuthFetcherError() {
    return std::make_shared<VNError>(errorDomain(), -1, QVariantMap{{QStringLiteral("error"), QStringLiteral("empty username/password")}});
}

VNErrorPtr DAServiceGoogle::signInRefusal() const {
    if (!serviceID().isEmpty())
        return cannotCreateAuthFetcherError();
    const QString reason = QStringLiteral("DAServiceGoogle should have a serviceID");
    VNLog::log(reason);
    return std::make_shared<VNError>(errorDomain(), refusedRequestCode, QVariantMap{{QStringLiteral("error"), reason}});
}

DAServiceTicketPtr DAServiceGoogle::authenticate(AuthCompletion completion) {
    auto fetcher = authenticationFetcher();
    if (!fetcher) {
        if (completion)
            completion(nullptr, signInRefusal());
        return nullptr;
    }
    auto ticket = std::static_pointer_cast<DAServiceTicket>(makeTicket());
    ticket->setAuthFetcher(fetcher);
    ticket->setCurrentFetcher(fetcher);
    DASetTicket(fetcher, ticket);
    std::weak_ptr<DAServiceGoogle> weak = std::static_pointer_cast<DAServiceGoogle>(shared_from_this());
    // The ticket holds the fetcher until the answer; the answer lets both go.
    const bool began = fetcher->beginFetchWithCompletionHandler([weak, ticket, completion](const QByteArray &data, const VNErrorPtr &error) {
        if (auto self = weak.lock())
            self->standaloneAuthFetcherFinished(ticket, completion, data, error);
    });
    return began ? ticket : nullptr;
}

void DAServiceGoogle::standaloneAuthFetcherFinished(const DAServiceTicketGooglePtr &ticket, const AuthCompletion &completion,
                                                    const QByteArray &data, const VNErrorPtr &error) {
    VNErrorPtr failure = error;
    if (failure && failure->domain() == HFErrors::statusDomain())
        failure = errorForAuthFetcherStatus(failure->code(), data);
    if (!failure) {
        const QString token = keyValues(data).value(QStringLiteral("Auth"));
        m_authToken = token;
        ticket->setAuthToken(token);
        if (token.isEmpty())
            failure = errorForAuthFetcherStatus(403, data);
    }
    ticket->setAuthFetcher(nullptr);
    ticket->setCurrentFetcher(nullptr);
    if (completion)
        completion(ticket, failure);
}

DAServiceTicketPtr DAServiceGoogle::deferUntilAuthentication(const DAServiceTicketGooglePtr &ticket) {
    if (!m_pendingAuthFetcher)
        return authenticateThenInvoke(ticket);
    addDependentInvocation(ticket, m_pendingAuthFetcher);
    ticket->setAuthFetcher(m_pendingAuthFetcher);
    ticket->setCurrentFetcher(m_pendingAuthFetcher);
    return ticket;
}

void DAServiceGoogle::addDependentInvocation(const DAServiceTicketGooglePtr &ticket, const std::shared_ptr<HFHTTPFetcher> &authFetcher) {
    m_waiting[authFetcher.get()].append(ticket);
}

DAServiceTicketPtr DAServiceGoogle::authenticateThenInvoke(const DAServiceTicketGooglePtr &ticket) {
    auto fetcher = authenticationFetcher();
    if (!fetcher) {
        invokeCallback(ticket->record()->completion, ticket, nullptr, signInRefusal());
        return nullptr;
    }
    addDependentInvocation(ticket, fetcher);
    ticket->setAuthFetcher(fetcher);
    ticket->setCurrentFetcher(fetcher);
    DASetTicket(fetcher, ticket);
    m_pendingAuthFetcher = fetcher;
    std::weak_ptr<DAServiceGoogle> weak = std::static_pointer_cast<DAServiceGoogle>(shared_from_this());
    std::weak_ptr<HFHTTPFetcher> weakFetcher = fetcher;
    if (ticket->retryHandler()) {
        // The first waiting fetch with a retry handler decides for the sign-in.
        fetcher->setRetryBlock([weak, weakFetcher](bool suggested, const VNErrorPtr &error) {
            auto self = weak.lock();
            auto f = weakFetcher.lock();
            if (!self || !f)
                return suggested;
            for (const auto &waiting : self->m_waiting.value(f.get()))
                if (waiting->retryHandler())
                    return invokeRetrySelector(waiting, suggested, error);
            return suggested;
        });
    }
    fetcher->beginFetchWithCompletionHandler([weak, weakFetcher](const QByteArray &data, const VNErrorPtr &error) {
        auto self = weak.lock();
        auto f = weakFetcher.lock();
        if (self && f)
            self->authFetcherFinished(f, data, error);
    });
    return ticket;
}

void DAServiceGoogle::authFetcherFinished(const std::shared_ptr<HFHTTPFetcher> &fetcher, const QByteArray &data, const VNErrorPtr &error) {
    const QList<DAServiceTicketGooglePtr> waiting = m_waiting.take(fetcher.get());
    const bool pending = fetcher == m_pendingAuthFetcher;
    if (error) {
        if (pending) {
            m_authToken.clear();
            m_pendingAuthFetcher.reset();
        }
        failWaiting(waiting, error->domain() == HFErrors::statusDomain() ? errorForAuthFetcherStatus(error->code(), data) : error);
        return;
    }
    const QString token = keyValues(data).value(QStringLiteral("Auth"));
    if (pending) {
        m_authToken = token;
        m_pendingAuthFetcher.reset();
    }
    if (token.isEmpty()) {
        // Refused as a 403 of the sign-in would be: with the reply's reasons.
        failWaiting(waiting, errorForAuthFetcherStatus(403, data));
        return;
    }
    for (const auto &ticket : waiting) {
        ticket->setCurrentFetcher(nullptr);
        ticket->setAuthFetcher(nullptr);
        ticket->setAuthToken(token);
        run(ticket);
    }
}

void DAServiceGoogle::failWaiting(const QList<DAServiceTicketGooglePtr> &waiting, const VNErrorPtr &error) {
    for (const auto &ticket : waiting) {
        invokeCallback(ticket->record()->completion, ticket, nullptr, error);
        ticket->setFetchError(error);
        ticket->setHasCalledCallback(true);
        ticket->setCurrentFetcher(nullptr);
        ticket->setAuthFetcher(nullptr);
    }
}

VNErrorPtr DAServiceGoogle::errorForAuthFetcherStatus(qint64 status, const QByteArray &data) const {
    if (data.isEmpty())
        return std::make_shared<VNError>(errorDomain(), status);
    QVariantMap info;
    const auto map = keyValues(data);
    for (auto it = map.begin(); it != map.end(); ++it)
        info.insert(it.key(), it.value());
    const QString captcha = map.value(QStringLiteral("CaptchaUrl"));
    if (!captcha.isEmpty()) {
        const bool absolute = captcha.startsWith(QLatin1String("http:")) || captcha.startsWith(QLatin1String("https:"));
        info.insert(QStringLiteral("CaptchaFullUrl"),
                    absolute ? captcha : QStringLiteral("https://%1/accounts/%2").arg(signInDomain(), captcha));
    }
    if (map.contains(QStringLiteral("Error")) && !map.contains(QStringLiteral("error")))
        info.insert(QStringLiteral("error"), map.value(QStringLiteral("Error")));
    if (map.contains(QStringLiteral("Info")))
        info.insert(QStringLiteral("NSLocalizedFailureReason"), map.value(QStringLiteral("Info")));
    return std::make_shared<VNError>(errorDomain(), status, info);
}

void DAServiceGoogle::stopAuthenticationForTicket(const DAServiceTicketPtr &base) {
    auto ticket = std::dynamic_pointer_cast<DAServiceTicket>(base);
    if (!ticket || !ticket->authFetcher())
        return;
    auto fetcher = ticket->authFetcher();
    auto it = m_waiting.find(fetcher.get());
    if (it != m_waiting.end())
        it->removeOne(ticket);
    if (it == m_waiting.end() || it->isEmpty()) {
        m_waiting.remove(fetcher.get());
        fetcher->stopFetching();
        if (fetcher == m_pendingAuthFetcher)
            m_pendingAuthFetcher.reset();
    }
    ticket->setAuthFetcher(nullptr);
}

bool DAServiceGoogle::handleRejection(const DAServiceTicketPtr &base, const VNErrorPtr &error) {
    auto ticket = std::dynamic_pointer_cast<DAServiceTicket>(base);
    if (!ticket || !ticket->mayRerun() || (error->code() != 401 && error->code() != 403))
        return false;
    // Once only: a second rejection is delivered.
    ticket->setAuthToken(QString());
    ticket->setMayRerun(false);
    if (m_credentialDate != ticket->credentialDate())
        return false;
    deferUntilAuthentication(ticket);
    return true;
}

void DAServiceGoogle::setUserCredentials(const QString &username, const QString &password) {
    if (username != this->username() || password != this->password()) {
        m_authToken.clear();
        m_authSubToken.clear();
        fetcherService()->clearETaggedDataCache();
        m_pendingAuthFetcher.reset();
        m_credentialDate = QDateTime::currentDateTimeUtc();
        // The authorizer signed for the old account.
        if (!username.isEmpty())
            setAuthorizer(nullptr);
    }
    DAServiceBase::setUserCredentials(username, password);
}

namespace DAServiceGoogleAdditions {

QString authenticationError(const QVariantMap &userInfo) { return userInfo.value(QStringLiteral("Error")).toString(); }
QString authenticationInfo(const QVariantMap &userInfo) { return userInfo.value(QStringLiteral("Info")).toString(); }
QString captchaToken(const QVariantMap &userInfo) { return userInfo.value(QStringLiteral("CaptchaToken")).toString(); }

QUrl captchaURL(const QVariantMap &userInfo) {
    const QString url = userInfo.value(QStringLiteral("CaptchaFullUrl")).toString();
    return url.isEmpty() ? QUrl() : QUrl(url);
}

}  // namespace DAServiceGoogleAdditions
