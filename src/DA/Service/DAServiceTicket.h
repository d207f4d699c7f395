#pragma once

#include "DA/Service/DAServiceTicketBase.h"

#include <QDateTime>
#include <QUrl>

// The Google service's ticket: the token its requests carry (taken from the
// service when made, or given by a sign-in), the sign-in it waits for, and
// the recorded call that may run once more after a rejected token.
class DAServiceTicket : public DAServiceTicketBase {
public:
    // A fetch as it was asked for, to run again after a sign-in.
    struct Record {
        QUrl url;
        DAClass objectClass = nullptr;
        DAObjectPtr object;
        QString etag;
        QString method;
        Completion completion;
    };

    using DAServiceTicketBase::DAServiceTicketBase;
    void cancelTicket() override;
    // With its authorizer when it has one, else with its sign-in fetcher.
    QString description() const override;

    QString authToken() const { return m_authToken; }
    void setAuthToken(const QString &token) { m_authToken = token; }
    std::shared_ptr<HFHTTPFetcher> authFetcher() const { return m_authFetcher; }
    void setAuthFetcher(std::shared_ptr<HFHTTPFetcher> f) { m_authFetcher = std::move(f); }
    QDateTime credentialDate() const { return m_credentialDate; }
    void setCredentialDate(const QDateTime &d) { m_credentialDate = d; }
    std::shared_ptr<Record> record() const { return m_record; }
    void setRecord(std::shared_ptr<Record> r) { m_record = std::move(r); }
    // Whether the recorded call may still run once after a rejection.
    bool mayRerun() const { return m_mayRerun; }
    void setMayRerun(bool on) { m_mayRerun = on; }

private:
    QString m_authToken;
    std::shared_ptr<HFHTTPFetcher> m_authFetcher;
    QDateTime m_credentialDate;
    std::shared_ptr<Record> m_record;
    bool m_mayRerun = false;
};

using DAServiceTicketGooglePtr = std::shared_ptr<DAServiceTicket>;
