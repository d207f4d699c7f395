#pragma once

#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/Service/DAAuthenticationFetcher.h"
#include "DA/Service/DAServiceBase.h"
#include "DA/Service/DAServiceTicket.h"

#include <QDateTime>

// The service for the provider's data APIs: the access token goes on every
// request as "Authorization: Bearer ...", other methods may be sent as POST
// with "X-HTTP-Method-Override", and feeds and entries are read, inserted,
// updated and deleted. With a username and password it signs in through the
// ClientLogin endpoint: fetches that need a token wait for one shared
// sign-in, and a fetch whose token is rejected (401, 403) signs in again and
// runs once more.
class DAServiceGoogle : public DAServiceBase {
public:
    static std::shared_ptr<DAServiceGoogle> make() { return std::make_shared<DAServiceGoogle>(); }
    QString className() const override { return QStringLiteral("DAServiceGoogle"); }

    HFURLRequest requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod,
                               const DAServiceTicketPtr &ticket) override;
    using DAServiceBase::requestForURL;
    DAServiceTicketPtr makeTicket() override;
    // The authenticated fetch behind the operations below.
    DAServiceTicketPtr fetchAuthenticatedObjectWithURL(const QUrl &url, DAClass objectClass, const DAObjectPtr &objectToPost,
                                                       const QString &etag, const QString &httpMethod, Completion completion);
    DAServiceTicketPtr fetchFeedWithURL(const QUrl &url, Completion completion, DAClass feedClass = nullptr);
    // With an ETag: sent as "If-None-Match", so an unchanged feed or entry
    // answers from the response cache (or as 304).
    DAServiceTicketPtr fetchFeedWithURL(const QUrl &url, DAClass feedClass, const QString &etag, Completion completion);
    DAServiceTicketPtr fetchFeedWithQuery(const DAQueryPtr &query, Completion completion, DAClass feedClass = nullptr);
    DAServiceTicketPtr fetchEntryWithURL(const QUrl &url, Completion completion, DAClass entryClass = nullptr);
    DAServiceTicketPtr fetchEntryWithURL(const QUrl &url, DAClass entryClass, const QString &etag, Completion completion);
    DAServiceTicketPtr fetchEntryByInsertingEntry(const DAEntryBasePtr &entry, const QUrl &feedURL, Completion completion);
    // Updates send the entry whole ("PUT"), or only its selected fields
    // ("PATCH"), under "If-Match" of its strong ETag. An entry read with its
    // unknown elements left out, and no field selection, is refused: the
    // PUT would drop them on the server.
    DAServiceTicketPtr fetchEntryByUpdatingEntry(const DAEntryBasePtr &entry, Completion completion);
    DAServiceTicketPtr fetchEntryByUpdatingEntry(const DAEntryBasePtr &entry, const QUrl &entryURL, Completion completion);
    // Refused for an entry without an edit link. The ticket's posted object
    // is the entry.
    DAServiceTicketPtr deleteEntry(const DAEntryBasePtr &entry, Completion completion);
    // A DELETE of the URL, under "If-Match" of a strong ETag; refused
    // without a URL.
    DAServiceTicketPtr deleteResourceURL(const QUrl &url, const QString &etag, Completion completion);
    DAServiceTicketPtr fetchFeedWithBatchFeed(const DAFeedBasePtr &batchFeed, const QUrl &feedURL, Completion completion);
    // Given to an entry that is inserted or updated without namespaces of its
    // own (one read inside a feed borrows the feed's).
    virtual QMap<QString, QString> serviceNamespaces() const { return standardServiceNamespaces(); }
    static QMap<QString, QString> standardServiceNamespaces() { return DAEntryBase::baseDANamespaces(); }
    void addNamespacesIfNoneToObject(const DAObjectPtr &object) const;

    using Headers = QList<QPair<QString, QString>>;
    // Extra headers of the sign-in request (none here).
    virtual Headers customAuthenticationRequestHeaders() const { return {}; }
    // The error of a refused sign-in: the reply's key=value map as user info.
    VNErrorPtr errorForAuthFetcherStatus(qint64 status, const QByteArray &data) const;
    void stopAuthenticationForTicket(const DAServiceTicketPtr &ticket);
    // Signs in on its own, storing the token; null (after the completion had
    // the error) without a username and password.
    using AuthCompletion = std::function<void(const DAServiceTicketPtr &ticket, const VNErrorPtr &error)>;
    DAServiceTicketPtr authenticate(AuthCompletion completion);
    // Null without a username, a password or a service code.
    std::shared_ptr<HFHTTPFetcher> authenticationFetcher() const;
    static VNErrorPtr cannotCreateAuthFetcherError();
    // Why no sign-in fetch can be made: no service code, or no credentials.
    VNErrorPtr signInRefusal() const;

    // A change of either drops the tokens, the response cache and a pending
    // sign-in; a new username also drops the authorizer.
    void setUserCredentials(const QString &username, const QString &password) override;
    QString authToken() const { return m_authToken; }
    void setAuthToken(const QString &token) { m_authToken = token; }
    QString authSubToken() const { return m_authSubToken; }
    void setAuthSubToken(const QString &token) { m_authSubToken = token; }
    bool shouldUseMethodOverrideHeader() const { return m_methodOverride; }
    void setShouldUseMethodOverrideHeader(bool on) { m_methodOverride = on; }
    QString signInDomain() const { return m_signInDomain.isEmpty() ? DAAuthenticationFetcher::defaultSignInDomain() : m_signInDomain; }
    void setSignInDomain(const QString &domain) { m_signInDomain = domain; }
    QString accountType() const { return m_accountType.isEmpty() ? QStringLiteral("HOSTED_OR_GOOGLE") : m_accountType; }
    void setAccountType(const QString &type) { m_accountType = type; }
    // The answer to a sign-in's captcha challenge, sent with the next sign-in.
    void setCaptchaToken(const QString &token, const QString &answer) {
        m_captchaToken = token;
        m_captchaAnswer = answer;
    }
    QString captchaToken() const { return m_captchaToken; }
    QString captchaAnswer() const { return m_captchaAnswer; }
    QString serviceID() const { return m_serviceID.isEmpty() ? defaultServiceID() : m_serviceID; }
    void setServiceID(const QString &id) { m_serviceID = id; }
    // The class's own service code ("lh2" for photo albums); none here, and
    // a service without one cannot sign in.
    virtual QString defaultServiceID() const { return {}; }
    // The root of the class's data URLs (none here), and the scope that
    // access tokens for it are asked for.
    static QString serviceRootURLString() { return {}; }
    virtual QString authorizationScope() const { return serviceRootURLString(); }
    QDateTime credentialDate() const { return m_credentialDate; }
    void setCredentialDate(const QDateTime &date) { m_credentialDate = date; }
    std::shared_ptr<HFHTTPFetcher> pendingAuthFetcher() const { return m_pendingAuthFetcher; }
    void setPendingAuthFetcher(std::shared_ptr<HFHTTPFetcher> fetcher) { m_pendingAuthFetcher = std::move(fetcher); }

