#pragma once

#include "Formats/DXJsonValue.h"
#include "Platform/VNError.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class DXSession;
class NRHTTPRequest;

// Told when Dropbox requests open their connection and when they end
// (finished, failed or cancelled): the network-activity hooks.
class DXNetworkRequestDelegate {
public:
    virtual ~DXNetworkRequestDelegate() = default;
    virtual void networkRequestStarted() = 0;
    virtual void networkRequestStopped() = 0;
};

// One request of the Dropbox client over an NRHTTPRequest. It reports the
// network activity to the class-wide delegate, turns a refused reply into an
// error of errorDomain() (code = the HTTP status, the service's message under
// "error"), tells the session of a 401 once, and calls its completion once,
// on the main thread.
class DXRequest : public std::enable_shared_from_this<DXRequest> {
public:
    using Completion = std::function<void(DXRequest &request)>;

    DXRequest(std::shared_ptr<NRHTTPRequest> request, std::shared_ptr<DXSession> session, QString userId,
              Completion completion);
    ~DXRequest();

    // The one object told of every request's activity; not retained.
    static void setNetworkRequestDelegate(std::weak_ptr<DXNetworkRequestDelegate> delegate);

    void start();
    // Stops the request; the completion still runs once, with isCancelled().
    void cancel();

    NRHTTPRequest &httpRequest() const { return *m_request; }
    const QString &userId() const { return m_userId; }
    int statusCode() const;
    QByteArray responseData() const;
    // The reply as JSON; undefined when it is not.
    DXJsonValue resultJSON() const;
    // Null on success (a status below 300 and no transport error).
    VNErrorPtr error() const { return m_error; }
    bool isCancelled() const { return m_cancelled; }

    static QString errorDomain();  // "dropbox.com"

private:
    void finish();

    std::shared_ptr<NRHTTPRequest> m_request;
    std::shared_ptr<DXSession> m_session;
    QString m_userId;
    Completion m_completion;
    VNErrorPtr m_error;
    bool m_started = false;
    bool m_finished = false;
    bool m_cancelled = false;
};

using DXRequestPtr = std::shared_ptr<DXRequest>;
