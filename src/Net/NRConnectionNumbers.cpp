#include "Net/NRConnectionNumbers.h"

#include "Net/NRNetworkThread.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <type_traits>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

static_assert(std::is_same_v<curl_socket_t, int>, "sockets are kept as the system's descriptors");

namespace {

std::atomic<int> g_testLocalPort{0};

// The test resolve list every handle is given. Lists are never freed: a
// handle set up before a newer list may still read its own.
std::mutex g_testHostsMutex;
QStringList g_testHostEntries;
std::atomic<curl_slist *> g_testResolve{nullptr};

void bindToTestPort(int fd, int family, int port) {
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);  // the port may wait out an earlier close
    if (family == AF_INET6) {
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
        local.sin6_port = htons(uint16_t(port));
        ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    } else if (family == AF_INET) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(uint16_t(port));
        ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
}

curl_socket_t openNumberedSocket(void *attempt, curlsocktype, struct curl_sockaddr *address) {
    const curl_socket_t fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd == CURL_SOCKET_BAD)
        return fd;
    if (const int port = g_testLocalPort.load())
        bindToTestPort(fd, address->family, port);
    NRConnectionNumbers::shared().opened(fd, static_cast<NRConnectionNumbers::Attempt *>(attempt));
    return fd;
}

int closeNumberedSocket(void *, curl_socket_t fd) {
    NRConnectionNumbers::shared().closed(fd);
    return ::close(fd);
}

long portOf(const sockaddr_storage &address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return 0;
}

// As libcurl writes a connection's address ("127.0.0.1", "::1").
bool writeAddress(const sockaddr_storage &address, char *text, socklen_t room) {
    if (address.ss_family == AF_INET)
        return inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(address).sin_addr, text, room);
    if (address.ss_family == AF_INET6)
        return inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr, text, room);
    return false;
}

}  // namespace

NRConnectionNumbers &NRConnectionNumbers::shared() {
    // Lives to the end of the process, like the loop's connections.
    static auto *numbers = new NRConnectionNumbers();
    return *numbers;
}

bool NRConnectionNumbers::numberSockets(CURL *easy, Attempt *attempt) {
    attempt->count = 0;
    bool ok = curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &openNumberedSocket) == CURLE_OK;
    ok &= curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, static_cast<void *>(attempt)) == CURLE_OK;
    ok &= curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &closeNumberedSocket) == CURLE_OK;
    if (curl_slist *resolve = g_testResolve.load(std::memory_order_acquire))
        ok &= curl_easy_setopt(easy, CURLOPT_RESOLVE, resolve) == CURLE_OK;
    return ok;
}

int NRConnectionNumbers::opened(int fd, Attempt *attempt) {
    const int number = ++m_last;
    // A socket of this descriptor still listed was closed unseen.
    Socket *socket = find(fd);
    if (!socket)
        socket = &m_sockets.emplace_back();
    *socket = Socket{};
    socket->fd = fd;
    socket->number = number;
    if (attempt) {
        if (attempt->count == Attempt::room) {
            std::copy(attempt->sockets + 1, attempt->sockets + Attempt::room, attempt->sockets);
            std::copy(attempt->numbers + 1, attempt->numbers + Attempt::room, attempt->numbers);
            --attempt->count;
        }
        attempt->sockets[attempt->count] = fd;
        attempt->numbers[attempt->count] = number;
        ++attempt->count;
    }
    return number;
}

void NRConnectionNumbers::closed(int fd) {
    forget(fd, 0);
}

int NRConnectionNumbers::connectionInUse(CURL *easy, Attempt *attempt) {
    Ends ends;
    char *peerAddress = nullptr;
    curl_easy_getinfo(easy, CURLINFO_LOCAL_PORT, &ends.localPort);
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_PORT, &ends.peerPort);
    curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &peerAddress);
    if (peerAddress)
        ends.peerAddress = peerAddress;
    int number = attempt->count > 0 ? fromAttempt(attempt, ends) : 0;
    attempt->count = 0;
    if (!number)
        number = byEnds(ends);
    if (!number)
        number = ++m_last;  // a connection opened past these callbacks: it cannot be followed
    return number;
}