protected:
    bool handleRejection(const DAServiceTicketPtr &ticket, const VNErrorPtr &error) override;

private:
    DAServiceTicketPtr refuseUpdate(const DAEntryBasePtr &entry, Completion &completion);
    DAServiceTicketPtr run(const DAServiceTicketGooglePtr &ticket);
    // A fetch that needs a token joins the pending sign-in, or starts one.
    DAServiceTicketPtr deferUntilAuthentication(const DAServiceTicketGooglePtr &ticket);
    // Starts a sign-in that the fetch waits for; null (after the completion
    // had the error) when none can be made.
    DAServiceTicketPtr authenticateThenInvoke(const DAServiceTicketGooglePtr &ticket);
    // The fetch runs again when the sign-in gives a token, after those that joined before.
    void addDependentInvocation(const DAServiceTicketGooglePtr &ticket, const std::shared_ptr<HFHTTPFetcher> &authFetcher);
    void authFetcherFinished(const std::shared_ptr<HFHTTPFetcher> &fetcher, const QByteArray &data, const VNErrorPtr &error);
    // The answer to authenticate(): the token kept by the service and the
    // ticket, or the reply's reasons for refusing.
    void standaloneAuthFetcherFinished(const DAServiceTicketGooglePtr &ticket, const AuthCompletion &completion,
                                       const QByteArray &data, const VNErrorPtr &error);
    void failWaiting(const QList<DAServiceTicketGooglePtr> &waiting, const VNErrorPtr &error);

    QString m_authToken;
    QString m_authSubToken;
    bool m_methodOverride = false;
    QString m_signInDomain;
    QString m_accountType;
    QString m_captchaToken;
    QString m_captchaAnswer;
    QString m_serviceID;
    QDateTime m_credentialDate;
    std::shared_ptr<HFHTTPFetcher> m_pendingAuthFetcher;
    // The tickets waiting for each sign-in fetch, in joining order.
    QHash<HFHTTPFetcher *, QList<DAServiceTicketGooglePtr>> m_waiting;
};

// Readers of the user info of a refused sign-in (errorForAuthFetcherStatus()).
namespace DAServiceGoogleAdditions {
QString authenticationError(const QVariantMap &userInfo);  // "Error"
QString authenticationInfo(const QVariantMap &userInfo);   // "Info"
QString captchaToken(const QVariantMap &userInfo);         // "CaptchaToken"
// The absolute captcha address ("CaptchaFullUrl"); empty without one.
QUrl captchaURL(const QVariantMap &userInfo);
}  // namespace DAServiceGoogleAdditions
