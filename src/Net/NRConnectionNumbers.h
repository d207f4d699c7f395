#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

typedef void CURL;

// The numbers of the connections of the network thread's loop. Every client
// of the loop (requests and the data-API fetchers) shares libcurl's
// connection cache, so every handle it runs opens and closes its sockets
// here: a socket gets the next number when it is opened and loses it when
// it is closed, whichever transfer closes it. A transfer learns the number
// of the connection it runs on once its reply begins, while the connection
// is surely open: by the socket it opened itself (the one that connected,
// when a connect tried several addresses), else by the connection's two
// ends (a kept connection). A local port alone names nothing: the system
// gives one port to connections to different servers. Network thread only,
// except where said.
class NRConnectionNumbers {
public:
    // The sockets one attempt of a transfer opened, kept by the transfer's
    // owner (no allocation of its own per connection).
    struct Attempt {
        static constexpr int room = 4;  // with more addresses tried, the last ones
        int sockets[room];
        int numbers[room];
        int count = 0;
    };

    static NRConnectionNumbers &shared();

    // Gives the handle the socket callbacks; the attempt (cleared here)
    // collects the sockets the transfer opens.
    static bool numberSockets(CURL *easy, Attempt *attempt);

    // The number of the connection the transfer runs on now, asked when its
    // reply begins. The attempt's other sockets are forgotten: they lost the
    // connect, and libcurl closes a losing one without the close callback.
    int connectionInUse(CURL *easy, Attempt *attempt);

    // From the socket callbacks.
    int opened(int fd, Attempt *attempt);
    void closed(int fd);

    // For tests, from any thread: the last number given, and the numbers of
    // the sockets open now (asked of the network thread).
    static int lastNumber();
    static std::vector<int> knownNumbers();
    // Test seams: sockets opened from now on are bound to this local port
    // (0: the system's choice); the host name resolves to these addresses
    // for that port, for every handle of the loop.
    static void setTestLocalPort(int port);
    static void setTestHostAddresses(const QString &host, int port, const QStringList &addresses);

private:
    NRConnectionNumbers() = default;

    struct Socket {
        int fd = -1;
        int number = 0;
        // The connection's ends, once known.
        bool located = false;
        long localPort = 0;
        long peerPort = 0;
        char peerAddress[48] = {};
    };
    // Where a transfer's connection goes, as libcurl tells it.
    struct Ends {
        long localPort = 0;
        long peerPort = 0;
        const char *peerAddress = "";
        bool match(const Socket &socket) const;
    };

    Socket *find(int fd);
    void forget(int fd, int number);
    int fromAttempt(Attempt *attempt, const Ends &ends);
    int byEnds(const Ends &ends);
    static bool locate(Socket &socket);

    std::vector<Socket> m_sockets;
    std::atomic<int> m_last{0};
};
