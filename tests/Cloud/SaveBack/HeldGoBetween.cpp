#include "HeldGoBetween.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

void sendAll(int fd, const char *data, size_t length) {
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        data += sent;
        length -= size_t(sent);
    }
}

// Where a line starting with command starts in a piece the client sent, or npos.
size_t commandAt(const std::string &piece, const std::string &command) {
    for (size_t at = piece.find(command); at != std::string::npos; at = piece.find(command, at + 1))
        if (at == 0 || piece[at - 1] == '\n')
            return at;
    return std::string::npos;
}

struct Pair {
    int client = -1;
    int server = -1;
    bool clientOpen = true;
    bool holding = false;
    bool released = false;
    std::string held;
};

}  // namespace

HeldGoBetween::HeldGoBetween(int serverPort, std::string heldCommand)
    : m_serverPort(serverPort), m_heldCommand(std::move(heldCommand)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(m_listen, 16) == 0 &&
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

HeldGoBetween::~HeldGoBetween() {
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
}

void HeldGoBetween::run() {
    std::vector<Pair> pairs;
    char buffer[16384];
    while (!m_stop) {
        for (Pair &p : pairs) {
            if (p.holding && m_releaseAsked) {
                sendAll(p.server, p.held.data(), p.held.size());
                p.held.clear();
                p.holding = false;
                p.released = true;
                m_holding = false;
                if (!p.clientOpen)
                    ::shutdown(p.server, SHUT_WR);  // the line, then the end, as the client left it
            }
        }
        std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
        for (const Pair &p : pairs) {
            fds.push_back({p.clientOpen ? p.client : -1, POLLIN, 0});
            fds.push_back({p.server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 10) <= 0)
            continue;
        std::vector<Pair> kept;
        for (size_t i = 0; i < pairs.size(); ++i) {
            Pair p = pairs[i];
            bool closed = false;
            if (fds[1 + i * 2].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(p.client, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    p.clientOpen = false;
                    ::close(p.client);
                    if (p.holding)
                        m_clientGaveUp = true;  // the server still gets the line, on release
                    else
                        ::shutdown(p.server, SHUT_WR);  // the server ends the connection
                } else if (p.holding) {
                    p.held.append(buffer, size_t(n));
                } else {
                    std::string piece(buffer, size_t(n));
                    const size_t at = m_armed ? commandAt(piece, m_heldCommand) : std::string::npos;
                    if (at != std::string::npos) {
                        m_armed = false;
                        sendAll(p.server, piece.data(), at);
                        p.held = piece.substr(at);
                        p.holding = true;
                        m_holding = true;
                    } else {
                        sendAll(p.server, piece.data(), piece.size());
                    }
                }
            }
            if (!closed && (fds[2 + i * 2].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ::recv(p.server, buffer, sizeof buffer, 0);
                if (p.released)
                    m_serverDone = true;
                if (n <= 0)
                    closed = true;
                else if (p.clientOpen)
                    sendAll(p.client, buffer, size_t(n));
            }
            if (closed) {
                if (p.clientOpen)
                    ::close(p.client);
                ::close(p.server);
            } else {
                kept.push_back(p);
            }
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = client >= 0 ? connectTo(m_serverPort) : -1;
            if (server >= 0)
                kept.push_back({client, server});
            else if (client >= 0)
                ::close(client);
        }
        pairs.swap(kept);
    }
    for (const Pair &p : pairs) {
        if (p.clientOpen)
            ::close(p.client);
        ::close(p.server);
    }
}
