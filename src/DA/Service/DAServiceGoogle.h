#pragma once

#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/Service/DAServiceBase.h"

// The service for the provider's data APIs: the caller's access token goes
// on every request as "Authorization: Bearer ...", other methods may be
// sent as POST with "X-HTTP-Method-Override", and feeds and entries are
// read, inserted, updated and deleted.
class DAServiceGoogle : public DAServiceBase {
public:
    static std::shared_ptr<DAServiceGoogle> make() { return std::make_shared<DAServiceGoogle>(); }

    HFURLRequest requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod,
                               const DAServiceTicketPtr &ticket) override;
    using DAServiceBase::requestForURL;

    DAServiceTicketPtr fetchFeedWithURL(const QUrl &url, Completion completion, DAClass feedClass = nullptr);
    DAServiceTicketPtr fetchEntryWithURL(const QUrl &url, Completion completion, DAClass entryClass = nullptr);
    DAServiceTicketPtr fetchEntryByInsertingEntry(const DAEntryBasePtr &entry, const QUrl &feedURL, Completion completion);
    DAServiceTicketPtr fetchEntryByUpdatingEntry(const DAEntryBasePtr &entry, Completion completion);
    DAServiceTicketPtr deleteEntry(const DAEntryBasePtr &entry, Completion completion);

    QString authToken() const { return m_authToken; }
    void setAuthToken(const QString &token) { m_authToken = token; }
    QString authSubToken() const { return m_authSubToken; }
    void setAuthSubToken(const QString &token) { m_authSubToken = token; }
    bool shouldUseMethodOverrideHeader() const { return m_methodOverride; }
    void setShouldUseMethodOverrideHeader(bool on) { m_methodOverride = on; }

private:
    QString m_authToken;
    QString m_authSubToken;
    bool m_methodOverride = false;
};