// A new connection: the socket of the attempt that connected. With one
// socket opened that is the one; with several, the one whose ends are the
// connection's.
int NRConnectionNumbers::fromAttempt(Attempt *attempt, const Ends &ends) {
    int winner = -1;
    for (int i = 0; i < attempt->count && winner < 0; ++i) {
        Socket *socket = find(attempt->sockets[i]);
        if (!socket || socket->number != attempt->numbers[i])
            continue;  // closed (and its descriptor perhaps given again)
        if (attempt->count == 1) {
            socket->located = true;
            socket->localPort = ends.localPort;
            socket->peerPort = ends.peerPort;
            std::snprintf(socket->peerAddress, sizeof socket->peerAddress, "%s", ends.peerAddress);
            winner = i;
        } else if (locate(*socket) && ends.match(*socket)) {
            winner = i;
        }
    }
    if (winner < 0)
        return 0;
    for (int i = 0; i < attempt->count; ++i)
        if (i != winner)
            forget(attempt->sockets[i], attempt->numbers[i]);
    return attempt->numbers[winner];
}

// A kept connection: the open socket with the connection's ends. Sockets
// whose ends were never read (their transfer ended before its reply) are
// read when no known one matches.
int NRConnectionNumbers::byEnds(const Ends &ends) {
    for (const Socket &socket : m_sockets)
        if (socket.located && ends.match(socket))
            return socket.number;
    for (Socket &socket : m_sockets)
        if (!socket.located && locate(socket) && ends.match(socket))
            return socket.number;
    return 0;
}

bool NRConnectionNumbers::Ends::match(const Socket &socket) const {
    return socket.localPort == localPort && socket.peerPort == peerPort && std::strcmp(socket.peerAddress, peerAddress) == 0;
}

// Reads a connected socket's ends.
bool NRConnectionNumbers::locate(Socket &socket) {
    sockaddr_storage local{}, peer{};
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(socket.fd, reinterpret_cast<sockaddr *>(&local), &localLength) != 0 ||
        ::getpeername(socket.fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0 ||
        !writeAddress(peer, socket.peerAddress, sizeof socket.peerAddress))
        return false;
    socket.localPort = portOf(local);
    socket.peerPort = portOf(peer);
    socket.located = true;
    return true;
}

NRConnectionNumbers::Socket *NRConnectionNumbers::find(int fd) {
    const auto it = std::find_if(m_sockets.begin(), m_sockets.end(), [fd](const Socket &s) { return s.fd == fd; });
    return it == m_sockets.end() ? nullptr : &*it;
}

// number 0: whatever number the socket has.
void NRConnectionNumbers::forget(int fd, int number) {
    Socket *socket = find(fd);
    if (!socket || (number && socket->number != number))
        return;
    *socket = m_sockets.back();
    m_sockets.pop_back();
}

int NRConnectionNumbers::lastNumber() {
    return shared().m_last.load();
}

std::vector<int> NRConnectionNumbers::knownNumbers() {
    auto read = [] {
        std::vector<int> numbers;
        for (const Socket &socket : shared().m_sockets)
            numbers.push_back(socket.number);
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    };
    NRNetworkThread &thread = NRNetworkThread::shared();
    if (thread.isCurrentThread())
        return read();
    auto answer = std::make_shared<std::promise<std::vector<int>>>();
    auto future = answer->get_future();
    thread.post([answer, read] { answer->set_value(read()); });
    return future.get();
}

void NRConnectionNumbers::setTestLocalPort(int port) {
    g_testLocalPort.store(port);
}

void NRConnectionNumbers::setTestHostAddresses(const QString &host, int port, const QStringList &addresses) {
    QStringList written;
    for (const QString &address : addresses)
        written << (address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']') : address);
    std::lock_guard lock(g_testHostsMutex);
    g_testHostEntries << QStringLiteral("%1:%2:%3").arg(host).arg(port).arg(written.join(QLatin1Char(',')));
    curl_slist *list = nullptr;
    for (const QString &entry : g_testHostEntries)
        list = curl_slist_append(list, entry.toUtf8().constData());
    g_testResolve.store(list, std::memory_order_release);
}
