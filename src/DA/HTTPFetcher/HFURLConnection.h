#pragma once

#include "DA/HTTPFetcher/HFRunLoop.h"
#include "DA/HTTPFetcher/HFURLRequest.h"
#include "DA/HTTPFetcher/HFURLResponse.h"
#include "Net/NRConnectionNumbers.h"
#include "Platform/VNError.h"

#include <QByteArray>
#include <QByteArrayList>
#include <atomic>
#include <memory>
#include <optional>

typedef void CURL;
struct curl_slist;
class HFURLConnection;

// A user name and password answering an authentication challenge.
struct HFCredential {
    QString user;
    QString password;
};

struct HFAuthenticationChallenge {
    int previousFailureCount = 0;
    bool isProxy = false;
    QString authenticationMethod;  // "Basic", "Digest" ...
    HFURLResponsePtr failureResponse;
};

// What a connection tells the fetcher, in this order: redirects (answered
// with the request to follow), challenges (answered with a credential, or
// none after the receiver has ended the fetch itself), the response, body
// pieces, upload progress, then the finish or the failure. Every call comes
// on the run loop the connection was given, never after cancel().
class HFURLConnectionDelegate {
public:
    virtual ~HFURLConnectionDelegate() = default;
    virtual std::optional<HFURLRequest> connectionWillSendRequest(HFURLConnection *connection, const HFURLRequest &proposed,
                                                                  const HFURLResponsePtr &redirectResponse) = 0;
    virtual std::optional<HFCredential> connectionDidReceiveChallenge(HFURLConnection *connection,
                                                                      const HFAuthenticationChallenge &challenge) = 0;
    virtual void connectionDidReceiveResponse(HFURLConnection *connection, const HFURLResponsePtr &response) = 0;
    virtual void connectionDidReceiveData(HFURLConnection *connection, const QByteArray &data) = 0;
    virtual void connectionDidSendBodyData(HFURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                           qint64 totalBytesExpectedToWrite) = 0;
    virtual void connectionDidFinishLoading(HFURLConnection *connection) = 0;
    virtual void connectionDidFail(HFURLConnection *connection, const VNErrorPtr &error) = 0;
};

// One request over libcurl on the request engine's network thread, with
// the events above. Redirects are not followed by libcurl: each one is put
// to the delegate, and only http and https targets are offered.
class HFURLConnection : public std::enable_shared_from_this<HFURLConnection> {
public:
    // With maximumBodyBytes (0: none), reading stops once the delegate has
    // been handed the piece that went past it: a body kept in memory needs
    // no more, and pieces queued for the delegate would be memory too.
    static std::shared_ptr<HFURLConnection> start(const HFURLRequest &request,
                                                  std::shared_ptr<HFURLConnectionDelegate> delegate, HFRunLoop loop,
                                                  qint64 maximumBodyBytes = 0);
    virtual ~HFURLConnection();

    // No event after this; the transfer is dropped on the network thread.
    virtual void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    HFURLRequest currentRequest() const { return m_request; }

    // Redirect limit: past it the fetch fails with "too many redirects".
    static constexpr int maximumRedirects = 16;

protected:
    // For a stand-in transfer (a test double) that makes its own events.
    HFURLConnection(const HFURLRequest &request, std::shared_ptr<HFURLConnectionDelegate> delegate, HFRunLoop loop,
                    qint64 maximumBodyBytes);

private:

    // Network thread.
    void startTransfer();
    bool configure(CURL *easy);
    void transferDone(CURL *easy, int result);
    void cleanupEasy();
    size_t onHeader(const char *data, size_t length);
    size_t onData(const char *data, size_t length);
    size_t onRead(char *buffer, size_t length);
    void onProgress(qint64 uploaded);
    HFURLResponsePtr makeResponse() const;

    // Delegate's loop.
    void deliver(std::function<void(HFURLConnectionDelegate &)> event);
    void answerRedirect(const HFURLResponsePtr &response, const QUrl &target);
    void answerChallenge(const HFURLResponsePtr &response);
    void finishDelegate();

    static size_t headerCallback(char *data, size_t size, size_t count, void *self);
    static size_t writeCallback(char *data, size_t size, size_t count, void *self);
    static size_t readCallback(char *data, size_t size, size_t count, void *self);
    static int progressCallback(void *self, long long dltotal, long long dlnow, long long ultotal, long long ulnow);

    HFURLRequest m_request;  // set on the delegate's loop before each transfer
    std::shared_ptr<HFURLConnectionDelegate> m_delegate;  // delegate's loop only
    HFRunLoop m_loop;
    std::atomic<bool> m_cancelled{false};

    // Network thread state of the transfer in flight.
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    curl_slist *m_connectTo = nullptr;
    char m_errorBuffer[256] = {};
    int m_status = 0;
    QByteArrayList m_rawHeaderLines;
    bool m_headersDone = false;
    bool m_discardBody = false;  // a redirect or challenge reply's body
    HFURLResponsePtr m_finalResponse;
    QByteArray m_body;
    qint64 m_bodyOffset = 0;
    const qint64 m_maximumBodyBytes;
    qint64 m_bodyBytesDelivered = 0;
    std::shared_ptr<HFInputStream> m_stream;
    qint64 m_expectedUpload = 0;
    qint64 m_reportedUpload = 0;
    bool m_readFailed = false;
    std::optional<HFCredential> m_credential;
    bool m_credentialIsProxy = false;
    int m_challengeFailures = 0;
    int m_redirects = 0;
    // The sockets the transfer opened; whether its connection was found.
    NRConnectionNumbers::Attempt m_connectionAttempt;
    bool m_connectionFound = false;
};
