// Connection numbers of the request engine while the data-API fetchers share
// its connections: a number names one connection, from the socket that
// connected until that socket closes, whoever opened or closed it.
#include "DA/HTTPFetcher/FetchTestSupport.h"
#include "Net/NRConnectionNumbers.h"
#include "Net/NetTestSupport.h"

#include <QUuid>

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool known(int number) {
    const std::vector<int> numbers = NRConnectionNumbers::knownNumbers();
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

// A host name of its own for each run, mapped to the loopback: no earlier
// connection or reply terms of the engine belong to it.
QString freshHost(const char *role) {
    return QStringLiteral("%1-%2.varnello.test").arg(QLatin1String(role), QUuid::createUuid().toString(QUuid::Id128));
}

std::shared_ptr<NRHTTPRequest> get(const QString &url) {
    auto r = NRHTTPRequest::requestWithURL(QUrl(url));
    EXPECT_EQ(NetTest::run(r)->finished, 1) << url.toStdString();
    return r;
}

// The fetch's reply (the fake's echo, for an /echo URL).
QJsonObject fetch(const QString &url) {
    auto result = FetchTest::run(HFHTTPFetcher::fetcherWithURL(QUrl(url)));
    EXPECT_FALSE(result->error) << url.toStdString();
    return FetchTest::json(result->data);
}

int freeLocalPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

struct LocalPortForNewSockets {
    explicit LocalPortForNewSockets(int port) { NRConnectionNumbers::setTestLocalPort(port); }
    ~LocalPortForNewSockets() { NRConnectionNumbers::setTestLocalPort(0); }
};

// The system gives one local port to connections to different servers: a
// request's connection to one server, closed, then a data-API fetch's
// connection to another from the same port, taken over by a request that
// the server closes after its reply. That request's number is the fetch's
// connection's, not the first one's.
void aLocalPortGivenAgainNamesAnotherConnection() {
    const QString first = freshHost("first"), second = freshHost("second");
    NRHTTPRequest::setTestHostsMappedToLoopback({first, second});
    const int port = freeLocalPort();
    std::shared_ptr<NRHTTPRequest> closed;
    {
        LocalPortForNewSockets sameLocalPort(port);
        closed = get(QStringLiteral("http://%1:%2/echo?close=1").arg(first).arg(NetTest::fake(QString()).port()));
        EXPECT_EQ(NetTest::echoOf(closed)[QStringLiteral("client_port")].toInt(), port);
        // Else the system gave the fetch another port, and nothing below is tested.
        EXPECT_EQ(fetch(QStringLiteral("http://%1:%2/echo").arg(second).arg(FetchTest::port()))[QStringLiteral("client_port")]
                      .toInt(),
                  port);
    }
    auto takenOver = get(QStringLiteral("http://%1:%2/echo?close=1").arg(second).arg(FetchTest::port()));
    EXPECT_EQ(takenOver->newConnectionCount(), 0);  // the fetch's connection
    EXPECT_GT(takenOver->connectionID(), 0);
    EXPECT_NE(takenOver->connectionID(), closed->connectionID());
}

// A data-API fetch's connection keeps one number for the requests that take
// it over; when a fetch closes it the number is forgotten, and the table is
// no larger than before.
void aFetchsConnectionIsForgottenWhenAFetchClosesIt() {
    const QString host = freshHost("fetch");
    NRHTTPRequest::setTestHostsMappedToLoopback({host});
    const QString base = QStringLiteral("http://%1:%2/echo").arg(host).arg(NetTest::fake(QString()).port());
    const size_t before = NRConnectionNumbers::knownNumbers().size();
    fetch(base);
    auto once = get(base + QStringLiteral("?n=1"));
    auto twice = get(base + QStringLiteral("?n=2"));
    EXPECT_EQ(once->newConnectionCount() + twice->newConnectionCount(), 0);  // both on the fetch's connection
    EXPECT_EQ(once->connectionID(), twice->connectionID());
    fetch(base + QStringLiteral("?close=1"));
    EXPECT_FALSE(known(once->connectionID()));
    EXPECT_LE(NRConnectionNumbers::knownNumbers().size(), before);
    auto after = get(base + QStringLiteral("?n=3"));
    EXPECT_EQ(after->newConnectionCount(), 1);
    EXPECT_NE(after->connectionID(), once->connectionID());
}

// One port listened on for both address families, each listener's queue
// full: a connect to either waits, its first SYN unanswered, until a queued
// connection is taken off.
class HeldPort {
public:
    HeldPort() {
        for (int tries = 0; tries < 20 && !m_port; ++tries)
            open();
    }
    ~HeldPort() {
        for (int fd : {m_listener6, m_listener4, m_filler6, m_filler4, m_accepted})
            if (fd >= 0)
                ::close(fd);
    }
    int port() const { return m_port; }

    // Frees the IPv6 queue, then answers the one request that comes there
    // and closes the connection.
    bool answerOnIPv6() {
        m_accepted = acceptWithin(m_listener6, 1000);  // the filler
        ::close(m_accepted);
        m_accepted = acceptWithin(m_listener6, 15000);
        if (m_accepted < 0)
            return false;
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n")) {
            pollfd readable{m_accepted, POLLIN, 0};
            if (::poll(&readable, 1, 15000) != 1)
                return false;
            const ssize_t n = ::recv(m_accepted, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            request.append(buffer, n);
        }
        const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        return ::send(m_accepted, reply, sizeof reply - 1, MSG_NOSIGNAL) == ssize_t(sizeof reply - 1);
    }

private:
    void open() {
        m_listener6 = ::socket(AF_INET6, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(m_listener6, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        sockaddr_in6 six{};
        six.sin6_family = AF_INET6;
        six.sin6_addr = in6addr_loopback;
        socklen_t length = sizeof six;
        if (::bind(m_listener6, reinterpret_cast<sockaddr *>(&six), sizeof six) != 0 ||
            ::getsockname(m_listener6, reinterpret_cast<sockaddr *>(&six), &length) != 0) {
            ::close(m_listener6);
            m_listener6 = -1;
            return;
        }
        m_listener4 = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in four{};
        four.sin_family = AF_INET;
        four.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        four.sin_port = six.sin6_port;
        if (::bind(m_listener4, reinterpret_cast<sockaddr *>(&four), sizeof four) != 0) {
            ::close(m_listener6);
            ::close(m_listener4);
            m_listener6 = m_listener4 = -1;
            return;  // that port is taken for IPv4: another one
        }
        ::listen(m_listener6, 0);
        ::listen(m_listener4, 0);
        m_filler6 = ::socket(AF_INET6, SOCK_STREAM, 0);
        m_filler4 = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(m_filler6, reinterpret_cast<sockaddr *>(&six), sizeof six) == 0 &&
            ::connect(m_filler4, reinterpret_cast<sockaddr *>(&four), sizeof four) == 0)
            m_port = ntohs(six.sin6_port);
    }

    static int acceptWithin(int listener, int milliseconds) {
        pollfd readable{listener, POLLIN, 0};
        return ::poll(&readable, 1, milliseconds) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
    }

    int m_port = 0;
    int m_listener6 = -1, m_listener4 = -1, m_filler6 = -1, m_filler4 = -1, m_accepted = -1;
};

// A host of two addresses, ::1 first: the IPv6 connect waits, so the IPv4
// one starts after it; then the IPv6 one connects and the IPv4 one loses.
// The request, closed after its reply, has the number of the socket that
// connected (the first opened), and the losing one's is forgotten.
void aConnectThatTriedTwoAddressesKeepsTheNumberOfTheOneThatConnected() {
    HeldPort held;
    if (!held.port()) {
        ADD_FAILURE() << "no port listened on at ::1 and 127.0.0.1";
        return;
    }
    const QString host = freshHost("two");
    NRConnectionNumbers::setTestHostAddresses(host, held.port(), {QStringLiteral("::1"), QStringLiteral("127.0.0.1")});
    const int before = NRConnectionNumbers::lastNumber();
    auto r = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://%1:%2/").arg(host).arg(held.port())));
    auto outcome = std::make_shared<NetTest::Outcome>();
    r->setCompletionBlock([outcome] { ++outcome->finished; });
    r->setFailedBlock([outcome] { ++outcome->failed; });
    r->startAsynchronous();
    // Both connects have begun before either can end.
    EXPECT_TRUE(VNTest::waitUntil([&] { return NRConnectionNumbers::lastNumber() >= before + 2; }));
    EXPECT_TRUE(held.answerOnIPv6());
    EXPECT_TRUE(VNTest::waitUntil([&] { return outcome->done(); }, 20000));
    EXPECT_EQ(outcome->finished, 1);
    EXPECT_EQ(NRConnectionNumbers::lastNumber(), before + 2);  // nothing else opened meanwhile
    EXPECT_EQ(r->connectionID(), before + 1);
    EXPECT_FALSE(known(before + 1));  // closed after the reply
    EXPECT_FALSE(known(before + 2));  // lost the connect
}

}  // namespace

TEST(ConnectionNumbers, ANumberNamesOneConnectionFromItsConnectToItsClose) {
    NetTest::forgetProxySettings();
    const struct {
        const char *name;
        void (*check)();
    } rows[] = {
        {"a local port given again for another server", aLocalPortGivenAgainNamesAnotherConnection},
        {"a data-API fetch's connection, closed by a fetch", aFetchsConnectionIsForgottenWhenAFetchClosesIt},
        {"a connect that tried two addresses", aConnectThatTriedTwoAddressesKeepsTheNumberOfTheOneThatConnected},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        row.check();
    }
    NRHTTPRequest::setTestHostsMappedToLoopback({});
}
